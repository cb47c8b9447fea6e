// Looking at the frame buffer from tests: text dumps for assertions and
// failure messages, PNG files for people.
#pragma once

#include <string>

// Rows y0..y1 of the panel, one line per row, '#' lit and '.' unlit.
std::string lcd_dump(int y0 = 0, int y1 = 63, int x0 = 0, int x1 = 127);

// Number of lit pixels in the rectangle, both corners included.
int lcd_count_lit(int x0, int y0, int x1, int y1);

// Writes the panel as a greyscale PNG, `scale` screen pixels per display
// pixel, lit dark on the LCD's light grey. Returns false if the file could not
// be written.
bool lcd_write_png(const std::string& path, int scale = 2);

// Where tests put pictures for people: $TARNBY_PICTURES if set, else
// "pictures" below the current directory (created on demand).
std::string picture_path(const std::string& name);
