// kavu_utility_lutability.h — early LUT analysis: cones of LUT-able logic
// collapsed into single LUTs before technology mapping.
//
// Model: every output of a gate that is not LUT-able (opt_is_lutable_comb_
// logic), and every source feeding such a gate except an adder, is marked
// (aux value 1). A cone grows backwards from a marked output of a LUT-able
// gate, at most 8 levels, stopping at marked terminals; its leaves are
// graded soft (unmarked), firm (marked, LUT-able gate) or hard (marked,
// other gate); its volume is the number of driven inputs of its interior
// gates. A fixed threshold table on (leaf grades, volume) decides whether
// the cone becomes one LUT now. An accepted cone's function is simulated,
// leaves it does not depend on are dropped, and a LUT with that mask takes
// over the root's fan-outs; the old cone is cut loose and swept at the end.
// Reports go to the level-2 debug trace only.
// Cost: O(N · cone) with tables of at most 15 variables.
#pragma once

#include <vector>

class CMP_FACADE;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;

// The pass; always false (the facade is not used).
bool opt_sgate_lutability(CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade);
// Widens every comb gate's input storage; reports the estimated memory
// before and after. Always 0.
unsigned int opt_lose_netlist_memory(CDB_SGATE_NETLIST* netlist);
// False when the root is only reported as an output.
bool opt_select_lutable_cone(CDB_SGATE_OTERM* root, CDB_SGATE_NETLIST* netlist);
// True when a LUT was built; independent leaves leave the vector.
bool opt_build_lut_from_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>* leaves,
                             CDB_SGATE_NETLIST* netlist);
void opt_gather_cone_inputs(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>* leaves, int depth,
                            bool expand_marked, bool expand_once);
// The first output of every interior gate of the cone.
void opt_gather_cone_gates(CDB_SGATE_OTERM* oterm, const std::vector<CDB_SGATE_OTERM*>& leaves,
                           std::vector<CDB_SGATE_OTERM*>* gates);
int opt_cone_volume(CDB_SGATE_OTERM* root, const std::vector<CDB_SGATE_OTERM*>& leaves);
bool opt_all_fanins_marked(CDB_SGATE_NODE* gate);
unsigned int opt_estimate_netlist_bytes(CDB_SGATE_NETLIST* netlist);
