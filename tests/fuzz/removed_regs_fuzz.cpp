// libFuzzer target: the removed-register record on arbitrary archive files.
// A read either throws the archive's exception or gives a database whose
// counts are not negative; merging it into itself never overflows, and
// what was read writes and reads back the same. Nothing crashes or trips a
// sanitizer (UBSan catches a signed overflow).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cdb/cdb_sgate_removed_regs.h"
#include "fuzz_archive_support.h"
#include "pdb/pdb.h"

namespace {

using DB = CDB_SGATE_REMOVED_REGISTERS_DB;

std::unique_ptr<DB> read_db(const std::string& name) {
  PDB_ARCHIVE archive(name, PDB_ARCHIVE::PDB_READ);
  void* p = nullptr;
  pdb_read_ptr(archive, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &p, nullptr, "fuzz");
  // The format's null record reads as no database: refused, as the
  // library's readers refuse it.
  if (!p) throw PDB_DATABASE_EXCEPTION("the archive holds no removed-register database");
  return std::unique_ptr<DB>(static_cast<DB*>(p));
}

bool same(const DB& a, const DB& b) {
  return a.get_name() == b.get_name() && a.get_fanoutless_count() == b.get_fanoutless_count() &&
         a.get_stuck_count() == b.get_stuck_count() && a.get_merged_count() == b.get_merged_count() &&
         a.get_names() == b.get_names();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  const std::string name = fuzz_support::temp_path("removed_regs_fuzz", "");
  if (!fuzz_support::write_bytes(name + ".cdb", data, size)) return 0;
  try {
    std::unique_ptr<DB> db = read_db(name);
    if (db->get_fanoutless_count() < 0 || db->get_stuck_count() < 0 || db->get_merged_count() < 0)
      fuzz_support::broken("a negative count was read");
    {
      PDB_ARCHIVE w(name, PDB_ARCHIVE::PDB_WRITE);
      void* p = db.get();
      pdb_write_ptr(w, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &p, 0, -1, 0);
      w.close();
    }
    std::unique_ptr<DB> back = read_db(name);
    if (!same(*db, *back)) fuzz_support::broken("a database read back differs");
    DB total("total");
    total.merge_with(db.get());
    total.merge_with(back.get());
    total.merge_with(db.get());
    if (total.get_fanoutless_count() < db->get_fanoutless_count() || total.get_stuck_count() < db->get_stuck_count() ||
        total.get_merged_count() < db->get_merged_count())
      fuzz_support::broken("a merged count went down");
  } catch (const PDB_DATABASE_EXCEPTION&) {
  }
  std::remove((name + ".cdb").c_str());
  return 0;
}
