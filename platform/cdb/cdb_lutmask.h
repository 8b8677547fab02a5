// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_lutmask.h — the function of a LUT over at most six inputs.
//
// Model: an input count n (0..6) and a 64-bit value whose bit m is the
//   function at minterm m, input i being bit i of m. The value is exact:
//   bits at and above 2^n are always zero, so two masks of one count are
//   equal exactly when their functions are.
// Mixed counts: &, |, ^ first widen the narrower operand by replication (the
//   same function, independent of the added inputs); the result has the
//   larger count. == compares count and value; same_function compares after
//   widening, so a 4-input 0xCCAA and a 6-input 0xCCAACCAACCAACCAA agree.
// max_num_inputs is the largest LUT of the current device architecture (6 at
//   load, 4 for four-input architectures); it bounds no storage, only what
//   callers build and how get_string_value prints.
// Broken preconditions (a count above 6, an input index at or above the
//   count, a bad permutation) are internal errors of "CDB" in every build.
// Cost: every operation is O(1) word arithmetic, rotate_inputs O(2^n * n).
#pragma once

#include <cstdint>
#include <string>

// Index of a LUT input, as the library names it in casts.
typedef unsigned CDB_LUTMASK_INPUT_TYPE;

class CDB_LUTMASK {
 public:
  // The largest LUT of the current device architecture; writable.
  static unsigned max_num_inputs;

  CDB_LUTMASK() = default;

  // n must be at most 6; keeps the low 2^n bits of v.
  void set_value(unsigned n, uint64_t v);
  uint64_t get_value() const { return m_value; }
  unsigned get_num_inputs() const { return m_num_inputs; }

  // The identity function of input i over n inputs (i < n).
  static CDB_LUTMASK imask(unsigned n, unsigned i);
  static CDB_LUTMASK get_vcc_mask(unsigned n);
  static CDB_LUTMASK get_gnd_mask(unsigned n);

  CDB_LUTMASK operator~() const;
  CDB_LUTMASK operator&(const CDB_LUTMASK& other) const;
  CDB_LUTMASK operator|(const CDB_LUTMASK& other) const;
  CDB_LUTMASK operator^(const CDB_LUTMASK& other) const;
  CDB_LUTMASK& operator&=(const CDB_LUTMASK& other);
  CDB_LUTMASK& operator|=(const CDB_LUTMASK& other);
  CDB_LUTMASK& operator^=(const CDB_LUTMASK& other);

  bool operator==(const CDB_LUTMASK& other) const {
    return m_num_inputs == other.m_num_inputs && m_value == other.m_value;
  }
  bool operator!=(const CDB_LUTMASK& other) const { return !(*this == other); }
  // Equal as functions once both are widened to the larger count.
  bool same_function(const CDB_LUTMASK& other) const;

  // Complements input i of the function in place (i < n).
  void invert_input(unsigned i);
  // Permutes the inputs in place: input k of the result is input perm[k] of
  // the function before the call. perm holds n entries, a permutation of 0..n-1.
  void rotate_inputs(const int* perm);

  // True when the two cofactors of input i are equal (i < n).
  bool is_independent_of(unsigned i) const;
  // Replaces the function by its cofactor with input i at 0 (at 1 for _bar),
  // over the same n inputs; the result no longer depends on input i.
  void make_independent_of(unsigned i);
  void make_independent_of_bar(unsigned i);

  bool is_vcc() const;
  bool is_gnd() const { return m_value == 0; }

  // The same function over m inputs, n <= m <= 6.
  CDB_LUTMASK widened(unsigned m) const;

  // "0x" and the value in upper-case hexadecimal: 16 digits, or 4 when
  // max_num_inputs is 4.
  std::string get_string_value() const;

 private:
  uint64_t m_value = 0;
  unsigned m_num_inputs = 0;
};

#define CDB_LUTMASK_MAX_INPUTS (CDB_LUTMASK::max_num_inputs)

// The word with the low 2^n bits set (n <= 6): the all-ones mask of n inputs.
uint64_t cdb_lut_bitmask(unsigned n);
// v << s, and 0 for s >= 64 (where the plain shift is undefined).
uint64_t cdb_safe_shl(uint64_t v, unsigned s);
