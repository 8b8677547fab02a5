// cdb_sgate_netlist_batch.cpp — unlinking many gates at once.
//
// delete_node keeps the pin lists by erasing one entry per pin, which costs
// O(pins) each; a caller unlinking most pins of a large netlist (a
// sub-netlist taken apart) would pay O(pins^2). delete_nodes unlinks the
// gates one by one from the node list and filters each pin list once.
#include <algorithm>
#include <unordered_set>

#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_netlist.h"
#include "msg/msg.h"

int CDB_SGATE_NETLIST::delete_nodes(const std::vector<CDB_SGATE_NODE*>& nodes) {
  std::unordered_set<const CDB_SGATE_NODE*> listed;
  listed.reserve(nodes.size());
  for (CDB_SGATE_NODE* node : nodes) {
    PLAT_CHECK(node != nullptr && node->m_netlist == this, "CDB");
    PLAT_CHECK(listed.insert(node).second, "CDB");  // listed twice
  }
  bool any_pin = false;
  for (CDB_SGATE_NODE* node : nodes) {
    m_nodes.erase(node->m_slot);
    node->m_slot = nullptr;
    node->m_netlist = nullptr;
    if (node->ex().m_max_fanout_limit > 0) --m_num_max_fanout;
    any_pin = any_pin || node->cast_to_io() != nullptr;
  }
  if (any_pin) {
    auto gone = [&listed](const CDB_SGATE_IO* p) { return listed.count(static_cast<const CDB_SGATE_NODE*>(p)) != 0; };
    for (std::vector<CDB_SGATE_IO*>* v : {&m_input_pins, &m_output_pins, &m_bidir_pins})
      v->erase(std::remove_if(v->begin(), v->end(), gone), v->end());
  }
  if (!nodes.empty()) m_dirty = true;
  return int(nodes.size());
}
