// Tests of the operator queries and edits on hand-built operators.

#include "kavu_ops.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// Bit kinds of a hand-built input port.
enum BIT { GND, VCC, UNC, NONE };

class KavuOps : public ::testing::Test {
 protected:
  CDB_SGATE_OPERATOR* make_op(CDB_OPER_TYPE kind) {
    CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("op", kind);
    m_nl.add_node(op);
    return op;
  }
  CDB_SGATE_OTERM* pin(const std::string& name) { return make_input_pin(&m_nl, name.c_str())->get_single_oterm(); }
  // An input port whose bits are driven by the given sources.
  CDB_SGATE_OPER_PORT_ENTRY* in_port(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type,
                                     const std::vector<CDB_SGATE_OTERM*>& srcs, const std::vector<bool>& inv = {}) {
    CDB_SGATE_OPER_PORT_ENTRY* port = op->add_port("in", type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < srcs.size(); ++i) {
      CDB_SGATE_ITERM* t = op->create_input_term(nullptr);
      port->set_iterm(i, t);
      srcs[i]->insert_fanout(t);
      if (i < inv.size() && inv[i]) t->invert();
    }
    return port;
  }
  CDB_SGATE_OPER_PORT_ENTRY* const_port(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, const std::vector<BIT>& bits) {
    CDB_SGATE_OPER_PORT_ENTRY* port = op->add_port("k", type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < bits.size(); ++i) {
      CDB_SGATE_ITERM* t = bits[i] == NONE ? nullptr : op->create_input_term(nullptr);
      port->set_iterm(i, t);
      if (bits[i] == GND) t->set_gnd();
      if (bits[i] == VCC) t->set_vcc();
    }
    return port;
  }
  CDB_SGATE_OPER_PORT_ENTRY* out_port(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, unsigned width) {
    CDB_SGATE_OPER_PORT_ENTRY* port = op->add_port("o", type, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < width; ++i) port->set_oterm(i, op->create_output_term(nullptr));
    return port;
  }
  // An output pin reading the terminal, so that it has a fan-out.
  CDB_SGATE_ITERM* attach(CDB_SGATE_OTERM* src) {
    CDB_SGATE_ITERM* t = make_output_pin(&m_nl, ("q" + std::to_string(m_readers++)).c_str(), nullptr)->get_input_term(0);
    src->insert_fanout(t);
    return t;
  }

  CDB_SGATE_NETLIST m_nl;
  int m_readers = 0;
};

}  // namespace

TEST_F(KavuOps, ConstantGndOneHotPortsAndTheMuxProfile) {
  struct ROW {
    std::vector<BIT> bits;
    bool constant, all_gnds, one_hot;
    unsigned index;  // of the VCC bit; width + 1 when not one-hot
  } const rows[] = {{{GND, VCC, GND}, true, false, true, 1},  {{GND, VCC, VCC}, true, false, false, 4},
                    {{GND, GND}, true, true, false, 3},       {{GND, GND, UNC}, false, false, false, 4},
                    {{VCC, NONE}, false, false, false, 3}};
  for (const ROW& r : rows) {
    CDB_SGATE_OPER_PORT_ENTRY* port = const_port(make_op(CDB_OPER_SELECT), CDB_OPER_PORT_A, r.bits);
    unsigned index = 99;
    EXPECT_EQ(kavu_op_iport_is_constant(port), r.constant) << &r - rows;
    EXPECT_EQ(kavu_port_is_all_gnds(port), r.all_gnds) << &r - rows;
    EXPECT_EQ(kavu_port_is_one_hot(port, &index), r.one_hot) << &r - rows;
    EXPECT_EQ(index, r.index) << &r - rows;
    EXPECT_EQ(kavu_count_real_port_iterms(port), 0u);
  }
  // Width 0 is constant, but no GND or one-hot port.
  CDB_SGATE_OPERATOR* op = make_op(CDB_OPER_SELECT);
  CDB_SGATE_OPER_PORT_ENTRY* empty = const_port(op, CDB_OPER_PORT_CIN, {});
  EXPECT_TRUE(kavu_op_iport_is_constant(op, CDB_OPER_PORT_CIN));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_port_is_all_gnds(empty), "width > 0");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_port_is_one_hot(empty, nullptr), "width > 0");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_op_iport_is_constant(out_port(op, CDB_OPER_PORT_O, 1)), "CDB_OPER_PORT_DIR_IN");
  // n-to-1 mux profile: three bits from one source (two inverted), one from another, two GND,
  // two unconnected.
  CDB_SGATE_OTERM* s = pin("s");
  CDB_SGATE_OTERM* t = pin("t");
  CDB_SGATE_OPERATOR* mux = make_op(CDB_OPER_NTO1_MUX);
  const_port(mux, CDB_OPER_PORT_A, {GND, GND, GND});
  CDB_SGATE_OPER_PORT_ENTRY* data = in_port(mux, CDB_OPER_PORT_B, {s, s, s, t}, {false, true, true});
  for (unsigned i = 4; i < 8; ++i) {
    CDB_SGATE_ITERM* bit = mux->create_input_term(nullptr);
    data->set_iterm(i, bit);
    if (i < 6) bit->set_gnd();
  }
  EXPECT_EQ(kavu_get_mux_op_input_stats(mux),
            "#diff real data = 2, #VCC = 0, #GND = 2, #unc = 2, data profile = [((1,0)x1)((2,1)x1)]");
}

TEST_F(KavuOps, SameInputsModesKindsAndDistinctSources) {
  CDB_SGATE_OTERM* x = pin("x");
  CDB_SGATE_OTERM* y = pin("y");
  CDB_SGATE_OPERATOR* a = make_op(CDB_OPER_ADDITION);
  CDB_SGATE_OPERATOR* b = make_op(CDB_OPER_ADDITION);
  in_port(a, CDB_OPER_PORT_A, {x, y}, {false, true});
  in_port(b, CDB_OPER_PORT_A, {x, y}, {false, true});
  const_port(a, CDB_OPER_PORT_B, {UNC, GND});
  CDB_SGATE_OPER_PORT_ENTRY* bb = const_port(b, CDB_OPER_PORT_B, {UNC, GND});
  out_port(a, CDB_OPER_PORT_O, 2);
  out_port(b, CDB_OPER_PORT_O, 2);
  EXPECT_TRUE(kavu_same_type_of_op(a, b) && kavu_ops_use_same_inputs(a, b) && kavu_ops_use_same_modes(a, b));
  b->set_mode3(7);
  EXPECT_FALSE(kavu_ops_use_same_modes(a, b));
  // Unconnected against GND differs.
  bb->get_iterm(0)->set_gnd();
  EXPECT_FALSE(kavu_ops_use_same_inputs(a, b));
  bb->get_iterm(0)->disconnect_from_source();
  b->get_iterm(CDB_OPER_PORT_A, 1)->invert();
  EXPECT_FALSE(kavu_ops_use_same_inputs(a, b));
  CDB_SGATE_OPERATOR* m = make_op(CDB_OPER_MULTIPLY);
  EXPECT_FALSE(kavu_same_type_of_op(a, m));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_ops_use_same_inputs(a, m), "kavu_same_type_of_op");
  CDB_SGATE_OTERM* s1 = pin("s1");
  CDB_SGATE_OPERATOR* op = make_op(CDB_OPER_ADDITION);
  in_port(op, CDB_OPER_PORT_A, {s1, s1, pin("s2"), pin("s3")}, {false, true});
  EXPECT_EQ(kavu_count_real_op_inputs(op, 2), 2);
  EXPECT_EQ(kavu_count_real_op_inputs(op, 0), 3);
  const_port(op, CDB_OPER_PORT_B, {GND, VCC});  // tied bits are no sources
  EXPECT_EQ(kavu_count_real_op_inputs(op, -1), 3);
}

TEST_F(KavuOps, ShiftAndSwapPorts) {
  CDB_SGATE_OPERATOR* op = make_op(CDB_OPER_LEFT_SHIFT);
  CDB_SGATE_OPER_PORT_ENTRY* out = out_port(op, CDB_OPER_PORT_O, 3);
  const std::vector<CDB_SGATE_OTERM*> before = {nullptr, nullptr, out->get_oterm(0), out->get_oterm(1), out->get_oterm(2)};
  kavu_shift_port(out, 2);
  ASSERT_EQ(out->get_width(), 5u);
  for (unsigned i = 0; i < 5; ++i) EXPECT_EQ(out->get_oterm(i), before[i]) << i;
  EXPECT_EQ(before[4]->get_port_index(), 4u);
  CDB_SGATE_OTERM* x = pin("x");
  CDB_SGATE_OTERM* y = pin("y");
  CDB_SGATE_OPER_PORT_ENTRY* a = in_port(op, CDB_OPER_PORT_A, {x, x});
  CDB_SGATE_OPER_PORT_ENTRY* b = in_port(op, CDB_OPER_PORT_B, {y, y}, {true, false});
  kavu_swap_ports(a, b, false);
  EXPECT_TRUE(a->get_iterm(0)->get_source() == y && a->get_iterm(0)->is_inverted());
  EXPECT_EQ(b->get_iterm(1)->get_source(), x);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_swap_ports(a, a, false), "a!=b");
  KAVU_TRACK(m_nl);
}

TEST_F(KavuOps, AnnexOutputsOfADuplicate) {
  CDB_SGATE_OPERATOR* piggy = make_op(CDB_OPER_ADDITION);
  CDB_SGATE_OPERATOR* orphan = make_op(CDB_OPER_ADDITION);
  CDB_SGATE_OPER_PORT_ENTRY* pp = out_port(piggy, CDB_OPER_PORT_O, 2);
  CDB_SGATE_OPER_PORT_ENTRY* op = out_port(orphan, CDB_OPER_PORT_O, 6);
  CDB_SGATE_ITERM* r5 = attach(op->get_oterm(5));
  CDB_SGATE_ITERM* r0 = attach(op->get_oterm(0));
  // The inverted form needs every terminal present: refused before any move.
  EXPECT_KAVU_INTERNAL_ERROR(kavu_op_annex_outputs_inverted(piggy, orphan), "oterm_piggy");
  EXPECT_EQ(r5->get_source(), op->get_oterm(5));
  kavu_op_annex_outputs(piggy, orphan);
  ASSERT_EQ(pp->get_width(), 6u);
  for (unsigned i = 0; i < 6; ++i) EXPECT_NE(pp->get_oterm(i), nullptr) << i;
  EXPECT_TRUE(r5->get_source() == pp->get_oterm(5) && r0->get_source() == pp->get_oterm(0) && !r5->is_inverted());
  EXPECT_TRUE(kavu_op_has_some_fanout(piggy) && !kavu_op_has_some_fanout(orphan));
  // Back again, inverted: every terminal exists now.
  kavu_op_annex_outputs_inverted(orphan, piggy);
  EXPECT_TRUE(r5->get_source() == op->get_oterm(5) && r5->is_inverted());
  // A partner without the port the orphan drives is refused, not dereferenced.
  EXPECT_KAVU_INTERNAL_ERROR(kavu_op_annex_outputs(make_op(CDB_OPER_ADDITION), orphan), "port_piggy");
  KAVU_TRACK(m_nl);
}

TEST_F(KavuOps, OwnersCarryTerminalsAndSelectBuddies) {
  CDB_SGATE_OPERATOR* sel = make_op(CDB_OPER_SELECT);
  CDB_SGATE_OPER_PORT_ENTRY* s = in_port(sel, CDB_OPER_PORT_A, {pin("s0"), pin("s1")});
  CDB_SGATE_OPER_PORT_ENTRY* d = in_port(sel, CDB_OPER_PORT_B, {pin("d0"), pin("d1")});
  CDB_SGATE_OPER_PORT_ENTRY* o = out_port(sel, CDB_OPER_PORT_O, 1);
  CDB_SGATE_OPER_PORT_ENTRY* c = out_port(sel, CDB_OPER_PORT_COUT, 2);
  EXPECT_TRUE(kavu_get_port_owner(s) == sel && kavu_get_port_owner(o) == sel);
  EXPECT_TRUE(kavu_iterm_is_select_on_selector(s->get_iterm(1)) && !kavu_iterm_is_select_on_selector(d->get_iterm(1)));
  EXPECT_EQ(kavu_fetch_sel_data_buddy(s->get_iterm(1)), d->get_iterm(1));
  EXPECT_EQ(kavu_fetch_sel_data_buddy(d->get_iterm(0)), nullptr);
  CDB_SGATE_OPER_PORT_ENTRY* port = nullptr;
  int index = -1;
  kavu_get_oterm_port_and_index(c->get_oterm(1), &port, &index);
  EXPECT_TRUE(port == c && index == 1);
  kavu_get_oterm_port_and_index(s->get_iterm(0)->get_source(), &port, &index);  // not an operator's
  EXPECT_TRUE(port == nullptr && index == 0);
  CDB_SGATE_OPER_PORT_ENTRY* hollow = sel->add_port("h", CDB_OPER_PORT_SHIFT, CDB_OPER_PORT_DIR_IN);
  hollow->set_iterm(2, nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_port_owner(hollow), "owner");
  CDB_SGATE_OPERATOR* add = make_op(CDB_OPER_ADDITION);
  // No carry ports: null, not an error.
  EXPECT_TRUE(kavu_fetch_cin_iterm(add) == nullptr && kavu_fetch_cout_oterm(add) == nullptr);
  CDB_SGATE_OPER_PORT_ENTRY* cin = in_port(add, CDB_OPER_PORT_CIN, {pin("c")});
  CDB_SGATE_OPER_PORT_ENTRY* cout = out_port(add, CDB_OPER_PORT_COUT, 1);
  EXPECT_EQ(kavu_fetch_cin_iterm(add), cin->get_iterm(0));
  EXPECT_EQ(kavu_fetch_cout_oterm(add), cout->get_oterm(0));
  cin->set_iterm(1, add->create_input_term(nullptr));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fetch_cin_iterm(add), "Found a bus CIN port?");
}

// The port listing classifies every bit: absent, unconnected, tied, driven.
TEST_F(KavuOps, PortListingClassifiesEveryBit) {
  CDB_SGATE_OPERATOR* op = make_op(CDB_OPER_ADDITION);
  CDB_SGATE_OPER_PORT_ENTRY* port = const_port(op, CDB_OPER_PORT_A, {NONE, VCC, GND});
  CDB_SGATE_ITERM* open = op->create_input_term(nullptr);
  port->set_iterm(3, open);
  in_port(op, CDB_OPER_PORT_B, {pin("x")}, {true});
  DEBUG_CAPTURE cap("KAVU");
  kavu_vdebug_op_iport(port);
  kavu_vdebug_op_iport(op, CDB_OPER_PORT_B);
  for (const char* word : {"0: NULL", "1: VCC", "2: GND", "3: Unconnected", "INV"})
    EXPECT_TRUE(cap.contains(word)) << word;
}
