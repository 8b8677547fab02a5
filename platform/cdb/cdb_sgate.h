// Role: gate-netlist database (docs/platform.md, "Gate database").
// cdb_sgate.h — the gate-netlist database: one include for every user.
//
// Codes, LUT masks, the atom catalogue, gates and terminals, the simple gate
// kinds, hierarchies and records, the netlist, and the kinds with their own
// headers (device atoms, operators, components, RAMs).
#pragma once

#include "cdb/cdb_codes.h"
#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_atom_catalogue.h"
#include "cdb/cdb_sgate_node.h"
#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_netlist.h"

#include "cdb/cdb_sgate_wysiwyg.h"
#include "cdb/cdb_sgate_operator.h"
#include "cdb/cdb_sgate_component.h"
#include "cdb/cdb_sgate_ram.h"
