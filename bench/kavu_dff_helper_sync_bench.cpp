// kavu_dff_helper_sync_bench.cpp — figures of enable unmapping, beside
// yosys in the same run.
//
//   BM_UnmapAllEnables/<name>  kavu_unmap_all_enables on a fresh copy of each
//                              sequential design with enables (the largest
//                              bundled one, seq/diffeq1, first): registers
//                              per second, enables unmapped
//   BM_SmallSyncSecondaries    opt_unmap_small_synch_secondaries with
//                              widths 4 on seq/ch_intrinsics: registers per
//                              second
//   BM_WholeProcessEnables/<name>
//                              read, unmap every enable, write BLIF, as a
//                              whole process on each side: this program's
//                              --unmap-enables mode against
//                              `yosys -p "read_blif; dffunmap -ce-only;
//                              write_blif"`; wall time and peak memory of
//                              both and their ratios (ours / yosys)
//   BM_WholeProcessSyncSecondaries/<name>
//                              the same with --unmap-sync-secondaries
//                              (opt_unmap_small_synch_secondaries with
//                              minimum widths above any signal's fan-out, so
//                              every enable, load and clear goes) against
//                              `dffunmap` (every enable and synchronous
//                              reset), on seq/diffeq1 and seq/ch_intrinsics
// Loading is outside the timed region of the in-process figures. A missing
// yosys skips the whole-process rows with a message; a yosys run that
// writes no whole BLIF file fails the row. Figures only; nothing is
// asserted.
#include <benchmark/benchmark.h>

#include <cstdio>
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

const char* const DESIGNS[] = {"seq/diffeq1", "seq/ch_intrinsics", "seq/stereovision3",
                               "small/shift_en_sclr_generic"};

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

void unmap_all(CDB_SGATE_NETLIST* nl) { kavu_unmap_all_enables(nl); }

template <const char* WIDTH>
void unmap_narrower_than(CDB_SGATE_NETLIST* nl) {
  cfg_set_value("kavu_min_width_ce_for_unmap", WIDTH);
  cfg_set_value("kavu_min_width_sld_sclr_for_unmap", WIDTH);
  opt_unmap_small_synch_secondaries(nullptr, nl);
}
constexpr char SMALL_WIDTH[] = "4";
constexpr char ANY_WIDTH[] = "1000000";

template <void (*RUN)(CDB_SGATE_NETLIST*)>
void run_on_design(benchmark::State& state) {
  const char* name = DESIGNS[state.range(0)];
  state.SetLabel(name);
  long registers = 0, unmapped = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT r = read_or_skip(state, bundled_circuit(name));
    if (!r.netlist) return;
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

void BM_UnmapAllEnables(benchmark::State& state) { run_on_design<unmap_all>(state); }
void BM_SmallSyncSecondaries(benchmark::State& state) { run_on_design<unmap_narrower_than<SMALL_WIDTH>>(state); }

constexpr const char* UNMAP_ENABLES_FLAG = "--unmap-enables";
constexpr const char* UNMAP_SYNC_FLAG = "--unmap-sync-secondaries";

void whole_process(benchmark::State& state, const char* our_flag, const char* yosys_pass) {
  const char* name = DESIGNS[state.range(0)];
  state.SetLabel(name);
  const std::string in = bundled_circuit(name);
  TEMP_DIR dir;
  const std::string yosys = find_program("yosys");
  compare_processes(state, dir.path(), {self_program(), our_flag, in, dir.file("ours.blif")},
                    {yosys, "-q", "-p",
                     "read_blif " + in + "; " + yosys_pass + "; write_blif " + dir.file("peer.blif")},
                    "yosys", wrote_file(dir.file("peer.blif"), ".end"));
}

void BM_WholeProcessEnables(benchmark::State& state) {
  whole_process(state, UNMAP_ENABLES_FLAG, "dffunmap -ce-only");
}
void BM_WholeProcessSyncSecondaries(benchmark::State& state) {
  whole_process(state, UNMAP_SYNC_FLAG, "dffunmap");
}

BENCHMARK(BM_UnmapAllEnables)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SmallSyncSecondaries)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeProcessEnables)->DenseRange(0, 3)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProcessSyncSecondaries)
    ->DenseRange(0, 1)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

const PROCESS_MODE MODES[] = {{UNMAP_ENABLES_FLAG, read_run_write<unmap_all>},
                              {UNMAP_SYNC_FLAG, read_run_write<unmap_narrower_than<ANY_WIDTH>>}};

}  // namespace

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
