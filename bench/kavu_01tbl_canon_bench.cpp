// Canonical form of random functions of 4, 5 and 6 inputs (the sizes the
// function database keys its networks by), and function-database look-ups
// through the canonical form as the peer that adds hashing and a copy.
// Counters: moved_vars, the variables canonical moved per function on
// average; found, the share of look-ups that hit; items per second is
// functions per second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "kavu_01tbl.h"
#include "kavu_01tbl_encnet.h"
#include "kavu_01tbl_fdb.h"

namespace {

constexpr unsigned k_pool = 1024;

// A fixed pool of random tables, so that every run canonicalises the same
// functions.
std::vector<KAVU_01TBL> random_pool(unsigned n) {
  std::mt19937 rng(n * 7919);
  std::vector<KAVU_01TBL> pool;
  for (unsigned i = 0; i < k_pool; ++i) {
    KAVU_01TBL t(n);
    for (unsigned w = 0; w < t.length(); ++w) t.set_word(w, rng());
    if (n < 5) t.set_word(0, t.word(0) & ((1u << (1u << n)) - 1));
    pool.push_back(t);
  }
  return pool;
}

void BM_Canonical(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const std::vector<KAVU_01TBL> pool = random_pool(n);
  std::vector<unsigned> var_map(n);
  std::vector<bool> phase(n);
  KAVU_01TBL t(n);
  size_t i = 0;
  uint64_t moves = 0;
  for (auto _ : state) {
    t = pool[i++ % k_pool];
    benchmark::DoNotOptimize(t.canonical(var_map, phase));
    for (unsigned p = 0; p < n; ++p) moves += var_map[p] != p;
    benchmark::ClobberMemory();
  }
  state.counters["moved_vars"] = benchmark::Counter(double(moves), benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Canonical)->Arg(4)->Arg(5)->Arg(6);

void BM_FdbLookup(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const std::vector<KAVU_01TBL> pool = random_pool(n);
  KAVU_FDB db;
  for (const KAVU_01TBL& f : pool) {
    KAVU_01TBL g(f);
    std::vector<unsigned> var_map;
    std::vector<bool> phase;
    g.canonical(var_map, phase);
    KAVU_ENCNET net(0);
    net.set_num_fanins(n);
    db.deposit(g, net, true);
  }
  std::vector<unsigned> var_map(n);
  std::vector<bool> phase(n);
  bool out = true;
  size_t i = 0;
  size_t found = 0;
  for (auto _ : state) {
    KAVU_01TBL& f = const_cast<KAVU_01TBL&>(pool[i++ % k_pool]);
    found += db.find(&f, &out, var_map, phase) != nullptr;
  }
  state.counters["found"] = benchmark::Counter(double(found), benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FdbLookup)->Arg(6);

}  // namespace

BENCHMARK_MAIN();
