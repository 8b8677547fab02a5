// Tests of the combinational depth statistics: the maximum depth of every
// 4-LUT MCNC circuit beside berkeley-abc, the depth file's sinks and
// connection groups, cycles with and without a feeder, and a reconvergent
// cone of depth 60 (2^60 paths) counted in one pass.
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

#include "kavu_stats_test_support.h"
#include "netlist_io/abc_oracle.h"

using namespace kavu_platform;
using namespace kavu_stats_test;

namespace {

class KavuStatsDepth : public STATS_TEST {};

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The value printed by the maximum-depth report (-1000 for a cycle).
int max_depth(CDB_SGATE_NETLIST* nl) {
  DEBUG_CAPTURE cap("KAVU");
  kavu_sgatenetlist_max_comb_depth(nl);
  for (const std::string& l : cap.lines()) {
    if (l.find("comb cycle exists in sgate netlist") != std::string::npos) return -1000;
    const size_t at = l.find("max depth in the sgate netlist ");
    if (at != std::string::npos) return std::stoi(l.substr(at + 31));
  }
  return -2000;
}

// The connections of the depth file as its definition reads, computed the
// plain way: relaxation passes over the netlist until nothing changes, then
// a recursive walk from each sink along its longest chains (every path
// walked, repeats dropped afterwards). Small acyclic circuits only.
struct NAIVE_CONNECTIONS {
  unsigned m_all = 0, m_ff_to_ff = 0, m_self = 0;
};

NAIVE_CONNECTIONS naive_connections(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> gates;
  std::map<const CDB_SGATE_NODE*, size_t> index;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    index[*it] = gates.size();
    gates.push_back(*it);
  }
  std::vector<unsigned> level(gates.size(), 0);
  std::vector<int> aux(gates.size(), 0);
  for (size_t i = 0; i < gates.size(); ++i)
    if (kavu_sgate_class_index(gates[i]) == KAVU_CLASS_COMB && gates[i]->has_fanout() && gates[i]->has_fanin()) {
      level[i] = 1;
      aux[i] = -1;
    }
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t g = 0; g < gates.size(); ++g)
      for (CDB_SGATE_OTERM* o : gates[g]->get_output_terms())
        for (CDB_SGATE_ITERM* t : o->fanouts()) {
          const size_t h = index.at(t->get_my_node());
          unsigned v = aux[g] == -1 ? level[g] : 0;
          if (aux[h] != -1) aux[h] = 1;
          else ++v;
          if (level[h] < v) level[h] = v, changed = true;
        }
  }
  std::function<void(size_t, std::vector<size_t>&)> collect = [&](size_t g, std::vector<size_t>& list) {
    const unsigned step = aux[g] == -1 ? 1 : 0;
    for (CDB_SGATE_ITERM* t : gates[g]->get_input_terms()) {
      if (!t || !cdb_is_connected(t) || !t->get_source() || !t->get_source()->has_fanout()) continue;
      const size_t d = index.at(t->get_source()->get_my_node());
      if (aux[d] != -1) list.push_back(d);
      else if (level[d] + step == level[g]) collect(d, list);
    }
  };
  NAIVE_CONNECTIONS n;
  for (size_t s = 0; s < gates.size(); ++s) {
    if (aux[s] != 1) continue;
    std::vector<size_t> list;
    collect(s, list);
    std::set<size_t> seen;
    for (size_t f : list) {
      if (!seen.insert(f).second) continue;
      ++n.m_all;
      const bool ff = kavu_sgate_class_index(gates[f]) == KAVU_CLASS_FF &&
                      kavu_sgate_class_index(gates[s]) == KAVU_CLASS_FF;
      n.m_ff_to_ff += ff;
      n.m_self += f == s;
    }
  }
  return n;
}

}  // namespace

TEST_F(KavuStatsDepth, McncDepthMatchesAbcAndOneSinkPerOutput) {
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc not installed";
  for (const std::string& name : bundled_circuits({"mcnc"})) {
    SCOPED_TRACE(name);
    auto nl = load_blif(name);
    std::string out;
    ASSERT_EQ(abc_run("read " + blif_data_path(name) + "; print_stats", &out), 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(lev\s*=\s*(\d+))"))) << out;
    EXPECT_EQ(max_depth(nl.get()), std::stoi(m[1]));

    // Sinks: every output pin and every register an edge reaches.
    unsigned sinks = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (g->is_output() || (g->get_sgate_type() == CDB_SGATE_DFF_ENUM && g->has_fanin())) ++sinks;
    }
    kavu_sgate_comb_depth_stat(nl.get(), "mcnc");
    const std::string file = read_file("sgate_depth_stat.mcnc");
    EXPECT_NE(file.find("num_sink_sgates " + std::to_string(sinks) + " "), std::string::npos) << file.substr(0, 200);
    EXPECT_NE(file.find("Max_depth " + std::string(m[1]) + " "), std::string::npos);
  }
}

// Register -> LUT -> LUT -> register: depth 2; a register feeding a
// register directly: a sink of depth 0 from FF to FF.
TEST_F(KavuStatsDepth, SmallCircuits) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r1 = make_dff(&nl, make_input_pin(&nl, "d"), clk);
  CDB_SGATE_NODE* a = make_lut(&nl, {r1}, 0x1);
  CDB_SGATE_NODE* b = make_lut(&nl, {a}, 0x1);
  CDB_SGATE_NODE* r2 = make_dff(&nl, b, clk);
  make_dff(&nl, r2, clk);
  EXPECT_EQ(max_depth(&nl), 2);
  kavu_sgate_comb_depth_stat(&nl, "s");
  const std::string f = read_file("sgate_depth_stat.s");
  // Sinks: r1 (from d, clk), r2 (depth 2), r3 (depth 0).
  EXPECT_NE(f.find("num_sink_sgates 3 Avg_depth 0.666667 Geomean_depth 2 Median_depth 0 Max_depth 2 Min_depth 0\n"),
            std::string::npos)
      << f;
  EXPECT_NE(f.find("From FF to FF\nnum_connections 2 "), std::string::npos) << f;
  EXPECT_NE(f.find("From IO to FF\nnum_connections 4 "), std::string::npos) << f;  // d and three clocks

  CDB_SGATE_NETLIST empty;
  EXPECT_EQ(max_depth(&empty), -1);
  kavu_sgate_comb_depth_stat(&empty, "e");
  EXPECT_NE(read_file("sgate_depth_stat.e").find("num_sink_sgates 0 Avg_depth 0 Geomean_depth 0 Median_depth 0"),
            std::string::npos);
}

// Two combinational gates in a loop: a cycle, whether something feeds it or
// not (a loop fed by nothing used to print a depth of -1).
TEST_F(KavuStatsDepth, CombinationalCycles) {
  for (bool fed : {false, true}) {
    CDB_SGATE_NETLIST nl;
    auto* g1 = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
    auto* g2 = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
    nl.add_node(g1);
    nl.add_node(g2);
    g1->insert_unordered_fanin(out(g2));
    g2->insert_unordered_fanin(out(g1));
    if (fed) g1->insert_unordered_fanin(out(make_input_pin(&nl, "a")));
    EXPECT_EQ(max_depth(&nl), -1000) << fed;
    DEBUG_CAPTURE cap("KAVU");
    kavu_sgate_comb_depth_stat(&nl, "c");
    EXPECT_EQ(read_file("sgate_depth_stat.c"), "comb cycle exists in sgate netlist\n");
  }
}

// A ladder of 60 levels, two gates per level each reading both gates of the
// level below: 2^60 paths to the top. Its sources are found in one pass.
TEST_F(KavuStatsDepth, ReconvergentConeOfDepth60) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* ra = make_dff(&nl, make_input_pin(&nl, "a"), clk);
  CDB_SGATE_NODE* rb = make_dff(&nl, make_input_pin(&nl, "b"), clk);
  CDB_SGATE_NODE *x = ra, *y = rb;
  for (int level = 0; level < 60; ++level) {
    CDB_SGATE_NODE* nx = make_and(&nl, x, y);
    CDB_SGATE_NODE* ny = make_xor(&nl, x, y);
    x = nx;
    y = ny;
  }
  make_dff(&nl, make_or(&nl, x, y), clk);
  EXPECT_EQ(max_depth(&nl), 61);
  kavu_sgate_comb_depth_stat(&nl, "r");
  const std::string f = read_file("sgate_depth_stat.r");
  // The end register has both start registers as sources, each at depth 61.
  EXPECT_NE(f.find("From FF to FF\nnum_connections 2 Avg_depth 61 "), std::string::npos) << f;
}

// Counters, shift registers with feedback and state machines: a register
// whose own output reaches its data input along a longest chain is one of
// its own sources (the register used to be left out of its own list).
TEST_F(KavuStatsDepth, ConnectionsOfSequentialCircuitsIncludeSelfLoops) {
  for (const char* name : {"mcnc/s298", "small/counter8_lut4", "small/updown16_lut4", "small/lfsr16_lut4",
                           "small/fsm_seq_lut4"}) {
    SCOPED_TRACE(name);
    auto nl = load_blif(name);
    const NAIVE_CONNECTIONS want = naive_connections(nl.get());
    EXPECT_GT(want.m_self, 0u);  // the circuit has such registers
    kavu_sgate_comb_depth_stat(nl.get(), "seq");
    const std::string f = read_file("sgate_depth_stat.seq");
    EXPECT_NE(f.find("From ALL to ALL\nnum_connections " + std::to_string(want.m_all) + " "), std::string::npos)
        << f;
    EXPECT_NE(f.find("From FF to FF\nnum_connections " + std::to_string(want.m_ff_to_ff) + " "), std::string::npos)
        << f;
  }
}

TEST_F(KavuStatsDepth, ValueSummary) {
  const KAVU_VALUE_SUMMARY zeros = compute_value_summary({0, 0, 0});
  EXPECT_EQ(zeros.m_geomean, 0.0);
  const KAVU_VALUE_SUMMARY s = compute_value_summary({0, 2, 8, 3});
  EXPECT_NEAR(s.m_geomean, std::cbrt(48.0), 1e-12);  // over the non-zero values
  EXPECT_DOUBLE_EQ(s.m_median, 2.5);
  EXPECT_EQ(s.m_min, 0u);
  EXPECT_EQ(s.m_max, 8u);
  EXPECT_EQ(s.m_histogram.size(), 9u);
  const KAVU_VALUE_SUMMARY e = compute_value_summary({});
  EXPECT_EQ(e.m_histogram, std::vector<unsigned>{0});
}
