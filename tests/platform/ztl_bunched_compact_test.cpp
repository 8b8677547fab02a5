// In-place compaction of the bunched list: order, reported slots, dropped
// entries, the look-ahead calls and the bunches left, for holes and drops
// placed around bunch boundaries.
#include <algorithm>
#include <vector>

#include "testkit/platform_testkit.h"
#include "ztl_bunched_list_sys.h"

namespace {

typedef ZTL_BUNCHED_LIST<int*, 100> LIST;

int g_cells[1000];

TEST(ZtlBunchedList, CompactInPlaceKeepsOrderReportsSlotsAndFreesBunches) {
  const struct {
    const char* name;
    int size;
    bool (*erased)(int);
    bool (*dropped)(int);
  } cases[] = {
      {"no holes", 250, [](int) { return false; }, [](int) { return false; }},
      {"a run over a boundary and a whole bunch", 250, [](int i) { return i >= 90 && i < 200; },
       [](int) { return false; }},
      {"every other", 301, [](int i) { return i % 2 == 1; }, [](int) { return false; }},
      {"holes and drops, exactly one bunch left", 300, [](int i) { return i >= 150; },
       [](int i) { return i >= 100 && i < 150; }},
      {"drops only", 120, [](int) { return false; }, [](int i) { return i % 3 == 0; }},
      {"everything dropped", 130, [](int i) { return i < 30; }, [](int) { return true; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LIST l;
    std::vector<int**> old_slot;
    std::vector<int> expect;
    for (int i = 0; i < c.size; ++i) old_slot.push_back(l.append(&g_cells[i]));
    int first_erased = c.size;
    for (int i = 0; i < c.size; ++i) {
      if (c.erased(i)) l.erase(old_slot[size_t(i)]), first_erased = std::min(first_erased, i);
      else if (!c.dropped(i)) expect.push_back(i);
    }
    const uint32_t epoch = l.get_epoch();
    std::vector<int> ahead_order, visit_order;
    std::vector<int**> kept_slots;
    bool dropped_one = false, ahead_before_visit = true;
    l.compact_in_place(
        [&](int* p, int** slot, bool moved) {
          const int i = int(p - g_cells);
          ahead_before_visit = ahead_before_visit && ahead_order.size() > visit_order.size();
          visit_order.push_back(i);
          EXPECT_EQ(moved, slot != old_slot[size_t(i)]) << i;
          EXPECT_EQ(moved, dropped_one || first_erased < i) << i;  // nothing moves before the first hole
          if (c.dropped(i)) {
            dropped_one = true;
            return false;
          }
          kept_slots.push_back(slot);
          return true;
        },
        [&](int* p, bool) { ahead_order.push_back(int(p - g_cells)); });
    EXPECT_NE(l.get_epoch(), epoch);
    EXPECT_TRUE(ahead_before_visit);
    EXPECT_EQ(ahead_order, visit_order);
    std::vector<int> walked;
    for (auto it = l.begin(); it != l.end(); ++it)
      if (*it) walked.push_back(int(*it - g_cells));
    EXPECT_EQ(walked, expect);
    EXPECT_EQ(l.size(), expect.size());
    for (size_t k = 0; k < kept_slots.size(); ++k) EXPECT_EQ(*kept_slots[k], &g_cells[expect[k]]);
    size_t bunches = 0;
    for (const LIST::BUNCH* b = l.first_bunch(); b; b = b->m_next) ++bunches;
    EXPECT_EQ(bunches, (expect.size() + 99) / 100);
    if (!expect.empty()) {
      EXPECT_EQ(l.last_bunch()->m_used, uint32_t((expect.size() - 1) % 100 + 1));
    }
    int** added = l.append(&g_cells[999]);  // appends and erases work on the result
    if (!kept_slots.empty()) l.erase(kept_slots.front());
    l.erase(added);
    EXPECT_EQ(l.size(), expect.empty() ? 0u : expect.size() - 1);
  }
}

}  // namespace
