// ztl_hash_sys_bench.cpp — insertion and lookup of 10^7 pointer keys in
// ZTL_HASH_LITE against std::unordered_map, in the same run.
//
// Each iteration inserts every key (pointers to the elements of one array, in
// a fixed shuffled order) into a fresh table and then finds every key in a
// second shuffled order. Counters: nanoseconds per insertion and per lookup,
// and the bytes the light table's node pool took. After the runs the program
// prints the ratio ZTL_HASH_LITE / std::unordered_map for both phases.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "ztl_hash_lite_sys.h"

namespace {

constexpr size_t KEY_COUNT = 10000000;

struct KEYS {
  std::vector<uint64_t> m_objects;
  std::vector<uint64_t*> m_insert_order;
  std::vector<uint64_t*> m_find_order;
};

const KEYS& keys() {
  static const KEYS k = [] {
    KEYS r;
    r.m_objects.resize(KEY_COUNT);
    r.m_insert_order.reserve(KEY_COUNT);
    for (auto& o : r.m_objects) r.m_insert_order.push_back(&o);
    r.m_find_order = r.m_insert_order;
    std::mt19937_64 rng(12345);
    std::shuffle(r.m_insert_order.begin(), r.m_insert_order.end(), rng);
    std::shuffle(r.m_find_order.begin(), r.m_find_order.end(), rng);
    return r;
  }();
  return k;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Uniform access to the two containers.
using LITE = ZTL_HASH_LITE<uint64_t*, uint32_t>;
using STD = std::unordered_map<uint64_t*, uint32_t>;

void insert_one(LITE& t, uint64_t* k, uint32_t v) { t.insert(k, v); }
void insert_one(STD& t, uint64_t* k, uint32_t v) { t.emplace(k, v); }
uint32_t find_one(const LITE& t, uint64_t* k) { return t.find(k)->second; }
uint32_t find_one(const STD& t, uint64_t* k) { return t.find(k)->second; }
double pool_bytes(const LITE& t) {
  return t.node_pool() ? static_cast<double>(t.node_pool()->total_chunk_bytes()) : 0.0;
}
double pool_bytes(const STD&) { return 0.0; }

template <class TABLE>
void BM_InsertFindPointers(benchmark::State& state) {
  const KEYS& k = keys();
  double insert_seconds = 0, find_seconds = 0, bytes = 0;
  uint64_t checksum = 0;
  for (auto _ : state) {
    TABLE t;
    auto start = std::chrono::steady_clock::now();
    for (size_t i = 0; i < KEY_COUNT; ++i) insert_one(t, k.m_insert_order[i], static_cast<uint32_t>(i));
    insert_seconds += seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (uint64_t* key : k.m_find_order) checksum += find_one(t, key);
    find_seconds += seconds_since(start);
    bytes = pool_bytes(t);
    state.PauseTiming();  // freeing the table is not part of either phase
    { TABLE gone(std::move(t)); }
    state.ResumeTiming();
  }
  benchmark::DoNotOptimize(checksum);
  const double ops = static_cast<double>(state.iterations()) * KEY_COUNT;
  state.counters["insert_ns"] = insert_seconds * 1e9 / ops;
  state.counters["find_ns"] = find_seconds * 1e9 / ops;
  if (bytes > 0) state.counters["pool_MB"] = bytes / (1 << 20);
}

BENCHMARK_TEMPLATE(BM_InsertFindPointers, LITE)->Name("ZtlHashLite/10M_pointers")
    ->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_TEMPLATE(BM_InsertFindPointers, STD)->Name("StdUnorderedMap/10M_pointers")
    ->Unit(benchmark::kMillisecond)->Iterations(2);

// Console output (counting the runs that end with an error) plus the
// counters of each run that ended well, for the ratio at the end.
class RATIO_REPORTER : public kavu_bench::FAILURE_COUNTING_REPORTER {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      for (const auto& [name, counter] : r.counters) m_values[r.benchmark_name()][name] = counter.value;
    }
    FAILURE_COUNTING_REPORTER::ReportRuns(runs);
  }
  void print_ratios() const {
    const auto lite = m_values.find("ZtlHashLite/10M_pointers/iterations:2");
    const auto stdm = m_values.find("StdUnorderedMap/10M_pointers/iterations:2");
    if (lite == m_values.end() || stdm == m_values.end()) return;
    for (const char* phase : {"insert_ns", "find_ns"}) {
      const double a = lite->second.at(phase), b = stdm->second.at(phase);
      std::printf("%-10s ZTL_HASH_LITE %.1f ns, std::unordered_map %.1f ns, ratio %.2f\n", phase,
                  a, b, b > 0 ? a / b : 0.0);
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> m_values;
};

}  // namespace

int main(int argc, char** argv) {
  RATIO_REPORTER reporter;
  return kavu_bench::run_benchmarks(argc, argv, reporter, [&reporter] { reporter.print_ratios(); });
}
