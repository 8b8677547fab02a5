// kavu_seq_timer.h — the sequential timer's records that delay estimation
// reads: the timer's per-terminal answers for the delay expert, the
// per-clock-domain analysis record the sequential delay models take as
// context, the three lookups those models use, and the big-gate records that
// decomposition for delay fills.
//
// Model: the timer knows skewed register outputs (their skewed arrival and
//   their largest fan-out delay in their clock domain); an analysis knows
//   which output terminals belong to its clock domain, which of them carry an
//   index, and per index an arrival and a largest fan-out delay.
// The records hold what delay estimation needs; the timer's cycle-time
// search fills them.
#pragma once

#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_delay.h"
#include "ztl_hash_lite_sys.h"
#include "ztl_hash_set_lite_sys.h"

// Arrival and largest fan-out delay of one indexed terminal of a domain.
struct KAVU_SEQ_DELAY_OTERM_INFO {
  int m_arrival = KAVU_DELAY_MIN;
  int m_max_fanout_delay = KAVU_DELAY_MIN;
};

// The analysis of one clock domain.
class KAVU_SEQ_DELAY_ANALYSIS {
 public:
  KAVU_SEQ_DELAY_ANALYSIS() = default;
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

 private:
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> m_oterm_index;  // -1: in the domain, no index
  std::vector<KAVU_SEQ_DELAY_OTERM_INFO> m_oterm_info;
  int m_oterm_size = 0;
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

// The retiming-aware timer, as the delay expert sees it: skewed register
// outputs with their arrival and largest fan-out delay.
class KAVU_SEQ_TIMER {
 public:
  KAVU_SEQ_TIMER() = default;
  virtual ~KAVU_SEQ_TIMER() = default;
  KAVU_SEQ_TIMER(const KAVU_SEQ_TIMER&) = delete;
  KAVU_SEQ_TIMER& operator=(const KAVU_SEQ_TIMER&) = delete;

  // Records a skewed register output.
  void set_skewed_oterm(CDB_SGATE_OTERM* oterm, int arrival, int max_fanout_delay);
  bool is_skewed_oterm(CDB_SGATE_OTERM* oterm) const;
  // The skewed arrival; KAVU_DELAY_MIN for a terminal that is not skewed.
  int get_oterm_fanin_delay(CDB_SGATE_OTERM* oterm) const;
  // The largest fan-out delay; KAVU_DELAY_MIN for a terminal that is not skewed.
  int get_max_fanout_delay(CDB_SGATE_OTERM* oterm) const;
  // Prints the clock information of a known terminal; nothing otherwise.
  void dump_oterm_clk_info(CDB_SGATE_OTERM* oterm) const;

 private:
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, KAVU_SEQ_DELAY_OTERM_INFO> m_skewed;
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
  // A new id must not be entered twice.
  void add_stage1_id(int new_id, int old_id);
  void add_stage2_id(int new_id, int old_id);
  int get_pre_decomp_id(int id) const;
  // Frees the records and support sets; the id tables stay.
  void clear();

 private:
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, ZTL_HASH_SET_LITE<KAVU_BIG_GATE_INFO*>*> m_support_log;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, KAVU_BIG_GATE_INFO*> m_gates;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, KAVU_BIG_GATE_INFO*> m_huge_gates;
  ZTL_HASH_LITE<int, int> m_id_table_stage2;
  ZTL_HASH_LITE<int, int> m_id_table_stage1;
};
