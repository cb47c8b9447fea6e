#include "firmware/flight/flight.h"

void attitude_page() {}
void rotate_point(int32_t x, int32_t y, float c, float s, int32_t& out_x, int32_t& out_y)
{
    out_x = x;
    out_y = y;
    (void)c;
    (void)s;
}
void column_fill(uint8_t, uint8_t, bool) {}
void horizon_fill(uint8_t, uint8_t, bool, bool) {}
