// kavu_cut_bench.cpp — k-feasible cut enumeration and largest-volume cuts on
// the EPFL sin circuit, beside berkeley-abc's cut enumeration in the same run.
//
// KavuCutAllCuts/K/depth: get_all_cuts for the output of every gate of sin
//   (cone depth bounded), counters cuts per second and cuts per node.
// KavuCutLargestVolume/K: the single-result largest-volume search of depth 8
//   for every gate (the gate-absorbing use), counters searches per second.
// AbcCut/K: "read sin.blif; strash; cut -K k -M 1000 -v" timed as a whole
//   process in a temporary directory (start-up and reading included), its
//   cut count as reported.
// The two count cuts over different graphs: abc over its AIG (two-input
// AND nodes, at most 1000 cuts per node), the library per gate of the
// netlist as read, each head's cone enumerated on its own.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_cut.h"
#include "netlist_io/blif.h"

namespace {

const std::string kSin = kavu_bench::bundled_circuit("epfl/sin");

struct SIN {
  SIN() {
    kavu_platform::BLIF_RESULT r = kavu_platform::blif_read_file(kSin);
    if (!r.netlist) {
      fprintf(stderr, "cannot read %s: %s\n", kSin.c_str(), r.error.c_str());
      std::exit(1);
    }
    netlist = r.netlist;
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* gate = *it;
      if (gate && gate->get_number_of_input_terms() > 0 && gate->get_output_term(0))
        heads.push_back(gate->get_output_term(0));
    }
  }
  CDB_SGATE_NETLIST* netlist = nullptr;
  std::vector<CDB_SGATE_OTERM*> heads;
};

SIN& sin_circuit() {
  static SIN sin;
  return sin;
}

void KavuCutAllCuts(benchmark::State& state) {
  SIN& sin = sin_circuit();
  const unsigned k = unsigned(state.range(0));
  const unsigned depth = unsigned(state.range(1));
  KAVU_WVNET_MANAGER manager;
  KAVU_WVNET_MANAGER::CUT_SET cuts;
  long total = 0;
  for (auto _ : state) {
    total = 0;
    for (CDB_SGATE_OTERM* head : sin.heads) {
      manager.get_all_cuts(head, depth, k, nullptr, &cuts);
      total += long(cuts.size());
    }
  }
  state.counters["cuts"] = double(total);
  state.counters["cuts_per_node"] = double(total) / double(sin.heads.size());
  state.counters["cuts_per_s"] =
      benchmark::Counter(double(total) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(KavuCutAllCuts)
    ->Args({4, 6})
    ->Args({4, 12})
    ->Args({6, 6})
    ->Args({6, 10})
    ->Unit(benchmark::kMillisecond);

void KavuCutLargestVolume(benchmark::State& state) {
  SIN& sin = sin_circuit();
  const int k = int(state.range(0));
  KAVU_WVNET_MANAGER manager;
  KAVU_WVNET_MANAGER::OTERM_LIST cut;
  long found = 0, volume_sum = 0;
  for (auto _ : state) {
    found = volume_sum = 0;
    for (CDB_SGATE_OTERM* head : sin.heads) {
      int volume = 0;
      if (manager.kavu_get_largest_volume_mincut_of_size(head, 8, k, &cut, &volume, false, false,
                                                         false, true)) {
        ++found;
        volume_sum += volume;
      }
    }
  }
  state.counters["found"] = double(found);
  state.counters["mean_volume"] = found ? double(volume_sum) / double(found) : 0.0;
  state.counters["searches_per_s"] = benchmark::Counter(
      double(sin.heads.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(KavuCutLargestVolume)->Arg(4)->Arg(6)->Unit(benchmark::kMillisecond);

// Reads "Current cuts = N." from abc's verbose statistics; -1 when absent.
long abc_cut_count(const std::string& output) {
  const size_t at = output.find("Current cuts");
  if (at == std::string::npos) return -1;
  const size_t eq = output.find('=', at);
  return eq == std::string::npos ? -1 : std::strtol(output.c_str() + eq + 1, nullptr, 10);
}

void AbcCut(benchmark::State& state) {
  const std::string abc = kavu_bench::find_program("berkeley-abc");
  kavu_bench::TEMP_DIR dir;
  if (abc.empty() || dir.path().empty()) {
    state.SkipWithError("berkeley-abc is not installed: no peer figures");
    return;
  }
  const std::string commands = "read " + kSin + "; strash; cut -K " +
                               std::to_string(state.range(0)) + " -M 1000 -v";
  long cuts = -1;
  for (auto _ : state) {
    const kavu_bench::PROCESS_FIGURES f = kavu_bench::run_process({abc, "-c", commands}, dir.path());
    state.SetIterationTime(f.wall_s);
    if (f.status != 0) {
      state.SkipWithError(kavu_bench::failure("berkeley-abc", f).c_str());
      return;
    }
    cuts = abc_cut_count(f.output);
  }
  state.counters["cuts"] = double(cuts);
  state.counters["cuts_per_s"] =
      benchmark::Counter(double(cuts) * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(AbcCut)->Arg(4)->Arg(6)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return kavu_bench::bench_main(argc, argv); }
