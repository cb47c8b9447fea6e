// File transfer over a serial line: raw, XMODEM (checksum or CRC, 128 or
// 1024-byte blocks) and YMODEM batch. The engines do no I/O of their own:
// bytes from the line go in through Feed(), the time that passes through
// Tick(), and what is to be written comes out of TakeOutput(). Files are
// read through a Source and written through a Sink, so the same engine runs
// in the window, on the command line and in a test that plays the far end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace transfer {

enum class Protocol { Raw, Xmodem, Xmodem1k, Ymodem };

// "raw", "xmodem", "xmodem-1k", "ymodem"; nothing for any other text.
std::optional<Protocol> ProtocolFromName(const std::string& name);
const char* ProtocolName(Protocol protocol);

// The CRC the protocols use (CCITT polynomial 0x1021, starting at 0).
uint16_t Crc16(const uint8_t* data, size_t size);

// Limits; the defaults are the protocols' own.
struct Timing {
    int start_ms = 60000;     // a sender waits this long for the receiver's first request
    int block_ms = 10000;     // for an answer, or for the next block
    // A far end that has spoken once answers within block_ms as long as it
    // lives: heard from for none of two such periods (and a little for the
    // line), it is gone, whatever retries are left.
    int SilenceMs() const { return 2 * block_ms + block_ms / 5; }
    int probe_ms = 3000;      // a receiver repeats its request this often before the first block
    int byte_gap_ms = 1000;   // a block whose bytes stop coming for this long is dropped
    int retries = 10;         // the same block (or request) this often, then the transfer fails
};

// One file to send. read() fills n bytes from offset; false on a read error.
struct Source {
    std::string name; // as the receiver is told it (YMODEM): a bare file name
    uint64_t size = 0;
    std::function<bool(uint64_t offset, uint8_t* into, size_t n)> read;
};

// Where received files go. Each returns false with `error` set to refuse
// (the transfer is then cancelled); Abandon() drops a file begun but not
// finished.
class Sink {
public:
    virtual ~Sink() = default;
    // name: as the sender gave it (YMODEM), empty for XMODEM; size when announced.
    virtual bool Begin(const std::string& name, std::optional<uint64_t> size, std::string& error) = 0;
    virtual bool Write(const uint8_t* data, size_t n, std::string& error) = 0;
    virtual bool Finish(std::string& error) = 0;
    virtual void Abandon() = 0;
};

enum class State { Running, Done, Failed };

class Engine {
public:
    virtual ~Engine() = default;
    virtual void Feed(const uint8_t* data, size_t n) = 0;
    virtual void Tick(int elapsed_ms) = 0;
    // Stops at once, telling the far end so.
    void Cancel(const std::string& why = "cancelled");
    // The line has gone (the far end hung up). Programs at the far end end
    // as soon as their part is done, and may take the last answer with
    // them: a transfer whose every file went through counts as done.
    void LineLost();
    // What to write to the line now (and empties it).
    std::string TakeOutput();

    State GetState() const { return state_; }
    const std::string& Error() const { return error_; }
    // Bytes of the current file done, and its size when known.
    uint64_t Done() const { return done_; }
    std::optional<uint64_t> Total() const { return total_; }
    const std::string& FileName() const { return file_name_; }
    // The files a receiver finished, as the sink named them.
    const std::vector<std::string>& Received() const { return received_; }
    // How long the far end has said nothing (since the start, before it
    // first spoke).
    int SilentMs() const { return silent_ms_; }

protected:
    void Fail(const std::string& why, bool tell_far_end = true);
    virtual void OnFailed() {}
    virtual bool Complete() const { return false; }
    void Put(const std::string& bytes) { out_ += bytes; }
    void Put(uint8_t byte) { out_ += static_cast<char>(byte); }
    // Feed tells what came, Tick the time passed; true once a far end that
    // had spoken went silent for longer than `limit_ms` and that ended the
    // transfer with `why`.
    void Heard(size_t n);
    bool WentSilent(int elapsed_ms, int limit_ms, const std::string& why);

    State state_ = State::Running;
    std::string error_;
    std::string out_;
    uint64_t done_ = 0;
    std::optional<uint64_t> total_;
    std::string file_name_;
    std::vector<std::string> received_;

private:
    bool heard_ = false;
    int silent_ms_ = 0;
};

class Sender : public Engine {
public:
    Sender(Protocol protocol, Source source, Timing timing = {});
    void Feed(const uint8_t* data, size_t n) override;
    void Tick(int elapsed_ms) override;

private:
    enum class Step { Start, Header, HeaderC, Block, Eot, FinalC, EndHeader };
    void SendHeader(bool last);
    void SendBlock();
    void SendEot();
    void Resend();
    void OnRequest(uint8_t c);
    void OnAck();
    void OnNak();
    void RawFill();
    // Every block acknowledged: what is left is the closing handshake.
    bool Complete() const override { return step_ == Step::Eot || step_ == Step::FinalC || step_ == Step::EndHeader; }

    Protocol protocol_;
    Source source_;
    Timing timing_;
    Step step_ = Step::Start;
    bool crc_ = false;
    uint8_t number_ = 1;
    uint64_t offset_ = 0;     // of the block on the line
    size_t block_size_ = 0;   // its data size
    std::string last_;        // what to send again on a NAK or a time-out
    int waited_ms_ = 0;
    int tries_ = 0;
    int cancels_ = 0;
};

class Receiver : public Engine {
public:
    // For XMODEM the sink is asked for one file with an empty name.
    Receiver(Protocol protocol, Sink& sink, Timing timing = {});
    void Feed(const uint8_t* data, size_t n) override;
    void Tick(int elapsed_ms) override;

private:
    void Probe();
    void Parse();
    void OnBlock(uint8_t number, const uint8_t* data, size_t size);
    void OnHeader(const uint8_t* data, size_t size);
    void OnEot();
    void OnFailed() override;
    bool Complete() const override { return want_header_ && files_ > 0; }
    void Nak();

    Protocol protocol_;
    Sink& sink_;
    Timing timing_;
    bool crc_ = true;
    bool in_file_ = false;   // a file begun in the sink
    bool want_header_;       // YMODEM: the next block 0 names a file
    bool got_first_ = false; // any block of the current file (or header) yet
    bool eot_seen_ = false;
    uint8_t expected_ = 1;
    std::vector<uint8_t> pending_;
    int waited_ms_ = 0;
    int gap_ms_ = 0;
    int tries_ = 0;
    int probes_ = 0;
    int cancels_ = 0;
    int files_ = 0;
};

// A YMODEM name from the far end as a bare file name: what follows its last
// "/" (or "\"), refused (nothing) when that is empty, "." or "..", or holds a
// control character.
std::optional<std::string> SafeFileName(const std::string& name);

} // namespace transfer
