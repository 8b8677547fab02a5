// Device selection: how the chip's device name, the family's default AUTO
// part, the forcing key and the chip's filters choose the device; resource
// counts; the candidate-list dump against a golden copy; the legality and
// companion queries.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "hdb/hdb_section.h"
#include "kavu_device_select.h"
#include "platform_testkit.h"

namespace {

using namespace kavu_platform;

struct PROJECT {
  CMP_FACADE facade;
  HDB_SECTION* chip;
  PROJECT(int family, const char* device_name) {
    facade.set_family(DEV_FAMILY_ENUM(family));
    facade.set_base_family(DEV_FAMILY_MANAGER::get_base_family(DEV_FAMILY_ENUM(family)));
    chip = hdb_create_chip(nullptr, "chip", device_name);
  }
};

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(KavuDeviceSelect, ChipDeviceNameAndKeysChooseTheDevice) {
  struct CASE {
    const char* what;
    int family;
    const char* chip_device;
    const char* forced;  // kavu_set_device, null: unset
    bool auto_device;
    int devices;
    int selected_part;  // DEV_PART_INVALID: no part selected
    const char* line;   // a debug line the set-up writes, or null
    bool writes_chip;   // the selected part's name is written into the chip
  };
  const CASE cases[] = {
      // The family's default AUTO part stands in for "auto".
      {"auto with default part", 15, "auto", nullptr, false, 1, 15011, nullptr, true},
      // No default part: every installed device of the family is a candidate.
      {"auto without default part", 25, "AUTO", nullptr, true, 3, 0, nullptr, false},
      {"family name", 25, "Quellin", nullptr, true, 3, 0, nullptr, false},
      {"explicit part", 15, "BRA25F672C7", nullptr, false, 1, 15022, nullptr, false},
      {"forced part overrides auto", 45, "AUTO", "HRD24F484C6", false, 1, 45021, "forced device", true},
      // An uninstalled device is not available: no legal family, no error.
      {"part on uninstalled device", 45, "HRD96F896C6", nullptr, false, 0, 0,
       "Error: user selected device \"HRD96F896C6\" is not available", false},
      {"name that is no part", 45, "NOPE", nullptr, false, 0, 0, "Illegal user selected device name", false},
  };
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.what);
    plat_test_reset_all();
    CFG_SCOPE cfg{{"kavu_set_device", c.forced}};
    DEBUG_CAPTURE cap("KAVU");
    PROJECT p(c.family, c.chip_device);
    KAVU_DEVICE device(&p.facade);
    EXPECT_EQ(device.is_auto_device(), c.auto_device);
    EXPECT_EQ(device.get_num_devices(), c.devices);
    EXPECT_EQ(device.get_part(), c.selected_part);
    EXPECT_EQ(device.is_legal_family(), c.devices > 0);
    if (c.selected_part) {
      EXPECT_EQ(device.get_device(), DEV_PART_MANAGER::get_device_of(DEV_PART_ENUM(c.selected_part)));
      EXPECT_EQ(device.get_num_parts_for_current_device(), 1);
    }
    if (c.line) {
      EXPECT_TRUE(cap.contains(c.line));
    }
    if (!c.devices) {
      EXPECT_KAVU_INTERNAL_ERROR(device.get_basic_info(), "is_legal_family");
    }
    // A default AUTO part or a forced part is written into the chip; any
    // other name stays.
    EXPECT_EQ(p.chip->get_device()->get_name(),
              c.writes_chip ? dstr_get_user_string(DEV_PART_ENUM(c.selected_part)) : c.chip_device);
  }
}

TEST(KavuDeviceSelect, AutoListFiltersStepsAndDumps) {
  CFG_SCOPE cfg{{"kavu_device_debug_dump", "on"}};
  PROJECT p(25, "AUTO");
  hdb_add_section_assignment(p.chip, 341, "6");  // speed grade 6 only
  KAVU_DEVICE device(&p.facade);
  ASSERT_EQ(device.get_num_devices(), 3);
  EXPECT_EQ(read_file("kavu_device_list.txt"),
            read_file(std::string(KAVU_TEST_DATA_DIR) + "/device/kavu_device_list_quellin_speed6.txt"));

  EXPECT_FALSE(device.is_legal_device());
  ASSERT_TRUE(device.select_first_auto_device());
  EXPECT_EQ(device.get_device_debug_name(), "QLN30");
  EXPECT_FALSE(device.is_legal_part());
  EXPECT_EQ(device.get_resource_count(DEV_ELEMENT_LUT), 30000);
  EXPECT_TRUE(device.select_next_auto_device());
  EXPECT_EQ(device.get_resource_count(DEV_ELEMENT_RAM_BLOCK), 240);
  EXPECT_TRUE(device.select_next_auto_device());
  EXPECT_FALSE(device.select_next_auto_device());
  EXPECT_FALSE(device.is_legal_device());
  EXPECT_TRUE(device.select_last_auto_device());
  EXPECT_EQ(device.get_device_user_name(), "QLN90");
  EXPECT_EQ(device.get_num_parts_for_current_device(), 2);

  // Filters that match nothing leave an AUTO record without devices.
  plat_test_reset_all();
  PROJECT q(25, "AUTO");
  hdb_add_section_assignment(q.chip, 339, "F9999");
  KAVU_DEVICE empty(&q.facade);
  EXPECT_FALSE(empty.select_first_auto_device());
  EXPECT_FALSE(empty.is_legal_device());
}

TEST(KavuDeviceSelect, ResourceCountPrefersAPositiveFirstDatum) {
  DEV_CATALOGUE c = dev_builtin_catalogue();
  for (DEV_DEVICE_ROW& d : c.devices) {
    if (d.name != "HRD12") continue;
    d.elements = {{DEV_ELEMENT_RAM_BLOCK, 0, true, 7, true},   // datum 1 zero: datum 2
                  {DEV_ELEMENT_MAC_BLOCK, 0, true, 0, false},  // only datum 1
                  {DEV_ELEMENT_PIN, 9, false, 0, false}};      // nothing valid
  }
  dev_install_catalogue(c);
  KAVU_DEVICE device(45011);
  EXPECT_EQ(device.get_resource_count(DEV_ELEMENT_RAM_BLOCK), 7);
  EXPECT_EQ(device.get_resource_count(DEV_ELEMENT_MAC_BLOCK), 0);
  EXPECT_EQ(device.get_resource_count(DEV_ELEMENT_PIN), -1);
  EXPECT_EQ(device.get_resource_count(DEV_ELEMENT_LUT), -1);
  EXPECT_FALSE(device.has_resource(DEV_ELEMENT_LUT));
  EXPECT_EQ(device.get_part_debug_name(), "HRD12F256C6");
}

TEST(KavuDeviceSelect, LegalityAndCompanionQueries) {
  {
    PROJECT p(15, "BRA10F256C6");
    EXPECT_TRUE(kavu_requires_legal_device(&p.facade));
  }
  plat_test_reset_all();
  {
    PROJECT p(45, "NOPE");
    EXPECT_TRUE(kavu_requires_legal_device(&p.facade));
    hdb_set_option(hdb_default_namespace(), 575, "on");
    EXPECT_FALSE(kavu_requires_legal_device(&p.facade));
    p.facade.set_base_family(DEV_FAMILY_ENUM(6));
    EXPECT_KAVU_INTERNAL_ERROR(kavu_requires_legal_device(&p.facade), "Unknown family");
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_device_resources_can_be_used(DEV_FAMILY_ENUM(7)), "Unknown family");
  for (int family : {15, 25, 45, 47}) EXPECT_TRUE(kavu_device_resources_can_be_used(DEV_FAMILY_ENUM(family))) << family;

  struct CASE {
    const char* mode;  // assignment 872, null: absent
    const char* list;  // assignment 667
    int companion;     // 0: none
  };
  const CASE cases[] = {
      {"OFF", "BRA10F256C6", 15011},
      {"OFF", " HRD96F896C6 , BRA10F256C6 ", 15011},  // uninstalled first, blanks trimmed
      {"OFF", "<None>", 0},
      {"OFF", ",NOPE,", 0},
      {"AUTO", "BRA10F256C6", 0},
      {nullptr, "BRA10F256C6", 0},
  };
  for (const CASE& c : cases) {
    plat_test_reset_all();
    PROJECT p(6, "AUTO");
    if (c.mode) hdb_add_section_assignment(p.chip, 872, c.mode);
    hdb_add_section_assignment(p.chip, 667, c.list);
    std::unique_ptr<KAVU_DEVICE> companion(kavu_get_companion_device_for_lumcast(&p.facade));
    EXPECT_EQ(companion ? int(companion->get_part()) : 0, c.companion) << c.list;
  }
}

}  // namespace
