#include "firmware/setup/setup.h"

void display_setup_screen() {}
void horizon_setup_screen() {}
void compass_setup_screen() {}
void contrast_screen() {}
void bump_factor_screen() {}
void slew_factor_screen() {}
void tb_source_screen() {}
