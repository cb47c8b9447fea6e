// What the window shows when Connect fails: the serial component's own
// message first (its text and code, as they have always read), then what a
// person at a Linux machine can act on: which device could not be opened and
// why, in the system's words, and what to do about it, including how to
// point the program at another device (TARNBY_PORT).
#pragma once

#include <string>

namespace tarnby {
class EComPort;
}

// port is the port name the window was set up with ("COM3", or a path).
std::string connect_error_text(const tarnby::EComPort& error, const std::string& port);

// Any other failure of the port (a write to a line that has gone): the
// component's message, then the device and the system's reason.
std::string serial_error_text(const tarnby::EComPort& error);
