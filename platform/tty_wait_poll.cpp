// The tty wait (os_hooks.h) by poll itself, for the systems whose poll
// works on terminal devices: Linux and the BSDs. macOS's poll refuses
// devices (POLLNVAL), so its hooks wait with select instead.
#include "platform/os_hooks.h"

namespace tarnby::os {

int WaitTty(pollfd* fds, nfds_t count, int timeout_ms) { return ::poll(fds, count, timeout_ms); }

} // namespace tarnby::os
