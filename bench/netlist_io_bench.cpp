// netlist_io_bench.cpp — figures of the BLIF reader and the database walks.
//
//   BM_LoadLargestBundled   BLIF load of the largest committed circuit
//   BM_LoadGenerated        BLIF load of a generated ~10^6-gate netlist
//                           (make_random_dag, written once to a temporary file)
//   BM_WalkNodesAndFanouts  every gate of the node list and every fan-out
//                           chain of a 10^6-gate netlist: ns per edge
//   BM_SweepAndCollectHalf  sweep and compacting collection after the later
//                           half of a 200k-gate netlist lost its outputs
// The load benchmarks also time `berkeley-abc -c "read FILE; print_stats"` on
// the same file as a subprocess (when installed) and report abc_ms and
// ratio = our load time / abc's time. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

// The generated netlist's BLIF file, written once per process and removed
// when the process ends.
struct GENERATED_FILE {
  std::string m_path;
  GENERATED_FILE() {
    m_path = (std::filesystem::temp_directory_path() / ("kavu_bench_dag1m_" + std::to_string(getpid()) + ".blif")).string();
    std::unique_ptr<CDB_SGATE_NETLIST> n(make_random_dag(1000000, 1));
    std::string why;
    if (!blif_write_file(n.get(), m_path, {}, &why)) std::fprintf(stderr, "%s\n", why.c_str());
  }
  ~GENERATED_FILE() {
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
  }
};

const std::string& generated_file() {
  static GENERATED_FILE file;
  return file.m_path;
}

// Wall time of one abc read of the file, in milliseconds; < 0 without abc.
double abc_read_ms(const std::string& path) {
  if (abc_binary_path().empty()) return -1;
  auto t0 = std::chrono::steady_clock::now();
  std::string out;
  abc_run("read " + path + "; print_stats", &out);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

void load(benchmark::State& state, const std::string& path) {
  uint32_t gates = 0;
  double total_ms = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    BLIF_RESULT r = blif_read_file(path);
    total_ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (!r.netlist) {
      state.SkipWithError(r.error.c_str());
      return;
    }
    gates = r.netlist->size();
    state.PauseTiming();
    release(r);
    state.ResumeTiming();
  }
  state.SetLabel(std::filesystem::path(path).filename().string());
  state.counters["gates"] = gates;
  state.counters["gates_per_s"] = benchmark::Counter(double(gates) * double(state.iterations()), benchmark::Counter::kIsRate);
  double ours = total_ms / double(state.iterations());
  double abc = abc_read_ms(path);
  if (abc > 0) {
    state.counters["abc_ms"] = abc;
    state.counters["ratio"] = ours / abc;
  }
}

void BM_LoadLargestBundled(benchmark::State& state) { load(state, largest_bundled()); }
void BM_LoadGenerated(benchmark::State& state) { load(state, generated_file()); }

void BM_WalkNodesAndFanouts(benchmark::State& state) {
  std::unique_ptr<CDB_SGATE_NETLIST> n(make_random_dag(1000000, 2));
  uint64_t edges = 0;
  double total_ns = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    edges = 0;
    uintptr_t sink = 0;
    for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g) continue;
      for (unsigned k = 0; k < g->get_output_count(); ++k) {
        const CDB_SGATE_OTERM* o = g->get_output_term(k);
        if (!o) continue;
        for (CDB_SGATE_ITERM* t : o->fanouts()) {
          sink ^= reinterpret_cast<uintptr_t>(t->get_my_node());
          ++edges;
        }
      }
    }
    benchmark::DoNotOptimize(sink);
    total_ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
  }
  state.counters["edges"] = double(edges);
  state.counters["ns_per_edge"] = total_ns / (double(edges) * double(state.iterations()));
}

void BM_SweepAndCollectHalf(benchmark::State& state) {
  int64_t removed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CDB_SGATE_NETLIST> n(make_random_dag(200000, 3));
    // Gates only read recent gates, so the later half of the gates feeds
    // nothing but itself and the outputs: cutting those outputs kills it.
    unsigned first = UINT32_MAX;
    for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it)
      if (*it && !(*it)->is_pin()) first = std::min(first, (*it)->get_debug_number());
    for (CDB_SGATE_IO* out : n->get_output_pins()) {
      CDB_SGATE_ITERM* t = out->get_input_term(0);
      if (t->get_source()->get_my_node()->get_debug_number() >= first + 100000) t->disconnect_from_source();
    }
    uint32_t before = n->size();
    state.ResumeTiming();
    n->sweep(false);
    n->garbage_collect(true, false);
    state.PauseTiming();
    removed = int64_t(before) - int64_t(n->size());
    n.reset();
    state.ResumeTiming();
  }
  state.counters["gates_removed"] = double(removed);
  state.counters["removed_per_s"] = benchmark::Counter(double(removed) * double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_LoadLargestBundled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadGenerated)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WalkNodesAndFanouts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SweepAndCollectHalf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
