// Picking one setting of a port from the list of its texts: the logic that a
// drop-down list and a radio group share. It fills the control's item list,
// turns the port's present value into the item to select, keeps the value
// the user picked, and writes it to the port.
#pragma once

#include "tarnby/cport/cport.h"
#include "tarnby/cport/extras/free_watch.h"

#include <functional>
#include <string>

namespace tarnby {

enum TComProperty : uint8_t { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

class TARNBY_CPORT_EXPORT TComSelect {
public:
    // items is the control's list; it is refilled here, never owned.
    explicit TComSelect(TStrings& items);
    ~TComSelect();
    TComSelect(const TComSelect&) = delete;
    TComSelect& operator=(const TComSelect&) = delete;

    TCustomComPort* ComPort() const { return port_; }
    // A new port is followed (forgotten when it is destroyed, see OnPortGone).
    // Returns true when the port changed: the control then shows UpdateSettings.
    bool SetComPort(TCustomComPort* port);
    TComProperty ComProperty() const { return property_; }
    // Stores the property and refills the item list with its texts (the
    // machine's ports for cpPort, nothing for cpNone).
    void SetComProperty(TComProperty property);
    bool AutoApply() const { return auto_apply_; }
    void SetAutoApply(bool value) { auto_apply_ = value; }

    // Port to control: the index of the first item equal (case ignored) to
    // the text of the port's present value, which also becomes the pending
    // value; -1 when no item is; kUnchanged with cpNone or no port.
    static constexpr int kUnchanged = -2;
    int UpdateSettings();
    // The user picked the item with this text: it becomes the pending value,
    // and with AutoApply goes to the port at once.
    void Change(const std::string& text);
    // Pending value to the port. With cpPort and nothing picked (the port's
    // name was not in the list) the port keeps its name.
    void ApplySettings();

    // The followed port is being destroyed: the control selects its first item.
    std::function<void()> OnPortGone;

    // The pending values.
    const std::string& PendingPort() const { return port_name_; }
    TBaudRate PendingBaudRate() const { return baud_rate_; }
    TDataBits PendingDataBits() const { return data_bits_; }
    TStopBits PendingStopBits() const { return stop_bits_; }
    TParityBits PendingParity() const { return parity_; }
    TFlowControl PendingFlowControl() const { return flow_control_; }

private:
    std::string PortValueText() const;

    TStrings& items_;
    TCustomComPort* port_ = nullptr;
    TComProperty property_ = cpNone;
    bool auto_apply_ = false;
    std::string port_name_;
    TBaudRate baud_rate_ = br9600;
    TDataBits data_bits_ = dbEight;
    TStopBits stop_bits_ = sbOneStopBit;
    TParityBits parity_ = prNone;
    TFlowControl flow_control_ = fcNone;
    TFreeWatch watch_;
};

} // namespace tarnby
