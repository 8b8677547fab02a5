// Tests of the retimer's device query and of the retiming assignment
// vocabulary.
#include <gtest/gtest.h>

#include "cut/cut_dev_svpi.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

TEST(CutDevSvpi, EmulationIsOffUnlessTheKeyTurnsItOn) {
  EXPECT_FALSE(CUT_DEV_SVPI_UTIL::is_sarvel_retimer_fast_forward_emulate_enabled());
  {
    CFG_SCOPE cfg{{"sarvel_retimer_fast_forward_emulate", "on"}};
    EXPECT_TRUE(CUT_DEV_SVPI_UTIL::is_sarvel_retimer_fast_forward_emulate_enabled());
  }
  EXPECT_FALSE(CUT_DEV_SVPI_UTIL::is_sarvel_retimer_fast_forward_emulate_enabled());
}

TEST(CutDevSvpi, RetimingAssignmentsReadAsEnumerations) {
  for (int var : {ACF_SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR, ACF_SARVEL_RETIMER_FAST_FORWARD_EMULATE_ASYNCH_CLEAR}) {
    const char* name = acf_variable_type_to_string(var);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(acf_string_to_variable_type(name), var);
    EXPECT_EQ(acf_variable_kind(var), ACF_KIND_ENUM);
  }
  EXPECT_EQ(acf_string_to_enum_type_enum("preserve"), ACF_ENUM_PRESERVE);
  std::string error;
  ASSERT_TRUE(hdb_load_assignments(
      nullptr, "set_instance_assignment -name SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR PRESERVE -to top|r\n", &error))
      << error;
  HDB_INSTANCE_NAME* r = hdb_default_namespace()->get_rooted_at("top|r");
  ASSERT_NE(r, nullptr);
  const auto* option = HDB_DERIVED_OPTION<ACF_KIND_ENUM, 0>::get_single_option(r, ACF_SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR);
  ASSERT_NE(option, nullptr);
  EXPECT_EQ(option->get_value(), ACF_ENUM_PRESERVE);
}
