// Role: threads, pipes and processes (docs/platform.md, "Threads, pipes and processes").
// thr_fork_int.h — the layer's locks kept whole across fork().
//
// A process that forks while another of its threads holds a lock gives its
// child that lock held by a thread the child does not have: the child's
// first use of it waits for ever, and the data behind it may be half
// changed. Each lock entered here is taken by the forking thread before the
// fork and let go after it, in the parent and in the child, so the child
// gets it free, with its data as a whole critical section left it: the
// discipline the C library keeps for its allocator, whose locks it takes
// after these. Locks are taken by rank, outermost first, in the order their
// holders nest them; each is held briefly and never across a wait for
// another thread, since every fork of the process waits for it. A thread
// that forks must hold none of them.
#pragma once

#include <mutex>

enum THR_FORK_RANK : int {
  THR_FORK_TCL,          // atcl: the interpreter while it is made or asked for a package
  THR_FORK_PIPE_DIR,     // thr_ipc: the pipe directory (its holder takes THR_FORK_SIGNALS)
  THR_FORK_IPC,          // thr_ipc: live helpers, dispatchers, helper messages
  THR_FORK_DEBUG,        // msg_debug: captures and the debug file (its holder reads THR_FORK_CFG)
  THR_FORK_REGISTRY,     // pdb: the record types
  THR_FORK_HIERARCHIES,  // cdb: the hierarchies of gates read from archives
  THR_FORK_TIMING,       // ssc: unwritten timing netlists, posted warnings, kept constraint reads
  THR_FORK_NETLIST_IO,   // netlist_io: the .subckt handlers, the oracles' process groups
  THR_FORK_POOL,         // cdb: the gate cell pool
  THR_FORK_GEN,          // gen: profiler totals, tags, the database directory
  THR_FORK_MEM,          // mem: client tags
  THR_FORK_CFG,          // cfg: configuration keys
  THR_FORK_MSG,          // msg: the log, the queue, ids and suppressions
  THR_FORK_SIGNALS,      // thr_end_signal: installing and putting back handlers
  THR_FORK_FILES,        // fio: the files this process made where others' files are kept
  THR_FORK_OWN_CHILDREN, // thr: the keepers of the library's own children
  THR_FORK_RANKS
};

// Enters `mutex` (for the process's life); `in_child`, when given, runs in
// the child before the mutex is let go, on data no other thread changes.
// At most 64 locks. Thread-safe.
void thr_lock_across_fork(std::mutex* mutex, THR_FORK_RANK rank, void (*in_child)() = nullptr);
