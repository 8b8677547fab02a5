// kavu_01tbl_canon.cpp — the canonical form of a truth table under input
// permutation, input complement and output complement, its test, the three
// printing members and the built-in self-check of KAVU_01TBL.
//
// Model: the representative g of f fixes, in this order, the output phase
//   (on-set at least half), each input phase (shear volume, on-set minterms
//   with x_i = 1 minus those with x_i = 0, at least 0) and the input order
//   (shear volumes ascending). Complementing one variable negates its own
//   shear volume and leaves the other volumes and the on-set volume alone,
//   so the volumes are computed once, after the output phase is fixed.
// Tie-breaks: the output keeps its phase on a tie of on-set and off-set; a
//   variable of volume 0 keeps its phase; the order comes from an exchange
//   sort that swaps only on a strict ">", which is not a stable sort (volumes
//   2, 2, 1 on variables 0, 1, 2 give the order 2, 1, 0). Functions of one
//   class can therefore reach different representatives exactly when their
//   on-set is half the minterms or some shear volumes tie or are 0.
// Cost: canonical is n shear volumes (O(n * 2^n / 32)), at most n input
//   complements and O(n^2) variable exchanges; nothing allocates but the
//   caller's two vectors when they need resizing.
#include <algorithm>
#include <array>
#include <string>

#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_popcount_int.h"

namespace {

// Largest variable count a table may have, as a fixed array bound for the
// position bookkeeping of canonical.
constexpr unsigned int MAX_VARS = KAVU_01TBL::MAX_NUM_VARS;

// Set by reg_test after its fixed-table checks; written only outside
// parallel synthesis.
bool g_fixed_reg_test_done = false;

}  // namespace

// ---- canonical form of up to six variables in one 64-bit register ----------------
//
// The same steps as the general form below, on the table held as one 64-bit
// value (minterm m at bit m; below six variables the bits from 2^n up stay
// 0): no call per step, the masks constant, and the population count the
// processor's own where it has one (KAVU_TARGET_POPCNT clone).

namespace {

// Bits of minterms with x_i = 1, i < 6.
constexpr uint64_t VAR_MASKS64[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                     0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};
// Bits that move when x_i and x_(i+1) change places, i < 5.
constexpr uint64_t EXCHANGE_MASKS64[5] = {0x6666666666666666ull, 0x3C3C3C3C3C3C3C3Cull, 0x0FF00FF00FF00FF0ull,
                                          0x00FFFF0000FFFF00ull, 0x0000FFFFFFFF0000ull};

KAVU_ALWAYS_INLINE uint64_t exchange64(uint64_t x, unsigned int var) {
  const unsigned int s = 1u << var;
  const uint64_t m = EXCHANGE_MASKS64[var];
  const uint64_t moving = x & m;
  return (((moving >> s) | (moving << s)) & m) | (x & ~m);
}

// The canonical form of the n-variable table x (n <= 6) in place; returns
// the output phase and fills var_map and phase as KAVU_01TBL::canonical.
KAVU_ALWAYS_INLINE bool canonical64_body(uint64_t& x, unsigned int n, std::vector<unsigned int>& var_map,
                                         std::vector<bool>& phase) {
  const uint64_t valid = n == 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1;
  bool output_phase = true;
  const int total = 1 << n;
  const int v = kavu_popcount(x & valid);
  if (v < total - v) {
    x ^= valid;
    output_phase = false;
  }
  // Shear volume: on-set minterms with x_i = 1 minus those with x_i = 0.
  const int onset = output_phase ? v : total - v;
  std::array<int, 6> s{};
  for (unsigned int i = 0; i < n; ++i) s[i] = 2 * kavu_popcount(x & VAR_MASKS64[i]) - onset;
  for (unsigned int i = 0; i < n; ++i) {
    phase[i] = true;
    if (s[i] < 0) {
      const unsigned int sh = 1u << i;
      x = ((x & VAR_MASKS64[i]) >> sh) | ((x & ~VAR_MASKS64[i] & valid) << sh);
      s[i] = -s[i];
      phase[i] = false;
    }
  }
  for (unsigned int i = 0; i < n; ++i) var_map[i] = i;
  for (unsigned int i = 0; i < n; ++i) {
    for (unsigned int j = i + 1; j < n; ++j) {
      if (s[var_map[i]] > s[var_map[j]]) std::swap(var_map[i], var_map[j]);
    }
  }
  std::array<unsigned int, 6> position_vec{}, position_of{};
  for (unsigned int i = 0; i < n; ++i) position_vec[i] = position_of[i] = i;
  for (unsigned int p = 0; p < n; ++p) {
    const unsigned int var = var_map[p];
    const unsigned int c = position_of[var];
    for (unsigned int q = c; q > p; --q) {
      x = exchange64(x, q - 1);
      position_vec[q] = position_vec[q - 1];
      position_of[position_vec[q]] = q;
    }
    position_vec[p] = var;
    position_of[var] = p;
  }
  return output_phase;
}

KAVU_TARGET_POPCNT bool canonical64_popcnt(uint64_t& x, unsigned int n, std::vector<unsigned int>& var_map,
                                           std::vector<bool>& phase) {
  return canonical64_body(x, n, var_map, phase);
}

bool canonical64_generic(uint64_t& x, unsigned int n, std::vector<unsigned int>& var_map,
                         std::vector<bool>& phase) {
  return canonical64_body(x, n, var_map, phase);
}

}  // namespace

// ---- canonical form -----------------------------------------------------------------

bool KAVU_01TBL::canonical(std::vector<unsigned int>& var_map, std::vector<bool>& phase) {
  const unsigned int n = num_vars();
  var_map.resize(n);
  phase.resize(n);
  // Bits above the function (set_word can leave them) take the general
  // path, which keeps them as it always did.
  if (n <= 6 && m_debug_level <= 1 && (m_words[0] & ~word_mask()) == 0) {
    uint64_t x = m_words[0];
    if (n == 6) x |= uint64_t(m_words[1]) << 32;
    const bool output_phase =
        kavu_cpu_has_popcnt() ? canonical64_popcnt(x, n, var_map, phase) : canonical64_generic(x, n, var_map, phase);
    m_words[0] = static_cast<unsigned int>(x);
    if (n == 6) m_words[1] = static_cast<unsigned int>(x >> 32);
    return output_phase;
  }
  for (unsigned int i = 0; i < n; ++i) var_map[i] = i;

  bool output_phase = true;
  const unsigned int total = 1u << n;
  const unsigned int v = onset_volume();
  if (v < total - v) {
    inv();
    output_phase = false;
  }

  std::array<int, MAX_VARS> s{};
  for (unsigned int i = 0; i < n; ++i) s[i] = shear_vol_on(i);
  for (unsigned int i = 0; i < n; ++i) {
    phase[i] = true;
    if (s[i] < 0) {
      inv(i);
      s[i] = -s[i];
      phase[i] = false;
    }
  }
  if (m_debug_level > 1) {
    for (unsigned int var = 0; var < n; ++var) KAVU_CHECK(shear_vol_on(var) >= 0);
  }

  // The exchange sort fixes the tie-breaks (see the file comment).
  for (unsigned int i = 0; i < n; ++i) {
    for (unsigned int j = i + 1; j < n; ++j) {
      if (s[var_map[i]] > s[var_map[j]]) std::swap(var_map[i], var_map[j]);
    }
  }
  if (m_debug_level > 1) {
    for (unsigned int position = 0; position + 1 < n; ++position)
      KAVU_CHECK(shear_vol_on(var_map[position]) <= shear_vol_on(var_map[position+1]));
  }

  // position_vec[p]: the variable of f now at position p; position_of is its
  // inverse. Moving variable v from c down to p shifts positions p..c-1 up.
  std::array<unsigned int, MAX_VARS> position_vec{};
  std::array<unsigned int, MAX_VARS> position_of{};
  for (unsigned int i = 0; i < n; ++i) position_vec[i] = position_of[i] = i;
  for (unsigned int p = 0; p < n; ++p) {
    const unsigned int var = var_map[p];
    const unsigned int c = position_of[var];
    if (c != p) move_var(c, p);
    for (unsigned int q = c; q > p; --q) {
      position_vec[q] = position_vec[q - 1];
      position_of[position_vec[q]] = q;
    }
    position_vec[p] = var;
    position_of[var] = p;
  }
  if (m_debug_level > 1) {
    for (unsigned int position = 0; position < n; ++position)
      KAVU_CHECK(var_map[position] == position_vec[position]);
    for (unsigned int position = 0; position + 1 < n; ++position)
      KAVU_CHECK(shear_vol_on(position) <= shear_vol_on(position+1));
  }
  return output_phase;
}

bool KAVU_01TBL::is_canonical() const {
  const unsigned int n = num_vars();
  const unsigned int v = onset_volume();
  bool ok_phase = true;
  for (unsigned int i = 0; i < n && ok_phase; ++i) ok_phase = shear_vol_on(i) >= 0;
  bool ok_order = true;
  for (unsigned int i = 0; i + 1 < n && ok_order; ++i) ok_order = shear_vol_on(i) <= shear_vol_on(i + 1);
  if (v < (1u << n) - v || !ok_phase) return false;
  return ok_order;
}

// ---- printing --------------------------------------------------------------------------

void KAVU_01TBL::dump() const {
  char buf[16];
  std::string text;
  std::snprintf(buf, sizeof buf, "%x ", num_vars());
  text += buf;
  if (num_vars() > 11) {
    text += "too big";
  } else {
    for (unsigned int i = length(); i-- > 0;) {
      std::snprintf(buf, sizeof buf, "%08x ", m_words[i]);
      text += buf;
    }
    if (m_debug_level >= 2) {
      for (unsigned int m = 1u << num_vars(); m-- > 0;) text += minterm(m) ? '1' : '0';
    }
  }
  kavu_debug("%s", text.c_str());
}

void KAVU_01TBL::dump_to_file(FILE* file) const {
  KAVU_CHECK(file != nullptr);
  std::fprintf(file, "%d ", static_cast<int>(num_vars()));
  for (unsigned int i = length(); i-- > 0;) std::fprintf(file, "%08x ", m_words[i]);
  std::fprintf(file, "%s\n", "");
}

void KAVU_01TBL::dump_binary() const {
  const unsigned int total = 1u << num_vars();
  for (unsigned int m = 0; m < total; ++m) kavu_debug("%03x : %d", m, static_cast<int>(minterm(m)));
}

// ---- self-check -------------------------------------------------------------------------

namespace {

// Literal, cofactor-block and decomposition checks on fixed tables of m
// variables.
void reg_test_fixed_tables(unsigned int m) {
  const unsigned int vol = 1u << m;
  for (unsigned int i = 0; i < m; ++i) {
    KAVU_01TBL on_set(m);
    on_set.variable(i, true);
    KAVU_CHECK(on_set.is_variable(i, true));
    KAVU_CHECK(on_set.onset_volume()==(vol>>1));
    KAVU_01TBL offset(m);
    offset.variable(i, false);
    KAVU_CHECK(offset.is_variable(i, false));
    KAVU_CHECK((on_set & offset).is_gnd());
    KAVU_CHECK((on_set | offset).is_vcc());
    KAVU_CHECK((on_set ^ offset).is_vcc());
  }
  KAVU_01TBL on_set(m);
  for (unsigned int c = 0; c < 4; ++c) on_set.set_cofactor_in_order(m - 2, c);
  KAVU_CHECK(on_set.is_vcc());
  on_set.set_gnd();
  for (unsigned int c = 0; c < 4; ++c) on_set.set_cofactor_in_order_new(m - 2, c);
  KAVU_CHECK(on_set.is_vcc());
  on_set.set_gnd();
  on_set.set_cofactor_in_order(m, 0);
  KAVU_CHECK(on_set.is_vcc());
  on_set.set_gnd();
  on_set.set_cofactor_in_order_new(m, 0);
  KAVU_CHECK(on_set.is_vcc());
}

// Identities of the table operations against the table t of n variables.
void reg_test_against(const KAVU_01TBL& t) {
  const unsigned int n = t.num_vars();
  for (unsigned int i = n; i-- > 1;) {
    KAVU_01TBL pos(t);
    pos.reduce(i);
    KAVU_CHECK(pos.num_vars() == i);
    pos.expand(n);
    KAVU_01TBL neg(t);
    neg.cofactor_in_order(i, 0);
    KAVU_CHECK(pos == neg);
    KAVU_01TBL tmp(t);
    tmp.cofactor_in_order_new(i, 0);
    KAVU_CHECK(tmp == neg);
  }
  KAVU_01TBL tbl(t);
  KAVU_CHECK(tbl == t);
  for (unsigned int i = 0; i < n; ++i) {
    tbl.inv(i);
    tbl.inv(i);
    KAVU_CHECK(tbl == t);
  }
  for (unsigned int i = 0; i + 1 < n; ++i) {
    tbl.exchange(i);
    tbl.exchange(i);
    KAVU_CHECK(tbl == t);
    tbl.move_var(i, n - 1 - i);
    tbl.move_var(n - 1 - i, i);
    KAVU_CHECK(tbl == t);
  }
  for (unsigned int i = 0; i < n; ++i) {
    // Shannon expansion: x_i f1 + !x_i f0 rebuilds the table.
    KAVU_01TBL f1(t);
    f1.cofactor_on(i, true);
    KAVU_01TBL f0(t);
    f0.cofactor_on(i, false);
    KAVU_01TBL lit(n);
    lit.variable(i, true);
    f1.and_with(lit);
    lit.inv();
    f0.and_with(lit);
    f1.or_with(f0);
    KAVU_CHECK(f1 == t);
  }
  const unsigned int total = 1u << n;
  KAVU_01TBL one(n);
  for (unsigned int m = 0; m < total; ++m) {
    KAVU_01TBL pos(t);
    pos.toggle_minterm(m);
    pos.xor_with(t);
    one.set_gnd();
    one.set_minterm(m);
    pos.xor_with(one);
    KAVU_CHECK(pos.is_gnd());
  }
  for (unsigned int i = 0; i < n; ++i) {
    for (bool b : {false, true}) {
      KAVU_01TBL del(t);
      del.delete_var(i, b);
      del.expand(n);
      del.move_var(n - 1, i);
      KAVU_01TBL cof(t);
      cof.cofactor_on(i, b);
      KAVU_CHECK(del == cof);
    }
  }
}

}  // namespace

void KAVU_01TBL::reg_test() {
  if (cdb_sgate_synthesis_is_running_in_parallel()) KAVU_INTERNAL_ERROR("This is not thread-safe");
  if (!g_fixed_reg_test_done) {
    g_fixed_reg_test_done = true;
    const unsigned int m = CDB_LUTMASK::max_num_inputs;
    KAVU_CHECK(m >= 2);
    reg_test_fixed_tables(m);
    // Block 2 of the four blocks of 2^(m-2) minterms set: two column classes.
    KAVU_01TBL block(m);
    block.set_cofactor_in_order(m - 2, 2);
    std::vector<int> cof_map;
    const unsigned int mu = block.multiplicity(m - 2, cof_map);
    KAVU_CHECK(mu==2);
    KAVU_CHECK(cof_map[0]==0);
    KAVU_CHECK(cof_map[1]==0);
    KAVU_CHECK(cof_map[2]==2);
    KAVU_CHECK(cof_map[3]==0);
    std::vector<KAVU_01TBL*> dec_func;
    const unsigned int ne = block.disjoint_fd(m - 2, dec_func);
    KAVU_CHECK(ne == 1);
    KAVU_CHECK(dec_func.size() == 2);
    for (KAVU_01TBL* t : dec_func) delete t;
  }
  reg_test_against(*this);
}
