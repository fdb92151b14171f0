// Project rows: creating a project's rows, writing the live state into them
// and the stored form of the high-pass kind.
#pragma once

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

// Writes the live state into project id in one transaction:
//   id >= 2 that exists: into that project;
//   id 1 that exists: refused with a diagnostic, the template stays as it is;
//   id >= 1 without a row, or 0: into a new project, which becomes the live one;
//   id < 0: an empty transaction.
// Failures are logged; the rows written stay.
void dbase_save_project(int id);
