// A pseudo-terminal for whoever plays the far end of a serial line: the
// master side is ours, and the slave side (slave_path()) is the device a
// serial port opens. Plain POSIX, for the programs, the tests and the
// benchmarks alike; the sensor unit emulator uses it too and stays
// independent of the firmware and of Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pty {

class PseudoTerminal {
public:
    struct Options {
        // The line raw from the start (no echo of what the far end sends back
        // to it, no line editing, no translation of line ends), at this speed
        // in bits per second (0: leave it). The settings stay with the
        // pseudo-terminal while the master is open.
        bool raw = false;
        int speed = 0;
        // Our own hold on the slave side: the line then stays up between the
        // openings of whoever uses it. Without it the master reports a
        // hang-up while nobody has the slave open.
        bool hold_slave = false;
        // The master's reads and writes never wait.
        bool nonblocking = false;
    };

    // Throws std::runtime_error, naming the system's reason, when no
    // pseudo-terminal can be had.
    PseudoTerminal();
    explicit PseudoTerminal(const Options& options);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master_fd() const { return master_; }
    // Our hold on the slave side, or -1.
    int slave_fd() const { return slave_; }
    const std::string& slave_path() const { return slave_path_; }

    // Closes our side (and our hold on the slave): whoever has the slave
    // open sees a hang-up.
    void hang_up();
    // Whether something holds the slave side open.
    bool peer_present() const;
    // Writes all n bytes, waiting for room when the line is full (also on a
    // non-blocking master); false if the line went away first.
    bool write_all(const void* data, size_t n);
    // Appends what the line holds now to `into`, without waiting; false when
    // the far end went away (nobody holds the slave any more).
    bool read_available(std::vector<uint8_t>& into);
    // What arrives within deadline_ms, until n bytes came; between() (when
    // given) runs before every wait, which lasts at most poll_ms.
    std::string receive(size_t n, int deadline_ms, const std::function<void()>& between = {}, int poll_ms = 50);

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

} // namespace pty
