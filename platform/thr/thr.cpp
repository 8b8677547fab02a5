// thr.cpp — error-checking POSIX mutexes, threads that may be refused, and
// the layer's locks kept whole across fork() (thr_fork_int.h).
//
// PTHREAD_MUTEX_ERRORCHECK makes relocking by the owner and unlocking by a
// non-owner return an error code, which becomes an internal error.
#include "thr/thr.h"

#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr_fork_int.h"

struct THR_MUTEX {
  pthread_mutex_t m;
};

THR_MUTEX* thr_mutex_create() {
  THR_MUTEX* mutex = new THR_MUTEX;
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK);
  int rc = pthread_mutex_init(&mutex->m, &attr);
  pthread_mutexattr_destroy(&attr);
  PLAT_CHECK(rc == 0, "THR");
  return mutex;
}

void thr_mutex_lock(THR_MUTEX* mutex) {
  PLAT_CHECK(mutex != nullptr, "THR");
  int rc = pthread_mutex_lock(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex already held by this thread", "THR");
}

void thr_mutex_unlock(THR_MUTEX* mutex) {
  PLAT_CHECK(mutex != nullptr, "THR");
  int rc = pthread_mutex_unlock(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex not held by this thread", "THR");
}

void thr_mutex_destroy(THR_MUTEX* mutex) {
  if (!mutex) return;
  int rc = pthread_mutex_destroy(&mutex->m);
  PLAT_CHECK(rc == 0 && "mutex destroyed while locked", "THR");
  delete mutex;
}

// ---------------------------------------------------------------- threads

namespace {
// Threads thr_start_thread still starts before it refuses every other one
// (a test's stand-in for a limit of the system); -1: no such limit.
std::atomic<int> g_threads_left{-1};

// True when the test limit lets one more thread start (and counts it).
bool test_limit_allows_thread() {
  int left = g_threads_left.load();
  while (left > 0 && !g_threads_left.compare_exchange_weak(left, left - 1)) {
  }
  return left != 0;
}
}  // namespace

std::string thr_start_thread(std::thread* thread, std::function<void()> body) {
  PLAT_CHECK(thread != nullptr && !thread->joinable(), "THR");
  int error = EAGAIN;
  if (test_limit_allows_thread()) {
    try {
      *thread = std::thread(std::move(body));
      return "";
    } catch (const std::system_error& e) {
      error = e.code().value();
    } catch (const std::bad_alloc&) {
      error = ENOMEM;
    }
  }
  return std::string("cannot start a thread: ") + std::strerror(error);
}

namespace kavu_platform {
void thr_test_refuse_threads_after(int count) { g_threads_left.store(count < 0 ? -1 : count); }
}  // namespace kavu_platform

// ---------------------------------------------------------------- own children

namespace {

// In the keeper: ends it as the program's wait status says.
[[noreturn]] void end_as(int status) {
  if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
  const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  if (sig > 0) {
    const struct rlimit no_core = {0, 0};
    setrlimit(RLIMIT_CORE, &no_core);  // the keeper is a copy of the whole caller
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(sig, &dfl, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    kill(getpid(), sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);  // the signal acts here
  }
  _exit(sig > 0 ? 128 + sig : 127);
}

}  // namespace

pid_t thr_start_own_child() {
  const pid_t caller = getpid();
  // No CLONE_* flag and no exit signal: a copy of the process, as fork()
  // makes, on a copy of this stack, whose end signals nothing.
  const pid_t keeper = pid_t(syscall(SYS_clone, 0UL, nullptr, nullptr, nullptr, nullptr));
  if (keeper != 0) return keeper;
  // The keeper: nothing but system calls from here on.
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, nullptr);
  setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != caller) _exit(127);  // the caller ended before the request took effect
  // No handler of the caller's runs in the keeper or the program, and the
  // program's end is the keeper's to take (a SIG_IGN'd SIGCHLD would have
  // the kernel take it).
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction was {};
    if (sigaction(sig, nullptr, &was) != 0) continue;
    const bool handled = was.sa_handler != SIG_DFL && was.sa_handler != SIG_IGN;
    if (!handled && sig != SIGCHLD) continue;
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(sig, &dfl, nullptr);
  }
  const pid_t keeper_id = getpid();
  const pid_t program = pid_t(syscall(SYS_clone, static_cast<unsigned long>(SIGCHLD), nullptr, nullptr, nullptr, nullptr));
  if (program == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != keeper_id) _exit(127);
    return 0;
  }
  if (program < 0) _exit(127);
  // The keeper holds no file: a pipe the caller reads to its end (the
  // program's output, a failed exec's report) ends when the program's does.
  if (syscall(SYS_close_range, 0U, ~0U, 0U) != 0) {
    struct rlimit files {};
    const rlim_t last = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY ? files.rlim_cur : 4096;
    for (rlim_t fd = 0; fd < last; ++fd) close(int(fd));
  }
  int status = 0;
  while (waitpid(program, &status, 0) < 0)
    if (errno != EINTR) _exit(127);
  end_as(status);
}

pid_t thr_wait_own_child(pid_t pid, int* status, int options) { return waitpid(pid, status, options | __WALL); }

int thr_waitid_own_child(pid_t pid, siginfo_t* info, int options) {
  return waitid(P_PID, id_t(pid), info, options | __WALL);
}

pid_t thr_wait4_own_child(pid_t pid, int* status, int options, struct rusage* usage) {
  return wait4(pid, status, options | __WALL, usage);
}

// ---------------------------------------------------------------- set-up points

namespace {
constinit std::atomic<kavu_platform::THR_SETUP_HOOK> g_setup_hook{nullptr};
}  // namespace

void thr_setup_point(const char* what) {
  if (const kavu_platform::THR_SETUP_HOOK hook = g_setup_hook.load()) hook(what);
}

namespace kavu_platform {
void thr_test_set_setup_hook(THR_SETUP_HOOK hook) { g_setup_hook.store(hook); }
}  // namespace kavu_platform

// ---------------------------------------------------------------- fork

namespace {

constexpr int kMaxForkLocks = 64;

struct FORK_LOCK {
  std::atomic<std::mutex*> m_mutex{nullptr};  // set last: a place is used once it is set
  std::atomic<int> m_rank{0};
  std::atomic<void (*)()> m_in_child{nullptr};
};

FORK_LOCK g_fork_locks[kMaxForkLocks];
std::atomic<int> g_fork_lock_count{0};
// The places the forking thread took; the C library runs the handlers of
// one fork at a time, so only that thread reads or writes them.
bool g_fork_taken[kMaxForkLocks];

void take_fork_locks() {
  const int n = std::min(g_fork_lock_count.load(), kMaxForkLocks);
  for (int rank = 0; rank < THR_FORK_RANKS; ++rank)
    for (int i = 0; i < n; ++i) {
      std::mutex* mutex = g_fork_locks[i].m_mutex.load(std::memory_order_acquire);
      if (!mutex || g_fork_locks[i].m_rank.load() != rank) continue;
      mutex->lock();
      g_fork_taken[i] = true;
    }
}

void release_fork_locks(bool child) {
  for (int i = kMaxForkLocks - 1; i >= 0; --i) {
    if (!g_fork_taken[i]) continue;
    g_fork_taken[i] = false;
    if (child)
      if (void (*in_child)() = g_fork_locks[i].m_in_child.load()) in_child();
    g_fork_locks[i].m_mutex.load()->unlock();
  }
}

void release_fork_locks_in_parent() { release_fork_locks(false); }
void release_fork_locks_in_child() { release_fork_locks(true); }

// Registered as the layer loads, so before the handlers of any library
// built on it: the C library runs those libraries' preparations first,
// which take their locks outside these.
[[maybe_unused]] const int g_fork_handlers =
    pthread_atfork(take_fork_locks, release_fork_locks_in_parent, release_fork_locks_in_child);

}  // namespace

void thr_lock_across_fork(std::mutex* mutex, THR_FORK_RANK rank, void (*in_child)()) {
  PLAT_CHECK(mutex != nullptr && rank >= 0 && rank < THR_FORK_RANKS, "THR");
  const int i = g_fork_lock_count.fetch_add(1);
  PLAT_CHECK(i < kMaxForkLocks && "too many locks kept across fork", "THR");
  g_fork_locks[i].m_rank.store(rank);
  g_fork_locks[i].m_in_child.store(in_child);
  g_fork_locks[i].m_mutex.store(mutex, std::memory_order_release);
}
