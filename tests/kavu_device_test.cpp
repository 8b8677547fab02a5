// Assignments on names, device atoms per family, I/O buffers, migration
// queries and message locations.
#include <memory>
#include <string>
#include <vector>

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
    HDB_SOURCE_COMPONENT* unit = kavu_platform::hdb_default_namespace()->get_source_components()->get_primitive(88);
    m_top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", unit, nullptr, nullptr);
    m_inst = HDB_INSTANCE_NAME::create_child(m_top, "u1");
    m_leaf = HDB_INSTANCE_NAME::create_child(m_inst, "r");
  }
  void TearDown() override { kavu_reset_lumcast_migration_cache(); }

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

  HDB_INSTANCE_NAME *m_top = nullptr, *m_inst = nullptr, *m_leaf = nullptr;
  CMP_FACADE m_facade;
};


TEST_F(KavuDevice, AttachedAssignmentsCanBeReadBack) {
  kavu_attach_bool_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_FORCE_CLOCK_ENABLE, true, &m_facade, true);
  HDB_ASSIGNMENT* a = find(ACF_SECTION_ENTITY, ACF_FORCE_CLOCK_ENABLE, m_leaf);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->get_path() + "=" + a->get_value_str(), "top|u1|r=On");
  EXPECT_TRUE(a->test_flag(HDB_ASSIGNMENT::FLAG_CREATED_BY_SYNTHESIS) && a->get_source_component() == m_top->get_source_component());
  auto* option = HDB_DERIVED_OPTION<1, 0>::get_single_option(m_leaf, ACF_FORCE_CLOCK_ENABLE);
  EXPECT_TRUE(option && option->get_value());  // the option was created on the name

  // The short forms record the path below the top name and create no option;
  // nor does the six-argument form without create_option.
  kavu_attach_assignment_to_iname(m_inst, ACF_SECTION_ENTITY, ACF_REG_MERGE_ACROSS_HIERARCHIES, ACF_ENUM_AUTO);
  kavu_attach_bool_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, false);
  kavu_attach_string_assignment_to_iname(m_leaf, ACF_SECTION_DEFAULT, ACF_VERILOG_MACRO, "A=1");
  kavu_attach_string_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_VERILOG_MACRO, "B=2", nullptr, false);
  auto text = [&](ACF_SECTION_TYPE_ENUM section, ACF_VARIABLE_TYPE_ENUM variable, HDB_INSTANCE_NAME* name) {
    HDB_ASSIGNMENT* found = find(section, variable, name);
    return found ? found->get_path() + "=" + found->get_value_str() : std::string("none");
  };
  EXPECT_EQ((std::vector<std::string>{text(ACF_SECTION_ENTITY, ACF_REG_MERGE_ACROSS_HIERARCHIES, m_inst),
                                      text(ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, m_leaf),
                                      text(ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, m_inst),
                                      text(ACF_SECTION_DEFAULT, ACF_VERILOG_MACRO, m_leaf)}),
            (std::vector<std::string>{"u1=AUTO", "u1|r=Off", "none", "u1|r=A=1"}));
  EXPECT_TRUE(find(ACF_SECTION_ENTITY, ACF_REG_MERGE_ACROSS_HIERARCHIES, m_inst)->path_is_below_top());
  EXPECT_EQ((HDB_DERIVED_OPTION<1, 0>::get_single_option(m_leaf, ACF_FORCE_SYNCH_CLEAR)), nullptr);
  EXPECT_EQ((HDB_DERIVED_OPTION<2, 0>::get_single_option(m_leaf, ACF_VERILOG_MACRO)), nullptr);
}

TEST_F(KavuDevice, RefusedAssignmentsAndCellsAreInternalErrors) {
  EXPECT_KAVU_INTERNAL_ERROR(kavu_attach_string_assignment_to_iname(nullptr, ACF_SECTION_ENTITY, ACF_VERILOG_MACRO, "A"),
                             "name");
  HDB_NAMESPACE bare("bare");  // a root without source component cannot create assignments
  EXPECT_KAVU_INTERNAL_ERROR(
      kavu_attach_string_assignment_to_iname(bare.get_root(), ACF_SECTION_ENTITY, ACF_VERILOG_MACRO, "A"), "component");
  EXPECT_KAVU_INTERNAL_ERROR(  // a chip assignment needs a chip
      kavu_attach_string_assignment_to_iname(m_leaf, ACF_SECTION_CHIP, ACF_VERILOG_MACRO, "A"), "asgn != NULL");
  // An enumeration value without text is refused instead of read as a null text.
  EXPECT_KAVU_INTERNAL_ERROR(kavu_attach_assignment_to_iname(m_leaf, ACF_SECTION_ENTITY, ACF_REG_MERGE_ACROSS_HIERARCHIES,
                                                             ACF_ENUM_TYPE_ENUM(99999)),
                             "text");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_lc_ff(m_leaf, DEV_FAMILY_ENUM(3)), "LC FF requested for unknown family");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_logic_module(m_leaf, DEV_FAMILY_ENUM(3)), "for unknown family");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_lc_comb(m_leaf, DEV_FAMILY_ENUM(8)), "LC COMB requested for unknown family");
  CDB_SGATE_NETLIST nl;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_tri_buffer(nullptr, &nl), "ref_node");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_opndrn_buffer(kavu_platform::make_input_pin(&nl, "a"), nullptr), "netlist");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_lumcast_migration_enabled(nullptr, DEV_FAMILY_ENUM(35)), "facade != 0");
}


TEST_F(KavuDevice, DeviceCellsPerFamilyHaveTheCatalogueAtomKinds) {
  struct ROW {
    int m_family, m_ff, m_logic_module /* 0: refused */, m_comb;
  };
  for (const ROW& row : {ROW{15, 62, 0, 61}, {25, 115, 113, 93}, {45, 94, 122, 93}, {47, 62, 0, 61}}) {
    SCOPED_TRACE(row.m_family);
    const DEV_FAMILY_ENUM family = DEV_FAMILY_ENUM(row.m_family);
    std::unique_ptr<CDB_SGATE_NODE> ff(kavu_create_new_lc_ff(m_leaf, family)), comb(kavu_create_new_lc_comb(m_leaf, family));
    const CDB_SGATE_WYSIWYG *f = ff->cast_to_wysiwyg(), *c = comb->cast_to_wysiwyg();
    ASSERT_TRUE(f && c);
    EXPECT_TRUE(f->get_wysiwyg_type() == row.m_ff && f->is_ff());
    EXPECT_TRUE(ff->get_instance_name() == m_leaf && ff->get_netlist() == nullptr);
    EXPECT_TRUE(c->get_wysiwyg_type() == row.m_comb && c->is_lcell_comb());
    for (DB_OUTPUT_PORT_TYPE port : {8, 9, 0, 252, 1}) EXPECT_NE(c->get_oterm_by_type(port), nullptr) << port;
    EXPECT_EQ(c->get_preferred_oterm(), c->get_oterm_by_type(9));
    if (row.m_logic_module) {
      std::unique_ptr<CDB_SGATE_NODE> lm(kavu_create_new_logic_module(m_leaf, family));
      EXPECT_TRUE(lm->cast_to_wysiwyg()->get_wysiwyg_type() == row.m_logic_module && lm->cast_to_wysiwyg()->is_logic_module());
    } else {
      EXPECT_KAVU_INTERNAL_ERROR(kavu_create_new_logic_module(m_leaf, family), "requested for an unsupported family");
    }
  }
}


TEST_F(KavuDevice, TriAndOpenDrainBuffersAreNamedWiredAndRecognised) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* pin = kavu_platform::make_input_pin(&nl, "a");
  CDB_SGATE_IO_BUF* tri = kavu_create_new_tri_buffer(pin, &nl);
  CDB_SGATE_IO_BUF* od = kavu_create_new_opndrn_buffer(pin, &nl);
  EXPECT_TRUE(tri->get_io_buf_type() == CDB_IO_BUF_TRI && od->get_io_buf_type() == CDB_IO_BUF_OPEN_DRAIN);
  ASSERT_TRUE(tri->get_number_of_input_terms() == 2u && od->get_number_of_input_terms() == 1u);
  EXPECT_TRUE(tri->get_input_term(0)->get_port_type() == DB_PORT_DATAIN && od->get_input_term(0)->get_port_type() == DB_PORT_DATAIN);
  EXPECT_TRUE(tri->get_input_term(1)->get_port_type() == DB_PORT_OE && !tri->get_input_term(1)->is_connected());
  HDB_INSTANCE_NAME* tri_name = tri->get_output_term(0)->get_instance_name();
  ASSERT_TRUE(tri_name && tri_name->get_short_hpath(0).find("tri") != std::string::npos);
  EXPECT_NE(od->get_output_term(0)->get_instance_name()->get_short_hpath(0).find("opndrn"), std::string::npos);

  // A tolvafunction's tri-state buffer is known by the option on its output name.
  EXPECT_FALSE(kavu_is_a_tolvafunction_generated_tri_buffer(tri));
  kavu_platform::hdb_set_option(tri_name, ACF_TOLVAFUNCTION_GENERATED_TRI, "on");
  kavu_platform::hdb_set_option(od->get_output_term(0)->get_instance_name(), ACF_TOLVAFUNCTION_GENERATED_TRI, "on");
  EXPECT_TRUE(kavu_is_a_tolvafunction_generated_tri_buffer(tri));
  EXPECT_FALSE(kavu_is_a_tolvafunction_generated_tri_buffer(od) || kavu_is_a_tolvafunction_generated_tri_buffer(pin));
  kavu_platform::hdb_set_option(tri_name, ACF_TOLVAFUNCTION_GENERATED_TRI, "off");
  EXPECT_FALSE(kavu_is_a_tolvafunction_generated_tri_buffer(tri));
}


TEST_F(KavuDevice, MigrationQueriesAnswerPerFamily) {
  set_migration_part("LMC36AF896C6");
  // A later question about another family is answered for that family.
  EXPECT_TRUE(kavu_lumcast_migration_enabled(facade(7), DEV_FAMILY_ENUM(36)));
  EXPECT_FALSE(kavu_lumcast_migration_enabled(facade(7), DEV_FAMILY_ENUM(34)));
  EXPECT_TRUE(kavu_lumcast_migration_enabled(facade(7), DEV_FAMILY_ENUM(36)));
  // family, excluding family 34: structured-ASIC or migrating to its companion
  for (auto [family, exclude_34, expected] :
       {std::tuple{7, false, true}, {60, true, true}, {61, false, false}, {6, false, false}, {35, true, true},
        {36, true, true}, {34, false, true}, {34, true, false}, {15, false, false}})
    EXPECT_EQ(kavu_is_lmc_or_fpga_with_lmc_companion(facade(family), exclude_34), expected) << family << exclude_34;
  for (const char* part : {"lmc34af484c6", "", "NO_SUCH_PART"}) {  // names compare without case; no chip; unknown
    kavu_reset_lumcast_migration_cache();
    kavu_platform::hdb_section_reset();
    if (*part) set_migration_part(part);
    EXPECT_EQ(kavu_lumcast_migration_enabled(facade(6), DEV_FAMILY_ENUM(34)), *part == 'l') << part;
    EXPECT_EQ(kavu_is_lmc_or_fpga_with_lmc_companion(facade(6), false), *part == 'l') << part;
    EXPECT_FALSE(kavu_is_lmc_or_fpga_with_lmc_companion(facade(6), true));
  }
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


TEST_F(KavuDevice, AddLocationUsesTheSynthesizedFromNameOfThePreferredOutput) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* pin = kavu_platform::make_input_pin(&nl, "a");
  MSG_LOCATION_SCHEMA where("design.v:12");
  MSG_E msg;
  EXPECT_FALSE(kavu_add_location(&msg, pin));  // no synthesized-from name yet
  pin->get_output_term(0)->set_synthesized_name(m_leaf);  // a name without location
  EXPECT_FALSE(kavu_add_location(&msg, pin));
  pin->get_output_term(0)->set_synthesized_name(
      HDB_INSTANCE_NAME::create_normal_name(nullptr, "src", nullptr, &where, m_top));
  EXPECT_TRUE(kavu_add_location(&msg, pin));
  CDB_SGATE_DFF bare(nullptr);  // no outputs and no instance name
  EXPECT_FALSE(kavu_add_location(&msg, &bare));
}

}  // namespace
