// kavu_01tbl_fd.h — functional decomposition records, LUT-network cost and
// the resynthesis delay model that go with the KAVU_01TBL decomposition
// members (kavu_01tbl.h, block "Functional decomposition").
//
// Model: a decomposition splits the n variables of a table into a bound set
//   (coded by encoding functions) and a free set; KAVU_FD_SOLUTION records
//   one candidate by its bound-set bitmask, its estimated area, its number
//   of encoding functions and, for a non-disjoint candidate, the shared
//   variable. Area is counted in LUT cost units of KAVU_CONE_COST: when the
//   device LUT has six inputs a LUT costs 10 (up to 4 used inputs), 11, 18
//   or 20 (5, 6, 7 inputs); for any other LUT size every LUT costs 1.
// Delay model: every output terminal carries an arrival value in units of
//   0.1 ns (kavu_resyn_arrival, kept in the terminal's aux3 scratch field
//   while resynthesis runs); resyn_wire_delay gives the delay of one wire
//   from the kinds of the two gates it joins, and a new LUT arrives
//   lutin_combout after its latest input. The delays are the settings of
//   kavu_01tbl_resyn_settings() (all 0 by default but lutin_combout, 1, so
//   by default arrival counts LUT levels).
// Cost: everything here is O(1) per terminal or O(list) per call.
#pragma once

#include <vector>

#include "kavu_01tbl.h"

class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class CDB_SGATE_ITERM;

// One candidate decomposition of a table (see KAVU_01TBL::find_all_fds).
struct KAVU_FD_SOLUTION {
  unsigned int used_vars = 0;  // bound-set bitmask over the table's variables
  unsigned int area = 0;       // LUT cost of the bound size times num_ef
  unsigned int num_ef = 0;     // number of encoding functions
  int ndj_var = -1;            // shared variable (input-table index), -1: disjoint

  // Inputs the decomposition removes: |bound set| - num_ef - (shared ? 1 : 0).
  int reduction() const;
};

// Number of set bits of value.
unsigned int kavu_count_ones(unsigned int value);

// Area of covering a table with the flagged solutions (cover[i] flags
// solution_vec[i]; the sizes must agree): the summed areas of the flagged
// solutions plus the cost of the root function, whose inputs are
// extra_inputs - |union of the flagged bound sets| + (their encoding
// functions) + (their shared variables). The root costs
// KAVU_CONE_COST::get_lut_area_cost(inputs) when use_lut_cost is set, else
// 2 above 5 inputs, 1 above 1 input and 0 otherwise. A negative root input
// count (extra_inputs too small for the cover) is an internal error. The
// root input count is stored through num_inputs when it is not null.
unsigned int kavu_compute_cover_area(const std::vector<KAVU_FD_SOLUTION>& solution_vec,
                                     const std::vector<bool>& cover, unsigned int extra_inputs,
                                     bool use_lut_cost, unsigned int* num_inputs);

// Area costs of LUTs and LUT networks. Only static functions; no state.
class KAVU_CONE_COST {
 public:
  // Nothing to set up or tear down; kept for the callers' start-up order.
  static void initialize() {}
  static void destroy() {}

  // Cost of one LUT of n inputs (n at most 7 when the LUT size is 6).
  static unsigned int get_lut_area_cost(unsigned int n);
  // Cost of a LUT or logic-cell comb atom by its used inputs; 0 otherwise.
  static unsigned int get_lut_area_cost(CDB_SGATE_NODE* node);
  // LUT size 6: the summed gate costs. Otherwise the gate count, except
  // that one gate that is not a LUT costs 0.
  static unsigned int get_cone_area_cost(const std::vector<CDB_SGATE_NODE*>& nodes);
  // The same over the gates that own the terminals.
  static unsigned int get_cone_area_cost(const std::vector<CDB_SGATE_OTERM*>& oterms);
  // Every LUT costs the same unless the LUT size is 6.
  static bool all_costs_equal();

  KAVU_CONE_COST& operator=(const KAVU_CONE_COST&) { return *this; }
};

// ---- resynthesis delay model ----------------------------------------------

// Delay (0.1 ns) of the wire from oterm into iterm; 0 when either is null.
unsigned int resyn_wire_delay(CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM* iterm);

// The arrival value of a terminal (0.1 ns), and its setter.
int kavu_resyn_arrival(const CDB_SGATE_OTERM* oterm);
void kavu_resyn_set_arrival(CDB_SGATE_OTERM* oterm, int arrival);

// Arrival of a LUT's output: lutin_combout plus the latest over its driven
// inputs of (source arrival + resyn_wire_delay); lutin_combout alone when
// no input is driven. Does not store it.
int kavu_resyn_lut_arrival(const CDB_SGATE_NODE* lut);

// The reference LUT input that stands for "an input of the LUT being
// resynthesized" when fan-in arrivals are estimated; null until set.
CDB_SGATE_ITERM* kavu_resyn_reference_iterm();
void kavu_resyn_set_reference_iterm(CDB_SGATE_ITERM* iterm);

// Arrival estimates of fan-in terminals for the bound-set searches:
// arrival(t) + resyn_wire_delay(t, reference input), plus lutin_combout
// when with_lut_delay is set; negative sums count as 0. Replaces out.
void kavu_resyn_fanin_arrivals(const std::vector<CDB_SGATE_OTERM*>& fanins, bool with_lut_delay,
                               std::vector<unsigned int>& out);

// ---- LUT networks ------------------------------------------------------------

// Disconnects every driven input of each listed gate, deletes the gate and
// empties the list.
void delete_synthesized_nodes(std::vector<CDB_SGATE_NODE*>& nodes);

// The number of gates syn_luts needs for the cone of oterm over fanins with
// LUTs of at most k inputs (2 <= k <= CDB_LUTMASK_MAX_INPUTS): 1 when the
// cone has at most k fan-ins, 0 when no network was found. Builds and
// deletes the network; the netlist is left as it was.
unsigned int kavu_cone_capacity(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& fanins, unsigned int k);
