// kavu_utility_indy_dupe.h — independent duplicate registers: registers that
// compute the same sequence of values without sharing their data input
// (each feeds back on itself through identical logic, with the same clock,
// controls and power-up value).
//
// kavu_remove_indy_dupe_ffs fingerprints every candidate register (its
// compatible-register set, its parent hierarchy when merging across
// hierarchies is not allowed, its eight control signals and the gate kinds
// on its feedback path from output to data input, at most 20 gates deep),
// sorts the fingerprints so that equal ones are neighbours, and within each
// run of equal fingerprints checks pairs (at most mls_dupe_dff_enhance_inner_
// loop_cap followers per register) by comparing their data cones level by
// level, where register A's output on one side stands for register B's on
// the other. A matching pair becomes a plain duplicate: the second register
// reads the first one's data source. The pass then sweeps the netlist, which
// removes the second register's now dead cone; merging the two registers is
// left to the ordinary duplicate merge.
// A candidate is a plain register, or a flip-flop atom not made from the
// user's primitive (unless opt_no_dup_wys_ff). With the compatible-register
// object in use, a register outside every set is no candidate; switched off,
// all share set 0; failed (kavu_ssc_compatible_registers_failed: constraints
// were to set registers apart and could not be read, neither through the
// engine nor from the file alone), no register is merged, with a warning
// that says so. Keys (read on every call): opt_no_dup_wys_ff,
// mls_dupe_dff_enhance_debug_print, mls_dupe_dff_enhance_inner_loop_cap
// (100), kavu_indy_dupe_ignore_merge_across_hierarchies, kavu_waive_indy_dupe.
// Scratch: the aux and aux2 values of every output terminal are overwritten.
// Failures are internal errors of the component "KAVU".
// Cost: O(R * 20) fingerprints, O(R log R) sort, at most cap cone
// comparisons per register, each memoised per pair of gates.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CDB_SGATE_HIERARCHY;
class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;
class GEN_DYN_FLAG;
class HDB_INSTANCE_NAME;

// One candidate register's fingerprint (see the file comment).
struct KAVU_INDY_DUPE_FINGERPRINT {
  CDB_SGATE_NODE* m_dff = nullptr;
  uint32_t m_set_id = 0;
  // Asynchronous clear, preset, clock, enable, asynchronous load, synchronous
  // load, asynchronous data, synchronous clear: (source or null, inversion);
  // GND is (null, 1), VCC (null, 0); missing inputs count as inactive.
  std::vector<std::pair<CDB_SGATE_OTERM*, uint8_t>> m_secondaries;
  // Gate codes on the feedback path (comb type 0-3, mux 4, register 5,
  // other 6) with the inversion of the input that reads each gate, from the
  // register to the gate that drives its data input.
  std::vector<std::pair<int32_t, uint8_t>> m_gate_types;
  bool m_preserve = false;
  HDB_INSTANCE_NAME* m_hier_name = nullptr;
  std::string m_hier_path;
};

// Returns the number of registers rewired. `keep` marks registers that must
// not be rewired (they may still be the first of a pair); registers whose
// output carries `exclude` are no candidates.
int kavu_remove_indy_dupe_ffs(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist, GEN_DYN_FLAG& keep,
                              GEN_DYN_FLAG& exclude);

// The sort order of the pass: set id, hierarchy (records without a parent
// name first, then by path), path length, control signals, path gates, kept
// records first.
bool kavu_indy_dupe_fingerprint_less(const KAVU_INDY_DUPE_FINGERPRINT& print_a,
                                     const KAVU_INDY_DUPE_FINGERPRINT& print_b);
