// Truth tables into LUT networks: every network a builder returns computes
// its table with LUTs no wider than asked and a failing builder leaves
// nothing behind; the resynthesis delay model follows its wire rules.

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_fd_int.h"
#include "kavu_01tbl_test_support.h"

using namespace kavu_01tbl_test;

namespace {

// Sets the device LUT size for one scope.
struct LUT_SIZE_SCOPE {
  unsigned int m_saved = CDB_LUTMASK::max_num_inputs;
  explicit LUT_SIZE_SCOPE(unsigned int k) { CDB_LUTMASK::max_num_inputs = k; }
  ~LUT_SIZE_SCOPE() { CDB_LUTMASK::max_num_inputs = m_saved; }
};

// Whether a network (feeders first, root last) reads only the pins and its
// own gates, has no LUT wider than k and computes t over the pins; its LUT
// levels go to *depth. The function is read back by cone simulation.
::testing::AssertionResult computes(const PINS& px, const std::vector<CDB_SGATE_NODE*>& nodes, CDB_SGATE_NODE* root,
                                    const KAVU_01TBL& t, unsigned int k, int* depth = nullptr) {
  if (root == nullptr || nodes.empty() || nodes.back() != root)
    return ::testing::AssertionFailure() << "root missing or not last";
  std::vector<CDB_SGATE_OTERM*> fanins = px.first(t.num_vars()), order;
  std::vector<int> levels;
  for (CDB_SGATE_NODE* g : nodes) {
    if (g->cast_to_lut() && g->get_number_of_input_terms() > k)
      return ::testing::AssertionFailure() << "LUT with " << g->get_number_of_input_terms() << " inputs";
    int level = 0;
    for (unsigned int i = 0; i < g->get_number_of_input_terms(); ++i) {
      CDB_SGATE_OTERM* src = g->get_fanin_term(i);
      const auto inside = std::find(order.begin(), order.end(), src);
      if (inside != order.end()) level = std::max(level, levels[inside - order.begin()]);
      else if (src && std::find(fanins.begin(), fanins.end(), src) == fanins.end())
        return ::testing::AssertionFailure() << "input from outside the network";
    }
    order.push_back(g->get_single_oterm());
    levels.push_back(level + (g->cast_to_lut() ? 1 : 0));
  }
  if (kavu_cone_01tbl(root->get_single_oterm(), fanins, &order) != t)
    return ::testing::AssertionFailure() << "the network computes another function";
  if (depth) *depth = levels.back();
  return ::testing::AssertionSuccess();
}

}  // namespace

// Every function of up to four variables as 3-LUT networks (every
// thirteenth table keeps the test fast); with n = k + 1 two LUTs at most.
TEST(Kavu01tblLutBuild, EveryFunctionOfUpToFourVariables) {
  PINS px(4);
  int built = 0;
  for (unsigned int n = 0; n <= 4; ++n) {
    for (unsigned int w = 0; w < (1u << (1u << n)); w += 13) {
      KAVU_01TBL t(n), work(n);
      t.set_word(0, w), work.set_word(0, w);
      std::vector<CDB_SGATE_NODE*> nodes;
      CDB_SGATE_NODE* root = work.to_luts(px.first(n), nullptr, 3, nodes);
      if (root) {
        ++built;
        ASSERT_TRUE(computes(px, nodes, root, t, 3)) << "n " << n << " word " << w;
        if (t.num_dependent() == 4) {
          EXPECT_LE(std::count_if(nodes.begin(), nodes.end(), [](CDB_SGATE_NODE* g) { return g->cast_to_lut(); }), 2);
        }
      }
      delete_synthesized_nodes(nodes);
      ASSERT_TRUE(px.free());
    }
  }
  EXPECT_EQ(built, 1270);  // tripwire: tables that fit 3-LUT networks (a change needs a reason)
}

// Random functions of up to 12 inputs, plain (rarely decomposable) and
// composed of smaller random functions, through all three builders with
// K = 4 and 6. With the default delays (wires 0, LUTs 1) a network's
// arrival counts its LUT levels.
TEST(Kavu01tblLutBuild, RandomFunctionsUpToTwelveInputs) {
  PINS px(12);
  std::mt19937 rng(2024);
  int built = 0;
  for (unsigned int n = 5; n <= 12; ++n) {
    for (int round = 0; round < 3; ++round) {
      const KAVU_01TBL t = round != 0 ? composed_table(n, 4, rng) : random_table(n, rng);
      const KAVU_01TBL copy = t;
      for (unsigned int k : {4u, 6u}) {
        LUT_SIZE_SCOPE size(k);
        for (int builder = 0; builder < 3; ++builder) {
          if (builder == 0 && n > 9) continue;  // the k-input search is the slow one
          std::vector<CDB_SGATE_NODE*> nodes;
          KAVU_01TBL work(t);
          CDB_SGATE_NODE* root = builder == 0   ? work.to_luts(px.first(n), px.base_name(), k, nodes)
                                 : builder == 1 ? t.to_luts(px.base_name(), px.first(n), nodes)
                                                : t.syn_luts(px.base_name(), px.first(n), nodes, 0xffffff, k, false, -1, 0);
          int depth = -1;
          if (root) {
            ++built;
            EXPECT_TRUE(computes(px, nodes, root, t, k, &depth)) << "n " << n << " k " << k << " builder " << builder;
            EXPECT_EQ(kavu_resyn_arrival(root->get_single_oterm()), depth);
            EXPECT_FALSE(root->get_single_oterm()->has_fanout());
          } else {
            EXPECT_TRUE(nodes.empty());
          }
          delete_synthesized_nodes(nodes);
          ASSERT_TRUE(px.free()) << "a builder left gates behind";
          ASSERT_EQ(t, copy);
        }
      }
    }
  }
  EXPECT_EQ(built, 91);  // tripwire: networks found (a change needs a reason)
}

// The k-input builder leaves its table reduced: the variables it ignores go,
// and a table one gate takes whole is left with none; the fan-in list stays.
// A constant stays as it is and becomes a soft buffer tied to VCC or GND,
// arriving at 0.
TEST(Kavu01tblLutBuild, KInputBuilderLeavesItsTableReduced) {
  PINS px(7);
  std::vector<CDB_SGATE_NODE*> nodes;
  for (bool vcc : {false, true}) {
    KAVU_01TBL t(3);
    if (vcc) t.set_vcc();
    CDB_SGATE_NODE* root = t.to_luts(px.first(3), px.base_name(), 4, nodes);
    ASSERT_TRUE(root->cast_to_buffer() && root->cast_to_buffer()->get_buffer_type() == CDB_BUFFER_SOFT);
    EXPECT_TRUE(root->get_input_term(0)->is_vcc() == vcc && kavu_resyn_arrival(root->get_single_oterm()) == 0);
    EXPECT_TRUE(t.num_vars() == 3 && t.onset_volume() == (vcc ? 8u : 0u));
    delete_synthesized_nodes(nodes);
  }
  KAVU_01TBL parity4(4), inverter(1);  // x0 ^ x2 ^ x4 ^ x6 and NOT x3, over 7 variables below
  parity4.set_xor();
  inverter.variable(0, false);
  struct CASE {
    const KAVU_01TBL& reduced;
    std::vector<unsigned> support;
    unsigned k, vars_left;
  } cases[] = {{parity4, {0, 2, 4, 6}, 3, 4}, {parity4, {0, 2, 4, 6}, 4, 0}, {inverter, {3}, 4, 0}};
  for (const CASE& c : cases) {
    KAVU_01TBL t(7);
    for (unsigned int m = 0; m < 128; ++m) {
      unsigned int r = 0;
      for (size_t p = 0; p < c.support.size(); ++p) r |= ((m >> c.support[p]) & 1u) << p;
      if (c.reduced.minterm(r)) t.set_minterm(m);
    }
    const KAVU_01TBL before = t;
    const std::vector<CDB_SGATE_OTERM*> fanins = px.first(7);
    CDB_SGATE_NODE* root = t.to_luts(fanins, px.base_name(), c.k, nodes);
    EXPECT_TRUE(computes(px, nodes, root, before, c.k)) << c.k;
    EXPECT_EQ(t.num_vars(), c.vars_left) << c.k;
    EXPECT_TRUE(c.vars_left == 0 || t == c.reduced) << c.k;
    EXPECT_EQ(fanins, px.first(7));
    delete_synthesized_nodes(nodes);
  }
}

// syn_luts used to prune later bound sizes against the caller's given area
// (-1 here), so after the first network no other size was ever compared.
TEST(Kavu01tblLutSynthesis, ComparesEveryBoundSize) {
  LUT_SIZE_SCOPE size(4);
  PINS px(7);
  std::mt19937 rng(9);
  // g(x0, x1, x2, x3 x4 x5 x6) with g depending on all four inputs: bound
  // size 4 needs two LUTs, size 3 more.
  for (int round = 0; round < 8; ++round) {
    KAVU_01TBL g = random_table(4, rng), t(7);
    if (g.num_dependent() != 4) continue;
    for (unsigned int m = 0; m < 128; ++m)
      if (g.minterm((m & 7u) | (((m >> 3) == 15u ? 1u : 0u) << 3))) t.set_minterm(m);
    std::vector<CDB_SGATE_NODE*> nodes;
    CDB_SGATE_NODE* root = t.syn_luts(px.base_name(), px.first(7), nodes, 0xffffff, 4, false, -1, 0);
    ASSERT_TRUE(computes(px, nodes, root, t, 4));
    EXPECT_TRUE(nodes.size() == 2 && KAVU_CONE_COST::get_cone_area_cost(nodes) == 2u) << "round " << round;
    delete_synthesized_nodes(nodes);
  }
  // The cheapest network wins even when a later bound size is worse: with
  // two sizes the area never exceeds that of the last size alone, and on
  // some of these functions it is smaller. Five sizes (the key's largest,
  // made for 6-input LUTs) compare the three a 4-input LUT has; they once
  // ended in an internal error.
  int cheaper = 0;
  for (int round = 0; round < 24; ++round) {
    const KAVU_01TBL t = composed_table(7, 1 + round % 4, rng);
    int64_t area[3];
    for (int sizes = 1; sizes <= 3; ++sizes) {
      kavu_platform::CFG_SCOPE cfg{{"kavu_wv_num_bound_sizes", sizes == 1 ? "1" : sizes == 2 ? "2" : "5"}};
      std::vector<CDB_SGATE_NODE*> nodes;
      CDB_SGATE_NODE* root = t.syn_luts(px.base_name(), px.first(7), nodes, 0xffffff, 4, false, -1, 0);
      area[sizes - 1] = root ? KAVU_CONE_COST::get_cone_area_cost(nodes) : INT64_MAX;
      if (root) {
        EXPECT_TRUE(computes(px, nodes, root, t, 4));
      }
      delete_synthesized_nodes(nodes);
    }
    EXPECT_TRUE(area[2] <= area[1] && area[1] <= area[0]) << "round " << round;
    cheaper += area[1] < area[0];
  }
  EXPECT_GT(cheaper, 0);
}

// With improve set, a network that cannot beat the given area is not built:
// at once when one LUT already costs more (a 6-input LUT costs 18; area
// mode), and, in speed mode too, once the encoding LUTs leave nothing of the
// area for the rest. Speed mode once skipped that prune.
TEST(Kavu01tblLutSynthesis, RefusesWhatCannotBeatTheGivenArea) {
  LUT_SIZE_SCOPE size(6);
  PINS px(7);
  std::mt19937 rng(4);
  const KAVU_01TBL t = random_table(7, rng);
  std::vector<CDB_SGATE_NODE*> nodes;
  EXPECT_EQ(t.syn_luts(px.base_name(), px.first(7), nodes, 0xffffff, 6, true, 17, 0), nullptr);
  const bool saved = kavu_fd_int::set_resyn_for_speed(true);
  EXPECT_EQ(t.syn_luts(px.base_name(), px.first(7), nodes, 0xffffff, 6, true, 5, 1000), nullptr);
  EXPECT_TRUE(nodes.empty());
  CDB_SGATE_NODE* root = t.syn_luts(px.base_name(), px.first(7), nodes, 0xffffff, 6, true, 1000, 1000);
  kavu_fd_int::set_resyn_for_speed(saved);
  EXPECT_TRUE(computes(px, nodes, root, t, 6));
  delete_synthesized_nodes(nodes);
  EXPECT_KAVU_INTERNAL_ERROR(t.syn_luts(px.base_name(), px.first(6), nodes, 0xffffff, 6, false, -1, 0),
                             "num_vars() == num_inputs");
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_CONE_COST::get_lut_area_cost(8u), "Unexpected number of inputs");
  EXPECT_TRUE(px.free());
}

// apply_fd builds a listed solution's encoding network; the table it hands
// back, built over the new fan-ins, completes the function.
TEST(Kavu01tblLutBuild, ApplyListedSolution) {
  PINS px(5);
  // (x1 AND x2 AND x4) XOR x0 XOR x3.
  KAVU_01TBL t(5);
  for (unsigned int m = 0; m < 32; ++m)
    if ((((m >> 1) & (m >> 2) & (m >> 4)) ^ m ^ (m >> 3)) & 1u) t.set_minterm(m);
  std::vector<KAVU_FD_SOLUTION> sols;
  t.find_all_fds(3, 3, 0xffffff, {}, sols);
  const KAVU_FD_SOLUTION& best = sols[KAVU_01TBL::find_best_solution(sols)];
  std::vector<CDB_SGATE_OTERM*> new_fanins;
  std::vector<CDB_SGATE_NODE*> nodes;
  std::unique_ptr<KAVU_01TBL> rest(t.apply_fd(px.base_name(), best, px.first(5), new_fanins, nodes));
  ASSERT_TRUE(best.used_vars == 0x16u && rest != nullptr && new_fanins.size() == 3u);
  EXPECT_TRUE(new_fanins[0] == px.fanins[0] && new_fanins[1] == px.fanins[3]);
  CDB_SGATE_NODE* root = rest->to_luts(px.base_name(), new_fanins, nodes);
  EXPECT_TRUE(computes(px, nodes, root, t, 4));
  delete_synthesized_nodes(nodes);
}

namespace {

// The settings are read once, on first use, in a fresh process (the
// death-test child re-executes the test binary): balanced resynthesis
// checks delay, the first set_01tbl_debug takes the larger of its level and
// the key's, and ten distinct delays whose sums all differ give every rule
// of the wire-delay table its own value. Exits 0 when all hold, else 1
// with the wrong rules on stderr.
void check_settings_and_wire_rules_and_exit() {
  using namespace kavu_platform;
  const char* keys[] = {"lutin_combout", "lutin_cout", "cascin_combout", "wire_carry", "wire_casc",
                        "wire_sum",      "wire_dff",   "wire_data",      "wire_local", "wire_gh"};
  for (int i = 0; i < 10; ++i)
    cfg_set_value(("ftm_resyn_" + std::string(keys[i]) + "_delay").c_str(), std::to_string(1 << i).c_str());
  cfg_set_value("ftm_resyn_for_balanced", "on");
  cfg_set_value("kavu_01tbl_debug", "3");
  if (!kavu_01tbl_resyn_settings().m_check_delay || set_01tbl_debug(1) != 3 || set_01tbl_debug(0) != 0) std::exit(1);
  cfg_set_value("ftm_resyn_wire_gh_delay", "7");  // read once: not seen
  const unsigned LC = 1, LCOUT = 2, CC = 4, CARRY = 8, CASC = 16, SUM = 32, DFF = 64, DATA = 128, LOCAL = 256,
                 GH = 512;  // the delays by key, in the order above
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* pin = make_input_pin(&nl, "p");
  CDB_SGATE_NODE* lut = make_lut(&nl, {pin}, 0x2);
  CDB_SGATE_NODE* dff = make_dff(&nl, pin, nullptr);
  CDB_SGATE_NODE* out = make_output_pin(&nl, "y", lut);
  CDB_SGATE_NODE* cascade = make_buffer(&nl, lut, CDB_BUFFER_CASCADE);
  CDB_SGATE_NODE* lcell = make_buffer(&nl, lut, CDB_BUFFER_LCELL);
  CDB_SGATE_NODE* name = make_buffer(&nl, lut, CDB_BUFFER_NAME);
  CDB_SGATE_NODE* soft = make_buffer(&nl, lut, CDB_BUFFER_SOFT);
  CDB_SGATE_NODE* cascade_lut = make_lut(&nl, {cascade}, 0x2);
  CDB_SGATE_NODE* mux = make_mux(&nl, pin, pin, pin);
  CDB_SGATE_NODE* comb = make_and(&nl, pin, pin);
  CDB_SGATE_CARRY_SUM* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  CDB_SGATE_LATCH* latch = new CDB_SGATE_LATCH(nullptr);
  for (unsigned k = 0; k < 2; ++k) cs->set_input_term(cs->create_input_term(nullptr), k);
  latch->set_input_term(latch->create_input_term(nullptr), 0);
  nl.add_node(cs), nl.add_node(latch);
  CDB_SGATE_NODE* dff_of_sum = make_dff(&nl, cs, nullptr);
  auto o = [](CDB_SGATE_NODE* g) { return g->get_output_term(0); };
  auto i = [](CDB_SGATE_NODE* g) { return g->get_input_term(0); };
  const struct {
    int rule;
    CDB_SGATE_OTERM* from;
    CDB_SGATE_ITERM* into;
    unsigned delay;
  } cases[] = {
      {1, nullptr, i(lut), 0},           {1, o(pin), nullptr, 0},            {2, o(pin), i(latch), LC + GH},
      {3, o(pin), i(name), LC + GH},     {3, o(pin), i(cascade), LC + GH},   {4, o(pin), i(lut), GH},
      {5, o(pin), cs->get_input_term(1), LCOUT + GH},                        {6, o(pin), i(cs), LC + GH},
      {7, o(lut), i(out), GH},           {8, cs->get_output_term(1), i(lut), CARRY},
      {9, o(cs), i(dff), 0},             {10, o(cs), i(lut), SUM},           {11, o(lut), i(cs), 0},
      {12, o(cascade), i(mux), CC + CASC},                                   {13, o(cascade), i(lut), CASC},
      {14, o(lut), i(cascade), 0},       {15, o(lut), i(cascade_lut), 0},    {16, o(dff), i(lut), DFF},
      {16, o(dff_of_sum), i(lut), SUM},  {16, o(latch), i(lcell), DFF + LC}, {16, o(dff), i(dff), DFF + LC},
      {17, o(lcell), i(dff), 0},         {18, o(lcell), i(name), DATA + LC}, {19, o(name), i(lut), DATA},
      {20, o(mux), i(lut), 0},           {20, o(lut), i(mux), 0},            {21, o(soft), i(lut), 0},
      {22, o(comb), i(lut), LOCAL},      {23, o(lut), i(dff), 0},            {23, o(lut), i(lcell), 0},
      {24, o(lut), i(lut), DATA},
  };
  int wrong = 0;
  for (const auto& c : cases)
    if (const unsigned got = resyn_wire_delay(c.from, c.into); got != c.delay)
      std::fprintf(stderr, "rule %d: %u, expected %u\n", c.rule, got, c.delay), ++wrong;
  std::exit(wrong == 0 ? 0 : 1);
}

}  // namespace

// A wire rule swapped with another or matched in the wrong order gives a
// wrong value.
TEST(Kavu01tblLutDelay, SettingsLoadOnceAndEveryWireRuleGivesItsDelay) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(check_settings_and_wire_rules_and_exit(), ::testing::ExitedWithCode(0), "");
}

// A real circuit: each output of a 6x6 multiplier is simulated into a table
// over the inputs it depends on, rebuilt as 4-LUTs, and the network is
// simulated back to the same table.
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
    std::vector<CDB_SGATE_OTERM*> fanins = inputs, observed;
    KAVU_01TBL t = kavu_cone_01tbl(driver, fanins, nullptr);
    std::vector<unsigned int> kept;
    t.delete_redundant_var(kept);
    for (unsigned int v : kept) observed.push_back(inputs[v]);
    std::vector<CDB_SGATE_NODE*> nodes;
    CDB_SGATE_NODE* root = t.syn_luts(driver->get_instance_name(), observed, nodes, 0xffffff, 4, false, -1, 0);
    if (root == nullptr) continue;
    ++rebuilt;
    std::vector<CDB_SGATE_OTERM*> order;
    for (CDB_SGATE_NODE* g : nodes) {
      order.push_back(g->get_single_oterm());
      EXPECT_LE(g->cast_to_lut() ? g->get_number_of_input_terms() : 0u, 4u);
    }
    EXPECT_EQ(kavu_cone_01tbl(root->get_single_oterm(), observed, &order), t) << out->get_string_hpath();
    delete_synthesized_nodes(nodes);
    EXPECT_GE(kavu_cone_capacity(driver, observed, 6), 1u);
  }
  EXPECT_EQ(rebuilt, 4);  // tripwire: outputs the synthesiser rebuilt (a change needs a reason)
}
