// Tests of the terminal rewiring operations, by hand and as random edit
// storms on a real circuit that must keep it consistent and equivalent.

#include <algorithm>

#include "kavu_utility.h"
#include "kavu_wiring_helper.h"
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
  CDB_SGATE_COMB free_gate(nullptr, CDB_COMB_AND);
  CDB_SGATE_ITERM u1(&free_gate), u2(&free_gate), vcc(&free_gate), gnd(&free_gate);
  vcc.set_vcc();
  gnd.set_gnd();
  CDB_SGATE_ITERM* a = in(c.g1, 0);
  CDB_SGATE_ITERM* a_inv = in(c.g2, 0);
  a_inv->invert();
  // Two unconnected terminals are both the same and opposite sources;
  // exactly one connected is neither.
  struct ROW { const CDB_SGATE_ITERM *x, *y; bool same, opposite; } const rows[] = {{a, a, true, false},         {a, a_inv, false, true},  {a, in(c.g2, 1), false, false},
                    {&u1, &u2, true, true},      {nullptr, &u2, true, true}, {a, &u1, false, false},
                    {&u1, a, false, false},      {&vcc, &gnd, false, true}, {&vcc, &vcc, true, false},
                    {&gnd, &gnd, true, false},   {&vcc, a, false, false}};
  for (const ROW& r : rows) {
    EXPECT_EQ(kavu_same_source(r.x, r.y), r.same) << &r - rows;
    EXPECT_EQ(kavu_opposite_source(r.x, r.y), r.opposite) << &r - rows;
  }
}

// Real sources are copied, moved and swapped by the storm below; these are
// the constant and flag cases.
TEST(KavuWiringCopyMove, ConstantsArriveAsTheyWereAndFlagsAreKept) {
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
  EXPECT_EQ(target->get_info()->get_value(), 7);
  kavu_move_fanin(vcc, in(c.g2, 1));  // a moved constant stays on the old one
  EXPECT_EQ(tied_value(in(c.g2, 1)), 1);
  EXPECT_EQ(tied_value(vcc), 1);
  // Swapping a constant with an inverted source leaves neither terminal
  // tied and driven at once.
  CDB_SGATE_ITERM* driven = in(make_and(&c.nl, c.a, c.b), 0);
  driven->set_invert();
  kavu_swap_iterm_connections(gnd, driven);
  EXPECT_EQ(tied_value(driven), 0);
  EXPECT_EQ(gnd->get_source(), out(c.a));
  EXPECT_TRUE(gnd->is_inverted());
  EXPECT_FALSE(gnd->is_vcc_or_gnd());
  // A move leaves the old terminal unconnected with its flag.
  kavu_move_fanin(gnd, target);
  EXPECT_FALSE(cdb_is_connected(gnd));
  EXPECT_TRUE(gnd->is_inverted());
  EXPECT_TRUE(target->is_inverted());
  EXPECT_KAVU_INTERNAL_ERROR(kavu_copy_fanin(gnd, target), "cdb_is_connected (old_iterm)");
}

TEST(KavuWiringSet, SetSourceCombFaninTwoInputQueriesAndAtomTerminals) {
  SMALL_CIRCUIT c;
  KAVU_TRACK(c.nl);
  CDB_SGATE_ITERM* t = in(c.g1, 0);
  t->disconnect_from_source();
  for (bool invert : {true, false}) {
    kavu_set_iterm_source(t, nullptr, invert);
    EXPECT_EQ(tied_value(t), invert ? 0 : 1);
  }
  kavu_set_iterm_source(t, out(c.b), true);  // a tied terminal may be reconnected
  EXPECT_EQ(t->get_source(), out(c.b));
  EXPECT_TRUE(t->is_inverted());
  EXPECT_KAVU_INTERNAL_ERROR(kavu_set_iterm_source(t, out(c.a), false),
                             "!cdb_is_connected (iterm) || iterm->is_vcc_or_gnd()");
  // A VCC input is tied directly: the gate's own fan-out is not touched.
  CDB_SGATE_COMB* comb = c.g2->cast_to_comb();
  EXPECT_EQ(tied_value(kavu_insert_comb_fanin(comb, nullptr, false)), 1);
  EXPECT_EQ(out(c.g2)->get_number_of_fanout(), 0u);
  CDB_SGATE_ITERM* inv = kavu_insert_comb_fanin(comb, out(c.a), true);
  EXPECT_TRUE(inv->get_source() == out(c.a) && inv->is_inverted());

  CDB_SGATE_ITERM* a = nullptr;
  CDB_SGATE_ITERM* b = nullptr;
  kavu_grab_both_iterms(c.g1, &a, &b);
  EXPECT_EQ(kavu_get_other_gate_iterm(a), b);
  EXPECT_EQ(kavu_get_other_gate_iterm(b), a);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_grab_both_iterms(c.g2, &a, &b), "bad number of iterms");
  EXPECT_TRUE(kavu_oterm_feeds_gate(out(c.b), c.g2));
  EXPECT_FALSE(kavu_oterm_feeds_gate(out(c.g1), c.g2));
  EXPECT_EQ(kavu_count_total_fanout(c.a), 2);  // g2 twice; g1 reads b now
  CDB_SGATE_NETLIST nl;
  auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 62);
  nl.add_node(ff, true);
  KAVU_TRACK(nl);
  CDB_SGATE_ITERM* clk = kavu_fetch_create_wys_iterm(DB_PORT_CLK, ff);
  EXPECT_EQ(ff->get_input_term(ff->get_input_port_number(DB_PORT_CLK)), clk);
  EXPECT_EQ(kavu_fetch_create_wys_iterm(DB_PORT_CLK, ff), clk);
  CDB_SGATE_OTERM* q = kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false);
  EXPECT_EQ(q->get_port_type(), DB_PORT_REGOUT);
  EXPECT_EQ(kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false), q);
  const unsigned outputs = ff->get_output_count();
  EXPECT_EQ(kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, ff, true), nullptr);
  EXPECT_EQ(ff->get_output_count(), outputs);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, ff, false), "Couldn't find output port");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fetch_create_wys_iterm(DB_PORT_DATAA, ff), "port_number != CDB_ILLEGAL_PORT");
  // The RTL forms refuse what is no atom.
  EXPECT_EQ(rtl_fetch_create_wys_iterm(DB_PORT_CLK, ff), clk);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_fetch_create_wys_iterm(DB_PORT_ENA, make_input_pin(&nl, "a")), "wys");
}

TEST(KavuWiringShortThru, BypassFoldsInversionOrSpreadsTheConstant) {
  // Reference: y = ~a, z = a. Edited: y and z read a buffer of a; bypassing
  // the buffer through its inverted input must give the same function.
  CDB_SGATE_NETLIST ref;
  make_output_pin(&ref, "y", make_input_pin(&ref, "a"), true);
  make_output_pin(&ref, "z", ref.get_input_pins().front(), false);

  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* buf = make_buffer(&nl, a, CDB_BUFFER_LCELL);
  in(buf, 0)->set_invert();
  make_output_pin(&nl, "y", buf, false);
  make_output_pin(&nl, "z", buf, true);
  KAVU_TRACK(nl);

  kavu_short_thru(in(buf, 0), out(buf));
  EXPECT_TRUE(!out(buf)->has_fanout() && cdb_is_connected(in(buf, 0)));
  ASSERT_KAVU_EQUIVALENT(ref, nl);
  kavu_short_thru(in(buf, 0), out(buf));  // no fan-out left: nothing happens
  EXPECT_EQ(out(a)->get_number_of_fanout(), 3u);

  // A tied input spreads its constant, each reader keeping its own flag.
  CDB_SGATE_NODE* buf2 = make_buffer(&nl, nullptr, CDB_BUFFER_LCELL);
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
  ASSERT_TRUE(std::any_of(inputs.begin(), inputs.end(), [](auto* t) { return t->is_vcc_or_gnd(); }))
      << "the storm must also swap constant inputs";

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
    CDB_SGATE_NODE* buf = make_buffer(nl.get(), nullptr, CDB_BUFFER_LCELL);
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

// The terminal listings name the source, its phase and the readers.
TEST(KavuWiringListings, TerminalsAreClassified) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* n = make_not(&nl, a);
  CDB_SGATE_NODE* y = make_output_pin(&nl, "y", n);
  CDB_SGATE_NODE* z = make_output_pin(&nl, "z", nullptr);
  n->get_input_term(0)->invert();
  DEBUG_CAPTURE cap("KAVU");
  kavu_vdebug_oterm(a->get_single_oterm());
  kavu_vdebug_iterm(y->get_input_term(0));
  kavu_vdebug_iterm(z->get_input_term(0));
  kavu_vdebug_iterm(nullptr);
  kavu_vdebug_oterm(nullptr);
  for (const char* word : {"1 fanout", "INV", "POS", "fed by Vcc", "NULL"}) EXPECT_TRUE(cap.contains(word)) << word;
}
