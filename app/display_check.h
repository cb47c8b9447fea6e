// Tells before the application object exists whether a window can be shown
// at all, so a missing display is one clear line rather than the platform
// plugin's abort.
#pragma once

#include <optional>
#include <string>

// Why no window can be opened (no DISPLAY, X server unreachable), or nothing
// when one can or when a non-X platform (offscreen, Wayland...) is chosen.
std::optional<std::string> display_unavailable_reason();

// The X server asked above is kept connected until this is called, once the
// application object holds its own connection (TarnbyApplication does).
void release_display_probe();

// Whether the X server named by DISPLAY is actually asked (built with xcb);
// otherwise only a missing DISPLAY is caught here.
bool x_server_probed();

// The whole line to print: the reason and how to run under Xvfb.
std::string no_display_message(const std::string& reason, const std::string& program);
