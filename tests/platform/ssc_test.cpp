// ssc_test.cpp — the timing engine: hand-computed pipelines under the three
// delay models, clock relations and constraints, stored and stitched timing
// netlists, Tcl commands, the synchronizer list, and the engine against
// OpenSTA and berkeley-abc on committed circuits.
#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#include <pthread.h>
#endif
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <random>
#include <set>
#include <sstream>

#include "atcl/atcl.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "msg/msg.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/oracle_process.h"
#include "netlist_io/sta_oracle.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"
#include "ssc/ssc_int.h"

using namespace kavu_platform;

namespace {

HDB_INSTANCE_NAME* top_child(const char* name) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, name, nullptr, nullptr, top);
}

CDB_SGATE_NODE* named(CDB_SGATE_NODE* g, const char* name) {
  g->set_instance_name(top_child(name));
  return g;
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// clk, a, b -> r1 = dff(a), r2 = dff(b); g1 = r1 & r2; g2 = lut(g1, r1);
// g3 = !g2; r3 = dff(g3) -> q. Input delay 2 on a.
struct PIPELINE {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *r1, *r2, *g1, *g2, *g3, *r3;
  PIPELINE() {
    auto* clk = make_input_pin(&nl, "clk");
    auto* a = make_input_pin(&nl, "a");
    auto* b = make_input_pin(&nl, "b");
    r1 = named(make_dff(&nl, a, clk), "r1");
    r2 = named(make_dff(&nl, b, clk), "r2");
    g1 = named(make_and(&nl, r1, r2), "g1");
    g2 = named(make_lut(&nl, {g1, r1}, 0x6), "g2");
    g3 = named(make_not(&nl, g2), "g3");
    r3 = named(make_dff(&nl, g3, clk), "r3");
    make_output_pin(&nl, "q", r3);
  }
};

std::string pipeline_sdc(int period) {
  return "create_clock -name clk -period " + std::to_string(period) +
         " [get_ports clk]\nset_input_delay 2 -clock clk [get_ports a]\n";
}

// Runs the engine with the SDC text and returns the map (engine released).
SSC_ITERM_TIMING_INFO_MAP analyze(CDB_SGATE_NETLIST* nl, SSC_DELAY_MODEL model, const std::string& sdc,
                                  bool relaxed = false) {
  write_file("t.sdc", sdc);
  CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  SSC_ITERM_TIMING_INFO_MAP map;
  static CMP_FACADE facade;  // a family with 6-input LUTs for the table model
  facade.set_family(DEV_FAMILY_ENUM(47));
  EXPECT_TRUE(u->initialize_netlist(&facade, nl, model, nullptr));
  EXPECT_TRUE(u->perform_timing_analysis(nl, &map, nullptr, relaxed));
  return map;
}

}  // namespace

// A path past the 32-bit range keeps its sign: 22,000 inverters at the
// largest delay a key takes sum to 2.2e9, which saturates, every arc on
// the path alike (the sum wrapped round and the path read as met); so with
// more than 16 groups (a max-delay rule from each of 20 more registers),
// where sums near the range are scored pair by pair, not through required
// times. Each analysis warns once, naming the node where the arrival left
// the range (the 21,475th inverter: 21,475 x 100,000 > 2^31 - 2); it once
// said nothing. A chain within the range does not warn.
TEST(SscPipeline, APathPastTheRangeSaturates) {
  const struct {
    int length, more;
  } cases[] = {{22000, 0}, {22000, 20}, {21000, 0}};
  for (const auto& c : cases) {
    CDB_SGATE_NETLIST nl;
    auto* clk = make_input_pin(&nl, "clk");
    auto* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* r1 = named(make_dff(&nl, a, clk), "r1");
    CDB_SGATE_NODE* g = r1;
    std::vector<CDB_SGATE_NODE*> chain;
    for (int k = 0; k < c.length; ++k) chain.push_back(g = named(make_not(&nl, g), ("n" + std::to_string(k)).c_str()));
    CDB_SGATE_NODE* r2 = named(make_dff(&nl, g, clk), "r2");
    std::string sdc = pipeline_sdc(1000);
    for (int k = 0; k < c.more; ++k) {
      const std::string name = "e" + std::to_string(k);
      named(make_dff(&nl, a, clk), name.c_str());
      sdc += "set_max_delay 500 -from [get_cells {" + name + "}]\n";
    }
    CFG_SCOPE delays{{"ssc_table_comb_delay", "100000"}};
    msg_log_clear();
    SSC_ITERM_TIMING_INFO_MAP map = analyze(&nl, SSC_DELAY_MODEL_TABLE, sdc);
    ASSERT_TRUE(ssc_get_util()->perform_timing_analysis(&nl, nullptr, nullptr, false));
    std::vector<std::string> warned;
    for (const MSG_LOG_ENTRY& e : msg_log())
      if (e.kind == MSG_LOG_WARNING && e.text.find("32-bit range") != std::string::npos) warned.push_back(e.text);
    ssc_get_util()->delete_netlist();
    if (c.length == 21000) {
      EXPECT_TRUE(warned.empty()) << warned[0];
      continue;
    }
    const std::string text = "Timing analysis: a time at timing node \"top|n21474/O#0\" is past the 32-bit range";
    ASSERT_EQ(warned.size(), 2u) << c.more;  // one per analysis
    EXPECT_EQ(warned[0].substr(0, text.size()), text) << warned[0];
    EXPECT_EQ(warned[1], warned[0]);
    EXPECT_EQ(map.at(r2->get_input_term(0)).m_slack, 1000 - SSC_TIME_MAX) << c.more;
    EXPECT_EQ(map.at(chain[0]->get_input_term(0)).m_slack, 1000 - SSC_TIME_MAX) << c.more;
    EXPECT_EQ(map.at(chain[21999]->get_input_term(0)).m_slack, 1000 - SSC_TIME_MAX) << c.more;
  }
}

TEST(SscPipeline, SlackRatioAndRequirementUnderEachModel) {
  struct ROW {
    SSC_DELAY_MODEL model;
    int period;
    int r3_data, g2_from_r1, r1_data, g1_in0;
    const char* comb_delay = "150";
    const char* lut_delay = "300";
  };
  const ROW rows[] = {
      {SSC_DELAY_MODEL_UNIT, 10, 7, 8, 8, 7},
      {SSC_DELAY_MODEL_UNIT_FANOUT, 10, 4, 6, 8, 4},  // every gate drives one input: 1 + 1
      {SSC_DELAY_MODEL_TABLE, 1000, 400, 550, 998, 400},  // comb 150, LUT 300
  };
  for (const ROW& row : rows) {
    PIPELINE p;
    CFG_SCOPE delays{{"ssc_table_comb_delay", row.comb_delay}, {"ssc_table_lut_delay", row.lut_delay}};
    SSC_ITERM_TIMING_INFO_MAP map = analyze(&p.nl, row.model, pipeline_sdc(row.period));
    auto slack = [&](CDB_SGATE_NODE* g, unsigned i) { return map.at(g->get_input_term(i)).m_slack; };
    EXPECT_EQ(slack(p.r3, 0), row.r3_data) << row.model;
    EXPECT_EQ(slack(p.g3, 0), row.r3_data) << row.model;
    EXPECT_EQ(slack(p.g2, 1), row.g2_from_r1) << row.model;
    EXPECT_EQ(slack(p.r1, 0), row.r1_data) << row.model;
    EXPECT_EQ(slack(p.g1, 0), row.g1_in0) << row.model;
    const SSC_ITERM_TIMING_INFO& r3 = map.at(p.r3->get_input_term(0));
    EXPECT_EQ(r3.m_requirement, row.period);
    EXPECT_FLOAT_EQ(r3.m_ratio, float(row.r3_data) / float(row.period));
    // b has no input delay, clocks are not data: no constraint.
    for (const SSC_ITERM_TIMING_INFO& t : {map.at(p.r2->get_input_term(0)), map.at(p.r1->get_input_term(1))}) {
      EXPECT_EQ(t.m_slack, SSC_UNCONSTRAINED_SLACK);
      EXPECT_EQ(t.m_requirement, SSC_UNCONSTRAINED_SLACK);
      EXPECT_FLOAT_EQ(t.m_ratio, 1.0f);
    }
    // Every input terminal with a real source has an entry, nothing else.
    size_t driven = 0;
    for (auto it = p.nl.begin_node_list(); it != p.nl.end_node_list(); ++it)
      for (unsigned i = 0; i < (*it)->get_number_of_input_terms(); ++i)
        if ((*it)->get_input_term(i) && (*it)->get_input_term(i)->get_source()) {
          ++driven;
          EXPECT_TRUE(map.count((*it)->get_input_term(i)));
        }
    EXPECT_EQ(map.size(), driven);
    EXPECT_EQ(ssc_get_util()->get_worst_slack("clk"), row.r3_data);
    ssc_get_util()->delete_netlist();
  }
}

TEST(SscRelations, EdgeGapsBetweenClocks) {
  struct ROW {
    int p1, o1, p2, o2, expected;
  };
  const ROW rows[] = {{10, 0, 10, 0, 10}, {10, 0, 15, 0, 5}, {15, 0, 10, 0, 5},
                      {10, 0, 10, 5, 5},  {10, 5, 10, 0, 5}, {7, 0, 3, 0, 1}, {4, 0, 8, 0, 4},
                      // Common periods of more than 10,000 launch edges, and
                      // periods near INT_MAX: the exact gap still.
                      {20011, 0, 20021, 0, 1}, {20011, 0, 20021, 7, 1}, {2147483647, 0, 2147483646, 0, 1},
                      {10, -3, 10, 0, 3}, {10, 0, 10, -25, 5}, {12, 5, 18, 2, 3},
                      // Period 0: launched at its edge's time, captured at 0.
                      {0, 100, 1000, 300, 200}, {0, 0, 1000, 0, 1000}, {1000, 300, 0, 100, -300},
                      {0, 70, 0, 30, -70}, {0, 0, 0, 0, 0},
                      // An edge past one period counts by its offset modulo
                      // the gcd: the smallest gap over the common period
                      // (OpenSTA, searching its first cycles, finds a larger
                      // one for 5000 and 7001).
                      {5000, 6000, 7000, 0, 1000}, {5000, 6000, 7000, 300, 300}, {5000, 6000, 7001, 0, 1},
                      // A launch of period 0 at or after the capture edge of
                      // the first cycle gets no later edge (it once got one
                      // period more).
                      {0, 700, 1000, 500, -200}, {0, 500, 1000, 500, 0}, {0, 900, 1000, 1700, -200},
                      {0, -300, 1000, 0, 1300}};
  for (const ROW& r : rows)
    EXPECT_EQ(ssc_edge_relation(r.p1, r.o1, r.p2, r.o2), r.expected) << r.p1 << " " << r.o1 << " " << r.p2 << " " << r.o2;
}

TEST(SscConstraints, TwoClocksFalsePathsMaxDelayAndBadLines) {
  // ra (clock A, 10) -> !ra -> rb (clock B, 15): relation 5, arc 1.
  struct ROW {
    const char* extra;
    int slack, requirement, relaxed;
    bool ok;
    bool ripple = false;  // rb clocked by ra's output (no clock reaches it)
    bool at_q = false;    // the figures of output q, not of rb's data
    // Then rb is renamed rz and the same file read again: rb's slack.
    bool rename_rb = false;
    int renamed_slack = 0;
  };
  const ROW rows[] = {
      {"", 4, 5, 14, true},
      {"set_false_path -from [get_clocks A] -to [get_clocks B]\n", SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK,
       SSC_UNCONSTRAINED_SLACK, true},
      {"set_false_path -from [get_clocks B] -to [get_clocks A]\n", 4, 5, 14, true},
      {"set_max_delay 3 -from [get_cells ra] -to [get_cells rb]\n", 2, 3, 2, true},
      // A max delay replaces the clock check, longer or shorter; a rule
      // naming start points beats one naming end points; false paths win.
      {"set_max_delay 30 -from [get_cells ra] -to [get_cells rb]\n", 29, 30, 29, true},
      {"set_max_delay 30 -to [get_cells rb]\nset_max_delay 2 -from [get_clocks A]\n", 29, 30, 29, true},
      {"set_max_delay 2 -from [get_cells ra]\nset_max_delay 30 -to [get_cells rb]\n", 1, 2, 1, true},
      {"set_max_delay 30 -from [get_cells ra]\nset_false_path -to [get_clocks B]\n", SSC_UNCONSTRAINED_SLACK,
       SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK, true},
      {"set_false_path -to [get_cells rb]\n", SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK,
       true},
      // A file read against a netlist is not given again to another: once
      // rb is renamed the false path names nothing.
      {"set_false_path -to [get_cells rb]\n", SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK,
       true, false, false, true, 4},
      {"set_input_delay 1 -clock C [get_ports x]\n", 0, 0, 0, false},  // unknown clock
      {"create_clock -name D [get_ports clka]\n", 0, 0, 0, false},     // no period
      // A rule naming launch clocks beats a later one naming capture clocks.
      {"set_max_delay 2 -from [get_clocks A]\nset_max_delay 30 -to [get_clocks B]\n", 1, 2, 1, true},
      // A register no clock reaches (the only start without a clock here)
      // launches at 0 into output delays: required at the capture edge in
      // the clock's second period (relaxed: the period), and at 0 for a
      // clock of period 0.
      {"set_input_delay 0 -clock A [get_ports x]\nset_output_delay 2 -clock A [get_ports q]\n", 8, 10, 8, true, true,
       true},
      {"set_input_delay 0 -clock A [get_ports x]\ncreate_clock -name Z -period 0 -waveform {4 6}\n"
       "set_output_delay 2 -clock Z [get_ports q]\n",
       -2, 0, -2, true, true, true},
  };
  for (const ROW& row : rows) {
    CDB_SGATE_NETLIST nl;
    auto* ca = make_input_pin(&nl, "clka");
    auto* cb = make_input_pin(&nl, "clkb");
    auto* x = make_input_pin(&nl, "x");
    auto* ra = named(make_dff(&nl, x, ca), "ra");
    auto* inv = make_not(&nl, ra);
    auto* rb = named(make_dff(&nl, inv, cb), "rb");
    auto* q = make_output_pin(&nl, "q", rb);
    if (row.ripple) rb->get_input_term(1)->set_source(ra->get_output_term(0));
    CDB_SGATE_ITERM* at = row.at_q ? q->get_input_term(0) : rb->get_input_term(0);
    write_file("t.sdc", std::string("create_clock -name A -period 10 [get_ports clka]\n"
                                    "create_clock -name B -period 15 [get_ports clkb]\n") + row.extra);
    CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
    SSC_UTIL* u = ssc_get_util();
    ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
    SSC_ITERM_TIMING_INFO_MAP map;
    EXPECT_EQ(u->perform_timing_analysis(&nl, &map, nullptr, false), row.ok) << row.extra;
    if (row.ok) {
      const SSC_ITERM_TIMING_INFO& t = map.at(at);
      EXPECT_EQ(t.m_slack, row.slack) << row.extra;
      EXPECT_EQ(t.m_requirement, row.requirement) << row.extra;
      EXPECT_EQ(t.m_relaxed_slack, row.relaxed) << row.extra;
      SSC_ITERM_TIMING_INFO_MAP relaxed;
      ASSERT_TRUE(u->perform_timing_analysis(&nl, &relaxed, nullptr, true));
      EXPECT_EQ(relaxed.at(at).m_slack, row.relaxed) << row.extra;
    }
    if (row.rename_rb) {
      u->delete_netlist();
      named(rb, "rz");
      ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
      SSC_ITERM_TIMING_INFO_MAP renamed;
      ASSERT_TRUE(u->perform_timing_analysis(&nl, &renamed, nullptr, false));
      EXPECT_EQ(renamed.at(rb->get_input_term(0)).m_slack, row.renamed_slack) << row.extra;
    }
    u->delete_netlist();
  }
}

TEST(SscConstraints, ClockFalsePathsCutOnlyTheClockPairsTheyName) {
  // ra (A) -> !ra -> rb (B); ra & rd (D) -> rc (C). Each row says which of
  // the three clock pairs A->B, A->C, D->C keep a finite slack.
  struct ROW {
    const char* rule;
    bool a_b, a_c, d_c;
  };
  const ROW rows[] = {
      {"", true, true, true},
      {"set_false_path -from [get_clocks A] -to [get_clocks C]\n", true, false, true},
      {"set_false_path -from [get_clocks A]\n", false, false, true},
      {"set_false_path -to [get_clocks C]\n", true, false, false},
      {"set_false_path -from [get_clocks D] -to [get_clocks B]\n", true, true, true},
  };
  for (const ROW& row : rows) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* clk[4];
    for (int k = 0; k < 4; ++k) clk[k] = make_input_pin(&nl, ("clk" + std::string(1, char('a' + k))).c_str());
    auto* x = make_input_pin(&nl, "x");
    auto* ra = named(make_dff(&nl, x, clk[0]), "ra");
    auto* rd = named(make_dff(&nl, x, clk[3]), "rd");
    auto* rb = named(make_dff(&nl, make_not(&nl, ra), clk[1]), "rb");
    auto* both = make_and(&nl, ra, rd);
    named(make_dff(&nl, both, clk[2]), "rc");
    std::string sdc;
    for (int k = 0; k < 4; ++k)
      sdc += "create_clock -name " + std::string(1, char('A' + k)) + " -period 10 [get_ports clk" +
             std::string(1, char('a' + k)) + "]\n";
    SSC_ITERM_TIMING_INFO_MAP map = analyze(&nl, SSC_DELAY_MODEL_UNIT, sdc + row.rule);
    auto finite = [&](CDB_SGATE_ITERM* t) { return map.at(t).m_slack != SSC_UNCONSTRAINED_SLACK; };
    EXPECT_EQ(finite(rb->get_input_term(0)), row.a_b) << row.rule;
    EXPECT_EQ(finite(both->get_input_term(0)), row.a_c) << row.rule;
    EXPECT_EQ(finite(both->get_input_term(1)), row.d_c) << row.rule;
    ssc_get_util()->delete_netlist();
  }
}

TEST(SscModels, SyncLoadOfAFlipFlopAtomIsCapturedAndBuffersStayFree) {
  // ra -> !ra -> the atom's synchronous load (port 33); ra -> buffer -> three
  // registers. A buffer costs nothing, however many it drives.
  struct ROW {
    SSC_DELAY_MODEL model;
    int sload, behind_buffer;
  };
  const ROW rows[] = {{SSC_DELAY_MODEL_UNIT, 9, 10}, {SSC_DELAY_MODEL_UNIT_FANOUT, 8, 10}};
  for (const ROW& row : rows) {
    CDB_SGATE_NETLIST nl;
    auto* clk = make_input_pin(&nl, "clk");
    auto* x = make_input_pin(&nl, "x");
    auto* ra = named(make_dff(&nl, x, clk), "ra");
    auto* inv = make_not(&nl, ra);
    auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 62);
    nl.add_node(ff);
    named(ff, "ff");
    for (auto [port, src] :
         {std::pair{DB_PORT_DATAIN, x}, std::pair{DB_PORT_CLK, clk}, std::pair{DB_PORT_SLOAD, inv}}) {
      CDB_SGATE_ITERM* t = ff->create_input_term(nullptr, port);
      ff->set_input_term(t, ff->get_input_port_number(port));
      t->set_source(src->get_output_term(0));
    }
    ff->set_output_term(ff->create_output_term(nullptr, DB_PORT_REGOUT), ff->get_output_port_number(DB_PORT_REGOUT));
    auto* buf = make_buffer(&nl, ra);
    std::vector<CDB_SGATE_NODE*> behind;
    for (int k = 0; k < 3; ++k) behind.push_back(make_dff(&nl, buf, clk));
    SSC_ITERM_TIMING_INFO_MAP map = analyze(&nl, row.model, "create_clock -name clk -period 10 [get_ports clk]\n");
    EXPECT_EQ(map.at(ff->get_input_term(ff->get_input_port_number(DB_PORT_SLOAD))).m_slack, row.sload) << row.model;
    for (CDB_SGATE_NODE* r : behind) EXPECT_EQ(map.at(r->get_input_term(0)).m_slack, row.behind_buffer) << row.model;
    ssc_get_util()->delete_netlist();
  }
}

TEST(SscNetlist, StoredStitchedAndLoopedNetlistsKeepTheirTiming) {
  PIPELINE p;
  write_file("t.sdc", pipeline_sdc(10));
  CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  ASSERT_TRUE(u->initialize_netlist(nullptr, &p.nl, SSC_DELAY_MODEL_UNIT, nullptr));
  EXPECT_KAVU_INTERNAL_ERROR(u->initialize_netlist(nullptr, &p.nl, SSC_DELAY_MODEL_UNIT, nullptr), "is_in_use");
  ASSERT_TRUE(u->update_sta());
  EXPECT_EQ(u->get_worst_slack("clk"), 7);
  std::string part = "part";
  ASSERT_TRUE(u->write_tdb_to_pdb(nullptr));
  EXPECT_TRUE(TDB_MANAGER::get()->sgate_sta_netlist_on_disk(nullptr));
  EXPECT_FALSE(TDB_MANAGER::get()->sgate_sta_netlist_on_disk(&part));
  EXPECT_TRUE(u->delete_netlist());
  EXPECT_FALSE(u->delete_netlist());
  // Read back: string-based, same timing, no terminals.
  ASSERT_TRUE(u->read_tdb_from_pdb(nullptr));
  EXPECT_TRUE(u->get_tdb_netlist()->is_string_based());
  SSC_ITERM_TIMING_INFO_MAP map;
  ASSERT_TRUE(u->perform_timing_analysis(&p.nl, &map, nullptr, false));
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(u->get_worst_slack("clk"), 7);
  // Stitched: the gate netlist replaces its nodes, and the map is full.
  ASSERT_TRUE(u->build_tdb_sub_and_merge(&p.nl, SSC_DELAY_MODEL_UNIT, true, nullptr, true, true, &part));
  EXPECT_TRUE(TDB_MANAGER::get()->sgate_sta_netlist_on_disk(&part));
  // A partition name with a slash is one file of the database directory.
  std::string slashed = "a/b";
  ASSERT_TRUE(u->build_tdb_sub_and_merge(&p.nl, SSC_DELAY_MODEL_UNIT, true, nullptr, true, true, &slashed));
  EXPECT_TRUE(TDB_MANAGER::get()->sgate_sta_netlist_on_disk(&slashed));
  ASSERT_TRUE(u->perform_timing_analysis(&p.nl, &map, nullptr, false));
  EXPECT_EQ(map.at(p.r3->get_input_term(0)).m_slack, 7);
  TDB_NODE* r3 = u->get_tdb_netlist()->find_node(p.r3->get_string_hpath() + "/O#0");
  ASSERT_NE(r3, nullptr);
  EXPECT_EQ(u->get_sgate_oterm_from_tdb_node(r3), p.r3->get_output_term(0));
  EXPECT_EQ(u->get_tdb_netlist()->get_node(1u << 30), nullptr);
  u->delete_netlist();
  // A corrupt file is refused and leaves nothing held; so is one whose
  // counts the file cannot hold (nothing is sized by them). The error names
  // the line the damaged record starts on, also where a missing field made
  // the read run on into the next line (it once named the line after, or
  // the count of lines before the cursor), and the file's path escaped.
  struct CORRUPT {
    const char* text;
    const char* problem;  // what the posted error ends with ("": any)
  };
  std::string bad = "bad\x1b[2J";
  const std::string bad_file = gen_get_db_dir_path() + "/tdb_" + bad + ".tdb";
  for (const CORRUPT& row : {CORRUPT{"TDB 1 2 0\nN 9 -1 0 0 x\n", "line 1: the header counts more nodes"},
                             CORRUPT{"TDB 1 1 0\nN 9 -1 0 0 x\n", "line 2: node kind or clock source out of range"},
                             CORRUPT{"TDB 1 4000000000 0\n", ""}, CORRUPT{"TDB 1 1 4000000000\nN 0 -1 0 1 x\n", ""},
                             CORRUPT{"TDB 1 1 1\nN 0 -1 0 4000000000 x\nA 0 0 0\n", ""},
                             CORRUPT{"TDB 1 18446744073709551615 0\n", ""},
                             CORRUPT{"TDB 1 2 1\nN 0 3000000000 0 0 x\n", ""},
                             CORRUPT{"TDB 1 2 0\nN 0 -1 0 0 x\nN 0 -1 0\n", "line 3: malformed node record"},
                             CORRUPT{"TDB 1 1 1\nN 0 -1 0 1 x\nA 0 0\n", "line 3: malformed arc record"},
                             CORRUPT{"TDB 1 2 1\nN 0 -1 0 1 x\nA 0 0\nN 0 -1 0 0 y\n", "line 3: malformed arc record"},
                             CORRUPT{"TDB 1 2 1\nN 0 -1 0 1 x\nA 7 0 0\nN 0 -1 0 0 y\n",
                                     "line 3: arc source or kind out of range"},
                             // Records past the counted ones are refused, not dropped.
                             CORRUPT{"TDB 1 1 0\nN 0 -1 0 0 x\nN 0 -1 0 0 y\n", "line 3: more records than the header counts"},
                             CORRUPT{"TDB 1 1 0\nN 0 -1 0 0 x\n\nA 0 0 0\n", "line 4: more records than the header counts"}}) {
    write_file(bad_file, row.text);
    msg_log_clear();
    EXPECT_FALSE(u->read_tdb_from_pdb(&bad)) << row.text;
    EXPECT_FALSE(u->is_in_use());
    std::string posted;
    for (const MSG_LOG_ENTRY& e : msg_log())
      if (e.kind == MSG_LOG_ERROR) posted = e.text;
    EXPECT_EQ(posted.rfind("Timing-netlist file \"" + gen_get_db_dir_path() + "/tdb_bad\\x1b[2J.tdb\": line ", 0), 0u)
        << posted;
    const std::string problem = row.problem;
    EXPECT_EQ(posted.substr(posted.find("line ")).substr(0, problem.size()), problem) << row.text;
  }
  // A combinational loop is cut, and its terminals still get entries.
  CDB_SGATE_NETLIST loop;
  auto* clk = make_input_pin(&loop, "clk");
  auto* a = make_input_pin(&loop, "a");
  auto* x = make_and(&loop, a, nullptr);
  auto* y = make_not(&loop, x);
  x->get_input_term(1)->set_source(y->get_output_term(0));
  auto* r = make_dff(&loop, y, clk);
  map = analyze(&loop, SSC_DELAY_MODEL_UNIT, "create_clock -name clk -period 10 [get_ports clk]\n"
                                             "set_input_delay 0 -clock clk [all_inputs]\n");
  EXPECT_EQ(u->get_tdb_netlist()->get_cut_arc_count(), 1);
  EXPECT_TRUE(map.count(x->get_input_term(1)));
  EXPECT_LT(map.at(r->get_input_term(0)).m_slack, 10);
  u->delete_netlist();
}

namespace {

// r1 on clk feeds r2 through n1 and the boundary bd; r2's clock comes from
// clk through the inverter ckn and the boundary b. The partition holds r2
// behind cut copies of both boundaries.
struct BOUNDARY_DESIGN {
  CDB_SGATE_NETLIST whole, part;
  CDB_SGATE_NODE *r1, *r2, *part_r2;
  static CDB_SGATE_NODE* boundary(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* from, const char* name) {
    auto* b = new CDB_SGATE_BOUNDARY(top_child(name), CDB_BOUNDARY_INPUT);
    nl->add_node(b);
    if (from) b->insert_unordered_fanin(from->get_output_term(0));
    else b->set_cut(true);
    return b;
  }
  BOUNDARY_DESIGN() {
    CDB_SGATE_NODE* clk = make_input_pin(&whole, "clk");
    r1 = named(make_dff(&whole, make_input_pin(&whole, "a"), clk), "r1");
    CDB_SGATE_NODE* n1 = named(make_not(&whole, r1), "n1");
    CDB_SGATE_NODE* ckn = named(make_not(&whole, clk), "ckn");
    r2 = named(make_dff(&whole, boundary(&whole, n1, "bd"), boundary(&whole, ckn, "b")), "r2");
    make_output_pin(&whole, "q", r2);
    part_r2 = named(make_dff(&part, boundary(&part, nullptr, "bd"), boundary(&part, nullptr, "b")), "r2");
    make_output_pin(&part, "q", part_r2);
  }
};

}  // namespace

// A clock created on a net of a register's clock path before a partition
// boundary (the inverter ckn's output, or the boundary b's) is found by
// the analysis of the design built afresh, of its netlist stored and read
// back, and of a partition stitched into it whose register reads the clock
// through its cut copy of the boundary: r2 captures on c2's rising edge,
// 1000 - 1 (it was clocked on clk's falling edge, the clock source the
// stored boundary traces back to: 2499).
TEST(SscNetlist, AClockOnANetIsFoundThroughStoredAndStitchedNetlists) {
  BOUNDARY_DESIGN d;
  SSC_UTIL* u = ssc_get_util();
  for (const char* net : {"ckn", "b"}) {
    SCOPED_TRACE(net);
    const std::string sdc = "create_clock -name c1 -period 5000 [get_ports clk]\n"
                            "create_clock -name c2 -period 3000 [get_nets " + std::string(net) + "]\n";
    SSC_ITERM_TIMING_INFO_MAP map = analyze(&d.whole, SSC_DELAY_MODEL_UNIT, sdc);
    EXPECT_EQ(map.at(d.r2->get_input_term(0)).m_slack, 999);
    ASSERT_TRUE(u->write_tdb_to_pdb(nullptr));
    u->delete_netlist();
    CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
    ASSERT_TRUE(u->read_tdb_from_pdb(nullptr));
    ASSERT_TRUE(u->update_sta());
    EXPECT_EQ(u->get_worst_slack("c2"), 999) << "read back";
    std::string name = "p";
    ASSERT_TRUE(u->build_tdb_sub_and_merge(&d.part, SSC_DELAY_MODEL_UNIT, false, nullptr, false, true, &name));
    map.clear();
    ASSERT_TRUE(u->perform_timing_analysis(&d.part, &map, nullptr, false));
    EXPECT_EQ(map.at(d.part_r2->get_input_term(0)).m_slack, 999) << "stitched";
    u->delete_netlist();
  }
}

// The registers a constraint file names, read against a gate netlist alone
// (no timing netlist held): as the engine's constraint queries count them,
// in the whole design and in a partition of it. A partition's registers
// may be clocked from outside it (r2 by c1 through the cut boundary b), so
// all_registers -clock takes every one of them there. A file that is not
// named, not there or whose text is refused names none: false.
TEST(SscSdc, RegistersAFileNamesAreReadWithoutATimingNetlist) {
  BOUNDARY_DESIGN d;
  struct ROW {
    const char* sdc;  // null: no file named
    std::vector<CDB_SGATE_NODE*> whole, part;
    bool read = true;
  };
  const std::string clock = "create_clock -name c1 -period 5000 [get_ports clk]\n";
  const ROW rows[] = {
      {"set_false_path -from [get_cells r1]\n", {d.r1}, {}},
      {"set_max_delay 10 -to [get_cells {r1 r2}]\nset_input_delay 5 -clock c1 [get_ports a]\n", {d.r1, d.r2}, {d.part_r2}},
      {"set_multicycle_path 2 -to [get_registers r2]\n", {d.r2}, {d.part_r2}},
      {"set_false_path -to [all_registers -clock c1]\n", {d.r1, d.r2}, {d.part_r2}},
      {"set_false_path -from [get_cells r1]\nset_input_delay 10 -clock nope [all_inputs]\n", {}, {}, false},
      {nullptr, {}, {}, false},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.sdc ? row.sdc : "no file");
    if (row.sdc) write_file("n.sdc", clock + row.sdc);
    CFG_SCOPE cfg{{"ssc_sdc_file", row.sdc ? "n.sdc" : ""}};
    for (const bool whole : {true, false}) {
      std::vector<CDB_SGATE_OTERM*> named, expected;
      std::string why;
      EXPECT_EQ(ssc_sdc_named_register_oterms(whole ? &d.whole : &d.part, &named, &why), row.read) << why;
      for (CDB_SGATE_NODE* r : whole ? row.whole : row.part) expected.push_back(r->get_output_term(0));
      EXPECT_EQ(named, expected) << (whole ? "whole" : "part");
      EXPECT_EQ(why.empty(), row.read);
      EXPECT_FALSE(ssc_get_util()->is_in_use());
    }
  }
  CFG_SCOPE missing{{"ssc_sdc_file", "missing.sdc"}};
  std::vector<CDB_SGATE_OTERM*> named;
  std::string why;
  EXPECT_FALSE(ssc_sdc_named_register_oterms(&d.whole, &named, &why));
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;
}

TEST(SscTcl, CommandsAndScriptsFollowTheSwitch) {
  PIPELINE p;
  analyze(&p.nl, SSC_DELAY_MODEL_UNIT, pipeline_sdc(10));
  SSC_UTIL* u = ssc_get_util();
  EXPECT_EQ(u->tcl_eval("get_worst_slack -clock clk"), "7");
  EXPECT_EQ(u->tcl_eval(("get_iterm_slack {" + p.r3->get_string_hpath() + "} 0").c_str()), "7");
  EXPECT_NE(u->tcl_eval("report_timing -npath 1").find("slack 7"), std::string::npos);
  write_file("post.tcl", "set f [open out.txt w]\nputs $f [get_worst_slack]\nclose $f\n");
  {
    CFG_SCOPE off{{"ssc_allow_scripts", "off"}};
    EXPECT_FALSE(u->run_script_if_allowed("post.tcl"));
    EXPECT_FALSE(std::ifstream("out.txt").good());
  }
  EXPECT_TRUE(u->run_script_if_allowed("post.tcl"));
  std::ifstream out("out.txt");
  std::string text;
  out >> text;
  EXPECT_EQ(text, "7");
  EXPECT_FALSE(u->run_script_if_allowed("missing.tcl"));
  // A script's file name is one word, never code: with a file "a" present,
  // the name below would run "set ::INJECTED 1" if it were spliced in.
  const std::string odd = "a} ; set ::INJECTED 1 ; list {";
  write_file("a", "");
  write_file(odd, "set ::RAN 1\n");
  EXPECT_TRUE(u->run_script_if_allowed(odd));
  EXPECT_EQ(u->tcl_eval("info exists ::INJECTED"), "0");
  EXPECT_EQ(u->tcl_eval("set ::RAN"), "1");
  // A failing script's name is quoted escaped in the warning.
  write_file("bad\x1b[2J.tcl", "error oops\n");
  msg_log_clear();
  EXPECT_FALSE(u->run_script_if_allowed("bad\x1b[2J.tcl"));
  ASSERT_FALSE(msg_log().empty());
  EXPECT_EQ(msg_log().back().text, "Script \"bad\\x1b[2J.tcl\" failed, the rest of it did not run: oops");
  // Bad option values and unknown clocks are Tcl errors, not a default.
  struct BAD {
    const char* command;
    const char* error;
  };
  for (const BAD& b : {BAD{"report_timing -npath abc", "expected integer but got \"abc\""},
                       BAD{"report_timing -npath", "missing value for -npath"},
                       BAD{"get_worst_slack -clock nosuch", "no clock named \"nosuch\""},
                       BAD{"get_worst_slack -clock", "missing value for -clock"},
                       // A mistyped option once answered for every clock.
                       BAD{"get_worst_slack -clok clk",
                           "get_worst_slack: unknown option \"-clok\"; the options are -clock"},
                       BAD{"get_worst_slack clk", "get_worst_slack: unexpected argument \"clk\"; the options are -clock"},
                       BAD{"report_timing -npaths 2", "report_timing: unknown option \"-npaths\"; the options are -npath"}}) {
    std::string result;
    EXPECT_FALSE(kavu_platform::atcl_eval(b.command, &result)) << b.command;
    EXPECT_EQ(result, b.error) << b.command;
  }
  EXPECT_NE(u->tcl_eval("report_timing -npath 2").find("slack 7"), std::string::npos);
  u->delete_netlist();
  EXPECT_EQ(u->tcl_eval("get_worst_slack"), "no timing netlist");
}

TEST(SscSynchronizers, ChainsFromAnotherClockUpToTheLengthOption) {
  for (int length : {0, 2, 3}) {
    CDB_SGATE_NETLIST nl;
    auto* ca = make_input_pin(&nl, "clka");
    auto* cb = make_input_pin(&nl, "clkb");
    auto* d = make_input_pin(&nl, "d");
    auto* ra = named(make_dff(&nl, make_not(&nl, d), ca), "ra");
    auto* s1 = named(make_dff(&nl, ra, cb), "s1");
    auto* s2 = named(make_dff(&nl, s1, cb), "s2");
    auto* s3 = named(make_dff(&nl, s2, cb), "s3");
    auto* s4 = named(make_dff(&nl, s3, cb), "s4");
    make_output_pin(&nl, "q", make_and(&nl, s4, ra));
    if (length) hdb_set_option(s1->get_instance_name(), 533, std::to_string(length).c_str());
    SSC_UTIL* u = ssc_get_util();
    ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
    std::unique_ptr<std::vector<TDC_SYNCHRONIZER_ENTRY>> list(tdc_get_accessories()->get_synchronizer_list(true));
    ASSERT_TRUE(list);
    // ra is fed from the pin d (a domain of its own) and feeds two gates: a
    // chain of one; s1 starts the clock-B chain, each next register the
    // only reader of the one before.
    std::vector<std::string> got;
    for (const auto& e : *list)
      got.push_back((e.m_chain_start ? "+" : "") +
                    u->get_tdb_netlist()->get_node(e.m_node_id)->get_sgate()->get_instance_name()->get_short_hpath(2));
    const std::vector<std::string> expected =
        length == 2 ? std::vector<std::string>{"+ra", "+s1", "s2"} : std::vector<std::string>{"+ra", "+s1", "s2", "s3"};
    EXPECT_EQ(got, expected) << length;
    u->delete_netlist();
    EXPECT_EQ(tdc_get_accessories()->get_synchronizer_list(true), nullptr);
  }
}

// The clock domains of the list are the clocks of the constraints: an input
// whose input delay names the register's clock is in its domain, one
// without a delay (or with a delay on another clock) is not; a register
// behind a gated clock is in the domain of the clock that reaches it. Heads
// of chains by row, on a small design and on diffeq1 (one clock; the file's
// registers read its inputs through logic). Once broke: an input port was a
// domain of its own whatever its delay, and a gated register was in the
// domain of its gate, so every register of diffeq1 headed a chain.
TEST(SscSynchronizers, DomainsAreTheClocksOfTheConstraints) {
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  auto* clk2 = make_input_pin(&nl, "clk2");
  auto* en = make_input_pin(&nl, "en");
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* ra = named(make_dff(&nl, make_not(&nl, a), clk), "ra");            // a on clk
  auto* rg = named(make_dff(&nl, make_not(&nl, ra), make_and(&nl, clk, en)), "rg");  // gated clk
  auto* rb = named(make_dff(&nl, make_not(&nl, b), clk), "rb");            // b on clk
  auto* r2 = named(make_dff(&nl, make_and(&nl, rg, rb), clk2), "r2");      // clk into clk2
  make_output_pin(&nl, "q", make_and(&nl, r2, ra));
  const std::string clocks = "create_clock -name c -period 1000 [get_ports clk]\n"
                             "create_clock -name c2 -period 700 [get_ports clk2]\n";
  const struct {
    std::string sdc;  // empty: no file, default clocks
    std::vector<std::string> heads;
  } rows[] = {
      {clocks + "set_input_delay 1 -clock c [get_ports {a b en}]\n", {"r2"}},
      {clocks + "set_input_delay 1 -clock c [get_ports a]\nset_input_delay 1 -clock c2 [get_ports b]\n", {"rb", "r2"}},
      {clocks + "set_input_delay 1 -clock c [get_ports b]\nset_input_delay 1 -clock c2 -add_delay [get_ports b]\n",
       {"ra", "rb", "r2"}},
      {clocks, {"ra", "rb", "r2"}},
      // Without a file every traced clock source is a clock, the gate's
      // output too: rg is clocked apart from ra.
      {"", {"ra", "rg", "rb", "r2"}},
  };
  SSC_UTIL* u = ssc_get_util();
  auto heads_of = [&](CDB_SGATE_NETLIST* netlist) {
    std::vector<std::string> heads;
    EXPECT_TRUE(u->initialize_netlist(nullptr, netlist, SSC_DELAY_MODEL_UNIT, nullptr));
    std::unique_ptr<std::vector<TDC_SYNCHRONIZER_ENTRY>> list(tdc_get_accessories()->get_synchronizer_list(true));
    if (list)
      for (const auto& e : *list)
        if (e.m_chain_start)
          heads.push_back(u->get_tdb_netlist()->get_node(e.m_node_id)->get_sgate()->get_instance_name()->get_short_hpath(2));
    u->delete_netlist();
    return heads;
  };
  // The same heads, read from the file against the gate netlist alone,
  // with no timing netlist held (where a file is named).
  auto netlist_heads_of = [&](CDB_SGATE_NETLIST* netlist) {
    std::vector<CDB_SGATE_OTERM*> named;
    std::vector<std::pair<CDB_SGATE_OTERM*, bool>> synchronizers;
    std::string why;
    EXPECT_TRUE(ssc_sdc_netlist_registers(netlist, &named, &synchronizers, &why)) << why;
    EXPECT_FALSE(u->is_in_use());
    std::vector<std::string> heads;
    for (const auto& [t, head] : synchronizers)
      if (head) heads.push_back(t->get_my_node()->get_instance_name()->get_short_hpath(2));
    return heads;
  };
  for (const auto& row : rows) {
    write_file("t.sdc", row.sdc);
    CFG_SCOPE cfg{{"ssc_sdc_file", row.sdc.empty() ? nullptr : "t.sdc"}};
    EXPECT_EQ(heads_of(&nl), row.heads) << (row.sdc.empty() ? "no file" : row.sdc);
    if (!row.sdc.empty()) {
      EXPECT_EQ(netlist_heads_of(&nl), row.heads) << "without a timing netlist: " << row.sdc;
    }
  }
  LOADED_NETLIST diffeq = load_blif("seq/diffeq1");
  write_file("t.sdc", "create_clock -name clk -period 1000 [get_ports clk]\nset_input_delay 1 -clock clk [all_inputs]\n");
  CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
  EXPECT_EQ(heads_of(diffeq.get()), std::vector<std::string>{});
  write_file("t.sdc", "create_clock -name clk -period 1000 [get_ports clk]\n");
  EXPECT_FALSE(heads_of(diffeq.get()).empty()) << "inputs without a delay are a domain of their own";
  EXPECT_EQ(netlist_heads_of(diffeq.get()), heads_of(diffeq.get()));
}

// Read against a part of a split design, a register whose data comes
// through a cut boundary (its driver's clock unknown there) heads a chain,
// as one reading an input port without a delay; in the whole design its
// data comes from a register of its own clock and it heads none. The
// register clocked by the falling edge of clk is in clk's domain. A
// register clocked from another gate netlist is in the domain of that
// source: it once had no domain, and heads no chain whatever it read.
TEST(SscSynchronizers, DataFromOutsideAPartIsADomainOfItsOwn) {
  BOUNDARY_DESIGN d;
  const std::string clock = "create_clock -name c1 -period 5000 [get_ports clk]\n";
  const struct {
    std::string delays;
    std::vector<CDB_SGATE_NODE*> whole, part;  // heads
  } rows[] = {
      {"set_input_delay 5 -clock c1 [get_ports a]\n", {}, {d.part_r2}},
      {"", {d.r1}, {d.part_r2}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.delays);
    write_file("n.sdc", clock + row.delays);
    CFG_SCOPE cfg{{"ssc_sdc_file", "n.sdc"}};
    for (const bool whole : {true, false}) {
      std::vector<CDB_SGATE_OTERM*> named, expected;
      std::vector<std::pair<CDB_SGATE_OTERM*, bool>> synchronizers;
      std::string why;
      ASSERT_TRUE(ssc_sdc_netlist_registers(whole ? &d.whole : &d.part, &named, &synchronizers, &why)) << why;
      std::vector<CDB_SGATE_OTERM*> heads;
      for (const auto& [t, head] : synchronizers)
        if (head) heads.push_back(t);
      for (CDB_SGATE_NODE* r : whole ? row.whole : row.part) expected.push_back(r->get_output_term(0));
      EXPECT_EQ(heads, expected) << (whole ? "whole" : "part");
    }
  }
  // Two gate netlists that read each other without boundaries: r2 and r4
  // capture data of the first netlist (directly, or through a gate of
  // their own), r3 only r2's; all three are clocked from the first
  // netlist's clk, so they are of one domain, and r2 and r4 head chains.
  CDB_SGATE_NETLIST first, second;
  CDB_SGATE_NODE* clk = make_input_pin(&first, "clk");
  CDB_SGATE_NODE* r1 = named(make_dff(&first, make_input_pin(&first, "a"), clk), "r1");
  make_output_pin(&first, "q1", r1);
  CDB_SGATE_NODE* r2 = named(make_dff(&second, r1, clk), "r2");
  CDB_SGATE_NODE* r3 = named(make_dff(&second, r2, clk), "r3");
  CDB_SGATE_NODE* r4 = named(make_dff(&second, make_not(&second, r1), clk), "r4");
  make_output_pin(&second, "q3", r3);
  make_output_pin(&second, "q4", r4);
  write_file("n.sdc", clock + "set_input_delay 5 -clock c1 [get_ports a]\n");
  CFG_SCOPE cfg{{"ssc_sdc_file", "n.sdc"}};
  for (auto [netlist, expected] : {std::pair{&first, std::vector<std::pair<CDB_SGATE_NODE*, bool>>{}},
                                   std::pair{&second, std::vector<std::pair<CDB_SGATE_NODE*, bool>>{{r2, true}, {r3, false}, {r4, true}}}}) {
    std::vector<CDB_SGATE_OTERM*> named_registers;
    std::vector<std::pair<CDB_SGATE_OTERM*, bool>> synchronizers, chains;
    std::string why;
    ASSERT_TRUE(ssc_sdc_netlist_registers(netlist, &named_registers, &synchronizers, &why)) << why;
    for (const auto& [r, head] : expected) chains.push_back({r->get_output_term(0), head});
    EXPECT_EQ(synchronizers, chains) << (netlist == &first ? "first" : "second");
  }
}

// The sense a clock keeps through each input of a gate (gated clocks, and
// the Liberty cells of the OpenSTA oracle, read it alike): by hand.
TEST(SscModels, InputSenseIsReadFromTheGateFunction) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* c = make_input_pin(&nl, "c");
  CDB_SGATE_NODE* inverted_and = make_and(&nl, a, b);
  inverted_and->get_input_term(1)->set_invert();
  const struct {
    CDB_SGATE_NODE* gate;
    std::vector<int> senses;  // per input
  } rows[] = {
      {make_and(&nl, a, b), {1, 1}},
      {make_or(&nl, a, b), {1, 1}},
      {make_xor(&nl, a, b), {0, 0}},
      {make_not(&nl, a), {-1}},
      {inverted_and, {1, -1}},
      {make_mux(&nl, a, b, c), {1, 1, 0}},
      {make_lut(&nl, {a, b}, 0x8), {1, 1}},         // AND
      {make_lut(&nl, {a, b}, 0x7), {-1, -1}},       // NAND
      {make_lut(&nl, {a, b}, 0x6), {0, 0}},         // XOR
      {make_lut(&nl, {a, b}, 0x2), {1, -1}},        // a AND NOT b
      {make_lut(&nl, {a, b}, 0xA), {1, 1}},         // a alone: b ignored passes
      {make_lut(&nl, {c, a, b}, 0xE4), {0, 1, 1}},  // c ? b : a
  };
  for (const auto& row : rows) {
    std::vector<int> got;
    for (unsigned i = 0; i < row.gate->get_number_of_input_terms(); ++i)
      got.push_back(ssc_input_sense(row.gate->get_input_term(i)));
    EXPECT_EQ(got, row.senses) << row.gate->get_string_type_name();
  }
  // LUTs of 1 to 6 inputs against their minterm pairs: structured masks
  // (constants, projections, minterms), random ones, and random ones made
  // independent of each input in turn; every third LUT reads its input
  // inverted.
  std::vector<CDB_SGATE_NODE*> in;
  for (const char* name : {"i0", "i1", "i2", "i3", "i4", "i5"}) in.push_back(make_input_pin(&nl, name));
  std::mt19937_64 random(7);
  int lut_count = 0;
  for (unsigned n = 1; n <= 6; ++n) {
    const uint64_t all = n == 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1;
    std::vector<uint64_t> masks = {0, all, 1, all - 1, uint64_t(1) << ((1u << n) - 1)};
    for (unsigned v = 0; v < n; ++v) {
      uint64_t projection = 0;
      for (unsigned m = 0; m < (1u << n); ++m) projection |= uint64_t((m >> v) & 1u) << m;
      masks.push_back(projection);
      for (int k = 0; k < 8; ++k) {
        const uint64_t r = random() & all;
        uint64_t independent = 0;  // r's value where input v is 0, at both values of v
        for (unsigned m = 0; m < (1u << n); ++m) independent |= ((r >> (m & ~(1u << v))) & 1u) << m;
        masks.push_back(independent);
      }
    }
    for (int k = 0; k < 16; ++k) masks.push_back(random() & all);
    for (uint64_t mask : masks) {
      CDB_SGATE_NODE* lut = make_lut(&nl, std::vector<CDB_SGATE_NODE*>(in.begin(), in.begin() + n), mask);
      const bool inverted = ++lut_count % 3 == 0;
      for (unsigned i = 0; i < n; ++i) {
        CDB_SGATE_ITERM* t = lut->get_input_term(i);
        if (inverted) t->set_invert();
        bool rises = false, falls = false;
        for (unsigned m = 0; m < (1u << n); ++m) {
          if ((m >> i) & 1u) continue;
          const bool low = (mask >> m) & 1u, high = (mask >> (m | (1u << i))) & 1u;
          rises |= !low && high;
          falls |= low && !high;
        }
        const int sense = (falls ? (rises ? 0 : -1) : 1) * (inverted ? -1 : 1);
        EXPECT_EQ(ssc_input_is_used(t), rises || falls) << n << " inputs, mask " << std::hex << mask << ", input " << i;
        EXPECT_EQ(ssc_input_sense(t), sense) << n << " inputs, mask " << std::hex << mask << ", input " << i;
      }
    }
  }
}

TEST(SscModels, ValidityDefaultAndAverageLutDelay) {
  CMP_FACADE facade;
  EXPECT_TRUE(ssc_check_delay_model_validity(nullptr, SSC_DELAY_MODEL_UNIT));
  EXPECT_FALSE(ssc_check_delay_model_validity(nullptr, SSC_DELAY_MODEL_TABLE));
  EXPECT_FALSE(ssc_check_delay_model_validity(&facade, SSC_DELAY_MODEL_TABLE));  // no family
  PIPELINE p;
  SSC_UTIL* u = ssc_get_util();
  EXPECT_FALSE(u->initialize_netlist(&facade, &p.nl, SSC_DELAY_MODEL_TABLE, nullptr));
  EXPECT_FALSE(u->is_in_use());
  for (auto [family, lut] : {std::pair{34, 250}, std::pair{47, 300}}) {
    facade.set_family(DEV_FAMILY_ENUM(family));
    ASSERT_TRUE(u->initialize_netlist(&facade, &p.nl, SSC_DELAY_MODEL_TABLE, nullptr));
    EXPECT_EQ(u->get_default_lut_delay(), lut);
    EXPECT_DOUBLE_EQ(u->compute_average_lut_delay(&p.nl), double(lut));
    u->delete_netlist();
  }
  CFG_SCOPE cfg{{"ssc_table_lut_delay", "123"}};
  ASSERT_TRUE(u->initialize_netlist(&facade, &p.nl, SSC_DELAY_MODEL_TABLE, nullptr));
  EXPECT_EQ(u->get_default_lut_delay(), 123);
  u->delete_netlist();
  ssc_set_util_missing(true);
  EXPECT_EQ(ssc_get_util(), nullptr);
  EXPECT_EQ(TDB_MANAGER::get()->get_tdb_netlist(), nullptr);
}

// ---------------------------------------------------------------- outside oracles

namespace {

// Clock pins: the input pins that drive register clocks.
std::vector<std::string> clock_pins(const CDB_SGATE_NETLIST* nl) {
  std::set<std::string> pins;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (g && g->get_sgate_type() == CDB_SGATE_DFF_ENUM && g->get_input_term(1) && g->get_input_term(1)->get_source() &&
        g->get_input_term(1)->get_source()->get_my_node()->is_pin())
      pins.insert(g->get_input_term(1)->get_source()->get_my_node()->get_string_hpath());
  }
  return {pins.begin(), pins.end()};
}

STA_CONSTRAINTS constraints_for(const CDB_SGATE_NETLIST* nl, int period, int step) {
  STA_CONSTRAINTS c;
  const std::vector<std::string> clocks = clock_pins(nl);
  for (size_t k = 0; k < clocks.size(); ++k)
    c.clocks.push_back({"c" + std::to_string(k), period + int(k) * step, clocks[k]});
  if (c.clocks.empty()) c.clocks.push_back({"v", period, ""});
  std::vector<std::string> data_inputs;
  for (const CDB_SGATE_IO* pin : nl->get_input_pins()) {
    const std::string path = pin->get_string_hpath();
    if (std::find(clocks.begin(), clocks.end(), path) == clocks.end()) data_inputs.push_back(path);
  }
  if (!data_inputs.empty()) c.io_delays.push_back({true, c.clocks.front().name, step + 1, data_inputs});
  std::vector<std::string> outputs;
  for (const CDB_SGATE_IO* pin : nl->get_output_pins()) outputs.push_back(pin->get_string_hpath());
  if (!outputs.empty()) c.io_delays.push_back({false, c.clocks.back().name, 2 * step, outputs});
  return c;
}

// A clock gated by an enable (r2), by a NAND (r4) and through a
// multiplexer from a data input (r5), beside registers on the clock itself.
const char* const kGatedClockBlif =
    ".model g\n.inputs clk en a b s\n.outputs y z w\n"
    ".names clk en gclk\n11 1\n.latch a r1 re clk 0\n.names r1 b n1\n11 1\n.latch n1 r2 re gclk 0\n"
    ".names r2 n2\n0 1\n.latch n2 r3 re clk 0\n.names r3 a y\n10 1\n01 1\n.names r2 z\n1 1\n"
    ".names clk en nclk\n11 0\n.latch r3 r4 re nclk 0\n"
    ".names s clk b mclk\n11- 1\n0-1 1\n.latch r4 r5 re mclk 0\n.names r5 r1 w\n11 1\n.end\n";

// sta keeps times in single-precision seconds: a hundredth of a unit, or a
// few parts per million, is rounding (our times are whole units).
double sta_rounding(double v) { return std::max(0.01, std::abs(v) * 4e-6); }

// A design with two clocks and paths both ways between them.
LOADED_NETLIST two_clock_design() {
  return load_blif("small/counter8_lut4");
}

// The register inputs compared with OpenSTA: data, enable, synchronous
// clear and load, where driven.
std::vector<const CDB_SGATE_ITERM*> driven_register_inputs(const CDB_SGATE_NETLIST* nl) {
  std::vector<const CDB_SGATE_ITERM*> pins;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->get_sgate_type() == CDB_SGATE_DFF_ENUM)
      for (unsigned i : {0u, 4u, 7u, 8u})
        if ((*it)->get_input_term(i) && (*it)->get_input_term(i)->get_source()) pins.push_back((*it)->get_input_term(i));
  return pins;
}

// The terminals of the output ports that something drives.
std::vector<const CDB_SGATE_ITERM*> driven_outputs(const CDB_SGATE_NETLIST* nl) {
  std::vector<const CDB_SGATE_ITERM*> pins;
  for (const CDB_SGATE_IO* pin : nl->get_output_pins())
    if (pin->get_input_term(0) && pin->get_input_term(0)->get_source()) pins.push_back(pin->get_input_term(0));
  return pins;
}

// The engine's analysis against OpenSTA's: each clock's worst slack (none
// where sta has no path), with `overall` the worst over all path groups,
// and the slack of every pin (how many differ, and the first).
void expect_sta_slacks(const STA_CONSTRAINTS& c, const STA_RESULT& r, const std::vector<const CDB_SGATE_ITERM*>& pins,
                       const std::string& context, bool overall) {
  SSC_UTIL* u = ssc_get_util();
  for (const STA_CLOCK& k : c.clocks) {
    auto it = r.worst_per_clock.find(k.name);
    const int ours = u->get_worst_slack(k.name.c_str());
    if (it == r.worst_per_clock.end()) EXPECT_EQ(ours, SSC_UNCONSTRAINED_SLACK) << context << "\nclock " << k.name;
    else EXPECT_NEAR(ours, it->second, sta_rounding(it->second)) << context << "\nclock " << k.name;
  }
  if (overall) {
    if (r.worst_all == 2147483647.0) EXPECT_EQ(u->get_worst_slack(nullptr), SSC_UNCONSTRAINED_SLACK) << context;
    else EXPECT_NEAR(u->get_worst_slack(nullptr), r.worst_all, sta_rounding(r.worst_all)) << context;
  }
  int differ = 0;
  std::string first;
  for (size_t k = 0; k < pins.size(); ++k) {
    const double ours = u->get_iterm_slack(pins[k]);
    // No path through the pin: unconstrained, not a slack near the range.
    if (r.pin_slacks[k] == 2147483647.0 ? ours == SSC_UNCONSTRAINED_SLACK
                                        : std::abs(ours - r.pin_slacks[k]) <= sta_rounding(r.pin_slacks[k]))
      continue;
    if (differ++ == 0)
      first = pins[k]->get_my_node()->get_string_hpath() + ": " + std::to_string(ours) + ", sta " + std::to_string(r.pin_slacks[k]);
  }
  EXPECT_EQ(differ, 0) << context << "\nof " << pins.size() << " register inputs; first " << first;
}

// Runs the engine on c.sdc (or on `ours`, where sta's text names the same
// objects otherwise) and OpenSTA on the same netlist and c.sdc, and
// compares their slacks (expect_sta_slacks); the engine is released.
void analyze_against_sta(CDB_SGATE_NETLIST* nl, SSC_DELAY_MODEL model, const STA_CONSTRAINTS& c,
                         const std::vector<const CDB_SGATE_ITERM*>& pins, const std::string& context, bool overall,
                         const std::string& ours = "") {
  analyze(nl, model, ours.empty() ? c.sdc : ours);
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  const STA_RESULT r = sta_analyze(nl, &facade, model, c, pins);
  EXPECT_EQ(r.status, STA_OK) << context << "\n" << r.log.substr(0, 2000);
  if (r.status == STA_OK) expect_sta_slacks(c, r, pins, context, overall);
  ssc_get_util()->delete_netlist();
}

}  // namespace

TEST(SscOracle, WorstSlackPerClockAndRegisterSlacksEqualOpenSta) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  std::vector<std::string> circuits = bundled_circuits({"mcnc", "seq"});
  circuits.push_back("two-clock");
  circuits.push_back("gated-clock");
  circuits.push_back("gated-clock-comb");
  for (const std::string& name : circuits) {
    LOADED_NETLIST nl;
    if (name == "two-clock") {
      // Two clocks over one counter: the low half of the registers on a
      // second clock pin.
      nl = two_clock_design();
      auto* clk2 = make_input_pin(nl.get(), "clk2");
      int k = 0;
      for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
        if (*it && (*it)->get_sgate_type() == CDB_SGATE_DFF_ENUM && (k++ % 2) == 0)
          (*it)->get_input_term(1)->set_source(clk2->get_output_term(0));
    } else if (name == "gated-clock" || name == "gated-clock-comb") {
      // Registers clocked through an AND with an enable, a NAND (the falling
      // edge) and a multiplexer of the clock and a data input: OpenSTA
      // clocks them all (they were left without a clock). Covers as LUTs,
      // or as AND, OR and NOT gates with inverted inputs.
      BLIF_READ_OPTIONS options;
      if (name == "gated-clock-comb") options.names = BLIF_READ_OPTIONS::ALL_COMB;
      BLIF_RESULT in = blif_read_string(kGatedClockBlif, options);
      ASSERT_NE(in.netlist, nullptr) << in.error;
      nl = LOADED_NETLIST(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    } else {
      nl = load_blif(name);
    }
    for (SSC_DELAY_MODEL model : {SSC_DELAY_MODEL_UNIT, SSC_DELAY_MODEL_TABLE}) {
      CMP_FACADE facade;
      facade.set_family(DEV_FAMILY_ENUM(47));
      const int period = model == SSC_DELAY_MODEL_UNIT ? 12 : 2400;
      const int step = model == SSC_DELAY_MODEL_UNIT ? 3 : 700;
      const STA_CONSTRAINTS c = constraints_for(nl.get(), period, step);
      write_file("t.sdc", sta_engine_sdc(c));
      CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
      SSC_UTIL* u = ssc_get_util();
      ASSERT_TRUE(u->initialize_netlist(&facade, nl.get(), model, nullptr)) << name;
      SSC_ITERM_TIMING_INFO_MAP map;
      ASSERT_TRUE(u->perform_timing_analysis(nl.get(), &map, nullptr, false)) << name;
      // 100 register inputs at random (fixed seed).
      const std::vector<const CDB_SGATE_ITERM*> all = driven_register_inputs(nl.get());
      std::vector<const CDB_SGATE_ITERM*> pins;
      GEN_RAND rand(21);
      for (int k = 0; k < 100 && !all.empty(); ++k) pins.push_back(all[rand.get_int(int(all.size()))]);
      const STA_RESULT r = sta_analyze(nl.get(), &facade, model, c, pins);
      ASSERT_EQ(r.status, STA_OK) << name << "\n" << r.log.substr(0, 2000);
      for (const STA_CLOCK& k : c.clocks) {
        auto it = r.worst_per_clock.find(k.name);
        const int ours = u->get_worst_slack(k.name.c_str());
        if (it == r.worst_per_clock.end()) EXPECT_EQ(ours, SSC_UNCONSTRAINED_SLACK) << name << " " << k.name;
        else EXPECT_NEAR(ours, it->second, sta_rounding(it->second)) << name << " " << k.name << " model " << model;
      }
      for (size_t k = 0; k < pins.size(); ++k) {
        const int ours = u->get_iterm_slack(pins[k]);
        EXPECT_EQ(ours, map.at(const_cast<CDB_SGATE_ITERM*>(pins[k])).m_slack);
        EXPECT_NEAR(double(ours), r.pin_slacks[k], sta_rounding(r.pin_slacks[k])) << name << " pin " << k << " model " << model;
      }
      u->delete_netlist();
    }
  }
}

TEST(SscOracle, UnitWorstArrivalEqualsAbcLevels) {
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc is not installed";
  for (const std::string& name : bundled_circuits({"mcnc"})) {
    LOADED_NETLIST nl = load_blif(name);
    // One clock: the circuit's clock pin, or a virtual one for logic alone.
    const std::vector<std::string> clocks = clock_pins(nl.get());
    ASSERT_LE(clocks.size(), 1u) << name;
    std::string sdc = "create_clock -name c -period 1000";
    if (!clocks.empty()) sdc += " [get_ports {" + clocks.front() + "}]";
    analyze(nl.get(), SSC_DELAY_MODEL_UNIT, sdc + "\nset_input_delay 0 -clock c [all_inputs]\n");
    const int ours = ssc_get_util()->get_worst_arrival();
    ssc_get_util()->delete_netlist();
    std::string out;
    ASSERT_EQ(abc_run("read " + blif_data_path(name) + "; print_level", &out), 0) << out;
    // "Level =   15.  COs =    4.  100.0 %": the largest level of a CO.
    int levels = -1;
    for (size_t at = out.find("Level ="); at != std::string::npos; at = out.find("Level =", at + 1))
      levels = std::max(levels, std::atoi(out.c_str() + at + 7));
    EXPECT_GT(levels, 0) << out;
    EXPECT_EQ(ours, levels) << name;
  }
}

TEST(SscSdc, TargetsWaveformsAndLineForms) {
  // ra (clock, rising) -> !ra -> rb (falling when inverted) -> q; x -> ra.
  struct ROW {
    const char* sdc;
    bool inverted;
    int rb_slack, ra_slack;  // data inputs of rb and ra
    bool ok;
  };
  const ROW rows[] = {
      // Glob targets, braces, a continued line and a comment.
      {"# clocks\ncreate_clock -name c -period 10 [get_ports {cl?}]\nset_input_delay 3 \\\n -clock c [get_ports x*]\n",
       false, 9, 7, true},
      // The same with Windows line ends, as Tcl's source reads them.
      {"# clocks\r\ncreate_clock -name c -period 10 [get_ports {cl?}]\r\nset_input_delay 3 \\\r\n -clock c [get_ports x*]\r\n",
       false, 9, 7, true},
      // A falling-edge register half a period after the launch.
      {"create_clock -name c -period 10 [get_ports clk]\nset_input_delay 3 -clock c [all_inputs]\n", true, 4, 7, true},
      // The waveform moves the falling edge.
      {"create_clock -name c -period 10 -waveform {0 2} [get_ports clk]\n", true, 1, SSC_UNCONSTRAINED_SLACK, true},
      // Input delay on the falling edge of the clock.
      {"create_clock -name c -period 10 [get_ports clk]\nset_input_delay 1 -clock c -clock_fall [get_ports x]\n",
       false, 9, 4, true},
      // Output delay; a minimum delay and set_load are skipped (with warnings).
      {"set_load 3 [all_outputs]\ncreate_clock -name c -period 10 [get_ports clk]\n"
       "set_output_delay 4 -clock c [all_outputs]\nset_input_delay 9 -clock c -min [get_ports x]\n",
       false, 9, SSC_UNCONSTRAINED_SLACK, true},
      // Times in other units become picoseconds, from the set_units line
      // on (a file in nanoseconds once read its periods as picoseconds).
      {"set_units -time ns\ncreate_clock -name c -period 0.01 [get_ports clk]\n"
       "set_input_delay 0.003 -clock c [get_ports x]\n",
       false, 9, 7, true},
      {"set_units -capacitance pF -time 100ps\ncreate_clock -name c -period 0.1 [get_ports clk]\n"
       "set_input_delay 0.03 -clock c [get_ports x]\n",
       false, 9, 7, true},
      {"create_clock -name c -period 10 -waveform {0 2} [get_ports clk]\nset_units -time 1NS\n"
       "set_input_delay 0.003 -clock c [get_ports x]\n",
       true, 1, 7, true},
      {"set_units -time fs\ncreate_clock -name c -period 10000 [get_ports clk]\n"
       "set_max_delay 4000 -from [get_cells ra]\n",
       false, 3, SSC_UNCONSTRAINED_SLACK, true},
      {"set_units -time ps\ncreate_clock -name c -period 10 [get_ports clk]\n", false, 9, SSC_UNCONSTRAINED_SLACK,
       true},
      {"set_units -time parsecs\n", false, 0, 0, false},
      {"set_units -time\n", false, 0, 0, false},
      // Registers by cell name; a virtual clock only on ports.
      {"create_clock -name v -period 8\ncreate_clock -name c -period 10 [get_ports clk]\n"
       "set_false_path -from [get_cells ra]\n",
       false, SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK, true},
      // A continued line without a blank before the backslash: the words
      // on either side stay apart.
      {"create_clock -name c -period 10\\\n[get_ports clk]\nset_input_delay 3 -clock c\\\n[get_ports x]\n", false, 9, 7,
       true},
      // all_registers -clock takes the registers of that clock alone (it
      // once took every register: the false path cut them all).
      {"create_clock -name c -period 10 [get_ports clk]\ncreate_clock -name v -period 8\n"
       "set_input_delay 3 -clock c [get_ports x]\nset_false_path -to [all_registers -clock v]\n",
       false, 9, 7, true},
      {"create_clock -name c -period 10 [get_ports clk]\ncreate_clock -name v -period 8\n"
       "set_input_delay 3 -clock c [get_ports x]\nset_max_delay 4 -to [all_registers -clock {v c}]\n",
       false, 3, 1, true},
      // Each all_registers -clock takes the registers under the clocks made
      // so far: after a create_clock, those of the new clock too.
      {"create_clock -name v -period 8\nset_false_path -from [all_registers -clock v]\n"
       "create_clock -name c -period 10 [get_ports clk]\nset_input_delay 3 -clock c [get_ports x]\n"
       "set_false_path -from [all_registers -clock c]\n",
       false, SSC_UNCONSTRAINED_SLACK, 7, true},
      // A fall before the rise is the next period's fall.
      {"create_clock -name c -period 10 -waveform {6 1} [get_ports clk]\n", true, 4, SSC_UNCONSTRAINED_SLACK, true},
      // A brace left open at the end drops the command (no clock: nothing
      // is timed); text after a closing brace ends the read.
      {"create_clock -name c -period 10 [get_ports {clk]\n", false, SSC_UNCONSTRAINED_SLACK, SSC_UNCONSTRAINED_SLACK,
       true},
      {"create_clock -name c -period 10 [get_ports {clk}x]\n", false, 0, 0, false},
      {"create_clock -name c -period ten [get_ports clk]\n", false, 0, 0, false},
      {"create_clock -name c -period 10 [get_things clk]\n", false, 0, 0, false},
      {"create_clock -name c -period 10 -bogus [get_ports clk]\n", false, 0, 0, false},
  };
  for (const ROW& row : rows) {
    CDB_SGATE_NETLIST nl;
    auto* clk = make_input_pin(&nl, "clk");
    auto* x = make_input_pin(&nl, "x");
    auto* ra = named(make_dff(&nl, x, clk), "ra");
    auto* rb = named(make_dff(&nl, make_not(&nl, ra), clk), "rb");
    if (row.inverted) rb->get_input_term(1)->set_invert();
    make_output_pin(&nl, "q", rb);
    write_file("t.sdc", row.sdc);
    CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
    SSC_UTIL* u = ssc_get_util();
    ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
    SSC_ITERM_TIMING_INFO_MAP map;
    EXPECT_EQ(u->perform_timing_analysis(&nl, &map, nullptr, false), row.ok) << row.sdc;
    if (row.ok) {
      EXPECT_EQ(map.at(rb->get_input_term(0)).m_slack, row.rb_slack) << row.sdc;
      EXPECT_EQ(map.at(ra->get_input_term(0)).m_slack, row.ra_slack) << row.sdc;
    }
    u->delete_netlist();
  }
  // A missing constraint file is a failed analysis; without the key every
  // register clock gets the default period.
  PIPELINE p;
  SSC_UTIL* u = ssc_get_util();
  ASSERT_TRUE(u->initialize_netlist(nullptr, &p.nl, SSC_DELAY_MODEL_UNIT, nullptr));
  {
    CFG_SCOPE missing{{"ssc_sdc_file", "missing.sdc"}};
    EXPECT_FALSE(u->update_sta());
  }
  // A default period of 0 or less left every path unconstrained; one out of
  // range is refused, naming the key, and the default period holds.
  for (const char* refused : {"-5", "0", "1000000001"}) {
    CFG_SCOPE bad{{"ssc_default_period", refused}};
    kavu_platform::cfg_reload();  // forget the earlier row's warning
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(u->update_sta());
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(u->get_worst_slack(), 997) << refused;
    EXPECT_NE(err.find("key \"ssc_default_period\" has value \"" + std::string(refused) +
                       "\", which is not an integer from 1 to 1000000000"),
              std::string::npos)
        << err;
  }
  CFG_SCOPE period{{"ssc_default_period", "50"}};
  ASSERT_TRUE(u->update_sta());
  EXPECT_EQ(u->get_clock_names(), std::vector<std::string>{"top|clk"});
  EXPECT_EQ(u->get_worst_slack(), 47);
  u->delete_netlist();
}

namespace {

std::vector<std::string> bits(const std::string& bus, int low, int high) {
  std::vector<std::string> out;
  for (int i = low; i <= high; ++i) out.push_back(bus + "[" + std::to_string(i) + "]");
  return out;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The last path components of the given nodes' gates, sorted.
std::vector<std::string> sorted_leaf_names(const SSC_NETLIST_DATA& data, const std::vector<uint32_t>& nodes) {
  std::vector<std::string> names;
  for (uint32_t id : nodes) {
    const std::string path = SSC_NETLIST_DATA::gate_path_of(data.nodes[id].get_string_name());
    names.push_back(path.substr(path.rfind('|') + 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace



TEST(SscSdc, BusBitPatternsMatchAsOpenStaReadsThem) {
  // Ports b[0..7] (in), q[0..15] and bq[0..7] (out) of a circuit read from BLIF. The
  // expected sets are what OpenSTA's get_ports gives on the same ports
  // declared as Verilog buses (escaped brackets aside).
  LOADED_NETLIST nl = load_blif("small/shift_en_sclr_lut4");
  SSC_NETLIST_DATA data;
  data.build({nl.get()}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  struct ROW {
    const char* patterns;
    std::vector<std::string> expected;
    int warnings;  // patterns that match nothing
  };
  const ROW rows[] = {
      {"q[3]", {"q[3]"}, 0},
      {"q[1*]", bits("q", 1, 1) + bits("q", 10, 15), 0},
      {"q[?]", bits("q", 0, 9), 0},
      {"q", bits("q", 0, 15), 0},  // the bus name: every bit
      {"q*", bits("q", 0, 15), 0},
      {"*q[0]", {"bq[0]", "q[0]"}, 0},
      {"*0]", {"b[0]", "bq[0]", "q[0]", "q[10]"}, 0},
      {"q\\[3\\]", {"q[3]"}, 0},  // escaped brackets stand for themselves
      {"q[\\?]", {}, 1},             // an escaped '?' is no wildcard
      {"q[\\*]", {}, 1},             // nor an escaped '*'
      {"q\\?3?", {}, 1},
      // A wildcard meets a port's own name, never the model's: "*|q[2]"
      // took q[2] through its path "shift_en_sclr|q[2]". That path in full
      // names the port still.
      {"*|q[2]", {}, 1},
      {"shift_en_sclr|q[2]", {"q[2]"}, 0},
      {"q[3] bq[7]", {"bq[7]", "q[3]"}, 0},
      {"q?1?", {}, 1},  // no ']' at the end: matched against bus names only
      {"q[3]x", {}, 1},
      {"bq[8]", {}, 1},
      {"nosuch q[0]", {"q[0]"}, 1},
  };
  for (const ROW& row : rows) {
    SSC_CONSTRAINTS c;
    std::string error;
    const std::string sdc = std::string("create_clock -name c -period 10 [get_ports clk]\n"
                                        "create_clock -name p -period 10 [get_ports {") + row.patterns + "}]\n";
    ASSERT_TRUE(ssc_read_sdc(sdc, data, &c, &error)) << error;
    ASSERT_EQ(c.clocks.size(), 2u);
    const std::vector<std::string> got = sorted_leaf_names(data, c.clocks[1].sources);
    std::vector<std::string> expected = row.expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(got, expected) << row.patterns;
    // Clock p on data ports is also a warning that they clock no register.
    std::vector<std::string> unmatched;
    for (const std::string& w : c.warnings)
      if (w.find("clocks no register") == std::string::npos && w.find("clock no register") == std::string::npos)
        unmatched.push_back(w);
    EXPECT_EQ(int(unmatched.size()), row.warnings) << row.patterns;
    for (const std::string& w : unmatched) EXPECT_EQ(w.rfind("line 2: get_ports: nothing matches", 0), 0u) << w;
  }
  // Registers named after their bus bits are cells, not buses: "bq" names
  // none of them (nor the output bus bq: get_cells takes no port). Clock
  // lists that come out empty are warnings too.
  SSC_CONSTRAINTS c;
  std::string error;
  ASSERT_TRUE(ssc_read_sdc("create_clock -name c -period 10 [get_ports clk]\n"
                           "set_false_path -from [get_cells {bq[*]}]\n"
                           "set_false_path -from [get_cells bq]\n"
                           "set_false_path -from [get_clocks {c[0]}]\n",
                           data, &c, &error));
  ASSERT_EQ(c.rules.size(), 3u);
  auto registers = [&](const std::vector<uint32_t>& nodes) {
    return std::count_if(nodes.begin(), nodes.end(),
                         [&](uint32_t id) { return data.nodes[id].get_kind() == TDB_NODE_REGISTER; });
  };
  EXPECT_EQ(registers(c.rules[0].from_nodes), 8);
  EXPECT_EQ(registers(c.rules[1].from_nodes), 0);
  EXPECT_EQ(c.warnings, (std::vector<std::string>{"line 3: get_cells: nothing matches \"bq\"",
                                                  "line 4: get_clocks: nothing matches \"c[0]\""}));
}

// What a collection selects, as OpenSTA selects it: get_cells and
// get_registers take no port (a register that drives an output has the
// output's name, and the port was once taken with it), all_registers
// -clock the registers of those clocks, all_inputs -no_clocks the input
// ports that are no clock's source. Options not applied are warned and
// their values are no patterns (they were dropped without a word, and
// -filter's value matched as a name). Points are "kind:name", sorted.
TEST(SscSdc, CollectionsAndTheirOptionsSelectAsOpenStaDoes) {
  LOADED_NETLIST nl = load_blif("small/shift_en_sclr_lut4");
  SSC_NETLIST_DATA data;
  data.build({nl.get()}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  struct ROW {
    const char* sdc;  // a path command naming the points
    std::vector<std::string> points;
    std::vector<std::string> warnings;
    bool skipped = false;  // the command is not applied
  };
  const std::vector<std::string> data_inputs = {"in:b",  "in:b",  "in:b",  "in:b",  "in:b",      "in:b",
                                                "in:b",  "in:b",  "in:din", "in:en", "in:hold_n", "in:sclr"};
  std::vector<std::string> registers;
  for (int i = 0; i < 8; ++i) registers.push_back("reg:bq[" + std::to_string(i) + "]");
  for (int i = 0; i < 16; ++i) registers.push_back("reg:q[" + std::to_string(i) + "]");
  std::sort(registers.begin(), registers.end());
  const ROW rows[] = {
      {"set_false_path -to [get_cells {bq[0] bq[1]}]", {"reg:bq[0]", "reg:bq[1]"}, {}},
      {"set_false_path -to [get_registers {bq[0]}]", {"reg:bq[0]"}, {}},
      // A bare point is a clock, else a cell, else a port, as OpenSTA reads
      // it: the register bq[0], not the output it drives (ports came first).
      {"set_false_path -to {bq[0]}", {"reg:bq[0]"}, {}},
      {"set_false_path -from [all_inputs -no_clocks]", data_inputs, {}},
      {"set_false_path -from [all_registers -clock c]", registers, {}},
      {"set_false_path -from [all_registers -clock [get_clocks {c v}]]", registers, {}},
      {"set_false_path -from [all_registers -clock v]", {}, {"line 3: all_registers: the list is empty"}},
      {"set_false_path -from [all_registers -clock nosuch]", {},
       {"line 3: -clock: no clock matches \"nosuch\"", "line 3: all_registers: the list is empty"}},
      // An option that could narrow a collection and is not applied skips
      // the command: the collection might take more than it names (a
      // false path to every register, where OpenSTA cut those of one edge).
      {"set_false_path -to [get_cells -filter \"ref_name==DFF\" {bq[0]}]", {},
       {"line 3: set_false_path: get_cells -filter is not applied; ignored"}, true},
      // -regexp patterns are anchored as OpenSTA anchors them ("^" + p +
      // "$": "bq\[0\]|q\[0\]" takes what begins with bq[0] or ends with
      // q[0]); -nocase folds case under -regexp only (OpenSTA ignores it
      // for glob patterns, with a warning). Once skipped as not applied.
      {"set_false_path -to [get_cells -regexp {bq\\[0\\]}]", {"reg:bq[0]"}, {}},
      {"set_false_path -to [get_cells -regexp {bq\\[0\\]|q\\[0\\]}]", {"reg:bq[0]", "reg:q[0]"}, {}},
      {"set_false_path -to [get_registers -nocase -regexp {BQ\\[[0-1]\\]}]", {"reg:bq[0]", "reg:bq[1]"}, {}},
      {"set_false_path -to [get_ports -regexp -nocase {BQ}]", bits("out:bq", 0, 7), {}},
      {"set_false_path -to [get_cells -nocase {BQ[0]}]", {},
       {"line 3: get_cells -nocase is ignored without -regexp", "line 3: get_cells: nothing matches \"BQ[0]\""}},
      // Named cells and clocks: a -regexp pattern without any of ". + * ?
      // [ ]" is a name, as written ("a|b" none, case kept under -nocase).
      {"set_false_path -to [get_cells -regexp {bq0|q0}]", {}, {"line 3: get_cells: nothing matches \"bq0|q0\""}},
      {"set_false_path -from [all_registers -clock [get_clocks -regexp -nocase {C}]]", {},
       {"line 3: get_clocks: nothing matches \"C\"", "line 3: all_registers: the list is empty"}},
      // A wildcard never meets the model's name (shift_en_sclr): "*shift*"
      // once took every cell.
      {"set_false_path -to [get_cells *shift*]", {}, {"line 3: get_cells: nothing matches \"*shift*\""}},
      {"set_false_path -to [get_cells -of_objects {bq[0]}]", {},
       {"line 3: set_false_path: get_cells -of_objects is not applied; ignored"}, true},
      {"set_false_path -to [all_registers -rise_clock c]", {},
       {"line 3: set_false_path: all_registers -rise_clock is not applied; ignored"}, true},
      {"set_false_path -from [get_pins -hierarchical -filter \"direction==out\" *]", {},
       {"line 3: set_false_path: get_pins -hierarchical is not applied; ignored"}, true},
      {"set_false_path -from [all_registers -clock [get_clocks -regexp {c}]]", registers, {}},
      {"set_false_path -to [get_ports -quiet {bq[7]}]", {"out:bq[7]"}, {}},
      // get_registers takes no logic cell (a false path to one is warned).
      {"set_false_path -to [get_registers *]", registers, {}},
      // A register belongs to the first clock of its source.
      {"create_clock -name w -period 5 -add [get_ports clk]\nset_false_path -from [all_registers -clock c]", registers,
       {"line 3: create_clock -add is not applied to registers: they keep the first clock of their source"}},
      // Tcl decides where a command ends, and what a nested command gives:
      // list and concat are evaluated, a collection's value is its last
      // command's, any other nested command skips the command using it.
      {"set_false_path -to [get_cells {bq[0]\n   bq[1]}\n]\n# note [\nset_units -time ps", {"reg:bq[0]", "reg:bq[1]"}, {}},
      {"set_false_path -to [get_cells [list {bq[0]} {bq[1]}]]", {"reg:bq[0]", "reg:bq[1]"}, {}},
      {"set_false_path -to [get_cells [concat {bq[0] bq[1]} [list {q[2]}]]]", {"reg:bq[0]", "reg:bq[1]", "reg:q[2]"}, {}},
      {"set_false_path -to [get_cells nosuch; get_cells {bq[2]}]", {"reg:bq[2]"},
       {"line 3: get_cells: nothing matches \"nosuch\""}},
      {"set_false_path -to [get_cells [lsort {bq[0]}]]", {},
       {"line 3: set_false_path: get_cells [lsort {bq[0]}] is not applied; ignored"}, true},
      // A nested command first in a list is evaluated, not taken as text;
      // an unknown one before a known one skips the command (it is not
      // read as empty, leaving the rule to bq[1] alone); an empty list
      // names nothing, not every cell.
      {"set_false_path -to [get_cells [list [concat {bq[0]}] {bq[1]}]]", {"reg:bq[0]", "reg:bq[1]"}, {}},
      {"set_false_path -to [get_cells [list [lsort {bq[0]}] [list {bq[1]}]]]", {},
       {"line 3: set_false_path: get_cells [list [lsort {bq[0]}] [list {bq[1]}]] is not applied; ignored"}, true},
      {"set_false_path -to [get_cells [list]]", {}, {}},
      // A list of points (it ended the read): its elements are names, read
      // as bare points, or collections; a list of several names stands for
      // each (nested lists flatten), a name in braces for itself whole (no
      // cell "bq[0] bq[1]"), and an empty list or element for nothing.
      {"set_false_path -to [list {bq[0]} {bq[1]}]", {"reg:bq[0]", "reg:bq[1]"}, {}},
      {"set_false_path -from [list [get_ports din] [get_registers {bq[2]}]]", {"in:din", "reg:bq[2]"}, {}},
      {"set_false_path -to [list [list {bq[0]} [list {bq[1]}]] {{q[3]} {q[4]}}]",
       {"reg:bq[0]", "reg:bq[1]", "reg:q[3]", "reg:q[4]"}, {}},
      {"set_false_path -to [list {{bq[0] bq[1]}}]", {}, {"line 3: no port or cell matches \"bq[0] bq[1]\""}},
      {"set_false_path -to [list {} {bq[5]}]", {"reg:bq[5]"}, {}},
      {"set_false_path -to [list]", {}, {"line 3: list: the list is empty"}},
      {"set_false_path -to [concat {bq[0] bq[1]} [get_registers {q[2]}]]", {"reg:bq[0]", "reg:bq[1]", "reg:q[2]"}, {}},
      {"set_false_path -to [get_ports x; list {bq[6]}]", {"reg:bq[6]"}, {"line 3: get_ports: nothing matches \"x\""}},
      {"set_false_path -through [list {bq[0]}] -to [list {bq[1]}]", {},
       {"line 3: set_false_path -through is not applied; ignored"}, true},
  };
  for (const ROW& row : rows) {
    SSC_CONSTRAINTS c;
    std::string error;
    ASSERT_TRUE(ssc_read_sdc(std::string("create_clock -name c -period 10 [get_ports clk]\n"
                                         "create_clock -name v -period 10\n") +
                                 row.sdc + "\n",
                             data, &c, &error))
        << error;
    EXPECT_EQ(c.warnings, row.warnings) << row.sdc;
    ASSERT_EQ(c.rules.size(), row.skipped ? 0u : 1u) << row.sdc;
    if (row.skipped) continue;
    std::vector<std::string> got;
    for (uint32_t id : c.rules[0].has_to ? c.rules[0].to_nodes : c.rules[0].from_nodes) {
      const TDB_NODE_KIND k = data.nodes[id].get_kind();
      const std::string path = SSC_NETLIST_DATA::gate_path_of(data.nodes[id].get_string_name());
      std::string leaf = path.substr(path.rfind('|') + 1);
      if (k == TDB_NODE_IN_PORT) leaf = leaf.substr(0, leaf.find('['));  // input buses by name
      got.push_back((k == TDB_NODE_REGISTER ? "reg:" : k == TDB_NODE_IN_PORT ? "in:" : "out:") + leaf);
    }
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, row.points) << row.sdc;
  }
}

// Names that only look like bus bits ("ab[]", "ab[x]") are whole names:
// the bus "ab" names none of them, and an escaped pattern names each.
TEST(SscSdc, PortsWithEmptyOrNonNumericBracketsAreNotBusBits) {
  CDB_SGATE_NETLIST nl;
  for (const char* port : {"x[]", "ab[]", "ab[x]", "ab[1]", "m[1][2]"}) make_input_pin(&nl, port);
  SSC_NETLIST_DATA data;
  data.build({&nl}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      {"ab", {"ab[1]"}},
      {"x", {}},
      {"ab*", {"ab[1]", "ab[]", "ab[x]"}},
      {"ab\\[\\]", {"ab[]"}},
      {"x\\[\\]", {"x[]"}},
      {"ab[?]", {"ab[1]", "ab[x]"}},
      // A bit of bus "m[1]": a pattern that ends in ']' meets its whole
      // name only, looked up by name or matched.
      {"m[1]", {}},
      {"m[1][2]", {"m[1][2]"}},
      {"m\\[1\\]*", {"m[1][2]"}},
  };
  for (const auto& [pattern, expected] : rows) {
    SSC_CONSTRAINTS c;
    std::string error;
    ASSERT_TRUE(ssc_read_sdc(std::string("create_clock -name c -period 10\nset_input_delay 1 -clock c [get_ports {") +
                                 pattern + "}]\n",
                             data, &c, &error))
        << error;
    ASSERT_EQ(c.io_delays.size(), 1u);
    const std::vector<std::string> got = sorted_leaf_names(data, c.io_delays[0].nodes);
    EXPECT_EQ(got, expected) << pattern;
    EXPECT_EQ(c.warnings.size(), expected.empty() ? 1u : 0u) << pattern;
  }
}

namespace {

// The error and warning texts the engine posted, in order.
std::vector<std::string> posted(MSG_LOG_KIND kind) {
  std::vector<std::string> out;
  for (const MSG_LOG_ENTRY& e : msg_log())
    if (e.kind == kind && e.id == 0) out.push_back(e.text);
  return out;
}

// Runs `read` on another thread; when it is still blocked after a while
// (a reader waiting for a FIFO's writer), the test fails and the FIFO gets
// a writer that closes at once, so the reader sees its end and the test
// ends instead of hanging.
template <class FN>
void run_unblocking(const char* fifo, FN read) {
  std::future<void> done = std::async(std::launch::async, read);
  if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the reader waited for a writer of " << fifo;
    const int fd = ::open(fifo, O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
  done.get();
}

}  // namespace

// Every problem of the constraints file reaches the user as an error
// naming the file and the line, after the warnings of the lines before it;
// the analysis fails as before. These were all silent (a debug trace only).
// What a message quotes of the file is shown with control bytes escaped and
// cut (terminal escapes once retitled and cleared the user's terminal, and
// a megabyte word gave a megabyte message), and a NUL byte is refused.
TEST(SscSdc, ProblemsArePostedWithFileAndLine) {
  struct ROW {
    std::string sdc;
    std::string error;  // after 'SDC file "t.sdc", '
    std::vector<std::string> warnings;
  };
  const std::string clock = "create_clock -name clk -period 10 [get_ports clk]\n";
  const ROW rows[] = {
      {"create_clock -name clk -period 10 [get_ports clk]\nset_input_delay 1 -clock clkk [get_ports x]\n",
       "line 2: unknown clock clkk", {}},
      {"create_clok -name clk -period 10 [get_ports clk]\n", "line 1: unknown command create_clok", {}},
      // No variable but the SDC version is read.
      {"set sdc_version 2.1\nset sdc_version\n", "line 2: unknown command set", {}},
      {"set sdc_version 2.1\nset period 10\n", "line 2: unknown command set", {}},
      // Commands are applied in order, before text after them that ends
      // the read, whether on their line or not.
      {"bogus; set_input_delay 1 -clock clk \"x\"y\n", "line 1: unknown command bogus", {}},
      {"create_clock -name clk -perod 10 [get_ports clk]\n", "line 1: unknown option -perod", {}},
      {"create_clock -name clk -period 10 [get_port clk]\n", "line 1: unknown collection get_port", {}},
      {"create_clock -name clk -period 10 [get_ports {clk}x]\n", "line 1: extra characters after a closing brace", {}},
      {"set_input_delay 1 -clock clk \"x\"y\n", "line 1: extra characters after a closing quote", {}},
      {"# clocks\n\ncreate_clock -name clk \\\n  -period 10 -bogus [get_ports clk]\n", "line 3: unknown option -bogus",
       {}},
      {"create_clock -name clk -period 10 [get_ports {clk nosuch}]\nset_false_path -to [get_cells zz]\n"
       "set_input_delay x -clock clk [get_ports x]\n",
       "line 3: bad delay x",
       {"SDC file \"t.sdc\", line 1: get_ports: nothing matches \"nosuch\"",
        "SDC file \"t.sdc\", line 2: get_cells: nothing matches \"zz\""}},
      {"\x1b[2J]\x07owned\x1b[H]\n", "line 1: unknown command \\x1b[2J]\\x07owned\\x1b[H]", {}},
      {clock + "set_false_path -to [get_ports {\x1b[2Jq}]\nbogus\n", "line 3: unknown command bogus",
       {"SDC file \"t.sdc\", line 2: get_ports: nothing matches \"\\x1b[2Jq\""}},
      {std::string(1 << 20, 'w') + "\n", "line 1: unknown command " + std::string(104, 'w') + "..." + std::string(128, 'w'), {}},
      {clock + "set_input_delay 1" + std::string(1, '\0') + "5 -clock clk [get_ports x]\n",
       "line 2: NUL byte in the file", {}},
      // A clock whose sources the engine cannot select as written ends the
      // read (it was made on no source, and its paths read unconstrained);
      // so does a -regexp pattern it cannot compile.
      {clock + "create_clock -name v -period 5 [get_ports -filter {direction == in} b]\n",
       "line 2: create_clock: get_ports -filter is not applied, so the clock's sources cannot be read", {}},
      {clock + "set_false_path -to [get_cells -regexp {r(.*}]\n",
       "line 2: get_cells -regexp: \"r(.*\" is not a regular expression the engine reads", {}},
      // A command over several lines is named by the line it starts on;
      // brackets nested past the depth Tcl is given are refused there.
      {clock + "\nset_input_delay 1 -clock clk \\\n  [get_ports {b\n b}] -bogus\n", "line 3: unknown option -bogus", {}},
      {clock + "set_input_delay 1 -clock clk [get_ports " + std::string(5000, '[') + std::string(5001, ']') + "\n",
       "line 2: brackets nested more than 100 levels deep", {}},
  };
  for (const ROW& row : rows) {
    PIPELINE p;
    write_file("t.sdc", row.sdc);
    CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
    SSC_UTIL* u = ssc_get_util();
    ASSERT_TRUE(u->initialize_netlist(nullptr, &p.nl, SSC_DELAY_MODEL_UNIT, nullptr));
    msg_log_clear();
    SSC_ITERM_TIMING_INFO_MAP map;
    EXPECT_FALSE(u->perform_timing_analysis(&p.nl, &map, nullptr, false)) << row.sdc;
    EXPECT_EQ(posted(MSG_LOG_ERROR), std::vector<std::string>{std::string("SDC file \"t.sdc\", ") + row.error})
        << row.sdc;
    EXPECT_EQ(posted(MSG_LOG_WARNING), row.warnings) << row.sdc;
    u->delete_netlist();
  }
  // Paths that are no constraints file: each refused with its reason, none
  // read (a FIFO once waited for a writer, /dev/zero grew without end, a
  // directory passed as an empty file).
  std::filesystem::create_directory("dir.sdc");
  ASSERT_EQ(::mkfifo("fifo.sdc", 0600), 0);
  const std::pair<const char*, std::string> paths[] = {
      {"missing.sdc", std::string("cannot read the file: ") + std::strerror(ENOENT)},
      {"dir.sdc", "not a regular file"},
      {"fifo.sdc", "not a regular file"},
      {"/dev/zero", "not a regular file"},
      // The path is shown escaped, as the file's text is.
      {"no\x1b]0;such\x07.sdc", std::string("cannot read the file: ") + std::strerror(ENOENT)}};
  for (const auto& [path, problem] : paths) {
    PIPELINE p;
    CFG_SCOPE cfg{{"ssc_sdc_file", path}};
    SSC_UTIL* u = ssc_get_util();
    ASSERT_TRUE(u->initialize_netlist(nullptr, &p.nl, SSC_DELAY_MODEL_UNIT, nullptr));
    msg_log_clear();
    bool ok = true;
    run_unblocking("fifo.sdc", [&] { ok = u->update_sta(); });
    EXPECT_FALSE(ok) << path;
    EXPECT_EQ(posted(MSG_LOG_ERROR), std::vector<std::string>{"SDC file \"" +
                                                               msg_printable_text(path, 512, true) + "\": " + problem});
    if (std::string(path).find('\x1b') != std::string::npos) {
      EXPECT_EQ(posted(MSG_LOG_ERROR).front().find('\x1b'), std::string::npos);
    }
    u->delete_netlist();
  }
  std::filesystem::remove("fifo.sdc");
}

// What the engine reads but does not apply is a warning naming its line,
// and the rest of the file still applies (the worst slack stays that of the
// clock and input delay alone, 7, unless a row's applied lines change it).
// These were skipped with a debug trace only, and a false path from a clock
// to points removed every path to those points.
TEST(SscSdc, CommandsAndOptionsNotAppliedAreWarnedWithTheirLine) {
  struct ROW {
    const char* sdc;  // from line 3 on
    int worst;
    std::vector<std::string> warnings;  // after 'SDC file "t.sdc", line '
    const char* blif = nullptr;         // the netlist, when not the pipeline
  };
  // clk clocks r1 and r2 and is data of r2 (clk AND r1); r3's clock is clk
  // XOR en (not unate in clk), r4's a multiplexer of clk and clk2 by en.
  const char* const gated =
      ".model w\n.inputs clk clk2 en a\n.outputs q\n.latch a r1 re clk 0\n.names clk r1 d\n11 1\n"
      ".latch d r2 re clk 0\n.names clk en x\n10 1\n01 1\n.latch r2 r3 re x 0\n"
      ".names en clk clk2 m\n1-1 1\n01- 1\n.latch r3 r4 re m 0\n.names r4 q\n1 1\n.end\n";
  const ROW rows[] = {
      {"set_multicycle_path 2 -setup -from [get_clocks clk] -to [get_clocks clk]\n", 7,
       {"3: set_multicycle_path is not applied; ignored"}},
      {"set_clock_uncertainty 5 [get_clocks clk]\n\nset_load 3 [all_outputs]\n", 7,
       {"3: set_clock_uncertainty is not applied; ignored", "5: set_load is not applied; ignored"}},
      // False paths between points and clocks, or points, are applied: r3's
      // paths (worst 7) are removed; r1 does not reach r3.
      {"set_false_path -from [get_clocks clk] -to [get_cells r3]\n", 8, {}},
      {"set_false_path -from [get_cells r1] -to [get_cells r3]\n", 7, {}},
      {"set_false_path -hold -to [get_cells r3]\n", 7, {"3: set_false_path -hold is not applied; ignored"}},
      // -setup with -hold is a false path for setup too, as OpenSTA reads
      // it: r3's paths go (it was skipped whole); the hold part is warned.
      {"set_false_path -setup -hold -to [get_cells r3]\n", 8,
       {"3: set_false_path -hold is not applied (there is no hold analysis); the rest of the command is"}},
      {"set_false_path -hold -to [get_cells r3] -setup\n", 8,
       {"3: set_false_path -hold is not applied (there is no hold analysis); the rest of the command is"}},
      {"set_false_path -hold -rise -setup -to [get_cells r3]\n", 7, {"3: set_false_path -rise is not applied; ignored"}},
      // A file that ends in a backslash drops its last command, as OpenSTA
      // does (it refused the whole file); a backslash before the last
      // newline joins the lines, and the command applies.
      {"set_false_path -to [get_cells r3] \\", 7,
       {"3: set_false_path: the file ends in a backslash before the command is complete; the command is not applied"}},
      {"set_false_path -to [get_cells r3] \\\n", 8, {}},
      {"set_units -time ps\n\\", 7,
       {"4: \\: the file ends in a backslash before the command is complete; the command is not applied"}},
      // So is a last command that a brace, bracket or quote left open runs
      // on to the end (it ended the read with "unbalanced {"), however many
      // lines it takes, with each kind named.
      {"set_false_path -to [get_cells {r3\n", 7,
       {"3: set_false_path: the file ends inside a { before the command is complete; the command is not applied"}},
      {"set_false_path -to [get_cells r3\n\n", 7,
       {"3: set_false_path: the file ends inside a [ before the command is complete; the command is not applied"}},
      {"set_false_path -to \"r3", 7,
       {"3: set_false_path: the file ends inside a quote before the command is complete; the command is not applied"}},
      {"set_false_path -from {r1\nset_false_path -to [get_cells r3]\n", 7,
       {"3: set_false_path: the file ends inside a { before the command is complete; the command is not applied"}},
      {"set_false_path -to [get_cells r3]\nset_load 3 [get_ports ${q\\", 8,
       {"4: set_load: the file ends inside a { before the command is complete; the command is not applied"}},
      // The unfinished text is every command of the lines OpenSTA joins to
      // complete it: commands before the open one on its line, or on a
      // line it joins, go with it (they applied), even one the engine would
      // refuse; a line end at which the text is complete (a newline no
      // backslash escapes, in a comment too) applies what came before.
      {"set_false_path -to [get_cells r3]; set_false_path -from [get_cells {r1", 7,
       {"3: set_false_path and 1 more command: the file ends inside a { before the last command is complete; none of "
        "the commands from this line on is applied"}},
      {"set_false_path -to [get_cells {r3\n}]; bogus; set_load 1 \"q", 7,
       {"3: set_false_path and 2 more commands: the file ends inside a quote before the last command is complete; none "
        "of the commands from this line on is applied"}},
      {"set_false_path -to [get_cells r3];\\\nset_load 3 [get_ports q] \\", 7,
       {"3: set_false_path and 1 more command: the file ends in a backslash before the last command is complete; none "
        "of the commands from this line on is applied"}},
      {"set_false_path -to [get_cells r3]; # note \\\n\nset_load 3 [get_ports {q", 8,
       {"5: set_load: the file ends inside a { before the command is complete; the command is not applied"}},
      {"set_units -time ps; set_load 1 q\nset_false_path -to [get_cells r3]; set_load 3 [get_ports {q\n\n", 7,
       {"3: set_load is not applied; ignored",
        "4: set_false_path and 1 more command: the file ends inside a { before the last command is complete; none of "
        "the commands from this line on is applied"}},
      {"set_max_delay 1 -through [get_cells r2] -to [get_cells r3]\n", 7,
       {"3: set_max_delay -through is not applied; ignored"}},
      {"set_max_delay 1\nset_false_path\n", 7,
       {"3: set_max_delay without -from or -to names no path; ignored",
        "4: set_false_path without -from or -to names no path; ignored"}},
      {"set_max_delay 1 -from [get_pins g1] -to [get_cells r3]\nset_max_delay 1 -from [get_cells r1] -to [get_pins {g2 g3}]\n", 7,
       {"3: set_max_delay -from \"g1\": not a start point (a register or an input port); skipped",
        "4: set_max_delay -to \"g2\", \"g3\": not an end point (a register or an output port); skipped"}},
      {"set_max_delay 1 -from [get_ports q] -to [get_cells r3]\n", 7, {}},
      {"set_input_delay 1 -clock clk -min [get_ports b]\nset_input_delay 1 -clock clk -rise [get_ports b]\n", 7,
       {"3: set_input_delay -min is not applied (hold is not analysed)",
        "4: set_input_delay -rise is applied to both transitions"}},
      // Ports of the other direction are skipped, as OpenSTA skips them.
      {"set_input_delay 4 -clock clk [get_ports q]\n", 7, {"3: set_input_delay: \"q\" is not an input port; skipped"}},
      {"set_output_delay 4 -clock clk [get_ports {a b q}]\n", 6,
       {"3: set_output_delay: \"a\", \"b\" are not output ports; skipped"}},
      // Targets come in the netlist's order whatever the patterns' order.
      {"set_output_delay 4 -clock clk [get_ports {q b a}]\n", 6,
       {"3: set_output_delay: \"a\", \"b\" are not output ports; skipped"}},
      {"create_clock -name fast -period 4 -add [get_ports clk]\n", 7,
       {"3: create_clock -add is not applied to registers: they keep the first clock of their source"}},
      // Without -add a clock takes its sources from the clocks that had
      // them, as OpenSTA moves them (the registers kept the first clock);
      // one left without sources is removed with the delays naming it, as
      // OpenSTA removes it (it stayed as a virtual clock, and a's delay
      // with it: 0).
      {"create_clock -name fast -period 4 [get_ports clk]\n", 1,
       {"3: create_clock: clock \"clk\" has no source left; it is removed, with the I/O delays and path rules that "
        "name it"}},
      {"sdc_version 2.1\ncurrent_design top\n", 7, {}},
      // The version as tools write it, a variable set, reads as the command.
      {"set sdc_version 2.1\nset_false_path -to [get_cells r3]\n", 8, {}},
      // Options the engine does not model skip their command (they were
      // errors that stopped the analysis), or only themselves where the
      // command means the same without them; their values are consumed.
      {"set_max_delay 1 -rise_from [get_cells r1] -to [get_cells r3]\nset_false_path -fall_to r3\n", 7,
       {"3: set_max_delay -rise_from is not applied; ignored", "4: set_false_path -fall_to is not applied; ignored"}},
      {"set_false_path -from [get_cells r1] -rise_through g1\nset_max_delay 1 -fall_through [get_pins g2] -to r3\n", 7,
       {"3: set_false_path -rise_through is not applied; ignored",
        "4: set_max_delay -fall_through is not applied; ignored"}},
      {"set_false_path -rise -to [get_cells r3]\nset_max_delay 1 -fall -from [get_cells r1]\n", 7,
       {"3: set_false_path -rise is not applied; ignored", "4: set_max_delay -fall is not applied; ignored"}},
      {"set_max_delay 1 -datapath_only -from [get_cells r1]\nset_max_delay 1 -reset_path -to [get_cells r3]\n", 7,
       {"3: set_max_delay -datapath_only is not applied; ignored", "4: set_max_delay -reset_path is not applied; ignored"}},
      // set_max_delay -ignore_clock_latency applies (edges at 0 change
      // nothing); set_false_path has no such option.
      {"set_false_path -ignore_clock_latency -to [get_cells r3]\n"
       "set_max_delay 5 -ignore_clock_latency -to [get_cells r3]\n",
       2, {"3: set_false_path -ignore_clock_latency is not applied; ignored"}},
      {"set_max_delay 5 -to [get_cells r3] -comment {tight}\n", 2,
       {"3: set_max_delay -comment is not applied; the rest of the command is"}},
      {"set_input_delay 1 -clock clk -reference_pin [get_ports clk] [get_ports b]\n"
       "set_input_delay 5 -clock clk -source_latency_included -network_latency_included [get_ports b]\n", 5,
       {"3: set_input_delay -reference_pin is not applied; ignored",
        "4: set_input_delay -source_latency_included is not applied (clock latency is not modelled); the rest of the command is",
        "4: set_input_delay -network_latency_included is not applied (clock latency is not modelled); the rest of the command is"}},
      {"create_clock -name clk -period 10 -comment \"main clock\" [get_ports clk]\n", 7,
       {"3: create_clock -comment is not applied; the rest of the command is"}},
      {"create_clock -name v -period 0\n", 7, {}},  // read as OpenSTA reads it, without a word
      {"create_clock -name clk -period 10 -waveform {6 1} [get_ports clk]\n", 7,
       {"3: create_clock -waveform: the fall edge comes before the rise edge; taken one period later, at 11"}},
      // Ports that clock no register launch their data at their clock's
      // edges, as OpenSTA launches them: d at 8 into r1 and r2 at 10 (they
      // were a warning, their paths not timed: 7).
      {"create_clock -name d -period 4 [get_ports {a b}]\n", 2, {}},
      // Under -ignore_clock_latency such data is not timed by the rule,
      // with the warning any clock port's data gets (it was the warning
      // that b clocks no register).
      {"create_clock -name d -period 4 [get_ports b]\nset_max_delay 8 -from [get_clocks d] -ignore_clock_latency\n", 7,
       {"4: set_max_delay -ignore_clock_latency: the clock data of port \"b\" is not timed by it (OpenSTA counts the "
        "whole path as clock latency: its slack is the value less any output delay, whatever the logic)"}},
      // Options inside a collection the engine does not apply are warned,
      // and their values are not taken as patterns.
      // Those that could narrow the collection skip the command; -nocase
      // without -regexp changes nothing, as in OpenSTA.
      {"set_false_path -to [get_pins -of_objects [get_cells r3]]\nset_false_path -to [get_cells -nocase -filter "
       "\"is_sequential\" r3]\nset_false_path -to [get_cells -nocase r3]\n", 8,
       {"3: set_false_path: get_pins -of_objects is not applied; ignored", "4: get_cells -nocase is ignored without -regexp",
        "4: set_false_path: get_cells -filter is not applied; ignored", "5: get_cells -nocase is ignored without -regexp"}},
      // -regexp is applied (it skipped the output delay); a create_clock
      // whose sources cannot be read ends the read (SscSdc.ProblemsArePosted…).
      {"set_input_delay 1 -clock [get_clocks -filter \"period>5\" clk] [get_ports b]\n"
       "set_output_delay 1 -clock clk [get_ports -regexp q]\ncreate_clock -name v -period 5\n"
       "set_input_delay 3 -clock v [get_ports b]\n", 2,
       {"3: set_input_delay: get_clocks -filter is not applied; ignored"}},
      // ';' inside braces and quotes splits no command, and inside brackets
      // it ends the collection's command, as Tcl reads it (the collection
      // took ";" for a pattern); a continued line without a blank keeps its
      // words apart.
      {"set_false_path -to {r3 ;zz}\nset_false_path -to [get_cells r3 ;]\nset_false_path -to \"r3;\"\n", 8,
       {"3: no port or cell matches \";zz\"", "5: no port or cell matches \"r3;\""}},
      {"set_input_delay 5 -clock clk\\\n[get_ports b]\n", 5, {}},
      // Commands split at ';', a trailing comment, -clock as a collection.
      {"set_multicycle_path 2 -from [get_clocks clk] ; set_clock_uncertainty 1 ;# both\n", 7,
       {"3: set_multicycle_path is not applied; ignored", "3: set_clock_uncertainty is not applied; ignored"}},
      {"set_input_delay 5 -clock [get_clocks clk] [get_ports b]; set_output_delay 4 -clock {clk} [get_ports q] ;# io\n",
       5, {}},
      {"set_input_delay 6 -clock [get_clocks {clk}] [get_ports \"b\"];# \"q\" ; set_output_delay 9 -clock clk q\n", 4, {}},
      // Commands the engine does not model are warned, these too (they
      // ended the read); "-clock *" names no clock: the delay applies
      // without one (b then reaches no capture); a clock on an output port
      // leaves it untimed, with a word.
      {"create_voltage_area -name va -coordinate {0 0 9 9} [get_cells r1]\nset_level_shifter_strategy -rule all\n"
       "set_level_shifter_threshold -voltage 0.1\nset_min_porosity 10 [get_cells r2]\n", 7,
       {"3: create_voltage_area is not applied; ignored", "4: set_level_shifter_strategy is not applied; ignored",
        "5: set_level_shifter_threshold is not applied; ignored", "6: set_min_porosity is not applied; ignored"}},
      {"set_input_delay 4 -clock * [get_ports b]\n", 7,
       {"3: set_input_delay -clock: no clock is named \"*\"; the delay is applied without a clock"}},
      {"create_clock -name o -period 4 [get_ports q]\nset_output_delay 9 -clock clk [get_ports q]\n", 7,
       {"3: create_clock: output port \"q\" clocks no register; paths to it are not timed"}},
      // A skipped command's targets are read without a word; a -filter
      // that leaves get_clocks no pattern names no clock; an I/O delay
      // given -reference_pin is not applied at all.
      {"set_multicycle_path 2 -from [get_cells zz] -to [get_cells -filter x r3]\n", 7,
       {"3: set_multicycle_path is not applied; ignored"}},
      {"set_false_path -from [get_clocks -filter \"name==clk\"]\n", 7,
       {"3: set_false_path: get_clocks -filter is not applied; ignored"}},
      {"set_input_delay 6 -clock clk -reference_pin [get_ports clk] [get_ports b]\n", 7,
       {"3: set_input_delay -reference_pin is not applied; ignored"}},
      // A clock port that also feeds data launches it at the clock's edges,
      // as OpenSTA does: clk's fall at 5 through the AND into r2 (4). r3,
      // behind a gate not unate in clk, is clocked on both edges (r2 to r3
      // at the fall: 5); r4 by clk, and by c2 as well once clk2 has a
      // clock, without a warning (they were left without a clock, and the
      // warning cited the last create_clock).
      {"", 4, {}, gated},
      {"create_clock -name c2 -period 10 [get_ports clk2]\ncreate_clock -name v -period 7\n", 4, {}, gated},
      // all_registers -clock takes r3 and r4, clocked through gates; the
      // false path from them leaves the path from the clock port.
      {"set_output_delay 3 -clock clk [get_ports q]\nset_false_path -from [all_registers -clock clk]\n", 4, {},
       gated},
      // Under -ignore_clock_latency OpenSTA times the clock's data path as
      // all clock latency (no delay); the engine does not time it under
      // the rule, with a word naming the port (it said nothing).
      {"set_max_delay 8 -from [get_clocks clk] -ignore_clock_latency\n", 6,
       {"3: set_max_delay -ignore_clock_latency: the clock data of port \"clk\" is not timed by it (OpenSTA counts "
        "the whole path as clock latency: its slack is the value less any output delay, whatever the logic)"},
       gated},
      // So for a rule without -from, which holds every start point.
      {"set_max_delay 8 -to [get_cells r2] -ignore_clock_latency\n", 5,
       {"3: set_max_delay -ignore_clock_latency: the clock data of port \"clk\" is not timed by it (OpenSTA counts "
        "the whole path as clock latency: its slack is the value less any output delay, whatever the logic)"},
       gated},
      // A clock port whose data reaches a logic loop (n1, n3) is not timed
      // as data, with a word (the engine may cut the loop elsewhere than
      // OpenSTA).
      {"", 7, {"1: create_clock: port \"clk\" also feeds data logic that reaches a logic loop; its data paths are not timed"},
       ".model o\n.inputs clk a\n.outputs q\n.names clk n3 n1\n11 1\n.names n1 a n3\n1- 1\n-1 1\n"
       ".latch n3 r1 re clk 0\n.latch a r2 re clk 0\n.names r2 q\n1 1\n.end\n"},
      // A register whose clock pin only a loop through clock pins feeds
      // (r1 clocks itself through g; r3 through r1) is named: OpenSTA
      // launches its paths without a clock.
      {"", 8, {"1: registers \"r1\", \"r3\": their clock pins are fed only by a loop through registers' clock pins "
               "that no port reaches; their paths are not timed (OpenSTA cuts the loop and launches them without a clock)"},
       ".model l\n.inputs clk a\n.outputs q\n.names r1 g\n1 1\n.latch a r1 re g 0\n.latch a r2 re clk 0\n"
       ".names r1 h\n0 1\n.latch a r3 re h 0\n.names r1 r2 r3 q\n111 1\n.end\n"},
  };
  const std::string clock = "create_clock -name clk -period 10 [get_ports clk]\nset_input_delay 2 -clock clk [get_ports a]\n";
  for (const ROW& row : rows) {
    PIPELINE p;
    LOADED_NETLIST other;
    if (row.blif) {
      BLIF_RESULT in = blif_read_string(row.blif);
      ASSERT_NE(in.netlist, nullptr) << in.error;
      other = LOADED_NETLIST(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    }
    msg_log_clear();
    analyze(row.blif ? other.get() : &p.nl, SSC_DELAY_MODEL_UNIT, clock + row.sdc);
    EXPECT_EQ(ssc_get_util()->get_worst_slack(), row.worst) << row.sdc;
    std::vector<std::string> expected;
    for (const std::string& w : row.warnings) expected.push_back("SDC file \"t.sdc\", line " + w);
    EXPECT_EQ(posted(MSG_LOG_WARNING), expected) << row.sdc;
    ssc_get_util()->delete_netlist();
  }
  // A kept read is given again only to the netlist it was read against: r3's
  // clock gate turned from XOR into AND under the same names clocks r3 by
  // clk, so all_registers -clock clk takes it and the path into it is cut.
  // (The first netlist is analysed twice: a read is kept from the second.)
  {
    BLIF_RESULT in = blif_read_string(gated);
    ASSERT_NE(in.netlist, nullptr) << in.error;
    LOADED_NETLIST g(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    const std::string cut = clock + "set_false_path -to [all_registers -clock clk]\n";
    int worst[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
      if (k == 1)
        for (CDB_SGATE_NODE* n : g->get_node_list())
          if (CDB_SGATE_LUT* lut = n ? n->cast_to_lut() : nullptr;
              lut && lut->get_output_term(0)->get_string_hpath() == "w|x") {
            CDB_LUTMASK and2;
            and2.set_value(2, 0x8);
            lut->set_lut_mask(and2);
          }
      for (int twice = k == 0 ? 2 : 1; twice > 0; --twice) {
        analyze(g.get(), SSC_DELAY_MODEL_UNIT, cut);
        worst[k] = ssc_get_util()->get_worst_slack();
        ssc_get_util()->delete_netlist();
      }
    }
    EXPECT_EQ(worst[0], SSC_UNCONSTRAINED_SLACK);
    EXPECT_EQ(worst[1], SSC_UNCONSTRAINED_SLACK);
  }
  // Netlists that differ only where the read looks through the gates: the
  // second analysed after the first in one process gives what it gives in a
  // fresh one (slacks, worst slack, warnings), and the other way round. A
  // multiplexer's inputs moved under the same names ({clk, en} into data
  // inputs, then into data and select, the tied input moving) once reused
  // the first read: r2 stayed in all_registers -clock c (700 where a fresh
  // process gives -200), and a warning was lost. The key holds each arc's
  // source too: a gate's clock input moved to another clock.
  struct KEPT_ROW {
    const char *first, *second;
  } const kept_rows[] = {
      {"$_MUX_ A=en B=clk S=$true Y=g", "$_MUX_ A=$true B=en S=clk Y=g"},
      {"$_MUX_ A=en B=clk S=$false Y=g", "$_MUX_ A=en B=$false S=clk Y=g"},
      // The gate's clock input moved from clk to gb (clock c2): r2 leaves
      // all_registers -clock c.
      {"$_AND_ A=clk B=en Y=g", "$_AND_ A=gb B=en Y=g"},
  };
  auto outcome = [&](const char* gate) {
    const std::string blif = std::string(".model m\n.inputs clk en a gb\n.outputs q\n.latch a r1 re clk 0\n.subckt ") + gate +
                             "\n.names r1 d\n1 1\n.latch d r2 re g 0\n.names r2 q\n1 1\n.end\n";
    BLIF_RESULT in = blif_read_string(blif);
    EXPECT_NE(in.netlist, nullptr) << in.error;
    if (!in.netlist) return std::vector<std::string>{};
    LOADED_NETLIST nl(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    ssc_forget_posted_warnings();
    msg_log_clear();
    const SSC_ITERM_TIMING_INFO_MAP map =
        analyze(nl.get(), SSC_DELAY_MODEL_TABLE,
                "create_clock -name c -period 1000 [get_ports clk]\ncreate_clock -name c2 -period 700 [get_ports gb]\n"
                "set_input_delay 0 -clock c [get_ports a]\n"
                "set_max_delay 100 -to [all_registers -clock c]\n");
    std::vector<std::string> seen = posted(MSG_LOG_WARNING);
    for (const auto& [t, info] : map)
      seen.push_back(t->get_my_node()->get_string_hpath() + ":" + std::to_string(info.m_slack));
    std::sort(seen.begin() + long(seen.size() - map.size()), seen.end());
    seen.push_back("worst " + std::to_string(ssc_get_util()->get_worst_slack()));
    ssc_get_util()->delete_netlist();
    return seen;
  };
  for (const KEPT_ROW& row : kept_rows) {
    for (const auto& [one, other] : {std::pair{row.first, row.second}, std::pair{row.second, row.first}}) {
      ssc_forget_kept_reads();
      const std::vector<std::string> fresh = outcome(other);
      ssc_forget_kept_reads();
      outcome(one);
      outcome(one);  // kept from its second read
      EXPECT_EQ(outcome(other), fresh) << other << " after " << one;
    }
  }
  // What the kept reads hold (texts, netlist keys and constraints) stays
  // within 16 MiB: a text just under it is not kept (the bound once counted
  // the text alone, and a million-gate netlist's key added 54 MB beside a
  // short file); a short one read twice is, and ssc_forget_kept_reads
  // drops it.
  {
    ssc_forget_kept_reads();
    const size_t bound = size_t(16) << 20;
    std::string near = clock;
    const std::string comment = "# " + std::string(60, 'x') + "\n";
    while (near.size() + comment.size() < bound - 16) near += comment;
    PIPELINE p;
    for (int twice = 0; twice < 2; ++twice) {
      analyze(&p.nl, SSC_DELAY_MODEL_UNIT, near);
      EXPECT_EQ(ssc_get_util()->get_worst_slack(), 7);
      ssc_get_util()->delete_netlist();
      EXPECT_LE(ssc_kept_read_bytes(), bound);
    }
    for (int twice = 0; twice < 2; ++twice) {
      analyze(&p.nl, SSC_DELAY_MODEL_UNIT, clock);
      ssc_get_util()->delete_netlist();
    }
    EXPECT_GT(ssc_kept_read_bytes(), clock.size());
    EXPECT_LE(ssc_kept_read_bytes(), bound);
    ssc_forget_kept_reads();
    EXPECT_EQ(ssc_kept_read_bytes(), 0u);
    // A netlist whose names alone pass the bound keeps its read from the
    // first analysis: the read holds a digest of the netlist, not its bytes
    // (a key of its bytes once kept no read on a large netlist).
    std::string blif = ".model m\n.inputs clk a\n.outputs q\n", last = "a";
    for (int k = 0; k < 2200; ++k) {
      const std::string name = "r" + std::to_string(k) + std::string(8000, 'x');
      blif += ".latch " + last + " " + name + " re clk 0\n";
      last = name;
    }
    BLIF_RESULT in = blif_read_string(blif + ".names " + last + " q\n1 1\n.end\n");
    ASSERT_NE(in.netlist, nullptr) << in.error;
    LOADED_NETLIST large(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    analyze(large.get(), SSC_DELAY_MODEL_UNIT, clock);
    ssc_get_util()->delete_netlist();
    EXPECT_GT(ssc_kept_read_bytes(), clock.size());
    EXPECT_LE(ssc_kept_read_bytes(), bound);
    ssc_forget_kept_reads();
  }
  // The analysis runs many times on one file: each warning is posted once
  // (five analyses once posted each five times). A file posts its first
  // hundred warnings, then how many more there are (a file of unmatched
  // patterns once posted millions).
  struct REPEAT_ROW {
    int unmatched, analyses;
    size_t posted;
    const char* last;
  } const repeats[] = {{1, 3, 1, "SDC file \"t.sdc\", line 3: set_multicycle_path is not applied; ignored"},
                       {150, 2, 100, "SDC file \"t.sdc\", and 50 more warnings"}};
  for (const REPEAT_ROW& row : repeats) {
    std::string sdc = clock + "set_multicycle_path 2 -to [get_cells r3]\n";
    for (int k = 1; k < row.unmatched; ++k) sdc += "set_false_path -to zz" + std::to_string(k) + "\n";
    write_file("t.sdc", sdc);
    CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
    PIPELINE q;
    SSC_UTIL* u = ssc_get_util();
    ASSERT_TRUE(u->initialize_netlist(nullptr, &q.nl, SSC_DELAY_MODEL_UNIT, nullptr));
    msg_log_clear();
    for (int k = 0; k < row.analyses; ++k) EXPECT_TRUE(u->update_sta());
    const std::vector<std::string> got = posted(MSG_LOG_WARNING);
    ASSERT_EQ(got.size(), row.posted + (row.unmatched > 100 ? 1 : 0)) << row.unmatched;
    EXPECT_EQ(got.back(), row.last);
    EXPECT_EQ(std::count(got.begin(), got.end(), got.front()), 1);
    u->delete_netlist();
  }
  // A -clock collection must name one clock.
  PIPELINE p;
  write_file("t.sdc", clock + "create_clock -name v -period 5\nset_input_delay 1 -clock [get_clocks *] [get_ports b]\n");
  CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  ASSERT_TRUE(u->initialize_netlist(nullptr, &p.nl, SSC_DELAY_MODEL_UNIT, nullptr));
  msg_log_clear();
  EXPECT_FALSE(u->update_sta());
  EXPECT_EQ(posted(MSG_LOG_ERROR),
            std::vector<std::string>{"SDC file \"t.sdc\", line 4: more than one clock in -clock [get_clocks *]"});
  u->delete_netlist();
}

// The registers an unfinished last text names count as named, those of
// every command in it (register merging keeps them apart), and none of its
// rules is made.
TEST(SscSdc, RegistersOfADroppedLastTextCountAsNamed) {
  PIPELINE p;
  SSC_NETLIST_DATA data;
  data.build({&p.nl}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  for (const char* sdc : {"set_false_path -to [get_cells r3]; set_false_path -from [get_cells {r1",
                          "set_max_delay 1 -to r3; bogus -to {r1}; set_load 1 [get_cells r1] \\"}) {
    SSC_CONSTRAINTS c;
    std::string error;
    ASSERT_TRUE(ssc_read_sdc(sdc, data, &c, &error)) << error;
    EXPECT_TRUE(c.rules.empty()) << sdc;
    EXPECT_EQ(sorted_leaf_names(data, c.named_registers), (std::vector<std::string>{"r1", "r3"})) << sdc;
  }
}

// The analyses of a kept read share the index of path rules the read made:
// one read, one index, however many analyses follow (each once made its
// own, or the read made none and each analysis one). A long file is kept
// as a short one is while the kept reads stay within 16 MiB (reads over
// 256 KiB once went unkept, and every later analysis read the file again).
// Counted (ssc_test_counts), never timed.
TEST(SscConstraints, KeptReadsShareTheirRuleIndexAndLongFilesAreKept) {
  const std::string short_file = pipeline_sdc(10) + "set_max_delay 6 -from [get_cells r1] -to [get_cells r3]\n";
  std::string long_file = short_file;
  for (int k = 0; long_file.size() < (size_t(1) << 20); ++k)
    long_file += "set_max_delay " + std::to_string(7 + k % 5) + " -from [get_cells r2] -to [get_cells r3]\n";
  PIPELINE p;
  SSC_NETLIST_DATA data;
  data.build({&p.nl}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  for (const std::string* sdc : std::initializer_list<const std::string*>{&short_file, &long_file}) {
    const size_t lines = size_t(std::count(sdc->begin(), sdc->end(), '\n'));
    // A read alone makes its index.
    SSC_TEST_COUNTS before = ssc_test_counts();
    SSC_CONSTRAINTS read;
    std::string error;
    ASSERT_TRUE(ssc_read_sdc(*sdc, data, &read, &error)) << error;
    EXPECT_TRUE(read.rule_index.built) << lines;
    EXPECT_EQ(ssc_test_counts().rule_indexes - before.rule_indexes, 1u) << lines;
    // Three analyses of the file: read and kept by the first, given again
    // to the others, with the one index.
    ssc_forget_kept_reads();
    before = ssc_test_counts();
    int worst[3];
    for (int& w : worst) {
      analyze(&p.nl, SSC_DELAY_MODEL_UNIT, *sdc);
      w = ssc_get_util()->get_worst_slack();
      ssc_get_util()->delete_netlist();
    }
    const SSC_TEST_COUNTS after = ssc_test_counts();
    EXPECT_EQ(after.rule_indexes - before.rule_indexes, 1u) << lines;
    EXPECT_EQ(after.reads_kept - before.reads_kept, 1u) << lines;
    EXPECT_EQ(after.reads_reused - before.reads_reused, 2u) << lines;
    EXPECT_GT(ssc_kept_read_bytes(), sdc->size()) << lines;
    EXPECT_EQ(worst[0], 3) << lines;  // the rule from r1: 6 less the path of 3
    EXPECT_EQ(worst[1], worst[0]) << lines;
    EXPECT_EQ(worst[2], worst[0]) << lines;
  }
  ssc_forget_kept_reads();
}

#ifndef KAVU_UNDER_ASAN
namespace {

// Large blocks from fresh mappings, whatever memory the process freed
// before (glibc's threshold otherwise rises to 32 MiB as blocks are freed).
void map_large_blocks_afresh() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 64 << 10);
#endif
}

// Takes every block the allocator still gives under the process's address
// space limit (freed memory it holds too), largest first, then gives back
// the last ones, some `margin` bytes; the rest until the object goes:
// memory refused at a chosen point.
class MEMORY_FILLER {
 public:
  explicit MEMORY_FILLER(size_t margin) {
    m_blocks.reserve(size_t(1) << 20);
    for (size_t size = size_t(1) << 34; size >= 16 && m_blocks.size() < m_blocks.capacity(); size /= 2)
      while (m_blocks.size() < m_blocks.capacity())
        if (void* p = std::malloc(size)) m_blocks.push_back({p, size});
        else break;
    for (size_t freed = 0; freed < margin && !m_blocks.empty(); m_blocks.pop_back()) {
      std::free(m_blocks.back().first);
      freed += m_blocks.back().second;
    }
  }
  ~MEMORY_FILLER() {
    for (const auto& block : m_blocks) std::free(block.first);
  }

 private:
  std::vector<std::pair<void*, size_t>> m_blocks;
};

// Runs `fn` in a child left with about `available` bytes of memory: the
// child takes every 4 KiB block it can get (from memory freed before and
// from the address space its limit allows), then gives back the last ones
// it took. True when `fn` returned true (false when the child died).
bool run_with_memory_left(size_t available, const std::function<bool()>& fn) {
  return run_within_address_space(available + (uint64_t(32) << 20), [&] {
    void* last = nullptr;  // each block holds the one taken before it
    while (void* p = std::malloc(4080)) {
      *static_cast<void**>(p) = last;
      last = p;
    }
    // The address space malloc left (it asks for no less than 1 MiB).
    while (::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) != MAP_FAILED) {
    }
    for (size_t freed = 0; last && freed < available; freed += 4096) {
      void* before = *static_cast<void**>(last);
      std::free(last);
      last = before;
    }
    return fn();
  });
}

// Whether the process holds less than 4 MiB of freed memory to reuse.
bool heap_is_fresh() {
#ifdef __GLIBC__
  return mallinfo2().fordblks < (size_t(4) << 20);
#else
  return false;
#endif
}

}  // namespace
#endif

// A file of thousands of max-delay rules, each from one register to the
// next of a chain: every register is a launch group and a capture group of
// its own (16,000 groups). The analysis keeps the relations of the pairs
// of groups its paths join, not tables of groups x groups (three such
// tables, 2.3 GB here, once aborted the process on their allocation), and
// a group's rule set lists the rules naming its points, not the rules
// without a -from side nor those from its clock, which every launch group
// holds (listed in each, they took 0.5 GB more, and as much in the index):
// each register reads its own rule, which outranks those, within an address
// space of 512 MB above what the process holds; under smaller ones the
// analysis either gives the same slacks or fails with an error saying
// memory was refused, and never aborts.
TEST(SscConstraints, ThousandsOfPathRulesEachOnItsOwnPoints) {
  constexpr int kRegisters = 8000;
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* d = make_input_pin(&nl, "a");
  std::vector<CDB_SGATE_NODE*> regs;
  std::string sdc = "create_clock -name clk -period 1000 [get_ports clk]\n";
  for (int i = 0; i < kRegisters; ++i) {
    const std::string name = "r" + std::to_string(i);
    regs.push_back(named(make_dff(&nl, d, clk), name.c_str()));
    d = make_lut(&nl, {regs.back()}, 0x2);  // passes the register's output
    if (i > 0)
      sdc += "set_max_delay " + std::to_string(100 + i % 7) + " -from [get_cells r" + std::to_string(i - 1) +
             "] -to [get_cells " + name + "]\nset_max_delay 5000 -to [get_cells " + name +
             "]\nset_max_delay 6000 -from [get_clocks clk] -to [get_cells " + name + "]\n";
  }
  write_file("t.sdc", sdc);
  CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
  auto slacks_of_their_rules = [&] {
    if (!u->update_sta()) return false;
    for (int i = 1; i < kRegisters; ++i)
      if (u->get_iterm_slack(regs[size_t(i)]->get_input_term(0)) != 100 + i % 7 - 1) return false;
    return u->get_worst_slack("clk") == 99;
  };
#ifndef KAVU_UNDER_ASAN  // ASan reserves more address space than any such limit
  // Budgets from 1 to 64 MiB above what the process holds: the read or the
  // analysis is refused with one error, or the slacks are right. Blocks of
  // 64 KiB and more are mapped afresh in the child (not taken from memory
  // freed before), so that some budget holds the read but not the analysis
  // (the child leaves a file saying so).
  int refusals = 0;
  for (uint64_t budget = uint64_t(1) << 20; budget <= (uint64_t(64) << 20); budget += budget / 4) {
    const std::string mark = "refused_" + std::to_string(budget);
    const bool told = run_within_address_space(budget, [&] {
      map_large_blocks_afresh();
      msg_log_clear();
      if (slacks_of_their_rules()) return true;
      const std::vector<std::string> errors = posted(MSG_LOG_ERROR);
      if (errors.size() != 1 || errors[0].find("not enough memory") == std::string::npos) return false;
      if (errors[0].rfind("Timing analysis: not enough memory", 0) == 0) write_file(mark, "");
      return true;
    });
    EXPECT_TRUE(told) << budget;
    refusals += std::filesystem::exists(mark);
  }
  // Some budget held the read but not the analysis, unless memory freed
  // by earlier tests in this process holds both (ctest runs each alone).
  if (heap_is_fresh()) {
    EXPECT_GT(refusals, 0);
  }
  EXPECT_TRUE(run_within_address_space(uint64_t(512) << 20, slacks_of_their_rules));
  // The same with the timing netlist built, and the constraints indexed for
  // a query, within the budget: memory refused while the netlist is built
  // is one error and leaves nothing held (it once ended the process from
  // the netlist's arcs), and one refused while the query indexes the
  // constraints leaves no part of an index the next query would use.
  int builds_refused = 0;
  u->delete_netlist();
  for (uint64_t budget = uint64_t(256) << 10; budget <= (uint64_t(8) << 20); budget += budget / 4) {
    const std::string mark = "build_refused_" + std::to_string(budget);
    const bool told = run_within_address_space(budget, [&] {
      map_large_blocks_afresh();
      msg_log_clear();
      if (u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr)) {
        // 1: the register is constrained; 0: one error says memory was refused.
        auto answer = [&] {
          msg_log_clear();
          if (u->oterm_has_sdc_constraint(regs[5]->get_output_term(0))) return 1;
          const std::vector<std::string> errors = posted(MSG_LOG_ERROR);
          return errors.size() == 1 && errors[0].find("not enough memory") != std::string::npos ? 0 : -1;
        };
        const int first = answer();
        return first == 1 || (first == 0 && answer() >= 0);
      }
      write_file(mark, "");
      return !u->is_in_use() && posted(MSG_LOG_ERROR) ==
             std::vector<std::string>{"Timing analysis: not enough memory to build the timing netlist"};
    });
    EXPECT_TRUE(told) << budget;
    builds_refused += std::filesystem::exists(mark);
  }
  // Some budget refused the build, unless memory freed by earlier tests in
  // this process held it (ctest runs each test alone, in a fresh process).
  if (::testing::UnitTest::GetInstance()->test_to_run_count() == 1) {
    EXPECT_GT(builds_refused, 0);
  }
  ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
  // The index refused at points along its making, the analysis done: a
  // refused index answers that the register may be constrained (it once
  // answered no, and every register was merged), and with memory back the
  // next queries answer from a whole index: every register is named.
  ASSERT_TRUE(u->update_sta());
  int indexes_refused = 0;
  for (size_t margin = size_t(16) << 10; margin <= (size_t(2) << 20); margin += margin / 2) {
    const std::string mark = "index_refused_" + std::to_string(margin);
    const bool told = run_within_address_space(uint64_t(256) << 20, [&] {
      msg_log_clear();
      {
        MEMORY_FILLER full(margin);
        if (!u->oterm_has_sdc_constraint(regs[5]->get_output_term(0))) return false;
      }
      if (!posted(MSG_LOG_ERROR).empty()) write_file(mark, "");
      for (CDB_SGATE_NODE* r : regs)
        if (!u->oterm_has_sdc_constraint(r->get_output_term(0))) return false;
      return !u->oterm_has_sdc_constraint(regs[5]->get_input_term(0)->get_source());
    });
    EXPECT_TRUE(told) << margin;
    indexes_refused += std::filesystem::exists(mark);
  }
  if (heap_is_fresh()) {
    EXPECT_GT(indexes_refused, 0);
  }
  // 600 registers through an XOR tree and 1,000 inverters into 600 others,
  // a max-delay rule per pair (1,200 groups): the analysis holds the
  // required times of a few nodes at a time, not every node's required and
  // downstream times and every pair's relation (76 MB, refused under 40
  // MiB): c_k reads its rule less the 1,010 gates.
  {
    CDB_SGATE_NETLIST shared;
    CDB_SGATE_NODE* shared_clk = make_input_pin(&shared, "clk");
    CDB_SGATE_NODE* in = make_input_pin(&shared, "in");
    std::vector<CDB_SGATE_NODE*> level, ends;
    std::vector<std::vector<int>> leaves;  // per node of the level, the registers under it
    std::vector<int> gates(600, 1000);     // per register, the gates on its path
    std::string pairs = "create_clock -name clk -period 3000 [get_ports clk]\n";
    for (int k = 0; k < 600; ++k) {
      level.push_back(named(make_dff(&shared, in, shared_clk), ("l" + std::to_string(k)).c_str()));
      leaves.push_back({k});
      pairs += "set_max_delay " + std::to_string(2000 + k) + " -from [get_cells l" + std::to_string(k) +
               "] -to [get_cells c" + std::to_string(k) + "]\n";
    }
    while (level.size() > 1) {
      std::vector<CDB_SGATE_NODE*> next;
      std::vector<std::vector<int>> under;
      for (size_t k = 0; k + 1 < level.size(); k += 2) {
        next.push_back(make_lut(&shared, {level[k], level[k + 1]}, 0x6));
        under.push_back(leaves[k]);
        under.back().insert(under.back().end(), leaves[k + 1].begin(), leaves[k + 1].end());
        for (int r : under.back()) ++gates[size_t(r)];
      }
      if (level.size() % 2) {
        next.push_back(level.back());
        under.push_back(leaves.back());
      }
      level.swap(next);
      leaves.swap(under);
    }
    for (int k = 0; k < 1000; ++k) level[0] = make_lut(&shared, {level[0]}, 0x1);
    for (int k = 0; k < 600; ++k)
      ends.push_back(named(make_dff(&shared, level[0], shared_clk), ("c" + std::to_string(k)).c_str()));
    write_file("shared.sdc", pairs);
    CFG_SCOPE shared_sdc{{"ssc_sdc_file", "shared.sdc"}};
    u->delete_netlist();
    ASSERT_TRUE(u->initialize_netlist(nullptr, &shared, SSC_DELAY_MODEL_UNIT, nullptr));
    EXPECT_TRUE(run_within_address_space(uint64_t(40) << 20, [&] {
      map_large_blocks_afresh();
      if (!u->update_sta()) return false;
      for (size_t k = 0; k < ends.size(); ++k)
        if (u->get_iterm_slack(ends[k]->get_input_term(0)) != 2000 + int(k) - gates[k]) return false;
      return true;
    }));
    u->delete_netlist();
  }
  ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
#endif
  EXPECT_TRUE(slacks_of_their_rules());
  u->delete_netlist();
}

// The stored timing netlist is read only from a regular file: a FIFO, a
// device or a directory in its place is refused (the FIFO once hung the
// reader, /dev/zero grew without end).
// With many groups, the required times of a node are held only from its
// first reader to the node itself, and their blocks are given back for the
// next nodes: 100 launch groups along 600 shared inverters hold a few
// blocks of 128 slots at once (kept, they were 600 of them), with the
// slacks their rules give.
TEST(SscAnalysis, RequiredTimesHoldAFewBlocksAtOnce) {
  constexpr int kPairs = 100, kChain = 600;
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* in = make_input_pin(&nl, "in");
  std::string sdc = "create_clock -name clk -period 100000 [get_ports clk]\nset_input_delay 0 -clock clk [get_ports in]\n";
  std::vector<CDB_SGATE_NODE*> level;
  for (int k = 0; k < kPairs; ++k) level.push_back(named(make_dff(&nl, in, clk), ("l" + std::to_string(k)).c_str()));
  int depth = 0;
  for (; level.size() > 1; ++depth) {
    std::vector<CDB_SGATE_NODE*> next;
    for (size_t i = 0; i + 1 < level.size(); i += 2) next.push_back(make_lut(&nl, {level[i], level[i + 1]}, 0x6));
    if (level.size() % 2) next.push_back(level.back());
    level.swap(next);
  }
  CDB_SGATE_NODE* d = level[0];
  for (int i = 0; i < kChain; ++i) d = make_not(&nl, d);
  std::vector<CDB_SGATE_NODE*> ends;
  for (int k = 0; k < kPairs; ++k) {
    ends.push_back(named(make_dff(&nl, d, clk), ("c" + std::to_string(k)).c_str()));
    sdc += "set_max_delay " + std::to_string(2000 + k) + " -from [get_cells l" + std::to_string(k) + "] -to [get_cells c" +
           std::to_string(k) + "]\n";
  }
  SSC_NETLIST_DATA data;
  data.build({&nl}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  SSC_CONSTRAINTS c;
  std::string error;
  ASSERT_TRUE(ssc_read_sdc(sdc, data, &c, &error)) << error;
  SSC_ANALYSIS a;
  ssc_analyze(data, std::move(c), &a);
  EXPECT_GT(a.required_peak, 0u) << "the required times were not used";
  EXPECT_LE(a.required_peak, 4u * 128u);
  // The worst is the first pair's rule less its path (the XOR tree, the
  // inverters and the capture): every rule times only its own pair.
  EXPECT_EQ(a.worst_all, 2000 - (depth + kChain));
}

TEST(SscNetlist, StoredNetlistOnlyFromARegularFile) {
  SSC_UTIL* u = ssc_get_util();
  const std::string dir = gen_get_db_dir_path();
  std::filesystem::create_directories(dir);
  std::string name = "odd";
  const std::string file = dir + "/tdb_odd.tdb";
  for (const char* kind : {"fifo", "device", "directory"}) {
    std::filesystem::remove_all(file);
    if (std::string(kind) == "fifo") {
      ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    }
    if (std::string(kind) == "device") std::filesystem::create_symlink("/dev/zero", file);
    if (std::string(kind) == "directory") std::filesystem::create_directory(file);
    bool read = true;
    run_unblocking(file.c_str(), [&] { read = u->read_tdb_from_pdb(&name); });
    EXPECT_FALSE(read) << kind;
    EXPECT_FALSE(u->is_in_use()) << kind;
    u->delete_netlist();
  }
  std::filesystem::remove_all(file);
}

// Every file the writer leaves, the reader takes: both keep to one bound
// (here a small one given to both). A netlist whose text would pass it is
// refused with the reason and leaves what was at the path as it was: no
// file, a previous file, a symbolic link and the file it names (a bigger
// design once stored a file that every read then refused; a refusal then
// removed the path and cut a link's file). The bound counts the whole text,
// also past the writer's first megabyte (a netlist of long names). A name
// holding a line end is refused at the write, a device's errors are told,
// and a write the system refuses is posted with the path escaped.
TEST(SscNetlist, WriterKeepsToTheBoundTheReaderTakes) {
  PIPELINE p;
  CDB_SGATE_NETLIST long_names;
  for (int k = 0; k < 48; ++k)
    make_output_pin(&long_names, ("o" + std::to_string(k)).c_str(),
                    make_input_pin(&long_names, (std::to_string(k) + std::string(60000, 'n')).c_str()));
  SSC_NETLIST_DATA small, large;
  small.build({&p.nl}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  large.build({&long_names}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  std::ofstream("kept_target.tdb") << "previous\n";
  std::filesystem::create_symlink("kept_target.tdb", "kept_link.tdb");
  std::ofstream("kept_h1.tdb") << "previous\n";
  std::filesystem::create_hard_link("kept_h1.tdb", "kept_h2.tdb");
  std::string why;
  for (SSC_NETLIST_DATA* data : {&small, &large}) {
    data->drop_gate_pointers();
    ASSERT_TRUE(data->write_file("whole.tdb", &why)) << why;
    const uint64_t size = std::filesystem::file_size("whole.tdb");
    ASSERT_GT(size, data == &large ? uint64_t(2) << 20 : 100u);
    for (uint64_t bound : {size - 1, size / 2, uint64_t(10)}) {
      for (const char* target : {"cut.tdb", "kept_link.tdb", "kept_h1.tdb"}) {
        EXPECT_FALSE(data->write_file(target, &why, bound)) << bound;
        EXPECT_EQ(why, "the timing netlist takes more than " + std::to_string(bound) +
                           " bytes, the most a timing-netlist file may hold; not written");
      }
      EXPECT_FALSE(std::filesystem::exists("cut.tdb")) << bound;
      EXPECT_TRUE(std::filesystem::is_symlink("kept_link.tdb"));
      EXPECT_EQ(std::filesystem::file_size("kept_target.tdb"), 9u);
      EXPECT_EQ(std::filesystem::file_size("kept_h1.tdb") + std::filesystem::file_size("kept_h2.tdb"), 18u);
      SSC_NETLIST_DATA back;
      EXPECT_FALSE(back.read_file("whole.tdb", &why, bound)) << bound;
      EXPECT_NE(why.find("larger than"), std::string::npos) << why;
    }
    ASSERT_TRUE(data->write_file("cut.tdb", &why, size)) << why;
    SSC_NETLIST_DATA back;
    ASSERT_TRUE(back.read_file("cut.tdb", &why, size)) << why;
    EXPECT_EQ(back.nodes.size(), data->nodes.size());
    EXPECT_EQ(back.arcs.size(), data->arcs.size());
    std::filesystem::remove("cut.tdb");
  }
  SSC_NETLIST_DATA& data = small;
  if (const std::string full = testkit_full_device(); !full.empty()) {
    EXPECT_FALSE(data.write_file(full, &why));
    EXPECT_EQ(why, "cannot write the file: No space left on device");
    EXPECT_TRUE(std::filesystem::is_character_file(full));
  }
  // A name holding a line end (the BLIF reader makes one of "\0A") or a NUL
  // byte (the reader would refuse it).
  CDB_SGATE_NETLIST odd;
  make_output_pin(&odd, "q", make_input_pin(&odd, "a\nb"));
  SSC_NETLIST_DATA odd_data;
  odd_data.build({&odd}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  odd_data.drop_gate_pointers();
  for (const char* shown : {"\\x0a", "\\x00"}) {
    EXPECT_FALSE(odd_data.write_file("kept_link.tdb", &why));
    EXPECT_EQ(why.rfind(std::string("the node name \"top|a") + shown + "b", 0), 0u) << why;
    EXPECT_NE(why.find("holds a line end or a NUL byte"), std::string::npos) << why;
    EXPECT_EQ(std::filesystem::file_size("kept_target.tdb"), 9u);
    for (TDB_NODE& n : odd_data.nodes) {
      std::string name = n.get_string_name();
      std::replace(name.begin(), name.end(), '\n', '\0');
      SSC_NETLIST_DATA::set_name(n, name);
    }
  }
  // Through the engine: the stored file's place is a directory.
  SSC_UTIL* u = ssc_get_util();
  ASSERT_TRUE(u->initialize_netlist(nullptr, &p.nl, SSC_DELAY_MODEL_UNIT, nullptr));
  std::string part = "d\x07ir";
  const std::string file = gen_get_db_dir_path() + "/tdb_" + part + ".tdb";
  std::filesystem::create_directories(file);
  msg_log_clear();
  EXPECT_FALSE(u->write_tdb_to_pdb(&part));
  // A partition's write that fails fails the stitch too.
  EXPECT_FALSE(u->build_tdb_sub_and_merge(&p.nl, SSC_DELAY_MODEL_UNIT, true, nullptr, true, true, &part));
  std::vector<std::string> errors;
  for (const MSG_LOG_ENTRY& e : msg_log())
    if (e.kind == MSG_LOG_ERROR) errors.push_back(e.text);
  ASSERT_EQ(errors.size(), 2u);
  for (const std::string& error : errors)
    EXPECT_EQ(error.rfind("Timing-netlist file \"" + gen_get_db_dir_path() + "/tdb_d\\x07ir.tdb\": cannot write the file: ", 0),
              0u)
        << error;
  std::filesystem::remove_all(file);
  u->delete_netlist();
}

namespace {

// The input delays port `port` keeps, as "clock/edge value" sorted.
std::vector<std::string> kept_delays(const SSC_NETLIST_DATA& data, const SSC_CONSTRAINTS& c, const std::string& port,
                                     bool input) {
  std::vector<std::string> out;
  for (const SSC_SDC_IO_DELAY& d : c.io_delays)
    for (uint32_t id : d.nodes) {
      const std::string path = SSC_NETLIST_DATA::gate_path_of(data.nodes[id].get_string_name());
      if (d.input == input && path.substr(path.rfind('|') + 1) == port)
        out.push_back(c.clocks[d.clock].name + (d.clock_fall ? "/fall " : "/rise ") + std::to_string(d.value));
    }
  std::sort(out.begin(), out.end());
  return out;
}

// Repeated I/O delays on one port, as OpenSTA keeps them: a new delay
// replaces all the port had, -add_delay keeps both, a -min delay (not
// analysed) still drops other clock edges. The rows are checked against
// OpenSTA's slacks in SscOracle.RepeatedIoDelaysKeepWhatOpenStaKeeps.
struct IO_DELAY_ROW {
  const char* sdc;
  std::vector<std::string> din;  // what input port din keeps
  std::vector<std::string> q0;   // what output port q[0] keeps
};

const std::vector<IO_DELAY_ROW>& io_delay_rows() {
  static const std::vector<IO_DELAY_ROW> rows = {
      // All inputs at 7 and then reset to 5: the last wins (it was the larger).
      {"set_input_delay 7 -clock c [all_inputs]\nset_input_delay 5 -clock c [get_ports din]\n", {"c/rise 5"}, {}},
      {"set_input_delay 5 -clock c [get_ports din]\nset_input_delay 7 -clock c [all_inputs]\n", {"c/rise 7"}, {}},
      {"set_input_delay 7 -clock c [get_ports din]\nset_input_delay 5 -clock c -add_delay [get_ports din]\n",
       {"c/rise 5", "c/rise 7"}, {}},
      {"set_input_delay 2 -clock c [get_ports din]\nset_input_delay 6 -clock d -add_delay [get_ports din]\n",
       {"c/rise 2", "d/rise 6"}, {}},
      // Another clock without -add_delay replaces the first clock's delay.
      {"set_input_delay 6 -clock d [get_ports din]\nset_input_delay 2 -clock c [get_ports din]\n", {"c/rise 2"}, {}},
      {"set_input_delay 6 -clock c [get_ports din]\nset_input_delay 1 -clock c -clock_fall [get_ports din]\n",
       {"c/fall 1"}, {}},
      // -min keeps its own edge's maximum, drops the others.
      {"set_input_delay 6 -clock c [get_ports din]\nset_input_delay 3 -clock d -add_delay [get_ports din]\n"
       "set_input_delay 1 -clock c -min [get_ports din]\n",
       {"c/rise 6"}, {}},
      {"set_output_delay 4 -clock c [get_ports {q[*]}]\nset_output_delay 1 -clock c [get_ports {q[0]}]\n", {},
       {"c/rise 1"}},
      {"set_output_delay 1 -clock c [get_ports {q[0]}]\nset_output_delay 5 -clock c -add_delay [get_ports {q[*]}]\n"
       "set_input_delay 3 -clock c [get_ports din]\n",
       {"c/rise 3"}, {"c/rise 1", "c/rise 5"}},
      // Commands split at ';', a trailing comment, -clock as a collection;
      // output ports in set_input_delay are skipped.
      {"set_input_delay 7 -clock [get_clocks c] [all_inputs]; set_input_delay 5 -clock c [get_ports din] ;# din: 5\n",
       {"c/rise 5"}, {}},
      {"set_input_delay 3 -clock [get_clocks {d}] [get_ports {din q[0]}]\n", {"d/rise 3"}, {}},
  };
  return rows;
}

const char* kTwoClocks = "create_clock -name c -period 10 [get_ports clk]\ncreate_clock -name d -period 10 -waveform {3 8}\n";

}  // namespace

TEST(SscSdc, RepeatedIoDelaysReplaceUnlessAdded) {
  LOADED_NETLIST nl = load_blif("small/shift_en_sclr_lut4");
  SSC_NETLIST_DATA data;
  data.build({nl.get()}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
  for (const IO_DELAY_ROW& row : io_delay_rows()) {
    SSC_CONSTRAINTS c;
    std::string error;
    ASSERT_TRUE(ssc_read_sdc(std::string(kTwoClocks) + row.sdc, data, &c, &error)) << error;
    EXPECT_EQ(kept_delays(data, c, "din", true), row.din) << row.sdc;
    EXPECT_EQ(kept_delays(data, c, "q[0]", false), row.q0) << row.sdc;
  }
}

TEST(SscOracle, RepeatedIoDelaysKeepWhatOpenStaKeeps) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  LOADED_NETLIST nl = load_blif("small/shift_en_sclr_lut4");
  const std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
  for (const IO_DELAY_ROW& row : io_delay_rows()) {
    STA_CONSTRAINTS c;
    c.clocks = {{"c", 10, ""}, {"d", 10, ""}};
    c.sdc = std::string(kTwoClocks) + row.sdc;
    analyze_against_sta(nl.get(), SSC_DELAY_MODEL_UNIT, c, pins, row.sdc, false);
  }
}

TEST(SscOracle, BusPortConstraintsGiveOpenStasWorstSlack) {
  // The user's SDC names bus bits and whole buses; sta reads the same text
  // over the same ports declared as Verilog buses.
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  LOADED_NETLIST nl = load_blif("small/shift_en_sclr_lut4");
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  STA_CONSTRAINTS c;
  c.clocks.push_back({"c", 9, ""});
  c.sdc = "create_clock -name c -period 9 [get_ports clk]\n"
          "set_input_delay 3 -clock c [get_ports {b[*] din}]\n"
          "set_input_delay 5 -clock c [get_ports -regexp {b\\[[01]\\]}]\n"  // bits 0 and 1
          "set_input_delay 2 -clock c [get_ports {en sclr hold_n}]\n"
          "set_output_delay 4 -clock c [get_ports q]\n"
          "set_output_delay 6 -clock c [get_ports {bq[?]}]\n";
  // Every captured register input (the output ports count through the
  // worst slack).
  const std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
  ASSERT_FALSE(pins.empty());
  const SSC_ITERM_TIMING_INFO_MAP map = analyze(nl.get(), SSC_DELAY_MODEL_UNIT, c.sdc);
  SSC_UTIL* u = ssc_get_util();
  const int ours = u->get_worst_slack("c");
  const STA_RESULT r = sta_analyze(nl.get(), &facade, SSC_DELAY_MODEL_UNIT, c, pins);
  ASSERT_EQ(r.status, STA_OK) << r.log.substr(0, 2000);
  ASSERT_TRUE(r.worst_per_clock.count("c")) << r.log.substr(0, 2000);
  EXPECT_NE(ours, SSC_UNCONSTRAINED_SLACK);
  EXPECT_NEAR(ours, r.worst_per_clock.at("c"), sta_rounding(r.worst_per_clock.at("c")));
  for (size_t k = 0; k < pins.size(); ++k) {
    EXPECT_NEAR(double(u->get_iterm_slack(pins[k])), r.pin_slacks[k], sta_rounding(r.pin_slacks[k]))
        << pins[k]->get_my_node()->get_string_hpath();
    EXPECT_EQ(map.at(const_cast<CDB_SGATE_ITERM*>(pins[k])).m_slack, u->get_iterm_slack(pins[k]));
  }
  u->delete_netlist();
}

// set_max_delay against OpenSTA on bundled sequential circuits (ISCAS-89
// s298, tseng): a max delay shorter ({T}) or longer ({L}) than the period
// times the paths it covers in place of the clock check, the rule that wins
// where several cover a path is OpenSTA's, paths from input ports without
// input delay take part, and max-delay paths between registers count for
// the capture clock's worst slack (those to output ports for none). Start
// points without a clock (input ports without input delay, registers when
// {NC} leaves the clock port without create_clock) launch at 0 into output
// delays and max-delay ends, as in OpenSTA. Each clock's worst slack (c,
// and v where the row makes it) and the worst over all are compared. Times
// follow the circuit's worst arrival A: period A, {T} A/2, {L} 2A.
TEST(SscOracle, MaxDelayPathsTakeOpenStasRequirementAndClock) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  const char* const rows[] = {
      "{IO}set_max_delay {T} -from [all_registers] -to [all_registers]\n",
      "{IO}set_max_delay {L} -from [all_registers] -to [all_registers]\n",
      "{IO}set_max_delay {L} -to [all_registers]\nset_max_delay {T} -from [get_ports {{IN}}]\n",
      "{IO}set_max_delay {T} -from [get_clocks c]\nset_max_delay {L} -to [all_outputs]\n",
      "{IO}set_max_delay {T} -from [all_registers]\nset_max_delay {L} -from [all_registers]\n",
      "set_max_delay {T} -from [get_ports {{IN}}]\nset_max_delay {L} -to [all_outputs]\n",
      "{IO}set_false_path -to [get_clocks c]\nset_max_delay {T} -from [all_registers] -to [all_registers]\n",
      // A max-delay path to an output port is no clock's worst, only the
      // overall worst, however tight.
      "{IO}set_max_delay 0 -to [all_outputs]\n",
      // A rule naming end points wins over one naming a launch clock, in
      // either order.
      "{IO}set_max_delay {T} -from [get_clocks c]\nset_max_delay {L} -to [all_registers]\n",
      "{IO}set_max_delay {L} -to [all_registers]\nset_max_delay {T} -from [get_clocks c]\n",
      // Rules naming points (the data inputs, the outputs) beside rules
      // naming the clock on one side or both: each path takes the one
      // OpenSTA ranks first.
      "{IO}set_max_delay {T} -to [get_clocks c]\nset_max_delay {L} -from [get_ports {{IN}}] -to [get_clocks c]\n"
      "set_max_delay {L} -from [get_clocks c] -to [get_clocks c]\n"
      "set_max_delay {T} -from [get_clocks c] -to [all_outputs]\n",
      // Start points without a clock: inputs without input delay into
      // output delays (on a clock's edges and on a virtual clock's, rising
      // and falling), registers without a clock into a virtual clock's
      // output delays and into max-delay ends.
      "set_output_delay {D} -clock c [all_outputs]\n",
      "set_false_path -from [all_registers]\nset_output_delay {D} -clock c [all_outputs]\n",
      "set_false_path -from [all_registers]\ncreate_clock -name v -period {P} -waveform {{D} {T}}\n"
      "set_output_delay {D} -clock v [all_outputs]\n",
      "set_false_path -from [all_registers]\ncreate_clock -name v -period {P} -waveform {{D} {T}}\n"
      "set_output_delay {D} -clock v -clock_fall [all_outputs]\n",
      "{NC}create_clock -name v -period {P}\nset_input_delay {D} -clock v [get_ports {{IN}}]\n"
      "set_output_delay {D} -clock v [all_outputs]\n",
      "{NC}set_max_delay {T} -to [all_registers]\n",
      "{NC}set_max_delay {T} -from [get_ports {{IN}}]\n",
      // Registers without a clock start their paths at their clock port
      // (they stayed timed under false paths from it, or from the clock of
      // its input delay); an input that only -min delays name starts none;
      // an I/O delay's "-clock *" names no clock: applied without one (it
      // ended the read); an output port a clock is created on ends no path.
      "{NC}create_clock -name v -period {P}\nset_output_delay {D} -clock v [all_outputs]\n"
      "set_false_path -from [all_inputs]\n",
      "{NC}create_clock -name v -period {P}\nset_output_delay {D} -clock v [all_outputs]\n"
      "set_false_path -from [get_ports {{CLK}}]\n",
      "{NC}create_clock -name v -period {P}\ncreate_clock -name w -period {P}\nset_input_delay {D} -clock w "
      "[get_ports {{CLK}}]\nset_output_delay {D} -clock v [all_outputs]\nset_false_path -from [get_clocks w]\n",
      "set_input_delay {D} -clock c -min [get_ports {{IN}}]\nset_output_delay {D} -clock c [all_outputs]\n"
      "set_max_delay {T} -from [get_ports {{IN}}]\n",
      "{IO}set_input_delay {T} -clock * [get_ports {{IN}}]\nset_max_delay {L} -from [get_ports {{IN}}]\n",
      "{IO}create_clock -name o -period {P} [all_outputs]\nset_max_delay 0 -to [all_outputs]\n",
      // An input whose only delay names no clock launches into output
      // delays as one without a delay does.
      "set_input_delay {D} -clock * [get_ports {{IN}}]\nset_output_delay {D} -clock c [all_outputs]\n",
      // An output that only -min delays name ends no path, a max-delay one
      // neither (the rule timed it).
      "set_input_delay {D} -clock c [get_ports {{IN}}]\nset_output_delay {D} -clock c -min [all_outputs]\n"
      "set_max_delay 0 -to [all_outputs]\n",
      // A wildcard meets each port's own name, never the model's (top):
      // "t*" delayed every input of s298, whose inputs begin with G.
      "{IO}set_input_delay {T} -clock c [get_ports t*]\n",
      // Max-delay rules from the clock port of registers without a clock,
      // or from the clock of its input delay, and false paths from that
      // clock to capture clocks, do not reach their paths (a later rule
      // from all inputs won over the earlier one between registers).
      "{NC}create_clock -name v -period {P}\nset_input_delay {D} -clock v [all_inputs]\nset_output_delay {D} -clock v "
      "[all_outputs]\nset_max_delay {T} -from [all_registers] -to [all_registers]\n"
      "set_max_delay {L} -from [all_inputs] -to [all_registers]\n"
      "set_max_delay {T} -from [get_clocks v] -to [all_outputs]\n",
      "{NC}create_clock -name v -period {P}\nset_input_delay {D} -clock v [all_inputs]\nset_output_delay {D} -clock v "
      "[all_outputs]\nset_false_path -from [get_clocks v] -to [get_clocks v]\n",
      // -ignore_clock_latency with the edges at 0 changes no requirement
      // (it skipped the command); its paths count for no clock's worst.
      "{IO}set_max_delay {T} -from [get_ports {{IN}}] -ignore_clock_latency\n",
      "{IO}set_max_delay {T} -from [all_registers] -to [all_registers] -ignore_clock_latency\n",
      // False paths from the inputs to the registers and from the clock to
      // the outputs, beside a max-delay rule they leave the rest to.
      "{IO}set_false_path -from [get_ports {{IN}}] -to [all_registers]\nset_max_delay {L} -to [get_clocks c]\n"
      "set_false_path -from [get_clocks c] -to [all_outputs]\n",
  };
  for (const char* name : {"mcnc/s298", "mcnc/tseng"}) {
    LOADED_NETLIST nl = load_blif(name);
    const std::vector<std::string> clocks = clock_pins(nl.get());
    ASSERT_EQ(clocks.size(), 1u) << name;
    const std::string clock = clocks[0].substr(clocks[0].rfind('|') + 1);
    std::set<std::string> inputs;  // data inputs, by bus
    for (const CDB_SGATE_IO* pin : nl->get_input_pins()) {
      const std::string path = pin->get_string_hpath();
      const std::string leaf = path.substr(path.rfind('|') + 1);
      if (path != clocks[0]) inputs.insert(leaf.substr(0, leaf.find('[')));
    }
    std::string in_list;
    for (const std::string& i : inputs) in_list += (in_list.empty() ? "" : " ") + i;
    const std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
    const std::string create = "create_clock -name c -period {P} [get_ports {" + clock + "}]\n";
    analyze(nl.get(), SSC_DELAY_MODEL_TABLE, "create_clock -name c -period 1000000 [get_ports {" + clock + "}]\n");
    const int arrival = ssc_get_util()->get_worst_arrival();
    ssc_get_util()->delete_netlist();
    ASSERT_GT(arrival, 0) << name;
    for (const char* row : rows) {
      const bool clocked = std::string(row).rfind("{NC}", 0) != 0;
      std::string sdc = clocked ? create + row : std::string(row + 4);
      const std::pair<std::string, std::string> fill[] = {
          {"{IO}", "set_input_delay {D} -clock c [get_ports {{IN}}]\nset_output_delay {D} -clock c [all_outputs]\n"},
          {"{IN}", in_list},
          {"{CLK}", clock},
          {"{P}", std::to_string(arrival)},
          {"{T}", std::to_string(arrival / 2)},
          {"{L}", std::to_string(2 * arrival)},
          {"{D}", std::to_string(arrival / 8)}};
      for (const auto& [key, value] : fill)
        for (size_t at = sdc.find(key); at != std::string::npos; at = sdc.find(key, at)) sdc.replace(at, key.size(), value);
      STA_CONSTRAINTS c;
      if (clocked) c.clocks.push_back({"c", arrival, ""});
      if (sdc.find("-name v") != std::string::npos) c.clocks.push_back({"v", arrival, ""});
      c.sdc = sdc;
      analyze_against_sta(nl.get(), SSC_DELAY_MODEL_TABLE, c, pins, std::string(name) + "\n" + row, true);
    }
  }
}

// Collections with options and a waveform whose fall comes first, against
// OpenSTA on the bundled stereovision3 with two clocks: all_registers
// -clock took every register (a false path to the registers of c2 left c0
// unconstrained, 105 of 230 register inputs differed).
TEST(SscOracle, CollectionOptionsAndWaveformsGiveOpenStasSlacks) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  const std::string clocks = "create_clock -name c0 -period 5000 {W} [get_ports tm3_clk_v0]\n"
                             "create_clock -name c2 -period 7000 [get_ports tm3_clk_v2]\n"
                             "set_output_delay 500 -clock c0 [all_outputs]\n";
  const std::pair<const char*, const char*> rows[] = {
      {"", "set_false_path -to [all_registers -clock c2]\n"},
      {"", "set_max_delay 1000 -to [all_registers -clock c2]\n"},
      {"", "set_max_delay 3000 -from [all_registers -clock [get_clocks c0]] -to [all_registers -clock c2]\n"},
      {"-waveform {4000 1000}", "set_false_path -from [all_registers -clock c2]\n"},
      // Options not applied that could narrow a collection skip the command
      // (they cut every register, where OpenSTA's collection is empty).
      {"", "set_false_path -to [all_registers -fall_clock c2]\n"},
      {"", "set_false_path -from [get_cells -filter \"ref_name==NONE\" *]\n"},
      // No cell's own name holds "chip": the model's (sv_chip3_hierarchy_no_mem)
      // once gave the pattern every cell, and the false path cut them all.
      {"", "set_false_path -to [get_cells *chip*]\n"},
      // -ignore_clock_latency: an input port's arrival keeps its launch
      // edge's time (rising, or falling under -clock_fall).
      {"-waveform {4000 1000}", "set_input_delay 300 -clock c0 [get_ports tm3_vidin*]\n"
                                "set_max_delay 3000 -from [get_ports tm3_vidin*] -ignore_clock_latency\n"},
      {"-waveform {1500 3500}", "set_input_delay 300 -clock c0 -clock_fall [get_ports tm3_vidin*]\n"
                                "set_max_delay 4000 -from [get_clocks c0] -to [all_registers -clock c2] "
                                "-ignore_clock_latency\n"},
      // Tcl's reading: lists and collections across lines, a list or
      // concat nested in a collection, a collection of two commands (the
      // last one's value).
      {"", "set_input_delay 4000 -clock c0 [get_ports {tm3_vidin_llc\n  tm3_vidin_vs}]\n"
           "set_input_delay 3000 -clock c0 [get_ports tm3_vidin_href\n]\n"},
      {"", "set_input_delay 4000 -clock c0 [get_ports [list tm3_vidin_llc {tm3_vidin_vpo[0]}]]\n"
           "set_input_delay 3500 -clock c0 [get_ports [concat tm3_vidin_vs {tm3_vidin_vpo[1] tm3_vidin_vpo[2]}]]\n"},
      {"", "set_input_delay 4000 -clock c0 [get_ports tm3_vidin_vs; get_ports tm3_vidin_llc]\n"},
  };
  LOADED_NETLIST nl = load_blif("seq/stereovision3");
  const std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
  for (const auto& [waveform, row] : rows) {
    STA_CONSTRAINTS c;
    c.clocks = {{"c0", 5000, ""}, {"c2", 7000, ""}};
    c.sdc = clocks + row;
    c.sdc.replace(c.sdc.find("{W}"), 3, waveform);
    analyze_against_sta(nl.get(), SSC_DELAY_MODEL_TABLE, c, pins, c.sdc, true);
  }
}


// A clock of period 0 (as benchmark suites write "create_clock -period 0")
// launches at its edge's time and captures at 0, as OpenSTA times it: rows
// for each pair of period-0 and periodic clocks, both edges, waveforms, I/O
// delays and a max-delay path, over a chain of registers that crosses
// between the clocks and their edges; the slacks of the register inputs and
// of the output ports are compared. Later rows read patterns and clocks
// that later create_clocks replace.
TEST(SscOracle, ClocksOfPeriodZeroGiveOpenStasSlacks) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  const char* const blif =
      ".model p0\n.inputs c1 c2 a b\n.outputs q q2\n"
      ".latch a r1 re c1 0\n.names r1 n1\n0 1\n.latch n1 r2 re c2 0\n.names r2 n2\n0 1\n"
      ".latch n2 r3 re c1 0\n.names r3 n3\n0 1\n.latch n3 r4 fe c1 0\n.names r4 n4\n0 1\n"
      ".latch n4 r5 re c1 0\n.names r5 n5\n0 1\n.latch n5 r6 fe c2 0\n.names r6 q\n0 1\n"
      ".names b q2\n0 1\n.end\n";
  const std::string both = "create_clock -name c0 -period 0 {W0} [get_ports c1]\n"
                           "create_clock -name c2 -period {P2} {W2} [get_ports c2]\n";
  struct ROW {
    const char *w0, *p2, *w2, *more;
    // The clocks whose worst slack is compared: c0 and c2 unless a row
    // moves their sources to others (OpenSTA then removes them, and reads
    // an unknown path group as every path).
    std::vector<std::string> clocks = {"c0", "c2"};
  };
  const ROW rows[] = {
      {"", "1000", "", ""},
      {"-waveform {100 100}", "1000", "-waveform {300 800}", ""},
      {"", "0", "", ""},
      {"-waveform {70 20}", "0", "-waveform {30 60}", ""},
      {"", "1000", "", "set_output_delay 10 -clock c0 [all_outputs]\nset_input_delay 20 -clock c2 [all_inputs]\n"},
      {"", "1000", "", "set_output_delay 10 -clock c2 [all_outputs]\nset_input_delay 20 -clock c0 [all_inputs]\n"},
      {"-waveform {100 150}", "1000", "", "set_output_delay 10 -clock c0 -clock_fall [all_outputs]\n"},
      {"-waveform {100 150}", "1000", "", "set_max_delay 50 -to [get_ports q2]\nset_output_delay 10 -clock c0 [get_ports q]\n"},
      // A launch at or after the capture edge of the first cycle is
      // captured there, not one period later (those slacks were optimistic).
      {"-waveform {700 200}", "1000", "", ""},
      {"-waveform {900 300}", "1000", "-waveform {300 800}", ""},
      // Clock sources named by -regexp patterns (the clock was made on no
      // source); -nocase folds case there.
      {"", "1000", "", "create_clock -name c0 -period 800 -waveform {100 500} [get_ports -regexp -nocase {C1}]\n"},
      // An input whose delay names no clock ("-clock *") launches at its
      // delay into an output delay, required in the capture clock's
      // second period.
      {"", "1000", "", "set_input_delay 100 -clock * [get_ports b]\nset_input_delay 0 -clock c2 [get_ports a]\n"
                        "set_output_delay 800 -clock c2 [get_ports q2]\n"},
      // A clock made without -add takes its sources from the clocks that
      // had them: c5 keeps c1, c6 takes c2 (the registers kept c0 and c2).
      {"", "1000", "",
       "create_clock -name c5 -period 900 [get_ports {c1 c2}]\ncreate_clock -name c6 -period 700 [get_ports c2]\n",
       {"c5", "c6"}},
      // A clock left without sources goes, with the delays on it (it stayed
      // as a virtual clock whose delays timed a and q2).
      {"", "1000", "",
       "set_input_delay 20 -clock c2 [get_ports {a b}]\nset_output_delay 10 -clock c2 [all_outputs]\n"
       "create_clock -name c5 -period 900 [get_ports c2]\nset_output_delay 30 -clock c5 [get_ports q]\n",
       {"c0", "c5"}},
      // A braced pattern is one Tcl list, whose brackets are ordinary
      // characters: "[ab].*" one pattern (it was split at the bracket, and
      // ".*" took every port), "[ab]+" too (the read ended on "+"), and the
      // glob "[ab]*" names no port (OpenSTA's globs have no brackets; "*"
      // took every port).
      {"", "1000", "",
       "set_input_delay 20 -clock c2 [all_inputs]\nset_output_delay 10 -clock c0 [all_outputs]\n"
       "set_false_path -from [get_ports -regexp {[a].*}]\n"},
      {"", "1000", "",
       "set_input_delay 20 -clock c2 [get_ports -regexp {[ab]+}]\nset_output_delay 10 -clock c0 [all_outputs]\n"},
      {"", "1000", "",
       "set_input_delay 20 -clock c2 [all_inputs]\nset_output_delay 10 -clock c0 [all_outputs]\n"
       "set_false_path -from [get_ports {[ab]*}]\n"},
      {"", "1000", "", "create_clock -name c5 -period 700 [get_ports -regexp {[c]2}]\n", {"c0", "c5"}},
      // A delay naming a removed clock applies without a clock, with a
      // warning (the clock stayed as a virtual one and timed q on it).
      {"", "1000", "",
       "create_clock -name c5 -period 900 [get_ports c2]\nset_output_delay 30 -clock c2 [get_ports q]\n"
       "set_input_delay 20 -clock c2 [get_ports b]\nset_output_delay 10 -clock c0 [get_ports q2]\n",
       {"c0", "c5"}},
  };
  BLIF_RESULT in = blif_read_string(blif);
  ASSERT_NE(in.netlist, nullptr) << in.error;
  LOADED_NETLIST nl(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
  std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
  ASSERT_EQ(pins.size(), 6u);
  for (const CDB_SGATE_ITERM* t : driven_outputs(nl.get())) pins.push_back(t);  // q and q2 too
  for (const ROW& row : rows) {
    STA_CONSTRAINTS c;
    for (const std::string& k : row.clocks) c.clocks.push_back({k, 0, ""});
    c.sdc = both + row.more;
    for (const auto& [key, value] : {std::pair{"{W0}", row.w0}, {"{P2}", row.p2}, {"{W2}", row.w2}})
      c.sdc.replace(c.sdc.find(key), std::strlen(key), value);
    analyze_against_sta(nl.get(), SSC_DELAY_MODEL_TABLE, c, pins, c.sdc, true);
  }
}

// Gated clocks against OpenSTA, table model (and a loop only through an
// input a cover ignores): a gate not unate in the clock
// clocks its register on both edges (it was left without a clock, and its
// paths into output delays were timed from 0: y read 1200, OpenSTA 300); a
// loop in the gating logic, cut where OpenSTA cuts it (r2 stayed without a
// clock in one netlist order; through a NOR; the enable's port named before
// the clock's, so that the walk from it cuts the loop); a register gated on
// the second clock (its clock index read as the first's); one reached by
// two clocks, clocked by both; a register without a clock behind a gate,
// whose paths start at the ports before it: removed only once every such
// port is, by false paths from the ports or from the clocks of their input
// delays, and unchanged by one from a clocked register before its clock
// pin.
TEST(SscOracle, GatedClocksGiveOpenStasSlacks) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  const char* const xor_gate =
      ".model x\n.inputs clk en a\n.outputs y\n.names clk en gx\n10 1\n01 1\n.latch a r0 re clk 0\n"
      ".names r0 n0\n0 1\n.latch n0 r1 re gx 0\n.names r1 y\n0 1\n.names r1 n1\n0 1\n.latch n1 r2 fe clk 0\n.end\n";
  const char* const loop = ".model l\n.inputs clk en a\n.outputs y\n{G}.latch a r0 re clk 0\n.names r0 n0\n0 1\n"
                           ".latch n0 r1 re g0 0\n.names r1 n1\n0 1\n.latch n1 r2 re g1 0\n.names r2 y\n0 1\n.end\n";
  const std::string and_or = ".names clk g1 g0\n11 1\n", or_en = ".names g0 en g1\n1- 1\n-1 1\n";
  const std::string nor_en = ".names g0 en g1\n00 1\n";
  std::string late_clock = std::string(loop).replace(std::string(loop).find("{G}"), 3, and_or + or_en);
  for (size_t at = late_clock.find("clk"); at != std::string::npos; at = late_clock.find("clk", at + 4))
    late_clock.replace(at, 3, "zclk");
  const char* const two =
      ".model t\n.inputs clka clkb en a\n.outputs y\n.names clkb en gb\n11 1\n.names en clka clkb m\n01- 1\n1-1 1\n"
      ".latch a r1 re clkb 0\n.names r1 n1\n0 1\n.latch n1 r2 re gb 0\n.names r2 n2\n0 1\n.latch n2 r3 re clkb 0\n"
      ".latch n2 r4 re m 0\n.names r4 y\n0 1\n.end\n";
  const char* const unclocked =
      ".model u\n.inputs clk ck2 en a\n.outputs y z w\n.names clk en g\n11 1\n.latch a r1 re g 0\n.names r1 y1\n0 1\n"
      ".names y1 y\n0 1\n"
      ".latch a q1 re clk 0\n.latch a r2 re q1 0\n.names r2 z\n0 1\n.latch a qa re ck2 0\n.latch a r3 re qa 0\n"
      ".names r3 w\n0 1\n.end\n";
  const std::string io = "create_clock -name V -period 1000\ncreate_clock -name A -period 1000 [get_ports ck2]\n"
                         "set_output_delay 100 -clock V [all_outputs]\n";
  // r1 on clk into r2 on clk2, and y from r2.
  const char* const chain = ".model c\n.inputs clk clk2 a\n.outputs y\n.latch a r1 re clk 0\n.names r1 n1\n0 1\n"
                            ".latch n1 r2 re clk2 0\n.names r2 y\n0 1\n.end\n";
  // A ripple stage: r2 clocked by r1, r1 on clk2.
  const char* const ripple =
      ".model r\n.inputs clk2 a\n.outputs y\n.latch a r1 re clk2 0\n.latch a r2 re r1 0\n.names r2 y\n0 1\n.end\n";
  // r1 on clock A feeds r2 on A and r3 on B; r4 on clka OR clkb feeds r5.
  const char* const pair =
      ".model p\n.inputs clka clkb a\n.outputs y\n.latch a r1 re clka 0\n.names r1 n1\n0 1\n.latch n1 r2 re clka 0\n"
      ".latch n1 r3 re clkb 0\n.names clka clkb g\n1- 1\n-1 1\n.latch a r4 re g 0\n.names r4 n4\n0 1\n"
      ".latch n4 r5 re clka 0\n.names r2 r3 r5 y\n111 1\n.end\n";
  const char* const clock_and = ".model d\n.inputs clk a\n.outputs y\n.latch a r1 re clk 0\n.names clk r1 g\n11 1\n"
                                ".latch g r2 re clk 0\n.names r2 y\n1 1\n.end\n";
  // p clocks no register: p AND a into r1 on clk, NOT p to y.
  const char* const idle = ".model i\n.inputs clk p a\n.outputs y z\n.names p a g\n11 1\n.latch g r1 re clk 0\n"
                           ".names r1 z\n1 1\n.names p y\n0 1\n.end\n";
  const std::string idle_clocks = "create_clock -name c -period 700 [get_ports clk]\n"
                                  "create_clock -name B -period 1000 [get_ports p]\n";
  // 20 outputs y_k = a AND b.
  std::string wide = ".model w\n.inputs clk a b\n.outputs";
  for (int k = 0; k < 20; ++k) wide += " y" + std::to_string(k);
  wide += "\n.latch a r0 re clk 0\n";
  for (int k = 0; k < 20; ++k) wide += ".names a b y" + std::to_string(k) + "\n11 1\n";
  wide += ".end\n";
  std::string wide_rules = "create_clock -name c -period 1000 [get_ports clk]\n";
  for (int k = 0; k < 17; ++k) wide_rules += "set_max_delay 900 -to [get_ports y" + std::to_string(k) + "]\n";
  // r1 drives r2, which drives q (a register and the output it drives, one
  // name) and y (a gate and an output, one name).
  const char* const named = ".model n\n.inputs clk a\n.outputs q y\n.latch a r1 re clk 0\n.names r1 n1\n0 1\n"
                            ".latch n1 r2 re clk 0\n.names r2 n2\n0 1\n.latch n2 q re clk 0\n.names r2 y\n0 1\n.end\n";
  // 17 inputs a_k, each a launch group of its own (a max-delay rule from
  // it), through an OR tree into w beside x = NOT b (b's one group), w into
  // the output y delayed on c, and through d into z, no path's end.
  std::string fan_in = ".model f\n.inputs b";
  std::string fan_in_rules = "create_clock -name c -period 1000\nset_input_delay 100 -clock c [get_ports b]\n"
                             "set_output_delay 300 -clock c [all_outputs]\nset_false_path -to [get_ports z]\n";
  for (int k = 0; k < 17; ++k) {
    fan_in += " a" + std::to_string(k);
    fan_in_rules += "set_max_delay " + std::to_string(600 + 20 * k) + " -from [get_ports a" + std::to_string(k) + "]\n";
  }
  fan_in += "\n.outputs y z\n.names a0 a1 a2 a3 t1\n0000 0\n.names a4 a5 a6 a7 t2\n0000 0\n"
            ".names a8 a9 a10 a11 t3\n0000 0\n.names a12 a13 a14 a15 a16 t4\n00000 0\n.names t1 t2 t3 t4 t\n0000 0\n"
            ".names b x\n0 1\n.names t x w\n11 1\n.names w y\n0 1\n.names w d\n1 1\n.names d z\n0 1\n.end\n";
  struct ROW {
    std::string blif, sdc;
    bool cone = false;         // the gates' inputs are compared too
    std::string warning = {};  // posted by the engine
  };
  const ROW rows[] = {
      {xor_gate, "create_clock -name c -period 1000 -waveform {600 900} [get_ports clk]\n"
                 "set_output_delay 100 -clock c [all_outputs]\n"},
      {std::string(loop).replace(std::string(loop).find("{G}"), 3, and_or + or_en),
       "create_clock -name c -period 1000 [get_ports clk]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {std::string(loop).replace(std::string(loop).find("{G}"), 3, or_en + and_or),
       "create_clock -name c -period 1000 [get_ports clk]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {std::string(loop).replace(std::string(loop).find("{G}"), 3, nor_en + and_or),
       "create_clock -name c -period 1000 [get_ports clk]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {late_clock, "create_clock -name c -period 1000 [get_ports zclk]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {two, "create_clock -name A -period 1000 [get_ports clka]\n"
            "create_clock -name B -period 1500 -waveform {0 300} [get_ports clkb]\n"},
      {two, "create_clock -name A -period 1000 [get_ports clka]\n"
            "create_clock -name B -period 1500 -waveform {0 300} [get_ports clkb]\n"
            "set_output_delay 50 -clock A [all_outputs]\n"},
      {unclocked, io + "set_input_delay 10 -clock V [get_ports en]\nset_false_path -from [get_clocks V]\n"},
      {unclocked, io + "set_input_delay 10 -clock V [get_ports {en clk}]\nset_false_path -from [get_clocks V]\n"},
      {unclocked, io + "set_false_path -from [get_ports {en clk}]\nset_false_path -from [get_cells qa]\n"},
      // A loop only through an input a cover ignores (n1 = ra): no arc
      // there, so no loop, and r1 is timed (it was cut by netlist order,
      // here leaving r1 unconstrained).
      {".model i\n.inputs clk a b\n.outputs y\n.latch a ra re clk 0\n.names n1 b n2\n10 1\n.names ra n2 n1\n1- 1\n"
       ".latch n2 r1 re clk 0\n.names r1 y\n1 1\n.end\n",
       "create_clock -name c -period 400 [get_ports clk]\n"},
      // A cover that reads its third input (r1), the one input with a
      // constrained path (a and b have no input delay): rb is timed
      // through it (400).
      {".model d\n.inputs clk a b\n.outputs y\n.latch b r1 re clk 0\n.names a b r1 n1\n11- 1\n--1 1\n"
       ".latch n1 rb re clk 0\n.names rb y\n1 1\n.end\n",
       "create_clock -name c -period 700 [get_ports clk]\n"},
      // Gating logic that loops back through the clock pin of a register
      // it clocks (h -> r1 clock, r1 -> g3, g3 -> h): the loop closes
      // through the register's clock-to-output arc and is cut where
      // OpenSTA cuts it, at the arc from g3 into h, so that no clock
      // reaches r1 (it was clocked: 750 where OpenSTA has no check); and
      // one whose cut, at the arc from g2 into g3, leaves every register
      // clocked (r1 read -100, OpenSTA 400).
      {".model p\n.inputs d zclk clk2\n.outputs y0 y1\n.latch r0 r1 re h 0\n.names r1 h g1\n0- 1\n-0 1\n"
       ".names g3 clk2 h\n10 1\n01 1\n.latch d r0 re g1 0\n.names zclk r1 g3\n1- 1\n-1 1\n.names r1 y0\n1 1\n"
       ".names r1 y1\n0 1\n.end\n",
       "create_clock -name c -period 1500 [get_ports zclk]\n"},
      {".model q\n.inputs d zclk clk2\n.outputs y0 y1\n.names r2 d g1\n1- 1\n-1 1\n.latch d r0 re g3 0\n"
       ".names zclk r2 g2\n0- 1\n-0 1\n.names g2 clk2 g3\n00 1\n.latch r1 r2 re g3 0\n.latch g1 r1 fe g3 0\n"
       ".names r2 y0\n1 1\n.names r0 y1\n0 1\n.end\n",
       "create_clock -name c -period 1000 [get_ports zclk]\ncreate_clock -name B -period 1000 -waveform {0 300} "
       "[get_ports clk2]\nset_output_delay 100 -clock c [all_outputs]\nset_input_delay 50 -clock c [get_ports d]\n"},
      // Rows a mutated engine fails: -regexp anchored at both ends (cl.
      // clocks clk, not clk2); the latest of a port's added input delays
      // where more than 16 groups share a start (y0); a max-delay rule
      // between two clocks where the launch clock captures itself as well;
      // -ignore_clock_latency from a register on a clock rising at 600; a
      // false path from the clock port of a ripple stage's first register;
      // a clock taking both sources of an earlier one; all_registers
      // -clock B taking a register clocked by clka OR clkb.
      {chain, "create_clock -name c -period 1000 [get_ports -regexp {cl.}]\nset_input_delay 0 -clock c [get_ports a]\n"},
      {wide, wide_rules + "set_input_delay 300 -clock c [get_ports b]\nset_input_delay 100 -clock c -add_delay "
                          "[get_ports b]\n"},
      {pair, "create_clock -name A -period 1000 [get_ports clka]\ncreate_clock -name B -period 1000 [get_ports clkb]\n"
             "set_max_delay 300 -from [get_clocks A] -to [get_clocks B]\n"},
      {chain, "create_clock -name c -period 1000 -waveform {600 900} [get_ports {clk clk2}]\n"
              "set_max_delay 300 -from [get_cells r1] -to [get_cells r2] -ignore_clock_latency\n"},
      {ripple, "create_clock -name V -period 1000\nset_output_delay 100 -clock V [all_outputs]\n"
               "set_false_path -from [get_ports clk2]\n"},
      {chain, "create_clock -name a -period 1000 [get_ports {clk clk2}]\nset_output_delay 300 -clock a [all_outputs]\n"
              "create_clock -name b -period 500 [get_ports {clk clk2}]\nset_output_delay 300 -clock b [all_outputs]\n",
       false, "clock \"a\" has no source left"},
      {pair, "create_clock -name A -period 1000 [get_ports clka]\ncreate_clock -name B -period 1000 [get_ports clkb]\n"
             "set_false_path -from [all_registers -clock B]\n"},
      // Terminals inside the cone of an output delayed twice (-add_delay),
      // and the output of a register behind a clock port delayed on no
      // clock ("-clock *"), not only pins and outputs.
      {wide, "create_clock -name c -period 1000 [get_ports clk]\nset_input_delay 0 -clock c [get_ports {a b}]\n"
             "set_output_delay 300 -clock c [get_ports y0]\nset_output_delay 100 -clock c -add_delay [get_ports y0]\n",
       true},
      {chain, "create_clock -name V -period 1000\nset_input_delay 100 -clock * [get_ports clk2]\n"
              "set_output_delay 100 -clock V [all_outputs]\n",
       true},
      // Every terminal with more than 16 groups: required times less the
      // output delay and each arc, in reverse order, x's one group met
      // among w's many, and d's input unconstrained.
      {fan_in, fan_in_rules, true},
      // An empty pattern list names nothing, as in OpenSTA: the clock is
      // virtual (it took every port) and the delays apply.
      {chain, "create_clock -name c -period 1000 [get_ports {}]\nset_input_delay 100 -clock c [all_inputs]\n"
              "set_output_delay 100 -clock c [all_outputs]\nset_false_path -from [get_ports { }]\n"},
      // -regexp with an escaped class (\w: one character, the port a) and
      // '+' in a cell pattern (r1 and r2).
      {chain, "create_clock -name c -period 1000 [get_ports clk]\nset_input_delay 100 -clock c [get_ports -regexp {\\w}]\n"
              "set_output_delay 100 -clock c [all_outputs]\nset_max_delay 200 -from [get_cells -regexp {r\\d+}]\n"},
      // The clock used as data, as OpenSTA launches it at the clock's
      // edges: clk's fall through g0 (which ignores r1) into r4 and on
      // through g2 into r5, and to the output y; and two clocks' ports
      // both feeding one gate (their data paths were not timed).
      {".model k\n.inputs clk a\n.outputs y\n.names r1 clk g0\n-0 1\n.names clk g0 a g2\n-00 1\n-01 1\n"
       ".latch r1 r1 fe g2 0\n.latch g0 r4 re g2 0\n.latch g2 r5 re clk 0\n.latch a r0 re clk 0\n.names g0 y\n1 1\n.end\n",
       "create_clock -name c -period 2400 [get_ports clk]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {".model m\n.inputs clka clkb a\n.outputs y\n.names clka clkb g\n10 1\n01 1\n.latch a r1 re clka 0\n"
       ".latch g r2 re clkb 0\n.latch r1 r3 fe clkb 0\n.names r2 r3 y\n11 1\n.end\n",
       "create_clock -name A -period 1000 [get_ports clka]\n"
       "create_clock -name B -period 1500 -waveform {0 300} [get_ports clkb]\nset_output_delay 50 -clock A [all_outputs]\n"},
      // The clock used as data (clk AND r1 into r2) keeps its launch at the
      // clock's edges whatever input delays name the port: one relative to
      // a virtual clock launches beside it, "-clock *" and -min ones start
      // no timed path (r2 read 600, 700 and 700, OpenSTA 200); one relative
      // to the port's own clock is refused (applied, r2 would read 100).
      // Under -ignore_clock_latency OpenSTA counts the clock data's path
      // (two inverters and the AND) as latency, with no delay: r2 takes
      // r1's path alone (it read -2500 from the launch at 2400, and -100
      // timed through the logic).
      {clock_and, "create_clock -name c -period 1000 [get_ports clk]\ncreate_clock -name V -period 1000\n"
                  "set_input_delay 100 -clock V [all_inputs]\n"},
      {clock_and, "create_clock -name c -period 1000 [get_ports clk]\nset_input_delay 100 -clock * [all_inputs]\n"},
      {clock_and, "create_clock -name c -period 1000 [get_ports clk]\ncreate_clock -name V -period 1000\n"
                  "set_input_delay 100 -min -clock V [all_inputs]\n"},
      {clock_and, "create_clock -name c -period 1000 [get_ports clk]\nset_input_delay 600 -clock c [all_inputs]\n"},
      {".model e\n.inputs clk a\n.outputs y\n.latch a r1 re clk 0\n.names clk n1\n0 1\n.names n1 n2\n0 1\n"
       ".names n2 r1 g\n11 1\n.latch g r2 re clk 0\n.names r2 y\n1 1\n.end\n",
       "create_clock -name c -period 3000 -waveform {900 2400} [get_ports clk]\n"
       "set_max_delay 800 -from [get_clocks c] -ignore_clock_latency\n"},
      // zclk's data into r2 beside a loop through r1's clock pin (g3, h)
      // that reaches no capture: timed (it was left untimed with a warning,
      // r2 700, OpenSTA 200).
      {".model q\n.inputs zclk d en\n.outputs y\n.names zclk r1 g3\n1- 1\n-1 1\n.names g3 en h\n10 1\n01 1\n"
       ".latch d r1 re h 0\n.latch d r0 re zclk 0\n.names zclk r0 g\n11 1\n.latch g r2 re zclk 0\n.names r2 r1 y\n11 1\n.end\n",
       "create_clock -name c -period 1000 [get_ports zclk]\nset_output_delay 100 -clock c [all_outputs]\n"},
      // A clock port that clocks no register launches its data at its
      // clock's edges, as one that does, whatever input delays and
      // max-delay rules name it (r1 and y were untimed, with a warning):
      // B's fall at 500 into c at 700, r1 -200; y on B.
      {idle, idle_clocks + "set_output_delay 100 -clock B [get_ports y]\n"},
      {idle, idle_clocks + "set_input_delay 100 -clock B [get_ports p]\nset_input_delay 450 -clock c -add_delay "
                           "[get_ports p]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {idle, idle_clocks + "set_input_delay 100 -clock * [get_ports p]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {idle, idle_clocks + "set_max_delay 900 -from [get_ports p]\nset_output_delay 100 -clock c [all_outputs]\n"},
      {idle, idle_clocks + "set_max_delay 900 -from [get_clocks B]\n"},
      {idle, "create_clock -period 10000 *\n", false, "output ports \"y\", \"z\" clock no register"},
      // False paths between points (ports, registers), points and clocks,
      // and from a clock used as data, remove their paths (they were
      // ignored with a warning), over any max-delay rule on them whichever
      // comes first and whichever is more specific.
      {chain, "create_clock -name c -period 1000 [get_ports {clk clk2}]\nset_input_delay 100 -clock c [get_ports a]\n"
              "set_output_delay 100 -clock c [all_outputs]\nset_false_path -from [get_ports a] -to [get_cells r1]\n"
              "set_false_path -from [get_cells r2] -to [get_ports y]\n"},
      {pair, "create_clock -name A -period 1000 [get_ports clka]\ncreate_clock -name B -period 1000 [get_ports clkb]\n"
             "set_false_path -from [get_clocks A] -to [get_cells r3]\nset_false_path -from [get_cells r4] -to [get_clocks A]\n"},
      {idle, idle_clocks + "set_output_delay 100 -clock c [all_outputs]\nset_false_path -from {p c} -to r1\n"
                           "set_false_path -from [get_clocks B] -to [get_ports y]\n"},
      {chain, "create_clock -name c -period 1000 [get_ports {clk clk2}]\n"
              "set_max_delay 300 -from [get_cells r1] -to [get_cells r2]\nset_false_path -from [get_clocks c] -to r2\n"},
      {chain, "create_clock -name c -period 1000 [get_ports {clk clk2}]\n"
              "set_false_path -from [get_cells r1] -to [get_clocks c]\nset_max_delay 300 -from r1 -to [get_clocks c]\n"},
      // A clock without -name is named after its first source as written:
      // a, not p (the first in the netlist), so the rule names it.
      {idle, "create_clock -name c -period 700 [get_ports clk]\ncreate_clock -period 1000 [get_ports {a p}]\n"
             "set_max_delay 900 -from [get_clocks a]\n"},
      // A gating loop (g2, g4) closed through r4, whose clock comes through
      // the buffer b1: the levelizer meets r4 from clk1 in b1's place, the
      // first of clk1's readers, and cuts the arc from g2 into g4, leaving
      // r1-r3 without a clock (the engine took r4 after every gate and
      // cut the arc from g4 into g2: r2-r4 read 500, OpenSTA no check).
      {".model l\n.inputs clk1 a\n.outputs y\n.names clk1 b1\n1 1\n.names g4 clk1 g2\n11 1\n.names g2 r4 g4\n11 1\n"
       "00 1\n.latch a r1 re g4 0\n.latch r1 r2 re g4 0\n.latch r2 r3 re g4 0\n.latch r3 r4 re b1 0\n.names r4 y\n1 1\n.end\n",
       "create_clock -name c -period 1000 [get_ports clk1]\nset_output_delay 100 -clock c [all_outputs]\n"},
      // A clock made again by name on no source keeps its sources, delays
      // and rules, with its new edges (it became virtual, its registers
      // unconstrained); a later clock still takes a source from it.
      {chain, "create_clock -name c -period 1000 [get_ports {clk clk2}]\nset_input_delay 100 -clock c [get_ports a]\n"
              "set_output_delay 100 -clock c [all_outputs]\nset_max_delay 300 -from [get_clocks c] -to [get_cells r2]\n"
              "create_clock -name c -period 800 -waveform {100 500} [get_ports {}]\n"
              "create_clock -name B -period 600 [get_ports clk2]\n"},
      {chain, "create_clock -name c -period 1000 [get_ports {clk clk2}]\nset_output_delay 100 -clock c [all_outputs]\n"
              "create_clock -name c -period 700\n"},
      // Removing a clock that is not the last moves the later clocks' I/O
      // delays and path rules down with them (B's stayed on index 1: c's).
      {chain, "create_clock -name A -period 1000 [get_ports clk]\ncreate_clock -name B -period 1000 [get_ports clk2]\n"
              "set_input_delay 100 -clock B [get_ports a]\nset_output_delay 200 -clock B [all_outputs]\n"
              "set_max_delay 400 -from [get_clocks B]\ncreate_clock -name c -period 800 [get_ports clk]\n"},
      // An output whose delays went with their clock ends no max-delay
      // path, as in OpenSTA (it ended one as an output never delayed).
      {chain, "create_clock -name c -period 1000 [get_ports clk2]\nset_output_delay 300 -clock c [all_outputs]\n"
              "create_clock -name B -period 1000 [get_ports clk2]\nset_max_delay 500 -to [all_outputs]\n"},
      // A bare point is a clock, else a cell, else a port, pattern by
      // pattern, as OpenSTA reads it: clk the clock (not its port), q the
      // register (not the output it drives), y the gate (no end point, so
      // nothing), r? the registers r1 and r2 beside the port a (ports came
      // first, and once one pattern met a port the others met nothing).
      {named, "create_clock -name clk -period 1000 [get_ports clk]\nset_input_delay 100 -clock clk [get_ports a]\n"
              "set_output_delay 100 -clock clk [all_outputs]\nset_max_delay 200 -from clk -to r2\n"
              "set_false_path -to {q y}\n"},
      {named, "create_clock -name clk -period 1000 [get_ports clk]\nset_input_delay 100 -clock clk [get_ports a]\n"
              "set_output_delay 100 -clock clk [all_outputs]\nset_false_path -from {r? a}\n"},
      {named, "create_clock -name clk -period 1000 [get_ports clk]\nset_input_delay 100 -clock clk [get_ports a]\n"
              "set_output_delay 100 -clock clk [all_outputs]\nset_false_path -from {cl* r2} -to clk\n"},
      // A side of clocks and points is two rules, each ranked alone: the
      // rule from r2 wins over the clock's part (the whole ranked first).
      {named, "create_clock -name clk -period 1000 [get_ports clk]\nset_output_delay 100 -clock clk [all_outputs]\n"
              "set_max_delay 300 -from {r1 clk}\nset_max_delay 100 -from [get_cells r2]\n"},
  };
  for (const ROW& row : rows) {
    BLIF_RESULT in = blif_read_string(row.blif);
    ASSERT_NE(in.netlist, nullptr) << in.error;
    LOADED_NETLIST nl(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    STA_CONSTRAINTS c;
    for (const char* k : {"c", "A", "B", "V", "b", "a", "clk"})
      if (row.sdc.find(std::string("-name ") + k + " ") != std::string::npos) c.clocks.push_back({k, 1000, ""});
    c.sdc = row.sdc;
    std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
    for (const CDB_SGATE_ITERM* t : driven_outputs(nl.get())) pins.push_back(t);
    for (auto it = nl->begin_node_list(); row.cone && it != nl->end_node_list(); ++it)
      if (*it && (*it)->get_sgate_type() != CDB_SGATE_DFF_ENUM && !(*it)->is_pin())
        for (unsigned i = 0; i < (*it)->get_number_of_input_terms(); ++i)
          if ((*it)->get_input_term(i) && (*it)->get_input_term(i)->get_source()) pins.push_back((*it)->get_input_term(i));
    ssc_forget_posted_warnings();
    msg_log_clear();
    analyze_against_sta(nl.get(), SSC_DELAY_MODEL_TABLE, c, pins, row.blif + row.sdc, true);
    const std::vector<std::string> warned = posted(MSG_LOG_WARNING);
    auto has_warning = [&](const std::string& w) { return w.find(row.warning) != std::string::npos; };
    EXPECT_TRUE(row.warning.empty() || std::any_of(warned.begin(), warned.end(), has_warning)) << row.sdc;
  }
}

namespace {

// sta's text for one of the engine's: a net a clock is created on
// ("[get_nets x]") is its driver's output pin there, where the oracle names
// a gate by its own name, its output O0 (a register's Q0).
std::string sta_nets_as_pins(const CDB_SGATE_NETLIST* nl, const std::string& sdc) {
  std::string out;
  size_t at = 0;
  for (size_t k = sdc.find("[get_nets "); k != std::string::npos; k = sdc.find("[get_nets ", at)) {
    const size_t end = sdc.find(']', k);
    const std::string net = sdc.substr(k + 10, end - k - 10);
    bool reg = false;
    for (const CDB_SGATE_NODE* g : nl->get_node_list()) {
      const std::string path = g ? g->get_string_hpath() : std::string();
      if (g && path.substr(path.rfind('|') + 1) == net) reg = g->get_sgate_type() == CDB_SGATE_DFF_ENUM;
    }
    out += sdc.substr(at, k - at) + "[get_pins {" + net + (reg ? "/Q0" : "/O0") + "}]";
    at = end + 1;
  }
  return out + sdc.substr(at);
}

// The engine on `sdc` against sta on the same file with its nets named as
// sta names them: each clock's worst slack (c1 .. c3), the worst overall,
// and every register input and output, with `cone` every gate input too.
void clock_nets_against_sta(CDB_SGATE_NETLIST* nl, const std::string& sdc, bool cone, const std::string& context) {
  STA_CONSTRAINTS c;
  for (const char* k : {"c1", "c2", "c3"})
    if (sdc.find(std::string("-name ") + k + " ") != std::string::npos) c.clocks.push_back({k, 1000, ""});
  c.sdc = sta_nets_as_pins(nl, sdc);
  std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl);
  for (const CDB_SGATE_ITERM* t : driven_outputs(nl)) pins.push_back(t);
  for (auto it = nl->begin_node_list(); cone && it != nl->end_node_list(); ++it)
    if (*it && (*it)->get_sgate_type() != CDB_SGATE_DFF_ENUM && !(*it)->is_pin())
      for (unsigned i = 0; i < (*it)->get_number_of_input_terms(); ++i)
        if ((*it)->get_input_term(i) && (*it)->get_input_term(i)->get_source()) pins.push_back((*it)->get_input_term(i));
  analyze_against_sta(nl, SSC_DELAY_MODEL_TABLE, c, pins, context, true, sdc);
}

// A random design for the clock-net sweep: a clock tree from the port clk
// through buffers, inverters, one-input LUTs and enable gates, registers on
// its nets (either edge) and on other registers' outputs (ripple), data
// covers over inputs, registers and at times a clock net, and a file of a
// clock on clk and one or two on nets of the tree (a register's output
// among them, at times with -add or a waveform).
std::pair<std::string, std::string> clock_net_design(std::mt19937* rng) {
  auto pick = [&](int n) { return int((*rng)() % unsigned(n)); };
  std::string blif = ".model s\n.inputs clk en a0 a1\n.outputs y\n";
  std::vector<std::string> tree = {"clk"}, data = {"a0", "a1"};
  const int pass = 2 + pick(4);
  for (int k = 0; k < pass; ++k) {
    const std::string net = "k" + std::to_string(k), from = tree[size_t(pick(int(tree.size())))];
    switch (pick(5)) {
      case 0: blif += ".names " + from + " " + net + "\n0 1\n"; break;
      case 1: blif += ".names " + from + " en " + net + "\n11 1\n"; break;
      default: blif += ".names " + from + " " + net + "\n1 1\n"; break;
    }
    tree.push_back(net);
  }
  const int regs = 4 + pick(4);
  for (int k = 0; k < regs; ++k) {
    const std::string r = "r" + std::to_string(k), d = "d" + std::to_string(k);
    const std::string x = pick(5) == 0 ? tree[size_t(pick(int(tree.size())))] : data[size_t(pick(int(data.size())))];
    const std::string z = pick(3) == 0 ? r : data[size_t(pick(int(data.size())))];
    blif += ".names " + x + " " + z + " " + d + (pick(2) ? "\n11 1\n" : "\n10 1\n01 1\n");
    blif += ".latch " + d + " " + r + (pick(4) ? " re " : " fe ") + tree[size_t(pick(int(tree.size())))] + " 0\n";
    data.push_back(r);
    if (pick(4) == 0) tree.push_back(r);
  }
  blif += ".names r" + std::to_string(regs - 1) + " r" + std::to_string(regs - 2) + " y\n11 1\n.end\n";
  std::string sdc = "create_clock -name c1 -period " + std::to_string(1000 * (2 + pick(5))) + " [get_ports clk]\n";
  std::vector<std::string> clocked;  // one clock a net (a second -add one reaches no register here)
  const int more = 1 + pick(2);
  for (int k = 2; k <= 1 + more; ++k) {
    const std::string net = tree[1 + size_t(pick(int(tree.size()) - 1))];
    if (std::find(clocked.begin(), clocked.end(), net) != clocked.end()) continue;
    clocked.push_back(net);
    sdc += "create_clock -name c" + std::to_string(k) + " -period " + std::to_string(500 * (3 + pick(9))) +
           (pick(3) == 0 ? " -waveform {300 1100}" : "") + (pick(4) == 0 ? " -add" : "") + " [get_nets " + net + "]\n";
  }
  sdc += "set_input_delay 100 -clock c1 [get_ports {a0 a1}]\nset_output_delay 200 -clock c" +
         std::to_string(1 + pick(2)) + " [all_outputs]\n";
  return {blif, sdc};
}

}  // namespace

// A clock created on a net inside the logic is that net's clock from there
// on, as OpenSTA has it: on a buffer's, an inverter's or a one-input LUT's
// output (the registers behind it were clocked from the port, or, with no
// clock on the port, not at all: r2 and r3 read unconstrained beside
// sta's 1200 and 2700), the nearest of two on one path, on the edge it
// arrives on at the register; on a register's output used as a clock (a
// divide-by-two toggle), whose own data then launches at that clock's edges
// (div read 4700, sta 200); on a net that also feeds data (a buffer, an
// enable gate, a LUT of a register's output), which launches its data at
// its clock's edges while data from before it stops there (rd read -100
// from the port's clock data through ckb, sta 2200). A register whose clock
// pin a loop through its own output feeds is not named by the warning
// where a clock is created on the loop's net.
TEST(SscOracle, ClocksCreatedOnNetsInsideTheLogicAsOpenSta) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  // clk -> ckb (buffer) -> cki (inverter) -> ckl (one-input LUT); a ring of
  // registers r0 .. r3, one on each.
  const char* const chain =
      ".model c\n.inputs clk a\n.outputs y\n.names clk ckb\n1 1\n.names ckb cki\n0 1\n.names cki ckl\n1 1\n"
      ".latch n3 r0 re clk 0\n.names r0 n0\n0 1\n.latch n0 r1 re ckb 0\n.names r1 n1\n0 1\n.latch n1 r2 re cki 0\n"
      ".names r2 n2\n0 1\n.latch n2 r3 re ckl 0\n.names r3 a n3\n01 1\n10 1\n.names r3 y\n1 1\n.end\n";
  // div toggles on clk; r2 on div; div's data into r3 (rising or falling).
  const std::string div =
      ".model d\n.inputs clk a\n.outputs y\n.names div ndiv\n0 1\n.latch ndiv div re clk 0\n.latch a r1 re clk 0\n"
      ".names r1 n1\n0 1\n.latch n1 r2 re div 0\n.names r2 div n2\n11 1\n.latch n2 r3 {E} clk 0\n.names r3 y\n1 1\n.end\n";
  auto edge = [&](const char* e) { return std::string(div).replace(div.find("{E}"), 3, e); };
  // ckb (a buffer of clk), an enable gate ck2 and a LUT cq of r0 clock rb
  // and feed data into rd.
  const char* const buffer_data = ".model b\n.inputs clk a\n.outputs y\n.names clk ckb\n1 1\n.latch a r0 re clk 0\n"
                                  ".names ckb r0 n1\n11 1\n.latch n1 rd re clk 0\n.latch r0 rb re ckb 0\n"
                                  ".names rd rb y\n11 1\n.end\n";
  const char* const enable_data = ".model e\n.inputs clk en a\n.outputs y\n.latch a r0 re clk 0\n.names clk en ck2\n11 1\n"
                                  ".latch r0 rb re ck2 0\n.names ck2 r0 n1\n11 1\n.latch n1 rd re clk 0\n"
                                  ".names rd rb y\n11 1\n.end\n";
  std::string register_data = ".model r\n.inputs clk a\n.outputs y\n.latch a r0 re clk 0\n.names r0 l0\n0 1\n";
  for (int k = 1; k < 10; ++k)
    register_data += ".names l" + std::to_string(k - 1) + " l" + std::to_string(k) + "\n0 1\n";
  register_data += ".names l9 cq\n1 1\n.latch r0 rb re cq 0\n.names cq n1\n0 1\n.latch n1 rd re clk 0\n"
                   ".names rd rb y\n11 1\n.end\n";
  // r1 toggles on cq, a buffer of its own output.
  const char* const looped = ".model l\n.inputs clk a\n.outputs y\n.names r1 cq\n1 1\n.names r1 t\n0 1\n"
                             ".latch t r1 re cq 0\n.latch a r2 re clk 0\n.names r1 r2 y\n11 1\n.end\n";
  const std::string c1 = "create_clock -name c1 -period 5000 [get_ports clk]\n";
  const std::string c1_late = "create_clock -name c1 -period 5000 -waveform {0 4500} [get_ports clk]\n";
  const std::string c2 = "create_clock -name c2 -period 3000 ";
  struct ROW {
    std::string blif, sdc;
    bool cone = false;
  };
  const ROW rows[] = {
      {chain, c2 + "[get_nets ckb]\n"},
      {chain, c1 + c2 + "[get_nets ckb]\n"},
      {chain, c1 + c2 + "[get_nets cki]\n"},
      {chain, c1 + c2 + "[get_nets ckl]\n"},
      {chain, c1 + c2 + "-add [get_nets ckb]\n"},
      {chain, c1 + c2 + "[get_nets ckb]\ncreate_clock -name c3 -period 2000 -waveform {500 1500} [get_nets ckl]\n"},
      {chain, c2 + "-waveform {400 1900} [get_nets cki]\n" + c1 + "set_output_delay 100 -clock c2 [all_outputs]\n"},
      {edge("re"), c1 + c2 + "[get_nets div]\n"},
      {edge("fe"), "create_clock -name c1 -period 5000 -waveform {0 1000} [get_ports clk]\n"
                   "create_clock -name c2 -period 20000 -waveform {2000 12000} [get_nets div]\n"},
      {buffer_data, c1_late + "create_clock -name c2 -period 5000 -waveform {0 2500} [get_nets ckb]\n", true},
      {enable_data, c1_late + "create_clock -name c2 -period 5000 -waveform {0 2500} [get_nets ck2]\n"
                              "set_input_delay 4000 -clock c1 [get_ports en]\n", true},
      {register_data, c1 + "create_clock -name c2 -period 5000 -waveform {0 2500} [get_nets cq]\n", true},
      {looped, c1 + c2 + "[get_nets cq]\nset_output_delay 100 -clock c1 [all_outputs]\n"},
  };
  for (const ROW& row : rows) {
    BLIF_RESULT in = blif_read_string(row.blif);
    ASSERT_NE(in.netlist, nullptr) << in.error;
    LOADED_NETLIST nl(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    ssc_forget_posted_warnings();
    msg_log_clear();
    clock_nets_against_sta(nl.get(), row.sdc, row.cone, row.blif + row.sdc);
    for (const std::string& w : posted(MSG_LOG_WARNING))
      EXPECT_EQ(w.find("fed only by a loop"), std::string::npos) << w;
  }
}

// Generated designs of clock trees, ripple registers and clock nets that
// feed data, under files of clocks on their nets, against sta on every
// register input and output. KAVU_FULL_CLOCK_NET_SWEEP=<designs> runs that
// many (3 by default).
TEST(SscOracle, GeneratedClockNetsAsOpenSta) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  const char* full = std::getenv("KAVU_FULL_CLOCK_NET_SWEEP");
  const int designs = full ? std::max(1, std::atoi(full)) : 3;
  std::mt19937 rng(20240611u);
  for (int k = 0; k < designs; ++k) {
    const auto [blif, sdc] = clock_net_design(&rng);
    BLIF_RESULT in = blif_read_string(blif);
    ASSERT_NE(in.netlist, nullptr) << in.error;
    LOADED_NETLIST nl(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    clock_nets_against_sta(nl.get(), sdc, false, "design " + std::to_string(k) + "\n" + blif + sdc);
  }
}

// Forms of the SDC text that OpenSTA reads in its own way, on small
// designs, against sta on the same text.
TEST(SscOracle, UnnamedClockListsSetupHoldAndAnUnfinishedLastLineAsOpenSta) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  // r1 on clk into r2 on clk2, and y from r2.
  const char* const chain = ".model c\n.inputs clk clk2 a\n.outputs y\n.latch a r1 re clk 0\n.names r1 n1\n0 1\n"
                            ".latch n1 r2 re clk2 0\n.names r2 y\n0 1\n.end\n";
  // Inputs aa and b into r1 and r2.
  const char* const pair = ".model p\n.inputs clk aa b\n.outputs y\n.latch aa r1 re clk 0\n.latch b r2 re clk 0\n"
                           ".names r1 r2 y\n11 1\n.end\n";
  struct ROW {
    const char* blif;
    std::string sdc;
    std::vector<std::string> clocks;  // whose worst slack is compared
  };
  const std::string c = "create_clock -name c -period 1000 [get_ports {clk clk2}]\n";
  const ROW rows[] = {
      // A clock without -name on a bare or quoted list is named after the
      // first port as written (clk2), not the first in the netlist (clk):
      // a second clock on clk then takes clk alone, and clk2's registers
      // keep theirs; delays on clk2 apply; a bare -from clk names the port,
      // which starts no data path, not the clock.
      {chain, "create_clock -period 1000 {clk2 clk}\ncreate_clock -period 700 clk\n", {"clk", "clk2"}},
      {chain, "create_clock -period 1000 \"clk2 clk\"\nset_input_delay 300 -clock clk2 [get_ports a]\n"
              "set_output_delay 100 -clock clk2 [all_outputs]\n", {"clk2"}},
      {chain, "create_clock -period 1000 {clk2 clk}\nset_input_delay 300 -clock clk2 [get_ports a]\nset_false_path -from clk\n",
       {"clk2"}},
      // Under a wildcard the first port is the first in the netlist.
      {chain, "create_clock -period 1000 [get_ports clk*]\nset_input_delay 300 -clock clk [get_ports a]\n", {"clk"}},
      {chain, "create_clock -period 1000 clk*\nset_output_delay 200 -clock clk [all_outputs]\n", {"clk"}},
      // -setup with -hold: the setup part applies, over a max-delay rule.
      {chain, c + "set_max_delay 300 -from [get_cells r1] -to [get_cells r2]\n"
                  "set_false_path -setup -hold -from [get_cells r1] -to [get_cells r2]\n", {"c"}},
      {chain, c + "set_input_delay 400 -clock c [get_ports a]\nset_false_path -hold -setup -to [get_cells r2]\n", {"c"}},
      // A last line that ends in a backslash is dropped, the rest applies;
      // with a newline after the backslash it applies.
      {chain, c + "set_input_delay 400 -clock c [get_ports a]\nset_false_path -to [get_cells r1] \\", {"c"}},
      {chain, c + "set_input_delay 400 -clock c [get_ports a]\nset_max_delay 300 -to [get_cells r2] \\\n", {"c"}},
      {chain, c + "set_output_delay 100 -clock c [all_outputs]\nset_max_delay 300 -from [get_cells r1] \\\n"
                  "  -to [get_cells r2] \\", {"c"}},
      // Collections from nested lists: an empty one names no cell; a
      // nested command first in a list is evaluated.
      {chain, c + "set_input_delay 900 -clock c [get_ports a]\nset_false_path -to [get_cells [list]]\n", {"c"}},
      {pair, "create_clock -name c -period 1000 [get_ports clk]\n"
             "set_input_delay 600 -clock c [get_ports [list [list aa] b]]\n", {"c"}},
  };
  for (const ROW& row : rows) {
    BLIF_RESULT in = blif_read_string(row.blif);
    ASSERT_NE(in.netlist, nullptr) << in.error;
    LOADED_NETLIST nl(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
    STA_CONSTRAINTS k;
    for (const std::string& name : row.clocks) k.clocks.push_back({name, 1000, ""});
    k.sdc = row.sdc;
    std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
    for (const CDB_SGATE_ITERM* t : driven_outputs(nl.get())) pins.push_back(t);
    ssc_forget_posted_warnings();
    msg_log_clear();
    analyze_against_sta(nl.get(), SSC_DELAY_MODEL_TABLE, k, pins, row.sdc, true);
  }
}

// Lists of points in path rules ("[list r1 [get_cells r2] {r3 r4}]", which
// ended the read with "unknown collection list") and a last command that a
// brace, bracket or quote leaves open (which ended it with "unbalanced {"),
// against sta on the same text. a and b into r1 and r2, r1 AND r2 into r3,
// NOT r1 into r4; y and z from them.
TEST(SscOracle, ListsOfPointsAndUnfinishedLastCommandsAsOpenSta) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  BLIF_RESULT in = blif_read_string(
      ".model m\n.inputs clk a b\n.outputs y z\n.latch a r1 re clk 0\n.latch b r2 re clk 0\n.names r1 r2 n1\n11 1\n"
      ".latch n1 r3 re clk 0\n.names r1 n2\n0 1\n.latch n2 r4 re clk 0\n.names r3 r4 y\n10 1\n.names r2 r4 z\n11 1\n"
      ".end\n");
  ASSERT_NE(in.netlist, nullptr) << in.error;
  LOADED_NETLIST nl(in.netlist, LOADED_NETLIST_DELETER{in.hierarchy});
  std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
  for (const CDB_SGATE_ITERM* t : driven_outputs(nl.get())) pins.push_back(t);
  const std::string clock = "create_clock -name c -period 1000 [get_ports clk]\n"
                            "set_input_delay 100 -clock c [get_ports {a b}]\nset_output_delay 100 -clock c [all_outputs]\n";
  std::vector<std::string> rows = {
      // Elements are bare points (a clock, else cells, else ports) or
      // collections; nested lists flatten, empty ones name nothing (sta
      // refuses a side that names nothing, leaving every path timed).
      "set_false_path -from [list r1 r2]\n",
      "set_false_path -to [list r3 {r4}]\n",
      "set_false_path -from [list [get_ports a] [get_cells r2]] -to [list r3]\n",
      "set_false_path -from [list {r1 r2}] -to [list [list r3]]\n",
      "set_false_path -from [list] -to r3\n",
      "set_false_path -to [list [list] {} r4]\n",
      "set_false_path -from [list c] -to [list r3]\n",
      "set_max_delay 300 -from [list a] -to [list r1 [get_cells r3]]\n",
      "set_max_delay 250 -from [list [list r1] r2] -to [concat r3 {r4}]\n",
      // Commands the engine does not apply read their lists too: a
      // multiplier of 1 and a min delay change no setup slack in sta, and
      // no path runs from r2 through n2 or from r4 through n1.
      "set_multicycle_path 1 -setup -from [list r1] -to [list [get_cells r3]]\n",
      "set_min_delay 50 -from [list r1 r2] -to [list r3]\n",
      "set_false_path -from [list r2] -through [list n2] -to [list r4]\n",
      "set_max_delay 100 -from [list r4] -through [list [get_cells n1]]\n",
      // The open part of a last command runs to the end of the file, over
      // any commands after it.
      "set_false_path -from {r1\nset_false_path -to [get_cells r4]\n",
      // The version as tools write it (it refused the whole file).
      "set sdc_version 2.1\nset_max_delay 300 -to [get_cells r3]\n",
      // The unfinished text at the end holds every command of the lines
      // sta joins to complete it (those before the open one applied).
      "set_max_delay 300 -to [get_cells r3]; set_false_path -from [get_cells {r1",
      "set_max_delay 300 -to [get_cells {r3\n}]; set_false_path -to [list r4 \"r1",
      "set_max_delay 300 -to [get_cells r3];\\\nset_false_path -to [get_cells r4] \\",
      "set_max_delay 300 -to [get_cells r3]; # r4 \\\n\nset_false_path -from [get_cells [list r1",
      "set_false_path -to [get_cells r1]; set_max_delay 300 -to r3\nset_max_delay 200 -from r2; set_max_delay 250 -to {r4",
  };
  // Every cut of a last command that leaves it open, as Tcl's "info
  // complete" says: the command is dropped, the one before applies.
  const std::string last = "set_max_delay 300 -from [get_cells {r1 r2}] -to [list \"r3\" {r4}]";
  for (size_t cut = 1; cut < last.size(); ++cut) {
    std::string complete;
    ASSERT_TRUE(atcl_eval_words({"info", "complete", last.substr(0, cut)}, &complete));
    if (complete == "0") rows.push_back("set_false_path -to [list r4]\n" + last.substr(0, cut));
  }
  EXPECT_GT(rows.size(), 40u);
  for (const std::string& row : rows) {
    STA_CONSTRAINTS k;
    k.clocks.push_back({"c", 1000, ""});
    k.sdc = clock + row;
    analyze_against_sta(nl.get(), SSC_DELAY_MODEL_TABLE, k, pins, row, true);
  }
}

namespace {

// A random constraint file for a campaign against sta: the SDC version as
// tools write it (mostly), a clock per clock port (a virtual one where
// there is none), I/O delays and path rules between registers, some lines
// holding several commands ("a; b") or a list that runs over a line end,
// some comments; its last line holds two or three commands, the last one a
// path rule whose collections can be left open.
struct SDC_CAMPAIGN_DESIGN {
  std::vector<std::string> clocks, inputs, outputs, registers;  // leaf names
};

SDC_CAMPAIGN_DESIGN campaign_design(const CDB_SGATE_NETLIST* nl) {
  SDC_CAMPAIGN_DESIGN d;
  auto leaf = [](const std::string& path) { return path.substr(path.rfind('|') + 1); };
  auto plain = [](const std::string& n) {
    return !n.empty() && !std::isdigit(static_cast<unsigned char>(n[0])) &&
           std::all_of(n.begin(), n.end(), [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_'; });
  };
  const std::vector<std::string> clocks = clock_pins(nl);
  for (const std::string& c : clocks) d.clocks.push_back(leaf(c));
  for (const CDB_SGATE_IO* pin : nl->get_input_pins())
    if (std::find(clocks.begin(), clocks.end(), pin->get_string_hpath()) == clocks.end() && plain(leaf(pin->get_string_hpath())))
      d.inputs.push_back(leaf(pin->get_string_hpath()));
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->get_sgate_type() == CDB_SGATE_DFF_ENUM && plain(leaf((*it)->get_string_hpath())))
      d.registers.push_back(leaf((*it)->get_string_hpath()));
  return d;
}

std::string campaign_file(const SDC_CAMPAIGN_DESIGN& d, std::mt19937* rng) {
  auto pick = [&](int n) { return int((*rng)() % unsigned(n)); };
  auto reg = [&] { return d.registers[size_t(pick(int(d.registers.size())))]; };
  // A list of one or two registers; a line end inside the braces at times.
  auto regs = [&] {  // the draws in a fixed order, whatever the compiler's order of operands
    const std::string first = reg();
    if (pick(2)) return first;
    const char* const gap = pick(6) ? " " : "\n  ";
    return "{" + first + gap + reg() + "}";
  };
  std::vector<std::string> commands;
  if (pick(4)) commands.push_back("set sdc_version 2.1");
  for (size_t k = 0; k < d.clocks.size(); ++k)
    commands.push_back("create_clock -name c" + std::to_string(k) + " -period " + std::to_string(600 + 100 * pick(15)) +
                       " [get_ports {" + d.clocks[k] + "}]");
  if (d.clocks.empty()) commands.push_back("create_clock -name c0 -period " + std::to_string(600 + 100 * pick(15)));
  const std::string c0 = "c0", clast = "c" + std::to_string(d.clocks.empty() ? 0 : d.clocks.size() - 1);
  if (!d.inputs.empty()) {
    std::string ports;
    for (const std::string& p : d.inputs) ports += (ports.empty() ? "" : " ") + p;
    commands.push_back("set_input_delay " + std::to_string(50 * pick(8)) + " -clock " + c0 + " [get_ports {" + ports + "}]");
  }
  commands.push_back("set_output_delay " + std::to_string(50 * pick(8)) + " -clock " + clast + " [all_outputs]");
  auto rule = [&] {
    const std::string v = std::to_string(100 + 50 * pick(20));
    const int form = pick(7);
    const std::string a = regs(), b = regs(), r = reg();
    switch (form) {
      case 0: return "set_false_path -from [get_cells " + a + "]";
      case 1: return "set_false_path -to [get_cells " + a + "]";
      case 2: return "set_false_path -from [get_cells " + a + "] -to [get_cells " + b + "]";
      case 3: return "set_max_delay " + v + " -from [get_cells " + a + "] -to [get_cells " + b + "]";
      case 4: return "set_max_delay " + v + " -to [get_cells " + a + "]";
      case 5: return "set_false_path -from [get_clocks " + c0 + "] -to [list " + r + " [get_cells " + a + "]]";
      default: return "set_max_delay " + v + " -from [list [get_cells " + a + "]] -to \"" + r + "\"";
    }
  };
  for (int k = 2 + pick(4); k > 0; --k) commands.push_back(rule());
  const size_t last_line = commands.size();
  for (int k = 2 + pick(2); k > 0; --k) commands.push_back(rule());
  std::string text;
  for (size_t k = 0; k < commands.size(); ++k) {
    if (k > 0) text += k > last_line || (k < last_line && k > 1 && pick(3) == 0) ? "; " : "\n";
    if (k + 1 < last_line && pick(8) == 0) text += "# " + std::to_string(k) + "\n";
    text += commands[k];
  }
  return text;
}

// The engine's slack of each pin under `sdc`; empty when the read or the
// analysis fails.
std::vector<int> engine_slacks(CDB_SGATE_NETLIST* nl, const std::string& sdc,
                               const std::vector<const CDB_SGATE_ITERM*>& pins) {
  write_file("t.sdc", sdc);
  CFG_SCOPE cfg{{"ssc_sdc_file", "t.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  static CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  std::vector<int> slacks;
  SSC_ITERM_TIMING_INFO_MAP map;
  if (u->initialize_netlist(&facade, nl, SSC_DELAY_MODEL_TABLE, nullptr) &&
      u->perform_timing_analysis(nl, &map, nullptr, false))
    for (const CDB_SGATE_ITERM* t : pins) slacks.push_back(u->get_iterm_slack(t));
  u->delete_netlist();
  return slacks;
}

// The file as OpenSTA writes it back (write_sdc), after its own read: "" when
// sta fails.
std::string sta_written(const CDB_SGATE_NETLIST* nl, const std::string& sdc) {
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  STA_CONSTRAINTS k;
  k.sdc = sdc;
  std::string why;
  std::filesystem::create_directory("sta_w");
  if (!sta_write_inputs(nl, &facade, SSC_DELAY_MODEL_TABLE, k, {}, "sta_w", &why)) return "";
  write_file("sta_w/w.tcl", "read_liberty cells.lib\nread_verilog top.v\nlink_design top\nread_sdc top.sdc\n"
                            "write_sdc out.sdc\n");
  std::filesystem::remove("sta_w/out.sdc");
  if (oracle_run({sta_binary_path(), "-no_splash", "-exit", "w.tcl"}, "sta_w", "sta_w/log", 120) != 0) return "";
  std::ifstream f("sta_w/out.sdc");
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

// Random constraint files on bundled designs, cut in their last line, the
// engine against sta on every register input and output: the whole file
// and every cut that leaves the text unfinished (Tcl's "info complete"
// false) equal sta on every pin. KAVU_FULL_SDC_SWEEP=1 runs more designs
// and files, cuts at every byte of the last line and after every line, and
// files as sta writes them back (write_sdc), some led by the version as
// other tools write it; it counts the pins that equal sta over all cuts (a
// cut that leaves a complete text may end the read, where sta applies the
// commands before the error: counted, not asserted), and with
// KAVU_SDC_SWEEP_DUMP=<file> writes each text's result per pin there.
TEST(SscOracle, RandomFilesCutInTheirLastLineAsOpenSta) {
  if (sta_binary_path().empty()) GTEST_SKIP() << "sta (OpenSTA) is not installed; install the opensta package";
  const bool full = std::getenv("KAVU_FULL_SDC_SWEEP") != nullptr;
  const char* dump_path = std::getenv("KAVU_SDC_SWEEP_DUMP");
  std::ofstream dump;
  if (dump_path) dump.open(dump_path);
  std::vector<std::string> designs = {"small/counter8_lut4", "small/fsm_seq_generic", "mcnc/s298"};
  if (full)
    designs.insert(designs.end(), {"small/shift_en_sclr_lut4", "small/lfsr16_lut6", "small/updown16_generic",
                                   "small/crc8_lut4", "mcnc/tseng"});
  const int files = full ? 3 : 2;
  size_t texts = 0, compared = 0, pins_equal = 0, pins_compared = 0, refused = 0, sta_failed = 0;
  for (const std::string& name : designs) {
    LOADED_NETLIST nl = load_blif(name);
    const SDC_CAMPAIGN_DESIGN d = campaign_design(nl.get());
    if (d.registers.size() < 2) continue;
    std::vector<const CDB_SGATE_ITERM*> pins = driven_register_inputs(nl.get());
    for (const CDB_SGATE_ITERM* t : driven_outputs(nl.get())) pins.push_back(t);
    std::mt19937 rng(uint32_t(std::hash<std::string>{}(name) & 0xffffffffu));
    for (int f = 0; f < 2 * files; ++f) {
      if (f >= files && !full) break;
      std::string text = campaign_file(d, &rng);
      if (f >= files) {  // as sta writes it back, under the version at times
        text = sta_written(nl.get(), text);
        // Its last lines are comments: the constraints end the file.
        size_t end = text.size();
        while (end > 1) {
          const size_t line = text.rfind('\n', end - 2) + 1;
          if (text[line] != '#') break;
          end = line;
        }
        text.resize(end);
        if (text.empty()) continue;
        if (f % 2) text = "set sdc_version 2.1\n" + text;
      }
      // The texts: the file, then its cuts (asserted: those left unfinished).
      std::vector<std::pair<std::string, bool>> cuts = {{text, true}};
      const size_t last = text.rfind('\n', text.size() - 2) + 1;
      for (size_t at = last + 1; at < text.size(); ++at) {
        std::string complete;
        ASSERT_TRUE(atcl_eval_words({"info", "complete", text.substr(0, at)}, &complete));
        if (full || (complete == "0" && rng() % 16 == 0)) cuts.push_back({text.substr(0, at), complete == "0"});
      }
      for (size_t at = 0; full && at < last; ++at)
        if (text[at] == '\n') cuts.push_back({text.substr(0, at + 1), false});
      for (const auto& [sdc, asserted] : cuts) {
        const size_t id = texts++;
        const std::vector<int> ours = engine_slacks(nl.get(), sdc, pins);
        CMP_FACADE facade;
        facade.set_family(DEV_FAMILY_ENUM(47));
        STA_CONSTRAINTS k;
        k.sdc = sdc;
        const STA_RESULT r = sta_analyze(nl.get(), &facade, SSC_DELAY_MODEL_TABLE, k, pins);
        if (r.status != STA_OK) {
          ++sta_failed;
          EXPECT_FALSE(asserted) << name << "\n" << sdc << "\n" << r.log.substr(0, 2000);
          continue;
        }
        ++compared;
        refused += ours.empty();
        EXPECT_TRUE(!asserted || !ours.empty()) << name << "\n" << sdc;
        int differ = 0;
        for (size_t p = 0; p < pins.size(); ++p) {
          const bool equal = !ours.empty() && (r.pin_slacks[p] == 2147483647.0
                                                   ? ours[p] == SSC_UNCONSTRAINED_SLACK
                                                   : std::abs(ours[p] - r.pin_slacks[p]) <= sta_rounding(r.pin_slacks[p]));
          pins_equal += equal;
          differ += !equal;
          if (dump.is_open())
            dump << id << ' ' << p << ' ' << (ours.empty() ? std::string("-") : std::to_string(ours[p])) << ' '
                 << r.pin_slacks[p] << ' ' << equal << '\n';
        }
        pins_compared += pins.size();
        EXPECT_TRUE(!asserted || differ == 0) << name << ": " << differ << " of " << pins.size() << " pins differ\n" << sdc;
      }
    }
  }
  std::cout << texts << " texts, " << compared << " compared (" << sta_failed << " failed in sta, " << refused
            << " refused here), " << pins_equal << " of " << pins_compared << " pins equal sta\n";
  EXPECT_GT(compared, 8u);
}

TEST(SscTcl, InterpreterPackagesAndRegistrars) {
  Tcl_Interp* interp = atcl_get_interpreter();
  ASSERT_NE(interp, nullptr);
  EXPECT_EQ(atcl_get_interpreter(), interp);
  EXPECT_EQ(atcl_package_require(interp, "flow", "1.0", false, true), 0);
  EXPECT_EQ(atcl_package_require(interp, "no_such_package", nullptr, false, true), 1);
  std::string result;
  EXPECT_TRUE(atcl_eval("expr {6 * 7}", &result));
  EXPECT_EQ(result, "42");
  EXPECT_FALSE(atcl_eval("no_such_command", &result));
  // The engine's commands survive a fresh interpreter.
  ssc_get_util();
  atcl_test_reset();
  EXPECT_TRUE(atcl_eval("info commands get_worst_slack", &result));
  EXPECT_EQ(result, "get_worst_slack");
}

// Tcl's own reading of commands and lists, nothing substituted: a bracket
// inside braces is a character (the reader split "{[ab].*}" at it), a bare
// bus bit stays as written, ';' ends a command inside brackets as well, and
// what Tcl does not read is an error. Memory the system refuses for a large
// list is std::bad_alloc, where Tcl itself would end the process.
TEST(SscTcl, CommandWordsAndListsAsTclReadsThem) {
#ifndef KAVU_UNDER_ASAN
  // With little memory left, a read is refused with std::bad_alloc (the
  // reader's "not enough memory") wherever Tcl would run out: a short file
  // (where Tcl's one-time set-up ran out), commands of many words, a long
  // list after the reader's copy of it. Tcl itself ended the process
  // there. Each text reads once memory allows what Tcl takes: a line of
  // 34,000 collections was refused below some 27 MiB, asked for a parse
  // of its own per bracket.
  {
    LOADED_NETLIST nl = load_blif("small/shift_en_sclr_lut4");
    SSC_NETLIST_DATA data;
    data.build({nl.get()}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
    std::string words = "set_false_path -to [get_cells", list = "set_false_path -to [get_cells {";
    for (int k = 0; k < 90000; ++k) words += " zz zz";
    for (int k = 0; k < 200000; ++k) list += "reg" + std::to_string(k) + " ";
    std::string collections = "set_disable_timing";
    for (int k = 0; k < 34000; ++k) collections += " [get_cells zz]";
    struct MEMORY_ROW {
      std::string sdc;
      size_t step, steps, reads_from;  // bytes left: step, 2 step, ...; all read from reads_from on
    };
    const MEMORY_ROW memory_rows[] = {
        {"create_clock -name c -period 10 [get_ports clk]\nset_input_delay 1 -clock c [all_inputs]\n", 8 << 10, 40,
         192 << 10},
        {words + "]\n", 2 << 20, 20, 36 << 20},
        {words.substr(0, 30000) + "]\n", 128 << 10, 32, 3 << 20},
        {list + "}]\n", 1 << 20, 32, 30 << 20},
        {collections + "\n", 1 << 20, 12, 8 << 20},
    };
    for (const MEMORY_ROW& row : memory_rows) {
      for (size_t k = 1; k <= row.steps; ++k) {
        const size_t left = k * row.step;
        EXPECT_TRUE(run_with_memory_left(left, [&] {
          SSC_CONSTRAINTS c;
          std::string error;
          try {
            return ssc_read_sdc(row.sdc, data, &c, &error);
          } catch (const std::bad_alloc&) {
            return left < row.reads_from;
          }
        })) << row.sdc.substr(0, 40) << " with " << left << " bytes left";
      }
    }
  }
#endif
  struct ROW {
    const char* text;
    std::vector<std::string> words;  // of the first command
    const char* rest;
    const char* error;
  };
  const ROW commands[] = {
      {"get_ports -regexp {[ab].*}", {"get_ports", "-regexp", "[ab].*"}, "", ""},
      {"  # note\nset_x d[3] {d[*]} \"a b\" [get_cells {r[1]}] ; next", {"set_x", "d[3]", "d[*]", "a b", "[get_cells {r[1]}]"},
       " next", ""},
      {"get_cells r3 ;", {"get_cells", "r3"}, "", ""},
      {"a {b\\}c}", {"a", "b\\}c"}, "", ""},
      {"a [b", {}, "", "unbalanced ["},
      {"a {b", {}, "", "unbalanced {"},
      {"a {b}c", {}, "", "extra characters after a closing brace"},
      // Tcl ends a command, not the line: braces and brackets span lines,
      // a backslash-newline is one space in braces too.
      {"a {b\n c} [d\n]\ne", {"a", "b\n c", "[d\n]"}, "e", ""},
      {"a {b \\\n   c}", {"a", "b  c"}, "", ""},
  };
  for (const ROW& row : commands) {
    std::vector<std::string> words;
    std::string_view rest;
    std::string why;
    const bool ok = atcl_command_words(row.text, &words, &rest, &why);
    EXPECT_EQ(ok, !*row.error) << row.text;
    EXPECT_EQ(why, row.error) << row.text;
    if (ok) {
      EXPECT_EQ(words, row.words) << row.text;
      EXPECT_EQ(rest, row.rest) << row.text;
    }
  }
  const std::pair<const char*, std::vector<std::string>> lists[] = {
      {"[ab].*", {"[ab].*"}}, {"[a b]", {"[a", "b]"}}, {"{a b} c", {"a b", "c"}}, {"a\\ b", {"a b"}}, {"", {}}};
  for (const auto& [text, elements] : lists) {
    std::vector<std::string> got;
    std::string why;
    EXPECT_TRUE(atcl_split_list(text, &got, &why)) << text;
    EXPECT_EQ(got, elements) << text;
  }
  std::vector<std::string> got;
  std::string why;
  EXPECT_FALSE(atcl_split_list("{a}b", &got, &why));
  // Words that are one nested command, and Tcl's list and concat.
  std::vector<char> substituted;
  std::string_view rest;
  ASSERT_TRUE(atcl_command_words("a [list b] {[c]} d[3] [e][f]", &got, &rest, &why, &substituted));
  EXPECT_EQ(substituted, (std::vector<char>{0, 1, 0, 0, 0}));
  EXPECT_EQ(atcl_merge_list({"d[0]", "a b", ""}, false), "{d[0]} {a b} {}");
  EXPECT_EQ(atcl_merge_list({" a b ", "c"}, true), "a b c");
  // Nesting 50,000 levels deep (brackets, quotes within brackets, array
  // indices) once overflowed the stack; at most the depth read, on a thread
  // of 1 MiB of stack, words deeper are refused.
  auto nested = [](int levels, const std::string& open, const std::string& close) {
    std::string text = "set_x ";
    for (int k = 0; k < levels; ++k) text += open;
    for (int k = 0; k < levels; ++k) text += close;
    return text;
  };
  const std::tuple<std::string, bool> deep[] = {
      {nested(100, "[a ", "]"), true},        {nested(101, "[a ", "]"), false},
      {nested(50000, "[", "]"), false},       {nested(50000, "[a \"", "\"]"), false},
      {nested(50000, "$a(", ")"), false},     {"set_x {" + std::string(50000, '[') + "}", true},
  };
  for (const auto& [text, reads] : deep) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size_t(1) << 20);
    struct ARGS {
      const std::string* text;
      bool ok;
      std::string why;
    } args{&text, false, ""};
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, [](void* p) -> void* {
      ARGS* a = static_cast<ARGS*>(p);
      std::vector<std::string> words;
      std::string_view rest;
      a->ok = atcl_command_words(*a->text, &words, &rest, &a->why);
      return nullptr;
    }, &args), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(args.ok, reads) << text.substr(0, 20) << " " << args.why;
    EXPECT_EQ(args.why, reads ? "" : "brackets nested more than 100 levels deep");
  }
#ifndef KAVU_UNDER_ASAN
  std::string big;
  for (int k = 0; k < (24 << 20); ++k) big += "a ";
  EXPECT_TRUE(run_within_address_space(uint64_t(100) << 20, [&] {
    std::vector<std::string> elements;
    std::string error;
    try {
      atcl_split_list(big, &elements, &error);
    } catch (const std::bad_alloc&) {
      return true;
    }
    return false;
  }));
#endif
}
