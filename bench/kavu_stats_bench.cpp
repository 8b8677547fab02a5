// kavu_stats_bench.cpp — figures of the netlist statistics tally and the
// combinational depth against berkeley-abc's print_stats and print_level on
// the same files, in one run.
//
// Circuits: the largest bundled design (by file size; generic cells, which
// berkeley-abc cannot read), the largest one berkeley-abc reads (epfl/sin)
// and a generated netlist of a million LUTs (make_random_dag), written to a
// temporary BLIF file for the whole-process comparison.
//   BM_Tally          the full tally report (every description, parsable
//                     dump) on a loaded netlist; counters: edges (driven
//                     input terminals) and ns_per_edge
//   BM_MaxCombDepth   the maximum combinational depth; ns_per_edge
//   BM_WholeProcess   ours: this program's "--stats IN.blif" mode (read, the
//                     tally, the maximum depth); peer: berkeley-abc -c
//                     "read IN; print_stats; print_level"; ratio = ours /
//                     peer of whole-process times (the last two circuits)
// Reports print into /dev/null. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_stats.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"
#include "testkit/platform_test_hooks.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

const char* const NAMES[3] = {"largest bundled", "epfl/sin", "1M random LUTs"};

// Reports on, into /dev/null, without the delay section.
void open_reports() {
  cfg_set_value("synth_less_debug_messages", "off");
  cfg_set_value("debug_msg", "on");
  cfg_set_value("debug_msg_file", "/dev/null");
  cfg_set_value("kavu_stats_no_delay", "on");
  cfg_set_value("rtl_net_stats_parsable", "on");
}

const std::string& circuit_file(int which) {
  static TEMP_DIR dir;
  static std::string files[3];
  if (files[which].empty()) {
    if (which == 0) files[0] = largest_bundled();
    if (which == 1) files[1] = bundled_circuit("epfl/sin");
    if (which == 2) {
      std::unique_ptr<CDB_SGATE_NETLIST> nl(make_random_dag(1000000, 1));
      files[2] = dir.file("random_1m.blif");
      blif_write_file(nl.get(), files[2]);
    }
  }
  return files[which];
}

template <class FN>
void per_edge(benchmark::State& state, FN&& fn) {
  open_reports();
  const int which = int(state.range(0));
  BLIF_RESULT r = read_or_skip(state, circuit_file(which));
  if (!r.netlist) return;
  std::vector<CDB_SGATE_ITERM*> edges;
  collect_driven_iterms(r.netlist, edges);
  double ns = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    fn(r.netlist);
    ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  }
  state.SetLabel(NAMES[which]);
  state.counters["gates"] = double(r.netlist->size());
  state.counters["edges"] = double(edges.size());
  state.counters["ns_per_edge"] = ns / (double(edges.size()) * double(state.iterations()));
  release(r);
}

void BM_Tally(benchmark::State& state) {
  per_edge(state, [](CDB_SGATE_NETLIST* nl) { KAVU_STATS().report_on_netlist(nl, "bench"); });
}

void BM_MaxCombDepth(benchmark::State& state) {
  per_edge(state, [](CDB_SGATE_NETLIST* nl) { kavu_sgatenetlist_max_comb_depth(nl); });
}

constexpr const char* STATS_FLAG = "--stats";

// Whole-process mode: "<program> --stats IN.blif" reads the file, runs the
// tally and the maximum depth.
int read_and_report(std::span<char* const> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: IN.blif\n");
    return 2;
  }
  open_reports();
  BLIF_RESULT r = blif_read_file(args[0]);
  if (!r.netlist) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return 1;
  }
  KAVU_STATS().report_on_netlist(r.netlist, "bench");
  kavu_sgatenetlist_max_comb_depth(r.netlist);
  release(r);
  return 0;
}

void BM_WholeProcess(benchmark::State& state) {
  const int which = int(state.range(0));
  const std::string in = circuit_file(which);
  state.SetLabel(NAMES[which]);
  TEMP_DIR dir;
  compare_processes(state, dir.path(), {self_program(), STATS_FLAG, in},
                    {find_program("berkeley-abc"), "-c", "read " + in + "; print_stats; print_level"},
                    "berkeley-abc");
}

BENCHMARK(BM_Tally)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaxCombDepth)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProcess)->DenseRange(1, 2)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

const PROCESS_MODE MODES[] = {{STATS_FLAG, read_and_report}};

}  // namespace

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
