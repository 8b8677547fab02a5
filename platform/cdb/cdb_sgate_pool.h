// cdb_sgate_pool.h — the cell pool behind gates and terminals.
//
// Model: one process-wide arena hands out cells of a few fixed sizes
//   (multiples of 8 bytes up to kMaxPooledBytes; larger requests go to the
//   general allocator). Each thread keeps, per size, a free list and a span
//   of fresh cells carved from 64 KiB slabs, so allocation and release are a
//   pointer pop or push without a lock. A cell freed on another thread than
//   the one that made it joins that thread's free list; a thread that ends
//   hands its free cells and its unused span to the arena, which gives them
//   to the next thread that runs dry. Slabs are never returned to the system:
//   a gate or terminal may move from netlist to netlist and be destroyed in
//   any order after its netlist, so no slab can belong to one netlist.
// Layout gain: gates, input terminals and output terminals made one after
//   another sit one after another, each kind in its own slabs, so walks over
//   a netlist built in order touch memory in order; no per-object header.
// Sanitizer builds poison free cells and unused spans, so a use after
//   destruction is reported as it would be for the general allocator.
// Cost: O(1) per allocation and release; a slab or a refill from the arena
//   takes one lock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kavu_platform {

// Largest request served from the pool; larger ones use ::operator new.
inline constexpr size_t kMaxPooledBytes = 512;

void* cdb_pool_allocate(size_t bytes);
// `bytes` must be the size given to cdb_pool_allocate for p.
void cdb_pool_release(void* p, size_t bytes) noexcept;

// Cells allocated minus cells released by the calling thread since it
// started (cells handed over by ended threads are not counted again). A test
// compares two readings to prove that everything it made was freed.
int64_t cdb_pool_thread_balance();
// Bytes one object of `bytes` takes in the pool (its cell size), or `bytes`
// plus the general allocator's header when it is not pooled.
size_t cdb_pool_cell_bytes(size_t bytes);

}  // namespace kavu_platform
