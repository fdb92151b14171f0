// The stream server: one network thread that serves up to 8 TCP clients
// (raw lines, NUL-terminated "flash" lines, WebSocket, policy request) with
// one poll loop, hands their lines to the command dispatcher and sends every
// client the level and command streams after each real-time cycle.
#pragma once
#include <cstddef>
#include <cstdint>

#include "buffer.h"

constexpr int STREAM_MAX_CLIENTS = 8;
constexpr size_t STREAM_QUEUE_MAX = 65536;       // send and receive queue limit
constexpr size_t STREAM_LINE_MAX = 1024;         // longest command line
constexpr uint64_t STREAM_WS_PAYLOAD_MAX = 1024; // limit of a 64-bit frame length
constexpr size_t STREAM_REPLY_SIZE = 65536;      // information reply and full dump
constexpr size_t STREAM_WS_KEY_LEN = 24;
constexpr int STREAM_LISTEN_BACKLOG = 5;
// A client whose send queue makes no progress for this long is dropped. Long
// enough for a WLAN client whose socket stalls for a moment.
constexpr int64_t STREAM_INACTIVITY_US = 2000000;
// Longest wait of the serial link for the real-time thread's end of cycle
// (four cycles), so its commands still run while no cycle comes.
constexpr int64_t STREAM_CYCLE_WAIT_US = 100000;
// Longest sleep of the network thread when nothing is due.
constexpr int64_t STREAM_IDLE_POLL_US = 1000000;

enum stream_state : int {
    STREAM_STATE_NEW = 0,        // no mode header yet
    STREAM_STATE_RAW = 1,        // raw lines (NUL mode for flash clients)
    STREAM_STATE_WEBSOCKET = 2,
    STREAM_STATE_POLICY = 3,     // policy answered; closed once sent
    STREAM_STATE_DEAD = 4,       // removed at the end of the loop pass
};

struct stream_client {
    int fd;
    bool readable, writable;  // from poll, cleared when served
    bool fragment;            // a WebSocket message of ours is open
    bool nul_mode;            // a NUL after every piece
    buffer send_queue;
    buffer recv_queue;
    char ws_key[STREAM_WS_KEY_LEN + 1];
    bool in_http;             // the request line has been read
    bool ws_upgrade;          // "Upgrade: websocket" seen
    int state;                // stream_state
    int conn_id;
    int64_t pending_since;    // monotonic microseconds; 0 = nothing pending
};

// The command protocol, reached through this table so that the server runs
// before (and without) it. Every entry is called with the command lock held.
//   command:       runs one command line (id below 1024); internal as for command_work.
//   info:          answers an information request into reply (size bytes); returns its length.
//   full_dump:     writes the full state dump for a new client; returns its length.
//   take_message:  takes the oldest user message of conn_id out of the table
//                  and writes its line 25 into line; returns its length, 0 if none.
//   drop_messages: frees every message of conn_id (the client has gone).
// A missing entry is reported per line (command, info) or skipped.
struct stream_handlers {
    void (*command)(const char *line, int internal);
    size_t (*info)(const char *line, char *reply, size_t size);
    size_t (*full_dump)(char *out, size_t size);
    size_t (*take_message)(int conn_id, char *line, size_t size);
    void (*drop_messages)(int conn_id);
};

// Installs the handlers; called before stream_rt_init.
void stream_set_handlers(const stream_handlers *handlers);

// Starts the network thread, then the serial thread. A thread that cannot be
// created ends the process with status 1; otherwise returns 0.
int stream_rt_init();

// Starts the network thread alone; returns pthread_create's result.
int stream_start();

// Queues one piece for a client: raw mode as it is (plus a NUL in NUL mode),
// WebSocket mode as one frame of the current message, which final closes.
void stream_send(stream_client *c, int final, const void *bytes, size_t length);

// Handles one received line of a client under the command lock: a command,
// or an information request answered to this client; then its user message.
void stream_handle_line(stream_client *c, const char *line);

// Runs one command line through the command handler. Caller holds the command lock.
void stream_run_command(const char *line, int internal);

// True while a client holds that connection id. Caller holds the command lock.
bool stream_conn_id_held(int conn_id);

// Waits for the end of the real-time cycle; the caller holds the levels lock.
// True when the cycle ended, false after STREAM_CYCLE_WAIT_US without one.
bool stream_wait_cycle();
