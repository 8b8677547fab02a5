// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// abc_oracle.h — berkeley-abc as an outside equivalence oracle.
//
// abc_equivalent writes both netlists as BLIF into a private temporary
// directory and runs "<abc> -c \"cec a.blif b.blif\"" (combinational) or
// "dsec" (when either netlist has registers), the binary taken from the key
// "abc_binary" (default "berkeley-abc", searched in PATH). The verdict line
// decides: "Networks are equivalent" or "NOT EQUIVALENT".
// UNAVAILABLE: no "abc_binary" key and no berkeley-abc in PATH, or a netlist
//   cannot be written as BLIF an outside tool reads the same way
//   (asynchronous controls, latches, unsupported kinds). ERROR: the key
//   "abc_binary" names no executable program, abc ran longer than the key
//   "abc_timeout" allows (seconds, at least 1, default 600; it is
//   killed), abc ended with a status other than 0 or by a signal (*log
//   begins with a line saying how: "berkeley-abc exited with status 3",
//   "berkeley-abc was killed by signal 9 (SIGKILL)"; an exit status of
//   137 is "exited with status 137"), or abc's output was not understood;
//   *log says which, followed by the last 20 lines abc printed (led by
//   how many bytes came before them, when more did); memory the system
//   refuses (never std::bad_alloc: "not enough memory to compare the
//   netlists with berkeley-abc", abc ended and its directory removed).
// Cost: two file writes and one process; abc's own time dominates.
#pragma once

#include <string>

class CDB_SGATE_NETLIST;

namespace kavu_platform {

enum ABC_RESULT { EQUIVALENT, DIFFERENT, UNAVAILABLE, ERROR };

ABC_RESULT abc_equivalent(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b,
                          std::string* log = nullptr);

// The abc binary as a full path, or "" when it is not installed.
std::string abc_binary_path();

// Runs abc with one command string (its -c argument) in a temporary
// directory of its own, removed afterwards (files named in the commands need
// absolute paths); returns its exit status (-1 when it cannot start) with its
// standard output and error in *out, as ORACLE_OUTPUT::text keeps them (the
// first 64 KiB and the last MiB of an output longer than that).
int abc_run(const std::string& commands, std::string* out);

// "EQUIVALENT", "DIFFERENT", … for messages.
const char* abc_result_name(ABC_RESULT r);

}  // namespace kavu_platform
