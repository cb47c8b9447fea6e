// cport_monitor: a serial line monitor on the Tarnby serial port library.
//
// Opens a port, prints every byte that arrives as hex and as text, and sends
// what comes in on standard input. The port delivers its events through the
// Qt event loop of the thread that opened it (SyncMethod smThreadSync, the
// default), so OnRxChar runs here, on the main thread, between the reads of
// standard input. A port watcher follows the device: pulled out, the port
// closes; plugged back (found again by its stable by-id link, whatever its
// device file is now), it opens again with the same settings.
//
//   cport_monitor --list
//   cport_monitor --baud=115200 /dev/ttyUSB0
//   printf 'AT\r' | cport_monitor --keep-open COM1
#include <tarnby/cport/cport.h>
#include <tarnby/cport/port_info.h>
#include <tarnby/cport/port_watcher.h>
#include <tarnby/cport/version.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <getopt.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const kUsage =
    "Usage: cport_monitor [OPTION]... PORT\n"
    "   or: cport_monitor --list\n"
    "Open the serial port PORT (a device such as /dev/ttyUSB0, or COMn for /dev/ttyS(n-1)),\n"
    "print every byte that arrives as hex and as text, and send what comes in on standard input.\n"
    "A port whose adapter is pulled out is closed, and opened again when it is plugged back.\n"
    "Ends at the end of standard input, once the last byte has gone out, or on Ctrl-C.\n"
    "\n"
    "  -l, --list             list the serial ports with what each one is, and exit\n"
    "  -b, --baud=RATE        line speed in bits per second (default 9600)\n"
    "  -d, --data-bits=N      5, 6, 7 or 8 (default 8)\n"
    "  -p, --parity=NAME      none, odd, even, mark or space (default none)\n"
    "  -s, --stop-bits=N      1, 1.5 or 2 (default 1)\n"
    "  -f, --flow=NAME        none, hardware or software (default none)\n"
    "  -k, --keep-open        go on monitoring after the end of standard input\n"
    "  -h, --help             show this help and exit\n"
    "  -v, --version          show the version and exit\n"
    "\n"
    "Exit status: 0 when done, 1 when the port cannot be opened or fails, 2 for a wrong command line.\n";

int Usage(const std::string& message)
{
    std::fprintf(stderr, "cport_monitor: %s (see cport_monitor --help)\n", message.c_str());
    return 2;
}

// One text of a table (the library's own setting names, any case) or false.
template <typename T>
bool Pick(const std::string& text, T (*from_text)(const std::string&), std::string (*to_text)(T), T& value)
{
    value = from_text(text);
    std::string known = to_text(value);
    if (known.size() != text.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(known[i])) != std::tolower(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// Received bytes as hexdump -C prints them: offset, 16 bytes in hex, text.
class HexDump {
public:
    void Add(const std::string& bytes)
    {
        for (char c : bytes) {
            line_ += c;
            if (line_.size() == 16)
                Flush();
        }
        Flush();
        std::fflush(stdout);
    }

private:
    void Flush()
    {
        if (line_.empty())
            return;
        std::printf("%08zx ", offset_);
        for (size_t i = 0; i < 16; ++i) {
            if (i == 8)
                std::printf(" ");
            if (i < line_.size())
                std::printf(" %02x", static_cast<unsigned char>(line_[i]));
            else
                std::printf("   ");
        }
        std::printf("  |");
        for (char c : line_)
            std::putchar(c >= 0x20 && c < 0x7f ? c : '.');
        std::printf("|\n");
        offset_ += line_.size();
        line_.clear();
    }

    std::string line_;
    size_t offset_ = 0;
};

// One line a port: device, COM name, USB ids, product, maker, serial
// number, driver, stable link, and whether another program has it.
int List()
{
    using namespace tarnby;
    std::vector<TComPortInfo> ports;
    try {
        ports = ListComPorts();
    } catch (const EComPort& e) {
        std::fprintf(stderr, "cport_monitor: cannot list the ports: %s\n", e.what());
        return 1;
    }
    for (const TComPortInfo& p : ports) {
        std::string line = p.Port;
        if (!p.ComName.empty())
            line += " (" + p.ComName + ")";
        if (p.VendorId && p.ProductId) {
            char ids[16];
            std::snprintf(ids, sizeof ids, " %04x:%04x", *p.VendorId, *p.ProductId);
            line += ids;
        }
        for (const std::string* text : {&p.Description, &p.Manufacturer})
            if (!text->empty())
                line += " " + *text;
        if (!p.SerialNumber.empty())
            line += " serial " + p.SerialNumber;
        if (!p.Driver.empty())
            line += " [" + p.Driver + "]";
        if (!p.ById.empty())
            line += " " + p.ById;
        if (p.Busy)
            line += " (in use)";
        std::printf("%s\n", line.c_str());
    }
    if (ports.empty())
        std::fprintf(stderr, "cport_monitor: no serial ports\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    using namespace tarnby;

    int32_t baud = 9600;
    TDataBits data_bits = dbEight;
    TParityBits parity = prNone;
    TStopBits stop_bits = sbOneStopBit;
    TFlowControl flow = fcNone;
    bool keep_open = false;

    const option options[] = {
        {"baud", required_argument, nullptr, 'b'},      {"data-bits", required_argument, nullptr, 'd'},
        {"parity", required_argument, nullptr, 'p'},    {"stop-bits", required_argument, nullptr, 's'},
        {"flow", required_argument, nullptr, 'f'},      {"keep-open", no_argument, nullptr, 'k'},
        {"list", no_argument, nullptr, 'l'},            {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'v'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0; // our own one line
    for (;;) {
        const int c = getopt_long(argc, argv, "+:b:d:p:s:f:klhv", options, nullptr);
        if (c == -1)
            break;
        const std::string value = optarg != nullptr ? optarg : "";
        switch (c) {
        case 'b': {
            char* end = nullptr;
            errno = 0;
            const long rate = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || rate <= 0 || rate > 4000000)
                return Usage("wrong speed '" + value + "'");
            baud = static_cast<int32_t>(rate);
            break;
        }
        case 'd':
            if (!Pick(value, StrToDataBits, DataBitsToStr, data_bits))
                return Usage("wrong number of data bits '" + value + "'");
            break;
        case 'p':
            if (!Pick(value, StrToParity, ParityToStr, parity))
                return Usage("wrong parity '" + value + "'");
            break;
        case 's':
            if (!Pick(value, StrToStopBits, StopBitsToStr, stop_bits))
                return Usage("wrong number of stop bits '" + value + "'");
            break;
        case 'f':
            if (!Pick(value, StrToFlowControl, FlowControlToStr, flow) || flow == fcCustom)
                return Usage("wrong flow control '" + value + "'");
            break;
        case 'k':
            keep_open = true;
            break;
        case 'l':
            if (optind < argc)
                return Usage("--list takes no port");
            return List();
        case 'h':
            std::fputs(kUsage, stdout);
            return 0;
        case 'v':
            std::printf("cport_monitor (Tarnby serial port library) %s\n", TARNBY_CPORT_VERSION);
            return 0;
        case ':':
            return Usage(std::string("option '") + argv[optind - 1] + "' needs a value");
        default:
            return Usage("unknown option '" +
                         (optopt != 0 ? std::string("-") + static_cast<char>(optopt) : std::string(argv[optind - 1])) +
                         "'");
        }
    }
    if (optind == argc)
        return Usage("which port?");
    if (optind + 1 < argc)
        return Usage(std::string("one port only: '") + argv[optind + 1] + "' is one too many");
    const std::string port_name = argv[optind];

    // The port's events reach the handlers through this application's loop.
    QCoreApplication app(argc, argv);
    TComPort port(nullptr);
    port.SetPort(port_name);
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(baud);
    port.SetDataBits(data_bits);
    port.Parity()->SetBits(parity);
    port.SetStopBits(stop_bits);
    port.FlowControl()->SetFlowControl(flow);

    HexDump dump;
    port.OnRxChar = [&](TObject*, int32_t count) {
        std::string bytes;
        port.ReadStr(bytes, count);
        dump.Add(bytes);
    };
    // A handler's exception ends up here; the monitor stops with it.
    int status = 0;
    SetApplicationExceptionHandler([&](const std::exception& e) {
        std::fprintf(stderr, "cport_monitor: %s\n", e.what());
        status = 1;
        app.exit(1);
    });

    try {
        port.Open();
    } catch (const EComPort& e) {
        std::fprintf(stderr, "cport_monitor: cannot open %s: %s (%s)\n", port.DevicePath().c_str(),
                     e.SystemMessage().empty() ? e.what() : e.SystemMessage().c_str(), e.what());
        return 1;
    }
    std::fprintf(stderr, "cport_monitor: %s open at %d bit/s, %s data bits, parity %s, %s stop bits\n",
                 port.DevicePath().c_str(), static_cast<int>(baud), DataBitsToStr(data_bits).c_str(),
                 ParityToStr(parity).c_str(), StopBitsToStr(stop_bits).c_str());

    // The device is known by its stable link where it has one: plugged back,
    // it may have another device file.
    std::string device = port.DevicePath(), by_id;
    try {
        for (const TComPortInfo& info : ListComPorts())
            if (info.Port == device)
                by_id = info.ById;
    } catch (const EComPort&) {
        // Then it is followed by its device file.
    }
    auto ours = [&](const TComPortInfo& info) { return by_id.empty() ? info.Port == device : info.ById == by_id; };
    TComPortWatcher watcher;
    watcher.OnRemoved = [&](TObject*, const TComPortInfo& info) {
        if (info.Port != device || !port.Connected())
            return;
        port.Close();
        std::fprintf(stderr, "cport_monitor: %s is gone; waiting for it to come back\n", device.c_str());
    };
    auto plugged = [&](TObject*, const TComPortInfo& info) {
        if (port.Connected() || !ours(info))
            return;
        device = info.Port;
        port.SetPort(device);
        try {
            port.Open();
            std::fprintf(stderr, "cport_monitor: %s is back\n", device.c_str());
        } catch (const EComPort& e) {
            std::fprintf(stderr, "cport_monitor: %s is back but cannot be opened: %s\n", device.c_str(), e.what());
        }
    };
    watcher.OnAdded = plugged;
    watcher.OnChanged = plugged; // the stable link comes a moment after the device file
    try {
        watcher.SetActive(true);
    } catch (const EComPort& e) {
        std::fprintf(stderr, "cport_monitor: the port will not be followed if it goes: %s\n", e.what());
    }

    // Standard input to the port, as it comes.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) {
            input.setEnabled(false);
            if (!keep_open)
                app.quit();
            return;
        }
        if (!port.Connected()) {
            std::fprintf(stderr, "cport_monitor: %zd bytes dropped: %s is not there\n", n, device.c_str());
            return;
        }
        try {
            // The blocking write returns once the bytes have gone to the
            // device (or its write time-out ran out).
            const int32_t written = port.Write(buffer, static_cast<int32_t>(n));
            if (written != n) {
                std::fprintf(stderr, "cport_monitor: %d of %zd bytes went out before the time-out\n",
                             static_cast<int>(written), n);
                status = 1;
            }
        } catch (const EComPort& e) {
            std::fprintf(stderr, "cport_monitor: %s: %s\n", port.DevicePath().c_str(), e.what());
            app.exit(1);
        }
    });

    const int result = app.exec();
    port.Close();
    return result != 0 ? result : status;
}
