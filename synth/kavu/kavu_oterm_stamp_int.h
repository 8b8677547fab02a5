// kavu_oterm_stamp_int.h — the stamped marks every walk of the library uses:
// a pointer-keyed table (terminal or gate -> int) and marks per dense index.
// One model for the ordering, the dependency queries, the cut searches,
// orphan removal and the stuck-register walks.
//
// PTR_STAMP_TABLE: open addressing with linear probing on the address
//   (Fibonacci hashing of the address without its alignment bits, top bits
//   taken). Every slot carries the stamp of the use that wrote it and clear()
//   starts a new use, so emptying is O(1) and a walk that keeps one table (a
//   worker member) allocates only while the table grows to its largest size.
//   Only lookups are made, never iteration, so no result depends on pointer
//   values.
// DENSE_STAMPS: one 32-bit stamp per dense index; next() starts a new walk in
//   which every index is unmarked, without touching the array.
// Invariants: a table is at most half full (it doubles first); when a stamp
//   counter wraps, the stored stamps are zeroed so none can look current.
// Cost: insert and find O(1) expected; a growth O(capacity); next() O(1)
//   except once every 2^32 walks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class PTR_STAMP_TABLE {
 public:
  // Empties the table and makes room for `expected` keys without growth.
  void clear(size_t expected = 0) {
    if (++m_stamp == 0) {  // the stamp wrapped: old slots could look current
      for (SLOT& s : m_slots) s.m_stamp = 0;
      m_stamp = 1;
    }
    m_count = 0;
    size_t want = MIN_CAPACITY;
    while (want < 2 * expected) want *= 2;
    if (want > m_slots.size()) resize_empty(want);
  }

  // The value of key, or null when key is absent.
  int* find(const void* key) { return const_cast<int*>(std::as_const(*this).find(key)); }
  const int* find(const void* key) const {
    if (m_slots.empty()) return nullptr;
    for (size_t i = home(key);; i = (i + 1) & m_mask) {
      const SLOT& s = m_slots[i];
      if (s.m_stamp != m_stamp) return nullptr;
      if (s.m_key == key) return &s.m_value;
    }
  }
  bool contains(const void* key) const { return find(key) != nullptr; }
  // The value of key, or `absent` when key is not in the table.
  int value_or(const void* key, int absent) const {
    const int* v = find(key);
    return v ? *v : absent;
  }

  // Adds key with value when absent. Returns true when it was added; either
  // way *slot_value (when asked) points at the stored value.
  bool insert(const void* key, int value, int** slot_value = nullptr) {
    if (2 * (m_count + 1) > m_slots.size()) grow();
    for (size_t i = home(key);; i = (i + 1) & m_mask) {
      SLOT& s = m_slots[i];
      if (s.m_stamp != m_stamp) {
        s = SLOT{key, value, m_stamp};
        ++m_count;
        if (slot_value) *slot_value = &s.m_value;
        return true;
      }
      if (s.m_key == key) {
        if (slot_value) *slot_value = &s.m_value;
        return false;
      }
    }
  }

  size_t size() const { return m_count; }

 private:
  static constexpr size_t MIN_CAPACITY = 16;
  static constexpr uint64_t FIBONACCI_MULTIPLIER = 0x9E3779B97F4A7C15ull;
  static constexpr unsigned ALIGNMENT_BITS = 3;

  struct SLOT {
    const void* m_key;
    int m_value;
    uint32_t m_stamp;
  };

  size_t home(const void* key) const {
    const uint64_t h = (uint64_t(reinterpret_cast<uintptr_t>(key)) >> ALIGNMENT_BITS) * FIBONACCI_MULTIPLIER;
    return size_t(h >> m_shift);
  }

  void resize_empty(size_t capacity) {
    m_slots.assign(capacity, SLOT{nullptr, 0, 0});
    m_mask = capacity - 1;
    m_shift = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --m_shift;
    m_stamp = 1;
  }

  void grow() {
    std::vector<SLOT> old;
    old.swap(m_slots);
    const uint32_t old_stamp = m_stamp;
    resize_empty(old.empty() ? MIN_CAPACITY : 2 * old.size());
    m_count = 0;
    for (const SLOT& s : old)
      if (s.m_stamp == old_stamp) insert(s.m_key, s.m_value);
  }

  std::vector<SLOT> m_slots;
  size_t m_mask = 0;
  unsigned m_shift = 64;
  size_t m_count = 0;
  uint32_t m_stamp = 1;
};

class DENSE_STAMPS {
 public:
  // Grows or shrinks to n indices; new indices are unmarked.
  void resize(size_t n) { m_marks.resize(n, 0); }
  void push_back() { m_marks.push_back(0); }
  void reserve(size_t n) { m_marks.reserve(n); }
  size_t size() const { return m_marks.size(); }
  // Starts a new walk: every index is unmarked.
  void next() {
    if (++m_stamp == 0) {
      std::fill(m_marks.begin(), m_marks.end(), 0u);
      m_stamp = 1;
    }
  }
  bool is_marked(size_t i) const { return m_marks[i] == m_stamp; }
  void mark(size_t i) { m_marks[i] = m_stamp; }
  void unmark(size_t i) { m_marks[i] = 0; }
  // Marks i; true when it was not marked yet.
  bool mark_new(size_t i) {
    if (m_marks[i] == m_stamp) return false;
    m_marks[i] = m_stamp;
    return true;
  }

 private:
  std::vector<uint32_t> m_marks;
  uint32_t m_stamp = 1;
};
