// kavu_bdd_cells.h — one BDD head realised as LUT gates or as one logic
// cell: a 6- or 4-input LUT, a 2:1 mux of two 6-input LUTs, a 4:1 mux of
// four 6-input LUTs (8 variables), a 7-input Brae cell or an 8-input
// Quellin/Harrowdale cell in extended mode (mode 120).
//
// Heads are BDDs of a manager whose variable v is driven by support terminal
// v; LUT input j takes the j-th variable of the head's support, top level
// first, which is also the order of the mask's index bits. The mux builders
// move the head terminal's fan-outs onto the new mux; the cell builders
// return the cell's combinational output and leave the fan-outs to the
// caller. Logs (C streams) may be null.
//
// Cell pins: pin k (A..H) drives cell input slot k: DATAA..DATAG, then the
// slot after DATAG (CIN), which selects the half of an extended Quellin
// cell. Pin H is the split variable; A, B, E take variables both halves use,
// C and D variables only the low half uses, F and G only the high half.
// Failures to decompose give false or null; bad calls are internal errors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "bdd/bdd_zbdd.h"
#include "cdb/cdb_sgate.h"
#include "dev/dev.h"

CDB_SGATE_OTERM* kavu_bdd_make_braeholt_6lut(const BDD_ZBDD& head, const std::vector<CDB_SGATE_OTERM*>* support,
                                             CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_node, FILE* log);
CDB_SGATE_OTERM* kavu_bdd_make_gorven_4lut(const BDD_ZBDD& head, const std::vector<CDB_SGATE_OTERM*>* support,
                                           CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_node, FILE* log);
void kavu_bdd_use_braeholt_66mux(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                 const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist, FILE* log);
void kavu_bdd_use_braeholt_6666mux(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                   const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                   FILE* log);
// The 6-input mask of a table over at most 6 used levels: index bit j of the
// mask is the j-th used level from the top.
uint64_t lut6_mask_from_table(const std::vector<uint64_t>& table, unsigned table_size, const std::vector<int>& used);
// "input 5 ? (input 4 ? input 3 : input 2) : (input 4 ? input 1 : input 0)"
// with inputs 0..5 (port types 12..17), added to the netlist, not named.
CDB_SGATE_LUT* kavu_create_41mux_6lut(CDB_SGATE_NETLIST* netlist);

CDB_SGATE_OTERM* kavu_bdd_try_braeholt7_cell(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                             const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                             DEV_FAMILY_ENUM family, FILE* log);
CDB_SGATE_OTERM* kavu_bdd_try_quellin_lut8(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                           const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                           DEV_FAMILY_ENUM family);
bool kavu_bdd_reorder_for_brae7_decomp(const BDD_ZBDD& head, uint64_t* mask, std::vector<int>* pins,
                                       DEV_FAMILY_ENUM family);
// Pins for a split on the_var (n = 7 or 8); false when some variable finds
// no pin, or a variable other than the split one is in neither cofactor.
bool bdd_pin_map_for_lut78(int the_var, int n, const BDD_ZBDD& low, const BDD_ZBDD& high, std::vector<int>* pin_map);
bool truth_table_for_lut78(const BDD_ZBDD& head, const std::vector<int>& pin_map, uint64_t* mask);
uint32_t bdd_support_mask(const BDD_ZBDD& b, int size);
CDB_SGATE_OTERM* make_lut78_cell(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_OTERM*>& data_ins,
                                 uint64_t mask, CDB_SGATE_NODE* name_node, DEV_FAMILY_ENUM family);
void kavu_name_oterm_from_node(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* node);
