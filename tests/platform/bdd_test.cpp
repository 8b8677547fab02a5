// The BDD package against truth tables: every operation on random functions
// of up to 10 variables, with and without complement edges; functions and
// exact node counts through swaps, sifting, exhaustive search and installed
// orders; the graph queries the decomposition code relies on; handles that
// outlive their manager; refused arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <vector>

#include "bdd/bdd_zbdd.h"
#include "testkit/platform_testkit.h"

namespace {

// A truth table over variables 0..n-1 (by variable index, not level): bit m
// is the value where variable i is bit i of m.
typedef std::vector<bool> TT;

TT tt_var(int n, int v) {
  TT t(size_t(1) << n);
  for (size_t m = 0; m < t.size(); ++m) t[m] = ((m >> v) & 1u) != 0;
  return t;
}

template <class OP>
TT tt_op(const TT& a, const TT& b, OP op) {
  TT t(a.size());
  for (size_t m = 0; m < t.size(); ++m) t[m] = op(a[m], b[m]);
  return t;
}

// Evaluates the graph by walking children, independent of the package's
// own truth-table routine.
TT tt_of(const BDD_ZBDD& f, int n) {
  TT t(size_t(1) << n);
  for (size_t m = 0; m < t.size(); ++m) {
    BDD_ZBDD e = f;
    bool flip = false;
    while (!e.is_constant()) {
      if (e.is_complement()) flip = !flip;
      const bool bit = ((m >> e.variable()) & 1u) != 0;
      e = bit ? e.high_child() : e.low_child();
    }
    if (e.is_complement()) flip = !flip;
    t[m] = (e.regularize() == e.get_manager()->true_bdd()) != flip;
  }
  return t;
}

// Distinct nodes (terminals included) reachable from the handles: what the
// manager's table must hold after a collection or a reordering.
int live_nodes(const std::vector<BDD_ZBDD>& fs, bool ce) {
  std::set<int> nodes;
  for (const BDD_ZBDD& f : fs) {
    std::vector<BDD_ZBDD> order;
    f.get_top_order(&order, false);
    for (const BDD_ZBDD& n : order) nodes.insert(n.index());
  }
  return (int)nodes.size() + (ce ? 1 : 2);
}

struct RANDOM_FNS {
  std::vector<BDD_ZBDD> bdds;
  std::vector<TT> tts;
};

// Random functions built by every operator, each checked on the way.
RANDOM_FNS build_random(BDD_ZBDD_MGR& mgr, int n, int count, std::mt19937& rng) {
  RANDOM_FNS r;
  for (int v = 0; v < n; ++v) {
    r.bdds.push_back(mgr.ithvar(v));
    r.tts.push_back(tt_var(n, v));
  }
  r.bdds.push_back(mgr.true_bdd());
  r.tts.push_back(TT(size_t(1) << n, true));
  r.bdds.push_back(mgr.false_bdd());
  r.tts.push_back(TT(size_t(1) << n, false));
  while ((int)r.bdds.size() < count) {
    const size_t a = rng() % r.bdds.size(), b = rng() % r.bdds.size(), c = rng() % r.bdds.size();
    BDD_ZBDD f;
    TT t;
    switch (rng() % 7) {
      case 0: f = r.bdds[a] & r.bdds[b]; t = tt_op(r.tts[a], r.tts[b], [](bool x, bool y) { return x && y; }); break;
      case 1: f = r.bdds[a] | r.bdds[b]; t = tt_op(r.tts[a], r.tts[b], [](bool x, bool y) { return x || y; }); break;
      case 2: f = r.bdds[a] ^ r.bdds[b]; t = tt_op(r.tts[a], r.tts[b], [](bool x, bool y) { return x != y; }); break;
      case 3: f = !r.bdds[a]; t = tt_op(r.tts[a], r.tts[a], [](bool x, bool) { return !x; }); break;
      case 4:
        f = r.bdds[a].Ite(r.bdds[b], r.bdds[c]);
        t = TT(r.tts[a].size());
        for (size_t m = 0; m < t.size(); ++m) t[m] = r.tts[a][m] ? r.tts[b][m] : r.tts[c][m];
        break;
      case 5: {  // assigning forms
        f = r.bdds[a];
        f &= r.bdds[b];
        f ^= r.bdds[c];
        f |= r.bdds[a].Not();
        t = TT(r.tts[a].size());
        for (size_t m = 0; m < t.size(); ++m)
          t[m] = ((r.tts[a][m] && r.tts[b][m]) != r.tts[c][m]) || !r.tts[a][m];
        break;
      }
      default: {  // generalized cofactor: agrees with f wherever c is 1
        if (r.bdds[b] == mgr.false_bdd()) continue;
        f = r.bdds[a].Constrain(r.bdds[b]);
        const TT ft = tt_of(f, n);
        for (size_t m = 0; m < ft.size(); ++m)
          if (r.tts[b][m]) {
            EXPECT_EQ(ft[m], r.tts[a][m]);
          }
        t = ft;
        break;
      }
    }
    EXPECT_EQ(tt_of(f, n), t);
    r.bdds.push_back(f);
    r.tts.push_back(t);
  }
  return r;
}

void expect_functions(const RANDOM_FNS& r, int n) {
  for (size_t i = 0; i < r.bdds.size(); ++i) ASSERT_EQ(tt_of(r.bdds[i], n), r.tts[i]) << "function " << i;
}

struct OPS_CASE {
  int vars;
  bool ce;
  int functions;
};

// Stable names and printed values (the default prints the struct's bytes,
// padding included).
void PrintTo(const OPS_CASE& c, std::ostream* os) {
  *os << c.vars << " vars" << (c.ce ? ", complement edges, " : ", ") << c.functions << " functions";
}
std::string ops_case_name(const ::testing::TestParamInfo<OPS_CASE>& info) {
  return std::to_string(info.param.vars) + (info.param.ce ? "VarsComplementEdges" : "Vars");
}

class BddOps : public ::testing::TestWithParam<OPS_CASE> {};

TEST_P(BddOps, OperationsMatchTruthTablesAndAreCanonical) {
  const OPS_CASE c = GetParam();
  std::mt19937 rng(17 + c.vars * 2 + c.ce);
  BDD_ZBDD_MGR mgr(c.vars, 1000, 50000, c.ce, false);
  EXPECT_EQ(mgr.use_complement_edges(), c.ce);
  RANDOM_FNS r = build_random(mgr, c.vars, c.functions, rng);
  // Canonical: equal functions are equal handles, different ones are not.
  for (size_t i = 0; i < r.bdds.size(); i += 3)
    for (size_t j = 0; j < r.bdds.size(); j += 5) EXPECT_EQ(r.bdds[i] == r.bdds[j], r.tts[i] == r.tts[j]);
  // The package's own table: bit m, variable at level j is bit j of m.
  for (size_t i = 0; i < r.bdds.size(); i += 7) {
    std::vector<uint64_t> words;
    r.bdds[i].make_truth_table(&words);
    for (size_t m = 0; m < r.tts[i].size(); ++m) EXPECT_EQ(((words[m / 64] >> (m % 64)) & 1u) != 0, r.tts[i][m]);
  }
  // Support and size queries.
  for (size_t i = 0; i < r.bdds.size(); i += 4) {
    std::vector<int> support;
    r.bdds[i].build_support(&support);
    int expected = 0;
    for (int v = 0; v < c.vars; ++v) {
      const size_t bit = size_t(1) << v;
      bool depends = false;
      for (size_t m = 0; m < r.tts[i].size() && !depends; ++m) depends = r.tts[i][m] != r.tts[i][m ^ bit];
      if (depends) {
        ++expected;
        EXPECT_NE(std::find(support.begin(), support.end(), v), support.end());
      }
    }
    EXPECT_EQ((int)support.size(), expected);
    EXPECT_EQ(r.bdds[i].support_size(), expected);
    EXPECT_TRUE(std::is_sorted(support.begin(), support.end()));  // identity order: levels = variables
    EXPECT_EQ(r.bdds[i].size_upto_level(c.vars), r.bdds[i].size());
  }
  // Collection keeps every function and leaves exactly the live nodes.
  mgr.garbage_collect();
  EXPECT_EQ(mgr.size(), live_nodes(r.bdds, c.ce));
  expect_functions(r, c.vars);
  int iterated = 0;
  for (BDD_ZBDD_ITERATOR it = mgr.begin(); it != mgr.end(); ++it) {
    EXPECT_FALSE((*it).is_constant());
    ++iterated;
  }
  EXPECT_EQ(iterated, mgr.size() - (c.ce ? 1 : 2));
}

INSTANTIATE_TEST_SUITE_P(EdgesAndSizes, BddOps,
                         ::testing::Values(OPS_CASE{1, false, 20}, OPS_CASE{1, true, 20}, OPS_CASE{3, false, 60},
                                           OPS_CASE{3, true, 60}, OPS_CASE{6, false, 150},
                                           OPS_CASE{6, true, 150}, OPS_CASE{10, false, 120},
                                           OPS_CASE{10, true, 120}),
                         ops_case_name);

// Rounds of work on one manager whose tables are sized for a large job:
// each round builds functions with every operation (some on the same
// operands, so one operation's cached result must never answer another),
// drops most of them and collects, so later rounds reuse freed node
// indices; a result remembered across a collection would name a node that
// now holds another function.
class BddCollect : public ::testing::TestWithParam<OPS_CASE> {};

TEST_P(BddCollect, ResultsStayRightAcrossCollectionsInLargeTables) {
  const OPS_CASE c = GetParam();
  std::mt19937 rng(5 + c.vars + c.ce);
  BDD_ZBDD_MGR mgr(c.vars, 1 << 17, 1 << 17, c.ce, false);
  RANDOM_FNS kept;
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    RANDOM_FNS r = build_random(mgr, c.vars, 2 * c.functions, rng);
    expect_functions(kept, c.vars);
    for (size_t i = c.vars + 2; i < r.bdds.size(); i += 16) {
      kept.bdds.push_back(r.bdds[i]);
      kept.tts.push_back(r.tts[i]);
    }
    r = RANDOM_FNS();
    mgr.garbage_collect();
    EXPECT_EQ(mgr.size(), live_nodes(kept.bdds, c.ce));
  }
}

INSTANTIATE_TEST_SUITE_P(EdgesAndSizes, BddCollect,
                         ::testing::Values(OPS_CASE{6, false, 150}, OPS_CASE{6, true, 150},
                                           OPS_CASE{10, false, 120}, OPS_CASE{10, true, 120}),
                         ops_case_name);

class BddReorder : public ::testing::TestWithParam<OPS_CASE> {};

TEST_P(BddReorder, FunctionsAndExactSizesSurviveEveryReordering) {
  const OPS_CASE c = GetParam();
  std::mt19937 rng(99 + c.vars + c.ce);
  BDD_ZBDD_MGR mgr(c.vars, 1000, 50000, c.ce, false);
  RANDOM_FNS r = build_random(mgr, c.vars, c.functions, rng);
  // Handles kept across the reordering must keep index and function.
  std::vector<int> ids;
  for (const BDD_ZBDD& f : r.bdds) ids.push_back(f.id());
  auto check = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(mgr.size(), live_nodes(r.bdds, c.ce));
    expect_functions(r, c.vars);
    for (size_t i = 0; i < r.bdds.size(); ++i) EXPECT_EQ(r.bdds[i].id(), ids[i]);
    std::vector<int> order(c.vars);
    mgr.get_variable_order(order.data());
    for (int l = 0; l < c.vars; ++l) EXPECT_EQ(mgr.level_of_var(order[l]), l);
    std::vector<int> counts;
    mgr.node_counts_by_level(&counts);
    int sum = c.ce ? 1 : 2;
    for (int k : counts) sum += k;
    EXPECT_EQ(sum, mgr.size());
  };
  for (int k = 0; k < 3 * c.vars; ++k) {
    const int l = int(rng() % (c.vars - 1));
    mgr.swap_adjacent_variables(mgr.variable_at(l), mgr.variable_at(l + 1));
  }
  check("random swaps");
  mgr.sifting_reorder(0, 0, -1);
  check("full sifting");
  mgr.sifting_reorder(0, 1, c.vars - 1);
  check("range sifting");
  std::vector<int> order(c.vars);
  for (int v = 0; v < c.vars; ++v) order[v] = c.vars - 1 - v;
  mgr.order_variables(order.data(), c.vars);
  check("reversed order");
  for (int l = 0; l < c.vars; ++l) EXPECT_EQ(mgr.variable_at(l), c.vars - 1 - l);
  if (c.vars <= 8) {
    mgr.exhaustive_perm();
    check("exhaustive search");
  }
  // New operations after reordering still agree with the tables.
  RANDOM_FNS more = build_random(mgr, c.vars, 40, rng);
  expect_functions(more, c.vars);
}

INSTANTIATE_TEST_SUITE_P(EdgesAndSizes, BddReorder,
                         ::testing::Values(OPS_CASE{2, false, 10}, OPS_CASE{2, true, 10}, OPS_CASE{5, false, 60},
                                           OPS_CASE{5, true, 60}, OPS_CASE{8, false, 80}, OPS_CASE{8, true, 80},
                                           OPS_CASE{10, false, 60}, OPS_CASE{10, true, 60},
                                           OPS_CASE{11, false, 120}, OPS_CASE{11, true, 120}),
                         ops_case_name);

// The function of a truth table, built by Shannon expansion on variables
// n-1 down to 0 (no reordering involved).
BDD_ZBDD from_tt(BDD_ZBDD_MGR& mgr, const TT& t, size_t first, int v) {
  if (v < 0) return t[first] ? mgr.true_bdd() : mgr.false_bdd();
  const size_t half = size_t(1) << v;
  return mgr.ithvar(v).Ite(from_tt(mgr, t, first + half, v - 1), from_tt(mgr, t, first, v - 1));
}

// Swaps and sifting leave the table canonical: after them, every level holds
// exactly the nodes a fresh manager makes for the same functions built in the
// final order. A unique table that loses or duplicates a node while levels
// move fails here even when every function still evaluates right. Tables
// start small, so the larger cases grow and shrink them on the way.
TEST_P(BddReorder, SwapsAndSiftingMatchARebuildInTheFinalOrder) {
  const OPS_CASE c = GetParam();
  const int n = c.vars;
  std::vector<std::vector<int>> starts(4, std::vector<int>(n));
  std::mt19937 rng(7 + n + c.ce);
  for (int l = 0; l < n; ++l) {
    starts[0][l] = l;                                        // identity
    starts[1][l] = n - 1 - l;                                // reversed
    starts[2][l] = l % 2 == 0 ? l / 2 : (n + 1) / 2 + l / 2;  // interleaved halves
    starts[3][l] = l;
  }
  std::shuffle(starts[3].begin(), starts[3].end(), rng);
  for (const std::vector<int>& start : starts) {
    BDD_ZBDD_MGR mgr(n, 16, 256, c.ce, false);
    mgr.order_variables(start.data(), n);
    RANDOM_FNS r = build_random(mgr, n, c.functions, rng);
    for (int k = 0; k < 2 * n; ++k) {
      const int l = int(rng() % (n - 1));
      mgr.swap_adjacent_variables(mgr.variable_at(l), mgr.variable_at(l + 1));
    }
    mgr.sifting_reorder(0, 0, -1);
    std::vector<int> order(n);
    mgr.get_variable_order(order.data());
    BDD_ZBDD_MGR fresh(n, 16, 256, c.ce, false);
    fresh.order_variables(order.data(), n);
    std::vector<BDD_ZBDD> rebuilt;
    for (const TT& t : r.tts) rebuilt.push_back(from_tt(fresh, t, 0, n - 1));
    fresh.garbage_collect();
    std::vector<int> counts, fresh_counts;
    mgr.node_counts_by_level(&counts);
    fresh.node_counts_by_level(&fresh_counts);
    EXPECT_EQ(counts, fresh_counts) << "start order " << ::testing::PrintToString(start);
    EXPECT_EQ(mgr.size(), fresh.size());
    for (size_t i = 0; i < r.bdds.size(); ++i) ASSERT_EQ(r.bdds[i].size(), rebuilt[i].size()) << "function " << i;
    expect_functions(r, n);
  }
}

// f = x0 x3 + x1 x4 + x2 x5: six nodes when the pairs are adjacent, many
// more in the order 0..5. Sifting and the exhaustive search both find the
// small order; the exhaustive one the minimum.
TEST(BddReorder, PairedAndOrSiftsToItsMinimum) {
  for (bool ce : {false, true}) {
    for (int method = 0; method < 2; ++method) {
      BDD_ZBDD_MGR mgr(6, 1000, 50000, ce, false);
      BDD_ZBDD f = (mgr.ithvar(0) & mgr.ithvar(3)) | (mgr.ithvar(1) & mgr.ithvar(4)) |
                   (mgr.ithvar(2) & mgr.ithvar(5));
      const int terminals = ce ? 1 : 2;
      EXPECT_GT(f.size(), 6 + terminals);
      if (method == 0) mgr.sifting_reorder(0, 0, -1);
      else mgr.exhaustive_perm();
      EXPECT_EQ(f.size(), 6 + terminals) << "ce " << ce << " method " << method;
      EXPECT_EQ(mgr.size(), 6 + terminals);
      for (int v : {0, 1, 2}) EXPECT_EQ(std::abs(mgr.level_of_var(v) - mgr.level_of_var(v + 3)), 1);
    }
  }
}

TEST(BddQueries, CutsAssignmentsOrdersAndCubes) {
  for (bool ce : {false, true}) {
    SCOPED_TRACE(ce ? "complement edges" : "plain edges");
    BDD_ZBDD_MGR mgr(4, 1000, 50000, ce, false);
    const BDD_ZBDD x0 = mgr.ithvar(0), x1 = mgr.ithvar(1), x2 = mgr.ithvar(2), x3 = mgr.ithvar(3);
    // f = x0 & (x2 | x3): cut below level 0 meets false and (x2 | x3); with
    // x1 absent the cut below level 1 is the same.
    const BDD_ZBDD g = x2 | x3;
    const BDD_ZBDD f = x0 & g;
    std::vector<BDD_ZBDD> cut;
    f.get_cut_nodes(1, &cut);
    ASSERT_EQ(cut.size(), 2u);
    std::set<int> got{cut[0].id(), cut[1].id()};
    EXPECT_EQ(got, (std::set<int>{g.id(), mgr.false_bdd().id()}));
    // Replacing g by 1 and false by 0 leaves the top x0.
    std::vector<int> values;
    for (const BDD_ZBDD& n : cut) values.push_back(n.index() == g.index() ? 1 : 0);
    EXPECT_EQ(mgr.assign_cut_node_values(f, 1, cut, values), x0);
    // Cut at level 0 is the root itself.
    f.get_cut_nodes(0, &cut);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0], f.regularize());
    // x0 xor (x2 & x3): one node under the cut with complement edges
    // (reached both ways), two without.
    const BDD_ZBDD h = x0 ^ (x2 & x3);
    h.get_cut_nodes(1, &cut);
    EXPECT_EQ(cut.size(), ce ? 1u : 2u);
    // Top order: children first, by level from the bottom.
    std::vector<BDD_ZBDD> order;
    h.get_top_order(&order, true);
    for (size_t i = 1; i < order.size(); ++i) EXPECT_GE(order[i - 1].level(), order[i].level());
    EXPECT_EQ(order.back(), h.regularize());
    EXPECT_EQ(h.size_upto_level(0), 1);
    // Cubes: the minterm 0b1010 over four inputs.
    std::vector<BDD_ZBDD> in{x0, x1, x2, x3};
    const BDD_ZBDD cube = mgr.build_cube(in, 0xA, 4);
    EXPECT_EQ(cube, (!x0) & x1 & (!x2) & x3);
    EXPECT_EQ(mgr.build_cube(in, 0, 0), mgr.true_bdd());
    // Handles rebuilt from ids.
    EXPECT_EQ(BDD_ZBDD(&mgr, h.id()), h);
    EXPECT_EQ(mgr.null_bdd(), BDD_ZBDD());
    EXPECT_TRUE(x1.low_child().is_constant());
    EXPECT_EQ(x1.variable(), 1);
    EXPECT_EQ(mgr.true_bdd().variable(), -1);
  }
}

TEST(BddManagers, ManyManagersAndHandlesThatOutliveTheirManager) {
  auto a = std::make_unique<BDD_ZBDD_MGR>(3, 100, 100, true, false);
  BDD_ZBDD_MGR b(3, 100, 100, false, false);
  BDD_ZBDD fa = a->ithvar(0) & a->ithvar(1);
  BDD_ZBDD fb = b.ithvar(0) & b.ithvar(1);
  EXPECT_NE(fa, fb);  // different managers
  BDD_ZBDD copy = fa;
  copy.remove_from_manager();
  EXPECT_TRUE(copy.is_null());
  EXPECT_EQ(copy.get_manager(), a.get());
  a.reset();
  EXPECT_TRUE(fa.is_null());
  EXPECT_EQ(fa.get_manager(), nullptr);
  EXPECT_EQ(tt_of(fb, 3), tt_op(tt_var(3, 0), tt_var(3, 1), [](bool x, bool y) { return x && y; }));
  // Dead nodes stay counted until collected.
  b.garbage_collect();
  const int before = b.size();
  { BDD_ZBDD t = b.ithvar(2) ^ fb; }
  EXPECT_GT(b.size(), before);
  b.garbage_collect();
  EXPECT_EQ(b.size(), before);
}

TEST(BddManagers, RefusedArguments) {
  BDD_ZBDD_MGR a(3, 100, 100, true, false), b(9, 100, 100, false, false);
  EXPECT_KAVU_INTERNAL_ERROR((void)(a.ithvar(0) & b.ithvar(0)), "get_manager");
  EXPECT_KAVU_INTERNAL_ERROR(a.ithvar(3), "var");
  EXPECT_KAVU_INTERNAL_ERROR(a.swap_adjacent_variables(0, 2), "m_perm[upper] + 1 == m_perm[lower]");
  EXPECT_KAVU_INTERNAL_ERROR(b.exhaustive_perm(), "n <= 8");
  EXPECT_KAVU_INTERNAL_ERROR((void)BDD_ZBDD().is_constant(), "m_mgr != nullptr");
  int bad[3] = {0, 0, 1};
  EXPECT_KAVU_INTERNAL_ERROR(a.order_variables(bad, 3), "seen");
  EXPECT_KAVU_INTERNAL_ERROR((void)a.ithvar(0).Constrain(a.false_bdd()), "zero");
}

}  // namespace
