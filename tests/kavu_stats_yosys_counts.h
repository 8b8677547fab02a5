// The statistics tally's outside reference, shared by the statistics tests
// and benchmark: yosys "stat" cell counts grouped into the tally's gate
// kinds, and the LUTs yosys reads as wires.
#pragma once

#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "cdb/cdb_sgate.h"
#include "netlist_io/yosys_oracle.h"

namespace kavu_stats_test {

// The yosys script whose "stat" yosys_kinds_in reads.
inline std::string yosys_kinds_script(const std::string& path) { return "read_blif -wideports " + path + "; stat"; }

// The "stat" cell counts in yosys's output, grouped into our gate kinds.
inline std::map<std::string, unsigned> yosys_kinds_in(const std::string& out) {
  std::map<std::string, unsigned> kinds;
  std::istringstream in(out);
  const std::regex cell(R"(^\s+(\$\S+)\s+(\d+)\s*$)"), reset_to_1(R"(\$_SDFFE_[PN][PN]1[PN]_)"),
      comb(R"(\$_(AND|NAND|ANDNOT|OR|NOR|ORNOT|XOR|XNOR|NOT)_)");
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    if (!std::regex_match(line, m, cell)) continue;
    const std::string c = m[1];
    const unsigned n = unsigned(std::stoul(m[2]));
    if (std::regex_match(c, reset_to_1)) kinds["RESET_TO_1_OVER_ENABLE"] += n;
    std::string kind = "OTHER";
    if (c == "$lut") kind = "LUT";
    else if (c.find("DLATCH") != std::string::npos || c == "$dlatch") kind = "LATCH";
    else if (c.find("FF") != std::string::npos || c.find("ff") != std::string::npos) kind = "DFF";
    else if (c == "$_MUX_") kind = "MUX";
    else if (std::regex_match(c, comb)) kind = "COMB";
    kinds[kind] += n;
  }
  return kinds;
}

// yosys "stat" cell counts of the file grouped into our gate kinds; empty
// with *log on a failure.
inline std::map<std::string, unsigned> yosys_kinds(const std::string& path, std::string* log) {
  std::string out;
  if (kavu_platform::yosys_run(yosys_kinds_script(path), &out) != 0) {
    *log = out;
    return {};
  }
  return yosys_kinds_in(out);
}

// LUTs that pass one input through unchanged: yosys reads such a cover as a
// wire, not a cell.
inline unsigned buffer_luts(CDB_SGATE_NETLIST* nl) {
  unsigned n = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_LUT* lut = *it ? (*it)->cast_to_lut() : nullptr;
    if (!lut || lut->get_number_of_fanin() != 1) continue;
    unsigned i = 0;
    while (!lut->get_input_term(i)) ++i;
    const CDB_LUTMASK& m = lut->get_lut_mask();
    n += m.get_value() == CDB_LUTMASK::imask(m.get_num_inputs(), i).get_value();
  }
  return n;
}

}  // namespace kavu_stats_test
