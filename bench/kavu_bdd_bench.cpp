// kavu_bdd_bench.cpp — our BDD package beside BuDDy on the same work, and
// the LUT unmapper's BDD form.
//
//   BM_ConesOurs/<c>, BM_ConesBuddy/<c>   the BDD of every LUT cone of a
//        mapped circuit (lut6/sin: 6-input LUTs; mcnc/des: 4-input LUTs),
//        each built as the OR of its minterm cubes over variables 0..n-1
//        and released; one manager for all. Counter: nodes (sum of the
//        cones' node counts, terminals excluded).
//   BM_BuildOurs/<c>, BM_BuildBuddy/<c>   the BDDs of all outputs of an EPFL
//        control circuit, variables in the file's input order, every gate
//        by its LUT mask. Counter: live nodes after the build.
//   BM_SiftOurs/<c>, BM_SiftBuddy/<c>     the same build (untimed), then one
//        full sifting (timed). Counters: nodes before and after.
//   BM_UnmapForm/<form>/<c>               every LUT of lut6/sin or mcnc/des
//        unmapped by the factored (1) or the BDD (2) form. Counter: LUTs
//        per second.
//   BM_SanityAllMasks/<form>/<n>          every 4-input mask (n = 4), or
//        10^5 random 6-input masks (n = 6), unmapped with the sanity check
//        on and inverted, tied and duplicate inputs (the full counts of the
//        test suite's share); one iteration each.
// The ratio table after the run: ours / BuDDy for cones, build and sifting.
// Both packages run with their own defaults, no automatic reordering; making
// and freeing a manager (BuDDy's bdd_init/bdd_done) is outside the timed
// region. Our node counts use complement edges, BuDDy's do not.
#include <benchmark/benchmark.h>
#include <bdd.h>

#include <cstdio>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bdd/bdd_zbdd.h"
#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "kavu_helper_predicates.h"
#include "kavu_lut_unmapper.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

// A circuit as plain data: variables 0..inputs-1 are the input pins in file
// order; gates in topological order read signals (variables first, then
// gate outputs), inverted where marked; -1 is a constant 1 (0 when
// inverted).
struct GATE {
  uint64_t mask;
  std::vector<int> in;
  std::vector<bool> inv;
};
struct CIRCUIT {
  int inputs = 0;
  std::vector<GATE> gates;
  std::vector<std::pair<int, bool>> outputs;
  std::string error;
};

CIRCUIT extract(const std::string& name) {
  CIRCUIT c;
  BLIF_RESULT loaded = blif_read_file(bundled_circuit(name));
  if (!loaded.netlist) {
    c.error = loaded.error;
    return c;
  }
  std::map<const CDB_SGATE_OTERM*, int> signal;
  std::vector<CDB_SGATE_LUT*> luts;
  std::vector<const CDB_SGATE_NODE*> outs;
  for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it) {
    if (!*it) continue;
    if (kavu_is_a_input_pin(*it)) signal[(*it)->get_output_term(0)] = c.inputs++;
    else if (kavu_is_a_lut(*it)) luts.push_back((*it)->cast_to_lut());
    else if (kavu_is_a_pin(*it)) outs.push_back(*it);
  }
  // Kahn order over the LUTs.
  std::vector<bool> done(luts.size(), false);
  size_t placed = 0;
  while (placed < luts.size()) {
    const size_t before = placed;
    for (size_t k = 0; k < luts.size(); ++k) {
      if (done[k]) continue;
      GATE g;
      g.mask = luts[k]->get_lut_mask().get_value();
      bool ready = true;
      for (const CDB_SGATE_ITERM* t : luts[k]->get_input_terms()) {
        const CDB_SGATE_OTERM* s = t ? t->get_source() : nullptr;
        if (s && !signal.count(s)) {
          ready = false;
          break;
        }
        g.in.push_back(s ? signal[s] : -1);
        g.inv.push_back(t && t->is_inverted());
      }
      if (!ready) continue;
      signal[luts[k]->get_output_term(0)] = c.inputs + int(c.gates.size());
      c.gates.push_back(std::move(g));
      done[k] = true;
      ++placed;
    }
    if (placed == before) {
      c.error = "not combinational";
      break;
    }
  }
  for (const CDB_SGATE_NODE* o : outs) {
    const CDB_SGATE_ITERM* t = o->get_input_term(0);
    if (t && t->get_source() && signal.count(t->get_source()))
      c.outputs.push_back({signal[t->get_source()], t->is_inverted()});
  }
  release(loaded);
  return c;
}

const CIRCUIT& circuit(const std::string& name) {
  static std::map<std::string, CIRCUIT> cache;
  auto it = cache.find(name);
  if (it == cache.end()) it = cache.emplace(name, extract(name)).first;
  return it->second;
}

// One LUT's function from its inputs: an if-then-else tree over the mask.
template <class B, class ITE>
B mask_tree(uint64_t mask, const std::vector<B>& x, int v, int lo, int hi, const B& one, const B& zero, ITE ite) {
  if (lo == hi) return ((mask >> lo) & 1u) ? one : zero;
  const int mid = (lo + hi) / 2;
  return ite(x[v], mask_tree(mask, x, v - 1, mid + 1, hi, one, zero, ite), mask_tree(mask, x, v - 1, lo, mid, one, zero, ite));
}

// ---- ours ----
struct OURS {
  BDD_ZBDD_MGR mgr;
  std::vector<BDD_ZBDD> sig;
  explicit OURS(int vars) : mgr(vars, 1 << 16, 1 << 18, true, false) {}
  void build(const CIRCUIT& c) {
    sig.clear();
    for (int i = 0; i < c.inputs; ++i) sig.push_back(mgr.ithvar(i));
    const BDD_ZBDD one = mgr.true_bdd(), zero = mgr.false_bdd();
    std::vector<BDD_ZBDD> x;
    for (const GATE& g : c.gates) {
      x.clear();
      for (size_t i = 0; i < g.in.size(); ++i) {
        const BDD_ZBDD s = g.in[i] < 0 ? one : sig[g.in[i]];
        x.push_back(g.inv[i] ? !s : s);
      }
      const int n = int(x.size());
      sig.push_back(n == 0 ? ((g.mask & 1) ? one : zero)
                           : mask_tree(g.mask, x, n - 1, 0, (1 << n) - 1, one, zero,
                                       [](const BDD_ZBDD& f, const BDD_ZBDD& t, const BDD_ZBDD& e) { return f.Ite(t, e); }));
    }
    // Keep only the outputs.
    std::vector<BDD_ZBDD> outs;
    for (const auto& o : c.outputs) outs.push_back(o.second ? !sig[o.first] : sig[o.first]);
    sig.swap(outs);
    mgr.garbage_collect();
  }
};

// ---- BuDDy ----
struct BUDDY {
  std::vector<bdd> sig;
  explicit BUDDY(int vars) {
    bdd_init(1 << 16, 1 << 15);
    bdd_setvarnum(vars);
    bdd_gbc_hook(nullptr);
    bdd_autoreorder(BDD_REORDER_NONE);
  }
  ~BUDDY() {
    sig.clear();
    bdd_done();
  }
  void build(const CIRCUIT& c) {
    sig.clear();
    for (int i = 0; i < c.inputs; ++i) sig.push_back(bdd_ithvar(i));
    const bdd one = bddtrue, zero = bddfalse;
    std::vector<bdd> x;
    for (const GATE& g : c.gates) {
      x.clear();
      for (size_t i = 0; i < g.in.size(); ++i) {
        const bdd s = g.in[i] < 0 ? one : sig[g.in[i]];
        x.push_back(g.inv[i] ? !s : s);
      }
      const int n = int(x.size());
      sig.push_back(n == 0 ? ((g.mask & 1) ? one : zero)
                           : mask_tree(g.mask, x, n - 1, 0, (1 << n) - 1, one, zero,
                                       [](const bdd& f, const bdd& t, const bdd& e) { return bdd_ite(f, t, e); }));
    }
    std::vector<bdd> outs;
    for (const auto& o : c.outputs) outs.push_back(o.second ? !sig[o.first] : sig[o.first]);
    sig.swap(outs);
    bdd_gbc();
  }
  static int live() { return bdd_getnodenum(); }
};

const char* const kControl[] = {"epfl/ctrl", "epfl/int2float", "epfl/router", "epfl/cavlc", "epfl/i2c"};
const char* const kCones[] = {"lut6/sin", "mcnc/des"};

// (a) every LUT cone as the OR of its minterm cubes.
void BM_ConesOurs(benchmark::State& state) {
  const CIRCUIT& c = circuit(kCones[state.range(0)]);
  state.SetLabel(kCones[state.range(0)]);
  long nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto owned = std::make_unique<BDD_ZBDD_MGR>(6, 1 << 12, 1 << 14, true, false);
    BDD_ZBDD_MGR& mgr = *owned;
    std::vector<BDD_ZBDD> v;
    for (int i = 0; i < 6; ++i) v.push_back(mgr.ithvar(i));
    nodes = 0;
    state.ResumeTiming();
    for (const GATE& g : c.gates) {
      const unsigned n = unsigned(g.in.size());
      BDD_ZBDD f = mgr.false_bdd();
      for (unsigned m = 0; m < (1u << n); ++m)
        if ((g.mask >> m) & 1u) f |= mgr.build_cube(v, m, int(n));
      nodes += f.size() - 1;
    }
    state.PauseTiming();
    v.clear();
    owned.reset();
    state.ResumeTiming();
  }
  state.counters["nodes"] = double(nodes);
}

void BM_ConesBuddy(benchmark::State& state) {
  const CIRCUIT& c = circuit(kCones[state.range(0)]);
  state.SetLabel(kCones[state.range(0)]);
  long nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto b = std::make_unique<BUDDY>(6);
    std::vector<bdd> v;
    for (int i = 0; i < 6; ++i) v.push_back(bdd_ithvar(i));
    nodes = 0;
    state.ResumeTiming();
    for (const GATE& g : c.gates) {
      const unsigned n = unsigned(g.in.size());
      bdd f = bddfalse;
      for (unsigned m = 0; m < (1u << n); ++m) {
        if (((g.mask >> m) & 1u) == 0) continue;
        bdd cube = bddtrue;
        for (unsigned i = 0; i < n; ++i) cube &= ((m >> i) & 1u) ? v[i] : !v[i];
        f |= cube;
      }
      nodes += bdd_nodecount(f);
    }
    state.PauseTiming();
    v.clear();
    b.reset();
    state.ResumeTiming();
  }
  state.counters["nodes"] = double(nodes);
}

// (b) all outputs in the file's order, then sifted.
void BM_BuildOurs(benchmark::State& state) {
  const CIRCUIT& c = circuit(kControl[state.range(0)]);
  state.SetLabel(kControl[state.range(0)]);
  if (!c.error.empty()) return state.SkipWithError(c.error.c_str());
  int nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto o = std::make_unique<OURS>(c.inputs);
    state.ResumeTiming();
    o->build(c);
    state.PauseTiming();
    nodes = o->mgr.size() - 1;
    o.reset();
    state.ResumeTiming();
  }
  state.counters["nodes"] = nodes;
}

void BM_BuildBuddy(benchmark::State& state) {
  const CIRCUIT& c = circuit(kControl[state.range(0)]);
  state.SetLabel(kControl[state.range(0)]);
  if (!c.error.empty()) return state.SkipWithError(c.error.c_str());
  int nodes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto b = std::make_unique<BUDDY>(c.inputs);
    state.ResumeTiming();
    b->build(c);
    state.PauseTiming();
    nodes = BUDDY::live() - 2;
    b.reset();
    state.ResumeTiming();
  }
  state.counters["nodes"] = nodes;
}

void BM_SiftOurs(benchmark::State& state) {
  const CIRCUIT& c = circuit(kControl[state.range(0)]);
  state.SetLabel(kControl[state.range(0)]);
  int before = 0, after = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto o = std::make_unique<OURS>(c.inputs);
    o->build(c);
    before = o->mgr.size() - 1;
    state.ResumeTiming();
    o->mgr.sifting_reorder(0, 0, -1);
    state.PauseTiming();
    after = o->mgr.size() - 1;
    o.reset();
    state.ResumeTiming();
  }
  state.counters["before"] = before;
  state.counters["after"] = after;
}

void BM_SiftBuddy(benchmark::State& state) {
  const CIRCUIT& c = circuit(kControl[state.range(0)]);
  state.SetLabel(kControl[state.range(0)]);
  int before = 0, after = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto b = std::make_unique<BUDDY>(c.inputs);
    bdd_varblockall();
    b->build(c);
    before = BUDDY::live() - 2;
    state.ResumeTiming();
    bdd_reorder(BDD_REORDER_SIFT);
    state.PauseTiming();
    bdd_gbc();
    after = BUDDY::live() - 2;
    b.reset();
    state.ResumeTiming();
  }
  state.counters["before"] = before;
  state.counters["after"] = after;
}

// LUTs per second of the factored and the BDD form.
void BM_UnmapForm(benchmark::State& state) {
  const auto form = KAVU_LUT_UNMAPPER::RESULT_FORM(state.range(0));
  const std::string name = kCones[state.range(1)];
  state.SetLabel(std::string(form == KAVU_LUT_UNMAPPER::FACTORED ? "factored/" : "bdd/") + name);
  long luts = 0;
  for (auto _ : state) {
    state.PauseTiming();
    BLIF_RESULT loaded = read_or_skip(state, bundled_circuit(name));
    if (!loaded.netlist) return;
    std::vector<CDB_SGATE_LUT*> work;
    for (auto it = loaded.netlist->begin_node_list(); it != loaded.netlist->end_node_list(); ++it)
      if (*it && kavu_is_a_lut(*it)) work.push_back((*it)->cast_to_lut());
    KAVU_LUT_UNMAPPER unmapper(form, false, false);
    state.ResumeTiming();
    std::list<CDB_SGATE_NODE*> nodes;
    for (CDB_SGATE_LUT* lut : work) {
      nodes.clear();
      unmapper.convert_lut_to_logic(lut, &nodes);
      for (CDB_SGATE_NODE* g : nodes) loaded.netlist->add_node(g, true);
    }
    luts += long(work.size());
    state.PauseTiming();
    release(loaded);
    state.ResumeTiming();
  }
  state.counters["luts_per_s"] = benchmark::Counter(double(luts), benchmark::Counter::kIsRate);
}

// Pins and a LUT between them (unnamed: nothing here compares by name).
CDB_SGATE_NODE* new_pin(CDB_SGATE_NETLIST* nl, CDB_IO_TYPE type, CDB_SGATE_NODE* src = nullptr) {
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, type);
  if (src) pin->get_input_term(0)->set_source(src->get_output_term(0));
  nl->add_node(pin);
  return pin;
}

CDB_SGATE_LUT* new_lut(CDB_SGATE_NETLIST* nl, const std::vector<CDB_SGATE_NODE*>& inputs, uint64_t mask) {
  CDB_LUTMASK m;
  m.set_value(unsigned(inputs.size()), mask);
  CDB_SGATE_LUT* g = new CDB_SGATE_LUT(nullptr, m);
  for (unsigned i = 0; i < inputs.size(); ++i) {
    CDB_SGATE_ITERM* t = g->create_input_term(nullptr);
    g->set_input_term(t, i);
    t->set_source(inputs[i]->get_output_term(0));
  }
  nl->add_node(g);
  return g;
}

// The sanity sweep at its full count: one LUT per mask between pins, its
// inputs cycling through plain, inverted, tied and duplicate shapes.
void BM_SanityAllMasks(benchmark::State& state) {
  const auto form = KAVU_LUT_UNMAPPER::RESULT_FORM(state.range(0));
  const unsigned n = unsigned(state.range(1));
  const unsigned count = n == 4 ? 65536 : 100000;
  for (auto _ : state) {
    KAVU_LUT_UNMAPPER cached(form, true, true), plain(form, false, true);
    std::mt19937_64 rng(99);
    for (unsigned k = 0; k < count; ++k) {
      const uint64_t mask = n == 4 ? k : rng();
      CDB_SGATE_NETLIST nl;
      std::vector<CDB_SGATE_NODE*> pins;
      for (unsigned i = 0; i < n; ++i) pins.push_back(new_pin(&nl, CDB_IO_INPUT));
      CDB_SGATE_LUT* lut = new_lut(&nl, pins, n == 4 ? mask & 0xFFFF : mask);
      switch (k % 5) {
        case 1: lut->get_input_term(1)->invert(); break;
        case 2: lut->get_input_term(n - 1)->set_vcc(); break;
        case 3: lut->get_input_term(2)->set_gnd(); break;
        case 4: lut->get_input_term(n - 1)->set_source(pins[0]->get_output_term(0)); break;
        default: break;
      }
      new_pin(&nl, CDB_IO_OUTPUT, lut);
      std::list<CDB_SGATE_NODE*> nodes;
      (k % 2 ? cached : plain).convert_lut_to_logic(lut, &nodes);
      for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
    }
  }
  state.counters["luts_per_s"] = benchmark::Counter(double(count), benchmark::Counter::kIsRate);
}

const PEER_PAIR PAIRS[] = {{"BM_ConesOurs", "BM_ConesBuddy"},
                           {"BM_BuildOurs", "BM_BuildBuddy"},
                           {"BM_SiftOurs", "BM_SiftBuddy"}};

}  // namespace

BENCHMARK(BM_ConesOurs)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConesBuddy)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildOurs)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildBuddy)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SiftOurs)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SiftBuddy)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnmapForm)->ArgsProduct({{1, 2}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SanityAllMasks)->ArgsProduct({{0, 1, 2}, {4, 6}})->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PAIRS); }
