#include "terminal_window.h"

#include "tarnby/cport/extras/com_settings.h"
#include "tarnby/cport/extras/widgets/com_setup_dialog.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>

#include <cstdlib>

namespace {

constexpr const char* kTerminalSection = "Terminal";

struct LampRow {
    TComLedSignal signal;
    TLedKind kind;
    const char* label;
};
const LampRow kLamps[TerminalWindow::kLampCount] = {
    {lsConn, lkGreenLight, "Connected"}, {lsCTS, lkYellowLight, "CTS"}, {lsDSR, lkYellowLight, "DSR"},
    {lsRLSD, lkYellowLight, "Carrier"},  {lsRx, lkGreenLight, "RX"},    {lsTx, lkRedLight, "TX"},
};

const char* const kCarets[] = {"Block", "Underline", "None"};
const char* const kEmulations[] = {"VT100", "VT52", "None"};
const char* const kArrowKeys[] = {"Terminal", "Windows"};

template <size_t N>
int IndexOf(const char* const (&names)[N], const std::string& text, int fallback)
{
    for (size_t i = 0; i < N; ++i)
        if (QString::fromLatin1(names[i]).compare(QString::fromStdString(text), Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
    return fallback;
}

std::string YesNo(bool value) { return value ? "Yes" : "No"; }
bool IsYes(const std::string& text) { return QString::fromStdString(text).compare("yes", Qt::CaseInsensitive) == 0; }

} // namespace

std::string TerminalWindow::DefaultSettingsPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/')
        base = config;
    else
        base = std::string(std::getenv("HOME") ? std::getenv("HOME") : "") + "/.config";
    return base + "/tarnby/terminal.ini";
}

TerminalWindow::TerminalWindow(std::string settings_path, QWidget* parent)
    : QMainWindow(parent), settings_path_(std::move(settings_path))
{
    port_.SetName("SerialPort");
    port_.SetStoredProps({spBasic, spFlowControl});
    terminal_ = new TComTerminal(this);
    terminal_->SetWrapLines(true); // what a shell on the other end expects
    terminal_->SetComPort(&port_);
    setCentralWidget(terminal_);

    auto* lamps = new QWidget(this);
    auto* row = new QHBoxLayout(lamps);
    row->setContentsMargins(4, 0, 4, 0);
    for (int i = 0; i < kLampCount; ++i) {
        auto* lamp = new TComLed(lamps);
        lamp->setFixedSize(22, 22);
        lamp->SetKind(kLamps[i].kind);
        lamp->SetLedSignal(kLamps[i].signal);
        lamp->SetComPort(&port_);
        lamps_[static_cast<size_t>(i)] = lamp;
        row->addWidget(lamp);
        row->addWidget(new QLabel(QString::fromLatin1(kLamps[i].label), lamps));
        row->addSpacing(6);
    }
    // The lamps keep their labels whole; a long message is cut, not them.
    lamps->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    message_ = new QLabel(this);
    message_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(lamps);
    statusBar()->addWidget(message_, 1);
    statusBar()->setSizeGripEnabled(false);

    QMenu* port_menu = menuBar()->addMenu(QStringLiteral("&Port"));
    port_menu->addAction(QStringLiteral("&Connect"), this, [this] { Connect(); });
    port_menu->addAction(QStringLiteral("&Disconnect"), this, [this] { Disconnect(); });
    port_menu->addSeparator();
    port_menu->addAction(QStringLiteral("&Setup..."), this, [this] { PortSetup(); });
    port_menu->addSeparator();
    port_menu->addAction(QStringLiteral("&Quit"), this, [this] { close(); });
    QMenu* terminal_menu = menuBar()->addMenu(QStringLiteral("&Terminal"));
    terminal_menu->addAction(QStringLiteral("&Settings..."), this, [this] { TerminalSetup(); });
    terminal_menu->addAction(QStringLiteral("&Font..."), this, [this] { ChooseFont(); });
    terminal_menu->addAction(QStringLiteral("C&lear screen"), this, [this] { terminal_->ClearScreen(); });

    // A line whose far end has gone (a shell that exited, an adapter pulled)
    // reports an I/O error once and delivers nothing more: close the port,
    // so the lamps and the title say so, and tell how to come back.
    port_.OnError = [this](TObject*, TComErrors errors) {
        if (!errors.Contains(ceIO))
            return;
        const QString line = QString::fromStdString(port_.Port());
        port_.Close();
        UpdateTitle();
        ShowMessage(QStringLiteral("Line lost: %1 hung up or failed. Port > Connect reopens it.")
                        .arg(line));
    };

    // What reaches the application's handler (a port failing while data
    // arrives) is shown here rather than lost.
    SetApplicationExceptionHandler([this](const std::exception& e) { ShowMessage(QString::fromLocal8Bit(e.what())); });

    LoadSettings();
    UpdateTitle();
    FitToTerminal();
    terminal_->setFocus();
}

TerminalWindow::~TerminalWindow()
{
    SetApplicationExceptionHandler(nullptr);
    // The widgets let go of the port before it goes.
    terminal_->SetComPort(nullptr);
    for (TComLed* lamp : lamps_)
        lamp->SetComPort(nullptr);
    port_.Close();
}

void TerminalWindow::FitToTerminal()
{
    // Every cell in view, without scroll bars.
    resize(terminal_->sizeHint().width(),
           terminal_->sizeHint().height() + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
}

QString TerminalWindow::Message() const { return message_->text(); }

void TerminalWindow::ShowMessage(const QString& text)
{
    message_->setText(text);
    message_->setToolTip(text); // whole, where the status bar is too narrow
}

void TerminalWindow::UpdateTitle()
{
    QString line = QString::fromStdString(port_.Port() + "  " +
                                          (port_.BaudRate() == brCustom ? std::to_string(port_.CustomBaudRate())
                                                                        : BaudRateToStr(port_.BaudRate())) +
                                          " " + DataBitsToStr(port_.DataBits()) +
                                          ParityToStr(port_.Parity()->Bits()).substr(0, 1) +
                                          StopBitsToStr(port_.StopBits()));
    setWindowTitle(QStringLiteral("Serial terminal - ") + line + (port_.Connected() ? "" : "  (closed)"));
}

template <typename F>
bool TerminalWindow::Guarded(const char* what, F&& action)
{
    try {
        action();
        UpdateTitle();
        return true;
    } catch (const std::exception& e) {
        ShowMessage(QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(e.what()));
        UpdateTitle();
        return false;
    }
}

bool TerminalWindow::Connect()
{
    return Guarded("Connect", [this] {
        port_.Open();
        ShowMessage(QStringLiteral("Connected to ") + QString::fromStdString(port_.Port()));
    });
}

bool TerminalWindow::Disconnect()
{
    return Guarded("Disconnect", [this] {
        port_.Close();
        ShowMessage(QStringLiteral("Disconnected"));
    });
}

bool TerminalWindow::PortSetup()
{
    bool changed = false;
    bool ok = Guarded("Port setup", [&] { changed = ShowSetupDialog(port_, this); });
    if (ok && changed)
        return SaveSettings();
    return ok;
}

bool TerminalWindow::TerminalSetup()
{
    if (terminal_->ShowSetupDialog()) {
        FitToTerminal();
        return SaveSettings();
    }
    return true;
}

bool TerminalWindow::ChooseFont()
{
    QFont before = terminal_->font();
    terminal_->SelectFont();
    FitToTerminal();
    return terminal_->font() == before || SaveSettings();
}

bool TerminalWindow::LoadSettings()
{
    if (!QFileInfo::exists(QString::fromStdString(settings_path_)))
        return true;
    return Guarded("Settings", [this] {
        ::LoadSettings(port_, stIniFile, settings_path_);
        TIniFile ini(settings_path_);
        const char* s = kTerminalSection;
        TComTerminal& t = *terminal_;
        t.SetLocalEcho(IsYes(ini.ReadString(s, "LocalEcho", YesNo(t.LocalEcho()))));
        t.SetSendLF(IsYes(ini.ReadString(s, "SendLF", YesNo(t.SendLF()))));
        t.SetWrapLines(IsYes(ini.ReadString(s, "WrapLines", YesNo(t.WrapLines()))));
        t.SetForce7Bit(IsYes(ini.ReadString(s, "Force7Bit", YesNo(t.Force7Bit()))));
        t.SetAppendLF(IsYes(ini.ReadString(s, "AppendLF", YesNo(t.AppendLF()))));
        t.SetCaret(static_cast<TTermCaret>(IndexOf(kCarets, ini.ReadString(s, "Caret", ""), t.Caret())));
        t.SetEmulation(
            static_cast<TTermEmulation>(IndexOf(kEmulations, ini.ReadString(s, "Emulation", ""), t.Emulation())));
        t.SetColumns(ini.ReadInteger(s, "Columns", t.Columns()));
        t.SetRows(ini.ReadInteger(s, "Rows", t.Rows()));
        t.SetArrowKeys(static_cast<TArrowKeys>(IndexOf(kArrowKeys, ini.ReadString(s, "ArrowKeys", ""), t.ArrowKeys())));
        QFont font = t.font();
        std::string family = ini.ReadString(s, "Font", "");
        if (!family.empty())
            font.setFamily(QString::fromStdString(family));
        int size = ini.ReadInteger(s, "FontSize", font.pointSize());
        if (size >= 4 && size <= 72)
            font.setPointSize(size);
        t.SetTermFont(font);
    });
}

bool TerminalWindow::SaveSettings()
{
    return Guarded("Saving settings", [this] {
        QDir().mkpath(QFileInfo(QString::fromStdString(settings_path_)).absolutePath());
        ::StoreSettings(port_, stIniFile, settings_path_);
        TIniFile ini(settings_path_);
        const char* s = kTerminalSection;
        const TComTerminal& t = *terminal_;
        ini.WriteString(s, "LocalEcho", YesNo(t.LocalEcho()));
        ini.WriteString(s, "SendLF", YesNo(t.SendLF()));
        ini.WriteString(s, "WrapLines", YesNo(t.WrapLines()));
        ini.WriteString(s, "Force7Bit", YesNo(t.Force7Bit()));
        ini.WriteString(s, "AppendLF", YesNo(t.AppendLF()));
        ini.WriteString(s, "Caret", kCarets[t.Caret()]);
        ini.WriteString(s, "Emulation", kEmulations[t.Emulation()]);
        ini.WriteInteger(s, "Columns", t.Columns());
        ini.WriteInteger(s, "Rows", t.Rows());
        ini.WriteString(s, "ArrowKeys", kArrowKeys[t.ArrowKeys()]);
        ini.WriteString(s, "Font", t.font().family().toStdString());
        ini.WriteInteger(s, "FontSize", t.font().pointSize());
        ini.UpdateFile();
    });
}

void TerminalWindow::closeEvent(QCloseEvent* event)
{
    SaveSettings();
    QMainWindow::closeEvent(event);
}
