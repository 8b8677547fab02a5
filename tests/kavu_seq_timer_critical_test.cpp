// Tests of the sequential timer's critical-path reports: failing points,
// critical paths and their closure, the big gates among them and on failing
// loops, the timing report's fallback to non-fixed paths, the depth-table
// dump and register inputs that reach their driver through the atom input.
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "kavu_delay_model_seq.h"
#include "kavu_dff_helper.h"
#include "kavu_seq_scc.h"
#include "kavu_seq_timer.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_output_term(0); }

CDB_SGATE_NODE* reg(CDB_SGATE_NETLIST& nl, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clk) {
  CDB_SGATE_NODE* r = make_dff(&nl, nullptr, clk);
  if (d) kavu_get_dff_data(r)->set_source(out(d));
  return r;
}

// A big gate over the distinct sources of the gate's inputs.
KAVU_BIG_GATE_INFO* big_gate_over_inputs(CDB_SGATE_OTERM* oterm) {
  KAVU_BIG_GATE_INFO* info = new KAVU_BIG_GATE_INFO(oterm);
  std::set<CDB_SGATE_OTERM*> seen;
  for (CDB_SGATE_ITERM* t : oterm->get_my_node()->get_input_terms())
    if (t->get_source() && seen.insert(t->get_source()).second) info->add_support(t->get_source());
  return info;
}

// The gate ids of the "[k] id ..." lines of a report.
std::set<int> listed_ids(const std::string& text) {
  std::set<int> ids;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.size() > 1 && line[0] == '[') ids.insert(std::stoi(line.substr(line.find("] ") + 2)));
  return ids;
}

}  // namespace

// One unit below the best cycle time of a bundled design: the failing end
// points, their critical paths, the closure of the paths and the big gate
// among the critical points, as text; without a big-gate set no block.
TEST(KavuSeqCritical, ReportsOfABundledDesign) {
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  auto nl = load_blif("mcnc/s298", comb);
  KAVU_SEQ_TIMER timer("s298", nl.get(), nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  KAVU_SEQ_DELAY_ANALYSIS* analysis = timer.get_analysis(1);
  ASSERT_EQ(analysis->get_best_cycle_time(), 320);
  CDB_SGATE_OTERM *critical = nullptr, *quiet = nullptr;
  for (CDB_SGATE_OTERM* o : analysis->get_sorted_oterms()) {
    if (o->get_my_node()->get_id() == 3285) critical = o;
    if (o->get_my_node()->get_id() == 1000) quiet = o;
  }
  ASSERT_TRUE(critical && quiet);
  KAVU_BIG_GATE_SET_INFO big_gates;
  KAVU_BIG_GATE_INFO* big = big_gate_over_inputs(critical);
  big->add_support_depth(big->get_supports()[0], 2);
  big_gates.add_big_gate_info(big);
  big_gates.add_big_gate_info(big_gate_over_inputs(quiet));  // not critical: never listed
  big_gates.add_stage1_id(3285, 77);
  std::ostringstream paths, failing, points, gates, no_gates;
  analysis->analyze_critical_paths(319, &big_gates, {&paths, &failing, &points, &gates});
  const struct {
    const char* what;
    std::string text, expected;
  } cases[] = {
      {"failing points", failing.str(),
       "START CLOCK DOMAIN 1\nTotal = 2\n[0] 47 top|n_n47/PORT_29200\n[1] 42 top|n_n46/PORT_29200\n"
       "END CLOCK DOMAIN\n\n"},
      {"big gate on a path", paths.str(), "[2] 3285 top|[8750]/PORT_29200 * 4 INPUT_CNT= 4\n"},
      {"path cut where its source leaves the domain", paths.str(),
       "[28] 633 top|[5548]/PORT_29200  INPUT_CNT= 4\nEND CRITICAL PATH\n"},
      {"closure", points.str(), "START CLOCK DOMAIN 1\nTotal = 38\n[0] 47 top|n_n47/PORT_29200\n"},
      {"big gates", gates.str(),
       "START CLOCK DOMAIN 1\nSTART BIG GATE\n3285 PORT_29200 PRE_DECOMP_ID= 77\nSTART BIG GATE SUP 4\n"
       "0 3286 PORT_29200 PRE_DECOMP_ID= 3286 DECOMP_DEPTH= 2 1 \n"
       "1 3287 PORT_29200 PRE_DECOMP_ID= 3287 DECOMP_DEPTH= -1 1 \n"
       "2 3288 PORT_29200 PRE_DECOMP_ID= 3288 DECOMP_DEPTH= -1 1 *\n"
       "3 3289 PORT_29200 PRE_DECOMP_ID= 3289 DECOMP_DEPTH= -1 1 \n"
       "END BIG GATE SUP\nEND BIG GATE\nEND CLOCK DOMAIN\n"},
  };
  for (const auto& c : cases) EXPECT_NE(c.text.find(c.expected), std::string::npos) << c.what << "\n" << c.text;
  // The closure holds the terminals of the paths and the input pin (id 1)
  // where one path leaves the domain, which a path does not list.
  std::set<int> closure = listed_ids(points.str());
  EXPECT_EQ(closure.erase(1), 1u);
  EXPECT_EQ(closure, listed_ids(paths.str()));
  // Without a big-gate set the other reports stay, the big-gate one is empty.
  analysis->analyze_critical_paths(319, nullptr, {nullptr, nullptr, nullptr, &no_gates});
  EXPECT_EQ(no_gates.str(), "");
}

// Two rings of six unit gates with one movable register each fail one unit
// below their best: the end-point analysis is skipped, and the loop report
// lists the big gate on the first ring with its driver, the second ring
// without big gates.
TEST(KavuSeqCritical, BigGatesOnFailingLoops) {
  CFG_SCOPE cfg{{"kavu_delay_comb_gate", "1"}, {"kavu_keep_non_seq_depth", "on"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  std::vector<CDB_SGATE_NODE*> gates[2];
  for (auto& ring : gates) {
    CDB_SGATE_NODE* r = reg(nl, nullptr, clk);
    CDB_SGATE_NODE* prev = r;
    for (int k = 0; k < 6; ++k) ring.push_back(prev = make_and(&nl, prev, prev));
    kavu_get_dff_data(r)->set_source(out(prev));
  }
  KAVU_SEQ_TIMER timer("rings", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  KAVU_SEQ_DELAY_ANALYSIS* analysis = timer.get_analysis(1);
  ASSERT_EQ(analysis->get_best_cycle_time(), 6);
  KAVU_BIG_GATE_SET_INFO big_gates;
  big_gates.add_big_gate_info(big_gate_over_inputs(out(gates[0][2])));
  std::ostringstream failing, loops;
  analysis->analyze_critical_paths(5, &big_gates, {nullptr, &failing, nullptr, nullptr});
  EXPECT_EQ(failing.str(), "");
  analysis->dump_big_gates_on_loops(&big_gates, loops);
  const std::string text = loops.str();
  const std::string driver = std::to_string(gates[0][1]->get_id());
  const std::string expected[] = {
      "SIZE= 7\nSTART POS LOOP",
      "START GATE\n" + std::to_string(gates[0][2]->get_id()) + " 1 [" + driver + " PORT_29200 -1]\n",
      "START GATE DRIVERS 1\n * [0] 1 " + driver + " PORT_29200 PRE_DECOMP_ID= " + driver +
          " DECOMP_DEPTH= -1 NON_SEQ_DEPTH= 1 2 SCC\nEND GATE DRIVER\nEND GATE\n",
      "NO BIG GATES on the loop\n",
  };
  for (const std::string& e : expected) EXPECT_NE(text.find(e), std::string::npos) << e << "\n" << text;
  // One loop per ring, one big gate in all.
  EXPECT_EQ(text.find("START GATE\n"), text.rfind("START GATE\n"));
  EXPECT_NE(text.find("SCC "), text.rfind("SCC "));
}

// A chain of unit gates between two registers fixed by their pins: at its
// own best cycle time the chain is critical; with the best set above every
// path the report picks the critical nodes by the largest non-fixed path.
TEST(KavuSeqCritical, TimingReportFallsBackToNonFixedPaths) {
  CFG_SCOPE cfg{{"kavu_delay_comb_gate", "1"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* last = reg(nl, make_input_pin(&nl, "in"), clk);
  for (int k = 0; k < 4; ++k) last = make_and(&nl, last, last);
  make_output_pin(&nl, "q", reg(nl, last, clk));
  KAVU_SEQ_TIMER timer("chain", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  KAVU_SEQ_DELAY_ANALYSIS* analysis = timer.get_analysis(1);
  ASSERT_EQ(analysis->get_best_cycle_time(), 4);
  const struct {
    int best;
    bool fallback;
  } cases[] = {{4, false}, {7, true}};
  for (const auto& c : cases) {
    analysis->set_best_cycle_time(c.best);
    std::ostringstream os;
    analysis->write_timing_info(os);
    const std::string text = os.str();
    EXPECT_EQ(text.find("The critical path is identified using max sequential path delay of non-fixed nodes.\n"
                        "*************************************************************\nCRITICAL_SGATE "
                        ) != std::string::npos,
              c.fallback)
        << text;
    EXPECT_EQ(text.find("Critical Node count (current max seq depth of non fixed nodes) = 4\n") != std::string::npos,
              c.fallback);
    // Either way the four gates are critical; each reads its driver twice,
    // so 16 paths run through them, of which the list keeps five.
    EXPECT_NE(text.find("Total number of critical start points = 1\n"), std::string::npos) << c.best;
    EXPECT_NE(text.find("*** Critical path 5 ***\n"), std::string::npos) << c.best;
    EXPECT_NE(text.find("\t[3] "), std::string::npos) << c.best;
    EXPECT_EQ(text.find("*** Critical path 6 ***"), std::string::npos) << c.best;
  }
}

// A register input counts through its parent atom input when it is not
// connected itself; a connected input counts by its own source.
TEST(KavuSeqCritical, RegisterInputThroughItsParentAtomInput) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* own = make_input_pin(&nl, "own");
  CDB_SGATE_NODE* outer = make_input_pin(&nl, "outer");
  const struct {
    bool own_source, parent, parent_connected;
    CDB_SGATE_NODE* expected;
  } cases[] = {{true, false, false, own},
               {true, true, true, own},
               {false, true, true, outer},
               {false, true, false, nullptr},
               {false, false, false, nullptr}};
  for (const auto& c : cases) {
    CDB_SGATE_NODE* r = reg(nl, c.own_source ? own : nullptr, clk);
    if (!c.own_source) kavu_get_dff_data(r)->disconnect_from_source();
    CDB_SGATE_NODE* atom = make_and(&nl, outer, outer);
    CDB_SGATE_ITERM* parent = atom->get_input_term(0);
    if (!c.parent_connected) parent->disconnect_from_source();
    if (c.parent) kavu_get_dff_data(r)->set_parent_input(parent);
    std::vector<CDB_SGATE_OTERM*> drivers;
    KAVU_SEQ_DELAY_ANALYSIS::get_register_drivers(r, drivers);
    const std::vector<CDB_SGATE_OTERM*> expected =
        c.expected ? std::vector<CDB_SGATE_OTERM*>{out(c.expected)} : std::vector<CDB_SGATE_OTERM*>{};
    EXPECT_EQ(drivers, expected) << c.own_source << c.parent << c.parent_connected;
  }
}

// Each report goes to its file only under its key (the big-gate report
// whenever a set is given); the depth table lists every terminal's depth.
TEST(KavuSeqCritical, ReportFilesOnlyUnderTheirKeys) {
  const char* files[] = {"kavu_seq_critical_path.txt", "kavu_seq_failing_ep.txt", "kavu_seq_critical_path_points.txt",
                         "kavu_seq_critical_big_gate.txt", "kavu_no_seq_depth_table_1_d.txt"};
  KAVU_BIG_GATE_SET_INFO big_gates;
  for (const char* on : {"off", "on"}) {
    for (const char* f : files) std::filesystem::remove(f);
    CFG_SCOPE cfg{{"kavu_delay_comb_gate", "1"}, {"kavu_seq_dump_critical_path", on},
                  {"kavu_seq_dump_failing_points", on}, {"kavu_seq_dump_critical_path_points", on},
                  {"kavu_dump_no_seq_depth", on}};
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_NODE* g = make_and(&nl, reg(nl, make_input_pin(&nl, "in"), clk), clk);
    make_output_pin(&nl, "q", reg(nl, make_and(&nl, g, g), clk));
    KAVU_SEQ_TIMER timer("d", &nl, nullptr, 2, 200, nullptr);
    timer.set_dump_name("d");
    timer.calculate_best_cycle_time();
    timer.get_analysis(1)->analyze_critical_paths(std::string(on) == "on" ? &big_gates : nullptr);
    for (const char* f : files) EXPECT_EQ(std::filesystem::exists(f), std::string(on) == "on") << f;
    if (std::string(on) == "on") {
      std::ifstream in(files[4]);
      std::stringstream text;
      text << in.rdbuf();
      EXPECT_NE(text.str().find("SGATE_ID= " + std::to_string(g->get_id()) + " "), std::string::npos) << text.str();
      EXPECT_NE(text.str().find(" depth= 2\n"), std::string::npos) << text.str();
    }
    for (const char* f : files) std::filesystem::remove(f);
  }
}

// A loop of two gates over a movable register, fed from a register fixed by
// its pin and feeding a chain of eight gates into a register fixed by its
// pin: the chain's failing end is reached through the loop, so its critical
// path and the closure run back through the loop's gates to the start
// register; the loop's own register is on neither.
TEST(KavuSeqCritical, PathsRunThroughLoopMembers) {
  CFG_SCOPE cfg{{"kavu_delay_comb_gate", "1"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* start = reg(nl, make_input_pin(&nl, "in"), clk);
  CDB_SGATE_NODE* entry = make_and(&nl, start, start);
  CDB_SGATE_NODE* loop_reg = reg(nl, nullptr, clk);
  CDB_SGATE_NODE* g1 = make_and(&nl, loop_reg, entry);
  CDB_SGATE_NODE* g2 = make_and(&nl, g1, g1);
  kavu_get_dff_data(loop_reg)->set_source(out(g2));
  CDB_SGATE_NODE* last = g2;
  for (int k = 0; k < 8; ++k) last = make_and(&nl, last, last);
  make_output_pin(&nl, "q", reg(nl, last, clk));
  KAVU_SEQ_TIMER timer("loop", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  KAVU_SEQ_DELAY_ANALYSIS* analysis = timer.get_analysis(1);
  ASSERT_EQ(analysis->get_best_cycle_time(), 11);
  std::ostringstream paths, failing, points;
  analysis->analyze_critical_paths(10, nullptr, {&paths, &failing, &points, nullptr});
  EXPECT_NE(failing.str().find("Total = 1\n[0] " + std::to_string(last->get_id()) + " "), std::string::npos)
      << failing.str();
  const std::set<int> expected_ids = [&] {
    std::set<int> ids{int(start->get_id()), int(entry->get_id()), int(g1->get_id()), int(g2->get_id())};
    CDB_SGATE_NODE* g = last;
    for (int k = 0; k < 8; ++k, g = g->get_input_term(0)->get_source()->get_my_node()) ids.insert(int(g->get_id()));
    return ids;
  }();
  EXPECT_EQ(listed_ids(paths.str()), expected_ids) << paths.str();
  EXPECT_NE(paths.str().find("[11] " + std::to_string(start->get_id()) + " "), std::string::npos) << paths.str();
  EXPECT_EQ(listed_ids(points.str()), expected_ids) << points.str();
}
