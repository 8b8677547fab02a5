// kavu_utility_hidden.h — hidden word-level operators and bad clock enables.
//
// An output terminal is screened when every fan-out passes through a gate
// that one signal (the screener) can force to a constant: a two-input AND or
// OR, a data input of a 2:1 multiplexer (by its select), a data bit of a
// select operator (by its select bit). The phase is the screener value that
// hides the terminal (true: while it is 1). opt_find_screened_ops reports
// operators whose outputs are screened; it changes nothing.
// A clock enable is bad ("very ugly") when both the enable and the data
// input of a plain register depend on the register's own output within five
// levels of comb gates, muxes, N-to-1 mux and select operators;
// opt_look_for_bad_enas replaces each such enable by a feedback multiplexer
// in front of the data input (the register then reloads its own value while
// the former enable is 0) and ties the enable to VCC.
// State: none between calls. Failures are internal errors of "KAVU".
// Cost: the dependence search visits each (output terminal, remaining depth)
// at most once per query, so it is linear in the cone within the depth even
// on reconvergent logic; the rewrite is O(1) per register.
#pragma once

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

// Debug report (level 2) of hidden operator outputs.
void opt_find_screened_ops(CDB_SGATE_NETLIST* netlist);
// Converts every bad clock enable of a plain register whose synchronous load
// and clear are unused; writes the count to the debug trace.
void opt_look_for_bad_enas(CDB_SGATE_NETLIST* netlist);
// Whether every fan-out of oterm is gated by one screener with one phase;
// *screener and *phase get them (null screener for a terminal without
// fan-out). Null out-pointers are an internal error.
bool opt_check_nto1_mux_hidden(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM** screener, bool* phase);
// The select bit that gates a data input of a select operator; null when
// the input is no data bit. An input of another gate: internal error.
CDB_SGATE_ITERM* opt_select_op_screener(CDB_SGATE_ITERM* data_iterm);
// Whether iterm is driven by target through at most `depth` levels of comb
// gates, muxes and N-to-1 mux or select operators (the direct source is the
// first level).
bool opt_iterm_depends_on_oterm(CDB_SGATE_OTERM* target, CDB_SGATE_ITERM* iterm, int depth);
// Whether the enable and the data of a plain register both depend on its
// output within depth 5. Not a plain register: internal error.
bool opt_dff_has_ugly_clock_enable(CDB_SGATE_NODE* dff);
// Replaces the enable of a plain register (connected, not VCC; synchronous
// load and clear unused) by a multiplexer named "mux" after the register:
// data 0 the register's output, data 1 the former data, select the former
// enable; the enable becomes VCC.
void opt_convert_clock_enable_to_mux(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist);
