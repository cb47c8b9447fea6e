// Controls that pick one setting of a port: a drop-down list and a group of
// radio buttons, both over TComSelect.
#pragma once

#include "tarnby/cport/extras/com_select.h"

#include <QComboBox>
#include <QGroupBox>

class QButtonGroup;
class QVBoxLayout;

namespace tarnby {

class TARNBY_CPORT_EXPORT TComComboBox : public QComboBox {
public:
    explicit TComComboBox(QWidget* parent = nullptr);

    TCustomComPort* ComPort() const { return select_.ComPort(); }
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return select_.ComProperty(); }
    void SetComProperty(TComProperty property);
    bool AutoApply() const { return select_.AutoApply(); }
    void SetAutoApply(bool value) { select_.SetAutoApply(value); }
    // The selected item's text, empty with none; setting it selects the
    // first item equal to it (case ignored), an unknown text changes nothing.
    std::string Text() const;
    void SetText(const std::string& text);
    // Appends an item of the program's own to the list (the setup dialog's
    // port name that the machine does not list); a later SetComProperty
    // drops it again.
    void AddItem(const std::string& text);

    void UpdateSettings();
    void ApplySettings() { select_.ApplySettings(); }
    TComSelect& Select() { return select_; }

private:
    void Refill();

    TStrings items_;
    TComSelect select_{items_};
};

class TARNBY_CPORT_EXPORT TComRadioGroup : public QGroupBox {
public:
    explicit TComRadioGroup(QWidget* parent = nullptr);

    TCustomComPort* ComPort() const { return select_.ComPort(); }
    void SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return select_.ComProperty(); }
    void SetComProperty(TComProperty property);
    bool AutoApply() const { return select_.AutoApply(); }
    void SetAutoApply(bool value) { select_.SetAutoApply(value); }
    int ItemIndex() const;
    // Selecting from the program counts as reported: a click on the same
    // button afterwards does nothing.
    void SetItemIndex(int index);

    void UpdateSettings();
    void ApplySettings() { select_.ApplySettings(); }
    TComSelect& Select() { return select_; }

private:
    void Refill();
    void Clicked(int index);

    TStrings items_;
    TComSelect select_{items_};
    QButtonGroup* buttons_;
    QVBoxLayout* layout_;
    int reported_ = -1;
};

} // namespace tarnby
