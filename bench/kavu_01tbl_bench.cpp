// Truth-table operations at 6, 10 and 16 variables: cofactor, exchange of
// neighbouring variables and the dependence test, each for a variable inside
// a word (x2), at the word boundary (x4, whose exchange pairs words) and
// across words (the top variable). Peers in the same run: a naive table of
// one byte per minterm running the same three operations minterm by minterm
// at every size, and at six inputs the LUT mask of the netlist database
// running the same cofactor and dependence test. After the runs the program
// prints the ratios ours / peer per operation and size.
// Counter: words, the table's word count (the work of one operation).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "bench_support.h"

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

// The naive peer: one byte per minterm, every operation a loop over all
// minterms.
struct NAIVE_TABLE {
  std::vector<uint8_t> m_bits;

  explicit NAIVE_TABLE(const KAVU_01TBL& t) : m_bits(size_t(1) << t.num_vars()) {
    for (size_t m = 0; m < m_bits.size(); ++m) m_bits[m] = t.minterm(unsigned(m));
  }
  void cofactor_on(unsigned var, bool value) {
    const size_t bit = size_t(1) << var;
    for (size_t m = 0; m < m_bits.size(); ++m) m_bits[m] = m_bits[value ? m | bit : m & ~bit];
  }
  void exchange(unsigned var) {
    const size_t low = size_t(1) << var, both = low * 3;
    for (size_t m = 0; m < m_bits.size(); ++m)
      if ((m & both) == low) std::swap(m_bits[m], m_bits[m ^ both]);
  }
  bool is_dependent(unsigned var) const {
    const size_t bit = size_t(1) << var;
    for (size_t m = 0; m < m_bits.size(); ++m)
      if (!(m & bit) && m_bits[m] != m_bits[m | bit]) return true;
    return false;
  }
};

void BM_NaiveCofactor(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const unsigned var = pick_var(n, state.range(1));
  NAIVE_TABLE t(random_table(n));
  bool value = false;
  for (auto _ : state) {
    t.cofactor_on(var, value);
    value = !value;
    benchmark::DoNotOptimize(t.m_bits.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_NaiveExchange(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const unsigned var = std::min(pick_var(n, state.range(1)), n - 2);
  NAIVE_TABLE t(random_table(n));
  for (auto _ : state) {
    t.exchange(var);
    benchmark::DoNotOptimize(t.m_bits.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_NaiveIsDependent(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const unsigned var = pick_var(n, state.range(1));
  KAVU_01TBL source = random_table(n);
  source.cofactor_on(var, false);
  const NAIVE_TABLE t(source);
  for (auto _ : state) benchmark::DoNotOptimize(t.is_dependent(var));
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

const kavu_bench::PEER_PAIR PEERS[] = {{"BM_Cofactor", "BM_NaiveCofactor"},
                                      {"BM_Cofactor", "BM_LutmaskCofactorPeer"},
                                      {"BM_Exchange", "BM_NaiveExchange"},
                                      {"BM_IsDependent", "BM_NaiveIsDependent"},
                                      {"BM_IsDependent", "BM_LutmaskIsDependentPeer"}};

}  // namespace

BENCHMARK(BM_Cofactor)->Apply(table_sizes);
BENCHMARK(BM_NaiveCofactor)->Apply(table_sizes);
BENCHMARK(BM_LutmaskCofactorPeer)->Apply(lut_size);
BENCHMARK(BM_Exchange)->Apply(table_sizes);
BENCHMARK(BM_NaiveExchange)->Apply(table_sizes);
BENCHMARK(BM_IsDependent)->Apply(table_sizes);
BENCHMARK(BM_NaiveIsDependent)->Apply(table_sizes);
BENCHMARK(BM_LutmaskIsDependentPeer)->Apply(lut_size);

int main(int argc, char** argv) { return kavu_bench::bench_main(argc, argv, {}, PEERS); }
