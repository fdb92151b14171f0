#include "system_lsp.h"

#include <cstring>
#include <string>

#include "dbase_lsp.h"
#include "log.h"
#include "lspconfig.h"
#include "report.h"
#include "report_source.h"
#include "system.h"
#include "system_out.h"

namespace {

constexpr const char *MSG_CANNOT_REMOVE = "This item cannot\nbe removed.";
constexpr const char *MSG_REMOVED = "Item(s) removed\nsuccessfully.";

// Waiting report lines (NUL-terminated), and the place one command's lines
// are written before they join them.
char g_reports[SYSTEM_LSP_REPORTS_SIZE];
size_t g_reports_len;
char g_scratch[SYSTEM_LSP_REPORTS_SIZE];

// Adds the lines write() produces to the waiting reports. Should earlier
// commands' lines still fill the room (a burst of commands while no cycle
// ran), the clients would miss changes: the whole tree, which tells them
// everything, then takes the place of all of them.
template <typename F>
void queue(int conn, F &&write)
{
    report_writer w;
    report_writer_init(&w, g_scratch, sizeof g_scratch);
    write(&w);
    if (g_reports_len + w.len >= sizeof g_reports) {
        log_error("system_lsp: library reports waiting too long, the whole list replaces them\n");
        report_writer_init(&w, g_scratch, sizeof g_scratch);
        dbase_list_lsp(&w, -1, conn);
        g_reports_len = 0;
    }
    memcpy(g_reports + g_reports_len, g_scratch, w.len);
    g_reports_len += w.len;
    g_reports[g_reports_len] = 0;
}

// Report 70 (a new, copied or moved entry) and the entry's listing.
void queue_entry(int conn, int id)
{
    queue(conn, [&](report_writer *w) {
        report_format_lsp_new(w, conn, id);
        dbase_list_lsp(w, id, conn);
    });
}

void queue_tree(int conn)
{
    queue(conn, [&](report_writer *w) { dbase_list_lsp(w, -1, conn); });
}

void queue_block(int conn, int id)
{
    queue(conn, [&](report_writer *w) { report_source_lsp_block(w, id, conn); });
}

}  // namespace

void system_lsp_new(int conn, int folder, int parent)
{
    int id = dbase_new_lsp(folder, parent);
    if (id >= 0)
        queue_entry(conn, id);
}

void system_lsp_remove(int conn, int id)
{
    if (id <= 0) {
        log_error("system_lsp_remove: lsp_id out of range\n");
        report_message(conn, MSG_CANNOT_REMOVE, 1);
        return;
    }
    int r = dbase_remove_lsp(conn, id);
    if (r < 0)
        return;
    if (r == 0)
        report_message(conn, MSG_REMOVED, 0);
    // Also after a refusal: the children removed before it are gone.
    queue_tree(conn);
}

void system_lsp_duplicate(int conn, int id)
{
    if (id < 0) {
        log_error("system_lsp_duplicate: lsp_id out of range\n");
        return;
    }
    int copy = dbase_duplicate_lsp(id);
    if (copy >= 0)
        queue_entry(conn, copy);
}

void system_lsp_move(int conn, int id, int folder)
{
    if (id < 0) {
        log_error("system_lsp_move: lsp_id out of range\n");
        return;
    }
    if (folder < 0) {
        log_error("system_lsp_move: targetfolder_id out of range\n");
        return;
    }
    if (id == folder) {
        log_error("system_lsp_move: lsp_id and targetfolder_id must be different\n");
        return;
    }
    if (dbase_move_lsp(conn, id, folder) >= 0)
        queue_entry(conn, id);
}

void system_lsp_save(int conn, int id, int folder, int version, int new_lock, int unlock, const char *label)
{
    int moved = dbase_save_lsp(conn, id, folder, version, new_lock, unlock, label);
    if (moved < 0)
        return;
    if (moved)
        queue_tree(conn);
    else
        queue_block(conn, id);
}

void system_lsp_prop(int conn, int id, int unlock, const char *text)
{
    if (text == nullptr) {
        log_error("system_lsp_prop: prop==NULL\n");
        return;
    }
    if (id <= 0) {
        log_error("system_lsp_prop: id_lsp out of range\n");
        return;
    }
    std::string config = text;
    if (config.empty() || config.back() != '\n')
        config += '\n';
    cfglsp_ptr parsed;
    if (config.size() > 1 || unlock == 0) {
        // The text decides how many outputs the loudspeaker takes.
        parsed.reset(lspconfig_parse(config.data(), config.size()));
        if (!parsed ||
            dbase_save_lsp_prop(id, unlock, lspconfig_channels(parsed.get()), parsed->version, config) != 0) {
            log_error("system_lsp_prop: par==NULL\n");
            return;
        }
        // Every group that plays the entry takes it again, keeping its mutes.
        // A group that grows may swallow a later one, so look each up anew.
        for (int g = 0; g < SYS_OUTPUTS; g++) {
            int o = report_format_first_out(g);
            if (o >= 0 && my_sys->out[o].id_lsp == id)
                system_out_group_lsp_set(conn, g, id, 1, -1);
        }
    }
    queue(conn, [&](report_writer *w) { report_source_lsp_block(w, id, conn, parsed.get()); });
}

bool system_lsp_reports_pending()
{
    return g_reports_len > 0;
}

void system_lsp_reports_take(report_writer *w)
{
    size_t space = w->len + 1 < w->size ? w->size - 1 - w->len : 0;
    size_t n = g_reports_len;
    if (n > space) {
        n = space;
        while (n > 0 && g_reports[n - 1] != '\n')
            n--;
    }
    memcpy(w->buf + w->len, g_reports, n);
    w->len += n;
    w->buf[w->len] = 0;
    memmove(g_reports, g_reports + n, g_reports_len - n);
    g_reports_len -= n;
    g_reports[g_reports_len] = 0;
}

void system_lsp_reports_clear()
{
    g_reports_len = 0;
    g_reports[0] = 0;
}
