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
// Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
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

BENCHMARK_MAIN();
