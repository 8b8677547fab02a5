// Canonical form of random functions of 4, 5 and 6 inputs (the sizes the
// function database keys its networks by), and function-database look-ups
// through the canonical form. Peers in the same run:
//   BM_AbcSemiCanonical/n  `berkeley-abc -c "testnpn -A 2 FILE"` (its
//                          semi-canonical form by counting ones in
//                          cofactors, the closest to ours) over 2^20 random
//                          functions of n inputs; the time per iteration is
//                          abc's own figure for the canonicalisation divided
//                          by the function count (reading the file
//                          excluded), so it compares with BM_Canonical's
//                          time per function; whole_ms is the whole process
//   BM_StdMapLookup/6      the look-up through the same canonical form into a
//                          std::unordered_map keyed by the table's words
// After the runs the program prints the ratios ours / peer.
// Counters: moved_vars, the variables canonical moved per function on
// average; found, the share of look-ups that hit; items per second is
// functions per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_support.h"

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

// The table's words as one key (n <= 6).
uint64_t table_key(const KAVU_01TBL& t) {
  return t.length() > 1 ? (uint64_t(t.word(1)) << 32) | t.word(0) : t.word(0);
}

void BM_StdMapLookup(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const std::vector<KAVU_01TBL> pool = random_pool(n);
  std::vector<unsigned> var_map(n);
  std::vector<bool> phase(n);
  std::unordered_map<uint64_t, size_t> db;
  for (size_t i = 0; i < pool.size(); ++i) {
    KAVU_01TBL g(pool[i]);
    g.canonical(var_map, phase);
    db.emplace(table_key(g), i);
  }
  KAVU_01TBL g(n);
  size_t i = 0;
  size_t found = 0;
  for (auto _ : state) {
    g = pool[i++ % k_pool];
    g.canonical(var_map, phase);
    found += db.find(table_key(g)) != db.end();
  }
  state.counters["found"] = benchmark::Counter(double(found), benchmark::Counter::kAvgIterations);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StdMapLookup)->Arg(6);

constexpr unsigned k_abc_functions = 1u << 20;

// Writes k_abc_functions random tables of n inputs in hexadecimal, one per
// line, the highest minterm first.
bool write_hex_tables(const std::string& path, unsigned n) {
  std::mt19937_64 rng(n * 7919);
  const unsigned digits = (1u << n) / 4;
  const uint64_t mask = n == 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1;
  std::ofstream out(path);
  char line[24];
  for (unsigned i = 0; i < k_abc_functions; ++i) {
    std::snprintf(line, sizeof line, "%0*llx\n", int(digits), static_cast<unsigned long long>(rng() & mask));
    out << line;
  }
  return bool(out);
}

// abc's own figure: "... Time = 0.20 sec"; < 0 when absent.
double abc_reported_seconds(const std::string& output) {
  const size_t at = output.rfind("Time =");
  return at == std::string::npos ? -1 : std::strtod(output.c_str() + at + 6, nullptr);
}

void BM_AbcSemiCanonical(benchmark::State& state) {
  const unsigned n = unsigned(state.range(0));
  const std::string abc = kavu_bench::find_program("berkeley-abc");
  kavu_bench::TEMP_DIR dir;
  if (abc.empty() || dir.path().empty()) {
    state.SkipWithError(kavu_bench::peer_not_installed("berkeley-abc").c_str());
    return;
  }
  const std::string file = dir.file("tables.txt");
  if (!write_hex_tables(file, n)) {
    state.SkipWithError("cannot write the tables");
    return;
  }
  std::vector<double> whole;
  for (auto _ : state) {
    const kavu_bench::PROCESS_FIGURES f = kavu_bench::run_peer({abc, "-c", "testnpn -A 2 " + file}, dir.path());
    const double seconds = abc_reported_seconds(f.output);
    if (f.status != 0 || seconds < 0) {
      state.SkipWithError(kavu_bench::failure("berkeley-abc", f).c_str());
      return;
    }
    // One iteration stands for one function, as in BM_Canonical.
    state.SetIterationTime(seconds / k_abc_functions);
    whole.push_back(f.wall_s);
  }
  state.counters["whole_ms"] = kavu_bench::median(whole) * 1e3;
  state.counters["functions"] = k_abc_functions;
}
BENCHMARK(BM_AbcSemiCanonical)->Arg(4)->Arg(5)->Arg(6)->UseManualTime()->Iterations(3);

const kavu_bench::PEER_PAIR PEERS[] = {{"BM_Canonical", "BM_AbcSemiCanonical"},
                                      {"BM_FdbLookup", "BM_StdMapLookup"}};

}  // namespace

int main(int argc, char** argv) { return kavu_bench::bench_main(argc, argv, {}, PEERS); }
