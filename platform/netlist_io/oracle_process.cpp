// oracle_process.cpp — see oracle_process.h.
#include "netlist_io/oracle_process.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cfg/cfg.h"

extern char** environ;

namespace kavu_platform {
namespace {

bool executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

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
  if (mkdtemp(templ.data())) m_path = templ;
}

ORACLE_TEMP_DIR::~ORACLE_TEMP_DIR() {
  std::error_code ec;
  if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
}

pid_t oracle_spawn_group(char* const* argv, const char* dir, const char* log_path) {
  // The log and a pipe that tells a failed exec are opened here, so the
  // child between fork and exec makes only system calls, which are safe
  // after a fork in a threaded process.
  const int log = open(log_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (log < 0) return -1;
  int failed[2];
  if (pipe2(failed, O_CLOEXEC) != 0) return close(log), -1;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // Outside the terminal's group the peer does not see Ctrl-C; it is
    // killed instead when the thread that started it ends, so an
    // interrupted caller takes its peer along (the peer's own children are
    // its group's, which oracle_end_group ends).
    const int in = open("/dev/null", O_RDONLY);
    if (setpgid(0, 0) == 0 && prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && getppid() == parent && in >= 0 &&
        dup2(in, 0) == 0 && dup2(log, 1) == 1 && dup2(log, 2) == 2 && (!dir || chdir(dir) == 0))
      execve(argv[0], argv, environ);
    const char byte = 1;
    (void)!write(failed[1], &byte, 1);
    _exit(127);
  }
  close(log);
  close(failed[1]);
  if (pid < 0) return close(failed[0]), -1;
  setpgid(pid, pid);  // the group exists before the caller may kill it
  char byte = 0;
  ssize_t got;
  while ((got = read(failed[0], &byte, 1)) < 0 && errno == EINTR) {
  }
  close(failed[0]);
  if (got == 1) {  // the program did not start: reap the child
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  return pid;
}

bool oracle_group_leader_ended(pid_t pid) {
  siginfo_t info{};
  if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
  return info.si_pid == pid;
}

int oracle_end_group(pid_t pid, struct rusage* usage) {
  // The child is waited for without being reaped: while it is a zombie its
  // id names its group and no other process, so the kill below reaches
  // only what it left running.
  siginfo_t info{};
  while (waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0)
    if (errno != EINTR) return -1;
  kill(-pid, SIGKILL);
  int status = 0;
  while (wait4(pid, &status, 0, usage) < 0)
    if (errno != EINTR) return -1;
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
      kill(-pid, SIGKILL);
      timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const int status = oracle_end_group(pid);
  if (timed_out) return ORACLE_TIMED_OUT;
  if (status < 0) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::string oracle_describe_end(int rc) {
  if (rc == ORACLE_TIMED_OUT) return "ran past its time limit";
  if (rc < 0) return "could not be started";
  if (rc <= 128) return "exited with status " + std::to_string(rc);
  std::string text = "was killed by signal " + std::to_string(rc - 128);
  if (const char* name = sigabbrev_np(rc - 128)) text += std::string(" (SIG") + name + ")";
  return text;
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
