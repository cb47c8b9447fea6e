#include "firmware/firmware_loop.h"

#include <cstdio>

#include "firmware/flight/flight.h"
#include "firmware/host.h"
#include "firmware/instrument_state.h"
#include "firmware/lcd/lcd.h"
#include "firmware/link/link.h"

const char splash_web_address[] = "halvornaero.co.uk";
static_assert(sizeof splash_web_address - 1 == 17, "the splash has room for 17 characters");

void contrast_hook() {}
void backlight_on_hook() {}
void backlight_off_hook() {}
void start_hook() {}

// Splashes playing: more than one when ON is pressed again during a splash.
static int splashes_playing = 0;

// The maker line slides in from the right edge; once it has passed column
// 102 the model line follows from the left until it is centred.
static void play_splash()
{
    struct Playing {
        Playing() { ++splashes_playing; }
        ~Playing() { --splashes_playing; }
    } playing;
    int8_t maker_column = 127;
    int8_t model_column = -20;
    for (int frame = 0; frame < 80; ++frame) {
        lcd_clear();
        lcd_text_const(static_cast<uint8_t>(maker_column), 5, "HALVORN AERO", 1, PIXEL_SET, 0);
        if (maker_column > 20)
            maker_column = static_cast<int8_t>(maker_column - 2);
        lcd_text_centred_const(static_cast<uint8_t>(model_column), 28, "QR-7", 1, PIXEL_SET, 0);
        if (maker_column < 102 && model_column < 64)
            model_column = static_cast<int8_t>(model_column + 2);
        lcd_text_small_centred_const(64, 56, splash_web_address, 100);
        lcd_text_small_const(95, 40, "2.03", 100);
        lcd_present();
        host().pump_messages();
    }
}

// The slider path subtracts the variation (the sensor link adds it).
static int32_t heading_from_slider()
{
    int32_t h = slider_heading;
    if (heading_true == 1)
        h -= variation;
    if (h > 360)
        h -= 360;
    if (h < 0)
        h += 360;
    if (h == 360)
        h = 0;
    return h;
}

static void log_reading(const char* label, int32_t value)
{
    char line[32];
    std::snprintf(line, sizeof line, "%s%d", label, static_cast<int>(value));
    host().memo_add_line(line);
}

static void take_readings()
{
    if (host().port_connected()) {
        // The sensor link sets the readings as frames arrive.
        log_reading("Pitch:", pitch);
        log_reading("Bank:", bank);
        log_reading("Slip:", slip);
        log_reading("Turn:", turn_rate);
        return;
    }
    heading = heading_from_slider();
    pitch = slider_pitch;
    bank = slider_bank;
    slip = slider_slip;
    turn_rate = slider_turn;
    gforce_raw = slider_gforce;
    heading_valid = 1;
    attitude_valid = 1;
}

static void run_pass()
{
    take_readings();
    if (backlight == 1)
        backlight_on_hook();
    else
        backlight_off_hook();
    if (attitude_valid == 1 && (sensor_status & 0x02))
        led_timer = 15;
    host().set_lamp_colour(led_timer != 0 ? 0xff0000 : 0x800000);
    key_step = host().key_fast() ? 10 : 1;

    // Image1 stays hidden while the buffer is cleared and while it is painted,
    // so the window never shows a half-drawn display.
    host().set_lcd_visible(false);
    lcd_clear();
    host().set_lcd_visible(true);
    if (current_screen)
        current_screen();
    host().set_lcd_visible(false);
    lcd_present();
    host().set_lcd_visible(true);
    host().pump_messages();
}

// What ON sets before the splash: a key clicked during the splash is kept
// for the first pass, one clicked before ON is not.
static void reset_before_splash()
{
    load_defaults();
    main_page = PAGE_ATTITUDE;
    key_code = KEY_NONE;
}

// What ON sets once the splash is over.
static void reset_after_splash()
{
    stop_requested = 0;
    current_screen = main_screen;
    menu_cursor = 0;
    heading_bug_on = 0;
    reciprocal_shown = 0;
    rx_state = 0;
    heading_valid = 0;
    attitude_valid = 0;
    compass_heading_seen = 0;
    tilt_comp = TILT_COMP_2D;
    sensor_status = 0;
    led_timer = 0;
    calibrating = 0;
}

void firmware_run()
{
    reset_before_splash();
    play_splash();
    start_hook();
    reset_after_splash();

    while (stop_requested == 0)
        run_pass();
}

void switched_on_state()
{
    reset_before_splash();
    reset_after_splash();
}

void level_aircraft_state()
{
    reset_instrument_state();
    reset_link_state();
    switched_on_state();
    // As the sliders at rest give them, every pass.
    heading_valid = 1;
    attitude_valid = 1;
}

void firmware_stop()
{
    stop_requested = 1;
}

bool loop_ending()
{
    return stop_requested != 0 && splashes_playing == 0;
}

void timer_tick()
{
    ++ticks;
    rx_clock_tick();
    if (led_timer > 0)
        --led_timer;
    const uint8_t before = two_second_count++;
    if (before < 19)
        return;
    two_second_count = 0;
    if (reciprocal_timer > 0)
        --reciprocal_timer;
    else
        reciprocal_shown = 0;
    if (heading_hold > 0)
        --heading_hold;
    else
        heading_valid = 0;
    if (attitude_hold > 0)
        --attitude_hold;
    else
        attitude_valid = 0;
}

void store_key_code(uint8_t code)
{
    if (key_code == KEY_NONE)
        key_code = code;
}

void turn_slider_moved(int32_t position)
{
    slider_turn = position;
    turn_source = 2;
}
