// kavu_stats_bench.cpp — figures of the netlist statistics tally and the
// combinational depth against berkeley-abc's print_stats and print_level on
// the same files, in one run.
//
// Circuits: the largest bundled design (by file size; generic cells, which
// berkeley-abc cannot read), the largest one berkeley-abc reads (epfl/sin)
// and a generated netlist of a million LUTs (make_random_dag), written to a
// temporary BLIF file for the whole-process comparison.
//   BM_Tally          the full tally report (every description, parsable
//                     dump) on a loaded netlist; counters: edges (driven
//                     input terminals) and ns_per_edge
//   BM_MaxCombDepth   the maximum combinational depth; ns_per_edge
//   BM_WholeProcess   ours: this program's "--stats IN.blif" mode (read, the
//                     full tally with its delay section); peer: berkeley-abc -c
//                     "read IN; print_stats; print_level"; ratio = ours /
//                     peer of whole-process times (the last two circuits);
//                     an abc run that prints no level fails the row
// Both sides do the whole of their work: ours the full tally with its delay
// section (the library's count of levels and delays, as a user's report
// has it) beside abc's print_stats and print_level; no section is switched
// off on one side. Reports print into /dev/null.
// Results compared: after its timed loop each BM_Tally row reads yosys
// "stat" of the same file and checks the tally's gate kinds against it
// (LUTs, less the one-input pass-through LUTs yosys reads as wires;
// registers, latches, muxes; comb gates unless a synchronous reset to 1
// over the enable made the reader add a gate per register). A difference
// fails the benchmark and the program's exit status; so does a yosys that
// fails (its status, or its time limit: bench_support.h), as a failed row,
// not a difference; without yosys the check is skipped with a note.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_stats.h"
#include "kavu_stats_yosys_counts.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"
#include "netlist_io/yosys_oracle.h"
#include "testkit/platform_test_hooks.h"

using namespace kavu_platform;
using namespace kavu_bench;
using kavu_stats_test::buffer_luts;
using kavu_stats_test::yosys_kinds_in;
using kavu_stats_test::yosys_kinds_script;

namespace {

const char* const NAMES[3] = {"largest bundled", "epfl/sin", "1M random LUTs"};

// Reports on, into /dev/null, every section the default report runs.
void open_reports() {
  cfg_set_value("synth_less_debug_messages", "off");
  cfg_set_value("debug_msg", "on");
  cfg_set_value("debug_msg_file", "/dev/null");
  cfg_set_value("rtl_net_stats_parsable", "on");
}

// The tally's gate kinds (the parsable lines of the first level), read back
// from a report written to a file.
std::map<std::string, unsigned> tally_kinds(CDB_SGATE_NETLIST* nl) {
  TEMP_DIR dir;
  const std::string file = dir.file("tally.txt");
  cfg_set_value("debug_msg_file", file.c_str());
  KAVU_STATS().report_on_netlist(nl, "check", 1);
  cfg_set_value("debug_msg_file", "/dev/null");
  std::map<std::string, unsigned> kinds;
  std::istringstream in(read_text(file));
  for (std::string line; std::getline(in, line);) {
    const size_t head = line.find("_check : "), colon = line.rfind(" : ");
    if (head == std::string::npos || colon == std::string::npos || colon <= head + 8) continue;
    kinds[line.substr(head + 9, colon - head - 9)] = unsigned(std::stoul(line.substr(colon + 3)));
  }
  return kinds;
}

// The tally of the loaded file against yosys's counts: "" when they agree
// (or yosys is absent: *note says so), else the first difference; "" with
// *failed when yosys failed (its status and last line, or its time limit),
// which is no difference: it ran out of time, ended with a status other than
// 0, or printed no cell count of its own.
std::string compare_with_yosys(CDB_SGATE_NETLIST* nl, const std::string& path, std::string* note, std::string* failed) {
  if (yosys_binary_path().empty()) {
    *note = "yosys not installed: the tally is not compared";
    return "";
  }
  PROCESS_FIGURES run;
  bool out_of_time = false;
  run.status = yosys_run(yosys_kinds_script(path), &run.output, &out_of_time);
  if (out_of_time) run.timed_out_s = cfg_get_int_value("yosys_timeout", 600);
  if (run.status != 0 || !printed_figure(run.output, "Number of cells:")) {
    *failed = failure("yosys", run, run.status == 0 ? NO_PEER_FIGURE : nullptr);
    return "";
  }
  const std::map<std::string, unsigned> theirs = yosys_kinds_in(run.output);
  std::map<std::string, unsigned> ours = tally_kinds(nl);
  ours["LUT"] -= buffer_luts(nl);
  std::vector<std::string> kinds = {"LUT", "DFF", "LATCH", "MUX"};
  if (!theirs.count("RESET_TO_1_OVER_ENABLE")) kinds.push_back("COMB");
  for (const std::string& k : kinds) {
    const unsigned a = ours.count(k) ? ours.at(k) : 0, b = theirs.count(k) ? theirs.at(k) : 0;
    if (a != b) return k + ": ours " + std::to_string(a) + ", yosys " + std::to_string(b);
  }
  return "";
}

const std::string& circuit_file(int which) {
  static TEMP_DIR dir;
  static std::string files[3];
  if (files[which].empty()) {
    if (which == 0) files[0] = largest_bundled();
    if (which == 1) files[1] = bundled_circuit("epfl/sin");
    if (which == 2) {
      std::unique_ptr<CDB_SGATE_NETLIST> nl(make_random_dag(1000000, 1));
      files[2] = dir.file("random_1m.blif");
      blif_write_file(nl.get(), files[2]);
    }
  }
  return files[which];
}

// check: compare the tally with yosys after the timed loop.
template <class FN>
void per_edge(benchmark::State& state, FN&& fn, bool check = false) {
  open_reports();
  const int which = int(state.range(0));
  BLIF_RESULT r = read_or_skip(state, circuit_file(which));
  if (!r.netlist) return;
  std::vector<CDB_SGATE_ITERM*> edges;
  collect_driven_iterms(r.netlist, edges);
  double ns = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    fn(r.netlist);
    ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
  }
  state.SetLabel(NAMES[which]);
  state.counters["gates"] = double(r.netlist->size());
  state.counters["edges"] = double(edges.size());
  state.counters["ns_per_edge"] = ns / (double(edges.size()) * double(state.iterations()));
  if (check) {
    std::string note, failed;
    const std::string why = compare_with_yosys(r.netlist, circuit_file(which), &note, &failed);
    if (!failed.empty()) state.SkipWithError((std::string(NAMES[which]) + ": " + failed).c_str());
    else if (!why.empty()) mismatch(state, std::string(NAMES[which]) + ": " + why);
    else if (!note.empty()) state.SetLabel(std::string(NAMES[which]) + " (" + note + ")");
  }
  release(r);
}

void BM_Tally(benchmark::State& state) {
  per_edge(state, [](CDB_SGATE_NETLIST* nl) { KAVU_STATS().report_on_netlist(nl, "bench"); }, true);
}

void BM_MaxCombDepth(benchmark::State& state) {
  per_edge(state, [](CDB_SGATE_NETLIST* nl) { kavu_sgatenetlist_max_comb_depth(nl); });
}

constexpr const char* STATS_FLAG = "--stats";

// Whole-process mode: "<program> --stats IN.blif" reads the file and runs
// the full tally (its delay section counts the levels).
int read_and_report(std::span<char* const> args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: IN.blif\n");
    return 2;
  }
  open_reports();
  BLIF_RESULT r = blif_read_file(args[0]);
  if (!r.netlist) {
    std::fprintf(stderr, "%s\n", r.error.c_str());
    return 1;
  }
  KAVU_STATS().report_on_netlist(r.netlist, "bench");
  release(r);
  return 0;
}

void BM_WholeProcess(benchmark::State& state) {
  const int which = int(state.range(0));
  const std::string in = circuit_file(which);
  state.SetLabel(NAMES[which]);
  TEMP_DIR dir;
  compare_processes(state, dir.path(), {self_program(), STATS_FLAG, in},
                    {find_program("berkeley-abc"), "-c", "read " + in + "; print_stats; print_level"},
                    "berkeley-abc", prints_figure("Level ="));
}

BENCHMARK(BM_Tally)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MaxCombDepth)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeProcess)->DenseRange(1, 2)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

const PROCESS_MODE MODES[] = {{STATS_FLAG, read_and_report}};

}  // namespace

int main(int argc, char** argv) { return bench_main(argc, argv, MODES); }
