// Role: threads, pipes and processes
// (docs/platform.md, "Threads, pipes and processes").
// thr_end_signal.h — work done when the process is told to end.
//
// A process told to end by SIGINT (Ctrl-C), SIGTERM, SIGHUP or SIGQUIT
// dies without running its destructors or atexit functions, so what it
// left outside itself stays: the process groups of the programs it started
// (their children outlive them under init) and its temporary files. An
// action registered here runs in the signal handler, then the handler the
// process had before is called, or, where that was the default, the
// signal's default action ends the process as it would have ended. A
// signal the process ignores is left ignored: no action runs for it.
//
// The handlers are installed while at least one action is registered and
// put back when the last one goes (unless the process installed another
// handler meanwhile, which is then left alone). A forked child that has not
// yet run exec takes the default action and runs no action of its parent.
// Actions run in a signal handler: they make async-signal-safe calls only
// (kill, unlink, rmdir, ...) on data that stays valid while they are
// registered. At most THR_MAX_END_ACTIONS are registered at once.
// Thread-safe.
#pragma once

#include <csignal>

constexpr int THR_MAX_END_ACTIONS = 256;

typedef void (*THR_END_ACTION)(long arg);

// Registers action(arg); returns its handle (0 or above), or -1 when every
// place is taken (the action then never runs).
int thr_on_end_signal(THR_END_ACTION action, long arg);

// Unregisters the action of `handle` (-1: nothing). Once this returns the
// action is not started again.
void thr_forget_end_signal(int handle);

// For an action: removes the directory `path` and the files in it (not
// directories below it) with system calls alone.
void thr_remove_dir_in_handler(const char* path);

// Blocks the end signals on the calling thread (around a fork that must
// register its child before a signal may act), putting the previous mask
// into *old.
void thr_block_end_signals(sigset_t* old);
