// cdb_sgate_netlist_node_info.cpp — callbacks that make and free a client's
// per-gate information while the gates are linked in a netlist.
//
// add_node runs the set callback on each gate it links;
// reset_info_functions_and_delete (and so the destructor, before any gate
// is destroyed) runs the reset callback on every linked gate. A gate that is
// unlinked keeps what the client gave it.
#include "cdb/cdb_sgate_netlist.h"

void CDB_SGATE_NETLIST::set_info_functions_and_allocate(NODE_INFO_FN set_info, NODE_INFO_FN reset_info) {
  reset_node_info();
  m_node_info_set = set_info;
  m_node_info_reset = reset_info;
  if (!set_info) return;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it)
    if (CDB_SGATE_NODE* n = *it) set_info(n);
}

void CDB_SGATE_NETLIST::reset_node_info() {
  NODE_INFO_FN reset = m_node_info_reset;
  m_node_info_set = nullptr;
  m_node_info_reset = nullptr;
  if (!reset) return;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it)
    if (CDB_SGATE_NODE* n = *it) reset(n);
}
