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

#include "sensor_unit.h"
#include "pseudo_terminal.h"

namespace emulator {

class PtyLine {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    const std::string& slave_path() const { return terminal_.slave_path(); }
    int fd() const { return terminal_.master_fd(); }

    // Whether something holds the slave side open.
    bool peer_present() const { return terminal_.peer_present(); }

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
    bool read_available(Bytes& into) { return terminal_.read_available(into); }

private:
    pty::PseudoTerminal terminal_;
    Bytes output_;
    unsigned long long bytes_written_ = 0;
};

} // namespace emulator
