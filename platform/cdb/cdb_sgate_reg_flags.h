// Role: gate-netlist database
// (docs/platform.md, "Gate database"; see also "Netlist members and records").
// cdb_sgate_reg_flags.h — loading a gate's optimisation flags from the
// user's assignments (the option store of hdb.h, variable codes of acf.h).
//
// Model: options are looked up on the gate's instance name only; a gate
// without an instance name, or without an option, keeps its flags. The
// register flags: ALLOW_ANY_REGISTER_CHANGE -> allow anything,
// PRESERVE_REGISTER -> preserve, DONT_MERGE_REGISTER -> merge not allowed,
// DONT_PRUNE_REGISTER -> prune not allowed, NOT_GATE_PUSH_BACK -> not-gate
// push; each setter marks its state set. MAX_FANOUT sets the register's
// maximum fan-out and the netlist's constraint. KEEP_FANOUT_FREE sets the
// keep-fan-out-free request (and marks it read from assignments).
#pragma once

class CDB_SGATE_NODE;
class CDB_SGATE_NETLIST;

// A gate without register flags (not a register) is left unchanged.
void cdb_sgate_set_dff_flags_from_assignments(CDB_SGATE_NODE* node);
void cdb_sgate_set_max_fanout(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node);
void cdb_sgate_set_keep_fanout_free_flags_from_assignments(CDB_SGATE_NODE* node);
