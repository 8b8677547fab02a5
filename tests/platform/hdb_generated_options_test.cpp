// hdb_generated_options_test.cpp — every option of a variable in a
// namespace, on names and global, as the timing-driven code asks for them.
#include "hdb/hdb.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(HdbGeneratedOptions, EveryOptionOfTheVariableInOrder) {
  HDB_NAMESPACE ns("top");
  HDB_INSTANCE_NAME* top = ns.get_root();
  HDB_INSTANCE_NAME* a = HDB_INSTANCE_NAME::create_normal_name(&ns, "a", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* b = HDB_INSTANCE_NAME::create_normal_name(&ns, "b", nullptr, nullptr, top);
  std::vector<HDB_DERIVED_OPTION<1, 0>*> list{nullptr};
  EXPECT_EQ(ns.get_all_generated_options(528, &list, false), 0);
  EXPECT_TRUE(list.empty());
  hdb_set_option(b, 528, "on");
  hdb_set_option(a, 528, "off");
  hdb_set_option(a, 528, "on");
  hdb_set_option(&ns, 528, "off");
  hdb_set_option(a, 560, "on");  // another variable
  ASSERT_EQ(ns.get_all_generated_options(528, &list, false), 4);
  // Global first, then by name id (a before b), each name's in the order set.
  std::vector<std::pair<HDB_INSTANCE_NAME*, bool>> got;
  for (auto* o : list) got.push_back({o->cast_source_to_iname(), o->get_value()});
  const std::vector<std::pair<HDB_INSTANCE_NAME*, bool>> expected{{nullptr, false}, {a, false}, {a, true}, {b, true}};
  EXPECT_EQ(got, expected);
  EXPECT_KAVU_INTERNAL_ERROR(ns.get_all_generated_options(528, nullptr, false), "list != nullptr");
}
