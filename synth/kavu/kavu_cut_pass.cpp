// kavu_cut_pass.cpp — k-feasible cut sets of a whole netlist, enumerated
// once, bottom-up in topological order over a compressed-rows copy of the
// graph, and get_all_cuts answered from them while a pass is active.
//
// Model and invariants: see CUT_PASS in kavu_cut_int.h. The merge rule is
//   the per-head enumeration's (kavu_cut_enum.cpp): trivial cut first, then
//   fan-in by fan-in, working cuts outer and the fan-in's cuts inner, a new
//   union dropped when a kept cut is a subset of it and kept cuts it is a
//   proper subset of removed (marked, then compacted in order). The sets
//   therefore come out in the order the per-head enumeration gives them,
//   whatever the numbering of the leaves.
// Why the kept sets hold: see Depth in kavu_cut_int.h.
// Cost: see kavu_cut_int.h; the kept sets cost 8 + 1 + 4K bytes per cut,
//   the graph, its labels, support signatures and hub sets and the walk's
//   marks about 230 bytes per terminal, all freed by release().
#include <algorithm>
#include <climits>

#include "kavu_check.h"
#include "kavu_cut.h"
#include "kavu_cut_int.h"
#include "kavu_popcount_int.h"

namespace {

constexpr int SIGNATURE_BITS = 64;
// The number of cuts a pass keeps at most: 2^25, about 1.1 GB at K = 6
// (and far below what 32-bit leaf offsets allow).
constexpr size_t MAX_PASS_CUTS = size_t(1) << 25;
static_assert(MAX_PASS_CUTS * CUT_PASS::MAX_K <= size_t(INT32_MAX));
// Logic depth from which a graph gets all four interval labellings and may
// get the hub sets.
constexpr int DEEP_GRAPH = 64;
// The hub sets are built once the leaf walks have entered this many
// terminals other than leaves, if more than a quarter of them led to no
// leaf (where the labellings and support signatures let too much through;
// elsewhere the hub sets cost more than they save).
constexpr int64_t HUB_SAMPLE = 4096;
constexpr int64_t HUB_DEAD_END_SHARE = 4;

// Leaves of one head sorted by insertion up to this many.
constexpr size_t INSERTION_SORT_MAX = 32;

uint64_t signature_of(int id) { return uint64_t(1) << (id % SIGNATURE_BITS); }


template <typename T>
void free_vector(std::vector<T>& v) {
  std::vector<T>().swap(v);
}

}  // namespace

// ---------------------------------------------------------------------------
// Build

void CUT_PASS::release() {
  m_active = false;
  m_k = 0;
  free_vector(m_oterms);
  m_id = PTR_STAMP_TABLE();
  free_vector(m_row_begin);
  free_vector(m_row);
  free_vector(m_passes);
  free_vector(m_ordered);
  free_vector(m_rank);
  free_vector(m_support);
  m_use_hubs = false;
  m_hubs_decided = false;
  m_walked = m_dead_ends = 0;
  for (LABELS& labels : m_labels) labels = LABELS();
  free_vector(m_reach);
  free_vector(m_order);
  free_vector(m_first);
  free_vector(m_count);
  free_vector(m_sig);
  free_vector(m_leaves);
  free_vector(m_size);
  m_working = SET();
  m_result = SET();
  free_vector(m_marks);
  m_stamp = 0;
  free_vector(m_leaf_ids);
  free_vector(m_leaf_heights);
  free_vector(m_leaf_placed);
  free_vector(m_stack);
  free_vector(m_spare);
}

void CUT_PASS::build(CDB_SGATE_NETLIST* netlist, int k, bool quellin) {
  KAVU_CHECK(netlist != nullptr);
  KAVU_CHECK(k >= 1 && k <= MAX_K);
  release();
  m_k = k;
  m_quellin = quellin;
  copy_graph(netlist);
  if (m_oterms.size() >= (size_t(1) << POSITION_BITS)) {  // cone positions would not fit the marks
    release();
    return;
  }
  order_graph();
  // Deep graphs make long leaf walks, where every labelling and the hub
  // sets prune more; shallow ones take the two labellings that differ most.
  const int depth = m_rank.empty() ? 0 : *std::max_element(m_rank.begin(), m_rank.end());
  m_num_labels = depth >= DEEP_GRAPH ? NUM_LABELS : 2;
  static constexpr int VARIANTS[NUM_LABELS] = {0, 3, 1, 2};
  for (int i = 0; i < m_num_labels; ++i) label_graph(m_labels[i], VARIANTS[i]);
  pack_reach();
  m_overflow = false;
  enumerate_all();
  if (m_overflow) {
    release();
    return;
  }
  m_use_hubs = false;
  m_hubs_decided = depth < DEEP_GRAPH;
  m_walked = m_dead_ends = 0;
  const size_t n = m_oterms.size();
  m_marks.assign(n, TERM_MARKS{0, 0, 0, 0, 0});
  for (size_t x = 0; x < n; ++x) m_marks[x].m_rank = m_rank[x];
  for (size_t i = m_order.size(); i-- > 0;) {  // heights, readers first
    const int32_t x = m_order[i], below = m_marks[size_t(x)].m_height + 1;
    for (uint32_t p = m_row_begin[x]; p < m_row_begin[x + 1]; ++p) {
      int32_t& height = m_marks[size_t(m_row[p])].m_height;
      height = std::max(height, below);
    }
  }
  m_stamp = 0;
  m_active = true;
}

int CUT_PASS::id_of(CDB_SGATE_OTERM* oterm) {
  int* slot = nullptr;
  if (m_id.insert(oterm, int(m_oterms.size()), &slot)) m_oterms.push_back(oterm);
  return *slot;
}

// Ids in node-list order (a gate's outputs together), then drivers found
// outside the list as they turn up; a row per passing terminal.
void CUT_PASS::copy_graph(CDB_SGATE_NETLIST* netlist) {
  size_t expected = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it) expected += (*it)->get_output_count();
  }
  m_id.clear(expected);
  m_oterms.reserve(expected);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_OTERM* oterm : (*it)->get_output_terms())
      if (oterm) id_of(oterm);
  }
  CUT_WALK_FLAGS flags;
  flags.m_wide_gates = true;
  flags.m_quellin = m_quellin;
  CDB_SGATE_OTERM* const no_head[] = {nullptr};
  m_row_begin.assign(1, 0);
  for (size_t i = 0; i < m_oterms.size(); ++i) {  // grows while drivers turn up
    const CDB_SGATE_NODE* gate = m_oterms[i]->get_my_node();
    const bool passes = cut_bounded_walk_passes(gate, no_head, flags);
    CDB_SGATE_OTERM* const as_head[] = {m_oterms[i]};
    const bool passes_as_head = cut_bounded_walk_passes(gate, as_head, flags);
    m_passes.push_back(uint8_t((passes ? PASSES : 0) | (passes_as_head ? PASSES_AS_HEAD : 0)));
    if (passes) {
      for (const CDB_SGATE_ITERM* iterm : gate->get_input_terms()) {
        CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
        if (driver) m_row.push_back(id_of(driver));
      }
    }
    m_row_begin.push_back(uint32_t(m_row.size()));
  }
}

// Kahn's order over the rows; terminals on or behind a combinational loop
// stay unordered. Logic depth: 0 without a row, else one more than the
// deepest driver.
void CUT_PASS::order_graph() {
  const int n = int(m_oterms.size());
  std::vector<int32_t> pending(n, 0), users_begin(n + 1, 0), users(m_row.size());
  for (int x = 0; x < n; ++x) {
    pending[x] = int32_t(m_row_begin[x + 1] - m_row_begin[x]);
    for (uint32_t p = m_row_begin[x]; p < m_row_begin[x + 1]; ++p) ++users_begin[m_row[p] + 1];
  }
  for (int x = 0; x < n; ++x) users_begin[x + 1] += users_begin[x];
  std::vector<int32_t> cursor(users_begin.begin(), users_begin.end() - 1);
  for (int x = 0; x < n; ++x) {
    for (uint32_t p = m_row_begin[x]; p < m_row_begin[x + 1]; ++p) users[cursor[m_row[p]]++] = x;
  }
  m_order.clear();
  m_order.reserve(n);
  m_rank.assign(n, 0);
  m_ordered.assign(n, 0);
  for (int x = 0; x < n; ++x) {
    if (pending[x] == 0) m_order.push_back(x);
  }
  m_support.assign(size_t(n) * SUPPORT_WORDS, 0);
  int sources = 0;
  for (size_t i = 0; i < m_order.size(); ++i) {
    const int x = m_order[i];
    m_ordered[x] = 1;
    uint64_t* support = &m_support[size_t(x) * SUPPORT_WORDS];
    if (m_row_begin[x] == m_row_begin[x + 1]) {
      const int bit = sources++ % (64 * SUPPORT_WORDS);
      support[bit / 64] |= uint64_t(1) << (bit % 64);
    }
    for (uint32_t p = m_row_begin[x]; p < m_row_begin[x + 1]; ++p) {
      const int y = m_row[p];
      m_rank[x] = std::max(m_rank[x], m_rank[y] + 1);
      for (int w = 0; w < SUPPORT_WORDS; ++w) support[w] |= m_support[size_t(y) * SUPPORT_WORDS + w];
    }
    for (int32_t p = users_begin[x]; p < users_begin[x + 1]; ++p) {
      if (--pending[users[p]] == 0) m_order.push_back(users[p]);
    }
  }
}

// The terminals with rows that are leaves of the most kept cuts become the
// hubs; then each terminal's hub set, bottom-up.
void CUT_PASS::find_hubs() {
  const size_t n = m_oterms.size();
  constexpr size_t MAX_HUBS = 64 * HUB_WORDS;
  std::vector<uint32_t> uses(n, 0);
  for (size_t c = 0; c < m_sig.size(); ++c) {
    if (m_size[c] < 2) continue;  // trivial cuts name only their own terminal
    for (int i = 0; i < m_size[c]; ++i) ++uses[size_t(m_leaves[c * size_t(m_k) + size_t(i)])];
  }
  std::vector<int32_t> candidates;
  for (size_t x = 0; x < n; ++x) {
    if (uses[x] > 0 && m_ordered[x] && m_row_begin[x] < m_row_begin[x + 1]) candidates.push_back(int32_t(x));
  }
  const auto more_used = [&uses](int32_t a, int32_t b) { return uses[a] != uses[b] ? uses[a] > uses[b] : a < b; };
  if (candidates.size() > MAX_HUBS) {
    std::nth_element(candidates.begin(), candidates.begin() + MAX_HUBS, candidates.end(), more_used);
    candidates.resize(MAX_HUBS);
  }
  for (size_t i = 0; i < candidates.size(); ++i) m_reach[size_t(candidates[i])].m_hubs[i / 64] |= uint64_t(1) << (i % 64);
  for (int32_t x : m_order) {
    uint64_t* hubs = m_reach[size_t(x)].m_hubs;
    for (uint32_t p = m_row_begin[x]; p < m_row_begin[x + 1]; ++p) {
      for (int w = 0; w < HUB_WORDS; ++w) hubs[w] |= m_reach[size_t(m_row[p])].m_hubs[w];
    }
  }
}

template <bool HW>
inline void CUT_PASS::enumerate_range() {
  for (int32_t x : m_order) {
    // A netlist with more cuts than that gets no pass (every call
    // enumerates its head on its own), so the pass's memory stays bounded.
    if (m_sig.size() >= MAX_PASS_CUTS) {
      m_overflow = true;
      return;
    }
    enumerate_node<HW>(x);
  }
}

void CUT_PASS::store_cut(const int32_t* leaves, int size, uint64_t sig) {
  const size_t at = m_sig.size(), k = size_t(m_k);
  m_sig.push_back(sig);
  m_size.push_back(uint8_t(size));
  m_leaves.resize((at + 1) * k);
  int32_t* out = &m_leaves[at * k];
  for (int i = 0; i < size; ++i) out[i] = leaves[i];
  for (size_t i = size_t(size); i < k; ++i) out[i] = -1;
}

// The trivial cut, then for a terminal with a row the merged unions: the
// first fan-in's kept cuts with the second's, the result with the third's,
// and so on. Removed cuts stay in the working set, marked, until stored.
template <bool HW>
inline void CUT_PASS::enumerate_node(int x) {
  m_first[x] = uint32_t(m_sig.size());
  const int32_t self = x;
  store_cut(&self, 1, signature_of(x));
  const uint32_t begin = m_row_begin[x], end = m_row_begin[x + 1];
  if (begin < end) {
    const int y = m_row[begin];
    if (end - begin == 1) {
      // One fan-in: its cuts as they are. The stores may move the arrays.
      for (uint32_t c = m_first[y]; c < m_first[y] + m_count[y]; ++c) {
        const size_t k = size_t(m_k);
        int32_t leaves[MAX_K];
        for (size_t i = 0; i < k; ++i) leaves[i] = m_leaves[size_t(c) * k + i];
        store_cut(leaves, m_size[c], m_sig[c]);
      }
    } else {
      merge<HW>(m_sig.data() + m_first[y], m_size.data() + m_first[y], m_leaves.data() + size_t(m_first[y]) * m_k,
                int(m_count[y]), m_row[begin + 1]);
      for (uint32_t p = begin + 2; p < end; ++p) {
        std::swap(m_working, m_result);
        merge<HW>(m_working.m_sig.data(), m_working.m_size.data(), m_working.m_leaves.data(), m_working.m_count,
                  m_row[p]);
      }
      for (int c = 0; c < m_result.m_count; ++c) {
        if (m_result.m_size[c] == DEAD_SIZE) continue;
        store_cut(&m_result.m_leaves[size_t(c) * m_k], m_result.m_size[c], m_result.m_sig[c]);
      }
    }
  }
  m_count[x] = uint32_t(m_sig.size()) - m_first[x];
}

// The irredundant feasible unions of the cuts given (removed ones marked
// DEAD_SIZE and skipped) with the kept cuts of y, into m_result: given cuts
// outer, y's cuts inner.
template <bool HW>
inline void CUT_PASS::merge(const uint64_t* sigs, const uint8_t* sizes, const int32_t* leaves, int count, int y) {
  m_result.clear();
  const int k = m_k;
  const uint32_t first = m_first[y], last = m_first[y] + m_count[y];
  const uint64_t* sig_b = m_sig.data();
  const uint8_t* size_b = m_size.data();
  const int32_t* leaves_b = m_leaves.data();
  for (int a = 0; a < count; ++a) {
    const int size_a = sizes[a];
    if (size_a == DEAD_SIZE) continue;
    const uint64_t sig_a = sigs[a];
    const int32_t* leaves_a = leaves + size_t(a) * k;
    for (uint32_t b = first; b < last; ++b) {
      const uint64_t sig = sig_a | sig_b[b];
      if (kavu_popcount(sig) > k) continue;
      const int size = cut_merge_leaves(leaves_a, size_a, leaves_b + size_t(b) * k, size_b[b], k, m_union.data());
      if (size < 0) continue;
      offer(m_union.data(), size, sig);
    }
  }
}

// Dominance as in the per-head enumeration, with removal by mark.
void CUT_PASS::offer(const int32_t* leaves, int size, uint64_t sig) {
  SET& r = m_result;
  const int k = m_k;
  const uint64_t* sigs = r.m_sig.data();
  uint8_t* sizes = r.m_size.data();
  const int32_t* all = r.m_leaves.data();
  for (int c = 0; c < r.m_count; ++c) {
    const uint64_t old_sig = sigs[c];
    const int old_size = sizes[c];  // DEAD_SIZE: never a subset, never a superset
    const int32_t* old = all + size_t(c) * k;
    if ((old_sig & ~sig) == 0 && old_size <= size && cut_leaves_subset(old, old_size, leaves, size)) return;
    if ((sig & ~old_sig) == 0 && size < old_size && old_size != DEAD_SIZE && cut_leaves_subset(leaves, size, old, old_size))
      sizes[c] = DEAD_SIZE;
  }
  r.append(leaves, size, sig, k);
}

// One depth-first walk over the ordered graph (roots sinks first or sources
// first, fan-ins in row order or reversed, by the variant's two bits); -1 marks
// an unvisited terminal, -2 one on the walk. Then each terminal's smallest
// post number over its cone: a terminal in the cone of another has a post
// number between that one's cone low and its own.
void CUT_PASS::label_graph(LABELS& labels, int variant) {
  const bool reverse_roots = variant & 1, reverse = variant & 2;
  const size_t n = m_oterms.size();
  std::vector<int32_t>& post = labels.m_post;
  post.assign(n, -1);
  labels.m_cone_low.assign(n, 0);
  int32_t counter = 0;
  for (size_t r = 0; r < m_order.size(); ++r) {
    const int root = m_order[reverse_roots ? r : m_order.size() - 1 - r];
    if (post[root] != -1) continue;
    post[root] = -2;
    m_stack.assign(1, FRAME{root, 0, 0, 0});
    while (!m_stack.empty()) {
      FRAME& frame = m_stack.back();
      const int x = frame.m_id;
      const uint32_t row = m_row_begin[x], size = m_row_begin[x + 1] - row;
      if (frame.m_next < size) {
        const uint32_t i = frame.m_next++;
        const int y = m_row[row + (reverse ? size - 1 - i : i)];
        if (post[y] != -1) continue;
        post[y] = -2;
        m_stack.push_back(FRAME{y, 0, 0, 0});  // `frame` may dangle from here on
        continue;
      }
      post[x] = counter++;
      m_stack.pop_back();
    }
  }
  for (int32_t x : m_order) {
    int32_t low = post[x];
    for (uint32_t p = m_row_begin[x]; p < m_row_begin[x + 1]; ++p) low = std::min(low, labels.m_cone_low[m_row[p]]);
    labels.m_cone_low[x] = low;
  }
}

// The labels and the support signatures move into one record per terminal
// (the walk reads both for every terminal it tests); their arrays are freed.
void CUT_PASS::pack_reach() {
  const size_t n = m_oterms.size();
  m_reach.assign(n, REACH());
  for (size_t x = 0; x < n; ++x) {
    REACH& r = m_reach[x];
    for (int i = 0; i < m_num_labels; ++i) {
      r.m_post[i] = m_labels[i].m_post[x];
      r.m_cone_low[i] = m_labels[i].m_cone_low[x];
    }
    for (int w = 0; w < SUPPORT_WORDS; ++w) r.m_support[w] = m_support[x * SUPPORT_WORDS + w];
  }
  for (LABELS& labels : m_labels) labels = LABELS();
  free_vector(m_support);
}

void CUT_PASS::next_answer() {
  if (++m_stamp == 0) {  // wrapped: old stamps could look current
    for (TERM_MARKS& t : m_marks) t.m_stamp = 0;
    m_stamp = 1;
  }
}

void CUT_PASS::enumerate_all() {
  const size_t n = m_oterms.size();
  m_first.assign(n, 0);
  m_count.assign(n, 0);
  m_union.assign(size_t(m_k) + 1, 0);
  if (kavu_cpu_has_popcnt()) enumerate_range_popcnt();
  else enumerate_range<false>();
}

KAVU_TARGET_POPCNT void CUT_PASS::enumerate_range_popcnt() { enumerate_range<true>(); }

// ---------------------------------------------------------------------------
// Answers

// Resizes the caller's set keeping the cut vectors it drops for the next
// answers, so answers of varying sizes do not free and allocate them anew.
void CUT_PASS::resize_cuts(KAVU_WVNET_MANAGER::CUT_SET* cuts, size_t n) {
  while (cuts->size() > n) {
    m_spare.push_back(std::move(cuts->back()));
    cuts->pop_back();
  }
  while (cuts->size() < n) {
    if (m_spare.empty()) {
      cuts->emplace_back();
      continue;
    }
    cuts->push_back(std::move(m_spare.back()));
    m_spare.pop_back();
  }
}

bool CUT_PASS::answer(CDB_SGATE_OTERM* head, unsigned depth, KAVU_WVNET_MANAGER::CUT_SET* cuts, bool* found) {
  if (!m_active) return false;
  const int h = m_id.value_or(head, -1);
  if (h < 0 || !m_ordered[h]) return false;
  // A don't-unmap LUT passes as the head but not inside another cone.
  if (bool(m_passes[h] & PASSES_AS_HEAD) != bool(m_passes[h] & PASSES)) return false;
  // A head deeper than the walk: its cone is cut short, its set may differ.
  if (depth >= 2 && int64_t(m_rank[h]) >= int64_t(depth)) return false;
  *found = false;
  const int num = depth < 2 ? 0 : int(m_count[h]) - 1;  // without the trivial cut
  if (num == 0) {
    cuts->clear();
    return true;
  }
  // The leaves of every cut, marked.
  next_answer();
  m_leaf_ids.clear();
  const uint32_t first = m_first[h] + 1;
  for (uint32_t c = first; c < first + uint32_t(num); ++c) {
    for (int i = 0; i < m_size[c]; ++i) {
      const int32_t leaf = m_leaves[size_t(c) * m_k + i];
      if (!mark(size_t(leaf), LEAF)) continue;
      m_leaf_ids.push_back(uint64_t(uint32_t(m_marks[size_t(leaf)].m_rank)) << 32 | uint32_t(leaf));
    }
  }
  if (!m_hubs_decided && m_walked >= HUB_SAMPLE) {
    m_hubs_decided = true;
    if (m_dead_ends * HUB_DEAD_END_SHARE > m_walked) {
      find_hubs();
      m_use_hubs = true;
    }
  }
  if (!place_leaves(h)) return false;
  resize_cuts(cuts, size_t(num));
  const TERM_MARKS* marks = m_marks.data();
  for (int n = 0; n < num; ++n) {
    const uint32_t c = first + uint32_t(n);
    const int size = m_size[c];
    const int32_t* leaves = &m_leaves[size_t(c) * m_k];
    int32_t sorted[MAX_K];
    int32_t key[MAX_K];
    for (int i = 0; i < size; ++i) {  // insertion sort by cone position
      const int32_t v = leaves[i], p = marks[v].m_position;
      int j = i;
      for (; j > 0 && key[j - 1] > p; --j) {
        sorted[j] = sorted[j - 1];
        key[j] = key[j - 1];
      }
      sorted[j] = v;
      key[j] = p;
    }
    KAVU_WVNET_MANAGER::CUT& cut = (*cuts)[size_t(n)];
    cut.resize(size_t(size));
    for (int i = 0; i < size; ++i) cut[size_t(i)] = m_oterms[size_t(sorted[i])];
  }
  *found = true;
  return true;
}

// Positions of the marked leaves in the depth-first post-order of the head's
// cone. The head is shallower than the walk depth, so every terminal with a
// row in the cone is expanded.
bool CUT_PASS::place_leaves(int head) {
  // By logic depth, then id (one key holds both): an insertion sort for
  // the few dozen leaves a head has at small K.
  uint64_t* keys = m_leaf_ids.data();
  const size_t num_leaves = m_leaf_ids.size();
  if (num_leaves > INSERTION_SORT_MAX) {
    std::sort(keys, keys + num_leaves);
  } else {
    for (size_t i = 1; i < num_leaves; ++i) {
      const uint64_t v = keys[i];
      size_t j = i;
      for (; j > 0 && keys[j - 1] > v; --j) keys[j] = keys[j - 1];
      keys[j] = v;
    }
  }
  m_leaf_heights.resize(num_leaves);
  m_leaf_placed.assign(num_leaves, 0);
  for (size_t i = 0; i < num_leaves; ++i) {
    TERM_MARKS& marks = m_marks[size_t(uint32_t(keys[i]))];
    m_leaf_heights[i] = marks.m_height;
    marks.m_position = uint32_t(i);
  }
  if (m_num_labels == NUM_LABELS)
    return m_use_hubs ? walk_to_leaves<NUM_LABELS, true>(head) : walk_to_leaves<NUM_LABELS, false>(head);
  return m_use_hubs ? walk_to_leaves<2, true>(head) : walk_to_leaves<2, false>(head);
}

// The walk, its tests unrolled for the labellings and hub sets in use. A
// terminal that reaches no unplaced leaf (by logic depth, hub set, interval
// labels and support signature) is skipped: it would mark only terminals on
// no path to a leaf. The walk stops once every leaf is placed.
template <int LABELS_USED, bool HUBS>
bool CUT_PASS::walk_to_leaves(int head) {
  const uint64_t* keys = m_leaf_ids.data();
  const int32_t* heights = m_leaf_heights.data();
  uint8_t* placed_leaf = m_leaf_placed.data();
  const size_t num_leaves = m_leaf_ids.size();
  size_t shallowest = 0, placed = 0;
  int position = 0;
  int64_t walked = 0, dead_ends = 0;
  m_stack.assign(1, FRAME{head, m_row_begin[head], m_row_begin[head + 1], 0});
  mark(size_t(head), SEEN);
  while (!m_stack.empty()) {
    FRAME& frame = m_stack.back();
    const int x = frame.m_id;
    if (frame.m_next < frame.m_end) {
      const int y = m_row[frame.m_next++];
      TERM_MARKS& marks_y = m_marks[size_t(y)];
      if (marks_y.m_stamp != m_stamp) {
        marks_y.m_stamp = m_stamp;
        marks_y.m_flags = 0;
      } else if (marks_y.m_flags & SEEN) {
        continue;
      }
      bool needed = marks_y.m_flags & LEAF;
      const uint64_t below_y = uint64_t(uint32_t(marks_y.m_rank)) << 32;
      const int32_t height_y = marks_y.m_height;
      for (size_t i = shallowest; !needed && i < num_leaves; ++i) {
        if (keys[i] >= below_y) break;  // by depth, none further on either
        needed = !placed_leaf[i] && heights[i] > height_y &&
                 may_reach<LABELS_USED, HUBS>(y, int32_t(uint32_t(keys[i])));
      }
      marks_y.m_flags |= SEEN;  // a terminal left out stays out: the unplaced leaves only shrink
      if (!needed) continue;
      m_stack.push_back(FRAME{y, m_row_begin[y], m_row_begin[y + 1], uint32_t(placed)});  // `frame` may dangle from here on
      continue;
    }
    TERM_MARKS& marks_x = m_marks[size_t(x)];
    const uint32_t leaf_index = marks_x.m_position;  // a leaf's place among the sorted ones
    marks_x.m_position = uint32_t(position++);
    const uint32_t placed_before = frame.m_placed;
    m_stack.pop_back();
    if (!(marks_x.m_flags & LEAF)) {
      ++walked;
      dead_ends += placed_before == placed;  // entered for nothing
      continue;
    }
    placed_leaf[leaf_index] = 1;
    if (++placed == num_leaves) {
      m_walked += walked;
      m_dead_ends += dead_ends;
      return true;
    }
    while (placed_leaf[shallowest]) ++shallowest;
  }
  return false;  // a leaf the walk did not reach
}

