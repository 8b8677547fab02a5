// Hash containers and their node pool: exact prime growth, chain order of
// copies, moved-from tables, iteration, and sequences against std containers.
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

// Bucket counts a table passes through while `count` pointer keys go in.
template <class TABLE>
std::vector<uint32_t> bucket_counts_while_growing(TABLE& t, uint32_t count) {
  std::vector<uint32_t> counts = {t.bucket_count()};
  for (uint32_t i = 0; i < count; ++i) {
    t[key_with_hash(i * 3)] = i;
    if (t.bucket_count() != counts.back()) counts.push_back(t.bucket_count());
  }
  return counts;
}

}  // namespace

// Pinned: chunks grow four at a time, doubling to the size class of 4096;
// nodes are carved in rounded steps; blocks are zeroed and disjoint.
TEST(KavuNodePool, ChunksGrowInSizeClassesAndGiveZeroedDisjointBlocks) {
  ZTL_NODE_POOL growing(560);
  std::vector<uint64_t> sizes;
  for (uint64_t total = 0, n = 0; sizes.size() < 13 && n < 5000; ++n, growing.allocate(56)) {
    if (growing.total_chunk_bytes() != total) sizes.push_back(growing.total_chunk_bytes() - total);
    total = growing.total_chunk_bytes();
  }
  EXPECT_EQ(sizes, (std::vector<uint64_t>{640, 640, 640, 640, 1792, 1792, 1792, 1792, 2688, 2688, 2688, 2688, 5376}));
  ZTL_NODE_POOL pool(512);
  char* first = static_cast<char*>(pool.allocate(21));  // rounded to 24
  for (int i = 1; i < 21; ++i) EXPECT_EQ(static_cast<char*>(pool.allocate(24)), first + 24 * i);
  pool.allocate(24);  // the 22nd node does not fit in the 8 bytes left
  EXPECT_EQ(pool.chunk_count(), 2u);

  std::mt19937 rng(7);
  std::vector<unsigned char*> blocks;  // blocks of 1..6000 bytes, filled with their number
  for (int i = 0; i < 3000; ++i) {
    const uint32_t n = (rng() % 8 == 0) ? 1 + rng() % 6000 : 1 + rng() % 120;
    auto* p = static_cast<unsigned char*>(pool.allocate(n));
    ASSERT_TRUE(reinterpret_cast<uintptr_t>(p) % 8 == 0 && std::count(p, p + n, 0) == n) << "block " << i;
    std::fill(p, p + n, static_cast<unsigned char>(1 + i % 250));
    blocks.push_back(p);
  }
  for (size_t i = 0; i < blocks.size(); ++i) ASSERT_EQ(blocks[i][0], 1 + i % 250) << "block " << i;  // not overwritten
}

TEST(KavuHashOps, HashValuesOfPointersIntegersAndTexts) {
  EXPECT_EQ(ZTL_OPS<int>::hash(-1), 0xffffffffu);
  EXPECT_EQ(ZTL_OPS<std::string>::hash("ab"), 3323u);
  EXPECT_EQ(ZTL_OPS<std::string>::hash("a\xe9" "b"), 0x18732u);  // bytes are signed
  ZTL_HASH_LITE<std::string, int> t;  // a trailing zero byte makes a different key
  t[std::string("ab")] = 1;
  t[std::string("ab\0", 3)] = 2;
  EXPECT_EQ(t.size(), 2u);
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
  // Erasing every key and inserting them again reuses the nodes; growth never shrinks.
  for (uint32_t i = 0; i < objects.size(); ++i) ASSERT_TRUE(t.find(&objects[i])->second == i && t.erase(&objects[i]));
  const uint64_t pool_bytes = t.node_pool()->total_chunk_bytes();
  for (uint32_t i = 0; i < objects.size(); ++i) t.insert(&objects[i], i);
  EXPECT_TRUE(t.node_pool()->total_chunk_bytes() == pool_bytes && t.bucket_count() == 1718131u);
}

TEST(KavuHashLite, CopiesReverseChains) {
  ZTL_HASH_LITE<const int*, int> t, assigned;
  for (uint32_t h : {5u, 66u, 127u, 7u}) t[key_with_hash(h)] = int(h);  // 5, 66, 127 share a bucket
  using KEYS = std::vector<const int*>;
  EXPECT_EQ(keys_in_order(t), (KEYS{key_with_hash(127), key_with_hash(66), key_with_hash(5), key_with_hash(7)}));
  const KEYS reversed = {key_with_hash(5), key_with_hash(66), key_with_hash(127), key_with_hash(7)};
  EXPECT_EQ(keys_in_order(decltype(t)(t)), reversed);
  assigned[key_with_hash(9)] = 9;
  assigned = t;
  EXPECT_EQ(keys_in_order(assigned), reversed);
}

TEST(KavuHashLite, MovedFromAndClearedTablesStayUsable) {
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
  EXPECT_TRUE(!b.has_storage() && b.bucket_count() == 61u);
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
  for (int& o : objects) EXPECT_TRUE(s.insert(&o).second && !s.insert(&o).second);
  EXPECT_EQ(s.bucket_count(), 509u);
  ZTL_HASH_SET_LITE<int*> copy = s;
  EXPECT_TRUE(s.erase(&objects[3]) && !s.exists(&objects[3]));
  EXPECT_TRUE(copy.exists(&objects[3]) && *copy.find(&objects[3]) == &objects[3]);
}

TEST(KavuHash, GrowthDoublyLinkedChainsAndLookupByHash) {
  ZTL_HASH<const int*, uint32_t> t;
  EXPECT_EQ(bucket_counts_while_growing(t, 200000),
            (std::vector<uint32_t>{61, 97, 151, 233, 353, 541, 821, 1237, 1861, 2797, 4201, 6311, 9473, 14221,
                                   21341, 32027, 48049, 72077, 108127, 162209, 243343, 365017}));
  EXPECT_TRUE(t.find_node(key_with_hash(300), 300)->second == 100u && !t.find_node(key_with_hash(301), 301));
  // One chain of five; unlink its middle, tail and head.
  ZTL_HASH<const int*, int> c(11);
  for (uint32_t k = 0; k < 5; ++k) c[key_with_hash(3 + 11 * k)] = int(k);
  for (uint32_t h : {25u, 47u, 3u}) EXPECT_TRUE(c.erase(key_with_hash(h)));
  EXPECT_FALSE(c.erase(key_with_hash(3)));
  EXPECT_EQ(keys_in_order(c), (std::vector<const int*>{key_with_hash(36), key_with_hash(14)}));
  c[key_with_hash(3)] = 9;  // the new head's successor links back to it
  EXPECT_TRUE(c.erase(key_with_hash(36)));
  EXPECT_EQ(keys_in_order(c), (std::vector<const int*>{key_with_hash(3), key_with_hash(14)}));
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
      ASSERT_TRUE(mit == model.end() || it->second == mit->second) << "step " << step;
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
