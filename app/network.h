// The panel's link to mirelserver: a thread that connects over TCP, reads
// the server's report lines and hands each one, parsed, to the listeners
// that the screens registered for its id; and the output text in which the
// screens queue their command lines.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

constexpr int NETWORK_IDS = 126;
constexpr size_t READ_BUF_SIZE = 0x18000;
constexpr size_t RESIDUAL_BUF_SIZE = 0xC000;
constexpr size_t COMMAND_BUF_SIZE = 0x10000;
constexpr int NETWORK_TIMEOUT_SHORT = 3;
constexpr int NETWORK_TIMEOUT_LONG = 60;

union command_num {
    int i;
    unsigned u;
    float f;
};

// One parsed report line. The numeric fields are in v[] in line order (the
// originating connection id is taken out into org); the string field, if
// any, is in text, decoded to UTF-8.
struct command_arg {
    int id;
    int count;            // numeric fields in v[] (list lines: values)
    command_num v[16];
    float list[128];      // response curves (13, 48): count values
    char text[1028];
    int org;              // originating connection id, 0 when the line has none
};
static_assert(sizeof(command_arg) <= 4096, "the parsed report fits its 4 KiB record");

using network_work_listener = void (*)(const command_arg *arg, intptr_t user);

// Clears the dispatch table, installs the parsers, allocates the buffers.
// 0, or -1 when a buffer cannot be had.
int network_init();
// Starts the link thread. 0, or -1 when it cannot be started.
int network_start();
// Ends the link thread and closes the connection (tests and shutdown).
void network_stop();

// Registers a listener for a report id that has a parser (checked).
void network_add_listener(int command_id, network_work_listener work_listener, intptr_t user);
// Queues one or more complete command lines for the server; the link
// thread writes them at once.
void network_output_command(const char *text);
// Takes the queued text that the link thread has not written (tests and
// benchmarks without a link thread).
std::string network_take_output();
int network_get_conn_id();
int network_connected();
void network_set_timeout_short();
void network_set_timeout_long();

// Dispatches complete lines (newline-terminated) held in text (n bytes,
// changed in place) to the listeners. Called with the sgui mutex held.
void network_dispatch(char *text, size_t n);
// Takes bytes as the link thread takes a read from the server: behind the
// incomplete line of the previous read, complete lines dispatched, an
// incomplete last line kept for the next (tests and the fuzzer).
void network_receive(const char *bytes, size_t n);
// Whether id has a parser.
bool network_has_parser(int command_id);
