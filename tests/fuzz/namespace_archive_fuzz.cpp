// libFuzzer target: the namespace archive on arbitrary files. A read either
// fails (false, nothing added) or fills a fresh namespace, which writes and
// reads back into another one. Nothing crashes, reports an internal error
// of the name layer or trips a sanitizer.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_archive_support.h"
#include "hdb/hdb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  const std::string dir = fuzz_support::temp_path("namespace_archive_fuzz", "");
  const std::string again = dir + "_again";
  ::mkdir(dir.c_str(), 0700);
  ::mkdir(again.c_str(), 0700);
  const std::string file = dir + "/hdb_namespace.cdb";
  if (!fuzz_support::write_bytes(file, data, size)) return 0;
  {
    HDB_NAMESPACE ns;
    if (HDB_NAMESPACE::read_pdb(&ns, dir)) {
      if (!HDB_NAMESPACE::write_pdb(&ns, again, true)) fuzz_support::broken("a namespace read cannot be written");
      HDB_NAMESPACE back;
      if (!HDB_NAMESPACE::read_pdb(&back, again)) fuzz_support::broken("a written namespace does not read back");
    } else if (!ns.get_top_names().empty()) {
      fuzz_support::broken("a failed read added names");
    }
  }
  std::remove(file.c_str());
  std::remove((again + "/hdb_namespace.cdb").c_str());
  ::rmdir(dir.c_str());
  ::rmdir(again.c_str());
  kavu_platform::hdb_reset();
  return 0;
}
