#include "file_transfer.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace transfer {

namespace {

constexpr uint8_t SOH = 0x01, STX = 0x02, EOT = 0x04, ACK = 0x06, NAK = 0x15, CAN = 0x18, SUB = 0x1A, CRC = 'C';
constexpr int kCancelBytes = 8;
constexpr size_t kRawChunk = 4096;
constexpr int kCrossedMs = 1000;

} // namespace

std::optional<Protocol> ProtocolFromName(const std::string& name)
{
    for (Protocol p : {Protocol::Raw, Protocol::Xmodem, Protocol::Xmodem1k, Protocol::Ymodem})
        if (name == ProtocolName(p))
            return p;
    return std::nullopt;
}

const char* ProtocolName(Protocol protocol)
{
    switch (protocol) {
    case Protocol::Raw: return "raw";
    case Protocol::Xmodem: return "xmodem";
    case Protocol::Xmodem1k: return "xmodem-1k";
    case Protocol::Ymodem: return "ymodem";
    }
    return "";
}

uint16_t Crc16(const uint8_t* data, size_t size)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::optional<std::string> SafeFileName(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string bare = slash == std::string::npos ? name : name.substr(slash + 1);
    if (bare.empty() || bare == "." || bare == "..")
        return std::nullopt;
    for (unsigned char c : bare)
        if (c < 0x20 || c == 0x7F)
            return std::nullopt;
    return bare;
}

// ---- Engine ---------------------------------------------------------------------

void Engine::Cancel(const std::string& why)
{
    if (state_ == State::Running)
        Fail(why);
}

void Engine::LineLost()
{
    if (state_ != State::Running)
        return;
    if (Complete())
        state_ = State::Done;
    else
        Fail("the line was lost", false);
}

std::string Engine::TakeOutput() { return std::exchange(out_, std::string()); }

void Engine::Heard(size_t n)
{
    if (n == 0)
        return;
    heard_ = true;
    silent_ms_ = 0;
}

bool Engine::WentSilent(int elapsed_ms, int limit_ms, const std::string& why)
{
    silent_ms_ = static_cast<int>(std::min<int64_t>(int64_t{silent_ms_} + std::max(elapsed_ms, 0), INT32_MAX));
    if (!heard_ || silent_ms_ < limit_ms)
        return false;
    Fail(why + " (nothing for " + std::to_string(silent_ms_ / 1000) + " s)");
    return true;
}

void Engine::Fail(const std::string& why, bool tell_far_end)
{
    if (state_ != State::Running)
        return;
    state_ = State::Failed;
    error_ = why;
    if (tell_far_end)
        out_ += std::string(kCancelBytes, static_cast<char>(CAN));
    OnFailed();
}

// ---- Sender ---------------------------------------------------------------------

Sender::Sender(Protocol protocol, Source source, Timing timing)
    : protocol_(protocol), source_(std::move(source)), timing_(timing)
{
    file_name_ = source_.name;
    total_ = source_.size;
    if (protocol_ == Protocol::Raw)
        RawFill();
}

void Sender::RawFill()
{
    // A chunk at a time, so that a window stays responsive and shows the
    // progress of a long file.
    while (state_ == State::Running && out_.size() < kRawChunk) {
        if (offset_ >= source_.size) {
            state_ = State::Done;
            return;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kRawChunk, source_.size - offset_));
        std::string chunk(n, '\0');
        if (!source_.read(offset_, reinterpret_cast<uint8_t*>(chunk.data()), n))
            return Fail("cannot read " + source_.name, false);
        out_ += chunk;
        offset_ += n;
        done_ = offset_;
    }
}

void Sender::Feed(const uint8_t* data, size_t n)
{
    // What came in one read was sent before the far end saw anything we
    // send in answer to it: once we have answered, the rest is stale (a
    // request repeated while our block was on its way) and would make us
    // send a block twice, which the far end acknowledges twice.
    Heard(n);
    bool answered = false;
    for (size_t i = 0; i < n && state_ == State::Running && protocol_ != Protocol::Raw; ++i) {
        const uint8_t c = data[i];
        if (c == CAN) {
            if (++cancels_ >= 2)
                Fail("the far end cancelled the transfer", false);
            continue;
        }
        cancels_ = 0;
        if (answered)
            continue;
        const size_t before = out_.size();
        if (c == ACK)
            OnAck();
        else if (c == NAK || c == CRC)
            OnRequest(c);
        // Anything else is noise on the line.
        answered = out_.size() != before;
    }
}

void Sender::OnRequest(uint8_t c)
{
    switch (step_) {
    case Step::Start:
        crc_ = c == CRC;
        if (protocol_ == Protocol::Ymodem)
            SendHeader(false);
        else if (source_.size == 0)
            SendEot();
        else
            SendBlock();
        return;
    case Step::HeaderC:
        if (c != CRC)
            return Resend();
        if (source_.size == 0)
            SendEot();
        else
            SendBlock();
        return;
    case Step::FinalC:
        SendHeader(true);
        return;
    case Step::Block:
        // Before the first block is acknowledged the receiver repeats its
        // request every few seconds; one that crossed our block on the line
        // comes at once and is no request to send it again.
        if (offset_ == 0 && waited_ms_ < kCrossedMs)
            return;
        if (c == NAK || offset_ == 0)
            OnNak();
        return;
    case Step::Header:
    case Step::Eot:
    case Step::EndHeader:
        OnNak();
        return;
    }
}

void Sender::OnNak()
{
    if (++tries_ > timing_.retries)
        return Fail("the far end refused the same block " + std::to_string(timing_.retries) + " times");
    Resend();
}

void Sender::Resend()
{
    Put(last_);
    waited_ms_ = 0;
}

void Sender::OnAck()
{
    tries_ = 0;
    switch (step_) {
    case Step::Header:
        step_ = Step::HeaderC;
        waited_ms_ = 0;
        return;
    case Step::Block:
        offset_ += block_size_;
        done_ = offset_;
        ++number_;
        if (offset_ >= source_.size)
            SendEot();
        else
            SendBlock();
        return;
    case Step::Eot:
        if (protocol_ == Protocol::Ymodem) {
            step_ = Step::FinalC;
            waited_ms_ = 0;
        } else {
            state_ = State::Done;
        }
        return;
    case Step::EndHeader:
        state_ = State::Done;
        return;
    default:
        return; // an answer to nothing we sent
    }
}

void Sender::SendHeader(bool last)
{
    std::string data(128, '\0');
    if (!last) {
        std::string fields = source_.name + '\0' + std::to_string(source_.size);
        if (fields.size() > 127)
            data.assign(1024, '\0');
        std::copy(fields.begin(), fields.end(), data.begin());
    }
    last_.clear();
    last_ += static_cast<char>(data.size() == 128 ? SOH : STX);
    last_ += '\0';
    last_ += static_cast<char>(0xFF);
    last_ += data;
    const uint16_t crc = Crc16(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    last_ += static_cast<char>(crc >> 8);
    last_ += static_cast<char>(crc & 0xFF);
    step_ = last ? Step::EndHeader : Step::Header;
    Resend();
}

void Sender::SendBlock()
{
    const uint64_t left = source_.size - offset_;
    // 1K blocks while a whole one is left, then 128s: never more padding
    // than one short block's.
    const size_t room = protocol_ != Protocol::Xmodem && left >= 1024 ? 1024 : 128;
    block_size_ = static_cast<size_t>(std::min<uint64_t>(room, left));
    std::string data(room, static_cast<char>(SUB));
    if (!source_.read(offset_, reinterpret_cast<uint8_t*>(data.data()), block_size_))
        return Fail("cannot read " + source_.name);
    last_.clear();
    last_ += static_cast<char>(room == 128 ? SOH : STX);
    last_ += static_cast<char>(number_);
    last_ += static_cast<char>(255 - number_);
    last_ += data;
    if (crc_) {
        const uint16_t crc = Crc16(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        last_ += static_cast<char>(crc >> 8);
        last_ += static_cast<char>(crc & 0xFF);
    } else {
        uint8_t sum = 0;
        for (char c : data)
            sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
        last_ += static_cast<char>(sum);
    }
    step_ = Step::Block;
    Resend();
}

void Sender::SendEot()
{
    last_ = std::string(1, static_cast<char>(EOT));
    step_ = Step::Eot;
    Resend();
}

void Sender::Tick(int elapsed_ms)
{
    if (state_ != State::Running)
        return;
    if (protocol_ == Protocol::Raw)
        return RawFill();
    if (WentSilent(elapsed_ms, timing_.SilenceMs(), "the far end stopped answering"))
        return;
    waited_ms_ += elapsed_ms;
    if (step_ == Step::Start) {
        if (waited_ms_ >= timing_.start_ms)
            Fail("the far end never asked for the file (is a receiver running there?)");
        return;
    }
    // The receiver asks again after block_ms of waiting; our own repeat comes
    // later, so that both never come at once: a block sent twice would be
    // answered twice, and the second answer taken for the next block's.
    if (waited_ms_ < 2 * timing_.block_ms)
        return;
    if (++tries_ > timing_.retries)
        return Fail("the far end stopped answering");
    if (step_ == Step::HeaderC || step_ == Step::FinalC)
        waited_ms_ = 0; // its request is what we wait for: nothing to repeat
    else
        Resend();
}

// ---- Receiver -------------------------------------------------------------------

Receiver::Receiver(Protocol protocol, Sink& sink, Timing timing)
    : protocol_(protocol), sink_(sink), timing_(timing), want_header_(protocol == Protocol::Ymodem)
{
    Probe();
    probes_ = 1;
}

void Receiver::Probe()
{
    Put(crc_ ? CRC : NAK);
    waited_ms_ = 0;
}

void Receiver::Nak()
{
    if (!got_first_)
        Probe();
    else
        Put(NAK);
    waited_ms_ = 0;
}

void Receiver::Feed(const uint8_t* data, size_t n)
{
    if (state_ != State::Running)
        return;
    Heard(n);
    pending_.insert(pending_.end(), data, data + n);
    gap_ms_ = 0;
    Parse();
}

void Receiver::Parse()
{
    while (!pending_.empty() && state_ == State::Running) {
        const uint8_t c = pending_[0];
        if (c == SOH || c == STX) {
            const size_t size = c == SOH ? 128 : 1024;
            const size_t need = 3 + size + (crc_ ? 2 : 1);
            if (pending_.size() < need)
                return;
            const uint8_t* data = pending_.data() + 3;
            bool good = pending_[2] == static_cast<uint8_t>(255 - pending_[1]);
            if (crc_) {
                const uint16_t crc = Crc16(data, size);
                good = good && data[size] == (crc >> 8) && data[size + 1] == (crc & 0xFF);
            } else {
                uint8_t sum = 0;
                for (size_t i = 0; i < size; ++i)
                    sum = static_cast<uint8_t>(sum + data[i]);
                good = good && data[size] == sum;
            }
            if (!good) {
                // Whatever else is on the line belongs to the damaged block.
                pending_.clear();
                if (++tries_ > timing_.retries)
                    return Fail("too many damaged blocks");
                Nak();
                return;
            }
            const uint8_t number = pending_[1];
            std::vector<uint8_t> block(data, data + size);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(need));
            cancels_ = 0;
            OnBlock(number, block.data(), block.size());
            continue;
        }
        pending_.erase(pending_.begin());
        if (c == CAN) {
            if (++cancels_ >= 2)
                Fail("the far end cancelled the transfer", false);
            continue;
        }
        cancels_ = 0;
        if (c == EOT)
            OnEot();
        // Anything else is noise on the line.
    }
}

void Receiver::OnBlock(uint8_t number, const uint8_t* data, size_t size)
{
    waited_ms_ = 0;
    if (want_header_) {
        if (number != 0)
            return Fail("the far end sends XMODEM blocks, not a YMODEM file name");
        return OnHeader(data, size);
    }
    if (number == static_cast<uint8_t>(expected_ - 1)) {
        Put(ACK); // our answer to it was lost: it is here already
        return;
    }
    if (number != expected_)
        return Fail("block " + std::to_string(number) + " came where " + std::to_string(expected_) + " was due");
    std::string error;
    if (!in_file_) {
        if (!sink_.Begin(file_name_, total_, error))
            return Fail(error);
        in_file_ = true;
    }
    size_t keep = size;
    if (total_) {
        const uint64_t left = *total_ - done_;
        if (left == 0)
            return Fail("more data than the announced " + std::to_string(*total_) + " bytes");
        keep = static_cast<size_t>(std::min<uint64_t>(left, size)); // the padding of the last block
    }
    if (!sink_.Write(data, keep, error))
        return Fail(error);
    done_ += keep;
    got_first_ = true;
    tries_ = 0;
    ++expected_;
    Put(ACK);
}

void Receiver::OnHeader(const uint8_t* data, size_t size)
{
    const uint8_t* end = std::find(data, data + size, 0);
    const std::string name(data, end);
    if (name.empty()) {
        Put(ACK); // the end of the batch
        state_ = State::Done;
        return;
    }
    const auto bare = SafeFileName(name);
    if (!bare)
        return Fail("the far end's file name \"" + name + "\" is not a plain file name");
    total_.reset();
    if (end != data + size) {
        uint64_t value = 0;
        bool digits = false;
        for (const uint8_t* p = end + 1; p < data + size && *p >= '0' && *p <= '9'; ++p) {
            if (value > (UINT64_MAX - 9) / 10)
                return Fail("the far end announced an impossible size");
            value = value * 10 + (*p - '0');
            digits = true;
        }
        if (digits)
            total_ = value;
    }
    file_name_ = *bare;
    done_ = 0;
    std::string error;
    if (!sink_.Begin(file_name_, total_, error))
        return Fail(error);
    in_file_ = true;
    want_header_ = false;
    got_first_ = false;
    eot_seen_ = false;
    expected_ = 1;
    Put(ACK);
    Probe();
}

void Receiver::OnEot()
{
    if (want_header_ && protocol_ == Protocol::Ymodem) {
        Put(ACK); // a repeated end of the file just finished
        return;
    }
    if (protocol_ == Protocol::Ymodem && !eot_seen_) {
        // Asked once more, so that a stray byte is not taken for the end.
        eot_seen_ = true;
        Put(NAK);
        return;
    }
    std::string error;
    if (!in_file_) {
        if (!sink_.Begin(file_name_, total_, error))
            return Fail(error);
        in_file_ = true;
    }
    if (total_ && done_ != *total_)
        return Fail("the file ended after " + std::to_string(done_) + " of the announced " +
                    std::to_string(*total_) + " bytes");
    in_file_ = false;
    if (!sink_.Finish(error))
        return Fail(error);
    ++files_;
    Put(ACK);
    if (protocol_ != Protocol::Ymodem) {
        state_ = State::Done;
        return;
    }
    want_header_ = true;
    got_first_ = false;
    eot_seen_ = false;
    probes_ = 0;
    Probe();
}

void Receiver::OnFailed()
{
    if (in_file_)
        sink_.Abandon();
    in_file_ = false;
}

void Receiver::Tick(int elapsed_ms)
{
    if (state_ != State::Running)
        return;
    if (WentSilent(elapsed_ms, timing_.SilenceMs(), "the far end went silent"))
        return;
    waited_ms_ += elapsed_ms;
    if (!pending_.empty()) {
        gap_ms_ += elapsed_ms;
        if (gap_ms_ < timing_.byte_gap_ms)
            return;
        pending_.clear();
        gap_ms_ = 0;
        if (++tries_ > timing_.retries)
            return Fail("the far end went silent in the middle of a block");
        Nak();
        return;
    }
    if (!got_first_ && !in_file_) {
        if (waited_ms_ < timing_.probe_ms)
            return;
        if (++probes_ > timing_.retries)
            return Fail(file_name_.empty() ? "nothing came from the far end (is a sender running there?)"
                                           : "the far end went silent");
        // An XMODEM sender that does not know CRC never answers 'C'.
        if (protocol_ != Protocol::Ymodem && probes_ > 3)
            crc_ = false;
        Probe();
        return;
    }
    if (waited_ms_ < timing_.block_ms)
        return;
    if (++tries_ > timing_.retries)
        return Fail("the far end went silent");
    Nak();
}

} // namespace transfer
