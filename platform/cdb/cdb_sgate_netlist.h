// Role: gate-netlist database
// (docs/platform.md, "Gate database"; see also "Netlist members and records").
// cdb_sgate_netlist.h — the gate netlist: node list, dead-logic sweep,
// collection, topological sort, clone, check and the netlist's records.
//
// Model: the netlist owns the gates linked in its node list (a tombstoned
//   bunched list; each gate remembers its slot) and the gates in its
//   graveyard. Removal (every delete_node form, delete_flagged_nodes) only
//   unlinks; the caller destroys, re-adds or moves the gate. sweep() unlinks
//   dead gates into the graveyard, which prepare_for_use(), garbage_collect()
//   and the destructor empty, so a pass may keep pointers to gates its own
//   sweep made dead until collection.
// Walks: open node-list walks see appends and skip removals (the current
//   slot reads null). Only garbage_collect(true, …), garbage_collect_and_sort
//   and sort_by_dag_order compact the list; never call them with a walk open.
// Dead logic: a gate is live when it is a keeper (CDB_SGATE_NODE::
//   is_sweep_keeper) or drives an input of a live gate; everything else goes,
//   loops included. Survivors keep their order.
// Cost: add, unlink O(1) (pins O(pins)); sweep, collection, sort and check
//   O(gates + terminals) with explicit stacks (no recursion).
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate_hierarchy.h"
#include "cdb/cdb_sgate_node.h"
#include "gen/gen_dyn_flag.h"
#include "ztl_bunched_list_sys.h"

class MSG_POST;

typedef ZTL_BUNCHED_LIST<CDB_SGATE_NODE*, 100> CDB_SGATE_NODE_LIST;

// The node-list iterator: the list's own iterator (converts from it) that,
// as it steps, asks the cache for the gate a few slots ahead: the line
// with its output list and the tail of its first output terminal, which
// the pool puts just below the gate in the same line (cdb_sgate_pool.h).
// A walk from gates to their readers then finds both there; a walk that
// reads other fields pays two prefetch instructions per step.
class CDB_SGATE_NODE_ITERATOR : public ZTL_BUNCHED_LIST_ITERATOR<CDB_SGATE_NODE*, 100> {
  typedef ZTL_BUNCHED_LIST_ITERATOR<CDB_SGATE_NODE*, 100> BASE;

 public:
  CDB_SGATE_NODE_ITERATOR() = default;
  CDB_SGATE_NODE_ITERATOR(const BASE& it) : BASE(it) {}
  CDB_SGATE_NODE_ITERATOR& operator++() {
    BASE::operator++();
    prefetch_ahead();
    return *this;
  }
  CDB_SGATE_NODE_ITERATOR operator++(int) {
    CDB_SGATE_NODE_ITERATOR copy = *this;
    ++*this;
    return copy;
  }

 private:
  static constexpr int kAhead = 8;  // slots; 4 and 16 measured slower
  // The terminal's chain fields take its last 36 bytes; the gate's output
  // list is its words 1 and 2.
  static constexpr uintptr_t kBelow = 36, kAbove = 16;
  void prefetch_ahead() const {
    CDB_SGATE_NODE* const* s = get_slot();
    if (!s) return;
    const BUNCH* b = get_bunch();
    if (s + kAhead >= b->m_slots + b->m_used) return;
    const uintptr_t g = reinterpret_cast<uintptr_t>(s[kAhead]);
    if (CDB_SGATE_NODE_LIST::is_empty_value(s[kAhead])) return;
    __builtin_prefetch(reinterpret_cast<const void*>(g - kBelow));
    __builtin_prefetch(reinterpret_cast<const void*>(g + kAbove));
  }
};

class CDB_SGATE_NETLIST {
 public:
  enum CDB_RANK_ORDER_ENUM { INPUTS_FIRST = 0, OUTPUTS_FIRST = 1 };
  typedef CDB_SGATE_NODE_ITERATOR iterator;
  // Information-record callbacks: make a record for a netlist, free one.
  typedef CDB_SGATE_NETLIST_INFO* (*INFO_ALLOCATE_FN)(CDB_SGATE_NETLIST*);
  typedef void (*INFO_DELETE_FN)(CDB_SGATE_NETLIST*, CDB_SGATE_NETLIST_INFO*);

  CDB_SGATE_NETLIST();
  // A partition netlist; raises CDB_SGATE_NODE::s_debug_counter to at least
  // first_debug_number.
  CDB_SGATE_NETLIST(bool is_partition, int number, int first_debug_number);
  ~CDB_SGATE_NETLIST();  // destroys every linked gate and the graveyard
  CDB_SGATE_NETLIST(const CDB_SGATE_NETLIST&) = delete;
  CDB_SGATE_NETLIST& operator=(const CDB_SGATE_NETLIST&) = delete;

  // --- node list
  iterator begin_node_list() const { return m_nodes.begin(); }
  iterator end_node_list() const { return m_nodes.end(); }
  uint32_t size() const { return m_nodes.size(); }
  CDB_SGATE_NODE_LIST& get_node_list() { return m_nodes; }
  const CDB_SGATE_NODE_LIST& get_node_list() const { return m_nodes; }

  // Appends and links the gate, registers pins. Already in this netlist:
  // nothing; linked in another netlist: internal error. The bool is kept
  // for callers; every gate is appended.
  void add_node(CDB_SGATE_NODE* node, bool append = true);
  // Unlink only (connections stay); the caller destroys, re-adds or moves it.
  void delete_node(CDB_SGATE_NODE* node);
  // By position: the iterator stays where it is and reads null.
  void delete_node(iterator& it);
  void delete_node_(CDB_SGATE_NODE* node) { delete_node(node); }
  // Unlinks every gate with the delete mark; returns the count.
  int delete_flagged_nodes();
  // --- batch unlink (cdb_sgate_netlist_batch.cpp)
  // Unlinks every listed gate as delete_node does, with the pin lists
  // updated in one pass (O(gates + pins) rather than O(pins) per pin). Each
  // gate must be linked in this netlist and listed once (internal error,
  // before any change, otherwise). Returns the count.
  int delete_nodes(const std::vector<CDB_SGATE_NODE*>& nodes);

  // Destroys the graveyard.
  void prepare_for_use();
  size_t get_graveyard_size() const { return m_graveyard.size(); }
  // Removes dead logic into the graveyard; returns the count. `aggressive`
  // must be false.
  int sweep(bool aggressive);
  // sweep(false) when a connection was removed since the last sweep.
  int sweep_if_dirty();
  bool is_dirty() const { return m_dirty; }
  void set_dirty() { m_dirty = true; }

  // While off (the default), garbage_collect leaves marked device atoms alone.
  void set_collection_switch(bool on) { m_collect_atoms = on; }
  bool get_collection_switch() const { return m_collect_atoms; }
  // Optional sweep; unlinks and destroys the gates with the delete mark and
  // the graveyard; `compact` compacts the node list. Returns the number of
  // gates destroyed (graveyard included).
  int garbage_collect(bool compact, bool sweep_first);
  // Compacts, then orders the node list topologically (sources first:
  // registers, latches, pins, boundaries and gates without driven inputs
  // start the order; loops are cut; ties keep list order) and fills `nodes`
  // with that order.
  void garbage_collect_and_sort(bool compact, std::vector<CDB_SGATE_NODE*>& nodes);
  void sort_by_dag_order(int rank_order = INPUTS_FIRST);
  // The same topological ordering of the node list (arguments accepted for callers).
  void dfs(int mode, bool a, bool b, bool c);
  // Takes out every cut buffer (buffer type 3) that lies on no combinational
  // loop (registers break loops): its source drives its fan-outs, inversions
  // composed; the buffer goes to the graveyard (destroyed at the next
  // collection, D3). Returns the count.
  int remove_redundant_loop_cuts();

  // --- copy
  // A new netlist with a copy of every linked gate, connected as the
  // originals; names shared when with_names; flag bytes and flag words
  // copied when with_flags; the stored-timing-netlist record (get_tdb_origin)
  // and the split labelling copied, other records not. Each original's
  // temporary pointer points to its copy until clear_temp_pointers() on
  // this netlist, which the caller runs.
  CDB_SGATE_NETLIST* clone(MEM_SEGMENT* seg, bool with_names, bool with_flags) const;
  void clear_temp_pointers();

  // --- pins, in order of addition
  const std::vector<CDB_SGATE_IO*>& get_input_pins() const { return m_input_pins; }
  const std::vector<CDB_SGATE_IO*>& get_output_pins() const { return m_output_pins; }
  const std::vector<CDB_SGATE_IO*>& get_bidir_pins() const { return m_bidir_pins; }

  // --- dynamic flags
  GEN_DYN_FLAG_MANAGER& get_flag_manager() { return m_flag_manager; }
  void clear_all_node_flags(const GEN_DYN_FLAG& flag);
  void clear_all_node_flags();  // every dynamic bit
  static void clear_all_node_flags(CDB_SGATE_NETLIST* n, const GEN_DYN_FLAG& flag) { n->clear_all_node_flags(flag); }

  // --- bookkeeping
  CDB_SGATE_HIERARCHY* get_hierarchy() const { return m_hierarchy; }
  void set_hierarchy(CDB_SGATE_HIERARCHY* h) { m_hierarchy = h; }
  int get_number() const { return m_number; }
  void set_number(int n) { m_number = n; }
  // A number no other netlist of the process has had (1 upward, in order of
  // construction): unlike the address, it names this netlist alone after
  // it is destroyed.
  uint64_t get_serial() const { return m_serial; }
  int get_first_debug_number() const { return m_first_debug_number; }
  void set_first_debug_number(int n) { m_first_debug_number = n; }  // archives restore it
  bool is_partition_netlist() const { return m_is_partition; }
  void set_is_partition_netlist(bool b) { m_is_partition = b; }
  bool is_subnetlist() const { return m_is_subnetlist; }
  void set_is_subnetlist(bool b = true) { m_is_subnetlist = b; }

  // --- optional information record (owned)
  CDB_SGATE_NETLIST_INFO* get_netlist_info() const { return m_info; }
  // Takes ownership; the previous record is freed.
  void set_netlist_info(CDB_SGATE_NETLIST_INFO* info);
  // Installs the callbacks and allocates a record with them.
  void set_info_functions_and_allocate(INFO_ALLOCATE_FN alloc, INFO_DELETE_FN del);
  // Frees the record through the delete callback and forgets the callbacks;
  // runs the node-information reset callback below on every linked gate
  // and forgets that pair too.
  void reset_info_functions_and_delete();
  // --- node-information callbacks (cdb_sgate_netlist_node_info.cpp)
  // A client's per-gate information, made and freed by its own callbacks:
  // `set_info` runs on every gate linked now and on each gate linked later;
  // `reset_info` runs on every linked gate when reset_info_functions_and_delete
  // (or the destructor) runs. Installing a pair first resets with the pair
  // installed before. Independent of the information record above.
  typedef void (*NODE_INFO_FN)(CDB_SGATE_NODE*);
  void set_info_functions_and_allocate(NODE_INFO_FN set_info, NODE_INFO_FN reset_info);

  // --- records
  CDB_SGATE_COMPATIBLE_REGISTERS* get_compatible_registers() { return &m_compatible; }
  CDB_SGATE_HIGH_SPEED_MAP* get_high_speed_map() const { return m_high_speed; }
  CDB_SGATE_HIGH_SPEED_MAP* get_high_speed_registers() const { return m_high_speed; }
  CDB_SGATE_HIGH_SPEED_MAP* create_high_speed_map();
  CDB_SGATE_MAST_REPORT* get_mast_report() { return &m_mast_report; }
  int get_num_max_fanout_constraints() const { return m_num_max_fanout; }
  bool has_max_fanout_constraint(const CDB_SGATE_NODE* node) const;
  int get_max_fanout_constraint(const CDB_SGATE_NODE* node) const;  // 0 when none
  // Records a limit (0 removes it) on a linked gate.
  void set_max_fanout_constraint(CDB_SGATE_NODE* node, int limit);
  // Copies the hierarchy pointer, flags and records, not gates.
  void copy_members_to_partitioned_netlist(CDB_SGATE_NETLIST* other) const;

  // --- pass waivers (CDB_NETLIST_WAIVE_* bits): library passes that this
  // netlist's owner switched off; 0 on a new netlist, not copied by clones
  uint8_t get_waive_byte() const { return m_waive; }
  void set_waive_byte(uint8_t bits) { m_waive = bits; }

  // --- the flattened timing netlist stored for this netlist's compile
  // (none on a new netlist); kept through clones, partition copies and archives
  const CDB_SGATE_TDB_ORIGIN& get_tdb_origin() const { return m_tdb_origin; }
  void set_tdb_origin(const CDB_SGATE_TDB_ORIGIN& origin) { m_tdb_origin = origin; }
  // --- the labelling for parallel synthesis this netlist was split under:
  // the CDB_SGATE_LABELLING digest of the partition netlists of its split
  // (the split records it on each); 0 on a netlist not split. Kept through
  // clones, partition copies and archives
  uint64_t get_split_labelling() const { return m_split_labelling; }
  void set_split_labelling(uint64_t labelling) { m_split_labelling = labelling; }

  // --- state machines the netlist owns (a partition netlist holds its
  // machines between split and merge, and the archive carries them); the
  // list is made on first request, and the netlist frees it and its
  // machines when destroyed
  std::list<CDB_STATE_MACHINE*>* get_machine_list();
  bool has_machines() const { return m_machines && !m_machines->empty(); }

  // --- checking
  // True when every invariant holds; `report` (may be null) names the first
  // failures. Memory the system refuses fails the check (never
  // std::bad_alloc): "not enough memory to check the netlist".
  bool check(std::string* report = nullptr) const;

 private:
  friend class CDB_SGATE_NODE;
  friend class CDB_SGATE_ITERM;
  friend class CDB_SGATE_OTERM;

  void unlink(CDB_SGATE_NODE* node);
  void unlinked(CDB_SGATE_NODE* node);  // unlink's bookkeeping once the slot is gone
  void register_pin(CDB_SGATE_NODE* node);
  void unregister_pin(CDB_SGATE_NODE* node);
  void destroy_graveyard();
  // Sweep helpers (cdb_sgate_sweep.cpp).
  void detach_dead(const std::vector<CDB_SGATE_NODE*>& maybe_dead, uint32_t dead_stamp);
  bool is_collected(const CDB_SGATE_NODE* node) const;
  void destroy_gates(std::vector<CDB_SGATE_NODE*>& gates);
  static void release_plain_terms(CDB_SGATE_NODE* node);
  // A fresh pair of visit stamps (s, s + 1), process-wide so that gates moved
  // between netlists never carry a stamp that a later walk takes for its own.
  static uint32_t next_stamp();
  void order_topologically(std::vector<CDB_SGATE_NODE*>& order);
  void relink_in_order(const std::vector<CDB_SGATE_NODE*>& order);
  static void clear_dyn_bits(void* netlist, uint32_t mask);
  bool check_node(const CDB_SGATE_NODE* node, std::string* report, int& failures) const;
  bool check_invariants(std::string* report) const;  // check() without the guard

  CDB_SGATE_NODE_LIST m_nodes;
  std::vector<CDB_SGATE_NODE*> m_graveyard;
  std::vector<CDB_SGATE_IO*> m_input_pins;
  std::vector<CDB_SGATE_IO*> m_output_pins;
  std::vector<CDB_SGATE_IO*> m_bidir_pins;
  GEN_DYN_FLAG_MANAGER m_flag_manager;
  CDB_SGATE_HIERARCHY* m_hierarchy = nullptr;
  CDB_SGATE_NETLIST_INFO* m_info = nullptr;
  INFO_ALLOCATE_FN m_info_alloc = nullptr;
  INFO_DELETE_FN m_info_delete = nullptr;
  CDB_SGATE_COMPATIBLE_REGISTERS m_compatible;
  CDB_SGATE_HIGH_SPEED_MAP* m_high_speed = nullptr;
  CDB_SGATE_MAST_REPORT m_mast_report;
  int m_num_max_fanout = 0;
  int m_number = 0;
  int m_first_debug_number = 0;
  bool m_is_partition = false;
  bool m_is_subnetlist = false;
  bool m_dirty = false;
  bool m_collect_atoms = false;
  uint8_t m_waive = 0;
  CDB_SGATE_TDB_ORIGIN m_tdb_origin;
  uint64_t m_split_labelling = 0;
  // Node-information callbacks (cdb_sgate_netlist_node_info.cpp).
  void reset_node_info();
  NODE_INFO_FN m_node_info_set = nullptr;
  NODE_INFO_FN m_node_info_reset = nullptr;
  std::list<CDB_STATE_MACHINE*>* m_machines = nullptr;  // owned, with its machines
  uint64_t m_serial;
};

// The labelling of a design for parallel synthesis: which boundary gates it
// holds, as a 64-bit digest of each boundary gate's path and direction, in
// any order, so that a design gives the same digest whole or split into
// partition netlists. Never 0 (a design without boundary gates has one too).
class CDB_SGATE_LABELLING {
 public:
  // Adds a boundary gate (any other gate is left out).
  void add(const CDB_SGATE_NODE* gate);
  // The same where the caller holds the gate's path (get_string_hpath).
  void add(const CDB_SGATE_NODE* gate, std::string_view path);
  uint64_t digest() const;

 private:
  uint64_t m_sum = 0;
  uint64_t m_count = 0;
};
// The labelling of the netlists together (null entries skipped).
uint64_t cdb_sgate_labelling(const std::vector<CDB_SGATE_NETLIST*>& netlists);

// One process-wide flag, false at load; the database does not consult it.
bool cdb_sgate_synthesis_is_running_in_parallel();
void cdb_sgate_set_synthesis_running_in_parallel(bool on);

// Tells `listener` of every netlist about to be destroyed, on the thread
// destroying it, before its gates go; the netlist's serial is still its own.
// A listener is called for every netlist of the process, so it is quick; it
// may take locks of its own but must not destroy netlists. Listeners stay
// for the process (at most 8; adding one twice adds it once). Thread-safe.
typedef void (*CDB_SGATE_NETLIST_DELETE_LISTENER)(const CDB_SGATE_NETLIST* netlist);
void cdb_sgate_add_netlist_delete_listener(CDB_SGATE_NETLIST_DELETE_LISTENER listener);

// Adds the gate's path (get_string_hpath) to the message as a location.
void cdb_add_msg_location(MSG_POST* post, const CDB_SGATE_NODE* node);

// The key "synth_seed" (default 0).
int cdb_sgate_get_synth_seed();
// A permutation of 0..n-1 fixed by the seed (the identity for seed 0):
// i -> the i-th element of that permutation.
unsigned cdb_sgate_get_seeded_index(unsigned i, unsigned n);

// The trailing bus indices of a name: "[i]", "[i][j]" or "".
std::string cdb_sgate_get_bus_index_string(const char* name);
// A list of indices as text: runs of consecutive values as "a..b", others
// separated by ",": {7,6,5,4} -> "7..4", {0,2,3} -> "0,2..3".
std::string cdb_sgate_get_bus_index_string(const std::vector<int>& indices);

