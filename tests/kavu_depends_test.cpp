// Tests of the dependency rules, feeder lists and loop terminals (against
// Boost's strongly connected components on real circuits).
#include <algorithm>
#include <array>
#include <set>
#include <tuple>
#include <unordered_map>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/strong_components.hpp>

#include "cut/cut_mac.h"
#include "hdb/hdb.h"
#include "kavu_depends.h"
#include "kavu_helper_predicates.h"
#include "kavu_operator_test_support.h"
#include "kavu_setup.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef std::vector<CDB_SGATE_OTERM*> OTERMS;

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_single_oterm(); }

template <size_t N>
std::array<CDB_SGATE_NODE*, N> pins(CDB_SGATE_NETLIST& nl) {
  std::array<CDB_SGATE_NODE*, N> result;
  for (size_t i = 0; i < N; ++i) result[i] = make_input_pin(&nl, ("p" + std::to_string(i)).c_str());
  return result;
}

// An atom input of port type `port`, bit `bit`, driven by src.
CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* atom, uint16_t port, CDB_SGATE_NODE* src, unsigned bit = 0) {
  CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, port);
  t->set_port_index(bit);
  atom->set_input_term(t, atom->get_input_port_number(port) + bit);
  t->set_source(out(src));
  return t;
}

CDB_SGATE_OTERM* atom_out(CDB_SGATE_WYSIWYG* atom, uint16_t port, unsigned bit = 0) {
  CDB_SGATE_OTERM* o = atom->create_output_term(nullptr, port);
  o->set_port_index(bit);
  atom->set_output_term(o, atom->get_output_port_number(port) + bit);
  return o;
}

CDB_SGATE_WYSIWYG* add_atom(CDB_SGATE_NETLIST& nl, CDB_WYSIWYG_TYPE type) {
  auto* a = new CDB_SGATE_WYSIWYG(nullptr, type);
  nl.add_node(a);
  return a;
}

bool depends(CDB_SGATE_NODE* g, CDB_SGATE_OTERM* o, CDB_SGATE_ITERM* t, bool cut, bool data_only,
             bool with_mac = false, bool ignore_lut = false) {
  return kavu_oterm_depends_on_iterm(g, o, t, cut, data_only, with_mac, ignore_lut);
}

OTERMS feeders_of(CDB_SGATE_OTERM* o, bool function = false, bool regs = false) {
  OTERMS f{o};  // must be cleared by the call
  kavu_get_oterm_feeders(o, f, function, regs, false);
  return f;
}

// Restores the load-time key after a test changes it.
struct DKF_SCOPE {
  bool saved = kavu_depends_seq_for_dkf;
  explicit DKF_SCOPE(bool v) { kavu_depends_seq_for_dkf = v; }
  ~DKF_SCOPE() { kavu_depends_seq_for_dkf = saved; }
};

}  // namespace


TEST(KavuDependsRules, RegistersLutsCarrySumAndStateBuffers) {
  CDB_SGATE_NETLIST nl;
  auto [a, b, c] = pins<3>(nl);
  auto* dff = make_dff(&nl, a, c);
  dff->get_input_term(CDB_DFF_ENA)->set_source(out(c));
  for (unsigned i = 0; i < CDB_DFF_NUM_PORTS; ++i) {
    CDB_SGATE_ITERM* t = dff->get_input_term(i);
    EXPECT_FALSE(depends(dff, out(dff), t, true, false) || depends(dff, out(dff), t, true, true)) << i;
    EXPECT_TRUE(depends(dff, out(dff), t, false, false)) << i;
    EXPECT_EQ(depends(dff, out(dff), t, false, true), i == CDB_DFF_DATA) << i;
  }
  // The flip-flop atom answers by port type: DATAIN only.
  auto* ff = add_atom(nl, 62);
  CDB_SGATE_ITERM* d = atom_in(ff, DB_PORT_DATAIN, a);
  CDB_SGATE_OTERM* q = atom_out(ff, DB_PORT_REGOUT);
  EXPECT_TRUE(depends(ff, q, d, false, true));
  EXPECT_FALSE(depends(ff, q, atom_in(ff, DB_PORT_CLK, c), false, true));
  EXPECT_FALSE(depends(ff, q, d, true, false));
  EXPECT_KAVU_INTERNAL_ERROR(depends(ff, q, dff->get_input_term(0), false, true), "iterm->get_my_node() == sgate");

  auto* lut = make_lut(&nl, {a, b, c}, 0x66);  // a XOR b, independent of input 2
  EXPECT_TRUE(depends(lut, out(lut), lut->get_input_term(0), false, false));
  EXPECT_FALSE(depends(lut, out(lut), lut->get_input_term(2), false, false));
  EXPECT_TRUE(depends(lut, out(lut), lut->get_input_term(2), false, false, false, true));
  EXPECT_KAVU_INTERNAL_ERROR(depends(lut, out(lut), make_not(&nl, a)->get_input_term(0), false, false), "found");

  auto* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(cs);
  for (auto* src : {a, b}) cs->insert_unordered_fanin(out(src));
  for (int o : {SUM_OUT, CARRY_OUT}) {
    for (int i : {SUM_IN, CARRY_IN})
      EXPECT_EQ(depends(cs, cs->get_output_term(o), cs->get_input_term(i), false, false), (o == 0) == (i == 0));
  }
  EXPECT_EQ(feeders_of(cs->get_output_term(CARRY_OUT)), OTERMS{out(b)});
  EXPECT_EQ(feeders_of(cs->get_output_term(SUM_OUT)), OTERMS{out(a)});

  auto* state = new CDB_SGATE_STATE(nullptr, nullptr);
  nl.add_node(state);
  CDB_SGATE_ITERM* st = state->insert_unordered_fanin(out(a));
  EXPECT_TRUE(depends(state, out(state), st, false, false));
  EXPECT_FALSE(depends(state, out(state), st, true, false));
}

// A choice operator: output bit i depends on bit i of either data port
// only; wider than 50 bits it depends on everything.
TEST(KavuDependsRules, ChoiceOperatorLogicCellAndUnsupportedKinds) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto make_choice = [&](unsigned wa, unsigned wb, unsigned wo) {
    return kavu_operator_test::make_two_operand_op(&nl, CDB_OPER_CHOICE, a, wa, wb, wo, "choice");
  };
  auto bit_depends = [](CDB_SGATE_OPERATOR* op, unsigned o, CDB_OPER_PORT_TYPE port, unsigned i) {
    return depends(op, op->get_oterm(CDB_OPER_PORT_O, o), op->get_iterm(port, i), false, false);
  };
  CDB_SGATE_OPERATOR* op = make_choice(8, 8, 8);
  for (unsigned i = 0; i < 8; ++i) {
    EXPECT_EQ(bit_depends(op, 3, CDB_OPER_PORT_A, i), i == 3) << i;
    EXPECT_EQ(bit_depends(op, 3, CDB_OPER_PORT_B, i), i == 3) << i;
  }
  EXPECT_TRUE(bit_depends(make_choice(51, 51, 51), 0, CDB_OPER_PORT_A, 40));
  // Regression: ports of different widths were read past the narrower
  // ones' ends. Each port is now bounded by its own width.
  CDB_SGATE_OPERATOR* ragged = make_choice(8, 2, 4);
  EXPECT_TRUE(bit_depends(ragged, 1, CDB_OPER_PORT_B, 1));
  EXPECT_FALSE(bit_depends(ragged, 1, CDB_OPER_PORT_A, 6) || bit_depends(ragged, 3, CDB_OPER_PORT_A, 6));
  CDB_SGATE_OPERATOR* no_output = make_choice(4, 0, 0);
  CDB_SGATE_OTERM* stray = no_output->create_output_term(nullptr);
  no_output->insert_unordered_fanout_term(stray);
  EXPECT_FALSE(depends(no_output, stray, no_output->get_iterm(CDB_OPER_PORT_A, 2), false, false));

  // A logic cell's share output depends on DATAA..DATAF only; pins have no rule.
  auto* cell = add_atom(nl, 93);
  CDB_SGATE_ITERM* data_a = atom_in(cell, DB_PORT_DATAA, a);
  CDB_SGATE_ITERM* data_g = atom_in(cell, DB_PORT_DATAG, a);
  CDB_SGATE_OTERM* share = atom_out(cell, DB_PORT_SHAREOUT);
  CDB_SGATE_OTERM* comb = atom_out(cell, DB_PORT_COMBOUT);
  EXPECT_TRUE(depends(cell, share, data_a, false, false));
  EXPECT_FALSE(depends(cell, share, data_g, false, false));
  EXPECT_TRUE(depends(cell, comb, data_g, false, false));
  // Both inputs come from one source: a logic cell lists it twice.
  EXPECT_EQ(feeders_of(comb).size(), 2u);
  EXPECT_EQ(feeders_of(share, true).size(), 1u);
  auto* pin = make_output_pin(&nl, "y", a);
  EXPECT_KAVU_INTERNAL_ERROR(depends(pin, out(pin), pin->get_input_term(0), false, false),
                             "Found unsupported sgate in oterm_depends_on_iterm.");
}

// MAC and LUT-RAM atoms: data ports only with data_only; a registered port cuts
// only with registers_cut; the older types have a rule only with the key.
TEST(KavuDependsRules, MacAndLutRamRegisteredPaths) {
  CDB_SGATE_NETLIST nl;
  auto [a, c] = pins<2>(nl);
  auto* mac = add_atom(nl, 95);
  CDB_SGATE_ITERM* ax = atom_in(mac, CUT_MAC_IPORT_DATA_AX, a, 2);
  CDB_SGATE_ITERM* negate = atom_in(mac, CUT_MAC_IPORT_NEGATE, a);
  CDB_SGATE_ITERM* clk2 = atom_in(mac, CUT_MAC_IPORT_CLK2, c);
  CDB_SGATE_OTERM* out_a = atom_out(mac, CUT_MAC_OPORT_DATA_OUT_A, 5);
  EXPECT_TRUE(depends(mac, out_a, ax, true, true, true));
  EXPECT_TRUE(depends(mac, out_a, clk2, false, false, true));
  EXPECT_FALSE(depends(mac, out_a, clk2, false, true, true));  // a clock is no data port
  EXPECT_FALSE(depends(mac, atom_out(mac, 4242), ax, false, true, true));
  EXPECT_KAVU_INTERNAL_ERROR(depends(mac, out_a, ax, false, false, false), "Found unsupported sgate");
  mac->set_mode(CUT_MAC_MODE_DATA_REGISTERED);
  EXPECT_FALSE(depends(mac, out_a, ax, true, false, true));
  EXPECT_TRUE(depends(mac, out_a, negate, true, false, true) && depends(mac, out_a, ax, false, false, true));
  mac->set_mode(CUT_MAC_MODE_OUTPUT_REGISTERED);
  EXPECT_FALSE(depends(mac, out_a, negate, true, false, true));

  auto* ram = add_atom(nl, 97);
  ram->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "ram", nullptr, nullptr,
                                                               nullptr));
  CDB_SGATE_ITERM* din = atom_in(ram, 410, a);
  CDB_SGATE_ITERM* waddr = atom_in(ram, 41, a, 3);
  CDB_SGATE_OTERM* dout = atom_out(ram, 364);
  EXPECT_TRUE(depends(ram, dout, din, true, true) && depends(ram, dout, waddr, false, false));
  EXPECT_FALSE(depends(ram, dout, waddr, false, true));
  atom_in(ram, 36, c);  // clock 1
  hdb_set_option(ram->get_instance_name(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK, "CLOCK1");
  EXPECT_FALSE(depends(ram, dout, din, true, false));
  EXPECT_TRUE(depends(ram, dout, din, false, false));

  auto *old_mac = add_atom(nl, 60), *old_ram = add_atom(nl, 63);
  auto old_depend = [&, mo = atom_out(old_mac, CUT_MAC_OPORT_DATA_OUT_B),
                     mi = atom_in(old_mac, CUT_MAC_IPORT_DATA_AX, a), ro = atom_out(old_ram, 364),
                     ri = atom_in(old_ram, 410, a)] {
    return depends(old_mac, mo, mi, true, true, true) && depends(old_ram, ro, ri, false, false);
  };
  DKF_SCOPE off(false);
  EXPECT_KAVU_INTERNAL_ERROR(old_depend(), "Found unsupported sgate");
  DKF_SCOPE on(true);
  EXPECT_TRUE(old_depend());
}


TEST(KavuDependsFeeders, RepeatsRegistersAndLargeGates) {
  CDB_SGATE_NETLIST nl;
  auto [a, b, c, sl] = pins<4>(nl);
  auto* x = make_and(&nl, a, a);
  EXPECT_EQ(feeders_of(out(x)), OTERMS{out(a)});
  x->get_input_term(1)->set_gnd();
  EXPECT_EQ(feeders_of(out(x)), OTERMS{out(a)});
  // sload tied to GND: no adata; a driven sload: data, ena, sload, sclr, adata once each.
  auto* dff = make_dff(&nl, a, c);
  dff->get_input_term(CDB_DFF_ENA)->set_source(out(b));
  dff->get_input_term(CDB_DFF_SCLR)->set_source(out(b));
  dff->get_input_term(CDB_DFF_ADATA)->set_source(out(x));
  dff->get_input_term(CDB_DFF_SLOAD)->set_gnd();
  EXPECT_EQ(feeders_of(out(dff), false, true), (OTERMS{out(a), out(b)}));
  dff->get_input_term(CDB_DFF_SLOAD)->disconnect_from_source();
  dff->get_input_term(CDB_DFF_SLOAD)->set_source(out(sl));
  EXPECT_EQ(feeders_of(out(dff), false, true), (OTERMS{out(a), out(b), out(sl), out(x)}));
  EXPECT_EQ(feeders_of(out(dff)).size(), 5u);  // clock too, without register_inputs
  // A component lists each distinct source once on its first output only.
  auto* comp = new CDB_SGATE_COMPONENT("comp", true);
  nl.add_node(comp);
  for (auto* src : {b, a, b, c, a}) comp->insert_unordered_fanin(out(src));
  for (int i = 0; i < 2; ++i) comp->insert_unordered_fanout_term(comp->create_output_term(nullptr));
  EXPECT_EQ(feeders_of(comp->get_output_term(0)), (OTERMS{out(b), out(a), out(c)}));
  EXPECT_TRUE(feeders_of(comp->get_output_term(1)).empty());
  // Wide gates check repeats in a table: same list, same order as a naive scan.
  const auto p = pins<300>(nl);
  for (int fanin : {1, 2, 31, 32, 33, 200, 5000}) {
    auto* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    nl.add_node(g);
    OTERMS naive;
    for (int i = 0; i < fanin; ++i) {
      CDB_SGATE_OTERM* src = out(p[size_t((i * 7919) % std::min(fanin, 300))]);
      CDB_SGATE_ITERM* t = g->add_unordered_fanin_from_oterm(nullptr, i % 5 == 4, src);
      if (i % 11 == 10) t->set_vcc();
      else if (std::find(naive.begin(), naive.end(), src) == naive.end()) naive.push_back(src);
    }
    EXPECT_EQ(feeders_of(out(g)), naive) << fanin;
  }
}

// On every committed circuit the rule and the feeder lists agree on every input.
TEST(KavuDependsFeeders, RealCircuitsRuleAndFeedersAgree) {
  OTERMS feeders;
  for (const std::string& name : bundled_circuits()) {
    auto nl = load_blif(name);
    size_t edges = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (!*it || kavu_is_a_pin(*it)) continue;  // pins have no dependency rule
      for (CDB_SGATE_OTERM* o : (*it)->get_output_terms()) {
        kavu_get_oterm_feeders(o, feeders, false, false, false);
        edges += feeders.size();
        for (CDB_SGATE_ITERM* t : (*it)->get_input_terms()) {
          if (!t || !t->get_source() || t->is_vcc_or_gnd()) continue;
          const bool listed = std::find(feeders.begin(), feeders.end(), t->get_source()) != feeders.end();
          EXPECT_EQ(depends(*it, o, t, false, false, false, true), listed) << name << " " << (*it)->get_string_hpath();
        }
      }
    }
    EXPECT_GT(edges, 0u) << name;
  }
}


TEST(KavuLoopTerms, SmallLoopsWithKeyOffAndOn) {
  // Calling again replaces, not appends to, the results.
  CDB_SGATE_NETLIST empty;
  std::vector<CDB_SGATE_ITERM*> iterms{nullptr};
  OTERMS oterms{nullptr};
  kavu_find_all_loop_terms(&empty, &iterms, &oterms);
  EXPECT_TRUE(iterms.empty() && oterms.empty());
  // r1 -> AND(r1, a) -> r1 (one register); r2 -> r3 -> AND(r3, a) -> r2 (two).
  CDB_SGATE_NETLIST nl;
  auto [a, clk] = pins<2>(nl);
  auto* r1 = make_dff(&nl, nullptr, clk);
  auto* g1 = make_and(&nl, r1, a);
  r1->get_input_term(CDB_DFF_DATA)->set_source(out(g1));
  auto* r2 = make_dff(&nl, nullptr, clk);
  auto* r3 = make_dff(&nl, r2, clk);
  r2->get_input_term(CDB_DFF_DATA)->set_source(out(make_and(&nl, r3, a)));
  auto* tail = make_or(&nl, g1, a);  // fed by a loop, on none
  make_output_pin(&nl, "y", tail);
  r1->get_input_term(CDB_DFF_ENA)->set_gnd();  // constants are never reported
  // A gate feeding its own input, then a long chain (the search uses an explicit stack).
  auto* self = make_or(&nl, a, nullptr);
  self->get_input_term(1)->set_source(out(self));
  CDB_SGATE_NODE* chain = make_not(&nl, self);
  CDB_SGATE_NODE* last = chain;
  for (int i = 0; i < 200000; ++i) last = make_not(&nl, last);
  // Input terminal, reported with the key off, with the key on.
  const std::vector<std::tuple<CDB_SGATE_ITERM*, bool, bool>> cases{
      {r1->get_input_term(CDB_DFF_DATA), true, true}, {g1->get_input_term(0), true, true},
      {g1->get_input_term(1), false, false},          {r2->get_input_term(CDB_DFF_DATA), true, false},
      {r3->get_input_term(CDB_DFF_DATA), true, false}, {tail->get_input_term(0), true, false},  // the superset
      {tail->get_input_term(1), false, false},        {r1->get_input_term(CDB_DFF_ENA), false, false},
      {self->get_input_term(1), true, false},         {self->get_input_term(0), false, false},
      {chain->get_input_term(0), true, false}};
  for (const char* key : {"off", "on"}) {
    CFG_SCOPE scope{{"kavu_make_one_ff_loops_critical", key}};
    kavu_find_all_loop_terms(&nl, &iterms, &oterms);
    ASSERT_EQ(iterms.size(), oterms.size());
    for (size_t i = 0; i < iterms.size(); ++i) EXPECT_EQ(iterms[i]->get_source(), oterms[i]);
    for (const auto& [t, off, on] : cases)
      EXPECT_EQ(std::count(iterms.begin(), iterms.end(), t), (key[1] == 'n' ? on : off) ? 1 : 0) << key;
  }
}

// Every terminal on a loop of Boost's SCCs is reported; the key-on result lies within.
TEST(KavuLoopTerms, RealCircuitsCoverBoostSccs) {
  auto is_live = [](CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_vcc_or_gnd(); };
  for (const char* name : {"mcnc/s298", "mcnc/tseng", "seq/stereovision3"}) {
    auto nl = load_blif(name);
    std::unordered_map<CDB_SGATE_ITERM*, int> index;
    std::vector<CDB_SGATE_ITERM*> live, off, on;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      for (CDB_SGATE_ITERM* t : *it ? (*it)->get_input_terms() : CDB_SGATE_NODE::ITERM_VECTOR())
        if (is_live(t)) index[t] = int(live.size()), live.push_back(t);
    boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS> graph(live.size());
    std::vector<bool> on_loop(live.size(), false);  // a self edge, or a component of two or more
    for (size_t i = 0; i < live.size(); ++i) {
      for (CDB_SGATE_ITERM* u : live[i]->get_source() ? live[i]->get_source()->get_my_node()->get_input_terms()
                                                      : CDB_SGATE_NODE::ITERM_VECTOR()) {
        if (!is_live(u)) continue;
        boost::add_edge(i, size_t(index.at(u)), graph);
        if (u == live[i]) on_loop[i] = true;
      }
    }
    std::vector<int> component(live.size()), size(live.size() + 1, 0);
    boost::strong_components(graph, boost::make_iterator_property_map(component.begin(),
                                                                      boost::get(boost::vertex_index, graph)));
    for (int c : component) ++size[size_t(c)];
    OTERMS oterms;
    kavu_find_all_loop_terms(nl.get(), &off, &oterms);
    const std::set<CDB_SGATE_ITERM*> reported(off.begin(), off.end());
    size_t loops = 0;
    for (size_t i = 0; i < live.size(); ++i) {
      if (!on_loop[i] && size[size_t(component[i])] < 2) continue;
      ++loops;
      EXPECT_TRUE(reported.count(live[i])) << name << " " << live[i]->get_my_node()->get_string_hpath();
    }
    EXPECT_GT(loops, 0u) << name;
    CFG_SCOPE key{{"kavu_make_one_ff_loops_critical", "on"}};
    kavu_find_all_loop_terms(nl.get(), &on, &oterms);
    EXPECT_FALSE(on.empty()) << name;
    for (CDB_SGATE_ITERM* t : on) EXPECT_TRUE(reported.count(t)) << name;
  }
}
