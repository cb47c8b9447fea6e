#include "firmware/flight/flight.h"

void main_screen() {}
