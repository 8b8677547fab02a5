// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// sim_eval.h — the value rules of the gate kinds on 64-bit pattern words,
// written once and used by the simulator (one pattern per bit) and the BLIF
// writer (one minterm per bit, to tabulate a gate's cover).
//
// Inputs arrive as words already XORed with the terminal's inversion flag;
// tied inputs are all ones (VCC) or all zeros (GND); unconnected inputs read
// all ones, and `present` tells comb gates and tri-state buses to skip them.
// Register controls that are unconnected arrive at their inactive value.
// Priorities (see simulator.h): ACLR over PRESET over ALOAD; at the clock
// either SCLR over ENA (sclr-over-enable mark) or ENA over {SCLR, SLOAD, DATA}.
#pragma once

#include <cstdint>

#include "cdb/cdb_codes.h"

namespace kavu_platform {

constexpr uint64_t SIM_ALL = ~0ull;

// A LUT of n <= 6 inputs: Shannon reduction from the highest input down.
inline uint64_t sim_lut_word(uint64_t mask, unsigned n, const uint64_t* in) {
  uint64_t w[64];
  unsigned size = 1u << n;
  for (unsigned m = 0; m < size; ++m) w[m] = (mask >> m) & 1 ? SIM_ALL : 0;
  for (unsigned i = n; i-- > 0;) {
    unsigned half = 1u << i;
    for (unsigned m = 0; m < half; ++m) w[m] = (in[i] & w[m + half]) | (~in[i] & w[m]);
  }
  return w[0];
}

// AND, OR, XOR, NOT and NAME_KEEPER over the present inputs.
inline uint64_t sim_comb_word(CDB_COMB_TYPE type, const uint64_t* in, const uint8_t* present, unsigned n) {
  uint64_t acc = type == CDB_COMB_AND ? SIM_ALL : 0;
  for (unsigned i = 0; i < n; ++i) {
    if (!present[i]) continue;
    switch (type) {
      case CDB_COMB_AND: acc &= in[i]; break;
      case CDB_COMB_OR: acc |= in[i]; break;
      case CDB_COMB_XOR: acc ^= in[i]; break;
      case CDB_COMB_NOT: return ~in[i];
      case CDB_COMB_NAME_KEEPER: return in[i];
    }
  }
  // A NOT or keeper without a connected input yields the fold's start
  // value, 0, as an OR without inputs does.
  if (type == CDB_COMB_NOT) return 0;
  if (type == CDB_COMB_NAME_KEEPER) return 0;
  return acc;
}

inline uint64_t sim_mux_word(uint64_t d0, uint64_t d1, uint64_t sel) { return (sel & d1) | (~sel & d0); }

// Synchronous next state of a plain register (or flip-flop atom).
struct SIM_REG_SYNC {
  uint64_t m_data = SIM_ALL;
  uint64_t m_ena = SIM_ALL;
  uint64_t m_sclr = 0;
  uint64_t m_sload = 0;
  uint64_t m_adata = SIM_ALL;
  bool m_sclr_over_ena = false;
};

inline uint64_t sim_reg_next(const SIM_REG_SYNC& c, uint64_t q) {
  uint64_t loaded = (c.m_sload & c.m_adata) | (~c.m_sload & c.m_data);
  if (c.m_sclr_over_ena) return ~c.m_sclr & ((c.m_ena & loaded) | (~c.m_ena & q));
  return (c.m_ena & ~c.m_sclr & loaded) | (~c.m_ena & q);
}

// Asynchronous controls acting on the stored value.
inline uint64_t sim_reg_async(uint64_t state, uint64_t aclr, uint64_t preset, uint64_t aload, uint64_t adata) {
  uint64_t loaded = (aload & adata) | (~aload & state);
  return ~aclr & (preset | loaded);
}

// A latch: CLR over PRE; transparent while EN (EN and EN2 combined by the caller).
inline uint64_t sim_latch_word(uint64_t state, uint64_t d, uint64_t en, uint64_t clr, uint64_t pre) {
  return ~clr & (pre | (en & d) | (~en & state));
}

}  // namespace kavu_platform
