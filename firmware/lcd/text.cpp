// Text in the four fonts.
#include "firmware/lcd/lcd.h"

void lcd_text(uint8_t, uint8_t, const char*, uint8_t, uint8_t, uint8_t) {}
void lcd_text_centred(uint8_t, uint8_t, const char*, uint8_t, uint8_t, uint8_t) {}
void lcd_text_small(uint8_t, uint8_t, const char*, uint8_t) {}
void lcd_text_small_centred(uint8_t, uint8_t, const char*, uint8_t) {}
void lcd_medium_number(uint8_t, uint8_t, const char*) {}
void lcd_big_number(uint8_t, uint8_t, const char*) {}
void lcd_text_const(uint8_t, uint8_t, const char*, uint8_t, uint8_t, uint8_t) {}
void lcd_text_centred_const(uint8_t, uint8_t, const char*, uint8_t, uint8_t, uint8_t) {}
void lcd_text_small_const(uint8_t, uint8_t, const char*, uint8_t) {}
void lcd_text_small_centred_const(uint8_t, uint8_t, const char*, uint8_t) {}
