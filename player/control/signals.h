// How the player takes its control signals: SIGUSR1 (pause toggle), SIGUSR2
// (seek to "/tmp/seek.txt"), SIGTERM (stop, "KILLED") and SIGALRM (its own
// start-up time-out, "TIMEOUT").
//
// No thread ever runs a handler for them. The four are blocked from the first
// line of main on, before gst_init can start a thread, so every thread
// inherits the block, and one thread of ours takes them with sigwait:
//  - SIGTERM and SIGALRM end the run on that thread (kill_cb, timeout_cb),
//    so they act within a second even while the main loop is busy or stuck;
//  - SIGUSR1 and SIGUSR2 are queued to the main loop, one dispatch per signal
//    taken, where pause_cb and seek_cb run between the bus and timer events
//    they share the player's state with.
// Until the start-up sequence installs a signal's handler, the signal keeps
// the disposition the process was started with: taken by the thread, it is
// dropped when it was ignored and otherwise raised again with the default
// action, which ends the process as if nothing had been blocked.
#pragma once

#include <glib.h>
#include <spawn.h>

// Start-up time-out armed by install_timeout_handler() and by a redirect.
inline constexpr unsigned kStartupTimeoutSeconds = 20;

// First thing in main: blocks the four signals and starts the signal thread.
// Ends the process (status 1, message on standard error) if it cannot.
void take_control_signals();

// SIGALRM now ends the run with "TIMEOUT"; arms the start-up time-out.
void install_timeout_handler();

// SIGUSR1, SIGUSR2 and SIGTERM now reach pause_cb, seek_cb and kill_cb.
void install_control_handlers();

// Commands the player runs must not inherit its blocked signals (a hung
// mount would then ignore SIGTERM): gives `attr` the signal mask the process
// started with. 0 or an error number from posix_spawnattr_*.
int restore_child_signal_mask(posix_spawnattr_t *attr);

// Main-loop side of SIGUSR1 and SIGUSR2 (GSourceFunc, run once each).
gboolean pause_cb(gpointer unused);
gboolean seek_cb(gpointer unused);

// Signal-thread side of SIGTERM and SIGALRM; both end the process.
[[noreturn]] void kill_cb(int signo);
[[noreturn]] void timeout_cb(int signo);
