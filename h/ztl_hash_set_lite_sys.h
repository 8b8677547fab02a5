// ztl_hash_set_lite_sys.h — ZTL_HASH_SET_LITE<K, OPS>, the light chained
// hash set.
//
// Model: the light map's table (ztl_hash_lite_sys.h) with key-only nodes of
//   key and chain link; its node pool starts at 256 bytes (16 pointer nodes).
//   Bucket counts, growth, copy order, clear and the moved-from state are the
//   map's. Iteration visits the keys in bucket order and must not span a
//   growth (internal error).
// Cost: insert, find and erase O(1) expected.
// Not safe for concurrent use.
#pragma once

#include <cstdint>
#include <utility>

#include "ztl_hash_lite_sys.h"

// Node of the light set: key, chain link.
template <class K>
struct ZTL_HASH_SET_LITE_NODE {
  const K m_key;
  ZTL_HASH_SET_LITE_NODE* m_next;

  const K& key() const { return m_key; }
};

template <class K, class OPS = ZTL_OPS<K>>
class ZTL_HASH_SET_LITE : public ZTL_LITE_TABLE<K, ZTL_HASH_SET_LITE_NODE<K>, OPS, 256> {
  using NODE = ZTL_HASH_SET_LITE_NODE<K>;

 public:
  // Keys are read-only: an iterator dereferences to the key.
  class iterator {
   public:
    iterator() = default;

    const K& operator*() const { return m_node->m_key; }
    const K* operator->() const { return &m_node->m_key; }
    iterator& operator++() {
      ZTL_CHECK((m_set != 0) && (m_bucket_cnt == m_set->bucket_count()));
      m_node = m_set->next_node(m_node, m_bucket);
      return *this;
    }
    bool operator==(const iterator& other) const { return m_node == other.m_node; }
    bool operator!=(const iterator& other) const { return m_node != other.m_node; }

   private:
    friend class ZTL_HASH_SET_LITE;
    iterator(const ZTL_HASH_SET_LITE* set, const NODE* node, uint32_t bucket)
        : m_set(set), m_node(node), m_bucket(bucket), m_bucket_cnt(set->bucket_count()) {}

    const ZTL_HASH_SET_LITE* m_set = nullptr;
    const NODE* m_node = nullptr;
    uint32_t m_bucket = 0;
    uint32_t m_bucket_cnt = 0;
  };
  using const_iterator = iterator;

  ZTL_HASH_SET_LITE() = default;
  ZTL_HASH_SET_LITE(const ZTL_HASH_SET_LITE&) = default;
  ZTL_HASH_SET_LITE(ZTL_HASH_SET_LITE&&) noexcept = default;
  ZTL_HASH_SET_LITE& operator=(const ZTL_HASH_SET_LITE&) = default;
  ZTL_HASH_SET_LITE& operator=(ZTL_HASH_SET_LITE&&) noexcept = default;

  // Adds the key when absent. Returns its entry and whether it was added.
  std::pair<iterator, bool> insert(const K& key) {
    uint32_t bucket = 0;
    auto [node, added] = this->find_or_add(key, bucket);
    return {iterator(this, node, bucket), added};
  }

  iterator find(const K& key) const {
    uint32_t bucket = 0;
    const NODE* n = this->find_node(key, bucket);
    return n ? iterator(this, n, bucket) : end();
  }

  iterator begin() const {
    uint32_t bucket = 0;
    const NODE* n = this->first_node(bucket);
    return iterator(this, n, bucket);
  }
  iterator end() const { return iterator(this, nullptr, 0); }
};
