// Truth tables into LUT networks: every network a builder returns must
// compute its table, use no LUT wider than asked, and leave nothing behind
// when it fails; the delay model counts LUT levels by default.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_fd.h"
#include "testkit/platform_testkit.h"

namespace {

// Input pins to build networks on, and the checks a built network must pass.
class LUT_NET_FIXTURE {
 public:
  explicit LUT_NET_FIXTURE(unsigned int n) {
    for (unsigned int i = 0; i < n; ++i) {
      const std::string name = "x" + std::to_string(i);
      m_pins.push_back(kavu_platform::make_input_pin(&m_nl, name.c_str())->get_single_oterm());
    }
  }
  std::vector<CDB_SGATE_OTERM*> fanins(unsigned int n) const {
    return std::vector<CDB_SGATE_OTERM*>(m_pins.begin(), m_pins.begin() + n);
  }
  HDB_INSTANCE_NAME* base_name() const { return m_pins[0]->get_my_node()->get_instance_name(); }
  // No pin keeps a fan-out once the network is deleted.
  bool pins_free() const {
    for (CDB_SGATE_OTERM* p : m_pins)
      if (p->has_fanout()) return false;
    return true;
  }

  // The network's function over the pins, as a table over n variables; the
  // network must be closed (every source a pin or a listed gate), the root
  // last, and every LUT at most k wide. Depth (LUT levels) to *depth.
  ::testing::AssertionResult computes(const std::vector<CDB_SGATE_NODE*>& nodes, CDB_SGATE_NODE* root,
                                      const KAVU_01TBL& expected, unsigned int k, int* depth = nullptr) const;

 private:
  CDB_SGATE_NETLIST m_nl;
  std::vector<CDB_SGATE_OTERM*> m_pins;
};

::testing::AssertionResult LUT_NET_FIXTURE::computes(const std::vector<CDB_SGATE_NODE*>& nodes,
                                                     CDB_SGATE_NODE* root, const KAVU_01TBL& expected,
                                                     unsigned int k, int* depth) const {
  if (root == nullptr || nodes.empty() || nodes.back() != root)
    return ::testing::AssertionFailure() << "root missing or not last";
  // Bit-parallel over all minterms: terminal i's words are
  // words[i * W .. i * W + W), bit m the value at minterm m.
  const unsigned int n = expected.num_vars();
  const size_t W = n <= 6 ? 1 : size_t(1) << (n - 6);
  std::vector<const CDB_SGATE_OTERM*> terms(m_pins.begin(), m_pins.end());
  std::vector<int> levels(terms.size(), 0);
  std::vector<uint64_t> words(terms.size() * W, 0);
  for (unsigned int v = 0; v < n; ++v)
    for (unsigned int m = 0; m < (1u << n); ++m)
      if ((m >> v) & 1u) words[v * W + (m >> 6)] |= uint64_t(1) << (m & 63);
  auto index_of = [&](const CDB_SGATE_OTERM* t) {
    return static_cast<size_t>(std::find(terms.begin(), terms.end(), t) - terms.begin());
  };
  std::vector<size_t> in;      // term index per input, or SIZE_MAX for a tie
  std::vector<uint64_t> flip;  // inversion (or the tie's constant) per input
  for (CDB_SGATE_NODE* node : nodes) {  // builders list feeders first
    in.clear();
    flip.clear();
    int lv = 0;
    for (unsigned int i = 0; i < node->get_number_of_input_terms(); ++i) {
      const CDB_SGATE_ITERM* t = node->get_input_term(i);
      if (t->is_vcc_or_gnd()) {
        in.push_back(SIZE_MAX);
        flip.push_back(t->is_vcc() ? ~uint64_t(0) : 0);
        continue;
      }
      const size_t src = index_of(t->get_source());
      if (src == terms.size()) return ::testing::AssertionFailure() << "input from outside the network";
      in.push_back(src);
      flip.push_back(t->is_inverted() ? ~uint64_t(0) : 0);
      lv = std::max(lv, levels[src]);
    }
    auto input = [&](size_t i, size_t w) { return (in[i] == SIZE_MAX ? 0 : words[in[i] * W + w]) ^ flip[i]; };
    const size_t base = words.size();
    words.resize(base + W, 0);
    if (const CDB_SGATE_LUT* lut = node->cast_to_lut()) {
      if (in.size() > k) return ::testing::AssertionFailure() << "LUT with " << in.size() << " inputs";
      const uint64_t mask = lut->get_lut_mask().get_value();
      for (unsigned int row = 0; row < (1u << in.size()); ++row) {
        if (!((mask >> row) & 1u)) continue;
        for (size_t w = 0; w < W; ++w) {
          uint64_t term = ~uint64_t(0);
          for (size_t i = 0; i < in.size(); ++i) term &= ((row >> i) & 1u) ? input(i, w) : ~input(i, w);
          words[base + w] |= term;
        }
      }
      ++lv;
    } else {
      for (size_t w = 0; w < W; ++w) words[base + w] = input(0, w);
    }
    terms.push_back(node->get_single_oterm());
    levels.push_back(lv);
  }
  const size_t r = terms.size() - 1;
  for (unsigned int m = 0; m < (1u << n); ++m)
    if (((words[r * W + (m >> 6)] >> (m & 63)) & 1u) != expected.minterm(m))
      return ::testing::AssertionFailure() << "differs at minterm " << m;
  if (depth) *depth = levels[r];
  return ::testing::AssertionSuccess();
}

KAVU_01TBL random_table(unsigned int n, std::mt19937& rng) {
  KAVU_01TBL t(n);
  for (unsigned int m = 0; m < (1u << n); ++m)
    if (rng() & 1u) t.set_minterm(m);
  return t;
}

// A random function made of random smaller ones, so that it decomposes:
// pieces of at most `piece` inputs over disjoint variable groups feed a
// random top function.
KAVU_01TBL composed_table(unsigned int n, unsigned int piece, std::mt19937& rng) {
  std::vector<std::vector<unsigned int>> groups;
  for (unsigned int v = 0; v < n;) {
    const unsigned int size = std::min(n - v, 1 + static_cast<unsigned int>(rng() % piece));
    groups.emplace_back();
    for (unsigned int i = 0; i < size; ++i) groups.back().push_back(v++);
  }
  std::vector<KAVU_01TBL> parts;
  for (const auto& g : groups) parts.push_back(random_table(static_cast<unsigned int>(g.size()), rng));
  const KAVU_01TBL top = random_table(static_cast<unsigned int>(groups.size()), rng);
  KAVU_01TBL t(n);
  for (unsigned int m = 0; m < (1u << n); ++m) {
    unsigned int top_in = 0;
    for (size_t j = 0; j < groups.size(); ++j) {
      unsigned int in = 0;
      for (size_t i = 0; i < groups[j].size(); ++i) in |= ((m >> groups[j][i]) & 1u) << i;
      top_in |= parts[j].minterm(in) << j;
    }
    if (top.minterm(top_in)) t.set_minterm(m);
  }
  return t;
}

// Sets the device LUT size for one test.
class LUT_SIZE_SCOPE {
 public:
  explicit LUT_SIZE_SCOPE(unsigned int k) : m_saved(CDB_LUTMASK::max_num_inputs) { CDB_LUTMASK::max_num_inputs = k; }
  ~LUT_SIZE_SCOPE() { CDB_LUTMASK::max_num_inputs = m_saved; }

 private:
  unsigned int m_saved;
};

}  // namespace

TEST(Kavu01tblLutBuild, EveryFunctionOfUpToFourVariables) {
  LUT_NET_FIXTURE fx(4);
  int built_k3 = 0;
  for (unsigned int n = 0; n <= 4; ++n) {
    for (unsigned int w = 0; w < (1u << (1u << n)); ++w) {
      KAVU_01TBL t(n);
      t.set_word(0, w);
      // Both LUT sizes for every table; the two builders take turns, since
      // below five inputs both end in the same single gate.
      for (unsigned int k : {4u, 6u}) {
        LUT_SIZE_SCOPE size(k);
        std::vector<CDB_SGATE_NODE*> nodes;
        const bool structural = (w + k) & 1u;
        CDB_SGATE_NODE* root =
            structural ? t.to_luts(nullptr, fx.fanins(n), nodes) : t.to_luts(fx.fanins(n), nullptr, k, nodes);
        ASSERT_TRUE(fx.computes(nodes, root, t, k)) << structural << " n " << n << " word " << w;
        EXPECT_LE(nodes.size(), 1u);  // fits one LUT or buffer
        delete_synthesized_nodes(nodes);
      }
      // Narrower LUTs force real decompositions of the four-input functions
      // (every thirteenth table keeps the test fast).
      if (w % 13 != 0) continue;
      std::vector<CDB_SGATE_NODE*> nodes;
      CDB_SGATE_NODE* root = t.to_luts(fx.fanins(n), nullptr, 3, nodes);
      if (root) {
        ++built_k3;
        ASSERT_TRUE(fx.computes(nodes, root, t, 3)) << "k 3 n " << n << " word " << w;
        if (t.num_dependent() == 4) {  // n = k + 1: two LUTs at most
          EXPECT_LE(std::count_if(nodes.begin(), nodes.end(), [](CDB_SGATE_NODE* g) { return g->cast_to_lut(); }), 2);
        }
      }
      delete_synthesized_nodes(nodes);
      ASSERT_TRUE(fx.pins_free());
    }
  }
  // Tripwire: how many of the sampled tables fit 3-LUT networks (a change
  // needs a reason).
  EXPECT_EQ(built_k3, 1270);
}

// Random functions of up to 12 inputs, plain (rarely decomposable) and
// composed of smaller random functions (decomposable), through all three
// builders with K = 4 and 6.
TEST(Kavu01tblLutBuild, RandomFunctionsUpToTwelveInputs) {
  LUT_NET_FIXTURE fx(12);
  std::mt19937 rng(2024);
  int built = 0, composed = 0;
  for (unsigned int n = 5; n <= 12; ++n) {
    for (int round = 0; round < 3; ++round) {
      const bool is_composed = round != 0;
      const KAVU_01TBL t = is_composed ? composed_table(n, 4, rng) : random_table(n, rng);
      const KAVU_01TBL copy = t;
      composed += is_composed;
      for (unsigned int k : {4u, 6u}) {
        LUT_SIZE_SCOPE size(k);
        for (int builder = 0; builder < 3; ++builder) {
          if (builder == 0 && n > 9) continue;  // the k-input search is the slow one
          std::vector<CDB_SGATE_NODE*> nodes;
          CDB_SGATE_NODE* root = nullptr;
          if (builder == 0) root = t.to_luts(fx.fanins(n), fx.base_name(), k, nodes);
          if (builder == 1) root = t.to_luts(fx.base_name(), fx.fanins(n), nodes);
          if (builder == 2) root = t.syn_luts(fx.base_name(), fx.fanins(n), nodes, 0xffffff, k, false, -1, 0);
          if (root) {
            ++built;
            EXPECT_TRUE(fx.computes(nodes, root, t, k)) << "n " << n << " k " << k << " builder " << builder;
            EXPECT_FALSE(root->get_single_oterm()->has_fanout());
          } else {
            EXPECT_TRUE(nodes.empty());
          }
          delete_synthesized_nodes(nodes);
          ASSERT_TRUE(fx.pins_free()) << "a builder left gates behind";
          ASSERT_EQ(t, copy);
        }
      }
    }
  }
  // Tripwire: networks found (a change needs a reason).
  EXPECT_EQ(built, 91) << composed;
}

TEST(Kavu01tblLutBuild, SmallTablesBecomeOneGate) {
  LUT_NET_FIXTURE fx(6);
  std::vector<CDB_SGATE_NODE*> nodes;
  // Constants: a soft buffer tied to VCC or GND, arriving at 0.
  for (bool vcc : {false, true}) {
    KAVU_01TBL t(3);
    if (vcc) t.set_vcc();
    CDB_SGATE_NODE* root = t.to_luts(fx.base_name(), fx.fanins(3), nodes);
    ASSERT_NE(root->cast_to_buffer(), nullptr);
    EXPECT_EQ(root->cast_to_buffer()->get_buffer_type(), CDB_BUFFER_SOFT);
    EXPECT_EQ(root->get_input_term(0)->is_vcc(), vcc);
    EXPECT_EQ(kavu_resyn_arrival(root->get_single_oterm()), 0);
    delete_synthesized_nodes(nodes);
  }
  // A complemented variable: an inverting buffer on its pin.
  KAVU_01TBL inv(1);
  inv.variable(0, false);
  CDB_SGATE_NODE* buf = inv.to_luts(fx.fanins(1), fx.base_name(), 4, nodes);
  EXPECT_TRUE(buf->get_input_term(0)->is_inverted());
  EXPECT_EQ(buf->get_fanin_term(0), fx.fanins(1)[0]);
  delete_synthesized_nodes(nodes);
  // Six inputs and K = 6: one LUT named "lut", costing 18.
  std::mt19937 rng(3);
  KAVU_01TBL t6 = random_table(6, rng);
  CDB_SGATE_NODE* lut = t6.to_luts(fx.base_name(), fx.fanins(6), nodes);
  ASSERT_EQ(nodes.size(), 1u);
  ASSERT_NE(lut->cast_to_lut(), nullptr);
  EXPECT_EQ(KAVU_01TBL(lut->cast_to_lut()->get_lut_mask()), t6);
  EXPECT_NE(lut->get_instance_name(), nullptr);
  EXPECT_EQ(KAVU_CONE_COST::get_cone_area_cost(nodes), 18u);
  delete_synthesized_nodes(nodes);
  EXPECT_TRUE(fx.pins_free());
}

// The k-input builder used to reduce the caller's table and drop entries
// of the caller's fan-in list in place.
TEST(Kavu01tblLutBuild, KInputBuilderLeavesTableAndFaninsAlone) {
  LUT_NET_FIXTURE fx(7);
  // x0 XOR x2 XOR x4 XOR x6 over 7 variables: x1, x3, x5 are redundant.
  KAVU_01TBL t(7);
  for (unsigned int m = 0; m < 128; ++m)
    if ((m ^ (m >> 2) ^ (m >> 4) ^ (m >> 6)) & 1u) t.set_minterm(m);
  const KAVU_01TBL before = t;
  const std::vector<CDB_SGATE_OTERM*> fanins = fx.fanins(7);
  const std::vector<CDB_SGATE_OTERM*> fanins_before = fanins;
  std::vector<CDB_SGATE_NODE*> nodes;
  CDB_SGATE_NODE* root = t.to_luts(fanins, fx.base_name(), 3, nodes);
  EXPECT_EQ(t, before);
  EXPECT_EQ(fanins, fanins_before);
  ASSERT_TRUE(fx.computes(nodes, root, t, 3));
  for (unsigned int v : {1u, 3u, 5u}) EXPECT_FALSE(fanins[v]->has_fanout()) << "redundant x" << v;
  delete_synthesized_nodes(nodes);
}

// syn_luts used to prune later bound sizes against the caller's given area
// (-1 here), so after the first network no other size was ever compared.
TEST(Kavu01tblLutSynthesis, ComparesEveryBoundSize) {
  LUT_SIZE_SCOPE size(4);
  LUT_NET_FIXTURE fx(7);
  std::mt19937 rng(9);
  // g(x0, x1, x2, x3 x4 x5 x6) with g depending on all four inputs: bound
  // size 4 needs two LUTs, size 3 more.
  int two_lut_results = 0;
  for (int round = 0; round < 8; ++round) {
    KAVU_01TBL g = random_table(4, rng);
    if (g.num_dependent() != 4) continue;
    KAVU_01TBL t(7);
    for (unsigned int m = 0; m < 128; ++m)
      if (g.minterm((m & 7u) | (((m >> 3) == 15u ? 1u : 0u) << 3))) t.set_minterm(m);
    std::vector<CDB_SGATE_NODE*> nodes;
    CDB_SGATE_NODE* root = t.syn_luts(fx.base_name(), fx.fanins(7), nodes, 0xffffff, 4, false, -1, 0);
    ASSERT_TRUE(fx.computes(nodes, root, t, 4));
    EXPECT_EQ(KAVU_CONE_COST::get_cone_area_cost(nodes), 2u) << "round " << round;
    two_lut_results += nodes.size() == 2;
    delete_synthesized_nodes(nodes);
  }
  EXPECT_GT(two_lut_results, 0);
}

TEST(Kavu01tblLutSynthesis, RefusesWhatCannotBeatTheGivenArea) {
  LUT_SIZE_SCOPE size(6);
  LUT_NET_FIXTURE fx(7);
  std::mt19937 rng(4);
  const KAVU_01TBL t = random_table(7, rng);
  std::vector<CDB_SGATE_NODE*> nodes;
  // One 6-input LUT already costs 18.
  EXPECT_EQ(t.syn_luts(fx.base_name(), fx.fanins(7), nodes, 0xffffff, 6, true, 17, 0), nullptr);
  EXPECT_TRUE(nodes.empty());
  EXPECT_KAVU_INTERNAL_ERROR(t.syn_luts(fx.base_name(), fx.fanins(6), nodes, 0xffffff, 6, false, -1, 0),
                             "num_vars() == num_inputs");
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_CONE_COST::get_lut_area_cost(8u), "Unexpected number of inputs");
  EXPECT_TRUE(fx.pins_free());
}

TEST(Kavu01tblLutBuild, RecursiveFdNeedsHalfTheBoundSet) {
  LUT_NET_FIXTURE fx(6);
  std::mt19937 rng(12);
  // Bound set of 4 with 5..8 column classes needs 3 codes: gain 1 < 2.
  KAVU_01TBL t(6);
  const unsigned int cols[16] = {0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0, 1, 2, 3, 4, 0};
  for (unsigned int m = 0; m < 64; ++m)
    if ((cols[m >> 2] >> (m & 3u)) & 1u) t.set_minterm(m);
  const KAVU_01TBL before = t;
  std::vector<CDB_SGATE_NODE*> nodes;
  std::vector<CDB_SGATE_OTERM*> enc;
  EXPECT_EQ(t.recursive_fd(fx.fanins(6), fx.base_name(), 4, 4, nodes, enc), 0u);
  EXPECT_EQ(t, before);
  EXPECT_TRUE(nodes.empty() && enc.empty() && fx.pins_free());
}

// apply_fd builds a listed solution's encoding network; the table it hands
// back, built over the new fan-ins, completes the function.
TEST(Kavu01tblLutBuild, ApplyListedSolution) {
  LUT_NET_FIXTURE fx(5);
  // (x1 AND x2 AND x4) XOR x0 XOR x3.
  KAVU_01TBL t(5);
  for (unsigned int m = 0; m < 32; ++m)
    if ((((m >> 1) & (m >> 2) & (m >> 4)) ^ m ^ (m >> 3)) & 1u) t.set_minterm(m);
  std::vector<KAVU_FD_SOLUTION> sols;
  t.find_all_fds(3, 3, 0xffffff, {}, sols);
  ASSERT_FALSE(sols.empty());
  const KAVU_FD_SOLUTION& best = sols[KAVU_01TBL::find_best_solution(sols)];
  EXPECT_EQ(best.used_vars, 0x16u);
  std::vector<CDB_SGATE_OTERM*> new_fanins;
  std::vector<CDB_SGATE_NODE*> nodes;
  std::unique_ptr<KAVU_01TBL> rest(t.apply_fd(fx.base_name(), best, fx.fanins(5), new_fanins, nodes));
  ASSERT_NE(rest, nullptr);
  ASSERT_EQ(new_fanins.size(), 3u);
  EXPECT_EQ(new_fanins[0], fx.fanins(5)[0]);
  EXPECT_EQ(new_fanins[1], fx.fanins(5)[3]);
  CDB_SGATE_NODE* root = rest->to_luts(fx.base_name(), new_fanins, nodes);
  EXPECT_TRUE(fx.computes(nodes, root, t, 4));
  delete_synthesized_nodes(nodes);
}

// Default delays: every wire 0, every LUT 1, so arrival counts LUT levels.
TEST(Kavu01tblLutDelay, DefaultArrivalCountsLutLevels) {
  LUT_NET_FIXTURE fx(12);
  std::mt19937 rng(21);
  for (unsigned int n : {7u, 9u, 12u}) {
    const KAVU_01TBL t = composed_table(n, 3, rng);
    std::vector<CDB_SGATE_NODE*> nodes;
    CDB_SGATE_NODE* root = t.to_luts(fx.base_name(), fx.fanins(n), nodes);
    if (!root) continue;
    int depth = -1;
    ASSERT_TRUE(fx.computes(nodes, root, t, CDB_LUTMASK::max_num_inputs, &depth));
    EXPECT_EQ(kavu_resyn_arrival(root->get_single_oterm()), depth) << "n " << n;
    for (CDB_SGATE_NODE* node : nodes)
      if (node->cast_to_lut()) {
        EXPECT_EQ(kavu_resyn_lut_arrival(node), kavu_resyn_arrival(node->get_single_oterm()));
      }
    delete_synthesized_nodes(nodes);
  }
}

// A real circuit: each output of a 6x6 multiplier is simulated into a table
// over the inputs it depends on, rebuilt as 4-LUTs, and the network is
// simulated back (a second, independent simulation) to the same table.
TEST(Kavu01tblLutBuild, MultiplierOutputsRebuiltAsLuts) {
  auto nl = kavu_platform::load_blif("mult6_generic");
  KAVU_TRACK(*nl);
  std::vector<CDB_SGATE_OTERM*> inputs;
  std::vector<CDB_SGATE_NODE*> outputs;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if ((*it)->is_input()) inputs.push_back((*it)->get_single_oterm());
    if ((*it)->is_output()) outputs.push_back(*it);
  }
  ASSERT_EQ(inputs.size(), 12u);
  int rebuilt = 0;
  for (CDB_SGATE_NODE* out : outputs) {
    CDB_SGATE_OTERM* driver = out->get_fanin_term(0);
    std::vector<CDB_SGATE_OTERM*> fanins = inputs;
    KAVU_01TBL t = kavu_cone_01tbl(driver, fanins, nullptr);
    std::vector<unsigned int> kept;
    t.delete_redundant_var(kept);
    std::vector<CDB_SGATE_OTERM*> observed;
    for (unsigned int v : kept) observed.push_back(inputs[v]);
    std::vector<CDB_SGATE_NODE*> nodes;
    CDB_SGATE_NODE* root = t.syn_luts(driver->get_instance_name(), observed, nodes, 0xffffff, 4, false, -1, 0);
    if (root == nullptr) continue;
    ++rebuilt;
    std::vector<CDB_SGATE_OTERM*> order;
    for (CDB_SGATE_NODE* g : nodes) {
      order.push_back(g->get_single_oterm());
      if (g->cast_to_lut()) {
        EXPECT_LE(g->get_number_of_input_terms(), 4u);
      }
    }
    EXPECT_EQ(kavu_cone_01tbl(root->get_single_oterm(), observed, &order), t) << out->get_string_hpath();
    delete_synthesized_nodes(nodes);
    EXPECT_GE(kavu_cone_capacity(driver, observed, 6), 1u);
  }
  // Tripwire: outputs the synthesiser rebuilt (a change needs a reason).
  EXPECT_EQ(rebuilt, 4);
}
