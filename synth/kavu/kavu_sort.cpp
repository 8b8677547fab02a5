// kavu_sort.cpp — netlist ordering (KAVU_SORT): topological order of output
// terminals, strongly connected components, cones and paths, wide-gate
// decomposition by depth, and the seeded reordering of the node list.
//
// Graph of one call (GRAPH): the terminals taking part get dense numbers
//   0..n-1 in the order they are entered (node-list order, or the caller's
//   vector). Per number the graph keeps the terminal, one visit byte (0
//   unvisited, 1 begin terminal or in progress, 2 done, 3 expanded and 4
//   pushed in the stack walks; during begin/end collection bit 0 = begin,
//   bit 1 = end) and its feeder list in one arena of numbers (compressed
//   rows). A whole-netlist collection takes each terminal's feeders during
//   its single node-list walk, while the gate is at hand, and numbers them
//   in one pass once every terminal is entered; a clock domain's collection
//   takes them in its pass over the domain's terminals when no terminal can
//   enter later; terminals entered later fetch theirs on first use. Buffers, comb gates, LUTs, muxes, pins and
//   the like (has_plain_feeders) are read straight from their inputs, which
//   is what kavu_get_oterm_feeders answers for them; every other kind asks
//   it. Feeders outside the graph are
//   dropped, or entered when the graph grows on demand, as the pre-order
//   walk needs (it asks as it goes). build_fanouts transposes the feeder
//   relation into successor lists; a list is put in the terminal's fan-out
//   order (chain order, then output slot order) when a walk first opens it
//   with two or more successors it may still enter, the only case where
//   the order shows, so the fan-out walks follow exactly the edges the
//   fan-in walks follow, in the rule's order.
// Terminal -> number: a direct table over the address range of the
//   terminals entered first, one slot per power-of-two grain not above a
//   terminal's size (distinct terminals never share a slot), with a stamped
//   hash table for addresses outside it or when the range is too sparse.
//   Only the component map, which std::map orders by address anyway, is
//   filled in address order; nothing else depends on addresses.
// Storage: the graph's arrays are kept per thread between calls (their
//   capacity, never their contents) for graphs up to 2^16 terminals.
// Sort (sort_oterms): init_sort enters the terminals (per gate kind: the
//   first output of single-output kinds, the two of a carry-sum gate, every
//   output of other kinds; or the caller's vector); a begin/end collection
//   decides where walks stop (begin) and start (end) by gate kind, clock
//   domain, the caller's extra terminals and the dangling outputs; the
//   ordering presets every begin terminal as visited, walks the fan-in of
//   every end terminal depth-first appending each terminal after its feeders
//   (post-order), walks what no end terminal reached, and puts the begin
//   input-pin terminals in front (in sequential mode every begin terminal no
//   walk appended); outside sequential mode any other begin terminal that no
//   walk appended is left out.
// Walks: frames (terminal, next feeder) on a heap stack give exactly the
//   post-order of the recursive form. In sequential mode the stack walk of
//   kavu_sort_use_non_recur pushes all feeders of a terminal at once and
//   expands the last pushed first (states PUSHED, EXPANDED); a feeder that
//   waits lower on the stack is pushed again, so the order stays fan-in
//   first and the walk stays a true depth-first search (a terminal counts
//   as visited when expanded, not when pushed). A feeder found in progress
//   is skipped, which cuts a combinational loop there. The pre-order walk
//   (kavu_sort_dont_dfs) marks terminals when pushed and is only
//   approximately topological.
// Components (scc_oterms): Kosaraju's two passes. The sort is a complete
//   depth-first post-order of the fan-in graph; walking it from the last
//   terminal to the first, a depth-first walk along the successor lists
//   collects one component at a time. Begin terminals are preset as visited
//   in both passes, so each is a component of its own; register loops appear
//   only in sequential mode, where a register's data, enable and synchronous
//   inputs are its feeders. Components are renumbered so that 1 is nearest
//   the inputs and numbers ascend along the component list; within one, the
//   walk's start comes first, then the others in reverse finishing order.
//   A terminal with no unvisited successor is a component alone without a
//   walk; when the depth-first sort met no feeder in progress other than a
//   begin terminal, there is no loop among the others, every terminal is
//   alone and the successor lists are not built at all.
// Invariants: every terminal of the graph is appended at most once (only a
//   begin terminal no walk reached is missing); an end
//   terminal already appended is never walked again; only begin terminals
//   are reset before their own walk.
// Decomposition (dmig): see the banner of that section.
// Cost: O(V + E) per call with one feeder query per terminal, no recursion;
//   the public std::list and std::map results add O(V log V) (the map is
//   filled at its end, in address order) and on small netlists cost about
//   as much as the ordering itself.
#include "kavu_sort.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <list>
#include <utility>
#include <vector>

#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "cut/cut.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_depends.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "kavu_helper_predicates.h"
#include "kavu_oterm_stamp_int.h"
#include "kavu_setup.h"
#include "kavu_sort_int.h"

namespace {
// Feeder lists up to this long are checked for repeats by linear scans.
constexpr size_t LINEAR_FEEDER_LIMIT = 16;
// Device families the ordering accepts: these set m_family_flag, and
// FAMILY_WITHOUT_FLAG is accepted and clears it.
constexpr int FAMILIES_WITH_FLAG[] = {5, 6, 8, 14, 15, 17, 25, 34, 35, 36, 45, 47, 50, 53, 57, 60, 61, 66};
constexpr int FAMILY_WITHOUT_FLAG = 41;
// Components of this many terminals or more share one histogram counter.
constexpr int LARGE_SCC_SIZE = 399;
// Above this debug level the component report lists every output.
constexpr int SCC_OUTPUT_LIST_LEVEL = 10;
// Room for terminals a walk enters beyond the node count (extra outputs).
constexpr size_t GRAPH_SPARE_TERMINALS = 16;
// Decomposition: signal probabilities weigh in percent; the link input of a
// split-off part carries the record of an unknown value.
constexpr int PROBABILITY_PERCENT = 100;
constexpr int UNKNOWN_ITERM_VALUE = 2147483647;
// The seeded node-list shuffle draws through a table of this many entries.
constexpr int SHUFFLE_TABLE_SIZE = 300;
}  // namespace

// ---------------------------------------------------------------------------
// Terminal -> dense number

namespace {
// Address slots of the direct table: a power of two not above a terminal's
// size, so two distinct terminals never share a slot.
constexpr unsigned OTERM_GRAIN_SHIFT = std::bit_width(sizeof(CDB_SGATE_OTERM)) - 1;
// The direct table is used while it has at most this many slots per terminal.
constexpr uintptr_t DIRECT_SLOTS_PER_TERMINAL = 16;

// Terminal -> dense number. The terminals entered first (a netlist's, a
// domain's) fix an address range; within it the number sits in a direct
// table at (address - lowest) >> OTERM_GRAIN_SHIFT, one 4-byte slot per
// grain, so a look-up is one read near the last one when terminals were
// allocated in node order. Terminals outside the range, and every terminal
// when the range is too sparse, go to a stamped hash table. No look-up
// depends on the order of addresses, only on their identity.
class OTERM_INDEX {
 public:
  // Starts an empty index whose direct table covers [low, high].
  void reset(uintptr_t low, uintptr_t high, size_t terminals) {
    clear();
    m_low = low;
    if (terminals == 0 || high < low) return;
    const uintptr_t slots = ((high - low) >> OTERM_GRAIN_SHIFT) + 1;
    if (slots > DIRECT_SLOTS_PER_TERMINAL * terminals) {
      m_overflow.clear(terminals);
      return;
    }
    m_slots.assign(size_t(slots), -1);
    m_span = slots << OTERM_GRAIN_SHIFT;
  }

  // Empty, with no direct range (capacity kept).
  void clear() {
    m_overflow.clear(0);
    m_overflow_entries.clear();
    m_low = 0;
    m_span = 0;
    m_slots.clear();
    m_direct_count = 0;
  }

  [[gnu::always_inline]] int find(const CDB_SGATE_OTERM* oterm) const {
    const uintptr_t offset = reinterpret_cast<uintptr_t>(oterm) - m_low;  // wraps below the range
    if (offset < m_span) return m_slots[size_t(offset >> OTERM_GRAIN_SHIFT)];
    return m_overflow.size() == 0 ? -1 : m_overflow.value_or(oterm, -1);
  }

  // Enters the terminal with `value` when absent; returns its number.
  int insert(const CDB_SGATE_OTERM* oterm, int value) {
    const uintptr_t offset = reinterpret_cast<uintptr_t>(oterm) - m_low;
    if (offset < m_span) {
      int& slot = m_slots[size_t(offset >> OTERM_GRAIN_SHIFT)];
      if (slot < 0) {
        slot = value;
        ++m_direct_count;
      }
      return slot;
    }
    int* known = nullptr;
    if (m_overflow.insert(oterm, value, &known)) m_overflow_entries.emplace_back(reinterpret_cast<uintptr_t>(oterm), value);
    return *known;
  }

  // Every entered number, by ascending terminal address: the direct table
  // is read in slot order, the few others are sorted.
  void address_order(std::vector<int>& order) {
    order.clear();
    std::sort(m_overflow_entries.begin(), m_overflow_entries.end());
    auto entry = m_overflow_entries.begin();
    for (; entry != m_overflow_entries.end() && entry->first < m_low; ++entry) order.push_back(entry->second);
    // The direct table is mostly empty slots: copied without a branch per
    // slot.
    const size_t before = order.size();
    order.resize(before + m_direct_count + 1);  // one spare for the last write
    int* out = order.data() + before;
    size_t k = 0;
    for (int v : m_slots) {
      out[k] = v;
      k += v >= 0 ? 1 : 0;
    }
    order.resize(before + k);
    for (; entry != m_overflow_entries.end(); ++entry) order.push_back(entry->second);
  }

 private:
  uintptr_t m_low = 0;
  uintptr_t m_span = 0;  // bytes covered by m_slots
  std::vector<int> m_slots;
  size_t m_direct_count = 0;  // filled slots of m_slots
  PTR_STAMP_TABLE m_overflow;
  std::vector<std::pair<uintptr_t, int>> m_overflow_entries;  // what m_overflow holds
};
}  // namespace

// ---------------------------------------------------------------------------
// The per-call terminal graph

namespace {
// What the begin/end collection does with one boundary terminal.
enum BOUNDARY_KIND : uint8_t { REGISTER_BOUNDARY, ATOM_BOUNDARY, PIN_BOUNDARY };

struct BOUNDARY {
  CDB_SGATE_OTERM* m_oterm;
  BOUNDARY_KIND m_kind;
};

// Everything a graph stores. One set per thread is kept between calls with
// its capacity (never its contents), so that the many small and mid-sized
// orderings a pass runs do not allocate and free the same arrays each
// time; a graph larger than POOL_TERMINAL_LIMIT frees its own.
struct GRAPH_STORAGE {
  // One depth-first frame: terminal, next feeder or successor position.
  struct FRAME {
    int m_v;
    int m_next;
    int m_first;
    int m_count;
  };
  struct FEEDERS {
    int m_first;  // -1 until fetched
    int m_count;
  };

  // Exchanges every member with `other` one by one: std::swap of the whole
  // would move the deques, and a deque's move allocates.
  void swap_storage(GRAPH_STORAGE& other) noexcept {
    using std::swap;
    swap(m_oterms, other.m_oterms);
    swap(m_state, other.m_state);
    swap(m_fin, other.m_fin);
    swap(m_fin_edges, other.m_fin_edges);
    swap(m_fout_first, other.m_fout_first);
    swap(m_fout_edges, other.m_fout_edges);
    swap(m_fout_ordered, other.m_fout_ordered);
    swap(m_begin, other.m_begin);
    swap(m_end, other.m_end);
    swap(m_fronted, other.m_fronted);
    swap(m_appended, other.m_appended);
    swap(m_stack, other.m_stack);
    swap(m_vstack, other.m_vstack);
    swap(m_frames, other.m_frames);
    swap(m_post, other.m_post);
    swap(m_query, other.m_query);
    swap(m_seen, other.m_seen);
    swap(m_ints, other.m_ints);
    swap(m_entered, other.m_entered);
    swap(m_dangling, other.m_dangling);
    swap(m_boundaries, other.m_boundaries);
    swap(m_raw_feeders, other.m_raw_feeders);
    swap(m_raw_count, other.m_raw_count);
    swap(m_raw_ends, other.m_raw_ends);
    swap(m_begin_flag, other.m_begin_flag);
    swap(m_sorted, other.m_sorted);
    swap(m_component_order, other.m_component_order);
    swap(m_number, other.m_number);
    swap(m_histogram, other.m_histogram);
    swap(m_finished, other.m_finished);
    swap(m_by_address, other.m_by_address);
    swap(m_index, other.m_index);
  }

  // Empties every container, keeping its capacity; the raw scratch
  // (m_raw_feeders, m_frames, m_post, m_vstack) keeps its size too, so that later
  // calls do not fill it again.
  void clear() {
    m_oterms.clear();
    m_state.clear();
    m_fin.clear();
    m_fin_edges.clear();
    m_fout_first.clear();
    m_fout_edges.clear();
    m_fout_ordered.clear();
    m_begin.clear();
    m_end.clear();
    m_fronted.clear();
    m_appended.clear();
    m_stack.clear();
    m_query.clear();
    m_seen.resize(0);
    m_ints.clear();
    m_entered.clear();
    m_dangling.clear();
    m_boundaries.clear();
    m_raw_count = 0;  // m_raw_feeders keeps its size: raw scratch
    m_raw_ends.clear();
    m_begin_flag.clear();
    m_sorted.clear();
    m_component_order.clear();
    m_number.clear();
    m_histogram.clear();
    m_finished.clear();
    m_by_address.clear();
    m_index.clear();
  }

  std::vector<CDB_SGATE_OTERM*> m_oterms;
  std::vector<uint8_t> m_state;
  std::vector<FEEDERS> m_fin;  // per terminal: its range of m_fin_edges
  std::vector<int> m_fin_edges;
  std::vector<int> m_fout_first;  // n + 1 entries after build_fanouts
  std::vector<int> m_fout_edges;
  std::vector<uint8_t> m_fout_ordered;  // per terminal: list in fan-out order

  // Begin and end terminals of the run (dense numbers) in list order.
  std::deque<int> m_begin;
  std::deque<int> m_end;
  // The order a sort produced: m_fronted were put before everything (in the
  // order they were put there, so the list starts with the last of them),
  // m_appended were appended in order.
  std::vector<int> m_fronted;
  std::vector<int> m_appended;

  // Scratch reused by every walk of the call.
  std::vector<FRAME> m_stack;
  std::vector<int> m_vstack;  // the stack walks: terminals only (size is capacity)
  // The depth-first sort's frames and one walk's post-order: scratch whose
  // size (kept by clear()) is its capacity.
  std::vector<FRAME> m_frames;
  std::vector<int> m_post;
  std::vector<CDB_SGATE_OTERM*> m_query;
  DENSE_STAMPS m_seen;
  std::vector<int> m_ints;
  // The collections' terminals before they are entered.
  std::vector<CDB_SGATE_OTERM*> m_entered;
  std::vector<CDB_SGATE_OTERM*> m_dangling;
  std::vector<BOUNDARY> m_boundaries;
  std::vector<CDB_SGATE_OTERM*> m_raw_feeders;  // the first m_raw_count are in use
  size_t m_raw_count = 0;
  std::vector<size_t> m_raw_ends;  // per asked terminal: end of its list
  // Per terminal: a begin terminal of the sort (set by the sort).
  std::vector<uint8_t> m_begin_flag;
  // The components' numbering: the sort as one sequence, the component
  // list, numbers and size counts, one walk's finished terminals, and the
  // numbers by terminal address.
  std::vector<int> m_sorted;
  std::vector<int> m_component_order;
  std::vector<int> m_number;
  std::vector<int> m_histogram;
  std::vector<int> m_finished;
  std::vector<int> m_by_address;

 protected:
  OTERM_INDEX m_index;  // terminal -> dense number
};

// Graphs up to this many terminals give their storage back to the thread.
constexpr size_t POOL_TERMINAL_LIMIT = size_t(1) << 16;

struct GRAPH_POOL {
  GRAPH_STORAGE m_storage;
  bool m_lent = false;  // a graph of this thread holds m_storage
};
thread_local GRAPH_POOL t_graph_pool;
}  // namespace

struct KAVU_SORT::GRAPH : GRAPH_STORAGE {
  // Visit states. During begin/end collection the state holds the MARK_*
  // bits. A depth-first walk moves a terminal UNVISITED -> ACTIVE -> DONE;
  // the stack walks move it UNVISITED -> PUSHED -> EXPANDED -> DONE (fan-in)
  // or UNVISITED -> PUSHED -> ACTIVE -> DONE (fan-out).
  enum : uint8_t { UNVISITED = 0, ACTIVE = 1, DONE = 2, EXPANDED = 3, PUSHED = 4 };
  enum : uint8_t { MARK_BEGIN = 1, MARK_END = 2 };

  // Takes the thread's storage when no other graph of the thread holds it
  // (a graph built while another is alive allocates its own).
  GRAPH(bool lcell, bool sequential, bool skip_macs, bool grow)
      : m_lcell(lcell), m_sequential(sequential), m_skip_macs(skip_macs), m_grow(grow) {
    if (t_graph_pool.m_lent) return;
    swap_storage(t_graph_pool.m_storage);
    t_graph_pool.m_lent = m_pooled = true;
  }
  ~GRAPH() {
    if (!m_pooled) return;
    t_graph_pool.m_lent = false;
    if (m_oterms.capacity() > POOL_TERMINAL_LIMIT) return;  // too large to keep: freed with the graph
    clear();
    swap_storage(t_graph_pool.m_storage);
  }
  GRAPH(const GRAPH&) = delete;
  GRAPH& operator=(const GRAPH&) = delete;

  int size() const { return int(m_oterms.size()); }
  CDB_SGATE_OTERM* oterm(int v) const { return m_oterms[v]; }
  // Dense number of a terminal, -1 when it takes no part.
  int index_of(const CDB_SGATE_OTERM* oterm) const { return m_index.find(oterm); }
  // Every number, by ascending terminal address.
  void address_order(std::vector<int>& order) { m_index.address_order(order); }
  // Enters a terminal (once); returns its number.
  int add(CDB_SGATE_OTERM* oterm);
  // Enters the terminals (each once, in order) into an empty graph; their
  // addresses fix the index's direct range.
  void enter(const std::vector<CDB_SGATE_OTERM*>& oterms);

  // Feeder list of v in the arena: [first, first + count) of m_fin_edges.
  // The arena may grow while a walk holds positions, never spans.
  void fetch_feeders(int v, int& first, int& count) {
    if (m_fin[v].m_first < 0) query_feeders(v);
    first = m_fin[v].m_first;
    count = m_fin[v].m_count;
  }
  // Asks the feeder rule for v's feeders and appends them to the arena;
  // the second form is told v's gate, whether it is an atom and its kind.
  void query_feeders(int v);
  void query_feeders(int v, const CDB_SGATE_NODE* gate, bool wysiwyg, CDB_SGATE_TYPE type);
  // Puts the terminals' numbers of `feeders` (those in the graph, each
  // once) in the arena as v's list.
  // `distinct`: the caller knows the terminals are distinct.
  void set_feeders(int v, CDB_SGATE_OTERM* const* feeders, size_t count, bool distinct = false);
  // A node walk asks for the feeders of a terminal before the graph's
  // numbers exist: the answer waits in m_raw_feeders, one list per call,
  // until set_raw_feeders gives the asked terminals (in call order) their
  // lists.
  void query_raw_feeders(CDB_SGATE_OTERM* oterm);
  // The same for the one entered terminal of a gate of plain feeders (see
  // has_plain_feeders), read from the gate's inputs.
  void query_plain_feeders(const CDB_SGATE_NODE* gate);
  // Room for n more raw feeders at m_raw_count (the buffer only grows).
  [[gnu::always_inline]] CDB_SGATE_OTERM** raw_room(size_t n) {
    if (m_raw_count + n > m_raw_feeders.size()) m_raw_feeders.resize(2 * (m_raw_count + n));
    return m_raw_feeders.data() + m_raw_count;
  }
  void set_raw_feeders(const std::vector<CDB_SGATE_OTERM*>& oterms);
  // Successor lists of every terminal (fetches every feeder list first).
  void build_fanouts();
  // Puts f's successor list in fan-out order: chain order of the inputs the
  // terminal drives, then output slot order of each such gate.
  void order_successors(int f);
  // Called before a walk enters v's successors: orders the list when the
  // order can matter.
  void open_successors(int v);
  // A terminal the last sort preset as a begin terminal (false outside a sort).
  bool is_begin(int v) const { return size_t(v) < m_begin_flag.size() && m_begin_flag[v] != 0; }
  bool has_unvisited_successor(int v) const {
    for (int k = m_fout_first[v]; k < m_fout_first[v + 1]; ++k) {
      if (m_state[m_fout_edges[k]] == UNVISITED) return true;
    }
    return false;
  }
  int fanout_first(int v) const { return m_fout_first[v]; }
  int fanout_count(int v) const { return m_fout_first[v + 1] - m_fout_first[v]; }

  void reset_states() { std::fill(m_state.begin(), m_state.end(), uint8_t(UNVISITED)); }
  // The stack walks' terminal stack, room for one walk over `edges` edges:
  // a terminal is pushed once, and again at most once per edge it ends.
  int* vstack_room(size_t edges) {
    const size_t room = m_oterms.size() + edges + 1;
    if (m_vstack.size() < room) m_vstack.resize(room);
    return m_vstack.data();
  }
  // The order a sort produced, as one sequence (m_fronted reversed, then
  // m_appended).
  void final_order(std::vector<int>& order) const;

  // Starts a new use of m_seen, sized to the graph on first use (most
  // calls never need it).
  void start_seen() {
    if (m_seen.size() < m_oterms.size()) m_seen.resize(m_oterms.capacity());
    m_seen.next();
  }

 private:
  bool m_lcell;
  bool m_sequential;
  bool m_skip_macs;
  bool m_grow;
  bool m_pooled = false;  // holds the thread's storage

 public:
  // Set by a depth-first walk that met a feeder in progress which is no
  // begin terminal: the edge closes a loop. A sort whose walks never set it
  // saw no loop among the terminals that are no begin terminals.
  bool m_loop_cut = false;
};

// ---------------------------------------------------------------------------
// Plain feeders

namespace {
// Gates whose every output is fed by every distinct real source of the
// gate's inputs, in input order, under the feeder rule
// (kavu_get_oterm_feeders): the plain kinds that are no register in
// sequential mode, no carry-sum gate, no atom and no large gate (the input
// and output limits keep them well below the rule's large-gate sizes).
// Their inputs are read directly instead of asking the rule.
constexpr unsigned PLAIN_INPUT_LIMIT = 32;
constexpr unsigned PLAIN_OUTPUT_LIMIT = 32;

constexpr uint64_t kind_bit(CDB_SGATE_TYPE type) { return uint64_t(1) << unsigned(type); }
constexpr uint64_t PLAIN_KINDS = kind_bit(CDB_SGATE_BUFFER_ENUM) | kind_bit(CDB_SGATE_COMB_ENUM) |
                                 kind_bit(CDB_SGATE_IO_ENUM) | kind_bit(CDB_SGATE_IO_BUF_ENUM) |
                                 kind_bit(CDB_SGATE_LUT_ENUM) | kind_bit(CDB_SGATE_MUX_ENUM) |
                                 kind_bit(CDB_SGATE_TRI_BUS_ENUM) | kind_bit(CDB_SGATE_LATCH_ENUM);
// In sequential mode a register's feeders are its register inputs.
constexpr uint64_t PLAIN_KINDS_COMBINATIONAL = PLAIN_KINDS | kind_bit(CDB_SGATE_DFF_ENUM);

[[gnu::always_inline]] inline bool has_plain_feeders(const CDB_SGATE_NODE* node, bool wysiwyg, CDB_SGATE_TYPE type,
                                                     bool sequential) {
  const unsigned t = unsigned(type);
  if (wysiwyg || t >= 64 || !((sequential ? PLAIN_KINDS : PLAIN_KINDS_COMBINATIONAL) >> t & 1)) return false;
  return node->get_number_of_input_terms() <= PLAIN_INPUT_LIMIT && node->get_output_count() <= PLAIN_OUTPUT_LIMIT;
}

// The source of an input when it is a real source, else null: a driven
// input is a real source when connected (it is then no tie).
[[gnu::always_inline]] inline CDB_SGATE_OTERM* real_source(CDB_SGATE_ITERM* t) {
  if (!t) return nullptr;
  CDB_SGATE_OTERM* src = t->get_source();
  return src && (t->is_connected() || cdb_is_connected(t)) ? src : nullptr;
}

// Writes the distinct sources of the gate's real-source inputs, in input
// order, to `out` (room for one per input) and returns how many.
[[gnu::always_inline]] inline size_t write_plain_feeders(const CDB_SGATE_NODE* gate, CDB_SGATE_OTERM** out) {
  size_t count = 0;
  for (CDB_SGATE_ITERM* t : gate->get_input_terms()) {
    CDB_SGATE_OTERM* src = real_source(t);
    if (!src) continue;
    bool repeat = false;
    for (size_t j = 0; j < count; ++j) repeat |= out[j] == src;
    if (!repeat) out[count++] = src;
  }
  return count;
}
}  // namespace

// ---------------------------------------------------------------------------
// GRAPH members

void KAVU_SORT::GRAPH::enter(const std::vector<CDB_SGATE_OTERM*>& oterms) {
  KAVU_CHECK(m_oterms.empty());
  uintptr_t low = UINTPTR_MAX, high = 0;
  for (const CDB_SGATE_OTERM* oterm : oterms) {
    low = std::min(low, reinterpret_cast<uintptr_t>(oterm));
    high = std::max(high, reinterpret_cast<uintptr_t>(oterm));
  }
  m_index.reset(low, high, oterms.size());
  const size_t n = oterms.size() + GRAPH_SPARE_TERMINALS;
  m_oterms.reserve(n);
  m_state.reserve(n);
  m_fin.reserve(n);
  m_fin_edges.reserve(2 * n);
  // Distinct terminals take numbers 0, 1, ... in order and fill the arrays
  // in one go; from the first repeat on they are entered one by one.
  size_t i = 0;
  for (; i < oterms.size(); ++i) {
    if (m_index.insert(oterms[i], int(i)) != int(i)) break;
  }
  m_oterms.assign(oterms.begin(), oterms.begin() + std::ptrdiff_t(i));
  m_state.assign(i, UNVISITED);
  m_fin.assign(i, FEEDERS{-1, 0});
  for (; i < oterms.size(); ++i) add(oterms[i]);
}

int KAVU_SORT::GRAPH::add(CDB_SGATE_OTERM* oterm) {
  const int v = m_index.insert(oterm, size());
  if (v < size()) return v;
  m_oterms.push_back(oterm);
  m_state.push_back(UNVISITED);
  m_fin.push_back(FEEDERS{-1, 0});
  if (m_seen.size() != 0 && m_seen.size() < m_oterms.size()) m_seen.resize(m_oterms.capacity());
  return v;
}

void KAVU_SORT::GRAPH::query_feeders(int v) {
  const CDB_SGATE_NODE* gate = m_oterms[v]->get_my_node();
  query_feeders(v, gate, gate->is_wysiwyg(), gate->get_sgate_type());
}

// Flattened: the arena's appends are inlined (one per edge).
[[gnu::flatten]] void KAVU_SORT::GRAPH::query_feeders(int v, const CDB_SGATE_NODE* gate, bool wysiwyg,
                                                      CDB_SGATE_TYPE type) {
  if (has_plain_feeders(gate, wysiwyg, type, m_sequential)) {
    // Every output of such a gate has the same feeders: its inputs' sources.
    if (!m_grow) {
      // Numbered straight into the arena in one pass: equal numbers are
      // equal terminals, so the repeats write_plain_feeders drops are the
      // repeated numbers here.
      const size_t start = m_fin_edges.size();
      for (CDB_SGATE_ITERM* t : gate->get_input_terms()) {
        CDB_SGATE_OTERM* src = real_source(t);
        if (!src) continue;
        const int w = index_of(src);
        if (w < 0) continue;  // outside the graph
        bool repeat = false;
        for (size_t j = start; j < m_fin_edges.size(); ++j) repeat |= m_fin_edges[j] == w;
        if (!repeat) m_fin_edges.push_back(w);
      }
      const size_t count = m_fin_edges.size() - start;
      m_fin[v] = FEEDERS{int(start), int(count)};
      return;
    }
    // Written to the free end of the raw buffer, then numbered.
    CDB_SGATE_OTERM** feeders = raw_room(gate->get_number_of_input_terms());
    set_feeders(v, feeders, write_plain_feeders(gate, feeders), true);
    return;
  }
  kavu_get_oterm_feeders(m_oterms[v], m_query, m_lcell, m_sequential, m_skip_macs);
  set_feeders(v, m_query.data(), m_query.size());
}

void KAVU_SORT::GRAPH::set_feeders(int v, CDB_SGATE_OTERM* const* feeders, size_t count, bool distinct) {
  const int start = int(m_fin_edges.size());
  // Repeats (possible for logic-cell atoms) are found by a scan of the
  // short lists and by stamps in long ones.
  const bool linear = count <= LINEAR_FEEDER_LIMIT;
  if (!linear && !distinct) start_seen();
  for (size_t k = 0; k < count; ++k) {
    CDB_SGATE_OTERM* f = feeders[k];
    if (!f) continue;
    const int w = m_grow ? add(f) : index_of(f);
    if (w < 0) continue;  // outside the graph
    if (distinct) {
      // distinct terminals have distinct numbers
    } else if (linear) {
      bool repeat = false;
      for (size_t j = size_t(start); j < m_fin_edges.size(); ++j) repeat |= m_fin_edges[j] == w;
      if (repeat) continue;
    } else if (!m_seen.mark_new(size_t(w))) {  // start_seen sized it; add() keeps it sized
      continue;
    }
    m_fin_edges.push_back(w);
  }
  m_fin[v] = FEEDERS{start, int(m_fin_edges.size()) - start};
}

void KAVU_SORT::GRAPH::query_raw_feeders(CDB_SGATE_OTERM* oterm) {
  kavu_get_oterm_feeders(oterm, m_query, m_lcell, m_sequential, m_skip_macs);
  std::copy(m_query.begin(), m_query.end(), raw_room(m_query.size()));
  m_raw_count += m_query.size();
  m_raw_ends.push_back(m_raw_count);
}

void KAVU_SORT::GRAPH::query_plain_feeders(const CDB_SGATE_NODE* gate) {
  m_raw_count += write_plain_feeders(gate, raw_room(gate->get_number_of_input_terms()));
  m_raw_ends.push_back(m_raw_count);
}

void KAVU_SORT::GRAPH::set_raw_feeders(const std::vector<CDB_SGATE_OTERM*>& oterms) {
  if (m_oterms.size() != oterms.size() || !m_fin_edges.empty() || m_grow) {
    // Repeats among the asked terminals (or lists already set): one by one.
    size_t first = 0;
    for (size_t i = 0; i < oterms.size(); ++i) {
      const size_t end = m_raw_ends[i];
      const int v = index_of(oterms[i]);
      if (m_fin[v].m_first < 0) set_feeders(v, m_raw_feeders.data() + first, end - first);
      first = end;
    }
    return;
  }
  // Number i is oterms[i] and the arena is empty: the lists are translated
  // in one pass, each straight after the one before.
  m_fin_edges.resize(m_raw_count);
  int* out = m_fin_edges.data();
  CDB_SGATE_OTERM* const* const raw = m_raw_feeders.data();
  int pos = 0;
  size_t k = 0;
  for (size_t i = 0; i < oterms.size(); ++i) {
    const size_t end = m_raw_ends[i];
    const int start = pos;
    if (end - k > LINEAR_FEEDER_LIMIT) {  // a long list: checked for repeats by stamps
      m_fin_edges.resize(size_t(pos));
      set_feeders(int(i), raw + k, end - k);
      pos = int(m_fin_edges.size());
      m_fin_edges.resize(m_raw_count);  // no more than the raw lists in all
      out = m_fin_edges.data();
      k = end;
      continue;
    }
    for (; k < end; ++k) {
      const int w = index_of(raw[k]);
      if (w < 0) continue;  // outside the graph
      bool repeat = false;
      for (int j = start; j < pos; ++j) repeat |= out[j] == w;
      if (!repeat) out[pos++] = w;
    }
    m_fin[i] = FEEDERS{start, pos - start};
  }
  m_fin_edges.resize(size_t(pos));
}

void KAVU_SORT::GRAPH::build_fanouts() {
  int first = 0, count = 0;
  for (int v = 0; v < size(); ++v) fetch_feeders(v, first, count);  // size may grow
  const int n = size();
  m_fout_first.assign(size_t(n) + 1, 0);
  // Local pointers: the compiler cannot keep the vectors' own in registers
  // across the byte and int stores.
  const FEEDERS* const fin = m_fin.data();
  const int* const fin_edges = m_fin_edges.data();
  int* const fout_first = m_fout_first.data();
  for (int v = 0; v < n; ++v) {
    const int* e = fin_edges + fin[v].m_first;
    for (const int* end = e + fin[v].m_count; e != end; ++e) ++fout_first[*e + 1];
  }
  for (int v = 0; v < n; ++v) fout_first[v + 1] += fout_first[v];
  m_fout_edges.assign(size_t(fout_first[n]), 0);
  std::vector<int>& pos_vector = m_ints;  // free until the walks order successor lists
  pos_vector.assign(m_fout_first.begin(), m_fout_first.end() - 1);
  int* const pos = pos_vector.data();
  int* const fout_edges = m_fout_edges.data();
  for (int v = 0; v < n; ++v) {
    const int* e = fin_edges + fin[v].m_first;
    for (const int* end = e + fin[v].m_count; e != end; ++e) fout_edges[pos[*e]++] = v;
  }
  m_fout_ordered.assign(size_t(n), 0);
}

// A walk's successor order matters only among successors it may still
// enter, so a list is put in fan-out order when first opened with two or
// more of them unvisited; in a loop-free graph every successor of an opened
// terminal is done already and no list is ever ordered.
void KAVU_SORT::GRAPH::open_successors(int v) {
  if (m_fout_ordered[v]) return;
  const int* const successors = m_fout_edges.data() + fanout_first(v);
  const int count = fanout_count(v);
  const uint8_t* const states = m_state.data();
  int open = 0;
  for (int k = 0; k < count && open < 2; ++k) open += states[successors[k]] == UNVISITED ? 1 : 0;
  if (open < 2) return;
  order_successors(v);
  m_fout_ordered[v] = 1;
}

// Membership of a gate's outputs in the successor list is a stamp test
// after one look-up of the output's number.
void KAVU_SORT::GRAPH::order_successors(int f) {
  const int start = m_fout_first[f], cnt = fanout_count(f);
  m_ints.assign(m_fout_edges.begin() + start, m_fout_edges.begin() + start + cnt);
  start_seen();
  for (int w : m_ints) m_seen.mark(size_t(w));
  int out = start;
  int* const edges = m_fout_edges.data();
  const CDB_SGATE_NODE* previous = nullptr;
  for (CDB_SGATE_ITERM* iterm : m_oterms[f]->fanouts()) {
    const CDB_SGATE_NODE* node = iterm->get_my_node();
    if (node == previous) continue;
    previous = node;
    for (const CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o) continue;
      const int w = index_of(o);
      if (w >= 0 && m_seen.is_marked(size_t(w))) {
        m_seen.unmark(size_t(w));
        edges[out++] = w;
      }
    }
    if (out == start + cnt) return;
  }
  for (int w : m_ints) {  // a successor not reached through the chain
    if (m_seen.is_marked(size_t(w))) {
      m_seen.unmark(size_t(w));
      m_fout_edges[out++] = w;
    }
  }
}

void KAVU_SORT::GRAPH::final_order(std::vector<int>& order) const {
  order.clear();
  order.reserve(m_fronted.size() + m_appended.size());
  order.assign(m_fronted.rbegin(), m_fronted.rend());
  order.insert(order.end(), m_appended.begin(), m_appended.end());
}

// ---------------------------------------------------------------------------
// Construction

namespace {
bool family_sets_flag(int code) {
  for (int c : FAMILIES_WITH_FLAG) {
    if (c == code) return true;
  }
  return false;
}

bool is_pin_of(const CDB_SGATE_NODE* node, CDB_IO_TYPE type) {
  return kavu_is_a_pin(node) && static_cast<const CDB_SGATE_IO*>(node)->get_io_type() == type;
}

// The timer's fixed-register, RAM-packed or MAC-packed mark, in one flag
// read.
bool carries_timer_mark(const CDB_SGATE_NODE* node) {
  return node->get_flag().test(KAVU_SEQ_DFF_FIXED | KAVU_SEQ_RAM_PACKED | KAVU_SEQ_MAC_PACKED);
}

// The first output terminal of a gate whose kind must have one.
CDB_SGATE_OTERM* first_oterm(const CDB_SGATE_NODE* node) {
  CDB_SGATE_OTERM* oterm = node->get_output_term(0);
  if (!oterm) KAVU_INTERNAL_ERROR("oterm != 0");
  return oterm;
}

// Enters the terminal when needed and ORs the begin/end bits into its state.
int mark(KAVU_SORT::GRAPH& g, CDB_SGATE_OTERM* oterm, uint8_t bits) {
  const int v = g.add(oterm);
  g.m_state[v] |= bits;
  return v;
}

void push_begin(KAVU_SORT::GRAPH& g, int v, bool front) {
  if (front) g.m_begin.push_front(v);
  else g.m_begin.push_back(v);
}

void push_end(KAVU_SORT::GRAPH& g, int v, bool front) {
  if (front) g.m_end.push_front(v);
  else g.m_end.push_back(v);
}

// A register-like boundary: begin at the back, end at the front.
void add_register_boundary(KAVU_SORT::GRAPH& g, CDB_SGATE_OTERM* oterm) {
  const int v = mark(g, oterm, KAVU_SORT::GRAPH::MARK_BEGIN | KAVU_SORT::GRAPH::MARK_END);
  push_begin(g, v, false);
  push_end(g, v, true);
}

// An atom-like boundary: begin at the front, end at the back.
void add_atom_boundary(KAVU_SORT::GRAPH& g, CDB_SGATE_OTERM* oterm) {
  const int v = mark(g, oterm, KAVU_SORT::GRAPH::MARK_BEGIN | KAVU_SORT::GRAPH::MARK_END);
  push_begin(g, v, true);
  push_end(g, v, false);
}

void add_pin_boundary(KAVU_SORT::GRAPH& g, const CDB_SGATE_NODE* pin, CDB_SGATE_OTERM* oterm) {
  const CDB_IO_TYPE io = static_cast<const CDB_SGATE_IO*>(pin)->get_io_type();
  if (io == CDB_IO_INPUT) {
    push_begin(g, mark(g, oterm, KAVU_SORT::GRAPH::MARK_BEGIN), true);
  } else if (io == CDB_IO_OUTPUT) {
    push_end(g, mark(g, oterm, KAVU_SORT::GRAPH::MARK_END), false);
  } else {
    add_atom_boundary(g, oterm);
  }
}
}  // namespace

KAVU_SORT::KAVU_SORT(CMP_FACADE* facade, bool lcell_functionality, bool sequential, bool skip_wysiwyg_macs)
    : m_facade(facade),
      m_lcell_functionality(lcell_functionality),
      m_sequential(sequential),
      m_skip_wysiwyg_macs(skip_wysiwyg_macs) {
  m_debug_level = cfg_get_int_value("kavu_sort_debug", 0);
  m_dont_dfs = cfg_is_on("kavu_sort_dont_dfs", false);
  if (facade) {
    const int family = int(facade->get_family());
    if (family_sets_flag(family)) m_family_flag = true;
    else if (family == FAMILY_WITHOUT_FLAG) m_family_flag = false;
    else KAVU_INTERNAL_ERROR("Unsupported family");
  }
  if (lcell_functionality) kavu_debug("Sort-utility looks at lcell functionality");
  m_use_non_recur = sequential && cfg_is_on("kavu_sort_use_non_recur", true);
}

void KAVU_SORT::set_user_begin_end_oterms(OTERM_LIST* begin, OTERM_LIST* end) {
  m_user_begin_oterms = begin;
  m_user_end_oterms = end;
}

// ---------------------------------------------------------------------------
// Terminals that take part, begin and end terminals
//
// Per node the collections decide three things: which terminals take part
// (init_sort), which are boundaries (the begin/end collection) and which
// outputs dangle. A whole-netlist run (collect_netlist) decides all three
// in one walk of the node list and applies them in the order of the
// separate steps: enter every terminal, mark the boundaries in node order,
// add the caller's terminals, then the dangling ones, so the numbers, lists
// and marks are those of init_sort followed by get_begin_end_oterms.

namespace {
// The terminals init_sort enters for one node of the node list; `wysiwyg`
// and `type` are the node's (asked once per node by the callers).
void append_entered(const CDB_SGATE_NODE* node, bool wysiwyg, CDB_SGATE_TYPE type,
                    std::vector<CDB_SGATE_OTERM*>& entered) {
  switch (type) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_RAM_SLICE_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
    case CDB_SGATE_LATCH_ENUM:
    case CDB_SGATE_IO_ENUM:
      if (!wysiwyg) {
        entered.push_back(first_oterm(node));
        return;
      }
      [[fallthrough]];
    default: {
      const unsigned limit = (type == CDB_SGATE_CARRY_SUM_ENUM && !wysiwyg)
                                 ? std::min(2u, node->get_output_count())
                                 : node->get_output_count();
      for (unsigned i = 0; i < limit; ++i) {
        if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) entered.push_back(oterm);
      }
    }
  }
}

// The boundaries the whole-netlist collection takes from one node, in order.
void append_boundaries(CDB_SGATE_NODE* node, bool wysiwyg, CDB_SGATE_TYPE type, bool cut_buffers,
                       std::vector<BOUNDARY>& out) {
  if (wysiwyg) {
    if (node->cast_to_wysiwyg()->is_lcell_comb()) return;
    for (unsigned i = 0; i < node->get_output_count(); ++i) {
      if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) out.push_back({oterm, ATOM_BOUNDARY});
    }
    return;
  }
  switch (type) {
    case CDB_SGATE_BUFFER_ENUM:
      if (cut_buffers && kavu_is_a_cut_buffer(node)) out.push_back({first_oterm(node), REGISTER_BOUNDARY});
      break;
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
      break;
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_RAM_SLICE_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
    case CDB_SGATE_LATCH_ENUM:
      out.push_back({first_oterm(node), REGISTER_BOUNDARY});
      break;
    case CDB_SGATE_IO_ENUM:
      out.push_back({first_oterm(node), PIN_BOUNDARY});
      break;
    default:
      for (unsigned i = 0; i < node->get_output_count(); ++i) {
        if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) out.push_back({oterm, ATOM_BOUNDARY});
      }
  }
}

void apply_boundaries(KAVU_SORT::GRAPH& g, const std::vector<BOUNDARY>& boundaries) {
  for (const BOUNDARY& b : boundaries) {
    switch (b.m_kind) {
      case REGISTER_BOUNDARY: add_register_boundary(g, b.m_oterm); break;
      case ATOM_BOUNDARY: add_atom_boundary(g, b.m_oterm); break;
      case PIN_BOUNDARY: add_pin_boundary(g, b.m_oterm->get_my_node(), b.m_oterm); break;
    }
  }
}

bool is_empty(const KAVU_SORT::OTERM_LIST* list) { return !list || list->empty(); }

// A dangling output (no fan-out, no pin) ends a walk: nothing else would
// reach it.
bool is_dangling(const CDB_SGATE_OTERM* oterm) {
  return oterm && !oterm->has_fanout() && !kavu_is_a_pin(oterm->get_my_node());
}

void append_dangling(const CDB_SGATE_NODE* node, std::vector<CDB_SGATE_OTERM*>& dangling) {
  for (unsigned i = 0; i < node->get_output_count(); ++i) {
    CDB_SGATE_OTERM* oterm = node->get_output_term(i);
    if (is_dangling(oterm)) dangling.push_back(oterm);
  }
}

// Logic gates the whole-netlist collection handles in one step: a buffer
// (no cut buffer when those are boundaries), comb gate, LUT, mux or IO
// buffer of plain feeders enters its first output, is no boundary and is
// no pin, so an output of it dangles when it has no fan-out.
bool is_plain_logic(const CDB_SGATE_NODE* node, bool wysiwyg, CDB_SGATE_TYPE type, bool cut_buffers) {
  switch (type) {
    case CDB_SGATE_BUFFER_ENUM:
      if (cut_buffers) return false;
      break;
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
      break;
    default:
      return false;
  }
  return has_plain_feeders(node, wysiwyg, type, false);
}
}  // namespace

void KAVU_SORT::init_sort(CDB_SGATE_NETLIST* netlist, GRAPH& g,
                          const std::vector<CDB_SGATE_OTERM*>* oterms) const {
  if (oterms) {
    for (CDB_SGATE_OTERM* oterm : *oterms) {
      if (!oterm) KAVU_INTERNAL_ERROR("oterm != NULL");
    }
    g.enter(*oterms);
    return;
  }
  KAVU_CHECK(netlist != nullptr);
  std::vector<CDB_SGATE_OTERM*>& entered = g.m_entered;
  entered.clear();
  entered.reserve(size_t(netlist->size()) + GRAPH_SPARE_TERMINALS);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it) append_entered(*it, (*it)->is_wysiwyg(), (*it)->get_sgate_type(), entered);
  }
  g.enter(entered);
}

void KAVU_SORT::get_begin_end_oterms(CDB_SGATE_NETLIST* netlist, GRAPH& g, bool cut_buffers) const {
  KAVU_CHECK(netlist != nullptr);  // a domain outside sequential mode still needs the netlist
  std::vector<BOUNDARY>& boundaries = g.m_boundaries;
  std::vector<CDB_SGATE_OTERM*>& dangling = g.m_dangling;
  boundaries.clear();
  dangling.clear();
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it) append_boundaries(*it, (*it)->is_wysiwyg(), (*it)->get_sgate_type(), cut_buffers, boundaries);
  }
  apply_boundaries(g, boundaries);
  add_user_oterms(g);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it) append_dangling(*it, dangling);
  }
  add_dangling_oterms(g, dangling);
}

void KAVU_SORT::collect_netlist(CDB_SGATE_NETLIST* netlist, GRAPH& g, bool cut_buffers) const {
  KAVU_CHECK(netlist != nullptr);
  std::vector<CDB_SGATE_OTERM*>& entered = g.m_entered;
  std::vector<CDB_SGATE_OTERM*>& dangling = g.m_dangling;
  std::vector<BOUNDARY>& boundaries = g.m_boundaries;
  entered.clear();
  dangling.clear();
  boundaries.clear();
  entered.reserve(size_t(netlist->size()) + GRAPH_SPARE_TERMINALS);
  // The feeders are asked for while the node is at hand (the pre-order walk
  // instead enters feeders as it meets them, so it asks as it goes).
  const bool with_feeders = !m_dont_dfs;
  g.m_raw_count = 0;
  g.m_raw_ends.clear();
  g.m_raw_ends.reserve(entered.capacity());
  const auto stop = netlist->end_node_list();
  for (auto it = netlist->begin_node_list(); it != stop; ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    const bool wysiwyg = node->is_wysiwyg();
    const CDB_SGATE_TYPE type = node->get_sgate_type();
    if (is_plain_logic(node, wysiwyg, type, cut_buffers)) {
      // The common case in one step: one terminal, plain feeders, no
      // boundary, dangling when it drives nothing.
      CDB_SGATE_OTERM* oterm = node->get_output_term(0);
      if (!oterm) oterm = first_oterm(node);  // reports the missing output
      entered.push_back(oterm);
      if (with_feeders) g.query_plain_feeders(node);
      for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
        if (o && !o->has_fanout()) dangling.push_back(o);
      }
      continue;
    }
    const size_t first = entered.size();
    append_entered(node, wysiwyg, type, entered);
    if (with_feeders) {
      if (has_plain_feeders(node, wysiwyg, type, m_sequential)) {
        g.query_plain_feeders(node);  // its one entered terminal
      } else {
        for (size_t i = first; i < entered.size(); ++i) g.query_raw_feeders(entered[i]);
      }
    }
    append_boundaries(node, wysiwyg, type, cut_buffers, boundaries);
    append_dangling(node, dangling);
  }
  g.enter(entered);
  if (with_feeders) g.set_raw_feeders(entered);
  apply_boundaries(g, boundaries);
  add_user_oterms(g);
  add_dangling_oterms(g, dangling);
}

void KAVU_SORT::get_begin_end_oterm_of_wysiwyg_sequential(CDB_SGATE_WYSIWYG* wys, GRAPH& g) const {
  if (wys->is_lcell_comb()) return;
  for (unsigned i = 0; i < wys->get_output_count(); ++i) {
    CDB_SGATE_OTERM* oterm = wys->get_output_term(i);
    const int v = oterm ? g.index_of(oterm) : -1;
    // Terminals of other clock domains stay out; an atom met through several
    // of its terminals is entered once.
    if (v < 0 || (g.m_state[v] & (GRAPH::MARK_BEGIN | GRAPH::MARK_END)) == (GRAPH::MARK_BEGIN | GRAPH::MARK_END))
      continue;
    add_atom_boundary(g, oterm);
  }
}

void KAVU_SORT::get_begin_end_oterms_sequential(const std::vector<CDB_SGATE_OTERM*>* oterms, GRAPH& g,
                                                bool cut_buffers) const {
  if (!oterms) KAVU_INTERNAL_ERROR("p_oterm_vec != NULL");
  int num_ff = 0, num_dsp = 0, num_wys_dsp = 0, num_wys_ff = 0;
  // The feeders and the dangling test are taken while the gate is at hand,
  // in the same pass. Feeder lists keep only terminals of the graph, so they
  // are fetched here only when none can enter later (no caller's extra
  // terminals, no pre-order walk) and terminal i has number i (no repeats).
  const bool with_feeders = !m_dont_dfs && is_empty(m_user_begin_oterms) && is_empty(m_user_end_oterms) &&
                            size_t(g.size()) == oterms->size();
  std::vector<CDB_SGATE_OTERM*>& dangling = g.m_dangling;
  dangling.clear();
  for (size_t i = 0; i < oterms->size(); ++i) {
    CDB_SGATE_OTERM* oterm = (*oterms)[i];
    CDB_SGATE_NODE* node = oterm->get_my_node();
    const CDB_SGATE_TYPE type = node->get_sgate_type();
    const bool wysiwyg = node->is_wysiwyg();
    if (with_feeders) g.query_feeders(int(i), node, wysiwyg, type);
    if (is_dangling(oterm)) dangling.push_back(oterm);
    if (carries_timer_mark(node)) {
      add_register_boundary(g, oterm);
    } else if (type == CDB_SGATE_WYSIWYG_MAC_MULT_ENUM || type == CDB_SGATE_WYSIWYG_MAC_OUT_ENUM) {
      ++num_dsp;
    } else if (wysiwyg) {
      CDB_SGATE_WYSIWYG* wys = node->cast_to_wysiwyg();
      if (wys->is_ff()) {
        ++num_wys_ff;
        continue;
      }
      if (wys->is_mac()) ++num_wys_dsp;
      if (wys->is_mac() && m_skip_wysiwyg_macs) continue;
      get_begin_end_oterm_of_wysiwyg_sequential(wys, g);
    } else if (type == CDB_SGATE_BUFFER_ENUM) {
      if (!cut_buffers || !kavu_is_a_cut_buffer(node)) continue;
      if (oterm != node->get_output_term(0)) KAVU_INTERNAL_ERROR("oterm == my_oterm");
      add_register_boundary(g, oterm);
    } else if (type == CDB_SGATE_COMB_ENUM || type == CDB_SGATE_IO_BUF_ENUM || type == CDB_SGATE_LUT_ENUM ||
               type == CDB_SGATE_MUX_ENUM || type == CDB_SGATE_CARRY_SUM_ENUM) {
      continue;
    } else if (type == CDB_SGATE_DFF_ENUM || type == CDB_SGATE_LATCH_ENUM) {
      ++num_ff;
    } else if (type == CDB_SGATE_RAM_SLICE_ENUM || type == CDB_SGATE_TRI_BUS_ENUM) {
      if (node->get_output_term(0) != oterm) KAVU_INTERNAL_ERROR("my_oterm == oterm");
      add_register_boundary(g, oterm);
    } else if (type == CDB_SGATE_IO_ENUM) {
      if (node->get_output_term(0) != oterm) KAVU_INTERNAL_ERROR("my_oterm == oterm");
      add_pin_boundary(g, node, oterm);
    } else {
      add_atom_boundary(g, oterm);
    }
  }
  if (m_debug_level != 0)
    kavu_debug("Total ff = %d, total dsp=%d, total wys_dsp=%d, total wys dff=%d", num_ff, num_dsp, num_wys_dsp,
               num_wys_ff);
  add_user_oterms(g);
  add_dangling_oterms(g, dangling);
}

void KAVU_SORT::add_user_oterms(GRAPH& g) const {
  if (m_user_begin_oterms) {
    for (CDB_SGATE_OTERM* oterm : *m_user_begin_oterms) {
      if (!oterm || kavu_is_a_pin(oterm->get_my_node())) continue;
      const int v = g.add(oterm);
      if (g.m_state[v] & GRAPH::MARK_BEGIN) continue;
      g.m_state[v] |= GRAPH::MARK_BEGIN;
      g.m_begin.push_back(v);
    }
  }
  if (m_user_end_oterms) {
    for (CDB_SGATE_OTERM* oterm : *m_user_end_oterms) {
      if (!oterm || kavu_is_a_pin(oterm->get_my_node())) continue;
      const int v = g.add(oterm);
      if (g.m_state[v] & GRAPH::MARK_END) continue;
      g.m_state[v] |= GRAPH::MARK_END;
      g.m_end.push_front(v);
    }
  }
}

// The last step of every collection: dangling outputs not yet end
// terminals go to the back of the end list; every state is cleared.
void KAVU_SORT::add_dangling_oterms(GRAPH& g, const std::vector<CDB_SGATE_OTERM*>& dangling) const {
  for (CDB_SGATE_OTERM* oterm : dangling) {
    const int v = g.add(oterm);
    if (!(g.m_state[v] & GRAPH::MARK_END)) g.m_end.push_back(v);
  }
  g.reset_states();
}

// ---------------------------------------------------------------------------
// Ordering

// The frames live in m_frames and the walk's post-order in m_post, both
// sized to the graph (a walk neither goes deeper nor finishes more than the
// terminals it holds); the arrays are read through local pointers, renewed
// after every feeder fetch, which may grow the arena.
void KAVU_SORT::dfs_oterm_fanin(int start, GRAPH& g) const {
  if (g.m_state[start] >= GRAPH::ACTIVE) return;
  if (g.m_frames.size() < size_t(g.size())) g.m_frames.resize(size_t(g.size()));
  if (g.m_post.size() < size_t(g.size())) g.m_post.resize(size_t(g.size()));
  GRAPH_STORAGE::FRAME* stack = g.m_frames.data();
  int* post = g.m_post.data();  // this walk's post-order, appended at its end
  int count = 0;
  uint8_t* state = g.m_state.data();
  state[start] = GRAPH::ACTIVE;
  stack[0] = GRAPH_STORAGE::FRAME{start, 0, 0, 0};
  g.fetch_feeders(start, stack[0].m_first, stack[0].m_count);
  const int* edges = g.m_fin_edges.data();
  const GRAPH_STORAGE::FEEDERS* fin = g.m_fin.data();
  int depth = 1;
  while (depth > 0) {
    GRAPH_STORAGE::FRAME& top = stack[depth - 1];
    if (top.m_next < top.m_count) {
      const int w = edges[top.m_first + top.m_next++];
      const uint8_t s = state[w];
      if (s >= GRAPH::ACTIVE) {  // done, begin, or in progress (the edge closes a loop)
        if (s == GRAPH::ACTIVE && !g.is_begin(w)) g.m_loop_cut = true;
        continue;
      }
      state[w] = GRAPH::ACTIVE;
      GRAPH_STORAGE::FRAME& next = stack[depth++];
      next = GRAPH_STORAGE::FRAME{w, 0, 0, 0};
      if (fin[w].m_first < 0) {
        g.fetch_feeders(w, next.m_first, next.m_count);
        if (g.m_frames.size() < size_t(g.size())) {  // a graph that grows on demand
          g.m_frames.resize(size_t(g.size()));
          g.m_post.resize(size_t(g.size()));
        }
        stack = g.m_frames.data();
        post = g.m_post.data();
        edges = g.m_fin_edges.data();
        state = g.m_state.data();
        fin = g.m_fin.data();
      } else {
        next.m_first = fin[w].m_first;
        next.m_count = fin[w].m_count;
      }
      continue;
    }
    state[top.m_v] = GRAPH::DONE;
    post[count++] = top.m_v;
    --depth;
  }
  g.m_appended.insert(g.m_appended.end(), post, post + count);
}

// The stack walk of kavu_sort_use_non_recur. Every eligible feeder of the
// top is pushed at once (PUSHED) and the last pushed is expanded first; an
// expanded terminal (EXPANDED) stays on the stack until everything above it
// is done and is then appended. A feeder found PUSHED lower on the stack
// (another terminal pushed it, nobody expanded it yet) is pushed again on
// top, so it is appended before the terminal that needs it; its older entry
// is dropped when it comes up DONE. Skipping such a feeder instead would
// append a terminal before one of its feeders, and the components built on
// that order would join terminals that lie on no loop. A feeder still
// EXPANDED is in progress: the edge closes a loop and is cut, as in the
// recursive form. Each terminal is pushed once plus once per edge at most.
void KAVU_SORT::dfs_oterm_fanin_loop(int start, GRAPH& g) const {
  if (g.m_state[start] != GRAPH::UNVISITED) return;
  if (g.m_post.size() < size_t(g.size())) g.m_post.resize(size_t(g.size()));
  // Local pointers, renewed after a feeder fetch (which may grow the arena).
  int* stack = g.vstack_room(g.m_fin_edges.size());
  int* post = g.m_post.data();  // this walk's post-order, appended at its end
  uint8_t* state = g.m_state.data();
  const int* edges = g.m_fin_edges.data();
  const GRAPH_STORAGE::FEEDERS* fin = g.m_fin.data();
  int depth = 0, count = 0;
  stack[depth++] = start;
  state[start] = GRAPH::PUSHED;
  while (depth > 0) {
    const int top = stack[depth - 1];
    const uint8_t s = state[top];
    if (s == GRAPH::EXPANDED) {
      state[top] = GRAPH::DONE;
      post[count++] = top;
      --depth;
    } else if (s == GRAPH::DONE) {
      --depth;  // the older entry of a terminal pushed again
    } else if (s == GRAPH::ACTIVE) {
      KAVU_INTERNAL_ERROR("Unexpected value");
    } else {
      if (s != GRAPH::PUSHED) KAVU_INTERNAL_ERROR("visit_map[cur_oterm] == 4");
      state[top] = GRAPH::EXPANDED;
      if (fin[top].m_first < 0) {
        int first = 0, fetched = 0;
        g.fetch_feeders(top, first, fetched);
        stack = g.vstack_room(g.m_fin_edges.size());
        edges = g.m_fin_edges.data();
        fin = g.m_fin.data();
        state = g.m_state.data();
      }
      const int* const feeders = edges + fin[top].m_first;
      const int n = fin[top].m_count;
      for (int k = 0; k < n; ++k) {
        const int w = feeders[k];
        const uint8_t sw = state[w];
        if (sw == GRAPH::EXPANDED) g.m_loop_cut = true;  // in progress: a loop
        if (sw != GRAPH::UNVISITED && sw != GRAPH::PUSHED) continue;
        state[w] = GRAPH::PUSHED;
        stack[depth++] = w;
      }
    }
  }
  g.m_appended.insert(g.m_appended.end(), post, post + count);
}

void KAVU_SORT::preorder_oterm_fanin(int start, GRAPH& g) const {
  g.m_state[start] = GRAPH::ACTIVE;
  g.m_stack.clear();
  g.m_stack.push_back(GRAPH_STORAGE::FRAME{start, 0, 0, 0});
  while (!g.m_stack.empty()) {
    const int top = g.m_stack.back().m_v;
    int first = 0, count = 0;
    g.fetch_feeders(top, first, count);
    bool pushed = false;
    for (int k = count - 1; k >= 0; --k) {
      const int w = g.m_fin_edges[first + k];
      if (g.m_state[w] != GRAPH::UNVISITED) continue;
      g.m_state[w] = GRAPH::ACTIVE;
      g.m_stack.push_back(GRAPH_STORAGE::FRAME{w, 0, 0, 0});
      pushed = true;
    }
    if (pushed) continue;
    g.m_state[top] = GRAPH::DONE;
    g.m_appended.push_back(top);
    g.m_stack.pop_back();
  }
}

void KAVU_SORT::place_begin_oterms(GRAPH& g) const {
  for (int v : g.m_begin) {
    const CDB_SGATE_NODE* node = g.oterm(v)->get_my_node();
    const uint8_t state = g.m_state[v];
    if (m_sequential) {
      if (state == GRAPH::DONE) continue;
      if (m_debug_level >= 1 && state != GRAPH::ACTIVE) KAVU_INTERNAL_ERROR("visit_map[oterm] == 1");
    } else if (is_pin_of(node, CDB_IO_INPUT)) {
      if (state != GRAPH::ACTIVE) {
        kavu_debug("WARNING: input oterm sorted too early");
        if (m_debug_level >= 1) KAVU_INTERNAL_ERROR("visit_map[oterm] == 1");
      }
      if (state == GRAPH::DONE) continue;  // already in the order: never twice
    } else {
      if (state != GRAPH::DONE) {
        kavu_debug(kavu_is_a_pin(node) ? "WARNING: output oterm not sorted" : "WARNING: non-io begin oterm not sorted");
        if (m_debug_level >= 1) KAVU_INTERNAL_ERROR("visit_map[oterm] == 2");
      }
      continue;  // appended by its own walk, or reached by none: left out
    }
    g.m_state[v] = GRAPH::DONE;
    g.m_fronted.push_back(v);
  }
}

// The depth-first walks of a sort expand every end terminal and every
// terminal that is no begin terminal, and nothing else; their feeder lists
// are fetched up front in number order, which follows the node list and so
// the netlist's memory, instead of in the walks' scattered order.
void KAVU_SORT::fetch_walked_feeders(GRAPH& g) const {
  int first = 0, count = 0;
  for (int v = 0; v < g.size(); ++v) {
    if (g.m_state[v] == GRAPH::UNVISITED) g.fetch_feeders(v, first, count);
  }
  for (int v : g.m_end) g.fetch_feeders(v, first, count);
}

void KAVU_SORT::walk_fanin(int start, GRAPH& g) const {
  if (m_dont_dfs) preorder_oterm_fanin(start, g);
  else if (m_use_non_recur) dfs_oterm_fanin_loop(start, g);
  else dfs_oterm_fanin(start, g);
}

void KAVU_SORT::sort_oterms(GRAPH& g) const {
  g.reset_states();
  g.m_fronted.clear();
  g.m_appended.clear();
  g.m_appended.reserve(size_t(g.size()));
  g.m_loop_cut = false;
  g.m_begin_flag.assign(size_t(g.size()), 0);
  for (int v : g.m_begin) {
    g.m_state[v] = GRAPH::ACTIVE;
    g.m_begin_flag[v] = 1;
  }
  if (!m_dont_dfs) fetch_walked_feeders(g);
  for (int v : g.m_end) {
    if (g.m_state[v] == GRAPH::DONE) continue;  // appended by an earlier walk: never twice
    // A begin terminal's own walk starts from it (the pre-order walk starts
    // whatever the state).
    if (!m_dont_dfs && g.m_state[v] == GRAPH::ACTIVE) g.m_state[v] = GRAPH::UNVISITED;
    walk_fanin(v, g);
  }
  int invisible = 0;
  for (int v = 0; v < g.size(); ++v) {  // the pre-order walk may enter more
    if (g.m_state[v] != GRAPH::UNVISITED) continue;
    kavu_debug("WARNING: Oterm %s %s is invisible!", g.oterm(v)->get_my_node()->get_string_type_name(),
               g.oterm(v)->get_string_hpath().c_str());
    ++invisible;
    walk_fanin(v, g);
  }
  if (invisible > 0) kavu_debug("Found %d invisible oterms", invisible);
  place_begin_oterms(g);
  if (m_debug_level >= 1 && size_t(g.size()) != g.m_fronted.size() + g.m_appended.size())
    KAVU_INTERNAL_ERROR("visit_map.size() == sorted_oterms.size()");
}

void KAVU_SORT::sort_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& sorted, bool cut_buffers) {
  KAVU_CHECK(netlist != nullptr);
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, m_dont_dfs);
  collect_netlist(netlist, g, cut_buffers);
  sort_oterms(g);
  for (int v : g.m_fronted) sorted.push_front(g.oterm(v));
  for (int v : g.m_appended) sorted.push_back(g.oterm(v));
  if (m_debug_level >= 1) {
    // Components of this very graph, so that a sequential object (which has
    // no clock domain here) is verified as well.
    std::vector<int>& number = g.m_number;
    assign_components(g, g.m_component_order, number, g.m_histogram);
    verify_sorted_oterms(g, number);
  }
}

void KAVU_SORT::verify_sorted_oterms(GRAPH& g, const std::vector<int>& number) const {
  std::vector<int> order;
  g.final_order(order);
  kavu_debug("sort %d %d", g.size(), int(order.size()));
  if (size_t(g.size()) != order.size()) KAVU_INTERNAL_ERROR("visit_map.size() == sorted_oterms.size()");
  g.reset_states();
  for (int v : g.m_begin) g.m_state[v] = GRAPH::ACTIVE;
  for (int v : order) {
    if (g.m_state[v] == GRAPH::UNVISITED) {
      int first = 0, count = 0;
      g.fetch_feeders(v, first, count);
      for (int k = 0; k < count; ++k) {
        const int w = g.m_fin_edges[first + k];
        if (g.m_state[w] < GRAPH::ACTIVE && number[v] != number[w])
          KAVU_INTERNAL_ERROR("visit_map[src_oterms[i]] > 0 || scc_map[oterm] == scc_map[src_oterms[i]]");
      }
    }
    g.m_state[v] = GRAPH::DONE;
  }
}

// ===========================================================================
// Components, cones and paths

namespace {
int number_of(const KAVU_SORT::SCC_MAP& scc_map, CDB_SGATE_OTERM* oterm) {
  auto it = scc_map.find(oterm);
  return it == scc_map.end() ? 0 : it->second;
}
}  // namespace

// ---------------------------------------------------------------------------
// Walks

void KAVU_SORT::dfs_oterm_fanout(int start, GRAPH& g, std::vector<int>& finished) const {
  if (g.m_state[start] >= GRAPH::ACTIVE) return;
  g.m_state[start] = GRAPH::ACTIVE;
  g.m_stack.clear();
  g.open_successors(start);
  g.m_stack.push_back(GRAPH_STORAGE::FRAME{start, 0, g.fanout_first(start), g.fanout_count(start)});
  while (!g.m_stack.empty()) {
    GRAPH_STORAGE::FRAME& top = g.m_stack.back();
    if (top.m_next < top.m_count) {
      const int w = g.m_fout_edges[top.m_first + top.m_next++];
      if (g.m_state[w] >= GRAPH::ACTIVE) continue;
      g.m_state[w] = GRAPH::ACTIVE;
      g.open_successors(w);
      g.m_stack.push_back(GRAPH_STORAGE::FRAME{w, 0, g.fanout_first(w), g.fanout_count(w)});
      continue;
    }
    g.m_state[top.m_v] = GRAPH::DONE;
    finished.push_back(top.m_v);
    g.m_stack.pop_back();
  }
}

// The stack form (kavu_sort_use_non_recur): every eligible successor of the
// top is pushed at once (PUSHED); an expanded terminal (ACTIVE) finishes once
// everything above it has. Only the set it reaches matters to a component;
// the finishing order may differ from the recursive form's.
void KAVU_SORT::dfs_oterm_fanout_loop(int start, GRAPH& g, std::vector<int>& finished) const {
  if (g.m_state[start] != GRAPH::UNVISITED) return;
  if (g.m_post.size() < size_t(g.size())) g.m_post.resize(size_t(g.size()));
  // Local pointers: the byte stores would make the compiler reload the
  // vectors' own on every step.
  int* const stack = g.vstack_room(g.m_fout_edges.size());
  int* const post = g.m_post.data();
  uint8_t* const states = g.m_state.data();
  const int* const fout_edges = g.m_fout_edges.data();
  int depth = 0, count = 0;
  stack[depth++] = start;
  states[start] = GRAPH::PUSHED;
  while (depth > 0) {
    const int top = stack[depth - 1];
    const uint8_t state = states[top];
    if (state == GRAPH::ACTIVE) {
      states[top] = GRAPH::DONE;
      post[count++] = top;
      --depth;
      continue;
    }
    if (state == GRAPH::DONE) KAVU_INTERNAL_ERROR("Unexpected value");
    if (state != GRAPH::PUSHED) KAVU_INTERNAL_ERROR("visit_map[cur_oterm] == 4");
    g.open_successors(top);
    const int* const successors = fout_edges + g.fanout_first(top);
    const int n = g.fanout_count(top);
    for (int k = 0; k < n; ++k) {
      const int w = successors[k];
      if (states[w] != GRAPH::UNVISITED) continue;
      states[w] = GRAPH::PUSHED;
      stack[depth++] = w;
    }
    states[top] = GRAPH::ACTIVE;
  }
  finished.insert(finished.end(), post, post + count);
}

// ---------------------------------------------------------------------------
// Components

int KAVU_SORT::assign_components(GRAPH& g, std::vector<int>& scc_order, std::vector<int>& scc_number,
                                 std::vector<int>& histogram) const {
  std::vector<int>& sorted = g.m_sorted;
  std::vector<int>& finished = g.m_finished;
  g.final_order(sorted);
  // A depth-first sort that cut no loop is a topological order of the
  // terminals that are no begin terminals: every component is one terminal
  // and every walk below would find its start alone, so the successor
  // lists are not needed.
  const bool acyclic = !m_dont_dfs && !g.m_loop_cut;
  if (!acyclic) g.build_fanouts();
  g.reset_states();
  for (int v : g.m_begin) g.m_state[v] = GRAPH::ACTIVE;
  scc_number.assign(size_t(g.size()), 0);
  histogram.assign(LARGE_SCC_SIZE + 1, 0);
  // Components are found from the end of the sort and the list is built
  // from its back; every sorted terminal is placed once.
  scc_order.resize(sorted.size());
  size_t free_slots = sorted.size();
  auto place = [&](int w, int c) {
    if (free_slots == 0) KAVU_INTERNAL_ERROR("sorted_oterms.size() == oterm_list.size()");
    scc_number[w] = c;
    scc_order[--free_slots] = w;
  };
  int c = 1;
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
    const int v = *it;
    if (g.m_state[v] == GRAPH::DONE) continue;
    if (g.m_state[v] == GRAPH::ACTIVE) {  // a begin terminal: alone
      g.m_state[v] = GRAPH::DONE;
      place(v, c);
    } else if (acyclic || !g.has_unvisited_successor(v)) {
      // What the walk from v would find: v alone (every terminal outside a
      // loop, since all it feeds is done).
      g.m_state[v] = GRAPH::DONE;
      place(v, c);
      ++histogram[1];
    } else {
      finished.clear();
      if (m_use_non_recur) dfs_oterm_fanout_loop(v, g, finished);
      else dfs_oterm_fanout(v, g, finished);
      for (int w : finished) place(w, c);
      ++histogram[std::min<size_t>(finished.size(), LARGE_SCC_SIZE)];
    }
    ++c;
  }
  scc_order.erase(scc_order.begin(), scc_order.begin() + std::ptrdiff_t(free_slots));
  for (int& n : scc_number) n = c - n;
  return c - 1;
}

void KAVU_SORT::report_scc_statistics(const std::vector<int>& histogram) const {
  int cycles = 0;
  for (int size = 2; size < LARGE_SCC_SIZE; ++size) {
    if (histogram[size] == 0) continue;
    kavu_debug("%d-sgate SCCs: %d", size, histogram[size]);
    cycles += histogram[size];
  }
  if (histogram[LARGE_SCC_SIZE] != 0) kavu_debug(">= %d-sgate SCCs: %d", LARGE_SCC_SIZE, histogram[LARGE_SCC_SIZE]);
  kavu_debug("num_cycles: %d", cycles);
}

void KAVU_SORT::verify_scc_oterms(GRAPH& g, const std::vector<int>& scc_order,
                                  const std::vector<int>& scc_number) const {
  const size_t sorted = g.m_fronted.size() + g.m_appended.size();
  kavu_debug("scc %d %d", int(sorted), int(scc_order.size()));
  if (sorted != scc_order.size()) KAVU_INTERNAL_ERROR("sorted_oterms.size() == oterm_list.size()");
  for (size_t i = 1; i < scc_order.size(); ++i) {
    const int step = scc_number[scc_order[i]] - scc_number[scc_order[i - 1]];
    if (step < 0) KAVU_INTERNAL_ERROR("scc_map[curr_oterm]-scc_map[prev_oterm]>=0");
    if (step > 1) KAVU_INTERNAL_ERROR("scc_map[curr_oterm]-scc_map[prev_oterm]<=1");
  }
  g.reset_states();
  for (int v : g.m_begin) g.m_state[v] = GRAPH::ACTIVE;
  for (int v : scc_order) {
    if (g.m_state[v] != GRAPH::UNVISITED) continue;
    int first = 0, count = 0;
    g.fetch_feeders(v, first, count);
    for (int k = 0; k < count; ++k) {
      const int w = g.m_fin_edges[first + k];
      if (g.m_state[w] == GRAPH::UNVISITED && scc_number[w] > scc_number[v])
        KAVU_INTERNAL_ERROR("scc_map[src_oterms[i]] <= scc_map[oterm]");
    }
  }
}

void KAVU_SORT::dump_begin_end_oterms(GRAPH& g) const {
  std::orlind_ofstream out;
  out.open("kavu_sort_begin_end_oterms.txt", std::ios_base::out | std::ios_base::trunc);
  if (!out) return;
  auto write_list = [&out, &g](const std::deque<int>& list) {
    out << "Size = " << list.size() << "\n";
    int index = 0;
    for (int v : list) {
      const CDB_SGATE_OTERM* oterm = g.oterm(v);
      const CDB_SGATE_NODE* node = oterm->get_my_node();
      out << "[" << index++ << "] SGATE ID=" << (node ? long(node->get_id()) : -1L)
          << ", NAME=" << kavu_get_oterm_debug_name(oterm) << "\n";
    }
  };
  out << "****** Begin Oterms ******\n";
  write_list(g.m_begin);
  out << "\n****** End Oterms ******\n";
  write_list(g.m_end);
  out << "\n";
}

void KAVU_SORT::scc_graph(CDB_SGATE_NETLIST* netlist, bool cut_buffers, KAVU_SEQ_TIMER_CLK_DOMAIN* domain,
                          GRAPH& g) {
  if (m_sequential && !domain) KAVU_INTERNAL_ERROR("p_clk_domain != NULL");
  if (!domain) KAVU_CHECK(netlist != nullptr);
  const std::vector<CDB_SGATE_OTERM*>* oterms = domain ? &domain->get_oterms() : nullptr;
  if (!oterms) {
    collect_netlist(netlist, g, cut_buffers);  // combinational: sequential mode has a domain
  } else {
    init_sort(netlist, g, oterms);
    if (m_sequential) {
      get_begin_end_oterms_sequential(oterms, g, cut_buffers);
      if (cfg_is_on("kavu_sort_dump_begin_end_oterms", false)) dump_begin_end_oterms(g);
    } else {
      get_begin_end_oterms(netlist, g, cut_buffers);
    }
  }
  sort_oterms(g);
  std::vector<int>&order = g.m_component_order, &number = g.m_number, &histogram = g.m_histogram;
  assign_components(g, order, number, histogram);
  if (m_debug_level >= 1) {
    verify_scc_oterms(g, order, number);
    report_scc_statistics(histogram);
  }
}

void KAVU_SORT::scc_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& scc_list, SCC_MAP& scc_map, bool cut_buffers,
                           OTERM_LIST* begin, OTERM_LIST* end, KAVU_SEQ_TIMER_CLK_DOMAIN* domain) {
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, m_dont_dfs);
  scc_graph(netlist, cut_buffers, domain, g);
  const std::vector<int>& number = g.m_number;
  for (int v : g.m_component_order) scc_list.push_back(g.oterm(v));
  // Fill the map in address order so that every insertion is at its end.
  std::vector<int>& by_address = g.m_by_address;
  g.address_order(by_address);
  scc_map.clear();
  for (int v : by_address) scc_map.emplace_hint(scc_map.end(), g.oterm(v), number[v]);
  if (begin) {
    for (int v : g.m_begin) begin->push_back(g.oterm(v));
  }
  if (end) {
    for (int v : g.m_end) end->push_back(g.oterm(v));
  }
}

void kavu_sort_scc_components(KAVU_SORT& sort, CDB_SGATE_NETLIST* netlist, bool cut_buffers,
                              KAVU_SEQ_TIMER_CLK_DOMAIN* domain, KAVU_SORT_COMPONENTS& out) {
  KAVU_SORT::GRAPH g(sort.m_lcell_functionality, sort.m_sequential, sort.m_skip_wysiwyg_macs, sort.m_dont_dfs);
  sort.scc_graph(netlist, cut_buffers, domain, g);
  const std::vector<int>& order = g.m_component_order;
  out.m_order.resize(order.size());
  out.m_number.resize(order.size());
  for (size_t k = 0; k < order.size(); ++k) {
    out.m_order[k] = g.oterm(order[k]);
    out.m_number[k] = g.m_number[size_t(order[k])];
  }
  out.m_begin.clear();
  for (int v : g.m_begin) out.m_begin.push_back(g.oterm(v));
  out.m_end.clear();
  for (int v : g.m_end) out.m_end.push_back(g.oterm(v));
}

// ---------------------------------------------------------------------------
// Inputs, outputs and report of one component

bool KAVU_SORT::oterm_feeds_oterm(CDB_SGATE_OTERM* src, CDB_SGATE_OTERM* sink,
                                  std::vector<CDB_SGATE_OTERM*>& buf) const {
  kavu_get_oterm_feeders(sink, buf, m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs);
  return std::find(buf.begin(), buf.end(), src) != buf.end();
}

void KAVU_SORT::get_scc_inputs(OTERM_LIST& /*scc_list*/, OTERM_LIST::iterator& first, OTERM_LIST::iterator& last,
                               SCC_MAP& scc_map, OTERM_LIST& inputs) {
  if (first == last) return;
  const int s = number_of(scc_map, *first);
  std::vector<CDB_SGATE_OTERM*> feeders;
  for (auto it = first; it != last; ++it) {
    kavu_get_oterm_feeders(*it, feeders, m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs);
    for (CDB_SGATE_OTERM* f : feeders) {
      if (number_of(scc_map, f) == s) continue;
      if (std::find(inputs.begin(), inputs.end(), f) == inputs.end()) inputs.push_back(f);
    }
  }
}

void KAVU_SORT::get_scc_outputs(OTERM_LIST& /*scc_list*/, OTERM_LIST::iterator& first, OTERM_LIST::iterator& last,
                                SCC_MAP& scc_map, OTERM_LIST& outputs) {
  if (first == last) return;
  const int s = number_of(scc_map, *first);
  std::vector<CDB_SGATE_OTERM*> buf;
  for (auto it = first; it != last; ++it) {
    CDB_SGATE_OTERM* t = *it;
    bool found = false;
    for (CDB_SGATE_ITERM* iterm : t->fanouts()) {
      CDB_SGATE_NODE* node = iterm->get_my_node();
      unsigned lo = 0, hi = node->get_output_count();
      if (kavu_is_a_carry_sum_buffer(node)) {
        if (node->get_input_term(0) == iterm) lo = 0;
        else if (node->get_input_term(1) == iterm) lo = 1;
        else KAVU_INTERNAL_ERROR("Bad CARRY_SUM sgate.");
        hi = std::min(lo + 1, hi);
      }
      for (unsigned i = lo; i < hi && !found; ++i) {
        CDB_SGATE_OTERM* o = node->get_output_term(i);
        // A successor is a terminal that t feeds under the feeder rule.
        found = o && number_of(scc_map, o) != s && oterm_feeds_oterm(t, o, buf);
      }
      if (found) break;
    }
    if (found) outputs.push_back(t);
  }
}

void KAVU_SORT::report_scc_inout(OTERM_LIST& scc_list, SCC_MAP& scc_map) {
  static const char* const SCC_REPORT_FORMATS[] = {
      "1. scc %5d has %4d oterms, %3d inputs, %3d outputs, %3d cuts, and %3d out_cuts.",
      "2. scc %5d has %4d oterms, %3d inputs, %3d outputs, %3d cuts, and %3d out_cuts.",
      "3. scc %5d has %4d oterms, %3d inputs, %3d outputs, %3d cuts, and %3d out_cuts."};
  auto first = scc_list.begin();
  while (first != scc_list.end()) {
    const int s = number_of(scc_map, *first);
    auto last = first;
    int terms = 0, cuts = 0;
    for (; last != scc_list.end() && number_of(scc_map, *last) == s; ++last) {
      ++terms;
      if (kavu_is_a_cut_buffer((*last)->get_my_node())) ++cuts;
    }
    if (terms > 1) {
      OTERM_LIST outputs, inputs;
      get_scc_outputs(scc_list, first, last, scc_map, outputs);
      get_scc_inputs(scc_list, first, last, scc_map, inputs);
      int out_cuts = 0;
      for (CDB_SGATE_OTERM* o : outputs) out_cuts += kavu_is_a_cut_buffer(o->get_my_node()) ? 1 : 0;
      const int n_in = int(inputs.size()), n_out = int(outputs.size());
      if (n_out != 1) {
        kavu_debug(SCC_REPORT_FORMATS[0], s, terms, n_in, n_out, cuts, out_cuts);
        if (m_debug_level > SCC_OUTPUT_LIST_LEVEL) {
          for (CDB_SGATE_OTERM* o : outputs) oterm_info(o);
        }
      } else if (out_cuts < cuts) {
        kavu_debug(SCC_REPORT_FORMATS[1], s, terms, n_in, n_out, cuts, out_cuts);
      } else if (n_in > 3) {
        kavu_debug(SCC_REPORT_FORMATS[2], s, terms, n_in, n_out, cuts, out_cuts);
      }
    }
    first = last;
  }
}

void KAVU_SORT::oterm_info(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm != nullptr);
  kavu_debug("%s(%s)", kavu_sort_oterm_name(oterm, true).c_str(), oterm->get_my_node()->get_string_type_name());
}

// ---------------------------------------------------------------------------
// Cones and paths

namespace {
// The caller's visit map as a graph: its keys take part, in key order (the
// results follow the sink, feeder and fan-out orders, never this one).
void enter_map_keys(KAVU_SORT::GRAPH& g, const KAVU_SORT::VISIT_MAP& visit_map) {
  std::vector<CDB_SGATE_OTERM*> keys;
  keys.reserve(visit_map.size());
  for (const auto& entry : visit_map) keys.push_back(entry.first);
  g.enter(keys);
}

void write_back_states(const KAVU_SORT::GRAPH& g, KAVU_SORT::VISIT_MAP& visit_map) {
  for (int v = 0; v < g.size(); ++v) visit_map[g.oterm(v)] = g.m_state[v];
}
}  // namespace

void KAVU_SORT::fanin_cone_oterms(OTERM_LIST& sinks, VISIT_MAP& visit_map, OTERM_LIST& cone) {
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, false);
  enter_map_keys(g, visit_map);
  for (CDB_SGATE_OTERM* sink : sinks) g.m_state[g.add(sink)] = GRAPH::ACTIVE;
  g.m_appended.clear();
  for (CDB_SGATE_OTERM* sink : sinks) {
    const int v = g.index_of(sink);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;  // a repeated sink: listed once
    g.m_state[v] = GRAPH::UNVISITED;
    dfs_oterm_fanin(v, g);
  }
  for (int v : g.m_appended) cone.push_back(g.oterm(v));
  write_back_states(g, visit_map);
}

void KAVU_SORT::fanout_cone_oterms(OTERM_LIST& sources, VISIT_MAP& visit_map, OTERM_LIST& cone) {
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, false);
  enter_map_keys(g, visit_map);
  for (CDB_SGATE_OTERM* source : sources) g.add(source);
  g.build_fanouts();
  for (CDB_SGATE_OTERM* source : sources) g.m_state[g.index_of(source)] = GRAPH::ACTIVE;
  std::vector<int> finished;
  for (CDB_SGATE_OTERM* source : sources) {
    const int v = g.index_of(source);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;
    g.m_state[v] = GRAPH::UNVISITED;
    finished.clear();
    dfs_oterm_fanout(v, g, finished);
    for (int w : finished) cone.push_front(g.oterm(w));
  }
  write_back_states(g, visit_map);
}

void KAVU_SORT::path_oterms(CDB_SGATE_NETLIST* netlist, OTERM_LIST& from, OTERM_LIST& to, OTERM_LIST& path) {
  KAVU_CHECK(netlist != nullptr);
  GRAPH g(m_lcell_functionality, m_sequential, m_skip_wysiwyg_macs, false);
  init_sort(netlist, g, nullptr);
  for (CDB_SGATE_OTERM* t : to) g.add(t);
  for (CDB_SGATE_OTERM* f : from) g.add(f);
  // A: the fan-in cone of `to`, fan-in first.
  g.reset_states();
  g.m_appended.clear();
  for (CDB_SGATE_OTERM* t : to) g.m_state[g.index_of(t)] = GRAPH::ACTIVE;
  for (CDB_SGATE_OTERM* t : to) {
    const int v = g.index_of(t);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;
    g.m_state[v] = GRAPH::UNVISITED;
    dfs_oterm_fanin(v, g);
  }
  const std::vector<int> fanin_cone = g.m_appended;
  // B: the fan-out cone of `from`; only membership matters.
  g.build_fanouts();
  g.reset_states();
  for (CDB_SGATE_OTERM* f : from) g.m_state[g.index_of(f)] = GRAPH::ACTIVE;
  std::vector<int> fanout_cone;
  for (CDB_SGATE_OTERM* f : from) {
    const int v = g.index_of(f);
    if (g.m_state[v] != GRAPH::ACTIVE) continue;
    g.m_state[v] = GRAPH::UNVISITED;
    dfs_oterm_fanout(v, g, fanout_cone);
  }
  std::vector<uint8_t> count(size_t(g.size()), 0);
  for (int v : fanin_cone) ++count[v];
  for (int v : fanout_cone) ++count[v];
  for (int v : fanin_cone) {
    if (count[v] == 2) path.push_back(g.oterm(v));
  }
}

// ===========================================================================
// Wide-gate decomposition by depth (dmig), the combinational depth measure
// (comb_depth) and the seeded node-list order (kavu_sort_netlist_random).
//
// Level: an output terminal's aux value. Non-comb gates are level 0; a comb
//   gate with one input passes its input's level through; any other comb gate
//   is 1 + the largest level among its inputs' sources.
// Decomposition: an AND, OR or XOR gate with n > k inputs keeps its identity
//   and output; its inputs go into a min-heap keyed by
//   level(source) - kavu_wt_sr * p, p the input's signal probability (x100)
//   when its record's confidence reaches kavu_confidence, else 100. Groups of
//   the smallest keys are split off into new gates of the same type: first
//   r + 1 inputs with r = (n - 1) mod (k - 1) (k inputs when r is 0), then k
//   at a time, each new gate's input going back into the heap, until k
//   inputs are left. This is the k-ary tree with the fewest gates, and the
//   latest-arriving inputs end on the original gate, nearest the output.
//   Only associative types are split: other comb types (NOT, name keepers)
//   are levelled as they are, since a tree of inverters would change the
//   function.
// Preconditions (checked before the first change): k >= 2; every input of a
//   comb gate connected and not tied to a constant.
// Cost: O(n log n) per wide gate; one topological node list per call.

namespace {
bool is_associative(const CDB_SGATE_COMB* comb) {
  const CDB_COMB_TYPE type = comb->get_comb_type();
  return type == CDB_COMB_AND || type == CDB_COMB_OR || type == CDB_COMB_XOR;
}

void check_levelled_iterm(const CDB_SGATE_ITERM* iterm) {
  if (!cdb_is_connected(iterm) || iterm->is_vcc_or_gnd())
    KAVU_INTERNAL_ERROR("cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd()");
}

int source_level(const CDB_SGATE_ITERM* iterm) {
  check_levelled_iterm(iterm);
  const CDB_SGATE_OTERM* source = iterm->get_source();
  return source ? source->get_aux() : 0;
}

int heap_key(const CDB_SGATE_ITERM* iterm) {
  int p = PROBABILITY_PERCENT;
  const CDB_SGATE_ITERM_INFO* info = iterm->get_info();
  if (info && info->get_confidence() >= kavu_confidence) p = int(info->get_probability() * PROBABILITY_PERCENT);
  // Signed 32-bit arithmetic that wraps instead of overflowing.
  const int64_t key = int64_t(source_level(iterm)) - int64_t(kavu_wt_sr) * p;
  return int(uint32_t(uint64_t(key)));
}

bool heap_less(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b) { return heap_key(a) > heap_key(b); }

// Level of a comb gate by the rules above; `inputs` are its non-null inputs.
int comb_level(const std::vector<CDB_SGATE_ITERM*>& inputs) {
  if (inputs.size() == 1) return source_level(inputs[0]);
  int level = 0;
  for (const CDB_SGATE_ITERM* iterm : inputs) level = std::max(level, source_level(iterm));
  return level + 1;
}

void collect_inputs(const CDB_SGATE_NODE* node, std::vector<CDB_SGATE_ITERM*>& inputs) {
  inputs.clear();
  for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
    if (CDB_SGATE_ITERM* iterm = node->get_input_term(i)) inputs.push_back(iterm);
  }
}

// Every output's level reset to 0.
void reset_levels(const std::vector<CDB_SGATE_NODE*>& nodes) {
  for (CDB_SGATE_NODE* node : nodes) {
    for (unsigned i = 0; i < node->get_output_count(); ++i) {
      if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) oterm->set_aux(0);
    }
  }
}
}  // namespace

void KAVU_SORT::make_iterm_heap(std::vector<CDB_SGATE_ITERM*>& heap) {
  std::make_heap(heap.begin(), heap.end(), heap_less);
}

void KAVU_SORT::push_iterm_into_heap(std::vector<CDB_SGATE_ITERM*>& heap, CDB_SGATE_ITERM* iterm) {
  heap.push_back(iterm);
  std::push_heap(heap.begin(), heap.end(), heap_less);
}

CDB_SGATE_ITERM* KAVU_SORT::pop_iterm_from_heap(std::vector<CDB_SGATE_ITERM*>& heap) {
  std::pop_heap(heap.begin(), heap.end(), heap_less);
  CDB_SGATE_ITERM* top = heap.back();
  heap.pop_back();
  return top;
}

CDB_SGATE_COMB* KAVU_SORT::decompose_comb_sgate(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb,
                                                std::list<CDB_SGATE_ITERM*>& iterms) {
  CDB_SGATE_COMB* part = kavu_create_new_comb(netlist, comb, comb->get_comb_type());
  for (CDB_SGATE_ITERM* old : iterms) {
    CDB_SGATE_ITERM* moved = part->insert_unordered_fanin(old->get_source());
    if (old->is_inverted()) moved->set_invert();
    if (old->get_info()) moved->set_info(old->release_info());
  }
  for (CDB_SGATE_ITERM* old : iterms) comb->delete_input_term(old);
  CDB_SGATE_ITERM* link = comb->insert_unordered_fanin(part->get_output_term(0));
  CDB_SGATE_ITERM_INFO* info = link->create_info();
  info->set_value(UNKNOWN_ITERM_VALUE);
  info->set_probability(1.0);
  info->set_confidence(0);
  iterms.clear();
  iterms.push_back(link);
  return part;
}

int KAVU_SORT::dmig_sgate(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb, unsigned int k) {
  std::vector<CDB_SGATE_ITERM*> heap;
  collect_inputs(comb, heap);
  CDB_SGATE_OTERM* out = comb->get_output_term(0);
  if (heap.size() <= k || !is_associative(comb)) {
    if (out) out->set_aux(comb_level(heap));
    return 0;
  }
  make_iterm_heap(heap);
  int created = 0;
  std::list<CDB_SGATE_ITERM*> group;
  while (heap.size() > k) {
    // The first group takes what makes every later group exactly k.
    const size_t r = (heap.size() - 1) % (k - 1);
    const size_t m = r != 0 ? r + 1 : k;
    group.clear();
    int deepest = 0;
    for (size_t i = 0; i < m; ++i) {
      CDB_SGATE_ITERM* iterm = pop_iterm_from_heap(heap);
      deepest = std::max(deepest, source_level(iterm));
      group.push_back(iterm);
    }
    CDB_SGATE_COMB* part = decompose_comb_sgate(netlist, comb, group);
    part->get_output_term(0)->set_aux(deepest + 1);
    ++created;
    push_iterm_into_heap(heap, group.front());
  }
  if (heap.size() != k) KAVU_INTERNAL_ERROR("vec_siterms.size() == size");
  collect_inputs(comb, heap);
  if (out) out->set_aux(comb_level(heap));
  return created;
}

int KAVU_SORT::dmig(CDB_SGATE_NETLIST* netlist, int k, bool verbose) {
  KAVU_CHECK(netlist != nullptr);
  if (k < 2) KAVU_INTERNAL_ERROR("k >= 2");  // the group size divides by k - 1
  const time_t start = time(nullptr);
  std::vector<CDB_SGATE_NODE*> nodes;
  get_topological_order(netlist, nodes, CDB_SGATE_NETLIST::INPUTS_FIRST);
  reset_levels(nodes);
  if (cfg_is_on("kavu_dmig_sort_netlist", false)) {
    kavu_debug("Sort netlist by dag order in dmig");
    netlist->sort_by_dag_order(0);
  }
  // Validate every comb gate before the first edit, so that a refused
  // netlist is left as it was.
  std::vector<CDB_SGATE_ITERM*> inputs;
  for (CDB_SGATE_NODE* node : nodes) {
    if (!kavu_is_a_comb(node)) continue;
    collect_inputs(node, inputs);
    for (const CDB_SGATE_ITERM* iterm : inputs) check_levelled_iterm(iterm);
    if (inputs.size() > unsigned(k) && is_associative(node->cast_to_comb())) {
      for (const CDB_SGATE_ITERM* iterm : inputs) KAVU_CHECK(iterm->get_source() != nullptr);
    }
  }
  int created = 0, decomposed = 0, depth = 0;
  for (CDB_SGATE_NODE* node : nodes) {
    if (!kavu_is_a_comb(node)) continue;
    const int n = dmig_sgate(netlist, node->cast_to_comb(), unsigned(k));
    created += n;
    if (n > 0) ++decomposed;
    if (const CDB_SGATE_OTERM* out = node->get_output_term(0)) depth = std::max(depth, out->get_aux());
  }
  netlist->dfs(1, false, true, false);
  const time_t end = time(nullptr);
  if (verbose) {
    kavu_debug("Result dmig: decomposes %d nodes, generates %d nodes", decomposed, created);
    kavu_debug("Spent %d seconds in DMIG", int(end - start));
  }
  if (m_debug_level >= 1) {
    const int d = comb_depth(netlist);
    if (d != depth) KAVU_INTERNAL_ERROR("d == network_depth");
  }
  return depth;
}

int KAVU_SORT::comb_depth(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != nullptr);
  std::vector<CDB_SGATE_NODE*> nodes;
  get_topological_order(netlist, nodes, CDB_SGATE_NETLIST::INPUTS_FIRST);
  reset_levels(nodes);
  std::vector<CDB_SGATE_ITERM*> inputs;
  int depth = 0;
  for (CDB_SGATE_NODE* node : nodes) {
    if (!kavu_is_a_comb(node)) continue;
    collect_inputs(node, inputs);
    const int level = comb_level(inputs);
    if (CDB_SGATE_OTERM* out = node->get_output_term(0)) out->set_aux(level);
    if (inputs.size() != 1) depth = std::max(depth, level);
  }
  return depth;
}

// ---------------------------------------------------------------------------
// Seeded node-list order

void kavu_sort_netlist_random(CDB_SGATE_NETLIST* netlist, int seed) {
  KAVU_CHECK(netlist != nullptr);
  kavu_debug("Scrambling netlist order.  First seed %d", seed);
  GEN_RAND a{uint32_t(seed)};
  const uint32_t x = uint32_t(a.get_rand());
  const uint32_t y = uint32_t(a.get_rand());
  a.set_seed(x);
  GEN_RAND b(y);
  uint32_t table[SHUFFLE_TABLE_SIZE];
  for (uint32_t& entry : table) entry = uint32_t(b.get_rand());
  std::vector<CDB_SGATE_NODE*> nodes;
  nodes.reserve(netlist->size());
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it) nodes.push_back(*it);
  }
  const size_t n = nodes.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t j = uint32_t(a.get_rand()) % SHUFFLE_TABLE_SIZE;
    const uint32_t v = table[j];
    table[j] = uint32_t(b.get_rand());
    const size_t pick = v % n;
    if (pick != i) std::swap(nodes[i], nodes[pick]);
  }
  // Unlink every gate, then add them back in the new order.
  for (CDB_SGATE_NODE* node : nodes) netlist->delete_node(node);
  for (CDB_SGATE_NODE* node : nodes) netlist->add_node(node, true);
}
