// Fixed-width tables TTBL<N> against a naive model (one bool per minterm),
// at widths below one word, of exactly two words (the seven-input cut
// table) and of four words, and the one-ALE fit test on functions built to
// fit and functions that cannot.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kavu_ttbl.h"
#include "testkit/platform_testkit.h"

namespace {

template <unsigned N>
TTBL<N> random_ttbl(std::mt19937_64& rng) {
  // The OR of random minterm literals: built only through the public
  // algebra, so the test does not depend on the word layout.
  TTBL<N> t;
  for (unsigned m = 0; m < (1u << N); ++m) {
    if (!(rng() & 1)) continue;
    TTBL<N> cube = TTBL<N>::ones();
    for (unsigned v = 0; v < N; ++v) cube &= ((m >> v) & 1) ? TTBL<N>::variable(v) : ~TTBL<N>::variable(v);
    t |= cube;
  }
  return t;
}

template <unsigned N>
std::vector<bool> naive(const TTBL<N>& t) {
  std::vector<bool> f(1u << N);
  for (unsigned m = 0; m < f.size(); ++m) f[m] = t.minterm(m);
  return f;
}

template <unsigned N>
void check_against_model(std::mt19937_64& rng) {
  for (int round = 0; round < 20; ++round) {
    const TTBL<N> t = random_ttbl<N>(rng);
    const std::vector<bool> f = naive(t);
    unsigned support = 0;
    for (unsigned v = 0; v < N; ++v) {
      bool depends = false;
      for (unsigned m = 0; m < f.size(); ++m) depends |= f[m] != f[m ^ (1u << v)];
      support += depends;
      EXPECT_EQ(t.depends_on(v), depends) << N << " v " << v;
      for (bool value : {false, true}) {
        const std::vector<bool> c = naive(t.cofactor(v, value));
        for (unsigned m = 0; m < f.size(); ++m) {
          const unsigned at = value ? m | (1u << v) : m & ~(1u << v);
          ASSERT_EQ(c[m], f[at]) << N << " v " << v << " value " << value << " m " << m;
        }
      }
    }
    EXPECT_EQ(t.support_size(), support) << N;
    const std::vector<bool> inverted = naive(~t);
    for (unsigned m = 0; m < f.size(); ++m) ASSERT_EQ(inverted[m], !f[m]) << N;
    // Complement keeps unused bits clear: the double complement is equal.
    EXPECT_EQ(~~t, t);
    EXPECT_EQ(t ^ t, TTBL<N>::zeros());
    EXPECT_EQ(t | ~t, TTBL<N>::ones());
  }
}

TEST(KavuTtblOperations, AgreeWithModelInsideAndAcrossWords) {
  std::mt19937_64 rng(5);
  check_against_model<3>(rng);
  check_against_model<6>(rng);
  check_against_model<7>(rng);
  check_against_model<8>(rng);
}

TEST(KavuTtblOperations, SevenInputLayoutIsTwoWords) {
  // Variable 6 picks the word; the others repeat their masks in both.
  EXPECT_EQ(TTBL<7>::variable(6).word(0), 0u);
  EXPECT_EQ(TTBL<7>::variable(6).word(1), ~uint64_t(0));
  EXPECT_EQ(TTBL<7>::variable(5).word(1), 0xFFFFFFFF00000000ull);
  EXPECT_EQ(TTBL<7>::variable(0).word(0), 0xAAAAAAAAAAAAAAAAull);
  EXPECT_KAVU_INTERNAL_ERROR(TTBL<7>::variable(7), "v < N");
  EXPECT_KAVU_INTERNAL_ERROR(TTBL<7>().cofactor(7, true), "v < N");
}

TEST(KavuTtblFitsAle, FunctionsOfSixInputsAlwaysFit) {
  std::mt19937_64 rng(17);
  for (unsigned unused = 0; unused < 7; ++unused) {
    TTBL<7> f = random_ttbl<7>(rng);
    // Drop one input: both cofactors on another input need at most five.
    f = f.cofactor(unused, false);
    EXPECT_TRUE(kavu_7cut_fn_fits_ale(f)) << unused;
  }
  EXPECT_TRUE(kavu_7cut_fn_fits_ale(TTBL<7>::zeros()));
  EXPECT_TRUE(kavu_7cut_fn_fits_ale(TTBL<7>::variable(3)));
}

TEST(KavuTtblFitsAle, SelectedFiveInputHalvesFit) {
  // x_s ? g : h with g and h each over five of the other six inputs, the
  // selector inside a word (s < 6) and across the two words (s = 6).
  std::mt19937_64 rng(23);
  for (unsigned s = 0; s < 7; ++s) {
    for (unsigned drop = 1; drop < 7; ++drop) {
      const unsigned g_drops = (s + drop) % 7, h_drops = (s + 7 - drop) % 7;
      const TTBL<7> g = random_ttbl<7>(rng).cofactor(s, false).cofactor(g_drops, true);
      const TTBL<7> h = random_ttbl<7>(rng).cofactor(s, true).cofactor(h_drops, false);
      const TTBL<7> sel = TTBL<7>::variable(s);
      EXPECT_TRUE(kavu_7cut_fn_fits_ale((sel & g) | (~sel & h))) << s << " " << drop;
    }
  }
}

TEST(KavuTtblFitsAle, ParityAndDenseRandomFunctionsDoNotFit) {
  TTBL<7> parity;
  for (unsigned v = 0; v < 7; ++v) parity ^= TTBL<7>::variable(v);
  EXPECT_FALSE(kavu_7cut_fn_fits_ale(parity));
  // Both cofactors of a random function on any input depend on all six
  // others (the chance that one does not is about 2^-30).
  std::mt19937_64 rng(29);
  for (int round = 0; round < 10; ++round) EXPECT_FALSE(kavu_7cut_fn_fits_ale(random_ttbl<7>(rng))) << round;
  // x6 ? g : h with g over five inputs and h over six: splitting on x6
  // leaves h with six; splitting on any other input leaves x6 and five
  // inputs of h on one side.
  const TTBL<7> g = random_ttbl<7>(rng).cofactor(6, false).cofactor(5, false);
  const TTBL<7> h = random_ttbl<7>(rng).cofactor(6, false);
  const TTBL<7> sel = TTBL<7>::variable(6);
  EXPECT_FALSE(kavu_7cut_fn_fits_ale((sel & g) | (~sel & h)));
}

}  // namespace
