// libFuzzer target: the timing-netlist file on arbitrary text. A read either
// fails or gives a netlist that orders, analyses under default clocks,
// writes and reads back with the same nodes, arcs and stamp (an earlier
// version's file is written back as this version's). Counts the file
// cannot hold are refused before anything is sized by them, so memory
// stays within the fuzzer's limit. Nothing crashes or trips a sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_archive_support.h"
#include "ssc/ssc_int.h"

using namespace kavu_platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  const std::string file = fuzz_support::temp_path("tdb_file_fuzz", ".tdb");
  if (!fuzz_support::write_bytes(file, data, size)) return 0;
  SSC_NETLIST_DATA d;
  if (d.read_file(file)) {
    std::vector<uint32_t> order, pos;
    ssc_topological_order(d, &order, &pos);
    SSC_CONSTRAINTS c;
    ssc_default_clocks(d, 10, &c);
    SSC_ANALYSIS out;
    ssc_analyze(d, c, &out);
    if (!d.write_file(file)) fuzz_support::broken("a netlist read cannot be written");
    SSC_NETLIST_DATA back;
    if (!back.read_file(file)) fuzz_support::broken("a written netlist does not read back");
    if (back.nodes.size() != d.nodes.size() || back.arcs.size() != d.arcs.size())
      fuzz_support::broken("a netlist read back differs");
    if (back.stamp.from_generic != d.stamp.from_generic || !(back.stamp.generic == d.stamp.generic) ||
        !back.stamp.known || !(back.stamp.own == ssc_stored_netlist_digest(d)))
      fuzz_support::broken("a netlist's stamp read back differs");
  }
  std::remove(file.c_str());
  return 0;
}
