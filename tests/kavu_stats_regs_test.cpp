// Tests of the register secondary-signal statistics, the shift-register
// chain dump and the netlist dump.
#include "hdb/hdb.h"
#include "kavu_stats_test_support.h"

using namespace kavu_platform;
using namespace kavu_stats_test;

namespace {

class KavuStatsRegs : public STATS_TEST {};

HDB_INSTANCE_NAME* name_of(const char* text) {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, nullptr, 1);
}

CDB_SGATE_NODE* named_dff(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clk, const char* name) {
  CDB_SGATE_NODE* r = make_dff(nl, d, clk);
  if (name) r->set_instance_name(name_of(name));
  return r;
}

}  // namespace

TEST_F(KavuStatsRegs, RegisterLinesSortedAndUnique) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* d = make_input_pin(&nl, "d");
  CDB_SGATE_NODE* z = named_dff(&nl, d, clk, "z");
  z->get_input_term(CDB_DFF_ENA)->set_vcc();
  z->get_input_term(CDB_DFF_ACLR)->set_gnd();
  z->get_input_term(CDB_DFF_SCLR)->set_source(out(d));
  CDB_SGATE_NODE* a1 = named_dff(&nl, d, clk, "a");
  CDB_SGATE_NODE* a2 = named_dff(&nl, d, clk, "a");  // same path and signature
  for (CDB_SGATE_NODE* a : {a1, a2}) {
    a->get_input_term(CDB_DFF_ALOAD)->set_source(out(clk));
    a->get_input_term(CDB_DFF_ADATA)->set_gnd();
  }
  CDB_SGATE_NODE* m = named_dff(&nl, d, clk, "m");
  m->get_input_term(CDB_DFF_ALOAD)->set_source(out(clk));
  m->get_input_term(CDB_DFF_ADATA)->set_source(out(d));
  named_dff(&nl, d, clk, nullptr);  // no name: no line
  DEBUG_CAPTURE cap("KAVU");
  dump_register_secondaries(&nl, "P");
  EXPECT_EQ(cap.lines(), (std::vector<std::string>{"P REG a | ALD ADATA_GND ", "P REG m | ALD ADATA_NORM ",
                                                   "P REG z | SCLR plain"}));
}

// Widths by role; inverted and plain use are two signals; an unconnected
// enable counts nowhere; signals are listed by driver id, not by address.
TEST_F(KavuStatsRegs, SecondarySignalWidths) {
  CFG_SCOPE cfg{{"kavu_dump_more_secondary_stats", "on"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* d = make_input_pin(&nl, "d");
  // Two enable drivers whose addresses run against their ids when the
  // allocator reuses the freed block.
  auto* filler = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  CDB_SGATE_NODE* e1 = make_and(&nl, d, clk);
  e1->set_instance_name(name_of("e1"));
  delete filler;
  CDB_SGATE_NODE* e2 = make_and(&nl, clk, d);
  e2->set_instance_name(name_of("e2"));
  for (int i = 0; i < 8; ++i) {
    CDB_SGATE_NODE* r = make_dff(&nl, d, clk);
    r->get_input_term(CDB_DFF_ENA)->set_source(out(e2));
    if (i == 0) r->cast_to_dff()->set_user_clock_enable(true);
  }
  CDB_SGATE_NODE* inv = make_dff(&nl, d, clk);
  inv->get_input_term(CDB_DFF_ENA)->set_source(out(e1));
  CDB_SGATE_NODE* plain = make_dff(&nl, d, clk);
  plain->get_input_term(CDB_DFF_ENA)->set_source(out(e1));
  plain->get_input_term(CDB_DFF_ENA)->set_invert();
  make_dff(&nl, d, clk);  // enable unconnected
  CDB_SGATE_NODE* sc = make_dff(&nl, d, clk);
  sc->get_input_term(CDB_DFF_SCLR)->set_source(out(e1));
  DEBUG_CAPTURE cap("KAVU");
  dump_secondary_signal_widths(&nl, "P");
  const auto l = cap.lines();
  auto has = [&](const std::string& s) { return std::find(l.begin(), l.end(), s) != l.end(); };
  EXPECT_TRUE(has("P  Enable stats (total 3 enables, 10 registers)"));
  EXPECT_TRUE(has("P Enable width 1: 2"));
  EXPECT_TRUE(has("P Enable width 8: 1"));
  EXPECT_TRUE(has("P  Sclear stats (total 1 sclear signals, 1 registers)"));
  EXPECT_TRUE(has("P  Sload stats (total 0 sload signals, 0 registers)"));
  const auto ce = lines_with(cap, "P CE width");
  ASSERT_EQ(ce.size(), 3u);
  // e1 (plain, then inverted) before e2.
  EXPECT_EQ(ce[0], "P CE width 1 user CE 0 COMB e1");
  EXPECT_EQ(ce[1], "P CE width 1 user CE 0 COMB e1");
  EXPECT_EQ(ce[2], "P CE width 8 user CE 1 COMB e2");
  EXPECT_TRUE(has("P SCLR width 1 COMB e1"));
}

TEST_F(KavuStatsRegs, ShiftRegisterChainDump) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* first = make_dff(&nl, nullptr, clk);
  first->get_input_term(CDB_DFF_DATA)->disconnect_from_source();
  CDB_SGATE_NODE* mid = named_dff(&nl, first, clk, "mid");
  CDB_SGATE_NODE* end = named_dff(&nl, mid, clk, "end");
  make_lut(&nl, {mid, clk}, 0x8);  // a tap on mid
  {
    DEBUG_CAPTURE cap("KAVU");
    dump_shift_register_chains(end, false);
    const auto l = cap.lines();
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(l[0], "   SR head DFF end:");
    EXPECT_EQ(lines_with(cap, "SR has fanout to").size(), 0u);  // the end has no fan-out
    EXPECT_EQ(lines_with(cap, "    fanout to (taps)").size(), 2u);  // mid feeds end and the LUT
    EXPECT_EQ(lines_with(cap, "   SR DFF").size(), 2u);              // mid and first
    // The earliest register's data input is unconnected: no driver to name.
    EXPECT_EQ(l.back(), "   SR has fanin from: \t none");
  }
  {
    // Single fan-out mode: mid also feeds the LUT, so the walk stops there
    // and names mid in the fan-in line.
    DEBUG_CAPTURE cap("KAVU");
    dump_shift_register_chains(end, true);
    EXPECT_EQ(lines_with(cap, "   SR DFF").size(), 0u);
    ASSERT_EQ(lines_with(cap, "   SR has fanin from").size(), 1u);
    EXPECT_EQ(lines_with(cap, "   SR has fanin from")[0].find("   SR has fanin from: \t mid \t N"), 0u);
  }
}

TEST_F(KavuStatsRegs, NetlistDump) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  make_output_pin(&nl, "o", make_not(&nl, a));
  {
    DEBUG_CAPTURE cap("KAVU");
    dump_netlist_for_connex_stats(&nl);
    const auto l = cap.lines();
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0].find("SMT_NETLIST_DUMP: sgate_0: \t top|a \t N"), 0u);
    EXPECT_NE(l[1].find("type: \t COMB \t CDB_SGATE_COMB_ENUM"), std::string::npos);
    EXPECT_EQ(l[2].find("SMT_NETLIST_DUMP: sgate_2: "), 0u);
  }
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(dump_netlist_for_connex_stats(&nl), "not safe to run in parallel");
  cdb_sgate_set_synthesis_running_in_parallel(false);
}
