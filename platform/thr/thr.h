// Role: threads, pipes and processes (docs/platform.md, "Threads, pipes and processes").
// thr.h — mutexes for the library's few shared structures.
//
// THR_MUTEX is non-recursive and checks its use: locking a mutex the thread
// already holds, unlocking one it does not hold, destroying a locked one or
// passing null is an internal error of "THR" rather than a deadlock or
// undefined behaviour. Pipes, processes and jobs come with parallel
// synthesis.
//
// thr_start_thread starts a thread and says so when the system refuses one
// (an address-space limit, a per-user process limit, a cgroup pids limit),
// where std::thread throws std::system_error, which ends a caller that does
// not catch it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <thread>

struct THR_MUTEX;

THR_MUTEX* thr_mutex_create();
void thr_mutex_lock(THR_MUTEX* mutex);
void thr_mutex_unlock(THR_MUTEX* mutex);
void thr_mutex_destroy(THR_MUTEX* mutex);

// Starts `body` on a new thread held in *thread: "" when it runs, else why
// the system refused it ("cannot start a thread: Resource temporarily
// unavailable"), *thread then holding none. Thread-safe.
std::string thr_start_thread(std::thread* thread, std::function<void()> body);

// A child process of the library that a host which takes its children's
// ends itself leaves to the library. A host that ignores SIGCHLD has the
// kernel reap its children the moment they end, and a host thread in
// waitpid(-1) or waitid(P_ALL) takes any child's end; either takes a child
// that execs, whose end signals SIGCHLD. So thr_start_own_child starts a
// keeper: a copy of the process, as fork() makes, that signals nothing when
// it ends (clone without an exit signal), in a process group of its own
// whose id is its own, killed by the kernel when the thread that started it
// ends. The keeper starts the program's process, waits for it and ends as
// it ended: with its exit status, or of its signal (leaving no core). The
// caller waits for the keeper with thr_wait_own_child or
// thr_waitid_own_child, and ends the program's whole group with
// kill(-id, ...). Returns the keeper's id in the caller, 0 in the program's
// process, which may only make system calls (async-signal-safe functions:
// no fork handler ran) until it execs or calls _exit, and which starts with
// every signal blocked and the default action for every signal the process
// handled; -1 (errno) when the system refuses. A host whose own wait asks
// for every kind of child (__WALL) may still take the keeper's end: the
// wait then fails with ECHILD.
pid_t thr_start_own_child();
// waitpid(pid, status, options) and waitid(P_PID, pid, info, options) for
// the keeper of thr_start_own_child.
pid_t thr_wait_own_child(pid_t pid, int* status, int options);
int thr_waitid_own_child(pid_t pid, siginfo_t* info, int options);
// The same with the program's resource use (wait4).
pid_t thr_wait4_own_child(pid_t pid, int* status, int options, struct rusage* usage);

// Marks a one-time set-up (a table, a registration, a record type) of the
// layer or the library while it is made, named by `what`: nothing but the
// test hook (kavu_platform::thr_test_set_setup_hook) acts on it. Such set-ups
// are made as the libraries load, so that no thread is inside one when
// another forks. Thread-safe, and safe in a forked child.
void thr_setup_point(const char* what);
