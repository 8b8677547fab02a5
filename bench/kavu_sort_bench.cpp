// kavu_sort_bench.cpp — figures of the netlist ordering against Boost Graph
// on the same terminal graph, in one run.
//
// Circuits: the largest bundled sequential circuit (most gates among the
// sequential mcnc and seq circuits) and a generated netlist of a million
// LUTs (make_random_dag).
//   BM_KavuSort         KAVU_SORT::sort_oterms (feeder queries included)
//   BM_KavuScc          KAVU_SORT::scc_oterms; sequential mode over one
//                       domain of every terminal on the sequential circuit
//   BM_BoostTopo        boost::topological_sort on a prebuilt graph of the
//                       same edges (register-like feeders dropped, as the
//                       sort's begin terminals drop them)
//   BM_BoostScc         boost::strong_components on a prebuilt graph of the
//                       same feeder edges
//   *_WithBuild         the Boost figure plus building its graph from the
//                       netlist through the same feeder queries — the like
//                       for like comparison with the KAVU_SORT calls
// Counters: terminals and edges per iteration. After the runs the program
// prints the ratios of the like for like pairs (ours / *_WithBuild).
// Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

// Boost's edge iterators trip GCC's maybe-uninitialized analysis.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/strong_components.hpp>
#include <boost/graph/topological_sort.hpp>
#pragma GCC diagnostic pop

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_depends.h"
#include "kavu_sort.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

typedef boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS> BOOST_GRAPH;

struct BENCH_NETLIST {
  CDB_SGATE_NETLIST* netlist = nullptr;
  std::vector<CDB_SGATE_OTERM*> oterms;  // every output terminal, node-list order
  bool sequential = false;
};

bool is_register_like(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_TYPE t = node->get_sgate_type();
  return t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_LATCH_ENUM;
}

BENCH_NETLIST& sequential_circuit() {
  static BENCH_NETLIST b = [] {
    BENCH_NETLIST best;
    best.sequential = true;
    for (const char* name : {"mcnc/bigkey", "mcnc/diffeq", "mcnc/dsip", "mcnc/s298", "mcnc/tseng",
                             "seq/ch_intrinsics", "seq/stereovision3"}) {
      BLIF_RESULT r = blif_read_file(bundled_circuit(name));
      if (!r.netlist) continue;
      if (!best.netlist || r.netlist->size() > best.netlist->size()) best.netlist = r.netlist;
    }
    collect_oterms(best.netlist, best.oterms);
    return best;
  }();
  return b;
}

BENCH_NETLIST& million_gates() {
  static BENCH_NETLIST b = [] {
    BENCH_NETLIST m;
    m.netlist = make_random_dag(1000000, 1);
    collect_oterms(m.netlist, m.oterms);
    return m;
  }();
  return b;
}

BENCH_NETLIST& pick(int which) { return which == 0 ? sequential_circuit() : million_gates(); }

// The feeder graph of the terminals; for_topo drops register-like feeders.
void build_boost_graph(const BENCH_NETLIST& b, bool sequential, bool for_topo, BOOST_GRAPH& g, size_t& edges) {
  std::unordered_map<const CDB_SGATE_OTERM*, size_t> index;
  index.reserve(b.oterms.size());
  for (size_t i = 0; i < b.oterms.size(); ++i) index.emplace(b.oterms[i], i);
  g = BOOST_GRAPH(b.oterms.size());
  std::vector<CDB_SGATE_OTERM*> feeders;
  edges = 0;
  for (size_t i = 0; i < b.oterms.size(); ++i) {
    kavu_get_oterm_feeders(b.oterms[i], feeders, false, sequential, false);
    for (CDB_SGATE_OTERM* f : feeders) {
      if (for_topo && is_register_like(f->get_my_node())) continue;
      auto it = index.find(f);
      if (it == index.end()) continue;
      boost::add_edge(it->second, i, g);
      ++edges;
    }
  }
}

void set_counters(benchmark::State& state, size_t terminals, size_t edges) {
  state.counters["terminals"] = double(terminals);
  if (edges) state.counters["edges"] = double(edges);
  state.SetLabel(state.range(0) == 0 ? "largest sequential" : "1M random LUTs");
}

void BM_KavuSort(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  size_t count = 0;
  for (auto _ : state) {
    KAVU_SORT sorter(nullptr, false, false, false);
    KAVU_SORT::OTERM_LIST sorted;
    sorter.sort_oterms(b.netlist, sorted, false);
    count = sorted.size();
    benchmark::DoNotOptimize(sorted.back());
  }
  set_counters(state, count, 0);
}

void BM_KavuScc(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  KAVU_SEQ_TIMER_CLK_DOMAIN domain;
  domain.get_oterms() = b.oterms;
  size_t count = 0;
  for (auto _ : state) {
    KAVU_SORT sorter(nullptr, false, b.sequential, false);
    KAVU_SORT::OTERM_LIST scc_list;
    KAVU_SORT::SCC_MAP scc_map;
    sorter.scc_oterms(b.netlist, scc_list, scc_map, false, nullptr, nullptr, b.sequential ? &domain : nullptr);
    count = scc_list.size();
    benchmark::DoNotOptimize(scc_map.size());
  }
  set_counters(state, count, 0);
}

void BM_BoostTopo(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  BOOST_GRAPH g;
  size_t edges = 0;
  build_boost_graph(b, false, true, g, edges);
  std::vector<size_t> order;
  for (auto _ : state) {
    order.clear();
    boost::topological_sort(g, std::back_inserter(order));
    benchmark::DoNotOptimize(order.data());
  }
  set_counters(state, order.size(), edges);
}

void BM_BoostTopoWithBuild(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  size_t edges = 0, count = 0;
  for (auto _ : state) {
    BOOST_GRAPH g;
    build_boost_graph(b, false, true, g, edges);
    std::vector<size_t> order;
    boost::topological_sort(g, std::back_inserter(order));
    count = order.size();
    benchmark::DoNotOptimize(order.data());
  }
  set_counters(state, count, edges);
}

void BM_BoostScc(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  BOOST_GRAPH g;
  size_t edges = 0;
  build_boost_graph(b, b.sequential, false, g, edges);
  std::vector<int> component(b.oterms.size());
  for (auto _ : state) {
    const int n = boost::strong_components(
        g, boost::make_iterator_property_map(component.begin(), boost::get(boost::vertex_index, g)));
    benchmark::DoNotOptimize(n);
  }
  set_counters(state, component.size(), edges);
}

void BM_BoostSccWithBuild(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  size_t edges = 0;
  std::vector<int> component(b.oterms.size());
  for (auto _ : state) {
    BOOST_GRAPH g;
    build_boost_graph(b, b.sequential, false, g, edges);
    const int n = boost::strong_components(
        g, boost::make_iterator_property_map(component.begin(), boost::get(boost::vertex_index, g)));
    benchmark::DoNotOptimize(n);
  }
  set_counters(state, component.size(), edges);
}

const PEER_PAIR PEERS[] = {{"BM_KavuSort", "BM_BoostTopoWithBuild"}, {"BM_KavuScc", "BM_BoostSccWithBuild"}};

}  // namespace

BENCHMARK(BM_KavuSort)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoostTopoWithBuild)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoostTopo)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KavuScc)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoostSccWithBuild)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BoostScc)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
