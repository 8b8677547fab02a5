// Tests of the partition tree and the minimal atom netlist.
#include <gtest/gtest.h>

#include "cdb/cdb_atom.h"
#include "hdb/hdb.h"
#include "platform_testkit.h"
#include "zhd/zhd.h"

using namespace kavu_platform;

TEST(ZhdTree, PartitionsHoldNamesBelowThemAndWalkInTreeOrder) {
  auto name = [](const char* text, HDB_INSTANCE_NAME* parent) {
    return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, parent);
  };
  HDB_INSTANCE_NAME* top = name("top", nullptr);
  HDB_INSTANCE_NAME* a = name("a", top);
  HDB_INSTANCE_NAME* a1 = name("a1", a);
  HDB_INSTANCE_NAME* b = name("b", top);
  ZHD_DESIGN* d = zhd_build("", {{"root", top, -1, 0}, {"pa", a, 0, 1}, {"pa1", a1, 1, 2}, {"pb", b, 0, 3}});
  EXPECT_EQ(ZHD_ROOT::get().get_design(""), d);
  EXPECT_EQ(ZHD_ROOT::get().get_design("other"), nullptr);
  EXPECT_EQ(d->get_partition_of(name("x", a1))->get_id(), 2);
  EXPECT_EQ(d->get_partition_of(b)->get_id(), 3);
  EXPECT_EQ(d->get_partition_of(nullptr)->get_id(), 0);
  EXPECT_EQ(d->get_partition_by_name("pa1")->get_instance_name(), a1);
  std::vector<int> ids;
  for (ZHD_PARTITION* p : d->partitions_in_tree_order()) ids.push_back(p->get_id());
  EXPECT_EQ(ids, (std::vector<int>{0, 1, 2, 3}));
  ZHD_PARTITION* root = d->get_root_partition();
  EXPECT_TRUE(root->is_top() && !root->is_leaf());
  std::string children;
  for (ZHD_SIBLING_ITER<ZHD_PARTITION> it = root->begin_child(); it != ZHD_SIBLING_ITER<ZHD_PARTITION>(); ++it)
    children += it->get_name() + " ";
  EXPECT_EQ(children, "pa pb ");
  EXPECT_TRUE(!root->get_db_record().state.has_value() && root->get_db_record(ZHD_PARTITION_STATE(4)).state == 4);
  EXPECT_KAVU_INTERNAL_ERROR(d->add_partition(root, "dup", nullptr, 2), "get_id() != id");
  EXPECT_KAVU_INTERNAL_ERROR(zhd_build("bad", {{"r", top, -1, 0}, {"c", a, 5, 1}}), "parent");
  zhd_reset();
  EXPECT_FALSE(ZHD_ROOT::get().has_design());
}

TEST(CdbAtomNetlist, OwnsAtomsAndListsBlackBoxes) {
  CDB_ATOM_NETLIST child, nl;
  CDB_ATOM_NODE* cell = nl.add_node(new CDB_ATOM_NODE(61, nullptr));
  auto* box = new CDB_ATOM_BLACKBOX(nullptr);
  nl.add_node(box);
  box->set_child_netlist(&child);
  CDB_ATOM_OTERM* o = cell->add_output_term(DB_PORT_COMBOUT);
  EXPECT_TRUE(o->get_my_node() == cell && cell->get_output_term(0) == o && cell->get_output_term(1) == nullptr);
  ASSERT_TRUE(nl.size() == 2u && nl.end_blackboxes() - nl.begin_blackboxes() == 1);
  EXPECT_EQ(*nl.begin_blackboxes(), box);
  EXPECT_TRUE(cdb_get_atom_type(box) == CDB_ATOM_TYPE_BLACKBOX && cdb_get_atom_basic_type(cell) == 61);
  EXPECT_KAVU_INTERNAL_ERROR(child.add_node(cell), "m_netlist == nullptr");
}
