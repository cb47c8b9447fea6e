#include "app/connect_error.h"

#include "tarnby/cport/cport.h"

#include <cerrno>

namespace {

// "/dev/ttyS2 (COM3)", or the path alone when the port is named by it.
std::string device_and_port(const tarnby::EComPort& error, const std::string& port)
{
    if (error.Device().empty() || error.Device() == port)
        return port;
    return error.Device() + " (" + port + ")";
}

const char* const kOtherDevice = "TARNBY_PORT names the sensor unit's serial device, for instance "
                                 "TARNBY_PORT=/dev/ttyUSB0 tarnby";

std::string advice(int error, const std::string& device)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return "There is no such device: plug in the sensor unit's serial adapter, or start the program on the "
               "device it has. " + std::string(kOtherDevice) + ".";
    case EBUSY:
        return "Another program has the device open: close that program (fuser " + device +
               " names it), or use another device. " + kOtherDevice + ".";
    case EACCES:
    case EPERM:
        return "You may not open the device: add your user to the group that owns it (ls -l " + device +
               " shows it, usually dialout) and log in again, or use another device. " + kOtherDevice + ".";
    case ENOTTY:
        return device + " is no serial device. " + kOtherDevice + ".";
    default:
        return kOtherDevice + std::string(".");
    }
}

}

std::string connect_error_text(const tarnby::EComPort& error, const std::string& port)
{
    std::string text = error.what();
    if (error.SystemMessage().empty())
        return text;
    const std::string device = error.Device().empty() ? port : error.Device();
    if (error.Code() == tarnby::errOpen) {
        text += "\n\ncannot open " + device_and_port(error, port) + ": " + error.SystemMessage();
        text += "\n\n" + advice(error.WinCode(), device);
    } else {
        text += "\n\n" + device_and_port(error, port) + ": " + error.SystemMessage();
    }
    return text;
}

std::string serial_error_text(const tarnby::EComPort& error)
{
    std::string text = error.what();
    if (error.SystemMessage().empty())
        return text;
    if (!error.Device().empty())
        text += "\n\n" + error.Device() + ": " + error.SystemMessage();
    else
        text += "\n\n" + error.SystemMessage();
    return text;
}
