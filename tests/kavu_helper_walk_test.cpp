// Partition-tree and atom walks: visiting order on trees and netlists built
// in code, and the ends of both walks.
#include <gtest/gtest.h>

#include <string>

#include "hdb/hdb.h"
#include "kavu_helper_walk.h"
#include "platform_testkit.h"

namespace {

using namespace kavu_platform;

std::string walk(ZHD_PARTITION* start) {
  std::string order;
  for (KAVU_PARTITION_TREE_ITERATOR it(start); it != KAVU_PARTITION_TREE_ITERATOR(); ++it) {
    order += it->get_name() + " ";
  }
  return order;
}

TEST(KavuHelperWalk, PartitionsComeInPreOrder) {
  // Depth 4: r{a{a1{a11, a12}, a2}, b, c{c1{c11}}}.
  ZHD_DESIGN* d = zhd_build("", {{"r", nullptr, -1, 0},  {"a", nullptr, 0, 1},   {"a1", nullptr, 1, 2},
                                 {"a11", nullptr, 2, 3}, {"a12", nullptr, 2, 4}, {"a2", nullptr, 1, 5},
                                 {"b", nullptr, 0, 6},   {"c", nullptr, 0, 7},   {"c1", nullptr, 7, 8},
                                 {"c11", nullptr, 8, 9}});
  EXPECT_EQ(walk(d->get_root_partition()), "r a a1 a11 a12 a2 b c c1 c11 ");
  EXPECT_EQ(walk(d->get_partition_by_name("c")), "c c1 c11 ");

  // A single leaf: the partition, then the end; stepping the end is refused.
  ZHD_DESIGN* leaf = zhd_build("leaf", {{"only", nullptr, -1, 0}});
  KAVU_PARTITION_TREE_ITERATOR it(leaf->get_root_partition());
  EXPECT_EQ(it->get_name(), "only");
  ++it;
  EXPECT_EQ(*it, nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(++it, "past-the-end");
}

CDB_ATOM_NODE* atom(CDB_ATOM_NETLIST& n, CDB_WYSIWYG_TYPE type, HDB_NAMESPACE* ns, const char* name) {
  return n.add_node(new CDB_ATOM_NODE(type, HDB_INSTANCE_NAME::create_normal_name(ns, name, nullptr, nullptr, nullptr)));
}

CDB_ATOM_NODE* box(CDB_ATOM_NETLIST& n, CDB_ATOM_NETLIST* child, HDB_NAMESPACE* ns, const char* name) {
  auto* b = new CDB_ATOM_BLACKBOX(HDB_INSTANCE_NAME::create_normal_name(ns, name, nullptr, nullptr, nullptr));
  b->set_child_netlist(child);
  return n.add_node(b);
}

std::string walk(const CDB_ATOM_NETLIST& n, bool recursive, bool blackbox_list) {
  std::string order;
  for (KAVU_ATOM_ITERATOR it(&n, recursive, blackbox_list); !it.at_end(); it++) {
    order += std::string((*it)->get_instance_name()->get_partial_name()) + " ";
  }
  return order;
}

TEST(KavuHelperWalk, AtomWalkEntersBlackBoxesWithAtoms) {
  HDB_NAMESPACE* ns = hdb_default_namespace();
  CDB_ATOM_NETLIST inner, nested, empty, top;
  atom(nested, 61, ns, "d");
  atom(inner, 61, ns, "c");
  atom(inner, 281, ns, "hidden");
  box(inner, &nested, ns, "bb2");
  atom(top, 61, ns, "a");
  box(top, &inner, ns, "bb1");
  atom(top, 281, ns, "h");
  box(top, &empty, ns, "bb_empty");
  box(top, nullptr, ns, "bb_none");
  atom(top, 62, ns, "e");

  EXPECT_EQ(walk(top, true, false), "a c d h bb_empty bb_none e ");
  EXPECT_EQ(walk(top, false, false), "a bb1 h bb_empty bb_none e ");
  // A fixed netlist walked through its black-box list.
  top.set_modifiable(false);
  EXPECT_EQ(walk(top, true, true), "c d bb_empty bb_none ");
  EXPECT_EQ(walk(top, true, false), "a c d h bb_empty bb_none e ");

  CDB_ATOM_NETLIST lone;
  box(lone, &empty, ns, "lone");
  EXPECT_EQ(walk(lone, true, false), "lone ");
  EXPECT_EQ(walk(empty, true, false), "");
}

}  // namespace
