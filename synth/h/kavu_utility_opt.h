// kavu_utility_opt.h — utilities the optimisation passes call between their
// steps: the gates worth optimising, slack and timing checks read from the
// timing map, the RAM-style mark of RAM gates, names for a bank of new
// bypass registers, a fan-out test over output terminals, and a new register
// that takes its clock, enable and clear from a model.
//
// Timing map: per input terminal with a real source, its slack (delay
// units; SSC_UNCONSTRAINED_SLACK when unconstrained) and slack ratio. A
// terminal without a real source is always in time (slack unconstrained,
// ratio 1.0); a terminal with one that the map lacks is an internal error.
// Bypass names: a bank of n registers is named as the elements 0..n-1 of an
// array name `base` under a parent instance name (or, with elaboration names,
// by the elaboration information's generator under the component-name
// mutex). An existing array name is reused, its range widened when it does
// not cover the bank.
// Keys: opt_ignore_ram_style_for_size_check (off), read on every call.
// Failures are internal errors of the component "KAVU".
// Cost: O(log map) per slack query; the others linear in their input.
#pragma once

#include <string>
#include <vector>

#include "ssc/ssc_timing_info.h"

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class HDB_INSTANCE_NAME;
class BASEX_ELABORATE_INFO;
class CMP_FACADE;
struct OPT_SECONDARY_SIGNALS;

// Appends every gate that is neither a device atom nor a pin, in node-list
// order (the vector is not emptied first).
void opt_get_interesting_non_wys_gates(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_NODE*>* gates);
// The terminal's slack minus the margin (unconstrained stays
// unconstrained); *ratio (when given) gets the entry's ratio, 1.0 without an
// entry.
int opt_get_slack(CDB_SGATE_ITERM* iterm, SSC_ITERM_TIMING_INFO_MAP& timing_info_map, int margin, double* ratio);
// True without a real source, else whether the slack is at least `limit`.
bool opt_timing_okay(CDB_SGATE_ITERM* iterm, SSC_ITERM_TIMING_INFO_MAP& timing_info_map, int limit);
// Whether a RAM gate carries a RAM block type (codes 1-3 and 5-9); false for
// every gate while opt_ignore_ram_style_for_size_check is on. Other gates, or
// codes outside 0..9, are internal errors.
bool opt_is_marked_as_ram(const CDB_SGATE_NODE* gate);
// Names register i of `registers` as element i of the array name `base`
// (see the file comment). Nothing happens for an empty vector. The facade
// is not read.
void opt_process_bypass_dff_name(HDB_INSTANCE_NAME* parent, std::string& base,
                                 const std::vector<CDB_SGATE_NODE*>& registers,
                                 BASEX_ELABORATE_INFO* elaborate_info, CMP_FACADE* facade,
                                 bool use_elaboration_names);
// True when some non-null terminal of the vector has a fan-out.
bool opt_is_vec_connected(std::vector<CDB_SGATE_OTERM*>& oterms);
// A new unnamed plain register in the netlist: data unconnected, clock from
// the model (required, connected), enable VCC and clear GND unless the model
// has a connected one, the other controls inactive (asynchronous data VCC).
CDB_SGATE_NODE* opt_create_dff(CDB_SGATE_NETLIST* netlist, OPT_SECONDARY_SIGNALS* model);
