// Unlinking many gates at once: the same result as one delete_node per gate
// (pins, node list, connections, walks), and refused lists leave the
// netlist as it was. Node-information callbacks: set on every gate linked,
// reset on every gate still linked when the callbacks are dropped.
#include <algorithm>
#include <vector>

#include "testkit/platform_testkit.h"

namespace {

std::vector<CDB_SGATE_NODE*> list_of(const CDB_SGATE_NETLIST& nl) {
  std::vector<CDB_SGATE_NODE*> v;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it) v.push_back(*it);
  return v;
}

template <class T>
std::vector<CDB_SGATE_NODE*> as_nodes(const std::vector<T*>& v) {
  return std::vector<CDB_SGATE_NODE*>(v.begin(), v.end());
}

TEST(CdbNetlistBatch, DeleteNodesMatchesOneByOneUnlink) {
  // Two identical netlists; one unlinks gates one by one, the other in one
  // batch; pins of every kind, among others, in a scattered order.
  auto build = [](CDB_SGATE_NETLIST& nl) {
    std::vector<CDB_SGATE_NODE*> ins, outs;
    for (int i = 0; i < 8; ++i) ins.push_back(kavu_platform::make_input_pin(&nl, ("i" + std::to_string(i)).c_str()));
    for (int i = 0; i < 8; ++i) {
      CDB_SGATE_NODE* g = kavu_platform::make_and(&nl, ins[size_t(i)], ins[size_t((i + 1) % 8)]);
      outs.push_back(kavu_platform::make_output_pin(&nl, ("o" + std::to_string(i)).c_str(), g));
    }
    auto* bidir = new CDB_SGATE_IO(nullptr, CDB_IO_BIDIR);
    nl.add_node(bidir);
  };
  CDB_SGATE_NETLIST a, b;
  build(a);
  build(b);
  const std::vector<size_t> pick = {0, 3, 7, 8, 9, 16, 20, 23, 24};  // pins, gates and the bidirectional pin
  std::vector<CDB_SGATE_NODE*> la = list_of(a), lb = list_of(b), gone_a, gone_b;
  for (size_t i : pick) gone_a.push_back(la[i]), gone_b.push_back(lb[i]);
  for (CDB_SGATE_NODE* n : gone_a) a.delete_node(n);
  auto it = b.begin_node_list();  // an open walk sees the batch as removals
  EXPECT_EQ(b.delete_nodes(gone_b), int(pick.size()));
  int seen = 0;
  for (; it != b.end_node_list(); ++it)
    if (*it) ++seen;
  EXPECT_EQ(seen, int(la.size() - pick.size()));

  EXPECT_EQ(a.size(), b.size());
  auto pos = [](const std::vector<CDB_SGATE_NODE*>& all, CDB_SGATE_NODE* n) {
    return std::find(all.begin(), all.end(), n) - all.begin();
  };
  auto positions = [&](const std::vector<CDB_SGATE_NODE*>& all, const std::vector<CDB_SGATE_NODE*>& v) {
    std::vector<long> p;
    for (CDB_SGATE_NODE* n : v) p.push_back(pos(all, n));
    return p;
  };
  EXPECT_EQ(positions(la, list_of(a)), positions(lb, list_of(b)));
  EXPECT_EQ(positions(la, as_nodes(a.get_input_pins())), positions(lb, as_nodes(b.get_input_pins())));
  EXPECT_EQ(positions(la, as_nodes(a.get_output_pins())), positions(lb, as_nodes(b.get_output_pins())));
  EXPECT_TRUE(b.get_bidir_pins().empty());
  EXPECT_TRUE(b.is_dirty());
  for (size_t i = 0; i < gone_b.size(); ++i) {
    EXPECT_EQ(gone_b[i]->get_netlist(), nullptr);
    a.add_node(gone_a[i]);  // unlinked gates can be linked again
    b.add_node(gone_b[i]);
  }
  EXPECT_EQ(positions(la, as_nodes(a.get_input_pins())), positions(lb, as_nodes(b.get_input_pins())));
  EXPECT_TRUE(a.check());
  EXPECT_TRUE(b.check());
  EXPECT_EQ(b.delete_nodes({}), 0);
}

TEST(CdbNetlistBatch, RefusedListsChangeNothing) {
  CDB_SGATE_NETLIST nl, other;
  CDB_SGATE_NODE* p = kavu_platform::make_input_pin(&nl, "p");
  CDB_SGATE_NODE* g = kavu_platform::make_not(&nl, p);
  CDB_SGATE_NODE* stranger = kavu_platform::make_input_pin(&other, "s");
  const struct {
    const char* what;
    std::vector<CDB_SGATE_NODE*> list;
    const char* words;
  } cases[] = {{"listed twice", {p, g, p}, "listed"},
               {"another netlist's gate", {g, stranger}, "m_netlist"},
               {"null", {g, nullptr}, "nullptr"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_KAVU_INTERNAL_ERROR(nl.delete_nodes(c.list), c.words);
    EXPECT_EQ(nl.size(), 2u);
    EXPECT_EQ(nl.get_input_pins().size(), 1u);
    EXPECT_EQ(p->get_netlist(), &nl);
  }
}

std::vector<CDB_SGATE_NODE*> g_info_events;  // set: the gate; reset: null, then the gate
void note_set(CDB_SGATE_NODE* n) { g_info_events.push_back(n); }
void note_reset(CDB_SGATE_NODE* n) {
  g_info_events.push_back(nullptr);
  g_info_events.push_back(n);
}

TEST(CdbNetlistNodeInfo, SetOnLinkResetOnDropAndBeforeDestruction) {
  g_info_events.clear();
  CDB_SGATE_NODE* unlinked = nullptr;
  {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = kavu_platform::make_input_pin(&nl, "a");
    nl.set_info_functions_and_allocate(note_set, note_reset);  // gates already linked
    CDB_SGATE_NODE* g = kavu_platform::make_not(&nl, a);       // and gates linked later
    EXPECT_EQ(g_info_events, (std::vector<CDB_SGATE_NODE*>{a, g}));
    nl.reset_info_functions_and_delete();
    EXPECT_EQ(g_info_events, (std::vector<CDB_SGATE_NODE*>{a, g, nullptr, a, nullptr, g}));
    kavu_platform::make_not(&nl, g);  // dropped: nothing more runs
    EXPECT_EQ(g_info_events.size(), 6u);

    g_info_events.clear();
    nl.set_info_functions_and_allocate(note_set, note_reset);
    nl.set_info_functions_and_allocate(note_set, nullptr);  // a new pair resets with the old one first
    EXPECT_EQ(std::count(g_info_events.begin(), g_info_events.end(), nullptr), 3);
    nl.set_info_functions_and_allocate(nullptr, note_reset);
    g_info_events.clear();
    unlinked = kavu_platform::make_not(&nl, a);
    nl.delete_node(unlinked);  // an unlinked gate is not reset
  }
  // The destructor reset the three linked gates before destroying them.
  EXPECT_EQ(std::count(g_info_events.begin(), g_info_events.end(), nullptr), 3);
  EXPECT_EQ(std::count(g_info_events.begin(), g_info_events.end(), unlinked), 0);
  delete unlinked;
}

}  // namespace
