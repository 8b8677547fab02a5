// Tests of enable unmapping on real designs and of the small-signal
// unmapping pass on register banks: the controls are gone (or kept where the
// width says so), no mux is left, and the design still computes the same
// sequence of outputs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_predicates.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

bool reads_real_source(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source(); }

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
}

TEST(KavuEnableUnmap, SummaryLineCountsOutcomes) {
  CFG_SCOPE cfg{{"debug_msg_level", "2"}};
  {
    CDB_SGATE_NETLIST empty;
    DEBUG_CAPTURE cap("KAVU");
    kavu_unmap_all_enables(&empty);
    EXPECT_TRUE(cap.contains("Total registers: 0. With enable: 0. Unmapped: 0. Failed for sclear: 0. "
                             "Failed for legality: 0"));
  }
  // An enable tied to a constant is no enable; existing muxes stay when
  // nothing was unmapped.
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* clk = make_input_pin(&nl, "clk");
  auto* reg = make_dff(&nl, make_mux(&nl, a, b, clk), clk);
  reg->get_input_term(CDB_DFF_ENA)->set_vcc();
  make_output_pin(&nl, "q", reg);
  DEBUG_CAPTURE cap("KAVU");
  kavu_unmap_all_enables(&nl);
  EXPECT_TRUE(cap.contains("Total registers: 1. With enable: 0. Unmapped: 0."));
  EXPECT_EQ(count_controls(&nl).muxes, 1);
}

// ---- small synchronous signals on register banks ----

// A bank of `width` registers d[i] -> q[i] sharing clock, enable and
// synchronous clear pins; every other control tied inactive.
std::unique_ptr<CDB_SGATE_NETLIST> make_bank(int width, bool sclr_over_ena, bool with_sload = false) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NETLIST* n = nl.get();
  auto* clk = make_input_pin(n, "clk");
  auto* en = make_input_pin(n, "en");
  auto* clr = make_input_pin(n, "clr");
  auto* ld = make_input_pin(n, "ld");
  for (int i = 0; i < width; ++i) {
    const std::string d = "d" + std::to_string(i), q = "q" + std::to_string(i);
    auto* reg = make_dff(n, make_input_pin(n, d.c_str()), clk);
    for (int pos : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_SLOAD}) {
      reg->get_input_term(unsigned(pos))->set_gnd();
    }
    reg->get_input_term(CDB_DFF_ADATA)->set_vcc();
    en->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_ENA));
    clr->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_SCLR));
    if (with_sload) {
      reg->get_input_term(CDB_DFF_SLOAD)->disconnect_from_source(0);
      ld->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_SLOAD));
    }
    reg->get_reg_flags()->set_sclr_over_ena_priority(sclr_over_ena);
    make_output_pin(n, q.c_str(), reg);
  }
  make_output_pin(n, "ld_seen", ld);
  return nl;
}

TEST(KavuSyncUnmap, NarrowBanksAreUnmappedInOnePassAtBothPriorities) {
  CFG_SCOPE cfg{{"debug_msg_level", "2"},
                {"kavu_min_width_ce_for_unmap", "4"},
                {"kavu_min_width_sld_sclr_for_unmap", "4"}};
  for (bool priority : {false, true}) {
    for (int width : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(width) + (priority ? " sclr over ena" : " ena over sclr"));
      auto golden = make_bank(width, priority);
      auto nl = make_bank(width, priority);
      KAVU_TRACK(*nl);
      DEBUG_CAPTURE cap("KAVU");
      opt_unmap_small_synch_secondaries(nullptr, nl.get());
      const std::string pass1 = "Unmapped " + std::to_string(width) + " enables, " + std::to_string(width) +
                                " sclears and 0 sloads in pass 1";
      EXPECT_TRUE(cap.contains(pass1));
      EXPECT_TRUE(cap.contains("Unmapped 0 enables, 0 sclears and 0 sloads in pass 2"));
      const CONTROL_COUNTS after = count_controls(nl.get());
      EXPECT_EQ(after.enables, 0);
      EXPECT_EQ(after.sclears, 0);
      EXPECT_EQ(after.muxes, 0);
      ASSERT_KAVU_EQUIVALENT(*golden, *nl);
    }
  }
}

TEST(KavuSyncUnmap, BankAtTheWidthLimitIsLeftAlone) {
  CFG_SCOPE cfg{{"debug_msg_level", "2"},
                {"kavu_min_width_ce_for_unmap", "4"},
                {"kavu_min_width_sld_sclr_for_unmap", "4"}};
  for (bool priority : {false, true}) {
    auto nl = make_bank(4, priority);
    KAVU_TRACK(*nl);
    DEBUG_CAPTURE cap("KAVU");
    opt_unmap_small_synch_secondaries(nullptr, nl.get());
    EXPECT_TRUE(cap.contains("Unmapped 0 enables, 0 sclears and 0 sloads in pass 1"));
    EXPECT_FALSE(cap.contains("pass 2"));
    const CONTROL_COUNTS after = count_controls(nl.get());
    EXPECT_EQ(after.enables, 4);
    EXPECT_EQ(after.sclears, 4);
  }
}

TEST(KavuSyncUnmap, LoadsAndWideEnablesFollowTheirOwnWidths) {
  // Loads and clears narrower than their width go; the enable, exactly as
  // wide as its width, stays (a clear without priority never needs it gone).
  CFG_SCOPE cfg{{"debug_msg_level", "2"},
                {"kavu_min_width_ce_for_unmap", "3"},
                {"kavu_min_width_sld_sclr_for_unmap", "4"}};
  auto golden = make_bank(3, false, true);
  auto nl = make_bank(3, false, true);
  KAVU_TRACK(*nl);
  DEBUG_CAPTURE cap("KAVU");
  opt_unmap_small_synch_secondaries(nullptr, nl.get());
  EXPECT_TRUE(cap.contains("Unmapped 0 enables, 3 sclears and 3 sloads in pass 1"));
  const CONTROL_COUNTS after = count_controls(nl.get());
  EXPECT_EQ(after.enables, 3);
  EXPECT_EQ(after.sclears, 0);
  EXPECT_EQ(after.sloads, 0);
  EXPECT_EQ(after.muxes, 0);
  ASSERT_KAVU_EQUIVALENT(*golden, *nl);
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
    auto nl = make_bank(4, false);
    int k = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || !kavu_is_a_dff(g)) continue;
      g->get_input_term(CDB_DFF_SCLR)->disconnect_from_source(0);
      g->get_input_term(CDB_DFF_SCLR)->set_gnd();
      if (k++ == 0) g->get_input_term(CDB_DFF_ENA)->invert();
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

}  // namespace
