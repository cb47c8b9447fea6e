// How failures are reported: WinCode() is -1 for every failure that is not
// the system's, and a read() of the tty that fails under a direct Read is
// raised with errRead, the device and the system's reason.
#include "test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/wait.h>

TEST(FailureReport, FailuresNotTheSystemsHaveWinCodeMinusOne)
{
    TComPort port(nullptr);
    const RaiseCase cases[] = {
        {"a code alone", [] { throw EComPort(errLinkRegistration); }, errLinkRegistration},
        {"a message", [] { throw EComPort(std::string("no such thing")); }, errOther},
        {"async operation without its record",
         [&] {
             PAsync none = nullptr;
             port.ReadAsync(nullptr, 0, none);
         },
         errInvalidAsync},
        {"no setup dialog linked", [&] { port.ShowSetupDialog(); }, errOther},
        {"no event loop on the opening thread",
         [] {
             OnThreadWithoutEventLoop([] {
                 TComPort other(nullptr);
                 other.SetPort("/dev/null");
                 other.Open();
             });
         },
         errOther},
    };
    ExpectRaises(cases, [](const EComPort& e) {
        EXPECT_EQ(e.WinCode(), -1);
        EXPECT_EQ(e.SystemMessage(), "");
        EXPECT_EQ(std::string(e.what()).find("win error code"), std::string::npos) << e.what();
    });
}

TEST(FailureReport, FailedTtyReadRaisesReadErrorWithDeviceAndReason)
{
    FILE* probe = ::popen(TARNBY_READ_FAILURE_PROBE, "r");
    ASSERT_NE(probe, nullptr);
    std::string output;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, probe) != nullptr)
        output += chunk;
    int status = ::pclose(probe);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "probe status " << status << ": " << output;
    EXPECT_EQ(output, "code=" + std::to_string(errRead) + " win=" + std::to_string(EIO) +
                          " device=the port's reason=" + std::strerror(EIO) + "\n");
}
