// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// generators.h — circuits built directly in C++ for tests and benchmarks.
//
// Every generator returns a new netlist the caller owns, made of input pins,
// output pins and generic gates (comb gates, LUTs, plain registers). Pins and
// registers are named like a BLIF read ("<top>|<signal>"), so sim_equivalent
// pairs them with the same circuit written and read back; inner gates stay
// unnamed. Deterministic for equal arguments.
//   make_array_multiplier(n)  n×n unsigned array multiplier, 2n outputs, about
//                             6n² comb gates
//   make_ripple_adder(n)      n-bit adder with carry in and out, 5n comb gates
//   make_random_dag(n, seed)  n LUTs of 1..4 inputs over 64 inputs, each input
//                             drawn from the last 1000 signals, masks never
//                             constant; every gate without fan-out feeds an
//                             output
//   make_pipeline(stages, w)  w-bit registered adder chain: each stage adds the
//                             previous stage's register to a rotated copy of
//                             itself; w inputs, w outputs, stages·w registers
// Cost: linear in the gates made.
#pragma once

#include <cstdint>

class CDB_SGATE_NETLIST;

namespace kavu_platform {

CDB_SGATE_NETLIST* make_array_multiplier(int n);
CDB_SGATE_NETLIST* make_ripple_adder(int n);
CDB_SGATE_NETLIST* make_random_dag(int n, uint64_t seed);
CDB_SGATE_NETLIST* make_pipeline(int stages, int width);

}  // namespace kavu_platform
