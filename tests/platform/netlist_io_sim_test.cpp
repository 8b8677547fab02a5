// The simulator and the circuit generators against scalar models of the
// register and latch rules and integer arithmetic, and loops and reports.
#include <functional>
#include <memory>
#include <tuple>

#include "netlist_io/blif.h"
#include "netlist_io/generators.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

// Word of variable v for lanes base..base+63 of an exhaustive enumeration.
uint64_t lanes(int v, int base) {
  uint64_t w = 0;
  for (int j = 0; j < 64; ++j) w |= uint64_t(((base + j) >> v) & 1) << j;
  return w;
}

bool bit(uint64_t w, int j) { return (w >> j) & 1; }

void pin_to(CDB_SGATE_NODE* pin, CDB_SGATE_ITERM* t) { pin->get_single_oterm()->insert_fanout(t); }

// Drives every combination of `ins` (pin v is bit v of the combination)
// from power-up, clocks `clocks` times, and compares the outputs read as one
// number (pin k is bit k) with fn.
template <class INS, class OUTS>
void expect_exhaustive(const CDB_SGATE_NETLIST* n, const INS& ins, const OUTS& outs,
                       const std::function<unsigned(unsigned)>& fn, int clocks = 0) {
  NETLIST_SIMULATOR sim(n);
  ASSERT_TRUE(sim.ok()) << sim.error();
  const int total = 1 << ins.size();
  for (int base = 0; base < total; base += 64) {
    sim.reset_state();
    for (size_t v = 0; v < ins.size(); ++v) sim.set_input(ins[v], lanes(int(v), base));
    sim.eval();
    for (int c = 0; c < clocks; ++c) sim.clock();
    for (int j = 0; j < 64 && base + j < total; ++j) {
      unsigned got = 0;
      for (size_t k = 0; k < outs.size(); ++k) got |= unsigned(bit(sim.output(outs[k]), j)) << k;
      ASSERT_EQ(got, fn(unsigned(base + j))) << "inputs " << base + j;
    }
  }
}

// The register rules, one pattern at a time.
bool async_value(bool q, bool aclr, bool pre, bool aload, bool adata) {
  return aclr ? false : pre ? true : aload ? adata : q;
}
bool clocked_value(bool sclr_over_ena, bool q, bool d, bool ena, bool sclr, bool sload, bool adata) {
  if (sclr_over_ena && sclr) return false;
  if (!ena) return q;
  return sclr ? false : sload ? adata : d;
}

}  // namespace

// Every combination of the eight register controls, both priorities and both
// power-up values: the same controls on a register whose clock never comes
// (the power-up value) and on a clocked one (the value after one clock).
TEST(NetlistIoSim, RegisterControlsFollowTheirPriorities) {
  enum { D, ACLR, PRE, ENA, ADATA, ALOAD, SCLR, SLOAD };
  const int positions[] = {CDB_DFF_DATA,  CDB_DFF_ACLR,  CDB_DFF_PRESET, CDB_DFF_ENA,
                           CDB_DFF_ADATA, CDB_DFF_ALOAD, CDB_DFF_SCLR,   CDB_DFF_SLOAD};
  for (int variant = 0; variant < 4; ++variant) {
    const bool mark = variant & 1, high = variant & 2;
    SCOPED_TRACE(variant);
    CDB_SGATE_NETLIST n;
    KAVU_TRACK(n);
    CDB_SGATE_NODE* regs[] = {make_dff(&n, nullptr, nullptr), make_dff(&n, nullptr, make_input_pin(&n, "clk"))};
    std::vector<CDB_SGATE_NODE*> ins, outs;
    for (int v = 0; v < 8; ++v) {
      ins.push_back(make_input_pin(&n, ("c" + std::to_string(v)).c_str()));
      for (CDB_SGATE_NODE* r : regs) pin_to(ins.back(), r->get_input_term(unsigned(positions[v])));
    }
    for (CDB_SGATE_NODE* r : regs) {
      r->get_reg_flags()->set_sclr_over_ena_priority(mark);
      r->get_reg_flags()->set_power_up_high(high);
      outs.push_back(make_output_pin(&n, ("q" + std::to_string(outs.size())).c_str(), r));
    }
    expect_exhaustive(&n, ins, outs, [&](unsigned c) {
      auto in = [c](int v) { return ((c >> v) & 1) != 0; };
      bool q0 = async_value(high, in(ACLR), in(PRE), in(ALOAD), in(ADATA));
      bool q1 = clocked_value(mark, q0, in(D), in(ENA), in(SCLR), in(SLOAD), in(ADATA));
      return unsigned(q0) | unsigned(async_value(q1, in(ACLR), in(PRE), in(ALOAD), in(ADATA))) << 1;
    }, 1);
  }
}

// Latches: CLR over PRE, transparent while EN and EN2, holding otherwise;
// a latch keeps its value when the enable falls and D moves on.
TEST(NetlistIoSim, LatchesAreTransparentAndHold) {
  CDB_SGATE_NETLIST n;
  KAVU_TRACK(n);
  auto* latch = new CDB_SGATE_LATCH(nullptr);
  n.add_node(latch);
  std::vector<CDB_SGATE_NODE*> ins;
  for (unsigned k = 0; k < CDB_LATCH_NUM_PORTS; ++k) {
    ins.push_back(make_input_pin(&n, ("l" + std::to_string(k)).c_str()));
    CDB_SGATE_ITERM* t = latch->create_input_term(nullptr);
    latch->set_input_term(t, k);
    pin_to(ins.back(), t);
  }
  CDB_SGATE_NODE* q = make_output_pin(&n, "q", latch);
  expect_exhaustive(&n, ins, std::vector<CDB_SGATE_NODE*>{q}, [](unsigned j) {  // D, EN, EN2, CLR, PRE
    return unsigned((j & 8) ? false : (j & 16) ? true : (j & 2) && (j & 4) && (j & 1));
  });
  // Open (EN, EN2 high, no CLR or PRE), then close and change D: the value stays.
  NETLIST_SIMULATOR sim(&n);
  const uint64_t open[] = {0xf0f0, ~0ull, ~0ull, 0, 0};
  for (unsigned k = 0; k < CDB_LATCH_NUM_PORTS; ++k) sim.set_input(ins[k], open[k]);
  sim.eval();
  sim.set_input(ins[CDB_LATCH_EN], 0);
  sim.set_input(ins[CDB_LATCH_D], 0x0ff0);
  sim.eval();
  EXPECT_EQ(sim.output(q), 0xf0f0u);
}

// A cross-coupled NOR latch settles and remembers; a ring of three
// inverters never settles and makes the simulator report the loop.
TEST(NetlistIoSim, LoopsSettleOrAreReported) {
  CDB_SGATE_NETLIST n;
  KAVU_TRACK(n);
  CDB_SGATE_NODE* s = make_input_pin(&n, "s");
  CDB_SGATE_NODE* r = make_input_pin(&n, "r");
  CDB_SGATE_NODE* q = make_or(&n, r, nullptr);  // q = !(r | qn), qn = !(s | q)
  CDB_SGATE_NODE* qn = make_or(&n, s, q);
  for (CDB_SGATE_NODE* g : {q, qn}) g->get_single_oterm()->set_invert();
  qn->get_single_oterm()->insert_fanout(q->get_input_term(1));
  CDB_SGATE_NODE* out = make_output_pin(&n, "q", q);
  NETLIST_SIMULATOR sim(&n);
  ASSERT_TRUE(sim.ok()) << sim.error();
  // (s, r) = set, release (remember), reset in the low 16 lanes.
  const uint64_t steps[][3] = {{~0ull, 0, ~0ull}, {0, 0, ~0ull}, {0, 0xffff, ~0xffffull}};
  for (const auto& step : steps) {
    sim.set_input(s, step[0]);
    sim.set_input(r, step[1]);
    sim.eval();
    EXPECT_EQ(sim.output(out), step[2]);
  }
  EXPECT_TRUE(sim.ok());

  CDB_SGATE_NETLIST ring;
  CDB_SGATE_NODE* a = make_input_pin(&ring, "a");
  CDB_SGATE_NODE* i1 = make_not(&ring, nullptr);                  // its input closes the ring
  CDB_SGATE_NODE* i3 = make_xor(&ring, make_not(&ring, i1), a);  // an inverter while a = 1
  i3->get_single_oterm()->insert_fanout(i1->get_input_term(0));
  make_output_pin(&ring, "y", i3);
  NETLIST_SIMULATOR osc(&ring);
  ASSERT_TRUE(osc.ok()) << osc.error();
  osc.set_input(a, 0);
  osc.eval();
  EXPECT_TRUE(osc.ok()) << "a = 0 breaks the ring";
  osc.set_input(a, 1);
  osc.eval();
  EXPECT_FALSE(osc.ok());
  EXPECT_NE(osc.error().find("does not settle"), std::string::npos) << osc.error();
}

// Unconnected inputs read 1 for LUTs and muxes and are ignored by comb gates;
// an output inversion is seen by value() and by every reader.
TEST(NetlistIoSim, UnconnectedInputsAndOutputInversions) {
  // Not tracked: a LUT reading an unconnected input is ill-formed on purpose.
  CDB_SGATE_NETLIST n;
  CDB_SGATE_NODE* a = make_input_pin(&n, "a");
  CDB_SGATE_NODE* b = make_input_pin(&n, "b");
  CDB_SGATE_NODE* lut = make_lut(&n, {a, b}, 0x8);  // a & b
  lut->get_input_term(1)->disconnect_from_source();
  CDB_SGATE_NODE* orr = make_or(&n, a, b);
  orr->get_input_term(1)->disconnect_from_source();
  auto* empty_or = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
  n.add_node(empty_or);
  CDB_SGATE_NODE* mux = make_mux(&n, a, b, a);
  mux->get_input_term(CDB_MUX_SELECT)->disconnect_from_source();
  CDB_SGATE_NODE* inv = make_and(&n, a, b);
  inv->get_single_oterm()->set_invert();
  CDB_SGATE_NODE* reader = make_xor(&n, inv, b);
  CDB_SGATE_NODE* out = make_output_pin(&n, "o", inv, true);
  NETLIST_SIMULATOR sim(&n);
  const uint64_t A = 0xaaaa, B = 0xcccc;
  sim.set_input(a, A);
  sim.set_input(b, B);
  sim.eval();
  ASSERT_TRUE(sim.ok()) << sim.error();
  const std::pair<CDB_SGATE_NODE*, uint64_t> expected[] = {
      {lut, A}, {orr, A}, {empty_or, 0}, {mux, B}, {inv, ~(A & B)}, {reader, ~(A & B) ^ B}};
  for (const auto& [g, value] : expected) EXPECT_EQ(sim.value(g->get_single_oterm()), value) << g->get_debug_name();
  EXPECT_EQ(sim.output(out), A & B);
}

// sim_equivalent names the first differing output with its word and cycle,
// and refuses netlists whose pins do not pair up by name.
TEST(NetlistIoSim, EquivalenceReportsDifferencesAndUnpairedPins) {
  LOADED_NETLIST a = load_blif("small/counter8_lut4"), b = load_blif("small/counter8_lut4");
  std::string why;
  ASSERT_TRUE(sim_equivalent(a.get(), b.get(), {}, &why)) << why;
  // Break one LUT that feeds a register: only visible after a clock.
  for (auto it = b->begin_node_list(); it != b->end_node_list(); ++it) {
    CDB_SGATE_LUT* lut = (*it)->cast_to_lut();
    if (!lut || lut->get_single_oterm()->get_first_fanout()->get_my_node()->get_sgate_type() != CDB_SGATE_DFF_ENUM)
      continue;
    CDB_LUTMASK m = lut->get_lut_mask();
    m.set_value(m.get_num_inputs(), m.get_value() ^ 1);
    lut->set_lut_mask(m);
    break;
  }
  EXPECT_FALSE(sim_equivalent(a.get(), b.get(), {}, &why));
  EXPECT_TRUE(why.find("output '") != std::string::npos && why.find("cycle") != std::string::npos) << why;
  EXPECT_EQ(why.find("cycle 0:"), std::string::npos) << "a register input changed: " << why;

  LOADED_NETLIST other = load_blif("small/crc8_lut4");
  EXPECT_FALSE(sim_equivalent(a.get(), other.get(), {}, &why));
  EXPECT_NE(why.find("no partner"), std::string::npos) << why;
}

// The generators compute what they claim.
TEST(NetlistIoSim, GeneratedCircuitsComputeTheirFunctions) {
  std::unique_ptr<CDB_SGATE_NETLIST> mult(make_array_multiplier(4)), add(make_ripple_adder(4));
  KAVU_TRACK(*mult);
  KAVU_TRACK(*add);
  // Inputs a[0..n-1], b[0..n-1] (and carry in); outputs from bit 0 up.
  expect_exhaustive(mult.get(), mult->get_input_pins(), mult->get_output_pins(),
                    [](unsigned x) { return (x & 15) * (x >> 4); });
  expect_exhaustive(add.get(), add->get_input_pins(), add->get_output_pins(),
                    [](unsigned x) { return (x & 15) + ((x >> 4) & 15) + (x >> 8); });

  // 3 stages of 4 bits: the output is three stage functions behind the
  // input, stage(v) = v + rotate_right(v, 1) mod 16.
  std::unique_ptr<CDB_SGATE_NETLIST> pipe(make_pipeline(3, 4));
  KAVU_TRACK(*pipe);
  auto stage = [](unsigned v) { return (v + ((v >> 1) | ((v & 1) << 3))) & 15; };
  const std::vector<CDB_SGATE_IO*> data(pipe->get_input_pins().begin() + 1, pipe->get_input_pins().end());  // after clk
  expect_exhaustive(pipe.get(), data, pipe->get_output_pins(), [&](unsigned v) { return stage(stage(stage(v))); }, 3);

  // A random DAG survives a BLIF round trip.
  std::unique_ptr<CDB_SGATE_NETLIST> dag(make_random_dag(3000, 7));
  KAVU_TRACK(*dag);
  std::string why;
  ASSERT_TRUE(blif_write_file(dag.get(), "dag.blif", {}, &why)) << why;
  BLIF_RESULT r = blif_read_file("dag.blif");
  ASSERT_NE(r.netlist, nullptr) << r.error;
  LOADED_NETLIST back(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
  EXPECT_TRUE(sim_equivalent(dag.get(), back.get(), {}, &why)) << why;  // every output paired by name
}

namespace {

typedef std::tuple<const char*, CDB_OPER_PORT_TYPE, unsigned> PORT;  // name, type, width

// An operator whose input ports are fed by input pins and whose output ports
// feed output pins; the pins in port order, bit 0 first.
struct OPER_CASE {
  CDB_OPER_TYPE m_type;
  bool m_signed;
  std::vector<PORT> m_ins, m_outs;
  std::function<unsigned(unsigned)> m_fn;
};

void expect_operator(const OPER_CASE& c) {
  CDB_SGATE_NETLIST n;
  KAVU_TRACK(n);
  auto* op = new CDB_SGATE_OPERATOR("op", c.m_type);
  op->set_signed(c.m_signed);
  n.add_node(op);
  std::vector<CDB_SGATE_NODE*> ins, outs;
  for (auto [name, type, width] : c.m_ins) {
    CDB_SGATE_OPER_PORT_ENTRY* port = op->add_port(name, type, CDB_OPER_PORT_DIR_IN);
    for (unsigned i = 0; i < width; ++i) {
      ins.push_back(make_input_pin(&n, (std::string(name) + std::to_string(i)).c_str()));
      port->set_iterm(i, op->insert_unordered_fanin(ins.back()->get_single_oterm()));
    }
  }
  for (auto [name, type, width] : c.m_outs) {
    CDB_SGATE_OPER_PORT_ENTRY* port = op->add_port(name, type, CDB_OPER_PORT_DIR_OUT);
    for (unsigned i = 0; i < width; ++i) {
      CDB_SGATE_OTERM* o = op->create_output_term(nullptr);
      port->set_oterm(i, o);
      outs.push_back(make_output_pin(&n, (std::string(name) + std::to_string(i)).c_str(), nullptr));
      o->insert_fanout(outs.back()->get_input_term(0));
    }
  }
  expect_exhaustive(&n, ins, outs, c.m_fn);
}

int sext(unsigned v, int w) { return (v >> (w - 1)) & 1 ? int(v) - (1 << w) : int(v); }

}  // namespace

// Operators against plain integer arithmetic, every input combination.
TEST(NetlistIoSim, OperatorsComputeTheirKinds) {
  const PORT a4{"a", CDB_OPER_PORT_A, 4}, b4{"b", CDB_OPER_PORT_B, 4}, o1{"o", CDB_OPER_PORT_O, 1};
  const PORT a3{"a", CDB_OPER_PORT_A, 3}, b3{"b", CDB_OPER_PORT_B, 3};
  std::vector<OPER_CASE> cases = {
      {CDB_OPER_ADDITION, false, {a4, b4, {"ci", CDB_OPER_PORT_CIN, 1}},
       {{"o", CDB_OPER_PORT_O, 4}, {"co", CDB_OPER_PORT_COUT, 1}},
       [](unsigned x) { return (x & 15) + ((x >> 4) & 15) + (x >> 8); }},
      {CDB_OPER_ADDSUB, false, {a4, b4, {"s", CDB_OPER_PORT_ADD_NOT_SUB, 1}}, {{"o", CDB_OPER_PORT_O, 4}},
       [](unsigned x) { return ((x >> 8) ? (x & 15) + ((x >> 4) & 15) : (x & 15) - ((x >> 4) & 15)) & 15; }},
      {CDB_OPER_EQUAL, false, {a3, b3}, {o1}, [](unsigned x) { return unsigned((x & 7) == (x >> 3)); }},
      {CDB_OPER_NTO1_MUX, false, {{"s", CDB_OPER_PORT_A, 2}, {"d", CDB_OPER_PORT_B, 8}}, {{"o", CDB_OPER_PORT_O, 2}},
       [](unsigned x) { return ((x >> 2) >> (2 * (x & 3))) & 3; }},
      {CDB_OPER_SELECT, false, {{"s", CDB_OPER_PORT_A, 3}, {"d", CDB_OPER_PORT_B, 6}}, {{"o", CDB_OPER_PORT_O, 2}},
       [](unsigned x) {  // the OR of the data words whose select bit is set
         return ((x & 1) ? (x >> 3) & 3 : 0) | ((x & 2) ? (x >> 5) & 3 : 0) | ((x & 4) ? (x >> 7) & 3 : 0);
       }},
      {CDB_OPER_DECODE, false, {a3}, {{"o", CDB_OPER_PORT_O, 6}}, [](unsigned x) { return x < 6 ? 1u << x : 0u; }},
  };
  for (bool sgn : {false, true}) {
    auto val = [sgn](unsigned v, int w) { return sgn ? sext(v, w) : int(v); };
    cases.push_back({CDB_OPER_MULTIPLY, sgn, {a3, b3}, {{"o", CDB_OPER_PORT_O, 6}},
                     [val](unsigned x) { return unsigned(val(x & 7, 3) * val(x >> 3, 3)) & 63; }});
    cases.push_back({CDB_OPER_COMPARE, sgn, {a4, b3}, {o1},
                     [val](unsigned x) { return unsigned(val(x & 15, 4) < val(x >> 4, 3)); }});
  }
  for (const OPER_CASE& c : cases) {
    SCOPED_TRACE(testing::Message() << "operator " << c.m_type << " signed " << c.m_signed);
    expect_operator(c);
  }

  CDB_SGATE_NETLIST divide;
  divide.add_node(new CDB_SGATE_OPERATOR("op", CDB_OPER_DIVIDE));
  NETLIST_SIMULATOR sim(&divide);
  EXPECT_FALSE(sim.ok()) << "an operator kind without evaluator must not pass silently";
  EXPECT_NE(sim.error().find("unsupported operator"), std::string::npos) << sim.error();
}
