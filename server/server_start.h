// The subsystems of mirelserver brought up in their fixed order: the state
// record and its file, the DSP layer with the real-time and saver threads,
// the project database, the command protocol on the client links and their
// threads, device linking and the network services. main() runs
// it once; benchmarks run the whole server inside their own process with it.
#pragma once

// 0, or -1 after the failing step's diagnostic line (the server then stops).
int server_start();
