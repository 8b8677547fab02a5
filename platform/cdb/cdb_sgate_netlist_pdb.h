// cdb_sgate_netlist_pdb.h — the gate netlist as a record of the persistence
// archive (pdb_write_ptr / pdb_read_ptr with cdb_sgate_netlist_ptr_field).
//
// Carried: every gate of the kinds below with its kind data, flag bytes,
//   flag word, synthesized bit and debug number; its terminals in their
//   slots with port type and index, inversion and term bytes; each input's
//   source as (debug number of the source gate, output slot) or its tie;
//   the output terminals' fan-in and fan-out delays; gate and terminal
//   names as their paths of (partial name, synthesized) levels, interned on
//   reading; the netlist's partition flag, number and first debug number.
//   Not carried: aux values and scratch marks.
// Kinds: buffer, comb, register, pin, IO buffer, LUT, multiplexer,
//   carry-sum, tri-state bus, latch, boundary. Writing a netlist holding
//   another kind throws PDB_DATABASE_EXCEPTION naming it, before anything
//   is stored, so the caller keeps its netlist and learns why.
// Reading raises CDB_SGATE_NODE::s_debug_counter above every number read;
//   two gates of one number, a source that names no gate or an output slot
//   it lacks throw PDB_DATABASE_EXCEPTION.
#pragma once
#include "pdb/pdb.h"

class CDB_SGATE_NETLIST;

// The registration of the netlist record type.
const PDB_THUNK_INFO* cdb_sgate_netlist_thunk();
// The field callback for a CDB_SGATE_NETLIST* at ptr_address (field 199 "ptr").
void cdb_sgate_netlist_ptr_field(PDB_SEGMENT& seg, void* ptr_address);
