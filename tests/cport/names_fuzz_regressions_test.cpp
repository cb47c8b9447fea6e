// Texts the fuzzer found mishandled by the setting-name conversions; each
// input is also kept in fuzz/regressions/cport_names/.
#include "cport/internal.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarnby;

namespace {

using namespace tarnby::detail;

// "#" must be followed by one 32-bit decimal integer: a sign, then digits.
// Two signs make no number, so the character is 0 (sign_after_plus), and so
// does a number beyond 32 bits, rather than wrapping around.
TEST(SettingNamesFuzzRegressions, TwoSignsAreNoNumber)
{
    const struct {
        std::string text;
        int code;
    } cases[] = {
        {"#+-1", 0},        {"#+-255", 0},       {"#+-", 0},         {"#-+1", 0},
        {"#++1", 0},        {"#--1", 0},         {"#+1", 1},         {"#-1", 255},
        {"#+", 0},          {"#-", 0},           {"#4294967297", 0}, {"#2147483648", 0},
        {"#2147483647", 255}, {"#-2147483648", 0}, {"#-2147483649", 0}, {"#+2147483647", 255},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<unsigned char>(TextToChar(c.text)), c.code) << c.text;
}

}  // namespace
