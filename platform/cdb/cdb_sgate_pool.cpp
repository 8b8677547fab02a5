// cdb_sgate_pool.cpp — the cell pool of gates and terminals (model in
// cdb_sgate_pool.h) and the class allocation functions that route gates and
// terminals into it.
#include "cdb/cdb_sgate_pool.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate_node.h"
#include "thr/thr_fork_int.h"

#if defined(__SANITIZE_ADDRESS__)
#define KAVU_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KAVU_POOL_ASAN 1
#endif
#endif

#ifndef KAVU_POOL_ASAN
#define KAVU_POOL_ASAN 0
#endif

// Slabs carved from huge-page chunks (see new_slab) on Linux, except under a
// leak checker, which scans only the general allocator's blocks for pointers.
#if defined(__linux__) && !KAVU_POOL_ASAN && !defined(__SANITIZE_LEAK__)
#define KAVU_POOL_HUGE_CHUNKS 1
#include <sys/mman.h>
#include <sys/resource.h>
#else
#define KAVU_POOL_HUGE_CHUNKS 0
#endif

#if KAVU_POOL_ASAN
#include <sanitizer/asan_interface.h>
#define POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define POOL_POISON(p, n) ((void)(p), (void)(n))
#define POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace kavu_platform {
namespace {

constexpr size_t kGrain = 8;
constexpr size_t kClasses = kMaxPooledBytes / kGrain;
constexpr size_t kSlabBytes = size_t(64) << 10;
// Pairs place the gate this many bytes into a cache line (see
// cdb_pool_allocate_with_partner).
constexpr uintptr_t kCacheLine = 64, kPairGateLine = 40;

struct FREE_CELL {
  FREE_CELL* m_next;
};

size_t class_of(size_t bytes) { return bytes == 0 ? 0 : (bytes - 1) / kGrain; }
size_t cell_size(size_t cls) { return (cls + 1) * kGrain; }

// Cells and spans given back by ended threads, and every slab ever made (the
// slabs stay reachable from here for leak checkers). Never destroyed: cells
// may be released by static destructors after this file's statics are gone.
struct PAIR_CELL;
struct ARENA {
  std::mutex m_lock;
  FREE_CELL* m_free[kClasses] = {};
  // Freed pairs by the class of their upper cell, in order of release, as
  // ended threads left them: the next thread that makes such gates takes
  // them whole.
  PAIR_CELL* m_pairs[kClasses] = {};
  PAIR_CELL* m_pairs_last[kClasses] = {};
  std::vector<void*> m_slabs;
  char* m_chunk_next = nullptr;  // the unused rest of the current huge-page chunk
  char* m_chunk_end = nullptr;
  char* m_reserve_next = nullptr;  // the reserved address range chunks come from
  char* m_reserve_end = nullptr;
  bool m_reserve_failed = false;  // the system refused a range: slabs come from the heap
  size_t m_chunks_opened = 0;
};

void forget_slots_in_child();

ARENA& arena() {
  static ARENA* a = [] {
    ARENA* made = new ARENA;
    thr_lock_across_fork(&made->m_lock, THR_FORK_POOL, forget_slots_in_child);
    return made;
  }();
  return *a;
}
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_arena_at_load = (arena(), true);

// Sanitizer builds hold released cells back in a ring of the thread's last
// kQuarantine releases before they are handed out again, as the sanitizer's
// own allocator does: a stale pointer then meets a poisoned cell rather than
// a new object that happens to sit at the same address.
constexpr size_t kQuarantine = KAVU_POOL_ASAN ? size_t(1) << 16 : 0;

// A freed pair: the lower (partner) cell links the list and names its own
// class; the upper cell follows it.
struct PAIR_CELL {
  PAIR_CELL* m_next;
  size_t m_partner_class;
};

struct HELD_CELL {
  void* m_cell;
  size_t m_class;
};

struct THREAD_CACHE {
  FREE_CELL* m_free[kClasses];
  char* m_next[kClasses];
  char* m_end[kClasses];
  int64_t m_balance;
  bool m_registered;
  bool m_ended;  // the thread is ending: its slot is left for good
  HELD_CELL* m_held;  // the quarantine ring (sanitizer builds), made on first release
  size_t m_held_next;
  char* m_pair_next;  // the span that gates and their partner cells come from
  char* m_pair_end;
  void* m_partner;  // the partner cell waiting for its terminal (poisoned), or null
  size_t m_partner_class;
  // Freed pairs by the class of their upper cell, in order of release: gates
  // made again then lie in the order their predecessors were made.
  PAIR_CELL* m_pairs[kClasses];
  PAIR_CELL* m_pairs_last[kClasses];
};

// The thread's cache, zero-initialised, no constructor, in the default
// (dynamic) thread-local model, never initial-exec: a library with
// initial-exec thread-locals is marked STATIC_TLS and needs its whole
// thread-local block in the room the C library keeps for modules loaded
// later (about 1.6 KB, less than this cache), so a host could not load it
// with dlopen. A use of the dynamic model is a call (__tls_get_addr) that
// costs more than the rest of an allocation, so the fast path finds the
// cache from the thread pointer (one register read) instead.
thread_local THREAD_CACHE t_cache;

// Where the library's thread-local block lies at one offset from every
// thread's pointer (the library came with the program, or the loader gave
// it static room), a thread's cache is at that offset: g_offset, set by the
// first thread to reach its cache and never changed. A thread that finds
// its own cache there writes its thread pointer into its slot; the fast
// path checks the slot and takes the cache at the offset. A slot holds only
// the pointer of a thread that checked, since a thread writes no pointer
// but its own; no two live threads share a pointer, and a thread clears its
// slot as it ends (THREAD_EXIT), before its pointer can be reused. A thread
// whose block lies elsewhere (loaded with dlopen into dynamic room), or
// whose slot another thread took, reaches its cache through the
// thread-local.
constexpr size_t kSlotBits = 10;
std::atomic<uintptr_t> g_slots[size_t(1) << kSlotBits];
constexpr intptr_t kNoOffset = INTPTR_MIN;
std::atomic<intptr_t> g_offset{kNoOffset};

// Every cache that cache() returns is registered (its cells go back to the
// arena when the thread ends), so a thread that only frees cells gives them
// back too, and the release paths need no check of their own.
void register_thread(THREAD_CACHE& c);

#if defined(__x86_64__) || defined(__aarch64__)
inline uintptr_t thread_pointer() {
  uintptr_t tp;
#if defined(__x86_64__)
  asm("mov %%fs:0, %0" : "=r"(tp));
#else
  asm("mrs %0, tpidr_el0" : "=r"(tp));
#endif
  return tp;
}

// Threads made one after another lie a stack apart, whatever the stack's
// size: the top bits of the thread pointer's low 32 bits times an odd
// constant depend on each of those bits, and tell them apart. A multiply
// and a shift, since the check is on every public call.
inline std::atomic<uintptr_t>& slot_of(uintptr_t tp) {
  return g_slots[uint32_t(uint32_t(tp) * 0x9E3779B9u) >> (32 - kSlotBits)];
}

// The thread's cache through the thread-local; the slot taken when the
// cache lies at the common offset, unless the thread is ending.
[[gnu::noinline]] THREAD_CACHE& cache_slow(uintptr_t tp) {
  THREAD_CACHE& c = t_cache;
  if (c.m_ended) return c;
  register_thread(c);  // clears the slot as the thread ends
  const intptr_t offset = static_cast<intptr_t>(reinterpret_cast<uintptr_t>(&c) - tp);
  intptr_t none = kNoOffset;
  g_offset.compare_exchange_strong(none, offset, std::memory_order_relaxed);
  if (g_offset.load(std::memory_order_relaxed) == offset) slot_of(tp).store(tp, std::memory_order_relaxed);
  return c;
}

// True when the thread's slot holds its pointer: its cache is at the
// common offset.
inline bool has_slot(uintptr_t tp) { return slot_of(tp).load(std::memory_order_relaxed) == tp; }

inline THREAD_CACHE& cache_at_offset(uintptr_t tp) {
  return *reinterpret_cast<THREAD_CACHE*>(tp + static_cast<uintptr_t>(g_offset.load(std::memory_order_relaxed)));
}

inline THREAD_CACHE& cache() {
  const uintptr_t tp = thread_pointer();
  if (has_slot(tp)) [[likely]]
    return cache_at_offset(tp);
  return cache_slow(tp);
}

// F(cache, args...) for a public call. The thread-local path is a call of
// its own that runs F too: were it a call in the middle of the public one,
// that call would keep its arguments in saved registers, restored on every
// return, fast path or not.
template <auto F, class... ARGS>
[[gnu::noinline]] auto on_cache_slow(uintptr_t tp, ARGS... args) {
  return F(cache_slow(tp), args...);
}

template <auto F, class... ARGS>
inline auto on_cache(ARGS... args) {
  const uintptr_t tp = thread_pointer();
  if (has_slot(tp)) [[likely]]
    return F(cache_at_offset(tp), args...);
  return on_cache_slow<F>(tp, args...);
}

void leave_slot() {
  uintptr_t tp = thread_pointer();
  slot_of(tp).compare_exchange_strong(tp, 0, std::memory_order_relaxed);
}
#else
inline THREAD_CACHE& cache() {
  THREAD_CACHE& c = t_cache;
  register_thread(c);
  return c;
}

template <auto F, class... ARGS>
inline auto on_cache(ARGS... args) {
  return F(cache(), args...);
}
void leave_slot() {}
#endif

// In a forked child only the forking thread runs: the slots of the others
// are cleared before another thread can be given one of their pointers.
void forget_slots_in_child() {
  for (std::atomic<uintptr_t>& slot : g_slots) slot.store(0, std::memory_order_relaxed);
}

void hand_back(THREAD_CACHE& c);

// Hands the thread's cells to the arena when the thread ends; a cell used
// after that (by a later thread-local destructor) is the thread-local's.
struct THREAD_EXIT {
  ~THREAD_EXIT() {
    leave_slot();
    t_cache.m_ended = true;
    hand_back(t_cache);
  }
};

void push_free(FREE_CELL*& head, void* p, size_t size) {
  FREE_CELL* cell = static_cast<FREE_CELL*>(p);
  cell->m_next = head;
  head = cell;
  POOL_POISON(p, size);
}

// Cuts [p, end) into cells of class cls on the free list `head`; a tail
// shorter than a cell is left unused.
void carve_free(FREE_CELL*& head, char* p, char* end, size_t cls) {
  const size_t size = cell_size(cls);
  for (; p && p + size <= end; p += size) {
    POOL_UNPOISON(p, size);
    push_free(head, p, size);
  }
}

void hand_back(THREAD_CACHE& c) {
  ARENA& a = arena();
  std::lock_guard<std::mutex> guard(a.m_lock);
  if (c.m_partner) {
    const size_t size = cell_size(c.m_partner_class);
    POOL_UNPOISON(c.m_partner, size);
    push_free(a.m_free[c.m_partner_class], c.m_partner, size);
    c.m_partner = nullptr;
  }
  carve_free(a.m_free[c.m_partner_class], c.m_pair_next, c.m_pair_end, c.m_partner_class);
  c.m_pair_next = c.m_pair_end = nullptr;
  // The thread's freed pairs stay pairs, after those the arena holds.
  for (size_t cls = 0; cls < kClasses; ++cls) {
    PAIR_CELL* first = std::exchange(c.m_pairs[cls], nullptr);
    PAIR_CELL* last = std::exchange(c.m_pairs_last[cls], nullptr);
    if (!first) continue;
    if (PAIR_CELL* tail = a.m_pairs_last[cls]) {
      POOL_UNPOISON(tail, sizeof(PAIR_CELL));
      tail->m_next = first;
      POOL_POISON(tail, sizeof(PAIR_CELL));
    } else {
      a.m_pairs[cls] = first;
    }
    a.m_pairs_last[cls] = last;
  }
  if (c.m_held) {
    for (size_t i = 0; i < kQuarantine; ++i)
      if (void* cell = c.m_held[i].m_cell) {
        const size_t size = cell_size(c.m_held[i].m_class);
        POOL_UNPOISON(cell, size);
        push_free(a.m_free[c.m_held[i].m_class], cell, size);
      }
    ::operator delete(c.m_held);
    c.m_held = nullptr;
  }
  for (size_t cls = 0; cls < kClasses; ++cls) {
    const size_t size = cell_size(cls);
    while (FREE_CELL* cell = c.m_free[cls]) {
      POOL_UNPOISON(cell, size);
      c.m_free[cls] = cell->m_next;
      push_free(a.m_free[cls], cell, size);
    }
    for (char* p = c.m_next[cls]; p && p + size <= c.m_end[cls]; p += size) {
      POOL_UNPOISON(p, size);
      push_free(a.m_free[cls], p, size);
    }
    c.m_next[cls] = c.m_end[cls] = nullptr;
  }
}

void register_thread(THREAD_CACHE& c) {
  if (!c.m_registered) {
    c.m_registered = true;
    static thread_local THREAD_EXIT on_exit;
    (void)on_exit;
  }
}

#if KAVU_POOL_HUGE_CHUNKS
// Slabs are cut from 2 MiB chunks aligned to their size, which the system
// is asked to back with huge pages: a walk over a large netlist then needs
// one address translation per 2 MiB rather than per 4 KiB (the sweep and
// collection of 2*10^5 gates gained about a tenth). The chunks are taken in
// rising order from a range of address space reserved on first use (no
// memory behind it until a chunk is opened), so slabs made later lie higher
// and gates made in order still lie in order. A range used up is followed
// by another, asked for just above it. Null when the system refuses a range
// or a chunk (the caller falls back to the general allocator).
//
// A reserved range counts against an address-space limit (RLIMIT_AS, "ulimit
// -v") although nothing backs it, so under a limit the range is an eighth of
// the limit rather than 64 GiB: the 64 GiB range would fail under any limit
// below it, and just above one it would leave the rest of the process
// almost nothing.
constexpr size_t kChunkBytes = size_t(2) << 20;
constexpr size_t kReserveBytes = size_t(64) << 30;
constexpr size_t kLimitShare = 8;
static_assert(kChunkBytes % kSlabBytes == 0, "a chunk holds whole slabs");
constexpr size_t kPlainChunks = 4;

// Whole chunks: kReserveBytes without an address-space limit, else the
// limit's share (at least one chunk).
size_t range_bytes() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kReserveBytes;
  const size_t share = size_t(limit.rlim_cur / kLimitShare) & ~(kChunkBytes - 1);
  return std::clamp(share, kChunkBytes, kReserveBytes);
}

// Reserves the next range, aligned to a chunk; the hint (the end of the
// range before) keeps the ranges rising where the space above is free.
bool reserve_range(ARENA& a) {
  const size_t bytes = range_bytes();
  void* raw = mmap(a.m_reserve_end, bytes + kChunkBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (raw == MAP_FAILED) return false;
  const uintptr_t begin = reinterpret_cast<uintptr_t>(raw);
  a.m_reserve_next = reinterpret_cast<char*>((begin + kChunkBytes - 1) & ~uintptr_t(kChunkBytes - 1));
  a.m_reserve_end = a.m_reserve_next + bytes;
  return true;
}

char* slab_from_chunk(ARENA& a) {
  if (a.m_chunk_next == a.m_chunk_end) {
    if (a.m_reserve_failed) return nullptr;
    if (a.m_reserve_next == a.m_reserve_end && !reserve_range(a)) {
      a.m_reserve_failed = true;
      return nullptr;
    }
    char* chunk = a.m_reserve_next;
    if (mprotect(chunk, kChunkBytes, PROT_READ | PROT_WRITE) != 0) return nullptr;
    // A hint: without it the chunk has plain pages. The first chunks keep
    // plain pages, since a huge page is resident as a whole once touched and
    // would raise the peak of small runs by up to 2 MiB per size in use.
    if (a.m_chunks_opened++ >= kPlainChunks) madvise(chunk, kChunkBytes, MADV_HUGEPAGE);
    a.m_reserve_next += kChunkBytes;
    a.m_chunk_next = chunk;
    a.m_chunk_end = chunk + kChunkBytes;
  }
  char* slab = a.m_chunk_next;
  a.m_chunk_next += kSlabBytes;
  return slab;
}
#endif

// A fresh slab, poisoned; the caller holds the arena's lock.
char* new_slab(ARENA& a) {
  // Room to record the slab is made first: a slab the arena could not
  // record would never be freed.
  if (a.m_slabs.size() == a.m_slabs.capacity()) a.m_slabs.reserve(std::max<size_t>(16, 2 * a.m_slabs.capacity()));
  char* slab = nullptr;
#if KAVU_POOL_HUGE_CHUNKS
  slab = slab_from_chunk(a);
#endif
  if (!slab) slab = static_cast<char*>(::operator new(kSlabBytes));
  a.m_slabs.push_back(slab);
  POOL_POISON(slab, kSlabBytes);
  return slab;
}

[[gnu::always_inline]] inline void* allocate_in(THREAD_CACHE& c, size_t bytes);

// The slow path: cells from the arena, else a fresh slab as the span.
void* refill(THREAD_CACHE& c, size_t cls) {
  register_thread(c);
  const size_t size = cell_size(cls);
  ARENA& a = arena();
  {
    std::lock_guard<std::mutex> guard(a.m_lock);
    if (a.m_free[cls]) {
      c.m_free[cls] = a.m_free[cls];
      a.m_free[cls] = nullptr;
    } else {
      char* slab = new_slab(a);
      c.m_next[cls] = slab;
      c.m_end[cls] = slab + kSlabBytes;
    }
  }
  return allocate_in(c, size);
}

// The allocation and release of cdb_pool_allocate and cdb_pool_release on
// the calling thread's cache: each public call reaches the cache once. The
// fast paths of the public calls are inlined into them whole.
[[gnu::always_inline]] inline void* allocate_in(THREAD_CACHE& c, size_t bytes) {
  if (bytes > kMaxPooledBytes) return ::operator new(bytes);
  const size_t cls = class_of(bytes);
  const size_t size = cell_size(cls);
  if (FREE_CELL* cell = c.m_free[cls]) {
    POOL_UNPOISON(cell, size);
    c.m_free[cls] = cell->m_next;
    ++c.m_balance;
    return cell;
  }
  char* p = c.m_next[cls];
  if (p && p + size <= c.m_end[cls]) {
    c.m_next[cls] = p + size;
    POOL_UNPOISON(p, size);
    ++c.m_balance;
    return p;
  }
  return refill(c, cls);
}

void release_in(THREAD_CACHE& c, void* p, size_t bytes) noexcept {
  if (!p) return;
  if (bytes > kMaxPooledBytes) {
    ::operator delete(p);
    return;
  }
  size_t cls = class_of(bytes);
  --c.m_balance;
  if (kQuarantine) {
    if (!c.m_held) {
      c.m_held = static_cast<HELD_CELL*>(::operator new(kQuarantine * sizeof(HELD_CELL)));
      std::fill_n(c.m_held, kQuarantine, HELD_CELL{nullptr, 0});
    }
    HELD_CELL& slot = c.m_held[c.m_held_next];
    POOL_POISON(p, cell_size(cls));
    std::swap(slot.m_cell, p);
    std::swap(slot.m_class, cls);
    if (++c.m_held_next == kQuarantine) c.m_held_next = 0;
    if (!p) return;
    POOL_UNPOISON(p, cell_size(cls));
  }
  push_free(c.m_free[cls], p, cell_size(cls));
}

void* allocate_pair_from_span(THREAD_CACHE& c, size_t bytes, size_t partner_bytes);

[[gnu::always_inline]] inline void* allocate_with_partner_in(THREAD_CACHE& c, size_t bytes, size_t partner_bytes) {
  if (bytes > kMaxPooledBytes || partner_bytes > kMaxPooledBytes) return allocate_in(c, bytes);
  const size_t cls = class_of(bytes);
  if (c.m_partner) [[unlikely]]
    return allocate_in(c, bytes);
  const size_t partner_cls = class_of(partner_bytes);
  const size_t size = cell_size(cls), partner_size = cell_size(partner_cls);
  if (PAIR_CELL* pair = c.m_pairs[cls]) {
    POOL_UNPOISON(pair, sizeof(PAIR_CELL));
    if (pair->m_partner_class == partner_cls) {
      c.m_pairs[cls] = pair->m_next;
      if (!c.m_pairs[cls]) c.m_pairs_last[cls] = nullptr;
      POOL_POISON(pair, sizeof(PAIR_CELL));
      char* upper = reinterpret_cast<char*>(pair) + partner_size;
      POOL_UNPOISON(upper, size);
      c.m_partner = pair;
      c.m_partner_class = partner_cls;
      ++c.m_balance;
      return upper;
    }
    POOL_POISON(pair, sizeof(PAIR_CELL));
  }
  if (c.m_free[cls]) return allocate_in(c, bytes);
  return allocate_pair_from_span(c, bytes, partner_bytes);
}

// A new pair from the thread's pair span, renewed when used up (out of
// line: the pair allocation's fast path, inlined into its public call,
// then saves no registers for it).
[[gnu::noinline]] void* allocate_pair_from_span(THREAD_CACHE& c, size_t bytes, size_t partner_bytes) {
  const size_t cls = class_of(bytes), partner_cls = class_of(partner_bytes);
  const size_t size = cell_size(cls), partner_size = cell_size(partner_cls);
  // The gate starts kPairGateLine bytes into a cache line, so that the tail
  // of the terminal below it and the gate's first words share that line.
  const auto aligned = [&](char* at) {
    const uintptr_t gate = reinterpret_cast<uintptr_t>(at) + partner_size;
    return at + ((kPairGateLine - gate) & (kCacheLine - 1));
  };
  char* p = c.m_pair_next ? aligned(c.m_pair_next) : nullptr;
  if (!p || p + partner_size + size > c.m_pair_end) {
    register_thread(c);
    // The old span's tail becomes free partner cells (the classes of the
    // pairs a thread makes seldom change).
    carve_free(c.m_free[partner_cls], p, c.m_pair_end, partner_cls);
    c.m_pair_next = c.m_pair_end = nullptr;
    ARENA& a = arena();
    std::unique_lock<std::mutex> guard(a.m_lock);
    // Pairs that ended threads freed come before a new slab (a thread that
    // deletes netlists on behalf of another leaves its gates there).
    if (a.m_pairs[cls]) {
      c.m_pairs[cls] = std::exchange(a.m_pairs[cls], nullptr);
      c.m_pairs_last[cls] = std::exchange(a.m_pairs_last[cls], nullptr);
      guard.unlock();
      return allocate_with_partner_in(c, bytes, partner_bytes);
    }
    p = new_slab(a);
    c.m_pair_end = p + kSlabBytes;
    p = aligned(p);
  }
  c.m_pair_next = p + partner_size + size;
  c.m_partner = p;
  c.m_partner_class = partner_cls;
  POOL_UNPOISON(p + partner_size, size);
  ++c.m_balance;
  return p + partner_size;
}

void* allocate_partner_in(THREAD_CACHE& c, size_t bytes) {
  if (c.m_partner && bytes <= kMaxPooledBytes && class_of(bytes) == c.m_partner_class) [[likely]] {
    void* p = c.m_partner;
    c.m_partner = nullptr;
    POOL_UNPOISON(p, cell_size(c.m_partner_class));
    ++c.m_balance;
    return p;
  }
  return allocate_in(c, bytes);
}

void release_with_partner_in(THREAD_CACHE& c, void* p, size_t bytes, size_t partner_bytes) noexcept {
  if (bytes > kMaxPooledBytes || partner_bytes > kMaxPooledBytes || kQuarantine) {
    release_in(c, p, bytes);
    return;
  }
  const size_t cls = class_of(bytes), partner_cls = class_of(partner_bytes);
  const size_t partner_size = cell_size(partner_cls);
  FREE_CELL* below = c.m_free[partner_cls];
  if (!below || reinterpret_cast<char*>(below) + partner_size != p) [[unlikely]] {
    release_in(c, p, bytes);
    return;
  }
  // The cell just below was released last: keep the two together.
  POOL_UNPOISON(below, sizeof(FREE_CELL));
  c.m_free[partner_cls] = below->m_next;
  PAIR_CELL* pair = reinterpret_cast<PAIR_CELL*>(below);
  pair->m_next = nullptr;
  pair->m_partner_class = partner_cls;
  POOL_POISON(pair, partner_size + cell_size(cls));
  if (PAIR_CELL* last = c.m_pairs_last[cls]) {
    POOL_UNPOISON(last, sizeof(PAIR_CELL));
    last->m_next = pair;
    POOL_POISON(last, sizeof(PAIR_CELL));
  } else {
    c.m_pairs[cls] = pair;
  }
  c.m_pairs_last[cls] = pair;
  --c.m_balance;
}

}  // namespace

void* cdb_pool_allocate(size_t bytes) { return on_cache<allocate_in>(bytes); }

void cdb_pool_release(void* p, size_t bytes) noexcept {
  if (p) on_cache<release_in>(p, bytes);
}

void* cdb_pool_allocate_with_partner(size_t bytes, size_t partner_bytes) {
  return on_cache<allocate_with_partner_in>(bytes, partner_bytes);
}

void* cdb_pool_allocate_partner(size_t bytes) { return on_cache<allocate_partner_in>(bytes); }

void cdb_pool_release_with_partner(void* p, size_t bytes, size_t partner_bytes) noexcept {
  if (p) on_cache<release_with_partner_in>(p, bytes, partner_bytes);
}

int64_t cdb_pool_thread_balance() { return cache().m_balance; }

size_t cdb_pool_slab_bytes() {
  ARENA& a = arena();
  std::lock_guard<std::mutex> guard(a.m_lock);
  return a.m_slabs.size() * kSlabBytes;
}

size_t cdb_pool_cell_bytes(size_t bytes) {
  if (bytes > kMaxPooledBytes) return (bytes + 8 + 15) / 16 * 16;  // the general allocator's header and rounding
  return cell_size(class_of(bytes));
}

}  // namespace kavu_platform

// ---------------------------------------------------------------------------
// Gates and terminals come from the pool. The size a class deallocation
// function receives is the dynamic type's (gates have a virtual destructor),
// so kind classes of any size share the base class's pair.

void* CDB_SGATE_NODE::operator new(size_t bytes) {
  return kavu_platform::cdb_pool_allocate_with_partner(bytes, sizeof(CDB_SGATE_OTERM));
}
void CDB_SGATE_NODE::operator delete(void* p, size_t bytes) noexcept {
  kavu_platform::cdb_pool_release_with_partner(p, bytes, sizeof(CDB_SGATE_OTERM));
}
void* CDB_SGATE_ITERM::operator new(size_t bytes) { return kavu_platform::cdb_pool_allocate(bytes); }
void CDB_SGATE_ITERM::operator delete(void* p, size_t bytes) noexcept { kavu_platform::cdb_pool_release(p, bytes); }
void* CDB_SGATE_OTERM::operator new(size_t bytes) { return kavu_platform::cdb_pool_allocate_partner(bytes); }
void CDB_SGATE_OTERM::operator delete(void* p, size_t bytes) noexcept { kavu_platform::cdb_pool_release(p, bytes); }
