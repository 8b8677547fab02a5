// Tests of the netlist summaries and local rewrites: scratch resets, the
// cone estimates, the change signature, the tri-state bypass, equality
// expansion and LUT-input merging, the rewrites checked for function on
// real circuits and hand-built ones.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_helper_summary.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// n input pins, each read by `fanout` output pins, and their outputs.
std::vector<CDB_SGATE_OTERM*> make_inputs(CDB_SGATE_NETLIST* nl, int n, const std::vector<int>& fanout = {}) {
  std::vector<CDB_SGATE_OTERM*> out;
  for (int i = 0; i < n; ++i) {
    CDB_SGATE_NODE* pin = make_input_pin(nl, ("x" + std::to_string(i)).c_str());
    out.push_back(pin->get_single_oterm());
    const int readers = i < int(fanout.size()) ? fanout[i] : 0;
    for (int r = 0; r < readers; ++r) make_output_pin(nl, ("r" + std::to_string(i) + "_" + std::to_string(r)).c_str(), pin);
  }
  return out;
}

// A comb gate of the type over the terminals.
CDB_SGATE_NODE* comb_over(CDB_SGATE_NETLIST* nl, CDB_COMB_TYPE type, const std::vector<CDB_SGATE_OTERM*>& ins) {
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, type);
  nl->add_node(g);
  for (CDB_SGATE_OTERM* t : ins) g->insert_unordered_fanin(t);
  return g;
}

}  // namespace

TEST(KavuSummaryScratch, ResetsClearOnlyTheirValue) {
  auto nl = load_blif("small/adder16_lut4");
  int terms = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    for (unsigned i = 0; i < (*it)->get_output_count(); ++i) {
      (*it)->get_output_term(i)->set_aux(5);
      (*it)->get_output_term(i)->set_aux2(7);
      ++terms;
    }
  }
  ASSERT_GT(terms, 0);
  auto sum = [&](bool second) {
    long total = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      for (unsigned i = 0; i < (*it)->get_output_count(); ++i)
        total += second ? (*it)->get_output_term(i)->get_aux2() : (*it)->get_output_term(i)->get_aux();
    return total;
  };
  kavu_reset_aux_values(nl.get());
  EXPECT_EQ(sum(false), 0);
  EXPECT_EQ(sum(true), 7L * terms);
  kavu_reset_aux2_values(nl.get());
  EXPECT_EQ(sum(true), 0);
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) (*it)->get_single_oterm()->set_aux(1);
  (*nl->begin_node_list())->get_single_oterm()->set_aux2(3);
  kavu_reset_aux_and_aux2_values(nl.get());
  EXPECT_EQ(sum(false) + sum(true), 0);
}

TEST(KavuSummaryEstimates, SixInputConeShapesAndFanouts) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_OTERM*> wide = make_inputs(&nl, 6, {5, 5, 5, 5, 1, 1});
  for (CDB_COMB_TYPE type : {CDB_COMB_AND, CDB_COMB_OR, CDB_COMB_XOR}) {
    CDB_SGATE_NODE* g = comb_over(&nl, type, wide);
    EXPECT_TRUE(kavu_more_likely_to_slm(g->get_single_oterm(), wide)) << type;
  }
  CDB_SGATE_NODE* mixed = comb_over(&nl, CDB_COMB_AND, {wide[0], wide[1]});
  EXPECT_FALSE(kavu_more_likely_to_slm(mixed->get_single_oterm(), wide));  // 16 minterms set

  CDB_SGATE_NETLIST nl2;
  std::vector<CDB_SGATE_OTERM*> narrow = make_inputs(&nl2, 6, {5, 5, 5, 1, 1, 1});
  CDB_SGATE_NODE* and6 = comb_over(&nl2, CDB_COMB_AND, narrow);
  EXPECT_FALSE(kavu_more_likely_to_slm(and6->get_single_oterm(), narrow));
  std::vector<CDB_SGATE_OTERM*> five(narrow.begin(), narrow.begin() + 5);
  CDB_SGATE_NODE* and5 = comb_over(&nl2, CDB_COMB_AND, five);
  EXPECT_FALSE(kavu_more_likely_to_slm(and5->get_single_oterm(), five));

  EXPECT_EQ(kavu_estimate_signal_duty(and6->get_single_oterm(), narrow), 1);
  CDB_SGATE_NODE* xor6 = comb_over(&nl2, CDB_COMB_XOR, narrow);
  EXPECT_EQ(kavu_estimate_signal_duty(xor6->get_single_oterm(), narrow), 50);
}

TEST(KavuSummaryEstimates, DutyOfSmallConesCountsTheirOwnMinterms) {
  // A two-input AND is 1 on a quarter of its minterms; counting over 64
  // would give 1 percent.
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_OTERM*> ins = make_inputs(&nl, 3);
  std::vector<CDB_SGATE_OTERM*> two(ins.begin(), ins.begin() + 2);
  EXPECT_EQ(kavu_estimate_signal_duty(comb_over(&nl, CDB_COMB_AND, two)->get_single_oterm(), two), 25);
  EXPECT_EQ(kavu_estimate_signal_duty(comb_over(&nl, CDB_COMB_OR, ins)->get_single_oterm(), ins), 87);
  std::vector<CDB_SGATE_OTERM*> one(ins.begin(), ins.begin() + 1);
  EXPECT_EQ(kavu_estimate_signal_duty(comb_over(&nl, CDB_COMB_NOT, one)->get_single_oterm(), one), 50);
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

TEST(KavuSummarySignature, EditsOfARealCircuitAreSeen) {
  auto nl = load_blif("small/alu8_lut6");
  unsigned v[5] = {0, 0, 0, 0, 0};
  kavu_netlist_changed(nl.get(), &v[0], &v[1], &v[2], &v[3], &v[4]);
  CDB_SGATE_ITERM* some = nullptr;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list() && !some; ++it) {
    if ((*it)->get_sgate_type() == CDB_SGATE_LUT_ENUM) some = (*it)->get_input_term(0);
  }
  ASSERT_NE(some, nullptr);
  some->invert();
  EXPECT_TRUE(kavu_netlist_changed(nl.get(), &v[0], &v[1], &v[2], &v[3], &v[4]));
  some->invert();
  EXPECT_TRUE(kavu_netlist_changed(nl.get(), &v[0], &v[1], &v[2], &v[3], &v[4]));
  EXPECT_FALSE(kavu_netlist_changed(nl.get(), &v[0], &v[1], &v[2], &v[3], &v[4]));
}

TEST(KavuSummaryRewrites, TriStateBuffersNotFedByOutputAtomsStay) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* g = make_not(&nl, x);
  for (bool oe_vcc : {false, true}) {
    CDB_SGATE_IO_BUF* buf = new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI);
    nl.add_node(buf);
    CDB_SGATE_ITERM* data = buf->create_input_term(nullptr);
    buf->set_input_term(data, 0);
    g->get_single_oterm()->insert_fanout(data);
    CDB_SGATE_ITERM* oe = buf->create_input_term(nullptr);
    buf->set_input_term(oe, 1);
    if (oe_vcc) oe->set_vcc();
    else oe->set_gnd();
    make_output_pin(&nl, oe_vcc ? "y1" : "y0", buf);
  }
  const unsigned size = nl.size();
  kavu_remove_tri_fed_by_wys(&nl);
  EXPECT_EQ(nl.size(), size);
  // A buffer without its output-enable input is refused.
  CDB_SGATE_IO_BUF* broken = new CDB_SGATE_IO_BUF(nullptr, CDB_IO_BUF_TRI);
  nl.add_node(broken);
  broken->set_input_term(broken->create_input_term(nullptr), 0);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_remove_tri_fed_by_wys(&nl), "oe != 0");
}

namespace {

// out = (A == B) over `width` bits of input pins, with the equality output
// inverted when asked; bit 0 of B may be tied to a constant.
CDB_SGATE_OPERATOR* make_equal(CDB_SGATE_NETLIST* nl, unsigned width, bool inverted_out, int tie_b0 = -1) {
  CDB_SGATE_OPERATOR* eq = new CDB_SGATE_OPERATOR("eq", CDB_OPER_EQUAL);
  nl->add_node(eq);
  for (CDB_OPER_PORT_TYPE type : {CDB_OPER_PORT_A, CDB_OPER_PORT_B}) {
    CDB_SGATE_OPER_PORT_ENTRY* port = eq->add_port(type == CDB_OPER_PORT_A ? "a" : "b", type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < width; ++i) {
      CDB_SGATE_ITERM* t = eq->create_input_term(nullptr);
      port->set_iterm(i, t);
      if (type == CDB_OPER_PORT_B && i == 0 && tie_b0 >= 0) {
        if (tie_b0) t->set_vcc();
        else t->set_gnd();
        continue;
      }
      const std::string name = std::string(type == CDB_OPER_PORT_A ? "a" : "b") + std::to_string(i);
      make_input_pin(nl, name.c_str())->get_single_oterm()->insert_fanout(t);
      if (i == 1) t->invert();
    }
  }
  CDB_SGATE_OTERM* out = eq->create_output_term(nullptr);
  eq->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT)->set_oterm(0, out);
  if (inverted_out) out->invert();
  CDB_SGATE_ITERM* reader = make_output_pin(nl, "y", nullptr)->get_input_term(0);
  out->insert_fanout(reader);
  return eq;
}

}  // namespace

TEST(KavuSummaryRewrites, EqualityBecomesXnorTreeAndKeepsFunction) {
  for (bool inverted : {false, true}) {
    for (int tie : {-1, 0, 1}) {
      for (unsigned width : {1u, 3u}) {
        CDB_SGATE_NETLIST golden, nl;
        make_equal(&golden, width, inverted, tie);
        CDB_SGATE_OPERATOR* eq = make_equal(&nl, width, inverted, tie);
        KAVU_TRACK(nl);
        CDB_SGATE_OTERM* and_out = kavu_eq_to_xnor_tree(eq, &nl);
        ASSERT_NE(and_out, nullptr);
        EXPECT_EQ(and_out->get_my_node()->get_number_of_input_terms(), width);
        EXPECT_FALSE(eq->has_fanout());
        ASSERT_KAVU_EQUIVALENT(golden, nl);
      }
    }
  }
}

TEST(KavuSummaryRewrites, ConvertEqualityOperatorsSweepsThem) {
  CDB_SGATE_NETLIST golden, nl;
  make_equal(&golden, 4, false);
  make_equal(&nl, 4, false);
  KAVU_TRACK(nl);
  kavu_convert_eq_ops(&nl);
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) {
    EXPECT_NE((*it)->get_sgate_type(), CDB_SGATE_OPERATOR_ENUM);
  }
  ASSERT_KAVU_EQUIVALENT(golden, nl);
  // Operand bits without a source become VCC inputs, GND when the bit's
  // terminal is inverted (bit 1 of make_equal's B is).
  CDB_SGATE_NETLIST loose;
  KAVU_TRACK(loose);
  CDB_SGATE_OPERATOR* eq = make_equal(&loose, 3, false);
  for (unsigned bit : {1u, 2u}) eq->get_iterm(CDB_OPER_PORT_B, bit)->disconnect_from_source();
  CDB_SGATE_NODE* and_gate = kavu_eq_to_xnor_tree(eq, &loose)->get_my_node();
  for (unsigned bit : {1u, 2u}) {
    CDB_SGATE_ITERM* b_input = and_gate->get_input_term(bit)->get_source()->get_my_node()->get_input_term(1);
    EXPECT_EQ(b_input->is_gnd(), bit == 1) << bit;
    EXPECT_EQ(b_input->is_vcc(), bit == 2) << bit;
  }
}

TEST(KavuSummaryLuts, AbsorbDuplicateInputsKeepsFunction) {
  // Inputs 0 and 2 from one source, input 2 inverted; then three inputs of
  // one source.
  for (int variant = 0; variant < 2; ++variant) {
    CDB_SGATE_NETLIST golden, nl;
    CDB_SGATE_NODE* lut = nullptr;
    for (CDB_SGATE_NETLIST* n : {&golden, &nl}) {
      CDB_SGATE_NODE* a = make_input_pin(n, "a");
      CDB_SGATE_NODE* b = make_input_pin(n, "b");
      std::vector<CDB_SGATE_NODE*> ins = variant == 0 ? std::vector<CDB_SGATE_NODE*>{a, b, a, b}
                                                      : std::vector<CDB_SGATE_NODE*>{a, a, b, a};
      CDB_SGATE_NODE* l = make_lut(n, ins, 0x6AC5);
      if (variant == 0) l->get_input_term(2)->invert();
      else l->get_input_term(3)->invert();
      make_output_pin(n, "y", l);
      lut = l;
    }
    KAVU_TRACK(nl);
    EXPECT_EQ(kavu_absorb_duplicate_lut_iterms(lut), 2);
    EXPECT_FALSE(cdb_is_connected(lut->get_input_term(variant == 0 ? 2 : 1)));
    EXPECT_EQ(lut->get_input_term(variant == 0 ? 2 : 1)->get_port_type(), 26779);
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
  CDB_SGATE_NETLIST nl;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_absorb_duplicate_lut_iterms(make_and(&nl, nullptr, nullptr)), "kavu_is_a_lut");
}

namespace {

// Drives every LUT's last driven input from the source of its first one, in
// node-list order, so that two loads of a circuit get the same edit.
int tie_last_lut_input_to_first(CDB_SGATE_NETLIST* nl) {
  int edited = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* lut = *it;
    if (lut->get_sgate_type() != CDB_SGATE_LUT_ENUM) continue;
    CDB_SGATE_ITERM* first = nullptr;
    CDB_SGATE_ITERM* last = nullptr;
    for (unsigned i = 0; i < lut->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* t = lut->get_input_term(i);
      if (!t || !t->get_source()) continue;
      if (!first) first = t;
      else last = t;
    }
    if (!last || last->get_source() == first->get_source()) continue;
    first->get_source()->insert_fanout(last);
    if (edited % 2) last->invert();
    ++edited;
  }
  return edited;
}

}  // namespace

TEST(KavuSummaryLuts, AbsorbOnRealCircuitsKeepsFunction) {
  for (const char* name : {"small/alu8_lut6", "mcnc/alu4", "small/crc8_lut4"}) {
    auto golden = load_blif(name);
    auto nl = load_blif(name);
    KAVU_TRACK(nl.get());
    const int edited = tie_last_lut_input_to_first(golden.get());
    ASSERT_EQ(tie_last_lut_input_to_first(nl.get()), edited);
    int merged = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if ((*it)->get_sgate_type() == CDB_SGATE_LUT_ENUM) merged += kavu_absorb_duplicate_lut_iterms(*it);
    }
    EXPECT_GE(merged, edited) << name;
    EXPECT_GT(merged, 0) << name;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

TEST(KavuSummaryLuts, FoldInversionAndRegisterAtoms) {
  CDB_SGATE_NETLIST golden, nl;
  CDB_SGATE_NODE* lut = nullptr;
  for (CDB_SGATE_NETLIST* n : {&golden, &nl}) {
    CDB_SGATE_NODE* a = make_input_pin(n, "a");
    CDB_SGATE_NODE* b = make_input_pin(n, "b");
    lut = make_lut(n, {a, b}, 0x2);
    make_output_pin(n, "y", lut);
  }
  kavu_fold_lut_input_inversion(lut->get_input_term(1));
  EXPECT_TRUE(lut->get_input_term(1)->is_inverted());
  EXPECT_EQ(static_cast<CDB_SGATE_LUT*>(lut)->get_lut_mask().get_value(), 0x8u);
  ASSERT_KAVU_EQUIVALENT(golden, nl);
  lut->get_input_term(0)->disconnect_from_source();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fold_lut_input_inversion(lut->get_input_term(0)), "cdb_is_connected");

  CDB_SGATE_WYSIWYG* ff = new CDB_SGATE_WYSIWYG(nullptr, 62);
  CDB_SGATE_WYSIWYG* comb = new CDB_SGATE_WYSIWYG(nullptr, 61);
  nl.add_node(ff);
  nl.add_node(comb);
  EXPECT_TRUE(kavu_is_a_registered_lcell(ff));
  EXPECT_FALSE(kavu_is_a_registered_lcell(comb));
  EXPECT_FALSE(kavu_is_a_registered_lcell(lut));
}
