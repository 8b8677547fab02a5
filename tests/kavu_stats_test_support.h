// Shared helpers of the statistics tests: reports switched on, the parsable
// tally read back, and small builders.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "../synth/kavu/kavu_stats_int.h"
#include "kavu_stats.h"
#include "testkit/platform_testkit.h"

namespace kavu_stats_test {

// Reports print (the quiet gate is read afresh) for the fixture's life.
class STATS_TEST : public ::testing::Test {
 protected:
  STATS_TEST() : m_cfg{{"synth_less_debug_messages", "off"}, {"debug_msg", "on"}, {"debug_msg_file", "/dev/null"}} { kavu_stats_reset_for_tests(); }
  ~STATS_TEST() override { kavu_stats_reset_for_tests(); }
  kavu_platform::CFG_SCOPE m_cfg;
};

// The lines of a capture that contain `marker`, from the marker on.
inline std::vector<std::string> lines_with(const kavu_platform::DEBUG_CAPTURE& cap, const std::string& marker) {
  std::vector<std::string> out;
  for (const std::string& line : cap.lines()) {
    const size_t at = line.find(marker);
    if (at != std::string::npos) out.push_back(line.substr(at));
  }
  return out;
}

// Runs the parsable tally of a netlist and returns description -> count.
inline std::map<std::string, unsigned> parsable_tally(CDB_SGATE_NETLIST* nl, int depth = 1) {
  kavu_platform::CFG_SCOPE cfg{{"rtl_net_stats_parsable", "on"}, {"kavu_stats_no_delay", "on"}};
  kavu_platform::DEBUG_CAPTURE cap("KAVU");
  KAVU_STATS stats;
  stats.report_on_netlist(nl, "T", depth);
  std::map<std::string, unsigned> out;
  for (const std::string& line : cap.lines()) {
    const size_t head = line.find("_T : ");
    const size_t colon = line.rfind(" : ");
    if (head == std::string::npos || colon == std::string::npos || colon <= head + 4) continue;
    out[line.substr(head + 5, colon - head - 5)] = unsigned(std::stoul(line.substr(colon + 3)));
  }
  return out;
}

inline CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_output_term(0); }

}  // namespace kavu_stats_test
