// Cone resynthesis: rebuilt cones of real circuits keep the netlist's
// function and respect each method's LUT size; dropped fan-ins stay
// unconnected; the delay target, the unavailable factoring method and the
// reference input of the delay model behave as callers rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_resyn.h"
#include "testkit/platform_testkit.h"

namespace {

using kavu_platform::load_blif;

bool is_logic(const CDB_SGATE_NODE* g) {
  const CDB_SGATE_TYPE t = g->get_sgate_type();
  return t == CDB_SGATE_LUT_ENUM || t == CDB_SGATE_COMB_ENUM || t == CDB_SGATE_BUFFER_ENUM;
}

// The distinct driving sources of a gate, in input order.
void add_sources(const CDB_SGATE_NODE* g, std::vector<CDB_SGATE_OTERM*>& out) {
  for (const CDB_SGATE_ITERM* t : g->get_input_terms()) {
    CDB_SGATE_OTERM* src = t ? t->get_source() : nullptr;
    if (src && std::find(out.begin(), out.end(), src) == out.end()) out.push_back(src);
  }
}

// A complete cut of root's fan-in cone with at most max_leaves leaves: start
// from the gate's sources and replace logic leaves by their sources while the
// cut stays small enough.
std::vector<CDB_SGATE_OTERM*> grow_cut(CDB_SGATE_OTERM* root, size_t max_leaves) {
  std::vector<CDB_SGATE_OTERM*> cut;
  add_sources(root->get_my_node(), cut);
  for (bool grown = true; grown;) {
    grown = false;
    for (size_t i = 0; i < cut.size(); ++i) {
      const CDB_SGATE_NODE* g = cut[i]->get_my_node();
      if (!is_logic(g)) continue;
      std::vector<CDB_SGATE_OTERM*> next(cut.begin(), cut.begin() + i);
      next.insert(next.end(), cut.begin() + i + 1, cut.end());
      add_sources(g, next);
      if (next.size() > max_leaves || next.empty()) continue;
      cut.swap(next);
      grown = true;
      break;
    }
  }
  return cut;
}

unsigned int widest_lut(const std::vector<CDB_SGATE_NODE*>& gates) {
  unsigned int widest = 0;
  for (const CDB_SGATE_NODE* g : gates)
    if (g->cast_to_lut() != nullptr) widest = std::max(widest, g->get_number_of_input_terms());
  return widest;
}

// Rebuilds a sample of cones of the circuit by one method, puts every new
// network in place of its cone, and checks LUT sizes and equivalence.
void resynthesize_sample(const char* circuit, unsigned int method, unsigned int k, int max_delay) {
  SCOPED_TRACE(std::string(circuit) + " method " + std::to_string(method));
  auto golden = load_blif(circuit);
  auto nl = load_blif(circuit);
  std::vector<CDB_SGATE_OTERM*> roots;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && (*it)->cast_to_lut() && (*it)->get_single_oterm()->has_fanout())
      roots.push_back((*it)->get_single_oterm());
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
    EXPECT_LE(widest_lut(luts), k);
    EXPECT_FALSE(root->get_single_oterm()->has_fanout());
    for (CDB_SGATE_NODE* g : luts) nl->add_node(g);
    root->get_single_oterm()->adopt_fanouts(roots[r], false);
    ++rebuilt;
  }
  EXPECT_GT(rebuilt, 0);
  nl->sweep(false);
  KAVU_TRACK(*nl);
  ASSERT_KAVU_EQUIVALENT(*golden, *nl);
}

}  // namespace

// Each method on cones of up to nine inputs of EPFL circuits.
TEST(KavuResynCircuits, EveryMethodKeepsTheFunction) {
  const unsigned int lut = CDB_LUTMASK::max_num_inputs;
  for (const char* circuit : {"epfl/ctrl", "epfl/int2float", "epfl/router"}) {
    resynthesize_sample(circuit, KAVU_RESYN_STRUCTURAL, lut, -1);
    resynthesize_sample(circuit, KAVU_RESYN_FOUR_INPUT, 4, -1);
    resynthesize_sample(circuit, KAVU_RESYN_AREA, lut, -1);
    resynthesize_sample(circuit, KAVU_RESYN_DELAY, lut, 1000);
  }
}

namespace {

// Pins x0..x(n-1) and gates over them, for hand-made cones.
class SMALL_CONE {
 public:
  explicit SMALL_CONE(unsigned int n) {
    for (unsigned int i = 0; i < n; ++i)
      m_pins.push_back(kavu_platform::make_input_pin(&m_nl, ("x" + std::to_string(i)).c_str()));
  }
  CDB_SGATE_NETLIST& netlist() { return m_nl; }
  CDB_SGATE_NODE* pin(unsigned int i) const { return m_pins[i]; }
  std::vector<CDB_SGATE_OTERM*> pins() const {
    std::vector<CDB_SGATE_OTERM*> out;
    for (CDB_SGATE_NODE* p : m_pins) out.push_back(p->get_single_oterm());
    return out;
  }
  // XOR of every pin, as a chain of two-input gates.
  CDB_SGATE_OTERM* parity() {
    CDB_SGATE_NODE* g = m_pins[0];
    for (size_t i = 1; i < m_pins.size(); ++i) g = kavu_platform::make_xor(&m_nl, g, m_pins[i]);
    return g->get_single_oterm();
  }

 private:
  CDB_SGATE_NETLIST m_nl;
  std::vector<CDB_SGATE_NODE*> m_pins;
};

// The fan-ins the new network reads.
std::vector<CDB_SGATE_OTERM*> network_inputs(const std::vector<CDB_SGATE_NODE*>& luts) {
  std::vector<CDB_SGATE_OTERM*> out;
  for (const CDB_SGATE_NODE* g : luts) add_sources(g, out);
  std::vector<CDB_SGATE_OTERM*> outside;
  for (CDB_SGATE_OTERM* o : out) {
    bool inside = false;
    for (const CDB_SGATE_NODE* g : luts) inside = inside || o->get_my_node() == g;
    if (!inside) outside.push_back(o);
  }
  return outside;
}

}  // namespace

// A cut with fan-ins the function ignores: the network reads only the others.
TEST(KavuResynSmall, IgnoredFaninsAreLeftUnconnected) {
  SMALL_CONE c(4);
  CDB_SGATE_NODE* g = kavu_platform::make_and(&c.netlist(), c.pin(1), c.pin(3));
  std::vector<CDB_SGATE_OTERM*> cut = c.pins();
  for (unsigned int method : {0u, 1u, 2u}) {
    std::vector<CDB_SGATE_NODE*> luts;
    CDB_SGATE_NODE* root = kavu_cone_resynthesis(g->get_single_oterm(), cut, luts, method, -1, false, -1, 0);
    ASSERT_NE(root, nullptr) << method;
    const std::vector<CDB_SGATE_OTERM*> used = network_inputs(luts);
    EXPECT_EQ(used, (std::vector<CDB_SGATE_OTERM*>{cut[1], cut[3]})) << method;
    std::vector<CDB_SGATE_OTERM*> observed = used;
    EXPECT_EQ(kavu_cone_01tbl(root->get_single_oterm(), observed, nullptr),
              kavu_cone_01tbl(g->get_single_oterm(), observed, nullptr));
    delete_synthesized_nodes(luts);
  }
  EXPECT_FALSE(c.pin(0)->get_single_oterm()->has_fanout());
  EXPECT_FALSE(c.pin(2)->get_single_oterm()->has_fanout());
}

// Method 1 builds 4-input LUTs even where the device LUT has six inputs.
TEST(KavuResynSmall, FourInputMethodIgnoresDeviceLutSize) {
  ASSERT_EQ(CDB_LUTMASK::max_num_inputs, 6u);
  SMALL_CONE c(7);
  CDB_SGATE_OTERM* root_term = c.parity();
  std::vector<CDB_SGATE_OTERM*> cut = c.pins();
  std::vector<CDB_SGATE_NODE*> luts;
  CDB_SGATE_NODE* root = kavu_cone_resynthesis(root_term, cut, luts, KAVU_RESYN_FOUR_INPUT, -1, false, -1, 0);
  ASSERT_NE(root, nullptr);
  EXPECT_LE(widest_lut(luts), 4u);
  EXPECT_GE(luts.size(), 2u);
  std::vector<CDB_SGATE_OTERM*> order;
  for (CDB_SGATE_NODE* g : luts) order.push_back(g->get_single_oterm());
  EXPECT_EQ(kavu_cone_01tbl(root->get_single_oterm(), cut, &order), kavu_cone_01tbl(root_term, cut, nullptr));
  delete_synthesized_nodes(luts);
}

// Method 3 takes its target from the terminal's arrival when max_delay is -1;
// a target with no room for a LUT builds nothing instead of stopping.
TEST(KavuResynSmall, DelayTargetFromArrivalOrNothingBuilt) {
  SMALL_CONE c(8);
  CDB_SGATE_OTERM* root_term = c.parity();
  std::vector<CDB_SGATE_OTERM*> cut = c.pins();
  std::vector<CDB_SGATE_NODE*> luts;
  kavu_resyn_set_arrival(root_term, 0);
  EXPECT_EQ(kavu_cone_resynthesis(root_term, cut, luts, KAVU_RESYN_DELAY, -1, false, -1, 0), nullptr);
  EXPECT_EQ(kavu_cone_resynthesis(root_term, cut, luts, KAVU_RESYN_DELAY, 1, false, -1, 0), nullptr);
  EXPECT_TRUE(luts.empty());
  kavu_resyn_set_arrival(root_term, 40);
  CDB_SGATE_NODE* root = kavu_cone_resynthesis(root_term, cut, luts, KAVU_RESYN_DELAY, -1, false, -1, 0);
  ASSERT_NE(root, nullptr);
  EXPECT_LE(widest_lut(luts), CDB_LUTMASK::max_num_inputs);
  EXPECT_EQ(kavu_resyn_reference_iterm(), nullptr);
  delete_synthesized_nodes(luts);
}

// The factoring method that kavu_factor_accel asks for is not available:
// the call builds nothing. Other unknown methods are internal errors, and
// neither leaves the delay model's reference input behind.
TEST(KavuResynSmall, UnavailableAndUnknownMethods) {
  SMALL_CONE c(3);
  CDB_SGATE_OTERM* root_term = c.parity();
  std::vector<CDB_SGATE_OTERM*> cut = c.pins();
  std::vector<CDB_SGATE_NODE*> luts;
  {
    kavu_platform::CFG_SCOPE cfg{{"kavu_factor_accel", "on"}};
    EXPECT_EQ(kavu_cone_resynthesis(root_term, cut, luts, KAVU_RESYN_AREA, -1, false, -1, 0), nullptr);
  }
  EXPECT_EQ(kavu_cone_resynthesis(root_term, cut, luts, KAVU_RESYN_FACTOR, -1, false, -1, 0), nullptr);
  EXPECT_TRUE(luts.empty());
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_resynthesis(root_term, cut, luts, 4, -1, false, -1, 0),
                             "Unexpected method");
  EXPECT_EQ(kavu_resyn_reference_iterm(), nullptr);
  EXPECT_TRUE(luts.empty());
}

// At debug level 2 every network is re-simulated before it is returned.
TEST(KavuResynSmall, DebugLevelTwoVerifiesTheNetwork) {
  SMALL_CONE c(9);
  CDB_SGATE_OTERM* root_term = c.parity();
  std::vector<CDB_SGATE_OTERM*> cut = c.pins();
  const unsigned int saved = KAVU_01TBL::debug_level();
  set_01tbl_debug(2);
  kavu_platform::DEBUG_CAPTURE cap("KAVU");
  std::vector<CDB_SGATE_NODE*> luts;
  CDB_SGATE_NODE* root = kavu_cone_resynthesis(root_term, cut, luts, KAVU_RESYN_AREA, -1, false, -1, 0);
  set_01tbl_debug(saved);
  ASSERT_NE(root, nullptr);
  EXPECT_TRUE(cap.contains("PARANOID - built sgates verified OK"));
  delete_synthesized_nodes(luts);
}
