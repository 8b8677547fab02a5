// Tests of the critical-signal passes and the register lists of timing-
// driven synthesis: critical output terminals of a generated two-clock
// design against a brute-force cone intersection, grouped warnings for
// assignments that matched nothing, critical registers and pins, the
// constrained and base-clock lists, and the estimator registry.
#include <algorithm>
#include <fstream>
#include <memory>
#include <random>
#include <set>

#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_setup.h"
#include "kavu_ssc.h"
#include "kavu_td_critical.h"
#include "kavu_td_helper.h"
#include "kavu_tervo.h"
#include "kavu_wiring_helper.h"
#include "msg/msg.h"
#include "platform_testkit.h"
#include "zhd/zhd.h"

using namespace kavu_platform;

namespace {

HDB_INSTANCE_NAME* top_name() {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
}

CDB_SGATE_NODE* named(CDB_SGATE_NODE* g, const std::string& name) {
  g->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, name.c_str(), nullptr, nullptr, top_name()));
  return g;
}

HDB_INSTANCE_NAME* pin_name(CDB_SGATE_NODE* pin) { return pin->get_output_term(0)->get_instance_name(); }

// Two clock domains mixed by random logic: registers of clk1 and clk2,
// inputs a0..a3, outputs of both domains' logic.
struct TWO_CLOCK_DESIGN {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk1, *clk2;
  std::vector<CDB_SGATE_NODE*> regs1, regs2, inputs;

  explicit TWO_CLOCK_DESIGN(unsigned seed, int regs = 12, int gates = 60) {
    std::mt19937 rng(seed);
    clk1 = make_input_pin(&nl, "clk1");
    clk2 = make_input_pin(&nl, "clk2");
    std::vector<CDB_SGATE_NODE*> pool;
    for (int i = 0; i < 4; ++i) inputs.push_back(make_input_pin(&nl, ("a" + std::to_string(i)).c_str()));
    pool = inputs;
    for (int i = 0; i < regs; ++i) {
      regs1.push_back(named(make_dff(&nl, nullptr, clk1), "r1_" + std::to_string(i)));
      regs2.push_back(named(make_dff(&nl, nullptr, clk2), "r2_" + std::to_string(i)));
      pool.push_back(regs1.back());
      pool.push_back(regs2.back());
    }
    auto pick = [&] { return pool[rng() % pool.size()]; };
    for (int i = 0; i < gates; ++i) {
      switch (rng() % 3) {
        case 0: pool.push_back(make_and(&nl, pick(), pick())); break;
        case 1: pool.push_back(make_not(&nl, pick())); break;
        default: pool.push_back(make_lut(&nl, {pick(), pick(), pick()}, 0x96)); break;
      }
    }
    for (auto* r : regs1) pick()->get_output_term(0)->insert_fanout(kavu_get_dff_data(r));
    for (auto* r : regs2) pick()->get_output_term(0)->insert_fanout(kavu_get_dff_data(r));
    for (int i = 0; i < 3; ++i) make_output_pin(&nl, ("q" + std::to_string(i)).c_str(), pick());
  }
};

// Terminals reachable forward from `roots` through combinational gates.
std::set<CDB_SGATE_OTERM*> forward_cone(const std::vector<CDB_SGATE_OTERM*>& roots) {
  std::set<CDB_SGATE_OTERM*> seen(roots.begin(), roots.end());
  std::vector<CDB_SGATE_OTERM*> todo(roots);
  while (!todo.empty()) {
    CDB_SGATE_OTERM* t = todo.back();
    todo.pop_back();
    for (CDB_SGATE_ITERM* in : t->fanouts())
      if (kavu_sgate_is_comb(in->get_my_node()))
        for (CDB_SGATE_OTERM* o : in->get_my_node()->get_output_terms())
          if (seen.insert(o).second) todo.push_back(o);
  }
  return seen;
}

// Terminals reachable backward from the sources of `ends`.
std::set<CDB_SGATE_OTERM*> backward_cone(const std::vector<CDB_SGATE_ITERM*>& ends) {
  std::set<CDB_SGATE_OTERM*> seen;
  std::vector<CDB_SGATE_OTERM*> todo;
  for (auto* e : ends)
    if (e && e->get_source_oterm() && seen.insert(e->get_source_oterm()).second) todo.push_back(e->get_source_oterm());
  while (!todo.empty()) {
    CDB_SGATE_OTERM* t = todo.back();
    todo.pop_back();
    if (!kavu_sgate_is_comb(t->get_my_node())) continue;
    for (CDB_SGATE_ITERM* in : t->get_my_node()->get_input_terms())
      if (in && in->get_source_oterm() && seen.insert(in->get_source_oterm()).second) todo.push_back(in->get_source_oterm());
  }
  return seen;
}

class KavuTdCritical : public ::testing::Test {
 protected:
  void SetUp() override {
    m_facade.set_family(DEV_FAMILY_ENUM(6));
    m_facade.set_namespace(hdb_default_namespace());
  }
  std::vector<CDB_SGATE_OTERM*> search(CDB_SGATE_NETLIST* nl, bool warnings = true) {
    std::vector<CDB_SGATE_OTERM*> out;
    kavu_find_critical_oterms_for_crit_clock_assignment(&m_facade, nl, &out, warnings);
    return out;
  }
  CMP_FACADE m_facade;
};

}  // namespace

TEST_F(KavuTdCritical, CriticalClockTerminalsAreTheIntersectionOfTheTwoCones) {
  for (unsigned seed : {1u, 2u, 3u}) {
    TWO_CLOCK_DESIGN d(seed);
    hdb_set_assignment(pin_name(d.clk2), KAVU_ACF_SYNTH_CRITICAL_CLOCK, "on", pin_name(d.clk1));
    std::vector<CDB_SGATE_OTERM*> from;
    std::vector<CDB_SGATE_ITERM*> to;
    for (auto* r : d.regs1) from.push_back(r->get_output_term(0));
    for (auto* r : d.regs2) to.push_back(kavu_get_dff_data(r));
    std::vector<CDB_SGATE_OTERM*> in_pins;
    std::vector<CDB_SGATE_ITERM*> out_pins;
    for (auto* p : d.inputs) in_pins.push_back(p->get_output_term(0));
    for (auto* p : d.nl.get_output_pins()) out_pins.push_back(p->get_input_term(0));
    // {pin-to-register, register-to-pin} switched off, then on.
    for (bool with_pins : {false, true}) {
      CFG_SCOPE keys{{"ftm_td_include_pin_to_reg_paths", with_pins ? "on" : "off"},
                     {"ftm_td_include_reg_to_pin_paths", with_pins ? "on" : "off"}};
      std::vector<CDB_SGATE_OTERM*> starts = from;
      std::vector<CDB_SGATE_ITERM*> ends = to;
      if (with_pins) {
        starts.insert(starts.end(), in_pins.begin(), in_pins.end());
        ends.insert(ends.end(), out_pins.begin(), out_pins.end());
      }
      const auto f = forward_cone(starts), b = backward_cone(ends);
      std::set<CDB_SGATE_OTERM*> expected;
      std::set_intersection(f.begin(), f.end(), b.begin(), b.end(), std::inserter(expected, expected.end()));
      const std::vector<CDB_SGATE_OTERM*> got = search(&d.nl);
      EXPECT_EQ(std::set<CDB_SGATE_OTERM*>(got.begin(), got.end()), expected) << seed << " " << with_pins;
      EXPECT_EQ(got.size(), expected.size()) << "each terminal once";
      EXPECT_FALSE(expected.empty());
      std::set<CDB_SGATE_OTERM*> as_set{nullptr};
      kavu_find_critical_oterms_for_crit_clock_assignment(&m_facade, &d.nl, &as_set, true);
      EXPECT_EQ(as_set, expected);
    }
    EXPECT_EQ(msg_log_count(286002), 0) << "every assignment was recognised";
    hdb_reset();
    m_facade.set_namespace(hdb_default_namespace());
  }
}

TEST_F(KavuTdCritical, DeepChainsAndUnsupportedFamilies) {
  // A chain far deeper than any call stack: both cone walks are iterative.
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  auto* r0 = named(make_dff(&nl, make_input_pin(&nl, "a"), clk), "r0");
  CDB_SGATE_NODE* g = r0;
  for (int i = 0; i < 200000; ++i) g = make_not(&nl, g);
  named(make_dff(&nl, g, clk), "r1");
  hdb_set_option(pin_name(clk), KAVU_ACF_SYNTH_CRITICAL_CLOCK, "on");
  EXPECT_EQ(search(&nl).size(), 200001u);
  // Families outside the list read nothing; the set overload keeps the set.
  m_facade.set_family(DEV_FAMILY_ENUM(47));
  std::set<CDB_SGATE_OTERM*> kept{r0->get_output_term(0)};
  DEBUG_CAPTURE cap("KAVU");
  kavu_find_critical_oterms_for_crit_clock_assignment(&m_facade, &nl, &kept, true);
  EXPECT_EQ(kept.size(), 1u);
  EXPECT_TRUE(search(&nl).empty());
  EXPECT_TRUE(cap.contains("Skip finding critical oterms due to family"));
}

TEST_F(KavuTdCritical, UnmatchedAssignmentsGiveOneGroupedWarningPerVariable) {
  struct ROW {
    const char* what;
    const char* key;  // kavu_td_scan_options_file
    bool suppress, warnings;
    int groups;  // each of the five headers posted this often
  } const rows[] = {{"warn", "off", false, true, 1},
                    {"no warnings asked", "off", false, false, 0},
                    {"options file key", "on", false, true, 0},
                    {"suppressed", "off", true, true, 0}};
  for (const ROW& row : rows) {
    msg_log_clear();
    hdb_reset();
    m_facade.set_namespace(hdb_default_namespace());
    TWO_CLOCK_DESIGN d(7, 3, 10);
    named(d.clk1, "clk1");
    for (const char* ghost : {"ghost1", "ghost2"}) {
      HDB_INSTANCE_NAME* n = HDB_INSTANCE_NAME::create_normal_name(nullptr, ghost, nullptr, nullptr, top_name());
      for (int v : {510, 511, 512, 513, 514}) hdb_set_option(n, v, "on");
    }
    // Recognised: an input-to-clock assignment on a real clock, a pin, a register.
    hdb_set_option(pin_name(d.clk1), KAVU_ACF_SYNTH_CRITICAL_INPUT_TO_CLOCK, "on");
    hdb_set_option(pin_name(d.inputs[0]), KAVU_ACF_SYNTH_CRITICAL_PIN, "on");
    hdb_set_option(d.regs1[0]->get_instance_name(), KAVU_ACF_SYNTH_CRITICAL_ENABLE, "on");
    CFG_SCOPE key{{"kavu_td_scan_options_file", row.key}};
    for (int id : {286002, 286006, 286007, 286010, 286011, 286014, 286015, 286016, 286017, 286018})
      MSG_INDEX::get_default_index()->suppress(id, row.suppress);
    search(&d.nl, row.warnings);
    std::set<HDB_INSTANCE_NAME*> names;
    kavu_find_critical_register_names_for_enable(&m_facade, &d.nl, &names, row.warnings && !row.suppress &&
                                                                               std::string(row.key) == "off");
    std::vector<CDB_SGATE_OTERM*> pins;
    kavu_find_super_critical_pins(&m_facade, &d.nl, pins, nullptr, nullptr,
                                  row.warnings && !row.suppress && std::string(row.key) == "off");
    EXPECT_EQ(names.size(), 1u) << row.what;
    EXPECT_EQ(pins, std::vector<CDB_SGATE_OTERM*>{d.inputs[0]->get_output_term(0)}) << row.what;
    for (int hdr : {286002, 286007, 286011, 286015, 286017}) EXPECT_EQ(msg_log_count(hdr), row.groups) << row.what << hdr;
    for (int sub : {286006, 286010, 286014, 286016, 286018})
      EXPECT_EQ(msg_log_count(sub), 2 * row.groups) << row.what << sub;
    if (row.groups) {
      const auto e = msg_log_find(286010);
      ASSERT_TRUE(e);
      EXPECT_EQ(e->text.back(), 'd') << "no stray quote: " << e->text;
    }
  }
}

TEST_F(KavuTdCritical, CriticalRegistersAndPins) {
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  HDB_INSTANCE_NAME* bus = HDB_INSTANCE_NAME::create_normal_name(nullptr, "bus", nullptr, nullptr, top_name());
  auto* b0 = make_dff(&nl, clk, clk);
  auto* b1 = make_dff(&nl, clk, clk);
  b0->set_instance_name(hdb_default_namespace()->create_group_instance_name(top_name(), "bus", 0));
  b1->set_instance_name(hdb_default_namespace()->create_group_instance_name(top_name(), "bus", 1));
  auto* off = named(make_dff(&nl, clk, clk), "off");
  hdb_set_option(b1->get_instance_name(), KAVU_ACF_SYNTH_CRITICAL_ENABLE, "on");
  hdb_set_option(off->get_instance_name(), KAVU_ACF_SYNTH_CRITICAL_ENABLE, "off");
  std::set<HDB_INSTANCE_NAME*> names;
  kavu_find_critical_register_names_for_enable(&m_facade, &nl, &names, true);
  EXPECT_EQ(msg_log_count(286015), 0) << "an assignment that is off is still recognised";
  CDB_SGATE_HIGH_SPEED_REGISTER rec;
  EXPECT_TRUE(kavu_dff_is_critical(&nl, b0, &names, &rec)) << "same bus group";
  EXPECT_FALSE(kavu_dff_is_critical(&nl, off, &names, &rec));
  // Found in the high-speed table through its group, without a name set.
  (*nl.create_high_speed_map())[unsigned(bus->get_id())].set_high_speed_source(true);
  EXPECT_TRUE(kavu_dff_is_critical(&nl, b0, nullptr, &rec));
  EXPECT_TRUE(rec.is_high_speed_source());

  // Bidirectional pins whose input side feeds nothing, a tri-state bus, one
  // other gate, or two gates: only the single tri-state bus stands for the
  // pin; every other case is the pin's own terminal, never an error.
  struct ROW {
    int fanouts;
    bool tri_bus;
  } const rows[] = {{0, false}, {1, true}, {1, false}, {2, false}};
  for (const ROW& row : rows) {
    auto* pin = new CDB_SGATE_IO(nullptr, CDB_IO_BIDIR);
    nl.add_node(pin);
    CDB_SGATE_OTERM* expected = pin->get_output_term(0);
    for (int i = 0; i < row.fanouts; ++i) {
      if (row.tri_bus) {
        auto* bus = new CDB_SGATE_TRI_BUS(nullptr);
        nl.add_node(bus);
        CDB_SGATE_ITERM* in = bus->create_input_term(nullptr);
        bus->insert_unordered_fanin_term(in);
        pin->get_output_term(0)->insert_fanout(in);
        expected = bus->get_output_term(0);
      } else {
        make_not(&nl, pin);
      }
    }
    EXPECT_EQ(get_super_critical_pin_oterm(pin), expected) << row.fanouts << row.tri_bus;
  }
}

TEST_F(KavuTdCritical, CriticalPinsFromConfigurationKeys) {
  // Pins named by keys on a circuit read from BLIF: matched by terminal path
  // in node order, fast by their own key; names matching no pin are traced
  // and counted, and the count is traced even when no name is given.
  LOADED_NETLIST nl = load_blif("small/counter8_lut4");
  CDB_SGATE_OTERM *en = nullptr, *clr = nullptr;
  for (CDB_SGATE_IO* pin : nl->get_input_pins()) {
    if (pin->get_output_term(0)->get_string_hpath() == "counter8|en") en = pin->get_output_term(0);
    if (pin->get_output_term(0)->get_string_hpath() == "counter8|clr") clr = pin->get_output_term(0);
  }
  ASSERT_TRUE(en && clr);
  struct ROW {
    std::vector<std::pair<const char*, const char*>> keys;
    std::vector<CDB_SGATE_OTERM*> pins;
    std::vector<bool> flags;
    std::set<CDB_SGATE_OTERM*> fast;
    int missing;
  } const rows[] = {
      {{}, {}, {}, {}, 0},
      // The first empty key ends the list.
      {{{"opt_critical_signal_1", ""}, {"opt_critical_signal_2", "counter8|en"}}, {}, {}, {}, 0},
      {{{"opt_critical_signal_1", "counter8|clr"}, {"opt_critical_signal_2", "ghost"},
        {"opt_critical_signal_3", "counter8|en"}, {"opt_critical_signal_is_fast_counter8|clr", "on"}},
       {en, clr}, {false, true}, {clr}, 1},
  };
  for (const ROW& row : rows) {
    CFG_SCOPE ini{{"opt_read_critical_signals_from_ini", "on"}};
    std::vector<std::unique_ptr<CFG_SCOPE>> keys;
    for (const auto& [k, v] : row.keys)
      keys.push_back(std::make_unique<CFG_SCOPE>(std::initializer_list<std::pair<const char*, const char*>>{{k, v}}));
    DEBUG_CAPTURE cap("KAVU");
    std::vector<CDB_SGATE_OTERM*> pins{clr};  // cleared first
    std::set<CDB_SGATE_OTERM*> fast{en};
    std::vector<bool> flags;
    kavu_find_super_critical_pins(&m_facade, nl.get(), pins, &fast, &flags, true);
    const size_t n = &row - rows;
    EXPECT_EQ(pins, row.pins) << n;
    EXPECT_EQ(flags, row.flags) << n;
    EXPECT_EQ(fast, row.fast) << n;
    EXPECT_TRUE(cap.contains(std::to_string(row.missing) + " critical signals were not found in the netlist")) << n;
    EXPECT_EQ(cap.contains("Could not find pin with name ghost"), row.missing == 1) << n;
  }
}

namespace {

// A device I/O atom: an atom that is also a pin, with ports made on demand.
struct IO_ATOM : CDB_SGATE_WYSIWYG {
  IO_ATOM() : CDB_SGATE_WYSIWYG(nullptr, 0) { set_sgate_type(CDB_SGATE_IO_ENUM); }
};

CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* atom, uint16_t port, CDB_SGATE_NODE* src) {
  CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, port);
  atom->set_input_term(t, atom->get_input_port_number(port));
  src->get_output_term(0)->insert_fanout(t);
  return t;
}

CDB_SGATE_OTERM* atom_out(CDB_SGATE_WYSIWYG* atom, uint16_t port) {
  CDB_SGATE_OTERM* o = atom->create_output_term(nullptr, port);
  atom->set_output_term(o, atom->get_output_port_number(port));
  return o;
}

}  // namespace

// The registers of a critical clock: a register gives its output, another
// atom all its outputs, an I/O atom only its registered output (port 10).
TEST_F(KavuTdCritical, ClockedGatesGiveTheirRegisteredOutputs) {
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  auto* reg = named(make_dff(&nl, make_input_pin(&nl, "d"), clk), "r");
  auto* io = new IO_ATOM;
  nl.add_node(io);
  atom_in(io, 7, clk);
  CDB_SGATE_OTERM* io_comb = atom_out(io, 3);
  CDB_SGATE_OTERM* io_reg = atom_out(io, 10);
  auto* other = new CDB_SGATE_WYSIWYG(nullptr, 0);
  nl.add_node(other);
  atom_in(other, 7, clk);
  CDB_SGATE_OTERM* other_a = atom_out(other, 3);
  CDB_SGATE_OTERM* other_b = atom_out(other, 10);
  ASSERT_TRUE(io->is_pin() && !other->is_pin());
  hdb_set_option(pin_name(clk), KAVU_ACF_SYNTH_CRITICAL_CLOCK, "on");
  KAVU_CRITICAL_REGS_PER_CLOCK from, to, tsu, tco;
  std::vector<std::string> from_names, to_names, tsu_names, tco_names;
  ASSERT_EQ(kavu_compute_regs_for_critical_clock_domains(hdb_default_namespace(), &nl, &from, &to, &tsu, &tco,
                                                         &from_names, &to_names, &tsu_names, &tco_names, false, nullptr),
            1);
  ASSERT_EQ(from.size(), 1u);
  std::set<CDB_SGATE_OTERM*> got;
  for (const KAVU_CRITICAL_REG& r : from[0]) got.insert(r.first);
  EXPECT_EQ(got, (std::set<CDB_SGATE_OTERM*>{reg->get_output_term(0), io_reg, other_a, other_b}));
  EXPECT_FALSE(got.count(io_comb));
}

// A to-register's asynchronous data counts as a captured input only while
// its synchronous load is in use: a signal, not a tie to ground or nothing.
TEST_F(KavuTdCritical, AsynchronousDataConeCountsWithTheSynchronousLoad) {
  enum { SIGNAL, GND, OPEN };
  for (int sload : {SIGNAL, GND, OPEN}) {
    CDB_SGATE_NETLIST nl;
    auto* clk = make_input_pin(&nl, "clk");
    auto* from = named(make_dff(&nl, make_input_pin(&nl, "a"), clk), "from");
    CDB_SGATE_NODE* path = make_not(&nl, from);
    auto* to = named(make_dff(&nl, make_input_pin(&nl, "b"), clk), "to");
    path->get_output_term(0)->insert_fanout(kavu_get_dff_adata(to));
    if (sload == SIGNAL) make_input_pin(&nl, "s")->get_output_term(0)->insert_fanout(kavu_get_dff_sload(to));
    if (sload == GND) kavu_get_dff_sload(to)->set_gnd();
    hdb_set_option(pin_name(clk), KAVU_ACF_SYNTH_CRITICAL_CLOCK, "on");
    const std::vector<CDB_SGATE_OTERM*> got = search(&nl);
    const std::set<CDB_SGATE_OTERM*> expected =
        sload == SIGNAL ? std::set<CDB_SGATE_OTERM*>{from->get_output_term(0), path->get_output_term(0)}
                        : std::set<CDB_SGATE_OTERM*>{};
    EXPECT_EQ(std::set<CDB_SGATE_OTERM*>(got.begin(), got.end()), expected) << sload;
    hdb_reset();
    m_facade.set_namespace(hdb_default_namespace());
  }
}

// Critical pins from assignments: a pin is fast when its speed option is the
// fast value; the set and the flag vector agree.
TEST_F(KavuTdCritical, CriticalPinSpeedOptionMarksFastPins) {
  CDB_SGATE_NETLIST nl;
  struct ROW {
    const char *critical, *speed;
    bool listed, fast;
  } const rows[] = {{"on", "2", true, true},
                    {"on", "1", true, false},
                    {"on", nullptr, true, false},
                    {"off", "2", false, false}};
  std::vector<CDB_SGATE_OTERM*> want_pins;
  std::vector<bool> want_flags;
  std::set<CDB_SGATE_OTERM*> want_fast;
  for (const ROW& row : rows) {
    CDB_SGATE_NODE* pin = make_input_pin(&nl, ("p" + std::to_string(&row - rows)).c_str());
    hdb_set_option(pin_name(pin), KAVU_ACF_SYNTH_CRITICAL_PIN, row.critical);
    if (row.speed) hdb_set_option(pin_name(pin), KAVU_ACF_SYNTH_CRITICAL_PIN_SPEED, row.speed);
    if (!row.listed) continue;
    want_pins.push_back(pin->get_output_term(0));
    want_flags.push_back(row.fast);
    if (row.fast) want_fast.insert(pin->get_output_term(0));
  }
  std::vector<CDB_SGATE_OTERM*> pins;
  std::set<CDB_SGATE_OTERM*> fast;
  std::vector<bool> flags;
  kavu_find_super_critical_pins(&m_facade, &nl, pins, &fast, &flags, false);
  EXPECT_EQ(pins, want_pins);
  EXPECT_EQ(flags, want_flags);
  EXPECT_EQ(fast, want_fast);
}
