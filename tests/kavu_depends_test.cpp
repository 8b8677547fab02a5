// Tests of the dependency queries (rules by gate kind, MAC and LUT-RAM
// registering, feeder lists) and of the loop-terminal search, on hand-built
// gates and on every committed circuit, the loop search cross-checked
// against Boost's strongly connected components.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/strong_components.hpp>

#include "cdb/cdb_sgate.h"
#include "cut/cut_mac.h"
#include "hdb/hdb.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_seq_lutram_util.h"
#include "kavu_seq_mac_utility.h"
#include "kavu_setup.h"
#include "kavu_wiring_helper.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_single_oterm(); }

// An atom input of port type `port`, bit `bit`, driven by src (left
// unconnected when src is null).
CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* atom, uint16_t port, CDB_SGATE_NODE* src, unsigned bit = 0) {
  CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, port);
  t->set_port_index(bit);
  atom->set_input_term(t, atom->get_input_port_number(port) + bit);
  if (src) t->set_source(out(src));
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

std::vector<CDB_SGATE_OTERM*> feeders_of(CDB_SGATE_OTERM* o, bool function = false, bool regs = false) {
  std::vector<CDB_SGATE_OTERM*> f{o};  // must be cleared by the call
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

// ---------------------------------------------------------------- rules

TEST(KavuDependsRules, RegistersCutAndDataOnly) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* c = make_input_pin(&nl, "c");
  auto* dff = make_dff(&nl, a, c);
  dff->get_input_term(CDB_DFF_ENA)->set_source(out(c));
  for (unsigned i = 0; i < CDB_DFF_NUM_PORTS; ++i) {
    CDB_SGATE_ITERM* t = dff->get_input_term(i);
    EXPECT_FALSE(depends(dff, out(dff), t, true, false)) << i;
    EXPECT_FALSE(depends(dff, out(dff), t, true, true)) << i;
    EXPECT_TRUE(depends(dff, out(dff), t, false, false)) << i;
    EXPECT_EQ(depends(dff, out(dff), t, false, true), i == CDB_DFF_DATA) << i;
  }
  // The flip-flop atom answers by port type: DATAIN only.
  auto* ff = add_atom(nl, 62);
  CDB_SGATE_ITERM* d = atom_in(ff, DB_PORT_DATAIN, a);
  CDB_SGATE_ITERM* clk = atom_in(ff, DB_PORT_CLK, c);
  CDB_SGATE_OTERM* q = atom_out(ff, DB_PORT_REGOUT);
  EXPECT_TRUE(depends(ff, q, d, false, true));
  EXPECT_FALSE(depends(ff, q, clk, false, true));
  EXPECT_FALSE(depends(ff, q, d, true, false));
  EXPECT_KAVU_INTERNAL_ERROR(depends(ff, q, dff->get_input_term(0), false, true), "iterm->get_my_node() == sgate");
}

TEST(KavuDependsRules, LutMaskStateBufferAndCarrySum) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* c = make_input_pin(&nl, "c");
  auto* lut = make_lut(&nl, {a, b, c}, 0x66);  // a XOR b, independent of input 2
  EXPECT_TRUE(depends(lut, out(lut), lut->get_input_term(0), false, false));
  EXPECT_FALSE(depends(lut, out(lut), lut->get_input_term(2), false, false));
  EXPECT_TRUE(depends(lut, out(lut), lut->get_input_term(2), false, false, false, true));
  auto* other = make_not(&nl, a);
  EXPECT_KAVU_INTERNAL_ERROR(depends(lut, out(lut), other->get_input_term(0), false, false), "found");

  auto* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(cs);
  for (auto* src : {a, b}) cs->insert_unordered_fanin(out(src));
  CDB_SGATE_OTERM* sum = cs->get_output_term(SUM_OUT);
  CDB_SGATE_OTERM* cout = cs->get_output_term(CARRY_OUT);
  EXPECT_TRUE(depends(cs, sum, cs->get_input_term(SUM_IN), false, false));
  EXPECT_FALSE(depends(cs, sum, cs->get_input_term(CARRY_IN), false, false));
  EXPECT_FALSE(depends(cs, cout, cs->get_input_term(SUM_IN), false, false));
  EXPECT_TRUE(depends(cs, cout, cs->get_input_term(CARRY_IN), false, false));
  EXPECT_EQ(feeders_of(cout), std::vector<CDB_SGATE_OTERM*>{out(b)});
  EXPECT_EQ(feeders_of(sum), std::vector<CDB_SGATE_OTERM*>{out(a)});

  auto* state = new CDB_SGATE_STATE(nullptr, nullptr);
  nl.add_node(state);
  CDB_SGATE_ITERM* st = state->insert_unordered_fanin(out(a));
  EXPECT_TRUE(depends(state, out(state), st, false, false));
  EXPECT_FALSE(depends(state, out(state), st, true, false));
}

// A choice operator: output bit i depends on bit i of either data port only.
TEST(KavuDependsRules, ChoiceOperatorBitByBit) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto make_choice = [&](unsigned wa, unsigned wb, unsigned wo) {
    auto* op = new CDB_SGATE_OPERATOR("choice", CDB_OPER_CHOICE);
    nl.add_node(op);
    CDB_SGATE_OPER_PORT_ENTRY* pa = op->add_port("A", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* pb = op->add_port("B", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* po = op->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < wa; ++i) pa->set_iterm(i, op->insert_unordered_fanin(out(a)));
    for (unsigned i = 0; i < wb; ++i) pb->set_iterm(i, op->insert_unordered_fanin(out(a)));
    for (unsigned i = 0; i < wo; ++i) po->set_oterm(i, op->create_output_term(nullptr));
    return op;
  };
  CDB_SGATE_OPERATOR* op = make_choice(8, 8, 8);
  CDB_SGATE_OTERM* o3 = op->get_oterm(CDB_OPER_PORT_O, 3);
  for (unsigned i = 0; i < 8; ++i) {
    EXPECT_EQ(depends(op, o3, op->get_iterm(CDB_OPER_PORT_A, i), false, false), i == 3) << i;
    EXPECT_EQ(depends(op, o3, op->get_iterm(CDB_OPER_PORT_B, i), false, false), i == 3) << i;
  }
  CDB_SGATE_OPERATOR* wide = make_choice(51, 51, 51);
  EXPECT_TRUE(depends(wide, wide->get_oterm(CDB_OPER_PORT_O, 0), wide->get_iterm(CDB_OPER_PORT_A, 40), false, false));

  // Regression: ports of different widths were read past the narrower
  // ones' ends. Each port is now bounded by its own width.
  CDB_SGATE_OPERATOR* ragged = make_choice(8, 2, 4);
  CDB_SGATE_OTERM* r1 = ragged->get_oterm(CDB_OPER_PORT_O, 1);
  EXPECT_TRUE(depends(ragged, r1, ragged->get_iterm(CDB_OPER_PORT_B, 1), false, false));
  EXPECT_FALSE(depends(ragged, r1, ragged->get_iterm(CDB_OPER_PORT_A, 6), false, false));
  EXPECT_FALSE(depends(ragged, ragged->get_oterm(CDB_OPER_PORT_O, 3), ragged->get_iterm(CDB_OPER_PORT_A, 6), false,
                       false));
  CDB_SGATE_OPERATOR* no_output = make_choice(4, 0, 0);
  CDB_SGATE_OTERM* stray = no_output->create_output_term(nullptr);
  no_output->insert_unordered_fanout_term(stray);
  EXPECT_FALSE(depends(no_output, stray, no_output->get_iterm(CDB_OPER_PORT_A, 2), false, false));
}

TEST(KavuDependsRules, LogicCellShareOutAndUnsupportedKinds) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
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
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_KAVU_INTERNAL_ERROR(depends(pin, out(pin), pin->get_input_term(0), false, false),
                             "Found unsupported sgate in oterm_depends_on_iterm.");
  EXPECT_TRUE(cap.contains("oterm depends on iterm is not implemented for IO"));
  EXPECT_KAVU_INTERNAL_ERROR(depends(nullptr, comb, data_a, false, false), "sgate != 0");
}

TEST(KavuDependsRules, MacRegisteredGroups) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* c = make_input_pin(&nl, "c");
  auto* mac = add_atom(nl, 95);
  CDB_SGATE_ITERM* ax = atom_in(mac, CUT_MAC_IPORT_DATA_AX, a, 2);
  CDB_SGATE_ITERM* negate = atom_in(mac, CUT_MAC_IPORT_NEGATE, a);
  CDB_SGATE_ITERM* clk2 = atom_in(mac, CUT_MAC_IPORT_CLK2, c);
  CDB_SGATE_OTERM* out_a = atom_out(mac, CUT_MAC_OPORT_DATA_OUT_A, 5);
  CDB_SGATE_OTERM* stray = atom_out(mac, 4242);
  // Unregistered: a combinational path from every input.
  EXPECT_TRUE(depends(mac, out_a, ax, true, true, true));
  EXPECT_TRUE(depends(mac, out_a, clk2, false, false, true));
  EXPECT_FALSE(depends(mac, out_a, clk2, false, true, true));  // a clock is no data port
  EXPECT_FALSE(depends(mac, stray, ax, false, true, true));
  EXPECT_KAVU_INTERNAL_ERROR(depends(mac, out_a, ax, false, false, false), "Found unsupported sgate");

  mac->set_mode(CUT_MAC_MODE_DATA_REGISTERED);
  EXPECT_TRUE(kavu_is_mac_input_registered(ax, CUT_MAC_OPORT_DATA_OUT_A));
  EXPECT_FALSE(kavu_is_mac_input_registered(negate, 0));
  EXPECT_FALSE(depends(mac, out_a, ax, true, false, true));
  EXPECT_TRUE(depends(mac, out_a, negate, true, false, true));
  EXPECT_TRUE(depends(mac, out_a, ax, false, false, true));

  // Output registers on clock 2: the clock input of port type 36.
  mac->set_mode(CUT_MAC_MODE_OUTPUT_REGISTERED);
  mac->set_mode(CUT_MAC_MODE_OUTPUT_CLOCK_LO);
  CDB_SGATE_ITERM* clock = nullptr;
  EXPECT_TRUE(kavu_is_mac_output_registered(out_a, &clock));
  EXPECT_EQ(clock, clk2);
  EXPECT_FALSE(depends(mac, out_a, negate, true, false, true));
  mac->set_mode(CUT_MAC_MODE_OUTPUT_CLOCK_HI);  // field 3 names no clock
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_mac_output_registered(out_a, &clock),
                             "(output_port_clock >= 0) && (output_port_clock < 3)");
  EXPECT_TRUE(kavu_is_mac_output_registered(out_a, nullptr));

  // The older MAC type has a rule only with the load-time key.
  auto* old_mac = add_atom(nl, 60);
  CDB_SGATE_ITERM* old_ax = atom_in(old_mac, CUT_MAC_IPORT_DATA_AX, a);
  CDB_SGATE_OTERM* old_out = atom_out(old_mac, CUT_MAC_OPORT_DATA_OUT_B);
  {
    DKF_SCOPE off(false);
    EXPECT_KAVU_INTERNAL_ERROR(depends(old_mac, old_out, old_ax, false, false, true), "Found unsupported sgate");
  }
  DKF_SCOPE on(true);
  EXPECT_TRUE(depends(old_mac, old_out, old_ax, true, true, true));
  auto* other = make_not(&nl, a);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_is_mac_input_registered(other->get_input_term(0), 0), "is_mac");
}

TEST(KavuDependsRules, LutRamOutputRegisterParameter) {
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(ns, "top", nullptr, nullptr, nullptr);
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* c = make_input_pin(&nl, "c");
  auto* ram = add_atom(nl, 97);
  ram->set_instance_name(HDB_INSTANCE_NAME::create_child(top, "ram"));
  CDB_SGATE_ITERM* din = atom_in(ram, 410, a);
  CDB_SGATE_ITERM* waddr = atom_in(ram, 41, a, 3);
  CDB_SGATE_OTERM* dout = atom_out(ram, 364);
  EXPECT_FALSE(kavu_is_lutram_output_registered(ram));  // no parameter
  EXPECT_TRUE(depends(ram, dout, din, true, true));
  EXPECT_FALSE(depends(ram, dout, waddr, false, true));
  EXPECT_TRUE(depends(ram, dout, waddr, false, false));

  DEBUG_CAPTURE cap("KAVU");
  hdb_set_option(ram->get_instance_name(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK, "CLOCK1");
  EXPECT_TRUE(kavu_is_lutram_output_registered(ram));  // any letter case
  EXPECT_TRUE(cap.contains("LUT RAM has illegal output register mode setting."));  // no clock 1 yet
  EXPECT_FALSE(depends(ram, dout, din, true, false));
  EXPECT_TRUE(depends(ram, dout, din, false, false));

  CDB_SGATE_ITERM* clk1 = atom_in(ram, 36, c);
  const size_t lines = cap.lines().size();
  EXPECT_TRUE(kavu_is_lutram_output_registered(ram));
  EXPECT_EQ(cap.lines().size(), lines);  // consistent: no line
  hdb_set_option(ram->get_instance_name(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK, "None");
  EXPECT_FALSE(kavu_is_lutram_output_registered(ram));
  EXPECT_GT(cap.lines().size(), lines);  // clocked, but set to none
  clk1->disconnect_from_source();

  auto* old_ram = add_atom(nl, 63);
  CDB_SGATE_ITERM* old_din = atom_in(old_ram, 410, a);
  CDB_SGATE_OTERM* old_dout = atom_out(old_ram, 364);
  DKF_SCOPE off(false);
  EXPECT_KAVU_INTERNAL_ERROR(depends(old_ram, old_dout, old_din, false, false), "Found unsupported sgate");
}

// ---------------------------------------------------------------- feeders

TEST(KavuDependsFeeders, RepeatsRegistersAndLargeGates) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* c = make_input_pin(&nl, "c");
  auto* x = make_and(&nl, a, a);
  EXPECT_EQ(feeders_of(out(x)), std::vector<CDB_SGATE_OTERM*>{out(a)});
  x->get_input_term(1)->set_gnd();
  EXPECT_EQ(feeders_of(out(x)), std::vector<CDB_SGATE_OTERM*>{out(a)});

  // A register whose sload is GND contributes no adata; a driven sload brings
  // data, enable, sload, sclear and adata, each source once.
  auto* dff = make_dff(&nl, a, c);
  dff->get_input_term(CDB_DFF_ENA)->set_source(out(b));
  dff->get_input_term(CDB_DFF_SCLR)->set_source(out(b));
  dff->get_input_term(CDB_DFF_ADATA)->set_source(out(x));
  dff->get_input_term(CDB_DFF_SLOAD)->set_gnd();
  EXPECT_EQ(feeders_of(out(dff), false, true), (std::vector<CDB_SGATE_OTERM*>{out(a), out(b)}));
  auto* sl = make_input_pin(&nl, "sl");
  dff->get_input_term(CDB_DFF_SLOAD)->disconnect_from_source();
  dff->get_input_term(CDB_DFF_SLOAD)->set_source(out(sl));
  EXPECT_EQ(feeders_of(out(dff), false, true), (std::vector<CDB_SGATE_OTERM*>{out(a), out(b), out(sl), out(x)}));
  EXPECT_EQ(feeders_of(out(dff)).size(), 5u);  // clock too, without register_inputs

  // A component lists each distinct source once on its first output only.
  auto* comp = new CDB_SGATE_COMPONENT("comp", true);
  nl.add_node(comp);
  for (auto* src : {b, a, b, c, a}) comp->insert_unordered_fanin(out(src));
  for (int i = 0; i < 2; ++i) comp->insert_unordered_fanout_term(comp->create_output_term(nullptr));
  EXPECT_EQ(feeders_of(comp->get_output_term(0)), (std::vector<CDB_SGATE_OTERM*>{out(b), out(a), out(c)}));
  EXPECT_TRUE(feeders_of(comp->get_output_term(1)).empty());
}

// Wide gates check repeats in a table: same list, same order as a naive scan.
TEST(KavuDependsFeeders, WideGatesAgreeWithNaiveScan) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 300; ++i) pins.push_back(make_input_pin(&nl, ("p" + std::to_string(i)).c_str()));
  for (int fanin : {1, 2, 31, 32, 33, 200, 5000}) {
    auto* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    nl.add_node(g);
    std::vector<CDB_SGATE_OTERM*> naive;
    for (int i = 0; i < fanin; ++i) {
      CDB_SGATE_OTERM* src = out(pins[size_t((i * 7919) % (fanin < 300 ? fanin : 300)) % pins.size()]);
      CDB_SGATE_ITERM* t = g->add_unordered_fanin_from_oterm(nullptr, i % 5 == 4, src);
      if (i % 11 == 10) t->set_vcc();
      else if (std::find(naive.begin(), naive.end(), src) == naive.end()) naive.push_back(src);
    }
    EXPECT_EQ(feeders_of(out(g)), naive) << fanin;
  }
}

// On every committed circuit: a topological order from the feeder lists
// respects every edge, and the dependency rule agrees with the feeders.
TEST(KavuDependsFeeders, RealCircuitsOrderAndRuleAgree) {
  for (const std::string& name : bundled_circuits()) {
    auto nl = load_blif(name);
    std::vector<CDB_SGATE_OTERM*> order;
    std::unordered_map<const CDB_SGATE_OTERM*, int> state;  // 1 open, 2 placed
    std::vector<CDB_SGATE_OTERM*> feeders;
    std::set<CDB_SGATE_TYPE> kinds;
    size_t edges = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || kavu_is_a_pin(g)) continue;  // pins have no dependency rule
      kinds.insert(g->get_sgate_type());
      for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
        kavu_get_oterm_feeders(o, feeders, false, false, false);
        for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
          if (!t || !t->get_source() || t->is_vcc_or_gnd()) continue;
          const bool listed = std::find(feeders.begin(), feeders.end(), t->get_source()) != feeders.end();
          EXPECT_EQ(depends(g, o, t, false, false, false, true), listed) << name << " " << g->get_string_type_name();
        }
        edges += feeders.size();
      }
    }
    // Depth-first placement; register and latch outputs start the order.
    auto sequential = [](const CDB_SGATE_NODE* g) { return kavu_is_a_dff(g, true) || kavu_is_a_latch(g); };
    std::vector<std::pair<CDB_SGATE_OTERM*, size_t>> stack;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (!*it) continue;
      for (CDB_SGATE_OTERM* root : (*it)->get_output_terms()) {
        if (state[root]) continue;
        stack.push_back({root, 0});
        state[root] = 1;
        while (!stack.empty()) {
          auto& [o, next] = stack.back();
          kavu_get_oterm_feeders(o, feeders, false, false, false);
          if (!sequential(o->get_my_node()) && next < feeders.size()) {
            CDB_SGATE_OTERM* f = feeders[next++];
            ASSERT_NE(state[f], 1) << name << ": combinational loop";
            if (!state[f]) {
              state[f] = 1;
              stack.push_back({f, 0});
            }
            continue;
          }
          state[o] = 2;
          order.push_back(o);
          stack.pop_back();
        }
      }
    }
    std::unordered_map<const CDB_SGATE_OTERM*, size_t> position;
    for (size_t i = 0; i < order.size(); ++i) position[order[i]] = i;
    for (CDB_SGATE_OTERM* o : order) {
      if (sequential(o->get_my_node())) continue;
      kavu_get_oterm_feeders(o, feeders, false, false, false);
      for (CDB_SGATE_OTERM* f : feeders) ASSERT_LT(position.at(f), position.at(o)) << name;
    }
    EXPECT_GT(edges, 0u) << name;
  }
}

// ---------------------------------------------------------------- loop terminals

TEST(KavuLoopTerms, SmallLoopsWithKeyOffAndOn) {
  CDB_SGATE_NETLIST empty;
  std::vector<CDB_SGATE_ITERM*> iterms{nullptr};
  std::vector<CDB_SGATE_OTERM*> oterms{nullptr};
  {
    DEBUG_CAPTURE cap("KAVU");
    kavu_find_all_loop_terms(&empty, &iterms, &oterms);
    EXPECT_TRUE(iterms.empty() && oterms.empty());
    EXPECT_TRUE(cap.contains("find_all_loop_terms: don't see any iterms!"));
  }
  // r1 -> AND(r1, a) -> r1 (one register); r2 -> r3 -> AND(r2, a) ring of two.
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* clk = make_input_pin(&nl, "clk");
  auto* r1 = make_dff(&nl, nullptr, clk);
  auto* g1 = make_and(&nl, r1, a);
  r1->get_input_term(CDB_DFF_DATA)->set_source(out(g1));
  auto* r2 = make_dff(&nl, nullptr, clk);
  auto* r3 = make_dff(&nl, r2, clk);
  auto* g2 = make_and(&nl, r3, a);
  r2->get_input_term(CDB_DFF_DATA)->set_source(out(g2));
  auto* tail = make_or(&nl, g1, a);  // fed by a loop, on none
  make_output_pin(&nl, "y", tail);
  r1->get_input_term(CDB_DFF_ENA)->set_gnd();  // constants are never reported
  auto reported = [&](CDB_SGATE_ITERM* t) { return std::count(iterms.begin(), iterms.end(), t) == 1; };
  kavu_find_all_loop_terms(&nl, &iterms, &oterms);
  ASSERT_EQ(iterms.size(), oterms.size());
  for (size_t i = 0; i < iterms.size(); ++i) EXPECT_EQ(iterms[i]->get_source(), oterms[i]);
  EXPECT_TRUE(reported(r1->get_input_term(CDB_DFF_DATA)));
  EXPECT_TRUE(reported(g1->get_input_term(0)));
  EXPECT_FALSE(reported(g1->get_input_term(1)));
  EXPECT_TRUE(reported(r2->get_input_term(CDB_DFF_DATA)));
  EXPECT_TRUE(reported(r3->get_input_term(CDB_DFF_DATA)));
  EXPECT_TRUE(reported(tail->get_input_term(0)));  // the documented superset
  EXPECT_FALSE(reported(tail->get_input_term(1)));
  EXPECT_FALSE(reported(r1->get_input_term(CDB_DFF_ENA)));

  CFG_SCOPE key{{"kavu_make_one_ff_loops_critical", "on"}};
  kavu_find_all_loop_terms(&nl, &iterms, &oterms);
  EXPECT_TRUE(reported(r1->get_input_term(CDB_DFF_DATA)));
  EXPECT_TRUE(reported(g1->get_input_term(0)));
  EXPECT_FALSE(reported(r2->get_input_term(CDB_DFF_DATA)));
  EXPECT_FALSE(reported(r3->get_input_term(CDB_DFF_DATA)));
}

// A gate whose output feeds its own input, and a long chain (explicit stack).
TEST(KavuLoopTerms, SelfLoopAndDeepChain) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* self = make_or(&nl, a, nullptr);
  self->get_input_term(1)->set_source(out(self));
  CDB_SGATE_NODE* prev = self;
  for (int i = 0; i < 200000; ++i) prev = make_not(&nl, prev);
  make_output_pin(&nl, "y", prev);
  std::vector<CDB_SGATE_ITERM*> iterms;
  std::vector<CDB_SGATE_OTERM*> oterms;
  kavu_find_all_loop_terms(&nl, &iterms, &oterms);
  EXPECT_EQ(std::count(iterms.begin(), iterms.end(), self->get_input_term(1)), 1);
  // The first inverter of the chain is reported too, fed by the loop.
  EXPECT_EQ(std::count(oterms.begin(), oterms.end(), out(self)), 2);
  EXPECT_EQ(std::count(iterms.begin(), iterms.end(), self->get_input_term(0)), 0);
}

// Every terminal that Boost's SCCs put on a loop is reported; with the key
// on, the result stays inside the key-off result and still finds loops.
TEST(KavuLoopTerms, RealCircuitsCoverBoostSccs) {
  for (const char* name : {"mcnc/s298", "mcnc/tseng", "seq/stereovision3"}) {
    auto nl = load_blif(name);
    std::unordered_map<CDB_SGATE_ITERM*, int> index;
    std::vector<CDB_SGATE_ITERM*> live;
    auto is_live = [](CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_vcc_or_gnd(); };
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it)
        for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
          if (is_live(t)) index[t] = int(live.size()), live.push_back(t);
    typedef boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS> GRAPH;
    GRAPH graph(live.size());
    std::vector<bool> self_edge(live.size(), false);
    for (size_t i = 0; i < live.size(); ++i) {
      if (!live[i]->get_source()) continue;
      for (CDB_SGATE_ITERM* u : live[i]->get_source()->get_my_node()->get_input_terms()) {
        if (!is_live(u)) continue;
        boost::add_edge(i, size_t(index.at(u)), graph);
        if (u == live[i]) self_edge[i] = true;
      }
    }
    std::vector<int> component(live.size());
    boost::strong_components(graph, boost::make_iterator_property_map(component.begin(),
                                                                      boost::get(boost::vertex_index, graph)));
    std::vector<int> size(live.size() + 1, 0);
    for (int c : component) ++size[size_t(c)];

    std::vector<CDB_SGATE_ITERM*> off, on;
    std::vector<CDB_SGATE_OTERM*> oterms;
    kavu_find_all_loop_terms(nl.get(), &off, &oterms);
    const std::set<CDB_SGATE_ITERM*> reported(off.begin(), off.end());
    size_t on_loops = 0;
    for (size_t i = 0; i < live.size(); ++i) {
      if (size[size_t(component[i])] < 2 && !self_edge[i]) continue;
      ++on_loops;
      EXPECT_TRUE(reported.count(live[i])) << name << " " << live[i]->get_my_node()->get_string_hpath();
    }
    EXPECT_GT(on_loops, 0u) << name;
    {
      CFG_SCOPE key{{"kavu_make_one_ff_loops_critical", "on"}};
      kavu_find_all_loop_terms(nl.get(), &on, &oterms);
    }
    EXPECT_FALSE(on.empty()) << name;
    for (CDB_SGATE_ITERM* t : on) EXPECT_TRUE(reported.count(t)) << name;
  }
}
