// kavu_utility_lutability_bench.cpp — figures of early LUT analysis.
//
//   BM_Lutability/<circuit>  opt_sgate_lutability over an EPFL circuit read
//                            as generic comb gates. Counters: gates per
//                            second (gates present before the pass), LUTs
//                            built, gates left beside them, and beside it
//                            berkeley-abc's LUT count of
//                            `read X; strash; if -K 6; print_stats` on the
//                            same file, with the ratio of LUT counts
//                            (ours / abc).
// The two counts measure different work: ours collapses only the cones its
// threshold table accepts and leaves the rest as gates for the mapper, abc
// maps the whole circuit into 6-LUTs. Loading is outside the timed region.
// A missing berkeley-abc leaves its counters out; an abc run that fails or
// prints no count fails the row and the program. Figures only.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility_lutability.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

const char* const kCircuits[] = {"ctrl", "router", "int2float", "cavlc", "i2c", "dec",
                                 "priority", "bar", "max", "adder", "sin"};

// abc answered: it printed "nd =" and a number (text after the label is
// no count).
bool has_node_count(const std::string& output) { return printed_figure(output, "nd ="); }

// abc's "nd = N" of print_stats after 6-LUT mapping; -1 when abc is not
// installed, or with the benchmark's error when it fails or prints no count.
long abc_lut_count(benchmark::State& state, const std::string& path) {
  PEER_FIGURES f;
  if (!peer_figures(state, "berkeley-abc",
                    {find_program("berkeley-abc"), "-c", "read " + path + "; strash; if -K 6; print_stats"}, f,
                    has_node_count))
    return -1;
  return printed_number(f.output, "nd =");
}

void BM_Lutability(benchmark::State& state) {
  const std::string path = bundled_circuit(std::string("epfl/") + kCircuits[state.range(0)]);
  state.SetLabel(kCircuits[state.range(0)]);
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  long gates = 0, luts = 0, left = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT loaded = read_or_skip(state, path, comb);
    if (!loaded.netlist) return;
    gates += long(loaded.netlist->size());
    state.ResumeTiming();
    opt_sgate_lutability(loaded.netlist, nullptr);
    state.PauseTiming();
    luts = left = 0;
    for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it) {
      if (!*it || kavu_is_a_pin(*it)) continue;
      (kavu_is_a_lut(*it) ? luts : left)++;
    }
    release(loaded);
    state.ResumeTiming();
  }
  state.counters["gates_per_s"] = benchmark::Counter(double(gates), benchmark::Counter::kIsRate);
  state.counters["luts"] = double(luts);
  state.counters["gates_left"] = double(left);
  const long abc = abc_lut_count(state, path);
  if (abc > 0) {
    state.counters["abc_luts"] = double(abc);
    state.counters["luts_ratio"] = double(luts) / double(abc);
  }
}

}  // namespace

BENCHMARK(BM_Lutability)->DenseRange(0, 10)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv); }
