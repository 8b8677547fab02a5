// Tests of the encoded LUT networks (KAVU_ENCNET): the word format, the
// plain and canonical encoders and the decoder, on hand-built networks and
// on LUT cones of real circuits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_encnet.h"
#include "kavu_01tbl_encnet_eval.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

namespace {

KAVU_01TBL table_of_encnet(const KAVU_ENCNET& net) {
  KAVU_01TBL t(net.num_fanins());
  for (unsigned m = 0; m < (1u << net.num_fanins()); ++m)
    if (eval_encnet(net, m)) t.set_minterm(m);
  return t;
}

// A cone of up to max_luts LUTs below a root LUT, listed feeders first and
// the root last, with the terminals that feed it from outside.
struct LUT_CONE {
  std::vector<CDB_SGATE_NODE*> luts;
  std::vector<CDB_SGATE_OTERM*> fanins;
};

LUT_CONE collect_cone(CDB_SGATE_NODE* root, unsigned max_luts, unsigned max_fanins) {
  std::vector<CDB_SGATE_NODE*> bfs = {root};
  for (size_t i = 0; i < bfs.size() && bfs.size() < max_luts; ++i) {
    for (CDB_SGATE_ITERM* t : bfs[i]->get_input_terms()) {
      CDB_SGATE_OTERM* src = t ? t->get_source() : nullptr;
      if (!src || src->get_my_node()->get_sgate_type() != CDB_SGATE_LUT_ENUM) continue;
      if (std::find(bfs.begin(), bfs.end(), src->get_my_node()) != bfs.end()) continue;
      if (bfs.size() < max_luts) bfs.push_back(src->get_my_node());
    }
  }
  LUT_CONE cone;
  cone.luts.assign(bfs.rbegin(), bfs.rend());
  for (CDB_SGATE_NODE* lut : cone.luts)
    for (CDB_SGATE_ITERM* t : lut->get_input_terms()) {
      CDB_SGATE_OTERM* src = t ? t->get_source() : nullptr;
      if (!src || std::find(bfs.begin(), bfs.end(), src->get_my_node()) != bfs.end()) continue;
      if (std::find(cone.fanins.begin(), cone.fanins.end(), src) == cone.fanins.end())
        cone.fanins.push_back(src);
    }
  if (cone.fanins.size() > max_fanins) cone.luts.clear();
  return cone;
}

// ---- format ---------------------------------------------------------------------------------

TEST(KavuEncnetFormat, HeaderLimitsAndHitCount) {
  KAVU_ENCNET net(3);
  EXPECT_EQ(net.num_words(), 29u);
  EXPECT_EQ(net.set_num_luts(63), 63u);
  EXPECT_EQ(net.set_num_fanins(15), 15u);
  EXPECT_KAVU_INTERNAL_ERROR(net.set_num_luts(64), "n < max_num_luts()");
  EXPECT_KAVU_INTERNAL_ERROR(net.set_num_fanins(16), "n < max_num_fanins()");
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET too_big(64), "n < max_num_luts()");
  net.set_num_hits(0x3FFFFE);
  EXPECT_EQ(net.inc_num_hits(), 0x3FFFFFu);
  EXPECT_KAVU_INTERNAL_ERROR(net.inc_num_hits(), "n < max_num_hits()");
  // The three header fields do not bleed into each other.
  EXPECT_EQ(net.num_luts(), 63u);
  EXPECT_EQ(net.num_fanins(), 15u);
  EXPECT_KAVU_INTERNAL_ERROR(net.word(29), "n < m_codes.size()");
}

// ---- hand-built networks -----------------------------------------------------------------

class KavuEncnet : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a", "b", "c", "d", "e"}) {
      m_pins.push_back(kavu_platform::make_input_pin(&m_nl, name));
      m_fanins.push_back(m_pins.back()->get_output_term(0));
    }
  }
  CDB_SGATE_NETLIST m_nl;
  std::vector<CDB_SGATE_NODE*> m_pins;
  std::vector<CDB_SGATE_OTERM*> m_fanins;
};

TEST_F(KavuEncnet, EncodesCodesConstantsAndPhases) {
  // l0 = a & b (4-input mask over a, b, VCC, open), l1 = l0 ^ c.
  CDB_SGATE_NODE* l0 = kavu_platform::make_lut(&m_nl, {m_pins[0], m_pins[1], nullptr, m_pins[3]}, 0x8888);
  l0->get_input_term(3)->disconnect_from_source();
  CDB_SGATE_NODE* l1 = kavu_platform::make_lut(&m_nl, {l0, m_pins[2]}, 0x6);
  std::vector<CDB_SGATE_NODE*> luts = {l0, l1};
  std::vector<CDB_SGATE_OTERM*> fanins(m_fanins.begin(), m_fanins.begin() + 3);
  KAVU_ENCNET net(luts, fanins);
  ASSERT_EQ(net.num_words(), 20u);
  EXPECT_EQ(net.num_fanins(), 3u);
  EXPECT_EQ(net.num_luts(), 2u);
  EXPECT_EQ(net.num_hits(), 0u);
  EXPECT_EQ(net.area_cost(), KAVU_CONE_COST::get_cone_area_cost(luts));
  // LUT 0: 4 inputs, codes a=3, b=4, VCC=1, open=2, then 2, 2.
  EXPECT_EQ(std::vector<unsigned>({net.word(2), net.word(4), net.word(5), net.word(6), net.word(7),
                                   net.word(8), net.word(9), net.word(10)}),
            std::vector<unsigned>({4, 0x8888, 3, 4, 1, 2, 2, 2}));
  // LUT 1 reads LUT 0 (code 3 + F + 0 = 6) and c (5): the top code in use.
  EXPECT_EQ(net.word(14), 6u);
  EXPECT_EQ(net.word(15), 5u);
  for (unsigned m = 0; m < 8; ++m)
    EXPECT_EQ(eval_encnet(net, m), ((m & 1) && (m & 2)) != ((m & 4) != 0)) << m;

  // Output phase false complements only the last mask.
  std::vector<unsigned> var_map = {0, 1, 2};
  std::vector<bool> phase = {true, true, true};
  KAVU_ENCNET neg(luts, fanins, false, var_map, phase);
  EXPECT_EQ(neg.word(4), 0x8888u);
  EXPECT_EQ(neg.word(13), 0x9u);
}

TEST_F(KavuEncnet, RefusesForeignSourcesInversionsAndOtherGates) {
  CDB_SGATE_NODE* l0 = kavu_platform::make_lut(&m_nl, {m_pins[0], m_pins[4]}, 0x8);
  std::vector<CDB_SGATE_NODE*> luts = {l0};
  // Fan-in e is not listed: its code would once have been read as GND.
  std::vector<CDB_SGATE_OTERM*> fanins = {m_fanins[0]};
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(luts, fanins), "outside the fan-ins and listed LUTs");
  fanins.push_back(m_fanins[4]);
  l0->get_input_term(1)->set_invert();
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(luts, fanins), "!data_iterm->is_inverted()");
  CDB_SGATE_NODE* gate = kavu_platform::make_and(&m_nl, m_pins[0], m_pins[1]);
  std::vector<CDB_SGATE_NODE*> not_luts = {gate};
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(not_luts, fanins), "kavu_is_a_lut(sgate)");
  std::vector<CDB_SGATE_OTERM*> many(16, m_fanins[0]);
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(luts, many), "n < max_num_fanins()");
}

TEST_F(KavuEncnet, DecodesIntoGatesWithArrivalsAndRefusesBadNetworks) {
  KAVU_TRACK(m_nl);
  CDB_SGATE_NODE* l0 = kavu_platform::make_lut(&m_nl, {m_pins[0], m_pins[1]}, 0x6);
  CDB_SGATE_NODE* l1 = kavu_platform::make_lut(&m_nl, {l0, m_pins[2], nullptr}, 0xE0);
  // An inverted output terminal is folded into the mask on encoding.
  l1->get_output_term(0)->set_invert();
  CDB_SGATE_NODE* out_pin = kavu_platform::make_output_pin(&m_nl, "y", l1);
  std::vector<CDB_SGATE_NODE*> luts = {l0, l1};
  std::vector<CDB_SGATE_OTERM*> fanins(m_fanins.begin(), m_fanins.begin() + 3);
  KAVU_ENCNET net(luts, fanins);
  for (CDB_SGATE_OTERM* t : fanins) kavu_resyn_set_arrival(t, 0);

  std::vector<CDB_SGATE_NODE*> nodes;
  EXPECT_KAVU_INTERNAL_ERROR(net.decode_subnet(fanins, nullptr, nodes), "name != nullptr");
  HDB_INSTANCE_NAME* name = m_pins[0]->get_instance_name();
  CDB_SGATE_NODE* root = net.decode_subnet(fanins, name, nodes);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(root, nodes.back());
  for (CDB_SGATE_NODE* g : nodes) m_nl.add_node(g);
  EXPECT_TRUE(root->get_input_term(2)->is_vcc());
  EXPECT_EQ(root->get_input_term(0)->get_source(), nodes[0]->get_output_term(0));
  // Default delays: one unit per LUT level.
  EXPECT_EQ(kavu_resyn_arrival(nodes[0]->get_output_term(0)), 1);
  EXPECT_EQ(kavu_resyn_arrival(root->get_output_term(0)), 2);
  CDB_SGATE_NODE* copy_pin = kavu_platform::make_output_pin(&m_nl, "y_copy", root);
  kavu_platform::NETLIST_SIMULATOR sim(&m_nl);
  ASSERT_TRUE(sim.ok()) << sim.error();
  for (uint64_t seed = 1; seed < 4; ++seed) {
    sim.randomize_inputs(seed);
    sim.eval();
    EXPECT_EQ(sim.output(out_pin), sim.output(copy_pin));
  }

  std::vector<CDB_SGATE_OTERM*> short_fanins(fanins.begin(), fanins.begin() + 2);
  EXPECT_KAVU_INTERNAL_ERROR(net.decode_subnet(short_fanins, name, nodes), "subnet_fanins.size() == num_fanins");
  // A code past the network is refused before any gate is made.
  KAVU_ENCNET bad(net);
  bad.set_word(2 + 3, 99);
  std::vector<CDB_SGATE_NODE*> none;
  EXPECT_KAVU_INTERNAL_ERROR(bad.decode_subnet(fanins, name, none), "code < order");
  EXPECT_TRUE(none.empty());
  KAVU_ENCNET empty(0);
  std::vector<CDB_SGATE_OTERM*> no_fanins;
  EXPECT_EQ(empty.decode_subnet(no_fanins, nullptr, none), nullptr);
}

// ---- real circuits ---------------------------------------------------------------------------

TEST(KavuEncnetCircuits, EncodeDecodeRoundTripsOnLutCones) {
  for (const char* name : {"alu4", "alu8_lut6"}) {
    auto nl = kavu_platform::load_blif(name);
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_NODE*> roots;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it && (*it)->get_sgate_type() == CDB_SGATE_LUT_ENUM) roots.push_back(*it);
    std::vector<std::pair<CDB_SGATE_OTERM*, CDB_SGATE_OTERM*>> pairs;  // original, decoded
    int canonical_checked = 0;
    for (size_t r = 0; r < roots.size() && pairs.size() < 40; r += 3) {
      LUT_CONE cone = collect_cone(roots[r], 1 + r % 4, 10);
      if (cone.luts.empty() || cone.fanins.empty()) continue;
      KAVU_ENCNET net(cone.luts, cone.fanins);
      const KAVU_01TBL f = table_of_encnet(net);

      // The canonical encoder computes the canonical table of f.
      KAVU_01TBL g(f);
      std::vector<unsigned> var_map;
      std::vector<bool> phase;
      const bool out = g.canonical(var_map, phase);
      KAVU_ENCNET cnet(cone.luts, cone.fanins, out, var_map, phase);
      EXPECT_EQ(table_of_encnet(cnet), g) << name << " root " << r;
      EXPECT_EQ(cnet.area_cost(), net.area_cost());
      ++canonical_checked;

      std::vector<CDB_SGATE_NODE*> nodes;
      CDB_SGATE_NODE* root = net.decode_subnet(cone.fanins, cone.luts.back()->get_instance_name(), nodes);
      ASSERT_EQ(nodes.size(), cone.luts.size());
      for (CDB_SGATE_NODE* g2 : nodes) nl->add_node(g2);
      pairs.emplace_back(cone.luts.back()->get_output_term(0), root->get_output_term(0));
      // Re-encoding the decoded gates gives the same words.
      KAVU_ENCNET again(nodes, cone.fanins);
      for (unsigned w = 0; w < net.num_words(); ++w) EXPECT_EQ(again.word(w), net.word(w));
    }
    EXPECT_GT(canonical_checked, 20) << name;
    kavu_platform::NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    for (uint64_t seed = 1; seed < 4; ++seed) {
      sim.randomize_inputs(seed);
      sim.eval();
      for (const auto& [orig, decoded] : pairs) EXPECT_EQ(sim.value(orig), sim.value(decoded)) << name;
    }
  }
}

}  // namespace
