// Tests of the wire, delay, neighbour and critical-graph statistics.
#include <cmath>
#include <regex>

#include "kavu_delay.h"
#include "kavu_stats_test_support.h"

using namespace kavu_platform;
using namespace kavu_stats_test;

namespace {

class KavuStatsDelay : public STATS_TEST {};

// Registers r1, r2 -> LUT -> register r3, all on one clock.
struct LUT_BETWEEN_REGISTERS {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *lut, *r3;
  LUT_BETWEEN_REGISTERS() {
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_NODE* d = make_input_pin(&nl, "d");
    CDB_SGATE_NODE* r1 = make_dff(&nl, d, clk);
    CDB_SGATE_NODE* r2 = make_dff(&nl, d, clk);
    lut = make_lut(&nl, {r1, r2}, 0x6);
    r3 = make_dff(&nl, lut, clk);
    make_output_pin(&nl, "q", r3);
  }
};

}  // namespace

// Counts at the boundaries 8/9 and 200/201; fan-out 1 adds nothing to the
// log sum; nothing at all with "rtl_net_stats" off.
TEST_F(KavuStatsDelay, WireStatistics) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* other = make_input_pin(&nl, "other");
  double log_sum = 0;
  for (int n : {1, 8, 9, 200, 201}) {
    CDB_SGATE_NODE* p = make_input_pin(&nl, ("p" + std::to_string(n)).c_str());
    for (int i = 0; i < n; ++i) make_and(&nl, p, other);
    log_sum += std::log(double(n));
  }
  log_sum += std::log(419.0);  // "other"
  {
    DEBUG_CAPTURE cap("KAVU");
    dump_wire_stats(&nl, "P");
    EXPECT_TRUE(cap.lines().empty());
  }
  CFG_SCOPE cfg{{"rtl_net_stats", "on"}};
  DEBUG_CAPTURE cap("KAVU");
  dump_wire_stats(&nl, "P");
  const auto l = cap.lines();
  ASSERT_EQ(l.size(), 9u);
  EXPECT_EQ(l[1], "P WIRE    Total signals   : 6");
  EXPECT_EQ(l[2], "P WIRE        single fo   : 1");
  EXPECT_EQ(l[3], "P WIRE        over    8   : 4");
  EXPECT_EQ(l[4], "P WIRE        over    200 : 2");
  EXPECT_EQ(l[5], "P WIRE    Total fanout    : 838.00");
  char buf[64];
  std::snprintf(buf, sizeof buf, "P WIRE    Sum of log(fan) : %.2f", log_sum);
  EXPECT_EQ(l[7], buf);
}

// The delay report hands back what it prints; the profile counts every
// signal; the CLUSTER pass prints the plain report under its own prefix.
TEST_F(KavuStatsDelay, DelayReportAndProfile) {
  auto nl = load_blif("mcnc/s298");
  double max_luts = -1, avg = -1;
  DEBUG_CAPTURE cap("KAVU");
  kavu_dump_delay_info(nl.get(), "A ", false, false, false, &max_luts, &avg);
  kavu_dump_delay_info(nl.get(), "B ", false, false, true, nullptr, nullptr);
  char buf[96];
  std::snprintf(buf, sizeof buf, "A Maximum circuit delay = %.1f LUTs", max_luts);
  EXPECT_TRUE(cap.contains(buf));
  EXPECT_GT(max_luts, 5.0);
  EXPECT_GT(avg, 0.0);
  const auto a = lines_with(cap, "A "), b = lines_with(cap, "B ");
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].substr(2), b[i].substr(2));

  int signals = 0, profiled = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms()) signals += o && o->has_fanout();
  for (const auto& [luts, n] : kavu_get_delay_profile(nl.get())) {
    EXPECT_GE(luts, 0);
    EXPECT_LE(luts, int(max_luts) + 1);
    profiled += n;
  }
  EXPECT_EQ(profiled, signals);
  // Both average lines count every signal; the path line shows the average handed back.
  std::snprintf(buf, sizeof buf, "A     Average fanin delay for all %d oterms = ", signals);
  EXPECT_TRUE(cap.contains(buf)) << buf;
  std::snprintf(buf, sizeof buf, "A     Average path delay for all %d oterms = %.2f, ", signals, avg);
  EXPECT_TRUE(cap.contains(buf)) << buf;
  // The analysis leaves no loop-cut buffer behind.
  EXPECT_EQ(nl->size(), load_blif("mcnc/s298")->size());
}

// Slack profile rows are cumulative and end at 100 %; the critical-path
// key only matters with the profile on.
TEST_F(KavuStatsDelay, SlackProfile) {
  LUT_BETWEEN_REGISTERS c;
  DEBUG_CAPTURE cap("KAVU");
  kavu_dump_delay_info(&c.nl, "S ", true, false, false, nullptr, nullptr);
  const auto rows = lines_with(cap, "S ");
  ASSERT_GE(rows.size(), 8u);
  EXPECT_TRUE(cap.contains("S  slack | cum gates | cum combs | cum hards | perc gates | perc combs | perc hards"));
  const std::string last = rows[rows.size() - 2];
  EXPECT_NE(last.find("|    100.00  |"), std::string::npos) << last;
}

// Averages in LUTs are formed in double: 8 million signals under the x10
// penalty (LUT delay 300) overflowed a 32-bit product.
TEST_F(KavuStatsDelay, AverageHasNoIntegerOverflow) {
  EXPECT_DOUBLE_EQ(kavu_stats_average_luts(300.0 * 8e6, 300, 8000000), 1.0);
  EXPECT_DOUBLE_EQ(kavu_stats_average_luts(5.0, 30, 0), 0.0);
}

// A LUT fed by two registers and feeding one register: 2, 2, 1, 1, 3, 3.
// Duplicate readers and drivers count once.
TEST_F(KavuStatsDelay, NeighborCounts) {
  LUT_BETWEEN_REGISTERS c;
  DEBUG_CAPTURE cap("KAVU");
  dump_neighbor_delay_stats(&c.nl, "N ");
  const auto max_rows = lines_with(cap, "N MAX || ");
  ASSERT_EQ(max_rows.size(), 2u);  // header and one bucket
  EXPECT_NE(max_rows[1].find("||         2 |         2 |         1 |         1 |         3 |         3 ||"),
            std::string::npos)
      << max_rows[1];
  const auto med_rows = lines_with(cap, "N MED || ");
  ASSERT_EQ(med_rows.size(), 2u);
  EXPECT_NE(med_rows[1].find("|         3 |         3 |         1 ||"), std::string::npos) << med_rows[1];

  // A LUT reading the same register on both inputs: one driver.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r = make_dff(&nl, make_input_pin(&nl, "d"), clk);
  CDB_SGATE_NODE* lut = make_lut(&nl, {r, r}, 0x6);
  make_dff(&nl, lut, clk);
  make_dff(&nl, lut, clk);
  DEBUG_CAPTURE cap2("KAVU");
  dump_neighbor_delay_stats(&nl, "M ");
  const auto rows = lines_with(cap2, "M MAX || ");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_NE(rows[1].find("||         1 |         1 |         2 |         2 |         3 |         3 ||"),
            std::string::npos)
      << rows[1];
}

// At threshold 0 every looked-through gate is critical: the first row
// counts the connected groups of looked-through gates.
TEST_F(KavuStatsDelay, CriticalGraphs) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* d = make_input_pin(&nl, "d");
  for (int chain = 0; chain < 2; ++chain) {
    CDB_SGATE_NODE* r = make_dff(&nl, d, clk);
    CDB_SGATE_NODE* a = make_lut(&nl, {r, d}, 0x6);
    CDB_SGATE_NODE* b = make_lut(&nl, {a, r}, 0x6);
    make_dff(&nl, b, clk);
  }
  DEBUG_CAPTURE cap("KAVU");
  dump_critical_graph_stats(&nl, "C ");
  const auto rows = lines_with(cap, "C || ");
  ASSERT_GE(rows.size(), 2u);
  // Row 0: two graphs of two LUTs, each LUT with two connected inputs.
  EXPECT_EQ(rows[1], "C ||          0 ||          2 |          2 |        2.0 |          2 |          4 |        4.0 |          4 ||");
}
