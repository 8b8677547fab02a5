// ztl_compact_ptr_vector_sys.h — a 32-byte vector of pointers that keeps up
// to three entries inline; the input and output terminal lists of gates.
//
// Layout (read directly by the library for speed, so it is fixed):
//   inline: bit 0 of byte 0 is 1; byte 0 holds (size << 1) | 1 (the rest of
//           word 0 is zero) and the pointers sit in words 1..3 (capacity 3);
//   heap:   bit 0 of byte 0 is 0; word 0 is the begin pointer of a heap array,
//           word 1 its end, word 2 the end of its capacity (heap blocks are
//           8-aligned, so bit 0 of a begin pointer is always 0); word 3 unused.
// Null entries are allowed everywhere; resize() fills new slots with null.
// Growth doubles the capacity, so push_back is amortised O(1). The vector
// never moves back inline by itself; shrink_to_fit() does that.
// Byte 0 is the low byte of word 0: the layout assumes a little-endian target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>

template <class P>
class ZTL_COMPACT_PTR_VECTOR {
  static_assert(std::is_pointer_v<P>, "ZTL_COMPACT_PTR_VECTOR holds pointers only");
  static_assert(sizeof(P) == 8 && sizeof(uintptr_t) == 8, "64-bit pointers expected");

 public:
  static constexpr size_t INLINE_CAPACITY = 3;

  ZTL_COMPACT_PTR_VECTOR() { set_inline_size(0); m_w[1] = m_w[2] = m_w[3] = 0; }
  ~ZTL_COMPACT_PTR_VECTOR() { release(); }

  ZTL_COMPACT_PTR_VECTOR(const ZTL_COMPACT_PTR_VECTOR& other) : ZTL_COMPACT_PTR_VECTOR() {
    assign_from(other);
  }
  ZTL_COMPACT_PTR_VECTOR& operator=(const ZTL_COMPACT_PTR_VECTOR& other) {
    if (this != &other) { clear(); assign_from(other); }
    return *this;
  }
  ZTL_COMPACT_PTR_VECTOR(ZTL_COMPACT_PTR_VECTOR&& other) noexcept {
    std::memcpy(m_w, other.m_w, sizeof m_w);
    other.set_inline_size(0);
  }
  ZTL_COMPACT_PTR_VECTOR& operator=(ZTL_COMPACT_PTR_VECTOR&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(m_w, other.m_w, sizeof m_w);
      other.set_inline_size(0);
    }
    return *this;
  }

  bool is_inline() const { return (first_byte() & 1u) != 0; }

  // Address of the first pointer: word 1 when inline, else the heap begin.
  P* begin() { return reinterpret_cast<P*>(is_inline() ? inline_address() : m_w[0]); }
  const P* begin() const { return reinterpret_cast<const P*>(is_inline() ? inline_address() : m_w[0]); }
  P* end() { return begin() + size(); }
  const P* end() const { return begin() + size(); }

  size_t size() const {
    return is_inline() ? size_t(first_byte() >> 1) : size_t((m_w[1] - m_w[0]) / sizeof(P));
  }
  bool empty() const { return size() == 0; }
  size_t capacity() const {
    return is_inline() ? INLINE_CAPACITY : size_t((m_w[2] - m_w[0]) / sizeof(P));
  }

  // Element i (no bounds check: this is the innermost accessor of every pass).
  P& operator[](size_t i) { return begin()[i]; }
  const P& operator[](size_t i) const { return begin()[i]; }

  // Room for exactly n entries when n passes the inline capacity (growth by
  // push_back or resize never takes fewer than six).
  void reserve(size_t n) {
    if (n > capacity()) grow_to(n, n);
  }

  // New slots are null; shrinking drops the tail.
  void resize(size_t n) {
    size_t old = size();
    if (n > capacity()) grow_to(n > 2 * capacity() ? n : 2 * capacity());
    P* b = begin();
    for (size_t i = old; i < n; ++i) b[i] = nullptr;
    set_size(n);
  }

  void push_back(P p) {
    size_t n = size();
    if (n == capacity()) grow_to(2 * capacity());
    begin()[n] = p;
    set_size(n + 1);
  }

  // Removes element i; later elements move down by one.
  void erase(size_t i) {
    size_t n = size();
    P* b = begin();
    for (size_t k = i + 1; k < n; ++k) b[k - 1] = b[k];
    set_size(n - 1);
  }

  void clear() { set_size(0); }

  // Returns to the inline form when the entries fit, else to an exact heap block.
  void shrink_to_fit() {
    if (is_inline()) return;
    size_t n = size();
    P* old = reinterpret_cast<P*>(m_w[0]);
    if (n <= INLINE_CAPACITY) {
      P tmp[INLINE_CAPACITY] = {};
      for (size_t i = 0; i < n; ++i) tmp[i] = old[i];
      std::free(old);
      set_inline_size(n);
      std::memcpy(&m_w[1], tmp, sizeof tmp);
      return;
    }
    if (n == capacity()) return;
    P* blk = allocate(n);
    std::memcpy(blk, old, n * sizeof(P));
    std::free(old);
    set_heap(blk, n, n);
  }

 private:
  unsigned first_byte() const { return unsigned(m_w[0] & 0xffu); }
  // Word 1's address, laundered through an empty asm so that the compiler
  // does not bound indices of heap vectors by the 3-word inline array
  // (a false -Warray-bounds in callers).
  uintptr_t inline_address() const {
    uintptr_t a = reinterpret_cast<uintptr_t>(&m_w[1]);
    asm("" : "+r"(a));
    return a;
  }
  void set_inline_size(size_t n) { m_w[0] = uintptr_t(n << 1 | 1u); }
  void set_heap(P* blk, size_t n, size_t cap) {
    m_w[0] = reinterpret_cast<uintptr_t>(blk);
    m_w[1] = m_w[0] + n * sizeof(P);
    m_w[2] = m_w[0] + cap * sizeof(P);
    m_w[3] = 0;
  }
  void set_size(size_t n) {
    if (is_inline()) set_inline_size(n);
    else m_w[1] = m_w[0] + n * sizeof(P);
  }
  static P* allocate(size_t n) {
    void* p = std::malloc(n * sizeof(P));
    if (!p) throw std::bad_alloc();
    return static_cast<P*>(p);
  }
  void grow_to(size_t cap, size_t least = 2 * INLINE_CAPACITY) {
    if (cap < least) cap = least;
    size_t n = size();
    P* blk = allocate(cap);
    std::memcpy(blk, begin(), n * sizeof(P));
    if (!is_inline()) std::free(reinterpret_cast<void*>(m_w[0]));
    set_heap(blk, n, cap);
  }
  void release() {
    if (!is_inline()) std::free(reinterpret_cast<void*>(m_w[0]));
    set_inline_size(0);
  }
  void assign_from(const ZTL_COMPACT_PTR_VECTOR& other) {
    size_t n = other.size();
    reserve(n);
    if (n) std::memcpy(begin(), other.begin(), n * sizeof(P));
    set_size(n);
  }

  uintptr_t m_w[4];
};
