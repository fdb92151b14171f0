// One client of the stream server: its record, how its received bytes are
// read (mode header, policy request, HTTP upgrade, WebSocket frames, raw
// lines) and how pieces are queued for it. The network thread owns every
// client record; nothing here blocks.
#pragma once
#include <cstddef>
#include <cstdint>

#include "buffer.h"

constexpr size_t STREAM_QUEUE_MAX = 65536;       // send and receive queue limit
constexpr size_t STREAM_LINE_MAX = 1024;         // longest command line
constexpr uint64_t STREAM_WS_PAYLOAD_MAX = 1024; // limit of a 64-bit frame length
constexpr size_t STREAM_REPLY_SIZE = 65536;      // information reply and full dump
constexpr size_t STREAM_WS_KEY_LEN = 24;
// Longest time the lines of one client are handled in one go; the rest waits
// for the next pass of the network thread, so broadcasts and the other
// clients come in between, however costly the commands a client floods.
constexpr int64_t STREAM_CLIENT_BUDGET_US = 5000;

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
    buffer send_queue;        // both limited to STREAM_QUEUE_MAX by stream_client_init
    buffer recv_queue;
    char ws_key[STREAM_WS_KEY_LEN + 1];
    bool in_http;             // the request line has been read
    bool ws_upgrade;          // "Upgrade: websocket" seen
    int state;                // stream_state
    int conn_id;
    int64_t pending_since;    // monotonic microseconds; 0 = nothing pending
    bool backlog;             // received lines wait for the next pass (budget spent)
    size_t frame_done;        // payload bytes of the first queued frame already
                              // handled (it is unmasked in place then)
};

// The command protocol, reached through this table so that the server runs
// before (and without) it. Every entry is called with the command lock held.
//   command:       runs one command line (id below 1024); internal as for command_work.
//   info:          answers an information request into reply (size bytes); returns its length.
//   full_dump:     writes the full state dump for a new client; returns its length.
//   take_message:  takes the oldest user message of conn_id out of the table
//                  and writes its line 25 into line; returns its length, 0 if none.
//   client_gone:   conn_id's client has gone: its messages are freed, what
//                  it held (the delete lock) released.
// A missing entry is reported per line (command, info) or skipped.
struct stream_handlers {
    void (*command)(const char *line, int internal);
    size_t (*info)(const char *line, char *reply, size_t size);
    size_t (*full_dump)(char *out, size_t size);
    size_t (*take_message)(int conn_id, char *line, size_t size);
    void (*client_gone)(int conn_id);
};

// Installs the handlers; called before stream_rt_init.
void stream_set_handlers(const stream_handlers *handlers);
const stream_handlers &stream_get_handlers();

// A fresh record for a new connection, both queues limited to STREAM_QUEUE_MAX.
void stream_client_init(stream_client *c, int fd, int conn_id);

// Closes the connection and marks the record dead ("killing client #%d",
// printed once). The record leaves the table at the end of the loop pass.
void stream_client_kill(stream_client *c);

// Reads what the socket holds into the receive queue and handles it, for at
// most STREAM_CLIENT_BUDGET_US. Returns 0, or -1 when the client was killed.
int stream_client_read(stream_client *c);
// Handles more of a backlog (the next pass of the network thread).
void stream_client_continue(stream_client *c);
// Writes as much of the send queue as the socket takes.
void stream_client_write(stream_client *c);
// Takes bytes as if they had been read from the socket, and handles them
// (backlog included): the receive side without a socket (tests and the fuzzer).
void stream_client_feed(stream_client *c, const void *bytes, size_t length);

// Queues one piece for a client: raw mode as it is (plus a NUL in NUL mode),
// WebSocket mode as one frame of the current message, which final closes.
// A piece that would take the send queue past its limit is not queued: the
// client is killed at once, so a client that floods requests costs no more
// than the queue it may hold.
void stream_send(stream_client *c, int final, const void *bytes, size_t length);

// Handles one received line of a client under the command lock: a command,
// or an information request answered to this client; then its user message.
void stream_handle_line(stream_client *c, const char *line);

// Runs one command line through the command handler. Caller holds the command lock.
void stream_run_command(const char *line, int internal);
