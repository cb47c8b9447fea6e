// The port listing: on a fake device tree (fake_tree/: a USB adapter, a USB
// modem-class board, a PCI card, the board's UART, a small board's platform
// UART, a pre-created port with no UART, a USB adapter without its device
// file, consoles and pseudo-terminals), and on this machine's real ports
// against EnumComPorts and Qt's QSerialPortInfo.
#include "tarnby/cport/cport.h"
#include "tarnby/cport/port_info.h"

#include <gtest/gtest.h>

#ifdef TARNBY_HAVE_QSERIALPORT
#include <QSerialPortInfo>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

using namespace tarnby;

namespace {

TComPortRoots FakeRoots(const std::string& lock = "/nonexistent")
{
    return {TARNBY_FAKE_TREE "/sys", TARNBY_FAKE_TREE "/dev", lock};
}

std::string Dev(const std::string& name) { return TARNBY_FAKE_TREE "/dev/" + name; }

std::string Describe(const TComPortInfo& p)
{
    auto id = [](const std::optional<uint16_t>& v) { return v ? std::to_string(*v) : std::string("-"); };
    return p.Port + " [" + p.ComName + "] [" + p.Description + "] [" + p.Manufacturer + "] [" + p.SerialNumber +
           "] " + id(p.VendorId) + ":" + id(p.ProductId) + " [" + p.Driver + "] [" + p.ById + "] [" + p.ByPath +
           "] busy=" + std::to_string(p.Busy);
}

// A process that holds a file open until it is destroyed.
class OtherHolder {
public:
    explicit OtherHolder(const std::string& path)
    {
        int ready[2], hold[2];
        if (::pipe(ready) != 0 || ::pipe(hold) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(hold[1]);
            ::close(ready[0]);
            int fd = ::open(path.c_str(), O_RDONLY);
            char c = fd >= 0 ? 'y' : 'n';
            [[maybe_unused]] ssize_t w = ::write(ready[1], &c, 1);
            [[maybe_unused]] ssize_t r = ::read(hold[0], &c, 1); // until the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        release_fd_ = hold[1];
        char c = 0;
        opened_ = ::read(ready[0], &c, 1) == 1 && c == 'y';
        ::close(ready[0]);
    }
    ~OtherHolder()
    {
        if (release_fd_ >= 0)
            ::close(release_fd_);
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }
    bool Opened() const { return opened_; }
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int release_fd_ = -1;
    bool opened_ = false;
};

} // namespace

TEST(PortInfo, FakeTreeListsEveryKindOfPortAndNothingElse)
{
    const std::string by_id = Dev("serial/by-id/"), by_path = Dev("serial/by-path/");
    // Natural order of the device files; ttyS1 (no UART), ttyUSB1 (no
    // device file), consoles and pseudo-terminals are not ports.
    const std::vector<TComPortInfo> expected = {
        {Dev("ttyACM0"), "", "Arduino Uno", "Arduino (www.arduino.cc)", "", 0x2341, 0x0043, "cdc_acm",
         by_id + "usb-Arduino__www.arduino.cc__Arduino_Uno-if00", by_path + "pci-0000:00:14.0-usb-0:3:1.0", false},
        {Dev("ttyAMA0"), "", "", "", "", std::nullopt, std::nullopt, "uart-pl011", "", "", false},
        {Dev("ttyS0"), "COM1", "", "", "", std::nullopt, std::nullopt, "serial", "", "", false},
        {Dev("ttyS4"), "COM5", "", "", "", 0x9710, 0x9865, "serial", "", "", false},
        {Dev("ttyUSB0"), "", "FT232R USB UART", "FTDI", "A6008isP", 0x0403, 0x6001, "ftdi_sio",
         by_id + "usb-FTDI_FT232R_USB_UART_A6008isP-if00-port0", by_path + "pci-0000:00:14.0-usb-0:2:1.0-port0",
         false},
    };
    const std::vector<TComPortInfo> listed = ListComPorts(FakeRoots());
    ASSERT_EQ(listed.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(Describe(listed[i]), Describe(expected[i]));
}

TEST(PortInfo, BusyWhenAnotherProgramHoldsTheDeviceOrItsLock)
{
    // Held open by another process; a lock file of a running program, of this
    // program (not another) and of a process that cannot exist.
    OtherHolder holder(Dev("ttyUSB0"));
    ASSERT_TRUE(holder.Opened());
    const std::string lock = ::testing::TempDir() + "port_info_locks";
    std::system(("rm -rf '" + lock + "' && mkdir -p '" + lock + "'").c_str());
    const struct {
        const char* name;
        std::string pid;
    } locks[] = {
        {"ttyS0", "      " + std::to_string(holder.Pid()) + "\n"},
        {"ttyS4", std::to_string(::getpid())},
        {"ttyACM0", "4194304"},
        {"ttyAMA0", "not a pid"},
    };
    for (const auto& l : locks)
        std::ofstream(lock + "/LCK.." + l.name) << l.pid;

    std::set<std::string> busy;
    for (const TComPortInfo& port : ListComPorts(FakeRoots(lock)))
        if (port.Busy)
            busy.insert(port.Port);
    EXPECT_EQ(busy, (std::set<std::string>{Dev("ttyS0"), Dev("ttyUSB0")}));
}

TEST(PortInfo, UnreadableTreeRaisesEnumPortsError)
{
    try {
        ListComPorts({"/nonexistent/sys", "/dev", "/run/lock"});
        FAIL() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), errEnumPorts);
        EXPECT_EQ(e.WinCode(), ENOENT);
    }
}

TEST(PortInfo, RealPortsAgreeWithEnumComPorts)
{
    TStringList names;
    EnumComPorts(names);
    std::set<std::string> enumerated, listed;
    for (int i = 0; i < names.Count(); ++i)
        enumerated.insert(names.Strings(i));
    for (const TComPortInfo& port : ListComPorts())
        listed.insert(port.Port);
    EXPECT_EQ(listed, enumerated);
}

#ifdef TARNBY_HAVE_QSERIALPORT
// Whatever Qt reports of a port, the listing reports the same; where Qt
// reports nothing the listing may say more (the driver, PCI ids, links).
TEST(PortInfo, RealPortsAgreeWithQSerialPortInfo)
{
    std::vector<TComPortInfo> ours = ListComPorts();
    const QList<QSerialPortInfo> theirs = QSerialPortInfo::availablePorts();
    std::set<std::string> our_ports, their_ports;
    for (const TComPortInfo& port : ours)
        our_ports.insert(port.Port);
    for (const QSerialPortInfo& port : theirs)
        their_ports.insert(port.systemLocation().toStdString());
    EXPECT_EQ(our_ports, their_ports);

    for (const QSerialPortInfo& port : theirs) {
        auto same = std::find_if(ours.begin(), ours.end(), [&](const TComPortInfo& p) {
            return p.Port == port.systemLocation().toStdString();
        });
        if (same == ours.end())
            continue;
        SCOPED_TRACE(Describe(*same));
        auto agrees = [](const QString& qt, const std::string& mine) { return qt.isEmpty() || qt.toStdString() == mine; };
        EXPECT_TRUE(agrees(port.description(), same->Description)) << port.description().toStdString();
        EXPECT_TRUE(agrees(port.manufacturer(), same->Manufacturer)) << port.manufacturer().toStdString();
        EXPECT_TRUE(agrees(port.serialNumber(), same->SerialNumber)) << port.serialNumber().toStdString();
        if (port.hasVendorIdentifier()) {
            EXPECT_EQ(same->VendorId, std::optional<uint16_t>(port.vendorIdentifier()));
        }
        if (port.hasProductIdentifier()) {
            EXPECT_EQ(same->ProductId, std::optional<uint16_t>(port.productIdentifier()));
        }
    }
}
#endif
