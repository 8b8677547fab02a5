// kavu_cut.cpp — the cut manager's cone walks and its split-node flow
// network (KAVU_WVNET): build, maximum flow and minimum-cut extraction.
//
// Walks: the bounded walk is breadth-first from the heads with a level per
//   terminal (heads 1, a driver one more than the terminal that found it);
//   a terminal is expanded while its level is below the depth and its gate
//   passes the pass-through rule, else it becomes a source. The unbounded
//   walk lists only the terminals it passes through. Both walks visit a
//   gate's driven inputs in input order and record a terminal at its first
//   discovery, so their lists never depend on addresses; membership tests
//   use the manager's stamp tables, whose order is never read.
// Flow: Ford–Fulkerson with depth-first augmenting paths on an explicit
//   stack. After a maximum flow below the limit, the source side of the
//   residual graph defines the minimum cut nearest the sources: the
//   terminals whose in-net is reached and whose out-net is not. When the
//   limit stops the flow first, the sink may still be reachable; no cut is
//   reported then, so every reported cut separates sources from sinks.
// Cost: a build touches each terminal's gate inputs once; a flow of value F
//   costs O(F · E); arrays keep their storage from build to build.
#include <algorithm>

#include "kavu_check.h"
#include "kavu_cut.h"
#include "kavu_cut_int.h"
#include "kavu_helper_predicates.h"

namespace {

// Gates with this many inputs or more count as wide for the bounded walk.
constexpr unsigned WIDE_GATE_INPUTS = 20;
// Room a walk's table makes before its first growth.
constexpr size_t EXPECTED_CONE_TERMS = 64;
// A shift by this many bits or more is too wide to absorb.
constexpr unsigned WIDE_SHIFT_BITS = 32;

const CDB_SGATE_WYSIWYG* as_atom(const CDB_SGATE_NODE* gate) {
  return gate->is_wysiwyg() ? static_cast<const CDB_SGATE_WYSIWYG*>(gate) : nullptr;
}

bool atom_mode(const CDB_SGATE_NODE* gate, unsigned mode) {
  const CDB_SGATE_WYSIWYG* atom = as_atom(gate);
  return atom && atom->mode_is_set(mode);
}

// The three logic-cell rules shared by both walks, in the order 1, 2, 3.
bool lcell_passes(const CDB_SGATE_NODE* gate, const CUT_WALK_FLAGS& flags) {
  if (!gate->is_wysiwyg() || atom_mode(gate, CDB_WYSIWYG_DONT_TOUCH)) return false;
  if (flags.m_moded_lcells && kavu_is_wys_comb(gate, flags.m_quellin) &&
      atom_mode(gate, CDB_WYSIWYG_EXTENDED_LUT))
    return true;
  if (flags.m_normal_lcells && kavu_is_wys_comb_normal(gate, true, true, true)) return true;
  return flags.m_lcells && kavu_is_wys_comb(gate, flags.m_quellin);
}

bool operator_passes(const CDB_SGATE_NODE* gate) {
  if (!kavu_is_a_op(gate)) return false;
  const CDB_SGATE_OPERATOR* op = static_cast<const CDB_SGATE_OPERATOR*>(gate);
  switch (op->get_type()) {
    case CDB_OPER_ADDITION:
    case CDB_OPER_MULTIPLY:
    case CDB_OPER_DIVIDE:
    case CDB_OPER_COMPARE:
    case CDB_OPER_NTO1_MUX:
    case CDB_OPER_SELECT:
    case CDB_OPER_DECODE:
    case CDB_OPER_EQUAL:
      return true;
    case CDB_OPER_LEFT_SHIFT:
    case CDB_OPER_RIGHT_SHIFT:
    case CDB_OPER_LEFT_ROTATE:
    case CDB_OPER_RIGHT_ROTATE:
      return op->get_width(CDB_OPER_PORT_SHIFT) < WIDE_SHIFT_BITS;
    default:
      return false;
  }
}

// LUT rule of both walks: user and don't-touch LUTs stop a walk; a
// don't-unmap LUT passes only where `is_head` says so.
bool lut_passes(const CDB_SGATE_NODE* gate, bool is_head) {
  const uint8_t bits = gate->get_flag_byte(CDB_KIND_BYTE);
  if (bits & (CDB_LUT_USER | CDB_LUT_DONT_TOUCH)) return false;
  return !(bits & CDB_LUT_DONT_UNMAP) || is_head;
}

bool unbounded_walk_passes(const CDB_SGATE_OTERM* oterm, const CDB_SGATE_OTERM* head,
                           const CUT_WALK_FLAGS& flags) {
  const CDB_SGATE_NODE* gate = oterm->get_my_node();
  if (kavu_is_a_comb(gate))
    return flags.m_wide_gates || gate->get_number_of_input_terms() <= WIDE_GATE_INPUTS;
  if (kavu_is_a_mux(gate)) return true;
  if (kavu_is_a_lut(gate)) return lut_passes(gate, oterm == head);
  return lcell_passes(gate, flags);
}

}  // namespace

bool cut_bounded_walk_passes(const CDB_SGATE_NODE* gate, CUT_OTERM_SPAN heads, const CUT_WALK_FLAGS& flags) {
  if (kavu_is_a_comb(gate) || kavu_is_a_mux(gate))
    return flags.m_wide_gates || gate->get_number_of_input_terms() < WIDE_GATE_INPUTS;
  if (kavu_is_a_lut(gate)) {
    // Every head qualifies (the walk's heads are its own LUT outputs).
    const CDB_SGATE_OTERM* first = gate->get_output_term(0);
    const bool is_head =
        heads.empty() || std::find(heads.begin(), heads.end(), first) != heads.end();
    return lut_passes(gate, is_head);
  }
  if (lcell_passes(gate, flags)) return true;
  return flags.m_operators && operator_passes(gate);
}

// ---------------------------------------------------------------------------
// The manager: lifecycle and walks

KAVU_WVNET_MANAGER::~KAVU_WVNET_MANAGER() {
  delete m_wvnet;
  m_wvnet = nullptr;
  delete m_scratch;
  m_scratch = nullptr;
}

CUT_SCRATCH& KAVU_WVNET_MANAGER::scratch() {
  if (!m_scratch) m_scratch = new CUT_SCRATCH;
  return *m_scratch;
}

void KAVU_WVNET_MANAGER::bounded_walk(CUT_OTERM_SPAN heads, int depth, const CUT_WALK_FLAGS& flags,
                                      CDB_SGATE_OTERM* stop, CUT_CONE& cone) {
  CUT_SCRATCH& s = scratch();
  cone.clear();
  s.m_work.clear();
  s.m_levels.clear();
  s.m_listed.clear(heads.size() + EXPECTED_CONE_TERMS);
  for (CDB_SGATE_OTERM* head : heads) {
    KAVU_CHECK(head != nullptr);
    if (!s.m_listed.insert(head, 0)) continue;  // a repeated head is one sink
    cone.m_sinks.push_back(head);
    s.m_work.push_back(head);
    s.m_levels.push_back(1);
  }
  for (size_t i = 0; i < s.m_work.size(); ++i) {
    if (s.m_levels.size() != s.m_work.size()) KAVU_INTERNAL_ERROR("depths.size() == oterm_stack.size()");
    CDB_SGATE_OTERM* oterm = s.m_work[i];
    const int level = s.m_levels[i];
    cone.m_oterms.push_back(oterm);
    const CDB_SGATE_NODE* gate = oterm->get_my_node();
    if (level < depth && oterm != stop && cut_bounded_walk_passes(gate, heads, flags)) {
      for (const CDB_SGATE_ITERM* iterm : gate->get_input_terms()) {
        CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
        if (driver && s.m_listed.insert(driver, 0)) {
          s.m_work.push_back(driver);
          s.m_levels.push_back(level + 1);
        }
      }
    } else {
      cone.m_sources.push_back(oterm);
    }
  }
}

void KAVU_WVNET_MANAGER::unbounded_walk(CDB_SGATE_OTERM* head, const CUT_WALK_FLAGS& flags, CUT_OTERM_SPAN excluded,
                                        CUT_OTERM_VECTOR& members) {
  CUT_SCRATCH& s = scratch();
  members.clear();
  s.m_excluded.clear(excluded.size());
  for (CDB_SGATE_OTERM* x : excluded) s.m_excluded.insert(x, 0);
  s.m_work.assign(1, head);
  s.m_listed.clear(EXPECTED_CONE_TERMS);
  s.m_listed.insert(head, 0);
  for (size_t i = 0; i < s.m_work.size(); ++i) {
    CDB_SGATE_OTERM* oterm = s.m_work[i];
    if (s.m_excluded.contains(oterm) || !unbounded_walk_passes(oterm, head, flags)) continue;
    members.push_back(oterm);
    for (const CDB_SGATE_ITERM* iterm : oterm->get_my_node()->get_input_terms()) {
      CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
      if (driver && s.m_listed.insert(driver, 0)) s.m_work.push_back(driver);
    }
  }
}

void KAVU_WVNET_MANAGER::get_cone(std::vector<CDB_SGATE_OTERM*>& heads, int depth,
                                  bool through_moded_lcells, bool through_lcells,
                                  bool through_normal_lcells, bool through_operators,
                                  bool through_wide_gates, OTERM_LIST* oterm_list,
                                  OTERM_LIST* sources, OTERM_LIST* sinks, CDB_SGATE_OTERM* stop) {
  KAVU_CHECK(sinks && sources && oterm_list);
  KAVU_CHECK(sinks->empty() && sources->empty() && oterm_list->empty());
  const CUT_WALK_FLAGS flags = cut_walk_flags(through_moded_lcells, through_lcells, through_normal_lcells,
                                              through_operators, through_wide_gates, m_allow_through_quellin);
  CUT_CONE& cone = scratch().m_cone;
  bounded_walk(heads, depth, flags, stop, cone);
  assign_list(cone.m_oterms, oterm_list);
  assign_list(cone.m_sources, sources);
  assign_list(cone.m_sinks, sinks);
}

void KAVU_WVNET_MANAGER::get_cone(CDB_SGATE_OTERM* head, int depth, bool through_moded_lcells,
                                  bool through_lcells, bool through_normal_lcells,
                                  bool through_operators, bool through_wide_gates,
                                  OTERM_LIST* oterm_list, OTERM_LIST* sources, OTERM_LIST* sinks,
                                  CDB_SGATE_OTERM* stop) {
  std::vector<CDB_SGATE_OTERM*> heads(1, head);
  get_cone(heads, depth, through_moded_lcells, through_lcells, through_normal_lcells,
           through_operators, through_wide_gates, oterm_list, sources, sinks, stop);
}

void KAVU_WVNET_MANAGER::get_cone(CDB_SGATE_OTERM* head, bool through_moded_lcells,
                                  bool through_lcells, bool through_normal_lcells, bool,
                                  bool through_wide_gates, OTERM_LIST* oterm_list,
                                  std::vector<CDB_SGATE_OTERM*>* excluded) {
  KAVU_CHECK(oterm_list);
  KAVU_CHECK(oterm_list->empty());
  KAVU_CHECK(head && excluded);
  const CUT_WALK_FLAGS flags = cut_walk_flags(through_moded_lcells, through_lcells, through_normal_lcells, false,
                                              through_wide_gates, m_allow_through_quellin);
  CUT_OTERM_VECTOR& members = scratch().m_members;
  unbounded_walk(head, flags, *excluded, members);
  assign_list(members, oterm_list);
}

KAVU_WVNET* KAVU_WVNET_MANAGER::network_for_lists() {
  if (!m_wvnet) m_wvnet = new KAVU_WVNET;
  m_wvnet_holds_graph = false;
  return m_wvnet;
}

KAVU_WVNET* KAVU_WVNET_MANAGER::network_for_graph(const CUT_CONE& graph_cone) {
  KAVU_CHECK(m_graph_initialized);
  if (!m_wvnet || !m_wvnet_holds_graph) {
    // A search on given lists replaced the graph's network: rebuild it.
    if (!m_wvnet) m_wvnet = new KAVU_WVNET;
    m_wvnet->build_network(graph_cone.m_oterms, graph_cone.m_sources, graph_cone.m_sinks, nullptr);
    m_wvnet_holds_graph = true;
  }
  KAVU_CHECK(m_wvnet != 0 && m_graph_initialized);
  return m_wvnet;
}

void KAVU_WVNET_MANAGER::initialize_graph(CDB_SGATE_OTERM* head, int depth, int,
                                          bool through_moded_lcells, bool through_lcells,
                                          bool through_operators, bool through_wide_gates) {
  const CUT_WALK_FLAGS flags = cut_walk_flags(through_moded_lcells, through_lcells, false, through_operators,
                                              through_wide_gates, m_allow_through_quellin);
  CUT_CONE& cone = scratch().m_cone;
  CDB_SGATE_OTERM* heads[] = {head};
  bounded_walk(heads, depth, flags, nullptr, cone);
  assign_list(cone.m_oterms, &m_oterm_list);
  assign_list(cone.m_sources, &m_sources);
  assign_list(cone.m_sinks, &m_sinks);
  m_graph_initialized = true;
  m_wvnet_holds_graph = false;
  KAVU_WVNET* net = network_for_graph(cone);
  net->set_all_capacities(1);
  for (CDB_SGATE_OTERM* sink : m_sinks) net->set_capacity_of(sink, max_capacity);
}

void KAVU_WVNET_MANAGER::clear_graph() {
  m_oterm_list.clear();
  m_sources.clear();
  m_sinks.clear();
  m_graph_initialized = false;
}

// ---------------------------------------------------------------------------
// KAVU_WVNET: build

void KAVU_WVNET::reset_network() {
  m_oterms.clear();
  m_index.clear();
  m_is_source.clear();
  m_capacity.clear();
  m_num_nets = 0;
  m_source = m_sink = -1;
  m_edge_tail.clear();
  m_edge_head.clear();
  m_edge_cap.clear();
  m_edge_flow.clear();
  m_in_begin.clear();
  m_in_edges.clear();
  m_out_begin.clear();
  m_out_edges.clear();
}

void KAVU_WVNET::set_all_capacities(int cap) { std::fill(m_capacity.begin(), m_capacity.end(), cap); }

void KAVU_WVNET::set_capacity_of(const CDB_SGATE_OTERM* oterm, int cap) {
  KAVU_CHECK(oterm != 0);
  const int i = index_of(oterm);
  if (i >= 0) m_capacity[i] = cap;
}

// m_in_begin counts incoming edges per net (shifted by one) until
// finish_adjacency turns the counts into row starts.
int KAVU_WVNET::add_edge(int tail, int head) {
  m_edge_tail.push_back(tail);
  m_edge_head.push_back(head);
  m_edge_cap.push_back(INF);
  m_edge_flow.push_back(0);
  ++m_in_begin[head + 1];
  return int(m_edge_tail.size()) - 1;
}

void KAVU_WVNET::build_network(CUT_OTERM_SPAN oterms, CUT_OTERM_SPAN sources, CUT_OTERM_SPAN sinks,
                               const std::vector<CDB_SGATE_ITERM*>* iterms) {
  reset_network();
  const int n = int(oterms.size());
  m_num_nets = 2 * n + 2;
  m_source = 2 * n;
  m_sink = 2 * n + 1;
  m_oterms.assign(oterms.begin(), oterms.end());
  m_capacity.assign(n, 1);
  m_in_begin.assign(m_num_nets + 1, 0);
  m_index.clear(n);
  for (int i = 0; i < n; ++i) {
    KAVU_CHECK(oterms[i] != 0);
    const bool listed_once = m_index.insert(oterms[i], i);
    KAVU_CHECK(listed_once);
    add_edge(2 * i + 1, 2 * i);  // the internal edge: edge i
  }
  m_is_source.assign(n, 0);
  for (CDB_SGATE_OTERM* source : sources) {
    const int s = index_of(source);
    KAVU_CHECK(s >= 0);  // every source is in the oterm list
    KAVU_CHECK(!m_is_source[s]);
    m_is_source[s] = 1;
  }
  if (!iterms) {
    for (int i = 0; i < n; ++i) {
      if (m_is_source[i]) continue;
      for (const CDB_SGATE_ITERM* iterm : oterms[i]->get_my_node()->get_input_terms()) {
        const int j = index_of(cut_driver_of(iterm));
        if (j >= 0) add_edge(2 * j, 2 * i + 1);
      }
    }
  } else {
    for (const CDB_SGATE_ITERM* iterm : *iterms) {
      KAVU_CHECK(cdb_is_connected( iterm ));
      const CDB_SGATE_NODE* dst_gate = iterm->get_my_node();
      KAVU_CHECK(dst_gate->get_output_count() == 1);
      const int src = index_of(iterm->get_source());
      const int dst = index_of(dst_gate->get_output_term(0));
      KAVU_CHECK(src >= 0 && dst >= 0);
      add_edge(2 * src, 2 * dst + 1);
    }
  }
  for (CDB_SGATE_OTERM* source : sources) {
    const int s = index_of(source);
    // A listed input may not feed a source: its in-net is fed by the source net only.
    KAVU_CHECK(m_in_begin[2 * s + 2] == 0);
    add_edge(m_source, 2 * s + 1);
  }
  for (CDB_SGATE_OTERM* sink : sinks) {
    const int t = index_of(sink);
    KAVU_CHECK(t >= 0);  // every sink is in the oterm list
    add_edge(2 * t, m_sink);
  }
  finish_adjacency();
}

// Incoming rows keep the order edges were added; outgoing rows list a net's
// edges by head net and, per head, in the head's incoming order.
void KAVU_WVNET::finish_adjacency() {
  const int num_edges = int(m_edge_tail.size());
  for (int k = 0; k < m_num_nets; ++k) m_in_begin[k + 1] += m_in_begin[k];
  m_in_edges.assign(num_edges, 0);
  m_out_begin.assign(m_num_nets + 1, 0);
  m_cursor.assign(m_in_begin.begin(), m_in_begin.end() - 1);
  for (int e = 0; e < num_edges; ++e) {
    m_in_edges[m_cursor[m_edge_head[e]]++] = e;
    ++m_out_begin[m_edge_tail[e] + 1];
  }
  for (int k = 0; k < m_num_nets; ++k) m_out_begin[k + 1] += m_out_begin[k];
  m_out_edges.assign(num_edges, 0);
  m_cursor.assign(m_out_begin.begin(), m_out_begin.end() - 1);
  for (int k = 0; k < m_num_nets; ++k) {
    for (int p = m_in_begin[k]; p < m_in_begin[k + 1]; ++p) {
      const int e = m_in_edges[p];
      m_out_edges[m_cursor[m_edge_tail[e]]++] = e;
    }
  }
  m_visit.resize(size_t(m_num_nets));
  m_visit.next();
  m_parent_edge.assign(m_num_nets, -1);
  m_parent_forward.assign(m_num_nets, 0);
}

// ---------------------------------------------------------------------------
// KAVU_WVNET: flow

void KAVU_WVNET::init_flows() {
  std::fill(m_edge_flow.begin(), m_edge_flow.end(), 0);
  for (int i = 0; i < num_oterms(); ++i) m_edge_cap[i] = m_capacity[i];
}

bool KAVU_WVNET::residual_usable(int edge, bool forward) const {
  if (!forward) return m_edge_flow[edge] >= 1;
  return m_edge_cap[edge] == INF || m_edge_cap[edge] - m_edge_flow[edge] >= 1;
}

int KAVU_WVNET::residual(int edge, bool forward) const {
  if (!forward) return m_edge_flow[edge];
  return m_edge_cap[edge] == INF ? INF : m_edge_cap[edge] - m_edge_flow[edge];
}

// A new visit stamp and a stack holding the source alone, marked visited.
void KAVU_WVNET::start_walk_from_source() {
  m_visit.next();
  m_stack.clear();
  m_visit.mark(size_t(m_source));
  m_stack.push_back({m_source, 0});
}

// Depth-first search from the source: at each net first its outgoing edges
// (forward residuals), then its incoming ones (backward residuals), in row
// order; the first net to reach the sink ends the search.
bool KAVU_WVNET::find_augmenting_path() {
  start_walk_from_source();
  while (!m_stack.empty()) {
    FRAME& frame = m_stack.back();
    const int u = frame.m_net;
    const int out_degree = m_out_begin[u + 1] - m_out_begin[u];
    const int in_degree = m_in_begin[u + 1] - m_in_begin[u];
    if (frame.m_next >= out_degree + in_degree) {
      m_stack.pop_back();
      continue;
    }
    const int pos = frame.m_next++;
    const bool forward = pos < out_degree;
    const int e = forward ? m_out_edges[m_out_begin[u] + pos]
                          : m_in_edges[m_in_begin[u] + pos - out_degree];
    if (!residual_usable(e, forward)) continue;
    const int v = forward ? m_edge_head[e] : m_edge_tail[e];
    if (v != m_sink && m_visit.is_marked(size_t(v))) continue;
    m_parent_edge[v] = e;
    m_parent_forward[v] = forward;
    if (v == m_sink) return true;
    m_visit.mark(size_t(v));
    m_stack.push_back({v, 0});  // `frame` may dangle from here on
  }
  return false;
}

int KAVU_WVNET::augment(int limit) {
  int delta = limit;
  for (int v = m_sink; v != m_source;) {
    const int e = m_parent_edge[v];
    const bool forward = m_parent_forward[v];
    delta = std::min(delta, residual(e, forward));
    v = forward ? m_edge_tail[e] : m_edge_head[e];
  }
  for (int v = m_sink; v != m_source;) {
    const int e = m_parent_edge[v];
    const bool forward = m_parent_forward[v];
    m_edge_flow[e] += forward ? delta : -delta;
    v = forward ? m_edge_tail[e] : m_edge_head[e];
  }
  return delta;
}

int KAVU_WVNET::max_flow(int limit) {
  KAVU_CHECK(m_num_nets > 0);
  init_flows();
  int remaining = limit;
  while (remaining > 0 && find_augmenting_path()) remaining -= augment(remaining);
  return limit - remaining;
}

void KAVU_WVNET::mark_reachable() {
  start_walk_from_source();
  while (!m_stack.empty()) {
    const int u = m_stack.back().m_net;
    m_stack.pop_back();
    for (int p = m_out_begin[u]; p < m_out_begin[u + 1]; ++p) {
      const int e = m_out_edges[p];
      const int v = m_edge_head[e];
      if (!m_visit.is_marked(size_t(v)) && residual_usable(e, true)) {
        m_visit.mark(size_t(v));
        m_stack.push_back({v, 0});
      }
    }
    for (int p = m_in_begin[u]; p < m_in_begin[u + 1]; ++p) {
      const int e = m_in_edges[p];
      const int v = m_edge_tail[e];
      if (!m_visit.is_marked(size_t(v)) && residual_usable(e, false)) {
        m_visit.mark(size_t(v));
        m_stack.push_back({v, 0});
      }
    }
  }
}

bool KAVU_WVNET::extract_cut(CUT_OTERM_VECTOR* cut) {
  cut->clear();
  if (m_num_nets == 0) return false;
  mark_reachable();
  // A reachable sink means the flow limit stopped the search: whatever the
  // marks would give does not separate the sources from the sinks.
  if (m_visit.is_marked(size_t(m_sink))) return false;
  for (int i = 0; i < num_oterms(); ++i) {
    if (m_visit.is_marked(size_t(2 * i + 1)) && !m_visit.is_marked(size_t(2 * i))) cut->push_back(m_oterms[i]);
  }
  return !cut->empty();
}
