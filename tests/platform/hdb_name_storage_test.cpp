// hdb_name_storage_test.cpp — what the compact name records must still give
// back: names by id whatever order namespaces make them in, child lists in
// creation order before and after the first request, source components past
// the component table, side records and namespaces of deep names.
#include <memory>
#include <string>
#include <vector>

#include "hdb/hdb.h"
#include "hdb/hdb_types.h"
#include "testkit/platform_testkit.h"

namespace {

HDB_INSTANCE_NAME* child(HDB_INSTANCE_NAME* parent, const std::string& text, bool synthesized = false) {
  return HDB_INSTANCE_NAME::create_child(parent, text.c_str(), {}, 0, synthesized);
}

}  // namespace

// Ids find their names whether a namespace makes them in one run, two
// namespaces make them in turn, or the caller gives them; the names of a
// destroyed namespace are gone by id and the other's stay.
TEST(HdbNameStorage, IdsFindTheirNamesWhateverTheOrderOfMaking) {
  enum PATTERN { ONE_RUN, IN_TURN, GIVEN_IDS };
  for (PATTERN pattern : {ONE_RUN, IN_TURN, GIVEN_IDS}) {
    SCOPED_TRACE(pattern);
    auto a = std::make_unique<HDB_NAMESPACE>("a");
    HDB_NAMESPACE b("b");
    std::vector<HDB_INSTANCE_NAME*> of_a, of_b;
    // Given ids count down from far above: each is free, and the ids made
    // after the first one start above it.
    int given = b.get_root()->get_id() + 1000000;
    for (int i = 0; i < 5000; ++i) {
      const std::string text = "n" + std::to_string(i);
      if (pattern == GIVEN_IDS && i % 3 == 0) {
        given -= 1 + i % 7;  // gaps and neighbours
        of_a.push_back(HDB_INSTANCE_NAME::create_child(a->get_root(), text.c_str(), {}, given));
        EXPECT_EQ(of_a.back()->get_id(), given);
      } else {
        of_a.push_back(child(a->get_root(), text));
      }
      if (pattern == IN_TURN || i % 1000 == 0) of_b.push_back(child(b.get_root(), text));
    }
    for (const auto* names : {&of_a, &of_b})
      for (HDB_INSTANCE_NAME* n : *names) ASSERT_EQ(HDB_NAME_MGR::get_instance_name(n->get_id()), n) << n->get_id();
    EXPECT_EQ(a->get_instance_name(of_b[0]->get_id()), nullptr);
    EXPECT_EQ(b.get_instance_name(of_b[0]->get_id()), of_b[0]);
    std::vector<int> ids_of_a;
    for (HDB_INSTANCE_NAME* n : of_a) ids_of_a.push_back(n->get_id());
    a.reset();
    for (int id : ids_of_a) ASSERT_EQ(HDB_NAME_MGR::get_instance_name(id), nullptr) << id;
    for (HDB_INSTANCE_NAME* n : of_b) ASSERT_EQ(HDB_NAME_MGR::get_instance_name(n->get_id()), n) << n->get_id();
    // New names after the destruction take new ids and are found.
    HDB_INSTANCE_NAME* late = child(b.get_root(), "late");
    EXPECT_GT(late->get_id(), ids_of_a.back());
    EXPECT_EQ(HDB_NAME_MGR::get_instance_name(late->get_id()), late);
  }
}

// Child lists come in creation order per parent whether the children were
// made before the first request (the lists are made then) or after it.
TEST(HdbNameStorage, ChildListsKeepCreationOrderBeforeAndAfterTheFirstRequest) {
  HDB_NAMESPACE ns("top");
  HDB_INSTANCE_NAME* top = ns.get_root();
  HDB_INSTANCE_NAME* p = child(top, "p");
  HDB_INSTANCE_NAME* q = child(top, "q");
  HDB_INSTANCE_NAME::reserve_children(p, 100);
  std::vector<HDB_INSTANCE_NAME*> of_top{p, q}, of_p, of_q;
  for (int i = 0; i < 300; ++i) {
    (i % 2 ? of_p : of_q).push_back(child(i % 2 ? p : q, std::to_string(i), i % 3 == 0));
    if (i % 50 == 0) of_top.push_back(child(top, "t" + std::to_string(i)));
  }
  HDB_INSTANCE_NAME* leaf = of_p.back();
  EXPECT_TRUE(leaf->get_children().empty());
  EXPECT_EQ(q->get_children(), of_q);
  EXPECT_EQ(p->get_children(), of_p);
  EXPECT_EQ(top->get_children(), of_top);
  // After the first request: more children, a reservation, a new parent.
  HDB_INSTANCE_NAME::reserve_children(q, 50);
  for (int i = 300; i < 400; ++i) (i % 2 ? of_p : of_q).push_back(child(i % 2 ? p : q, std::to_string(i)));
  std::vector<HDB_INSTANCE_NAME*> of_leaf{child(leaf, "x"), child(leaf, "y", true)};
  of_top.push_back(child(top, "after"));
  const std::vector<std::pair<HDB_INSTANCE_NAME*, std::vector<HDB_INSTANCE_NAME*>*>> lists = {
      {top, &of_top}, {p, &of_p}, {q, &of_q}, {leaf, &of_leaf}};
  for (const auto& [parent, expected] : lists) EXPECT_EQ(parent->get_children(), *expected) << parent->get_short_hpath();
  // A namespace asked before it has any child keeps lists from the start.
  HDB_NAMESPACE early("early");
  EXPECT_TRUE(early.get_root()->get_children().empty());
  HDB_INSTANCE_NAME* first = child(early.get_root(), "first");
  EXPECT_EQ(early.get_root()->get_children(), std::vector<HDB_INSTANCE_NAME*>{first});
}

// Every name keeps its source component, also past the 65,535 components a
// namespace's table holds, and children inherit their parent's; groups,
// representatives and types stay on their own names in either namespace, and
// a deep name finds its namespace and path.
TEST(HdbNameStorage, ComponentsSideRecordsAndNamespacesStayWithTheirNames) {
  HDB_NAMESPACE ns("top");
  std::vector<std::unique_ptr<HDB_SOURCE_COMPONENT>> components;
  std::vector<HDB_INSTANCE_NAME*> names;
  const int count = 65540;
  for (int i = 0; i < count; ++i) {
    components.push_back(std::make_unique<HDB_SOURCE_COMPONENT>(i, "c" + std::to_string(i)));
    names.push_back(HDB_INSTANCE_NAME::create_normal_name(nullptr, ("u" + std::to_string(i)).c_str(),
                                                          components.back().get(), nullptr, ns.get_root()));
  }
  for (int i : {0, 1, 65533, 65534, 65535, count - 1}) {
    EXPECT_EQ(names[size_t(i)]->get_source_component(), components[size_t(i)].get()) << i;
    EXPECT_EQ(child(names[size_t(i)], "leaf")->get_source_component(), components[size_t(i)].get()) << i;
    EXPECT_EQ(names[size_t(i)]->get_group(), nullptr) << i;
  }
  EXPECT_EQ(ns.get_root()->get_source_component(), nullptr);

  HDB_NAMESPACE other("other");
  HDB_INSTANCE_NAME* deep = other.get_root();
  for (int d = 0; d < 300; ++d) deep = child(deep, "s", d % 2 == 1);
  EXPECT_EQ(deep->get_namespace(), &other);
  EXPECT_EQ(deep->get_short_hpath(0).size(), std::string("other").size() + 300 * 2);
  HDB_INSTANCE_NAME* bit = other.create_group_instance_name(deep, "bus", 2);
  bit->set_representative_name(deep);
  const HDB_TYPE* type = other.create_type_db()->create_array_type(0, 3, false);
  deep->set_type(type);
  names[7]->set_representative_name(names[8]);
  struct ROW {
    HDB_INSTANCE_NAME* name;
    HDB_NAMESPACE* space;
    const char* group;  // path below the top, or null
    int index;
    HDB_INSTANCE_NAME* representative;
    const HDB_TYPE* type;
  } rows[] = {
      {bit, &other, "bus", 2, deep, nullptr},
      {deep, &other, nullptr, -1, nullptr, type},
      {names[7], &ns, nullptr, -1, names[8], nullptr},
      {names[8], &ns, nullptr, -1, nullptr, nullptr},
  };
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.name->get_short_hpath());
    EXPECT_EQ(r.name->get_namespace(), r.space);
    EXPECT_EQ(r.group ? std::string(r.group) : "", r.name->get_group() ? r.name->get_group()->get_partial_name() : "");
    EXPECT_EQ(r.name->get_index_in_group(), r.index);
    EXPECT_EQ(r.name->get_representative_name(), r.representative);
    EXPECT_EQ(r.name->get_type(), r.type);
  }
}
