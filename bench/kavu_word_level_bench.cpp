// kavu_word_level_bench.cpp — figures of the word-level bridge, each way.
//
// Circuits: the largest bundled circuit (arg 0) and a generated netlist of a
// million LUTs (make_random_dag, arg 1).
//   BM_GateToWl   kavu_make_wl_netlist in whole-netlist mode (a fresh copy
//                 of the gate netlist per iteration, copied outside the
//                 timing)
//   BM_WlToGate   kavu_convert_wl_to_sgate_netlist of the word-level netlist
//                 built from that copy
// Counters: gates per second, and the heap bytes per gate of the gate
// netlist and of the word-level netlist built from it (glibc's in-use
// heap before and after each is built). No peer is named for this bridge:
// the figures stand alone. Nothing is asserted.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "kavu_family_info.h"
#include "kavu_word_level.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"
#include "wl/wl.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

size_t heap_in_use() { return mallinfo2().uordblks; }

struct SOURCE {
  CDB_SGATE_NETLIST* netlist = nullptr;
  size_t gates = 0;
  double gate_bytes_per_gate = 0;
};

SOURCE& pick(int which) {
  static SOURCE s[2];
  SOURCE& r = s[which];
  if (r.netlist) return r;
  const size_t before = heap_in_use();
  if (which == 0) {
    BLIF_RESULT b = blif_read_file(largest_bundled());
    r.netlist = b.netlist;
  } else {
    r.netlist = make_random_dag(1000000, 1);
  }
  r.gates = r.netlist->size();
  r.gate_bytes_per_gate = double(heap_in_use() - before) / double(r.gates);
  return r;
}

struct FAMILY {
  CMP_FACADE facade;
  std::unique_ptr<RTL_FAMILY_INFO> info;
  FAMILY() {
    facade.set_base_family(DEV_FAMILY_ENUM(15));
    facade.set_family(DEV_FAMILY_ENUM(15));
    info = std::make_unique<RTL_FAMILY_INFO>(&facade);
  }
};

CDB_SGATE_NETLIST* fresh_copy(SOURCE& s) {
  CDB_SGATE_NETLIST* copy = s.netlist->clone(nullptr, true, true);
  s.netlist->clear_temp_pointers();
  return copy;
}

void BM_GateToWl(benchmark::State& state) {
  SOURCE& s = pick(int(state.range(0)));
  FAMILY fam;
  double wl_bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CDB_SGATE_NETLIST* copy = fresh_copy(s);
    const size_t before = heap_in_use();
    state.ResumeTiming();
    WL_NETLIST* wl = kavu_make_wl_netlist(copy, &fam.facade, nullptr, nullptr);
    state.PauseTiming();
    // The copy is gone (whole-netlist mode); its pins are kept for the way back.
    wl_bytes = double(heap_in_use()) - double(before);
    delete kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr);
    state.ResumeTiming();
  }
  state.counters["gates_per_s"] = benchmark::Counter(double(s.gates), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["gate_B_per_gate"] = s.gate_bytes_per_gate;
  state.counters["wl_B_per_gate_net"] = wl_bytes / double(s.gates);
}

void BM_WlToGate(benchmark::State& state) {
  SOURCE& s = pick(int(state.range(0)));
  FAMILY fam;
  for (auto _ : state) {
    state.PauseTiming();
    WL_NETLIST* wl = kavu_make_wl_netlist(fresh_copy(s), &fam.facade, nullptr, nullptr);
    state.ResumeTiming();
    CDB_SGATE_NETLIST* back = kavu_convert_wl_to_sgate_netlist(wl, &fam.facade, fam.info.get(), nullptr);
    state.PauseTiming();
    delete back;
    state.ResumeTiming();
  }
  state.counters["gates_per_s"] = benchmark::Counter(double(s.gates), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_GateToWl)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WlToGate)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv); }
