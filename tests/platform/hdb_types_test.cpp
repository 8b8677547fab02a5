// Tests of the platform additions for register banks: array types of a
// namespace's type database, array names declared to the elaboration
// information, and the RAM block type of RAM gates.

#include "basex/basex.h"
#include "hdb/hdb.h"
#include "hdb/hdb_types.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(HdbTypes, ArrayTypesOnNames) {
  HDB_NAMESPACE ns("top");
  EXPECT_EQ(ns.get_type_db(), nullptr);
  HDB_TYPE_DB* db = ns.create_type_db();
  EXPECT_EQ(ns.create_type_db(), db);
  struct ROW {
    int left, right, inside, outside;
  } const rows[] = {{0, 3, 3, 4}, {7, 0, 0, -1}, {2, 2, 2, 1}};
  for (const ROW& r : rows) {
    const HDB_ARRAY_TYPE* t = db->create_array_type(r.left, r.right, false);
    EXPECT_TRUE(t->contains(r.inside) && !t->contains(r.outside)) << &r - rows;
    EXPECT_EQ(t->cast_to_array_type(), t);
  }
  EXPECT_EQ(db->size(), 3u);
  HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_child(ns.get_root(), "bank");
  EXPECT_EQ(name->get_type(), nullptr);
  const HDB_ARRAY_TYPE* t = db->create_array_type(0, 1, true);
  name->set_type(t);
  EXPECT_EQ(name->get_type(), t);
  name->set_type(nullptr);
  EXPECT_EQ(name->get_type(), nullptr);
  // A type of another namespace is refused.
  HDB_NAMESPACE other("other");
  EXPECT_KAVU_INTERNAL_ERROR(name->set_type(other.create_type_db()->create_array_type(0, 1, false)), "m_namespace");
}

TEST(HdbTypes, ElaborationArraysAndRamBlockTypes) {
  BASEX_ELABORATE_INFO info;
  EXPECT_EQ(info.get_array_ranges("a"), nullptr);
  info.declare_array_name("a", 1, {{0, 3}});
  info.declare_array_name("a", 1, {{0, 7}});
  ASSERT_TRUE(info.get_array_ranges("a"));
  EXPECT_EQ(info.get_array_ranges("a")->front(), std::make_pair(0, 7));
  EXPECT_KAVU_INTERNAL_ERROR(info.declare_array_name("b", 1, {}), "ranges.empty()");
  CDB_SGATE_SYNCHRONOUS_RAM ram(nullptr);
  EXPECT_EQ(ram.get_ram_block_type(), 0);
  ram.set_ram_block_type(-3);
  CDB_SGATE_NODE* copy = nullptr;
  ram.clone_node(nullptr, &copy, 0);
  EXPECT_EQ(copy->cast_to_synchronous_ram()->get_ram_block_type(), -3);
  delete copy;
}
