// abc_oracle.cpp — berkeley-abc as an outside equivalence oracle (see
// abc_oracle.h).
//
// The binary is found once per call: the key "abc_binary" (a path, or a name
// searched in PATH), default "berkeley-abc". Every run gets its own temporary
// directory (mkdtemp under TMPDIR, removed with its contents on every way out)
// and abc runs through posix_spawn with that directory as its working
// directory, because some of its commands leave files there (cell libraries
// such as "aiglib12.aig"); its standard output and error go to a file of the
// same directory, and nothing passes through a shell. abc treats registers
// without an initial value as 0, as the simulator does; it treats BLIF
// latches ("ah"/"al") as flip-flops, so netlists with latches are UNAVAILABLE
// rather than wrongly compared.
// Cost: one process; abc's own time dominates.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"

extern char** environ;

namespace kavu_platform {
namespace {

bool executable(const std::string& path) { return !path.empty() && access(path.c_str(), X_OK) == 0; }

constexpr int TIMED_OUT = -2;

// Seconds abc may run before it is killed (key "abc_timeout"; 0: no limit).
int abc_timeout_seconds() { return cfg_get_int_value("abc_timeout", 600); }

// Runs argv in the directory `dir` with stdout and stderr into `log_path`;
// the exit status, TIMED_OUT when it ran longer than the time limit (it is
// killed), or -1 when it cannot start.
int spawn_and_wait(const std::vector<std::string>& argv, const std::string& dir,
                   const std::string& log_path) {
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
  int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  const int limit = abc_timeout_seconds();
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
      return TIMED_OUT;
    }
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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

// A private directory (an absolute path, so that it stays valid in abc's
// working directory), removed with everything in it when the object goes.
class TEMP_DIR {
 public:
  TEMP_DIR() {
    const char* base = std::getenv("TMPDIR");
    std::error_code ec;
    std::filesystem::path root = std::filesystem::absolute(base && *base ? base : "/tmp", ec);
    if (ec) return;
    std::string templ = (root / "kavu_abc_XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) m_path = buf.data();
  }
  ~TEMP_DIR() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

bool has_kind(const CDB_SGATE_NETLIST* n, bool registers) {
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    if (!registers && g->get_sgate_type() == CDB_SGATE_LATCH_ENUM) return true;
    if (registers && g->get_reg_flags()) return true;
  }
  return false;
}

}  // namespace

std::string abc_binary_path() {
  std::string name = cfg_get_value("abc_binary");
  if (name.empty()) name = "berkeley-abc";
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (executable(full)) return full;
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return std::string();
}

int abc_run(const std::string& commands, std::string* out) {
  std::string binary = abc_binary_path();
  if (binary.empty()) return -1;
  TEMP_DIR dir;
  if (dir.path().empty()) return -1;
  std::string log = dir.path() + "/abc.log";
  int rc = spawn_and_wait({binary, "-c", commands}, dir.path(), log);
  if (out) *out = slurp(log);
  return rc;
}

const char* abc_result_name(ABC_RESULT r) {
  switch (r) {
    case EQUIVALENT: return "EQUIVALENT";
    case DIFFERENT: return "DIFFERENT";
    case UNAVAILABLE: return "UNAVAILABLE";
    case ERROR: return "ERROR";
  }
  return "?";
}

ABC_RESULT abc_equivalent(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b, std::string* log) {
  PLAT_CHECK(a != nullptr && b != nullptr, "PLATFORM");
  std::string local;
  std::string& text = log ? *log : local;
  text.clear();
  std::string binary = abc_binary_path();
  if (binary.empty()) {
    // A binary the caller named but that cannot run is a broken set-up, not
    // a missing optional tool: the check must not pass silently.
    const std::string named = cfg_get_value("abc_binary");
    text = named.empty() ? "berkeley-abc is not installed (key abc_binary)"
                         : "the key abc_binary names '" + named + "', which is not an executable program";
    return named.empty() ? UNAVAILABLE : ERROR;
  }
  if (has_kind(a, false) || has_kind(b, false)) {
    text = "latches: berkeley-abc reads them as flip-flops";
    return UNAVAILABLE;
  }
  TEMP_DIR dir;
  if (dir.path().empty()) {
    text = "cannot make a temporary directory";
    return ERROR;
  }
  std::string fa = dir.path() + "/a.blif", fb = dir.path() + "/b.blif", why;
  BLIF_WRITE_OPTIONS opts;
  opts.model_name = "kavu";
  if (!blif_write_file(a, fa, opts, &why) || !blif_write_file(b, fb, opts, &why)) {
    text = why;
    return UNAVAILABLE;
  }
  bool sequential = has_kind(a, true) || has_kind(b, true);
  // abc runs in the directory, so the files go by their plain names: abc
  // splits its command at blanks, which a TMPDIR may contain.
  std::string command = std::string(sequential ? "dsec " : "cec ") + "a.blif b.blif";
  int rc = spawn_and_wait({binary, "-c", command}, dir.path(), dir.path() + "/abc.log");
  text = slurp(dir.path() + "/abc.log");
  if (rc == TIMED_OUT) {
    text = "berkeley-abc took longer than " + std::to_string(abc_timeout_seconds()) + " s (key abc_timeout)\n" + text;
    return ERROR;
  }
  if (rc != 0) return ERROR;
  if (text.find("NOT EQUIVALENT") != std::string::npos) return DIFFERENT;
  if (text.find("Networks are equivalent") != std::string::npos) return EQUIVALENT;
  return ERROR;
}

}  // namespace kavu_platform
