// kavu_sort_scc.cpp — strongly connected components, cones and paths of the
// output-terminal graph (members of KAVU_SORT).
//
// Components: Kosaraju's two passes. The topological sort (kavu_sort.cpp) is
//   a complete depth-first post-order of the fan-in graph; walking it from the
//   last terminal to the first, a depth-first walk along the successor lists
//   (the exact transpose of the feeder relation, GRAPH::build_fanouts)
//   collects one component at a time. Begin terminals are preset as visited
//   in both passes, so each is a component of its own and no walk crosses
//   one; register loops appear only in sequential mode, where a register's
//   data, enable and synchronous inputs are its feeders.
// Numbering: components are numbered in the order found and then renumbered
//   c - n, so that 1 is nearest the inputs and numbers ascend along the
//   component list (a component's feeders have smaller or equal numbers).
//   Within a component the walk's start comes first, then the others in the
//   reverse of their finishing order.
// Cones: fan-in cones are appended fan-in first; fan-out cones are put in
//   front, so they read sources first. Paths are the terminals in both the
//   fan-in cone of the sinks and the fan-out cone of the sources.
// Cost: O(V + E) per call on the dense graph, plus O(V log V) to fill the
//   caller's std::map; component inputs and outputs are linear scans meant
//   for small components.
#include <algorithm>
#include <utility>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_depends.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "kavu_predicates.h"
#include "kavu_sort.h"
#include "kavu_sort_int.h"

namespace {
// Components of this many terminals or more share one histogram counter.
constexpr int k_large_scc = 399;

int number_of(const KAVU_SORT::SCC_MAP& scc_map, CDB_SGATE_OTERM* oterm) {
  auto it = scc_map.find(oterm);
  return it == scc_map.end() ? 0 : it->second;
}
}  // namespace

// ---------------------------------------------------------------------------
// Walks

void KAVU_SORT::dfs_oterm_fanout(int start, GRAPH& g, std::vector<int>& finished) const {
  if (g.m_state[start] >= GRAPH::ACTIVE) return;
  g.m_state[start] = GRAPH::ACTIVE;
  g.m_stack.clear();
  g.m_stack.push_back(GRAPH::FRAME{start, 0, g.fanout_first(start), g.fanout_count(start)});
  while (!g.m_stack.empty()) {
    GRAPH::FRAME& top = g.m_stack.back();
    if (top.m_next < top.m_count) {
      const int w = g.m_fout_edges[top.m_first + top.m_next++];
      if (g.m_state[w] >= GRAPH::ACTIVE) continue;
      g.m_state[w] = GRAPH::ACTIVE;
      g.m_stack.push_back(GRAPH::FRAME{w, 0, g.fanout_first(w), g.fanout_count(w)});
      continue;
    }
    g.m_state[top.m_v] = GRAPH::DONE;
    finished.push_back(top.m_v);
    g.m_stack.pop_back();
  }
}

// ---------------------------------------------------------------------------
// Components

int KAVU_SORT::assign_components(GRAPH& g, std::vector<int>& scc_order, std::vector<int>& scc_number,
                                 std::vector<int>& histogram) const {
  std::vector<int> sorted;
  g.final_order(sorted);
  g.build_fanouts();
  g.reset_states();
  for (int v : g.m_begin) g.m_state[v] = GRAPH::ACTIVE;
  scc_number.assign(size_t(g.size()), 0);
  histogram.assign(k_large_scc + 1, 0);
  std::vector<int> fronted;  // the component list is built by inserting in front
  fronted.reserve(sorted.size());
  std::vector<int> finished;
  int c = 1;
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
    const int v = *it;
    if (g.m_state[v] == GRAPH::DONE) continue;
    if (g.m_state[v] == GRAPH::ACTIVE) {  // a begin terminal: alone
      g.m_state[v] = GRAPH::DONE;
      scc_number[v] = c;
      fronted.push_back(v);
    } else {
      finished.clear();
      dfs_oterm_fanout(v, g, finished);
      for (int w : finished) {
        scc_number[w] = c;
        fronted.push_back(w);
      }
      ++histogram[std::min<size_t>(finished.size(), k_large_scc)];
    }
    ++c;
  }
  for (int& n : scc_number) n = c - n;
  scc_order.assign(fronted.rbegin(), fronted.rend());
  return c - 1;
}

void KAVU_SORT::report_scc_statistics(const std::vector<int>& histogram) const {
  int cycles = 0;
  for (int size = 2; size < k_large_scc; ++size) {
    if (histogram[size] == 0) continue;
    kavu_debug("%d-sgate SCCs: %d", size, histogram[size]);
    cycles += histogram[size];
  }
  if (histogram[k_large_scc] != 0) kavu_debug(">= %d-sgate SCCs: %d", k_large_scc, histogram[k_large_scc]);
  kavu_debug("num_cycles: %d", cycles);
}

void KAVU_SORT::verify_scc_oterms(GRAPH& g, const std::vector<int>& scc_order,
                                  const std::vector<int>& scc_number) const {
  const size_t sorted = g.m_fronted.size() + g.m_appended.size();
  kavu_debug("scc %d %d", int(sorted), int(scc_order.size()));
  if (sorted != scc_order.size()) KAVU_INTERNAL_ERROR("sorted_oterms.size() == oterm_list.size()");
  for (size_t i = 1; i < scc_order.size(); ++i) {
    const int step = scc_number[scc_order[i]] - scc_number[scc_order[i - 1]];
    if (step < 0) KAVU_INTERNAL_ERROR("scc_map[curr_oterm]-scc_map[prev_oterm]>=0");
    if (step > 1) KAVU_INTERNAL_ERROR("scc_map[curr_oterm]-scc_map[prev_oterm]<=1");
  }
  g.reset_states();
  for (int v : g.m_begin) g.m_state[v] = GRAPH::ACTIVE;
  for (int v : scc_order) {
    if (g.m_state[v] != GRAPH::UNVISITED) continue;
    int first = 0, count = 0;
    g.fetch_feeders(v, first, count);
    for (int k = 0; k < count; ++k) {
      const int w = g.m_fin_edges[first + k];
      if (g.m_state[w] == GRAPH::UNVISITED && scc_number[w] > scc_number[v])
        KAVU_INTERNAL_ERROR("scc_map[src_oterms[i]] <= scc_map[oterm]");
    }
  }
}

void KAVU_SORT::dump_begin_end_oterms(GRAPH& g) const {
  std::orlind_ofstream out;
  out.open("kavu_sort_begin_end_oterms.txt", std::ios_base::out | std::ios_base::trunc);
  if (!out) return;
  auto write_list = [&out, &g](const std::deque<int>& list) {
    out << "Size = " << list.size() << "\n";
    int index = 0;
    for (int v : list) {
      const CDB_SGATE_OTERM* oterm = g.oterm(v);
      const CDB_SGATE_NODE* node = oterm->get_my_node();
      out << "[" << index++ << "] SGATE ID=" << (node ? long(node->get_id()) : -1L)
          << ", NAME=" << kavu_get_oterm_debug_name(oterm) << "\n";
    }
  };
  out << "****** Begin Oterms ******\n";
  write_list(g.m_begin);
  out << "\n****** End Oterms ******\n";
  write_list(g.m_end);
  out << "\n";
}

void KAVU_SORT::scc_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& scc_list, SCC_MAP& scc_map, bool cut_buffers,
                           OTERM_LIST* begin, OTERM_LIST* end, KAVU_SEQ_TIMER_CLK_DOMAIN* domain) {
  if (m_sequential && !domain) KAVU_INTERNAL_ERROR("p_clk_domain != NULL");
  if (!domain) KAVU_CHECK(netlist != nullptr);
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, m_dont_dfs);
  const std::vector<CDB_SGATE_OTERM*>* oterms = domain ? &domain->get_oterms() : nullptr;
  init_sort(netlist, g, oterms);
  if (m_sequential) {
    get_begin_end_oterms_sequential(oterms, g, cut_buffers);
    if (cfg_is_on("kavu_sort_dump_begin_end_oterms", false)) dump_begin_end_oterms(g);
  } else {
    get_begin_end_oterms(netlist, g, cut_buffers);
  }
  sort_oterms(g);
  std::vector<int> order, number, histogram;
  assign_components(g, order, number, histogram);
  if (m_debug_level >= 1) {
    verify_scc_oterms(g, order, number);
    report_scc_statistics(histogram);
  }
  for (int v : order) scc_list.push_back(g.oterm(v));
  // Fill the map in address order so that every insertion is at its end.
  std::vector<std::pair<CDB_SGATE_OTERM*, int>> entries;
  entries.reserve(size_t(g.size()));
  for (int v = 0; v < g.size(); ++v) entries.emplace_back(g.oterm(v), number[v]);
  std::sort(entries.begin(), entries.end());
  scc_map.clear();
  for (const auto& entry : entries) scc_map.emplace_hint(scc_map.end(), entry);
  if (begin) {
    for (int v : g.m_begin) begin->push_back(g.oterm(v));
  }
  if (end) {
    for (int v : g.m_end) end->push_back(g.oterm(v));
  }
}

// ---------------------------------------------------------------------------
// Inputs, outputs and report of one component

bool KAVU_SORT::oterm_feeds_oterm(CDB_SGATE_OTERM* src, CDB_SGATE_OTERM* sink,
                                  std::vector<CDB_SGATE_OTERM*>& buf) const {
  kavu_get_oterm_feeders(sink, buf, m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs);
  return std::find(buf.begin(), buf.end(), src) != buf.end();
}

void KAVU_SORT::get_scc_inputs(OTERM_LIST& /*scc_list*/, OTERM_LIST::iterator& first, OTERM_LIST::iterator& last,
                               SCC_MAP& scc_map, OTERM_LIST& inputs) {
  if (first == last) return;
  const int s = number_of(scc_map, *first);
  std::vector<CDB_SGATE_OTERM*> feeders;
  for (auto it = first; it != last; ++it) {
    kavu_get_oterm_feeders(*it, feeders, m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs);
    for (CDB_SGATE_OTERM* f : feeders) {
      if (number_of(scc_map, f) == s) continue;
      if (std::find(inputs.begin(), inputs.end(), f) == inputs.end()) inputs.push_back(f);
    }
  }
}

void KAVU_SORT::get_scc_outputs(OTERM_LIST& /*scc_list*/, OTERM_LIST::iterator& first, OTERM_LIST::iterator& last,
                                SCC_MAP& scc_map, OTERM_LIST& outputs) {
  if (first == last) return;
  const int s = number_of(scc_map, *first);
  std::vector<CDB_SGATE_OTERM*> buf;
  for (auto it = first; it != last; ++it) {
    CDB_SGATE_OTERM* t = *it;
    bool found = false;
    for (CDB_SGATE_ITERM* iterm : t->fanouts()) {
      CDB_SGATE_NODE* node = iterm->get_my_node();
      unsigned lo = 0, hi = node->get_output_count();
      if (kavu_is_a_carry_sum_buffer(node)) {
        if (node->get_input_term(0) == iterm) lo = 0;
        else if (node->get_input_term(1) == iterm) lo = 1;
        else KAVU_INTERNAL_ERROR("Bad CARRY_SUM sgate.");
        hi = std::min(lo + 1, hi);
      }
      for (unsigned i = lo; i < hi && !found; ++i) {
        CDB_SGATE_OTERM* o = node->get_output_term(i);
        // A successor is a terminal that t feeds under the feeder rule.
        found = o && number_of(scc_map, o) != s && oterm_feeds_oterm(t, o, buf);
      }
      if (found) break;
    }
    if (found) outputs.push_back(t);
  }
}

void KAVU_SORT::report_scc_inout(OTERM_LIST& scc_list, SCC_MAP& scc_map) {
  static const char* const k_formats[] = {
      "1. scc %5d has %4d oterms, %3d inputs, %3d outputs, %3d cuts, and %3d out_cuts.",
      "2. scc %5d has %4d oterms, %3d inputs, %3d outputs, %3d cuts, and %3d out_cuts.",
      "3. scc %5d has %4d oterms, %3d inputs, %3d outputs, %3d cuts, and %3d out_cuts."};
  auto first = scc_list.begin();
  while (first != scc_list.end()) {
    const int s = number_of(scc_map, *first);
    auto last = first;
    int terms = 0, cuts = 0;
    for (; last != scc_list.end() && number_of(scc_map, *last) == s; ++last) {
      ++terms;
      if (kavu_is_a_cut_buffer((*last)->get_my_node())) ++cuts;
    }
    if (terms > 1) {
      OTERM_LIST outputs, inputs;
      get_scc_outputs(scc_list, first, last, scc_map, outputs);
      get_scc_inputs(scc_list, first, last, scc_map, inputs);
      int out_cuts = 0;
      for (CDB_SGATE_OTERM* o : outputs) out_cuts += kavu_is_a_cut_buffer(o->get_my_node()) ? 1 : 0;
      const int n_in = int(inputs.size()), n_out = int(outputs.size());
      if (n_out != 1) {
        kavu_debug(k_formats[0], s, terms, n_in, n_out, cuts, out_cuts);
        if (m_debug_level > 10) {
          for (CDB_SGATE_OTERM* o : outputs) oterm_info(o);
        }
      } else if (out_cuts < cuts) {
        kavu_debug(k_formats[1], s, terms, n_in, n_out, cuts, out_cuts);
      } else if (n_in > 3) {
        kavu_debug(k_formats[2], s, terms, n_in, n_out, cuts, out_cuts);
      }
    }
    first = last;
  }
}

void KAVU_SORT::oterm_info(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm != nullptr);
  kavu_debug("%s(%s)", kavu_get_oterm_debug_name(oterm).c_str(), oterm->get_my_node()->get_string_type_name());
}

// ---------------------------------------------------------------------------
// Cones and paths

namespace {
// The caller's visit map as a graph: its keys take part, in key order (the
// results follow the sink, feeder and fan-out orders, never this one).
void enter_map_keys(KAVU_SORT::GRAPH& g, const KAVU_SORT::VISIT_MAP& visit_map) {
  g.reserve(visit_map.size());
  for (const auto& entry : visit_map) g.add(entry.first);
}

void write_back_states(const KAVU_SORT::GRAPH& g, KAVU_SORT::VISIT_MAP& visit_map) {
  for (int v = 0; v < g.size(); ++v) visit_map[g.oterm(v)] = g.m_state[v];
}
}  // namespace

void KAVU_SORT::fanin_cone_oterms(OTERM_LIST& sinks, VISIT_MAP& visit_map, OTERM_LIST& cone) {
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, false);
  enter_map_keys(g, visit_map);
  for (CDB_SGATE_OTERM* sink : sinks) g.m_state[g.add(sink)] = GRAPH::ACTIVE;
  g.m_appended.clear();
  for (CDB_SGATE_OTERM* sink : sinks) {
    const int v = g.index_of(sink);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;  // a repeated sink: listed once
    g.m_state[v] = GRAPH::UNVISITED;
    dfs_oterm_fanin(v, g);
  }
  for (int v : g.m_appended) cone.push_back(g.oterm(v));
  write_back_states(g, visit_map);
}

void KAVU_SORT::fanout_cone_oterms(OTERM_LIST& sources, VISIT_MAP& visit_map, OTERM_LIST& cone) {
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, false);
  enter_map_keys(g, visit_map);
  for (CDB_SGATE_OTERM* source : sources) g.add(source);
  g.build_fanouts();
  for (CDB_SGATE_OTERM* source : sources) g.m_state[g.index_of(source)] = GRAPH::ACTIVE;
  std::vector<int> finished;
  for (CDB_SGATE_OTERM* source : sources) {
    const int v = g.index_of(source);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;
    g.m_state[v] = GRAPH::UNVISITED;
    finished.clear();
    dfs_oterm_fanout(v, g, finished);
    for (int w : finished) cone.push_front(g.oterm(w));
  }
  write_back_states(g, visit_map);
}

void KAVU_SORT::path_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& from, OTERM_LIST& to, OTERM_LIST& path) {
  KAVU_CHECK(netlist != nullptr);
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, false);
  init_sort(netlist, g, nullptr);
  for (CDB_SGATE_OTERM* t : to) g.add(t);
  for (CDB_SGATE_OTERM* f : from) g.add(f);
  // A: the fan-in cone of `to`, fan-in first.
  g.reset_states();
  g.m_appended.clear();
  for (CDB_SGATE_OTERM* t : to) g.m_state[g.index_of(t)] = GRAPH::ACTIVE;
  for (CDB_SGATE_OTERM* t : to) {
    const int v = g.index_of(t);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;
    g.m_state[v] = GRAPH::UNVISITED;
    dfs_oterm_fanin(v, g);
  }
  const std::vector<int> fanin_cone = g.m_appended;
  // B: the fan-out cone of `from`; only membership matters.
  g.build_fanouts();
  g.reset_states();
  for (CDB_SGATE_OTERM* f : from) g.m_state[g.index_of(f)] = GRAPH::ACTIVE;
  std::vector<int> fanout_cone;
  for (CDB_SGATE_OTERM* f : from) {
    const int v = g.index_of(f);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;
    g.m_state[v] = GRAPH::UNVISITED;
    dfs_oterm_fanout(v, g, fanout_cone);
  }
  std::vector<uint8_t> count(size_t(g.size()), 0);
  for (int v : fanin_cone) ++count[v];
  for (int v : fanout_cone) ++count[v];
  for (int v : fanin_cone) {
    if (count[v] == 2) path.push_back(g.oterm(v));
  }
}
