// The settings-file engine: text in, text out; and replacing files whole.
#include "tarnby/cport/extras/ini_file.h"
#include "extras_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <strings.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnby;

namespace {

TEST(IniDocument, ReadsAsPeopleWriteFiles)
{
    const std::string text = "; settings\n"
                             "orphan=1\n"
                             "[Port]\n"
                             "  BaudRate = 19200  \n"
                             "Quoted=\" padded \"\n"
                             "Single='x'\n"
                             "Half=\"open\n"
                             "Empty=\n"
                             "# Commented=yes\n"
                             "not a key line\n"
                             "list=a,b,c\n"
                             "dup=first\n"
                             "DUP=second\n"
                             "[ port ]\n"
                             "late=1\n"
                             "[Other]\r\n"
                             "BaudRate=300\r\n";
    TIniDocument doc(text);
    struct Case {
        const char* section;
        const char* key;
        const char* value; // nullptr: not found
    };
    const Case cases[] = {
        {"port", "baudrate", "19200"}, {"PORT", "Quoted", " padded "}, {"Port", "Single", "x"},
        {"Port", "Half", "\"open"},    {"Port", "Empty", ""},          {"Port", "Commented", nullptr},
        {"Port", "# Commented", nullptr}, {"Port", "list", "a,b,c"},   {"Port", "dup", "first"},
        {"Port", "late", nullptr},     {"other", "BaudRate", "300"},   {"", "orphan", nullptr},
        {"Missing", "BaudRate", nullptr},
    };
    for (const Case& c : cases) {
        std::string value;
        bool found = doc.Find(c.section, c.key, value);
        EXPECT_EQ(found, c.value != nullptr) << c.section << "/" << c.key;
        if (found && c.value) {
            EXPECT_EQ(value, c.value) << c.section << "/" << c.key;
        }
    }
    EXPECT_EQ(doc.ReadString("Port", "nothing", "fallback"), "fallback");
    EXPECT_EQ(doc.Text(), text);
    EXPECT_EQ(doc.ReadSection("port"),
              (std::vector<std::string>{"BaudRate", "Quoted", "Single", "Half", "Empty", "list", "dup"}));
}

TEST(IniDocument, WritesTouchOnlyTheirOwnLine)
{
    struct Case {
        const char* what;
        std::string before, section, key, value, after;
    };
    const Case cases[] = {
        {"new file", "", "ComPort1", "Port", "COM3", "[ComPort1]\nPort=COM3\n"},
        {"new section after a blank line", "[A]\nx=1\n", "B", "y", "2", "[A]\nx=1\n\n[B]\ny=2\n"},
        {"no final line end", "[A]\nx=1", "A", "y", "2", "[A]\nx=1\ny=2\n"},
        {"value replaced, spelling and spacing kept", "; c\n[a]\nKey = old  \n", "A", "key", "new",
         "; c\n[a]\nKey = new\n"},
        {"key added before the blank line of its section", "[A]\nx=1\n\n[B]\ny=2\n", "a", "z", "3",
         "[A]\nx=1\nz=3\n\n[B]\ny=2\n"},
        {"key added to an empty section", "[A]\n[B]\n", "A", "k", "v", "[A]\nk=v\n[B]\n"},
        {"CR LF kept and used", "[A]\r\nx=1\r\n", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n"},
        {"byte-order mark kept", "\xEF\xBB\xBF[A]\n", "A", "k", "v", "\xEF\xBB\xBF[A]\nk=v\n"},
        {"comment-like key stays a comment", "[A]\n;k=1\n", "A", "k", "2", "[A]\n;k=1\nk=2\n"},
        {"blanks kept by quoting", "", "A", "k", " x ", "[A]\nk=\" x \"\n"},
        {"quotes kept by quoting", "", "A", "k", "\"q\"", "[A]\nk=\"\"q\"\"\n"},
        {"a comma is just a character", "", "A", "EventChar", ",", "[A]\nEventChar=,\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IniWriteString(c.before, c.section, c.key, c.value), c.after) << c.what;
}

TEST(IniDocument, RefusesWhatCannotReadBack)
{
    const std::tuple<const char*, const char*, std::string> bad[] = {
        {"A", "k", "two\nlines"}, {"A", "k", std::string("zero\0byte", 9)}, {"A", "k=x", "v"},
        {"A", "[k", "v"},         {"A", ";k", "v"},                         {"A", " k", "v"},
        {"A", "", "v"},           {"A]", "k", "v"},                         {"", "k", "v"},
    };
    for (const auto& [section, key, value] : bad)
        EXPECT_THROW(IniWriteString("", section, key, value), EIniError) << section << "/" << key;
}

// Writes to random files: every value reads back exactly, and every other
// key keeps its value.
TEST(IniDocument, RandomWritesReadBackAndLeaveTheRestAlone)
{
    std::mt19937 random(11);
    const char alphabet[] = " \t=[];#\"'abcAB\r\n,x";
    auto text_of = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s += alphabet[random() % (sizeof alphabet - 1)];
        return s;
    };
    const char* const sections[] = {"S1", "s1", "Other", "X y"};
    const char* const keys[] = {"Key", "key", "Port", "a.b"};
    for (int round = 0; round < 500; ++round) {
        TIniDocument doc(text_of(random() % 120));
        // What every (section, key) reads before the write.
        std::vector<std::pair<bool, std::string>> before;
        for (const char* s : sections)
            for (const char* k : keys) {
                std::string v;
                bool found = doc.Find(s, k, v);
                before.emplace_back(found, v);
            }
        std::string value = text_of(random() % 10);
        std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
        const char* section = sections[random() % 4];
        const char* key = keys[random() % 4];
        doc.WriteString(section, key, value);
        TIniDocument again(doc.Text());
        ASSERT_EQ(again.ReadString(section, key, "<none>"), value) << testing::PrintToString(doc.Text());
        size_t i = 0;
        for (const char* s : sections)
            for (const char* k : keys) {
                std::string v;
                bool found = again.Find(s, k, v);
                bool same_key = std::string_view(s).size() == std::string_view(section).size() &&
                                strcasecmp(s, section) == 0 && strcasecmp(k, key) == 0;
                if (!same_key) {
                    ASSERT_EQ(found, before[i].first) << s << "/" << k;
                    ASSERT_EQ(v, before[i].second) << s << "/" << k;
                }
                ++i;
            }
    }
}

TEST(IniDocument, IntegersDecimalOrHexadecimal)
{
    const std::pair<const char*, std::optional<int32_t>> cases[] = {
        {"2048", 2048},       {"0x800", 2048},       {"0X1f", 31},          {"-1", -1},
        {"+7", 7},            {"0xFFFFFFFF", -1},    {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"2147483648", {}},   {"0x100000000", {}},   {"0x", {}},            {"12abc", {}},
        {"abc", {}},          {"", {}},              {"++1", {}},           {"- 1", {}},
    };
    for (const auto& [text, expected] : cases) {
        int32_t value = 12345;
        bool ok = ParseIniInteger(text, value);
        EXPECT_EQ(ok, expected.has_value()) << text;
        if (ok && expected) {
            EXPECT_EQ(value, *expected) << text;
        }
    }
}

TEST(IniFile, ReplacesTheFileWholeKeepingModeAndLink)
{
    TempFolder folder;
    const std::string real = folder.File("real.ini");
    const std::string link = folder.File("link.ini");
    WriteWholeFile(real, "; mine\n[A]\nx=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);

    TIniFile ini(link);
    EXPECT_EQ(ini.ReadInteger("a", "X", 0), 1);
    ini.WriteInteger("A", "y", 2);
    // Someone else's change between reading and writing survives.
    WriteWholeFile(real, "; mine\n[A]\nx=1\n[B]\nz=3\n");
    ini.UpdateFile();

    EXPECT_EQ(ReadWholeFile(real), "; mine\n[A]\nx=1\ny=2\n[B]\nz=3\n");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A full disk (here: a file-size limit) fails the write and leaves the old
// file as it was, with no temporary file beside it.
TEST(IniFile, AFailedWriteLeavesTheOldFile)
{
    TempFolder folder;
    const std::string path = folder.File("port.ini");
    const std::string old_text = "[ComPort1]\nPort=COM3\n";
    WriteWholeFile(path, old_text);

    TIniFile ini(path);
    ini.WriteString("ComPort1", "Port", std::string(4000, 'p'));
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    ::getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(ini.UpdateFile(), EIniError);
    ::setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(ReadWholeFile(path), old_text);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 1);
}

TEST(IniFile, AFolderIsNoSettingsFile)
{
    TempFolder folder;
    EXPECT_THROW(TIniFile{folder.Path()}, EIniError);
    TIniFile missing(folder.File("new.ini"));
    EXPECT_EQ(missing.ReadString("A", "k", "d"), "d");
}

} // namespace
