// Gallery scenes of the flight display: every page, every style and the
// states worth seeing (warnings, bug, reciprocal, calibration, no data).
#include <cctype>
#include <iterator>
#include <string>

#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "scenes.h"

namespace {

void attitude(int32_t bank_deg, int32_t pitch_deg)
{
    main_page = PAGE_ATTITUDE;
    bank = bank_deg;
    pitch = pitch_deg;
}

void compass(int32_t heading_deg, uint8_t style)
{
    main_page = PAGE_COMPASS;
    heading = heading_deg;
    compass_display = style;
}

void turn(int32_t bank_deg)
{
    main_page = PAGE_TURN_BANK;
    bank = bank_deg;
}

void turn_rate_of(int32_t tenths)
{
    main_page = PAGE_TURN_BANK;
    turn_source = 2;
    turn_rate = tenths;
}

const SceneRegistration attitude_scenes[] = {
    SceneRegistration{{"attitude_level", "Attitude page, straight and level, default overlays: heading box, "
                                         "rate box, G readout, slip ball",
                       [] { attitude(0, 0); gforce_raw = 256; }}},
    SceneRegistration{{"attitude_climbing_left_turn",
                       "Climbing left turn: bank 15, pitch 8, the rate box square under its left mark", [] {
                           attitude(15, 8);
                           heading = 47;
                           gforce_raw = 272;
                           slip = -4;
                       }}},
    SceneRegistration{{"attitude_descending_right_turn", "Descending right turn: bank -30, pitch -12", [] {
                           attitude(-30, -12);
                           heading = 312;
                           gforce_raw = 296;
                           slip = 6;
                       }}},
    SceneRegistration{{"attitude_numeric", "NUMERIC on: bank and pitch as numbers (L15, U5)", [] {
                           attitude(15, 5);
                           numeric_display = 1;
                           heading = 90;
                           gforce_raw = 256;
                       }}},
    SceneRegistration{{"attitude_small_icon", "ICON SMALL, TURN&BANK and G-FORCE off", [] {
                           attitude(-10, 3);
                           icon_large = 0;
                           tb_display = 0;
                           gforce_display = 0;
                           heading = 181;
                       }}},
    SceneRegistration{{"attitude_bare", "Every overlay off: horizon, ladder and aircraft symbol only", [] {
                           attitude(25, -6);
                           slip_display = tb_display = gforce_display = compass_on = 0;
                       }}},
    SceneRegistration{{"attitude_steep_left", "Bank 100 left: ground filled from the top left", [] {
                           attitude(100, 0);
                           heading = 20;
                           gforce_raw = 128;
                       }}},
    SceneRegistration{{"attitude_inverted", "Inverted (bank 180), nose 10 up: ground above the horizon", [] {
                           attitude(180, 10);
                           heading = 200;
                           gforce_raw = 256;
                           sensor_status = 0x10;
                       }}},
    SceneRegistration{{"attitude_nose_down", "Pitch -40: the horizon is above the panel, all ground", [] {
                           attitude(0, -40);
                           heading = 5;
                           gforce_raw = 400;
                       }}},
    SceneRegistration{{"attitude_true_heading", "HEADING TRUE: the heading box shows T", [] {
                           attitude(5, 2);
                           heading_true = 1;
                           heading = 275;
                           gforce_raw = 256;
                       }}},
    SceneRegistration{{"attitude_range_exceeded", "RANGE EXCEEDED from the sensor unit replaces the slip ball",
                       [] {
                           attitude(35, 15);
                           sensor_status = 0x02;
                           gforce_raw = 700;
                       }}},
    SceneRegistration{{"attitude_calibrating", "In-flight compass calibration running: the calibration box", [] {
                           attitude(3, 1);
                           gforce_raw = 256;
                           calibrating = 1;
                       }}},

};

// ---- compass page ----

// One scene for every compass style, named after it (compass_card1).
struct StyleScene {
    uint8_t style;
    int32_t heading;
    const char* caption;
};
constexpr StyleScene style_scenes[] = {
    {COMPASS_NUMERIC, 27, "Compass, DISPLAY NUMERIC: tape labelled every 30 degrees"},
    {COMPASS_MIXED, 96, "Compass, DISPLAY MIXED: N, E, S, W and numbers"},
    {COMPASS_CARD1, 10, "Compass, DISPLAY CARD1 (the default): twelve points"},
    {COMPASS_CARD2, 45, "Compass, DISPLAY CARD2: cardinal and intercardinal points"},
    {COMPASS_ROSE, 30, "Compass, DISPLAY ROSE: the rose turns against the heading"},
};
static_assert(std::size(style_scenes) == COMPASS_STYLE_COUNT, "a scene for every compass style");

const struct StyleScenes {
    StyleScenes()
    {
        for (const StyleScene& s : style_scenes) {
            std::string name = "compass_";
            for (const char* c = compass_style(s.style).name; *c; ++c)
                name += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
            scene_registry().push_back({name, s.caption, [s] { compass(s.heading, s.style); }});
        }
    }
} style_scene_registration;

const SceneRegistration flight_scenes[] = {
    SceneRegistration{{"compass_rose_true", "ROSE with HEADING TRUE, heading 250", [] {
                           compass(250, COMPASS_ROSE);
                           heading_true = 1;
                       }}},
    SceneRegistration{{"compass_tilt_3d", "Tilt compensation 3D G shown as 3G", [] {
                           compass(182, COMPASS_CARD1);
                           tilt_comp = TILT_COMP_3D_G;
                       }}},
    SceneRegistration{{"compass_bug_left", "Heading bug 350 at heading 10: turn left, five arrows", [] {
                           compass(10, COMPASS_CARD1);
                           heading_bug_on = 1;
                           heading_bug = 350;
                       }}},
    SceneRegistration{{"compass_bug_right", "Heading bug 64 at heading 57: turn right, three arrows", [] {
                           compass(57, COMPASS_NUMERIC);
                           heading_bug_on = 1;
                           heading_bug = 64;
                       }}},
    SceneRegistration{{"compass_reciprocal", "Right key: the reciprocal of heading 200 for ten seconds", [] {
                           compass(200, COMPASS_CARD1);
                           reciprocal_shown = 1;
                       }}},
    SceneRegistration{{"compass_calibrating", "Calibration box over the tape", [] {
                           compass(133, COMPASS_CARD1);
                           calibrating = 1;
                       }}},

    // ---- turn and bank page ----
    SceneRegistration{{"turn_level", "Turn and bank, wings level, 2 MIN TURN (the default)", [] { turn(0); }}},
    SceneRegistration{{"turn_left_rate_two_min",
                       "Bank 15 left with T&B MIN/REV 2: the needle on the left mark", [] { turn(15); }}},
    SceneRegistration{{"turn_right_one_min", "Bank 30 right with T&B MIN/REV 1: the needle on the right mark, "
                                             "ball out to the left",
                       [] {
                           turn(-30);
                           tb_two_min = 0;
                           slip = -14;
                       }}},
    SceneRegistration{{"turn_from_turn_rate", "Measured turn rate of 2 degrees per second right, two thirds of "
                                              "a two-minute turn",
                       [] { turn_rate_of(20); }}},
    SceneRegistration{{"turn_full_right", "Fastest right turn of the slider (18 degrees per second): full right",
                       [] { turn_rate_of(180); }}},
    SceneRegistration{{"turn_full_left", "Bank 90 left: the needle pinned full left", [] { turn(90); }}},
    SceneRegistration{{"turn_slip_high", "SLIP SENSE HIGH doubles the ball's travel", [] {
                           turn(8);
                           slip = 18;
                           slip_sense_high = 1;
                       }}},
    SceneRegistration{{"turn_range_exceeded", "RANGE EXCEEDED on the turn and bank page", [] {
                           turn(-40);
                           sensor_status = 0x02;
                       }}},

    // ---- no data ----
    SceneRegistration{{"nodata_attitude", "Attitude page before the attitude unit has reported", [] {
                           attitude(0, 0);
                           attitude_valid = 0;
                       }}},
    SceneRegistration{{"nodata_compass", "Compass page before the compass unit has reported", [] {
                           compass(0, COMPASS_CARD1);
                           heading_valid = 0;
                       }}},
};

}  // namespace
