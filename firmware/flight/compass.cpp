#include "firmware/flight/flight.h"

void compass_page() {}
void heading_tape() {}
void compare_heading_bug() {}
void heading_bug_row() {}
void compass_type_label() {}
