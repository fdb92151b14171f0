// Change marks and user messages.
//
// Operations never write report lines themselves: they mark what changed
// and who asked, and the update passes of the real-time thread later compare,
// upload and report (reading and clearing report_pending under the command
// lock). User messages are queued per connection and fetched by the stream
// server after the client's command.
#pragma once
#include <cstdint>

#include "report_format.h"
#include "system.h"

constexpr int REPORT_IDS = 126;  // report ids are the command ids 0 to 125

// Flags of report_bus and report_output.
constexpr uint32_t REPORT_FLAG_LABEL = 1;    // the label changed
constexpr uint32_t REPORT_FLAG_REFRESH = 2;  // report the whole output group

// Connection ids that are not clients.
constexpr int REPORT_CONN_SERVER = 0;
constexpr int REPORT_CONN_LINK = -127;

struct report_pending_t {
    // Connection id of the last change of each report id.
    int32_t requester[REPORT_IDS];
    uint8_t bus[SYS_BUSES];           // bus changed
    uint8_t bus_label[SYS_BUSES];     // its label changed
    uint8_t out[SYS_OUTPUTS];         // output changed
    uint32_t out_flags[SYS_OUTPUTS];  // REPORT_FLAG_* of the changes
    uint8_t group_map;                // group membership changed: map and all group blocks
    uint8_t project;                  // project report (100) due
    // Device-level marks by report id, with the values given to report_device.
    uint8_t device[REPORT_IDS];
    int32_t device_value[REPORT_IDS][2];
};

extern report_pending_t report_pending;

// Marks bus b changed for report id (flags: REPORT_FLAG_LABEL) and the project modified.
void report_bus(int id, int conn, int b, uint32_t flags);

// Marks output o changed; group_map also requests the group map and every
// group block. Mute changes (37, 44) mark the project modified only when
// bit 0 of the system flags is set.
void report_output(int id, int conn, int o, uint32_t flags, bool group_map);

// Second value of report_device for settings commands that only ask: the
// update pass then reports the value even though it did not change.
constexpr int REPORT_VALUE_QUERY = 1;

// Raises the device-level mark of report id with up to two values (output,
// entry id, key ...). Does not mark the project modified.
void report_device(int id, int conn, int v0 = 0, int v1 = 0);

// First change after a project load: set modified and queue one project
// report, which the server itself sends (connection 0).
void report_project_modified();

// The live project's lock value as the database holds it (its readonly
// column, 0 when there is no such project). The project operations keep it
// whenever they change it, so that the update pass compares it with its
// mirror without asking the database.
void report_project_stored_lock_set(int32_t lock);
int32_t report_project_stored_lock();

// Marks everything pending: the first cycle uploads and reports the whole state.
void report_mark_all();

// Clears every mark and the stored lock (the passes clear their own marks;
// this is for start-up and tests).
void report_pending_clear();

// ---- user messages (level 0 confirmation, 1 error) ----

constexpr int REPORT_MESSAGE_SLOTS = 64;
constexpr int REPORT_MESSAGE_TEXT = 256;  // bytes per slot, NUL included

// Queues text for conn. Dropped when the table is full, and at once when no
// connected client holds conn (the server's own and the link's ids).
void report_message(int conn, const char *text, int level);

// Takes conn's oldest message out of the table and appends its line 25.
// Returns false when there is none.
bool report_message_take(int conn, report_writer *w);

// Frees every slot of conn (the client disconnected).
void report_message_free_conn(int conn);

// Empties the table.
void report_message_reset();

// Whether a connected client holds a connection id. The stream server
// installs its own; nullptr restores the default (ids 1 to 8).
using report_conn_held_fn = bool (*)(int conn);
void report_set_conn_held(report_conn_held_fn held);
bool report_conn_held(int conn);
