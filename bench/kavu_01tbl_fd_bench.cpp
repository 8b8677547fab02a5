// Decomposition of 8- and 10-input functions into networks of 4-input LUTs:
// the k-input builder (fewest LUTs) and the structural builder with the
// device LUT size set to 4. Inputs are plain random functions (which rarely
// decompose, so the figure is the cost of a failing search) and random
// compositions of functions of at most 3 inputs (which decompose).
// Counters: functions per second (items), the share of functions that got a
// network (found) and the LUTs per network found (luts).
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_fd.h"

namespace {

KAVU_01TBL random_table(unsigned int n, std::mt19937& rng) {
  KAVU_01TBL t(n);
  for (unsigned int m = 0; m < (1u << n); ++m)
    if (rng() & 1u) t.set_minterm(m);
  return t;
}

// Pieces of 1..3 inputs over consecutive variables feeding a random top.
KAVU_01TBL composed_table(unsigned int n, std::mt19937& rng) {
  std::vector<unsigned int> first;
  for (unsigned int v = 0; v < n; v += 1 + rng() % 3) first.push_back(v);
  first.push_back(n);
  const unsigned int groups = static_cast<unsigned int>(first.size()) - 1;
  std::vector<KAVU_01TBL> parts;
  for (unsigned int j = 0; j < groups; ++j) parts.push_back(random_table(first[j + 1] - first[j], rng));
  const KAVU_01TBL top = random_table(groups, rng);
  KAVU_01TBL t(n);
  for (unsigned int m = 0; m < (1u << n); ++m) {
    unsigned int top_in = 0;
    for (unsigned int j = 0; j < groups; ++j) {
      const unsigned int in = (m >> first[j]) & ((1u << (first[j + 1] - first[j])) - 1);
      top_in |= parts[j].minterm(in) << j;
    }
    if (top.minterm(top_in)) t.set_minterm(m);
  }
  return t;
}

// Input pins to connect the networks to (not in any netlist).
struct PINS {
  explicit PINS(unsigned int n) {
    for (unsigned int i = 0; i < n; ++i) {
      gates.emplace_back(new CDB_SGATE_IO(nullptr, CDB_IO_INPUT));
      fanins.push_back(gates.back()->get_single_oterm());
    }
  }
  std::vector<std::unique_ptr<CDB_SGATE_IO>> gates;
  std::vector<CDB_SGATE_OTERM*> fanins;
};

// range(0): inputs; range(1): 0 plain random, 1 composed; range(2): 0
// k-input builder, 1 structural builder.
void BM_DecomposeInto4Luts(benchmark::State& state) {
  const unsigned int n = static_cast<unsigned int>(state.range(0));
  const bool composed = state.range(1) != 0;
  const bool structural = state.range(2) != 0;
  const unsigned int saved_size = CDB_LUTMASK::max_num_inputs;
  CDB_LUTMASK::max_num_inputs = 4;
  std::mt19937 rng(n * 7 + (composed ? 1 : 0));
  std::vector<KAVU_01TBL> tables;
  for (int i = 0; i < 64; ++i) tables.push_back(composed ? composed_table(n, rng) : random_table(n, rng));
  PINS pins(n);
  long found = 0, luts = 0, runs = 0;
  std::vector<CDB_SGATE_NODE*> nodes;
  for (auto _ : state) {
    const KAVU_01TBL& t = tables[runs++ % tables.size()];
    CDB_SGATE_NODE* root = structural ? t.to_luts(nullptr, pins.fanins, nodes) : t.to_luts(pins.fanins, nullptr, 4, nodes);
    if (root) {
      ++found;
      luts += static_cast<long>(nodes.size());
    }
    delete_synthesized_nodes(nodes);
  }
  CDB_LUTMASK::max_num_inputs = saved_size;
  state.SetItemsProcessed(state.iterations());
  state.counters["found"] = runs ? double(found) / double(runs) : 0.0;
  state.counters["luts"] = found ? double(luts) / double(found) : 0.0;
}

BENCHMARK(BM_DecomposeInto4Luts)
    ->ArgNames({"inputs", "composed", "structural"})
    ->ArgsProduct({{8, 10}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
