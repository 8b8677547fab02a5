// kavu_depends_bench.cpp — figures of the dependency queries and the loop
// search.
//
//   BM_FeedersLargest    kavu_get_oterm_feeders on every output terminal of
//                        the largest committed circuit: ns per feeder edge
//   BM_FeedersMillion    the same over a generated netlist of a million LUTs
//                        (make_random_dag)
//   BM_DependsLargest    kavu_oterm_depends_on_iterm for every (output,
//                        driven input) pair of the largest circuit: ns per pair
//   BM_LoopTerms/<name>  kavu_find_all_loop_terms on each sequential circuit:
//                        ns per input terminal, terminals reported
// Peers in the same run, plain reference code without the kind rules:
//   BM_PlainFeeders*     every distinct source of the gate's driven inputs,
//                        found by a linear search of the caller's vector
//   BM_PlainDepends*     the same pairs by a switch on the kind: a register
//                        output depends on nothing (the combinational view),
//                        a LUT output on an input when its mask differs
//                        between the input's two values (brute force over the
//                        mask's minterms), any other on every input
//   BM_PlainLoopTerms/*  an input terminal lies on a loop when its source's
//                        gate and its own gate share a strongly connected
//                        component: the gate graph built in plain vectors
//                        per call, components by Kosaraju's two walks with
//                        explicit stacks (in_loops counts the exact set; the
//                        library reports a documented superset)
// After the runs the program prints the ratios ours / plain. Figures only;
// nothing is asserted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_depends.h"
#include "kavu_helper_predicates.h"
#include "netlist_io/blif.h"
#include "netlist_io/generators.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

struct CIRCUIT {
  CDB_SGATE_NETLIST* netlist = nullptr;
  std::vector<CDB_SGATE_OTERM*> oterms;
  size_t edges = 0;   // feeder entries over all output terminals
  size_t pairs = 0;   // (output, driven input) pairs of supported kinds

  explicit CIRCUIT(CDB_SGATE_NETLIST* nl) : netlist(nl) {
    if (!netlist) return;
    collect_oterms(netlist, oterms);
    std::vector<CDB_SGATE_OTERM*> f;
    for (CDB_SGATE_OTERM* o : oterms) {
      kavu_get_oterm_feeders(o, f, false, false, false);
      edges += f.size();
      CDB_SGATE_NODE* g = o->get_my_node();
      if (kavu_is_a_pin(g)) continue;
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (t && t->get_source()) ++pairs;
    }
  }
};

CIRCUIT& largest() {
  static CIRCUIT c(blif_read_file(largest_bundled()).netlist);
  return c;
}

CIRCUIT& million() {
  static CIRCUIT c(make_random_dag(1000000, 1));
  return c;
}

// Seconds per item (printed with its SI prefix, e.g. "9.6n").
benchmark::Counter time_per(size_t items) {
  return benchmark::Counter(double(items), benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
}

void run_feeders(benchmark::State& state, CIRCUIT& c) {
  std::vector<CDB_SGATE_OTERM*> f;
  f.reserve(64);
  for (auto _ : state) {
    size_t n = 0;
    for (CDB_SGATE_OTERM* o : c.oterms) {
      kavu_get_oterm_feeders(o, f, false, false, false);
      n += f.size();
    }
    benchmark::DoNotOptimize(n);
  }
  state.counters["edges"] = double(c.edges);
  state.counters["per_edge"] = time_per(c.edges);
}

void BM_FeedersLargest(benchmark::State& state) { run_feeders(state, largest()); }
void BM_FeedersMillion(benchmark::State& state) { run_feeders(state, million()); }

void BM_DependsLargest(benchmark::State& state) {
  CIRCUIT& c = largest();
  for (auto _ : state) {
    size_t n = 0;
    for (CDB_SGATE_OTERM* o : c.oterms) {
      CDB_SGATE_NODE* g = o->get_my_node();
      if (kavu_is_a_pin(g)) continue;
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (t && t->get_source()) n += kavu_oterm_depends_on_iterm(g, o, t, true, false, false, false);
    }
    benchmark::DoNotOptimize(n);
  }
  state.counters["pairs"] = double(c.pairs);
  state.counters["per_pair"] = time_per(c.pairs);
}

void BM_LoopTerms(benchmark::State& state, const char* name) {
  std::unique_ptr<CDB_SGATE_NETLIST> nl(blif_read_file(bundled_circuit(name)).netlist);
  size_t iterms_total = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it) iterms_total += (*it)->get_number_of_input_terms();
  std::vector<CDB_SGATE_ITERM*> iterms;
  std::vector<CDB_SGATE_OTERM*> oterms;
  for (auto _ : state) kavu_find_all_loop_terms(nl.get(), &iterms, &oterms);
  state.counters["iterms"] = double(iterms_total);
  state.counters["in_loops"] = double(iterms.size());
  state.counters["per_iterm"] = time_per(iterms_total);
}

// ---- plain peers ----

void plain_feeders(const CDB_SGATE_OTERM* o, std::vector<CDB_SGATE_OTERM*>& f) {
  f.clear();
  const CDB_SGATE_NODE* g = o->get_my_node();
  for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
    CDB_SGATE_OTERM* src = t ? t->get_source() : nullptr;
    if (src && std::find(f.begin(), f.end(), src) == f.end()) f.push_back(src);
  }
}

void run_plain_feeders(benchmark::State& state, CIRCUIT& c) {
  std::vector<CDB_SGATE_OTERM*> f;
  f.reserve(64);
  size_t edges = 0;
  for (auto _ : state) {
    edges = 0;
    for (CDB_SGATE_OTERM* o : c.oterms) {
      plain_feeders(o, f);
      edges += f.size();
    }
    benchmark::DoNotOptimize(edges);
  }
  state.counters["edges"] = double(edges);
  state.counters["per_edge"] = time_per(edges);
}

void BM_PlainFeedersLargest(benchmark::State& state) { run_plain_feeders(state, largest()); }
void BM_PlainFeedersMillion(benchmark::State& state) { run_plain_feeders(state, million()); }

bool plain_depends(CDB_SGATE_NODE* g, unsigned input) {
  if (g->get_reg_flags() || g->get_sgate_type() == CDB_SGATE_DFF_ENUM) return false;
  if (g->get_sgate_type() != CDB_SGATE_LUT_ENUM) return true;
  const CDB_LUTMASK& mask = static_cast<CDB_SGATE_LUT*>(g)->get_lut_mask();
  const uint64_t bits = mask.get_value();
  const unsigned bit = 1u << input;
  for (unsigned m = 0; m < (1u << mask.get_num_inputs()); ++m)
    if (!(m & bit) && ((bits >> m) & 1) != ((bits >> (m | bit)) & 1)) return true;
  return false;
}

void BM_PlainDependsLargest(benchmark::State& state) {
  CIRCUIT& c = largest();
  for (auto _ : state) {
    size_t n = 0;
    for (CDB_SGATE_OTERM* o : c.oterms) {
      CDB_SGATE_NODE* g = o->get_my_node();
      if (kavu_is_a_pin(g)) continue;
      for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
        const CDB_SGATE_ITERM* t = g->get_input_term(i);
        if (t && t->get_source()) n += plain_depends(g, i);
      }
    }
    benchmark::DoNotOptimize(n);
  }
  state.counters["pairs"] = double(c.pairs);
  state.counters["per_pair"] = time_per(c.pairs);
}

// The gate graph in plain vectors and Kosaraju's components over it.
class PLAIN_LOOP_FINDER {
 public:
  // Input terminals whose source gate shares a component with their gate.
  size_t count_loop_terms(const CDB_SGATE_NETLIST* nl) {
    build(nl);
    order_by_finish();
    assign_components();
    size_t in_loops = 0;
    for (const auto& [from, to] : m_edges) in_loops += m_component[from] == m_component[to];
    return in_loops;
  }

 private:
  void build(const CDB_SGATE_NETLIST* nl) {
    m_index.clear();
    m_edges.clear();
    uint32_t n = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it) m_index.emplace(*it, n++);
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (!*it) continue;
      for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
        if (t && t->get_source()) m_edges.push_back({m_index.at(t->get_source()->get_my_node()), m_index.at(*it)});
    }
    fill(n, false, m_out_offsets, m_out);
    fill(n, true, m_in_offsets, m_in);
  }

  // Adjacency by source (or by sink, reverse) in offsets and targets.
  void fill(uint32_t n, bool reverse, std::vector<uint32_t>& offsets, std::vector<uint32_t>& targets) {
    offsets.assign(n + 1, 0);
    for (const auto& [from, to] : m_edges) ++offsets[(reverse ? to : from) + 1];
    for (uint32_t g = 0; g < n; ++g) offsets[g + 1] += offsets[g];
    targets.resize(m_edges.size());
    m_cursor.assign(offsets.begin(), offsets.end() - 1);
    for (const auto& [from, to] : m_edges) targets[m_cursor[reverse ? to : from]++] = reverse ? from : to;
  }

  void order_by_finish() {
    const uint32_t n = uint32_t(m_out_offsets.size() - 1);
    m_seen.assign(n, 0);
    m_finish.clear();
    for (uint32_t root = 0; root < n; ++root) {
      if (m_seen[root]) continue;
      m_seen[root] = 1;
      m_frames.assign(1, {root, m_out_offsets[root]});
      while (!m_frames.empty()) {
        auto& [g, next] = m_frames.back();
        if (next < m_out_offsets[g + 1]) {
          const uint32_t h = m_out[next++];
          if (!m_seen[h]) m_seen[h] = 1, m_frames.push_back({h, m_out_offsets[h]});
          continue;
        }
        m_finish.push_back(g);
        m_frames.pop_back();
      }
    }
  }

  void assign_components() {
    m_component.assign(m_finish.size(), UINT32_MAX);
    uint32_t count = 0;
    for (size_t k = m_finish.size(); k-- > 0;) {
      const uint32_t root = m_finish[k];
      if (m_component[root] != UINT32_MAX) continue;
      m_component[root] = count;
      m_stack.assign(1, root);
      while (!m_stack.empty()) {
        const uint32_t g = m_stack.back();
        m_stack.pop_back();
        for (uint32_t e = m_in_offsets[g]; e < m_in_offsets[g + 1]; ++e)
          if (m_component[m_in[e]] == UINT32_MAX) m_component[m_in[e]] = count, m_stack.push_back(m_in[e]);
      }
      ++count;
    }
  }

  std::unordered_map<const CDB_SGATE_NODE*, uint32_t> m_index;
  std::vector<std::pair<uint32_t, uint32_t>> m_edges;  // (source gate, reading gate)
  std::vector<uint32_t> m_out_offsets, m_out, m_in_offsets, m_in, m_cursor;
  std::vector<uint8_t> m_seen;
  std::vector<uint32_t> m_finish, m_component, m_stack;
  std::vector<std::pair<uint32_t, uint32_t>> m_frames;  // (gate, next edge)
};

void BM_PlainLoopTerms(benchmark::State& state, const char* name) {
  std::unique_ptr<CDB_SGATE_NETLIST> nl(blif_read_file(bundled_circuit(name)).netlist);
  size_t iterms_total = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it) iterms_total += (*it)->get_number_of_input_terms();
  PLAIN_LOOP_FINDER finder;
  size_t in_loops = 0;
  for (auto _ : state) in_loops = finder.count_loop_terms(nl.get());
  state.counters["iterms"] = double(iterms_total);
  state.counters["in_loops"] = double(in_loops);
  state.counters["per_iterm"] = time_per(iterms_total);
}

const PEER_PAIR PEERS[] = {{"BM_Feeders", "BM_PlainFeeders"},
                           {"BM_Depends", "BM_PlainDepends"},
                           {"BM_LoopTerms", "BM_PlainLoopTerms"}};

}  // namespace

BENCHMARK(BM_FeedersLargest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FeedersMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DependsLargest)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopTerms, s298, "mcnc/s298")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopTerms, tseng, "mcnc/tseng")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopTerms, diffeq, "mcnc/diffeq")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopTerms, dsip, "mcnc/dsip")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopTerms, bigkey, "mcnc/bigkey")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopTerms, stereovision3, "seq/stereovision3")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_LoopTerms, ch_intrinsics, "seq/ch_intrinsics")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFeedersLargest)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFeedersMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainDependsLargest)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainLoopTerms, s298, "mcnc/s298")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainLoopTerms, tseng, "mcnc/tseng")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainLoopTerms, diffeq, "mcnc/diffeq")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainLoopTerms, dsip, "mcnc/dsip")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainLoopTerms, bigkey, "mcnc/bigkey")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainLoopTerms, stereovision3, "seq/stereovision3")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PlainLoopTerms, ch_intrinsics, "seq/ch_intrinsics")->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
