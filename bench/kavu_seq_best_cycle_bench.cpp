// kavu_seq_best_cycle_bench.cpp — the sequential timer's best cycle time
// with movable registers beside Howard's maximum cycle ratio (Boost Graph)
// over the same register graph.
//
// Circuits: the bundled sequential designs (diffeq1 the largest), and a
// generated netlist of 100,000 registers over four clocks with large
// feedback loops: each step adds a register and four two-input gates
// reading the step's own gates and the 64 most recent registers of its
// clock, and the last gate feeds a register up to 32 steps back, so that
// overlapping windows close loops through most of the registers of a clock.
// 64 output pins read registers (fixed ones).
//
// The reference graph follows the timer's arc rules: a vertex per movable
// register and one vertex S for every start and end that does not move
// (fixed registers, pins); an arc from a start to every register input the
// timer times (data, enable, synchronous load and clear: never the clock or
// an asynchronous control) or output pin its combinational fan-out reaches,
// weighted by the longest delay there and with transit one (each arc ends
// at a register or an end point). Delays are the timer's model (the same
// decomposition fan-in and huge-gate limit): a comb gate costs one gate
// delay per input up to the decomposition fan-in (none with one connected
// input), buffers, LUTs and muxes their arc delay for the inputs the output
// depends on, an output pin its arc delay. Paths from a pin to a pin meet
// no clock and are left out, as the timer leaves its unclocked domain. The
// fixed registers are the timer's (taken from one run before the timed
// loops). The best cycle time is then the maximum cycle ratio rounded up
// (at least 1). Gates outside these rules (wider comb gates, whose tree
// depends on arrival; atoms, operators, carry cells) make the reference
// refuse the design.
//
//   BM_SeqBestCycleTime/c/build   construction (terminal indexing) +
//                                 calculate_best_cycle_time
//   BM_SeqBestCycleTime/c/solve   calculate_best_cycle_time alone, on a
//                                 timer constructed outside the timed region
//   BM_HowardCycleRatio/c/build   the reference graph built from the netlist
//                                 + maximum_cycle_ratio
//   BM_HowardCycleRatio/c/solve   maximum_cycle_ratio alone, on the graph
//                                 built before the timed loop
// Counters: registers, arcs of the reference graph, the timer's fit tests,
// cycle (the timer's largest best cycle time over its domains; the
// reference's rounded-up ratio). The ratio table pairs build with build and
// solve with solve. The reference fails its benchmark (an error) when its
// cycle time differs from the timer's.
#include <benchmark/benchmark.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/howard_cycle_ratio.hpp>
#pragma GCC diagnostic pop

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "kavu_delay_model_seq.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_seq_timer.h"
#include "netlist_io/blif.h"

using namespace kavu_platform;
using namespace kavu_bench;

namespace {

constexpr int kDecompFanin = 2, kHugeGate = 200;

typedef boost::adjacency_list<
    boost::vecS, boost::vecS, boost::directedS, boost::no_property,
    boost::property<boost::edge_weight_t, double, boost::property<boost::edge_weight2_t, double>>>
    RATIO_GRAPH;

struct BENCH_CASE {
  const char* label = "";
  CDB_SGATE_NETLIST* netlist = nullptr;
  std::vector<char> fixed;  // per node-list position: the timer fixed this register
  RATIO_GRAPH graph;        // the reference graph, built once for the solve figures
  size_t registers = 0;
  size_t arcs = 0;
  int fit_tests = 0;
  int timer_cycle = 0;
  int reference_cycle = 0;
  std::string refused;  // why the reference cannot model the design
};

bool is_reg(const CDB_SGATE_NODE* g) { return g->get_sgate_type() == CDB_SGATE_DFF_ENUM; }
bool driven(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source(); }

// The reference graph from the netlist. Dense ids live in the output
// terminals' aux values (id + 1) while it is built; per source, its comb
// cone is collected with a stamp, relaxed in the global fan-in-first order
// and its ends become arcs.
class REFERENCE_BUILDER {
 public:
  REFERENCE_BUILDER(CDB_SGATE_NETLIST* netlist, const std::vector<char>& fixed)
      : m_netlist(netlist), m_fixed(fixed), m_model(false, kDecompFanin, kHugeGate) {}

  // False with the reason when a gate lies outside the reference's rules.
  bool build(RATIO_GRAPH& graph, size_t& arcs, std::string& why) {
    if (!number_terminals(why)) return false;
    order_comb_terminals();
    graph = RATIO_GRAPH(m_vertices);
    arcs = 0;
    for (size_t s = 0; s < m_oterms.size(); ++s) {
      if (m_comb[s]) continue;
      arcs_from(s, graph, arcs);
    }
    return true;
  }

 private:
  size_t id(const CDB_SGATE_OTERM* o) const { return size_t(o->get_aux() - 1); }

  bool number_terminals(std::string& why) {
    size_t position = 0;
    m_vertices = 1;  // S
    for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it, ++position) {
      CDB_SGATE_NODE* g = *it;
      if (!g) continue;
      const bool reg = is_reg(g), through = !reg && m_model.look_through_sgate(g);
      const CDB_SGATE_TYPE type = g->get_sgate_type();
      if (!reg && type != CDB_SGATE_IO_ENUM && type != CDB_SGATE_COMB_ENUM && type != CDB_SGATE_BUFFER_ENUM &&
          type != CDB_SGATE_LUT_ENUM && type != CDB_SGATE_MUX_ENUM) {
        why = "gate type " + std::to_string(int(type)) + " is outside the reference's rules";
        return false;
      }
      if (type == CDB_SGATE_COMB_ENUM) {
        int connected = 0;
        for (const CDB_SGATE_ITERM* t : g->get_input_terms()) connected += driven(t);
        if (connected > kDecompFanin) {
          why = "a comb gate wider than the decomposition fan-in (its tree depends on arrival)";
          return false;
        }
      }
      const size_t vertex = reg && !m_fixed[position] ? m_vertices++ : 0;
      for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
        if (!o) continue;
        m_oterms.push_back(o);
        m_comb.push_back(through);
        m_vertex.push_back(vertex);
        o->set_aux(int(m_oterms.size()));
      }
    }
    m_dist.assign(m_oterms.size(), 0);
    m_stamp.assign(m_oterms.size(), 0);
    m_best.assign(m_vertices, 0);
    m_best_stamp.assign(m_vertices, 0);
    return true;
  }

  // Kahn's order over the comb terminals (sources outside the comb logic
  // count as placed).
  void order_comb_terminals() {
    std::vector<int> pending(m_oterms.size(), 0);
    std::vector<size_t> queue;
    for (size_t i = 0; i < m_oterms.size(); ++i) {
      if (!m_comb[i]) continue;
      for (const CDB_SGATE_ITERM* t : m_oterms[i]->get_my_node()->get_input_terms())
        if (t && t->get_source() && m_comb[id(t->get_source())]) ++pending[i];
      if (pending[i] == 0) queue.push_back(i);
    }
    m_order.assign(m_oterms.size(), 0);
    for (size_t k = 0; k < queue.size(); ++k) {
      m_order[queue[k]] = k;
      for (const CDB_SGATE_ITERM* t : m_oterms[queue[k]]->fanouts())
        for (CDB_SGATE_OTERM* o : t->get_my_node()->get_output_terms())
          if (o && m_comb[id(o)] && --pending[id(o)] == 0) queue.push_back(id(o));
    }
  }

  // The delay from input t to output o of a look-through gate, or -1 when
  // o does not depend on t.
  int arc_delay(CDB_SGATE_NODE* g, CDB_SGATE_ITERM* t, CDB_SGATE_OTERM* o) {
    if (g->get_sgate_type() == CDB_SGATE_COMB_ENUM) {
      int connected = 0;
      for (const CDB_SGATE_ITERM* i : g->get_input_terms()) connected += driven(i);
      return connected <= 1 ? 0 : m_model.get_delay(g, nullptr, nullptr);
    }
    if (!kavu_oterm_depends_on_iterm(g, o, t, true, true, false, false)) return -1;
    return m_model.get_delay(g, t, o);
  }

  static bool timed_register_input(const CDB_SGATE_NODE* reg, const CDB_SGATE_ITERM* t) {
    return t == kavu_get_dff_data(reg) || t == kavu_get_dff_enable(reg) || t == kavu_get_dff_sload(reg) ||
           t == kavu_get_dff_sclear(reg);
  }

  void arcs_from(size_t s, RATIO_GRAPH& graph, size_t& arcs) {
    ++m_round;
    CDB_SGATE_OTERM* source = m_oterms[s];
    const bool source_is_pin = !is_reg(source->get_my_node());
    m_cone.clear();
    m_stack.assign(1, s);
    m_stamp[s] = m_round;
    m_dist[s] = 0;
    while (!m_stack.empty()) {
      const size_t v = m_stack.back();
      m_stack.pop_back();
      for (const CDB_SGATE_ITERM* t : m_oterms[v]->fanouts())
        for (CDB_SGATE_OTERM* o : t->get_my_node()->get_output_terms())
          if (o && m_comb[id(o)] && m_stamp[id(o)] != m_round) {
            m_stamp[id(o)] = m_round;
            m_dist[id(o)] = -1;
            m_cone.push_back(id(o));
            m_stack.push_back(id(o));
          }
    }
    std::sort(m_cone.begin(), m_cone.end(), [&](size_t a, size_t b) { return m_order[a] < m_order[b]; });
    for (size_t v : m_cone) {
      CDB_SGATE_OTERM* o = m_oterms[v];
      CDB_SGATE_NODE* g = o->get_my_node();
      for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
        if (!driven(t) || m_stamp[id(t->get_source())] != m_round) continue;
        const long from = m_dist[id(t->get_source())];
        const int d = from < 0 ? -1 : arc_delay(g, t, o);
        if (d >= 0) m_dist[v] = std::max(m_dist[v], from + d);
      }
    }
    // The ends: timed register inputs and output pins.
    m_touched.clear();
    m_cone.push_back(s);
    for (size_t v : m_cone) {
      if (m_dist[v] < 0) continue;
      for (CDB_SGATE_ITERM* t : m_oterms[v]->fanouts()) {
        CDB_SGATE_NODE* load = t->get_my_node();
        long d = m_dist[v];
        size_t to = 0;
        if (is_reg(load)) {
          if (!timed_register_input(load, t)) continue;
          to = m_vertex[id(load->get_output_term(0))];
        } else if (load->get_sgate_type() == CDB_SGATE_IO_ENUM) {
          if (source_is_pin) continue;  // unclocked: no domain times it
          d += m_model.get_delay(load, t, load->get_output_term(0));
        } else {
          continue;  // a comb gate inside the cone
        }
        if (m_best_stamp[to] != m_round) {
          m_best_stamp[to] = m_round;
          m_best[to] = d;
          m_touched.push_back(to);
        } else {
          m_best[to] = std::max(m_best[to], d);
        }
      }
    }
    const size_t from = m_vertex[s];
    for (size_t to : m_touched) {
      boost::add_edge(from, to, RATIO_GRAPH::edge_property_type(double(m_best[to]), 1.0), graph);
      ++arcs;
    }
  }

  CDB_SGATE_NETLIST* m_netlist;
  const std::vector<char>& m_fixed;
  KAVU_DELAY_MODEL_STIMER m_model;
  std::vector<CDB_SGATE_OTERM*> m_oterms;
  std::vector<char> m_comb;
  std::vector<size_t> m_vertex, m_order, m_cone, m_stack, m_touched;
  std::vector<long> m_dist, m_best;
  std::vector<unsigned> m_stamp, m_best_stamp;
  unsigned m_round = 0;
  size_t m_vertices = 0;
};

// The timer's answer: its largest best cycle time over the analysed domains.
struct TIMER_RESULT {
  int cycle = 0;
  int fit_tests = 0;
};

TIMER_RESULT read_timer(const KAVU_SEQ_TIMER& timer) {
  TIMER_RESULT r;
  for (int id = 1; id <= timer.get_max_clk_id(); ++id)
    if (KAVU_SEQ_DELAY_ANALYSIS* a = timer.get_analysis(id)) {
      r.fit_tests += a->get_fit_test_count();
      r.cycle = std::max(r.cycle, a->get_best_cycle_time());
    }
  return r;
}

int rounded_cycle(double ratio) {
  if (!std::isfinite(ratio) || ratio < 1) return 1;
  return int(std::ceil(ratio - 1e-9));
}

double howard(RATIO_GRAPH& g) {
  return boost::maximum_cycle_ratio(g, boost::get(boost::vertex_index, g), boost::get(boost::edge_weight, g),
                                    boost::get(boost::edge_weight2, g));
}

CDB_SGATE_NETLIST* generated_netlist() {
  constexpr int kClocks = 4, kSteps = 25000, kWindow = 64, kBack = 32;
  auto* nl = new CDB_SGATE_NETLIST();
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
  return nl;
}

const char* const kBundled[] = {"seq/diffeq1", "seq/stereovision3", "seq/ch_intrinsics"};
constexpr int kCases = 4;  // the bundled designs, then the generated one

// One timer run marks the fixed registers; they are copied out while the
// timer lives, then the reference graph is built once.
BENCH_CASE& pick(int which) {
  static std::unique_ptr<BENCH_CASE> cases[kCases];
  if (cases[which]) return *cases[which];
  cases[which] = std::make_unique<BENCH_CASE>();
  BENCH_CASE& b = *cases[which];
  if (which < kCases - 1) {
    b.label = kBundled[which];
    b.netlist = blif_read_file(bundled_circuit(kBundled[which])).netlist;
  } else {
    b.label = "100k registers, 4 clocks, feedback loops";
    b.netlist = generated_netlist();
  }
  if (!b.netlist) return b;
  {
    KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, kDecompFanin, kHugeGate, nullptr);
    timer.calculate_best_cycle_time();
    const TIMER_RESULT r = read_timer(timer);
    b.timer_cycle = r.cycle;
    b.fit_tests = r.fit_tests;
    for (auto it = b.netlist->begin_node_list(); it != b.netlist->end_node_list(); ++it) {
      b.fixed.push_back(*it && is_reg(*it) && kavu_seq_timer_is_dff_fixed(*it));
      b.registers += *it && is_reg(*it);
    }
  }
  REFERENCE_BUILDER builder(b.netlist, b.fixed);
  if (builder.build(b.graph, b.arcs, b.refused)) b.reference_cycle = rounded_cycle(howard(b.graph));
  return b;
}

void set_counters(benchmark::State& state, const BENCH_CASE& b, int cycle) {
  state.SetLabel(std::string(b.label) + (state.range(1) ? " (with build)" : " (solve)"));
  state.counters["registers"] = double(b.registers);
  state.counters["arcs"] = double(b.arcs);
  state.counters["fit_tests"] = double(b.fit_tests);
  state.counters["cycle"] = double(cycle);
}

double seconds_since(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// range(0): the case; range(1): 1 with the graph build (the timer's
// construction), 0 the search alone.
void BM_SeqBestCycleTime(benchmark::State& state) {
  BENCH_CASE& b = pick(int(state.range(0)));
  if (!b.netlist) return state.SkipWithError("circuit not found");
  const bool with_build = state.range(1) != 0;
  TIMER_RESULT r;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    KAVU_SEQ_TIMER timer("bench", b.netlist, nullptr, kDecompFanin, kHugeGate, nullptr);
    if (!with_build) start = std::chrono::steady_clock::now();
    timer.calculate_best_cycle_time();
    state.SetIterationTime(seconds_since(start));
    r = read_timer(timer);
  }
  set_counters(state, b, r.cycle);
}

void BM_HowardCycleRatio(benchmark::State& state) {
  BENCH_CASE& b = pick(int(state.range(0)));
  if (!b.netlist) return state.SkipWithError("circuit not found");
  if (!b.refused.empty()) return state.SkipWithError(("no reference: " + b.refused).c_str());
  const bool with_build = state.range(1) != 0;
  double ratio = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (with_build) {
      RATIO_GRAPH g;
      size_t arcs = 0;
      std::string why;
      REFERENCE_BUILDER builder(b.netlist, b.fixed);
      builder.build(g, arcs, why);
      ratio = howard(g);
    } else {
      ratio = howard(b.graph);
    }
    state.SetIterationTime(seconds_since(start));
  }
  const int cycle = rounded_cycle(ratio);
  set_counters(state, b, cycle);
  state.counters["ratio"] = ratio;
  if (cycle != b.timer_cycle)
    state.SkipWithError(("best cycle time differs: timer " + std::to_string(b.timer_cycle) + ", reference " +
                         std::to_string(cycle) + " (ratio " + std::to_string(ratio) + ")")
                            .c_str());
}

const PEER_PAIR PEERS[] = {{"BM_SeqBestCycleTime", "BM_HowardCycleRatio"}};

}  // namespace

BENCHMARK(BM_SeqBestCycleTime)
    ->ArgsProduct({{0, 1, 2, 3}, {1, 0}})
    ->ArgNames({"case", "build"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HowardCycleRatio)
    ->ArgsProduct({{0, 1, 2, 3}, {1, 0}})
    ->ArgNames({"case", "build"})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return bench_main(argc, argv, {}, PEERS); }
