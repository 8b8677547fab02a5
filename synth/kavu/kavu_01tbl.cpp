// kavu_01tbl.cpp — storage, algebra, variable operations, cofactors and
// predicates of the truth table KAVU_01TBL, its hash-container key
// operations, and the module-wide debug level and resynthesis settings.
//
// Model (see kavu_01tbl.h): 2^n minterm bits in 32-bit words, variable i is
//   bit i of the minterm index. Every variable operation has three cases:
//   the whole table in one word (n <= 5), a variable inside a word (i < 5:
//   shifts of 2^i bits under the constant masks below), and a variable across
//   words (i >= 5: blocks of 2^(i-5) words, alternately x_i = 0 and x_i = 1).
// Invariant: below five variables the bits of word 0 at 2^n and above are 0
//   after every operation but set_word; the operations that would set them
//   (the in-order cofactor, expansion of a table stored with them) mask them.
//   So the raw-word hash agrees with the masked equality.
// Cost: O(2^n / 32) word operations per call, move_var one pass per step.
//   The hot in-word cases (inv(var), exchange, cofactor_on, is_dependent)
//   walk two words at a time as 64-bit lanes with the variable fixed at
//   compile time; predicates work on the words in place instead of on
//   cofactor copies; nothing allocates inside a word loop.
#include "kavu_01tbl.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_01tbl_fd_int.h"
#include "kavu_check.h"
#include "kavu_load_time_int.h"
#include "kavu_msg.h"

namespace {

// Valid bits of each word for 0..5 variables (5 and above: the whole word).
constexpr unsigned int WORD_MASKS[6] = {0x1u, 0x3u, 0xFu, 0xFFu, 0xFFFFu, 0xFFFFFFFFu};

// Bits of a word whose minterm has x_i = 1, i < 5.
constexpr unsigned int VAR_MASKS[5] = {0xAAAAAAAAu, 0xCCCCCCCCu, 0xF0F0F0F0u, 0xFF00FF00u,
                                        0xFFFF0000u};

// Bits that move when x_i and x_(i+1) change places, i < 4: the minterms
// where exactly one of the two is 1.
constexpr unsigned int EXCHANGE_MASKS[4] = {0x66666666u, 0x3C3C3C3Cu, 0x0FF00FF0u, 0x00FFFF00u};

// Multiplier that repeats a field of 2^k bits over a whole word, k < 5.
constexpr unsigned int FIELD_REPEAT[5] = {0xFFFFFFFFu, 0x55555555u, 0x11111111u, 0x01010101u,
                                            0x00010001u};

// Parity of the five in-word variables: bit m is the parity of m.
constexpr unsigned int PARITY_WORD = 0x96696996u;

constexpr unsigned int word_mask_of(unsigned int n) { return WORD_MASKS[n < 5 ? n : 5]; }

constexpr unsigned int words_for(unsigned int n) { return n <= 5 ? 1u : 1u << (n - 5); }

// The word of literal x_var at word index i (var >= 5): all ones in the
// blocks where x_var has the literal's value.
inline unsigned int across_literal_word(unsigned int i, unsigned int var, bool positive) {
  return (((i >> (var - 5)) & 1u) != 0) == positive ? 0xFFFFFFFFu : 0u;
}

// Complement of x_var (var < 5) inside one word of valid bits wm.
inline unsigned int inv_in_word(unsigned int w, unsigned int var, unsigned int wm) {
  const unsigned int s = 1u << var;
  const unsigned int hi = VAR_MASKS[var] & wm;
  const unsigned int lo = ~VAR_MASKS[var] & wm;
  return ((w & hi) >> s) | ((w & lo) << s);
}

// Calls fn(low block, high block, block length) for every group of two
// blocks of 2^(var-5) words: the words with x_var = 0 and their partners
// with x_var = 1.
template <class WORDS, class FN>
void for_each_block_pair(WORDS& words, unsigned int var, FN fn) {
  const size_t b = size_t(1) << (var - 5);
  for (size_t g = 0; g < words.size(); g += 2 * b) fn(&words[g], &words[g + b], b);
}

// Like for_each_block_pair, stopping at the first pair for which fn is false;
// returns whether every pair passed.
template <class FN>
bool all_block_pairs(const std::vector<unsigned int>& words, unsigned int var, FN fn) {
  const size_t b = size_t(1) << (var - 5);
  for (size_t g = 0; g < words.size(); g += 2 * b) {
    for (size_t j = 0; j < b; ++j)
      if (!fn(words[g + j], words[g + b + j])) return false;
  }
  return true;
}

// ---- 64-bit lanes for the in-word cases ----
// An in-word operation treats every 32-bit word alike, with masks that keep
// each shifted bit inside its own 2^(var+1)-bit block, so two words can be
// processed as one 64-bit lane with the masks repeated in both halves. A
// one-word table is repeated into both halves and read back from the low one.

constexpr uint64_t rep64(unsigned int w) { return (uint64_t(w) << 32) | w; }

// Replaces every lane x by fn(x).
template <class FN>
void transform_lanes(std::vector<unsigned int>& words, FN fn) {
  if (words.size() == 1) {
    words[0] = static_cast<unsigned int>(fn(rep64(words[0])));
    return;
  }
  unsigned int* p = words.data();
  for (size_t i = 0; i < words.size(); i += 2) {
    uint64_t x;
    std::memcpy(&x, p + i, sizeof x);
    x = fn(x);
    std::memcpy(p + i, &x, sizeof x);
  }
}

// Whether pred holds for every lane.
template <class PRED>
bool all_lanes(const std::vector<unsigned int>& words, PRED pred) {
  if (words.size() == 1) return pred(rep64(words[0]));
  const unsigned int* p = words.data();
  for (size_t i = 0; i < words.size(); i += 2) {
    uint64_t x;
    std::memcpy(&x, p + i, sizeof x);
    if (!pred(x)) return false;
  }
  return true;
}

// Calls fn(std::integral_constant<unsigned, var>) for var < 5, so that the
// shift distance and masks of the inner loop are constants.
template <class FN>
void with_in_word_var(unsigned int var, FN fn) {
  switch (var) {
    case 0: fn(std::integral_constant<unsigned int, 0>()); break;
    case 1: fn(std::integral_constant<unsigned int, 1>()); break;
    case 2: fn(std::integral_constant<unsigned int, 2>()); break;
    case 3: fn(std::integral_constant<unsigned int, 3>()); break;
    default: fn(std::integral_constant<unsigned int, 4>()); break;
  }
}

// Orders two tables of equal length as numbers, the last word most
// significant, each word masked by wm: -1, 0 or 1.
int compare_masked_words(const std::vector<unsigned int>& x, const std::vector<unsigned int>& y, unsigned int wm) {
  for (size_t i = x.size(); i-- > 0;) {
    const unsigned int a = x[i] & wm;
    const unsigned int b = y[i] & wm;
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

}  // namespace

unsigned int KAVU_01TBL::m_debug_level = 0;

// ---- construction and storage ----------------------------------------------

KAVU_01TBL::KAVU_01TBL(unsigned int n) : m_num_vars(0) {
  KAVU_CHECK(n <= KAVU_01TBL::MAX_NUM_VARS);
  m_words.reserve(std::max(32u, words_for(n)));
  set_size(n);
}

KAVU_01TBL::KAVU_01TBL(const KAVU_01TBL& tbl) : m_num_vars(tbl.m_num_vars) {
  m_words.reserve(std::max<size_t>(32, tbl.m_words.size()));
  m_words = tbl.m_words;
}

KAVU_01TBL::KAVU_01TBL(KAVU_01TBL&& tbl) : m_num_vars(tbl.m_num_vars), m_words(std::move(tbl.m_words)) {
  tbl.m_num_vars = 0;
  tbl.m_words.assign(1, 0u);
}

KAVU_01TBL::KAVU_01TBL(const CDB_LUTMASK& mask) : m_num_vars(0) {
  const unsigned int n = mask.get_num_inputs();
  const unsigned int len = words_for(n);
  KAVU_CHECK(len==1 || len==2);
  m_words.reserve(32);
  set_size(n);
  const uint64_t value = mask.get_value();
  m_words[0] = static_cast<unsigned int>(value) & word_mask();
  if (len == 2) m_words[1] = static_cast<unsigned int>(value >> 32);
}

KAVU_01TBL::KAVU_01TBL(const KAVU_01TBL& a, const KAVU_01TBL& b) : KAVU_01TBL(a) {
  const unsigned int m = std::max(a.num_vars(), b.num_vars());
  KAVU_CHECK(m + 1 <= KAVU_01TBL::MAX_NUM_VARS);
  expand(m + 1);
  KAVU_01TBL high(b);
  high.expand(m + 1);
  if (m < 5) {
    const unsigned int hi = var_mask(m);
    m_words[0] = (m_words[0] & ~hi) | (high.m_words[0] & hi);
  } else {
    const size_t half = m_words.size() / 2;
    std::copy(high.m_words.begin() + half, high.m_words.end(), m_words.begin() + half);
  }
}

KAVU_01TBL::~KAVU_01TBL() = default;

KAVU_01TBL& KAVU_01TBL::operator=(const KAVU_01TBL& tbl) {
  if (this == &tbl) return *this;
  m_num_vars = tbl.m_num_vars;
  m_words = tbl.m_words;
  return *this;
}

KAVU_01TBL& KAVU_01TBL::operator=(KAVU_01TBL&& tbl) {
  // Swapping leaves tbl a valid table (our old contents); on self-move it is
  // skipped so that the table stays intact.
  if (this == &tbl) return *this;
  std::swap(m_num_vars, tbl.m_num_vars);
  m_words.swap(tbl.m_words);
  return *this;
}

void KAVU_01TBL::set_size(unsigned int n) {
  KAVU_CHECK(n <= KAVU_01TBL::MAX_NUM_VARS);
  m_num_vars = n;
  m_words.assign(words_for(n), 0u);
}

void KAVU_01TBL::resize(unsigned int n) { set_size(n); }

unsigned int KAVU_01TBL::word_mask() const { return word_mask_of(m_num_vars); }

unsigned int KAVU_01TBL::var_mask(unsigned int var) const {
  return var < 5 ? VAR_MASKS[var] & word_mask() : word_mask();
}

void KAVU_01TBL::check_word_index(unsigned int n) const { KAVU_CHECK(n < length()); }

void KAVU_01TBL::clear_unused_bits() { m_words[0] &= word_mask(); }

unsigned int KAVU_01TBL::grab_word(unsigned int wnum) const {
  const unsigned int cnt = length();
  KAVU_CHECK(wnum < cnt);
  return m_words[wnum];
}

unsigned int KAVU_01TBL::minterm(unsigned int n) const {
  const unsigned int upper_bound = 1u << m_num_vars;
  KAVU_CHECK(n < upper_bound);
  return (m_words[n >> 5] >> (n & 31)) & 1u;
}

void KAVU_01TBL::set_minterm(unsigned int n) {
  const unsigned int upper_bound = 1u << m_num_vars;
  KAVU_CHECK(n < upper_bound);
  m_words[n >> 5] |= 1u << (n & 31);
}

void KAVU_01TBL::reset_minterm(unsigned int n) {
  const unsigned int upper_bound = 1u << m_num_vars;
  KAVU_CHECK(n < upper_bound);
  m_words[n >> 5] &= ~(1u << (n & 31));
}

void KAVU_01TBL::toggle_minterm(unsigned int n) {
  const unsigned int upper_bound = 1u << m_num_vars;
  KAVU_CHECK(n < upper_bound);
  m_words[n >> 5] ^= 1u << (n & 31);
}

void KAVU_01TBL::dump(std::vector<unsigned int>& codes) const {
  codes.push_back(m_num_vars);
  codes.insert(codes.end(), m_words.begin(), m_words.end());
}

// ---- comparison -------------------------------------------------------------

bool KAVU_01TBL::operator==(const KAVU_01TBL& tbl) const {
  if (this == &tbl) return true;
  if (m_num_vars != tbl.m_num_vars) return false;
  const unsigned int wm = word_mask();
  for (size_t i = 0; i < m_words.size(); ++i)
    if (((m_words[i] ^ tbl.m_words[i]) & wm) != 0) return false;
  return true;
}

bool KAVU_01TBL::operator<(const KAVU_01TBL& tbl) const {
  KAVU_CHECK(num_vars() == tbl.num_vars());
  return compare_masked_words(m_words, tbl.m_words, word_mask()) < 0;
}

bool KAVU_01TBL::operator<=(const KAVU_01TBL& tbl) const {
  KAVU_CHECK(num_vars() == tbl.num_vars());
  return compare_masked_words(m_words, tbl.m_words, word_mask()) <= 0;
}

// ---- Boolean algebra ------------------------------------------------------------

void KAVU_01TBL::and_with(const KAVU_01TBL& tbl) {
  KAVU_CHECK(num_vars() == tbl.num_vars());
  for (size_t i = 0; i < m_words.size(); ++i) m_words[i] &= tbl.m_words[i];
}

void KAVU_01TBL::or_with(const KAVU_01TBL& tbl) {
  KAVU_CHECK(num_vars() == tbl.num_vars());
  for (size_t i = 0; i < m_words.size(); ++i) m_words[i] |= tbl.m_words[i];
}

void KAVU_01TBL::xor_with(const KAVU_01TBL& tbl) {
  KAVU_CHECK(num_vars() == tbl.num_vars());
  for (size_t i = 0; i < m_words.size(); ++i) m_words[i] ^= tbl.m_words[i];
}

KAVU_01TBL KAVU_01TBL::operator&(const KAVU_01TBL& tbl) const {
  KAVU_01TBL result(*this);
  result.and_with(tbl);
  return result;
}

KAVU_01TBL KAVU_01TBL::operator|(const KAVU_01TBL& tbl) const {
  KAVU_01TBL result(*this);
  result.or_with(tbl);
  return result;
}

KAVU_01TBL KAVU_01TBL::operator^(const KAVU_01TBL& tbl) const {
  KAVU_01TBL result(*this);
  result.xor_with(tbl);
  return result;
}

void KAVU_01TBL::inv() {
  const unsigned int wm = word_mask();
  for (unsigned int& w : m_words) w ^= wm;
}

void KAVU_01TBL::set_vcc() { std::fill(m_words.begin(), m_words.end(), word_mask()); }

void KAVU_01TBL::set_gnd() { std::fill(m_words.begin(), m_words.end(), 0u); }

void KAVU_01TBL::set_and() {
  set_gnd();
  const unsigned int last = (1u << m_num_vars) - 1;
  m_words[last >> 5] |= 1u << (last & 31);
}

void KAVU_01TBL::set_or() {
  set_vcc();
  m_words[0] &= ~1u;
}

void KAVU_01TBL::set_xor() {
  // The parity of the minterm index: the in-word parity pattern, complemented
  // in the words whose index (the variables from 5 up) has odd parity.
  const unsigned int wm = word_mask();
  for (size_t i = 0; i < m_words.size(); ++i)
    m_words[i] = (PARITY_WORD & wm) ^ ((std::popcount(i) & 1) ? wm : 0u);
}

void KAVU_01TBL::set_mux() {
  const unsigned int n = m_num_vars;
  set_size(3);
  m_words[0] = 0xCAu;
  expand(n);
}

void KAVU_01TBL::variable(unsigned int var, bool positive) {
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const unsigned int w = (positive ? VAR_MASKS[var] : ~VAR_MASKS[var]) & word_mask();
    std::fill(m_words.begin(), m_words.end(), w);
    return;
  }
  for (size_t i = 0; i < m_words.size(); ++i)
    m_words[i] = across_literal_word(static_cast<unsigned int>(i), var, positive);
}

void KAVU_01TBL::set_var(unsigned int var, bool positive) {
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const unsigned int w = (positive ? VAR_MASKS[var] : ~VAR_MASKS[var]) & word_mask();
    for (unsigned int& x : m_words) x |= w;
    return;
  }
  for (size_t i = 0; i < m_words.size(); ++i)
    m_words[i] |= across_literal_word(static_cast<unsigned int>(i), var, positive);
}

// ---- variable operations ------------------------------------------------------

void KAVU_01TBL::inv(unsigned int var) {
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const uint64_t wm = rep64(word_mask());
    with_in_word_var(var, [&](auto v) {
      constexpr unsigned int s = 1u << v;
      const uint64_t hi = rep64(VAR_MASKS[v]) & wm;
      const uint64_t lo = ~rep64(VAR_MASKS[v]) & wm;
      transform_lanes(m_words, [hi, lo](uint64_t w) { return ((w & hi) >> s) | ((w & lo) << s); });
    });
    return;
  }
  for_each_block_pair(m_words, var, [](unsigned int* lo, unsigned int* hi, size_t b) {
    std::swap_ranges(lo, lo + b, hi);
  });
}

void KAVU_01TBL::exchange(unsigned int var) {
  // Written as a sum so that a table of 0 variables cannot wrap the bound.
  if (var + 1 >= num_vars()) KAVU_INTERNAL_ERROR("var < num_vars()-1");
  if (var < 4) {
    with_in_word_var(var, [&](auto v) {
      constexpr unsigned int s = 1u << v;
      // The dispatch also instantiates var 4, which never reaches here.
      constexpr uint64_t m = rep64(EXCHANGE_MASKS[v < 4 ? v : 0]);
      transform_lanes(m_words, [](uint64_t w) {
        const uint64_t moving = w & m;
        return (((moving >> s) | (moving << s)) & m) | (w & ~m);
      });
    });
    return;
  }
  if (var == 4) {
    // x4 picks the half word, x5 the word of a pair: swap the upper half of
    // each even word with the lower half of its odd partner.
    for (size_t i = 0; i < m_words.size(); i += 2) {
      const unsigned int w0 = m_words[i];
      const unsigned int w1 = m_words[i + 1];
      m_words[i] = (w1 << 16) | (w0 & 0xFFFFu);
      m_words[i + 1] = (w0 >> 16) | (w1 & 0xFFFF0000u);
    }
    return;
  }
  // Groups of four blocks (x_var, x_var+1) = 00, 10, 01, 11: swap the middle two.
  const size_t b = size_t(1) << (var - 5);
  for (size_t g = 0; g < m_words.size(); g += 4 * b)
    std::swap_ranges(m_words.begin() + g + b, m_words.begin() + g + 2 * b, m_words.begin() + g + 2 * b);
}

void KAVU_01TBL::move_var(unsigned int var, unsigned int dest) {
  KAVU_CHECK(var < num_vars());
  KAVU_CHECK(dest < num_vars());
  for (unsigned int v = var; v < dest; ++v) exchange(v);
  for (unsigned int v = var; v > dest; --v) exchange(v - 1);
}

void KAVU_01TBL::expand(unsigned int m) {
  if (m <= m_num_vars) return;
  KAVU_CHECK(m <= KAVU_01TBL::MAX_NUM_VARS);
  // Doubling copies every stored bit, so bits outside the function would
  // land on valid minterms.
  clear_unused_bits();
  while (m_num_vars < 5 && m_num_vars < m) {
    m_words[0] |= m_words[0] << (1u << m_num_vars);
    ++m_num_vars;
  }
  if (m_num_vars == m) return;
  size_t len = m_words.size();
  const size_t target = words_for(m);
  m_words.resize(target);
  for (; len < target; len *= 2) std::copy_n(m_words.begin(), len, m_words.begin() + len);
  m_num_vars = m;
}

void KAVU_01TBL::reduce(unsigned int k) {
  if (k >= m_num_vars) return;
  if (k < 5) {
    m_words.resize(1);
    m_words[0] &= WORD_MASKS[k];
  } else {
    m_words.resize(words_for(k));
  }
  m_num_vars = k;
}

void KAVU_01TBL::delete_var(unsigned int var, bool value) {
  if (var >= m_num_vars) return;
  const unsigned int n = m_num_vars;
  cofactor_on(var, value);
  move_var(var, n - 1);
  reduce(n - 1);
}

unsigned int KAVU_01TBL::delete_redundant_var(std::vector<unsigned int>& variable_map) {
  // Checked in every build: entries left in the map would break the
  // position-to-variable correspondence the caller relies on.
  KAVU_CHECK(variable_map.size() == 0);
  const unsigned int n = m_num_vars;
  uint32_t dependent = 0;  // n <= MAX_NUM_VARS < 32
  for (unsigned int v = 0; v < n; ++v) {
    if (!is_dependent(v)) continue;
    dependent |= 1u << v;
    variable_map.push_back(v);
  }
  unsigned int deleted = 0;
  for (unsigned int v = n; v-- > 0;) {
    if ((dependent >> v) & 1u) continue;
    delete_var(v, false);
    ++deleted;
  }
  return deleted;
}

// ---- cofactors ------------------------------------------------------------------

void KAVU_01TBL::cofactor_on(unsigned int var, bool value) {
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const uint64_t wm = rep64(word_mask());
    with_in_word_var(var, [&](auto v) {
      constexpr unsigned int s = 1u << v;
      const uint64_t hi = rep64(VAR_MASKS[v]) & wm;
      const uint64_t lo = ~rep64(VAR_MASKS[v]) & wm;
      if (value)
        transform_lanes(m_words, [hi](uint64_t w) { return (w & hi) | ((w & hi) >> s); });
      else
        transform_lanes(m_words, [lo](uint64_t w) { return (w & lo) | ((w & lo) << s); });
    });
    return;
  }
  for_each_block_pair(m_words, var, [value](unsigned int* lo, unsigned int* hi, size_t b) {
    if (value)
      std::copy_n(hi, b, lo);
    else
      std::copy_n(lo, b, hi);
  });
}

void KAVU_01TBL::cofactor(unsigned int var, bool value, KAVU_01TBL* out) const {
  KAVU_CHECK(out != nullptr);
  *out = *this;
  out->cofactor_on(var, value);
}

namespace {

// Checks the arguments of the in-order cofactors; false when there is
// nothing to do (k == n and c == 0).
bool in_order_args_ok(unsigned int n, unsigned int num_cof_var, unsigned int cof_in_order) {
  if (num_cof_var > n) KAVU_INTERNAL_ERROR("num_cof_var < num_vars()");
  if (num_cof_var == n) {
    if (cof_in_order != 0) KAVU_INTERNAL_ERROR("cof_in_order == 0");
    return false;
  }
  const unsigned int num_cofs = 1u << (n - num_cof_var);
  KAVU_CHECK(cof_in_order < num_cofs);
  return true;
}

// The field of 2^k bits (k < 5) that holds block c: its word and bit offset.
struct IN_WORD_BLOCK {
  unsigned int m_word;
  unsigned int m_shift;
  unsigned int m_field;  // the field's bits at offset 0
};

IN_WORD_BLOCK in_word_block(unsigned int k, unsigned int c) {
  const unsigned int per_word = 5 - k;  // log2 of the blocks per word
  return {c >> per_word, (c & ((1u << per_word) - 1)) << k, (1u << (1u << k)) - 1};
}

}  // namespace

// Both forms give the same function; this one copies block c directly
// instead of cofactoring one variable at a time.
void KAVU_01TBL::cofactor_in_order(unsigned int k, unsigned int c) { cofactor_in_order_new(k, c); }

void KAVU_01TBL::cofactor_in_order_new(unsigned int k, unsigned int c) {
  if (!in_order_args_ok(m_num_vars, k, c)) return;
  if (k < 5) {
    const IN_WORD_BLOCK blk = in_word_block(k, c);
    const unsigned int field = (m_words[blk.m_word] >> blk.m_shift) & blk.m_field;
    // Repeating the field fills the whole word; below five variables the
    // copies past 2^n are not part of the function and are masked off.
    std::fill(m_words.begin(), m_words.end(), field * FIELD_REPEAT[k] & word_mask());
    return;
  }
  const size_t b = size_t(1) << (k - 5);
  if (c != 0) std::copy_n(m_words.begin() + c * b, b, m_words.begin());
  for (size_t len = b; len < m_words.size(); len *= 2)
    std::copy_n(m_words.begin(), len, m_words.begin() + len);
}

void KAVU_01TBL::set_cofactor_in_order(unsigned int k, unsigned int c) {
  set_cofactor_in_order_new(k, c);
}

void KAVU_01TBL::set_cofactor_in_order_new(unsigned int k, unsigned int c) {
  if (!in_order_args_ok(m_num_vars, k, c)) {
    set_vcc();
    return;
  }
  if (k < 5) {
    const IN_WORD_BLOCK blk = in_word_block(k, c);
    m_words[blk.m_word] |= blk.m_field << blk.m_shift;
    return;
  }
  const size_t b = size_t(1) << (k - 5);
  std::fill_n(m_words.begin() + c * b, b, 0xFFFFFFFFu);
}

// ---- predicates and measures ----------------------------------------------------

bool KAVU_01TBL::is_vcc() const {
  const unsigned int wm = word_mask();
  return std::all_of(m_words.begin(), m_words.end(), [wm](unsigned int w) { return w == wm; });
}

bool KAVU_01TBL::is_gnd() const {
  return std::all_of(m_words.begin(), m_words.end(), [](unsigned int w) { return w == 0; });
}

bool KAVU_01TBL::is_const() const {
  KAVU_CHECK(this->num_vars() == 0);
  return is_vcc() || m_words[0] == 0;
}

bool KAVU_01TBL::is_dependent(unsigned int var) const {
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    // Each minterm with x_var = 0 against its partner 2^var bits above.
    bool independent = true;
    const uint64_t wm = rep64(word_mask());
    with_in_word_var(var, [&](auto v) {
      constexpr unsigned int s = 1u << v;
      const uint64_t lo = ~rep64(VAR_MASKS[v]) & wm;
      independent = all_lanes(m_words, [lo](uint64_t w) { return (((w >> s) ^ w) & lo) == 0; });
    });
    return !independent;
  }
  return !all_block_pairs(m_words, var, [](unsigned int a, unsigned int b) { return a == b; });
}

unsigned int KAVU_01TBL::num_dependent() const {
  unsigned int count = 0;
  for (unsigned int v = 0; v < m_num_vars; ++v) count += is_dependent(v) ? 1 : 0;
  return count;
}

bool KAVU_01TBL::is_variable(unsigned int var, bool positive) const {
  KAVU_CHECK(var < num_vars());
  const unsigned int wm = word_mask();
  for (size_t i = 0; i < m_words.size(); ++i) {
    const unsigned int lit =
        var < 5 ? (positive ? VAR_MASKS[var] : ~VAR_MASKS[var]) & wm
                : across_literal_word(static_cast<unsigned int>(i), var, positive);
    if (((m_words[i] ^ lit) & wm) != 0) return false;
  }
  return true;
}

bool KAVU_01TBL::is_wire() const {
  KAVU_CHECK(this->num_vars() == 1);
  return is_variable(0, true);
}

bool KAVU_01TBL::is_inverter() const {
  KAVU_CHECK(this->num_vars() == 1);
  return is_variable(0, false);
}

bool KAVU_01TBL::is_and(unsigned int var, bool positive) const {
  // f = literal AND g: f is 0 wherever the literal is 0.
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const unsigned int off = (positive ? ~VAR_MASKS[var] : VAR_MASKS[var]) & word_mask();
    return std::all_of(m_words.begin(), m_words.end(), [off](unsigned int w) { return (w & off) == 0; });
  }
  return all_block_pairs(m_words, var, [positive](unsigned int lo, unsigned int hi) {
    return (positive ? lo : hi) == 0;
  });
}

bool KAVU_01TBL::is_or(unsigned int var, bool positive) const {
  // f = literal OR g: f is 1 wherever the literal is 1.
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const unsigned int on = (positive ? VAR_MASKS[var] : ~VAR_MASKS[var]) & word_mask();
    return std::all_of(m_words.begin(), m_words.end(), [on](unsigned int w) { return (w & on) == on; });
  }
  return all_block_pairs(m_words, var, [positive](unsigned int lo, unsigned int hi) {
    return (positive ? hi : lo) == 0xFFFFFFFFu;
  });
}

bool KAVU_01TBL::is_xor(unsigned int var) const {
  // Every minterm differs from its partner across x_var.
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const unsigned int s = 1u << var;
    const unsigned int lo = ~VAR_MASKS[var] & word_mask();
    return std::all_of(m_words.begin(), m_words.end(),
                       [s, lo](unsigned int w) { return (((w >> s) ^ w) & lo) == lo; });
  }
  return all_block_pairs(m_words, var, [](unsigned int a, unsigned int b) { return (a ^ b) == 0xFFFFFFFFu; });
}

bool KAVU_01TBL::is_mux(bool pos0, bool pos1, bool pos2) const {
  if (m_num_vars != 3) return false;
  const bool positive[3] = {pos0, pos1, pos2};
  unsigned int w = m_words[0];
  for (unsigned int i = 0; i < 3; ++i)
    if (!positive[i]) w = inv_in_word(w, i, WORD_MASKS[3]);
  return (w & WORD_MASKS[3]) == 0xCAu;
}

bool KAVU_01TBL::is_sub_onset(const KAVU_01TBL& tbl) const {
  if (this == &tbl) return true;
  KAVU_CHECK(num_vars() == tbl.num_vars());
  const unsigned int wm = word_mask();
  for (size_t i = 0; i < m_words.size(); ++i)
    if ((m_words[i] & ~tbl.m_words[i] & wm) != 0) return false;
  return true;
}

bool KAVU_01TBL::is_super_onset(const KAVU_01TBL& tbl) const {
  if (this == &tbl) return true;
  KAVU_CHECK(num_vars() == tbl.num_vars());
  return tbl.is_sub_onset(*this);
}

bool KAVU_01TBL::is_unate(unsigned int var, bool positive) const {
  // Positive: wherever f is 1 with x_var = 0 it is also 1 with x_var = 1.
  KAVU_CHECK(var < num_vars());
  if (var < 5) {
    const unsigned int s = 1u << var;
    const unsigned int lo = ~VAR_MASKS[var] & word_mask();
    return std::all_of(m_words.begin(), m_words.end(), [s, lo, positive](unsigned int w) {
      const unsigned int f0 = w & lo;
      const unsigned int f1 = (w >> s) & lo;
      return (positive ? (f0 & ~f1) : (f1 & ~f0)) == 0;
    });
  }
  return all_block_pairs(m_words, var, [positive](unsigned int f0, unsigned int f1) {
    return (positive ? (f0 & ~f1) : (f1 & ~f0)) == 0;
  });
}

unsigned int KAVU_01TBL::onset_volume() const {
  const unsigned int wm = word_mask();
  unsigned int count = 0;
  for (unsigned int w : m_words) count += std::popcount(w & wm);
  return count;
}

int KAVU_01TBL::shear_vol_on(unsigned int var) const {
  KAVU_CHECK(var < num_vars());
  int ones = 0;
  int zeros = 0;
  if (var < 5) {
    const unsigned int hi = VAR_MASKS[var] & word_mask();
    const unsigned int lo = ~VAR_MASKS[var] & word_mask();
    for (unsigned int w : m_words) {
      ones += std::popcount(w & hi);
      zeros += std::popcount(w & lo);
    }
  } else {
    all_block_pairs(m_words, var, [&ones, &zeros](unsigned int lo, unsigned int hi) {
      zeros += std::popcount(lo);
      ones += std::popcount(hi);
      return true;
    });
  }
  return ones - zeros;
}

CDB_LUTMASK KAVU_01TBL::make_lutmask() const {
  KAVU_CHECK(num_vars() <= CDB_LUTMASK_MAX_INPUTS);
  KAVU_CHECK(length()==1 || length()==2);
  uint64_t value = m_words[0];
  if (length() == 2) value |= static_cast<uint64_t>(m_words[1]) << 32;
  CDB_LUTMASK mask;
  mask.set_value(m_num_vars, value);
  return mask;
}

// ---- hash-container key operations -------------------------------------------

uint32_t ZTL_OPS<KAVU_01TBL*>::hash(const KAVU_01TBL* key) {
  KAVU_CHECK(key != nullptr);
  // Masked like operator==, so equal tables hash equally even when a caller
  // stored bits outside the function with set_word.
  const unsigned int wm = word_mask_of(key->num_vars());
  uint32_t h = 0;
  for (unsigned int n = 0; n < key->length(); ++n) h ^= key->word(n) & wm;
  return h;
}

bool ZTL_OPS<KAVU_01TBL*>::equal(const KAVU_01TBL* a, const KAVU_01TBL* b) {
  if (a == b) return true;
  KAVU_CHECK(a != nullptr && b != nullptr);
  return *a == *b;
}

// ---- module-wide settings ---------------------------------------------------------

namespace {

// Integer keys: applied only when set (and in the key's range).
void read_int_key(const char* key, int& value) { value = cfg_get_int_value(key, value); }

KAVU_01TBL_RESYN_SETTINGS load_resyn_settings() {
  KAVU_01TBL_RESYN_SETTINGS s;
  int debug_level = 0;
  read_int_key("kavu_01tbl_debug", debug_level);
  s.m_debug_level = debug_level > 0 ? static_cast<unsigned int>(debug_level) : 0u;
  read_int_key("ftm_resyn_lutin_combout_delay", s.m_lutin_combout_delay);
  read_int_key("ftm_resyn_lutin_regout_delay", s.m_lutin_regout_delay);
  read_int_key("ftm_resyn_lutin_cascout_delay", s.m_lutin_cascout_delay);
  read_int_key("ftm_resyn_lutin_cout_delay", s.m_lutin_cout_delay);
  read_int_key("ftm_resyn_cin_combout_delay", s.m_cin_combout_delay);
  read_int_key("ftm_resyn_cin_cascout_delay", s.m_cin_cascout_delay);
  read_int_key("ftm_resyn_cin_cout_delay", s.m_cin_cout_delay);
  read_int_key("ftm_resyn_cascin_combout_delay", s.m_cascin_combout_delay);
  read_int_key("ftm_resyn_cascin_cascout_delay", s.m_cascin_cascout_delay);
  read_int_key("ftm_resyn_wire_carry_delay", s.m_wire_carry_delay);
  read_int_key("ftm_resyn_wire_casc_delay", s.m_wire_casc_delay);
  read_int_key("ftm_resyn_wire_sum_delay", s.m_wire_sum_delay);
  read_int_key("ftm_resyn_wire_dff_delay", s.m_wire_dff_delay);
  read_int_key("ftm_resyn_wire_data_delay", s.m_wire_data_delay);
  read_int_key("ftm_resyn_wire_local_delay", s.m_wire_local_delay);
  read_int_key("ftm_resyn_wire_gh_delay", s.m_wire_gh_delay);
  s.m_for_speed = cfg_is_on("ftm_resyn_for_speed", false);
  s.m_for_balanced = cfg_is_on("ftm_resyn_for_balanced", false);
  // Balanced resynthesis always checks delay; the key is not read then.
  s.m_check_delay = s.m_for_balanced || cfg_is_on("ftm_resyn_check_delay", false);
  s.m_quick_fd = cfg_is_on("kavu_01tbl_quick_fd", false);
  s.m_quick_multiplicity = cfg_is_on("kavu_01tbl_quick_multiplicity", false);
  s.m_use_delay_tie_break = cfg_is_on("kavu_01tbl_use_delay_tie_break", false);
  return s;
}

void trace_resyn_settings(const KAVU_01TBL_RESYN_SETTINGS& s) {
  if (s.m_quick_fd) kavu_debug("use quick func decomp operations");
  if (s.m_quick_multiplicity) kavu_debug("use quick multiplicity");
  kavu_debug("Delay tie break is %s", s.m_use_delay_tie_break ? "ON" : "OFF");
  kavu_debug("resyn delay model (in 0.1ns) : -----------------------------");
  kavu_debug("lutin->f %2d lutin->q %2d lutin->cascout %2d lutin->cout %2d", s.m_lutin_combout_delay,
             s.m_lutin_regout_delay, s.m_lutin_cascout_delay, s.m_lutin_cout_delay);
  kavu_debug("cin->f %2d cin->cascout %2d cin->cout %2d", s.m_cin_combout_delay, s.m_cin_cascout_delay,
             s.m_cin_cout_delay);
  kavu_debug("cascin->f  %2d cascin->cascout  %2d", s.m_cascin_combout_delay, s.m_cascin_cascout_delay);
  kavu_debug("w_carry %2d w_casc %2d w_sum %2d w_dff %2d", s.m_wire_carry_delay, s.m_wire_casc_delay,
             s.m_wire_sum_delay, s.m_wire_dff_delay);
  kavu_debug("w_data %2d w_local %2d w_gh %2d", s.m_wire_data_delay, s.m_wire_local_delay,
             s.m_wire_gh_delay);
}

// Written only by set_01tbl_debug, which never runs in parallel synthesis.
bool g_set_01tbl_debug_called = false;

}  // namespace

namespace {

// Read once, on first use from any caller, and safe to reach first from
// parallel threads; no caller waits for another (a process may fork while
// another thread reads them).
constinit KAVU_READ_ONCE<KAVU_01TBL_RESYN_SETTINGS> resyn_settings{"the resynthesis settings", load_resyn_settings};

}  // namespace

const KAVU_01TBL_RESYN_SETTINGS& kavu_01tbl_resyn_settings() { return resyn_settings(); }

bool kavu_fd_int::set_resyn_for_speed(bool on) {
  KAVU_01TBL_RESYN_SETTINGS& s = resyn_settings();
  const bool was = s.m_for_speed;
  s.m_for_speed = on;
  return was;
}

unsigned int set_01tbl_debug(unsigned int level) {
  KAVU_CHECK(!cdb_sgate_synthesis_is_running_in_parallel());
  if (!g_set_01tbl_debug_called) {
    g_set_01tbl_debug_called = true;
    const KAVU_01TBL_RESYN_SETTINGS& s = kavu_01tbl_resyn_settings();
    level = std::max(level, s.m_debug_level);
    trace_resyn_settings(s);
  }
  KAVU_01TBL::m_debug_level = level;
  return level;
}

unsigned int get_ef_counter() { return 0; }
