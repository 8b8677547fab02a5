// kavu_partition_int.h — the partitioner's private state and the helpers the
// partitioning sources share.
#pragma once

#include <map>
#include <unordered_set>
#include <vector>

#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_partition.h"

struct KAVU_PARTITION_INFO {
  int size = 0;
  std::vector<CDB_SGATE_NODE*> nodes;
};

typedef std::unordered_set<const CDB_SGATE_ITERM*> KAVU_ITERM_SET;

struct KAVU_PARTITIONER_STATE {
  KAVU_PARTITIONER_STATE() {
    m_cut_level_1.max_load_factor(1.0f);
    m_cut_level_2.max_load_factor(1.0f);
    m_cut_level_3.max_load_factor(1.0f);
  }
  bool m_initialized = false;
  KAVU_NAME_TO_NODES_MAP m_bus_to_regs;
  KAVU_NAME_TO_NODES_MAP m_fractal_map;
  KAVU_ITERM_SET m_cut_level_1;
  KAVU_ITERM_SET m_cut_level_2;
  KAVU_ITERM_SET m_cut_level_3;
  std::map<int, KAVU_PARTITION_INFO> m_partition_info;

  int cut_level(const CDB_SGATE_ITERM* iterm) const;
  // Protected at level L: the edge's cut level is at least L.
  bool is_protected(const CDB_SGATE_ITERM* iterm, int level) const { return cut_level(iterm) >= level; }
  void clear_levels() {
    m_cut_level_1.clear();
    m_cut_level_2.clear();
    m_cut_level_3.clear();
  }
};

namespace kavu_partition_detail {

// The partition id of a gate: aux of its first output terminal; 0 when the
// gate has no output terminal (such gates are never labelled).
inline int pid(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_OTERM* o = node->get_single_oterm();
  return o ? o->get_aux() : 0;
}
inline void set_pid(CDB_SGATE_NODE* node, int id) {
  CDB_SGATE_OTERM* o = node->get_single_oterm();
  if (o) o->set_aux(id);
}
// A labelled gate: one that has an output terminal to carry its id.
inline bool labellable(const CDB_SGATE_NODE* node) { return node->get_single_oterm() != nullptr; }

bool is_register(const CDB_SGATE_NODE* node);
bool is_wrapped_in_protect_buffers(const CDB_SGATE_NODE* node);
bool is_io_like_node(const CDB_SGATE_NODE* node);
bool is_partition_anchor(const CDB_SGATE_NODE* node);
// The gates of a netlist in list order (a snapshot safe against edits).
std::vector<CDB_SGATE_NODE*> node_snapshot(const CDB_SGATE_NETLIST* netlist);

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
void merge_partitions(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist);
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
void kavu_print_partitions(CDB_SGATE_NETLIST* netlist);
bool kavu_same_kind_of_gate(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
bool kavu_same_inputs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
