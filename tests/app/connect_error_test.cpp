// The window's failed Connect: the serial component's message, then the
// device, the system's reason and what to do, different for a missing, a
// busy, a forbidden and a non-serial device.
#include "app/connect_error.h"
#include "app_test_support.h"
#include "pseudo_terminal.h"

#include <QPushButton>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <set>
#include <vector>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(ConnectErrorText, NamesTheDeviceTheReasonAndWhatToDo)
{
    const struct {
        int error;
        std::string port, device;
        std::vector<std::string> parts;
    } cases[] = {
        {ENOENT, "COM3", "/dev/ttyS2",
         {"Unable to open com port (win error code: 2)\n",
          "cannot open /dev/ttyS2 (COM3): No such file or directory", "no such device", "TARNBY_PORT="}},
        {EBUSY, "COM3", "/dev/ttyS2",
         {"(win error code: 16)", "cannot open /dev/ttyS2 (COM3): Device or resource busy", "Another program",
          "fuser /dev/ttyS2", "TARNBY_PORT="}},
        {EACCES, "/dev/ttyUSB0", "/dev/ttyUSB0",
         {"(win error code: 13)", "cannot open /dev/ttyUSB0: Permission denied", "ls -l /dev/ttyUSB0", "dialout",
          "TARNBY_PORT="}},
        {ENOTTY, "/dev/null", "/dev/null",
         {"cannot open /dev/null: Inappropriate ioctl for device", "/dev/null is no serial device", "TARNBY_PORT="}},
        {EIO, "COM1", "/dev/ttyS0", {"cannot open /dev/ttyS0 (COM1): Input/output error", "TARNBY_PORT="}},
    };
    for (const auto& c : cases) {
        const std::string text = connect_error_text(EComPort(errOpen, c.error, c.device), c.port);
        EXPECT_EQ(text.rfind("Unable to open com port", 0), 0u) << "the component's message comes first:\n" << text;
        for (const std::string& part : c.parts)
            EXPECT_TRUE(has(text, part)) << "missing \"" << part << "\" in:\n" << text;
    }
    // The four reasons read differently.
    std::set<std::string> advice;
    for (int error : {ENOENT, EBUSY, EACCES, ENOTTY}) {
        const std::string text = connect_error_text(EComPort(errOpen, error, "/dev/ttyS2"), "COM3");
        advice.insert(text.substr(text.rfind("\n\n")));
    }
    EXPECT_EQ(advice.size(), 4u);

    // Not an open: the device and the reason, no advice about opening.
    const std::string setup = connect_error_text(EComPort(errSetCommState, EINVAL, "/dev/ttyS2"), "COM3");
    EXPECT_EQ(setup, "SetCommState function failed (win error code: 22)\n\n/dev/ttyS2 (COM3): Invalid argument");
    // No platform error: the component's message alone.
    EXPECT_EQ(connect_error_text(EComPort(errWhileConnected), "COM3"), "Cannot set property while connected");
}

TEST(SerialErrorText, OtherFailuresNameTheDeviceAndTheReason)
{
    EXPECT_EQ(serial_error_text(EComPort(errWrite, EIO, "/dev/pts/5")),
              "WriteFile function failed (win error code: 5)\n\n/dev/pts/5: Input/output error");
    EXPECT_EQ(serial_error_text(EComPort(errWrite, EIO)), "WriteFile function failed (win error code: 5)\n\nInput/output error");
    EXPECT_EQ(serial_error_text(EComPort(errRxBufLinked)), "A component is linked to OnRxBuf event");
}

// The real window, its Connect button and its error box.
class ConnectErrorWindow : public WindowTest {
protected:
    std::string connect_on(const char* port)
    {
        ScopedEnv env("TARNBY_PORT", port);
        form = std::make_unique<TForm1>();
        errors_shown.clear();
        form->Button3->click();
        EXPECT_FALSE(form->ComPort1->Connected());
        EXPECT_EQ(errors_shown.size(), 1);
        return errors_shown.isEmpty() ? std::string() : errors_shown.last().toStdString();
    }
};

TEST_F(ConnectErrorWindow, MissingBusyAndForbiddenDevices)
{
    std::string shown = connect_on("/dev/tarnby-no-such-device");
    EXPECT_TRUE(has(shown, "Unable to open com port (win error code: 2)")) << shown;
    EXPECT_TRUE(has(shown, "cannot open /dev/tarnby-no-such-device: No such file or directory")) << shown;
    EXPECT_TRUE(has(shown, "TARNBY_PORT=")) << shown;

    // Busy: another port holds the device (a pseudo-terminal) exclusively.
    pty::PseudoTerminal far;
    const std::string device = far.slave_path();
    {
        TComPort holder(nullptr);
        holder.SetPort(device);
        holder.SetEvents({});
        holder.Open();
        shown = connect_on(device.c_str());
        EXPECT_TRUE(has(shown, "cannot open " + device + ": Device or resource busy")) << shown;
        EXPECT_TRUE(has(shown, "Another program")) << shown;
    }

    // Forbidden: root may open any file, so the device layer is told to
    // answer as the kernel does for a user outside the device's group.
    comm::SetComDeviceOpener([](const std::string&, int& error) -> std::unique_ptr<comm::ComDevice> {
        error = EACCES;
        return nullptr;
    });
    shown = connect_on("COM3");
    comm::SetComDeviceOpener({});
    EXPECT_TRUE(has(shown, "cannot open /dev/ttyS2 (COM3): Permission denied")) << shown;
    EXPECT_TRUE(has(shown, "dialout")) << shown;
}

}  // namespace
