// Tests of the netlist summaries and local rewrites, by hand-computed values
// and, for the rewrites, function kept on real and hand-built circuits.

#include "kavu_helper_summary.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

bool is_lut(const CDB_SGATE_NODE* g) { return g->get_sgate_type() == CDB_SGATE_LUT_ENUM; }

}  // namespace

TEST(KavuSummaryEstimates, ConeShapesFanoutsAndDuty) {
  // A gate over the first `used` of six pins whose fan-outs are 5,5,5,5,1,1
  // (wide) or 5,5,5,1,1,1; the estimates see the first `given` pins.
  struct CASE { CDB_COMB_TYPE type; int used, given; bool wide, slm; int duty; } const cases[] = {
      {CDB_COMB_AND, 6, 6, true, true, 1},    {CDB_COMB_OR, 6, 6, true, true, 98},
      {CDB_COMB_XOR, 6, 6, true, true, 50},   {CDB_COMB_AND, 2, 6, true, false, 25},  // 16 minterms set
      {CDB_COMB_AND, 6, 6, false, false, 1},  {CDB_COMB_AND, 5, 5, true, false, 3},   // five inputs
      // Regression: small cones were counted over 64 minterms (1 percent).
      {CDB_COMB_AND, 2, 2, true, false, 25},  {CDB_COMB_OR, 3, 3, true, false, 87},
      {CDB_COMB_NOT, 1, 1, true, false, 50}};
  for (const CASE& c : cases) {
    CDB_SGATE_NETLIST nl;
    std::vector<CDB_SGATE_OTERM*> pins;
    auto* g = new CDB_SGATE_COMB(nullptr, c.type);
    nl.add_node(g);
    for (int i = 0; i < 6; ++i) {
      CDB_SGATE_NODE* pin = make_input_pin(&nl, ("x" + std::to_string(i)).c_str());
      const int readers = i < 3 || (c.wide && i == 3) ? 5 : 1;
      for (int r = 0; r < readers; ++r) make_output_pin(&nl, ("r" + std::to_string(i * 8 + r)).c_str(), pin);
      if (i < c.used) g->insert_unordered_fanin(pin->get_single_oterm());
      if (i < c.given) pins.push_back(pin->get_single_oterm());
    }
    EXPECT_EQ(kavu_more_likely_to_slm(g->get_single_oterm(), pins), c.slm) << &c - cases;
    EXPECT_EQ(kavu_estimate_signal_duty(g->get_single_oterm(), pins), c.duty) << &c - cases;
  }
}

// The five values worked out by hand on: input pin p; OR gate g reading p,
// NOT p, VCC and GND, its output at port index 3; a LUT reading g at all six
// positions with mask 0x0000000300000005; an equality operator; a register
// atom.
TEST(KavuSummarySignature, EachValueIsExactAndEachChangeIsSeen) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* p = make_input_pin(&nl, "p");
  auto* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
  nl.add_node(g);
  g->insert_unordered_fanin(p->get_single_oterm());
  g->insert_unordered_fanin(p->get_single_oterm())->invert();
  g->add_unordered_fanin_from_oterm(nullptr, false, nullptr);  // VCC
  g->add_unordered_fanin_from_oterm(nullptr, true, nullptr);   // GND
  g->insert_unordered_fanin_term(g->create_input_term(nullptr));  // unconnected: not a connection
  g->get_single_oterm()->set_port_index(3);
  make_lut(&nl, std::vector<CDB_SGATE_NODE*>(6, g), 0x0000000300000005ull);
  nl.add_node(new CDB_SGATE_OPERATOR("eq", CDB_OPER_EQUAL));
  nl.add_node(new CDB_SGATE_WYSIWYG(nullptr, 62));
  unsigned v[5] = {};
  EXPECT_TRUE(kavu_netlist_changed(&nl, &v[0], &v[1], &v[2], &v[3], &v[4]));
  // Gates: pin 3 then complemented, OR 1 + kind 1, LUT 5, operator 44 xor
  // kind 16, atom 9 + type 62. Masks: high half 3 + low half 5. Sources: p
  // and then NOT p leave all ones, VCC adds 1, GND 2, each LUT input 3 + id.
  const unsigned want[5] = {5, 134, 8, 10, 2 + 6 * (3 + g->get_id())};
  for (int k = 0; k < 5; ++k) EXPECT_EQ(v[k], want[k]) << "value " << k + 1;
  EXPECT_FALSE(kavu_netlist_changed(&nl, &v[0], &v[1], &v[2], &v[3], &v[4]));
  // Each value alone decides the answer, and the new values are stored.
  for (int k = 0; k < 5; ++k) {
    ++v[k];
    EXPECT_TRUE(kavu_netlist_changed(&nl, &v[0], &v[1], &v[2], &v[3], &v[4])) << "value " << k + 1;
    EXPECT_EQ(v[k], want[k]);
  }
}

TEST(KavuSummaryRewrites, TriStateBuffersNotFedByOutputAtomsStay) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* g = make_not(&nl, make_input_pin(&nl, "x"));
  // Output enable GND, then VCC with data from a plain gate; then no enable.
  for (int kind = 0; kind < 3; ++kind) {
    CDB_SGATE_IO_BUF* buf = new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI);
    nl.add_node(buf);
    buf->set_input_term(buf->create_input_term(nullptr), 0);
    g->get_single_oterm()->insert_fanout(buf->get_input_term(0));
    make_output_pin(&nl, ("y" + std::to_string(kind)).c_str(), buf);
    if (kind == 2) {
      EXPECT_KAVU_INTERNAL_ERROR(kavu_remove_tri_fed_by_wys(&nl), "oe != 0");
      break;
    }
    buf->set_input_term(buf->create_input_term(nullptr), 1);
    kind ? buf->get_input_term(1)->set_vcc() : buf->get_input_term(1)->set_gnd();
    const unsigned size = nl.size();
    kavu_remove_tri_fed_by_wys(&nl);
    EXPECT_EQ(nl.size(), size);
  }
}

namespace {

// y = (A == B) over `width` bits of input pins (bit 1 of each operand
// inverted), the output inverted when asked; bit 0 of B tied to GND (0) or
// VCC (1) when asked.
CDB_SGATE_OPERATOR* make_equal(CDB_SGATE_NETLIST* nl, unsigned width, bool inverted_out, int tie_b0 = -1) {
  CDB_SGATE_OPERATOR* eq = new CDB_SGATE_OPERATOR("eq", CDB_OPER_EQUAL);
  nl->add_node(eq);
  for (const char* name : {"a", "b"}) {
    const CDB_OPER_PORT_TYPE type = name[0] == 'a' ? CDB_OPER_PORT_A : CDB_OPER_PORT_B;
    CDB_SGATE_OPER_PORT_ENTRY* port = eq->add_port(name, type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < width; ++i) {
      CDB_SGATE_ITERM* t = eq->create_input_term(nullptr);
      port->set_iterm(i, t);
      if (type == CDB_OPER_PORT_B && i == 0 && tie_b0 >= 0) {
        tie_b0 ? t->set_vcc() : t->set_gnd();
        continue;
      }
      make_input_pin(nl, (name + std::to_string(i)).c_str())->get_single_oterm()->insert_fanout(t);
      if (i == 1) t->invert();
    }
  }
  CDB_SGATE_OTERM* out = eq->create_output_term(nullptr);
  eq->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT)->set_oterm(0, out);
  if (inverted_out) out->invert();
  out->insert_fanout(make_output_pin(nl, "y", nullptr)->get_input_term(0));
  return eq;
}

}  // namespace

TEST(KavuSummaryRewrites, EqualityBecomesXnorTreeAndUnsourcedBitsReadVcc) {
  for (bool inverted : {false, true}) {
    for (int tie : {-1, 0, 1}) {
      for (unsigned width : {1u, 3u}) {
        CDB_SGATE_NETLIST golden, nl;
        make_equal(&golden, width, inverted, tie);
        CDB_SGATE_OPERATOR* eq = make_equal(&nl, width, inverted, tie);
        KAVU_TRACK(nl);
        CDB_SGATE_OTERM* and_out = kavu_eq_to_xnor_tree(eq, &nl);
        EXPECT_EQ(and_out->get_my_node()->get_number_of_input_terms(), width);
        EXPECT_FALSE(eq->has_fanout());
        ASSERT_KAVU_EQUIVALENT(golden, nl);
      }
    }
  }
  CDB_SGATE_NETLIST golden, nl;
  make_equal(&golden, 4, false);
  make_equal(&nl, 4, false);
  KAVU_TRACK(nl);
  kavu_convert_eq_ops(&nl);
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) EXPECT_FALSE((*it)->cast_to_operator());
  ASSERT_KAVU_EQUIVALENT(golden, nl);
  // Regression: an unconnected operand bit stopped the expansion. It reads
  // VCC, GND when its terminal is inverted (bit 1 of B is).
  CDB_SGATE_NETLIST loose;
  KAVU_TRACK(loose);
  CDB_SGATE_OPERATOR* loose_eq = make_equal(&loose, 3, false);
  for (unsigned bit : {1u, 2u}) loose_eq->get_iterm(CDB_OPER_PORT_B, bit)->disconnect_from_source();
  CDB_SGATE_NODE* and_gate = kavu_eq_to_xnor_tree(loose_eq, &loose)->get_my_node();
  auto b_input = [&](unsigned bit) { return and_gate->get_input_term(bit)->get_source()->get_my_node()->get_input_term(1); };
  EXPECT_TRUE(b_input(1)->is_gnd() && b_input(2)->is_vcc());
}

TEST(KavuSummaryLuts, AbsorbingDuplicateInputsKeepsTheFunction) {
  // Every LUT's last driven input is driven from the source of its first
  // one (every second one inverted), the same edit on both loads.
  auto tie_last_to_first = [](CDB_SGATE_NETLIST* nl) {
    int edited = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (!is_lut(*it)) continue;
      CDB_SGATE_ITERM *first = nullptr, *last = nullptr;
      for (CDB_SGATE_ITERM* t : (*it)->get_input_terms()) {
        if (t && t->get_source()) (first ? last : first) = t;
      }
      if (!last || last->get_source() == first->get_source()) continue;
      first->get_source()->insert_fanout(last);
      if (edited++ % 2) last->invert();
    }
    return edited;
  };
  for (const char* name : {"small/alu8_lut6", "mcnc/alu4", "small/crc8_lut4"}) {
    auto golden = load_blif(name);
    auto nl = load_blif(name);
    KAVU_TRACK(nl.get());
    const int edited = tie_last_to_first(golden.get());
    ASSERT_EQ(tie_last_to_first(nl.get()), edited);
    int merged = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (is_lut(*it)) merged += kavu_absorb_duplicate_lut_iterms(*it);
    }
    EXPECT_GE(merged, edited) << name;
    EXPECT_GT(merged, 0) << name;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
  // By hand: inputs 0 and 2 from one source, input 2 inverted; then three inputs of
  // one source, the last inverted.
  for (int variant = 0; variant < 2; ++variant) {
    CDB_SGATE_NETLIST golden, nl;
    CDB_SGATE_NODE* lut = nullptr;
    for (CDB_SGATE_NETLIST* n : {&golden, &nl}) {
      CDB_SGATE_NODE* a = make_input_pin(n, "a");
      CDB_SGATE_NODE* b = make_input_pin(n, "b");
      lut = make_lut(n, variant == 0 ? std::vector{a, b, a, b} : std::vector{a, a, b, a}, 0x6AC5);
      lut->get_input_term(variant == 0 ? 2 : 3)->invert();
      make_output_pin(n, "y", lut);
    }
    KAVU_TRACK(nl);
    EXPECT_EQ(kavu_absorb_duplicate_lut_iterms(lut), 2);
    const CDB_SGATE_ITERM* absorbed = lut->get_input_term(variant == 0 ? 2 : 1);
    EXPECT_TRUE(!cdb_is_connected(absorbed) && absorbed->get_port_type() == 26779);
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
  CDB_SGATE_NETLIST nl;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_absorb_duplicate_lut_iterms(make_and(&nl, nullptr, nullptr)), "kavu_is_a_lut");
  // Folding an input's inversion into the mask needs a connected input.
  CDB_SGATE_NODE* lut = make_lut(&nl, {make_input_pin(&nl, "a")}, 0x2);
  lut->get_input_term(0)->disconnect_from_source();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fold_lut_input_inversion(lut->get_input_term(0)), "cdb_is_connected");
}
