// Text forms of the settings and the list of ports.
#include "cport/internal.h"

#include <gtest/gtest.h>

using namespace tarnby;

namespace {

using namespace tarnby::detail;

TEST(SettingNames, ValuesAndTextsRoundTrip)
{
    for (int i = brCustom; i <= br256000; ++i)
        EXPECT_EQ(StrToBaudRate(BaudRateToStr(static_cast<TBaudRate>(i))), i);
    for (int i = sbOneStopBit; i <= sbTwoStopBits; ++i)
        EXPECT_EQ(StrToStopBits(StopBitsToStr(static_cast<TStopBits>(i))), i);
    for (int i = dbFive; i <= dbEight; ++i)
        EXPECT_EQ(StrToDataBits(DataBitsToStr(static_cast<TDataBits>(i))), i);
    for (int i = prNone; i <= prSpace; ++i)
        EXPECT_EQ(StrToParity(ParityToStr(static_cast<TParityBits>(i))), i);
    for (int i = fcHardware; i <= fcCustom; ++i)
        EXPECT_EQ(StrToFlowControl(FlowControlToStr(static_cast<TFlowControl>(i))), i);
    for (int i = dtrDisable; i <= dtrHandshake; ++i)
        EXPECT_EQ(TextToDtrControl(DtrControlToText(static_cast<TDTRFlowControl>(i))), i);
    for (int i = rtsDisable; i <= rtsToggle; ++i)
        EXPECT_EQ(TextToRtsControl(RtsControlToText(static_cast<TRTSFlowControl>(i))), i);
    EXPECT_EQ(BaudRateToStr(br115200), "115200");
    EXPECT_EQ(StopBitsToStr(sbOne5StopBits), "1.5");
    EXPECT_EQ(RtsControlToText(rtsToggle), "Toggle");
}

TEST(SettingNames, TextMatchIsWholeAndCaseFreeWithDefaults)
{
    EXPECT_EQ(StrToBaudRate("custom"), brCustom);
    EXPECT_EQ(StrToBaudRate("9600 "), br9600);
    EXPECT_EQ(StrToBaudRate("19200 "), br9600) << "a trailing blank matches nothing";
    EXPECT_EQ(StrToStopBits("1.5"), sbOne5StopBits);
    EXPECT_EQ(StrToStopBits("3"), sbOneStopBit);
    EXPECT_EQ(StrToDataBits("x"), dbEight);
    EXPECT_EQ(StrToParity("EVEN"), prEven);
    EXPECT_EQ(StrToParity("Ev"), prNone);
    EXPECT_EQ(StrToParity("sPaCe"), prSpace);
    EXPECT_EQ(StrToFlowControl(""), fcCustom);
    EXPECT_EQ(StrToFlowControl("software"), fcSoftware);
    EXPECT_EQ(TextToDtrControl("HANDSHAKE"), dtrHandshake);
    EXPECT_EQ(TextToRtsControl("nothing"), rtsDisable);
    // Only a to z are folded: a non-ASCII letter is compared as it is.
    EXPECT_EQ(StrToParity("NON\xC9"), prNone);
}

TEST(SettingNames, BooleansAndCharacters)
{
    EXPECT_EQ(BoolToText(true), "Yes");
    EXPECT_EQ(BoolToText(false), "No");
    EXPECT_TRUE(TextToBool("yes"));
    EXPECT_TRUE(TextToBool("YES"));
    EXPECT_FALSE(TextToBool("Y"));
    EXPECT_FALSE(TextToBool("true"));

    EXPECT_EQ(CharToText(17), "#17");
    EXPECT_EQ(CharToText(' '), "#32");
    EXPECT_EQ(CharToText(0), "#0");
    EXPECT_EQ(CharToText('!'), "!");
    EXPECT_EQ(CharToText(127), std::string(1, '\x7f'));
    EXPECT_EQ(CharToText(static_cast<char>(128)), "#128");
    EXPECT_EQ(CharToText(static_cast<char>(255)), "#255");

    EXPECT_EQ(TextToChar(""), 0);
    EXPECT_EQ(TextToChar("#19"), 19);
    EXPECT_EQ(TextToChar("#"), '#');
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("#300")), 44);
    EXPECT_EQ(TextToChar("#1x"), 0);
    EXPECT_EQ(TextToChar("#abc"), 0);
    EXPECT_EQ(TextToChar("#99999999999999999999999"), 0) << "out of range is not a number";
    EXPECT_EQ(static_cast<unsigned char>(TextToChar("#-1")), 255);
    EXPECT_EQ(TextToChar("A"), 65);
    EXPECT_EQ(TextToChar("Abc"), 65);
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(static_cast<unsigned char>(TextToChar(CharToText(static_cast<char>(c)))), c);
}

TEST(SettingNames, PortListIsSortedCaseFree)
{
    TStringList list;
    list.Add("stale");
    EnumComPorts(list);
    EXPECT_EQ(list.IndexOf("stale"), -1) << "the list is replaced";
    for (int i = 0; i + 1 < list.Count(); ++i) {
        std::string a = list.Strings(i), b = list.Strings(i + 1);
        for (auto* s : {&a, &b})
            for (char& c : *s)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_LE(a, b);
    }
    // Pseudo-terminals and consoles are no serial ports.
    for (int i = 0; i < list.Count(); ++i) {
        EXPECT_EQ(list.Strings(i).find("/dev/pts"), std::string::npos);
        EXPECT_NE(list.Strings(i), "/dev/tty0");
    }

    TStringList names;
    for (const char* n : {"COM3", "COM1", "com2", "COM10"})
        names.Add(n);
    names.Sort();
    EXPECT_EQ(names.Strings(0), "COM1");
    EXPECT_EQ(names.Strings(1), "COM10");
    EXPECT_EQ(names.Strings(2), "com2");
    EXPECT_EQ(names.Strings(3), "COM3");
}

TEST(SettingNames, PortNamesMapToDevices)
{
    EXPECT_EQ(comm::DevicePath("COM1"), "/dev/ttyS0");
    EXPECT_EQ(comm::DevicePath("COM3"), "/dev/ttyS2");
    EXPECT_EQ(comm::DevicePath("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(comm::DevicePath("ttyACM1"), "/dev/ttyACM1");
    EXPECT_EQ(comm::DevicePath("COM0"), "/dev/COM0");
}

} // namespace
