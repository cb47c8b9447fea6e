// Linux's port information and device watch (os_hooks.h): the kernel's
// device tree under /sys says what is behind each tty, the device folder
// holds its file and udev's stable links, /proc and the lock folder say who
// holds it, and inotify on the device folder tells when devices come and go.
//
// The tree read for one tty (paths under the roots):
//   class/tty/ttyUSB0/device  -> the device behind the port (a USB
//                                interface, a PCI function, a platform UART)
//   .../driver                -> the driver bound to it
//   .../type                  -> 0 for a serial-core port with no UART there
//   up the chain: the USB device (idVendor, idProduct, manufacturer,
//   product, serial) or the PCI device (subsystem "pci", vendor, device)
#include "tarnby/cport/port_info.h"
#include "platform/os_hooks.h"

#include <linux/serial.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>
#include <unordered_set>

namespace tarnby::os {
namespace {

namespace fs = std::filesystem;

// The first line of a small attribute file, without trailing blanks; empty
// when there is none.
std::string ReadAttribute(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line))
        return {};
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// A hexadecimal id ("0403", "0x1a86"); nothing when absent or malformed.
std::optional<std::uint16_t> ReadId(const std::string& path)
{
    std::string text = ReadAttribute(path);
    if (text.empty())
        return std::nullopt;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (end == text.c_str() || *end != '\0' || value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// The last part of a symbolic link's target ("ftdi_sio" for .../drivers/ftdi_sio).
std::string LinkName(const std::string& path)
{
    char target[4096];
    ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    target[n] = '\0';
    std::string text(target);
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string Canonical(const std::string& path)
{
    std::error_code error;
    fs::path canonical = fs::canonical(path, error);
    return error ? std::string() : canonical.string();
}

// "COMn" for ttyS(n-1), the inverse of what comm::DevicePath makes of COMn.
std::string ComNameOf(const std::string& name)
{
    if (name.size() < 5 || name.compare(0, 4, "ttyS") != 0 || name.size() > 4 + 5)
        return {};
    for (size_t i = 4; i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9')
            return {};
    return "COM" + std::to_string(std::stol(name.substr(4)) + 1);
}

// What the chain of devices above the port says about it.
void DescribeHardware(const std::string& sys_devices, std::string device, TComPortInfo& info)
{
    // The driver of the device itself; serial-core's own layers (kernel 6.5
    // and later put a "port" and a "ctrl" device between a UART and its tty)
    // are skipped for the driver of the hardware below them.
    std::string at = device;
    while (at.size() > sys_devices.size() && LinkName(at + "/subsystem") == "serial-base")
        at = fs::path(at).parent_path().string();
    info.Driver = LinkName(at + "/driver");

    for (; device.size() > sys_devices.size(); device = fs::path(device).parent_path().string()) {
        if (Exists(device + "/idVendor") && Exists(device + "/idProduct")) {
            info.VendorId = ReadId(device + "/idVendor");
            info.ProductId = ReadId(device + "/idProduct");
            info.Description = ReadAttribute(device + "/product");
            info.Manufacturer = ReadAttribute(device + "/manufacturer");
            info.SerialNumber = ReadAttribute(device + "/serial");
            return;
        }
        if (LinkName(device + "/subsystem") == "pci") {
            info.VendorId = ReadId(device + "/vendor");
            info.ProductId = ReadId(device + "/device");
            return;
        }
    }
}

// The stable links of one kind ("by-id"), by the device file they lead to.
std::map<std::string, std::string> StableLinks(const std::string& folder)
{
    std::map<std::string, std::string> links;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return links;
    std::map<std::string, std::string> sorted; // the first name wins, whatever readdir's order
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            sorted.emplace(name, Canonical(folder + "/" + name));
    }
    ::closedir(dir);
    for (const auto& [name, target] : sorted)
        if (!target.empty())
            links.emplace(target, folder + "/" + name);
    return links;
}

// Every file that a process other than this one has open, as its canonical
// path. Processes of other users stay unseen without the privilege; the lock
// files cover the programs that leave one.
std::unordered_set<std::string> FilesOpenElsewhere()
{
    std::unordered_set<std::string> open;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return open;
    const std::string self = std::to_string(::getpid());
    while (dirent* entry = ::readdir(proc)) {
        std::string pid = entry->d_name;
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
            continue;
        std::string fd_folder = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fd_folder.c_str());
        if (fds == nullptr)
            continue;
        while (dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            char target[4096];
            ssize_t n = ::readlink((fd_folder + "/" + fd->d_name).c_str(), target, sizeof target - 1);
            if (n > 0 && target[0] == '/')
                open.emplace(target, static_cast<size_t>(n));
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return open;
}

// A UUCP-style lock file ("LCK..ttyUSB0" holding a process id) of a program
// that still runs.
bool LockedElsewhere(const std::string& lock_folder, const std::string& name)
{
    std::string text = ReadAttribute(lock_folder + "/LCK.." + name);
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return false;
    char* end = nullptr;
    long pid = std::strtol(text.c_str() + first, &end, 10);
    if (pid <= 0 || pid == ::getpid())
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace

int ListPortInfo(const TComPortRoots& roots, std::vector<TComPortInfo>& ports)
{
    ports.clear();
    const std::string class_tty = roots.Sys + "/class/tty";
    DIR* dir = ::opendir(class_tty.c_str());
    if (dir == nullptr)
        return errno;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);

    const std::string sys_devices = Canonical(roots.Sys);
    const auto by_id = StableLinks(roots.Dev + "/serial/by-id");
    const auto by_path = StableLinks(roots.Dev + "/serial/by-path");
    std::unordered_set<std::string> open_elsewhere;
    bool open_looked_up = false;

    for (const std::string& name : names) {
        // The same ports as EnumComPorts: a tty with hardware behind it
        // (virtual consoles and pseudo-terminals have none), not a
        // serial-core port that has found no UART, and a device file.
        const std::string base = class_tty + "/" + name;
        const std::string device = Canonical(base + "/device");
        if (device.empty())
            continue;
        std::string type = ReadAttribute(base + "/type");
        if (!type.empty() && std::atoi(type.c_str()) == PORT_UNKNOWN)
            continue;
        TComPortInfo info;
        info.Port = roots.Dev + "/" + name;
        if (::access(info.Port.c_str(), F_OK) != 0)
            continue;

        info.ComName = ComNameOf(name);
        DescribeHardware(sys_devices, device, info);
        const std::string file = Canonical(info.Port);
        if (auto link = by_id.find(file); link != by_id.end())
            info.ById = link->second;
        if (auto link = by_path.find(file); link != by_path.end())
            info.ByPath = link->second;
        if (!open_looked_up) {
            open_elsewhere = FilesOpenElsewhere();
            open_looked_up = true;
        }
        info.Busy = open_elsewhere.count(file) != 0 || LockedElsewhere(roots.Lock, name);
        ports.push_back(std::move(info));
    }
    return 0;
}

// ---- device watch ------------------------------------------------------------------------

namespace {

constexpr uint32_t kFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

// The link folders come and go with the first and last removable device;
// watching one again that is watched already changes nothing.
void WatchLinkFolders(const TComPortRoots& roots, int fd)
{
    for (const char* folder : {"/serial", "/serial/by-id", "/serial/by-path"})
        ::inotify_add_watch(fd, (roots.Dev + folder).c_str(), kFolderChanges | IN_ONLYDIR);
}

} // namespace

int MakeDeviceWatch(const TComPortRoots& roots, int& fd)
{
    fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return errno;
    if (::inotify_add_watch(fd, roots.Dev.c_str(), kFolderChanges | IN_ONLYDIR) < 0) {
        int error = errno;
        ::close(fd);
        fd = -1;
        return error;
    }
    WatchLinkFolders(roots, fd);
    return 0;
}

void TakeDeviceChanges(const TComPortRoots& roots, int fd)
{
    alignas(inotify_event) char events[4096];
    while (::read(fd, events, sizeof events) > 0) {
    }
    WatchLinkFolders(roots, fd);
}

void CloseDeviceWatch(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace tarnby::os
