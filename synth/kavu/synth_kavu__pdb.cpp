// synth_kavu__pdb.cpp — registrations, callbacks and transfers of the
// library's seven persisted record types (see synth_kavu__pdb.h).
//
// Model: every callback but the transfer is the same for all types up to
// the type and its alignment, so they are templates instantiated per type;
// each transfer names its fields in order with their tags and moves them
// through the collection glue of h/pdb_stl_sys.h.
// Memory: all storage the callbacks hand out is zero-filled, chunk blocks
// included (the chunk allocator returns memory as it finds it), so a record
// "left as allocated" is a zero record and never holds garbage.
// Cost: transfers are linear in the record's elements.
#include "synth_kavu__pdb.h"

#include <cstring>
#include <new>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_setup.h"
#include "mem/mem.h"
#include "pdb_stl_sys.h"
#include "pdb_sys.h"

namespace {

const char kSource[] = "synth/kavu/synth_kavu__pdb";

void* zeroed(void* block, size_t bytes) {
  std::memset(block, 0, bytes);
  return block;
}

void* create_record(size_t size) { return zeroed(::operator new(size), size); }

template <class T>
void* chunk_create_record(MEM_UTILS_CHUNK_ALLOC* alloc) {
  if (!alloc) return create_record(sizeof(T));
  return zeroed(alloc->chunk_malloc(sizeof(T), 8), sizeof(T));
}

// One block: the count in its first 8 bytes, then `count` records.
template <class T, size_t ALIGN>
void* array_create_records(size_t count, MEM_UTILS_CHUNK_ALLOC* alloc) {
  KAVU_CHECK(count <= (SIZE_MAX - 8) / sizeof(T));
  const size_t bytes = 8 + count * sizeof(T);
  void* block = alloc && alloc->chunk_allocation_is_enabled() ? alloc->chunk_malloc(bytes, ALIGN)
                                                              : ::operator new[](bytes);
  zeroed(block, bytes);
  const uint64_t stored = count;
  std::memcpy(block, &stored, sizeof stored);
  T* first = reinterpret_cast<T*>(static_cast<char*>(block) + 8);
  for (size_t i = 0; i < count; ++i) new (first + i) T();
  return first;
}

template <class T>
void construct_record(void* record) {
  if (record) new (record) T();
}

template <class T>
void destroy_record(void* record) {
  static_cast<T*>(record)->~T();
}

void* record_this(void* record) { return record; }

// ---------------------------------------------------------------- transfers

const KAVU_PDB_REGISTRATIONS& regs() { return kavu_pdb_registrations(); }

void transfer_compatible_registers(PDB_SEGMENT& seg, void* record) {
  auto* info = static_cast<CDB_SGATE_COMPATIBLE_REGISTERS_INFO*>(record);
  seg.begin_object(&regs().m_compatible_registers, record);
  seg.set_field(21, "set_id");
  seg.transfer_int32(info->set_id);
  seg.set_field(22, "chain_id");
  seg.transfer_int32(info->chain_id);
  seg.end_object();
}

// Bits 0 and 1 of the flag byte; the other six bits stay as they are.
void transfer_high_speed_register(PDB_SEGMENT& seg, void* record) {
  auto* reg = static_cast<CDB_SGATE_HIGH_SPEED_REGISTER*>(record);
  seg.begin_object(&regs().m_high_speed_register, record);
  seg.set_field(34, "m_is_high_speed_destination");
  const uint32_t dest = seg.transfer_bits(reg->m_bits & 1u, 1);
  reg->m_bits = static_cast<uint8_t>((reg->m_bits & ~1u) | dest);
  seg.set_field(35, "m_is_high_speed_source");
  const uint32_t source = seg.transfer_bits((reg->m_bits >> 1) & 1u, 1);
  reg->m_bits = static_cast<uint8_t>((reg->m_bits & ~2u) | (source << 1));
  seg.end_object();
}

void transfer_mast_report(PDB_SEGMENT& seg, void* record) {
  auto* report = static_cast<CDB_SGATE_MAST_REPORT*>(record);
  seg.begin_object(&regs().m_mast_report, record);
  seg.set_field(47, "m_name");
  pdb_transfer(seg, report->m_name);
  seg.set_field(48, "m_rows");
  pdb_transfer(seg, report->m_rows);
  seg.end_object();
}

// Only the two delays belong to this library; the atom database persists
// the fields before them itself.
void transfer_atom_synth_data(PDB_SEGMENT& seg, void* record) {
  auto* data = static_cast<CDB_ATOM_SYNTH_DATA*>(record);
  seg.begin_object(&regs().m_atom_synth_data, record);
  seg.set_field(65, "m_fanin_delay");
  seg.transfer_int32(data->m_fanin_delay);
  seg.set_field(66, "m_fanout_delay");
  seg.transfer_int32(data->m_fanout_delay);
  seg.end_object();
}

void transfer_fibs_to_invalidate(PDB_SEGMENT& seg, void* record) {
  *static_cast<KAVU_FIBS_TO_INVALIDATE*>(record) << seg;
}

void transfer_fib_info(PDB_SEGMENT& seg, void* record) { *static_cast<KAVU_FIB_INFO*>(record) << seg; }

void transfer_fib_names(PDB_SEGMENT& seg, void* record) {
  *static_cast<KAVU_FIB_NAMES*>(record) << seg;
}

const PDB_THUNK_INFO* thunk_compatible_registers() { return &regs().m_compatible_registers; }
const PDB_THUNK_INFO* thunk_high_speed_register() { return &regs().m_high_speed_register; }
const PDB_THUNK_INFO* thunk_mast_report() { return &regs().m_mast_report; }
const PDB_THUNK_INFO* thunk_atom_synth_data() { return &regs().m_atom_synth_data; }
const PDB_THUNK_INFO* thunk_fibs_to_invalidate() { return &regs().m_fibs_to_invalidate; }
const PDB_THUNK_INFO* thunk_fib_info() { return &regs().m_fib_info; }
const PDB_THUNK_INFO* thunk_fib_names() { return &regs().m_fib_names; }

}  // namespace

// One registration: the callbacks of T, T's type and size, owner and place.
#define KAVU_PDB_REGISTRATION(T, HASH, ALIGN, TRANSFER, THUNK)                                \
  PDB_THUNK_INFO(HASH, &create_record, &chunk_create_record<T>, &array_create_records<T, ALIGN>, \
                 &construct_record<T>, &destroy_record<T>, &TRANSFER, &THUNK, &record_this,     \
                 false, false, typeid(T), sizeof(T), "KAVU", kSource, __LINE__)

KAVU_PDB_REGISTRATIONS::KAVU_PDB_REGISTRATIONS()
    : m_compatible_registers(KAVU_PDB_REGISTRATION(CDB_SGATE_COMPATIBLE_REGISTERS_INFO, 0xe8771f8f, 4,
                                                   transfer_compatible_registers,
                                                   thunk_compatible_registers)),
      m_high_speed_register(KAVU_PDB_REGISTRATION(CDB_SGATE_HIGH_SPEED_REGISTER, 0x7d60afc8, 1,
                                                  transfer_high_speed_register,
                                                  thunk_high_speed_register)),
      m_mast_report(KAVU_PDB_REGISTRATION(CDB_SGATE_MAST_REPORT, 0xa36558a0, 8,
                                          transfer_mast_report, thunk_mast_report)),
      m_atom_synth_data(KAVU_PDB_REGISTRATION(CDB_ATOM_SYNTH_DATA, 0x1ae47107, 8,
                                              transfer_atom_synth_data, thunk_atom_synth_data)),
      m_fibs_to_invalidate(KAVU_PDB_REGISTRATION(KAVU_FIBS_TO_INVALIDATE, 0xd173e4f2, 8,
                                                 transfer_fibs_to_invalidate,
                                                 thunk_fibs_to_invalidate)),
      m_fib_info(KAVU_PDB_REGISTRATION(KAVU_FIB_INFO, 0x63ba807e, 8, transfer_fib_info,
                                       thunk_fib_info)),
      m_fib_names(KAVU_PDB_REGISTRATION(KAVU_FIB_NAMES, 0xafb8ae4a, 8, transfer_fib_names,
                                        thunk_fib_names)) {}

#undef KAVU_PDB_REGISTRATION

// ---------------------------------------------------------------- record members

const PDB_THUNK_INFO* KAVU_FIBS_TO_INVALIDATE::pdb_thunk() { return thunk_fibs_to_invalidate(); }
const PDB_THUNK_INFO* KAVU_FIB_INFO::pdb_thunk() { return thunk_fib_info(); }
const PDB_THUNK_INFO* KAVU_FIB_NAMES::pdb_thunk() { return thunk_fib_names(); }

KAVU_FIBS_TO_INVALIDATE& KAVU_FIBS_TO_INVALIDATE::operator<<(PDB_SEGMENT& seg) {
  seg.begin_object(pdb_thunk(), this);
  seg.set_field(78, "m_fibs");
  pdb_transfer(seg, m_fibs);
  seg.end_object();
  return *this;
}

KAVU_FIB_INFO& KAVU_FIB_INFO::operator<<(PDB_SEGMENT& seg) {
  seg.begin_object(pdb_thunk(), this);
  seg.set_field(90, "m_fib_set");
  pdb_transfer(seg, m_fib_set);
  seg.set_field(91, "m_old_lutmapped_node_ids");
  pdb_transfer(seg, m_old_lutmapped_node_ids);
  seg.set_field(92, "m_number_of_fibs_oterms");
  seg.transfer_uint32(m_number_of_fibs_oterms);
  seg.set_field(93, "m_number_of_fibs_nodes");
  seg.transfer_uint32(m_number_of_fibs_nodes);
  seg.set_field(94, "m_merge_is_successful");
  seg.transfer_bool(m_merge_is_successful);
  seg.end_object();
  return *this;
}

KAVU_FIB_NAMES& KAVU_FIB_NAMES::operator<<(PDB_SEGMENT& seg) {
  seg.begin_object(pdb_thunk(), this);
  seg.set_field(106, "m_ordered_partial_names");
  pdb_transfer(seg, m_ordered_partial_names);
  seg.set_field(107, "m_id_to_partial_name");
  pdb_transfer(seg, m_id_to_partial_name);
  seg.end_object();
  return *this;
}

// ---------------------------------------------------------------- pointers

const PDB_THUNK_INFO* kavu_pdb_compatible_registers_thunk() {
  return thunk_compatible_registers();
}
const PDB_THUNK_INFO* kavu_pdb_high_speed_register_thunk() {
  return thunk_high_speed_register();
}
const PDB_THUNK_INFO* kavu_pdb_mast_report_thunk() {
  return thunk_mast_report();
}
const PDB_THUNK_INFO* kavu_pdb_atom_synth_data_thunk() {
  return thunk_atom_synth_data();
}

bool kavu_pdb_read_fib_info_ptr(PDB_ARCHIVE& archive, KAVU_FIB_INFO*& owned) {
  return pdb_sys_read_owned_ptr(archive, owned);
}
bool kavu_pdb_read_fib_names_ptr(PDB_ARCHIVE& archive, KAVU_FIB_NAMES*& owned) {
  return pdb_sys_read_owned_ptr(archive, owned);
}
bool kavu_pdb_read_fibs_to_invalidate_ptr(PDB_ARCHIVE& archive, KAVU_FIBS_TO_INVALIDATE*& owned) {
  return pdb_sys_read_owned_ptr(archive, owned);
}
bool kavu_pdb_write_fib_info_ptr(PDB_ARCHIVE& archive, KAVU_FIB_INFO* object) {
  return pdb_sys_write_owned_ptr(archive, object);
}
bool kavu_pdb_write_fib_names_ptr(PDB_ARCHIVE& archive, KAVU_FIB_NAMES* object) {
  return pdb_sys_write_owned_ptr(archive, object);
}
bool kavu_pdb_write_fibs_to_invalidate_ptr(PDB_ARCHIVE& archive, KAVU_FIBS_TO_INVALIDATE* object) {
  return pdb_sys_write_owned_ptr(archive, object);
}
