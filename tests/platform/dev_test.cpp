// The device catalogue (families, parts, AUTO filters, basic information)
// and the chip and assignment additions of the section registry.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cmp/cmp.h"
#include "dev/dev.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "testkit/platform_testkit.h"

namespace {

TEST(DevCatalogue, BaseFamiliesCompanionsAndNames) {
  struct ROW {
    int family, base, companion;
    const char *user, *debug;
  };
  const ROW rows[] = {{15, 15, 0, "Brae", "BRAE"},         {47, 47, 0, "Brae II", "BRAE_II"},
                      {6, 0, 34, "Family6", "FAMILY6"},    {61, 0, 35, "Family61", "FAMILY61"},
                      {54, 45, 0, "Family54", "FAMILY54"}};
  for (const ROW& r : rows) {
    const DEV_FAMILY_ENUM f = DEV_FAMILY_ENUM(r.family);
    EXPECT_EQ(DEV_FAMILY_MANAGER::get_base_family(f), r.base) << r.family;
    EXPECT_EQ(DEV_FAMILY_MANAGER::get_lumcast_companion_of(f), r.companion) << r.family;
    EXPECT_EQ(DEV_FAMILY_MANAGER::has_new_ddb_support(f), r.base != 0) << r.family;
    EXPECT_EQ(dstr_get_user_string(f) + "/" + dstr_get_debug_string(f), std::string(r.user) + "/" + r.debug);
    EXPECT_EQ(dstr_get_dev_family_enum_by_string(r.debug), r.family);
  }
  EXPECT_TRUE(DEV_FAMILY_MANAGER::test_trait_of(DEV_FAMILY_ENUM(47), 135));
  EXPECT_FALSE(DEV_FAMILY_MANAGER::test_trait_of(DEV_FAMILY_ENUM(25), 135) || dstr_is_valid_family(DEV_FAMILY_ENUM(40)));
  EXPECT_EQ(DEV_FAMILY_MANAGER::get_base_family(DEV_FAMILY_ENUM(40)), DEV_FAMILY_NONE);
  EXPECT_TRUE(dstr_exists_dev_family_enum_by_string("brae ii") && !dstr_exists_dev_family_enum_by_string(nullptr));
}

TEST(DevCatalogue, PartsNameTheirDeviceAndFamilyAndFilterForAutoSelection) {
  const DEV_PART_ENUM part = dstr_get_dev_part_enum_by_string("hrd24f484c6");
  ASSERT_NE(part, DEV_PART_INVALID);
  EXPECT_EQ(dstr_get_user_string(part) + " " + DEV_PART_MANAGER::get_package_of(part), "HRD24F484C6 F484");
  EXPECT_EQ(DEV_PART_MANAGER::get_device_of(part), dstr_get_dev_device_enum_by_string("HRD24"));
  EXPECT_EQ((std::vector<int>{DEV_PART_MANAGER::get_family_of(part), DEV_PART_MANAGER::get_pin_count_of(part),
                              DEV_PART_MANAGER::get_speed_grade_of(part)}),
            (std::vector<int>{45, 484, 6}));
  EXPECT_FALSE(DEV_PART_MANAGER::exists_part_enum_by_string("HRD24"));
  EXPECT_EQ(DEV_PART_MANAGER::get_device_of(DEV_PART_ENUM(12345)), DEV_DEVICE_INVALID);
  for (int family : {15, 45, 47})  // default AUTO parts belong to their family; family 25 has none
    EXPECT_EQ(DEV_PART_MANAGER::get_family_of(DEV_FAMILY_MANAGER::get_auto_default_part_of(DEV_FAMILY_ENUM(family))),
              family);
  EXPECT_EQ(DEV_FAMILY_MANAGER::get_auto_default_part_of(DEV_FAMILY_ENUM(25)), DEV_PART_INVALID);

  const DEV_DEVICE_ENUM hrd96 = dstr_get_dev_device_enum_by_string("HRD96");
  const DEV_DEVICE_ENUM hrd48 = dstr_get_dev_device_enum_by_string("HRD48");
  const DEV_PART_ENUM hrd48_part = dstr_get_dev_part_enum_by_string("HRD48F672C6");
  EXPECT_TRUE(DEV_PART_MANAGER::device_is_installed(hrd48, hrd48_part));
  EXPECT_FALSE(DEV_PART_MANAGER::device_is_installed(hrd96, DEV_PART_INVALID) ||
               DEV_PART_MANAGER::device_is_installed(hrd96, hrd48_part));  // not installed; part of another device
  // family, package, pin count, speed grade, installed only: the parts found.
  struct FILTER {
    const char *family, *package, *pins, *speed;
    bool installed;
    size_t found;
    std::string first;
  };
  for (const FILTER& f : {FILTER{"Harrowdale", "Any", "Any", "Any", true, 6, "HRD12F256C6"},  // HRD96 not installed
                          {"Harrowdale", "Any", "Any", "Any", false, 8, "HRD12F256C6"},
                          {"HARROWDALE", "f484", "Any", "7", true, 1, "HRD12F484C7"},
                          {"Brae", "Any", "484", "", true, 3, "BRA10F484C6"},
                          {"No family", "Any", "Any", "Any", true, 0, ""}}) {
    std::vector<DEV_PART_ENUM> parts;
    DEV_PART_MANAGER::filter_part_list(&parts, f.family, f.package, f.pins, f.speed, f.installed, true);
    EXPECT_EQ(parts.size(), f.found) << f.family << " " << f.package << " " << f.pins << " " << f.speed;
    EXPECT_EQ(parts.empty() ? "" : dstr_get_user_string(parts[0]), f.first) << f.family;
  }
}

TEST(DevCatalogue, BasicInformationFollowsItsPosition) {
  std::unique_ptr<DEV_BASIC_INFO> info(DMGR_UTILITY::create_basic_info(DEV_FAMILY_ENUM(45), DEV_DEVICE_NONE));
  ASSERT_TRUE(info && info->get_element_by_enum(DEV_ELEMENT_LUT) == nullptr);  // the "none" device
  DMGR_UTILITY::initialize_basic_info_to(info.get(), dstr_get_dev_device_enum_by_string("HRD12"));
  const DEV_ELEMENT_DESC *luts = info->get_element_by_enum(DEV_ELEMENT_LUT),
                         *rams = info->get_element_by_enum(DEV_ELEMENT_RAM_BLOCK);
  ASSERT_TRUE(luts && rams);
  EXPECT_TRUE(luts->get_int_data(1) == 12000 && !luts->is_int_data_valid(2));
  EXPECT_EQ(rams->get_int_data(1), 0);  // HRD12 has no RAM blocks
  EXPECT_KAVU_INTERNAL_ERROR(rams->get_int_data(3), "which");
  const DEV_PART_ENUM part = dstr_get_dev_part_enum_by_string("HRD48F896C7");
  DMGR_UTILITY::initialize_basic_info_to(info.get(), DEV_DEVICE_NONE, part);
  EXPECT_EQ(info->get_device(), dstr_get_dev_device_enum_by_string("HRD48"));
  EXPECT_EQ(info->get_element_by_enum(DEV_ELEMENT_RAM_BLOCK)->get_int_data(2), 96);
  // A device of another family is refused; so is an unknown family.
  EXPECT_KAVU_INTERNAL_ERROR(
      DMGR_UTILITY::initialize_basic_info_to(info.get(), dstr_get_dev_device_enum_by_string("BRA10")), "family");
  EXPECT_EQ(DMGR_UTILITY::create_basic_info(DEV_FAMILY_ENUM(40), DEV_DEVICE_NONE), nullptr);
}

TEST(HdbSectionAssignments, ChipsSectionAssignmentsAndCreatedOptions) {
  HDB_SECTION* b = kavu_platform::hdb_create_chip(nullptr, "b_chip", "HRD12F256C6");
  HDB_SECTION* a = kavu_platform::hdb_create_chip(nullptr, "a_chip", "AUTO");
  EXPECT_EQ(HDB_SECTION::get_chip(), a);  // the first chip by name
  EXPECT_STREQ(b->get_device()->get_name(), "HRD12F256C6");
  a->get_device()->set_name("BRA10F256C6");
  EXPECT_STREQ(HDB_SECTION::get_chip()->get_device()->get_name(), "BRA10F256C6");
  HDB_NAMESPACE other("other_top");
  EXPECT_EQ(HDB_SECTION::get_chip(&other), nullptr);  // a chip of another namespace is not its chip
  kavu_platform::hdb_add_section_assignment(a, ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST, "X");
  kavu_platform::hdb_add_section_assignment(a, ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST, "Y");
  EXPECT_STREQ(a->find_assignment(ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST)->get_value_str(), "Y");  // the last
  EXPECT_EQ(b->find_assignment(ACF_DEVICE_TECHNOLOGY_MIGRATION_LIST), nullptr);
  // Section assignments have no target and so no option.
  EXPECT_EQ(kavu_platform::hdb_add_section_assignment(a, ACF_VERILOG_MACRO, "A=1")->create_option(), nullptr);

  HDB_SOURCE_COMPONENT* unit = kavu_platform::hdb_default_namespace()->get_source_components()->get_primitive(88);
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", unit, nullptr, nullptr);
  HDB_INSTANCE_NAME* reg = HDB_INSTANCE_NAME::create_child(top, "reg");
  const HDB_CREATE_ASGN_INFO info(ACF_SECTION_ENTITY, ACF_FORCE_SYNCH_CLEAR, "top|reg", reg, "on");
  EXPECT_EQ(HDB_ASSIGNMENT::create(nullptr, info), nullptr);  // no source component
  HDB_ASSIGNMENT* asgn = HDB_ASSIGNMENT::create(unit, info);
  ASSERT_TRUE(asgn && asgn->create_option());  // an option of the variable's kind
  EXPECT_TRUE((HDB_DERIVED_OPTION<1, 0>::get_single_option(reg, ACF_FORCE_SYNCH_CLEAR)->get_value()));
  EXPECT_KAVU_INTERNAL_ERROR(asgn->set_flag(HDB_ASSIGNMENT::FLAG_ENUM(32)), "flag");
}

}  // namespace
