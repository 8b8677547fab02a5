// ztl_hash_lite_sys.h — ZTL_HASH_LITE<K, V, OPS>, the light chained hash map,
// and ZTL_LITE_TABLE, the table machinery it shares with ZTL_HASH_SET_LITE.
//
// Model: a prime number of buckets (ztl_hash_lite_get_next_prime(60) = 61 at
//   first); bucket = OPS::hash(key) % bucket count, one 32-bit modulo. Chains
//   are singly linked and new nodes go to the head of their chain. When an
//   insertion takes the entry count above the fill limit (4/5 of the buckets,
//   rounded down) the table grows to ztl_hash_lite_50_percent_increase_size
//   buckets: the old buckets are walked from index 0, each chain from its head,
//   and every node is relinked at the head of its new bucket. Nodes never move
//   in memory, so references to keys and values stay valid across growth.
// Storage: a new or cleared table owns nothing; the first insertion makes the
//   bucket array and the node pool together. Nodes are carved from the pool
//   (ZTL_NODE_POOL); erased nodes go to a free list that insertion uses first;
//   clear and the destructor drop the pool whole.
// Iteration: buckets in ascending order, each chain from its head. A table
//   must not grow while it is walked: stepping an iterator whose table changed
//   its bucket count is an internal error. Erasing the iterator's own entry
//   invalidates it; order depends on the key hashes, so never let output a
//   user sees follow the order of a pointer-keyed table.
// Copies: a copy walks the source in iteration order and puts each entry at
//   the head of its bucket, so chains come out in reverse order. A moved-from
//   table is empty, without storage and with the initial bucket count, and can
//   be used again.
// Cost: find, insert and erase O(1) expected; growth O(n) amortised over n/2
//   insertions; clear O(n) for keys or values with destructors, else O(1).
// Not safe for concurrent use.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "ztl/ztl_support.h"
#include "ztl_node_pool_sys.h"
#include "ztl_ops_sys.h"

// Bucket count of every new or cleared light table.
inline uint32_t ztl_lite_initial_bucket_count() {
  static const uint32_t count = ztl_hash_lite_get_next_prime(60);
  return count;
}

// Fill limit of a light table: 4/5 of the bucket count, rounded down. Computed
// in 64 bits: 4 * count overflows 32 bits from about 537 million buckets.
inline uint32_t ztl_lite_fill_limit(uint32_t bucket_count) {
  return static_cast<uint32_t>(static_cast<uint64_t>(bucket_count) * 4 / 5);
}

// Buckets, fill limit, free list and pool shared by the light map and set.
// NODE is an aggregate whose last member is `NODE* m_next` and which offers
// `const K& key() const`; FIRST_CHUNK is the pool's first chunk size.
template <class K, class NODE, class OPS, uint32_t FIRST_CHUNK>
class ZTL_LITE_TABLE {
  static_assert(alignof(NODE) <= 8, "pool blocks are only 8-aligned");

 public:
  uint32_t size() const { return m_entry_count; }
  bool empty() const { return m_entry_count == 0; }
  uint32_t bucket_count() const { return m_bucket_count; }
  uint32_t fill_limit() const { return m_fill_limit; }
  // True once the bucket array and the pool exist (after the first insertion).
  bool has_storage() const { return m_buckets != nullptr; }
  // The node pool, for statistics; null without storage.
  const ZTL_NODE_POOL* node_pool() const { return m_pool; }

  bool exists(const K& key) const {
    uint32_t bucket = 0;
    return find_node(key, bucket) != nullptr;
  }

  // Removes the key's entry; its node goes to the free list. False when the
  // key is absent.
  bool erase(const K& key) {
    if (m_entry_count == 0) return false;
    NODE** link = &m_buckets[OPS::hash(key) % m_bucket_count];
    for (NODE* n = *link; n; link = &n->m_next, n = n->m_next) {
      if (OPS::equal(n->key(), key)) {
        *link = n->m_next;
        release_node(n);
        --m_entry_count;
        return true;
      }
    }
    return false;
  }

  // Drops every entry, the pool and the bucket array; the table returns to
  // the initial bucket count. A table without storage keeps its bucket count.
  void clear() {
    destroy_nodes();
    m_entry_count = 0;
    if (m_buckets) {
      delete[] m_buckets;
      m_buckets = nullptr;
      m_bucket_count = ztl_lite_initial_bucket_count();
      m_fill_limit = ztl_lite_fill_limit(m_bucket_count);
    }
  }

  // Sets the bucket count to `count` (0: grow as an insertion would) and
  // relinks the nodes. Used to size a table before reading back its entries.
  void resize(uint32_t count) {
    if (count == 0) {
      grow();
      return;
    }
    rehash(count);
  }

 protected:
  ZTL_LITE_TABLE()
      : m_bucket_count(ztl_lite_initial_bucket_count()),
        m_fill_limit(ztl_lite_fill_limit(m_bucket_count)) {}

  ~ZTL_LITE_TABLE() { release_storage(); }

  ZTL_LITE_TABLE(const ZTL_LITE_TABLE& other)
      : m_bucket_count(other.m_bucket_count), m_fill_limit(other.m_fill_limit) {
    copy_entries(other);
  }

  ZTL_LITE_TABLE(ZTL_LITE_TABLE&& other) noexcept
      : m_bucket_count(ztl_lite_initial_bucket_count()),
        m_fill_limit(ztl_lite_fill_limit(m_bucket_count)) {
    take(other);
  }

  ZTL_LITE_TABLE& operator=(const ZTL_LITE_TABLE& other) {
    if (this == &other) return *this;
    clear();
    if (other.m_entry_count == 0) return *this;
    m_bucket_count = other.m_bucket_count;
    m_fill_limit = other.m_fill_limit;
    copy_entries(other);
    return *this;
  }

  // Moving a table onto itself keeps it.
  ZTL_LITE_TABLE& operator=(ZTL_LITE_TABLE&& other) noexcept {
    if (this == &other) return *this;
    release_storage();
    take(other);
    return *this;
  }

  // The key's node, and its bucket in `bucket`; null when absent. An empty
  // table answers without hashing.
  NODE* find_node(const K& key, uint32_t& bucket) const {
    if (m_entry_count == 0) return nullptr;
    bucket = OPS::hash(key) % m_bucket_count;
    for (NODE* n = m_buckets[bucket]; n; n = n->m_next) {
      if (OPS::equal(n->key(), key)) return n;
    }
    return nullptr;
  }

  // Finds the key or adds a node built from (key, args..., next). Returns the
  // node and whether it was added, and the node's bucket (after any growth
  // the insertion caused) in `bucket`.
  template <class... ARGS>
  std::pair<NODE*, bool> find_or_add(const K& key, uint32_t& bucket, ARGS&&... args) {
    if (!m_buckets) make_storage();
    const uint32_t hash = OPS::hash(key);
    bucket = hash % m_bucket_count;
    for (NODE* n = m_buckets[bucket]; n; n = n->m_next) {
      if (OPS::equal(n->key(), key)) return {n, false};
    }
    NODE* n = new (take_block()) NODE{key, std::forward<ARGS>(args)..., m_buckets[bucket]};
    m_buckets[bucket] = n;
    ++m_entry_count;
    if (m_entry_count > m_fill_limit) {
      grow();
      bucket = hash % m_bucket_count;
    }
    return {n, true};
  }

  // First node in iteration order and its bucket; null for an empty table.
  NODE* first_node(uint32_t& bucket) const {
    if (!m_buckets) return nullptr;
    return head_from(0, bucket);
  }

  // Successor of `n` (which lies in `bucket`) in iteration order.
  NODE* next_node(const NODE* n, uint32_t& bucket) const {
    if (!n) return nullptr;
    if (n->m_next) return n->m_next;
    return head_from(bucket + 1, bucket);
  }

 private:
  // A spare node's memory, linked while it waits on the free list.
  struct FREE_NODE {
    FREE_NODE* m_next;
  };
  static_assert(sizeof(NODE) >= sizeof(FREE_NODE), "a node must hold a free-list link");

  static constexpr uint32_t node_bytes() { return (sizeof(NODE) + 7) & ~7u; }
  static constexpr uint32_t first_chunk_bytes() {
    return 10 * node_bytes() > FIRST_CHUNK ? 10 * node_bytes() : FIRST_CHUNK;
  }

  NODE* head_from(uint32_t start, uint32_t& bucket) const {
    for (uint32_t b = start; b < m_bucket_count; ++b) {
      if (m_buckets[b]) {
        bucket = b;
        return m_buckets[b];
      }
    }
    return nullptr;
  }

  // Buckets and pool come together: memory refused for the pool leaves
  // neither (a bucket array without a pool would take nodes from none).
  void make_storage() {
    std::unique_ptr<NODE*[]> buckets(new NODE*[m_bucket_count]());
    m_pool = new ZTL_NODE_POOL(first_chunk_bytes());
    m_buckets = buckets.release();
  }

  void* take_block() {
    if (m_free_list) {
      FREE_NODE* f = m_free_list;
      m_free_list = f->m_next;
      f->~FREE_NODE();
      return f;
    }
    return m_pool->allocate(node_bytes());
  }

  void release_node(NODE* n) {
    n->~NODE();
    m_free_list = new (static_cast<void*>(n)) FREE_NODE{m_free_list};
  }

  void grow() { rehash(ztl_hash_lite_50_percent_increase_size(m_bucket_count)); }

  void rehash(uint32_t count) {
    ZTL_CHECK(count > 0);
    if (m_buckets) {
      NODE** fresh = new NODE*[count]();
      for (uint32_t b = 0; b < m_bucket_count; ++b) {
        NODE* n = m_buckets[b];
        while (n) {
          NODE* next = n->m_next;
          NODE*& head = fresh[OPS::hash(n->key()) % count];
          n->m_next = head;
          head = n;
          n = next;
        }
      }
      delete[] m_buckets;
      m_buckets = fresh;
    }
    m_bucket_count = count;
    m_fill_limit = ztl_lite_fill_limit(count);
  }

  // Copies every entry of `other` (iteration order, each at the head of its
  // bucket); this table has no nodes and the source's bucket count.
  void copy_entries(const ZTL_LITE_TABLE& other) {
    if (other.m_entry_count == 0) return;
    make_storage();
    uint32_t b = 0;
    for (const NODE* s = other.first_node(b); s; s = other.next_node(s, b)) {
      NODE*& head = m_buckets[OPS::hash(s->key()) % m_bucket_count];
      NODE* n = new (take_block()) NODE(*s);
      n->m_next = head;
      head = n;
      ++m_entry_count;
    }
  }

  // Destroys keys and values and drops the free list and the pool; the
  // bucket array stays.
  void destroy_nodes() {
    if (!m_pool) return;
    if constexpr (!std::is_trivially_destructible_v<NODE>) {
      for (uint32_t b = 0; b < m_bucket_count; ++b) {
        for (NODE* n = m_buckets[b]; n;) {
          NODE* next = n->m_next;
          n->~NODE();
          n = next;
        }
      }
    }
    m_free_list = nullptr;
    delete m_pool;
    m_pool = nullptr;
  }

  void release_storage() {
    destroy_nodes();
    delete[] m_buckets;
    m_buckets = nullptr;
    m_entry_count = 0;
  }

  // Takes all of other's fields and leaves it as a new table.
  void take(ZTL_LITE_TABLE& other) {
    m_entry_count = other.m_entry_count;
    m_bucket_count = other.m_bucket_count;
    m_fill_limit = other.m_fill_limit;
    m_buckets = other.m_buckets;
    m_free_list = other.m_free_list;
    m_pool = other.m_pool;
    other.m_entry_count = 0;
    other.m_bucket_count = ztl_lite_initial_bucket_count();
    other.m_fill_limit = ztl_lite_fill_limit(other.m_bucket_count);
    other.m_buckets = nullptr;
    other.m_free_list = nullptr;
    other.m_pool = nullptr;
  }

  uint32_t m_entry_count = 0;
  uint32_t m_bucket_count;
  uint32_t m_fill_limit;
  NODE** m_buckets = nullptr;
  FREE_NODE* m_free_list = nullptr;
  ZTL_NODE_POOL* m_pool = nullptr;
};

// Node of the light map: key, value, chain link.
template <class K, class V>
struct ZTL_HASH_LITE_NODE {
  const K first;
  V second;
  ZTL_HASH_LITE_NODE* m_next;

  const K& key() const { return first; }
};

// Light chained hash map. Iterators dereference to the node: `it->first` is
// the key, `it->second` the value.
template <class K, class V, class OPS = ZTL_OPS<K>>
class ZTL_HASH_LITE : public ZTL_LITE_TABLE<K, ZTL_HASH_LITE_NODE<K, V>, OPS, 512> {
 public:
  using NODE = ZTL_HASH_LITE_NODE<K, V>;

  template <bool IS_CONST>
  class ITERATOR {
    using TABLE = std::conditional_t<IS_CONST, const ZTL_HASH_LITE, ZTL_HASH_LITE>;
    using REF = std::conditional_t<IS_CONST, const NODE&, NODE&>;
    using PTR = std::conditional_t<IS_CONST, const NODE*, NODE*>;

   public:
    ITERATOR() = default;
    // A non-constant iterator converts to a constant one.
    template <bool OTHER, class = std::enable_if_t<IS_CONST && !OTHER>>
    ITERATOR(const ITERATOR<OTHER>& other)
        : m_hash(other.m_hash), m_node(other.m_node), m_bucket(other.m_bucket),
          m_bucket_cnt(other.m_bucket_cnt) {}

    REF operator*() const { return *m_node; }
    PTR operator->() const { return m_node; }
    ITERATOR& operator++() {
      ZTL_CHECK((m_hash != 0) && (m_bucket_cnt == m_hash->bucket_count()));
      m_node = m_hash->next_node(m_node, m_bucket);
      return *this;
    }
    bool operator==(const ITERATOR& other) const { return m_node == other.m_node; }
    bool operator!=(const ITERATOR& other) const { return m_node != other.m_node; }

   private:
    friend class ZTL_HASH_LITE;
    template <bool>
    friend class ITERATOR;
    ITERATOR(TABLE* hash, NODE* node, uint32_t bucket)
        : m_hash(hash), m_node(node), m_bucket(bucket), m_bucket_cnt(hash->bucket_count()) {}

    TABLE* m_hash = nullptr;
    NODE* m_node = nullptr;
    uint32_t m_bucket = 0;
    uint32_t m_bucket_cnt = 0;
  };
  using iterator = ITERATOR<false>;
  using const_iterator = ITERATOR<true>;

  ZTL_HASH_LITE() = default;
  ZTL_HASH_LITE(const ZTL_HASH_LITE&) = default;
  ZTL_HASH_LITE(ZTL_HASH_LITE&&) noexcept = default;
  ZTL_HASH_LITE& operator=(const ZTL_HASH_LITE&) = default;
  ZTL_HASH_LITE& operator=(ZTL_HASH_LITE&&) noexcept = default;

  // Find-or-insert: the key's value; an absent key gets a value-initialised
  // one (0, null, false, empty).
  V& operator[](const K& key) {
    uint32_t bucket = 0;
    return this->find_or_add(key, bucket, V()).first->second;
  }

  // Adds (key, value) when the key is absent; a present key keeps its value.
  // Returns the entry and whether it was added.
  std::pair<iterator, bool> insert(const K& key, const V& value) {
    uint32_t bucket = 0;
    auto [node, added] = this->find_or_add(key, bucket, value);
    return {iterator(this, node, bucket), added};
  }

  iterator find(const K& key) {
    uint32_t bucket = 0;
    NODE* n = this->find_node(key, bucket);
    return n ? iterator(this, n, bucket) : end();
  }
  const_iterator find(const K& key) const {
    uint32_t bucket = 0;
    NODE* n = this->find_node(key, bucket);
    return n ? const_iterator(this, n, bucket) : end();
  }

  iterator begin() {
    uint32_t bucket = 0;
    NODE* n = this->first_node(bucket);
    return iterator(this, n, bucket);
  }
  const_iterator begin() const {
    uint32_t bucket = 0;
    NODE* n = this->first_node(bucket);
    return const_iterator(this, n, bucket);
  }
  iterator end() { return iterator(this, nullptr, 0); }
  const_iterator end() const { return const_iterator(this, nullptr, 0); }
};
