// cdb_sgate_removed_regs.cpp — removed-register databases (see the header).
#include "cdb/cdb_sgate_removed_regs.h"

#include <climits>
#include <new>

#include "msg/msg.h"
#include "pdb/pdb_fields.h"

namespace {
// Counts are never negative (reading refuses them); a sum past INT_MAX stays
// at INT_MAX rather than wrapping.
int saturating_add(int a, int b) { return a > INT_MAX - b ? INT_MAX : a + b; }
}  // namespace

void CDB_SGATE_REMOVED_REGISTERS_DB::merge_with(const CDB_SGATE_REMOVED_REGISTERS_DB* other) {
  PLAT_CHECK(other, "CDB");
  m_fanoutless = saturating_add(m_fanoutless, other->m_fanoutless);
  m_stuck = saturating_add(m_stuck, other->m_stuck);
  m_merged = saturating_add(m_merged, other->m_merged);
  m_names.insert(m_names.end(), other->m_names.begin(), other->m_names.end());
}

namespace {
void* create_db(size_t size) { return ::operator new(size); }
void* chunk_create_db(MEM_UTILS_CHUNK_ALLOC*) { return ::operator new(sizeof(CDB_SGATE_REMOVED_REGISTERS_DB)); }
void* array_create_dbs(size_t, MEM_UTILS_CHUNK_ALLOC*) { return nullptr; }
void construct_db(void* p) { new (p) CDB_SGATE_REMOVED_REGISTERS_DB(); }
void destroy_db(void* p) { static_cast<CDB_SGATE_REMOVED_REGISTERS_DB*>(p)->~CDB_SGATE_REMOVED_REGISTERS_DB(); }
void transfer_db(PDB_SEGMENT& seg, void* p) { static_cast<CDB_SGATE_REMOVED_REGISTERS_DB*>(p)->transfer(seg); }
const PDB_THUNK_INFO* thunk_fn() { return CDB_SGATE_REMOVED_REGISTERS_DB::s_thunk(); }
void* this_fn(void* p) { return p; }
CDB_SGATE_REMOVED_REGISTERS_MANAGER* g_manager = nullptr;
}  // namespace

void CDB_SGATE_REMOVED_REGISTERS_DB::transfer(PDB_SEGMENT& seg) {
  pdb_field_str(seg, 1, m_name);
  seg.set_field(3, "fanoutless");
  seg.transfer_int32(m_fanoutless);
  seg.set_field(4, "stuck");
  seg.transfer_int32(m_stuck);
  seg.set_field(5, "merged");
  seg.transfer_int32(m_merged);
  if (seg.is_reading() && (m_fanoutless < 0 || m_stuck < 0 || m_merged < 0))
    throw PDB_DATABASE_EXCEPTION("negative count in a removed-register record");
  uint32_t n = uint32_t(m_names.size());
  seg.set_field(6, "names");
  seg.transfer_count(n, 4);
  if (seg.is_reading()) m_names.assign(n, std::string());
  for (std::string& s : m_names) pdb_field_str(seg, 7, s);
}

const PDB_THUNK_INFO* CDB_SGATE_REMOVED_REGISTERS_DB::s_thunk() {
  static const PDB_THUNK_INFO info(0x3c0d5e21, &create_db, &chunk_create_db, &array_create_dbs, &construct_db,
                                   &destroy_db, &transfer_db, &thunk_fn, &this_fn, false, false,
                                   typeid(CDB_SGATE_REMOVED_REGISTERS_DB), sizeof(CDB_SGATE_REMOVED_REGISTERS_DB),
                                   "CDB", "platform/cdb/cdb_sgate_removed_regs.cpp", __LINE__);
  return &info;
}

namespace {
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_removed_regs_record_at_load = (CDB_SGATE_REMOVED_REGISTERS_DB::s_thunk(), true);
}  // namespace

void cdb_sgate_removed_regs_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *CDB_SGATE_REMOVED_REGISTERS_DB::s_thunk());
}

CDB_SGATE_REMOVED_REGISTERS_MANAGER* CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance() {
  if (!g_manager) g_manager = new CDB_SGATE_REMOVED_REGISTERS_MANAGER();
  return g_manager;
}

CDB_SGATE_REMOVED_REGISTERS_DB* CDB_SGATE_REMOVED_REGISTERS_MANAGER::create_removed_reg_db(const std::string& name,
                                                                                          int, int) {
  auto& slot = m_dbs[name];
  if (!slot) slot.reset(new CDB_SGATE_REMOVED_REGISTERS_DB(name));
  return slot.get();
}

bool CDB_SGATE_REMOVED_REGISTERS_MANAGER::set_current_removed_reg_db(const std::string& name) {
  CDB_SGATE_REMOVED_REGISTERS_DB* db = find(name);
  if (!db) return false;
  m_current = db;
  return true;
}

CDB_SGATE_REMOVED_REGISTERS_DB* CDB_SGATE_REMOVED_REGISTERS_MANAGER::find(const std::string& name) const {
  auto it = m_dbs.find(name);
  return it == m_dbs.end() ? nullptr : it->second.get();
}

void CDB_SGATE_REMOVED_REGISTERS_MANAGER::test_reset() {
  delete g_manager;
  g_manager = nullptr;
}
