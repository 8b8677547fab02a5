// Hash containers and their node pool: exact prime growth, moved-from
// tables, iteration, and random operation sequences against std containers.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kavu_ssc_test_support.h"
#include "testkit/platform_testkit.h"
#include "ztl_hash_lite_sys.h"
#include "ztl_hash_set_lite_sys.h"
#include "ztl_hash_sys.h"

namespace {

// A pointer key whose hash is exactly h (pointers hash as address >> 3). Such
// keys are never dereferenced; they let a test place keys in chosen buckets.
const int* key_with_hash(uint32_t h) { return reinterpret_cast<const int*>(static_cast<uintptr_t>(h) << 3); }

}  // namespace

// Pool blocks of mixed sizes are aligned, zeroed and disjoint.
TEST(KavuNodePool, MixedRequestsGiveZeroedDisjointBlocks) {
  ZTL_NODE_POOL pool(512);
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
  std::vector<uint32_t> counts = {t.bucket_count()};
  for (uint32_t i = 0; i < objects.size(); ++i) {
    t[&objects[i]] = i;
    if (t.bucket_count() != counts.back()) counts.push_back(t.bucket_count());
    EXPECT_TRUE((i != 47 || counts.size() == 1) && (i != 48 || counts.size() == 2)) << "grows at entry 49";
  }
  EXPECT_EQ(counts, (std::vector<uint32_t>{61, 97, 149, 223, 337, 509, 769, 1153, 1733, 2609, 3917, 5879, 8819,
                                           13229, 19843, 29789, 44683, 67033, 100549, 150827, 226241, 339373,
                                           509063, 763597, 1145411, 1718131}));
  // Erasing every key and inserting them again reuses the nodes; growth never shrinks.
  for (uint32_t i = 0; i < objects.size(); ++i) ASSERT_TRUE(t.find(&objects[i])->second == i && t.erase(&objects[i]));
  const uint64_t pool_bytes = t.node_pool()->total_chunk_bytes();
  for (uint32_t i = 0; i < objects.size(); ++i) t.insert(&objects[i], i);
  EXPECT_TRUE(t.node_pool()->total_chunk_bytes() == pool_bytes && t.bucket_count() == 1718131u);
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

// Memory refused for a new table's node pool leaves the table without
// storage, and the next insertion makes it whole. The bucket array once
// stayed without a pool, and the next insertion took its node from none.
TEST(KavuHashLite, PoolRefusedAtTheFirstInsertionLeavesATableThatTakesTheNext) {
  ZTL_HASH_LITE<std::string, int> table;
  g_refuse_countdown = 1;  // the bucket array is given, the pool refused
  EXPECT_THROW(table["first"] = 1, std::bad_alloc);
  g_refuse_countdown = -1;
  EXPECT_FALSE(table.has_storage());
  table["second"] = 2;
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table["second"], 2);
}

// Iterators do not follow a table that grows under them: stepping one is an
// internal error.
TEST(KavuHashLite, IteratorsRefuseGrowthMidWalk) {
  ZTL_HASH_LITE<int, int> t;
  for (int i = 0; i < 40; ++i) t[i * 7919] = i;
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

TEST(KavuHash, GrowthThroughTheExactPrimesAndLookupByHash) {
  ZTL_HASH<const int*, uint32_t> t;
  std::vector<uint32_t> counts = {t.bucket_count()};
  for (uint32_t i = 0; i < 200000; ++i) {
    t[key_with_hash(i * 3)] = i;
    if (t.bucket_count() != counts.back()) counts.push_back(t.bucket_count());
  }
  EXPECT_EQ(counts,
            (std::vector<uint32_t>{61, 97, 151, 233, 353, 541, 821, 1237, 1861, 2797, 4201, 6311, 9473, 14221,
                                   21341, 32027, 48049, 72077, 108127, 162209, 243343, 365017}));
  EXPECT_TRUE(t.find_node(key_with_hash(300), 300)->second == 100u && !t.find_node(key_with_hash(301), 301));
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
