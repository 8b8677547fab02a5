// kavu_td_critical_bench.cpp — figures of the critical-terminal search.
//
//   BM_CriticalOterms       kavu_find_critical_oterms_for_crit_clock_assignment
//                           on a generated design of 10^5 registers in 4
//                           clock domains (25 000 each, every data input a
//                           3-input XOR over registers of any domain) with
//                           critical-clock assignments clk0 -> clk1,
//                           clk2 -> clk3 and clk1 -> clk1: output terminals
//                           per second, critical terminals found
//   BM_CriticalOtermsNaive  the same answer by ordered-set cone intersection
//                           (forward cone of the from-registers, backward
//                           cone of the to-registers, per pair): the same
//                           rate, for the ratio ours / naive
// Generation is outside the timed region. Figures only; nothing is asserted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>
#include <string>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_td_critical.h"
#include "kavu_td_helper.h"

using namespace kavu_platform;

namespace {

constexpr int kDomains = 4;
constexpr int kRegisters = 100000;

struct DESIGN {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> clocks;
  std::vector<std::vector<CDB_SGATE_NODE*>> regs;
  long oterms = 0;
};

CDB_SGATE_NODE* make_clock(CDB_SGATE_NETLIST* nl, const std::string& text) {
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* n = HDB_INSTANCE_NAME::create_normal_name(nullptr, text.c_str(), nullptr, nullptr, top);
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(n, CDB_IO_INPUT);
  pin->get_output_term(0)->set_instance_name(n);
  nl->add_node(pin);
  return pin;
}

CDB_SGATE_NODE* make_register(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* clk) {
  CDB_SGATE_DFF* g = new CDB_SGATE_DFF(nullptr);
  g->create_all_inputs();
  g->get_input_term(CDB_DFF_CLK)->set_source(clk->get_output_term(0));
  nl->add_node(g);
  return g;
}

CDB_SGATE_NODE* make_xor3(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* a, CDB_SGATE_NODE* b, CDB_SGATE_NODE* c) {
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR);
  for (CDB_SGATE_NODE* in : {a, b, c}) g->add_unordered_fanin_from_oterm(nullptr, false, in->get_output_term(0));
  nl->add_node(g);
  return g;
}

DESIGN* design() {
  static std::unique_ptr<DESIGN> d;
  if (d) return d.get();
  d = std::make_unique<DESIGN>();
  std::mt19937 rng(11);
  d->regs.resize(kDomains);
  std::vector<CDB_SGATE_NODE*> all;
  for (int c = 0; c < kDomains; ++c) d->clocks.push_back(make_clock(&d->nl, "clk" + std::to_string(c)));
  for (int i = 0; i < kRegisters; ++i) {
    CDB_SGATE_NODE* r = make_register(&d->nl, d->clocks[i % kDomains]);
    d->regs[i % kDomains].push_back(r);
    all.push_back(r);
  }
  for (CDB_SGATE_NODE* r : all) {
    CDB_SGATE_NODE* x = make_xor3(&d->nl, all[rng() % all.size()], all[rng() % all.size()], all[rng() % all.size()]);
    x->get_output_term(0)->insert_fanout(kavu_get_dff_data(r));
  }
  auto name = [](CDB_SGATE_NODE* pin) { return pin->get_output_term(0)->get_instance_name(); };
  hdb_set_assignment(name(d->clocks[1]), KAVU_ACF_SYNTH_CRITICAL_CLOCK, "on", name(d->clocks[0]));
  hdb_set_assignment(name(d->clocks[3]), KAVU_ACF_SYNTH_CRITICAL_CLOCK, "on", name(d->clocks[2]));
  hdb_set_option(name(d->clocks[1]), KAVU_ACF_SYNTH_CRITICAL_CLOCK, "on");
  for (auto it = d->nl.begin_node_list(); it != d->nl.end_node_list(); ++it)
    if (*it) d->oterms += (*it)->get_output_count();
  return d.get();
}

void BM_CriticalOterms(benchmark::State& state) {
  DESIGN* d = design();
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(6));
  facade.set_namespace(hdb_default_namespace());
  std::vector<CDB_SGATE_OTERM*> out;
  for (auto _ : state) {
    kavu_find_critical_oterms_for_crit_clock_assignment(&facade, &d->nl, &out, false);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["critical"] = double(out.size());
  state.SetItemsProcessed(state.iterations() * d->oterms);
}

void BM_CriticalOtermsNaive(benchmark::State& state) {
  DESIGN* d = design();
  const std::pair<int, int> pairs[] = {{0, 1}, {2, 3}, {1, 1}};
  size_t found = 0;
  for (auto _ : state) {
    std::set<CDB_SGATE_OTERM*> result;
    for (auto [f, t] : pairs) {
      std::set<CDB_SGATE_OTERM*> fwd, bwd;
      std::vector<CDB_SGATE_OTERM*> todo;
      for (auto* r : d->regs[f]) todo.push_back(r->get_output_term(0));
      fwd.insert(todo.begin(), todo.end());
      while (!todo.empty()) {
        CDB_SGATE_OTERM* o = todo.back();
        todo.pop_back();
        for (CDB_SGATE_ITERM* in : o->fanouts())
          if (kavu_sgate_is_comb(in->get_my_node()))
            for (CDB_SGATE_OTERM* n : in->get_my_node()->get_output_terms())
              if (fwd.insert(n).second) todo.push_back(n);
      }
      for (auto* r : d->regs[t])
        if (CDB_SGATE_OTERM* s = kavu_get_dff_data(r)->get_source_oterm())
          if (bwd.insert(s).second) todo.push_back(s);
      while (!todo.empty()) {
        CDB_SGATE_OTERM* o = todo.back();
        todo.pop_back();
        if (!kavu_sgate_is_comb(o->get_my_node())) continue;
        for (CDB_SGATE_ITERM* in : o->get_my_node()->get_input_terms())
          if (in && in->get_source_oterm() && bwd.insert(in->get_source_oterm()).second) todo.push_back(in->get_source_oterm());
      }
      for (CDB_SGATE_OTERM* o : fwd)
        if (bwd.count(o)) result.insert(o);
    }
    found = result.size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["critical"] = double(found);
  state.SetItemsProcessed(state.iterations() * d->oterms);
}

BENCHMARK(BM_CriticalOterms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CriticalOtermsNaive)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return kavu_bench::run_benchmarks(argc, argv); }
