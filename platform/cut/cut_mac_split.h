// Role: atom and port utilities (docs/platform.md, "Atom and port utilities").
// cut_mac_split.h — facts of the split MAC atoms: a multiplier atom
// (is_mac_mult, gate type 33) feeding an output atom (is_mac_out, gate type
// 34) that adds, accumulates or passes the products on.
//
// Model: the ports are the catalogue rows' (cdb/cdb_atom_catalogue.cpp); the
//   per-instance facts are the atom's mode bits (cdb/cdb_codes.h,
//   CDB_WYSIWYG_MAC_SPLIT_MODE):
//     multiplier  DATAA 12 registered 122, DATAB 13 registered 123,
//                 DATAOUT 3 registered 124, bypass 125, rounding 126,
//                 saturation 127
//     output      DATAOUT 3 registered 124, rounding 126, saturation 127,
//                 operating mode one of 91, 92, 94, 96, 98, 99
//   A port type the atom does not register, and any atom of another class,
//   answers false: the queries describe, they do not classify.
// State: none. Thread-safe as far as the atoms are not changed meanwhile.
// Cost: O(1) per query (mode-bit reads).
#pragma once

#include "cdb/cdb_codes.h"

class CDB_SGATE_WYSIWYG;

class CUT_MAC_SPLIT_UTIL {
 public:
  // Whether the input (output) port of that type is registered. A null atom
  // is an internal error.
  static bool is_input_port_registered(const CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port);
  static bool is_output_port_registered(const CDB_SGATE_WYSIWYG* atom, DB_OUTPUT_PORT_TYPE port);
  // A multiplier atom set to pass its operands through.
  static bool is_bypass_multiplier(const CDB_SGATE_WYSIWYG* atom);
  // Rounding and saturation enabled on a multiplier or output atom.
  static bool is_using_rounding(const CDB_SGATE_WYSIWYG* atom);
  static bool is_using_saturation(const CDB_SGATE_WYSIWYG* atom);
};
