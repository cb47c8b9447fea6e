// The serial terminal's window: a terminal on a port (or a hex view of the
// traffic both ways), a line to type whole lines or bytes in hex into, the
// port's setup dialog, the terminal's settings dialog, lamps for the
// connection, CTS, DSR, carrier, receive and transmit, and byte counts.
// Received data can be timed and logged; a line that goes away is reopened
// when its device comes back; files go both ways by raw, XMODEM or YMODEM.
// Port and terminal settings live in a settings file and are stored
// whenever they change and when the window closes.
#pragma once

#include "file_transfer.h"
#include "transfer_files.h"
#include "traffic_format.h"

#include "tarnby/cport/extras/widgets/com_led.h"
#include "tarnby/cport/extras/widgets/com_terminal.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

using namespace tarnby;

class QAction;
class QComboBox;
class QCheckBox;
class QFileSystemWatcher;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

// What Enter adds to a typed line.
enum class LineEnding { CR, LF, CRLF, None };

class TerminalWindow : public QMainWindow {
public:
    // settings_path: the settings file; read now, written on every change.
    explicit TerminalWindow(std::string settings_path, QWidget* parent = nullptr);
    ~TerminalWindow() override;

    TComPort& Port() { return port_; }
    TComTerminal& Terminal() { return *terminal_; }
    static constexpr int kLampCount = 6;
    TComLed* Lamp(int index) const { return lamps_.at(static_cast<size_t>(index)); }
    QString Message() const;

    // Each reports a failure in the status bar and returns false.
    bool Connect();
    bool Disconnect();
    bool PortSetup();
    bool TerminalSetup();
    bool ChooseFont();
    bool LoadSettings();
    bool SaveSettings();

    // The traffic in hex both ways instead of the terminal.
    void SetHexView(bool on);
    bool HexView() const { return hex_view_on_; }
    QString HexText() const;
    void SetTimeMode(traffic::TimeMode mode);
    traffic::TimeMode TimeMode() const { return clock_.Mode(); }
    // Everything received from now on goes to the file at `path` (appended),
    // raw or as shown (with its times); a folder gets a new file named by the
    // date and time. False, with the reason in the status bar, when it
    // cannot be written.
    bool StartLog(const std::string& path, bool as_shown);
    void StopLog();
    std::string LogPath() const { return log_path_; }
    // Whether a line that goes away is waited for and reopened.
    void SetReconnect(bool on);
    bool WaitingForDevice() const { return waiting_; }

    // Text as if typed into the terminal (into the line when the terminal
    // does not show).
    void Type(const std::string& text);
    // A typed line: its bytes (hex input) or its text and the line ending.
    bool SendLine(const QString& text);
    void SetLineEnding(LineEnding ending);
    LineEnding GetLineEnding() const;
    void SetHexInput(bool on);
    bool HexInput() const;
    QStringList History() const;

    uint64_t ReceivedBytes() const { return rx_count_; }
    uint64_t SentBytes() const { return tx_count_; }

    // A transfer on the open port; false (and the reason in the status bar)
    // when none can start. `finished` is called once with the outcome.
    using TransferDone = std::function<void(bool ok, const QString& message)>;
    bool SendFile(const std::string& path, transfer::Protocol protocol, TransferDone finished = {});
    // XMODEM: into the file `path`; YMODEM: into the folder `path`.
    bool ReceiveFiles(const std::string& path, transfer::Protocol protocol, TransferDone finished = {});
    void CancelTransfer();
    bool Transferring() const { return engine_ != nullptr; }
    // For tests that cannot wait the protocols' own time-outs.
    void SetTransferTiming(transfer::Timing timing) { timing_ = timing; }

    // The default settings file: $XDG_CONFIG_HOME/tarnby/terminal.ini, or
    // ~/.config/tarnby/terminal.ini.
    static std::string DefaultSettingsPath();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowMessage(const QString& text);
    void UpdateTitle();
    void UpdateCounts();
    void FitToTerminal();
    void BuildMenus();
    void BuildLineInput(QWidget* parent);
    void AttachTerminal();
    template <typename F>
    bool Guarded(const char* what, F&& action);

    void OnReceived(const uint8_t* data, size_t n);
    void OnSent(const uint8_t* data, size_t n);
    void ShowHex();
    void WriteLog(const std::string& text);
    void LineLost();
    void TryReconnect();
    void StopWaiting();
    bool StartTransfer(std::unique_ptr<transfer::Engine> engine, std::unique_ptr<transfer::FolderSink> sink,
                       TransferDone finished);
    void PumpTransfer();
    // Whether a finished transfer's last bytes have left the port, or never
    // will (last_bytes_.failure then says why).
    bool LastBytesSent();
    void FinishTransfer();
    void AskSendFile(transfer::Protocol protocol);
    void AskReceive(transfer::Protocol protocol);
    void SendBreak();

    std::string settings_path_;
    TComPort port_{nullptr};
    TComLink link_;
    TComTerminal* terminal_;
    QStackedWidget* views_;
    QPlainTextEdit* hex_view_;
    std::array<TComLed*, kLampCount> lamps_{};
    QLabel* message_;
    QLabel* counts_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QWidget* line_row_;
    QComboBox* line_;
    QComboBox* ending_;
    QCheckBox* hex_input_;
    std::array<QWidget*, 4> fields_{};
    QAction* hex_action_ = nullptr;
    QAction* reconnect_action_ = nullptr;
    QAction* dtr_action_ = nullptr;
    QAction* rts_action_ = nullptr;
    std::array<QAction*, 3> time_actions_{};

    bool hex_view_on_ = false;
    bool hex_partial_shown_ = false;
    traffic::HexDump hex_;
    traffic::Clock clock_;
    traffic::LineStamper stamper_;
    uint64_t rx_count_ = 0;
    uint64_t tx_count_ = 0;
    bool counts_due_ = false;

    std::FILE* log_ = nullptr;
    std::string log_path_;
    bool log_shown_ = false;

    bool reconnect_ = true;
    bool waiting_ = false;
    QTimer reconnect_timer_;
    QFileSystemWatcher* watcher_;

    std::unique_ptr<transfer::Engine> engine_;
    std::unique_ptr<transfer::FolderSink> sink_;
    TransferDone transfer_done_;
    QTimer transfer_timer_;
    QElapsedTimer transfer_clock_;
    transfer::Timing timing_;
    QString transfer_what_;
    // A finished transfer is told as done only once its last bytes have
    // left the port: the output count as last seen, how long it has not
    // moved, and why the end did not go out (empty while it may).
    struct LastBytes {
        bool waiting = false;
        int32_t left = -1;
        QElapsedTimer still;
        QString failure;
    } last_bytes_;
};

