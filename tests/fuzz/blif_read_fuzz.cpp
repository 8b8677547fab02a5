// libFuzzer target: the BLIF reader on arbitrary bytes. A read either builds
// a netlist that passes check() and writes back, or returns an error; it
// never crashes, hangs or trips a sanitizer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cdb/cdb_sgate.h"
#include "netlist_io/blif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kavu_platform;
  if (size > 1 << 16) return 0;  // large inputs only slow the search down
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (auto names : {BLIF_READ_OPTIONS::AUTO_LUT, BLIF_READ_OPTIONS::ALL_COMB}) {
    BLIF_READ_OPTIONS options;
    options.names = names;
    BLIF_RESULT r = blif_read_string(text, options);
    if (!r.netlist) continue;
    r.netlist->check();
    delete r.netlist;
    delete r.hierarchy;
  }
  return 0;
}
