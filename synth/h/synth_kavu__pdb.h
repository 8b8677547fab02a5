// synth_kavu__pdb.h — the library's seven persisted record types.
//
// Four records belong to the gate-netlist and atom-netlist databases
// (CDB_SGATE_COMPATIBLE_REGISTERS_INFO, CDB_SGATE_HIGH_SPEED_REGISTER,
// CDB_SGATE_MAST_REPORT, CDB_ATOM_SYNTH_DATA); this library registers them
// and supplies their callbacks, and the persistence library calls those
// when it stores or loads them. Three are the incremental-synthesis records
// declared here (KAVU_FIBS_TO_INVALIDATE, KAVU_FIB_INFO, KAVU_FIB_NAMES).
// The registrations live from library load to unload (the load sequence
// owns them), under these class hashes and fields (field tag in brackets),
// transferred in this order:
//   0xe8771f8f compatible registers  set_id [21], chain_id [22] (int32)
//   0x7d60afc8 high-speed register   bit 0 [34], bit 1 [35] (1-bit fields)
//   0xa36558a0 report                m_name [47], m_rows [48]
//   0x1ae47107 atom synthesis data   m_fanin_delay [65], m_fanout_delay [66]
//   0xd173e4f2 FIBs to invalidate    m_fibs [78]
//   0x63ba807e FIB information       m_fib_set [90], m_old_lutmapped_node_ids
//                                    [91], the two counts [92, 93], the merge
//                                    flag [94]
//   0xafb8ae4a FIB names             m_ordered_partial_names [106],
//                                    m_id_to_partial_name [107]
// Ids, counts and node ids of the FIB records are unsigned 32-bit values.
// Callbacks: create gives a zero-filled heap block; chunked create takes
// one record from the chunk allocator (zeroed) or the heap; array create
// gives `count` constructed records with the count in the 8 bytes before
// the first, from one zeroed chunk block (when the allocator is enabled) or
// from one zeroed heap block obtained with ::operator new[].
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pdb/pdb.h"
#include "ztl_hash_lite_sys.h"

class CDB_SGATE_NODE;
class HDB_INSTANCE_NAME;

// The FIBs a parallel-synthesis helper process has invalidated, in order of
// invalidation; duplicates stay.
class KAVU_FIBS_TO_INVALIDATE {
 public:
  std::vector<std::string> m_fibs;

  static const PDB_THUNK_INFO* pdb_thunk();
  KAVU_FIBS_TO_INVALIDATE& operator<<(PDB_SEGMENT& seg);

 private:
  friend class KAVU_FIB_MANAGER;
  // Appends the names the gate's FIBs go by: the output-terminal paths of a
  // component or PLL atom, then the gate's own name.
  void add_fib_to_invalidate(CDB_SGATE_NODE* node);
};

// The FIB set of one partition: FIB names, the previous compile's
// LUT-mapped node ids, two counts and whether the merge succeeded.
class KAVU_FIB_INFO {
 public:
  std::set<std::string> m_fib_set;
  std::set<uint32_t> m_old_lutmapped_node_ids;
  uint32_t m_number_of_fibs_oterms = 0;
  uint32_t m_number_of_fibs_nodes = 0;
  bool m_merge_is_successful = false;

  std::set<uint32_t>* get_old_lutmapped_node_ids() { return &m_old_lutmapped_node_ids; }
  bool is_old_lutmapped_sgate(int id) const { return m_old_lutmapped_node_ids.count(uint32_t(id)) != 0; }
  // The gates to resynthesize: new ids, the I/O region and the gates next to I/O buffers of registers; owned by the caller.
  std::vector<class CDB_SGATE_NODE*>* get_new_nodes(class CDB_SGATE_NETLIST* netlist);

  static const PDB_THUNK_INFO* pdb_thunk();
  // Moves the fields in the segment's direction (the record's transfer).
  KAVU_FIB_INFO& operator<<(PDB_SEGMENT& seg);
  void serialize(PDB_SEGMENT& seg) { *this << seg; }
};

// Instance names in a compact tree form: one id per recorded name, in
// order, and per id its parent id (0: none) and its partial name.
class KAVU_FIB_NAMES {
 public:
  typedef ZTL_HASH_LITE<uint32_t, std::pair<uint32_t, std::string>> PARTIAL_NAME_HASH;

  std::deque<uint32_t> m_ordered_partial_names;
  PARTIAL_NAME_HASH m_id_to_partial_name;

  typedef std::deque<uint32_t>::const_iterator const_iterator;
  const_iterator begin() const { return m_ordered_partial_names.begin(); }
  const_iterator end() const { return m_ordered_partial_names.end(); }

  // Appends the name's id (0 for null) and records the name and the
  // ancestors not yet known, up to a name whose parent is a root of the
  // netlist's names (flag 0x20000).
  void push_back(const HDB_INSTANCE_NAME* name);
  // The name of `id` as its partial names joined with "|" ("" for 0).
  std::string reconstruct_name(uint32_t id) const;

  static const PDB_THUNK_INFO* pdb_thunk();
  KAVU_FIB_NAMES& operator<<(PDB_SEGMENT& seg);
  void serialize(PDB_SEGMENT& seg) { *this << seg; }
};

// The seven registrations, in the order above. The library's load sequence
// owns one object of this class; it exists from load to unload.
class KAVU_PDB_REGISTRATIONS {
 public:
  KAVU_PDB_REGISTRATIONS();
  KAVU_PDB_REGISTRATIONS(const KAVU_PDB_REGISTRATIONS&) = delete;
  KAVU_PDB_REGISTRATIONS& operator=(const KAVU_PDB_REGISTRATIONS&) = delete;

  const PDB_THUNK_INFO m_compatible_registers;
  const PDB_THUNK_INFO m_high_speed_register;
  const PDB_THUNK_INFO m_mast_report;
  const PDB_THUNK_INFO m_atom_synth_data;
  const PDB_THUNK_INFO m_fibs_to_invalidate;
  const PDB_THUNK_INFO m_fib_info;
  const PDB_THUNK_INFO m_fib_names;
};

// The registration of each database record type.
const PDB_THUNK_INFO* kavu_pdb_compatible_registers_thunk();
const PDB_THUNK_INFO* kavu_pdb_high_speed_register_thunk();
const PDB_THUNK_INFO* kavu_pdb_mast_report_thunk();
const PDB_THUNK_INFO* kavu_pdb_atom_synth_data_thunk();

// The records as the one owned pointer of an archive (empty record name,
// the gate-netlist segment extension, field "ptr" tag 199). Reading gives
// false for an archive without that record and throws
// PDB_DATABASE_EXCEPTION for bad data; in both cases *owned is left as it
// was, and on success the old object is deleted and replaced. Writing is
// always true.
bool kavu_pdb_read_fib_info_ptr(PDB_ARCHIVE& archive, KAVU_FIB_INFO*& owned);
bool kavu_pdb_read_fib_names_ptr(PDB_ARCHIVE& archive, KAVU_FIB_NAMES*& owned);
bool kavu_pdb_read_fibs_to_invalidate_ptr(PDB_ARCHIVE& archive, KAVU_FIBS_TO_INVALIDATE*& owned);
bool kavu_pdb_write_fib_info_ptr(PDB_ARCHIVE& archive, KAVU_FIB_INFO* object);
bool kavu_pdb_write_fib_names_ptr(PDB_ARCHIVE& archive, KAVU_FIB_NAMES* object);
bool kavu_pdb_write_fibs_to_invalidate_ptr(PDB_ARCHIVE& archive, KAVU_FIBS_TO_INVALIDATE* object);
