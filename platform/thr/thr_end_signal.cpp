// thr_end_signal.cpp — see thr_end_signal.h.
//
// The actions live in a fixed table of slots, each with a state word: a
// slot is taken by compare-and-swap (free -> filling), filled, then made
// ready; the handler runs only ready slots of its own process. Installing
// and putting back the handlers is serialised by a mutex and counted per
// signal, never done in the handler.
#include "thr/thr_end_signal.h"

#include "thr/thr_fork_int.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

// The end signals first; SIGALRM is watched by THR_STOP_WATCH alone.
constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM};
constexpr int NUM_SIGNALS = int(sizeof SIGNALS / sizeof SIGNALS[0]);
constexpr int NUM_END_SIGNALS = 4;
constexpr int ALARM = 4;

enum SLOT_STATE : int { SLOT_FREE, SLOT_FILLING, SLOT_READY };

struct END_SLOT {
  std::atomic<int> m_state{SLOT_FREE};
  std::atomic<THR_END_ACTION> m_action{nullptr};
  std::atomic<long> m_arg{0};
  std::atomic<pid_t> m_owner{0};  // the process that registered it
};

END_SLOT g_slots[THR_MAX_END_ACTIONS];

std::mutex g_install_mutex;
[[maybe_unused]] const bool g_install_mutex_kept_across_fork =
    (thr_lock_across_fork(&g_install_mutex, THR_FORK_SIGNALS), true);
int g_users[NUM_SIGNALS];                  // under g_install_mutex
struct sigaction g_previous[NUM_SIGNALS];  // written before ours is installed
std::atomic<bool> g_installed[NUM_SIGNALS];
// The previous action was a one-shot handler that was called: from then on
// the signal takes its default action, as the kernel would have left it.
std::atomic<bool> g_reset[NUM_SIGNALS];
std::atomic<unsigned> g_stop_requests{0};  // watched signals arrived
std::atomic<int> g_last_stop_signal{0};     // the last of them
std::atomic<int> g_running{0};             // handlers running actions now
std::atomic<int> g_acting_signal{0};       // the signal the actions last ran for

int index_of(int sig) {
  for (int i = 0; i < NUM_SIGNALS; ++i)
    if (SIGNALS[i] == sig) return i;
  return -1;
}

// Ends the process of `sig` as the default action would.
void die_of(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  raise(sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // the pending signal acts here
}

// True where the action is SIG_DFL or SIG_IGN rather than a function
// (sa_handler and sa_sigaction share their place).
bool is_disposition(const struct sigaction& a) { return a.sa_handler == SIG_DFL || a.sa_handler == SIG_IGN; }

void run_actions(int sig) {
  g_running.fetch_add(1);
  g_acting_signal.store(sig);
  const pid_t self = getpid();
  for (END_SLOT& slot : g_slots)
    if (slot.m_state.load() == SLOT_READY && slot.m_owner.load() == self)
      if (const THR_END_ACTION action = slot.m_action.load()) action(slot.m_arg.load());
  g_running.fetch_sub(1);
}

extern "C" void on_end_signal(int sig, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  const int i = index_of(sig);
  if (i < 0) return;
  g_last_stop_signal.store(sig);
  g_stop_requests.fetch_add(1);
  const struct sigaction& before = g_previous[i];
  // SIG_DFL and SIG_IGN are what they are whatever the flags say.
  const bool siginfo = (before.sa_flags & SA_SIGINFO) != 0 && !is_disposition(before);
  const bool dies = g_reset[i].load() || before.sa_handler == SIG_DFL;
  // The end signals, and any signal that now ends the process, end what
  // this process started first.
  if (i < NUM_END_SIGNALS || dies) run_actions(sig);
  if (dies) {
    die_of(sig);
  } else if (before.sa_handler != SIG_IGN) {
    if (before.sa_flags & SA_RESETHAND) g_reset[i].store(true);
    if (siginfo) before.sa_sigaction(sig, info, context);
    else before.sa_handler(sig);
  }
  errno = saved_errno;
}

bool is_ours(const struct sigaction& a) {
  return (a.sa_flags & SA_SIGINFO) && a.sa_sigaction == on_end_signal;
}

// Under g_install_mutex: ours in front of the process's handler of
// SIGNALS[i], with that handler's flags and mask.
void install(int i) {
  struct sigaction current {};
  if (sigaction(SIGNALS[i], nullptr, &current) != 0 || is_ours(current)) return;
  if (current.sa_handler == SIG_IGN) return;  // the process goes on, and so does all it started
  if (current.sa_handler == SIG_DFL && i == ALARM) return;  // the alarm ends the process: nothing to forward
  g_previous[i] = current;
  g_reset[i].store(false);
  struct sigaction ours {};
  ours.sa_sigaction = on_end_signal;
  ours.sa_flags = (current.sa_flags & ~SA_RESETHAND) | SA_SIGINFO;
  ours.sa_mask = current.sa_mask;
  g_installed[i].store(sigaction(SIGNALS[i], &ours, nullptr) == 0);
}

// Under g_install_mutex: the previous action back, where ours is still the
// one.
void put_back(int i) {
  if (!g_installed[i].exchange(false)) return;
  struct sigaction current {};
  if (sigaction(SIGNALS[i], nullptr, &current) != 0 || !is_ours(current)) return;
  struct sigaction restored = g_previous[i];
  if (g_reset[i].load()) {
    restored = {};
    restored.sa_handler = SIG_DFL;
    sigemptyset(&restored.sa_mask);
  }
  sigaction(SIGNALS[i], &restored, nullptr);
}

void take_signals(int count) {
  std::lock_guard<std::mutex> lock(g_install_mutex);
  for (int i = 0; i < count; ++i)
    if (g_users[i]++ == 0) install(i);
}

void release_signals(int count) {
  std::lock_guard<std::mutex> lock(g_install_mutex);
  for (int i = 0; i < count; ++i)
    if (g_users[i] > 0 && --g_users[i] == 0) put_back(i);
}

}  // namespace

int thr_on_end_signal(THR_END_ACTION action, long arg) {
  for (int k = 0; k < THR_MAX_END_ACTIONS; ++k) {
    int expected = SLOT_FREE;
    if (!g_slots[k].m_state.compare_exchange_strong(expected, SLOT_FILLING)) continue;
    g_slots[k].m_action.store(action);
    g_slots[k].m_arg.store(arg);
    g_slots[k].m_owner.store(getpid());
    g_slots[k].m_state.store(SLOT_READY);
    take_signals(NUM_END_SIGNALS);
    return k;
  }
  return -1;
}

void thr_forget_end_signal(int handle) {
  if (handle < 0 || handle >= THR_MAX_END_ACTIONS) return;
  int expected = SLOT_READY;
  if (!g_slots[handle].m_state.compare_exchange_strong(expected, SLOT_FILLING)) return;
  // A handler on another thread may still be running the action, or about
  // to read its place: the place is taken by no one else until none runs.
  while (g_running.load() != 0) sched_yield();
  g_slots[handle].m_state.store(SLOT_FREE);
  release_signals(NUM_END_SIGNALS);
}

THR_STOP_WATCH::THR_STOP_WATCH() : m_start(g_stop_requests.load()) { take_signals(NUM_SIGNALS); }

THR_STOP_WATCH::~THR_STOP_WATCH() { release_signals(NUM_SIGNALS); }

bool THR_STOP_WATCH::requested() const { return g_stop_requests.load() != m_start; }

int THR_STOP_WATCH::signal() const { return requested() ? g_last_stop_signal.load() : 0; }

int thr_end_signal_of_action() { return g_acting_signal.load(); }

void thr_remove_dir_in_handler(const char* path) {
  const int dir = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return;
  alignas(8) char entries[4096];
  long n;
  while ((n = syscall(SYS_getdents64, dir, entries, sizeof entries)) > 0) {
    for (long at = 0; at < n;) {
      // struct linux_dirent64: ino (8), off (8), reclen (2), type (1), name
      unsigned short length;
      memcpy(&length, entries + at + 16, sizeof length);
      const char* name = entries + at + 19;
      if (strcmp(name, ".") != 0 && strcmp(name, "..") != 0) unlinkat(dir, name, 0);
      at += length;
    }
  }
  close(dir);
  rmdir(path);
}

void thr_block_end_signals(sigset_t* old) {
  sigset_t set;
  sigemptyset(&set);
  for (int i = 0; i < NUM_END_SIGNALS; ++i) sigaddset(&set, SIGNALS[i]);
  pthread_sigmask(SIG_BLOCK, &set, old);
}
