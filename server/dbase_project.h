// Project storage: the live state's mix (buses, outputs, their filters and
// group membership) kept as rows of one project, written in one transaction
// and loaded back through the ordinary setters, so the DSP and every client
// follow a load as they follow a client's commands. Project 1 is the
// template new projects start from; it is never listed.
//
// Everything runs under the command lock. Without a database each
// operation prints "<operation>: no database" and changes nothing.
#pragma once
#include <cstddef>
#include <string_view>

struct report_writer;

// The template of new projects, never listed.
constexpr int DBASE_TEMPLATE_PROJECT = 1;

// Project labels: at most 200 characters, 201 bytes with the NUL.
constexpr size_t DBASE_PROJECT_LABEL_SIZE = 201;

// High-pass filter kind (0 off, 1 BW24, 2 LR24, 3 BW12, 4 LR12) as the pair
// (slope, mode) of the buseq and outeq rows; every other pair reads as off.
struct dbase_hpf_form {
    int slope;
    int mode;
};
dbase_hpf_form dbase_hpf_to_row(int kind);
int dbase_hpf_from_row(int slope, int mode);

// Inserts the rows of a new project with default values inside the
// caller's transaction; returns its id (-1 without a database).
int dbase_create_project();

// Writes the live state into project rows in one transaction (an open
// delete transaction is rolled back first):
//   id >= 2 that exists: into that project;
//   id 1 that exists: a new project made from the template: project 1 is
//     loaded into the live state, which then becomes the new project under
//     the live label, unlocked (the template's description stays);
//   id >= 1 without a row, or 0: into a new project, which becomes the
//     live one;
//   id < 0: an empty transaction.
// Failed row statements are logged and the save goes on. Returns 0 when the
// transaction was committed, -1 without a database or when it could not be
// begun or committed (then nothing of it is stored).
int dbase_save_project(int id);

// Loads project id into the live state through the bus and output setters
// (connection 0), rolling back an open delete transaction first; the
// project fields (id, lock, label, description) follow it and the modified
// flag ends cleared. -1 when the project does not exist (the live state is
// untouched) or there is no database.
int dbase_load_project(int id);

// Project list 97 (1 for the whole list, id -1; 0 for one project), 96 per
// project other than the template, 98; lines with connection id c. The end
// line always fits: projects that would not are left out with a diagnostic.
void dbase_list_projects(report_writer *w, int id, int c);

// Line 119 with project id's stored description: 0, or -1 after a
// diagnostic when there is no such project.
int dbase_info_prj_desc(report_writer *w, int id, int c);

// A project's label or description into a record field of size bytes: cut
// at max characters, the rest of the field NUL.
void dbase_copy_text(char *field, size_t size, std::string_view text, size_t max);
template <size_t N>
void dbase_copy_text(char (&field)[N], std::string_view text, size_t max)
{
    dbase_copy_text(field, N, text, max);
}

// ---- lookups ----
// The stored label (cut at 200 characters) into label: 0 found, 1 not
// found (label then empty).
int dbase_project_label(int id, char label[DBASE_PROJECT_LABEL_SIZE]);
// The first project with this label, or 0.
int dbase_project_by_label(const char *label);
// A project other than except_id with this label, or 0.
int dbase_project_by_label_except(const char *label, int except_id);
// The readonly value, or 0 when there is no such project.
int dbase_project_lock(int id);
// One more load of the project.
void dbase_count_use(int id);

// Deletes the project's rows inside the open delete transaction (nothing
// happens when none is open).
void dbase_delete_project(int id);
