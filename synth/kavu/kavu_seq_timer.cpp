// kavu_seq_timer.cpp — the sequential timer's records read by delay
// estimation: skewed register outputs, the per-domain analysis record and its
// lookups, and the big-gate records of decomposition for delay.
#include "kavu_seq_timer.h"

#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_sort.h"

// ---------------------------------------------------------------------------
// Per-domain analysis

int KAVU_SEQ_DELAY_ANALYSIS::add_domain_oterm(CDB_SGATE_OTERM* oterm, bool indexed) {
  KAVU_CHECK(oterm != 0);
  KAVU_CHECK(m_oterm_index.find(oterm) == m_oterm_index.end());
  int index = -1;
  if (indexed) {
    index = m_oterm_size++;
    m_oterm_info.emplace_back();
  }
  m_oterm_index.insert(oterm, index);
  return index;
}

bool KAVU_SEQ_DELAY_ANALYSIS::is_in_domain(CDB_SGATE_OTERM* oterm) const {
  return m_oterm_index.find(oterm) != m_oterm_index.end();
}

int KAVU_SEQ_DELAY_ANALYSIS::get_oterm_index(CDB_SGATE_OTERM* oterm) const {
  auto it = m_oterm_index.find(oterm);
  return it == m_oterm_index.end() ? -1 : it->second;
}

KAVU_SEQ_DELAY_OTERM_INFO* KAVU_SEQ_DELAY_ANALYSIS::get_oterm_info(int index) {
  KAVU_CHECK((index >= 0) && (index < m_oterm_size));
  return &m_oterm_info[size_t(index)];
}

int kavu_seq_table_delay(CDB_SGATE_OTERM* oterm, ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>* table) {
  KAVU_CHECK(table != NULL);
  auto it = table->find(oterm);
  return it == table->end() ? KAVU_DELAY_MIN : it->second;
}

int kavu_seq_analysis_arrival(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* seq_timer) {
  KAVU_CHECK(seq_timer != NULL);
  if (!seq_timer->is_in_domain(oterm)) return 0;
  int index = seq_timer->get_oterm_index(oterm);
  if (index < 0) return KAVU_DELAY_MIN;
  return seq_timer->get_oterm_info(index)->m_arrival;
}

int kavu_seq_analysis_fanout_delay(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* seq_timer) {
  KAVU_CHECK(seq_timer != NULL);
  int index = seq_timer->get_oterm_index(oterm);
  if (index < 0) return KAVU_DELAY_MIN;
  KAVU_SEQ_DELAY_OTERM_INFO* info = seq_timer->get_oterm_info(index);
  KAVU_CHECK(info != NULL);
  return info->m_max_fanout_delay;
}

// ---------------------------------------------------------------------------
// Timer answers for the delay expert

void KAVU_SEQ_TIMER::set_skewed_oterm(CDB_SGATE_OTERM* oterm, int arrival, int max_fanout_delay) {
  KAVU_CHECK(oterm != 0);
  KAVU_SEQ_DELAY_OTERM_INFO& info = m_skewed[oterm];
  info.m_arrival = arrival;
  info.m_max_fanout_delay = max_fanout_delay;
}

bool KAVU_SEQ_TIMER::is_skewed_oterm(CDB_SGATE_OTERM* oterm) const {
  return m_skewed.find(oterm) != m_skewed.end();
}

int KAVU_SEQ_TIMER::get_oterm_fanin_delay(CDB_SGATE_OTERM* oterm) const {
  auto it = m_skewed.find(oterm);
  return it == m_skewed.end() ? KAVU_DELAY_MIN : it->second.m_arrival;
}

int KAVU_SEQ_TIMER::get_max_fanout_delay(CDB_SGATE_OTERM* oterm) const {
  auto it = m_skewed.find(oterm);
  return it == m_skewed.end() ? KAVU_DELAY_MIN : it->second.m_max_fanout_delay;
}

void KAVU_SEQ_TIMER::dump_oterm_clk_info(CDB_SGATE_OTERM* oterm) const {
  auto it = m_skewed.find(oterm);
  if (it == m_skewed.end()) return;
  kavu_debug("  %s: skewed arrival %d, max fanout delay %d", kavu_get_oterm_debug_name(oterm).c_str(),
             it->second.m_arrival, it->second.m_max_fanout_delay);
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
