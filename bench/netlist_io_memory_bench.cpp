// netlist_io_memory_bench.cpp — peak memory of reading a large BLIF file,
// beside berkeley-abc reading the same file, both as whole processes.
//
//   BM_ReadPeak/chain      a chain of 10^6 inverters between one input and
//                          one output
//   BM_ReadPeak/dag        make_random_dag(10^6) written as BLIF (LUTs of 1..4
//                          inputs)
//   BM_ReadWritePeak/chain read and write back a chain of 2*10^5 inverters
// Peer: `berkeley-abc -c "read FILE; print_stats"`. abc walks the chain
// recursively and overflows the usual 8 MiB stack, so every process here
// runs with a 1 GiB stack limit (where the hard limit allows). abc answers a file it
// cannot read with a message and status 0, so every abc run must print its
// node count, or the row fails. Counters: ours_MiB, peer_MiB, mem_ratio
// (ours/peer), ratio (wall time), and for ours the bytes per gate of the
// whole process beyond an empty start (bytes_per_gate), the pool's cell
// sizes of the database's objects (gate_B for the kind the file makes,
// iterm_B, oterm_B), the size of a name record (name_B) and what a name
// costs in all (name_all_B: record, text, child index and id registry,
// measured as the peak of a process that makes 10^6 names "$n<i>_0" under
// one top name, as the reader names a netlist, beyond an empty start).
// Figures only; nothing asserted.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_pool.h"
#include "hdb/hdb.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"
#include "netlist_io/netlist_io_int.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

constexpr const char* READ_FLAG = "--read-only";
constexpr const char* READ_WRITE_FLAG = "--read-write";
constexpr const char* NAMES_FLAG = "--names";
constexpr int kNames = 1000000;

// "<program> --read-only FILE": reads the file, prints the gate count and
// frees the netlist before it exits, as abc's "read; print_stats" ends with
// its shutdown freeing the network: both processes do read, report and free,
// so the peaks and the times cover the same steps.
int read_only(std::span<char* const> args) {
  if (args.size() != 1) return 2;
  BLIF_RESULT r = blif_read_file(args[0]);
  if (!r.netlist) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return 1;
  }
  std::printf("gates %u\n", r.netlist->size());
  release(r);
  return 0;
}

void nothing(CDB_SGATE_NETLIST*) {}

// "<program> --names COUNT": makes COUNT names under one top name, the
// number reserved first, and frees nothing.
int names_only(std::span<char* const> args) {
  if (args.size() != 1) return 2;
  const long count = std::atol(args[0]);
  HDB_INSTANCE_NAME* top = io_top_name("top");
  HDB_INSTANCE_NAME::reserve_children(top, size_t(count));
  for (long i = 0; i < count; ++i) io_signal_name(top, "$n" + std::to_string(i + 64) + "_0");
  std::printf("names %ld\n", count);
  return 0;
}

const PROCESS_MODE MODES[] = {
    {READ_FLAG, &read_only}, {READ_WRITE_FLAG, &read_run_write<&nothing>}, {NAMES_FLAG, &names_only}};

void write_chain(const std::string& path, int n) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return;
  std::fprintf(f, ".model chain\n.inputs a\n.outputs y\n.names a n1\n0 1\n");
  for (int i = 1; i < n - 1; ++i) std::fprintf(f, ".names n%d n%d\n0 1\n", i, i + 1);
  std::fprintf(f, ".names n%d y\n0 1\n.end\n", n - 1);
  std::fclose(f);
}

void write_dag(const std::string& path, int n) {
  std::unique_ptr<CDB_SGATE_NETLIST> netlist(make_random_dag(n, 1));
  std::string why;
  if (!blif_write_file(netlist.get(), path, {}, &why)) std::fprintf(stderr, "%s\n", why.c_str());
}

void read_peak(benchmark::State& state, bool chain, bool write_back, int gates) {
  TEMP_DIR dir;
  const std::string abc = find_program("berkeley-abc");
  const std::string file = dir.file("circuit.blif");
  if (chain) write_chain(file, gates);
  else write_dag(file, gates);
  std::vector<std::string> ours = {self_program(), READ_FLAG, file};
  if (write_back) ours = {self_program(), READ_WRITE_FLAG, file, dir.file("out.blif")};
  // abc must read the file (print its node count) for its peak to be the
  // peer's figure.
  compare_processes(state, dir.path(), ours, {abc, "-c", "read " + file + "; print_stats"}, "berkeley-abc",
                    prints_figure("nd ="));
  const PROCESS_FIGURES empty = run_process({self_program(), READ_FLAG, "/nonexistent"}, dir.path());
  if (state.counters.count("ours_MiB"))
    state.counters["bytes_per_gate"] = (state.counters["ours_MiB"] - empty.peak_mib) * 1048576.0 / gates;
  state.counters["gate_B"] = double(cdb_pool_cell_bytes(chain ? sizeof(CDB_SGATE_COMB) : sizeof(CDB_SGATE_LUT)));
  state.counters["iterm_B"] = double(cdb_pool_cell_bytes(sizeof(CDB_SGATE_ITERM)));
  state.counters["oterm_B"] = double(cdb_pool_cell_bytes(sizeof(CDB_SGATE_OTERM)));
  state.counters["name_B"] = double(sizeof(HDB_INSTANCE_NAME));
  const PROCESS_FIGURES names = run_process({self_program(), NAMES_FLAG, std::to_string(kNames)}, dir.path());
  if (names.status != 0) return state.SkipWithError(failure("our side (names)", names).c_str());
  state.counters["name_all_B"] = (names.peak_mib - empty.peak_mib) * 1048576.0 / kNames;
}

void BM_ReadPeak_chain(benchmark::State& state) { read_peak(state, true, false, 1000000); }
void BM_ReadPeak_dag(benchmark::State& state) { read_peak(state, false, false, 1000000); }
void BM_ReadWritePeak_chain(benchmark::State& state) { read_peak(state, true, true, 200000); }

}  // namespace

BENCHMARK(BM_ReadPeak_chain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadPeak_dag)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadWritePeak_chain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
  rlimit stack{};
  if (getrlimit(RLIMIT_STACK, &stack) == 0) {
    const rlim_t want = rlim_t(1) << 30;
    stack.rlim_cur = stack.rlim_max == RLIM_INFINITY || stack.rlim_max >= want ? want : stack.rlim_max;
    setrlimit(RLIMIT_STACK, &stack);
  }
  return bench_main(argc, argv, MODES);
}
