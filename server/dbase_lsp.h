// The loudspeaker library: a tree of folders and loudspeaker entries in the
// table lsp. Id 0 is both the built-in entry "Direct%20Out" and the parent
// of every top-level entry. Entries may carry a lock code; a locked entry
// cannot be changed, moved or removed without it, and the code never leaves
// the server.
//
// Every operation runs under the command lock. Without a database each one
// prints "<operation>: no database" and fails; the listing then is empty.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "report_format.h"

// The built-in entry 0. Its lock code does not fit the 32-bit codes clients
// send, so no client can ever unlock it.
constexpr int64_t DBASE_LSP_DIRECT_LOCK = 2914336075;
constexpr const char *DBASE_LSP_DIRECT_LABEL = "Direct%20Out";
constexpr const char *DBASE_LSP_DIRECT_CONFIG = "fullrange";

// Rows of the whole-tree listing.
constexpr int DBASE_LSP_LIST_LIMIT = 4096;

// User messages of the library.
constexpr const char *DBASE_LSP_MSG_IN_USE = "Item is in use!";
constexpr const char *DBASE_LSP_MSG_LOCKED = "Item is locked!";
constexpr const char *DBASE_LSP_MSG_WRONG_CODE = "Wrong unlock code! Cannot edit entry.";
constexpr const char *DBASE_LSP_MSG_INTO_ITSELF = "Cannot move a folder\ninto itself.";

// One row of lsp. Empty texts stand for empty columns.
struct lspconfig_entry {
    int id;
    int id_parent;
    int is_folder;
    int order_nr;
    int64_t locked;
    int ways;
    int version;
    std::string label;  // percent-encoded
    std::string description;
    std::string config;  // plain UTF-8
};

// In use: one of the eight live outputs plays the entry.
bool dbase_lsp_in_use(int id);

// A new folder (folder != 0) labelled "(New Folder)" or a new one-way
// full-range loudspeaker "(New)" of version 1 under parent (a non-folder
// parent: next to it; an unknown one: at the top). The new id, or -1.
int dbase_new_lsp(int folder, int parent);

// Removes the entry and everything below it, children first. Refused (1)
// for an entry in use or locked (the client conn is told why); children
// removed before the refusal stay removed. 0 when removed, -1 without a
// database.
int dbase_remove_lsp(int conn, int id);

// An unlocked copy in the same folder labelled with "%20(Copy)" appended (a
// folder without its contents). The copy's id, or -1 when id is unknown.
int dbase_duplicate_lsp(int id);

// Moves an unlocked entry into folder (a non-folder target: next to it).
// Refused (1) for a locked entry, an unknown target, or a folder moved into
// itself or below itself; conn is told why. 0 when moved (or id == folder),
// -1 for an unknown entry or without a database.
int dbase_move_lsp(int conn, int id, int folder);

// Saves folder, version, lock and label of an entry. A locked entry needs
// its code (unlock) and is unlocked by it whatever new_lock says. Returns 1
// when the entry's old folder is not the folder it was given (the tree
// changed or the save was refused), 0 otherwise, -1 without a database.
int dbase_save_lsp(int conn, int id, int folder, int version, int new_lock, int unlock, const char *label);

// Stores the configuration text (plain UTF-8) with its ways and version: 0
// stored, 1 locked and unlock is not its code, -1 no such entry.
int dbase_save_lsp_prop(int id, int unlock, int ways, int version, std::string_view text);

// The whole row of an entry.
std::optional<lspconfig_entry> dbase_get_lsp(int id);

// Listing 65, 64 per entry, 66 for one entry or for the whole tree (id -1),
// lines with connection id c. The end line always fits: entries that would
// not are left out with a diagnostic.
void dbase_list_lsp(report_writer *w, int id, int c);

// The configuration text line 67 of an entry (empty for an unknown one);
// returns the entry's folder flag.
int dbase_lsp_config(report_writer *w, int id, int c);

