// kavu_wysiwyg_unmapper.h — turns device-level cells back into generic gates.
// For now: 2:1 multiplexers into AND/OR logic (used by the enable unmapping).
#pragma once

#include <list>

#include "cdb/cdb_sgate.h"

// Rewrites a 2:1 mux as OR(AND(select, data1), AND(!select, data0)): the
// three new comb gates (OR first, then the data0 and data1 ANDs) carry the
// mux's instance name, are appended to *new_nodes (not added to a netlist)
// and the OR's output takes over the mux output's fan-outs, inverted when
// that output is inverted. Each AND input is a copy of a mux input
// (kavu_copy_fanin): inversions and tied inputs carry over as fan-in flags
// and constants. Returns the OR's output; the mux is left
// without fan-out for the caller to delete. Internal errors: a null mux or
// list, an unconnected select, data0 or data1.
CDB_SGATE_OTERM* kavu_convert_mux_to_logic(CDB_SGATE_MUX* node, std::list<CDB_SGATE_NODE*>* new_nodes);
