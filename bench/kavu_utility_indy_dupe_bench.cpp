// kavu_utility_indy_dupe_bench.cpp — figures of the independent-duplicate-
// register search, beside yosys in the same run.
//
//   BM_IndyDupeSearch/<design>  kavu_remove_indy_dupe_ffs on a fresh copy of
//                               the largest bundled design and of a
//                               generated design of 10^5 registers of which
//                               10% are independent duplicates: registers per
//                               second, registers rewired
//   BM_WholeProcess/<design>    read, search, write BLIF as one process
//                               (this program's --indy-dupes mode) against
//                               `yosys -p "read_blif -wideports X;
//                               opt_merge -share_all; opt_clean; stat"` on the
//                               same file (stat into a file: yosys runs
//                               quiet, and a run without its cell count
//                               fails the row); wall time and peak memory
//                               of both and their ratios (ours / yosys)
// The generated design (yosys cells, as the bundled designs): 1000 clocks
// and 66 data inputs; register i (of 90000) toggles on clock i mod 1000 by
// XOR with inputs x((i / 1000) mod 64) and y(i / 64000), a combination no
// other of them shares, and drives an output; every ninth of them has an
// independent copy (its own XOR ring, same clock and inputs): 10000
// duplicates. Loading is outside the timed region of the in-process figures. A
// missing yosys skips the whole-process rows with a message. Figures only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "testkit/platform_test_hooks.h"
#include "gen/gen_dyn_flag.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility_indy_dupe.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

constexpr int GENERATED_REGISTERS = 100000;

// Writes the generated design once per process; returns its path.
const std::string& generated_design() {
  static TEMP_DIR dir;
  static std::string path;
  if (!path.empty()) return path;
  path = dir.file("indy_dupes_1e5.blif");
  std::ofstream f(path);
  const int base = GENERATED_REGISTERS - GENERATED_REGISTERS / 10;
  f << ".model indy_dupes\n.inputs";
  for (int c = 0; c < 1000; ++c) f << " c" << c;
  for (int x = 0; x < 64; ++x) f << " x" << x;
  f << " y0 y1";
  f << "\n.outputs";
  for (int i = 0; i < GENERATED_REGISTERS; ++i) f << " q" << i;
  f << "\n";
  for (int i = 0; i < GENERATED_REGISTERS; ++i) {
    // Registers from `base` on copy register (i - base) * 9.
    const int like = i < base ? i : (i - base) * 9;
    f << ".subckt $_DFF_P_ C=c" << like % 1000 << " D=n" << i << " Q=q" << i << "\n";
    f << ".subckt $_XOR_ A=q" << i << " B=x" << (like / 1000) % 64 << " Y=t" << i << "\n";
    f << ".subckt $_XOR_ A=t" << i << " B=y" << like / 64000 << " Y=n" << i << "\n";
  }
  f << ".end\n";
  return path;
}

std::string design_path(int which) { return which == 0 ? largest_bundled() : generated_design(); }

long count_registers(const CDB_SGATE_NETLIST* nl) {
  long n = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) n += *it && kavu_is_a_dff(*it, true);
  return n;
}

int search(CDB_SGATE_NETLIST* nl) {
  cfg_set_value("kavu_indy_dupe_ignore_merge_across_hierarchies", "on");
  nl->get_compatible_registers()->set_in_use(false);
  GEN_DYN_FLAG keep = nl->get_flag_manager().create_flag("keep");
  GEN_DYN_FLAG exclude = nl->get_flag_manager().create_flag("exclude");
  const int n = kavu_remove_indy_dupe_ffs(nullptr, nl, keep, exclude);
  nl->get_flag_manager().destroy_flag(keep);
  nl->get_flag_manager().destroy_flag(exclude);
  return n;
}

void BM_IndyDupeSearch(benchmark::State& state) {
  const std::string path = design_path(int(state.range(0)));
  state.SetLabel(state.range(0) == 0 ? path.substr(path.rfind("/blif/") + 6) : "generated 1e5 registers");
  long registers = 0, rewired = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT r = read_or_skip(state, path);
    if (!r.netlist) return;
    registers += count_registers(r.netlist);
    state.ResumeTiming();
    rewired += search(r.netlist);
    state.PauseTiming();
    release(r);
    state.ResumeTiming();
  }
  state.counters["registers/s"] = benchmark::Counter(double(registers), benchmark::Counter::kIsRate);
  state.counters["rewired"] = double(rewired) / double(state.iterations());
}

constexpr const char* INDY_DUPES_FLAG = "--indy-dupes";

void BM_WholeProcess(benchmark::State& state) {
  const std::string in = design_path(int(state.range(0)));
  state.SetLabel(state.range(0) == 0 ? in.substr(in.rfind("/blif/") + 6) : "generated 1e5 registers");
  TEMP_DIR dir;
  compare_processes(state, dir.path(), {self_program(), INDY_DUPES_FLAG, in, dir.file("ours.blif")},
                    {find_program("yosys"), "-q", "-p",
                     "read_blif -wideports " + in + "; opt_merge -share_all; opt_clean; tee -q -o " +
                         dir.file("peer_stat.txt") + " stat"},
                    "yosys", wrote_file(dir.file("peer_stat.txt"), "Number of cells"));
}

BENCHMARK(BM_IndyDupeSearch)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProcess)->DenseRange(0, 1)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

const PROCESS_MODE MODES[] = {{INDY_DUPES_FLAG, read_run_write<search>}};

}  // namespace

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
