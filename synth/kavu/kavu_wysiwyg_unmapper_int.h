// kavu_wysiwyg_unmapper_int.h — what the atom unmap routines share: the
// routine signature, port connection rules and the required-port check.
#pragma once

#include <list>

#include "kavu_wysiwyg_unmapper.h"

// Every unmap routine: the atom, the list for new gates, the report stream
// (may be null), the unmapper whose switches it reads and the family.
typedef void (*WYS_UNMAP_ROUTINE)(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist,
                                  std::orlind_ofstream* report, KAVU_WYSIWYG_UNMAPPER* unmapper,
                                  DEV_FAMILY_ENUM family);

// Default of an input whose atom port is absent or unconnected.
enum WYS_DEFAULT_SOURCE { WYS_DEFAULT_NONE = 0, WYS_DEFAULT_VCC = 1, WYS_DEFAULT_GND = 2 };

// The routine for an atom, or null.
WYS_UNMAP_ROUTINE wys_unmapper_select(CDB_SGATE_WYSIWYG* wys);

// Whether the atom's port exists and is connected (driven or tied).
bool wys_port_connected(const CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port);

// The first port the atom's routine cannot do without that is unconnected,
// or DB_MAX_INPUT_PORT_TYPE when every required port is connected.
DB_INPUT_PORT_TYPE wys_unmap_missing_required_port(CDB_SGATE_WYSIWYG* wys);
// Posts 286001 for the atom and port, located at the atom.
void wys_post_missing_port(CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port);

// Connects iterm like the atom's port: the port's constant, or its source
// with its inversion; an absent or unconnected port gives the default. A
// required port (default none) must have been checked connected before
// (internal error otherwise).
void wys_unmap_connect_port(CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port, CDB_SGATE_ITERM* iterm,
                            WYS_DEFAULT_SOURCE dflt);
// A new input of a generic gate at position pos: VCC, GND or unconnected.
CDB_SGATE_ITERM* wys_unmap_default_source(CDB_SGATE_NODE* sgate, unsigned pos, WYS_DEFAULT_SOURCE dflt);

void wys_unmap_ff(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist, std::orlind_ofstream* report,
                  KAVU_WYSIWYG_UNMAPPER* unmapper, DEV_FAMILY_ENUM family);
void wys_unmap_ff_with_enable(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist,
                              std::orlind_ofstream* report, KAVU_WYSIWYG_UNMAPPER* unmapper,
                              DEV_FAMILY_ENUM family);
// The type of the adder atom that takes over the arithmetic of a logic cell
// of the given type.
CDB_WYSIWYG_TYPE wys_unmap_adder_type(CDB_WYSIWYG_TYPE cell_type);
void wys_unmap_lcell_comb(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist, std::orlind_ofstream* report,
                          KAVU_WYSIWYG_UNMAPPER* unmapper, DEV_FAMILY_ENUM family);
void wys_unmap_lcell_comb_simple(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist,
                                 std::orlind_ofstream* report, KAVU_WYSIWYG_UNMAPPER* unmapper,
                                 DEV_FAMILY_ENUM family);
