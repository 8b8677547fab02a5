// yosys_oracle.cpp — yosys as an outside peer (see yosys_oracle.h).
//
// The process is started with posix_spawn in its own temporary directory
// (yosys may write files into its working directory), its output into a log
// file there, and watched until it ends or its time limit passes.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "cfg/cfg.h"
#include "netlist_io/yosys_oracle.h"

extern char** environ;

namespace kavu_platform {
namespace {

bool executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

int run_in(const std::string& binary, const std::string& script, const std::string& dir, const std::string& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (posix_spawn_file_actions_addchdir_np(&actions, dir.c_str()) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> argv = {binary, "-p", script};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  const int limit = cfg_get_int_value("yosys_timeout", 600);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, limit > 0 ? WNOHANG : 0);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return -1;
    if (done == 0 && std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return -1;
    }
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::string slurp(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace

std::string yosys_binary_path() {
  std::string name = cfg_get_value("yosys_binary");
  if (name.empty()) name = "yosys";
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (executable(full)) return full;
  }
  return std::string();
}

int yosys_run(const std::string& script, std::string* out) {
  const std::string binary = yosys_binary_path();
  if (binary.empty()) return -1;
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/kavu_yosys_XXXXXX";
  if (!mkdtemp(templ.data())) return -1;
  const std::string log = templ + "/yosys.log";
  const int rc = run_in(binary, script, templ, log);
  if (out) *out = slurp(log);
  std::error_code ec;
  std::filesystem::remove_all(templ, ec);
  return rc;
}

int yosys_merged_register_count(const std::string& blif_path, std::string* log) {
  std::string out;
  const std::string abs = std::filesystem::absolute(blif_path).string();
  if (yosys_binary_path().empty()) {
    if (log) *log = "yosys is not installed";
    return -1;
  }
  const int rc = yosys_run("read_blif -wideports " + abs + "; opt_merge -share_all; opt_clean; stat", &out);
  if (log) *log = out;
  if (rc != 0) return -1;
  // The cell table of the last "stat": lines "<cell type> <count>".
  const size_t table = out.rfind("Number of cells:");
  if (table == std::string::npos) return -1;
  std::istringstream lines(out.substr(table));
  std::string line;
  std::getline(lines, line);
  int registers = 0;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string type;
    long count = 0;
    if (!(words >> type >> count)) break;
    std::string lower = type;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (lower.find("dff") != std::string::npos) registers += int(count);
  }
  return registers;
}

}  // namespace kavu_platform
