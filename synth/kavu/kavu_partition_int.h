// kavu_partition_int.h — the partitioner's private state and the helpers the
// partitioning sources share.
#pragma once

#include <mutex>

#include <cstdint>
#include <map>
#include <vector>

#include "gen/gen_dyn_flag.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_partition.h"

struct KAVU_PARTITION_INFO {
  int size = 0;
  std::vector<CDB_SGATE_NODE*> nodes;
};

// A small value for each of a set of pointers: one open-addressing table
// (linear probing, at most half full) instead of a node-based map, so a
// lookup is one multiply and, mostly, one cache line: each slot holds its
// key and value side by side. Pointers without an entry (null among them)
// have value V(), and setting V() to an absent pointer adds no entry.
template <class T, class V = uint8_t>
class KAVU_POINTER_MAP {
 public:
  V get(const T* t) const {
    if (m_used == 0) return V();
    for (size_t k = slot_of(t);; k = (k + 1) & m_mask) {
      if (m_slots[k].key == t) return m_slots[k].value;
      if (!m_slots[k].key) return V();
    }
  }
  void set(const T* t, V value) {
    KAVU_CHECK(t != nullptr);  // null marks an empty slot
    if (2 * (m_used + 1) > m_slots.size()) grow();
    size_t k = slot_of(t);
    while (m_slots[k].key && m_slots[k].key != t) k = (k + 1) & m_mask;
    if (!m_slots[k].key) {
      if (value == V()) return;
      m_slots[k].key = t;
      ++m_used;
    }
    m_slots[k].value = value;
  }
  // Asks for the cache line a get(t) or set(t) reads first, so that a walk
  // can look several pointers up while the first of them is on its way.
  void prefetch(const T* t) const {
    if (!m_slots.empty()) __builtin_prefetch(&m_slots[slot_of(t)]);
  }
  // Room for `count` entries without growing.
  void reserve(size_t count) {
    while (2 * count > m_slots.size()) grow();
  }
  void clear() {
    m_slots.clear();
    m_used = 0;
    m_mask = 0;
  }

 private:
  struct SLOT {
    const T* key = nullptr;
    V value = V();
  };
  size_t slot_of(const T* t) const {
    return size_t((uint64_t(reinterpret_cast<uintptr_t>(t)) * 0x9E3779B97F4A7C15ull) >> 32) & m_mask;
  }
  void grow() {
    std::vector<SLOT> slots(m_slots.empty() ? 1024 : 2 * m_slots.size());
    slots.swap(m_slots);
    m_mask = m_slots.size() - 1;
    for (const SLOT& s : slots) {
      if (!s.key) continue;
      size_t j = slot_of(s.key);
      while (m_slots[j].key) j = (j + 1) & m_mask;
      m_slots[j] = s;
    }
  }
  std::vector<SLOT> m_slots;
  size_t m_used = 0;
  size_t m_mask = 0;
};

struct KAVU_PARTITIONER_STATE {
  bool m_initialized = false;
  KAVU_NAME_TO_NODES_MAP m_bus_to_regs;
  KAVU_NAME_TO_NODES_MAP m_fractal_map;
  // The cut level (1..3) of every edge that has one, keyed by the edge's
  // input terminal; other edges have level 0.
  KAVU_POINTER_MAP<CDB_SGATE_ITERM> m_cut_levels;
  // The registers of m_bus_to_regs, each with its bus's entry there.
  KAVU_POINTER_MAP<CDB_SGATE_NODE, const std::vector<CDB_SGATE_NODE*>*> m_bus_of_reg;
  std::map<int, KAVU_PARTITION_INFO> m_partition_info;

  // While a run is set up and cuts around its anchors, every input terminal
  // with a cut level above 0 also carries this flag, so cutting reads
  // "level 0" from the terminal in hand instead of the table (a cache miss
  // per edge). Null outside that stretch.
  GEN_DYN_FLAG m_levelled;

  int cut_level(const CDB_SGATE_ITERM* iterm) const;
  // cut_level(iterm) == 0, from the flag while there is one.
  bool at_level_0(const CDB_SGATE_ITERM* iterm) const {
    return m_levelled.is_null() ? cut_level(iterm) == 0 : !iterm->test_dyn_flag(m_levelled);
  }
  void set_cut_level(CDB_SGATE_ITERM* iterm, uint8_t level) {
    m_cut_levels.set(iterm, level);
    if (m_levelled.is_null()) return;
    if (level) iterm->set_dyn_flag(m_levelled);
    else iterm->reset_dyn_flag(m_levelled);
  }
  // Protected at level L: the edge's cut level is at least L.
  bool is_protected(const CDB_SGATE_ITERM* iterm, int level) const { return cut_level(iterm) >= level; }
  void clear_levels() { m_cut_levels.clear(); }
};

namespace kavu_partition_detail {

// A gate's first output terminal (get_single_oterm), read inline: the walks
// ask it of every gate they pass, often more than once.
inline CDB_SGATE_OTERM* first_oterm(const CDB_SGATE_NODE* node) {
  for (CDB_SGATE_OTERM* o : node->get_output_terms())
    if (o) return o;
  return nullptr;
}
// The partition id of a gate: aux of its first output terminal; 0 when the
// gate has no output terminal (such gates are never labelled).
inline int pid(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_OTERM* o = first_oterm(node);
  return o ? o->get_aux() : 0;
}
inline void set_pid(CDB_SGATE_NODE* node, int id) {
  CDB_SGATE_OTERM* o = first_oterm(node);
  if (o) o->set_aux(id);
}
// A labelled gate: one that has an output terminal to carry its id.
inline bool labellable(const CDB_SGATE_NODE* node) { return first_oterm(node) != nullptr; }

bool is_register(const CDB_SGATE_NODE* node);
bool is_wrapped_in_protect_buffers(const CDB_SGATE_NODE* node);
bool is_io_like_node(const CDB_SGATE_NODE* node);
bool is_partition_anchor(const CDB_SGATE_NODE* node);
// The gates of a netlist in list order (a snapshot safe against edits).
std::vector<CDB_SGATE_NODE*> node_snapshot(const CDB_SGATE_NETLIST* netlist);

// kavu_partition_into_mffcs_new on `nodes`, the netlist's gates in list
// order; `fresh_flag`: the flag was just made, so no terminal carries it.
int label_mffcs(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_NODE*>& nodes, const GEN_DYN_FLAG& flag,
                bool fresh_flag);

// The keys growth reads: once per grow_partition call, or once per loop of
// growths inside a run (nothing can change them in between).
struct GROW_KEYS {
  bool m_dont_merge_on_bus;
  bool m_verbose;
  bool m_dont_merge_sms;
  static GROW_KEYS read();
};
int grow_partition_with(const GROW_KEYS& keys, CDB_SGATE_NODE* seed, KAVU_PARTITIONER_STATE* state,
                        bool virtual_cut);

// Steps of the run after the initial components (kavu_partition_refine.cpp).
bool refine_partitions(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist);
// The netlist's cut buffers in list order and, for each, whether its two
// sides ended in one partition: 1 yes, 0 no, -1 not known (read them).
struct KAVU_CUT_LIST {
  std::vector<CDB_SGATE_NODE*> buffers;
  std::vector<int8_t> one_side;
};
// Merges; with `cuts`, hands back the cut buffers (which merging leaves in
// place) with what it learned of their sides.
void merge_partitions(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist, KAVU_CUT_LIST* cuts = nullptr);
void create_partition_to_info_map(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist);
// Computes the fan-out threshold of partition p at cut level L.
int compute_split_fanout_threshold(KAVU_PARTITIONER_STATE* state, int p, int level);
// The threshold rule on a list of cuttable fan-outs (any order); the
// partition id only names it in the trace.
int split_threshold_of(std::vector<int> fanouts, int percentile, int min_threshold, int partition = 0);
// Union-find merging of small partitions (level 5) over root sizes.
int merge_small_partitions(std::vector<int>& parent, std::vector<int>& size);
int find_root(std::vector<int>& parent, int id);

}  // namespace kavu_partition_detail

void kavu_postprocess_partitions(CDB_SGATE_NETLIST* netlist);
// The same with the netlist's cut buffers already listed.
void kavu_postprocess_partitions(CDB_SGATE_NETLIST* netlist, const kavu_partition_detail::KAVU_CUT_LIST& cuts);
void kavu_print_partitions(CDB_SGATE_NETLIST* netlist);
bool kavu_same_kind_of_gate(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
bool kavu_same_inputs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);

// ---- one parallel-synthesis run at a time in a process
// A run's partitions are out from kavu_get_partition_netlists to
// kavu_merge_netlists; meanwhile the process reports parallel synthesis, so
// no name may be made, and the run owns the database directory's lock, its
// archive names and the read-back state. A run of another design then is
// refused, its design left whole: partitioning labels it one partition and
// cuts nothing, the split hands back no partition, and the archive calls
// given none touch nothing (kavu_parallel.cpp). Partitioning, the split and
// the merge hold the flow's turn for their whole length, so two designs'
// partitioning never runs at once (it shares the naming tables) and no
// split starts while another design's partitioning names gates. A design
// is known by its serial, never its address, and its destruction ends its
// flow (the directory's lock goes with it). A fork waits for the turn; a
// child forked without exec has no design out (kavu_partition_netlists.cpp).
class KAVU_FLOW_TURN {
 public:
  KAVU_FLOW_TURN();
  ~KAVU_FLOW_TURN();
  KAVU_FLOW_TURN(const KAVU_FLOW_TURN&) = delete;
  KAVU_FLOW_TURN& operator=(const KAVU_FLOW_TURN&) = delete;
};
// Holding the turn: true when the partitions of a design other than
// `design` are out (a null `design`: of any design).
bool kavu_another_design_is_out_locked(const CDB_SGATE_NETLIST* design);
// Holding the turn: the partitions of `design` are out (null: none are);
// the process reports parallel synthesis while some are, and stops when
// they are no longer.
void kavu_set_flow_design_locked(const CDB_SGATE_NETLIST* design);
// As kavu_another_design_is_out_locked, taking the turn.
bool kavu_partitions_of_another_design_are_out(const CDB_SGATE_NETLIST* design);
// Posts the error that refuses a run while another design's partitions are
// out, into the log at once; once per flow: partitioning tells it (a flow
// starts there), the split unless the partitioning of the same design on
// this thread told it, the archives' write (given no partition, so no
// design) unless a call before it on this thread did.
enum KAVU_REFUSED_CALL { KAVU_REFUSED_PARTITIONING, KAVU_REFUSED_SPLIT, KAVU_REFUSED_WRITE };
void kavu_refuse_run_beside_another(KAVU_REFUSED_CALL call, const CDB_SGATE_NETLIST* design);
// A call of a flow on this thread was not refused: a refusal after it is a
// new flow's, told anew.
void kavu_flow_not_refused();
// kavu_parallel.cpp: a flow ended without its merge (its design was
// destroyed): the database directories' locks it holds go, and what it read
// ahead.
void kavu_parallel_end_flow();
// kavu_parallel.cpp: while a run of the helpers holds messages back
// (MSG_D::m_insert switched off), moves the held ones into the log.
void kavu_parallel_show_held_messages();
