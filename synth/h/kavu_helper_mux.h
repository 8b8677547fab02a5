// kavu_helper_mux.h — rewriting and inspecting 2:1 muxes and LUTs: a mux or a
// LUT turned into comb gates, a LUT grown over its fan-in cone up to a min
// cut, the mask tests of the two LUT halves of a 4:1 mux, used-input counts,
// input comparison between two LUTs and input permutation with the mask.
//
// Model: a 2:1 mux computes sel ? d1 : d0 (inputs 0, 1, 2); a LUT computes
// its CDB_LUTMASK over its ordered inputs, input i being mask variable i.
// Rewrites that replace a gate move every reader of the old output to the
// new one (a reader keeps seeing the same value, an inverted old output
// included) and delete the old gate unless the caller keeps it.
// Broken preconditions are internal errors of the component "KAVU".
// Cost: the rewrites are O(gate inputs) plus the readers moved; the LUT
// growth is bounded by a cone depth of 8 and a cut of the LUT's size.
#pragma once

#include "cdb/cdb_lutmask.h"

class MEM_SEGMENT;
class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;

// Replaces a 2:1 mux by XOR, AND, OR or AND-OR gates (named "mux" after it
// unless no_name) and returns the new top output. The segment is not used.
CDB_SGATE_OTERM* kavu_change_mux_to_comb(CDB_SGATE_NODE* mux, CDB_SGATE_NETLIST* netlist,
                                         MEM_SEGMENT* segment, bool no_name, bool keep_mux);
// Replaces a LUT that drives something by factored comb gates computing its
// mask and returns the new top output.
CDB_SGATE_OTERM* kavu_change_lut_to_comb(CDB_SGATE_NODE* lut, CDB_SGATE_NETLIST* netlist,
                                         bool keep_lut);
// Grows the LUT over its fan-in cone up to the largest-volume min cut of at
// most its size; true when the LUT was rewritten. The new mask has one input
// per cut terminal, at the first positions; the other positions stay
// unconnected. The absorbed gates stay.
bool kavu_suck_gates_into_lut(CDB_SGATE_NODE* lut);

// True for a 4-input mask that is one of the two LUT halves of a 4:1 mux.
bool kavu_lut_is_head_of_41_mux(CDB_SGATE_NODE* lut);
bool kavu_lut_is_tail_of_41_mux(CDB_SGATE_NODE* lut);
// Inputs that have a real source, of a LUT or a logic-cell atom.
int kavu_count_used_lut_inputs(CDB_SGATE_NODE* lut);
// The inputs at positions 0 to 3 have the same sources in both LUTs.
bool kavu_lut_first_4_match(CDB_SGATE_NODE* lut_a, CDB_SGATE_NODE* lut_b);
// size distinct entries in 0..size-1; size must be below 32.
bool kavu_permutation_is_valid(int* perm, int size);
// Position k of a LUT with six input positions receives the input that
// stood at in_perm[k]; the mask follows (widened to six inputs when the
// permutation moves one of its inputs beyond its width), so the function of
// the signals is kept.
void kavu_rotate_lut_sgate(CDB_SGATE_NODE* lut, int* in_perm);
// Set bits of the 64-bit mask word.
int kavu_count_hi_lut_bits(CDB_LUTMASK* mask);
// Whether at least four inputs of lut_a share their source with an input of
// lut_b; fills the six-entry arrays with the shared positions first.
bool kavu_luts_have_4_shared(CDB_SGATE_NODE* lut_a, CDB_SGATE_NODE* lut_b, int* perm_a,
                             int* perm_b);
