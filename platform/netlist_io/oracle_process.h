// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// oracle_process.h — what the outside oracles (berkeley-abc, yosys, OpenSTA)
// share: finding the program, a private working directory, running it there
// under a time limit with its output in a log file, reading that log back.
// Tests and tools only; never linked into the library.
#pragma once

#include <string>
#include <vector>

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

// Returned by oracle_run when the program outlived its time limit.
constexpr int ORACLE_TIMED_OUT = -2;

// Runs argv (argv[0] a path; no shell) with `dir` as its working directory
// and its standard output and error into `log_path`. Returns the exit status
// (128 + the signal when one ended it), ORACLE_TIMED_OUT when it ran longer
// than `timeout_seconds` (it is killed; 0: no limit), or -1 when it cannot
// start.
int oracle_run(const std::vector<std::string>& argv, const std::string& dir, const std::string& log_path,
               int timeout_seconds);

// The whole text of a file; empty when it cannot be read.
std::string oracle_read_file(const std::string& path);

}  // namespace kavu_platform
