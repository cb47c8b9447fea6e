// Shared inside the component only.
#pragma once

#include "cport/cport.h"

namespace cport_internal {

// The one place a platform failure becomes an exception: a non-zero result
// of a device operation raises EComPort with the operation's code and the
// platform error number.
inline void Check(int result, int code)
{
    if (result != 0)
        throw EComPort(code, result);
}

// Window message that carries one event to the notification window.
constexpr uint32_t kComEventMessage = 1025;

} // namespace cport_internal
