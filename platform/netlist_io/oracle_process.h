// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// oracle_process.h — what the outside oracles (berkeley-abc, yosys, OpenSTA)
// share: finding the program, a private working directory, running it there
// under a time limit with its output in a log file, reading that log back.
// Tests and tools only; never linked into the library.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct rusage;

namespace kavu_platform {

// The program the configuration key `key` names (a path, or a name searched
// in PATH), `fallback` when the key is unset; empty when it is not an
// executable program.
std::string oracle_find_program(const char* key, const char* fallback);

// A private directory under TMPDIR (or /tmp), named from `stem`, as an
// absolute path, removed with everything in it when the object goes; the
// path is empty when it could not be made.
class ORACLE_TEMP_DIR {
 public:
  explicit ORACLE_TEMP_DIR(const char* stem);
  ~ORACLE_TEMP_DIR();
  ORACLE_TEMP_DIR(const ORACLE_TEMP_DIR&) = delete;
  ORACLE_TEMP_DIR& operator=(const ORACLE_TEMP_DIR&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

// Starts argv (argv[0] a path; null-terminated; no shell) in a process
// group of its own, with `dir` as its working directory (null: the
// caller's), standard input from /dev/null (a peer waiting for a terminal
// would wait for ever, or stop, outside the terminal's group) and standard
// output and error into `log_path`. The child is killed when the calling
// thread ends (an interrupted caller takes its peer along). The group is what oracle_end_group
// ends: the peer and every process it started (a script's commands, the
// abc yosys runs). Returns the child's id, which is its group's, or -1.
pid_t oracle_spawn_group(char* const* argv, const char* dir, const char* log_path);

// True once the child `pid` of oracle_spawn_group has ended (it is left
// unreaped, so its group's id stays its own) or cannot be waited for
// (oracle_end_group then says so); false while it runs.
bool oracle_group_leader_ended(pid_t pid);

// Waits for the child `pid` of oracle_spawn_group to end (a caller that
// cannot wait kills the group first: kill(-pid, SIGKILL)), then kills
// what is left in its group and reaps the child, with its rusage in *usage
// when given. Returns the wait status, or -1 when it cannot be waited for.
// A signal handler may kill the group while this waits (the launcher's
// time limit): the wait goes on.
int oracle_end_group(pid_t pid, struct rusage* usage = nullptr);

// Returned by oracle_run when the program outlived its time limit.
constexpr int ORACLE_TIMED_OUT = -2;

// Runs argv (argv[0] a path; no shell) with `dir` as its working directory
// and its standard output and error into `log_path`, in a process group of
// its own (oracle_spawn_group); the group is ended when the program ends,
// so nothing it started outlives it. Returns the exit status (128 + the
// signal when one ended it), ORACLE_TIMED_OUT when it ran longer than
// `timeout_seconds` (it is killed with its group; 0: no limit), or -1 when
// it cannot start.
int oracle_run(const std::vector<std::string>& argv, const std::string& dir, const std::string& log_path,
               int timeout_seconds);

// How a run that oracle_run reports as `rc` (not 0) ended, in words to
// follow the program's name: "exited with status 3", "was killed by signal
// 9 (SIGKILL)", "ran past its time limit", "could not be started".
std::string oracle_describe_end(int rc);

// The whole text of a file; empty when it cannot be read.
std::string oracle_read_file(const std::string& path);

}  // namespace kavu_platform
