// The list of ports with what each one is; the system's hooks read it.
#include "tarnby/cport/port_info.h"
#include "tarnby/cport/cport.h"
#include "platform/os_hooks.h"

#include <algorithm>

namespace tarnby {

namespace {

// Digits compare as numbers, so ttyS2 comes before ttyS10 and ttyUSB9
// before ttyUSB10.
bool NaturallyBefore(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        bool digit_a = a[i] >= '0' && a[i] <= '9', digit_b = b[j] >= '0' && b[j] <= '9';
        if (digit_a && digit_b) {
            size_t end_a = a.find_first_not_of("0123456789", i), end_b = b.find_first_not_of("0123456789", j);
            if (end_a == std::string::npos)
                end_a = a.size();
            if (end_b == std::string::npos)
                end_b = b.size();
            // Leading zeros do not make a number larger.
            size_t start_a = std::min(a.find_first_not_of('0', i), end_a);
            size_t start_b = std::min(b.find_first_not_of('0', j), end_b);
            size_t length_a = end_a - start_a, length_b = end_b - start_b;
            if (length_a != length_b)
                return length_a < length_b;
            int order = a.compare(start_a, length_a, b, start_b, length_b);
            if (order != 0)
                return order < 0;
            i = end_a;
            j = end_b;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

} // namespace

std::vector<TComPortInfo> ListComPorts() { return ListComPorts(TComPortRoots{}); }

std::vector<TComPortInfo> ListComPorts(const TComPortRoots& roots)
{
    std::vector<TComPortInfo> ports;
    if (int error = os::ListPortInfo(roots, ports))
        throw EComPort(errEnumPorts, error);
    std::sort(ports.begin(), ports.end(),
              [](const TComPortInfo& a, const TComPortInfo& b) { return NaturallyBefore(a.Port, b.Port); });
    return ports;
}

} // namespace tarnby
