// cdb_sgate_operator.cpp — operators: the port table, the link between port
// bits and the gate's terminal lists, cloning and the kind's invariants.
//
// A bit's terminal records its port type and bit index, so the bit a
// terminal serves is found in O(1) from the terminal (used to refuse a
// terminal in two bits and to empty a bit when its terminal is destroyed).
#include "cdb/cdb_sgate_operator.h"

#include "cdb/cdb_port_table_int.h"
#include "msg/msg.h"

namespace {

// The port of a raw port-type number, or null; terminals outside any port
// carry numbers that are no operator port type at all.
CDB_SGATE_OPER_PORT_ENTRY* find_port(const CDB_SGATE_OPERATOR* op, unsigned type) {
  for (auto it = op->begin_const_port_entry_table(); it != op->end_const_port_entry_table(); ++it)
    if (unsigned((*it)->get_type()) == type) return *it;
  return nullptr;
}

using kavu_platform::cdb_list_contains;

}  // namespace

CDB_SGATE_OPER_PORT_ENTRY::CDB_SGATE_OPER_PORT_ENTRY(CDB_SGATE_OPERATOR* op, const char* name,
                                                     CDB_OPER_PORT_TYPE type, CDB_OPER_PORT_DIR dir)
    : m_op(op), m_name(name ? name : ""), m_type(type), m_dir(dir) {}

void CDB_SGATE_OPER_PORT_ENTRY::widen_to(unsigned width) {
  if (width <= m_iterms.size()) return;
  m_iterms.resize(width, nullptr);
  m_oterms.resize(width, nullptr);
}

void CDB_SGATE_OPER_PORT_ENTRY::set_iterm(unsigned i, CDB_SGATE_ITERM* t) {
  if (t) {
    PLAT_CHECK(t->get_my_node() == m_op, "CDB");
    // A terminal already in a bit may only be set again into that same bit.
    CDB_SGATE_OPER_PORT_ENTRY* held = find_port(m_op, t->get_port_type());
    bool in_other_bit = held && held->get_iterm(t->get_port_index()) == t &&
                        (held != this || t->get_port_index() != i);
    PLAT_CHECK(!in_other_bit, "CDB");
  }
  widen_to(i + 1);
  m_iterms[i] = t;
  if (!t) return;
  t->set_port_type(DB_INPUT_PORT_TYPE(m_type));
  t->set_port_index(i);
  if (!cdb_list_contains(m_op->get_input_terms(), t)) m_op->insert_unordered_fanin_term(t);
}

void CDB_SGATE_OPER_PORT_ENTRY::set_oterm(unsigned i, CDB_SGATE_OTERM* t) {
  if (t) {
    PLAT_CHECK(t->get_my_node() == m_op, "CDB");
    CDB_SGATE_OPER_PORT_ENTRY* held = find_port(m_op, t->get_port_type());
    bool in_other_bit = held && held->get_oterm(t->get_port_index()) == t &&
                        (held != this || t->get_port_index() != i);
    PLAT_CHECK(!in_other_bit, "CDB");
  }
  widen_to(i + 1);
  m_oterms[i] = t;
  if (!t) return;
  t->set_port_type(DB_OUTPUT_PORT_TYPE(m_type));
  t->set_port_index(i);
  if (!cdb_list_contains(m_op->get_output_terms(), t)) m_op->insert_unordered_fanout_term(t);
}

// ---------------------------------------------------------------------------

CDB_SGATE_OPERATOR::CDB_SGATE_OPERATOR(const char* text, CDB_OPER_TYPE type)
    : CDB_SGATE_NODE(CDB_SGATE_OPERATOR_ENUM, nullptr), m_oper_type(type) {
  if (text) set_string_name(text);
}

CDB_SGATE_OPERATOR::~CDB_SGATE_OPERATOR() {
  for (CDB_SGATE_OPER_PORT_ENTRY* p : m_ports) delete p;
}

CDB_SGATE_OPER_PORT_ENTRY* CDB_SGATE_OPERATOR::get_port(CDB_OPER_PORT_TYPE type) const {
  return find_port(this, unsigned(type));
}

unsigned CDB_SGATE_OPERATOR::get_width(CDB_OPER_PORT_TYPE type) const {
  const CDB_SGATE_OPER_PORT_ENTRY* p = get_port(type);
  return p ? p->get_width() : 0;
}

CDB_SGATE_OPER_PORT_ENTRY* CDB_SGATE_OPERATOR::add_port(const char* name, CDB_OPER_PORT_TYPE type,
                                                        CDB_OPER_PORT_DIR dir) {
  PLAT_CHECK(get_port(type) == nullptr, "CDB");
  m_ports.push_back(new CDB_SGATE_OPER_PORT_ENTRY(this, name, type, dir));
  return m_ports.back();
}

CDB_SGATE_ITERM* CDB_SGATE_OPERATOR::get_iterm(CDB_OPER_PORT_TYPE type, unsigned i) const {
  const CDB_SGATE_OPER_PORT_ENTRY* p = get_port(type);
  return p ? p->get_iterm(i) : nullptr;
}

CDB_SGATE_OTERM* CDB_SGATE_OPERATOR::get_oterm(CDB_OPER_PORT_TYPE type, unsigned i) const {
  const CDB_SGATE_OPER_PORT_ENTRY* p = get_port(type);
  return p ? p->get_oterm(i) : nullptr;
}

void CDB_SGATE_OPERATOR::on_iterm_removed(CDB_SGATE_ITERM* t) {
  CDB_SGATE_OPER_PORT_ENTRY* p = find_port(this, t->get_port_type());
  if (p && p->get_iterm(t->get_port_index()) == t) p->m_iterms[t->get_port_index()] = nullptr;
}

void CDB_SGATE_OPERATOR::on_oterm_removed(CDB_SGATE_OTERM* t) {
  CDB_SGATE_OPER_PORT_ENTRY* p = find_port(this, t->get_port_type());
  if (p && p->get_oterm(t->get_port_index()) == t) p->m_oterms[t->get_port_index()] = nullptr;
}

void CDB_SGATE_OPERATOR::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_OPERATOR* copy = new CDB_SGATE_OPERATOR(nullptr, m_oper_type);
  copy->m_mode1 = m_mode1;
  copy->m_mode2 = m_mode2;
  copy->m_mode3 = m_mode3;
  copy->m_attribute = m_attribute;
  copy->m_signed = m_signed;
  copy->m_tag = m_tag;
  copy->m_partition = m_partition;
  clone_base_into(copy, clone_type);  // terminals in the same slots, same port data

  // Each bit takes the copy's terminal from the slot the original's holds.
  const kavu_platform::CDB_CLONE_TERM_SLOTS slots(this, copy);
  for (const CDB_SGATE_OPER_PORT_ENTRY* p : m_ports) {
    CDB_SGATE_OPER_PORT_ENTRY* q = copy->add_port(p->get_name(), p->get_type(), p->get_dir());
    slots.copy_bits(*p, q->m_iterms, q->m_oterms);
  }
  *result = copy;
}

bool CDB_SGATE_OPERATOR::check_kind_invariants(std::string* report) const {
  bool ok = CDB_SGATE_NODE::check_kind_invariants(report);
  auto fail = [&](const CDB_SGATE_OPER_PORT_ENTRY* p, unsigned bit, const char* what) {
    ok = false;
    if (report)
      *report += get_debug_name() + ": operator port " + p->get_name() + " bit " + std::to_string(bit) +
                 ": " + what + "\n";
  };
  for (const CDB_SGATE_OPER_PORT_ENTRY* p : m_ports) {
    for (unsigned i = 0; i < p->get_width(); ++i) {
      if (const CDB_SGATE_ITERM* t = p->get_iterm(i)) {
        if (t->get_my_node() != this || !cdb_list_contains(get_input_terms(), t))
          fail(p, i, "input terminal not in the gate's input list");
        else if (t->get_port_type() != unsigned(p->get_type()) || t->get_port_index() != i)
          fail(p, i, "input terminal carries another port type or bit");
      }
      if (const CDB_SGATE_OTERM* t = p->get_oterm(i)) {
        if (t->get_my_node() != this || !cdb_list_contains(get_output_terms(), t))
          fail(p, i, "output terminal not in the gate's output list");
        else if (t->get_port_type() != unsigned(p->get_type()) || t->get_port_index() != i)
          fail(p, i, "output terminal carries another port type or bit");
      }
    }
  }
  return ok;
}
