// kavu_partition_bench.cpp — partition_on_reg_boundary on the largest bundled
// sequential design and on a generated design of about a million gates, into
// 8 and 32 parts, beside METIS's k-way partitioning of the same gate graph.
//
//   BM_Partition/which/parts  a whole run on a fresh copy (the copy is made
//                             with the timer paused); counters: edges (driven
//                             input terminals), ns_per_edge, largest (gates of
//                             the largest partition, boundaries not counted),
//                             imbalance (largest / average), cut_signals
//                             (output boundaries), cut_edges (gate pairs in
//                             different partitions)
//   BM_Metis/which/parts      METIS_PartGraphKway on the undirected gate graph
//                             (one vertex per gate, one edge per connected
//                             gate pair); counters: edges, ns_per_edge,
//                             largest, imbalance, cut_edges (METIS's edge cut)
// Ratio = ours / METIS of the time per run. The two optimise different
// things (ours: register boundaries, cones and cut levels kept whole; METIS:
// balance and edge cut only), so the quality counters are read side by side.
// Figures only; nothing is asserted.
#include <benchmark/benchmark.h>
#include <metis.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_helper_predicates.h"
#include "kavu_partition.h"
#include "kavu_setup.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

std::string g_names[2] = {"largest bundled sequential", "pipeline 400x400 (~1.1M gates)"};

bool has_registers(const CDB_SGATE_NETLIST* nl) {
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it, true)) return true;
  return false;
}

// The design, loaded or generated once and swept.
CDB_SGATE_NETLIST* design(int which) {
  static std::unique_ptr<CDB_SGATE_NETLIST> designs[2];
  if (!designs[which]) {
    if (which == 0) {
      uint32_t best = 0;
      for (const char* name : {"seq/ch_intrinsics", "seq/diffeq1", "seq/stereovision3", "mcnc/bigkey",
                               "mcnc/diffeq", "mcnc/dsip", "mcnc/s298", "mcnc/tseng"}) {
        BLIF_RESULT r = blif_read_file(bundled_circuit(name));
        if (r.netlist && has_registers(r.netlist) && r.netlist->size() > best) {
          best = r.netlist->size();
          designs[0].reset(r.netlist->clone(nullptr, true, false));
          g_names[0] = name;
          r.netlist->clear_temp_pointers();
        }
        release(r);
      }
    } else {
      designs[1].reset(make_pipeline(400, 400));
    }
    designs[which]->sweep(false);
  }
  return designs[which].get();
}

long count_edges(const CDB_SGATE_NETLIST* nl) {
  long edges = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it)
      for (const CDB_SGATE_ITERM* t : (*it)->get_input_terms()) edges += t && t->get_source();
  return edges;
}

int pid_of(const CDB_SGATE_NODE* n) { return n->get_single_oterm() ? n->get_single_oterm()->get_aux() : 0; }

void BM_Partition(benchmark::State& state) {
  const int which = int(state.range(0)), parts = int(state.range(1));
  CDB_SGATE_NETLIST* golden = design(which);
  state.SetLabel(g_names[which]);
  const long edges = count_edges(golden);
  const int saved_min = kavu_min_netlist_size;
  kavu_min_netlist_size = 0;
  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("num_partitions", parts);
  params.set_param("max_num_partitions", parts);
  std::map<int, long> sizes;
  long cut_signals = 0;
  double ns = 0;
  std::set<std::pair<const CDB_SGATE_NODE*, const CDB_SGATE_NODE*>> cut_pairs;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<CDB_SGATE_NETLIST> nl(golden->clone(nullptr, true, false));
    golden->clear_temp_pointers();
    g_partition_id = 0;
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(nl.get(), nullptr, params, false);
    ns += double(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    state.PauseTiming();
    sizes.clear();
    cut_signals = 0;
    cut_pairs.clear();
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* n = *it;
      if (!n) continue;
      if (!kavu_is_a_boundary(n)) ++sizes[pid_of(n)];
      if (!kavu_is_a_boundary_output(n)) continue;
      ++cut_signals;
      const CDB_SGATE_NODE* src = n->get_input_term(0)->get_source()->get_my_node();
      for (const CDB_SGATE_ITERM* t : n->get_single_oterm()->fanouts())
        for (const CDB_SGATE_ITERM* k : t->get_my_node()->get_single_oterm()->fanouts())
          cut_pairs.insert(std::minmax(src, static_cast<const CDB_SGATE_NODE*>(k->get_my_node())));
    }
    nl.reset();
    state.ResumeTiming();
  }
  kavu_min_netlist_size = saved_min;
  long largest = 0, gates = 0;
  for (const auto& e : sizes) {
    largest = std::max(largest, e.second);
    gates += e.second;
  }
  state.counters["edges"] = double(edges);
  state.counters["ns_per_edge"] = ns / (double(edges) * double(state.iterations()));
  state.counters["largest"] = double(largest);
  state.counters["imbalance"] = gates ? double(largest) * parts / double(gates) : 0.0;
  state.counters["cut_signals"] = double(cut_signals);
  state.counters["cut_edges"] = double(cut_pairs.size());
}

// The undirected gate graph in METIS's compressed rows.
struct GATE_GRAPH {
  std::vector<idx_t> xadj, adjncy;
};

GATE_GRAPH gate_graph(const CDB_SGATE_NETLIST* nl) {
  std::map<const CDB_SGATE_NODE*, idx_t> index;
  std::vector<const CDB_SGATE_NODE*> gates;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it) {
      index[*it] = idx_t(gates.size());
      gates.push_back(*it);
    }
  std::vector<std::vector<idx_t>> adj(gates.size());
  for (size_t v = 0; v < gates.size(); ++v)
    for (const CDB_SGATE_ITERM* t : gates[v]->get_input_terms()) {
      if (!t || !t->get_source()) continue;
      const idx_t u = index.at(t->get_source()->get_my_node());
      if (u == idx_t(v)) continue;
      adj[v].push_back(u);
      adj[u].push_back(idx_t(v));
    }
  GATE_GRAPH g;
  g.xadj.push_back(0);
  for (std::vector<idx_t>& a : adj) {
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
    g.adjncy.insert(g.adjncy.end(), a.begin(), a.end());
    g.xadj.push_back(idx_t(g.adjncy.size()));
  }
  return g;
}

void BM_Metis(benchmark::State& state) {
  const int which = int(state.range(0));
  idx_t parts = idx_t(state.range(1));
  CDB_SGATE_NETLIST* golden = design(which);
  state.SetLabel(g_names[which]);
  GATE_GRAPH g = gate_graph(golden);
  idx_t vertices = idx_t(g.xadj.size() - 1), constraints = 1, cut = 0;
  std::vector<idx_t> part(vertices);
  idx_t options[METIS_NOPTIONS];
  METIS_SetDefaultOptions(options);
  options[METIS_OPTION_SEED] = 1;
  double ns = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int status = METIS_PartGraphKway(&vertices, &constraints, g.xadj.data(), g.adjncy.data(), nullptr, nullptr,
                                           nullptr, &parts, nullptr, nullptr, options, &cut, part.data());
    ns += double(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    if (status != METIS_OK) state.SkipWithError("METIS failed");
  }
  std::vector<long> sizes(parts);
  for (idx_t p : part) ++sizes[p];
  const long largest = *std::max_element(sizes.begin(), sizes.end());
  const long edges = count_edges(golden);
  state.counters["edges"] = double(edges);
  state.counters["ns_per_edge"] = ns / (double(edges) * double(state.iterations()));
  state.counters["largest"] = double(largest);
  state.counters["imbalance"] = double(largest) * double(parts) / double(vertices);
  state.counters["cut_edges"] = double(cut);
}

BENCHMARK(BM_Partition)->ArgsProduct({{0, 1}, {8, 32}})->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Metis)->ArgsProduct({{0, 1}, {8, 32}})->Iterations(3)->Unit(benchmark::kMillisecond);

const PEER_PAIR PAIRS[] = {{"BM_Partition", "BM_Metis"}};

}  // namespace

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PAIRS); }
