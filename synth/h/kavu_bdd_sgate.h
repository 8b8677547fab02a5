// kavu_bdd_sgate.h — BDDs of gate sub-netlists, the per-gate BDD rules and
// two variable-reordering heuristics.
//
// A subnet is given by its support (output terminals that feed it from
// outside; support terminal i is BDD variable i), its members (the output
// terminals of its gates, each after the members that feed it) and its
// visible terminals (members whose functions are wanted). The build makes
// one BDD per visible terminal in the caller's manager.
//
// Gate rules: comb AND/OR/XOR (true resp. false with no inputs), 2:1 mux
// (input 2 selects input 1), LUT mask (input i is bit i of a minterm),
// n-to-1 mux and select operators, and the two families of logic-cell atoms
// (kinds 61 and 93). Inverted inputs take the complement; VCC/GND ties are
// constants; an unconnected input of a LUT or logic cell reads 0.
//
// Node cap: after each member, a table above the cap is garbage-collected
// and, when allowed, sifted; the build fails (returns false, heads empty)
// when the count cannot be brought below the cap. A cap of 0 is refused.
//
// Verbose lines (the manager's m_verbose) go through kavu_debug.
// Internal errors: a member fed by a later member ("Members not in topo
// order"), a source outside support and members, an unsupported gate, and a
// cell with fewer input BDDs than its rule reads.
#pragma once

#include <cstdint>
#include <vector>

#include "bdd/bdd_zbdd.h"
#include "cdb/cdb_sgate.h"

bool kavu_bdd_make_bdds_from_sgate_subnet(BDD_ZBDD_MGR* mgr, const std::vector<CDB_SGATE_OTERM*>& support,
                                          const std::vector<CDB_SGATE_OTERM*>& members,
                                          const std::vector<CDB_SGATE_OTERM*>& visible,
                                          std::vector<BDD_ZBDD>* heads, unsigned node_cap, bool allow_reorder);

BDD_ZBDD kavu_bdd_calc_comb_bdd(BDD_ZBDD_MGR* mgr, CDB_COMB_TYPE type, const std::vector<BDD_ZBDD*>& inputs);
BDD_ZBDD kavu_bdd_calc_mux_bdd(BDD_ZBDD_MGR* mgr, const std::vector<BDD_ZBDD*>& inputs);
BDD_ZBDD kavu_bdd_calc_lutmask_bdd(BDD_ZBDD_MGR* mgr, CDB_LUTMASK mask, const std::vector<BDD_ZBDD*>& inputs);
// The BDD of one output of a Brae-family (kind 61) or Quellin-family (kind
// 93) logic cell, over the input BDDs in the cell's input order.
BDD_ZBDD kavu_bdd_calc_braewys_bdd(BDD_ZBDD_MGR* mgr, CDB_SGATE_OTERM* oterm, const std::vector<BDD_ZBDD*>& inputs);
BDD_ZBDD bdd_of_quellin_wys(BDD_ZBDD_MGR* mgr, CDB_SGATE_OTERM* oterm, const std::vector<BDD_ZBDD*>& inputs);
// Mask bits lo..hi as a LUT with input var_index on top (var_index -1 for a
// single bit).
BDD_ZBDD bdd_of_mask_range(BDD_ZBDD_MGR* mgr, uint64_t mask, int var_index, const std::vector<BDD_ZBDD*>& inputs,
                           int lo, int hi);
// The configuration key "quellin_arith_physical_lutmask" (default on), read
// once.
bool kavu_use_quellin_arith_physical_lutmask();

// Exhaustive search for 6 variables or fewer, else bdd_rotate_for_4cuts.
void kavu_bdd_reorder_for_profit(BDD_ZBDD_MGR* mgr);
// Windows of 4 levels from the bottom; in each, the fullest level is
// bubbled up to level 1 four times, keeping the best order seen.
void bdd_rotate_for_4cuts(BDD_ZBDD_MGR* mgr);
