// kavu_01tbl_fd_int.h — helpers shared by the decomposition search
// (kavu_01tbl_fd.cpp), the LUT builders (kavu_01tbl_lut.cpp), cone
// resynthesis (kavu_01tbl_resyn.cpp) and the module settings
// (kavu_01tbl.cpp); not part of the library's interface.
//
// Model: a bound set is a 32-bit mask over a table's variables; candidates
//   of one size are listed in lexicographic order of their ascending
//   variable lists. Decomposition tables in flight are held by TABLE_LIST,
//   which frees whatever it still owns, so an internal error raised half
//   way through a search leaks nothing.
// Cost: enumerate_bound_sets is O(binomial(n, b)); the rest is O(n) or
//   O(list) per call.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kavu_01tbl.h"
#include "kavu_01tbl_fd.h"

class CDB_SGATE_NODE;
class CDB_SGATE_OTERM;

namespace kavu_fd_int {

// The delay limit that lets every bound set through (0xffffff, 0.1 ns).
constexpr int NO_DELAY_LIMIT = 0xffffff;

// Arrival, area and delay sums are formed in 64 bits; stored into 32-bit
// fields they saturate at the field's limits instead of wrapping.
constexpr int64_t INT_FIELD_MIN = INT_MIN;
constexpr int64_t INT_FIELD_MAX = INT_MAX;
constexpr int64_t UNSIGNED_FIELD_MAX = UINT_MAX;
inline int saturate_to_int(int64_t v) {
  return static_cast<int>(v < INT_FIELD_MIN ? INT_FIELD_MIN : v > INT_FIELD_MAX ? INT_FIELD_MAX : v);
}
inline unsigned int saturate_to_unsigned(int64_t v) {
  return static_cast<unsigned int>(v < 0 ? 0 : v > UNSIGNED_FIELD_MAX ? UNSIGNED_FIELD_MAX : v);
}

// Sets the speed switch of the resynthesis settings (m_for_speed) and
// returns its previous value; cone resynthesis by delay turns it on for
// its call. Outside parallel synthesis only.
bool set_resyn_for_speed(bool on);

// The check of a resynthesized network: simulates the network built (its
// gates in creation order, root last) over the fan-ins and compares it with
// the cone's table. On a difference the network's gates are deleted and the
// internal error "cone_tbl == rsyn_tbl" is reported.
void check_resynthesized_network(const KAVU_01TBL& cone_tbl, std::vector<CDB_SGATE_OTERM*>& fanins,
                                 std::vector<CDB_SGATE_NODE*>& built);

// n! / (k! (n-k)!); requires 0 < k < n <= 32.
unsigned int binomial(unsigned int n, unsigned int k);

// Every b-subset of the n variables as a bitmask, in lexicographic order of
// the ascending variable lists ({0,1}, {0,2}, ... for b = 2). Requires
// 0 < b < n <= 24; replaces list.
void enumerate_bound_sets(unsigned int n, unsigned int b, std::vector<unsigned int>& list);

// The largest arrival over the mask's variables; 0 for an empty vector.
unsigned int latest_arrival(unsigned int mask, const std::vector<unsigned int>& arrivals);

// Stable sort by ascending latest arrival (generator order among equals).
void sort_by_latest_arrival(std::vector<unsigned int>& list, const std::vector<unsigned int>& arrivals);

// The mask as '1'/'0' characters from variable top down to 0.
std::string bound_set_string(unsigned int mask, unsigned int top);

// ne = ceil(log2 mu): encoding functions needed for mu column classes.
unsigned int encoding_count(unsigned int mu);

// out[i] = fanins[var_map[i]]; var_map entries must index fanins.
void reorder_fanins(const std::vector<CDB_SGATE_OTERM*>& fanins, const std::vector<unsigned int>& var_map,
                    std::vector<CDB_SGATE_OTERM*>& out);

// Owns decomposition tables until they are handed to a caller.
class TABLE_LIST {
 public:
  TABLE_LIST() = default;
  TABLE_LIST(const TABLE_LIST&) = delete;
  TABLE_LIST& operator=(const TABLE_LIST&) = delete;

  bool empty() const { return m_tables.empty(); }
  size_t size() const { return m_tables.size(); }
  KAVU_01TBL* operator[](size_t i) const { return m_tables[i].get(); }
  KAVU_01TBL* back() const { return m_tables.back().get(); }
  void push_back(KAVU_01TBL* t) { m_tables.emplace_back(t); }
  void clear() { m_tables.clear(); }
  void swap(TABLE_LIST& other) { m_tables.swap(other.m_tables); }
  // Takes over the caller's tables (out is left empty).
  void adopt(std::vector<KAVU_01TBL*>& out);
  // Frees the caller's tables, then gives them these (this is left empty).
  void release_into(std::vector<KAVU_01TBL*>& out);

 private:
  std::vector<std::unique_ptr<KAVU_01TBL>> m_tables;
};

// Frees every table of the vector and empties it.
void free_tables(std::vector<KAVU_01TBL*>& tables);

// The disjoint decomposition of tbl with the top n - f variables bound,
// from its column classes (mu classes, cof_map as KAVU_01TBL::multiplicity
// leaves it): appends the encoding functions e_0.. (b variables) to enc and
// makes g the composition function over f + ne variables. Classes are
// coded in the order of their first pattern; codes without a class repeat
// the rows of code 0.
void build_disjoint_tables(const KAVU_01TBL& tbl, unsigned int f, unsigned int mu,
                           const std::vector<int>& cof_map, TABLE_LIST& enc, KAVU_01TBL& g);

}  // namespace kavu_fd_int

// The shared body of the three searches over the bound sets of one size.
// A friend of KAVU_01TBL: it ranks candidates by the table's private
// estimates.
class FD_SEARCH {
 public:
  // Quick: estimates, slack ranked first in speed mode, arrival filter only
  // in speed or delay-check mode. Quick without slack: estimates, arrival
  // filter always. Exact: real decompositions, arrival filter always.
  enum MODE { QUICK, QUICK_NO_SLACK, EXACT };

  FD_SEARCH(const KAVU_01TBL& tbl, MODE mode, unsigned int f, int delay_limit,
            const std::vector<unsigned int>& arrivals)
      : m_tbl(tbl), m_mode(mode), m_n(tbl.num_vars()), m_f(f), m_b(tbl.num_vars() - f),
        m_delay_limit(delay_limit), m_arrivals(arrivals), m_settings(kavu_01tbl_resyn_settings()) {}

  unsigned int run(std::vector<KAVU_01TBL*>& out, std::vector<unsigned int>& var_map);

  // KAVU_01TBL::reorder_var for the LUT builders.
  static void reorder_var(KAVU_01TBL& tbl, unsigned int bound_mask, std::vector<unsigned int>& var_map) {
    tbl.reorder_var(tbl.num_vars(), bound_mask, var_map);
  }

 private:
  struct CANDIDATE {
    unsigned int mask = 0;
    int64_t slack = 0;
    unsigned int gain = 0;
    unsigned int ef = 0;
    bool non_disjoint = false;
    unsigned int ndj_var = 0;  // shared variable in the reordered table
  };
  struct STATS {  // counts for the trace; never steer the search
    long m_candidates = 0;
    long m_dj_positive = 0;
    long m_ndj_positive = 0;
    long m_dj_wins = 0;
    long m_ndj_wins = 0;
  };

  bool skip_by_slack(int64_t slack) const;
  bool wins(const CANDIDATE& cand, const CANDIDATE& best) const;
  void estimate(const KAVU_01TBL& work, CANDIDATE& cand);
  void decompose(const KAVU_01TBL& work, CANDIDATE& cand, kavu_fd_int::TABLE_LIST& tables);
  unsigned int finish(const CANDIDATE& best, std::vector<KAVU_01TBL*>& out,
                      std::vector<unsigned int>& var_map);

  const KAVU_01TBL& m_tbl;
  MODE m_mode;
  unsigned int m_n, m_f, m_b;
  int m_delay_limit;
  const std::vector<unsigned int>& m_arrivals;
  const KAVU_01TBL_RESYN_SETTINGS& m_settings;
  kavu_fd_int::TABLE_LIST m_best_tables;  // exact mode: the winner's decomposition
  STATS m_stats;
};

