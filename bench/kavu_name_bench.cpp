// Benchmark of the deferred naming pass: the largest bundled circuit gets a
// soft buffer in front of every driven input in deferred naming mode, then
// kavu_create_real_names_from_syn_ids names every marked terminal. The
// figure is nanoseconds per terminal the pass named.
//
// Each iteration works on a fresh load (loading and buffering are excluded
// from the timing); the names accumulate in the process's name tree, so
// later iterations also measure lookups among more children.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_helper_gate_create.h"
#include "kavu_name.h"
#include "netlist_io/blif.h"

namespace {

const char* const LARGEST_CIRCUIT = KAVU_TEST_DATA_DIR "/blif/epfl/sin.blif";

struct LOADED {
  CDB_SGATE_NETLIST* netlist = nullptr;
  CDB_SGATE_HIERARCHY* hierarchy = nullptr;
  ~LOADED() {
    delete netlist;
    delete hierarchy;
  }
};

// Loads the circuit and marks one soft buffer per driven input; returns the
// number of marked terminals.
long prepare(LOADED& loaded) {
  kavu_platform::BLIF_RESULT r = kavu_platform::blif_read_file(LARGEST_CIRCUIT);
  if (!r.netlist) {
    std::fprintf(stderr, "cannot read %s: %s\n", LARGEST_CIRCUIT, r.error.c_str());
    return -1;
  }
  loaded.netlist = r.netlist;
  loaded.hierarchy = r.hierarchy;
  std::vector<CDB_SGATE_ITERM*> inputs;
  kavu_bench::collect_driven_iterms(r.netlist, inputs);
  kavu_set_syn_id_sgate_naming_function();
  for (CDB_SGATE_ITERM* t : inputs) kavu_insert_soft_before(t, r.netlist, nullptr);
  kavu_reset_sgate_naming_function();
  return static_cast<long>(inputs.size());
}

void BM_DeferredNamingPass(benchmark::State& state) {
  long named = 0;
  for (auto _ : state) {
    state.PauseTiming();
    LOADED loaded;
    const long marked = prepare(loaded);
    if (marked < 0) {
      state.SkipWithError("circuit missing");
      return;
    }
    state.ResumeTiming();
    kavu_create_real_names_from_syn_ids(loaded.netlist);
    state.PauseTiming();
    named += marked;
    state.ResumeTiming();
  }
  state.counters["terminals"] = benchmark::Counter(static_cast<double>(named) / state.iterations());
  // Seconds per named terminal (printed with an SI prefix, e.g. "850n").
  state.counters["s_per_terminal"] =
      benchmark::Counter(static_cast<double>(named), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DeferredNamingPass)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
