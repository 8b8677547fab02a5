// kavu_seq_timer_bench.cpp — figures of the sequential timer's set-up:
// indexing, clock domains and fixed registers (the timer's construction and
// calculate_best_cycle_time), in ns per edge (connected input terminal).
//
// Circuits: the largest bundled design (seq/diffeq1), and a generated sequential netlist
// of a million gates and 100,000 registers over four clocks (two-input comb
// gates reading recent terminals of their own clock group, one in a
// thousand reading another group's).
//   BM_SeqTimerSetup       construction + calculate_best_cycle_time
//   BM_BoostTopoWithBuild  reference: a Boost topological sort of the same
//                          terminal graph, built from the netlist's
//                          connections (registers cut) — one pass of the
//                          kind the set-up makes several of
// Counters: edges per iteration and ns per edge. After the runs the program
// prints the ratio ours / reference. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/topological_sort.hpp>
#pragma GCC diagnostic pop

#include <string>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "kavu_seq_timer.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

struct BENCH_NETLIST {
  CDB_SGATE_NETLIST* netlist = nullptr;
  size_t edges = 0;
};

size_t count_edges(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_ITERM*> driven;
  collect_driven_iterms(nl, driven);
  return driven.size();
}

BENCH_NETLIST& largest_design() {
  static BENCH_NETLIST b = [] {
    BENCH_NETLIST r;
    BLIF_RESULT read = blif_read_file(largest_bundled());
    r.netlist = read.netlist;
    r.edges = count_edges(r.netlist);
    return r;
  }();
  return b;
}

// A million gates, 100,000 registers, four clocks.
BENCH_NETLIST& generated() {
  static BENCH_NETLIST b = [] {
    constexpr int kClocks = 4, kRegisters = 100000, kGates = 1000000, kWindow = 2000;
    BENCH_NETLIST r;
    r.netlist = new CDB_SGATE_NETLIST();
    CDB_SGATE_NETLIST* nl = r.netlist;
    GEN_RAND rand(7);
    std::vector<CDB_SGATE_OTERM*> clocks, pool[kClocks];
    for (int k = 0; k < kClocks; ++k) {
      auto* pin = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
      nl->add_node(pin);
      clocks.push_back(pin->get_single_oterm());
      for (int i = 0; i < 16; ++i) {
        auto* in = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
        nl->add_node(in);
        pool[k].push_back(in->get_single_oterm());
      }
    }
    std::vector<CDB_SGATE_DFF*> regs;
    for (int i = 0; i < kRegisters; ++i) {
      auto* dff = new CDB_SGATE_DFF(nullptr, false);
      dff->create_all_inputs();
      nl->add_node(dff);
      dff->get_input_term(CDB_DFF_CLK)->set_source(clocks[size_t(i % kClocks)]);
      regs.push_back(dff);
      pool[i % kClocks].push_back(dff->get_single_oterm());
    }
    auto pick = [&](int k) {
      if (rand.get_uint() % 1000 == 0) k = int(rand.get_uint() % kClocks);
      const std::vector<CDB_SGATE_OTERM*>& p = pool[k];
      const size_t window = std::min<size_t>(p.size(), kWindow);
      return p[p.size() - 1 - rand.get_uint() % window];
    };
    for (int i = 0; i < kGates - kRegisters; ++i) {
      const int k = i % kClocks;
      auto* g = new CDB_SGATE_COMB(nullptr, rand.get_uint() & 1 ? CDB_COMB_AND : CDB_COMB_XOR, false);
      nl->add_node(g);
      g->add_unordered_fanin_from_oterm(nullptr, false, pick(k));
      g->add_unordered_fanin_from_oterm(nullptr, (rand.get_uint() & 1) != 0, pick(k));
      pool[k].push_back(g->get_single_oterm());
    }
    for (int i = 0; i < kRegisters; ++i) regs[size_t(i)]->get_input_term(CDB_DFF_DATA)->set_source(pick(i % kClocks));
    for (int i = 0; i < 64; ++i) {
      auto* o = new CDB_SGATE_IO(nullptr, CDB_IO_OUTPUT);
      nl->add_node(o);
      o->get_input_term(0)->set_source(pick(i % kClocks));
    }
    r.edges = count_edges(nl);
    return r;
  }();
  return b;
}

BENCH_NETLIST& pick_netlist(int which) { return which == 0 ? largest_design() : generated(); }

// Wall time per iteration and edge, in nanoseconds.
void set_counters(benchmark::State& state, const BENCH_NETLIST& b, double total_ns) {
  state.SetLabel(state.range(0) == 0 ? "largest bundled (seq/diffeq1)" : "1M gates, 100k registers, 4 clocks");
  state.counters["edges"] = double(b.edges);
  state.counters["ns_per_edge"] = total_ns / double(state.iterations()) / double(b.edges);
}

double ns_since(std::chrono::steady_clock::time_point start) {
  return double(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
}

void BM_SeqTimerSetup(benchmark::State& state) {
  BENCH_NETLIST& b = pick_netlist(int(state.range(0)));
  double total_ns = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    {
      KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, 2, 200, nullptr);
      timer.calculate_best_cycle_time();
      benchmark::DoNotOptimize(timer.get_num_oterms());
    }
    total_ns += ns_since(start);
  }
  set_counters(state, b, total_ns);
}

void BM_BoostTopoWithBuild(benchmark::State& state) {
  typedef boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS> GRAPH;
  BENCH_NETLIST& b = pick_netlist(int(state.range(0)));
  double total_ns = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    {
      std::unordered_map<const CDB_SGATE_OTERM*, size_t> index;
      std::vector<CDB_SGATE_OTERM*> oterms;
      collect_oterms(b.netlist, oterms);
      index.reserve(oterms.size());
      for (size_t i = 0; i < oterms.size(); ++i) index.emplace(oterms[i], i);
      GRAPH g(oterms.size());
      for (CDB_SGATE_OTERM* o : oterms) {
        const CDB_SGATE_NODE* gate = o->get_my_node();
        if (gate->get_sgate_type() == CDB_SGATE_DFF_ENUM) continue;
        for (CDB_SGATE_ITERM* t : gate->get_input_terms())
          if (t && t->get_source()) boost::add_edge(index[t->get_source()], index[o], g);
      }
      std::vector<size_t> order;
      order.reserve(oterms.size());
      boost::topological_sort(g, std::back_inserter(order));
      benchmark::DoNotOptimize(order.data());
    }
    total_ns += ns_since(start);
  }
  set_counters(state, b, total_ns);
}

const PEER_PAIR PEERS[] = {{"BM_SeqTimerSetup", "BM_BoostTopoWithBuild"}};

}  // namespace

BENCHMARK(BM_SeqTimerSetup)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoostTopoWithBuild)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
