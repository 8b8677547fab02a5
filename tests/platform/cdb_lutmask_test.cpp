// LUT masks against a naive truth-table model for 0..6 inputs and mixed
// counts; printing and the refused arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "cdb/cdb_lutmask.h"
#include "testkit/platform_testkit.h"

namespace {

// One bool per minterm; minterm m has input i at bit i of m.
struct NAIVE_FN {
  unsigned n = 0;
  std::vector<bool> bits;
  bool at(unsigned m) const { return bits[m & ((1u << n) - 1)]; }  // ignores inputs >= n
};

NAIVE_FN naive_from(unsigned n, const std::function<bool(unsigned)>& f) {
  NAIVE_FN fn{n, {}};
  for (unsigned m = 0; m < (1u << n); ++m) fn.bits.push_back(f(m));
  return fn;
}

NAIVE_FN random_naive(unsigned n, std::mt19937_64& rng) {
  return naive_from(n, [&](unsigned) { return (rng() & 1) != 0; });
}

CDB_LUTMASK to_mask(const NAIVE_FN& fn) {
  uint64_t v = 0;
  for (unsigned m = 0; m < fn.bits.size(); ++m) v |= uint64_t(fn.bits[m]) << m;
  CDB_LUTMASK mask;
  mask.set_value(fn.n, v);
  return mask;
}

// Compares a mask with the model bit by bit, including the exactness rule
// (bits past 2^n are zero).
void expect_matches(const CDB_LUTMASK& mask, const NAIVE_FN& fn, const char* what) {
  ASSERT_EQ(mask.get_num_inputs(), fn.n) << what;
  for (unsigned m = 0; m < 64; ++m)
    ASSERT_EQ(((mask.get_value() >> m) & 1) != 0, m < (1u << fn.n) && fn.bits[m]) << what << ": n " << fn.n << " minterm " << m;
}

struct LutmaskModelTest : ::testing::Test {
  std::mt19937_64 rng{12345};
  static constexpr int kSamples = 24;
};

TEST_F(LutmaskModelTest, ConstantsAndIdentitiesMatchModel) {
  for (unsigned n = 0; n <= 6; ++n) {
    expect_matches(CDB_LUTMASK::get_vcc_mask(n), naive_from(n, [](unsigned) { return true; }), "vcc");
    expect_matches(CDB_LUTMASK::get_gnd_mask(n), naive_from(n, [](unsigned) { return false; }), "gnd");
    EXPECT_TRUE(CDB_LUTMASK::get_vcc_mask(n).is_vcc() && CDB_LUTMASK::get_gnd_mask(n).is_gnd());
    EXPECT_EQ(CDB_LUTMASK::get_vcc_mask(n).get_value(), cdb_lut_bitmask(n));
    for (unsigned i = 0; i < n; ++i)
      expect_matches(CDB_LUTMASK::imask(n, i), naive_from(n, [i](unsigned m) { return (m >> i) & 1; }), "imask");
  }
  CDB_LUTMASK m;
  m.set_value(2, 0xFFFFFFFFFFFFFFF6ull);  // stray high bits: only the 2^n low ones stay
  EXPECT_EQ(m.get_value(), 0x6u);
  EXPECT_FALSE(m.is_vcc());
  EXPECT_EQ(cdb_safe_shl(1, 63), uint64_t(1) << 63);
  EXPECT_EQ(cdb_safe_shl(~uint64_t(0), 64), 0u);
}

TEST_F(LutmaskModelTest, BitwiseOperatorsOnEqualAndMixedCounts) {
  for (unsigned n1 = 0; n1 <= 6; ++n1) {
    for (unsigned n2 = 0; n2 <= 6; ++n2) {
      for (int s = 0; s < 4; ++s) {
        NAIVE_FN a = random_naive(n1, rng), b = random_naive(n2, rng);
        CDB_LUTMASK ma = to_mask(a), mb = to_mask(b);
        unsigned n = std::max(n1, n2);
        expect_matches(ma & mb, naive_from(n, [&](unsigned m) { return a.at(m) && b.at(m); }), "and");
        expect_matches(ma | mb, naive_from(n, [&](unsigned m) { return a.at(m) || b.at(m); }), "or");
        expect_matches(ma ^ mb, naive_from(n, [&](unsigned m) { return a.at(m) != b.at(m); }), "xor");
      }
    }
    NAIVE_FN a = random_naive(n1, rng);
    expect_matches(~to_mask(a), naive_from(n1, [&](unsigned m) { return !a.at(m); }), "not");
  }
}

// Operations on one mask, for random functions of 0..6 inputs: widening,
// inverting an input (twice restores), rotating inputs (the inverse
// permutation restores), independence and both cofactors (Shannon restores).
TEST_F(LutmaskModelTest, OperationsOnOneMaskMatchModel) {
  for (unsigned n = 0; n <= 6; ++n) {
    std::vector<int> perm(n), inverse(n);
    std::iota(perm.begin(), perm.end(), 0);
    for (int s = 0; s < kSamples; ++s) {
      const NAIVE_FN a = random_naive(n, rng);
      const CDB_LUTMASK f = to_mask(a);
      for (unsigned m = n; m <= 6; ++m)
        expect_matches(f.widened(m), naive_from(m, [&](unsigned x) { return a.at(x); }), "widened");
      std::shuffle(perm.begin(), perm.end(), rng);
      CDB_LUTMASK r = f;
      r.rotate_inputs(perm.data());  // input k of the result is input perm[k] of f
      expect_matches(r, naive_from(n, [&](unsigned x) {
                       unsigned t = 0;
                       for (unsigned k = 0; k < n; ++k) t |= ((x >> k) & 1u) << perm[k];
                       return a.at(t);
                     }), "rotate_inputs");
      for (unsigned k = 0; k < n; ++k) inverse[perm[k]] = int(k);
      r.rotate_inputs(inverse.data());
      EXPECT_EQ(r, f) << "n " << n;
      for (unsigned i = 0; i < n; ++i) {
        const unsigned bit = 1u << i;
        CDB_LUTMASK inv = f, c0 = f, c1 = f;
        inv.invert_input(i);
        expect_matches(inv, naive_from(n, [&](unsigned x) { return a.at(x ^ bit); }), "invert_input");
        inv.invert_input(i);
        EXPECT_EQ(inv, f);
        bool independent = true;
        for (unsigned x = 0; x < (1u << n); ++x) independent &= a.at(x) == a.at(x ^ bit);
        EXPECT_EQ(f.is_independent_of(i), independent);
        c0.make_independent_of(i);
        c1.make_independent_of_bar(i);
        expect_matches(c0, naive_from(n, [&](unsigned x) { return a.at(x & ~bit); }), "cofactor 0");
        expect_matches(c1, naive_from(n, [&](unsigned x) { return a.at(x | bit); }), "cofactor 1");
        const CDB_LUTMASK x = CDB_LUTMASK::imask(n, i);
        EXPECT_EQ((~x & c0) | (x & c1), f);
      }
    }
  }
}

// == is exact (count and value); same_function widens the smaller count.
TEST(LutmaskCompare, EqualityIsExactWhileSameFunctionWidens) {
  CDB_LUTMASK four, six, one;
  four.set_value(4, 0xccaa);
  six.set_value(6, 0xccaaccaaccaaccaaull);
  EXPECT_NE(four, six);
  EXPECT_TRUE(four.same_function(six) && six.same_function(four) && four.widened(6) == six);
  six.set_value(6, 0xccaaccaaccaaccabull);
  EXPECT_FALSE(four.same_function(six));
  one.set_value(0, 1);  // a constant of no inputs is the same function as the constant of six
  EXPECT_TRUE(one.same_function(CDB_LUTMASK::get_vcc_mask(6)) && one != CDB_LUTMASK::get_vcc_mask(6));
}

TEST(LutmaskText, PrintsSixteenOrFourDigits) {
  CDB_LUTMASK m;
  m.set_value(4, 0x0caa);
  const std::string six = m.get_string_value();
  const unsigned saved = std::exchange(CDB_LUTMASK::max_num_inputs, 4u);  // four-input architectures: four digits
  EXPECT_EQ(six + " " + m.get_string_value(), "0x0000000000000CAA 0x0CAA");
  CDB_LUTMASK::max_num_inputs = saved;
}

TEST(LutmaskPreconditions, RefusesOutOfRangeArguments) {
  CDB_LUTMASK m;
  EXPECT_KAVU_INTERNAL_ERROR(m.set_value(7, 0), "n <= kMaxInputs");
  EXPECT_KAVU_INTERNAL_ERROR(CDB_LUTMASK::imask(4, 4), "i < n");
  EXPECT_KAVU_INTERNAL_ERROR(cdb_lut_bitmask(7), "n <= kMaxInputs");
  m.set_value(3, 0x96);
  EXPECT_KAVU_INTERNAL_ERROR(m.invert_input(3), "i < m_num_inputs");
  EXPECT_KAVU_INTERNAL_ERROR(m.is_independent_of(5), "i < m_num_inputs");
  EXPECT_KAVU_INTERNAL_ERROR(m.make_independent_of_bar(3), "i < m_num_inputs");
  EXPECT_KAVU_INTERNAL_ERROR(m.widened(2), "m >= m_num_inputs");
  const int repeated[3] = {0, 1, 1}, out_of_range[3] = {0, 1, 3};
  EXPECT_KAVU_INTERNAL_ERROR(m.rotate_inputs(repeated), "seen");
  EXPECT_KAVU_INTERNAL_ERROR(m.rotate_inputs(out_of_range), "perm[k]");
  EXPECT_EQ(m.get_value(), 0x96u);  // refused calls leave the mask alone
}

}  // namespace
