// kavu_llis_artificial.h — artificial FIBs (name buffers) and the new-node
// bookkeeping of incremental synthesis.
//
// Blocks whose outputs carry no stable names of their own (RAM blocks, MAC
// blocks, LUT-RAMs, components) would lose the names of the signals between
// them and the logic they feed at every compile. Before synthesis a name
// buffer is put on each such signal: a CDB_SGATE_BUFFER of buffer type 5
// (15 with "llis_soft_lcell_artificial_fib") whose name is a synthesized
// child of a stable base name with a partial name ending in "~llis". The
// buffer's name is a FIB; technology mapping turns the buffer into a wire
// LUT that keeps the name, and after mapping those wire LUTs are bypassed.
//
// New nodes: after the merge with the previous LUT-mapped netlist, every
// gate whose debug id is not one of the record's old LUT-mapped ids is new
// logic; the gates next to the design's I/O are resynthesized with it.
#pragma once

#include <vector>

#include "cdb/cdb_sgate.h"
#include "synth_kavu__pdb.h"

class CDB_SGATE_HIERARCHY;

// Inserts the name buffers (key "llis_insert_artificial_fibs", default off:
// nothing changes). Every buffer passes its source through, so the netlist's
// function is unchanged. Registers fed through a gate that cannot be a FIB
// on a non-clock input are marked not prunable. Returns the number of
// buffers inserted. Cost: O(V + E) plus one breadth-first walk per buffered
// source over its pass-through fan-out.
int kavu_llis_insert_artificial_fibs(CDB_SGATE_NETLIST* netlist);

// Bypasses the wire LUTs that mapping made of name buffers (LUT gates whose
// name holds "~llis"): each one's sinks move to its driver, with the wire's
// inversion folded in; the bypassed LUTs stay in the netlist with no
// fan-out and their input disconnected, for the next sweep to remove (until
// then check() reports their masks as reading an unconnected input). Clears the don't-touch mark of every LUT first unless the key
// "llis_hack_dont_remove_dont_touch_before_atom_builder" is on. Returns the
// number of LUTs selected.
int kavu_llis_remove_artificial_fibs(CDB_SGATE_NETLIST* netlist);

// Counts the gates whose debug id is not an old LUT-mapped id of the
// partition's record, by type name, and writes them to the debug stream
// ("AFTER_SWEEP_NEW_THINGS: ..."). A null record (no partition entry for
// the hierarchy) writes nothing. The caller decides whether incremental
// databases are generated. A null hierarchy or netlist is an internal error.
void kavu_llis_dump_new_node_statistics(const KAVU_FIB_INFO* partition_record, CDB_SGATE_HIERARCHY* hier,
                                        CDB_SGATE_NETLIST* netlist);

