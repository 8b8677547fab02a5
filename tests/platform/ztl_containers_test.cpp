// The compact pointer vector's documented bytes and the bunched list's walks
// across bunches, emptied slots, appends and compaction.
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

// The documented bytes the library reads directly: inline when bit 0 of
// byte 0 is set (size << 1 | 1, entries from the second word), else begin,
// end and capacity pointers; growth doubles; resize fills nulls.
TEST(ZtlCompactPtrVector, LayoutInlineHeapSwitchAndResize) {
  static_assert(sizeof(VEC) == 32);
  VEC v;
  for (int* p : {cell(1), static_cast<int*>(nullptr), cell(3)}) v.push_back(p);
  ASSERT_TRUE(v.is_inline());
  EXPECT_EQ((std::vector<uint64_t>{word(v, 0) & 0xff, word(v, 1), word(v, 2)}),
            (std::vector<uint64_t>{0x07, reinterpret_cast<uint64_t>(cell(1)), 0}));
  EXPECT_EQ(v.begin(), reinterpret_cast<int**>(reinterpret_cast<char*>(&v) + 8));
  for (int i = 3; i < 40; ++i) v.push_back(cell(i));
  for (int k = 3; k < 40; ++k) ASSERT_EQ(v[k], cell(k));
  // On the heap: begin (bit 0 clear), end and capacity; 3 inline, then 6, 12, 24, 48.
  EXPECT_TRUE(!v.is_inline() && (word(v, 0) & 1u) == 0 && word(v, 1) - word(v, 0) == 40u * 8 && v.capacity() == 48u);
  v.erase(1);
  v.resize(45);
  EXPECT_TRUE(v[0] == cell(1) && v[1] == cell(3) && v[38] == cell(39) && v[39] == nullptr && v[44] == nullptr);
  v.resize(0);  // heap with begin == end
  EXPECT_TRUE(!v.is_inline() && v.begin() == v.end());
  v.resize(1);
  EXPECT_EQ(v[0], nullptr);  // a reused heap slot is null again, not stale
  v[0] = cell(7);
  v.shrink_to_fit();
  EXPECT_TRUE(v.is_inline() && v.size() == 1 && v[0] == cell(7));
}

// A reservation past the inline capacity takes exactly what it asks (a gate
// of four inputs keeps four slots, not six); growth from there doubles, and
// entries survive every move.
TEST(ZtlCompactPtrVector, ReserveTakesExactlyWhatItAsks) {
  const std::pair<size_t, size_t> rows[] = {{2, 3}, {3, 3}, {4, 4}, {5, 5}, {9, 9}};
  for (auto [asked, capacity] : rows) {
    VEC v;
    v.reserve(asked);
    EXPECT_EQ(v.capacity(), capacity) << asked;
    for (size_t i = 0; i <= asked; ++i) v.push_back(cell(int(i)));
    EXPECT_EQ(v.capacity(), asked < 3 ? 3u : asked == 3 ? 6u : 2 * asked) << asked;
    for (size_t i = 0; i <= asked; ++i) ASSERT_EQ(v[i], cell(int(i))) << asked;
    VEC copy(v);
    EXPECT_TRUE(copy.size() == v.size() && copy.capacity() == std::max<size_t>(v.size(), 3)) << asked;
  }
}

// Walks skip emptied runs across bunch boundaries and whole emptied
// bunches, read null at a slot emptied under them, visit appends and end at
// the last slot of a full bunch; rebuild reorders, reports the new slots and
// bumps the epoch.
TEST(ZtlBunchedList, WalksAcrossBunchesEmptiedSlotsAppendsAndRebuild) {
  static_assert(offsetof(LIST::BUNCH, m_slots) == 16);
  LIST l;
  std::vector<int**> slots;
  for (int i = 0; i < 250; ++i) slots.push_back(l.append(cell(i)));
  for (int i = 90; i < 200; ++i) l.erase(slots[i]);  // a run across a boundary, and a whole bunch
  std::vector<int> seen = walk(l);
  EXPECT_TRUE(seen.size() == 140u && seen[89] == 89 && seen[90] == 200 && l.size() == 140u);
  int visited = 0, appended = 0;
  for (ITER it = l.begin(); it != l.end(); ++it) {
    if (!*it) continue;
    ++visited;
    l.erase(it.get_slot());
    EXPECT_EQ(*it, nullptr);  // emptied after the iterator got there
    if (appended < 50) l.append(cell(500 + appended++));  // fills the last bunch to its last slot
  }
  EXPECT_TRUE(visited == 190 && l.size() == 0u);
  const uint32_t epoch = l.get_epoch();
  std::vector<int*> order = {cell(5), cell(3), cell(1)};
  std::vector<int**> reported;
  l.rebuild(order.data(), order.size(), [&](int* p, int** slot) {
    EXPECT_EQ(*slot, p);
    reported.push_back(slot);
  });
  EXPECT_TRUE(l.get_epoch() != epoch && walk(l) == (std::vector<int>{5, 3, 1}));
  l.erase(reported[0]);  // the reported slots are the live ones
  EXPECT_EQ(walk(l), (std::vector<int>{3, 1}));
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
