// Tests of the cut area: cone walks, minimum and largest-volume cuts, and
// k-feasible cut enumeration. Results on cones of the EPFL circuits are
// checked against independent references written here: a path search for
// separation, Edmonds–Karp for the maximum flow, brute force over subsets
// for minimum cuts, largest volumes and the set of k-feasible cuts.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <set>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "kavu_cut.h"
#include "kavu_setup.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef KAVU_WVNET_MANAGER::OTERM_LIST OTERM_LIST;
typedef std::vector<CDB_SGATE_OTERM*> OTERMS;
constexpr int INF = KAVU_WVNET_MANAGER::max_capacity;

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* gate) { return gate->get_output_term(0); }

CDB_SGATE_NODE* make_wide_and(CDB_SGATE_NETLIST* nl, const std::vector<CDB_SGATE_NODE*>& ins) {
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  for (CDB_SGATE_NODE* in : ins) g->add_unordered_fanin_from_oterm(nullptr, false, out(in));
  nl->add_node(g);
  return g;
}

// A cone as the walk returns it, with its driver edges as index lists.
struct CONE {
  OTERMS oterms, sources, sinks;
  std::unordered_map<const CDB_SGATE_OTERM*, int> index;
  std::vector<std::vector<int>> succ;  // driver -> driven terminals in the cone
  std::vector<uint8_t> is_source, is_sink;

  int size() const { return int(oterms.size()); }
};

CONE make_cone(const OTERM_LIST& o, const OTERM_LIST& s, const OTERM_LIST& t) {
  CONE c;
  c.oterms.assign(o.begin(), o.end());
  c.sources.assign(s.begin(), s.end());
  c.sinks.assign(t.begin(), t.end());
  for (int i = 0; i < c.size(); ++i) c.index[c.oterms[i]] = i;
  c.succ.assign(c.size(), {});
  c.is_source.assign(c.size(), 0);
  c.is_sink.assign(c.size(), 0);
  for (CDB_SGATE_OTERM* x : c.sources) c.is_source[c.index.at(x)] = 1;
  for (CDB_SGATE_OTERM* x : c.sinks) c.is_sink[c.index.at(x)] = 1;
  for (int i = 0; i < c.size(); ++i) {
    if (c.is_source[i]) continue;
    for (const CDB_SGATE_ITERM* it : c.oterms[i]->get_my_node()->get_input_terms()) {
      if (!it || !cdb_is_connected(it) || !it->get_source()) continue;
      auto f = c.index.find(it->get_source());
      if (f != c.index.end()) c.succ[f->second].push_back(i);
    }
  }
  return c;
}

CONE walk(KAVU_WVNET_MANAGER& m, CDB_SGATE_OTERM* head, int depth, CDB_SGATE_OTERM* stop = nullptr) {
  OTERM_LIST o, s, t;
  m.get_cone(head, depth, false, false, false, false, true, &o, &s, &t, stop);
  return make_cone(o, s, t);
}

// No path from a source to a sink avoids the blocked terminals.
bool separates(const CONE& c, const std::vector<uint8_t>& blocked) {
  std::vector<uint8_t> seen(c.size(), 0);
  std::vector<int> stack;
  for (int i = 0; i < c.size(); ++i) {
    if (c.is_source[i] && !blocked[i]) {
      seen[i] = 1;
      stack.push_back(i);
    }
  }
  while (!stack.empty()) {
    const int u = stack.back();
    stack.pop_back();
    if (c.is_sink[u]) return false;
    for (int v : c.succ[u]) {
      if (!seen[v] && !blocked[v]) {
        seen[v] = 1;
        stack.push_back(v);
      }
    }
  }
  return true;
}

std::vector<uint8_t> mask_of(const CONE& c, const OTERM_LIST& cut) {
  std::vector<uint8_t> m(c.size(), 0);
  for (CDB_SGATE_OTERM* x : cut) m[c.index.at(x)] = 1;
  return m;
}

// Edmonds–Karp on the split-node graph: unit vertex capacities, sinks
// uncuttable unless `sinks_cuttable`.
int reference_max_flow(const CONE& c, bool sinks_cuttable) {
  const int n = c.size(), src = 2 * n, snk = 2 * n + 1;
  struct EDGE { int to, cap; };
  std::vector<EDGE> edges;
  std::vector<std::vector<int>> adj(2 * n + 2);
  auto add = [&](int a, int b, int cap) {
    adj[a].push_back(int(edges.size()));
    edges.push_back({b, cap});
    adj[b].push_back(int(edges.size()));
    edges.push_back({a, 0});
  };
  for (int i = 0; i < n; ++i) {
    add(2 * i + 1, 2 * i, (c.is_sink[i] && !sinks_cuttable) ? INF : 1);
    for (int j : c.succ[i]) add(2 * i, 2 * j + 1, INF);
    if (c.is_source[i]) add(src, 2 * i + 1, INF);
    if (c.is_sink[i]) add(2 * i, snk, INF);
  }
  int flow = 0;
  while (flow < INF) {
    std::vector<int> via(2 * n + 2, -1);
    std::deque<int> queue{src};
    via[src] = -2;
    while (!queue.empty() && via[snk] == -1) {
      const int u = queue.front();
      queue.pop_front();
      for (int e : adj[u]) {
        if (edges[e].cap > 0 && via[edges[e].to] == -1) {
          via[edges[e].to] = e;
          queue.push_back(edges[e].to);
        }
      }
    }
    if (via[snk] == -1) break;
    int delta = INF;
    for (int v = snk; v != src; v = edges[via[v] ^ 1].to) delta = std::min(delta, edges[via[v]].cap);
    for (int v = snk; v != src; v = edges[via[v] ^ 1].to) {
      edges[via[v]].cap -= delta;
      edges[via[v] ^ 1].cap += delta;
    }
    flow += delta;
  }
  return flow;
}

// Calls f(mask) for every subset of the allowed terminals of at most k
// members, smallest first; f returns false to stop.
void for_each_subset(const std::vector<int>& allowed, int k,
                     const std::function<bool(const std::vector<int>&)>& f) {
  std::vector<int> pick;
  std::function<bool(int, int)> rec = [&](int start, int left) {
    if (left == 0) return f(pick);
    for (int i = start; i < int(allowed.size()); ++i) {
      pick.push_back(allowed[i]);
      const bool go_on = rec(i + 1, left - 1);
      pick.pop_back();
      if (!go_on) return false;
    }
    return true;
  };
  for (int size = 0; size <= k; ++size) {
    if (!rec(0, size)) return;
  }
}

// Volume of a cut: driven inputs of the gates enclosed between it and the sinks.
int reference_volume(const CONE& c, const std::set<const CDB_SGATE_OTERM*>& cut) {
  std::set<const CDB_SGATE_OTERM*> seen(cut);
  std::vector<const CDB_SGATE_OTERM*> stack;
  for (CDB_SGATE_OTERM* s : c.sinks) {
    if (seen.insert(s).second) stack.push_back(s);
  }
  int volume = 0;
  while (!stack.empty()) {
    const CDB_SGATE_OTERM* t = stack.back();
    stack.pop_back();
    for (const CDB_SGATE_ITERM* it : t->get_my_node()->get_input_terms()) {
      if (!it || !cdb_is_connected(it) || !it->get_source()) continue;
      ++volume;
      if (seen.insert(it->get_source()).second) stack.push_back(it->get_source());
    }
  }
  return volume;
}

// LUT outputs of a circuit, every `step`-th, at most `limit`.
OTERMS sample_heads(const CDB_SGATE_NETLIST* nl, int step, int limit) {
  OTERMS heads;
  int seen = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || g->get_sgate_type() != CDB_SGATE_LUT_ENUM || !out(g)) continue;
    if (seen++ % step == 0) heads.push_back(out(g));
    if (int(heads.size()) == limit) break;
  }
  return heads;
}

const char* const kCircuits[] = {"epfl/ctrl", "epfl/router", "epfl/int2float", "epfl/cavlc"};

// ---------------------------------------------------------------------------
// Cone walks on small hand-built netlists.

class KavuCutCone : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 4; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
    a = make_and(&nl, pins[0], pins[1]);
    b = make_or(&nl, pins[1], pins[2]);
    c = make_xor(&nl, a, b);  // pins[1] reaches c along two paths
    d = make_and(&nl, c, pins[3]);
  }
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  CDB_SGATE_NODE *a, *b, *c, *d;
  KAVU_WVNET_MANAGER m;
};

TEST_F(KavuCutCone, BreadthFirstListsEachTerminalOnceAtItsFirstLevel) {
  const CONE cone = walk(m, out(d), 3);
  EXPECT_EQ(cone.oterms, (OTERMS{out(d), out(c), out(pins[3]), out(a), out(b)}));
  EXPECT_EQ(cone.sources, (OTERMS{out(pins[3]), out(a), out(b)}));
  EXPECT_EQ(cone.sinks, (OTERMS{out(d)}));
  const CONE deep = walk(m, out(d), 10);
  EXPECT_EQ(deep.size(), 8);
  EXPECT_EQ(deep.oterms.back(), out(pins[2]));
  EXPECT_EQ(deep.sources, (OTERMS{out(pins[3]), out(pins[0]), out(pins[1]), out(pins[2])}));
}

TEST_F(KavuCutCone, DepthOneStopAndRepeatedHeads) {
  const CONE one = walk(m, out(d), 1);
  EXPECT_EQ(one.oterms, OTERMS{out(d)});
  EXPECT_EQ(one.sources, OTERMS{out(d)});
  const CONE stopped = walk(m, out(d), 10, out(c));
  EXPECT_EQ(stopped.oterms, (OTERMS{out(d), out(c), out(pins[3])}));
  // A head given twice is one sink and one terminal of the cone.
  std::vector<CDB_SGATE_OTERM*> heads{out(d), out(c), out(d)};
  OTERM_LIST o, s, t;
  m.get_cone(heads, 2, false, false, false, false, true, &o, &s, &t, nullptr);
  EXPECT_EQ(OTERMS(t.begin(), t.end()), (OTERMS{out(d), out(c)}));
  EXPECT_EQ(o.size(), 5u);
}

TEST_F(KavuCutCone, WideGatesAndProtectedLuts) {
  std::vector<CDB_SGATE_NODE*> ins(20, pins[0]);
  for (int i = 0; i < 20; ++i) ins[i] = pins[i % 4];
  CDB_SGATE_NODE* wide = make_wide_and(&nl, ins);
  OTERM_LIST o, s, t;
  m.get_cone(out(wide), 5, false, false, false, false, false, &o, &s, &t, nullptr);
  EXPECT_EQ(o.size(), 1u);  // 20 inputs: the bounded walk stops
  OTERM_LIST unbounded;
  std::vector<CDB_SGATE_OTERM*> none;
  m.get_cone(out(wide), false, false, false, false, false, &unbounded, &none);
  EXPECT_EQ(unbounded.size(), 1u);  // ...the unbounded one passes (pins are not listed)

  CDB_SGATE_NODE* lut = make_lut(&nl, {a, b}, 0x6);
  CDB_SGATE_NODE* top = make_and(&nl, lut, pins[3]);
  lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_DONT_UNMAP);
  EXPECT_EQ(walk(m, out(top), 5).size(), 3);   // stops at the LUT below the head
  EXPECT_EQ(walk(m, out(lut), 5).size(), 6);   // passes the LUT that is the head
  lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_USER);
  EXPECT_EQ(walk(m, out(lut), 5).size(), 1);
}

TEST_F(KavuCutCone, UnboundedWalkStopsAtExcludedTerminals) {
  OTERM_LIST cone;
  std::vector<CDB_SGATE_OTERM*> excluded{out(a)};
  m.get_cone(out(d), false, false, false, false, true, &cone, &excluded);
  EXPECT_EQ(OTERMS(cone.begin(), cone.end()), (OTERMS{out(d), out(c), out(b)}));
  OTERM_LIST not_empty{out(a)};
  EXPECT_KAVU_INTERNAL_ERROR(m.get_cone(out(d), false, false, false, false, true, &not_empty, &excluded),
                             "oterm_list->empty()");
}

// ---------------------------------------------------------------------------
// Minimum cuts.

TEST(KavuCutMincut, SeparatesAndEqualsMaxFlowOnEpflCones) {
  int brute_checked = 0;
  for (const char* name : kCircuits) {
    LOADED_NETLIST nl = load_blif(name);
    KAVU_WVNET_MANAGER m;
    for (CDB_SGATE_OTERM* head : sample_heads(nl.get(), 7, 25)) {
      for (int depth : {3, 5, 8}) {
        OTERM_LIST o, s, t, cut;
        m.get_cone(head, depth, false, false, false, false, true, &o, &s, &t, nullptr);
        const CONE cone = make_cone(o, s, t);
        m.kavu_get_mincut(o, s, t, &cut, nullptr, nullptr);
        ASSERT_FALSE(cut.empty()) << name;
        EXPECT_TRUE(separates(cone, mask_of(cone, cut))) << name << " depth " << depth;
        EXPECT_EQ(int(cut.size()), reference_max_flow(cone, true)) << name;
        if (cone.size() > 14) continue;
        std::vector<int> all(cone.size());
        for (int i = 0; i < cone.size(); ++i) all[i] = i;
        int brute = -1;
        for_each_subset(all, cone.size(), [&](const std::vector<int>& pick) {
          std::vector<uint8_t> blocked(cone.size(), 0);
          for (int i : pick) blocked[i] = 1;
          if (!separates(cone, blocked)) return true;
          brute = int(pick.size());
          return false;
        });
        EXPECT_EQ(int(cut.size()), brute) << name;
        ++brute_checked;
      }
    }
  }
  EXPECT_GT(brute_checked, 20);
}

TEST(KavuCutMincut, CapacitiesAndInputListsShapeTheNetwork) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* y = make_input_pin(&nl, "y");
  CDB_SGATE_NODE* a = make_and(&nl, x, y);
  CDB_SGATE_NODE* b = make_not(&nl, a);
  KAVU_WVNET_MANAGER m;
  const OTERM_LIST o{out(b), out(a), out(x), out(y)}, s{out(x), out(y)}, t{out(b)};
  OTERM_LIST cut;
  m.kavu_get_mincut(o, s, t, &cut, nullptr, nullptr);
  EXPECT_EQ(cut, OTERM_LIST{out(a)});  // nearest the sources among the size-1 cuts
  std::map<CDB_SGATE_OTERM*, int> caps{{out(a), INF}};
  m.kavu_get_mincut(o, s, t, &cut, &caps, nullptr);
  EXPECT_EQ(cut, OTERM_LIST{out(b)});
  // Only the listed inputs are edges: y no longer reaches the sink, so x
  // alone is the cut nearest the sources.
  std::vector<CDB_SGATE_ITERM*> iterms{a->get_input_term(0), b->get_input_term(0)};
  m.kavu_get_mincut(o, s, t, &cut, nullptr, &iterms);
  EXPECT_EQ(cut, OTERM_LIST{out(x)});
  caps = {{out(a), INF}, {out(b), INF}};
  m.kavu_get_mincut(o, s, t, &cut, &caps, nullptr);
  EXPECT_EQ(cut, (OTERM_LIST{out(x), out(y)}));
  caps = {{out(a), INF}, {out(b), INF}, {out(x), INF}};
  m.kavu_get_mincut(o, s, t, &cut, &caps, nullptr);
  EXPECT_TRUE(cut.empty());  // an infinite path: no finite cut
}

TEST(KavuCutMincut, RefusesListsThatDoNotHoldTheirSourcesOrRepeatATerminal) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* y = make_input_pin(&nl, "y");
  CDB_SGATE_NODE* a = make_and(&nl, x, y);
  KAVU_WVNET_MANAGER m;
  OTERM_LIST cut;
  // A source missing from the oterm list once took the nets of the first terminal.
  EXPECT_KAVU_INTERNAL_ERROR(m.kavu_get_mincut({out(a), out(x)}, {out(x), out(y)}, {out(a)}, &cut,
                                               nullptr, nullptr),
                             "s >= 0");
  EXPECT_KAVU_INTERNAL_ERROR(m.kavu_get_mincut({out(a), out(x)}, {out(x)}, {out(y)}, &cut, nullptr,
                                               nullptr),
                             "t >= 0");
  EXPECT_KAVU_INTERNAL_ERROR(m.kavu_get_mincut({out(a), out(x), out(a)}, {out(x)}, {out(a)}, &cut,
                                               nullptr, nullptr),
                             "listed_once");
}

TEST(KavuCutMincut, SizeBoundedSearchMovesOutUntilTheVolumeSuffices) {
  LOADED_NETLIST nl = load_blif("epfl/router");
  KAVU_WVNET_MANAGER m;
  int found = 0;
  for (CDB_SGATE_OTERM* head : sample_heads(nl.get(), 5, 30)) {
    OTERM_LIST o, s, t, cut;
    m.get_cone(head, 6, false, false, false, false, true, &o, &s, &t, nullptr);
    const CONE cone = make_cone(o, s, t);
    const int need[] = {0, 0, 4, 6, 8, 10};
    int volume = -1;
    if (!m.kavu_get_mincut_of_size(o, s, t, &cut, 4, &volume, need)) continue;
    ++found;
    ASSERT_LE(cut.size(), 4u);
    EXPECT_GE(volume, need[cut.size()]);
    EXPECT_TRUE(separates(cone, mask_of(cone, cut)));
    EXPECT_EQ(volume, reference_volume(cone, {cut.begin(), cut.end()}));
  }
  EXPECT_GT(found, 5);
}

// ---------------------------------------------------------------------------
// Largest-volume cuts.

// The largest volume of a separating cut of at most k terminals, sinks uncuttable.
int brute_largest_volume(const CONE& c, int k) {
  std::vector<int> cuttable;
  for (int i = 0; i < c.size(); ++i) {
    if (!c.is_sink[i]) cuttable.push_back(i);
  }
  int best = -1;
  for_each_subset(cuttable, k, [&](const std::vector<int>& pick) {
    std::vector<uint8_t> blocked(c.size(), 0);
    std::set<const CDB_SGATE_OTERM*> cut;
    for (int i : pick) {
      blocked[i] = 1;
      cut.insert(c.oterms[i]);
    }
    if (!pick.empty() && separates(c, blocked)) best = std::max(best, reference_volume(c, cut));
    return true;
  });
  return best;
}

// The search is greedy (one terminal made uncuttable at a time, ties keep
// the first candidate), so it may stop short of the largest volume; it must
// never claim more than the best cut has, nor do worse than the minimum cut.
TEST(KavuCutLargestVolume, SingleResultIsBoundedByBruteForceAndUsuallyReachesIt) {
  int checked = 0, optimal = 0;
  for (const char* name : kCircuits) {
    LOADED_NETLIST nl = load_blif(name);
    KAVU_WVNET_MANAGER m;
    for (CDB_SGATE_OTERM* head : sample_heads(nl.get(), 5, 30)) {
      for (int k : {2, 3, 4}) {
        const CONE cone = walk(m, head, 5);
        if (cone.size() > 18 || int(cone.sources.size()) <= k) continue;
        OTERM_LIST cut;
        int volume = -1;
        const bool ok = m.kavu_get_largest_volume_mincut_of_size(head, 5, k, &cut, &volume, false,
                                                                 false, false, true);
        const int brute = brute_largest_volume(cone, k);
        // The search fails exactly when even the minimum cut is too large.
        EXPECT_EQ(ok, reference_max_flow(cone, false) <= k) << name;
        if (!ok) continue;
        ASSERT_LE(int(cut.size()), k);
        EXPECT_TRUE(separates(cone, mask_of(cone, cut))) << name;
        EXPECT_EQ(volume, reference_volume(cone, {cut.begin(), cut.end()}));
        EXPECT_LE(volume, brute) << name << " k " << k;
        OTERM_LIST o(cone.oterms.begin(), cone.oterms.end()), s(cone.sources.begin(), cone.sources.end()),
            t(cone.sinks.begin(), cone.sinks.end()), min_cut;
        std::map<CDB_SGATE_OTERM*, int> caps{{cone.sinks[0], INF}};
        m.kavu_get_mincut(o, s, t, &min_cut, &caps, nullptr);
        EXPECT_GE(volume, reference_volume(cone, {min_cut.begin(), min_cut.end()})) << name;
        ++checked;
        optimal += volume == brute;
      }
    }
  }
  EXPECT_GT(checked, 30);
  // Quality tripwire: on these cones the greedy search reached the optimum
  // in 214 of 218 cases; a drop needs a reason.
  EXPECT_GE(optimal, checked - 4) << optimal << " of " << checked;
}

TEST(KavuCutLargestVolume, PerSizeEntriesAreSeparatingCutsOfTheirSize) {
  LOADED_NETLIST nl = load_blif("epfl/cavlc");
  KAVU_WVNET_MANAGER m;
  int stored = 0;
  for (CDB_SGATE_OTERM* head : sample_heads(nl.get(), 9, 25)) {
    OTERM_LIST o, s, t;
    m.get_cone(head, 7, false, false, false, false, true, &o, &s, &t, nullptr);
    const CONE cone = make_cone(o, s, t);
    // Stale caller values must not act as volumes to beat.
    std::vector<int> volumes(10, 1000000);
    std::vector<OTERM_LIST> cuts;
    if (!m.kavu_get_largest_volume_mincut_of_size(o, s, t, 3, 5, &cuts, &volumes, false)) continue;
    ASSERT_EQ(cuts.size(), 6u);
    ASSERT_EQ(volumes.size(), 6u);
    for (int size = 0; size <= 5; ++size) {
      if (cuts[size].empty()) {
        EXPECT_EQ(volumes[size], 0);
        continue;
      }
      ++stored;
      EXPECT_EQ(int(cuts[size].size()), size);
      EXPECT_TRUE(separates(cone, mask_of(cone, cuts[size])));
      EXPECT_EQ(volumes[size], reference_volume(cone, {cuts[size].begin(), cuts[size].end()}));
    }
  }
  EXPECT_GT(stored, 10);
  std::vector<OTERM_LIST> cuts;
  std::vector<int> volumes;
  const OTERM_LIST o{sample_heads(nl.get(), 1, 1)[0]};
  EXPECT_KAVU_INTERNAL_ERROR(m.kavu_get_largest_volume_mincut_of_size(o, o, o, 4, 3, &cuts, &volumes,
                                                                      false),
                             "K <= M");
}

TEST(KavuCutLargestVolume, GraphSearchSurvivesSearchesOnOtherLists) {
  LOADED_NETLIST nl = load_blif("epfl/int2float");
  const OTERMS heads = sample_heads(nl.get(), 11, 10);
  ASSERT_GE(heads.size(), 2u);
  KAVU_WVNET_MANAGER m;
  OTERM_LIST graph_cut, later_cut;
  int graph_volume = -1, later_volume = -1;
  EXPECT_KAVU_INTERNAL_ERROR(m.kavu_get_largest_volume_mincut_of_size_for_graph(4, &graph_cut,
                                                                                &graph_volume),
                             "m_graph_initialized");
  m.initialize_graph(heads[0], 6, 0, false, false, false, true);
  const bool first = m.kavu_get_largest_volume_mincut_of_size_for_graph(3, &graph_cut, &graph_volume);
  // A search on another cone used to leave its network behind for the graph search.
  OTERM_LIST o, s, t, cut;
  m.get_cone(heads[1], 6, false, false, false, false, true, &o, &s, &t, nullptr);
  m.kavu_get_mincut(o, s, t, &cut, nullptr, nullptr);
  const bool later = m.kavu_get_largest_volume_mincut_of_size_for_graph(3, &later_cut, &later_volume);
  EXPECT_EQ(first, later);
  EXPECT_EQ(graph_cut, later_cut);
  EXPECT_EQ(graph_volume, later_volume);
  m.clear_graph();
  EXPECT_KAVU_INTERNAL_ERROR(m.kavu_get_largest_volume_mincut_of_size_for_graph(3, &later_cut,
                                                                                &later_volume),
                             "m_graph_initialized");
}

// ---------------------------------------------------------------------------
// K-feasible cuts.

// Minimal cuts of at most k leaves (trivial cut excluded) by brute force:
// every path from a start (leaf, or terminal without fan-ins) to the head
// passes the cut, and no smaller subset does.
std::set<std::set<const CDB_SGATE_OTERM*>> brute_cuts(const CONE& c, int k) {
  const int head = c.index.at(c.sinks[0]);
  CONE starts = c;
  for (int i = 0; i < c.size(); ++i) {
    bool has_fanin = false;
    for (int j = 0; j < c.size(); ++j) {
      for (int v : c.succ[j]) has_fanin = has_fanin || v == i;
    }
    if (!has_fanin) starts.is_source[i] = 1;
  }
  auto is_cut = [&](const std::vector<int>& pick, int skip) {
    std::vector<uint8_t> blocked(c.size(), 0);
    for (int i = 0; i < int(pick.size()); ++i) {
      if (i != skip) blocked[pick[i]] = 1;
    }
    return separates(starts, blocked);
  };
  std::vector<int> candidates;
  for (int i = 0; i < c.size(); ++i) {
    if (i != head) candidates.push_back(i);
  }
  std::set<std::set<const CDB_SGATE_OTERM*>> result;
  for_each_subset(candidates, k, [&](const std::vector<int>& pick) {
    if (pick.empty() || !is_cut(pick, -1)) return true;
    for (int skip = 0; skip < int(pick.size()); ++skip) {
      if (is_cut(pick, skip)) return true;
    }
    std::set<const CDB_SGATE_OTERM*> cut;
    for (int i : pick) cut.insert(c.oterms[i]);
    result.insert(cut);
    return true;
  });
  return result;
}

bool subset_of(const std::vector<CDB_SGATE_OTERM*>& a, const std::vector<CDB_SGATE_OTERM*>& b) {
  return std::all_of(a.begin(), a.end(),
                     [&](CDB_SGATE_OTERM* x) { return std::find(b.begin(), b.end(), x) != b.end(); });
}

TEST(KavuCutEnumeration, CutsAreIrredundantAndMatchBruteForceOnEpflCones) {
  int exact = 0, total_cuts = 0;
  for (const char* name : kCircuits) {
    LOADED_NETLIST nl = load_blif(name);
    KAVU_WVNET_MANAGER m;
    for (CDB_SGATE_OTERM* head : sample_heads(nl.get(), 6, 30)) {
      for (unsigned k : {2u, 4u, 6u}) {
        const unsigned depth = k == 6 ? 7 : 5;
        KAVU_WVNET_MANAGER::CUT_SET cuts;
        m.get_all_cuts(head, depth, k, nullptr, &cuts);
        const CONE cone = walk(m, head, int(depth));
        std::set<std::set<const CDB_SGATE_OTERM*>> got;
        for (size_t i = 0; i < cuts.size(); ++i) {
          const auto& cut = cuts[i];
          ASSERT_LE(cut.size(), k);
          std::vector<uint8_t> blocked(cone.size(), 0);
          for (CDB_SGATE_OTERM* leaf : cut) blocked[cone.index.at(leaf)] = 1;
          EXPECT_TRUE(separates(cone, blocked)) << name;
          for (size_t j = 0; j < cuts.size(); ++j) {
            if (i != j) {
              EXPECT_FALSE(subset_of(cuts[j], cut)) << name << " dominated cut";
            }
          }
          got.insert({cut.begin(), cut.end()});
        }
        total_cuts += int(cuts.size());
        if (k <= 4 && cone.size() <= 18) {
          EXPECT_EQ(got, brute_cuts(cone, int(k))) << name << " k " << k;
          ++exact;
        }
      }
    }
  }
  EXPECT_GT(exact, 50);
  EXPECT_GT(total_cuts, 500);
}

TEST(KavuCutEnumeration, HandBuiltCasesAndMandatoryLeaf) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* y = make_input_pin(&nl, "y");
  CDB_SGATE_NODE* z = make_input_pin(&nl, "z");
  CDB_SGATE_NODE* a = make_and(&nl, x, y);
  CDB_SGATE_NODE* n = make_not(&nl, a);
  CDB_SGATE_NODE* h = make_or(&nl, n, z);
  KAVU_WVNET_MANAGER m;
  KAVU_WVNET_MANAGER::CUT_SET cuts;
  EXPECT_FALSE(m.get_all_cuts(out(x), 5, 4, nullptr, &cuts));  // no fan-ins: trivial cut only
  EXPECT_FALSE(m.get_all_cuts(out(a), 5, 1, nullptr, &cuts));  // {x, y} does not fit
  ASSERT_TRUE(m.get_all_cuts(out(n), 2, 4, nullptr, &cuts));
  EXPECT_EQ(cuts, (KAVU_WVNET_MANAGER::CUT_SET{{out(a)}}));
  ASSERT_TRUE(m.get_all_cuts(out(h), 5, 3, nullptr, &cuts));
  std::set<std::set<CDB_SGATE_OTERM*>> got;
  for (auto& cut : cuts) got.insert({cut.begin(), cut.end()});
  EXPECT_EQ(got, (std::set<std::set<CDB_SGATE_OTERM*>>{
                     {out(n), out(z)}, {out(a), out(z)}, {out(x), out(y), out(z)}}));
  // With y mandatory, the walk stops at y; a cut without it gets it appended
  // when it has room, else it is dropped.
  ASSERT_TRUE(m.get_all_cuts(out(h), 5, 3, out(y), &cuts));
  for (auto& cut : cuts) {
    EXPECT_NE(std::find(cut.begin(), cut.end(), out(y)), cut.end());
    EXPECT_LE(cut.size(), 3u);
  }
  EXPECT_EQ(cuts.size(), 3u);
  EXPECT_FALSE(m.get_all_cuts(out(h), 5, 2, out(y), &cuts));  // both 2-leaf cuts are full
}

TEST(KavuCutEnumeration, CombinationalLoopEndsWithoutCuts) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* p = make_and(&nl, x, nullptr);
  CDB_SGATE_NODE* q = make_or(&nl, p, x);
  p->get_input_term(1)->set_source(out(q));  // p and q feed each other
  CDB_SGATE_NODE* h = make_not(&nl, q);
  KAVU_WVNET_MANAGER m;
  KAVU_WVNET_MANAGER::CUT_SET cuts;
  std::vector<int> sizes;
  EXPECT_FALSE(m.get_all_cuts(out(h), 50, 4, nullptr, &cuts));
  EXPECT_FALSE(m.get_all_ff_cuts(out(h), 50, 4, &cuts, &sizes));
  EXPECT_TRUE(cuts.empty());
  OTERM_LIST o, s, t, cut;
  m.get_cone(out(h), 50, false, false, false, false, true, &o, &s, &t, nullptr);
  EXPECT_EQ(o.size(), 4u);
  m.kavu_get_mincut(o, s, t, &cut, nullptr, nullptr);
  EXPECT_EQ(cut.size(), 1u);
}

TEST(KavuCutEnumeration, FanoutFreeCutsRejectConesWithOutsideFanout) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_NODE* y = make_input_pin(&nl, "y");
  CDB_SGATE_NODE* z = make_input_pin(&nl, "z");
  CDB_SGATE_NODE* a = make_and(&nl, x, y);
  CDB_SGATE_NODE* b = make_xor(&nl, a, z);
  CDB_SGATE_NODE* h = make_or(&nl, b, z);
  make_output_pin(&nl, "o", h);
  CDB_SGATE_NODE* side = make_output_pin(&nl, "side", a);  // a also leaves the cone
  KAVU_WVNET_MANAGER m;
  KAVU_WVNET_MANAGER::CUT_SET cuts;
  std::vector<int> sizes;
  ASSERT_TRUE(m.get_all_ff_cuts(out(h), 10, 4, &cuts, &sizes));
  ASSERT_EQ(cuts.size(), sizes.size());
  std::map<std::set<CDB_SGATE_OTERM*>, int> got;
  for (size_t i = 0; i < cuts.size(); ++i) got[{cuts[i].begin(), cuts[i].end()}] = sizes[i];
  const std::map<std::set<CDB_SGATE_OTERM*>, int> expected{{{out(b), out(z)}, 1},
                                                           {{out(a), out(z)}, 2}};
  EXPECT_EQ(got, expected);
  delete side;  // without the side output, a's cone is fan-out free too
  sizes.clear();
  ASSERT_TRUE(m.get_all_ff_cuts(out(h), 10, 4, &cuts, &sizes));
  EXPECT_EQ(cuts.size(), 3u);
  EXPECT_EQ(std::count(sizes.begin(), sizes.end(), 3), 1);
}

TEST(KavuCutEnumeration, BigFanoutFreeCut) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 8; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
  std::vector<CDB_SGATE_NODE*> level(pins);
  while (level.size() > 1) {  // a balanced tree of 7 AND gates
    std::vector<CDB_SGATE_NODE*> next;
    for (size_t i = 0; i < level.size(); i += 2) next.push_back(make_and(&nl, level[i], level[i + 1]));
    level = next;
  }
  CDB_SGATE_OTERM* head = out(level[0]);
  KAVU_WVNET_MANAGER m;
  OTERMS sources, members;
  EXPECT_TRUE(m.big_fanout_free_cut(head, 1, 1, &sources, &members));
  EXPECT_EQ(sources, OTERMS{head});
  EXPECT_TRUE(members.empty());
  sources.clear();
  EXPECT_FALSE(m.big_fanout_free_cut(head, 1, 0, &sources, &members));
  sources.clear();
  members.clear();
  // Eight leaves do not fit four: members fed only by leaves take their place.
  ASSERT_TRUE(m.big_fanout_free_cut(head, 10, 4, &sources, &members));
  EXPECT_EQ(sources.size(), 4u);
  EXPECT_EQ(members.size(), 3u);
  sources.clear();
  members.clear();
  members.push_back(head);
  EXPECT_KAVU_INTERNAL_ERROR(m.big_fanout_free_cut(head, 10, 4, &sources, &members),
                             "members->size() == 0");
}

}  // namespace
