// Storing and loading port settings in settings files and the registry
// stand-in.
#include "tarnby/cport/extras/com_settings.h"
#include "cport/internal.h"
#include "extras_support.h"

#include <QSettings>
#include <QStringList>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

using namespace tarnby;

using namespace tarnby::detail;

namespace {

// The port as the instrument's window sets it up.
void LikeTheWindow(TCustomComPort& port)
{
    port.SetName("ComPort1");
    port.SetPort("COM3");
    port.SetBaudRate(br19200);
    port.SetDataBits(dbEight);
    port.Parity()->SetBits(prNone);
    port.SetStopBits(sbOneStopBit);
    port.FlowControl()->SetFlowControl(fcNone);
}

constexpr TStoredProps kAllGroups{spBasic, spFlowControl, spBuffer, spTimeouts, spParity, spOthers};

// Every stored setting away from its default.
void Unusual(TCustomComPort& port)
{
    port.SetName("Unusual");
    port.SetStoredProps(kAllGroups);
    port.SetPort("/dev/ttyUSB7");
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetStopBits(sbTwoStopBits);
    port.SetDataBits(dbSeven);
    port.Parity()->SetBits(prMark);
    port.SetEventChar(',');
    port.SetDiscardNull(true);
    port.Parity()->SetCheck(true);
    port.Parity()->SetReplace(true);
    port.Parity()->SetReplaceChar(' ');
    port.Buffer()->SetOutputSize(4096);
    port.Buffer()->SetInputSize(2048);
    port.Timeouts()->SetReadInterval(5);
    port.Timeouts()->SetReadTotalConstant(6);
    port.Timeouts()->SetReadTotalMultiplier(7);
    port.Timeouts()->SetWriteTotalConstant(8);
    port.Timeouts()->SetWriteTotalMultiplier(9);
    port.FlowControl()->SetControlRTS(rtsToggle);
    port.FlowControl()->SetControlDTR(dtrHandshake);
    port.FlowControl()->SetDSRSensitivity(true);
    port.FlowControl()->SetOutCTSFlow(true);
    port.FlowControl()->SetOutDSRFlow(true);
    port.FlowControl()->SetTxContinueOnXoff(true);
    port.FlowControl()->SetXonXoffIn(true);
    port.FlowControl()->SetXonXoffOut(false);
    port.FlowControl()->SetXoffChar('\x93');
    port.FlowControl()->SetXonChar('#');
}

// Every stored setting as text, to compare two ports.
std::string Describe(const TCustomComPort& p)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s %d %d %d %d %d | %s %d | %d %d %s | %d %d | %d %d %d %d %d | %d %d %d %d %d %d %d %d %s %s",
                  p.Port().c_str(), p.BaudRate(), p.CustomBaudRate(), p.StopBits(), p.DataBits(), p.Parity()->Bits(),
                  CharToText(p.EventChar()).c_str(), p.DiscardNull(), p.Parity()->Check(), p.Parity()->Replace(),
                  CharToText(p.Parity()->ReplaceChar()).c_str(), p.Buffer()->OutputSize(), p.Buffer()->InputSize(),
                  p.Timeouts()->ReadInterval(), p.Timeouts()->ReadTotalConstant(),
                  p.Timeouts()->ReadTotalMultiplier(), p.Timeouts()->WriteTotalConstant(),
                  p.Timeouts()->WriteTotalMultiplier(), p.FlowControl()->ControlRTS(),
                  p.FlowControl()->ControlDTR(), p.FlowControl()->DSRSensitivity(), p.FlowControl()->OutCTSFlow(),
                  p.FlowControl()->OutDSRFlow(), p.FlowControl()->TxContinueOnXoff(), p.FlowControl()->XonXoffIn(),
                  p.FlowControl()->XonXoffOut(), CharToText(p.FlowControl()->XoffChar()).c_str(),
                  CharToText(p.FlowControl()->XonChar()).c_str());
    return text;
}

int ErrorCode(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EComPort& e) {
        return e.Code();
    }
    return 0;
}

// Points the registry stand-in at a scratch folder for one test.
class RegistryFolder {
public:
    RegistryFolder()
    {
        if (const char* old = std::getenv("XDG_CONFIG_HOME"))
            old_ = old;
        ::setenv("XDG_CONFIG_HOME", folder_.Path().c_str(), 1);
    }
    ~RegistryFolder()
    {
        if (old_)
            ::setenv("XDG_CONFIG_HOME", old_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    std::string File(const char* root) const { return folder_.Path() + "/tarnby/registry/" + root + ".ini"; }

private:
    TempFolder folder_;
    std::optional<std::string> old_;
};

TEST(ComSettings, DefaultSectionHoldsTheSixBasicKeys)
{
    TempFolder folder;
    const std::string path = folder.File("ports.ini");
    TComPort port(nullptr);
    LikeTheWindow(port);
    StoreSettings(port, stIniFile, path);
    EXPECT_EQ(ReadWholeFile(path), "[ComPort1]\nPort=COM3\nBaudRate=19200\nStopBits=1\nDataBits=8\n"
                                   "Parity=None\nFlowControl=None\n");
    // Qt's own reader, read-only, agrees.
    QSettings qt(QString::fromStdString(path), QSettings::IniFormat);
    qt.beginGroup("ComPort1");
    EXPECT_EQ(qt.childKeys(),
              (QStringList{"BaudRate", "DataBits", "FlowControl", "Parity", "Port", "StopBits"}));
    EXPECT_EQ(qt.value("Port").toString(), "COM3");
    EXPECT_EQ(qt.value("BaudRate").toString(), "19200");
    EXPECT_EQ(qt.value("StopBits").toString(), "1");
    EXPECT_EQ(qt.value("DataBits").toString(), "8");
    EXPECT_EQ(qt.value("Parity").toString(), "None");
    EXPECT_EQ(qt.value("FlowControl").toString(), "None");
}

// What another program's ordinary INI reader makes of a stored file.
TEST(ComSettings, AnOrdinaryIniReaderReadsTheStoredFile)
{
    if (std::system("python3 -c 'import configparser' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no python3 with configparser";
    TempFolder folder;
    const std::string path = folder.File("ports.ini");
    WriteWholeFile(path, "; written by hand\n[Other]\nkey = value\n");
    TComPort port(nullptr);
    Unusual(port);
    StoreSettings(port, stIniFile, path);

    const std::string out = folder.File("read.txt");
    const std::string command =
        "python3 -c 'import configparser, sys\n"
        "c = configparser.ConfigParser(interpolation=None)\n"
        "c.optionxform = str\n"
        "c.read(sys.argv[1])\n"
        "for s in c.sections():\n"
        "    for k, v in c.items(s):\n"
        "        print(s, k, v, sep=\"|\")\n' " +
        path + " > " + out;
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(out), "Other|key|value\n"
                                  "Unusual|Port|/dev/ttyUSB7\n"
                                  "Unusual|BaudRate|Custom\n"
                                  "Unusual|CustomBaudRate|250000\n"
                                  "Unusual|StopBits|2\n"
                                  "Unusual|DataBits|7\n"
                                  "Unusual|Parity|Mark\n"
                                  "Unusual|FlowControl|Custom\n"
                                  "Unusual|EventChar|,\n"
                                  "Unusual|DiscardNull|Yes\n"
                                  "Unusual|Parity.Check|Yes\n"
                                  "Unusual|Parity.Replace|Yes\n"
                                  "Unusual|Parity.ReplaceChar|#32\n"
                                  "Unusual|Buffer.OutputSize|4096\n"
                                  "Unusual|Buffer.InputSize|2048\n"
                                  "Unusual|Timeouts.ReadInterval|5\n"
                                  "Unusual|Timeouts.ReadTotalConstant|6\n"
                                  "Unusual|Timeouts.ReadTotalMultiplier|7\n"
                                  "Unusual|Timeouts.WriteTotalConstant|8\n"
                                  "Unusual|Timeouts.WriteTotalMultiplier|9\n"
                                  "Unusual|FlowControl.ControlRTS|Toggle\n"
                                  "Unusual|FlowControl.ControlDTR|Handshake\n"
                                  "Unusual|FlowControl.DSRSensitivity|Yes\n"
                                  "Unusual|FlowControl.OutCTSFlow|Yes\n"
                                  "Unusual|FlowControl.OutDSRFlow|Yes\n"
                                  "Unusual|FlowControl.TxContinueOnXoff|Yes\n"
                                  "Unusual|FlowControl.XonXoffIn|Yes\n"
                                  "Unusual|FlowControl.XonXoffOut|No\n"
                                  "Unusual|FlowControl.XoffChar|#147\n"
                                  "Unusual|FlowControl.XonChar|#\n");
}

TEST(ComSettings, EverySettingRoundTripsThroughBothStores)
{
    TempFolder folder;
    RegistryFolder registry;
    for (TStoreType type : {stIniFile, stRegistry}) {
        const std::string where =
            type == stIniFile ? folder.File("all.ini") : std::string("HKEY_CURRENT_USER\\Software\\Tarnby");
        TComPort stored(nullptr);
        Unusual(stored);
        stored.StoreSettings(type, where); // the port's own members, from the extras
        TComPort loaded(nullptr);
        loaded.SetName("Unusual");
        loaded.SetStoredProps(kAllGroups);
        loaded.LoadSettings(type, where);
        EXPECT_EQ(Describe(loaded), Describe(stored)) << (type == stIniFile ? "ini" : "registry");
    }
}

TEST(ComSettings, HandEditedFileLoadsAsAPersonExpects)
{
    TempFolder folder;
    const std::string path = folder.File("edited.ini");
    WriteWholeFile(path, "; my ports\r\n"
                         "[Modem]\r\n"
                         "Port=COM9\r\n"
                         "\r\n"
                         "[comport1]\r\n"
                         "  PORT = /dev/ttyACM0 ; not a comment here\r\n"
                         "baudrate=115200\r\n"
                         "# parity stays as it is\r\n"
                         "BAUDRATE=300\r\n"
                         "buffer.inputsize = 0x800\r\n"
                         "Buffer.OutputSize = lots\r\n"
                         "parity.check=yes\r\n"
                         "FlowControl = hardware\r\n"
                         "FlowControl.XonXoffIn=YES\r\n");
    TComPort port(nullptr);
    port.SetName("ComPort1");
    port.SetStoredProps({spBasic, spBuffer, spParity, spFlowControl});
    port.Parity()->SetBits(prEven);
    port.FlowControl()->SetOutDSRFlow(true);
    LoadSettings(port, stIniFile, path);
    EXPECT_EQ(port.Port(), "/dev/ttyACM0 ; not a comment here"); // the first key of the first section counts
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.Parity()->Bits(), prEven);         // missing key: unchanged
    EXPECT_EQ(port.Buffer()->InputSize(), 2048);      // hexadecimal
    EXPECT_EQ(port.Buffer()->OutputSize(), 1024);     // not a number: unchanged
    EXPECT_TRUE(port.Parity()->Check());              // "yes" is Yes
    EXPECT_TRUE(port.FlowControl()->OutDSRFlow());    // missing: unchanged
    EXPECT_EQ(port.FlowControl()->ControlRTS(), rtsHandshake); // preset first...
    EXPECT_TRUE(port.FlowControl()->XonXoffIn());              // ...single keys after it
    EXPECT_EQ(port.FlowControl()->FlowControl(), fcCustom);
}

TEST(ComSettings, IniValuesConvertOrFallBack)
{
    TempFolder folder;
    const std::string path = folder.File("values.ini");
    struct Case {
        const char* line;
        std::function<std::string(const TCustomComPort&)> read;
        const char* expected;
    };
    const Case cases[] = {
        {"BaudRate=abc", [](const TCustomComPort& p) { return BaudRateToStr(p.BaudRate()); }, "9600"},
        {"BaudRate=custom", [](const TCustomComPort& p) { return std::to_string(p.CustomBaudRate()); }, "9600"},
        {"Parity.Check=yes", [](const TCustomComPort& p) { return BoolToText(p.Parity()->Check()); }, "Yes"},
        {"Parity.Check=true", [](const TCustomComPort& p) { return BoolToText(p.Parity()->Check()); }, "No"},
        {"Buffer.InputSize=0x800", [](const TCustomComPort& p) { return std::to_string(p.Buffer()->InputSize()); },
         "2048"},
        {"Buffer.InputSize=1025", [](const TCustomComPort& p) { return std::to_string(p.Buffer()->InputSize()); },
         "1024"},
        {"EventChar=#13", [](const TCustomComPort& p) { return std::to_string(p.EventChar()); }, "13"},
        {"StopBits=1.5", [](const TCustomComPort& p) { return StopBitsToStr(p.StopBits()); }, "1.5"},
    };
    for (const Case& c : cases) {
        WriteWholeFile(path, std::string("[P]\nCustomBaudRate=oops\n") + c.line + "\n");
        TComPort port(nullptr);
        port.SetName("P");
        port.SetCustomBaudRate(1234);
        port.SetStoredProps(kAllGroups);
        LoadSettings(port, stIniFile, path);
        EXPECT_EQ(c.read(port), c.expected) << c.line;
    }
}

TEST(ComSettings, FailuresGiveCodes16And17)
{
    TempFolder folder;
    RegistryFolder registry;
    TComPort port(nullptr);
    LikeTheWindow(port);
    EXPECT_EQ(ErrorCode([&] { StoreSettings(port, stIniFile, folder.Path()); }), 16); // a folder
    EXPECT_EQ(ErrorCode([&] { StoreSettings(port, stIniFile, folder.File("no/such/folder.ini")); }), 16);
    EXPECT_EQ(ErrorCode([&] { LoadSettings(port, stIniFile, folder.Path()); }), 17);
    EXPECT_EQ(ErrorCode([&] { StoreSettings(port, stRegistry, "NoBackslash"); }), 16);
    EXPECT_EQ(ErrorCode([&] { LoadSettings(port, stRegistry, "NoBackslash"); }), 17);
    EXPECT_EQ(port.Port(), "COM3"); // that failed load reset nothing
    try {
        StoreSettings(port, stRegistry, "NoBackslash");
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "Failed to store settings");
    }
    // A missing file loads nothing and fails nothing: every key keeps its value.
    EXPECT_EQ(ErrorCode([&] { LoadSettings(port, stIniFile, folder.File("missing.ini")); }), 0);
    EXPECT_EQ(port.BaudRate(), br19200);
}

TEST(ComSettings, RegistryKeysTypesAndRoots)
{
    RegistryFolder registry;
    TComPort port(nullptr);
    LikeTheWindow(port);
    port.SetStoredProps({spBasic, spBuffer});
    StoreSettings(port, stRegistry, "HKEY_CURRENT_USER\\Software\\Test");
    EXPECT_EQ(ReadWholeFile(registry.File("HKEY_CURRENT_USER")),
              "[Software\\Test\\ComPort1]\nPort=sz:COM3\nBaudRate=sz:19200\nStopBits=sz:1\nDataBits=sz:8\n"
              "Parity=sz:None\nFlowControl=sz:None\nBuffer.OutputSize=dword:1024\nBuffer.InputSize=dword:1024\n");

    // Another root and a trailing backslash, root names in any case.
    port.SetBaudRate(br600);
    StoreSettings(port, stRegistry, "hkey_local_machine\\SOFTWARE\\Test\\");
    TComPort loaded(nullptr);
    loaded.SetName("comport1");
    loaded.SetStoredProps({spBasic, spBuffer});
    LoadSettings(loaded, stRegistry, "HKEY_LOCAL_MACHINE\\software\\test");
    EXPECT_EQ(loaded.BaudRate(), br600);
    LoadSettings(loaded, stRegistry, "HKEY_CURRENT_USER\\Software\\Test");
    EXPECT_EQ(loaded.BaudRate(), br19200);

    // A missing number, and a number stored as text, fail the load; what
    // was read before stays set.
    WriteWholeFile(registry.File("HKEY_CURRENT_USER"),
                   "[Software\\Test\\ComPort1]\nPort=sz:COM7\nBaudRate=sz:1200\nBuffer.InputSize=dword:4096\n");
    EXPECT_EQ(ErrorCode([&] { LoadSettings(loaded, stRegistry, "HKEY_CURRENT_USER\\Software\\Test"); }), 17);
    EXPECT_EQ(loaded.Port(), "COM7");
    EXPECT_EQ(loaded.BaudRate(), br1200);
    WriteWholeFile(registry.File("HKEY_CURRENT_USER"),
                   "[Software\\Test\\ComPort1]\nBuffer.OutputSize=sz:4096\nBuffer.InputSize=dword:4096\n");
    EXPECT_EQ(ErrorCode([&] { LoadSettings(loaded, stRegistry, "HKEY_CURRENT_USER\\Software\\Test"); }), 17);
    // Missing text reads as empty: the conversions' defaults, an empty port name.
    EXPECT_EQ(loaded.Port(), "");
    EXPECT_EQ(loaded.BaudRate(), br9600);

    // Opening a key creates it, also for a load.
    TComPort fresh(nullptr);
    fresh.SetName("Fresh");
    LoadSettings(fresh, stRegistry, "HKEY_CURRENT_USER\\New");
    EXPECT_NE(ReadWholeFile(registry.File("HKEY_CURRENT_USER")).find("[New\\Fresh]"), std::string::npos);
}

// A port that counts how often its settings reach the device.
class CountingPort : public TComPort {
public:
    using TComPort::TComPort;
    void SetupComPort() override
    {
        ++setups;
        TComPort::SetupComPort();
    }
    int setups = 0;
};

TEST(ComSettings, AnOpenPortTakesLoadedSettingsOnceAndMovesToANewDevice)
{
    TempFolder folder;
    FarEnd first, second;
    const std::string path = folder.File("open.ini");
    CountingPort port(nullptr);
    port.SetName("Live");
    port.SetEvents({});
    port.SetPort(first.Path());
    port.SetStoredProps(kAllGroups);
    port.Open();

    WriteWholeFile(path, "[Live]\nPort=" + first.Path() +
                             "\nBaudRate=57600\nDataBits=7\nParity=Even\nBuffer.InputSize=4096\n"
                             "Timeouts.WriteTotalConstant=500\nFlowControl.XonChar=#1\n");
    int before = port.setups;
    LoadSettings(port, stIniFile, path);
    EXPECT_EQ(port.setups, before + 1);
    EXPECT_EQ(port.BaudRate(), br57600);

    WriteWholeFile(path, "[Live]\nPort=" + second.Path() + "\n");
    LoadSettings(port, stIniFile, path);
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.Port(), second.Path());
    port.WriteStr("moved");
    EXPECT_EQ(second.Receive(5), "moved");
    port.Close();
}

TEST(ComSettings, ADerivedSettingsClassAddsKeys)
{
    class WithBanner : public TComPortSettings {
    public:
        using TComPortSettings::TComPortSettings;
        std::string banner = "hello";

    protected:
        void StoreIniFile(TIniFile& ini) override
        {
            TComPortSettings::StoreIniFile(ini);
            ini.WriteString(ComPort().Name(), "Banner", banner);
        }
        void LoadIniFile(TIniFile& ini) override
        {
            TComPortSettings::LoadIniFile(ini);
            banner = ini.ReadString(ComPort().Name(), "Banner", banner);
        }
    };
    TempFolder folder;
    TComPort port(nullptr);
    LikeTheWindow(port);
    WithBanner settings(port);
    settings.banner = " spaced, with \"quotes\" ";
    settings.StoreSettings(stIniFile, folder.File("b.ini"));
    WithBanner again(port);
    again.LoadSettings(stIniFile, folder.File("b.ini"));
    EXPECT_EQ(again.banner, settings.banner);
}

// This program does not link the widgets: the port says where its setup
// dialog is instead of doing nothing.
TEST(ComSettings, WithoutTheWidgetsTheSetupDialogSaysWhatToLink)
{
    TComPort port(nullptr);
    try {
        port.ShowSetupDialog();
        FAIL() << "no dialog to show";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), errOther);
        EXPECT_NE(std::string(e.what()).find("Tarnby::cport_extras_widgets"), std::string::npos) << e.what();
    }
    bool asked = false;
    SetComPortSetupDialog([&](TCustomComPort& shown) {
        asked = &shown == &port;
        return true;
    });
    EXPECT_TRUE(port.ShowSetupDialog());
    EXPECT_TRUE(asked);
    SetComPortSetupDialog({});
}

} // namespace
