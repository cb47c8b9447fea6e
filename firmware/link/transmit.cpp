#include "firmware/link/link.h"

uint8_t tx_address;
uint8_t tx_length;
uint8_t tx_body[4];

void send_byte(uint8_t) {}
void link_pause() {}
void send_frame() {}
void send_command(uint8_t, uint8_t, uint8_t) {}
bool send_until_answered(uint8_t, uint8_t, uint8_t, uint8_t&, uint8_t, uint8_t)
{
    return false;
}
void reset_link_state() {}
