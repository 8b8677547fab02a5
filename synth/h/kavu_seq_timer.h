// kavu_seq_timer.h — the sequential timer: a retiming-aware timer over one
// gate netlist, and the records it shares with delay estimation.
//
// Model: the timer indexes every output terminal that matters (terminals
//   with fan-out and register outputs), in topological order, fan-in first;
//   the index lives in the terminal's aux value and is only trusted when the
//   record at that index names the same terminal. Clocks are (source
//   terminal, inversion) pairs numbered 1, 2, 3 ... in order of first sight;
//   KAVU_SEQ_INVALID_CLOCK_ID (-1) is "no clock". Each indexed terminal gets
//   the clocks that reach it from its fan-in (arrival) and those its fan-out
//   reaches (required); a hard boundary (register output, clocked RAM, MAC or
//   LUT-RAM output) carries its own clock id. Domain k holds the terminals of
//   clock k; domain 0 those no clock reaches. RAM blocks, MAC blocks and LUT
//   RAMs get one record each, built on first request, which also packs plain
//   registers at unregistered block ports (all or nothing per port).
// Marks on the netlist (node flag word): 0x1000 fixed register, 0x10000 RAM
//   packed, 0x20000 MAC packed; node 0x8000 and terminal 0x2000/0x4000 are
//   cleared with them. clear_cdb_flags runs in init and cleanup.
// Fixed registers: next to I/O, next to the unclocked domain, preserved or
//   asynchronously controlled, and on the boundary of two clock domains;
//   "kavu_seq_dont_fix_reg" and the retimer name marker exempt a register.
// Ownership: the timer owns its clock records, terminal records, domain
//   records, block records, analyses and delay model; copying is refused.
// Walks: topological order and the I/O searches use explicit stacks (the
//   depth of a netlist's logic is unbounded).
// Debug files are written only under their configuration keys.
// Cost: indexing and propagation O(terminals + connections) plus set
//   operations on the (few) clock ids; block records O(block fan-out).
#pragma once

#include <deque>
#include <iosfwd>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_wysiwyg.h"
#include "kavu_delay.h"
#include "ztl_hash_lite_sys.h"
#include "ztl_hash_set_lite_sys.h"

// Arrival and largest fan-out delay of one indexed terminal of a domain.
struct KAVU_SEQ_DELAY_OTERM_INFO {
  int m_arrival = KAVU_DELAY_MIN;
  int m_max_fanout_delay = KAVU_DELAY_MIN;
  int m_scc_index = -1;                         // position of its loop in the analysis, -1: none
  CDB_SGATE_OTERM* m_critical_source = nullptr;  // the source the arrival came from
};

class CMP_FACADE;
class KAVU_SEQ_TIMER;
class KAVU_SEQ_TIMER_CLK_DOMAIN;
class KAVU_SEQ_RAM_INFO;
class KAVU_SEQ_MAC_INFO;
class KAVU_SEQ_LUTRAM_INFO;
class KAVU_BIG_GATE_SET_INFO;
class KAVU_DELAY_MODEL_STIMER;
class KAVU_DELAY_MODEL_SCC;
class KAVU_DELAY_MODEL_SCC_ARR;
class KAVU_SCC;

// The analysis of one clock domain.
class KAVU_SEQ_DELAY_ANALYSIS {
 public:
  KAVU_SEQ_DELAY_ANALYSIS() = default;
  // The analysis of a domain record, with the domain's register counts
  // copied at construction.
  explicit KAVU_SEQ_DELAY_ANALYSIS(KAVU_SEQ_TIMER_CLK_DOMAIN* domain);
  KAVU_SEQ_DELAY_ANALYSIS(const KAVU_SEQ_DELAY_ANALYSIS&) = delete;
  KAVU_SEQ_DELAY_ANALYSIS& operator=(const KAVU_SEQ_DELAY_ANALYSIS&) = delete;

  // Puts the terminal in the domain; with `indexed` it gets the next index
  // (returned; -1 without). Adding a terminal twice is an internal error.
  int add_domain_oterm(CDB_SGATE_OTERM* oterm, bool indexed);
  bool is_in_domain(CDB_SGATE_OTERM* oterm) const;
  // The terminal's index, -1 when it has none (or is outside the domain).
  int get_oterm_index(CDB_SGATE_OTERM* oterm) const;
  int get_oterm_size() const { return m_oterm_size; }
  // The record of an index; an index out of range is an internal error.
  KAVU_SEQ_DELAY_OTERM_INFO* get_oterm_info(int index);

  // The domain record (null once the link is cleared) and its id.
  KAVU_SEQ_TIMER_CLK_DOMAIN* get_clk_domain() const { return m_domain; }
  void clear_clk_domain() { m_domain = nullptr; }
  int get_domain_id() const { return m_domain_id; }
  int get_best_cycle_time() const { return m_best_cycle_time; }
  void set_best_cycle_time(int t) { m_best_cycle_time = t; }
  int get_max_nonseq_depth() const { return m_max_nonseq_depth; }
  void set_max_nonseq_depth(int d) { m_max_nonseq_depth = d; }
  int m_fixed_reg_count = 0;
  int m_reg_count = 0;

  // --- the domain's analysis (kavu_seq_timer_analysis.cpp)
  // An analysis the timer runs: its models are made here; the domain's
  // registers must already carry their fixed marks.
  KAVU_SEQ_DELAY_ANALYSIS(CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, KAVU_SEQ_TIMER* timer,
                          KAVU_SEQ_TIMER_CLK_DOMAIN* domain, int verbose, bool recalculate, int decomp_fanin,
                          int huge_gate_fanin);
  ~KAVU_SEQ_DELAY_ANALYSIS();
  // The smallest cycle time at which every path of the domain fits with its
  // movable registers moved: depth bound, loops, bisection over the fit test.
  int find_best_cycle_time();
  // One arrival pass at the cycle time under test; false when a loop does
  // not fit. With `keep` every loop member keeps its arrival.
  bool calculate_arrival_time(bool keep);
  // The arrival pass, then every end point, pin driver, RAM and MAC input
  // against cycle.
  bool is_cycle_time_fit(int cycle);
  int get_arrival_time(int index);
  int get_arrival_time(CDB_SGATE_OTERM* oterm);
  // "Total number of SCC of the clock domain = n" and each loop's dump,
  // between star lines, to the file.
  void dump_all_sccs(const std::string& file) const;
  // The timer's dump name and the domain id ("Neg1" without a domain).
  std::string get_domain_name() const;
  // The drivers of a register's enable, synchronous load, synchronous clear
  // and data inputs, in that order; nothing for other gates.
  static void get_register_drivers(CDB_SGATE_NODE* reg, std::vector<CDB_SGATE_OTERM*>& drivers);
  int get_cycle_time() const { return m_cycle_time; }
  // Number of fit tests the search ran (the domain tests, not the loops').
  int get_fit_test_count() const { return m_fit_tests; }
  const std::vector<KAVU_SCC*>& get_sccs() const { return m_sccs; }
  // The search's loops check their members in the component map, which the
  // set-up fills with the loops' members only; this adds every other
  // terminal of the domain with its component number (once).
  void complete_scc_map();
  const std::vector<CDB_SGATE_OTERM*>& get_sorted_oterms() const { return m_oterms; }
  const std::list<CDB_SGATE_OTERM*>& get_input_oterms() const { return m_input_oterms; }
  const std::list<CDB_SGATE_OTERM*>& get_output_oterms() const { return m_output_oterms; }
  KAVU_SEQ_TIMER* get_timer() const { return m_timer; }
  bool get_changing_arc() const { return m_changing_arc; }
  // The upper bound of the doubling search (far above any real design, and
  // small enough that arrivals around an anchored loop stay in range); a
  // domain that does not fit at it stops with an internal error.
  static constexpr int MAX_CYCLE_TIME = 1 << 24;

  // --- register fan-out delays
  // The backward pass at the best cycle time: each terminal's largest delay
  // to the end of its sequential path.
  void calculate_max_fanout_delay();
  bool has_fanout_delays() const { return m_fanout_done; }
  void set_max_fanout_delay(CDB_SGATE_OTERM* oterm, int delay);
  int get_max_fanout_delay(int index);
  int get_max_fanout_delay(CDB_SGATE_OTERM* oterm);

  // --- critical paths and failing points
  // The reports of one critical-path analysis; a null stream is not written.
  struct CRITICAL_REPORTS {
    std::ostream* paths = nullptr;    // the critical paths
    std::ostream* failing = nullptr;  // the failing points
    std::ostream* points = nullptr;   // the closure of the failing points over critical sources
    std::ostream* big_gates = nullptr;  // the big gates among the critical points
  };
  // The analysis one step below the best cycle time (key
  // "kavu_seq_critical_test", default 1): failing loops, failing end points,
  // RAM and MAC inputs, the critical paths and points, and the big gates
  // among them; each report goes to its file only under its key, the big
  // gates to theirs whenever a set is given.
  void analyze_critical_paths(KAVU_BIG_GATE_SET_INFO* big_gates);
  // The same at the given test cycle time, to the given streams.
  void analyze_critical_paths(int cycle, KAVU_BIG_GATE_SET_INFO* big_gates, const CRITICAL_REPORTS& reports);
  // The paths and failing points only, without big gates.
  void analyze_critical_paths(int cycle, std::ostream& paths, std::ostream& failing);
  // Adds the drivers of the domain's RAM and MAC inputs whose arrival (plus
  // the port delay) exceeds the cycle time, each once.
  void collect_ram_mac_failing_points(int cycle, std::vector<CDB_SGATE_OTERM*>& points,
                                      ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& seen);
  // Every failing point and every terminal reached from one by following
  // critical sources inside the domain (not through RAM or MAC atoms).
  void collect_critical_points(const std::vector<CDB_SGATE_OTERM*>& failing, std::vector<CDB_SGATE_OTERM*>& points,
                               ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& in_points);
  // "START CLOCK DOMAIN", the count and one line per terminal.
  void dump_oterm_set(std::ostream& os, const std::vector<CDB_SGATE_OTERM*>& oterms) const;
  // The big gates among the critical points with their supports; a support
  // that is itself a critical point is starred.
  void dump_critical_big_gates(std::ostream& os, const KAVU_BIG_GATE_SET_INFO& big_gates,
                               const std::vector<CDB_SGATE_OTERM*>& points,
                               const ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& in_points) const;
  // For every loop whose fit failed in the critical-path analysis: the loop
  // and the big gates on it with their drivers.
  void dump_big_gates_on_loops(const KAVU_BIG_GATE_SET_INFO* big_gates, std::ostream& os);
  // Up to `limit` critical paths ending at the terminal, each a list of
  // terminals from its start; the remaining quota bounds every branch.
  void build_critical_paths(CDB_SGATE_OTERM* end, int limit, std::vector<std::vector<CDB_SGATE_OTERM*>>& paths);
  // The end points whose arrival exceeds the cycle time, in end-point order.
  void collect_failing_points(int cycle, std::vector<CDB_SGATE_OTERM*>& points);

  // --- statistics
  // Arrival, fan-out delay and their sum per indexed terminal; forces the
  // fan-out pass first.
  void write_timing_info(std::ostream& os);
  // The paths through the terminals whose sequential path delay equals the
  // best cycle time, or through the given critical set.
  void write_critical_paths_list(std::ostream& os, int limit = 5);
  void write_critical_paths_list(std::ostream& os, const std::vector<CDB_SGATE_OTERM*>& critical_order, int limit);
  void write_scc_summary(std::ostream& os) const;

 private:
  void build_non_seq_depth_table();
  void setup_sccs();
  void set_start_arrivals();
  bool check_rams_and_macs(int cycle);
  // Adds the end point to the failing points when its arrival plus the end
  // delay exceeds cycle.
  void check_end_arrival(CDB_SGATE_OTERM* oterm, int end_delay, int cycle, std::vector<CDB_SGATE_OTERM*>& points,
                         ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& seen);
  void find_open_ends();
  bool leads_on_in_domain(const CDB_SGATE_NODE* load) const;
  // Whether the fan-out rule passes through this load's output (a plain
  // gate the model looks through) rather than ending at it.
  bool passes_fanout_on(const CDB_SGATE_ITERM* t, CDB_SGATE_NODE* load) const;
  int calculate_oterm_max_fanout_delay(CDB_SGATE_OTERM* oterm);
  int calculate_max_fanout_delay_of_scc(int index);
  int single_oterm_arrival(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM** src);
  // The arrival rules of the terminals outside loops as index arrays
  // (kavu_seq_timer_analysis.cpp), built once per search.
  void build_arrival_program();
  bool add_arrival_rule(int index);
  int program_arrival(int index, CDB_SGATE_OTERM** src) const;
  void clear_stimer_caches();
  KAVU_SEQ_DELAY_OTERM_INFO* info_of(CDB_SGATE_OTERM* oterm);

  CDB_SGATE_NETLIST* m_netlist = nullptr;
  CMP_FACADE* m_facade = nullptr;
  KAVU_SEQ_TIMER* m_timer = nullptr;
  std::map<CDB_SGATE_OTERM*, int> m_scc_map;  // component numbers: the loops' members until completed
  std::vector<int> m_component_number;        // by position in m_oterms
  bool m_scc_map_complete = false;
  KAVU_DELAY_MODEL_STIMER* m_stimer_model = nullptr;
  KAVU_DELAY_MODEL_SCC* m_scc_model = nullptr;
  KAVU_DELAY_MODEL_SCC_ARR* m_scc_arr_model = nullptr;
  std::vector<KAVU_SCC*> m_sccs;
  int m_cycle_time = KAVU_DELAY_MIN;
  std::list<CDB_SGATE_OTERM*> m_input_oterms;
  std::list<CDB_SGATE_OTERM*> m_output_oterms;
  // The terminals at which the fan-out rule ends a path without an end
  // point of the sort (an I/O pin load, an asynchronous input, a fan-out
  // that leaves the domain), with the delay the end adds: the fit test
  // checks them as the fan-out pass counts them.
  std::vector<std::pair<CDB_SGATE_OTERM*, int>> m_open_ends;
  int m_decomp_fanin = 2;
  int m_huge_gate_fanin = 200;
  int m_verbose = 0;
  bool m_skew_boundary_node_depth = true;
  bool m_use_non_seq_max_depth = true;
  bool m_keep_non_seq_depth = false;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> m_non_seq_depth_table;
  std::vector<CDB_SGATE_OTERM*> m_oterms;
  bool m_changing_arc = true;
  bool m_recalculate_comb_gate_delay = true;
  bool m_fanout_done = false;
  int m_fit_tests = 0;
  ZTL_HASH_SET_LITE<CDB_SGATE_NODE*> m_comb_gates;
  ZTL_HASH_LITE<CDB_SGATE_ITERM*, int> m_arc_table;

  KAVU_SEQ_TIMER_CLK_DOMAIN* m_domain = nullptr;
  int m_domain_id = 0;
  int m_best_cycle_time = KAVU_DELAY_MIN;
  int m_max_nonseq_depth = 0;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> m_oterm_index;  // -1: in the domain, no index
  std::vector<KAVU_SEQ_DELAY_OTERM_INFO> m_oterm_info;
  int m_oterm_size = 0;

  // Per domain index: how its arrival is computed in a fit test, and its
  // fan-in arcs. An arc comes from a domain index, or from a terminal
  // outside the domain (arrival 0) or one without an index (no arrival).
  enum ARRIVAL_RULE : unsigned char { RULE_MODEL, RULE_REGISTER, RULE_ARCS };
  enum { ARC_FROM_OUTSIDE = -2, ARC_FROM_UNINDEXED = -1 };
  struct ARRIVAL_ARC {
    int m_from;
    int m_delay;
    CDB_SGATE_OTERM* m_source;
  };
  std::vector<ARRIVAL_RULE> m_arrival_rule;
  std::vector<int> m_empty_arrival;  // the arrival when no input qualifies
  std::vector<int> m_arc_begin;      // per index, + 1
  std::vector<ARRIVAL_ARC> m_arrival_arc;
  std::vector<std::pair<int, int>> m_start_arrivals;  // (index, arrival) of each start point
  // Per domain index: 1 when its arrival is the same at every cycle time (a
  // start outside the loops, or fixed arcs from such terminals only, none
  // read before it is computed). The search's passes keep these arrivals
  // once computed and recompute the rest; empty when any terminal outside
  // the loops takes the delay model's call.
  void find_cycle_free_arrivals();
  std::vector<unsigned char> m_cycle_free;
  bool m_reuse_cycle_free = false;   // set while the search runs its fit tests
  bool m_cycle_free_known = false;   // the kept arrivals come from a pass of this search
};

// The table lookup: the stored value, KAVU_DELAY_MIN for an absent terminal;
// a null table is the internal error "table != NULL".
int kavu_seq_table_delay(CDB_SGATE_OTERM* oterm, ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>* table);
// The arrival lookup: 0 outside the domain, KAVU_DELAY_MIN without an index,
// else the stored arrival. A null analysis is "seq_timer != NULL".
int kavu_seq_analysis_arrival(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* analysis);
// The fan-out lookup: KAVU_DELAY_MIN without an index, else the stored
// largest fan-out delay.
int kavu_seq_analysis_fanout_delay(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* analysis);
// The timer's own names for the same three lookups.
inline int kavu_seq_arrival_from_table(CDB_SGATE_OTERM* oterm, ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>* table) {
  return kavu_seq_table_delay(oterm, table);
}
inline int kavu_seq_domain_arrival(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* analysis) {
  return kavu_seq_analysis_arrival(oterm, analysis);
}
inline int kavu_seq_domain_fanout_delay(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* analysis) {
  return kavu_seq_analysis_fanout_delay(oterm, analysis);
}

// ---------------------------------------------------------------------------
// Marks, names and small shared functions

// The sequential timer's register marks (bits of the gate's flag word):
// 0x1000 fixed, 0x10000 packed into a RAM block, 0x20000 packed into a
// multiply-accumulate block. A null gate is an internal error.
constexpr uint32_t KAVU_SEQ_DFF_FIXED = 0x1000;
constexpr uint32_t KAVU_SEQ_RAM_PACKED = 0x10000;
constexpr uint32_t KAVU_SEQ_MAC_PACKED = 0x20000;
bool kavu_seq_timer_is_dff_fixed(const CDB_SGATE_NODE* sgate);
bool kavu_seq_timer_is_register_ram_packed(const CDB_SGATE_NODE* sgate);
bool kavu_seq_timer_is_register_mac_packed(const CDB_SGATE_NODE* sgate);

// The display name of a terminal: its gate's hierarchical path, "/", and the
// debug text of its port type. A null terminal is an internal error.
std::string kavu_get_oterm_debug_name(const CDB_SGATE_OTERM* oterm);
std::string kavu_get_iterm_debug_name(const CDB_SGATE_ITERM* iterm);
// "1 3 7": the members in ascending order, single blanks between.
std::string kavu_seq_int_set_to_string(const std::set<int>& ids);
// True for a register's clock enable, synchronous clear, synchronous load or
// data input; false for every other terminal.
bool kavu_seq_is_sync_input_of_register(const CDB_SGATE_ITERM* iterm);
// A register for the timer: a plain DFF gate or a flip-flop atom.
bool kavu_seq_is_register(const CDB_SGATE_NODE* sgate);
// A register whose only driven inputs are its data and clock inputs.
bool kavu_seq_is_plain_register(const CDB_SGATE_NODE* sgate);
// Block kinds.
bool kavu_is_mac_node(const CDB_SGATE_NODE* sgate);
bool kavu_is_ram_node(const CDB_SGATE_NODE* sgate);
bool kavu_is_lutram(const CDB_SGATE_NODE* sgate);
inline bool kavu_is_lutram_node(const CDB_SGATE_NODE* sgate) { return kavu_is_lutram(sgate); }
// The retimer's marker ("~tesk") inside the gate's hierarchical name.
bool kavu_seq_has_retimer_marker(const CDB_SGATE_NODE* sgate);
// Writes the table to standard output: "Total = n", then one line per entry.
void kavu_seq_print_arrival_table(ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>* table);

// ---------------------------------------------------------------------------
// Clocks, terminal records and clock domains

constexpr int KAVU_SEQ_INVALID_CLOCK_ID = -1;

// (clock id, index of the terminal in that domain's analysis) pairs.
typedef std::vector<std::pair<int, int>> KAVU_SEQ_OTERM_CLK_INFO;

// One clock: the terminal that drives the clock inputs, and whether the
// registers take it inverted. Two clocks are the same when both are equal.
struct KAVU_SEQ_CLOCK {
  KAVU_SEQ_CLOCK(CDB_SGATE_OTERM* source, bool inverted) : m_source(source), m_inverted(inverted) {}
  CDB_SGATE_OTERM* m_source;
  bool m_inverted;
  // The source's name, "_INV" appended when inverted.
  std::string get_short_name() const;
  // "<name> (sgate id = <id>) Inverted : Y PORT_INDEX= <i>".
  void dump(std::ostream& os) const;
};

// Clock records are looked up by value.
template <>
struct ZTL_OPS<KAVU_SEQ_CLOCK*> {
  static uint32_t hash(KAVU_SEQ_CLOCK* c) {
    const uint64_t a = reinterpret_cast<uintptr_t>(c->m_source);
    uint32_t key = (uint32_t(a >> 32) >> 1) ^ (uint32_t(a) << 1);
    return c->m_inverted ? key ^ 0x100000u : key;
  }
  static bool equal(KAVU_SEQ_CLOCK* a, KAVU_SEQ_CLOCK* b) {
    return a->m_source == b->m_source && a->m_inverted == b->m_inverted;
  }
};

// One indexed output terminal.
class KAVU_SEQ_TIMER_OTERM_INFO {
 public:
  explicit KAVU_SEQ_TIMER_OTERM_INFO(CDB_SGATE_OTERM* oterm) : m_oterm(oterm) {}
  bool has_clk() const { return !m_clk_info.empty(); }
  bool is_hard_boundary() const { return m_hard_boundary_clk_id >= 1; }

  int m_hard_boundary_clk_id = 0;  // 0: no hard boundary
  KAVU_SEQ_OTERM_CLK_INFO m_clk_info;
  CDB_SGATE_OTERM* m_oterm;
  std::set<int> m_arr_clk_ids;  // clocks reaching the terminal from its fan-in
  std::set<int> m_req_clk_ids;  // clocks its fan-out reaches
};

// One clock domain: its terminals (index order), the RAM and MAC records of
// its clock, its register counts and best cycle time.
class KAVU_SEQ_TIMER_CLK_DOMAIN {
 public:
  // Reads "kavu_seq_fix_ff_d_only" (default on).
  explicit KAVU_SEQ_TIMER_CLK_DOMAIN(int id = 0);
  int get_id() const { return m_id; }
  std::vector<CDB_SGATE_OTERM*>& get_oterms() { return m_oterms; }
  const std::vector<CDB_SGATE_OTERM*>& get_oterms() const { return m_oterms; }
  std::vector<KAVU_SEQ_RAM_INFO*>& get_rams() { return m_rams; }
  std::vector<KAVU_SEQ_MAC_INFO*>& get_macs() { return m_macs; }
  int get_best_cycle_time() const { return m_best_cycle_time; }
  void set_best_cycle_time(int t) { m_best_cycle_time = t; }
  int get_reg_count() const { return m_reg_count; }
  void set_reg_count(int n) { m_reg_count = n; }
  int get_fixed_reg_count() const { return m_fixed_reg_count; }
  bool fix_ff_d_only() const { return m_fix_ff_d_only; }

  // Marks the registers whose data input a terminal of this domain drives,
  // and the registers that drive a gate of this domain; returns the count.
  int fix_registers_connected_to_domain();
  // Marks preserved and asynchronously controlled registers and sets the
  // fixed register count.
  void find_fixed_registers();
  // Whether the domain holds a terminal that is no register output.
  bool need_analysis();
  // The domain dump of the clock-domain report.
  void dump(std::ostream& os) const;

 private:
  int m_id;
  int m_best_cycle_time = KAVU_DELAY_MIN;
  int m_reg_count = 0;
  int m_fixed_reg_count = 0;
  std::vector<CDB_SGATE_OTERM*> m_oterms;
  std::vector<KAVU_SEQ_RAM_INFO*> m_rams;  // not owned
  std::vector<KAVU_SEQ_MAC_INFO*> m_macs;  // not owned
  bool m_fix_ff_d_only;
};

// ---------------------------------------------------------------------------
// RAM, MAC and LUT-RAM records

// A RAM block: port clocks and registered outputs from the atom's modes
// (port mode member 9 registered, 27 output on clock 1, 45 own port-B clock).
class KAVU_SEQ_RAM_INFO {
 public:
  KAVU_SEQ_RAM_INFO(CDB_SGATE_NODE* ram, KAVU_SEQ_TIMER* timer);
  KAVU_SEQ_RAM_INFO(const KAVU_SEQ_RAM_INFO&) = delete;
  KAVU_SEQ_RAM_INFO& operator=(const KAVU_SEQ_RAM_INFO&) = delete;

  // Port A clocks for output port type 41, port B clocks for 42 and 513,
  // nothing otherwise.
  const std::vector<int>& get_output_port_clocks(const CDB_SGATE_OTERM* oterm) const;
  // Appends the sources of the inputs that the clock captures.
  void collect_input_sources(int clock_id, std::vector<CDB_SGATE_OTERM*>& sources) const;
  // Appends every valid clock id once.
  void get_all_clock_ids(std::vector<int>& ids) const;
  void dump(std::ostream& os) const;

  CDB_SGATE_WYSIWYG_RAM_BLOCK* m_ram_node;
  int m_in_port_a_clk = KAVU_SEQ_INVALID_CLOCK_ID;
  int m_in_port_b_clk = KAVU_SEQ_INVALID_CLOCK_ID;
  bool m_out_port_a_registered = false;
  std::vector<int> m_out_port_a_clks;
  bool m_out_port_b_registered = false;
  std::vector<int> m_out_port_b_clks;

 private:
  void pack_registers(bool port_b, KAVU_SEQ_TIMER* timer);
};

constexpr int KAVU_SEQ_MAC_NUM_CLOCKS = 3;
constexpr int KAVU_SEQ_MAC_NUM_INPUT_PORTS = 13;
constexpr int KAVU_SEQ_MAC_NUM_OUTPUT_PORTS = 3;

// A MAC block: its three clocks (clock inputs 35, 36, 778) and the clock of
// each registered port, -1 where a port is not registered.
class KAVU_SEQ_MAC_INFO {
 public:
  KAVU_SEQ_MAC_INFO(CDB_SGATE_NODE* mac, KAVU_SEQ_TIMER* timer);
  KAVU_SEQ_MAC_INFO(const KAVU_SEQ_MAC_INFO&) = delete;
  KAVU_SEQ_MAC_INFO& operator=(const KAVU_SEQ_MAC_INFO&) = delete;

  // The clock of a registered input port (table ports 0 to 11); -1 otherwise,
  // the chain input included.
  int get_input_port_clock(const CDB_SGATE_ITERM* iterm) const;
  // The clock of a registered output port (363, 364, 800); -1 otherwise.
  int get_output_port_clock(const CDB_SGATE_OTERM* oterm) const;
  // Appends the sources of the input ports registered on the clock or not
  // registered at all, port by port.
  void collect_input_sources(int clock_id, std::vector<CDB_SGATE_OTERM*>& sources) const;
  void dump(std::ostream& os) const;

  CDB_SGATE_WYSIWYG* m_mac_node;
  KAVU_SEQ_TIMER* m_timer;
  int m_clks[KAVU_SEQ_MAC_NUM_CLOCKS];
  int m_inport_clks[KAVU_SEQ_MAC_NUM_INPUT_PORTS];
  int m_outport_clks[KAVU_SEQ_MAC_NUM_OUTPUT_PORTS];

 private:
  void pack_output_registers();
  void pack_input_registers();
};

// A LUT RAM: its write clock (input 35) and, for a registered output, its
// read clock (input 36).
class KAVU_SEQ_LUTRAM_INFO {
 public:
  KAVU_SEQ_LUTRAM_INFO(CDB_SGATE_NODE* lutram, KAVU_SEQ_TIMER* timer);
  // -1 for an unregistered input and for port type 110; the write clock for
  // 83, 109, 173 and 41; the read clock for the other registered inputs.
  int get_input_clock(const CDB_SGATE_ITERM* iterm) const;
  // The clock of the output (the read clock; -1 when not registered).
  int get_clock_id() const { return m_read_clk; }

  CDB_SGATE_WYSIWYG* m_lutram_node;
  int m_write_clk = KAVU_SEQ_INVALID_CLOCK_ID;
  int m_read_clk = KAVU_SEQ_INVALID_CLOCK_ID;
};

bool kavu_is_lutram_output_clear_synchronous(CDB_SGATE_NODE* lutram);
bool kavu_is_lutram_registered_input(const CDB_SGATE_ITERM* iterm);

typedef ZTL_HASH_LITE<CDB_SGATE_NODE*, KAVU_SEQ_RAM_INFO*> KAVU_SEQ_RAM_INFO_MAP;
typedef ZTL_HASH_LITE<CDB_SGATE_NODE*, KAVU_SEQ_MAC_INFO*> KAVU_SEQ_MAC_INFO_MAP;
typedef ZTL_HASH_LITE<CDB_SGATE_NODE*, KAVU_SEQ_LUTRAM_INFO*> KAVU_SEQ_LUTRAM_INFO_MAP;
// Free every record and empty the map ("empty()" when it is not).
void kavu_seq_delete_ram_infos(KAVU_SEQ_RAM_INFO_MAP& infos);
void kavu_seq_delete_mac_infos(KAVU_SEQ_MAC_INFO_MAP& infos);
// The record dumps ("kavu_seq_ram_info.txt", "kavu_seq_mac_info.txt").
void kavu_seq_dump_ram_infos(const KAVU_SEQ_RAM_INFO_MAP& infos, const std::string& file);
void kavu_seq_dump_mac_infos(const KAVU_SEQ_MAC_INFO_MAP& infos, const std::string& file);

// ---------------------------------------------------------------------------
// The timer

class KAVU_SEQ_TIMER {
 public:
  // Reads the timer's keys, then init().
  KAVU_SEQ_TIMER(std::string name, CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, int decomp_fanin,
                 int huge_gate_limit, KAVU_BIG_GATE_SET_INFO* big_gates);
  ~KAVU_SEQ_TIMER();
  // Copies would share the owned records.
  KAVU_SEQ_TIMER(const KAVU_SEQ_TIMER&) = delete;
  KAVU_SEQ_TIMER& operator=(const KAVU_SEQ_TIMER&) = delete;

  // Clears the marks, makes the delay model, indexes the terminals and
  // starts empty clock and block maps.
  void init();
  // Releases everything init and the analysis made; clears the marks.
  void cleanup();
  // Clocks, domains, fixed registers, then the domains' analyses.
  void calculate_best_cycle_time();

  void set_dump_name(std::string name) { m_dump_name = std::move(name); }
  const std::string& get_dump_name() const { return m_dump_name; }
  bool has_changing_arc() const { return m_changing_arc; }
  KAVU_BIG_GATE_SET_INFO* get_big_gates() const { return m_big_gates; }
  void set_big_gates(KAVU_BIG_GATE_SET_INFO* big_gates) { m_big_gates = big_gates; }
  const std::string& get_name() const { return m_name; }
  CDB_SGATE_NETLIST* get_netlist() const { return m_netlist; }
  KAVU_DELAY_MODEL_STIMER* get_delay_model() const { return m_delay_model; }

  // --- terminal index
  static int get_oterm_info_index(const CDB_SGATE_OTERM* oterm) { return oterm->get_aux(); }
  static void set_oterm_info_index(CDB_SGATE_OTERM* oterm, int index) { oterm->set_aux(index); }
  // The terminal's record; null for an unindexed terminal without fan-out,
  // and for a terminal whose aux value points at another terminal's record
  // (made after indexing, or re-marked by another pass).
  KAVU_SEQ_TIMER_OTERM_INFO* get_oterm_info(const CDB_SGATE_OTERM* oterm) const;
  KAVU_SEQ_OTERM_CLK_INFO* get_clock_info(const CDB_SGATE_OTERM* oterm) const;
  int get_num_oterms() const { return m_num_oterms; }
  KAVU_SEQ_TIMER_OTERM_INFO* get_oterm_info_at(int index) const { return m_oterm_infos[size_t(index)]; }
  int get_reg_count() const { return m_reg_count; }

  // --- clocks
  int get_or_create_clock_id(CDB_SGATE_OTERM* source, bool inverted);
  // Takes the record when it is new (created true); else the caller keeps it.
  int get_or_create_clock_id(KAVU_SEQ_CLOCK* clock, bool& created);
  int get_max_clk_id() const { return m_max_clk_id; }
  // The clock of an id, null when there is none.
  const KAVU_SEQ_CLOCK* get_clock(int clock_id) const;
  const std::vector<KAVU_SEQ_TIMER_CLK_DOMAIN*>& get_clock_domains() const { return m_clk_domains; }
  KAVU_SEQ_TIMER_CLK_DOMAIN* get_clock_domain(int clock_id) const;
  void mark_hard_boundary_oterm_with_clock(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM* clock, bool inverted);
  void mark_hard_boundary_oterm_with_clock_id(CDB_SGATE_OTERM* oterm, int clock_id);

  // --- block records (null maps before init)
  KAVU_SEQ_RAM_INFO* find_ram_info(CDB_SGATE_NODE* ram) const;
  KAVU_SEQ_MAC_INFO* find_mac_info(CDB_SGATE_NODE* mac) const;
  KAVU_SEQ_LUTRAM_INFO* find_lutram_info(CDB_SGATE_NODE* lutram) const;
  KAVU_SEQ_RAM_INFO* find_or_create_ram_info(CDB_SGATE_NODE* ram);
  KAVU_SEQ_MAC_INFO* find_or_create_mac_info(CDB_SGATE_NODE* mac);
  KAVU_SEQ_LUTRAM_INFO* find_or_create_lutram_info(CDB_SGATE_NODE* lutram);

  // --- fixed registers (returns the number of marks made)
  int fix_registers_connected_to_IO();
  int fix_registers_connected_to_unknown_domain();
  // The searches of the I/O rule (explicit stacks; visit order as a
  // depth-first recursion would have it).
  void dfs_fanin_recur(CDB_SGATE_OTERM* oterm, ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& visited,
                       std::list<CDB_SGATE_OTERM*>& found);
  void dfs_fanout_recur(CDB_SGATE_OTERM* oterm, ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& visited,
                        std::list<CDB_SGATE_OTERM*>& found);

  // --- clock domains
  void find_clock_domain_oterms();

  // --- reports (file, stream, standard output)
  void print_best_cycle_time(const std::string& file);
  void print_all_clocks(const std::string& file);
  void dump_clock_id_map(std::ostream& os) const;
  void dump_clock_id_map() const;
  void dump_indexed_oterms(const std::string& file) const;
  void dump_indexed_oterms(std::ostream& os) const;
  void dump_indexed_oterms() const;
  void dump_clock_domain_oterms(const std::string& file) const;
  void dump_clock_domain_oterms(std::ostream& os) const;
  void dump_clock_domain_oterms() const;
  void dump_oterm_clock_domain_info(const std::string& file) const;
  void dump_oterm_clock_domain_info(std::ostream& os) const;
  void dump_oterm_clock_domain_info() const;

  // --- answers for the delay expert (filled by the domains' analyses)
  // A RAM or MAC atom output with fan-out, or an indexed register output
  // with at least one clock-info pair.
  bool is_skewed_oterm(CDB_SGATE_OTERM* oterm) const;
  // The skewed arrival of a terminal in exactly one domain (0 for a fixed,
  // unpacked register). Unindexed, unclocked (except atom kind 95, which
  // answers 0) and multi-clock terminals are internal errors.
  int get_oterm_fanin_delay(CDB_SGATE_OTERM* oterm) const;
  // The largest fan-out delay; the domain's fan-out pass runs on the first
  // request when it has not run yet. Unindexed, unclocked and multi-clock
  // terminals are internal errors.
  int get_max_fanout_delay(CDB_SGATE_OTERM* oterm) const;
  // Clock-info pairs (clock id, index in that domain's analysis).
  void set_oterm_clk_info(CDB_SGATE_OTERM* oterm, int index, int clock_id);
  bool oterm_in_one_clk_domain(CDB_SGATE_OTERM* oterm) const;
  bool oterm_in_any_clk_domain(CDB_SGATE_OTERM* oterm) const;
  bool oterm_in_clock_domain(CDB_SGATE_OTERM* oterm, int clock_id) const;
  // The terminal's index in the domain; -1 when it has no pair, or one pair
  // of another domain. A terminal of several domains none of which is the
  // one asked, and an unindexed terminal, are internal errors.
  int get_oterm_index_in_clk_domain(CDB_SGATE_OTERM* oterm, int clock_id) const;
  bool is_oterm_on_seq_loop(CDB_SGATE_OTERM* oterm) const;
  // KAVU_DELAY_MIN without a domain; multi-clock terminals are an error.
  int get_best_cycle_time(CDB_SGATE_OTERM* oterm) const;
  // The analysis of a domain, null when it was not analysed.
  KAVU_SEQ_DELAY_ANALYSIS* get_analysis(int clock_id) const;
  // Prints the clock information of a known terminal; nothing otherwise.
  void dump_oterm_clk_info(CDB_SGATE_OTERM* oterm) const;

  // Clears node bits 0x39000 and terminal bits 0x6000 on the whole netlist.
  void clear_cdb_flags();
  // Sorts the given terminals fan-in first (walk-through MAC off).
  void topological_sort_oterms(const std::vector<CDB_SGATE_OTERM*>& from, std::vector<CDB_SGATE_OTERM*>& out);

 private:
  void init_oterm_info();
  void reset_clock_infos();
  void topological_sort_oterms(std::vector<CDB_SGATE_OTERM*>& out);
  // VISITED: insert(oterm) true when new, exists(oterm).
  template <class VISITED>
  void topological_sort_oterm_recur(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& out, VISITED& visited,
                                    bool walk_through_mac);
  void mark_boundary_clock_domain();
  void forward_propagate();
  void backward_propagate();
  bool hard_boundary_oterm_in_multi_clock_domain(CDB_SGATE_OTERM* oterm);
  void get_relevant_sync_iterm_drivers(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& drivers);
  void get_all_oterms_of_single_clock_domain_design(KAVU_SEQ_TIMER_CLK_DOMAIN& domain);
  void add_clock_domain_for_analysis(KAVU_SEQ_DELAY_ANALYSIS* analysis) { m_seq_clk_analysis.push_back(analysis); }
  KAVU_SEQ_DELAY_ANALYSIS* get_clk_domain_analysis(int clock_id) { return m_seq_clk_analysis[size_t(clock_id)]; }
  // Crossing rules of the propagation.
  bool crosses_forward(CDB_SGATE_NODE* g, CDB_SGATE_OTERM* oterm);
  bool crosses_backward(CDB_SGATE_NODE* g, CDB_SGATE_OTERM* oterm);
  bool is_look_through(CDB_SGATE_NODE* g) const;
  void delete_clock_map();
  void delete_lutram_map();
  void mark_fixed(CDB_SGATE_NODE* g);
  // The clock id when a slot of m_seq_clk_analysis exists for it; else an
  // internal error.
  int checked_clk_domain(int clock_id) const;

  CDB_SGATE_NETLIST* m_netlist;
  CMP_FACADE* m_facade;
  int m_decomp_fanin;
  int m_huge_gate_limit;
  int m_verbose;
  bool m_validation;
  std::string m_dump_name;
  bool m_pack_ram;
  ZTL_HASH_LITE<KAVU_SEQ_CLOCK*, int>* m_clock_map = nullptr;
  int m_max_clk_id = 0;
  std::vector<KAVU_SEQ_TIMER_CLK_DOMAIN*> m_clk_domains;
  std::vector<KAVU_SEQ_DELAY_ANALYSIS*> m_seq_clk_analysis;
  std::vector<KAVU_SEQ_TIMER_OTERM_INFO*> m_oterm_infos;
  std::deque<KAVU_SEQ_TIMER_OTERM_INFO> m_oterm_info_pool;  // the records, in index order
  int m_num_oterms = 0;
  int m_reg_count = 0;
  KAVU_SEQ_RAM_INFO_MAP* m_ram_infos = nullptr;
  KAVU_SEQ_LUTRAM_INFO_MAP* m_lutram_infos = nullptr;
  KAVU_SEQ_MAC_INFO_MAP* m_mac_infos = nullptr;
  bool m_walk_through_mac;
  bool m_fix_ff_d_only;
  KAVU_DELAY_MODEL_STIMER* m_delay_model = nullptr;
  bool m_changing_arc;
  KAVU_BIG_GATE_SET_INFO* m_big_gates;
  std::string m_name;
  // One slot per indexed terminal for KAVU_SEQ_OTERM_POSITIONS (-1 between
  // uses), so that a set-up pass over one domain costs the domain's size.
  friend class KAVU_SEQ_OTERM_POSITIONS;
  std::vector<int> m_position_slots;
  bool m_position_slots_busy = false;
  std::vector<CDB_SGATE_OTERM*> m_driver_scratch;  // the multi-clock test's drivers, kept between registers
};

// One rebuilt wide gate: its output, its support terminals and their depths.
class KAVU_BIG_GATE_INFO {
 public:
  explicit KAVU_BIG_GATE_INFO(CDB_SGATE_OTERM* oterm) : m_oterm(oterm) {}
  CDB_SGATE_OTERM* get_oterm() const { return m_oterm; }
  void set_oterm(CDB_SGATE_OTERM* oterm) { m_oterm = oterm; }
  // Appends a non-null terminal; null is ignored.
  void add_support(CDB_SGATE_OTERM* support) {
    if (support) m_supports.push_back(support);
  }
  // Replaces every occurrence of old_sup by new_sup; returns how many.
  int change_support(CDB_SGATE_OTERM* old_sup, CDB_SGATE_OTERM* new_sup);
  // Inserts every support terminal into the set.
  void hash_support_set(ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& supports) const;
  // "<id> <n> [<id> <port> <depth>, ...]" and a line break.
  void dump(std::ostream& os) const;
  int get_sup_size() const { return int(m_supports.size()); }
  const std::vector<CDB_SGATE_OTERM*>& get_supports() const { return m_supports; }
  // -1 when the terminal has no depth.
  int get_sup_depth(CDB_SGATE_OTERM* support) const;
  // A terminal that already has a depth is an internal error.
  void add_support_depth(CDB_SGATE_OTERM* support, int depth);

 private:
  CDB_SGATE_OTERM* m_oterm;
  std::vector<CDB_SGATE_OTERM*> m_supports;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> m_sup_depth_table;
};

// The set of rebuilt wide gates; owns its records and support sets.
class KAVU_BIG_GATE_SET_INFO {
 public:
  KAVU_BIG_GATE_SET_INFO() = default;
  ~KAVU_BIG_GATE_SET_INFO() { clear(); }
  KAVU_BIG_GATE_SET_INFO(const KAVU_BIG_GATE_SET_INFO&) = delete;
  KAVU_BIG_GATE_SET_INFO& operator=(const KAVU_BIG_GATE_SET_INFO&) = delete;

  KAVU_BIG_GATE_INFO* get_big_gate_info(CDB_SGATE_OTERM* oterm) const;
  void add_big_gate_info(KAVU_BIG_GATE_INFO* info);
  bool is_huge_gate(CDB_SGATE_OTERM* oterm) const;
  KAVU_BIG_GATE_INFO* get_huge_gate_info(CDB_SGATE_OTERM* oterm) const;
  void add_huge_gate_info(KAVU_BIG_GATE_INFO* info);
  bool has_support(CDB_SGATE_OTERM* support) const;
  // The big gates that use a support terminal (null when none).
  const ZTL_HASH_SET_LITE<KAVU_BIG_GATE_INFO*>* get_support_log(CDB_SGATE_OTERM* support) const;
  void log_support(CDB_SGATE_OTERM* support, KAVU_BIG_GATE_INFO* gate);
  // Replaces old_sup by new_sup in every big gate that logs old_sup; each
  // must change exactly once ("changed == 1"). The log stays under old_sup.
  void support_change(CDB_SGATE_OTERM* old_sup, CDB_SGATE_OTERM* new_sup);
  // Files the huge gate of old_oterm under new_oterm.
  void update_huge_gate_info(CDB_SGATE_OTERM* old_oterm, CDB_SGATE_OTERM* new_oterm);
  int get_num_big_gates() const { return int(m_gates.size()); }
  int get_num_huge_gates() const { return int(m_huge_gates.size()); }
  // A new id must not be entered twice.
  void add_stage1_id(int new_id, int old_id);
  void add_stage2_id(int new_id, int old_id);
  int get_pre_decomp_id(int id) const;
  // Frees the records and support sets; the id tables stay.
  void clear();
  // The huge gates, then the big gates, with their pre-decomposition ids.
  void print_big_gates(const std::string& file) const;
  void print_big_gates(std::ostream& os) const;

 private:
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, ZTL_HASH_SET_LITE<KAVU_BIG_GATE_INFO*>*> m_support_log;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, KAVU_BIG_GATE_INFO*> m_gates;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, KAVU_BIG_GATE_INFO*> m_huge_gates;
  ZTL_HASH_LITE<int, int> m_id_table_stage2;
  ZTL_HASH_LITE<int, int> m_id_table_stage1;
};

// The depth of each support terminal below a big gate: walks the plain comb
// gates under oterm (explicitly, depth at most 1000) and records, for each
// source found in supports, its depth (the gate's depth plus one).
void kavu_seq_find_support_depth(CDB_SGATE_OTERM* oterm, int depth,
                                 const ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& supports,
                                 ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>& result);
