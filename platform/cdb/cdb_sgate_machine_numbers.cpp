// cdb_sgate_machine_numbers.cpp — the debug numbers a state machine stored
// for a move through archives (contract in cdb_sgate_hierarchy.h).
#include "cdb/cdb_sgate_hierarchy.h"
#include "msg/msg.h"

void CDB_STATE_MACHINE::gather_stored_debug_numbers(std::unordered_map<unsigned, CDB_SGATE_NODE*>* map) const {
  PLAT_CHECK(map != nullptr, "CDB");
  for (unsigned id : m_stored_states) map->emplace(id, nullptr);
  for (unsigned id : m_stored_registers) map->emplace(id, nullptr);
  for (const STORED_OTERM& s : m_stored)
    if (s.m_valid) map->emplace(s.m_node, nullptr);
}
