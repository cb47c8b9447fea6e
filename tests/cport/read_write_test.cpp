// Reads, writes, queries and line control, on the fake device: results and
// every error code with its message.
#include "fake_device.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace {

class ReadWrite : public testing::Test {
protected:
    void SetUp() override
    {
        port.SetEvents({});
        port.Open();
    }
    FakeDeviceScope fake;
    FakeLine& line = *fake.line;
    TComPort port{nullptr};
};

// Runs op and checks it raises code with the platform error in the message.
void ExpectComError(const std::function<void()>& op, int code, int win_code, const std::string& text)
{
    try {
        op();
        ADD_FAILURE() << "no exception for code " << code;
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), code);
        EXPECT_EQ(e.WinCode(), win_code);
        std::string expected = win_code == -1 ? text : text + " (win error code: " + std::to_string(win_code) + ")";
        EXPECT_EQ(std::string(e.what()), expected);
    }
}

TEST_F(ReadWrite, BlockingAndStringForms)
{
    line.input = {'1', '2', '3', '4', '5', '6', '7'};
    char buf[100];
    EXPECT_EQ(port.Read(buf, 100), 7);
    EXPECT_EQ(port.Read(buf, 100), 0);

    line.input = {'a', 'b', 'c', 'd'};
    std::string s = "old";
    EXPECT_EQ(port.ReadStr(s, 10), 4);
    EXPECT_EQ(s, "abcd");
    EXPECT_EQ(port.ReadStr(s, 0), 0);
    EXPECT_EQ(s, "");
    EXPECT_EQ(port.ReadStr(s, -5), 0) << "a negative count reads nothing";

    EXPECT_EQ(port.Write("xyz", 3), 3);
    line.ClearCalls();
    EXPECT_EQ(port.WriteStr(""), 0);
    EXPECT_EQ(port.WriteStr("hi"), 2);
    EXPECT_EQ(std::string(line.written.begin(), line.written.end()), "xyzhi");

    TComStream stream(&port);
    EXPECT_EQ(stream.Write("!", 1), 1);
    line.input = {'q'};
    EXPECT_EQ(stream.Read(buf, 5), 1);
    EXPECT_EQ(stream.Seek(10, 0), 0);
}

TEST_F(ReadWrite, EmptyStringWritesTouchNoDevice)
{
    port.Close();
    EXPECT_EQ(port.WriteStr(""), 0) << "nothing started, nothing waited for";
    std::string s;
    EXPECT_EQ(port.ReadStr(s, 0), 0);
}

TEST_F(ReadWrite, AsyncRecordsAndErrors)
{
    PAsync none = nullptr;
    char buf[4];
    ExpectComError([&] { port.WriteAsync("a", 1, none); }, 4, -1, "Invalid Async parameter");
    ExpectComError([&] { port.ReadAsync(buf, 1, none); }, 4, -1, "Invalid Async parameter");
    ExpectComError([&] { port.WaitForAsync(none); }, 4, -1, "Invalid Async parameter");
    ExpectComError([&] { port.IsAsyncCompleted(none); }, 4, -1, "Invalid Async parameter");

    PAsync async = nullptr;
    InitAsync(async);
    EXPECT_TRUE(port.IsAsyncCompleted(async)) << "a fresh record is signalled";
    line.SetFailing("WritePending", 1);
    EXPECT_EQ(port.WriteAsync("abc", 3, async), 0);
    EXPECT_FALSE(port.IsAsyncCompleted(async));
    port.AbortAllAsync();
    EXPECT_TRUE(port.IsAsyncCompleted(async));
    EXPECT_EQ(port.WaitForAsync(async), 0);
    line.ClearFailing();

    line.SetFailing("ReadResult", 5);
    port.ReadAsync(buf, 1, async);
    ExpectComError([&] { port.IsAsyncCompleted(async); }, 6, 5, "Unable to get async status");
    ExpectComError([&] { port.WaitForAsync(async); }, 3, 5, "ReadFile function failed");
    line.ClearFailing();
    line.SetFailing("WriteResult", 5);
    port.WriteAsync("a", 1, async);
    ExpectComError([&] { port.WaitForAsync(async); }, 2, 5, "WriteFile function failed");
    DoneAsync(async);
    EXPECT_EQ(async, nullptr);

    // Released while a transfer still runs: the device lets go of the record.
    line.ClearFailing();
    line.SetFailing("WritePending", 1);
    InitAsync(async);
    port.WriteAsync("abc", 3, async);
    DoneAsync(async);
    port.AbortAllAsync();
}

TEST_F(ReadWrite, EveryPlatformFailureHasItsCode)
{
    char buf[4];
    struct Case {
        const char* op;
        std::function<void()> call;
        int code;
        const char* text;
    } cases[] = {
        {"WriteFile", [&] { port.Write("a", 1); }, 2, "WriteFile function failed"},
        {"ReadFile", [&] { port.Read(buf, 1); }, 3, "ReadFile function failed"},
        {"PurgeComm", [&] { port.AbortAllAsync(); }, 5, "PurgeComm function failed"},
        {"PurgeComm", [&] { port.ClearBuffer(true, false); }, 5, "PurgeComm function failed"},
        {"ClearCommError", [&] { port.InputCount(); }, 10, "ClearCommError function failed"},
        {"ClearCommError", [&] { port.OutputCount(); }, 10, "ClearCommError function failed"},
        {"ClearCommError", [&] { port.StateFlags(); }, 10, "ClearCommError function failed"},
        {"ClearCommError", [&] { port.LastErrors(); }, 10, "ClearCommError function failed"},
        {"GetCommModemStatus", [&] { port.Signals(); }, 11, "GetCommModemStatus function failed"},
        {"EscapeCommFunction", [&] { port.SetBreak(true); }, 12, "EscapeCommFunction function failed"},
        {"EscapeCommFunction", [&] { port.SetDTR(true); }, 12, "EscapeCommFunction function failed"},
        {"EscapeCommFunction", [&] { port.SetRTS(false); }, 12, "EscapeCommFunction function failed"},
        {"EscapeCommFunction", [&] { port.SetXonXoff(true); }, 12, "EscapeCommFunction function failed"},
        {"TransmitCommChar", [&] { port.TransmitChar('x'); }, 13, "TransmitCommChar function failed"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        line.SetFailing(c.op, 121);
        ExpectComError(c.call, c.code, 121, c.text);
        line.ClearFailing();
    }
    EXPECT_EQ(ComErrorText(15), "EnumPorts function failed");
    EXPECT_EQ(ComErrorText(16), "Failed to store settings");
    EXPECT_EQ(ComErrorText(17), "Failed to load settings");
    EXPECT_EQ(ComErrorText(19), "Cannot change led state if ComPort is selected");
    EXPECT_EQ(ComErrorText(23), "Registry error");
    EXPECT_EQ(ComErrorText(0), "");
    EXPECT_EQ(ComErrorText(24), "");
}

TEST_F(ReadWrite, OperationsOnAClosedPortFailWithTheirCodes)
{
    port.Close();
    char buf[2];
    ExpectComError([&] { port.Read(buf, 1); }, 3, EBADF, "ReadFile function failed");
    ExpectComError([&] { port.Write(buf, 1); }, 2, EBADF, "WriteFile function failed");
    ExpectComError([&] { port.InputCount(); }, 10, EBADF, "ClearCommError function failed");
    ExpectComError([&] { port.SetDTR(true); }, 12, EBADF, "EscapeCommFunction function failed");
}

TEST_F(ReadWrite, LineControlAndQueries)
{
    line.ClearCalls();
    port.SetBreak(true);
    port.SetBreak(false);
    port.SetDTR(true);
    port.SetDTR(false);
    port.SetRTS(true);
    port.SetRTS(false);
    port.SetXonXoff(true);
    port.SetXonXoff(false);
    port.ClearBuffer(true, false);
    port.ClearBuffer(false, true);
    port.ClearBuffer(false, false);
    std::vector<std::string> expected{"Escape 8",     "Escape 9",     "Escape 5",    "Escape 6",
                                      "Escape 3",     "Escape 4",     "Escape 2",    "Escape 1",
                                      "PurgeComm 8",  "PurgeComm 4",  "PurgeComm 0"};
    EXPECT_EQ(line.Calls(), expected);

    line.modem_status = comm::MS_CTS_ON | comm::MS_RING_ON | comm::MS_RLSD_ON;
    EXPECT_EQ(port.Signals(), (TComSignals{csCTS, csRing, csRLSD}));
    line.input = {1, 2, 3};
    EXPECT_EQ(port.InputCount(), 3);
    port.TransmitChar('!');
    EXPECT_EQ(line.written.back(), '!');
    line.errors = 0xFFFF;
    EXPECT_EQ(port.LastErrors(), (TComErrors{ceFrame, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull}));
}

} // namespace
