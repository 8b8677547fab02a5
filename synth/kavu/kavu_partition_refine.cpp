// kavu_partition_refine.cpp — the second half of a partitioning run:
// refinement of partitions that are too big, merging of small and related
// partitions, boundary gates on the remaining cuts, and the size report.
//
// Refinement runs at cut level 2 and, when a partition stays stuck above the
//   split-advance size, at level 3: it cuts the output terminals of a
//   too-big partition whose cuttable fan-out reaches a percentile threshold
//   and regrows the partition's components under new ids.
// Merging is a union-find over partition ids (dense vectors, path
//   compression; only roots carry a size) at levels 0 (shared input, same
//   gate, same inputs), 1 (shared input, comb-like), 2 (reconvergence),
//   4 (adjacent) and 5 (small partitions, largest first, each with the
//   largest partner that fits; the merged partition takes the partner's id).
// Boundaries: a cut signal leaves its partition through one output boundary
//   and enters each other partition through one input boundary; every sink
//   keeps the inversion it had through its cut buffer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <set>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "kavu_helper_gate_create.h"
#include "kavu_msg.h"
#include "kavu_ops.h"
#include "kavu_partition_int.h"
#include "kavu_setup.h"
#include "kavu_stats.h"
#include "kavu_wiring_helper.h"

using namespace kavu_partition_detail;

namespace {

CDB_SGATE_NODE* get_node_behind_cut_buffer(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(kavu_is_a_silly_buffer(sgate));
  const CDB_SGATE_OTERM* o = first_oterm(sgate);
  CDB_SGATE_NODE* return_node = (o && o->get_first_fanout()) ? o->get_first_fanout()->get_my_node() : nullptr;
  KAVU_CHECK(return_node);
  return return_node;
}

int get_partition_id_through_cut(const CDB_SGATE_NODE* node) {
  return kavu_is_a_silly_buffer(node) ? pid(get_node_behind_cut_buffer(node)) : pid(node);
}

// The gate driving a gate's first input, or null.
CDB_SGATE_NODE* driver_of(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_ITERM* t = node->get_input_term(0);
  return (t && t->get_source()) ? t->get_source()->get_my_node() : nullptr;
}

bool is_comb_like(const CDB_SGATE_NODE* n) { return kavu_is_a_comb(n) || kavu_is_a_mux(n) || kavu_is_a_op(n); }

struct RUN_SWITCHES {
  bool m_read = false;
  bool m_skip_share = false, m_skip_adjacent = false, m_skip_irrelevant = false, m_skip_reconverge = false;
};
constinit RUN_SWITCHES g_merge_switches;  // read by partitioning, which holds the flow's turn
RUN_SWITCHES& merge_switches() {
  RUN_SWITCHES& s = g_merge_switches;
  if (!s.m_read) {
    s.m_read = true;
    s.m_skip_share = cfg_is_on("kavu_skip_merging_share_input", false);
    s.m_skip_adjacent = cfg_is_on("kavu_skip_merging_adjacent", false);
    s.m_skip_irrelevant = cfg_is_on("kavu_skip_merging_irrelevant", false);
    s.m_skip_reconverge = cfg_is_on("kavu_skip_merging_reconverge", false);
  }
  return s;
}

}  // namespace

namespace kavu_partition_detail {

void reset_merge_switches() { merge_switches().m_read = false; }

// ---------------------------------------------------------------- info map

void create_partition_to_info_map(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "create_partition_to_info_map");
  state->m_partition_info.clear();
  std::vector<KAVU_PARTITION_INFO*> by_id(size_t(g_partition_id) + 1);
  for (int id = 0; id <= g_partition_id; ++id)
    by_id[id] = &state->m_partition_info.emplace_hint(state->m_partition_info.end(), id, KAVU_PARTITION_INFO())->second;
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n || kavu_is_a_silly_buffer(n) || !labellable(n)) continue;
    KAVU_PARTITION_INFO& info = *by_id[pid(n)];
    info.nodes.push_back(n);
    ++info.size;
  }
}

namespace {

void update_partition_to_info_map(KAVU_PARTITIONER_STATE* state, int p) {
  GEN_PROFILER profiler("KAVU", "update_partition_to_info_map");
  KAVU_PARTITION_INFO* partition_info_ptr = &state->m_partition_info[p];
  for (CDB_SGATE_NODE* sgate : partition_info_ptr->nodes) {
    KAVU_CHECK(sgate);
    const int id = pid(sgate);
    if (id == p) continue;
    KAVU_PARTITION_INFO& to = state->m_partition_info[id];
    to.nodes.push_back(sgate);
    ++to.size;
    --partition_info_ptr->size;
  }
  KAVU_CHECK(partition_info_ptr->size == 0);
  partition_info_ptr->nodes.clear();
}

}  // namespace

// ---------------------------------------------------------------- refinement

int split_threshold_of(std::vector<int> fanouts, int percentile, int min_threshold, int partition) {
  long long total = 0;
  for (int f : fanouts) total += f;
  if (total == 0) {
    kavu_debug_at_level(3,
                        "Total fanout (that we are allowed to cut) is 0, so we cannot cut on sum fanout! Setting "
                        "threshold to -1.");
    return -1;
  }
  std::sort(fanouts.begin(), fanouts.end(), std::greater<int>());
  const long long cut_sum = (long long)percentile * total / 100;
  kavu_debug_at_level(3, "Total fanout = %d, cutting on sum fanout %d", int(total), int(cut_sum));
  size_t index = 0;
  if (cut_sum > 0) {
    long long running = 0;
    for (size_t i = 0; i < fanouts.size(); ++i) {
      running += fanouts[i];
      index = i;
      if (running >= cut_sum) break;
    }
  }
  int threshold = fanouts[index];
  kavu_debug_at_level(3,
                      "Fanout vec size = %d. index for threshold = %d. Computed fanout threshold = %d for partition %d. "
                      "Largest fanout = %d, smallest fanout = %d",
                      int(fanouts.size()), int(index), threshold, partition, fanouts.front(), fanouts.back());
  if (threshold < min_threshold) {
    if (fanouts.front() < min_threshold) {
      kavu_debug_at_level(3, "Computed threshold %d is too small. Change to -1", threshold);
      return -1;
    }
    kavu_debug_at_level(3, "Computed threshold %d is too small. Change to %d", threshold, min_threshold);
    threshold = min_threshold;
  }
  return threshold;
}

int compute_split_fanout_threshold(KAVU_PARTITIONER_STATE* state, int p, int level) {
  GEN_PROFILER profiler("KAVU", "compute_split_fanout_threshold");
  const int pct = cfg_get_int_value("kavu_cut_percentile", 20);
  std::vector<int> fanouts;
  for (CDB_SGATE_NODE* n : state->m_partition_info[p].nodes) {
    if (kavu_is_a_silly_buffer(n)) continue;
    for (unsigned oi = 0; oi < n->get_output_count(); ++oi) {
      const CDB_SGATE_OTERM* o = n->get_output_term(oi);
      if (!o) continue;
      int cuttable = 0;
      for (const CDB_SGATE_ITERM* t : o->fanouts()) {
        const CDB_SGATE_NODE* s = t->get_my_node();
        if (kavu_is_a_silly_buffer(s) || !labellable(s) || state->cut_level(t) >= level) continue;
        if (pid(s) != p) {
          kavu_debug("This really can't happen. Fanout of %s %s to %s %s crosses partitions",
                     n->get_string_type_name(), n->get_debug_name().c_str(), s->get_string_type_name(),
                     s->get_debug_name().c_str());
          KAVU_INTERNAL_ERROR("Partition bug. check debug messages.");
        }
        ++cuttable;
      }
      if (cuttable > 0) fanouts.push_back(cuttable);
    }
  }
  return split_threshold_of(fanouts, pct, g_partition_min_fanout_threshold, p);
}

namespace {

bool split_fanout(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist, int p, int threshold, int level) {
  GEN_PROFILER profiler("KAVU", "split_fanout");
  KAVU_CHECK(threshold > 1);
  bool cut = false;
  std::vector<CDB_SGATE_ITERM*> collected;
  std::vector<CDB_SGATE_NODE*>& nodes = state->m_partition_info[p].nodes;
  for (size_t k = 0; k < nodes.size(); ++k) {
    CDB_SGATE_NODE* n = nodes[k];
    if (kavu_is_a_silly_buffer(n)) continue;
    for (unsigned oi = 0; oi < n->get_output_count(); ++oi) {
      CDB_SGATE_OTERM* o = n->get_output_term(oi);
      if (!o || int(o->get_number_of_fanout()) < threshold) continue;
      collected.clear();
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        const CDB_SGATE_NODE* s = t->get_my_node();
        if (!kavu_is_a_silly_buffer(s) && labellable(s) && !state->is_protected(t, level) && pid(s) == p)
          collected.push_back(t);
      }
      for (CDB_SGATE_ITERM* t : collected) insert_cut_buffer(o, t, netlist);
      cut = cut || !collected.empty();
    }
  }
  return cut;
}

void recompute_connected_components(KAVU_PARTITIONER_STATE* state, int p) {
  GEN_PROFILER profiler("KAVU", "recompute_connected_components");
  const int last = g_partition_id;
  const GROW_KEYS keys = GROW_KEYS::read();
  for (CDB_SGATE_NODE* n : state->m_partition_info[p].nodes) {
    if (kavu_is_a_silly_buffer(n) || pid(n) > last) continue;
    ++g_partition_id;
    grow_partition_with(keys, n, state, false);
  }
  kavu_debug("Split partition %d of size %d into %d new partitions (%d-%d)", p, state->m_partition_info[p].size,
             g_partition_id - last, last + 1, g_partition_id);
}

// -1: not split (threshold below 2); 0: regrown without a cut; 1: cut and
// regrown. Whenever the partition was regrown its ids changed, so the
// caller updates the info map in both of the last two cases.
int split_partition(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist, int p, int level) {
  GEN_PROFILER profiler("KAVU", "split_partition");
  kavu_debug("Partition %d of size %d is too big. Try splitting on fanout", p, state->m_partition_info[p].size);
  const int threshold = compute_split_fanout_threshold(state, p, level);
  if (threshold < 2) return -1;
  const bool cut = split_fanout(state, netlist, p, threshold, level);
  recompute_connected_components(state, p);
  return cut ? 1 : 0;
}

void compute_split_advance_size(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist) {
  const std::vector<CDB_SGATE_NODE*> nodes = node_snapshot(netlist);
  const GROW_KEYS keys = GROW_KEYS::read();
  for (int pass = 0; pass < 2; ++pass) {
    const int last = g_partition_id;
    for (CDB_SGATE_NODE* n : nodes) {
      if (kavu_is_a_silly_buffer(n) || !labellable(n) || pid(n) > last) continue;
      ++g_partition_id;
      const int size = grow_partition_with(keys, n, state, pass == 0);
      if (pass == 0 && size > g_partition_size_advance) g_partition_size_advance = 11 * size / 10;
    }
  }
  kavu_debug("Partition size for splitting to advance to the next cut level = %d.", g_partition_size_advance);
}

}  // namespace

bool refine_partitions(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "refine_partitions");
  const bool allow = cfg_is_on("kavu_partition_allow_limited_cut_cutting", true);
  const bool conservative = cfg_is_on("kavu_conservative_splitting", false);
  const int last_level = allow ? 3 : 2;
  if (conservative) compute_split_advance_size(state, netlist);
  create_partition_to_info_map(state, netlist);
  bool stuck = false;
  for (int level = 2; level <= last_level; ++level) {
    if (level > 2 && !stuck) break;
    stuck = false;
    int p = 1, too_big = 0, split = 0;
    kavu_debug("---- Entering fanout refinement for cut level %d ------", level);
    bool again = true;
    while (again) {
      again = false;
      const int last = g_partition_id;
      kavu_debug("==================================================");
      for (int id = p; id <= last; ++id) {
        KAVU_PARTITION_INFO& info = state->m_partition_info[id];
        if (g_partitioner_dump_msg) {
          char title[32];
          snprintf(title, sizeof title, "PART_%d", id);
          KAVU_STATS().report_on_node_vec(&info.nodes, title);
        }
        if (info.size <= g_partition_size_max) {
          if (g_partitioner_dump_msg) kavu_debug("Partition %d of size %d is small enough", id, info.size);
          continue;
        }
        ++too_big;
        const int size = info.size;
        const int result = split_partition(state, netlist, id, level);
        if (result >= 0) update_partition_to_info_map(state, id);
        if (result == 1) {
          ++split;
          again = true;
        } else if (size > g_partition_size_advance) {
          stuck = true;
        }
      }
      p = last + 1;
    }
    kavu_debug("---- Cut level %d: Found %d partitions that were too big. Split %d. %s", level, too_big, split,
               !stuck ? "Fixed all"
                      : (level < last_level ? "Continue at next cut level" : "Some left that can't be fixed"));
  }
  return stuck;
}

// ---------------------------------------------------------------- merging

int find_root(std::vector<int>& parent, int id) {
  int root = id;
  while (parent[root] != root) root = parent[root];
  while (parent[id] != root) {
    const int next = parent[id];
    parent[id] = root;
    id = next;
  }
  return root;
}

int merge_small_partitions(std::vector<int>& parent, std::vector<int>& size) {
  // Largest size first; among equal sizes the largest id first.
  struct ORDER {
    bool operator()(const std::pair<int, int>& a, const std::pair<int, int>& b) const {
      if (a.second != b.second) return a.second > b.second;
      return a.first > b.first;
    }
  };
  std::set<std::pair<int, int>, ORDER> pairs;
  for (size_t i = 1; i < size.size(); ++i)
    if (size[i] >= 1 && size[i] < g_partition_size_min) pairs.insert({int(i), size[i]});
  int merges = 0;
  while (pairs.size() >= 2) {
    const std::pair<int, int> first = *pairs.begin();
    const int pid1 = first.first, s1 = first.second;
    const int real_pid1 = find_root(parent, pid1);
    KAVU_CHECK(pid1 == real_pid1);
    const int limit = std::min(s1, g_partition_size_max - s1);
    auto partner = pairs.upper_bound({pid1, limit});
    if (partner == pairs.end()) {
      pairs.erase(pairs.begin());
      continue;
    }
    const int pid2 = partner->first;
    const int size_sum = s1 + partner->second;
    KAVU_CHECK(size_sum <= g_partition_size_max);
    const int real_pid2 = find_root(parent, pid2);
    KAVU_CHECK(pid2 == real_pid2);
    size[pid1] = 0;
    size[pid2] = size_sum;
    parent[pid1] = pid2;
    pairs.erase(partner);
    pairs.erase(pairs.begin());
    pairs.insert({pid2, size_sum});
    ++merges;
  }
  return merges;
}

}  // namespace kavu_partition_detail

namespace {

class MERGER {
 public:
  // One walk of the list: the labelled gates other than cut buffers with
  // their ids (merging changes only the union-find, so the ids hold until
  // relabel), the cut buffers, and each id's size.
  explicit MERGER(CDB_SGATE_NETLIST* netlist) {
    m_parent.resize(g_partition_id + 1);
    m_size.assign(g_partition_id + 1, 0);
    for (int i = 0; i <= g_partition_id; ++i) m_parent[i] = i;
    m_gates.reserve(netlist->size());
    for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* n = *it;
      if (!n) continue;
      if (kavu_is_a_silly_buffer(n)) {
        m_buffers.push_back(n);
        continue;
      }
      CDB_SGATE_OTERM* o = first_oterm(n);
      if (!o) continue;
      m_gates.push_back({n, o, o->get_aux()});
      ++m_size[size_t(o->get_aux())];
    }
    m_size[0] = 0;
  }

  int root(int id) { return find_root(m_parent, id); }
  int root_across(const CDB_SGATE_NODE* n) { return root(get_partition_id_through_cut(n)); }

  void run_level(int level) {
    char scope[64];
    snprintf(scope, sizeof scope, "kavu_merge_partitions_at_level_%d", level);
    GEN_PROFILER profiler("KAVU", scope);
    int live = 0;
    for (size_t i = 1; i < m_size.size(); ++i) live += m_size[i] >= 1;
    kavu_debug("Before level %d merging: %d partitions", level, live);
    int merges = 0;
    switch (level) {
      case 0: merges = shared_input(false, true, true); break;
      case 1: merges = shared_input(true, false, false); break;
      case 2: merges = reconvergent(); break;
      case 3: merges = shared_input(false, false, false); break;
      case 4: merges = adjacent(); break;
      case 5: merges = merge_small_partitions(m_parent, m_size); break;
      default: KAVU_INTERNAL_ERROR("WARNING: Unknown merge level!");
    }
    kavu_debug("Level %d performed %d merges", level, merges);
  }

  void relabel() {
    for (const GATE& g : m_gates)
      if (g.pid > 0) g.oterm->set_aux(root(g.pid));
  }
  // The cut buffers in list order, as the walk found them, each with whether
  // the ids on its two sides ended as one (after relabel).
  void take_cuts(KAVU_CUT_LIST* cuts) {
    cuts->one_side.assign(m_buffers.size(), -1);
    for (size_t k = 0; k < m_ends.size(); ++k)
      if (m_ends[k].first > 0 && m_ends[k].second > 0)
        cuts->one_side[k] = root(m_ends[k].first) == root(m_ends[k].second) ? 1 : 0;
    cuts->buffers = std::move(m_buffers);
  }

 private:
  // The readers of every output terminal with 2 to 99 readers of every gate
  // in m_gates, each seen through its cut buffer, with the id of the gate
  // it stands for; made once for the shared-input levels (ids do not change
  // while merging).
  struct READER {
    CDB_SGATE_NODE* node;  // the reader, or the gate behind it when it is a cut buffer
    int pid;               // node's id; 0 when node carries none
    bool labelled;         // node has an output terminal
    bool through_cut;      // the reader was a cut buffer
  };
  void collect_readers() {
    if (m_readers_made) return;
    m_readers_made = true;
    for (uint32_t gi = 0; gi < m_gates.size(); ++gi) {
      const CDB_SGATE_NODE* n = m_gates[gi].node;
      for (unsigned oi = 0; oi < n->get_output_count(); ++oi) {
        const CDB_SGATE_OTERM* o = n->get_output_term(oi);
        if (!o || o->get_number_of_fanout() < 2 || o->get_number_of_fanout() > 99) continue;
        m_groups.push_back({gi, uint32_t(m_readers.size())});
        for (const CDB_SGATE_ITERM* t : o->fanouts()) {
          CDB_SGATE_NODE* b = t->get_my_node();
          const bool cut = kavu_is_a_silly_buffer(b);
          CDB_SGATE_NODE* x = cut ? get_node_behind_cut_buffer(b) : b;
          const CDB_SGATE_OTERM* xo = first_oterm(x);
          m_readers.push_back({x, xo ? xo->get_aux() : 0, xo != nullptr, cut});
        }
      }
    }
    m_groups.push_back({uint32_t(m_gates.size()), uint32_t(m_readers.size())});
  }

  int shared_input(bool comb_only, bool check_same_type, bool check_inputs) {
    KAVU_CHECK(check_same_type == check_inputs);
    collect_readers();
    int merges = 0;
    uint32_t gate = UINT32_MAX;
    int r = 0;
    for (size_t gr = 0; gr + 1 < m_groups.size(); ++gr) {
      if (m_groups[gr].gate != gate) {
        gate = m_groups[gr].gate;
        r = root(m_gates[gate].pid);
      }
      const READER* first = m_readers.data() + m_groups[gr].begin;
      const READER* last = m_readers.data() + m_groups[gr + 1].begin;
      for (const READER* i1 = first; i1 != last; ++i1) {
        if (!i1->through_cut) continue;
        CDB_SGATE_NODE* a = i1->node;
        const int r1 = root(i1->pid);
        if (r1 == r) continue;
        int s1 = m_size[r1];
        for (const READER* i2 = first; i2 != last; ++i2) {
          if (s1 >= g_partition_size_min) break;
          CDB_SGATE_NODE* t = i2->node;
          if (!i2->labelled) continue;
          const int r2 = root(i2->pid);
          if (r2 == r1 || m_size[r2] + s1 >= g_partition_size_max) continue;
          if (comb_only && !(is_comb_like(a) && is_comb_like(t))) continue;
          if (check_same_type && !kavu_same_kind_of_gate(a, t)) continue;
          if (check_inputs && !kavu_same_inputs(a, t)) continue;
          m_size[r1] = m_size[r2] + s1;
          m_size[r2] = 0;
          m_parent[r2] = r1;
          s1 = m_size[r1];
          ++merges;
        }
      }
    }
    return merges;
  }

  int reconvergent() {
    int merges = 0;
    for (const GATE& g : m_gates) {
      CDB_SGATE_NODE* n = g.node;
      if (!is_comb_like(n)) continue;
      const int r = root(g.pid);
      int s = m_size[r];
      for (unsigned ii = 0; ii < n->get_number_of_input_terms() && s < g_partition_size_max; ++ii) {
        const CDB_SGATE_ITERM* i = n->get_input_term(ii);
        if (!i || !i->get_source() || !kavu_is_a_silly_buffer(i->get_source()->get_my_node())) continue;
        CDB_SGATE_NODE* src = driver_of(i->get_source()->get_my_node());
        if (!src || !is_comb_like(src)) continue;
        const int rs = root_across(src);
        if (rs == r || m_size[rs] + s >= g_partition_size_max) continue;
        for (unsigned jj = 0; jj < n->get_number_of_input_terms(); ++jj) {
          const CDB_SGATE_ITERM* j = n->get_input_term(jj);
          if (!j || !j->get_source() || !kavu_is_a_silly_buffer(j->get_source()->get_my_node())) continue;
          CDB_SGATE_NODE* src2 = driver_of(j->get_source()->get_my_node());
          if (!src2 || src2 == src || root_across(src2) != rs) continue;
          s += m_size[rs];
          m_size[r] = s;
          m_size[rs] = 0;
          m_parent[rs] = r;
          ++merges;
          break;
        }
      }
    }
    return merges;
  }

  int adjacent() {
    int merges = 0;
    m_ends.assign(m_buffers.size(), {0, 0});
    for (size_t k = 0; k < m_buffers.size(); ++k) {
      CDB_SGATE_NODE* b = m_buffers[k];
      if (!first_oterm(b)->has_fanout()) continue;
      CDB_SGATE_NODE* s = driver_of(b);
      if (!s || !labellable(s)) continue;
      CDB_SGATE_NODE* t = get_node_behind_cut_buffer(b);
      // The ids of the two sides, kept for the boundary step when both are
      // plain gates (their ids then follow the merges through relabel).
      const int ps = get_partition_id_through_cut(s), pt = get_partition_id_through_cut(t);
      if (!kavu_is_a_silly_buffer(s) && !kavu_is_a_silly_buffer(t)) m_ends[k] = {ps, pt};
      const int rs = root(ps);
      const int rt = root(pt);
      if (rs == rt) continue;
      const int sum = m_size[rs] + m_size[rt];
      if ((m_size[rs] < g_partition_size_min || m_size[rt] < g_partition_size_min) && sum < g_partition_size_max) {
        m_size[rt] = sum;
        m_size[rs] = 0;
        m_parent[rs] = rt;
        ++merges;
      }
    }
    return merges;
  }

  struct GATE {
    CDB_SGATE_NODE* node;
    CDB_SGATE_OTERM* oterm;  // the gate's first output terminal, which carries its id
    int pid;
  };
  std::vector<int> m_parent;
  std::vector<int> m_size;
  struct GROUP {
    uint32_t gate;   // index in m_gates
    uint32_t begin;  // first reader in m_readers; the next group's begin ends it
  };
  std::vector<GATE> m_gates;
  std::vector<CDB_SGATE_NODE*> m_buffers;
  std::vector<std::pair<int, int>> m_ends;  // per cut buffer: the ids of its driver and its reader; 0: not read
  bool m_readers_made = false;
  std::vector<GROUP> m_groups;  // ends with a sentinel group
  std::vector<READER> m_readers;
};

}  // namespace

namespace kavu_partition_detail {

void merge_partitions(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist, KAVU_CUT_LIST* cuts) {
  GEN_PROFILER profiler("KAVU", "merge_partitions");
  const RUN_SWITCHES& sw = merge_switches();
  // Merging needs the partitions' sizes only, which the merger counts.
  state->m_partition_info.clear();
  MERGER merger(netlist);
  if (!sw.m_skip_share) {
    merger.run_level(0);
    merger.run_level(1);
  }
  if (!sw.m_skip_reconverge) merger.run_level(2);
  if (!sw.m_skip_adjacent) merger.run_level(4);
  if (!sw.m_skip_irrelevant) merger.run_level(5);
  merger.relabel();
  if (cuts) merger.take_cuts(cuts);
}

}  // namespace kavu_partition_detail

// ---------------------------------------------------------------- gate comparisons

bool kavu_same_kind_of_gate(CDB_SGATE_NODE* sgate_a, CDB_SGATE_NODE* sgate_b) {
  KAVU_CHECK(sgate_a && sgate_b);
  if (sgate_a->get_sgate_type() != sgate_b->get_sgate_type()) return false;
  if (kavu_is_a_lut(sgate_a))
    return sgate_a->cast_to_lut()->get_lut_mask() == sgate_b->cast_to_lut()->get_lut_mask();
  if (kavu_is_a_comb(sgate_a)) return sgate_a->cast_to_comb()->get_comb_type() == sgate_b->cast_to_comb()->get_comb_type();
  if (kavu_is_a_op(sgate_a))
    return kavu_same_type_of_op(sgate_a, sgate_b) && kavu_ops_use_same_modes(sgate_a, sgate_b);
  return true;
}

namespace {

// A terminal driven by a silly buffer stands for the buffer's own input.
const CDB_SGATE_ITERM* through_cut(const CDB_SGATE_ITERM* t) {
  if (t && t->get_source() && kavu_is_a_silly_buffer(t->get_source()->get_my_node()))
    return t->get_source()->get_my_node()->get_input_term(0);
  return t;
}

bool terms_match(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b) {
  const bool ca = a && cdb_is_connected(a), cb = b && cdb_is_connected(b);
  if (!ca || !cb) return ca == cb;
  return kavu_same_source(through_cut(a), through_cut(b));
}

}  // namespace

bool kavu_same_inputs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  if (!kavu_same_kind_of_gate(a, b)) return false;
  if (kavu_is_a_op(a)) {
    CDB_SGATE_OPERATOR* op_a = a->cast_to_operator();
    CDB_SGATE_OPERATOR* op_b = b->cast_to_operator();
    auto pa = op_a->begin_const_port_entry_table(), pb = op_b->begin_const_port_entry_table();
    if (op_a->end_const_port_entry_table() - pa != op_b->end_const_port_entry_table() - pb) return false;
    for (; pa != op_a->end_const_port_entry_table(); ++pa, ++pb) {
      const CDB_SGATE_OPER_PORT_ENTRY* port_a = *pa;
      const CDB_SGATE_OPER_PORT_ENTRY* port_b = *pb;
      KAVU_CHECK(port_a->get_type() == port_b->get_type());
      KAVU_CHECK(port_a->get_dir() == port_b->get_dir());
      if (port_a->get_dir() != CDB_OPER_PORT_DIR_IN) continue;
      if (port_a->get_width() != port_b->get_width()) return false;
      for (unsigned i = 0; i < port_a->get_width(); ++i)
        if (!terms_match(port_a->get_iterm(i), port_b->get_iterm(i))) return false;
    }
    return true;
  }
  if (a->get_number_of_input_terms() != b->get_number_of_input_terms()) return false;
  for (unsigned i = 0; i < a->get_number_of_input_terms(); ++i)
    if (!terms_match(a->get_input_term(i), b->get_input_term(i))) return false;
  return true;
}

// ---------------------------------------------------------------- boundaries

namespace {

// Removes cut buffers whose two sides ended in one partition; where merging
// read both sides' ids, its answer stands for reading them again.
bool remove_redundant_cuts(const KAVU_CUT_LIST& cuts) {
  bool changed = false;
  for (size_t k = 0; k < cuts.buffers.size(); ++k) {
    CDB_SGATE_NODE* b = cuts.buffers[k];
    CDB_SGATE_OTERM* oterm = first_oterm(b);
    KAVU_CHECK(oterm);
    if (!oterm->has_fanout()) continue;
    if (cuts.one_side[k] >= 0) {
      if (cuts.one_side[k] == 1) {
        kavu_excise_buffer(b);
        changed = true;
      }
      continue;
    }
    CDB_SGATE_ITERM* iterm = b->get_single_iterm();
    KAVU_CHECK(iterm);
    CDB_SGATE_OTERM* src_oterm = iterm->get_source();
    KAVU_CHECK(src_oterm);
    if (pid(src_oterm->get_my_node()) == pid(oterm->get_first_fanout()->get_my_node())) {
      kavu_excise_buffer(b);
      changed = true;
    }
  }
  return changed;
}

// One output boundary for the signal of B's source, one input boundary per
// sink partition; every cut buffer of that signal goes away.
void make_boundaries(CDB_SGATE_NODE* b, CDB_SGATE_NETLIST* netlist) {
  CDB_SGATE_OTERM* os = b->get_single_iterm()->get_source();
  KAVU_CHECK(os);
  const int lhs_partition_id = pid(os->get_my_node());
  const int rhs_partition_id = pid(first_oterm(b)->get_first_fanout()->get_my_node());
  KAVU_CHECK(lhs_partition_id != rhs_partition_id);
  CDB_SGATE_BOUNDARY* out = create_boundary_node(1, os, nullptr, netlist);
  set_pid(out, lhs_partition_id);
  std::vector<CDB_SGATE_ITERM*> cuts;
  for (CDB_SGATE_ITERM* j : os->fanouts())
    if (kavu_is_a_silly_buffer(j->get_my_node())) cuts.push_back(j);
  std::map<int, CDB_SGATE_NODE*> inputs_by_partition;
  for (CDB_SGATE_ITERM* j : cuts) {
    CDB_SGATE_NODE* node_src_fanout = j->get_my_node();
    KAVU_CHECK(kavu_is_a_silly_buffer(node_src_fanout));
    CDB_SGATE_OTERM* oterm_src_fanout = first_oterm(node_src_fanout);
    KAVU_CHECK(oterm_src_fanout && oterm_src_fanout->has_fanout_exactly(1));
    CDB_SGATE_ITERM* k = oterm_src_fanout->get_first_fanout();
    const int p = pid(k->get_my_node());
    auto found = inputs_by_partition.find(p);
    if (found != inputs_by_partition.end()) {
      CDB_SGATE_NODE* found_node = found->second;
      KAVU_CHECK(found_node && kavu_is_a_boundary(found_node));
      const bool inv = k->is_inverted() != j->is_inverted();
      k->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      first_oterm(found_node)->insert_fanout(k);
      j->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      if (inv) k->set_invert(); else k->clear_invert();
    } else {
      // The cut buffer's own input is the sink: excising the buffer then
      // folds its input's inversion into K.
      CDB_SGATE_BOUNDARY* in = create_boundary_node(0, first_oterm(out), j, netlist);
      kavu_excise_buffer(node_src_fanout);
      inputs_by_partition[p] = in;
      set_pid(in, p);
    }
  }
}

}  // namespace

void kavu_postprocess_partitions(CDB_SGATE_NETLIST* netlist) {
  KAVU_CUT_LIST cuts;
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_a_silly_buffer(*it)) cuts.buffers.push_back(*it);
  cuts.one_side.assign(cuts.buffers.size(), -1);
  kavu_postprocess_partitions(netlist, cuts);
}

void kavu_postprocess_partitions(CDB_SGATE_NETLIST* netlist, const KAVU_CUT_LIST& cuts) {
  GEN_PROFILER profiler("KAVU", "kavu_postprocess_partitions");
  // The cut buffers in list order; boundary gates made on the way are no cut
  // buffers, and excised buffers stay in the list until the sweep below.
  bool changed = remove_redundant_cuts(cuts);
  for (CDB_SGATE_NODE* node : cuts.buffers) {
    if (!first_oterm(node)->has_fanout()) continue;
    make_boundaries(node, netlist);
    changed = true;
  }
  // Excised cut buffers stay in the list without fan-out until this sweep,
  // whichever step excised them.
  if (changed) netlist->sweep(false);
}

void kavu_print_partitions(CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "kavu_print_partitions");
  // Gates per id (ids run from 1 to g_partition_id).
  std::vector<int> with_boundary(size_t(std::max(g_partition_id, 0)) + 1, 0);
  std::vector<int> without_boundary(with_boundary.size(), 0);
  int total_without = 0, total_with = 0;
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (node == nullptr) continue;
    KAVU_CHECK(node && !kavu_is_a_silly_buffer(node));
    if (!labellable(node)) continue;  // gates without output terminals carry no id
    const int partition_id = pid(node);
    KAVU_CHECK(partition_id > 0 && partition_id <= g_partition_id);
    ++with_boundary[partition_id];
    ++total_with;
    if (!kavu_is_a_boundary(node)) {
      ++without_boundary[partition_id];
      ++total_without;
    }
  }
  int largest = 0, largest_with = 0, partitions = 0;
  for (int count : without_boundary) largest = std::max(largest, count);
  for (int count : with_boundary) {
    largest_with = std::max(largest_with, count);
    partitions += count > 0;
  }
  kavu_debug("Total number of partitions: %d", partitions);
  kavu_debug("Largest partition has %d sgates (%.3f)\n", largest,
             total_without ? double(largest) / total_without : 0.0);
  kavu_debug("Largest partition has %d sgates (%.3f), result includes boundary nodes\n", largest_with,
             total_with ? double(largest_with) / total_with : 0.0);
}
