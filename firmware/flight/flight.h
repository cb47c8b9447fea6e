// The flight display: the main screen and its three pages.
#pragma once

#include <cstdint>

// ---- main_screen.cpp --------------------------------------------------------
void main_screen();

// ---- attitude.cpp -----------------------------------------------------------
void attitude_page();
void rotate_point(int32_t x, int32_t y, float c, float s, int32_t& out_x, int32_t& out_y);
void column_fill(uint8_t x, uint8_t y, bool upward);
void horizon_fill(uint8_t x, uint8_t y, bool leftward, bool upward);

// ---- compass.cpp ------------------------------------------------------------
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
