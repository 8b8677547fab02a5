// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// simulator.h — bit-parallel simulation of gate netlists (64 patterns a word).
//
// Model: every output terminal carries a 64-bit word, its value after its own
//   inversion flag. An input reads its source's word XOR its own inversion
//   flag; a tied input reads all ones (VCC) or all zeros (GND); an unconnected
//   input of a LUT, mux or other reader reads all ones, comb gates ignore it,
//   and unconnected register and latch controls are inactive (no clock,
//   clear/preset/load 0, enable 1).
// Registers: asynchronous clear forces 0 and dominates preset (forces 1),
//   which dominates asynchronous load (Q = ADATA while ALOAD). At clock():
//   with the sclr-over-enable mark SCLR gives 0 whatever ENA; otherwise, when
//   ENA is 1, SCLR gives 0, else SLOAD gives ADATA, else DATA. A register whose
//   clock input is unconnected or tied never captures. Power-up is 1 when the
//   high flag is set, else 0. Flip-flop atoms follow the same rules by port
//   type (SCLR2 is a second SCLR). Latches: CLR forces 0 over PRE (forces 1);
//   otherwise Q follows D while EN and EN2 are 1, else holds.
// One clock domain: clock() advances every clocked register once; clock
//   inversion and sources are ignored. Asynchronous controls and latches act
//   inside eval().
// Kinds: pins, every buffer type, comb gates, LUTs, muxes, carry-sum gates,
//   tri-state buses (OR of connected inputs), IO buffers (data), boundaries,
//   state buffers, plain registers, latches, flip-flop atoms, logic-cell atoms
//   (every output the cell rule of sim_lcell.h defines: COMBOUT in normal
//   and extended mode, SHAREOUT, SUMOUT and COUT; any other output with
//   fan-out is unsupported) and operators of kinds ADDITION, MULTIPLY, COMPARE,
//   NTO1_MUX, SELECT, DECODE, ADDSUB, EQUAL, BUS_IN, BUS_OUT (sim_oper.h).
// Levelisation happens once, in the constructor: gates on combinational loops
//   (latches included) are iterated until stable, at most 64 rounds, else ok()
//   turns false. An unsupported gate makes ok() false at construction, naming
//   the gate; nothing unsupported passes silently.
// Values live in the simulator's own dense arrays; the netlist is not touched
//   and must not change while the simulator lives.
// Cost: eval() is O(terminals) word operations per round.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;

namespace kavu_platform {

class SIM_ENGINE;

class NETLIST_SIMULATOR {
 public:
  explicit NETLIST_SIMULATOR(const CDB_SGATE_NETLIST* netlist);
  ~NETLIST_SIMULATOR();
  NETLIST_SIMULATOR(const NETLIST_SIMULATOR&) = delete;
  NETLIST_SIMULATOR& operator=(const NETLIST_SIMULATOR&) = delete;

  bool ok() const;
  const std::string& error() const;

  // The 64 patterns of an input (or bidirectional) pin of the netlist.
  void set_input(const CDB_SGATE_NODE* pin, uint64_t word);
  // Every input pin gets a pseudo-random word from the seed (same sequence on
  // every machine).
  void randomize_inputs(uint64_t seed);
  // Registers and latches back to their power-up values.
  void reset_state();
  // Settles the combinational logic, latches and asynchronous controls.
  void eval();
  // Every clocked register captures its next state, then eval().
  void clock();

  // The terminal's word after its own inversion; the terminal must belong
  // to a gate of the simulated netlist.
  uint64_t value(const CDB_SGATE_OTERM* oterm) const;
  // The word an output pin reads.
  uint64_t output(const CDB_SGATE_NODE* out_pin) const;

 private:
  std::unique_ptr<SIM_ENGINE> m_engine;
};

struct SIM_COMPARE {
  int words = 64;      // random 64-pattern words per cycle, simulated in turn
  int cycles = 16;     // clock cycles from power-up
  uint64_t seed = 1;
};

// True when both netlists give equal words on every output after each eval()
// of `cycles` clock steps from power-up, with the same random input words.
// Inputs and outputs are paired by name (instance-name path without the top
// name, else string name); unmatched or duplicated names, or a netlist the
// simulator cannot run, give false. *why names the first difference (output,
// word, cycle) or the reason ("not enough memory to simulate the netlists"
// when the system refuses memory: never std::bad_alloc).
bool sim_equivalent(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b,
                    const SIM_COMPARE& = {}, std::string* why = nullptr);

// The name sim_equivalent pairs a pin by.
std::string sim_pin_name(const CDB_SGATE_NODE* pin);

}  // namespace kavu_platform
