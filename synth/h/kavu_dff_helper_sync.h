// kavu_dff_helper_sync.h — unmapping synchronous register controls into
// logic: small synchronous secondary signals (load, clear, enable) and every
// clock enable. The register model and the strips these passes call are in
// kavu_dff_helper_strip.h; the passes keep its order of clear, load and
// enable. Each pass is linear in the netlist per pass (at most ten passes).
#pragma once

class CMP_FACADE;
class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;

// ---- synchronous secondary-signal unmapping ----

// Unmaps every enable, load and clear whose signal drives fewer registers
// than the minimum widths (the compile's options
// ACF_MIN_WIDTH_CLOCK_ENABLE_FOR_UNMAP and ACF_MIN_WIDTH_SLOAD_SCLR_FOR_UNMAP,
// overridden by the keys kavu_min_width_ce_for_unmap and
// kavu_min_width_sld_sclr_for_unmap), in up to ten passes; when more than
// one pass ran, turns every 2:1 mux of the netlist into comb logic and sweeps.
void opt_unmap_small_synch_secondaries(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist);
// Per-register operations: true when the control was moved into logic.
// The enable first unmaps clears without priority and the load; the clear
// first unmaps an enable over which it has priority, and the load.
bool opt_try_unmap_enable(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff, bool skip_check);
bool opt_try_unmap_sclear(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff);
bool opt_strip_sload(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff);
// Legality: false for a user atom or a register fed by an adder (all three);
// a forced synchronous clear (sclear); a forced clock enable or an enable
// whose source carries ACF_USER_CLOCK_ENABLE (enable).
bool opt_can_unmap_sload(CDB_SGATE_NODE* dff);
bool opt_can_unmap_sclear(CDB_SGATE_NODE* dff);
bool opt_can_unmap_enable(CDB_SGATE_NODE* dff);
// True when the data input comes from an add operator or from the sum
// output of a logic-cell atom. A gate that is no register: internal error.
bool opt_dff_is_fed_by_adder(CDB_SGATE_NODE* dff);
// Unmaps the control of that kind on every register whose input of the kind
// reads `source` with inversion `inverted`; returns how many succeeded.
int opt_unmap_sload(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* source, bool inverted);
int opt_unmap_sclear(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* source, bool inverted);
int opt_unmap_enable(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* source, bool inverted);

// ---- enable unmapping ----

// Removes the clock enable of every register that has one with a real
// source (keys disable_clock_enable, kavu_unmap_ena_skip_sclr); when any was
// removed, converts every 2:1 mux of the netlist to AND/OR logic and sweeps.
// Memory the system refuses stops it with an error posted ("… not enough
// memory"), never std::bad_alloc: the netlist is whole and of the same
// function, each register's enable moved or not, each mux converted or not.
void kavu_unmap_all_enables(CDB_SGATE_NETLIST* netlist);
