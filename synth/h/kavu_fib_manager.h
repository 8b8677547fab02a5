// kavu_fib_manager.h — the FIB manager of incremental synthesis: per
// partition of the current compile, the FIB set carried over from the last
// compile, which hierarchy and netlist belong to the partition, whether the
// merge with the old netlist succeeded, and the FIBs this compile has
// invalidated.
//
// One process holds one manager (get_instance). The synthesis stages call it
// at fixed points: restore the last compile's FIBs, invalidate the FIBs of
// the gates they change (kavu_invalidate_d_iterm_for_llis), snapshot a
// partition's netlist, write the data files (kavu_llis_write_database_after_sgn
// and _after_ftm), and mark the surviving FIBs in the name database. All of
// it is off unless incremental-synthesis databases are generated
// (kavu_llis_is_generating_databases): a disabled manager is initialized but
// records, invalidates, marks and writes nothing.
//
// Partition names. A host that runs with the velmora-syn flag set stores the
// partition name of each hierarchy in HIERARCHY_TO_PARTITION_NAME
// (set_zhd_partition_name); looking up a hierarchy it never stored is an
// internal error. A host that never sets the flag has no table: the
// partition of a hierarchy is then named by the hierarchy's own path, and a
// hierarchy without an instance name has no partition ("0").
//
// Partition ids are 0, 1, 2 ... in the order partitions are first recorded.
// initialize_data sizes the entry vector; recording more partitions than
// that grows it.
//
// In a parallel-synthesis helper (the gate database reports a parallel run
// and the one-process mode is off) invalidations are collected in a list,
// created on first use, that dump_fibs_to_invalidate writes for the parent.
//
// Not thread-safe: the stages call it from the main thread.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kavu_llis.h"
#include "synth_kavu__pdb.h"
#include "ztl_hash_lite_sys.h"
#include "ztl_hash_sys.h"

class CMP_FACADE;
class CDB_ATOM_NETLIST;
class CDB_ATOM_NODE;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_ITERM;
class KAVU_SUBNET;

// Whether incremental-synthesis databases are written and read: the suite
// supports fast recompilation and the key "llis_always_write_db" (on) holds.
// Computed on the first call and kept.
bool kavu_llis_is_generating_databases();
// Forgets the kept answer so that the next call computes it again (for a
// host that changes its settings between compiles, and for tests).
void kavu_llis_forget_generating_databases();

// The process-wide table from hierarchy to partition name.
class HIERARCHY_TO_PARTITION_NAME {
 public:
  // Created on first use.
  static std::shared_ptr<HIERARCHY_TO_PARTITION_NAME> get_instance();
  // Replaces the table with an empty one.
  static void reset();

  // The key of a hierarchy: the full path of its instance name without
  // leading and trailing blanks, "|" when that is empty.
  static std::string key_of(CDB_SGATE_HIERARCHY* hier);
  void set_partition_name(CDB_SGATE_HIERARCHY* hier, const std::string& name);
  // Internal error when the hierarchy was never stored.
  std::string get_partition_name(CDB_SGATE_HIERARCHY* hier) const;

  ZTL_HASH_LITE<std::string, std::string> m_hier_to_partition_names;
};

class KAVU_FIB_MANAGER {
 public:
  typedef void (*NODE_CALLBACK)(CDB_SGATE_NODE*);

  // One partition of the current compile.
  struct PARTITION_ENTRY {
    KAVU_FIB_INFO* fib_info = nullptr;  // owned
    KAVU_SUBNET* subnetlist = nullptr;
    CDB_SGATE_NETLIST* full_netlist = nullptr;
    CDB_SGATE_HIERARCHY* hierarchy = nullptr;
    std::string partition_name;
  };

  // The process-wide manager, created on first call.
  static std::shared_ptr<KAVU_FIB_MANAGER> get_instance();
  // Replaces the process-wide manager with a fresh, initialized one.
  static void create_new_instance(int num_partitions);
  // The key "use_new_atom_based_llis" (on), read once.
  static bool use_atom_based_llis();

  ~KAVU_FIB_MANAGER();
  // Copies hold copies of the records, so each manager owns its own.
  KAVU_FIB_MANAGER(const KAVU_FIB_MANAGER& other);
  KAVU_FIB_MANAGER& operator=(const KAVU_FIB_MANAGER& other);

  void initialize_data(int num_partitions);
  bool is_initialized() const { return m_initialized; }
  void set_velmora_syn_running() { m_velmora_syn_running = true; }
  bool is_velmora_syn_running() const { return m_velmora_syn_running; }
  void set_in_zhd_recompile_mode(bool on) { m_in_zhd_recompile_mode = on; }
  bool is_in_zhd_recompile_mode() const { return m_in_zhd_recompile_mode; }
  KAVU_FIBS_TO_INVALIDATE* get_fibs_to_invalidate() const { return m_fibs_to_invalidate; }
  CMP_FACADE* get_facade() const { return m_facade; }
  void set_facade(CMP_FACADE* facade) { m_facade = facade; }
  void set_netlist_info_pointers(NODE_CALLBACK set_info, NODE_CALLBACK reset_info);
  bool is_recording_fibs() const { return m_recording_fibs; }
  int get_num_partitions() const { return int(m_per_partition_data.size()); }

  // Needs the velmora-syn flag (internal error otherwise).
  void set_zhd_partition_name(CDB_SGATE_HIERARCHY* hier, const std::string& name);
  // The partition name of a hierarchy ("0": none).
  std::string get_zhd_partition_name(CDB_SGATE_HIERARCHY* hier) const;

  // ---- recording
  bool take_snapshot(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist, bool record_logic_as_fibs);
  void restore_fibs_for_partition(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist);
  void set_merge_is_successful(CDB_SGATE_HIERARCHY* hier, std::set<unsigned>* old_lutmapped_node_ids, bool ok);
  bool get_merge_is_successful(CDB_SGATE_HIERARCHY* hier);
  void write_fibs_to_file(LLIS_DATA_FILE data_file, CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist);
  void dump_fibs_for_each_partition();
  void mark_fibs_in_hdb(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist);
  void mark_fibs_in_hdb(CDB_ATOM_NETLIST* netlist);

  // ---- invalidation
  void invalidate_node(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NODE* node);
  void invalidate_node(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node);
  void invalidate_node(CDB_ATOM_NODE* node);
  void invalidate_node_list(std::vector<CDB_ATOM_NODE*>* nodes);
  void invalidate_name_list(std::vector<std::string>* names);
  void invalidate_node_set(CDB_SGATE_HIERARCHY* hier, std::vector<CDB_SGATE_NODE*>* nodes);
  void invalidate_name_set(CDB_SGATE_HIERARCHY* hier, std::vector<std::string>* names);
  void dump_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hier, const char* tag, int index);

  // ---- artificial FIBs and new nodes (kavu_llis_artificial.h does the work)
  void insert_artificial_fibs(CDB_SGATE_NETLIST* netlist);
  void remove_artificial_fibs(CDB_SGATE_NETLIST* netlist);
  // Counts by type the gates that are new against the partition's old
  // LUT-mapped ids; nothing without databases or for a hierarchy of no
  // partition.
  void dump_new_node_statistics(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist);

  // ---- sub-netlists of new gates (KAVU_SUBNET does the work)
  // Moves the new gates of the hierarchy's partition into a sub-netlist and
  // installs it as the hierarchy's netlist; false (nothing changed) without
  // databases, for a hierarchy of no partition, or when the partition's last
  // merge did not succeed.
  bool construct_and_return_subnetlist(CDB_SGATE_HIERARCHY* hier);
  // Stitches the sub-netlist back and installs the full netlist again, then
  // repairs tri-state chains (key
  // "llis_exclude_tristate_buffer_from_relevant_src_nodes"); false in the
  // same cases as construct.
  bool stitch_back_and_return_full_netlist(CDB_SGATE_HIERARCHY* hier);
  // Whether the hierarchy's partition works on an extracted sub-netlist.
  bool is_hierarchy_using_subnet(CDB_SGATE_HIERARCHY* hier);

  // The FIB record of a partition id (null: none); -1 and ids out of range
  // give null.
  const KAVU_FIB_INFO* get_fib_info(int part_id) const;
  // The partition id of a hierarchy, -1 when it has none.
  int get_part_id_of_hierarchy(CDB_SGATE_HIERARCHY* hier) const;

 private:
  KAVU_FIB_MANAGER();

  int get_part_id_of_netlist(CDB_SGATE_NETLIST* netlist);
  void invalidate_node_in_partition(int hier_id, CDB_SGATE_NODE* node);
  // A new id for `name` (the vector grows when needed).
  int record_partition(const std::string& name);
  void store_entry(int id, KAVU_FIB_INFO* info, CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist);
  bool defers_invalidations() const;
  void defer_node(CDB_SGATE_NODE* node);
  bool applies_invalidation(CDB_SGATE_NODE* node);
  PARTITION_ENTRY* subnet_entry(CDB_SGATE_HIERARCHY* hier);
  void check_id(int hier_id) const;
  void copy_from(const KAVU_FIB_MANAGER& other);
  void delete_records();

  CMP_FACADE* m_facade = nullptr;
  ZTL_HASH<std::string, int> m_name_to_partition_lookup{61};
  ZTL_HASH<CDB_SGATE_NETLIST*, int> m_netlist_to_partition_lookup{61};
  std::vector<PARTITION_ENTRY> m_per_partition_data;
  KAVU_FIBS_TO_INVALIDATE* m_fibs_to_invalidate = nullptr;  // owned
  NODE_CALLBACK m_set_node_info = nullptr;
  NODE_CALLBACK m_reset_node_info = nullptr;
  bool m_recording_fibs = false;
  bool m_debug = false;
  bool m_initialized = false;
  bool m_velmora_syn_running = false;
  bool m_in_zhd_recompile_mode = false;

 public:
  static std::shared_ptr<KAVU_FIB_MANAGER> m_instance;
};

// The manager must not be initialized yet; initializes it and keeps the
// facade.
KAVU_FIB_MANAGER& kavu_create_fib_manager(CMP_FACADE* facade, int num_partitions);
// The initialized manager (internal error otherwise).
KAVU_FIB_MANAGER& kavu_use_fib_manager();
bool kavu_has_fib_manager();

// A register whose data input `iterm` is rewired loses its FIB.
void kavu_invalidate_d_iterm_for_llis(CDB_SGATE_NETLIST* netlist, const CDB_SGATE_ITERM* iterm);
void kavu_invalidate_d_iterm_vec_for_llis(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& iterms);

// The writing points of a compile: after netlist generation (snapshot,
// merge result, ".map.tr*" files) and after technology mapping (".map.ol*"
// files, then the "tr" files moved to "or").
void kavu_llis_write_database_after_sgn(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist);
void kavu_llis_write_database_after_ftm(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist);
