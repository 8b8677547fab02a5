// kavu_utility_comb2.h — two-input comb gates made once per input pair, and
// the rewiring of a 2:1 multiplexer in place.
//
// kavu_create_comb2 shares gates through a cache the caller owns: the key
// names both inputs by their gate's unique id, output index and inversion,
// in order, and the comb kind ("!UID7.Oterm0,UID9.Oterm0,0"), so the same
// inputs in the other order make a second gate. The cache holds raw output
// terminals: the caller must clear it when gates may have been removed (a
// sweep), or its entries dangle.
// A null signal stands for a constant: VCC, or GND where it is inverted.
// Failures are internal errors of the component "KAVU".
// Cost: O(1) plus naming; one string key per cached call.
#pragma once

#include <string>
#include <unordered_map>

#include "cdb/cdb_codes.h"

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class CDB_SGATE_MUX;

// The output of a comb gate of that kind over (a ^ invert_a, b ^ invert_b),
// a new one named "comb" after name_from (required), or the cached one.
CDB_SGATE_OTERM* kavu_create_comb2(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_from, CDB_SGATE_OTERM* a,
                                   bool invert_a, CDB_SGATE_OTERM* b, bool invert_b, CDB_COMB_TYPE kind,
                                   std::unordered_map<std::string, CDB_SGATE_OTERM*>* cache);
// Rewires the multiplexer's three inputs (data0, data1 with their
// inversions, select never inverted) and returns its output, whose inversion
// mark is cleared. An output that already drives something is an internal
// error.
CDB_SGATE_OTERM* kavu_update_mux(CDB_SGATE_MUX* mux, CDB_SGATE_OTERM* select, CDB_SGATE_OTERM* data0,
                                 bool invert_data0, CDB_SGATE_OTERM* data1, bool invert_data1);
