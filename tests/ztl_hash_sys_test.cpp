// Tests of the hash containers (ZTL_HASH_LITE, ZTL_HASH_SET_LITE, ZTL_HASH),
// their key operations and the node pool: growth to the exact prime bucket
// counts, chain order of copies, states after move, clear and resize,
// iteration across growth, and random operation sequences against
// std::unordered_map.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "testkit/platform_testkit.h"
#include "ztl_hash_lite_sys.h"
#include "ztl_hash_set_lite_sys.h"
#include "ztl_hash_sys.h"

namespace {

// A pointer key whose hash is exactly h (pointers hash as address >> 3). Such
// keys are never dereferenced; they let a test place keys in chosen buckets.
const int* key_with_hash(uint32_t h) { return reinterpret_cast<const int*>(static_cast<uintptr_t>(h) << 3); }

// Keys of a map in iteration order.
template <class TABLE>
auto keys_in_order(const TABLE& t) {
  std::vector<std::remove_const_t<decltype(t.begin()->first)>> keys;
  for (const auto& e : t) keys.push_back(e.first);
  return keys;
}

// Bucket counts a table passes through while `count` keys are inserted.
template <class TABLE>
std::vector<uint32_t> bucket_counts_while_growing(TABLE& t, uint32_t count, uint32_t key_step) {
  std::vector<uint32_t> counts = {t.bucket_count()};
  for (uint32_t i = 0; i < count; ++i) {
    t[key_with_hash(i * key_step)] = static_cast<int>(i);
    if (t.bucket_count() != counts.back()) counts.push_back(t.bucket_count());
  }
  return counts;
}

}  // namespace

// Pinned: chunks grow four at a time, doubling to the size class of 4096.
TEST(KavuNodePool, ChunksGrowInSizeClassesAndCarveInRoundedSteps) {
  for (auto [first, bytes, expected] :
       {std::tuple{512u, 24u, std::vector<uint64_t>{512, 512, 512, 512, 1024, 1024, 1024, 1024, 2688, 2688, 2688,
                                                    2688, 5376}},
        std::tuple{560u, 56u, std::vector<uint64_t>{640, 640, 640, 640, 1792, 1792, 1792, 1792, 2688, 2688, 2688,
                                                    2688, 5376}}}) {
    ZTL_NODE_POOL pool(first);
    std::vector<uint64_t> sizes;
    for (uint64_t total = 0, n = 0; sizes.size() < expected.size() && n < 5000; ++n, pool.allocate(bytes)) {
      if (pool.total_chunk_bytes() != total) sizes.push_back(pool.total_chunk_bytes() - total);
      total = pool.total_chunk_bytes();
    }
    EXPECT_EQ(sizes, expected) << first;
  }
  EXPECT_EQ(ztl_node_pool_size_class(1025), 1792u);
  EXPECT_EQ(ztl_node_pool_size_class(8129), 8152u);

  ZTL_NODE_POOL pool(512);
  char* first = static_cast<char*>(pool.allocate(21));  // rounded to 24
  for (int i = 1; i < 21; ++i) EXPECT_EQ(static_cast<char*>(pool.allocate(24)), first + 24 * i);
  EXPECT_EQ(pool.chunk_count(), 1u);
  pool.allocate(24);  // the 22nd node does not fit in the 8 bytes left
  EXPECT_EQ(pool.chunk_count(), 2u);
  ZTL_NODE_POOL big(4096);
  big.allocate(5000);
  EXPECT_EQ(big.total_chunk_bytes(), 5000u);  // exactly the request
  big.allocate(24);
  EXPECT_EQ(big.total_chunk_bytes(), 5000u + 5376u);
}

TEST(KavuNodePool, MixedRequestsGiveZeroedDisjointBlocksAndKeepChunksOrdered) {
  ZTL_NODE_POOL pool(256);
  std::mt19937 rng(7);
  std::vector<std::pair<unsigned char*, uint32_t>> blocks;
  for (int i = 0; i < 3000; ++i) {
    const uint32_t n = (rng() % 8 == 0) ? 1 + rng() % 6000 : 1 + rng() % 120;
    auto* p = static_cast<unsigned char*>(pool.allocate(n));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    for (uint32_t b = 0; b < n; ++b) ASSERT_EQ(p[b], 0) << "block " << i;
    std::fill(p, p + n, static_cast<unsigned char>(1 + i % 250));
    blocks.emplace_back(p, n);
  }
  // No later block overwrote an earlier one.
  for (size_t i = 0; i < blocks.size(); ++i)
    for (uint32_t b = 0; b < blocks[i].second; ++b) ASSERT_EQ(blocks[i].first[b], 1 + i % 250) << "block " << i;
  // Behind the head: descending free bytes, nearly full chunks last.
  for (const ZTL_NODE_POOL::CHUNK* c = pool.first_chunk()->m_next; c && c->m_next; c = c->m_next) {
    if (c->m_free > 7) EXPECT_GE(c->m_free, c->m_next->m_free);
    else EXPECT_LE(c->m_next->m_free, 7u);
  }
}

TEST(KavuHashOps, HashValuesOfPointersIntegersAndTexts) {
  EXPECT_EQ(ZTL_OPS<const int*>::hash(key_with_hash(12345)), 12345u);
  EXPECT_EQ(ZTL_OPS<int>::hash(-1), 0xffffffffu);
  EXPECT_EQ(ZTL_OPS<std::string>::hash("ab"), 3323u);
  EXPECT_EQ(ZTL_OPS<std::string>::hash("\xff"), 0xffffffffu);  // bytes are signed
  EXPECT_EQ(ZTL_OPS<std::string>::hash("a\xe9" "b"), 0x18732u);
  // A trailing zero byte makes a different key.
  const std::string ab("ab"), ab0("ab\0", 3);
  ZTL_HASH_LITE<std::string, int> t;
  t[ab] = 1;
  t[ab0] = 2;
  EXPECT_EQ(t.size(), 2u);
  EXPECT_EQ(t[ab], 1);
}

TEST(KavuHashLite, MillionPointerKeysGrowThroughTheExactPrimes) {
  std::vector<uint64_t> objects(1000000);
  ZTL_HASH_LITE<uint64_t*, uint32_t> t;
  std::vector<uint32_t> counts = {t.bucket_count()}, grown_at;
  for (uint32_t i = 0; i < objects.size(); ++i) {
    t[&objects[i]] = i;
    if (t.bucket_count() != counts.back()) {
      counts.push_back(t.bucket_count());
      grown_at.push_back(i + 1);
    }
  }
  EXPECT_EQ(counts, (std::vector<uint32_t>{61, 97, 149, 223, 337, 509, 769, 1153, 1733, 2609, 3917, 5879, 8819,
                                           13229, 19843, 29789, 44683, 67033, 100549, 150827, 226241, 339373,
                                           509063, 763597, 1145411, 1718131}));
  EXPECT_EQ(grown_at[0], 49u);  // the fill limit + 1
  EXPECT_EQ(grown_at.back(), 916329u);
  for (uint32_t i = 0; i < objects.size(); ++i) {
    auto it = t.find(&objects[i]);
    ASSERT_TRUE(it != t.end() && it->second == i) << i;
  }
  // Erase the odd keys, then the even ones; re-insertion reuses the nodes.
  for (uint32_t i = 1; i < objects.size(); i += 2) ASSERT_TRUE(t.erase(&objects[i]));
  for (uint32_t i = 0; i < objects.size(); ++i) ASSERT_EQ(t.exists(&objects[i]), i % 2 == 0);
  for (uint32_t i = 0; i < objects.size(); i += 2) ASSERT_TRUE(t.erase(&objects[i]));
  EXPECT_EQ(t.size(), 0u);
  EXPECT_FALSE(t.erase(&objects[0]));
  const uint64_t pool_bytes = t.node_pool()->total_chunk_bytes();
  for (uint32_t i = 0; i < objects.size(); ++i) t.insert(&objects[i], i);
  EXPECT_EQ(t.node_pool()->total_chunk_bytes(), pool_bytes);
  EXPECT_EQ(t.bucket_count(), 1718131u);  // growth never shrinks
}

TEST(KavuHashLite, CopiesReverseChainsAndCarryTheBucketCount) {
  ZTL_HASH_LITE<const int*, int> t;
  for (uint32_t h : {5u, 66u, 127u, 7u}) t[key_with_hash(h)] = static_cast<int>(h);  // 5, 66, 127 share a bucket
  using KEYS = std::vector<const int*>;
  EXPECT_EQ(keys_in_order(t), (KEYS{key_with_hash(127), key_with_hash(66), key_with_hash(5), key_with_hash(7)}));
  const KEYS reversed = {key_with_hash(5), key_with_hash(66), key_with_hash(127), key_with_hash(7)};
  ZTL_HASH_LITE<const int*, int> copy(t), assigned;
  EXPECT_EQ(keys_in_order(copy), reversed);
  copy[key_with_hash(5)] = 50;
  EXPECT_EQ(t[key_with_hash(5)], 5);  // independent nodes
  assigned[key_with_hash(9)] = 9;
  assigned = t;
  EXPECT_EQ(keys_in_order(assigned), reversed);

  // Empty sources: the copy reports the source's bucket count, an assignment
  // leaves the destination without storage at the initial count.
  ZTL_HASH_LITE<const int*, int> sized;
  sized.resize(97);
  ZTL_HASH_LITE<const int*, int> empty_copy(sized);
  EXPECT_FALSE(empty_copy.has_storage());
  EXPECT_EQ(empty_copy.bucket_count(), 97u);
  for (uint32_t h = 0; h < 60; ++h) assigned[key_with_hash(h)] = 1;
  assigned = sized;
  EXPECT_TRUE(assigned.empty());
  EXPECT_FALSE(assigned.has_storage());
  EXPECT_EQ(assigned.bucket_count(), 61u);
}

TEST(KavuHashLite, MovedFromClearedAndResizedTablesStayUsable) {
  ZTL_HASH_LITE<std::string, std::string> a, b;
  for (int i = 0; i < 100; ++i) a[std::to_string(i)] = "v" + std::to_string(i);
  // Regression: moving a table onto itself destroyed its entries.
  auto& alias = a;
  a = std::move(alias);
  ASSERT_EQ(a.size(), 100u);
  EXPECT_EQ(a["42"], "v42");
  b = std::move(a);
  EXPECT_EQ(b.size(), 100u);
  // Regression: a moved-from table had 0 buckets, so using it divided by zero.
  EXPECT_EQ(a.bucket_count(), 61u);
  a["again"] = "ok";
  EXPECT_EQ(a["again"], "ok");
  b.clear();
  EXPECT_FALSE(b.has_storage());
  EXPECT_EQ(b.bucket_count(), 61u);

  ZTL_HASH_LITE<int, int> unused;
  unused.resize(97);
  unused.clear();  // never held entries: only the count is touched
  EXPECT_EQ(unused.bucket_count(), 97u);
  ZTL_HASH_LITE<int, int> r;
  for (int i = 0; i < 40; ++i) r[i] = -i;
  r.resize(0);  // grows as an insertion would
  EXPECT_EQ(r.bucket_count(), 97u);
  r.resize(7);
  EXPECT_EQ(r.bucket_count(), 7u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(r[i], -i);
}

TEST(KavuHashLite, IterationVisitsEveryEntryOnceAndRefusesGrowthMidWalk) {
  ZTL_HASH_LITE<int, int> t;
  std::vector<int> seen(5000, 0);
  for (int i = 0; i < 5000; ++i) {
    t[i * 7919] = i;
    if (i % 997 == 0 || i == 4999) {  // walk between growths
      std::fill(seen.begin(), seen.end(), 0);
      for (auto& e : t) ++seen[e.second];
      for (int k = 0; k <= i; ++k) ASSERT_EQ(seen[k], 1) << "after " << i << " key " << k;
    }
  }
  auto it = t.begin();
  for (int k = -1, buckets = int(t.bucket_count()); int(t.bucket_count()) == buckets; --k) t[k] = 0;
  EXPECT_KAVU_INTERNAL_ERROR(++it, "m_bucket_cnt == m_hash->bucket_count()");

  ZTL_HASH_SET_LITE<int> s;
  s.insert(1);
  auto sit = s.begin();
  for (int i = 2; i < 100; ++i) s.insert(i);
  EXPECT_KAVU_INTERNAL_ERROR(++sit, "m_bucket_cnt == m_set->bucket_count()");
}

TEST(KavuHashSetLite, InsertReportsAdditionAndCopiesAreIndependent) {
  std::vector<int> objects(300);
  ZTL_HASH_SET_LITE<int*> s;
  for (int& o : objects) EXPECT_TRUE(s.insert(&o).second);
  for (int& o : objects) EXPECT_FALSE(s.insert(&o).second);
  EXPECT_EQ(s.bucket_count(), 509u);
  ZTL_HASH_SET_LITE<int*> copy = s;
  int visited = 0;
  for (int* p : copy) visited += s.exists(p) && *s.find(p) == p;
  EXPECT_EQ(visited, 300);
  EXPECT_TRUE(s.erase(&objects[3]));
  EXPECT_FALSE(s.exists(&objects[3]));
  EXPECT_TRUE(copy.exists(&objects[3]));
  ZTL_HASH_SET_LITE<std::string> names;
  EXPECT_TRUE(names.insert("a|b").second);
  EXPECT_FALSE(names.insert(std::string("a|b")).second);
}

TEST(KavuHash, GrowthDoublyLinkedChainsAndLookupByHash) {
  ZTL_HASH<const int*, int> t;
  EXPECT_EQ(bucket_counts_while_growing(t, 200000, 3),
            (std::vector<uint32_t>{61, 97, 151, 233, 353, 541, 821, 1237, 1861, 2797, 4201, 6311, 9473, 14221,
                                   21341, 32027, 48049, 72077, 108127, 162209, 243343, 365017}));
  auto* n = t.find_node(key_with_hash(300), 300);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->second, 100);
  EXPECT_EQ(t.find_node(key_with_hash(301), 301), nullptr);

  // One chain of five; unlink its middle, tail and head.
  ZTL_HASH<const int*, int> c(11);
  for (uint32_t k = 0; k < 5; ++k) c[key_with_hash(3 + 11 * k)] = static_cast<int>(k);
  for (uint32_t h : {25u, 47u, 3u}) EXPECT_TRUE(c.erase(key_with_hash(h)));
  EXPECT_FALSE(c.erase(key_with_hash(3)));
  EXPECT_EQ(keys_in_order(c), (std::vector<const int*>{key_with_hash(36), key_with_hash(14)}));
  c[key_with_hash(3)] = 9;  // the new head's successor links back to it
  EXPECT_TRUE(c.erase(key_with_hash(36)));
  EXPECT_EQ(keys_in_order(c), (std::vector<const int*>{key_with_hash(3), key_with_hash(14)}));
}

TEST(KavuHash, IteratorResynchronisesAfterGrowth) {
  ZTL_HASH<int, int> t;
  for (int i = 0; i < 40; ++i) t[i * 13] = i;
  auto it = t.begin();
  for (int step = 0; step < 10; ++step) ++it;
  const int current = it->first;
  for (int i = 1000; i < 1100; ++i) t[i] = i;  // grows at least once
  ASSERT_NE(t.bucket_count(), 61u);
  // The step continues from the node's place in the grown table.
  auto fresh = t.begin();
  while (fresh->first != current) ++fresh;
  ++fresh;
  ++it;
  ASSERT_TRUE(fresh != t.end());
  EXPECT_EQ(it->first, fresh->first);
}

// Random operation sequences checked step by step against std::unordered_map.
template <class TABLE>
void run_against_model(uint32_t seed) {
  std::mt19937 rng(seed);
  TABLE t;
  std::unordered_map<int, std::string> model;
  for (int step = 0; step < 20000; ++step) {
    const int key = static_cast<int>(rng() % 700) - 100;
    const uint32_t op = rng() % 100;
    if (op < 40) {
      t[key] = std::to_string(step);
      model[key] = std::to_string(step);
    } else if (op < 55) {
      ASSERT_EQ(t.insert(key, "i").second, model.emplace(key, "i").second);
    } else if (op < 80) {
      ASSERT_EQ(t.erase(key), model.erase(key) == 1);
    } else if (op < 98) {
      auto it = t.find(key);
      auto mit = model.find(key);
      ASSERT_EQ(it == t.end(), mit == model.end());
      if (mit != model.end()) {
        ASSERT_EQ(it->second, mit->second);
      }
    } else if (op < 99) {
      TABLE copy(t);
      t = std::move(copy);
    } else if (rng() % 4 == 0) {
      t.clear();
      model.clear();
    }
    ASSERT_EQ(t.size(), model.size()) << "step " << step;
  }
  std::unordered_map<int, std::string> walked;
  for (const auto& e : t) ASSERT_TRUE(walked.emplace(e.first, e.second).second);
  EXPECT_EQ(walked, model);
}

TEST(KavuHashModel, LiteMapAndHashAgreeWithUnorderedMap) {
  for (uint32_t seed : {1u, 2u, 3u}) run_against_model<ZTL_HASH_LITE<int, std::string>>(seed);
  for (uint32_t seed : {4u, 5u, 6u}) run_against_model<ZTL_HASH<int, std::string>>(seed);
}
