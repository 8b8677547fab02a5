// oracle_process.cpp — see oracle_process.h.
#include "netlist_io/oracle_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

int oracle_run(const std::vector<std::string>& argv, const std::string& dir, const std::string& log_path,
               int timeout_seconds) {
  if (argv.empty()) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (posix_spawn_file_actions_addchdir_np(&actions, dir.c_str()) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, timeout_seconds > 0 ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (done == 0 && std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return ORACLE_TIMED_OUT;
    }
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
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
