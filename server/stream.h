// The stream server: one network thread that serves up to 8 TCP clients
// (raw lines, NUL-terminated "flash" lines, WebSocket, policy request) with
// one poll loop, hands their lines to the command dispatcher and sends every
// client the level and command streams after each real-time cycle.
#pragma once
#include <cstddef>
#include <cstdint>

#include "stream_client.h"

constexpr int STREAM_MAX_CLIENTS = 8;
constexpr int STREAM_LISTEN_BACKLOG = 5;
// A client whose send queue makes no progress for this long is dropped. Long
// enough for a WLAN client whose socket stalls for a moment.
constexpr int64_t STREAM_INACTIVITY_US = 2000000;
// Longest wait of the serial link for the real-time thread's end of cycle
// (four cycles), so its commands still run while no cycle comes.
constexpr int64_t STREAM_CYCLE_WAIT_US = 100000;
// Longest sleep of the network thread when nothing is due.
constexpr int64_t STREAM_IDLE_POLL_US = 1000000;

// Starts the network thread, then the serial thread. A thread that cannot be
// created ends the process with status 1; otherwise returns 0.
int stream_rt_init();

// Starts the network thread alone; returns pthread_create's result.
int stream_start();

// True while a client holds that connection id. Caller holds the command lock.
bool stream_conn_id_held(int conn_id);

// Waits for the end of the real-time cycle; the caller holds the levels lock.
// True when the cycle ended, false after STREAM_CYCLE_WAIT_US without one.
bool stream_wait_cycle();
