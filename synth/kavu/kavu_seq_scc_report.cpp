// kavu_seq_scc_report.cpp — the register-loop record of the sequential
// timer and its text reports (model in kavu_seq_scc.h).
#include <iostream>
#include <string>

#include "cfg/cfg.h"
#include "cut/cut.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_seq_scc.h"

namespace {

int node_id(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* g = oterm ? oterm->get_my_node() : nullptr;
  return g ? int(g->get_id()) : -1;
}

const char* type_name(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* g = oterm ? oterm->get_my_node() : nullptr;
  return g ? g->get_string_type_name() : "";
}

}  // namespace

KAVU_SCC::KAVU_SCC(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_DELAY_MODEL_SCC* fanout_model,
                   KAVU_DELAY_MODEL_SCC_ARR* arrival_model, CDB_SGATE_NETLIST* netlist,
                   std::vector<CDB_SGATE_OTERM*>* sorted, int start_index, int end_index, SCC_MAP* scc_map, int id,
                   int verbose, bool recalculate_comb_gate_delay)
    : m_netlist(netlist),
      m_sorted(sorted),
      m_start_index(start_index),
      m_end_index(end_index),
      m_scc_map(scc_map),
      m_id(id),
      m_arrival_model(arrival_model),
      m_fanout_model(fanout_model),
      m_analysis(analysis),
      m_verbose(verbose),
      m_recalculate_comb_gate_delay(recalculate_comb_gate_delay) {
  KAVU_CHECK(sorted != nullptr && scc_map != nullptr);
  KAVU_CHECK(start_index >= 0 && start_index <= end_index && size_t(end_index) <= sorted->size());
  m_size = 0;
  for (int i = start_index; i < end_index; ++i) {
    CDB_SGATE_OTERM* oterm = (*sorted)[size_t(i)];
    KAVU_CHECK(oterm != NULL);
    auto it = scc_map->find(oterm);
    if (it == scc_map->end() || it->second != id) KAVU_INTERNAL_ERROR("scc_map[oterm] == id");
    ++m_size;
  }
  m_dump_longest_path = cfg_is_on("kavu_seq_scc_dump_longest_path", false);
}

KAVU_SCC::SCC_MAP* KAVU_SCC::get_scc_map() const {
  if (m_analysis) m_analysis->complete_scc_map();
  return m_scc_map;
}

void KAVU_SCC::dump_oterm_list(std::ostream& os, const std::list<CDB_SGATE_OTERM*>& list) {
  for (const CDB_SGATE_OTERM* o : list)
    os << kavu_get_oterm_debug_name(o) << " " << " (SGATE id = " << node_id(o) << ")" << std::endl;
}

void KAVU_SCC::dump(std::ostream& os) const {
  const std::string stars(30, '*');
  if (m_input_oterms.empty()) os << "* SRC *" << std::endl;
  os << "SCC: id = " << m_id << std::endl;
  os << "SCC size = " << m_size << std::endl;
  os << "start_index = " << m_start_index << " end_index = " << m_end_index << std::endl;
  int count = 0;
  for (int k = 0; k < m_size; ++k) {
    const CDB_SGATE_OTERM* o = get_member(k);
    os << kavu_get_oterm_debug_name(o) << " (" << type_name(o) << ") " << "(SGATE id=" << node_id(o) << ")" << std::endl;
    ++count;
  }
  os << count << "Number of nodes are dumped." << std::endl;
  auto list = [&](const char* title, const std::list<CDB_SGATE_OTERM*>& l) {
    if (l.empty()) return;
    os << stars << std::endl;
    os << title << " (size = " << l.size() << ")" << std::endl;
    dump_oterm_list(os, l);
  };
  list("SCC input oterms", m_input_oterms);
  list("SCC output oterms", m_output_oterms);
  list("SCC oterms connect to output ports", m_exit_oterms);
}

int KAVU_SCC::get_path_length(CDB_SGATE_OTERM* oterm, const KAVU_SCC_PRED_MAP& pred) const {
  // Along the chain; a chain longer than the map has entries has a cycle
  // and is cut there.
  int length = 0;
  uint32_t steps = 0;
  for (auto it = pred.find(oterm); it != pred.end() && steps <= pred.size(); ++steps) {
    length += it->second.m_arc_delay;
    if (!it->second.m_pred) break;
    it = pred.find(it->second.m_pred);
  }
  return length;
}

void KAVU_SCC::dump_longest_path(std::ostream& os, const KAVU_SCC_PRED_MAP& pred) const {
  int longest = KAVU_DELAY_MIN;
  CDB_SGATE_OTERM* end = nullptr;
  for (int k = 0; k < m_size; ++k) {
    CDB_SGATE_OTERM* o = get_member(k);
    const int length = get_path_length(o, pred);
    if (length > longest) {
      longest = length;
      end = o;
    }
  }
  os << std::endl << "*****************************************************" << std::endl;
  os << "Longest path of SCC (id = " << m_id << ") = " << longest;
  if (!end) {
    os << " End oterm = NULL" << std::endl;
    return;
  }
  os << " End oterm = " << kavu_get_oterm_debug_name(end) << "(sgate id = " << node_id(end) << ")" << std::endl;
  os << "  ** Path detail: " << std::endl;
  int remaining = longest;
  CDB_SGATE_OTERM* o = end;
  for (uint32_t steps = 0; o && steps <= pred.size(); ++steps) {
    os << "      " << remaining << ", " << kavu_get_oterm_debug_name(o) << " (sgate_id=" << node_id(o) << ") "
       << type_name(o) << std::endl;
    auto it = pred.find(o);
    if (it == pred.end()) break;
    remaining -= it->second.m_arc_delay;
    o = it->second.m_pred;
  }
  os << std::endl << "*************************" << std::endl;
}

void KAVU_SCC::print_positive_loop(std::ostream& os) const {
  os << "START POS LOOP " << m_positive_loop_oterms.size() << std::endl;
  for (const CDB_SGATE_OTERM* o : m_positive_loop_oterms) {
    os << node_id(o) << " " << WYS_INFO::get_port_type_debug_string(o->get_port_type());
    if (o->get_my_node() && kavu_is_a_dff(o->get_my_node())) os << " R";
    os << std::endl;
  }
  os << "END POS LOOP" << std::endl;
}

void KAVU_SCC::collect_member_oterms(ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& result) const {
  result.clear();
  for (int k = 0; k < m_size; ++k) {
    CDB_SGATE_OTERM* oterm = get_member(k);
    KAVU_CHECK(!result.exists(oterm));
    result.insert(oterm);
  }
}

void KAVU_SCC::collect_big_gates_on_positive_loop(std::vector<CDB_SGATE_OTERM*>& result,
                                                  const KAVU_BIG_GATE_SET_INFO* big_gates) const {
  if (!big_gates) return;
  for (CDB_SGATE_OTERM* o : m_positive_loop_oterms)
    if (o && big_gates->get_big_gate_info(o)) result.push_back(o);
}

void kavu_seq_print_pred_map(const KAVU_SCC_PRED_MAP& pred) {
  for (auto it = pred.begin(); it != pred.end(); ++it) {
    if (!it->first) KAVU_INTERNAL_ERROR("oterm != NULL");
    const CDB_SGATE_NODE* g = it->first->get_my_node();
    if (!g) KAVU_INTERNAL_ERROR("sgate != NULL");
    const CDB_SGATE_NODE* p = it->second.m_pred ? it->second.m_pred->get_my_node() : nullptr;
    if (p)
      std::cout << "SGATE (id=" << g->get_id() << ") PRE SGATE (id=" << p->get_id() << ") arc_delay = " << it->second.m_arc_delay;
    else
      std::cout << "SGATE (id=" << g->get_id() << ") NULL PRE SGATE " << "arc_delay = " << it->second.m_arc_delay;
    std::cout << (it->second.m_minimal ? " MINIMAL" : " NOT_MINIMAL") << std::endl;
  }
}
