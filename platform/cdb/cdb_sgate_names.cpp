// cdb_sgate_names.cpp — names and paths of gates and terminals.
//
// A gate's path is its instance name's full path, else its string name,
// else "~N" and the debug number; a terminal's path uses its own instance
// name, else its gate's path. Names are HDB_INSTANCE_NAME pointers into the
// name tree, never owned here.
#include "cdb/cdb_sgate_node.h"
#include "hdb/hdb.h"

unsigned CDB_SGATE_NODE::get_instance_name_id() const { return m_name ? unsigned(m_name->get_id()) : 0u; }

std::string CDB_SGATE_NODE::get_string_hpath() const {
  if (m_name) return m_name->get_short_hpath(0);
  if (m_string_name) return *m_string_name;
  return "~N" + std::to_string(m_debug_number);
}

unsigned CDB_SGATE_OTERM::get_instance_name_id() const { return m_name ? unsigned(m_name->get_id()) : 0u; }

std::string CDB_SGATE_OTERM::get_string_hpath() const {
  if (m_name) return m_name->get_short_hpath(0);
  return m_node ? m_node->get_string_hpath() : std::string();
}

std::string CDB_SGATE_ITERM::get_string_hpath() const {
  return m_node ? m_node->get_string_hpath() : std::string();
}
