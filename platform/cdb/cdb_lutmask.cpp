// cdb_lutmask.cpp — LUT mask arithmetic on one 64-bit word.
//
// Every operation keeps the mask exact (no bits at or above 2^n). Input i of
// a mask is the pattern kVarMask[i]: bit m is set when bit i of m is set. A
// cofactor is read by masking with that pattern and shifting by 2^i, the
// distance between the minterms that differ only in input i.
#include "cdb/cdb_lutmask.h"

#include <cstdio>

#include "msg/msg.h"

unsigned CDB_LUTMASK::max_num_inputs = 6;

namespace {

constexpr unsigned kMaxInputs = 6;

// kVarMask[i]: the minterms of six inputs in which input i is 1.
constexpr uint64_t kVarMask[kMaxInputs] = {
    0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
    0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};

// Replicates a function of n inputs into one of m inputs (n <= m <= 6).
uint64_t replicate(uint64_t v, unsigned n, unsigned m) {
  for (unsigned k = n; k < m; ++k) v |= v << (1u << k);
  return v;
}

}  // namespace

uint64_t cdb_lut_bitmask(unsigned n) {
  PLAT_CHECK(n <= kMaxInputs, "CDB");
  return n == kMaxInputs ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1;
}

uint64_t cdb_safe_shl(uint64_t v, unsigned s) { return s >= 64 ? 0 : v << s; }

void CDB_LUTMASK::set_value(unsigned n, uint64_t v) {
  PLAT_CHECK(n <= kMaxInputs, "CDB");
  m_num_inputs = n;
  m_value = v & cdb_lut_bitmask(n);
}

CDB_LUTMASK CDB_LUTMASK::imask(unsigned n, unsigned i) {
  PLAT_CHECK(n <= kMaxInputs && i < n, "CDB");
  CDB_LUTMASK mask;
  mask.set_value(n, kVarMask[i]);
  return mask;
}

CDB_LUTMASK CDB_LUTMASK::get_vcc_mask(unsigned n) {
  CDB_LUTMASK mask;
  mask.set_value(n, ~uint64_t(0));
  return mask;
}

CDB_LUTMASK CDB_LUTMASK::get_gnd_mask(unsigned n) {
  CDB_LUTMASK mask;
  mask.set_value(n, 0);
  return mask;
}

CDB_LUTMASK CDB_LUTMASK::operator~() const {
  CDB_LUTMASK mask;
  mask.set_value(m_num_inputs, ~m_value);
  return mask;
}

CDB_LUTMASK& CDB_LUTMASK::operator&=(const CDB_LUTMASK& other) {
  unsigned n = m_num_inputs > other.m_num_inputs ? m_num_inputs : other.m_num_inputs;
  m_value = replicate(m_value, m_num_inputs, n) & replicate(other.m_value, other.m_num_inputs, n);
  m_num_inputs = n;
  return *this;
}

CDB_LUTMASK& CDB_LUTMASK::operator|=(const CDB_LUTMASK& other) {
  unsigned n = m_num_inputs > other.m_num_inputs ? m_num_inputs : other.m_num_inputs;
  m_value = replicate(m_value, m_num_inputs, n) | replicate(other.m_value, other.m_num_inputs, n);
  m_num_inputs = n;
  return *this;
}

CDB_LUTMASK& CDB_LUTMASK::operator^=(const CDB_LUTMASK& other) {
  unsigned n = m_num_inputs > other.m_num_inputs ? m_num_inputs : other.m_num_inputs;
  m_value = replicate(m_value, m_num_inputs, n) ^ replicate(other.m_value, other.m_num_inputs, n);
  m_num_inputs = n;
  return *this;
}

CDB_LUTMASK CDB_LUTMASK::operator&(const CDB_LUTMASK& other) const {
  CDB_LUTMASK result = *this;
  return result &= other;
}

CDB_LUTMASK CDB_LUTMASK::operator|(const CDB_LUTMASK& other) const {
  CDB_LUTMASK result = *this;
  return result |= other;
}

CDB_LUTMASK CDB_LUTMASK::operator^(const CDB_LUTMASK& other) const {
  CDB_LUTMASK result = *this;
  return result ^= other;
}

bool CDB_LUTMASK::same_function(const CDB_LUTMASK& other) const {
  unsigned n = m_num_inputs > other.m_num_inputs ? m_num_inputs : other.m_num_inputs;
  return replicate(m_value, m_num_inputs, n) == replicate(other.m_value, other.m_num_inputs, n);
}

void CDB_LUTMASK::invert_input(unsigned i) {
  PLAT_CHECK(i < m_num_inputs, "CDB");
  const unsigned s = 1u << i;
  const uint64_t hi = m_value & kVarMask[i];
  const uint64_t lo = m_value & ~kVarMask[i];
  m_value = (hi >> s) | (lo << s);  // stays below 2^n: only input i moves
}

void CDB_LUTMASK::rotate_inputs(const int* perm) {
  const unsigned n = m_num_inputs;
  PLAT_CHECK(perm != nullptr || n == 0, "CDB");
  unsigned seen = 0;
  for (unsigned k = 0; k < n; ++k) {
    PLAT_CHECK(perm[k] >= 0 && unsigned(perm[k]) < n, "CDB");
    PLAT_CHECK((seen & (1u << perm[k])) == 0, "CDB");  // each input once
    seen |= 1u << perm[k];
  }
  uint64_t result = 0;
  for (unsigned r = 0; r < (1u << n); ++r) {
    unsigned t = 0;  // the minterm of the old function that r reads
    for (unsigned k = 0; k < n; ++k)
      if (r & (1u << k)) t |= 1u << perm[k];
    if ((m_value >> t) & 1) result |= uint64_t(1) << r;
  }
  m_value = result;
}

bool CDB_LUTMASK::is_independent_of(unsigned i) const {
  PLAT_CHECK(i < m_num_inputs, "CDB");
  return ((m_value & kVarMask[i]) >> (1u << i)) == (m_value & ~kVarMask[i]);
}

void CDB_LUTMASK::make_independent_of(unsigned i) {
  PLAT_CHECK(i < m_num_inputs, "CDB");
  const uint64_t c0 = m_value & ~kVarMask[i];
  m_value = c0 | (c0 << (1u << i));
}

void CDB_LUTMASK::make_independent_of_bar(unsigned i) {
  PLAT_CHECK(i < m_num_inputs, "CDB");
  const uint64_t c1 = m_value & kVarMask[i];
  m_value = c1 | (c1 >> (1u << i));
}

bool CDB_LUTMASK::is_vcc() const { return m_value == cdb_lut_bitmask(m_num_inputs); }

CDB_LUTMASK CDB_LUTMASK::widened(unsigned m) const {
  PLAT_CHECK(m >= m_num_inputs && m <= kMaxInputs, "CDB");
  CDB_LUTMASK mask;
  mask.set_value(m, replicate(m_value, m_num_inputs, m));
  return mask;
}

std::string CDB_LUTMASK::get_string_value() const {
  char text[24];
  std::snprintf(text, sizeof text, max_num_inputs == 4 ? "0x%04llX" : "0x%016llX",
                static_cast<unsigned long long>(m_value));
  return text;
}
