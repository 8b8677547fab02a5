// kavu_01tbl.h — the complete truth table KAVU_01TBL of a Boolean function.
//
// Model: a function of n inputs is a vector of 2^n minterm bits packed into
//   32-bit words. Minterm m is bit (m mod 32) of word (m / 32); variable i is
//   bit i of the minterm index, variable 0 the least significant. A table has
//   one word for n <= 5 and 2^(n-5) words above. Variables 0..4 lie inside a
//   word (shifts of 2^i bits under constant masks); a variable i >= 5 selects
//   blocks of 2^(i-5) words (0 in the first block, 1 in the next, alternately).
// Unused bits: below five variables only the low 2^n bits of word 0 belong to
//   the function. Every operation that builds or changes a table leaves the
//   rest 0, so raw-word operations (is_vcc, is_gnd, and_with, the hash)
//   agree with the masked comparisons. set_word is the one way to store
//   other bits; comparisons, volumes and the hash mask them away regardless.
// Bounds: n is at most KAVU_01TBL::MAX_NUM_VARS (24, 2 MB of words); asking
//   for more is an internal error, never an unbounded allocation or shift.
// Errors: every broken precondition is an internal error of "KAVU" (the
//   condition text, source file and line; no return), in every build. The
//   raw word accessors check their index only at a debug level above 1.
// Module state: the debug level of set_01tbl_debug and the resynthesis
//   settings (kavu_01tbl_resyn_settings), process globals written only
//   outside parallel synthesis.
// Cost: every operation is word-parallel, O(2^n / 32); move_var is
//   O(|var - dest| * 2^n / 32); no operation allocates inside its word loop.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "ztl_ops_sys.h"

class CDB_LUTMASK;
// Functional decomposition: types its members name.
class CDB_SGATE_NODE;
class CDB_SGATE_LUT;
class CDB_SGATE_OTERM;
class HDB_INSTANCE_NAME;
struct KAVU_FD_SOLUTION;

class KAVU_01TBL {
 public:
  // The largest variable count a table may have.
  static constexpr unsigned int MAX_NUM_VARS = 24;

  // n variables, constant 0.
  explicit KAVU_01TBL(unsigned int n = 0);
  KAVU_01TBL(const KAVU_01TBL& tbl);
  // Leaves tbl a valid table of 0 variables, constant 0.
  KAVU_01TBL(KAVU_01TBL&& tbl);
  // The LUT's function over its input count (at most six).
  explicit KAVU_01TBL(const CDB_LUTMASK& mask);
  // Selection table over m + 1 variables, m the larger count of a and b:
  // a where the new top variable x_m is 0, b where it is 1.
  KAVU_01TBL(const KAVU_01TBL& a, const KAVU_01TBL& b);
  ~KAVU_01TBL();

  // Both leave the table intact when it is assigned or moved to itself.
  KAVU_01TBL& operator=(const KAVU_01TBL& tbl);
  KAVU_01TBL& operator=(KAVU_01TBL&& tbl);

  // n variables, constant 0.
  void resize(unsigned int n);

  unsigned int num_vars() const { return m_num_vars; }
  unsigned int length() const { return static_cast<unsigned int>(m_words.size()); }
  // Bytes of the variable count and the words.
  unsigned int mem_space() const { return 4 + 4 * length(); }

  // Raw words; the index is checked when the debug level is above 1.
  unsigned int word(unsigned int n) const {
    if (m_debug_level > 1) check_word_index(n);
    return m_words[n];
  }
  void set_word(unsigned int n, unsigned int w) {
    if (m_debug_level > 1) check_word_index(n);
    m_words[n] = w;
  }
  // Raw word, index always checked.
  unsigned int grab_word(unsigned int wnum) const;

  // Minterm access; m must be below 2^n.
  unsigned int minterm(unsigned int m) const;
  void set_minterm(unsigned int m);
  void reset_minterm(unsigned int m);
  void toggle_minterm(unsigned int m);

  // Appends the variable count and then every word to codes.
  void dump(std::vector<unsigned int>& codes) const;

  // ---- comparison (valid minterm bits only) -------------------------------
  // Tables of different variable counts are unequal.
  bool operator==(const KAVU_01TBL& tbl) const;
  bool operator!=(const KAVU_01TBL& tbl) const { return !(*this == tbl); }
  // Ordered by the words from the highest index down; counts must agree.
  bool operator<(const KAVU_01TBL& tbl) const;
  bool operator<=(const KAVU_01TBL& tbl) const;
  bool operator>(const KAVU_01TBL& tbl) const { return tbl < *this; }
  bool operator>=(const KAVU_01TBL& tbl) const { return tbl <= *this; }

  // ---- Boolean algebra (counts must agree) --------------------------------
  void and_with(const KAVU_01TBL& tbl);
  void or_with(const KAVU_01TBL& tbl);
  void xor_with(const KAVU_01TBL& tbl);
  KAVU_01TBL operator&(const KAVU_01TBL& tbl) const;
  KAVU_01TBL operator|(const KAVU_01TBL& tbl) const;
  KAVU_01TBL operator^(const KAVU_01TBL& tbl) const;
  // Complement of the function.
  void inv();
  void set_vcc();
  void set_gnd();
  // AND, OR and XOR of all n variables (n = 0: constants 1, 0 and 0).
  void set_and();
  void set_or();
  void set_xor();
  // x2 ? x1 : x0, over max(n, 3) variables.
  void set_mux();
  // The table becomes the literal of var (its complement unless positive).
  void variable(unsigned int var, bool positive);
  // ORs the literal of var into the table.
  void set_var(unsigned int var, bool positive);

  // ---- variable operations -------------------------------------------------
  // Replaces x_var by its complement.
  void inv(unsigned int var);
  // Swaps variables var and var + 1.
  void exchange(unsigned int var);
  // Moves variable var to position dest; the variables between shift by one
  // toward var's old place.
  void move_var(unsigned int var, unsigned int dest);
  // Grows to m variables the function does not depend on (nothing if m <= n).
  void expand(unsigned int m);
  // Keeps the cofactor where variables k..n-1 are 0, as a k-variable table
  // (nothing if k >= n).
  void reduce(unsigned int k);
  // Removes variable var fixed at value; the variables above move down by
  // one (nothing if var >= n).
  void delete_var(unsigned int var, bool value);
  // Removes every variable the function does not depend on. variable_map
  // must be empty; afterwards entry p is the old index of new variable p.
  // Returns the number of variables removed.
  unsigned int delete_redundant_var(std::vector<unsigned int>& variable_map);

  // ---- cofactors -----------------------------------------------------------
  // f with x_var = value, still over n variables.
  void cofactor_on(unsigned int var, bool value);
  void cofactor(unsigned int var, bool value, KAVU_01TBL* out) const;
  // Variables k..n-1 number 2^(n-k) blocks of 2^k minterms (x_k the least
  // significant bit of the block number); every block becomes a copy of
  // block c. k == n is allowed only with c == 0 and changes nothing.
  void cofactor_in_order(unsigned int k, unsigned int c);
  void cofactor_in_order_new(unsigned int k, unsigned int c);
  // Same blocks; sets every minterm of block c and leaves the others.
  void set_cofactor_in_order(unsigned int k, unsigned int c);
  void set_cofactor_in_order_new(unsigned int k, unsigned int c);

  // ---- predicates and measures ---------------------------------------------
  // Raw words: every word equals the word mask / is 0.
  bool is_vcc() const;
  bool is_gnd() const;
  // A constant of 0 variables (n must be 0).
  bool is_const() const;
  bool is_dependent(unsigned int var) const;
  unsigned int num_dependent() const;
  bool is_variable(unsigned int var, bool positive) const;
  // n must be 1.
  bool is_wire() const;
  bool is_inverter() const;
  // f = literal AND g, f = literal OR g, f = x_var XOR g.
  bool is_and(unsigned int var, bool positive) const;
  bool is_or(unsigned int var, bool positive) const;
  bool is_xor(unsigned int var) const;
  // A 3-variable 2:1 mux x2 ? x1 : x0 with input i complemented when its
  // flag is false.
  bool is_mux(bool pos0, bool pos1, bool pos2) const;
  // On-set of this within / containing that of tbl.
  bool is_sub_onset(const KAVU_01TBL& tbl) const;
  bool is_super_onset(const KAVU_01TBL& tbl) const;
  // Monotone increasing (positive) or decreasing in var.
  bool is_unate(unsigned int var, bool positive) const;
  // The number of on-set minterms.
  unsigned int onset_volume() const;
  // On-set minterms with x_var = 1 minus those with x_var = 0.
  int shear_vol_on(unsigned int var) const;

  // LUT mask of the table (n at most CDB_LUTMASK_MAX_INPUTS).
  CDB_LUTMASK make_lutmask() const;

  // ---- Canonical form and dumps (kavu_01tbl_canon.cpp) ----
  // Replaces the table by a representative of its class under input
  // permutation, input complement and output complement: on-set at least as
  // large as the off-set, every shear volume (shear_vol_on) at least 0, shear
  // volumes not decreasing with the variable index. Returns false when the
  // output was complemented. var_map and phase are sized to n: var_map[p] is
  // the variable of the old table at position p; phase[i] is false when old
  // variable i was complemented. So old(x) = new(y) with y_p = x[var_map[p]]
  // (complemented where phase[var_map[p]] is false), the result complemented
  // when the return value is false. A heuristic: members of one class whose
  // shear volumes tie or are 0 may reach different representatives.
  // Cost: O(n * 2^n / 32) for the volumes plus O(n^2) exchanges.
  bool canonical(std::vector<unsigned int>& var_map, std::vector<bool>& phase);
  // Whether the table meets the three conditions above.
  bool is_canonical() const;
  // One debug line: the count in hex, the words from the highest down (only
  // up to 11 variables, else "too big"), and the minterms at debug level 2.
  void dump() const;
  // One text line: the count in decimal, then the words from the highest down.
  void dump_to_file(FILE* file) const;
  // One debug line per minterm: "%03x : %d".
  void dump_binary() const;
  // Self-check of the table operations: fixed tables once per process, then
  // identities against this table. A failed check is an internal error.
  // Refused during parallel synthesis.
  void reg_test();
  // The module-wide debug level that set_01tbl_debug last set.
  static unsigned int debug_level() { return m_debug_level; }
  // ---- end of canonical form and dumps ----

  // ---- Functional decomposition (kavu_01tbl_fd.cpp, kavu_01tbl_lut.cpp) ----
  // Convention: with free set size f and bound size b = n - f, the free set
  // is variables 0..f-1 and the bound set f..n-1. A result vector holds the
  // encoding functions e_0.. (b variables each, e_0 the least significant
  // code bit) and then the composition function g: over f + ne variables
  // (free, then code bits) for a disjoint result, f + ne + 1 (free, shared,
  // code bits) for a non-disjoint one. Result tables are new and belong to
  // the caller. Bound sizes must satisfy 0 < b < n (at most 24 variables).
  // Arrival vectors are empty or hold one value per variable.
  // Output vectors are written only on success; tables they held before are
  // freed then.

  // Disjoint decomposition with the top n - f variables bound. Returns ne;
  // 0 with out untouched when ne >= b, 0 with out = {g} when the table does
  // not depend on the bound set.
  unsigned int disjoint_fd(unsigned int free_set_size, std::vector<KAVU_01TBL*>& out) const;
  // Non-disjoint decomposition sharing variable s (f <= s < n) between the
  // bound set and g. Returns ne; 0 with out untouched on failure.
  unsigned int non_disjoint_fd(unsigned int free_set_size, unsigned int s,
                               std::vector<KAVU_01TBL*>& out) const;
  // The shared variable that removes most inputs (first of equals); 0 with
  // out untouched when none removes any.
  unsigned int non_disjoint_fd(unsigned int free_set_size, std::vector<KAVU_01TBL*>& out) const;
  // Searches over every bound set of size n - f for the best decomposition
  // (most inputs removed, then fewest encoding functions). Bound sets whose
  // latest arrival exceeds delay_limit are skipped (quick_exhaustive_fd: only
  // in speed or delay-check mode, where slack also ranks first in speed
  // mode). On success out holds the result of the winning bound set moved to
  // the top of the table, var_map[i] the input variable now at position i,
  // and the return value is the shared variable in that order (0 for a
  // disjoint winner). Nothing found: 0, out and var_map untouched.
  unsigned int exhaustive_fd(unsigned int free_set_size, int delay_limit,
                             const std::vector<unsigned int>& arrivals,
                             std::vector<KAVU_01TBL*>& out, std::vector<unsigned int>& var_map) const;
  unsigned int quick_exhaustive_fd(unsigned int free_set_size, int delay_limit,
                                   const std::vector<unsigned int>& arrivals,
                                   std::vector<KAVU_01TBL*>& out,
                                   std::vector<unsigned int>& var_map) const;
  unsigned int quick_exhaustive_disjoint_or_nondisjoint_fd(unsigned int free_set_size, int delay_limit,
                                                           const std::vector<unsigned int>& arrivals,
                                                           std::vector<KAVU_01TBL*>& out,
                                                           std::vector<unsigned int>& var_map) const;
  // quick_exhaustive_fd over bound sizes hi down to lo; keeps the result
  // that removes most inputs, then has fewest encoding functions, then the
  // smaller bound size. Results without an encoding function are ignored.
  unsigned int best_fd(unsigned int lo, unsigned int hi, int delay_limit,
                       const std::vector<unsigned int>& arrivals, std::vector<KAVU_01TBL*>& out,
                       std::vector<unsigned int>& var_map) const;
  // Appends one solution per useful bound set of each size lo..hi.
  void find_all_fds(unsigned int lo, unsigned int hi, int delay_limit,
                    const std::vector<unsigned int>& arrivals,
                    std::vector<KAVU_FD_SOLUTION>& solution_vec) const;
  // Index of the solution removing most inputs, then of smallest area, then
  // the first. The list must not be empty.
  static unsigned int find_best_solution(const std::vector<KAVU_FD_SOLUTION>& solution_vec);
  // Re-maps a solution from positions in ori_fanins to those in new_fanins.
  static void fix_variable_order(KAVU_FD_SOLUTION& solution,
                                 const std::vector<CDB_SGATE_OTERM*>& ori_fanins,
                                 const std::vector<CDB_SGATE_OTERM*>& new_fanins);
  // Builds the solution's encoding functions as LUT networks over their
  // bound fan-ins (appended to luts) and returns the composition function,
  // a new table over new_fanins: the free fan-ins, the shared fan-in of a
  // non-disjoint solution, then the encoding networks' outputs.
  KAVU_01TBL* apply_fd(HDB_INSTANCE_NAME* name, const KAVU_FD_SOLUTION& solution,
                       const std::vector<CDB_SGATE_OTERM*>& fanins,
                       std::vector<CDB_SGATE_OTERM*>& new_fanins,
                       std::vector<CDB_SGATE_NODE*>& luts) const;

  // LUT building. fanins[i] drives variable i; the count must equal n. New
  // gates are connected to the fan-ins but added to no netlist; they are
  // appended to nodes, root last, and the root is returned (null when no
  // network was found, every gate made on the way deleted).
  // One LUT over the fan-ins (n at most CDB_LUTMASK_MAX_INPUTS).
  CDB_SGATE_LUT* make_lut(HDB_INSTANCE_NAME* name, const std::vector<CDB_SGATE_OTERM*>& fanins) const;
  // Structural: LUTs of at most CDB_LUTMASK_MAX_INPUTS inputs via best_fd.
  CDB_SGATE_NODE* to_luts(HDB_INSTANCE_NAME* name, const std::vector<CDB_SGATE_OTERM*>& fanins,
                          std::vector<CDB_SGATE_NODE*>& nodes) const;
  // LUTs of at most k inputs, fewest LUTs first. The table is left reduced:
  // a constant stays as it is; otherwise the variables it ignores are
  // removed, and when one LUT or buffer takes the whole function the table
  // is left with no variables. The fan-in list is not changed.
  CDB_SGATE_NODE* to_luts(const std::vector<CDB_SGATE_OTERM*>& fanins, HDB_INSTANCE_NAME* name,
                          unsigned int k, std::vector<CDB_SGATE_NODE*>& nodes);
  // Decomposes the top b variables when that removes at least half of them:
  // builds the encoding functions as k-LUT networks (gates to nodes, their
  // outputs to enc_outputs), turns this table into the composition function
  // over (free variables, code bits) and returns ne; 0 on failure with
  // nothing built and the table unchanged. Requires n > k.
  unsigned int recursive_fd(const std::vector<CDB_SGATE_OTERM*>& fanins, HDB_INSTANCE_NAME* name,
                            unsigned int k, unsigned int bound_set_size,
                            std::vector<CDB_SGATE_NODE*>& nodes,
                            std::vector<CDB_SGATE_OTERM*>& enc_outputs);
  // Area- or delay-driven synthesis into LUTs of at most k inputs: compares
  // the bound sizes of the key kavu_wv_num_bound_sizes (2 by default) by
  // cone area (speed mode: by root arrival first). With improve set a
  // network must beat given_area (and given_delay) to be returned.
  CDB_SGATE_NODE* syn_luts(HDB_INSTANCE_NAME* name, const std::vector<CDB_SGATE_OTERM*>& fanins,
                           std::vector<CDB_SGATE_NODE*>& nodes, int max_delay, unsigned int k,
                           bool improve, int given_area, unsigned int given_delay) const;
  // ---- end of Functional decomposition ----

 private:
  friend unsigned int set_01tbl_debug(unsigned int level);

  // ---- Functional decomposition, internal ----
  // The bound-set searches (kavu_01tbl_fd.cpp) rank candidates by the
  // private estimates below.
  friend class FD_SEARCH;
  // Column multiplicity of the top n - f variables; cof_map[p] is the
  // representative pattern of p's column class (exact: its smallest).
  unsigned int multiplicity(unsigned int free_set_size, std::vector<int>& cof_map) const;
  unsigned int quick_multiplicity(unsigned int free_set_size, std::vector<int>& cof_map) const;
  // Encoding counts of the disjoint and non-disjoint decompositions.
  unsigned int dj_fd_est(unsigned int free_set_size) const;
  unsigned int ndj_fd_ne_est(unsigned int free_set_size, unsigned int s) const;
  unsigned int ndj_fd_est(unsigned int free_set_size, unsigned int& best_s) const;
  // Moves the variables of bound_mask to the top, keeping both groups in
  // order; var_map[i] becomes the old variable now at position i.
  void reorder_var(unsigned int n, unsigned int bound_mask, std::vector<unsigned int>& var_map);
  // ---- end of Functional decomposition, internal ----

  // Valid bits of each word for this table's variable count.
  unsigned int word_mask() const;
  // Bits of a word whose minterm has x_var = 1 (var < 5), under word_mask();
  // word_mask() itself for var >= 5.
  unsigned int var_mask(unsigned int var) const;
  void check_word_index(unsigned int n) const;
  // Sets the count and sizes the words for n variables, all 0.
  void set_size(unsigned int n);
  // Clears the unused bits of word 0 below five variables.
  void clear_unused_bits();

  unsigned int m_num_vars;
  std::vector<unsigned int> m_words;

  // The module-wide debug level (set_01tbl_debug).
  static unsigned int m_debug_level;
};

// Key operations of hash containers of tables: the XOR of the table's valid
// words, and KAVU_01TBL::operator==; equal tables hash equally. Keys must
// not be null.
template <>
struct ZTL_OPS<KAVU_01TBL*> {
  static uint32_t hash(const KAVU_01TBL* key);
  static bool equal(const KAVU_01TBL* a, const KAVU_01TBL* b);
};

// Resynthesis delays (units of 0.1 ns) and switches of the functional
// decomposition; read from configuration once, on the first call of either
// kavu_01tbl_resyn_settings or set_01tbl_debug. Until then, and for keys
// that are not set, the defaults below hold. Cone resynthesis by delay
// (kavu_cone_resynthesis, method 3) turns m_for_speed on for its call and
// restores it afterwards.
struct KAVU_01TBL_RESYN_SETTINGS {
  int m_lutin_combout_delay = 1;
  int m_lutin_regout_delay = 0;
  int m_lutin_cascout_delay = 0;
  int m_lutin_cout_delay = 0;
  int m_cin_combout_delay = 0;
  int m_cin_cascout_delay = 0;
  int m_cin_cout_delay = 0;
  int m_cascin_combout_delay = 0;
  int m_cascin_cascout_delay = 0;
  int m_wire_carry_delay = 0;
  int m_wire_casc_delay = 0;
  int m_wire_sum_delay = 0;
  int m_wire_dff_delay = 0;
  int m_wire_data_delay = 0;
  int m_wire_local_delay = 0;
  int m_wire_gh_delay = 0;
  bool m_for_speed = false;
  bool m_for_balanced = false;
  // On whenever m_for_balanced is.
  bool m_check_delay = false;
  bool m_quick_fd = false;
  bool m_quick_multiplicity = false;
  bool m_use_delay_tie_break = false;
  // The value of the key kavu_01tbl_debug.
  unsigned int m_debug_level = 0;
};

// The settings, loaded from configuration on first use (thread-safe).
const KAVU_01TBL_RESYN_SETTINGS& kavu_01tbl_resyn_settings();

// Sets and returns the module-wide debug level. The first call also loads
// the settings, takes the larger of level and the key kavu_01tbl_debug, and
// traces the settings. Refused during parallel synthesis.
unsigned int set_01tbl_debug(unsigned int level);

// A module-wide counter that no operation advances; always 0.
unsigned int get_ef_counter();
