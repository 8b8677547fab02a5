// kavu_seq_scc.h — one register loop (a non-trivial strongly connected
// component) of a clock domain's terminal graph, as the sequential timer
// keeps it: its members (a contiguous range of the domain's sorted
// terminals), the terminals around it, the terminals of a positive loop once
// one is recorded, and the component's text reports.
//
// Members are sorted[start_index .. end_index) of the owning analysis's
// sorted terminal list; the constructor checks that each is present and
// carries the component's id in the component map. Input terminals feed a
// member from outside, output terminals are fed by a member from outside,
// exit terminals are the members that feed an output terminal; a driver
// outside the clock domain is an input terminal too (its arrival is 0).
// Fit test (kavu_seq_scc_fit.cpp): whether every loop's delay is at most its
// registers times the cycle time, by longest-path relaxation (forward
// arrivals or backward fan-out delays) and a positive-loop trace; a loop
// nothing feeds is anchored at its first register. The iteration trace file
// is written only under kavu_seq_scc_dump_iteration.
// Reports: dump (header, members, boundary lists), dump_longest_path (the
// longest predecessor chain after a fit test), print_positive_loop.
// Cost: reports O(members + predecessor entries); a fit test at most
// size + 1 rounds of O(member arcs).
#pragma once

#include <iosfwd>
#include <list>
#include <map>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_seq_timer.h"
#include "ztl_hash_lite_sys.h"
#include "ztl_hash_set_lite_sys.h"

class KAVU_DELAY_MODEL_SCC;
class KAVU_DELAY_MODEL_SCC_ARR;
typedef ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> KAVU_SEQ_OTERM_TABLE;

// One entry of a fit test's predecessor map: the terminal the longest path
// came from (none allowed), the arc delay, and whether the arc was the
// minimal one of a decomposed gate.
struct KAVU_SCC_PRED_INFO {
  CDB_SGATE_OTERM* m_pred = nullptr;
  int m_arc_delay = 0;
  bool m_minimal = false;
};
typedef ZTL_HASH_LITE<CDB_SGATE_OTERM*, KAVU_SCC_PRED_INFO> KAVU_SCC_PRED_MAP;

class KAVU_SCC {
 public:
  typedef std::map<CDB_SGATE_OTERM*, int> SCC_MAP;

  // Stores the arguments; every member must be present ("oterm != NULL")
  // and carry `id` in the component map ("scc_map[oterm] == id").
  KAVU_SCC(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_DELAY_MODEL_SCC* fanout_model, KAVU_DELAY_MODEL_SCC_ARR* arrival_model,
           CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* sorted, int start_index, int end_index,
           SCC_MAP* scc_map, int id, int verbose, bool recalculate_comb_gate_delay);
  KAVU_SCC(const KAVU_SCC&) = delete;
  KAVU_SCC& operator=(const KAVU_SCC&) = delete;

  int get_id() const { return m_id; }
  int get_size() const { return m_size; }
  int get_start_index() const { return m_start_index; }
  int get_end_index() const { return m_end_index; }
  CDB_SGATE_OTERM* get_member(int k) const { return (*m_sorted)[size_t(m_start_index + k)]; }
  std::list<CDB_SGATE_OTERM*>& get_input_oterms() { return m_input_oterms; }
  std::list<CDB_SGATE_OTERM*>& get_output_oterms() { return m_output_oterms; }
  std::list<CDB_SGATE_OTERM*>& get_exit_oterms() { return m_exit_oterms; }
  // What the fit test works with.
  CDB_SGATE_NETLIST* get_netlist() const { return m_netlist; }
  // The component map; an analysis's map holds every terminal of the domain
  // once asked for here.
  SCC_MAP* get_scc_map() const;
  KAVU_SEQ_DELAY_ANALYSIS* get_analysis() const { return m_analysis; }
  KAVU_DELAY_MODEL_SCC_ARR* get_arrival_model() const { return m_arrival_model; }
  KAVU_DELAY_MODEL_SCC* get_fanout_model() const { return m_fanout_model; }
  int get_verbose() const { return m_verbose; }
  bool recalculates_comb_gate_delay() const { return m_recalculate_comb_gate_delay; }
  bool dumps_longest_path() const { return m_dump_longest_path; }

  // The component's report.
  void dump(std::ostream& os) const;
  // The longest predecessor chain among the members, with its terminals.
  void dump_longest_path(std::ostream& os, const KAVU_SCC_PRED_MAP& pred) const;
  // Sum of the arc delays along the terminal's predecessor chain (0 without
  // an entry).
  int get_path_length(CDB_SGATE_OTERM* oterm, const KAVU_SCC_PRED_MAP& pred) const;
  // "START POS LOOP n", one line per recorded terminal, "END POS LOOP".
  void print_positive_loop(std::ostream& os) const;
  // Empties the set, then inserts every member ("!result.exists(oterm)").
  void collect_member_oterms(ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& result) const;
  // Appends the recorded loop terminals that are big gates of the set.
  void collect_big_gates_on_positive_loop(std::vector<CDB_SGATE_OTERM*>& result,
                                          const KAVU_BIG_GATE_SET_INFO* big_gates) const;

  // --- the fit test (kavu_seq_scc_fit.cpp)
  // The in-domain terminals outside the component that feed a member, and
  // those a member feeds (with the exit members); each once, in member order.
  void find_input_oterms();
  void find_output_oterms();
  // Whether every loop of the component has a delay of at most its register
  // count times T: longest-path relaxation seeded from the input table (or
  // 0, or the anchor register), at most size + 1 rounds, a positive-loop
  // check after each changing round. Backward relaxes fan-out delays from
  // the output terminals instead. `result` holds the starting values and
  // receives the final ones.
  bool cycle_time_fit(int cycle_time, KAVU_SEQ_OTERM_TABLE* input, KAVU_SEQ_OTERM_TABLE* result, bool backward);
  // Boundary values between the analysis and a component's tables.
  void read_input_arrival_times(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table);
  void write_exit_arrival_times(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table);
  void write_member_delays(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table, bool fanout);
  void read_output_fanout_delays(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table);
  void write_fanout_delays(KAVU_SEQ_DELAY_ANALYSIS* analysis, KAVU_SEQ_OTERM_TABLE& table);
  // The first member register in index order (cached); null without one.
  CDB_SGATE_OTERM* find_anchor_oterm();
  int get_last_cycle_time() const { return m_last_cycle_time; }
  // The stream the next fit tests write their longest path to (null: none).
  void set_longest_path_stream(std::ostream* os) { m_longest_path_stream = os; }
  // The starting value of the anchor register of a loop nothing feeds: -6000
  // cycle times, computed in 64 bits and kept at a quarter of
  // KAVU_DELAY_MIN, so that the cycle times later subtracted from it stay
  // above KAVU_DELAY_MIN for every cycle time the search tries.
  static int anchor_value(int cycle_time);
  // Whether the terminal is one of the members.
  bool is_member(CDB_SGATE_OTERM* oterm) const;

  bool m_record_positive_loop = false;
  std::vector<CDB_SGATE_OTERM*> m_positive_loop_oterms;

 private:
  static void dump_oterm_list(std::ostream& os, const std::list<CDB_SGATE_OTERM*>& list);
  // One test's working state: a state per member (by offset), the states of
  // the boundary terminals, the predecessor map.
  int member_offset(CDB_SGATE_OTERM* oterm) const;
  int get_state(CDB_SGATE_OTERM* oterm) const;
  void set_state(CDB_SGATE_OTERM* oterm, int state);
  bool relax_arrival_time(CDB_SGATE_OTERM* oterm, KAVU_SEQ_OTERM_TABLE* result, int cycle_time);
  bool relax_fanout_delay(CDB_SGATE_OTERM* oterm, KAVU_SEQ_OTERM_TABLE* result, int cycle_time);
  bool has_positive_loop();
  bool trace_positive_loop(CDB_SGATE_OTERM* start, int id);
  // The forward test over flat arrays (kavu_seq_scc_fit.cpp); see there.
  bool build_flat_fanin();
  bool flat_rule_of_member(int k, const ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>& seed_local);
  void add_flat_arc(CDB_SGATE_OTERM* source, int delay, const ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>& seed_local);
  bool flat_cycle_time_fit(int cycle_time, KAVU_SEQ_OTERM_TABLE* input, KAVU_SEQ_OTERM_TABLE* result);
  bool flat_relax_arrival(int k, int cycle_time);
  bool flat_has_positive_loop();
  bool flat_trace_positive_loop(int start, int id);

  CDB_SGATE_NETLIST* m_netlist;
  std::vector<CDB_SGATE_OTERM*>* m_sorted;
  int m_start_index;
  int m_end_index;
  SCC_MAP* m_scc_map;
  int m_id;
  int m_size = -1;
  KAVU_DELAY_MODEL_SCC_ARR* m_arrival_model;
  KAVU_DELAY_MODEL_SCC* m_fanout_model;
  KAVU_SEQ_DELAY_ANALYSIS* m_analysis;
  int m_verbose;
  bool m_recalculate_comb_gate_delay;
  std::list<CDB_SGATE_OTERM*> m_input_oterms;
  std::list<CDB_SGATE_OTERM*> m_output_oterms;
  std::list<CDB_SGATE_OTERM*> m_exit_oterms;
  bool m_dump_longest_path;
  CDB_SGATE_OTERM* m_anchor_oterm = nullptr;
  bool m_anchor_searched = false;
  int m_last_cycle_time = 0;
  std::ostream* m_longest_path_stream = nullptr;
  std::vector<int> m_member_state;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> m_boundary_state;
  KAVU_SCC_PRED_MAP m_pred;

  // The forward fit test as index arrays, built once per component by the
  // first test that needs them. Local index k < size is member k; size + j
  // is the j-th input terminal. A member's fan-in arcs come from the local
  // indices of the sources that can hold a value (members and inputs); a
  // register's arcs cost minus the cycle time, every other arc its fixed
  // delay. Components with a member whose rule has no fixed arcs (a wide
  // decomposed gate, atoms, carry cells) keep the general test.
  enum FLAT_STATE { FLAT_UNBUILT, FLAT_READY, FLAT_GENERAL };
  enum FLAT_RULE : unsigned char { FLAT_NO_SOURCE, FLAT_REGISTER, FLAT_FIXED_ARCS };
  struct FLAT_ARC {
    int m_from;
    int m_delay;
  };
  FLAT_STATE m_flat_state = FLAT_UNBUILT;
  std::vector<CDB_SGATE_OTERM*> m_local_oterm;  // members, then inputs
  std::vector<FLAT_RULE> m_flat_rule;           // per member
  std::vector<int> m_fanin_begin;               // per member, + 1
  std::vector<FLAT_ARC> m_fanin_arc;
  std::vector<int> m_fanout_begin;              // per local index, + 1
  std::vector<int> m_fanout_member;             // members a local index feeds
  std::vector<int> m_value;                     // per local index
  std::vector<int> m_pred_local;                // per member, -1: none
  std::vector<int> m_pred_arc;                  // per member
  std::vector<int> m_trace_length;              // per member
  std::vector<int> m_trace_history;             // members of one trace
  std::vector<int> m_queue;                     // local indices
};

// Writes the predecessor map to standard output, one line per entry.
void kavu_seq_print_pred_map(const KAVU_SCC_PRED_MAP& pred);
