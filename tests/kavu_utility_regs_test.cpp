// Tests of register flags from assignments, the packed-register report (a
// golden text, with and without bus grouping), index-list order, orphaned
// registers and undoing clock enables.
#include <string>
#include <vector>

#include "cmp/cmp.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility_regs.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"
#include "rdb/rdb.h"

using namespace kavu_platform;

namespace {

struct PACKED_DESIGN {
  CDB_SGATE_NETLIST nl;
  CMP_FACADE facade;
  RDB_REPORT report;
  CDB_SGATE_NODE* packer = nullptr;
  std::vector<CDB_SGATE_NODE*> regs;

  CDB_SGATE_NODE* reg(HDB_INSTANCE_NAME* name) {
    CDB_SGATE_NODE* r = make_dff(&nl, clk, clk);
    r->set_instance_name(name);
    regs.push_back(r);
    return r;
  }
  CDB_SGATE_NODE* clk;

  PACKED_DESIGN() {
    facade.set_report(&report);
    clk = make_input_pin(&nl, "clk");
    HDB_NAMESPACE* ns = facade.get_namespace();
    HDB_INSTANCE_NAME* root = ns->get_rooted_at();
    packer = make_and(&nl, clk, clk);
    packer->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(ns, "ram0", nullptr, nullptr, root));
    for (int i = 3; i >= 0; --i) reg(ns->create_group_instance_name(root, "q", i));
    for (int outer = 0; outer < 3; ++outer) {
      ns->create_group_instance_name(root, "m", outer);
      const std::string row = "m[" + std::to_string(outer) + "]";
      for (int inner = 0; inner < (outer == 2 ? 1 : 2); ++inner)
        reg(ns->create_group_instance_name(root, row.c_str(), inner));
    }
    reg(HDB_INSTANCE_NAME::create_normal_name(ns, "s", nullptr, nullptr, root));
    regs.push_back(regs[1]);  // q[2] listed twice
    make_output_pin(&nl, "busy", reg(HDB_INSTANCE_NAME::create_normal_name(ns, "busy", nullptr, nullptr, root)));
  }
};

}  // namespace

TEST(KavuUtilityRegs, PackedRegisterReportGolden) {
  const char* header =
      "Folder: Root\n"
      "  Folder: Root Optimization Results\n"
      "    Table: Registers Packed Into Inferred Tolvafunctions\n"
      "      Register Name ; Tolvafunction ; Tolvafunction Type\n";
  {
    PACKED_DESIGN d;
    opt_update_packed_registers_report(d.packer, d.regs, "RAM", &d.facade);
    EXPECT_EQ(d.report.to_text(), std::string(header) +
                                      "      q[0..3] ; ram0 ; RAM\n"
                                      "      m[2][0] ; ram0 ; RAM\n"
                                      "      m[0..1][0..1] ; ram0 ; RAM\n"
                                      "      s ; ram0 ; RAM\n");
  }
  {
    CFG_SCOPE cfg{{"opt_packed_register_report_group_names", "off"}};
    PACKED_DESIGN d;
    std::vector<CDB_SGATE_NODE*> two{d.regs[0], d.regs.back()};  // the second still has fan-out
    opt_update_packed_registers_report(d.packer, two, "RAM", &d.facade);
    EXPECT_EQ(d.report.to_text(), std::string(header) + "      q[3] ; ram0 ; RAM\n");
    // Only registers with fan-out: the empty table is removed again.
    PACKED_DESIGN e;
    opt_update_packed_registers_report(e.packer, {e.regs.back()}, "RAM", &e.facade);
    EXPECT_EQ(e.report.to_text(), "Folder: Root\n  Folder: Root Optimization Results\n");
  }
}

TEST(KavuUtilityRegs, IndexListOrder) {
  struct ROW { std::vector<int> a, b; bool less, equal; } rows[] = {
      {{1, 2}, {1, 2, 0}, true, false}, {{1, 2}, {1, 2}, false, true}, {{2}, {1, 9}, false, false},
      {{}, {0}, true, false}, {{0, 5}, {0, 7}, true, false}};
  for (const ROW& r : rows) {
    bool equal = !r.equal;
    EXPECT_EQ(opt_lex_less_int_vectors(r.a, r.b, &equal), r.less);
    EXPECT_EQ(equal, r.equal);
  }
}

TEST(KavuUtilityRegs, OrphanedRegistersFlagsAndEnables) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* clk = make_input_pin(&nl, "clk");
  auto* x = make_input_pin(&nl, "x");
  auto* kept = make_dff(&nl, x, clk);
  kept->cast_to_dff()->set_prune_allowed(false);
  auto* gone = make_dff(&nl, x, clk);
  auto* top = make_or(&nl, kept, gone);
  EXPECT_TRUE(opt_oterm_feeds_d_input(x->get_single_oterm(), kept));
  std::vector<CDB_SGATE_NODE*> dffs;
  opt_isolate_orphaned_gates_and_record_dffs(top->get_single_oterm(), &dffs);
  // A register that may not be pruned keeps its inputs and is not recorded.
  ASSERT_EQ(dffs, std::vector<CDB_SGATE_NODE*>{gone});
  EXPECT_TRUE(opt_oterm_feeds_d_input(x->get_single_oterm(), kept));
  EXPECT_TRUE(gone->get_input_term(CDB_DFF_DATA)->is_vcc());
  opt_mark_orphaned_dffs(dffs);
  EXPECT_TRUE(gone->cast_to_dff()->is_packed());

  // Flags from assignments.
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* root = ns->get_rooted_at();
  auto* named = make_dff(&nl, x, clk);
  named->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(ns, "r", nullptr, nullptr, root));
  hdb_set_option(named->get_instance_name(), ACF_PRESERVE_REGISTER, "on");
  hdb_set_option(named->get_instance_name(), ACF_DONT_MERGE_REGISTER, "on");
  hdb_set_option(named->get_instance_name(), ACF_MAX_FANOUT, "4");
  CFG_SCOPE cfg{{"opt_dff_flags_verbose", "on"}};
  DEBUG_CAPTURE cap("KAVU");
  opt_set_dff_flags(&nl, ns);
  for (const char* line : {" ** Total registers 3", " ** Preserve ON 1", " ** Merge disallowed 1",
                           " ** Prune disallowed 1", " ** Max fanout 1"})
    EXPECT_TRUE(cap.contains(line)) << line;
  EXPECT_TRUE(cap.contains("Preserve - Don't merge - "));
  EXPECT_TRUE(cap.contains("Max fanout 4 - "));

  // Enables become feedback multiplexers; an enable at VCC stays.
  CDB_SGATE_NETLIST golden, en;
  CDB_SGATE_NODE* regs[2][2];
  for (CDB_SGATE_NETLIST* n : {&golden, &en}) {
    auto* c = make_input_pin(n, "clk");
    auto* e = make_input_pin(n, "e");
    auto* d = make_input_pin(n, "d");
    CDB_SGATE_NODE** r = regs[n == &en];
    r[0] = make_dff(n, d, c);
    r[0]->get_input_term(CDB_DFF_ENA)->set_source(e->get_single_oterm());
    r[1] = make_dff(n, r[0], c);
    r[1]->get_input_term(CDB_DFF_ENA)->set_vcc();
    make_output_pin(n, "q", r[1]);
  }
  opt_undo_all_clock_ena(&en);
  EXPECT_TRUE(cap.contains("Converted 1 ENAs to MUX"));
  EXPECT_FALSE(en.size() == golden.size());
  EXPECT_TRUE(regs[1][1]->get_input_term(CDB_DFF_ENA)->is_vcc());
  EXPECT_TRUE(sim_equivalent(&golden, &en));
}
