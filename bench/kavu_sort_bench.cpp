// kavu_sort_bench.cpp — figures of the netlist ordering against Boost Graph
// on the same terminal graph, in one run.
//
// Circuits (the benchmark argument indexes CIRCUITS): the bundled EPFL
// circuits, the bundled sequential designs, a generated netlist of a million
// LUTs (make_random_dag) and the same netlist with a thousand back edges
// (combinational loops, up to a hundred gates long, for the components).
// Both sides start from the loaded netlist and end with the order (or the
// components): ours has no entry that takes a prebuilt graph, so its feeder
// queries are part of every call, and Boost's side pays for the same queries
// when it builds its graph.
//   BM_KavuSort           KAVU_SORT::sort_oterms (feeder queries and the
//                         std::list result included)
//   BM_KavuScc            KAVU_SORT::scc_oterms (the std::map result
//                         included); sequential mode over one domain of every
//                         terminal on the sequential designs
//   BM_BoostTopoWithBuild the feeder graph built from the netlist the
//                         cheapest proper way (dense ids in the terminals'
//                         aux values, one feeder query per terminal, the
//                         edges appended in row order into a compressed
//                         sparse row graph, no sorting, no hashing), then
//                         boost::topological_sort; register-like feeders are
//                         dropped, as the sort's begin terminals drop them;
//                         skipped on the looped netlist
//   BM_BoostSccWithBuild  the same build with every feeder, then
//                         boost::strong_components
//   BM_BoostTopo, BM_BoostScc  Boost's step alone on the graph built before
//                         the timed loop: the share of Boost's time that is
//                         its build (no ratio: ours has no such step alone)
//   BM_SortResultFloor    filling and freeing a std::list of the terminals:
//                         the least any sort_oterms costs (its result type)
//   BM_SccResultFloor     the same plus a std::map of the terminals filled in
//                         address order: the least any scc_oterms costs
// Counters: terminals and edges per iteration. After the runs the program
// prints the ratios ours / Boost with its build, and the floors of the result
// types / Boost with its build. After its timed loop each *_WithBuild
// benchmark checks Boost's result against ours: the same number of
// terminals ordered, ours fan-in first along every edge of Boost's graph,
// the same components, every terminal present in ours' result; a
// difference fails the benchmark and the program's exit status.
#include <benchmark/benchmark.h>

// Boost's edge iterators trip GCC's maybe-uninitialized analysis.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/graph/compressed_sparse_row_graph.hpp>
#include <boost/graph/strong_components.hpp>
#include <boost/graph/topological_sort.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <string>
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

// Edges run from a terminal to its feeders (the rows the feeder queries
// give); components are the same either way, and Boost's topological sort
// of this graph lists feeders first.
typedef boost::compressed_sparse_row_graph<boost::directedS> BOOST_GRAPH;

constexpr int MILLION = 1000000;
// The looped netlist: every LOOP_STRIDE-th LUT takes its first input from a
// LUT up to LOOP_REACH gates later.
constexpr int LOOP_STRIDE = 1000;
constexpr int LOOP_REACH = 100;

struct CIRCUIT {
  const char* name;  // bundled name, or a generated netlist's label
  bool sequential;   // components in sequential mode over one domain
};

const CIRCUIT CIRCUITS[] = {
    {"epfl/adder", false},      {"epfl/bar", false},          {"epfl/cavlc", false},
    {"epfl/ctrl", false},       {"epfl/dec", false},          {"epfl/i2c", false},
    {"epfl/int2float", false},  {"epfl/max", false},          {"epfl/priority", false},
    {"epfl/router", false},     {"epfl/sin", false},          {"mcnc/bigkey", true},
    {"mcnc/diffeq", true},      {"mcnc/dsip", true},          {"mcnc/s298", true},
    {"mcnc/tseng", true},       {"seq/ch_intrinsics", true},  {"seq/stereovision3", true},
    {"seq/diffeq1", true},      {"1M random LUTs", false},    {"1M LUTs with loops", false}};
constexpr int NUM_CIRCUITS = int(sizeof(CIRCUITS) / sizeof(CIRCUITS[0]));
constexpr int RANDOM_DAG = NUM_CIRCUITS - 2;
constexpr int LOOPED_DAG = NUM_CIRCUITS - 1;

struct BENCH_NETLIST {
  CDB_SGATE_NETLIST* netlist = nullptr;
  CDB_SGATE_HIERARCHY* hierarchy = nullptr;  // a read circuit's, freed with it
  std::vector<CDB_SGATE_OTERM*> oterms;  // every output terminal, node-list order
  bool sequential = false;
};

bool is_register_like(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_TYPE t = node->get_sgate_type();
  return t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_LATCH_ENUM;
}

// Back edges into the random DAG: the first input of every LOOP_STRIDE-th
// LUT moves to the output of a LUT a little further on.
void add_loops(CDB_SGATE_NETLIST* netlist) {
  std::vector<CDB_SGATE_NODE*> luts;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it && (*it)->get_sgate_type() == CDB_SGATE_LUT_ENUM) luts.push_back(*it);
  }
  for (size_t i = 0; i + LOOP_REACH < luts.size(); i += LOOP_STRIDE) {
    CDB_SGATE_NODE* later = luts[i + 1 + (i / LOOP_STRIDE) % LOOP_REACH];
    luts[i]->get_input_term(0)->set_source(later->get_output_term(0));
  }
}

BENCH_NETLIST load(int which) {
  BENCH_NETLIST b;
  b.sequential = CIRCUITS[which].sequential;
  if (which >= RANDOM_DAG) {
    b.netlist = make_random_dag(MILLION, 1);
    if (which == LOOPED_DAG) add_loops(b.netlist);
  } else {
    const BLIF_RESULT r = blif_read_file(bundled_circuit(CIRCUITS[which].name));
    b.netlist = r.netlist;
    b.hierarchy = r.hierarchy;
  }
  if (b.netlist) collect_oterms(b.netlist, b.oterms);
  return b;
}

// One circuit in memory at a time (the million-gate netlists are large).
BENCH_NETLIST& pick(int which) {
  static std::map<int, BENCH_NETLIST> loaded;
  auto it = loaded.find(which);
  if (it != loaded.end()) return it->second;
  for (auto& entry : loaded) {
    delete entry.second.netlist;
    delete entry.second.hierarchy;
  }
  loaded.clear();
  return loaded.emplace(which, load(which)).first->second;
}

// The feeder graph of the terminals; for_topo drops register-like feeders.
// Vertex i is b.oterms[i]; its aux value holds i + 1 while the graph is
// built (every output terminal is in b.oterms, so every feeder has one).
void build_boost_graph(const BENCH_NETLIST& b, bool sequential, bool for_topo, BOOST_GRAPH& g, size_t& edges) {
  const size_t n = b.oterms.size();
  for (size_t i = 0; i < n; ++i) b.oterms[i]->set_aux(int(i + 1));
  std::vector<std::pair<size_t, size_t>> rows;
  std::vector<CDB_SGATE_OTERM*> feeders;
  for (size_t i = 0; i < n; ++i) {
    kavu_get_oterm_feeders(b.oterms[i], feeders, false, sequential, false);
    for (CDB_SGATE_OTERM* f : feeders) {
      if (for_topo && is_register_like(f->get_my_node())) continue;
      const int id = f->get_aux();
      if (id > 0 && size_t(id) <= n && b.oterms[size_t(id - 1)] == f) rows.emplace_back(i, size_t(id - 1));
    }
  }
  edges = rows.size();
  g = BOOST_GRAPH(boost::edges_are_sorted, rows.begin(), rows.end(), n);
}

// ---- checks of Boost's results against ours (run once per circuit, untimed)

// ours must hold every terminal Boost ordered, each after its feeders in
// the graph.
std::string check_order(const BENCH_NETLIST& b, const BOOST_GRAPH& g, const std::vector<size_t>& boost_order) {
  KAVU_SORT sorter(nullptr, false, false, false);
  KAVU_SORT::OTERM_LIST ours;
  sorter.sort_oterms(b.netlist, ours, false);
  for (size_t i = 0; i < b.oterms.size(); ++i) b.oterms[i]->set_aux(int(i + 1));
  std::vector<long> place(b.oterms.size(), -1);
  long k = 0;
  for (CDB_SGATE_OTERM* o : ours) {
    const int id = o->get_aux();
    if (id > 0 && size_t(id) <= b.oterms.size() && b.oterms[size_t(id - 1)] == o) place[size_t(id - 1)] = k;
    ++k;
  }
  if (ours.size() != boost_order.size())
    return "ours ordered " + std::to_string(ours.size()) + " terminals, Boost " + std::to_string(boost_order.size());
  for (size_t v = 0; v < b.oterms.size(); ++v)
    if (place[v] < 0) return "ours leaves out a terminal Boost ordered (terminal " + std::to_string(v) + ")";
  for (size_t v = 0; v < b.oterms.size(); ++v)
    for (auto [e, end] = boost::out_edges(v, g); e != end; ++e) {
      const size_t f = boost::target(*e, g);
      if (place[f] > place[v])
        return "ours lists a terminal before its feeder (terminal " + std::to_string(v) + ")";
    }
  return "";
}

// The two partitions of the terminals into components must be the same.
std::string check_components(const BENCH_NETLIST& b, const std::vector<int>& boost_component, int boost_count) {
  KAVU_SEQ_TIMER_CLK_DOMAIN domain;
  domain.get_oterms() = b.oterms;
  KAVU_SORT sorter(nullptr, false, b.sequential, false);
  KAVU_SORT::OTERM_LIST scc_list;
  KAVU_SORT::SCC_MAP scc_map;
  sorter.scc_oterms(b.netlist, scc_list, scc_map, false, nullptr, nullptr, b.sequential ? &domain : nullptr);
  std::map<int, int> ours_to_boost, boost_to_ours;
  for (size_t v = 0; v < b.oterms.size(); ++v) {
    auto it = scc_map.find(b.oterms[v]);
    if (it == scc_map.end()) return "ours leaves out a terminal (terminal " + std::to_string(v) + ")";
    const int mine = it->second, theirs = boost_component[v];
    if (ours_to_boost.emplace(mine, theirs).first->second != theirs ||
        boost_to_ours.emplace(theirs, mine).first->second != mine)
      return "the components differ (terminal " + std::to_string(v) + ")";
  }
  std::set<int> placed;
  for (int c : boost_component) placed.insert(c);
  if (int(placed.size()) != boost_count) return "Boost's component count is inconsistent";
  return "";
}

// False (and the benchmark skipped) when the circuit is missing.
bool ready(benchmark::State& state, const BENCH_NETLIST& b) {
  if (b.netlist) return true;
  state.SkipWithError("circuit not found");
  return false;
}

void set_counters(benchmark::State& state, size_t terminals, size_t edges) {
  state.counters["terminals"] = double(terminals);
  if (edges) state.counters["edges"] = double(edges);
  state.SetLabel(CIRCUITS[state.range(0)].name);
}

void BM_KavuSort(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  if (!ready(state, b)) return;
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
  if (!ready(state, b)) return;
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
  if (!ready(state, b)) return;
  BOOST_GRAPH g;
  size_t edges = 0;
  build_boost_graph(b, false, true, g, edges);
  std::vector<size_t> order;
  order.reserve(b.oterms.size());
  for (auto _ : state) {
    order.clear();
    boost::topological_sort(g, std::back_inserter(order));
    benchmark::DoNotOptimize(order.data());
  }
  set_counters(state, order.size(), edges);
}

void BM_BoostTopoWithBuild(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  if (!ready(state, b)) return;
  size_t edges = 0;
  BOOST_GRAPH g;
  std::vector<size_t> order;
  for (auto _ : state) {
    g = BOOST_GRAPH();
    build_boost_graph(b, false, true, g, edges);
    order.clear();
    boost::topological_sort(g, std::back_inserter(order));
    benchmark::DoNotOptimize(order.data());
  }
  set_counters(state, order.size(), edges);
  const std::string why = check_order(b, g, order);
  if (!why.empty()) mismatch(state, std::string(CIRCUITS[state.range(0)].name) + ": " + why);
}

void BM_BoostScc(benchmark::State& state) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  if (!ready(state, b)) return;
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
  if (!ready(state, b)) return;
  size_t edges = 0;
  int count = 0;
  std::vector<int> component(b.oterms.size());
  for (auto _ : state) {
    BOOST_GRAPH g;
    build_boost_graph(b, b.sequential, false, g, edges);
    count = boost::strong_components(
        g, boost::make_iterator_property_map(component.begin(), boost::get(boost::vertex_index, g)));
    benchmark::DoNotOptimize(count);
  }
  set_counters(state, component.size(), edges);
  const std::string why = check_components(b, component, count);
  if (!why.empty()) mismatch(state, std::string(CIRCUITS[state.range(0)].name) + ": " + why);
}

// What the result types alone cost: the terminals appended to a std::list
// (the sort's result), and also entered into a std::map in address order
// (the components' result), both freed per iteration as a caller does.
void result_floor(benchmark::State& state, bool with_map) {
  BENCH_NETLIST& b = pick(int(state.range(0)));
  if (!ready(state, b)) return;
  std::vector<CDB_SGATE_OTERM*> by_address = b.oterms;
  std::sort(by_address.begin(), by_address.end());
  for (auto _ : state) {
    KAVU_SORT::OTERM_LIST list;
    KAVU_SORT::SCC_MAP map;
    for (CDB_SGATE_OTERM* o : b.oterms) list.push_back(o);
    if (with_map) {
      for (CDB_SGATE_OTERM* o : by_address) map.emplace_hint(map.end(), o, 1);
    }
    benchmark::DoNotOptimize(list.back());
    benchmark::DoNotOptimize(map.size());
  }
  set_counters(state, b.oterms.size(), 0);
}

void BM_SortResultFloor(benchmark::State& state) { result_floor(state, false); }
void BM_SccResultFloor(benchmark::State& state) { result_floor(state, true); }

// Per circuit, all figures one after the other, so one netlist is in
// memory at a time. The looped netlist has no topological order for Boost.
void register_all() {
  for (int c = 0; c < NUM_CIRCUITS; ++c) {
    const bool has_topo = c != LOOPED_DAG;
    const benchmark::TimeUnit unit = c >= RANDOM_DAG ? benchmark::kMillisecond : benchmark::kMicrosecond;
    benchmark::RegisterBenchmark("BM_SortResultFloor", BM_SortResultFloor)->Arg(c)->Unit(unit);
    benchmark::RegisterBenchmark("BM_SccResultFloor", BM_SccResultFloor)->Arg(c)->Unit(unit);
    if (has_topo) {
      benchmark::RegisterBenchmark("BM_KavuSort", BM_KavuSort)->Arg(c)->Unit(unit);
      benchmark::RegisterBenchmark("BM_BoostTopo", BM_BoostTopo)->Arg(c)->Unit(unit);
      benchmark::RegisterBenchmark("BM_BoostTopoWithBuild", BM_BoostTopoWithBuild)->Arg(c)->Unit(unit);
    }
    benchmark::RegisterBenchmark("BM_KavuScc", BM_KavuScc)->Arg(c)->Unit(unit);
    benchmark::RegisterBenchmark("BM_BoostScc", BM_BoostScc)->Arg(c)->Unit(unit);
    benchmark::RegisterBenchmark("BM_BoostSccWithBuild", BM_BoostSccWithBuild)->Arg(c)->Unit(unit);
  }
}

const PEER_PAIR PEERS[] = {{"BM_KavuSort", "BM_BoostTopoWithBuild"},
                           {"BM_KavuScc", "BM_BoostSccWithBuild"},
                           {"BM_SortResultFloor", "BM_BoostTopoWithBuild"},
                           {"BM_SccResultFloor", "BM_BoostSccWithBuild"}};

}  // namespace

int main(int argc, char** argv) {
  register_all();
  return bench_main(argc, argv, {}, PEERS);
}
