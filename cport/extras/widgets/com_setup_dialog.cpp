#include "tarnby/cport/extras/widgets/com_setup_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnby {

namespace {
const char* const kLabels[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
}

TComSetupDialog::TComSetupDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Setup"));
    auto* group = new QGroupBox(QStringLiteral(" Settings "), this);
    auto* form = new QFormLayout(group);
    for (size_t i = 0; i < kProperties.size(); ++i) {
        combos_[i] = new TComComboBox(group);
        combos_[i]->SetComProperty(kProperties[i]);
        combos_[i]->setMinimumContentsLength(12);
        form->addRow(QString::fromLatin1(kLabels[i]), combos_[i]);
    }
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TComComboBox* TComSetupDialog::Combo(TComProperty property) const
{
    for (size_t i = 0; i < kProperties.size(); ++i)
        if (kProperties[i] == property)
            return combos_[i];
    return nullptr;
}

void TComSetupDialog::SetComPort(TCustomComPort* port)
{
    port_ = port;
    for (TComComboBox* combo : combos_)
        combo->SetComPort(port);
    for (TComComboBox* combo : combos_)
        combo->UpdateSettings();
    // A pseudo-terminal or a device that is not plugged in is missing from
    // the machine's list; the user still wants to see which port this is,
    // and OK must not lose the name.
    TComComboBox* names = Combo(cpPort);
    if (port != nullptr && !port->Port().empty() && names->currentIndex() < 0) {
        names->AddItem(port->Port());
        names->UpdateSettings();
    }
}

void TComSetupDialog::ApplySettings()
{
    if (port_ == nullptr)
        return;
    port_->BeginUpdate();
    try {
        for (TComComboBox* combo : combos_)
            combo->ApplySettings();
    } catch (...) {
        // The bracket closes in any case, or the port would never apply a
        // setting again.
        port_->EndUpdate();
        throw;
    }
    port_->EndUpdate();
}

bool ShowSetupDialog(TCustomComPort& port, QWidget* parent)
{
    TComSetupDialog dialog(parent);
    dialog.SetComPort(&port);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.ApplySettings();
    return true;
}

void RegisterComPortSetupDialog()
{
    SetComPortSetupDialog([](TCustomComPort& port) { return ShowSetupDialog(port); });
}

} // namespace tarnby

// Linking the widgets library registers the dialog: its link options ask for
// this symbol, which brings in this file (and so this initialisation) from a
// static library and keeps a shared one loaded.
extern "C" {
TARNBY_CPORT_EXPORT extern const bool tarnby_cport_setup_dialog_registered;
const bool tarnby_cport_setup_dialog_registered = [] {
    tarnby::RegisterComPortSetupDialog();
    return true;
}();
}
