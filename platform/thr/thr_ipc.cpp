// thr_ipc.cpp — jobs, named pipes and helper processes (see thr_ipc.h).
#include "thr/thr_ipc.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include "cfg/cfg.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "testkit/platform_test_hooks.h"
#include "thr/thr.h"
#include "thr/thr_end_signal.h"
#include "thr/thr_fork_int.h"

extern char** environ;

// ---------------------------------------------------------------- jobs

int PUT_PROCESSOR_MANAGER::get_max_threads(int limit) {
  int hw = int(std::thread::hardware_concurrency());
  if (hw <= 0) hw = 1;
  int n = std::min(limit, hw);
  int key = cfg_get_int_value("put_max_threads", 0);
  if (key > 0) n = std::min(n, key);
  return n < 1 ? 1 : n;
}

PUT_SPMD_JOB_VOID_PTR* PUT_SPMD_JOB_VOID_PTR::create_job(PUT_SPMD_TASK_FN fn, int threads, bool, void*, void*) {
  PLAT_CHECK(fn, "PUT");
  return new PUT_SPMD_JOB_VOID_PTR(fn, threads <= 0 ? 1 : threads);
}

void PUT_SPMD_JOB_VOID_PTR::destroy_job(PUT_SPMD_JOB_VOID_PTR* job) { delete job; }

void PUT_SPMD_JOB_VOID_PTR::add_task(void* arg) { m_tasks.push_back(arg); }

void PUT_SPMD_JOB_VOID_PTR::run() {
  m_error.clear();
  const size_t n = std::min<size_t>(size_t(m_threads), m_tasks.size());
  // Made before the tasks are taken: memory refused here leaves them added.
  std::vector<std::thread> pool(n > 1 ? n : 0);
  std::vector<void*> tasks;
  tasks.swap(m_tasks);
  std::atomic<size_t> next{0};
  auto worker = [&]() {
    for (size_t i = next++; i < tasks.size(); i = next++) m_fn(tasks[i]);
  };
  if (n <= 1) {
    worker();
    return;
  }
  // Every thread is started before any task runs: a thread the system
  // refuses leaves every task unrun, never the job half done.
  std::atomic<int> go{0};  // 1: run the tasks; -1: run none
  for (size_t t = 0; t < n && m_error.empty(); ++t)
    m_error = thr_start_thread(&pool[t], [&] {
      go.wait(0);
      if (go.load() == 1) worker();
    });
  go.store(m_error.empty() ? 1 : -1);
  go.notify_all();
  for (auto& th : pool)
    if (th.joinable()) th.join();
  if (m_error.empty()) return;
  tasks.insert(tasks.end(), m_tasks.begin(), m_tasks.end());  // those added meanwhile follow
  m_tasks.swap(tasks);
}

// ---------------------------------------------------------------- pipes

namespace {

std::mutex g_pipe_dir_mutex;
std::string g_pipe_dir;
// The process that made g_pipe_dir: a process forked from it without exec
// shares the name, not the directory's ownership, and removes nothing of it.
std::atomic<pid_t> g_pipe_dir_maker{0};
// The directory's path for the signal handler, and its action's handle.
char g_pipe_dir_for_signal[4096];
int g_pipe_dir_action = -1;

bool pipe_dir_is_ours() { return g_pipe_dir_maker.load() == getpid(); }

// Read before the mutex is taken: a forked child that exits must neither
// remove its parent's directory nor wait for a mutex another thread of the
// parent held at the fork.
void remove_pipe_dir_at_exit() {
  if (pipe_dir_is_ours()) thr_remove_pipe_dir();
}
// Registered as the layer loads, not when the directory is first made: a
// process that forks while another thread registers it would leave its
// child the C library's exit list held.
[[maybe_unused]] const int g_pipe_dir_removed_at_exit = atexit(remove_pipe_dir_at_exit);

// Runs holding the directory, and why the last directory could not be made.
int g_pipe_dir_holds = 0;
bool g_pipe_dir_remove_at_release = false;  // a hold with `remove` went
std::string g_pipe_dir_failure;

// Removals of the directory by an end signal, and the signal of the last.
std::atomic<unsigned> g_pipe_dir_removals{0};
std::atomic<int> g_pipe_dir_removal_signal{0};

void remove_pipe_dir_on_signal(long);

// In a child forked without exec: the holds were its parent's runs, none
// of which goes on in the child.
void forget_pipe_dir_holds_in_child() {
  g_pipe_dir_holds = 0;
  g_pipe_dir_remove_at_release = false;
}

// Under g_pipe_dir_mutex: the directory's removal is registered while a
// run holds it and it exists.
void register_pipe_dir_action() {
  if (g_pipe_dir_holds == 0 || g_pipe_dir_action >= 0 || g_pipe_dir.empty()) return;
  if (g_pipe_dir.size() >= sizeof g_pipe_dir_for_signal) return;
  memcpy(g_pipe_dir_for_signal, g_pipe_dir.c_str(), g_pipe_dir.size() + 1);
  g_pipe_dir_action = thr_on_end_signal(remove_pipe_dir_on_signal, 0);
}

// Under g_pipe_dir_mutex: the directory goes, where this process made it;
// a forked child only forgets its parent's.
void remove_pipe_dir_locked() {
  thr_forget_end_signal(std::exchange(g_pipe_dir_action, -1));
  if (g_pipe_dir.empty()) return;
  std::error_code ec;
  if (pipe_dir_is_ours()) std::filesystem::remove_all(g_pipe_dir, ec);
  g_pipe_dir.clear();
}

// Removes the pipe directory when a signal ends the process (which runs no
// atexit function), counting the removal for the runs that held it.
void remove_pipe_dir_on_signal(long) {
  // Told before the directory goes: a run that finds it gone knows why.
  g_pipe_dir_removal_signal.store(thr_end_signal_of_action());
  g_pipe_dir_removals.fetch_add(1);
  thr_remove_dir_in_handler(g_pipe_dir_for_signal);
}

char random_name_char(std::mt19937& gen) {
  static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  return chars[gen() % (sizeof(chars) - 1)];
}

std::mt19937& name_generator() {
  thread_local std::mt19937 gen(std::random_device{}() ^ unsigned(getpid()) ^
                                unsigned(std::hash<std::thread::id>{}(std::this_thread::get_id())));
  return gen;
}

constinit std::atomic<kavu_platform::THR_PIPE_HOOK> g_pipe_hook{nullptr};

bool ends_with_template(const std::string& s) {
  return s.size() >= 6 && s.compare(s.size() - 6, 6, "XXXXXX") == 0;
}

}  // namespace

const std::string& thr_get_pipe_dir() {
  std::lock_guard<std::mutex> lock(g_pipe_dir_mutex);
  // A directory removed meanwhile (an end signal the caller's handler
  // survived) is made anew, and so is one a forked child's parent made.
  struct stat st;
  if (!g_pipe_dir.empty() && (!pipe_dir_is_ours() || (lstat(g_pipe_dir.c_str(), &st) != 0 && errno == ENOENT))) {
    thr_forget_end_signal(std::exchange(g_pipe_dir_action, -1));
    g_pipe_dir.clear();
  }
  if (g_pipe_dir.empty()) {
    const char* tmp = getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string templ = base + "/kavu_pipes_XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) {  // mkdtemp makes the directory 0700
      g_pipe_dir = buf.data();
      g_pipe_dir_maker.store(getpid());
      g_pipe_dir_failure.clear();
    } else {
      const int error = errno;
      g_pipe_dir_failure = "cannot make a directory for named pipes in \"" +
                           kavu_platform::msg_printable_text(base, kavu_platform::MSG_MAX_PATH_BYTES, true) +
                           "\": " + strerror(error);
      errno = error;
    }
  }
  register_pipe_dir_action();
  return g_pipe_dir;
}

void thr_remove_pipe_dir() {
  std::lock_guard<std::mutex> lock(g_pipe_dir_mutex);
  remove_pipe_dir_locked();
}

THR_PIPE_DIR_HOLD::THR_PIPE_DIR_HOLD(bool remove) : m_remove(remove), m_removals(g_pipe_dir_removals.load()) {
  std::lock_guard<std::mutex> lock(g_pipe_dir_mutex);
  ++g_pipe_dir_holds;
  register_pipe_dir_action();
}

THR_PIPE_DIR_HOLD::~THR_PIPE_DIR_HOLD() {
  std::lock_guard<std::mutex> lock(g_pipe_dir_mutex);
  g_pipe_dir_remove_at_release |= m_remove;
  if (--g_pipe_dir_holds != 0) return;
  if (std::exchange(g_pipe_dir_remove_at_release, false)) remove_pipe_dir_locked();
  else thr_forget_end_signal(std::exchange(g_pipe_dir_action, -1));
}

int THR_PIPE_DIR_HOLD::interrupted_by() const {
  return g_pipe_dir_removals.load() != m_removals ? g_pipe_dir_removal_signal.load() : 0;
}

std::string THR_NAMED_PIPE::get_path() const {
  if (!m_name.empty() && m_name[0] == '/') return m_name;
  return thr_get_pipe_dir() + "/" + m_name;
}

bool THR_NAMED_PIPE::make(bool read) {
  m_read = read;
  const std::string& dir = thr_get_pipe_dir();
  if (dir.empty()) {
    m_error = errno ? errno : EACCES;
    std::lock_guard<std::mutex> lock(g_pipe_dir_mutex);
    m_why = g_pipe_dir_failure;
    return false;
  }
  const bool templ = ends_with_template(m_name);
  std::string base = templ ? m_name.substr(0, m_name.size() - 6) : m_name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = base;
    if (templ)
      for (int i = 0; i < 6; ++i) name += random_name_char(name_generator());
    std::string path = dir + "/" + name;
    if (const kavu_platform::THR_PIPE_HOOK hook = g_pipe_hook.load()) hook(path.c_str());
    if (mkfifo(path.c_str(), 0600) == 0) {
      m_name = name;
      m_created = true;
      m_error = 0;
      m_why.clear();
      return true;
    }
    m_error = errno;
    m_why = "cannot make the named pipe \"" +
            kavu_platform::msg_printable_text(path, kavu_platform::MSG_MAX_PATH_BYTES, true) + "\": " + strerror(m_error);
    if (m_error != EEXIST || !templ) return false;
  }
  return false;
}

bool THR_NAMED_PIPE::remove() {
  if (!m_created) return true;
  if (unlink(get_path().c_str()) != 0 && errno != ENOENT) {
    m_error = errno;
    return false;
  }
  m_created = false;
  return true;
}

char* _mktemp(char* name) {
  PLAT_CHECK(name, "THR");
  size_t n = strlen(name);
  if (n < 6 || strcmp(name + n - 6, "XXXXXX") != 0) return name;
  const std::string& dir = thr_get_pipe_dir();
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = n - 6; i < n; ++i) name[i] = random_name_char(name_generator());
    struct stat st;
    if (stat((dir + "/" + name).c_str(), &st) != 0) break;
  }
  return name;
}

// ---------------------------------------------------------------- processes

namespace {

std::mutex g_ipc_mutex;
std::vector<std::string> g_messages;
size_t g_dropped_messages = 0;
std::set<pid_t> g_live;
int g_starting = 0;  // helpers being started, not yet in g_live
int g_waiting_to_start = 0;  // of those, the ones waiting for a process to be free

// Bounds that keep a misbehaving helper from growing the parent: a protocol
// line longer than this is a bad answer, and messages past the queue bound
// are counted, not kept.
constexpr size_t kMaxLineBytes = 64 * 1024;
constexpr size_t kMaxQueuedMessages = 10000;

// One dispatcher per run, keyed by the run's download-pipe array and checked
// against the name of its first pipe (a FIFO name is unique while the run's
// pipes exist), so an entry left by a run whose array had the same address
// is never taken for the current run. ipc_end_run removes the entry.
struct DISPATCH {
  std::string run_name;
  int next = 0;
  int answered = 0;  // partitions answered "DONE k 0"
  bool failed = false;
  std::function<void(int)> listener;  // told of each partition answered "DONE k 0"
};
std::map<THR_NAMED_PIPE**, DISPATCH> g_dispatch;

// In a child forked without exec: the helpers, runs and messages were its
// parent's.
void forget_helpers_in_child() {
  g_messages.clear();
  g_dropped_messages = 0;
  g_live.clear();
  g_starting = 0;
  g_waiting_to_start = 0;
  g_dispatch.clear();
}

// The pipe directory's lock is taken outside the others (it installs and
// puts back the end-signal handlers under it).
[[maybe_unused]] const bool g_locks_kept_across_fork =
    (thr_lock_across_fork(&g_pipe_dir_mutex, THR_FORK_PIPE_DIR, forget_pipe_dir_holds_in_child),
     thr_lock_across_fork(&g_ipc_mutex, THR_FORK_IPC, forget_helpers_in_child), true);

int helper_number(const std::vector<std::string>& argv) {
  for (const std::string& a : argv)
    if (a.compare(0, 9, "--helper=") == 0) return atoi(a.c_str() + 9);
  return 0;
}

// Where the installed helpers lie: KAVU_HELPER_DIR_FROM_LIB (set by the
// build from the install layout, e.g. "../libexec/synth_kavu") taken from
// the directory of the shared object holding this code; "" when that
// object's path is unknown.
std::string installed_helper_dir() {
#ifdef KAVU_HELPER_DIR_FROM_LIB
  Dl_info info;
  if (dladdr(reinterpret_cast<const void*>(&installed_helper_dir), &info) == 0 || !info.dli_fname) return "";
  const std::string object = info.dli_fname;
  const size_t slash = object.rfind('/');
  return (slash == std::string::npos ? std::string(".") : object.substr(0, slash)) + "/" KAVU_HELPER_DIR_FROM_LIB;
#else
  return "";
#endif
}

// The key "helper_binary_dir" first, then the helpers installed with the
// layer, then PATH.
std::string find_program(const std::string& prog) {
  if (prog.find('/') != std::string::npos) return prog;
  const char* dir = cfg_get_value("helper_binary_dir");
  if (*dir) {
    std::string p = std::string(dir) + "/" + prog;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  const std::string installed = installed_helper_dir();
  if (!installed.empty()) {
    std::string p = installed + "/" + prog;
    if (access(p.c_str(), X_OK) == 0) return p;
  }
  const char* path = getenv("PATH");
  std::string rest = path ? path : "";
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = rest.find(':', pos);
    if (end == std::string::npos) end = rest.size();
    std::string d = rest.substr(pos, end - pos);
    if (!d.empty()) {
      std::string p = d + "/" + prog;
      if (access(p.c_str(), X_OK) == 0) return p;
    }
    pos = end + 1;
  }
  return "";
}

int status_to_code(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// How a helper ended, in the user's words, to follow "the helper". -1: it
// ended, and a wait of the host's (one that takes every kind of child)
// took its exit status.
std::string describe_status(int status) {
  if (status == -1) return "ended (another wait in this process took its exit status)";
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    std::string text = "was killed by signal " + std::to_string(sig);
    if (const char* name = sigabbrev_np(sig)) text += std::string(" (SIG") + name + ")";
    if (sig == SIGXFSZ) text += ": the disk or the file size limit is full";
    return text;
  }
  return "ended in an unknown way";
}

std::string timeout_text(double seconds) {
  return "the helper timed out after " + std::to_string(int(seconds)) + " s";
}

// Ends the helper's whole process group (a helper started through a script
// has children of its own), so nothing it started outlives a failure, and
// the helper itself where it left the group (thr_end_own_child). The
// group's id is the keeper's, which stays reserved while the keeper is
// unreaped.
void kill_group(pid_t pid) {
  if (pid > 0) thr_end_own_child(pid);
}

void forget_child(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  g_live.erase(pid);
}

double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Waits for the child until the deadline; true (and the raw status) when it
// was reaped, false when it is still running at the deadline.
bool wait_until(pid_t pid, double deadline, int* status) {
  int pause_ms = 1;
  for (;;) {
    pid_t r = thr_wait_own_child(pid, status, WNOHANG);
    if (r == pid) {
      forget_child(pid);
      return true;
    }
    if (r < 0 && errno != EINTR) {  // its end taken by another wait: nothing to wait for
      forget_child(pid);
      *status = -1;
      return true;
    }
    if (now_s() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    pause_ms = std::min(pause_ms * 2, 20);
  }
}

// Kills the child and its process group when still running and reaps it;
// returns the raw status. The keeper is outside the group: it reaps the
// program and what the program left, so none of them is handed to a host
// that reaps orphans (a subreaper), and then ends.
int kill_and_reap(pid_t pid) {
  int status = 0;
  kill_group(pid);
  pid_t r;
  do r = thr_wait_own_child(pid, &status, 0);
  while (r < 0 && errno == EINTR);
  forget_child(pid);
  return r == pid ? status : -1;
}

// Why the open file `fd` is no log of this user's own ("" when it is: a
// regular file of one name that this user owns).
std::string not_own_log(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return std::string("it cannot be examined: ") + strerror(errno);
  if (const std::string kind = fio_not_a_file_of_one_name(st); !kind.empty()) return "it is " + kind;
  if (st.st_uid != ::geteuid()) return "it is another user's file";
  return "";
}

// Opens the helper's log `log` for writing, emptied, as a file of this
// user's own (see IPC_COMMAND::run_argv_with_named_pipe): the descriptor
// (close-on-exec), or -1 with *why saying why the helper runs without one.
// A link this user made is followed; no open waits.
int open_helper_log(const std::string& log, bool replace_foreign, std::string* why) {
  const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::open(log.c_str(), flags | O_CREAT | O_NOFOLLOW, 0644);
  struct stat link;
  bool own_link = false;
  if (fd < 0 && errno == ELOOP && ::lstat(log.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    if (link.st_uid != ::geteuid()) {
      *why = "it is a symbolic link another user made";
      return -1;
    }
    own_link = true;
    // The link is read from its own descriptor, never again by name, and
    // the file it names must be this user's (made exclusively where none is).
    std::string refused;
    fd = FIO_FILE_SYSTEM::open_through_own_link(log, flags | O_CREAT, 0644, &refused);
    if (fd < 0 && !refused.empty()) {
      *why = "it is " + (refused == "another user's file" ? "a link to another user's file" : refused);
      return -1;
    }
  }
  const int open_error = errno;
  std::string problem = fd >= 0 ? not_own_log(fd) : std::string();
  // Another user's log (a regular file of one name), which this user may
  // not write or does not own: a log of this run in its place, where no
  // other run may be writing it and the directory allows.
  struct stat st;
  const bool foreign = !own_link && (fd >= 0 ? problem == "it is another user's file"
                                             : (open_error == EACCES || open_error == EPERM) &&
                                                   ::lstat(log.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                                                   st.st_nlink == 1 && st.st_uid != ::geteuid());
  if (foreign) {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!replace_foreign) {
      *why = "it is another user's file, which another run may be writing";
      return -1;
    }
    if (::unlink(log.c_str()) != 0) {
      *why = std::string("it is another user's file, which cannot be replaced: ") + strerror(errno);
      return -1;
    }
    fd = ::open(log.c_str(), flags | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    if (fd < 0) {
      *why = std::string("it cannot be made: ") + strerror(errno);
      return -1;
    }
    problem.clear();
  }
  if (fd < 0) {
    *why = std::string("it cannot be opened: ") + strerror(open_error);
    return -1;
  }
  // Through the user's own link any regular file will do.
  if (own_link) {
    struct stat target;
    if (::fstat(fd, &target) != 0 || !S_ISREG(target.st_mode)) problem = "its link names no regular file";
    else problem.clear();
  }
  if (!problem.empty()) {
    ::close(fd);
    *why = problem;
    return -1;
  }
  if (::ftruncate(fd, 0) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    *why = std::string("it cannot be emptied: ") + strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// Starts the helper in a process group of its own (so a failure can end
// everything the helper started), with /dev/null as input and the log as
// output, as the library's own child (thr_start_own_child): a host that
// ignores SIGCHLD or reaps its children itself leaves its end to the
// library, and the kernel kills it when the thread that started it ends
// (the thread waits for its helper, so that happens only when the parent
// process ends). Returns the id of its keeper, which names its group
// (waited for and killed), with the helper's own id in *helper_pid (the
// name of its temporary files), or 0 (and *err) when it cannot start.
// Where the system refuses a process (a per-user process limit) while
// other helpers of this process run, the start waits for one of them to
// end and is tried again, until `deadline`: the helpers of a run then take
// turns within the limit.
pid_t start_child(const std::string& program, std::vector<char*>& args, const std::string& wd,
                  int log_fd, double deadline, int* err, pid_t* helper_pid) {
  THR_OWN_CHILD_START start;
  start.m_path = program.c_str();
  start.m_argv = args.data();
  start.m_out = log_fd;  // opened before, else no log rather than no run
  start.m_err = log_fd;
  start.m_dir = wd == "." ? nullptr : wd.c_str();
  {
    // Counted while it starts so a concurrent count never misses it.
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    ++g_starting;
  }
  for (int pause_ms = 5;; pause_ms = std::min(pause_ms * 2, 100)) {
    const pid_t pid = thr_start_own_child(start, helper_pid, err);
    {
      std::lock_guard<std::mutex> lock(g_ipc_mutex);
      // Another helper frees its processes when it ends: one that runs, or
      // one being started (not waiting as this one would).
      const bool others = !g_live.empty() || g_starting - g_waiting_to_start > 1;
      if (pid > 0 || *err != EAGAIN || !others || now_s() >= deadline) {
        --g_starting;
        if (pid > 0) g_live.insert(pid);
        return pid > 0 ? pid : 0;
      }
      ++g_waiting_to_start;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    --g_waiting_to_start;
  }
}

// Writes all of `data` to a non-blocking descriptor before the deadline.
// SIGPIPE is blocked around the write, and one raised by it is consumed, so
// a helper that closed its end cannot kill the parent: the write fails
// (EPIPE) instead. Returns "" or why it failed. Nothing is allocated while
// SIGPIPE is blocked: the reason's text, which may be refused memory
// (std::bad_alloc), is made once the caller's mask is back.
std::string write_all(int fd, const std::string& data, double deadline, double timeout_s) {
  sigset_t pipe_set, old;
  sigemptyset(&pipe_set);
  sigaddset(&pipe_set, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_set, &old);
  sigset_t pending;
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE);
  bool timed_out = false;
  int error = 0;
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = write(fd, data.data() + off, data.size() - off);
    if (n > 0) {
      off += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (now_s() >= deadline) {
        timed_out = true;
        break;
      }
      struct pollfd p = {fd, POLLOUT, 0};
      poll(&p, 1, 20);
      continue;
    }
    error = n < 0 ? errno : EIO;
    break;
  }
  if (!was_pending) {
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE)) {
      struct timespec zero = {0, 0};
      sigtimedwait(&pipe_set, nullptr, &zero);
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (timed_out) return timeout_text(timeout_s);
  if (error == EPIPE) return "the helper closed its download pipe (broken pipe)";
  if (error != 0) return std::string("cannot write to the helper: ") + strerror(error);
  return "";
}

void queue_message(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  if (g_messages.size() < kMaxQueuedMessages) g_messages.push_back(line);
  else ++g_dropped_messages;
}

// Lines from a byte stream. The scan for a newline resumes where the last
// one stopped, and consumed bytes are dropped in bulk, so reading a stream
// costs time linear in its length.
class LINE_BUFFER {
 public:
  void append(const char* data, size_t n) { m_buffer.append(data, n); }
  // The next complete line (without its newline), if there is one.
  bool next(std::string* line) {
    const size_t nl = m_buffer.find('\n', m_scanned);
    if (nl == std::string::npos) {
      m_scanned = m_buffer.size();
      return false;
    }
    line->assign(m_buffer, m_start, nl - m_start);
    m_start = m_scanned = nl + 1;
    if (m_start == m_buffer.size()) {
      m_buffer.clear();
      m_start = m_scanned = 0;
    } else if (m_start > 4096 && m_start > m_buffer.size() / 2) {
      m_buffer.erase(0, m_start);
      m_scanned -= m_start;
      m_start = 0;
    }
    return true;
  }
  // Bytes of the line not yet complete.
  size_t pending() const { return m_buffer.size() - m_start; }

 private:
  std::string m_buffer;
  size_t m_start = 0;    // first byte not yet returned
  size_t m_scanned = 0;  // bytes before this hold no newline after m_start
};

// Talks to one helper over its FIFO pair. Every answer has one deadline,
// set when the request is sent and checked on every turn of the loop,
// whatever arrives; "" means success, anything else is why it failed.
struct PIPE_SESSION {
  pid_t pid;
  int wfd = -1;
  int rfd = -1;
  LINE_BUFFER lines;
  bool heard = false;    // the helper has written to its upload pipe
  int exit_status = -2;  // raw status once the child was reaped (-2: not yet)
  double timeout_s;

  ~PIPE_SESSION() {
    if (wfd >= 0) close(wfd);
    if (rfd >= 0) close(rfd);
  }

  bool child_gone() {
    if (exit_status != -2) return true;
    int status = 0;
    const pid_t r = thr_wait_own_child(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno == ECHILD)) {  // ECHILD: its end taken by another wait
      exit_status = r == pid ? status : -1;
      forget_child(pid);
      return true;
    }
    return false;
  }

  // Waits a little for a helper whose upload pipe has no writer any more:
  // a helper that exits closes its pipes before the kernel lets it be
  // reaped, so end of file alone does not yet say whether it exited.
  bool child_gone_soon(double deadline) {
    if (child_gone()) return true;
    int status = 0;
    if (!wait_until(pid, std::min(deadline, now_s() + 2.0), &status)) return false;
    exit_status = status;
    return true;
  }

  // Why the helper is gone, in the user's words.
  std::string gone_text() const { return "the helper " + describe_status(exit_status) + " without answering"; }

  std::string open_pipes(const std::string& dl_path, const std::string& ul_path) {
    rfd = open(ul_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (rfd < 0) return "cannot open " + ul_path;
    const double end = now_s() + timeout_s;
    for (;;) {
      wfd = open(dl_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (wfd >= 0) return "";
      if (errno != ENXIO) return "cannot open " + dl_path;
      if (child_gone()) return "the helper " + describe_status(exit_status) + " before opening its pipes";
      if (now_s() > end) return timeout_text(timeout_s) + " waiting to open its pipes";
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  std::string send(const std::string& line, double deadline) {
    return write_all(wfd, line + "\n", deadline, timeout_s);
  }

  // Reads what the helper wrote after it was reaped, within the line bound.
  void drain() {
    char chunk[4096];
    ssize_t n;
    while (lines.pending() <= kMaxLineBytes && (n = read(rfd, chunk, sizeof chunk)) > 0) lines.append(chunk, size_t(n));
  }

  // The next line before the deadline; false with *why set otherwise.
  bool read_line(double deadline, std::string* line, std::string* why) {
    bool eof = false;
    char chunk[16384];
    for (;;) {
      if (lines.next(line)) return true;
      if (lines.pending() > kMaxLineBytes) {
        *why = "the helper gave a bad answer: a line longer than " + std::to_string(kMaxLineBytes) + " bytes";
        return false;
      }
      if (eof) {
        *why = gone_text();
        return false;
      }
      if (now_s() >= deadline) {
        *why = timeout_text(timeout_s);
        return false;
      }
      struct pollfd p = {rfd, POLLIN, 0};
      int r = poll(&p, 1, 20);
      if (r > 0) {
        ssize_t n = read(rfd, chunk, sizeof chunk);
        if (n > 0) {
          heard = true;
          lines.append(chunk, size_t(n));
          continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n < 0) {
          *why = std::string("cannot read from the helper: ") + strerror(errno);
          return false;
        }
        // No writer: the helper has not opened the pipe yet, has closed it,
        // or is gone. Once it has written, the pipe stays open until it
        // exits, so the exit status is waited for before judging.
        if (heard ? child_gone_soon(deadline) : child_gone()) {
          drain();
          eof = true;
        } else if (heard) {
          *why = "the helper closed its upload pipe without answering";
          return false;
        } else {
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        continue;
      }
      if (child_gone()) {
        drain();
        eof = true;
      }
    }
  }
};

// The first 80 bytes of a helper's line, fit to be shown: quotes,
// backslashes and bytes that are not printable ASCII (terminal escapes
// among them) are written as escapes.
std::string clip(const std::string& line) { return kavu_platform::msg_printable_text(line, 80, true); }

// Serves partitions to one started helper over its pipes; fills exit_code.
void serve_over_pipes(pid_t pid, const std::string& dl_path, const std::string& ul_path, const std::string& run,
                      THR_NAMED_PIPE** dl, int num_partitions, THR_PROCESS_EXIT_CODE* exit_code) {
  DISPATCH* d;
  {
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    d = &g_dispatch[dl];
    if (d->run_name != run) {  // left by another run at the same address
      *d = DISPATCH();
      d->run_name = run;
    }
  }
  auto take_partition = [&]() {
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    if (d->failed || d->next >= num_partitions) return -1;
    return d->next++;
  };
  PIPE_SESSION s;
  s.pid = pid;
  s.timeout_s = double(ipc_pipe_timeout_s(nullptr));
  std::string why = s.open_pipes(dl_path, ul_path);
  int current = -1;
  for (int k = why.empty() ? take_partition() : -1; k >= 0 && why.empty(); k = why.empty() ? take_partition() : -1) {
    current = k;
    const double deadline = now_s() + s.timeout_s;
    why = s.send("RUN " + std::to_string(k), deadline);
    std::string said;  // the helper's own reason for failing k ("MSG error k text")
    const std::string error_prefix = "MSG error " + std::to_string(k) + " ";
    while (why.empty()) {
      std::string line;
      if (!s.read_line(deadline, &line, &why)) break;
      if (line.compare(0, 4, "MSG ") == 0) {
        if (line.compare(0, error_prefix.size(), error_prefix) == 0) said = line.substr(error_prefix.size());
        queue_message(line.substr(4));
        continue;
      }
      int dk = -1, drc = -1;
      char extra = 0;
      if (sscanf(line.c_str(), "DONE %d %d %c", &dk, &drc, &extra) != 2 || dk != k) {
        why = "the helper gave a bad answer: \"" + clip(line) + "\"";
      } else if (drc != 0) {
        why = "the helper reported code " + std::to_string(drc) + (said.empty() ? "" : ": " + clip(said));
      } else {
        std::function<void(int)> listener;
        {
          std::lock_guard<std::mutex> lock(g_ipc_mutex);
          ++d->answered;
          listener = d->listener;
        }
        current = -1;
        if (listener) listener(k);
        break;
      }
    }
  }
  if (why.empty()) {
    // Every partition is served: tell the helper to leave and wait for it.
    const double deadline = now_s() + s.timeout_s;
    why = s.send("EXIT", deadline);
    close(s.wfd);
    s.wfd = -1;
    int status = 0;
    if (why.empty()) {
      if (s.child_gone() || wait_until(pid, deadline, &status)) {
        if (s.exit_status == -2) s.exit_status = status;
        // A helper that answered every partition it was given has answered:
        // an end whose status another wait took (-1) fails nothing.
        if (s.exit_status != 0 && s.exit_status != -1)
          why = "the helper " + describe_status(s.exit_status) + " after its last answer";
      } else {
        why = timeout_text(s.timeout_s) + " waiting to exit";
      }
    }
  }
  if (why.empty()) return;
  {
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    d->failed = true;
  }
  // The keeper of a helper that already exited ended what it left running.
  const int status = s.exit_status != -2 ? s.exit_status : kill_and_reap(pid);
  const int code = status == -1 ? -1 : status_to_code(status);
  exit_code->m_exit_code = code;
  exit_code->m_error = code != 0 ? code : -1;
  exit_code->m_reason = why;
  exit_code->m_partition = current;
}

}  // namespace

std::vector<std::string> ipc_take_helper_messages() {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  std::vector<std::string> out;
  out.swap(g_messages);
  if (g_dropped_messages) {
    out.push_back("info 0 " + std::to_string(g_dropped_messages) + " further helper messages were dropped");
    g_dropped_messages = 0;
  }
  return out;
}

int ipc_pipe_timeout_s(std::string* why) {
  const char* key = "parallel_pipe_timeout_s";
  const int seconds = cfg_get_int_value(key, 600);
  if (seconds > 0) return seconds;
  if (why)
    *why = std::string("the key \"") + key + "\" is " + std::to_string(seconds) +
           "; it must be a positive number of seconds";
  return 0;
}

int ipc_live_helper_count() {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  return int(g_live.size()) + g_starting;
}

int ipc_end_run(THR_NAMED_PIPE** dl) {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  auto it = g_dispatch.find(dl);
  if (it == g_dispatch.end()) return 0;
  const int answered = it->second.answered;
  g_dispatch.erase(it);
  return answered;
}

void ipc_set_answer_listener(THR_NAMED_PIPE** dl, std::function<void(int)> listener) {
  PLAT_CHECK(dl && dl[0], "THR");
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  DISPATCH& d = g_dispatch[dl];
  if (d.run_name != dl[0]->get_name()) {
    d = DISPATCH();
    d.run_name = dl[0]->get_name();
  }
  d.listener = std::move(listener);
}

int ipc_dispatch_count() {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  return int(g_dispatch.size());
}

namespace {
// A helper started by run_argv_with_named_pipe served over its pipes, or
// waited for (see there).
bool serve_or_wait(pid_t pid, int helper, bool use_pipes, THR_NAMED_PIPE** dl, THR_NAMED_PIPE** ul,
                   int num_partitions, double timeout_s, THR_PROCESS_EXIT_CODE* exit_code);

// No helper of the run of `dl` is given another partition.
void fail_run(THR_NAMED_PIPE** dl) {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  auto it = g_dispatch.find(dl);
  if (it != g_dispatch.end()) it->second.failed = true;
}
}  // namespace

bool IPC_COMMAND::run_with_named_pipe(const std::string& cmd, const char* dir, bool,
                                      THR_PROCESS_EXIT_CODE* exit_code, const char*, bool, bool use_pipes,
                                      THR_NAMED_PIPE** dl, THR_NAMED_PIPE** ul, int num_processes,
                                      int num_partitions) {
  std::vector<std::string> argv;
  size_t pos = 0;
  while (pos < cmd.size()) {
    size_t b = cmd.find(' ', pos);
    if (b == std::string::npos) b = cmd.size();
    if (b > pos) argv.push_back(cmd.substr(pos, b - pos));
    pos = b + 1;
  }
  return run_argv_with_named_pipe(argv, dir, exit_code, use_pipes, dl, ul, num_processes, num_partitions);
}

bool IPC_COMMAND::run_argv_with_named_pipe(const std::vector<std::string>& argv, const char* dir,
                                           THR_PROCESS_EXIT_CODE* exit_code, bool use_pipes,
                                           THR_NAMED_PIPE** dl, THR_NAMED_PIPE** ul, int num_processes,
                                           int num_partitions) {
  PLAT_CHECK(exit_code, "THR");
  *exit_code = THR_PROCESS_EXIT_CODE();
  if (argv.empty()) return false;
  const double timeout_s = double(ipc_pipe_timeout_s(&exit_code->m_reason));
  if (timeout_s <= 0) return false;
  const int helper = helper_number(argv);
  if (use_pipes) {
    PLAT_CHECK(dl && ul, "THR");
    PLAT_CHECK(helper >= 0 && helper < num_processes, "THR");
    PLAT_CHECK(dl[helper] && ul[helper], "THR");
  }
  std::string program = find_program(argv[0]);
  if (program.empty()) {
    exit_code->m_reason = "cannot find the program " + argv[0];
    return false;
  }
  std::string wd = (dir && *dir) ? dir : ".";
  std::string log = wd + "/helper_" + std::to_string(helper) + ".log";
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  // While the helper runs, an end signal removes the pipe directory too.
  const THR_PIPE_DIR_HOLD pipe_dir_hold(false);
  int err = 0;
  const int log_fd = open_helper_log(log, m_replace_foreign_log, &exit_code->m_log_problem);
  pid_t helper_pid = 0;
  const pid_t pid = start_child(program, args, wd, log_fd, now_s() + timeout_s, &err, &helper_pid);
  if (log_fd >= 0) ::close(log_fd);
  if (!pid) {
    // Memory refused for the start (the keeper's stacks) is refused as any
    // allocation of the run is.
    if (err == ENOMEM) throw std::bad_alloc();
    exit_code->m_reason = "cannot start " + program + ": " + thr_start_refusal_text(err);
    return false;
  }
  exit_code->m_pid = int(helper_pid);
  try {
    return serve_or_wait(pid, helper, use_pipes, dl, ul, num_partitions, timeout_s, exit_code);
  } catch (const std::bad_alloc&) {
    // Memory refused while the helper runs: it ends with its group, and
    // no other helper of the run is given a partition.
    if (use_pipes) fail_run(dl);
    kill_and_reap(pid);
    throw;
  }
}

namespace {
bool serve_or_wait(pid_t pid, int helper, bool use_pipes, THR_NAMED_PIPE** dl, THR_NAMED_PIPE** ul,
                   int num_partitions, double timeout_s, THR_PROCESS_EXIT_CODE* exit_code) {
  if (use_pipes) {
    serve_over_pipes(pid, dl[helper]->get_path(), ul[helper]->get_path(), dl[0] ? dl[0]->get_name() : "", dl,
                     num_partitions, exit_code);
    return true;
  }
  // One partition per helper: wait for its exit within the same timeout.
  int status = 0;
  if (!wait_until(pid, now_s() + timeout_s, &status)) {
    status = kill_and_reap(pid);
    exit_code->m_reason = timeout_text(timeout_s);
    exit_code->m_exit_code = status == -1 ? -1 : status_to_code(status);
    exit_code->m_error = exit_code->m_exit_code != 0 ? exit_code->m_exit_code : -1;
  } else {
    exit_code->m_exit_code = status == -1 ? -1 : status_to_code(status);
    exit_code->m_error = exit_code->m_exit_code;
    if (exit_code->m_error != 0) exit_code->m_reason = "the helper " + describe_status(status);
  }
  exit_code->m_partition = exit_code->m_error != 0 ? helper : -1;
  return true;
}
}  // namespace

// ---------------------------------------------------------------- test reset

void kavu_platform::thr_test_set_pipe_hook(THR_PIPE_HOOK hook) { g_pipe_hook.store(hook); }

void thr_ipc_test_reset() {
  kavu_platform::thr_test_refuse_threads_after(-1);
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  g_messages.clear();
  g_dropped_messages = 0;
  g_dispatch.clear();
}
