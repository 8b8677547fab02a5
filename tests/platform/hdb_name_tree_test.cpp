// Tests of the name-tree additions used by gate naming: fresh names for a
// base itself (empty extension), bus groups and representative names.
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "hdb/hdb.h"
#include "testkit/platform_testkit.h"

namespace {

HDB_INSTANCE_NAME* top() {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
}

TEST(HdbNameTree, NumberedNamesAreFreshNamesForTheBase) {
  HDB_INSTANCE_NAME* a = HDB_INSTANCE_NAME::create_normal_name(nullptr, "a", nullptr, nullptr, top());
  // A user's synthesized child "2" is skipped, not reused.
  HDB_INSTANCE_NAME* taken = HDB_INSTANCE_NAME::create_child(a, "2", {}, 0, true);
  std::set<HDB_INSTANCE_NAME*> seen{taken};
  std::set<std::string> paths;
  for (int i = 0; i < 5; ++i) {
    HDB_INSTANCE_NAME* n = HDB_INSTANCE_NAME::create_numbered_synthesized_name(a);
    EXPECT_TRUE(n->is_synthesized());
    EXPECT_TRUE(seen.insert(n).second);
    paths.insert(n->get_short_hpath());
  }
  EXPECT_EQ(paths, (std::set<std::string>{"top|a~1", "top|a~3", "top|a~4", "top|a~5", "top|a~6"}));
  EXPECT_KAVU_INTERNAL_ERROR(HDB_INSTANCE_NAME::create_numbered_synthesized_name(nullptr), "base");
}

TEST(HdbNameTree, GroupElementsAndRepresentatives) {
  HDB_NAMESPACE* ns = kavu_platform::hdb_default_namespace();
  HDB_INSTANCE_NAME* u1 = HDB_INSTANCE_NAME::create_normal_name(nullptr, "u1", nullptr, nullptr, top());
  HDB_INSTANCE_NAME* q3 = ns->create_group_instance_name(u1, "q", 3);
  EXPECT_EQ(q3->get_short_hpath(), "top|u1|q[3]");
  ASSERT_NE(q3->get_group(), nullptr);
  EXPECT_EQ(q3->get_group()->get_short_hpath(), "top|u1|q");
  EXPECT_EQ(q3->get_index_in_group(), 3);
  EXPECT_EQ(ns->create_group_instance_name(u1, "q", 3), q3);
  EXPECT_EQ(ns->create_group_instance_name(u1, "q", 4)->get_group(), q3->get_group());
  EXPECT_KAVU_INTERNAL_ERROR(ns->create_group_instance_name(u1, "q", -1), "index");
  HDB_NAMESPACE other("elsewhere");
  EXPECT_KAVU_INTERNAL_ERROR(other.create_group_instance_name(u1, "q", 1), "get_namespace");

  EXPECT_EQ(u1->get_representative_name(), nullptr);
  u1->set_representative_name(q3);
  EXPECT_EQ(u1->get_representative_name(), q3);
  EXPECT_KAVU_INTERNAL_ERROR(u1->set_representative_name(u1), "rep != this");
}

}  // namespace
