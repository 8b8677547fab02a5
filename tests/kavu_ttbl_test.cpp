// Fixed-width tables TTBL<N> against a naive model (one bool per minterm)
// below one word, at the two words of the seven-input cut table and at four
// words; the one-ALE fit test on functions built to fit and ones that cannot;
// seven-input cut tables on deep chains, refused cones and real circuits
// (small hand-built cones: kavu_01tbl_cone_test.cpp, with every evaluator).

#include "kavu_01tbl_cone.h"
#include "kavu_01tbl_test_support.h"
#include "kavu_ttbl.h"

using kavu_01tbl_test::PINS;

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
  EXPECT_KAVU_INTERNAL_ERROR(TTBL<7>::variable(7), "v < N");
  EXPECT_KAVU_INTERNAL_ERROR(TTBL<7>().cofactor(7, true), "v < N");
}

TEST(KavuTtblFitsAle, FitsExactlyWhenOneSplitLeavesTwoFiveInputHalves) {
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
  // Parity and dense functions do not fit.
  TTBL<7> parity;
  for (unsigned v = 0; v < 7; ++v) parity ^= TTBL<7>::variable(v);
  EXPECT_FALSE(kavu_7cut_fn_fits_ale(parity));
  // Both cofactors of a random function depend on all six other inputs
  // (the chance that one does not is about 2^-30).
  for (int round = 0; round < 10; ++round) EXPECT_FALSE(kavu_7cut_fn_fits_ale(random_ttbl<7>(rng))) << round;
  // x6 ? g : h with g over five inputs and h over six: splitting on x6
  // leaves h with six, splitting elsewhere leaves x6 and five inputs of h.
  const TTBL<7> g = random_ttbl<7>(rng).cofactor(6, false).cofactor(5, false);
  const TTBL<7> h = random_ttbl<7>(rng).cofactor(6, false);
  EXPECT_FALSE(kavu_7cut_fn_fits_ale((TTBL<7>::variable(6) & g) | (~TTBL<7>::variable(6) & h)));
}

typedef TTBL<7> T7;

T7 x(unsigned i) { return T7::variable(i); }
CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_output_term(0); }

// A chain far deeper than any call stack would take; every gate is shared
// by the next one and read once.
TEST(Kavu7Cut, DeepChainsAndRefusedCones) {
  PINS px(7);
  const std::vector<CDB_SGATE_OTERM*>& leaves = px.fanins;
  CDB_SGATE_OTERM* prev = leaves[0];
  T7 expect = x(0);
  for (unsigned k = 1; k <= 70001; ++k) {
    CDB_SGATE_COMB* g = px.comb(CDB_COMB_XOR);
    PINS::add_input(g, prev);
    PINS::add_input(g, leaves[k % 7]);
    expect ^= x(k % 7);
    prev = out(g);
  }
  EXPECT_EQ(kavu_7cut_fn(prev, leaves), expect);
  // Refused: a cut of another size, a null root, a gate of another kind, a
  // comb type without a rule (each evaluator has its own text), a loop.
  std::vector<CDB_SGATE_OTERM*> six = px.first(6);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(px.fanins[0], six), "fanins.size () == 7");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(nullptr, px.fanins), "root");
  CDB_SGATE_COMB* a = px.comb(CDB_COMB_AND);
  PINS::add_input(a, out(kavu_platform::make_lut(&px.nl, {px.pins[0], px.pins[1]}, 0x8)));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(out(a), px.fanins), "kavu_is_a_comb");
  CDB_SGATE_COMB* odd = px.comb(CDB_COMB_TYPE(7));
  PINS::add_input(odd, px.fanins[0]);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(out(odd), px.fanins), "unknown comb type!");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_cone_01tbl(out(odd), px.fanins, nullptr), "bad comb sgate");
  // g1 = x0 & g2, g2 = x1 & g1: reported, not recursed into.
  CDB_SGATE_COMB* g1 = px.comb(CDB_COMB_AND);
  CDB_SGATE_COMB* g2 = px.comb(CDB_COMB_AND);
  PINS::add_input(g1, px.fanins[0]);
  PINS::add_input(g2, px.fanins[1]);
  PINS::add_input(g2, out(g1));
  PINS::add_input(g1, out(g2));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(out(g2), px.fanins), "combinational loop");
}

// Cuts of exactly seven leaves, grown through comb gates in random order.
TEST(Kavu7CutCircuits, TablesAgreeWithTheSimulatorOnRealCones) {
  for (const char* name : {"alu4", "cavlc", "router"}) {
    kavu_platform::BLIF_READ_OPTIONS options;
    options.names = kavu_platform::BLIF_READ_OPTIONS::ALL_COMB;
    auto nl = kavu_platform::load_blif(name, options);
    kavu_platform::NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::mt19937 rng(99);
    std::vector<std::pair<CDB_SGATE_OTERM*, std::vector<CDB_SGATE_OTERM*>>> cuts;
    auto is_comb = [](const CDB_SGATE_NODE* g) { return g->get_sgate_type() == CDB_SGATE_COMB_ENUM; };
    for (auto it = nl->begin_node_list(); it != nl->end_node_list() && cuts.size() < 150; ++it) {
      if (*it == nullptr || !is_comb(*it)) continue;
      int steps = 0;
      kavu_01tbl_test::grow_cut(out(*it), 7, is_comb, &rng, [&](const std::vector<CDB_SGATE_OTERM*>& cut) {
        if (cut.size() == 7) cuts.push_back({out(*it), cut});
        return ++steps < 20;
      });
    }
    EXPECT_GT(cuts.size(), 50u) << name;
    for (uint64_t seed = 1; seed <= 3; ++seed) {
      sim.randomize_inputs(seed);
      sim.eval();
      for (const auto& [root, cut] : cuts)
        ASSERT_TRUE(kavu_01tbl_test::agrees_with_simulation(sim, kavu_7cut_fn(root, cut), root, cut)) << name;
    }
  }
}

}  // namespace
