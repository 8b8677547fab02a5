// Tests of the arc-delay model, the delay expert, loop cuts, decomposition
// for delay, slack ranking and critical paths.
#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <regex>
#include <unordered_map>

#include "cdb/cdb_lutmask.h"
#include "kavu_delay.h"
#include "kavu_depends.h"
#include "kavu_helper_predicates.h"
#include "kavu_operator_test_support.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_seq_timer.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/simulator.h"
#include "partition_test_support.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

const KAVU_DELAY_GETTER k_get_fi = kavu_get_fanin_delay;
const KAVU_DELAY_GETTER k_get_fo = kavu_get_fanout_delay;
const KAVU_DELAY_SETTER k_set_fi = kavu_set_fanin_delay;
const KAVU_DELAY_SETTER k_set_fo = kavu_set_fanout_delay;

std::unique_ptr<KAVU_DELAY_EXPERT> make_expert(CDB_SGATE_NETLIST* nl, int max_gate_size, bool zero_carry_in = false) {
  auto* model = new KAVU_DELAY_MODEL_KZR(k_get_fi, false, zero_carry_in);
  auto expert = std::make_unique<KAVU_DELAY_EXPERT>(k_set_fi, k_set_fo, k_get_fi, k_get_fo, 16u, 32u, 64u, 128u,
                                                    model, max_gate_size);
  expert->set_netlist(nl);
  return expert;
}

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* n) { return n->get_output_term(0); }
bool driven(CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source(); }

// Longest paths by a topological dynamic program over the same arc model:
// arcs of comb gates of at most k inputs cost g (0 for a single input),
// every other arc what the model says.
struct REFERENCE {
  std::unordered_map<CDB_SGATE_OTERM*, long> fi, fo;
  bool acyclic = true;
};

REFERENCE reference_delays(CDB_SGATE_NETLIST* nl, KAVU_DELAY_MODEL_FOR_EXPERT* m) {
  REFERENCE ref;
  std::vector<CDB_SGATE_OTERM*> all;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it)
      for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
        if (o) all.push_back(o);
  // Edges source -> sink terminal through looked-through gates.
  auto arcs_into = [&](CDB_SGATE_OTERM* o, auto&& fn) {
    CDB_SGATE_NODE* g = o->get_my_node();
    if (m->oterm_is_hard_boundary(o)) return;
    int connected = 0;
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) connected += driven(t);
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      if (!driven(t) || !kavu_oterm_depends_on_iterm(g, o, t, true, true, false, false)) continue;
      long arc = g->get_sgate_type() == CDB_SGATE_COMB_ENUM ? (connected == 1 ? 0 : m->get_delay(g, nullptr, nullptr))
                                                            : m->get_delay(g, t, o);
      fn(t->get_source(), arc);
    }
  };
  std::unordered_map<CDB_SGATE_OTERM*, int> indeg;
  std::unordered_map<CDB_SGATE_OTERM*, std::vector<CDB_SGATE_OTERM*>> succ;
  for (CDB_SGATE_OTERM* o : all) {
    indeg[o];
    arcs_into(o, [&](CDB_SGATE_OTERM* s, long) {
      ++indeg[o];
      succ[s].push_back(o);
    });
  }
  std::vector<CDB_SGATE_OTERM*> order;
  for (CDB_SGATE_OTERM* o : all)
    if (indeg[o] == 0) order.push_back(o);
  for (size_t i = 0; i < order.size(); ++i)
    for (CDB_SGATE_OTERM* t : succ[order[i]])
      if (--indeg[t] == 0) order.push_back(t);
  ref.acyclic = order.size() == all.size();
  for (CDB_SGATE_OTERM* o : order) {
    long best = m->oterm_is_hard_boundary(o) ? m->get_delay(o->get_my_node(), nullptr, o) : 0;
    arcs_into(o, [&](CDB_SGATE_OTERM* s, long arc) { best = std::max(best, ref.fi[s] + arc); });
    ref.fi[o] = best;
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    CDB_SGATE_OTERM* o = *it;
    long best = 0;
    for (CDB_SGATE_ITERM* t : o->fanouts()) {
      CDB_SGATE_NODE* h = t->get_my_node();
      if (m->iterm_is_hard_boundary(t)) {
        best = std::max(best, long(m->get_delay(h, t, nullptr)));
        continue;
      }
      CDB_SGATE_OTERM* p = h->get_output_term(0);
      long arc;
      if (h->get_sgate_type() == CDB_SGATE_COMB_ENUM)
        arc = h->get_number_of_input_terms() == 1 ? 0 : m->get_delay(h, nullptr, nullptr);
      else
        arc = m->get_delay(h, t, p);
      best = std::max(best, arc + ref.fo[p]);
    }
    ref.fo[o] = best;
  }
  return ref;
}

// A snapshot of everything a delay analysis may touch and must restore.
std::vector<uint64_t> snapshot(CDB_SGATE_NETLIST* nl) {
  std::vector<uint64_t> s;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    s.push_back(uint64_t(reinterpret_cast<uintptr_t>(n)));
    s.push_back(n->get_flag().value() ^ (uint64_t(n->get_dyn_flag_word()) << 32));
    for (CDB_SGATE_ITERM* t : n->get_input_terms()) {
      if (!t) continue;
      s.push_back(uint64_t(reinterpret_cast<uintptr_t>(t->get_source())) ^ t->get_term_byte());
      s.push_back(t->get_flag().value() ^ (uint64_t(t->get_dyn_flag_word()) << 32));
    }
    for (CDB_SGATE_OTERM* o : n->get_output_terms()) {
      if (!o) continue;
      s.push_back(o->get_dyn_flag_word());
      for (CDB_SGATE_ITERM* t : o->fanouts()) s.push_back(uint64_t(reinterpret_cast<uintptr_t>(t)));
    }
  }
  return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// The arc model

TEST(KavuDelayModel, DefaultsKeysAndScale) {
  {
    KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
    const bool four = CDB_LUTMASK::max_num_inputs == 4;
    EXPECT_EQ(m.get_comb_delay(), 10);
    EXPECT_EQ(m.get_lut_delay(), four ? 30 : 40);
    EXPECT_EQ(m.get_lcell_carry_in_delay(), four ? 3 : 4);
    EXPECT_EQ(m.get_lcell_data_in_delay(), m.get_lut_delay());
    // Neighbour penalties scale once, and undo.
    m.set_use_neighbors_penalty(true);
    m.set_use_neighbors_penalty(true);
    EXPECT_EQ(m.get_comb_delay(), 100);
    m.set_use_neighbors_penalty(false);
    m.set_use_neighbors_penalty(true);
    EXPECT_EQ(m.get_comb_delay(), 100);
  }
  {
    CFG_SCOPE cfg{{"kavu_delay_lut_gate", "50"}, {"kavu_delay_hard_buffers", "on"},
                  {"kavu_delay_look_through_carry_buffers", "on"}};
    KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
    EXPECT_EQ(m.get_lut_delay(), 50);
    EXPECT_EQ(m.get_lcell_data_in_delay(), CDB_LUTMASK::max_num_inputs == 4 ? 30 : 40);
    EXPECT_FALSE(m.look_through_carry_buffers());
  }
}

TEST(KavuDelayModel, LookThroughByKindAndKeys) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  auto* bound = new CDB_SGATE_BOUNDARY(nullptr, CDB_BOUNDARY_INPUT);
  nl.add_node(bound);
  auto* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(cs);
  struct CASE {
    CDB_SGATE_NODE* node;
    std::vector<std::pair<const char*, const char*>> keys;
    bool soft_on;  // set_look_through_soft_lcell_buffers
    bool expected;
  } cases[] = {
      {make_buffer(&nl, a, CDB_BUFFER_LCELL), {}, false, true},
      {make_buffer(&nl, a, CDB_BUFFER_LCELL), {{"kavu_delay_hard_buffers", "on"}}, false, false},
      {make_buffer(&nl, a, CDB_BUFFER_CUT), {}, false, false},
      {make_buffer(&nl, a, CDB_BUFFER_SINGLE_CARRY), {}, false, false},
      {make_buffer(&nl, a, CDB_BUFFER_SINGLE_CARRY), {{"kavu_delay_look_through_carry_buffers", "on"}}, false, true},
      {make_buffer(&nl, a, CDB_BUFFER_SOFT_LCELL), {{"kavu_dont_look_through_soft_lcell_buffer", "on"}}, false, false},
      {make_buffer(&nl, a, CDB_BUFFER_SOFT_LCELL), {{"kavu_dont_look_through_soft_lcell_buffer", "on"}}, true, true},
      {bound, {{"kavu_dont_look_through_soft_lcell_buffer", "on"}}, false, false},
      {bound, {}, false, true},
      {cs, {}, false, true},
      {cs, {{"kavu_delay_hard_buffers", "on"}}, false, false},
      {make_dff(&nl, a, a), {}, false, false},
      {a, {}, false, false},
      {make_lut(&nl, {a}, 0x2), {}, false, true},
  };
  for (const CASE& c : cases) {
    for (const auto& [key, value] : c.keys) cfg_set_value(key, value);
    KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
    m.set_look_through_soft_lcell_buffers(c.soft_on);
    EXPECT_EQ(m.look_through_sgate(c.node), c.expected) << c.node->get_string_type_name() << " " << c.keys.size();
    EXPECT_EQ(m.oterm_is_hard_boundary(out(c.node)), !c.expected);
    for (const auto& [key, value] : c.keys) cfg_unset_value(key);
  }
  KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
  EXPECT_KAVU_INTERNAL_ERROR(m.get_delay(CDB_SGATE_DFF_ENUM), "Delay for unsupported gate type");
  EXPECT_KAVU_INTERNAL_ERROR(m.oterm_is_hard_boundary(nullptr), "oterm != 0");
}

TEST(KavuDelayModel, StandAloneFeederModel) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* lut = make_lut(&nl, {a, b, a}, 0x96);
  CDB_SGATE_NODE* reg = make_dff(&nl, lut, b);
  auto* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(cs);
  for (unsigned i = 0; i < 2; ++i) {
    cs->set_input_term(cs->create_input_term(nullptr), i);
    out(i == 0 ? a : b)->insert_fanout(cs->get_input_term(i));
  }
  KAVU_DELAY_MODEL model;
  std::vector<CDB_SGATE_OTERM*> feeders;
  std::vector<KAVU_OTERM_DELAY_INFO> infos;
  model.get_oterm_feeders(out(lut), feeders, &infos, false);
  ASSERT_EQ(feeders, (std::vector<CDB_SGATE_OTERM*>{out(a), out(b)}));  // each source once
  EXPECT_EQ(infos[0].get_delta(), model.get_amortized_lut_delta());
  EXPECT_FALSE(infos[0].is_cut());
  model.get_oterm_feeders(out(reg), feeders, &infos, false);
  EXPECT_EQ(feeders.size(), 2u);
  EXPECT_TRUE(infos[0].is_cut());
  model.get_oterm_feeders(cs->get_output_term(CARRY_OUT), feeders, &infos, false);
  ASSERT_EQ(feeders, (std::vector<CDB_SGATE_OTERM*>{out(b)}));
  EXPECT_EQ(infos[0].get_delta(), model.get_setting(0));
  EXPECT_EQ(model.wire_delay(out(reg)), 10);
  EXPECT_EQ(model.wire_delay(out(a)), 10);
  EXPECT_EQ(model.wire_delay(out(lut)), 0);
}

TEST(KavuDelayModel, CopyKeepsLutSizeAndSmallMuxSwitch) {
  // The copy once switched to the four-input-LUT tables and dropped the
  // small-mux switch.
  CFG_SCOPE cfg{{"kavu_delay_compute_small_mux_delays_directly", "on"}};
  KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
  KAVU_DELAY_MODEL_KZR copy(m);
  EXPECT_EQ(copy.is_four_input_lut_device(), m.is_four_input_lut_device());
  EXPECT_TRUE(copy.compute_small_mux_delays_directly());
  EXPECT_EQ(copy.get_lut_delay(), m.get_lut_delay());
}

TEST(KavuDelayModel, OperatorLevelsAndWidths) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  auto make_op = [&](CDB_OPER_TYPE type, unsigned wa, unsigned wb) {
    return kavu_operator_test::make_two_operand_op(&nl, type, a, wa, wb, 1);
  };
  KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
  const int L = m.get_lut_delay();
  struct CASE {
    CDB_OPER_TYPE type;
    unsigned wa, wb;
    int levels_times_2;  // delay = levels_times_2 * L / 2
  } cases[] = {
      {CDB_OPER_MULTIPLY, 0, 8, 0},  // a zero-width port: no level, not log(0)
      {CDB_OPER_MULTIPLY, 1, 8, 0},  {CDB_OPER_MULTIPLY, 5, 8, 6},  {CDB_OPER_DECODE, 0, 0, 0},
      {CDB_OPER_DECODE, 5, 0, 4},    {CDB_OPER_SELECT, 2, 0, 0},    {CDB_OPER_SELECT, 2, 9, 8},
      {CDB_OPER_EQUAL, 9, 9, -1},    {CDB_OPER_ADDITION, 4, 4, 2},
  };
  for (const CASE& c : cases) {
    CDB_SGATE_OPERATOR* op = make_op(c.type, c.wa, c.wb);
    const int d = m.get_oper_delay(op, nullptr, nullptr);
    if (c.levels_times_2 >= 0) {
      EXPECT_EQ(d, c.levels_times_2 * L / 2) << int(c.type) << " " << c.wa << " " << c.wb;
    }
  }
  if (CDB_LUTMASK::max_num_inputs == 6) {
    // Odd select widths round once: (L w) / 2.
    CDB_SGATE_OPERATOR* mux = make_op(CDB_OPER_NTO1_MUX, 3, 8);
    EXPECT_EQ(m.get_oper_delay(mux, nullptr, nullptr), (L * 3) / 2);
    CDB_SGATE_OPERATOR* eq9 = make_op(CDB_OPER_EQUAL, 9, 9);
    CDB_SGATE_OPERATOR* eq10 = make_op(CDB_OPER_EQUAL, 10, 10);
    EXPECT_EQ(m.get_oper_delay(eq9, nullptr, nullptr), 2 * L);   // w/3 = 3, not above 6
    EXPECT_EQ(m.get_oper_delay(eq10, nullptr, nullptr), 2 * L);
  }
}

TEST(KavuDelayModel, UnitAndDetailedValuesOfBothLutSizes) {
  struct ROW {
    unsigned lut_size;
    bool detailed;
    int lut, mux, buf, comb, data_in, control_in, carry_in;
  };
  const ROW rows[] = {
      {4, false, 30, 20, 0, 10, 30, 30, 3},       {6, false, 40, 20, 0, 10, 40, 40, 4},
      {4, true, 340, 340, 0, 200, 450, 340, 168}, {6, true, 330, 250, 0, 150, 300, 330, 70},
  };
  const unsigned saved = CDB_LUTMASK::max_num_inputs;
  for (const ROW& r : rows) {
    CDB_LUTMASK::max_num_inputs = r.lut_size;
    CFG_SCOPE cfg{{"kavu_tarrow_delay", r.detailed ? "on" : nullptr}};
    const KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
    const int got[7] = {m.get_lut_delay(),          m.get_mux_delay(),           m.get_buf_delay(),
                        m.get_comb_delay(),         m.get_lcell_data_in_delay(), m.get_lcell_control_in_delay(),
                        m.get_lcell_carry_in_delay()};
    const int expected[7] = {r.lut, r.mux, r.buf, r.comb, r.data_in, r.control_in, r.carry_in};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(got[i], expected[i]) << r.lut_size << " " << r.detailed << " value " << i;
  }
  CDB_LUTMASK::max_num_inputs = saved;
}

TEST(KavuDelayModel, EqualityLevelsAtEachWidthStep) {
  // (LUT size, width, levels): the width on both sides of each step.
  const int rows[][3] = {{6, 3, 1},  {6, 4, 2},  {6, 20, 2},  {6, 21, 3}, {6, 125, 3}, {6, 126, 4},
                         {4, 2, 1},  {4, 3, 2},  {4, 9, 2},   {4, 10, 3}, {4, 39, 3},  {4, 40, 4}};
  const unsigned saved = CDB_LUTMASK::max_num_inputs;
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  for (const auto& r : rows) {
    CDB_LUTMASK::max_num_inputs = unsigned(r[0]);
    KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
    CDB_SGATE_OPERATOR* eq = kavu_operator_test::make_two_operand_op(&nl, CDB_OPER_EQUAL, a, r[1], r[1], 1);
    EXPECT_EQ(m.get_oper_delay(eq, nullptr, nullptr), r[2] * m.get_lut_delay()) << r[0] << " " << r[1];
  }
  CDB_LUTMASK::max_num_inputs = saved;
}

TEST(KavuDelayModel, FourToOneMuxCriticalPair) {
  CFG_SCOPE cfg{{"kavu_delay_compute_small_mux_delays_directly", "on"}};
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> d;
  const int arrival[4] = {5, 9, 9, 1};
  for (int i = 0; i < 4; ++i) {
    d.push_back(make_input_pin(&nl, ("d" + std::to_string(i)).c_str()));
    out(d[i])->set_fanin_delay(arrival[i]);
  }
  auto* op = new CDB_SGATE_OPERATOR("mux", CDB_OPER_NTO1_MUX);
  nl.add_node(op);
  auto* ps = op->add_port("S", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  auto* pd = op->add_port("D", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
  op->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT)->set_oterm(0, op->create_output_term(nullptr));
  for (unsigned i = 0; i < 2; ++i) ps->set_iterm(i, op->insert_unordered_fanin(out(d[0])));
  for (unsigned i = 0; i < 4; ++i) pd->set_iterm(i, op->insert_unordered_fanin(out(d[i])));
  KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
  const int L = m.get_lut_delay();
  const int expected[4] = {L, L, 2 * L, 2 * L};  // pair (0, 1) wins on the sum
  for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(m.get_special_mux_op_delay(op, pd->get_iterm(i), nullptr), expected[i]);
  EXPECT_EQ(m.get_special_mux_op_delay(op, ps->get_iterm(0), nullptr), 2 * L);
}

TEST(KavuDelayModel, NeighbourCountsAndLoopArcs) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* lut = make_lut(&nl, {a}, 0x2);
  KAVU_DELAY_MODEL_KZR m(k_get_fi, false, false);
  m.set_use_neighbors_penalty(true);
  const int L = m.get_lut_delay();
  // (fan-out nodes, neighbour count) at both sides of every step.
  for (auto [n, k] : {std::pair{1, 0}, {2, 2}, {7, 7}, {8, 8}, {10, 8}, {11, 9}, {15, 9}, {16, 10}}) {
    while (int(out(lut)->get_number_of_fanout()) < n) make_output_pin(&nl, "o", lut);
    EXPECT_EQ(m.compute_fanout_penalty(lut, out(lut)), (L * k + 4) / 10) << n;
  }
  // A LUT's fan-in count is its used inputs: (used, neighbour count).
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 6; ++i) pins.push_back(make_input_pin(&nl, ("p" + std::to_string(i)).c_str()));
  for (auto [u, k] : {std::pair{1, 0}, {2, 2}, {5, 5}, {6, 6}}) {
    const uint64_t parity = 0x6996966996696996ull;  // depends on every input
    CDB_SGATE_NODE* g = make_lut(&nl, std::vector<CDB_SGATE_NODE*>(pins.begin(), pins.begin() + u),
                                 u == 6 ? parity : parity & ((1ull << (1u << u)) - 1));
    EXPECT_EQ(m.compute_fanin_penalty(g, g->get_input_term(0)), (L * k + 4) / 10) << u;
  }
  // Loop-critical arcs are kept per netlist: rebuilding another netlist's
  // sets leaves this one's in place.
  CFG_SCOPE cfg{{"kavu_make_loops_critical", "on"}};
  CDB_SGATE_NETLIST ring, other;
  CDB_SGATE_NODE* x = make_input_pin(&ring, "x");
  CDB_SGATE_NODE* g1 = make_and(&ring, x, x);
  CDB_SGATE_NODE* g2 = make_and(&ring, g1, x);
  g1->get_input_term(1)->set_source(out(g2));
  make_and(&other, make_input_pin(&other, "y"), nullptr);
  kavu_rebuild_loop_sets(&ring);
  kavu_rebuild_loop_sets(&other);
  EXPECT_EQ(kavu_loop_arc_delay(g1, g1->get_input_term(1), nullptr, 77), 77);
  EXPECT_EQ(kavu_loop_arc_delay(x, nullptr, out(x), 77), 0);
  kavu_forget_loop_sets(&ring);
  kavu_forget_loop_sets(&other);
}

TEST(KavuDelayMux, TableAndNames) {
  KAVU_MUX_DELAY_INFO info;
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g = make_and(&nl, a, a);
  info.insert_iterm_oterm_delay(g, g->get_input_term(0), 3);
  info.insert_iterm_oterm_delay(g, g->get_input_term(0), 5);
  EXPECT_EQ(info.get_iterm_oterm_delay(g, g->get_input_term(0)), 5);
  EXPECT_KAVU_INTERNAL_ERROR(info.get_iterm_oterm_delay(g, g->get_input_term(1)), "Iterm of mux not found");
  info.clear();  // the cache must not outlive its map
  EXPECT_KAVU_INTERNAL_ERROR(info.get_iterm_oterm_delay(g, g->get_input_term(0)), "Mux is not found");

  struct CASE {
    const char* name;
    bool ok;
    int id;
  } cases[] = {{"KZR_MUX_3_width_4_slack_0_fi_del_12_fo_del_8_", true, 3},
               {"KZR_MUX_sel", false, -1},  // a user's name: not a record, not an error
               {"KZR_MUX_99999999999_width_4_slack_0_fi_del_1_fo_del_1_", false, -1},
               {"KZR_MUX_0_width_4_slack_0_fi_del_1_fo_del_1_", false, -1},
               {"KZR_MUX_2147483647_width_1_slack_6_fi_del_0_fo_del_0_", true, 2147483647},
               {"mux_3", false, -1}};
  for (const CASE& c : cases) {
    int id, w, s, fi, fo;
    EXPECT_EQ(kavu_parse_kzr_mux_name(c.name, &id, &w, &s, &fi, &fo), c.ok) << c.name;
    EXPECT_EQ(id, c.id) << c.name;
    if (!c.ok) {
      EXPECT_EQ(w, -1);
    }
  }
}

// ---------------------------------------------------------------------------
// The expert on real circuits

TEST(KavuDelayExpert, MatchesLongestPathsOnRealCircuits) {
  for (const char* name : {"mcnc/alu4", "mcnc/diffeq", "mcnc/s298", "mcnc/tseng", "seq/stereovision3",
                           "seq/diffeq1"}) {
    auto nl = load_blif(name);
    auto expert = make_expert(nl.get(), 16);
    expert->prepare_netlist_for_delay_analysis();
    const int worst = expert->compute_all_delays(true);
    REFERENCE ref = reference_delays(nl.get(), expert->get_delay_model());
    ASSERT_TRUE(ref.acyclic) << name;
    long ref_worst = 0;
    int mismatches = 0;
    for (auto& [o, fi] : ref.fi) {
      const long fo = ref.fo[o];
      ref_worst = std::max(ref_worst, fi + fo);
      if (expert->compute_fanin_delay(o, 300) != fi || expert->compute_fanout_delay(o, 300) != fo) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0) << name;
    EXPECT_EQ(worst, ref_worst) << name;
    expert->clean_up_after_delay_analysis();
  }
}

// The delays handed across a partition cut: each boundary's fan-in (input
// boundary) or fan-out (output boundary) delay over the whole design, as the
// longest-path reference gives it, in the map and on the partitions' own
// boundary terminals after the split.
TEST(KavuDelayExpert, BoundaryDelaysAreTheWholeDesignsLongestPaths) {
  for (const std::string& name : bundled_circuits({"seq"})) {
    SCOPED_TRACE(name);
    PARTITION_TEST_SCOPE scope;
    LOADED_NETLIST nl = load_blif(name);
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
    KAVU_DELAY_MODEL_KZR model(kavu_get_fanin_delay, false, false);  // the default expert's model
    REFERENCE ref = reference_delays(nl.get(), &model);
    ASSERT_TRUE(ref.acyclic);
    std::map<CDB_SGATE_OTERM*, long> expected;
    for (CDB_SGATE_NODE* n : nl->get_node_list())
      if (kavu_is_a_boundary(n))
        expected[n->get_single_oterm()] = kavu_is_a_boundary_input(n) ? ref.fi[n->get_single_oterm()]
                                                                       : ref.fo[n->get_single_oterm()];
    KAVU_BOUNDARY_DELAY_MAP got;
    kavu_annotate_boundary_delays(nl.get(), got);
    ASSERT_EQ(got.size(), expected.size());
    int mismatches = 0, nonzero = 0;
    for (const auto& [o, d] : got) {
      mismatches += expected.count(o) == 0 || d != expected[o];
      nonzero += d != 0;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(nonzero, 0);
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), nullptr, nullptr, b, false);
    int seen = 0;
    for (CDB_SGATE_NETLIST* p : parts)
      for (CDB_SGATE_NODE* n : p->get_node_list()) {
        if (!kavu_is_a_boundary(n)) continue;
        CDB_SGATE_OTERM* o = n->get_single_oterm();
        ++seen;
        EXPECT_EQ(kavu_is_a_boundary_input(n) ? kavu_get_fanin_delay(o) : kavu_get_fanout_delay(o), expected[o]);
      }
    EXPECT_EQ(seen, int(expected.size()));
    kavu_merge_netlists(parts, nl.get(), nullptr, b);
  }
}

TEST(KavuDelayExpert, UnitLutDepthEqualsAbcLevels) {
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc is not installed";
  CFG_SCOPE cfg{{"kavu_delay_lut_gate", "1"}, {"kavu_delay_buffer_gate", "0"}};
  for (const char* name : {"mcnc/alu4", "mcnc/bigkey", "mcnc/diffeq", "mcnc/dsip", "mcnc/s298", "mcnc/tseng"}) {
    std::string log;
    ASSERT_EQ(abc_run("read " + blif_data_path(name) + "; print_level", &log), 0) << name;
    int abc_level = -1;
    const std::regex level_line("Level =\\s*(\\d+)\\.");
    for (std::sregex_iterator it(log.begin(), log.end(), level_line), end; it != end; ++it)
      abc_level = std::stoi((*it)[1]);
    ASSERT_GE(abc_level, 0) << log;
    auto nl = load_blif(name);
    std::unique_ptr<KAVU_DELAY_EXPERT> expert(kavu_get_default_delay_expert(nl.get()));
    expert->prepare_netlist_for_delay_analysis();
    EXPECT_EQ(expert->compute_all_delays(true), abc_level) << name;
    expert->clean_up_after_delay_analysis();
  }
}

TEST(KavuDelayExpert, SmallCasesAndRefusals) {
  CDB_SGATE_NETLIST nl;
  auto expert = make_expert(&nl, 2);
  EXPECT_EQ(expert->compute_all_delays(true), KAVU_DELAY_MIN);  // no gates
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* l1 = make_lut(&nl, {a}, 0x2);
  CDB_SGATE_NODE* l2 = make_lut(&nl, {l1}, 0x2);
  make_output_pin(&nl, "o", l2);
  const int L = static_cast<KAVU_DELAY_MODEL_KZR*>(expert->get_delay_model())->get_lut_delay();
  expert->compute_all_delays(true);
  EXPECT_EQ(expert->compute_fanin_delay(out(l2), 300), 2 * L);
  EXPECT_EQ(expert->compute_fanout_delay(out(l1), 300), L);
  // Decomposed-gate delays, hand-computed.
  std::vector<int> five(5, 0);
  EXPECT_EQ(expert->compute_fanin_delay_for_vector(five, 10), 30);
  expert->change_max_gate_size(4);
  EXPECT_EQ(expert->compute_fanin_delay_for_vector(five, 10), 20);
  EXPECT_EQ(expert->get_iterm_oterm_delay_for_vector(five, 0, 10), 20);
  // Sizes below 2 would divide by ln 1.
  EXPECT_KAVU_INTERNAL_ERROR(expert->change_max_gate_size(1), "size > 1");
  auto model = std::make_unique<KAVU_DELAY_MODEL_KZR>(k_get_fi, false, false);  // still ours when refused
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_DELAY_EXPERT(k_set_fi, k_set_fo, k_get_fi, k_get_fo, 16u, 32u, 64u, 128u,
                                               model.get(), 1),
                             "max_gate_size > 1");
  EXPECT_KAVU_INTERNAL_ERROR(expert->clean_up_after_delay_analysis(), "m_ref_count > 0");
  // A don't-care terminal costs nothing; replacing the set frees the old one.
  expert->set_oterm_dont_care_set(new std::set<CDB_SGATE_OTERM*>{out(l1)});
  expert->set_oterm_dont_care_set(new std::set<CDB_SGATE_OTERM*>{out(l1)});
  expert->compute_all_delays(true);
  EXPECT_EQ(expert->compute_fanin_delay(out(l1), 300), 0);
  EXPECT_EQ(expert->compute_fanin_delay(out(l2), 300), L);
}

TEST(KavuDelayExpert, BudgetNeverMemoisesZeros) {
  // A chain deeper than the budget keeps exact delays; a spent budget stores
  // nothing.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* prev = make_input_pin(&nl, "a");
  for (int i = 0; i < 400; ++i) prev = make_lut(&nl, {prev}, 0x2);
  auto expert = make_expert(&nl, 2);
  EXPECT_EQ(expert->compute_fanin_delay(out(prev), 0), 0);
  EXPECT_FALSE(out(prev)->get_flag().test(16));
  const int L = static_cast<KAVU_DELAY_MODEL_KZR*>(expert->get_delay_model())->get_lut_delay();
  EXPECT_EQ(expert->compute_fanin_delay(out(prev), 300), 400 * L);
}

TEST(KavuDelayExpert, MillionGateChainDoesNotOverflow) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* first = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* prev = first;
  const int n = 1000000;
  for (int i = 0; i < n; ++i) prev = make_buffer(&nl, prev, CDB_BUFFER_LCELL);
  CDB_SGATE_NODE* last = make_lut(&nl, {prev}, 0x2);
  make_output_pin(&nl, "o", last);
  auto expert = make_expert(&nl, 2);
  std::vector<CDB_SGATE_OTERM*> order;
  EXPECT_EQ(expert->insert_and_flag_cut_buffers(&order), 0);
  EXPECT_EQ(order.front(), out(first));
  const int L = static_cast<KAVU_DELAY_MODEL_KZR*>(expert->get_delay_model())->get_lut_delay();
  EXPECT_EQ(expert->compute_fanout_delay(out(first), 300), L);
  EXPECT_EQ(expert->compute_fanin_delay(out(last), 300), L);
  // The whole chain is one critical graph, walked to its end.
  DEBUG_CAPTURE cap("KAVU");
  expert->analyze_critical_paths(&nl, 0, "C:");
  EXPECT_TRUE(cap.contains("C: GRAPH 1 : --- Input boundaries (1)"));
  EXPECT_TRUE(cap.contains("C: GRAPH 1 : --- Output boundaries (1)"));
  EXPECT_FALSE(cap.contains("C:Critical graph 2"));
}

TEST(KavuDelayExpert, AnnotatedPinDelaysCountOnce) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* l = make_lut(&nl, {a}, 0x2);
  make_output_pin(&nl, "o", l);
  auto expert = make_expert(&nl, 2);
  std::map<CDB_SGATE_OTERM*, int> inputs{{out(a), 7}};
  expert->set_use_annotated_pin_delays(&inputs, nullptr);
  const int L = static_cast<KAVU_DELAY_MODEL_KZR*>(expert->get_delay_model())->get_lut_delay();
  for (int round = 0; round < 3; ++round) {
    expert->clear_internal_flags();  // a flag clear used to add the annotation again
    expert->compute_all_delays(true);
    EXPECT_EQ(expert->compute_fanin_delay(out(l), 300), 7 + L) << round;
  }
}

TEST(KavuDelayExpert, CarryChainAddsTheCarryInDelayPerStage) {
  // a0..a3 -> DATAA of four logic cells chained COUT -> CIN; the last COUT
  // drives a pin. The longest path enters at a0 and crosses three carries.
  struct ROW {
    unsigned lut_size;
    bool zero_carry_in;
    int expected;
  };
  const ROW rows[] = {{6, false, 40 + 3 * 4}, {6, true, 40}, {4, false, 30 + 3 * 3}, {4, true, 30}};
  const unsigned saved = CDB_LUTMASK::max_num_inputs;
  for (const ROW& r : rows) {
    CDB_LUTMASK::max_num_inputs = r.lut_size;
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_OTERM* carry = nullptr;
    CDB_SGATE_NODE* a0 = nullptr;
    CDB_SGATE_NODE* cell = nullptr;
    for (int k = 0; k < 4; ++k) {
      CDB_SGATE_NODE* a = make_input_pin(&nl, ("a" + std::to_string(k)).c_str());
      if (!a0) a0 = a;
      auto* c = new CDB_SGATE_WYSIWYG(nullptr, 61);
      nl.add_node(c);
      for (auto [port, src] : {std::pair{DB_INPUT_PORT_TYPE(12), out(a)}, std::pair{DB_INPUT_PORT_TYPE(2), carry}}) {
        if (!src) continue;
        CDB_SGATE_ITERM* t = c->create_input_term(nullptr, port);
        c->set_input_term(t, c->get_input_port_number(port));
        t->set_source(src);
      }
      carry = c->create_output_term(nullptr, 0);
      c->set_output_term(carry, c->get_output_port_number(0));
      cell = c;
    }
    make_output_pin(&nl, "o", cell);
    auto expert = make_expert(&nl, 2, r.zero_carry_in);
    EXPECT_EQ(expert->compute_all_delays(true), r.expected) << r.lut_size << " " << r.zero_carry_in;
    EXPECT_EQ(expert->compute_fanin_delay(carry, 300), r.expected) << r.lut_size << " " << r.zero_carry_in;
    EXPECT_EQ(expert->compute_fanout_delay(out(a0), 300), r.expected) << r.lut_size << " " << r.zero_carry_in;
  }
  CDB_LUTMASK::max_num_inputs = saved;
}

TEST(KavuDelayExpert, GatesOfTheHugeSizeTakeTheClosedForm) {
  // p -> three LUTs -> input 0 of an n-input AND whose other inputs read q.
  // Below the huge size the late input joins at the root (3 L + g); from
  // that size on every input pays ceil(log4 n) levels (3 L + 4 g).
  struct ROW {
    int inputs;
    const char* huge_size;
    bool closed_form;
  };
  const ROW rows[] = {{199, nullptr, false}, {200, nullptr, true}, {200, "-1", false}, {201, "202", false}};
  for (const ROW& r : rows) {
    CFG_SCOPE cfg{{"kavu_delay_huge_gate_size", r.huge_size}};
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* p = make_input_pin(&nl, "p");
    CDB_SGATE_NODE* q = make_input_pin(&nl, "q");
    CDB_SGATE_NODE* late = make_lut(&nl, {make_lut(&nl, {make_lut(&nl, {p}, 0x2)}, 0x2)}, 0x2);
    auto* wide = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
    nl.add_node(wide);
    for (int i = 0; i < r.inputs; ++i) wide->add_unordered_fanin_from_oterm(nullptr, false, out(i == 0 ? late : q));
    make_output_pin(&nl, "o", wide);
    auto expert = make_expert(&nl, 4);
    auto* model = static_cast<KAVU_DELAY_MODEL_KZR*>(expert->get_delay_model());
    const int expected = 3 * model->get_lut_delay() + (r.closed_form ? 4 : 1) * model->get_comb_delay();
    EXPECT_EQ(expert->compute_all_delays(true), expected) << r.inputs;
    EXPECT_EQ(expert->compute_fanin_delay(out(wide), 300), expected) << r.inputs;
    EXPECT_EQ(expert->compute_fanout_delay(out(p), 300), expected) << r.inputs;
  }
}

TEST(KavuDelayExpert, MappedModeAndChoiceOperators) {
  CFG_SCOPE cfg{{"kavu_tarrow_delay", "on"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g = make_and(&nl, a, b);
  make_output_pin(&nl, "o", g);
  auto expert = make_expert(&nl, 2);
  GEN_DYN_FLAG mapped = nl.get_flag_manager().create_flag("mapped");
  out(g)->set_dyn_flag(mapped);
  KAVU_DELAY_EXPERT::OTERM_VECTOR_MAP fanin{{out(g), {out(a), out(b)}}}, fanout;
  expert->set_use_mapped_delays(mapped, &fanin, &fanout);
  // The LUT delay by kind: asked through a gate without terminals it was 0.
  const int L = expert->get_delay_model()->get_delay(CDB_SGATE_LUT_ENUM);
  EXPECT_GT(L, 0);
  EXPECT_EQ(expert->compute_fanin_delay(out(g), 300), L);
  expert->reset_use_mapped_delays();
  nl.get_flag_manager().destroy_flag(mapped);

  // A choice operator takes the earlier of its two bit sources.
  CDB_SGATE_NETLIST cn;
  CDB_SGATE_NODE* x = make_input_pin(&cn, "x");
  CDB_SGATE_NODE* slow = make_lut(&cn, {make_lut(&cn, {x}, 0x2)}, 0x2);
  CDB_SGATE_NODE* fast = make_lut(&cn, {x}, 0x2);
  auto* op = new CDB_SGATE_OPERATOR("choice", CDB_OPER_CHOICE);
  cn.add_node(op);
  op->add_port("A", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN)->set_iterm(0, op->insert_unordered_fanin(out(slow)));
  op->add_port("B", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN)->set_iterm(0, op->insert_unordered_fanin(out(fast)));
  op->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT)->set_oterm(0, op->create_output_term(nullptr));
  make_output_pin(&cn, "o", op);
  CFG_SCOPE plain{{"kavu_tarrow_delay", nullptr}};
  auto choice_expert = make_expert(&cn, 2);
  const int L2 = choice_expert->get_delay_model()->get_delay(CDB_SGATE_LUT_ENUM);
  choice_expert->compute_all_delays(true);
  EXPECT_EQ(choice_expert->compute_fanin_delay(op->get_oterm(CDB_OPER_PORT_O, 0), 300), L2);
  EXPECT_EQ(choice_expert->compute_fanout_delay(out(x), 300), 2 * L2);
}

// ---------------------------------------------------------------------------
// Loop cuts

TEST(KavuDelayLoop, CutsBackEdgesAndRestoresTheNetlist) {
  struct CASE {
    std::string name;
    int rings;  // generated netlists: rings of comb gates, one back edge each
  } cases[] = {{"mcnc/s298", 0}, {"mcnc/tseng", 0}, {"generated", 25}};
  for (const CASE& c : cases) {
    LOADED_NETLIST loaded;
    CDB_SGATE_NETLIST generated;
    CDB_SGATE_NETLIST* nl = &generated;
    if (c.rings == 0) {
      loaded = load_blif(c.name);
      nl = loaded.get();
    } else {
      CDB_SGATE_NODE* x = make_input_pin(nl, "x");
      for (int r = 0; r < c.rings; ++r) {
        CDB_SGATE_NODE* head = make_and(nl, x, x);
        CDB_SGATE_NODE* prev = head;
        for (int i = 0; i < 2 + r % 5; ++i) prev = make_xor(nl, prev, x);
        head->get_input_term(1)->set_source(out(prev));  // the back edge
        make_output_pin(nl, ("o" + std::to_string(r)).c_str(), prev);
      }
    }
    KAVU_TRACK(nl);
    const std::vector<uint64_t> before = snapshot(nl);
    auto expert = make_expert(nl, 2);
    expert->prepare_netlist_for_delay_analysis();
    expert->prepare_netlist_for_delay_analysis();
    int cuts = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it && kavu_is_a_buffer(*it) && (*it)->cast_to_buffer()->get_buffer_type() == CDB_BUFFER_CUT) ++cuts;
    EXPECT_EQ(cuts, c.rings) << c.name;
    EXPECT_TRUE(reference_delays(nl, expert->get_delay_model()).acyclic) << c.name;
    EXPECT_GE(expert->compute_all_delays(true), 0) << c.name;
    expert->clean_up_after_delay_analysis();
    EXPECT_EQ(expert->get_ref_count(), 1);
    expert->clean_up_after_delay_analysis();
    EXPECT_EQ(snapshot(nl), before) << c.name;
  }
}

TEST(KavuDelayLoop, RingWithoutCutsGivesZeroAtTheLoop) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* g1 = make_and(&nl, x, x);
  CDB_SGATE_NODE* g2 = make_and(&nl, g1, x);
  g1->get_input_term(1)->set_source(out(g2));
  auto expert = make_expert(&nl, 2);
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_GE(expert->compute_all_delays(true), 0);
  EXPECT_TRUE(cap.contains("detected in fanin delay computation"));
}

// ---------------------------------------------------------------------------
// Decomposition for delay

namespace {
int comb_depth(CDB_SGATE_OTERM* o) {
  CDB_SGATE_NODE* g = o->get_my_node();
  if (g->get_sgate_type() != CDB_SGATE_COMB_ENUM) return 0;
  int d = 0;
  for (CDB_SGATE_ITERM* t : g->get_input_terms())
    if (t && t->get_source()) d = std::max(d, comb_depth(t->get_source()));
  return d + 1;
}
}  // namespace

TEST(KavuDelayDecompose, WideGatesKeepFunctionAndReachLogDepth) {
  // Large-gate tracking is read once per process: both decomposition tests
  // set it, whichever runs first (no big-gate set here, so it records nothing).
  CFG_SCOPE cfg{{"kavu_track_large_gates", "on"}};
  for (CDB_COMB_TYPE type : {CDB_COMB_AND, CDB_COMB_OR, CDB_COMB_XOR}) {
    for (int n : {5, 9, 17, 64, 200}) {
      for (int k : {2, 4}) {
        CDB_SGATE_NETLIST nl;
        auto* comb = new CDB_SGATE_COMB(nullptr, type);
        nl.add_node(comb);
        int leaves = 0;
        for (int i = 0; i < n; ++i) {
          CDB_SGATE_NODE* pin = make_input_pin(&nl, ("i" + std::to_string(i)).c_str());
          // Every seventh input tied (VCC or GND), every third inverted.
          CDB_SGATE_OTERM* src = i % 7 == 6 ? nullptr : out(pin);
          comb->add_unordered_fanin_from_oterm(nullptr, i % 3 == 0 || (src == nullptr && i % 2), src);
          ++leaves;
        }
        if (type == CDB_COMB_XOR && n % 2) out(comb)->set_invert();  // an XNOR stays one
        make_output_pin(&nl, "o", comb);
        std::unique_ptr<CDB_SGATE_NETLIST> golden(nl.clone(nullptr, true, true));
        nl.clear_temp_pointers();
        KAVU_TRACK(&nl);
        auto expert = make_expert(&nl, k);
        CDB_SGATE_NODE* head = expert->decompose_comb(&nl, comb, nullptr);
        nl.garbage_collect(true, false);
        std::string why;
        EXPECT_TRUE(sim_equivalent(golden.get(), &nl, {}, &why)) << type << " " << n << " " << k << " " << why;
        const int expected = int(std::ceil(std::log(double(leaves)) / std::log(double(k)) - 1e-9));
        EXPECT_EQ(comb_depth(out(head)), expected) << type << " " << n << " " << k;
      }
    }
  }
}

TEST(KavuDelayDecompose, AllCombsOfANetlistAndSumOfProducts) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 12; ++i) pins.push_back(make_input_pin(&nl, ("i" + std::to_string(i)).c_str()));
  for (int g = 0; g < 6; ++g) {
    auto* comb = new CDB_SGATE_COMB(nullptr, CDB_COMB_TYPE(g % 3));
    nl.add_node(comb);
    for (int i = 0; i < 5 + g; ++i) comb->add_unordered_fanin_from_oterm(nullptr, i % 2, out(pins[(i + g) % 12]));
    make_output_pin(&nl, ("o" + std::to_string(g)).c_str(), comb);
  }
  std::unique_ptr<CDB_SGATE_NETLIST> golden(nl.clone(nullptr, true, true));
  nl.clear_temp_pointers();
  KAVU_TRACK(&nl);
  CFG_SCOPE cfg{{"kavu_track_large_gates", "on"}};
  auto expert = make_expert(&nl, 2);
  KAVU_BIG_GATE_SET_INFO big;
  expert->decompose_all_combs(&nl, &big);
  EXPECT_TRUE(sim_equivalent(golden.get(), &nl));
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it && kavu_is_a_comb(*it)) {
      EXPECT_LE((*it)->get_number_of_input_terms(), 2u);
    }

  // Each rebuilt gate is recorded with its supports and their arrivals.
  int huge = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it && kavu_is_a_comb(*it) && big.is_huge_gate(out(*it))) {
      ++huge;
      KAVU_BIG_GATE_INFO* info = big.get_huge_gate_info(out(*it));
      EXPECT_GT(info->get_sup_size(), 0);
      EXPECT_EQ(info->get_sup_depth(info->get_supports()[0]), 0);  // supports are input pins
    }
  EXPECT_EQ(huge, 6);

  std::vector<std::vector<SGATE_OTERM_INV_PAIR>> sop = {{{out(pins[0]), false}, {out(pins[1]), true}},
                                                        {{out(pins[2]), false}}, {{nullptr, false}}};
  EXPECT_EQ(expert->compute_fanin_delay(&sop, 300), 2);
}

// ---------------------------------------------------------------------------
// Slack ranking and critical paths

TEST(KavuDelayCritical, RankingAndFirstGraphOnRealCircuits) {
  for (const char* name : {"mcnc/diffeq", "epfl/sin"}) {
    auto nl = load_blif(name);
    KAVU_TRACK(nl.get());
    std::vector<CDB_SGATE_OTERM*> ranked;
    kavu_slack_ranked_luts(nl.get(), &ranked);
    ASSERT_FALSE(ranked.empty()) << name;
    EXPECT_TRUE(std::is_sorted(ranked.begin(), ranked.end(),
                               [](CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b) { return a->get_aux() > b->get_aux(); }));
    EXPECT_EQ(ranked.back()->get_aux(), 0) << name;  // a LUT on a longest path
    EXPECT_KAVU_INTERNAL_ERROR(kavu_slack_ranked_luts(nl.get(), &ranked), "size() == 0");

    std::unique_ptr<KAVU_DELAY_EXPERT> expert(kavu_get_default_delay_expert(nl.get()));
    expert->prepare_netlist_for_delay_analysis();
    const int worst = expert->compute_all_delays(true);
    DEBUG_CAPTURE cap("KAVU");
    expert->analyze_critical_paths(nl.get(), 0, "T:");
    EXPECT_TRUE(cap.contains("T:Critical graph 1")) << name;
    // The first terminal in netlist order on a longest path starts graph 1.
    CDB_SGATE_OTERM* first = nullptr;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list() && !first; ++it)
      if (*it)
        for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
          if (!first && o && expert->compute_fanin_delay(o, 300) + expert->compute_fanout_delay(o, 300) == worst)
            first = o;
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(cap.contains("T: GRAPH 1 : --- Input boundaries")) << name;
    // The first graph's paths run from boundaries whose path delay is the
    // worst arrival, to boundaries that end such a path.
    const GEN_DYN_FLAG visited = nl->get_flag_manager().create_flag("test_visited");
    std::vector<CDB_SGATE_OTERM*> ins;
    std::vector<CDB_SGATE_ITERM*> outs;
    expert->analyze_critical_graph_from_here(nl.get(), first, visited, worst, ins, outs);
    nl->get_flag_manager().destroy_flag(visited);
    ASSERT_FALSE(ins.empty()) << name;
    ASSERT_FALSE(outs.empty()) << name;
    for (CDB_SGATE_OTERM* o : ins)
      EXPECT_EQ(expert->compute_fanin_delay(o, 300) + expert->compute_fanout_delay(o, 300), worst) << name;
    for (CDB_SGATE_ITERM* t : outs)
      EXPECT_EQ(expert->compute_fanin_delay(t->get_source(), 300) + expert->compute_fanout_delay(t, 300), worst);
    expert->clean_up_after_delay_analysis();
  }
}

TEST(KavuDelayCritical, ZeroLongestPathAndUnconnectedClock) {
  // No guard against M = 0 once divided by it.
  CFG_SCOPE cfg{{"kavu_delay_lut_gate", "0"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* l = make_lut(&nl, {a}, 0x2);
  CDB_SGATE_NODE* reg = make_dff(&nl, l, nullptr);  // clock left unconnected
  make_output_pin(&nl, "o", reg);
  std::vector<CDB_SGATE_OTERM*> ranked;
  kavu_slack_ranked_luts(&nl, &ranked);
  ASSERT_EQ(ranked.size(), 1u);
  EXPECT_EQ(ranked[0]->get_aux(), 0);
  DEBUG_CAPTURE cap("KAVU");
  // Regression: a gate of tied inputs was described by its type name.
  CDB_SGATE_NODE* tied = make_and(&nl, nullptr, nullptr);
  kavu_dump_critical_graph_boundaries("B:", {out(reg), out(tied), out(a)}, {reg->get_input_term(0)});
  EXPECT_TRUE(cap.contains("B:------ DFF: CLOCK = UNCONNECTED : 1"));
  EXPECT_TRUE(cap.contains("B:------ CONST : 1"));
  EXPECT_TRUE(cap.contains("B:------ IO : 1"));  // no input: not a constant
  EXPECT_TRUE(cap.contains("B:------ DFF PORT DIN : CLOCK = UNCONNECTED : 1"));
}

TEST(KavuDelayCritical, ChainGraphReachesBothEndsFromAnyOfItsTerminals) {
  // a -> three LUTs -> o, the LUTs made first so the netlist's first
  // critical terminal is the first LUT's output, not the pin's.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* tmp = make_input_pin(&nl, "tmp");
  CDB_SGATE_NODE* l1 = make_lut(&nl, {tmp}, 0x2);
  CDB_SGATE_NODE* l2 = make_lut(&nl, {l1}, 0x2);
  CDB_SGATE_NODE* l3 = make_lut(&nl, {l2}, 0x2);
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", l3);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  l1->get_input_term(0)->set_source(out(a));
  auto expert = make_expert(&nl, 2);
  const int worst = expert->compute_all_delays(true);
  for (CDB_SGATE_NODE* start : {a, l1, l2, l3}) {
    const GEN_DYN_FLAG visited = nl.get_flag_manager().create_flag("test_visited");
    std::vector<CDB_SGATE_OTERM*> ins;
    std::vector<CDB_SGATE_ITERM*> outs;
    expert->analyze_critical_graph_from_here(&nl, out(start), visited, worst, ins, outs);
    nl.get_flag_manager().destroy_flag(visited);
    EXPECT_EQ(ins, std::vector<CDB_SGATE_OTERM*>{out(a)}) << start->get_debug_name();
    EXPECT_EQ(outs, std::vector<CDB_SGATE_ITERM*>{o->get_input_term(0)}) << start->get_debug_name();
  }
  // Margin 0: one graph, from the pin a to the pin o.
  DEBUG_CAPTURE cap("KAVU");
  expert->analyze_critical_paths(&nl, 0, "M:");
  EXPECT_TRUE(cap.contains("M: GRAPH 1 : --- Input boundaries (1)"));
  EXPECT_TRUE(cap.contains("M: GRAPH 1 : ------ IO : 1"));
  EXPECT_TRUE(cap.contains("M: GRAPH 1 : --- Output boundaries (1)"));
  EXPECT_FALSE(cap.contains("M:Critical graph 2"));
}
