// ssc_analysis.cpp — the static timing analysis of a timing netlist.
//
// Groups: a launch or capture group is a clock with an edge (rising, or
//   falling for a register whose clock is inverted on the way, or an I/O
//   delay given -clock_fall), or the start / end set of a set_max_delay.
// Passes: one topological order (loops cut); per launch group a forward
//   pass of arrivals (registers launch at 0, input ports at their input
//   delay); per capture group a backward pass of downstream delays (0 at a
//   register capture, the output delay at an output port); then every arc
//   is scored against every valid pair of groups:
//     slack = relation(launch, capture) - arrival(source) - arc - downstream.
// Relations: equal edges of one clock give the period; otherwise the
//   smallest positive gap from a launch edge to the next capture edge over
//   one common period, in closed form from the gcd of the periods. A max-delay rule relates its start set to its end
//   set (or to every clock group when a side is missing) by its value; the
//   clock checks of those paths stay (the smaller slack wins). False paths
//   remove clock pairs, start points or end points.
// Cost: O((V + E) · groups) time and memory.
#include <algorithm>
#include <numeric>

#include "ssc/ssc_int.h"

namespace kavu_platform {

namespace {

constexpr int32_t NONE = SSC_INVALID;

struct CAPTURE_ENTRY {
  int group;
  int32_t offset;
};

class ANALYZER {
 public:
  ANALYZER(const SSC_NETLIST_DATA& data, SSC_ANALYSIS* out) : m_data(data), m_out(out) {}
  void run();

 private:
  int group_of(int clock, bool falling) {
    for (size_t g = 0; g < m_out->groups.size(); ++g)
      if (m_out->groups[g].clock == clock && m_out->groups[g].falling == falling) return int(g);
    m_out->groups.push_back(SSC_GROUP{clock, falling, -1});
    return int(m_out->groups.size() - 1);
  }
  void make_groups();
  void relations();
  void forward(int g, std::vector<int32_t>* a) const;
  void backward(int h, std::vector<int32_t>* d) const;
  void score();

  const SSC_NETLIST_DATA& m_data;
  SSC_ANALYSIS* m_out;
  std::vector<uint32_t> m_order, m_pos;
  std::vector<int> m_clock_of_source;  // node -> clock index (-1)
  std::vector<int> m_reg_group;        // register node -> group (-1)
  // Starts per launch group (node, arrival); captures per node.
  std::vector<std::vector<std::pair<uint32_t, int32_t>>> m_starts;
  std::vector<uint32_t> m_cap_begin;
  std::vector<CAPTURE_ENTRY> m_caps;
  std::vector<char> m_no_start, m_no_end;
  std::vector<int32_t> m_rel, m_relaxed;  // groups x groups
  std::vector<std::vector<int32_t>> m_arrival, m_down;
};

void ANALYZER::make_groups() {
  const SSC_CONSTRAINTS& c = m_out->constraints;
  const uint32_t n = uint32_t(m_data.nodes.size());
  m_clock_of_source.assign(n, -1);
  for (size_t k = 0; k < c.clocks.size(); ++k)
    for (uint32_t s : c.clocks[k].sources)
      if (m_clock_of_source[s] < 0) m_clock_of_source[s] = int(k);
  m_no_start.assign(n, 0);
  m_no_end.assign(n, 0);
  for (const SSC_SDC_PATH_RULE& r : c.rules) {
    if (r.max_delay) continue;
    if (r.to_nodes.empty()) for (uint32_t v : r.from_nodes) m_no_start[v] = 1;
    if (r.from_nodes.empty()) for (uint32_t v : r.to_nodes) m_no_end[v] = 1;
  }
  // Register groups.
  m_reg_group.assign(n, -1);
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_REGISTER || node.get_clock_source() < 0) continue;
    const int k = m_clock_of_source[node.get_clock_source()];
    if (k >= 0) m_reg_group[v] = group_of(k, node.clock_is_inverted());
  }
  // I/O delay groups.
  for (const SSC_SDC_IO_DELAY& d : c.io_delays) group_of(d.clock, d.clock_fall);
  // Max-delay groups: one per rule side that names points.
  std::vector<int> from_group(c.rules.size(), -1), to_group(c.rules.size(), -1);
  for (size_t r = 0; r < c.rules.size(); ++r) {
    if (!c.rules[r].max_delay) continue;
    if (c.rules[r].has_from) {
      m_out->groups.push_back(SSC_GROUP{-1, false, int(r)});
      from_group[r] = int(m_out->groups.size() - 1);
    }
    if (c.rules[r].has_to) {
      m_out->groups.push_back(SSC_GROUP{-1, true, int(r)});
      to_group[r] = int(m_out->groups.size() - 1);
    }
  }
  const size_t groups = m_out->groups.size();
  m_starts.assign(groups, {});
  for (uint32_t v = 0; v < n; ++v)
    if (m_reg_group[v] >= 0 && !m_no_start[v]) m_starts[m_reg_group[v]].push_back({v, 0});
  for (const SSC_SDC_IO_DELAY& d : c.io_delays) {
    if (!d.input) continue;
    const int g = group_of(d.clock, d.clock_fall);
    for (uint32_t v : d.nodes)
      if (m_data.nodes[v].get_kind() == TDB_NODE_IN_PORT && !m_no_start[v]) m_starts[g].push_back({v, d.value});
  }
  for (size_t r = 0; r < c.rules.size(); ++r)
    if (from_group[r] >= 0)
      for (uint32_t v : c.rules[r].from_nodes) {
        const TDB_NODE_KIND k = m_data.nodes[v].get_kind();
        if (k == TDB_NODE_REGISTER || k == TDB_NODE_IN_PORT) m_starts[from_group[r]].push_back({v, 0});
      }
  // Captures per node.
  std::vector<std::vector<CAPTURE_ENTRY>> caps(n);
  for (uint32_t v = 0; v < n; ++v)
    if (m_reg_group[v] >= 0 && !m_no_end[v]) caps[v].push_back({m_reg_group[v], 0});
  for (const SSC_SDC_IO_DELAY& d : c.io_delays) {
    if (d.input) continue;
    const int g = group_of(d.clock, d.clock_fall);
    for (uint32_t v : d.nodes)
      if (m_data.nodes[v].get_kind() == TDB_NODE_OUT_PORT && !m_no_end[v]) caps[v].push_back({g, d.value});
  }
  for (size_t r = 0; r < c.rules.size(); ++r)
    if (to_group[r] >= 0)
      for (uint32_t v : c.rules[r].to_nodes) {
        const TDB_NODE_KIND k = m_data.nodes[v].get_kind();
        if (k == TDB_NODE_REGISTER || k == TDB_NODE_OUT_PORT) caps[v].push_back({to_group[r], 0});
      }
  m_starts.resize(m_out->groups.size());
  m_cap_begin.assign(n + 1, 0);
  for (uint32_t v = 0; v < n; ++v) {
    m_cap_begin[v + 1] = m_cap_begin[v] + uint32_t(caps[v].size());
    m_caps.insert(m_caps.end(), caps[v].begin(), caps[v].end());
  }
}

void ANALYZER::relations() {
  const SSC_CONSTRAINTS& c = m_out->constraints;
  const size_t groups = m_out->groups.size();
  m_rel.assign(groups * groups, NONE);
  m_relaxed.assign(groups * groups, NONE);
  auto clock_pair_false = [&](int from, int to) {
    for (const SSC_SDC_PATH_RULE& r : c.rules) {
      if (r.max_delay || (r.from_clocks.empty() && r.to_clocks.empty())) continue;
      if (!r.from_nodes.empty() || !r.to_nodes.empty()) continue;
      const bool f = !r.has_from || std::count(r.from_clocks.begin(), r.from_clocks.end(), from);
      const bool t = !r.has_to || std::count(r.to_clocks.begin(), r.to_clocks.end(), to);
      if (f && t) return true;
    }
    return false;
  };
  for (size_t g = 0; g < groups; ++g) {
    for (size_t h = 0; h < groups; ++h) {
      const SSC_GROUP& a = m_out->groups[g];
      const SSC_GROUP& b = m_out->groups[h];
      int32_t rel = NONE, relaxed = NONE;
      if (a.clock >= 0 && b.clock >= 0) {
        if (clock_pair_false(a.clock, b.clock)) continue;
        const SSC_SDC_CLOCK& ca = c.clocks[a.clock];
        const SSC_SDC_CLOCK& cb = c.clocks[b.clock];
        rel = ssc_edge_relation(ca.period, a.falling ? ca.fall : ca.rise, cb.period, b.falling ? cb.fall : cb.rise);
        relaxed = cb.period;
      } else if (a.clock < 0 && b.clock < 0) {
        if (a.rule == b.rule && !a.falling && b.falling) rel = relaxed = c.rules[a.rule].value;
      } else if (a.clock < 0 && !a.falling && b.clock >= 0) {
        if (!c.rules[a.rule].has_to) rel = relaxed = c.rules[a.rule].value;
      } else if (b.clock < 0 && b.falling && a.clock >= 0) {
        if (!c.rules[b.rule].has_from) rel = relaxed = c.rules[b.rule].value;
      }
      m_rel[g * groups + h] = rel;
      m_relaxed[g * groups + h] = relaxed;
    }
  }
}

void ANALYZER::forward(int g, std::vector<int32_t>* a) const {
  a->assign(m_data.nodes.size(), NONE);
  for (const auto& [v, t] : m_starts[g]) (*a)[v] = std::max((*a)[v], t);
  for (uint32_t v : m_order) {
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_COMB) continue;
    int32_t best = NONE;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind != TDB_ARC_DATA || m_pos[arc.m_src] >= m_pos[v]) continue;
      const int32_t s = (*a)[arc.m_src];
      if (s != NONE) best = std::max(best, s + arc.m_delay);
    }
    (*a)[v] = best;
  }
}

void ANALYZER::backward(int h, std::vector<int32_t>* d) const {
  d->assign(m_data.nodes.size(), NONE);
  const uint32_t n = uint32_t(m_data.nodes.size());
  for (uint32_t v = 0; v < n; ++v) {
    for (uint32_t e = m_cap_begin[v]; e < m_cap_begin[v + 1]; ++e) {
      if (m_caps[e].group != h) continue;
      const TDB_NODE& node = m_data.nodes[v];
      for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
        const TDB_ARC& arc = m_data.arcs[k];
        if (arc.m_kind == TDB_ARC_CAPTURE) (*d)[arc.m_src] = std::max((*d)[arc.m_src], m_caps[e].offset);
      }
    }
  }
  for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) {
    const uint32_t v = *it;
    const int32_t dv = (*d)[v];
    const TDB_NODE& node = m_data.nodes[v];
    if (dv == NONE || node.get_kind() != TDB_NODE_COMB) continue;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind != TDB_ARC_DATA || m_pos[arc.m_src] >= m_pos[v]) continue;
      (*d)[arc.m_src] = std::max((*d)[arc.m_src], dv + arc.m_delay);
    }
  }
}

void ANALYZER::score() {
  const size_t groups = m_out->groups.size();
  const uint32_t n = uint32_t(m_data.nodes.size());
  std::vector<int> launch, capture;
  for (size_t g = 0; g < groups; ++g) {
    bool l = false, c = false;
    for (size_t h = 0; h < groups; ++h) {
      l = l || m_rel[g * groups + h] != NONE;
      c = c || m_rel[h * groups + g] != NONE;
    }
    if (l && !m_starts[g].empty()) launch.push_back(int(g));
    if (c) capture.push_back(int(g));
  }
  m_arrival.assign(groups, {});
  m_down.assign(groups, {});
  for (int g : launch) forward(g, &m_arrival[g]);
  for (int h : capture) backward(h, &m_down[h]);
  m_out->arc_slack.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->arc_req.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->arc_relaxed.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->worst_per_clock.assign(m_out->constraints.clocks.size(), SSC_UNCONSTRAINED_SLACK);
  auto consider = [&](uint32_t k, int g, int h, int64_t path) {
    const int32_t rel = m_rel[size_t(g) * groups + h];
    if (rel == NONE) return;
    const int64_t slack = int64_t(rel) - path;
    const int64_t relaxed = int64_t(m_relaxed[size_t(g) * groups + h]) - path;
    if (slack < m_out->arc_slack[k]) {
      m_out->arc_slack[k] = int32_t(std::max<int64_t>(slack, INT32_MIN + 1));
      m_out->arc_req[k] = rel;
    }
    if (relaxed < m_out->arc_relaxed[k]) m_out->arc_relaxed[k] = int32_t(std::max<int64_t>(relaxed, INT32_MIN + 1));
  };
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind == TDB_ARC_UNCONSTRAINED) continue;
      for (int g : launch) {
        const int32_t a = m_arrival[g][arc.m_src];
        if (a == NONE) continue;
        if (arc.m_kind == TDB_ARC_DATA) {
          for (int h : capture) {
            const int32_t d = m_down[h][v];
            if (d != NONE) consider(k, g, h, int64_t(a) + arc.m_delay + d);
          }
        } else {
          m_out->worst_arrival = std::max(m_out->worst_arrival, a);
          for (uint32_t e = m_cap_begin[v]; e < m_cap_begin[v + 1]; ++e) {
            consider(k, g, m_caps[e].group, int64_t(a) + m_caps[e].offset);
          }
        }
      }
      if (arc.m_kind == TDB_ARC_CAPTURE) {
        // Worst slack per capture clock, over every launch group.
        for (uint32_t e = m_cap_begin[v]; e < m_cap_begin[v + 1]; ++e) {
          const SSC_GROUP& hg = m_out->groups[m_caps[e].group];
          for (int g : launch) {
            const int32_t rel = m_rel[size_t(g) * groups + m_caps[e].group];
            const int32_t a = m_arrival[g][arc.m_src];
            if (rel == NONE || a == NONE) continue;
            const int64_t s = int64_t(rel) - a - m_caps[e].offset;
            const int32_t s32 = int32_t(std::max<int64_t>(s, INT32_MIN + 1));
            if (hg.clock >= 0) m_out->worst_per_clock[hg.clock] = std::min(m_out->worst_per_clock[hg.clock], s32);
            m_out->worst_all = std::min(m_out->worst_all, s32);
          }
        }
      }
    }
  }
}

void ANALYZER::run() {
  ssc_topological_order(m_data, &m_order, &m_pos);
  make_groups();
  relations();
  score();
}

int64_t gcd64(int64_t a, int64_t b) {
  while (b) {
    const int64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

}  // namespace

// Launch edges fall at k·p1 + o1 and capture edges at m·p2 + o2; over all
// integers k and m, m·p2 − k·p1 takes exactly the multiples of g = gcd(p1,
// p2) (Bezout), and one common period (lcm) holds every residue. So the
// gaps are (o2 − o1) + j·g, and the smallest positive one is (o2 − o1) mod g,
// or g when that is 0. Exact for all 32-bit periods and offsets, O(log p).
int ssc_edge_relation(int p1, int o1, int p2, int o2) {
  if (p1 <= 0 || p2 <= 0) return NONE;
  if (p1 == p2 && o1 == o2) return p1;
  const int64_t g = gcd64(p1, p2);
  const int64_t r = ((int64_t(o2) - o1) % g + g) % g;
  return int(r == 0 ? g : r);
}

void ssc_analyze(const SSC_NETLIST_DATA& data, SSC_CONSTRAINTS c, SSC_ANALYSIS* out) {
  *out = SSC_ANALYSIS();
  out->constraints = std::move(c);
  ANALYZER(data, out).run();
}

}  // namespace kavu_platform
