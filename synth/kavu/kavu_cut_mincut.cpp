// kavu_cut_mincut.cpp — minimum cuts, size-bounded cuts and largest-volume
// cuts of fan-in cones, on the split-node network of kavu_cut.cpp.
//
// Model: a cut is a set of terminals every source-to-sink path passes; its
//   volume is the number of driven inputs of the gates it encloses (found by
//   walking back from the sinks without entering the cut). Sinks are
//   uncuttable in every bounded search.
// Searches: the minimum cut nearest the sources is the start. The
//   size-bounded search moves outwards by making the current cut and all it
//   encloses uncuttable until the volume is large enough. The largest-volume
//   searches expand greedily: per pass, each terminal r of the current cut
//   is made uncuttable in turn and the minimum cut of that network is taken;
//   the best expansion of the pass becomes the current cut while the volume
//   strictly grows, so the search ends. The cone's sources are never made
//   uncuttable (that leaves an infinite path and no finite cut).
// Bounds: a flow that must stay within K runs with the limit K + 1, and a
//   flow above K means the cut is too large; a cut is only ever taken from a
//   finished flow, so it separates the sources from the sinks and its size
//   equals the flow. A failure trace shows the minimum cut itself: under
//   kavu_cut_debug a flow stopped by the limit is run to the end for it.
// Traces: every line goes through kavu_debug when kavu_cut_debug is on.
// Cost: each attempt is one maximum flow, O(K · E), and one volume count,
//   linear in the enclosed cone; sets and lists live in the manager's
//   scratch, so an attempt allocates nothing once they have grown.
#include <string>

#include "kavu_check.h"
#include "kavu_cut.h"
#include "kavu_cut_int.h"
#include "kavu_msg.h"
#include "kavu_setup.h"

namespace {

constexpr int INF = KAVU_WVNET_MANAGER::max_capacity;
constexpr size_t TRACE_HEADER_SIZE = 160;

// ---- traces ----
void trace_terminals(const std::string& header, CUT_OTERM_SPAN oterms) {
  if (!kavu_cut_debug) return;
  std::string line = header;
  for (const CDB_SGATE_OTERM* oterm : oterms) {
    line += oterm->get_my_node()->get_debug_name();
    line += ' ';
  }
  kavu_debug("%s", line.c_str());
}

std::string format_text(const char* format, int a, int b = 0) {
  char buffer[TRACE_HEADER_SIZE];
  snprintf(buffer, sizeof(buffer), format, a, b);
  return buffer;
}

void trace_cone(const CUT_CONE& cone) {
  if (!kavu_cut_debug) return;
  trace_terminals(format_text("Sources (%d): ", int(cone.m_sources.size())), cone.m_sources);
  trace_terminals(format_text("Sinks (%d): ", int(cone.m_sinks.size())), cone.m_sinks);
  trace_terminals(format_text("Oterms (%d): ", int(cone.m_oterms.size())), cone.m_oterms);
}

void trace_oterm(const char* format, const CDB_SGATE_OTERM* oterm) {
  if (kavu_cut_debug) kavu_debug(format, oterm->get_my_node()->get_debug_name().c_str());
}

enum CUT_OUTCOME { CUT_FOUND, CUT_NONE, CUT_TOO_BIG };

// The minimum cut nearest the sources under the current capacities, if its
// size is at most max_size. A cut that is too large is still given when the
// traces are on (the flow is then run past the limit), empty otherwise.
CUT_OUTCOME bounded_min_cut(KAVU_WVNET* net, int max_size, CUT_OTERM_VECTOR* cut) {
  const int limit = max_size >= INF - 1 ? INF : max_size + 1;
  const int flow = net->max_flow(limit);
  cut->clear();
  if (flow > max_size) {
    if (kavu_cut_debug) {
      net->max_flow(INF);
      net->extract_cut(cut);
    }
    return CUT_TOO_BIG;
  }
  if (!net->extract_cut(cut)) return CUT_NONE;
  return int(cut->size()) > max_size ? CUT_TOO_BIG : CUT_FOUND;
}

// Everything collected that is not in `keep` becomes uncuttable; returns how
// many capacities changed.
int make_uncuttable(KAVU_WVNET* net, const CUT_OTERM_VECTOR& collected, CUT_OTERM_SPAN keep,
                    PTR_STAMP_TABLE& kept) {
  kept.clear(keep.size());
  for (const CDB_SGATE_OTERM* oterm : keep) kept.insert(oterm, 0);
  int changed = 0;
  for (const CDB_SGATE_OTERM* oterm : collected) {
    KAVU_CHECK(oterm != 0);
    if (kept.contains(oterm)) continue;
    const int i = net->index_of(oterm);
    if (i >= 0 && net->capacity(i) != INF) {
      net->set_capacity(i, INF);
      ++changed;
    }
  }
  return changed;
}

void set_search_capacities(KAVU_WVNET* net, const CUT_CONE& cone) {
  for (const CDB_SGATE_OTERM* oterm : cone.m_oterms) net->set_capacity_of(oterm, 1);
  for (const CDB_SGATE_OTERM* sink : cone.m_sinks) net->set_capacity_of(sink, INF);
}

// The per-size search's result vectors: entry s holds the best cut of s
// terminals found so far and its volume.
void record_per_size(std::vector<KAVU_WVNET_MANAGER::OTERM_LIST>* cuts, std::vector<int>* volumes,
                     const CUT_OTERM_VECTOR& cut, int volume) {
  const int size = int(cut.size());
  if ((*volumes)[size] < volume) {
    (*volumes)[size] = volume;
    assign_list(cut, &(*cuts)[size]);
    if (kavu_cut_debug) kavu_debug("Expansion is best for cut size %d", size);
  } else if (kavu_cut_debug) {
    kavu_debug("Expansion okay but not best");
  }
  trace_terminals(format_text("Min-cut (%d,%d): ", size, volume), cut);
}

void trace_failed_expansion(CUT_OUTCOME outcome, const CUT_OTERM_VECTOR& attempt) {
  if (!kavu_cut_debug) return;
  if (outcome == CUT_NONE) kavu_debug("Expansion failed: no cut found");
  else kavu_debug("Expansion failed: cut size %d is too large", int(attempt.size()));
}

// The greedy expansion of both largest-volume searches, from the cut in
// s.m_current of volume `best_volume` whose enclosed terminals are in
// s.m_enclosed. Per pass each untried terminal of the current cut is made
// uncuttable in turn and the minimum cut of at most `bound` terminals taken;
// `found(attempt, volume, best)` sees every such cut, `best` telling whether
// it is the best of the pass so far. The pass's best becomes the current cut
// while the volume strictly grows. With `retire_failed`, a terminal whose
// expansion fails is not tried again. Returns the volume of the final cut.
template <class FOUND>
int expand_greedily(KAVU_WVNET* net, const CUT_CONE& cone, CUT_SCRATCH& s, int bound, bool retire_failed,
                    int best_volume, FOUND found) {
  CUT_OTERM_VECTOR &current = s.m_current, &attempt = s.m_attempt, &candidate = s.m_candidate;
  // A source made uncuttable leaves an infinite path: never tried.
  s.m_tried.clear(cone.m_sources.size());
  for (const CDB_SGATE_OTERM* source : cone.m_sources) s.m_tried.insert(source, 0);
  while (true) {
    make_uncuttable(net, s.m_enclosed, current, s.m_kept);
    int pass_best = best_volume;
    candidate.clear();
    for (CDB_SGATE_OTERM* r : current) {
      if (s.m_tried.contains(r)) {
        trace_oterm("Skipped oterm %s", r);
        continue;
      }
      trace_oterm("Try to expand cut by not using oterm %s", r);
      const int r_index = net->index_of(r);
      net->set_capacity(r_index, INF);
      const CUT_OUTCOME outcome = bounded_min_cut(net, bound, &attempt);
      if (outcome == CUT_FOUND) {
        const int v = s.m_volume.count(cone.m_sinks, attempt, nullptr);
        const bool best = v > pass_best;
        if (best) {
          candidate = attempt;
          pass_best = v;
          if (kavu_cut_debug) kavu_debug("Expansion is best");
        }
        found(attempt, v, best);
      } else {
        trace_failed_expansion(outcome, attempt);
        if (retire_failed) s.m_tried.insert(r, 0);
      }
      net->set_capacity(r_index, 1);
    }
    if (candidate.empty()) break;
    current.swap(candidate);
    best_volume = s.m_volume.count(cone.m_sinks, current, &s.m_enclosed);
  }
  return best_volume;
}

}  // namespace

// ---------------------------------------------------------------------------
// CUT_VOLUME_COUNTER

int CUT_VOLUME_COUNTER::count(CUT_OTERM_SPAN sinks, CUT_OTERM_SPAN boundary, CUT_OTERM_VECTOR* collected) {
  int volume = 0;
  m_marked.clear(boundary.size() + sinks.size());
  m_stack.clear();
  if (collected) collected->assign(boundary.begin(), boundary.end());
  for (const CDB_SGATE_OTERM* oterm : boundary) m_marked.insert(oterm, 0);
  for (CDB_SGATE_OTERM* sink : sinks) {
    if (m_marked.insert(sink, 0)) m_stack.push_back(sink);
  }
  while (!m_stack.empty()) {
    CDB_SGATE_OTERM* oterm = m_stack.back();
    m_stack.pop_back();
    if (collected) collected->push_back(oterm);
    for (const CDB_SGATE_ITERM* iterm : oterm->get_my_node()->get_input_terms()) {
      CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
      if (!driver) continue;
      ++volume;
      if (m_marked.insert(driver, 0)) m_stack.push_back(driver);
    }
  }
  return volume;
}

// ---------------------------------------------------------------------------

void KAVU_WVNET_MANAGER::kavu_get_mincut(const OTERM_LIST& oterms, const OTERM_LIST& sources,
                                         const OTERM_LIST& sinks, OTERM_LIST* cut,
                                         std::map<CDB_SGATE_OTERM*, int>* capacities,
                                         const std::vector<CDB_SGATE_ITERM*>* iterms) {
  KAVU_CHECK(cut != 0);
  CUT_SCRATCH& s = scratch();
  s.m_cone.assign(oterms, sources, sinks);
  KAVU_WVNET* net = network_for_lists();
  net->build_network(s.m_cone.m_oterms, s.m_cone.m_sources, s.m_cone.m_sinks, iterms);
  if (capacities) {
    for (int i = 0; i < net->num_oterms(); ++i) {
      auto it = capacities->find(net->oterm_at(i));
      if (it != capacities->end()) net->set_capacity(i, it->second);
    }
  }
  net->max_flow(INF);
  net->extract_cut(&s.m_current);
  assign_list(s.m_current, cut);
}

bool KAVU_WVNET_MANAGER::kavu_get_mincut_of_size(const OTERM_LIST& oterms, const OTERM_LIST& sources,
                                                 const OTERM_LIST& sinks, OTERM_LIST* cut, int K, int* volume,
                                                 const int* min_volume) {
  KAVU_CHECK(cut && volume && min_volume);
  KAVU_CHECK(K >= 0);
  cut->clear();
  CUT_SCRATCH& s = scratch();
  const CUT_CONE& cone = s.m_cone;
  s.m_cone.assign(oterms, sources, sinks);
  trace_cone(cone);
  const int total = s.m_volume.count(cone.m_sinks, cone.m_sources, nullptr);
  const int num_sources = int(cone.m_sources.size());
  if (K >= num_sources) {
    if (total < min_volume[num_sources]) {
      if (kavu_cut_debug) kavu_debug("Not enough iterms in the cone (%d)", total);
      return false;
    }
    assign_list(cone.m_sources, cut);
    *volume = total;
    if (kavu_cut_debug) kavu_debug("Sources form small enough cut with enough nodes");
    return true;
  }
  KAVU_WVNET* net = network_for_lists();
  net->build_network(cone.m_oterms, cone.m_sources, cone.m_sinks, nullptr);
  set_search_capacities(net, cone);
  CUT_OTERM_VECTOR& found = s.m_current;
  while (true) {
    const CUT_OUTCOME outcome = bounded_min_cut(net, K, &found);
    trace_terminals(format_text("Cut (%d): ", int(found.size())), found);
    if (outcome == CUT_TOO_BIG) {
      if (kavu_cut_debug) kavu_debug("Cut too big");
      return false;
    }
    if (outcome == CUT_NONE) {
      if (kavu_cut_debug) kavu_debug("No min cut found");
      return false;
    }
    const int v = s.m_volume.count(cone.m_sinks, found, &s.m_enclosed);
    if (v >= min_volume[found.size()]) {
      *volume = v;
      assign_list(found, cut);
      if (kavu_cut_debug) kavu_debug("Happy: found %d iterms and cut %d", v, int(found.size()));
      return true;
    }
    // Whole cone enclosed, or nothing left to make uncuttable: no cut further out.
    if (s.m_enclosed.size() == cone.m_oterms.size() ||
        make_uncuttable(net, s.m_enclosed, cone.m_sources, s.m_kept) == 0) {
      if (kavu_cut_debug) kavu_debug("Min cut equals sources but still too small");
      return false;
    }
    trace_terminals(format_text("Not happy: %d iterms: ", v), s.m_enclosed);
  }
}

bool KAVU_WVNET_MANAGER::largest_volume_single(const CUT_CONE& cone, int K, OTERM_LIST* cut, int* volume,
                                               bool on_built_network) {
  KAVU_CHECK(cut && volume);
  cut->clear();
  CUT_SCRATCH& s = scratch();
  trace_cone(cone);
  if (int(cone.m_sources.size()) <= K) {
    assign_list(cone.m_sources, cut);
    *volume = s.m_volume.count(cone.m_sinks, cone.m_sources, nullptr);
    if (kavu_cut_debug)
      kavu_debug("Sources form cut of size %d with %d iterms. Done.", int(cone.m_sources.size()), *volume);
    return true;
  }
  KAVU_WVNET* net = on_built_network ? network_for_graph(cone) : network_for_lists();
  if (!on_built_network) net->build_network(cone.m_oterms, cone.m_sources, cone.m_sinks, nullptr);
  set_search_capacities(net, cone);

  CUT_OTERM_VECTOR& current = s.m_current;
  const CUT_OUTCOME first = bounded_min_cut(net, K, &current);
  if (first == CUT_NONE) {
    if (kavu_cut_debug) kavu_debug("No min cut found");
    return false;
  }
  if (first == CUT_TOO_BIG) {
    trace_terminals(format_text("Initial min-cut failed (%d): ", int(current.size())), current);
    return false;
  }
  int best_volume = s.m_volume.count(cone.m_sinks, current, &s.m_enclosed);
  trace_terminals(format_text("Initial min-cut passed (%d,%d): ", int(current.size()), best_volume), current);
  best_volume = expand_greedily(net, cone, s, K, true, best_volume,
                                [](const CUT_OTERM_VECTOR& attempt, int v, bool best) {
                                  if (!best && kavu_cut_debug) kavu_debug("Expansion okay but not best");
                                  trace_terminals(format_text("Min-cut (%d,%d): ", int(attempt.size()), v), attempt);
                                });
  trace_terminals(format_text("Best min cut (%d,%d): ", int(current.size()), best_volume), current);
  assign_list(current, cut);
  *volume = best_volume;
  return true;
}

bool KAVU_WVNET_MANAGER::largest_volume_per_size(const CUT_CONE& cone, int K, int M, std::vector<OTERM_LIST>* cuts,
                                                 std::vector<int>* volumes, bool on_built_network) {
  CUT_SCRATCH& s = scratch();
  trace_cone(cone);
  const int num_sources = int(cone.m_sources.size());
  if (num_sources <= K) {
    assign_list(cone.m_sources, &(*cuts)[num_sources]);
    (*volumes)[num_sources] = s.m_volume.count(cone.m_sinks, cone.m_sources, nullptr);
    if (kavu_cut_debug)
      kavu_debug("Sources form cut of size %d with %d iterms. Done.", num_sources, (*volumes)[num_sources]);
    return true;
  }
  KAVU_WVNET* net = on_built_network ? network_for_graph(cone) : network_for_lists();
  if (!on_built_network) net->build_network(cone.m_oterms, cone.m_sources, cone.m_sinks, nullptr);
  set_search_capacities(net, cone);

  CUT_OTERM_VECTOR &current = s.m_current, &attempt = s.m_attempt;
  const CUT_OUTCOME first = bounded_min_cut(net, M, &current);
  if (first != CUT_FOUND) {
    if (kavu_cut_debug) {
      if (first == CUT_NONE) kavu_debug("No min cut found");
      else trace_terminals(format_text("Initial min-cut failed (%d): ", int(current.size())), current);
      kavu_debug("Did not find min cut");
    }
    return false;
  }
  int best_volume = s.m_volume.count(cone.m_sinks, current, &s.m_enclosed);
  (*volumes)[current.size()] = best_volume;
  assign_list(current, &(*cuts)[current.size()]);
  trace_terminals(format_text("Initial min-cut passed (%d,%d): ", int(current.size()), best_volume), current);
  expand_greedily(net, cone, s, M, false, best_volume, [cuts, volumes](const CUT_OTERM_VECTOR& attempt, int v, bool) {
    record_per_size(cuts, volumes, attempt, v);
  });
  if (kavu_cut_debug) {
    for (int size = 0; size <= M; ++size) {
      const OTERM_LIST& entry = (*cuts)[size];
      if (entry.empty()) {
        kavu_debug("No min cut of size %d", size);
      } else {
        attempt.assign(entry.begin(), entry.end());
        trace_terminals(format_text("Best min cut (%d,%d): ", size, (*volumes)[size]), attempt);
      }
    }
  }
  return true;
}

bool KAVU_WVNET_MANAGER::kavu_get_largest_volume_mincut_of_size(const OTERM_LIST& oterms, const OTERM_LIST& sources,
                                                                const OTERM_LIST& sinks, int K, int M,
                                                                std::vector<OTERM_LIST>* cuts,
                                                                std::vector<int>* volumes, bool on_built_network) {
  KAVU_CHECK(cuts != 0 && volumes != 0);
  KAVU_CHECK(K >= 0 && K <= M);
  cuts->assign(M + 1, OTERM_LIST());
  volumes->assign(M + 1, 0);
  CUT_CONE& cone = scratch().m_cone;
  cone.assign(oterms, sources, sinks);
  return largest_volume_per_size(cone, K, M, cuts, volumes, on_built_network);
}

bool KAVU_WVNET_MANAGER::kavu_get_largest_volume_mincut_of_size(
    std::vector<CDB_SGATE_OTERM*>& heads, int depth, int K, int M, std::vector<OTERM_LIST>* cuts,
    std::vector<int>* volumes, bool through_moded_lcells, bool through_lcells, bool through_normal_lcells,
    bool through_operators, bool through_wide_gates) {
  KAVU_CHECK(cuts != 0 && volumes != 0);
  KAVU_CHECK(K >= 0 && K <= M);
  cuts->assign(M + 1, OTERM_LIST());
  volumes->assign(M + 1, 0);
  const CUT_WALK_FLAGS flags = cut_walk_flags(through_moded_lcells, through_lcells, through_normal_lcells,
                                              through_operators, through_wide_gates, m_allow_through_quellin);
  CUT_CONE& cone = scratch().m_cone;
  bounded_walk(heads, depth, flags, nullptr, cone);
  return largest_volume_per_size(cone, K, M, cuts, volumes, false);
}

bool KAVU_WVNET_MANAGER::kavu_get_largest_volume_mincut_of_size(
    CDB_SGATE_OTERM* head, int depth, int K, int M, std::vector<OTERM_LIST>* cuts, std::vector<int>* volumes,
    bool through_moded_lcells, bool through_lcells, bool through_normal_lcells, bool through_operators,
    bool through_wide_gates) {
  std::vector<CDB_SGATE_OTERM*> heads(1, head);
  return kavu_get_largest_volume_mincut_of_size(heads, depth, K, M, cuts, volumes, through_moded_lcells,
                                                through_lcells, through_normal_lcells, through_operators,
                                                through_wide_gates);
}

bool KAVU_WVNET_MANAGER::kavu_get_largest_volume_mincut_of_size(CDB_SGATE_OTERM* head, int depth, int K,
                                                                OTERM_LIST* cut, int* volume,
                                                                bool through_moded_lcells, bool through_lcells,
                                                                bool through_operators, bool through_wide_gates) {
  const CUT_WALK_FLAGS flags = cut_walk_flags(through_moded_lcells, through_lcells, false, through_operators,
                                              through_wide_gates, m_allow_through_quellin);
  CUT_CONE& cone = scratch().m_cone;
  CDB_SGATE_OTERM* heads[] = {head};
  bounded_walk(heads, depth, flags, nullptr, cone);
  return largest_volume_single(cone, K, cut, volume, false);
}

bool KAVU_WVNET_MANAGER::kavu_get_largest_volume_mincut_of_size_for_graph(int K, OTERM_LIST* cut, int* volume) {
  KAVU_CHECK(m_graph_initialized);
  CUT_CONE& cone = scratch().m_cone;
  cone.assign(m_oterm_list, m_sources, m_sinks);
  return largest_volume_single(cone, K, cut, volume, true);
}
