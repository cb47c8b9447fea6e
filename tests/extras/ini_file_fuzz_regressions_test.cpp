// Settings files the fuzzer found mishandled by the INI writer; each input is
// also kept in fuzz/regressions/ini_file/.
#include "tarnby/cport/extras/ini_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace tarnby;

namespace {

// A last line without a line end that ends in a carriage return: a write that
// adds a line after it must not turn that carriage return into half of a
// line end, which would take it from the line (cr_at_end_kept_in_value,
// cr_alone_at_end).
TEST(IniFileFuzzRegressions, CarriageReturnAtTheEndStaysOnItsLine)
{
    const struct {
        std::string text, section, key;
        std::string written;
    } cases[] = {
        // A new key after the section's last line.
        {"[s]\nk=1\r", "s", "new", "[s]\nk=1\r\r\nnew=v\n"},
        // A new section after the last line.
        {"[s]\nk=1\r", "t", "new", "[s]\nk=1\r\r\n\n[t]\nnew=v\n"},
        {"\r", "t", "new", "\r\r\n\n[t]\nnew=v\n"},
        // A CR LF file keeps its line ends.
        {"[s]\r\nk=1\r", "s", "new", "[s]\r\nk=1\r\r\nnew=v\r\n"},
        // Without the carriage return nothing changes: the file's line end.
        {"[s]\nk=1", "s", "new", "[s]\nk=1\nnew=v\n"},
    };
    for (const auto& c : cases) {
        const std::string before = IniReadString(c.text, "s", "k", "missing");
        const std::string written = IniWriteString(c.text, c.section, c.key, "v");
        EXPECT_EQ(written, c.written) << testing::PrintToString(c.text);
        EXPECT_EQ(IniReadString(written, "s", "k", "missing"), before) << testing::PrintToString(c.text);
        EXPECT_EQ(IniReadString(written, c.section, c.key, "missing"), "v") << testing::PrintToString(c.text);
        EXPECT_EQ(TIniDocument(written).Text(), written);
    }
}

// One sign at most: "+" followed by "-" is no number (plus_then_minus).
TEST(IniFileFuzzRegressions, TwoSignsAreNoNumber)
{
    for (const char* text : {"+-5", "+-0", "+-2147483648", "-+5", "+-"}) {
        int32_t value = 12345;
        EXPECT_FALSE(ParseIniInteger(text, value)) << text;
        EXPECT_EQ(value, 12345) << text;
    }
    int32_t value = 0;
    EXPECT_TRUE(ParseIniInteger("+5", value));
    EXPECT_EQ(value, 5);
    EXPECT_TRUE(ParseIniInteger("-5", value));
    EXPECT_EQ(value, -5);
}

} // namespace
