// Role: BDD package (docs/platform.md, "BDD package").
// bdd_zbdd.h — reduced ordered binary decision diagrams (ordinary ROBDDs,
// not zero-suppressed ones, whatever the class names suggest).
//
// Model: a manager (BDD_ZBDD_MGR) owns a node table for a fixed number of
//   variables 0..n-1 and a variable order (level 0 on top). A node is
//   (variable, low child, high child); nodes are unique per manager, so two
//   handles of one manager are equal exactly when their functions are. Edges
//   are signed ids: the node's index (index 0 is never a node), negative for
//   a complemented edge when the manager was built with complement edges.
//   With complement edges the one terminal is "true" and false is its
//   complement, and every high edge is regular; without them there are two
//   terminals and no edge is ever negative.
// Handles: BDD_ZBDD holds a reference on its node, so the node and every
//   node below it survive garbage collection. A handle outliving its manager
//   becomes a null handle when the manager goes.
// Memory: dead nodes (no handle, no parent) stay in the table (size() counts
//   them) until garbage_collect() or a reordering removes them; an operation
//   that meets a dead node with the wanted function revives it. When dead
//   nodes pass 65536 and half the table, an operation collects them before
//   it starts.
// Reordering never happens by itself. swap_adjacent_variables exchanges two
//   adjacent levels in place: every node keeps its index and its function,
//   so handles and results stay valid. Sifting, the exhaustive search and
//   order_variables are made of such swaps; after any of them size() is the
//   exact live node count.
// Caches: a direct-mapped computed table per manager that starts small and
//   grows with the node table up to the size asked for; cleared by garbage
//   collection and by reordering.
// Broken preconditions (handles of two managers mixed, a null handle used,
//   a variable or level out of range) are internal errors of "BDD".
// Recursion in the operations is bounded by the number of variables (each
//   step goes one level down); walks over whole graphs use explicit stacks.
// Not thread-safe: a manager and its handles belong to one thread; any
//   number of managers may live at once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class BDD_ZBDD_MGR;

// Storage of the manager's node, unique and computed tables. A block of a
// megabyte or more is aligned to 2 MiB, rounded up to a multiple of it and
// backed with huge pages where the system allows: the operations probe
// these tables at random, and tables of tens of megabytes on small pages
// cost an address translation miss on almost every probe.
void* bdd_table_allocate(size_t bytes);
void bdd_table_free(void* p, size_t bytes);
// Backs a block of bdd_table_allocate now (a no-op for small blocks).
void bdd_table_populate(void* p, size_t bytes);
template <class T>
struct BDD_TABLE_ALLOCATOR {
  using value_type = T;
  BDD_TABLE_ALLOCATOR() = default;
  template <class U>
  BDD_TABLE_ALLOCATOR(const BDD_TABLE_ALLOCATOR<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(bdd_table_allocate(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { bdd_table_free(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const BDD_TABLE_ALLOCATOR<U>&) const { return true; }
};
template <class T>
using BDD_TABLE = std::vector<T, BDD_TABLE_ALLOCATOR<T>>;

class BDD_ZBDD {
 public:
  BDD_ZBDD() = default;
  // The handle of edge `id` of `mgr` (0 gives the manager's null handle).
  BDD_ZBDD(BDD_ZBDD_MGR* mgr, int id);
  BDD_ZBDD(const BDD_ZBDD& other);
  BDD_ZBDD(BDD_ZBDD&& other) noexcept;
  BDD_ZBDD& operator=(const BDD_ZBDD& other);
  BDD_ZBDD& operator=(BDD_ZBDD&& other) noexcept;
  ~BDD_ZBDD();

  BDD_ZBDD operator&(const BDD_ZBDD& g) const;
  BDD_ZBDD operator|(const BDD_ZBDD& g) const;
  BDD_ZBDD operator^(const BDD_ZBDD& g) const;
  BDD_ZBDD operator!() const;
  BDD_ZBDD& operator&=(const BDD_ZBDD& g);
  BDD_ZBDD& operator|=(const BDD_ZBDD& g);
  BDD_ZBDD& operator^=(const BDD_ZBDD& g);
  BDD_ZBDD Not() const { return !*this; }
  // this ? t : e.
  BDD_ZBDD Ite(const BDD_ZBDD& t, const BDD_ZBDD& e) const;
  // Generalized cofactor of this by c (c must not be false): equal to this
  // wherever c is 1.
  BDD_ZBDD Constrain(const BDD_ZBDD& c) const;
  // Equal ids of one manager; two null handles are equal whatever their
  // managers.
  bool operator==(const BDD_ZBDD& g) const;
  bool operator!=(const BDD_ZBDD& g) const { return !(*this == g); }

  BDD_ZBDD_MGR* get_manager() const { return m_mgr; }
  int id() const { return m_id; }
  int index() const { return m_id < 0 ? -m_id : m_id; }
  bool is_null() const { return m_id == 0; }
  bool is_complement() const { return m_id < 0; }
  BDD_ZBDD regularize() const;
  bool is_constant() const;
  // The node's variable and its level; a constant has variable -1 and the
  // level one below the last variable.
  int variable() const;
  int level() const;
  // Children of the regular node (with complement edges the high child is
  // regular, the low one may not be). A constant has no children.
  BDD_ZBDD low_child() const;
  BDD_ZBDD high_child() const;

  int support_size() const;
  // The variables the function depends on, top level first.
  void build_support(std::vector<int>* vars) const;
  // The function over all variables of the manager: bit m of the table (word
  // m / 64, bit m % 64) is its value where the variable at level j has the
  // value of bit j of m. max(1, 2^(n-6)) words.
  void make_truth_table(std::vector<uint64_t>* words) const;
  // Nodes of the graph, constants included; size_upto_level counts the
  // nodes at levels 0..l only.
  int size() const;
  int size_upto_level(int l) const;
  // The distinct nodes at or below `level` that an edge from above the level
  // (or the handle itself) reaches, as regular handles, in the order a walk
  // from the root meets them. Constants are included as the edges that
  // reach them (with complement edges, true and false are two entries).
  void get_cut_nodes(int level, std::vector<BDD_ZBDD>* nodes) const;
  // Every non-constant node once, as regular handles, each after the nodes
  // it points to; with `by_level` sorted from the bottom level up.
  void get_top_order(std::vector<BDD_ZBDD>* nodes, bool by_level) const;
  // Drops the reference: the handle becomes null.
  void remove_from_manager();

 private:
  friend class BDD_ZBDD_MGR;
  void link(BDD_ZBDD_MGR* mgr, int id);
  void unlink();
  int checked() const;  // the id; a null handle is an internal error

  BDD_ZBDD_MGR* m_mgr = nullptr;
  int m_id = 0;
  BDD_ZBDD* m_prev = nullptr;  // the manager's list of live handles
  BDD_ZBDD* m_next = nullptr;
};

// Walks every non-constant node of the table (live or dead) in index order.
class BDD_ZBDD_ITERATOR {
 public:
  BDD_ZBDD_ITERATOR(BDD_ZBDD_MGR* mgr, int index) : m_mgr(mgr), m_index(index) {}
  BDD_ZBDD operator*() const;
  BDD_ZBDD_ITERATOR& operator++();
  bool operator==(const BDD_ZBDD_ITERATOR& o) const { return m_index == o.m_index; }
  bool operator!=(const BDD_ZBDD_ITERATOR& o) const { return m_index != o.m_index; }

 private:
  BDD_ZBDD_MGR* m_mgr;
  int m_index;
};

class BDD_ZBDD_MGR {
 public:
  // `vars` variables in the order 0..vars-1; `nodes` and `cache` size the
  // unique and computed tables at start (both grow as needed); the last
  // argument is accepted and ignored.
  BDD_ZBDD_MGR(int vars, int nodes, int cache, bool complement_edges, bool unused = false);
  ~BDD_ZBDD_MGR();
  BDD_ZBDD_MGR(const BDD_ZBDD_MGR&) = delete;
  BDD_ZBDD_MGR& operator=(const BDD_ZBDD_MGR&) = delete;

  bool use_complement_edges() const { return m_ce; }
  BDD_ZBDD true_bdd();
  BDD_ZBDD false_bdd();
  BDD_ZBDD null_bdd();
  BDD_ZBDD ithvar(int var);
  // AND over i < n of inputs[i] when bit i of m is 1, else of its
  // complement; true for n = 0.
  BDD_ZBDD build_cube(const std::vector<BDD_ZBDD*>& inputs, uint64_t m, int n);
  BDD_ZBDD build_cube(const std::vector<BDD_ZBDD>& inputs, uint64_t m, int n);

  // Automatic reordering never runs; both are accepted for callers that
  // switch it off.
  void reorder(int) {}
  void disable_reorder() {}
  // Frees every dead node and clears the computed table.
  void garbage_collect();
  // Nodes in the table, terminals and dead nodes included.
  int size() const { return m_allocated; }
  // Calls of the node constructor so far.
  long work() const { return m_work; }
  int support_size() const { return m_nvars; }
  int variable_at(int level) const;
  int level_of_var(int var) const;
  // counts[level] = live and dead nodes of that level.
  void node_counts_by_level(std::vector<int>* counts) const;
  // Exchanges the adjacent levels of `upper` and `lower` (upper directly
  // above lower).
  void swap_adjacent_variables(int upper, int lower);
  // Installs order[level] = variable (a permutation of all n variables).
  void order_variables(const int* order, int n);
  void get_variable_order(int* order) const;
  // Sifts the variables of levels [from, to) (to = -1: the last level)
  // within that range; stops once size() is below `limit` (0: never).
  void sifting_reorder(int limit, int from, int to);
  // Tries every order of the (at most 8) variables and keeps the smallest.
  void exhaustive_perm();
  // f with each listed node (wherever met; `level` is the level of the cut
  // and only a hint) replaced by the constant values[i] (0 or 1). With
  // complement edges an edge reaching a listed node complemented gives the
  // complement of its value; a listed constant replaces only the edges
  // that reach that constant.
  BDD_ZBDD assign_cut_node_values(const BDD_ZBDD& f, int level, const std::vector<BDD_ZBDD>& nodes,
                                  const std::vector<int>& values);

  BDD_ZBDD_ITERATOR begin();
  BDD_ZBDD_ITERATOR end();
  // Writes the live table as a Graphviz graph, as a file of the user's own
  // (FIO_FILE_SYSTEM::fopen_own_file: the working directory may be shared);
  // false, with *problem (when given) saying why, when the file cannot be
  // written (it is then left as it was).
  bool fprint_table_as_dot(const char* file_name, std::string* problem = nullptr);
  // One debug line (component "BDD") with the variables from level 0 down.
  void dump_variable_order() const;

  // Public fields the callers read and write: a build's start (seconds, as
  // time() gives them) and a verbose flag. The manager only stores them.
  int64_t m_start_time = 0;
  uint8_t m_verbose = 0;

 private:
  friend class BDD_ZBDD;
  friend class BDD_ZBDD_ITERATOR;
  // 16 bytes, four to a cache line. A free slot keeps the next free index
  // in `hi`.
  struct NODE {
    int var;  // -1 for a terminal, -2 for a free slot
    int lo, hi;
    uint32_t ref;
  };
  // A unique table slot carries its node's key, so a lookup reads only the
  // table; node 0 marks an empty slot.
  struct SLOT {
    int lo, hi, node;
  };
  // Open addressing with linear probing, a power of two of slots, at most
  // two thirds full; halved when under an eighth full.
  struct SUBTABLE {
    BDD_TABLE<SLOT> slots;
    int count = 0;
  };
  // 16 bytes, four to a cache line. The third key word is the third
  // operand of if-then-else, the only operation that has one, and
  // otherwise the operation's code below every edge value; f = 0 (never an
  // edge) marks an empty entry.
  struct CACHE_ENTRY {
    int f = 0, g = 0, key = 0, r = 0;
  };
  static int cache_key(int op, int h) { return h != 0 ? h : INT32_MIN + op; }

  // edges
  int one() const { return 1; }
  int zero() const { return m_ce ? -1 : 2; }
  static int node_of(int e) { return e < 0 ? -e : e; }
  bool is_terminal(int e) const { return m_nodes[node_of(e)].var < 0; }
  int level_of_edge(int e) const {
    const int v = m_nodes[node_of(e)].var;
    return v < 0 ? m_nvars : m_perm[v];
  }
  int var_of_edge(int e) const { return m_nodes[node_of(e)].var; }
  int lo_of(int e) const { return e < 0 ? -m_nodes[-e].lo : m_nodes[e].lo; }
  int hi_of(int e) const { return e < 0 ? -m_nodes[-e].hi : m_nodes[e].hi; }
  int neg(int e);
  // node table
  int mk(int var, int lo, int hi);
  int find_or_add(int var, int lo, int hi);
  // Terminals are not counted: they live as long as the manager.
  void ref_node(int i) {
    NODE& n = m_nodes[i];
    if (n.var < 0) return;
    if (n.ref == 0) --m_dead;
    ++n.ref;
  }
  void deref_node(int i) {
    NODE& n = m_nodes[i];
    if (n.var < 0 || n.ref == 0) return;
    if (--n.ref == 0) ++m_dead;
  }
  void free_cascade(int i);
  void insert_in_table(int i);
  void remove_from_table(int i);
  void erase_slot(SUBTABLE& t, size_t slot);
  void resize_subtable(SUBTABLE& t, size_t slots);
  void fit_subtable(SUBTABLE& t);
  static size_t home_slot(const SUBTABLE& t, int lo, int hi) {
    const uint64_t k =
        uint64_t(uint32_t(lo)) * 0x9E3779B97F4A7C15ull ^ uint64_t(uint32_t(hi)) * 0xC2B2AE3D27D4EB4Full;
    return size_t((k ^ (k >> 29)) & (t.slots.size() - 1));
  }
  // computed table
  size_t cache_slot(int f, int g, int key) const {
    const uint64_t k = (uint64_t(uint32_t(f)) * 0x9E3779B97F4A7C15ull) ^
                       (uint64_t(uint32_t(g)) * 0xC2B2AE3D27D4EB4Full) ^
                       (uint64_t(uint32_t(key)) * 0x165667B19E3779F9ull);
    return size_t((k ^ (k >> 31)) & (m_cache.size() - 1));
  }
  bool cache_find(int op, int f, int g, int h, int* r) const {
    const int key = cache_key(op, h);
    const CACHE_ENTRY& e = m_cache[cache_slot(f, g, key)];
    if (e.f != f || e.g != g || e.key != key) return false;
    *r = e.r;
    return true;
  }
  // Collects when dead nodes dominate the table; called only at the start
  // of a public operation.
  void maybe_collect();
  void cache_put(int op, int f, int g, int h, int r);
  void cache_clear();
  // operations on edges
  int and_rec(int f, int g);
  int or_rec(int f, int g);
  int xor_rec(int f, int g);
  int not_rec(int f);
  int ite_rec(int f, int g, int h);
  int constrain_rec(int f, int c);
  template <int (BDD_ZBDD_MGR::*OP)(int, int)>
  int shannon_step(int op, int f, int g);
  int top_level(int f, int g) const { return std::min(level_of_edge(f), level_of_edge(g)); }
  void cofactors(int e, int level, int* e0, int* e1) const {
    if (level_of_edge(e) == level) {
      *e0 = lo_of(e);
      *e1 = hi_of(e);
    } else {
      *e0 = *e1 = e;
    }
  }
  // walks
  uint32_t next_mark();
  void collect_nodes(int root, std::vector<int>* out);  // post-order, regular node indices
  // reordering
  void swap_levels(int level);
  void prepare_reorder();
  void sift_variable(int var, int from, int to, double max_growth);
  void move_var_to_level(int var, int level);
  // handles
  void attach(BDD_ZBDD* h, int id) {
    h->m_prev = nullptr;
    h->m_next = m_handles;
    if (m_handles != nullptr) m_handles->m_prev = h;
    m_handles = h;
    if (id != 0) ref_node(node_of(id));
  }
  void detach(BDD_ZBDD* h) {
    if (h->m_prev != nullptr) h->m_prev->m_next = h->m_next;
    else m_handles = h->m_next;
    if (h->m_next != nullptr) h->m_next->m_prev = h->m_prev;
    h->m_prev = h->m_next = nullptr;
    if (h->m_id != 0) deref_node(node_of(h->m_id));
  }
  int check_handle(const BDD_ZBDD& h) const;

  bool m_ce;
  int m_nvars;
  BDD_TABLE<NODE> m_nodes;
  int m_free = 0;
  int m_allocated = 0;
  int m_dead = 0;
  long m_work = 0;
  uint32_t m_mark = 0;
  std::vector<uint32_t> m_marks;  // per node, for walks (see next_mark)
  std::vector<uint64_t> m_lower_bits;  // a swap's lower-level nodes, one bit each
  std::vector<SUBTABLE> m_tables;  // per variable
  std::vector<int> m_perm;         // variable -> level
  std::vector<int> m_invperm;      // level -> variable
  BDD_TABLE<CACHE_ENTRY> m_cache;
  bool m_cache_written = false;  // an entry was put since the last clear
  size_t m_cache_limit = 0;  // the cache doubles with the table up to this
  BDD_ZBDD* m_handles = nullptr;
  std::vector<int> m_scratch, m_scratch2, m_stack;
};
