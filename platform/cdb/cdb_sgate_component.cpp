// cdb_sgate_component.cpp — components: the port table and its terminals,
// parameters, cloning and the kind's invariants.
//
// A bit's terminal records the bit as its port index, so the bit a terminal
// serves is found by checking that index in each port (a handful of ports).
#include "cdb/cdb_sgate_component.h"

#include <cstring>

#include "cdb/cdb_port_table_int.h"
#include "msg/msg.h"

CDB_SGATE_COMPONENT::CDB_SGATE_COMPONENT(const char* text, bool is_port_prototype_known)
    : CDB_SGATE_NODE(CDB_SGATE_COMPONENT_ENUM, nullptr), m_port_prototype_known(is_port_prototype_known) {
  if (text && *text) set_string_name(text);
}

CDB_SGATE_COMPONENT::~CDB_SGATE_COMPONENT() {
  for (CDB_SGATE_COMPONENT_PORT_ENTRY* p : m_ports) delete p;
}

CDB_SGATE_COMPONENT_PORT_ENTRY* CDB_SGATE_COMPONENT::find_port(const char* name) const {
  PLAT_CHECK(name != nullptr, "CDB");
  for (CDB_SGATE_COMPONENT_PORT_ENTRY* p : m_ports)
    if (p->m_name == name) return p;
  return nullptr;
}

void CDB_SGATE_COMPONENT::make_bit_terminal(CDB_SGATE_COMPONENT_PORT_ENTRY* port, unsigned bit) {
  if (port->m_dir == CDB_COMPONENT_PORT_INPUT) {
    if (port->m_iterms[bit]) return;
    CDB_SGATE_ITERM* t = create_input_term(nullptr);
    t->set_port_index(bit);
    insert_unordered_fanin_term(t);
    port->m_iterms[bit] = t;
  } else {
    if (port->m_oterms[bit]) return;
    CDB_SGATE_OTERM* t = create_output_term(nullptr);
    t->set_port_index(bit);
    insert_unordered_fanout_term(t);
    port->m_oterms[bit] = t;
  }
}

CDB_SGATE_COMPONENT_PORT_ENTRY* CDB_SGATE_COMPONENT::add_unique_known_port(const char* name, int dir,
                                                                           unsigned width) {
  PLAT_CHECK(dir == CDB_COMPONENT_PORT_INPUT || dir == CDB_COMPONENT_PORT_OUTPUT, "CDB");
  PLAT_CHECK(width > 0, "CDB");
  CDB_SGATE_COMPONENT_PORT_ENTRY* port = find_port(name);
  if (port) {
    PLAT_CHECK(port->m_dir == dir, "CDB");
  } else {
    port = new CDB_SGATE_COMPONENT_PORT_ENTRY;
    port->m_name = name;
    port->m_dir = dir;
    m_ports.push_back(port);
  }
  if (port->m_iterms.size() < width) {
    port->m_iterms.resize(width, nullptr);
    port->m_oterms.resize(width, nullptr);
  }
  for (unsigned i = 0; i < width; ++i) make_bit_terminal(port, i);
  return port;
}

bool CDB_SGATE_COMPONENT::retrieve_known_port(const char* name, int dir, CDB_SGATE_ITERM** iterm,
                                              CDB_SGATE_OTERM** oterm, bool create) {
  PLAT_CHECK(dir == CDB_COMPONENT_PORT_INPUT || dir == CDB_COMPONENT_PORT_OUTPUT, "CDB");
  CDB_SGATE_COMPONENT_PORT_ENTRY* port = find_port(name);
  if (port) PLAT_CHECK(port->m_dir == dir, "CDB");
  if (iterm) *iterm = nullptr;
  if (oterm) *oterm = nullptr;
  if (!port && !create) return false;
  if (create) port = add_unique_known_port(name, dir, 1);
  if (iterm) *iterm = port->get_iterm(0);
  if (oterm) *oterm = port->get_oterm(0);
  return true;
}

void CDB_SGATE_COMPONENT::set_parameter(const char* name, const char* value, int type) {
  for (CDB_SGATE_COMPONENT_PARAMETER& p : m_parameters) {
    bool same = name ? (p.m_has_name && p.m_name == name) : !p.m_has_name;
    if (!same) continue;
    p.m_has_value = value != nullptr;
    p.m_value = value ? value : "";
    p.m_type = type;
    return;
  }
  CDB_SGATE_COMPONENT_PARAMETER p;
  p.m_has_name = name != nullptr;
  p.m_name = name ? name : "";
  p.m_has_value = value != nullptr;
  p.m_value = value ? value : "";
  p.m_type = type;
  m_parameters.push_back(std::move(p));
}

const char* CDB_SGATE_COMPONENT::get_parameter(const char* name) const {
  PLAT_CHECK(name != nullptr, "CDB");
  for (const CDB_SGATE_COMPONENT_PARAMETER& p : m_parameters)
    if (p.m_has_name && p.m_name == name) return p.get_value();
  return nullptr;
}

void CDB_SGATE_COMPONENT::on_iterm_removed(CDB_SGATE_ITERM* t) {
  for (CDB_SGATE_COMPONENT_PORT_ENTRY* p : m_ports)
    if (p->get_iterm(t->get_port_index()) == t) p->m_iterms[t->get_port_index()] = nullptr;
}

void CDB_SGATE_COMPONENT::on_oterm_removed(CDB_SGATE_OTERM* t) {
  for (CDB_SGATE_COMPONENT_PORT_ENTRY* p : m_ports)
    if (p->get_oterm(t->get_port_index()) == t) p->m_oterms[t->get_port_index()] = nullptr;
}

void CDB_SGATE_COMPONENT::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_COMPONENT* copy = new CDB_SGATE_COMPONENT(nullptr, m_port_prototype_known);
  copy->m_component_type = m_component_type;
  copy->m_function_name = m_function_name;
  copy->m_library_name = m_library_name;
  copy->m_architecture_name = m_architecture_name;
  copy->m_option_byte = m_option_byte;
  copy->m_parameters = m_parameters;
  clone_base_into(copy, clone_type);  // terminals in the same slots, same port data

  // Each bit takes the copy's terminal from the slot the original's holds.
  const kavu_platform::CDB_CLONE_TERM_SLOTS slots(this, copy);
  for (const CDB_SGATE_COMPONENT_PORT_ENTRY* p : m_ports) {
    CDB_SGATE_COMPONENT_PORT_ENTRY* q = new CDB_SGATE_COMPONENT_PORT_ENTRY;
    q->m_name = p->m_name;
    q->m_dir = p->m_dir;
    slots.copy_bits(*p, q->m_iterms, q->m_oterms);
    copy->m_ports.push_back(q);
  }
  *result = copy;
}

bool CDB_SGATE_COMPONENT::check_kind_invariants(std::string* report) const {
  using kavu_platform::cdb_list_contains;
  bool ok = CDB_SGATE_NODE::check_kind_invariants(report);
  for (const CDB_SGATE_COMPONENT_PORT_ENTRY* p : m_ports) {
    for (unsigned i = 0; i < p->get_width(); ++i) {
      bool bad = (p->m_iterms[i] && !cdb_list_contains(get_input_terms(), p->m_iterms[i])) ||
                 (p->m_oterms[i] && !cdb_list_contains(get_output_terms(), p->m_oterms[i]));
      if (!bad) continue;
      ok = false;
      if (report)
        *report += get_debug_name() + ": component port " + p->m_name + " bit " + std::to_string(i) +
                   ": terminal not in the gate's lists\n";
    }
  }
  return ok;
}
