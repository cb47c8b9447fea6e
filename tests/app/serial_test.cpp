// The window's serial connection: Connect and Disconnect with their guards,
// a failed Connect shown in the error box with Connect still usable, bytes
// received through ComPort1RxChar into the sensor link, bytes sent written
// to the port, and the port chosen through TARNBY_PORT. The far end is a
// pseudo-terminal standing in for the sensor unit.
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "app/window_host.h"
#include "app_test_support.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"
#include "pseudo_terminal.h"

namespace {

// The sensor unit's end of a pseudo-terminal; the window opens the other.
class SensorEnd {
public:
    bool ok() const { return !terminal_.slave_path().empty(); }
    void hang_up() { terminal_.hang_up(); }
    const std::string& device() const { return terminal_.slave_path(); }
    void send(const std::vector<uint8_t>& bytes)
    {
        ASSERT_EQ(write(terminal_.master_fd(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    // Writes what the terminal takes now of bytes[from...]; returns the new position.
    size_t send_some(const std::vector<uint8_t>& bytes, size_t from)
    {
        const ssize_t n = write(terminal_.master_fd(), bytes.data() + from, bytes.size() - from);
        return n > 0 ? from + static_cast<size_t>(n) : from;
    }
    // Whatever has arrived so far.
    std::vector<uint8_t> received()
    {
        terminal_.read_available(got_);
        return got_;
    }

private:
    pty::PseudoTerminal terminal_{{.nonblocking = true}};
    std::vector<uint8_t> got_;
};

// The acknowledgement frame to the instrument.
const std::vector<uint8_t> ACK = {0x82, 0xE5, 0x02, 0x0A, 0x00, 0x48, 0x83};

}  // namespace

class SerialTest : public WindowTest {
protected:
    void SetUp() override {}
    void open_window_on(const std::string& port)
    {
        ScopedEnv chosen("TARNBY_PORT", port.c_str());
        WindowTest::SetUp();
    }
};

TEST_F(SerialTest, PortDefaultsToCom3AndFollowsTarnbyPort)
{
    {
        ScopedEnv unset("TARNBY_PORT", nullptr);
        WindowTest::SetUp();
    }
    EXPECT_EQ(form->ComPort1->Port(), "COM3");
    EXPECT_FALSE(form->ComPort1->Connected());
    EXPECT_EQ(form->ComPort1->BaudRate(), br19200);
    EXPECT_EQ(form->ComPort1->FlowControl()->ControlDTR(), dtrDisable) << "DTR held low";
    form.reset();
    open_window_on("/dev/pts/77");
    EXPECT_EQ(form->ComPort1->Port(), "/dev/pts/77");
}

TEST_F(SerialTest, AFailedConnectIsShownAndConnectStaysUsable)
{
    open_window_on("/nonexistent/tty");
    form->Button4->click();  // Disconnect while disconnected: nothing
    EXPECT_TRUE(errors_shown.isEmpty());
    form->Button3->click();
    ASSERT_EQ(errors_shown.size(), 1);
    EXPECT_TRUE(errors_shown[0].contains("Unable to open com port")) << errors_shown[0].toStdString();
    EXPECT_FALSE(form->ComPort1->Connected());
    EXPECT_TRUE(form->Button3->isEnabled());
    form->Button3->click();
    EXPECT_EQ(errors_shown.size(), 2) << "a second try is made and fails the same way";
}

TEST_F(SerialTest, ConnectReceiveSendAndDisconnect)
{
    SensorEnd sensor;
    ASSERT_TRUE(sensor.ok());
    open_window_on(sensor.device());
    form->Button3->click();
    ASSERT_TRUE(errors_shown.isEmpty()) << errors_shown.join(" ").toStdString();
    ASSERT_TRUE(form->ComPort1->Connected());
    form->Button3->click();  // already connected: nothing
    EXPECT_TRUE(errors_shown.isEmpty());
    EXPECT_TRUE(host().port_connected());

    ack_received = 0;
    sensor.send(ACK);
    EXPECT_TRUE(wait_until([] { return ack_received == 1; })) << "the frame reached the parser";

    host().port_write(0xE5);
    host().port_write(0x82);
    EXPECT_TRUE(wait_until([&] { return sensor.received().size() >= 2; }));
    EXPECT_EQ(sensor.received(), (std::vector<uint8_t>{0xE5, 0x82}));

    form->Button4->click();
    EXPECT_FALSE(form->ComPort1->Connected());
    form->Button4->click();  // already disconnected: nothing
    EXPECT_TRUE(errors_shown.isEmpty());
    EXPECT_FALSE(host().port_connected());
}

TEST_F(SerialTest, MoreThanOneBufferOfWaitingBytesIsAllRead)
{
    SensorEnd sensor;
    ASSERT_TRUE(sensor.ok());
    open_window_on(sensor.device());
    form->Button3->click();
    ASSERT_TRUE(form->ComPort1->Connected());
    // Noise the parser skips, longer than one read, then a frame: the
    // frame is only seen if the bytes beyond the first buffer are read too.
    std::vector<uint8_t> burst(TForm1::RX_BUFFER_SIZE + 3000 + ACK.size(), 0x00);
    std::copy(ACK.begin(), ACK.end(), burst.end() - static_cast<std::ptrdiff_t>(ACK.size()));
    ack_received = 0;
    // The first part is written while the main thread is not reading, so
    // more than a buffer's worth waits at once; the rest as the terminal
    // takes it.
    size_t sent = sensor.send_some(burst, 0);
    ASSERT_GT(sent, size_t{TForm1::RX_BUFFER_SIZE});
    EXPECT_TRUE(wait_until([&] {
        sent = sensor.send_some(burst, sent);
        return ack_received == 1;
    }));
    EXPECT_EQ(sent, burst.size());
    form->Button4->click();
}

TEST_F(SerialTest, DisconnectWhileTheLoopRunsGivesTheSlidersBack)
{
    SensorEnd sensor;
    ASSERT_TRUE(sensor.ok());
    open_window_on(sensor.device());
    form->TrackBar2->setValue(33);
    CountingHost counter(host());
    int connected_passes = 0;
    int passes_after = 0;
    counter.on_pump = [&] {
        if (current_screen == nullptr)
            return;  // the splash
        if (!form->ComPort1->Connected() && connected_passes == 0) {
            form->Button3->click();
            pitch = -1;  // the link's last word, until a frame says otherwise
            return;
        }
        if (form->ComPort1->Connected()) {
            EXPECT_EQ(pitch, -1) << "the sliders are not copied while connected";
            if (++connected_passes == 3)
                form->Button4->click();
            return;
        }
        if (++passes_after == 2)
            form->Button2->click();
    };
    form->Button1->click();
    EXPECT_TRUE(errors_shown.isEmpty()) << errors_shown.join(" ").toStdString();
    EXPECT_EQ(connected_passes, 3);
    EXPECT_EQ(pitch, 33);
    // Four readings a pass went to the log while connected.
    EXPECT_GE(form->Memo1->blockCount(), 4 * 2);
}

// Four readings a pass and the bytes of a frame sent inside a pass reach
// Memo1 as they were logged, line for line, in batches of many passes, all
// of them by the time the loop is over; a frame sent while the loop is
// stopped shows up without any pass.
TEST_F(SerialTest, MemoGetsEveryLoggedLineInOrderInBatches)
{
    SensorEnd sensor;
    ASSERT_TRUE(sensor.ok());
    open_window_on(sensor.device());
    form->Button3->click();
    ASSERT_TRUE(form->ComPort1->Connected());
    int appends = 0;
    QObject::connect(form->Memo1, &QPlainTextEdit::textChanged, [&] { ++appends; });
    CountingHost counter(host());
    int passes = 0;
    counter.on_pump = [&] {
        if (current_screen == nullptr)
            return;  // the splash
        if (++passes == 3)
            send_command(CMD_TB_SOURCE, 4, 0);
        if (passes == 8)
            form->Button2->click();
    };
    QElapsedTimer clock;
    clock.start();
    form->Button1->click();
    ASSERT_EQ(passes, 8);
    // One append per batch period at most, and one when the loop ends.
    EXPECT_LE(appends, clock.elapsed() / WindowHost::MEMO_BATCH_PERIOD.count() + 2);
    const auto readings = std::count_if(counter.memo_lines.begin(), counter.memo_lines.end(),
                                        [](const QString& line) { return !line.startsWith("0x"); });
    EXPECT_EQ(readings, 8 * 4);
    EXPECT_GT(counter.memo_lines.size(), readings) << "the frame's bytes were logged too";
    EXPECT_EQ(form->Memo1->toPlainText().split('\n'), counter.memo_lines);

    send_command(CMD_TILT_COMP, 1, 0);
    const QStringList all = counter.memo_lines;
    EXPECT_TRUE(wait_until([&] { return form->Memo1->toPlainText().split('\n') == all; }));
    form->Button4->click();
}

TEST_F(SerialTest, AWriteToAVanishedDeviceClosesThePortAndIsShownOnce)
{
    SensorEnd sensor;
    ASSERT_TRUE(sensor.ok());
    open_window_on(sensor.device());
    form->Button3->click();
    ASSERT_TRUE(form->ComPort1->Connected());
    sensor.hang_up();
    for (uint8_t b = 0; b < 10; ++b) {
        if (host().port_connected())
            host().port_write(b);
    }
    ASSERT_TRUE(wait_until([&] { return !form->ComPort1->Connected(); }));
    EXPECT_EQ(errors_shown.size(), 1) << errors_shown.join(" | ").toStdString();
    EXPECT_TRUE(form->Button3->isEnabled());
}
