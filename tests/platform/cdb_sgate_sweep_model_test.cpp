// The dead-logic sweep and the compacting collection beside a plain model
// (live = keepers and whatever they read, backwards, inside the netlist) on
// random netlists whose node lists are in order, reversed or shuffled, with
// loops, sources and readers in another netlist, kept registers of gates and
// gates marked for deletion.
#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "testkit/platform_testkit.h"

namespace {

using namespace kavu_platform;

std::vector<CDB_SGATE_NODE*> list_of(const CDB_SGATE_NETLIST& nl) {
  std::vector<CDB_SGATE_NODE*> v;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it) v.push_back(*it);
  return v;
}

TEST(CdbSgateSweepModel, SweepAndCollectionMatchReachability) {
  enum ORDER { MADE, REVERSED, SHUFFLED };
  const struct {
    const char* name;
    int gates;
    ORDER order;
    bool loops;
  } cases[] = {{"in order", 3000, MADE, false},      {"reversed", 3000, REVERSED, false},
               {"shuffled", 3000, SHUFFLED, false},  {"shuffled with loops", 3000, SHUFFLED, true},
               {"small, with loops", 40, SHUFFLED, true}};
  for (const auto& c : cases) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      SCOPED_TRACE(std::string(c.name) + ", seed " + std::to_string(seed));
      std::mt19937 rng(seed);
      auto pick = [&](size_t n) { return size_t(rng() % n); };
      CDB_SGATE_NETLIST nl, other;
      CDB_SGATE_NODE* foreign = make_input_pin(&other, "f");
      std::vector<CDB_SGATE_NODE*> gates;
      for (int i = 0; i < 4; ++i) gates.push_back(make_input_pin(&nl, ("i" + std::to_string(i)).c_str()));
      std::vector<CDB_SGATE_NODE*> made;
      for (int i = 0; i < c.gates; ++i) made.push_back(new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR));
      std::vector<CDB_SGATE_NODE*> order = made;
      if (c.order == REVERSED) std::reverse(order.begin(), order.end());
      if (c.order == SHUFFLED) std::shuffle(order.begin(), order.end(), rng);
      for (CDB_SGATE_NODE* g : order) nl.add_node(g);
      for (size_t i = 0; i < made.size(); ++i) {  // sources: pins, earlier gates, or any gate with loops
        for (int k = 1 + int(pick(3)); k-- > 0;) {
          CDB_SGATE_NODE* src = pick(60) == 0 ? foreign
                                : pick(5) == 0 || (!c.loops && i == 0) ? gates[pick(4)]
                                                                      : made[pick(c.loops ? made.size() : i)];
          made[i]->insert_unordered_fanin(src->get_single_oterm());
        }
        if (pick(30) == 0) made[i]->set_kff(false, true, false);
      }
      for (int o = 0; o < c.gates / 12 + 1; ++o) make_output_pin(&nl, ("o" + std::to_string(o)).c_str(), made[pick(made.size())]);
      std::vector<CDB_SGATE_ITERM*> outside_readers;
      for (int r = 0; r < c.gates / 20 + 1; ++r)
      {
        CDB_SGATE_NODE* reader = make_not(&other, made[pick(made.size())]);
        reader->set_kff(false, true, false);  // kept where it is
        outside_readers.push_back(reader->get_input_term(0));
      }
      // The model: keepers, then everything a live gate reads inside the netlist.
      std::set<CDB_SGATE_NODE*> live;
      std::vector<CDB_SGATE_NODE*> todo;
      for (CDB_SGATE_NODE* g : list_of(nl))
        if (g->is_pin() || g->kff_in_force()) live.insert(g), todo.push_back(g);
      while (!todo.empty()) {
        CDB_SGATE_NODE* g = todo.back();
        todo.pop_back();
        for (CDB_SGATE_ITERM* t : g->get_input_terms())
          if (t && t->get_source() && t->get_source()->get_my_node()->get_netlist() == &nl &&
              live.insert(t->get_source()->get_my_node()).second)
            todo.push_back(t->get_source()->get_my_node());
      }
      const std::vector<CDB_SGATE_NODE*> before = list_of(nl);
      std::vector<CDB_SGATE_NODE*> survivors;
      bool reads_foreign = false;
      for (CDB_SGATE_NODE* g : before) {
        if (live.count(g)) survivors.push_back(g);
        else
          for (CDB_SGATE_ITERM* t : g->get_input_terms())
            reads_foreign = reads_foreign || (t->get_source() && t->get_source()->get_my_node() == foreign);
      }
      other.sweep(false);
      std::vector<CDB_SGATE_OTERM*> read_from;
      for (CDB_SGATE_ITERM* t : outside_readers) read_from.push_back(t->get_source());

      const int dead = nl.sweep(false);
      EXPECT_EQ(size_t(dead), before.size() - survivors.size());
      EXPECT_EQ(nl.get_graveyard_size(), size_t(dead));
      EXPECT_EQ(list_of(nl), survivors);
      for (CDB_SGATE_NODE* g : made)
        if (!live.count(g)) {
          ASSERT_EQ(g->get_netlist(), nullptr);
          for (CDB_SGATE_ITERM* t : g->get_input_terms()) EXPECT_TRUE(!t->is_connected() && !t->get_source());
        }
      for (size_t r = 0; r < outside_readers.size(); ++r)  // readers elsewhere keep their sources
        EXPECT_EQ(outside_readers[r]->get_source(), read_from[r]);
      EXPECT_FALSE(nl.is_dirty());
      EXPECT_EQ(other.is_dirty(), reads_foreign);
      std::string why;
      EXPECT_TRUE(nl.check(&why)) << why;

      std::vector<CDB_SGATE_NODE*> kept;
      int marked = 0;
      for (size_t k = 0; k < survivors.size(); ++k)
        if (!survivors[k]->is_pin() && k % 7 == 3) survivors[k]->mark_for_deletion(), ++marked;
        else kept.push_back(survivors[k]);
      EXPECT_EQ(nl.garbage_collect(true, false), dead + marked);
      EXPECT_EQ(nl.get_graveyard_size(), 0u);
      EXPECT_EQ(list_of(nl), kept);
      EXPECT_TRUE(nl.check(&why)) << why;  // every survivor's recorded slot holds it
      for (CDB_SGATE_ITERM* t : outside_readers) {
        const CDB_SGATE_NODE* src = t->get_source() ? t->get_source()->get_my_node() : nullptr;
        EXPECT_EQ(t->is_connected(), std::find(kept.begin(), kept.end(), src) != kept.end());
      }
      EXPECT_TRUE(other.check(&why)) << why;
    }
  }
}

}  // namespace
