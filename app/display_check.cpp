#include "app/display_check.h"

#include <cstdlib>

#ifdef TARNBY_HAVE_XCB
#include <xcb/xcb.h>
#endif

#ifdef TARNBY_HAVE_XCB
static xcb_connection_t* held_probe = nullptr;
#endif

static std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::optional<std::string> display_unavailable_reason()
{
    const std::string platform = environment("QT_QPA_PLATFORM");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0)
        return std::nullopt;
    const std::string display = environment("DISPLAY");
    if (display.empty()) {
        if (platform.empty() && !environment("WAYLAND_DISPLAY").empty())
            return std::nullopt;
        return std::string("no display (DISPLAY is not set)");
    }
#ifdef TARNBY_HAVE_XCB
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return "cannot open display \"" + display + "\"";
    }
    // Kept open until the application has its own connection: an X server
    // that resets when its last client leaves (a fresh Xvfb) would refuse
    // the application's connection while it resets.
    release_display_probe();
    held_probe = connection;
#endif
    return std::nullopt;
}

void release_display_probe()
{
#ifdef TARNBY_HAVE_XCB
    if (held_probe)
        xcb_disconnect(held_probe);
    held_probe = nullptr;
#endif
}

bool x_server_probed()
{
#ifdef TARNBY_HAVE_XCB
    return true;
#else
    return false;
#endif
}

std::string no_display_message(const std::string& reason, const std::string& program)
{
    return "tarnby: " + reason + "; the window needs an X display. Without one, run it under Xvfb, e.g. xvfb-run " +
           program;
}
