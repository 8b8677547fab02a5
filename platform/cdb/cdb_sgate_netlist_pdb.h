// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Netlist archive").
// cdb_sgate_netlist_pdb.h — the gate netlist as a record of the persistence
// archive (pdb_write_ptr / pdb_read_ptr with cdb_sgate_netlist_ptr_field).
//
// Carried, for every gate kind of the database (generic gates, pins,
//   boundaries, state buffers, device atoms with RAM-block modes and
//   on-demand ports, operators with their port tables, components with
//   ports and parameters, asynchronous and synchronous RAMs):
//   - each gate's kind data (RAM-block atoms with their logical names), flag bytes, flag word, dynamic word,
//     synthesized bit, debug number, instance name, string name, synfrom
//     name, register flags and max-fan-out limit;
//   - its terminals in their slots with port type and index, flag word and
//     term byte (inversion, synthesized-name mark); each input's source as
//     (debug number of the source gate, output slot) or its tie, its parent
//     input as (debug number, input slot) and its information record
//     (value, probability, confidence; not the opaque reference); each
//     output's delay fields and synfrom name;
//   - names as paths of (partial name, synthesized) levels, interned into
//     the default namespace on reading;
//   - the state machines the netlist owns and those its state buffers name,
//     as debug numbers (read back into the netlist's own machine list);
//   - the netlist's partition flag, number, first debug number, subnetlist
//     flag, waive byte, compatible-register sets, high-speed register map
//     (keyed by name) and MAST report.
//   Not carried: aux values, simulation values, technology-mapping and
//   temporary pointers, the opaque reference of input records.
// The record starts with its format version (CDB_SGATE_NETLIST_ARCHIVE_VERSION);
//   another version, a truncated or damaged record, two gates of one
//   number, a source, parent or machine member that names no gate or a slot
//   it lacks throw PDB_DATABASE_EXCEPTION, and the reader frees what it
//   made.
// Reading raises CDB_SGATE_NODE::s_debug_counter above every number read.
// Cost: O(gates + terminals) both ways, plus one hash entry per gate read.
// Several records may be read on several threads at once into the one
//   default namespace through CDB_NAME_TURNS (below), with their gates
//   numbered on counters of their own (CDB_SGATE_NODE::THREAD_DEBUG_COUNTER).
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "pdb/pdb.h"

class CDB_SGATE_NETLIST;

// The format version written first in every netlist record.
constexpr uint32_t CDB_SGATE_NETLIST_ARCHIVE_VERSION = 2;

// The registration of the netlist record type.
const PDB_THUNK_INFO* cdb_sgate_netlist_thunk();
// The field callback for a CDB_SGATE_NETLIST* at ptr_address (field 199 "ptr").
void cdb_sgate_netlist_ptr_field(PDB_SEGMENT& seg, void* ptr_address);

class HDB_INSTANCE_NAME;
class HDB_NAMESPACE;

// Netlist records read on several threads at once, each reader with a turn
// (0, 1, ...): every name a reader looks for is looked for under one lock,
// and a name that is missing is made only once the readers of all earlier
// turns are done. Names are then made in the order, and with the ids, that
// reading the records one after another in turn order gives them: a name a
// reader finds before its turn exists in that order too (names are never
// removed, and only a reader whose turn has come makes names). Lookups hold
// the lock shared, so readers look for names side by side. A reader
// waits only for earlier turns, so readers started in turn order never
// wait for one another in a circle.
class CDB_NAME_TURNS {
 public:
  // Makes the default namespace when there is none yet, so that readers
  // never make it side by side.
  CDB_NAME_TURNS();
  CDB_NAME_TURNS(const CDB_NAME_TURNS&) = delete;
  CDB_NAME_TURNS& operator=(const CDB_NAME_TURNS&) = delete;

  // Records read on this thread take their names through `turns` as the
  // reader of `turn`; null goes back to making names directly.
  static void enter(CDB_NAME_TURNS* turns, int turn);
  // The reader of `turn` is done: it looks for no more names.
  void finish(int turn);

  // Used by the reader: the name of these levels (partial name,
  // synthesized), found or made in the default namespace.
  HDB_INSTANCE_NAME* resolve(const std::vector<std::pair<std::string, bool>>& levels, int turn);

 private:
  void wait_for_turn(int turn);

  // Held shared around every lookup, alone around every making of a name.
  std::shared_mutex m_names;
  std::mutex m_turns;
  std::condition_variable m_turn_changed;
  std::vector<bool> m_finished;
  std::atomic<int> m_done_below{0};  // every turn below is finished
  HDB_NAMESPACE* m_namespace;  // the default namespace
};
