// Tests of the compiler facade and the assignment sections.
#include <gtest/gtest.h>

#include <algorithm>

#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(CmpFacade, TechniquesInheritFromAncestorsAndTheHolderIsReset) {
  CMP_FACADE facade;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* u1 = HDB_INSTANCE_NAME::create_normal_name(nullptr, "u1", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* leaf = HDB_INSTANCE_NAME::create_normal_name(nullptr, "r", nullptr, nullptr, u1);
  facade.set_optimization_technique(u1, CMP_OPTIMIZATION_SPEED);
  EXPECT_EQ(facade.get_optimization_technique(leaf), CMP_OPTIMIZATION_SPEED);
  EXPECT_EQ(facade.get_optimization_technique(top), CMP_OPTIMIZATION_BALANCED);
  facade.set_optimization_technique(nullptr, CMP_OPTIMIZATION_AREA);
  EXPECT_EQ(facade.get_optimization_technique(nullptr), CMP_OPTIMIZATION_AREA);
  facade.set_enum_code("SPEED", 54);
  EXPECT_TRUE(facade.get_enum_code("SPEED") == 54 && facade.get_enum_code("NO_SUCH_CODE") == -1);
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  plat_test_reset_all();
  EXPECT_EQ(ZCU_FACADE_UTIL::get_instance()->get_facade(), nullptr);
}

TEST(HdbSection, DefaultSectionReadsGlobalOptionsOfItsNamespace) {
  HDB_SECTION* def = HDB_SECTION::find_section(HDB_SECTION_TYPE_DEFAULT, "");
  ASSERT_TRUE(def && HDB_SECTION::find_section(HDB_SECTION_TYPE_DEFAULT, nullptr) == def);
  std::string error;
  ASSERT_TRUE(hdb_load_assignments(nullptr, "set_global_assignment -name REG_MERGE_ACROSS_HIERARCHIES OFF\n", &error));
  auto* option = def->get_single_option<ACF_KIND_ENUM>(ACF_REG_MERGE_ACROSS_HIERARCHIES);
  EXPECT_TRUE(option && option->get_value() == ACF_ENUM_OFF);
  // Another namespace has its own default section; named sections carry no options.
  HDB_NAMESPACE other("other");
  HDB_SECTION* other_def = HDB_SECTION::find_section(HDB_SECTION_TYPE_DEFAULT, "", &other);
  ASSERT_TRUE(other_def && other_def != def);
  EXPECT_EQ(other_def->get_single_option<ACF_KIND_ENUM>(ACF_REG_MERGE_ACROSS_HIERARCHIES), nullptr);
  HDB_SECTION* named = hdb_create_section(nullptr, 7, "entity");
  EXPECT_EQ(HDB_SECTION::find_section(7, "entity"), named);
  EXPECT_EQ(named->get_single_option<ACF_KIND_ENUM>(ACF_REG_MERGE_ACROSS_HIERARCHIES), nullptr);
  hdb_section_reset();
  EXPECT_EQ(HDB_SECTION::find_section(7, "entity"), nullptr);
}

TEST(CmpSubthreadArgs, HelpersGetDirectoriesAndEveryKeySetFromCode) {
  kavu_platform::CFG_SCOPE cfg{{"helper_fault", "exit3"}, {"odd key", "a = b c"}, {"rapid_recompile_supported", "on"}};
  const std::vector<std::string>* args = zexe_get_args_required_by_subthread();
  ASSERT_NE(args, nullptr);
  ASSERT_GE(args->size(), 6u);
  EXPECT_EQ((*args)[0], "--db_dir=" + gen_get_db_dir_path());
  EXPECT_EQ((*args)[1].rfind("--pipe_dir=/", 0), 0u);
  auto has = [&](const std::string& a) { return std::find(args->begin(), args->end(), a) != args->end(); };
  EXPECT_TRUE(has("--ini_set=helper_fault=exit3"));
  EXPECT_TRUE(has("--ini_set=odd key=a = b c"));  // one argument, blanks and all
  EXPECT_TRUE(has("--naming_mode=1"));
  EXPECT_EQ(args->back(), "--fib_db=1");
  CFG_SCOPE no_db{{"llis_always_write_db", "off"}};
  EXPECT_EQ(zexe_get_args_required_by_subthread()->back(), "--fib_db=0");
  // Keys unset from code leave the list.
  kavu_platform::cfg_set_value("helper_fault", nullptr);
  args = zexe_get_args_required_by_subthread();
  EXPECT_FALSE(std::find(args->begin(), args->end(), "--ini_set=helper_fault=exit3") != args->end());
}
