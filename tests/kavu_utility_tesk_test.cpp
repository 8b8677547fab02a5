// Tests of the retiming support: driving clocks and crossings, pipeline
// registers (current and legacy), RTL-name matching, asynchronous-control
// removal and the input-pin report.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "cfg/cfg.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_utility_tesk.h"
#include "netlist_io/blif.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

// Two clock domains: a0, a1 (clka) feed the synchronizer s1 -> s2 (clkb)
// through an AND; a2 is clocked on the falling edge of clka and feeds a3.
const char kSynchronizer[] = R"(.model top
.inputs clka clkb d0 d1 d2
.outputs qs qa qc
.latch d0 a0 re clka 0
.latch d1 a1 re clka 0
.names a0 a1 x
11 1
.latch x s1 re clkb 0
.latch s1 s2 re clkb 0
.names s2 qs
1 1
.names a0 qa
1 1
.latch d2 a2 fe clka 0
.latch a2 a3 re clka 0
.names a3 qc
1 1
.end
)";

struct DESIGN {
  LOADED_NETLIST nl;
  explicit DESIGN(const char* text) {
    BLIF_RESULT r = blif_read_string(text);
    EXPECT_TRUE(r.error.empty()) << r.error;
    nl = LOADED_NETLIST(r.netlist, LOADED_NETLIST_DELETER{r.hierarchy});
  }
  // The gate named top|<leaf>; pins (which share their signal's name with
  // the gate driving an output) only when `want_pin`, except input pins.
  CDB_SGATE_NODE* node(const std::string& leaf, bool want_pin = false) const {
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || !g->get_instance_name() || g->get_instance_name()->get_short_hpath(0) != "top|" + leaf) continue;
      if (g->is_output() != want_pin) continue;
      return g;
    }
    ADD_FAILURE() << "no node " << leaf;
    return nullptr;
  }
  CDB_SGATE_NODE* pin(const std::string& leaf) const { return node(leaf, true); }
  CDB_SGATE_OTERM* out(const std::string& leaf) const { return node(leaf)->get_single_oterm(); }
};

HDB_INSTANCE_NAME* top_name(const char* leaf) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, leaf, nullptr, nullptr, top);
}

// A one-bit multiply "top|mul" of the registers ra and rb of d, its output
// terminal not yet read.
CDB_SGATE_OPERATOR* make_multiply_of_ra_rb(const DESIGN& d) {
  auto* op = new CDB_SGATE_OPERATOR("mul", CDB_OPER_MULTIPLY);
  op->set_instance_name(top_name("mul"));
  d.nl->add_node(op);
  auto* a = op->add_port("a", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  auto* b = op->add_port("b", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
  auto* o = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  a->set_iterm(0, op->create_input_term(nullptr));
  b->set_iterm(0, op->create_input_term(nullptr));
  o->set_oterm(0, new CDB_SGATE_OTERM(op));
  d.out("ra")->insert_fanout(a->get_iterm(0));
  d.out("rb")->insert_fanout(b->get_iterm(0));
  return op;
}

// Per cycle: inputs set (random words by pin name and cycle unless
// `override` gives one), eval, outputs recorded, clock.
typedef std::map<std::string, std::vector<uint64_t>> TRACE;
TRACE simulate(const CDB_SGATE_NETLIST* nl, int cycles,
               const std::function<bool(const std::string&, int, uint64_t*)>& override = nullptr) {
  NETLIST_SIMULATOR sim(nl);
  EXPECT_TRUE(sim.ok()) << sim.error();
  sim.reset_state();
  TRACE trace;
  for (int c = 0; c < cycles; ++c) {
    for (CDB_SGATE_IO* pin : nl->get_input_pins()) {
      std::string name = pin->get_instance_name()->get_short_hpath(0);
      uint64_t w = std::hash<std::string>()(name) * 0x9E3779B97F4A7C15ull ^ (uint64_t(c + 1) * 0xD1B54A32D192ED03ull);
      w ^= w >> 29;
      if (override) override(name, c, &w);
      sim.set_input(pin, w);
    }
    sim.eval();
    for (CDB_SGATE_IO* pin : nl->get_output_pins())
      trace[pin->get_instance_name()->get_short_hpath(0)].push_back(sim.output(pin));
    sim.clock();
  }
  return trace;
}

size_t count_kind(const CDB_SGATE_NETLIST* nl, int kind) {
  size_t n = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) n += *it && (*it)->get_sgate_type() == kind;
  return n;
}

// A RAM block "top|<name>" with clka on port 35 and clkb on port 36, port B
// in data-in-clock mode when asked, and one input per listed port, each
// driven by its own input pin.
CDB_SGATE_WYSIWYG_RAM_BLOCK* make_ram_block(const DESIGN& d, const char* name, bool data_in_clock,
                                            const std::vector<uint16_t>& ports) {
  auto* ram = new CDB_SGATE_WYSIWYG_RAM_BLOCK(top_name(name), 64);
  d.nl->add_node(ram);
  auto input = [&](uint16_t port, CDB_SGATE_OTERM* src) {
    CDB_SGATE_ITERM* t = ram->create_input_term(nullptr, port);
    ram->set_input_term(t, ram->get_input_port_number(port));
    src->insert_fanout(t);
  };
  input(35, d.out("clka"));
  input(36, d.out("clkb"));
  for (uint16_t port : ports)
    input(port, make_input_pin(d.nl.get(), (std::string(name) + "_p" + std::to_string(port)).c_str())->get_output_term(0));
  if (data_in_clock) ram->set_ram_mode(CDB_RAM_DATA_IN_CLOCK, CDB_RAM_PORT_B);
  return ram;
}

}  // namespace

// ---------------------------------------------------------------- clocks
TEST(KavuUtilityTeskClock, DrivingClocksAndCrossingsOfTheSynchronizer) {
  DESIGN d(kSynchronizer);
  CDB_SGATE_OTERM* clka = d.out("clka");
  CDB_SGATE_OTERM* clkb = d.out("clkb");
  CDB_SGATE_ITERM* s1_data = d.node("s1")->get_input_term(CDB_DFF_DATA);
  EXPECT_EQ(kavu_tesk_get_driving_clock(s1_data).m_clock, clkb);
  EXPECT_EQ(kavu_tesk_get_driving_clock(d.node("s1")->get_input_term(CDB_DFF_CLK)).m_clock, nullptr);
  EXPECT_EQ(kavu_tesk_get_driving_clock(d.out("a0")).m_clock, clka);
  KAVU_TESK_CLOCK fe = kavu_tesk_get_driving_clock(d.out("a2"));
  EXPECT_EQ(fe.m_clock, clka);
  EXPECT_TRUE(fe.m_inverted);
  EXPECT_EQ(kavu_tesk_get_driving_clock(d.pin("qa")->get_input_term(0)).m_clock,
            DUMMY_CLOCK_TERM_FACTORY::get_oterm());

  struct { const char* reg; bool crosses; } inputs[] = {
      {"s1", true},   // fed from clka registers through the AND
      {"s2", false},  // same clock
      {"a0", true},   // fed by an input pin: the dummy clock
      {"a3", false},  // same clock, inverted: not a crossing
  };
  for (const auto& c : inputs)
    EXPECT_EQ(kavu_tesk_iterm_crosses_clock_domain(d.node(c.reg)->get_input_term(CDB_DFF_DATA)), c.crosses) << c.reg;
  EXPECT_FALSE(kavu_tesk_iterm_crosses_clock_domain(d.node("s1")->get_input_term(CDB_DFF_CLK)));
  struct { const char* reg; bool crosses; } outputs[] = {{"a0", true}, {"a1", true}, {"s1", false}, {"s2", true}, {"a2", false}};
  for (const auto& c : outputs) EXPECT_EQ(kavu_tesk_oterm_crosses_clock_domain(d.out(c.reg)), c.crosses) << c.reg;
}

// A RAM block's inputs: the port-A ones on clock 35, the port-B ones (95 to
// 106, 110, 3652, 3654, 42) on clock 36 when port B runs in data-in-clock
// mode and on clock 35 otherwise, any other port on no clock; its outputs
// likewise.
TEST(KavuUtilityTeskClock, RamBlockPortsTakeTheirPortsClock) {
  DESIGN d(kSynchronizer);
  enum SIDE { A, B, NONE };
  const struct {
    uint16_t port;
    SIDE side;
  } ports[] = {{20, A},   {83, A},   {94, A},  {109, A},  {3655, A}, {95, B},  {100, B},
               {106, B},  {110, B},  {3654, B}, {42, B},  {107, NONE}, {111, NONE}};
  std::vector<uint16_t> numbers;
  for (const auto& p : ports) numbers.push_back(p.port);
  for (bool data_in_clock : {false, true}) {
    CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = make_ram_block(d, data_in_clock ? "ram_dic" : "ram", data_in_clock, numbers);
    CDB_SGATE_OTERM* port_b_clock = data_in_clock ? d.out("clkb") : d.out("clka");
    for (const auto& p : ports) {
      CDB_SGATE_OTERM* want = p.side == A ? d.out("clka") : p.side == B ? port_b_clock : nullptr;
      EXPECT_EQ(kavu_tesk_get_driving_clock(ram->get_iterm_by_type(p.port)).m_clock, want)
          << p.port << (data_in_clock ? " data-in clock" : "");
    }
    const struct {
      uint16_t port;
      CDB_SGATE_OTERM* clock;
    } outputs[] = {{41, d.out("clka")}, {3, d.out("clka")}, {42, port_b_clock}};
    for (const auto& o : outputs) {
      CDB_SGATE_OTERM* t = ram->create_output_term(nullptr, o.port);
      ram->set_output_term(t, ram->get_output_port_number(o.port));
      EXPECT_EQ(kavu_tesk_get_driving_clock(t).m_clock, o.clock) << o.port << (data_in_clock ? " data-in clock" : "");
    }
  }
}

// A state machine's clock is the source of the input behind its clock gate;
// a fan-in whose input has no source must not wipe out the clock found.
TEST(KavuUtilityTeskClock, StateMachineClockSkipsInputsWithoutSource) {
  DESIGN d(kSynchronizer);
  CDB_SGATE_NETLIST* nl = d.nl.get();
  KAVU_TRACK(nl);
  CDB_SGATE_BUFFER* b1 = make_buffer(nl, d.node("clkb"));
  CDB_SGATE_BUFFER* b2 = make_buffer(nl, nullptr);  // its input is unconnected
  auto* gate = new CDB_SGATE_COMB(top_name("clkgate"), CDB_COMB_OR, true);
  nl->add_node(gate);
  gate->add_unordered_fanin_from_oterm(nullptr, false, b1->get_single_oterm());
  gate->add_unordered_fanin_from_oterm(nullptr, false, b2->get_single_oterm());
  auto machine = std::make_unique<CDB_STATE_MACHINE>();
  machine->set_clk(gate->get_single_oterm());
  machine->set_clk_is_inverted(true);
  auto* state = new CDB_SGATE_STATE(top_name("st0"), machine.get());
  nl->add_node(state);
  machine->add_state(state);
  state->set_input_term(state->create_input_term(nullptr), 0);
  d.out("a0")->insert_fanout(state->get_input_term(0));
  make_output_pin(nl, "qst", state);
  KAVU_TESK_CLOCK c = kavu_tesk_get_driving_clock(state->get_single_oterm());
  EXPECT_EQ(c.m_clock, d.out("clkb"));
  EXPECT_TRUE(c.m_inverted);
  // The state node's input comes from clka: one register each way.
  std::vector<CDB_SGATE_DFF*> made = kavu_add_pipeline_registers_to_state(nl, state, 1, true);
  ASSERT_EQ(made.size(), 1u);
  EXPECT_EQ(made[0]->get_input_term(CDB_DFF_CLK)->get_source(), d.out("clkb"));
  EXPECT_TRUE(made[0]->get_input_term(CDB_DFF_CLK)->is_inverted());
  EXPECT_KAVU_INTERNAL_ERROR(kavu_add_pipeline_registers_to_state(nl, d.node("s1"), 1, true), "CDB_SGATE_STATE_ENUM");
}

TEST(KavuUtilityTeskClock, ClockDomainsReachedFromANode) {
  DESIGN d(kSynchronizer);
  std::set<std::string> visited, clocks;
  // a0 feeds the AND (then s1 on clkb) and the output buffer of qa.
  EXPECT_TRUE(kavu_tesk_find_clock_domain(d.node("x"), visited, clocks));
  EXPECT_EQ(clocks, std::set<std::string>({"top|clkb"}));
  visited.clear();
  clocks.clear();
  // From s2: its only destination is the LUT of qs, behind which lies no register.
  EXPECT_FALSE(kavu_tesk_find_clock_domain(d.node("s2"), visited, clocks));
  EXPECT_TRUE(clocks.empty());
  // A long chain of gates costs no recursion.
  CDB_SGATE_NETLIST* nl = d.nl.get();
  CDB_SGATE_NODE* g = d.node("x");
  for (int i = 0; i < 100000; ++i) g = make_not(nl, g);
  make_dff(nl, g, d.node("clka"));
  visited.clear();
  clocks.clear();
  EXPECT_TRUE(kavu_tesk_find_clock_domain(d.node("x"), visited, clocks));
  EXPECT_EQ(clocks.size(), 2u);
}

// ---------------------------------------------------------------- pipelines
TEST(KavuUtilityTeskPipeline, SynchronizerGetsExactRegistersAndTheSameLatencyOnEachCrossingPath) {
  const int kCycles = 24;
  DESIGN golden(kSynchronizer);
  TRACE before = simulate(golden.nl.get(), kCycles);
  for (bool after : {false, true}) {
    for (unsigned count : {0u, 1u, 3u}) {
      DESIGN d(kSynchronizer);
      CDB_SGATE_NETLIST* nl = d.nl.get();
      KAVU_TRACK(nl);
      const size_t regs = count_kind(nl, CDB_SGATE_DFF_ENUM);
      // Before s1 (its data crosses from clka), or after a0 and a1 (whose
      // outputs reach s1 and the pin qa): every crossing path of qs once.
      std::vector<CDB_SGATE_DFF*> made;
      if (after) {
        for (const char* reg : {"a1", "a0"}) {
          std::vector<CDB_SGATE_DFF*> m = kavu_add_pipeline_registers_after_node(nl, d.node(reg), count);
          made.insert(made.end(), m.begin(), m.end());
        }
      } else {
        made = kavu_add_pipeline_registers_before_node(nl, d.node("s1"), count);
      }
      const size_t per_node = after ? 2 : 1;
      ASSERT_EQ(made.size(), count * per_node) << after;
      EXPECT_EQ(count_kind(nl, CDB_SGATE_DFF_ENUM), regs + count * per_node);
      CDB_SGATE_OTERM* clock = after ? d.out("clka") : d.out("clkb");
      for (CDB_SGATE_DFF* r : made) {
        EXPECT_EQ(r->get_input_term(CDB_DFF_CLK)->get_source(), clock);
        EXPECT_TRUE(r->get_input_term(CDB_DFF_ENA)->is_vcc());
        EXPECT_TRUE(r->get_input_term(CDB_DFF_ACLR)->is_gnd());
        EXPECT_TRUE(r->merge_allowed() && !r->preserve());
      }
      if (count > 0 && !after) {
        // The first made ends farthest from the node.
        EXPECT_EQ(made.front()->get_input_term(CDB_DFF_DATA)->get_source(), d.out("x"));
        EXPECT_EQ(d.node("s1")->get_input_term(CDB_DFF_DATA)->get_source(), made.back()->get_single_oterm());
      }
      if (count > 0 && after) {
        // The fan-out ends behind the first made; the last made sits next to a0.
        EXPECT_EQ(made.back()->get_input_term(CDB_DFF_DATA)->get_source(), d.out("a0"));
        EXPECT_EQ(d.out("a0")->get_number_of_fanout(), 1u);
        EXPECT_EQ(d.node("x")->get_fanin_term(0), made[count]->get_single_oterm());
      }
      TRACE now = simulate(nl, kCycles);
      for (const auto& [pin, words] : before) {
        // qs crosses in both cases, qa only when a0's output was pipelined.
        const unsigned lag = (pin == "top|qs" || (after && pin == "top|qa")) ? count : 0;
        for (int c = 0; c + int(lag) < kCycles; ++c)
          ASSERT_EQ(now[pin][size_t(c) + lag], words[size_t(c)]) << pin << " cycle " << c << " count " << count;
      }
    }
  }
}

// A terminal of an I/O node is governed by the dummy clock: no register can
// be clocked by it, so the terminal is left alone instead of failing.
TEST(KavuUtilityTeskPipeline, IoNodesGetNoRegisters) {
  DESIGN d(kSynchronizer);
  KAVU_TRACK(d.nl.get());
  EXPECT_TRUE(kavu_tesk_iterm_crosses_clock_domain(d.pin("qa")->get_input_term(0)));
  EXPECT_TRUE(kavu_add_pipeline_registers_before_node(d.nl.get(), d.pin("qa"), 2).empty());
  EXPECT_TRUE(kavu_add_pipeline_registers_after_node(d.nl.get(), d.node("d0"), 2).empty());
}

TEST(KavuUtilityTeskPipeline, RestrictedRegistersArePreserved) {
  CFG_SCOPE cfg{{"rtm_tesk_restrict_regs", "on"}};
  kavu_tesk_reread_keys();
  DESIGN d(kSynchronizer);
  std::vector<CDB_SGATE_DFF*> made = kavu_add_pipeline_registers_before_node(d.nl.get(), d.node("s1"), 1);
  kavu_tesk_reread_keys();
  ASSERT_EQ(made.size(), 1u);
  EXPECT_TRUE(made[0]->preserve());
  EXPECT_FALSE(made[0]->merge_allowed() || made[0]->prune_allowed() || made[0]->allow_anything());
}

// A multiply whose result feeds a LUT and an output pin as well as a
// register: the forward walk ends those branches instead of failing.
TEST(KavuUtilityTeskPipeline, DspWalksBothWays) {
  DESIGN d(".model top\n.inputs clka clkb p q\n.outputs o1 o2\n.latch p ra re clka 0\n.latch q rb re clka 0\n"
           ".names ra o1\n1 1\n.names rb o2\n1 1\n.end\n");
  CDB_SGATE_NETLIST* nl = d.nl.get();
  KAVU_TRACK(nl);
  CDB_SGATE_OPERATOR* op = make_multiply_of_ra_rb(d);
  op->get_output_term(0)->set_instance_name(top_name("prod"));
  make_output_pin(nl, "po", make_lut(nl, {op}, 0x1));   // a LUT, then a pin
  CDB_SGATE_NODE* ro = make_dff(nl, make_and(nl, op, op), d.node("clkb"));
  ro->set_instance_name(top_name("ro"));
  make_output_pin(nl, "qo", ro);
  std::vector<CDB_SGATE_DFF*> after = kavu_add_pipeline_registers_to_dsp(nl, op, 2, false);
  ASSERT_EQ(after.size(), 2u);  // behind ro, whose output reaches a pin
  EXPECT_EQ(after[0]->get_input_term(CDB_DFF_CLK)->get_source(), d.out("clkb"));
  std::vector<CDB_SGATE_DFF*> before = kavu_add_pipeline_registers_to_dsp(nl, op, 1, true);
  EXPECT_EQ(before.size(), 2u);  // ra and rb, each fed by a pin
  EXPECT_TRUE(kavu_add_pipeline_registers_to_dsp_legacy(nl, op, 1, true));
  EXPECT_FALSE(kavu_add_pipeline_registers_to_dsp_legacy(nl, d.node("ra"), 1, true));
}

// ---------------------------------------------------------------- legacy
TEST(KavuUtilityTeskLegacy, RegisterFormTiesOffOrCopiesTheSecondarySignals) {
  const char text[] = ".model top\n.inputs clk d e r\n.outputs q\n"
                      ".subckt $dff_full DATA=d CLK=clk ENA=e SCLR=r Q=q0\n.names q0 q\n1 1\n.end\n";
  for (bool copy : {false, true}) {
    DESIGN d(text);
    CDB_SGATE_NETLIST* nl = d.nl.get();
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* reg = d.node("q0");
    const size_t regs = count_kind(nl, CDB_SGATE_DFF_ENUM);
    ASSERT_TRUE(kavu_add_pipeline_registers_to_dff_legacy(nl, reg, 2, true, copy));
    EXPECT_EQ(count_kind(nl, CDB_SGATE_DFF_ENUM), regs + 2);
    CDB_SGATE_NODE* fresh = reg->get_fanin_term(CDB_DFF_DATA)->get_my_node();
    EXPECT_EQ(fresh->get_input_term(CDB_DFF_CLK)->get_source(), d.out("clk"));
    CDB_SGATE_ITERM* ena = fresh->get_input_term(CDB_DFF_ENA);
    CDB_SGATE_ITERM* sclr = fresh->get_input_term(CDB_DFF_SCLR);
    if (copy) {  // the tie-off is replaced, not joined by a second driver
      EXPECT_EQ(ena->get_source(), d.out("e"));
      EXPECT_EQ(sclr->get_source(), d.out("r"));
      // A signal the register lacks keeps its tie-off.
      EXPECT_TRUE(fresh->get_input_term(CDB_DFF_PRESET)->is_gnd());
    } else {
      EXPECT_TRUE(ena->is_vcc());
      EXPECT_TRUE(sclr->is_gnd());
    }
    EXPECT_TRUE(kavu_add_pipeline_registers_to_dff_legacy(nl, reg, 1, false, false));
    EXPECT_FALSE(kavu_add_pipeline_registers_to_dff_legacy(nl, d.node("q"), 1, false, false));
  }
}

// Every path through the chosen terminals gets exactly `count` more cycles
// of latency, the other paths none: a front of two registers (ra, rb) into
// an AND, or a one-bit multiply for the DSP form, into rx. The outputs,
// simulated, equal the original's `lag` cycles later.
TEST(KavuUtilityTeskLegacy, InsertedRegistersAddTheirCountToTheLatency) {
  const char text[] = ".model top\n.inputs clk a b\n.outputs q qa\n.latch a ra re clk 0\n.latch b rb re clk 0\n"
                      ".names ra rb x\n11 1\n.latch x rx re clk 0\n.names rx q\n1 1\n.names ra qa\n1 1\n.end\n";
  enum FORM { DFF_ON_RX, DFF_ON_FRONT, DSP };
  struct { FORM form; bool before; bool copy; bool qa_lags; } cases[] = {
      {DFF_ON_RX, true, false, false},   {DFF_ON_RX, false, true, false},   {DFF_ON_FRONT, true, true, true},
      {DFF_ON_FRONT, false, false, true}, {DSP, true, true, true},          {DSP, false, true, false},
  };
  const int kCycles = 20;
  DESIGN golden(text);
  TRACE want = simulate(golden.nl.get(), kCycles);
  for (const auto& k : cases)
    for (unsigned count : {1u, 3u}) {
      SCOPED_TRACE(testing::Message() << "form " << k.form << " before " << k.before << " count " << count);
      DESIGN d(text);
      CDB_SGATE_NETLIST* nl = d.nl.get();
      KAVU_TRACK(nl);
      if (k.form == DSP) {
        // The AND becomes a multiply of ra and rb.
        CDB_SGATE_OPERATOR* op = make_multiply_of_ra_rb(d);
        op->get_output_term(0)->adopt_fanouts(d.out("x"), false);
        delete d.node("x");
        ASSERT_TRUE(kavu_add_pipeline_registers_to_dsp_legacy(nl, op, count, k.before));
      } else if (k.form == DFF_ON_RX) {
        ASSERT_TRUE(kavu_add_pipeline_registers_to_dff_legacy(nl, d.node("rx"), count, k.before, k.copy));
      } else {
        for (const char* reg : {"ra", "rb"})
          ASSERT_TRUE(kavu_add_pipeline_registers_to_dff_legacy(nl, d.node(reg), count, k.before, k.copy));
      }
      TRACE got = simulate(nl, kCycles);
      for (const auto& [pin, words] : want) {
        const unsigned lag = (pin == "top|q" || k.qa_lags) ? count : 0;
        for (int c = 0; c + int(lag) < kCycles; ++c)
          ASSERT_EQ(got[pin][size_t(c) + lag], words[size_t(c)]) << pin << " cycle " << c;
      }
    }
}

// A synchronous RAM keeps its port-B clock as port type 96; asking for the
// second clock by 36 must find it.
TEST(KavuUtilityTeskLegacy, RamFormFindsThePortBClockOfASynchronousRam) {
  DESIGN d(".model top\n.inputs clka clkb a b\n.outputs q\n.names a q\n1 1\n.end\n");
  CDB_SGATE_NETLIST* nl = d.nl.get();
  KAVU_TRACK(nl);
  auto* ram = new CDB_SGATE_SYNCHRONOUS_RAM(top_name("ram"));
  nl->add_node(ram);
  d.out("clka")->insert_fanout(ram->add_iterm(35));
  d.out("clkb")->insert_fanout(ram->add_iterm(36));
  d.out("a")->insert_fanout(ram->add_iterm(20));
  d.out("b")->insert_fanout(ram->add_iterm(95));
  CDB_SGATE_OTERM* qb = ram->add_oterm(42);
  make_output_pin(nl, "qb", nullptr)->get_input_term(0)->set_source(qb);
  EXPECT_TRUE(kavu_add_pipeline_registers_to_ram_legacy(nl, ram, 1, true, 36));
  CDB_SGATE_NODE* reg_b = ram->get_iterm_by_type(95)->get_source()->get_my_node();
  ASSERT_EQ(reg_b->get_sgate_type(), CDB_SGATE_DFF_ENUM);
  EXPECT_EQ(reg_b->get_input_term(CDB_DFF_CLK)->get_source(), d.out("clkb"));
  EXPECT_EQ(ram->get_iterm_by_type(20)->get_source(), d.out("a"));  // port A stays on clock 35
  EXPECT_TRUE(kavu_add_pipeline_registers_to_ram_legacy(nl, ram, 2, false, 36));
  EXPECT_EQ(qb->get_number_of_fanout(), 1u);
  const size_t regs = count_kind(nl, CDB_SGATE_DFF_ENUM);
  EXPECT_FALSE(kavu_add_pipeline_registers_to_ram_legacy(nl, ram, 1, true, 37));
  EXPECT_EQ(count_kind(nl, CDB_SGATE_DFF_ENUM), regs);
  EXPECT_EQ(regs, 3u);
  // A RAM block whose clock has no source gets no register.
  auto* block = new CDB_SGATE_WYSIWYG_RAM_BLOCK(top_name("blk"), 64);
  nl->add_node(block);
  CDB_SGATE_ITERM* clk = block->create_input_term(nullptr, 35);
  block->set_input_term(clk, block->get_input_port_number(35));
  clk->set_vcc();
  CDB_SGATE_ITERM* din = block->create_input_term(nullptr, 20);
  block->set_input_term(din, block->get_input_port_number(20));
  d.out("a")->insert_fanout(din);
  EXPECT_TRUE(kavu_add_pipeline_registers_to_ram_legacy(nl, block, 1, true, 35));
  EXPECT_EQ(count_kind(nl, CDB_SGATE_DFF_ENUM), regs);
  // LUT-RAM form: other nodes are refused; a LUT-RAM without its clock
  // input is an internal error.
  EXPECT_FALSE(kavu_add_pipeline_registers_to_lutram_legacy(nl, block, 1, true));
  auto* lutram = new CDB_SGATE_WYSIWYG(top_name("mem_lutram0"), 63);
  nl->add_node(lutram);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_add_pipeline_registers_to_lutram_legacy(nl, lutram, 1, true), "old_clock");
}

// The legacy RAM form registers the port-A inputs on clock 35, and port B's
// (95, 102 to 105, 110) on the clock its modes name: 36 in data-in-clock
// mode, else 35, and only while port B's inputs are clocked (mode 8).
TEST(KavuUtilityTeskLegacy, RamFormPicksPortBInputsByTheirClock) {
  DESIGN d(kSynchronizer);
  CDB_SGATE_NETLIST* nl = d.nl.get();
  const std::vector<uint16_t> ports = {83, 95, 105, 106};
  struct ROW {
    bool data_in_clock, inputs_clocked;
    uint16_t clock_port;
    std::set<uint16_t> registered;
  } const rows[] = {
      {false, false, 35, {83}},          {false, true, 35, {83, 95, 105}}, {true, true, 35, {83}},
      {false, false, 36, {}},            {false, true, 36, {}},            {true, true, 36, {95, 105}},
  };
  for (const ROW& row : rows) {
    const std::string name = "ram" + std::to_string(&row - rows);
    CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = make_ram_block(d, name.c_str(), row.data_in_clock, ports);
    if (row.inputs_clocked) ram->set_ram_mode(CDB_RAM_PORT_B_INPUTS_CLOCKED, CDB_RAM_PORT_B);
    ASSERT_TRUE(kavu_add_pipeline_registers_to_ram_legacy(nl, ram, 1, true, row.clock_port));
    std::set<uint16_t> registered;
    for (uint16_t port : ports) {
      CDB_SGATE_NODE* driver = ram->get_iterm_by_type(port)->get_source()->get_my_node();
      if (driver->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
      registered.insert(port);
      EXPECT_EQ(driver->get_input_term(CDB_DFF_CLK)->get_source(), d.out(row.clock_port == 35 ? "clka" : "clkb"));
    }
    EXPECT_EQ(registered, row.registered) << name;
  }
}

// ---------------------------------------------------------------- names
TEST(KavuUtilityTeskNames, CandidatesOfTheRewriteRules) {
  std::vector<std::string> c;
  const std::string ram = "top|ram_rtl_0|auto_generated|ram_block1a0";
  kavu_generate_tesk_node_candidates(ram, c);
  ASSERT_EQ(c.size(), 2051u);
  EXPECT_EQ(std::vector<std::string>(c.begin(), c.begin() + 6),
            std::vector<std::string>({ram, ram + "~reg0", "top|ram", "top|ram[0]", "top|ram[0][0]", "top|ram[1]"}));
  EXPECT_EQ(c.back(), "top|ram[1023][1023]");

  struct { const char* name; std::vector<std::string> added; } cases[] = {
      {"fsm.ST_IDLE", {"fsm[0]"}},
      {"data_3_4", {"data[3][4]"}},
      {"a|b~FOO", {"a|b", "a|b~reg0"}},
      {"pll|p:auto_generated|clk[2]", {"pll|p:auto_generated", "pll|p:auto_generated|generic_pll2", "pll"}},
      {"top|u|outclk_wire[1]", {"top|u|general[1].gpll"}},
      {"m|lutrama3~x", {"m|lutrama3", "m|lutrama3~reg0", "m|dataout_reg[3]"}},
      {"r|orlsyncram:mem_rtl_2|q", {"r|mem", "r|m.m"}},  // the nested rule's "." is any character
      {"blk_rtl_4_bypass[2]", {"blk"}},
      {"top|m:auto_generated|q_a[5]~FITTER_CREATED_TAVREL_CELL1reg0",
       {"top|m:auto_generated|ram_block1a5", "top|m:auto_generated|q_a[5]", "top|m:auto_generated|q_a[5]~reg0",
        "top"}},
      {"plain", {}},
  };
  for (const auto& k : cases) {
    kavu_generate_tesk_node_candidates(k.name, c);
    ASSERT_EQ(c.size(), 2 + k.added.size()) << k.name;
    EXPECT_EQ(c[0], k.name);
    EXPECT_EQ(c[1], std::string(k.name) + "~reg0");
    EXPECT_EQ(std::vector<std::string>(c.begin() + 2, c.end()), k.added) << k.name;
  }
  kavu_generate_tesk_node_candidates("top|orlshift_taps:sr_rtl_0|taps", c);
  ASSERT_EQ(c.size(), 130u);
  EXPECT_EQ(c[2], "top|sr[0]");
  EXPECT_EQ(c.back(), "top|sr[63][63]");
}

// Names tens of thousands of characters long give the candidates their
// short forms give (matching them used to overflow the stack).
TEST(KavuUtilityTeskNames, LongNamesGiveTheCandidatesOfShortOnes) {
  const std::string shorter = "mem", longer(30000, 'q');
  auto with = [](std::string text, const std::string& part) {
    for (size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at + part.size()))
      text.replace(at, 1, part);
    return text;
  };
  auto renamed = [&](std::vector<std::string> names) {
    for (std::string& n : names)
      for (size_t at = n.find(shorter); at != std::string::npos; at = n.find(shorter, at + longer.size()))
        n.replace(at, shorter.size(), longer);
    return names;
  };
  for (const char* form : {"top|@_rtl_0|auto_generated|ram_block1a0", "@.ST_IDLE", "top|@_3_4",
                           "a|@~FOO", "x|auto_generated|@[2]", "top|orlshift_taps:@_rtl_0|taps", "@"}) {
    std::vector<std::string> want, got;
    kavu_generate_tesk_node_candidates(with(form, shorter), want);
    kavu_generate_tesk_node_candidates(with(form, longer), got);
    EXPECT_EQ(got, renamed(want)) << form;
    kavu_generate_tesk_node_candidates_with_wildcard(with(form, shorter), want);
    kavu_generate_tesk_node_candidates_with_wildcard(with(form, longer), got);
    EXPECT_EQ(got, renamed(want)) << form;
  }
  EXPECT_TRUE(kavu_name_shows_entity(with("top|@:b", longer)));
  EXPECT_FALSE(kavu_name_shows_entity(with("@:b:c", longer)));
}

TEST(KavuUtilityTeskNames, WildcardsAndEntities) {
  struct { const char* name; std::vector<std::string> wild; } cases[] = {
      {"x|auto_generated|counter_reg_bit[2]", {"x|auto_generated|*|count"}},
      {"x|auto_generated|portadatain_reg[0]", {"x|auto_generated|*|portadatain_reg", "x|auto_generated|*|lutrama"}},
      {"x|auto_generated|cell7", {"x|auto_generated|*|cell"}},
      {"x|y[0]", {}},
  };
  std::vector<std::string> c;
  for (const auto& k : cases) {
    kavu_generate_tesk_node_candidates_with_wildcard(k.name, c);
    EXPECT_EQ(c, k.wild) << k.name;
  }
  struct { const char* name; bool entity; } entities[] = {
      {"a:b", true}, {"top|a:b", true}, {"a:b:c", false}, {"\\a:b", false}, {"top|\\e:x|y", false}, {"abc", false}};
  for (const auto& e : entities) EXPECT_EQ(kavu_name_shows_entity(e.name), e.entity) << e.name;
}

TEST(KavuUtilityTeskNames, FindersAnswerTheSameOnEveryCall) {
  DESIGN d(kSynchronizer);
  CDB_SGATE_NODE* a0 = d.node("a0");
  CDB_SGATE_NODE* s1 = d.node("s1");
  ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>> exact, wildcard;
  exact["top|mem"] = {a0, s1};
  exact["top|mem[3]"] = {a0};
  wildcard["top|mem_rtl_0|auto_generated|*|cell"] = {s1};
  for (int call = 0; call < 2; ++call) {
    std::vector<CDB_SGATE_NODE*> nodes;
    EXPECT_TRUE(kavu_find_sgate_node_for_tesk("top|mem_rtl_0|auto_generated|cell5", exact, wildcard, nodes));
    std::vector<CDB_SGATE_NODE*> want = {a0, s1};
    std::sort(want.begin(), want.end());
    EXPECT_EQ(nodes, want);
    nodes.clear();
    EXPECT_FALSE(kavu_find_sgate_node_for_tesk("nothing", exact, wildcard, nodes));
    EXPECT_TRUE(nodes.empty());
  }
  // The legacy lookup answers true when it finds the node.
  ZTL_HASH<std::string, CDB_SGATE_NODE*> ex, wc;
  ZTL_HASH<std::string, CDB_SGATE_NETLIST*> netlists;
  ex["top|a0"] = a0;
  netlists["top|a0"] = d.nl.get();
  std::string name = "top|a0~ff";
  CDB_SGATE_NODE* found = nullptr;
  CDB_SGATE_NETLIST* in = nullptr;
  EXPECT_TRUE(kavu_find_sgate_node_for_tesk_legacy(name, ex, wc, netlists, &found, &in));
  EXPECT_EQ(found, a0);
  EXPECT_EQ(in, d.nl.get());
  std::string missing = "top|zz";
  EXPECT_KAVU_INTERNAL_ERROR(kavu_find_sgate_node_for_tesk_legacy(missing, ex, wc, netlists, &found, &in),
                             "TESK: top|zz doesn't exist in netlist!");
  CFG_SCOPE cfg{{"rtm_ignore_tesk_internal_error", "on"}};
  kavu_tesk_reread_keys();
  EXPECT_FALSE(kavu_find_sgate_node_for_tesk_legacy(missing, ex, wc, netlists, &found, &in));
  kavu_tesk_reread_keys();
}

TEST(KavuUtilityTeskNames, CrossDomainTransfers) {
  DESIGN d(kSynchronizer);
  ZTL_HASH<std::string, CDB_SGATE_NODE*> ex, wc;
  ZTL_HASH<std::string, CDB_SGATE_NETLIST*> netlists;
  for (const char* r : {"a0", "s1", "s2"}) {
    ex[std::string("top|") + r] = d.node(r);
    netlists[std::string("top|") + r] = d.nl.get();
  }
  std::orlind_ofstream report;
  report.open("transfers.txt");
  struct { const char* from; const char* to; bool transfer; } cases[] = {
      {"top|a0", "top|s2", true},   // clka to clkb, not directly connected
      {"top|s1", "top|s2", false},  // same clock
  };
  for (const auto& c : cases) {
    std::string from = c.from, to = c.to;
    EXPECT_EQ(kavu_tesk_find_cross_clock_domain_transfer_legacy(from, to, ex, wc, netlists, report), c.transfer);
  }
  ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>> e2, w2;
  EXPECT_FALSE(kavu_tesk_find_cross_clock_domain_transfer("top|a0", "top|s2", e2, w2, report));
  report.close();
  std::ifstream in("transfers.txt");
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "\nsource node top|a0 to destination node top|s2 belongs to different clock domain\n"
            "source node clock domain: top|clka\ndestination node clock domain: top|clkb\n");
}

// ---------------------------------------------------------------- asynchronous controls
namespace {
// Registers with a clear, a preset, an asynchronous load, all three, only a
// synchronous clear (nothing to remove), and a clear beside a synchronous
// clear in use.
const char kAsyncRegs[] = R"(.model top
.inputs clk d0 d1 d2 d3 rst pre ld ad
.outputs q0 q1 q2 q3 q4 q5
.subckt $dff_full DATA=d0 CLK=clk ACLR=rst Q=c0
.subckt $dff_full DATA=d1 CLK=clk PRESET=pre Q=c1
.subckt $dff_full DATA=d2 CLK=clk ALOAD=ld ADATA=ad Q=c2
.subckt $dff_full DATA=d3 CLK=clk ACLR=rst PRESET=pre ALOAD=ld ADATA=ad Q=c3
.subckt $dff_full DATA=d0 CLK=clk SCLR=ld Q=c4
.subckt $dff_full DATA=d1 CLK=clk ACLR=rst SCLR=d2 Q=c5
.names c0 q0
1 1
.names c1 q1
1 1
.names c2 q2
1 1
.names c3 q3
1 1
.names c4 q4
1 1
.names c5 q5
1 1
.end
)";
}  // namespace

TEST(KavuUtilityTeskAclr, CountsAndBehaviourAfterTheFirstClockEdge) {
  // Made synchronous, c3 (preset beside an asynchronous load) and c5 (a
  // synchronous clear in use) cannot keep their function: their controls
  // are taken off all the same and they are counted apart (they used to keep
  // them silently, and c3 counted 0 instead of 3).
  struct { bool make_sync; unsigned not_synchronous; } cases[] = {{false, 0}, {true, 2}};
  for (const auto& k : cases) {
    DESIGN golden(kAsyncRegs);
    DESIGN d(kAsyncRegs);
    CDB_SGATE_NETLIST* nl = d.nl.get();
    KAVU_TRACK(nl);
    DEBUG_CAPTURE cap("KAVU");
    unsigned skipped = 0;
    // All three controls of c3 connected: it counts 3 either way.
    EXPECT_EQ(kavu_disconnect_aclrs_on_dffs_and_rams(d.node("c3"), k.make_sync, false, &skipped), 3u);
    unsigned rest = 99;
    EXPECT_EQ(kavu_disconnect_aclrs_on_everything(nl, k.make_sync, &rest), 4u);  // c0, c1, c2, c5
    EXPECT_EQ(skipped + rest, k.not_synchronous);
    EXPECT_EQ(kavu_disconnect_aclrs_on_everything(nl, k.make_sync, &rest), 0u);
    EXPECT_EQ(rest, 0u);
    for (const char* reg : {"c0", "c1", "c2", "c3", "c5"}) {
      EXPECT_FALSE(d.node(reg)->get_input_term(CDB_DFF_ACLR)->get_source()) << reg;
      EXPECT_FALSE(d.node(reg)->get_input_term(CDB_DFF_PRESET)->get_source()) << reg;
      EXPECT_FALSE(d.node(reg)->get_input_term(CDB_DFF_ALOAD)->get_source()) << reg;
    }
    EXPECT_EQ(cap.contains("top|c3 without a synchronous form: its preset and asynchronous load need the same load"),
              k.make_sync);
    EXPECT_EQ(cap.contains("top|c5 without a synchronous form: its synchronous clear is in use"), k.make_sync);
    if (k.make_sync) {
      EXPECT_TRUE(cap.contains("1 registers lost their asynchronous controls without a synchronous form"));
      EXPECT_EQ(d.node("c0")->get_input_term(CDB_DFF_SCLR)->get_source(), d.out("rst"));
      EXPECT_EQ(d.node("c1")->get_input_term(CDB_DFF_SLOAD)->get_source(), d.out("pre"));
      EXPECT_TRUE(d.node("c1")->get_input_term(CDB_DFF_ADATA)->is_vcc());
      EXPECT_TRUE(d.node("c3")->get_input_term(CDB_DFF_SCLR)->is_gnd());
      // Synchronous clears in use are neither overwritten nor cleared.
      EXPECT_EQ(d.node("c4")->get_input_term(CDB_DFF_SCLR)->get_source(), d.out("ld"));
      EXPECT_EQ(d.node("c5")->get_input_term(CDB_DFF_SCLR)->get_source(), d.out("d2"));
    }
    // Resets held on the first cycle, released afterwards; the registers
    // made synchronous must then agree with the original on every cycle,
    // and only those.
    auto drive = [](const std::string& pin, int cycle, uint64_t* w) {
      if (pin == "top|rst" || pin == "top|pre" || pin == "top|ld") *w = cycle == 0 ? ~0ull : 0;
      return true;
    };
    TRACE want = simulate(golden.nl.get(), 12, drive);
    TRACE got = simulate(nl, 12, drive);
    for (const auto& [pin, words] : want) {
      bool same = true;
      for (size_t c = 1; c < words.size(); ++c) same = same && got[pin][c] == words[c];
      const bool synchronous = k.make_sync && pin != "top|q3" && pin != "top|q5";
      EXPECT_EQ(same, synchronous || pin == "top|q4") << pin;  // q4 has nothing asynchronous
    }
  }
}

TEST(KavuUtilityTeskAclr, AssignmentsAndRams) {
  DESIGN d(kAsyncRegs);
  CDB_SGATE_NETLIST* nl = d.nl.get();
  KAVU_TRACK(nl);
  hdb_set_option(d.node("c0")->get_instance_name(), ACF_SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR, "PRESERVE");
  hdb_set_option(d.node("c1")->get_instance_name(), ACF_SARVEL_RETIMER_FAST_FORWARD_EMULATE_ASYNCH_CLEAR, "PRESERVE");
  EXPECT_EQ(kavu_disconnect_aclrs_on_dffs_and_rams(d.node("c0"), false, false), 0u);
  EXPECT_EQ(kavu_disconnect_aclrs_on_dffs_and_rams(d.node("c1"), false, true), 0u);
  EXPECT_EQ(kavu_disconnect_aclrs_on_dffs_and_rams(d.node("c1"), false, false), 1u);
  EXPECT_EQ(kavu_disconnect_aclrs_on_dffs_and_rams(d.node("q0"), false, false), 0u);
  auto* ram = new CDB_SGATE_SYNCHRONOUS_RAM(top_name("ram"));
  nl->add_node(ram);
  d.out("rst")->insert_fanout(ram->add_iterm(6));
  ram->add_iterm(39)->set_gnd();
  auto* block = new CDB_SGATE_WYSIWYG_RAM_BLOCK(top_name("blk"), 64);
  nl->add_node(block);
  CDB_SGATE_ITERM* clr = block->create_input_term(nullptr, 40);
  block->set_input_term(clr, block->get_input_port_number(40));
  d.out("rst")->insert_fanout(clr);
  block->set_ram_mode(5, CDB_RAM_PORT_B);
  block->set_ram_mode(CDB_RAM_DATA_IN_CLOCK, CDB_RAM_PORT_B);
  EXPECT_TRUE(kavu_disconnect_aclrs_on_dffs_and_rams_legacy(nl, ram, false, false));
  EXPECT_FALSE(ram->get_iterm_by_type(6)->is_connected());
  EXPECT_TRUE(ram->get_iterm_by_type(39)->is_gnd());
  EXPECT_EQ(kavu_disconnect_aclrs_on_dffs_and_rams(block, false, false), 1u);
  EXPECT_FALSE(block->ram_mode_is(5, CDB_RAM_PORT_B));
  EXPECT_TRUE(block->ram_mode_is(CDB_RAM_DATA_IN_CLOCK, CDB_RAM_PORT_B));
  CFG_SCOPE cfg{{"sarvel_retimer_fast_forward_emulate", "on"}};
  // c0 preserved; the others lose their asynchronous controls.
  EXPECT_TRUE(kavu_disconnect_aclrs_on_everything_legacy(nl, false));
  EXPECT_TRUE(d.node("c0")->get_input_term(CDB_DFF_ACLR)->is_connected());
  EXPECT_FALSE(d.node("c3")->get_input_term(CDB_DFF_ALOAD)->is_connected());
}

// Registers with a clock enable in use: a clear still becomes synchronous
// (and wins over the enable, as the asynchronous clear did); a preset or an
// asynchronous load cannot, since the enable would gate the load.
TEST(KavuUtilityTeskAclr, ClockEnablesAndTheSynchronousForm) {
  const char text[] = R"(.model top
.inputs clk d e rst pre ld ad
.outputs q0 q1 q2 q3
.subckt $dff_full DATA=d CLK=clk ENA=e ACLR=rst Q=e0
.subckt $dff_full DATA=d CLK=clk ENA=e PRESET=pre Q=e1
.subckt $dff_full DATA=d CLK=clk ENA=e ALOAD=ld ADATA=ad Q=e2
.subckt $dff_full DATA=d CLK=clk ACLR=rst Q=e3
.names e0 q0
1 1
.names e1 q1
1 1
.names e2 q2
1 1
.names e3 q3
1 1
.end
)";
  const struct {
    const char* reg;
    bool synchronous, sclr_over_ena;
  } rows[] = {{"e0", true, true}, {"e1", false, false}, {"e2", false, false}, {"e3", true, false}};
  DESIGN golden(text);
  DESIGN d(text);
  KAVU_TRACK(d.nl.get());
  // Powered up high, a register shows whether the clear acts while the
  // enable is low.
  for (const DESIGN* x : {&golden, &d})
    for (const auto& r : rows) x->node(r.reg)->cast_to_dff()->set_power_up_high(true);
  DEBUG_CAPTURE cap("KAVU");
  for (const auto& r : rows) {
    SCOPED_TRACE(r.reg);
    CDB_SGATE_DFF* reg = d.node(r.reg)->cast_to_dff();
    unsigned apart = 0;
    EXPECT_EQ(kavu_disconnect_aclrs_on_dffs_and_rams(reg, true, false, &apart), 1u);
    EXPECT_EQ(apart, r.synchronous ? 0u : 1u);
    const bool moved = reg->get_input_term(CDB_DFF_SCLR)->get_source() || reg->get_input_term(CDB_DFF_SLOAD)->get_source();
    EXPECT_EQ(moved, r.synchronous);
    EXPECT_EQ(reg->sclr_over_ena_priority(), r.sclr_over_ena);
    EXPECT_EQ(cap.contains("top|" + std::string(r.reg) + " without a synchronous form: its clock enable would gate the load"),
              !r.synchronous);
  }
  auto drive = [](const std::string& pin, int cycle, uint64_t* w) {
    if (pin == "top|rst" || pin == "top|pre" || pin == "top|ld") *w = cycle == 0 ? ~0ull : 0;
    return true;
  };
  TRACE want = simulate(golden.nl.get(), 8, drive);
  TRACE got = simulate(d.nl.get(), 8, drive);
  for (const auto& r : rows) {
    if (!r.synchronous) continue;
    const std::string pin = std::string("top|q") + r.reg[1];
    for (size_t c = 1; c < want[pin].size(); ++c) EXPECT_EQ(got[pin][c], want[pin][c]) << pin << " cycle " << c;
  }
}

// ---------------------------------------------------------------- input pins
namespace {
std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
}  // namespace

TEST(KavuUtilityTeskPins, S298ReportMatchesItsGoldenFile) {
  LOADED_NETLIST nl = load_blif("mcnc/s298");
  ASSERT_TRUE(kavu_tesk_verify_input_pin(nl.get()));
  const std::string got = read_text("tesk_verify_pins.txt");
  const std::string golden = std::string(KAVU_TEST_DATA_DIR) + "/tesk/s298_verify_pins.txt";
  EXPECT_EQ(got, read_text(golden));
  // Outputs driven by logic are not reported as registered.
  EXPECT_EQ(got.find("with 1 direct path"), std::string::npos);
}

TEST(KavuUtilityTeskPins, EdgeCasesAndAnUnwritableReport) {
  DESIGN d(".model top\n.inputs clk d e\n.outputs q r\n.subckt $dff_full DATA=d CLK=clk ENA=e Q=c0\n"
           ".latch c0 c1 re clk 0\n.names c0 q\n1 1\n.names c1 r\n1 1\n.end\n");
  ASSERT_TRUE(kavu_tesk_verify_input_pin(d.nl.get()));
  const std::string got = read_text("tesk_verify_pins.txt");
  for (const char* line : {"Input Pin: top|e has 1 direct fanouts\n    Node: top|c0 is not registered\n"
                           "        recommended clock domain: top|clk\n",
                           "Input Pin: top|d has 1 direct fanouts\n    Registered: top|c0 belongs to top|clk clock domain\n",
                           "Design has 2 primary input pin(s).\n", "Input Pin: top|e has 1 path(s) unregistered\n",
                           "Output Pin: top|q\n    Node: top|q is not registered\n"})
    EXPECT_NE(got.find(line), std::string::npos) << line << "\n--- in ---\n" << got;
  EXPECT_EQ(got.find("top|clk has"), std::string::npos);  // clock ports are not listed
  std::filesystem::remove("tesk_verify_pins.txt");
  std::filesystem::create_directory("tesk_verify_pins.txt");
  EXPECT_FALSE(kavu_tesk_verify_input_pin(d.nl.get()));
}

// An output pin driven straight by a register is reported with the
// register's fan-out only when that register also feeds other logic.
TEST(KavuUtilityTeskPins, RegisteredOutputsAndTheirFanouts) {
  DESIGN d(".model top\n.inputs clk d\n.outputs q r s\n.subckt $dff_full DATA=d CLK=clk Q=q\n"
           ".subckt $dff_full DATA=d CLK=clk Q=r\n.names r s\n0 1\n.end\n");
  ASSERT_TRUE(kavu_tesk_verify_input_pin(d.nl.get()));
  const std::string got = read_text("tesk_verify_pins.txt");
  for (const char* line : {"Output Pin: top|q\n    Registered: top|q with 1 direct path\n",
                           "Output Pin: top|r\n    Registered: top|r belongs to top|clk clock domain\n",
                           "multi-fanouts:\nOutput Pin: top|r -> top|r has 2 path(s)\nDesign has 0 ",
                           "Design has 1 primary output pin(s) that have potential high-fanouts register source.\n"})
    EXPECT_NE(got.find(line), std::string::npos) << line << "\n--- in ---\n" << got;
  EXPECT_EQ(got.find("top|q has"), std::string::npos) << got;
}
