// libFuzzer target: the archive reader and the library's record types on
// arbitrary file contents. Every record type is read from the bytes, through
// the generic pointer read and through the owned-pointer reads (which must
// leave a caller's object in place on failure); a read either succeeds or
// throws the persistence exception, and it never crashes, hangs, reports an
// internal error or trips a sanitizer. The archive file is removed after
// each input, so nothing is left in the temporary directory.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cdb/cdb_sgate.h"
#include "pdb/pdb.h"
#include "synth_kavu__pdb.h"

namespace {

const PDB_THUNK_INFO* g_thunk = nullptr;

void any_ptr_field(PDB_SEGMENT& seg, void* address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(address), *g_thunk);
}

const std::string& archive_name() {
  static const std::string name = "/tmp/pdb_archive_fuzz_" + std::to_string(::getpid());
  return name;
}

// Each owned-pointer read starts from a live object: a failed read must
// leave that very object, a successful one replaces it.
template <class T>
void read_owned_one(PDB_ARCHIVE& archive, bool (*read)(PDB_ARCHIVE&, T*&)) {
  T* owned = new T;
  T* const before = owned;
  try {
    if (!read(archive, owned) && owned != before) std::abort();
  } catch (const PDB_DATABASE_EXCEPTION&) {
    if (owned != before) std::abort();
  }
  delete owned;
}

void read_owned(PDB_ARCHIVE& archive) {
  read_owned_one(archive, &kavu_pdb_read_fib_info_ptr);
  read_owned_one(archive, &kavu_pdb_read_fib_names_ptr);
  read_owned_one(archive, &kavu_pdb_read_fibs_to_invalidate_ptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  const std::string file = archive_name() + ".cdb";
  FILE* f = std::fopen(file.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  const PDB_THUNK_INFO* thunks[] = {
      kavu_pdb_compatible_registers_thunk(), kavu_pdb_high_speed_register_thunk(),
      kavu_pdb_mast_report_thunk(),          kavu_pdb_atom_synth_data_thunk(),
      KAVU_FIBS_TO_INVALIDATE::pdb_thunk(),  KAVU_FIB_INFO::pdb_thunk(),
      KAVU_FIB_NAMES::pdb_thunk()};
  try {
    PDB_ARCHIVE archive(archive_name(), PDB_ARCHIVE::PDB_READ);
    for (const PDB_THUNK_INFO* thunk : thunks) {
      g_thunk = thunk;
      void* record = nullptr;
      try {
        pdb_read_ptr(archive, "", "cdb", &any_ptr_field, &record, nullptr, "fuzz");
      } catch (const PDB_DATABASE_EXCEPTION&) {
      }
      if (record) {
        thunk->get_destroy()(record);
        ::operator delete(record);
      }
    }
    read_owned(archive);
  } catch (const PDB_DATABASE_EXCEPTION&) {
  }
  std::remove(file.c_str());
  return 0;
}
