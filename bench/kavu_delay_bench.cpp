// kavu_delay_bench.cpp — figures of the delay expert's compute_all_delays
// against berkeley-abc's print_level (the longest path in levels) on the same
// files, in one run.
//
// Circuits: epfl/sin, the largest MCNC circuit (most gates) and a generated
// netlist of a million LUTs (make_random_dag), written to a temporary BLIF
// file for the whole-process comparison.
//   BM_ComputeAllDelays   prepare (loop cuts), compute_all_delays with
//                         invalidation and clean-up on a loaded netlist;
//                         counters: edges (driven input terminals) and
//                         ns_per_edge
//   BM_WholeProcess       ours: this program's "--all-delays IN.blif" mode
//                         (read, the same analysis, print the longest path);
//                         peer: berkeley-abc -c "read IN; print_level";
//                         ratio = ours / peer of whole-process times; an
//                         abc run that prints no level fails the row
// Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_delay.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

const char* const NAMES[3] = {"epfl/sin", "largest mcnc", "1M random LUTs"};

std::string largest_mcnc() {
  std::string best;
  uint32_t best_size = 0;
  for (const char* name : {"mcnc/alu4", "mcnc/bigkey", "mcnc/diffeq", "mcnc/dsip", "mcnc/s298", "mcnc/tseng"}) {
    BLIF_RESULT r = blif_read_file(bundled_circuit(name));
    if (r.netlist && r.netlist->size() > best_size) {
      best_size = r.netlist->size();
      best = bundled_circuit(name);
    }
    release(r);
  }
  return best;
}

// The BLIF file of a circuit; the generated one is written once.
const std::string& circuit_file(int which) {
  static TEMP_DIR dir;
  static std::string files[3];
  if (files[which].empty()) {
    if (which == 0) files[0] = bundled_circuit("epfl/sin");
    if (which == 1) files[1] = largest_mcnc();
    if (which == 2) {
      std::unique_ptr<CDB_SGATE_NETLIST> nl(make_random_dag(1000000, 1));
      files[2] = dir.file("random_1m.blif");
      blif_write_file(nl.get(), files[2]);
    }
  }
  return files[which];
}

int all_delays(CDB_SGATE_NETLIST* netlist) {
  std::unique_ptr<KAVU_DELAY_EXPERT> expert(kavu_get_default_delay_expert(netlist));
  expert->prepare_netlist_for_delay_analysis();
  const int worst = expert->compute_all_delays(true);
  expert->clean_up_after_delay_analysis();
  return worst;
}

void BM_ComputeAllDelays(benchmark::State& state) {
  const int which = int(state.range(0));
  BLIF_RESULT r = read_or_skip(state, circuit_file(which));
  if (!r.netlist) return;
  std::vector<CDB_SGATE_ITERM*> edges;
  collect_driven_iterms(r.netlist, edges);
  int worst = 0;
  double ns = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    worst = all_delays(r.netlist);
    ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  }
  state.SetLabel(NAMES[which]);
  state.counters["edges"] = double(edges.size());
  state.counters["worst"] = worst;
  state.counters["ns_per_edge"] = ns / (double(edges.size()) * double(state.iterations()));
  release(r);
}

constexpr const char* ALL_DELAYS_FLAG = "--all-delays";

// Whole-process mode: "<program> --all-delays IN.blif" reads the file and
// prints the longest path of the default delay model.
int read_and_compute(std::span<char* const> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: IN.blif\n");
    return 2;
  }
  BLIF_RESULT r = blif_read_file(args[0]);
  if (!r.netlist) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return 1;
  }
  std::printf("longest path %d\n", all_delays(r.netlist));
  release(r);
  return 0;
}

void BM_WholeProcess(benchmark::State& state) {
  const int which = int(state.range(0));
  const std::string in = circuit_file(which);
  state.SetLabel(NAMES[which]);
  TEMP_DIR dir;
  compare_processes(state, dir.path(), {self_program(), ALL_DELAYS_FLAG, in},
                    {find_program("berkeley-abc"), "-c", "read " + in + "; print_level"}, "berkeley-abc",
                    prints_figure("Level ="));
}

BENCHMARK(BM_ComputeAllDelays)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProcess)->DenseRange(0, 2)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

const PROCESS_MODE MODES[] = {{ALL_DELAYS_FLAG, read_and_compute}};

}  // namespace

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
