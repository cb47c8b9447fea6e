// Settings, applying them to the device, opening and closing, on the fake device.
#include "fake_device.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

// The calls that change device settings, without reads of state.
Calls SettingCalls(FakeLine& line)
{
    Calls out;
    for (const std::string& c : line.Calls())
        if (c.starts_with("SetupComm") || c == "SetCommState" || c == "SetCommTimeouts")
            out.push_back(c);
    return out;
}

TEST(PortSettings, DefaultsAndProgramDeviceRecord)
{
    TComPort port(nullptr);
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.Events(), kAllComEvents);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_EQ(port.StoredProps(), TStoredProps{spBasic});
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_EQ(port.EventThreadPriority(), tpNormal);
    EXPECT_EQ(port.Timeouts()->ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts()->WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts()->WriteTotalConstant(), 1000);
    EXPECT_EQ(port.Buffer()->InputSize(), 1024);
    EXPECT_EQ(port.FlowControl()->XonChar(), 17);
    EXPECT_EQ(port.FlowControl()->XoffChar(), 19);
    EXPECT_FALSE(port.Connected());

    // The window's settings: 19200 8N1, no handshake, DTR and RTS low.
    port.SetBaudRate(br19200);
    port.FlowControl()->SetControlDTR(dtrDisable);
    comm::DCB dcb = port.BuildDCB();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.Flags, 0x1u);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);

    comm::COMMTIMEOUTS t = port.BuildTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST(PortSettings, DeviceRecordFlagsFollowEverySetting)
{
    TComPort port(nullptr);
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.Parity()->SetBits(prMark);
    port.Parity()->SetCheck(true);
    port.Parity()->SetReplace(true);
    port.Parity()->SetReplaceChar('?');
    port.FlowControl()->SetFlowControl(fcHardware);
    port.FlowControl()->SetControlDTR(dtrHandshake);
    port.FlowControl()->SetOutDSRFlow(true);
    port.FlowControl()->SetDSRSensitivity(true);
    port.FlowControl()->SetTxContinueOnXoff(true);
    port.SetDiscardNull(true);
    port.SetStopBits(sbTwoStopBits);
    port.SetDataBits(dbSeven);
    port.SetEventChar('\n');
    comm::DCB dcb = port.BuildDCB();
    EXPECT_EQ(dcb.BaudRate, 250000u);
    EXPECT_EQ(dcb.Flags, 0x1u | 0x2 | 0x4 | 0x8 | 0x20 | 0x40 | 0x80 | 0x400 | 0x800 | 0x2000);
    EXPECT_EQ(dcb.Parity, 3);
    EXPECT_EQ(dcb.StopBits, 2);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EvtChar, '\n');

    port.Parity()->SetCheck(false); // no replacing without checking
    dcb = port.BuildDCB();
    EXPECT_EQ(dcb.Flags & 0x402u, 0u);
    EXPECT_EQ(dcb.ErrorChar, 0);
}

TEST(PortSettings, BufferSizesAreStoredEven)
{
    TComPort port(nullptr);
    port.Buffer()->SetInputSize(1023);
    EXPECT_EQ(port.Buffer()->InputSize(), 1022);
    EXPECT_EQ(port.BuildDCB().XonLim, 255);
    port.Buffer()->SetOutputSize(1025);
    EXPECT_EQ(port.Buffer()->OutputSize(), 1024);
    port.Buffer()->SetInputSize(0);
    EXPECT_EQ(port.Buffer()->InputSize(), 0);
    port.Buffer()->SetInputSize(-3);
    EXPECT_EQ(port.Buffer()->InputSize(), -3);
    EXPECT_EQ(port.BuildDCB().XonLim, 0) << "a negative size gives no limit, not a wrapped one";
}

TEST(PortSettings, FlowControlPresetsReadAndWrite)
{
    TComFlowControl flow;
    EXPECT_EQ(flow.FlowControl(), fcNone);
    flow.SetFlowControl(fcHardware);
    EXPECT_EQ(flow.FlowControl(), fcHardware);
    EXPECT_EQ(flow.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(flow.OutCTSFlow());
    flow.SetControlDTR(dtrEnable);
    EXPECT_EQ(flow.FlowControl(), fcHardware) << "DTR is not part of a preset";
    flow.SetXonXoffIn(true);
    EXPECT_EQ(flow.FlowControl(), fcCustom);
    flow.SetFlowControl(fcSoftware);
    EXPECT_EQ(flow.FlowControl(), fcSoftware);
    EXPECT_EQ(flow.ControlRTS(), rtsDisable);
    EXPECT_FALSE(flow.OutCTSFlow());
    EXPECT_EQ(flow.ControlDTR(), dtrEnable);
    flow.SetFlowControl(fcCustom);
    EXPECT_EQ(flow.FlowControl(), fcSoftware) << "fcCustom changes no field";
    flow.SetFlowControl(fcNone);
    EXPECT_EQ(flow.FlowControl(), fcNone);
}

TEST(PortSettings, AssignCopiesSameClassAndRefusesOthers)
{
    TComParity a, b;
    a.SetBits(prEven);
    a.SetCheck(true);
    a.SetReplaceChar('x');
    b.Assign(a);
    EXPECT_EQ(b.Bits(), prEven);
    EXPECT_TRUE(b.Check());
    EXPECT_EQ(b.ReplaceChar(), 'x');

    TComTimeouts t;
    try {
        t.Assign(a);
        FAIL() << "assigning across classes must fail";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Cannot assign a TComParity to a TComTimeouts");
    }

    TComBuffer buf1, buf2;
    buf1.SetInputSize(4096);
    buf2.Assign(buf1);
    EXPECT_EQ(buf2.InputSize(), 4096);
}

class OpenPort : public testing::Test {
protected:
    FakeDeviceScope fake;
    FakeLine& line = *fake.line;
    EventLog log; // outlives the port, whose Close still reports
    TComPort port{nullptr};
};

TEST_F(OpenPort, OpenAppliesSettingsOnceAndNotifiesInOrder)
{
    log.Attach(port);
    TComLink link;
    link.OnConn = [&](TObject*, bool on) { log.Add(std::string("link Conn ") + (on ? "1" : "0")); };
    link.OnCTSChange = [&](TObject*, bool on) { log.Add(std::string("link CTS ") + (on ? "1" : "0")); };
    port.RegisterLink(&link);
    line.modem_status = comm::MS_CTS_ON | comm::MS_RLSD_ON;
    port.SetPort("COM3");
    port.SetEvents({});
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(line.opened_port, "COM3");
    EXPECT_EQ(SettingCalls(line), (Calls{"SetupComm 1024 1024", "SetCommState", "SetCommTimeouts"}));
    EXPECT_EQ(log.Lines(), (Calls{"BeforeOpen", "link Conn 1", "AfterOpen", "link CTS 1", "CTS 1", "DSR 0", "RLSD 1"}));

    log.Clear();
    port.Open(); // already open
    EXPECT_EQ(log.Size(), 0u);
    EXPECT_EQ(line.open_count, 1);

    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log.Lines(), (Calls{"link CTS 0", "CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "link Conn 0", "AfterClose"}));
    EXPECT_EQ(line.live_devices, 0);
    log.Clear();
    port.Close(); // already closed
    EXPECT_EQ(log.Size(), 0u);
    port.UnRegisterLink(&link);
}

TEST_F(OpenPort, CloseDrainsOutputThenAbortsTransfersStopsThreadAndDiscardsWhatIsLeft)
{
    // Drain first; the event thread's clean-up discards the output only
    // when it could not be sent; then the handle.
    struct Row {
        const char* what;
        int32_t drain_time;
        int drain_error;
        Calls expected;
    };
    const Row rows[] = {
        {"drained", 2000, 0, {"DrainOutput", "PurgeComm 3", "SetCommMask 0", "PurgeComm 8", "Close"}},
        {"not drained in time", 2000, ETIMEDOUT,
         {"DrainOutput", "PurgeComm 3", "SetCommMask 0", "PurgeComm 12", "Close"}},
        {"no drain time", 0, 0, {"PurgeComm 3", "SetCommMask 0", "PurgeComm 12", "Close"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        port.SetCloseDrainTime(row.drain_time);
        line.SetFailing("DrainOutput", row.drain_error);
        port.Open();
        line.ClearCalls();
        port.Close();
        EXPECT_EQ(line.Calls(), row.expected);
        line.ClearFailing();
    }
}

TEST_F(OpenPort, SettersReachAnOpenDeviceAtOnceAndAClosedOneAtOpen)
{
    port.SetBaudRate(br115200);
    EXPECT_TRUE(SettingCalls(line).empty());
    port.Open();
    EXPECT_EQ(line.dcb.BaudRate, 115200u);
    line.ClearCalls();
    port.SetBaudRate(br115200); // equal: nothing
    EXPECT_TRUE(SettingCalls(line).empty());
    port.SetBaudRate(br57600);
    port.Timeouts()->SetReadTotalConstant(50);
    port.Buffer()->SetInputSize(4096);
    EXPECT_EQ(SettingCalls(line), (Calls{"SetCommState", "SetCommTimeouts", "SetupComm 4096 1024"}));
    EXPECT_EQ(line.dcb.BaudRate, 57600u);
    EXPECT_EQ(line.timeouts.ReadTotalTimeoutConstant, 50u);

    // A whole settings object is copied and applied even when nothing differs.
    line.ClearCalls();
    TComParity same;
    port.SetParity(same);
    EXPECT_EQ(SettingCalls(line), (Calls{"SetCommState"}));
}

TEST_F(OpenPort, UpdateBracketReachesDeviceOnceInOrder)
{
    port.Open();
    line.ClearCalls();
    port.BeginUpdate();
    port.BeginUpdate();
    port.SetBaudRate(br19200);
    port.SetDataBits(dbSeven);
    port.Parity()->SetBits(prOdd);
    port.Timeouts()->SetWriteTotalConstant(10);
    port.Buffer()->SetOutputSize(2048);
    port.EndUpdate();
    EXPECT_TRUE(SettingCalls(line).empty()) << "still one level open";
    port.EndUpdate();
    EXPECT_EQ(SettingCalls(line), (Calls{"SetupComm 1024 2048", "SetCommState", "SetCommTimeouts"}));
    EXPECT_EQ(line.dcb.ByteSize, 7);
    EXPECT_EQ(line.dcb.Parity, 1);

    line.ClearCalls();
    port.EndUpdate(); // unmatched
    port.SetStopBits(sbTwoStopBits);
    EXPECT_EQ(SettingCalls(line), (Calls{"SetCommState"})) << "an unmatched EndUpdate leaves the count at zero";
}

TEST_F(OpenPort, OpenFailureLeavesPortClosed)
{
    log.Attach(port);
    line.open_error = 2;
    port.SetPort("COM9");
    try {
        port.Open();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.WinCode(), 2);
        EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(log.Lines(), (Calls{"BeforeOpen"}));
}

TEST_F(OpenPort, RejectedSettingsDuringOpenCloseTheHandleAgain)
{
    log.Attach(port);
    line.SetFailing("SetCommState", 22);
    try {
        port.Open();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 7);
        EXPECT_STREQ(e.what(), "SetCommState function failed (win error code: 22)");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(line.live_devices, 0);
    EXPECT_EQ(log.Lines(), (Calls{"BeforeOpen"}));

    line.ClearFailing();
    port.Open(); // and it can be opened once the device agrees
    EXPECT_TRUE(port.Connected());
}

TEST_F(OpenPort, FailedAbortEndsCloseWithThePortStillOpen)
{
    log.Attach(port);
    port.Open();
    log.Clear();
    line.SetFailing("PurgeComm", 5);
    try {
        port.Close();
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 5);
        EXPECT_STREQ(e.what(), "PurgeComm function failed (win error code: 5)");
    }
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(line.live_devices, 1);
    EXPECT_EQ(log.Lines(), (Calls{"CTS 0", "DSR 0", "RLSD 0", "BeforeClose"}));
    line.ClearFailing();
    log.Clear();
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(line.live_devices, 0);
    EXPECT_EQ(log.Lines(), (Calls{"CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "AfterClose"}));
}

TEST_F(OpenPort, ApplyFailuresKeepNewValueAndRaiseTheirCodes)
{
    port.Open();
    struct Case {
        const char* op;
        std::function<void()> change;
        int code;
        const char* text;
    } cases[] = {
        {"SetCommState", [&] { port.SetBaudRate(br300); }, 7, "SetCommState function failed"},
        {"SetCommTimeouts", [&] { port.Timeouts()->SetReadInterval(5); }, 8, "SetCommTimeouts failed"},
        {"SetupComm", [&] { port.Buffer()->SetInputSize(8192); }, 9, "SetupComm function failed"},
    };
    for (auto& c : cases) {
        line.SetFailing(c.op, 5);
        try {
            c.change();
            ADD_FAILURE() << c.op;
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), c.code);
            EXPECT_EQ(std::string(e.what()), std::string(c.text) + " (win error code: 5)");
        }
        line.ClearFailing();
    }
    EXPECT_EQ(port.BaudRate(), br300);
    EXPECT_EQ(port.Timeouts()->ReadInterval(), 5);
    EXPECT_EQ(port.Buffer()->InputSize(), 8192);
    EXPECT_TRUE(port.Connected());
}

TEST_F(OpenPort, ChangingPortReopensAndAFailedReopenLeavesItClosed)
{
    log.Attach(port);
    port.SetEvents({});
    port.Open();
    log.Clear();
    port.SetPort("COM7");
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(line.opened_port, "COM7");
    Calls expected{"CTS 0", "DSR 0", "RLSD 0", "BeforeClose", "AfterClose",
                   "BeforeOpen", "AfterOpen", "CTS 0", "DSR 0", "RLSD 0"};
    EXPECT_EQ(log.Lines(), expected);

    line.open_error = 2;
    EXPECT_THROW(port.SetPort("COM8"), EComPort);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "COM8");
    EXPECT_EQ(line.live_devices, 0);
}

TEST_F(OpenPort, PropertiesRefusedWhileConnected)
{
    port.SetSyncMethod(smNone); // closed: stored
    EXPECT_EQ(port.SyncMethod(), smNone);
    port.Open();
    try {
        port.SetSyncMethod(smWindowSync);
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 14);
        EXPECT_EQ(e.WinCode(), -1);
        EXPECT_STREQ(e.what(), "Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), smNone);
    EXPECT_THROW(port.SetEventThreadPriority(tpHigher), EComPort);
    EXPECT_EQ(port.EventThreadPriority(), tpNormal);
}

TEST_F(OpenPort, ConnectedStoredWhileLoadingOpensAfterLoading)
{
    CaughtExceptions caught;
    port.BeginLoading();
    port.SetConnected(true);
    port.SetBaudRate(br38400);
    EXPECT_EQ(line.open_count, 0);
    EXPECT_TRUE(port.Connected()) << "only the value is stored while loading";
    port.EndLoading();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(line.open_count, 1);
    EXPECT_EQ(line.dcb.BaudRate, 38400u);

    // A port that cannot open after loading is shown, not thrown.
    TComPort other(nullptr);
    other.SetEvents({});
    line.open_error = 13;
    other.BeginLoading();
    other.SetConnected(true);
    other.EndLoading();
    EXPECT_FALSE(other.Connected());
    ASSERT_EQ(caught.Messages().size(), 1u);
    EXPECT_EQ(caught.Messages()[0], "Unable to open com port (win error code: 13)");
}

TEST_F(OpenPort, DesignModeNeverTouchesTheDevice)
{
    port.SetDesigning(true);
    port.SetConnected(true);
    port.Open();
    EXPECT_EQ(line.open_count, 0);
    EXPECT_TRUE(port.Connected());
    port.SetSyncMethod(smWindowSync); // allowed in design mode
    EXPECT_EQ(port.SyncMethod(), smWindowSync);
}

TEST(PortComponent, OwnerDestroysPortAndFreeNotificationArrives)
{
    FakeDeviceScope fake;
    struct Watcher : TComponent {
        using TComponent::TComponent;
        TComponent* gone = nullptr;
        void Notification(TComponent* c, TOperation op) override
        {
            if (op == opRemove)
                gone = c;
        }
    };
    Watcher watcher(nullptr);
    auto* owner = new TComponent(nullptr);
    auto* port = new TComPort(owner);
    port->SetName("ComPort1");
    port->FreeNotification(&watcher);
    port->SetEvents({});
    port->Open();
    EXPECT_EQ(owner->ComponentCount(), 1);
    EXPECT_EQ(owner->Components(0)->Name(), "ComPort1");
    delete owner;
    EXPECT_EQ(watcher.gone, port);
    EXPECT_EQ(fake.line->live_devices, 0) << "destroying an open port closes it";
}

} // namespace
