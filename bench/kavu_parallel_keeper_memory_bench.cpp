// The memory the library's children hold while a host that holds a large
// block of memory, and rewrites it without pause, runs the README's
// parallel flow (four partitions, four helpers) on tseng.
//
// For each size (MiB, arguments; default 256 and 1024) the host fills its
// block, starts rewriting it on a thread, and runs the flow `flows` times
// (KAVU_BENCH_FLOWS, default 3) while a sampler reads, every 10 ms:
//   - the proportional set size (Pss, /proc/<pid>/smaps_rollup) summed over
//     the processes below the host that do not share its memory (kcmp), and
//   - MemAvailable (/proc/meminfo), against its value before the flows.
// It prints the largest of each. Not a timed test: the figures are memory,
// compared with a build of the previous library on the same machine.
//
// "starts MIB N": the host fills MIB MiB and starts the program "true" N
// times as a helper, one after the other; it prints the host's own CPU time
// per start (user and system: the start's system calls, a copy of the
// host's page tables among them). Run under "perf stat --no-inherit -e
// instructions:u,instructions:k" for the instructions the host spends.
#include <linux/kcmp.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "gen/gen.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_setup.h"
#include "netlist_io/blif.h"
#include "thr/thr_ipc.h"

using namespace kavu_platform;

namespace {

long parent_of(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return -1;
  std::istringstream rest(line.substr(line.rfind(')') + 2));
  std::string state;
  long ppid = -1;
  rest >> state >> ppid;
  return ppid;
}

// KiB of Pss held below this process outside its own memory, and how many
// such processes there are.
long children_pss_kb(int* processes) {
  std::vector<pid_t> all, below = {getpid()};
  for (const auto& entry : std::filesystem::directory_iterator("/proc"))
    if (const pid_t pid = std::atoi(entry.path().filename().c_str()); pid > 0) all.push_back(pid);
  std::vector<long> parents;
  for (const pid_t pid : all) parents.push_back(parent_of(pid));
  for (size_t i = 0; i < below.size(); ++i)
    for (size_t j = 0; j < all.size(); ++j)
      if (parents[j] == below[i]) below.push_back(all[j]);
  long total = 0;
  *processes = 0;
  for (size_t i = 1; i < below.size(); ++i) {
    if (syscall(SYS_kcmp, getpid(), below[i], KCMP_VM, 0, 0) == 0) continue;
    std::ifstream rollup("/proc/" + std::to_string(below[i]) + "/smaps_rollup");
    std::string key;
    long kb = 0;
    while (rollup >> key)
      if (key == "Pss:" && rollup >> kb) total += kb;
    ++*processes;
  }
  return total;
}

long mem_available_kb() {
  std::ifstream info("/proc/meminfo");
  std::string key;
  long kb = 0;
  while (info >> key)
    if (key == "MemAvailable:" && info >> kb) return kb;
  return 0;
}

// The README's flow (examples/parallel_map.cpp) on `design`: true when the
// partitions came back from their helpers.
bool readme_flow(const std::string& design) {
  BLIF_RESULT in = blif_read_file(design);
  if (!in.netlist) return std::fprintf(stderr, "%s\n", in.error.c_str()), false;
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  facade.set_base_family(DEV_FAMILY_MANAGER::get_base_family(facade.get_family()));
  facade.set_project_name("keeper_bench");
  facade.set_revision_name("keeper_bench");
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  auto* removed = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  removed->create_removed_reg_db("main", 1024, 1024);
  removed->set_current_removed_reg_db("main");
  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("num_partitions", 4);
  KAVU_PARTITIONER().partition_on_reg_boundary(in.netlist, in.hierarchy, params, false);
  KAVU_PARTITION_BOUNDARIES boundaries;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, in.netlist, in.hierarchy, &facade, boundaries, false);
  const int n = int(parts.size());
  const bool ok = kavu_parallel_serialize(&facade, "map", 1, in.hierarchy, parts) &&
                  kavu_parallel_run_partitions_in_processes(&facade, "map", "1", n) &&
                  kavu_parallel_deserialize(&facade, "map", 1, in.hierarchy, parts, n);
  if (ok) kavu_merge_netlists(parts, in.netlist, in.hierarchy, boundaries);
  for (CDB_SGATE_NETLIST* part : parts) delete part;
  kavu_delete_partition_on_reg_boundary(in.netlist);
  delete in.netlist;
  delete in.hierarchy;
  return ok;
}

double cpu_seconds() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int starts(size_t mib, int count) {
  std::vector<char> held(mib << 20);
  std::memset(held.data(), 1, held.size());
  const double before = cpu_seconds();
  int failed = 0;
  for (int i = 0; i < count; ++i) {
    IPC_COMMAND ipc;
    THR_PROCESS_EXIT_CODE code;
    failed += !ipc.run_argv_with_named_pipe({"true"}, ".", &code, false, nullptr, nullptr, 1, 1) || code.m_error != 0;
  }
  std::printf("host %5zu MiB: %d starts, %d failed; host CPU per start %.1f us\n", mib, count, failed,
              (cpu_seconds() - before) / count * 1e6);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "starts") == 0) return starts(size_t(std::atol(argv[2])), std::atoi(argv[3]));
  std::vector<size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(size_t(std::atol(argv[i])));
  if (sizes.empty()) sizes = {256, 1024};
  const int flows = std::getenv("KAVU_BENCH_FLOWS") ? std::atoi(std::getenv("KAVU_BENCH_FLOWS")) : 3;
  const std::string exe = std::filesystem::canonical("/proc/self/exe").parent_path().string();
  const std::string design = std::string(KAVU_TEST_DATA_DIR) + "/blif/mcnc/tseng.blif";
  const std::string dir =
      std::filesystem::temp_directory_path().string() + "/kavu_keeper_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  gen_set_db_dir_path(dir + "/db");
  cfg_set_value("helper_binary_dir", (exe + "/../tools").c_str());
  cfg_set_value("put_max_threads", "4");
  kavu_min_netlist_size = 0;
  int failures = 0;
  for (const size_t mib : sizes) {
    std::vector<char> held(mib << 20);
    std::memset(held.data(), 1, held.size());
    const long available_before = mem_available_kb();
    std::atomic<bool> done{false};
    std::thread rewriter([&] {
      for (char value = 2; !done; ++value)
        for (size_t at = 0; at < held.size() && !done; at += 4096) held[at] = value;
    });
    long peak_pss = 0, peak_drop = 0;
    int peak_processes = 0;
    std::thread sampler([&] {
      while (!done) {
        int processes = 0;
        const long pss = children_pss_kb(&processes);
        if (pss > peak_pss) peak_pss = pss, peak_processes = processes;
        peak_drop = std::max(peak_drop, available_before - mem_available_kb());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
    int synthesized = 0;
    for (int f = 0; f < flows; ++f) synthesized += readme_flow(design);
    done = true;
    rewriter.join();
    sampler.join();
    failures += synthesized != flows;
    std::printf("host %5zu MiB: %d of %d flows synthesized; children outside the host's memory: peak Pss %7.1f MiB "
                "(%d processes); MemAvailable peak drop %7.1f MiB\n",
                mib, synthesized, flows, double(peak_pss) / 1024, peak_processes, double(peak_drop) / 1024);
    std::fflush(stdout);
  }
  std::filesystem::current_path("/");
  std::filesystem::remove_all(dir);
  return failures == 0 ? 0 : 1;
}
