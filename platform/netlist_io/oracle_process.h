// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// oracle_process.h — what the outside oracles (berkeley-abc, yosys, OpenSTA)
// share: finding the program, a private working directory, running it there
// under a time limit with a bounded part of its output kept, ending it with
// everything it started (also when the caller is told to end).
// Tests and tools only; never linked into the library.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct rusage;

namespace kavu_platform {

// The program the configuration key `key` names (a path, or a name searched
// in PATH), `fallback` when the key is unset; empty when it is not an
// executable program.
std::string oracle_find_program(const char* key, const char* fallback);

// A private directory under TMPDIR (or /tmp), named from `stem`, as an
// absolute path, removed with everything in it when the object goes, and
// with the files in it when an end signal ends the process
// (thr_end_signal.h); the path is empty when it could not be made.
class ORACLE_TEMP_DIR {
 public:
  explicit ORACLE_TEMP_DIR(const char* stem);
  ~ORACLE_TEMP_DIR();
  ORACLE_TEMP_DIR(const ORACLE_TEMP_DIR&) = delete;
  ORACLE_TEMP_DIR& operator=(const ORACLE_TEMP_DIR&) = delete;
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
  int m_on_end = -1;  // the action that removes the directory on an end signal
};

// Starts argv (argv[0] a path; null-terminated; no shell) in a process
// group of its own, with `dir` as its working directory (null: the
// caller's), standard input from /dev/null (a peer waiting for a terminal
// would wait for ever, or stop, outside the terminal's group) and standard
// output and error into `log_path`. The group is what oracle_end_group
// ends: the peer and every process it started (a script's commands, the
// abc yosys runs); being a group of its own, the peer cannot signal its
// caller's group either (a script's "kill 0"). Outside the terminal's group
// the peer does not see Ctrl-C: until oracle_end_group the caller's SIGINT,
// SIGTERM, SIGHUP and SIGQUIT end the whole group before they end the
// caller (thr_end_signal.h), and the peer is killed by the kernel when the
// thread that started it ends (SIGKILL to the caller leaves its children).
// The child is the library's own (thr_start_own_child, thr/thr.h): a host
// that ignores SIGCHLD or reaps every child itself leaves its end to
// oracle_end_group. Returns the id of the child's keeper, which names the
// child's group and is what the other calls here take, or -1 (errno).
pid_t oracle_spawn_group(char* const* argv, const char* dir, const char* log_path);

// The same with standard output and error into the descriptor `output`
// (the caller keeps it open; the child gets a copy).
pid_t oracle_spawn_group(char* const* argv, const char* dir, int output);

// True once the child `pid` of oracle_spawn_group has ended (it is left
// unreaped, so its group's id stays its own) or cannot be waited for
// (oracle_end_group then says so); false while it runs.
bool oracle_group_leader_ended(pid_t pid);

// Waits for the child `pid` of oracle_spawn_group to end (a caller that
// cannot wait kills the group first: kill(-pid, SIGKILL)), then kills
// what is left in its group and reaps the child, with its rusage in *usage
// when given. Returns the wait status, ORACLE_END_TAKEN when a wait of the
// host's that takes every kind of child took it, or -1 when it cannot be
// waited for.
// A signal handler may kill the group while this waits (the launcher's
// time limit): the wait goes on. Every child of oracle_spawn_group is ended
// here.
int oracle_end_group(pid_t pid, struct rusage* usage = nullptr);

// Returned by oracle_run when the program outlived its time limit.
constexpr int ORACLE_TIMED_OUT = -2;
// The program ended and another wait in this process took its exit status.
constexpr int ORACLE_END_TAKEN = -3;

// Runs argv (argv[0] a path; no shell) with `dir` as its working directory
// and its standard output and error into `log_path`, in a process group of
// its own (oracle_spawn_group); the group is ended when the program ends,
// so nothing it started outlives it. Returns the exit status (128 + the
// signal when one ended it), ORACLE_TIMED_OUT when it ran longer than
// `timeout_seconds` (it is killed with its group; 0: no limit), or -1 when
// it cannot start. The log holds all the program printed: oracle_run_peer
// keeps a bounded part of it instead.
int oracle_run(const std::vector<std::string>& argv, const std::string& dir, const std::string& log_path,
               int timeout_seconds);

// What a peer printed, kept within bounds however much it prints (a
// verbose run may print gigabytes): its first HEAD_BYTES and its last
// TAIL_BYTES, each cut to whole lines, and how many bytes lay between.
// on_line, when set, sees every line as it arrives (its first
// LINE_BYTES; without the newline), so a line the caller looks for is found
// wherever it stands.
class ORACLE_OUTPUT {
 public:
  static constexpr size_t HEAD_BYTES = 64 * 1024;
  static constexpr size_t TAIL_BYTES = 1024 * 1024;
  static constexpr size_t LINE_BYTES = 64 * 1024;

  std::function<void(std::string_view line)> on_line;

  void append(const char* data, size_t n);
  // Ends the last line when it lacks its newline (once the peer ended).
  void finish();
  // The head, then "[... N bytes left out ...]" when bytes were, then the
  // tail: all the peer printed when that fits.
  std::string text() const;
  // The last `lines` lines printed (fewer when the tail holds fewer), led by
  // "[... N bytes before left out ...]" when there were more: a quote for a
  // message.
  std::string last_lines(size_t lines) const;
  uint64_t bytes() const { return m_bytes; }

 private:
  std::string m_head;
  std::string m_tail;  // the last bytes, at most 2 * TAIL_BYTES before trimming
  std::string m_line;  // the line being read, at most LINE_BYTES
  uint64_t m_bytes = 0;
  bool m_line_open = false;  // bytes of a line without its newline yet
};

// How a peer's run ended.
struct ORACLE_END {
  // The exit status, or 128 + the signal that ended the program (as a
  // shell tells it); ORACLE_TIMED_OUT; ORACLE_END_TAKEN; -1 when it could
  // not start.
  int status = -1;
  int signal = 0;  // the signal that ended it; 0 when it exited
  bool succeeded() const { return status == 0 && signal == 0; }
};

// Runs argv (argv[0] a path; no shell) in `dir` (empty: the caller's) in a
// process group of its own (oracle_spawn_group), its standard output and
// error read through a pipe into *output as the program prints them, killed
// with its group past `timeout_seconds` (0: no limit); the group is ended
// when the program ends, with the program's rusage in *usage when given.
ORACLE_END oracle_run_peer(const std::vector<std::string>& argv, const std::string& dir, int timeout_seconds,
                           ORACLE_OUTPUT* output, struct rusage* usage = nullptr);

// How a run that oracle_run reports as `rc` (not 0) ended, in words to
// follow the program's name: "exited with status 3", "was killed by signal
// 9 (SIGKILL)", "ran past its time limit", "ended, but another wait in this
// process took its exit status", "could not be started". A status
// above 128 is told as the signal a shell would mean by it; the ORACLE_END
// form tells an exit status of 137 from SIGKILL.
std::string oracle_describe_end(int rc);
std::string oracle_describe_end(const ORACLE_END& end);

// The whole text of a file; empty when it cannot be read.
std::string oracle_read_file(const std::string& path);

}  // namespace kavu_platform
