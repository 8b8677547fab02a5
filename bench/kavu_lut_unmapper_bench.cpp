// kavu_lut_unmapper_bench.cpp — figures of the LUT unmapper.
//
//   BM_UnmapMcnc/<form>/<circuit>  every LUT of a 4-LUT-mapped MCNC circuit
//                                  unmapped into comb gates (form 0 sum of
//                                  minterms, 1 factored); the new gates are
//                                  added to the netlist and the LUTs deleted,
//                                  as a caller does. Counters: LUTs per
//                                  second, gates per LUT, 2-input
//                                  equivalents per LUT.
//   BM_WholeProcess/<circuit>      read the mapped circuit and unmap every
//                                  LUT (factored form), as a whole process:
//                                  this program's --unmap-luts mode against
//                                  `berkeley-abc -c "read FILE; strash;
//                                  print_stats"` on the same file (abc turns
//                                  every LUT's cover into AND gates and
//                                  prints their count, which tells that it
//                                  did); wall time and peak memory of both
//                                  and their ratios (ours / abc)
// Loading the circuit is outside the timed region of BM_UnmapMcnc. A
// missing berkeley-abc skips the whole-process rows with a message. Figures
// only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <list>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_lut_unmapper.h"
#include "kavu_helper_predicates.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

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
  const std::string path = bundled_circuit(std::string("mcnc/") + kCircuits[state.range(1)]);
  state.SetLabel(std::string(form == KAVU_LUT_UNMAPPER::SUM_OF_MINTERMS ? "minterms/" : "factored/") +
                 kCircuits[state.range(1)]);
  UNMAP_FIGURES figures;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT loaded = read_or_skip(state, path);
    if (!loaded.netlist) return;
    KAVU_LUT_UNMAPPER unmapper(form, true, false);
    state.ResumeTiming();
    unmap_every_lut(loaded.netlist, unmapper, figures);
    state.PauseTiming();
    release(loaded);
    state.ResumeTiming();
  }
  state.counters["luts_per_s"] = benchmark::Counter(double(figures.luts), benchmark::Counter::kIsRate);
  state.counters["gates_per_lut"] = double(figures.gates) / double(figures.luts ? figures.luts : 1);
  state.counters["2in_per_lut"] = double(figures.two_input) / double(figures.luts ? figures.luts : 1);
}

constexpr const char* UNMAP_LUTS_FLAG = "--unmap-luts";

// Whole-process mode: "<program> --unmap-luts IN.blif" reads the file and
// unmaps every LUT into factored comb gates.
int read_and_unmap(std::span<char* const> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: IN.blif\n");
    return 2;
  }
  BLIF_RESULT loaded = blif_read_file(args[0]);
  if (!loaded.netlist) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    return 1;
  }
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::FACTORED, true, false);
  UNMAP_FIGURES figures;
  unmap_every_lut(loaded.netlist, unmapper, figures);
  release(loaded);
  return 0;
}

void BM_WholeProcess(benchmark::State& state) {
  const std::string path = bundled_circuit(std::string("mcnc/") + kCircuits[state.range(0)]);
  state.SetLabel(kCircuits[state.range(0)]);
  TEMP_DIR dir;
  compare_processes(state, dir.path(), {self_program(), UNMAP_LUTS_FLAG, path},
                    {find_program("berkeley-abc"), "-c", "read " + path + "; strash; print_stats"}, "berkeley-abc",
                    prints_figure("and ="));
}

const PROCESS_MODE MODES[] = {{UNMAP_LUTS_FLAG, read_and_unmap}};

}  // namespace

BENCHMARK(BM_UnmapMcnc)
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4, 5}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProcess)->DenseRange(0, 5)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
