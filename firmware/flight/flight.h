// The flight display: the main screen and its three pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "firmware/code_table.h"
#include "firmware/instrument_state.h"

// ---- main_screen.cpp --------------------------------------------------------
void main_screen();

// ---- attitude.cpp -----------------------------------------------------------
void attitude_page();
void rotate_point(int32_t x, int32_t y, float c, float s, int32_t& out_x, int32_t& out_y);
void column_fill(uint8_t x, uint8_t y, bool upward);
void horizon_fill(uint8_t x, uint8_t y, bool leftward, bool upward);

// ---- compass.cpp ------------------------------------------------------------

// How a compass style labels the points of its tape.
enum class TapeLabels : uint8_t {
    NUMBERS,                // a number every 30 degrees
    CARDINALS_AND_NUMBERS,  // N, E, S, W on the quarters, numbers between
    TWELVE_POINTS,          // N, NNE, ENE, E, ... every 30 degrees
    EIGHT_POINTS,           // N, E, S, W on the quarters, NE, SE, SW, NW halfway
    NONE,
};

struct CompassStyle {
    uint8_t style;      // its compass_display value
    const char* name;   // on the COMPASS SETUP list
    bool rose;          // the turning rose instead of the tape; it has no heading bug and no reciprocal display
    TapeLabels labels;  // of the tape, when there is one
};

// Every compass_display value: a new style is one more row here (and its
// enumerator), and the page, the keys and the setup list follow.
inline constexpr CompassStyle COMPASS_STYLES[] = {
    {COMPASS_NUMERIC, "NUMERIC", false, TapeLabels::NUMBERS},
    {COMPASS_MIXED, "MIXED", false, TapeLabels::CARDINALS_AND_NUMBERS},
    {COMPASS_CARD1, "CARD1", false, TapeLabels::TWELVE_POINTS},
    {COMPASS_CARD2, "CARD2", false, TapeLabels::EIGHT_POINTS},
    {COMPASS_ROSE, "ROSE", true, TapeLabels::NONE},
};
static_assert(std::size(COMPASS_STYLES) == COMPASS_STYLE_COUNT, "one row for every compass style");
static_assert(rows_in_code_order(COMPASS_STYLES, &CompassStyle::style), "rows in the order of their values");

// The style of a compass_display value. A value that is no style (nothing in
// the instrument sets one) is named " " and drawn as a tape without labels.
const CompassStyle& compass_style(uint8_t display);

void compass_page();
void heading_tape();
void compare_heading_bug();
void heading_bug_row();
void compass_type_label();

// ---- turn_bank.cpp ----------------------------------------------------------
void turn_bank_page();
// Needle angle of the turn and bank page, 0..359: 1..60 leans that many
// degrees left, 300..359 leans 360 - a right, 0 is upright.
int32_t turn_needle_angle();
void slip_ball_strip();
void range_warning();
void rate_box();
// The G load the readout shows, in signed tenths of a G, -99..99.
int32_t gforce_tenths();
void gforce_readout();
