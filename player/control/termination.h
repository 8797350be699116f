// Every orderly end of a run passes through here, whichever thread it starts
// on: exactly one end runs to completion and decides the status word and the
// exit status; a later one never writes anything.
#pragma once

// Claims the end of the run for the calling path. Returns false when another
// path has claimed it already; the caller must then touch nothing and call
// park_forever() (the winner is about to exit the process).
// The winner waits (bounded) for file writes other threads began before the
// claim, so that none of them can land on top of the final status.
bool claim_end_of_run();

// Brackets every write of the status, duration, position and pid files.
// False once another thread has claimed the end of the run: the caller then
// writes nothing (a "PLAYING" or a position must never follow "KILLED").
// end_run_file_write() only after a true result.
bool begin_run_file_write();
void end_run_file_write();

[[noreturn]] void park_forever();

// Runs "killall -SIGUSR1 kavido" when controller_mode is set.
void notify_controller();
