// Decomposition of 8- and 10-input functions into networks of 4-input LUTs:
// the k-input builder (fewest LUTs) and the structural builder with the
// device LUT size set to 4. Inputs are plain random functions (which rarely
// decompose, so the figure is the cost of a failing search) and random
// compositions of functions of at most 3 inputs (which decompose).
// Counters: functions per second (items), the share of functions that got a
// network (found) and the LUTs per network found (luts).
// Peer in the same run (BM_AbcInto4Luts): berkeley-abc maps the same 64
// functions in one process, "read_truth HEX; strash; if -K 4; print_stats"
// for each; the time per iteration is that process's wall time less an
// empty abc start, divided by 64 (one iteration is one function, as for
// ours), and luts is abc's mean LUT count (abc always finds a network).
// Constant functions are left out on abc's side (its reader aborts on the
// constant 0); functions counts what abc was given.
// After the runs the program prints the ratios ours / abc, each builder
// against the same abc row.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_fd.h"

namespace {

KAVU_01TBL random_table(unsigned int n, std::mt19937& rng) {
  KAVU_01TBL t(n);
  for (unsigned int m = 0; m < (1u << n); ++m)
    if (rng() & 1u) t.set_minterm(m);
  return t;
}

// Pieces of 1..3 inputs over consecutive variables feeding a random top.
KAVU_01TBL composed_table(unsigned int n, std::mt19937& rng) {
  std::vector<unsigned int> first;
  for (unsigned int v = 0; v < n; v += 1 + rng() % 3) first.push_back(v);
  first.push_back(n);
  const unsigned int groups = static_cast<unsigned int>(first.size()) - 1;
  std::vector<KAVU_01TBL> parts;
  for (unsigned int j = 0; j < groups; ++j) parts.push_back(random_table(first[j + 1] - first[j], rng));
  const KAVU_01TBL top = random_table(groups, rng);
  KAVU_01TBL t(n);
  for (unsigned int m = 0; m < (1u << n); ++m) {
    unsigned int top_in = 0;
    for (unsigned int j = 0; j < groups; ++j) {
      const unsigned int in = (m >> first[j]) & ((1u << (first[j + 1] - first[j])) - 1);
      top_in |= parts[j].minterm(in) << j;
    }
    if (top.minterm(top_in)) t.set_minterm(m);
  }
  return t;
}

// Input pins to connect the networks to (not in any netlist).
struct PINS {
  explicit PINS(unsigned int n) {
    for (unsigned int i = 0; i < n; ++i) {
      gates.emplace_back(new CDB_SGATE_IO(nullptr, CDB_IO_INPUT));
      fanins.push_back(gates.back()->get_single_oterm());
    }
  }
  std::vector<std::unique_ptr<CDB_SGATE_IO>> gates;
  std::vector<CDB_SGATE_OTERM*> fanins;
};

constexpr int k_tables = 64;

// The benchmark's functions: range(0) inputs; range(1) 0 plain random, 1
// composed.
std::vector<KAVU_01TBL> bench_tables(const benchmark::State& state) {
  const unsigned int n = static_cast<unsigned int>(state.range(0));
  const bool composed = state.range(1) != 0;
  std::mt19937 rng(n * 7 + (composed ? 1 : 0));
  std::vector<KAVU_01TBL> tables;
  for (int i = 0; i < k_tables; ++i) tables.push_back(composed ? composed_table(n, rng) : random_table(n, rng));
  return tables;
}

// range(2): 0 k-input builder, 1 structural builder.
void BM_DecomposeInto4Luts(benchmark::State& state) {
  const unsigned int n = static_cast<unsigned int>(state.range(0));
  const bool structural = state.range(2) != 0;
  const unsigned int saved_size = CDB_LUTMASK::max_num_inputs;
  CDB_LUTMASK::max_num_inputs = 4;
  const std::vector<KAVU_01TBL> tables = bench_tables(state);
  PINS pins(n);
  long found = 0, luts = 0, runs = 0;
  std::vector<CDB_SGATE_NODE*> nodes;
  for (auto _ : state) {
    // The k-input builder reduces its table, so it works on a copy.
    KAVU_01TBL t = tables[runs++ % tables.size()];
    CDB_SGATE_NODE* root = structural ? t.to_luts(nullptr, pins.fanins, nodes) : t.to_luts(pins.fanins, nullptr, 4, nodes);
    if (root) {
      ++found;
      luts += static_cast<long>(nodes.size());
    }
    delete_synthesized_nodes(nodes);
  }
  CDB_LUTMASK::max_num_inputs = saved_size;
  state.SetItemsProcessed(state.iterations());
  state.counters["found"] = runs ? double(found) / double(runs) : 0.0;
  state.counters["luts"] = found ? double(luts) / double(found) : 0.0;
}

BENCHMARK(BM_DecomposeInto4Luts)
    ->ArgNames({"inputs", "composed", "structural"})
    ->ArgsProduct({{8, 10}, {0, 1}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// The table in hexadecimal, the highest minterm first.
std::string hex_of(const KAVU_01TBL& t) {
  std::string hex;
  char word[16];
  for (unsigned int i = t.length(); i-- > 0;) {
    std::snprintf(word, sizeof word, "%08x", t.word(i));
    hex += word;
  }
  return hex;
}

// Every "nd = N" of abc's print_stats, summed; *count how many there were.
long abc_lut_total(const std::string& output, int* count) {
  long total = 0;
  *count = 0;
  for (size_t at = output.find("nd ="); at != std::string::npos; at = output.find("nd =", at + 4)) {
    total += std::strtol(output.c_str() + at + 4, nullptr, 10);
    ++*count;
  }
  return total;
}

void BM_AbcInto4Luts(benchmark::State& state) {
  const std::string abc = kavu_bench::find_program("berkeley-abc");
  kavu_bench::TEMP_DIR dir;
  if (abc.empty() || dir.path().empty()) {
    state.SkipWithError(kavu_bench::peer_not_installed("berkeley-abc").c_str());
    return;
  }
  // abc's truth-table reader aborts on the constant 0, so constants (which
  // need no LUT) are left out.
  std::string script;
  int given = 0;
  for (const KAVU_01TBL& t : bench_tables(state)) {
    if (t.is_gnd() || t.is_vcc()) continue;
    script += "read_truth " + hex_of(t) + "; strash; if -K 4; print_stats; ";
    ++given;
  }
  long luts = 0;
  int networks = 0;
  std::vector<double> whole;
  for (auto _ : state) {
    const kavu_bench::PROCESS_FIGURES empty = kavu_bench::run_peer({abc, "-c", ""}, dir.path());
    const kavu_bench::PROCESS_FIGURES f = kavu_bench::run_peer({abc, "-c", script}, dir.path());
    luts = abc_lut_total(f.output, &networks);
    if (empty.status != 0 || f.status != 0 || networks != given) {
      state.SkipWithError(kavu_bench::failure("berkeley-abc", empty.status != 0 ? empty : f).c_str());
      return;
    }
    // One iteration stands for one function, as in BM_DecomposeInto4Luts.
    state.SetIterationTime(std::max(f.wall_s - empty.wall_s, 0.0) / std::max(given, 1));
    whole.push_back(f.wall_s);
  }
  state.counters["found"] = 1.0;
  state.counters["luts"] = double(luts) / std::max(given, 1);
  state.counters["functions"] = given;
  state.counters["whole_ms"] = kavu_bench::median(whole) * 1e3;
}

BENCHMARK(BM_AbcInto4Luts)
    ->ArgNames({"inputs", "composed"})
    ->ArgsProduct({{8, 10}, {0, 1}})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMicrosecond);

const kavu_bench::PEER_PAIR PEERS[] = {{"BM_DecomposeInto4Luts", "BM_AbcInto4Luts", "structural"}};

}  // namespace

int main(int argc, char** argv) { return kavu_bench::bench_main(argc, argv, {}, PEERS); }
