// cdb_sgate_hierarchy.cpp — hierarchies, state machines and the
// compatible-register record (see cdb_sgate_hierarchy.h).
//
// A state machine registers itself on every gate it lists, so a destroyed
// gate leaves the machine's lists (CDB_SGATE_NODE's destructor calls
// forget_node) and a destroyed machine leaves the gates' back references.
#include "cdb/cdb_sgate_hierarchy.h"

#include <algorithm>

#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_netlist.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

// ---------------------------------------------------------------------------
void CDB_HIERARCHY_BASE::set_parent(CDB_HIERARCHY_BASE* p) {
  PLAT_CHECK(p != this, "CDB");
  if (m_parent) {
    std::vector<CDB_HIERARCHY_BASE*>& c = m_parent->m_children;
    c.erase(std::remove(c.begin(), c.end(), this), c.end());
  }
  m_parent = p;
  if (p) p->m_children.push_back(this);
}

CDB_HIERARCHY_BASE* CDB_HIERARCHY_BASE::get_root() {
  CDB_HIERARCHY_BASE* h = this;
  while (h->m_parent) h = h->m_parent;
  return h;
}

CDB_SGATE_HIERARCHY::~CDB_SGATE_HIERARCHY() {
  set_machine_list(nullptr);
  if (m_netlist && m_netlist->get_hierarchy() == this) m_netlist->set_hierarchy(nullptr);
}

void CDB_SGATE_HIERARCHY::set_netlist(CDB_SGATE_NETLIST* n) {
  m_netlist = n;
  if (n) n->set_hierarchy(this);
}

std::list<CDB_STATE_MACHINE*>* CDB_SGATE_HIERARCHY::get_machine_list() {
  if (!m_machines) m_machines = new std::list<CDB_STATE_MACHINE*>;
  return m_machines;
}

void CDB_SGATE_HIERARCHY::set_machine_list(std::list<CDB_STATE_MACHINE*>* l) {
  if (l == m_machines) return;
  if (m_machines) {
    for (CDB_STATE_MACHINE* m : *m_machines) delete m;
    delete m_machines;
  }
  m_machines = l;
}

void CDB_SGATE_HIERARCHY::set_hierarchy_pointers() { set_hierarchy_pointers(this, m_netlist); }

void CDB_SGATE_HIERARCHY::set_hierarchy_pointers(CDB_SGATE_HIERARCHY* h, CDB_SGATE_NETLIST* n) {
  if (!n) return;
  for (auto* list : {&n->get_input_pins(), &n->get_output_pins(), &n->get_bidir_pins()})
    for (CDB_SGATE_IO* p : *list) p->set_hierarchy(h);
}

// ---------------------------------------------------------------------------
CDB_STATE_MACHINE::~CDB_STATE_MACHINE() { drop_references(); }

void CDB_STATE_MACHINE::drop_references() {
  for (CDB_SGATE_STATE* s : m_states)
    if (s) s->remove_state_machine_reference(this);
  for (CDB_SGATE_DFF* r : m_registers)
    if (r) r->remove_state_machine_reference(this);
  for (CDB_SGATE_OTERM* t : {m_clk, m_clk_en, m_reset})
    if (t) t->get_my_node()->remove_state_machine_reference(this);
}

void CDB_STATE_MACHINE::set_oterm(CDB_SGATE_OTERM*& field, CDB_SGATE_OTERM* t) {
  // A stale reference on the old gate is harmless: forget_node only clears
  // what still points at that gate.
  if (t) t->get_my_node()->add_state_machine_reference(this);
  field = t;
}

void CDB_STATE_MACHINE::add_state(CDB_SGATE_STATE* s) {
  PLAT_CHECK(s != nullptr, "CDB");
  s->add_state_machine_reference(this);
  m_states.push_back(s);
}

void CDB_STATE_MACHINE::add_register(CDB_SGATE_DFF* r) {
  PLAT_CHECK(r != nullptr, "CDB");
  r->add_state_machine_reference(this);
  m_registers.push_back(r);
}

void CDB_STATE_MACHINE::forget_node(const CDB_SGATE_NODE* n) {
  m_states.erase(std::remove(m_states.begin(), m_states.end(), n), m_states.end());
  m_registers.erase(std::remove(m_registers.begin(), m_registers.end(), n), m_registers.end());
  for (CDB_SGATE_OTERM** t : {&m_clk, &m_clk_en, &m_reset})
    if (*t && (*t)->get_my_node() == n) *t = nullptr;
}

std::string CDB_STATE_MACHINE::get_string_hpath() const {
  return m_name ? m_name->get_short_hpath(0) : m_text;
}

CDB_STATE_MACHINE* CDB_STATE_MACHINE::cross_clone(const CDB_CLONE_MAP* map) const {
  auto tr = [map](const void* p) -> void* {
    if (!map || !p) return const_cast<void*>(p);
    auto it = map->find(p);
    return it == map->end() ? nullptr : it->second;
  };
  CDB_STATE_MACHINE* c = new CDB_STATE_MACHINE;
  for (CDB_SGATE_STATE* s : m_states)
    if (auto* cs = static_cast<CDB_SGATE_STATE*>(tr(s))) c->add_state(cs);
  for (CDB_SGATE_DFF* r : m_registers)
    if (auto* cr = static_cast<CDB_SGATE_DFF*>(tr(r))) c->add_register(cr);
  c->set_clk(static_cast<CDB_SGATE_OTERM*>(tr(m_clk)));
  c->set_clk_en(static_cast<CDB_SGATE_OTERM*>(tr(m_clk_en)));
  c->set_reset(static_cast<CDB_SGATE_OTERM*>(tr(m_reset)));
  c->m_clk_inverted = m_clk_inverted;
  c->m_name = m_name;
  c->m_text = m_text;
  return c;
}

CDB_STATE_MACHINE::STORED_OTERM CDB_STATE_MACHINE::store(const CDB_SGATE_OTERM* t) {
  STORED_OTERM s;
  if (!t) return s;
  const CDB_SGATE_NODE* n = t->get_my_node();
  const auto& outs = n->get_output_terms();
  s.m_node = n->get_debug_number();
  s.m_index = unsigned(std::find(outs.begin(), outs.end(), t) - outs.begin());
  s.m_valid = true;
  return s;
}

CDB_SGATE_OTERM* CDB_STATE_MACHINE::recover(const STORED_OTERM& s,
                                            std::unordered_map<unsigned, CDB_SGATE_NODE*>* map) {
  if (!s.m_valid || !map) return nullptr;
  auto it = map->find(s.m_node);
  return it == map->end() || !it->second ? nullptr : it->second->get_output_term(s.m_index);
}

void CDB_STATE_MACHINE::store_oterms_as_debug_numbers(bool drop_pointers) {
  m_stored[0] = store(m_clk);
  m_stored[1] = store(m_clk_en);
  m_stored[2] = store(m_reset);
  m_stored_states.clear();
  for (CDB_SGATE_STATE* s : m_states) m_stored_states.push_back(s->get_debug_number());
  m_stored_registers.clear();
  for (CDB_SGATE_DFF* r : m_registers) m_stored_registers.push_back(r->get_debug_number());
  if (!drop_pointers) return;
  drop_references();
  m_states.clear();
  m_registers.clear();
  m_clk = m_clk_en = m_reset = nullptr;
}

void CDB_STATE_MACHINE::gather_nodes_of_interest(std::unordered_map<unsigned, CDB_SGATE_NODE*>* map) const {
  PLAT_CHECK(map != nullptr, "CDB");
  for (CDB_SGATE_STATE* s : m_states) (*map)[s->get_debug_number()] = s;
  for (CDB_SGATE_DFF* r : m_registers) (*map)[r->get_debug_number()] = r;
  for (CDB_SGATE_OTERM* t : {m_clk, m_clk_en, m_reset})
    if (t) (*map)[t->get_my_node()->get_debug_number()] = t->get_my_node();
}

void CDB_STATE_MACHINE::recover_oterms_from_debug_numbers(std::unordered_map<unsigned, CDB_SGATE_NODE*>* map) {
  PLAT_CHECK(map != nullptr, "CDB");
  drop_references();
  m_states.clear();
  m_registers.clear();
  for (unsigned id : m_stored_states) {
    auto it = map->find(id);
    if (it != map->end() && it->second && it->second->cast_to_state()) add_state(it->second->cast_to_state());
  }
  for (unsigned id : m_stored_registers) {
    auto it = map->find(id);
    if (it != map->end() && it->second && it->second->cast_to_dff()) add_register(it->second->cast_to_dff());
  }
  set_clk(recover(m_stored[0], map));
  set_clk_en(recover(m_stored[1], map));
  set_reset(recover(m_stored[2], map));
}

// ---------------------------------------------------------------------------
uint64_t CDB_SGATE_COMPATIBLE_REGISTERS::key_of(const CDB_SGATE_OTERM* t) {
  const CDB_SGATE_NODE* n = t->get_my_node();
  const auto& outs = n->get_output_terms();
  uint64_t index = uint64_t(std::find(outs.begin(), outs.end(), t) - outs.begin());
  return uint64_t(n->get_debug_number()) << 32 | index;
}

// A register without an entry, or with set 0, is in the common set of the
// unconstrained registers; archives keep only non-zero ids, so the two must
// read alike. A register of a synchronizer chain stays apart from every
// other, whatever its set.
bool CDB_SGATE_COMPATIBLE_REGISTERS::oterms_are_compatible(const CDB_SGATE_OTERM* a, const CDB_SGATE_OTERM* b,
                                                           bool) const {
  if (!a || !b) return false;
  if (get_synch_chain(a) != 0 || get_synch_chain(b) != 0) return false;
  return get_set_id(a) == get_set_id(b);
}

unsigned CDB_SGATE_COMPATIBLE_REGISTERS::get_set_id(const CDB_SGATE_OTERM* t) const {
  if (!t) return 0;
  auto it = m_map.find(key_of(t));
  return it == m_map.end() ? 0u : unsigned(it->second.set_id);
}

void CDB_SGATE_COMPATIBLE_REGISTERS::add_oterm_set_id(const CDB_SGATE_OTERM* t, unsigned set_id) {
  PLAT_CHECK(t != nullptr, "CDB");
  m_map[key_of(t)].set_id = int(set_id);
}

void CDB_SGATE_COMPATIBLE_REGISTERS::mark_synch_reg(const CDB_SGATE_OTERM* t, unsigned chain) {
  PLAT_CHECK(t != nullptr, "CDB");
  m_map[key_of(t)].chain_id = int(chain);
}

unsigned CDB_SGATE_COMPATIBLE_REGISTERS::get_synch_chain(const CDB_SGATE_OTERM* t) const {
  if (!t) return 0;
  auto it = m_map.find(key_of(t));
  return it == m_map.end() ? 0u : unsigned(it->second.chain_id);
}

void CDB_SGATE_COMPATIBLE_REGISTERS::clear_all() {
  m_map.clear();
  m_ready = false;
}

std::string CDB_SGATE_COMPATIBLE_REGISTERS::dump_compatible_registers_map() const {
  std::vector<std::pair<uint64_t, CDB_SGATE_COMPATIBLE_REGISTERS_INFO>> rows(m_map.begin(), m_map.end());
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string out;
  for (const auto& [key, info] : rows)
    out += "N" + std::to_string(key >> 32) + ":" + std::to_string(key & 0xffffffffu) + " set " +
           std::to_string(info.set_id) + " chain " + std::to_string(info.chain_id) + "\n";
  return out;
}
