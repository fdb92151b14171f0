// The loudspeaker-library commands: new, remove, duplicate, move, save
// (name, folder, lock) and the configuration text, each with its checks,
// user messages and the report that brings every client up to date.
//
// The library's report lines are written when the command runs, under the
// command lock, so the real-time thread never touches the database; they
// wait here in command order until the update pass moves them into the
// command stream.
#pragma once
#include <cstddef>

#include "report_format.h"

// Room for the waiting library reports: one command stream's worth.
constexpr size_t SYSTEM_LSP_REPORTS_SIZE = 65536;

// A new folder (folder != 0) or loudspeaker under parent; report 70.
void system_lsp_new(int conn, int folder, int parent);
// Removes an entry and what lies below it; the whole list follows.
void system_lsp_remove(int conn, int id);
// An unlocked copy next to the entry; report 70 for the copy.
void system_lsp_duplicate(int conn, int id);
// Moves an entry into a folder; report 70 for the entry.
void system_lsp_move(int conn, int id, int folder);
// Folder, version, lock and label of an entry; the whole list when its
// folder changed (or a refused save named another), else its block.
void system_lsp_save(int conn, int id, int folder, int version, int new_lock, int unlock, const char *label);
// text: the decoded configuration text (plain UTF-8), to which a line end
// is added unless it has one. Stored when it is then longer than one
// character or unlock is 0, with the ways and version the parser finds; a
// locked entry needs its code. Every output group playing the entry is then
// assigned it again (keeping its mutes). The entry's block follows (listing,
// text, sections and the parser's messages), so a non-zero code with an
// empty text reads a locked entry's text.
void system_lsp_prop(int conn, int id, int unlock, const char *text);

// Whether library reports wait for the command stream.
bool system_lsp_reports_pending();
// Moves the waiting reports into w, as many whole lines as fit.
void system_lsp_reports_take(report_writer *w);
// Drops the waiting reports (tests).
void system_lsp_reports_clear();
