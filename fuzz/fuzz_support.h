// What the fuzz harnesses share.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// The text with every byte outside plain ASCII, and the quote and the
// backslash, written as \xNN: a failing input reads back in a report.
inline std::string printable(std::string_view text)
{
    std::string out;
    char hex[8];
    for (unsigned char c : text) {
        if (c >= 32 && c < 127 && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}
