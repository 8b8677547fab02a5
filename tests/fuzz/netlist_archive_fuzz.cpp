// libFuzzer target: the gate-netlist record (format 2) on arbitrary archive
// files. A read either throws the archive's exception or gives a netlist
// that passes check(); what was read is written, read back and written
// again, and both writes must be the same bytes. Nothing crashes, reports
// an internal error or trips a sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "fuzz_archive_support.h"
#include "hdb/hdb.h"
#include "pdb/pdb.h"

namespace {

std::unique_ptr<CDB_SGATE_NETLIST> read_netlist(const std::string& name) {
  PDB_ARCHIVE archive(name, PDB_ARCHIVE::PDB_READ);
  void* p = nullptr;
  pdb_read_ptr(archive, "", "cdb", &cdb_sgate_netlist_ptr_field, &p, nullptr, "fuzz");
  // The format's null record reads as no netlist: refused, as the library's
  // readers refuse it.
  if (!p) throw PDB_DATABASE_EXCEPTION("the archive holds no netlist");
  return std::unique_ptr<CDB_SGATE_NETLIST>(static_cast<CDB_SGATE_NETLIST*>(p));
}

std::vector<uint8_t> payload_of(CDB_SGATE_NETLIST* nl) {
  PDB_ARCHIVE archive;
  archive.open("unused", PDB_ARCHIVE::PDB_WRITE);
  void* p = nl;
  pdb_write_ptr(archive, "", "cdb", &cdb_sgate_netlist_ptr_field, &p, 0, -1, 0);
  return *archive.find_record("", "cdb");  // discarded unclosed: nothing stored
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  const std::string name = fuzz_support::temp_path("netlist_archive_fuzz", "");
  if (!fuzz_support::write_bytes(name + ".cdb", data, size)) return 0;
  try {
    std::unique_ptr<CDB_SGATE_NETLIST> nl = read_netlist(name);
    nl->prepare_for_use();
    std::string report;
    if (!nl->check(&report)) fuzz_support::broken(("a netlist read fails its check: " + report).c_str());
    const std::vector<uint8_t> first = payload_of(nl.get());
    nl.reset();
    {
      PDB_ARCHIVE w(name, PDB_ARCHIVE::PDB_WRITE);
      w.put_record("", "cdb", first);
      w.close();
    }
    std::unique_ptr<CDB_SGATE_NETLIST> back;
    try {
      back = read_netlist(name);
    } catch (const PDB_DATABASE_EXCEPTION& e) {
      fuzz_support::broken(("a written netlist does not read back: " + std::string(e.what())).c_str());
    }
    if (payload_of(back.get()) != first) fuzz_support::broken("a netlist read back writes other bytes");
  } catch (const PDB_DATABASE_EXCEPTION&) {
  }
  std::remove((name + ".cdb").c_str());
  kavu_platform::hdb_reset();
  return 0;
}
