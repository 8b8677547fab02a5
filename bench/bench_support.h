// bench_support.h — helpers the benchmark programs share: where the bundled
// circuits live, freeing a circuit the BLIF reader returned, and collecting
// the terminals a benchmark loops over.
//
// Header-only (every benchmark is a program of its own source file), so all
// functions are inline. Paths come from KAVU_TEST_DATA_DIR, which the build
// defines for each benchmark program. The collectors append in node-list
// order, so figures do not depend on pointer values; each costs one pass
// over the gates and their terminals. largest_bundled() walks the bundled
// directory tree once per call.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "netlist_io/blif.h"

namespace kavu_bench {

// Path of a bundled circuit named without its extension ("mcnc/s298").
inline std::string bundled_circuit(const std::string& name) {
  return std::string(KAVU_TEST_DATA_DIR "/blif/") + name + ".blif";
}

// Path of the bundled circuit with the largest file.
inline std::string largest_bundled() {
  std::string best;
  uintmax_t size = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(KAVU_TEST_DATA_DIR "/blif")) {
    if (e.path().extension() != ".blif" || e.file_size() <= size) continue;
    size = e.file_size();
    best = e.path().string();
  }
  return best;
}

// Frees what the reader returned and leaves the result empty, so a second
// call frees nothing twice.
inline void release(kavu_platform::BLIF_RESULT& r) {
  delete r.netlist;
  delete r.hierarchy;
  r.netlist = nullptr;
  r.hierarchy = nullptr;
}

// Appends every input terminal that has a source.
inline void collect_driven_iterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>& out) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
      if (t && t->get_source()) out.push_back(t);
  }
}

// Appends every output terminal.
inline void collect_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& out) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o) out.push_back(o);
  }
}

// Appends the gate's sources that out does not hold yet (a cut's leaves).
inline void add_fanin_sources(const CDB_SGATE_NODE* gate, std::vector<CDB_SGATE_OTERM*>& out) {
  for (unsigned i = 0; i < gate->get_number_of_input_terms(); ++i) {
    CDB_SGATE_OTERM* src = gate->get_fanin_term(i);
    if (src && std::find(out.begin(), out.end(), src) == out.end()) out.push_back(src);
  }
}

}  // namespace kavu_bench
