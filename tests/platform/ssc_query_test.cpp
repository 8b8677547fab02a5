// Tests of the engine's constraint queries, the assignment behind an
// option, the slack estimator, the table timing model and device timing.
#include <fstream>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"
#include "ssc/tervo.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_NODE* named(CDB_SGATE_NODE* g, const char* name) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  g->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, name, nullptr, nullptr, top));
  return g;
}

}  // namespace

TEST(SscQuery, ConstraintsAndClocksByTerminal) {
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  auto* a = make_input_pin(&nl, "a");
  auto* r1 = named(make_dff(&nl, a, clk), "r1");
  auto* r2 = named(make_dff(&nl, make_not(&nl, r1), clk), "r2");
  make_output_pin(&nl, "q", r2);
  std::ofstream("q.sdc") << "create_clock -name C -period 10 [get_ports clk]\n"
                            "set_false_path -from [get_registers r1]\nset_input_delay 1 -clock C [get_ports a]\n";
  CFG_SCOPE key{{"ssc_sdc_file", "q.sdc"}};
  SSC_UTIL* u = ssc_get_util();
  EXPECT_FALSE(u->oterm_has_sdc_constraint(r1->get_output_term(0))) << "nothing held";
  ASSERT_TRUE(u->initialize_netlist(nullptr, &nl, SSC_DELAY_MODEL_UNIT, nullptr));
  const int before = ssc_analysis_count();
  struct ROW {
    CDB_SGATE_NODE* gate;
    bool constrained, clock;
  } const rows[] = {{r1, true, false}, {r2, false, false}, {a, true, false}, {clk, false, true}};
  for (const ROW& row : rows) {
    std::vector<int> ids{7};
    EXPECT_EQ(u->oterm_has_sdc_constraint(row.gate->get_output_term(0)), row.constrained);
    EXPECT_EQ(u->oterm_is_base_clock(row.gate->get_output_term(0), &ids), row.clock);
    EXPECT_EQ(ids, row.clock ? std::vector<int>({7, 0}) : std::vector<int>{7});
  }
  EXPECT_EQ(ssc_analysis_count(), before + 1) << "one analysis serves every query";
  TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES> est;
  EXPECT_TRUE(est.initialize(&nl, u->get_tdb_netlist(), false));
  EXPECT_EQ(est.get_partition_name(), "");
  EXPECT_TRUE(est.initialized_for_partition(""));
  EXPECT_EQ(est.estimate_slack(r1->get_input_term(CDB_DFF_DATA)), u->get_iterm_slack(r1->get_input_term(CDB_DFF_DATA)));
  EXPECT_EQ(est.estimate_slack(nullptr), SSC_UNCONSTRAINED_SLACK);
  u->delete_netlist();
  EXPECT_LT(est.estimate_slack(r1->get_input_term(CDB_DFF_DATA)), SSC_UNCONSTRAINED_SLACK) << "a snapshot";
  TDB_NETLIST other;
  EXPECT_FALSE(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>().initialize(&nl, &other, false));
  EXPECT_KAVU_INTERNAL_ERROR(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>().initialize(nullptr, &other, false), "");
}

TEST(SscQuery, AssignmentFlagsAndSources) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* to = HDB_INSTANCE_NAME::create_normal_name(nullptr, "b", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* from = HDB_INSTANCE_NAME::create_normal_name(nullptr, "a", nullptr, nullptr, top);
  hdb_set_assignment(to, 510, "on", from);
  hdb_set_option(to, 510, "off");
  auto all = HDB_DERIVED_OPTION<1, 0>::get_all_options(to, 510, true);
  ASSERT_EQ(all.size(), 2u);
  HDB_ASSIGNMENT* first = all[0]->get_assignment();
  EXPECT_EQ(first, all[0]->get_assignment()) << "one assignment per option";
  EXPECT_EQ(first->get_source_iname(), from);
  EXPECT_EQ(first->get_source_str(), "top|a");
  EXPECT_EQ(first->get_target_str(), "top|b");
  EXPECT_EQ(all[1]->get_assignment()->get_source_str(), "");
  first->set_flag(1, nullptr);
  EXPECT_TRUE(first->test_flag(1, nullptr));
  EXPECT_FALSE(all[1]->get_assignment()->test_flag(1, nullptr));
  first->clear_flag(1, nullptr);
  EXPECT_FALSE(first->test_flag(1, nullptr));
  EXPECT_KAVU_INTERNAL_ERROR(first->set_flag(32, nullptr), "");
}

TEST(SscQuery, TableModelAndDeviceTiming) {
  CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES> m;
  m.initialize(DEV_FAMILY_ENUM(47), DEV_DEVICE_ENUM(859), false, true, false);
  EXPECT_EQ(m.get_device(), DEV_DEVICE_ENUM(859));
  EXPECT_TRUE(m.timing_loaded());
  EXPECT_GT(m.get_lut_delay(), 0);
  csu_set_default_family(DEV_FAMILY_ENUM(25));
  EXPECT_EQ(csu_get_default_family(), DEV_FAMILY_ENUM(25));
  EXPECT_KAVU_INTERNAL_ERROR(DMGR_UTILITY::load_timing_info_for_model(0), "g_device_selected");  // no device yet
  EXPECT_KAVU_INTERNAL_ERROR(DMGR_UTILITY::create_device(-5), "");
  DMGR_UTILITY::create_typical_device(DEV_FAMILY_ENUM(47));
  EXPECT_EQ(dmgr_typical_device_count(), 1);
}
