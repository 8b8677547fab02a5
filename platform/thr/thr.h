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

// Marks a one-time set-up (a table, a registration, a record type) of the
// layer or the library while it is made, named by `what`: nothing but the
// test hook (kavu_platform::thr_test_set_setup_hook) acts on it. Such set-ups
// are made as the libraries load, so that no thread is inside one when
// another forks. Thread-safe, and safe in a forked child.
void thr_setup_point(const char* what);
