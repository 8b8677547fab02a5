// abc_oracle.cpp — berkeley-abc as an outside equivalence oracle (see
// abc_oracle.h).
//
// The binary is found once per call: the key "abc_binary" (a path, or a name
// searched in PATH), default "berkeley-abc". Every run gets its own temporary
// directory (mkdtemp under TMPDIR, removed with its contents on every way out)
// and abc runs in a process group of its own (oracle_run) with that directory as its working
// directory, because some of its commands leave files there (cell libraries
// such as "aiglib12.aig"); its standard output and error are read through a
// pipe, keeping a bounded part (oracle_run_peer), and nothing passes
// through a shell. abc treats registers
// without an initial value as 0, as the simulator does; it treats BLIF
// latches ("ah"/"al") as flip-flops, so netlists with latches are UNAVAILABLE
// rather than wrongly compared.
// Cost: one process; abc's own time dominates.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"
#include "netlist_io/netlist_io_int.h"
#include "netlist_io/oracle_process.h"

namespace kavu_platform {
namespace {

// The lines of abc's output a log quotes (abc may print without end).
constexpr size_t ABC_QUOTED_LINES = 20;

// Seconds abc may run before it is killed (key "abc_timeout").
int abc_timeout_seconds() { return cfg_get_int_value("abc_timeout", 600); }

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

std::string abc_binary_path() { return oracle_find_program("abc_binary", "berkeley-abc"); }

int abc_run(const std::string& commands, std::string* out) {
  std::string binary = abc_binary_path();
  if (binary.empty()) return -1;
  ORACLE_TEMP_DIR dir("kavu_abc");
  if (dir.path().empty()) return -1;
  ORACLE_OUTPUT output;
  const ORACLE_END end = oracle_run_peer({binary, "-c", commands}, dir.path(), abc_timeout_seconds(), &output);
  if (out) *out = output.text();
  return end.status;
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

namespace {

ABC_RESULT compare_with_abc(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b, std::string* log) {
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
  ORACLE_TEMP_DIR dir("kavu_abc");
  if (dir.path().empty()) {
    text = "cannot make a temporary directory";
    return ERROR;
  }
  std::string fa = dir.path() + "/a.blif", fb = dir.path() + "/b.blif", why;
  BLIF_WRITE_OPTIONS opts;
  opts.model_name = "kavu";
  // Memory refused while a file is written is the call's (an error), not a
  // netlist abc cannot take.
  if (!io_write_blif_file(a, fa, opts, &why) || !io_write_blif_file(b, fb, opts, &why)) {
    text = why;
    return UNAVAILABLE;
  }
  bool sequential = has_kind(a, true) || has_kind(b, true);
  // abc runs in the directory, so the files go by their plain names: abc
  // splits its command at blanks, which a TMPDIR may contain.
  std::string command = std::string(sequential ? "dsec " : "cec ") + "a.blif b.blif";
  // The verdict is read from the lines as they come, wherever they stand;
  // of all abc printed only the last lines are kept for the log.
  bool different = false, equivalent = false;
  ORACLE_OUTPUT output;
  output.on_line = [&](std::string_view line) {
    different = different || line.find("NOT EQUIVALENT") != std::string_view::npos;
    equivalent = equivalent || line.find("Networks are equivalent") != std::string_view::npos;
  };
  const ORACLE_END end = oracle_run_peer({binary, "-c", command}, dir.path(), abc_timeout_seconds(), &output);
  text = output.last_lines(ABC_QUOTED_LINES);
  if (end.status == ORACLE_TIMED_OUT) {
    text = "berkeley-abc took longer than " + std::to_string(abc_timeout_seconds()) + " s (key abc_timeout)\n" + text;
    return ERROR;
  }
  // A wait of the host's that asks for every kind of child took abc's end:
  // its verdict, printed as its last work, stands on its own (abc says
  // "Networks are equivalent" or "NOT EQUIVALENT" only once it has decided).
  if (end.status == ORACLE_END_TAKEN && (different || equivalent)) return different ? DIFFERENT : EQUIVALENT;
  if (!end.succeeded()) {
    // abc's output alone may be empty (a signal ended it): say how it ended.
    text = "berkeley-abc " + oracle_describe_end(end) + "\n" + text;
    return ERROR;
  }
  return different ? DIFFERENT : equivalent ? EQUIVALENT : ERROR;
}

}  // namespace

ABC_RESULT abc_equivalent(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b, std::string* log) {
  PLAT_CHECK(a != nullptr && b != nullptr, "PLATFORM");
  // Memory refused anywhere (the files, abc's output) is an error: abc, when
  // it runs, is ended and its directory removed on the way out.
  return io_guard_memory(
      ERROR, [&] { return compare_with_abc(a, b, log); },
      [&] { io_say_out_of_memory(log, "", "not enough memory to compare the netlists with berkeley-abc"); });
}

}  // namespace kavu_platform
