// pdb_sys.h — an owned object pointer as the one record of an archive.
//
// A class T that persists as a pointer offers a static pdb_thunk() (its
// registration). The pointer is stored as the record with an empty name and
// the extension of PDB_CDB_SEG_BASE, as one field "ptr" (tag 199).
// Reading goes into a temporary pointer and replaces the caller's object
// only when the whole record was read: a missing record (PDB_INVALID_PATH)
// gives false and leaves the caller's pointer and object as they were; bad
// data (PDB_DATABASE_EXCEPTION) passes on to the caller, with the caller's
// object likewise intact. The netlist's registration arrives with the
// netlist archive; any class with pdb_thunk() uses these templates as is.
#pragma once

#include "pdb/pdb.h"

template <class T>
void pdb_sys_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *T::pdb_thunk());
}

// Replaces *owned with the object read from the archive; see above.
template <class T>
bool pdb_sys_read_owned_ptr(PDB_ARCHIVE& archive, T*& owned) {
  void* fresh = nullptr;
  try {
    pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &pdb_sys_ptr_field<T>, &fresh,
                 nullptr, "h/pdb_sys (KAVU)");
  } catch (const PDB_INVALID_PATH&) {
    return false;
  }
  delete owned;
  owned = static_cast<T*>(fresh);
  return true;
}

// Stores the object (null allowed) as the archive's record; always true.
template <class T>
bool pdb_sys_write_owned_ptr(PDB_ARCHIVE& archive, T* owned) {
  void* ptr = owned;
  pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &pdb_sys_ptr_field<T>, &ptr, 0, -1, 0);
  return true;
}
