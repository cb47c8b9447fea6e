// Gallery scenes of the setup menus: every menu screen, and the states worth
// seeing (editing, scrolled lists, the calibration procedure, messages).
#include "firmware/flight/flight.h"
#include "firmware/instrument_state.h"
#include "firmware/setup/setup.h"
#include "scenes.h"

namespace {

uint8_t last_row(const MenuList& list)
{
    return static_cast<uint8_t>(list.count - 1);
}

// Rows are named by their text or the screen they open, never counted to.
void on(screen_routine screen, uint8_t cursor, uint8_t edit = 0)
{
    current_screen = screen;
    menu_cursor = cursor;
    menu_edit = edit;
}

const SceneRegistration menu_scenes[] = {
    SceneRegistration{{"menu_main_exit", "Main menu: EXIT MENU, back to the flight display",
                       [] { on(main_menu_screen, main_menu_entry_opening(main_screen)); }}},
    SceneRegistration{{"menu_main_display", "Main menu: DISPLAY SETUP", [] { on(main_menu_screen, main_menu_entry_opening(display_setup_screen)); }}},
    SceneRegistration{{"menu_main_horizon", "Main menu: HORIZON SETUP", [] { on(main_menu_screen, main_menu_entry_opening(horizon_setup_screen)); }}},
    SceneRegistration{{"menu_main_compass", "Main menu: COMPASS SETUP", [] { on(main_menu_screen, main_menu_entry_opening(compass_setup_screen)); }}},

    SceneRegistration{{"menu_display_setup", "Display setup, ADJUST CONTRAST selected",
                       [] { on(display_setup_screen, menu_row_opening(DISPLAY_SETUP, contrast_screen)); }}},
    SceneRegistration{{"menu_display_setup_editing", "Display setup, editing BACKLIGHT (only the value inverted)",
                       [] { on(display_setup_screen, menu_row_reading(DISPLAY_SETUP, "BACKLIGHT: "), 1); }}},
    SceneRegistration{{"menu_contrast", "Contrast adjustment at its default, 32 of 62", [] {
                           contrast = 32;
                           on(contrast_screen, 0);
                       }}},

    SceneRegistration{{"menu_horizon_setup", "Horizon setup, top of the list",
                       [] { on(horizon_setup_screen, 0); }}},
    SceneRegistration{{"menu_horizon_setup_editing", "Horizon setup, editing SLIP SENSE", [] {
                           slip_sense_high = 1;
                           on(horizon_setup_screen, menu_row_reading(HORIZON_SETUP, "SLIP SENSE: "), 1);
                       }}},
    SceneRegistration{{"menu_horizon_setup_scrolled", "Horizon setup on its last row: rows 5..11 on show",
                       [] { on(horizon_setup_screen, last_row(HORIZON_SETUP)); }}},
    SceneRegistration{{"menu_bump_factor", "Bump factor adjustment", [] {
                           bump_index = 2;
                           on(bump_factor_screen, 0);
                       }}},
    SceneRegistration{{"menu_slew_factor", "Slew factor adjustment", [] {
                           slew_index = 4;
                           on(slew_factor_screen, 0);
                       }}},
    SceneRegistration{{"menu_tb_source", "Turn and bank source, GYRO chosen", [] { on(tb_source_screen, 1); }}},

    SceneRegistration{{"menu_compass_setup", "Compass setup (IN-FLIGHT), editing VARIATION at 5 degrees west", [] {
                           heading_true = 1;
                           variation = -5;
                           on(compass_setup_screen, menu_row_reading(COMPASS_SETUP_IN_FLIGHT, "VARIATION: "), 1);
                       }}},
    SceneRegistration{{"menu_compass_setup_calibrating", "Compass setup while an in-flight calibration runs", [] {
                           calibrating = 1;
                           on(compass_setup_screen, compass_setup_calibrate_row());
                       }}},
    SceneRegistration{{"menu_compass_setup_ground", "Compass setup (GROUND), scrolled to SET ALIGNMENT", [] {
                           compass_cal_type = 0;
                           tilt_comp = TILT_COMP_3D_A;
                           on(compass_setup_screen, compass_setup_row_opening(set_alignment_screen));
                       }}},
    SceneRegistration{{"menu_dev_cal_confirm", "Deviation calibration: confirmation",
                       [] { on(dev_cal_confirm_screen, compass_setup_row_opening(dev_cal_confirm_screen)); }}},
    SceneRegistration{{"menu_dev_cal_turn", "Deviation calibration: turn the aircraft twice",
                       [] { on(dev_cal_turn_screen, compass_setup_row_opening(dev_cal_confirm_screen)); }}},
    SceneRegistration{{"menu_sensor_data", "Raw compass values and calibration limits", [] {
                           compass_ns = 182;
                           compass_ew = 37;
                           compass_z = 411;
                           compass_ns_min = 96;
                           compass_ns_max = 268;
                           compass_ew_min = 12;
                           compass_ew_max = 351;
                           compass_z_min = 388;
                           compass_z_max = 430;
                           on(sensor_data_screen, 0);
                       }}},
    SceneRegistration{{"menu_sensor_data_scrolled", "Sensor data on its last row: rows 3..9 on show", [] {
                           compass_z = 411;
                           compass_z_min = 388;
                           compass_z_max = 430;
                           compass_ns_min = 96;
                           compass_ns_max = 268;
                           compass_ew_min = 12;
                           compass_ew_max = 351;
                           on(sensor_data_screen, last_row(SENSOR_DATA));
                       }}},
    SceneRegistration{{"menu_dev_cal_clear", "Clearing the deviation calibration: confirmation",
                       [] { on(dev_cal_clear_screen, compass_setup_row_opening(dev_cal_clear_screen)); }}},
    SceneRegistration{{"menu_set_alignment", "Alignment commands, SET EAST selected",
                       [] { on(set_alignment_screen, menu_row_reading(SET_ALIGNMENT, "SET EAST")); }}},
    SceneRegistration{{"menu_message_done", "Message: the sensor unit confirmed", [] {
                           return_screen = set_alignment_screen;
                           on(done_screen, menu_row_reading(SET_ALIGNMENT, "SET EAST"));
                       }}},
    SceneRegistration{{"menu_message_comms_error", "Message: no answer from the sensor unit within two seconds", [] {
                           return_screen = horizon_setup_screen;
                           on(comms_error_screen, menu_row_opening(HORIZON_SETUP, bump_factor_screen));
                       }}},
};

}  // namespace
