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

#include <atomic>
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
// keeper: a process that shares the caller's memory (no copy of it is
// made, whatever the caller holds or writes), runs on a small stack of its
// own, makes only system calls and signals nothing when it ends (clone
// without an exit signal). The keeper makes a process group whose id is
// its own, starts the program in it (a second process that shares the
// memory until it execs, as vfork does), leaves the group, and waits for
// the program; when the program has ended it kills what the program left
// in the group, reaps that too (it is their subreaper, so nothing the
// program started in its group is handed to the host), keeps the program's
// wait status where the caller reads it, and ends. The kernel kills the keeper when the
// thread that started it ends, and the program when the keeper ends.
//
// Where the system refuses the second process (a process limit), the
// keeper becomes the program itself: the helper then costs one process,
// and a host that reaps every child may take its end, as with any child.
//
// The program starts with the caller's files `in`, `out` and `err` (-1:
// /dev/null) as its standard ones, in `dir` (nullptr: the caller's),
// with the signal mask `mask` (nullptr: none blocked) and the default
// action for every signal the caller handled, and for SIGCHLD and SIGPIPE.
struct THR_OWN_CHILD_START {
  const char* m_path = nullptr;       // the program, a path execve takes
  char* const* m_argv = nullptr;      // its arguments, null-terminated
  char* const* m_envp = nullptr;      // its environment (nullptr: the caller's)
  int m_in = -1;
  int m_out = -1;
  int m_err = -1;
  const char* m_dir = nullptr;
  const sigset_t* m_mask = nullptr;
  // Set to the keeper's id by the keeper itself before the program runs,
  // once the group it names exists (as copies, under valgrind: by the
  // caller, which makes the group too and holds the keeper until then), and
  // back to 0 when the start fails: an end-signal action
  // registered before the start (thr_end_signal.h) reads it to end the
  // group, so that no signal falls between the program's start and the
  // caller's registration of it.
  std::atomic<pid_t>* m_keeper_seen = nullptr;
};
// Starts the program as above. Returns the keeper's id, which names the
// program's process group (kill(-id, ...) ends what is in it and never the
// keeper) and is what the caller waits for; *program is the program's own
// process id. Returns -1 with *error set when it did not start: the
// system refused a process (EAGAIN, see thr_start_refusal_text), or the
// program could not be executed (execve's errno), or its group was killed
// (an end-signal action, a timeout) while the keeper was still in it, before
// the keeper could report the program (ECANCELED: the program was started
// and killed with it); nothing is left to wait for then. Thread-safe.
pid_t thr_start_own_child(const THR_OWN_CHILD_START& start, pid_t* program, int* error);
// Ends the program of the keeper `pid` and what it left in its group: the
// group is killed, and the keeper kills the program wherever it went (a
// program that left its group, setsid, is out of the group's reach), then
// reaps it and ends; the caller still waits for the keeper. Nothing is sent
// once the keeper has ended (it ended the group itself). Thread-safe.
void thr_end_own_child(pid_t pid);
// Why a child did not start, for `error` from thr_start_own_child:
// "the process limit was reached (RLIMIT_NPROC 6)" where the system refused
// a process, "it was killed as it started" for ECANCELED, else strerror's
// text.
std::string thr_start_refusal_text(int error);
// waitpid(pid, status, options) and waitid(P_PID, pid, info, options) for
// the keeper `pid` of thr_start_own_child, giving the program's end: its
// wait status, or the keeper's where the keeper was killed before the
// program ended. A host whose own wait asks for every kind of child
// (__WALL) may take the keeper's end: the program's end is given all the
// same when the keeper had kept it, else the wait fails with ECHILD.
pid_t thr_wait_own_child(pid_t pid, int* status, int options);
int thr_waitid_own_child(pid_t pid, siginfo_t* info, int options);
// The same with the resource use of the keeper and what it reaped (wait4).
pid_t thr_wait4_own_child(pid_t pid, int* status, int options, struct rusage* usage);

// Marks a one-time set-up (a table, a registration, a record type) of the
// layer or the library while it is made, named by `what`: nothing but the
// test hook (kavu_platform::thr_test_set_setup_hook) acts on it. Such set-ups
// are made as the libraries load, so that no thread is inside one when
// another forks. Thread-safe, and safe in a forked child.
void thr_setup_point(const char* what);
