// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// sta_oracle.h — OpenSTA ("sta") as an outside timing oracle.
//
// sta_analyze writes the netlist as structural Verilog over a Liberty
// library of generic cells whose arc delays are those of the timing
// engine's delay model (one cell per distinct shape: inputs, outputs,
// delay; registers capture on their data, enable, synchronous clear and
// load pins with zero set-up and launch with zero clock-to-output delay,
// on the falling edge when their clock input is inverted; each input of a
// gate with its timing sense, or no arc where the function ignores it, as
// worked out here from the gate's truth table (the simulator's value
// rules), not taken from the engine, so that a wrong reading of the
// engine's differs from sta), writes the
// constraints as SDC, runs "<sta> -no_splash -exit script.tcl" in a
// private temporary directory and reads back the worst setup slack per
// clock (the path group of the capture clock; none for a clock sta does
// not know, such as one the constraints removed), the worst over all path
// groups and the setup slack of the chosen input terminals (that of an
// output port: of the paths that end at the port; of a gate's input: of
// the paths through it). Names are mapped to plain identifiers (ports
// p<k>, instances g<k>, nets n<k>); constraints name our ports by gate
// path, as the engine's own SDC does. With SDC text of the caller's own,
// ports keep their names and bus bits form Verilog buses.
// UNAVAILABLE: no "sta_binary" key and no sta in PATH, or the netlist holds
//   a kind the writer does not express (latches, bidirectional pins).
// ERROR: sta failed or its output was not understood: a figure missing or
//   not a number (STA_RESULT::unread says which; the log keeps the first
//   64 KiB and the last MiB of what sta printed). The figures and the first
//   error line are read from the lines as they come, wherever they stand.
// Cost: two file writes and one process.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "ssc/ssc.h"

class CDB_SGATE_NETLIST;
class CDB_SGATE_ITERM;
class CMP_FACADE;

namespace kavu_platform {

struct STA_CLOCK {
  std::string name;
  int period = 1000;
  std::string source;  // gate path of the input pin ("" for a virtual clock)
};

struct STA_IO_DELAY {
  bool input = true;
  std::string clock;
  int value = 0;
  std::vector<std::string> ports;  // gate paths; empty: every input (output) pin
};

struct STA_CONSTRAINTS {
  std::vector<STA_CLOCK> clocks;
  std::vector<STA_IO_DELAY> io_delays;
  // Clock pairs without timing (both directions).
  std::vector<std::pair<std::string, std::string>> false_clock_pairs;
  // When set, the SDC sta reads, as written; the ports then keep their own
  // names (the last level of the gate path; "a[3]" a bit of the bus "a"),
  // so that sta meets the names the engine's SDC reader meets. The fields
  // above then only name the clocks whose worst slack is read back.
  std::string sdc;
};

// The constraints as the engine reads them (ports named by gate path).
std::string sta_engine_sdc(const STA_CONSTRAINTS& c);

enum STA_STATUS { STA_OK, STA_UNAVAILABLE, STA_ERROR };

struct STA_RESULT {
  STA_STATUS status = STA_UNAVAILABLE;
  std::string log;
  // How sta ended, as oracle_run gives it: its exit status (128 + the
  // signal that ended it), ORACLE_TIMED_OUT, or -1 when it could not start;
  // -1 as well when it was not run.
  int exit_status = -1;
  int signal = 0;  // the signal that ended sta; 0 when it exited (an exit status of 137 is no signal)
  // sta reports a command that fails and goes on: the first line it
  // printed that begins with "Error", "" for none.
  std::string first_error;
  // Why the output of an sta that ended with status 0 is no answer (a
  // figure missing or not a number: "a figure is not a number: KAVU_WORST
  // z"); "" when it answered or did not end so.
  std::string unread;
  std::map<std::string, double> worst_per_clock;  // clocks with a constrained path
  double worst_all = 2147483647.0;                // over every path group; 2147483647 for none
  std::vector<double> pin_slacks;                 // by request; 2147483647 when unconstrained
};

// The sta binary as a full path, or "" when it is not installed.
std::string sta_binary_path();

// Writes cells.lib, top.v, top.sdc and run.tcl (the script sta_analyze runs)
// into `dir`; false with *why when the netlist cannot be expressed.
bool sta_write_inputs(const CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, SSC_DELAY_MODEL model,
                      const STA_CONSTRAINTS& constraints, const std::vector<const CDB_SGATE_ITERM*>& pins,
                      const std::string& dir, std::string* why);

STA_RESULT sta_analyze(const CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, SSC_DELAY_MODEL model,
                       const STA_CONSTRAINTS& constraints, const std::vector<const CDB_SGATE_ITERM*>& pins);

}  // namespace kavu_platform
