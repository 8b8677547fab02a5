// cdb_atom.cpp — the minimal atom netlist: ownership and lists.
//
// Cost: add_node O(1); destruction O(atoms + terminals).
#include "cdb/cdb_atom.h"

#include "msg/msg.h"

CDB_ATOM_OTERM* CDB_ATOM_NODE::add_output_term(DB_OUTPUT_PORT_TYPE port_type) {
  m_oterms.emplace_back(new CDB_ATOM_OTERM(this, port_type));
  return m_oterms.back().get();
}

CDB_ATOM_NETLIST::~CDB_ATOM_NETLIST() {
  for (CDB_ATOM_NODE* atom : m_raw) delete atom;
}

CDB_ATOM_NODE* CDB_ATOM_NETLIST::add_node(CDB_ATOM_NODE* atom) {
  PLAT_CHECK(atom != nullptr, "CDB");
  PLAT_CHECK(atom->m_netlist == nullptr, "CDB");
  atom->m_netlist = this;
  m_raw.push_back(atom);
  if (dynamic_cast<CDB_ATOM_BLACKBOX*>(atom)) m_blackboxes.push_back(atom);
  return atom;
}

CDB_WYSIWYG_TYPE cdb_get_atom_type(const CDB_ATOM_NODE* atom) {
  PLAT_CHECK(atom != nullptr, "CDB");
  return atom->get_atom_type();
}

CDB_WYSIWYG_TYPE cdb_get_atom_basic_type(const CDB_ATOM_NODE* atom) {
  return cdb_get_atom_type(atom);
}
