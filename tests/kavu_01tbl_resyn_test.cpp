// Cone resynthesis: rebuilt cones of real circuits keep the netlist's
// function and respect each method's LUT size; ignored fan-ins stay
// unconnected; method 3 runs in speed mode under its delay target; the
// network check passes good networks and refuses a corrupted one.
#include "kavu_01tbl_resyn.h"

#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_fd_int.h"
#include "kavu_01tbl_test_support.h"

using namespace kavu_01tbl_test;

namespace {

unsigned int widest_lut(const std::vector<CDB_SGATE_NODE*>& gates) {
  unsigned int widest = 0;
  for (CDB_SGATE_NODE* g : gates) widest = std::max(widest, g->cast_to_lut() ? g->get_number_of_input_terms() : 0);
  return widest;
}

// Rebuilds a sample of cones of the circuit by one method, puts every new
// network in place of its cone, and checks LUT sizes and equivalence.
void resynthesize_sample(const char* circuit, unsigned int method, unsigned int k, int max_delay) {
  SCOPED_TRACE(std::string(circuit) + " method " + std::to_string(method));
  auto golden = kavu_platform::load_blif(circuit);
  auto nl = kavu_platform::load_blif(circuit);
  std::vector<CDB_SGATE_OTERM*> roots;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->cast_to_lut() && (*it)->get_single_oterm()->has_fanout()) roots.push_back((*it)->get_single_oterm());
  ASSERT_FALSE(roots.empty());
  const size_t stride = std::max<size_t>(1, roots.size() / 10);
  int rebuilt = 0;
  for (size_t r = 0; r < roots.size(); r += stride) {
    std::vector<CDB_SGATE_OTERM*> cut = grow_cut(roots[r], 9);
    std::vector<CDB_SGATE_NODE*> luts;
    CDB_SGATE_NODE* root = kavu_cone_resynthesis(roots[r], cut, luts, method, max_delay, false, -1, 0);
    EXPECT_EQ(kavu_resyn_reference_iterm(), nullptr);
    if (root == nullptr) {
      EXPECT_TRUE(luts.empty());
      continue;
    }
    ASSERT_EQ(luts.back(), root);
    EXPECT_TRUE(widest_lut(luts) <= k && !root->get_single_oterm()->has_fanout());
    for (CDB_SGATE_NODE* g : luts) nl->add_node(g);
    root->get_single_oterm()->adopt_fanouts(roots[r], false);
    ++rebuilt;
  }
  EXPECT_GT(rebuilt, 0);
  nl->sweep(false);
  KAVU_TRACK(*nl);
  ASSERT_KAVU_EQUIVALENT(*golden, *nl);
}

// The XOR of every pin, as a chain of two-input gates.
CDB_SGATE_OTERM* parity(PINS& px) {
  CDB_SGATE_NODE* g = px.pins[0];
  for (size_t i = 1; i < px.pins.size(); ++i) g = kavu_platform::make_xor(&px.nl, g, px.pins[i]);
  return g->get_single_oterm();
}

// The table of a built network (root last) over the fan-ins.
KAVU_01TBL network_table(const std::vector<CDB_SGATE_NODE*>& luts, std::vector<CDB_SGATE_OTERM*> fanins) {
  std::vector<CDB_SGATE_OTERM*> order;
  for (CDB_SGATE_NODE* g : luts) order.push_back(g->get_single_oterm());
  return kavu_cone_01tbl(order.back(), fanins, &order);
}

}  // namespace

// Each method on cones of up to nine inputs.
TEST(KavuResynCircuits, EveryMethodKeepsTheFunction) {
  const unsigned int lut = CDB_LUTMASK::max_num_inputs;
  for (const char* circuit : {"epfl/ctrl", "epfl/int2float", "epfl/router"}) {
    resynthesize_sample(circuit, KAVU_RESYN_STRUCTURAL, lut, -1);
    resynthesize_sample(circuit, KAVU_RESYN_FOUR_INPUT, 4, -1);
    resynthesize_sample(circuit, KAVU_RESYN_AREA, lut, -1);
    resynthesize_sample(circuit, KAVU_RESYN_DELAY, lut, 1000);
  }
}

// A cut with fan-ins the function ignores: the network reads only the others.
TEST(KavuResynSmall, IgnoredFaninsAndUnavailableMethods) {
  PINS px(4);
  CDB_SGATE_NODE* g = kavu_platform::make_and(&px.nl, px.pins[1], px.pins[3]);
  for (unsigned int method : {0u, 1u, 2u}) {
    std::vector<CDB_SGATE_NODE*> luts;
    ASSERT_NE(kavu_cone_resynthesis(g->get_single_oterm(), px.fanins, luts, method, -1, false, -1, 0), nullptr);
    std::vector<CDB_SGATE_OTERM*> used = {px.fanins[1], px.fanins[3]};
    EXPECT_EQ(network_table(luts, used), kavu_cone_01tbl(g->get_single_oterm(), used, nullptr)) << method;
    EXPECT_FALSE(px.fanins[0]->has_fanout() || px.fanins[2]->has_fanout()) << method;
    delete_synthesized_nodes(luts);
  }
  // The factoring method that kavu_factor_accel asks for is not available:
  // nothing is built. Other unknown methods are internal errors.
  std::vector<CDB_SGATE_NODE*> luts;
  {
    kavu_platform::CFG_SCOPE cfg{{"kavu_factor_accel", "on"}};
    EXPECT_EQ(kavu_cone_resynthesis(g->get_single_oterm(), px.fanins, luts, KAVU_RESYN_AREA, -1, false, -1, 0), nullptr);
  }
  EXPECT_EQ(kavu_cone_resynthesis(g->get_single_oterm(), px.fanins, luts, KAVU_RESYN_FACTOR, -1, false, -1, 0), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_resynthesis(g->get_single_oterm(), px.fanins, luts, 4, -1, false, -1, 0),
                             "Unexpected method");
  EXPECT_TRUE(kavu_resyn_reference_iterm() == nullptr && luts.empty());
}

// Method 3 runs syn_luts in speed mode: fan-ins arriving after the target
// leave no bound set to use, where area mode still builds. The target comes
// from the root's own arrival for max_delay -1, one that leaves no time for
// a LUT is an internal error, and the speed switch is restored either way.
TEST(KavuResynDelay, SpeedModeUnderTheTarget) {
  PINS px(8);
  CDB_SGATE_OTERM* root_term = parity(px);
  std::vector<CDB_SGATE_NODE*> luts;
  for (CDB_SGATE_OTERM* t : px.fanins) kavu_resyn_set_arrival(t, 100);
  EXPECT_EQ(kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_DELAY, 10, false, -1, 0), nullptr);
  EXPECT_FALSE(kavu_01tbl_resyn_settings().m_for_speed);
  ASSERT_NE(kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_AREA, -1, false, -1, 0), nullptr);
  // With improve set only a network cheaper than the given area is built.
  const int area = static_cast<int>(KAVU_CONE_COST::get_cone_area_cost(luts));
  delete_synthesized_nodes(luts);
  EXPECT_EQ(kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_AREA, -1, true, area, 0), nullptr);
  ASSERT_NE(kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_AREA, -1, true, area + 1, 0), nullptr);
  EXPECT_LE(KAVU_CONE_COST::get_cone_area_cost(luts), area);
  delete_synthesized_nodes(luts);

  for (CDB_SGATE_OTERM* t : px.fanins) kavu_resyn_set_arrival(t, 0);
  kavu_resyn_set_arrival(root_term, 40);
  ASSERT_NE(kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_DELAY, -1, false, -1, 0), nullptr);
  EXPECT_EQ(network_table(luts, px.fanins), kavu_cone_01tbl(root_term, px.fanins, nullptr));
  delete_synthesized_nodes(luts);
  kavu_resyn_set_arrival(root_term, 0);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_DELAY, -1, false, -1, 0),
                             "delay_target > 0");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_DELAY, 1, false, -1, 0),
                             "delay_target > 0");
  EXPECT_TRUE(!kavu_01tbl_resyn_settings().m_for_speed && kavu_resyn_reference_iterm() == nullptr && luts.empty());
}

// At debug level 2 every network is checked before it is returned; a
// network that differs from its cone (here its root LUT's mask complemented)
// is refused and deleted.
TEST(KavuResynCheck, PassesTheNetworkAndRefusesACorruptedOne) {
  PINS px(9);
  CDB_SGATE_OTERM* root_term = parity(px);
  const unsigned int saved = KAVU_01TBL::debug_level();
  set_01tbl_debug(2);
  kavu_platform::DEBUG_CAPTURE cap("KAVU");
  std::vector<CDB_SGATE_NODE*> luts;
  CDB_SGATE_NODE* root = kavu_cone_resynthesis(root_term, px.fanins, luts, KAVU_RESYN_AREA, -1, false, -1, 0);
  set_01tbl_debug(saved);
  ASSERT_TRUE(root && root->cast_to_lut());
  EXPECT_TRUE(cap.contains("PARANOID - built sgates verified OK"));
  CDB_SGATE_LUT* lut = root->cast_to_lut();
  lut->set_lut_mask(~lut->get_lut_mask());
  const KAVU_01TBL cone_tbl = kavu_cone_01tbl(root_term, px.fanins, nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fd_int::check_resynthesized_network(cone_tbl, px.fanins, luts),
                             "cone_tbl == rsyn_tbl");
  EXPECT_TRUE(luts.empty());
}
