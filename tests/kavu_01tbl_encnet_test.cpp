// Encoded LUT networks (KAVU_ENCNET): the word format, the plain and
// canonical encoders and the decoder, on hand-built networks and on LUT
// cones of real circuits, read back by an independent evaluator.

#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_encnet.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_test_support.h"

using kavu_01tbl_test::PINS;
using kavu_platform::make_lut;

namespace {

KAVU_01TBL table_of_encnet(const KAVU_ENCNET& net) {
  KAVU_01TBL t(net.num_fanins());
  for (unsigned m = 0; m < (1u << net.num_fanins()); ++m)
    if (eval_encnet(net, m)) t.set_minterm(m);
  return t;
}

// A cone of up to max_luts LUTs below a root LUT, feeders first and the
// root last, with the terminals that feed it from outside (none when more
// than max_fanins).
struct LUT_CONE {
  std::vector<CDB_SGATE_NODE*> luts;
  std::vector<CDB_SGATE_OTERM*> fanins;
};

LUT_CONE collect_cone(CDB_SGATE_NODE* root, unsigned max_luts, unsigned max_fanins) {
  std::vector<CDB_SGATE_NODE*> bfs = {root};
  auto inside = [&bfs](const CDB_SGATE_OTERM* t) {
    return std::find(bfs.begin(), bfs.end(), t->get_my_node()) != bfs.end();
  };
  for (size_t i = 0; i < bfs.size() && bfs.size() < max_luts; ++i)
    for (CDB_SGATE_ITERM* t : bfs[i]->get_input_terms()) {
      CDB_SGATE_OTERM* src = t ? t->get_source() : nullptr;
      if (src && src->get_my_node()->get_sgate_type() == CDB_SGATE_LUT_ENUM && !inside(src) && bfs.size() < max_luts)
        bfs.push_back(src->get_my_node());
    }
  LUT_CONE cone;
  cone.luts.assign(bfs.rbegin(), bfs.rend());
  for (CDB_SGATE_NODE* lut : cone.luts)
    for (CDB_SGATE_ITERM* t : lut->get_input_terms()) {
      CDB_SGATE_OTERM* src = t ? t->get_source() : nullptr;
      if (src && !inside(src) && std::find(cone.fanins.begin(), cone.fanins.end(), src) == cone.fanins.end())
        cone.fanins.push_back(src);
    }
  if (cone.fanins.size() > max_fanins) cone.luts.clear();
  return cone;
}

}  // namespace

// A two-LUT network with a tied input, an open input and an inverted
// output: its words, its function through the reference evaluator, the
// output phase, then its decoding into gates (function, one arrival unit
// per LUT level) and the decodings refused before any gate is made.
TEST(KavuEncnet, EncodesAndDecodesATwoLutNetwork) {
  PINS px(4);
  // l0 = a & b (4-input mask over a, b, VCC, open), y = NOT (l0 ^ c).
  CDB_SGATE_NODE* l0 = make_lut(&px.nl, {px.pins[0], px.pins[1], nullptr, px.pins[3]}, 0x8888);
  l0->get_input_term(3)->disconnect_from_source();
  CDB_SGATE_NODE* l1 = make_lut(&px.nl, {l0, px.pins[2]}, 0x6);
  l1->get_output_term(0)->set_invert();  // folded into the mask
  std::vector<CDB_SGATE_NODE*> luts = {l0, l1};
  std::vector<CDB_SGATE_OTERM*> fanins = px.first(3);
  KAVU_ENCNET net(luts, fanins);
  ASSERT_EQ(net.num_words(), 20u);
  EXPECT_TRUE(net.num_fanins() == 3 && net.num_luts() == 2 && net.num_hits() == 0);
  EXPECT_EQ(net.area_cost(), KAVU_CONE_COST::get_cone_area_cost(luts));
  // LUT 0: 4 inputs, mask, codes a=3, b=4, VCC=1, open=2, then 2, 2. LUT 1:
  // its mask, LUT 0 (code 3 + fan-ins + 0 = 6) and c (5).
  std::vector<unsigned> words;
  for (unsigned w : {2, 4, 5, 6, 7, 8, 9, 10, 13, 14, 15}) words.push_back(net.word(w));
  EXPECT_EQ(words, std::vector<unsigned>({4, 0x8888, 3, 4, 1, 2, 2, 2, 0x9, 6, 5}));
  EXPECT_EQ(table_of_encnet(net).word(0), 0x87u);
  // Output phase false complements only the last mask.
  std::vector<unsigned> var_map = {0, 1, 2};
  std::vector<bool> phase = {true, true, true};
  KAVU_ENCNET neg(luts, fanins, false, var_map, phase);
  EXPECT_TRUE(neg.word(4) == 0x8888u && neg.word(13) == 0x6u);

  for (CDB_SGATE_OTERM* t : fanins) kavu_resyn_set_arrival(t, 0);
  std::vector<CDB_SGATE_NODE*> nodes;
  EXPECT_KAVU_INTERNAL_ERROR(net.decode_subnet(fanins, nullptr, nodes), "name != nullptr");
  CDB_SGATE_NODE* root = net.decode_subnet(fanins, px.base_name(), nodes);
  ASSERT_TRUE(nodes.size() == 2 && root == nodes.back());
  std::vector<CDB_SGATE_OTERM*> order = {nodes[0]->get_output_term(0), root->get_output_term(0)};
  EXPECT_EQ(kavu_cone_01tbl(root->get_output_term(0), fanins, &order).word(0), 0x87u);
  EXPECT_TRUE(kavu_resyn_arrival(order[0]) == 1 && kavu_resyn_arrival(order[1]) == 2);
  delete_synthesized_nodes(nodes);
  std::vector<CDB_SGATE_OTERM*> short_fanins = px.first(2), no_fanins;
  EXPECT_KAVU_INTERNAL_ERROR(net.decode_subnet(short_fanins, px.base_name(), nodes), "subnet_fanins.size() == num_fanins");
  KAVU_ENCNET bad(net);
  bad.set_word(2 + 3, 99);  // a code past the network
  EXPECT_KAVU_INTERNAL_ERROR(bad.decode_subnet(fanins, px.base_name(), nodes), "code < order");
  EXPECT_TRUE(nodes.empty());
  EXPECT_EQ(KAVU_ENCNET(0).decode_subnet(no_fanins, nullptr, nodes), nullptr);
}

TEST(KavuEncnet, RefusesForeignSourcesInversionsOtherGatesAndOverflows) {
  PINS px(5);
  std::vector<CDB_SGATE_NODE*> luts = {make_lut(&px.nl, {px.pins[0], px.pins[4]}, 0x8)};
  // Fan-in 4 is not listed: its code would once have been read as GND.
  std::vector<CDB_SGATE_OTERM*> fanins = px.first(1);
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(luts, fanins), "outside the fan-ins and listed LUTs");
  fanins.push_back(px.fanins[4]);
  luts[0]->get_input_term(1)->set_invert();
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(luts, fanins), "!data_iterm->is_inverted()");
  std::vector<CDB_SGATE_NODE*> not_luts = {kavu_platform::make_and(&px.nl, px.pins[0], px.pins[1])};
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(not_luts, fanins), "kavu_is_a_lut(sgate)");
  std::vector<CDB_SGATE_OTERM*> many(16, px.fanins[0]);
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET bad(luts, many), "n < max_num_fanins()");
  // Header fields stop at their limits and do not bleed into each other.
  KAVU_ENCNET net(3);
  EXPECT_TRUE(net.num_words() == 29 && net.set_num_luts(63) == 63 && net.set_num_fanins(15) == 15);
  net.set_num_hits(0x3FFFFE);
  EXPECT_TRUE(net.inc_num_hits() == 0x3FFFFFu && net.num_luts() == 63u && net.num_fanins() == 15u);
  EXPECT_KAVU_INTERNAL_ERROR(net.set_num_luts(64), "n < max_num_luts()");
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_ENCNET too_big(64), "n < max_num_luts()");
  EXPECT_KAVU_INTERNAL_ERROR(net.inc_num_hits(), "n < max_num_hits()");
  EXPECT_KAVU_INTERNAL_ERROR(net.word(29), "n < m_codes.size()");
}

// LUT cones of real circuits: the canonical encoder computes the canonical
// table, decoding rebuilds the cone (the simulator agrees) and re-encoding
// the decoded gates gives the same words.
TEST(KavuEncnetCircuits, EncodeDecodeRoundTripsOnLutCones) {
  for (const char* name : {"alu4", "alu8_lut6"}) {
    auto nl = kavu_platform::load_blif(name);
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_NODE*> roots;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it && (*it)->get_sgate_type() == CDB_SGATE_LUT_ENUM) roots.push_back(*it);
    std::vector<std::pair<CDB_SGATE_OTERM*, CDB_SGATE_OTERM*>> pairs;  // original, decoded
    for (size_t r = 0; r < roots.size() && pairs.size() < 40; r += 3) {
      LUT_CONE cone = collect_cone(roots[r], 1 + r % 4, 10);
      if (cone.luts.empty() || cone.fanins.empty()) continue;
      KAVU_ENCNET net(cone.luts, cone.fanins);
      KAVU_01TBL g = table_of_encnet(net);
      std::vector<unsigned> var_map;
      std::vector<bool> phase;
      const bool out = g.canonical(var_map, phase);
      KAVU_ENCNET cnet(cone.luts, cone.fanins, out, var_map, phase);
      EXPECT_EQ(table_of_encnet(cnet), g) << name << " root " << r;
      EXPECT_EQ(cnet.area_cost(), net.area_cost());

      std::vector<CDB_SGATE_NODE*> nodes;
      CDB_SGATE_NODE* root = net.decode_subnet(cone.fanins, cone.luts.back()->get_instance_name(), nodes);
      ASSERT_EQ(nodes.size(), cone.luts.size());
      for (CDB_SGATE_NODE* g2 : nodes) nl->add_node(g2);
      pairs.emplace_back(cone.luts.back()->get_output_term(0), root->get_output_term(0));
      KAVU_ENCNET again(nodes, cone.fanins);
      for (unsigned w = 0; w < net.num_words(); ++w) EXPECT_EQ(again.word(w), net.word(w));
    }
    EXPECT_GT(pairs.size(), 20u) << name;
    kavu_platform::NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    for (uint64_t seed = 1; seed < 4; ++seed) {
      sim.randomize_inputs(seed);
      sim.eval();
      for (const auto& [orig, decoded] : pairs) EXPECT_EQ(sim.value(orig), sim.value(decoded)) << name;
    }
  }
}
