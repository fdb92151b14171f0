#include "report.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "log.h"

report_pending_t report_pending;

namespace {

// Network clients are numbered 1 to 8 (the smallest free number).
constexpr int CONN_FIRST_CLIENT = 1;
constexpr int CONN_LAST_CLIENT = 8;

struct message_slot {
    int conn;
    int level;
    uint64_t seq;                    // order of queuing: the oldest goes first
    char text[REPORT_MESSAGE_TEXT];  // empty: the slot is free
};

message_slot g_messages[REPORT_MESSAGE_SLOTS];
uint64_t g_message_seq;

bool default_conn_held(int conn)
{
    return conn >= CONN_FIRST_CLIENT && conn <= CONN_LAST_CLIENT;
}

report_conn_held_fn g_conn_held = default_conn_held;

int32_t g_stored_lock;

void note_requester(int id, int conn)
{
    if ((unsigned)id < REPORT_IDS)
        report_pending.requester[id] = conn;
}

}  // namespace

void report_project_modified()
{
    if (my_sys->modified == 0) {
        my_sys->modified = 1;
        report_pending.project = 1;
        // Whoever changed a value is told by that value's own report.
        note_requester(100, REPORT_CONN_SERVER);
    }
}

void report_project_stored_lock_set(int32_t lock)
{
    g_stored_lock = lock;
}

int32_t report_project_stored_lock()
{
    return g_stored_lock;
}

void report_bus(int id, int conn, int b, uint32_t flags)
{
    if ((unsigned)b >= SYS_BUSES) {
        log_error("report_bus: busid out of range\n");
        return;
    }
    note_requester(id, conn);
    report_pending.bus[b] = 1;
    if (flags & REPORT_FLAG_LABEL)
        report_pending.bus_label[b] = 1;
    report_project_modified();
}

void report_output(int id, int conn, int o, uint32_t flags, bool group_map)
{
    if ((unsigned)o >= SYS_OUTPUTS) {
        log_error("report_output: outid out of range\n");
        return;
    }
    note_requester(id, conn);
    report_pending.out[o] = 1;
    report_pending.out_flags[o] |= flags;
    if (group_map)
        report_pending.group_map = 1;
    // Whether mutes belong to the project is the user's choice (system flags bit 0).
    bool mute = id == 37 || id == 44;
    if (!mute || (my_sys->system_flags & 1))
        report_project_modified();
}

void report_device(int id, int conn, int v0, int v1)
{
    if ((unsigned)id >= REPORT_IDS) {
        log_error("report_device: report id out of range\n");
        return;
    }
    note_requester(id, conn);
    report_pending.device[id] = 1;
    report_pending.device_value[id][0] = v0;
    report_pending.device_value[id][1] = v1;
}

void report_mark_all()
{
    for (int b = 0; b < SYS_BUSES; b++) {
        report_pending.bus[b] = 1;
        report_pending.bus_label[b] = 1;
    }
    for (int o = 0; o < SYS_OUTPUTS; o++) {
        report_pending.out[o] = 1;
        report_pending.out_flags[o] |= REPORT_FLAG_LABEL | REPORT_FLAG_REFRESH;
    }
    report_pending.group_map = 1;
    report_pending.project = 1;
    // The device settings the device block reports.
    for (int id : {20, 21, 22, 23, 24, 27, 62, 63, 112})
        report_pending.device[id] = 1;
}

void report_pending_clear()
{
    memset(&report_pending, 0, sizeof report_pending);
    g_stored_lock = 0;
}

// ---- user messages ----

void report_set_conn_held(report_conn_held_fn held)
{
    g_conn_held = held != nullptr ? held : default_conn_held;
}

bool report_conn_held(int conn)
{
    return g_conn_held(conn);
}

void report_message(int conn, const char *text, int level)
{
    if (text == nullptr || text[0] == 0)
        return;
    // Nobody would ever fetch it, and it would hold a slot for ever.
    if (!report_conn_held(conn))
        return;
    for (message_slot &s : g_messages) {
        if (s.text[0] != 0)
            continue;
        s.conn = conn;
        s.level = level;
        s.seq = ++g_message_seq;
        snprintf(s.text, sizeof s.text, "%s", text);
        return;
    }
}

bool report_message_take(int conn, report_writer *w)
{
    // Slots are reused lowest first, so the slot order is not the queue order.
    message_slot *oldest = nullptr;
    for (message_slot &s : g_messages)
        if (s.text[0] != 0 && s.conn == conn && (oldest == nullptr || s.seq < oldest->seq))
            oldest = &s;
    if (oldest == nullptr)
        return false;
    report_format_user_message(w, conn, oldest->level, oldest->text);
    oldest->text[0] = 0;
    return true;
}

void report_message_free_conn(int conn)
{
    for (message_slot &s : g_messages)
        if (s.conn == conn)
            s.text[0] = 0;
}

void report_message_reset()
{
    memset(g_messages, 0, sizeof g_messages);
}
