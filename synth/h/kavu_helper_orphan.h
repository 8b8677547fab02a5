// kavu_helper_orphan.h — removal of gates left without fan-out, and gate renaming.
//
// After an edit leaves a gate that drives nothing, the kill functions delete
// it together with every gate that then drives nothing but gates being
// deleted: its private fan-in cone, orphaned loops inside that cone
// included. The isolate function leaves such gates in place instead, cut
// off: every input that had a real source is tied to VCC.
//
// Removable kinds: comb gates, LUTs, plain registers, 2:1 muxes, operators,
// carry-sum gates (unless keep_carry_sum) and buffers other than protect
// buffers; the isolate walk takes a plain register only when the database
// allows it to be pruned. Pins, latches, device atoms, components, RAMs,
// boundaries and every other kind are never removed, and the walk stops at
// them. "Drives nothing" is CDB_SGATE_NODE::has_fanout() false.
//
// Renaming gives output terminals new instance names under the root of the
// facade's name tree.
#pragma once

class CDB_SGATE_NETLIST;
class CDB_SGATE_OTERM;
class CMP_FACADE;

// Deletes the gate of orphan_oterm when it drives nothing and is removable,
// and every removable gate of its fan-in cone whose fan-outs all lead into
// deleted gates. Inputs of the deleted gates are disconnected first; other
// sources only lose those fan-outs. Null arguments are an internal error
// ("orphan_oterm && netlist"). Cost: linear in the cone's terminals.
void kavu_kill_orphaned_gates(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist, bool keep_carry_sum);

// The same with LUTs as the only removable kind.
void kavu_kill_orphaned_luts(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist);

// Cuts off instead of deleting: from the gate of orphan_oterm, while a gate
// drives nothing and is removable, each of its real-source inputs is
// disconnected and tied to VCC, and each source left without fan-out is
// visited in turn. No gate is deleted; the netlist argument is not used.
// A null terminal is an internal error ("orphan_oterm").
void kavu_isolate_orphaned_gates(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist, bool keep_carry_sum);

// Gives every output terminal of every gate, in node-list order, the new
// instance name "<prefix>_<n>" (n counts from 0 over the whole call); the
// gates' own names stay. Writes "RENAME ..." and "  now ..." debug lines.
void kavu_rename_all_gates(CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, const char* prefix);

// Gives the first output terminal of the gate found by kavu_find_gate_by_name
// (exact path, or containment) the instance name new_name; false, changing
// nothing, when no gate matches.
bool kavu_rename_gate(CDB_SGATE_NETLIST* netlist, char* name, bool exact, char* new_name, CMP_FACADE* facade);
