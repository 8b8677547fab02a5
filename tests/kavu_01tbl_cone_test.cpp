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
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// ---- cones of real circuits ----

bool expandable(const CDB_SGATE_NODE* gate) {
  const CDB_SGATE_TYPE t = gate->get_sgate_type();
  return t == CDB_SGATE_COMB_ENUM || t == CDB_SGATE_LUT_ENUM || t == CDB_SGATE_MUX_ENUM || t == CDB_SGATE_BUFFER_ENUM;
}

// The distinct driven sources of a gate's inputs.
std::vector<CDB_SGATE_OTERM*> gate_sources(const CDB_SGATE_NODE* gate) {
  std::vector<CDB_SGATE_OTERM*> out;
  for (unsigned i = 0; i < gate->get_number_of_input_terms(); ++i) {
    CDB_SGATE_OTERM* src = gate->get_fanin_term(i);
    if (src && std::find(out.begin(), out.end(), src) == out.end()) out.push_back(src);
  }
  return out;
}

// A cut of at most k leaves grown greedily from the root's fan-ins: a leaf
// is replaced by its gate's sources while the cut stays within k.
std::vector<CDB_SGATE_OTERM*> grow_cut(CDB_SGATE_OTERM* root, unsigned k) {
  std::vector<CDB_SGATE_OTERM*> leaves = gate_sources(root->get_my_node());
  bool grown = leaves.size() <= k;
  while (grown) {
    grown = false;
    for (size_t i = 0; i < leaves.size() && !grown; ++i) {
      const CDB_SGATE_NODE* gate = leaves[i]->get_my_node();
      if (!expandable(gate)) continue;
      std::vector<CDB_SGATE_OTERM*> next = leaves;
      next.erase(next.begin() + long(i));
      for (CDB_SGATE_OTERM* src : gate_sources(gate)) {
        if (std::find(next.begin(), next.end(), src) == next.end()) next.push_back(src);
      }
      if (next.size() <= k && !next.empty()) {
        leaves = next;
        grown = true;
      }
    }
  }
  return leaves;
}

// Compares a cone's table with the simulator's values of its root and leaves
// over random patterns: at every pattern the table, read at the leaves'
// minterm, must give the root's value. Returns the number of cones checked.
int check_cones(const CDB_SGATE_NETLIST* netlist, const std::string& name, int max_cones) {
  NETLIST_SIMULATOR sim(netlist);
  EXPECT_TRUE(sim.ok()) << name << ": " << sim.error();
  if (!sim.ok()) return 0;
  std::vector<CDB_SGATE_OTERM*> roots;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it && expandable(*it) && (*it)->get_single_oterm()) roots.push_back((*it)->get_single_oterm());
  }
  const size_t stride = std::max<size_t>(1, roots.size() / size_t(max_cones));
  int checked = 0;
  std::vector<std::pair<std::vector<CDB_SGATE_OTERM*>, KAVU_01TBL>> cones;
  std::vector<CDB_SGATE_OTERM*> cone_roots;
  for (size_t r = 0; r < roots.size() && int(cone_roots.size()) < max_cones; r += stride) {
    const unsigned k = 4 + unsigned(r % 5);  // 4 to 8 inputs
    std::vector<CDB_SGATE_OTERM*> cut = grow_cut(roots[r], k);
    if (cut.size() < 4 || cut.size() > 8) continue;
    cones.push_back({cut, kavu_cone_01tbl(roots[r], cut, nullptr)});
    cone_roots.push_back(roots[r]);
  }
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    sim.randomize_inputs(seed);
    sim.eval();
    for (size_t c = 0; c < cones.size(); ++c) {
      const std::vector<CDB_SGATE_OTERM*>& cut = cones[c].first;
      const KAVU_01TBL& tbl = cones[c].second;
      EXPECT_EQ(tbl.num_vars(), cut.size());
      const uint64_t root_word = sim.value(cone_roots[c]);
      for (unsigned bit = 0; bit < 64; ++bit) {
        unsigned m = 0;
        for (unsigned i = 0; i < cut.size(); ++i) m |= unsigned((sim.value(cut[i]) >> bit) & 1u) << i;
        if (tbl.minterm(m) != unsigned((root_word >> bit) & 1u)) {
          ADD_FAILURE() << name << " cone " << c << " of " << cut.size() << " inputs, pattern " << bit;
          return -1;
        }
      }
    }
  }
  checked = int(cones.size());
  return checked;
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

struct SMALL {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  std::vector<CDB_SGATE_OTERM*> fanins;
  explicit SMALL(int n) {
    for (int i = 0; i < n; ++i) {
      pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
      fanins.push_back(pins.back()->get_single_oterm());
    }
  }
  KAVU_01TBL table(CDB_SGATE_NODE* g) { return kavu_cone_01tbl(g->get_single_oterm(), fanins, nullptr); }
};

unsigned word0(const KAVU_01TBL& t) { return t.word(0); }

}  // namespace

TEST(Kavu01tblConeBuilders, InputRulesOfCombLutAndMux) {
  SMALL s(2);
  CDB_SGATE_NODE* a = make_and(&s.nl, s.pins[0], s.pins[1]);
  EXPECT_EQ(word0(s.table(a)), 0x8u);
  // An unconnected input leaves a comb gate's accumulator alone.
  a->get_input_term(1)->disconnect_from_source();
  EXPECT_EQ(word0(s.table(a)), 0xAu);
  CDB_SGATE_NODE* o = make_or(&s.nl, s.pins[0], s.pins[1]);
  o->get_input_term(0)->disconnect_from_source();
  o->get_input_term(1)->disconnect_from_source();
  EXPECT_EQ(word0(s.table(o)), 0x0u);
  CDB_SGATE_NODE* n = make_not(&s.nl, s.pins[1]);
  EXPECT_EQ(word0(s.table(n)), 0x3u);
  // LUTs and muxes read an unconnected input as 1.
  CDB_SGATE_NODE* lut = make_lut(&s.nl, {s.pins[0], s.pins[1]}, 0x8);
  lut->get_input_term(1)->disconnect_from_source();
  EXPECT_EQ(word0(s.table(lut)), 0xAu);
  CDB_SGATE_NODE* mux = make_mux(&s.nl, s.pins[0], nullptr, s.pins[1]);  // x1 ? VCC : x0
  EXPECT_EQ(word0(s.table(mux)), 0xEu);
  // An inverted input and an inverted output both complement.
  CDB_SGATE_NODE* x = make_xor(&s.nl, s.pins[0], s.pins[1]);
  x->get_input_term(0)->invert();
  EXPECT_EQ(word0(s.table(x)), 0x9u);
  x->get_single_oterm()->invert();
  EXPECT_EQ(word0(s.table(x)), 0x6u);
}

TEST(Kavu01tblConeBuilders, FaninsRootsAndEmptyCuts) {
  SMALL s(3);
  CDB_SGATE_NODE* a = make_and(&s.nl, s.pins[0], s.pins[2]);
  // A fan-in listed twice keeps its first variable.
  std::vector<CDB_SGATE_OTERM*> cut = {s.fanins[0], s.fanins[2], s.fanins[0]};
  KAVU_01TBL t = kavu_cone_01tbl(a->get_single_oterm(), cut, nullptr);
  EXPECT_EQ(t.num_vars(), 3u);
  EXPECT_FALSE(t.is_dependent(2));
  EXPECT_EQ(t.word(0), 0x88u);
  // The root among the fan-ins is its literal.
  cut = {s.fanins[1], a->get_single_oterm()};
  EXPECT_EQ(kavu_cone_01tbl(a->get_single_oterm(), cut, nullptr).word(0), 0xCu);
  // A cone of constants over no fan-ins.
  CDB_SGATE_NODE* c = make_and(&s.nl, nullptr, nullptr);
  std::vector<CDB_SGATE_OTERM*> none;
  t = kavu_cone_01tbl(c->get_single_oterm(), none, nullptr);
  EXPECT_EQ(t.num_vars(), 0u);
  EXPECT_EQ(t.onset_volume(), 1u);
  // An order that lists a fan-in replaces its literal's table by the
  // simulated one (the old table is not leaked).
  CDB_SGATE_NODE* g = make_not(&s.nl, s.pins[0]);
  CDB_SGATE_NODE* h = make_and(&s.nl, g, s.pins[1]);
  cut = {s.fanins[0], g->get_single_oterm(), s.fanins[1]};
  std::vector<CDB_SGATE_OTERM*> order = {g->get_single_oterm(), h->get_single_oterm()};
  t = kavu_cone_01tbl(h->get_single_oterm(), cut, &order);
  for (unsigned m = 0; m < 8; ++m) EXPECT_EQ(t.minterm(m), unsigned(!(m & 1) && (m & 4))) << m;
}

TEST(Kavu01tblConeBuilders, CarrySumAndLogicCellAtom) {
  SMALL s(7);
  CDB_SGATE_CARRY_SUM* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  s.nl.add_node(cs);
  for (unsigned i = 0; i < 2; ++i) {
    CDB_SGATE_ITERM* t = cs->create_input_term(nullptr);
    cs->set_input_term(t, i);
    s.fanins[i]->insert_fanout(t);
  }
  std::vector<CDB_SGATE_OTERM*> two = {s.fanins[0], s.fanins[1]};
  EXPECT_EQ(kavu_cone_01tbl(cs->get_output_term(0), two, nullptr).word(0), 0xAu);
  EXPECT_EQ(kavu_cone_01tbl(cs->get_output_term(1), two, nullptr).word(0), 0xCu);

  CDB_SGATE_WYSIWYG* cell = new CDB_SGATE_WYSIWYG(nullptr, 61);
  s.nl.add_node(cell);
  for (unsigned j = 0; j < 7; ++j) s.fanins[j]->insert_fanout(kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(12 + j), cell));
  CDB_SGATE_OTERM* combout = kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE(9), cell, false);
  ASSERT_NE(combout, nullptr);
  cell->set_lutmask_value(0xF0F0F0F0F0F0F0F0ull);  // passes input 2
  std::vector<CDB_SGATE_OTERM*> cut(s.fanins.begin(), s.fanins.end());
  KAVU_01TBL plain = kavu_cone_01tbl(combout, cut, nullptr);
  KAVU_01TBL x2(7);
  x2.variable(2, true);
  EXPECT_EQ(plain, x2);
  // Extended mode: where input 4 is 1, position 2 follows the seventh input.
  cell->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  KAVU_01TBL ext = kavu_cone_01tbl(combout, cut, nullptr);
  for (unsigned m = 0; m < 128; ++m) {
    ASSERT_EQ(ext.minterm(m), ((m >> 4) & 1u) ? (m >> 6) & 1u : (m >> 2) & 1u) << m;
  }
}

TEST(Kavu01tblConeBuilders, RefusedInput) {
  SMALL s(2);
  CDB_SGATE_NODE* a = make_and(&s.nl, s.pins[0], s.pins[1]);
  CDB_SGATE_NODE* b = make_and(&s.nl, a, s.pins[1]);
  // A driven input whose source is neither a fan-in nor in the order.
  std::vector<CDB_SGATE_OTERM*> order = {b->get_single_oterm()};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_01tbl(b->get_single_oterm(), s.fanins, &order), "without a table");
  // A gate kind no builder knows.
  CDB_SGATE_NODE* ff = make_dff(&s.nl, s.pins[0], s.pins[1]);
  CDB_SGATE_NODE* c = make_and(&s.nl, ff, s.pins[1]);
  EXPECT_KAVU_INTERNAL_ERROR(s.table(c), "un-handled sgate");
  // More fan-ins than a table may have.
  std::vector<CDB_SGATE_OTERM*> wide(KAVU_CONE_MAX_VARS + 1, s.fanins[0]);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_01tbl(a->get_single_oterm(), wide, nullptr), "KAVU_CONE_MAX_VARS");
  // A buffer must be connected.
  CDB_SGATE_BUFFER* buf = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_SOFT);
  s.nl.add_node(buf);
  buf->set_input_term(buf->create_input_term(nullptr), 0);
  EXPECT_KAVU_INTERNAL_ERROR(s.table(buf), "cdb_is_connected");
}

// ---- written covers ----
TEST(Kavu01tblCovers, CubeCoverAndSumOfProducts) {
  // x0 OR (NOT x0 AND x1); a cube with output 0 adds nothing.
  EXPECT_EQ(kavu_cube_cover_01tbl(3, "1-1011x10").word(0), 0xEu);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cube_cover_01tbl(1, "1"), "cube_length");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cube_cover_01tbl(3, "1-10111"), "cube_cover.length()");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cube_cover_01tbl(3, "1a1"), "cube_cover[en]");

  SMALL s(3);
  std::vector<std::vector<SGATE_OTERM_INV_PAIR>> sop;
  EXPECT_TRUE(kavu_sop_01tbl(sop, s.fanins).is_gnd());
  sop.push_back({});
  EXPECT_TRUE(kavu_sop_01tbl(sop, s.fanins).is_vcc());
  sop = {{{s.fanins[0], false}, {s.fanins[2], true}}, {{s.fanins[1], false}}};
  KAVU_01TBL t = kavu_sop_01tbl(sop, s.fanins);
  for (unsigned m = 0; m < 8; ++m) EXPECT_EQ(t.minterm(m), unsigned(((m & 1) && !(m & 4)) || (m & 2))) << m;
  CDB_SGATE_NODE* other = make_input_pin(&s.nl, "other");
  sop = {{{other->get_single_oterm(), false}}};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_sop_01tbl(sop, s.fanins), "fan-ins");
}
