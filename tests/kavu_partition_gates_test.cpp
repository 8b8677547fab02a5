// Tests of the parallel-synthesis gates: partition count, flow switches and
// skip reasons, family support, name repair and the undo's refusals.
#include "cmp/cmp.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "kavu_helper_predicates.h"
#include "kavu_name.h"
#include "kavu_partition.h"
#include "kavu_setup.h"
#include "partition_test_support.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

void add_pins(CDB_SGATE_NETLIST* nl, int n) {
  for (int i = 0; i < n; ++i) make_input_pin(nl, ("p" + std::to_string(i)).c_str());
}

bool bit(SKIP_REASONS r) { return kavu_parallel_skip_reasons().test(size_t(r)); }

struct FACADE_SCOPE {
  CMP_FACADE facade;
  FACADE_SCOPE(int family, int base) {
    facade.set_family(DEV_FAMILY_ENUM(family));
    facade.set_base_family(DEV_FAMILY_ENUM(base));
    ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  }
  ~FACADE_SCOPE() { ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr); }
};

}  // namespace

TEST(KavuPartitionGates, PartitionCountAroundTheMinimumSize) {
  PARTITION_TEST_SCOPE scope;
  CDB_SGATE_NETLIST nl;
  add_pins(&nl, 10);
  const struct {
    int limit, num, max, expected;
    bool too_small, one_partition;
  } rows[] = {
      {10, 8, 32, 1, true, false},   // exactly the limit: one partition
      {9, 8, 32, 8, false, false},   // one node more
      {11, 8, 32, 1, true, false},
      {9, 40, 32, 32, false, false}, // capped by the maximum
      {9, 1, 32, 1, false, true},    // one partition enforced
      {9, 0, 32, 1, false, false},   // a count of zero or less is one partition
      {9, -3, 32, 1, false, false},
      {9, 8, 0, 1, false, false},
  };
  for (const auto& row : rows) {
    kavu_parallel_skip_reasons().reset();
    kavu_min_netlist_size = row.limit;
    SYNTH::KAVU::PARTITIONING_PARAMS p;
    p.set_param("num_partitions", row.num);
    p.set_param("max_num_partitions", row.max);
    EXPECT_EQ(kavu_get_num_partitions(&nl, p), row.expected)
        << "limit " << row.limit << " num " << row.num << " max " << row.max;
    EXPECT_EQ(bit(SKIP_CIRCUIT_TOO_SMALL), row.too_small) << row.limit;
    EXPECT_EQ(bit(SKIP_ONE_PARTITION), row.one_partition) << row.num;
  }
}

TEST(KavuPartitionGates, ZeroPartitionsNeverDividesByZero) {
  // The size limit of a run divides by the target count.
  PARTITION_TEST_SCOPE scope;
  LOADED_NETLIST nl = load_blif("small/counter8_lut4");
  KAVU_TRACK(nl);
  nl->sweep(false);
  const int before = int(nl->size());
  KAVU_PARTITIONER part;
  part.partition_on_reg_boundary(nl.get(), nullptr, partition_params(0), false);
  EXPECT_EQ(g_partition_size_max, before + 1) << "one partition's worth: the whole netlist";
}

TEST(KavuPartitionGates, FlowSwitchesAreDecidedOnceAndSkipBitsStayCleared) {
  PARTITION_TEST_SCOPE scope;
  EXPECT_FALSE(kavu_parallel_flow_allowed(PARALLEL_RTL));
  EXPECT_TRUE(bit(SKIP_RTL_FLOW_OFF));
  kavu_clear_disable_flag(SKIP_RTL_FLOW_OFF);
  EXPECT_FALSE(kavu_parallel_flow_allowed(PARALLEL_RTL));
  EXPECT_FALSE(bit(SKIP_RTL_FLOW_OFF)) << "a later call leaves the cleared bit alone";
  {
    CFG_SCOPE cfg{{"parallel_rtl_flow", "on"}};
    EXPECT_FALSE(kavu_parallel_flow_allowed(PARALLEL_RTL)) << "decided on the first call";
  }
  kavu_partition_reset_process_state();
  kavu_parallel_skip_reasons().reset();
  {
    CFG_SCOPE cfg{{"parallel_rtl_flow", "on"}, {"parallel_mls_flow", "on"}};
    EXPECT_TRUE(kavu_parallel_flow_allowed(PARALLEL_RTL));
    EXPECT_TRUE(kavu_parallel_flow_allowed(PARALLEL_MLS));
    kavu_disable_parallel_synthesis(SKIP_ONE_PARTITION);
    EXPECT_FALSE(kavu_parallel_flow_allowed(PARALLEL_RTL));
    EXPECT_FALSE(kavu_parallel_flow_allowed(PARALLEL_MLS));
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_parallel_flow_allowed(KAVU_PARALLEL_FLOW_TYPE(2)), "flow_type == PARALLEL_MLS");
}

TEST(KavuPartitionGates, FamilyAndAssignmentDecideTheFlow) {
  const struct {
    int family;
    bool option;
    const char* rtl_flow;
    const char* rtl_disabled;
    bool allowed;
  } rows[] = {
      {8, false, "off", "off", false}, {8, false, "on", "off", true},  {8, true, "off", "off", true},
      {8, true, "off", "on", false},   {9, true, "off", "off", false}, {57, true, "on", "on", false},
  };
  for (const auto& row : rows) {
    PARTITION_TEST_SCOPE scope;
    FACADE_SCOPE facade(row.family, 15);
    hdb_reset();
    if (row.option) hdb_set_option(hdb_default_namespace(), ACF_PARALLEL_SYNTHESIS, "on");
    CFG_SCOPE cfg{{"parallel_rtl_flow", row.rtl_flow}, {"parallel_rtl_flow_disabled", row.rtl_disabled}};
    EXPECT_EQ(kavu_parallel_flow_allowed(PARALLEL_RTL), row.allowed)
        << "family " << row.family << " option " << row.option << " flow " << row.rtl_flow;
  }
  const struct {
    int family, base;
    bool supported;
  } families[] = {{8, 3, true}, {9, 3, true}, {19, 3, true}, {57, 3, true}, {7, 15, true},
                  {7, 25, true}, {7, 45, true}, {7, 47, true}, {7, 3, false}, {14, 3, false}};
  for (const auto& f : families) {
    FACADE_SCOPE facade(f.family, f.base);
    EXPECT_EQ(kavu_is_family_parallel_synthesis_supported(&facade.facade), f.supported) << f.family << "/" << f.base;
  }
}

TEST(KavuPartitionGates, PrintedReasons) {
  PARTITION_TEST_SCOPE scope;
  {
    DEBUG_CAPTURE cap("KAVU");
    kavu_print_disable_reasons();  // nothing set: nothing printed, no error
    EXPECT_TRUE(cap.lines().empty());
  }
  kavu_disable_parallel_synthesis(SKIP_MLS_FLOW_OFF);
  kavu_disable_parallel_synthesis(SKIP_CIRCUIT_TOO_SMALL);
  {
    DEBUG_CAPTURE cap("KAVU");
    kavu_print_disable_reasons();
    ASSERT_EQ(cap.lines().size(), 1u);
    EXPECT_TRUE(cap.contains("MLS parallel flow is OFF"));
  }
  kavu_clear_disable_flag(SKIP_MLS_FLOW_OFF);
  kavu_min_netlist_size = 1234;
  DEBUG_CAPTURE cap("KAVU");
  kavu_print_disable_reasons();
  EXPECT_TRUE(cap.contains("the circuit is smaller than 1234"));
}

TEST(KavuPartitionGates, NameIdsAreRepairedWithoutNewNamesInEitherMode) {
  PARTITION_TEST_SCOPE scope;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* base = HDB_INSTANCE_NAME::create_normal_name(nullptr, "g", nullptr, nullptr, top);
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g = make_not(&nl, a);
  g->set_instance_name(base);
  g->get_single_oterm()->set_instance_name(base);
  const unsigned max_id = kavu_get_max_name_id(&nl);
  {
    DEBUG_CAPTURE cap("KAVU");
    kavu_check_name_ids(&nl, max_id);
    EXPECT_FALSE(cap.contains("Some new real names"));
  }
  // A helper made fresh names for the gate and its terminal.
  HDB_INSTANCE_NAME* fresh = HDB_INSTANCE_NAME::create_synthesized_name(base, "x", true, true, nullptr);
  ASSERT_GT(unsigned(fresh->get_id()), max_id);
  for (bool deferred : {false, true}) {
    if (deferred) kavu_set_syn_id_sgate_naming_function();
    g->set_instance_name(fresh);
    g->get_single_oterm()->set_instance_name(fresh);
    g->get_single_oterm()->set_synthesized_name(base);
    cdb_sgate_set_synthesis_running_in_parallel(true);
    DEBUG_CAPTURE cap("KAVU");
    kavu_check_name_ids(&nl, max_id);
    cdb_sgate_set_synthesis_running_in_parallel(false);
    EXPECT_TRUE(cap.contains("Some new real names were created in partition"));
    EXPECT_LE(kavu_get_max_name_id(&nl), max_id) << "deferred " << deferred;
    EXPECT_TRUE(g->has_temporary_name()) << "left for the deferred naming pass";
    EXPECT_EQ(g->get_single_oterm()->get_synfrom_name(), base);
    {
      CFG_SCOPE cfg{{"parallel_names_paranoid", "on"}};
      g->set_instance_name(fresh);
      EXPECT_KAVU_INTERNAL_ERROR(kavu_check_name_ids(&nl, max_id), "New names were created during parallel synthesis");
    }
    if (deferred) kavu_reset_sgate_naming_function();
  }
}

TEST(KavuPartitionGates, RegistersAndLatchesGetTheirOwnExtension) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(&nl);
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* dff = make_dff(&nl, a, a);
  CDB_SGATE_WYSIWYG* ff = new CDB_SGATE_WYSIWYG(nullptr, CDB_WYSIWYG_TYPE(62));
  CDB_SGATE_OTERM* regout = new CDB_SGATE_OTERM(ff);
  regout->set_port_type(DB_OUTPUT_PORT_TYPE(10));
  ff->set_output_term(regout, 0);
  nl.add_node(ff);
  CDB_SGATE_LATCH* latch = new CDB_SGATE_LATCH(nullptr);
  nl.add_node(latch);
  const struct {
    CDB_SGATE_NODE* node;
    const char* ext;
  } rows[] = {{dff, "dff"}, {ff, "dff"}, {latch, "latch"}};
  for (const auto& row : rows) {
    HDB_INSTANCE_NAME* n =
        HDB_INSTANCE_NAME::create_normal_name(nullptr, row.node->get_debug_name().c_str(), nullptr, nullptr, top);
    row.node->set_instance_name(n);
    row.node->get_single_oterm()->set_synthesized_name(n);
  }
  kavu_fix_new_dff_and_latch_names(&nl);
  for (const auto& row : rows) {
    const std::string path = row.node->get_string_hpath();
    EXPECT_EQ(path, "top|" + row.node->get_debug_name() + "~" + row.ext);
    EXPECT_FALSE(row.node->get_single_oterm()->has_synthesized_name_mark());
    EXPECT_EQ(row.node->get_instance_name(), row.node->get_single_oterm()->get_instance_name());
  }
}

TEST(KavuPartitionGates, UndoRefusesAnUnfedBoundaryBeforeAnyChange) {
  PARTITION_TEST_SCOPE scope;
  LOADED_NETLIST nl = load_blif("small/lfsr16_lut4");
  KAVU_TRACK(nl);
  KAVU_PARTITIONER part;
  part.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
  CDB_SGATE_BOUNDARY* input = nullptr;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list() && !input; ++it)
    if (*it && kavu_is_a_boundary_input(*it)) input = (*it)->cast_to_boundary();
  ASSERT_NE(input, nullptr);
  CDB_SGATE_OTERM* feeder = input->get_single_iterm()->get_source();
  input->get_single_iterm()->disconnect_from_source();
  const uint32_t size = nl->size();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_delete_partition_on_reg_boundary(nl.get()), "cdb_is_connected (iterm)");
  EXPECT_EQ(nl->size(), size) << "nothing was removed";
  EXPECT_TRUE(kavu_netlist_has_boundary_sgates(nl.get()));
  input->set_fed_by(feeder);
  kavu_delete_partition_on_reg_boundary(nl.get());
  EXPECT_FALSE(kavu_netlist_has_boundary_sgates(nl.get()));
  LOADED_NETLIST golden = load_blif("small/lfsr16_lut4");
  ASSERT_KAVU_EQUIVALENT(golden, nl);
}

TEST(KavuPartitionGates, SmallSwitches) {
  PARTITION_TEST_SCOPE scope;
  EXPECT_FALSE(kavu_synthesis_is_running_with_one_process_no_pdb());
  kavu_set_synthesis_running_with_one_process_no_pdb(true);
  EXPECT_TRUE(kavu_synthesis_is_running_with_one_process_no_pdb());
  const std::string saved_path = kavu_project_db_path();
  kavu_set_project_db_path("/tmp/x");
  kavu_set_project_db_path(kavu_project_db_path());
  EXPECT_EQ(kavu_project_db_path(), "/tmp/x");
  kavu_set_project_db_path(saved_path);  // a process-wide setting: leave it as found
  CDB_SGATE_NETLIST nl;
  EXPECT_TRUE(kavu_leave_revisit_pass_for_parallel_mls(&nl));
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_leave_revisit_pass_for_parallel_mls(&nl), "cdb_sgate_synthesis_is_running_in_parallel");
  cdb_sgate_set_synthesis_running_in_parallel(false);
  {
    CFG_SCOPE cfg{{"kavu_mls_repartition", "on"}};
    EXPECT_TRUE(kavu_repartition_before_mls());
  }
  EXPECT_TRUE(kavu_repartition_before_mls()) << "read once per process";
}
