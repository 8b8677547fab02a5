// kavu_seq_timer_util.cpp — functions the whole sequential timer shares
// (register marks, terminal names, clock-set texts, register tests, the
// arrival-table print) and the big-gate records that decomposition for delay
// fills.
//
// Big gates: a record per rebuilt wide gate (output, supports with
//   repeats, support depths), a set keyed by output terminal for big and
//   huge gates, a log of the big gates that use each support terminal, and
//   two id tables back to the ids before decomposition. The set owns its
//   records and logs and refuses to be copied (a copy would free them twice).
#include <fstream>
#include <iostream>
#include <sstream>

#include "cdb/cdb_atom_catalogue.h"
#include "cut/cut.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_seq_timer.h"
#include "kavu_setup.h"

// ---------------------------------------------------------------------------
// Marks and names

bool kavu_seq_timer_is_dff_fixed(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr);
  return sgate->get_flag().test(KAVU_SEQ_DFF_FIXED);
}

bool kavu_seq_timer_is_register_ram_packed(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr);
  return sgate->get_flag().test(KAVU_SEQ_RAM_PACKED);
}

bool kavu_seq_timer_is_register_mac_packed(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr);
  return sgate->get_flag().test(KAVU_SEQ_MAC_PACKED);
}

std::string kavu_get_oterm_debug_name(const CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm != nullptr);
  const CDB_SGATE_NODE* node = oterm->get_my_node();
  std::string name = node ? node->get_string_hpath() : std::string();
  name += "/";
  name += WYS_INFO::get_port_type_debug_string(oterm->get_port_type());
  return name;
}

std::string kavu_get_iterm_debug_name(const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm != nullptr);
  const CDB_SGATE_NODE* node = iterm->get_my_node();
  std::string name = node ? node->get_string_hpath() : std::string();
  name += "/";
  const char* port = kavu_platform::atom_input_port_name(iterm->get_port_type());
  name += port ? std::string(port) : "PORT_" + std::to_string(unsigned(iterm->get_port_type()));
  return name;
}

std::string kavu_seq_int_set_to_string(const std::set<int>& ids) {
  std::string text;
  for (int id : ids) {
    if (!text.empty()) text += ' ';
    text += std::to_string(id);
  }
  return text;
}

bool kavu_seq_is_register(const CDB_SGATE_NODE* sgate) { return sgate && kavu_is_a_dff(sgate, true); }

bool kavu_seq_is_sync_input_of_register(const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm != nullptr);
  const CDB_SGATE_NODE* g = iterm->get_my_node();
  if (!kavu_seq_is_register(g)) return false;
  return iterm == kavu_get_dff_enable(g) || iterm == kavu_get_dff_sclear(g) || iterm == kavu_get_dff_sload(g) ||
         iterm == kavu_get_dff_data(g);
}

bool kavu_seq_is_plain_register(const CDB_SGATE_NODE* sgate) {
  if (!kavu_seq_is_register(sgate)) return false;
  const CDB_SGATE_ITERM* data = kavu_get_dff_data(sgate);
  const CDB_SGATE_ITERM* clock = kavu_get_dff_clock(sgate);
  for (const CDB_SGATE_ITERM* i : sgate->get_input_terms())
    if (i && i->get_source() && i != data && i != clock) return false;
  return true;
}

bool kavu_is_mac_node(const CDB_SGATE_NODE* sgate) {
  return sgate && sgate->is_wysiwyg() && sgate->cast_to_wysiwyg()->is_mac();
}

bool kavu_is_ram_node(const CDB_SGATE_NODE* sgate) {
  return sgate && sgate->is_wysiwyg() && sgate->cast_to_wysiwyg()->is_ram();
}

bool kavu_is_lutram(const CDB_SGATE_NODE* sgate) {
  return sgate && sgate->is_wysiwyg() && sgate->cast_to_wysiwyg()->is_lutram();
}

bool kavu_seq_has_retimer_marker(const CDB_SGATE_NODE* sgate) {
  const std::string& marker = kavu_retimer_name_marker();
  const std::string name = sgate->get_string_hpath();
  return name.size() > marker.size() && name.find(marker) != std::string::npos;
}

void kavu_seq_print_arrival_table(ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>* table) {
  KAVU_CHECK(table != NULL);
  std::cout << "Total = " << table->size() << std::endl;
  for (auto it = table->begin(); it != table->end(); ++it) {
    if (!it->first) KAVU_INTERNAL_ERROR("oterm != NULL");
    const CDB_SGATE_NODE* g = it->first->get_my_node();
    if (!g) KAVU_INTERNAL_ERROR("sgate != NULL");
    std::cout << "SGATE (id=" << g->get_id() << ") arr=" << it->second << std::endl;
  }
}

// ---------------------------------------------------------------------------
// Big-gate records

int KAVU_BIG_GATE_INFO::get_sup_depth(CDB_SGATE_OTERM* support) const {
  auto it = m_sup_depth_table.find(support);
  return it == m_sup_depth_table.end() ? -1 : it->second;
}

void KAVU_BIG_GATE_INFO::add_support_depth(CDB_SGATE_OTERM* sup, int depth) {
  KAVU_CHECK(m_sup_depth_table.find(sup) == m_sup_depth_table.end());
  m_sup_depth_table.insert(sup, depth);
}

KAVU_BIG_GATE_INFO* KAVU_BIG_GATE_SET_INFO::get_big_gate_info(CDB_SGATE_OTERM* oterm) const {
  auto it = m_gates.find(oterm);
  return it == m_gates.end() ? nullptr : it->second;
}

void KAVU_BIG_GATE_SET_INFO::add_big_gate_info(KAVU_BIG_GATE_INFO* info) {
  CDB_SGATE_OTERM* oterm = info ? info->get_oterm() : nullptr;
  KAVU_CHECK(oterm);
  KAVU_CHECK(m_gates.find(oterm) == m_gates.end());
  m_gates.insert(oterm, info);
}

bool KAVU_BIG_GATE_SET_INFO::is_huge_gate(CDB_SGATE_OTERM* oterm) const {
  return m_huge_gates.find(oterm) != m_huge_gates.end();
}

KAVU_BIG_GATE_INFO* KAVU_BIG_GATE_SET_INFO::get_huge_gate_info(CDB_SGATE_OTERM* oterm) const {
  auto it = m_huge_gates.find(oterm);
  return it == m_huge_gates.end() ? nullptr : it->second;
}

void KAVU_BIG_GATE_SET_INFO::add_huge_gate_info(KAVU_BIG_GATE_INFO* info) {
  CDB_SGATE_OTERM* oterm = info ? info->get_oterm() : nullptr;
  KAVU_CHECK(oterm);
  KAVU_CHECK(m_huge_gates.find(oterm) == m_huge_gates.end());
  m_huge_gates.insert(oterm, info);
}

bool KAVU_BIG_GATE_SET_INFO::has_support(CDB_SGATE_OTERM* support) const {
  return m_support_log.find(support) != m_support_log.end();
}

const ZTL_HASH_SET_LITE<KAVU_BIG_GATE_INFO*>* KAVU_BIG_GATE_SET_INFO::get_support_log(CDB_SGATE_OTERM* support) const {
  auto it = m_support_log.find(support);
  return it == m_support_log.end() ? nullptr : it->second;
}

void KAVU_BIG_GATE_SET_INFO::log_support(CDB_SGATE_OTERM* support, KAVU_BIG_GATE_INFO* gate) {
  ZTL_HASH_SET_LITE<KAVU_BIG_GATE_INFO*>*& set = m_support_log[support];
  if (!set) set = new ZTL_HASH_SET_LITE<KAVU_BIG_GATE_INFO*>();
  set->insert(gate);
}

void KAVU_BIG_GATE_SET_INFO::add_stage1_id(int new_id, int old_id) {
  KAVU_CHECK(m_id_table_stage1.find(new_id) == m_id_table_stage1.end());
  m_id_table_stage1.insert(new_id, old_id);
}

void KAVU_BIG_GATE_SET_INFO::add_stage2_id(int new_id, int old_id) {
  KAVU_CHECK(m_id_table_stage2.find(new_id) == m_id_table_stage2.end());
  m_id_table_stage2.insert(new_id, old_id);
}

int KAVU_BIG_GATE_SET_INFO::get_pre_decomp_id(int id) const {
  auto it2 = m_id_table_stage2.find(id);
  if (it2 != m_id_table_stage2.end()) id = it2->second;
  auto it1 = m_id_table_stage1.find(id);
  return it1 == m_id_table_stage1.end() ? id : it1->second;
}

void KAVU_BIG_GATE_SET_INFO::clear() {
  for (auto it = m_huge_gates.begin(); it != m_huge_gates.end(); ++it) delete it->second;
  for (auto it = m_gates.begin(); it != m_gates.end(); ++it) delete it->second;
  for (auto it = m_support_log.begin(); it != m_support_log.end(); ++it) delete it->second;
  m_huge_gates.clear();
  m_gates.clear();
  m_support_log.clear();
}


int KAVU_BIG_GATE_INFO::change_support(CDB_SGATE_OTERM* old_sup, CDB_SGATE_OTERM* new_sup) {
  int changed = 0;
  for (CDB_SGATE_OTERM*& s : m_supports) {
    if (s != old_sup) continue;
    s = new_sup;
    ++changed;
  }
  return changed;
}

void KAVU_BIG_GATE_INFO::hash_support_set(ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& supports) const {
  for (CDB_SGATE_OTERM* s : m_supports) supports.insert(s);
}

void KAVU_BIG_GATE_INFO::dump(std::ostream& os) const {
  const CDB_SGATE_NODE* g = m_oterm ? m_oterm->get_my_node() : nullptr;
  os << (g ? int(g->get_id()) : -1) << " " << m_supports.size() << " [";
  for (size_t k = 0; k < m_supports.size(); ++k) {
    if (k > 0) {
      os << ", ";
      if (k % 2 == 0) os << std::endl;
    }
    const CDB_SGATE_OTERM* s = m_supports[k];
    const CDB_SGATE_NODE* sg = s->get_my_node();
    os << (sg ? int(sg->get_id()) : -1) << " " << WYS_INFO::get_port_type_debug_string(s->get_port_type()) << " "
       << get_sup_depth(const_cast<CDB_SGATE_OTERM*>(s));
  }
  os << "]" << std::endl;
}

void KAVU_BIG_GATE_SET_INFO::support_change(CDB_SGATE_OTERM* old_sup, CDB_SGATE_OTERM* new_sup) {
  const ZTL_HASH_SET_LITE<KAVU_BIG_GATE_INFO*>* gates = get_support_log(old_sup);
  if (!gates) return;
  for (KAVU_BIG_GATE_INFO* gate : *gates) {
    const int changed = gate->change_support(old_sup, new_sup);
    KAVU_CHECK(changed == 1);
  }
}

void KAVU_BIG_GATE_SET_INFO::update_huge_gate_info(CDB_SGATE_OTERM* old_oterm, CDB_SGATE_OTERM* new_oterm) {
  auto it = m_huge_gates.find(old_oterm);
  if (it == m_huge_gates.end()) return;
  KAVU_BIG_GATE_INFO* info = it->second;
  KAVU_CHECK(info);
  KAVU_CHECK(info->get_oterm() == old_oterm);
  info->set_oterm(new_oterm);
  m_huge_gates.erase(old_oterm);
  KAVU_CHECK(m_huge_gates.find(old_oterm) == m_huge_gates.end());
  m_huge_gates.insert(new_oterm, info);
}

void KAVU_BIG_GATE_SET_INFO::print_big_gates(std::ostream& os) const {
  auto block = [&](const ZTL_HASH_LITE<CDB_SGATE_OTERM*, KAVU_BIG_GATE_INFO*>& gates, const char* prefix) {
    int n = 0;
    for (auto it = gates.begin(); it != gates.end(); ++it) {
      CDB_SGATE_OTERM* oterm = it->first;
      const KAVU_BIG_GATE_INFO* info = it->second;
      KAVU_CHECK(oterm);
      KAVU_CHECK(info);
      KAVU_CHECK(oterm == info->get_oterm());
      const CDB_SGATE_NODE* g = oterm->get_my_node();
      os << "(" << prefix << ++n << ") " << "PRE_DECOMP_ID= " << get_pre_decomp_id(g ? int(g->get_id()) : -1)
         << std::endl;
      info->dump(os);
      os << std::endl;
    }
  };
  os << "Total huge gate count = " << m_huge_gates.size() << std::endl;
  block(m_huge_gates, "H");
  os << "Total big gate count = " << m_gates.size() << std::endl;
  block(m_gates, "");
}

void KAVU_BIG_GATE_SET_INFO::print_big_gates(const std::string& file) const {
  std::orlind_ofstream os(file.c_str());
  print_big_gates(os);
}

void kavu_seq_find_support_depth(CDB_SGATE_OTERM* oterm, int depth,
                                 const ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& supports,
                                 ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>& result) {
  // Frames of (terminal, depth, next input): the order of a depth-first
  // recursion over the inputs, on an explicit stack.
  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    int m_depth;
    unsigned m_next;
  };
  std::vector<FRAME> stack;
  auto enter = [&](CDB_SGATE_OTERM* t, int d) {
    if (!t || supports.empty() || d > 1000) return;
    KAVU_CHECK(kavu_is_a_comb(t->get_my_node()));
    stack.push_back({t, d, 0});
  };
  enter(oterm, depth);
  while (!stack.empty()) {
    FRAME& f = stack.back();
    CDB_SGATE_NODE* sgate = f.m_oterm->get_my_node();
    CDB_SGATE_OTERM* next = nullptr;
    const int d = f.m_depth;
    while (!next && f.m_next < sgate->get_number_of_input_terms()) {
      CDB_SGATE_ITERM* i = sgate->get_input_term(f.m_next++);
      if (!i || !i->is_connected() || !i->get_source()) continue;
      CDB_SGATE_OTERM* src = i->get_source();
      if (supports.exists(src)) {
        // A support read twice (two inputs of one gate, or reconvergent
        // decomposition) keeps the depth it was first found at.
        if (result.find(src) == result.end()) result.insert(src, d + 1);
      } else {
        next = src;
      }
    }
    if (next)
      enter(next, d + 1);  // may reallocate: f is not used after this
    else
      stack.pop_back();
  }
}
