// The emulator's end of the serial line: the master side of a
// pseudo-terminal. The simulator opens the slave side as its serial port.
//
// A master whose slave is not open reports a hang-up on every poll, so the
// line is polled for input only while the peer is known to be there; in
// between, peer_present() is asked at a slow, fixed rate.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

#include "frame_encoder.h"

namespace emulator {

class PtyLine {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PtyLine();
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    int fd() const { return master_; }

    // Whether something holds the slave side open.
    bool peer_present() const;

    // Queues bytes for the line; refused (false) while too much is still
    // waiting, so a peer that has stopped reading does not make us hoard.
    bool queue(const Bytes& bytes);
    bool has_output() const { return !output_.empty(); }
    // Writes what the line takes now without blocking.
    void flush();
    void discard_output() { output_.clear(); }
    // Every byte the line has taken since it was made.
    unsigned long long bytes_written() const { return bytes_written_; }

    // Reads what is waiting into `into`; false when the peer went away.
    bool read_available(Bytes& into);

private:
    int master_ = -1;
    std::string slave_path_;
    Bytes output_;
    unsigned long long bytes_written_ = 0;
};

} // namespace emulator
