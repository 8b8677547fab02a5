// kavu_stats_depth.cpp — combinational depth statistics.
//
// Depth counts combinational gates (gate class "COMB") on a path. The
// maximum-depth line gives every non-combinational gate and every
// combinational gate without fan-in level 1, and a combinational gate with
// fan-in one more than its deepest reached driver; the line prints the
// largest level less one. The depth file gives internal combinational gates
// (fan-in and fan-out) the number of internal gates on the longest chain
// ending at them, and every other gate an edge reaches (a sink) the longest
// such chain feeding it.
//
// Levels are computed by Kahn's algorithm over a dense snapshot of the
// gates (O(N + E)); a combinational gate left unprocessed lies on or behind
// a combinational cycle, which is reported, whether anything feeds the cycle
// or not. The sources of a sink are collected along longest chains with a
// visited stamp per sink, so reconvergent logic is walked once, not once
// per path.
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "kavu_check.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "kavu_stats.h"
#include "kavu_stats_int.h"

namespace {

// The gates in netlist order with their fan-out edges as compressed rows
// (one edge per fan-out input terminal) and their fan-in edges likewise
// (one per connected input terminal with a driver that has fan-out).
struct SNAPSHOT {
  std::vector<CDB_SGATE_NODE*> m_gates;
  std::vector<int> m_out_begin, m_out;  // successors
  std::vector<int> m_in_begin, m_in;    // drivers
  std::vector<int> m_by_id;
  unsigned m_lo = 0;
  std::unordered_map<const CDB_SGATE_NODE*, int> m_index;

  explicit SNAPSHOT(CDB_SGATE_NETLIST* netlist) {
    unsigned lo = ~0u, hi = 0;
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
      if (*it) {
        m_gates.push_back(*it);
        lo = std::min(lo, (*it)->get_id());
        hi = std::max(hi, (*it)->get_id());
      }
    const int n = int(m_gates.size());
    // Gate -> index: a flat table over the id range when the ids are dense
    // (a netlist built or read in one go), else a hash map.
    const bool dense = n > 0 && size_t(hi - lo) < 4 * size_t(n) + 64;
    if (dense) {
      m_by_id.assign(size_t(hi - lo) + 1, -1);
      m_lo = lo;
    }
    for (int i = 0; i < n; ++i) {
      if (dense)
        m_by_id[m_gates[i]->get_id() - lo] = i;
      else
        m_index.emplace(m_gates[i], i);
    }
    m_out_begin.assign(size_t(n) + 1, 0);
    m_in_begin.assign(size_t(n) + 1, 0);
    for (int i = 0; i < n; ++i) {
      m_out_begin[i] = int(m_out.size());
      for (CDB_SGATE_OTERM* o : m_gates[i]->get_output_terms())
        if (o)
          for (CDB_SGATE_ITERM* t : o->fanouts()) {
            const int h = index_of(t->get_my_node());
            if (h >= 0) m_out.push_back(h);
          }
      m_in_begin[i] = int(m_in.size());
      for (CDB_SGATE_ITERM* t : m_gates[i]->get_input_terms()) {
        if (!t || !cdb_is_connected(t) || !t->get_source() || !t->get_source()->has_fanout()) continue;
        const int d = index_of(t->get_source()->get_my_node());
        if (d >= 0) m_in.push_back(d);
      }
    }
    m_out_begin[n] = int(m_out.size());
    m_in_begin[n] = int(m_in.size());
  }
  // The index of a gate of the netlist, -1 for a gate outside it.
  int index_of(const CDB_SGATE_NODE* g) const {
    if (!m_by_id.empty()) {
      const unsigned k = g->get_id() - m_lo;
      if (k >= m_by_id.size()) return -1;
      const int i = m_by_id[k];
      return i >= 0 && m_gates[i] == g ? i : -1;
    }
    auto f = m_index.find(g);
    return f == m_index.end() ? -1 : f->second;
  }
  int size() const { return int(m_gates.size()); }
};

bool is_comb_class(const CDB_SGATE_NODE* g) { return kavu_sgate_class_index(g) == KAVU_CLASS_COMB; }

// Depth marks of the depth file. Returns false on a combinational cycle.
bool compute_depth_marks(const SNAPSHOT& s, std::vector<unsigned>& level, std::vector<int>& aux) {
  const int n = s.size();
  level.assign(size_t(n), 0);
  aux.assign(size_t(n), 0);
  std::vector<int> indeg(size_t(n), 0), queue;
  for (int i = 0; i < n; ++i) {
    CDB_SGATE_NODE* g = s.m_gates[i];
    if (is_comb_class(g) && g->has_fanout() && g->has_fanin()) {
      level[i] = 1;
      aux[i] = -1;
    }
  }
  for (int i = 0; i < n; ++i)
    for (int e = s.m_out_begin[i]; e < s.m_out_begin[i + 1]; ++e) {
      const int h = s.m_out[e];
      if (aux[h] != -1) aux[h] = 1;  // reached by an edge: a sink
      if (aux[i] == -1 && aux[h] == -1) ++indeg[h];
    }
  for (int i = 0; i < n; ++i)
    if (aux[i] == -1 && indeg[i] == 0) queue.push_back(i);
  for (size_t q = 0; q < queue.size(); ++q) {
    const int g = queue[q];
    for (int e = s.m_out_begin[g]; e < s.m_out_begin[g + 1]; ++e) {
      const int h = s.m_out[e];
      if (aux[h] == -1) {
        level[h] = std::max(level[h], level[g] + 1);
        if (--indeg[h] == 0) queue.push_back(h);
      } else {
        level[h] = std::max(level[h], level[g]);
      }
    }
  }
  int internal = 0;
  for (int i = 0; i < n; ++i) internal += aux[i] == -1;
  return int(queue.size()) == internal;
}

// Every non-internal gate feeding the sink directly or feeding a gate on one
// of its longest internal chains; each gate once, first occurrence first.
class SOURCE_COLLECTOR {
 public:
  SOURCE_COLLECTOR(const SNAPSHOT& s, const std::vector<unsigned>& level, const std::vector<int>& aux)
      : m_s(s), m_level(level), m_aux(aux), m_seen(size_t(s.size()), 0) {}

  void collect(int sink, std::vector<int>& sources) {
    sources.clear();
    ++m_stamp;
    m_stack.clear();
    // The sink is not marked: a register on a loop through combinational
    // logic (a counter bit, a state bit) is one of its own sources.
    m_stack.push_back(sink);
    while (!m_stack.empty()) {
      const int g = m_stack.back();
      m_stack.pop_back();
      const unsigned step = m_aux[g] == -1 ? 1 : 0;
      for (int e = m_s.m_in_begin[g]; e < m_s.m_in_begin[g + 1]; ++e) {
        const int d = m_s.m_in[e];
        if (m_seen[d] == m_stamp) continue;
        if (m_aux[d] == -1) {
          if (m_level[d] + step != m_level[g]) continue;  // not on a longest chain
          m_seen[d] = m_stamp;
          m_stack.push_back(d);
        } else {
          m_seen[d] = m_stamp;
          sources.push_back(d);
        }
      }
    }
  }

 private:
  const SNAPSHOT& m_s;
  const std::vector<unsigned>& m_level;
  const std::vector<int>& m_aux;
  std::vector<unsigned> m_seen;
  unsigned m_stamp = 0;
  std::vector<int> m_stack;
};

void write_summary(std::ostream& os, const char* count_label, const std::vector<unsigned>& depths) {
  const KAVU_VALUE_SUMMARY s = compute_value_summary(depths);
  os << count_label << depths.size() << " Avg_depth " << s.m_mean << " Geomean_depth " << s.m_geomean
     << " Median_depth " << s.m_median << " Max_depth " << s.m_max << " Min_depth " << s.m_min << "\n";
}

void write_rows(std::ostream& os, const char* head, const std::vector<unsigned>& depths) {
  const KAVU_VALUE_SUMMARY s = compute_value_summary(depths);
  os << "Depth distribution\n" << head;
  for (size_t d = 0; d < s.m_histogram.size(); ++d)
    if (s.m_histogram[d]) os << d << "\t" << s.m_histogram[d] << "\n";
}

}  // namespace

KAVU_VALUE_SUMMARY compute_value_summary(std::vector<unsigned> values) {
  KAVU_VALUE_SUMMARY s;
  if (values.empty()) {
    s.m_histogram.assign(1, 0);
    return s;
  }
  double sum = 0.0;
  KAVU_GEOMEAN geo;
  s.m_max = s.m_min = values[0];
  for (unsigned v : values) {
    sum += v;
    s.m_max = std::max(s.m_max, v);
    s.m_min = std::min(s.m_min, v);
    if (v != 0) geo.add(v);
  }
  s.m_mean = sum / double(values.size());
  s.m_geomean = geo.value();
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  s.m_median = n % 2 == 0 ? (double(values[n / 2 - 1]) + double(values[n / 2])) / 2.0 : double(values[(n - 1) / 2]);
  s.m_histogram.assign(size_t(s.m_max) + 1, 0);
  for (unsigned v : values) ++s.m_histogram[v];
  return s;
}

void kavu_sgatenetlist_max_comb_depth(CDB_SGATE_NETLIST* netlist) {
  const SNAPSHOT s(netlist);
  const int n = s.size();
  if (n == 0) {
    kavu_debug("max depth in the sgate netlist %d\n", -1);
    return;
  }
  // Relaxable: combinational gates with fan-in; every other gate is level 1.
  std::vector<unsigned> level(static_cast<size_t>(n), 0u);
  std::vector<char> relaxable(size_t(n), 0);
  std::vector<int> indeg(size_t(n), 0), queue;
  for (int i = 0; i < n; ++i) {
    relaxable[i] = is_comb_class(s.m_gates[i]) && s.m_gates[i]->has_fanin();
    level[i] = relaxable[i] ? 0 : 1;
  }
  for (int h : s.m_out)
    if (relaxable[h]) ++indeg[h];
  for (int i = 0; i < n; ++i)
    if (!relaxable[i] || indeg[i] == 0) queue.push_back(i);
  int processed_relaxable = 0;
  unsigned max_level = 0;
  for (size_t q = 0; q < queue.size(); ++q) {
    const int g = queue[q];
    processed_relaxable += relaxable[g];
    max_level = std::max(max_level, level[g]);
    for (int e = s.m_out_begin[g]; e < s.m_out_begin[g + 1]; ++e) {
      const int h = s.m_out[e];
      if (!relaxable[h]) continue;
      // A gate at level 0 (all its inputs tied) propagates nothing.
      if (level[g] != 0) level[h] = std::max(level[h], level[g] + 1);
      if (--indeg[h] == 0) queue.push_back(h);
    }
  }
  int relaxable_count = 0;
  for (char r : relaxable) relaxable_count += r;
  if (processed_relaxable != relaxable_count) {
    kavu_debug("comb cycle exists in sgate netlist\n");
    return;
  }
  kavu_debug("max depth in the sgate netlist %d\n", int(max_level) - 1);
}

void kavu_sgate_comb_depth_stat(CDB_SGATE_NETLIST* netlist, const char* name) {
  const std::string path = std::string("sgate_depth_stat.") + name;
  std::orlind_ofstream file(path.c_str());
  const SNAPSHOT s(netlist);
  std::vector<unsigned> level;
  std::vector<int> aux;
  const bool acyclic = compute_depth_marks(s, level, aux);
  for (int i = 0; i < s.size(); ++i)
    if (CDB_SGATE_OTERM* o = s.m_gates[i]->get_single_oterm()) o->set_aux(aux[i]);
  if (!acyclic) {
    kavu_debug("comb cycle exists in sgate netlist");
    file << "comb cycle exists in sgate netlist\n";
    file.close();
    return;
  }
  std::vector<int> sinks;
  std::vector<unsigned> sink_depths;
  for (int i = 0; i < s.size(); ++i)
    if (aux[i] == 1) {
      sinks.push_back(i);
      sink_depths.push_back(level[i]);
    }
  file << "Overall Sink Depth Statistics\n";
  write_summary(file, "num_sink_sgates ", sink_depths);
  write_rows(file, "Depth\tNumber_sgates\n", sink_depths);
  file << "\n";

  std::vector<unsigned> all;
  std::vector<unsigned> by_pair[KAVU_CLASS_COUNT][KAVU_CLASS_COUNT];
  SOURCE_COLLECTOR collector(s, level, aux);
  std::vector<int> sources;
  for (int sink : sinks) {
    collector.collect(sink, sources);
    const int sc = kavu_sgate_class_index(s.m_gates[sink]);
    for (int f : sources) {
      KAVU_CHECK(aux[f] != -1);
      by_pair[kavu_sgate_class_index(s.m_gates[f])][sc].push_back(level[sink]);
      all.push_back(level[sink]);
    }
  }
  file << "\n" << "Connection Categorization Summary\n" << "From ALL to ALL\n";
  write_summary(file, "num_connections ", all);
  write_rows(file, "Depth\tNumber_connections\n", all);
  file << "\n";
  for (int from = 0; from < KAVU_CLASS_COUNT; ++from)
    for (int to = 0; to < KAVU_CLASS_COUNT; ++to) {
      const std::vector<unsigned>& v = by_pair[from][to];
      if (v.empty()) continue;
      file << "From " << kavu_sgate_class_name(from) << " to " << kavu_sgate_class_name(to) << "\n";
      write_summary(file, "num_connections ", v);
      write_rows(file, "Depth\tNumber_connections\n", v);
      file << "\n";
    }
  file.close();
}
