// kavu_llis_bench.cpp — the FIB manager on a generated design: snapshot and
// restore of 10^5 boundary signals in 8 partitions, and snapshot plus write
// of one partition netlist of 200k nodes.
//
// Each partition is a chain of registers, each fed through an inverter by
// the one before, with a clock and a data pin: every register and pin is a
// boundary signal (FIB). Snapshot: a fresh manager records all 8
// partitions. Restore: a fresh manager reads the 8 snapshot files back.
// Write: one snapshot of a 200k-node netlist and its "tr" data files
// (names, then FIBs). No outside program does this work, so the figures are
// ours alone: "ns_per_signal" (or "ns_per_node") and items per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_fib_manager.h"
#include "testkit/platform_test_hooks.h"

namespace {

namespace fs = std::filesystem;

constexpr int PARTITIONS = 8;
constexpr int SIGNALS = 100000;

struct PARTITION {
  CDB_SGATE_NETLIST netlist;
  CDB_SGATE_HIERARCHY hierarchy;
};

HDB_INSTANCE_NAME* child(HDB_INSTANCE_NAME* parent, const std::string& text) {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, parent);
}

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* n) { return n->get_output_term(0); }

void name(CDB_SGATE_NODE* n, HDB_INSTANCE_NAME* iname) {
  n->set_instance_name(iname);
  out(n)->set_instance_name(iname);
}

// `registers` registers in a chain, each behind an inverter, plus two pins.
void build(PARTITION& p, const std::string& partition, int registers) {
  HDB_INSTANCE_NAME* root = child(nullptr, "bench_" + partition);
  p.hierarchy.set_instance_name(child(child(nullptr, "bench_top"), partition));
  p.hierarchy.set_netlist(&p.netlist);
  auto* clk = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  auto* data = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
  name(clk, child(root, "clk"));
  name(data, child(root, "d"));
  p.netlist.add_node(clk);
  p.netlist.add_node(data);
  CDB_SGATE_NODE* prev = data;
  for (int i = 0; i < registers; ++i) {
    auto* inv = new CDB_SGATE_COMB(nullptr, CDB_COMB_NOT);
    inv->set_input_term(inv->create_input_term(nullptr), 0);
    out(prev)->insert_fanout(inv->get_input_term(0));
    name(inv, child(root, "n" + std::to_string(i)));
    p.netlist.add_node(inv);
    auto* reg = new CDB_SGATE_DFF(nullptr);
    reg->create_all_inputs();
    out(inv)->insert_fanout(reg->get_input_term(CDB_DFF_DATA));
    out(clk)->insert_fanout(reg->get_input_term(CDB_DFF_CLK));
    name(reg, child(root, "r" + std::to_string(i)));
    p.netlist.add_node(reg);
    prev = reg;
  }
}

// Databases on, in a private directory for the program's lifetime.
struct SETUP {
  fs::path dir = fs::temp_directory_path() / ("kavu_llis_bench_" + std::to_string(::getpid()));
  SETUP() {
    fs::create_directories(dir);
    kavu_platform::gen_set_db_dir_path(dir.string());
    kavu_platform::cfg_set_value("rapid_recompile_supported", "on");
    kavu_llis_forget_generating_databases();
  }
  ~SETUP() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

SETUP& setup() {
  static SETUP s;
  return s;
}

std::vector<std::unique_ptr<PARTITION>>& design() {
  static std::vector<std::unique_ptr<PARTITION>> parts = [] {
    setup();
    std::vector<std::unique_ptr<PARTITION>> v;
    const int per = SIGNALS / PARTITIONS - 2;  // two pins per partition
    for (int k = 0; k < PARTITIONS; ++k) {
      v.push_back(std::make_unique<PARTITION>());
      build(*v.back(), "part" + std::to_string(k), per);
    }
    return v;
  }();
  return parts;
}

void per_item(benchmark::State& state, const char* counter, int items) {
  state.SetItemsProcessed(int64_t(items) * state.iterations());
  state.counters[counter] = benchmark::Counter(double(items) * double(state.iterations()),
                                               benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_SnapshotEightPartitions(benchmark::State& state) {
  auto& parts = design();
  for (auto _ : state) {
    KAVU_FIB_MANAGER::create_new_instance(PARTITIONS);
    KAVU_FIB_MANAGER& m = *KAVU_FIB_MANAGER::get_instance();
    for (auto& p : parts) m.take_snapshot(&p->hierarchy, &p->netlist, false);
  }
  per_item(state, "ns_per_signal", SIGNALS);
}

void BM_RestoreEightPartitions(benchmark::State& state) {
  auto& parts = design();
  KAVU_FIB_MANAGER::create_new_instance(PARTITIONS);
  for (auto& p : parts) KAVU_FIB_MANAGER::get_instance()->take_snapshot(&p->hierarchy, &p->netlist, false);
  KAVU_FIB_MANAGER::get_instance()->dump_fibs_for_each_partition();
  for (auto _ : state) {
    KAVU_FIB_MANAGER::create_new_instance(PARTITIONS);
    KAVU_FIB_MANAGER& m = *KAVU_FIB_MANAGER::get_instance();
    for (auto& p : parts) m.restore_fibs_for_partition(&p->hierarchy, &p->netlist);
  }
  per_item(state, "ns_per_signal", SIGNALS);
}

void BM_SnapshotAndWrite200kNodes(benchmark::State& state) {
  setup();
  static PARTITION big;
  static const bool built = (build(big, "big", 100000 - 1), true);
  (void)built;
  const int nodes = int(big.netlist.get_node_list().size());
  for (auto _ : state) {
    KAVU_FIB_MANAGER::create_new_instance(1);
    KAVU_FIB_MANAGER& m = *KAVU_FIB_MANAGER::get_instance();
    m.take_snapshot(&big.hierarchy, &big.netlist, false);
    m.write_fibs_to_file(LLIS_DATA_FILE_TR, &big.hierarchy, &big.netlist);
  }
  per_item(state, "ns_per_node", nodes);
}

BENCHMARK(BM_SnapshotEightPartitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreEightPartitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotAndWrite200kNodes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return kavu_bench::run_benchmarks(argc, argv); }
