// kavu_lut_unmapper_bench.cpp — figures of the LUT unmapper.
//
//   BM_UnmapMcnc/<form>/<circuit>  every LUT of a 4-LUT-mapped MCNC circuit
//                                  unmapped into comb gates (form 0 sum of
//                                  minterms, 1 factored); the new gates are
//                                  added to the netlist and the LUTs deleted,
//                                  as a caller does. Counters: LUTs per
//                                  second, gates per LUT, 2-input
//                                  equivalents per LUT.
// Loading the circuit is outside the timed region. Figures only; nothing is
// asserted.
#include <benchmark/benchmark.h>

#include <list>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_lut_unmapper.h"
#include "kavu_helper_predicates.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;

namespace {

const char* const kCircuits[] = {"alu4", "bigkey", "diffeq", "dsip", "s298", "tseng"};

struct UNMAP_FIGURES {
  long luts = 0;
  long gates = 0;
  long two_input = 0;  // an n-input AND, OR or XOR counts n - 1
};

void unmap_every_lut(CDB_SGATE_NETLIST* nl, KAVU_LUT_UNMAPPER& unmapper, UNMAP_FIGURES& figures) {
  std::vector<CDB_SGATE_LUT*> luts;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_lut(*it)) luts.push_back((*it)->cast_to_lut());
  std::list<CDB_SGATE_NODE*> nodes;
  for (CDB_SGATE_LUT* lut : luts) {
    nodes.clear();
    unmapper.convert_lut_to_logic(lut, &nodes);
    for (CDB_SGATE_NODE* g : nodes) {
      figures.two_input += long(g->get_number_of_fanin()) - 1;
      nl->add_node(g, true);
    }
    figures.gates += long(nodes.size());
    nl->delete_node(lut);
    delete lut;
  }
  figures.luts += long(luts.size());
}

void BM_UnmapMcnc(benchmark::State& state) {
  const auto form = KAVU_LUT_UNMAPPER::RESULT_FORM(state.range(0));
  const std::string path = std::string(KAVU_TEST_DATA_DIR "/blif/mcnc/") + kCircuits[state.range(1)] + ".blif";
  state.SetLabel(std::string(form == KAVU_LUT_UNMAPPER::SUM_OF_MINTERMS ? "minterms/" : "factored/") +
                 kCircuits[state.range(1)]);
  UNMAP_FIGURES figures;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT loaded = blif_read_file(path);
    if (!loaded.netlist) {
      state.SkipWithError(loaded.error.c_str());
      return;
    }
    KAVU_LUT_UNMAPPER unmapper(form, true, false);
    state.ResumeTiming();
    unmap_every_lut(loaded.netlist, unmapper, figures);
    state.PauseTiming();
    delete loaded.netlist;
    delete loaded.hierarchy;
    state.ResumeTiming();
  }
  state.counters["luts_per_s"] = benchmark::Counter(double(figures.luts), benchmark::Counter::kIsRate);
  state.counters["gates_per_lut"] = double(figures.gates) / double(figures.luts ? figures.luts : 1);
  state.counters["2in_per_lut"] = double(figures.two_input) / double(figures.luts ? figures.luts : 1);
}

}  // namespace

BENCHMARK(BM_UnmapMcnc)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4, 5}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
