// The VT52 and VT100 parsers and generators: bytes in, events out.
#include "tarnby/cport/extras/escape_codes.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

using namespace tarnby;

namespace {

std::unique_ptr<TEscapeCodes> Make(const std::string& set)
{
    if (set == "vt52")
        return std::make_unique<TEscapeCodesVT52>();
    return std::make_unique<TEscapeCodesVT100>();
}

// Plain characters as themselves, codes as Name(param,param); the caller's
// duty of emptying the parameters after each code is done here.
std::string Feed(TEscapeCodes& codes, const std::string& bytes)
{
    std::string events;
    for (char c : bytes) {
        switch (codes.ProcessChar(c)) {
        case erChar:
            events += codes.Character();
            break;
        case erCode: {
            events += std::string("<") + EscapeCodeName(codes.Code());
            for (int i = 0; i < codes.Params().Count(); ++i)
                events += (i == 0 ? " " : ",") + codes.Params().Strings(i);
            events += ">";
            codes.Params().Clear();
            break;
        }
        case erNothing:
            break;
        }
    }
    return events;
}

std::string E(const std::string& rest) { return "\x1b" + rest; }

struct ParseCase {
    const char* set;
    std::string input;
    std::string events;
};

TEST(EscapeCodes, ParsesEachSequenceToItsCodeAndParameters)
{
    const ParseCase cases[] = {
        // VT100: CUP with and without parameters, HVP, cursor moves.
        {"vt100", 'a' + E("[12;40H") + "b", "a<ecCursorHome 12,40>b"},
        {"vt100", E("[H"), "<ecCursorHome>"},
        {"vt100", E("[5;10f"), "<ecCursorMove 5,10>"},
        {"vt100", E("[3A") + E("[B") + E("[2C") + E("[D"), "<ecCursorUp 3><ecCursorDown><ecCursorRight 2><ecCursorLeft>"},
        // Every ";" separates; an empty parameter stands for its default.
        {"vt100", E("[;5H"), "<ecCursorHome ,5>"},
        {"vt100", E("[1;;2H"), "<ecCursorHome 1,,2>"},
        {"vt100", E("[7;H"), "<ecCursorHome 7,>"},
        // ED, EL, TBC: parameters chosen on and then dropped.
        {"vt100", E("[J") + E("[0J") + E("[2J") + E("[1J"),
         "<ecEraseScreenFrom><ecEraseScreenFrom><ecEraseScreen><ecEraseScreenTo>"},
        {"vt100", E("[K") + E("[0K") + E("[2K") + E("[1K") + E("[3K"),
         "<ecEraseLineFrom><ecEraseLineFrom><ecEraseLine><ecEraseLineTo><ecUnknown>"},
        {"vt100", E("[g") + E("[0g") + E("[3g") + E("[2g"), "<ecClearTab><ecClearTab><ecClearAllTabs><ecUnknown>"},
        // DSR and its answers.
        {"vt100", E("[5n") + E("[6n") + E("[0n") + E("[3n") + E("[n") + E("[7n"),
         "<ecQueryDevice><ecQueryCursorPos><ecReportDeviceOK><ecReportDeviceFailure><ecUnknown><ecUnknown>"},
        {"vt100", E("[24;80R"), "<ecReportCursorPos 24,80>"},
        // DA and its answer.
        {"vt100", E("[c") + E("[0c") + E("[?1;2c") + E("[1c") + E("[?1c"),
         "<ecIdentify><ecIdentify 0><ecIdentResponse ?1,2><ecUnknown 1><ecUnknown ?1>"},
        // SGR, SM, RM, save and restore.
        {"vt100", E("[1;7m") + E("[m") + E("[?1h") + E("[?7l") + E("[s") + E("[u"),
         "<ecAttributes 1,7><ecAttributes><ecSetMode ?1><ecResetMode ?7><ecSaveCaret><ecRestoreCaret>"},
        // Two-character sequences: DECSC, DECRC, HTS, RIS, DECALN, SS3 keys.
        {"vt100", E("7") + E("8") + E("H") + E("c") + E("#8") + E("#3"),
         "<ecSaveCaretAndAttr><ecRestoreCaretAndAttr><ecSetTab><ecReset><ecTest><ecUnknown>"},
        {"vt100", E("OA") + E("OB") + E("OC") + E("OD") + E("OE"),
         "<ecAppCursorUp><ecAppCursorDown><ecAppCursorRight><ecAppCursorLeft><ecUnknown>"},
        {"vt100", E("x") + "y" + E("[1;2z"), "<ecUnknown>y<ecUnknown 1,2>"},
        // The grammar of a VT100: ESC starts over, CAN and SUB abandon, DEL
        // is ignored, other control characters act inside a sequence, and any
        // final byte ends a bracket sequence without eating what follows.
        {"vt100", E("[1\x1b" "[2B"), "<ecCursorDown 2>"},
        {"vt100", E("[1\x18") + "x" + E("[2\x1a") + "y", "xy"},
        {"vt100", E("[1\x7f" "2B"), "<ecCursorDown 12>"},
        {"vt100", E("[1\r2B"), "\r<ecCursorDown 12>"},
        {"vt100", E("[2@") + "x" + E("[1~") + "y" + E("[`") + E(" F") + "z", "<ecUnknown 2>x<ecUnknown 1>y<ecUnknown><ecUnknown>z"},
        {"vt100", E("[?6;7h"), "<ecSetMode ?6,7>"},
        // Scrolling region, index, next line, reverse index, character sets.
        {"vt100", E("[3;20r") + E("[r"), "<ecSetScrollRegion 3,20><ecSetScrollRegion>"},
        {"vt100", E("D") + E("E") + E("M"), "<ecIndex><ecNextLine><ecReverseIndex>"},
        {"vt100", E("(0") + E("(B") + E(")0") + E(")B") + E("(A") + "q",
         "<ecCharsetG0Graphics><ecCharsetG0Ascii><ecCharsetG1Graphics><ecCharsetG1Ascii><ecCharsetG0Ascii>q"},
        // VT52: single letters, the identify answer, direct cursor address.
        {"vt52", E("A") + E("B") + E("C") + E("D") + E("H") + E("I") + E("J") + E("K") + E("Z"),
         "<ecCursorUp><ecCursorDown><ecCursorRight><ecCursorLeft><ecCursorHome><ecReverseLineFeed>"
         "<ecEraseScreenFrom><ecEraseLineFrom><ecIdentify>"},
        {"vt52", E("/Z") + E("/x") + E("Q"), "<ecIdentResponse><ecUnknown><ecUnknown>"},
        {"vt52", 'r' + E("Y\x2b\x47") + "s", "r<ecCursorMove 12,40>s"},
        {"vt52", E("Y  "), "<ecCursorMove 1,1>"},
    };
    for (const ParseCase& c : cases) {
        auto codes = Make(c.set);
        EXPECT_EQ(Feed(*codes, c.input), c.events) << c.set << " input " << testing::PrintToString(c.input);
    }
}

TEST(EscapeCodes, ResultsByCharacterAndCollectedText)
{
    TEscapeCodesVT100 vt100;
    EXPECT_EQ(vt100.ProcessChar('q'), erChar);
    EXPECT_EQ(vt100.ProcessChar(kEsc), erNothing);
    EXPECT_EQ(vt100.ProcessChar('['), erNothing);
    EXPECT_EQ(vt100.ProcessChar('1'), erNothing);
    EXPECT_EQ(vt100.ProcessChar('z'), erCode);
    EXPECT_EQ(vt100.Code(), ecUnknown);
    EXPECT_EQ(vt100.Data(), "[1z"); // an unknown code keeps its text for the caller
    EXPECT_EQ(vt100.ProcessChar('q'), erChar);
}

TEST(EscapeCodes, GetParamReadsDecimalOrOne)
{
    TStrings params;
    for (const char* p : {"12", ";5", "", "0", "-3", "+4", "7x", "99999999999"})
        params.Add(p);
    const int32_t expected[] = {12, 1, 1, 0, -3, 4, 1, 1};
    for (int i = 0; i < params.Count(); ++i)
        EXPECT_EQ(TEscapeCodes::GetParam(i + 1, &params), expected[i]) << params.Strings(i);
    EXPECT_EQ(TEscapeCodes::GetParam(9, &params), 1);
    EXPECT_EQ(TEscapeCodes::GetParam(1, nullptr), 1);
}

TEST(EscapeCodes, GeneratesTheSequenceOfEachCode)
{
    TStrings pos;
    pos.Add("12");
    pos.Add("40");
    TEscapeCodesVT100 vt100;
    TEscapeCodesVT52 vt52;
    struct Case {
        TEscapeCode code;
        std::string vt100, vt52;
    };
    const Case cases[] = {
        {ecCursorUp, E("[A"), E("A")},           {ecCursorDown, E("[B"), E("B")},
        {ecCursorLeft, E("[D"), E("D")},         {ecCursorRight, E("[C"), E("C")},
        {ecCursorHome, E("[H"), E("H")},         {ecCursorMove, E("[12;40f"), E("Y\x2b\x47")},
        {ecReverseLineFeed, "", E("I")},         {ecAppCursorLeft, E("OD"), ""},
        {ecAppCursorRight, E("OC"), ""},         {ecAppCursorUp, E("OA"), ""},
        {ecAppCursorDown, E("OB"), ""},          {ecEraseLineFrom, E("[K"), E("K")},
        {ecEraseScreenFrom, E("[J"), E("J")},    {ecEraseLine, E("[2K"), ""},
        {ecEraseScreen, E("[2J"), ""},           {ecSetTab, E("H"), ""},
        {ecClearTab, E("[g"), ""},               {ecClearAllTabs, E("[3g"), ""},
        {ecIdentify, E("[c"), E("Z")},           {ecIdentResponse, E("[?1;12c"), E("/Z")},
        {ecQueryDevice, E("[5n"), ""},           {ecReportDeviceOK, E("[0n"), ""},
        {ecReportDeviceFailure, E("[3n"), ""},   {ecQueryCursorPos, E("[6n"), ""},
        {ecReportCursorPos, E("[12;40R"), ""},   {ecAttributes, E("[m"), ""},
        {ecSetMode, E("[h"), ""},                {ecResetMode, E("[l"), ""},
        {ecReset, E("c"), ""},                   {ecSaveCaretAndAttr, E("7"), ""},
        {ecRestoreCaretAndAttr, E("8"), ""},     {ecSaveCaret, E("[s"), ""},
        {ecRestoreCaret, E("[u"), ""},           {ecTest, E("#8"), ""},
        {ecSetScrollRegion, E("[12;40r"), ""},   {ecIndex, E("D"), ""},
        {ecNextLine, E("E"), ""},                {ecReverseIndex, E("M"), ""},
        {ecEraseLineTo, E("[1K"), ""},           {ecEraseScreenTo, E("[1J"), ""},
        {ecCharsetG0Graphics, E("(0"), ""},      {ecCharsetG0Ascii, E("(B"), ""},
        {ecCharsetG1Graphics, E(")0"), ""},      {ecCharsetG1Ascii, E(")B"), ""},
        {ecUnknown, "", ""},                     {ecNotCompleted, "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vt100.EscCodeToStr(c.code, &pos), c.vt100) << EscapeCodeName(c.code);
        EXPECT_EQ(vt52.EscCodeToStr(c.code, &pos), c.vt52) << EscapeCodeName(c.code);
    }
    // Missing parameters are 1.
    EXPECT_EQ(vt100.EscCodeToStr(ecCursorMove, nullptr), E("[1;1f"));
}

// Every code has its own name, and what either set writes for it reads back
// as the same code.
TEST(EscapeCodes, EveryCodeIsNamedAndReadsBackAsWritten)
{
    std::set<std::string> names;
    for (int i = 0; i < ecCodeCount; ++i) {
        const auto code = static_cast<TEscapeCode>(i);
        EXPECT_TRUE(names.insert(EscapeCodeName(code)).second) << i;
        for (const char* set : {"vt100", "vt52"}) {
            auto codes = Make(set);
            const std::string written = codes->EscCodeToStr(code, nullptr);
            if (written.empty())
                continue;
            EXPECT_EQ(Feed(*Make(set), written).substr(0, std::string(EscapeCodeName(code)).size() + 1),
                      std::string("<") + EscapeCodeName(code))
                << set << " " << testing::PrintToString(written);
        }
    }
    EXPECT_STREQ(EscapeCodeName(ecCodeCount), "?");
}

TEST(EscapeCodes, Vt52CursorAddressRoundTrips)
{
    TEscapeCodesVT52 vt52;
    for (int row = 1; row <= 24; ++row)
        for (int column = 1; column <= 80; ++column) {
            TStrings p;
            p.Add(std::to_string(row));
            p.Add(std::to_string(column));
            std::string text = vt52.EscCodeToStr(ecCursorMove, &p);
            ASSERT_EQ(Feed(vt52, text), "<ecCursorMove " + std::to_string(row) + "," + std::to_string(column) + ">");
        }
}

TEST(EscapeCodes, AnUnfinishedSequenceEndsAtTheBound)
{
    for (const char* set : {"vt100"}) {
        auto codes = Make(set);
        std::string events = Feed(*codes, E("[") + std::string(TEscapeCodes::kMaxSequenceLength - 2, '1'));
        EXPECT_EQ(events, "");
        EXPECT_EQ(codes->ProcessChar('1'), erCode);
        EXPECT_EQ(codes->Code(), ecUnknown);
        EXPECT_EQ(codes->Data().size(), TEscapeCodes::kMaxSequenceLength);
        EXPECT_EQ(codes->ProcessChar('x'), erChar);
    }
}

// Whatever came before, a complete code brings the parser back to plain
// characters, and nothing ever collects more than the bound.
TEST(EscapeCodes, AnyBytesNeverStickAndEndAfterACompleteCode)
{
    std::mt19937 random(20261207);
    for (const char* set : {"vt100", "vt52"}) {
        for (int round = 0; round < 2000; ++round) {
            auto codes = Make(set);
            size_t length = random() % 64;
            for (size_t i = 0; i < length; ++i) {
                // Mostly the bytes that matter to the parsers, some of anything.
                static const char kInteresting[] = "\x1b[;?#O0123456789ABCDHJKYZ/cfghlmnRsu";
                char c = random() % 4 == 0 ? static_cast<char>(random() & 0xFF)
                                           : kInteresting[random() % (sizeof kInteresting - 1)];
                codes->ProcessChar(c);
                ASSERT_LE(codes->Data().size(), TEscapeCodes::kMaxSequenceLength);
                if (codes->Params().Count() > 64)
                    codes->Params().Clear();
            }
            // A complete code: the letter ends any open sequence of either set
            // within a few characters.
            TEscapeResult result = erNothing;
            for (int i = 0; i < 4 && result == erNothing; ++i)
                result = codes->ProcessChar('Z');
            ASSERT_NE(result, erNothing) << set;
            ASSERT_EQ(codes->ProcessChar('x'), erChar) << set;
            ASSERT_EQ(codes->Character(), 'x');
        }
    }
}

} // namespace
