// ssc_analysis.cpp — the static timing analysis of a timing netlist.
//
// Clocks of registers: the first clock on the net of the register's clock
//   path nearest its pin (clock_on_path), else on its traced clock source,
//   or for a gated clock every clock reaching it through gates, on the
//   edges it arrives on (both through a gate not unate in it)
//   (ssc_register_clocks, GATED_CLOCK_WALK). Under a constraint file a net
//   inside the logic a clock is created on starts the clock afresh: data
//   from before it stops there (hoist_clock_nets), and it, or a register
//   whose output it is, launches its data at the clock's edges.
// Groups: a launch or capture group is a clock with an edge (rising, or
//   falling for a register whose clock is inverted on the way, or an I/O
//   delay given -clock_fall; a register reached by several clock edges
//   is in a group of each), or no clock, together with the set of
//   set_max_delay rules, and of false paths between points or between
//   points and clocks, whose -from (-to) side holds the group's points.
//   A set lists only the rules naming the points (SSC_RULE_SET): the rules
//   naming the group's clock on that side, and the rules without that
//   side (they hold every point), are implied, not listed, so a set's size
//   is that of the rules naming its points, whatever the number of rules
//   without a side or on a clock. Start points without a clock (input
//   ports without input delay, or with one whose clock was not found, at
//   that delay; registers whose clock no create_clock names) launch at 0,
//   as OpenSTA launches them. Such a register's paths start at the input
//   ports before its clock pin, as in OpenSTA: false paths from those
//   ports, or from the clock of their input delays alone (the group's
//   `via`), remove them; max-delay rules from those ports or clocks do not
//   time them, nor do false paths from those clocks to capture clocks, as
//   OpenSTA carries only false paths past a register's clock-to-output
//   arc (find_unclocked_launches). They go into output delays, with the
//   capture edge one period after time 0 (the capture clock's period
//   plus the edge's offset), and into the ends of max-delay rules; a
//   register capture needs a launch clock, so none reaches one unless a
//   rule covers the path. End points without a clock (output ports without
//   output delay, registers without a clock) take part only in paths of
//   max-delay rules. An output port that is a clock's source ends no path;
//   an input port only -min input delays name starts none. A clock port
//   that also feeds data logic (SSC_CONSTRAINTS::clock_data_ports) launches
//   at 0 in the groups of each edge of each of its clocks, as OpenSTA
//   launches a clock used as data, beside any input delay on it.
// Passes: one topological order (loops cut); arrivals (registers launch at
//   0, input ports at their input delay) and downstream delays (0 at a
//   register capture, the output delay at an output port): with few groups
//   (at most 16 launch and capture groups) one pass per group, a time per
//   node each; else one forward pass that keeps at each node the launch
//   groups reaching it and one backward pass that keeps the capture groups
//   reached from it. Then every arc is scored against the pairs of groups
//   its ends hold, in launch then capture group order:
//     slack = relation(launch, capture) - arrival(source) - arc - downstream.
//   Times saturate at the 32-bit range (ssc_saturate); the first node where
//   one does is kept for a warning after the analysis (saturate_at). With many groups,
//   where no time comes near that range (so every sum is exact), a pass
//   backward over the arrivals works out per node and launch group the
//   required time min over capture groups of (relation - downstream), with
//   the least capture group giving it; an arc's slack is then the least over
//   its source's launch groups of required - arrival - arc, the same slack
//   and requirement the pairs give, without meeting every pair of groups
//   along logic they share. A node's required times are held only from the
//   first of its readers the pass meets to the node itself; where they time
//   every data arc (no loop cut), the downstream times per capture group
//   are not made at all (their range is bounded by one time per node).
// Relations: the paths between two groups that a max-delay rule covers
//   (a rule of both sets) are timed by the winning rule's value alone, as
//   OpenSTA times them, in place of the clock check, shorter or longer;
//   under -ignore_clock_latency an input port's launch edge time counts
//   too (the rule's value less it), as OpenSTA times it; a clock port's
//   data is not timed by such a rule (OpenSTA counts its path as clock
//   latency, with no delay). Otherwise equal
//   edges of one clock give the period, other edges the smallest positive
//   gap from a launch edge to the next capture edge over
//   one common period, in closed form from the gcd of the periods; a clock
//   of period 0 captures at time 0 and launches into the capture edge of
//   the first cycle, as OpenSTA times it. False
//   paths remove clock pairs, start points or end points, before any rule;
//   a false path between points (or points and clocks) removes the paths
//   between the groups whose sets both hold it, beating any max-delay rule
//   there, as in OpenSTA.
//   A pair's relation is worked out when a path first joins the two groups
//   and kept (a table of groups x groups while there are few groups, else a
//   hash table of the pairs met, or with required times, which meet the
//   pairs at the captures only, a table of bounded size keeping the last
//   pair of each slot), so a file of thousands of rules naming their own
//   points costs space for the pairs its paths join at most, not for the
//   square of its groups.
// Cost: O(V + E) per group with few groups; else O(V + E) per launch and
//   capture group reaching each node, time and memory (O((V + E) · groups)
//   at most; with required times and no loop cut, memory for the launch
//   groups reaching each node and the required times of the nodes between
//   a reader and the node), and relations met at the captures only (launch
//   groups x capture groups of each captured node); scoring O(E · launch
//   groups per arc) (O(E · pairs of groups per arc) where times near the
//   32-bit range).
//   Memory the system refuses is an error of the analysis (SSC_UTIL).
#include <algorithm>
#include <bit>
#include <climits>
#include <map>
#include <numeric>
#include <tuple>
#include <unordered_map>

#include "ssc/ssc_int.h"

namespace kavu_platform {

namespace {

constexpr int32_t NONE = SSC_INVALID;
// SSC_GROUP::via of the launches of a clock port's data while some
// max-delay rule ignores clock latency.
constexpr int kClockData = -2;

// The arc through which a logic node passes a clock, as the build traces a
// clock through buffers, inverters, one-input LUTs, clock buffers and
// boundaries: its one data arc, or, where it has several, the one of them
// whose gate passes the clock (an IO buffer's input beside its output
// enable: the one arc of non-zero sense); UINT32_MAX for none.
uint32_t clock_step_arc(const SSC_NETLIST_DATA& data, uint32_t u) {
  const TDB_NODE& y = data.nodes[u];
  const uint32_t b = SSC_NETLIST_DATA::arc_begin(y), e = SSC_NETLIST_DATA::arc_end(y);
  if (y.get_kind() != TDB_NODE_COMB || b == e) return UINT32_MAX;
  if (e - b == 1) return data.arcs[b].m_kind == TDB_ARC_DATA ? b : UINT32_MAX;
  uint32_t found = UINT32_MAX;
  for (uint32_t k = b; k < e; ++k) {
    if (data.arcs[k].m_kind != TDB_ARC_DATA) return UINT32_MAX;
    if (ssc_arc_sense(data.arcs[k]) == 0) continue;
    if (found != UINT32_MAX) return UINT32_MAX;
    found = k;
  }
  return found;
}

// The arc by which register r reads its clock: the first of its inputs
// without constraint (a clock pin, an asynchronous control) whose chain of
// logic nodes that pass a clock (clock_step_arc) reaches r's traced clock
// source; UINT32_MAX where none does. The chain's nodes are then the
// sources followed from that arc, node by node, to the clock source
// (clock_path_arc).
uint32_t clock_pin_arc(const SSC_NETLIST_DATA& data, uint32_t r) {
  const TDB_NODE& x = data.nodes[r];
  const int s = x.get_clock_source();
  if (s < 0) return UINT32_MAX;
  for (uint32_t k = SSC_NETLIST_DATA::arc_begin(x); k < SSC_NETLIST_DATA::arc_end(x); ++k) {
    if (data.arcs[k].m_kind != TDB_ARC_UNCONSTRAINED) continue;
    uint32_t u = data.arcs[k].m_src;
    for (int steps = 0; u != uint32_t(s) && steps < 1000; ++steps) {
      const uint32_t a = clock_step_arc(data, u);
      if (a == UINT32_MAX) break;
      u = data.arcs[a].m_src;
    }
    if (u == uint32_t(s)) return k;
  }
  return UINT32_MAX;
}

// The arc of a node on a clock path (clock_pin_arc) that the clock comes by.
const TDB_ARC& clock_path_arc(const SSC_NETLIST_DATA& data, uint32_t u) { return data.arcs[clock_step_arc(data, u)]; }

// The clocks that reach the logic before the clock sources of gated
// registers, as an ideal clock propagates forward through it. Each clock
// arrives on some of its edges: bit 0 as the clock's own edge, bit 1
// inverted, both where a path is not unate in the clock (OpenSTA propagates
// both edges through a non-unate arc). The state of a node is none, one
// clock with its edges (4 * clock + edges), or a set of several such (an
// index into m_sets, each set kept once). A loop in the logic is cut where
// OpenSTA cuts it: at the arc that closes it on a walk forward, depth
// first, from the nodes that feed the logic taken by name (cut_loops), so
// the order of the netlist does not matter. States only
// grow, so a worklist settles every node of the cone: a node is evaluated
// again only when an input changed, each a bounded number of times (a few
// per clock reaching it), so O(V + E) over the cone for a few clocks. The
// cone is found with an explicit stack; its nodes are first taken in
// post-order, so loop-free logic is evaluated once per node.
class GATED_CLOCK_WALK {
 public:
  static constexpr int32_t kNone = -1;

  GATED_CLOCK_WALK(const SSC_NETLIST_DATA& data, const std::vector<int>& clock_of_source)
      : m_data(data), m_clock_of_source(clock_of_source) {}

  // Settles every node before the given clock sources (COMB nodes);
  // `registers` are the registers clocked from them (each traced clock
  // source is among `sources`).
  void settle(const std::vector<uint32_t>& sources, const std::vector<uint32_t>& registers) {
    const size_t n = m_data.nodes.size();
    m_state.assign(n, kNone);
    constexpr uint32_t kOpen = UINT32_MAX - 1;   // on the stack
    std::vector<uint32_t> local(n, UINT32_MAX);  // node -> place in `cone`
    std::vector<uint32_t> cone;                  // COMB nodes, in post-order
    std::vector<std::pair<uint32_t, uint32_t>> stack;  // (node, next fan-in arc)
    for (uint32_t s : sources) {
      if (local[s] != UINT32_MAX || !enters(s)) continue;
      local[s] = kOpen;
      stack.push_back({s, arc_begin(s)});
      while (!stack.empty()) {
        auto& [v, arc] = stack.back();
        if (arc == arc_end(v)) {
          local[v] = uint32_t(cone.size());
          cone.push_back(v);
          stack.pop_back();
          continue;
        }
        const TDB_ARC& a = m_data.arcs[arc++];
        if (a.m_kind != TDB_ARC_DATA || local[a.m_src] != UINT32_MAX || !enters(a.m_src)) continue;
        local[a.m_src] = kOpen;
        stack.push_back({a.m_src, arc_begin(a.m_src)});
      }
    }
    // Leaves: a clock's source carries its clock's own edge.
    for (uint32_t v = 0; v < n; ++v)
      if (m_clock_of_source[v] >= 0) m_state[v] = 4 * m_clock_of_source[v] + 1;
    // Fan-out within the cone, as offsets into one array of (node, arc);
    // and the arcs by which the walk enters it (from ports, registers and
    // clock sources; a node of the cone without inputs is its own entry),
    // by the name of the node they come from.
    std::vector<uint32_t> begin(cone.size() + 1, 0);
    std::vector<std::pair<uint32_t, uint32_t>> fanout, entries;
    for (uint32_t v : cone)
      for (uint32_t k = arc_begin(v); k < arc_end(v); ++k)
        if (in_cone(m_data.arcs[k], local)) ++begin[local[m_data.arcs[k].m_src] + 1];
    for (size_t i = 0; i < cone.size(); ++i) begin[i + 1] += begin[i];
    fanout.resize(begin.back());
    std::vector<uint32_t> fill(begin.begin(), begin.end() - 1);
    // A register clocked from the cone whose output feeds it closes a loop
    // through its clock-to-output arc, as OpenSTA's levelizer counts that
    // arc: for the cut such a register is a node of its own after the cone
    // (place cone.size() + k), entered from its traced clock source and
    // feeding the cone's nodes it drives, and not an entry.
    std::vector<uint32_t> loop_regs;  // registers whose output feeds the cone
    std::vector<uint32_t> reg_place;  // node -> k, for those (else UINT32_MAX)
    if (!registers.empty()) {
      std::vector<char> feeds(n, 0);
      for (uint32_t v : cone)
        for (uint32_t k = arc_begin(v); k < arc_end(v); ++k)
          if (m_data.arcs[k].m_kind == TDB_ARC_DATA) feeds[m_data.arcs[k].m_src] = 1;
      reg_place.assign(n, UINT32_MAX);
      for (uint32_t r : registers)
        if (feeds[r] && reg_place[r] == UINT32_MAX) {
          reg_place[r] = uint32_t(loop_regs.size());
          loop_regs.push_back(r);
        }
      if (loop_regs.empty()) reg_place.clear();
    }
    for (uint32_t v : cone) {
      bool fed = false;
      for (uint32_t k = arc_begin(v); k < arc_end(v); ++k) {
        const TDB_ARC& a = m_data.arcs[k];
        if (a.m_kind != TDB_ARC_DATA) continue;
        fed = true;
        if (in_cone(a, local)) fanout[fill[local[a.m_src]]++] = {local[v], k};
        else if (reg_place.empty() || reg_place[a.m_src] == UINT32_MAX) entries.push_back({a.m_src, local[v]});
      }
      if (!fed) entries.push_back({v, local[v]});
    }
    // The walk's order, as OpenSTA's levelizer takes it: from the ports
    // (roots) by name, a register reached from its clock's source, and a
    // node's readers in the order of their gates, logic before registers
    // (an entry's key: its root, then the first node it reaches).
    auto root_of = [&](const std::pair<uint32_t, uint32_t>& e) {
      const TDB_NODE& x = m_data.nodes[e.first];
      return x.get_kind() == TDB_NODE_REGISTER && x.get_clock_source() >= 0 ? uint32_t(x.get_clock_source()) : e.first;
    };
    // A register whose clock comes through buffers or inverters is a
    // reader of its clock's source through the first of them, a gate, in
    // that gate's place, as OpenSTA's levelizer meets it.
    auto reader_key = [&](uint32_t node) {
      if (m_data.nodes[node].get_kind() == TDB_NODE_REGISTER) node = clock_reader(node);
      return uint64_t(m_data.nodes[node].get_kind() == TDB_NODE_REGISTER) << 32 | node;
    };
    auto load_of = [&](const std::pair<uint32_t, uint32_t>& e) {
      return reader_key(m_data.nodes[e.first].get_kind() == TDB_NODE_REGISTER ? e.first : cone[e.second]);
    };
    {
      // Each entry's key once (a register's takes a walk along its clock).
      std::vector<std::tuple<uint32_t, uint64_t, uint32_t>> keyed(entries.size());
      for (uint32_t i = 0; i < entries.size(); ++i) keyed[i] = {root_of(entries[i]), load_of(entries[i]), i};
      std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& x, const auto& y) {
        const uint32_t rx = std::get<0>(x), ry = std::get<0>(y);
        if (rx != ry) {
          const int c = m_data.nodes[rx].get_string_name().compare(m_data.nodes[ry].get_string_name());
          if (c != 0) return c < 0;
        }
        return std::get<1>(x) < std::get<1>(y);
      });
      std::vector<std::pair<uint32_t, uint32_t>> sorted(entries.size());
      for (size_t i = 0; i < keyed.size(); ++i) sorted[i] = entries[std::get<2>(keyed[i])];
      entries.swap(sorted);
    }
    if (loop_regs.empty()) {
      for (size_t i = 0; i < cone.size(); ++i)
        std::sort(fanout.begin() + begin[i], fanout.begin() + begin[i + 1],
                  [&](const auto& x, const auto& y) { return reader_key(cone[x.first]) < reader_key(cone[y.first]); });
      cut_loops(begin, fanout, entries);
    } else {
      // The cut's graph: each cone node's fan-out in the cone, then the
      // registers it clocks; each register's fan-out into the cone.
      const uint32_t nc = uint32_t(cone.size()), nr = uint32_t(loop_regs.size());
      std::vector<uint32_t> xbegin(nc + nr + 1, 0);
      for (uint32_t i = 0; i < nc; ++i) xbegin[i + 1] = begin[i + 1] - begin[i];
      for (uint32_t r : loop_regs) ++xbegin[local[uint32_t(m_data.nodes[r].get_clock_source())] + 1];
      for (uint32_t v : cone)
        for (uint32_t k = arc_begin(v); k < arc_end(v); ++k)
          if (m_data.arcs[k].m_kind == TDB_ARC_DATA && reg_place[m_data.arcs[k].m_src] != UINT32_MAX)
            ++xbegin[nc + reg_place[m_data.arcs[k].m_src] + 1];
      for (size_t i = 0; i + 1 < xbegin.size(); ++i) xbegin[i + 1] += xbegin[i];
      std::vector<std::pair<uint32_t, uint32_t>> xfanout(xbegin.back());
      std::vector<uint32_t> xfill(xbegin.begin(), xbegin.end() - 1);
      for (uint32_t i = 0; i < nc; ++i)
        for (uint32_t f = begin[i]; f < begin[i + 1]; ++f) xfanout[xfill[i]++] = fanout[f];
      for (uint32_t k = 0; k < nr; ++k) {
        const uint32_t r = loop_regs[k];
        // Its clock-to-output arc is numbered past the netlist's arcs, so
        // a cut there cuts no data arc.
        xfanout[xfill[local[uint32_t(m_data.nodes[r].get_clock_source())]]++] = {nc + k, uint32_t(m_data.arcs.size()) + k};
      }
      for (uint32_t v : cone)
        for (uint32_t k = arc_begin(v); k < arc_end(v); ++k)
          if (m_data.arcs[k].m_kind == TDB_ARC_DATA && reg_place[m_data.arcs[k].m_src] != UINT32_MAX)
            xfanout[xfill[nc + reg_place[m_data.arcs[k].m_src]]++] = {local[v], k};
      auto node_at = [&](uint32_t j) { return j < nc ? cone[j] : loop_regs[j - nc]; };
      for (size_t i = 0; i + 1 < xbegin.size(); ++i)
        std::sort(xfanout.begin() + xbegin[i], xfanout.begin() + xbegin[i + 1], [&](const auto& x, const auto& y) {
          return reader_key(node_at(x.first)) < reader_key(node_at(y.first));
        });
      cut_loops(xbegin, xfanout, entries);
    }
    // The worklist, first in post-order.
    std::vector<uint32_t> work(cone.size());
    std::vector<char> queued(cone.size(), 1);
    for (uint32_t i = 0; i < cone.size(); ++i) work[i] = i;
    for (size_t head = 0; head < work.size(); ++head) {
      const uint32_t i = work[head];
      queued[i] = 0;
      const uint32_t v = cone[i];
      const int32_t s = evaluate(v);
      if (s == m_state[v]) continue;
      m_state[v] = s;
      for (uint32_t f = begin[i]; f < begin[i + 1]; ++f)
        if (!queued[fanout[f].first]) {
          queued[fanout[f].first] = 1;
          work.push_back(fanout[f].first);
        }
    }
  }
  // The clocks reaching a settled node, each as 4 * clock + edges, by clock
  // index (empty: none).
  std::pair<const int32_t*, const int32_t*> clocks(uint32_t v) const {
    const int32_t& s = m_state[v];
    if (s == kNone) return {&s, &s};
    if (s >= 0) return {&s, &s + 1};
    const std::vector<int32_t>& set = m_sets[size_t(-2 - s)]->first;
    return {set.data(), set.data() + set.size()};
  }

 private:
  uint32_t arc_begin(uint32_t v) const { return SSC_NETLIST_DATA::arc_begin(m_data.nodes[v]); }
  uint32_t arc_end(uint32_t v) const { return SSC_NETLIST_DATA::arc_end(m_data.nodes[v]); }
  // The gate through which register r reads its traced clock source: the
  // first of the buffers and inverters between them (each a logic node of
  // one data arc), found back from r's clock input; r itself where the
  // source drives its clock pin.
  uint32_t clock_reader(uint32_t r) const {
    const uint32_t k = clock_pin_arc(m_data, r);
    if (k == UINT32_MAX) return r;
    const uint32_t s = uint32_t(m_data.nodes[r].get_clock_source());
    uint32_t prev = r;
    for (uint32_t u = m_data.arcs[k].m_src; u != s; u = clock_path_arc(m_data, u).m_src) prev = u;
    return prev;
  }
  // Whether the walk enters u: logic that is not a clock's source (ports
  // and registers pass no clock).
  bool enters(uint32_t u) const {
    return m_clock_of_source[u] < 0 && m_data.nodes[u].get_kind() == TDB_NODE_COMB;
  }
  // Whether arc a comes from a node of the cone (every one is in its place
  // by then).
  static bool in_cone(const TDB_ARC& a, const std::vector<uint32_t>& local) {
    return a.m_kind == TDB_ARC_DATA && local[a.m_src] != UINT32_MAX;
  }
  // Loops in the logic are cut by a walk forward from each entry in turn,
  // depth first: it leaves out every arc into a node on its own path
  // (m_cut, sorted).
  void cut_loops(const std::vector<uint32_t>& begin, const std::vector<std::pair<uint32_t, uint32_t>>& fanout,
                 const std::vector<std::pair<uint32_t, uint32_t>>& entries) {
    const size_t n = begin.size() - 1;
    std::vector<char> mark(n, 0);  // 1 on the path, 2 done
    std::vector<std::pair<uint32_t, uint32_t>> stack;  // (node, next fan-out)
    for (const auto& [source, first] : entries) {
      if (mark[first]) continue;
      mark[first] = 1;
      stack.push_back({first, begin[first]});
      while (!stack.empty()) {
        auto& [i, f] = stack.back();
        if (f == begin[i + 1]) {
          mark[i] = 2;
          stack.pop_back();
          continue;
        }
        const auto [j, arc] = fanout[f++];
        if (mark[j] == 1) {
          m_cut.push_back(arc);
        } else if (mark[j] == 0) {
          mark[j] = 1;
          stack.push_back({j, begin[j]});
        }
      }
    }
    std::sort(m_cut.begin(), m_cut.end());
  }
  // The union of the clocks of v's data inputs, each through its arc's
  // sense (the gate's, or as kept for an arc of a loaded netlist),
  // gathered in m_scratch (by clock) and kept as a state.
  int32_t evaluate(uint32_t v) {
    m_scratch.clear();
    for (uint32_t k = arc_begin(v); k < arc_end(v); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind != TDB_ARC_DATA || m_state[arc.m_src] == kNone) continue;
      if (!m_cut.empty() && std::binary_search(m_cut.begin(), m_cut.end(), k)) continue;
      const int sense = ssc_arc_sense(arc);
      for (auto [it, end] = clocks(arc.m_src); it != end; ++it) {
        const int32_t edges = *it & 3;
        const int32_t e = sense == 0 ? 3 : sense < 0 ? ((edges & 1) << 1) | (edges >> 1) : edges;
        auto at = std::lower_bound(m_scratch.begin(), m_scratch.end(), *it & ~3);
        if (at != m_scratch.end() && (*at & ~3) == (*it & ~3)) *at |= e;
        else m_scratch.insert(at, (*it & ~3) | e);
      }
    }
    if (m_scratch.empty()) return kNone;
    if (m_scratch.size() == 1) return m_scratch.front();
    auto found = m_set_index.find(m_scratch);
    if (found == m_set_index.end()) {
      found = m_set_index.emplace(m_scratch, int32_t(m_sets.size())).first;
      m_sets.push_back(&*found);
    }
    return -2 - found->second;
  }

  const SSC_NETLIST_DATA& m_data;
  const std::vector<int>& m_clock_of_source;
  std::vector<int32_t> m_state;
  std::vector<int32_t> m_scratch;
  std::vector<uint32_t> m_cut;  // loop arcs that carry no clock
  std::map<std::vector<int32_t>, int32_t> m_set_index;  // each set of several clocks once
  std::vector<const std::pair<const std::vector<int32_t>, int32_t>*> m_sets;
};

// Whether a rule is held in the launch and capture sets: a max-delay rule
// with a side, and a false path with both sides that names points on one
// (false paths between clocks, and from or to points alone, are applied
// apart: clock_pair_false, m_no_start, m_no_end).
bool in_rule_sets(const SSC_SDC_PATH_RULE& r) {
  if (r.max_delay) return r.has_from || r.has_to;
  return r.has_from && r.has_to && (!r.from_nodes.empty() || !r.to_nodes.empty());
}

// Whether path rule x (index i) wins over rule y (index j) where both
// cover a path, as OpenSTA ranks them: a false path beats any max-delay
// rule; then a rule naming start points beats one naming end points, which
// beats one naming launch clocks, then capture clocks (the sum of these
// ranks counts); among equals the later one.
bool better_rule(const SSC_SDC_PATH_RULE& x, int i, const SSC_SDC_PATH_RULE& y, int j) {
  auto rank = [](const SSC_SDC_PATH_RULE& r) {
    return (r.max_delay ? 0 : 16) + (r.from_nodes.empty() ? 0 : 8) + (r.to_nodes.empty() ? 0 : 4) +
           (r.from_clocks.empty() ? 0 : 2) + (r.to_clocks.empty() ? 0 : 1);
  };
  return rank(x) != rank(y) ? rank(x) > rank(y) : i > j;
}

// The index of the rules of c that rule sets hold (SSC_PATH_RULE_INDEX).
void make_rule_index(const SSC_CONSTRAINTS& c, SSC_PATH_RULE_INDEX* ix) {
  *ix = SSC_PATH_RULE_INDEX();
  for (int side = 0; side < 2; ++side) ix->by_clock[side].assign(c.clocks.size(), {});
  for (size_t r = 0; r < c.rules.size(); ++r) {
    const SSC_SDC_PATH_RULE& rule = c.rules[r];
    if (!in_rule_sets(rule)) continue;
    for (int side = 0; side < 2; ++side) {
      if (!(side ? rule.has_to : rule.has_from)) {
        ix->every[side].push_back(int(r));
        continue;
      }
      for (int k : side ? rule.to_clocks : rule.from_clocks) ix->by_clock[side][size_t(k)].push_back(int(r));
      for (uint32_t v : side ? rule.to_nodes : rule.from_nodes) ix->named[side].push_back({v, int(r)});
    }
  }
  for (int side = 0; side < 2; ++side) std::sort(ix->named[side].begin(), ix->named[side].end());
  ix->built = true;
  ssc_note_test_event(SSC_TEST_RULE_INDEX);
}

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
  char path_delay = 0;  // timed by a max-delay rule (2: one ignoring clock latency)
};

// What a lookup that finds nothing returns; constant-initialised.
constinit const std::vector<int> g_no_ints;

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
  int rules_at(uint32_t v, int clock, bool capture);
  bool holds_max_delay(int rule_set) const {
    for (int r : m_out->rule_sets[size_t(rule_set)].named)
      if (m_out->constraints().rules[size_t(r)].max_delay) return true;
    return false;
  }
  bool has_unclocked_start(const std::vector<char>& delayed) const;
  std::vector<std::vector<int>> port_delay_clocks() const;
  void find_unclocked_launches();
  const std::vector<int>& unclocked_launches(int source) const;
  void hoist_clock_nets();
  // A net inside the logic that a clock is created on, where data from
  // before it stops (hoist_clock_nets).
  bool is_clock_net(uint32_t v) const {
    return m_registers.of_source[v] >= 0 && m_data.nodes[v].get_kind() == TDB_NODE_COMB;
  }
  // A register whose output a clock is created on launches as that clock's
  // data alone (clock_data_ports), not on its own clock, as in OpenSTA.
  bool launches_clock_data(uint32_t reg) const {
    return m_out->constraints().clocks_start_at_sources && m_registers.of_source[reg] >= 0;
  }
  void make_groups();
  bool clock_pair_false(int from, int to, int via = -1) const;
  int clock_rule(int launch_clock, int capture_clock);
  int winning_rule(int launch_set, int capture_set);
  RELATION work_out_relation(int g, int h);
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
  void bound_relations(bool bounded);
  void prepare_relations();
  std::vector<char> launching_groups() const;
  bool use_per_group_passes(const std::vector<char>& launches);
  // ssc_saturate that keeps the first node where a time went past the
  // range (SSC_ANALYSIS::saturated_node), for the analysis's one warning;
  // saturate_on_arc names the arc's source. The note is out of line: the
  // passes pay one compare.
  int32_t saturate_at(int64_t t, uint32_t node) const {
    if (t < SSC_TIME_MIN || t > SSC_TIME_MAX) [[unlikely]] return saturated(t, node);
    return int32_t(t);
  }
  int32_t saturate_on_arc(int64_t t, uint32_t arc) const {
    if (t < SSC_TIME_MIN || t > SSC_TIME_MAX) [[unlikely]] return saturated(t, m_data.arcs[arc].m_src);
    return int32_t(t);
  }
  [[gnu::cold, gnu::noinline]] int32_t saturated(int64_t t, uint32_t node) const {
    if (m_out->saturated_node < 0) m_out->saturated_node = int64_t(node);
    return ssc_saturate(t);
  }
  void forward_one(int g, std::vector<int32_t>* a) const;
  void backward_one(int h, std::vector<int32_t>* d) const;
  void forward(const std::vector<char>& launches);
  void index_fanout();
  void backward();
  bool required_times_cover_data_arcs() const;
  bool downstream_within_exact_range() const;
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
  bool within_exact_range() const;
  bool required_pass();
  // Calls f(i, j) for each entry i of the arrivals at u and the entry j of
  // the same group in those at w (every group at u reaches w: a data arc
  // into a comb node, not cut).
  template <class F>
  void each_matching_arrival(uint32_t u, uint32_t w, F&& f) const;
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
  // The topological order and each node's place in it (nets a clock is
  // created on share place 0: hoist_clock_nets).
  std::vector<uint32_t> m_order, m_pos;
  SSC_REGISTER_CLOCKS m_registers;  // each source's first clock, each register's clock and edge
  uint32_t m_clock_nets = 0;        // nets is_clock_net, the order's first nodes (hoist_clock_nets)
  // Max-delay rules by side (0 from, 1 to): those without the side (in no
  // rule set: they hold every point), those naming a clock (per clock), and
  // (node, rule) pairs of named points.
  // The read's index of them (SSC_PATH_RULE_INDEX), or m_own_index.
  const SSC_PATH_RULE_INDEX* m_ix = nullptr;
  SSC_PATH_RULE_INDEX m_own_index;
  std::map<SSC_RULE_SET, int> m_rule_set_index;
  SSC_RULE_SET m_key;  // the set rules_at looks up
  // The winning rule among those implied by a launch and a capture set's
  // clocks, per pair of clocks met (key (launch + 1) << 32 | capture + 1).
  std::unordered_map<uint64_t, int> m_clock_rules;
  std::map<std::tuple<int, bool, bool, int, bool, int>, int> m_group_index;
  std::vector<int> m_scratch;
  // Starts per launch group (node, arrival); captures per node.
  std::vector<std::vector<std::pair<uint32_t, int32_t>>> m_starts;
  std::vector<uint32_t> m_cap_begin;
  std::vector<CAPTURE_ENTRY> m_caps;
  std::vector<char> m_no_start, m_no_end;
  // Per clock source of registers without a clock: the clocks `via` their
  // launches carry (-1: none), sorted; no launch where empty.
  std::map<uint32_t, std::vector<int>> m_unclocked_launches;
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
  static constexpr int kBoundedPairBits = 14;
  bool m_dense = true;
  bool m_pairs_bounded = false;  // m_pairs keeps the last pair per slot (bound_relations)
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
  // The fan-out the downstream pass reads (data arcs into comb nodes not
  // cut, capture arcs into nodes that capture): arc indices by source node,
  // and the node each enters.
  std::vector<uint32_t> m_fo_begin, m_fanout, m_fo_owner;
  // Per arrival entry of a node: the launch group's required time at the
  // node over every capture group downstream, min over h of relation(g, h)
  // - downstream_h (+inf where no pair is timed), the least capture group
  // giving it and that pair's relation, and the same for the relaxed
  // relation. Made (required_pass) where no time can come near the 32-bit
  // range, so that every sum is exact: an arc's slack is then the least
  // over its launch groups of required - arrival - arc, O(groups at its
  // source) rather than O(launch x capture groups). A node's required
  // times are held only from the first of its readers the pass meets to the
  // node itself (REQUIRED_POOL), not for every node at once.
  struct REQUIRED {
    int32_t req, relaxed, first, rel;
  };
  static constexpr int32_t kNoRequired = INT32_MAX;
  // Blocks of required times, of a power-of-two size each, taken and given
  // back through a free list per size: what is held at once is the blocks
  // of the nodes between a reader and the node, not one per arrival.
  class REQUIRED_POOL {
   public:
    static constexpr uint32_t kNoBlock = UINT32_MAX;
    // A block for `count` entries (at least 1), every entry without a
    // required time; its place, valid until the next take.
    uint32_t take(uint32_t count) {
      const int size_class = std::bit_width(count - 1);
      uint32_t at;
      if (!m_free[size_class].empty()) {
        at = m_free[size_class].back();
        m_free[size_class].pop_back();
      } else {
        at = uint32_t(m_slots.size());
        m_slots.resize(m_slots.size() + (size_t(1) << size_class));
      }
      std::fill_n(m_slots.begin() + at, count, REQUIRED{kNoRequired, kNoRequired, kNoRequired, NONE});
      return at;
    }
    void give(uint32_t at, uint32_t count) { m_free[std::bit_width(count - 1)].push_back(at); }
    REQUIRED* operator[](uint32_t at) { return m_slots.data() + at; }
    // Slots made so far: the most held at once (freed blocks are reused).
    size_t slots() const { return m_slots.size(); }

   private:
    std::vector<REQUIRED> m_slots;
    std::vector<uint32_t> m_free[33];
  };
  bool m_use_required = false;
  // Scratch of a merge: the best time per group (NONE: not met) and the
  // groups met.
  std::vector<int32_t> m_best;
  std::vector<int32_t> m_touched;
};

void ANALYZER::index_rules() {
  const SSC_CONSTRAINTS& c = m_out->constraints();
  if (c.rule_index.built) {
    m_ix = &c.rule_index;
  } else {
    make_rule_index(c, &m_own_index);
    m_ix = &m_own_index;
  }
  m_out->rule_sets.assign(1, SSC_RULE_SET());
  m_rule_set_index[SSC_RULE_SET()] = 0;
}

// The set of max-delay rules whose from (to) side holds node v launched
// (captured) by `clock` (-1: none), as an index of rule_sets: the rules
// naming the point that the clock's rules do not hold already, and the
// clock whose rules the set implies (-1 where it has none on that side).
int ANALYZER::rules_at(uint32_t v, int clock, bool capture) {
  const int side = capture ? 1 : 0;
  m_scratch.clear();
  const auto& named = m_ix->named[side];
  for (auto it = std::lower_bound(named.begin(), named.end(), std::make_pair(v, INT_MIN));
       it != named.end() && it->first == v; ++it) {
    const SSC_SDC_PATH_RULE& rule = m_out->constraints().rules[size_t(it->second)];
    const std::vector<int>& clocks = capture ? rule.to_clocks : rule.from_clocks;
    if (clock < 0 || std::find(clocks.begin(), clocks.end(), clock) == clocks.end()) m_scratch.push_back(it->second);
  }
  const int rule_clock = clock >= 0 && !m_ix->by_clock[side][size_t(clock)].empty() ? clock : -1;
  if (m_scratch.empty() && rule_clock < 0) return 0;
  // In rule order already (the pairs are sorted), a rule once per point
  // it names.
  m_scratch.erase(std::unique(m_scratch.begin(), m_scratch.end()), m_scratch.end());
  // Looked up without a copy of the rules; copied only when new.
  m_key.clock = rule_clock;
  m_key.named.swap(m_scratch);
  auto it = m_rule_set_index.find(m_key);
  if (it == m_rule_set_index.end()) {
    it = m_rule_set_index.emplace(m_key, int(m_out->rule_sets.size())).first;
    m_out->rule_sets.push_back(m_key);
  }
  m_key.named.swap(m_scratch);
  return it->second;
}

// Whether a start point without a clock is left once false paths from
// points have removed theirs: a register whose clock no create_clock names
// (its launches start at the ports before its clock pin: removed with
// them), a data input port without input delay, or one whose input delay
// names no clock.
bool ANALYZER::has_unclocked_start(const std::vector<char>& delayed) const {
  for (uint32_t v = 0; v < uint32_t(m_data.nodes.size()); ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    const int s = node.get_clock_source();
    if (m_no_start[v]) continue;
    if (node.get_kind() == TDB_NODE_REGISTER && m_registers.clock[v] < 0 && !launches_clock_data(v) &&
        (s < 0 || !unclocked_launches(s).empty()))
      return true;
    if (node.get_kind() == TDB_NODE_IN_PORT && !delayed[v] && m_registers.of_source[v] < 0) return true;
  }
  for (const SSC_SDC_IO_DELAY& d : m_out->constraints().io_delays)
    if (d.input && d.clock < 0)
      for (uint32_t v : d.nodes)
        if (!m_no_start[v] && m_data.nodes[v].get_kind() == TDB_NODE_IN_PORT) return true;
  return false;
}

// Per node, the clocks of the input delays on it (for the registers whose
// clock port has no clock but an input delay).
std::vector<std::vector<int>> ANALYZER::port_delay_clocks() const {
  std::vector<std::vector<int>> out(m_data.nodes.size());
  for (const SSC_SDC_IO_DELAY& d : m_out->constraints().io_delays)
    if (d.input && d.clock >= 0)
      for (uint32_t v : d.nodes)
        if (std::find(out[v].begin(), out[v].end(), d.clock) == out[v].end()) out[v].push_back(d.clock);
  return out;
}

// A register without a clock launches where OpenSTA starts its paths: at
// the input ports whose data reaches its clock pin (through logic, and on
// through the clock pins of registers without a clock of their own), each
// launch with a clock of the port's input delays as `via` (-1 for a port
// without one); a false path from a port removes the port's launches, and a
// port only -min input delays name launches none. A register with a clock
// there starts an unclocked launch that no false path from points or
// clocks removes. Arcs cut for the topological order are not followed, as
// the arrivals do not follow them. One walk (an explicit stack) per
// distinct clock source.
void ANALYZER::find_unclocked_launches() {
  const SSC_CONSTRAINTS& c = m_out->constraints();
  const uint32_t n = uint32_t(m_data.nodes.size());
  std::vector<std::vector<int>> delay_clocks;  // built when needed
  std::vector<char> delayed_port, seen;
  std::vector<uint32_t> stack, visited;
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    const int s = node.get_clock_source();
    if (node.get_kind() != TDB_NODE_REGISTER || m_registers.clock[v] >= 0 || s < 0 || uint32_t(s) >= n ||
        m_unclocked_launches.count(uint32_t(s)))
      continue;
    if (delay_clocks.empty()) {
      delay_clocks = port_delay_clocks();
      delayed_port.assign(n, 0);
      for (const SSC_SDC_IO_DELAY& d : c.io_delays)
        if (d.input)
          for (uint32_t u : d.nodes) delayed_port[u] |= d.clock < 0 ? 2 : 1;  // 2: a delay without a clock
      seen.assign(n, 0);
    }
    std::vector<int>& vias = m_unclocked_launches[uint32_t(s)];
    stack.assign(1, uint32_t(s));
    seen[s] = 1;
    visited.assign(1, uint32_t(s));
    while (!stack.empty()) {
      const uint32_t u = stack.back();
      stack.pop_back();
      const TDB_NODE& x = m_data.nodes[u];
      auto enter = [&](int w) {
        if (w >= 0 && uint32_t(w) < n && !seen[w]) {
          seen[w] = 1;
          visited.push_back(uint32_t(w));
          stack.push_back(uint32_t(w));
        }
      };
      switch (x.get_kind()) {
        case TDB_NODE_IN_PORT:
          if (m_no_start[u]) break;
          vias.insert(vias.end(), delay_clocks[u].begin(), delay_clocks[u].end());
          if ((delayed_port[u] & 2) ||
              (!delayed_port[u] && !std::binary_search(c.min_delay_inputs.begin(), c.min_delay_inputs.end(), u)))
            vias.push_back(-1);
          break;
        case TDB_NODE_REGISTER:
          if (m_registers.clock[u] >= 0 || x.get_clock_source() < 0) vias.push_back(-1);
          else enter(x.get_clock_source());
          break;
        case TDB_NODE_COMB:
          // Arcs cut for the topological order (a loop) carry no data here
          // either.
          for (uint32_t k = SSC_NETLIST_DATA::arc_begin(x); k < SSC_NETLIST_DATA::arc_end(x); ++k)
            if (m_data.arcs[k].m_kind == TDB_ARC_DATA && m_pos[m_data.arcs[k].m_src] < m_pos[u])
              enter(int(m_data.arcs[k].m_src));
          break;
        default:
          break;
      }
    }
    for (uint32_t u : visited) seen[u] = 0;
    std::sort(vias.begin(), vias.end());
    vias.erase(std::unique(vias.begin(), vias.end()), vias.end());
  }
}

const std::vector<int>& ANALYZER::unclocked_launches(int source) const {
  const std::vector<int>& none = g_no_ints;
  auto it = m_unclocked_launches.find(uint32_t(source));
  return it == m_unclocked_launches.end() ? none : it->second;
}

void ANALYZER::make_groups() {
  const SSC_CONSTRAINTS& c = m_out->constraints();
  const uint32_t n = uint32_t(m_data.nodes.size());
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
  // A port only -min I/O delays name starts or ends no setup path (OpenSTA).
  for (uint32_t v : c.min_delay_inputs) delayed[v] = 1;
  for (uint32_t v : c.min_delay_outputs) delayed[v] = 1;
  find_unclocked_launches();
  const bool split_ports = has_unclocked_start(delayed);
  const bool ignore_latency = std::any_of(c.rules.begin(), c.rules.end(), [](const SSC_SDC_PATH_RULE& r) {
    return r.max_delay && r.ignore_clock_latency;
  });
  // Starts: clocked registers at 0, input ports at their input delays, and
  // points without a clock at 0 (see the file's head). A register without
  // a clock launches from the ports before its clock pin, as OpenSTA starts
  // its paths there (find_unclocked_launches): a false path from the clock
  // `via` of a port's input delay alone removes that launch; max-delay
  // rules from those ports or clocks do not time them (OpenSTA carries only
  // false paths past the register's clock-to-output arc).
  auto start = [&](uint32_t v, int clock, bool falling, int32_t at, int via = -1) {
    if (m_no_start[v]) return;
    if (clock < 0) falling = false;
    const int rules = rules_at(v, clock, false);
    const bool at_port =
        ignore_latency && clock >= 0 && via != kClockData && m_data.nodes[v].get_kind() == TDB_NODE_IN_PORT;
    const size_t g = size_t(group_of(clock, falling, false, rules, at_port, via));
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
    if (clock < 0 && m_ix->every[1].empty() && !holds_max_delay(rules)) return;
    const bool at_port = split_ports && clock >= 0 && m_data.nodes[v].get_kind() == TDB_NODE_OUT_PORT;
    caps[v].push_back({group_of(clock, falling, true, rules, at_port), offset});
  };
  // A register launches and captures on each edge of each clock that
  // reaches it (several behind gates, both edges behind a gate not unate
  // in the clock), as OpenSTA times it.
  // A register whose output is a clock's source launches that clock's data
  // alone (below), and captures on its own clocks.
  bool own_launch = true;
  auto clocked = [&](uint32_t v, int k, char edges) {
    for (const bool falling : {false, true})
      if (edges & (falling ? 2 : 1)) {
        capture(v, k, falling, 0);
        if (own_launch) start(v, k, falling, 0);
      }
  };
  auto more = m_registers.more.begin();
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_REGISTER) continue;
    const int s = node.get_clock_source();
    const int k = m_registers.clock[v];
    own_launch = !launches_clock_data(v);
    if (k >= 0) {
      clocked(v, k, m_registers.edges[v]);
      for (; more != m_registers.more.end() && more->reg <= v; ++more)
        if (more->reg == v) clocked(v, more->clock, more->edges);
      continue;
    }
    capture(v, -1, false, 0);
    if (!own_launch) continue;
    if (s < 0) {
      start(v, -1, false, 0);
      continue;
    }
    for (int via : unclocked_launches(s)) start(v, -1, false, 0, via);
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
  // A clock source that also feeds data logic (a port, or a net inside the
  // logic: a gate's output, a register's) launches data at each edge of
  // each of its clocks, as OpenSTA launches a clock used as data, whatever
  // input delays name a port (those launch beside it, as in OpenSTA). It
  // launches at 0 as a register does; while a max-delay rule ignores clock
  // latency, in groups of its own (kClockData), which such a rule does not
  // time (work_out_relation).
  for (uint32_t v : c.clock_data_ports) {
    if (v >= n) continue;
    for (size_t k = 0; k < c.clocks.size(); ++k)
      if (std::count(c.clocks[k].sources.begin(), c.clocks[k].sources.end(), v)) {
        start(v, int(k), false, 0, ignore_latency ? kClockData : -1);
        start(v, int(k), true, 0, ignore_latency ? kClockData : -1);
      }
  }
  m_starts.resize(m_out->groups.size());
  m_cap_begin.assign(n + 1, 0);
  for (uint32_t v = 0; v < n; ++v) {
    m_cap_begin[v + 1] = m_cap_begin[v] + uint32_t(caps[v].size());
    m_caps.insert(m_caps.end(), caps[v].begin(), caps[v].end());
  }
}

// Whether a false path between clocks (-1: none) removes the pair. A
// launch without a clock through a port whose input delay names clock `via`
// is removed by a false path from that clock alone (without -to), as
// OpenSTA applies it, not by one between that clock and capture clocks.
bool ANALYZER::clock_pair_false(int from, int to, int via) const {
  for (int k : m_false_clock_rules) {
    const SSC_SDC_PATH_RULE& r = m_out->constraints().rules[size_t(k)];
    const bool f = !r.has_from || (from >= 0 && std::count(r.from_clocks.begin(), r.from_clocks.end(), from));
    const bool t = !r.has_to || (to >= 0 && std::count(r.to_clocks.begin(), r.to_clocks.end(), to));
    if (f && t) return true;
    if (via >= 0 && !r.has_to && std::count(r.from_clocks.begin(), r.from_clocks.end(), via)) return true;
  }
  return false;
}

// The path rule that times the paths between a launch and a capture set
// (a false path: removes them), -1 for none. As OpenSTA ranks them: a false
// path beats any max-delay rule, a rule naming start points beats one
// naming end points, which beats one naming launch clocks, then capture
// clocks (the sum of these ranks counts); among equals the later one wins.
// The rules of both sides: those both sets name; those one set names that
// the other implies (its clock's rules, and the rules without its side);
// and those both sets imply (clock_rule).
int ANALYZER::winning_rule(int launch_set, int capture_set) {
  const std::vector<SSC_SDC_PATH_RULE>& rules = m_out->constraints().rules;
  const SSC_RULE_SET& a = m_out->rule_sets[size_t(launch_set)];
  const SSC_RULE_SET& b = m_out->rule_sets[size_t(capture_set)];
  auto names = [](const std::vector<int>& clocks, int k) {
    return k >= 0 && std::find(clocks.begin(), clocks.end(), k) != clocks.end();
  };
  int best = clock_rule(a.clock, b.clock);
  auto consider = [&](int r) {
    if (best < 0 || better_rule(rules[size_t(r)], r, rules[size_t(best)], best)) best = r;
  };
  for (int r : a.named)
    if (!rules[size_t(r)].has_to || names(rules[size_t(r)].to_clocks, b.clock)) consider(r);
  for (int r : b.named)
    if (!rules[size_t(r)].has_from || names(rules[size_t(r)].from_clocks, a.clock)) consider(r);
  for (size_t i = 0, j = 0; i < a.named.size() && j < b.named.size();) {
    if (a.named[i] < b.named[j]) {
      ++i;
    } else if (b.named[j] < a.named[i]) {
      ++j;
    } else {
      consider(a.named[i]);
      ++i;
      ++j;
    }
  }
  return best;
}

// The winning rule among those a launch set of clock `from` and a capture
// set of clock `to` both imply (-1: a set of no clock): rules naming both
// clocks, rules naming `to` without a -from side, rules naming `from`
// without a -to side. Worked out once per pair of clocks.
int ANALYZER::clock_rule(int from, int to) {
  const uint64_t key = uint64_t(uint32_t(from + 1)) << 32 | uint32_t(to + 1);
  if (auto it = m_clock_rules.find(key); it != m_clock_rules.end()) return it->second;
  const std::vector<SSC_SDC_PATH_RULE>& rules = m_out->constraints().rules;
  const std::vector<int>& none = g_no_ints;
  const std::vector<int>& a = from >= 0 ? m_ix->by_clock[0][size_t(from)] : none;
  const std::vector<int>& b = to >= 0 ? m_ix->by_clock[1][size_t(to)] : none;
  int best = -1;
  auto consider = [&](int r) {
    if (best < 0 || better_rule(rules[size_t(r)], r, rules[size_t(best)], best)) best = r;
  };
  for (int r : a)
    if (!rules[size_t(r)].has_to) consider(r);
  for (int r : b)
    if (!rules[size_t(r)].has_from) consider(r);
  for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
    if (a[i] < b[j]) {
      ++i;
    } else if (b[j] < a[i]) {
      ++j;
    } else {
      consider(a[i]);
      ++i;
      ++j;
    }
  }
  m_clock_rules.emplace(key, best);
  return best;
}

// A path timed by a max-delay rule has the rule's value as requirement in
// place of the clock relation, whether longer or shorter; false paths
// remove both.
RELATION ANALYZER::work_out_relation(int g, int h) {
  const SSC_CONSTRAINTS& c = m_out->constraints();
  const SSC_GROUP& a = m_out->groups[size_t(g)];
  const SSC_GROUP& b = m_out->groups[size_t(h)];
  RELATION r;
  if (a.capture || !b.capture || clock_pair_false(a.clock, b.clock, a.via)) return r;
  const int rule = winning_rule(a.rule_set, b.rule_set);
  if (rule >= 0) {
    // Under -ignore_clock_latency an input port's arrival keeps its launch
    // edge's time (OpenSTA subtracts only a register's clock arrival): the
    // requirement is the rule's value less that time.
    const SSC_SDC_PATH_RULE& winner = c.rules[size_t(rule)];
    if (!winner.max_delay) return r;  // a false path removes the paths
    // OpenSTA counts the whole path of a clock used as data as clock
    // latency: under such a rule it has no delay there, whatever the logic,
    // which the passes cannot give; it is not timed (the reader warns).
    if (winner.ignore_clock_latency && a.via == kClockData) return r;
    int64_t value = winner.value;
    if (winner.ignore_clock_latency && a.at_port && a.clock >= 0) {
      const SSC_SDC_CLOCK& ca = c.clocks[size_t(a.clock)];
      value -= a.falling ? ca.fall : ca.rise;
    }
    r.rel = r.relaxed = ssc_saturate(value);
    r.path_delay = winner.ignore_clock_latency ? 2 : 1;
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
  const SSC_CONSTRAINTS& c = m_out->constraints();
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

// Where relations are met at the captures only (the required times), a
// pair is met again only at another capture of its capture group: a table
// of 2^kBoundedPairBits slots, each keeping the last pair hashed there, holds
// the pairs of the few groups that capture at many nodes, and a file of
// millions of pairs each met once costs no table of them. Else the table
// of every pair met, which grows.
void ANALYZER::bound_relations(bool bounded) {
  if (m_dense || bounded == m_pairs_bounded) return;
  m_pairs_bounded = bounded;
  m_pair_count = 0;
  const int bits = bounded ? kBoundedPairBits : 10;
  m_pair_shift = 64 - bits;
  std::vector<PAIR_SLOT>(size_t(1) << bits, PAIR_SLOT{kNoPair, RELATION()}).swap(m_pairs);
}

RELATION ANALYZER::hashed_relation(int g, int h) {
  const uint64_t key = uint64_t(uint32_t(g)) << 32 | uint32_t(h);
  const size_t mask = m_pairs.size() - 1;
  size_t at = size_t((key * 0x9E3779B97F4A7C15ull) >> m_pair_shift);
  if (m_pairs_bounded) {
    if (m_pairs[at].key != key) m_pairs[at] = PAIR_SLOT{key, work_out_relation(g, h)};
    return m_pairs[at].relation;
  }
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
  const size_t clocks = m_out->constraints().clocks.size();
  const std::vector<SSC_SDC_PATH_RULE>& rules = m_out->constraints().rules;
  // The clocks (-1: none) of the capture groups whose sets name each rule,
  // and of all capture groups (those with a clock imply its rules).
  std::vector<std::vector<int>> rule_capture_clocks(rules.size());
  std::vector<int> capture_clocks;
  std::vector<char> port_clock(clocks, 0), capture_clock(clocks, 0);
  auto add = [](std::vector<int>* list, int k) {
    if (std::find(list->begin(), list->end(), k) == list->end()) list->push_back(k);
  };
  for (const SSC_GROUP& h : m_out->groups) {
    if (!h.capture) continue;
    if (h.at_port && h.clock >= 0) port_clock[size_t(h.clock)] = 1;
    if (h.clock >= 0) capture_clock[size_t(h.clock)] = 1;
    add(&capture_clocks, h.clock);
    for (int r : m_out->rule_sets[size_t(h.rule_set)].named) add(&rule_capture_clocks[size_t(r)], h.clock);
  }
  // Whether some capture group holds rule r and no false path removes the
  // pair of clocks (launch clock `from`, through `via`).
  auto rule_timed = [&](int r, int from, int via) {
    const SSC_SDC_PATH_RULE& x = rules[size_t(r)];
    if (!x.max_delay) return false;
    auto kept = [&](int k) { return !clock_pair_false(from, k, via); };
    if (!x.has_to) return std::any_of(capture_clocks.begin(), capture_clocks.end(), kept);
    if (std::any_of(rule_capture_clocks[size_t(r)].begin(), rule_capture_clocks[size_t(r)].end(), kept)) return true;
    for (int k : x.to_clocks)
      if (capture_clock[size_t(k)] && kept(k)) return true;
    return false;
  };
  // Per launch clock and `via`: whether a rule that every launch set of
  // that clock implies (the clock's rules and those without a -from side)
  // times it into a capture group.
  std::map<std::pair<int, int>, bool> implied;
  auto implied_timed = [&](int from, int via) {
    auto [it, fresh] = implied.emplace(std::make_pair(from, via), false);
    if (fresh) {
      for (int r : m_ix->every[0]) it->second = it->second || rule_timed(r, from, via);
      if (from >= 0)
        for (int r : m_ix->by_clock[0][size_t(from)]) it->second = it->second || rule_timed(r, from, via);
    }
    return it->second;
  };
  std::vector<char> launches(groups, 0);
  for (size_t g = 0; g < groups; ++g) {
    const SSC_GROUP& a = m_out->groups[g];
    if (a.capture || m_starts[g].empty()) continue;
    bool timed = a.clock >= 0;
    for (size_t k = 0; k < clocks && !timed; ++k) timed = port_clock[k] && !clock_pair_false(a.clock, int(k), a.via);
    const SSC_RULE_SET& set = m_out->rule_sets[size_t(a.rule_set)];
    for (int r : set.named) timed = timed || rule_timed(r, a.clock, a.via);
    launches[g] = timed || implied_timed(a.clock, a.via);
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
  // The nets a clock is created on (the order's first m_clock_nets nodes)
  // hold their launches: no arc brings them anything.
  for (auto it = m_order.begin() + m_clock_nets; it != m_order.end(); ++it) {
    const uint32_t v = *it;
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_COMB) continue;
    int32_t best = NONE;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind != TDB_ARC_DATA || m_pos[arc.m_src] >= m_pos[v]) continue;
      const int32_t s = (*a)[arc.m_src];
      if (s != NONE) best = std::max(best, saturate_at(int64_t(s) + arc.m_delay, v));
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
      (*d)[arc.m_src] = std::max((*d)[arc.m_src], saturate_at(int64_t(dv) + arc.m_delay, arc.m_src));
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
  // The nets a clock is created on (the order's first m_clock_nets nodes)
  // keep their launches (seeds): no arc brings them anything.
  for (auto it = m_order.begin() + m_clock_nets; it != m_order.end(); ++it) {
    const uint32_t v = *it;
    const TDB_NODE& node = m_data.nodes[v];
    if (node.get_kind() != TDB_NODE_COMB) continue;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind != TDB_ARC_DATA || m_pos[arc.m_src] >= m_pos[v]) continue;
      for (const GROUP_TIME* e = arrivals_begin(arc.m_src); e != arrivals_end(arc.m_src); ++e) {
        const int32_t t = saturate_at(int64_t(e->time) + arc.m_delay, v);
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

// The fan-out the downstream and required passes read: data arcs into
// comb nodes not cut for the topological order, and capture arcs into nodes
// that capture; arc indices by source node, and the node each enters.
void ANALYZER::index_fanout() {
  const uint32_t n = uint32_t(m_data.nodes.size());
  std::vector<uint32_t>& fo_begin = m_fo_begin;
  std::vector<uint32_t>& fanout = m_fanout;
  // An arc the passes read: a data arc into a comb node, not cut, or a
  // capture arc into a node that captures.
  auto indexed = [&](uint32_t v, const TDB_NODE& node, const TDB_ARC& arc) {
    return (arc.m_kind == TDB_ARC_DATA && node.get_kind() == TDB_NODE_COMB && m_pos[arc.m_src] < m_pos[v]) ||
           (arc.m_kind == TDB_ARC_CAPTURE && m_cap_begin[v] < m_cap_begin[v + 1]);
  };
  fo_begin.assign(n + 1, 0);
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (indexed(v, node, arc)) ++fo_begin[arc.m_src + 1];
    }
  }
  for (uint32_t v = 0; v < n; ++v) fo_begin[v + 1] += fo_begin[v];
  fanout.resize(fo_begin[n]);
  std::vector<uint32_t>& owner = m_fo_owner;
  owner.resize(fo_begin[n]);
  std::vector<uint32_t> fill(fo_begin.begin(), fo_begin.end() - 1);
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (!indexed(v, node, arc)) continue;
      owner[fill[arc.m_src]] = v;
      fanout[fill[arc.m_src]++] = k;
    }
  }
}

// Downstream times in one pass, in reverse topological order: a node holds
// per capture group the capture offsets of the captures it drives and the
// downstream time of the comb nodes it drives through a data arc plus the
// arc, read through the fan-out (index_fanout).
void ANALYZER::backward() {
  const uint32_t n = uint32_t(m_data.nodes.size());
  const std::vector<uint32_t>& fo_begin = m_fo_begin;
  const std::vector<uint32_t>& fanout = m_fanout;
  const std::vector<uint32_t>& owner = m_fo_owner;
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
        for (const GROUP_TIME* e = down_begin(v); e != down_end(v); ++e) meet(e->group, saturate_at(int64_t(e->time) + arc.m_delay, u));
      }
    }
    m_down_begin[u] = uint32_t(m_down.size());
    emit_merged(&m_down);
    m_down_end[u] = uint32_t(m_down.size());
  }
}

// Whether every arrival, downstream time, capture offset and arc delay
// lies within kExactRange of 0: then no sum of the scoring saturates (a
// path is at most 3 x kExactRange long; a relation, checked as
// required_pass meets it, at most kExactRange), and required times give the
// slacks the pairs give.
constexpr int64_t kExactRange = int64_t(1) << 28;

void ANALYZER::score() {
  prepare_relations();
  const std::vector<char> launches = launching_groups();
  m_out->arc_slack.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->arc_req.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->arc_relaxed.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
  m_out->worst_per_clock.assign(m_out->constraints().clocks.size(), SSC_UNCONSTRAINED_SLACK);
  if (use_per_group_passes(launches)) return score_arcs<true>();
  m_best.assign(m_out->groups.size(), NONE);
  forward(launches);
  index_fanout();
  // Where no time can come near the 32-bit range, the required times give
  // the slack of every data arc into a comb node not cut for the
  // topological order, and the relations met at the captures are kept in a
  // table of bounded size. Where every data arc is such an arc, the
  // downstream times per capture group are never read: they are not made
  // (their range bounded by one time per node). Else (a loop cut, a time
  // near the range, a relation past it) they are made, and the pairs are
  // scored where the required times are not used.
  const bool covered = required_times_cover_data_arcs();
  if (!covered) backward();
  if (within_exact_range() && (!covered || downstream_within_exact_range())) {
    bound_relations(true);
    m_use_required = required_pass();
  }
  if (!m_use_required) {
    m_out->arc_slack.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
    m_out->arc_req.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
    m_out->arc_relaxed.assign(m_data.arcs.size(), SSC_UNCONSTRAINED_SLACK);
    bound_relations(false);
    if (covered) backward();
  } else if (covered) {
    m_down_begin.assign(m_data.nodes.size(), 0);
    m_down_end.assign(m_data.nodes.size(), 0);
  }
  score_arcs<false>();
}

// Whether every data arc is one the required times time: into a comb node,
// not cut for the topological order (an arc the arrivals do not cross is
// scored pair by pair against the downstream times at its end).
bool ANALYZER::required_times_cover_data_arcs() const {
  const uint32_t n = uint32_t(m_data.nodes.size());
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind == TDB_ARC_DATA && (node.get_kind() != TDB_NODE_COMB || m_pos[arc.m_src] >= m_pos[v]))
        return false;
    }
  }
  return true;
}

// Whether every downstream time the backward pass would make lies within
// kExactRange of 0, without making them: per node the greatest and a lower
// bound of the least over its capture groups (the same recurrence over
// one time each, max and min), in reverse topological order. A lower
// bound past the range only sends the analysis the longer way.
bool ANALYZER::downstream_within_exact_range() const {
  const uint32_t n = uint32_t(m_data.nodes.size());
  constexpr int64_t kNoDown = INT64_MIN;
  std::vector<int64_t> hi(n, kNoDown), lo(n, kNoDown);
  for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) {
    const uint32_t u = *it;
    int64_t top = kNoDown, bottom = INT64_MAX;
    for (uint32_t f = m_fo_begin[u]; f < m_fo_begin[u + 1]; ++f) {
      const TDB_ARC& arc = m_data.arcs[m_fanout[f]];
      const uint32_t w = m_fo_owner[f];
      if (arc.m_kind == TDB_ARC_CAPTURE) {
        for (uint32_t e = m_cap_begin[w]; e < m_cap_begin[w + 1]; ++e) {
          top = std::max<int64_t>(top, m_caps[e].offset);
          bottom = std::min<int64_t>(bottom, m_caps[e].offset);
        }
      } else if (hi[w] != kNoDown) {
        top = std::max(top, hi[w] + arc.m_delay);
        bottom = std::min(bottom, lo[w] + arc.m_delay);
      }
    }
    if (top == kNoDown) continue;
    if (top > kExactRange || bottom < -kExactRange) return false;
    hi[u] = top;
    lo[u] = bottom;
  }
  return true;
}

// Whether the arrivals, the downstream times made, the capture offsets and
// the arc delays lie within kExactRange of 0 (see kExactRange).
bool ANALYZER::within_exact_range() const {
  auto near = [](int64_t t) { return t >= -kExactRange && t <= kExactRange; };
  for (const GROUP_TIME& e : m_arr)
    if (!near(e.time)) return false;
  for (const GROUP_TIME& e : m_down)
    if (!near(e.time)) return false;
  for (const TDB_ARC& a : m_data.arcs)
    if (!near(a.m_delay)) return false;
  for (const CAPTURE_ENTRY& c : m_caps)
    if (!near(c.offset)) return false;
  return true;
}

template <class F>
void ANALYZER::each_matching_arrival(uint32_t u, uint32_t w, F&& f) const {
  const uint32_t e = m_arr_end[u], we = m_arr_end[w];
  uint32_t j = m_arr_begin[w];
  for (uint32_t i = m_arr_begin[u]; i < e; ++i) {
    const int32_t g = m_arr[i].group;
    if (we - j > 16 * (e - i)) {  // few groups at u among many at w
      j = uint32_t(std::lower_bound(m_arr.begin() + j, m_arr.begin() + we, g,
                                    [](const GROUP_TIME& x, int32_t y) { return x.group < y; }) -
                   m_arr.begin());
    } else {
      while (j < we && m_arr[j].group < g) ++j;
    }
    if (j < we && m_arr[j].group == g) f(i, j);
  }
}

// Required times per arrival entry, in reverse topological order: at a
// node, from the captures it drives, each capture group's relation less its
// offset, then (the node's required times complete) each data arc into it
// is scored against them, and they pass to the arc's source, less the arc.
// Ties keep the least capture group, as the pairs are scored in capture
// group order; an arc's launch groups are met in group order. A node's
// block is taken when the first of its readers passes to it and given back
// once the node is done. False where a relation lies outside kExactRange
// (the pairs are scored instead).
bool ANALYZER::required_pass() {
  auto meet = [](REQUIRED& x, int32_t req, int32_t relaxed, int32_t h, int32_t rel) {
    if (req < x.req || (req == x.req && h < x.first)) {
      x.req = req;
      x.first = h;
      x.rel = rel;
    }
    x.relaxed = std::min(x.relaxed, relaxed);
  };
  REQUIRED_POOL pool;
  std::vector<uint32_t> block(m_data.nodes.size(), REQUIRED_POOL::kNoBlock);
  auto block_of = [&](uint32_t v) {
    if (block[v] == REQUIRED_POOL::kNoBlock) block[v] = pool.take(m_arr_end[v] - m_arr_begin[v]);
    return block[v];
  };
  for (auto it = m_order.rbegin(); it != m_order.rend(); ++it) {
    const uint32_t u = *it;
    const uint32_t first = m_arr_begin[u], count = m_arr_end[u] - first;
    if (count == 0) continue;
    const uint32_t at = block_of(u);
    for (uint32_t f = m_fo_begin[u]; f < m_fo_begin[u + 1]; ++f) {
      if (m_data.arcs[m_fanout[f]].m_kind != TDB_ARC_CAPTURE) continue;
      const uint32_t w = m_fo_owner[f];
      for (uint32_t i = 0; i < count; ++i)
        for (uint32_t e = m_cap_begin[w]; e < m_cap_begin[w + 1]; ++e) {
          const RELATION r = relation(m_arr[first + i].group, m_caps[e].group);
          if (r.rel == NONE) continue;
          if (r.rel < -kExactRange || r.rel > kExactRange || r.relaxed < -kExactRange || r.relaxed > kExactRange) {
            m_out->required_peak = pool.slots();
            return false;
          }
          meet(pool[at][i], r.rel - m_caps[e].offset, r.relaxed - m_caps[e].offset, m_caps[e].group, r.rel);
        }
    }
    const TDB_NODE& node = m_data.nodes[u];
    if (node.get_kind() == TDB_NODE_COMB) {
      for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
        const TDB_ARC& arc = m_data.arcs[k];
        if (arc.m_kind != TDB_ARC_DATA || m_pos[arc.m_src] >= m_pos[u] || m_arr_begin[arc.m_src] == m_arr_end[arc.m_src])
          continue;
        const uint32_t to = block_of(arc.m_src);  // may move the blocks: taken before they are read
        REQUIRED* const mine = pool[at];
        REQUIRED* const theirs = pool[to];
        const uint32_t their_first = m_arr_begin[arc.m_src];
        each_matching_arrival(arc.m_src, u, [&](uint32_t i, uint32_t j) {
          const REQUIRED& req = mine[j - first];
          if (req.first == kNoRequired) return;
          const int32_t path = m_arr[i].time + arc.m_delay;
          const int32_t slack = req.req - path, relaxed = req.relaxed - path;
          if (slack < m_out->arc_slack[k]) {
            m_out->arc_slack[k] = slack;
            m_out->arc_req[k] = req.rel;
          }
          if (relaxed < m_out->arc_relaxed[k]) m_out->arc_relaxed[k] = relaxed;
          meet(theirs[i - their_first], req.req - arc.m_delay, req.relaxed - arc.m_delay, req.first, req.rel);
        });
      }
    }
    pool.give(at, count);
    block[u] = REQUIRED_POOL::kNoBlock;
  }
  m_out->required_peak = pool.slots();
  return true;
}

// Every arc against the pairs of groups its ends hold, in launch then
// capture group order (the first pair of the least slack gives the
// requirement).
template <bool PER_GROUP>
void ANALYZER::score_arcs() {
  const uint32_t n = uint32_t(m_data.nodes.size());
  // The path's time saturates as the arrival and downstream times do, so
  // every arc of a path past the range reads the same slack.
  auto consider_relation = [&](uint32_t k, const RELATION& r, int64_t sum) {
    const int32_t path = saturate_on_arc(sum, k);
    const int32_t slack = saturate_on_arc(int64_t(r.rel) - path, k);
    const int32_t relaxed = saturate_on_arc(int64_t(r.relaxed) - path, k);
    if (slack < m_out->arc_slack[k]) {
      m_out->arc_slack[k] = slack;
      m_out->arc_req[k] = r.rel;
    }
    if (relaxed < m_out->arc_relaxed[k]) m_out->arc_relaxed[k] = relaxed;
  };
  auto consider = [&](uint32_t k, int g, int h, int64_t sum) {
    const RELATION r = relation(g, h);
    if (r.rel != NONE) consider_relation(k, r, sum);
  };
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = m_data.nodes[v];
    // No path runs into a net a clock is created on (its arcs are cut).
    if (m_clock_nets && is_clock_net(v)) continue;
    for (uint32_t k = SSC_NETLIST_DATA::arc_begin(node); k < SSC_NETLIST_DATA::arc_end(node); ++k) {
      const TDB_ARC& arc = m_data.arcs[k];
      if (arc.m_kind == TDB_ARC_UNCONSTRAINED) continue;
      if constexpr (!PER_GROUP) {
        // Scored by the required times (required_pass).
        if (arc.m_kind == TDB_ARC_DATA && m_use_required && node.get_kind() == TDB_NODE_COMB &&
            m_pos[arc.m_src] < m_pos[v])
          continue;
      }
      each_arrival<PER_GROUP>(arc.m_src, [&](int g, int32_t a) {
        if (arc.m_kind == TDB_ARC_DATA) {
          each_down<PER_GROUP>(v, [&](int h, int32_t d) { consider(k, g, h, int64_t(a) + arc.m_delay + d); });
        } else {
          m_out->worst_arrival = std::max(m_out->worst_arrival, a);
          for (uint32_t e = m_cap_begin[v]; e < m_cap_begin[v + 1]; ++e) {
            const RELATION r = relation(g, m_caps[e].group);
            if (r.rel == NONE) continue;
            consider_relation(k, r, int64_t(a) + m_caps[e].offset);
            // Worst slack per capture clock, over every launch group. As in
            // OpenSTA's path groups, a max-delay path counts for the clock
            // of the register it ends at; one ending at an output port, or
            // timed by a rule that ignores clock latency, for none.
            const SSC_GROUP& hg = m_out->groups[size_t(m_caps[e].group)];
            const int32_t s32 = ssc_saturate(int64_t(r.rel) - ssc_time_add(a, m_caps[e].offset));
            if (hg.clock >= 0 && r.path_delay != 2 && !(r.path_delay && node.get_kind() == TDB_NODE_OUT_PORT))
              m_out->worst_per_clock[size_t(hg.clock)] = std::min(m_out->worst_per_clock[size_t(hg.clock)], s32);
            m_out->worst_all = std::min(m_out->worst_all, s32);
          }
        }
      });
    }
  }
}

void ANALYZER::run() {
  m_out->cut_arcs = ssc_topological_order(m_data, &m_order, &m_pos);
  ssc_register_clocks(m_data, m_out->constraints().clocks, &m_registers);
  if (m_out->constraints().clocks_start_at_sources) hoist_clock_nets();
  make_groups();
  score();
}

// Data does not pass a net inside the logic that a clock is created on:
// OpenSTA's arrivals start there afresh, at the clock's edges (clock data,
// make_groups). Such nodes go to the front of the order, all at place 0,
// so that every arc into them, from the rest or from one another, reads as
// cut (each pass takes an arc only from a node at an earlier place) and the
// rest keeps its order after them; the loops among the rest are cut as they
// were, and counted without the arcs into those nodes (a loop through one
// of them is none for data).
void ANALYZER::hoist_clock_nets() {
  const uint32_t n = uint32_t(m_data.nodes.size());
  // The nets, from the clocks' sources (a netlist without such a net pays
  // no walk over its nodes).
  std::vector<char> hoisted;
  uint32_t front = 0;
  for (const SSC_SDC_CLOCK& c : m_out->constraints().clocks)
    for (uint32_t u : c.sources) {
      if (u >= n || !is_clock_net(u)) continue;
      if (hoisted.empty()) hoisted.assign(n, 0);
      front += hoisted[u] ? 0 : 1;
      hoisted[u] = 1;
    }
  if (front == 0) return;
  m_clock_nets = front;
  std::vector<uint32_t> order(n);
  uint32_t at_front = 0, at_rest = front;
  for (uint32_t v : m_order) order[hoisted[v] ? at_front++ : at_rest++] = v;
  m_order.swap(order);
  for (uint32_t i = 0; i < n; ++i) m_pos[m_order[i]] = i < front ? 0 : i - front + 1;
  int cut = 0;
  for (uint32_t v = 0; v < n; ++v) {
    if (hoisted[v]) continue;
    const TDB_NODE& node = m_data.nodes[v];
    for (uint32_t a = SSC_NETLIST_DATA::arc_begin(node); a < SSC_NETLIST_DATA::arc_end(node); ++a)
      if (m_data.arcs[a].m_kind == TDB_ARC_DATA && m_pos[m_data.arcs[a].m_src] >= m_pos[v]) ++cut;
  }
  m_out->cut_arcs = cut;
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

namespace {

// The clock of register r where one is defined on its clock path between
// the pin and the traced source (clock_pin_arc): the first clock of the
// node nearest the pin, on the edge it arrives on at the pin, into *clock
// and *edges (1 rising, 2 falling, 3 both where a gate after it is not
// unate, which no gate the build traces through is). The inversion from
// that node on is the traced one (the register's) less that of the nodes
// between it and the source, each by its arc's sense.
bool clock_on_path(const SSC_NETLIST_DATA& data, const std::vector<int>& clock_of_source, uint32_t r, int* clock,
                   char* edges) {
  const uint32_t k = clock_pin_arc(data, r);
  if (k == UINT32_MAX) return false;
  const uint32_t s = uint32_t(data.nodes[r].get_clock_source());
  uint32_t at = data.arcs[k].m_src;
  while (at != s && clock_of_source[at] < 0) at = clock_path_arc(data, at).m_src;
  if (at == s) return false;
  bool inverted = data.nodes[r].clock_is_inverted(), binate = false;
  for (uint32_t u = at; u != s; u = clock_path_arc(data, u).m_src) {
    const int sense = ssc_arc_sense(clock_path_arc(data, u));
    binate = binate || sense == 0;
    inverted = inverted != (sense < 0);
  }
  *clock = clock_of_source[at];
  *edges = char(binate ? 3 : inverted ? 2 : 1);
  return true;
}

}  // namespace

void ssc_register_clocks(const SSC_NETLIST_DATA& data, const std::vector<SSC_SDC_CLOCK>& clocks,
                         SSC_REGISTER_CLOCKS* out) {
  const size_t n = data.nodes.size();
  std::vector<int>& clock_of_source = out->of_source;
  clock_of_source.assign(n, -1);
  for (size_t k = 0; k < clocks.size(); ++k)
    for (uint32_t s : clocks[k].sources)
      if (s < n && clock_of_source[s] < 0) clock_of_source[s] = int(k);
  out->clock.assign(n, -1);
  out->edges.assign(n, 0);
  out->more.clear();
  // A clock defined on a node of a register's clock path (a buffer's, an
  // inverter's or a one-input LUT's output, a boundary) is that net's clock
  // from there on, as OpenSTA has it: the nearest to the clock pin wins
  // over any further back and over the traced source's. The paths are
  // walked only where some clock is defined on such a node.
  bool on_paths = false;
  for (const SSC_SDC_CLOCK& c : clocks)
    for (uint32_t u : c.sources) on_paths = on_paths || (u < n && clock_step_arc(data, u) != UINT32_MAX);
  std::vector<uint32_t> gated, gated_registers;
  for (uint32_t v = 0; v < n; ++v) {
    const TDB_NODE& node = data.nodes[v];
    const int s = node.get_clock_source();
    if (node.get_kind() != TDB_NODE_REGISTER || s < 0 || size_t(s) >= n) continue;
    if (on_paths) {
      int clock = -1;
      char edges = 0;
      if (clock_on_path(data, clock_of_source, v, &clock, &edges)) {
        out->clock[v] = clock;
        out->edges[v] = edges;
        continue;
      }
    }
    if (clock_of_source[s] >= 0) {
      out->clock[v] = clock_of_source[s];
      out->edges[v] = node.clock_is_inverted() ? 2 : 1;
    } else if (data.nodes[s].get_kind() == TDB_NODE_COMB) {
      gated.push_back(uint32_t(s));
      gated_registers.push_back(v);
    }
  }
  if (gated.empty()) return;
  GATED_CLOCK_WALK walk(data, clock_of_source);
  walk.settle(gated, gated_registers);
  for (uint32_t v : gated_registers) {  // in id order
    const TDB_NODE& node = data.nodes[v];
    const int s = node.get_clock_source();
    bool first = true;
    for (auto [it, end] = walk.clocks(uint32_t(s)); it != end; ++it) {
      // Bit 0: the clock's edge arrives as it is, bit 1: inverted; a
      // register clocked on the falling edge of its pin takes the other.
      const int edges = *it & 3;
      const char mine = char(node.clock_is_inverted() ? ((edges & 1) << 1) | (edges >> 1) : edges);
      if (first) {
        out->clock[v] = *it >> 2;
        out->edges[v] = mine;
        first = false;
      } else {
        out->more.push_back({v, *it >> 2, mine});
      }
    }
  }
}

void ssc_index_path_rules(SSC_CONSTRAINTS* c) { make_rule_index(*c, &c->rule_index); }

size_t SSC_PATH_RULE_INDEX::bytes() const {
  size_t n = 0;
  for (int side = 0; side < 2; ++side) {
    n += every[side].capacity() * sizeof(int) + named[side].capacity() * sizeof(named[side][0]) +
         by_clock[side].capacity() * sizeof(by_clock[side][0]);
    for (const std::vector<int>& k : by_clock[side]) n += k.capacity() * sizeof(int);
  }
  return n;
}

void ssc_analyze(const SSC_NETLIST_DATA& data, SSC_CONSTRAINTS c, SSC_ANALYSIS* out) {
  ssc_analyze(data, std::make_shared<const SSC_CONSTRAINTS>(std::move(c)), out);
}

void ssc_analyze(const SSC_NETLIST_DATA& data, std::shared_ptr<const SSC_CONSTRAINTS> c, SSC_ANALYSIS* out) {
  *out = SSC_ANALYSIS();
  out->read = std::move(c);
  ANALYZER(data, out).run();
}

}  // namespace kavu_platform
