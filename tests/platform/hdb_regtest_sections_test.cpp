// Tests of the section vocabulary and the subsection iterator that the
// assignment regression dump reads.
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

TEST(HdbRegtestSections, SectionNamesAndAllowedVariables) {
  EXPECT_EQ(acf_string_to_section_type("chip"), ACF_SECTION_CHIP);
  EXPECT_EQ(acf_string_to_section_type("DEFAULT"), ACF_SECTION_DEFAULT);
  EXPECT_EQ(acf_string_to_section_type("Entity"), ACF_SECTION_ENTITY);
  EXPECT_EQ(acf_string_to_section_type("NOSUCH"), 0);
  EXPECT_EQ(acf_string_to_section_type(nullptr), 0);
  EXPECT_STREQ(acf_get_section_name(ACF_SECTION_ENTITY), "ENTITY");
  EXPECT_STREQ(acf_get_section_name(99), "UNKNOWN");
  const struct {
    int variable, section;
    bool allowed;
  } cases[] = {{ACF_VERILOG_MACRO, ACF_SECTION_DEFAULT, true},
               {ACF_VERILOG_MACRO, ACF_SECTION_ENTITY, false},
               {ACF_FORCE_SYNCH_CLEAR, ACF_SECTION_ENTITY, true},
               {ACF_FORCE_SYNCH_CLEAR, ACF_SECTION_CHIP, false},
               {ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST, ACF_SECTION_CHIP, true},
               {12345, ACF_SECTION_DEFAULT, false},
               {ACF_FORCE_SYNCH_CLEAR, 77, false}};
  for (const auto& c : cases)
    EXPECT_EQ(acf_is_variable_allowed_in_section_type(c.variable, c.section), c.allowed)
        << c.variable << " in " << c.section;
}

TEST(HdbRegtestSections, SubsectionsOfTheDefaultSection) {
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_SECTION* entity = hdb_create_section(ns, ACF_SECTION_ENTITY, "");
  HDB_SECTION* chip_b = hdb_create_chip(ns, "b", "AUTO");
  HDB_SECTION* chip_a = hdb_create_chip(ns, "a", "AUTO");
  HDB_SECTION* top = HDB_SECTION::find_section(HDB_SECTION_TYPE_DEFAULT, "", ns);
  ASSERT_NE(top, nullptr);
  std::vector<HDB_SECTION*> seen;
  for (HDB_SUBSECTION_ITERATOR it(top, 0); !it.at_end(); ++it) seen.push_back(*it);
  // (type, name) order: chips 3 "a", "b", then the entity section 14.
  EXPECT_EQ(seen, (std::vector<HDB_SECTION*>{chip_a, chip_b, entity}));
  HDB_SUBSECTION_ITERATOR none(entity, 0);
  EXPECT_TRUE(none.at_end());
  EXPECT_EQ(*none, nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(HDB_SUBSECTION_ITERATOR(nullptr, 0), "section");
}
