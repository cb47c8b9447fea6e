// Whether a program's window can be shown at all, asked before the
// application object exists: a missing display is then one clear line and
// exit status 1, not the platform plugin's abort. The simulator and the
// tools with a window share it.
#pragma once

#include <optional>
#include <string>

namespace display_probe {

// Why no window can be opened (DISPLAY not set, X server unreachable), or
// nothing when one can or a platform other than X (offscreen, Wayland) is
// chosen.
std::optional<std::string> Unavailable();

// The probe's connection to the X server is held until this is called, once
// the application has its own: an X server that resets when its last client
// leaves (a fresh Xvfb) would refuse the application while it resets.
void Release();

// Whether the X server named by DISPLAY is actually asked (built with xcb);
// otherwise only a missing DISPLAY is caught here.
bool XServerProbed();

// "NAME: REASON; the window needs a display. Without one, run it under Xvfb,
// e.g. xvfb-run -a COMMAND" and, when given, "; HINT".
std::string Message(const std::string& name, const std::string& reason, const std::string& command,
                    const std::string& hint = {});

} // namespace display_probe
