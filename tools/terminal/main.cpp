// terminal: a serial terminal on the Tarnby serial component. One window, a
// VT100 (or VT52) terminal on a port, the port's setup dialog, the
// terminal's settings, and lamps for the port's lines and traffic.
#include "command_line.h"
#include "terminal_window.h"

#include "tarnby/cport/extras/widgets/com_setup_dialog.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <optional>
#include <string>

namespace {

const char SUMMARY[] = R"(A serial terminal: what it receives is shown with VT100 (or VT52) control
sequences applied, what is typed is sent. Port and terminal settings are kept
in a settings file between runs and changed through the Port and Terminal
menus.)";

const char EPILOGUE[] = R"TEXT(Settings file: $XDG_CONFIG_HOME/tarnby/terminal.ini (~/.config/tarnby/terminal.ini
when XDG_CONFIG_HOME is not set): a section [SerialPort] with the port's
settings and a section [Terminal] with the terminal's. Options given here
are used for this run and stored like a change made in the window.

Examples:
  terminal --port /dev/ttyUSB0 --baud 115200 --connect
  sensor_emulator --ignore-input > /tmp/emulator & sleep 1
  terminal --port "$(head -1 /tmp/emulator)" --baud 19200 --connect
)TEXT";

struct Options {
    std::string settings;
    std::optional<std::string> port;
    std::optional<TBaudRate> baud;
    bool connect = false;
    std::string type;
    std::string screenshot;
    int delay_ms = 2000;
    int line_delay_ms = 500;
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
    auto option = [&p](const char* name, const char* help, const char* value = nullptr) {
        p.addOption(value ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help),
                                               QString::fromLatin1(value))
                          : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help)));
    };
    option("port", "The device to open: a path, or COMn for /dev/ttyS(n-1).", "DEVICE");
    option("baud", "Line speed: 110 to 256000 as the port setup lists them.", "RATE");
    option("connect", "Open the port at once.");
    option("settings", "The settings file to use instead of the usual one.", "FILE");
    option("type",
           "Type TEXT once connected, a line every half second (\\r, \\n, \\e, \\b and \\t as control "
           "characters).",
           "TEXT");
    option("screenshot", "Save a picture of the window to FILE (PNG) and quit.", "FILE");
    option("delay", "Wait MS milliseconds before the picture (default 2000).", "MS");
    cli.set_epilogue(QString::fromLatin1(EPILOGUE));
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
        const std::string text = p.value(QStringLiteral("baud")).toStdString();
        TBaudRate rate = StrToBaudRate(text);
        if (rate == brCustom || BaudRateToStr(rate) != text)
            cli.reject(QStringLiteral("--baud: \"%1\" is not one of the listed speeds").arg(QString::fromStdString(text)));
        o.baud = rate;
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
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    QApplication app(argc, argv);
    RegisterComPortSetupDialog();

    TerminalWindow window(options.settings);
    if (options.port || options.baud) {
        if (options.port)
            window.Port().SetPort(*options.port);
        if (options.baud)
            window.Port().SetBaudRate(*options.baud);
        window.SaveSettings();
    }
    window.show();
    int status = 0;
    if (options.connect && !window.Connect()) {
        std::fprintf(stderr, "terminal: %s\n", window.Message().toLocal8Bit().constData());
        status = 1;
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
            QTimer::singleShot(at, &window, [&window, line] {
                for (char c : line)
                    window.Terminal().SendChar(c);
            });
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
