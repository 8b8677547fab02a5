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
// The library is a guest in its caller's process: the handlers are
// installed only while at least one action is registered (or a
// THR_STOP_WATCH lives), with the flags (less SA_RESETHAND) and the mask
// of the handler they stand in front of, so the caller's calls are
// restarted or interrupted as they were. When the last registration goes,
// each signal's previous action is put back exactly, unless the process
// installed another handler meanwhile, which is then left alone; where the
// previous action was a one-shot handler (SA_RESETHAND) that was called,
// the default action is put back, as the kernel would have left it.
//
// A process forked from the one that registered the actions, before it
// runs exec, runs none of them (they name its parent's peers and files):
// the signal goes to the previous handler as it would otherwise.
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

// Unregisters the action of `handle` (-1, or a handle already forgotten:
// nothing), freeing its place. Once this returns the action is not running
// and is not started again, so what it uses may go.
void thr_forget_end_signal(int handle);

// For an action: the signal it runs for (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// or a watched alarm that ends the process). Outside an action, the signal
// the actions last ran for, or 0.
int thr_end_signal_of_action();

// For an action: removes the directory `path` and the files in it (not
// directories below it) with system calls alone.
void thr_remove_dir_in_handler(const char* path);

// Blocks the end signals on the calling thread (around a fork that must
// register its child before a signal may act), putting the previous mask
// into *old.
void thr_block_end_signals(sigset_t* old);

// Tells a wait of the library that the caller asks it to stop: while the
// object lives, SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGALRM (the caller's
// alarm) are seen on whichever thread they arrive, then go on to the
// caller's handler as above (the end actions run for the end signals). A
// signal the process ignores, and an alarm left at its default action
// (which ends the process), are not watched. Other signals (SIGWINCH,
// SIGCHLD, ...) are no request to stop.
class THR_STOP_WATCH {
 public:
  THR_STOP_WATCH();
  ~THR_STOP_WATCH();
  THR_STOP_WATCH(const THR_STOP_WATCH&) = delete;
  THR_STOP_WATCH& operator=(const THR_STOP_WATCH&) = delete;
  // True once a watched signal arrived since the object was made.
  bool requested() const;
  // Which one (the last, when several did); 0 while none did.
  int signal() const;

 private:
  unsigned m_start;
};
