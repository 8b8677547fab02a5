// cut.cpp — atom and port utilities over the atom catalogue.
//
// The texts are built from the catalogue's port-name table on every call;
// nothing is cached, so the role holds no state and needs no test reset.
#include "cut/cut.h"

#include "cdb/cdb_atom_catalogue.h"

std::string WYS_INFO::get_port_type_debug_string(DB_OUTPUT_PORT_TYPE port) {
  const char* name = kavu_platform::atom_output_port_name(port);
  if (name) return name;
  return "PORT_" + std::to_string(unsigned(port));
}

std::string DBS_TRANSLATOR::get_debug_string_name(DB_INPUT_PORT_TYPE port) {
  const char* name = kavu_platform::atom_input_port_name(port);
  if (name) return name;
  return "PORT_" + std::to_string(unsigned(port));
}
