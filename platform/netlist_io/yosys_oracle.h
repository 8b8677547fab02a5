// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// yosys_oracle.h — yosys as an outside peer for tests and benchmarks.
//
// yosys_run runs "<yosys> -p <script>" in a private temporary directory
// (removed afterwards), the binary taken from the key "yosys_binary"
// (default "yosys", searched in PATH), with the time limit of the key
// "yosys_timeout" (seconds, at least 1, default 600; the process is killed).
// yosys_merged_register_count reads a BLIF file with "read_blif -wideports",
// merges identical cells ("opt_merge -share_all; opt_clean") and counts the
// flip-flop cells that "stat" lists (every cell type whose name holds "dff",
// in any case).
// Nothing goes through a shell. Unavailable (no binary) is a result, not an
// error: tests skip and say so.
// Cost: one process; yosys's own time dominates.
#pragma once

#include <string>

namespace kavu_platform {

// The yosys binary as a full path, or "" when it is not installed.
std::string yosys_binary_path();

// Exit status (-1 when it cannot start or ran out of time; *timed_out, when
// given, tells the second) with standard output and error in *out, as
// ORACLE_OUTPUT::text keeps them (the first 64 KiB and the last MiB of an
// output longer than that). Files named in the script need absolute paths.
int yosys_run(const std::string& script, std::string* out, bool* timed_out = nullptr);

// The number of registers yosys keeps after merging, or -1 (yosys absent or
// failed; *log says why).
int yosys_merged_register_count(const std::string& blif_path, std::string* log = nullptr);

}  // namespace kavu_platform
