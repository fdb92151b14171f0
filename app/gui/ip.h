// "NETWORK & DIGITAL": the network configuration (mode, static address
// editor, subnet bits, gateway, name service) sent as one command 21 with
// "Press ENTER to set", the WLAN password (command 112) and the digital
// I/O word (command 63).
#pragma once
#include "sgui/sgui.h"

// Bits of the digital I/O word that this page drives: inputs C and D
// digital, redundancy, the external input SPDIF (else AVB/ADAT); bits 4 to
// 7 the one-of-four external output choice.
enum {
    IP_DIO_INPUT_C = 1,
    IP_DIO_INPUT_D = 2,
    IP_DIO_REDUNDANCY = 4,
    IP_DIO_EXT_IN_SPDIF = 8,
};
// Bit 4 of the mode byte: no name service (the DNS responder and the DHCP
// server's DNS lines off).
constexpr int IP_MODE_NO_DNS = 16;
constexpr int IP_STATIC_CONTAINERS_MAX = 9;
constexpr const char *IP_DIGITAL_WARNING =
    "Analog Inputs will\nbe switched OFF\nwhile digital signal\nis present.";

struct ip_widgets {
    sgui_widget *root, *page;
    sgui_widget *mode, *mode_text, *addr[4], *bits, *gw[4], *dns, *set;
    sgui_widget *wlan, *input_c, *input_d, *redundancy, *ext_in, *ext_out;
    int static_ip_container_cnt;
};

void ip_init();
// Asks the server for the current state (request 1030) and opens the page.
void ip_open();
ip_widgets *ip_get();

// The one-of-four choice of bits 4 to 7 (0 none) in and out of the word.
int ip_dio_choice(int word);
int ip_dio_with_choice(int word, int choice);
// The line of command 21 after "21,conn,": mode value, address, bits,
// gateway.
const char *ip_network_line(int mode, int dns, const int addr[4], int bits, const int gw[4], char *buf, size_t size);
