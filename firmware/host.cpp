#include "firmware/host.h"

#include <cstdio>
#include <cstdlib>

static Host* installed_host = nullptr;

void set_host(Host* h)
{
    installed_host = h;
}

Host& host()
{
    if (!installed_host) {
        // A firmware routine ran before the window (or a test) installed itself:
        // a programming error, not something to limp on from.
        std::fputs("tarnby: firmware used before a host was installed\n", stderr);
        std::abort();
    }
    return *installed_host;
}
