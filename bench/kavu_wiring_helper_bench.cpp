// kavu_wiring_helper_bench.cpp — figures of the terminal rewiring operations on the
// largest committed circuit.
//
//   BM_MoveFanin   every driven input moves its source to a spare buffer
//                  input and back: moves per second (items)
//   BM_TieInput    every driven input is tied to VCC or GND and then
//                  reconnected to its source: ties per second (items)
//   BM_SwapInputs  neighbouring driven inputs swap sources twice: swaps per
//                  second (items)
// Each pass leaves the netlist as it found it, so the figures do not drift
// between iterations. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_wiring_helper.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

// The largest circuit, loaded once, with its driven inputs and one spare
// buffer input to move sources into.
struct BENCH_CIRCUIT {
  CDB_SGATE_NETLIST* netlist = nullptr;
  std::vector<CDB_SGATE_ITERM*> driven;
  CDB_SGATE_ITERM* spare = nullptr;

  BENCH_CIRCUIT() {
    BLIF_RESULT r = blif_read_file(largest_bundled());
    netlist = r.netlist;
    if (!netlist) return;
    collect_driven_iterms(netlist, driven);
    auto* buf = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_LCELL);
    netlist->add_node(buf, true);
    spare = buf->create_input_term(nullptr);
    buf->set_input_term(spare, 0);
  }
};

BENCH_CIRCUIT& circuit() {
  static BENCH_CIRCUIT c;
  return c;
}

void BM_MoveFanin(benchmark::State& state) {
  BENCH_CIRCUIT& c = circuit();
  if (!c.netlist) {
    state.SkipWithError("no circuit");
    return;
  }
  for (auto _ : state) {
    for (CDB_SGATE_ITERM* t : c.driven) {
      kavu_move_fanin(t, c.spare);
      kavu_move_fanin(c.spare, t);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.driven.size()) * 2);
  state.counters["inputs"] = double(c.driven.size());
}

void BM_TieInput(benchmark::State& state) {
  BENCH_CIRCUIT& c = circuit();
  if (!c.netlist) {
    state.SkipWithError("no circuit");
    return;
  }
  bool gnd = false;
  for (auto _ : state) {
    for (CDB_SGATE_ITERM* t : c.driven) {
      CDB_SGATE_OTERM* src = t->get_source();
      const bool inverted = t->is_inverted();
      t->disconnect_from_source();
      kavu_set_iterm_source(t, nullptr, gnd);
      kavu_set_iterm_source(t, src, inverted);
      gnd = !gnd;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.driven.size()));
}

void BM_SwapInputs(benchmark::State& state) {
  BENCH_CIRCUIT& c = circuit();
  if (!c.netlist || c.driven.size() < 2) {
    state.SkipWithError("no circuit");
    return;
  }
  for (auto _ : state) {
    for (size_t k = 0; k + 1 < c.driven.size(); k += 2) {
      kavu_swap_iterm_connections(c.driven[k], c.driven[k + 1]);
      kavu_swap_iterm_connections(c.driven[k], c.driven[k + 1]);
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(c.driven.size() / 2) * 2);
}

}  // namespace

BENCHMARK(BM_MoveFanin)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TieInput)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SwapInputs)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
