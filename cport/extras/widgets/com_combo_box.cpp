#include "tarnby/cport/extras/widgets/com_combo_box.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tarnby {

// ---- TComComboBox ----------------------------------------------------------

TComComboBox::TComComboBox(QWidget* parent) : QComboBox(parent)
{
    setEditable(false);
    // Only the user's choices count as changes, not the program's.
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < items_.Count())
            select_.Change(items_.Strings(index));
    });
    select_.OnPortGone = [this] { setCurrentIndex(count() > 0 ? 0 : -1); };
}

void TComComboBox::Refill()
{
    clear();
    for (int i = 0; i < items_.Count(); ++i)
        addItem(QString::fromStdString(items_.Strings(i)));
}

void TComComboBox::SetComPort(TCustomComPort* port)
{
    if (select_.SetComPort(port) && port != nullptr)
        UpdateSettings();
}

void TComComboBox::SetComProperty(TComProperty property)
{
    select_.SetComProperty(property);
    Refill();
    if (ComPort() == nullptr)
        setCurrentIndex(count() > 0 ? 0 : -1);
    else
        UpdateSettings();
}

void TComComboBox::UpdateSettings()
{
    int index = select_.UpdateSettings();
    if (index != TComSelect::kUnchanged)
        setCurrentIndex(index);
}

std::string TComComboBox::Text() const
{
    return currentIndex() < 0 ? std::string() : currentText().toStdString();
}

void TComComboBox::SetText(const std::string& text)
{
    int index = findText(QString::fromStdString(text), Qt::MatchFixedString); // case ignored
    if (index >= 0)
        setCurrentIndex(index);
}

void TComComboBox::AddItem(const std::string& text)
{
    // Both lists grow together: a pick is looked up by index in the texts.
    items_.Add(text);
    addItem(QString::fromStdString(text));
}

// ---- TComRadioGroup --------------------------------------------------------

TComRadioGroup::TComRadioGroup(QWidget* parent)
    : QGroupBox(parent), buttons_(new QButtonGroup(this)), layout_(new QVBoxLayout(this))
{
    connect(buttons_, &QButtonGroup::idClicked, this, [this](int id) { Clicked(id); });
    select_.OnPortGone = [this] {
        SetItemIndex(items_.Count() > 0 ? 0 : -1);
    };
}

void TComRadioGroup::Refill()
{
    for (QAbstractButton* b : buttons_->buttons()) {
        buttons_->removeButton(b);
        delete b;
    }
    for (int i = 0; i < items_.Count(); ++i) {
        auto* button = new QRadioButton(QString::fromStdString(items_.Strings(i)), this);
        layout_->addWidget(button);
        buttons_->addButton(button, i);
    }
    reported_ = -1;
}

int TComRadioGroup::ItemIndex() const { return buttons_->checkedId(); }

void TComRadioGroup::SetItemIndex(int index)
{
    if (QAbstractButton* b = buttons_->button(index)) {
        b->setChecked(true);
    } else if (QAbstractButton* checked = buttons_->checkedButton()) {
        buttons_->setExclusive(false);
        checked->setChecked(false);
        buttons_->setExclusive(true);
    }
    reported_ = index;
}

void TComRadioGroup::Clicked(int index)
{
    if (index == reported_ || index < 0)
        return;
    reported_ = index;
    select_.Change(items_.Strings(index));
}

void TComRadioGroup::SetComPort(TCustomComPort* port)
{
    if (select_.SetComPort(port) && port != nullptr)
        UpdateSettings();
}

void TComRadioGroup::SetComProperty(TComProperty property)
{
    select_.SetComProperty(property);
    Refill();
    if (ComPort() == nullptr)
        SetItemIndex(items_.Count() > 0 ? 0 : -1);
    else
        UpdateSettings();
}

void TComRadioGroup::UpdateSettings()
{
    int index = select_.UpdateSettings();
    if (index != TComSelect::kUnchanged)
        SetItemIndex(index);
}

} // namespace tarnby
