// ztl_bunched_list_sys.h — a tombstoned list of pointers stored in fixed
// bunches; the gate netlist's node list.
//
// Model: a chain of bunches, each a 16-byte header, N slots and a next
//   pointer. append() writes the next unused slot of the last bunch (a new
//   bunch when full) and returns the slot's address, which the owner keeps so
//   that erase(slot) is O(1): it writes all ones into the slot. The list
//   header holds the 32-bit live count (first, the library reads it
//   directly), the compaction epoch, and the first and last bunch.
// Iteration: ZTL_BUNCHED_LIST_ITERATOR is three words (list, bunch, slot; the
//   slot is null at the end). operator++ steps to the next slot that is not
//   all ones, crossing bunches; the bound of each bunch is read at every step,
//   so entries appended during a walk lie ahead and are visited. operator*
//   returns null when the slot was emptied after the iterator reached it.
// Compaction (rebuild) frees every bunch and bumps the epoch: no iterator may
//   be open across it. Builds without NDEBUG (or with ZTL_BUNCHED_LIST_CHECK_EPOCH)
//   give the iterator a fourth word, the epoch it was made in, and a stale
//   iterator is an internal error when dereferenced or advanced.
// Cost: append, erase, ++ are O(1) amortised (++ skips runs of empty slots);
//   rebuild is O(n) and calls the owner back with each entry's new slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <new>
#include <type_traits>

#include "msg/msg.h"

#if !defined(NDEBUG) && !defined(ZTL_BUNCHED_LIST_CHECK_EPOCH)
#define ZTL_BUNCHED_LIST_CHECK_EPOCH 1
#endif

template <class P, int N>
class ZTL_BUNCHED_LIST_ITERATOR;

template <class P, int N>
class ZTL_BUNCHED_LIST {
  static_assert(std::is_pointer_v<P>, "ZTL_BUNCHED_LIST holds pointers only");
  static_assert(N > 0, "a bunch needs slots");

 public:
  struct BUNCH {
    uint32_t m_used = 0;     // slots written so far (live or emptied)
    uint32_t m_number = 0;   // position of the bunch in the chain
    uint64_t m_reserved = 0; // keeps the header at 16 bytes
    P m_slots[N];
    BUNCH* m_next = nullptr;
  };
  static_assert(offsetof(BUNCH, m_slots) == 16, "bunch header is 16 bytes");

  typedef ZTL_BUNCHED_LIST_ITERATOR<P, N> iterator;

  static P empty_value() { return reinterpret_cast<P>(~uintptr_t(0)); }
  static bool is_empty_value(P p) { return reinterpret_cast<uintptr_t>(p) == ~uintptr_t(0); }

  ZTL_BUNCHED_LIST() = default;
  ~ZTL_BUNCHED_LIST() { free_bunches(); }
  ZTL_BUNCHED_LIST(const ZTL_BUNCHED_LIST&) = delete;
  ZTL_BUNCHED_LIST& operator=(const ZTL_BUNCHED_LIST&) = delete;

  uint32_t size() const { return m_count; }
  uint32_t get_epoch() const { return m_epoch; }
  BUNCH* first_bunch() const { return m_first; }
  BUNCH* last_bunch() const { return m_last; }

  // Appends p (not null, not all ones) and returns its slot.
  P* append(P p) {
    if (!m_last || m_last->m_used == uint32_t(N)) add_bunch();
    P* slot = &m_last->m_slots[m_last->m_used];
    *slot = p;
    ++m_last->m_used;  // written after the value: a walk never reads an unset slot
    ++m_count;
    return slot;
  }

  // Empties a live slot returned by append().
  void erase(P* slot) {
    PLAT_CHECK(slot && !is_empty_value(*slot), "PLATFORM");
    *slot = empty_value();
    --m_count;
  }

  iterator begin() const { return iterator::first_of(this); }
  iterator end() const { return iterator(this, nullptr, nullptr); }

  // Replaces the contents by `order` (live entries, in that order) in fresh
  // bunches, bumps the epoch and calls on_slot(p, new_slot) for each entry.
  template <class F>
  void rebuild(const P* order, size_t n, F&& on_slot) {
    free_bunches();
    ++m_epoch;
    for (size_t i = 0; i < n; ++i) on_slot(order[i], append(order[i]));
  }

  // Compacts in place, O(n): the live entries move down to the front in
  // order and the bunches no longer needed are freed; bumps the epoch as
  // rebuild does (no iterator may be open across it).
  // visit(p, slot, moved) is called for each live entry with its new slot
  // (moved false: the entry stays where it was) and returns false to drop
  // the entry instead (the caller takes it; the count goes down).
  // ahead(p, moves) is called for each live entry kAheadSlots slots before
  // its visit, so that the caller can fetch what visit will read; `moves`
  // is a hint: true when the compaction has met an emptied or dropped slot
  // already (the entry will move then).
  // Entries before the first emptied slot are not written.
  static constexpr size_t kAheadSlots = 32;
  template <class V, class A>
  void compact_in_place(V&& visit, A&& ahead) {
    ++m_epoch;
    BUNCH* ab = m_first;  // the look-ahead cursor
    uint32_t ai = 0;
    bool moving = false;  // a slot before the read cursor was emptied
    auto step_ahead = [&]() {
      while (ab && ai == ab->m_used) {
        ab = ab->m_next;
        ai = 0;
      }
      if (!ab) return;
      P p = ab->m_slots[ai++];
      if (!is_empty_value(p)) ahead(p, moving);
    };
    for (size_t k = 0; k < kAheadSlots; ++k) step_ahead();
    BUNCH* wb = m_first;
    uint32_t wi = 0;
    for (BUNCH* rb = m_first; rb; rb = rb->m_next) {
      for (uint32_t ri = 0; ri < rb->m_used; ++ri) {
        step_ahead();
        P p = rb->m_slots[ri];
        if (is_empty_value(p)) {
          moving = true;
          continue;
        }
        // A full write bunch has a successor: the read cursor is past it.
        BUNCH* tb = wi == uint32_t(N) ? wb->m_next : wb;
        P* slot = &tb->m_slots[wi == uint32_t(N) ? 0 : wi];
        const bool moved = slot != &rb->m_slots[ri];
        if (!visit(p, slot, moved)) {
          --m_count;
          moving = true;
          continue;
        }
        if (moved) *slot = p;
        if (tb != wb) {
          wb = tb;
          wi = 0;
        }
        ++wi;
      }
    }
    if (m_count == 0) {
      free_bunches();
      return;
    }
    wb->m_used = wi;
    for (BUNCH* b = wb->m_next; b;) {
      BUNCH* next = b->m_next;
      delete b;
      b = next;
    }
    wb->m_next = nullptr;
    m_last = wb;
  }

  // Drops every entry and bunch; bumps the epoch.
  void clear() {
    free_bunches();
    ++m_epoch;
  }

 private:
  friend class ZTL_BUNCHED_LIST_ITERATOR<P, N>;

  void add_bunch() {
    BUNCH* b = new BUNCH;
    b->m_number = m_last ? m_last->m_number + 1 : 0;
    if (m_last) m_last->m_next = b;
    else m_first = b;
    m_last = b;
  }
  void free_bunches() {
    for (BUNCH* b = m_first; b;) {
      BUNCH* next = b->m_next;
      delete b;
      b = next;
    }
    m_first = m_last = nullptr;
    m_count = 0;
  }

  uint32_t m_count = 0;
  uint32_t m_epoch = 0;
  BUNCH* m_first = nullptr;
  BUNCH* m_last = nullptr;
};

template <class P, int N>
class ZTL_BUNCHED_LIST_ITERATOR {
 public:
  typedef ZTL_BUNCHED_LIST<P, N> LIST;
  typedef typename LIST::BUNCH BUNCH;
  typedef std::forward_iterator_tag iterator_category;
  typedef P value_type;
  typedef std::ptrdiff_t difference_type;
  typedef const P* pointer;
  typedef P reference;

  ZTL_BUNCHED_LIST_ITERATOR() = default;
  ZTL_BUNCHED_LIST_ITERATOR(const LIST* list, BUNCH* bunch, P* slot)
      : m_list(list), m_bunch(bunch), m_slot(slot) {
#if ZTL_BUNCHED_LIST_CHECK_EPOCH
    m_epoch = list ? list->m_epoch : 0;
#endif
  }

  static ZTL_BUNCHED_LIST_ITERATOR first_of(const LIST* list) {
    ZTL_BUNCHED_LIST_ITERATOR it(list, list->m_first, nullptr);
    if (it.m_bunch) it.seek(it.m_bunch, it.m_bunch->m_slots);
    return it;
  }

  // The slot's entry, or null when it was emptied after the iterator got there.
  P operator*() const {
    check_epoch();
    P p = *m_slot;
    return LIST::is_empty_value(p) ? nullptr : p;
  }

  ZTL_BUNCHED_LIST_ITERATOR& operator++() {
    check_epoch();
    advance();
    return *this;
  }
  ZTL_BUNCHED_LIST_ITERATOR operator++(int) {
    ZTL_BUNCHED_LIST_ITERATOR copy = *this;
    ++*this;
    return copy;
  }

  bool operator==(const ZTL_BUNCHED_LIST_ITERATOR& o) const { return m_slot == o.m_slot; }
  bool operator!=(const ZTL_BUNCHED_LIST_ITERATOR& o) const { return m_slot != o.m_slot; }

  bool at_end() const { return m_slot == nullptr; }
  P* get_slot() const { return m_slot; }
  BUNCH* get_bunch() const { return m_bunch; }

 private:
  // Next slot that is not all ones; the end (slot null) after the last bunch.
  void advance() {
    if (m_slot) seek(m_bunch, m_slot + 1);
  }
  // The first slot from s on (s in bunch b, or one past its last used slot)
  // that is not all ones.
  void seek(BUNCH* b, P* s) {
    for (;;) {
      P* bound = b->m_slots + b->m_used;
      while (s < bound && LIST::is_empty_value(*s)) ++s;
      if (s < bound) {
        m_bunch = b;
        m_slot = s;
        return;
      }
      if (!b->m_next) {  // only a full bunch has a successor
        m_bunch = b;
        m_slot = nullptr;
        return;
      }
      b = b->m_next;
      s = b->m_slots;
    }
  }
  void check_epoch() const {
#if ZTL_BUNCHED_LIST_CHECK_EPOCH
    PLAT_CHECK(!m_list || m_epoch == m_list->m_epoch, "PLATFORM");
#endif
  }

  const LIST* m_list = nullptr;
  BUNCH* m_bunch = nullptr;
  P* m_slot = nullptr;
#if ZTL_BUNCHED_LIST_CHECK_EPOCH
  uint32_t m_epoch = 0;
#endif
};
