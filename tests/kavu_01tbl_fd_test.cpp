// Functional decomposition searches: every decomposition must rebuild the
// table it came from, and the searches must find what a brute-force count
// of column multiplicities says exists.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <vector>

#include "kavu_01tbl.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_fd_int.h"
#include "testkit/platform_testkit.h"

namespace {

KAVU_01TBL random_table(unsigned int n, std::mt19937& rng) {
  KAVU_01TBL t(n);
  for (unsigned int m = 0; m < (1u << n); ++m)
    if (rng() & 1u) t.set_minterm(m);
  return t;
}

// A table that surely decomposes: h(x0.., e(bound vars)) with random h, e.
KAVU_01TBL composed_table(unsigned int n, unsigned int b, std::mt19937& rng) {
  const KAVU_01TBL e = random_table(b, rng);
  const KAVU_01TBL h = random_table(n - b + 1, rng);
  KAVU_01TBL t(n);
  const unsigned int f = n - b;
  for (unsigned int m = 0; m < (1u << n); ++m) {
    const unsigned int code = e.minterm(m >> f);
    if (h.minterm((m & ((1u << f) - 1)) | (code << f))) t.set_minterm(m);
  }
  return t;
}

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

// t without variable s, fixed at value (the variables above move down).
KAVU_01TBL naive_cofactor(const KAVU_01TBL& t, unsigned int s, bool value) {
  KAVU_01TBL r(t.num_vars() - 1);
  for (unsigned int m = 0; m < (1u << r.num_vars()); ++m) {
    const unsigned int low = m & ((1u << s) - 1);
    const unsigned int full = low | (value ? 1u << s : 0u) | ((m >> s) << (s + 1));
    if (t.minterm(full)) r.set_minterm(m);
  }
  return r;
}

// Value of a decomposition at minterm m of the table it came from.
// Free variables 0..f-1, bound f..n-1; shared < 0 for a disjoint result.
unsigned int eval_decomposition(const std::vector<KAVU_01TBL*>& dec, unsigned int f, int shared, unsigned int m) {
  const unsigned int bound = m >> f;
  unsigned int gin = m & ((1u << f) - 1);
  unsigned int pos = f;
  if (shared >= 0) gin |= ((m >> shared) & 1u) << pos++;
  for (size_t i = 0; i + 1 < dec.size(); ++i) gin |= dec[i]->minterm(bound) << pos++;
  return dec.back()->minterm(gin);
}

void expect_rebuilds(const KAVU_01TBL& t, const std::vector<KAVU_01TBL*>& dec, unsigned int f, int shared) {
  for (unsigned int m = 0; m < (1u << t.num_vars()); ++m)
    ASSERT_EQ(eval_decomposition(dec, f, shared, m), t.minterm(m)) << "minterm " << m;
}

// Best gain over every bound set of size b by brute force: the disjoint
// gain b - ne, or b - max(ne0, ne1) - 1 sharing one variable.
unsigned int brute_force_best_gain(const KAVU_01TBL& t, unsigned int b) {
  const unsigned int n = t.num_vars(), f = n - b;
  std::vector<unsigned int> masks;
  kavu_fd_int::enumerate_bound_sets(n, b, masks);
  unsigned int best = 0;
  for (unsigned int mask : masks) {
    // Move the bound set to the top by a minterm permutation.
    std::vector<unsigned int> order;
    for (unsigned int v = 0; v < n; ++v)
      if (!((mask >> v) & 1u)) order.push_back(v);
    for (unsigned int v = 0; v < n; ++v)
      if ((mask >> v) & 1u) order.push_back(v);
    KAVU_01TBL r(n);
    for (unsigned int m = 0; m < (1u << n); ++m) {
      unsigned int orig = 0;
      for (unsigned int i = 0; i < n; ++i) orig |= ((m >> i) & 1u) << order[i];
      if (t.minterm(orig)) r.set_minterm(m);
    }
    const unsigned int ne = ceil_log2(naive_multiplicity(r, f));
    if (ne < b) best = std::max(best, b - ne);
    for (unsigned int s = f; s < n && b >= 2; ++s) {
      const unsigned int ne0 = ceil_log2(naive_multiplicity(naive_cofactor(r, s, false), f));
      const unsigned int ne1 = ceil_log2(naive_multiplicity(naive_cofactor(r, s, true), f));
      if (ne0 < b - 1 && ne1 < b - 1) best = std::max(best, b - std::max(ne0, ne1) - 1);
    }
  }
  return best;
}

struct TABLES {
  std::vector<KAVU_01TBL*> v;
  ~TABLES() { kavu_fd_int::free_tables(v); }
};

}  // namespace

TEST(Kavu01tblFdDisjoint, ExistsExactlyWhenMultiplicityAllows) {
  std::mt19937 rng(7);
  for (unsigned int n = 2; n <= 8; ++n) {
    for (int round = 0; round < 12; ++round) {
      const KAVU_01TBL t = round % 2 ? random_table(n, rng) : composed_table(n, 1 + rng() % (n - 1), rng);
      for (unsigned int f = 1; f < n; ++f) {
        const unsigned int b = n - f;
        const unsigned int mu = naive_multiplicity(t, f);
        TABLES dec;
        const unsigned int ne = t.disjoint_fd(f, dec.v);
        if (ceil_log2(mu) >= b) {
          EXPECT_EQ(ne, 0u);
          EXPECT_TRUE(dec.v.empty()) << "n " << n << " f " << f;
          continue;
        }
        ASSERT_EQ(ne, ceil_log2(mu)) << "n " << n << " f " << f;
        ASSERT_EQ(dec.v.size(), ne + 1);
        for (unsigned int i = 0; i < ne; ++i) EXPECT_EQ(dec.v[i]->num_vars(), b);
        EXPECT_EQ(dec.v.back()->num_vars(), f + ne);
        expect_rebuilds(t, dec.v, f, -1);
      }
    }
  }
}

TEST(Kavu01tblFdDisjoint, HandComputedCases) {
  // x0 AND x1 over 3 variables: nothing depends on x2, so the bound set
  // {x2} has one column class and g alone comes back.
  KAVU_01TBL t(3);
  t.set_minterm(3);
  t.set_minterm(7);
  TABLES dec;
  EXPECT_EQ(t.disjoint_fd(2, dec.v), 0u);
  ASSERT_EQ(dec.v.size(), 1u);
  EXPECT_EQ(dec.v[0]->num_vars(), 2u);
  // Three column classes need two codes; the unused fourth code repeats the
  // rows of code 0. Columns over x0 by the pattern p of (x1, x2, x3):
  // p = 0 -> 0, p = 1 -> x0, p >= 2 -> 1.
  KAVU_01TBL u(4);
  for (unsigned int m = 3; m < 16; ++m) u.set_minterm(m);
  TABLES d2;
  ASSERT_EQ(u.disjoint_fd(1, d2.v), 2u);
  ASSERT_EQ(d2.v.size(), 3u);
  const KAVU_01TBL& g = *d2.v[2];
  EXPECT_EQ(g.minterm(0b110), g.minterm(0b000));
  EXPECT_EQ(g.minterm(0b111), g.minterm(0b001));
  expect_rebuilds(u, d2.v, 1, -1);
}

TEST(Kavu01tblFdNonDisjoint, RebuildsAndAgreesWithCofactorCounts) {
  std::mt19937 rng(11);
  for (unsigned int n = 3; n <= 8; ++n) {
    for (int round = 0; round < 10; ++round) {
      const KAVU_01TBL t = round % 2 ? random_table(n, rng) : composed_table(n, 2 + rng() % (n - 2), rng);
      for (unsigned int f = 1; f + 2 <= n; ++f) {
        const unsigned int b = n - f;
        for (unsigned int s = f; s < n; ++s) {
          const unsigned int ne0 = ceil_log2(naive_multiplicity(naive_cofactor(t, s, false), f));
          const unsigned int ne1 = ceil_log2(naive_multiplicity(naive_cofactor(t, s, true), f));
          TABLES dec;
          const unsigned int ne = t.non_disjoint_fd(f, s, dec.v);
          if (ne0 >= b - 1 || ne1 >= b - 1) {
            EXPECT_TRUE(dec.v.empty());
            continue;
          }
          ASSERT_EQ(ne, std::max(ne0, ne1)) << "n " << n << " f " << f << " s " << s;
          ASSERT_EQ(dec.v.size(), ne + 1);
          EXPECT_EQ(dec.v.back()->num_vars(), f + ne + 1);
          expect_rebuilds(t, dec.v, f, static_cast<int>(s));
        }
      }
    }
  }
}

// Every search finds the best gain that brute force finds, and its result
// rebuilds the table through the returned variable map.
TEST(Kavu01tblFdSearch, SearchesFindTheBruteForceGain) {
  std::mt19937 rng(5);
  for (unsigned int n = 4; n <= 7; ++n) {
    for (int round = 0; round < 6; ++round) {
      const KAVU_01TBL t = round % 2 ? random_table(n, rng) : composed_table(n, 2 + rng() % (n - 3), rng);
      for (unsigned int b = 2; b < n; ++b) {
        const unsigned int f = n - b;
        const unsigned int expected = brute_force_best_gain(t, b);
        for (int kind = 0; kind < 3; ++kind) {
          TABLES dec;
          std::vector<unsigned int> map;
          const std::vector<unsigned int> no_arrivals;
          unsigned int s = 0;
          if (kind == 0) s = t.quick_exhaustive_fd(f, 0xffffff, no_arrivals, dec.v, map);
          if (kind == 1) s = t.quick_exhaustive_disjoint_or_nondisjoint_fd(f, 0xffffff, no_arrivals, dec.v, map);
          if (kind == 2) s = t.exhaustive_fd(f, 0xffffff, no_arrivals, dec.v, map);
          if (expected == 0) {
            EXPECT_TRUE(dec.v.empty()) << "kind " << kind;
            continue;
          }
          ASSERT_FALSE(dec.v.empty()) << "kind " << kind << " n " << n << " b " << b;
          EXPECT_EQ(n - dec.v.back()->num_vars(), expected) << "kind " << kind;
          const bool ndj = dec.v.back()->num_vars() == f + dec.v.size();
          ASSERT_EQ(map.size(), n);
          KAVU_01TBL reordered(n);  // t with variable map[i] at position i
          for (unsigned int m = 0; m < (1u << n); ++m) {
            unsigned int orig = 0;
            for (unsigned int i = 0; i < n; ++i) orig |= ((m >> i) & 1u) << map[i];
            if (t.minterm(orig)) reordered.set_minterm(m);
          }
          expect_rebuilds(reordered, dec.v, f, ndj ? static_cast<int>(s) : -1);
        }
      }
    }
  }
}

TEST(Kavu01tblFdSearch, ArrivalFilterAndBoundSetOrder) {
  std::vector<unsigned int> list;
  kavu_fd_int::enumerate_bound_sets(4, 2, list);
  EXPECT_EQ(list, (std::vector<unsigned int>{0x3, 0x5, 0x9, 0x6, 0xA, 0xC}));
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
  ASSERT_EQ(dec.v.size(), 2u);
  EXPECT_EQ(map, (std::vector<unsigned int>{0, 1, 2, 3}));
}

TEST(Kavu01tblFdSearch, BestFdPrefersSmallerSizeOnTies) {
  // x0 XOR x1 XOR ... XOR x5: every bound size codes its set with one
  // function and removes size - 1 inputs; the largest size wins on
  // reduction.
  KAVU_01TBL t(6);
  t.set_xor();
  TABLES dec;
  std::vector<unsigned int> map;
  t.best_fd(2, 5, 0xffffff, {}, dec.v, map);
  ASSERT_EQ(dec.v.size(), 2u);
  EXPECT_EQ(dec.v[0]->num_vars(), 5u);
  // Two bound sizes with equal reduction and encoding count: the smaller
  // one is kept. f = x0 x1 OR (x2 x3 x4) has reduction 2 with one code for
  // both sizes 3 ({x2,x3,x4}) and 4 (any superset, needing a second code).
  KAVU_01TBL u(5);
  for (unsigned int m = 0; m < 32; ++m)
    if ((m & 3u) == 3u || (m & 0x1Cu) == 0x1Cu) u.set_minterm(m);
  TABLES d2;
  u.best_fd(3, 4, 0xffffff, {}, d2.v, map);
  ASSERT_FALSE(d2.v.empty());
  EXPECT_EQ(d2.v[0]->num_vars(), 3u);
  EXPECT_EQ(d2.v.back()->num_vars(), 3u);
}

TEST(Kavu01tblFdSolutions, ListRankRemapAndCover) {
  // (x0 AND x1 AND x2) XOR x3: bound set {x0,x1,x2} removes two inputs.
  KAVU_01TBL t(4);
  for (unsigned int m = 0; m < 16; ++m)
    if ((((m & 7u) == 7u) ? 1u : 0u) ^ ((m >> 3) & 1u)) t.set_minterm(m);
  std::vector<KAVU_FD_SOLUTION> sols;
  t.find_all_fds(2, 3, 0xffffff, {}, sols);
  ASSERT_FALSE(sols.empty());
  const KAVU_FD_SOLUTION& best = sols[KAVU_01TBL::find_best_solution(sols)];
  EXPECT_EQ(best.used_vars, 0x7u);
  EXPECT_EQ(best.reduction(), 2);
  // Ties on reduction go to the smaller area, then the first.
  std::vector<KAVU_FD_SOLUTION> tied = {{0x3, 20, 1, -1}, {0x6, 10, 1, -1}, {0xC, 10, 1, -1}};
  EXPECT_EQ(KAVU_01TBL::find_best_solution(tied), 1u);
  // Re-mapping follows the terminals into their new positions.
  int a, b, c;
  std::vector<CDB_SGATE_OTERM*> ori = {reinterpret_cast<CDB_SGATE_OTERM*>(&a),
                                       reinterpret_cast<CDB_SGATE_OTERM*>(&b),
                                       reinterpret_cast<CDB_SGATE_OTERM*>(&c)};
  std::vector<CDB_SGATE_OTERM*> moved = {ori[2], ori[0], ori[1]};
  KAVU_FD_SOLUTION s{0x3, 0, 1, 1};
  KAVU_01TBL::fix_variable_order(s, ori, moved);
  EXPECT_EQ(s.used_vars, 0x6u);
  EXPECT_EQ(s.ndj_var, 2);
  // Cover: two disjoint solutions of 2 variables with one code each, over 6
  // inputs: the root has 6 - 4 + 2 = 4 inputs.
  std::vector<KAVU_FD_SOLUTION> cover_sols = {{0x3, 10, 1, -1}, {0xC, 10, 1, -1}};
  unsigned int inputs = 0;
  EXPECT_EQ(kavu_compute_cover_area(cover_sols, {true, true}, 6, false, &inputs), 21u);
  EXPECT_EQ(inputs, 4u);
}

// Regressions for refused input.
TEST(Kavu01tblFdPreconditions, BoundSizesAndCoverInputsAreChecked) {
  KAVU_01TBL t(4);
  t.set_xor();
  std::vector<KAVU_FD_SOLUTION> sols;
  // A bound set as large as the table leaves no free variable.
  EXPECT_KAVU_INTERNAL_ERROR(t.find_all_fds(2, 4, 0xffffff, {}, sols), "b < n");
  TABLES dec;
  std::vector<unsigned int> map;
  EXPECT_KAVU_INTERNAL_ERROR(t.quick_exhaustive_fd(0, 0xffffff, {}, dec.v, map), "free_set_size");
  EXPECT_KAVU_INTERNAL_ERROR(t.best_fd(2, 4, 0xffffff, {}, dec.v, map), "hi < num_vars()");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_fd_int::binomial(3, 0), "k > 0");
  // A cover whose bound sets outnumber the counted inputs used to wrap to a
  // huge unsigned input count.
  std::vector<KAVU_FD_SOLUTION> cover_sols = {{0xF, 10, 1, -1}};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_compute_cover_area(cover_sols, {true}, 2, false, nullptr), "inputs >= 0");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_compute_cover_area(cover_sols, {true, false}, 8, false, nullptr),
                             "cover.size()");
}
