// kavu_stats.h — statistics and reports of a gate netlist.
//
// KAVU_STATS describes every gate as a few short description strings (type
// name, then one more " | "-separated field per level of detail), counts how
// often each string occurs and prints the sorted counts as a tree on the
// level-2 debug trace. report_on_netlist then runs the optional sections the
// configuration asks for: the design-flag estimate (KAVU_DESIGN_FLAGS), the
// delay and wire statistics, the fan-out files, the many-statistics section
// (fan-out classes, neighbour and critical-graph tables), register secondary
// signals, shift-register chains and the netlist dump.
//
// Nothing is printed, and no section runs, while the quiet gate
// kavu_less_debug_messages() is true: reports print only when
// "synth_less_debug_messages" is off (its default is on outside regression
// tests) and "debug_msg" is on. The gate is read once per load.
//
// Output order never depends on addresses: descriptions are sorted as text,
// signals and registers are keyed by gate id.
//
// Cost: the tally is linear in terminals (descriptions are found through a
// hash index); each delay section runs one full delay computation.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"

class CDB_SGATE_HIERARCHY;
class HDB_NAMESPACE;

// ---------------------------------------------------------------------------
// The quiet gate of every report (computed once per load).
bool kavu_less_debug_messages();

// ---------------------------------------------------------------------------
// Netlist statistics tally.
class KAVU_STATS {
 public:
  KAVU_STATS();
  ~KAVU_STATS();
  KAVU_STATS(const KAVU_STATS&) = delete;
  KAVU_STATS& operator=(const KAVU_STATS&) = delete;

  // The full report. depth -1 prints every level (and runs the delay
  // section); another depth prints descriptions up to that level. `many`
  // allows the many-statistics section (key "kavu_stats_many").
  void report_on_netlist(CDB_SGATE_NETLIST* netlist, int depth, const std::string& title, bool many);
  void report_on_netlist(CDB_SGATE_NETLIST* netlist) { report_on_netlist(netlist, -1, std::string(), false); }
  void report_on_netlist(CDB_SGATE_NETLIST* netlist, const std::string& title) {
    report_on_netlist(netlist, -1, title, false);
  }
  void report_on_netlist(CDB_SGATE_NETLIST* netlist, const std::string& title, int depth) {
    report_on_netlist(netlist, depth, title, false);
  }
  void report_on_netlist(CDB_SGATE_NETLIST* netlist, const std::string& title, bool many) {
    report_on_netlist(netlist, -1, title, many);
  }
  // The tally over a vector of gates (prefix "STATS_NODE_VEC_<title> :",
  // depth 2, no sections).
  void report_on_node_vec(std::vector<CDB_SGATE_NODE*>* nodes, const std::string& title);
  // The tally of the last report: (description, count) in first-seen order;
  // empty when the quiet gate stopped it.
  std::vector<std::pair<std::string, uint32_t>> get_tally() const { return m_last_tally; }

 private:
  unsigned index_of_string(const std::string& s) const;
  void tally_string(const std::string& s);
  static int count_tabs(const char* s);
  void clear_tally();
  void tally_node(CDB_SGATE_NODE* node);
  void dump_tally(unsigned long long node_count, const char* prefix, int depth);
  void dump_readable_tally(const char* prefix, int depth);
  void dump_parsable_tally(const char* prefix);

  void tally_unknown_sgate(CDB_SGATE_NODE* node);
  void tally_pin(CDB_SGATE_NODE* node);
  void tally_comb(CDB_SGATE_NODE* node);
  void tally_lut(CDB_SGATE_NODE* node);
  void tally_dff(CDB_SGATE_NODE* node);
  void tally_wys(CDB_SGATE_NODE* node);
  void tally_register_string(CDB_SGATE_NODE* node);
  void tally_component(CDB_SGATE_NODE* node);
  void tally_operator(CDB_SGATE_NODE* node);
  void tally_adder_sources(CDB_SGATE_NODE* op, int port);
  void tally_adder_destinations(CDB_SGATE_NODE* op);
  void tally_adder_neighbors(CDB_SGATE_NODE* op);
  void tally_multiply_sources(CDB_SGATE_NODE* op, int port);
  void tally_multiply_destinations(CDB_SGATE_NODE* op);
  void tally_multiply_neighbors(CDB_SGATE_NODE* op);
  void tally_macs(CDB_SGATE_NODE* mac);
  void tally_mac_neighbors(CDB_SGATE_NODE* mac);
  void tally_mac_mult_sources(CDB_SGATE_NODE* mult, int port);
  void tally_mac_out_destinations(CDB_SGATE_NODE* out);
  void tally_fanout(CDB_SGATE_NODE* node);
  void tally_profile(const std::string& head, std::map<std::string, int, bool (*)(const std::string&, const std::string&)>& profile);
  void tally_source(const char* type, CDB_SGATE_ITERM* iterm);
  void tally_destination(const char* type, CDB_SGATE_OTERM* oterm);
  static void describe_iterm_source(std::string& out, CDB_SGATE_ITERM* iterm);

  std::vector<unsigned> m_tally;
  std::vector<std::string> m_string;
  unsigned m_last_description = 0;
  bool m_dump_fanout = false;
  bool m_reg_connex_stats = false;
  bool m_fanout_stats = false;
  // Description -> index; the linear search of the first-seen order is
  // replaced by a hash index (same result, linear tally time).
  std::unordered_map<std::string, unsigned> m_index;
  std::vector<std::pair<std::string, uint32_t>> m_last_tally;
};

// Length of the register chain that ends at `node`, walking data inputs
// backwards (at most 100); with single_fanout the walk stops at a driver
// that fans out. A null gate has length 1.
int shift_register_chain_length(CDB_SGATE_NODE* node, bool single_fanout);
// True when the register's output drives the data input of a plain register.
bool drives_dff_data_input(CDB_SGATE_NODE* node);

// ---------------------------------------------------------------------------
// Design flags.
enum KAVU_DESIGN_FLAG_TYPE : int {
  CRC_XORS = 0,
  WANTS_RAM,
  MANY_PINS,
  TOY_DESIGN,
  NOT_TOO_BIG,
  RUNTIME_THREAT,
  LOTS_OF_MATH,
  MODERATE_MATH,
  NO_MATH_OPS,
  HAS_STATE_MEKS,
  HAS_RAM,
  HEAVY_PIPE,
  DEEP_COMB_LOGIC,
  NO_COMB_LOGIC,
  NO_OPERATORS,
  HEAVY_21MUX,
  BIG_MUXES,
  FULLY_POPULATED_MUXES,
  KAVU_DESIGN_FLAG_COUNT
};

// A rough size and content estimate of a netlist and the flags it implies.
// Amounts are counted in tenths of a unit; a gate whose rating formula would
// go below zero (a comb gate without inputs, a decoder or multiplexer of
// width 0) adds nothing.
class KAVU_DESIGN_FLAGS {
 public:
  KAVU_DESIGN_FLAGS() = default;
  void set_flag(KAVU_DESIGN_FLAG_TYPE flag);
  bool get_flag(KAVU_DESIGN_FLAG_TYPE flag) const;
  // Writes both estimates (valid or not) and returns whether they are valid.
  bool get_cost_est(int* a, int* b) const {
    *a = m_cost_est_a;
    *b = m_cost_est_b;
    return m_cost_est_valid;
  }
  bool get_cost_est(int& a, int& b) const { return get_cost_est(&a, &b); }
  void dump_flags(const char* prefix) const;
  // Rates every gate, prints the estimate, sets flags (never clears one)
  // and overwrites the cost estimate.
  void analyze_netlist(CDB_SGATE_NETLIST* netlist, const char* prefix);

 private:
  unsigned m_flags = 0;
  bool m_cost_est_valid = false;
  int m_cost_est_a = 0;
  int m_cost_est_b = 0;
};

// ---------------------------------------------------------------------------
// Delay and wire statistics. Each delay report builds and destroys its own
// delay expert on the netlist's default delay fields.
void dump_wire_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix);
void kavu_dump_delay_info(CDB_SGATE_NETLIST* netlist, const std::string& prefix, bool dump_slack_profile,
                          bool use_neighbors_penalty, bool third_flag, double* max_delay_luts,
                          double* avg_path_delay_luts);
// Fan-in delay in whole LUTs -> number of signals.
std::map<int, int> kavu_get_delay_profile(CDB_SGATE_NETLIST* netlist);

// ---------------------------------------------------------------------------
// Fan-out statistics.
// Writes "sgate_fanout_stat.<name>" and "sgate_high_fanout_stat.<name>".
void kavu_stat_each_type_sgate_oterm_fanout(CDB_SGATE_NETLIST* netlist, const char* name);
// Two debug lines summarising the fan-out of every signal.
void kavu_stat_oterm_fanout(CDB_SGATE_NETLIST* netlist);
// The enumerator name of a gate type; "UNKNOWN" for a value with no entry.
void kavu_convert_sgate_type_enum_2_string(CDB_SGATE_TYPE type, std::string& out);
// The "FANOUT" table of signals by fan-out range, driver kind and the kind
// of inputs they feed.
void dump_fanout_class_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix);

// ---------------------------------------------------------------------------
// Neighbour and critical-graph statistics.
void dump_many_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix);
void dump_neighbor_delay_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix);
void dump_critical_graph_stats(CDB_SGATE_NETLIST* netlist, const std::string& prefix);

// ---------------------------------------------------------------------------
// Combinational depth statistics.
// The largest number of combinational gates on a path, as a debug line
// "max depth in the sgate netlist %d" (or the combinational-cycle line).
void kavu_sgatenetlist_max_comb_depth(CDB_SGATE_NETLIST* netlist);
// Writes "sgate_depth_stat.<name>": the depth distribution of sinks and of
// the connections from their sources, by pair of gate classes.
void kavu_sgate_comb_depth_stat(CDB_SGATE_NETLIST* netlist, const char* name);

// ---------------------------------------------------------------------------
// Register secondary signals, shift-register chains, netlist dump.
void dump_register_secondaries(CDB_SGATE_NETLIST* netlist, const std::string& prefix);
void dump_secondary_signal_widths(CDB_SGATE_NETLIST* netlist, const std::string& prefix);
void dump_shift_register_chains(CDB_SGATE_NODE* chain_end, bool single_fanout);
void dump_netlist_for_connex_stats(CDB_SGATE_NETLIST* netlist);

// ---------------------------------------------------------------------------
// Assignment regression dump. The list file "assignments.rin" in the working
// directory names the variables to report; it is read once per load.
void kavu_read_regtest_assignments();
void kavu_collect_assignments_on_nodes(CDB_SGATE_HIERARCHY* hierarchy, std::multiset<std::string>& lines);
void kavu_collect_global_assignments(HDB_NAMESPACE* ns, std::multiset<std::string>& lines);
void kavu_collect_cap_inst_assignments(const std::string& prefix, HDB_NAMESPACE* ns,
                                       std::multiset<std::string>& lines);
