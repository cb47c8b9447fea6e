#include "tarnby/cport/extras/com_select.h"

namespace tarnby {

namespace {
// Letters a to z only, like the settings names themselves.
bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

template <typename E>
void AddAll(TStrings& items, std::string (*to_text)(E), int count)
{
    for (int i = 0; i < count; ++i)
        items.Add(to_text(static_cast<E>(i)));
}
}

TComSelect::TComSelect(TStrings& items) : items_(items)
{
    watch_.OnRemove = [this](TComponent* gone) {
        if (gone != port_)
            return;
        port_ = nullptr;
        if (OnPortGone)
            OnPortGone();
    };
}

TComSelect::~TComSelect() { watch_.Unwatch(port_); }

bool TComSelect::SetComPort(TCustomComPort* port)
{
    if (port == port_)
        return false;
    watch_.Unwatch(port_);
    port_ = port;
    watch_.Watch(port_);
    return true;
}

void TComSelect::SetComProperty(TComProperty property)
{
    property_ = property;
    items_.Clear();
    switch (property) {
    case cpNone: break;
    case cpPort:
        try {
            EnumComPorts(items_);
        } catch (const EComPort&) {
            // No list of ports on this machine: an empty list to pick from.
        }
        break;
    case cpBaudRate: AddAll(items_, BaudRateToStr, br256000 + 1); break;
    case cpDataBits: AddAll(items_, DataBitsToStr, dbEight + 1); break;
    case cpStopBits: AddAll(items_, StopBitsToStr, sbTwoStopBits + 1); break;
    case cpParity: AddAll(items_, ParityToStr, prSpace + 1); break;
    case cpFlowControl: AddAll(items_, FlowControlToStr, fcCustom + 1); break;
    }
}

std::string TComSelect::PortValueText() const
{
    switch (property_) {
    case cpPort: return port_->Port();
    case cpBaudRate: return BaudRateToStr(port_->BaudRate());
    case cpDataBits: return DataBitsToStr(port_->DataBits());
    case cpStopBits: return StopBitsToStr(port_->StopBits());
    case cpParity: return ParityToStr(port_->Parity()->Bits());
    case cpFlowControl: return FlowControlToStr(port_->FlowControl()->FlowControl());
    case cpNone: break;
    }
    return {};
}

int TComSelect::UpdateSettings()
{
    if (property_ == cpNone || port_ == nullptr)
        return kUnchanged;
    const std::string wanted = PortValueText();
    for (int i = 0; i < items_.Count(); ++i) {
        if (!SameText(items_.Strings(i), wanted))
            continue;
        // The value as the item reads back, so the pending value is what is shown.
        bool keep_auto = auto_apply_;
        auto_apply_ = false;
        Change(items_.Strings(i));
        auto_apply_ = keep_auto;
        return i;
    }
    return -1;
}

void TComSelect::Change(const std::string& text)
{
    switch (property_) {
    case cpNone: break;
    case cpPort: port_name_ = text; break;
    case cpBaudRate: baud_rate_ = StrToBaudRate(text); break;
    case cpDataBits: data_bits_ = StrToDataBits(text); break;
    case cpStopBits: stop_bits_ = StrToStopBits(text); break;
    case cpParity: parity_ = StrToParity(text); break;
    case cpFlowControl: flow_control_ = StrToFlowControl(text); break;
    }
    if (auto_apply_)
        ApplySettings();
}

void TComSelect::ApplySettings()
{
    if (port_ == nullptr)
        return;
    switch (property_) {
    case cpNone: break;
    case cpPort:
        // An empty pending name means nothing was picked: writing it would
        // lose the port's name.
        if (!port_name_.empty())
            port_->SetPort(port_name_);
        break;
    case cpBaudRate: port_->SetBaudRate(baud_rate_); break;
    case cpDataBits: port_->SetDataBits(data_bits_); break;
    case cpStopBits: port_->SetStopBits(stop_bits_); break;
    case cpParity: port_->Parity()->SetBits(parity_); break;
    case cpFlowControl: port_->FlowControl()->SetFlowControl(flow_control_); break;
    }
}

} // namespace tarnby
