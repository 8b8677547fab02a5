// kavu_delay_expert.cpp — the delay expert's memoised fan-in and fan-out
// walks, its per-kind rules and the decomposed-gate delays.
//
// Walks: depth-first with an explicit stack of frames (terminal, next input
//   or next fan-out link), visiting the same terminals in the same order as
//   a recursive walk would. A terminal is "visited" (its delay is valid) once
//   stored; "visiting" while on the stack. Meeting a visiting terminal is a
//   combinational loop: it is stored as 0 with a debug line, and the outer
//   frame overwrites it when it finishes. Nested queries (choice operators,
//   comb fan-out trees, mapped mode) run as walks of their own above the
//   current frames of the same stack.
// Budget: the iterative walk needs no depth bound, so every budget of at
//   least 1 computes the exact delay; a budget below 1 answers 0 and stores
//   nothing (a stored 0 would stay valid and depend on the visit order).
// Cost: O(N + E) per complete pass, plus the comb trees.
#include <algorithm>
#include <cstdio>
#include <functional>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_delay.h"
#include "kavu_delay_model_seq.h"
#include "kavu_depends.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_seq_timer.h"

namespace {
constexpr unsigned VALIDATION_BIT = 0x8000;
constexpr int INNER_BUDGET = 300;

bool input_driven(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source(); }

// Choice operators wider than this use this bit's delay for every bit: a
// deliberate approximation that spares the O(width) port search per bit.
constexpr unsigned CHOICE_WIDTH_CAP = 150;

int port_bit_of_oterm(const CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE port, const CDB_SGATE_OTERM* t) {
  const CDB_SGATE_OPER_PORT_ENTRY* p = op->get_port(port);
  if (!p) return -1;
  for (unsigned b = 0; b < p->get_width(); ++b)
    if (p->get_oterm(b) == t) return int(b);
  return -1;
}
int port_bit_of_iterm(const CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE port, const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_OPER_PORT_ENTRY* p = op->get_port(port);
  if (!p) return -1;
  for (unsigned b = 0; b < p->get_width(); ++b)
    if (p->get_iterm(b) == t) return int(b);
  return -1;
}
}  // namespace

// ---------------------------------------------------------------------------
// Construction and binding

KAVU_DELAY_EXPERT::KAVU_DELAY_EXPERT(KAVU_DELAY_SETTER const& set_fanin, KAVU_DELAY_SETTER const& set_fanout,
                                     KAVU_DELAY_GETTER const& get_fanin, KAVU_DELAY_GETTER const& get_fanout,
                                     const unsigned& fanin_visited, const unsigned& fanout_visited,
                                     const unsigned& fanin_visiting, const unsigned& fanout_visiting,
                                     KAVU_DELAY_MODEL_FOR_EXPERT* model, int max_gate_size)
    : m_delay_model(model),
      m_set_fanin(set_fanin),
      m_set_fanout(set_fanout),
      m_get_fanin(get_fanin),
      m_get_fanout(get_fanout),
      m_fanin_visited_flag(fanin_visited),
      m_fanout_visited_flag(fanout_visited),
      m_fanin_visiting_flag(fanin_visiting),
      m_fanout_visiting_flag(fanout_visiting),
      m_max_gate_size(max_gate_size),
      m_huge_gate_size(200) {
  KAVU_CHECK(model != 0);
  KAVU_CHECK(max_gate_size > 1);
  if (model->is_seq_model()) {
    m_seq_model = dynamic_cast<KAVU_DELAY_MODEL_SEQ_BASE*>(model);
    KAVU_CHECK(m_seq_model != 0);
  }
  m_huge_gate_size = cfg_get_int_value("kavu_delay_huge_gate_size", m_huge_gate_size);
  m_use_annotated_boundary_delays = cdb_sgate_synthesis_is_running_in_parallel() &&
                                    cfg_is_on("kavu_use_annotated_boundary_delays", false);
}

KAVU_DELAY_EXPERT::~KAVU_DELAY_EXPERT() {
  if (m_ref_count > 0)
    kavu_debug("WARNING: number of calls to prepare-for-delay-analysis exceeds clean-up calls by %d", m_ref_count);
  if (m_netlist) kavu_forget_loop_sets(m_netlist);
  delete m_delay_model;
  delete m_dont_care;
}

KAVU_DELAY_EXPERT* kavu_get_default_delay_expert(CDB_SGATE_NETLIST* netlist) {
  static const KAVU_DELAY_GETTER get_fi = kavu_get_fanin_delay, get_fo = kavu_get_fanout_delay;
  static const KAVU_DELAY_SETTER set_fi = kavu_set_fanin_delay, set_fo = kavu_set_fanout_delay;
  KAVU_DELAY_MODEL_KZR* model = new KAVU_DELAY_MODEL_KZR(get_fi, false, false);
  KAVU_DELAY_EXPERT* expert = new KAVU_DELAY_EXPERT(set_fi, set_fo, get_fi, get_fo, 16u, 32u, 64u, 128u, model, 2);
  expert->set_netlist(netlist);
  return expert;
}

void KAVU_DELAY_EXPERT::set_netlist(CDB_SGATE_NETLIST* netlist) {
  if (m_netlist && m_netlist != netlist) kavu_forget_loop_sets(m_netlist);
  m_netlist = netlist;
  kavu_rebuild_loop_sets(netlist);
  clear_internal_flags();
}

bool KAVU_DELAY_EXPERT::is_boundary_input_gate(CDB_SGATE_NODE* node) const {
  return m_use_annotated_boundary_delays && kavu_is_a_boundary_input(node);
}
bool KAVU_DELAY_EXPERT::is_boundary_output_gate(CDB_SGATE_NODE* node) const {
  return m_use_annotated_boundary_delays && kavu_is_a_boundary_output(node);
}

void KAVU_DELAY_EXPERT::clear_internal_flags() {
  if (!m_netlist) return;
  const unsigned all = m_fanin_visited_flag | m_fanout_visited_flag | m_fanin_visiting_flag | m_fanout_visiting_flag;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    if (!sgate) continue;
    for (CDB_SGATE_OTERM* oterm : sgate->get_output_terms()) {
      if (!oterm) continue;
      oterm->get_flag().reset(all);
      if (is_boundary_input_gate(sgate)) oterm->get_flag().set(m_fanin_visited_flag);
      if (is_boundary_output_gate(sgate)) oterm->get_flag().set(m_fanout_visited_flag);
    }
  }
}

void KAVU_DELAY_EXPERT::invalidate_oterm(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  unsigned clear = m_fanin_visited_flag | m_fanout_visited_flag;
  if (m_use_annotated_pin_delays) {
    if (kavu_is_a_input_pin(node) || node->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM)
      clear = m_fanout_visited_flag;
    else if (kavu_is_a_output_pin(node))
      clear = m_fanin_visited_flag;
  }
  if (is_boundary_input_gate(node)) clear &= ~m_fanin_visited_flag;
  if (is_boundary_output_gate(node)) clear &= ~m_fanout_visited_flag;
  oterm->get_flag().reset(clear);
}

void KAVU_DELAY_EXPERT::invalidate_delays(CDB_SGATE_NODE* node) {
  for (CDB_SGATE_OTERM* o : node->get_output_terms())
    if (o) invalidate_oterm(o);
}

void KAVU_DELAY_EXPERT::invalidate_all_delays() {
  KAVU_CHECK(m_netlist != 0);
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it)
    if (*it) invalidate_delays(*it);
}

void KAVU_DELAY_EXPERT::change_max_gate_size(unsigned size) {
  // A size below 2 would make ln k zero in the level formulas.
  KAVU_CHECK(size > 1 && size <= 1u << 30);
  if (int(size) == m_max_gate_size) return;
  kavu_debug("Changing max gate size from %d to %d", m_max_gate_size, int(size));
  m_max_gate_size = int(size);
  if (m_netlist) invalidate_all_delays();
}

void KAVU_DELAY_EXPERT::set_oterm_dont_care_set(std::set<CDB_SGATE_OTERM*>* dont_care) {
  if (m_dont_care != dont_care) delete m_dont_care;
  m_dont_care = dont_care;
}

bool KAVU_DELAY_EXPERT::is_dont_care(CDB_SGATE_OTERM* o) const { return m_dont_care && m_dont_care->count(o) != 0; }

void KAVU_DELAY_EXPERT::set_use_mapped_delays(GEN_DYN_FLAG& mapped_flag, OTERM_VECTOR_MAP* fanin_map,
                                              OTERM_VECTOR_MAP* fanout_map) {
  m_mapped_flag = mapped_flag;
  m_mapped_fanin_map = fanin_map;
  m_mapped_fanout_map = fanout_map;
  m_use_mapped_delays = true;
}

void KAVU_DELAY_EXPERT::reset_use_mapped_delays() {
  m_use_mapped_delays = false;
  m_mapped_fanin_map = nullptr;
  m_mapped_fanout_map = nullptr;
}

void KAVU_DELAY_EXPERT::set_use_annotated_pin_delays(std::map<CDB_SGATE_OTERM*, int>* inputs,
                                                     std::map<CDB_SGATE_OTERM*, int>* outputs) {
  if (inputs) {
    for (auto& [pin, delay] : *inputs) {
      CDB_SGATE_NODE* node = pin->get_my_node();
      KAVU_CHECK(kavu_is_a_input_pin( node ) || node->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM);
      m_set_fanin(pin, delay);
      pin->get_flag().set(m_fanin_visited_flag);
      pin->get_flag().reset(m_fanin_visiting_flag);
    }
  }
  if (outputs) {
    for (auto& [pin, delay] : *outputs) {
      KAVU_CHECK(kavu_is_a_output_pin( pin->get_my_node() ));
      m_set_fanout(pin, delay);
      pin->get_flag().set(m_fanout_visited_flag);
      pin->get_flag().reset(m_fanout_visiting_flag);
    }
  }
  m_annotated_inputs = inputs;
  m_annotated_outputs = outputs;
  m_use_annotated_pin_delays = true;
}

void KAVU_DELAY_EXPERT::reset_use_annotated_pin_delays() {
  m_use_annotated_pin_delays = false;
  m_annotated_inputs = nullptr;
  m_annotated_outputs = nullptr;
}

void KAVU_DELAY_EXPERT::force_valid_fanin_delay(CDB_SGATE_OTERM* top_oterm, int delay) {
  KAVU_CHECK(top_oterm != 0);
  m_set_fanin(top_oterm, delay);
  top_oterm->get_flag().set(m_fanin_visited_flag);
}

void KAVU_DELAY_EXPERT::force_valid_fanout_delay(CDB_SGATE_OTERM* top_oterm, int delay) {
  KAVU_CHECK(top_oterm != 0);
  m_set_fanout(top_oterm, delay);
  top_oterm->get_flag().set(m_fanout_visited_flag);
}

// ---------------------------------------------------------------------------
// Sequential timer

bool KAVU_DELAY_EXPERT::is_skewed_oterm(CDB_SGATE_OTERM* oterm) const {
  return m_use_seq_timer && m_seq_timer && m_seq_timer->is_skewed_oterm(oterm);
}
int KAVU_DELAY_EXPERT::get_skewed_arrival_time(CDB_SGATE_OTERM* oterm) const {
  return m_seq_timer ? m_seq_timer->get_oterm_fanin_delay(oterm) : KAVU_DELAY_MIN;
}
int KAVU_DELAY_EXPERT::get_skewed_max_fanout_delay(CDB_SGATE_OTERM* oterm) const {
  return m_seq_timer ? m_seq_timer->get_max_fanout_delay(oterm) : KAVU_DELAY_MIN;
}

// ---------------------------------------------------------------------------
// Fan-in walk

void KAVU_DELAY_EXPERT::store_fanin(CDB_SGATE_OTERM* oterm, int delay) {
  m_set_fanin(oterm, delay);
  if (m_use_seq_timer && m_seq_timer && m_validation_mode && oterm->get_flag().test(VALIDATION_BIT) &&
      oterm->has_fanout()) {
    const int seq_fanin_dly = m_seq_timer->get_oterm_fanin_delay(oterm);
    if (seq_fanin_dly != delay) {
      kavu_debug("Error: seq delay fanin validation fail: seq_fanin_dly = %d, top_oterm_delay=%d", seq_fanin_dly,
                 delay);
      m_seq_timer->dump_oterm_clk_info(oterm);
    }
  }
  oterm->get_flag().set(m_fanin_visited_flag);
  oterm->get_flag().reset(m_fanin_visiting_flag);
}

void KAVU_DELAY_EXPERT::report_fanin_loop(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* n = oterm->get_my_node();
  kavu_debug("Combinational loop containing %s %s %s detected in fanin delay computation. Setting delay to 0.",
             n->get_string_type_name(), n->get_debug_name().c_str(), n->get_string_hpath().c_str());
  store_fanin(oterm, 0);
}

int KAVU_DELAY_EXPERT::compute_fanin_delay(CDB_SGATE_ITERM* iterm, int budget) {
  if (!input_driven(iterm)) return 0;
  return compute_fanin_delay(iterm->get_source(), budget);
}

bool KAVU_DELAY_EXPERT::fanin_child(CDB_SGATE_OTERM* oterm, unsigned& next, CDB_SGATE_OTERM** child) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  const unsigned n = node->get_number_of_input_terms();
  while (next < n) {
    CDB_SGATE_ITERM* t = node->get_input_term(next++);
    if (!input_driven(t)) continue;
    CDB_SGATE_OTERM* s = t->get_source();
    if (visited(s, m_fanin_visited_flag)) continue;
    if (!kavu_oterm_depends_on_iterm(node, oterm, t, true, true, false, false)) continue;
    *child = s;
    return true;
  }
  return false;
}

int KAVU_DELAY_EXPERT::compute_fanin_delay(CDB_SGATE_OTERM* top_oterm, int budget) {
  KAVU_CHECK(top_oterm != 0);
  if (visited(top_oterm, m_fanin_visited_flag)) return m_get_fanin(top_oterm);
  if (budget < 1) return 0;
  const size_t base = m_fanin_stack.size();
  // Starts a terminal: either finishes it at once or pushes its frame.
  auto begin = [&](CDB_SGATE_OTERM* o) {
    if (is_dont_care(o)) {
      store_fanin(o, 0);
      return;
    }
    if (o->get_flag().test(m_fanin_visiting_flag)) {
      report_fanin_loop(o);
      return;
    }
    o->get_flag().set(m_fanin_visiting_flag);
    if (m_delay_model->oterm_is_hard_boundary(o)) {
      store_fanin(o, hard_boundary_fanin_delay(o));
      return;
    }
    CDB_SGATE_NODE* top_node = o->get_my_node();
    KAVU_CHECK(m_delay_model->look_through_sgate( top_node ));
    if (m_use_mapped_delays && kavu_is_a_comb(top_node)) {
      store_fanin(o, mapped_fanin_delay(o));
      return;
    }
    m_fanin_stack.push_back({o, 0, nullptr});
  };
  begin(top_oterm);
  while (m_fanin_stack.size() > base) {
    const size_t top = m_fanin_stack.size() - 1;
    CDB_SGATE_OTERM* o = m_fanin_stack[top].m_oterm;
    CDB_SGATE_OTERM* child = nullptr;
    if (fanin_child(o, m_fanin_stack[top].m_next, &child)) {
      begin(child);
      continue;
    }
    m_fanin_stack.pop_back();
    const int delay = fanin_finish(o);
    if (delay == KAVU_DELAY_MIN) {
      kavu_debug("Error: oterm %s (SGATE ID = %d ) has invalid fanin delay.", o->get_string_hpath().c_str(),
                 int(o->get_my_node()->get_id()));
      const int top_oterm_delay = delay;
      KAVU_CHECK(top_oterm_delay != KAVU_DELAY_MIN);
    }
    store_fanin(o, delay);
  }
  return m_get_fanin(top_oterm);
}

int KAVU_DELAY_EXPERT::fanin_finish(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  if (m_seq_model) {
    int d = m_seq_model->expert_fanin_delay(oterm);
    if (d == KAVU_DELAY_MIN) {
      char text[96];
      std::snprintf(text, sizeof text, "Error: sgate %d fanin delay value (seq_model) is invalid", int(node->get_id()));
      KAVU_INTERNAL_ERROR(text);
    }
    return d;
  }
  const int final_delay = fanin_by_kind(oterm);
  KAVU_CHECK(final_delay != KAVU_DELAY_MIN);
  return final_delay;
}

int KAVU_DELAY_EXPERT::fanin_by_kind(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  if (kavu_is_a_choice_op(node)) return fanin_choice(node, oterm);
  if (node->is_wysiwyg()) {
    KAVU_CHECK(kavu_is_lcell_comb(node));
    return fanin_simple(node, oterm);
  }
  switch (node->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
      if (node->cast_to_buffer()->get_buffer_type() == CDB_BUFFER_SINGLE_CARRY &&
          !m_delay_model->look_through_carry_buffers())
        return 0;
      return fanin_simple(node, oterm);
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
    case CDB_SGATE_OPERATOR_ENUM: return fanin_simple(node, oterm);
    case CDB_SGATE_COMB_ENUM: return fanin_comb(node);
    case CDB_SGATE_CARRY_SUM_ENUM: return fanin_carry_sum(node, oterm);
    default:
      kavu_debug("Not expected to look through gate %s %s %s", node->get_string_type_name(),
                 node->get_string_hpath().c_str(), node->get_debug_name().c_str());
      KAVU_INTERNAL_ERROR("Unexpected gate-type to look through. See debug messages. ");
      return 0;
  }
}

int KAVU_DELAY_EXPERT::fanin_simple(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm) {
  int best = 0;
  bool any = false;
  for (CDB_SGATE_ITERM* t : node->get_input_terms()) {
    if (!input_driven(t) || !kavu_oterm_depends_on_iterm(node, oterm, t, true, true, false, false)) continue;
    CDB_SGATE_OTERM* source = t->get_source();
    KAVU_CHECK(source->get_flag().test(m_fanin_visited_flag));
    const int d = m_get_fanin(source) + m_delay_model->get_delay(node, t, oterm);
    if (!any || d > best) best = d;
    any = true;
  }
  return best;
}

int KAVU_DELAY_EXPERT::huge_levels(int n) const { return kavu_delay_seq::level_count(n, m_max_gate_size); }

int KAVU_DELAY_EXPERT::fanin_comb(CDB_SGATE_NODE* node) {
  const int g = m_delay_model->get_delay(node, nullptr, nullptr);
  const int n = int(node->get_number_of_input_terms());
  if (m_huge_gate_size != -1 && n >= m_huge_gate_size) {
    int latest = 0;
    for (CDB_SGATE_ITERM* t : node->get_input_terms()) {
      if (!input_driven(t)) continue;
      CDB_SGATE_OTERM* source = t->get_source();
      KAVU_CHECK(source->get_flag().test(m_fanin_visited_flag));
      latest = std::max(latest, m_get_fanin(source));
    }
    return huge_levels(n) * g + latest;
  }
  m_delay_vec.clear();
  for (CDB_SGATE_ITERM* t : node->get_input_terms()) {
    if (!input_driven(t)) continue;
    CDB_SGATE_OTERM* source = t->get_source();
    m_delay_vec.push_back(visited(source, m_fanin_visited_flag) ? m_get_fanin(source) : 0);
  }
  if (m_delay_vec.empty()) return 0;
  return compute_fanin_delay_for_vector(m_delay_vec, g);
}

int KAVU_DELAY_EXPERT::fanin_carry_sum(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm) {
  const int g = m_delay_model->get_delay(node, nullptr, nullptr);
  unsigned input = SUM_IN;
  if (oterm != node->get_output_term(SUM_OUT)) {
    KAVU_CHECK(oterm == node->get_output_term(CARRY_OUT));
    if (!m_delay_model->look_through_carry_of_carry_sums()) return 0;
    input = CARRY_IN;
  }
  CDB_SGATE_ITERM* t = node->get_input_term(input);
  if (!input_driven(t)) return g;
  return m_get_fanin(t->get_source()) + g;
}

int KAVU_DELAY_EXPERT::choice_bit_index(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm) const {
  const CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  if (op->get_width(CDB_OPER_PORT_A) > CHOICE_WIDTH_CAP) return int(CHOICE_WIDTH_CAP);
  return port_bit_of_oterm(op, CDB_OPER_PORT_O, oterm);
}

int KAVU_DELAY_EXPERT::fanin_choice(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  const int i = choice_bit_index(node, oterm);
  KAVU_CHECK(i >= 0 && unsigned(i) < op->get_width(CDB_OPER_PORT_O) && unsigned(i) < op->get_width(CDB_OPER_PORT_A) &&
             unsigned(i) < op->get_width(CDB_OPER_PORT_B));
  int d[2];
  const CDB_OPER_PORT_TYPE ports[2] = {CDB_OPER_PORT_A, CDB_OPER_PORT_B};
  for (int p = 0; p < 2; ++p) {
    CDB_SGATE_ITERM* t = op->get_iterm(ports[p], unsigned(i));
    d[p] = input_driven(t) ? compute_fanin_delay(t->get_source(), INNER_BUDGET) : 0;
  }
  return std::min(d[0], d[1]) + m_delay_model->get_delay(node, nullptr, nullptr);
}

int KAVU_DELAY_EXPERT::hard_boundary_fanin_delay(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  int d = m_delay_model->get_delay(node, nullptr, oterm);
  if (m_use_annotated_pin_delays && m_annotated_inputs &&
      (kavu_is_a_input_pin(node) || node->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM)) {
    // The caller's annotation, not the stored value: a stored value already
    // holds the annotation and would be counted again after every flag clear.
    auto it = m_annotated_inputs->find(node->get_output_term(0));
    if (it != m_annotated_inputs->end()) d += it->second;
  }
  if (is_skewed_oterm(oterm)) d = m_seq_timer->get_oterm_fanin_delay(oterm);
  return d;
}

int KAVU_DELAY_EXPERT::mapped_fanin_delay(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(m_use_mapped_delays);
  CDB_SGATE_NODE* top_node = oterm->get_my_node();
  KAVU_CHECK(kavu_is_a_comb( top_node ));
  if (!oterm->test_dyn_flag(m_mapped_flag)) return -1;
  // The LUT delay by kind: asking an arc of a gate without terminals would
  // answer 0 in detailed mode.
  const int L = m_delay_model->get_delay(CDB_SGATE_LUT_ENUM);
  int latest = 0;
  if (m_mapped_fanin_map) {
    auto it = m_mapped_fanin_map->find(oterm);
    if (it != m_mapped_fanin_map->end())
      for (CDB_SGATE_OTERM* f : it->second) latest = std::max(latest, compute_fanin_delay(f, INNER_BUDGET));
  }
  return L + latest;
}

// ---------------------------------------------------------------------------
// Fan-out walk

void KAVU_DELAY_EXPERT::store_fanout(CDB_SGATE_OTERM* oterm, int delay) {
  m_set_fanout(oterm, delay);
  if (m_use_seq_timer && m_seq_timer && m_validation_mode && oterm->get_flag().test(VALIDATION_BIT) &&
      oterm->get_my_node()->has_fanin()) {
    const int seq = m_seq_timer->get_max_fanout_delay(oterm);
    if (seq != delay) {
      kavu_debug(
          "Error: seq delay fanout delay validation fail. oterm fanout delay = %d, seq fanout delay = %d, sgate "
          "id=%d, name=%s",
          delay, seq, int(oterm->get_my_node()->get_id()), oterm->get_my_node()->get_debug_name().c_str());
      m_seq_timer->dump_oterm_clk_info(oterm);
    }
  }
  oterm->get_flag().set(m_fanout_visited_flag);
  oterm->get_flag().reset(m_fanout_visiting_flag);
}

void KAVU_DELAY_EXPERT::report_fanout_loop(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* n = oterm->get_my_node();
  kavu_debug("Combinational loop containing %s %s %s detected in fanout delay computation. Setting delay to 0.",
             n->get_string_type_name(), n->get_debug_name().c_str(), n->get_string_hpath().c_str());
  store_fanout(oterm, 0);
}

// The outputs of the input's gate whose fan-out delays the input's own
// fan-out delay reads.
void KAVU_DELAY_EXPERT::fanout_needed_outputs(CDB_SGATE_ITERM* iterm, std::vector<CDB_SGATE_OTERM*>& outs) {
  outs.clear();
  if (!iterm || !cdb_is_connected(iterm)) return;
  CDB_SGATE_NODE* g = iterm->get_my_node();
  if (m_delay_model->iterm_is_hard_boundary(iterm)) return;
  if (m_seq_model) {
    for (CDB_SGATE_OTERM* o : g->get_output_terms())
      if (o) outs.push_back(o);
    return;
  }
  if (kavu_is_a_choice_op(g)) {
    const CDB_SGATE_OPERATOR* op = g->cast_to_operator();
    int i = op->get_width(CDB_OPER_PORT_A) > CHOICE_WIDTH_CAP ? int(CHOICE_WIDTH_CAP) : port_bit_of_iterm(op, CDB_OPER_PORT_A, iterm);
    if (i < 0) i = port_bit_of_iterm(op, CDB_OPER_PORT_B, iterm);
    CDB_SGATE_OTERM* o = i >= 0 ? op->get_oterm(CDB_OPER_PORT_O, unsigned(i)) : nullptr;
    if (o) outs.push_back(o);
    return;
  }
  if (g->is_wysiwyg() || g->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM) {
    const bool need_fanout = g->is_wysiwyg();
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o || (need_fanout && !o->has_fanout())) continue;
      if (!input_driven(iterm) || kavu_oterm_depends_on_iterm(g, o, iterm, true, true, false, false)) outs.push_back(o);
    }
    return;
  }
  switch (g->get_sgate_type()) {
    case CDB_SGATE_CARRY_SUM_ENUM:
      if (iterm == g->get_input_term(SUM_IN)) {
        if (g->get_output_term(SUM_OUT)) outs.push_back(g->get_output_term(SUM_OUT));
      } else if (m_delay_model->look_through_carry_of_carry_sums() && g->get_output_term(CARRY_OUT)) {
        outs.push_back(g->get_output_term(CARRY_OUT));
      }
      return;
    default: {
      CDB_SGATE_OTERM* o = g->get_output_term(0);
      if (o) outs.push_back(o);
      return;
    }
  }
}

int KAVU_DELAY_EXPERT::compute_fanout_delay(CDB_SGATE_OTERM* top_oterm, int budget) {
  KAVU_CHECK(top_oterm != 0);
  if (visited(top_oterm, m_fanout_visited_flag)) return m_get_fanout(top_oterm);
  if (budget < 1) return 0;
  const size_t base = m_fanout_stack.size();
  auto begin = [&](CDB_SGATE_OTERM* o) {
    if (is_dont_care(o)) {
      store_fanout(o, 0);
      return;
    }
    if (o->get_flag().test(m_fanout_visiting_flag)) {
      report_fanout_loop(o);
      return;
    }
    o->get_flag().set(m_fanout_visiting_flag);
    if (m_use_mapped_delays) {
      store_fanout(o, mapped_fanout_delay(o, budget));
      return;
    }
    m_fanout_stack.push_back({o, 0, o->get_first_fanout()});
  };
  begin(top_oterm);
  while (m_fanout_stack.size() > base) {
    const size_t top = m_fanout_stack.size() - 1;
    CDB_SGATE_OTERM* child = nullptr;
    while (!child && m_fanout_stack[top].m_next_fanout) {
      CDB_SGATE_ITERM* t = m_fanout_stack[top].m_next_fanout;
      fanout_needed_outputs(t, m_scratch_outs);
      size_t j = 0;
      for (; j < m_scratch_outs.size(); ++j)
        if (!visited(m_scratch_outs[j], m_fanout_visited_flag)) {
          child = m_scratch_outs[j];
          break;
        }
      // A child is finished (visited) before its parent resumes, so the link
      // is done when the child was its last unvisited output.
      bool more = false;
      for (size_t r = j + 1; r < m_scratch_outs.size() && !more; ++r)
        more = !visited(m_scratch_outs[r], m_fanout_visited_flag);
      if (!more) m_fanout_stack[top].m_next_fanout = t->get_next_fanout();
    }
    if (child) {
      begin(child);
      continue;
    }
    CDB_SGATE_OTERM* o = m_fanout_stack[top].m_oterm;
    m_fanout_stack.pop_back();
    const int fanout_delay = fanout_finish(o, budget);
    KAVU_CHECK(fanout_delay != KAVU_DELAY_MIN);
    store_fanout(o, fanout_delay);
  }
  return m_get_fanout(top_oterm);
}

int KAVU_DELAY_EXPERT::fanout_finish(CDB_SGATE_OTERM* oterm, int budget) {
  int delay = KAVU_DELAY_MIN;
  bool any = false;
  for (CDB_SGATE_ITERM* t : oterm->fanouts()) {
    KAVU_CHECK(t != 0);
    int d;
    if (m_seq_model) {
      if (!m_delay_model->iterm_is_hard_boundary(t))
        d = m_seq_model->expert_fanout_delay(t);
      else
        d = hard_boundary_fanout_delay(t);
    } else {
      d = fanout_from_iterm_eval(t, budget);
    }
    if (!any || d > delay) delay = d;
    any = true;
  }
  if (!any) delay = 0;
  if (!m_use_seq_timer && m_delay_model->oterm_is_hard_boundary(oterm)) {
    const int hb = hard_boundary_fanout_delay(oterm);
    delay = delay == KAVU_DELAY_MIN ? hb : delay + hb;
  }
  return delay;
}

int KAVU_DELAY_EXPERT::compute_fanout_delay(CDB_SGATE_ITERM* iterm, int budget) {
  return fanout_from_iterm_eval(iterm, budget);
}

int KAVU_DELAY_EXPERT::fanout_from_iterm_eval(CDB_SGATE_ITERM* iterm, int budget) {
  if (!iterm || !cdb_is_connected(iterm)) return 0;
  if (m_delay_model->iterm_is_hard_boundary(iterm)) return hard_boundary_fanout_delay(iterm);
  CDB_SGATE_NODE* sgate = iterm->get_my_node();
  KAVU_CHECK(m_delay_model->look_through_sgate( sgate ));
  auto out_delay = [&](CDB_SGATE_OTERM* o) { return compute_fanout_delay(o, budget); };
  int delay = 0;
  if (kavu_is_a_choice_op(sgate)) {
    const CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
    int i = op->get_width(CDB_OPER_PORT_A) > CHOICE_WIDTH_CAP ? int(CHOICE_WIDTH_CAP) : port_bit_of_iterm(op, CDB_OPER_PORT_A, iterm);
    if (i < 0) i = port_bit_of_iterm(op, CDB_OPER_PORT_B, iterm);
    KAVU_CHECK(i >= 0 && unsigned(i) < op->get_width(CDB_OPER_PORT_A) && unsigned(i) < op->get_width(CDB_OPER_PORT_B) &&
               unsigned(i) < op->get_width(CDB_OPER_PORT_O));
    CDB_SGATE_OTERM* o = op->get_oterm(CDB_OPER_PORT_O, unsigned(i));
    delay = o ? m_delay_model->get_delay(sgate, iterm, o) + out_delay(o) : 0;
  } else if (sgate->is_wysiwyg() || sgate->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM) {
    const bool need_fanout = sgate->is_wysiwyg();
    if (need_fanout) KAVU_CHECK(kavu_is_lcell_comb(sgate));
    bool any = false;
    for (CDB_SGATE_OTERM* o : sgate->get_output_terms()) {
      if (!o || (need_fanout && !o->has_fanout())) continue;
      if (input_driven(iterm) && !kavu_oterm_depends_on_iterm(sgate, o, iterm, true, true, false, false)) continue;
      const int d = m_delay_model->get_delay(sgate, iterm, o) + out_delay(o);
      if (!any || d > delay) delay = d;
      any = true;
    }
  } else {
    switch (sgate->get_sgate_type()) {
      case CDB_SGATE_BUFFER_ENUM:
      case CDB_SGATE_LUT_ENUM:
      case CDB_SGATE_MUX_ENUM:
      case CDB_SGATE_BOUNDARY_ENUM: {
        CDB_SGATE_OTERM* o = sgate->get_output_term(0);
        if (!o) return 0;
        const int g = m_delay_model->get_delay(sgate, iterm, o);
        if (sgate->get_sgate_type() == CDB_SGATE_BUFFER_ENUM &&
            sgate->cast_to_buffer()->get_buffer_type() == CDB_BUFFER_SINGLE_CARRY &&
            !m_delay_model->look_through_carry_buffers())
          return g;
        const bool depends = !input_driven(iterm) || kavu_oterm_depends_on_iterm(sgate, o, iterm, true, true, false, false);
        delay = depends ? g + out_delay(o) : g;
        break;
      }
      case CDB_SGATE_COMB_ENUM: {
        CDB_SGATE_OTERM* o = sgate->get_output_term(0);
        if (!o) return 0;
        delay = comb_iterm_tree_delay(sgate, iterm) + out_delay(o);
        break;
      }
      case CDB_SGATE_CARRY_SUM_ENUM: {
        unsigned out = SUM_OUT;
        if (iterm != sgate->get_input_term(SUM_IN)) {
          KAVU_CHECK(iterm == sgate->get_input_term( CARRY_IN ));
          if (!m_delay_model->look_through_carry_of_carry_sums()) return 0;
          out = CARRY_OUT;
        }
        CDB_SGATE_OTERM* o = sgate->get_output_term(out);
        delay = o ? m_delay_model->get_delay(sgate, iterm, o) + out_delay(o) : 0;
        break;
      }
      default:
        kavu_debug("Not expected to compute fanout delay through %s %s %s", sgate->get_string_type_name(),
                   sgate->get_string_hpath().c_str(), sgate->get_debug_name().c_str());
        KAVU_INTERNAL_ERROR("Unexpected sgate to compute fanout delay through. See debug messages. ");
        return 0;
    }
  }
  KAVU_CHECK(delay != KAVU_DELAY_MIN);
  return delay;
}

int KAVU_DELAY_EXPERT::comb_iterm_tree_delay(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm != 0);
  KAVU_CHECK(kavu_is_a_comb( sgate ));
  const int g = m_delay_model->get_delay(sgate, nullptr, nullptr);
  const int input_count = int(sgate->get_number_of_input_terms());
  KAVU_CHECK(input_count >= 1 && m_max_gate_size >= 1);
  if (m_huge_gate_size != -1 && input_count >= m_huge_gate_size) return huge_levels(input_count) * g;
  std::vector<int> delays;  // not a member: the fan-in queries below may reuse the members
  delays.reserve(size_t(input_count));
  unsigned iterm_index = unsigned(input_count);
  for (int i = 0; i < input_count; ++i) {
    CDB_SGATE_ITERM* t = sgate->get_input_term(unsigned(i));
    if (t == iterm) iterm_index = unsigned(i);
    delays.push_back(input_driven(t) ? compute_fanin_delay(t->get_source(), INNER_BUDGET) : 0);
  }
  KAVU_CHECK((int)iterm_index < input_count);
  return get_iterm_oterm_delay_for_vector(delays, iterm_index, g);
}

int KAVU_DELAY_EXPERT::hard_boundary_fanout_delay(CDB_SGATE_OTERM* oterm) {
  int d = 0;
  CDB_SGATE_NODE* node = oterm->get_my_node();
  if (m_use_annotated_pin_delays && m_annotated_outputs && kavu_is_a_output_pin(node)) {
    auto it = m_annotated_outputs->find(oterm);
    if (it != m_annotated_outputs->end()) d = it->second;
  }
  if (is_skewed_oterm(oterm)) d = m_seq_timer->get_max_fanout_delay(oterm);
  return d;
}

int KAVU_DELAY_EXPERT::hard_boundary_fanout_delay(CDB_SGATE_ITERM* iterm) {
  CDB_SGATE_NODE* sgate = iterm->get_my_node();
  KAVU_CHECK(!(sgate->is_wysiwyg() && m_delay_model->look_through_sgate(sgate)));
  KAVU_CHECK(!kavu_is_a_comb(sgate) && !kavu_is_a_lut(sgate) && !kavu_is_a_mux(sgate));
  int latest = 0;
  bool any = false;
  for (CDB_SGATE_OTERM* o : sgate->get_output_terms()) {
    if (!o) continue;
    const int d = hard_boundary_fanout_delay(o);
    if (!any || d > latest) latest = d;
    any = true;
  }
  return m_delay_model->get_delay(sgate, iterm, nullptr) + latest;
}

int KAVU_DELAY_EXPERT::mapped_fanout_delay(CDB_SGATE_OTERM* oterm, int budget) {
  KAVU_CHECK(m_use_mapped_delays);
  CDB_SGATE_NODE* node = oterm->get_my_node();
  if (kavu_is_a_comb(node) && !oterm->test_dyn_flag(m_mapped_flag)) return -1;
  const int L = m_delay_model->get_delay(CDB_SGATE_LUT_ENUM);
  int delay = 0;
  if (m_mapped_fanout_map) {
    auto it = m_mapped_fanout_map->find(oterm);
    if (it != m_mapped_fanout_map->end())
      for (CDB_SGATE_OTERM* sink : it->second) {
        const int cur_fanout_delay = compute_fanout_delay(sink, budget);
        KAVU_CHECK(cur_fanout_delay != -1);
        delay = std::max(delay, L + cur_fanout_delay);
      }
  }
  for (CDB_SGATE_ITERM* t : oterm->fanouts())
    if (!kavu_is_a_comb(t->get_my_node())) delay = std::max(delay, fanout_from_iterm_eval(t, budget));
  return delay;
}

// ---------------------------------------------------------------------------
// Whole-netlist passes

int KAVU_DELAY_EXPERT::compute_all_delays(bool invalidate, bool) {
  kavu_rebuild_loop_sets(m_netlist);
  if (invalidate) invalidate_all_delays();
  int worst = KAVU_DELAY_MIN;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o) continue;
      const int fi = compute_fanin_delay(o, INNER_BUDGET);
      const int fo = compute_fanout_delay(o, INNER_BUDGET);
      worst = std::max(worst, fi + fo);
    }
  }
  return worst;
}

void KAVU_DELAY_EXPERT::recompute_fanin_delays(CDB_SGATE_NODE* node) {
  for (CDB_SGATE_OTERM* o : node->get_output_terms())
    if (o && !is_boundary_input_gate(node)) o->get_flag().reset(m_fanin_visited_flag);
  for (CDB_SGATE_OTERM* o : node->get_output_terms())
    if (o) compute_fanin_delay(o, INNER_BUDGET);
}

void KAVU_DELAY_EXPERT::recompute_fanout_delays(CDB_SGATE_NODE* node) {
  for (CDB_SGATE_OTERM* o : node->get_output_terms())
    if (o && !is_boundary_output_gate(node)) o->get_flag().reset(m_fanout_visited_flag);
  for (CDB_SGATE_OTERM* o : node->get_output_terms())
    if (o) compute_fanout_delay(o, INNER_BUDGET);
}

// ---------------------------------------------------------------------------
// Decomposed-gate delays: a k-ary Huffman merge of the smallest arrivals.

int KAVU_DELAY_EXPERT::compute_fanin_delay_for_vector(std::vector<int>& delay_vec, int g) {
  KAVU_CHECK(m_max_gate_size >= 2);
  const int k = m_max_gate_size;
  const size_t n = delay_vec.size();
  if (n == 0) return 0;
  if (n == 1) return delay_vec[0];
  if (n <= size_t(k)) return *std::max_element(delay_vec.begin(), delay_vec.end()) + g;
  std::vector<int> heap(delay_vec);
  std::make_heap(heap.begin(), heap.end(), std::greater<int>());
  int num_iterms = int((n - 1) % size_t(k - 1)) + 1;
  if (num_iterms == 1) num_iterms = k;
  while (heap.size() > size_t(k)) {
    KAVU_CHECK(num_iterms >= 2 && num_iterms <= m_max_gate_size);
    int largest = 0;
    for (int j = 0; j < num_iterms; ++j) {
      std::pop_heap(heap.begin(), heap.end(), std::greater<int>());
      largest = j == 0 ? heap.back() : std::max(largest, heap.back());
      heap.pop_back();
    }
    heap.push_back(largest + g);
    std::push_heap(heap.begin(), heap.end(), std::greater<int>());
    if ((heap.size() - 1) % size_t(m_max_gate_size - 1) != 0)
      KAVU_INTERNAL_ERROR("(delay_vec.size()-1) % (m_max_gate_size-1) == 0");
    num_iterms = k;
  }
  return *std::max_element(heap.begin(), heap.end()) + g;
}

int KAVU_DELAY_EXPERT::get_iterm_oterm_delay_for_vector(std::vector<int>& delay_vec, unsigned iterm_index, int g) {
  KAVU_CHECK(iterm_index < delay_vec.size());
  const int input_count = int(delay_vec.size());
  KAVU_CHECK(input_count >= 1 && m_max_gate_size >= 1);
  if (input_count == 1) return 0;
  KAVU_CHECK(m_max_gate_size >= 2);
  const int k = m_max_gate_size;
  const int node_for_decomp_vec_size = input_count + (input_count - 2) / (k - 1) + 1;
  KAVU_CHECK(input_count <= node_for_decomp_vec_size);
  m_node_vec.assign(size_t(node_for_decomp_vec_size), DECOMP_NODE{0, -1});
  for (int i = 0; i < input_count; ++i) m_node_vec[size_t(i)].m_delay = delay_vec[size_t(i)];
  auto later = [this](int a, int b) { return m_node_vec[size_t(a)].m_delay > m_node_vec[size_t(b)].m_delay; };
  m_heap_vec.clear();
  for (int i = 0; i < input_count; ++i) m_heap_vec.push_back(i);
  std::make_heap(m_heap_vec.begin(), m_heap_vec.end(), later);
  int group = (input_count - 1) % (k - 1) + 1;
  if (group == 1) group = k;
  int cur_size = input_count;
  while (int(m_heap_vec.size()) > k) {
    KAVU_CHECK(cur_size < node_for_decomp_vec_size);
    int largest = 0;
    for (int j = 0; j < group; ++j) {
      std::pop_heap(m_heap_vec.begin(), m_heap_vec.end(), later);
      const int x = m_heap_vec.back();
      m_heap_vec.pop_back();
      largest = j == 0 ? m_node_vec[size_t(x)].m_delay : std::max(largest, m_node_vec[size_t(x)].m_delay);
      m_node_vec[size_t(x)].m_parent = cur_size;
    }
    m_node_vec[size_t(cur_size)].m_delay = largest + g;
    m_heap_vec.push_back(cur_size);
    std::push_heap(m_heap_vec.begin(), m_heap_vec.end(), later);
    ++cur_size;
    KAVU_CHECK((m_heap_vec.size()-1)%(m_max_gate_size-1) == 0);
    group = k;
  }
  int gates = 1;  // the output stage
  for (int p = m_node_vec[iterm_index].m_parent; p != -1; p = m_node_vec[size_t(p)].m_parent) ++gates;
  return gates * g;
}
