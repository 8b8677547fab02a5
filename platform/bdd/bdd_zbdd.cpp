// bdd_zbdd.cpp — the node table, handles, the Boolean operations and the
// graph queries of the BDD package. Reordering is in bdd_zbdd_reorder.cpp.
//
// Node table: one vector of 16-byte nodes; index 1 is the "true" terminal,
//   index 2 the "false" terminal when there are no complement edges. Each
//   variable has its own unique table: open addressing with linear probing
//   over slots that hold the key (low, high) beside the node index, so a
//   lookup reads one run of adjacent slots and no node; doubled past two
//   thirds full, halved by collections and reorderings below an eighth
//   (deletion shifts the run back, no tombstones). Reference counts count
//   parents and handles; a node
//   whose count drops to 0 is dead but keeps its children referenced until
//   garbage collection frees it (then its children may die in turn).
// Computed table: direct mapped on (operation, operands), cleared when nodes
//   are freed.
#include "bdd/bdd_zbdd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "fio/fio.h"
#include "msg/msg.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {
enum BDD_OP { OP_AND = 1, OP_OR, OP_XOR, OP_NOT, OP_ITE, OP_CONSTRAIN };
constexpr int k_free = -2;
constexpr int k_terminal = -1;

unsigned round_up_pow2(unsigned v, unsigned minimum) {
  unsigned p = minimum;
  while (p < v && p < (1u << 24)) p <<= 1;
  return p;
}
}  // namespace

// ===========================================================================
// Table storage
namespace {
constexpr size_t k_huge_page = size_t(1) << 21;
constexpr size_t k_huge_from = size_t(1) << 20;
}  // namespace

void* bdd_table_allocate(size_t bytes) {
  if (bytes < k_huge_from) return ::operator new(bytes);
  const size_t rounded = (bytes + k_huge_page - 1) & ~(k_huge_page - 1);
  void* p = std::aligned_alloc(k_huge_page, rounded);
  if (p == nullptr) throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  ::madvise(p, rounded, MADV_HUGEPAGE);
#endif
  return p;
}

void bdd_table_populate(void* p, size_t bytes) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  if (bytes >= k_huge_from) ::madvise(p, (bytes + k_huge_page - 1) & ~(k_huge_page - 1), MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)bytes;
#endif
}

void bdd_table_free(void* p, size_t bytes) {
  if (bytes < k_huge_from) ::operator delete(p);
  else std::free(p);
}

// ===========================================================================
// Handles
void BDD_ZBDD::link(BDD_ZBDD_MGR* mgr, int id) {
  m_mgr = mgr;
  m_id = id;
  if (mgr != nullptr) mgr->attach(this, id);
}

void BDD_ZBDD::unlink() {
  if (m_mgr != nullptr) m_mgr->detach(this);
  m_mgr = nullptr;
  m_id = 0;
}

BDD_ZBDD::BDD_ZBDD(BDD_ZBDD_MGR* mgr, int id) {
  if (mgr != nullptr) {
    const int n = id < 0 ? -id : id;
    PLAT_CHECK(n < (int)mgr->m_nodes.size() && (id == 0 || mgr->m_nodes[n].var != k_free), "BDD");
    PLAT_CHECK(id >= 0 || mgr->m_ce, "BDD");
  }
  link(mgr, id);
}

BDD_ZBDD::BDD_ZBDD(const BDD_ZBDD& other) { link(other.m_mgr, other.m_id); }

BDD_ZBDD::BDD_ZBDD(BDD_ZBDD&& other) noexcept { link(other.m_mgr, other.m_id); }

BDD_ZBDD& BDD_ZBDD::operator=(const BDD_ZBDD& other) {
  if (this == &other || (m_mgr == other.m_mgr && m_id == other.m_id)) return *this;
  BDD_ZBDD_MGR* mgr = other.m_mgr;
  const int id = other.m_id;
  unlink();
  link(mgr, id);
  return *this;
}

// A handle is a counted link, so a move is a copy: the source stays valid.
BDD_ZBDD& BDD_ZBDD::operator=(BDD_ZBDD&& other) noexcept { return *this = std::as_const(other); }

BDD_ZBDD::~BDD_ZBDD() { unlink(); }

void BDD_ZBDD::remove_from_manager() {
  BDD_ZBDD_MGR* mgr = m_mgr;
  unlink();
  m_mgr = mgr;  // still the manager's null handle
  if (mgr != nullptr) mgr->attach(this, 0);
}



int BDD_ZBDD_MGR::check_handle(const BDD_ZBDD& h) const {
  PLAT_CHECK(h.m_mgr == this && h.m_id != 0, "BDD");
  return h.m_id;
}

// ===========================================================================
// Manager
BDD_ZBDD_MGR::BDD_ZBDD_MGR(int vars, int nodes, int cache, bool complement_edges, bool)
    : m_ce(complement_edges), m_nvars(vars) {
  PLAT_CHECK(vars >= 0 && vars < (1 << 20), "BDD");
  // The node vector takes the size asked for at once (up to 2^24 nodes), so
  // a build of that size never copies it, and a large one is backed now
  // rather than page by page while the operations run.
  m_nodes.reserve(size_t(std::max(16, std::min(nodes, 1 << 24))));
  bdd_table_populate(m_nodes.data(), m_nodes.capacity() * sizeof(NODE));
  m_nodes.push_back(NODE{k_free, 0, 0, 0});             // index 0: never a node
  m_nodes.push_back(NODE{k_terminal, 0, 0, 1});         // true
  if (!m_ce) m_nodes.push_back(NODE{k_terminal, 0, 0, 1});  // false
  m_allocated = m_ce ? 1 : 2;
  m_tables.resize(vars);
  for (SUBTABLE& t : m_tables) t.slots.assign(16, SLOT{0, 0, 0});
  m_perm.resize(vars);
  m_invperm.resize(vars);
  for (int i = 0; i < vars; ++i) m_perm[i] = m_invperm[i] = i;
  m_cache_limit = round_up_pow2(cache > 0 ? unsigned(cache) : 4096u, 256u);
  m_cache.resize(256);
}

BDD_ZBDD_MGR::~BDD_ZBDD_MGR() {
  // Handles that outlive the manager become null handles of no manager.
  for (BDD_ZBDD* h = m_handles; h != nullptr;) {
    BDD_ZBDD* next = h->m_next;
    h->m_mgr = nullptr;
    h->m_id = 0;
    h->m_prev = h->m_next = nullptr;
    h = next;
  }
}

BDD_ZBDD BDD_ZBDD_MGR::true_bdd() { return BDD_ZBDD(this, one()); }
BDD_ZBDD BDD_ZBDD_MGR::false_bdd() { return BDD_ZBDD(this, zero()); }
BDD_ZBDD BDD_ZBDD_MGR::null_bdd() { return BDD_ZBDD(this, 0); }

BDD_ZBDD BDD_ZBDD_MGR::ithvar(int var) {
  PLAT_CHECK(var >= 0 && var < m_nvars, "BDD");
  return BDD_ZBDD(this, mk(var, zero(), one()));
}

BDD_ZBDD BDD_ZBDD_MGR::build_cube(const std::vector<BDD_ZBDD*>& inputs, uint64_t m, int n) {
  PLAT_CHECK(n >= 0 && n <= (int)inputs.size() && n <= 64, "BDD");
  maybe_collect();
  int cube = one();
  for (int i = 0; i < n; ++i) {
    PLAT_CHECK(inputs[i] != nullptr, "BDD");
    const int lit = check_handle(*inputs[i]);
    cube = and_rec(cube, ((m >> i) & 1u) != 0 ? lit : neg(lit));
  }
  return BDD_ZBDD(this, cube);
}

BDD_ZBDD BDD_ZBDD_MGR::build_cube(const std::vector<BDD_ZBDD>& inputs, uint64_t m, int n) {
  PLAT_CHECK(n >= 0 && n <= (int)inputs.size() && n <= 64, "BDD");
  maybe_collect();
  int cube = one();
  for (int i = 0; i < n; ++i) {
    const int lit = check_handle(inputs[i]);
    cube = and_rec(cube, ((m >> i) & 1u) != 0 ? lit : neg(lit));
  }
  return BDD_ZBDD(this, cube);
}

int BDD_ZBDD_MGR::variable_at(int level) const {
  PLAT_CHECK(level >= 0 && level < m_nvars, "BDD");
  return m_invperm[level];
}

int BDD_ZBDD_MGR::level_of_var(int var) const {
  PLAT_CHECK(var >= 0 && var < m_nvars, "BDD");
  return m_perm[var];
}

void BDD_ZBDD_MGR::node_counts_by_level(std::vector<int>* counts) const {
  PLAT_CHECK(counts != nullptr, "BDD");
  counts->assign(m_nvars, 0);
  for (int v = 0; v < m_nvars; ++v) (*counts)[m_perm[v]] = m_tables[v].count;
}

void BDD_ZBDD_MGR::get_variable_order(int* order) const {
  PLAT_CHECK(order != nullptr, "BDD");
  for (int l = 0; l < m_nvars; ++l) order[l] = m_invperm[l];
}

// ===========================================================================
// Node table



int BDD_ZBDD_MGR::neg(int e) { return m_ce ? -e : not_rec(e); }




void BDD_ZBDD_MGR::insert_in_table(int i) {
  const NODE& n = m_nodes[i];
  SUBTABLE& t = m_tables[n.var];
  if (3 * (t.count + 1) > 2 * (int)t.slots.size()) resize_subtable(t, t.slots.size() * 2);
  const size_t mask = t.slots.size() - 1;
  size_t s = home_slot(t, n.lo, n.hi);
  while (t.slots[s].node != 0) s = (s + 1) & mask;
  t.slots[s] = SLOT{n.lo, n.hi, i};
  ++t.count;
}

void BDD_ZBDD_MGR::remove_from_table(int i) {
  const NODE& n = m_nodes[i];
  SUBTABLE& t = m_tables[n.var];
  const size_t mask = t.slots.size() - 1;
  size_t s = home_slot(t, n.lo, n.hi);
  while (t.slots[s].node != i) {
    PLAT_CHECK(t.slots[s].node != 0, "BDD");
    s = (s + 1) & mask;
  }
  erase_slot(t, s);
}

// Linear-probing deletion: the later slots of the run that may sit at the
// hole (their home is not cyclically inside (hole, slot]) shift back into
// it, so only slots after `hole` in its run change.
void BDD_ZBDD_MGR::erase_slot(SUBTABLE& t, size_t hole) {
  const size_t mask = t.slots.size() - 1;
  for (size_t s = (hole + 1) & mask; t.slots[s].node != 0; s = (s + 1) & mask) {
    const size_t home = home_slot(t, t.slots[s].lo, t.slots[s].hi);
    if (((s - home) & mask) >= ((s - hole) & mask)) {
      t.slots[hole] = t.slots[s];
      hole = s;
    }
  }
  t.slots[hole].node = 0;
  --t.count;
}

// The old slots are entered in slot order (which fixes the new layout);
// the home slot of the entry a few places ahead is fetched meanwhile.
void BDD_ZBDD_MGR::resize_subtable(SUBTABLE& t, size_t slots) {
  constexpr size_t k_ahead = 8;
  BDD_TABLE<SLOT> old(slots, SLOT{0, 0, 0});
  old.swap(t.slots);
  const size_t mask = slots - 1;
  const size_t n = old.size();
  for (size_t i = 0; i < n; ++i) {
    if (i + k_ahead < n && old[i + k_ahead].node != 0)
      __builtin_prefetch(&t.slots[home_slot(t, old[i + k_ahead].lo, old[i + k_ahead].hi)], 1);
    const SLOT& e = old[i];
    if (e.node == 0) continue;
    size_t s = home_slot(t, e.lo, e.hi);
    while (t.slots[s].node != 0) s = (s + 1) & mask;
    t.slots[s] = e;
  }
}

// Halves a table left under an eighth full down to about a third full.
void BDD_ZBDD_MGR::fit_subtable(SUBTABLE& t) {
  if (t.slots.size() <= 16 || 8 * size_t(t.count) >= t.slots.size()) return;
  size_t slots = 16;
  while (slots < 3 * size_t(t.count)) slots *= 2;
  resize_subtable(t, slots);
}

// The node (var, lo, hi) without the complement normalisation. A hit reads
// only the table; a new node takes the empty slot the probe ended on.
int BDD_ZBDD_MGR::find_or_add(int var, int lo, int hi) {
  // A new node references its children: fetch them while the probe waits
  // for its slot.
  __builtin_prefetch(&m_nodes[node_of(lo)]);
  __builtin_prefetch(&m_nodes[node_of(hi)]);
  SUBTABLE& t = m_tables[var];
  const size_t mask = t.slots.size() - 1;
  size_t s = home_slot(t, lo, hi);
  for (;; s = (s + 1) & mask) {
    const SLOT& e = t.slots[s];
    if (e.node == 0) break;
    if (e.lo == lo && e.hi == hi) return e.node;
  }
  int i;
  if (m_free != 0) {
    i = m_free;
    m_free = m_nodes[i].hi;
    m_nodes[i] = NODE{var, lo, hi, 0};
  } else {
    PLAT_CHECK(m_nodes.size() < size_t(1u << 30), "BDD");
    i = (int)m_nodes.size();
    m_nodes.push_back(NODE{var, lo, hi, 0});
  }
  ++m_allocated;
  ++m_dead;  // until a parent or a handle takes it
  ref_node(node_of(lo));
  ref_node(node_of(hi));
  if (3 * (t.count + 1) > 2 * (int)t.slots.size()) {
    insert_in_table(i);  // grows the table first
  } else {
    t.slots[s] = SLOT{lo, hi, i};
    ++t.count;
  }
  return i;
}

int BDD_ZBDD_MGR::mk(int var, int lo, int hi) {
  ++m_work;
  if (lo == hi) return lo;
  if (m_ce && hi < 0) return -find_or_add(var, -lo, -hi);
  return find_or_add(var, lo, hi);
}

// Frees node i (dead, ref 0) and every node that dies with it.
void BDD_ZBDD_MGR::free_cascade(int i) {
  m_stack.clear();
  m_stack.push_back(i);
  while (!m_stack.empty()) {
    const int n = m_stack.back();
    m_stack.pop_back();
    remove_from_table(n);
    const int children[2] = {node_of(m_nodes[n].lo), node_of(m_nodes[n].hi)};
    m_nodes[n].var = k_free;
    m_nodes[n].hi = m_free;
    m_free = n;
    --m_allocated;
    --m_dead;
    for (int c : children) {
      if (m_nodes[c].var < 0) continue;
      deref_node(c);
      if (m_nodes[c].ref == 0) m_stack.push_back(c);
    }
  }
}

void BDD_ZBDD_MGR::garbage_collect() {
  cache_clear();
  if (m_dead == 0) return;
  m_scratch.clear();
  for (int i = 1; i < (int)m_nodes.size(); ++i)
    if (m_nodes[i].var >= 0 && m_nodes[i].ref == 0) m_scratch.push_back(i);
  // A node found dead may be freed by an earlier cascade already: it is
  // then marked free and skipped.
  for (int i : m_scratch)
    if (m_nodes[i].var >= 0 && m_nodes[i].ref == 0) free_cascade(i);
  for (SUBTABLE& t : m_tables) fit_subtable(t);
}

// ===========================================================================
// Computed table

void BDD_ZBDD_MGR::cache_put(int op, int f, int g, int h, int r) {
  if (size_t(m_allocated) > m_cache.size() && m_cache.size() < m_cache_limit) {
    m_cache.assign(m_cache.size() * 4 > m_cache_limit ? m_cache_limit : m_cache.size() * 4, CACHE_ENTRY{});
  }
  const int key = cache_key(op, h);
  m_cache[cache_slot(f, g, key)] = CACHE_ENTRY{f, g, key, r};
  m_cache_written = true;
}

void BDD_ZBDD_MGR::maybe_collect() {
  // Only between operations: every node an operation still needs is then
  // held by a handle.
  if (m_dead > 65536 && m_dead > m_allocated / 2) garbage_collect();
}

void BDD_ZBDD_MGR::cache_clear() {
  if (!m_cache_written) return;
  std::fill(m_cache.begin(), m_cache.end(), CACHE_ENTRY{});
  m_cache_written = false;
}

// ===========================================================================
// Operations on edges. Results are unreferenced edges; nothing is freed
// while an operation runs, so they stay valid until the caller takes them.


// One cached Shannon step of a binary operation whose terminal cases are
// done and whose operands are in cache order: split both at the top level,
// apply OP to each half and join the halves.
template <int (BDD_ZBDD_MGR::*OP)(int, int)>
int BDD_ZBDD_MGR::shannon_step(int op, int f, int g) {
  int r;
  if (cache_find(op, f, g, 0, &r)) return r;
  const int l = top_level(f, g);
  int f0, f1, g0, g1;
  cofactors(f, l, &f0, &f1);
  cofactors(g, l, &g0, &g1);
  // The second half's computed-table entry (in the operand order its step
  // looks it up) is fetched while the first half runs.
  __builtin_prefetch(&m_cache[cache_slot(std::min(f1, g1), std::max(f1, g1), cache_key(op, 0))]);
  const int lo = (this->*OP)(f0, g0);
  const int hi = (this->*OP)(f1, g1);
  r = mk(m_invperm[l], lo, hi);
  cache_put(op, f, g, 0, r);
  return r;
}

int BDD_ZBDD_MGR::and_rec(int f, int g) {
  if (f == zero() || g == zero()) return zero();
  if (f == one()) return g;
  if (g == one() || f == g) return f;
  if (m_ce && f == -g) return zero();
  if (f > g) std::swap(f, g);
  return shannon_step<&BDD_ZBDD_MGR::and_rec>(OP_AND, f, g);
}

int BDD_ZBDD_MGR::or_rec(int f, int g) {
  if (m_ce) return -and_rec(-f, -g);
  if (f == one() || g == one()) return one();
  if (f == zero()) return g;
  if (g == zero() || f == g) return f;
  if (f > g) std::swap(f, g);
  return shannon_step<&BDD_ZBDD_MGR::or_rec>(OP_OR, f, g);
}

int BDD_ZBDD_MGR::not_rec(int f) {
  if (m_ce) return -f;
  if (f == one()) return zero();
  if (f == zero()) return one();
  int r;
  if (cache_find(OP_NOT, f, 0, 0, &r)) return r;
  const int f1 = hi_of(f);
  __builtin_prefetch(&m_cache[cache_slot(f1, 0, cache_key(OP_NOT, 0))]);
  const int lo = not_rec(lo_of(f));
  const int hi = not_rec(f1);
  r = mk(var_of_edge(f), lo, hi);
  cache_put(OP_NOT, f, 0, 0, r);
  cache_put(OP_NOT, r, 0, 0, f);
  return r;
}

int BDD_ZBDD_MGR::xor_rec(int f, int g) {
  if (f == zero()) return g;
  if (g == zero()) return f;
  if (f == g) return zero();
  if (f == one()) return neg(g);
  if (g == one()) return neg(f);
  bool flip = false;
  if (m_ce) {
    if (f == -g) return one();
    if (f < 0) f = -f, flip = !flip;
    if (g < 0) g = -g, flip = !flip;
  }
  if (f > g) std::swap(f, g);
  const int r = shannon_step<&BDD_ZBDD_MGR::xor_rec>(OP_XOR, f, g);
  return flip ? -r : r;
}

int BDD_ZBDD_MGR::ite_rec(int f, int g, int h) {
  if (f == one()) return g;
  if (f == zero()) return h;
  if (g == h) return g;
  if (g == one() && h == zero()) return f;
  if (g == zero() && h == one()) return neg(f);
  if (g == one() || f == g) return or_rec(f, h);
  if (h == zero() || f == h) return and_rec(f, g);
  if (g == zero()) return and_rec(neg(f), h);
  if (h == one()) return or_rec(neg(f), g);
  bool flip = false;
  if (m_ce) {
    if (f < 0) f = -f, std::swap(g, h);
    if (g < 0) g = -g, h = -h, flip = true;
  }
  int r;
  if (!cache_find(OP_ITE, f, g, h, &r)) {
    const int l = std::min(level_of_edge(f), top_level(g, h));
    int f0, f1, g0, g1, h0, h1;
    cofactors(f, l, &f0, &f1);
    cofactors(g, l, &g0, &g1);
    cofactors(h, l, &h0, &h1);
    // Both halves' computed-table entries are fetched now, so the second
    // one's miss overlaps the first half's work.
    __builtin_prefetch(&m_cache[cache_slot(f0, g0, cache_key(OP_ITE, h0))]);
    __builtin_prefetch(&m_cache[cache_slot(f1, g1, cache_key(OP_ITE, h1))]);
    const int lo = ite_rec(f0, g0, h0);
    const int hi = ite_rec(f1, g1, h1);
    r = mk(m_invperm[l], lo, hi);
    cache_put(OP_ITE, f, g, h, r);
  }
  return flip ? -r : r;
}

int BDD_ZBDD_MGR::constrain_rec(int f, int c) {
  if (c == one() || f == one() || f == zero()) return f;
  if (f == c) return one();
  if (m_ce && f == -c) return zero();
  int r;
  if (cache_find(OP_CONSTRAIN, f, c, 0, &r)) return r;
  const int l = top_level(f, c);
  int f0, f1, c0, c1;
  cofactors(f, l, &f0, &f1);
  cofactors(c, l, &c0, &c1);
  if (c0 == zero()) r = constrain_rec(f1, c1);
  else if (c1 == zero()) r = constrain_rec(f0, c0);
  else {
    const int lo = constrain_rec(f0, c0);
    const int hi = constrain_rec(f1, c1);
    r = mk(m_invperm[l], lo, hi);
  }
  cache_put(OP_CONSTRAIN, f, c, 0, r);
  return r;
}

// ===========================================================================
// Operators
namespace {
BDD_ZBDD_MGR* same_manager(const BDD_ZBDD& f, const BDD_ZBDD& g) {
  PLAT_CHECK(f.get_manager() != nullptr && f.get_manager() == g.get_manager(), "BDD");
  PLAT_CHECK(!f.is_null() && !g.is_null(), "BDD");
  return f.get_manager();
}
}  // namespace

BDD_ZBDD BDD_ZBDD::operator&(const BDD_ZBDD& g) const {
  BDD_ZBDD_MGR* m = same_manager(*this, g);
  m->maybe_collect();
  return BDD_ZBDD(m, m->and_rec(m_id, g.m_id));
}

BDD_ZBDD BDD_ZBDD::operator|(const BDD_ZBDD& g) const {
  BDD_ZBDD_MGR* m = same_manager(*this, g);
  m->maybe_collect();
  return BDD_ZBDD(m, m->or_rec(m_id, g.m_id));
}

BDD_ZBDD BDD_ZBDD::operator^(const BDD_ZBDD& g) const {
  BDD_ZBDD_MGR* m = same_manager(*this, g);
  m->maybe_collect();
  return BDD_ZBDD(m, m->xor_rec(m_id, g.m_id));
}

BDD_ZBDD BDD_ZBDD::operator!() const {
  BDD_ZBDD_MGR* m = same_manager(*this, *this);
  if (!m->m_ce) m->maybe_collect();
  return BDD_ZBDD(m, m->not_rec(m_id));
}

BDD_ZBDD& BDD_ZBDD::operator&=(const BDD_ZBDD& g) { return *this = *this & g; }
BDD_ZBDD& BDD_ZBDD::operator|=(const BDD_ZBDD& g) { return *this = *this | g; }
BDD_ZBDD& BDD_ZBDD::operator^=(const BDD_ZBDD& g) { return *this = *this ^ g; }

BDD_ZBDD BDD_ZBDD::Ite(const BDD_ZBDD& t, const BDD_ZBDD& e) const {
  BDD_ZBDD_MGR* m = same_manager(*this, t);
  same_manager(t, e);
  m->maybe_collect();
  return BDD_ZBDD(m, m->ite_rec(m_id, t.m_id, e.m_id));
}

BDD_ZBDD BDD_ZBDD::Constrain(const BDD_ZBDD& c) const {
  BDD_ZBDD_MGR* m = same_manager(*this, c);
  PLAT_CHECK(c.m_id != m->zero(), "BDD");
  m->maybe_collect();
  return BDD_ZBDD(m, m->constrain_rec(m_id, c.m_id));
}

bool BDD_ZBDD::operator==(const BDD_ZBDD& g) const {
  if (m_id == 0 || g.m_id == 0) return m_id == g.m_id;
  return m_mgr == g.m_mgr && m_id == g.m_id;
}

BDD_ZBDD BDD_ZBDD::regularize() const {
  if (m_mgr == nullptr) return BDD_ZBDD();
  return BDD_ZBDD(m_mgr, index());
}

int BDD_ZBDD::checked() const {
  PLAT_CHECK(m_mgr != nullptr && m_id != 0, "BDD");
  return m_id;
}

bool BDD_ZBDD::is_constant() const {
  const int i = checked();
  return m_mgr->is_terminal(i);
}

int BDD_ZBDD::variable() const {
  const int i = checked();
  return m_mgr->is_terminal(i) ? -1 : m_mgr->var_of_edge(i);
}

int BDD_ZBDD::level() const {
  const int i = checked();
  return m_mgr->level_of_edge(i);
}

BDD_ZBDD BDD_ZBDD::low_child() const {
  PLAT_CHECK(!is_constant(), "BDD");
  return BDD_ZBDD(m_mgr, m_mgr->m_nodes[index()].lo);
}

BDD_ZBDD BDD_ZBDD::high_child() const {
  PLAT_CHECK(!is_constant(), "BDD");
  return BDD_ZBDD(m_mgr, m_mgr->m_nodes[index()].hi);
}

// ===========================================================================
// Walks
uint32_t BDD_ZBDD_MGR::next_mark() {
  if (m_marks.size() < m_nodes.size()) m_marks.resize(m_nodes.size(), 0);
  if (++m_mark == 0) {
    std::fill(m_marks.begin(), m_marks.end(), 0);
    m_mark = 1;
  }
  return m_mark;
}

// Every node of the graph under `root` once (terminals included), each after
// its children.
void BDD_ZBDD_MGR::collect_nodes(int root, std::vector<int>* out) {
  out->clear();
  const uint32_t mark = next_mark();
  std::vector<int>& stack = m_scratch2;
  stack.clear();
  stack.push_back(node_of(root));
  while (!stack.empty()) {
    const int top = stack.back();
    const int n = top < 0 ? -top : top;
    if (top < 0) {  // children done
      stack.pop_back();
      out->push_back(n);
      continue;
    }
    if (m_marks[n] == mark) {
      stack.pop_back();
      continue;
    }
    m_marks[n] = mark;
    stack.back() = -n;
    if (m_nodes[n].var >= 0) {
      const int lo = node_of(m_nodes[n].lo), hi = node_of(m_nodes[n].hi);
      if (m_marks[lo] != mark) stack.push_back(lo);
      if (m_marks[hi] != mark) stack.push_back(hi);
    }
  }
}

int BDD_ZBDD::size() const {
  checked();
  std::vector<int> nodes;
  m_mgr->collect_nodes(m_id, &nodes);
  return (int)nodes.size();
}

int BDD_ZBDD::size_upto_level(int l) const {
  checked();
  std::vector<int> nodes;
  m_mgr->collect_nodes(m_id, &nodes);
  int count = 0;
  for (int n : nodes)
    if (m_mgr->level_of_edge(n) <= l) ++count;
  return count;
}

int BDD_ZBDD::support_size() const {
  std::vector<int> vars;
  build_support(&vars);
  return (int)vars.size();
}

void BDD_ZBDD::build_support(std::vector<int>* vars) const {
  PLAT_CHECK(vars != nullptr, "BDD");
  checked();
  std::vector<int> nodes;
  m_mgr->collect_nodes(m_id, &nodes);
  std::vector<char> seen(m_mgr->m_nvars, 0);
  vars->clear();
  for (int n : nodes) {
    const int v = m_mgr->m_nodes[n].var;
    if (v >= 0 && !seen[v]) {
      seen[v] = 1;
      vars->push_back(v);
    }
  }
  const std::vector<int>& perm = m_mgr->m_perm;
  std::sort(vars->begin(), vars->end(), [&perm](int a, int b) { return perm[a] < perm[b]; });
}

void BDD_ZBDD::make_truth_table(std::vector<uint64_t>* words) const {
  PLAT_CHECK(words != nullptr, "BDD");
  checked();
  const int n = m_mgr->m_nvars;
  PLAT_CHECK(n <= 24, "BDD");
  const uint64_t minterms = uint64_t(1) << n;
  words->assign(n <= 6 ? 1 : size_t(minterms / 64), 0);
  for (uint64_t m = 0; m < minterms; ++m) {
    int e = m_id;
    while (!m_mgr->is_terminal(e)) {
      const int l = m_mgr->level_of_edge(e);
      e = ((m >> l) & 1u) != 0 ? m_mgr->hi_of(e) : m_mgr->lo_of(e);
    }
    if (e == m_mgr->one()) (*words)[m / 64] |= uint64_t(1) << (m % 64);
  }
}

void BDD_ZBDD::get_cut_nodes(int level, std::vector<BDD_ZBDD>* nodes) const {
  PLAT_CHECK(nodes != nullptr, "BDD");
  checked();
  nodes->clear();
  std::vector<int> all;
  m_mgr->collect_nodes(m_id, &all);
  std::vector<int> found;
  auto add = [&](int e) {
    const int n = m_mgr->is_terminal(e) ? e : BDD_ZBDD_MGR::node_of(e);
    if (std::find(found.begin(), found.end(), n) == found.end()) found.push_back(n);
  };
  // Root first, then the edges from above the cut, walking from the root
  // down (the reverse of the children-first order).
  if (m_mgr->level_of_edge(m_id) >= level) add(m_id);
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    const int n = *it;
    if (m_mgr->is_terminal(n) || m_mgr->level_of_edge(n) >= level) continue;
    const int hi = m_mgr->m_nodes[n].hi, lo = m_mgr->m_nodes[n].lo;
    if (m_mgr->level_of_edge(lo) >= level) add(lo);
    if (m_mgr->level_of_edge(hi) >= level) add(hi);
  }
  for (int n : found) nodes->push_back(BDD_ZBDD(m_mgr, n));
}

void BDD_ZBDD::get_top_order(std::vector<BDD_ZBDD>* nodes, bool by_level) const {
  PLAT_CHECK(nodes != nullptr, "BDD");
  checked();
  std::vector<int> all;
  m_mgr->collect_nodes(m_id, &all);
  std::vector<int> inner;
  for (int n : all)
    if (!m_mgr->is_terminal(n)) inner.push_back(n);
  if (by_level) {
    BDD_ZBDD_MGR* m = m_mgr;
    std::stable_sort(inner.begin(), inner.end(),
                     [m](int a, int b) { return m->level_of_edge(a) > m->level_of_edge(b); });
  }
  nodes->clear();
  for (int n : inner) nodes->push_back(BDD_ZBDD(m_mgr, n));
}

// ===========================================================================
// Cut assignment, iteration, output
BDD_ZBDD BDD_ZBDD_MGR::assign_cut_node_values(const BDD_ZBDD& f, int, const std::vector<BDD_ZBDD>& nodes,
                                              const std::vector<int>& values) {
  check_handle(f);
  PLAT_CHECK(nodes.size() == values.size(), "BDD");
  maybe_collect();
  std::unordered_map<int, int> result;  // regular node -> edge of its replacement
  int if_true = one(), if_false = zero();  // constants replace constant edges only
  for (size_t i = 0; i < nodes.size(); ++i) {
    PLAT_CHECK(nodes[i].get_manager() == this && !nodes[i].is_null(), "BDD");
    PLAT_CHECK(values[i] == 0 || values[i] == 1, "BDD");
    const int v = values[i] ? one() : zero();
    if (is_terminal(nodes[i].id())) {
      (nodes[i].id() == one() ? if_true : if_false) = v;
      continue;
    }
    // A listed complemented handle stands for its regular node complemented.
    result[nodes[i].index()] = nodes[i].is_complement() ? neg(v) : v;
  }
  auto edge_result = [&](int e) {
    if (is_terminal(e)) return e == one() ? if_true : if_false;
    const int r = result[node_of(e)];
    return e < 0 ? -r : r;
  };
  std::vector<int> order;
  collect_nodes(f.id(), &order);  // children first
  for (int n : order) {
    if (m_nodes[n].var < 0 || result.count(n) != 0) continue;
    const int var = m_nodes[n].var, lo = m_nodes[n].lo, hi = m_nodes[n].hi;
    const int rlo = edge_result(lo);
    const int rhi = edge_result(hi);
    result[n] = mk(var, rlo, rhi);
  }
  return BDD_ZBDD(this, edge_result(f.id()));
}

BDD_ZBDD BDD_ZBDD_ITERATOR::operator*() const { return BDD_ZBDD(m_mgr, m_index); }

BDD_ZBDD_ITERATOR& BDD_ZBDD_ITERATOR::operator++() {
  const int n = (int)m_mgr->m_nodes.size();
  do ++m_index;
  while (m_index < n && m_mgr->m_nodes[m_index].var < 0);
  return *this;
}

BDD_ZBDD_ITERATOR BDD_ZBDD_MGR::begin() {
  BDD_ZBDD_ITERATOR it(this, 0);
  return ++it;
}

BDD_ZBDD_ITERATOR BDD_ZBDD_MGR::end() { return BDD_ZBDD_ITERATOR(this, (int)m_nodes.size()); }

bool BDD_ZBDD_MGR::fprint_table_as_dot(const char* file_name, std::string* problem) {
  PLAT_CHECK(file_name != nullptr, "BDD");
  FILE* out = FIO_FILE_SYSTEM::fopen_own_file(file_name, problem);
  if (out == nullptr) return false;
  std::fprintf(out, "digraph bdd_table {\n  node [shape=circle];\n");
  std::fprintf(out, "  n1 [shape=box,label=\"1\"];\n");
  if (!m_ce) std::fprintf(out, "  n2 [shape=box,label=\"0\"];\n");
  for (int l = 0; l < m_nvars; ++l) {
    const int v = m_invperm[l];
    std::fprintf(out, "  { rank=same; ");
    for (const SLOT& e : m_tables[v].slots)
      if (e.node != 0) std::fprintf(out, "n%d [label=\"%d:x%d\"]; ", e.node, e.node, v);
    std::fprintf(out, "}\n");
    for (const SLOT& e : m_tables[v].slots)
      if (e.node != 0) {
        const int i = e.node;
        const NODE& n = m_nodes[i];
        std::fprintf(out, "  n%d -> n%d [style=dashed%s];\n", i, node_of(n.lo), n.lo < 0 ? ",arrowhead=odot" : "");
        std::fprintf(out, "  n%d -> n%d;\n", i, node_of(n.hi));
      }
  }
  std::fprintf(out, "}\n");
  if (std::fclose(out) == 0) return true;
  if (problem) *problem = std::string("cannot write the file: ") + std::strerror(errno);
  return false;
}

void BDD_ZBDD_MGR::dump_variable_order() const {
  std::string text = "Variable order:";
  for (int l = 0; l < m_nvars; ++l) {
    text += ' ';
    text += std::to_string(m_invperm[l]);
  }
  msg_local_debug("BDD", 2, "%s", text.c_str());
}
