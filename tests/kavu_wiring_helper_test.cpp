// Tests of the terminal rewiring operations: source comparison, copy, move,
// swap and set, comb-gate inputs, atom terminals by port type, bypassing,
// and random edit storms on real circuits that must keep the netlist
// consistent and, where the edit keeps the function, equivalent.
#include <gtest/gtest.h>

#include <vector>

#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// The constant a tied terminal delivers: 1 for VCC, 0 for GND.
int tied_value(const CDB_SGATE_ITERM* t) {
  EXPECT_TRUE(t->is_vcc_or_gnd());
  return t->is_inverted() ? 0 : 1;
}

CDB_SGATE_ITERM* in(CDB_SGATE_NODE* gate, unsigned i) { return gate->get_input_term(i); }
CDB_SGATE_OTERM* out(CDB_SGATE_NODE* gate) { return gate->get_single_oterm(); }

// Every connected input terminal of every gate, in node-list order.
std::vector<CDB_SGATE_ITERM*> connected_inputs(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_ITERM*> result;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_ITERM* t : (*it)->get_input_terms()) {
      if (t && cdb_is_connected(t)) result.push_back(t);
    }
  }
  return result;
}

CDB_SGATE_NODE* add_buffer(CDB_SGATE_NETLIST* nl) {
  auto* buf = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_LCELL);
  nl->add_node(buf, true);
  buf->set_input_term(buf->create_input_term(nullptr), 0);
  return buf;
}

struct SMALL_CIRCUIT {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g1 = make_and(&nl, a, b);
  CDB_SGATE_NODE* g2 = make_or(&nl, a, b);
};

}  // namespace

TEST(KavuWiringSources, SameAndOppositeCoverConstantsInversionAndUnconnected) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  CDB_SGATE_ITERM* x = in(c.g1, 0);  // a
  CDB_SGATE_ITERM* y = in(c.g2, 0);  // a
  CDB_SGATE_ITERM* z = in(c.g2, 1);  // b
  EXPECT_TRUE(kavu_same_source(x, y));
  EXPECT_FALSE(kavu_opposite_source(x, y));
  EXPECT_FALSE(kavu_same_source(x, z));
  EXPECT_FALSE(kavu_opposite_source(x, z));

  y->invert();
  EXPECT_FALSE(kavu_same_source(x, y));
  EXPECT_TRUE(kavu_opposite_source(x, y));

  // Two unconnected terminals are both the same and opposite sources;
  // exactly one connected is neither.
  CDB_SGATE_COMB free_gate(nullptr, CDB_COMB_AND);
  CDB_SGATE_ITERM u1(&free_gate), u2(&free_gate);
  EXPECT_TRUE(kavu_same_source(&u1, &u2));
  EXPECT_TRUE(kavu_opposite_source(&u1, &u2));
  EXPECT_TRUE(kavu_same_source(nullptr, &u2));
  EXPECT_FALSE(kavu_same_source(x, &u1));
  EXPECT_FALSE(kavu_opposite_source(&u1, x));

  // Constants: VCC and GND are opposite, VCC and a gate are unrelated.
  u1.set_vcc();
  u2.set_gnd();
  EXPECT_TRUE(kavu_opposite_source(&u1, &u2));
  EXPECT_FALSE(kavu_same_source(&u1, &u2));
  EXPECT_FALSE(kavu_same_source(&u1, x));
  EXPECT_FALSE(kavu_opposite_source(&u1, x));
  u2.set_vcc();
  EXPECT_TRUE(kavu_same_source(&u1, &u2));
}

TEST(KavuWiringCopyMove, ConstantsDeliverTheOldValueWhateverTheNewFlag) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  CDB_SGATE_ITERM* vcc = in(c.g1, 0);
  CDB_SGATE_ITERM* gnd = in(c.g1, 1);
  vcc->set_vcc();
  gnd->set_gnd();
  gnd->create_info()->set_value(7);

  // The new terminal was inverted before: a copied VCC must still be VCC.
  CDB_SGATE_ITERM* target = in(c.g2, 0);
  target->set_invert();
  kavu_copy_fanin(vcc, target);
  EXPECT_EQ(tied_value(target), 1);
  kavu_copy_fanin(gnd, target);
  EXPECT_EQ(tied_value(target), 0);
  ASSERT_NE(target->get_info(), nullptr);
  EXPECT_EQ(target->get_info()->get_value(), 7);
  EXPECT_EQ(tied_value(gnd), 0);  // the old terminal keeps its constant

  // Moving a constant leaves the old terminal tied as it was.
  CDB_SGATE_ITERM* other = in(c.g2, 1);
  kavu_move_fanin(vcc, other);
  EXPECT_EQ(tied_value(other), 1);
  EXPECT_EQ(tied_value(vcc), 1);
}

TEST(KavuWiringCopyMove, RealSourcesCarryInversionAndMoveLeavesOldUnconnected) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  CDB_SGATE_ITERM* from = in(c.g1, 0);  // a
  from->set_invert();
  CDB_SGATE_ITERM* to = in(c.g2, 1);    // b
  kavu_copy_fanin(from, to);
  EXPECT_EQ(to->get_source(), out(c.a));
  EXPECT_TRUE(to->is_inverted());
  EXPECT_EQ(from->get_source(), out(c.a));
  EXPECT_EQ(out(c.b)->get_number_of_fanout(), 1u);

  kavu_move_fanin(from, in(c.g1, 1));
  EXPECT_FALSE(cdb_is_connected(from));
  EXPECT_TRUE(from->is_inverted());  // a disconnection keeps the flag
  EXPECT_EQ(in(c.g1, 1)->get_source(), out(c.a));
  EXPECT_TRUE(in(c.g1, 1)->is_inverted());

  EXPECT_KAVU_INTERNAL_ERROR(kavu_copy_fanin(from, to), "cdb_is_connected (old_iterm)");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_move_fanin(nullptr, to), "cdb_is_connected (old_iterm)");
}

TEST(KavuWiringSwap, ConstantAndDrivenExchangeWithoutATiedAndDrivenTerminal) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  CDB_SGATE_ITERM* driven = in(c.g1, 0);  // a, inverted
  CDB_SGATE_ITERM* gnd = in(c.g2, 1);
  driven->set_invert();
  gnd->set_gnd();

  kavu_swap_iterm_connections(gnd, driven);
  EXPECT_EQ(tied_value(driven), 0);
  EXPECT_EQ(gnd->get_source(), out(c.a));
  EXPECT_TRUE(gnd->is_inverted());
  EXPECT_FALSE(gnd->is_vcc_or_gnd());  // driven only, not also tied

  kavu_swap_iterm_connections(gnd, driven);
  EXPECT_EQ(tied_value(gnd), 0);
  EXPECT_EQ(driven->get_source(), out(c.a));
  EXPECT_TRUE(driven->is_inverted());

  CDB_SGATE_COMB lone(nullptr, CDB_COMB_AND);
  CDB_SGATE_ITERM unconnected(&lone);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_swap_iterm_connections(&unconnected, gnd), "cdb_is_connected (a)");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_swap_iterm_connections(gnd, &unconnected), "cdb_is_connected (b)");
}

TEST(KavuWiringSet, SetSourceAndCombFaninMakeTheRequestedValues) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  CDB_SGATE_ITERM* t = in(c.g1, 0);
  t->disconnect_from_source();
  kavu_set_iterm_source(t, nullptr, true);
  EXPECT_EQ(tied_value(t), 0);
  kavu_set_iterm_source(t, nullptr, false);
  EXPECT_EQ(tied_value(t), 1);
  kavu_set_iterm_source(t, out(c.b), true);  // a tied terminal may be reconnected
  EXPECT_EQ(t->get_source(), out(c.b));
  EXPECT_TRUE(t->is_inverted());
  EXPECT_KAVU_INTERNAL_ERROR(kavu_set_iterm_source(t, out(c.a), false),
                             "!cdb_is_connected (iterm) || iterm->is_vcc_or_gnd()");

  CDB_SGATE_COMB* comb = c.g2->cast_to_comb();
  const unsigned fanout_before = out(c.g2)->get_number_of_fanout();
  CDB_SGATE_ITERM* vcc = kavu_insert_comb_fanin(comb, nullptr, false);
  EXPECT_EQ(tied_value(vcc), 1);
  EXPECT_EQ(out(c.g2)->get_number_of_fanout(), fanout_before);
  CDB_SGATE_ITERM* inv = kavu_insert_comb_fanin(comb, out(c.a), true);
  EXPECT_EQ(inv->get_source(), out(c.a));
  EXPECT_TRUE(inv->is_inverted());
  EXPECT_EQ(comb->get_number_of_input_terms(), 4u);
}

TEST(KavuWiringGates, TwoInputQueriesAndFanoutWalks) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  CDB_SGATE_COMB* comb = c.g1->cast_to_comb();
  comb->insert_unordered_fanin_term(comb->create_input_term(nullptr));  // unconnected third
  CDB_SGATE_ITERM* a = nullptr;
  CDB_SGATE_ITERM* b = nullptr;
  kavu_grab_both_iterms(c.g1, &a, &b);
  EXPECT_EQ(a, in(c.g1, 0));
  EXPECT_EQ(b, in(c.g1, 1));
  EXPECT_EQ(kavu_get_other_gate_iterm(a), b);
  EXPECT_EQ(kavu_get_other_gate_iterm(b), a);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_other_gate_iterm(in(c.g1, 2)), "more than a little corrupt");
  kavu_insert_comb_fanin(comb, out(c.a), false);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_grab_both_iterms(c.g1, &a, &b), "bad number of iterms");

  EXPECT_TRUE(kavu_oterm_feeds_gate(out(c.b), c.g2));
  EXPECT_FALSE(kavu_oterm_feeds_gate(out(c.g1), c.g2));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_oterm_feeds_gate(out(c.g2), c.g1), "cdb_is_connected (iterm)");
  EXPECT_EQ(kavu_count_total_fanout(c.a), 3);
  EXPECT_EQ(kavu_count_total_fanout(c.g1), 0);
}

TEST(KavuWiringAtoms, FetchCreateUsesThePortSlotAndToleratesMissingOutputs) {
  CDB_SGATE_NETLIST nl;
  auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 62);
  nl.add_node(ff, true);
  KAVU_TRACK(nl);
  CDB_SGATE_ITERM* clk = kavu_fetch_create_wys_iterm(DB_PORT_CLK, ff);
  EXPECT_EQ(clk->get_port_type(), DB_PORT_CLK);
  EXPECT_EQ(ff->get_input_term(ff->get_input_port_number(DB_PORT_CLK)), clk);
  EXPECT_EQ(kavu_fetch_create_wys_iterm(DB_PORT_CLK, ff), clk);

  const unsigned outputs = ff->get_output_count();
  EXPECT_EQ(kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, ff, true), nullptr);
  EXPECT_EQ(ff->get_output_count(), outputs);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, ff, false),
                             "Couldn't find output port");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fetch_create_wys_iterm(DB_PORT_DATAA, ff),
                             "port_number != CDB_ILLEGAL_PORT");
  CDB_SGATE_OTERM* q = kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->get_port_type(), DB_PORT_REGOUT);
  EXPECT_EQ(kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false), q);
}

TEST(KavuWiringShortThru, BypassFoldsInversionOrSpreadsTheConstant) {
  // Reference: y = ~a, z = a. Edited: y and z read a buffer of a; bypassing
  // the buffer through its inverted input must give the same function.
  CDB_SGATE_NETLIST ref;
  CDB_SGATE_NODE* ra = make_input_pin(&ref, "a");
  make_output_pin(&ref, "y", ra, true);
  make_output_pin(&ref, "z", ra, false);

  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* buf = add_buffer(&nl);
  kavu_set_iterm_source(in(buf, 0), out(a), true);
  make_output_pin(&nl, "y", buf, false);
  make_output_pin(&nl, "z", buf, true);
  KAVU_TRACK(nl);

  kavu_short_thru(in(buf, 0), out(buf));
  EXPECT_FALSE(out(buf)->has_fanout());
  EXPECT_TRUE(cdb_is_connected(in(buf, 0)));
  ASSERT_KAVU_EQUIVALENT(ref, nl);

  // No fan-out: nothing happens, even through an inverted input.
  kavu_short_thru(in(buf, 0), out(buf));
  EXPECT_EQ(out(a)->get_number_of_fanout(), 3u);

  // A tied input spreads its constant, each reader keeping its own flag.
  CDB_SGATE_NODE* buf2 = add_buffer(&nl);
  in(buf2, 0)->set_gnd();
  CDB_SGATE_NODE* w = make_output_pin(&nl, "w", buf2, true);
  kavu_short_thru(in(buf2, 0), out(buf2));
  EXPECT_EQ(tied_value(in(w, 0)), 1);
}

TEST(KavuWiringStorm, RandomSwapsCopiesAndMovesKeepTheCircuit) {
  LOADED_NETLIST ref = load_blif("seq/ch_intrinsics");
  LOADED_NETLIST nl = load_blif("seq/ch_intrinsics");
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_ITERM*> inputs = connected_inputs(nl.get());
  ASSERT_GT(inputs.size(), 100u);
  int tied = 0;
  for (CDB_SGATE_ITERM* t : inputs) tied += t->is_vcc_or_gnd() ? 1 : 0;
  ASSERT_GT(tied, 0) << "the storm must also swap constant inputs";

  GEN_RAND rng(7);
  // Two swaps of the same pair restore every connection, constants included.
  for (int round = 0; round < 2000; ++round) {
    CDB_SGATE_ITERM* x = inputs[rng.get_int(int(inputs.size()))];
    CDB_SGATE_ITERM* y = inputs[rng.get_int(int(inputs.size()))];
    const bool x_tied = x->is_vcc_or_gnd();
    kavu_swap_iterm_connections(x, y);
    kavu_swap_iterm_connections(x, y);
    ASSERT_EQ(x->is_vcc_or_gnd(), x_tied);
  }
  // Copy or move each chosen input into a new buffer and read the buffer.
  std::vector<CDB_SGATE_NODE*> buffers;
  for (int round = 0; round < 500; ++round) {
    CDB_SGATE_ITERM* t = inputs[rng.get_int(int(inputs.size()))];
    CDB_SGATE_NODE* buf = add_buffer(nl.get());
    if (rng.get_int(2) == 0) {
      kavu_copy_fanin(t, in(buf, 0));
      t->disconnect_from_source();
    } else {
      kavu_move_fanin(t, in(buf, 0));
    }
    kavu_set_iterm_source(t, out(buf), false);
    buffers.push_back(buf);
  }
  std::string report;
  ASSERT_TRUE(nl->check(&report)) << report;
  ASSERT_KAVU_EQUIVALENT(ref, nl);
  // Bypassing the buffers again keeps the function too.
  for (CDB_SGATE_NODE* buf : buffers) kavu_short_thru(in(buf, 0), out(buf));
  ASSERT_KAVU_EQUIVALENT(ref, nl);
}

TEST(KavuWiringStorm, RandomTiesKeepTheNetlistConsistent) {
  LOADED_NETLIST nl = load_blif("seq/stereovision3");
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_ITERM*> inputs = connected_inputs(nl.get());
  GEN_RAND rng(11);
  for (int round = 0; round < 1000; ++round) {
    CDB_SGATE_ITERM* t = inputs[rng.get_int(int(inputs.size()))];
    if (cdb_is_connected(t) && !t->is_vcc_or_gnd()) t->disconnect_from_source();
    const bool gnd = rng.get_int(2) == 0;
    kavu_set_iterm_source(t, nullptr, gnd);
    ASSERT_EQ(tied_value(t), gnd ? 0 : 1);
  }
  std::string report;
  EXPECT_TRUE(nl->check(&report)) << report;
}

TEST(KavuWiringDebug, ListingsNameTerminalsSourcesAndConstants) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  in(c.g1, 1)->set_gnd();
  in(c.g2, 0)->set_invert();
  DEBUG_CAPTURE cap("KAVU");
  kavu_vdebug_iterm(nullptr);
  kavu_vdebug_oterm(out(c.a));
  kavu_vdebug_iterm(in(c.g1, 1));
  EXPECT_TRUE(cap.contains("  NULL"));
  EXPECT_TRUE(cap.contains("Oterm on gate IO"));
  EXPECT_TRUE(cap.contains("2 fanout"));
  EXPECT_TRUE(cap.contains("fed by IO"));
  EXPECT_TRUE(cap.contains(" INV fo=2"));
  EXPECT_TRUE(cap.contains(" POS fo=2"));
  EXPECT_TRUE(cap.contains("  fed by GND"));
}
