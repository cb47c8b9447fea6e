// Looking at the frame buffer from tests: text dumps for assertions and
// failure messages. (Pictures for people come from the screenshot tool.)
#pragma once

#include <string>

// Rows y0..y1 of the panel, one line per row, '#' lit and '.' unlit.
std::string lcd_dump(int y0 = 0, int y1 = 63, int x0 = 0, int x1 = 127);

// Number of lit pixels in the rectangle, both corners included.
int lcd_count_lit(int x0, int y0, int x1, int y1);
