// Fixed-width tables TTBL<N> against a naive model (one bool per minterm)
// below one word, at the two words of the seven-input cut table and at four
// words; the one-ALE fit test on functions built to fit and ones that cannot.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "kavu_ttbl.h"
#include "testkit/platform_testkit.h"

namespace {

// The OR of random minterms, built through the algebra alone so that the
// model does not share the code's word layout.
template <unsigned N>
TTBL<N> random_ttbl(std::mt19937_64& rng) {
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
void check_against_model(std::mt19937_64& rng) {
  for (int round = 0; round < 20; ++round) {
    const TTBL<N> t = random_ttbl<N>(rng);
    unsigned support = 0;
    for (unsigned v = 0; v < N; ++v) {
      bool depends = false;
      for (unsigned m = 0; m < (1u << N); ++m) depends |= t.minterm(m) != t.minterm(m ^ (1u << v));
      support += depends;
      EXPECT_EQ(t.depends_on(v), depends) << N << " v " << v;
      const TTBL<N> c0 = t.cofactor(v, false), c1 = t.cofactor(v, true);
      for (unsigned m = 0; m < (1u << N); ++m) {
        ASSERT_EQ(c0.minterm(m), t.minterm(m & ~(1u << v))) << N << " v " << v << " m " << m;
        ASSERT_EQ(c1.minterm(m), t.minterm(m | (1u << v))) << N << " v " << v << " m " << m;
        ASSERT_NE((~t).minterm(m), t.minterm(m)) << N;
      }
    }
    EXPECT_EQ(t.support_size(), support) << N;
    EXPECT_EQ(~~t, t);  // the complement keeps unused bits clear
    EXPECT_EQ(t | ~t, TTBL<N>::ones());
  }
}

TEST(KavuTtblOperations, AgreeWithModelInsideAndAcrossWords) {
  std::mt19937_64 rng(5);
  check_against_model<3>(rng);
  check_against_model<6>(rng);
  check_against_model<7>(rng);
  check_against_model<8>(rng);
  // Seven inputs: x6 picks the word, the other masks repeat in both.
  EXPECT_EQ(TTBL<7>::variable(6).word(0), 0u);
  EXPECT_EQ(TTBL<7>::variable(6).word(1), ~uint64_t(0));
  EXPECT_EQ(TTBL<7>::variable(5).word(1), 0xFFFFFFFF00000000ull);
  EXPECT_KAVU_INTERNAL_ERROR(TTBL<7>::variable(7), "v < N");
  EXPECT_KAVU_INTERNAL_ERROR(TTBL<7>().cofactor(7, true), "v < N");
}

TEST(KavuTtblFitsAle, FunctionsOfSixInputsAndSelectedFiveInputHalvesFit) {
  std::mt19937_64 rng(17);
  for (unsigned unused = 0; unused < 7; ++unused)
    EXPECT_TRUE(kavu_7cut_fn_fits_ale(random_ttbl<7>(rng).cofactor(unused, false))) << unused;
  EXPECT_TRUE(kavu_7cut_fn_fits_ale(TTBL<7>::zeros()));
  // x_s ? g : h, g and h each over five of the other six inputs; the
  // selector inside a word (s < 6) and across the two words (s = 6).
  for (unsigned s = 0; s < 7; ++s)
    for (unsigned drop = 1; drop < 7; ++drop) {
      const TTBL<7> g = random_ttbl<7>(rng).cofactor(s, false).cofactor((s + drop) % 7, true);
      const TTBL<7> h = random_ttbl<7>(rng).cofactor(s, true).cofactor((s + 7 - drop) % 7, false);
      const TTBL<7> sel = TTBL<7>::variable(s);
      EXPECT_TRUE(kavu_7cut_fn_fits_ale((sel & g) | (~sel & h))) << s << " " << drop;
    }
}

TEST(KavuTtblFitsAle, ParityAndDenseFunctionsDoNotFit) {
  TTBL<7> parity;
  for (unsigned v = 0; v < 7; ++v) parity ^= TTBL<7>::variable(v);
  EXPECT_FALSE(kavu_7cut_fn_fits_ale(parity));
  // Both cofactors of a random function depend on all six other inputs
  // (the chance that one does not is about 2^-30).
  std::mt19937_64 rng(29);
  for (int round = 0; round < 10; ++round) EXPECT_FALSE(kavu_7cut_fn_fits_ale(random_ttbl<7>(rng))) << round;
  // x6 ? g : h with g over five inputs and h over six: splitting on x6
  // leaves h with six, splitting elsewhere leaves x6 and five inputs of h.
  const TTBL<7> g = random_ttbl<7>(rng).cofactor(6, false).cofactor(5, false);
  const TTBL<7> h = random_ttbl<7>(rng).cofactor(6, false);
  const TTBL<7> sel = TTBL<7>::variable(6);
  EXPECT_FALSE(kavu_7cut_fn_fits_ale((sel & g) | (~sel & h)));
}

}  // namespace
