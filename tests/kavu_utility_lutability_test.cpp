// Tests of early LUT analysis, after the RTL clean-up passes, on EPFL
// circuits (function kept after every pass, LUTs within the family's size),
// and of the cone decisions on hand-built cones.
#include <iostream>
#include <string>
#include <vector>

#include "kavu_helper_predicates.h"
#include "kavu_utility_cleanup.h"
#include "kavu_utility_lutability.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

struct COUNTS {
  int gates = 0, luts = 0, widest = 0;
};

COUNTS count(const CDB_SGATE_NETLIST& nl) {
  COUNTS c;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) {
    if (!*it || kavu_is_a_pin(*it)) continue;
    ++c.gates;
    if (kavu_is_a_lut(*it)) {
      ++c.luts;
      c.widest = std::max(c.widest, static_cast<int>((*it)->get_number_of_fanin()));
    }
  }
  return c;
}

// Pushes every inverted input of the netlist into its AND/OR driver.
int push_all_inversions(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_ITERM*> inverted;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it)
      for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
        if (t && t->get_source() && t->is_inverted() && kavu_is_a_comb(t->get_source()->get_my_node())) inverted.push_back(t);
  int pushed = 0;
  for (CDB_SGATE_ITERM* t : inverted)
    if (t->is_inverted()) {
      rtl_push_invert_to_inputs(t);
      pushed += !t->is_inverted();
    }
  return pushed;
}

}  // namespace

TEST(KavuUtilityLutability, CleanUpAndLutAnalysisOnEpflCircuits) {
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  int total_luts = 0;  // the heuristic leaves some circuits' cones to the mapper
  for (const char* name : {"epfl/ctrl", "epfl/router", "epfl/int2float", "epfl/cavlc", "epfl/i2c"}) {
    for (unsigned lut_size : {6u, 4u}) {
      if (lut_size == 4 && std::string(name) != "epfl/ctrl") continue;
      CDB_LUTMASK::max_num_inputs = lut_size;
      auto golden = load_blif(name, comb);
      auto nl = load_blif(name, comb);
      KAVU_TRACK(nl);
      const COUNTS before = count(*nl);
      EXPECT_GT(push_all_inversions(nl.get()), 0) << name;
      ASSERT_KAVU_EQUIVALENT(golden, nl);
      const int wires = rtl_sweep_wires(nl.get());
      ASSERT_KAVU_EQUIVALENT(golden, nl);
      DEBUG_CAPTURE cap("KAVU");
      EXPECT_FALSE(opt_sgate_lutability(nl.get(), nullptr));
      const COUNTS after = count(*nl);
      total_luts += after.luts;
      EXPECT_LE(after.widest, static_cast<int>(lut_size)) << name;
      EXPECT_TRUE(cap.contains("  Started with 0 LUTs, ended with " + std::to_string(after.luts))) << name;
      ASSERT_KAVU_EQUIVALENT(golden, nl);
      std::cout << "[ counts   ] " << name << " K=" << lut_size << ": " << before.gates << " gates, " << wires
                << " wires swept, " << after.gates << " gates with " << after.luts << " LUTs after\n";
    }
  }
  CDB_LUTMASK::max_num_inputs = 6;
  EXPECT_GT(total_luts, 0);
}

TEST(KavuUtilityLutability, ConeDecisionsOnHandBuiltCones) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* clk = make_input_pin(&nl, "clk");
  std::vector<CDB_SGATE_NODE*> regs;
  for (int i = 0; i < 5; ++i) regs.push_back(make_dff(&nl, make_input_pin(&nl, ("d" + std::to_string(i)).c_str()), clk));
  // Four register outputs into one cone: one LUT at once. A fifth register
  // reaches the cone only through x AND NOT x, on which the cone does not
  // depend, so that leaf is dropped.
  CDB_SGATE_NODE* f = make_or(&nl, make_and(&nl, regs[0], regs[1]), make_xor(&nl, regs[2], regs[3]));
  CDB_SGATE_NODE* dead = make_and(&nl, regs[4], regs[4]);
  dead->get_input_term(1)->set_invert();
  CDB_SGATE_NODE* g = make_or(&nl, f, dead);
  make_output_pin(&nl, "q", make_dff(&nl, g, clk));
  DEBUG_CAPTURE cap("KAVU");
  opt_sgate_lutability(&nl, nullptr);
  const COUNTS c = count(nl);
  EXPECT_EQ(c.luts, 1);
  EXPECT_EQ(c.widest, 4);  // the independent fifth register left the cone
  EXPECT_TRUE(cap.contains("  new LUT uid "));
  EXPECT_EQ(opt_estimate_netlist_bytes(&nl) > 360u, true);
  EXPECT_EQ(opt_lose_netlist_memory(&nl), 0u);
  EXPECT_TRUE(cap.contains("Netlist using about"));

  CDB_SGATE_NETLIST empty;
  opt_sgate_lutability(&empty, nullptr);
  EXPECT_TRUE(cap.contains("  Started with 0 LUTs, ended with 0"));
  std::vector<CDB_SGATE_OTERM*> leaves;
  EXPECT_KAVU_INTERNAL_ERROR(opt_gather_cone_inputs(clk->get_single_oterm(), &leaves, 8, false, false),
                             "opt_is_lutable_comb_logic (sgate )");
}
