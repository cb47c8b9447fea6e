// The modal dialog that sets up a port: six drop-down lists (port, speed,
// data bits, stop bits, parity, flow control) and OK/Cancel. OK writes every
// list to the port inside one update bracket, so an open port is reopened
// when the name changed and takes all other settings at once.
#pragma once

#include "tarnby/cport/extras/widgets/com_combo_box.h"

#include <QDialog>

#include <array>

class QDialogButtonBox;

namespace tarnby {

class TARNBY_CPORT_EXPORT TComSetupDialog : public QDialog {
public:
    explicit TComSetupDialog(QWidget* parent = nullptr);

    // Gives every list the port and shows its present values.
    void SetComPort(TCustomComPort* port);
    // Writes every list to the port between BeginUpdate and EndUpdate.
    void ApplySettings();

    static constexpr std::array<TComProperty, 6> kProperties = {cpPort,     cpBaudRate, cpDataBits,
                                                                 cpStopBits, cpParity,   cpFlowControl};
    TComComboBox* Combo(TComProperty property) const;
    QDialogButtonBox* Buttons() const { return buttons_; }

private:
    std::array<TComComboBox*, 6> combos_{};
    TCustomComPort* port_ = nullptr;
    QDialogButtonBox* buttons_;
};

// Runs the dialog on the port; true when the user confirmed with OK.
TARNBY_CPORT_EXPORT bool ShowSetupDialog(TCustomComPort& port, QWidget* parent = nullptr);

// Lets the port's own ShowSetupDialog open this dialog. Linking this library
// with its CMake target or pkg-config file does it already; a program linked
// by other means calls it once.
TARNBY_CPORT_EXPORT void RegisterComPortSetupDialog();

} // namespace tarnby
