// Cone simulation into truth tables: EPFL cones against the simulator,
// word-level operators against brute force, small cones against every
// evaluator, refused input and the tables of written covers.

#include <cstdlib>
#include <functional>

#include "kavu_01tbl_cone.h"
#include "kavu_wiring_helper.h"
#include "kavu_01tbl_test_support.h"
#include "kavu_ttbl.h"

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
  for (const char* name : {"adder", "bar", "cavlc", "ctrl", "dec", "i2c", "int2float", "max", "priority", "router", "sin"})
    EXPECT_GE(check_cones(load_blif(std::string("epfl/") + name).get(), name, 40), 10) << name;
  BLIF_READ_OPTIONS comb;  // the same circuits built from AND, OR and NOT gates
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  for (const char* name : {"cavlc", "int2float", "router"})
    EXPECT_GE(check_cones(load_blif(std::string("epfl/") + name, comb).get(), name, 40), 10) << name;
}

namespace {

// An operator whose input ports are driven by new input pins, the fan-ins
// in the order the ports were added.
struct OP_RIG {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_OPERATOR* op;
  std::vector<CDB_SGATE_OTERM*> fanins;

  explicit OP_RIG(CDB_OPER_TYPE kind, bool is_signed = false) : op(new CDB_SGATE_OPERATOR("op", kind)) {
    op->set_signed(is_signed ? 1 : 0);
    nl.add_node(op);
  }
  // Returns the variable of the port's bit 0.
  unsigned add_input(CDB_OPER_PORT_TYPE type, unsigned width) {
    const unsigned first = unsigned(fanins.size());
    CDB_SGATE_OPER_PORT_ENTRY* port = op->add_port("in", type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < width; ++i) {
      port->set_iterm(i, op->create_input_term(nullptr));
      fanins.push_back(make_input_pin(&nl, ("p" + std::to_string(fanins.size())).c_str())->get_single_oterm());
      fanins.back()->insert_fanout(port->get_iterm(i));
    }
    return first;
  }
  CDB_SGATE_OPER_PORT_ENTRY* add_output(CDB_OPER_PORT_TYPE type, unsigned width) {
    CDB_SGATE_OPER_PORT_ENTRY* port = op->add_port("out", type, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < width; ++i) port->set_oterm(i, op->create_output_term(nullptr));
    return port;
  }
  KAVU_01TBL table(CDB_SGATE_OTERM* out) { return kavu_cone_01tbl(out, fanins, nullptr); }
  // Every minterm of every bit k of the result port against expected(m, k).
  void expect_bits(const std::function<bool(unsigned m, unsigned k)>& expected, const char* what) {
    const CDB_SGATE_OPER_PORT_ENTRY* out = op->get_port(CDB_OPER_PORT_O);
    for (unsigned k = 0; k < out->get_width(); ++k) {
      const KAVU_01TBL tbl = table(out->get_oterm(k));
      for (unsigned m = 0; m < (1u << fanins.size()); ++m)
        ASSERT_EQ(tbl.minterm(m), expected(m, k) ? 1u : 0u) << what << " bit " << k << " minterm " << m;
    }
  }
};

unsigned field(unsigned m, unsigned first, unsigned width) { return (m >> first) & ((1u << width) - 1); }
int as_signed(unsigned v, unsigned width) {
  return (width > 0 && ((v >> (width - 1)) & 1u)) ? int(v) - (1 << width) : int(v);
}

}  // namespace

// One operator and its expected output bit k from its input port values.
struct OP_CASE {
  const char* what;
  CDB_OPER_TYPE kind;
  bool is_signed;
  std::vector<std::pair<CDB_OPER_PORT_TYPE, unsigned>> ins;  // ports and widths, in variable order
  unsigned out_width;
  std::function<unsigned(const std::vector<unsigned>& v, unsigned k)> bit;
};

// Every output bit of every operator over every minterm, against brute force.
TEST(Kavu01tblWordOperators, AgreeWithBruteForce) {
  const CDB_OPER_PORT_TYPE A = CDB_OPER_PORT_A, B = CDB_OPER_PORT_B, CIN = CDB_OPER_PORT_CIN;
  std::vector<OP_CASE> cases = {
      {"add", CDB_OPER_ADDITION, false, {{A, 3}, {B, 3}}, 3, [](auto& v, unsigned k) { return (v[0] + v[1]) >> k; }},
      {"add with carry", CDB_OPER_ADDITION, false, {{A, 3}, {B, 3}, {CIN, 1}}, 3,
       [](auto& v, unsigned k) { return (v[0] + v[1] + v[2]) >> k; }},
      // A < B, or A = B and the carry-in: unsigned less than (or equal).
      {"compare", CDB_OPER_COMPARE, false, {{A, 3}, {B, 3}, {CIN, 1}}, 1,
       [](auto& v, unsigned) { return unsigned(v[0] < v[1] || (v[0] == v[1] && v[2])); }},
      {"equal", CDB_OPER_EQUAL, false, {{A, 3}, {B, 3}}, 1, [](auto& v, unsigned) { return unsigned(v[0] == v[1]); }},
      {"nto1", CDB_OPER_NTO1_MUX, false, {{A, 2}, {B, 4}}, 1, [](auto& v, unsigned) { return v[1] >> v[0]; }},
      {"select", CDB_OPER_SELECT, false, {{A, 3}, {B, 3}}, 1, [](auto& v, unsigned) { return unsigned((v[0] & v[1]) != 0); }},
      {"decode", CDB_OPER_DECODE, false, {{A, 3}}, 8, [](auto& v, unsigned k) { return unsigned(v[0] == k); }},
      {"mult", CDB_OPER_MULTIPLY, false, {{A, 3}, {B, 2}}, 5, [](auto& v, unsigned k) { return (v[0] * v[1]) >> k; }},
      {"signed mult", CDB_OPER_MULTIPLY, true, {{A, 3}, {B, 2}}, 5,
       [](auto& v, unsigned k) { return unsigned(as_signed(v[0], 3) * as_signed(v[1], 2)) >> k; }},
      // A zero denominator gives all ones.
      {"div", CDB_OPER_DIVIDE, false, {{A, 4}, {B, 3}}, 4,
       [](auto& v, unsigned k) { return (v[1] == 0 ? 0xFu : v[0] / v[1]) >> k; }},
      // Magnitudes divided, then the sign applied; -8 keeps its pattern.
      {"signed div", CDB_OPER_DIVIDE, true, {{A, 4}, {B, 3}}, 4, [](auto& v, unsigned k) {
         const int x = as_signed(v[0], 4), y = as_signed(v[1], 3);
         const unsigned mx = unsigned(std::abs(x)) & 0xFu, my = unsigned(std::abs(y)) & 0x7u;
         const unsigned q = my == 0 ? 0x1Fu : mx / my;
         return ((x < 0) != (y < 0) ? unsigned(-int(q)) : q) >> k;
       }},
  };
  // Shifts fill with the carry-in; data widths around a power of two, and
  // distances at and beyond the width.
  for (unsigned dw : {3u, 4u, 5u})
    for (CDB_OPER_TYPE kind : {CDB_OPER_LEFT_SHIFT, CDB_OPER_RIGHT_SHIFT, CDB_OPER_LEFT_ROTATE, CDB_OPER_RIGHT_ROTATE}) {
      const bool rotate = kind == CDB_OPER_LEFT_ROTATE || kind == CDB_OPER_RIGHT_ROTATE;
      std::vector<std::pair<CDB_OPER_PORT_TYPE, unsigned>> ins = {{A, dw}, {CDB_OPER_PORT_SHIFT, 3}};
      if (!rotate) ins.push_back({CIN, 1});
      cases.push_back({"shift", kind, false, ins, dw, [dw, kind](auto& v, unsigned k) {
                         const unsigned data = v[0], d = v[1];
                         if (kind == CDB_OPER_LEFT_SHIFT) return d <= k ? data >> (k - d) : v[2];
                         if (kind == CDB_OPER_RIGHT_SHIFT) return k + d < dw ? data >> (k + d) : v[2];
                         return data >> (kind == CDB_OPER_LEFT_ROTATE ? (k + dw * 8 - d) % dw : (k + d) % dw);
                       }});
    }
  for (const OP_CASE& c : cases) {
    OP_RIG rig(c.kind, c.is_signed);
    std::vector<unsigned> first;
    for (const auto& [port, width] : c.ins) first.push_back(rig.add_input(port, width));
    rig.add_output(CDB_OPER_PORT_O, c.out_width);
    rig.expect_bits([&](unsigned m, unsigned k) {
      std::vector<unsigned> v;
      for (size_t i = 0; i < first.size(); ++i) v.push_back(field(m, first[i], c.ins[i].second));
      return (c.bit(v, k) & 1u) != 0;
    }, c.what);
  }
}

// A carry-in tied to 1 counts; the carry-out is no bit of the result word.
TEST(Kavu01tblWordOperators, AdderTiedCarryAndCarryOut) {
  OP_RIG rig(CDB_OPER_ADDITION);
  const unsigned a = rig.add_input(CDB_OPER_PORT_A, 3), b = rig.add_input(CDB_OPER_PORT_B, 3);
  CDB_SGATE_ITERM* t = rig.op->create_input_term(nullptr);
  rig.op->add_port("cin", CDB_OPER_PORT_CIN, CDB_OPER_PORT_DIR_IN)->set_iterm(0, t);
  t->set_vcc();
  rig.add_output(CDB_OPER_PORT_O, 3);
  CDB_SGATE_OPER_PORT_ENTRY* cout = rig.add_output(CDB_OPER_PORT_COUT, 1);
  rig.expect_bits([&](unsigned m, unsigned k) { return ((field(m, a, 3) + field(m, b, 3) + 1) >> k) & 1u; },
                  "add with carry 1");
  EXPECT_KAVU_INTERNAL_ERROR(rig.table(cout->get_oterm(0)), "Which bit of the add output is this?");
}

// A 31-bit distance once meant 2^31 enumerated terms; only the distances
// that reach a data bit are enumerated now, the rest give the fill. A 32-bit
// distance is refused.
TEST(Kavu01tblWordOperators, WideShiftDistancesStayCheap) {
  OP_RIG rig(CDB_OPER_RIGHT_SHIFT);
  const unsigned d = rig.add_input(CDB_OPER_PORT_A, 2), fill = rig.add_input(CDB_OPER_PORT_CIN, 1);
  const unsigned s = rig.add_input(CDB_OPER_PORT_SHIFT, 1);
  CDB_SGATE_OPER_PORT_ENTRY* dist = rig.op->get_port(CDB_OPER_PORT_SHIFT);
  for (unsigned j = 1; j < 31; ++j) dist->set_iterm(j, rig.op->create_input_term(nullptr)), dist->get_iterm(j)->set_gnd();
  rig.add_output(CDB_OPER_PORT_O, 2);
  rig.expect_bits([&](unsigned m, unsigned k) {
    return k + field(m, s, 1) < 2 ? (field(m, d, 2) >> (k + field(m, s, 1))) & 1u : field(m, fill, 1);
  }, "wide shift");
  dist->set_iterm(31, rig.op->create_input_term(nullptr)), dist->get_iterm(31)->set_gnd();
  EXPECT_KAVU_INTERNAL_ERROR(rig.table(rig.op->get_oterm(CDB_OPER_PORT_O, 0)), "shifter this wide");
}

TEST(Kavu01tblWordOperators, UnsignedDividerReadsOnlyTheNumeratorBitsItNeeds) {
  OP_RIG rig(CDB_OPER_DIVIDE);
  rig.add_input(CDB_OPER_PORT_A, 4);
  rig.add_input(CDB_OPER_PORT_B, 2);
  rig.add_output(CDB_OPER_PORT_O, 4);
  rig.op->get_iterm(CDB_OPER_PORT_A, 0)->disconnect_from_source();
  // Quotient bit 1 does not depend on numerator bit 0; bit 0 does.
  EXPECT_NO_THROW(rig.table(rig.op->get_oterm(CDB_OPER_PORT_O, 1)));
  EXPECT_KAVU_INTERNAL_ERROR(rig.table(rig.op->get_oterm(CDB_OPER_PORT_O, 0)), "cdb_is_connected");
}

// ---- bit-level builders and the input rule ----
namespace {

// The one word of g's table over the fan-ins.
unsigned word0(PINS& px, CDB_SGATE_NODE* g) { return kavu_cone_01tbl(g->get_single_oterm(), px.fanins, nullptr).word(0); }

}  // namespace

// Small cones over seven pins, each root with a feature every evaluator
// must read alike: tied, inverted and unconnected inputs (skipped by comb
// gates, 1 for LUTs and muxes), inverted outputs, a shared gate, carry-sum
// outputs, and comb gates without a connected input, which give their start
// value (1 for AND, else 0; a name keeper once read 1 in the simulator and
// 0 in the library, and XOR(x0, open) once read x0 ^ x0 in the cut tables).
// The cone tables and, for comb cones, the seven-input cut tables must match
// the netlist simulator on all 128 minterms.
TEST(Kavu01tblConeBuilders, EveryEvaluatorReadsSmallConesAlike) {
  PINS px(7);
  const std::vector<CDB_SGATE_OTERM*>& x = px.fanins;
  std::vector<CDB_SGATE_OTERM*> roots;
  auto comb = [&](CDB_COMB_TYPE type, std::vector<CDB_SGATE_OTERM*> ins, unsigned inverted = 0, bool open = false) {
    CDB_SGATE_COMB* g = px.comb(type);
    for (size_t i = 0; i < ins.size(); ++i) PINS::add_input(g, ins[i], (inverted >> i) & 1u);  // null: tied
    if (open) PINS::add_unconnected_input(g);
    roots.push_back(g->get_single_oterm());
    return roots.back();
  };
  for (CDB_COMB_TYPE type : {CDB_COMB_AND, CDB_COMB_OR, CDB_COMB_XOR, CDB_COMB_NOT, CDB_COMB_NAME_KEEPER}) {
    comb(type, {});
    comb(type, {}, 0, true);
  }
  CDB_SGATE_OTERM* a = comb(CDB_COMB_AND, {x[0], x[1]}, 0b10);
  comb(CDB_COMB_OR, {a, nullptr, x[6]}, 0b010);  // a | GND | x6
  comb(CDB_COMB_AND, {nullptr, x[2]});           // VCC & x2
  comb(CDB_COMB_OR, {nullptr, x[3]});            // VCC | x3
  comb(CDB_COMB_XOR, {x[4], nullptr});           // x4 ^ VCC
  comb(CDB_COMB_XOR, {x[0]}, 0, true);
  comb(CDB_COMB_OR, {x[3]}, 1, true);
  comb(CDB_COMB_NOT, {x[2]});
  comb(CDB_COMB_NAME_KEEPER, {x[3]}, 1);
  comb(CDB_COMB_XOR, {a, comb(CDB_COMB_OR, {a, x[5]})});  // a shared gate
  comb(CDB_COMB_XOR, {x[4], x[5]})->set_invert();
  CDB_SGATE_NODE* lut = make_lut(&px.nl, {px.pins[0], px.pins[1], px.pins[2]}, 0x80);
  lut->get_input_term(1)->disconnect_from_source();
  CDB_SGATE_NODE* mux = make_mux(&px.nl, px.pins[0], px.pins[3], px.pins[1]);
  mux->get_input_term(1)->disconnect_from_source();
  CDB_SGATE_CARRY_SUM* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  px.nl.add_node(cs);
  for (unsigned i = 0; i < 2; ++i) {
    cs->set_input_term(cs->create_input_term(nullptr), i);
    x[4 + i]->insert_fanout(cs->get_input_term(i));
  }
  roots.insert(roots.end(), {lut->get_single_oterm(), mux->get_single_oterm(), cs->get_output_term(0), cs->get_output_term(1)});
  NETLIST_SIMULATOR sim(&px.nl);
  ASSERT_TRUE(sim.ok()) << sim.error();
  std::vector<uint64_t> words(2 * roots.size());
  for (unsigned half = 0; half < 2; ++half) {  // x6 = half; x0..x5 as in a table word
    for (unsigned i = 0; i < 7; ++i) sim.set_input(px.pins[i], TTBL<7>::variable(i).word(half));
    sim.eval();
    for (size_t r = 0; r < roots.size(); ++r) words[2 * r + half] = sim.value(roots[r]);
  }
  for (size_t r = 0; r < roots.size(); ++r) {
    const KAVU_01TBL t = kavu_cone_01tbl(roots[r], px.fanins, nullptr);
    const bool is_comb = roots[r]->get_my_node()->get_sgate_type() == CDB_SGATE_COMB_ENUM;
    for (unsigned half = 0; half < 2; ++half) {
      EXPECT_EQ(t.word(2 * half) | uint64_t(t.word(2 * half + 1)) << 32, words[2 * r + half]) << "cone table, root " << r;
      if (is_comb) {
        EXPECT_EQ(kavu_7cut_fn(roots[r], x).word(half), words[2 * r + half]) << "cut table, root " << r;
      }
    }
  }
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

// A logic-cell atom; in extended mode, where input 4 is 1, LUT position 2
// follows the seventh input.
TEST(Kavu01tblConeBuilders, LogicCellAtom) {
  PINS px(7);
  CDB_SGATE_WYSIWYG* cell = new CDB_SGATE_WYSIWYG(nullptr, 61);
  px.nl.add_node(cell);
  for (unsigned j = 0; j < 7; ++j) px.fanins[j]->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(12 + j), cell));
  CDB_SGATE_OTERM* combout = kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE(9), cell, false);
  ASSERT_NE(combout, nullptr);
  cell->set_lutmask_value(0xF0F0F0F0F0F0F0F0ull);  // passes input 2
  KAVU_01TBL x2(7);
  x2.variable(2, true);
  EXPECT_EQ(kavu_cone_01tbl(combout, px.fanins, nullptr), x2);
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
