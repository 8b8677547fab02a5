// thr_end_signal.cpp — see thr_end_signal.h.
//
// The actions live in a fixed table of slots, each with a state word: a
// slot is taken by compare-and-swap (free -> filling), filled, then made
// ready; the handler runs only ready slots. Installing and putting back the
// handlers is serialised by a mutex and counted, never done in the handler.
#include "thr/thr_end_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {

constexpr int END_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int NUM_END_SIGNALS = int(sizeof END_SIGNALS / sizeof END_SIGNALS[0]);

enum SLOT_STATE : int { SLOT_FREE, SLOT_FILLING, SLOT_READY };

struct END_SLOT {
  std::atomic<int> m_state{SLOT_FREE};
  std::atomic<THR_END_ACTION> m_action{nullptr};
  std::atomic<long> m_arg{0};
};

END_SLOT g_slots[THR_MAX_END_ACTIONS];

std::mutex g_install_mutex;
int g_registered = 0;                       // under g_install_mutex
struct sigaction g_previous[NUM_END_SIGNALS];  // written before ours is installed
std::atomic<bool> g_installed[NUM_END_SIGNALS];
std::atomic<pid_t> g_owner{0};  // the process that installed the handlers

int index_of(int sig) {
  for (int i = 0; i < NUM_END_SIGNALS; ++i)
    if (END_SIGNALS[i] == sig) return i;
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

extern "C" void on_end_signal(int sig, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  const int i = index_of(sig);
  // A forked child before exec holds a copy of the table: the slots name
  // its parent's peers, not its own.
  if (i < 0 || getpid() != g_owner.load()) return die_of(sig);
  for (END_SLOT& slot : g_slots)
    if (slot.m_state.load() == SLOT_READY)
      if (const THR_END_ACTION action = slot.m_action.load()) action(slot.m_arg.load());
  const struct sigaction& before = g_previous[i];
  if (before.sa_flags & SA_SIGINFO) {
    if (before.sa_sigaction) before.sa_sigaction(sig, info, context);
  } else if (before.sa_handler == SIG_DFL) {
    die_of(sig);
  } else if (before.sa_handler != SIG_IGN) {
    before.sa_handler(sig);
  }
  errno = saved_errno;
}

bool is_ours(const struct sigaction& a) {
  return (a.sa_flags & SA_SIGINFO) && a.sa_sigaction == on_end_signal;
}

// Under g_install_mutex.
void install() {
  g_owner.store(getpid());
  for (int i = 0; i < NUM_END_SIGNALS; ++i) {
    struct sigaction current {};
    if (sigaction(END_SIGNALS[i], nullptr, &current) != 0 || is_ours(current)) continue;
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) continue;  // the process goes on
    g_previous[i] = current;
    struct sigaction ours {};
    ours.sa_sigaction = on_end_signal;
    ours.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&ours.sa_mask);
    g_installed[i].store(sigaction(END_SIGNALS[i], &ours, nullptr) == 0);
  }
}

// Under g_install_mutex: each handler back, where ours is still the one.
void put_back() {
  for (int i = 0; i < NUM_END_SIGNALS; ++i) {
    if (!g_installed[i].exchange(false)) continue;
    struct sigaction current {};
    if (sigaction(END_SIGNALS[i], nullptr, &current) == 0 && is_ours(current))
      sigaction(END_SIGNALS[i], &g_previous[i], nullptr);
  }
}

}  // namespace

int thr_on_end_signal(THR_END_ACTION action, long arg) {
  for (int k = 0; k < THR_MAX_END_ACTIONS; ++k) {
    int expected = SLOT_FREE;
    if (!g_slots[k].m_state.compare_exchange_strong(expected, SLOT_FILLING)) continue;
    g_slots[k].m_action.store(action);
    g_slots[k].m_arg.store(arg);
    g_slots[k].m_state.store(SLOT_READY);
    std::lock_guard<std::mutex> lock(g_install_mutex);
    if (g_registered++ == 0) install();
    return k;
  }
  return -1;
}

void thr_forget_end_signal(int handle) {
  if (handle < 0 || handle >= THR_MAX_END_ACTIONS) return;
  g_slots[handle].m_state.store(SLOT_FREE);
  std::lock_guard<std::mutex> lock(g_install_mutex);
  if (--g_registered == 0) put_back();
}

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
  for (int sig : END_SIGNALS) sigaddset(&set, sig);
  pthread_sigmask(SIG_BLOCK, &set, old);
}
