#include "firmware/flight/flight.h"

void turn_bank_page() {}
void slip_ball_strip() {}
void range_warning() {}
void rate_box() {}
void gforce_readout() {}
