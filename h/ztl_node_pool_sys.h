// ztl_node_pool_sys.h — the chunk allocator behind the light hash tables
// (ZTL_HASH_LITE, ZTL_HASH_SET_LITE), and the containers' check macro.
//
// Model: ZTL_NODE_POOL hands out blocks carved from zero-filled chunks and
//   never takes a block back; the pool is freed whole. Requests are rounded up
//   to a multiple of 8 bytes. Chunks start at a size fixed per pool and double
//   after every fourth chunk up to 4096 bytes; each chunk's real size is the
//   general allocator's size class of that size (ztl_node_pool_size_class),
//   so a pool that starts at 512 bytes makes 4 x 512, 4 x 1024, 4 x 2688 and
//   then 5376-byte chunks. A request of the current chunk size or more gets a
//   chunk of exactly its size.
// Invariant: the head of the chunk list is the chunk being carved; the others
//   follow in descending order of free bytes, and chunks with at most
//   `rest threshold` (7) free bytes sit at the tail, where they are never
//   looked at again.
// Cost: allocate is O(1) while the head or the second chunk has room; making
//   a chunk is one general allocation plus an O(chunks) walk to re-place the
//   old head.
#pragma once

#include <cstdint>
#include <cstring>
#include <new>

#include "msg/msg.h"

// Consistency check of the containers, evaluated in every build; a failure
// is an internal error carrying the condition's text.
#define ZTL_CHECK(cond)                                                         \
  do {                                                                          \
    if (!(cond)) MSG_INTERNAL_ERROR::report(#cond, "KAVU", __FILE__, __LINE__); \
  } while (0)

// Size class of the general allocator for a request of v bytes: the block
// size it would really hand out.
inline uint64_t ztl_node_pool_size_class(uint64_t v) {
  auto round_up = [](uint64_t x, uint64_t m) { return (x + m - 1) / m * m; };
  if (v <= 8) return 8;
  if (v <= 64) return round_up(v, 8);
  if (v <= 128) return round_up(v, 16);
  if (v <= 256) return round_up(v, 32);
  if (v <= 512) return round_up(v, 64);
  if (v <= 1024) return round_up(v, 128);
  if (v <= 1792) return 1792;
  if (v <= 2688) return 2688;
  if (v <= 4032) return 4032;
  if (v <= 5376) return 5376;
  if (v <= 8128) return 8128;
  // Least value >= v that is 40 less than a multiple of 64.
  return ((v + 103) / 64) * 64 - 40;
}

class ZTL_NODE_POOL {
 public:
  // A chunk's record; its memory follows the record in the same allocation.
  struct CHUNK {
    CHUNK* m_next;
    char* m_start;
    char* m_cursor;      // next free byte
    uint32_t m_free;     // free bytes from m_cursor on
    uint32_t m_size;     // bytes of memory, m_cursor - m_start + m_free
  };

  explicit ZTL_NODE_POOL(uint32_t first_chunk_size) : m_chunk_size(first_chunk_size) {
    ZTL_CHECK(first_chunk_size > 0);
  }
  ~ZTL_NODE_POOL() {
    CHUNK* c = m_head;
    while (c) {
      CHUNK* next = c->m_next;
      ::operator delete(c);
      c = next;
    }
  }
  ZTL_NODE_POOL(const ZTL_NODE_POOL&) = delete;
  ZTL_NODE_POOL& operator=(const ZTL_NODE_POOL&) = delete;

  // Returns n bytes (rounded up to a multiple of 8), zero-filled, 8-aligned.
  void* allocate(uint32_t n) {
    const uint64_t rounded = (static_cast<uint64_t>(n) + 7) & ~static_cast<uint64_t>(7);
    ZTL_CHECK(rounded <= 0xfffffff8u);
    const uint32_t size = static_cast<uint32_t>(rounded);
    if (m_head && m_head->m_free >= size) return carve(m_head, size);
    if (m_head && m_head->m_next && m_head->m_next->m_free >= size) return carve_from_second(size);
    return carve_from_new_chunk(size);
  }

  // Walks of the chunk list, for statistics and tests.
  uint32_t chunk_count() const {
    uint32_t n = 0;
    for (const CHUNK* c = m_head; c; c = c->m_next) ++n;
    return n;
  }
  uint64_t total_chunk_bytes() const {
    uint64_t n = 0;
    for (const CHUNK* c = m_head; c; c = c->m_next) n += c->m_size;
    return n;
  }
  const CHUNK* first_chunk() const { return m_head; }
  uint32_t current_chunk_size() const { return m_chunk_size; }

 private:
  static constexpr uint32_t MAX_CHUNK_SIZE = 4096;
  static constexpr uint32_t REST_THRESHOLD = 7;
  static constexpr uint8_t COUNTDOWN_RESET = 4;
  // Keeps chunk memory 16-aligned behind its record.
  static constexpr size_t RECORD_BYTES = (sizeof(CHUNK) + 15) & ~static_cast<size_t>(15);

  static void* carve(CHUNK* c, uint32_t size) {
    char* p = c->m_cursor;
    c->m_cursor += size;
    c->m_free -= size;
    return p;
  }

  void* carve_from_second(uint32_t size) {
    CHUNK* old_head = m_head;
    m_head = old_head->m_next;  // the second chunk exists, so old_head was not the tail
    void* p = carve(m_head, size);
    replace(old_head);
    return p;
  }

  void* carve_from_new_chunk(uint32_t size) {
    uint64_t bytes = size;
    if (size < m_chunk_size) {
      bytes = ztl_node_pool_size_class(m_chunk_size);
      if (--m_countdown == 0) {
        m_countdown = COUNTDOWN_RESET;
        // A pool that started above the maximum keeps its size rather than
        // shrinking to the maximum.
        if (m_chunk_size < MAX_CHUNK_SIZE) {
          m_chunk_size = m_chunk_size * 2 < MAX_CHUNK_SIZE ? m_chunk_size * 2 : MAX_CHUNK_SIZE;
        }
      }
    }
    CHUNK* c = make_chunk(bytes);
    void* p = carve(c, size);
    if (c->m_free <= REST_THRESHOLD || !m_head) {
      append(c);
    } else {
      CHUNK* old_head = m_head;
      c->m_next = old_head->m_next;
      m_head = c;
      if (m_tail == old_head) m_tail = c;
      replace(old_head);
    }
    return p;
  }

  static CHUNK* make_chunk(uint64_t bytes) {
    ZTL_CHECK(bytes <= 0xffffffffu);
    void* mem = ::operator new(RECORD_BYTES + bytes);
    CHUNK* c = static_cast<CHUNK*>(mem);
    c->m_next = nullptr;
    c->m_start = static_cast<char*>(mem) + RECORD_BYTES;
    std::memset(c->m_start, 0, bytes);
    c->m_cursor = c->m_start;
    c->m_free = static_cast<uint32_t>(bytes);
    c->m_size = static_cast<uint32_t>(bytes);
    return c;
  }

  void append(CHUNK* c) {
    c->m_next = nullptr;
    if (!m_head) {
      m_head = m_tail = c;
    } else {
      m_tail->m_next = c;
      m_tail = c;
    }
  }

  // Puts a chunk that is not in the list back into it behind the head, before
  // the first chunk with no more free bytes than it; nearly full chunks go to
  // the tail.
  void replace(CHUNK* c) {
    if (!m_head || c->m_free <= REST_THRESHOLD) {
      append(c);
      return;
    }
    CHUNK* prev = m_head;
    for (CHUNK* p = m_head->m_next; p; prev = p, p = p->m_next) {
      if (p->m_free <= c->m_free) {
        c->m_next = p;
        prev->m_next = c;
        return;
      }
    }
    append(c);
  }

  uint8_t m_countdown = COUNTDOWN_RESET;
  uint32_t m_chunk_size;
  CHUNK* m_head = nullptr;
  CHUNK* m_tail = nullptr;
};
