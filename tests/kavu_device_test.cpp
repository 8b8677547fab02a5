// Tests of assignments on instance names, device atoms per family, I/O
// buffer gates, tolvafunction tri-state buffers, structured-ASIC migration
// queries and message locations.
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_device.h"
#include "msg/msg.h"
#include "testkit/platform_testkit.h"

namespace {

class KavuDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    kavu_reset_lumcast_migration_cache();
    // Names the elaboration makes carry their design unit's component.
    HDB_SOURCE_COMPONENT* unit =
        kavu_platform::hdb_default_namespace()->get_source_components()->get_primitive(88);
    m_top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", unit, nullptr, nullptr);
    m_inst = HDB_INSTANCE_NAME::create_child(m_top, "u1");
    m_leaf = HDB_INSTANCE_NAME::create_child(m_inst, "r");
  }
  void TearDown() override {
    kavu_reset_lumcast_migration_cache();
    cdb_sgate_set_synthesis_running_in_parallel(false);
  }

  // A chip whose migration list names `part`.
  void set_migration_part(const char* part) {
    HDB_SECTION* chip = kavu_platform::hdb_create_chip(nullptr, "top", "AUTO");
    kavu_platform::hdb_add_section_assignment(chip, ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST, part);
  }

  CMP_FACADE* facade(int family) {
    m_facade.set_family(DEV_FAMILY_ENUM(family));
    return &m_facade;
  }

  HDB_ASSIGNMENT* find(ACF_SECTION_TYPE_ENUM section, ACF_VARIABLE_TYPE_ENUM variable, HDB_INSTANCE_NAME* name) {
    return HDB_SECTION::find_section(section, "")->find_assignment(variable, name);
  }

  HDB_INSTANCE_NAME* m_top = nullptr;
  HDB_INSTANCE_NAME* m_inst = nullptr;
  HDB_INSTANCE_NAME* m_leaf = nullptr;
  CMP_FACADE m_facade;
};

// ---------------------------------------------------------------- assignments

TEST_F(KavuDevice, AttachedAssignmentsCanBeReadBack) {
  kavu_attach_bool_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_FORCE_CLOCK_ENABLE, true, &m_facade, true);
  HDB_ASSIGNMENT* a = find(ACF_SECTION_ENTITY, ACF_FORCE_CLOCK_ENABLE, m_leaf);
  ASSERT_NE(a, nullptr);
  EXPECT_STREQ(a->get_value_str(), "On");
  EXPECT_EQ(a->get_path(), "top|u1|r");
  EXPECT_TRUE(a->test_flag(HDB_ASSIGNMENT::FLAG_CREATED_BY_SYNTHESIS));
  EXPECT_EQ(a->get_source_component(), m_top->get_source_component());
  // The option was created on the name, so option lookups see it.
  auto* option = HDB_DERIVED_OPTION<1, 0>::get_single_option(m_leaf, ACF_FORCE_CLOCK_ENABLE);
  ASSERT_NE(option, nullptr);
  EXPECT_TRUE(option->get_value());

  // The short forms record the path below the top name and create no option.
  kavu_attach_assignment_to_iname(m_inst, ACF_SECTION_ENTITY, ACF_REG_MERGE_ACROSS_HIERARCHIES, ACF_ENUM_AUTO);
  kavu_attach_bool_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, false);
  kavu_attach_string_assignment_to_iname(m_leaf, ACF_SECTION_DEFAULT, ACF_VERILOG_MACRO, "A=1");
  HDB_ASSIGNMENT* merge = find(ACF_SECTION_ENTITY, ACF_REG_MERGE_ACROSS_HIERARCHIES, m_inst);
  ASSERT_NE(merge, nullptr);
  EXPECT_STREQ(merge->get_value_str(), "AUTO");
  EXPECT_EQ(merge->get_path(), "u1");
  EXPECT_TRUE(merge->path_is_below_top());
  EXPECT_STREQ(find(ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, m_leaf)->get_value_str(), "Off");
  EXPECT_EQ(find(ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, m_inst), nullptr);
  EXPECT_STREQ(find(ACF_SECTION_DEFAULT, ACF_VERILOG_MACRO, m_leaf)->get_value_str(), "A=1");
  EXPECT_EQ((HDB_DERIVED_OPTION<1, 0>::get_single_option(m_leaf, ACF_FORCE_SYNCH_CLEAR)), nullptr);
  // The six-argument form without create_option leaves the options alone too.
  kavu_attach_string_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_VERILOG_MACRO, "B=2", nullptr, false);
  EXPECT_EQ((HDB_DERIVED_OPTION<2, 0>::get_single_option(m_leaf, ACF_VERILOG_MACRO)), nullptr);
}

TEST_F(KavuDevice, RefusedAssignmentsAndCellsAreInternalErrors) {
  HDB_NAMESPACE bare_ns("bare");  // a root without source component cannot create assignments
  CDB_SGATE_NETLIST nl;
  const std::pair<std::function<void()>, const char*> refusals[] = {
      {[] { kavu_attach_string_assignment_to_iname(nullptr, ACF_SECTION_ENTITY, ACF_VERILOG_MACRO, "A"); }, "name"},
      {[&] { kavu_attach_string_assignment_to_iname(bare_ns.get_root(), ACF_SECTION_ENTITY, ACF_VERILOG_MACRO, "A"); },
       "component"},
      // A chip assignment needs a chip.
      {[&] { kavu_attach_string_assignment_to_iname(m_leaf, ACF_SECTION_CHIP, ACF_VERILOG_MACRO, "A"); },
       "asgn != NULL"},
      // An enumeration value without text is refused instead of read as a null text.
      {[&] {
         kavu_attach_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_REG_MERGE_ACROSS_HIERARCHIES,
                                         ACF_ENUM_TYPE_ENUM(99999));
       },
       "text"},
      {[&] { kavu_create_new_lc_ff(m_leaf, DEV_FAMILY_ENUM(3)); }, "WYS LC FF requested for unknown family"},
      {[&] { kavu_create_new_logic_module(m_leaf, DEV_FAMILY_ENUM(3)); }, "LOGIC_MODULE requested for unknown family"},
      {[&] { kavu_create_new_lc_comb(m_leaf, DEV_FAMILY_ENUM(8)); }, "WYS LC COMB requested for unknown family"},
      {[&] { kavu_create_new_tri_buffer(nullptr, &nl); }, "ref_node"},
      {[&] { kavu_create_new_opndrn_buffer(kavu_platform::make_input_pin(&nl, "a"), nullptr); }, "netlist"},
      {[] { kavu_lumcast_migration_enabled(nullptr, DEV_FAMILY_ENUM(35)); }, "facade != 0"},
  };
  for (const auto& [call, words] : refusals) EXPECT_KAVU_INTERNAL_ERROR(call(), words);
}

// ---------------------------------------------------------------- device atoms

TEST_F(KavuDevice, DeviceCellsPerFamilyHaveTheCatalogueAtomKinds) {
  struct ROW {
    int m_family, m_ff, m_logic_module /* 0: refused */, m_comb;
  };
  for (const ROW& row : {ROW{15, 62, 0, 61}, {25, 115, 113, 93}, {45, 94, 122, 93}, {47, 62, 0, 61}}) {
    SCOPED_TRACE(row.m_family);
    const DEV_FAMILY_ENUM family = DEV_FAMILY_ENUM(row.m_family);
    std::unique_ptr<CDB_SGATE_NODE> ff(kavu_create_new_lc_ff(m_leaf, family));
    ASSERT_NE(ff->cast_to_wysiwyg(), nullptr);
    EXPECT_EQ(ff->cast_to_wysiwyg()->get_wysiwyg_type(), row.m_ff);
    EXPECT_TRUE(ff->cast_to_wysiwyg()->is_ff());
    EXPECT_EQ(ff->get_instance_name(), m_leaf);
    EXPECT_EQ(ff->get_netlist(), nullptr);

    std::unique_ptr<CDB_SGATE_NODE> comb(kavu_create_new_lc_comb(m_leaf, family));
    CDB_SGATE_WYSIWYG* comb_atom = comb->cast_to_wysiwyg();
    EXPECT_EQ(comb_atom->get_wysiwyg_type(), row.m_comb);
    EXPECT_TRUE(comb_atom->is_lcell_comb());
    for (DB_OUTPUT_PORT_TYPE port : {8, 9, 0, 252, 1}) EXPECT_NE(comb_atom->get_oterm_by_type(port), nullptr) << port;
    EXPECT_EQ(comb_atom->get_preferred_oterm(), comb_atom->get_oterm_by_type(9));

    if (row.m_logic_module) {
      std::unique_ptr<CDB_SGATE_NODE> lm(kavu_create_new_logic_module(m_leaf, family));
      EXPECT_EQ(lm->cast_to_wysiwyg()->get_wysiwyg_type(), row.m_logic_module);
      EXPECT_TRUE(lm->cast_to_wysiwyg()->is_logic_module());
    } else {
      EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_logic_module(m_leaf, family),
                                 "WYS LOGIC_MODULE requested for an unsupported family");
    }
  }
}

// ---------------------------------------------------------------- I/O buffers

TEST_F(KavuDevice, TriAndOpenDrainBuffersAreNamedWiredAndRecognised) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* pin = kavu_platform::make_input_pin(&nl, "a");
  CDB_SGATE_IO_BUF* tri = kavu_create_new_tri_buffer(pin, &nl);
  CDB_SGATE_IO_BUF* od = kavu_create_new_opndrn_buffer(pin, &nl);
  EXPECT_EQ(tri->get_io_buf_type(), CDB_IO_BUF_TRI);
  EXPECT_EQ(od->get_io_buf_type(), CDB_IO_BUF_OPEN_DRAIN);
  ASSERT_EQ(tri->get_number_of_input_terms(), 2u);
  ASSERT_EQ(od->get_number_of_input_terms(), 1u);
  EXPECT_EQ(tri->get_input_term(0)->get_port_type(), DB_PORT_DATAIN);
  EXPECT_EQ(tri->get_input_term(1)->get_port_type(), DB_PORT_OE);
  EXPECT_EQ(od->get_input_term(0)->get_port_type(), DB_PORT_DATAIN);
  EXPECT_FALSE(tri->get_input_term(1)->is_connected());
  HDB_INSTANCE_NAME* tri_name = tri->get_output_term(0)->get_instance_name();
  ASSERT_NE(tri_name, nullptr);
  EXPECT_NE(tri_name->get_short_hpath(0).find("tri"), std::string::npos);
  EXPECT_NE(od->get_output_term(0)->get_instance_name()->get_short_hpath(0).find("opndrn"), std::string::npos);
  EXPECT_EQ(nl.size(), 3u);

  // A tolvafunction's tri-state buffer is known by the option on its output name.
  EXPECT_FALSE(kavu_is_a_tolvafunction_generated_tri_buffer(tri));
  kavu_platform::hdb_set_option(tri_name, ACF_TOLVAFUNCTION_GENERATED_TRI, "on");
  kavu_platform::hdb_set_option(od->get_output_term(0)->get_instance_name(), ACF_TOLVAFUNCTION_GENERATED_TRI, "on");
  EXPECT_TRUE(kavu_is_a_tolvafunction_generated_tri_buffer(tri));
  EXPECT_FALSE(kavu_is_a_tolvafunction_generated_tri_buffer(od));  // not a tri-state kind
  EXPECT_FALSE(kavu_is_a_tolvafunction_generated_tri_buffer(pin));
  kavu_platform::hdb_set_option(tri_name, ACF_TOLVAFUNCTION_GENERATED_TRI, "off");
  EXPECT_FALSE(kavu_is_a_tolvafunction_generated_tri_buffer(tri));
}

// ---------------------------------------------------------------- migration

TEST_F(KavuDevice, MigrationQueriesAnswerPerFamily) {
  set_migration_part("LMC36AF896C6");
  EXPECT_TRUE(kavu_lumcast_migration_enabled(facade(7), DEV_FAMILY_ENUM(36)));
  // A later question about another family is answered for that family.
  EXPECT_FALSE(kavu_lumcast_migration_enabled(facade(7), DEV_FAMILY_ENUM(34)));
  EXPECT_TRUE(kavu_lumcast_migration_enabled(facade(7), DEV_FAMILY_ENUM(36)));
  struct ROW {
    int m_family;
    bool m_exclude_34, m_expected;
  };
  for (const ROW& r : {ROW{7, false, true}, {60, true, true}, {61, false, false}, {6, false, false},
                       {35, true, true}, {36, true, true}, {34, false, true}, {34, true, false}, {15, false, false}})
    EXPECT_EQ(kavu_is_lmc_or_fpga_with_lmc_companion(facade(r.m_family), r.m_exclude_34), r.m_expected)
        << r.m_family << " " << r.m_exclude_34;

  kavu_reset_lumcast_migration_cache();
  kavu_platform::hdb_section_reset();
  set_migration_part("lmc34af484c6");  // names compare without case
  EXPECT_TRUE(kavu_is_lmc_or_fpga_with_lmc_companion(facade(6), false));
  EXPECT_FALSE(kavu_is_lmc_or_fpga_with_lmc_companion(facade(6), true));
  kavu_reset_lumcast_migration_cache();
  kavu_platform::hdb_section_reset();
  EXPECT_FALSE(kavu_lumcast_migration_enabled(facade(6), DEV_FAMILY_ENUM(34)));  // no chip
  kavu_reset_lumcast_migration_cache();
  set_migration_part("NO_SUCH_PART");
  EXPECT_FALSE(kavu_lumcast_migration_enabled(facade(6), DEV_FAMILY_ENUM(34)));
  EXPECT_FALSE(kavu_lumcast_migration_enabled(facade(6), DEV_FAMILY_ENUM(0)));
}

TEST_F(KavuDevice, MigrationCacheIsFilledOutsideParallelSynthesisOnly) {
  set_migration_part("LMC35AF672C6");
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_lumcast_migration_enabled(facade(61), DEV_FAMILY_ENUM(35)),
                             "Fix these static variables if you want to run parallel");
  cdb_sgate_set_synthesis_running_in_parallel(false);
  EXPECT_TRUE(kavu_lumcast_migration_enabled(facade(61), DEV_FAMILY_ENUM(35)));
  // Once filled, the cache answers during parallel synthesis as well.
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_TRUE(kavu_is_lmc_or_fpga_with_lmc_companion(facade(61), false));
  EXPECT_FALSE(kavu_lumcast_migration_enabled(facade(61), DEV_FAMILY_ENUM(36)));
}

// ---------------------------------------------------------------- locations

TEST_F(KavuDevice, AddLocationUsesTheSynthesizedFromNameOfThePreferredOutput) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* pin = kavu_platform::make_input_pin(&nl, "a");
  MSG_LOCATION_SCHEMA where("design.v:12");
  HDB_INSTANCE_NAME* located = HDB_INSTANCE_NAME::create_normal_name(nullptr, "src", nullptr, &where, m_top);
  MSG_E msg;
  EXPECT_FALSE(kavu_add_location(&msg, pin));  // no synthesized-from name yet
  pin->get_output_term(0)->set_synthesized_name(m_leaf);  // a name without location
  EXPECT_FALSE(kavu_add_location(&msg, pin));
  pin->get_output_term(0)->set_synthesized_name(located);
  EXPECT_TRUE(kavu_add_location(&msg, pin));
  CDB_SGATE_DFF bare(nullptr);  // no outputs and no instance name
  EXPECT_FALSE(kavu_add_location(&msg, &bare));
}

}  // namespace
