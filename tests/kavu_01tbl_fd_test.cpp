// Functional decomposition searches: every decomposition must rebuild the
// table it came from, and the searches must find what a brute-force count
// of column multiplicities says exists.

#include <set>

#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_fd_int.h"
#include "kavu_01tbl_test_support.h"

using namespace kavu_01tbl_test;

namespace {

// Distinct columns of the top n - f variables, counted minterm by minterm.
unsigned int naive_multiplicity(const KAVU_01TBL& t, unsigned int f) {
  std::set<std::vector<unsigned int>> columns;
  for (unsigned int p = 0; p < (1u << (t.num_vars() - f)); ++p) {
    std::vector<unsigned int> col;
    for (unsigned int r = 0; r < (1u << f); ++r) col.push_back(t.minterm((p << f) | r));
    columns.insert(col);
  }
  return static_cast<unsigned int>(columns.size());
}

unsigned int ceil_log2(unsigned int mu) {
  unsigned int e = 0;
  while ((1u << e) < mu) ++e;
  return e;
}

// Encoding functions the two cofactors of t on variable s need (the
// variables above s move down).
unsigned int naive_cofactor_codes(const KAVU_01TBL& t, unsigned int f, unsigned int s) {
  unsigned int ne = 0;
  for (unsigned int value = 0; value < 2; ++value) {
    KAVU_01TBL r(t.num_vars() - 1);
    for (unsigned int m = 0; m < (1u << r.num_vars()); ++m)
      if (t.minterm((m & ((1u << s) - 1)) | (value << s) | ((m >> s) << (s + 1)))) r.set_minterm(m);
    ne = std::max(ne, ceil_log2(naive_multiplicity(r, f)));
  }
  return ne;
}

// t with old variable order[i] at position i.
KAVU_01TBL permuted(const KAVU_01TBL& t, const std::vector<unsigned int>& order) {
  KAVU_01TBL r(t.num_vars());
  for (unsigned int m = 0; m < (1u << t.num_vars()); ++m) {
    unsigned int orig = 0;
    for (unsigned int i = 0; i < t.num_vars(); ++i) orig |= ((m >> i) & 1u) << order[i];
    if (t.minterm(orig)) r.set_minterm(m);
  }
  return r;
}

// Every minterm of t against its decomposition (free variables 0..f-1,
// bound f..n-1; shared < 0 for a disjoint result).
void expect_rebuilds(const KAVU_01TBL& t, const std::vector<KAVU_01TBL*>& dec, unsigned int f, int shared) {
  for (unsigned int m = 0; m < (1u << t.num_vars()); ++m) {
    unsigned int gin = m & ((1u << f) - 1), pos = f;
    if (shared >= 0) gin |= ((m >> shared) & 1u) << pos++;
    for (size_t i = 0; i + 1 < dec.size(); ++i) gin |= dec[i]->minterm(m >> f) << pos++;
    ASSERT_EQ(dec.back()->minterm(gin), t.minterm(m)) << "minterm " << m;
  }
}

// Best gain over every bound set of size b by brute force: the disjoint
// gain b - ne, or b - max(ne0, ne1) - 1 sharing one variable.
unsigned int brute_force_best_gain(const KAVU_01TBL& t, unsigned int b) {
  const unsigned int n = t.num_vars(), f = n - b;
  std::vector<unsigned int> masks;
  kavu_fd_int::enumerate_bound_sets(n, b, masks);
  unsigned int best = 0;
  for (unsigned int mask : masks) {
    std::vector<unsigned int> order;  // the bound set to the top
    for (int top = 0; top < 2; ++top)
      for (unsigned int v = 0; v < n; ++v)
        if (((mask >> v) & 1u) == unsigned(top)) order.push_back(v);
    const KAVU_01TBL r = permuted(t, order);
    const unsigned int ne = ceil_log2(naive_multiplicity(r, f));
    if (ne < b) best = std::max(best, b - ne);
    for (unsigned int s = f; s < n && b >= 2; ++s) {
      const unsigned int ne_s = naive_cofactor_codes(r, f, s);
      if (ne_s < b - 1) best = std::max(best, b - ne_s - 1);
    }
  }
  return best;
}

struct TABLES {
  std::vector<KAVU_01TBL*> v;
  ~TABLES() { kavu_fd_int::free_tables(v); }
};

}  // namespace

// Disjoint and non-disjoint decompositions exist exactly when the column
// counts allow, and rebuild the table.
TEST(Kavu01tblFd, DecompositionsAgreeWithColumnCounts) {
  std::mt19937 rng(7);
  for (unsigned int n = 2; n <= 8; ++n) {
    for (int round = 0; round < 12; ++round) {
      const KAVU_01TBL t = round % 2 ? random_table(n, rng) : composed_table(n, 1 + rng() % (n - 1), rng);
      for (unsigned int f = 1; f < n; ++f) {
        const unsigned int b = n - f, ne = ceil_log2(naive_multiplicity(t, f));
        TABLES dec;
        ASSERT_EQ(t.disjoint_fd(f, dec.v), ne < b ? ne : 0) << "n " << n << " f " << f;
        ASSERT_EQ(dec.v.size(), ne < b ? ne + 1 : 0) << "n " << n << " f " << f;
        if (ne < b) expect_rebuilds(t, dec.v, f, -1);
        for (unsigned int s = f; s < n && b >= 2; ++s) {
          const unsigned int ne_s = naive_cofactor_codes(t, f, s);
          TABLES ndj;
          const unsigned int got = t.non_disjoint_fd(f, s, ndj.v);
          ASSERT_EQ(ndj.v.size(), ne_s < b - 1 ? ne_s + 1 : 0) << "n " << n << " f " << f << " s " << s;
          if (ndj.v.empty()) continue;
          ASSERT_TRUE(got == ne_s && ndj.v.back()->num_vars() == f + ne_s + 1) << "n " << n << " f " << f << " s " << s;
          expect_rebuilds(t, ndj.v, f, static_cast<int>(s));
        }
      }
    }
  }
  // x0 AND x1 over three variables ignores the bound set {x2}: g alone.
  KAVU_01TBL t(3);
  t.set_minterm(3), t.set_minterm(7);
  TABLES dec;
  EXPECT_EQ(t.disjoint_fd(2, dec.v), 0u);
  EXPECT_TRUE(dec.v.size() == 1 && dec.v[0]->num_vars() == 2);
  // Three column classes need two codes; the unused fourth code repeats the
  // rows of code 0. Columns over x0 by the pattern p of (x1, x2, x3):
  // p = 0 -> 0, p = 1 -> x0, p >= 2 -> 1.
  KAVU_01TBL u(4);
  for (unsigned int m = 3; m < 16; ++m) u.set_minterm(m);
  kavu_fd_int::free_tables(dec.v);
  ASSERT_EQ(u.disjoint_fd(1, dec.v), 2u);
  EXPECT_EQ(dec.v[2]->minterm(0b110), dec.v[2]->minterm(0b000));
  EXPECT_EQ(dec.v[2]->minterm(0b111), dec.v[2]->minterm(0b001));
}

// Every search finds the best gain that brute force finds, and its result
// rebuilds the table through the returned variable map.
TEST(Kavu01tblFdSearch, SearchesFindTheBruteForceGain) {
  std::mt19937 rng(5);
  const std::vector<unsigned int> no_arrivals;
  for (unsigned int n = 4; n <= 7; ++n) {
    for (int round = 0; round < 6; ++round) {
      const KAVU_01TBL t = round % 2 ? random_table(n, rng) : composed_table(n, 2 + rng() % (n - 3), rng);
      for (unsigned int b = 2; b < n; ++b) {
        const unsigned int f = n - b, expected = brute_force_best_gain(t, b);
        for (int kind = 0; kind < 3; ++kind) {
          TABLES dec;
          std::vector<unsigned int> map;
          const unsigned int s =
              kind == 0   ? t.quick_exhaustive_fd(f, 0xffffff, no_arrivals, dec.v, map)
              : kind == 1 ? t.quick_exhaustive_disjoint_or_nondisjoint_fd(f, 0xffffff, no_arrivals, dec.v, map)
                          : t.exhaustive_fd(f, 0xffffff, no_arrivals, dec.v, map);
          if (expected == 0) {
            EXPECT_TRUE(dec.v.empty()) << "kind " << kind;
            continue;
          }
          ASSERT_FALSE(dec.v.empty()) << "kind " << kind << " n " << n << " b " << b;
          EXPECT_EQ(n - dec.v.back()->num_vars(), expected) << "kind " << kind;
          const bool ndj = dec.v.back()->num_vars() == f + dec.v.size();
          ASSERT_EQ(map.size(), n);
          expect_rebuilds(permuted(t, map), dec.v, f, ndj ? static_cast<int>(s) : -1);
        }
      }
    }
  }
}

TEST(Kavu01tblFdSearch, ArrivalFilterAndSizeTies) {
  // x0 ? x1 : (x2 AND x3): the bound set {x2, x3} is the only pair that
  // removes an input; a late x3 hides it from the searches that filter.
  KAVU_01TBL t(4);
  for (unsigned int m = 0; m < 16; ++m)
    if ((m & 1u) ? ((m >> 1) & 1u) : ((m >> 2) & (m >> 3) & 1u)) t.set_minterm(m);
  TABLES dec;
  std::vector<unsigned int> map;
  const std::vector<unsigned int> late_x3 = {0, 0, 0, 9};
  t.exhaustive_fd(2, 5, late_x3, dec.v, map);
  EXPECT_TRUE(dec.v.empty());
  t.exhaustive_fd(2, 9, late_x3, dec.v, map);
  EXPECT_EQ(dec.v.size(), 2u);
  // Two bound sizes with equal reduction: the smaller is kept. x0 x1 OR
  // x2 x3 x4 removes two inputs with one code for size 3 ({x2,x3,x4}) and
  // for size 4 (any superset, needing a second code).
  KAVU_01TBL u(5);
  for (unsigned int m = 0; m < 32; ++m)
    if ((m & 3u) == 3u || (m & 0x1Cu) == 0x1Cu) u.set_minterm(m);
  TABLES d2;
  u.best_fd(3, 4, 0xffffff, {}, d2.v, map);
  ASSERT_FALSE(d2.v.empty());
  EXPECT_TRUE(d2.v[0]->num_vars() == 3 && d2.v.back()->num_vars() == 3);
}

TEST(Kavu01tblFdSolutions, ListRankRemapCoverAndRefusals) {
  // (x0 AND x1 AND x2) XOR x3: bound set {x0,x1,x2} removes two inputs.
  KAVU_01TBL t(4);
  for (unsigned int m = 0; m < 16; ++m)
    if ((((m & 7u) == 7u) ? 1u : 0u) ^ ((m >> 3) & 1u)) t.set_minterm(m);
  std::vector<KAVU_FD_SOLUTION> sols;
  t.find_all_fds(2, 3, 0xffffff, {}, sols);
  const KAVU_FD_SOLUTION& best = sols[KAVU_01TBL::find_best_solution(sols)];
  EXPECT_TRUE(best.used_vars == 0x7u && best.reduction() == 2);
  // Ties on reduction go to the smaller area, then the first.
  std::vector<KAVU_FD_SOLUTION> tied = {{0x3, 20, 1, -1}, {0x6, 10, 1, -1}, {0xC, 10, 1, -1}};
  EXPECT_EQ(KAVU_01TBL::find_best_solution(tied), 1u);
  // Re-mapping follows the terminals into their new positions.
  int a, b, c;
  const std::vector<CDB_SGATE_OTERM*> ori = {reinterpret_cast<CDB_SGATE_OTERM*>(&a),
                                             reinterpret_cast<CDB_SGATE_OTERM*>(&b),
                                             reinterpret_cast<CDB_SGATE_OTERM*>(&c)};
  KAVU_FD_SOLUTION s{0x3, 0, 1, 1};
  KAVU_01TBL::fix_variable_order(s, ori, {ori[2], ori[0], ori[1]});
  EXPECT_TRUE(s.used_vars == 0x6u && s.ndj_var == 2);
  // Cover: two disjoint solutions of 2 variables with one code each, over 6
  // inputs: the root has 6 - 4 + 2 = 4 inputs.
  std::vector<KAVU_FD_SOLUTION> cover_sols = {{0x3, 10, 1, -1}, {0xC, 10, 1, -1}};
  unsigned int inputs = 0;
  EXPECT_EQ(kavu_compute_cover_area(cover_sols, {true, true}, 6, false, &inputs), 21u);
  EXPECT_EQ(inputs, 4u);
  // A cover whose bound sets outnumber the counted inputs used to wrap to a
  // huge unsigned input count.
  cover_sols = {{0xF, 10, 1, -1}};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_compute_cover_area(cover_sols, {true}, 2, false, nullptr), "inputs >= 0");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_compute_cover_area(cover_sols, {true, false}, 8, false, nullptr), "cover.size()");
  // Bound sizes must leave a free variable.
  TABLES dec;
  std::vector<unsigned int> map;
  EXPECT_KAVU_INTERNAL_ERROR(t.find_all_fds(2, 4, 0xffffff, {}, sols), "b < n");
  EXPECT_KAVU_INTERNAL_ERROR(t.quick_exhaustive_fd(0, 0xffffff, {}, dec.v, map), "free_set_size");
  EXPECT_KAVU_INTERNAL_ERROR(t.best_fd(2, 4, 0xffffff, {}, dec.v, map), "hi < num_vars()");
}
