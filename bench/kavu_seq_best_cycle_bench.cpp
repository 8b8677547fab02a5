// kavu_seq_best_cycle_bench.cpp — the sequential timer's best cycle time
// with movable registers beside Howard's maximum cycle ratio (Boost Graph)
// over the same register graph.
//
// Circuits: the largest bundled design, and a generated netlist of 100,000
// registers over four clocks with large feedback loops: each step adds a
// register and four two-input gates reading the step's own gates and the 64
// most recent registers of its clock, and the last gate feeds a register up
// to 32 steps back, so that overlapping windows close loops through most of
// the registers of a clock. 64 output pins read registers (fixed ones).
//   BM_SeqBestCycleTime    construction + calculate_best_cycle_time
//   BM_HowardCycleRatio    reference: maximum_cycle_ratio over the register
//                          graph (a vertex per movable register and one for
//                          every fixed start and end; arc weight the longest
//                          combinational delay, transit one), built once
//                          outside the timed region
// Counters: registers, register-graph arcs, the timer's fit tests. After the
// runs the program prints the ratio ours / reference. Nothing is asserted.
#include <benchmark/benchmark.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/howard_cycle_ratio.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "kavu_delay_model_seq.h"
#include "kavu_dff_helper.h"
#include "kavu_seq_timer.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

typedef boost::adjacency_list<
    boost::vecS, boost::vecS, boost::directedS, boost::no_property,
    boost::property<boost::edge_weight_t, double, boost::property<boost::edge_weight2_t, double>>>
    RATIO_GRAPH;

struct BENCH_CASE {
  CDB_SGATE_NETLIST* netlist = nullptr;
  RATIO_GRAPH graph;
  size_t registers = 0;
  size_t arcs = 0;
  int fit_tests = 0;
};

bool is_reg(const CDB_SGATE_NODE* g) { return g->get_sgate_type() == CDB_SGATE_DFF_ENUM; }

// The register graph after one timer run (the fixed marks are the timer's).
void build_register_graph(BENCH_CASE& b) {
  KAVU_DELAY_MODEL_STIMER model(false, 64, 200);
  std::vector<CDB_SGATE_OTERM*> oterms;
  collect_oterms(b.netlist, oterms);
  // A global fan-in-first order of the combinational terminals.
  std::unordered_map<CDB_SGATE_OTERM*, int> order, pending;
  std::vector<CDB_SGATE_OTERM*> queue;
  auto comb = [&](CDB_SGATE_OTERM* o) { return !is_reg(o->get_my_node()) && model.look_through_sgate(o->get_my_node()); };
  for (CDB_SGATE_OTERM* o : oterms) {
    if (!comb(o)) continue;
    int n = 0;
    for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms())
      if (t && t->get_source() && comb(t->get_source())) ++n;
    pending[o] = n;
    if (n == 0) queue.push_back(o);
  }
  for (size_t k = 0; k < queue.size(); ++k) {
    order[queue[k]] = int(k);
    if (queue[k]->has_fanout())
      for (CDB_SGATE_ITERM* t : queue[k]->fanouts())
        for (CDB_SGATE_OTERM* o : t->get_my_node()->get_output_terms())
          if (o && pending.count(o) && --pending[o] == 0) queue.push_back(o);
  }
  std::unordered_map<const CDB_SGATE_NODE*, size_t> vertex;  // movable register -> vertex, S = 0
  std::vector<CDB_SGATE_OTERM*> sources;
  for (CDB_SGATE_OTERM* o : oterms) {
    CDB_SGATE_NODE* g = o->get_my_node();
    if (is_reg(g)) ++b.registers;
    if (is_reg(g) && !kavu_seq_timer_is_dff_fixed(g)) vertex[g] = vertex.size() + 1;
    if (!comb(o)) sources.push_back(o);
  }
  b.graph = RATIO_GRAPH(vertex.size() + 1);
  std::unordered_map<CDB_SGATE_OTERM*, int> dist;
  std::vector<CDB_SGATE_OTERM*> cone, stack;
  for (CDB_SGATE_OTERM* s : sources) {
    const size_t from = vertex.count(s->get_my_node()) ? vertex[s->get_my_node()] : 0;
    // The combinational fan-out cone of s, relaxed in the global order.
    cone.clear();
    dist.clear();
    stack.assign(1, s);
    dist[s] = 0;
    while (!stack.empty()) {
      CDB_SGATE_OTERM* o = stack.back();
      stack.pop_back();
      if (!o->has_fanout()) continue;
      for (CDB_SGATE_ITERM* t : o->fanouts())
        for (CDB_SGATE_OTERM* n : t->get_my_node()->get_output_terms())
          if (n && comb(n) && dist.emplace(n, -1).second) {
            cone.push_back(n);
            stack.push_back(n);
          }
    }
    std::sort(cone.begin(), cone.end(), [&](CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* c) { return order[a] < order[c]; });
    for (CDB_SGATE_OTERM* o : cone) {
      CDB_SGATE_NODE* g = o->get_my_node();
      for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
        auto it = t && t->get_source() ? dist.find(t->get_source()) : dist.end();
        if (it != dist.end() && it->second >= 0) dist[o] = std::max(dist[o], it->second + model.get_delay(g, t, o));
      }
    }
    // Arcs to the registers (and pins) the cone reaches.
    std::unordered_map<size_t, int> best;
    for (auto& [o, d] : dist) {
      if (d < 0 || !o->has_fanout()) continue;
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        CDB_SGATE_NODE* load = t->get_my_node();
        if (!is_reg(load) && model.look_through_sgate(load)) continue;  // inside the cone
        const size_t to = vertex.count(load) ? vertex[load] : 0;
        best[to] = std::max(best.count(to) ? best[to] : 0, d);
      }
    }
    for (auto& [to, d] : best) {
      boost::add_edge(from, to, RATIO_GRAPH::edge_property_type(double(d), 1.0), b.graph);
      ++b.arcs;
    }
  }
}

void run_timer(BENCH_CASE& b) {
  KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  b.fit_tests = 0;
  for (int id = 1; id <= timer.get_max_clk_id(); ++id)
    if (KAVU_SEQ_DELAY_ANALYSIS* a = timer.get_analysis(id)) b.fit_tests += a->get_fit_test_count();
}

BENCH_CASE& largest_design() {
  static BENCH_CASE b = [] {
    BENCH_CASE r;
    r.netlist = blif_read_file(largest_bundled()).netlist;
    return r;
  }();
  return b;
}

BENCH_CASE& generated() {
  static BENCH_CASE b = [] {
    constexpr int kClocks = 4, kSteps = 25000, kWindow = 64, kBack = 32;
    BENCH_CASE r;
    r.netlist = new CDB_SGATE_NETLIST();
    CDB_SGATE_NETLIST* nl = r.netlist;
    GEN_RAND rand(11);
    for (int k = 0; k < kClocks; ++k) {
      auto* clk = new CDB_SGATE_IO(nullptr, CDB_IO_INPUT);
      nl->add_node(clk);
      std::vector<CDB_SGATE_DFF*> regs;
      auto recent = [&] { return regs[regs.size() - 1 - rand.get_uint() % std::min<size_t>(regs.size(), kWindow)]; };
      for (int i = 0; i < kSteps; ++i) {
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
    return r;
  }();
  return b;
}

BENCH_CASE& pick(int which) {
  BENCH_CASE& b = which == 0 ? largest_design() : generated();
  if (b.arcs == 0) {
    run_timer(b);  // marks the fixed registers the graph needs
    {
      KAVU_SEQ_TIMER timer("marks", b.netlist, nullptr, 2, 200, nullptr);
      timer.calculate_best_cycle_time();
      build_register_graph(b);
    }
  }
  return b;
}

void set_counters(benchmark::State& state, const BENCH_CASE& b) {
  state.SetLabel(state.range(0) == 0 ? "largest bundled" : "100k registers, 4 clocks, feedback loops");
  state.counters["registers"] = double(b.registers);
  state.counters["arcs"] = double(b.arcs);
  state.counters["fit_tests"] = double(b.fit_tests);
}

void BM_SeqBestCycleTime(benchmark::State& state) {
  BENCH_CASE& b = pick(int(state.range(0)));
  for (auto _ : state) run_timer(b);
  set_counters(state, b);
}

void BM_HowardCycleRatio(benchmark::State& state) {
  BENCH_CASE& b = pick(int(state.range(0)));
  for (auto _ : state) {
    const double ratio = boost::maximum_cycle_ratio(b.graph, boost::get(boost::vertex_index, b.graph),
                                                    boost::get(boost::edge_weight, b.graph),
                                                    boost::get(boost::edge_weight2, b.graph));
    benchmark::DoNotOptimize(ratio);
  }
  set_counters(state, b);
}

const PEER_PAIR PEERS[] = {{"BM_SeqBestCycleTime", "BM_HowardCycleRatio"}};

}  // namespace

BENCHMARK(BM_SeqBestCycleTime)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HowardCycleRatio)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
