// kavu_ttbl.h — TTBL<N>, a fixed-width truth table over N inputs that lives
// by value, and the one-ALE fit test of seven-input functions.
//
// Model: 2^N minterm bits in 64-bit words; minterm m is bit (m mod 64) of
//   word (m / 64), variable i is bit i of the minterm index. Variables 0..5
//   lie inside a word (the masks below mark the minterms where the variable
//   is 1); a variable i >= 6 selects blocks of 2^(i-6) words. TTBL<7> is two
//   words: word 0 holds x6 = 0, word 1 holds x6 = 1.
// Invariant: below six inputs only the low 2^N bits of the word are used;
//   every operation keeps the others 0, so == compares raw words.
// Cost: every operation is a few word operations per word; nothing
//   allocates. A variable index at or above N is an internal error.
#pragma once

#include <array>
#include <cstdint>

#include "kavu_check.h"

template <unsigned N>
class TTBL {
  static_assert(N >= 1 && N <= 16, "TTBL is meant for small fixed cuts");

 public:
  static constexpr unsigned NUM_WORDS = N <= 6 ? 1u : 1u << (N - 6);
  // The valid bits of each word.
  static constexpr uint64_t WORD_MASK = N >= 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << N)) - 1;

  // Constant 0.
  TTBL() : m_words{} {}

  static TTBL zeros() { return TTBL(); }
  static TTBL ones() {
    TTBL t;
    t.m_words.fill(WORD_MASK);
    return t;
  }
  // The literal x_v.
  static TTBL variable(unsigned v) {
    KAVU_CHECK(v < N);
    TTBL t;
    for (unsigned i = 0; i < NUM_WORDS; ++i)
      t.m_words[i] = v < 6 ? VAR_MASKS[v] & WORD_MASK : (((i >> (v - 6)) & 1u) ? ~uint64_t(0) : 0);
    return t;
  }

  uint64_t word(unsigned i) const {
    KAVU_CHECK(i < NUM_WORDS);
    return m_words[i];
  }
  bool minterm(unsigned m) const {
    KAVU_CHECK(m < (1u << N));
    return (m_words[m >> 6] >> (m & 63)) & 1u;
  }

  TTBL operator~() const {
    TTBL t;
    for (unsigned i = 0; i < NUM_WORDS; ++i) t.m_words[i] = ~m_words[i] & WORD_MASK;
    return t;
  }
  TTBL& operator&=(const TTBL& o) {
    for (unsigned i = 0; i < NUM_WORDS; ++i) m_words[i] &= o.m_words[i];
    return *this;
  }
  TTBL& operator|=(const TTBL& o) {
    for (unsigned i = 0; i < NUM_WORDS; ++i) m_words[i] |= o.m_words[i];
    return *this;
  }
  TTBL& operator^=(const TTBL& o) {
    for (unsigned i = 0; i < NUM_WORDS; ++i) m_words[i] ^= o.m_words[i];
    return *this;
  }
  TTBL operator&(const TTBL& o) const { return TTBL(*this) &= o; }
  TTBL operator|(const TTBL& o) const { return TTBL(*this) |= o; }
  TTBL operator^(const TTBL& o) const { return TTBL(*this) ^= o; }
  bool operator==(const TTBL& o) const { return m_words == o.m_words; }
  bool operator!=(const TTBL& o) const { return m_words != o.m_words; }

  // f with x_v = value, still over N inputs.
  TTBL cofactor(unsigned v, bool value) const {
    KAVU_CHECK(v < N);
    TTBL t(*this);
    if (v < 6) {
      const unsigned s = 1u << v;
      const uint64_t hi = VAR_MASKS[v] & WORD_MASK;
      const uint64_t lo = ~VAR_MASKS[v] & WORD_MASK;
      for (uint64_t& w : t.m_words) w = value ? (w & hi) | ((w & hi) >> s) : (w & lo) | ((w & lo) << s);
      return t;
    }
    const unsigned b = 1u << (v - 6);
    for (unsigned g = 0; g < NUM_WORDS; g += 2 * b)
      for (unsigned j = 0; j < b; ++j) {
        if (value)
          t.m_words[g + j] = t.m_words[g + b + j];
        else
          t.m_words[g + b + j] = t.m_words[g + j];
      }
    return t;
  }

  // Whether the function's two cofactors on x_v differ.
  bool depends_on(unsigned v) const {
    KAVU_CHECK(v < N);
    if (v < 6) {
      const unsigned s = 1u << v;
      const uint64_t hi = VAR_MASKS[v] & WORD_MASK;
      for (uint64_t w : m_words)
        if (((w ^ (w << s)) & hi) != 0) return true;
      return false;
    }
    const unsigned b = 1u << (v - 6);
    for (unsigned g = 0; g < NUM_WORDS; g += 2 * b)
      for (unsigned j = 0; j < b; ++j)
        if (m_words[g + j] != m_words[g + b + j]) return true;
    return false;
  }

  // The number of inputs the function depends on.
  unsigned support_size() const {
    unsigned count = 0;
    for (unsigned v = 0; v < N; ++v) count += depends_on(v) ? 1u : 0u;
    return count;
  }

 private:
  static constexpr uint64_t VAR_MASKS[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull,
                                             0xF0F0F0F0F0F0F0F0ull, 0xFF00FF00FF00FF00ull,
                                             0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};

  std::array<uint64_t, NUM_WORDS> m_words;
};

// True when the seven-input function fits one ALE: for some input v, both
// cofactors on v depend on at most five inputs (tried for v = 0..6 in order).
bool kavu_7cut_fn_fits_ale(const TTBL<7>& fn);

// ---- Seven-input cut tables (kavu_ttbl_cut7.cpp) ----
#include <vector>

class CDB_SGATE_OTERM;

// The function of root over the seven leaves of a cut (leaf i is variable i).
// Every terminal between root and the leaves must be the output of a comb
// gate (AND, OR, XOR, NOT or name keeper, evaluated as the library's other
// evaluators do); inputs tied to GND or VCC read 0 or 1, an
// inverted input reads its source complemented, an unconnected input is
// skipped (the neutral value of its gate), and an inverted output terminal
// delivers its gate's complement. A cut of another size, a gate of another
// kind or a combinational loop inside the cone is an internal error. The
// walk keeps its own stack, so a deep cone cannot overflow the call stack.
// Cost: one evaluation per terminal of the cone (memoised), two words each.
const TTBL<7> kavu_7cut_fn(CDB_SGATE_OTERM* root, const std::vector<CDB_SGATE_OTERM*>& fanins);
// ---- end of seven-input cut tables ----
