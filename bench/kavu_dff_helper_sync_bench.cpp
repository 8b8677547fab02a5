// kavu_dff_helper_sync_bench.cpp — figures of enable unmapping.
//
//   BM_UnmapAllEnables/<name>  kavu_unmap_all_enables on a fresh copy of each
//                              sequential design with enables (the largest
//                              bundled one, seq/ch_intrinsics, first):
//                              registers per second, enables unmapped
//   BM_SmallSyncSecondaries    opt_unmap_small_synch_secondaries with
//                              widths 4 on the same design: registers per
//                              second
// Loading is outside the timed region. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "testkit/platform_test_hooks.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_predicates.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

const char* const DESIGNS[] = {"seq/ch_intrinsics", "seq/stereovision3", "small/shift_en_sclr_generic"};

struct REG_COUNTS {
  long registers = 0, enables = 0;
};

REG_COUNTS count(const CDB_SGATE_NETLIST* nl) {
  REG_COUNTS c;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!*it || !kavu_is_a_dff(*it, true)) continue;
    ++c.registers;
    const CDB_SGATE_ITERM* e = kavu_get_dff_enable(*it);
    c.enables += e && cdb_is_connected(e) && e->get_source();
  }
  return c;
}

template <void (*RUN)(CDB_SGATE_NETLIST*)>
void run_on_design(benchmark::State& state) {
  const char* name = DESIGNS[state.range(0)];
  state.SetLabel(name);
  long registers = 0, unmapped = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT r = blif_read_file(bundled_circuit(name));
    if (!r.netlist) {
      state.SkipWithError(r.error.c_str());
      return;
    }
    const REG_COUNTS before = count(r.netlist);
    state.ResumeTiming();
    RUN(r.netlist);
    state.PauseTiming();
    registers += before.registers;
    unmapped += before.enables - count(r.netlist).enables;
    release(r);
    state.ResumeTiming();
  }
  state.counters["registers/s"] = benchmark::Counter(double(registers), benchmark::Counter::kIsRate);
  state.counters["enables_unmapped"] = double(unmapped) / double(state.iterations());
}

void unmap_all(CDB_SGATE_NETLIST* nl) { kavu_unmap_all_enables(nl); }
void unmap_small(CDB_SGATE_NETLIST* nl) { opt_unmap_small_synch_secondaries(nullptr, nl); }

void BM_UnmapAllEnables(benchmark::State& state) { run_on_design<unmap_all>(state); }
void BM_SmallSyncSecondaries(benchmark::State& state) {
  cfg_set_value("kavu_min_width_ce_for_unmap", "4");
  cfg_set_value("kavu_min_width_sld_sclr_for_unmap", "4");
  run_on_design<unmap_small>(state);
}

BENCHMARK(BM_UnmapAllEnables)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SmallSyncSecondaries)->Arg(0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
