// Parallel synthesis end to end on a generated design of about a million
// gates (a 400-stage, 400-bit registered adder pipeline) in 8 partitions:
// archive write, the velmora_map helpers (1, 2, 4, 8 of them, fed over
// named pipes) and the read-back with the merge. Partitioning and the split
// are not timed. Counters: the seconds of each step per iteration and the
// archive bytes per gate. The peer is the same run with one helper: the
// ratio table gives the time against one helper (speedup = 1 / ratio).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_setup.h"
#include "netlist_io/generators.h"
#include "testkit/platform_test_hooks.h"

using namespace kavu_bench;

namespace {

CDB_SGATE_NETLIST* design() {
  static std::unique_ptr<CDB_SGATE_NETLIST> d;
  if (!d) {
    d.reset(kavu_platform::make_pipeline(400, 400));
    d->sweep(false);
  }
  return d.get();
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

void run(benchmark::State& state, int helpers) {
  const std::string exe = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  const std::string tools = exe + "/../tools";
  const std::string dir = std::filesystem::temp_directory_path().string() + "/kavu_parallel_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  kavu_platform::gen_set_db_dir_path(dir);
  kavu_platform::cfg_set_value("helper_binary_dir", tools.c_str());
  kavu_platform::cfg_set_value("put_max_threads", std::to_string(helpers).c_str());
  kavu_parallel_force_named_pipes(1);
  CMP_FACADE facade;
  facade.set_project_name("bench");
  facade.set_revision_name("bench");
  auto* m = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  m->create_removed_reg_db("main", 5000, 5000);
  m->set_current_removed_reg_db("main");
  const int saved_min = kavu_min_netlist_size;
  kavu_min_netlist_size = 0;
  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("num_partitions", 8);
  params.set_param("max_num_partitions", 8);
  CDB_SGATE_NETLIST* golden = design();
  const double gates = double(golden->size());
  double write_s = 0, helper_s = 0, merge_s = 0, bytes = 0;
  bool ok = true;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CDB_SGATE_NETLIST> nl(golden->clone(nullptr, true, false));
    golden->clear_temp_pointers();
    g_partition_id = 0;
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(nl.get(), nullptr, params, false);
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), nullptr, nullptr, b, false);
    const int n = int(parts.size());
    state.ResumeTiming();
    auto t = std::chrono::steady_clock::now();
    ok &= kavu_parallel_serialize(&facade, "map", 1, nullptr, parts);
    write_s += seconds_since(t);
    state.PauseTiming();
    for (int k = 0; k < n; ++k) {
      struct stat st;
      if (stat((kavu_parallel_archive_name("bench", "map", k) + ".cdb").c_str(), &st) == 0) bytes += double(st.st_size);
    }
    state.ResumeTiming();
    t = std::chrono::steady_clock::now();
    ok &= kavu_parallel_run_partitions_in_processes(&facade, "map", "1", n);
    helper_s += seconds_since(t);
    t = std::chrono::steady_clock::now();
    ok &= kavu_parallel_deserialize(&facade, "map", 1, nullptr, parts, n);
    kavu_merge_netlists(parts, nl.get(), nullptr, b);
    merge_s += seconds_since(t);
    state.PauseTiming();
    nl.reset();
    state.ResumeTiming();
  }
  if (!ok) state.SkipWithError("a parallel run failed");
  const double iters = double(state.iterations());
  state.counters["write_s"] = write_s / iters;
  state.counters["helpers_s"] = helper_s / iters;
  state.counters["merge_s"] = merge_s / iters;
  state.counters["archive_bytes_per_gate"] = bytes / iters / gates;
  state.SetLabel(std::to_string(int(gates)) + " gates, 8 partitions");
  kavu_min_netlist_size = saved_min;
  kavu_parallel_force_named_pipes(-1);
  std::filesystem::remove_all(dir);
}

void BM_Parallel(benchmark::State& state) { run(state, int(state.range(0))); }
void BM_OneHelper(benchmark::State& state) { run(state, 1); }

const PEER_PAIR PAIRS[] = {{"BM_Parallel", "BM_OneHelper", "helpers"}};

}  // namespace

BENCHMARK(BM_Parallel)->ArgName("helpers")->Arg(2)->Arg(4)->Arg(8)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_OneHelper)->Iterations(2)->Unit(benchmark::kSecond)->UseRealTime();

// ---- split and merge alone: a design of about 200k gates (a 180-stage,
// 180-bit registered adder pipeline) into 32 partitions and straight back,
// with no synthesis in between. Partitioning is not timed. Counter: the
// time per gate of one split and merge.
namespace {

CDB_SGATE_NETLIST* design_200k() {
  static std::unique_ptr<CDB_SGATE_NETLIST> d;
  if (!d) {
    d.reset(kavu_platform::make_pipeline(180, 180));
    d->sweep(false);
  }
  return d.get();
}

void BM_SplitAndMerge(benchmark::State& state) {
  const int saved_min = kavu_min_netlist_size;
  kavu_min_netlist_size = 0;
  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("num_partitions", 32);
  params.set_param("max_num_partitions", 32);
  CDB_SGATE_NETLIST* golden = design_200k();
  const double gates = double(golden->size());
  double seconds = 0, partitions = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CDB_SGATE_NETLIST> nl(golden->clone(nullptr, true, false));
    golden->clear_temp_pointers();
    g_partition_id = 0;
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(nl.get(), nullptr, params, false);
    state.ResumeTiming();
    auto t = std::chrono::steady_clock::now();
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), nullptr, nullptr, b, false);
    partitions += double(parts.size());
    kavu_merge_netlists(parts, nl.get(), nullptr, b);
    seconds += seconds_since(t);
    state.PauseTiming();
    nl.reset();
    state.ResumeTiming();
  }
  const double iters = double(state.iterations());
  state.counters["ns_per_gate"] = seconds / iters / gates * 1e9;
  state.counters["partitions"] = partitions / iters;
  state.SetLabel(std::to_string(int(gates)) + " gates, 32 partitions");
  kavu_min_netlist_size = saved_min;
}

}  // namespace

BENCHMARK(BM_SplitAndMerge)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PAIRS); }
