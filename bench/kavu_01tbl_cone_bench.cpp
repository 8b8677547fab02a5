// Cone simulation throughput: the table of one 6-input cone per gate of
// epfl/sin, the cut grown greedily from the gate's fan-ins (a leaf is
// replaced by its gate's sources while the cut stays within six), simulated
// with the cone found by the library's own walk. Reports the number of cuts
// and tables per second, for the circuit read as LUTs and as AND/OR/NOT
// gates.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_01tbl_cone.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

bool expandable(const CDB_SGATE_NODE* gate) {
  const CDB_SGATE_TYPE t = gate->get_sgate_type();
  return t == CDB_SGATE_COMB_ENUM || t == CDB_SGATE_LUT_ENUM || t == CDB_SGATE_MUX_ENUM;
}

std::vector<CDB_SGATE_OTERM*> grow_cut(CDB_SGATE_OTERM* root, unsigned k) {
  std::vector<CDB_SGATE_OTERM*> leaves;
  add_fanin_sources(root->get_my_node(), leaves);
  bool grown = leaves.size() <= k;
  while (grown) {
    grown = false;
    for (size_t i = 0; i < leaves.size() && !grown; ++i) {
      if (!expandable(leaves[i]->get_my_node())) continue;
      std::vector<CDB_SGATE_OTERM*> next = leaves;
      next.erase(next.begin() + long(i));
      add_fanin_sources(leaves[i]->get_my_node(), next);
      if (next.size() <= k) {
        leaves = next;
        grown = true;
      }
    }
  }
  return leaves;
}

struct CUT {
  CDB_SGATE_OTERM* m_root;
  std::vector<CDB_SGATE_OTERM*> m_leaves;
};

void bench_sin(benchmark::State& state, BLIF_READ_OPTIONS::NAMES_MAP names) {
  BLIF_READ_OPTIONS options;
  options.names = names;
  BLIF_RESULT loaded = blif_read_file(bundled_circuit("epfl/sin"), options);
  if (!loaded.netlist) {
    state.SkipWithError(loaded.error.c_str());
    return;
  }
  std::vector<CUT> cuts;
  for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it) {
    if (!*it || !expandable(*it)) continue;
    CDB_SGATE_OTERM* root = (*it)->get_single_oterm();
    std::vector<CDB_SGATE_OTERM*> leaves = grow_cut(root, 6);
    if (leaves.size() == 6) cuts.push_back({root, leaves});
  }
  long tables = 0;
  for (auto _ : state) {
    for (CUT& cut : cuts) {
      KAVU_01TBL tbl = kavu_cone_01tbl(cut.m_root, cut.m_leaves, nullptr);
      benchmark::DoNotOptimize(tbl.word(0));
      ++tables;
    }
  }
  state.counters["cuts"] = double(cuts.size());
  state.counters["tables_per_s"] = benchmark::Counter(double(tables), benchmark::Counter::kIsRate);
  release(loaded);
}

void BM_ConeTablesSinLuts(benchmark::State& state) { bench_sin(state, BLIF_READ_OPTIONS::AUTO_LUT); }
void BM_ConeTablesSinCombGates(benchmark::State& state) { bench_sin(state, BLIF_READ_OPTIONS::ALL_COMB); }

}  // namespace

BENCHMARK(BM_ConeTablesSinLuts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConeTablesSinCombGates)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
