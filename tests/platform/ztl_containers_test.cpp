// Tests of the compact pointer vector and the bunched list: the fixed byte
// layout the library reads directly, the inline/heap switch, and iteration
// across emptied slots, bunch boundaries, appends and compaction.
#include <cstring>
#include <vector>

#include "testkit/platform_testkit.h"
#include "ztl_bunched_list_sys.h"
#include "ztl_compact_ptr_vector_sys.h"

namespace {

typedef ZTL_COMPACT_PTR_VECTOR<int*> VEC;
typedef ZTL_BUNCHED_LIST<int*, 100> LIST;
typedef ZTL_BUNCHED_LIST_ITERATOR<int*, 100> ITER;

int g_cells[1000];
int* cell(int i) { return &g_cells[i]; }

std::vector<int> walk(const LIST& l) {
  std::vector<int> out;
  for (ITER it = l.begin(); it != l.end(); ++it)
    if (*it) out.push_back(int(*it - g_cells));
  return out;
}

uint64_t word(const VEC& v, int i) {
  uint64_t w;
  std::memcpy(&w, reinterpret_cast<const char*>(&v) + 8 * i, 8);
  return w;
}

TEST(ZtlCompactPtrVector, InlineLayoutIsTheDocumentedBytes) {
  static_assert(sizeof(VEC) == 32);
  VEC v;
  for (int* p : {cell(1), static_cast<int*>(nullptr), cell(3)}) v.push_back(p);
  ASSERT_TRUE(v.is_inline());
  EXPECT_EQ(word(v, 0) & 0xff, 0x07u);  // (3 << 1) | 1
  EXPECT_EQ(word(v, 1), reinterpret_cast<uint64_t>(cell(1)));  // the first element in the second word
  EXPECT_EQ(word(v, 2), 0u);
  EXPECT_EQ(v.begin(), reinterpret_cast<int**>(reinterpret_cast<char*>(&v) + 8));
  EXPECT_EQ(&v[2], v.begin() + 2);
}

TEST(ZtlCompactPtrVector, GrowsToHeapKeepingEntriesErasesAndShrinksBack) {
  VEC v;
  for (int i = 0; i < 40; ++i) {
    v.push_back(cell(i));
    for (int k = 0; k <= i; ++k) ASSERT_EQ(v[k], cell(k)) << "after " << i << " appends";
  }
  EXPECT_FALSE(v.is_inline());
  EXPECT_EQ(word(v, 0) & 1u, 0u);  // heap begin pointer: bit 0 clear
  EXPECT_EQ(word(v, 1) - word(v, 0), 40u * 8);
  EXPECT_EQ(v.capacity(), 48u);  // 3 inline, then 6, 12, 24, 48: doubling
  v.erase(1);
  ASSERT_EQ(v.size(), 39u);
  EXPECT_EQ(v[1], cell(2));
  v.resize(2);
  v.shrink_to_fit();
  EXPECT_TRUE(v.is_inline());
  EXPECT_EQ(v[1], cell(2));
}

TEST(ZtlCompactPtrVector, ResizeFillsNullsAndEmptyHeapHasSizeZero) {
  VEC v;
  v.resize(5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(v[i], nullptr);
  v[4] = cell(4);
  v.resize(9);
  EXPECT_EQ(v[4], cell(4));
  EXPECT_EQ(v[8], nullptr);
  v.resize(0);  // heap with begin == end
  EXPECT_FALSE(v.is_inline());
  EXPECT_EQ(v.begin(), v.end());
  v.resize(1);
  EXPECT_EQ(v[0], nullptr);  // a reused heap slot is null again, not stale
}

TEST(ZtlBunchedList, WalksAcrossBunchesAndSkipsEmptiedRuns) {
  static_assert(offsetof(LIST::BUNCH, m_slots) == 16);
  LIST l;
  std::vector<int**> slots;
  for (int i = 0; i < 250; ++i) slots.push_back(l.append(cell(i)));
  // Empty the end of bunch 0 and the start of bunch 1: one run across the boundary.
  for (int i = 90; i < 130; ++i) l.erase(slots[i]);
  std::vector<int> seen = walk(l);
  ASSERT_EQ(seen.size(), 210u);
  EXPECT_EQ(seen[89], 89);
  EXPECT_EQ(seen[90], 130);
  EXPECT_EQ(l.size(), 210u);
  for (int i = 130; i < 250; ++i) l.erase(slots[i]);  // a whole bunch emptied, and the tail
  seen = walk(l);
  EXPECT_EQ(seen.size(), 90u);
  EXPECT_EQ(seen.back(), 89);

  LIST full;  // a walk ends at the last slot of a full bunch
  for (int i = 0; i < 100; ++i) full.append(cell(i));
  ITER it = full.begin();
  for (int i = 0; i < 99; ++i) ++it;
  EXPECT_EQ(*it++, cell(99));
  EXPECT_TRUE(it == full.end());
  EXPECT_TRUE(LIST().begin() == LIST().end());
}

TEST(ZtlBunchedList, CurrentSlotEmptiedReadsNullAndAppendsAreVisited) {
  LIST l;
  for (int i = 0; i < 99; ++i) l.append(cell(i));
  std::vector<int> seen;
  int appended = 0;
  for (ITER it = l.begin(); it != l.end(); ++it) {
    if (!*it) continue;
    int v = int(*it - g_cells);
    seen.push_back(v);
    if (v < 99) {
      l.erase(it.get_slot());
      EXPECT_EQ(*it, nullptr);  // the slot was emptied after the iterator got there
    }
    if (appended < 5) l.append(cell(500 + appended++));  // crosses into a new bunch
  }
  ASSERT_EQ(seen.size(), 104u);
  EXPECT_EQ(seen[98], 98);
  EXPECT_EQ(seen[99], 500);
  EXPECT_EQ(seen[103], 504);
  EXPECT_EQ(l.size(), 5u);
}

TEST(ZtlBunchedList, RebuildReordersReportsSlotsAndBumpsEpoch) {
  LIST l;
  for (int i = 0; i < 150; ++i) l.append(cell(i));
  uint32_t epoch = l.get_epoch();
  std::vector<int*> order;
  for (int i = 149; i >= 0; i -= 2) order.push_back(cell(i));
  std::vector<int**> reported;
  l.rebuild(order.data(), order.size(), [&](int* p, int** slot) {
    EXPECT_EQ(*slot, p);
    reported.push_back(slot);
  });
  EXPECT_NE(l.get_epoch(), epoch);
  EXPECT_EQ(l.size(), 75u);
  EXPECT_EQ(reported.size(), 75u);
  std::vector<int> seen = walk(l);
  EXPECT_EQ(seen.front(), 149);
  EXPECT_EQ(seen.back(), 1);
  l.erase(reported[0]);  // the reported slots are the live ones
  EXPECT_EQ(walk(l).front(), 147);
}

#if ZTL_BUNCHED_LIST_CHECK_EPOCH
TEST(ZtlBunchedList, IteratorOpenAcrossCompactionIsAnInternalError) {
  LIST l;
  for (int i = 0; i < 10; ++i) l.append(cell(i));
  ITER it = l.begin();
  std::vector<int*> order = {cell(3)};
  l.rebuild(order.data(), order.size(), [](int*, int**) {});
  EXPECT_KAVU_INTERNAL_ERROR(++it, "m_epoch");
}
#endif

}  // namespace
