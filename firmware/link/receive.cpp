#include "firmware/link/link.h"

uint8_t rx_state;
uint8_t rx_address;
uint8_t rx_length;
uint8_t rx_remaining;
uint8_t rx_command;
uint8_t rx_payload[50];
uint8_t rx_index;
uint8_t rx_checksum;

void rx_parse_byte(uint8_t) {}
void link_receive(const uint8_t*, size_t) {}
