#include "tarnby/cport/extras/com_data_packet.h"

#include <algorithm>

namespace tarnby {

namespace {
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}

TComDataPacket::TComDataPacket(TComponent* owner) : TComponent(owner)
{
    link_.OnRxBuf = [this](TObject*, const void* buffer, int32_t count) {
        AddData(std::string(static_cast<const char*>(buffer), count > 0 ? static_cast<size_t>(count) : 0));
    };
}

TComDataPacket::~TComDataPacket() { SetComPort(nullptr); }

void TComDataPacket::SetComPort(TCustomComPort* value)
{
    if (value == com_port_)
        return;
    if (com_port_ != nullptr) {
        com_port_->UnRegisterLink(&link_);
        com_port_->RemoveFreeNotification(this);
    }
    com_port_ = value;
    if (com_port_ != nullptr) {
        com_port_->FreeNotification(this);
        com_port_->RegisterLink(&link_);
    }
}

void TComDataPacket::Notification(TComponent* component, TOperation operation)
{
    TComponent::Notification(component, operation);
    // The port is already torn down to its component part when this comes:
    // only forget it, there is no list left to unregister from.
    if (operation == opRemove && component != nullptr && component == com_port_)
        com_port_ = nullptr;
}

void TComDataPacket::SetCaseInsensitive(bool value)
{
    if (value == case_insensitive_)
        return;
    case_insensitive_ = value;
    if (!Loading())
        EmptyBuffer();
}

void TComDataPacket::SetStartString(const std::string& value)
{
    if (value == start_string_)
        return;
    start_string_ = value;
    if (!Loading())
        EmptyBuffer();
}

void TComDataPacket::SetStopString(const std::string& value)
{
    if (value == stop_string_)
        return;
    stop_string_ = value;
    if (!Loading())
        EmptyBuffer();
}

void TComDataPacket::SetSize(int32_t value)
{
    if (value == size_)
        return;
    size_ = value;
    if (!Loading())
        EmptyBuffer();
}

bool TComDataPacket::ValidStop() const
{
    return size_ > 0 || !stop_string_.empty() || static_cast<bool>(OnCustomStop);
}

size_t TComDataPacket::Find(std::string_view text, const std::string& sub) const
{
    if (sub.empty())
        return 0;
    auto same = [this](char a, char b) { return case_insensitive_ ? UpperAscii(a) == UpperAscii(b) : a == b; };
    auto at = std::search(text.begin(), text.end(), sub.begin(), sub.end(), same);
    return at == text.end() ? 0 : static_cast<size_t>(at - text.begin()) + 1;
}

const std::string& TComDataPacket::Compacted()
{
    if (head_ > 0) {
        buffer_.erase(0, head_);
        head_ = 0;
    }
    return buffer_;
}

void TComDataPacket::AddData(const std::string& str)
{
    if (!ValidStop()) {
        DoPacket(str);
        return;
    }
    buffer_ += str;
    HandleBuffer();
}

bool TComDataPacket::TakePacket()
{
    // Views of the buffer are taken afresh after every handler call: a
    // handler may add data or empty the buffer.
    if (!in_packet_) {
        int32_t pos = -1;
        if (OnCustomStart)
            DoCustomStart(Compacted(), pos);
        if (pos == -1) {
            if (start_string_.empty())
                in_packet_ = true;
            else
                pos = static_cast<int32_t>(Find(Rest(), start_string_));
        }
        if (pos > 0) {
            in_packet_ = true;
            if (pos > 1) {
                size_t before = std::min(static_cast<size_t>(pos) - 1, Rest().size());
                std::string discarded(Rest().substr(0, before));
                head_ += before;
                DoDiscard(discarded);
            }
        }
    }
    if (!in_packet_)
        return false;

    int32_t end = -1;
    if (OnCustomStop)
        DoCustomStop(Compacted(), end);
    if (end == -1) {
        end = 0;
        std::string_view rest = Rest();
        if (size_ > 0 && rest.size() >= static_cast<size_t>(size_)) {
            end = size_;
        } else {
            // The stop string counts only after the start string.
            size_t skip = std::min(start_string_.size(), rest.size());
            size_t p = Find(rest.substr(skip), stop_string_);
            if (p > 0)
                end = static_cast<int32_t>(p + stop_string_.size() + skip - 1);
        }
    }
    if (end <= 0)
        return false;

    in_packet_ = false;
    size_t length = std::min(static_cast<size_t>(end), Rest().size());
    std::string packet(Rest().substr(0, length));
    head_ += length;
    if (!include_strings_) {
        if (Find(packet, start_string_) == 1)
            packet.erase(0, start_string_.size());
        size_t stop = Find(packet, stop_string_);
        if (stop > 0 && stop - 1 + stop_string_.size() == packet.size())
            packet.erase(stop - 1);
    }
    DoPacket(packet);
    return true;
}

void TComDataPacket::HandleBuffer()
{
    // A loop rather than a call per packet, so a burst of many small packets
    // cannot run the stack out; the delivered part is dropped once at the
    // end. Every packet takes at least one character, so a custom stop that
    // always answers cannot spin on an empty buffer.
    auto bound = [this] {
        Compacted();
        if (max_buffer_size_ > 0 && buffer_.size() >= static_cast<size_t>(max_buffer_size_))
            EmptyBuffer();
    };
    try {
        while (!Rest().empty() && TakePacket()) {
        }
    } catch (...) {
        bound();
        throw;
    }
    bound();
}

void TComDataPacket::EmptyBuffer()
{
    std::string held(Rest());
    buffer_.clear();
    head_ = 0;
    in_packet_ = false;
    if (!held.empty())
        DoDiscard(held);
}

void TComDataPacket::DoDiscard(const std::string& str)
{
    if (OnDiscard)
        OnDiscard(this, str);
}

void TComDataPacket::DoPacket(const std::string& str)
{
    if (OnPacket)
        OnPacket(this, str);
}

void TComDataPacket::DoCustomStart(const std::string& str, int32_t& pos)
{
    if (OnCustomStart)
        OnCustomStart(this, str, pos);
}

void TComDataPacket::DoCustomStop(const std::string& str, int32_t& pos)
{
    if (OnCustomStop)
        OnCustomStop(this, str, pos);
}

} // namespace tarnby
