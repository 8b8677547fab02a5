// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// sim_lcell.h — the value rule of logic-cell atoms on 64-bit pattern words,
// shared by the simulator and the BLIF writer so that both read a cell alike.
//
// Inputs, in the catalogue's slot order: DATAA..DATAG (x0..x6), CIN (x7),
// SHAREIN (x8). M is the cell's 64-bit mask, minterm bit i = input i.
//
// Brae rule (every logic cell whose row lacks ATOM_CLASS_QUELLIN_CELL):
//   COMBOUT  M(a,b,c,d,e,f); in extended mode (120) M(a,b,c,d,0,f) when e is
//            0 and M(a,b,g,d,1,f) when e is 1.
//   SHAREOUT the 4-input function of bits 32..47 over a..d.
//   SUMOUT   A ^ !B ^ CIN, COUT majority(A, !B, CIN), where A is bits 0..15
//            over a..d and B bits 32..47 over (a,b,c,f); in shared-arithmetic
//            mode (118) !B is SHAREIN.
// Quellin rule (rows with ATOM_CLASS_QUELLIN_CELL):
//   COMBOUT  M(a..f); in extended mode x7 ? H : L with L bits 0..31 over
//            (a,b,c,d,e) and H bits 32..63 over (a,b,f,g,e).
//   SUMOUT   A ^ X, COUT A ? X : B, with A bits 0..15 and B bits 16..31 over
//            a..d (propagate and generate) and X = x8.
// Unconnected data inputs read 1 (the simulator's rule for LUT inputs);
// unconnected CIN and SHAREIN read 0.
#pragma once

#include <cstdint>

#include "cdb/cdb_sgate_wysiwyg.h"
#include "netlist_io/sim_eval.h"

namespace kavu_platform {

enum SIM_LCELL_INPUT { LC_A, LC_B, LC_C, LC_D, LC_E, LC_F, LC_G, LC_CIN, LC_SHAREIN, LC_COUNT };

struct SIM_LCELL {
  uint64_t m_mask = 0;
  bool m_quellin = false;
  bool m_extended = false;
  bool m_shared_arith = false;
};

// The rule and mode of one logic-cell atom.
inline SIM_LCELL sim_lcell_of(const CDB_SGATE_WYSIWYG* atom) {
  SIM_LCELL c;
  c.m_mask = atom->get_lutmask_value();
  c.m_quellin = atom->get_catalogue_entry().has_class(ATOM_CLASS_QUELLIN_CELL);
  c.m_extended = atom->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT);
  c.m_shared_arith = atom->mode_is_set(CDB_WYSIWYG_SHARED_ARITH);
  return c;
}

// The inactive value of an unconnected cell input.
inline uint64_t sim_lcell_inactive(unsigned input) { return input >= LC_CIN ? 0 : SIM_ALL; }

// The port type of cell input k.
inline DB_INPUT_PORT_TYPE sim_lcell_port(unsigned input) {
  if (input == LC_CIN) return DB_PORT_CIN;
  if (input == LC_SHAREIN) return DB_PORT_SHAREIN;
  return DB_INPUT_PORT_TYPE(DB_PORT_DATAA + input);
}

// The four-input function of mask bits [lo, lo + 16) over four words.
inline uint64_t sim_lcell_lut4(uint64_t mask, unsigned lo, uint64_t x0, uint64_t x1, uint64_t x2, uint64_t x3) {
  const uint64_t w[4] = {x0, x1, x2, x3};
  return sim_lut_word((mask >> lo) & 0xFFFFull, 4, w);
}

inline uint64_t sim_lcell_lut5(uint64_t mask, unsigned lo, const uint64_t (&w)[5]) {
  return sim_lut_word((mask >> lo) & 0xFFFFFFFFull, 5, w);
}

inline uint64_t sim_lcell_combout(const SIM_LCELL& c, const uint64_t* x) {
  if (!c.m_extended) return sim_lut_word(c.m_mask, 6, x);
  if (c.m_quellin) {
    const uint64_t lo[5] = {x[LC_A], x[LC_B], x[LC_C], x[LC_D], x[LC_E]};
    const uint64_t hi[5] = {x[LC_A], x[LC_B], x[LC_F], x[LC_G], x[LC_E]};
    return sim_mux_word(sim_lcell_lut5(c.m_mask, 0, lo), sim_lcell_lut5(c.m_mask, 32, hi), x[LC_CIN]);
  }
  const uint64_t e0[6] = {x[LC_A], x[LC_B], x[LC_C], x[LC_D], 0, x[LC_F]};
  const uint64_t e1[6] = {x[LC_A], x[LC_B], x[LC_G], x[LC_D], SIM_ALL, x[LC_F]};
  return sim_mux_word(sim_lut_word(c.m_mask, 6, e0), sim_lut_word(c.m_mask, 6, e1), x[LC_E]);
}

inline uint64_t sim_lcell_shareout(const SIM_LCELL& c, const uint64_t* x) {
  return sim_lcell_lut4(c.m_mask, 32, x[LC_A], x[LC_B], x[LC_C], x[LC_D]);
}

// The two addend words of the Brae rule: A and !B (or SHAREIN).
inline void sim_lcell_addends(const SIM_LCELL& c, const uint64_t* x, uint64_t* a, uint64_t* nb) {
  *a = sim_lcell_lut4(c.m_mask, 0, x[LC_A], x[LC_B], x[LC_C], x[LC_D]);
  *nb = c.m_shared_arith ? x[LC_SHAREIN] : ~sim_lcell_lut4(c.m_mask, 32, x[LC_A], x[LC_B], x[LC_C], x[LC_F]);
}

inline uint64_t sim_lcell_sumout(const SIM_LCELL& c, const uint64_t* x) {
  uint64_t a, b;
  if (c.m_quellin) return sim_lcell_lut4(c.m_mask, 0, x[LC_A], x[LC_B], x[LC_C], x[LC_D]) ^ x[LC_SHAREIN];
  sim_lcell_addends(c, x, &a, &b);
  return a ^ b ^ x[LC_CIN];
}

inline uint64_t sim_lcell_cout(const SIM_LCELL& c, const uint64_t* x) {
  uint64_t a, b;
  if (c.m_quellin) {
    a = sim_lcell_lut4(c.m_mask, 0, x[LC_A], x[LC_B], x[LC_C], x[LC_D]);
    b = sim_lcell_lut4(c.m_mask, 16, x[LC_A], x[LC_B], x[LC_C], x[LC_D]);
    return sim_mux_word(b, x[LC_SHAREIN], a);
  }
  sim_lcell_addends(c, x, &a, &b);
  const uint64_t cin = x[LC_CIN];
  return (a & b) | (a & cin) | (b & cin);
}

// The output of a port type; false for a port the rule does not define.
inline bool sim_lcell_output(const SIM_LCELL& c, uint16_t port_type, const uint64_t* x, uint64_t* out) {
  switch (port_type) {
    case DB_PORT_COMBOUT: *out = sim_lcell_combout(c, x); return true;
    case DB_PORT_SUMOUT: *out = sim_lcell_sumout(c, x); return true;
    case DB_PORT_COUT: *out = sim_lcell_cout(c, x); return true;
    case DB_PORT_SHAREOUT:
      if (c.m_quellin) return false;
      *out = sim_lcell_shareout(c, x);
      return true;
    default: return false;
  }
}

}  // namespace kavu_platform
