// Tests of the optimisation utilities: timing-map queries, RAM marks,
// bypass-register names and new registers.

#include "kavu_helper.h"
#include "kavu_utility_component.h"
#include "kavu_utility_opt.h"
#include "basex/basex.h"
#include "hdb/hdb.h"
#include "hdb/hdb_types.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(KavuUtilityOpt, SlackAndTimingChecks) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g = make_and(&nl, a, a);
  CDB_SGATE_ITERM* driven = g->get_input_term(0);
  CDB_SGATE_ITERM* unconstrained = g->get_input_term(1);
  CDB_SGATE_NODE* tied = make_and(&nl, nullptr, nullptr);
  SSC_ITERM_TIMING_INFO_MAP map;
  map[driven] = {0.25f, 40, 160, 40};
  map[unconstrained] = {0.5f, SSC_UNCONSTRAINED_SLACK, 0, 0};
  struct ROW {
    CDB_SGATE_ITERM* t;
    int margin;
    int slack;
    double ratio;
    int limit;
    bool okay;
  } const rows[] = {{driven, 10, 30, 0.25, 40, true},          {driven, -5, 45, 0.25, 41, false},
                    {unconstrained, 99, SSC_UNCONSTRAINED_SLACK, 0.5, 1 << 30, true},
                    {tied->get_input_term(0), 7, SSC_UNCONSTRAINED_SLACK, 1.0, SSC_UNCONSTRAINED_SLACK, true},
                    {nullptr, 7, SSC_UNCONSTRAINED_SLACK, 1.0, 0, true}};
  for (const ROW& r : rows) {
    double ratio = -1;
    EXPECT_EQ(opt_get_slack(r.t, map, r.margin, &ratio), r.slack) << &r - rows;
    EXPECT_EQ(ratio, r.ratio) << &r - rows;
    EXPECT_EQ(opt_get_slack(r.t, map, r.margin, nullptr), r.slack) << &r - rows;
    EXPECT_EQ(opt_timing_okay(r.t, map, r.limit), r.okay) << &r - rows;
  }
  map.erase(driven);
  EXPECT_KAVU_INTERNAL_ERROR(opt_get_slack(driven, map, 0, nullptr), "timing_info_iter != timing_info_map.end()");
  EXPECT_KAVU_INTERNAL_ERROR(opt_timing_okay(driven, map, 0), "timing_info_iter != timing_info_map.end()");
  // Gates of interest: everything but pins and atoms, appended.
  std::vector<CDB_SGATE_NODE*> gates = {a};
  nl.add_node(new CDB_SGATE_WYSIWYG(nullptr, 10401));
  opt_get_interesting_non_wys_gates(&nl, &gates);
  EXPECT_EQ(gates, (std::vector<CDB_SGATE_NODE*>{a, g, tied}));
  std::vector<CDB_SGATE_OTERM*> outs = {nullptr, tied->get_output_term(0)};
  EXPECT_FALSE(opt_is_vec_connected(outs));
  outs.push_back(a->get_output_term(0));
  EXPECT_TRUE(opt_is_vec_connected(outs));
}

TEST(KavuUtilityOpt, RamMarks) {
  CDB_SGATE_SYNCHRONOUS_RAM sync(nullptr);
  CDB_SGATE_ASYNCHRONOUS_RAM async(nullptr);
  for (int code = 0; code <= 9; ++code) {
    sync.set_ram_block_type(int8_t(code));
    async.set_ram_block_type(int8_t(code));
    EXPECT_EQ(opt_is_marked_as_ram(&sync), code != 0 && code != 4) << code;
    EXPECT_EQ(opt_is_marked_as_ram(&async), code != 0 && code != 4) << code;
  }
  sync.set_ram_block_type(10);
  EXPECT_KAVU_INTERNAL_ERROR(opt_is_marked_as_ram(&sync), "unrecognized ram block type");
  CDB_SGATE_NETLIST nl;
  EXPECT_KAVU_INTERNAL_ERROR(opt_is_marked_as_ram(make_input_pin(&nl, "p")), "unrecognized ram type");
  CFG_SCOPE cfg{{"opt_ignore_ram_style_for_size_check", "on"}};
  EXPECT_FALSE(opt_is_marked_as_ram(&async));
  EXPECT_FALSE(opt_is_marked_as_ram(&sync));
}

TEST(KavuUtilityOpt, BypassRegisterNames) {
  CDB_SGATE_NETLIST nl;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "top", nullptr, nullptr, nullptr);
  auto bank = [&](int n) {
    std::vector<CDB_SGATE_NODE*> regs;
    for (int i = 0; i < n; ++i) regs.push_back(make_dff(&nl, nullptr, nullptr));
    return regs;
  };
  std::string base = "bypass";
  std::vector<CDB_SGATE_NODE*> first = bank(2);
  opt_process_bypass_dff_name(top, base, first, nullptr, nullptr, false);
  HDB_INSTANCE_NAME* group = top->find_in_children("bypass", 1);
  ASSERT_TRUE(group && group->get_type());
  EXPECT_EQ(group->get_type()->cast_to_array_type()->get_right(), 1);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(first[size_t(i)]->get_instance_name()->get_group(), group);
    EXPECT_EQ(first[size_t(i)]->get_instance_name()->get_index_in_group(), i);
    // Element names carry the bypass flags (they were left out).
    EXPECT_EQ(first[size_t(i)]->get_instance_name()->get_flags().get_value() & 0x4040u, 0x4040u);
  }
  // The same size reuses the array type; a larger bank widens it so that
  // every element lies in the range (not kept at 0..1).
  const HDB_TYPE* type = group->get_type();
  opt_process_bypass_dff_name(top, base, bank(2), nullptr, nullptr, false);
  EXPECT_EQ(group->get_type(), type);
  std::vector<CDB_SGATE_NODE*> big = bank(5);
  opt_process_bypass_dff_name(top, base, big, nullptr, nullptr, false);
  const HDB_ARRAY_TYPE* wide = group->get_type()->cast_to_array_type();
  for (CDB_SGATE_NODE* r : big) EXPECT_TRUE(wide->contains(r->get_instance_name()->get_index_in_group()));
  opt_process_bypass_dff_name(top, base, {}, nullptr, nullptr, false);
  // Elaboration names: an array declaration and generated texts.
  kavu_create_generate_string_name_mutex();
  BASEX_ELABORATE_INFO info;
  std::vector<CDB_SGATE_NODE*> named = bank(3);
  opt_process_bypass_dff_name(nullptr, base, named, &info, nullptr, true);
  ASSERT_TRUE(info.get_array_ranges("bypass"));
  EXPECT_EQ(*info.get_array_ranges("bypass"), (std::vector<std::pair<int, int>>{{0, 2}}));
  EXPECT_STREQ(named[2]->get_string_name(), info.generate_string_name("bypass", nullptr, nullptr, 2, 0, 1));
  EXPECT_NE(std::string(named[0]->get_string_name()), named[1]->get_string_name());
}

TEST(KavuUtilityOpt, NewRegisterFromAModel) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* en = make_input_pin(&nl, "en");
  CDB_SGATE_NODE* model = make_dff(&nl, nullptr, clk);
  struct ROW {
    bool ena_connected, aclr_connected;
  } const rows[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const ROW& r : rows) {
    OPT_SECONDARY_SIGNALS sigs;
    sigs.m_clk = model->get_input_term(CDB_DFF_CLK);
    // The model's enable and clear: connected, or present but unconnected
    // (copying them would be an internal error).
    sigs.m_ena = model->get_input_term(CDB_DFF_ENA);
    sigs.m_aclr = model->get_input_term(CDB_DFF_ACLR);
    sigs.m_ena->disconnect_from_source();
    sigs.m_aclr->disconnect_from_source();
    if (r.ena_connected) en->get_output_term(0)->insert_fanout(sigs.m_ena);
    if (r.aclr_connected) sigs.m_aclr->set_vcc();
    CDB_SGATE_NODE* dff = opt_create_dff(&nl, &sigs);
    ASSERT_EQ(dff->get_number_of_input_terms(), 9u);
    EXPECT_EQ(dff->get_instance_name(), nullptr);
    EXPECT_FALSE(cdb_is_connected(dff->get_input_term(CDB_DFF_DATA)));
    EXPECT_EQ(dff->get_input_term(CDB_DFF_CLK)->get_source(), clk->get_output_term(0));
    CDB_SGATE_ITERM* ena = dff->get_input_term(CDB_DFF_ENA);
    if (r.ena_connected) EXPECT_EQ(ena->get_source(), en->get_output_term(0));
    else EXPECT_TRUE(ena->is_vcc());
    EXPECT_EQ(dff->get_input_term(CDB_DFF_ACLR)->is_vcc(), r.aclr_connected);
    EXPECT_TRUE(dff->get_input_term(CDB_DFF_ACLR)->is_vcc_or_gnd());
    for (unsigned pos : {CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_SLOAD, CDB_DFF_SCLR})
      EXPECT_TRUE(dff->get_input_term(pos)->is_gnd()) << pos;
    EXPECT_TRUE(dff->get_input_term(CDB_DFF_ADATA)->is_vcc());
    EXPECT_EQ(dff->get_input_term(CDB_DFF_ENA)->get_port_type(), DB_PORT_ENA);
  }
  std::string report;
  EXPECT_TRUE(nl.check(&report)) << report;
  OPT_SECONDARY_SIGNALS no_clock;
  const unsigned before = kavu_node_container_size(&nl);
  EXPECT_KAVU_INTERNAL_ERROR(opt_create_dff(&nl, &no_clock), "cdb_is_connected");
  EXPECT_EQ(kavu_node_container_size(&nl), before);
}
