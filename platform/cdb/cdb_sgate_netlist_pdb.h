// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Netlist archive").
// cdb_sgate_netlist_pdb.h — the gate netlist as a record of the persistence
// archive (pdb_write_ptr / pdb_read_ptr with cdb_sgate_netlist_ptr_field).
//
// Carried, for every gate kind of the database (generic gates, pins,
//   boundaries, state buffers, device atoms with RAM-block modes and
//   on-demand ports, operators with their port tables, components with
//   ports and parameters, asynchronous and synchronous RAMs):
//   - each gate's kind data (RAM-block atoms with their logical names,
//     LUT-RAM atoms with theirs from format 4 on), flag bytes, flag word, dynamic word,
//     synthesized bit, debug number, instance name, string name, synfrom
//     name, register flags and max-fan-out limit; a boundary's partition,
//     id, cut mark, the driver a split recorded for it, by number, and
//     the paths of the readers it found in other partitions;
//   - its terminals in their slots with port type and index, flag word and
//     term byte (inversion, synthesized-name mark); each input's source as
//     (debug number of the source gate, output slot) or its tie, its parent
//     input as (debug number, input slot) and its information record
//     (value, probability, confidence; not the opaque reference); each
//     output's delay fields and synfrom name;
//   - names as paths of (partial name, synthesized) levels, interned into
//     the default namespace on reading;
//   - each gate's hierarchy and the netlist's (format 3 on), as a table of
//     the hierarchies they name and their ancestors (parent, instance name,
//     whether it uses a namespace). Reading interns them in a process-wide
//     table, one object per (parent, name), which owns them for the life of
//     the process: gates keep their hierarchies whatever netlist they move
//     to or is freed, and every read of one design finds the same root. A
//     hierarchy that used a namespace uses the default one, where the names
//     read live;
//   - the state machines the netlist owns and those its state buffers name,
//     as debug numbers (read back into the netlist's own machine list);
//   - the netlist's partition flag, number, first debug number, subnetlist
//     flag, waive byte, compatible-register sets, high-speed register map
//     (keyed by name), MAST report, stored-timing-netlist origin and split
//     labelling.
//   Not carried: aux values, simulation values, technology-mapping and
//   temporary pointers, the opaque reference of input records.
// The record starts with its format version (CDB_SGATE_NETLIST_ARCHIVE_VERSION);
//   another version, a truncated or damaged record, two gates of one
//   number, a source, parent or machine member that names no gate or a slot
//   it lacks throw PDB_DATABASE_EXCEPTION, and the reader frees what it
//   made.
// Reading raises CDB_SGATE_NODE::s_debug_counter above every number read.
// Cost: O(gates + terminals) both ways, plus one hash entry per gate read.
#pragma once
#include <cstdint>

#include "pdb/pdb.h"

class CDB_SGATE_NETLIST;

// The format version written first in every netlist record. Format 3 adds
// the gates' hierarchies, format 4 the logical names of LUT-RAM atoms,
// format 5 the netlist's stored-timing-netlist origin, format 6 with the
// labelling for parallel synthesis it was made for and the one the netlist
// was split under, format 7 the driver a split recorded for each boundary
// (CDB_SGATE_BOUNDARY::get_fed_by_number) and the readers it found for an
// output boundary (get_readers); records of formats 2 to 6 still
// read, their gates without a hierarchy (format 2), their LUT-RAMs without
// a logical name (formats 2 and 3), the netlist's stored timing netlist not
// known (formats 2 to 5) and their boundaries without a recorded driver
// and readers (formats 2 to 6).
constexpr uint32_t CDB_SGATE_NETLIST_ARCHIVE_VERSION = 7;
constexpr uint32_t CDB_SGATE_NETLIST_ARCHIVE_OLDEST_VERSION = 2;

// The registration of the netlist record type.
const PDB_THUNK_INFO* cdb_sgate_netlist_thunk();
// The field callback for a CDB_SGATE_NETLIST* at ptr_address (field 199 "ptr").
void cdb_sgate_netlist_ptr_field(PDB_SEGMENT& seg, void* ptr_address);

namespace kavu_platform {
// Frees the hierarchies made by reading archives (test reset: the names
// they hold go with the default namespace).
void cdb_sgate_netlist_pdb_test_reset();
}  // namespace kavu_platform
