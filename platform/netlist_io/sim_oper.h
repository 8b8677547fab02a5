// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// sim_oper.h — word-level operators on bit-sliced 64-pattern words (internal
// to netlist_io; used by the simulator).
//
// A port's value in one pattern is the number whose bit i is bit i of the
// port (bit 0 least significant). Bits beyond a port's width extend it with
// 0, or with its top bit when the operator is signed. Within a port, a bit
// without a terminal reads 0; a terminal that is unconnected reads 1 like
// every other reader.
// Kinds (results are taken modulo 2^|O|):
//   ADDITION  O = A + B + CIN, COUT = the carry out of the top bit of O
//   ADDSUB    ADD_NOT_SUB = 1: as ADDITION; 0: O = A + ~B + CIN with CIN 1 when
//             the port is absent (plain A - B), COUT the carry out
//   MULTIPLY  O = A * B
//   COMPARE   O[0] = A < B (two's complement when signed)
//   EQUAL     O[0] = A == B
//   NTO1_MUX  O[k] = B[s * |O| + k], s the value of A (0 beyond the data)
//   SELECT    O[k] = OR over i of A[i] & B[i * |O| + k] (A one-hot)
//   DECODE    O[i] = (A == i)
//   BUS_IN, BUS_OUT  O[i] = A[i] (B[i] when there is no A)
// Cost: additions O(|O|), multiplication O(|O|^2), muxes O(items * (|A| + |O|))
// word operations per evaluation.
#pragma once

#include <cstdint>
#include <vector>

#include "cdb/cdb_codes.h"

namespace kavu_platform {

// Input port order inside the simulator's input words.
enum SIM_OPER_PORT { SOP_CIN, SOP_A, SOP_B, SOP_SHIFT, SOP_ADD_NOT_SUB, SOP_COUNT };

struct SIM_OPER {
  CDB_OPER_TYPE m_type;
  bool m_signed = false;
  bool m_has[SOP_COUNT] = {};       // the port exists
  unsigned m_width[SOP_COUNT] = {};
  unsigned m_first[SOP_COUNT] = {};  // offset of the port's bit 0 among the inputs
  std::vector<uint32_t> m_out;       // value slot of O bit i (UINT32_MAX: no terminal)
  uint32_t m_cout = UINT32_MAX;      // value slot of COUT bit 0
};

inline bool sim_oper_supported(CDB_OPER_TYPE t) {
  switch (t) {
    case CDB_OPER_ADDITION: case CDB_OPER_MULTIPLY: case CDB_OPER_COMPARE: case CDB_OPER_NTO1_MUX:
    case CDB_OPER_SELECT: case CDB_OPER_DECODE: case CDB_OPER_ADDSUB: case CDB_OPER_EQUAL:
    case CDB_OPER_BUS_IN: case CDB_OPER_BUS_OUT:
      return true;
    default:
      return false;
  }
}

// Evaluates the operator over the input words `in`; fills o (|O| words) and
// *cout.
inline void sim_oper_eval(const SIM_OPER& op, const uint64_t* in, std::vector<uint64_t>& o, uint64_t* cout) {
  const unsigned wo = unsigned(op.m_out.size());
  auto bit = [&](int port, unsigned i) -> uint64_t {
    if (!op.m_has[port] || op.m_width[port] == 0) return 0;
    unsigned w = op.m_width[port];
    if (i < w) return in[op.m_first[port] + i];
    return op.m_signed ? in[op.m_first[port] + w - 1] : 0;
  };
  o.assign(wo, 0);
  *cout = 0;
  // Lanes where the port A equals the constant s.
  auto a_equals = [&](uint64_t s) {
    uint64_t match = ~0ull;
    unsigned wa = op.m_width[SOP_A];
    for (unsigned i = 0; i < wa; ++i) match &= (i < 64 && ((s >> i) & 1)) ? bit(SOP_A, i) : ~bit(SOP_A, i);
    return (wa < 64 && (s >> wa)) ? 0 : match;
  };
  switch (op.m_type) {
    case CDB_OPER_ADDITION:
    case CDB_OPER_ADDSUB: {
      bool sub_possible = op.m_type == CDB_OPER_ADDSUB && op.m_has[SOP_ADD_NOT_SUB];
      uint64_t add = sub_possible ? bit(SOP_ADD_NOT_SUB, 0) : ~0ull;
      uint64_t c = op.m_has[SOP_CIN] ? bit(SOP_CIN, 0) : (op.m_type == CDB_OPER_ADDSUB ? ~add : 0);
      for (unsigned i = 0; i < wo; ++i) {
        uint64_t a = bit(SOP_A, i), b = bit(SOP_B, i) ^ ~add;
        o[i] = a ^ b ^ c;
        c = (a & b) | (a & c) | (b & c);
      }
      *cout = c;
      break;
    }
    case CDB_OPER_MULTIPLY:
      for (unsigned j = 0; j < wo; ++j) {
        uint64_t bj = bit(SOP_B, j), c = 0;
        for (unsigned i = j; i < wo; ++i) {
          uint64_t p = bit(SOP_A, i - j) & bj, s = o[i];
          o[i] = s ^ p ^ c;
          c = (s & p) | (s & c) | (p & c);
        }
      }
      break;
    case CDB_OPER_COMPARE:
    case CDB_OPER_EQUAL: {
      unsigned w = std::max(op.m_width[SOP_A], op.m_width[SOP_B]);
      uint64_t c = ~0ull, eq = ~0ull;  // A + ~B + 1: no carry out means A < B
      for (unsigned i = 0; i < w; ++i) {
        uint64_t a = bit(SOP_A, i), b = ~bit(SOP_B, i);
        if (op.m_signed && i + 1 == w) a = ~a, b = ~b;  // flip the sign bits: signed order as unsigned
        eq &= ~(a ^ ~b);
        c = (a & b) | (a & c) | (b & c);
      }
      if (wo) o[0] = op.m_type == CDB_OPER_EQUAL ? eq : ~c;
      break;
    }
    case CDB_OPER_NTO1_MUX:
      for (unsigned s = 0; wo && (s + 1) * wo <= op.m_width[SOP_B]; ++s) {
        uint64_t match = a_equals(s);
        for (unsigned k = 0; k < wo; ++k) o[k] |= match & bit(SOP_B, s * wo + k);
      }
      break;
    case CDB_OPER_SELECT:
      for (unsigned i = 0; i < op.m_width[SOP_A]; ++i)
        for (unsigned k = 0; k < wo; ++k) o[k] |= bit(SOP_A, i) & bit(SOP_B, i * wo + k);
      break;
    case CDB_OPER_DECODE:
      for (unsigned i = 0; i < wo; ++i) o[i] = a_equals(i);
      break;
    default:  // bus in and out
      for (unsigned i = 0; i < wo; ++i) o[i] = op.m_has[SOP_A] ? bit(SOP_A, i) : bit(SOP_B, i);
      break;
  }
}

}  // namespace kavu_platform
