// What the reports need from outside the state record: values the DSP
// mirror, the network layer and the database own, and the device identity
// for the version lines.
//
// The address is the bridge's own (0 until the network manager has learnt
// it), the passphrase the stored one; the loudspeaker library is the
// database's (dbase_lsp) with the parser's view of each entry (lspconfig),
// the projects are the database's (dbase_project).
#pragma once
#include <cstddef>
#include <cstdint>

#include "dsp/curves.h"
#include "report_format.h"

// ---- DSP mirror ----
void report_source_bus_curve(int bus, float curve[CURVE_POINTS]);
void report_source_out_curve(int out, float curve[CURVE_POINTS]);
float report_source_bus_delay_applied(int bus);  // ms
float report_source_out_delay_applied(int out);  // ms

// ---- network ----
uint32_t report_source_iface_address();  // the bridge's own address, most significant octet first
bool report_source_ap_running();
const char *report_source_wlan_passphrase();  // percent-encoded, made up when there is none

// ---- device identity (real) ----
// "uname -sr" is cut at this many bytes before it is percent-encoded.
constexpr size_t REPORT_SYSTEM_TEXT_MAX = 127;
// Reads the eth0 MAC address and "uname -sr" once; call again to re-read.
void report_source_init();
void report_source_mac(uint8_t mac[6]);
const char *report_source_system();  // percent-encoded

// ---- loudspeaker library ----
// The loudspeaker block of entry id: its listing, its text line 67, then a
// folder's empty line 69, or the sections line 69 of its ways and, when the
// parser corrected anything, its messages as line 116 (also written to
// standard output). parsed: the entry's text already parsed, or nullptr to
// read and parse it here.
void report_source_lsp_block(report_writer *w, int id, int c, const cfglsp *parsed = nullptr);

// ---- project storage (they read the database: callers hold the command lock) ----
// The project's stored lock value, 0 when it does not exist.
int report_source_project_stored_lock(int project_id);
// Project list 97/96/98 for id (-1 all).
void report_source_list_projects(report_writer *w, int id, int c);
// Line 119 with the stored description; -1 (after a diagnostic) when not found.
int report_source_project_desc(report_writer *w, int id, int c);
