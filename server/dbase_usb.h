// Projects carried to another device on a USB stick.
//
// Export writes one project with the library entries its outputs play (and
// their folders up to the top, and entry 0) into a fresh database file
// "<name>.karu8" in the stick's root, made by the schema script. Import
// lists those files, or copies one into the database as a new project,
// merging its library entries by folder path and version: a path not found
// is created, a higher version replaces the local entry under its own id,
// anything else keeps the local entry.
//
// Both run under the command lock and mount the stick only for their own
// duration. After a failed attach nothing has been written to the database;
// a file found broken inside the import is rolled back entirely.
#pragma once
#include <string>

struct report_writer;

// Result codes (the panel shows a text for each).
enum dbase_usb_result : int {
    DBASE_USB_DONE = 0,
    DBASE_USB_NO_STICK = -1,    // could not be mounted
    DBASE_USB_NO_FILE = -2,     // export file not created / file list not read / no such file
    DBASE_USB_SCHEMA = -3,      // schema script failed on the export file
    DBASE_USB_ATTACH = -4,      // file could not be attached
    DBASE_USB_NO_PROJECT = -5,  // no such project to export
    DBASE_USB_BAD_FILE = -6,    // not a project file of our version, or broken
};

// Exports project id to the stick; a file of the same name is replaced.
int dbase_usb_export_project(int id);

// n = 0: the list 110, 109 per file (number from 1, name), 111 into w with
// connection id c. n >= 1: imports the n-th file of that list as a new
// project (nothing is written to w).
int dbase_usb_import_project(report_writer *w, int n, int c);

// Imports the project file at path (a mounted stick's, or any): the import
// of dbase_usb_import_project without the stick.
int dbase_usb_import_file(const std::string &path);
