// kavu_popcount_int.h — the hardware population count for hot loops without
// giving up processors that lack it.
//
// The build targets plain x86-64, where __builtin_popcountll becomes a
// library call. A hot routine is written once as an always-inline body and
// compiled twice: a clone marked KAVU_TARGET_POPCNT (the popcnt instruction)
// and a generic one; kavu_cpu_has_popcnt() picks the clone at run time. On
// other architectures and compilers both names give the generic code.
#pragma once

#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define KAVU_POPCNT_CLONES 1
#define KAVU_TARGET_POPCNT __attribute__((target("popcnt")))
#else
#define KAVU_POPCNT_CLONES 0
#define KAVU_TARGET_POPCNT
#endif

#if defined(__GNUC__) || defined(__clang__)
#define KAVU_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KAVU_ALWAYS_INLINE inline
#endif

// Bits set in x; the instruction inside a KAVU_TARGET_POPCNT clone.
KAVU_ALWAYS_INLINE int kavu_popcount(uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_popcountll(x);
#else
  int n = 0;
  for (; x; x &= x - 1) ++n;
  return n;
#endif
}

// Whether this processor executes the popcnt instruction: a test of a bit
// the runtime sets as the program starts, with nothing kept (no static for
// a process forked meanwhile to find half made).
inline bool kavu_cpu_has_popcnt() {
#if KAVU_POPCNT_CLONES
  return __builtin_cpu_supports("popcnt");
#else
  return false;
#endif
}
