// thr_ipc.cpp — jobs, named pipes and helper processes (see thr_ipc.h).
#include "thr/thr_ipc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
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

#include "cfg/cfg.h"
#include "msg/msg.h"

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
  std::vector<void*> tasks;
  tasks.swap(m_tasks);
  std::atomic<size_t> next{0};
  auto worker = [&]() {
    for (size_t i = next++; i < tasks.size(); i = next++) m_fn(tasks[i]);
  };
  size_t n = std::min<size_t>(size_t(m_threads), tasks.size());
  if (n <= 1) {
    worker();
    return;
  }
  std::vector<std::thread> pool;
  for (size_t t = 0; t < n; ++t) pool.emplace_back(worker);
  for (auto& th : pool) th.join();
}

// ---------------------------------------------------------------- pipes

namespace {

std::mutex g_pipe_dir_mutex;
std::string g_pipe_dir;
bool g_atexit_registered = false;

void remove_pipe_dir_at_exit() { thr_remove_pipe_dir(); }

char random_name_char(std::mt19937& gen) {
  static const char chars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  return chars[gen() % (sizeof(chars) - 1)];
}

std::mt19937& name_generator() {
  thread_local std::mt19937 gen(std::random_device{}() ^ unsigned(getpid()) ^
                                unsigned(std::hash<std::thread::id>{}(std::this_thread::get_id())));
  return gen;
}

bool ends_with_template(const std::string& s) {
  return s.size() >= 6 && s.compare(s.size() - 6, 6, "XXXXXX") == 0;
}

}  // namespace

const std::string& thr_get_pipe_dir() {
  std::lock_guard<std::mutex> lock(g_pipe_dir_mutex);
  if (g_pipe_dir.empty()) {
    const char* tmp = getenv("TMPDIR");
    std::string base = (tmp && *tmp) ? tmp : "/tmp";
    std::string templ = base + "/kavu_pipes_XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) {  // mkdtemp makes the directory 0700
      g_pipe_dir = buf.data();
      if (!g_atexit_registered) {
        g_atexit_registered = true;
        atexit(remove_pipe_dir_at_exit);
      }
    }
  }
  return g_pipe_dir;
}

void thr_remove_pipe_dir() {
  std::lock_guard<std::mutex> lock(g_pipe_dir_mutex);
  if (g_pipe_dir.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(g_pipe_dir, ec);
  g_pipe_dir.clear();
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
    return false;
  }
  const bool templ = ends_with_template(m_name);
  std::string base = templ ? m_name.substr(0, m_name.size() - 6) : m_name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = base;
    if (templ)
      for (int i = 0; i < 6; ++i) name += random_name_char(name_generator());
    std::string path = dir + "/" + name;
    if (mkfifo(path.c_str(), 0600) == 0) {
      m_name = name;
      m_created = true;
      m_error = 0;
      return true;
    }
    m_error = errno;
    if (errno != EEXIST || !templ) return false;
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
std::set<pid_t> g_live;

// One dispatcher per run, keyed by the run's download-pipe array: the next
// partition to hand out and whether the run has failed.
struct DISPATCH {
  int next = 0;
  int finished = 0;  // helpers of the run done with it; at num_processes it goes
  bool failed = false;
};
std::map<THR_NAMED_PIPE**, DISPATCH> g_dispatch;

int helper_number(const std::vector<std::string>& argv) {
  for (const std::string& a : argv)
    if (a.compare(0, 9, "--helper=") == 0) return atoi(a.c_str() + 9);
  return 0;
}

std::string find_program(const std::string& prog) {
  if (prog.find('/') != std::string::npos) return prog;
  const char* dir = cfg_get_value("helper_binary_dir");
  if (*dir) {
    std::string p = std::string(dir) + "/" + prog;
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

void forget_child(pid_t pid) {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  g_live.erase(pid);
}

// Kills the child when still running and reaps it; returns its code.
int kill_and_reap(pid_t pid) {
  int status = 0;
  pid_t r = waitpid(pid, &status, WNOHANG);
  if (r == 0) {
    kill(pid, SIGKILL);
    r = waitpid(pid, &status, 0);
  }
  forget_child(pid);
  return r == pid ? status_to_code(status) : -1;
}

double now_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Talks to one helper over its FIFO pair. Returns "" on success, else why.
struct PIPE_SESSION {
  pid_t pid;
  int wfd = -1;
  int rfd = -1;
  std::string buffer;
  int exit_status = -1;  // set when the child was seen to exit
  double timeout_s;

  ~PIPE_SESSION() {
    if (wfd >= 0) close(wfd);
    if (rfd >= 0) close(rfd);
  }

  bool child_gone() {
    if (exit_status >= 0) return true;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      exit_status = status_to_code(status);
      forget_child(pid);
      return true;
    }
    return false;
  }

  std::string open_pipes(const std::string& dl_path, const std::string& ul_path) {
    rfd = open(ul_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (rfd < 0) return "cannot open " + ul_path;
    double end = now_s() + timeout_s;
    for (;;) {
      wfd = open(dl_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (wfd >= 0) break;
      if (errno != ENXIO) return "cannot open " + dl_path;
      if (child_gone()) return "helper exited before opening its pipe";
      if (now_s() > end) return "timeout";
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Writes block (the helper reads promptly); reads stay non-blocking.
    fcntl(wfd, F_SETFL, fcntl(wfd, F_GETFL) & ~O_NONBLOCK);
    return "";
  }

  bool send(const std::string& line) {
    std::string s = line + "\n";
    size_t off = 0;
    while (off < s.size()) {
      ssize_t n = write(wfd, s.data() + off, s.size() - off);
      if (n < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      off += size_t(n);
    }
    return true;
  }

  // The next line from the helper; "" with *why set on EOF, death, timeout.
  bool read_line(std::string* line, std::string* why) {
    double end = now_s() + timeout_s;
    bool eof = false;
    for (;;) {
      size_t nl = buffer.find('\n');
      if (nl != std::string::npos) {
        *line = buffer.substr(0, nl);
        buffer.erase(0, nl + 1);
        return true;
      }
      if (eof) {
        *why = "EOF";
        return false;
      }
      struct pollfd p = {rfd, POLLIN, 0};
      int r = poll(&p, 1, 20);
      if (r > 0) {
        char chunk[4096];
        ssize_t n = read(rfd, chunk, sizeof chunk);
        if (n > 0) {
          buffer.append(chunk, size_t(n));
          continue;
        }
        if (n == 0) {
          // No writer: either the helper has not opened yet or it is gone.
          if (child_gone()) eof = true;
          else std::this_thread::sleep_for(std::chrono::milliseconds(2));
          continue;
        }
        if (errno != EAGAIN && errno != EINTR) eof = true;
        continue;
      }
      if (child_gone()) {
        // Drain what it wrote before it went.
        char chunk[4096];
        ssize_t n;
        while ((n = read(rfd, chunk, sizeof chunk)) > 0) buffer.append(chunk, size_t(n));
        eof = true;
        continue;
      }
      if (now_s() > end) {
        *why = "timeout";
        return false;
      }
    }
  }
};

}  // namespace

std::vector<std::string> ipc_take_helper_messages() {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  std::vector<std::string> out;
  out.swap(g_messages);
  return out;
}

int ipc_live_helper_count() {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  return int(g_live.size());
}

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
  std::string program = find_program(argv[0]);
  if (program.empty()) return false;
  const int helper = helper_number(argv);
  if (use_pipes) {
    PLAT_CHECK(dl && ul, "THR");
    PLAT_CHECK(helper >= 0 && helper < num_processes, "THR");
    PLAT_CHECK(dl[helper] && ul[helper], "THR");
  }
  std::string wd = (dir && *dir) ? dir : ".";
  std::string log = wd + "/helper_" + std::to_string(helper) + ".log";

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  if (wd != ".") posix_spawn_file_actions_addchdir_np(&fa, wd.c_str());
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc;
  {
    // Registered under the lock so a concurrent count never misses it.
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    rc = posix_spawn(&pid, program.c_str(), &fa, nullptr, args.data(), environ);
    if (rc == 0) g_live.insert(pid);
  }
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return false;

  if (!use_pipes) {
    int status = 0;
    pid_t r;
    do r = waitpid(pid, &status, 0);
    while (r < 0 && errno == EINTR);
    forget_child(pid);
    exit_code->m_exit_code = r == pid ? status_to_code(status) : -1;
    exit_code->m_error = exit_code->m_exit_code;
    return true;
  }

  DISPATCH* d;
  {
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    d = &g_dispatch[dl];
  }
  auto take_partition = [&]() {
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    if (d->failed || d->next >= num_partitions) return -1;
    return d->next++;
  };
  auto fail_run = [&]() {
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    d->failed = true;
  };

  std::string why;
  {
    PIPE_SESSION s;
    s.pid = pid;
    s.timeout_s = double(cfg_get_int_value("parallel_pipe_timeout_s", 600));
    why = s.open_pipes(dl[helper]->get_path(), ul[helper]->get_path());
    for (int k = why.empty() ? take_partition() : -1; k >= 0; k = take_partition()) {
      if (!s.send("RUN " + std::to_string(k))) {
        why = "cannot write to the helper";
        break;
      }
      bool done = false;
      while (!done && why.empty()) {
        std::string line;
        if (!s.read_line(&line, &why)) break;
        if (line.compare(0, 4, "MSG ") == 0) {
          std::lock_guard<std::mutex> lock(g_ipc_mutex);
          g_messages.push_back(line.substr(4));
          continue;
        }
        int dk = -1, drc = -1;
        if (sscanf(line.c_str(), "DONE %d %d", &dk, &drc) == 2 && dk == k) {
          if (drc != 0) why = "helper reported " + std::to_string(drc) + " for partition " + std::to_string(k);
          done = true;
        } else {
          why = "unexpected line from helper: " + line;
        }
      }
      if (!why.empty()) break;
    }
    if (why.empty()) {
      s.send("EXIT");
      close(s.wfd);
      s.wfd = -1;
      // Wait for the helper to leave, within the timeout.
      double end = now_s() + s.timeout_s;
      while (!s.child_gone() && now_s() < end) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      if (s.exit_status < 0) why = "timeout";
      else if (s.exit_status != 0) why = "exit";
      exit_code->m_exit_code = s.exit_status;
    }
    if (!why.empty()) {
      fail_run();
      int code = s.exit_status >= 0 ? s.exit_status : kill_and_reap(pid);
      exit_code->m_exit_code = code;
      exit_code->m_error = code != 0 ? code : -1;
      exit_code->m_reason = why;
    }
  }
  {
    std::lock_guard<std::mutex> lock(g_ipc_mutex);
    if (++d->finished >= num_processes) g_dispatch.erase(dl);
  }
  return true;
}

// ---------------------------------------------------------------- test reset

void thr_ipc_test_reset() {
  std::lock_guard<std::mutex> lock(g_ipc_mutex);
  g_messages.clear();
  g_dispatch.clear();
}
