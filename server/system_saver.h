// The state file's own thread ("saver"). The real-time pass only copies the
// record (under the command lock, as before) and goes on; the saver thread
// seals the copy and writes it with the safe save (system_save_file: fsync of
// the file and the folder, no shell), so a slow disk never holds up a cycle.
//
// Generations are numbered 1, 2, ... in the order they were handed over. A
// generation the thread has not taken yet is replaced by a newer one: the
// newest holds every change of the older, and only it is worth writing.
#pragma once
#include <cstdint>

// Starts the thread once (later calls do nothing); a failure to create it
// ends the process with status 1. A request starts it if nobody did.
void system_saver_start();

// Hands the live record over as the next generation and wakes the thread.
// The caller holds the command lock. Returns the generation's number.
uint64_t system_saver_request();
// The same without waiting: 0 when the saver thread held its lock at that
// moment (the real-time cycle tries again in its next cycle).
uint64_t system_saver_offer();

// Waits until generation gen has been through a save (written, or failed
// with its diagnostic lines), at most timeout_ms (negative: no limit).
// True when it has.
bool system_saver_wait(uint64_t gen, int timeout_ms);

// The newest generation handed over, and the newest one whose save ended.
uint64_t system_saver_requested();
uint64_t system_saver_finished();
