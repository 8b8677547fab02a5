// kavu_dff_helper_stuck.h — registers that can never leave their power-up value,
// and the fan-in cone listing kavu_dfs_cone.
//
// A register that can never change is a constant; these passes find such
// registers three ways and tie their data inputs to the constant, leaving
// the dead logic to the netlist sweep:
//   - rings of plain registers that feed each other only through AND logic
//     (two-input ANDs, muxes with a GND input, direct connections) and all
//     start low (kavu_find_dff_rings, which sweeps the netlist itself);
//   - registers and cut buffers whose next value is their own output ANDed
//     (stuck low) or ORed (stuck high) with other signals
//     (kavu_find_stuck_low_qfbk, kavu_find_stuck_hi_qfbk);
//   - OR-gate latches through cut buffers (kavu_find_stuck_hi_or_latch).
// A register qualifies only when no control can give it the other value: a
// load (asynchronous, or synchronous with data that is not GND), a preset
// for stuck low; loads and clears (both synchronous clears of a flip-flop
// atom) for stuck high.
// Keys (read on each call): kavu_dff_ring_slower (the link-list ring search),
// kavu_no_qfbk_check (the three Q-feedback passes do nothing), opt_no_dup_wys_ff
// (the Q-feedback register passes skip flip-flop atoms).
// The ring searches leave register numbers in the output terminals' aux
// values. All walks use explicit stacks.
#pragma once

#include <vector>

class CDB_SGATE_NETLIST;
class CDB_SGATE_OTERM;

// Appends to cone the fan-in cone of root in depth-first post-order: every
// terminal after the terminals that feed its gate (kavu_get_oterm_feeders,
// all options off), each once, the root last, no leaf and nothing behind a
// leaf. Nothing is appended when root is itself a leaf. The walk is
// iterative, so a chain of any depth is safe.
void kavu_dfs_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>& leaves,
                   std::vector<CDB_SGATE_OTERM*>& cone);

// Ties the data input of stuck ring registers to GND (only registers whose
// pruning is allowed, in the default search) and sweeps when it found any.
// Returns the number of ring-list entries (a register may stand twice).
int kavu_find_dff_rings(CDB_SGATE_NETLIST* netlist);

// Cut buffers whose input is an OR of their own output: that input is tied
// to VCC. Returns the number tied.
int kavu_find_stuck_hi_or_latch(CDB_SGATE_NETLIST* netlist);

// Registers and cut buffers whose next value is their own output ANDed with
// other signals, through at most depth levels of AND gates and muxes: tied to
// GND. Returns the number tied; the caller sweeps.
int kavu_find_stuck_low_qfbk(CDB_SGATE_NETLIST* netlist, int depth);

// The mirror image through OR gates (and the mux of the output and VCC):
// tied to VCC. Returns the number tied; the caller sweeps.
int kavu_find_stuck_hi_qfbk(CDB_SGATE_NETLIST* netlist, int depth);
