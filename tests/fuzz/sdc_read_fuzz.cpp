// libFuzzer target: the SDC reader on arbitrary text over a fixed design
// (fuzz_archive_support.h). A read either fails with a line named or gives
// constraints the analysis runs on. Nothing crashes, hangs or trips a
// sanitizer.
#include <cstddef>
#include <cstdint>
#include <string>

#include "cdb/cdb_sgate.h"
#include "fuzz_archive_support.h"
#include "hdb/hdb.h"
#include "ssc/ssc_int.h"

using namespace kavu_platform;

namespace {

// Built once: the timing netlist of the fixed design, without gate pointers.
const SSC_NETLIST_DATA& design() {
  static const SSC_NETLIST_DATA data = [] {
    CDB_SGATE_NETLIST* nl = fuzz_support::load_design();
    SSC_NETLIST_DATA d;
    d.build({nl}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
    d.drop_gate_pointers();
    delete nl;
    return d;
  }();
  return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const SSC_NETLIST_DATA& d = design();
  const std::string text(reinterpret_cast<const char*>(data), size);
  SSC_CONSTRAINTS c;
  std::string error;
  if (ssc_read_sdc(text, d, &c, &error)) {
    SSC_ANALYSIS out;
    ssc_analyze(d, c, &out);
  } else if (error.empty()) {
    fuzz_support::broken("a refused SDC text names no reason");
  }
  return 0;
}
