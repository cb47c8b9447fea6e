// What each serial port of the machine is, so that a program (or its user)
// can choose one by what it is rather than by a name that changes with the
// order things were plugged in: its product and maker, USB ids, serial
// number, driver and the stable links the system keeps for it.
#pragma once

#include "tarnby/cport/export.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnby {

struct TComPortInfo {
    // The device file, which TComPort's Port accepts ("/dev/ttyUSB0").
    std::string Port;
    // "COM1" for the first standard port (/dev/ttyS0); empty where no COMn
    // name leads to this device.
    std::string ComName;
    // The product as the device names itself ("FT232R USB UART"); empty for
    // a port that names nothing (a UART on the main board).
    std::string Description;
    std::string Manufacturer;
    std::string SerialNumber;
    // The USB ids of the adapter, or the PCI ids of a serial card.
    std::optional<std::uint16_t> VendorId;
    std::optional<std::uint16_t> ProductId;
    // The kernel driver behind the port ("ftdi_sio", "cdc_acm", "serial").
    std::string Driver;
    // The links that stay the same from one plugging to the next: by-id
    // names the device itself, by-path the socket it is plugged into. Empty
    // when the system keeps none (ports that are not removable usually).
    std::string ById;
    std::string ByPath;
    // Another program has the device open: opening it here would fail or
    // share the line.
    bool Busy = false;

    bool operator==(const TComPortInfo&) const = default;
};

// Where the system's device information lives. The defaults are the
// machine's own; a program in a container, or a test, can point them at
// another tree. Systems without these trees ignore them.
struct TComPortRoots {
    std::string Sys = "/sys";      // the kernel's device tree
    std::string Dev = "/dev";      // device files and their stable links
    std::string Lock = "/run/lock"; // "LCK..ttyUSB0" lock files of other programs

    bool operator==(const TComPortRoots&) const = default;
};

// The serial ports present, in natural order of their device files
// (/dev/ttyS2 before /dev/ttyS10). Pseudo-terminals are not listed: they
// belong to the program that made them (TComPort opens them all the same).
// Raises EComPort (errEnumPorts, with the system's error number) when the
// system's device information cannot be read at all.
TARNBY_CPORT_EXPORT std::vector<TComPortInfo> ListComPorts();
TARNBY_CPORT_EXPORT std::vector<TComPortInfo> ListComPorts(const TComPortRoots& roots);

} // namespace tarnby
