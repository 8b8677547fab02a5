// Tests of cone simulation into truth tables: cones of the EPFL circuits
// against the bit-parallel simulator, every word-level operator against
// brute force, the input rules of the bit-level builders, refused input, and
// the tables of written covers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl_cone.h"
#include "kavu_wiring_helper.h"
#include "kavu_01tbl_test_support.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

using kavu_01tbl_test::PINS;

namespace {

// Tables of a sample of cones (4 to 8 inputs) checked against the
// simulator's values of each root and its cut over random patterns.
// Returns the number of cones checked.
int check_cones(const CDB_SGATE_NETLIST* netlist, const std::string& name, int max_cones) {
  NETLIST_SIMULATOR sim(netlist);
  EXPECT_TRUE(sim.ok()) << name << ": " << sim.error();
  if (!sim.ok()) return 0;
  std::vector<CDB_SGATE_OTERM*> roots;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_01tbl_test::is_logic_gate(*it) && (*it)->get_single_oterm()) roots.push_back((*it)->get_single_oterm());
  const size_t stride = std::max<size_t>(1, roots.size() / size_t(max_cones));
  struct CONE {
    CDB_SGATE_OTERM* root;
    std::vector<CDB_SGATE_OTERM*> cut;
    KAVU_01TBL table;
  };
  std::vector<CONE> cones;
  for (size_t r = 0; r < roots.size() && int(cones.size()) < max_cones; r += stride) {
    std::vector<CDB_SGATE_OTERM*> cut = kavu_01tbl_test::grow_cut(roots[r], 4 + r % 5);
    if (cut.size() < 4 || cut.size() > 8) continue;
    cones.push_back({roots[r], cut, kavu_cone_01tbl(roots[r], cut, nullptr)});
  }
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    sim.randomize_inputs(seed);
    sim.eval();
    for (const CONE& c : cones) {
      EXPECT_TRUE(kavu_01tbl_test::agrees_with_simulation(sim, c.table, c.root, c.cut)) << name;
      if (::testing::Test::HasFailure()) return -1;
    }
  }
  return int(cones.size());
}

}  // namespace

TEST(Kavu01tblConeSimulation, EpflConesMatchTheSimulator) {
  for (const char* name : {"adder", "bar", "cavlc", "ctrl", "dec", "i2c", "int2float", "max", "priority",
                           "router", "sin"}) {
    auto netlist = load_blif(std::string("epfl/") + name);
    EXPECT_GE(check_cones(netlist.get(), name, 40), 10) << name;
  }
}

TEST(Kavu01tblConeSimulation, CombGateConesMatchTheSimulator) {
  // The same circuits built from AND, OR and NOT gates instead of LUTs.
  BLIF_READ_OPTIONS options;
  options.names = BLIF_READ_OPTIONS::ALL_COMB;
  for (const char* name : {"cavlc", "int2float", "router"}) {
    auto netlist = load_blif(std::string("epfl/") + name, options);
    EXPECT_GE(check_cones(netlist.get(), name, 40), 10) << name;
  }
}

// ---- word-level operators against brute force ----
namespace {

// An operator whose input ports are driven by input pins; the pins' outputs
// are the fan-ins, in the order the ports were added.
class OP_RIG {
 public:
  explicit OP_RIG(CDB_OPER_TYPE kind, bool is_signed = false) {
    m_op = new CDB_SGATE_OPERATOR("op", kind);
    m_op->set_signed(is_signed ? 1 : 0);
    m_netlist.add_node(m_op);
  }
  // An input port of `width` bits, each driven by a new pin; returns the
  // variable index of its bit 0.
  unsigned add_input(CDB_OPER_PORT_TYPE type, unsigned width) {
    const unsigned first = unsigned(m_fanins.size());
    CDB_SGATE_OPER_PORT_ENTRY* port = m_op->add_port("in", type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < width; ++i) {
      CDB_SGATE_NODE* pin = make_input_pin(&m_netlist, ("p" + std::to_string(m_fanins.size())).c_str());
      CDB_SGATE_ITERM* t = m_op->create_input_term(nullptr);
      port->set_iterm(i, t);
      pin->get_single_oterm()->insert_fanout(t);
      m_fanins.push_back(pin->get_single_oterm());
    }
    return first;
  }
  CDB_SGATE_OPER_PORT_ENTRY* add_output(CDB_OPER_PORT_TYPE type, unsigned width) {
    CDB_SGATE_OPER_PORT_ENTRY* port = m_op->add_port("out", type, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < width; ++i) port->set_oterm(i, m_op->create_output_term(nullptr));
    return port;
  }
  KAVU_01TBL table(CDB_SGATE_OTERM* out) { return kavu_cone_01tbl(out, m_fanins, nullptr); }
  // Every minterm of bit k of the result port against expected(m).
  void expect_bits(CDB_OPER_PORT_TYPE out_type, const std::function<bool(unsigned m, unsigned k)>& expected,
                   const char* what) {
    const CDB_SGATE_OPER_PORT_ENTRY* out = m_op->get_port(out_type);
    for (unsigned k = 0; k < out->get_width(); ++k) {
      const KAVU_01TBL tbl = table(out->get_oterm(k));
      for (unsigned m = 0; m < (1u << m_fanins.size()); ++m) {
        ASSERT_EQ(tbl.minterm(m), expected(m, k) ? 1u : 0u) << what << " bit " << k << " minterm " << m;
      }
    }
  }
  CDB_SGATE_OPERATOR* op() { return m_op; }
  CDB_SGATE_NETLIST& netlist() { return m_netlist; }
  std::vector<CDB_SGATE_OTERM*>& fanins() { return m_fanins; }

 private:
  CDB_SGATE_NETLIST m_netlist;
  CDB_SGATE_OPERATOR* m_op;
  std::vector<CDB_SGATE_OTERM*> m_fanins;
};

unsigned field(unsigned m, unsigned first, unsigned width) { return (m >> first) & ((1u << width) - 1); }
int as_signed(unsigned v, unsigned width) {
  return (width > 0 && ((v >> (width - 1)) & 1u)) ? int(v) - (1 << width) : int(v);
}

}  // namespace

TEST(Kavu01tblWordOperators, AdderWithAndWithoutCarryIn) {
  for (int cin_mode = 0; cin_mode < 3; ++cin_mode) {  // none, a variable, tied to 1
    OP_RIG rig(CDB_OPER_ADDITION);
    const unsigned a = rig.add_input(CDB_OPER_PORT_A, 3);
    const unsigned b = rig.add_input(CDB_OPER_PORT_B, 3);
    unsigned c = 0;
    if (cin_mode == 1) c = rig.add_input(CDB_OPER_PORT_CIN, 1);
    if (cin_mode == 2) {
      CDB_SGATE_ITERM* t = rig.op()->create_input_term(nullptr);
      rig.op()->add_port("cin", CDB_OPER_PORT_CIN, CDB_OPER_PORT_DIR_IN)->set_iterm(0, t);
      t->set_vcc();
    }
    rig.add_output(CDB_OPER_PORT_O, 3);
    CDB_SGATE_OPER_PORT_ENTRY* cout = rig.add_output(CDB_OPER_PORT_COUT, 1);
    rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned k) {
      const unsigned carry = cin_mode == 1 ? field(m, c, 1) : cin_mode == 2 ? 1 : 0;
      return ((field(m, a, 3) + field(m, b, 3) + carry) >> k) & 1u;
    }, "add");
    // The carry-out is no bit of the result word.
    EXPECT_KAVU_INTERNAL_ERROR(rig.table(cout->get_oterm(0)), "Which bit of the add output is this?");
  }
}

TEST(Kavu01tblWordOperators, CompareIsUnsignedLessThanOrEqualByCarryIn) {
  OP_RIG rig(CDB_OPER_COMPARE);
  const unsigned a = rig.add_input(CDB_OPER_PORT_A, 3);
  const unsigned b = rig.add_input(CDB_OPER_PORT_B, 3);
  const unsigned c = rig.add_input(CDB_OPER_PORT_CIN, 1);
  rig.add_output(CDB_OPER_PORT_O, 1);
  rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned) {
    const unsigned x = field(m, a, 3), y = field(m, b, 3);
    return x < y || (x == y && field(m, c, 1));
  }, "compare");
}

TEST(Kavu01tblWordOperators, EqualityMuxesSelectAndDecode) {
  {
    OP_RIG rig(CDB_OPER_EQUAL);
    const unsigned a = rig.add_input(CDB_OPER_PORT_A, 3);
    const unsigned b = rig.add_input(CDB_OPER_PORT_B, 3);
    rig.add_output(CDB_OPER_PORT_O, 1);
    rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned) { return field(m, a, 3) == field(m, b, 3); }, "eq");
  }
  {
    OP_RIG rig(CDB_OPER_NTO1_MUX);
    const unsigned s = rig.add_input(CDB_OPER_PORT_A, 2);
    const unsigned d = rig.add_input(CDB_OPER_PORT_B, 4);
    rig.add_output(CDB_OPER_PORT_O, 1);
    rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned) { return field(m, d + field(m, s, 2), 1); }, "nto1");
  }
  {
    OP_RIG rig(CDB_OPER_SELECT);
    const unsigned s = rig.add_input(CDB_OPER_PORT_A, 3);
    const unsigned d = rig.add_input(CDB_OPER_PORT_B, 3);
    rig.add_output(CDB_OPER_PORT_O, 1);
    rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned) { return (field(m, s, 3) & field(m, d, 3)) != 0; },
                    "select");
  }
  {
    OP_RIG rig(CDB_OPER_DECODE);
    const unsigned s = rig.add_input(CDB_OPER_PORT_A, 3);
    rig.add_output(CDB_OPER_PORT_O, 8);
    rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned k) { return field(m, s, 3) == k; }, "decode");
  }
}

TEST(Kavu01tblWordOperators, ShiftsAndRotationsAgainstBruteForce) {
  // Data widths around a power of two, distances wider than needed so that
  // distances at and beyond the width occur.
  for (unsigned dw : {3u, 4u, 5u}) {
    for (CDB_OPER_TYPE kind : {CDB_OPER_LEFT_SHIFT, CDB_OPER_RIGHT_SHIFT, CDB_OPER_LEFT_ROTATE, CDB_OPER_RIGHT_ROTATE}) {
      const bool shift = kind == CDB_OPER_LEFT_SHIFT || kind == CDB_OPER_RIGHT_SHIFT;
      OP_RIG rig(kind);
      const unsigned d = rig.add_input(CDB_OPER_PORT_A, dw);
      const unsigned s = rig.add_input(CDB_OPER_PORT_SHIFT, 3);
      const unsigned c = shift ? rig.add_input(CDB_OPER_PORT_CIN, 1) : 0;
      rig.add_output(CDB_OPER_PORT_O, dw);
      rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned k) {
        const unsigned data = field(m, d, dw), dist = field(m, s, 3);
        const unsigned fill = shift ? field(m, c, 1) : 0;
        switch (kind) {
          case CDB_OPER_LEFT_SHIFT: return dist <= k ? (data >> (k - dist)) & 1u : fill;
          case CDB_OPER_RIGHT_SHIFT: return k + dist < dw ? (data >> (k + dist)) & 1u : fill;
          case CDB_OPER_LEFT_ROTATE: return (data >> ((k + dw * 8 - dist) % dw)) & 1u;
          default: return (data >> ((k + dist) % dw)) & 1u;
        }
      }, "shift");
    }
  }
}

TEST(Kavu01tblWordOperators, WideShiftDistancesStayCheap) {
  // A 31-bit distance once meant 2^31 enumerated terms; only the distances
  // that reach a data bit are enumerated now, the rest give the fill.
  OP_RIG rig(CDB_OPER_RIGHT_SHIFT);
  const unsigned d = rig.add_input(CDB_OPER_PORT_A, 2);
  CDB_SGATE_OPER_PORT_ENTRY* dist = rig.op()->add_port("s", CDB_OPER_PORT_SHIFT, CDB_OPER_PORT_DIR_IN);
  const unsigned s0 = unsigned(rig.fanins().size());
  rig.add_input(CDB_OPER_PORT_CIN, 1);  // variable 2 is the fill; the distance's bit 0 is variable 3
  CDB_SGATE_NODE* pin = make_input_pin(&rig.netlist(), "s0");
  rig.fanins().push_back(pin->get_single_oterm());
  for (unsigned j = 0; j < 31; ++j) {
    CDB_SGATE_ITERM* t = rig.op()->create_input_term(nullptr);
    dist->set_iterm(j, t);
    if (j == 0) pin->get_single_oterm()->insert_fanout(t);
    else t->set_gnd();
  }
  rig.add_output(CDB_OPER_PORT_O, 2);
  rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned k) {
    const unsigned data = field(m, d, 2), amount = field(m, s0 + 1, 1), fill = field(m, s0, 1);
    return k + amount < 2 ? (data >> (k + amount)) & 1u : fill;
  }, "wide shift");
  // A 32-bit distance is still refused.
  CDB_SGATE_ITERM* t = rig.op()->create_input_term(nullptr);
  dist->set_iterm(31, t);
  t->set_gnd();
  EXPECT_KAVU_INTERNAL_ERROR(rig.table(rig.op()->get_oterm(CDB_OPER_PORT_O, 0)), "shifter this wide");
}

TEST(Kavu01tblWordOperators, MultiplierSignedAndUnsigned) {
  for (bool is_signed : {false, true}) {
    OP_RIG rig(CDB_OPER_MULTIPLY, is_signed);
    const unsigned a = rig.add_input(CDB_OPER_PORT_A, 3);
    const unsigned b = rig.add_input(CDB_OPER_PORT_B, 2);
    rig.add_output(CDB_OPER_PORT_O, 5);
    rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned k) {
      const int x = is_signed ? as_signed(field(m, a, 3), 3) : int(field(m, a, 3));
      const int y = is_signed ? as_signed(field(m, b, 2), 2) : int(field(m, b, 2));
      return (unsigned(x * y) >> k) & 1u;
    }, is_signed ? "signed mult" : "mult");
  }
}

TEST(Kavu01tblWordOperators, DividerSignedAndUnsignedWithZeroDenominator) {
  for (bool is_signed : {false, true}) {
    OP_RIG rig(CDB_OPER_DIVIDE, is_signed);
    const unsigned a = rig.add_input(CDB_OPER_PORT_A, 4);
    const unsigned b = rig.add_input(CDB_OPER_PORT_B, 3);
    rig.add_output(CDB_OPER_PORT_O, 4);
    rig.expect_bits(CDB_OPER_PORT_O, [&](unsigned m, unsigned k) {
      const unsigned ua = field(m, a, 4), ub = field(m, b, 3);
      if (!is_signed) return ((ub == 0 ? 0xFu : ua / ub) >> k) & 1u;
      const int x = as_signed(ua, 4), y = as_signed(ub, 3);
      // Magnitudes divided, then the sign applied; -8 keeps its pattern.
      const unsigned mx = unsigned(x < 0 ? -x : x) & 0xFu, my = unsigned(y < 0 ? -y : y) & 0x7u;
      const unsigned q = my == 0 ? 0x1Fu : mx / my;
      const unsigned quot = ((x < 0) != (y < 0)) ? unsigned(-int(q)) : q;
      return (quot >> k) & 1u;
    }, is_signed ? "signed div" : "div");
  }
}

TEST(Kavu01tblWordOperators, UnsignedDividerReadsOnlyTheNumeratorBitsItNeeds) {
  OP_RIG rig(CDB_OPER_DIVIDE);
  rig.add_input(CDB_OPER_PORT_A, 4);
  rig.add_input(CDB_OPER_PORT_B, 2);
  rig.add_output(CDB_OPER_PORT_O, 4);
  rig.op()->get_iterm(CDB_OPER_PORT_A, 0)->disconnect_from_source();
  // Quotient bit 1 does not depend on numerator bit 0; bit 0 does.
  EXPECT_NO_THROW(rig.table(rig.op()->get_oterm(CDB_OPER_PORT_O, 1)));
  EXPECT_KAVU_INTERNAL_ERROR(rig.table(rig.op()->get_oterm(CDB_OPER_PORT_O, 0)), "cdb_is_connected");
}

// ---- bit-level builders and the input rule ----
namespace {

// The one word of g's table over the fan-ins.
unsigned word0(PINS& px, CDB_SGATE_NODE* g) { return kavu_cone_01tbl(g->get_single_oterm(), px.fanins, nullptr).word(0); }

}  // namespace

TEST(Kavu01tblConeBuilders, InputRulesOfCombLutAndMux) {
  PINS px(2);
  CDB_SGATE_NODE* a = make_and(&px.nl, px.pins[0], px.pins[1]);
  EXPECT_EQ(word0(px, a), 0x8u);
  // An unconnected input leaves a comb gate's accumulator alone.
  a->get_input_term(1)->disconnect_from_source();
  EXPECT_EQ(word0(px, a), 0xAu);
  EXPECT_EQ(word0(px, make_not(&px.nl, px.pins[1])), 0x3u);
  // LUTs and muxes read an unconnected input as 1.
  CDB_SGATE_NODE* lut = make_lut(&px.nl, {px.pins[0], px.pins[1]}, 0x8);
  lut->get_input_term(1)->disconnect_from_source();
  EXPECT_EQ(word0(px, lut), 0xAu);
  EXPECT_EQ(word0(px, make_mux(&px.nl, px.pins[0], nullptr, px.pins[1])), 0xEu);  // x1 ? VCC : x0
  // An inverted input and an inverted output both complement.
  CDB_SGATE_NODE* x = make_xor(&px.nl, px.pins[0], px.pins[1]);
  x->get_input_term(0)->invert();
  EXPECT_EQ(word0(px, x), 0x9u);
  x->get_single_oterm()->invert();
  EXPECT_EQ(word0(px, x), 0x6u);
}

TEST(Kavu01tblConeBuilders, FaninsRootsAndEmptyCuts) {
  PINS px(3);
  CDB_SGATE_NODE* a = make_and(&px.nl, px.pins[0], px.pins[2]);
  // A fan-in listed twice keeps its first variable.
  std::vector<CDB_SGATE_OTERM*> cut = {px.fanins[0], px.fanins[2], px.fanins[0]};
  KAVU_01TBL t = kavu_cone_01tbl(a->get_single_oterm(), cut, nullptr);
  EXPECT_TRUE(t.num_vars() == 3 && t.word(0) == 0x88u);
  // The root among the fan-ins is its literal.
  cut = {px.fanins[1], a->get_single_oterm()};
  EXPECT_EQ(kavu_cone_01tbl(a->get_single_oterm(), cut, nullptr).word(0), 0xCu);
  // A cone of constants over no fan-ins.
  std::vector<CDB_SGATE_OTERM*> none;
  t = kavu_cone_01tbl(make_and(&px.nl, nullptr, nullptr)->get_single_oterm(), none, nullptr);
  EXPECT_TRUE(t.num_vars() == 0 && t.onset_volume() == 1);
  // An order that lists a fan-in replaces its literal's table by the
  // simulated one.
  CDB_SGATE_NODE* g = make_not(&px.nl, px.pins[0]);
  CDB_SGATE_NODE* h = make_and(&px.nl, g, px.pins[1]);
  cut = {px.fanins[0], g->get_single_oterm(), px.fanins[1]};
  std::vector<CDB_SGATE_OTERM*> order = {g->get_single_oterm(), h->get_single_oterm()};
  EXPECT_EQ(kavu_cone_01tbl(h->get_single_oterm(), cut, &order).word(0), 0x50u);  // NOT x0 AND x2
}

TEST(Kavu01tblConeBuilders, CarrySumAndLogicCellAtom) {
  PINS px(7);
  CDB_SGATE_CARRY_SUM* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  px.nl.add_node(cs);
  for (unsigned i = 0; i < 2; ++i) {
    CDB_SGATE_ITERM* t = cs->create_input_term(nullptr);
    cs->set_input_term(t, i);
    px.fanins[i]->insert_fanout(t);
  }
  std::vector<CDB_SGATE_OTERM*> two = px.first(2);
  EXPECT_EQ(kavu_cone_01tbl(cs->get_output_term(0), two, nullptr).word(0), 0xAu);
  EXPECT_EQ(kavu_cone_01tbl(cs->get_output_term(1), two, nullptr).word(0), 0xCu);

  CDB_SGATE_WYSIWYG* cell = new CDB_SGATE_WYSIWYG(nullptr, 61);
  px.nl.add_node(cell);
  for (unsigned j = 0; j < 7; ++j) px.fanins[j]->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(12 + j), cell));
  CDB_SGATE_OTERM* combout = kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE(9), cell, false);
  ASSERT_NE(combout, nullptr);
  cell->set_lutmask_value(0xF0F0F0F0F0F0F0F0ull);  // passes input 2
  KAVU_01TBL x2(7);
  x2.variable(2, true);
  EXPECT_EQ(kavu_cone_01tbl(combout, px.fanins, nullptr), x2);
  // Extended mode: where input 4 is 1, position 2 follows the seventh input.
  cell->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  const KAVU_01TBL ext = kavu_cone_01tbl(combout, px.fanins, nullptr);
  for (unsigned m = 0; m < 128; ++m) ASSERT_EQ(ext.minterm(m), ((m >> 4) & 1u) ? (m >> 6) & 1u : (m >> 2) & 1u) << m;
}

TEST(Kavu01tblConeBuilders, RefusedInput) {
  PINS px(2);
  CDB_SGATE_NODE* a = make_and(&px.nl, px.pins[0], px.pins[1]);
  CDB_SGATE_NODE* b = make_and(&px.nl, a, px.pins[1]);
  // A driven input whose source is neither a fan-in nor in the order.
  std::vector<CDB_SGATE_OTERM*> order = {b->get_single_oterm()};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_01tbl(b->get_single_oterm(), px.fanins, &order), "without a table");
  // A gate kind no builder knows.
  EXPECT_KAVU_INTERNAL_ERROR(word0(px, make_and(&px.nl, make_dff(&px.nl, px.pins[0], px.pins[1]), px.pins[1])),
                             "un-handled sgate");
  // More fan-ins than a table may have.
  std::vector<CDB_SGATE_OTERM*> wide(KAVU_CONE_MAX_VARS + 1, px.fanins[0]);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_01tbl(a->get_single_oterm(), wide, nullptr), "KAVU_CONE_MAX_VARS");
  // A buffer must be connected.
  EXPECT_KAVU_INTERNAL_ERROR(word0(px, make_buffer(&px.nl, nullptr)), "cdb_is_connected");
}

// ---- written covers ----
TEST(Kavu01tblCovers, CubeCoverAndSumOfProducts) {
  // x0 OR (NOT x0 AND x1); a cube with output 0 adds nothing.
  EXPECT_EQ(kavu_cube_cover_01tbl(3, "1-1011x10").word(0), 0xEu);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cube_cover_01tbl(1, "1"), "cube_length");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cube_cover_01tbl(3, "1-10111"), "cube_cover.length()");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cube_cover_01tbl(3, "1a1"), "cube_cover[en]");

  PINS px(3);
  std::vector<std::vector<SGATE_OTERM_INV_PAIR>> sop;
  EXPECT_TRUE(kavu_sop_01tbl(sop, px.fanins).is_gnd());
  sop.push_back({});
  EXPECT_TRUE(kavu_sop_01tbl(sop, px.fanins).is_vcc());
  sop = {{{px.fanins[0], false}, {px.fanins[2], true}}, {{px.fanins[1], false}}};
  EXPECT_EQ(kavu_sop_01tbl(sop, px.fanins).word(0), 0xCEu);  // x0 NOT x2 OR x1
  sop = {{{make_input_pin(&px.nl, "other")->get_single_oterm(), false}}};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_sop_01tbl(sop, px.fanins), "fan-ins");
}
