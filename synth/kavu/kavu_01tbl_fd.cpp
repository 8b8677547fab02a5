// kavu_01tbl_fd.cpp — functional decomposition of truth tables: column
// multiplicity, disjoint and non-disjoint (one shared variable)
// decompositions, the searches over bound sets and the solution records.
//
// Model (Ashenhurst-Curtis decomposition): the free set F is variables
//   0..f-1, the bound set B the top b = n - f variables. Column p is the
//   function of F that the table takes when B reads pattern p (bit j of p is
//   variable f + j). With mu distinct columns, ne = ceil(log2 mu) encoding
//   functions of B code the column classes and g(F, codes) rebuilds the
//   table. Non-disjoint: one bound variable s is also given to g; each
//   cofactor on s is decomposed disjointly and the two are merged by a
//   selection on s. A decomposition is worth having only when it removes
//   inputs: b - ne (disjoint) or b - ne - 1 (non-disjoint).
// Searches: candidates are all b-subsets in lexicographic order, stably
//   sorted by their latest arrival. The quick searches rank candidates by
//   encoding counts computed from multiplicities alone and decompose only
//   the winner; the exact search decomposes every candidate. Ties go to the
//   first candidate; equal gains prefer the non-disjoint form (one encoding
//   function fewer).
// Bounds: 0 < b < n for every search and for binomial; n <= 24 by the
//   table's own limit, so 2^b cofactor map entries and shifts stay in range.
// Cost: one multiplicity is O(2^b * mu * 2^f / 32) word compares (exact) or
//   O(2^b log 2^b) column compares (quick); a search costs binomial(n, b)
//   candidates times (b + 1) multiplicities.
#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>

#include "kavu_01tbl.h"
#include "kavu_01tbl_fd.h"
#include "kavu_01tbl_fd_int.h"
#include "kavu_check.h"
#include "kavu_msg.h"

using kavu_fd_int::TABLE_LIST;

namespace kavu_fd_int {

unsigned int binomial(unsigned int n, unsigned int k) {
  KAVU_CHECK(n > k);
  KAVU_CHECK(k > 0);
  KAVU_CHECK(n <= 32);
  unsigned int m = std::min(k, n - k);
  uint64_t r = 1;
  // r * (n - m + i) / i stays an integer at every step: it is C(n-m+i, i).
  for (unsigned int i = 1; i <= m; ++i) r = r * (n - m + i) / i;
  return static_cast<unsigned int>(r);
}

void enumerate_bound_sets(unsigned int n, unsigned int b, std::vector<unsigned int>& list) {
  KAVU_CHECK(b > 0 && b < n);
  KAVU_CHECK(n <= KAVU_01TBL::MAX_NUM_VARS);
  list.clear();
  list.reserve(binomial(n, b));
  unsigned int idx[32];
  for (unsigned int i = 0; i < b; ++i) idx[i] = i;
  for (;;) {
    unsigned int mask = 0;
    for (unsigned int i = 0; i < b; ++i) mask |= 1u << idx[i];
    list.push_back(mask);
    // Next subset in lexicographic order: bump the rightmost index that can
    // still move, and restart the ones after it right behind it.
    int i = static_cast<int>(b) - 1;
    while (i >= 0 && idx[i] == n - b + static_cast<unsigned int>(i)) --i;
    if (i < 0) break;
    ++idx[i];
    for (unsigned int j = static_cast<unsigned int>(i) + 1; j < b; ++j) idx[j] = idx[j - 1] + 1;
  }
}

unsigned int latest_arrival(unsigned int mask, const std::vector<unsigned int>& arrivals) {
  unsigned int latest = 0;
  for (unsigned int v = 0; v < arrivals.size() && v < 32; ++v)
    if ((mask >> v) & 1u) latest = std::max(latest, arrivals[v]);
  return latest;
}

void sort_by_latest_arrival(std::vector<unsigned int>& list, const std::vector<unsigned int>& arrivals) {
  if (arrivals.empty()) return;  // every key is 0
  std::stable_sort(list.begin(), list.end(), [&](unsigned int a, unsigned int b) {
    return latest_arrival(a, arrivals) < latest_arrival(b, arrivals);
  });
}

std::string bound_set_string(unsigned int mask, unsigned int top) {
  std::string s;
  for (int v = static_cast<int>(top); v >= 0; --v) s += (v < 32 && ((mask >> v) & 1u)) ? '1' : '0';
  return s;
}

unsigned int encoding_count(unsigned int mu) {
  KAVU_CHECK(mu > 0);
  unsigned int ne = 0;
  while ((1ull << ne) < mu) ++ne;
  return ne;
}

void reorder_fanins(const std::vector<CDB_SGATE_OTERM*>& fanins, const std::vector<unsigned int>& var_map,
                    std::vector<CDB_SGATE_OTERM*>& out) {
  out.clear();
  out.reserve(var_map.size());
  for (unsigned int v : var_map) {
    KAVU_CHECK(v < fanins.size());
    out.push_back(fanins[v]);
  }
}

void TABLE_LIST::adopt(std::vector<KAVU_01TBL*>& out) {
  for (KAVU_01TBL* t : out) m_tables.emplace_back(t);
  out.clear();
}

void TABLE_LIST::release_into(std::vector<KAVU_01TBL*>& out) {
  free_tables(out);
  out.reserve(m_tables.size());
  for (auto& t : m_tables) out.push_back(t.release());
  m_tables.clear();
}

void free_tables(std::vector<KAVU_01TBL*>& tables) {
  for (KAVU_01TBL* t : tables) delete t;
  tables.clear();
}

}  // namespace kavu_fd_int

namespace {

using namespace kavu_fd_int;

// Read access to the columns of a table for one free-set size f. Columns of
// f >= 5 variables are runs of 2^(f-5) words; smaller ones are bit fields of
// 2^f bits inside one word.
class COLUMN_VIEW {
 public:
  COLUMN_VIEW(const KAVU_01TBL& tbl, unsigned int f) : m_tbl(tbl), m_f(f) {
    m_words = f >= 5 ? 1u << (f - 5) : 1u;
    m_field_mask = f >= 5 ? 0xFFFFFFFFu : static_cast<unsigned int>((1ull << (1u << f)) - 1);
  }
  unsigned int num_words() const { return m_words; }
  // Word w of column p, with only the column's own bits.
  unsigned int word(unsigned int p, unsigned int w) const {
    if (m_f >= 5) return m_tbl.word(p * m_words + w);
    unsigned int start = p << m_f;
    return (m_tbl.word(start >> 5) >> (start & 31)) & m_field_mask;
  }
  bool equal(unsigned int p, unsigned int q) const {
    for (unsigned int w = 0; w < m_words; ++w)
      if (word(p, w) != word(q, w)) return false;
    return true;
  }
  // Orders columns as numbers whose most significant word is the last.
  bool less(unsigned int p, unsigned int q) const {
    for (unsigned int w = m_words; w-- > 0;) {
      unsigned int a = word(p, w), b = word(q, w);
      if (a != b) return a < b;
    }
    return false;
  }
  unsigned int signature(unsigned int p) const {
    unsigned int h = 0;
    for (unsigned int w = 0; w < m_words; ++w) h = (h * 0x9E3779B1u) ^ word(p, w);
    return h;
  }

 private:
  const KAVU_01TBL& m_tbl;
  unsigned int m_f;
  unsigned int m_words;
  unsigned int m_field_mask;
};

// ORs column p of src into block c (2^f minterms) of dst.
void or_column_into_block(const COLUMN_VIEW& col, unsigned int p, unsigned int f, unsigned int c,
                          KAVU_01TBL& dst) {
  if (f >= 5) {
    for (unsigned int w = 0; w < col.num_words(); ++w) {
      unsigned int i = c * col.num_words() + w;
      dst.set_word(i, dst.word(i) | col.word(p, w));
    }
    return;
  }
  unsigned int start = c << f;
  unsigned int i = start >> 5;
  dst.set_word(i, dst.word(i) | (col.word(p, 0) << (start & 31)));
}

// The table over b variables whose minterm p is bit `bit` of code[p].
KAVU_01TBL* make_encoding_table(unsigned int b, const std::vector<int>& code, unsigned int bit) {
  KAVU_01TBL* e = new KAVU_01TBL(b);
  unsigned int acc = 0;
  for (unsigned int p = 0; p < code.size(); ++p) {
    acc |= ((static_cast<unsigned int>(code[p]) >> bit) & 1u) << (p & 31);
    if ((p & 31) == 31 || p + 1 == code.size()) {
      e->set_word(p >> 5, acc);
      acc = 0;
    }
  }
  return e;
}

// The table with x_s fixed at value, x_s then dropped (the variables above
// it move down by one).
KAVU_01TBL cofactor_without(const KAVU_01TBL& tbl, unsigned int s, bool value) {
  KAVU_01TBL t(tbl);
  t.cofactor_on(s, value);
  t.move_var(s, t.num_vars() - 1);
  t.reduce(t.num_vars() - 1);
  return t;
}

}  // namespace

void kavu_fd_int::build_disjoint_tables(const KAVU_01TBL& tbl, unsigned int f, unsigned int mu,
                                        const std::vector<int>& cof_map, TABLE_LIST& enc,
                                        KAVU_01TBL& g) {
  const unsigned int n = tbl.num_vars();
  const unsigned int b = n - f;
  const unsigned int num_cofs = 1u << b;
  KAVU_CHECK(num_cofs == cof_map.size());
  const unsigned int ne = encoding_count(mu);
  COLUMN_VIEW col(tbl, f);
  g.resize(f + ne);
  std::vector<int> code(num_cofs, -1);
  unsigned int en = 0;
  for (unsigned int p = 0; p < num_cofs; ++p) {
    if (code[p] != -1) continue;
    const int rep = cof_map[p];
    or_column_into_block(col, static_cast<unsigned int>(rep), f, en, g);
    for (unsigned int q = p; q < num_cofs; ++q)
      if (cof_map[q] == rep) code[q] = static_cast<int>(en);
    ++en;
  }
  KAVU_CHECK(en == mu);
  // Codes of no class: any rows serve; those of code 0 keep g simple.
  for (unsigned int c = mu; c < (1u << ne); ++c)
    or_column_into_block(col, static_cast<unsigned int>(cof_map[0]), f, c, g);
  for (unsigned int i = 0; i < ne; ++i) enc.push_back(make_encoding_table(b, code, i));
}

// ---------------------------------------------------------------------------
// Multiplicity and the two decompositions.

unsigned int KAVU_01TBL::multiplicity(unsigned int free_set_size, std::vector<int>& cof_map) const {
  KAVU_CHECK(free_set_size < this->num_vars());
  const unsigned int num_cofs = 1u << (num_vars() - free_set_size);
  COLUMN_VIEW col(*this, free_set_size);
  cof_map.assign(num_cofs, -1);
  std::vector<unsigned int> sig(num_cofs);
  for (unsigned int p = 0; p < num_cofs; ++p) sig[p] = col.signature(p);
  unsigned int num = 0;
  for (unsigned int p = 0; p < num_cofs; ++p) {
    if (cof_map[p] != -1) continue;
    ++num;
    cof_map[p] = static_cast<int>(p);
    for (unsigned int q = p + 1; q < num_cofs; ++q)
      if (cof_map[q] == -1 && sig[q] == sig[p] && col.equal(p, q)) cof_map[q] = static_cast<int>(p);
  }
  return num;
}

unsigned int KAVU_01TBL::quick_multiplicity(unsigned int free_set_size, std::vector<int>& cof_map) const {
  KAVU_CHECK(free_set_size < this->num_vars());
  const unsigned int num_cofs = 1u << (num_vars() - free_set_size);
  COLUMN_VIEW col(*this, free_set_size);
  std::vector<unsigned int> order(num_cofs);
  for (unsigned int p = 0; p < num_cofs; ++p) order[p] = p;
  // Equal columns sort by pattern, so each class is represented by its
  // smallest pattern, as the exact multiplicity does.
  std::sort(order.begin(), order.end(), [&](unsigned int a, unsigned int b) {
    if (col.less(a, b)) return true;
    if (col.less(b, a)) return false;
    return a < b;
  });
  cof_map.assign(num_cofs, -1);
  unsigned int num = 1;
  cof_map[order[0]] = static_cast<int>(order[0]);
  for (unsigned int i = 1; i < num_cofs; ++i) {
    if (col.equal(order[i], order[i - 1])) {
      cof_map[order[i]] = cof_map[order[i - 1]];
    } else {
      cof_map[order[i]] = static_cast<int>(order[i]);
      ++num;
    }
  }
  return num;
}

namespace {
unsigned int column_classes(const KAVU_01TBL& tbl, unsigned int f, std::vector<int>& cof_map,
                            unsigned int (KAVU_01TBL::*exact)(unsigned int, std::vector<int>&) const,
                            unsigned int (KAVU_01TBL::*quick)(unsigned int, std::vector<int>&) const) {
  return kavu_01tbl_resyn_settings().m_quick_multiplicity ? (tbl.*quick)(f, cof_map)
                                                         : (tbl.*exact)(f, cof_map);
}
}  // namespace

unsigned int KAVU_01TBL::disjoint_fd(unsigned int free_set_size, std::vector<KAVU_01TBL*>& out) const {
  KAVU_CHECK(free_set_size < this->num_vars());
  const unsigned int b = num_vars() - free_set_size;
  std::vector<int> cof_map;
  const unsigned int mu = column_classes(*this, free_set_size, cof_map, &KAVU_01TBL::multiplicity,
                                         &KAVU_01TBL::quick_multiplicity);
  const unsigned int ne = encoding_count(mu);
  if (ne >= b) return 0;
  TABLE_LIST result;
  auto g = std::make_unique<KAVU_01TBL>(0);
  kavu_fd_int::build_disjoint_tables(*this, free_set_size, mu, cof_map, result, *g);
  result.push_back(g.release());
  result.release_into(out);
  return ne;
}

unsigned int KAVU_01TBL::non_disjoint_fd(unsigned int free_set_size, unsigned int s,
                                         std::vector<KAVU_01TBL*>& out) const {
  KAVU_CHECK(free_set_size < this->num_vars());
  KAVU_CHECK(s >= free_set_size && s < num_vars());
  const unsigned int f = free_set_size;
  const unsigned int b = num_vars() - f;
  if (b < 2) return 0;  // the shared variable would be the whole bound set
  std::vector<KAVU_01TBL*> raw0, raw1;
  cofactor_without(*this, s, false).disjoint_fd(f, raw0);
  TABLE_LIST side0;
  side0.adopt(raw0);
  cofactor_without(*this, s, true).disjoint_fd(f, raw1);
  TABLE_LIST side1;
  side1.adopt(raw1);
  if (side0.empty() || side1.empty()) return 0;
  const unsigned int ne0 = static_cast<unsigned int>(side0.size()) - 1;
  const unsigned int ne1 = static_cast<unsigned int>(side1.size()) - 1;
  for (unsigned int i = 0; i < ne0; ++i) KAVU_CHECK(side0[i]->num_vars() == b - 1);
  for (unsigned int i = 0; i < ne1; ++i) KAVU_CHECK(side1[i]->num_vars() == b - 1);
  KAVU_CHECK(side0.back()->num_vars() == f + ne0);
  KAVU_CHECK(side1.back()->num_vars() == f + ne1);
  const unsigned int ne = std::max(ne0, ne1);
  if (m_debug_level >= 2 && (ne0 == 0 || ne1 == 0))
    kavu_debug("redundant cofactor input %d %d %d", ne0, ne1, ne);
  TABLE_LIST result;
  for (unsigned int i = 0; i < ne; ++i) {
    const KAVU_01TBL& a = i < ne0 ? *side0[i] : *side1[i];
    const KAVU_01TBL& c = i < ne1 ? *side1[i] : *side0[i];
    auto e = std::make_unique<KAVU_01TBL>(a, c);
    e->move_var(b - 1, s - f);
    KAVU_CHECK(e->num_vars() == b);
    result.push_back(e.release());
  }
  KAVU_01TBL g0(*side0.back()), g1(*side1.back());
  g0.expand(f + ne);
  g1.expand(f + ne);
  auto g = std::make_unique<KAVU_01TBL>(g0, g1);
  g->move_var(f + ne, f);
  KAVU_CHECK(g->num_vars() == f + ne + 1);
  result.push_back(g.release());
  result.release_into(out);
  return ne;
}

unsigned int KAVU_01TBL::non_disjoint_fd(unsigned int free_set_size, std::vector<KAVU_01TBL*>& out) const {
  KAVU_CHECK(free_set_size > 0);
  KAVU_CHECK(free_set_size < this->num_vars());
  const unsigned int n = num_vars();
  unsigned int best_gain = 0, best_s = 0;
  TABLE_LIST best;
  for (unsigned int s = free_set_size; s < n; ++s) {
    std::vector<KAVU_01TBL*> raw;
    non_disjoint_fd(free_set_size, s, raw);
    TABLE_LIST attempt;
    attempt.adopt(raw);
    if (attempt.empty()) continue;
    if (m_debug_level >= 1 && attempt.size() == 1) kavu_debug("no ef in ndj decomp");
    const unsigned int gain = n - attempt.back()->num_vars();
    if (gain > best_gain) {
      best_gain = gain;
      best_s = s;
      best.swap(attempt);
    }
  }
  if (best.empty()) return 0;
  best.release_into(out);
  return best_s;
}

// ---------------------------------------------------------------------------
// Estimates.

unsigned int KAVU_01TBL::dj_fd_est(unsigned int free_set_size) const {
  std::vector<int> cof_map;
  return encoding_count(column_classes(*this, free_set_size, cof_map, &KAVU_01TBL::multiplicity,
                                       &KAVU_01TBL::quick_multiplicity));
}

unsigned int KAVU_01TBL::ndj_fd_ne_est(unsigned int free_set_size, unsigned int s) const {
  KAVU_CHECK(free_set_size < this->num_vars());
  const unsigned int bp = num_vars() - free_set_size - 1;
  if (bp == 0) return 0;  // nothing left to bind beside s: no gain possible
  const unsigned int ne0 = cofactor_without(*this, s, false).dj_fd_est(free_set_size);
  if (ne0 >= bp) return ne0;
  const unsigned int ne1 = cofactor_without(*this, s, true).dj_fd_est(free_set_size);
  if (ne1 >= bp) return ne1;
  if (m_debug_level >= 2 && (ne0 == 0 || ne1 == 0))
    kavu_debug("ndj fd redundant cofactors %d %d %d", ne0, ne1, std::max(ne0, ne1));
  return std::max(ne0, ne1);
}

unsigned int KAVU_01TBL::ndj_fd_est(unsigned int free_set_size, unsigned int& best_s) const {
  KAVU_CHECK(free_set_size > 0);
  KAVU_CHECK(free_set_size < this->num_vars());
  unsigned int best = num_vars() - free_set_size - 1;
  best_s = 0;
  for (unsigned int s = free_set_size; s < num_vars(); ++s) {
    const unsigned int ne = ndj_fd_ne_est(free_set_size, s);
    if (ne < best) {
      best = ne;
      best_s = s;
    }
  }
  return best;
}

void KAVU_01TBL::reorder_var(unsigned int n, unsigned int bound_mask, std::vector<unsigned int>& var_map) {
  KAVU_CHECK(n == num_vars());
  KAVU_CHECK(n >= 32 || (bound_mask >> n) == 0);
  var_map.resize(n);
  for (unsigned int i = 0; i < n; ++i) var_map[i] = i;
  unsigned int top = n;
  // Highest bound variable first: the lower ones keep their places until
  // their own turn, so both groups keep their relative order.
  for (unsigned int v = n; v-- > 0;) {
    if (!((bound_mask >> v) & 1u)) continue;
    --top;
    move_var(v, top);
    std::rotate(var_map.begin() + v, var_map.begin() + v + 1, var_map.begin() + top + 1);
  }
}

// ---------------------------------------------------------------------------
// Searches over bound sets of one size.

namespace {

// The candidates of bound size b, arrival-sorted, with the order checked at
// debug level check_level and listed above level 2.
void list_candidates(unsigned int n, unsigned int b, const std::vector<unsigned int>& arrivals,
                     unsigned int debug_level, unsigned int check_level, std::vector<unsigned int>& list) {
  KAVU_CHECK(arrivals.empty() || arrivals.size() == n);
  enumerate_bound_sets(n, b, list);
  const unsigned int num_pattern = binomial(n, b);
  KAVU_CHECK(num_pattern == list.size());
  sort_by_latest_arrival(list, arrivals);
  if (debug_level < check_level) return;
  unsigned int prev = 0;
  for (unsigned int mask : list) {
    const unsigned int curr = latest_arrival(mask, arrivals);
    KAVU_CHECK(prev <= curr);
    prev = curr;
    if (debug_level > 2) kavu_debug("%s : %d", bound_set_string(mask, n - 1).c_str(), curr);
  }
}

}  // namespace


unsigned int FD_SEARCH::run(std::vector<KAVU_01TBL*>& out, std::vector<unsigned int>& var_map) {
  KAVU_CHECK(m_f > 0 && m_f < m_n);
  const unsigned int debug_level = KAVU_01TBL::m_debug_level;
  std::vector<unsigned int> cands;
  list_candidates(m_n, m_b, m_arrivals, debug_level, m_mode == QUICK ? 2 : 1, cands);
  CANDIDATE best;
  best.ef = m_b;
  std::vector<unsigned int> map;
  KAVU_01TBL work(m_n);
  for (unsigned int mask : cands) {
    ++m_stats.m_candidates;
    CANDIDATE cand;
    cand.mask = mask;
    cand.slack = static_cast<int64_t>(m_delay_limit) - latest_arrival(mask, m_arrivals);
    if (skip_by_slack(cand.slack)) continue;
    work = m_tbl;
    work.reorder_var(m_n, mask, map);
    TABLE_LIST tables;
    if (m_mode == EXACT) decompose(work, cand, tables);
    else estimate(work, cand);
    if (cand.gain == 0 || !wins(cand, best)) continue;
    best = cand;
    if (m_mode == EXACT) m_best_tables.swap(tables);
  }
  if (debug_level >= 2)
    kavu_debug("fd %d dj %d ndj %d win dj %d ndj %d", static_cast<int>(m_stats.m_candidates),
               static_cast<int>(m_stats.m_dj_positive), static_cast<int>(m_stats.m_ndj_positive),
               static_cast<int>(m_stats.m_dj_wins), static_cast<int>(m_stats.m_ndj_wins));
  if (best.gain == 0) return 0;
  return finish(best, out, var_map);
}

bool FD_SEARCH::skip_by_slack(int64_t slack) const {
  if (m_mode != QUICK) return slack < 0;
  return (m_settings.m_for_speed || m_settings.m_check_delay) && slack < 0;
}

bool FD_SEARCH::wins(const CANDIDATE& cand, const CANDIDATE& best) const {
  if (m_mode == QUICK && m_settings.m_for_speed && cand.slack != best.slack) return cand.slack > best.slack;
  if (cand.gain != best.gain) return cand.gain > best.gain;
  return cand.ef < best.ef;
}

void FD_SEARCH::estimate(const KAVU_01TBL& work, CANDIDATE& cand) {
  const int dj_gain = static_cast<int>(m_b) - static_cast<int>(work.dj_fd_est(m_f));
  KAVU_CHECK(static_cast<int>(dj_gain) >= 0);
  unsigned int best_ne = m_b - 1, best_s = 0;
  if (m_mode == QUICK) {
    for (unsigned int s = m_f; s < m_n; ++s) {
      const unsigned int ne = work.ndj_fd_ne_est(m_f, s);
      if (ne < best_ne) {
        best_ne = ne;
        best_s = s;
      }
    }
  } else {
    best_ne = work.ndj_fd_est(m_f, best_s);
  }
  const int ndj_gain = static_cast<int>(m_b) - static_cast<int>(best_ne) - 1;
  KAVU_CHECK(static_cast<int>(ndj_gain) >= 0);
  if (m_mode == QUICK_NO_SLACK) {
    KAVU_CHECK(dj_gain < static_cast<int>(m_n));
    KAVU_CHECK(ndj_gain < static_cast<int>(m_n));
  }
  if (dj_gain > 0) ++m_stats.m_dj_positive;
  if (ndj_gain > 0) ++m_stats.m_ndj_positive;
  cand.non_disjoint = ndj_gain >= dj_gain;
  cand.gain = static_cast<unsigned int>(std::max(dj_gain, ndj_gain));
  cand.ef = cand.non_disjoint ? best_ne : m_b - static_cast<unsigned int>(dj_gain);
  cand.ndj_var = cand.non_disjoint ? best_s : 0;
}

void FD_SEARCH::decompose(const KAVU_01TBL& work, CANDIDATE& cand, TABLE_LIST& tables) {
  std::vector<KAVU_01TBL*> raw;
  const unsigned int dj_ne = work.disjoint_fd(m_f, raw);
  TABLE_LIST dj;
  dj.adopt(raw);
  const unsigned int ndj_s = work.non_disjoint_fd(m_f, raw);
  TABLE_LIST ndj;
  ndj.adopt(raw);
  const unsigned int dj_gain = dj.empty() ? 0 : m_b - dj_ne;
  const unsigned int ndj_gain = ndj.empty() ? 0 : m_n - ndj.back()->num_vars();
  const unsigned int ndj_ne = ndj.empty() ? 0 : static_cast<unsigned int>(ndj.size()) - 1;
  if (dj_gain > 0) ++m_stats.m_dj_positive;
  if (ndj_gain > 0) ++m_stats.m_ndj_positive;
  cand.non_disjoint = !ndj.empty() && (ndj_gain > dj_gain || (ndj_gain == dj_gain && ndj_ne < dj_ne));
  if (cand.non_disjoint) {
    KAVU_CHECK(ndj.size() == 0 || ndj.back()->num_vars() == m_f + ndj_ne + 1);
    cand.gain = ndj_gain;
    cand.ef = ndj_ne;
    cand.ndj_var = ndj_s;
    tables.swap(ndj);
  } else {
    cand.gain = dj_gain;
    cand.ef = dj_ne;
    tables.swap(dj);
  }
}

unsigned int FD_SEARCH::finish(const CANDIDATE& best, std::vector<KAVU_01TBL*>& out,
                               std::vector<unsigned int>& var_map) {
  if (best.non_disjoint) ++m_stats.m_ndj_wins;
  else ++m_stats.m_dj_wins;
  KAVU_01TBL work(m_tbl);
  work.reorder_var(m_n, best.mask, var_map);
  if (m_mode == EXACT) {
    m_best_tables.release_into(out);
    return best.non_disjoint ? best.ndj_var : 0;
  }
  std::vector<KAVU_01TBL*> raw;
  TABLE_LIST result;
  if (!best.non_disjoint) {
    const unsigned int dj_ne = work.disjoint_fd(m_f, raw);
    result.adopt(raw);
    const unsigned int dj_gain = m_b - dj_ne;
    const unsigned int best_ef = best.ef, best_gain = best.gain;
    KAVU_CHECK(dj_ne == best_ef);
    KAVU_CHECK(dj_gain == best_gain);
    result.release_into(out);
    return 0;
  }
  const unsigned int ndj_var = work.non_disjoint_fd(m_f, raw);
  result.adopt(raw);
  KAVU_CHECK(!result.empty());
  const unsigned int ndj_ne = static_cast<unsigned int>(result.size()) - 1;
  const unsigned int ndj_gain = m_n - result.back()->num_vars();
  const unsigned int best_var = best.ndj_var, best_ef = best.ef, best_gain = best.gain;
  KAVU_CHECK(ndj_var == best_var);
  KAVU_CHECK(ndj_ne == best_ef);
  KAVU_CHECK(ndj_gain == best_gain);
  result.release_into(out);
  return ndj_var;
}

unsigned int KAVU_01TBL::quick_exhaustive_fd(unsigned int free_set_size, int delay_limit,
                                             const std::vector<unsigned int>& arrivals,
                                             std::vector<KAVU_01TBL*>& out,
                                             std::vector<unsigned int>& var_map) const {
  KAVU_CHECK(free_set_size > 0 && free_set_size < num_vars());
  return FD_SEARCH(*this, FD_SEARCH::QUICK, free_set_size, delay_limit, arrivals).run(out, var_map);
}

unsigned int KAVU_01TBL::quick_exhaustive_disjoint_or_nondisjoint_fd(
    unsigned int free_set_size, int delay_limit, const std::vector<unsigned int>& arrivals,
    std::vector<KAVU_01TBL*>& out, std::vector<unsigned int>& var_map) const {
  KAVU_CHECK(free_set_size > 0 && free_set_size < num_vars());
  return FD_SEARCH(*this, FD_SEARCH::QUICK_NO_SLACK, free_set_size, delay_limit, arrivals)
      .run(out, var_map);
}

unsigned int KAVU_01TBL::exhaustive_fd(unsigned int free_set_size, int delay_limit,
                                       const std::vector<unsigned int>& arrivals,
                                       std::vector<KAVU_01TBL*>& out,
                                       std::vector<unsigned int>& var_map) const {
  KAVU_CHECK(free_set_size > 0 && free_set_size < num_vars());
  return FD_SEARCH(*this, FD_SEARCH::EXACT, free_set_size, delay_limit, arrivals).run(out, var_map);
}

// ---------------------------------------------------------------------------
// Search over sizes and solution lists.

unsigned int KAVU_01TBL::best_fd(unsigned int lo, unsigned int hi, int delay_limit,
                                 const std::vector<unsigned int>& arrivals, std::vector<KAVU_01TBL*>& out,
                                 std::vector<unsigned int>& var_map) const {
  if (hi < lo) return 0;
  KAVU_CHECK(lo > 0 && hi < num_vars());
  const unsigned int n = num_vars();
  unsigned int best_r = 0, best_k = hi, best_size = hi + 1, best_ret = 0;
  TABLE_LIST best;
  std::vector<unsigned int> best_map;
  for (unsigned int s = hi + 1; s-- > lo;) {
    std::vector<KAVU_01TBL*> raw;
    std::vector<unsigned int> map;
    const unsigned int ret = quick_exhaustive_fd(n - s, delay_limit, arrivals, raw, map);
    TABLE_LIST result;
    result.adopt(raw);
    if (result.size() < 2) continue;  // nothing found, or no encoding function
    const unsigned int r = n - result.back()->num_vars();
    const unsigned int k = static_cast<unsigned int>(result.size()) - 1;
    if (r > best_r || (r == best_r && k < best_k) || (r == best_r && k == best_k && s < best_size)) {
      best_r = r;
      best_k = k;
      best_size = s;
      best_ret = ret;
      best.swap(result);
      best_map.swap(map);
    }
  }
  if (best.empty()) return 0;
  best.release_into(out);
  var_map.swap(best_map);
  return best_ret;
}

void KAVU_01TBL::find_all_fds(unsigned int lo, unsigned int hi, int delay_limit,
                              const std::vector<unsigned int>& arrivals,
                              std::vector<KAVU_FD_SOLUTION>& solution_vec) const {
  const auto start = std::chrono::steady_clock::now();
  const unsigned int n = num_vars();
  std::vector<unsigned int> cands, map;
  KAVU_01TBL work(n);
  for (unsigned int b = lo; b <= hi; ++b) {
    list_candidates(n, b, arrivals, m_debug_level, 1, cands);
    const unsigned int cost = KAVU_CONE_COST::get_lut_area_cost(b);
    for (unsigned int mask : cands) {
      if (static_cast<int64_t>(delay_limit) - latest_arrival(mask, arrivals) < 0) continue;
      work = *this;
      work.reorder_var(n, mask, map);
      const int dj_ne = static_cast<int>(work.dj_fd_est(n - b));
      int num_reduced = static_cast<int>(b) - dj_ne;
      KAVU_CHECK(num_reduced >= 0);
      const KAVU_FD_SOLUTION dj{mask, cost * dj_ne, static_cast<unsigned int>(dj_ne), -1};
      const bool dj_valid = num_reduced > 0;
      unsigned int s = 0;
      const int ndj_ne = static_cast<int>(work.ndj_fd_est(n - b, s));
      num_reduced = static_cast<int>(b) - ndj_ne - 1;
      KAVU_CHECK(num_reduced >= 0);
      const bool ndj_valid = num_reduced > 0;
      KAVU_FD_SOLUTION ndj_solution{mask, cost * ndj_ne, static_cast<unsigned int>(ndj_ne), -1};
      if (ndj_valid) {
        ndj_solution.ndj_var = static_cast<int>(map[s]);
        const unsigned int ndj_bit = 1u << map[s];
        KAVU_CHECK((ndj_solution.used_vars & ndj_bit) == ndj_bit);
      }
      if (dj_valid && (!ndj_valid || dj_ne <= ndj_ne)) solution_vec.push_back(dj);
      else if (ndj_valid) solution_vec.push_back(ndj_solution);
    }
  }
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  kavu_debug("Spent %d seconds in finding %d solutions for %d inputs", static_cast<int>(seconds),
             static_cast<int>(solution_vec.size()), static_cast<int>(n));
}

int KAVU_FD_SOLUTION::reduction() const {
  return static_cast<int>(kavu_count_ones(used_vars)) - static_cast<int>(num_ef) - (ndj_var != -1 ? 1 : 0);
}

unsigned int KAVU_01TBL::find_best_solution(const std::vector<KAVU_FD_SOLUTION>& solution_vec) {
  KAVU_CHECK(!solution_vec.empty());
  unsigned int best = 0;
  for (unsigned int i = 0; i < solution_vec.size(); ++i) {
    const int reduction = solution_vec[i].reduction();
    KAVU_CHECK(reduction >= 0);
    const int best_reduction = solution_vec[best].reduction();
    if (reduction > best_reduction || (reduction == best_reduction && solution_vec[i].area < solution_vec[best].area))
      best = i;
  }
  return best;
}

namespace {
// The position of ori_fanins[var] in new_fanins.
unsigned int remap_variable(unsigned int var, const std::vector<CDB_SGATE_OTERM*>& ori_fanins,
                            const std::vector<CDB_SGATE_OTERM*>& new_fanins) {
  KAVU_CHECK(var < ori_fanins.size());
  unsigned int new_var = 0;
  bool found = false;
  for (; new_var < new_fanins.size(); ++new_var) {
    if (new_fanins[new_var] == ori_fanins[var]) {
      found = true;
      break;
    }
  }
  KAVU_CHECK(found && (new_var < new_fanins.size()));
  return new_var;
}
}  // namespace

void KAVU_01TBL::fix_variable_order(KAVU_FD_SOLUTION& solution, const std::vector<CDB_SGATE_OTERM*>& ori_fanins,
                                    const std::vector<CDB_SGATE_OTERM*>& new_fanins) {
  const unsigned int var_bit = solution.used_vars;
  KAVU_CHECK(var_bit != 0);
  unsigned int mask = 0;
  for (unsigned int var = 0; var < 32; ++var) {
    if (!((var_bit >> var) & 1u)) continue;
    const unsigned int new_var = remap_variable(var, ori_fanins, new_fanins);
    KAVU_CHECK(new_var < 32);
    mask |= 1u << new_var;
  }
  if (solution.ndj_var != -1) {
    KAVU_CHECK(solution.ndj_var >= 0 && solution.ndj_var < (int)ori_fanins.size());
    solution.ndj_var =
        static_cast<int>(remap_variable(static_cast<unsigned int>(solution.ndj_var), ori_fanins, new_fanins));
  }
  solution.used_vars = mask;
}

unsigned int kavu_count_ones(unsigned int value) { return static_cast<unsigned int>(std::popcount(value)); }

unsigned int kavu_compute_cover_area(const std::vector<KAVU_FD_SOLUTION>& solution_vec,
                                     const std::vector<bool>& cover, unsigned int extra_inputs,
                                     bool use_lut_cost, unsigned int* num_inputs) {
  KAVU_CHECK(cover.size() == solution_vec.size());
  uint64_t area = 0;
  int64_t num_ef = 0, num_ndj = 0;
  unsigned int used = 0;
  for (size_t i = 0; i < solution_vec.size(); ++i) {
    if (!cover[i]) continue;
    area += solution_vec[i].area;
    num_ef += solution_vec[i].num_ef;
    used |= solution_vec[i].used_vars;
    if (solution_vec[i].ndj_var != -1) ++num_ndj;
  }
  // Signed: a cover whose bound sets exceed the inputs counted by
  // extra_inputs would otherwise wrap to a huge input count.
  const int64_t inputs = num_ndj - static_cast<int64_t>(kavu_count_ones(used)) + num_ef + extra_inputs;
  KAVU_CHECK(inputs >= 0);
  const unsigned int root_inputs = static_cast<unsigned int>(inputs);
  unsigned int root_cost = 0;
  if (use_lut_cost) root_cost = KAVU_CONE_COST::get_lut_area_cost(root_inputs);
  else root_cost = root_inputs > 5 ? 2 : (root_inputs > 1 ? 1 : 0);
  if (num_inputs) *num_inputs = root_inputs;
  return static_cast<unsigned int>(area + root_cost);
}
