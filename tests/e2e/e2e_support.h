// The sensor link end to end: the sensor unit emulator runs as a child
// process on a pseudo-terminal, the real serial component opens its device,
// and the firmware's link runs on a host whose message pump is a Qt event
// loop with a 100 ms tick, as in the window.
#pragma once

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tarnby/cport/cport.h"
#include "firmware/host.h"
#include "sensor_emulator_child.h"

using namespace tarnby;

// The emulator as a child process: its device and its command input. What
// it logs is dropped unless TARNBY_E2E_VERBOSE is set.
class EmulatorProcess : public SensorEmulatorChild {
public:
    explicit EmulatorProcess(const std::vector<std::string>& options);
};

// The window's part of the link: ComPort1 opened on the emulator's device,
// its received bytes fed to the parser as ComPort1RxChar does, a pump that
// waits for messages until the next display frame, and Timer1.
class LinkHost : public Host {
public:
    LinkHost();
    ~LinkHost() override;

    TComPort port{nullptr};
    std::vector<std::string> memo;
    uint64_t bytes_received = 0;
    // The fault frames' bank of 123 and pitch of -77 reached the readings.
    bool poisoned = false;
    // Times the fault frames' signature went past on the line.
    int fault_frames_seen = 0;

    void open(const std::string& device);
    // Pumps until done() holds or the deadline passes; returns done().
    bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds deadline);
    // Copies of a command sent since the log was last cleared, for a frame
    // of `frame_bytes` bytes (attention byte included).
    size_t copies_sent(size_t frame_bytes) const { return memo.size() / frame_bytes; }

    void pump_messages() override;
    void memo_add_line(std::string_view line) override { memo.emplace_back(line); }
    bool port_connected() override { return port.Connected(); }
    void port_write(uint8_t byte) override { port.Write(&byte, 1); }
    void set_lcd_visible(bool) override {}
    void lcd_surface_painted() override {}
    uint32_t lcd_unlit_colour() override { return 0xffc0c4c0; }
    void set_lamp_colour(uint32_t) override {}
    bool key_fast() override { return false; }

private:
    void received(int32_t count);

    QTimer tick_timer_;
    QTimer frame_timer_;
    std::vector<uint8_t> recent_;  // tail of the line, to spot the fault signature
};
