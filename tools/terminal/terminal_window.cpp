#include "terminal_window.h"

#include "transfer_files.h"

#include "tarnby/cport/extras/com_settings.h"
#include "tarnby/cport/extras/widgets/com_setup_dialog.h"

#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextBlock>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

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

namespace {

// How to get past a port that does not open, by the system's reason.
QString OpenAdvice(int error, const std::string& device)
{
    const QString dev = QString::fromStdString(device);
    const QString other = QStringLiteral("choose another device under Port > Setup (terminal --list shows them).");
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return QStringLiteral("There is no such device: plug the adapter in, or ") + other;
    case EBUSY:
        return QStringLiteral("Another program has it open: close that one (fuser %1 names it), or ").arg(dev) + other;
    case EACCES:
    case EPERM:
        return QStringLiteral("You may not open it: add yourself to the group that owns it (ls -l %1 shows it, "
                              "usually dialout) and log in again, or ")
                   .arg(dev) +
               other;
    case ENOTTY:
        return dev + QStringLiteral(" is no serial device: ") + other;
    default:
        return QStringLiteral("Check the device, or ") + other;
    }
}

// "cannot open /dev/ttyUSB0: No such file or directory. There is no such
// device: ...", or the component's own text where the system gave none.
QString ErrorText(const std::exception& e, const std::string& port)
{
    const auto* com = dynamic_cast<const EComPort*>(&e);
    if (com == nullptr || com->SystemMessage().empty())
        return QString::fromLocal8Bit(e.what());
    const std::string device = com->Device().empty() ? port : com->Device();
    const QString reason = QString::fromLocal8Bit(com->SystemMessage().c_str());
    if (com->Code() == errOpen)
        return QStringLiteral("cannot open %1: %2. %3")
            .arg(QString::fromStdString(device), reason, OpenAdvice(com->WinCode(), device));
    return QString::fromStdString(device) + QStringLiteral(": ") + reason;
}

const char* const kEndings[] = {"CR", "LF", "CR LF", "None"};
const char* const kTimeModes[] = {"Off", "WallClock", "SinceConnect"};
const char* const kEndingBytes[] = {"\r", "\n", "\r\n", ""};

} // namespace

TerminalWindow::TerminalWindow(std::string settings_path, QWidget* parent)
    : QMainWindow(parent), settings_path_(std::move(settings_path))
{
    port_.SetName("SerialPort");
    port_.SetStoredProps({spBasic, spFlowControl});

    auto* centre = new QWidget(this);
    auto* column = new QVBoxLayout(centre);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    views_ = new QStackedWidget(centre);
    terminal_ = new TComTerminal(views_);
    terminal_->SetWrapLines(true); // what a shell on the other end expects
    // A VT100's bold is brighter as well as heavier: plain text in a soft
    // white leaves room for bold in full white.
    terminal_->SetFontColor(QColor(0xd0, 0xd0, 0xd0));
    terminal_->SetAltColor(Qt::white);
    hex_view_ = new QPlainTextEdit(views_);
    hex_view_->setReadOnly(true);
    hex_view_->setLineWrapMode(QPlainTextEdit::NoWrap);
    hex_view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    hex_view_->setMaximumBlockCount(20000); // a long session does not grow without end
    views_->addWidget(terminal_);
    views_->addWidget(hex_view_);
    column->addWidget(views_, 1);
    BuildLineInput(centre);
    setCentralWidget(centre);

    // Everything the port reads or writes passes here too: counts, hex
    // view, log and transfers. The terminal has its own link while it shows.
    link_.OnRxBuf = [this](TObject*, const void* buffer, int32_t count) {
        OnReceived(static_cast<const uint8_t*>(buffer), static_cast<size_t>(std::max(count, 0)));
    };
    link_.OnTxBuf = [this](TObject*, const void* buffer, int32_t count) {
        OnSent(static_cast<const uint8_t*>(buffer), static_cast<size_t>(std::max(count, 0)));
    };
    port_.RegisterLink(&link_);
    terminal_->OnStrRecieved = [this](TCustomComTerminal*, std::string& text) {
        text = stamper_.Apply(text, clock_.Stamp());
        if (log_shown_)
            WriteLog(text);
    };
    AttachTerminal();

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
    counts_ = new QLabel(this);
    statusBar()->addWidget(lamps);
    statusBar()->addWidget(message_, 1);
    statusBar()->addPermanentWidget(counts_);
    statusBar()->setSizeGripEnabled(false);
    UpdateCounts();

    BuildMenus();

    // A line whose far end has gone (a shell that exited, an adapter pulled)
    // reports an I/O error once and delivers nothing more: close the port,
    // so the lamps and the title say so, and wait for it to come back.
    port_.OnError = [this](TObject*, TComErrors errors) {
        if (errors.Contains(ceIO))
            LineLost();
    };
    reconnect_timer_.setInterval(300);
    connect(&reconnect_timer_, &QTimer::timeout, this, [this] { TryReconnect(); });
    watcher_ = new QFileSystemWatcher(this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { TryReconnect(); });
    transfer_timer_.setInterval(50);
    connect(&transfer_timer_, &QTimer::timeout, this, [this] { PumpTransfer(); });

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
    if (engine_)
        engine_->Cancel();
    engine_.reset();
    sink_.reset(); // drops a file not received whole
    // The widgets let go of the port before it goes.
    terminal_->SetComPort(nullptr);
    for (TComLed* lamp : lamps_)
        lamp->SetComPort(nullptr);
    port_.UnRegisterLink(&link_);
    port_.Close();
    StopLog();
}

void TerminalWindow::BuildLineInput(QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(new QLabel(QStringLiteral("Line:"), row));
    line_ = new QComboBox(row);
    line_->setEditable(true);
    line_->setInsertPolicy(QComboBox::NoInsert); // the history is kept by SendLine
    line_->setMaxCount(50);
    line_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    line_->lineEdit()->setPlaceholderText(QStringLiteral("a line to send; Enter sends it"));
    layout->addWidget(line_, 1);
    ending_ = new QComboBox(row);
    for (const char* name : kEndings)
        ending_->addItem(QString::fromLatin1(name));
    ending_->setToolTip(QStringLiteral("What Enter adds to the line"));
    layout->addWidget(ending_);
    hex_input_ = new QCheckBox(QStringLiteral("Hex"), row);
    hex_input_->setToolTip(QStringLiteral("The line is bytes in hex, e.g. 02 41 0D, sent as they are"));
    layout->addWidget(hex_input_);
    auto* send = new QPushButton(QStringLiteral("Send"), row);
    layout->addWidget(send);
    // A transfer has the line: its progress and Cancel take the field's place.
    progress_ = new QProgressBar(row);
    progress_->hide();
    layout->addWidget(progress_, 1);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), row);
    cancel_->hide();
    layout->addWidget(cancel_);
    connect(cancel_, &QPushButton::clicked, this, [this] { CancelTransfer(); });
    fields_ = {line_, ending_, hex_input_, send};
    connect(line_->lineEdit(), &QLineEdit::returnPressed, this, [this] { SendLine(line_->currentText()); });
    connect(send, &QPushButton::clicked, this, [this] { SendLine(line_->currentText()); });
    static_cast<QVBoxLayout*>(parent->layout())->addWidget(row);
    line_row_ = row;
}

void TerminalWindow::BuildMenus()
{
    QMenu* port_menu = menuBar()->addMenu(QStringLiteral("&Port"));
    port_menu->addAction(QStringLiteral("&Connect"), this, [this] { Connect(); });
    port_menu->addAction(QStringLiteral("&Disconnect"), this, [this] { Disconnect(); });
    reconnect_action_ = port_menu->addAction(QStringLiteral("&Reopen when the device comes back"));
    reconnect_action_->setCheckable(true);
    reconnect_action_->setChecked(reconnect_);
    connect(reconnect_action_, &QAction::toggled, this, [this](bool on) { SetReconnect(on); });
    port_menu->addSeparator();
    port_menu->addAction(QStringLiteral("&Setup..."), this, [this] { PortSetup(); });
    port_menu->addSeparator();
    port_menu->addAction(QStringLiteral("&Quit"), this, [this] { close(); });

    QMenu* terminal_menu = menuBar()->addMenu(QStringLiteral("&Terminal"));
    terminal_menu->addAction(QStringLiteral("&Settings..."), this, [this] { TerminalSetup(); });
    terminal_menu->addAction(QStringLiteral("&Font..."), this, [this] { ChooseFont(); });
    terminal_menu->addAction(QStringLiteral("C&lear screen"), this, [this] {
        terminal_->ClearScreen();
        hex_view_->clear();
        hex_partial_shown_ = false;
    });
    terminal_menu->addSeparator();
    hex_action_ = terminal_menu->addAction(QStringLiteral("&Hex view"));
    hex_action_->setCheckable(true);
    connect(hex_action_, &QAction::toggled, this, [this](bool on) { SetHexView(on); });
    QMenu* times = terminal_menu->addMenu(QStringLiteral("&Timestamps"));
    auto* group = new QActionGroup(this);
    const char* const time_names[] = {"&Off", "&Wall clock", "Since &connect"};
    for (int i = 0; i < 3; ++i) {
        QAction* action = times->addAction(QString::fromLatin1(time_names[i]));
        action->setCheckable(true);
        group->addAction(action);
        time_actions_[static_cast<size_t>(i)] = action;
        connect(action, &QAction::triggered, this,
                [this, i] { SetTimeMode(static_cast<traffic::TimeMode>(i)); });
    }
    time_actions_[0]->setChecked(true);
    terminal_menu->addSeparator();
    terminal_menu->addAction(QStringLiteral("Start &log..."), this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Log received data to"));
        if (!path.isEmpty())
            StartLog(path.toStdString(), false);
    });
    terminal_menu->addAction(QStringLiteral("Start log as &shown..."), this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Log what is shown to"));
        if (!path.isEmpty())
            StartLog(path.toStdString(), true);
    });
    terminal_menu->addAction(QStringLiteral("Stop l&og"), this, [this] { StopLog(); });

    QMenu* line_menu = menuBar()->addMenu(QStringLiteral("&Line"));
    dtr_action_ = line_menu->addAction(QStringLiteral("&DTR"));
    dtr_action_->setCheckable(true);
    connect(dtr_action_, &QAction::triggered, this,
            [this](bool on) { Guarded("DTR", [this, on] { port_.SetDTR(on); }); });
    rts_action_ = line_menu->addAction(QStringLiteral("&RTS"));
    rts_action_->setCheckable(true);
    connect(rts_action_, &QAction::triggered, this,
            [this](bool on) { Guarded("RTS", [this, on] { port_.SetRTS(on); }); });
    line_menu->addAction(QStringLiteral("Send &break"), this, [this] { SendBreak(); });

    QMenu* transfer_menu = menuBar()->addMenu(QStringLiteral("T&ransfer"));
    using transfer::Protocol;
    transfer_menu->addAction(QStringLiteral("Send file (&raw)..."), this, [this] { AskSendFile(Protocol::Raw); });
    transfer_menu->addAction(QStringLiteral("Send file (&XMODEM)..."), this,
                             [this] { AskSendFile(Protocol::Xmodem); });
    transfer_menu->addAction(QStringLiteral("Send file (XMODEM-&1K)..."), this,
                             [this] { AskSendFile(Protocol::Xmodem1k); });
    transfer_menu->addAction(QStringLiteral("Send file (&YMODEM)..."), this,
                             [this] { AskSendFile(Protocol::Ymodem); });
    transfer_menu->addSeparator();
    transfer_menu->addAction(QStringLiteral("Receive file (X&MODEM)..."), this,
                             [this] { AskReceive(Protocol::Xmodem); });
    transfer_menu->addAction(QStringLiteral("Receive files (YMO&DEM)..."), this,
                             [this] { AskReceive(Protocol::Ymodem); });
    transfer_menu->addSeparator();
    transfer_menu->addAction(QStringLiteral("&Cancel"), this, [this] { CancelTransfer(); });
}

void TerminalWindow::AttachTerminal()
{
    // The terminal reads the port only while it is what shows; the hex view
    // and a transfer take the bytes for themselves.
    terminal_->SetComPort(hex_view_on_ || engine_ ? nullptr : &port_);
}

void TerminalWindow::FitToTerminal()
{
    // Every cell in view, without scroll bars.
    const int column_spacing = centralWidget()->layout()->spacing();
    resize(terminal_->sizeHint().width(), terminal_->sizeHint().height() + column_spacing +
                                              line_row_->sizeHint().height() + menuBar()->sizeHint().height() +
                                              statusBar()->sizeHint().height());
}

void TerminalWindow::Type(const std::string& text)
{
    if (terminal_->ComPort() != nullptr) {
        for (char c : text)
            terminal_->SendChar(c); // with the terminal's echo and line feeds
        return;
    }
    if (port_.Connected() && !engine_)
        Guarded("Send", [this, &text] { port_.WriteStr(text); });
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
        ShowMessage(QString::fromLatin1(what) + QStringLiteral(": ") + ErrorText(e, port_.Port()));
        UpdateTitle();
        return false;
    }
}

bool TerminalWindow::Connect()
{
    StopWaiting();
    const bool ok = Guarded("Connect", [this] {
        port_.Open();
        ShowMessage(QStringLiteral("Connected to ") + QString::fromStdString(port_.Port()));
    });
    if (ok) {
        clock_.Connected();
        dtr_action_->setChecked(port_.FlowControl()->ControlDTR() == dtrEnable);
        rts_action_->setChecked(port_.FlowControl()->ControlRTS() == rtsEnable);
    }
    return ok;
}

bool TerminalWindow::Disconnect()
{
    StopWaiting();
    if (engine_)
        CancelTransfer();
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
        SetHexView(IsYes(ini.ReadString(s, "HexView", YesNo(hex_view_on_))));
        SetTimeMode(static_cast<traffic::TimeMode>(
            IndexOf(kTimeModes, ini.ReadString(s, "Timestamps", ""), static_cast<int>(clock_.Mode()))));
        SetLineEnding(static_cast<LineEnding>(IndexOf(kEndings, ini.ReadString(s, "LineEnding", ""),
                                                      static_cast<int>(GetLineEnding()))));
        SetHexInput(IsYes(ini.ReadString(s, "HexInput", YesNo(HexInput()))));
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
        ini.WriteString(s, "HexView", YesNo(hex_view_on_));
        ini.WriteString(s, "Timestamps", kTimeModes[static_cast<int>(clock_.Mode())]);
        ini.WriteString(s, "LineEnding", kEndings[static_cast<int>(GetLineEnding())]);
        ini.WriteString(s, "HexInput", YesNo(HexInput()));
        ini.UpdateFile();
    });
}

void TerminalWindow::closeEvent(QCloseEvent* event)
{
    SaveSettings();
    QMainWindow::closeEvent(event);
}

// ---- traffic: counts, hex view, log -------------------------------------------

void TerminalWindow::UpdateCounts()
{
    counts_->setText(QStringLiteral("RX %1  TX %2").arg(rx_count_).arg(tx_count_));
    counts_due_ = false;
}

void TerminalWindow::OnReceived(const uint8_t* data, size_t n)
{
    rx_count_ += n;
    if (!counts_due_) {
        // Once per turn of the event loop, not per block of a fast stream.
        counts_due_ = true;
        QTimer::singleShot(0, this, [this] { UpdateCounts(); });
    }
    if (log_ && !log_shown_)
        WriteLog(std::string(reinterpret_cast<const char*>(data), n));
    if (engine_) {
        engine_->Feed(data, n);
        PumpTransfer();
        return;
    }
    if (hex_view_on_) {
        hex_.Add(traffic::Direction::Received, data, n, clock_.Stamp());
        ShowHex();
    }
}

void TerminalWindow::OnSent(const uint8_t* data, size_t n)
{
    tx_count_ += n;
    if (!counts_due_) {
        counts_due_ = true;
        QTimer::singleShot(0, this, [this] { UpdateCounts(); });
    }
    if (hex_view_on_ && !engine_) {
        hex_.Add(traffic::Direction::Sent, data, n, clock_.Stamp());
        ShowHex();
    }
}

void TerminalWindow::ShowHex()
{
    const std::vector<std::string> lines = hex_.TakeLines();
    const std::string partial = hex_.Partial();
    if (log_ && log_shown_)
        for (const std::string& line : lines)
            WriteLog(line + "\n");
    // The last line of the view is the one still filling: replaced each time.
    QTextCursor cursor(hex_view_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (hex_partial_shown_) {
        cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    } else if (!hex_view_->document()->isEmpty()) {
        cursor.insertBlock();
    }
    QTextCharFormat received, sent;
    sent.setForeground(QColor(0x1f, 0x4f, 0xb0)); // sent bytes in blue, apart from the received
    for (const std::string& line : lines) {
        cursor.insertText(QString::fromStdString(line), line.find("TX ") != std::string::npos ? sent : received);
        cursor.insertBlock();
    }
    cursor.insertText(QString::fromStdString(partial), partial.find("TX ") != std::string::npos ? sent : received);
    cursor.endEditBlock();
    hex_partial_shown_ = true;
    hex_view_->verticalScrollBar()->setValue(hex_view_->verticalScrollBar()->maximum());
}

QString TerminalWindow::HexText() const { return hex_view_->toPlainText(); }

void TerminalWindow::SetHexView(bool on)
{
    if (hex_action_->isChecked() != on)
        hex_action_->setChecked(on); // comes back here through its signal
    if (hex_view_on_ == on)
        return;
    hex_view_on_ = on;
    views_->setCurrentWidget(on ? static_cast<QWidget*>(hex_view_) : terminal_);
    if (on) {
        // Room for a whole frame of the sensor link with its time.
        const int wanted = hex_view_->fontMetrics().horizontalAdvance(QString(124, QLatin1Char('0'))) +
                           hex_view_->verticalScrollBar()->sizeHint().width() + 12;
        if (width() < wanted)
            resize(wanted, height());
    }
    AttachTerminal();
    (on ? static_cast<QWidget*>(line_) : terminal_)->setFocus();
}

void TerminalWindow::SetTimeMode(traffic::TimeMode mode)
{
    clock_.SetMode(mode);
    time_actions_[static_cast<size_t>(mode)]->setChecked(true);
}

void TerminalWindow::WriteLog(const std::string& text)
{
    if (!log_ || text.empty())
        return;
    if (std::fwrite(text.data(), 1, text.size(), log_) != text.size() || std::fflush(log_) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        ShowMessage(QStringLiteral("Log stopped: cannot write %1: %2").arg(QString::fromStdString(log_path_), reason));
        std::fclose(log_);
        log_ = nullptr;
    }
}

bool TerminalWindow::StartLog(const std::string& path, bool as_shown)
{
    StopLog();
    std::string file = path;
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        // A new file for this session, never one that is there already.
        const std::string stem =
            path + "/terminal-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString();
        for (int n = 0;; ++n) {
            file = stem + (n == 0 ? "" : "-" + std::to_string(n)) + ".log";
            if (!std::filesystem::exists(file, ignored))
                break;
        }
    }
    log_ = std::fopen(file.c_str(), "ab");
    if (!log_) {
        ShowMessage(QStringLiteral("Log: cannot write %1: %2")
                        .arg(QString::fromStdString(file), QString::fromLocal8Bit(std::strerror(errno))));
        return false;
    }
    log_path_ = file;
    log_shown_ = as_shown;
    ShowMessage(QStringLiteral("Logging to ") + QString::fromStdString(file));
    return true;
}

void TerminalWindow::StopLog()
{
    if (log_)
        std::fclose(log_);
    log_ = nullptr;
    log_shown_ = false;
}

// ---- sending -------------------------------------------------------------------

void TerminalWindow::SetLineEnding(LineEnding ending) { ending_->setCurrentIndex(static_cast<int>(ending)); }

void TerminalWindow::SetHexInput(bool on) { hex_input_->setChecked(on); }

bool TerminalWindow::HexInput() const { return hex_input_->isChecked(); }

LineEnding TerminalWindow::GetLineEnding() const
{
    return static_cast<LineEnding>(std::clamp(ending_->currentIndex(), 0, 3));
}

QStringList TerminalWindow::History() const
{
    QStringList lines;
    for (int i = 0; i < line_->count(); ++i)
        lines << line_->itemText(i);
    return lines;
}

bool TerminalWindow::SendLine(const QString& text)
{
    std::string bytes;
    if (hex_input_->isChecked()) {
        std::string error;
        const auto parsed = traffic::ParseHexBytes(text.toStdString(), error);
        if (!parsed) {
            ShowMessage(QStringLiteral("Hex input: ") + QString::fromStdString(error));
            return false;
        }
        bytes = *parsed; // exactly the bytes typed, no line ending
    } else {
        bytes = text.toStdString() + kEndingBytes[std::clamp(ending_->currentIndex(), 0, 3)];
    }
    if (!port_.Connected()) {
        ShowMessage(QStringLiteral("Not sent: the port is closed (Port > Connect opens it)"));
        return false;
    }
    if (engine_) {
        ShowMessage(QStringLiteral("Not sent: a file transfer has the line"));
        return false;
    }
    const bool ok = Guarded("Send", [this, &bytes] {
        if (!bytes.empty() && port_.WriteStr(bytes) != static_cast<int32_t>(bytes.size()))
            throw std::runtime_error("the line took only part of it");
    });
    if (!ok)
        return false;
    // Most recent first, each line once.
    const int known = line_->findText(text);
    if (known >= 0)
        line_->removeItem(known);
    line_->insertItem(0, text);
    line_->setCurrentIndex(-1);
    line_->clearEditText();
    return true;
}

void TerminalWindow::SendBreak()
{
    Guarded("Break", [this] {
        port_.SetBreak(true);
        ShowMessage(QStringLiteral("Break sent"));
    });
    // A quarter of a second, long enough for any receiver at any speed.
    QTimer::singleShot(250, this, [this] {
        if (port_.Connected())
            Guarded("Break", [this] { port_.SetBreak(false); });
    });
}

// ---- reopening a line that went away ----------------------------------------------

void TerminalWindow::SetReconnect(bool on)
{
    reconnect_ = on;
    if (reconnect_action_->isChecked() != on)
        reconnect_action_->setChecked(on);
    if (!on)
        StopWaiting();
}

void TerminalWindow::LineLost()
{
    const QString line = QString::fromStdString(port_.Port());
    // What the line still holds is taken first: the last answer of a far
    // end that hung up as soon as it had given it, or its last words.
    try {
        for (int round = 0; round < 64 && port_.Connected(); ++round) {
            const int32_t waiting = port_.InputCount();
            if (waiting <= 0)
                break;
            std::vector<uint8_t> bytes(static_cast<size_t>(waiting));
            const int32_t got = port_.Read(bytes.data(), waiting);
            if (got <= 0)
                break;
            OnReceived(bytes.data(), static_cast<size_t>(got));
        }
    } catch (const std::exception&) {
        // Gone for good: nothing more to read.
    }
    if (engine_) {
        engine_->LineLost();
        FinishTransfer();
    }
    port_.Close();
    UpdateTitle();
    if (!reconnect_) {
        ShowMessage(QStringLiteral("Line lost: %1 hung up or failed. Port > Connect reopens it.").arg(line));
        return;
    }
    ShowMessage(QStringLiteral("Line lost: %1 hung up or failed; waiting for it to come back "
                               "(Port > Disconnect stops waiting).")
                    .arg(line));
    waiting_ = true;
    // The folder's changes say at once when the device is back; the timer
    // catches what they do not (a symbolic link turned to a new target, a
    // file system without change notices).
    const QString folder = QFileInfo(line).absolutePath();
    if (QFileInfo(folder).isDir())
        watcher_->addPath(folder);
    reconnect_timer_.start();
}

void TerminalWindow::TryReconnect()
{
    if (!waiting_ || port_.Connected())
        return;
    std::error_code ignored;
    if (!std::filesystem::exists(port_.Port(), ignored))
        return;
    try {
        port_.Open();
    } catch (const std::exception&) {
        return; // there, but not ready yet: the next try
    }
    StopWaiting();
    clock_.Connected();
    UpdateTitle();
    ShowMessage(QStringLiteral("Reopened %1 at %2")
                    .arg(QString::fromStdString(port_.Port()), QTime::currentTime().toString("HH:mm:ss")));
}

void TerminalWindow::StopWaiting()
{
    waiting_ = false;
    reconnect_timer_.stop();
    if (!watcher_->directories().isEmpty())
        watcher_->removePaths(watcher_->directories());
}

// ---- file transfer ---------------------------------------------------------------

bool TerminalWindow::SendFile(const std::string& path, transfer::Protocol protocol, TransferDone finished)
{
    std::string error;
    auto source = transfer::OpenSource(path, error);
    if (!source) {
        ShowMessage(QStringLiteral("Send: ") + QString::fromStdString(error));
        return false;
    }
    transfer_what_ = QStringLiteral("Sending %1 (%2)")
                         .arg(QString::fromStdString(source->name), QString::fromLatin1(transfer::ProtocolName(protocol)));
    return StartTransfer(std::make_unique<transfer::Sender>(protocol, std::move(*source), timing_), nullptr,
                         std::move(finished));
}

bool TerminalWindow::ReceiveFiles(const std::string& path, transfer::Protocol protocol, TransferDone finished)
{
    if (protocol != transfer::Protocol::Xmodem && protocol != transfer::Protocol::Ymodem) {
        ShowMessage(QStringLiteral("Receive: by XMODEM or YMODEM only"));
        return false;
    }
    std::error_code ignored;
    std::unique_ptr<transfer::FolderSink> sink;
    if (protocol == transfer::Protocol::Ymodem) {
        if (!std::filesystem::is_directory(path, ignored)) {
            ShowMessage(QStringLiteral("Receive: %1 is no folder").arg(QString::fromStdString(path)));
            return false;
        }
        sink = std::make_unique<transfer::FolderSink>(path);
    } else {
        const std::filesystem::path file(path);
        if (file.filename().empty() || std::filesystem::is_directory(file, ignored)) {
            ShowMessage(QStringLiteral("Receive: %1 names no file").arg(QString::fromStdString(path)));
            return false;
        }
        sink = std::make_unique<transfer::FolderSink>(file.parent_path().string(), file.filename().string());
    }
    if (!port_.Connected()) {
        ShowMessage(QStringLiteral("Receive: the port is closed (Port > Connect opens it)"));
        return false;
    }
    transfer_what_ = QStringLiteral("Receiving (%1)").arg(QString::fromLatin1(transfer::ProtocolName(protocol)));
    auto engine = std::make_unique<transfer::Receiver>(protocol, *sink, timing_);
    return StartTransfer(std::move(engine), std::move(sink), std::move(finished));
}

bool TerminalWindow::StartTransfer(std::unique_ptr<transfer::Engine> engine, std::unique_ptr<transfer::FolderSink> sink,
                                   TransferDone finished)
{
    if (engine_) {
        ShowMessage(QStringLiteral("A transfer is running already (Transfer > Cancel ends it)"));
        return false;
    }
    if (!port_.Connected()) {
        ShowMessage(QStringLiteral("Transfer: the port is closed (Port > Connect opens it)"));
        return false;
    }
    engine_ = std::move(engine);
    sink_ = std::move(sink);
    transfer_done_ = std::move(finished);
    AttachTerminal();
    progress_->setRange(0, 1000);
    progress_->setValue(0);
    for (QWidget* field : fields_)
        field->hide();
    progress_->show();
    cancel_->show();
    ShowMessage(transfer_what_);
    transfer_clock_.start();
    transfer_timer_.start();
    PumpTransfer();
    return true;
}

void TerminalWindow::PumpTransfer()
{
    if (!engine_)
        return;
    const qint64 elapsed = transfer_clock_.restart();
    if (last_bytes_.waiting) {
        if (LastBytesSent())
            FinishTransfer();
        return;
    }
    engine_->Tick(static_cast<int>(std::min<qint64>(elapsed, 60000)));
    // A raw send hands out a block at a time: a few per turn keep the
    // window alive during a long file.
    for (int round = 0; round < 16; ++round) {
        const std::string out = engine_->TakeOutput();
        if (out.empty())
            break;
        try {
            if (port_.Write(out.data(), static_cast<int32_t>(out.size())) != static_cast<int32_t>(out.size()))
                throw std::runtime_error("the line took only part of a block");
        } catch (const std::exception& e) {
            engine_->Cancel("cannot write to the line: " + ErrorText(e, port_.Port()).toStdString());
            break;
        }
        if (!engine_)
            return;
        engine_->Tick(0);
    }
    const auto total = engine_->Total();
    if (total && *total > 0)
        progress_->setValue(static_cast<int>(engine_->Done() * 1000 / *total));
    else
        progress_->setValue(engine_->GetState() == transfer::State::Done ? 1000 : 0);
    // A far end that stops answering is given up after two of its retry
    // periods; meanwhile the user sees that we wait, and how long.
    const int silent_s = engine_->SilentMs() / 1000;
    progress_->setFormat(silent_s >= 2 ? QStringLiteral("%p% - waiting for the far end: %1 s").arg(silent_s)
                                       : QStringLiteral("%p%"));
    if (engine_->GetState() == transfer::State::Done) {
        // Not done for the far end before the last block or answer has left
        // the port: a program that quits at "sent" would otherwise cut it.
        last_bytes_ = {};
        last_bytes_.waiting = true;
        last_bytes_.still.start();
        if (!LastBytesSent())
            return;
    }
    if (engine_->GetState() != transfer::State::Running)
        FinishTransfer();
}

bool TerminalWindow::LastBytesSent()
{
    try {
        if (!port_.Connected())
            return true;
        const int32_t left = port_.OutputCount();
        if (left > 0) {
            if (left != last_bytes_.left) {
                last_bytes_.left = left;
                last_bytes_.still.restart();
            }
            // As long as a far end may take to answer: a line that has not
            // moved for that long is held (flow control) or stuck.
            if (last_bytes_.still.elapsed() < timing_.block_ms) {
                progress_->setFormat(QStringLiteral("%p% - sending the last %1 bytes").arg(left));
                return false;
            }
            last_bytes_.failure = QStringLiteral("the line did not send the last %1 bytes in %2 s (is flow control "
                                                 "holding it?)")
                                      .arg(left)
                                      .arg(timing_.block_ms / 1000);
            return true;
        }
        // What the system holds in its transmitter: a moment.
        if (!port_.DrainOutput(timing_.block_ms))
            last_bytes_.failure = QStringLiteral("the line did not send its last bytes");
    } catch (const std::exception& e) {
        last_bytes_.failure = ErrorText(e, port_.Port());
    }
    return true;
}

void TerminalWindow::CancelTransfer()
{
    if (!engine_)
        return;
    engine_->Cancel("cancelled");
    if (last_bytes_.waiting && last_bytes_.failure.isEmpty())
        last_bytes_.failure = QStringLiteral("cancelled before the last bytes had left");
    FinishTransfer();
}

void TerminalWindow::FinishTransfer()
{
    if (!engine_)
        return;
    const std::string last = engine_->TakeOutput(); // the cancel bytes, if any
    if (!last.empty() && port_.Connected()) {
        try {
            port_.Write(last.data(), static_cast<int32_t>(last.size()));
        } catch (const std::exception&) {
            // The transfer has failed already; the far end times out instead.
        }
    }
    const bool ok = engine_->GetState() == transfer::State::Done && last_bytes_.failure.isEmpty();
    QString message;
    if (ok) {
        QStringList names;
        if (sink_)
            for (const std::string& path : sink_->Written())
                names << QString::fromStdString(path);
        message = sink_ ? (names.isEmpty() ? QStringLiteral("Received no file")
                                           : QStringLiteral("Received ") + names.join(QStringLiteral(", ")))
                        : QStringLiteral("Sent %1 (%2 bytes)")
                              .arg(QString::fromStdString(engine_->FileName()))
                              .arg(engine_->Done());
    } else {
        message = transfer_what_ + QStringLiteral(" failed: ") +
                  (last_bytes_.failure.isEmpty() ? QString::fromStdString(engine_->Error()) : last_bytes_.failure);
    }
    last_bytes_ = {};
    progress_->resetFormat();
    transfer_timer_.stop();
    engine_.reset();
    sink_.reset();
    progress_->hide();
    cancel_->hide();
    for (QWidget* field : fields_)
        field->show();
    AttachTerminal();
    ShowMessage(message);
    if (auto done = std::exchange(transfer_done_, nullptr))
        done(ok, message);
}

void TerminalWindow::AskSendFile(transfer::Protocol protocol)
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Send file"));
    if (!path.isEmpty())
        SendFile(path.toStdString(), protocol);
}

void TerminalWindow::AskReceive(transfer::Protocol protocol)
{
    const QString path = protocol == transfer::Protocol::Ymodem
                             ? QFileDialog::getExistingDirectory(this, QStringLiteral("Receive files into"))
                             : QFileDialog::getSaveFileName(this, QStringLiteral("Receive file as"));
    if (!path.isEmpty())
        ReceiveFiles(path.toStdString(), protocol);
}
