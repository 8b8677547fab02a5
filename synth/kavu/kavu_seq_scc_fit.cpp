// kavu_seq_scc_fit.cpp — the cycle-time fit test of one register loop.
//
// Forward, each member's arrival is the longest path into it, the arc
// through a register costing minus the cycle time; backward, each member's
// fan-out delay is the longest path out of it. The test first relaxes every
// member once from the boundary (breadth first from the seeds), then runs
// rounds over the members in index order. A round that changes nothing ends
// the test with a fit. After a changing round the predecessor chains are
// traced: a chain that closes on itself with a positive length is a loop
// whose delay exceeds its registers times the cycle time, and no cycle time
// at that value fits. size + 1 rounds without settling also mean no fit.
//
// States: 0 member not yet relaxed this round, 1 queued, 2 relaxed,
// 3 seed boundary, 4 far boundary, 7 and up: trace ids.
// Cost: O(rounds x member arcs) per test; the states of members live in a
// vector by offset, so the hot loop does no map look-ups of its own.
#include <algorithm>
#include <climits>
#include <deque>
#include <fstream>
#include <iostream>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_delay_model_seq.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_seq_scc.h"

namespace {

int node_id(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* g = oterm ? oterm->get_my_node() : nullptr;
  return g ? int(g->get_id()) : -1;
}

bool is_reg(CDB_SGATE_NODE* g) { return kavu_delay_seq::is_register(g); }

}  // namespace

int KAVU_SCC::anchor_value(int cycle_time) {
  const int64_t v = int64_t(cycle_time) * -6000;
  return int(std::max<int64_t>(v, int64_t(KAVU_DELAY_MIN / 4)));
}

bool KAVU_SCC::is_member(CDB_SGATE_OTERM* oterm) const { return member_offset(oterm) >= 0; }

int KAVU_SCC::member_offset(CDB_SGATE_OTERM* oterm) const {
  const int index = m_analysis->get_oterm_index(oterm);
  if (index < m_start_index || index >= m_end_index) return -1;
  return (*m_sorted)[size_t(index)] == oterm ? index - m_start_index : -1;
}

int KAVU_SCC::get_state(CDB_SGATE_OTERM* oterm) const {
  const int k = member_offset(oterm);
  if (k >= 0) return m_member_state[size_t(k)];
  auto it = m_boundary_state.find(oterm);
  return it == m_boundary_state.end() ? -1 : it->second;
}

void KAVU_SCC::set_state(CDB_SGATE_OTERM* oterm, int state) {
  const int k = member_offset(oterm);
  if (k >= 0)
    m_member_state[size_t(k)] = state;
  else
    m_boundary_state[oterm] = state;
}

void KAVU_SCC::find_input_oterms() {
  m_input_oterms.clear();
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> seen;
  std::vector<CDB_SGATE_OTERM*> candidates;
  for (int k = 0; k < m_size; ++k) {
    CDB_SGATE_OTERM* oterm = get_member(k);
    if (!oterm) KAVU_INTERNAL_ERROR("oterm != NULL");
    CDB_SGATE_NODE* g = oterm->get_my_node();
    if (!g) KAVU_INTERNAL_ERROR("sgate != NULL");
    candidates.clear();
    if (is_reg(g)) {
      KAVU_SEQ_DELAY_ANALYSIS::get_register_drivers(g, candidates);
    } else {
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (t && t->get_source()) candidates.push_back(t->get_source());
    }
    // A driver outside the domain counts, at arrival 0, as the rest of the
    // arrival pass counts it: a loop it feeds is no free (anchored) loop.
    for (CDB_SGATE_OTERM* c : candidates) {
      auto it = m_scc_map->find(c);
      if (it != m_scc_map->end() && it->second == m_id) continue;
      if (seen.insert(c).second) m_input_oterms.push_back(c);
    }
  }
}

void KAVU_SCC::find_output_oterms() {
  m_output_oterms.clear();
  m_exit_oterms.clear();
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> seen;
  for (int k = 0; k < m_size; ++k) {
    CDB_SGATE_OTERM* oterm = get_member(k);
    bool exit = false;
    if (!oterm->has_fanout()) continue;
    for (CDB_SGATE_ITERM* t : oterm->fanouts()) {
      CDB_SGATE_NODE* g = t ? t->get_my_node() : nullptr;
      if (!g) continue;
      for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
        if (!o || !m_analysis->is_in_domain(o)) continue;
        auto it = m_scc_map->find(o);
        if (it != m_scc_map->end() && it->second == m_id) continue;
        exit = true;
        if (seen.insert(o).second) m_output_oterms.push_back(o);
      }
    }
    if (exit) m_exit_oterms.push_back(oterm);
  }
}

CDB_SGATE_OTERM* KAVU_SCC::find_anchor_oterm() {
  if (m_anchor_searched) return m_anchor_oterm;
  m_anchor_searched = true;
  for (int k = 0; k < m_size && !m_anchor_oterm; ++k)
    if (is_reg(get_member(k)->get_my_node())) m_anchor_oterm = get_member(k);
  return m_anchor_oterm;
}

bool KAVU_SCC::relax_arrival_time(CDB_SGATE_OTERM* o, KAVU_SEQ_OTERM_TABLE* result, int cycle_time) {
  CDB_SGATE_NODE* g = o->get_my_node();
  if (!g) KAVU_INTERNAL_ERROR("sgate != NULL");
  CDB_SGATE_OTERM* pred = nullptr;
  int arc = KAVU_DELAY_MIN;
  bool minimal = true;
  const int candidate =
      m_arrival_model->compute_fanin_delay_of_oterm(o, &pred, &arc, result, result, true, cycle_time, &minimal);
  const int index = m_analysis->get_oterm_index(o);
  if (index >= 0) m_analysis->get_oterm_info(index)->m_critical_source = pred;
  if (!m_analysis->get_changing_arc()) minimal = true;
  if (!pred || candidate == KAVU_DELAY_MIN) return false;
  auto it = result->find(o);
  if (it != result->end() && it->second >= candidate) return false;
  (*result)[o] = candidate;
  m_pred[o] = KAVU_SCC_PRED_INFO{pred, arc, minimal};
  return true;
}

bool KAVU_SCC::relax_fanout_delay(CDB_SGATE_OTERM* o, KAVU_SEQ_OTERM_TABLE* result, int cycle_time) {
  if (!o->has_fanout()) return false;
  int best = KAVU_DELAY_MIN;
  CDB_SGATE_OTERM* successor = nullptr;
  int best_arc = 0;
  for (CDB_SGATE_ITERM* t : o->fanouts()) {
    if (!t || !t->get_my_node()) continue;
    CDB_SGATE_OTERM* sink = nullptr;
    int arc = 0;
    const int candidate =
        m_fanout_model->compute_fanout_delay_of_iterm(t, &sink, &arc, result, m_analysis, true, cycle_time);
    if (candidate > best) {
      best = candidate;
      successor = sink;
      best_arc = arc;
    }
  }
  if (best == KAVU_DELAY_MIN) return false;
  auto it = result->find(o);
  if (it != result->end() && it->second >= best) return false;
  (*result)[o] = best;
  m_pred[o] = KAVU_SCC_PRED_INFO{successor, best_arc, true};
  return true;
}

bool KAVU_SCC::cycle_time_fit(int cycle_time, KAVU_SEQ_OTERM_TABLE* input, KAVU_SEQ_OTERM_TABLE* result,
                              bool backward) {
  KAVU_CHECK(result != NULL);
  ZTL_HASH_SET_LITE<CDB_SGATE_NODE*> comb_gates;
  ZTL_HASH_LITE<CDB_SGATE_ITERM*, int> arc_table;
  if (m_recalculate_comb_gate_delay) {
    m_fanout_model->reset_comb_gate_data();
  } else {
    m_fanout_model->set_comb_gate_data(&comb_gates, &arc_table);
  }
  m_pred.clear();
  m_boundary_state.clear();
  m_member_state.assign(size_t(m_size), 0);
  if (m_verbose != 0) kavu_debug("KAVU_SCC::cycle_time_fit (SCC size = %d, cycle time = %d)", m_size, cycle_time);
  m_last_cycle_time = cycle_time;

  // Boundary pass: seeds take their input values, then every member reached
  // from them is relaxed once, breadth first.
  std::list<CDB_SGATE_OTERM*>& seeds = backward ? m_output_oterms : m_input_oterms;
  std::list<CDB_SGATE_OTERM*>& far = backward ? m_input_oterms : m_output_oterms;
  for (CDB_SGATE_OTERM* o : far) set_state(o, 4);
  for (CDB_SGATE_OTERM* o : seeds) set_state(o, 3);
  std::deque<CDB_SGATE_OTERM*> queue(seeds.begin(), seeds.end());
  auto enqueue = [&](CDB_SGATE_OTERM* o) {
    const int k = member_offset(o);
    if (k >= 0 && m_member_state[size_t(k)] == 0) {
      m_member_state[size_t(k)] = 1;
      queue.push_back(o);
    }
  };
  while (!queue.empty()) {
    CDB_SGATE_OTERM* o = queue.front();
    queue.pop_front();
    if (get_state(o) == 3) {
      if (input) {
        auto it = input->find(o);
        if (it == input->end()) KAVU_INTERNAL_ERROR("p_input_arr_tbl->exists(oterm)");
        (*result)[o] = it->second;
      } else {
        (*result)[o] = 0;
      }
    } else {
      if (backward)
        relax_fanout_delay(o, result, cycle_time);
      else
        relax_arrival_time(o, result, cycle_time);
      set_state(o, 2);
    }
    if (!backward) {
      if (o->has_fanout())
        for (CDB_SGATE_ITERM* t : o->fanouts()) {
          CDB_SGATE_NODE* g = t ? t->get_my_node() : nullptr;
          if (!g) continue;
          for (CDB_SGATE_OTERM* n : g->get_output_terms())
            if (n) enqueue(n);
        }
    } else {
      CDB_SGATE_NODE* g = o->get_my_node();
      if (!g) KAVU_INTERNAL_ERROR("sgate != NULL");
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (t && t->get_source()) enqueue(t->get_source());
    }
  }

  if (seeds.empty()) {
    CDB_SGATE_OTERM* anchor = find_anchor_oterm();
    if (!anchor) {
      kavu_debug("SCC ID=%d, size=%d Type=%s has no anchor register.", m_id, m_size,
                 backward ? "DST_SCC" : "SOURCE_SCC");
      KAVU_INTERNAL_ERROR("anchor_oterm");
    }
    (*result)[anchor] = anchor_value(cycle_time);
  }

  // The iteration trace file is a debug aid: only under its key.
  std::orlind_ofstream iteration_dump;
  if (cfg_is_on("kavu_seq_scc_dump_iteration", false)) iteration_dump.open("kavu_scc_iteration.dump.txt", std::ios_base::out);

  bool fit = false;
  bool decided = false;
  for (int r = 0; r <= m_size && !decided; ++r) {
    kavu_debug("SCC iteration %d", r);
    std::fill(m_member_state.begin(), m_member_state.end(), 0);
    bool changed = false;
    for (int k = 0; k < m_size; ++k) {
      CDB_SGATE_OTERM* o = get_member(k);
      changed |= backward ? relax_fanout_delay(o, result, cycle_time) : relax_arrival_time(o, result, cycle_time);
      m_member_state[size_t(k)] = 2;
    }
    if (!changed) {
      fit = decided = true;
    } else if (has_positive_loop()) {
      kavu_debug("Found positive loop, terminate. cycle_time = %d", cycle_time);
      decided = true;
    }
  }
  if (!decided) kavu_debug("Can't converge.");

  m_fanout_model->reset_comb_gate_data();
  if (iteration_dump.is_open()) iteration_dump.close();
  if (fit && m_dump_longest_path && m_longest_path_stream) {
    kavu_debug("PRED MAP");
    kavu_seq_print_pred_map(m_pred);
    kavu_debug("Oterm arrival table");
    kavu_seq_print_arrival_table(result);
    dump_longest_path(*m_longest_path_stream, m_pred);
  }
  m_boundary_state.clear();
  return fit;
}

bool KAVU_SCC::has_positive_loop() {
  std::fill(m_member_state.begin(), m_member_state.end(), 0);
  int id = 7;
  for (int k = 0; k < m_size; ++k, ++id) {
    if (m_member_state[size_t(k)] != 0) continue;
    if (trace_positive_loop(get_member(k), id)) {
      kavu_debug("Found positive loop ");
      return true;
    }
  }
  return false;
}

bool KAVU_SCC::trace_positive_loop(CDB_SGATE_OTERM* start, int id) {
  if (!start) KAVU_INTERNAL_ERROR("loop_oterm");
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> length_of;
  std::vector<std::pair<CDB_SGATE_OTERM*, int>> history;
  CDB_SGATE_OTERM* current = start;
  int length = 0;
  for (;;) {
    set_state(current, id);
    if (length_of.find(current) != length_of.end()) KAVU_INTERNAL_ERROR("Can't found oterm");
    length_of[current] = length;
    history.emplace_back(current, length);
    auto p = m_pred.find(current);
    if (p == m_pred.end() || !p->second.m_pred || !p->second.m_minimal) return false;
    length += p->second.m_arc_delay;
    CDB_SGATE_OTERM* next = p->second.m_pred;
    const int state = get_state(next);
    if (state == 0) {
      current = next;
      continue;
    }
    if (state != id) return false;
    kavu_debug("Loop entry oterm is %s (sgate id= %d)", kavu_get_oterm_debug_name(next).c_str(), node_id(next));
    auto at = length_of.find(next);
    if (at == length_of.end()) {
      kavu_debug("visit_map[loop_oterm] = %d, SCC ID = %d, CLOCK ID = %d", state, m_id, m_analysis->get_domain_id());
      KAVU_INTERNAL_ERROR("Can't find loop oterm");
    }
    const int loop = length - at->second;
    if (loop <= 0) return false;
    for (const auto& h : history) {
      kavu_debug("Pos Loop History: loop_id=%d len = %d cur_oterm %s (sgate_id = %d)", id, h.second,
                 kavu_get_oterm_debug_name(h.first).c_str(), node_id(h.first));
      if (m_record_positive_loop) m_positive_loop_oterms.push_back(h.first);
    }
    kavu_debug("Find positive LOOP len=%d", loop);
    kavu_debug("Positive loop entry oterm is %s (sgate id= %d), entry len = %d", kavu_get_oterm_debug_name(next).c_str(),
               node_id(next), at->second);
    return true;
  }
}

// ---------------------------------------------------------------------------
// Boundary values

void KAVU_SCC::read_input_arrival_times(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table) {
  bool has_error = false;
  for (CDB_SGATE_OTERM* o : m_input_oterms) {
    const int arrival = analysis->get_arrival_time(o);
    if (arrival == KAVU_DELAY_MIN) {
      kavu_debug("Oterm has no valid arrival time. Clock Domain id = %d", analysis->get_domain_id());
      analysis->get_timer()->dump_oterm_clk_info(o);
      has_error = true;
    }
    if (table.find(o) == table.end()) table[o] = arrival;
  }
  if (has_error) KAVU_INTERNAL_ERROR("!has_error");
}

void KAVU_SCC::write_exit_arrival_times(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table) {
  bool has_error = false;
  for (CDB_SGATE_OTERM* o : m_exit_oterms) {
    auto it = table.find(o);
    const int arrival = it == table.end() ? 0 : it->second;
    if (arrival == KAVU_DELAY_MIN) {
      kavu_debug("SCC Oterm has invalid arrival time. Clock Domain id = %d", analysis->get_domain_id());
      analysis->get_timer()->dump_oterm_clk_info(o);
      has_error = true;
    }
    const int index = analysis->get_oterm_index(o);
    if (!((index >= 0) && (index < analysis->get_oterm_size())))
      KAVU_INTERNAL_ERROR("(index>=0) && (index <m_oterm_size)");
    analysis->get_oterm_info(index)->m_arrival = arrival;
  }
  if (has_error) {
    kavu_debug("SCC write output error: SCC ID = %d", m_id);
    KAVU_INTERNAL_ERROR("SCC write output error");
  }
}

void KAVU_SCC::write_member_delays(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table, bool fanout) {
  for (int k = 0; k < m_size; ++k) {
    CDB_SGATE_OTERM* o = get_member(k);
    auto it = table.find(o);
    const int value = it == table.end() ? KAVU_DELAY_MIN : it->second;
    if (value == KAVU_DELAY_MIN) {
      kavu_debug("Error : invalid delay when write boundary delay out fanout %s", fanout ? "Y" : "N");
      kavu_debug("Oterm is %s, sgate id = %d", kavu_get_oterm_debug_name(o).c_str(), node_id(o));
      analysis->get_timer()->dump_oterm_clk_info(o);
      KAVU_INTERNAL_ERROR("delay != KAVU_DELAY_MIN");
    }
    KAVU_SEQ_DELAY_OTERM_INFO* info = analysis->get_oterm_info(analysis->get_oterm_index(o));
    (fanout ? info->m_max_fanout_delay : info->m_arrival) = value;
  }
}

void KAVU_SCC::read_output_fanout_delays(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table) {
  bool ok = true;
  for (CDB_SGATE_OTERM* o : m_output_oterms) {
    const int delay = analysis->get_max_fanout_delay(o);
    if (delay == KAVU_DELAY_MIN) {
      kavu_debug(
          "WARNING: SCC max fanout delay calculation : SCC output oterm (clock id = %d, sgate id = %d) has "
          "uninitialized max fanout delay value.",
          analysis->get_domain_id(), node_id(o));
      analysis->get_timer()->dump_oterm_clk_info(o);
      ok = false;
    }
    table[o] = delay;
  }
  if (!ok) KAVU_INTERNAL_ERROR("ok == true");
}

void KAVU_SCC::write_fanout_delays(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table) {
  for (auto it = table.begin(); it != table.end(); ++it) {
    if (it->second == KAVU_DELAY_MIN) {
      kavu_debug("SCC ID=%d, size=%d index(%d, %d)", m_id, m_size, m_start_index, m_end_index);
      kavu_debug("OTERM has invalid fanout delay");
      analysis->get_timer()->dump_oterm_clk_info(it->first);
      KAVU_INTERNAL_ERROR("max_fanout_dly != KAVU_DELAY_MIN");
    }
    if (analysis->get_oterm_index(it->first) >= 0) analysis->set_max_fanout_delay(it->first, it->second);
  }
}
