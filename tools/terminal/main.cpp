// terminal: a serial terminal on the Tarnby serial component. One window, a
// VT100 (or VT52) terminal on a port, the port's setup dialog, the
// terminal's settings, and lamps for the port's lines and traffic.
#include "command_line.h"
#include "display_probe.h"
#include "terminal_window.h"

#include "tarnby/cport/extras/widgets/com_setup_dialog.h"
#include "tarnby/cport/port_info.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

const char SUMMARY[] = R"(A serial terminal: what it receives is shown with VT100 (or VT52) control
sequences applied, or in hex both ways, what is typed is sent, keystroke by
keystroke or a line at a time. Received data can be timed and logged, a line
whose device goes away is reopened when it comes back, and files go both
ways by raw, XMODEM or YMODEM. Port and terminal settings are kept in a
settings file between runs and changed through the Port and Terminal menus.)";

const char EPILOGUE[] = R"TEXT(Settings file: $XDG_CONFIG_HOME/tarnby/terminal.ini (~/.config/tarnby/terminal.ini
when XDG_CONFIG_HOME is not set): a section [SerialPort] with the port's
settings and a section [Terminal] with the terminal's. Options given here
are used for this run and stored like a change made in the window.

Speeds (--baud, bits per second): any the device can make; the usual ones
  %SPEEDS%.

File transfer: --send and --receive open the port, run the transfer with a
progress bar and Cancel in the window, and end the program with status 0
when it succeeded and 1 when not. A received file is written under a
temporary name and put in place only when whole; an existing file is never
replaced (a numbered name, "data.bin.1", instead). YMODEM names from the far
end are taken as bare file names inside the folder given.

Examples:
  terminal --port /dev/ttyUSB0 --baud 115200 --connect --timestamps --log ~/logs
  terminal --port /dev/ttyUSB0 --send firmware.bin --protocol ymodem
  sensor_emulator --ignore-input > /tmp/emulator & sleep 1
  terminal --port "$(head -1 /tmp/emulator)" --baud 19200 --connect --hex
)TEXT";

std::string SpeedList()
{
    const int32_t usual[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600};
    std::string list;
    for (int32_t rate : usual)
        list += (list.empty() ? "" : rate == 38400 ? ",\n  " : ", ") + std::to_string(rate);
    return list;
}

// A speed by its named value where it has one, else as a custom speed.
void SetSpeed(TCustomComPort& port, int32_t speed)
{
    const std::string text = std::to_string(speed);
    const TBaudRate named = StrToBaudRate(text);
    if (named != brCustom && BaudRateToStr(named) == text) {
        port.SetBaudRate(named);
        return;
    }
    port.SetCustomBaudRate(speed);
    port.SetBaudRate(brCustom);
}

struct Options {
    std::string settings;
    std::optional<std::string> port;
    std::optional<int32_t> baud;
    bool connect = false;
    std::string type;
    std::string screenshot;
    int delay_ms = 2000;
    int line_delay_ms = 500;
    bool hex = false;
    traffic::TimeMode times = traffic::TimeMode::Off;
    std::string log;
    bool log_shown = false;
    bool reconnect = true;
    std::optional<LineEnding> ending;
    std::string send, receive;
    transfer::Protocol protocol = transfer::Protocol::Raw;
    bool list = false;
};

// "\r", "\n", "\e" and "\\" in a text to type.
std::string Unescape(const QString& text)
{
    std::string in = text.toStdString(), out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 == in.size()) {
            out += in[i];
            continue;
        }
        char c = in[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 'e' ? '\x1b' : c == 't' ? '\t' : c == 'b' ? '\b' : c;
    }
    return out;
}

Options Parse(int argc, char** argv)
{
    command_line::ToolCommandLine cli(QStringLiteral("terminal"), QString::fromUtf8(SUMMARY));
    QCommandLineParser& p = cli.parser();
    const auto option = command_line::option_adder(p);
    option("port", "The device to open: a path, or COMn for /dev/ttyS(n-1).", "DEVICE");
    option("baud", "Line speed in bits per second (the usual ones are listed below).", "RATE");
    option("connect", "Open the port at once.");
    option("settings", "The settings file to use instead of the usual one.", "FILE");
    option("type",
           "Type TEXT once connected, a line every half second (\\r, \\n, \\e, \\b and \\t as control "
           "characters).",
           "TEXT");
    option("screenshot", "Save a picture of the window to FILE (PNG) and quit.", "FILE");
    option("delay", "Wait MS milliseconds before the picture (default 2000).", "MS");
    option("hex", "Show the traffic in hex both ways (Terminal > Hex view switches at any time).");
    option("timestamps", "Put the time of day, to the millisecond, before every received line (hex: every line).");
    option("timestamps-since-connect", "The same, as seconds since the port was opened.");
    option("log", "Append everything received to FILE; a folder gets a new file for the session.", "FILE");
    option("log-shown", "Log what is shown (with its times) rather than the raw bytes.");
    option("no-reconnect", "Do not wait for a device that went away to come back.");
    option("line-ending", "What Enter adds to a line typed in the line field: cr, lf, crlf or none.", "END");
    option("send", "Send FILE (with --protocol), then quit.", "FILE");
    option("receive", "Receive into PATH (a file for XMODEM, a folder for YMODEM), then quit.", "PATH");
    option("protocol", "raw, xmodem, xmodem-1k or ymodem (receiving: xmodem or ymodem).", "NAME");
    option("list", "List the serial devices and what the system knows of them, then quit.");
    cli.set_epilogue(QString::fromLatin1(EPILOGUE).replace(QStringLiteral("%SPEEDS%"),
                                                           QString::fromStdString(SpeedList())));
    cli.parse(argc, argv);

    Options o;
    o.settings = p.isSet(QStringLiteral("settings")) ? p.value(QStringLiteral("settings")).toStdString()
                                                     : TerminalWindow::DefaultSettingsPath();
    if (o.settings.empty())
        cli.reject(QStringLiteral("--settings: an empty path"));
    if (p.isSet(QStringLiteral("port"))) {
        o.port = p.value(QStringLiteral("port")).toStdString();
        if (o.port->empty())
            cli.reject(QStringLiteral("--port: an empty device name"));
    }
    if (p.isSet(QStringLiteral("baud"))) {
        // Whether the device can make it is for the device to say at connect.
        bool ok = false;
        const QString text = p.value(QStringLiteral("baud"));
        const int speed = text.toInt(&ok);
        if (!ok || speed <= 0)
            cli.reject(QStringLiteral("--baud: \"%1\" is not a speed in bits per second").arg(text));
        o.baud = speed;
    }
    o.connect = p.isSet(QStringLiteral("connect"));
    o.type = Unescape(p.value(QStringLiteral("type")));
    o.screenshot = p.value(QStringLiteral("screenshot")).toStdString();
    if (p.isSet(QStringLiteral("delay"))) {
        bool ok = false;
        o.delay_ms = p.value(QStringLiteral("delay")).toInt(&ok);
        if (!ok || o.delay_ms < 0 || o.delay_ms > 600000)
            cli.reject(QStringLiteral("--delay: \"%1\" is not a number of milliseconds").arg(p.value("delay")));
    }
    o.hex = p.isSet(QStringLiteral("hex"));
    if (p.isSet(QStringLiteral("timestamps")))
        o.times = traffic::TimeMode::WallClock;
    if (p.isSet(QStringLiteral("timestamps-since-connect")))
        o.times = traffic::TimeMode::SinceConnect;
    o.log = p.value(QStringLiteral("log")).toStdString();
    if (p.isSet(QStringLiteral("log")) && o.log.empty())
        cli.reject(QStringLiteral("--log: an empty path"));
    o.log_shown = p.isSet(QStringLiteral("log-shown"));
    o.reconnect = !p.isSet(QStringLiteral("no-reconnect"));
    if (p.isSet(QStringLiteral("line-ending"))) {
        const QString end = p.value(QStringLiteral("line-ending"));
        const QStringList names = {QStringLiteral("cr"), QStringLiteral("lf"), QStringLiteral("crlf"),
                                   QStringLiteral("none")};
        if (!names.contains(end))
            cli.reject(QStringLiteral("--line-ending: \"%1\" is not cr, lf, crlf or none").arg(end));
        o.ending = static_cast<LineEnding>(names.indexOf(end));
    }
    o.send = p.value(QStringLiteral("send")).toStdString();
    o.receive = p.value(QStringLiteral("receive")).toStdString();
    if ((p.isSet(QStringLiteral("send")) && o.send.empty()) || (p.isSet(QStringLiteral("receive")) && o.receive.empty()))
        cli.reject(QStringLiteral("--send and --receive need a path"));
    if (!o.send.empty() && !o.receive.empty())
        cli.reject(QStringLiteral("--send and --receive cannot go together"));
    if (p.isSet(QStringLiteral("protocol"))) {
        const auto protocol = transfer::ProtocolFromName(p.value(QStringLiteral("protocol")).toStdString());
        if (!protocol)
            cli.reject(QStringLiteral("--protocol: \"%1\" is not raw, xmodem, xmodem-1k or ymodem")
                           .arg(p.value(QStringLiteral("protocol"))));
        o.protocol = *protocol;
    } else if (!o.receive.empty()) {
        cli.reject(QStringLiteral("--receive needs --protocol xmodem or ymodem"));
    }
    if (!o.receive.empty() && o.protocol != transfer::Protocol::Xmodem && o.protocol != transfer::Protocol::Ymodem)
        cli.reject(QStringLiteral("--receive: by xmodem or ymodem only"));
    if (p.isSet(QStringLiteral("protocol")) && o.send.empty() && o.receive.empty())
        cli.reject(QStringLiteral("--protocol goes with --send or --receive"));
    o.list = p.isSet(QStringLiteral("list"));
    return o;
}

// One line a device: its path (and COM name), what it is, who made it, its
// USB ids and serial number, its driver and whether another program has it;
// then the links that name it the same way every time it is plugged in.
int ListPorts()
{
    std::vector<TComPortInfo> ports;
    try {
        ports = ListComPorts();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "terminal: cannot list the serial devices: %s\n", e.what());
        return 1;
    }
    if (ports.empty())
        std::fprintf(stderr, "terminal: no serial devices found\n");
    for (const TComPortInfo& port : ports) {
        std::string line = port.Port;
        if (!port.ComName.empty())
            line += " (" + port.ComName + ")";
        std::vector<std::string> facts;
        if (!port.Description.empty())
            facts.push_back(port.Description + (port.Manufacturer.empty() ? "" : " by " + port.Manufacturer));
        else if (!port.Manufacturer.empty())
            facts.push_back(port.Manufacturer);
        if (port.VendorId && port.ProductId) {
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04x:%04x", *port.VendorId, *port.ProductId);
            facts.push_back(std::string("id ") + ids);
        }
        if (!port.SerialNumber.empty())
            facts.push_back("serial number " + port.SerialNumber);
        if (!port.Driver.empty())
            facts.push_back("driver " + port.Driver);
        if (port.Busy)
            facts.push_back("in use by another program");
        for (size_t i = 0; i < facts.size(); ++i)
            line += (i == 0 ? "  " : ", ") + facts[i];
        std::printf("%s\n", line.c_str());
        for (const std::string& link : {port.ById, port.ByPath})
            if (!link.empty())
                std::printf("    %s\n", link.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    if (options.list)
        return ListPorts();
    if (const auto reason = display_probe::Unavailable()) {
        std::fprintf(stderr, "%s\n", display_probe::Message("terminal", *reason, "terminal ...", "or with QT_QPA_PLATFORM=offscreen for a picture or a transfer").c_str());
        return 1;
    }
    QApplication app(argc, argv);
    display_probe::Release();
    RegisterComPortSetupDialog();

    TerminalWindow window(options.settings);
    if (options.port || options.baud) {
        if (options.port)
            window.Port().SetPort(*options.port);
        if (options.baud)
            SetSpeed(window.Port(), *options.baud);
        window.SaveSettings();
    }
    // Like the port's, these are kept for the next run too.
    if (options.hex)
        window.SetHexView(true);
    if (options.times != traffic::TimeMode::Off)
        window.SetTimeMode(options.times);
    if (options.ending)
        window.SetLineEnding(*options.ending);
    window.SetReconnect(options.reconnect);
    if (!options.log.empty() && !window.StartLog(options.log, options.log_shown)) {
        std::fprintf(stderr, "terminal: %s\n", window.Message().toLocal8Bit().constData());
        return 1;
    }
    window.show();
    int status = 0;
    const bool transfer = !options.send.empty() || !options.receive.empty();
    if ((options.connect || transfer) && !window.Connect()) {
        QString message = window.Message();
        message.remove(QRegularExpression(QStringLiteral("^Connect: ")));
        std::fprintf(stderr, "terminal: %s\n", message.toLocal8Bit().constData());
        if (transfer)
            return 1;
        status = 1;
    }
    if (transfer) {
        auto done = [&window, &status](bool ok, const QString& message) {
            std::fprintf(ok ? stdout : stderr, "terminal: %s\n", message.toLocal8Bit().constData());
            status = ok ? 0 : 1;
            QTimer::singleShot(0, &window, [&window] { window.close(); });
        };
        const bool started = options.send.empty() ? window.ReceiveFiles(options.receive, options.protocol, done)
                                                  : window.SendFile(options.send, options.protocol, done);
        if (!started) {
            std::fprintf(stderr, "terminal: %s\n", window.Message().toLocal8Bit().constData());
            return 1;
        }
    }
    if (!options.type.empty()) {
        // Line by line, as a person types: each line once the one before has
        // had time to run, so its output does not mix with the typing.
        int at = 300;
        size_t start = 0;
        while (start < options.type.size()) {
            size_t end = options.type.find('\r', start);
            end = end == std::string::npos ? options.type.size() : end + 1;
            std::string line = options.type.substr(start, end - start);
            QTimer::singleShot(at, &window, [&window, line] { window.Type(line); });
            at += options.line_delay_ms;
            start = end;
        }
    }
    if (!options.screenshot.empty()) {
        QTimer::singleShot(options.delay_ms, &window, [&window, &options, &status] {
            if (!window.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "terminal: cannot write %s\n", options.screenshot.c_str());
                status = 1;
            }
            window.close();
        });
    }
    int loop = app.exec();
    return status != 0 ? status : loop;
}
