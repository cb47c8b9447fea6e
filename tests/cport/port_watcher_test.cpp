// The hot-plug watch on a copy of the fake device tree: device files and
// stable links made and removed as udev would, one of them a link to a real
// pseudo-terminal, and the events that reach the owner's event loop.
#include "test_support.h"

#include "tarnby/cport/port_watcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// A private copy of the fake tree, which the test changes.
class TreeCopy {
public:
    TreeCopy()
    {
        root_ = fs::path(::testing::TempDir()) / ("port_watcher_" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::copy(TARNBY_FAKE_TREE, root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    ~TreeCopy() { fs::remove_all(root_); }
    TComPortRoots Roots() const { return {(root_ / "sys").string(), (root_ / "dev").string(), "/nonexistent"}; }
    std::string Dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

private:
    fs::path root_;
};

std::string Short(const TComPortInfo& port)
{
    std::string line = fs::path(port.Port).filename().string();
    if (!port.Description.empty())
        line += " " + port.Description;
    if (!port.ById.empty())
        line += " by-id " + fs::path(port.ById).filename().string();
    return line;
}

void Record(TComPortWatcher& watcher, EventLog& log)
{
    watcher.OnAdded = [&](TObject*, const TComPortInfo& p) { log.Add("Added " + Short(p)); };
    watcher.OnRemoved = [&](TObject*, const TComPortInfo& p) { log.Add("Removed " + Short(p)); };
    watcher.OnChanged = [&](TObject*, const TComPortInfo& p) { log.Add("Changed " + Short(p)); };
}

} // namespace

TEST(PortWatcher, PlugAndPullAreReportedOnTheOwnersLoop)
{
    TreeCopy tree;
    pty::PseudoTerminal terminal;
    TComPortWatcher watcher;
    EventLog log;
    Record(watcher, log);
    watcher.SetRoots(tree.Roots());
    watcher.SetActive(true);
    EXPECT_EQ(watcher.Ports(), ListComPorts(tree.Roots()));
    EXPECT_EQ(log.Size(), 0u) << "no events for the ports already there";

    const std::string link = "serial/by-id/usb-1a86_USB_Serial-if00-port0";
    // What changes in the device folder, and the one event it brings. A file
    // that is not a port's (a new pseudo-terminal's, a console's) brings
    // none: the event of the step after it would come second otherwise.
    const struct {
        std::function<void()> act;
        std::vector<std::string> events;
    } steps[] = {
        {[&] { fs::create_symlink(terminal.slave_path(), tree.Dev("ttyUSB1")); }, {"Added ttyUSB1 USB Serial"}},
        {[&] { fs::create_symlink("../../ttyUSB1", tree.Dev(link)); },
         {"Changed ttyUSB1 USB Serial by-id usb-1a86_USB_Serial-if00-port0"}},
        {[&] {
             std::ofstream(tree.Dev("tty2"));
             std::ofstream(tree.Dev("pts/2"));
             fs::remove(tree.Dev("ttyUSB1"));
             fs::remove(tree.Dev(link));
         },
         {"Removed ttyUSB1 USB Serial by-id usb-1a86_USB_Serial-if00-port0"}},
        {[&] { fs::remove(tree.Dev("ttyS0")); }, {"Removed ttyS0"}},
        {[&] { std::ofstream(tree.Dev("ttyS0")); }, {"Added ttyS0"}},
        // The link folders go with the last removable device and come back
        // with the next one; the watch follows them.
        {[&] {
             fs::remove(tree.Dev("ttyACM0"));
             fs::remove(tree.Dev("ttyUSB0"));
             fs::remove_all(tree.Dev("serial"));
         },
         {"Removed ttyACM0 Arduino Uno by-id usb-Arduino__www.arduino.cc__Arduino_Uno-if00",
          "Removed ttyUSB0 FT232R USB UART by-id usb-FTDI_FT232R_USB_UART_A6008isP-if00-port0"}},
        {[&] { std::ofstream(tree.Dev("ttyACM0")); }, {"Added ttyACM0 Arduino Uno"}},
        {[&] {
             fs::create_directories(tree.Dev("serial/by-id"));
             fs::create_symlink("../../ttyACM0", tree.Dev("serial/by-id/usb-Arduino_Uno-if00"));
         },
         {"Changed ttyACM0 Arduino Uno by-id usb-Arduino_Uno-if00"}},
    };
    std::vector<std::string> expected;
    for (const auto& step : steps) {
        step.act();
        expected.insert(expected.end(), step.events.begin(), step.events.end());
        ASSERT_TRUE(PumpUntil([&] { return log.Size() >= expected.size(); })) << "waiting for: " << step.events[0];
        EXPECT_EQ(log.Lines(), expected);
    }
    EXPECT_EQ(watcher.Ports(), ListComPorts(tree.Roots()));

    // Stopped, it reports nothing more.
    watcher.SetActive(false);
    fs::remove(tree.Dev("ttyS4"));
    std::ofstream(tree.Dev("ttyUSB1"));
    PumpFor(200);
    EXPECT_EQ(log.Lines(), expected);
}

TEST(PortWatcher, HandlerMayDestroyTheWatcher)
{
    TreeCopy tree;
    auto watcher = std::make_unique<TComPortWatcher>();
    watcher->SetRoots(tree.Roots());
    int removed = 0;
    watcher->OnRemoved = [&](TObject*, const TComPortInfo&) {
        ++removed;
        watcher.reset();
    };
    watcher->SetActive(true);
    // Two ports go before the loop runs: one look, two removals, and the
    // watcher is gone after the first.
    fs::remove(tree.Dev("ttyS0"));
    fs::remove(tree.Dev("ttyS4"));
    ASSERT_TRUE(PumpUntil([&] { return watcher == nullptr; }));
    PumpFor(100);
    EXPECT_EQ(removed, 1);
}

TEST(PortWatcher, RefusesWhatItCannotDo)
{
    TreeCopy tree;
    TComPortWatcher watcher;
    const RaiseCase cases[] = {
        {"a thread without an event loop",
         [] {
             OnThreadWithoutEventLoop([] {
                 TComPortWatcher other;
                 other.SetActive(true);
             });
         },
         errOther},
        {"no device folder",
         [&] {
             TComPortRoots roots = tree.Roots();
             roots.Dev += "/missing";
             watcher.SetRoots(roots);
             watcher.SetActive(true);
         },
         errEnumPorts},
        {"new roots while active",
         [&] {
             watcher.SetRoots(tree.Roots());
             watcher.SetActive(true);
             TComPortRoots roots = tree.Roots();
             roots.Lock = "/tmp";
             watcher.SetRoots(roots);
         },
         errWhileConnected},
    };
    ExpectRaises(cases);
    EXPECT_TRUE(watcher.Active()) << "a refused change of roots leaves it watching";
}
