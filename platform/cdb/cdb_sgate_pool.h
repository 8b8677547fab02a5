// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Memory layout").
// cdb_sgate_pool.h — the cell pool behind gates and terminals.
//
// Model: one process-wide arena hands out cells of a few fixed sizes
//   (multiples of 8 bytes up to kMaxPooledBytes; larger requests go to the
//   general allocator). Each thread keeps, per size, a free list and a span
//   of fresh cells carved from 64 KiB slabs, so allocation and release are a
//   pointer pop or push without a lock. A cell freed on another thread than
//   the one that made it joins that thread's free list; a thread that ends
//   (one that only freed cells too) hands its free cells and its unused span
//   to the arena, which gives them to the next thread that runs dry, gates
//   included: a gate takes the arena's free cells of its size before a new
//   slab. Slabs are never returned to the system:
//   a gate or terminal may move from netlist to netlist and be destroyed in
//   any order after its netlist, so no slab can belong to one netlist.
//   On Linux (outside sanitizer builds) slabs are cut from 2 MiB chunks
//   aligned to their size and backed with huge pages where the system allows;
//   the chunks come in rising order from a reserved address range, sized to
//   an eighth of the address-space limit when one is set.
// Layout gain: gates, input terminals and output terminals made one after
//   another sit one after another, each kind in its own slabs, so walks over
//   a netlist built in order touch memory in order; no per-object header.
// Pairs: a gate takes its cell together with a cell for its first output
//   terminal just below it, from a span of its own; the terminal cell waits
//   for the thread's next output terminal. A gate with a terminal then sits
//   right after the terminal's tail, which is where a walk from gates to
//   their readers reads both (the terminal keeps those fields last, the
//   gate its output list first); a new pair is placed so that the gate
//   starts 40 bytes into a cache line, which puts both in one line. A gate
//   released right after the terminal
//   below it (a gate's destructor destroys its terminals first) gives the
//   two back as a pair; gates take freed pairs first, then free cells (the
//   thread's, then those ended threads gave the arena), then new pairs, so
//   gates made again after others were destroyed on the same thread still
//   come in pairs. A gate made while a terminal cell still waits takes a
//   single cell.
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
// A cell of `bytes` with a cell of `partner_bytes` kept just below it for
// the next cdb_pool_allocate_partner on this thread (see Pairs above).
void* cdb_pool_allocate_with_partner(size_t bytes, size_t partner_bytes);
// The waiting partner cell when it has this size, else cdb_pool_allocate.
void* cdb_pool_allocate_partner(size_t bytes);
// Releases p (of `bytes`); when the thread's last released cell of
// `partner_bytes` lies just below p, the two are kept as a pair that the
// next cdb_pool_allocate_with_partner of this size hands out again.
void cdb_pool_release_with_partner(void* p, size_t bytes, size_t partner_bytes) noexcept;

// Cells allocated minus cells released by the calling thread since it
// started (cells handed over by ended threads are not counted again). A test
// compares two readings to prove that everything it made was freed.
int64_t cdb_pool_thread_balance();
// Bytes one object of `bytes` takes in the pool (its cell size), or `bytes`
// plus the general allocator's header when it is not pooled.
size_t cdb_pool_cell_bytes(size_t bytes);
// Bytes of the slabs the pool has taken from the system so far (they are
// never given back). A test compares two readings to prove that work done
// again reuses the cells of the work before it.
size_t cdb_pool_slab_bytes();

}  // namespace kavu_platform
