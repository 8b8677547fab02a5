// oracle_process.cpp — see oracle_process.h.
#include "netlist_io/oracle_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <poll.h>
#include <sys/syscall.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "cfg/cfg.h"
#include "thr/thr.h"
#include "thr/thr_end_signal.h"
#include "thr/thr_fork_int.h"

extern char** environ;

namespace kavu_platform {
namespace {

bool executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

void remove_dir(long path) { thr_remove_dir_in_handler(reinterpret_cast<const char*>(path)); }

}  // namespace

std::string oracle_find_program(const char* key, const char* fallback) {
  std::string name = cfg_get_value(key);
  if (name.empty()) name = fallback;
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t colon = dirs.find(':', start);
    const std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (executable(full)) return full;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return std::string();
}

ORACLE_TEMP_DIR::ORACLE_TEMP_DIR(const char* stem) {
  const char* base = std::getenv("TMPDIR");
  std::error_code ec;
  const std::filesystem::path root = std::filesystem::absolute(base && *base ? base : "/tmp", ec);
  if (ec) return;
  std::string templ = (root / (std::string(stem) + "_XXXXXX")).string();
  if (!mkdtemp(templ.data())) return;
  m_path = std::move(templ);  // takes no memory: nothing made is left unowned
  m_on_end = thr_on_end_signal(remove_dir, reinterpret_cast<long>(m_path.c_str()));
}

ORACLE_TEMP_DIR::~ORACLE_TEMP_DIR() {
  thr_forget_end_signal(m_on_end);
  if (m_path.empty()) return;
  std::error_code ec;
  try {
    std::filesystem::remove_all(m_path, ec);
  } catch (const std::bad_alloc&) {  // memory refused: system calls alone
    thr_remove_dir_in_handler(m_path.c_str());
  }
}

namespace {

// The running peers' groups by the id that names them (their keeper's),
// each with its action that ends the group when the caller is told to end,
// and the id that action reads.
struct GROUP_ACTION {
  int m_handle;
  std::unique_ptr<std::atomic<pid_t>> m_id;
};
std::mutex g_groups_mutex;
std::map<pid_t, GROUP_ACTION> g_group_actions;
[[maybe_unused]] const bool g_groups_kept_across_fork = (thr_lock_across_fork(&g_groups_mutex, THR_FORK_NETLIST_IO), true);

// In a signal handler: kills the group, and asks its keeper to kill the
// program wherever it went (thr_end_own_child), with async-signal-safe
// calls alone.
void kill_group(long id) {
  const pid_t group = reinterpret_cast<const std::atomic<pid_t>*>(id)->load();
  if (group <= 0) return;
  kill(-group, SIGKILL);
  sigqueue(group, SIGTERM, sigval{});
}

void forget_group(pid_t pid) {
  GROUP_ACTION action{-1, nullptr};
  {
    std::lock_guard<std::mutex> lock(g_groups_mutex);
    auto it = g_group_actions.find(pid);
    if (it == g_group_actions.end()) return;
    action = std::move(it->second);
    g_group_actions.erase(it);
  }
  thr_forget_end_signal(action.m_handle);
}

}  // namespace

pid_t oracle_spawn_group(char* const* argv, const char* dir, const char* log_path) {
  const int log = open(log_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (log < 0) return -1;
  pid_t pid = -1;
  try {
    pid = oracle_spawn_group(argv, dir, log);
  } catch (...) {  // memory refused before the start: the log is closed too
    close(log);
    throw;
  }
  close(log);
  return pid;
}

pid_t oracle_spawn_group(char* const* argv, const char* dir, int output) {
  // The group's entry (the node of its map, the id its action reads) is
  // made first: memory refused (std::bad_alloc) then comes before the end
  // signals are held and before the child starts, so it leaves the caller's
  // mask as it was and no program that no action ends. Inserting a node
  // allocates nothing.
  std::map<pid_t, GROUP_ACTION> made;
  made.emplace(0, GROUP_ACTION{-1, std::make_unique<std::atomic<pid_t>>(0)});
  auto entry = made.extract(made.begin());
  // The end signals wait until the child's group is registered, so that no
  // Ctrl-C falls between the start and the registration; the program
  // starts with the caller's mask as it was.
  sigset_t mask;
  thr_block_end_signals(&mask);
  THR_OWN_CHILD_START start;
  start.m_path = argv[0];
  start.m_argv = argv;
  start.m_out = output;
  start.m_err = output;
  start.m_dir = dir;
  start.m_mask = &mask;
  pid_t program = 0;
  int error = 0;
  // In a group of its own, which the caller ends with everything in it;
  // the kernel kills it when the thread that started it ends
  // (thr_start_own_child). The action that ends it is there before it
  // starts: a signal to the process may be taken by another thread.
  std::atomic<pid_t>* id = entry.mapped().m_id.get();
  start.m_keeper_seen = id;
  const int handle = thr_on_end_signal(kill_group, reinterpret_cast<long>(id));
  pid_t pid = -1;
  try {
    pid = thr_start_own_child(start, &program, &error);
  } catch (...) {  // nothing started: the action and the mask are put back
    thr_forget_end_signal(handle);
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    throw;
  }
  if (pid > 0) {
    entry.key() = pid;
    entry.mapped().m_handle = handle;
    std::lock_guard<std::mutex> lock(g_groups_mutex);
    auto placed = g_group_actions.insert(std::move(entry));
    if (!placed.inserted) placed.position->second = std::move(placed.node.mapped());  // an id taken again
  } else {
    thr_forget_end_signal(handle);
  }
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  if (pid < 0) errno = error;
  return pid;
}

bool oracle_group_leader_ended(pid_t pid) {
  siginfo_t info{};
  if (thr_waitid_own_child(pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
  return info.si_pid == pid;
}

int oracle_end_group(pid_t pid, struct rusage* usage) {
  // The child is waited for without being reaped: while it is a zombie its
  // id names its group and no other process, so the kill below reaches
  // only what it left running.
  siginfo_t info{};
  while (thr_waitid_own_child(pid, &info, WEXITED | WNOWAIT) != 0)
    if (errno != EINTR) {
      // Its end was taken: its id may name another process by now, so
      // nothing is sent to it.
      const int error = errno;
      forget_group(pid);
      return error == ECHILD ? ORACLE_END_TAKEN : -1;
    }
  kill(-pid, SIGKILL);
  forget_group(pid);  // before the reap frees the id
  int status = 0;
  while (thr_wait4_own_child(pid, &status, 0, usage) < 0)
    if (errno != EINTR) return errno == ECHILD ? ORACLE_END_TAKEN : -1;
  return status;
}

int oracle_run(const std::vector<std::string>& argv, const std::string& dir, const std::string& log_path,
               int timeout_seconds) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = oracle_spawn_group(args.data(), dir.c_str(), log_path.c_str());
  if (pid < 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  bool timed_out = false;
  while (timeout_seconds > 0 && !oracle_group_leader_ended(pid)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      thr_end_own_child(pid);
      timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const int status = oracle_end_group(pid);
  if (timed_out) return ORACLE_TIMED_OUT;
  if (status < 0) return status == ORACLE_END_TAKEN ? ORACLE_END_TAKEN : -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

namespace {

// Reads what the peer printed from the read end of its pipe (non-blocking)
// into the output, until the pipe is empty or closed.
struct PEER_PIPE {
  int m_fd;
  ORACLE_OUTPUT* m_output;
  bool m_closed = false;

  void drain() {
    char buffer[64 * 1024];
    while (!m_closed) {
      const ssize_t n = read(m_fd, buffer, sizeof buffer);
      if (n > 0) m_output->append(buffer, size_t(n));
      else if (n == 0 || (errno != EINTR && errno != EAGAIN)) m_closed = true;
      else if (errno == EAGAIN) return;
    }
  }
};

}  // namespace

ORACLE_END oracle_run_peer(const std::vector<std::string>& argv, const std::string& dir, int timeout_seconds,
                           ORACLE_OUTPUT* output, struct rusage* usage) {
  ORACLE_END end;
  ORACLE_OUTPUT discarded;
  if (argv.empty()) return end;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out[2];
  // Only the read end waits for nothing: the peer writes as into any pipe.
  if (pipe2(out, O_CLOEXEC) != 0) return end;
  if (fcntl(out[0], F_SETFL, O_NONBLOCK) != 0) return close(out[0]), close(out[1]), end;
  pid_t pid = -1;
  try {
    pid = oracle_spawn_group(args.data(), dir.empty() ? nullptr : dir.c_str(), out[1]);
  } catch (...) {  // memory refused before the start: no pipe is left open
    close(out[0]);
    close(out[1]);
    throw;
  }
  const int start_error = pid < 0 ? errno : 0;
  close(out[1]);
  if (pid < 0) {
    // The group ended as the peer started (a signal's action or a time
    // limit killed it before its start was reported): killed, not unstarted.
    if (start_error == ECANCELED) end.signal = SIGKILL, end.status = 128 + SIGKILL;
    return close(out[0]), end;
  }
  PEER_PIPE pipe{out[0], output ? output : &discarded};
  // The leader's end wakes the wait (a child it left may hold the pipe
  // open); without a pidfd the wait looks again every 10 ms.
  const int leader = int(syscall(SYS_pidfd_open, pid, 0));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  bool timed_out = false;
  // Memory refused while the output is kept ends the group and lets the
  // refusal go on to the caller: no peer is left running, no descriptor
  // open.
  auto end_group_and_throw = [&] {
    thr_end_own_child(pid);
    oracle_end_group(pid, usage);
    close(out[0]);
    if (leader >= 0) close(leader);
    throw;
  };
  for (;;) {
    try {
      pipe.drain();
    } catch (const std::bad_alloc&) {
      end_group_and_throw();
    }
    if (oracle_group_leader_ended(pid)) break;
    int wait_ms = leader >= 0 ? -1 : 10;
    if (timeout_seconds > 0) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        thr_end_own_child(pid);
        timed_out = true;
        break;
      }
      wait_ms = int(std::min<long long>(wait_ms < 0 ? left.count() : wait_ms, left.count()));
    }
    pollfd wake[2] = {{pipe.m_closed ? -1 : out[0], POLLIN, 0}, {leader, POLLIN, 0}};
    poll(wake, 2, wait_ms);
  }
  const int status = oracle_end_group(pid, usage);
  try {
    pipe.drain();  // what the group wrote before it ended
    pipe.m_output->finish();
  } catch (const std::bad_alloc&) {
    close(out[0]);
    if (leader >= 0) close(leader);
    throw;
  }
  close(out[0]);
  if (leader >= 0) close(leader);
  if (timed_out) end.status = ORACLE_TIMED_OUT;
  else if (status == ORACLE_END_TAKEN) end.status = ORACLE_END_TAKEN;
  else if (status >= 0 && WIFEXITED(status)) end.status = WEXITSTATUS(status);
  else if (status >= 0 && WIFSIGNALED(status)) end.signal = WTERMSIG(status), end.status = 128 + end.signal;
  return end;
}

std::string oracle_describe_end(const ORACLE_END& end) {
  if (end.status == ORACLE_TIMED_OUT) return "ran past its time limit";
  if (end.status == ORACLE_END_TAKEN) return "ended, but another wait in this process took its exit status";
  if (end.status < 0) return "could not be started";
  if (end.signal == 0) return "exited with status " + std::to_string(end.status);
  std::string text = "was killed by signal " + std::to_string(end.signal);
  if (const char* name = sigabbrev_np(end.signal)) text += std::string(" (SIG") + name + ")";
  return text;
}

std::string oracle_describe_end(int rc) { return oracle_describe_end(ORACLE_END{rc, rc > 128 ? rc - 128 : 0}); }

// ---- ORACLE_OUTPUT

void ORACLE_OUTPUT::append(const char* data, size_t n) {
  m_bytes += n;
  const size_t to_head = std::min(n, HEAD_BYTES - std::min(HEAD_BYTES, m_head.size()));
  m_head.append(data, to_head);
  m_tail.append(data + to_head, n - to_head);
  if (m_tail.size() > 2 * TAIL_BYTES) m_tail.erase(0, m_tail.size() - TAIL_BYTES);
  if (!on_line) return;
  for (const char* at = data; at < data + n;) {
    const char* newline = static_cast<const char*>(std::memchr(at, '\n', size_t(data + n - at)));
    const char* stop = newline ? newline : data + n;
    m_line.append(at, std::min(size_t(stop - at), LINE_BYTES - m_line.size()));
    m_line_open = true;
    if (!newline) break;
    on_line(m_line);
    m_line.clear();
    m_line_open = false;
    at = newline + 1;
  }
}

void ORACLE_OUTPUT::finish() {
  if (on_line && m_line_open) on_line(m_line);
  m_line.clear();
  m_line_open = false;
}

std::string ORACLE_OUTPUT::text() const {
  std::string_view head = m_head, tail = m_tail;
  if (tail.size() > TAIL_BYTES) tail.remove_prefix(tail.size() - TAIL_BYTES);
  if (m_bytes == head.size() + tail.size()) return std::string(head) + std::string(tail);
  // Whole lines on both sides of the gap, where the sides hold a newline.
  if (const size_t last = head.rfind('\n'); last != std::string_view::npos) head = head.substr(0, last + 1);
  if (const size_t first = tail.find('\n'); first != std::string_view::npos) tail.remove_prefix(first + 1);
  const uint64_t left_out = m_bytes - head.size() - tail.size();
  return std::string(head) + "[... " + std::to_string(left_out) + " bytes left out ...]\n" + std::string(tail);
}

std::string ORACLE_OUTPUT::last_lines(size_t lines) const {
  const std::string all = text();
  // Back over `lines` line ends from the end (a final newline ends the last line).
  size_t start = all.size() - (!all.empty() && all.back() == '\n' ? 1 : 0);
  for (size_t k = 0; k < lines && start > 0; ++k) {
    const size_t newline = all.rfind('\n', start - 1);
    start = newline == std::string::npos ? 0 : k + 1 < lines ? newline : newline + 1;
  }
  if (start == 0) return all;
  return "[... " + std::to_string(m_bytes - (all.size() - start)) + " bytes before left out ...]\n" + all.substr(start);
}

std::string oracle_read_file(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace kavu_platform
