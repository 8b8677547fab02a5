// Arithmetic buses: subtraction recognition exhaustive on 4-bit operands,
// constant adders (bypass and re-alignment, a live carry-in), synchronous
// clears seen through, constant buses and register chains.
#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <tuple>

#include "cdb/cdb_sgate.h"
#include "kavu_arith.h"
#include "kavu_helper_dump.h"
#include "kavu_ops.h"
#include "kavu_utility_rtl.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* n) { return n->get_single_oterm(); }

CDB_SGATE_OPERATOR* make_adder(CDB_SGATE_NETLIST& nl, unsigned wa, unsigned wb, unsigned wo, bool cin) {
  CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("", CDB_OPER_ADDITION);
  kavu_create_triport_operator_terms(op, wa, wb, wo, cin, false, false);
  nl.add_node(op);
  return op;
}

// Bit i of a port: driven by `src` (inverted when asked), or a constant.
void drive(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE p, unsigned i, CDB_SGATE_NODE* src, bool inv) {
  CDB_SGATE_ITERM* t = op->get_iterm(p, i);
  if (src) out(src)->insert_fanout(t);
  if (!src) t->set_vcc();
  if (inv) t->invert();
}

// Every input pattern of `pins` (at most 12 pins), evaluated once: `check`
// gets the pattern index and the simulator.
void exhaustive(const CDB_SGATE_NETLIST& nl, const std::vector<CDB_SGATE_NODE*>& pins,
                const std::function<void(unsigned, unsigned, const NETLIST_SIMULATOR&)>& check) {
  NETLIST_SIMULATOR sim(&nl);
  ASSERT_TRUE(sim.ok()) << sim.error();
  const unsigned patterns = 1u << pins.size();
  for (unsigned base = 0; base < patterns; base += 64) {
    for (size_t i = 0; i < pins.size(); ++i) {
      uint64_t w = 0;
      for (unsigned k = 0; k < 64; ++k)
        if (((base + k) >> i) & 1) w |= 1ull << k;
      sim.set_input(pins[i], w);
    }
    sim.eval();
    for (unsigned k = 0; k < 64 && base + k < patterns; ++k) check(base + k, k, sim);
  }
}

unsigned word_bits(const NETLIST_SIMULATOR& sim, const std::vector<CDB_SGATE_NODE*>& outs, unsigned k) {
  unsigned v = 0;
  for (size_t i = 0; i < outs.size(); ++i)
    if ((sim.output(outs[i]) >> k) & 1) v |= 1u << i;
  return v;
}

// A plain register with its secondary signals at their inactive values.
CDB_SGATE_NODE* make_reg(CDB_SGATE_NETLIST& nl, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clk) {
  CDB_SGATE_NODE* r = make_dff(&nl, d, clk);
  for (int p : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_SCLR, CDB_DFF_SLOAD})
    r->get_input_term(p)->set_gnd();
  r->get_input_term(CDB_DFF_ENA)->set_vcc();
  r->get_input_term(CDB_DFF_ADATA)->set_vcc();
  return r;
}

}  // namespace

// A + ~B with the extra carry-in bit is A - B; the same operands without it
// are off by one; top bits of VCC above inverted signals are a sign
// extension; mixed inversions are a plain addition.
TEST(KavuArithSub, RecognitionAgreesWithExhaustiveSimulation) {
  struct ROW {
    const char* what;
    bool carry_bit, a_inv, b_inv;
    int top_vcc;  // B's top bits replaced by VCC above the signals
    bool mixed;   // A's bit 2 inverted against the others
    bool almost;
    int offset;
    bool pretty, perfect, is_add;
  };
  const ROW rows[] = {
      {"A + ~B + 1", true, false, true, 0, false, true, 0, true, true, false},
      {"~A + B + 1", true, true, false, 0, false, true, 0, true, true, false},
      {"A + ~B", false, false, true, 0, false, true, 1, false, false, true},
      {"~A + ~B + 1", true, true, true, 0, false, true, 1, false, false, true},
      {"sign-extended ~B", true, false, true, 1, false, true, 0, true, true, false},
      {"mixed A", false, false, false, 0, true, false, 0, false, true, true},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_NODE*> a, b, o;
    for (int i = 0; i < 4; ++i) a.push_back(make_input_pin(&nl, ("a" + std::to_string(i)).c_str()));
    for (int i = 0; i < 4; ++i) b.push_back(make_input_pin(&nl, ("b" + std::to_string(i)).c_str()));
    const unsigned lsb = r.carry_bit ? 1 : 0, w = 4 + lsb;
    CDB_SGATE_OPERATOR* op = make_adder(nl, w, w, w, false);
    if (r.carry_bit) {
      drive(op, CDB_OPER_PORT_A, 0, nullptr, false);
      drive(op, CDB_OPER_PORT_B, 0, nullptr, false);
    }
    for (unsigned i = 0; i < 4; ++i) {
      drive(op, CDB_OPER_PORT_A, lsb + i, a[i], r.a_inv != (r.mixed && i == 2));
      if (int(i) >= 4 - r.top_vcc)
        drive(op, CDB_OPER_PORT_B, lsb + i, nullptr, false);  // VCC
      else
        drive(op, CDB_OPER_PORT_B, lsb + i, b[i], r.b_inv);
    }
    for (unsigned i = 0; i < 4; ++i) {
      CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
      nl.add_node(pin);
      op->get_oterm(CDB_OPER_PORT_O, lsb + i)->insert_fanout(pin->get_single_iterm());
      o.push_back(pin);
    }
    bool a_inv = false, b_inv = false, is_add = false, pretty_b = false;
    int offset = -7;
    EXPECT_EQ(kavu_is_almost_sub(op, &a_inv, &b_inv, &offset), r.almost);
    EXPECT_EQ(offset, r.almost ? r.offset : 0);
    EXPECT_EQ(kavu_is_pretty_sub(op, &pretty_b), r.pretty);
    if (r.pretty) {
      EXPECT_EQ(pretty_b, r.b_inv);
    }
    EXPECT_EQ(kavu_is_perfect_sub_or_add(op, &is_add), r.perfect);
    EXPECT_EQ(is_add, r.is_add);
    if (!r.pretty || r.top_vcc) continue;
    // A recognised subtraction computes minuend - subtrahend on every pattern.
    std::vector<CDB_SGATE_NODE*> pins(a);
    pins.insert(pins.end(), b.begin(), b.end());
    exhaustive(nl, pins, [&](unsigned p, unsigned k, const NETLIST_SIMULATOR& sim) {
      const unsigned av = p & 15, bv = p >> 4;
      const unsigned want = (r.b_inv ? av - bv : bv - av) & 15;
      EXPECT_EQ(word_bits(sim, o, k), want) << "a=" << av << " b=" << bv;
    });
  }
}

// Adding zero is bypassed; a live carry-in prevents it; an operand taken
// from the upper bits of another adder is re-aligned. Each result is checked
// exhaustively against a copy of the netlist before the edit.
TEST(KavuArithConstantAdder, BypassRealignAndLiveCarryIn) {
  enum CASE { ZERO_B, ZERO_A_SWAPPED, LIVE_CARRY, REALIGN };
  for (CASE c : {ZERO_B, ZERO_A_SWAPPED, LIVE_CARRY, REALIGN}) {
    SCOPED_TRACE(int(c));
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_NODE*> a, pins;
    for (int i = 0; i < 4; ++i) a.push_back(make_input_pin(&nl, ("a" + std::to_string(i)).c_str()));
    CDB_SGATE_NODE* ci = make_input_pin(&nl, "ci");
    pins = a;
    pins.push_back(ci);
    CDB_SGATE_OPERATOR* op = nullptr;
    CDB_SGATE_OPERATOR* g = nullptr;
    if (c == REALIGN) {
      // g = a + a (4 bits); op adds 3 to g's bits 1..3.
      g = make_adder(nl, 4, 4, 4, false);
      for (unsigned i = 0; i < 4; ++i) {
        drive(g, CDB_OPER_PORT_A, i, a[i], false);
        drive(g, CDB_OPER_PORT_B, i, a[(i + 1) % 4], i == 3);
      }
      op = make_adder(nl, 3, 3, 3, true);
      for (unsigned i = 0; i < 3; ++i) {
        g->get_oterm(CDB_OPER_PORT_O, i + 1)->insert_fanout(op->get_iterm(CDB_OPER_PORT_A, i));
        drive(op, CDB_OPER_PORT_B, i, nullptr, i >= 2);  // B = 0b011
      }
      op->get_iterm(CDB_OPER_PORT_CIN, 0)->set_gnd();
      make_output_pin(&nl, "g0", nullptr);
      out(g)->insert_fanout(nl.get_output_pins().back()->get_single_iterm());
    } else {
      op = make_adder(nl, 4, 4, 4, true);
      const CDB_OPER_PORT_TYPE sig = c == ZERO_A_SWAPPED ? CDB_OPER_PORT_B : CDB_OPER_PORT_A;
      const CDB_OPER_PORT_TYPE zero = c == ZERO_A_SWAPPED ? CDB_OPER_PORT_A : CDB_OPER_PORT_B;
      for (unsigned i = 0; i < 4; ++i) {
        drive(op, sig, i, a[i], i == 1);  // an inverted bit rides along
        drive(op, zero, i, nullptr, true);  // GND
      }
      if (c == LIVE_CARRY)
        out(ci)->insert_fanout(op->get_iterm(CDB_OPER_PORT_CIN, 0));
      else
        op->get_iterm(CDB_OPER_PORT_CIN, 0)->set_gnd();
    }
    std::vector<CDB_SGATE_NODE*> o;
    CDB_SGATE_OPER_PORT_ENTRY* result = op->get_port(CDB_OPER_PORT_O);
    for (unsigned i = 0; i < result->get_width(); ++i) {
      CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
      nl.add_node(pin);
      result->get_oterm(i)->insert_fanout(pin->get_single_iterm());
      o.push_back(pin);
    }
    std::unique_ptr<CDB_SGATE_NETLIST> before(nl.clone(nullptr, false, true));
    nl.clear_temp_pointers();
    std::vector<CDB_SGATE_NODE*> before_pins, before_outs;
    for (auto* p : pins) before_pins.push_back(static_cast<CDB_SGATE_NODE*>(p->get_temp_pointer()));
    const bool changed = kavu_fix_constant_adder_bus(op);
    EXPECT_EQ(changed, c != LIVE_CARRY);
    if (c == ZERO_B || c == ZERO_A_SWAPPED) {
      EXPECT_FALSE(kavu_op_has_some_fanout(op));
    }
    if (c == REALIGN) {
      EXPECT_EQ(op->get_width(CDB_OPER_PORT_A), 4u);
    }
    // Same function: compare output words pin by pin with the copy.
    NETLIST_SIMULATOR now(&nl), then(before.get());
    ASSERT_TRUE(now.ok() && then.ok()) << now.error() << then.error();
    for (size_t i = 0; i < pins.size(); ++i) {
      uint64_t w = 0;
      for (unsigned k = 0; k < 32; ++k)
        if ((k >> i) & 1) w |= 1ull << k;
      now.set_input(pins[i], w);
    }
    auto bp = before->get_input_pins();
    for (size_t i = 0; i < bp.size(); ++i) {
      uint64_t w = 0;
      for (unsigned k = 0; k < 32; ++k)
        if ((k >> i) & 1) w |= 1ull << k;
      then.set_input(bp[i], w);
    }
    now.eval();
    then.eval();
    auto op_now = nl.get_output_pins(), op_then = before->get_output_pins();
    ASSERT_EQ(op_now.size(), op_then.size());
    for (size_t i = 0; i < op_now.size(); ++i)
      EXPECT_EQ(now.output(op_now[i]) & 0xffffffffull, then.output(op_then[i]) & 0xffffffffull) << "output " << i;
  }
}

// A register fed by AND(data, clear) takes the clear on its synchronous
// clear input, inverted; a live enable keeps the AND in place.
TEST(KavuArithSclr, BypassMovesTheClearUnlessTheEnableIsLive) {
  for (bool live_enable : {false, true}) {
    for (bool use_mux : {false, true}) {
      SCOPED_TRACE(std::string(live_enable ? "enable " : "") + (use_mux ? "mux" : "and"));
      CDB_SGATE_NETLIST nl;
      KAVU_TRACK(nl);
      CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
      CDB_SGATE_NODE* clr = make_input_pin(&nl, "clr");
      CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
      CDB_SGATE_NODE* en = make_input_pin(&nl, "en");
      CDB_SGATE_NODE* g;
      if (use_mux) {
        g = make_mux(&nl, x, nullptr, clr);  // select high: GND, so the clear is active high
        g->get_input_term(CDB_MUX_DATA1)->set_gnd();
      } else {
        g = make_and(&nl, x, clr);
        for (int i = 0; i < 40; ++i) make_output_pin(&nl, ("fan" + std::to_string(i)).c_str(), clr);
      }
      CDB_SGATE_NODE* reg = make_dff(&nl, g, clk);
      for (int p : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_SCLR, CDB_DFF_SLOAD})
        reg->get_input_term(p)->set_gnd();
      reg->get_input_term(CDB_DFF_ADATA)->set_vcc();
      if (live_enable)
        out(en)->insert_fanout(reg->get_input_term(CDB_DFF_ENA));
      else
        reg->get_input_term(CDB_DFF_ENA)->set_vcc();
      make_output_pin(&nl, "q", reg);
      std::unique_ptr<CDB_SGATE_NETLIST> before(nl.clone(nullptr, true, true));
      nl.clear_temp_pointers();
      KAVU_SCLR_BYPASS_RECORD record;
      CDB_SGATE_ITERM* d = reg->get_input_term(CDB_DFF_DATA);
      CDB_SGATE_ITERM* seen = kavu_get_data_in_bypass_sclear(reg, false, &record);
      EXPECT_EQ(seen == d, live_enable);
      EXPECT_EQ(kavu_get_data_in_bypass_sclear(reg, true, &record), d);
      CDB_SGATE_ITERM* sclr = reg->get_input_term(CDB_DFF_SCLR);
      if (live_enable) {
        EXPECT_TRUE(sclr->is_gnd());
        EXPECT_TRUE(record.empty());
      } else {
        EXPECT_EQ(sclr->get_source_oterm(), out(clr));
        EXPECT_EQ(sclr->is_inverted(), !use_mux);
        EXPECT_EQ(d->get_source_oterm(), out(x));
        EXPECT_FALSE(g->has_fanout());
        ASSERT_NE(record.find(reg->get_id()), record.end());
        EXPECT_EQ(record.find(reg->get_id())->second, use_mux ? CDB_SGATE_MUX_ENUM : CDB_SGATE_COMB_ENUM);
      }
      ASSERT_KAVU_EQUIVALENT(before, nl);
    }
  }
}

TEST(KavuArithBuses, ConstantValuesAndRegisterChains) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_OPERATOR* op = make_adder(nl, 4, 4, 4, false);
  const bool vcc[4] = {true, false, true, true};  // 13, or -3 sign-extended
  for (unsigned i = 0; i < 4; ++i) drive(op, CDB_OPER_PORT_A, i, nullptr, !vcc[i]);
  int value = 0;
  EXPECT_TRUE(kavu_bus_is_constant(op, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, false, &value));
  EXPECT_EQ(value, 13);
  EXPECT_TRUE(kavu_bus_is_constant(op, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, true, &value));
  EXPECT_EQ(value, -3);
  bool inverted = false;
  EXPECT_FALSE(kavu_bus_has_consistent_inversion(op, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, inverted));
  // A value is one int: a constant bus of 33 bits has none, one of 32 bits
  // with VCC on top needs no sign extension. Once, bit 32 was dropped.
  for (unsigned width : {32u, 33u}) {
    SCOPED_TRACE(width);
    CDB_SGATE_OPERATOR* wide = make_adder(nl, width, width, width, false);
    for (unsigned i = 0; i < width; ++i) drive(wide, CDB_OPER_PORT_A, i, nullptr, i != 0 && i != 31);
    if (width == 33) {
      EXPECT_KAVU_INTERNAL_ERROR(kavu_bus_is_constant(wide, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, false, &value),
                                 "i <= 32");
      EXPECT_TRUE(kavu_bus_is_constant(wide, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, false, nullptr));
      continue;
    }
    EXPECT_TRUE(kavu_bus_is_constant(wide, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, true, &value));
    EXPECT_EQ(uint32_t(value), 0x80000001u);
  }
  // Chains of plain registers: 100 are walked through, 101 are too many; a
  // preserved register is seen among the last 101, not beyond (once, 102
  // registers were examined).
  for (int length : {100, 101, 102}) {
    SCOPED_TRACE(length);
    CDB_SGATE_NETLIST chain;
    CDB_SGATE_NODE* src = make_input_pin(&chain, "s");
    CDB_SGATE_NODE* clk = make_input_pin(&chain, "clk");
    CDB_SGATE_NODE* prev = src;
    for (int i = 0; i < length; ++i) prev = make_dff(&chain, prev, clk);
    CDB_SGATE_NODE* end = make_output_pin(&chain, "e", prev);
    EXPECT_EQ(kavu_get_non_dff_src(end->get_single_iterm()), length == 100 ? out(src) : nullptr);
    EXPECT_EQ(kavu_get_non_dff_dst(out(src)), length == 100 ? end->get_single_iterm() : nullptr);
    EXPECT_FALSE(kavu_check_preserved_reg(end->get_single_iterm()));
    CDB_SGATE_NODE* farthest = out(src)->get_first_fanout()->get_my_node();
    farthest->cast_to_dff()->set_preserve(true);
    EXPECT_EQ(kavu_check_preserved_reg(end->get_single_iterm()), length <= 101);
  }
}

// A 4-bit adder result reaches another adder's A port through two register
// stages; the connection is found with its depth, and a wider destination
// fed by the top bit again is an extension.
TEST(KavuArithBuses, BusSearchThroughRegisterPipelines) {
  for (bool extend : {false, true}) {
    SCOPED_TRACE(extend);
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    std::vector<CDB_SGATE_NODE*> a;
    for (int i = 0; i < 4; ++i) a.push_back(make_input_pin(&nl, ("a" + std::to_string(i)).c_str()));
    CDB_SGATE_OPERATOR* src = make_adder(nl, 4, 4, 4, false);
    for (unsigned i = 0; i < 4; ++i) {
      drive(src, CDB_OPER_PORT_A, i, a[i], false);
      drive(src, CDB_OPER_PORT_B, i, a[3 - i], false);
    }
    const unsigned wd = extend ? 5 : 4;
    CDB_SGATE_OPERATOR* dst = make_adder(nl, wd, wd, wd, false);
    std::vector<CDB_SGATE_NODE*> stage2;
    for (unsigned i = 0; i < 4; ++i) {
      CDB_SGATE_NODE* r1 = make_reg(nl, nullptr, clk);
      src->get_oterm(CDB_OPER_PORT_O, i)->insert_fanout(r1->get_input_term(CDB_DFF_DATA));
      stage2.push_back(make_reg(nl, r1, clk));
      out(stage2.back())->insert_fanout(dst->get_iterm(CDB_OPER_PORT_A, i));
    }
    if (extend) {
      CDB_SGATE_NODE* r1 = make_reg(nl, nullptr, clk);
      src->get_oterm(CDB_OPER_PORT_O, 3)->insert_fanout(r1->get_input_term(CDB_DFF_DATA));
      out(make_reg(nl, r1, clk))->insert_fanout(dst->get_iterm(CDB_OPER_PORT_A, 4));
    }
    for (unsigned i = 0; i < wd; ++i) drive(dst, CDB_OPER_PORT_B, i, nullptr, true);
    make_output_pin(&nl, "y", nullptr);
    dst->get_oterm(CDB_OPER_PORT_O, 0)->insert_fanout(nl.get_output_pins().back()->get_single_iterm());
    DB_OUTPUT_PORT_TYPE sp = DB_MAX_OUTPUT_PORT_TYPE;
    CDB_OPER_PORT_TYPE so = CDB_OPER_PORT_CIN;
    KAVU_BUS_INFO info;
    EXPECT_EQ(kavu_get_bus_src(dst, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, sp, so, info), src);
    EXPECT_EQ(so, CDB_OPER_PORT_O);
    EXPECT_EQ(info.m_width, 4u);
    EXPECT_EQ(info.m_depth, 2u);
    EXPECT_EQ(info.m_extended, extend);
    EXPECT_FALSE(info.m_constant_tail);
    DB_INPUT_PORT_TYPE dp = DB_MAX_INPUT_PORT_TYPE;
    CDB_OPER_PORT_TYPE dop = CDB_OPER_PORT_CIN;
    EXPECT_EQ(kavu_get_bus_dst(src, DB_MAX_OUTPUT_PORT_TYPE, CDB_OPER_PORT_O, dp, dop, info), dst);
    EXPECT_EQ(dop, CDB_OPER_PORT_A);
    std::vector<CDB_SGATE_OTERM*> regs;
    OPT_SECONDARY_SIGNALS sec;
    EXPECT_TRUE(kavu_bus_to_pipeline_only(src, DB_MAX_OUTPUT_PORT_TYPE, CDB_OPER_PORT_O, &regs, &sec));
    EXPECT_EQ(regs.size(), extend ? 5u : 4u);
  }
}

namespace {

// `t` reads `o` (not inverted), whatever it read before.
void rewire(CDB_SGATE_OTERM* o, CDB_SGATE_ITERM* t) {
  t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  o->insert_fanout(t);
}

// How the register of one bus bit gets its data: straight from the source
// bit, or through the logic of a synchronous clear.
enum CLEAR_SHAPE { PLAIN, AND_CLR, AND_CLR2, AND_NOT_CLR, MUX_CLR, AND_NO_SCLR_INPUT };

// A 4-bit adder `src` whose result reaches the A port of adder `dst` through
// one register per bit, each fed as `shapes` says ("clr" and "clr2" are
// the clears).
struct CLEARED_PIPELINE {
  CDB_SGATE_OPERATOR* src = nullptr;
  CDB_SGATE_OPERATOR* dst = nullptr;
  std::vector<CDB_SGATE_NODE*> regs;
  CDB_SGATE_NODE* clr = nullptr;
  CDB_SGATE_NODE* clr2 = nullptr;
};

CLEARED_PIPELINE build_cleared_pipeline(CDB_SGATE_NETLIST& nl, const std::vector<CLEAR_SHAPE>& shapes) {
  CLEARED_PIPELINE p;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  p.clr = make_input_pin(&nl, "clr");
  p.clr2 = make_input_pin(&nl, "clr2");
  const unsigned w = unsigned(shapes.size());
  p.src = make_adder(nl, w, w, w, false);
  p.dst = make_adder(nl, w, w, w, false);
  for (unsigned i = 0; i < w; ++i) {
    CDB_SGATE_NODE* a = make_input_pin(&nl, ("a" + std::to_string(i)).c_str());
    drive(p.src, CDB_OPER_PORT_A, i, a, false);
    drive(p.src, CDB_OPER_PORT_B, i, a, true);
    drive(p.dst, CDB_OPER_PORT_B, i, nullptr, true);  // GND
    CDB_SGATE_OTERM* bit = p.src->get_oterm(CDB_OPER_PORT_O, i);
    CDB_SGATE_NODE* reg = make_reg(nl, nullptr, clk);
    CDB_SGATE_ITERM* d = reg->get_input_term(CDB_DFF_DATA);
    switch (shapes[i]) {
      case PLAIN:
        rewire(bit, d);
        break;
      case AND_CLR: case AND_CLR2: case AND_NOT_CLR: case AND_NO_SCLR_INPUT: {
        CDB_SGATE_NODE* g = make_and(&nl, nullptr, shapes[i] == AND_CLR2 ? p.clr2 : p.clr);
        if (shapes[i] == AND_NOT_CLR) g->get_input_term(1)->invert();  // active high, like the mux
        rewire(bit, g->get_input_term(0));
        out(g)->insert_fanout(d);
        if (shapes[i] == AND_NO_SCLR_INPUT) reg->delete_input_term(reg->get_input_term(CDB_DFF_SCLR));
        break;
      }
      case MUX_CLR: {
        CDB_SGATE_NODE* g = make_mux(&nl, nullptr, nullptr, p.clr);  // select high: GND
        rewire(bit, g->get_input_term(CDB_MUX_DATA0));
        g->get_input_term(CDB_MUX_DATA1)->set_gnd();
        out(g)->insert_fanout(d);
        break;
      }
    }
    out(reg)->insert_fanout(p.dst->get_iterm(CDB_OPER_PORT_A, i));
    p.regs.push_back(reg);
  }
  for (unsigned i = 0; i < w; ++i)
    make_output_pin(&nl, ("y" + std::to_string(i)).c_str(), nullptr)->get_single_iterm();
  auto pins = nl.get_output_pins();
  for (unsigned i = 0; i < w; ++i) {
    CDB_SGATE_ITERM* t = pins[pins.size() - w + i]->get_single_iterm();
    rewire(p.dst->get_oterm(CDB_OPER_PORT_O, i), t);
  }
  return p;
}

// Registers whose synchronous clear reads one of the clears.
int moved_clears(const CLEARED_PIPELINE& p) {
  int n = 0;
  for (CDB_SGATE_NODE* r : p.regs) {
    CDB_SGATE_ITERM* s = r->get_input_term(CDB_DFF_SCLR);
    if (s && s->get_source_oterm() && (s->get_source_oterm() == out(p.clr) || s->get_source_oterm() == out(p.clr2)))
      ++n;
  }
  return n;
}

}  // namespace

// The aware searches decide before they edit: a search that fails moves no
// clear, one that succeeds moves every clear it crossed, and looking answers
// what applying would. Once, a bit without a clear made the search move the
// first bit's clear and then answer null, and a register without a
// synchronous-clear input passed looking and stopped applying.
TEST(KavuArithSclr, AwareSearchesApplyAllOrNothing) {
  struct ROW {
    const char* what;
    std::vector<CLEAR_SHAPE> shapes;
    bool found;
  };
  const ROW rows[] = {
      {"one clear on every bit", {AND_CLR, AND_CLR, AND_CLR, AND_CLR}, true},
      {"active-high mux clears", {MUX_CLR, MUX_CLR, MUX_CLR, MUX_CLR}, true},
      {"bit 1 without a clear", {AND_CLR, PLAIN, AND_CLR, AND_CLR}, false},
      {"two different clears", {AND_CLR, AND_CLR, AND_CLR2, AND_CLR2}, false},
      {"a register without a clear input", {AND_CLR, AND_CLR, AND_NO_SCLR_INPUT, AND_CLR}, false},
      // One net, both polarities: the clears differ.
      {"active-low and active-high clears on one net", {AND_CLR, AND_CLR, MUX_CLR, MUX_CLR}, false},
      {"active-high clears through an inverted AND input and a mux", {AND_NOT_CLR, MUX_CLR, AND_NOT_CLR, MUX_CLR},
       true},
  };
  enum SEARCH { BUS_SRC, BUS_DST, CONNECTION, PIPELINE_ONLY };
  for (const ROW& r : rows) {
    for (SEARCH search : {BUS_SRC, BUS_DST, CONNECTION, PIPELINE_ONLY}) {
      for (bool apply : {false, true}) {
        SCOPED_TRACE(std::string(r.what) + " search " + std::to_string(int(search)) + (apply ? " apply" : " look"));
        // The destination side sees a clear only through a mux, and the
        // pipeline check only a mux (it always applies).
        const bool mux = r.shapes[0] == MUX_CLR;
        if ((search == BUS_DST || search == PIPELINE_ONLY) && (!mux || !apply)) continue;
        CDB_SGATE_NETLIST nl;
        KAVU_TRACK(nl);
        CLEARED_PIPELINE p = build_cleared_pipeline(nl, r.shapes);
        std::unique_ptr<CDB_SGATE_NETLIST> before(nl.clone(nullptr, true, true));
        nl.clear_temp_pointers();
        KAVU_SCLR_BYPASS_RECORD record;
        KAVU_BUS_INFO info;
        bool found = false;
        if (search == BUS_SRC) {
          DB_OUTPUT_PORT_TYPE sp = DB_MAX_OUTPUT_PORT_TYPE;
          CDB_OPER_PORT_TYPE so = CDB_OPER_PORT_CIN;
          CDB_SGATE_NODE* got = kavu_get_bus_src_sclr_aware(p.dst, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, sp, so,
                                                            info, true, apply, &record);
          EXPECT_TRUE(got == nullptr || got == p.src);
          found = got == p.src;
        } else if (search == BUS_DST) {
          DB_INPUT_PORT_TYPE dp = DB_MAX_INPUT_PORT_TYPE;
          CDB_OPER_PORT_TYPE dop = CDB_OPER_PORT_CIN;
          CDB_SGATE_NODE* got = kavu_get_bus_dst_sclr_aware(p.src, DB_MAX_OUTPUT_PORT_TYPE, CDB_OPER_PORT_O, dp, dop,
                                                            info, true, apply, &record);
          EXPECT_TRUE(got == nullptr || got == p.dst);
          found = got == p.dst;
        } else if (search == CONNECTION) {
          std::vector<CDB_SGATE_OTERM*> srcs;
          std::vector<CDB_SGATE_ITERM*> dsts;
          kavu_get_bus_src_oterms(p.src, DB_MAX_OUTPUT_PORT_TYPE, CDB_OPER_PORT_O, &srcs);
          kavu_get_bus_dst_iterms(p.dst, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, &dsts);
          found = kavu_check_bus_connection_sclr_aware(&srcs, &dsts, info, true, apply, &record);
        } else {
          std::vector<CDB_SGATE_OTERM*> regs;
          OPT_SECONDARY_SIGNALS sec;
          found = kavu_bus_to_pipeline_only_sclr_aware(p.src, DB_MAX_OUTPUT_PORT_TYPE, CDB_OPER_PORT_O, &regs, &sec,
                                                       true, &record);
          EXPECT_EQ(regs.size(), found ? 4u : 0u);
          info.m_width = found ? 4 : 0;
          info.m_depth = found ? 1 : 0;
        }
        EXPECT_EQ(found, r.found);
        if (found) {
          EXPECT_EQ(info.m_width, 4u);
          EXPECT_EQ(info.m_depth, 1u);
        }
        const int moved = apply && r.found ? 4 : 0;
        EXPECT_EQ(moved_clears(p), moved);
        EXPECT_EQ(int(record.size()), moved);
        ASSERT_KAVU_EQUIVALENT(before, nl);
      }
    }
  }
}

namespace {

// One destination bit of a bus connection: a source bit through `depth`
// registers ('S'), GND ('G') or an input pin ('P'). Bits with the same
// source, depth and marks share their registers.
struct FEED {
  char kind;
  int bit = 0;
  int depth = 0;
  bool inverted = false;   // the first register's data input
  bool preserved = false;  // the first register
};

FEED src_bit(int bit, int depth, bool inverted = false, bool preserved = false) {
  return FEED{'S', bit, depth, inverted, preserved};
}

}  // namespace

// The connection of a source bus to a destination bus, bit for bit through
// equal register pipelines: offsets, width and depth, extension by the top
// bit, a constant tail, bits read elsewhere, preserved registers, and the
// register search for the offsets.
TEST(KavuArithBuses, BusConnectionTable) {
  struct ROW {
    const char* what;
    std::vector<FEED> dst;
    std::vector<int> read_elsewhere;  // source bits that also drive a pin
    bool through_regs;
    bool ok;
    unsigned width, src_offset, dst_offset, depth;
    bool extended, constant_tail, exclusive, preserved;
  };
  const FEED gnd{'G'}, pin{'P'};
  const ROW rows[] = {
      {"four bits through two registers", {src_bit(0, 2), src_bit(1, 2), src_bit(2, 2), src_bit(3, 2)}, {}, false,
       true, 4, 0, 0, 2, false, false, true, false},
      {"no registers", {src_bit(0, 0), src_bit(1, 0), src_bit(2, 0), src_bit(3, 0)}, {}, false,
       true, 4, 0, 0, 0, false, false, true, false},
      {"one bit a stage shorter", {src_bit(0, 2), src_bit(1, 2), src_bit(2, 1), src_bit(3, 2)}, {}, false,
       false, 0, 0, 0, 0, false, false, true, false},
      {"extension by the top bit",
       {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1), src_bit(3, 1), src_bit(3, 1), src_bit(3, 1)}, {}, false,
       true, 4, 0, 0, 1, true, false, true, false},
      {"constant tail", {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1), src_bit(3, 1), gnd, gnd}, {}, false,
       true, 4, 0, 0, 1, false, true, true, false},
      {"a constant after an extension", {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1), src_bit(3, 1), src_bit(3, 1), gnd},
       {}, false, false, 0, 0, 0, 0, false, false, true, false},
      {"top source bit unread", {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1)}, {}, false,
       true, 3, 0, 0, 1, false, false, true, false},
      {"low source bit unread", {src_bit(1, 1), src_bit(2, 1), src_bit(3, 1)}, {}, false,
       true, 3, 1, 0, 1, false, false, true, false},
      {"a source bit read elsewhere", {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1), src_bit(3, 1)}, {1}, false,
       true, 4, 0, 0, 1, false, false, false, false},
      {"a preserved register", {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1, false, true), src_bit(3, 1)}, {}, false,
       true, 4, 0, 0, 1, false, false, true, true},
      {"an inverted register input", {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1, true), src_bit(3, 1)}, {}, false,
       false, 0, 0, 0, 0, false, false, true, false},
      {"register search skips foreign low bits", {pin, src_bit(1, 1), src_bit(2, 1), src_bit(3, 1)}, {0}, true,
       true, 3, 1, 1, 1, false, false, true, false},
      {"without the search they do not match", {pin, src_bit(1, 1), src_bit(2, 1), src_bit(3, 1)}, {0}, false,
       false, 0, 0, 0, 0, false, false, true, false},
      {"the top source bit read elsewhere", {src_bit(0, 1), src_bit(1, 1), src_bit(2, 1), src_bit(3, 1)}, {3}, false,
       true, 4, 0, 0, 1, false, false, false, false},
      {"an extension reads the top bit twice", {src_bit(0, 0), src_bit(1, 0), src_bit(2, 0), src_bit(3, 0), src_bit(3, 0)},
       {}, false, true, 4, 0, 0, 0, true, false, true, false},
      {"101 registers deep", {src_bit(0, 101), src_bit(1, 101), src_bit(2, 101), src_bit(3, 101)}, {}, false,
       true, 4, 0, 0, 101, false, false, true, false},
      {"102 registers deep", {src_bit(0, 102), src_bit(1, 102), src_bit(2, 102), src_bit(3, 102)}, {}, false,
       false, 0, 0, 0, 0, false, false, true, false},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.what);
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_OPERATOR* src = make_adder(nl, 4, 4, 4, false);
    for (unsigned i = 0; i < 4; ++i) {
      drive(src, CDB_OPER_PORT_A, i, make_input_pin(&nl, ("a" + std::to_string(i)).c_str()), false);
      drive(src, CDB_OPER_PORT_B, i, make_input_pin(&nl, ("b" + std::to_string(i)).c_str()), false);
    }
    const unsigned wd = unsigned(r.dst.size());
    CDB_SGATE_OPERATOR* dst = make_adder(nl, wd, wd, wd, false);
    std::map<std::tuple<int, int, bool, bool>, CDB_SGATE_OTERM*> chains;
    for (unsigned j = 0; j < wd; ++j) {
      const FEED& f = r.dst[j];
      CDB_SGATE_ITERM* t = dst->get_iterm(CDB_OPER_PORT_A, j);
      drive(dst, CDB_OPER_PORT_B, j, nullptr, true);
      if (f.kind == 'G') {
        t->set_gnd();
        continue;
      }
      if (f.kind == 'P') {
        drive(dst, CDB_OPER_PORT_A, j, make_input_pin(&nl, ("p" + std::to_string(j)).c_str()), false);
        continue;
      }
      CDB_SGATE_OTERM*& end = chains[{f.bit, f.depth, f.inverted, f.preserved}];
      if (!end) {
        end = src->get_oterm(CDB_OPER_PORT_O, unsigned(f.bit));
        for (int k = 0; k < f.depth; ++k) {
          CDB_SGATE_NODE* reg = make_reg(nl, nullptr, clk);
          rewire(end, reg->get_input_term(CDB_DFF_DATA));
          if (k == 0 && f.inverted) reg->get_input_term(CDB_DFF_DATA)->set_invert();
          if (k == 0 && f.preserved) reg->cast_to_dff()->set_preserve(true);
          end = out(reg);
        }
      }
      end->insert_fanout(t);
    }
    for (int bit : r.read_elsewhere) {
      CDB_SGATE_NODE* y = make_output_pin(&nl, ("e" + std::to_string(bit)).c_str(), nullptr);
      rewire(src->get_oterm(CDB_OPER_PORT_O, unsigned(bit)), y->get_single_iterm());
    }
    std::vector<CDB_SGATE_OTERM*> srcs;
    std::vector<CDB_SGATE_ITERM*> dsts;
    ASSERT_TRUE(kavu_get_bus_src_oterms(src, DB_MAX_OUTPUT_PORT_TYPE, CDB_OPER_PORT_O, &srcs));
    ASSERT_TRUE(kavu_get_bus_dst_iterms(dst, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, &dsts));
    KAVU_BUS_INFO info;
    info.m_width = 99;  // cleared by the check, whatever it answers
    EXPECT_EQ(kavu_check_bus_connection(&srcs, &dsts, info, r.through_regs, src, dst), r.ok);
    EXPECT_EQ(info.m_width, r.width);
    EXPECT_EQ(info.m_src_offset, r.src_offset);
    EXPECT_EQ(info.m_dst_offset, r.dst_offset);
    EXPECT_EQ(info.m_depth, r.depth);
    EXPECT_EQ(info.m_extended, r.extended);
    EXPECT_EQ(info.m_constant_tail, r.constant_tail);
    EXPECT_EQ(info.m_exclusive, r.exclusive);
    EXPECT_EQ(info.m_preserved_reg, r.preserved);
    if (r.ok && r.depth > 0) {
      EXPECT_TRUE(rtl_iterms_have_same_source(info.m_secondaries.m_clk, nl.get_input_pins()[0]->get_output_term(0)
                                                                            ->get_first_fanout()));
    }
  }
}

// The next stage of a register pipeline: one register per bit, each the
// only reader of its bit and on the same secondary signals; a null or unread
// bit has no next stage.
TEST(KavuArithBuses, SimplePipelineTable) {
  enum CASE { ONE_EACH, NULL_AND_UNREAD, TWO_READERS, INVERTED, INTO_ENABLE, TWO_CLOCKS, NOT_A_REGISTER };
  for (CASE c : {ONE_EACH, NULL_AND_UNREAD, TWO_READERS, INVERTED, INTO_ENABLE, TWO_CLOCKS, NOT_A_REGISTER}) {
    SCOPED_TRACE(int(c));
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_NODE* clk2 = make_input_pin(&nl, "clk2");
    std::vector<CDB_SGATE_OTERM*> bus;
    std::vector<CDB_SGATE_OTERM*> want;
    for (int i = 0; i < 4; ++i) {
      CDB_SGATE_NODE* pin = make_input_pin(&nl, ("d" + std::to_string(i)).c_str());
      bus.push_back(out(pin));
      if (c == NULL_AND_UNREAD && i == 1) {
        bus.back() = nullptr;
        want.push_back(nullptr);
        continue;
      }
      if (c == NULL_AND_UNREAD && i == 2) {
        want.push_back(nullptr);
        continue;
      }
      if (c == NOT_A_REGISTER && i == 3) {
        make_and(&nl, pin, clk2);
        continue;
      }
      CDB_SGATE_NODE* reg = make_reg(nl, pin, c == TWO_CLOCKS && i == 2 ? clk2 : clk);
      if (c == INVERTED && i == 1) reg->get_input_term(CDB_DFF_DATA)->set_invert();
      if (c == TWO_READERS && i == 0) make_output_pin(&nl, "also", pin);
      if (c == INTO_ENABLE && i == 3) rewire(out(pin), reg->get_input_term(CDB_DFF_ENA));
      want.push_back(out(reg));
    }
    std::vector<CDB_SGATE_OTERM*> next{nullptr};
    OPT_SECONDARY_SIGNALS sec;
    const bool ok = c == ONE_EACH || c == NULL_AND_UNREAD;
    EXPECT_EQ(kavu_bus_get_simple_pipeline(&bus, next, sec), ok);
    if (ok) {
      EXPECT_EQ(next, want);
      EXPECT_TRUE(rtl_iterms_have_same_source(sec.m_clk, out(clk)->get_first_fanout()));
    } else {
      EXPECT_TRUE(next.empty());
    }
  }
}

// A bus detached as KAVU_VIRTUAL_ITERMs and rebuilt on an atom: sources,
// inversions and constants (VCC plain, GND inverted) survive the round trip;
// an operator port is read from bit 0, its extra carry-in bit included.
TEST(KavuArithBuses, VirtualBusRoundTrip) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* p = make_input_pin(&nl, "p");
  CDB_SGATE_NODE* q = make_input_pin(&nl, "q");
  auto* atom = new CDB_SGATE_WYSIWYG(nullptr, 61);
  nl.add_node(atom);
  const DB_INPUT_PORT_TYPE port = DB_PORT_DATAA;
  std::vector<KAVU_VIRTUAL_ITERM> bus{{out(p), false}, {out(q), true}, {nullptr, false}, {nullptr, true}};
  std::vector<KAVU_VIRTUAL_ITERM> none;
  EXPECT_FALSE(kavu_create_bus(atom, port, &none));
  EXPECT_TRUE(kavu_create_bus(atom, port, &bus));
  std::vector<CDB_SGATE_ITERM*> bits;
  ASSERT_TRUE(kavu_get_bus_dst_iterms(atom, port, CDB_OPER_PORT_A, &bits));
  ASSERT_EQ(bits.size(), 4u);
  EXPECT_EQ(bits[0]->get_source_oterm(), out(p));
  EXPECT_FALSE(bits[0]->is_inverted());
  EXPECT_EQ(bits[1]->get_source_oterm(), out(q));
  EXPECT_TRUE(bits[1]->is_inverted());
  EXPECT_TRUE(bits[2]->is_vcc());
  EXPECT_TRUE(bits[3]->is_gnd());
  std::vector<KAVU_VIRTUAL_ITERM> back;
  EXPECT_TRUE(kavu_get_virtual_bus(atom, port, CDB_OPER_PORT_A, back));
  ASSERT_EQ(back.size(), bus.size());
  for (size_t i = 0; i < bus.size(); ++i) {
    EXPECT_EQ(back[i].m_source, bus[i].m_source) << i;
    EXPECT_EQ(back[i].m_inverted, bus[i].m_inverted) << i;
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_virtual_bus(atom, port, CDB_OPER_PORT_A, back), "virtual_bus.empty()");
  EXPECT_TRUE(kavu_remove_bus(atom, port));
  EXPECT_FALSE(kavu_remove_bus(atom, port));
  back.clear();
  EXPECT_FALSE(kavu_get_virtual_bus(atom, port, CDB_OPER_PORT_A, back));
  // An operator: every bit of the port, the carry-in bit 0 included.
  CDB_SGATE_OPERATOR* op = make_adder(nl, 3, 3, 3, false);
  for (unsigned i = 0; i < 3; ++i) {
    drive(op, CDB_OPER_PORT_A, i, i == 0 ? nullptr : p, false);
    drive(op, CDB_OPER_PORT_B, i, i == 0 ? nullptr : q, i != 0);
  }
  ASSERT_EQ(kavu_get_real_lsb(op), 1u);
  EXPECT_TRUE(kavu_get_virtual_bus(op, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_B, back));
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0].m_source, nullptr);
  EXPECT_EQ(back[0].m_inverted, false);
  EXPECT_EQ(back[2].m_source, out(q));
  EXPECT_EQ(back[2].m_inverted, true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_bus(op, port, &bus), "kavu_has_bus_as_wys(node)");
  op->get_iterm(CDB_OPER_PORT_A, 1)->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
  back.clear();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_virtual_bus(op, DB_MAX_INPUT_PORT_TYPE, CDB_OPER_PORT_A, back),
                             "cdb_is_connected(iterm)");
}

// The source search crosses a register by its clear only when the register
// can take the clear; a register without a synchronous-clear input stops it
// at its AND, looking and applying alike, and keeps its data input.
TEST(KavuArithSclr, SearchesStopAtARegisterWithoutAClearInput) {
  const std::vector<CLEAR_SHAPE> shapes = {AND_CLR, MUX_CLR, PLAIN, AND_NO_SCLR_INPUT};
  for (bool apply : {false, true}) {
    SCOPED_TRACE(apply ? "apply" : "look");
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CLEARED_PIPELINE p = build_cleared_pipeline(nl, shapes);
    std::unique_ptr<CDB_SGATE_NETLIST> before(nl.clone(nullptr, true, true));
    nl.clear_temp_pointers();
    CDB_SGATE_NODE* unclearable = p.regs[3];
    CDB_SGATE_ITERM* d = unclearable->get_input_term(CDB_DFF_DATA);
    CDB_SGATE_OTERM* its_and = d->get_source_oterm();
    KAVU_SCLR_BYPASS_RECORD record;
    EXPECT_EQ(kavu_get_data_in_bypass_sclear(unclearable, apply, &record), d);
    for (unsigned i = 0; i < shapes.size(); ++i) {
      CDB_SGATE_OTERM* s = kavu_get_non_dff_src_sclr_aware(p.dst->get_iterm(CDB_OPER_PORT_A, i), true, apply, &record);
      EXPECT_EQ(s, shapes[i] == AND_NO_SCLR_INPUT ? its_and : p.src->get_oterm(CDB_OPER_PORT_O, i)) << i;
    }
    EXPECT_EQ(d->get_source_oterm(), its_and);
    EXPECT_EQ(moved_clears(p), apply ? 2 : 0);
    EXPECT_EQ(int(record.size()), apply ? 2 : 0);
    ASSERT_KAVU_EQUIVALENT(before, nl);
  }
}

// Real circuits with clears built from AND and mux gates: every register
// pipeline in front of a non-register input, checked first by looking and
// then by applying. Applying answers what looking answered, moves clears
// only when the check succeeds, and keeps the circuit's function.
TEST(KavuArithSclr, PipelinesOfBundledCircuitsApplyWhatLookingDecided) {
  for (const char* name : {"small/fsm_seq_generic", "seq/stereovision3", "seq/ch_intrinsics"}) {
    SCOPED_TRACE(name);
    LOADED_NETLIST golden = load_blif(name);
    LOADED_NETLIST nl = load_blif(name);
    KAVU_TRACK(nl);
    // The reader leaves unused controls unconnected; the pipeline check wants
    // them at their inactive values.
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it && (*it)->get_sgate_type() == CDB_SGATE_DFF_ENUM)
        for (int p : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_SCLR, CDB_DFF_SLOAD, CDB_DFF_ENA}) {
          CDB_SGATE_ITERM* t = (*it)->get_input_term(p);
          if (t && !cdb_is_connected(t)) p == CDB_DFF_ENA ? t->set_vcc() : t->set_gnd();
        }
    auto moved = [&] {
      int n = 0;
      for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
        if (*it && (*it)->get_sgate_type() == CDB_SGATE_DFF_ENUM && (*it)->get_input_term(CDB_DFF_SCLR) &&
            (*it)->get_input_term(CDB_DFF_SCLR)->get_source_oterm())
          ++n;
      return n;
    };
    std::vector<CDB_SGATE_ITERM*> ends;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || g->get_sgate_type() == CDB_SGATE_DFF_ENUM) continue;
      for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
        CDB_SGATE_ITERM* t = g->get_input_term(i);
        if (t && t->get_source_oterm() && t->get_source_oterm()->get_my_node()->get_sgate_type() == CDB_SGATE_DFF_ENUM)
          ends.push_back(t);
      }
    }
    const int moved_at_start = moved();
    int applied = 0, refused = 0;
    KAVU_SCLR_BYPASS_RECORD record;
    for (CDB_SGATE_ITERM* t : ends) {
      CDB_SGATE_OTERM* s = kavu_get_non_dff_src_sclr_aware(t, true, false, &record);
      if (!s) continue;
      std::set<CDB_SGATE_NODE*> visited;
      unsigned depth = 0, fanout_sum = 0;
      OPT_SECONDARY_SIGNALS sec;
      const int before = moved();
      const bool look = kavu_check_register_pipeline_sclr_aware(s, t, false, depth, sec, true, visited, fanout_sum,
                                                                true, false, &record);
      EXPECT_EQ(moved(), before);
      const bool apply = kavu_check_register_pipeline_sclr_aware(s, t, false, depth, sec, true, visited, fanout_sum,
                                                                 true, true, &record);
      EXPECT_EQ(apply, look) << t->get_my_node()->get_debug_name();
      if (!look) {
        EXPECT_EQ(moved(), before) << t->get_my_node()->get_debug_name();
        ++refused;
      } else {
        applied += moved() - before;
        EXPECT_EQ(kavu_get_non_dff_src_sclr_aware(t, true, false, &record), s);
      }
    }
    EXPECT_EQ(int(record.size()), applied);
    EXPECT_EQ(moved() - moved_at_start, applied);
    std::cout << name << ": " << applied << " clears moved, " << refused << " pipelines refused\n";
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

// Extending an operator port: only a port narrower than the asked width
// grows, its new bits reading the old top bit (sign) or GND (zero).
TEST(KavuArithBuses, ExtendingAPortToAWidth) {
  const struct {
    unsigned width;
    bool sign, grows;
  } rows[] = {{6, true, true}, {6, false, true}, {4, true, false}, {3, false, false}};
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.width) + (r.sign ? " sign" : " zero"));
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_OPERATOR* op = make_adder(nl, 4, 4, 4, false);
    CDB_SGATE_NODE* top = make_input_pin(&nl, "t");
    for (unsigned i = 0; i < 4; ++i) {
      drive(op, CDB_OPER_PORT_A, i, i == 3 ? top : nullptr, i == 3);
      drive(op, CDB_OPER_PORT_B, i, nullptr, false);
    }
    EXPECT_EQ(kavu_extend_bus(op, CDB_OPER_PORT_A, r.width, r.sign), r.grows);
    const unsigned want = r.grows ? r.width : 4;
    ASSERT_EQ(op->get_width(CDB_OPER_PORT_A), want);
    for (unsigned i = 4; i < want; ++i) {
      CDB_SGATE_ITERM* t = op->get_iterm(CDB_OPER_PORT_A, i);
      if (r.sign) {
        EXPECT_EQ(t->get_source_oterm(), out(top)) << i;
        EXPECT_TRUE(t->is_inverted()) << i;
      } else {
        EXPECT_TRUE(t->is_gnd()) << i;
      }
    }
  }
}
