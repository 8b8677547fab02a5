// cdb_sgate_archive_members.cpp — the members the netlist archive needs to
// rebuild gates exactly: the netlist's owned state machines, component ports
// bound to terminals already placed, the on-demand ports of atoms, and new
// terminals placed in their slots in constant time.
#include <algorithm>

#include "cdb/cdb_sgate.h"
#include "msg/msg.h"

std::list<CDB_STATE_MACHINE*>* CDB_SGATE_NETLIST::get_machine_list() {
  if (!m_machines) m_machines = new std::list<CDB_STATE_MACHINE*>;
  return m_machines;
}

CDB_SGATE_COMPONENT_PORT_ENTRY* CDB_SGATE_COMPONENT::add_empty_port(const char* name, int dir,
                                                                    unsigned width) {
  PLAT_CHECK(name != nullptr && find_port(name) == nullptr, "CDB");
  PLAT_CHECK(dir == CDB_COMPONENT_PORT_INPUT || dir == CDB_COMPONENT_PORT_OUTPUT, "CDB");
  auto* port = new CDB_SGATE_COMPONENT_PORT_ENTRY;
  port->m_name = name;
  port->m_dir = dir;
  port->m_iterms.assign(width, nullptr);
  port->m_oterms.assign(width, nullptr);
  m_ports.push_back(port);
  return port;
}

void CDB_SGATE_COMPONENT::bind_port_bit(CDB_SGATE_COMPONENT_PORT_ENTRY* port, unsigned bit,
                                        CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  PLAT_CHECK(port != nullptr && bit < port->get_width(), "CDB");
  PLAT_CHECK(std::find(m_ports.begin(), m_ports.end(), port) != m_ports.end(), "CDB");
  if (port->m_dir == CDB_COMPONENT_PORT_INPUT) {
    PLAT_CHECK(oterm == nullptr && (!iterm || iterm->get_my_node() == this), "CDB");
    if (iterm) iterm->set_port_index(bit);
    port->m_iterms[bit] = iterm;
  } else {
    PLAT_CHECK(iterm == nullptr && (!oterm || oterm->get_my_node() == this), "CDB");
    if (oterm) oterm->set_port_index(bit);
    port->m_oterms[bit] = oterm;
  }
}

std::vector<std::pair<uint16_t, uint16_t>> CDB_SGATE_WYSIWYG::get_on_demand_ports(bool outputs) const {
  std::vector<std::pair<uint16_t, uint16_t>> out;
  for (const EXTRA_PORT& e : outputs ? m_extra_outputs : m_extra_inputs) out.emplace_back(e.m_port_type, e.m_slot);
  return out;
}

void CDB_SGATE_WYSIWYG::restore_on_demand_port(bool outputs, uint16_t type, uint16_t slot) {
  PLAT_CHECK(m_entry->ports_on_demand(), "CDB");
  std::vector<EXTRA_PORT>& extras = outputs ? m_extra_outputs : m_extra_inputs;
  const uint16_t row_slot = outputs ? m_entry->output_slot(type) : m_entry->input_slot(type);
  const unsigned row_slots = outputs ? m_entry->num_output_slots() : m_entry->num_input_slots();
  PLAT_CHECK(row_slot == CDB_ILLEGAL_PORT && slot >= row_slots && slot < CDB_ILLEGAL_PORT, "CDB");
  for (const EXTRA_PORT& e : extras) PLAT_CHECK(e.m_port_type != type && e.m_slot != slot, "CDB");
  extras.push_back({type, slot});
}

void CDB_SGATE_NODE::place_new_input_term(CDB_SGATE_ITERM* t, unsigned pos) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this && pos < m_iterms.size() && m_iterms[pos] == nullptr, "CDB");
  m_iterms[pos] = t;
}

void CDB_SGATE_NODE::place_new_output_term(CDB_SGATE_OTERM* t, unsigned pos) {
  PLAT_CHECK(t != nullptr && t->get_my_node() == this && pos < m_oterms.size() && m_oterms[pos] == nullptr, "CDB");
  m_oterms[pos] = t;
}
