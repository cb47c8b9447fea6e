#include "display_probe.h"

#include <cstdlib>

#ifdef TARNBY_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace display_probe {

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

#ifdef TARNBY_HAVE_XCB
xcb_connection_t* held = nullptr;
#endif

} // namespace

std::optional<std::string> Unavailable()
{
    const std::string platform = Environment("QT_QPA_PLATFORM");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0)
        return std::nullopt;
    const std::string display = Environment("DISPLAY");
    if (display.empty()) {
        if (platform.empty() && !Environment("WAYLAND_DISPLAY").empty())
            return std::nullopt;
        return std::string("no display (DISPLAY is not set)");
    }
#ifdef TARNBY_HAVE_XCB
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        xcb_disconnect(connection);
        return "cannot open display \"" + display + "\"";
    }
    Release();
    held = connection;
#endif
    return std::nullopt;
}

void Release()
{
#ifdef TARNBY_HAVE_XCB
    if (held)
        xcb_disconnect(held);
    held = nullptr;
#endif
}

bool XServerProbed()
{
#ifdef TARNBY_HAVE_XCB
    return true;
#else
    return false;
#endif
}

std::string Message(const std::string& name, const std::string& reason, const std::string& command,
                    const std::string& hint)
{
    std::string line = name + ": " + reason +
                       "; the window needs a display. Without one, run it under Xvfb, e.g. xvfb-run -a " + command;
    if (!hint.empty())
        line += "; " + hint;
    return line;
}

} // namespace display_probe
