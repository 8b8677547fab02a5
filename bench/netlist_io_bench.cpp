// netlist_io_bench.cpp — figures of the BLIF reader and the database walks.
//
//   BM_LoadLargestBundled   BLIF load of the largest committed circuit that
//                           berkeley-abc reads (the largest when abc is absent)
//   BM_LoadGenerated        BLIF load of a generated ~10^6-gate netlist
//                           (make_random_dag, written once to a temporary file)
//   BM_WalkNodesAndFanouts  every gate of the node list and every fan-out
//                           chain's reader gates (fanout_nodes) of a
//                           10^6-gate netlist: ns per edge
//   BM_SweepAndCollectHalf  sweep and compacting collection after the later
//                           half of a 200k-gate netlist lost its outputs
// Peers in the same run:
//   the load benchmarks time `berkeley-abc -c "read FILE; print_stats"` on
//   the same file as a whole process in a temporary directory (when
//   installed), the median of three less an empty abc start, and report
//   abc_ms and ratio = our load time / abc's time. abc answers a file it
//   cannot read (a model it does not know) with a message and status 0, so
//   its output is checked: the largest bundled circuit is the largest abc
//   reads, and an abc run that fails, refuses the file timed or prints no
//   node count fails the row and the program;
//   BM_PlainWalk            the same edges walked in two plain vectors
//                           (offsets and targets, gates in node-list order)
//   BM_PlainSweep           the same sweep on a plain copy of the graph: mark
//                           what reaches a pin backwards with an explicit
//                           stack, then compact the vectors
// After the runs the program prints the ratios ours / plain. Figures only;
// nothing is asserted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <unistd.h>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
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

// abc read the file when it printed the netlist's node count ("nd =").
bool abc_read_it(const std::string& output) { return !abc_refused(output) && printed_figure(output, "nd ="); }

// Wall time of an abc read of the file as a whole process in a temporary
// directory, less an empty start, in milliseconds (the median of three);
// < 0 without abc, or with the benchmark's error when abc fails or refuses
// the file.
double abc_read_ms(benchmark::State& state, const std::string& path) {
  const std::string abc = find_program("berkeley-abc");
  PEER_FIGURES f;
  if (!peer_figures(state, "berkeley-abc", {abc, "-c", "read " + path + "; print_stats"}, f, abc_read_it,
                    {abc, "-c", ""}, 3))
    return -1;
  return f.seconds * 1e3;
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
  const double abc = abc_read_ms(state, path);
  if (abc > 0) {
    state.counters["abc_ms"] = abc;
    state.counters["ratio"] = ours / abc;
  }
}

// The largest bundled circuit abc reads (abc refuses a file whose models it
// does not know: such a file is passed over); the largest of all without
// abc; "" with the benchmark's error when abc fails, or neither refuses a
// file nor prints its node count, or refuses them all.
std::string largest_bundled_abc_reads(benchmark::State& state) {
  const std::string abc = find_program("berkeley-abc");
  if (abc.empty()) return largest_bundled();
  TEMP_DIR dir;
  if (dir.path().empty()) {
    state.SkipWithError("cannot make a temporary directory");
    return std::string();
  }
  std::vector<std::pair<uintmax_t, std::string>> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(KAVU_TEST_DATA_DIR "/blif"))
    if (e.path().extension() == ".blif") files.emplace_back(e.file_size(), e.path().string());
  std::sort(files.rbegin(), files.rend());
  PROCESS_FIGURES last;
  for (const auto& [size, path] : files) {
    const PROCESS_FIGURES f = run_peer({abc, "-c", "read " + path + "; print_stats"}, dir.path());
    if (abc_read_it(f.output) && f.status == 0) return path;
    if (f.status != 0 || !abc_refused(f.output)) {
      state.SkipWithError(failure("berkeley-abc", f, f.status == 0 ? NO_PEER_FIGURE : nullptr).c_str());
      return std::string();
    }
    last = f;
  }
  state.SkipWithError(failure("berkeley-abc", last, "read none of the bundled circuits").c_str());
  return std::string();
}

void BM_LoadLargestBundled(benchmark::State& state) {
  const std::string path = largest_bundled_abc_reads(state);
  if (!path.empty()) load(state, path);
}
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
        for (CDB_SGATE_NODE* reader : o->fanout_nodes()) {
          sink ^= reinterpret_cast<uintptr_t>(reader);
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

// Gates only read recent gates, so the later half of the gates feeds nothing
// but itself and the outputs: cutting those outputs kills it.
void cut_later_half(CDB_SGATE_NETLIST* n) {
  unsigned first = UINT32_MAX;
  for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it)
    if (*it && !(*it)->is_pin()) first = std::min(first, (*it)->get_debug_number());
  for (CDB_SGATE_IO* out : n->get_output_pins()) {
    CDB_SGATE_ITERM* t = out->get_input_term(0);
    if (t->get_source()->get_my_node()->get_debug_number() >= first + 100000) t->disconnect_from_source();
  }
}

void BM_SweepAndCollectHalf(benchmark::State& state) {
  int64_t removed = 0;
  double sweep_ms = 0, collect_ms = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CDB_SGATE_NETLIST> n(make_random_dag(200000, 3));
    cut_later_half(n.get());
    uint32_t before = n->size();
    state.ResumeTiming();
    const auto t0 = std::chrono::steady_clock::now();
    n->sweep(false);
    const auto t1 = std::chrono::steady_clock::now();
    n->garbage_collect(true, false);
    const auto t2 = std::chrono::steady_clock::now();
    sweep_ms += std::chrono::duration<double, std::milli>(t1 - t0).count();
    collect_ms += std::chrono::duration<double, std::milli>(t2 - t1).count();
    state.PauseTiming();
    removed = int64_t(before) - int64_t(n->size());
    n.reset();
    state.ResumeTiming();
  }
  state.counters["gates_removed"] = double(removed);
  state.counters["removed_per_s"] = benchmark::Counter(double(removed) * double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["sweep_ms"] = sweep_ms / double(state.iterations());
  state.counters["collect_ms"] = collect_ms / double(state.iterations());
}

// A netlist's connections in plain vectors: gates numbered in node-list
// order, the sources of gate g at m_targets[m_offsets[g] .. m_offsets[g+1])
// (fan-ins) or its readers there (fan-outs).
struct PLAIN_GRAPH {
  std::vector<uint32_t> m_offsets;
  std::vector<uint32_t> m_targets;
  std::vector<uint8_t> m_is_pin;

  PLAIN_GRAPH(const CDB_SGATE_NETLIST* n, bool fanouts) {
    std::unordered_map<const CDB_SGATE_NODE*, uint32_t> index;
    std::vector<const CDB_SGATE_NODE*> gates;
    for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it)
      if (*it) index.emplace(*it, uint32_t(gates.size())), gates.push_back(*it);
    m_offsets.push_back(0);
    for (const CDB_SGATE_NODE* g : gates) {
      m_is_pin.push_back(g->is_pin());
      if (fanouts) {
        for (unsigned k = 0; k < g->get_output_count(); ++k)
          if (const CDB_SGATE_OTERM* o = g->get_output_term(k))
            for (CDB_SGATE_ITERM* t : o->fanouts()) m_targets.push_back(index.at(t->get_my_node()));
      } else {
        for (unsigned k = 0; k < g->get_number_of_input_terms(); ++k)
          if (const CDB_SGATE_OTERM* src = g->get_fanin_term(k)) m_targets.push_back(index.at(src->get_my_node()));
      }
      m_offsets.push_back(uint32_t(m_targets.size()));
    }
  }
  uint32_t size() const { return uint32_t(m_offsets.size() - 1); }

  // Keeps the gates that reach a pin through fan-ins (pins included) and
  // renumbers them densely; returns how many went.
  uint32_t sweep(std::vector<uint32_t>& stack, std::vector<uint32_t>& new_index) {
    const uint32_t n = size();
    new_index.assign(n, UINT32_MAX);
    stack.clear();
    for (uint32_t g = 0; g < n; ++g)
      if (m_is_pin[g]) new_index[g] = 0, stack.push_back(g);
    while (!stack.empty()) {
      const uint32_t g = stack.back();
      stack.pop_back();
      for (uint32_t e = m_offsets[g]; e < m_offsets[g + 1]; ++e)
        if (new_index[m_targets[e]] == UINT32_MAX) new_index[m_targets[e]] = 0, stack.push_back(m_targets[e]);
    }
    uint32_t kept = 0;
    for (uint32_t g = 0; g < n; ++g)
      if (new_index[g] != UINT32_MAX) new_index[g] = kept++;
    uint32_t edges = 0;
    for (uint32_t g = 0; g < n; ++g) {
      if (new_index[g] == UINT32_MAX) continue;
      const uint32_t first = m_offsets[g], last = m_offsets[g + 1];
      m_offsets[new_index[g]] = edges;
      m_is_pin[new_index[g]] = m_is_pin[g];
      for (uint32_t e = first; e < last; ++e) m_targets[edges++] = new_index[m_targets[e]];
    }
    m_offsets[kept] = edges;
    m_offsets.resize(kept + 1);
    m_is_pin.resize(kept);
    m_targets.resize(edges);
    return n - kept;
  }
};

void BM_PlainWalk(benchmark::State& state) {
  PLAIN_GRAPH graph(std::unique_ptr<CDB_SGATE_NETLIST>(make_random_dag(1000000, 2)).get(), true);
  uint64_t edges = 0;
  for (auto _ : state) {
    edges = 0;
    uintptr_t sink = 0;
    for (uint32_t g = 0; g < graph.size(); ++g) {
      for (uint32_t e = graph.m_offsets[g]; e < graph.m_offsets[g + 1]; ++e) {
        sink ^= graph.m_targets[e];
        ++edges;
      }
    }
    benchmark::DoNotOptimize(sink);
  }
  state.counters["edges"] = double(edges);
}

void BM_PlainSweep(benchmark::State& state) {
  int64_t removed = 0;
  std::vector<uint32_t> stack, new_index;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CDB_SGATE_NETLIST> n(make_random_dag(200000, 3));
    cut_later_half(n.get());
    PLAIN_GRAPH graph(n.get(), false);
    n.reset();
    state.ResumeTiming();
    removed = graph.sweep(stack, new_index);
  }
  state.counters["gates_removed"] = double(removed);
  state.counters["removed_per_s"] =
      benchmark::Counter(double(removed) * double(state.iterations()), benchmark::Counter::kIsRate);
}

const PEER_PAIR PEERS[] = {{"BM_WalkNodesAndFanouts", "BM_PlainWalk"},
                           {"BM_SweepAndCollectHalf", "BM_PlainSweep"}};

}  // namespace

BENCHMARK(BM_LoadLargestBundled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadGenerated)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WalkNodesAndFanouts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWalk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SweepAndCollectHalf)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainSweep)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
