// Cuts a port's received byte stream into packets: a packet begins at a
// start string (or at once, or where OnCustomStart says) and ends at a stop
// string, after Size characters, or where OnCustomStop says. Text between
// packets goes to OnDiscard. It follows the port through a link, so while it
// is attached the port reads received data itself and its OnRxChar handler
// no longer runs.
//
// Positions passed to and from the custom handlers are 1-based character
// positions in the buffered text. DoCustomStart and DoCustomStop are asked
// while the matching handler is set (a custom stop counts only then).
#pragma once

#include "tarnby/cport/cport.h"

#include <functional>
#include <string>
#include <string_view>

namespace tarnby {

using TComStrEvent = std::function<void(TObject* sender, const std::string& str)>;
using TCustPacketEvent = std::function<void(TObject* sender, const std::string& str, int32_t& pos)>;

class TARNBY_CPORT_EXPORT TComDataPacket : public TComponent {
public:
    explicit TComDataPacket(TComponent* owner);
    ~TComDataPacket() override;
    std::string ClassName() const override { return "TComDataPacket"; }

    TCustomComPort* ComPort() const { return com_port_; }
    void SetComPort(TCustomComPort* value);
    bool CaseInsensitive() const { return case_insensitive_; }
    void SetCaseInsensitive(bool value);
    bool IncludeStrings() const { return include_strings_; }
    void SetIncludeStrings(bool value) { include_strings_ = value; }
    // 0 or less: no limit.
    int32_t MaxBufferSize() const { return max_buffer_size_; }
    void SetMaxBufferSize(int32_t value) { max_buffer_size_ = value; }
    const std::string& StartString() const { return start_string_; }
    void SetStartString(const std::string& value);
    const std::string& StopString() const { return stop_string_; }
    void SetStopString(const std::string& value);
    int32_t Size() const { return size_; }
    void SetSize(int32_t value);

    TComStrEvent OnDiscard;
    TComStrEvent OnPacket;
    TCustPacketEvent OnCustomStart;
    TCustPacketEvent OnCustomStop;

    // Received text; what the link's receive entry calls.
    void AddData(const std::string& str);
    // Hands everything buffered to OnDiscard and waits for a new start.
    void EmptyBuffer();

protected:
    void Notification(TComponent* component, TOperation operation) override;
    virtual void HandleBuffer();
    virtual void DoDiscard(const std::string& str);
    virtual void DoPacket(const std::string& str);
    virtual void DoCustomStart(const std::string& str, int32_t& pos);
    virtual void DoCustomStop(const std::string& str, int32_t& pos);

private:
    bool ValidStop() const;
    // 1-based position of sub in text (ASCII case ignored when
    // CaseInsensitive), 0 when absent; an empty sub is never found.
    size_t Find(std::string_view text, const std::string& sub) const;
    std::string_view Rest() const { return std::string_view(buffer_).substr(head_); }
    const std::string& Compacted();
    // One step: finds a start and an end; true when a packet was delivered.
    bool TakePacket();

    TComLink link_;
    TCustomComPort* com_port_ = nullptr;
    std::string start_string_;
    std::string stop_string_;
    int32_t max_buffer_size_ = 1024;
    int32_t size_ = 0;
    bool include_strings_ = false;
    bool case_insensitive_ = false;
    bool in_packet_ = false;
    std::string buffer_;
    size_t head_ = 0; // characters at the front of buffer_ already delivered
};

} // namespace tarnby
