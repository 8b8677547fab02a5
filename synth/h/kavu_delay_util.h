// kavu_delay_util.h — detailed per-arc gate delays and path-delay profiles.
//
// Detailed delays: measured delays of one arc (input terminal -> output
//   terminal of one gate) for devices with 4-input and with 6-input LUTs, by
//   gate kind, operator kind, port width, fan-in and bit position. Used by
//   KAVU_DELAY_MODEL_KZR in detailed mode. Kinds without a table cost 0 after
//   a debug line. Two sound departures from the raw formulas: an add arc from
//   a higher input bit to a lower sum bit costs 0 (the lower bit does not
//   depend on the higher one), and a decoder of width 0 costs at least 0.
//
// Path-delay profiles: every output terminal with fan-out is classified by
//   where its paths start (input pins, registers of which clocks, other) and
//   end (output pins, synchronous register inputs of which clocks,
//   secondary register inputs, other); with a delay expert the longest path
//   through the terminals of each profile is recorded. Walks are one
//   multi-source pass per step with explicit stacks: O(C (N + E)) for C
//   clocks.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"

class KAVU_DELAY_EXPERT;

// Delay of the arc iterm -> oterm of one gate. Null terminals and an output
// of another gate are internal errors.
int kavu_detailed_gate_delay_6lut(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm);
int kavu_detailed_gate_delay_4lut(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm);

// Prints the profile collection of the netlist with delays ("PROFILE: " lines
// at debug level 2).
void kavu_dump_max_path_delay_profiles(CDB_SGATE_NETLIST* netlist, KAVU_DELAY_EXPERT* expert);
// For every output terminal with fan-out, the largest maximum delay of the
// base (base == true) or final profiles its profile splits into.
void kavu_get_max_path_delay_for_nodes(CDB_SGATE_NETLIST* netlist, KAVU_DELAY_EXPERT* expert,
                                       std::map<CDB_SGATE_OTERM*, int>& delays, bool base);
// The output terminals with fan-out grouped by full profile (numbered by first
// sight in node order) with each profile's printable name. No delays.
void kavu_get_oterms_per_profile(CDB_SGATE_NETLIST* netlist,
                                 std::vector<std::vector<CDB_SGATE_OTERM*>>* oterms_per_profile,
                                 std::vector<std::string>* profile_names);
// A plain register (CDB_SGATE_DFF) or a WYSIWYG flip-flop.
bool kavu_consider_as_register(CDB_SGATE_OTERM* oterm);
