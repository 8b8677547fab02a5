// Tests of the detailed gate-delay tables, the path-delay profiles and the
// multiplexer delay report.
#include <map>
#include <memory>

#include "kavu_delay.h"
#include "kavu_delay_util.h"
#include "kavu_operator_test_support.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {
CDB_SGATE_OTERM* out(CDB_SGATE_NODE* n) { return n->get_output_term(0); }

// The debug lines that contain `marker`, in order.
std::string lines_with(const DEBUG_CAPTURE& cap, const std::string& marker) {
  std::string text;
  for (const std::string& line : cap.lines())
    if (line.find(marker) != std::string::npos) text += line.substr(line.find(marker)) + "\n";
  return text;
}

struct OPERATOR_BUILDER {
  CDB_SGATE_NETLIST* nl;
  CDB_SGATE_NODE* src;
  CDB_SGATE_OPERATOR* make(CDB_OPER_TYPE type, unsigned wa, unsigned wb, unsigned wo) {
    return kavu_operator_test::make_two_operand_op(nl, type, src, wa, wb, std::max(wo, 1u));
  }
};
}  // namespace

TEST(KavuDelayUtilDetailed, TablesOfBothFamilies) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  OPERATOR_BUILDER ops{&nl, a};
  auto comb = [&](int n) {
    auto* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
    nl.add_node(g);
    for (int i = 0; i < n; ++i) g->add_unordered_fanin_from_oterm(nullptr, false, out(a));
    return static_cast<CDB_SGATE_NODE*>(g);
  };
  CDB_SGATE_OPERATOR* add = ops.make(CDB_OPER_ADDITION, 64, 64, 64);
  CDB_SGATE_OPERATOR* dec8 = ops.make(CDB_OPER_DECODE, 8, 0, 1);
  CDB_SGATE_OPERATOR* dec0 = ops.make(CDB_OPER_DECODE, 0, 1, 1);
  CDB_SGATE_OPERATOR* mux8 = ops.make(CDB_OPER_NTO1_MUX, 3, 8, 1);
  CDB_SGATE_OPERATOR* mux6 = ops.make(CDB_OPER_NTO1_MUX, 3, 6, 1);
  CDB_SGATE_OPERATOR* eq = ops.make(CDB_OPER_EQUAL, 11, 11, 1);
  CDB_SGATE_OPERATOR* sel = ops.make(CDB_OPER_SELECT, 11, 11, 1);
  CDB_SGATE_NODE* c1 = comb(1);
  CDB_SGATE_NODE* c12 = comb(12);
  CDB_SGATE_NODE* c13 = comb(13);
  // A logic cell with DATAA and CIN, and all five outputs.
  auto* cell = new CDB_SGATE_WYSIWYG(nullptr, 61);
  nl.add_node(cell);
  std::map<int, CDB_SGATE_ITERM*> cell_in;
  std::map<int, CDB_SGATE_OTERM*> cell_out;
  for (int port : {12, 2}) {
    cell_in[port] = cell->create_input_term(nullptr, DB_INPUT_PORT_TYPE(port));
    cell->set_input_term(cell_in[port], cell->get_input_port_number(DB_INPUT_PORT_TYPE(port)));
    cell_in[port]->set_source(out(a));
  }
  for (int port : {8, 9, 0, 252, 1}) {
    cell_out[port] = cell->create_output_term(nullptr, DB_OUTPUT_PORT_TYPE(port));
    cell->set_output_term(cell_out[port], cell->get_output_port_number(DB_OUTPUT_PORT_TYPE(port)));
  }
  auto in = [](CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE p, unsigned b) { return op->get_iterm(p, b); };
  auto o = [](CDB_SGATE_OPERATOR* op, unsigned b) { return op->get_oterm(CDB_OPER_PORT_O, b); };
  struct CASE {
    CDB_SGATE_ITERM* i;
    CDB_SGATE_OTERM* o;
    int six, four;
  } cases[] = {
      {c1->get_input_term(0), out(c1), 0, 0},
      {c12->get_input_term(0), out(c12), 554, 790},
      {c13->get_input_term(0), out(c13), 600, 800},
      {in(add, CDB_OPER_PORT_A, 3), o(add, 3), 606, 712},
      {in(add, CDB_OPER_PORT_B, 3), o(add, 40), 773 + 20 * 37, 907 + 50 * 37},
      // A lower sum bit: the distance wraps, the line gives base - step * (i - j).
      {in(add, CDB_OPER_PORT_A, 63), o(add, 0), 773 - 20 * 63, 907 - 50 * 63},
      {in(add, CDB_OPER_PORT_B, 5), o(add, 4), 773 - 20, 907 - 50},
      {in(dec8, CDB_OPER_PORT_A, 0), o(dec8, 0), 1260, 1400},
      {in(mux8, CDB_OPER_PORT_A, 0), o(mux8, 0), 507, 986},
      {in(mux8, CDB_OPER_PORT_A, 2), o(mux8, 0), 742, 544},
      {in(mux8, CDB_OPER_PORT_B, 5), o(mux8, 0), 610, 854},
      {in(mux6, CDB_OPER_PORT_A, 1), o(mux6, 0), 2000, 4000},
      {in(mux6, CDB_OPER_PORT_B, 1), o(mux6, 0), 2000, 3000},
      {in(eq, CDB_OPER_PORT_A, 0), o(eq, 0), 711, 1939},
      {in(sel, CDB_OPER_PORT_A, 0), o(sel, 0), 711, 1939},
      // Logic cells by output (and, into SUMOUT, CIN or data); none on 4-LUT devices.
      {cell_in[12], cell_out[9], 300, 0},
      {cell_in[2], cell_out[0], 70, 0},
      {cell_in[2], cell_out[8], 140, 0},
      {cell_in[12], cell_out[8], 560, 0},
      {cell_in[12], cell_out[1], 200, 0},
      {cell_in[12], cell_out[252], 200, 0},
  };
  for (const CASE& c : cases) {
    EXPECT_EQ(kavu_detailed_gate_delay_6lut(c.i, c.o), c.six) << c.i->get_my_node()->get_debug_name();
    EXPECT_EQ(kavu_detailed_gate_delay_4lut(c.i, c.o), c.four) << c.i->get_my_node()->get_debug_name();
  }
  // A decoder of width 0: the 4-LUT formula would give -200.
  EXPECT_EQ(kavu_detailed_gate_delay_4lut(in(dec0, CDB_OPER_PORT_B, 0), o(dec0, 0)), 0);
  EXPECT_EQ(kavu_detailed_gate_delay_6lut(in(dec0, CDB_OPER_PORT_B, 0), o(dec0, 0)), 460);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_detailed_gate_delay_4lut(nullptr, o(dec0, 0)), "iterm");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_detailed_gate_delay_6lut(c12->get_input_term(0), out(c13)), "get_my_node() == sgate");
  // Detailed mode in the model: a missing terminal is replaced by the first one.
  CFG_SCOPE cfg{{"kavu_tarrow_delay", "on"}};
  KAVU_DELAY_MODEL_KZR model(kavu_get_fanin_delay, false, false);
  EXPECT_TRUE(model.is_detailed());
  EXPECT_EQ(model.get_delay(c12, nullptr, nullptr), model.is_four_input_lut_device() ? 790 : 554);
  EXPECT_EQ(model.get_delay(nullptr, nullptr, nullptr), 0);
}

namespace {
// Pins a, clk; a -> l1 -> r1 (clk) -> l2 -> r2 (inverted clk) -> l3 -> o, and
// a also feeds l3.
struct PROFILE_DESIGN {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *a, *clk, *l1, *r1, *l2, *r2, *l3;
  PROFILE_DESIGN() {
    CDB_SGATE_NODE::reset_debug_counter(1);
    a = make_input_pin(&nl, "a");
    clk = make_input_pin(&nl, "clk");
    l1 = make_lut(&nl, {a}, 0x2);
    r1 = make_dff(&nl, l1, clk);
    l2 = make_lut(&nl, {r1}, 0x1);
    r2 = make_dff(&nl, l2, clk);
    r2->get_input_term(1)->set_invert();
    l3 = make_lut(&nl, {r2, a}, 0x6);
    make_output_pin(&nl, "o", l3);
  }
};
}  // namespace

TEST(KavuDelayUtilProfile, ReportOfASmallDesign) {
  PROFILE_DESIGN d;
  std::unique_ptr<KAVU_DELAY_EXPERT> expert(kavu_get_default_delay_expert(&d.nl));
  DEBUG_CAPTURE cap("KAVU");
  kavu_dump_max_path_delay_profiles(&d.nl, expert.get());
  const std::string L = std::to_string(expert->get_delay_model()->get_delay(CDB_SGATE_LUT_ENUM));
  const std::string report = lines_with(cap, "PROFILE: ");
  // Worked out by hand: a feeds l1 and l3 (pin to pin); clk only reaches
  // register clocks (a secondary input); r1 and l2 lie between the two
  // clocks; r2 reaches the output pin; l3 is also fed by the pin a.
  const std::string expected =
      "PROFILE: =========== Path Profile Collection ===================\n"
      "PROFILE: Clocks (2): \n"
      "PROFILE:  - N2 top|clk: 1 registers\n"
      "PROFILE:  - !N2 top|clk: 1 registers\n"
      "PROFILE: -------------------------------------------------------\n"
      "PROFILE: Profiles (6): \n"
      "PROFILE:  - Profile {From pins: N, regs: Y [0 ], other: N. To pins: N, regs: Y [1 ], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE:  - Profile {From pins: N, regs: Y [1 ], other: N. To pins: Y, regs: N [], secondaries: N, other: N, }: num nodes 1, max delay " + L + "\n"
      "PROFILE:  - Profile {From pins: Y, regs: N [], other: N. To pins: N, regs: Y [0 ], secondaries: N, other: N, }: num nodes 1, max delay " + L + "\n"
      "PROFILE:  - Profile {From pins: Y, regs: N [], other: N. To pins: N, regs: N [], secondaries: Y, other: N, }: num nodes 1, max delay 0\n"
      "PROFILE:  - Profile {From pins: Y, regs: Y [1 ], other: N. To pins: Y, regs: N [], secondaries: N, other: N, }: num nodes 1, max delay " + L + "\n"
      "PROFILE:  - Profile {From pins: Y, regs: N [], other: N. To pins: Y, regs: Y [0 ], secondaries: N, other: N, }: num nodes 1, max delay " + L + "\n"
      "PROFILE: Base profiles (5): \n"
      "PROFILE:  - Base profile {From pins: N, regs: Y [0 ], other: N. To pins: N, regs: Y [1 ], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE:  - Base profile {From pins: N, regs: Y [1 ], other: N. To pins: Y, regs: N [], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE:  - Base profile {From pins: Y, regs: N [], other: N. To pins: N, regs: Y [0 ], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE:  - Base profile {From pins: Y, regs: N [], other: N. To pins: N, regs: N [], secondaries: Y, other: N, }: num nodes 1, max delay 0\n"
      "PROFILE:  - Base profile {From pins: Y, regs: N [], other: N. To pins: Y, regs: N [], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE: Final profiles (5): \n"
      "PROFILE:  - Final profile {From pins: N, regs: Y [], other: N. To pins: N, regs: Y [], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE:  - Final profile {From pins: N, regs: N [], other: Y. To pins: N, regs: N [], secondaries: Y, other: N, }: num nodes 1, max delay 0\n"
      "PROFILE:  - Final profile {From pins: N, regs: Y [], other: N. To pins: Y, regs: N [], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE:  - Final profile {From pins: Y, regs: N [], other: N. To pins: N, regs: Y [], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE:  - Final profile {From pins: Y, regs: N [], other: N. To pins: Y, regs: N [], secondaries: N, other: N, }: num nodes 2, max delay " + L + "\n"
      "PROFILE: -------------------------------------------------------\n"
      "PROFILE: Oterm counts per profile type:\n"
      "PROFILE: -------------------------------------------------------\n"
      "PROFILE: Number of oterms of type pin to pin      :     1, percentage  14.3\n"
      "PROFILE: Number of oterms of type pin to clk      :     1, percentage  14.3\n"
      "PROFILE: Number of oterms of type clk to pin      :     1, percentage  14.3\n"
      "PROFILE: Number of oterms of type clk to clk      :     0, percentage   0.0\n"
      "PROFILE: Number of oterms of type pin to regs     :     0, percentage   0.0\n"
      "PROFILE: Number of oterms of type regs to pin     :     0, percentage   0.0\n"
      "PROFILE: Number of oterms of type regs to regs    :     2, percentage  28.6\n"
      "PROFILE: Number of oterms of type regs++ to regs++:     0, percentage   0.0\n"
      "PROFILE: Number of oterms of type other           :     2, percentage  28.6\n"
      "PROFILE: ================= End Collection ======================\n";
  EXPECT_EQ(report, expected);
}

TEST(KavuDelayUtilProfile, MapsGroupsAndUnconnectedClocks) {
  PROFILE_DESIGN d;
  std::unique_ptr<KAVU_DELAY_EXPERT> expert(kavu_get_default_delay_expert(&d.nl));
  std::map<CDB_SGATE_OTERM*, int> delays;
  kavu_get_max_path_delay_for_nodes(&d.nl, expert.get(), delays, true);
  const int L = expert->get_delay_model()->get_delay(CDB_SGATE_LUT_ENUM);
  EXPECT_EQ(delays.size(), 7u);
  EXPECT_EQ(delays[out(d.l1)], L);
  std::vector<std::vector<CDB_SGATE_OTERM*>> groups;
  std::vector<std::string> names;
  kavu_get_oterms_per_profile(&d.nl, &groups, &names);
  ASSERT_EQ(groups.size(), 6u);  // the six full profiles of the report
  ASSERT_EQ(names.size(), 6u);
  EXPECT_EQ(groups[0].front(), out(d.a));
  // A register with an unconnected clock is classified, not refused.
  d.r1->get_input_term(1)->disconnect_from_source();
  DEBUG_CAPTURE cap("KAVU");
  kavu_dump_max_path_delay_profiles(&d.nl, expert.get());
  EXPECT_TRUE(cap.contains("PROFILE:  - NONE: 1 registers"));
}

TEST(KavuDelayUtilProfile, EmptyNetlistPrintsZeroPercent) {
  CDB_SGATE_NETLIST nl;
  std::unique_ptr<KAVU_DELAY_EXPERT> expert(kavu_get_default_delay_expert(&nl));
  DEBUG_CAPTURE cap("KAVU");
  kavu_dump_max_path_delay_profiles(&nl, expert.get());
  EXPECT_TRUE(cap.contains("Number of oterms of type other           :     0, percentage   0.0"));
}

TEST(KavuDelayCritical, MuxReportOfASmallDesign) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* inner = make_lut(&nl, {a}, 0x2);
  inner->set_string_name("KZR_MUX_1_width_2_slack_3_fi_del_10_fo_del_5_");
  CDB_SGATE_NODE* head = make_lut(&nl, {inner, a}, 0x8);
  head->set_string_name("KZR_MUX_1_width_2_slack_3_fi_del_10_fo_del_5_");
  CDB_SGATE_NODE* second = make_lut(&nl, {a}, 0x2);
  second->set_string_name("KZR_MUX_3_width_4_slack_9_fi_del_0_fo_del_0_");
  CDB_SGATE_NODE* user = make_lut(&nl, {a}, 0x2);
  user->set_string_name("KZR_MUX_sel");
  make_output_pin(&nl, "o", head);
  make_output_pin(&nl, "p", second);
  make_output_pin(&nl, "q", user);
  DEBUG_CAPTURE cap("KAVU");
  CFG_SCOPE cfg{{"kavu_delay_lut_gate", "3"}};
  kavu_dump_mux_delay_info(&nl);
  const std::string expected =
      "================================ MUX DELAYS =================================\n"
      "  mux | width |   slack   | critical  | fanin del |fanout del | num   | name \n"
      "  id  |       | ori | new | ori | new | ori | new | ori | new | found |      \n"
      "-----------------------------------------------------------------------------\n"
      "    1 |     2 |   3 |   0 | yes | yes |  10 |   6 |   5 |   0 |    1  | "
      "KZR_MUX_1_width_2_slack_3_fi_del_10_fo_del_5_ \n"
      "    2 |       |     |     |     |     |     |     |     |     |    0  |  \n"
      "    3 |     4 |   9 |   3 | no  | yes |   0 |   3 |   0 |   0 |    1  | "
      "KZR_MUX_3_width_4_slack_9_fi_del_0_fo_del_0_ \n"
      "============================ END MUX DELAYS ===================================\n"
      "Found 2 out of at least 3 muxes: 1 were critical, 2 are critical, crit->crit: 1, non-crit->non-crit: 0, "
      "crit->non-crit: 0, non-crit->crit: 1\n";
  std::string report;
  bool in_report = false;
  for (const std::string& line : cap.lines()) {
    if (line.find("MUX DELAYS ===") != std::string::npos) in_report = true;
    if (in_report) report += line.substr(line.find_first_not_of("KAVU: ") == 0 ? 0 : 0) + "\n";
    if (line.find("Found ") != std::string::npos) break;
  }
  EXPECT_NE(report.find(expected.substr(expected.find("    1 |"))), std::string::npos) << report;
  EXPECT_TRUE(cap.contains("Maximum circuit delay = 6"));
}

TEST(KavuDelayCritical, MuxReportWithAHugeIdListsFoundIdsOnly) {
  // An id from a name once sized a table of 2^31 rows.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g = make_lut(&nl, {a}, 0x2);
  g->set_string_name("KZR_MUX_2147483647_width_1_slack_6_fi_del_0_fo_del_0_");
  make_output_pin(&nl, "o", g);
  DEBUG_CAPTURE cap("KAVU");
  kavu_dump_mux_delay_info(&nl);
  EXPECT_TRUE(cap.contains(" 2147483647 |     1 |   6 |"));
  EXPECT_TRUE(cap.contains("Found 1 out of at least 2147483647 muxes"));
}
