// ssc_analysis.cpp — the static timing analysis of a timing netlist.
//
// Clocks of registers: the first clock on the register's traced clock
//   source, or for a gated clock the one clock reaching it through gates
//   unate in it (ssc_register_clocks, GATED_CLOCK_WALK).
// Groups: a launch or capture group is a clock with an edge (rising, or
//   falling for a register whose clock is inverted on the way, or an I/O
//   delay given -clock_fall), or no clock, together with the set of
//   set_max_delay rules whose -from (-to) side holds the group's points
//   (all rules without that side). Start points without a clock (input
//   ports without input delay, or with one whose clock was not found, at
//   that delay; registers whose clock no create_clock names) launch at 0,
//   as OpenSTA launches them. Such a register's paths start at its clock
//   source, as in OpenSTA: false paths from that port, or from the clock
//   of the port's input delay (the group's `via`), remove them. They go
//   into output delays, with
//   the capture edge one period after time 0 (the capture clock's period
//   plus the edge's offset), and into the ends of max-delay rules; a
//   register capture needs a launch clock, so none reaches one unless a
//   rule covers the path. End points without a clock (output ports without
//   output delay, registers without a clock) take part only in paths of
//   max-delay rules. An output port that is a clock's source ends no path;
//   an input port only -min input delays name starts none.
// Passes: one topological order (loops cut); arrivals (registers launch at
//   0, input ports at their input delay) and downstream delays (0 at a
//   register capture, the output delay at an output port): with few groups
//   (at most 16 launch and capture groups) one pass per group, a time per
//   node each; else one forward pass that keeps at each node the launch
//   groups reaching it and one backward pass that keeps the capture groups
//   reached from it. Then every arc is scored against the pairs of groups
//   its ends hold, in launch then capture group order:
//     slack = relation(launch, capture) - arrival(source) - arc - downstream.
//   Times saturate at the 32-bit range (ssc_saturate).
// Relations: the paths between two groups that a max-delay rule covers
//   (a rule of both sets) are timed by the winning rule's value alone, as
//   OpenSTA times them, in place of the clock check, shorter or longer.
//   Otherwise equal edges of one clock give the period, other edges the
//   smallest positive gap from a launch edge to the next capture edge over
//   one common period, in closed form from the gcd of the periods; a clock
//   of period 0 captures at time 0 and launches into the capture edge of
//   the first cycle, as OpenSTA times it. False
//   paths remove clock pairs, start points or end points, before any rule.
//   A pair's relation is worked out when a path first joins the two groups
//   and kept (a table of groups x groups while there are few groups, else a
//   hash table of the pairs met), so a file of thousands of rules naming
//   their own points costs space for the pairs its paths join, not for the
//   square of its groups.
// Cost: O(V + E) per group with few groups; else O(V + E) per launch and
//   capture group reaching each node, time and memory (O((V + E) · groups)
//   at most); scoring O(E · pairs of groups per arc).
//   Memory the system refuses is an error of the analysis (SSC_UTIL).
#include <algorithm>
#include <climits>
#include <map>
#include <numeric>
#include <tuple>

#include "ssc/ssc_int.h"

namespace kavu_platform {

namespace {

constexpr int32_t NONE = SSC_INVALID;

// Walks the logic before the clock sources of gated registers, as an
// ideal clock propagates forward through it: the state of a node is the
// one clock (and whether it arrives inverted) that reaches it, none, or a
// conflict (several clocks, or a path not unate in the clock). Post-order
// over fan-in data arcs with an explicit stack; each node is settled once
// for all registers, so the walks cost O(V + E) together. An arc back into
// a node still open (a loop) brings nothing, like an arc cut for the
// topological order.
class GATED_CLOCK_WALK {
 public:
  static constexpr int32_t kUnvisited = -1, kOpen = -2, kNone = -3, kConflict = -4;

  GATED_CLOCK_WALK(const SSC_NETLIST_DATA& data, const std::vector<int>& clock_of_source)
      : m_data(data), m_clock_of_source(clock_of_source), m_state(data.nodes.size(), kUnvisited) {}

  // The state of COMB node `start` (kNone, kConflict, or 2 * clock + inverted).
  int32_t state_of(uint32_t start) {
    if (m_state[start] != kUnvisited) return m_state[start] == kOpen ? kNone : m_state[start];
    m_state[start] = kOpen;
    m_stack.push_back(FRAME{start, SSC_NETLIST_DATA::arc_begin(m_data.nodes[start]), kNone});
    while (!m_stack.empty()) {
      FRAME& f = m_stack.back();
      if (f.arc == SSC_NETLIST_DATA::arc_end(m_data.nodes[f.node])) {
        const int32_t done = f.acc;
        m_state[f.node] = done;
        m_stack.pop_back();
        if (!m_stack.empty()) merge_arc(&m_stack.back(), done);
        continue;
      }
      const TDB_ARC& arc = m_data.arcs[f.arc];
      if (arc.m_kind != TDB_ARC_DATA) {
        ++f.arc;
        continue;
      }
      const uint32_t u = arc.m_src;
      if (m_state[u] == kUnvisited && !leaf(u)) {
        m_state[u] = kOpen;
        m_stack.push_back(FRAME{u, SSC_NETLIST_DATA::arc_begin(m_data.nodes[u]), kNone});
        continue;  // f may dangle now; the child's result comes back through merge_arc
      }
      merge_arc(&f, m_state[u] == kOpen ? kNone : m_state[u]);
    }
    return m_state[start];
  }

 private:
  struct FRAME {
    uint32_t node;
    uint32_t arc;  // the next fan-in arc
    int32_t acc;   // the state of the arcs before it
  };
  // Settles a node the walk does not enter: a clock's source, or a node
  // that is no logic (ports, registers: a clock does not pass them).
  bool leaf(uint32_t u) {
    if (m_clock_of_source[u] >= 0) m_state[u] = 2 * m_clock_of_source[u];
    else if (m_data.nodes[u].get_kind() != TDB_NODE_COMB) m_state[u] = kNone;
    else return false;
    return true;
  }
  // Adds the state `s` of the frame's current arc's source, through the
  // arc's sense, and moves to the next arc.
  void merge_arc(FRAME* f, int32_t s) {
    const TDB_ARC& arc = m_data.arcs[f->arc++];
    if (s == kNone || f->acc == kConflict) return;
    if (s >= 0) {
      const int sense = ssc_input_sense(arc.m_iterm);
      s = sense == 0 ? kConflict : (sense < 0 ? s ^ 1 : s);
    }
    f->acc = f->acc == kNone || f->acc == s ? s : kConflict;
  }

  const SSC_NETLIST_DATA& m_data;
  const std::vector<int>& m_clock_of_source;
  std::vector<int32_t> m_state;
  std::vector<FRAME> m_stack;
};

struct CAPTURE_ENTRY {
  int group;
  int32_t offset;
};

// A group reaching a node, and its arrival (downstream) time there.
struct GROUP_TIME {
  int32_t group;
  int32_t time;
};

// What times the paths from a launch group to a capture group: the
// requirement (NONE: no path between them is timed), the relaxed one (the
// capture period), and whether a max-delay rule sets it.
struct RELATION {
  int32_t rel = NONE, relaxed = NONE;
  bool path_delay = false;
};

class ANALYZER {
 public:
  ANALYZER(const SSC_NETLIST_DATA& data, SSC_ANALYSIS* out) : m_data(data), m_out(out) {}
  void run();

 private:
  int group_of(int clock, bool falling, bool capture, int rule_set, bool at_port, int via = -1) {
    const std::tuple<int, bool, bool, int, bool, int> key{clock, falling, capture, rule_set, at_port, via};
    auto [it, fresh] = m_group_index.emplace(key, int(m_out->groups.size()));
    if (fresh) m_out->groups.push_back(SSC_GROUP{clock, falling, capture, rule_set, at_port, via});
    return it->second;
  }
  void index_rules();
  int rules_at(uint32_t v, int clock, bool capture, uint32_t port = UINT32_MAX);
  bool has_unclocked_start(const std::vector<char>& delayed) const;
  std::vector<std::vector<int>> port_delay_clocks() const;
  void make_groups();
  bool clock_pair_false(int from, int to) const;
  int winning_rule(int launch_set, int capture_set) const;
  RELATION work_out_relation(int g, int h) const;
  // The relation of launch group g and capture group h, worked out once.
  RELATION relation(int g, int h) {
    if (!m_dense) return hashed_relation(g, h);
    const size_t at = size_t(g) * m_out->groups.size() + size_t(h);
    if (!m_dense_known[at]) {
      m_dense_relations[at] = work_out_relation(g, h);
      m_dense_known[at] = 1;
    }
    return m_dense_relations[at];
  }
  RELATION hashed_relation(int g, int h);
  void prepare_relations();
  std::vector<char> launching_groups() const;
  bool use_per_group_passes(const std::vector<char>& launches);
  void forward_one(int g, std::vector<int32_t>* a) const;
  void backward_one(int h, std::vector<int32_t>* d) const;
  void forward(const std::vector<char>& launches);
  void backward();
  // Calls f(group, time) for each launch (capture) group reaching node v
  // forward (backward), in group order.
  template <bool PER_GROUP, class F>
  void each_arrival(uint32_t v, F&& f) const {
    if constexpr (PER_GROUP) {
      for (size_t i = 0; i < m_launch.size(); ++i)
        if (const int32_t t = m_arrival[i][v]; t != NONE) f(m_launch[i], t);
    } else {
      for (const GROUP_TIME* e = arrivals_begin(v); e != arrivals_end(v); ++e) f(e->group, e->time);
    }
  }
  template <bool PER_GROUP, class F>
  void each_down(uint32_t v, F&& f) const {
    if constexpr (PER_GROUP) {
      for (size_t i = 0; i < m_capture.size(); ++i)
        if (const int32_t t = m_down_of[i][v]; t != NONE) f(m_capture[i], t);
    } else {
      for (const GROUP_TIME* e = down_begin(v); e != down_end(v); ++e) f(e->group, e->time);
    }
  }
  template <bool PER_GROUP>
  void score_arcs();
  // The groups reaching node v forward (arrivals) and backward (downstream).
  const GROUP_TIME* arrivals_begin(uint32_t v) const { return m_arr.data() + m_arr_begin[v]; }
  const GROUP_TIME* arrivals_end(uint32_t v) const { return m_arr.data() + m_arr_end[v]; }
  const GROUP_TIME* down_begin(uint32_t v) const { return m_down.data() + m_down_begin[v]; }
  const GROUP_TIME* down_end(uint32_t v) const { return m_down.data() + m_down_end[v]; }
  // Appends to *list the groups merged in m_best (m_touched), in group
  // order, and clears them.
  void emit_merged(std::vector<GROUP_TIME>* list);
  void score();

  const SSC_NETLIST_DATA& m_data;
  SSC_ANALYSIS* m_out;
  std::vector<uint32_t> m_order, m_pos;
  SSC_REGISTER_CLOCKS m_registers;  // each source's first clock, each register's clock and edge
  // Max-delay rules by side (0 from, 1 to): those without the side, those
  // naming a clock (per clock), and (node, rule) pairs of named points.
  std::vector<int> m_every[2];
  std::vector<std::vector<int>> m_by_clock[2];
  std::vector<std::pair<uint32_t, int>> m_named[2];
  std::map<std::vector<int>, int> m_rule_set_index;
  std::map<std::tuple<int, bool, bool, int, bool, int>, int> m_group_index;
  std::vector<int> m_scratch;
  // Starts per launch group (node, arrival); captures per node.
  std::vector<std::vector<std::pair<uint32_t, int32_t>>> m_starts;
  std::vector<uint32_t> m_cap_begin;
  std::vector<CAPTURE_ENTRY> m_caps;
  std::vector<char> m_no_start, m_no_end;
  // False paths between clocks alone (rule indices).
  std::vector<int> m_false_clock_rules;
  // Relations of pairs of groups worked out so far: with at most
  // kDenseGroups groups a table of groups x groups (m_dense_known marks
  // the pairs worked out), else an open-addressing table of the pairs met
  // (key launch << 32 | capture, kNoPair for an empty slot).
  static constexpr size_t kDenseGroups = 256;
  static constexpr uint64_t kNoPair = ~uint64_t(0);
  struct PAIR_SLOT {
    uint64_t key;
    RELATION relation;
  };
  bool m_dense = true;
  std::vector<RELATION> m_dense_relations;
  std::vector<char> m_dense_known;
  std::vector<PAIR_SLOT> m_pairs;
  size_t m_pair_count = 0;
  int m_pair_shift = 64;
  // With few groups (kPerGroupPasses launch and capture groups at most),
  // one pass per group: the groups with a pass, in order, and per
  // group a time per node (NONE where it does not reach).
  static constexpr size_t kPerGroupPasses = 16;
  std::vector<int> m_launch, m_capture;
  std::vector<std::vector<int32_t>> m_arrival, m_down_of;
  // Else arrivals and downstream times in one pass each: per node the
  // groups reaching it, in group order, m_*_begin[v] .. m_*_end[v] of one
  // flat array each.
  std::vector<GROUP_TIME> m_arr, m_down;
  std::vector<uint32_t> m_arr_begin, m_arr_end, m_down_begin, m_down_end;
  // Scratch of a merge: the best time per group (NONE: not met) and the
  // groups met.
  std::vector<int32_t> m_best;
  std::vector<int32_t> m_touched;
};

void ANALYZER::index_rules() {
  const SSC_CONSTRAINTS& c = m_out->constraints;
  for (int side = 0; side < 2; ++side) m_by_clock[side].assign(c.clocks.size(), {});
  for (size_t r = 0; r < c.rules.size(); ++r) {
    const SSC_SDC_PATH_RULE& rule = c.rules[r];
    if (!rule.max_delay || (!rule.has_from && !rule.has_to)) continue;
    for (int side = 0; side < 2; ++side) {
      if (!(side ? rule.has_to : rule.has_from)) {
        m_every[side].push_back(int(r));
        continue;
      }
      for (int k : side ? rule.to_clocks : rule.from_clocks) m_by_clock[side][k].push_back(int(r));
      for (uint32_t v : side ? rule.to_nodes : rule.from_nodes) m_named[side].push_back({v, int(r)});
    }
  }
  for (int side = 0; side < 2; ++side) std::sort(m_named[side].begin(), m_named[side].end());
  m_out->rule_sets.assign(1, {});
  m_rule_set_index[{}] = 0;
}

// The set of max-delay rules whose from (to) side holds node v launched
// (captured) by `clock` (-1: none), or the clock port `port` its launch
// starts at, as an index of rule_sets.
int ANALYZER::rules_at(uint32_t v, int clock, bool capture, uint32_t port) {
  const int side = capture ? 1 : 0;
  m_scratch = m_every[side];
  if (clock >= 0) m_scratch.insert(m_scratch.end(), m_by_clock[side][clock].begin(), m_by_clock[side][clock].end());
  const auto& named = m_named[side];
  for (uint32_t at : {v, port})
    for (auto it = std::lower_bound(named.begin(), named.end(), std::make_pair(at, INT_MIN));
         it != named.end() && it->first == at; ++it)
      m_scratch.push_back(it->second);
  if (m_scratch.empty()) return 0;
  std::sort(m_scratch.begin(), m_scratch.end());
  m_scratch.erase(std::unique(m_scratch.begin(), m_scratch.end()), m_scratch.end());
  auto [it, fresh] = m_rule_set_index.emplace(m_scratch, int(m_out->rule_sets.size()));
  if (fresh) m_out->rule_sets.push_back(m_scratch);
  return it->second;
}

// Whether a start point without a clock is left once false paths from
// points have removed theirs: a register whose clock no create_clock names
// (its launch starts at its clock source: removed with it), a data input
// port without input delay, or one whose input delay names no clock.
bool ANALYZER::has_unclocked_start(const std::vector<char>& delayed) const {
  for (uint32_t v = 0; v < uint32_t(m_data.nodes.size()); ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    const int s = node.get_clock_source();
    if (m_no_start[v]) continue;
    if (node.get_kind() == TDB_NODE_REGISTER && m_registers.clock[v] < 0 && (s < 0 || !m_no_start[s])) return true;
    if (node.get_kind() == TDB_NODE_IN_PORT && !delayed[v] && m_registers.of_source[v] < 0) return true;
  }
  for (const SSC_SDC_IO_DELAY& d : m_out->constraints.io_delays)
    if (d.input && d.clock < 0)
      for (uint32_t v : d.nodes)
        if (!m_no_start[v] && m_data.nodes[v].get_kind() == TDB_NODE_IN_PORT) return true;
  return false;
}

// Per node, the clocks of the input delays on it (for the registers whose
// clock port has no clock but an input delay).
std::vector<std::vector<int>> ANALYZER::port_delay_clocks() const {
  std::vector<std::vector<int>> out(m_data.nodes.size());
  for (const SSC_SDC_IO_DELAY& d : m_out->constraints.io_delays)
    if (d.input && d.clock >= 0)
      for (uint32_t v : d.nodes)
        if (std::find(out[v].begin(), out[v].end(), d.clock) == out[v].end()) out[v].push_back(d.clock);
  return out;
}

void ANALYZER::make_groups() {
  const SSC_CONSTRAINTS& c = m_out->constraints;
  const uint32_t n = uint32_t(m_data.nodes.size());
  ssc_register_clocks(m_data, c.clocks, &m_registers);
  // False paths from (to) points alone remove those start (end) points.
  m_no_start.assign(n, 0);
  m_no_end.assign(n, 0);
  for (const SSC_SDC_PATH_RULE& r : c.rules) {
    if (r.max_delay) continue;
    if (!r.has_to) for (uint32_t v : r.from_nodes) m_no_start[v] = 1;
    if (!r.has_from) for (uint32_t v : r.to_nodes) m_no_end[v] = 1;
  }
  index_rules();
  std::vector<char> delayed(n, 0);
  for (const SSC_SDC_IO_DELAY& d : c.io_delays)
    for (uint32_t v : d.nodes)
      if (m_data.nodes[v].get_kind() == (d.input ? TDB_NODE_IN_PORT : TDB_NODE_OUT_PORT)) delayed[v] = 1;
  // A port only -min input delays name starts no setup path (OpenSTA).
  for (uint32_t v : c.min_delay_inputs) delayed[v] = 1;
  const bool split_ports = has_unclocked_start(delayed);
  // Starts: clocked registers at 0, input ports at their input delays, and
  // points without a clock at 0 (see the file's head). A register without
  // a clock launches from its clock source, as OpenSTA starts its paths at
  // the clock port: `port` and the clock `via` of the port's input delay.
  auto start = [&](uint32_t v, int clock, bool falling, int32_t at, int via = -1, uint32_t port = UINT32_MAX) {
    if (m_no_start[v] || (port != UINT32_MAX && m_no_start[port])) return;
    if (clock < 0) falling = false;
    const int rules = rules_at(v, clock >= 0 ? clock : via, false, port);
    const size_t g = size_t(group_of(clock, falling, false, rules, false, via));
    if (g >= m_starts.size()) m_starts.resize(g + 1);
    m_starts[g].push_back({v, at});
  };
  std::vector<std::vector<CAPTURE_ENTRY>> caps(n);
  // An output port a clock is created on ends no path (OpenSTA leaves it
  // unconstrained).
  auto capture = [&](uint32_t v, int clock, bool falling, int32_t offset) {
    if (m_no_end[v]) return;
    if (m_data.nodes[v].get_kind() == TDB_NODE_OUT_PORT && m_registers.of_source[v] >= 0) return;
    if (clock < 0) falling = false;
    const int rules = rules_at(v, clock, true);
    if (clock < 0 && rules == 0) return;
    const bool at_port = split_ports && clock >= 0 && m_data.nodes[v].get_kind() == TDB_NODE_OUT_PORT;
    caps[v].push_back({group_of(clock, falling, true, rules, at_port), offset});
  };
  std::vector<std::vector<int>> delay_clocks;  // built when needed
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_REGISTER) continue;
    const int s = node.get_clock_source();
    const int k = m_registers.clock[v];
    const bool falling = k >= 0 && m_registers.falling[v];
    capture(v, k, falling, 0);
    if (k >= 0 || s < 0) {
      start(v, k, falling, 0);
      continue;
    }
    if (delay_clocks.empty()) delay_clocks = port_delay_clocks();
    if (delay_clocks[s].empty()) start(v, -1, false, 0, -1, uint32_t(s));
    for (int via : delay_clocks[s]) start(v, -1, false, 0, via, uint32_t(s));
  }
  for (const SSC_SDC_IO_DELAY& d : c.io_delays)
    for (uint32_t v : d.nodes) {
      if (m_data.nodes[v].get_kind() != (d.input ? TDB_NODE_IN_PORT : TDB_NODE_OUT_PORT)) continue;
      if (d.input) start(v, d.clock, d.clock_fall, d.value);
      else capture(v, d.clock, d.clock_fall, d.value);
    }
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE_KIND k = m_data.nodes[v].get_kind();
    if (delayed[v]) continue;
    if (k == TDB_NODE_IN_PORT && m_registers.of_source[v] < 0) start(v, -1, false, 0);
    if (k == TDB_NODE_OUT_PORT) capture(v, -1, false, 0);
  }
  m_starts.resize(m_out->groups.size());
  m_cap_begin.assign(n + 1, 0);
  for (uint32_t v = 0; v < n; ++v) {
    m_cap_begin[v + 1] = m_cap_begin[v] + uint32_t(caps[v].size());
    m_caps.insert(m_caps.end(), caps[v].begin(), caps[v].end());
  }
}

// Whether a false path between clocks (-1: none) removes the pair.
bool ANALYZER::clock_pair_false(int from, int to) const {
  for (int k : m_false_clock_rules) {
    const SSC_SDC_PATH_RULE& r = m_out->constraints.rules[k];
    const bool f = !r.has_from || (from >= 0 && std::count(r.from_clocks.begin(), r.from_clocks.end(), from));
    const bool t = !r.has_to || (to >= 0 && std::count(r.to_clocks.begin(), r.to_clocks.end(), to));
    if (f && t) return true;
  }
  return false;
}

// The max-delay rule that times the paths between a launch and a capture
// set, -1 for none. As OpenSTA ranks them: a rule naming start points beats
// one naming end points, which beats one naming launch clocks, then capture
// clocks (the sum of these ranks counts); among equals the later one wins.
int ANALYZER::winning_rule(int launch_set, int capture_set) const {
  const std::vector<SSC_SDC_PATH_RULE>& rules = m_out->constraints.rules;
  auto rank = [&](int r) {
    const SSC_SDC_PATH_RULE& x = rules[r];
    return (x.from_nodes.empty() ? 0 : 8) + (x.to_nodes.empty() ? 0 : 4) + (x.from_clocks.empty() ? 0 : 2) +
           (x.to_clocks.empty() ? 0 : 1);
  };
  const std::vector<int>& a = m_out->rule_sets[launch_set];
  const std::vector<int>& b = m_out->rule_sets[capture_set];
  int best = -1;
  for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    if (a[i] < b[j]) {
      ++i;
    } else if (b[j] < a[i]) {
      ++j;
    } else {
      if (best < 0 || rank(a[i]) >= rank(best)) best = a[i];
      ++i;
      ++j;
    }
  }
  return best;
}

// A path timed by a max-delay rule has the rule's value as requirement in
// place of the clock relation, whether longer or shorter; false paths
// remove both.
RELATION ANALYZER::work_out_relation(int g, int h) const {
  const SSC_CONSTRAINTS& c = m_out->constraints;
  const SSC_GROUP& a = m_out->groups[size_t(g)];
  const SSC_GROUP& b = m_out->groups[size_t(h)];
  RELATION r;
  if (a.capture || !b.capture || clock_pair_false(a.clock >= 0 ? a.clock : a.via, b.clock)) return r;
  const int rule = winning_rule(a.rule_set, b.rule_set);
  if (rule >= 0) {
    r.rel = r.relaxed = c.rules[size_t(rule)].value;
    r.path_delay = true;
  } else if (a.clock >= 0 && b.clock >= 0) {
    const SSC_SDC_CLOCK& ca = c.clocks[size_t(a.clock)];
    const SSC_SDC_CLOCK& cb = c.clocks[size_t(b.clock)];
    r.rel = ssc_edge_relation(ca.period, a.falling ? ca.fall : ca.rise, cb.period, b.falling ? cb.fall : cb.rise);
    r.relaxed = cb.period;
  } else if (b.clock >= 0 && b.at_port) {
    // Launched at 0 without a clock: OpenSTA's capture edge is the
    // edge's time in the capture clock's second period.
    const SSC_SDC_CLOCK& cb = c.clocks[size_t(b.clock)];
    r.rel = ssc_saturate(cb.period == 0 ? 0 : int64_t(cb.period) + (b.falling ? cb.fall : cb.rise));
    r.relaxed = cb.period;
  }
  return r;
}

void ANALYZER::prepare_relations() {
  const SSC_CONSTRAINTS& c = m_out->constraints;
  for (size_t k = 0; k < c.rules.size(); ++k) {
    const SSC_SDC_PATH_RULE& r = c.rules[k];
    if (!r.max_delay && (!r.from_clocks.empty() || !r.to_clocks.empty()) && r.from_nodes.empty() &&
        r.to_nodes.empty())
      m_false_clock_rules.push_back(int(k));
  }
  const size_t groups = m_out->groups.size();
  m_dense = groups <= kDenseGroups;
  if (m_dense) {
    m_dense_relations.assign(groups * groups, RELATION());
    m_dense_known.assign(groups * groups, 0);
    return;
  }
  m_pair_shift = 64 - 10;
  m_pairs.assign(size_t(1) << 10, PAIR_SLOT{kNoPair, RELATION()});
}

RELATION ANALYZER::hashed_relation(int g, int h) {
  const uint64_t key = uint64_t(uint32_t(g)) << 32 | uint32_t(h);
  const size_t mask = m_pairs.size() - 1;
  size_t at = size_t((key * 0x9E3779B97F4A7C15ull) >> m_pair_shift);
  for (; m_pairs[at].key != kNoPair; at = (at + 1) & mask)
    if (m_pairs[at].key == key) return m_pairs[at].relation;
  const RELATION r = work_out_relation(g, h);
  m_pairs[at] = PAIR_SLOT{key, r};
  if (++m_pair_count * 2 > m_pairs.size()) {  // at most half full: twice the slots
    std::vector<PAIR_SLOT> old(m_pairs.size() * 2, PAIR_SLOT{kNoPair, RELATION()});
    old.swap(m_pairs);
    --m_pair_shift;
    const size_t grown = m_pairs.size() - 1;
    for (const PAIR_SLOT& slot : old) {
      if (slot.key == kNoPair) continue;
      size_t k = size_t((slot.key * 0x9E3779B97F4A7C15ull) >> m_pair_shift);
      while (m_pairs[k].key != kNoPair) k = (k + 1) & grown;
      m_pairs[k] = slot;
    }
  }
  return r;
}

// Per group, whether its starts launch: every clock's starts do (so that
// the worst arrival counts them even where nothing captures), a start
// without a clock only where it is timed into some capture group: into an
// output port's group of a clock (at_port), or by a max-delay rule its
// capture side shares, unless a false path between the clocks removes the
// pair. Worked out from the clocks of the capture groups holding each rule,
// not pair by pair.
std::vector<char> ANALYZER::launching_groups() const {
  const size_t groups = m_out->groups.size();
  const size_t clocks = m_out->constraints.clocks.size();
  std::vector<std::vector<int>> rule_capture_clocks(m_out->constraints.rules.size());
  std::vector<char> port_clock(clocks, 0);
  for (const SSC_GROUP& h : m_out->groups) {
    if (!h.capture) continue;
    if (h.at_port && h.clock >= 0) port_clock[size_t(h.clock)] = 1;
    for (int r : m_out->rule_sets[size_t(h.rule_set)]) {
      std::vector<int>& list = rule_capture_clocks[size_t(r)];
      if (std::find(list.begin(), list.end(), h.clock) == list.end()) list.push_back(h.clock);
    }
  }
  std::vector<char> launches(groups, 0);
  for (size_t g = 0; g < groups; ++g) {
    const SSC_GROUP& a = m_out->groups[g];
    if (a.capture || m_starts[g].empty()) continue;
    bool timed = a.clock >= 0;
    for (size_t k = 0; k < clocks && !timed; ++k) timed = port_clock[k] && !clock_pair_false(a.via, int(k));
    for (int r : m_out->rule_sets[size_t(a.rule_set)])
      for (int k : rule_capture_clocks[size_t(r)]) timed = timed || !clock_pair_false(a.via, k);
    launches[g] = timed;
  }
  return launches;
}

// With few groups, one forward pass per launching group and one backward
// pass per capture group that some launching group is timed into: the
// groups are listed and true is returned.
bool ANALYZER::use_per_group_passes(const std::vector<char>& launches) {
  const size_t groups = m_out->groups.size();
  size_t captures = 0;
  for (size_t g = 0; g < groups; ++g) {
    if (launches[g]) m_launch.push_back(int(g));
    captures += m_out->groups[g].capture;
  }
  if (m_launch.size() + captures > kPerGroupPasses) {
    m_launch.clear();
    return false;
  }
  for (size_t h = 0; h < groups; ++h) {
    if (!m_out->groups[h].capture) continue;
    bool timed = false;
    for (size_t i = 0; i < m_launch.size() && !timed; ++i) timed = relation(m_launch[i], int(h)).rel != NONE;
    if (timed) m_capture.push_back(int(h));
  }
  m_arrival.assign(m_launch.size(), {});
  m_down_of.assign(m_capture.size(), {});
  for (size_t i = 0; i < m_launch.size(); ++i) forward_one(m_launch[i], &m_arrival[i]);
  for (size_t i = 0; i < m_capture.size(); ++i) backward_one(m_capture[i], &m_down_of[i]);
  return true;
}

void ANALYZER::forward_one(int g, std::vector<int32_t>* a) const {
  a->assign(m_data.nodes.size(), NONE);
  for (const auto& [v, t] : m_starts[size_t(g)]) (*a)[v] = std::max((*a)[v], t);
  for (uint32_t v : m_order) {
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_COMB) continue;
    int32_t best = NONE;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind != TDB_ARC_DATA || m_pos[arc.m_src] >= m_pos[v]) continue;
      const int32_t s = (*a)[arc.m_src];
      if (s != NONE) best = std::max(best, ssc_time_add(s, arc.m_delay));
    }
    (*a)[v] = best;
  }
}

void ANALYZER::backward_one(int h, std::vector<int32_t>* d) const {
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
      (*d)[arc.m_src] = std::max((*d)[arc.m_src], ssc_time_add(dv, arc.m_delay));
    }
  }
}

void ANALYZER::emit_merged(std::vector<GROUP_TIME>* list) {
  if (m_touched.size() > 1) std::sort(m_touched.begin(), m_touched.end());
  for (int32_t g : m_touched) {
    list->push_back(GROUP_TIME{g, m_best[size_t(g)]});
    m_best[size_t(g)] = NONE;
  }
  m_touched.clear();
}

// Arrivals in one pass: a start node holds its launch groups' start times,
// a comb node the latest arrival per group over its data arcs (arcs cut
// for the topological order bring nothing).
void ANALYZER::forward(const std::vector<char>& launches) {
  const uint32_t n = uint32_t(m_data.nodes.size());
  struct SEED {
    uint32_t node;
    int32_t group, time;
    bool operator<(const SEED& o) const { return node != o.node ? node < o.node : group < o.group; }
  };
  std::vector<SEED> seeds;
  size_t count = 0;
  for (size_t g = 0; g < m_starts.size(); ++g)
    if (launches[g]) count += m_starts[g].size();
  seeds.reserve(count);
  for (size_t g = 0; g < m_starts.size(); ++g)
    if (launches[g])
      for (const auto& [v, t] : m_starts[g]) seeds.push_back(SEED{v, int32_t(g), t});
  std::sort(seeds.begin(), seeds.end());
  m_arr.clear();
  m_arr.reserve(std::max<size_t>(seeds.size(), n) + n / 4);
  m_arr_begin.assign(n, 0);
  m_arr_end.assign(n, 0);
  for (size_t i = 0; i < seeds.size(); ++i) {
    const SEED& s = seeds[i];
    if (i > 0 && seeds[i - 1].node == s.node && seeds[i - 1].group == s.group) {
      m_arr.back().time = std::max(m_arr.back().time, s.time);
      continue;
    }
    if (i == 0 || seeds[i - 1].node != s.node) m_arr_begin[s.node] = uint32_t(m_arr.size());
    m_arr.push_back(GROUP_TIME{s.group, s.time});
    m_arr_end[s.node] = uint32_t(m_arr.size());
  }
  for (uint32_t v : m_order) {
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_COMB) continue;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind != TDB_ARC_DATA || m_pos[arc.m_src] >= m_pos[v]) continue;
      for (const GROUP_TIME* e = arrivals_begin(arc.m_src); e != arrivals_end(arc.m_src); ++e) {
        const int32_t t = ssc_time_add(e->time, arc.m_delay);
        int32_t& best = m_best[size_t(e->group)];
        if (best == NONE) m_touched.push_back(e->group);
        best = std::max(best, t);
      }
    }
    m_arr_begin[v] = uint32_t(m_arr.size());
    emit_merged(&m_arr);
    m_arr_end[v] = uint32_t(m_arr.size());
  }
}

// Downstream times in one pass, in reverse topological order: a node holds
// per capture group the capture offsets of the captures it drives and the
// downstream time of the comb nodes it drives through a data arc plus the
// arc, read through the fan-out of data and capture arcs.
void ANALYZER::backward() {
  const uint32_t n = uint32_t(m_data.nodes.size());
  // Fan-out arcs per source node: arc indices, by source.
  std::vector<uint32_t> fo_begin(n + 1, 0), fanout;
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      const bool data = arc.m_kind == TDB_ARC_DATA && node.get_kind() == TDB_NODE_COMB && m_pos[arc.m_src] < m_pos[v];
      const bool capture = arc.m_kind == TDB_ARC_CAPTURE && m_cap_begin[v] < m_cap_begin[v + 1];
      if (data || capture) ++fo_begin[arc.m_src + 1];
    }
  }
  for (uint32_t v = 0; v < n; ++v) fo_begin[v + 1] += fo_begin[v];
  fanout.resize(fo_begin[n]);
  std::vector<uint32_t> owner(fo_begin[n]);
  {
    std::vector<uint32_t> fill(fo_begin.begin(), fo_begin.end() - 1);
    for (uint32_t v = 0; v < n; ++v) {
      const TDB_NODE& node = m_data.nodes[v];
      for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
        const TDB_ARC& arc = m_data.arcs[k];
        const bool data =
            arc.m_kind == TDB_ARC_DATA && node.get_kind() == TDB_NODE_COMB && m_pos[arc.m_src] < m_pos[v];
        const bool capture = arc.m_kind == TDB_ARC_CAPTURE && m_cap_begin[v] < m_cap_begin[v + 1];
        if (!data && !capture) continue;
        owner[fill[arc.m_src]] = v;
        fanout[fill[arc.m_src]++] = k;
      }
    }
  }
  m_down.clear();
  m_down.reserve(n + n / 4);
  m_down_begin.assign(n, 0);
  m_down_end.assign(n, 0);
  for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) {
    const uint32_t u = *it;
    for (uint32_t f = fo_begin[u]; f < fo_begin[u + 1]; ++f) {
      const TDB_ARC& arc = m_data.arcs[fanout[f]];
      const uint32_t v = owner[f];
      auto meet = [&](int32_t group, int32_t t) {
        int32_t& best = m_best[size_t(group)];
        if (best == NONE) m_touched.push_back(group);
        best = std::max(best, t);
      };
      if (arc.m_kind == TDB_ARC_CAPTURE) {
        for (uint32_t e = m_cap_begin[v]; e < m_cap_begin[v + 1]; ++e) meet(m_caps[e].group, m_caps[e].offset);
      } else {
        for (const GROUP_TIME* e = down_begin(v); e != down_end(v); ++e) meet(e->group, ssc_time_add(e->time, arc.m_delay));
      }
    }
    m_down_begin[u] = uint32_t(m_down.size());
    emit_merged(&m_down);
    m_down_end[u] = uint32_t(m_down.size());
  }
}

void ANALYZER::score() {
  prepare_relations();
  const std::vector<char> launches = launching_groups();
  m_out->arc_slack.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->arc_req.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->arc_relaxed.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->worst_per_clock.assign(m_out->constraints.clocks.size(), SSC_UNCONSTRAINED_SLACK);
  if (use_per_group_passes(launches)) return score_arcs<true>();
  m_best.assign(m_out->groups.size(), NONE);
  forward(launches);
  backward();
  score_arcs<false>();
}

// Every arc against the pairs of groups its ends hold, in launch then
// capture group order (the first pair of the least slack gives the
// requirement).
template <bool PER_GROUP>
void ANALYZER::score_arcs() {
  const uint32_t n = uint32_t(m_data.nodes.size());
  // The path's time saturates as the arrival and downstream times do, so
  // every arc of a path past the range reads the same slack.
  auto consider = [&](uint32_t k, int g, int h, int64_t sum) {
    const RELATION r = relation(g, h);
    if (r.rel == NONE) return;
    const int32_t path = ssc_saturate(sum);
    const int32_t slack = ssc_saturate(int64_t(r.rel) - path);
    const int32_t relaxed = ssc_saturate(int64_t(r.relaxed) - path);
    if (slack < m_out->arc_slack[k]) {
      m_out->arc_slack[k] = slack;
      m_out->arc_req[k] = r.rel;
    }
    if (relaxed < m_out->arc_relaxed[k]) m_out->arc_relaxed[k] = relaxed;
  };
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind == TDB_ARC_UNCONSTRAINED) continue;
      each_arrival<PER_GROUP>(arc.m_src, [&](int g, int32_t a) {
        if (arc.m_kind == TDB_ARC_DATA) {
          each_down<PER_GROUP>(v, [&](int h, int32_t d) { consider(k, g, h, int64_t(a) + arc.m_delay + d); });
        } else {
          m_out->worst_arrival = std::max(m_out->worst_arrival, a);
          for (uint32_t e = m_cap_begin[v]; e < m_cap_begin[v + 1]; ++e)
            consider(k, g, m_caps[e].group, int64_t(a) + m_caps[e].offset);
        }
      });
      if (arc.m_kind == TDB_ARC_CAPTURE) {
        // Worst slack per capture clock, over every launch group. As in
        // OpenSTA's path groups, a max-delay path counts for the clock of
        // the register it ends at; one ending at an output port for none.
        for (uint32_t e = m_cap_begin[v]; e < m_cap_begin[v + 1]; ++e) {
          const SSC_GROUP& hg = m_out->groups[size_t(m_caps[e].group)];
          each_arrival<PER_GROUP>(arc.m_src, [&](int g, int32_t a) {
            const RELATION r = relation(g, m_caps[e].group);
            if (r.rel == NONE) return;
            const int32_t s32 = ssc_saturate(int64_t(r.rel) - ssc_time_add(a, m_caps[e].offset));
            if (hg.clock >= 0 && !(r.path_delay && node.get_kind() == TDB_NODE_OUT_PORT))
              m_out->worst_per_clock[size_t(hg.clock)] = std::min(m_out->worst_per_clock[size_t(hg.clock)], s32);
            m_out->worst_all = std::min(m_out->worst_all, s32);
          });
        }
      }
    }
  }
}

void ANALYZER::run() {
  m_out->cut_arcs = ssc_topological_order(m_data, &m_order, &m_pos);
  make_groups();
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
  if (p1 < 0 || p2 < 0) return NONE;
  // A clock of period 0, as OpenSTA times it: it captures at time 0,
  // whatever its waveform; it launches at its edge's time into the capture
  // clock's edge of the first cycle (the edge's time taken into (0, p2]),
  // whatever the launch edge's time, so a launch at or after that edge has
  // a relation of 0 or less.
  if (p2 == 0) return -o1;
  if (p1 == 0) {
    const int64_t first = ((int64_t(o2) % p2) + p2) % p2;
    const int64_t gap = (first == 0 ? p2 : first) - int64_t(o1);
    return int(std::clamp<int64_t>(gap, INT32_MIN + 1, INT32_MAX - 1));
  }
  if (p1 == p2 && o1 == o2) return p1;
  const int64_t g = gcd64(p1, p2);
  const int64_t r = ((int64_t(o2) - o1) % g + g) % g;
  return int(r == 0 ? g : r);
}

void ssc_register_clocks(const SSC_NETLIST_DATA& data, const std::vector<SSC_SDC_CLOCK>& clocks,
                         SSC_REGISTER_CLOCKS* out) {
  const size_t n = data.nodes.size();
  std::vector<int>& clock_of_source = out->of_source;
  clock_of_source.assign(n, -1);
  for (size_t k = 0; k < clocks.size(); ++k)
    for (uint32_t s : clocks[k].sources)
      if (s < n && clock_of_source[s] < 0) clock_of_source[s] = int(k);
  out->clock.assign(n, -1);
  out->falling.assign(n, 0);
  out->left_unclocked = 0;
  GATED_CLOCK_WALK gated(data, clock_of_source);
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = data.nodes[v];
    const int s = node.get_clock_source();
    if (node.get_kind() != TDB_NODE_REGISTER || s < 0 || size_t(s) >= n) continue;
    if (clock_of_source[s] >= 0) {
      out->clock[v] = clock_of_source[s];
      out->falling[v] = node.clock_is_inverted();
      continue;
    }
    if (data.nodes[s].get_kind() != TDB_NODE_COMB) continue;
    const int32_t state = gated.state_of(uint32_t(s));
    if (state == GATED_CLOCK_WALK::kConflict) ++out->left_unclocked;
    if (state < 0) continue;
    out->clock[v] = state / 2;
    out->falling[v] = char(bool(state & 1) != node.clock_is_inverted());
  }
}

void ssc_analyze(const SSC_NETLIST_DATA& data, SSC_CONSTRAINTS c, SSC_ANALYSIS* out) {
  *out = SSC_ANALYSIS();
  out->constraints = std::move(c);
  ANALYZER(data, out).run();
}

}  // namespace kavu_platform
