// Tests of the assignment variables of parallel synthesis in the vocabulary.
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "testkit/platform_testkit.h"

using kavu_platform::hdb_load_assignments;

TEST(HdbAcfParallel, VariablesLoadByNameAndReadAsBooleans) {
  const struct {
    int code;
    const char* name;
  } rows[] = {{ACF_PARALLEL_SYNTHESIS, "PARALLEL_SYNTHESIS"}, {ACF_FRACTAL_SYNTHESIS, "FRACTAL_SYNTHESIS"}};
  for (const auto& row : rows) {
    EXPECT_STREQ(acf_variable_type_to_string(row.code), row.name);
    EXPECT_EQ(acf_string_to_variable_type(row.name), row.code);
    EXPECT_EQ(acf_variable_kind(row.code), ACF_KIND_BOOL);
  }
  std::string error;
  ASSERT_TRUE(hdb_load_assignments(nullptr,
                                   "set_global_assignment -name PARALLEL_SYNTHESIS ON\n"
                                   "set_instance_assignment -name FRACTAL_SYNTHESIS ON -to top|u\n",
                                   &error))
      << error;
  HDB_SECTION* def = HDB_SECTION::find_section(ACF_SECTION_DEFAULT, "");
  ASSERT_NE(def, nullptr);
  auto* global = def->get_single_option<ACF_KIND_BOOL>(ACF_PARALLEL_SYNTHESIS);
  ASSERT_NE(global, nullptr);
  EXPECT_TRUE(global->get_value());
  HDB_INSTANCE_NAME* u = kavu_platform::hdb_default_namespace()->get_rooted_at("top|u");
  ASSERT_NE(u, nullptr);
  auto* fractal = HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(u, ACF_FRACTAL_SYNTHESIS);
  ASSERT_NE(fractal, nullptr);
  EXPECT_TRUE(fractal->get_value());
}
