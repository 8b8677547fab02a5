// kavu_depends_int.h — the pointer table shared by the dependency queries
// and the cone walks (kavu_depends.cpp, kavu_dff_helper_stuck.cpp).
//
// PTR_STAMP_TABLE maps pointers to ints by open addressing with linear
// probing. Emptying it is O(1): every slot carries the stamp of the use that
// wrote it, and clear() starts a new use, so a walk that keeps one table
// (a worker member, or a thread-local scratch) allocates only while the
// table grows to its largest size. Only lookups are made, never iteration,
// so no result depends on pointer values.
// Invariant: at most half of the slots are in use (the table doubles first).
// Cost: insert and find O(1) expected; a new table or a growth O(capacity).
#pragma once

#include <cstddef>
#include <cstdint>
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
    size_t want = 16;
    while (want < 2 * expected) want *= 2;
    if (want > m_slots.size()) resize_empty(want);
  }

  // The value of key, or null when key is absent.
  int* find(const void* key) {
    if (m_slots.empty()) return nullptr;
    for (size_t i = home(key);; i = (i + 1) & m_mask) {
      SLOT& s = m_slots[i];
      if (s.m_stamp != m_stamp) return nullptr;
      if (s.m_key == key) return &s.m_value;
    }
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
  struct SLOT {
    const void* m_key;
    int m_value;
    uint32_t m_stamp;
  };

  size_t home(const void* key) const {
    // Fibonacci hashing of the address without its alignment bits.
    uint64_t h = (uint64_t(reinterpret_cast<uintptr_t>(key)) >> 3) * 0x9E3779B97F4A7C15ull;
    return size_t(h >> 20) & m_mask;
  }

  void resize_empty(size_t capacity) {
    m_slots.assign(capacity, SLOT{nullptr, 0, 0});
    m_mask = capacity - 1;
    m_stamp = 1;
  }

  void grow() {
    std::vector<SLOT> old;
    old.swap(m_slots);
    const uint32_t old_stamp = m_stamp;
    resize_empty(old.empty() ? 16 : 2 * old.size());
    m_count = 0;
    for (const SLOT& s : old)
      if (s.m_stamp == old_stamp) insert(s.m_key, s.m_value);
  }

  std::vector<SLOT> m_slots;
  size_t m_mask = 0;
  size_t m_count = 0;
  uint32_t m_stamp = 1;
};
