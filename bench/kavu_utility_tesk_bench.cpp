// kavu_utility_tesk_bench.cpp — retimer clock queries on the largest bundled
// design (by file size), in queries per second.
//
//   BM_DrivingClock        kavu_tesk_get_driving_clock on every input and
//                          output terminal of every clocked node (registers,
//                          pins, RAMs, state nodes: the nodes the query is
//                          defined for)
//   BM_CrossingQueries     kavu_tesk_iterm_crosses_clock_domain on every
//                          driven register input and
//                          kavu_tesk_oterm_crosses_clock_domain on every
//                          register output: the breadth-first search with
//                          its scratch kept between queries
//   BM_CrossingFreshSearch the same searches written plainly, with a queue
//                          and a hash set made per query (the reference for
//                          what keeping the scratch saves); the results are
//                          checked equal to the library's once
// Counter "queries" is a rate (queries per second); "visited" is the mean
// number of terminals the plain search enqueues per query. No outside tool
// answers these queries, so there is no outside peer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <deque>
#include <unordered_set>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_utility_tesk.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

struct QUERIES {
  BLIF_RESULT m_design;
  std::vector<CDB_SGATE_ITERM*> m_clock_iterms;
  std::vector<CDB_SGATE_OTERM*> m_clock_oterms;
  std::vector<CDB_SGATE_ITERM*> m_reg_inputs;
  std::vector<CDB_SGATE_OTERM*> m_reg_outputs;
};

QUERIES& queries() {
  static QUERIES q = [] {
    QUERIES x;
    x.m_design = blif_read_file(largest_bundled());
    CDB_SGATE_NETLIST* nl = x.m_design.netlist;
    if (!nl) return x;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || !kavu_tesk_is_clocked_type(g->get_sgate_type()) || g->is_wysiwyg()) continue;
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (t) x.m_clock_iterms.push_back(t);
      for (CDB_SGATE_OTERM* o : g->get_output_terms())
        if (o) x.m_clock_oterms.push_back(o);
      if (g->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (t && t->get_source()) x.m_reg_inputs.push_back(t);
      if (g->get_single_oterm()->has_fanout()) x.m_reg_outputs.push_back(g->get_single_oterm());
    }
    return x;
  }();
  return q;
}

// The queries, or null with the benchmark's error when the design cannot be
// read.
QUERIES* queries_or_skip(benchmark::State& state) {
  QUERIES& q = queries();
  if (q.m_design.netlist) return &q;
  state.SkipWithError(q.m_design.error.c_str());
  return nullptr;
}

// The plain search of the crossing rule, allocating per query.
bool plain_iterm_crosses(CDB_SGATE_ITERM* iterm, size_t* visited) {
  unsigned p = iterm->get_port_type();
  if (p == 7 || p == 35 || p == 36 || p == 84 || p == 85 || p == 96 || p == 97 || !iterm->get_source()) return false;
  KAVU_TESK_CLOCK own = kavu_tesk_get_driving_clock(iterm);
  std::deque<CDB_SGATE_OTERM*> queue{iterm->get_source()};
  std::unordered_set<CDB_SGATE_OTERM*> seen{iterm->get_source()};
  while (!queue.empty()) {
    CDB_SGATE_OTERM* o = queue.front();
    queue.pop_front();
    CDB_SGATE_NODE* n = o->get_my_node();
    if (kavu_tesk_is_clocked_type(n->get_sgate_type())) {
      KAVU_TESK_CLOCK c = kavu_tesk_get_driving_clock(o);
      if (c.m_clock && (c.m_clock == DUMMY_CLOCK_TERM_FACTORY::get_oterm() || c.m_clock != own.m_clock)) {
        *visited += seen.size();
        return true;
      }
      continue;
    }
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      CDB_SGATE_OTERM* src = n->get_fanin_term(i);
      if (src && seen.insert(src).second) queue.push_back(src);
    }
  }
  *visited += seen.size();
  return false;
}

bool plain_oterm_crosses(CDB_SGATE_OTERM* oterm, size_t* visited) {
  KAVU_TESK_CLOCK own = kavu_tesk_get_driving_clock(oterm);
  std::deque<CDB_SGATE_ITERM*> queue;
  std::unordered_set<CDB_SGATE_ITERM*> seen;
  for (CDB_SGATE_ITERM* t : oterm->fanouts())
    if (seen.insert(t).second) queue.push_back(t);
  while (!queue.empty()) {
    CDB_SGATE_ITERM* t = queue.front();
    queue.pop_front();
    CDB_SGATE_NODE* n = t->get_my_node();
    if (kavu_tesk_is_clocked_type(n->get_sgate_type())) {
      KAVU_TESK_CLOCK c = kavu_tesk_get_driving_clock(t);
      if (c.m_clock && (c.m_clock == DUMMY_CLOCK_TERM_FACTORY::get_oterm() || c.m_clock != own.m_clock)) {
        *visited += seen.size();
        return true;
      }
      continue;
    }
    for (CDB_SGATE_OTERM* o : n->get_output_terms()) {
      if (!o) continue;
      for (CDB_SGATE_ITERM* f : o->fanouts())
        if (seen.insert(f).second) queue.push_back(f);
    }
  }
  *visited += seen.size();
  return false;
}

void BM_DrivingClock(benchmark::State& state) {
  QUERIES* found = queries_or_skip(state);
  if (!found) return;
  QUERIES& q = *found;
  size_t n = 0;
  for (auto _ : state) {
    for (CDB_SGATE_ITERM* t : q.m_clock_iterms) benchmark::DoNotOptimize(kavu_tesk_get_driving_clock(t));
    for (CDB_SGATE_OTERM* o : q.m_clock_oterms) benchmark::DoNotOptimize(kavu_tesk_get_driving_clock(o));
    n += q.m_clock_iterms.size() + q.m_clock_oterms.size();
  }
  state.counters["queries"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
  state.SetLabel(largest_bundled());
}

void BM_CrossingQueries(benchmark::State& state) {
  QUERIES* found = queries_or_skip(state);
  if (!found) return;
  QUERIES& q = *found;
  size_t n = 0, crossing = 0;
  for (auto _ : state) {
    for (CDB_SGATE_ITERM* t : q.m_reg_inputs) crossing += kavu_tesk_iterm_crosses_clock_domain(t);
    for (CDB_SGATE_OTERM* o : q.m_reg_outputs) crossing += kavu_tesk_oterm_crosses_clock_domain(o);
    n += q.m_reg_inputs.size() + q.m_reg_outputs.size();
  }
  state.counters["queries"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
  state.counters["crossing"] = double(crossing) / double(state.iterations());
}

void BM_CrossingFreshSearch(benchmark::State& state) {
  QUERIES* found = queries_or_skip(state);
  if (!found) return;
  QUERIES& q = *found;
  size_t n = 0, visited = 0;
  static bool checked = false;
  if (!checked) {
    size_t v = 0;
    for (CDB_SGATE_ITERM* t : q.m_reg_inputs)
      if (plain_iterm_crosses(t, &v) != kavu_tesk_iterm_crosses_clock_domain(t)) state.SkipWithError("answers differ");
    for (CDB_SGATE_OTERM* o : q.m_reg_outputs)
      if (plain_oterm_crosses(o, &v) != kavu_tesk_oterm_crosses_clock_domain(o)) state.SkipWithError("answers differ");
    checked = true;
  }
  for (auto _ : state) {
    for (CDB_SGATE_ITERM* t : q.m_reg_inputs) benchmark::DoNotOptimize(plain_iterm_crosses(t, &visited));
    for (CDB_SGATE_OTERM* o : q.m_reg_outputs) benchmark::DoNotOptimize(plain_oterm_crosses(o, &visited));
    n += q.m_reg_inputs.size() + q.m_reg_outputs.size();
  }
  state.counters["queries"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
  state.counters["visited"] = n ? double(visited) / double(n) : 0.0;
}

BENCHMARK(BM_DrivingClock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrossingQueries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CrossingFreshSearch)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return kavu_bench::run_benchmarks(argc, argv); }
