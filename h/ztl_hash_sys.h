// ztl_hash_sys.h — ZTL_HASH<K, V, OPS>, the chained hash map with doubly
// linked chains and one allocation per node.
//
// Model: the owner chooses the bucket count at construction (61 by default)
//   and the array is made at once. bucket = OPS::hash(key) % bucket count; new
//   nodes go to the head of their chain. After an insertion that brings the
//   entry count to n, the table grows when (n / 4) * 5 (n / 4 truncated)
//   exceeds the bucket count, to ztl_hash_50_percent_increase_size of that
//   value; the old buckets are walked from index 0, each chain from its head,
//   and every node is relinked at the head of its new bucket. Chains are
//   doubly linked, so an entry is unlinked in O(1) once found.
// Iteration: buckets in ascending order, each chain from its head. An
//   iterator may survive growth: when it sees a new bucket count it first
//   recomputes its bucket from its node's key, then steps on (entries may then
//   be visited twice or not at all). Erasing the iterator's own entry
//   invalidates it.
// Copies: copy construction and assignment find-or-insert the source's entries
//   in iteration order into a table with the source's bucket count, which may
//   grow on the way; chains come out reversed.
// Cost: find, insert and erase O(1) expected; growth O(n); clear O(n) and
//   keeps the bucket count.
// Not safe for concurrent use.
#pragma once

#include <cstdint>
#include <type_traits>
#include <utility>

#include "ztl/ztl_support.h"
#include "ztl_node_pool_sys.h"
#include "ztl_ops_sys.h"

template <class K, class V, class OPS = ZTL_OPS<K>>
class ZTL_HASH {
 public:
  // Node: key, value, chain links. `first` is the key, `second` the value.
  struct NODE {
    const K first;
    V second;
    NODE* m_next;
    NODE* m_prev;
  };

  template <bool IS_CONST>
  class ITERATOR {
    using TABLE = std::conditional_t<IS_CONST, const ZTL_HASH, ZTL_HASH>;
    using REF = std::conditional_t<IS_CONST, const NODE&, NODE&>;
    using PTR = std::conditional_t<IS_CONST, const NODE*, NODE*>;

   public:
    ITERATOR() = default;
    template <bool OTHER, class = std::enable_if_t<IS_CONST && !OTHER>>
    ITERATOR(const ITERATOR<OTHER>& other)
        : m_hash(other.m_hash), m_bucket(other.m_bucket), m_bucket_cnt(other.m_bucket_cnt),
          m_node(other.m_node) {}

    REF operator*() const { return *m_node; }
    PTR operator->() const { return m_node; }
    ITERATOR& operator++() {
      if (!m_node) return *this;
      if (m_bucket_cnt != m_hash->m_bucket_count) {
        // The table grew since the last step: find the node's new bucket.
        m_bucket_cnt = m_hash->m_bucket_count;
        m_bucket = OPS::hash(m_node->first) % m_bucket_cnt;
      }
      m_node = m_node->m_next ? m_node->m_next : m_hash->head_from(m_bucket + 1, m_bucket);
      return *this;
    }
    bool operator==(const ITERATOR& other) const { return m_node == other.m_node; }
    bool operator!=(const ITERATOR& other) const { return m_node != other.m_node; }

   private:
    friend class ZTL_HASH;
    template <bool>
    friend class ITERATOR;
    ITERATOR(TABLE* hash, uint32_t bucket, NODE* node)
        : m_hash(hash), m_bucket(bucket), m_bucket_cnt(hash->m_bucket_count), m_node(node) {}

    TABLE* m_hash = nullptr;
    uint32_t m_bucket = 0;
    uint32_t m_bucket_cnt = 0;
    NODE* m_node = nullptr;
  };
  using iterator = ITERATOR<false>;
  using const_iterator = ITERATOR<true>;

  explicit ZTL_HASH(uint32_t bucket_count = 61) : m_bucket_count(bucket_count) {
    ZTL_CHECK(bucket_count > 0);
    m_buckets = new NODE*[m_bucket_count]();
  }

  ZTL_HASH(const ZTL_HASH& other) : ZTL_HASH(other.m_bucket_count) { copy_entries(other); }

  // The moved-from table is empty with the default bucket count.
  ZTL_HASH(ZTL_HASH&& other) : ZTL_HASH() { swap(other); }

  ~ZTL_HASH() {
    free_nodes();
    delete[] m_buckets;
  }

  ZTL_HASH& operator=(const ZTL_HASH& other) {
    if (this == &other) return *this;
    clear();
    if (m_bucket_count != other.m_bucket_count) {
      NODE** fresh = new NODE*[other.m_bucket_count]();
      delete[] m_buckets;
      m_buckets = fresh;
      m_bucket_count = other.m_bucket_count;
    }
    copy_entries(other);
    return *this;
  }

  // The moved-from table is left empty with this table's old bucket count.
  // Moving a table onto itself keeps it.
  ZTL_HASH& operator=(ZTL_HASH&& other) {
    if (this == &other) return *this;
    clear();
    swap(other);
    return *this;
  }

  void swap(ZTL_HASH& other) {
    std::swap(m_bucket_count, other.m_bucket_count);
    std::swap(m_entry_count, other.m_entry_count);
    std::swap(m_buckets, other.m_buckets);
  }

  uint32_t size() const { return m_entry_count; }
  bool empty() const { return m_entry_count == 0; }
  uint32_t bucket_count() const { return m_bucket_count; }

  // Find-or-insert: the key's value; an absent key gets a value-initialised
  // one (0, null, false, empty).
  V& operator[](const K& key) { return add(key, OPS::hash(key), V()).first->second; }

  // Adds (key, value) when the key is absent; a present key keeps its value.
  std::pair<iterator, bool> insert(const K& key, const V& value) {
    const uint32_t hash = OPS::hash(key);
    auto [node, added] = add(key, hash, value);
    return {iterator(this, hash % m_bucket_count, node), added};
  }

  // The node of `key` given its precomputed OPS::hash value; null if absent.
  NODE* find_node(const K& key, uint32_t hash) const {
    for (NODE* n = m_buckets[hash % m_bucket_count]; n; n = n->m_next) {
      if (OPS::equal(n->first, key)) return n;
    }
    return nullptr;
  }

  iterator find(const K& key) {
    const uint32_t hash = OPS::hash(key);
    NODE* n = find_node(key, hash);
    return n ? iterator(this, hash % m_bucket_count, n) : end();
  }
  const_iterator find(const K& key) const {
    const uint32_t hash = OPS::hash(key);
    NODE* n = find_node(key, hash);
    return n ? const_iterator(this, hash % m_bucket_count, n) : end();
  }
  bool exists(const K& key) const { return find_node(key, OPS::hash(key)) != nullptr; }

  // Removes the key's entry and frees its node. False when absent.
  bool erase(const K& key) {
    const uint32_t hash = OPS::hash(key);
    NODE* n = find_node(key, hash);
    if (!n) return false;
    if (n->m_prev) {
      n->m_prev->m_next = n->m_next;
    } else {
      m_buckets[hash % m_bucket_count] = n->m_next;
    }
    if (n->m_next) n->m_next->m_prev = n->m_prev;
    delete n;
    --m_entry_count;
    return true;
  }

  // Frees every node; the bucket count stays.
  void clear() {
    free_nodes();
    for (uint32_t b = 0; b < m_bucket_count; ++b) m_buckets[b] = nullptr;
    m_entry_count = 0;
  }

  iterator begin() {
    uint32_t bucket = 0;
    NODE* n = head_from(0, bucket);
    return iterator(this, bucket, n);
  }
  const_iterator begin() const {
    uint32_t bucket = 0;
    NODE* n = head_from(0, bucket);
    return const_iterator(this, bucket, n);
  }
  iterator end() { return iterator(this, 0, nullptr); }
  const_iterator end() const { return const_iterator(this, 0, nullptr); }

  // Head of the first non-empty bucket from `start` on, and its index.
  NODE* head_from(uint32_t start, uint32_t& bucket) const {
    for (uint32_t b = start; b < m_bucket_count; ++b) {
      if (m_buckets[b]) {
        bucket = b;
        return m_buckets[b];
      }
    }
    return nullptr;
  }

 private:
  template <class VALUE>
  std::pair<NODE*, bool> add(const K& key, uint32_t hash, VALUE&& value) {
    if (NODE* n = find_node(key, hash)) return {n, false};
    NODE*& head = m_buckets[hash % m_bucket_count];
    NODE* n = new NODE{key, std::forward<VALUE>(value), head, nullptr};
    if (head) head->m_prev = n;
    head = n;
    ++m_entry_count;
    grow_if_full();
    return {n, true};
  }

  void grow_if_full() {
    // 64 bits: (n / 4) * 5 passes 32 bits from n of about 3.4 billion.
    const uint64_t wanted = static_cast<uint64_t>(m_entry_count / 4) * 5;
    if (wanted <= m_bucket_count) return;
    ZTL_CHECK(wanted <= 0xffffffffu);
    rehash(ztl_hash_50_percent_increase_size(static_cast<uint32_t>(wanted)));
  }

  void rehash(uint32_t count) {
    NODE** fresh = new NODE*[count]();
    for (uint32_t b = 0; b < m_bucket_count; ++b) {
      NODE* n = m_buckets[b];
      while (n) {
        NODE* next = n->m_next;
        NODE*& head = fresh[OPS::hash(n->first) % count];
        n->m_prev = nullptr;
        n->m_next = head;
        if (head) head->m_prev = n;
        head = n;
        n = next;
      }
    }
    delete[] m_buckets;
    m_buckets = fresh;
    m_bucket_count = count;
  }

  void copy_entries(const ZTL_HASH& other) {
    for (const NODE& n : other) (*this)[n.first] = n.second;
  }

  void free_nodes() {
    if (m_entry_count == 0) return;
    for (uint32_t b = 0; b < m_bucket_count; ++b) {
      for (NODE* n = m_buckets[b]; n;) {
        NODE* next = n->m_next;
        delete n;
        n = next;
      }
    }
  }

  uint32_t m_bucket_count;
  uint32_t m_entry_count = 0;
  NODE** m_buckets;
};
