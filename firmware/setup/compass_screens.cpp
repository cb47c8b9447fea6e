#include "firmware/setup/setup.h"

void dev_cal_confirm_screen() {}
void dev_cal_clear_screen() {}
void dev_cal_turn_screen() {}
void sensor_data_screen() {}
void set_alignment_screen() {}
