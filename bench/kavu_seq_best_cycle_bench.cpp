// kavu_seq_best_cycle_bench.cpp — the sequential timer's best cycle time
// with movable registers beside Howard's maximum cycle ratio (Boost Graph)
// over the register graph of the independent reference the timer's tests
// use (tests/kavu_seq_cycle_oracle.h: one reference for both).
//
// Circuits: the bundled sequential designs (diffeq1 the largest), and
// generated netlists over four clocks with large feedback loops: each step
// adds a register and four two-input gates reading the step's own gates and
// the 64 most recent registers of its clock, and the last gate feeds a
// register up to 32 steps back, so that overlapping windows close loops
// through most of the registers of a clock; 64 output pins read registers
// (fixed ones). 4 x 1,000 registers for the comparison (the reference walks
// a domain's logic once per movable register, so it stops there), and
// 4 x 25,000 for the timer alone.
// The timer runs with a decomposition fan-in of 64 and a huge-gate limit of
// 200, as in the tests: every gate is one level, as the reference models it.
//
//   BM_BestCycleWhole/c   everything from the loaded netlist to the answer
//        and back, both sides timed alike: ours constructs the timer
//        (terminal indexing), runs calculate_best_cycle_time (clock
//        discovery, fixing, each domain's set-up and search) and destroys
//        the timer; the peer builds the reference (clocks, domains and
//        fixed registers by the same rules), each clock's register graph,
//        runs maximum_cycle_ratio on each and frees them.
//   BM_BestCycleCalculate/c   ours: calculate_best_cycle_time alone (its
//        clock discovery, fixing, set-up and search) on a timer constructed
//        before and destroyed after the timed region; the peer:
//        maximum_cycle_ratio alone on each clock's graph, built before and
//        freed after the timed region. Not the same work: the peer's row is
//        the search alone, ours has no entry that searches without its
//        set-up; read it as what that set-up costs beside Howard. Its
//        counters are the two times, without a ratio.
//   BM_TimerAlone         the whole timer on the 10^5-register design (no
//        peer).
// The two sides run in turn within each row, each first in every other
// iteration (bench_support.h alternate()); counters ours_ms, peer_ms and
// ratio (ours / peer, median of the pairs), registers, arcs of the
// reference graphs, the timer's fit tests and cycle (the largest best cycle
// time over the domains).
// Results compared, once per circuit before the timed runs: every domain's
// best cycle time must equal the reference's for the same clock, and the
// timer must analyse exactly the domains with logic; a difference fails the
// benchmark and the program's exit status.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "kavu_seq_cycle_oracle.h"
#include "kavu_seq_timer.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;
namespace oracle = kavu_seq_cycle_oracle;

namespace {

constexpr int kDecompFanin = 64, kHugeGate = 200;

// steps: registers per clock.
CDB_SGATE_NETLIST* generated_netlist(int steps) {
  constexpr int kClocks = 4, kWindow = 64, kBack = 32;
  auto* nl = new CDB_SGATE_NETLIST();
  GEN_RAND rand(11);
  for (int k = 0; k < kClocks; ++k) {
    auto* clk = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
    nl->add_node(clk);
    std::vector<CDB_SGATE_DFF*> regs;
    auto recent = [&] { return regs[regs.size() - 1 - rand.get_uint() % std::min<size_t>(regs.size(), kWindow)]; };
    for (int i = 0; i < steps; ++i) {
      auto* dff = new CDB_SGATE_DFF(nullptr, false);
      dff->create_all_inputs();
      nl->add_node(dff);
      dff->get_input_term(CDB_DFF_CLK)->set_source(clk->get_single_oterm());
      regs.push_back(dff);
      CDB_SGATE_OTERM* prev = recent()->get_single_oterm();
      for (int g = 0; g < 4; ++g) {
        auto* gate = new CDB_SGATE_COMB(nullptr, rand.get_uint() & 1 ? CDB_COMB_AND : CDB_COMB_XOR, false);
        nl->add_node(gate);
        gate->add_unordered_fanin_from_oterm(nullptr, false, prev);
        gate->add_unordered_fanin_from_oterm(nullptr, (rand.get_uint() & 1) != 0, recent()->get_single_oterm());
        prev = gate->get_single_oterm();
      }
      const size_t back = std::min<size_t>(regs.size() - 1, rand.get_uint() % kBack);
      regs[regs.size() - 1 - back]->get_input_term(CDB_DFF_DATA)->set_source(prev);
    }
    for (CDB_SGATE_DFF* dff : regs)
      if (!dff->get_input_term(CDB_DFF_DATA)->get_source())
        dff->get_input_term(CDB_DFF_DATA)->set_source(recent()->get_single_oterm());
    for (int i = 0; i < 16; ++i) {
      auto* o = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
      nl->add_node(o);
      o->get_input_term(0)->set_source(regs[rand.get_uint() % regs.size()]->get_single_oterm());
    }
  }
  return nl;
}

const char* const kBundled[] = {"seq/diffeq1", "seq/stereovision3", "seq/ch_intrinsics"};
constexpr int kCases = 4;  // the bundled designs, then the generated one
constexpr int kComparedSteps = 1000, kLargeSteps = 25000;

struct BENCH_CASE {
  std::string label;
  CDB_SGATE_NETLIST* netlist = nullptr;
  size_t registers = 0, arcs = 0;
  int fit_tests = 0, cycle = 0;
  std::string difference;  // how the timer and the reference differ
  std::string refused;     // why the reference cannot model the design
};

// The reference's answer for every clock of the design: the model, and with
// `solve` each graph's best cycle time.
struct REFERENCE {
  oracle::DESIGN_MODEL model;
  std::vector<std::unique_ptr<oracle::ORACLE>> graphs;  // by clock id - 1
};

std::string build_reference(CDB_SGATE_NETLIST* nl, REFERENCE& r, bool solve) {
  const std::string why = oracle::build_design_model(*nl, r.model);
  if (!why.empty()) return why;
  for (int c = 1; c <= int(r.model.clock_ids.size()); ++c) {
    r.graphs.push_back(std::make_unique<oracle::ORACLE>());
    oracle::build_oracle(r.model, c, *r.graphs.back(), solve);
  }
  return "";
}

// The timer's domains against the reference's graphs of the same clocks;
// "" when every best cycle time agrees.
std::string compare(const KAVU_SEQ_TIMER& timer, REFERENCE& r, BENCH_CASE& b) {
  if (timer.get_max_clk_id() != int(r.model.clock_ids.size()))
    return "clocks: timer " + std::to_string(timer.get_max_clk_id()) + ", reference " +
           std::to_string(r.model.clock_ids.size());
  for (int id = 1; id <= timer.get_max_clk_id(); ++id) {
    const KAVU_SEQ_CLOCK* clock = timer.get_clock(id);
    if (!clock) return "the timer has no clock " + std::to_string(id);
    const auto c = r.model.clock_ids.find({clock->m_source, clock->m_inverted});
    if (c == r.model.clock_ids.end()) return "the reference does not know clock " + std::to_string(id);
    const oracle::ORACLE& o = *r.graphs[size_t(c->second - 1)];
    KAVU_SEQ_DELAY_ANALYSIS* a = timer.get_analysis(id);
    if ((a != nullptr) != o.has_logic)
      return "domain " + std::to_string(id) + (a ? " analysed without logic" : " with logic not analysed");
    if (!a) continue;
    b.fit_tests += a->get_fit_test_count();
    b.cycle = std::max(b.cycle, a->get_best_cycle_time());
    if (a->get_best_cycle_time() != o.best)
      return "domain " + std::to_string(id) + ": timer " + std::to_string(a->get_best_cycle_time()) + ", reference " +
             std::to_string(o.best);
  }
  return "";
}

// Loaded once; one timer run and one reference run compared.
BENCH_CASE& pick(int which) {
  static std::unique_ptr<BENCH_CASE> cases[kCases + 1];
  if (cases[which]) return *cases[which];
  cases[which] = std::make_unique<BENCH_CASE>();
  BENCH_CASE& b = *cases[which];
  if (which < kCases - 1) {
    b.label = kBundled[which];
    b.netlist = blif_read_file(bundled_circuit(kBundled[which])).netlist;
  } else {
    const int steps = which == kCases - 1 ? kComparedSteps : kLargeSteps;
    b.label = std::to_string(4 * steps) + " registers, 4 clocks, feedback loops";
    b.netlist = generated_netlist(steps);
  }
  if (!b.netlist) return b;
  for (auto it = b.netlist->begin_node_list(); it != b.netlist->end_node_list(); ++it)
    b.registers += *it && oracle::is_register(*it);
  if (which == kCases) return b;  // the timer alone
  REFERENCE r;
  b.refused = build_reference(b.netlist, r, true);
  for (const auto& g : r.graphs) b.arcs += g->arcs.size();
  KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, kDecompFanin, kHugeGate, nullptr);
  timer.calculate_best_cycle_time();
  if (b.refused.empty()) b.difference = compare(timer, r, b);
  return b;
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Ready to compare: the circuit is there, the reference models it and
// agrees with the timer (else the benchmark's error).
bool ready(benchmark::State& state, BENCH_CASE& b) {
  state.SetLabel(b.label);
  if (!b.netlist) {
    state.SkipWithError("circuit not found");
    return false;
  }
  if (!b.refused.empty()) {
    state.SkipWithError(("the reference cannot model the design: " + b.refused).c_str());
    return false;
  }
  if (!b.difference.empty()) {
    mismatch(state, b.label + ": best cycle time differs: " + b.difference);
    return false;
  }
  return true;
}

void set_counters(benchmark::State& state, const BENCH_CASE& b) {
  state.counters["registers"] = double(b.registers);
  state.counters["arcs"] = double(b.arcs);
  state.counters["fit_tests"] = double(b.fit_tests);
  state.counters["cycle"] = double(b.cycle);
}

void BM_BestCycleWhole(benchmark::State& state) {
  BENCH_CASE& b = pick(int(state.range(0)));
  if (!ready(state, b)) return;
  alternate(
      state,
      [&] {
        const auto start = std::chrono::steady_clock::now();
        {
          KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, kDecompFanin, kHugeGate, nullptr);
          timer.calculate_best_cycle_time();
        }
        return seconds_since(start);
      },
      [&] {
        const auto start = std::chrono::steady_clock::now();
        {
          REFERENCE r;
          build_reference(b.netlist, r, true);
        }
        return seconds_since(start);
      });
  set_counters(state, b);
}

void BM_BestCycleCalculate(benchmark::State& state) {
  BENCH_CASE& b = pick(int(state.range(0)));
  if (!ready(state, b)) return;
  alternate(
      state,
      [&] {
        KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, kDecompFanin, kHugeGate, nullptr);
        const auto start = std::chrono::steady_clock::now();
        timer.calculate_best_cycle_time();
        return seconds_since(start);
      },
      [&] {
        REFERENCE r;
        build_reference(b.netlist, r, false);
        const auto start = std::chrono::steady_clock::now();
        for (auto& g : r.graphs) oracle::solve_oracle(*g);
        return seconds_since(start);
      });
  state.counters.erase("ratio");  // unlike work: the two times only
  set_counters(state, b);
}

void BM_TimerAlone(benchmark::State& state) {
  BENCH_CASE& b = pick(kCases);
  state.SetLabel(b.label);
  if (!b.netlist) return state.SkipWithError("circuit not found");
  int cycle = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    {
      KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, kDecompFanin, kHugeGate, nullptr);
      timer.calculate_best_cycle_time();
      for (int id = 1; id <= timer.get_max_clk_id(); ++id)
        if (KAVU_SEQ_DELAY_ANALYSIS* a = timer.get_analysis(id)) cycle = std::max(cycle, a->get_best_cycle_time());
    }
    state.SetIterationTime(seconds_since(start));
  }
  state.counters["registers"] = double(b.registers);
  state.counters["cycle"] = double(cycle);
}

}  // namespace

BENCHMARK(BM_BestCycleWhole)->DenseRange(0, kCases - 1)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BestCycleCalculate)->DenseRange(0, kCases - 1)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimerAlone)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv); }
