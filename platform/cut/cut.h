// Role: atom and port utilities (docs/platform.md, "Atom and port utilities").
// cut.h — atom and port utilities: debug texts of device port types.
//
// Model: every fact comes from the atom catalogue (cdb/cdb_atom_catalogue.h);
//   this role only phrases it for the library. Port texts are the catalogue's
//   upper-case names ("COMBOUT", "SUMOUT"); a port type the catalogue does
//   not name gets "PORT_<number>", so distinct types never share a text.
// State: none. Thread-safe.
// Cost: one lookup in the catalogue's name table.
#pragma once

#include <string>

#include "cdb/cdb_codes.h"

class WYS_INFO {
 public:
  // The debug text of an output port type, e.g. "COMBOUT" for 9, "PORT_77"
  // for an unnamed type 77.
  static std::string get_port_type_debug_string(DB_OUTPUT_PORT_TYPE port);
};

// Debug texts of device input port types, e.g. "DATAA" for 12, "PORT_77"
// for an unnamed type 77 (the same rule as the output texts).
class DBS_TRANSLATOR {
 public:
  static std::string get_debug_string_name(DB_INPUT_PORT_TYPE port);
};
