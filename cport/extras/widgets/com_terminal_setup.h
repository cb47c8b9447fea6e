// The terminal's settings dialog: the ASCII options (echo, line feeds, wrap,
// 7-bit) and the terminal options (caret, emulation, size, cursor keys).
#pragma once

#include "tarnby/cport/export.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLineEdit;

namespace tarnby {

class TCustomComTerminal;

class TARNBY_CPORT_EXPORT TComTermSetupDialog : public QDialog {
public:
    explicit TComTermSetupDialog(QWidget* parent = nullptr);

    // Fields from the terminal.
    void Load(const TCustomComTerminal& terminal);
    // Fields to the terminal, in a fixed order: the five flags, Caret,
    // Emulation, Columns (80 when the text is no whole number), Rows (24
    // likewise), ArrowKeys.
    void Store(TCustomComTerminal& terminal) const;

    QCheckBox* LocalEcho() const { return local_echo_; }
    QCheckBox* SendLF() const { return send_lf_; }
    QCheckBox* WrapLines() const { return wrap_lines_; }
    QCheckBox* Force7Bit() const { return force_7bit_; }
    QCheckBox* AppendLF() const { return append_lf_; }
    QComboBox* Caret() const { return caret_; }
    QComboBox* Emulation() const { return emulation_; }
    QLineEdit* Columns() const { return columns_; }
    QLineEdit* Rows() const { return rows_; }
    QComboBox* CursorKeys() const { return cursor_keys_; }
    QDialogButtonBox* Buttons() const { return buttons_; }

private:
    QCheckBox *local_echo_, *send_lf_, *wrap_lines_, *force_7bit_, *append_lf_;
    QComboBox *caret_, *emulation_, *cursor_keys_;
    QLineEdit *columns_, *rows_;
    QDialogButtonBox* buttons_;
};

} // namespace tarnby
