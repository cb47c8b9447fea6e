// The serial terminal's window: a terminal on a port, the port's setup
// dialog, the terminal's settings dialog, and lamps for the connection, CTS,
// DSR, carrier, receive and transmit. Port and terminal settings live in a
// settings file and are stored whenever they change and when the window
// closes.
#pragma once

#include "tarnby/cport/extras/widgets/com_led.h"
#include "tarnby/cport/extras/widgets/com_terminal.h"

#include <QMainWindow>

#include <array>
#include <string>

using namespace tarnby;

class QLabel;

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

    // The default settings file: $XDG_CONFIG_HOME/tarnby/terminal.ini, or
    // ~/.config/tarnby/terminal.ini.
    static std::string DefaultSettingsPath();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowMessage(const QString& text);
    void UpdateTitle();
    void FitToTerminal();
    template <typename F>
    bool Guarded(const char* what, F&& action);

    std::string settings_path_;
    TComPort port_{nullptr};
    TComTerminal* terminal_;
    std::array<TComLed*, kLampCount> lamps_{};
    QLabel* message_;
};
