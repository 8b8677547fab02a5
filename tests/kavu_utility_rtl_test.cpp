// Tests of the RTL terminal queries and the unused-term repairs on
// hand-built operators, multiplexers and registers.

#include <memory>

#include "kavu_dff_helper.h"
#include "kavu_utility_rtl.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// Bit kinds of a hand-built input port: driven by a fresh pin, unconnected,
// missing, VCC or GND.
enum BIT { P, UNC, NONE, V, G };

class KavuUtilityRtl : public ::testing::Test {
 protected:
  KavuUtilityRtl() : m_nl(new CDB_SGATE_NETLIST) {}
  void fresh() { m_nl.reset(new CDB_SGATE_NETLIST); }
  CDB_SGATE_OPERATOR* make_op(CDB_OPER_TYPE kind) {
    CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("op", kind);
    m_nl->add_node(op);
    return op;
  }
  CDB_SGATE_OTERM* pin() { return make_input_pin(m_nl.get(), ("i" + std::to_string(m_pins++)).c_str())->get_single_oterm(); }
  CDB_SGATE_OPER_PORT_ENTRY* port(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, const std::vector<BIT>& bits) {
    CDB_SGATE_OPER_PORT_ENTRY* p = op->add_port("in", type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < bits.size(); ++i) {
      if (bits[i] == NONE) {
        p->set_iterm(i, nullptr);
        continue;
      }
      CDB_SGATE_ITERM* t = op->create_input_term(nullptr);
      p->set_iterm(i, t);
      if (bits[i] == P) pin()->insert_fanout(t);
      if (bits[i] == V) t->set_vcc();
      if (bits[i] == G) t->set_gnd();
    }
    return p;
  }
  // Every output terminal of every gate drives an output pin.
  void observe_everything() {
    std::vector<CDB_SGATE_OTERM*> outs;
    for (auto it = m_nl->begin_node_list(); it != m_nl->end_node_list(); ++it)
      if (*it && !(*it)->is_pin())
        for (CDB_SGATE_OTERM* t : (*it)->get_output_terms())
          if (t) outs.push_back(t);
    for (CDB_SGATE_OTERM* t : outs)
      t->insert_fanout(make_output_pin(m_nl.get(), ("o" + std::to_string(m_pins++)).c_str(), nullptr)->get_input_term(0));
  }
  void expect_sound_and_simulates() {
    observe_everything();
    std::string report;
    EXPECT_TRUE(m_nl->check(&report)) << report;
    NETLIST_SIMULATOR sim(m_nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim.randomize_inputs(7);
    sim.eval();
  }
  static int count_lines(const DEBUG_CAPTURE& cap, const std::string& text) {
    int n = 0;
    for (const std::string& l : cap.lines()) n += l.find(text) != std::string::npos;
    return n;
  }

  std::unique_ptr<CDB_SGATE_NETLIST> m_nl;
  int m_pins = 0;
};

}  // namespace

// Every operator kind with missing, unconnected and too narrow ports: what
// each fixer ties, how the widths end and how many warnings it writes; the
// repaired netlist is sound and simulates.
TEST_F(KavuUtilityRtl, FixersTieEveryMissingOperatorBitToGnd) {
  struct ROW {
    CDB_OPER_TYPE kind;
    std::vector<BIT> a, b;
    unsigned outputs;
    void (*fix)(CDB_SGATE_NETLIST*);
    unsigned width_a, width_b;  // after the repair
    const char* warning;
    int warnings;
  } const rows[] = {
      {CDB_OPER_ADDITION, {P, UNC}, {NONE, P, NONE}, 1, rtl_fix_unused_add_terms, 3, 3, "grounded an unconnected adder", 4},
      {CDB_OPER_ADDITION, {}, {}, 1, rtl_fix_unused_add_terms, 1, 1, "grounded an unconnected adder", 2},
      {CDB_OPER_COMPARE, {UNC}, {P, P}, 1, rtl_fix_unused_compare_terms, 2, 2, "grounded an unconnected compare A", 2},
      {CDB_OPER_SELECT, {P, NONE}, {UNC, P, P}, 1, rtl_fix_unused_selector_terms, 3, 3, "grounded an unconnected selector", 3},
      // N-to-1 multiplexers: data padded to 2^select, or the select widened.
      {CDB_OPER_NTO1_MUX, {P, P}, {P, P, P}, 1, rtl_fix_unused_mux_terms, 2, 4, "increased MUX data width", 1},
      {CDB_OPER_NTO1_MUX, {P}, {P, P, P, P}, 1, rtl_fix_unused_mux_terms, 2, 4, "increased MUX sel width", 1},
      // A select that must grow over a data width that is no power of two:
      // both grow (this used to stop on an internal error).
      {CDB_OPER_NTO1_MUX, {UNC}, {P, P, P}, 1, rtl_fix_unused_mux_terms, 2, 4, "RTL increased MUX", 2},
      {CDB_OPER_NTO1_MUX, {P, P}, {P, P, P, P, P}, 1, rtl_fix_unused_mux_terms, 3, 8, "RTL increased MUX", 4},
      {CDB_OPER_DECODE, {P, NONE}, {}, 8, rtl_fix_unused_decoder_terms, 3, 0, "decoder", 3},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(&r - rows);
    fresh();
    CDB_SGATE_OPERATOR* op = make_op(r.kind);
    port(op, CDB_OPER_PORT_A, r.a);
    if (r.kind != CDB_OPER_DECODE) port(op, CDB_OPER_PORT_B, r.b);
    CDB_SGATE_OPER_PORT_ENTRY* o = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
    o->set_oterm(r.outputs - 1, nullptr);
    {
      DEBUG_CAPTURE cap("KAVU");
      r.fix(m_nl.get());
      EXPECT_EQ(count_lines(cap, r.warning), r.warnings);
    }
    ASSERT_EQ(op->get_width(CDB_OPER_PORT_A), r.width_a);
    ASSERT_EQ(op->get_width(CDB_OPER_PORT_B), r.width_b);
    for (CDB_OPER_PORT_TYPE type : {CDB_OPER_PORT_A, CDB_OPER_PORT_B}) {
      const std::vector<BIT>& before = type == CDB_OPER_PORT_A ? r.a : r.b;
      for (unsigned i = 0; i < op->get_width(type); ++i) {
        CDB_SGATE_ITERM* t = op->get_iterm(type, i);
        ASSERT_TRUE(t && cdb_is_connected(t)) << type << ":" << i;
        EXPECT_EQ(t->is_gnd(), i >= before.size() || before[i] != P) << type << ":" << i;
      }
    }
    // The sum grows to the wider operand.
    EXPECT_EQ(rtl_add_missing_oterms(m_nl.get()), int(r.kind == CDB_OPER_ADDITION ? r.width_a : r.outputs));
    expect_sound_and_simulates();
  }
}

// Registers and 2:1 multiplexers: each slot's neutral constant, created
// where missing; the clock stays unconnected; only the data tie warns.
TEST_F(KavuUtilityRtl, RegisterAndMuxSlotsGetTheirNeutralConstants) {
  CDB_SGATE_DFF* dff = new CDB_SGATE_DFF(nullptr);
  m_nl->add_node(dff);
  CDB_SGATE_ITERM* ena = dff->create_input_term(nullptr, CDB_SGATE_DFF::get_port_type_of_position(CDB_DFF_ENA));
  dff->set_input_term(ena, CDB_DFF_ENA);
  CDB_SGATE_ITERM* aclr = dff->create_input_term(nullptr, CDB_SGATE_DFF::get_port_type_of_position(CDB_DFF_ACLR));
  dff->set_input_term(aclr, CDB_DFF_ACLR);
  pin()->insert_fanout(aclr);
  CDB_SGATE_NODE* mux = make_mux(m_nl.get(), nullptr, nullptr, nullptr);
  mux->get_input_term(CDB_MUX_DATA1)->disconnect_from_source();
  mux->delete_input_term(mux->get_input_term(CDB_MUX_SELECT));
  pin()->insert_fanout(mux->get_input_term(CDB_MUX_DATA0));
  DEBUG_CAPTURE cap("KAVU");
  rtl_fix_unused_dff_terms(m_nl.get());
  rtl_fix_unused_mux_terms(m_nl.get());
  struct SLOT {
    unsigned pos;
    int value;  // 1 VCC, 0 GND, -1 unconnected, 2 driven
  } const slots[] = {{CDB_DFF_DATA, 0}, {CDB_DFF_CLK, -1}, {CDB_DFF_ACLR, 2}, {CDB_DFF_PRESET, 0}, {CDB_DFF_ENA, 1},
                     {CDB_DFF_ADATA, 1}, {CDB_DFF_ALOAD, 0}, {CDB_DFF_SCLR, 0}, {CDB_DFF_SLOAD, 0}};
  for (const SLOT& s : slots) {
    CDB_SGATE_ITERM* t = dff->get_input_term(s.pos);
    if (s.value == -1) {
      EXPECT_TRUE(!t || !cdb_is_connected(t)) << s.pos;
      continue;
    }
    ASSERT_TRUE(t && cdb_is_connected(t)) << s.pos;
    EXPECT_EQ(t->get_port_type(), CDB_SGATE_DFF::get_port_type_of_position(s.pos)) << s.pos;
    if (s.value == 2) EXPECT_TRUE(t->get_source() != nullptr);
    else EXPECT_EQ(t->is_vcc(), s.value == 1) << s.pos;
  }
  EXPECT_TRUE(ena->is_vcc());
  EXPECT_EQ(count_lines(cap, "WARNING: RTL grounded an unconnected DIN"), 1);
  EXPECT_EQ(count_lines(cap, "WARNING: RTL grounded"), 3);  // DIN, 21MUX data, 21MUX select
  EXPECT_TRUE(mux->get_input_term(CDB_MUX_DATA1)->is_gnd());
  EXPECT_TRUE(mux->get_input_term(CDB_MUX_SELECT)->is_gnd());
  std::string report;
  EXPECT_TRUE(m_nl->check(&report)) << report;
}

TEST_F(KavuUtilityRtl, OutputTerminalsAndTheSelectWidthCap) {
  CDB_SGATE_OPERATOR* add = make_op(CDB_OPER_ADDITION);
  port(add, CDB_OPER_PORT_A, {P, P, P, P});
  port(add, CDB_OPER_PORT_B, {P, P, P, P, P, P});
  CDB_SGATE_OPER_PORT_ENTRY* sum = add->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  sum->set_oterm(1, add->create_output_term(nullptr));
  CDB_SGATE_OPERATOR* dec = make_op(CDB_OPER_DECODE);
  port(dec, CDB_OPER_PORT_A, {P, P});
  dec->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_EQ(rtl_add_missing_oterms(m_nl.get()), 5 + 4);
  EXPECT_TRUE(cap.contains("Created 9 oterms to fully populate OPORTs"));
  EXPECT_EQ(sum->get_width(), 6u);
  EXPECT_EQ(dec->get_width(CDB_OPER_PORT_O), 4u);
  for (unsigned i = 0; i < 6; ++i) EXPECT_EQ(sum->get_oterm(i)->get_my_node(), add);
  EXPECT_EQ(rtl_add_missing_oterms(m_nl.get()), 0);
  expect_sound_and_simulates();
  // A select of 17 bits would ask for 131072 outputs or data bits.
  fresh();
  CDB_SGATE_OPERATOR* wide = make_op(CDB_OPER_DECODE);
  port(wide, CDB_OPER_PORT_A, std::vector<BIT>(17, UNC));
  wide->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_add_missing_oterms(m_nl.get()), "RTL_MAX_SELECT_WIDTH");
  CDB_SGATE_OPERATOR* mux = make_op(CDB_OPER_NTO1_MUX);
  port(mux, CDB_OPER_PORT_A, std::vector<BIT>(17, UNC));
  port(mux, CDB_OPER_PORT_B, {P});
  EXPECT_KAVU_INTERNAL_ERROR(rtl_fix_unused_mux_terms(m_nl.get()), "RTL_MAX_SELECT_WIDTH");
  EXPECT_EQ(mux->get_width(CDB_OPER_PORT_B), 1u);
}

TEST_F(KavuUtilityRtl, ConstantPortValues) {
  struct ROW {
    std::vector<BIT> bits;
    bool constant;
    int value;
  } rows[] = {{{V, G, V}, true, 5}, {{V, P}, false, 1}, {{G, UNC}, false, 0}, {{V, NONE}, false, 1}};
  for (const ROW& r : rows) {
    CDB_SGATE_OPERATOR* op = make_op(CDB_OPER_SELECT);
    port(op, CDB_OPER_PORT_A, r.bits);
    int value = -7;
    EXPECT_EQ(rtl_oper_port_has_constant_value(op, CDB_OPER_PORT_A, &value), r.constant) << &r - rows;
    EXPECT_EQ(value, r.value) << &r - rows;
  }
  // Ports wider than 32 bits: GND above bit 31 keeps the value, a VCC there
  // cannot be held (it used to wrap onto bit i - 32).
  std::vector<BIT> wide(40, G);
  wide[0] = V;
  CDB_SGATE_OPERATOR* op = make_op(CDB_OPER_SELECT);
  port(op, CDB_OPER_PORT_A, wide);
  int value = 0;
  EXPECT_TRUE(rtl_oper_port_has_constant_value(op, CDB_OPER_PORT_A, &value));
  EXPECT_EQ(value, 1);
  op->get_iterm(CDB_OPER_PORT_A, 33)->set_vcc();
  EXPECT_FALSE(rtl_oper_port_has_constant_value(op, CDB_OPER_PORT_A, &value));
  EXPECT_EQ(value, 1);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_oper_port_has_constant_value(op, CDB_OPER_PORT_B, &value), "port_width > 0");
}

TEST_F(KavuUtilityRtl, SameAndInvertedSources) {
  CDB_SGATE_OPERATOR* op = make_op(CDB_OPER_SELECT);
  CDB_SGATE_OPER_PORT_ENTRY* p = port(op, CDB_OPER_PORT_A, {UNC, UNC, V, G, P, UNC});
  CDB_SGATE_ITERM* u1 = p->get_iterm(0);
  CDB_SGATE_ITERM* u2 = p->get_iterm(1);
  CDB_SGATE_ITERM* vcc = p->get_iterm(2);
  CDB_SGATE_ITERM* gnd = p->get_iterm(3);
  CDB_SGATE_ITERM* x = p->get_iterm(4);
  CDB_SGATE_ITERM* nx = p->get_iterm(5);
  x->get_source()->insert_fanout(nx);
  nx->invert();
  struct ROW {
    CDB_SGATE_ITERM *a, *b;
    bool same, inverted;
  } const rows[] = {{u1, u2, true, false},    {u1, nullptr, true, false}, {u1, vcc, false, false},
                    {vcc, gnd, false, true},  {gnd, gnd, true, false},    {x, x, true, false},
                    {x, nx, false, true},     {nx, vcc, false, false},    {vcc, vcc, true, false}};
  for (const ROW& r : rows) {
    EXPECT_EQ(rtl_iterms_have_same_source(r.a, r.b), r.same) << &r - rows;
    EXPECT_EQ(rtl_iterms_have_inverted_source(r.a, r.b), r.inverted) << &r - rows;
  }
  std::vector<CDB_SGATE_ITERM*> v1 = {u1, x, gnd}, v2 = {u2, x, gnd}, v3 = {u2, nx, gnd}, empty;
  EXPECT_TRUE(rtl_iterm_vectors_have_same_source(&v1, &v2));
  EXPECT_FALSE(rtl_iterm_vectors_have_same_source(&v1, &v3));
  EXPECT_TRUE(rtl_iterm_vectors_have_same_source(&empty, &empty));
  EXPECT_KAVU_INTERNAL_ERROR(rtl_iterm_vectors_have_same_source(&v1, &empty), "size()");
}

// A 2:1 multiplexer with a constant data input acts as an AND or OR; the
// select polarity flip keeps its function (checked by simulation).
TEST_F(KavuUtilityRtl, MuxAsTwoInputAndOr) {
  struct ROW {
    int d0, d1;  // 1 VCC, 0 GND, 2 a pin
    bool is_and, is_or, flipped;
  } const rows[] = {{0, 2, true, false, false}, {2, 0, true, false, true}, {1, 2, false, true, true},
                    {2, 1, false, true, false}, {2, 2, false, false, false}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(&r - rows);
    fresh();
    CDB_SGATE_NODE* a = make_input_pin(m_nl.get(), "a");
    CDB_SGATE_NODE* s = make_input_pin(m_nl.get(), "s");
    CDB_SGATE_NODE* m = make_mux(m_nl.get(), r.d0 == 2 ? a : nullptr, r.d1 == 2 ? a : nullptr, s);
    if (r.d0 == 0) m->get_input_term(CDB_MUX_DATA0)->set_gnd();
    if (r.d1 == 0) m->get_input_term(CDB_MUX_DATA1)->set_gnd();
    make_output_pin(m_nl.get(), "y", m);
    std::unique_ptr<CDB_SGATE_NETLIST> before(m_nl->clone(nullptr, true, true));
    CDB_SGATE_ITERM* ins[2] = {nullptr, nullptr};
    const bool is_and = rtl_node_is_2_input_and_equivalent(m, ins);
    const bool is_or = !is_and && rtl_node_is_2_input_or_equivalent(m, ins);
    EXPECT_EQ(is_and, r.is_and);
    EXPECT_EQ(is_or, r.is_or);
    EXPECT_EQ(m->get_input_term(CDB_MUX_SELECT)->is_inverted(), r.flipped);
    if (is_and || is_or) {
      EXPECT_EQ(ins[1], m->get_input_term(CDB_MUX_SELECT));
      EXPECT_EQ(ins[0]->get_source(), a->get_single_oterm());
    }
    ASSERT_KAVU_EQUIVALENT(before, m_nl);
  }
  CDB_SGATE_NODE* g = make_and(m_nl.get(), make_input_pin(m_nl.get(), "p"), make_input_pin(m_nl.get(), "q"));
  CDB_SGATE_ITERM* ins[2] = {nullptr, nullptr};
  EXPECT_TRUE(rtl_node_is_2_input_and_equivalent(g, ins));
  EXPECT_EQ(ins[0], g->get_input_term(0));
  EXPECT_FALSE(rtl_node_is_2_input_or_equivalent(g, ins));
  EXPECT_KAVU_INTERNAL_ERROR(rtl_flip_mux_sel_polarity(g), "kavu_is_a_mux");
}
