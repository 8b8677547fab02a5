// Truth-table operations at 6, 10 and 16 variables: cofactor, exchange of
// neighbouring variables and the dependence test, each for a variable inside
// a word (x2), at the word boundary (x4, whose exchange pairs words) and
// across words (the top variable). At six inputs the LUT mask of the netlist
// database runs the same cofactor and dependence test as a peer.
// Counter: words, the table's word count (the work of one operation).
#include <benchmark/benchmark.h>

#include <random>

#include "cdb/cdb_lutmask.h"
#include "kavu_01tbl.h"

namespace {

KAVU_01TBL random_table(unsigned n) {
  std::mt19937 rng(n);
  KAVU_01TBL t(n);
  for (unsigned i = 0; i < t.length(); ++i) t.set_word(i, rng());
  return t;
}

// The variable the benchmark argument names: 0 inside a word, 1 at the
// word boundary, 2 the top variable.
unsigned pick_var(unsigned n, int64_t where) {
  if (where == 0) return 2;
  if (where == 1) return 4;
  return n - 1;
}

void set_counters(benchmark::State& state, const KAVU_01TBL& t) {
  state.counters["words"] = t.length();
  state.SetItemsProcessed(state.iterations());
}

void BM_Cofactor(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const unsigned var = pick_var(n, state.range(1));
  const KAVU_01TBL source = random_table(n);
  KAVU_01TBL t(source);
  bool value = false;
  for (auto _ : state) {
    // Each cofactor does the same work whatever the data, so the table is
    // not restored between rounds.
    t.cofactor_on(var, value);
    value = !value;
    benchmark::DoNotOptimize(t.word(0));
  }
  set_counters(state, t);
}

void BM_Exchange(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const unsigned var = std::min(pick_var(n, state.range(1)), n - 2);
  KAVU_01TBL t = random_table(n);
  for (auto _ : state) {
    t.exchange(var);
    benchmark::DoNotOptimize(t.word(0));
  }
  set_counters(state, t);
}

void BM_IsDependent(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const unsigned var = pick_var(n, state.range(1));
  // Worst case: independent of var, so every word pair is compared.
  KAVU_01TBL t = random_table(n);
  t.cofactor_on(var, false);
  for (auto _ : state) benchmark::DoNotOptimize(t.is_dependent(var));
  set_counters(state, t);
}

void BM_LutmaskCofactorPeer(benchmark::State& state) {
  const unsigned var = pick_var(6, state.range(1));
  CDB_LUTMASK mask = random_table(6).make_lutmask();
  for (auto _ : state) {
    mask.make_independent_of(var);
    benchmark::DoNotOptimize(mask.get_value());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_LutmaskIsDependentPeer(benchmark::State& state) {
  const unsigned var = pick_var(6, state.range(1));
  KAVU_01TBL t = random_table(6);
  t.cofactor_on(var, false);
  const CDB_LUTMASK mask = t.make_lutmask();
  for (auto _ : state) benchmark::DoNotOptimize(mask.is_independent_of(var));
  state.SetItemsProcessed(state.iterations());
}

void table_sizes(benchmark::internal::Benchmark* b) {
  b->ArgNames({"vars", "where"});
  for (int64_t n : {6, 10, 16})
    for (int64_t where : {0, 1, 2}) b->Args({n, where});
}

void lut_size(benchmark::internal::Benchmark* b) {
  b->ArgNames({"vars", "where"});
  for (int64_t where : {0, 1, 2}) b->Args({6, where});
}

}  // namespace

BENCHMARK(BM_Cofactor)->Apply(table_sizes);
BENCHMARK(BM_LutmaskCofactorPeer)->Apply(lut_size);
BENCHMARK(BM_Exchange)->Apply(table_sizes);
BENCHMARK(BM_IsDependent)->Apply(table_sizes);
BENCHMARK(BM_LutmaskIsDependentPeer)->Apply(lut_size);

BENCHMARK_MAIN();
