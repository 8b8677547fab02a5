// kavu_helper_summary.h — small facts about a netlist and small rewrites in place:
// estimates drawn from the truth table of a cone, a change signature of a
// whole netlist, the resets of the output terminals' scratch values, the
// bypass of tri-state buffers that device atoms drive, the expansion of
// equality operators into XNOR trees, a register-atom test, and the merging
// of LUT inputs that share one source.
//
// Model: walks go over the netlist's node list in order and over a gate's
//   terminals in list order, so every result is deterministic. The aux and
//   aux2 values of output terminals are scratch that a pass sets and resets
//   around its own work.
// Errors: broken preconditions are internal errors of the component "KAVU".
// Cost: the resets, the signature and the rewrites are linear in the
//   netlist; the cone estimates simulate one cone (kavu_01tbl_cone.h).
#pragma once

#include <vector>

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

// ---- scratch resets ----
// Set the aux value, the aux2 value, or both, of every output terminal of
// every gate of the netlist to 0.
void kavu_reset_aux_values(CDB_SGATE_NETLIST* netlist);
void kavu_reset_aux2_values(CDB_SGATE_NETLIST* netlist);
void kavu_reset_aux_and_aux2_values(CDB_SGATE_NETLIST* netlist);

// ---- estimates from the cone's truth table ----
// False unless inputs holds exactly six terminals. Otherwise the cone of
// oterm over inputs is simulated: when its on-set holds 1, 32 or 63 of the
// 64 minterms, true when at least four inputs have a fan-out of 5 or more.
bool kavu_more_likely_to_slm(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& inputs);
// The share of the cone's 2^n minterms (n = inputs.size(), at most
// CDB_LUTMASK_MAX_INPUTS) at which it is 1, in percent, truncated.
int kavu_estimate_signal_duty(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& inputs);

// ---- change signature ----
// Computes five summary values of the netlist (node count, gate signature,
// LUT-mask signature, connection count, source signature), stores them into
// *p1..*p5 and returns true when any differed from what was stored there.
// Call once to record, again after a pass to learn whether it changed
// anything.
bool kavu_netlist_changed(CDB_SGATE_NETLIST* netlist, unsigned int* p1, unsigned int* p2,
                          unsigned int* p3, unsigned int* p4, unsigned int* p5);

// ---- local rewrites ----
// Every tri-state IO buffer whose output enable is VCC and whose data comes
// from an output atom (or a bidirectional atom's port-7 output) is bypassed:
// the atom's terminal takes the buffer's fan-outs. When any was bypassed the
// netlist is prepared for use and swept, which removes the buffers.
void kavu_remove_tri_fed_by_wys(CDB_SGATE_NETLIST* netlist);
// Replaces an equality operator by one XOR per bit and an AND of the
// complemented XORs, which takes the operator's fan-outs (keeping the
// operator output's own inversion). An operand bit without a source (tied,
// unconnected or missing) becomes a VCC input, inverted when its terminal
// is, so a tied bit keeps its constant.
// Returns the AND gate's output; the operator stays without fan-out.
CDB_SGATE_OTERM* kavu_eq_to_xnor_tree(CDB_SGATE_NODE* eq, CDB_SGATE_NETLIST* netlist);
// kavu_eq_to_xnor_tree on every equality operator; then, when there was one,
// prepare_for_use and sweep(false), which remove the bypassed operators.
void kavu_convert_eq_ops(CDB_SGATE_NETLIST* netlist);

// A device atom that is a flip-flop.
bool kavu_is_a_registered_lcell(CDB_SGATE_NODE* gate);

// Folds every later LUT input that shares its source with an earlier one into
// the earlier one (the mask takes over, inversions included) and disconnects
// it with port type 26779. Returns the number of inputs removed. The LUT's
// function is unchanged. A gate that is not a LUT is an internal error.
int kavu_absorb_duplicate_lut_iterms(CDB_SGATE_NODE* lut);
// Moves a LUT input's inversion flag into the LUT's mask: the mask gets that
// input complemented and the flag toggles, so the function is unchanged.
void kavu_fold_lut_input_inversion(CDB_SGATE_ITERM* lut_iterm);
