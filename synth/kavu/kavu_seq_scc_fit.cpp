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
// Cost: O(rounds x member arcs) per test. The forward test runs over index
// arrays built once per component (arcs, values, predecessors by member
// offset), so its rounds and traces do no look-ups or allocation; the
// backward test and components with arrival-dependent arcs go through the
// delay model and the terminal tables.
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
#include "kavu_seq_timer_int.h"

namespace {

// The iteration trace file is a debug aid: under its key each fit makes it
// (empty); no stream is made otherwise.
void make_iteration_dump() {
  if (cfg_is_on("kavu_seq_scc_dump_iteration", false))
    std::orlind_ofstream("kavu_scc_iteration.dump.txt", std::ios_base::out);
}

int node_id(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* g = oterm ? oterm->get_my_node() : nullptr;
  return g ? int(g->get_id()) : -1;
}

bool is_reg(CDB_SGATE_NODE* g) { return kavu_delay_seq::is_register(g); }

// Rounds of relaxation over a loop's members, at most size + 1: the cycle
// time fits when a round changes nothing and fails on a positive loop.
// round() relaxes every member once and says whether any value changed.
template <class ROUND, class POSITIVE_LOOP>
bool relax_until_settled(int size, int cycle_time, ROUND&& round, POSITIVE_LOOP&& positive_loop) {
  for (int r = 0; r <= size; ++r) {
    kavu_debug("SCC iteration %d", r);
    if (!round()) return true;
    if (positive_loop()) {
      kavu_debug("Found positive loop, terminate. cycle_time = %d", cycle_time);
      return false;
    }
  }
  kavu_debug("Can't converge.");
  return false;
}

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
  m_flat_state = FLAT_UNBUILT;
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
      if (member_offset(c) >= 0) continue;  // in this component
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
        if (member_offset(o) >= 0) continue;  // in this component
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
  if (!backward && m_flat_state == FLAT_UNBUILT) m_flat_state = build_flat_fanin() ? FLAT_READY : FLAT_GENERAL;
  if (!backward && m_flat_state == FLAT_READY) return flat_cycle_time_fit(cycle_time, input, result);
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

  make_iteration_dump();

  const bool fit = relax_until_settled(
      m_size, cycle_time,
      [&] {
        std::fill(m_member_state.begin(), m_member_state.end(), 0);
        bool changed = false;
        for (int k = 0; k < m_size; ++k) {
          CDB_SGATE_OTERM* o = get_member(k);
          changed |=
              backward ? relax_fanout_delay(o, result, cycle_time) : relax_arrival_time(o, result, cycle_time);
          m_member_state[size_t(k)] = 2;
        }
        return changed;
      },
      [&] { return has_positive_loop(); });

  m_fanout_model->reset_comb_gate_data();
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
// The forward test over index arrays
//
// The same steps as the general test (breadth-first boundary pass, rounds in
// member order, predecessor trace after each changing round), with every
// member's arrival rule reduced once per component to a list of arcs from
// local indices. A source that is neither a member nor an input never holds
// a value in the test's table, so it contributes nothing and is left out.
// Values, predecessors and trace lengths live in vectors by local index that
// are sized once and reused by every test.

void KAVU_SCC::add_flat_arc(CDB_SGATE_OTERM* source, int delay,
                            const ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>& seed_local) {
  int from = member_offset(source);
  if (from < 0) {
    auto it = seed_local.find(source);
    if (it == seed_local.end()) return;
    from = it->second;
  }
  m_fanin_arc.push_back(FLAT_ARC{from, delay});
}

// The member's fan-in rule as the arrival model applies it in a fit test;
// false when its arcs depend on the arrivals or the gate kind has no such
// rule here.
bool KAVU_SCC::flat_rule_of_member(int k, const ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>& seed_local) {
  int empty_arrival = 0;
  const SEQ_FIXED_ARRIVAL kind = kavu_seq_fixed_arrival_rule(
      get_member(k), m_arrival_model,
      [&](CDB_SGATE_ITERM* i, int delay) { add_flat_arc(i->get_source(), delay, seed_local); }, &empty_arrival);
  FLAT_RULE rule = FLAT_FIXED_ARCS;
  switch (kind) {
    case SEQ_FIXED_ARRIVAL::GENERAL: return false;
    case SEQ_FIXED_ARRIVAL::FIXED_REGISTER:
    case SEQ_FIXED_ARRIVAL::CARRY_START: rule = FLAT_NO_SOURCE; break;
    case SEQ_FIXED_ARRIVAL::REGISTER: rule = FLAT_REGISTER; break;
    case SEQ_FIXED_ARRIVAL::ARCS: rule = FLAT_FIXED_ARCS; break;
  }
  m_flat_rule[size_t(k)] = rule;
  m_fanin_begin[size_t(k) + 1] = int(m_fanin_arc.size());
  return true;
}

bool KAVU_SCC::build_flat_fanin() {
  const size_t size = size_t(m_size);
  const size_t locals = size + m_input_oterms.size();
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> seed_local;
  m_local_oterm.clear();
  for (int k = 0; k < m_size; ++k) m_local_oterm.push_back(get_member(k));
  for (CDB_SGATE_OTERM* o : m_input_oterms) {
    seed_local[o] = int(m_local_oterm.size());
    m_local_oterm.push_back(o);
  }
  m_flat_rule.assign(size, FLAT_NO_SOURCE);
  m_fanin_begin.assign(size + 1, 0);
  m_fanin_arc.clear();
  for (int k = 0; k < m_size; ++k) {
    if (m_analysis->get_oterm_index(get_member(k)) != m_start_index + k) return false;
    if (!flat_rule_of_member(k, seed_local)) return false;
  }
  // The members each local index reaches through its fan-outs, in the order
  // the boundary pass visits them.
  m_fanout_begin.assign(locals + 1, 0);
  m_fanout_member.clear();
  for (size_t l = 0; l < locals; ++l) {
    CDB_SGATE_OTERM* o = m_local_oterm[l];
    if (o->has_fanout())
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        CDB_SGATE_NODE* g = t ? t->get_my_node() : nullptr;
        if (!g) continue;
        for (CDB_SGATE_OTERM* n : g->get_output_terms()) {
          const int k = n ? member_offset(n) : -1;
          if (k >= 0) m_fanout_member.push_back(k);
        }
      }
    m_fanout_begin[l + 1] = int(m_fanout_member.size());
  }
  m_value.assign(locals, KAVU_DELAY_MIN);
  m_pred_local.assign(size, -1);
  m_pred_arc.assign(size, 0);
  m_trace_length.assign(size, 0);
  m_trace_history.clear();
  m_trace_history.reserve(size);
  m_queue.clear();
  m_queue.reserve(locals);
  return true;
}

bool KAVU_SCC::flat_relax_arrival(int k, int cycle_time) {
  int best = KAVU_DELAY_MIN;
  int pred = -1;
  int arc = KAVU_DELAY_MIN;
  const FLAT_RULE rule = m_flat_rule[size_t(k)];
  const FLAT_ARC* a = m_fanin_arc.data() + m_fanin_begin[size_t(k)];
  const FLAT_ARC* end = m_fanin_arc.data() + m_fanin_begin[size_t(k) + 1];
  for (; a != end; ++a) {
    const int v = m_value[size_t(a->m_from)];
    if (v == KAVU_DELAY_MIN) continue;
    const int d = rule == FLAT_REGISTER ? -cycle_time : a->m_delay;
    if (v + d > best) {
      best = v + d;
      pred = a->m_from;
      arc = d;
    }
  }
  m_analysis->get_oterm_info(m_start_index + k)->m_critical_source =
      pred >= 0 ? m_local_oterm[size_t(pred)] : nullptr;
  if (pred < 0) return false;
  int& value = m_value[size_t(k)];
  if (value != KAVU_DELAY_MIN && value >= best) return false;
  value = best;
  m_pred_local[size_t(k)] = pred;
  m_pred_arc[size_t(k)] = arc;
  return true;
}

bool KAVU_SCC::flat_cycle_time_fit(int cycle_time, KAVU_SEQ_OTERM_TABLE* input, KAVU_SEQ_OTERM_TABLE* result) {
  std::fill(m_value.begin(), m_value.end(), KAVU_DELAY_MIN);
  std::fill(m_pred_local.begin(), m_pred_local.end(), -1);
  m_member_state.assign(size_t(m_size), 0);
  if (m_verbose != 0) kavu_debug("KAVU_SCC::cycle_time_fit (SCC size = %d, cycle time = %d)", m_size, cycle_time);
  m_last_cycle_time = cycle_time;

  // Boundary pass: the inputs take their values first, then every member
  // reached from them is relaxed once, breadth first.
  m_queue.clear();
  for (size_t l = size_t(m_size); l < m_local_oterm.size(); ++l) m_queue.push_back(int(l));
  for (size_t head = 0; head < m_queue.size(); ++head) {
    const int l = m_queue[head];
    if (l >= m_size) {
      int value = 0;
      if (input) {
        auto it = input->find(m_local_oterm[size_t(l)]);
        if (it == input->end()) KAVU_INTERNAL_ERROR("p_input_arr_tbl->exists(oterm)");
        value = it->second;
      }
      m_value[size_t(l)] = value;
    } else {
      flat_relax_arrival(l, cycle_time);
      m_member_state[size_t(l)] = 2;
    }
    for (int f = m_fanout_begin[size_t(l)]; f < m_fanout_begin[size_t(l) + 1]; ++f) {
      const int k = m_fanout_member[size_t(f)];
      if (m_member_state[size_t(k)] == 0) {
        m_member_state[size_t(k)] = 1;
        m_queue.push_back(k);
      }
    }
  }
  if (m_input_oterms.empty()) {
    CDB_SGATE_OTERM* anchor = find_anchor_oterm();
    if (!anchor) {
      kavu_debug("SCC ID=%d, size=%d Type=%s has no anchor register.", m_id, m_size, "SOURCE_SCC");
      KAVU_INTERNAL_ERROR("anchor_oterm");
    }
    m_value[size_t(member_offset(anchor))] = anchor_value(cycle_time);
  }

  make_iteration_dump();

  const bool fit = relax_until_settled(
      m_size, cycle_time,
      [&] {
        bool changed = false;
        for (int k = 0; k < m_size; ++k) changed |= flat_relax_arrival(k, cycle_time);
        return changed;
      },
      [&] { return flat_has_positive_loop(); });
  m_fanout_model->reset_comb_gate_data();

  // The callers read the values by terminal: the inputs', then the members'.
  for (size_t l = 0; l < m_local_oterm.size(); ++l) {
    const size_t from = (l + size_t(m_size)) % m_local_oterm.size();
    if (m_value[from] != KAVU_DELAY_MIN) (*result)[m_local_oterm[from]] = m_value[from];
  }
  if (fit && m_dump_longest_path && m_longest_path_stream) {
    m_pred.clear();
    for (int k = 0; k < m_size; ++k)
      if (m_pred_local[size_t(k)] >= 0)
        m_pred[get_member(k)] =
            KAVU_SCC_PRED_INFO{m_local_oterm[size_t(m_pred_local[size_t(k)])], m_pred_arc[size_t(k)], true};
    kavu_debug("PRED MAP");
    kavu_seq_print_pred_map(m_pred);
    kavu_debug("Oterm arrival table");
    kavu_seq_print_arrival_table(result);
    dump_longest_path(*m_longest_path_stream, m_pred);
  }
  return fit;
}

bool KAVU_SCC::flat_has_positive_loop() {
  std::fill(m_member_state.begin(), m_member_state.end(), 0);
  int id = 7;
  for (int k = 0; k < m_size; ++k, ++id) {
    if (m_member_state[size_t(k)] != 0) continue;
    if (flat_trace_positive_loop(k, id)) {
      kavu_debug("Found positive loop ");
      return true;
    }
  }
  return false;
}

// Follows the predecessor chain from a member until it leaves the members,
// meets an earlier trace, or closes on itself; the closing loop is positive
// when its arcs add up to more than zero.
bool KAVU_SCC::flat_trace_positive_loop(int start, int id) {
  m_trace_history.clear();
  int current = start;
  int length = 0;
  for (;;) {
    m_member_state[size_t(current)] = id;
    m_trace_length[size_t(current)] = length;
    m_trace_history.push_back(current);
    const int next = m_pred_local[size_t(current)];
    if (next < 0) return false;
    length += m_pred_arc[size_t(current)];
    if (next >= m_size) return false;  // an input: the chain leaves the loop
    const int state = m_member_state[size_t(next)];
    if (state == 0) {
      current = next;
      continue;
    }
    if (state != id) return false;
    CDB_SGATE_OTERM* entry = get_member(next);
    kavu_debug("Loop entry oterm is %s (sgate id= %d)", kavu_get_oterm_debug_name(entry).c_str(), node_id(entry));
    const int loop = length - m_trace_length[size_t(next)];
    if (loop <= 0) return false;
    for (int h : m_trace_history) {
      CDB_SGATE_OTERM* o = get_member(h);
      kavu_debug("Pos Loop History: loop_id=%d len = %d cur_oterm %s (sgate_id = %d)", id,
                 m_trace_length[size_t(h)], kavu_get_oterm_debug_name(o).c_str(), node_id(o));
      if (m_record_positive_loop) m_positive_loop_oterms.push_back(o);
    }
    kavu_debug("Find positive LOOP len=%d", loop);
    kavu_debug("Positive loop entry oterm is %s (sgate id= %d), entry len = %d",
               kavu_get_oterm_debug_name(entry).c_str(), node_id(entry), m_trace_length[size_t(next)]);
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
