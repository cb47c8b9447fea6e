#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "e2e_support.h"
#include "firmware/instrument_state.h"
#include "firmware/link/link.h"

using namespace std::chrono_literals;

namespace {

// Generous: the machine running this may be busy with other builds.
constexpr auto DEADLINE = 15s;

class SensorLinkEndToEnd : public testing::Test {
protected:
    // The flight starts on heading 90, straight and level, for 15 seconds.
    void start(std::vector<std::string> options = {})
    {
        options.insert(options.end(), {"--quiet", "--heading", "90"});
        emulator_ = std::make_unique<EmulatorProcess>(options);
        ASSERT_FALSE(emulator_->device().empty()) << emulator_->error();
        host_->open(emulator_->device());
        ASSERT_TRUE(host_->port_connected());
    }

    // Every kind of frame the unit streams has arrived since this was called.
    bool data_flowing()
    {
        attitude_valid = 0;
        compass_frame_received = 0;
        compass_data_received = 0;
        return host_->pump_until(
            [] { return attitude_valid == 1 && compass_frame_received == 1 && compass_data_received == 1; },
            DEADLINE);
    }

    bool exchange(uint8_t code, uint8_t a, uint8_t b, uint8_t& flag)
    {
        host_->memo.clear();
        return send_until_answered(code, a, b, flag, 10, 20);
    }

    // Declared first so the port closes before the emulator goes.
    std::unique_ptr<EmulatorProcess> emulator_;
    std::unique_ptr<LinkHost> host_ = std::make_unique<LinkHost>();

    void TearDown() override
    {
        host_.reset();
        emulator_.reset();
    }
};

} // namespace

TEST_F(SensorLinkEndToEnd, ReadingsArriveFromTheSensorUnit)
{
    start();
    ASSERT_TRUE(data_flowing());
    EXPECT_EQ(heading_valid, 1);
    EXPECT_EQ(compass_heading_seen, 1);
    EXPECT_EQ(turn_source, 2) << "long attitude frames with turn rate";
    EXPECT_EQ(tilt_comp, 1);
    EXPECT_NEAR(heading, 90, 1);
    EXPECT_NEAR(pitch, 2, 2);
    EXPECT_NEAR(bank, 0, 1);
    EXPECT_NEAR(turn_rate, 0, 5);
    EXPECT_NEAR(gforce_raw, 256, 5);
    EXPECT_EQ(sensor_status & 0x02, 0);
    EXPECT_LE(compass_ns_min, compass_ns);
    EXPECT_LE(compass_ns, compass_ns_max);
    EXPECT_LE(compass_z_min, compass_z) << "the long compass data frame carries Z";
    EXPECT_LE(compass_z, compass_z_max);
    EXPECT_GT(compass_z, 0);
    EXPECT_FALSE(host_->poisoned);
}

TEST_F(SensorLinkEndToEnd, ExchangesAreAnswered)
{
    start();
    ASSERT_TRUE(data_flowing());

    EXPECT_TRUE(exchange(12, 70, 0, ack_received)) << "bump factor";
    EXPECT_GE(host_->copies_sent(10), 1u);
    EXPECT_LE(host_->copies_sent(10), 3u) << "an answer within 20 ms stops the copies";

    EXPECT_TRUE(exchange(17, 4, 0, ack_received)) << "turn and bank source";
    EXPECT_TRUE(exchange(1, 0, 0, compass_data_received)) << "deviation calibration start";
    EXPECT_TRUE(exchange(2, 0, 0, compass_data_received)) << "deviation calibration finish";
    EXPECT_TRUE(exchange(11, 0, 0, ack_received)) << "clear alignment";

    // Tilt compensation goes out once, unanswered; the compass heading
    // frames report the new setting.
    send_command(6, 3, 0);
    EXPECT_TRUE(host_->pump_until([] { return tilt_comp == 3; }, DEADLINE));
}

TEST_F(SensorLinkEndToEnd, FaultBurstIsDroppedAndTheLinkRecovers)
{
    start();
    ASSERT_TRUE(data_flowing());

    emulator_->command("noise 300");
    emulator_->command("badsum 5");
    emulator_->command("truncate 3");
    emulator_->command("noise 50");
    ASSERT_TRUE(host_->pump_until([&] { return host_->fault_frames_seen >= 5; }, DEADLINE))
        << "the fault frames went past";

    // The emulator answers only after its burst has gone out, so this answer
    // comes through the wreckage.
    EXPECT_TRUE(exchange(7, 0, 0, ack_received));
    EXPECT_TRUE(data_flowing());
    EXPECT_FALSE(host_->poisoned) << "no faulty frame reached the readings";
    EXPECT_GE(heading, 0);
    EXPECT_LT(heading, 360);
}

TEST_F(SensorLinkEndToEnd, SilenceFailsTheExchangeThenTheLinkRecovers)
{
    start();
    ASSERT_TRUE(data_flowing());

    emulator_->command("silence 6");
    // Silence has begun once nothing has come for a while.
    uint64_t seen = host_->bytes_received;
    auto changed = std::chrono::steady_clock::now();
    ASSERT_TRUE(host_->pump_until(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            if (host_->bytes_received != seen) {
                seen = host_->bytes_received;
                changed = now;
            }
            return now - changed > 300ms;
        },
        DEADLINE));

    EXPECT_FALSE(exchange(8, 0, 0, ack_received));
    EXPECT_EQ(host_->copies_sent(9), 10u);

    EXPECT_TRUE(data_flowing());
    EXPECT_TRUE(exchange(8, 0, 0, ack_received));
    EXPECT_FALSE(host_->poisoned);
}

TEST_F(SensorLinkEndToEnd, DisconnectAndConnectAgain)
{
    start();
    ASSERT_TRUE(data_flowing());
    host_->port.Close();
    EXPECT_FALSE(host_->port_connected());
    // Commands are still logged but go nowhere.
    EXPECT_FALSE(send_until_answered(14, 0, 0, ack_received, 3, 3));

    host_->port.Open();
    ASSERT_TRUE(host_->port_connected());
    EXPECT_TRUE(data_flowing());
    EXPECT_TRUE(exchange(14, 0, 0, ack_received));
}
