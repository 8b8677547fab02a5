// kavu_01tbl_resyn.h — cone resynthesis: the logic cone of one output terminal,
// rebuilt as a fresh network of LUTs over the cone's fan-in terminals.
//
// Model: the cone between the fan-ins (a complete cut) and the terminal is
//   simulated into a truth table; fan-ins the function ignores are dropped,
//   and the table goes to one of the LUT builders of kavu_01tbl.h:
//     method 0  structural to_luts, LUTs of CDB_LUTMASK::max_num_inputs
//     method 1  to_luts with target size, 4-input LUTs
//     method 2  syn_luts in area mode (no delay limit)
//     method 3  syn_luts in speed mode under a delay target derived from
//               max_delay (ftm_resyn_for_speed on for the call)
//   The old cone is left as it is: the caller decides whether to replace it.
// Configuration: kavu_factor_accel (read on every call) asks for a
//   factoring builder (method 5) that this library does not provide; such a
//   call builds nothing and returns null. It also switches on the check of
//   every built network against the cone's table, as debug level 2 does.
// Module state: the reference LUT input of the resynthesis delay model
//   (kavu_resyn_reference_iterm) is set for the duration of the call and
//   null again on return, so no pointer into a gate the caller may delete
//   outlives the call.
// Cost: one cone simulation (2^n bits per cone terminal) plus the chosen
//   builder's search.
#pragma once

#include <vector>

class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;

// The method values kavu_cone_resynthesis accepts; 5 is the factoring
// method that the kavu_factor_accel key asks for, unavailable here.
enum KAVU_RESYN_METHOD : unsigned int {
  KAVU_RESYN_STRUCTURAL = 0,
  KAVU_RESYN_FOUR_INPUT = 1,
  KAVU_RESYN_AREA = 2,
  KAVU_RESYN_DELAY = 3,
  KAVU_RESYN_FACTOR = 5,
};

// Rebuilds the cone of oterm over fanins (a complete cut of oterm's fan-in
// cone; oterm's gate must have an input among its first max_num_inputs
// inputs) as LUTs, appends the new gates to luts (root last) and returns
// the root, or null when the builder found no network (nothing appended).
// New gates are connected to the fan-ins the function depends on, in the
// order of `fanins`, added to no netlist, and drive nothing yet.
// max_delay: the delay allowed at the root for method 3, -1 for oterm's
//   own arrival value; a target that leaves no time for one LUT after the
//   wire into it is an internal error ("delay_target > 0").
// improve, given_area, given_delay: passed to syn_luts (methods 2 and 3): a
//   network must beat the given area (method 3, in speed mode: the given
//   delay).
// A method other than 0..3 and 5 is an internal error, as is a call during
// parallel synthesis. At truth-table debug level 2, or with
// kavu_factor_accel on, the built network is simulated and compared with
// the cone's table (internal error "cone_tbl == rsyn_tbl" on a difference,
// after the network's gates are deleted).
CDB_SGATE_NODE* kavu_cone_resynthesis(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& fanins,
                                      std::vector<CDB_SGATE_NODE*>& luts, unsigned int method, int max_delay,
                                      bool improve, int given_area, unsigned int given_delay);
