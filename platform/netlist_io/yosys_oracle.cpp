// yosys_oracle.cpp — yosys as an outside peer (see yosys_oracle.h).
//
// yosys runs in its own temporary directory (it may write files into its
// working directory), its output read through a pipe (a bounded part kept,
// oracle_run_peer), and is watched until it ends or its time limit
// ("yosys_timeout") passes.

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <vector>

#include "cfg/cfg.h"
#include "netlist_io/oracle_process.h"
#include "netlist_io/yosys_oracle.h"

namespace kavu_platform {

std::string yosys_binary_path() { return oracle_find_program("yosys_binary", "yosys"); }

int yosys_run(const std::string& script, std::string* out, bool* timed_out) {
  if (timed_out) *timed_out = false;
  const std::string binary = yosys_binary_path();
  if (binary.empty()) return -1;
  ORACLE_TEMP_DIR dir("kavu_yosys");
  if (dir.path().empty()) return -1;
  ORACLE_OUTPUT output;
  const ORACLE_END end = oracle_run_peer({binary, "-p", script}, dir.path(), cfg_get_int_value("yosys_timeout", 600), &output);
  if (out) *out = output.text();
  if (end.status == ORACLE_TIMED_OUT) {
    if (timed_out) *timed_out = true;
    return -1;
  }
  return end.status;
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
