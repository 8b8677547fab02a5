// Tests of control unmapping: every clock enable of real designs and under
// both switches, the small-signal pass on register banks (controls gone or
// kept where the width says, no mux left, same sequence of outputs), and the
// legality rules that keep a control mapped.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

bool reads_real_source(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source(); }
CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_single_oterm(); }

struct CONTROL_COUNTS {
  int registers = 0, enables = 0, sclears = 0, sloads = 0, muxes = 0;
};

CONTROL_COUNTS count_controls(const CDB_SGATE_NETLIST* nl) {
  CONTROL_COUNTS c;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    if (kavu_is_a_mux(g)) ++c.muxes;
    if (!kavu_is_a_dff(g, true)) continue;
    ++c.registers;
    c.enables += reads_real_source(kavu_get_dff_enable(g));
    c.sclears += reads_real_source(kavu_get_dff_sclear(g));
    c.sloads += reads_real_source(kavu_get_dff_sload(g));
  }
  return c;
}

// A plain register d<i> -> q<i> reading the shared pins; every other control
// tied inactive, the clear tied to GND when `clr` is null.
CDB_SGATE_NODE* add_register(CDB_SGATE_NETLIST* n, int i, CDB_SGATE_NODE* clk, CDB_SGATE_NODE* en,
                             CDB_SGATE_NODE* clr, CDB_SGATE_NODE* ld = nullptr) {
  const std::string d = "d" + std::to_string(i), q = "q" + std::to_string(i);
  CDB_SGATE_NODE* reg = make_dff(n, make_input_pin(n, d.c_str()), clk);
  for (int pos : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD}) reg->get_input_term(unsigned(pos))->set_gnd();
  reg->get_input_term(CDB_DFF_ADATA)->set_vcc();
  out(en)->insert_fanout(reg->get_input_term(CDB_DFF_ENA));
  for (auto [pos, src] : {std::pair{CDB_DFF_SCLR, clr}, std::pair{CDB_DFF_SLOAD, ld}}) {
    if (src) out(src)->insert_fanout(reg->get_input_term(pos));
    else reg->get_input_term(pos)->set_gnd();
  }
  make_output_pin(n, q.c_str(), reg);
  return reg;
}

}  // namespace

// ---------------------------------------------------------------- every enable

TEST(KavuEnableUnmap, RealDesignsLoseEveryEnableAndKeepTheirFunction) {
  for (const char* name : {"seq/ch_intrinsics", "seq/stereovision3", "seq/diffeq1",
                           "small/shift_en_sclr_generic", "small/updown16_generic"}) {
    SCOPED_TRACE(name);
    LOADED_NETLIST golden = load_blif(name);
    LOADED_NETLIST nl = load_blif(name);
    KAVU_TRACK(nl);
    const CONTROL_COUNTS before = count_controls(nl.get());
    ASSERT_GT(before.enables, 0);
    kavu_unmap_all_enables(nl.get());
    const CONTROL_COUNTS after = count_controls(nl.get());
    EXPECT_EQ(after.registers, before.registers);
    EXPECT_EQ(after.enables, 0);
    EXPECT_EQ(after.muxes, 0);
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
  // An enable tied to a constant is no enable; with nothing unmapped the
  // netlist's muxes stay.
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  auto* reg = make_dff(&nl, make_mux(&nl, make_input_pin(&nl, "a"), clk, clk), clk);
  reg->get_input_term(CDB_DFF_ENA)->set_vcc();
  make_output_pin(&nl, "q", reg);
  kavu_unmap_all_enables(&nl);
  EXPECT_EQ(count_controls(&nl).muxes, 1);
}

// Three registers on one enable: `forced` has a forced clock enable, `cleared`
// a synchronous clear in use, `plain` its clear tied to GND.
std::unique_ptr<CDB_SGATE_NETLIST> make_enable_trio() {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  auto* clk = make_input_pin(nl.get(), "clk");
  auto* en = make_input_pin(nl.get(), "en");
  CDB_SGATE_NODE* forced = add_register(nl.get(), 0, clk, en, nullptr);
  add_register(nl.get(), 1, clk, en, make_input_pin(nl.get(), "clr"));
  add_register(nl.get(), 2, clk, en, nullptr);
  HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_normal_name(nullptr, "forced", nullptr, nullptr, nullptr);
  forced->set_instance_name(name);
  hdb_set_option(name, ACF_FORCE_CLOCK_ENABLE, "on");
  return nl;
}

// The two switches are read once per process, so each case runs in a fresh
// one (the death-test child re-executes the test binary).
TEST(KavuEnableUnmap, SwitchesChooseWhichRegistersAreTried) {
  struct CASE {
    const char* disable_clock_enable;
    const char* skip_sclr;
    const char* summary;
  };
  // Skipping the legality test also skips the clear test.
  const CASE cases[] = {
      {"off", "off", "Unmapped: 2. Failed for sclear: 0. Failed for legality: 1"},
      {"off", "on", "Unmapped: 1. Failed for sclear: 1. Failed for legality: 1"},
      {"on", "off", "Unmapped: 3. Failed for sclear: 0. Failed for legality: 0"},
      {"on", "on", "Unmapped: 3. Failed for sclear: 0. Failed for legality: 0"},
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (const CASE& c : cases) {
    SCOPED_TRACE(std::string(c.disable_clock_enable) + "/" + c.skip_sclr);
    auto child = [&c] {
      cfg_set_value("disable_clock_enable", c.disable_clock_enable);
      cfg_set_value("kavu_unmap_ena_skip_sclr", c.skip_sclr);
      cfg_set_value("debug_msg_level", "2");
      auto golden = make_enable_trio();
      auto nl = make_enable_trio();
      DEBUG_CAPTURE cap("KAVU");
      kavu_unmap_all_enables(nl.get());
      const std::string line = std::string("Total registers: 3. With enable: 3. ") + c.summary;
      if (!cap.contains(line)) std::fprintf(stderr, "no line \"%s\"\n", line.c_str());
      const bool same = netlists_equivalent(golden.get(), nl.get());
      if (!same) std::fprintf(stderr, "function changed\n");
      std::exit(cap.contains(line) && same && count_controls(nl.get()).muxes == 0 ? 0 : 1);
    };
    EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  }
}

// ---------------------------------------------------------------- small signals

namespace {

// A bank of `width` registers sharing clock, enable, synchronous clear and,
// when asked, synchronous load pins.
std::unique_ptr<CDB_SGATE_NETLIST> make_bank(int width, bool sclr_over_ena, bool with_sload = false) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NETLIST* n = nl.get();
  auto* clk = make_input_pin(n, "clk");
  auto* en = make_input_pin(n, "en");
  auto* clr = make_input_pin(n, "clr");
  auto* ld = with_sload ? make_input_pin(n, "ld") : nullptr;
  for (int i = 0; i < width; ++i) {
    add_register(n, i, clk, en, clr, ld)->get_reg_flags()->set_sclr_over_ena_priority(sclr_over_ena);
  }
  make_output_pin(n, "m", make_mux(n, en, clr, clk));  // a mux that was there before
  return nl;
}

}  // namespace

TEST(KavuSyncUnmap, SignalsNarrowerThanTheCompileWidthsAreUnmappedAtBothPriorities) {
  CFG_SCOPE cfg{{"debug_msg_level", "2"}};
  CMP_FACADE facade;
  hdb_set_option(hdb_default_namespace(), ACF_MIN_WIDTH_CLOCK_ENABLE_FOR_UNMAP, "4");
  hdb_set_option(hdb_default_namespace(), ACF_MIN_WIDTH_SLOAD_SCLR_FOR_UNMAP, "4");
  for (bool priority : {false, true}) {
    for (int width : {1, 2, 3, 4}) {
      SCOPED_TRACE(std::to_string(width) + (priority ? " sclr over ena" : " ena over sclr"));
      auto golden = make_bank(width, priority);
      auto nl = make_bank(width, priority);
      KAVU_TRACK(*nl);
      DEBUG_CAPTURE cap("KAVU");
      opt_unmap_small_synch_secondaries(&facade, nl.get());
      const int unmapped = width < 4 ? width : 0;  // a signal as wide as the width stays
      const std::string pass1 = "Unmapped " + std::to_string(unmapped) + " enables, " +
                                std::to_string(unmapped) + " sclears and 0 sloads in pass 1";
      EXPECT_TRUE(cap.contains(pass1));
      EXPECT_EQ(cap.contains("Unmapped 0 enables, 0 sclears and 0 sloads in pass 2"), unmapped > 0);
      const CONTROL_COUNTS after = count_controls(nl.get());
      EXPECT_EQ(after.enables, width - unmapped);
      EXPECT_EQ(after.sclears, width - unmapped);
      EXPECT_EQ(after.muxes, unmapped > 0 ? 0 : 1);  // converted only after a second pass
      ASSERT_KAVU_EQUIVALENT(*golden, *nl);
    }
  }
}

TEST(KavuSyncUnmap, ClearWithPriorityTakesAWideEnableAlong) {
  // Loads and clears narrower than their width go. The enable is exactly as
  // wide as its width: it stays, unless the clear has priority over it.
  CFG_SCOPE cfg{{"debug_msg_level", "2"},
                {"kavu_min_width_ce_for_unmap", "3"},
                {"kavu_min_width_sld_sclr_for_unmap", "4"}};
  for (bool priority : {false, true}) {
    SCOPED_TRACE(priority);
    auto golden = make_bank(3, priority, true);
    auto nl = make_bank(3, priority, true);
    KAVU_TRACK(*nl);
    DEBUG_CAPTURE cap("KAVU");
    opt_unmap_small_synch_secondaries(nullptr, nl.get());
    EXPECT_TRUE(cap.contains("Unmapped 0 enables, 3 sclears and 3 sloads in pass 1"));
    const CONTROL_COUNTS after = count_controls(nl.get());
    EXPECT_EQ(after.enables, priority ? 0 : 3);
    EXPECT_EQ(after.sclears + after.sloads + after.muxes, 0);
    ASSERT_KAVU_EQUIVALENT(*golden, *nl);
  }
}

TEST(KavuSyncUnmap, WidthsAtMostOneDoNothing) {
  CFG_SCOPE cfg{{"debug_msg_level", "2"},
                {"kavu_min_width_ce_for_unmap", "1"},
                {"kavu_min_width_sld_sclr_for_unmap", "0"}};
  auto nl = make_bank(2, false);
  DEBUG_CAPTURE cap("KAVU");
  opt_unmap_small_synch_secondaries(nullptr, nl.get());
  EXPECT_FALSE(cap.contains("in pass"));
  EXPECT_EQ(count_controls(nl.get()).enables, 2);
}

TEST(KavuSyncUnmap, InvertedAndPlainUsesAreSeparateSignals) {
  CFG_SCOPE cfg{{"kavu_min_width_ce_for_unmap", "3"}, {"kavu_min_width_sld_sclr_for_unmap", "0"}};
  // Four registers on `en`: three plain (a signal of width 3, kept), one
  // inverted (width 1, unmapped).
  auto build = [] {
    auto nl = std::make_unique<CDB_SGATE_NETLIST>();
    auto* clk = make_input_pin(nl.get(), "clk");
    auto* en = make_input_pin(nl.get(), "en");
    for (int i = 0; i < 4; ++i) {
      CDB_SGATE_NODE* reg = add_register(nl.get(), i, clk, en, nullptr);
      if (i == 0) reg->get_input_term(CDB_DFF_ENA)->invert();
    }
    return nl;
  };
  auto golden = build();
  auto nl = build();
  KAVU_TRACK(*nl);
  opt_unmap_small_synch_secondaries(nullptr, nl.get());
  EXPECT_EQ(count_controls(nl.get()).enables, 3);
  ASSERT_KAVU_EQUIVALENT(*golden, *nl);
}

// ---------------------------------------------------------------- legality

namespace {

// What keeps a control mapped; each register trips one rule.
enum LEGALITY_RULE { NO_RULE, USER_ATOM, ADD_OPERATOR, CELL_SUM, FORCED_SCLR, FORCED_ENA, USER_ENA };

// A register with its enable and synchronous clear in use (no priority), its
// load tied to GND, built to trip `rule`.
CDB_SGATE_NODE* make_legality_register(CDB_SGATE_NETLIST* n, LEGALITY_RULE rule) {
  auto* clk = make_input_pin(n, "clk");
  auto* en = make_input_pin(n, "en");
  auto* clr = make_input_pin(n, "clr");
  if (rule == USER_ATOM) {
    auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 62);
    n->add_node(ff, true);
    for (auto [port, src] : {std::pair{DB_PORT_DATAIN, make_input_pin(n, "d0")}, std::pair{DB_PORT_CLK, clk},
                             std::pair{DB_PORT_ENA, en}, std::pair{DB_PORT_SCLR, clr}}) {
      kavu_set_iterm_source(kavu_fetch_create_wys_iterm(port, ff), out(src), false);
    }
    kavu_set_iterm_source(kavu_fetch_create_wys_iterm(DB_PORT_SLOAD, ff), nullptr, true);
    kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false);
    ff->set_mode(CDB_WYSIWYG_FROM_USER);
    return ff;
  }
  CDB_SGATE_NODE* reg = add_register(n, 0, clk, en, clr);
  CDB_SGATE_ITERM* data = reg->get_input_term(CDB_DFF_DATA);
  if (rule == ADD_OPERATOR) {
    auto* add = new CDB_SGATE_OPERATOR(nullptr, CDB_OPER_ADDITION);
    n->add_node(add, true);
    add->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT)->set_oterm(0, add->create_output_term(nullptr));
    data->disconnect_from_source();
    add->get_oterm(CDB_OPER_PORT_O, 0)->insert_fanout(data);
  } else if (rule == CELL_SUM) {
    auto* cell = new CDB_SGATE_WYSIWYG(nullptr, 61);
    n->add_node(cell, true);
    data->disconnect_from_source();
    kavu_fetch_create_wys_oterm(DB_PORT_SUMOUT, cell, false)->insert_fanout(data);
  } else if (rule == FORCED_SCLR || rule == FORCED_ENA) {
    HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_normal_name(
        nullptr, rule == FORCED_SCLR ? "forced_sclr" : "forced_ena", nullptr, nullptr, nullptr);
    reg->set_instance_name(name);
    hdb_set_option(name, rule == FORCED_SCLR ? ACF_FORCE_SYNCH_CLEAR : ACF_FORCE_CLOCK_ENABLE, "on");
  } else if (rule == USER_ENA) {
    hdb_set_option(en->get_instance_name(), ACF_USER_CLOCK_ENABLE, "on");
  }
  return reg;
}

}  // namespace

TEST(KavuSyncLegality, EachRuleKeepsOnlyItsControlsAndSkipCheckPassesOnlyTheEnableRules) {
  struct ROW {
    LEGALITY_RULE rule;
    bool sload, sclear, enable;  // opt_can_unmap_*
    bool skipping_unmaps;        // opt_try_unmap_enable with skip_check
  };
  const ROW rows[] = {
      {NO_RULE, true, true, true, true},         {USER_ATOM, false, false, false, false},
      {ADD_OPERATOR, false, false, false, false}, {CELL_SUM, false, false, false, false},
      {FORCED_SCLR, true, false, true, false},   {FORCED_ENA, true, true, false, true},
      {USER_ENA, true, true, false, true},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.rule);
    CDB_SGATE_NETLIST golden, nl;
    make_legality_register(&golden, row.rule);
    CDB_SGATE_NODE* reg = make_legality_register(&nl, row.rule);
    EXPECT_EQ(opt_can_unmap_sload(reg), row.sload);
    EXPECT_EQ(opt_can_unmap_sclear(reg), row.sclear);
    EXPECT_EQ(opt_can_unmap_enable(reg), row.enable);
    // The clear in use is unmapped first, so both must be allowed; skipping
    // the check passes over the enable's own rules only.
    bool unmapped = opt_try_unmap_enable(&nl, reg, false);
    EXPECT_EQ(unmapped, row.enable && row.sclear);
    if (!unmapped) unmapped = opt_try_unmap_enable(&nl, reg, true);
    EXPECT_EQ(unmapped, row.skipping_unmaps);
    EXPECT_EQ(kavu_get_dff_enable(reg)->is_vcc(), unmapped);
    EXPECT_EQ(kavu_get_dff_sclear(reg)->is_gnd(), unmapped);
    if (unmapped) {
      ASSERT_KAVU_EQUIVALENT(golden, nl);
    }
  }
  CDB_SGATE_NETLIST nl;
  EXPECT_KAVU_INTERNAL_ERROR(opt_dff_is_fed_by_adder(make_input_pin(&nl, "x")), "kavu_is_a_dff(sgate,true)");
}
