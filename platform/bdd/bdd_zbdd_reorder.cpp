// bdd_zbdd_reorder.cpp — variable reordering of the BDD package: the
// in-place swap of two adjacent levels, and sifting, exhaustive search and
// installing an order, all made of such swaps.
//
// Swap of levels l (variable x) and l+1 (variable y): a node of x that does
// not point to a node of y just moves down a level. A node n = x ? f1 : f0
// with a child on y is rewritten in place as
//   n = y ? (x ? f11 : f01) : (x ? f10 : f00)
// where fab is the cofactor x=a, y=b; the two new x nodes are made (or
// found) below it, n moves to y's table and the old children lose a
// reference. n keeps its index and its function, so handles stay valid.
// With complement edges n's high child f1 is regular, hence f11 is, and the
// new high child (x ? f11 : f01) is regular too. Nodes that lose their last
// reference during a reordering are freed at once, so the node count after
// any reordering is exact (dead nodes are collected before it starts).
#include <algorithm>

#include "bdd/bdd_zbdd.h"
#include "msg/msg.h"

void BDD_ZBDD_MGR::prepare_reorder() {
  garbage_collect();  // also clears the computed table
}

void BDD_ZBDD_MGR::swap_levels(int level) {
  const int x = m_invperm[level];
  const int y = m_invperm[level + 1];
  // Only the nodes of x with a child on y change; the others stay where
  // they are in x's table. The movers leave the table during one scan that
  // starts after an empty slot: a deletion shifts back only slots of the
  // same run that the scan has not reached, so the slot just emptied is
  // looked at again and every node is seen once.
  // Whether a child lies on y is read from a bitmap of y's nodes (an
  // eighth of a byte per node, so it stays in cache) rather than from the
  // children themselves, which sit anywhere in the node vector.
  std::vector<uint64_t>& on_y = m_lower_bits;
  if (on_y.size() * 64 < m_nodes.size()) on_y.resize(m_nodes.size() / 64 + 1, 0);
  for (const SLOT& e : m_tables[y].slots)
    if (e.node != 0) on_y[size_t(e.node) >> 6] |= uint64_t(1) << (e.node & 63);
  auto child_on_y = [&on_y](int e) {
    const int n = node_of(e);
    return ((on_y[size_t(n) >> 6] >> (n & 63)) & 1u) != 0;
  };
  std::vector<int>& movers = m_scratch2;
  movers.clear();
  SUBTABLE& xt = m_tables[x];
  const size_t mask = xt.slots.size() - 1;
  size_t start = 0;
  while (xt.slots[start].node != 0) ++start;  // at most two thirds are full
  for (size_t k = 1; k <= mask; ++k) {
    const size_t s = (start + k) & mask;
    while (xt.slots[s].node != 0 && (child_on_y(xt.slots[s].lo) || child_on_y(xt.slots[s].hi))) {
      movers.push_back(xt.slots[s].node);
      erase_slot(xt, s);
    }
  }
  for (const SLOT& e : m_tables[y].slots)
    if (e.node != 0) on_y[size_t(e.node) >> 6] = 0;
  // The movers lie anywhere in the node vector: each one's node is fetched
  // eight movers ahead and its children four ahead, so the loads overlap.
  const size_t count = movers.size();
  for (size_t k = 0; k < count; ++k) {
    if (k + 8 < count) __builtin_prefetch(&m_nodes[movers[k + 8]]);
    if (k + 4 < count) {
      const NODE& ahead = m_nodes[movers[k + 4]];
      __builtin_prefetch(&m_nodes[node_of(ahead.lo)]);
      __builtin_prefetch(&m_nodes[node_of(ahead.hi)]);
    }
    const int n = movers[k];
    // A new x node cannot take a mover's old key: its children lie under y.
    const int f0 = m_nodes[n].lo, f1 = m_nodes[n].hi;
    int f00 = f0, f01 = f0, f10 = f1, f11 = f1;
    if (var_of_edge(f0) == y) f00 = lo_of(f0), f01 = hi_of(f0);
    if (var_of_edge(f1) == y) f10 = lo_of(f1), f11 = hi_of(f1);
    const int new_hi = mk(x, f01, f11);
    ref_node(node_of(new_hi));
    const int new_lo = mk(x, f00, f10);
    ref_node(node_of(new_lo));
    m_nodes[n].var = y;
    m_nodes[n].lo = new_lo;
    m_nodes[n].hi = new_hi;
    insert_in_table(n);
    for (int old : {f0, f1}) {
      const int o = node_of(old);
      if (m_nodes[o].var < 0) continue;
      deref_node(o);
      if (m_nodes[o].ref == 0) free_cascade(o);
    }
  }
  fit_subtable(m_tables[x]);
  fit_subtable(m_tables[y]);
  std::swap(m_invperm[level], m_invperm[level + 1]);
  m_perm[x] = level + 1;
  m_perm[y] = level;
}

void BDD_ZBDD_MGR::swap_adjacent_variables(int upper, int lower) {
  PLAT_CHECK(upper >= 0 && upper < m_nvars && lower >= 0 && lower < m_nvars, "BDD");
  PLAT_CHECK(m_perm[upper] + 1 == m_perm[lower], "BDD");
  prepare_reorder();
  swap_levels(m_perm[upper]);
}

void BDD_ZBDD_MGR::move_var_to_level(int var, int level) {
  while (m_perm[var] > level) swap_levels(m_perm[var] - 1);
  while (m_perm[var] < level) swap_levels(m_perm[var]);
}

void BDD_ZBDD_MGR::order_variables(const int* order, int n) {
  PLAT_CHECK(order != nullptr && n == m_nvars, "BDD");
  std::vector<char> seen(m_nvars, 0);
  for (int l = 0; l < n; ++l) {
    PLAT_CHECK(order[l] >= 0 && order[l] < m_nvars && !seen[order[l]], "BDD");
    seen[order[l]] = 1;
  }
  prepare_reorder();
  for (int l = 0; l < n; ++l) move_var_to_level(order[l], l);
}

// Moves `var` through the levels [from, to), nearer end first, and leaves it
// where the table was smallest (the first such place met). A direction is
// abandoned when the table grows past max_growth times its size at start.
void BDD_ZBDD_MGR::sift_variable(int var, int from, int to, double max_growth) {
  const int start_size = m_allocated;
  int best_size = m_allocated;
  int best_level = m_perm[var];
  const double bound = max_growth * start_size;
  auto go = [&](int target) {
    while (m_perm[var] != target) {
      if (m_perm[var] < target) swap_levels(m_perm[var]);
      else swap_levels(m_perm[var] - 1);
      if (m_allocated < best_size) {
        best_size = m_allocated;
        best_level = m_perm[var];
      }
      if (m_allocated > bound) break;
    }
  };
  const int here = m_perm[var];
  if (here - from < to - 1 - here) {
    go(from);
    go(to - 1);
  } else {
    go(to - 1);
    go(from);
  }
  move_var_to_level(var, best_level);
}

void BDD_ZBDD_MGR::sifting_reorder(int limit, int from, int to) {
  if (to < 0) to = m_nvars;
  PLAT_CHECK(from >= 0 && from <= to && to <= m_nvars, "BDD");
  if (to - from < 2) return;
  prepare_reorder();
  // Fullest levels first.
  std::vector<int> vars;
  for (int l = from; l < to; ++l) vars.push_back(m_invperm[l]);
  std::stable_sort(vars.begin(), vars.end(),
                   [this](int a, int b) { return m_tables[a].count > m_tables[b].count; });
  for (int v : vars) {
    if (limit > 0 && m_allocated < limit) break;
    sift_variable(v, from, to, 1.2);
  }
}

// Every permutation of the levels by adjacent transpositions (plain
// changes: n! - 1 swaps), then the smallest order found is installed.
void BDD_ZBDD_MGR::exhaustive_perm() {
  const int n = m_nvars;
  PLAT_CHECK(n <= 8, "BDD");
  if (n < 2) return;
  prepare_reorder();
  std::vector<int> best(m_invperm);
  int best_size = m_allocated;
  // Johnson-Trotter over positions: item i has a direction; the largest
  // mobile item moves one step.
  std::vector<int> pos(n), item(n), dir(n, -1);
  for (int i = 0; i < n; ++i) pos[i] = item[i] = i;
  for (;;) {
    int mobile = -1;
    for (int i = n - 1; i >= 0 && mobile < 0; --i) {
      const int p = pos[i], q = p + dir[i];
      if (q >= 0 && q < n && item[q] < i) mobile = i;
    }
    if (mobile < 0) break;
    const int p = pos[mobile], q = p + dir[mobile];
    swap_levels(std::min(p, q));
    const int other = item[q];
    std::swap(item[p], item[q]);
    pos[mobile] = q;
    pos[other] = p;
    for (int i = mobile + 1; i < n; ++i) dir[i] = -dir[i];
    if (m_allocated < best_size) {
      best_size = m_allocated;
      best = m_invperm;
    }
  }
  for (int l = 0; l < n; ++l) move_var_to_level(best[l], l);
}
