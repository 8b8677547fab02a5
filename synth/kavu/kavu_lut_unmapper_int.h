// kavu_lut_unmapper_int.h — what the LUT unmapper's files share: the two
// result forms' entry points, the factoring steps and the mask helpers.
//
// Masks here are CDB_LUTMASK values. A don't-care mask has a 1 where the
// function's value does not matter; a mask is constant on its care set when
// (mask | dc) is all ones (constant 1) or (mask & ~dc) is all zeros
// (constant 0). Cofactors taken here remove their variable: the result has
// one input less and the inputs above the variable move down by one.
#pragma once

#include <list>
#include <vector>

#include "cdb/cdb_sgate.h"

// A factored sub-function, and also the form of each input: the terminal
// that computes it (inverted when `inverted`), or a constant when there is no
// terminal (1 when not inverted, 0 when inverted).
struct FACTORED_NODE {
  CDB_SGATE_OTERM* oterm = nullptr;
  bool inverted = false;
};

// Entry i stands for mask variable i.
typedef std::vector<FACTORED_NODE> FACTORED_INPUTS;

// Disjoint-support decomposition types, with the debug names of
// lut_unmap_decomposition_name.
enum LUT_UNMAP_DECOMP_TYPE {
  LUT_UNMAP_DECOMP_AND = 0,     // f = a(A) AND g(B)
  LUT_UNMAP_DECOMP_OR = 1,      // f = a(A) OR g(B)
  LUT_UNMAP_DECOMP_XOR = 2,     // f = a(A) XOR g(B)
  LUT_UNMAP_DECOMP_WIRE_A = 3,  // f = a(A)
  LUT_UNMAP_DECOMP_WIRE_B = 4,  // f = g(B)
  LUT_UNMAP_DECOMP_NONE = 5
};

// The result of a disjoint split: a over the bound set A, g over the free
// set B, each with its don't-care mask and (when asked) its inputs.
struct LUT_UNMAP_SPLIT {
  LUT_UNMAP_DECOMP_TYPE type = LUT_UNMAP_DECOMP_NONE;
  CDB_LUTMASK a, dc_a, g, dc_b;
  FACTORED_INPUTS inputs_a, inputs_b;
};

// ---- mask helpers ----
// The cofactor of variable v at `value`, v removed.
CDB_LUTMASK lut_unmap_cofactor(const CDB_LUTMASK& mask, unsigned v, bool value);
bool lut_unmap_is_const1(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc);
bool lut_unmap_is_const0(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc);
// True when neither cofactor of v is all zeros and the v = 1 cofactor is the
// complement of the v = 0 cofactor (don't cares not consulted).
bool lut_unmap_is_xor_in(const CDB_LUTMASK& mask, unsigned v);

// ---- factoring steps ----
// Removes the variables the function does not need on its care set, from
// variable 0 upward, restarting after each removal; dc and inputs may be
// null. Returns how many went.
int lut_unmap_drop_free_inputs(CDB_LUTMASK& mask, CDB_LUTMASK* dc, FACTORED_INPUTS* inputs);
// Looks for a bound set A of at most n/2 variables (depth first, A in
// increasing variable order, first success wins). The mask must not be
// constant on its care set. Inputs may be null; split->inputs_a/_b are then
// left empty.
LUT_UNMAP_DECOMP_TYPE lut_unmap_disjoint_split(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc,
                                               const FACTORED_INPUTS* inputs, LUT_UNMAP_SPLIT* split);
// An estimate of the literals of a factored form of the function.
int lut_unmap_literal_count(CDB_LUTMASK mask, CDB_LUTMASK dc);
// An estimate of the literals a Shannon split on v would produce.
int lut_unmap_split_cost(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc, unsigned v);
// The variable with the smallest non-zero split cost (lowest on a tie; 0
// when all costs are 0).
unsigned lut_unmap_choose_split_variable(const CDB_LUTMASK& mask, const CDB_LUTMASK& dc);
const char* lut_unmap_decomposition_name(LUT_UNMAP_DECOMP_TYPE type);

// Factors (mask, dc) over `inputs` into comb gates appended to *new_nodes,
// named after the LUT; returns the sub-function's node.
FACTORED_NODE lut_unmap_factor_mask(std::list<CDB_SGATE_NODE*>* new_nodes, CDB_SGATE_LUT* lut,
                                    CDB_LUTMASK mask, CDB_LUTMASK dc, FACTORED_INPUTS inputs);

// ---- result forms ----
// Form 0: an OR over one AND per set bit of the mask; returns the OR's
// output, which has taken over the LUT's fan-outs. Never inverted.
CDB_SGATE_OTERM* lut_unmap_two_level(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes);
// Form 2's dispatch point. The BDD decomposition is not built yet; this runs
// the factored form.
CDB_SGATE_OTERM* lut_unmap_boolean(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes,
                                   bool* inverted);

// Gate counts of an unmapped cone, in 2-input equivalents (a 2:1 mux counts
// 3, an n-input AND, OR or XOR n-1).
struct LUT_UNMAP_GATE_COUNTS {
  int muxes = 0, ands = 0, and2 = 0, ors = 0, or2 = 0, xors = 0, xor2 = 0, others = 0;
  int two_input_equivalents() const { return 3 * muxes + and2 + or2 + xor2; }
};
LUT_UNMAP_GATE_COUNTS lut_unmap_count_gates(const std::list<CDB_SGATE_NODE*>& nodes);
