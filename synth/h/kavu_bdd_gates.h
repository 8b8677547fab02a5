// kavu_bdd_gates.h — from BDDs back to gates: one 2:1 mux per BDD node
// (Shannon expansion), left as mux LUTs, merged, turned into AND/OR gates or
// gate-database muxes, and three-level mux trees packed into three logic
// cells of the Brae families.
//
// Heads: the BDDs of a manager whose variable v is driven by support
// terminal v. Each head gets a one-input AND "head buffer"; its output is the
// head's new terminal (a constant head ties the buffer's input).
//
// Paths (key "kavu_bdd_build_luts_experimental", default on, read per call):
//   on  — recursive: each node reachable from the heads becomes AND, AND, OR
//         gates, shared across the heads of one call;
//   off — per node: one mux LUT (mask 0xCCAA, select on input 3) per node
//         reachable from the heads, then by mode: 0 nothing, 1 AND/OR gates,
//         2 merge and sweep, 3 merge, sweep and AND/OR, 4 merge, sweep and
//         muxes, 5 as 4 and 8:1 trees packed into cells. Other modes: none.
// Only nodes the heads reach are built (a manager may hold others, whose
// variables need not have a support terminal).
// Names: from the name node's instance name with "bdd", "and", "or",
// "sld_mux" and "eight". Replaced gates stay without fan-out for the caller's
// sweep. Internal errors: an empty head or support list, a non-empty out
// vector, a head over a variable without a support terminal.
#pragma once

#include <map>
#include <vector>

#include "bdd/bdd_zbdd.h"
#include "cdb/cdb_sgate.h"
#include "dev/dev.h"

void kavu_bdd_make_sgates_for_bdd_table(BDD_ZBDD_MGR* mgr, const std::vector<CDB_SGATE_OTERM*>* combined_support,
                                        const std::vector<BDD_ZBDD>* bdd_heads, CDB_SGATE_NETLIST* netlist,
                                        std::vector<CDB_SGATE_OTERM*>* new_visibles, CDB_SGATE_NODE* name_node,
                                        int mode, DEV_FAMILY_ENUM family);

// A LUT "input 3 ? input 1 : input 0" (mask 0xCCAA) with inputs at positions
// 0, 1 and 3 (port types 12, 13, 15), added to the netlist, not named.
CDB_SGATE_LUT* kavu_create_mux_lut(CDB_SGATE_NETLIST* netlist);
// A one-input AND whose input is tied to GND, added to the netlist.
CDB_SGATE_COMB* kavu_create_one_input_comb(CDB_SGATE_NETLIST* netlist);

// The terminal realising the non-complemented BDD b through AND/AND/OR
// gates, built once per node index of the map.
CDB_SGATE_OTERM* bdd_node_to_mux_gates(const BDD_ZBDD& b, BDD_ZBDD_MGR* mgr, std::map<int, CDB_SGATE_OTERM*>* node_map,
                                       const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                       CDB_SGATE_NODE* name_node);
// A mux LUT as OR(AND(d0, !s), AND(d1, s)); the OR takes its fan-outs.
CDB_SGATE_COMB* mux_lut_to_and_or(CDB_SGATE_LUT* lut, CDB_SGATE_NETLIST* netlist);
// A mux LUT as a gate-database mux; the LUT's inputs are then tied to VCC.
CDB_SGATE_MUX* mux_lut_to_mux(CDB_SGATE_LUT* lut, CDB_SGATE_NETLIST* netlist);
// True when b can replace a: the same data sources, with equal (*inverted
// false) or opposite (*inverted true) polarity on both data inputs. Tied data
// inputs count as connected.
bool mux_luts_same_data(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b, bool* inverted);
// Packs the three-level mux tree rooted at root (one select per level, inner
// muxes driving nothing else) into three Brae logic cells; declines silently
// otherwise. A Quellin or Harrowdale family (25, 45) is an internal error.
void make_mux_tree_from_table(CDB_SGATE_MUX* root, CDB_SGATE_NETLIST* netlist, DEV_FAMILY_ENUM family);
