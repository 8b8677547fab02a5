// kavu_seq_cycle_oracle.h — an independent reference for the sequential
// timer's best cycle time: Howard's maximum cycle ratio (Boost Graph) over
// a register graph built from the netlist as read and the timer's
// documented rules only, never from the timer's index, domains, sorted
// terminals or marks. The timer's tests and its benchmark share it, so
// that the reference exists once.
//
// Model: clocks are (source, inversion) pairs of register clock inputs; a
// combinational terminal belongs to clock c when c reaches it from a
// register and it reaches a register input of c (data, enable, synchronous
// load or clear); paths from input pins to output pins through logic no
// clock reaches belong to no domain. The fixing rules (two-clock boundary,
// I/O, unclocked logic, asynchronous controls) mark registers; paths end at
// register inputs, pins and where the fan-out leaves the domain. Delays are
// the delay model's gate delays with a decomposition fan-in large enough
// that every gate is one level (the timer must run with such a fan-in,
// e.g. 64).
// Kinds: pins, registers, comb gates, LUTs, muxes and buffers; any other
// gate, or a combinational loop, makes build_design_model refuse the design.
// Cost: maps keyed by terminal; build_oracle walks the domain's logic once
// per movable register, so it suits designs up to some 10^4 gates.
#pragma once

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

// Boost's graph code trips GCC's maybe-uninitialized analysis.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/howard_cycle_ratio.hpp>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "cdb/cdb_sgate.h"
#include "kavu_delay.h"
#include "kavu_dff_helper.h"
#include "kavu_seq_timer.h"
#include "kavu_setup.h"

namespace kavu_seq_cycle_oracle {

typedef boost::adjacency_list<
    boost::vecS, boost::vecS, boost::directedS, boost::no_property,
    boost::property<boost::edge_weight_t, double, boost::property<boost::edge_weight2_t, double>>>
    RATIO_GRAPH;

inline bool is_register(CDB_SGATE_NODE* g) { return g && g->get_sgate_type() == CDB_SGATE_DFF_ENUM; }
inline std::vector<CDB_SGATE_ITERM*> register_inputs(CDB_SGATE_NODE* r) {
  return {kavu_get_dff_enable(r), kavu_get_dff_sload(r), kavu_get_dff_sclear(r), kavu_get_dff_data(r)};
}
inline bool is_sync_input(CDB_SGATE_NODE* r, CDB_SGATE_ITERM* t) {
  for (CDB_SGATE_ITERM* s : register_inputs(r))
    if (s == t) return true;
  return false;
}
inline bool driven(const CDB_SGATE_ITERM* t) { return t && t->is_connected() && t->get_source(); }
inline bool is_pin(CDB_SGATE_NODE* g) { return g->get_sgate_type() == CDB_SGATE_IO_ENUM; }
inline bool is_logic(CDB_SGATE_NODE* g) { return !is_register(g) && !is_pin(g); }
// Whether a logic gate's output depends on its input: a LUT by its mask,
// every other gate on every input.
inline bool depends(CDB_SGATE_NODE* g, CDB_SGATE_ITERM* t) {
  if (g->get_sgate_type() != CDB_SGATE_LUT_ENUM) return true;
  unsigned k = 0;
  for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
    if (i == t) return !static_cast<CDB_SGATE_LUT*>(g)->is_independent_of(k);
    ++k;
  }
  return false;
}

// The clocks, domains and fixed registers of a design.
struct DESIGN_MODEL {
  std::map<std::pair<CDB_SGATE_OTERM*, bool>, int> clock_ids;
  std::map<CDB_SGATE_NODE*, int> reg_clock;          // 0: unclocked
  std::map<CDB_SGATE_OTERM*, std::set<int>> arr, req;  // logic terminals
  std::set<CDB_SGATE_NODE*> fixed;
  std::vector<CDB_SGATE_OTERM*> logic_order;         // fan-in first
  // The domains of a terminal: a register's clock, or the clocks that both
  // reach the logic terminal and are reached from it.
  std::set<int> domains(CDB_SGATE_OTERM* o) {
    CDB_SGATE_NODE* g = o->get_my_node();
    if (is_register(g)) return reg_clock[g] ? std::set<int>{reg_clock[g]} : std::set<int>{};
    std::set<int> both;
    if (!is_logic(g) || !o->has_fanout()) return both;
    for (int c : arr[o])
      if (req[o].count(c)) both.insert(c);
    return both;
  }
  bool in_domain(CDB_SGATE_OTERM* o, int c) { return domains(o).count(c) != 0; }
};

// "" when the design is within the model's kinds, else why not.
inline std::string build_design_model(CDB_SGATE_NETLIST& nl, DESIGN_MODEL& m) {
  std::vector<CDB_SGATE_NODE*> nodes;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) nodes.push_back(*it);
  for (CDB_SGATE_NODE* g : nodes) {
    const CDB_SGATE_TYPE t = g->get_sgate_type();
    if (!(t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_IO_ENUM || t == CDB_SGATE_COMB_ENUM || t == CDB_SGATE_LUT_ENUM ||
          t == CDB_SGATE_MUX_ENUM || t == CDB_SGATE_BUFFER_ENUM))
      return std::string("a gate outside the model: ") + g->get_string_type_name();
    if (!is_register(g)) continue;
    CDB_SGATE_ITERM* clk = kavu_get_dff_clock(g);
    int id = 0;
    if (driven(clk)) {
      auto key = std::make_pair(clk->get_source(), clk->is_inverted());
      auto found = m.clock_ids.find(key);
      id = found != m.clock_ids.end() ? found->second : (m.clock_ids[key] = int(m.clock_ids.size()) + 1);
    }
    m.reg_clock[g] = id;
  }
  // Kahn order of the logic terminals.
  std::map<CDB_SGATE_OTERM*, int> pending;
  for (CDB_SGATE_NODE* g : nodes) {
    if (!is_logic(g)) continue;
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      int n = 0;
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        n += driven(t) && is_logic(t->get_source()->get_my_node()) ? 1 : 0;
      pending[o] = n;
      if (n == 0) m.logic_order.push_back(o);
    }
  }
  for (size_t k = 0; k < m.logic_order.size(); ++k)
    if (m.logic_order[k]->has_fanout())
      for (CDB_SGATE_ITERM* t : m.logic_order[k]->fanouts())
        if (is_logic(t->get_my_node()))
          for (CDB_SGATE_OTERM* o : t->get_my_node()->get_output_terms())
            if (--pending[o] == 0) m.logic_order.push_back(o);
  if (m.logic_order.size() != pending.size()) return "a combinational loop";
  // Clocks reaching each logic terminal, and reached from it.
  for (CDB_SGATE_OTERM* o : m.logic_order) {
    CDB_SGATE_NODE* g = o->get_my_node();
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      if (!driven(t) || !depends(g, t)) continue;
      CDB_SGATE_NODE* s = t->get_source()->get_my_node();
      if (is_register(s) && m.reg_clock[s]) m.arr[o].insert(m.reg_clock[s]);
      if (is_logic(s)) m.arr[o].insert(m.arr[t->get_source()].begin(), m.arr[t->get_source()].end());
    }
  }
  for (auto it = m.logic_order.rbegin(); it != m.logic_order.rend(); ++it) {
    if (!(*it)->has_fanout()) continue;
    for (CDB_SGATE_ITERM* t : (*it)->fanouts()) {
      CDB_SGATE_NODE* l = t->get_my_node();
      if (is_register(l) && is_sync_input(l, t) && m.reg_clock[l]) m.req[*it].insert(m.reg_clock[l]);
      if (is_logic(l) && depends(l, t))
        for (CDB_SGATE_OTERM* f : l->get_output_terms())
          if (f->has_fanout()) m.req[*it].insert(m.req[f].begin(), m.req[f].end());
    }
  }
  if (kavu_seq_dont_fix_reg) return "";
  auto clocks_of_source = [&](CDB_SGATE_OTERM* s) {
    CDB_SGATE_NODE* g = s->get_my_node();
    if (is_register(g)) return m.reg_clock[g] ? std::set<int>{m.reg_clock[g]} : std::set<int>{};
    return is_logic(g) ? m.arr[s] : std::set<int>{};
  };
  // Two clocks meet at the register: what reaches its inputs or what its
  // output reaches belongs to another clock, or to two.
  for (auto& [r, c] : m.reg_clock) {
    if (!c) continue;
    std::set<int> in, out_req;
    for (CDB_SGATE_ITERM* t : register_inputs(r))
      if (driven(t)) {
        const std::set<int> ids = clocks_of_source(t->get_source());
        in.insert(ids.begin(), ids.end());
      }
    if (CDB_SGATE_OTERM* q = r->get_output_term(0); q->has_fanout())
      for (CDB_SGATE_ITERM* t : q->fanouts()) {
        CDB_SGATE_NODE* l = t->get_my_node();
        if (is_register(l) && m.reg_clock[l]) out_req.insert(m.reg_clock[l]);
        if (is_logic(l) && depends(l, t))
          for (CDB_SGATE_OTERM* f : l->get_output_terms()) out_req.insert(m.req[f].begin(), m.req[f].end());
      }
    const int own = c;
    auto other = [own](const std::set<int>& ids) { return ids.size() > 1 || (ids.size() == 1 && *ids.begin() != own); };
    if (other(in) || other(out_req)) m.fixed.insert(r);
  }
  // Registers behind an output pin through logic, and registers whose data
  // input an input pin reaches through logic.
  std::set<CDB_SGATE_OTERM*> seen;
  std::vector<CDB_SGATE_OTERM*> stack;
  for (CDB_SGATE_NODE* g : nodes)
    if (is_pin(g) && g->get_number_of_input_terms() > 0)
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (driven(t)) stack.push_back(t->get_source());
  while (!stack.empty()) {
    CDB_SGATE_OTERM* o = stack.back();
    stack.pop_back();
    if (!seen.insert(o).second) continue;
    if (is_register(o->get_my_node())) {
      m.fixed.insert(o->get_my_node());
      continue;
    }
    for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms())
      if (driven(t)) stack.push_back(t->get_source());
  }
  seen.clear();
  for (CDB_SGATE_IO* pin : nl.get_input_pins()) stack.push_back(pin->get_output_term(0));
  while (!stack.empty()) {
    CDB_SGATE_OTERM* o = stack.back();
    stack.pop_back();
    if (!o->has_fanout() || !seen.insert(o).second) continue;
    for (CDB_SGATE_ITERM* t : o->fanouts()) {
      CDB_SGATE_NODE* l = t->get_my_node();
      if (is_register(l)) {
        if (t == kavu_get_dff_data(l)) m.fixed.insert(l);
      } else {
        for (CDB_SGATE_OTERM* f : l->get_output_terms()) stack.push_back(f);
      }
    }
  }
  // Registers next to logic no clock owns (and next to unclocked registers
  // and input pins), and registers with asynchronous controls.
  for (CDB_SGATE_NODE* g : nodes)
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      const bool indexed = o->has_fanout() || is_register(g);
      if (!indexed || !m.domains(o).empty()) continue;
      if (o->has_fanout())
        for (CDB_SGATE_ITERM* t : o->fanouts())
          if (is_register(t->get_my_node()) && t == kavu_get_dff_data(t->get_my_node())) m.fixed.insert(t->get_my_node());
      for (CDB_SGATE_ITERM* t : g->get_input_terms())
        if (driven(t) && is_register(t->get_source()->get_my_node())) m.fixed.insert(t->get_source()->get_my_node());
    }
  for (auto& [r, c] : m.reg_clock)
    if (c && (kavu_preserve_register(r) || driven(kavu_get_dff_clear(r)) || driven(kavu_get_dff_preset(r)) ||
              driven(kavu_get_dff_aload(r))))
      m.fixed.insert(r);
  return "";
}

// The register graph of clock c: a vertex per movable register of c and one
// vertex S for every fixed start and end. An arc carries the longest
// delay between its ends under the delay model's gate delays (decomposition
// fan-in large enough that every gate is one level), and one unit of
// transit, since it ends in a register or at a fixed end. The best cycle
// time is the ceiling of the maximum cycle ratio.
struct ORACLE {
  RATIO_GRAPH graph;
  std::map<CDB_SGATE_NODE*, int> vertex;  // movable register -> vertex; S is 0
  struct ARC {
    CDB_SGATE_OTERM* from;  // null: S
    CDB_SGATE_NODE* to;     // null: S
    int delay;
  };
  std::vector<ARC> arcs;
  int best = 0;
  bool has_logic = false;  // the timer analyses only such a domain
};

// The best cycle time of a built graph: the ceiling of its maximum cycle
// ratio (at least 1).
inline void solve_oracle(ORACLE& oracle) {
  const double ratio = boost::maximum_cycle_ratio(oracle.graph, boost::get(boost::vertex_index, oracle.graph),
                                                  boost::get(boost::edge_weight, oracle.graph),
                                                  boost::get(boost::edge_weight2, oracle.graph));
  // A graph without a cycle answers minus infinity: nothing bounds the time.
  oracle.best = ratio < 1 ? 1 : int(std::ceil(ratio - 1e-9));
}

// The graph of clock c, and with `solve` its best cycle time.
inline void build_oracle(DESIGN_MODEL& m, int c, ORACLE& oracle, bool solve = true) {
  KAVU_DELAY_MODEL_KZR model(kavu_get_fanin_delay, false, false);
  auto movable = [&](CDB_SGATE_NODE* g) { return is_register(g) && m.reg_clock[g] == c && !m.fixed.count(g); };
  auto arc_delay = [&](CDB_SGATE_OTERM* o, CDB_SGATE_ITERM* t) {
    CDB_SGATE_NODE* g = o->get_my_node();
    if (g->get_sgate_type() == CDB_SGATE_COMB_ENUM) {
      int connected = 0;
      for (CDB_SGATE_ITERM* i : g->get_input_terms()) connected += driven(i) ? 1 : 0;
      return connected >= 2 ? model.get_delay(g, t, o) : 0;
    }
    return depends(g, t) ? model.get_delay(g, t, o) : -1;
  };
  std::vector<CDB_SGATE_OTERM*> logic;  // the domain's logic, fan-in first
  for (CDB_SGATE_OTERM* o : m.logic_order)
    if (m.in_domain(o, c)) logic.push_back(o);
  oracle.has_logic = !logic.empty();
  std::vector<CDB_SGATE_OTERM*> sources{nullptr}, regs;
  for (auto& [r, clock] : m.reg_clock) {
    if (clock != c) continue;
    regs.push_back(r->get_output_term(0));
    if (movable(r)) {
      oracle.vertex[r] = int(sources.size());
      sources.push_back(r->get_output_term(0));
    }
  }
  for (CDB_SGATE_OTERM* src : sources) {
    std::map<CDB_SGATE_OTERM*, int> dist;
    // The longest delay from src to a terminal, -1 when src does not reach
    // it; S starts everywhere outside the domain and at fixed registers.
    auto value = [&](CDB_SGATE_OTERM* s) -> int {
      if (!m.in_domain(s, c)) return src ? -1 : 0;
      if (!is_register(s->get_my_node())) return dist.count(s) ? dist[s] : -1;
      if (src) return s == src ? 0 : -1;
      return movable(s->get_my_node()) ? -1 : 0;
    };
    for (CDB_SGATE_OTERM* o : logic)
      for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms()) {
        if (!driven(t)) continue;
        const int v = value(t->get_source());
        const int a = arc_delay(o, t);
        if (v >= 0 && a >= 0) dist[o] = std::max(dist.count(o) ? dist[o] : 0, v + a);
      }
    auto add = [&](CDB_SGATE_NODE* to, int d) { oracle.arcs.push_back({src, to, d}); };
    // Into a movable register: the latest of its synchronous inputs (a
    // source outside the domain starts at S); with none driven, S starts
    // behind it.
    for (CDB_SGATE_OTERM* q : regs) {
      CDB_SGATE_NODE* r = q->get_my_node();
      if (!movable(r) || !q->has_fanout()) continue;
      int d = -1;
      bool any = false;
      for (CDB_SGATE_ITERM* t : register_inputs(r))
        if (driven(t)) {
          any = true;
          d = std::max(d, value(t->get_source()));
        }
      if (!any && !src) d = 0;
      if (d >= 0) add(r, d);
    }
    // Ends, seen from each terminal of the domain the source reaches.
    std::vector<CDB_SGATE_OTERM*> reached = logic;
    reached.insert(reached.end(), regs.begin(), regs.end());
    for (CDB_SGATE_OTERM* x : reached) {
      const int v = value(x);
      if (v < 0 || !x->has_fanout()) continue;
      bool leads_on = false;
      int end = -1;
      for (CDB_SGATE_ITERM* t : x->fanouts()) {
        CDB_SGATE_NODE* l = t->get_my_node();
        if (is_register(l)) {
          if (m.fixed.count(l) || !is_sync_input(l, t)) {
            end = std::max(end, 0);  // a fixed register, an asynchronous input
          } else if (m.reg_clock[l] == c) {
            // A register without fan-out ends its paths like a fixed one.
            if (l->get_output_term(0)->has_fanout()) leads_on = true;
            else end = std::max(end, 0);
          }
        } else if (is_pin(l)) {
          end = std::max(end, 0);
        } else {
          for (CDB_SGATE_OTERM* f : l->get_output_terms()) leads_on |= m.in_domain(f, c) && depends(l, t);
        }
      }
      // A path ends at a pin, an asynchronous input, a fixed register, or
      // where its fan-out leaves the domain.
      if (end >= 0 || !leads_on) add(nullptr, v);
    }
  }
  for (const ORACLE::ARC& a : oracle.arcs) {
    const int u = a.from ? oracle.vertex[a.from->get_my_node()] : 0;
    const int w = a.to ? oracle.vertex[a.to] : 0;
    boost::add_edge(size_t(u), size_t(w), RATIO_GRAPH::edge_property_type(double(a.delay), 1.0), oracle.graph);
  }
  while (boost::num_vertices(oracle.graph) < sources.size()) boost::add_vertex(oracle.graph);
  if (solve) solve_oracle(oracle);
}

// Every arc of the oracle's graph holds under the timer's skewed arrivals:
// a register's arrival is at least its driver's plus the arc minus the
// cycle time, and a fixed end sees at most the cycle time.
inline int count_violated_arcs(const KAVU_SEQ_TIMER& timer, KAVU_SEQ_DELAY_ANALYSIS* analysis, const ORACLE& oracle) {
  const int t = analysis->get_best_cycle_time();
  int bad = 0;
  for (const ORACLE::ARC& a : oracle.arcs) {
    const long from = a.from ? timer.get_oterm_fanin_delay(a.from) : 0;
    if (a.to) {
      bad += long(timer.get_oterm_fanin_delay(a.to->get_output_term(0))) + t < from + a.delay;
    } else {
      bad += from + a.delay > t;
    }
  }
  return bad;
}

}  // namespace kavu_seq_cycle_oracle
