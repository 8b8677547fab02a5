// kavu_utility_smek.h — buffer insertion and state-machine protection.
//
// State machines recorded on a hierarchy (CDB_STATE_MACHINE) point at gates
// of its netlist: state gates, state registers and the gates of their clock,
// clock-enable and reset terminals. Armouring puts an unnamed protect buffer
// (type 9) on every input and every output of each such gate, so no later
// pass can merge, sweep or rewrite them away, gives every state register an
// explicit power-up setting and checks that the records still match the
// netlist. Excising takes every unnamed protect buffer out again; the
// netlist is then the one before armouring, gate for gate (named protect
// buffers, which other passes put in place on purpose, stay).
//
// The smek list of a hierarchy: for each machine in list order its state
// gates, its registers, then the gates of its clock, clock-enable and reset
// terminals (when present). A gate shared by two machines appears twice.
// Key smek_protect_verbose (off) gates the per-gate trace lines.
// Failures are internal errors of the component "KAVU"; a machine gate that
// is no longer in the netlist stops the run ("Lost one or more state machine
// gates").
// Cost: armouring O(terminals of the listed gates); excision and the sanity
// check O(netlist).
#pragma once

#include <vector>

#include "cdb/cdb_codes.h"

class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;
class CDB_SGATE_HIERARCHY;

// A new unnamed buffer of `type` (named "buf" after the reference gate when
// that gate has an instance name), added to the netlist, either in front of
// `before_iterm` (it takes the terminal's source and inversion; the terminal
// is then driven by the buffer, not inverted) or behind `after_oterm` (it
// takes every fan-out of the terminal, which then drives only the buffer).
// Exactly one of the two terminals must be given.
void rtl_insert_buffer_helper(CDB_SGATE_ITERM* before_iterm, CDB_SGATE_OTERM* after_oterm,
                              CDB_SGATE_NETLIST* netlist, CDB_BUFFER_TYPE type);
void rtl_insert_hard_protect_buffer(CDB_SGATE_ITERM* before_iterm, CDB_SGATE_OTERM* after_oterm,
                                    CDB_SGATE_NETLIST* netlist);
void rtl_insert_soft_buffer(CDB_SGATE_ITERM* before_iterm, CDB_SGATE_OTERM* after_oterm,
                            CDB_SGATE_NETLIST* netlist);

// Protect buffers around one gate: in front of every connected input whose
// source is not already a protect buffer, behind every output that does not
// already drive exactly one protect buffer. A single-input comb gate is
// first made a two-input AND or OR of the same signal. Returns the number of
// buffers inserted (0 for a gate already armoured).
int rtl_armor_gate(CDB_SGATE_NODE* sgate, CDB_SGATE_NETLIST* netlist);
// Armours every gate of the hierarchy's machines, marks the state registers'
// power-up and runs the sanity check.
void rtl_armor_smeks(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist);
// Every listed machine gate must be in the netlist.
void rtl_sanity_check_smeks(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist);
// Takes every unnamed protect buffer out of the netlist (its source, or its
// constant, drives its former fan-outs, inversions kept) and destroys it.
// Returns the number removed.
int rtl_excise_protect_buffers(CDB_SGATE_NETLIST* netlist);
// Appends the hierarchy's smek list to `gates`.
void rtl_collect_state_machine_gates(CDB_SGATE_HIERARCHY* hierarchy, std::vector<CDB_SGATE_NODE*>* gates);
// Every state register gets an explicit power-up setting that is not
// don't-care (its power-up value is kept).
void rtl_mark_smek_register_power_up(CDB_SGATE_HIERARCHY* hierarchy);
