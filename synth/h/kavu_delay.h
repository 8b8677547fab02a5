// kavu_delay.h — delay estimation: arc-delay models, the multiplexer delay
// table, the delay expert, loop cuts, decomposition of wide gates for delay,
// slack ranking and critical paths.
//
// Model: a delay is a signed 32-bit number of abstract units; KAVU_DELAY_MIN
//   marks "not valid". An arc (input terminal -> output terminal of one gate)
//   costs what the model says; the expert's fan-in delay of an output
//   terminal is the longest arc sum from a hard boundary (a gate the model
//   does not look through) to it, its fan-out delay the longest sum from it
//   to a hard boundary. Wide comb gates are costed as trees of gates of at
//   most the expert's max gate size (a k-ary Huffman merge by arrival).
// Storage: the expert keeps delays through caller callbacks and marks them
//   valid with caller-chosen bits of each output terminal's flag word; the
//   defaults use the terminal's two delay fields and bits 16, 32, 64, 128.
// Loops: an analysis is bracketed by prepare_netlist_for_delay_analysis and
//   clean_up_after_delay_analysis (reference-counted), which insert and remove
//   flagged cut buffers on every back edge of a depth-first walk.
// Loop-critical sets (key kavu_make_loops_critical) are kept per netlist, so
//   two analyses of different netlists do not overwrite each other's sets.
// Walks use explicit stacks: a chain of any length neither overflows the
//   stack nor is cut short; the budget argument of the walks only refuses
//   (result 0, nothing stored) when it is below 1.
// Cost: compute_all_delays O(N + E) plus O(n log n) per comb gate of n inputs
//   on the fan-in side and O(n^2 log n) on the fan-out side (n below the
//   huge-gate size); each arc O(1) (plus O(log) for loop-critical lookups and
//   O(degree) for neighbour penalties when those are on).
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "gen/gen_dyn_flag.h"

class KAVU_SEQ_TIMER;
class KAVU_BIG_GATE_SET_INFO;
class KAVU_DELAY_MODEL_KZR;
template <class A, class B, class C>
class KAVU_DELAY_MODEL_SEQ;
class KAVU_DELAY_MODEL_SEQ_BASE;

// Marks a delay that is not valid or not computed.
constexpr int KAVU_DELAY_MIN = -1000000000;

// ---------------------------------------------------------------------------
// Default delay storage: the two delay fields of an output terminal.
int kavu_get_fanin_delay(CDB_SGATE_OTERM* oterm);   // 0 for null
int kavu_get_fanout_delay(CDB_SGATE_OTERM* oterm);  // 0 for null
void kavu_set_fanin_delay(CDB_SGATE_OTERM* oterm, const int& delay);
void kavu_set_fanout_delay(CDB_SGATE_OTERM* oterm, const int& delay);

typedef int (*KAVU_DELAY_GETTER)(CDB_SGATE_OTERM*);
typedef void (*KAVU_DELAY_SETTER)(CDB_SGATE_OTERM*, const int&);

// A WYSIWYG atom that is a logic-cell comb (atom types 61 and 93).
bool kavu_is_lcell_comb(CDB_SGATE_NODE* node);

// ---------------------------------------------------------------------------
// Per-arc delays of wide n-to-1 multiplexer operators, filled by whoever
// synthesises them. Owns its inner maps; a one-entry cache speeds up runs of
// queries on one multiplexer and is reset by clear().
class KAVU_MUX_DELAY_INFO {
 public:
  KAVU_MUX_DELAY_INFO() = default;
  ~KAVU_MUX_DELAY_INFO() { clear(); }
  KAVU_MUX_DELAY_INFO(const KAVU_MUX_DELAY_INFO&) = delete;
  KAVU_MUX_DELAY_INFO& operator=(const KAVU_MUX_DELAY_INFO&) = delete;

  // Stores the delay, replacing an earlier one for the pair.
  void insert_iterm_oterm_delay(CDB_SGATE_NODE* mux, CDB_SGATE_ITERM* iterm, int delay);
  // The stored delay; an unknown gate or terminal is an internal error.
  int get_iterm_oterm_delay(CDB_SGATE_NODE* mux, CDB_SGATE_ITERM* iterm);
  void clear();
  // The listing at debug level 2; a connected bit without an entry prints "-".
  void dump() const;
  size_t size() const { return m_table.size(); }

 private:
  typedef std::map<CDB_SGATE_ITERM*, int> ITERM_DELAY_MAP;
  ITERM_DELAY_MAP* lookup(CDB_SGATE_NODE* mux);
  std::map<CDB_SGATE_NODE*, ITERM_DELAY_MAP*> m_table;
  CDB_SGATE_NODE* m_cached_node = nullptr;
  ITERM_DELAY_MAP* m_cached_map = nullptr;
};

// Parses "KZR_MUX_%d_width_%d_slack_%d_fi_del_%d_fo_del_%d_". All outputs
// start at -1. True only when the whole format matches with numbers in range
// (id, width >= 1; slack and delays >= 0; each fits in an int); a name that
// begins with "KZR_MUX" but does not match returns false.
bool kavu_parse_kzr_mux_name(const char* name, int* mux_id, int* width, int* slack, int* fanin_delay,
                             int* fanout_delay);

// ---------------------------------------------------------------------------
// The interface the delay expert asks arc delays through.
class KAVU_DELAY_MODEL_FOR_EXPERT {
 public:
  virtual ~KAVU_DELAY_MODEL_FOR_EXPERT() = default;
  virtual bool is_seq_model() = 0;
  virtual int get_delay(const CDB_SGATE_TYPE& kind) = 0;
  virtual int get_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) = 0;
  virtual void dump() const = 0;
  virtual bool look_through_buffers() const { return false; }
  virtual bool look_through_carry_buffers() const { return false; }
  virtual bool look_through_carry_of_carry_sums() const { return false; }
  virtual bool look_through_wys_lcells() const { return false; }
  virtual bool look_through_wys_combs() const { return false; }
  virtual bool look_through_wys_comb_arith() const { return false; }
  virtual bool look_through_operators() const { return false; }
  virtual bool look_through_mux_ops() const { return false; }
  virtual bool special_mux_op_delays() const { return false; }
  virtual bool look_through_sgate(CDB_SGATE_NODE* node) const = 0;
  virtual bool oterm_is_hard_boundary(CDB_SGATE_OTERM* oterm) const = 0;
  virtual bool iterm_is_hard_boundary(CDB_SGATE_ITERM* iterm) const = 0;
  virtual bool is_kzr_delay_model() const { return false; }
  virtual KAVU_DELAY_MODEL_KZR* cast_to_kzr_delay_model() = 0;
  virtual void apply_multiplication_if_necessary() = 0;
};

// The default arc model: per-kind unit delays set by keys, look-through and
// hard-boundary rules, operator delays, special n-to-1 mux delays, neighbour
// penalties and loop-critical arcs; in detailed mode the per-arc tables of
// kavu_delay_util.h. Construction reads the configuration (see the .cpp).
class KAVU_DELAY_MODEL_KZR : public KAVU_DELAY_MODEL_FOR_EXPERT {
 public:
  // The LUT size of the device must be 4 or 6 (internal error otherwise).
  KAVU_DELAY_MODEL_KZR(KAVU_DELAY_GETTER const& fanin_getter, bool detailed, bool zero_carry_in);
  // Copies delays, switches (the small-mux and four-input-LUT flags
  // included), modes and the getter; the copy's mux table starts empty.
  KAVU_DELAY_MODEL_KZR(const KAVU_DELAY_MODEL_KZR& other);
  KAVU_DELAY_MODEL_KZR& operator=(const KAVU_DELAY_MODEL_KZR&) = delete;
  ~KAVU_DELAY_MODEL_KZR() override;

  bool is_seq_model() override { return false; }
  int get_delay(const CDB_SGATE_TYPE& kind) override;
  int get_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) override;
  void dump() const override;
  bool look_through_buffers() const override { return m_look_through_buffers; }
  bool look_through_carry_buffers() const override { return m_look_through_carry_buffers; }
  bool look_through_carry_of_carry_sums() const override { return m_look_through_carry_of_carry_sums; }
  bool look_through_wys_lcells() const override { return m_look_through_wys_lcells; }
  bool look_through_wys_combs() const override { return m_look_through_wys_combs; }
  bool look_through_wys_comb_arith() const override { return m_look_through_wys_comb_arith; }
  bool look_through_operators() const override { return m_look_through_operators; }
  bool special_mux_op_delays() const override { return m_use_special_mux_op_delays; }
  bool look_through_sgate(CDB_SGATE_NODE* node) const override;
  bool oterm_is_hard_boundary(CDB_SGATE_OTERM* oterm) const override;
  bool iterm_is_hard_boundary(CDB_SGATE_ITERM* iterm) const override;
  bool is_kzr_delay_model() const override { return true; }
  KAVU_DELAY_MODEL_KZR* cast_to_kzr_delay_model() override { return this; }
  void apply_multiplication_if_necessary() override;
  void undo_multiplication_if_necessary();

  void set_look_through_buffers(bool on) { m_look_through_buffers = on; }
  void set_look_through_carry_buffers(bool on) { m_look_through_carry_buffers = on; }
  void set_look_through_carry_of_carry_sums(bool on) { m_look_through_carry_of_carry_sums = on; }
  void set_look_through_wys_lcells(bool on) { m_look_through_wys_lcells = on; }
  void set_look_through_wys_combs(bool on) { m_look_through_wys_combs = on; }
  void set_look_through_wys_comb_arith(bool on) { m_look_through_wys_comb_arith = on; }
  void set_look_through_operators(bool on) { m_look_through_operators = on; }
  void set_use_special_mux_op_delays(bool on) { m_use_special_mux_op_delays = on; }
  void set_look_through_soft_lcell_buffers(bool on) { m_look_through_soft_lcell_buffers = on; }
  // Switching on scales the eleven delays by 10 once; off undoes it.
  void set_use_neighbors_penalty(bool on);
  bool use_neighbors_penalty() const { return m_use_neighbors_penalty; }
  bool compute_small_mux_delays_directly() const { return m_compute_small_mux_delays_directly; }
  bool is_detailed() const { return m_detailed; }
  bool is_four_input_lut_device() const { return m_four_input_lut; }
  bool zero_carry_in() const { return m_zero_carry_in; }

  void set_mux_iterm_delay_info(CDB_SGATE_NODE* mux, CDB_SGATE_ITERM* iterm, int delay) {
    m_mux_delay_info->insert_iterm_oterm_delay(mux, iterm, delay);
  }
  void dump_mux_delay_info() const { m_mux_delay_info->dump(); }
  void clear_mux_delay_info() { m_mux_delay_info->clear(); }

  int get_wys_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm);
  int get_oper_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm);
  int get_special_mux_op_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm);
  int compute_fanin_penalty(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm) const;
  int compute_fanout_penalty(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm) const;
  static bool gate_goes_in_lab(CDB_SGATE_NODE* node);
  bool look_through_wysiwyg(CDB_SGATE_NODE* node) const;
  bool look_through_this_operator(CDB_SGATE_NODE* node) const;

  // The unit delays (read by reports and tests).
  int get_comb_delay() const { return m_delays[D_COMB]; }
  int get_lut_delay() const { return m_delays[D_LUT]; }
  int get_mux_delay() const { return m_delays[D_MUX]; }
  int get_buf_delay() const { return m_delays[D_BUF]; }
  int get_lcell_carry_in_delay() const { return m_delays[D_CARRY_IN]; }
  int get_lcell_casc_in_delay() const { return m_delays[D_CASC_IN]; }
  int get_lcell_data_in_delay() const { return m_delays[D_DATA_IN]; }
  int get_lcell_control_in_delay() const { return m_delays[D_CONTROL_IN]; }
  int get_lcell_reg_casc_in_delay() const { return m_delays[D_REG_CASC_IN]; }
  int get_lcell_reg_out_delay() const { return m_delays[D_REG_OUT]; }
  int get_lcell_reg_to_comb_out_delay() const { return m_delays[D_REG_TO_COMB_OUT]; }

 protected:
  KAVU_DELAY_GETTER m_fanin_getter;

 private:
  enum DELAY_INDEX {
    D_COMB, D_LUT, D_MUX, D_BUF, D_CARRY_IN, D_CASC_IN, D_DATA_IN, D_CONTROL_IN, D_REG_CASC_IN, D_REG_OUT,
    D_REG_TO_COMB_OUT, NUM_DELAYS
  };
  int penalty(int k) const { return (m_delays[D_LUT] * k + 4) / 10; }

  int m_delays[NUM_DELAYS];
  bool m_look_through_buffers = true;
  bool m_look_through_carry_buffers = false;
  bool m_look_through_carry_of_carry_sums = false;
  bool m_look_through_wys_lcells = false;
  bool m_look_through_wys_combs = false;
  bool m_look_through_wys_comb_arith = false;
  bool m_look_through_operators = false;
  bool m_use_special_mux_op_delays = false;
  bool m_look_through_soft_lcell_buffers = false;
  bool m_dont_look_through_soft_lcell_buffers = false;
  bool m_use_neighbors_penalty = false;
  bool m_multiplication_applied = false;
  bool m_compute_small_mux_delays_directly = false;
  bool m_detailed = false;
  bool m_four_input_lut = false;
  bool m_zero_carry_in = false;
  KAVU_MUX_DELAY_INFO* m_mux_delay_info;
};

// Loop-critical sets of a netlist: emptied, then with the key
// kavu_make_loops_critical filled with the loop terminals
// (kavu_find_all_loop_terms). Kept per netlist.
void kavu_rebuild_loop_sets(CDB_SGATE_NETLIST* netlist);
// Drops a netlist's loop-critical sets (the expert calls it when destroyed).
void kavu_forget_loop_sets(CDB_SGATE_NETLIST* netlist);
// d for an arc on a loop of the node's netlist, else 0 (see the .cpp).
int kavu_loop_arc_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm, int d);

// ---------------------------------------------------------------------------
// One feeder of an output terminal in the stand-alone feeder model.
class KAVU_OTERM_DELAY_INFO {
 public:
  KAVU_OTERM_DELAY_INFO(int delta, bool is_cut, bool has_lut) : m_delta(delta), m_bits(is_cut ? 1 : 0) {
    (void)has_lut;  // the has-LUT bit starts cleared
  }
  KAVU_OTERM_DELAY_INFO(const KAVU_OTERM_DELAY_INFO&) = default;
  KAVU_OTERM_DELAY_INFO& operator=(const KAVU_OTERM_DELAY_INFO&) = default;
  KAVU_OTERM_DELAY_INFO(KAVU_OTERM_DELAY_INFO&&) = default;
  KAVU_OTERM_DELAY_INFO& operator=(KAVU_OTERM_DELAY_INFO&&) = default;
  int get_delta() const { return m_delta; }
  operator int&() { return m_delta; }
  bool is_cut() const { return (m_bits & 1) != 0; }
  bool has_lut() const { return (m_bits & 2) != 0; }

 private:
  void set_is_cut(bool b) { m_bits = uint8_t(b ? (m_bits | 1) : (m_bits & ~1)); }
  void set_has_lut(bool b) { m_bits = uint8_t(b ? (m_bits | 2) : (m_bits & ~2)); }
  int m_delta;
  uint8_t m_bits;
};

// The older stand-alone feeder model: thirty settings and the feeders of an
// output terminal with their deltas. No caller inside the library.
class KAVU_DELAY_MODEL {
 public:
  static constexpr int NUM_SETTINGS = 30;
  KAVU_DELAY_MODEL();
  KAVU_DELAY_MODEL(const KAVU_DELAY_MODEL&) = default;
  KAVU_DELAY_MODEL(KAVU_DELAY_MODEL&&) = default;
  KAVU_DELAY_MODEL& operator=(const KAVU_DELAY_MODEL&) = default;
  KAVU_DELAY_MODEL& operator=(KAVU_DELAY_MODEL&&) = default;
  virtual ~KAVU_DELAY_MODEL() = default;

  void get_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                         std::vector<KAVU_OTERM_DELAY_INFO>* infos, bool flag);
  void fill_in_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                             std::vector<KAVU_OTERM_DELAY_INFO>* infos, int delta, bool is_cut, bool flag);
  int wire_delay(CDB_SGATE_OTERM* oterm) const;
  int get_amortized_lut_delta() const { return m_settings[9]; }
  int get_setting(int i) const { return m_settings[i]; }
  void set_setting(int i, int v) { m_settings[i] = v; }

 protected:
  virtual void get_combinatorial_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                                               std::vector<KAVU_OTERM_DELAY_INFO>* infos);

 private:
  void wys_lcell_comb_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                                    std::vector<KAVU_OTERM_DELAY_INFO>* infos, bool flag);
  int m_settings[NUM_SETTINGS];
};

// ---------------------------------------------------------------------------
// A literal of a sum of products: output terminal and inversion.
typedef std::pair<CDB_SGATE_OTERM*, bool> SGATE_OTERM_INV_PAIR;

// The value of cfg_is_on("kavu_track_large_gates", false), read once.
bool kavu_is_tracking_large_gates();

// Fan-in and fan-out delays of every output terminal, memoised. See the file
// comment and the .cpp files kavu_delay_expert, kavu_delay_loop and
// kavu_delay_critical.
class KAVU_DELAY_EXPERT {
 public:
  typedef std::map<CDB_SGATE_OTERM*, std::vector<CDB_SGATE_OTERM*>> OTERM_VECTOR_MAP;

  // Owns `model`. A max gate size below 2 is an internal error. A sequential
  // model must take no contexts (KAVU_DELAY_MODEL_SIMPLE): the expert has no
  // analysis or table to hand to the timer's models (internal error).
  KAVU_DELAY_EXPERT(KAVU_DELAY_SETTER const& set_fanin, KAVU_DELAY_SETTER const& set_fanout,
                    KAVU_DELAY_GETTER const& get_fanin, KAVU_DELAY_GETTER const& get_fanout,
                    const unsigned& fanin_visited, const unsigned& fanout_visited,
                    const unsigned& fanin_visiting, const unsigned& fanout_visiting,
                    KAVU_DELAY_MODEL_FOR_EXPERT* model, int max_gate_size);
  ~KAVU_DELAY_EXPERT();
  KAVU_DELAY_EXPERT(const KAVU_DELAY_EXPERT&) = delete;
  KAVU_DELAY_EXPERT& operator=(const KAVU_DELAY_EXPERT&) = delete;

  KAVU_DELAY_MODEL_FOR_EXPERT* get_delay_model() const { return m_delay_model; }
  CDB_SGATE_NETLIST* get_netlist() const { return m_netlist; }
  void set_netlist(CDB_SGATE_NETLIST* netlist);
  int get_max_gate_size() const { return m_max_gate_size; }
  int get_huge_gate_size() const { return m_huge_gate_size; }
  const GEN_DYN_FLAG& loopcut_flag() const { return m_loopcut_flag; }
  KAVU_DELAY_SETTER get_fanin_setter() const { return m_set_fanin; }
  KAVU_DELAY_SETTER get_fanout_setter() const { return m_set_fanout; }
  unsigned get_fanin_visited_flag() const { return m_fanin_visited_flag; }
  unsigned get_fanout_visited_flag() const { return m_fanout_visited_flag; }

  // --- walks (results are never KAVU_DELAY_MIN)
  int compute_fanin_delay(CDB_SGATE_OTERM* oterm, int budget);
  int compute_fanout_delay(CDB_SGATE_OTERM* oterm, int budget);
  int compute_fanin_delay(CDB_SGATE_ITERM* iterm, int budget);
  int compute_fanout_delay(CDB_SGATE_ITERM* iterm, int budget);
  void force_valid_fanin_delay(CDB_SGATE_OTERM* oterm, int delay);
  void force_valid_fanout_delay(CDB_SGATE_OTERM* oterm, int delay);
  // Largest fi + fo over every output terminal (KAVU_DELAY_MIN without
  // gates). The second flag has no effect.
  int compute_all_delays(bool invalidate, bool unused = false);
  void recompute_fanin_delays(CDB_SGATE_NODE* node);
  void recompute_fanout_delays(CDB_SGATE_NODE* node);
  void invalidate_delays(CDB_SGATE_NODE* node);
  void invalidate_all_delays();
  void change_max_gate_size(unsigned size);

  // --- modes
  void set_use_mapped_delays(GEN_DYN_FLAG& mapped_flag, OTERM_VECTOR_MAP* fanin_map,
                             OTERM_VECTOR_MAP* fanout_map);
  void reset_use_mapped_delays();
  void set_use_annotated_pin_delays(std::map<CDB_SGATE_OTERM*, int>* inputs,
                                    std::map<CDB_SGATE_OTERM*, int>* outputs);
  void reset_use_annotated_pin_delays();
  // Takes ownership; a previous set is freed.
  void set_oterm_dont_care_set(std::set<CDB_SGATE_OTERM*>* dont_care);

  // --- decomposed-gate delays
  int compute_fanin_delay_for_vector(std::vector<int>& delays, int gate_delay);
  int get_iterm_oterm_delay_for_vector(std::vector<int>& delays, unsigned index, int gate_delay);

  // --- sequential timer hooks
  void set_seq_timer(KAVU_SEQ_TIMER* timer) {
    m_seq_timer = timer;
    if (timer) m_use_seq_timer = true;
  }
  void rm_seq_timer() {
    m_seq_timer = nullptr;
    m_use_seq_timer = false;
  }
  bool use_seq_timer() const { return m_use_seq_timer; }
  bool set_validation_mode(bool on) {
    bool old = m_validation_mode;
    m_validation_mode = on;
    return old;
  }
  bool is_skewed_oterm(CDB_SGATE_OTERM* oterm) const;
  int get_skewed_arrival_time(CDB_SGATE_OTERM* oterm) const;
  int get_skewed_max_fanout_delay(CDB_SGATE_OTERM* oterm) const;

  // --- loop cuts and decomposition (kavu_delay_loop.cpp)
  void prepare_netlist_for_delay_analysis();
  void clean_up_after_delay_analysis();
  int get_ref_count() const { return m_ref_count; }
  int insert_and_flag_cut_buffers(std::vector<CDB_SGATE_OTERM*>* order);
  CDB_SGATE_NODE* decompose_comb(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb,
                                 KAVU_BIG_GATE_SET_INFO* big_gates);
  void decompose_all_combs(CDB_SGATE_NETLIST* netlist, KAVU_BIG_GATE_SET_INFO* big_gates);
  int compute_fanin_delay(std::vector<std::vector<SGATE_OTERM_INV_PAIR>>* sop, int budget);

  // --- critical paths (kavu_delay_critical.cpp)
  void analyze_critical_graph_from_here(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* start,
                                        const GEN_DYN_FLAG& visited, int threshold,
                                        std::vector<CDB_SGATE_OTERM*>& input_boundaries,
                                        std::vector<CDB_SGATE_ITERM*>& output_boundaries);
  void analyze_critical_paths(CDB_SGATE_NETLIST* netlist, int margin, std::string prefix);

  void clear_internal_flags();

 private:
  struct WALK_FRAME {
    CDB_SGATE_OTERM* m_oterm;
    unsigned m_next;                // next input index (fan-in) or fan-out position
    CDB_SGATE_ITERM* m_next_fanout;  // fan-out walk: next chain link
  };
  struct DECOMP_NODE {
    int m_delay;
    int m_parent;
  };
  struct DECOMP_RECORD {
    CDB_SGATE_OTERM* m_source;
    bool m_inverted;
    int m_arrival;
  };

  bool visited(CDB_SGATE_OTERM* o, unsigned mask) const { return o->get_flag().test(mask); }
  bool is_dont_care(CDB_SGATE_OTERM* o) const;
  bool is_boundary_input_gate(CDB_SGATE_NODE* node) const;
  bool is_boundary_output_gate(CDB_SGATE_NODE* node) const;
  // Fan-in walk pieces.
  bool fanin_child(CDB_SGATE_OTERM* oterm, unsigned& next, CDB_SGATE_OTERM** child);
  int fanin_finish(CDB_SGATE_OTERM* oterm);
  int fanin_by_kind(CDB_SGATE_OTERM* oterm);
  int fanin_simple(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm);
  int fanin_comb(CDB_SGATE_NODE* node);
  int fanin_carry_sum(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm);
  int fanin_choice(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm);
  int hard_boundary_fanin_delay(CDB_SGATE_OTERM* oterm);
  int mapped_fanin_delay(CDB_SGATE_OTERM* oterm);
  void store_fanin(CDB_SGATE_OTERM* oterm, int delay);
  void report_fanin_loop(CDB_SGATE_OTERM* oterm);
  // Fan-out walk pieces.
  void fanout_needed_outputs(CDB_SGATE_ITERM* iterm, std::vector<CDB_SGATE_OTERM*>& outs);
  int fanout_finish(CDB_SGATE_OTERM* oterm, int budget);
  int fanout_from_iterm_eval(CDB_SGATE_ITERM* iterm, int budget);
  int hard_boundary_fanout_delay(CDB_SGATE_OTERM* oterm);
  int hard_boundary_fanout_delay(CDB_SGATE_ITERM* iterm);
  int mapped_fanout_delay(CDB_SGATE_OTERM* oterm, int budget);
  void store_fanout(CDB_SGATE_OTERM* oterm, int delay);
  void report_fanout_loop(CDB_SGATE_OTERM* oterm);
  int comb_iterm_tree_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm);
  int huge_levels(int n) const;
  int choice_bit_index(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm) const;
  void invalidate_oterm(CDB_SGATE_OTERM* oterm);
  // Loop cuts.
  void remove_flagged_cut_buffers();
  CDB_SGATE_COMB* decompose_vector(std::vector<DECOMP_RECORD>& records, int gate_delay, CDB_SGATE_COMB* comb,
                                   CDB_SGATE_NETLIST* netlist);

  KAVU_DELAY_MODEL_FOR_EXPERT* m_delay_model;
  // The model as a sequential model (any context types); null for other
  // models.
  KAVU_DELAY_MODEL_SEQ_BASE* m_seq_model = nullptr;
  KAVU_DELAY_SETTER m_set_fanin;
  KAVU_DELAY_SETTER m_set_fanout;
  KAVU_DELAY_GETTER m_get_fanin;
  KAVU_DELAY_GETTER m_get_fanout;
  unsigned m_fanin_visited_flag;
  unsigned m_fanout_visited_flag;
  unsigned m_fanin_visiting_flag;
  unsigned m_fanout_visiting_flag;
  GEN_DYN_FLAG m_loopcut_flag;
  int m_max_gate_size;
  int m_huge_gate_size;
  CDB_SGATE_NETLIST* m_netlist = nullptr;
  bool m_use_mapped_delays = false;
  bool m_use_annotated_pin_delays = false;
  bool m_use_annotated_boundary_delays = false;
  GEN_DYN_FLAG m_mapped_flag;
  OTERM_VECTOR_MAP* m_mapped_fanin_map = nullptr;
  OTERM_VECTOR_MAP* m_mapped_fanout_map = nullptr;
  std::map<CDB_SGATE_OTERM*, int>* m_annotated_inputs = nullptr;
  std::map<CDB_SGATE_OTERM*, int>* m_annotated_outputs = nullptr;
  int m_ref_count = 0;
  std::set<CDB_SGATE_OTERM*>* m_dont_care = nullptr;
  std::vector<int> m_delay_vec;
  std::vector<DECOMP_NODE> m_node_vec;
  std::vector<int> m_heap_vec;
  std::vector<WALK_FRAME> m_fanin_stack;
  std::vector<WALK_FRAME> m_fanout_stack;
  std::vector<CDB_SGATE_OTERM*> m_scratch_outs;
  KAVU_SEQ_TIMER* m_seq_timer = nullptr;
  bool m_use_seq_timer = false;
  bool m_validation_mode = false;
};

// A new default expert on the netlist (KZR model with kavu_get_fanin_delay,
// the default callbacks, masks 16, 32, 64, 128, max gate size 2); the loop
// sets are rebuilt and the flags cleared. The caller owns it.
KAVU_DELAY_EXPERT* kavu_get_default_delay_expert(CDB_SGATE_NETLIST* netlist);

// ---------------------------------------------------------------------------
// Reports (kavu_delay_critical.cpp). Each builds its own default expert on
// the netlist's default delay fields and masks 16..128: any other expert
// using those fields on the same netlist sees its delays overwritten.

// LUT outputs with fan-out sorted by slack percentage (largest first), each
// percentage stored in the terminal's aux value; 0 for all when the longest
// path is not positive. `ranked` must be empty.
void kavu_slack_ranked_luts(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* ranked);
void kavu_dump_critical_graph_boundaries(const std::string& label,
                                         const std::vector<CDB_SGATE_OTERM*>& input_boundaries,
                                         const std::vector<CDB_SGATE_ITERM*>& output_boundaries);
// The "MUX DELAYS" report comparing delays in "KZR_MUX" names with
// recomputed ones.
void kavu_dump_mux_delay_info(CDB_SGATE_NETLIST* netlist);
