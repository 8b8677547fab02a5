// Parallel synthesis end to end on a generated design of about a million
// gates (a 400-stage, 400-bit registered adder pipeline) in 8 partitions:
// partitioning, the split into partition netlists, archive write, the
// velmora_map helpers fed over named pipes, the archive read-back and the
// merge. Every flow starts from a fresh copy of the same unmapped design
// (the copy is made untimed).
//   BM_ParallelFresh   every configuration (1, 2 and 4 helpers) runs in a
//        fresh process of this program ("--parallel-run HELPERS"), so no run
//        inherits what an earlier run left in the process; rounds of 1, 2, 4
//        helpers, baseline first in each, three rounds. Counters, medians
//        over the rounds: flow<n>_s (the whole flow with n helpers:
//        partitioning, split, archive write, helpers, read-back and merge)
//        beside helpers<n>_s (the helper phase alone), partition<n>_s,
//        split<n>_s, write<n>_s, read<n>_s, merge<n>_s; speedup<n> (the
//        1-helper flow over the n-helper flow of the same round) and
//        helpers_speedup<n> (the same of the helper phase); archive_share<n>
//        (archive writing and reading over the whole flow), and
//        archive_bytes_per_gate.
//   BM_ParallelRepeated   the flow four times in one process with 4
//        helpers ("--parallel-repeat 4"), each run on a fresh copy of the
//        unmapped design, three processes: run1_s, run4_s and
//        run4_over_run1 (medians of the whole flows), like with like.
// Results compared: each run prints a signature of its merged design (its
// output words, by pin name, over 408 clock cycles of random input words
// from power-up, simulated: enough for the inputs to reach the outputs
// through all 400 stages) and one of the design before partitioning; every
// merged design must give the unpartitioned design's signature, whatever
// the helper count and the run. A difference, or a failing run, fails the
// benchmark; a difference also fails the program's exit status.
// The netlist archive alone: writing (to a closed file) and reading back a
// design of 10^6 logic-cell atoms; counters nanoseconds and archive bytes
// per gate (no peer: no other tool reads this archive).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <sstream>
#include <filesystem>
#include <memory>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_setup.h"
#include "netlist_io/generators.h"
#include "netlist_io/simulator.h"
#include "pdb/pdb.h"
#include "testkit/platform_test_hooks.h"

using namespace kavu_bench;

namespace {

// A registered adder pipeline of `stages` x `bits`, swept, made once per
// size and kept for the whole run.
template <int STAGES, int BITS>
CDB_SGATE_NETLIST* swept_pipeline() {
  static std::unique_ptr<CDB_SGATE_NETLIST> d;
  if (!d) {
    d.reset(kavu_platform::make_pipeline(STAGES, BITS));
    d->sweep(false);
  }
  return d.get();
}

constexpr int kStages = 400;
CDB_SGATE_NETLIST* design() { return swept_pipeline<kStages, 400>(); }
// Enough cycles for the inputs' words to reach the outputs through every
// stage.
constexpr uint64_t kSignatureCycles = kStages + 8;

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// A signature of a design's behaviour: its output words, by pin name, over
// `cycles` clock cycles from power-up under input words drawn from the pin
// names; "" when the design cannot be simulated.
std::string behaviour_signature(const CDB_SGATE_NETLIST* nl, uint64_t cycles) {
  kavu_platform::NETLIST_SIMULATOR sim(nl);
  if (!sim.ok()) return "";
  auto mix = [](uint64_t x) {
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
  };
  auto name_hash = [](const std::string& n) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : n) h = (h ^ c) * 1099511628211ull;
    return h;
  };
  std::vector<std::pair<uint64_t, const CDB_SGATE_NODE*>> ins, outs;
  for (const CDB_SGATE_IO* p : nl->get_input_pins()) ins.emplace_back(name_hash(kavu_platform::sim_pin_name(p)), p);
  for (const CDB_SGATE_IO* p : nl->get_output_pins()) outs.emplace_back(name_hash(kavu_platform::sim_pin_name(p)), p);
  std::sort(outs.begin(), outs.end());
  uint64_t sig = 0;
  sim.reset_state();
  for (uint64_t cycle = 0; cycle < cycles; ++cycle) {
    for (const auto& [h, p] : ins) sim.set_input(p, mix(h + cycle));
    if (cycle) sim.clock();
    else sim.eval();
    for (const auto& [h, p] : outs) sig = mix(sig ^ h ^ mix(sim.output(p)));
  }
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(sig));
  return text;
}

// What one flow cost, in seconds; bytes: the partition archives' size.
struct FLOW_FIGURES {
  double partition_s = 0, split_s = 0, write_s = 0, helpers_s = 0, read_s = 0, merge_s = 0, bytes = 0, gates = 0;
  std::string before, after;  // behaviour signatures of the design and the merged result
  double total() const { return partition_s + split_s + write_s + helpers_s + read_s + merge_s; }
};

// One whole flow with `helpers` helpers in this process, on a fresh copy of
// the design (made untimed); false when a step failed.
bool one_flow(int helpers, FLOW_FIGURES& f) {
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
  kavu_min_netlist_size = 0;
  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("num_partitions", 8);
  params.set_param("max_num_partitions", 8);
  CDB_SGATE_NETLIST* golden = design();
  std::unique_ptr<CDB_SGATE_NETLIST> nl(golden->clone(nullptr, true, false));
  golden->clear_temp_pointers();
  f.gates = double(nl->size());
  g_partition_id = 0;
  auto t = std::chrono::steady_clock::now();
  KAVU_PARTITIONER partitioner;
  partitioner.partition_on_reg_boundary(nl.get(), nullptr, params, false);
  f.partition_s = seconds_since(t);
  t = std::chrono::steady_clock::now();
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, nl.get(), nullptr, nullptr, b, false);
  f.split_s = seconds_since(t);
  const int n = int(parts.size());
  bool ok = true;
  t = std::chrono::steady_clock::now();
  ok &= kavu_parallel_serialize(&facade, "map", 1, nullptr, parts);
  f.write_s = seconds_since(t);
  for (int k = 0; k < n; ++k) {
    struct stat st;
    if (stat((kavu_parallel_archive_name("bench", "map", k) + ".cdb").c_str(), &st) == 0) f.bytes += double(st.st_size);
  }
  t = std::chrono::steady_clock::now();
  ok &= ok && kavu_parallel_run_partitions_in_processes(&facade, "map", "1", n);
  f.helpers_s = seconds_since(t);
  t = std::chrono::steady_clock::now();
  ok &= ok && kavu_parallel_deserialize(&facade, "map", 1, nullptr, parts, n);
  f.read_s = seconds_since(t);
  t = std::chrono::steady_clock::now();
  if (ok) kavu_merge_netlists(parts, nl.get(), nullptr, b);
  f.merge_s = seconds_since(t);
  if (ok) {
    kavu_delete_partition_on_reg_boundary(nl.get());
    f.after = behaviour_signature(nl.get(), kSignatureCycles);
  }
  kavu_parallel_force_named_pipes(-1);
  std::filesystem::remove_all(dir);
  return ok;
}

constexpr const char* RUN_FLAG = "--parallel-run";

// The unpartitioned design's behaviour signature, taken once per process.
const std::string& before_signature() {
  static const std::string sig = behaviour_signature(design(), kSignatureCycles);
  return sig;
}

// "<program> --parallel-run HELPERS": one flow, then the line "flow
// PARTITION SPLIT WRITE HELPERS READ MERGE BYTES GATES BEFORE AFTER"
// (seconds, bytes, gates, the signatures of the design and the result).
int parallel_run(std::span<char* const> args) {
  if (args.size() != 1) return 2;
  FLOW_FIGURES f;
  if (!one_flow(std::atoi(args[0]), f)) {
    std::fprintf(stderr, "the parallel flow failed\n");
    return 1;
  }
  std::printf("flow %.6f %.6f %.6f %.6f %.6f %.6f %.0f %.0f %s %s\n", f.partition_s, f.split_s, f.write_s, f.helpers_s,
              f.read_s, f.merge_s, f.bytes, f.gates, before_signature().c_str(), f.after.c_str());
  return 0;
}

constexpr const char* REPEAT_FLAG = "--parallel-repeat";
constexpr int kRepeats = 4;

// "<program> --parallel-repeat HELPERS": the whole flow kRepeats times in
// this one process, each on a fresh copy of the design, then "repeat T1 ..
// Tn" (each run's seconds) and "signatures BEFORE AFTER1 .. AFTERn".
int parallel_repeat(std::span<char* const> args) {
  if (args.size() != 1) return 2;
  std::string times = "repeat", signatures = "signatures " + before_signature();
  for (int run = 0; run < kRepeats; ++run) {
    FLOW_FIGURES f;
    if (!one_flow(std::atoi(args[0]), f)) {
      std::fprintf(stderr, "the parallel flow failed in run %d\n", run + 1);
      return 1;
    }
    times += " " + std::to_string(f.total());
    signatures += " " + f.after;
  }
  std::printf("%s\n%s\n", times.c_str(), signatures.c_str());
  return 0;
}

// "" when every signature in `words` equals the first (the design before
// partitioning), else which differs.
std::string compare_signatures(const std::vector<std::string>& words, const std::string& what) {
  if (words.empty() || words[0].empty()) return what + ": the design before partitioning cannot be simulated";
  for (size_t k = 1; k < words.size(); ++k)
    if (words[k] != words[0])
      return what + ": merged design " + std::to_string(k) + " behaves differently (signature " +
             (words[k].empty() ? std::string("none") : words[k]) + ", before partitioning " + words[0] + ")";
  return "";
}

// The figures line of a finished run; false when there is none.
bool parse_flow(const std::string& output, FLOW_FIGURES& f) {
  const size_t at = output.rfind("flow ");
  if (at == std::string::npos) return false;
  std::istringstream in(output.substr(at + 5));
  return bool(in >> f.partition_s >> f.split_s >> f.write_s >> f.helpers_s >> f.read_s >> f.merge_s >> f.bytes >>
              f.gates >> f.before >> f.after);
}

void BM_ParallelFresh(benchmark::State& state) {
  constexpr int kRounds = 3;
  const int configs[] = {1, 2, 4};  // the baseline first
  TEMP_DIR dir;
  if (dir.path().empty()) return state.SkipWithError("cannot make a temporary directory");
  std::map<int, std::vector<FLOW_FIGURES>> runs;
  std::map<int, std::vector<double>> speedups, helper_speedups;
  std::vector<std::string> signatures;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      double baseline = 0, helpers_baseline = 0;
      for (int helpers : configs) {
        const PROCESS_FIGURES p = run_process({self_program(), RUN_FLAG, std::to_string(helpers)}, dir.path());
        FLOW_FIGURES f;
        if (p.status != 0 || !parse_flow(p.output, f))
          return state.SkipWithError(failure(("the run with " + std::to_string(helpers) + " helpers").c_str(), p).c_str());
        runs[helpers].push_back(f);
        if (signatures.empty()) signatures.push_back(f.before);
        signatures.push_back(f.after);
        if (helpers == 1) {
          baseline = f.total();
          helpers_baseline = f.helpers_s;
        }
        speedups[helpers].push_back(baseline / f.total());
        helper_speedups[helpers].push_back(helpers_baseline / f.helpers_s);
      }
    }
  }
  for (int helpers : configs) {
    std::vector<double> total, partition, split, write, read, helper, merge, share;
    for (const FLOW_FIGURES& f : runs[helpers]) {
      total.push_back(f.total());
      partition.push_back(f.partition_s);
      split.push_back(f.split_s);
      write.push_back(f.write_s);
      read.push_back(f.read_s);
      helper.push_back(f.helpers_s);
      merge.push_back(f.merge_s);
      share.push_back((f.write_s + f.read_s) / f.total());
    }
    const std::string n = std::to_string(helpers);
    state.counters["flow" + n + "_s"] = median(total);
    state.counters["partition" + n + "_s"] = median(partition);
    state.counters["split" + n + "_s"] = median(split);
    state.counters["write" + n + "_s"] = median(write);
    state.counters["read" + n + "_s"] = median(read);
    state.counters["helpers" + n + "_s"] = median(helper);
    state.counters["merge" + n + "_s"] = median(merge);
    state.counters["archive_share" + n] = median(share);
    if (helpers != 1) {
      state.counters["speedup" + n] = median(speedups[helpers]);
      state.counters["helpers_speedup" + n] = median(helper_speedups[helpers]);
    }
  }
  const std::string why = compare_signatures(signatures, "1, 2 and 4 helpers");
  if (!why.empty()) return mismatch(state, why);
  const FLOW_FIGURES& first = runs[1].front();
  state.counters["archive_bytes_per_gate"] = first.bytes / first.gates;
  state.SetLabel(std::to_string(long(first.gates)) + " gates, 8 partitions, 3 rounds of fresh processes");
}

// The flow run kRepeats times in one process with 4 helpers, in 3 fresh
// processes: run4_over_run1 (median) says whether a process that runs the
// flow again and again slows down.
void BM_ParallelRepeated(benchmark::State& state) {
  TEMP_DIR dir;
  if (dir.path().empty()) return state.SkipWithError("cannot make a temporary directory");
  std::vector<double> first, last, ratio;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      const PROCESS_FIGURES p = run_process({self_program(), REPEAT_FLAG, "4"}, dir.path());
      const size_t at = p.output.rfind("repeat ");
      std::istringstream in(at == std::string::npos ? std::string() : p.output.substr(at + 7));
      std::vector<double> t(kRepeats, 0);
      for (double& x : t) in >> x;
      if (p.status != 0 || !in) return state.SkipWithError(failure("the repeated runs", p).c_str());
      const size_t sig_at = p.output.rfind("signatures ");
      std::istringstream sig_in(sig_at == std::string::npos ? std::string() : p.output.substr(sig_at + 11));
      std::vector<std::string> signatures;
      for (std::string w; signatures.size() <= size_t(kRepeats) && sig_in >> w;) signatures.push_back(w);
      if (signatures.size() != size_t(kRepeats) + 1) return state.SkipWithError("the repeated runs gave no signatures");
      const std::string why = compare_signatures(signatures, "process " + std::to_string(round + 1));
      if (!why.empty()) return mismatch(state, why);
      first.push_back(t.front());
      last.push_back(t.back());
      ratio.push_back(t.back() / t.front());
    }
  }
  state.counters["run1_s"] = median(first);
  state.counters["run4_s"] = median(last);
  state.counters["run4_over_run1"] = median(ratio);
  state.SetLabel("4 helpers, 4 runs in one process, 3 processes");
}

// ---- the netlist archive alone, on a design of device atoms

// A generated design of about a million gates: 10^6 LUTs, each packed into
// a logic-cell atom (kinds 61 and 93 in turn) with its cell mask, inputs on
// DATAA.. and the output on COMBOUT.
CDB_SGATE_NETLIST* atom_design() {
  static std::unique_ptr<CDB_SGATE_NETLIST> d;
  if (d) return d.get();
  d.reset(kavu_platform::make_random_dag(1000000, 7));
  std::vector<CDB_SGATE_NODE*> luts;
  for (CDB_SGATE_NODE* n : d->get_node_list())
    if (n->cast_to_lut()) luts.push_back(n);
  for (size_t k = 0; k < luts.size(); ++k) {
    CDB_SGATE_LUT* lut = luts[k]->cast_to_lut();
    auto* atom = new CDB_SGATE_WYSIWYG(lut->get_instance_name(), k % 2 ? 61 : 93);
    const CDB_LUTMASK& mask = lut->get_lut_mask();
    for (unsigned i = 0; i < mask.get_num_inputs(); ++i) {
      CDB_SGATE_ITERM* from = lut->get_input_term(i);
      if (!from || !from->get_source()) continue;
      CDB_SGATE_ITERM* to = atom->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + i));
      atom->set_input_term(to, atom->get_input_port_number(DB_INPUT_PORT_TYPE(12 + i)));
      from->get_source()->insert_fanout(to);
      if (from->is_inverted()) to->set_invert();
    }
    atom->set_lutmask_value(mask.widened(6).get_value());
    CDB_SGATE_OTERM* out = atom->create_output_term(nullptr, DB_PORT_COMBOUT);
    atom->set_output_term(out, atom->get_output_port_number(DB_PORT_COMBOUT));
    out->adopt_fanouts(lut->get_output_term(0), false);
    d->delete_node(lut);
    delete lut;
    d->add_node(atom, true);
  }
  d->prepare_for_use();
  return d.get();
}

std::string archive_dir() {
  const std::string dir = std::filesystem::temp_directory_path().string() + "/kavu_archive_bench_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  return dir;
}

// Write (to the file, closed) or read (from it) the whole netlist per
// iteration; counters: nanoseconds per gate and archive bytes per gate.
void archive_run(benchmark::State& state, bool reading) {
  CDB_SGATE_NETLIST* nl = atom_design();
  const std::string dir = archive_dir();
  const std::string name = dir + "/atoms";
  auto write = [&]() {
    PDB_ARCHIVE a;
    a.open(name, PDB_ARCHIVE::PDB_WRITE);
    void* p = nl;
    pdb_write_ptr(a, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &p, 0, -1, 0);
    a.close();
  };
  if (reading) write();
  const double gates = double(nl->size());
  for (auto _ : state) {
    if (!reading) {
      write();
      continue;
    }
    PDB_ARCHIVE a;
    a.open(name, PDB_ARCHIVE::PDB_READ);
    void* q = nullptr;
    pdb_read_ptr(a, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &q, nullptr, "bench");
    a.close();
    state.PauseTiming();
    delete static_cast<CDB_SGATE_NETLIST*>(q);
    state.ResumeTiming();
  }
  struct stat st;
  const double bytes = stat((name + ".cdb").c_str(), &st) == 0 ? double(st.st_size) : 0;
  state.counters["ns_per_gate"] = benchmark::Counter(gates * 1e-9, benchmark::Counter::kIsIterationInvariantRate |
                                                                       benchmark::Counter::kInvert);
  state.counters["bytes_per_gate"] = bytes / gates;
  state.SetLabel(std::to_string(int(gates)) + " gates, 10^6 of them logic-cell atoms");
  std::filesystem::remove_all(dir);
}

void BM_ArchiveWriteAtoms(benchmark::State& state) { archive_run(state, false); }
void BM_ArchiveReadAtoms(benchmark::State& state) { archive_run(state, true); }

const PROCESS_MODE MODES[] = {{RUN_FLAG, &parallel_run}, {REPEAT_FLAG, &parallel_repeat}};

}  // namespace

BENCHMARK(BM_ParallelFresh)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ParallelRepeated)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(BM_ArchiveWriteAtoms)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ArchiveReadAtoms)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---- split and merge alone: a design of about 200k gates (a 180-stage,
// 180-bit registered adder pipeline) into 32 partitions and straight back,
// with no synthesis in between. Partitioning is not timed. Counter: the
// time per gate of one split and merge.
namespace {

CDB_SGATE_NETLIST* design_200k() { return swept_pipeline<180, 180>(); }

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

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
