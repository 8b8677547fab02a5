// kavu_dlopen_plugin — a plug-in built on the libraries, as a host loads
// one with dlopen (or Python's ctypes): its own loading brings in the
// platform layer and the synthesis library.
#include <string>

#include "cdb/cdb_sgate.h"
#include "kavu_setup.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"

// Reads the BLIF file at `path` (gates and terminals from the cell pool)
// and returns its gate count, or -1 when it cannot be read; reads one of the
// synthesis library's key globals on the way, and compares the design with
// itself through berkeley-abc, a child of the library's own (its keeper
// shares the host's memory and runs on the loading thread's thread
// pointer): -2 when that comparison fails (abc absent is no failure).
extern "C" __attribute__((visibility("default"))) int kavu_plugin_read_blif(const char* path) {
  kavu_platform::BLIF_RESULT r = kavu_platform::blif_read_file(path);
  if (!r.netlist || kavu_min_netlist_size < 0) return -1;
  int gates = 0;
  for (auto it = r.netlist->begin_node_list(); it != r.netlist->end_node_list(); ++it) gates += *it ? 1 : 0;
  const kavu_platform::ABC_RESULT same = kavu_platform::abc_equivalent(r.netlist, r.netlist);
  if (same != kavu_platform::EQUIVALENT && same != kavu_platform::UNAVAILABLE) gates = -2;
  delete r.netlist;
  delete r.hierarchy;
  return gates;
}
