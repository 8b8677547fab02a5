// kavu_cut_int.h — internals shared by the cut area's sources: the
// split-node flow network, the walk flags and the driven-input rule, and the
// workers and scratch a manager keeps from call to call.
//
// Network layout: for an oterm list of n terminals, terminal i has the
//   out-net 2i and the in-net 2i + 1; net 2n is the source, 2n + 1 the sink.
//   Edges live in flat arrays (tail, head, capacity, flow); edge i < n is the
//   internal edge of terminal i. Each net lists its incoming edges in the
//   order they were added and its outgoing edges by head net, so a
//   depth-first search visits neighbours in a fixed order.
// Residual rule: a forward edge is usable while its capacity is infinite
//   (max_capacity) or above its flow; the backward edge while the flow is
//   positive. An infinite edge never saturates.
// Scratch: CUT_SCRATCH holds every set, list and pool the walks, the
//   enumeration and the cut searches need; a manager creates it once and
//   each call clears what it uses, so no call allocates once the vectors
//   and tables have grown to the largest cone seen. Sets are stamp tables
//   (kavu_oterm_stamp_int.h), cleared in O(1) and never iterated.
// Invariant: between operations no search state is pending; visit marks are
//   stamps, so nothing has to be cleared.
// Cost: a build is linear in the oterm list and its gates' inputs and keeps
//   every array's storage for the next build; an augmenting-path search and a
//   cut extraction are linear in the edges.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_cut.h"
#include "kavu_oterm_stamp_int.h"
#include "kavu_popcount_int.h"

typedef std::vector<CDB_SGATE_OTERM*> CUT_OTERM_VECTOR;
typedef std::span<CDB_SGATE_OTERM* const> CUT_OTERM_SPAN;

// The driver of a driven input: connected (directly or through its parent)
// and fed by an output terminal; null otherwise.
inline CDB_SGATE_OTERM* cut_driver_of(const CDB_SGATE_ITERM* iterm) {
  if (!iterm || !cdb_is_connected(iterm)) return nullptr;
  return iterm->get_source();
}

// Whether sorted a[0..na) is a subset of sorted b[0..nb).
KAVU_ALWAYS_INLINE bool cut_leaves_subset(const int32_t* a, int na, const int32_t* b, int nb) {
  int j = 0;
  for (int i = 0; i < na; ++i) {
    while (j < nb && b[j] < a[i]) ++j;
    if (j == nb || b[j] != a[i]) return false;
    ++j;
  }
  return true;
}

// Sorted union of two sorted leaf lists into `out`; -1 as soon as it would
// exceed k leaves.
KAVU_ALWAYS_INLINE int cut_merge_leaves(const int32_t* a, int na, const int32_t* b, int nb, int k, int32_t* out) {
  int i = 0, j = 0, n = 0;
  while (i < na && j < nb) {
    if (n == k) return -1;
    const int32_t x = a[i], y = b[j];
    out[n++] = x <= y ? x : y;
    i += x <= y;
    j += y <= x;
  }
  if (n + (na - i) + (nb - j) > k) return -1;
  while (i < na) out[n++] = a[i++];
  while (j < nb) out[n++] = b[j++];
  return n;
}

// The pass-through switches of a cone walk.
struct CUT_WALK_FLAGS {
  bool m_moded_lcells = false;
  bool m_lcells = false;
  bool m_normal_lcells = false;
  bool m_operators = false;
  bool m_wide_gates = false;
  bool m_quellin = false;  // atom type 93 counts as a logic cell
};

// The switches in the order the entry points take them.
inline CUT_WALK_FLAGS cut_walk_flags(bool moded_lcells, bool lcells, bool normal_lcells, bool operators,
                                     bool wide_gates, bool quellin) {
  CUT_WALK_FLAGS flags;
  flags.m_moded_lcells = moded_lcells;
  flags.m_lcells = lcells;
  flags.m_normal_lcells = normal_lcells;
  flags.m_operators = operators;
  flags.m_wide_gates = wide_gates;
  flags.m_quellin = quellin;
  return flags;
}

// Copies a terminal list into an interface list.
inline void assign_list(CUT_OTERM_SPAN from, KAVU_WVNET_MANAGER::OTERM_LIST* to) {
  to->assign(from.begin(), from.end());
}

// Whether the bounded walk expands a terminal of `gate` (heads: the walk's
// heads, used by the don't-unmap LUT rule).
bool cut_bounded_walk_passes(const CDB_SGATE_NODE* gate, CUT_OTERM_SPAN heads, const CUT_WALK_FLAGS& flags);

// A cone as the bounded walk gives it: every terminal once (breadth-first,
// heads first), the sources where it stopped, the sinks (its heads).
struct CUT_CONE {
  CUT_OTERM_VECTOR m_oterms, m_sources, m_sinks;
  void clear() {
    m_oterms.clear();
    m_sources.clear();
    m_sinks.clear();
  }
  void assign(const KAVU_WVNET_MANAGER::OTERM_LIST& oterms, const KAVU_WVNET_MANAGER::OTERM_LIST& sources,
              const KAVU_WVNET_MANAGER::OTERM_LIST& sinks) {
    m_oterms.assign(oterms.begin(), oterms.end());
    m_sources.assign(sources.begin(), sources.end());
    m_sinks.assign(sinks.begin(), sinks.end());
  }
};

class KAVU_WVNET {
 public:
  static constexpr int INF = KAVU_WVNET_MANAGER::max_capacity;

  // Builds the network over `oterms` (no terminal twice), `sources` and
  // `sinks` (each in `oterms`, no source twice). Without `iterms` every
  // driven input of a non-source terminal's gate whose driver is in the list
  // gives a driver edge; with it, exactly the listed inputs do. Every
  // capacity starts at 1.
  void build_network(CUT_OTERM_SPAN oterms, CUT_OTERM_SPAN sources, CUT_OTERM_SPAN sinks,
                     const std::vector<CDB_SGATE_ITERM*>* iterms);
  void reset_network();

  int num_oterms() const { return int(m_oterms.size()); }
  int num_nets() const { return m_num_nets; }
  CDB_SGATE_OTERM* oterm_at(int i) const { return m_oterms[i]; }
  // Position of a terminal in the oterm list, or -1.
  int index_of(const CDB_SGATE_OTERM* oterm) const { return m_index.value_or(oterm, -1); }
  int capacity(int i) const { return m_capacity[i]; }
  void set_capacity(int i, int cap) { m_capacity[i] = cap; }
  void set_all_capacities(int cap);
  // Sets the capacity of a terminal of the network; others are ignored.
  void set_capacity_of(const CDB_SGATE_OTERM* oterm, int cap);

  // Fresh flows from the current capacities, then augmenting paths until
  // none is left or `limit` units flow; returns the flow.
  int max_flow(int limit);
  // After max_flow: the minimum cut nearest the sources, in oterm-list
  // order. False when the sink is still reachable (no finite cut below the
  // flow limit) or the cut is empty.
  bool extract_cut(CUT_OTERM_VECTOR* cut);

 private:
  int add_edge(int tail, int head);
  void finish_adjacency();
  void init_flows();
  void start_walk_from_source();
  bool find_augmenting_path();
  int augment(int limit);
  bool residual_usable(int edge, bool forward) const;
  int residual(int edge, bool forward) const;
  // Marks every net reachable from the source over usable edges.
  void mark_reachable();

  CUT_OTERM_VECTOR m_oterms;
  PTR_STAMP_TABLE m_index;       // terminal -> position
  std::vector<int> m_capacity;   // per terminal
  std::vector<uint8_t> m_is_source;
  int m_num_nets = 0;
  int m_source = -1;
  int m_sink = -1;

  std::vector<int> m_edge_tail, m_edge_head, m_edge_cap, m_edge_flow;
  // Adjacency in compressed rows: nets' incoming and outgoing edge ids.
  std::vector<int> m_in_begin, m_in_edges, m_out_begin, m_out_edges, m_cursor;

  // Search state per net: visit stamp, the edge that reached it and whether
  // it was used forward.
  DENSE_STAMPS m_visit;
  std::vector<int> m_parent_edge;
  std::vector<uint8_t> m_parent_forward;
  struct FRAME {
    int m_net;
    int m_next;
  };
  std::vector<FRAME> m_stack;
};

// ---------------------------------------------------------------------------
// K-feasible cut enumeration (kavu_cut_enum.cpp)

// A cut in a pool: its leaves are m_size sorted order positions from
// m_offset on; bit (position % 64) of m_sig is set for each leaf.
struct CUT_REF {
  int m_offset;
  int m_size;
  uint64_t m_sig;
};

// An ordered set of cuts whose leaves live in one pool.
class CUT_POOL {
 public:
  void clear() {
    m_cuts.clear();
    m_leaves.clear();
  }
  int size() const { return int(m_cuts.size()); }
  const CUT_REF& cut(int i) const { return m_cuts[i]; }
  const int* leaves(const CUT_REF& c) const { return m_leaves.data() + c.m_offset; }
  void append(const int* leaves, int size, uint64_t sig) {
    m_cuts.push_back({int(m_leaves.size()), size, sig});
    m_leaves.insert(m_leaves.end(), leaves, leaves + size);
  }
  // Appends a copy of the pool's own cut i.
  void append_own(int i) {
    const CUT_REF ref = m_cuts[i];
    m_cuts.push_back({int(m_leaves.size()), ref.m_size, ref.m_sig});
    for (int l = 0; l < ref.m_size; ++l) {
      const int leaf = m_leaves[size_t(ref.m_offset + l)];
      m_leaves.push_back(leaf);
    }
  }
  // Marks a cut for removal; compact() drops the marked ones keeping the
  // order of the others (the leaves stay in the pool).
  void kill(int i) { m_cuts[i].m_size = -m_cuts[i].m_size - 1; }
  static bool is_dead(const CUT_REF& c) { return c.m_size < 0; }
  void compact() {
    m_cuts.erase(std::remove_if(m_cuts.begin(), m_cuts.end(), is_dead), m_cuts.end());
  }

 private:
  std::vector<CUT_REF> m_cuts;
  std::vector<int> m_leaves;
};

struct CUT_RUN_STATS {
  long m_pairs_tried = 0;
  long m_refused_by_signature = 0;
  long m_too_large = 0;
  long m_dominated = 0;
};

// The topological order of a cone (fan-ins first, head last) and the
// positions of each terminal's drivers.
class CUT_CONE_ORDER {
 public:
  // False when the cone holds a combinational loop.
  bool build(CDB_SGATE_OTERM* head, CUT_OTERM_SPAN leaves);
  int size() const { return int(m_order.size()); }
  // Position of a terminal in the order, or -1.
  int position_of(const CDB_SGATE_OTERM* oterm) const;

  CUT_OTERM_VECTOR m_order;
  std::vector<int> m_fanin_begin, m_fanins;
  std::vector<uint8_t> m_is_leaf;

 private:
  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    unsigned m_next;
    unsigned m_inputs;           // 0 for a leaf: its drivers are not followed
    unsigned m_first_fanin;      // where its drivers' positions start in m_pending
  };
  PTR_STAMP_TABLE m_leaf;
  PTR_STAMP_TABLE m_state;  // ON_STACK, or the order position once placed
  std::vector<FRAME> m_stack;
  std::vector<int> m_pending;  // drivers' positions of the terminals on the stack
};

// Cut sets bottom-up over a cone order: a leaf has only its trivial cut; any
// other terminal its trivial cut followed by the irredundant unions of its
// fan-ins' cut sets, merged fan-in by fan-in in input order.
class CUT_ENUMERATOR {
 public:
  void run(const CUT_CONE_ORDER& cone, int k);
  void run_popcnt(const CUT_CONE_ORDER& cone);
  void run_generic(const CUT_CONE_ORDER& cone);
  int num_cuts(int i) const { return m_count[i]; }
  const CUT_REF& cut(int i, int c) const { return m_store.cut(m_first[i] + c); }
  const int* leaves(const CUT_REF& ref) const { return m_store.leaves(ref); }
  const CUT_RUN_STATS& stats() const { return m_stats; }

 private:
  template <bool HW>
  KAVU_ALWAYS_INLINE void run_body(const CUT_CONE_ORDER& cone);
  template <bool HW>
  KAVU_ALWAYS_INLINE void merge_into_result(const CUT_POOL& outer, int first, int count, int j);
  void add_if_irredundant(const int* leaves, int size, uint64_t sig);

  int m_k = 0;
  CUT_POOL m_store;  // every position's cuts, position by position
  std::vector<int> m_first, m_count;
  CUT_POOL m_working, m_result;  // reused per position (fan-ins after the second)
  std::vector<int> m_union;
  CUT_RUN_STATS m_stats;
};

// ---------------------------------------------------------------------------
// Cut sets of a whole netlist, enumerated once per pass (kavu_cut_pass.cpp)
//
// Graph: every output terminal of the netlist gets a dense id; a terminal
//   whose gate passes the bounded walk's rule (no head named, so a
//   don't-unmap LUT does not pass) has a row of its gate's drivers in input
//   order, duplicates kept; any other terminal has none. Rows are compressed
//   (one offset array, one id array).
// Cut sets: in topological order over the rows, each terminal gets the cut
//   set the per-head enumeration gives it when nothing stops the walk: its
//   trivial cut, then the irredundant unions of its fan-ins' sets merged
//   fan-in by fan-in. Leaves are ids in ascending order; signatures take bit
//   (id % 64).
// Depth: a head whose logic depth (longest path over the rows) is below
//   the walk depth has its whole cone inside the bounded walk, nothing
//   stops it early, so its own enumeration makes exactly the operations
//   that made its kept set: the same cuts in the same order. Deeper heads
//   (and terminals on or behind a combinational loop) are enumerated on
//   their own.
// Leaf order: a returned cut lists its leaves in the head's cone order, a
//   depth-first post-order over its cone. The walk that finds the
//   leaves' positions enters only terminals that may still reach an
//   unplaced leaf (deeper in logic depth, holding its support signature
//   and, where built, its hub set, its number within their interval
//   labels) and stops once every leaf is placed; what it skips holds no
//   path to a leaf, so the leaves' order is the full walk's. Hub sets are
//   built when the first walks of a deep graph enter many terminals that
//   lead to no leaf; they change what is skipped, never the order.
// Invariant: the netlist does not change while the pass is active.
// Cost: build linear in the graph plus the pairs of fan-in cuts merged, once;
//   an answer is linear in the part of the cone that leads to the head's
//   leaves (below its fan-ins too) times the leaves tested per terminal.
class CUT_PASS {
 public:
  // Largest K a pass serves; larger ones are enumerated head by head.
  static constexpr int MAX_K = 16;

  void build(CDB_SGATE_NETLIST* netlist, int k, bool quellin);
  // Frees every array.
  void release();
  bool serves(unsigned k, bool quellin) const { return m_active && int(k) == m_k && quellin == m_quellin; }
  // get_all_cuts of `head` without a mandatory terminal from the kept sets:
  // true when answered (*found then says whether a cut was returned), false
  // when the head needs its own enumeration.
  bool answer(CDB_SGATE_OTERM* head, unsigned depth, KAVU_WVNET_MANAGER::CUT_SET* cuts, bool* found);
  size_t num_cuts() const { return m_sig.size(); }

 private:
  // A set under construction, stride K. A removed cut keeps its place with
  // size DEAD_SIZE (more than any K, so no kept cut is a subset of it and no
  // offered one a superset) until the set is compacted.
  static constexpr uint8_t DEAD_SIZE = 0xFF;
  struct SET {
    std::vector<uint64_t> m_sig;
    std::vector<int32_t> m_leaves;
    std::vector<uint8_t> m_size;
    int m_count = 0;
    void clear() { m_count = 0; }
    // Appends a cut; the arrays only grow, so a cleared set allocates no
    // more once it has held its largest count.
    void append(const int32_t* leaves, int size, uint64_t sig, int k) {
      if (size_t(m_count) == m_sig.size()) {
        const size_t grown = std::max<size_t>(16, m_sig.size() * 2);
        m_sig.resize(grown);
        m_size.resize(grown);
        m_leaves.resize(grown * size_t(k));
      }
      m_sig[size_t(m_count)] = sig;
      m_size[size_t(m_count)] = uint8_t(size);
      int32_t* out = &m_leaves[size_t(m_count) * size_t(k)];
      for (int i = 0; i < size; ++i) out[i] = leaves[i];
      for (int i = size; i < k; ++i) out[i] = -1;
      ++m_count;
    }
  };

  void copy_graph(CDB_SGATE_NETLIST* netlist);
  int id_of(CDB_SGATE_OTERM* oterm);
  void order_graph();
  void enumerate_all();
  void enumerate_range_popcnt();
  template <bool HW>
  KAVU_ALWAYS_INLINE void enumerate_range();
  template <bool HW>
  KAVU_ALWAYS_INLINE void enumerate_node(int x);
  template <bool HW>
  KAVU_ALWAYS_INLINE void merge(const uint64_t* sigs, const uint8_t* sizes, const int32_t* leaves, int count, int y);
  void offer(const int32_t* leaves, int size, uint64_t sig);
  void store_cut(const int32_t* leaves, int size, uint64_t sig);
  // Cone-order positions of the marked leaves of `head`'s cuts; false when
  // the walk misses one (no answer then).
  bool place_leaves(int head);
  void resize_cuts(KAVU_WVNET_MANAGER::CUT_SET* cuts, size_t n);
  template <int LABELS_USED, bool HUBS>
  bool walk_to_leaves(int head);

  bool m_active = false;
  bool m_overflow = false;
  int m_k = 0;
  bool m_quellin = false;

  // Graph.
  CUT_OTERM_VECTOR m_oterms;  // id -> terminal
  PTR_STAMP_TABLE m_id;       // terminal -> id
  std::vector<uint32_t> m_row_begin;
  std::vector<int32_t> m_row;
  // Per terminal: PASSES when its gate passes inside a cone, and
  // PASSES_AS_HEAD when it does as the walk's head (a don't-unmap LUT).
  static constexpr uint8_t PASSES = 1, PASSES_AS_HEAD = 2;
  std::vector<uint8_t> m_passes, m_ordered;
  std::vector<int32_t> m_rank;   // logic depth over the rows
  // Support signature: bit (i % 256) for every row-less terminal i reaches
  // (in four words); a terminal reaches another only if it holds its bits.
  static constexpr int SUPPORT_WORDS = 4;
  std::vector<uint64_t> m_support;
  // Interval labels of a depth-first walk over the whole graph: post-order
  // number and the smallest number in the terminal's cone; a terminal
  // reaches another only if that one's number lies in its interval.
  // Up to four such walks: roots either way round, fan-ins in row order or
  // reversed; each one rules out what the others let through.
  struct LABELS {
    std::vector<int32_t> m_post, m_cone_low;
  };
  static constexpr int NUM_LABELS = 4;
  int m_num_labels = 0;  // all four on deep graphs (long walks), else two
  LABELS m_labels[NUM_LABELS];
  // Hubs: up to 256 terminals with rows that are leaves of the most kept
  // cuts, each with its own bit; a terminal's hub set holds the bits of
  // every hub in its cone, itself included. A terminal reaches another
  // only if its hub set holds the other's, and reaches a hub exactly when
  // it holds that hub's bit.
  static constexpr int HUB_WORDS = 4;
  bool m_use_hubs = false;  // deep graphs where the walks hit many dead ends
  bool m_hubs_decided = false;
  int64_t m_walked = 0, m_dead_ends = 0;  // terminals other than leaves the walks entered, those with no leaf below
  static bool holds(const uint64_t* a, const uint64_t* b) {
    return !((b[0] & ~a[0]) | (b[1] & ~a[1]) | (b[2] & ~a[2]) | (b[3] & ~a[3]));
  }
  // What the leaf walk asks of a terminal, in two adjacent cache lines: its
  // interval labels and its support signature, packed after the labelling,
  // and its hub set once the hubs are chosen.
  struct alignas(64) REACH {
    int32_t m_post[NUM_LABELS], m_cone_low[NUM_LABELS];
    uint64_t m_support[SUPPORT_WORDS];
    uint64_t m_hubs[HUB_WORDS];
  };
  std::vector<REACH> m_reach;
  void pack_reach();
  template <int LABELS_USED, bool HUBS>
  bool may_reach(int from, int to) const {
    const REACH& f = m_reach[size_t(from)];
    const REACH& t = m_reach[size_t(to)];
    if (HUBS && !holds(f.m_hubs, t.m_hubs)) return false;
    for (int i = 0; i < LABELS_USED; ++i)
      if (t.m_post[i] < f.m_cone_low[i] || t.m_post[i] > f.m_post[i]) return false;
    return holds(f.m_support, t.m_support);
  }
  void find_hubs();
  void label_graph(LABELS& labels, int variant);
  std::vector<int32_t> m_order;  // topological, fan-ins first

  // Kept cut sets: node x owns cuts m_first[x] .. m_first[x] + m_count[x].
  std::vector<uint32_t> m_first, m_count;
  std::vector<uint64_t> m_sig;
  std::vector<int32_t> m_leaves;
  std::vector<uint8_t> m_size;

  // Scratch of the build and of the answers.
  SET m_working, m_result;
  std::vector<int32_t> m_union;
  // Per terminal, what one answer marks and reads, in 16 bytes: whether it
  // is a leaf of the head's cuts or seen by the walk, its place in the cone
  // order, and its logic depth and height (the longest path from
  // it to a terminal no row names). Marks count only while m_stamp is the
  // answer's; a new answer clears them all by a new stamp. A terminal
  // reaches another only if it is deeper and lower: the depth and the
  // height are the walk's first test, read from these records alone.
  static constexpr uint32_t LEAF = 1, SEEN = 2;
  static constexpr int POSITION_BITS = 29;
  struct TERM_MARKS {
    uint32_t m_stamp;
    uint32_t m_flags : 32 - POSITION_BITS;
    uint32_t m_position : POSITION_BITS;
    int32_t m_rank;
    int32_t m_height;
  };
  std::vector<TERM_MARKS> m_marks;
  uint32_t m_stamp = 0;
  void next_answer();
  // Marks x; true when it did not hold the mark yet.
  bool mark(size_t x, uint32_t flag) {
    TERM_MARKS& t = m_marks[x];
    if (t.m_stamp != m_stamp) {
      t.m_stamp = m_stamp;
      t.m_flags = flag;
      return true;
    }
    const bool fresh = !(t.m_flags & flag);
    t.m_flags |= flag;
    return fresh;
  }
  std::vector<uint64_t> m_leaf_ids;  // logic depth << 32 | id
  // Beside the sorted leaf ids, what the walk tests of each: its height and
  // whether it is placed (until placed, a leaf's cone position holds its
  // place in these arrays).
  std::vector<int32_t> m_leaf_heights;
  std::vector<uint8_t> m_leaf_placed;
  struct FRAME {
    int32_t m_id;
    uint32_t m_next, m_end;  // the row's next and end places (the leaf walk's)
    uint32_t m_placed;       // leaves placed when the walk entered it
  };
  std::vector<FRAME> m_stack;
  KAVU_WVNET_MANAGER::CUT_SET m_spare;  // cut vectors dropped from answers, for the next ones

};

// ---------------------------------------------------------------------------
// Volume of a cut (kavu_cut_mincut.cpp)

// Volume of a boundary B for the sinks: a depth-first walk back from the
// sinks that never enters B; each enclosed terminal adds its gate's driven
// inputs. `collected` (optional) receives B and then the enclosed terminals.
class CUT_VOLUME_COUNTER {
 public:
  int count(CUT_OTERM_SPAN sinks, CUT_OTERM_SPAN boundary, CUT_OTERM_VECTOR* collected);

 private:
  PTR_STAMP_TABLE m_marked;
  CUT_OTERM_VECTOR m_stack;
};

// ---------------------------------------------------------------------------
// What a manager keeps between calls; every call clears what it uses.
struct CUT_SCRATCH {
  // Cone walks.
  PTR_STAMP_TABLE m_listed;    // terminals already in the work list
  PTR_STAMP_TABLE m_excluded;  // the unbounded walk's stop terminals
  CUT_OTERM_VECTOR m_work;
  std::vector<int> m_levels;
  CUT_CONE m_cone;  // the cone of the current call

  // Enumeration and fan-out-free cuts.
  CUT_CONE_ORDER m_order;
  CUT_ENUMERATOR m_enumerator;
  CUT_OTERM_VECTOR m_cut, m_members;
  PTR_STAMP_TABLE m_member_set;
  PTR_STAMP_TABLE m_ffc_sources, m_ffc_excluded;

  // Cut sets of a whole netlist, while a pass is active.
  CUT_PASS m_pass;

  // Minimum and largest-volume cuts.
  CUT_VOLUME_COUNTER m_volume;
  PTR_STAMP_TABLE m_kept, m_tried;
  CUT_OTERM_VECTOR m_current, m_attempt, m_candidate, m_enclosed;
};
