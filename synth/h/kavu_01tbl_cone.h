// kavu_01tbl_cone.h — the truth table of a netlist cone over a chosen cut,
// and tables from written covers.
//
// Model: kavu_cone_01tbl simulates the logic between the fan-in terminals
//   (the cut) and a terminal symbolically: variable i of every table is the
//   value the i-th fan-in terminal delivers (variable 0 the least significant
//   bit of the minterm index, as in KAVU_01TBL). The cone's terminals are
//   simulated in topological order, one table each, and the terminal's table
//   is returned. A terminal's table is its value after its own inversion
//   flag, as every reader sees it.
// Input rule: a tied input is its constant (the inversion flag already says
//   which); a driven input is its source's table, complemented when the
//   input is inverted. Unconnected inputs are skipped by comb gates, read as
//   1 by LUTs, logic-cell atoms and 2:1 muxes, and are internal errors for
//   buffers, carry-sum cells and operators.
// Kinds: buffers, comb gates, LUTs, 2:1 muxes, carry-sum cells, logic-cell
//   comb atoms used as plain functions, and the operators addition, compare,
//   equality, the shifts and rotations, multiply, divide, n-to-1 mux, select
//   and decode; any other gate in the cone is an internal error.
// Bounds: at most KAVU_CONE_MAX_VARS fan-ins (internal error above).
// Cost: one table of 2^n bits per fan-in and cone terminal; each gate costs
//   O(inputs * 2^n / 32); an operator output bit recomputes its operator
//   below that bit (the adder O(k), the multiplier O(k^2) full adders, the
//   divider O(width^2)). The netlist is only read.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "kavu_01tbl.h"

class CDB_SGATE_OTERM;

// The largest number of fan-ins a cone may be simulated over (tables of
// 2^20 bits, 128 KB each).
constexpr unsigned int KAVU_CONE_MAX_VARS = 20;

// An output terminal and an inversion flag: one literal of a product.
typedef std::pair<CDB_SGATE_OTERM*, bool> SGATE_OTERM_INV_PAIR;

// The table of oterm over fanins. order, when given, lists the cone's
// terminals fan-in first with oterm last (fan-ins excluded) and is used as it
// is; when null the cone is found by kavu_dfs_cone. A fan-in listed twice
// keeps the variable of its first position; oterm itself among the fan-ins
// gives its literal. A driven input whose source is neither a fan-in nor
// earlier in the order is an internal error.
KAVU_01TBL kavu_cone_01tbl(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& fanins,
                           std::vector<CDB_SGATE_OTERM*>* order);

// The table of a cube list: cubes of cube_length characters, n = cube_length
// - 1 input characters ('0', '1', or '2', '-', 'x' for "absent") and one
// output character; cubes whose output is '1' are ORed together. Refused
// during parallel synthesis.
KAVU_01TBL kavu_cube_cover_01tbl(unsigned int cube_length, std::string cube_cover);

// The table of a sum of products over fanins; every terminal of sop must be
// one of the fan-ins (internal error otherwise). An empty product is 1, an
// empty sum 0.
KAVU_01TBL kavu_sop_01tbl(std::vector<std::vector<SGATE_OTERM_INV_PAIR>>& sop,
                          std::vector<CDB_SGATE_OTERM*>& fanins);
