// The canonical form of KAVU_01TBL against brute-force NPN classes and
// random input permutations and phases, and the table self-check.

#include <array>
#include <cstdlib>
#include <map>
#include <set>

#include "kavu_01tbl_test_support.h"

namespace {

// Functions of at most six variables as 64-bit minterm sets.
uint64_t full_mask(unsigned n) { return n == 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1; }

KAVU_01TBL table_of(unsigned n, uint64_t bits) {
  KAVU_01TBL t(n);
  bits &= full_mask(n);
  t.set_word(0, static_cast<unsigned>(bits));
  if (n == 6) t.set_word(1, static_cast<unsigned>(bits >> 32));
  return t;
}

uint64_t bits_of(const KAVU_01TBL& t) {
  return (t.word(0) | (t.num_vars() == 6 ? uint64_t(t.word(1)) << 32 : 0)) & full_mask(t.num_vars());
}

// An input permutation with phases and an output phase: g(x) = out ^ f(y)
// with y[perm[i]] = x[i] ^ flip bit i.
struct NPN {
  std::array<unsigned, 6> perm;
  unsigned flips;
  bool out;
};

uint64_t apply_npn(unsigned n, uint64_t f, const NPN& t) {
  uint64_t g = 0;
  for (unsigned x = 0; x < (1u << n); ++x) {
    unsigned y = 0;
    for (unsigned i = 0; i < n; ++i)
      if ((((x >> i) ^ (t.flips >> i)) & 1u) != 0) y |= 1u << t.perm[i];
    if ((((f >> y) & 1u) != 0) != t.out) g |= uint64_t(1) << x;
  }
  return g;
}

NPN random_npn(unsigned n, std::mt19937& rng) {
  NPN t{{0, 1, 2, 3, 4, 5}, static_cast<unsigned>(rng()) & ((1u << n) - 1), (rng() & 1u) != 0};
  std::shuffle(t.perm.begin(), t.perm.begin() + n, rng);
  return t;
}

// What canonical promises: f(x) = g(y) with y_p = x[var_map[p]],
// complemented where phase[var_map[p]] is false, the output complemented
// when the output phase is false.
bool rebuilds(unsigned n, uint64_t f, uint64_t g, bool out, const std::vector<unsigned>& var_map,
              const std::vector<bool>& phase) {
  for (unsigned x = 0; x < (1u << n); ++x) {
    unsigned y = 0;
    for (unsigned p = 0; p < n; ++p)
      if ((((x >> var_map[p]) & 1u) != 0) == phase[var_map[p]]) y |= 1u << p;
    if (((((g >> y) & 1u) != 0) == out) != (((f >> x) & 1u) != 0)) return false;
  }
  return true;
}

struct CANON {
  uint64_t bits;
  bool out;
  std::vector<unsigned> var_map;
  std::vector<bool> phase;
};

CANON canon_of(unsigned n, uint64_t f) {
  KAVU_01TBL t = table_of(n, f);
  CANON c;
  c.out = t.canonical(c.var_map, c.phase);
  c.bits = bits_of(t);
  EXPECT_TRUE(t.is_canonical()) << "n " << n << " f " << std::hex << f;
  return c;
}

// The promise under which the form is unique in its class: the on-set is not
// half the minterms and the shear volumes are non-zero and pairwise distinct
// in magnitude.
bool unambiguous(unsigned n, uint64_t f) {
  KAVU_01TBL t = table_of(n, f);
  if (2 * t.onset_volume() == (1u << n)) return false;
  std::set<int> seen;
  for (unsigned v = 0; v < n; ++v) {
    const int s = std::abs(t.shear_vol_on(v));
    if (s == 0 || !seen.insert(s).second) return false;
  }
  return true;
}

TEST(Kavu01tblCanonical, AllFourInputFunctionsAgainstTheirNpnClasses) {
  constexpr unsigned n = 4;
  constexpr unsigned num_funcs = 1u << 16;
  // Every permutation with every input and output phase: 24 x 16 x 2.
  std::vector<NPN> all;
  std::array<unsigned, 6> perm = {0, 1, 2, 3, 4, 5};
  do {
    for (unsigned flips = 0; flips < 16; ++flips)
      for (bool out : {false, true}) all.push_back(NPN{perm, flips, out});
  } while (std::next_permutation(perm.begin(), perm.begin() + n));

  std::vector<int> class_of(num_funcs, -1);
  std::vector<uint64_t> canon(num_funcs);
  int num_classes = 0;
  for (uint64_t f = 0; f < num_funcs; ++f) {
    const CANON c = canon_of(n, f);
    canon[f] = c.bits;
    ASSERT_TRUE(rebuilds(n, f, c.bits, c.out, c.var_map, c.phase)) << std::hex << f;
    if (class_of[f] >= 0) continue;
    for (const NPN& t : all) class_of[apply_npn(n, f, t)] = num_classes;
    ++num_classes;
  }
  ASSERT_EQ(num_classes, 222);

  std::vector<std::set<uint64_t>> reps(num_classes);
  std::map<uint64_t, int> class_of_rep;
  for (uint64_t f = 0; f < num_funcs; ++f) {
    reps[class_of[f]].insert(canon[f]);
    // A representative belongs to one class only.
    auto [it, added] = class_of_rep.emplace(canon[f], class_of[f]);
    EXPECT_EQ(it->second, class_of[f]) << std::hex << f;
  }
  // Where the form promises uniqueness, the class has one representative.
  for (uint64_t f = 0; f < num_funcs; ++f)
    EXPECT_TRUE(!unambiguous(n, f) || reps[class_of[f]].size() == 1u) << std::hex << f;
  // Tripwire: classes the heuristic separates exactly (a change of the sort
  // or the tie-breaks needs a reason).
  EXPECT_EQ(std::count_if(reps.begin(), reps.end(), [](const auto& r) { return r.size() == 1; }), 36);
}

TEST(Kavu01tblCanonical, RandomFiveAndSixInputFunctionsReachOneForm) {
  std::mt19937 rng(2024);
  for (unsigned n : {5u, 6u}) {
    int unique_cases = 0;
    for (int trial = 0; trial < 5000; ++trial) {
      // Half the cases are uniform; the others are threshold functions of
      // random weights, whose shear volumes differ more often.
      uint64_t f = ((uint64_t(rng()) << 32) | rng()) & full_mask(n);
      if (trial % 2 == 1) {
        std::array<unsigned, 6> w;
        unsigned total = 0;
        for (unsigned i = 0; i < n; ++i) total += w[i] = 1 + rng() % 40;
        const unsigned threshold = 1 + rng() % total;
        f = 0;
        for (unsigned m = 0; m < (1u << n); ++m) {
          unsigned sum = 0;
          for (unsigned i = 0; i < n; ++i) sum += ((m >> i) & 1u) ? w[i] : 0;
          if (sum >= threshold) f |= uint64_t(1) << m;
        }
      }
      const NPN t = random_npn(n, rng);
      const uint64_t g = apply_npn(n, f, t);
      const CANON cf = canon_of(n, f);
      const CANON cg = canon_of(n, g);
      ASSERT_TRUE(rebuilds(n, f, cf.bits, cf.out, cf.var_map, cf.phase)) << n << " " << std::hex << f;
      ASSERT_TRUE(rebuilds(n, g, cg.bits, cg.out, cg.var_map, cg.phase)) << n << " " << std::hex << g;
      if (!unambiguous(n, f)) continue;
      ++unique_cases;
      EXPECT_EQ(cf.bits, cg.bits) << n << " " << std::hex << f << " " << g;
    }
    EXPECT_GT(unique_cases, 10) << n;
  }
}

// Across the word boundary, with the debug checks of canonical on.
TEST(Kavu01tblCanonical, WideTablesAndDebugChecks) {
  set_01tbl_debug(2);
  std::mt19937 rng(7);
  for (unsigned n : {7u, 9u}) {
    const KAVU_01TBL f = kavu_01tbl_test::random_table(n, rng);
    KAVU_01TBL g(f);
    std::vector<unsigned> var_map;
    std::vector<bool> phase;
    const bool out = g.canonical(var_map, phase);
    EXPECT_TRUE(g.is_canonical());
    for (unsigned x = 0; x < (1u << n); ++x) {
      unsigned y = 0;
      for (unsigned p = 0; p < n; ++p)
        if ((((x >> var_map[p]) & 1u) != 0) == phase[var_map[p]]) y |= 1u << p;
      ASSERT_EQ((g.minterm(y) != 0) == out, f.minterm(x) != 0) << n << " " << x;
    }
  }
  set_01tbl_debug(0);
}

// The one-register form of up to six variables against the general steps
// (which the debug level selects): the same table, order, phases and output
// phase, on every function of at most 4 variables, random ones of 5 and 6
// with many ties (few minterms), and a table with bits above its function.
TEST(Kavu01tblCanonical, RegisterFormMatchesTheGeneralSteps) {
  struct RESULT {
    std::vector<unsigned> words, var_map;
    std::vector<bool> phase;
    bool out;
    bool operator==(const RESULT&) const = default;
  };
  auto run = [](KAVU_01TBL t, unsigned level) {
    set_01tbl_debug(level);
    RESULT r;
    r.out = t.canonical(r.var_map, r.phase);
    for (unsigned w = 0; w < t.length(); ++w) r.words.push_back(t.word(w));
    set_01tbl_debug(0);
    return r;
  };
  std::mt19937_64 rng(5);
  std::vector<KAVU_01TBL> tables;
  for (unsigned n = 0; n <= 4; ++n)
    for (uint64_t f = 0; f <= full_mask(n); ++f) tables.push_back(table_of(n, f));
  for (unsigned n : {5u, 6u})
    for (int i = 0; i < 3000; ++i) {
      const uint64_t sparse = rng() & rng() & rng();  // about one minterm in eight
      tables.push_back(table_of(n, i % 2 ? rng() : sparse));
    }
  KAVU_01TBL stray = table_of(3, 0x96);
  stray.set_word(0, 0xF00096u);  // bits above the function's eight
  tables.push_back(stray);
  int differ = 0;
  for (const KAVU_01TBL& t : tables) differ += !(run(t, 0) == run(t, 2));
  EXPECT_EQ(differ, 0) << "of " << tables.size();
}

TEST(Kavu01tblRegTest, PassesOnTablesOfEverySizeAndRefusesParallelSynthesis) {
  std::mt19937 rng(11);
  for (unsigned n : {0u, 1u, 3u, 5u, 6u, 8u}) kavu_01tbl_test::random_table(n, rng).reg_test();
  cdb_sgate_set_synthesis_running_in_parallel(true);
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_01TBL(3).reg_test(), "not thread-safe");
  cdb_sgate_set_synthesis_running_in_parallel(false);
}

}  // namespace
