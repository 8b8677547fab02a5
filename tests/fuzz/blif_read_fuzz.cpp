// libFuzzer target: the BLIF reader on arbitrary bytes. A read either builds
// a netlist that passes check(), is written and read back, or returns an
// error; it never crashes, hangs or trips a sanitizer. The name tree is
// reset after each input so that memory stays flat over a long run.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "netlist_io/blif.h"

namespace {

const std::string& written_file() {
  static const std::string name = "/tmp/blif_read_fuzz_" + std::to_string(::getpid()) + ".blif";
  return name;
}

void free_result(kavu_platform::BLIF_RESULT& r) {
  delete r.netlist;
  delete r.hierarchy;
  r.netlist = nullptr;
  r.hierarchy = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavu_platform;
  if (size > 1 << 20) return 0;  // larger inputs only slow the search down
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (auto names : {BLIF_READ_OPTIONS::AUTO_LUT, BLIF_READ_OPTIONS::ALL_COMB}) {
    BLIF_READ_OPTIONS options;
    options.names = names;
    BLIF_RESULT r = blif_read_string(text, options);
    if (!r.netlist) continue;
    r.netlist->check();
    // What the writer writes, the reader reads; a netlist the writer refuses
    // (a register with asynchronous controls) is no finding.
    BLIF_WRITE_OPTIONS write;
    write.full_registers = true;
    write.atoms_as_subckt = names == BLIF_READ_OPTIONS::ALL_COMB;
    std::string why;
    if (blif_write_file(r.netlist, written_file(), write, &why)) {
      BLIF_RESULT back = blif_read_file(written_file(), options);
      if (!back.netlist) {
        std::fprintf(stderr, "written file does not read back: %s\n", back.error.c_str());
        std::abort();
      }
      back.netlist->check();
      free_result(back);
    }
    free_result(r);
  }
  std::remove(written_file().c_str());
  hdb_reset();
  return 0;
}
