#include "tarnby/cport/extras/widgets/com_terminal_setup.h"

#include "tarnby/cport/extras/widgets/com_terminal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarnby {

namespace {
QComboBox* Choices(QWidget* parent, std::initializer_list<const char*> texts)
{
    auto* box = new QComboBox(parent);
    for (const char* text : texts)
        box->addItem(QString::fromLatin1(text));
    return box;
}

int WholeNumber(const QString& text, int fallback)
{
    bool ok = false;
    int value = text.trimmed().toInt(&ok);
    return ok ? value : fallback;
}
}

TComTermSetupDialog::TComTermSetupDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Setup"));

    auto* ascii = new QGroupBox(QStringLiteral(" ASCII Settings "), this);
    auto* ascii_layout = new QVBoxLayout(ascii);
    local_echo_ = new QCheckBox(QStringLiteral("Echo typed charachters locally"), ascii);
    send_lf_ = new QCheckBox(QStringLiteral("Send line feeds with carriage return"), ascii);
    wrap_lines_ = new QCheckBox(QStringLiteral("Wrap lines that exceed terminal width"), ascii);
    force_7bit_ = new QCheckBox(QStringLiteral("Force incoming data to 7 bit ASCII"), ascii);
    append_lf_ = new QCheckBox(QStringLiteral("Append line feeds to incoming carriage return"), ascii);
    for (QCheckBox* box : {local_echo_, send_lf_, wrap_lines_, force_7bit_, append_lf_})
        ascii_layout->addWidget(box);

    auto* terminal = new QGroupBox(QStringLiteral(" Terminal Settings "), this);
    auto* form = new QFormLayout(terminal);
    caret_ = Choices(terminal, {"Block", "Underline"});
    emulation_ = Choices(terminal, {"ANSI/VT100", "VT52", "None"});
    columns_ = new QLineEdit(terminal);
    rows_ = new QLineEdit(terminal);
    cursor_keys_ = Choices(terminal, {"Act as terminal keys", "Act as windows keys"});
    form->addRow(QStringLiteral("Caret"), caret_);
    form->addRow(QStringLiteral("Emulation"), emulation_);
    form->addRow(QStringLiteral("Columns"), columns_);
    form->addRow(QStringLiteral("Rows"), rows_);
    form->addRow(QStringLiteral("Cursor keys"), cursor_keys_);

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* groups = new QHBoxLayout;
    groups->addWidget(ascii);
    groups->addWidget(terminal);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(groups);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TComTermSetupDialog::Load(const TCustomComTerminal& terminal)
{
    local_echo_->setChecked(terminal.LocalEcho());
    send_lf_->setChecked(terminal.SendLF());
    wrap_lines_->setChecked(terminal.WrapLines());
    force_7bit_->setChecked(terminal.Force7Bit());
    append_lf_->setChecked(terminal.AppendLF());
    // A terminal without a caret shows none of the two choices.
    caret_->setCurrentIndex(terminal.Caret() == tcNone ? -1 : terminal.Caret());
    emulation_->setCurrentIndex(terminal.Emulation());
    columns_->setText(QString::number(terminal.Columns()));
    rows_->setText(QString::number(terminal.Rows()));
    cursor_keys_->setCurrentIndex(terminal.ArrowKeys());
}

void TComTermSetupDialog::Store(TCustomComTerminal& terminal) const
{
    terminal.SetLocalEcho(local_echo_->isChecked());
    terminal.SetSendLF(send_lf_->isChecked());
    terminal.SetWrapLines(wrap_lines_->isChecked());
    terminal.SetForce7Bit(force_7bit_->isChecked());
    terminal.SetAppendLF(append_lf_->isChecked());
    if (caret_->currentIndex() >= 0)
        terminal.SetCaret(static_cast<TTermCaret>(caret_->currentIndex()));
    terminal.SetEmulation(static_cast<TTermEmulation>(std::max(0, emulation_->currentIndex())));
    terminal.SetColumns(WholeNumber(columns_->text(), 80));
    terminal.SetRows(WholeNumber(rows_->text(), 24));
    terminal.SetArrowKeys(static_cast<TArrowKeys>(std::max(0, cursor_keys_->currentIndex())));
}

} // namespace tarnby
