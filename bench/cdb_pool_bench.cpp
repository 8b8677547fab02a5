// The cell pool's allocation and release cost (cdb_sgate_pool.h): cells of
// the sizes gates and terminals take, made and released in batches as a
// netlist is built and destroyed, and gates taken with their partner
// terminal cell. Each run checks its own result: every cell made is
// released (the thread's balance is back where it started) and the cells of
// a batch are distinct and 8-byte aligned, so a faster pool that hands out a
// cell twice fails rather than wins.
//
// A random DAG made and destroyed shows the same cost within a netlist's
// own work.
//
// Run: build/bench/cdb_pool_bench --benchmark_repetitions=5
//        --benchmark_report_aggregates_only=true
// Compare items_per_second with another build's run of the same program.
// The rows named Fixed do the same work a fixed number of times, so that
// instruction counts compare between builds, whatever the machine's load:
//   valgrind --tool=callgrind --toggle-collect='kavu_platform::cdb_pool_*'
//     build/bench/cdb_pool_bench --benchmark_filter=Fixed
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_pool.h"
#include "netlist_io/generators.h"

using namespace kavu_platform;

namespace {

constexpr size_t kBatch = 4096;

// Distinct, aligned cells; false otherwise.
bool sound(std::vector<void*> cells) {
  std::sort(cells.begin(), cells.end());
  if (std::adjacent_find(cells.begin(), cells.end()) != cells.end()) return false;
  return std::all_of(cells.begin(), cells.end(),
                     [](void* p) { return p && reinterpret_cast<uintptr_t>(p) % 8 == 0; });
}

// A batch of cells of one size made, then released in reverse order.
void BM_PoolAllocateRelease(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0));
  std::vector<void*> cells(kBatch);
  const int64_t balance = cdb_pool_thread_balance();
  for (auto _ : state) {
    for (size_t i = 0; i < kBatch; ++i) cells[i] = cdb_pool_allocate(bytes);
    benchmark::ClobberMemory();
    for (size_t i = kBatch; i-- > 0;) cdb_pool_release(cells[i], bytes);
  }
  for (size_t i = 0; i < kBatch; ++i) cells[i] = cdb_pool_allocate(bytes);
  const bool ok = sound(cells);
  for (void* p : cells) cdb_pool_release(p, bytes);
  if (!ok || cdb_pool_thread_balance() != balance) state.SkipWithError("cells lost or handed out twice");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBatch) * 2);
}
BENCHMARK(BM_PoolAllocateRelease)->Arg(48)->Arg(96)->Arg(200);
BENCHMARK(BM_PoolAllocateRelease)->Name("BM_PoolAllocateRelease/Fixed")->Arg(96)->Iterations(100);

// Gates with their first output terminal, as a netlist builds them: the
// gate with its partner cell, then the terminal from the waiting partner;
// released terminal first, then gate, so the two come back as a pair.
void BM_PoolGatePairs(benchmark::State& state) {
  constexpr size_t kGate = 160, kTerm = 64;
  std::vector<void*> gates(kBatch), terms(kBatch);
  const int64_t balance = cdb_pool_thread_balance();
  for (auto _ : state) {
    for (size_t i = 0; i < kBatch; ++i) {
      gates[i] = cdb_pool_allocate_with_partner(kGate, kTerm);
      terms[i] = cdb_pool_allocate_partner(kTerm);
    }
    benchmark::ClobberMemory();
    for (size_t i = kBatch; i-- > 0;) {
      cdb_pool_release(terms[i], kTerm);
      cdb_pool_release_with_partner(gates[i], kGate, kTerm);
    }
  }
  std::vector<void*> all;
  for (size_t i = 0; i < kBatch; ++i) {
    all.push_back(cdb_pool_allocate_with_partner(kGate, kTerm));
    all.push_back(cdb_pool_allocate_partner(kTerm));
  }
  const bool ok = sound(all);
  for (size_t i = kBatch; i-- > 0;) {
    cdb_pool_release(all[2 * i + 1], kTerm);
    cdb_pool_release_with_partner(all[2 * i], kGate, kTerm);
  }
  if (!ok || cdb_pool_thread_balance() != balance) state.SkipWithError("cells lost or handed out twice");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kBatch) * 4);
}
BENCHMARK(BM_PoolGatePairs);
BENCHMARK(BM_PoolGatePairs)->Name("BM_PoolGatePairs/Fixed")->Iterations(100);

// A random DAG of 20,000 two-input gates made and destroyed: every gate and
// terminal through the pool, with the work of building the netlist around
// it. The gate count is checked.
void BM_PoolRandomDagMadeAndDestroyed(benchmark::State& state) {
  const int64_t balance = cdb_pool_thread_balance();
  int64_t gates = 0;
  for (auto _ : state) {
    CDB_SGATE_NETLIST* nl = make_random_dag(20000, 7);
    gates = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) gates += *it ? 1 : 0;
    delete nl;
  }
  if (gates < 20000 || cdb_pool_thread_balance() != balance) state.SkipWithError("gates lost or cells left");
  state.counters["gates"] = double(gates);
  state.SetItemsProcessed(int64_t(state.iterations()) * gates);
}
BENCHMARK(BM_PoolRandomDagMadeAndDestroyed)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
