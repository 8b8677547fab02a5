// kavu_seq_timer_analysis.cpp — one clock domain's analysis: the best cycle
// time with movable registers, the arrival and fan-out passes, the critical
// paths and failing points, and the timing statistics.
//
// Search: the domain's terminals are ordered fan-in first with every loop
// contiguous. A cycle time fits when every loop fits (its fit test) and no
// end point, RAM or MAC input sees an arrival above it; an arc through a
// movable register costs minus the cycle time, a fixed register starts at 0.
// The upper bound is the largest non-sequential depth (all registers where
// they are) or, without it, 10 doubled until it fits (capped at
// MAX_CYCLE_TIME); the result is bisected between it and the lower bound.
// Arrivals no cycle time changes (fixed arcs back to fixed starts, outside
// the loops) are computed by the search's first pass and kept by its later
// fit tests, which recompute only the rest.
// Paths: the critical source of each terminal is the arrival's origin; the
// critical path list is enumerated with the remaining quota handed down, on
// an explicit stack, so it stays linear in the critical cone.
// Cost: O(log(bound)) arrival passes, each O(terminals + arcs) plus the fit
// tests of the loops.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cfg/cfg.h"
#include "cut/cut.h"
#include "kavu_check.h"
#include "kavu_delay_model_seq.h"
#include "kavu_helper.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_seq_scc.h"
#include "kavu_sort.h"
#include "kavu_sort_int.h"
#include "kavu_seq_timer_int.h"
#include "kavu_load_time_int.h"

namespace {

constexpr int RAM_PORT_DELAY = 0;

constinit KAVU_KEY_ONCE minimize_carry{"kavu_seq_minimize_carry_delay", false};

int node_id(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* g = oterm ? oterm->get_my_node() : nullptr;
  return g ? int(g->get_id()) : -1;
}

bool is_ram_atom(const CDB_SGATE_NODE* g) { return g && g->is_wysiwyg() && g->cast_to_wysiwyg()->is_ram(); }
bool is_mac_atom(const CDB_SGATE_NODE* g) { return g && g->is_wysiwyg() && g->cast_to_wysiwyg()->is_mac(); }

// The port delay a start or end point on this gate adds.
int boundary_port_delay(const CDB_SGATE_NODE* g) {
  if (is_ram_atom(g) || kavu_seq_timer_is_register_ram_packed(g)) return RAM_PORT_DELAY;
  if (is_mac_atom(g) || kavu_seq_timer_is_register_mac_packed(g)) return kavu_mac_port_delay;
  return 0;
}

}  // namespace

KAVU_SEQ_DELAY_ANALYSIS::KAVU_SEQ_DELAY_ANALYSIS(CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade,
                                                 KAVU_SEQ_TIMER* timer, KAVU_SEQ_TIMER_CLK_DOMAIN* domain,
                                                 int verbose, bool recalculate, int decomp_fanin, int huge_gate_fanin)
    : m_fixed_reg_count(0),
      m_reg_count(0),
      m_netlist(netlist),
      m_facade(facade),
      m_timer(timer),
      m_decomp_fanin(decomp_fanin),
      m_huge_gate_fanin(huge_gate_fanin),
      m_verbose(verbose),
      m_recalculate_comb_gate_delay(recalculate),
      m_domain(domain) {
  if (!timer) KAVU_INTERNAL_ERROR("m_timer != NULL");
  if (!domain) KAVU_INTERNAL_ERROR("mp_clk_domain != NULL");
  m_stimer_model = new KAVU_DELAY_MODEL_STIMER(minimize_carry(), decomp_fanin, huge_gate_fanin);
  m_scc_model = new KAVU_DELAY_MODEL_SCC(minimize_carry(), decomp_fanin, huge_gate_fanin);
  m_scc_arr_model = new KAVU_DELAY_MODEL_SCC_ARR(minimize_carry(), decomp_fanin, huge_gate_fanin);
  m_stimer_model->set_comb_gate_data(&m_comb_gates, &m_arc_table);
  m_domain_id = domain->get_id();
  m_keep_non_seq_depth = cfg_is_on("kavu_keep_non_seq_depth", false);
  m_skew_boundary_node_depth = cfg_is_on("kavu_seq_skew_boundary_node_depth", true);
  m_use_non_seq_max_depth = cfg_is_on("kavu_seq_use_non_seq_max_depth", true);
  m_changing_arc = timer->has_changing_arc();
  m_reg_count = domain->get_reg_count();
  m_fixed_reg_count = domain->get_fixed_reg_count();
}

KAVU_SEQ_DELAY_ANALYSIS::~KAVU_SEQ_DELAY_ANALYSIS() {
  for (KAVU_SCC* scc : m_sccs) delete scc;
  delete m_stimer_model;
  delete m_scc_model;
  delete m_scc_arr_model;
}

std::string KAVU_SEQ_DELAY_ANALYSIS::get_domain_name() const {
  const std::string name = m_timer ? m_timer->get_dump_name() : std::string();
  return name + (m_domain ? std::to_string(m_domain_id) : std::string("Neg1"));
}

void KAVU_SEQ_DELAY_ANALYSIS::get_register_drivers(CDB_SGATE_NODE* reg, std::vector<CDB_SGATE_OTERM*>& drivers) {
  if (!kavu_delay_seq::is_register(reg)) return;
  CDB_SGATE_ITERM* inputs[4] = {kavu_get_dff_enable(reg), kavu_get_dff_sload(reg), kavu_get_dff_sclear(reg),
                                kavu_get_dff_data(reg)};
  for (CDB_SGATE_ITERM* t : inputs) {
    if (!t) continue;
    // An input not connected itself counts through its parent atom input;
    // a tie to a constant (connected, no source) has no driver.
    CDB_SGATE_OTERM* drv = t->get_source();
    if (!t->is_connected()) {
      CDB_SGATE_ITERM* parent = t->get_parent_input();
      if (!parent || !cdb_is_parent_connected(t)) continue;
      drv = parent->get_source();
    }
    if (drv) drivers.push_back(drv);
  }
}

KAVU_SEQ_DELAY_OTERM_INFO* KAVU_SEQ_DELAY_ANALYSIS::info_of(CDB_SGATE_OTERM* oterm) {
  const int index = get_oterm_index(oterm);
  if (!((index >= 0) && (index < m_oterm_size))) KAVU_INTERNAL_ERROR("(index>=0) && (index <m_oterm_size)");
  return get_oterm_info(index);
}

int KAVU_SEQ_DELAY_ANALYSIS::get_arrival_time(int index) {
  if (!((index >= 0) && (index < m_oterm_size))) KAVU_INTERNAL_ERROR("(index >=0) && (index < m_oterm_size)");
  return get_oterm_info(index)->m_arrival;
}

int KAVU_SEQ_DELAY_ANALYSIS::get_arrival_time(CDB_SGATE_OTERM* oterm) { return kavu_seq_analysis_arrival(oterm, this); }

void KAVU_SEQ_DELAY_ANALYSIS::clear_stimer_caches() {
  m_comb_gates.clear();
  m_arc_table.clear();
}

// ---------------------------------------------------------------------------
// Set-up

// The depths live in a vector by position in the order. A gate whose fan-in
// rule reduces to fixed arcs (the fit test's rule, here with the
// non-sequential model's sizes) takes the largest source depth plus arc; any
// other gate asks the model, over a table of its own sources' depths (the
// model reads no other terminal). A source outside the order has no depth.
void KAVU_SEQ_DELAY_ANALYSIS::build_non_seq_depth_table() {
  std::vector<CDB_SGATE_OTERM*> order;
  m_timer->topological_sort_oterms(m_domain->get_oterms(), order);
  KAVU_SEQ_OTERM_POSITIONS position(m_timer);
  for (size_t k = 0; k < order.size(); ++k) {
    if (!order[k]) KAVU_INTERNAL_ERROR("oterm");
    if (!position.insert(order[k], int(k))) KAVU_INTERNAL_ERROR("delay_table.find(oterm) == delay_table.end()");
  }
  std::vector<int> depth_of(order.size(), KAVU_DELAY_MIN);
  auto source_depth = [&](const CDB_SGATE_OTERM* source) {
    const int k = source ? position.find(source) : -1;
    return k < 0 ? KAVU_DELAY_MIN : depth_of[size_t(k)];
  };
  KAVU_DELAY_MODEL_NSEQ nseq(minimize_carry());
  KAVU_SEQ_OTERM_TABLE sources;
  auto model_depth = [&](CDB_SGATE_OTERM* o) {
    sources.clear();
    for (CDB_SGATE_ITERM* i : o->get_my_node()->get_input_terms()) {
      CDB_SGATE_OTERM* source = i ? i->get_source() : nullptr;
      if (source && position.find(source) >= 0) sources[source] = source_depth(source);
    }
    return nseq.compute_fanin_delay_of_oterm(o, nullptr, nullptr, &sources, &sources, false, 0, nullptr);
  };
  auto fanin_depth = [&](CDB_SGATE_OTERM* o) {
    int best = KAVU_DELAY_MIN, empty = 0;
    bool any = false;
    auto add_arc = [&](CDB_SGATE_ITERM* i, int delay) {
      any = true;
      const int d = source_depth(i->get_source());
      if (d != KAVU_DELAY_MIN) best = std::max(best, d + delay);
    };
    switch (kavu_seq_fixed_arrival_rule(o, &nseq, add_arc, &empty)) {
      case SEQ_FIXED_ARRIVAL::CARRY_START: return 0;
      case SEQ_FIXED_ARRIVAL::ARCS: return any ? best : empty;
      default: return model_depth(o);
    }
  };
  int maximum = KAVU_DELAY_MIN;
  for (size_t k = 0; k < order.size(); ++k) {
    CDB_SGATE_OTERM* o = order[k];
    CDB_SGATE_NODE* g = o->get_my_node();
    int depth = 0;
    if (m_stimer_model->look_through_sgate(g)) {
      depth = fanin_depth(o);
    } else if (m_skew_boundary_node_depth) {
      depth = boundary_port_delay(g);
    }
    depth_of[k] = depth;
    if (m_skew_boundary_node_depth && o->has_fanout())
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        CDB_SGATE_NODE* load = t ? t->get_my_node() : nullptr;
        if (is_mac_atom(load) || kavu_seq_timer_is_register_mac_packed(load)) {
          depth = std::max(depth, depth_of[k] + kavu_mac_port_delay);
        } else if (is_ram_atom(load)) {
          depth = std::max(depth, depth_of[k] + RAM_PORT_DELAY);
        }
      }
    if (depth >= maximum) maximum = depth;
  }
  set_max_nonseq_depth(maximum);
  kavu_debug("Max non sequential depth of domain %d is %d", m_domain_id, maximum);
  if (cfg_is_on("kavu_dump_no_seq_depth", false)) {
    std::orlind_ofstream os(
        ("kavu_no_seq_depth_table_" + std::to_string(m_domain_id) + "_" + m_timer->get_dump_name() + ".txt").c_str(),
        std::ios_base::out);
    for (size_t k = 0; k < order.size(); ++k)
      os << "SGATE_ID= " << node_id(order[k]) << " " << kavu_get_oterm_debug_name(order[k]) << " depth= " << depth_of[k]
         << std::endl;
  }
  if (m_keep_non_seq_depth) {
    m_non_seq_depth_table.clear();
    for (size_t k = 0; k < order.size(); ++k) m_non_seq_depth_table[order[k]] = depth_of[k];
  }
}

// The components come from the sort as flat arrays (terminals in component
// order and their numbers by position); the component map starts with the
// members of the loops, which is what the loop records look up, and gets
// the other terminals when a loop's map is asked for.
void KAVU_SEQ_DELAY_ANALYSIS::setup_sccs() {
  KAVU_SORT sort(m_facade, false, true, false);
  KAVU_SORT_COMPONENTS components;
  kavu_sort_scc_components(sort, m_netlist, true, m_domain, components);
  m_oterms = std::move(components.m_order);
  m_component_number = std::move(components.m_number);
  const std::vector<int>& number = m_component_number;
  m_input_oterms.insert(m_input_oterms.end(), components.m_begin.begin(), components.m_begin.end());
  m_output_oterms.insert(m_output_oterms.end(), components.m_end.begin(), components.m_end.end());
  if (cfg_is_on("kavu_seq_timer_scc_debug", false)) {
    std::orlind_ofstream os(("kavu_seq_timer_domain_" + get_domain_name() + "_scc_result.txt").c_str(),
                            std::ios_base::out);
    os << "Result of SCC call" << std::endl << "Total number of oerms = " << m_oterms.size() << std::endl;
    for (size_t k = 0; k < m_oterms.size(); ++k)
      os << "[" << k << "] " << kavu_get_oterm_debug_name(m_oterms[k]) << " (SGATE ID=" << node_id(m_oterms[k]) << ")"
         << " SCC_INDEX=" << number[k] << std::endl;
    for (int side = 0; side < 2; ++side) {
      const std::list<CDB_SGATE_OTERM*>& list = side == 0 ? m_input_oterms : m_output_oterms;
      os << std::string(30, '*') << std::endl
         << (side == 0 ? "Input ports ( size = " : "Output ports ( size = ") << list.size()
         << (side == 0 ? " ): " : " ):") << std::endl;
      size_t k = 0;
      for (CDB_SGATE_OTERM* o : list)
        os << "[" << k++ << "] " << kavu_get_oterm_debug_name(o) << " (SGATE ID=" << node_id(o) << ")" << std::endl;
    }
  }
  // Sized once for the whole domain instead of growing step by step.
  if (m_oterm_index.empty() && !m_oterms.empty())
    m_oterm_index.resize(ztl_hash_lite_get_next_prime(uint32_t((uint64_t(m_oterms.size()) * 5 + 3) / 4)));
  const bool list_debug = cfg_is_on("kavu_seq_timer_scc_oterm_list_debug", false);
  if (list_debug) kavu_debug("Total number of oterms is %d", int(m_oterms.size()));
  for (CDB_SGATE_OTERM* o : m_oterms) {
    const int index = add_domain_oterm(o, true);
    // Every terminal of a domain is one the timer numbered.
    KAVU_SEQ_TIMER_OTERM_INFO* info = m_timer->get_oterm_info(o);
    if (!info) KAVU_INTERNAL_ERROR("info != NULL");
    info->m_clk_info.emplace_back(m_domain_id, index);  // the timer's set_oterm_clk_info
    if (list_debug) kavu_debug("Oterm of gate %d has index %d", node_id(o), index);
  }
  if (cfg_is_on("kavu_seq_timer_clk_domain_sorted_oterm_dump", false)) {
    const std::string file = "kavu_seq_timer_domain_" + get_domain_name() + "_sorted_oterm.txt";
    kavu_debug("Dump sorted oterm in clock domain to file %s", file.c_str());
    std::orlind_ofstream os(file.c_str(), std::ios_base::out);
    os << "Total number of oterms " << m_oterms.size() << std::endl;
    for (size_t k = 0; k < m_oterms.size(); ++k)
      os << "[" << k << "] " << kavu_get_oterm_debug_name(m_oterms[k]) << " (SGATE ID=" << node_id(m_oterms[k]) << ")"
         << " DOMAIN_INDEX=" << get_oterm_index(m_oterms[k]) << std::endl;
  }
  m_scc_map.clear();
  m_scc_map_complete = false;
  int runs = 0;
  std::vector<CDB_SGATE_OTERM*> drivers;
  for (size_t i = 0; i < m_oterms.size();) {
    size_t j = i + 1;
    const int id = number[i];
    while (j < m_oterms.size() && number[j] == id) ++j;
    ++runs;
    bool loop = j - i >= 2;
    if (!loop) {
      CDB_SGATE_NODE* g = m_oterms[i]->get_my_node();
      if (kavu_delay_seq::is_register(g)) {
        drivers.clear();
        get_register_drivers(g, drivers);
        loop = std::find(drivers.begin(), drivers.end(), m_oterms[i]) != drivers.end();
      }
    }
    if (loop) {
      for (size_t k = i; k < j; ++k) m_scc_map.emplace(m_oterms[k], id);
      KAVU_SCC* scc = new KAVU_SCC(this, m_scc_model, m_scc_arr_model, m_netlist, &m_oterms, int(i), int(j),
                                   &m_scc_map, id, m_verbose, m_recalculate_comb_gate_delay);
      for (size_t k = i; k < j; ++k) get_oterm_info(int(k))->m_scc_index = int(m_sccs.size());
      m_sccs.push_back(scc);
    }
    i = j;
  }
  kavu_debug("Total SCC count = %d", runs);
  kavu_debug("Non-trivial SCC count = %d", int(m_sccs.size()));
}

void KAVU_SEQ_DELAY_ANALYSIS::complete_scc_map() {
  if (m_scc_map_complete || m_component_number.size() != m_oterms.size()) return;
  for (size_t k = 0; k < m_oterms.size(); ++k) m_scc_map.emplace(m_oterms[k], m_component_number[k]);
  m_scc_map_complete = true;
}

// The sort's end points are the terminals without fan-out, the boundaries
// and the pins' own terminals; but a pin's terminal has no fan-out and so no
// index, and the fan-out rule also ends paths at asynchronous register
// inputs and where the fan-out leaves the domain (the fan-out pass counts
// such a terminal 0). Each such terminal is an end point of the fit test as
// well, so that arrival plus fan-out delay never exceeds the best. Runs
// before any fan-out delay is known: a load that leads on inside the domain
// gives KAVU_DELAY_MIN here, an end gives its delay and no sink.
void KAVU_SEQ_DELAY_ANALYSIS::find_open_ends() {
  m_open_ends.clear();
  for (CDB_SGATE_OTERM* o : m_oterms) {
    if (!o->has_fanout()) continue;
    int end = KAVU_DELAY_MIN;
    bool leads_on = false;
    for (CDB_SGATE_ITERM* t : o->fanouts()) {
      CDB_SGATE_NODE* load = t ? t->get_my_node() : nullptr;
      if (!load) continue;
      if (is_ram_atom(load) || is_mac_atom(load)) {  // the RAM and MAC checks cover these
        leads_on = true;
        continue;
      }
      // A looked-through plain gate never ends a path here: its rule gives
      // no delay, or a delay with its output as the sink.
      // Once a load leads on, the others need not be asked whether they do.
      if (passes_fanout_on(t, load)) {
        if (!leads_on && leads_on_in_domain(load)) leads_on = true;
        continue;
      }
      CDB_SGATE_OTERM* sink = nullptr;
      const int d = m_stimer_model->compute_fanout_delay_of_iterm(t, &sink, nullptr, this, this, true, 0);
      if (d != KAVU_DELAY_MIN && !sink)
        end = std::max(end, d);
      else if (!leads_on && leads_on_in_domain(load))
        leads_on = true;
    }
    if (end == KAVU_DELAY_MIN && !leads_on) end = 0;
    if (end != KAVU_DELAY_MIN) m_open_ends.emplace_back(o, end);
  }
  clear_stimer_caches();
  // A loop writes back only the arrivals of its exits during the search: an
  // open end on a loop is one.
  for (const std::pair<CDB_SGATE_OTERM*, int>& end : m_open_ends) {
    const int scc = get_oterm_info(get_oterm_index(end.first))->m_scc_index;
    if (scc < 0) continue;
    std::list<CDB_SGATE_OTERM*>& exits = m_sccs[size_t(scc)]->get_exit_oterms();
    if (std::find(exits.begin(), exits.end(), end.first) == exits.end()) exits.push_back(end.first);
  }
}

bool KAVU_SEQ_DELAY_ANALYSIS::passes_fanout_on(const CDB_SGATE_ITERM* t, CDB_SGATE_NODE* load) const {
  if (load->is_wysiwyg() || !cdb_is_connected(t) || !load->get_single_oterm()) return false;
  switch (load->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM: return m_stimer_model->look_through_sgate(load);
    default: return false;
  }
}

bool KAVU_SEQ_DELAY_ANALYSIS::leads_on_in_domain(const CDB_SGATE_NODE* load) const {
  for (CDB_SGATE_OTERM* f : load->get_output_terms())
    if (f && get_oterm_index(f) >= 0) return true;
  return false;
}

// The start points' indices and arrivals are found on the first pass and
// kept while the start list keeps its length.
void KAVU_SEQ_DELAY_ANALYSIS::set_start_arrivals() {
  if (m_start_arrivals.size() != m_input_oterms.size()) {
    m_start_arrivals.clear();
    for (CDB_SGATE_OTERM* o : m_input_oterms) {
      if (!o) KAVU_INTERNAL_ERROR("oterm != NULL");
      const int index = get_oterm_index(o);
      if (index < 0) {
        kavu_debug("Input Node %d oterm has no index", node_id(o));
        KAVU_INTERNAL_ERROR("Missing oterm index");
      }
      m_start_arrivals.emplace_back(index, boundary_port_delay(o->get_my_node()));
    }
  }
  for (const std::pair<int, int>& start : m_start_arrivals) get_oterm_info(start.first)->m_arrival = start.second;
}

// ---------------------------------------------------------------------------
// The search

int KAVU_SEQ_DELAY_ANALYSIS::find_best_cycle_time() {
  if (m_verbose > 0) kavu_debug("Find best cycle time for domain %d", m_domain_id);
  build_non_seq_depth_table();
  setup_sccs();
  for (KAVU_SCC* scc : m_sccs) {
    scc->find_input_oterms();
    scc->find_output_oterms();
  }
  find_open_ends();
  build_arrival_program();
  if (cfg_is_on("kavu_seq_timer_dump_all_scc", false))
    dump_all_sccs("kavu_seq_timer_domain_" + get_domain_name() + "_all_scc.txt");
  int max = 10, min = 1;
  bool fits = false;
  m_reuse_cycle_free = true;
  m_cycle_free_known = false;
  if (m_use_non_seq_max_depth) {
    max = std::max(1, get_max_nonseq_depth());
    // The depth table's model and the fit models may disagree (decomposition
    // fan-in, huge-gate limit); a bound that does not fit falls back to
    // doubling from it instead of stopping.
    fits = is_cycle_time_fit(max);
    if (!fits) min = max + 1;
  } else if (m_verbose > 0) {
    kavu_debug("Find best cycle time for loops");
  }
  if (!fits) {
    bool doubled = false;
    for (int iter = 0;; ++iter) {
      if (m_verbose > 5) kavu_debug("Try cycle time %d, iter = %d", max, iter);
      if (is_cycle_time_fit(max)) break;
      if (max >= MAX_CYCLE_TIME) {
        kavu_debug("Clock domain %d does not fit at cycle time %d, the largest the search tries.", m_domain_id, max);
        m_reuse_cycle_free = false;
        KAVU_INTERNAL_ERROR("max_fit");
      }
      min = max + 1;
      max = std::min(MAX_CYCLE_TIME, max * 2);
      doubled = true;
    }
    if (m_verbose > 0) kavu_debug("Found best cycle time (%d) for loops", max);
    // Without a doubling step the first bound already fit: the best may lie
    // anywhere below it.
    if (!doubled && !m_use_non_seq_max_depth) min = 1;
  }
  kavu_debug("Binary search the best cycle time starts ... (max = %d, min = %d)", max, min);
  for (int iter = 0; max > min; ++iter) {
    const int mid = min + (max - min) / 2;
    kavu_debug("Start Iteration = %d, mid_cycle_time = %d, trying cycle = %d", iter, mid, mid);
    const bool fit = is_cycle_time_fit(mid);
    kavu_debug("Iteration = %d, max = %d, mid = %d, min = %d, mid fit %s", iter, max, mid, min, fit ? "Y" : "N");
    if (fit)
      max = mid;
    else
      min = mid + 1;
  }
  m_reuse_cycle_free = false;
  set_best_cycle_time(max);
  m_cycle_time = max;
  kavu_debug("SEQ TIMER: Found best cycle time: %d (%d)", max, max);
  return max;
}

void KAVU_SEQ_DELAY_ANALYSIS::dump_all_sccs(const std::string& file) const {
  std::orlind_ofstream os(file.c_str(), std::ios_base::out);
  os << "Total number of SCC of the clock domain = " << m_sccs.size() << std::endl;
  for (size_t k = 0; k < m_sccs.size(); ++k) {
    os << std::string(30, '*') << std::endl << "SCC [" << k << "]" << std::endl;
    m_sccs[k]->dump(os);
    os << std::string(30, '*') << std::endl;
  }
}

bool KAVU_SEQ_DELAY_ANALYSIS::is_cycle_time_fit(int cycle) {
  ++m_fit_tests;
  m_cycle_time = cycle;
  if (!calculate_arrival_time(false)) {
    kavu_debug("Arrival time calculation failed for cycle time %d", cycle);
    return false;
  }
  kavu_debug("Arrival time calculation successed for cycle time %d", cycle);
  std::vector<CDB_SGATE_OTERM*> failing;
  collect_failing_points(cycle, failing);
  bool ok = failing.empty() && check_rams_and_macs(cycle);
  clear_stimer_caches();
  return ok;
}

void KAVU_SEQ_DELAY_ANALYSIS::collect_failing_points(int cycle, std::vector<CDB_SGATE_OTERM*>& points) {
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> seen;
  std::vector<CDB_SGATE_OTERM*> drivers;
  for (CDB_SGATE_OTERM* o : m_output_oterms) {
    if (!o) KAVU_INTERNAL_ERROR("oterm != NULL");
    CDB_SGATE_NODE* g = o->get_my_node();
    if (!g) KAVU_INTERNAL_ERROR("sgate != NULL");
    if (is_ram_atom(g) || is_mac_atom(g)) continue;
    if (kavu_delay_seq::is_register(g)) {
      drivers.clear();
      get_register_drivers(g, drivers);
      const int port = kavu_seq_timer_is_register_mac_packed(g) ? kavu_mac_port_delay : 0;
      for (CDB_SGATE_OTERM* d : drivers) {
        const int index = get_oterm_index(d);
        if (index < 0) continue;
        if (index >= m_oterm_size) KAVU_INTERNAL_ERROR("(drv_index>=0) && (drv_index<m_oterm_size)");
        const int arrival = get_oterm_info(index)->m_arrival;
        if (arrival != KAVU_DELAY_MIN && arrival + port > cycle) {
          kavu_debug("GATE %d arr = %d > cycle (%d) FAIL TIMING", node_id(d), arrival, cycle);
          if (seen.insert(d).second) points.push_back(d);
        }
      }
    } else {
      check_end_arrival(o, 0, cycle, points, seen);
    }
  }
  for (const std::pair<CDB_SGATE_OTERM*, int>& end : m_open_ends)
    check_end_arrival(end.first, end.second, cycle, points, seen);
}

void KAVU_SEQ_DELAY_ANALYSIS::check_end_arrival(CDB_SGATE_OTERM* o, int end_delay, int cycle,
                                                std::vector<CDB_SGATE_OTERM*>& points,
                                                ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& seen) {
  const int index = get_oterm_index(o);
  if (index < 0) return;
  const int arrival = get_oterm_info(index)->m_arrival;
  if (arrival != KAVU_DELAY_MIN && arrival + end_delay > cycle) {
    kavu_debug("Output SGATE %d arr = %d > cycle (%d) FAIL TIMING", node_id(o), arrival, cycle);
    if (seen.insert(o).second) points.push_back(o);
  }
}

bool KAVU_SEQ_DELAY_ANALYSIS::check_rams_and_macs(int cycle) {
  bool ok = true;
  std::vector<CDB_SGATE_OTERM*> sources;
  // The first driver whose arrival plus the port delay misses the cycle, or
  // null; with in_domain_only, drivers outside the domain are passed over.
  auto late_source = [&](int port_delay, bool in_domain_only) -> CDB_SGATE_OTERM* {
    for (CDB_SGATE_OTERM* d : sources) {
      if (!d) KAVU_INTERNAL_ERROR("drv != NULL");
      if (in_domain_only && !is_in_domain(d)) continue;
      const int index = get_oterm_index(d);
      if (index < 0) continue;
      const int arrival = get_oterm_info(index)->m_arrival;
      if (arrival != KAVU_DELAY_MIN && arrival + port_delay > cycle) return d;
    }
    return nullptr;
  };
  for (KAVU_SEQ_RAM_INFO* ram : m_domain->get_rams()) {
    if (!ram) KAVU_INTERNAL_ERROR("ram_info != NULL");
    sources.clear();
    ram->collect_input_sources(m_domain_id, sources);
    if (CDB_SGATE_OTERM* d = late_source(RAM_PORT_DELAY, false)) {
      kavu_debug("RAM (sgate id = %d) at drv oterm (sgate id = %d) fail cycle time (%d)",
                 int(ram->m_ram_node->get_id()), node_id(d), cycle);
      ok = false;
    }
  }
  if (!ok) return false;
  for (KAVU_SEQ_MAC_INFO* mac : m_domain->get_macs()) {
    if (!mac) KAVU_INTERNAL_ERROR("mac_info");
    sources.clear();
    mac->collect_input_sources(m_domain_id, sources);
    if (CDB_SGATE_OTERM* d = late_source(kavu_mac_port_delay, true)) {
      kavu_debug("MAC (sgate id = %d) at drv oterm (sgate id = %d) fail cycle time (%d)",
                 int(mac->m_mac_node->get_id()), node_id(d), cycle);
      ok = false;
    }
  }
  return ok;
}

int KAVU_SEQ_DELAY_ANALYSIS::single_oterm_arrival(CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src) {
  CDB_SGATE_NODE* g = o->get_my_node();
  if (kavu_seq_timer_is_register_ram_packed(g)) KAVU_INTERNAL_ERROR("!kavu_seq_timer_is_register_ram_packed(sgate)");
  if (kavu_seq_timer_is_dff_fixed(g)) KAVU_INTERNAL_ERROR("!kavu_seq_timer_is_dff_fixed(sgate)");
  if (kavu_seq_timer_is_register_mac_packed(g)) KAVU_INTERNAL_ERROR("!kavu_seq_timer_is_register_mac_packed(sgate)");
  // A block atom output no start list holds (an unclocked or multi-clock
  // port) starts a path at its port delay.
  if (g->is_wysiwyg() && !kavu_delay_seq::is_register(g) && !kavu_is_lcell_comb(g)) {
    *src = nullptr;
    return boundary_port_delay(g);
  }
  int arc = 0;
  return m_stimer_model->compute_fanin_delay_of_oterm(o, src, &arc, this, this, true, m_cycle_time, nullptr);
}

// ---------------------------------------------------------------------------
// The arrival rules as index arrays
//
// A fit test computes the arrival of every terminal outside the loops from
// its fan-in. For registers, plain gates, operators and decomposed gates
// whose arcs do not depend on arrivals (huge gates, and gates of at most the
// decomposition fan-in driven inputs), the rule is a maximum of source
// arrival plus a fixed arc (minus the cycle time through a register), taken
// over the model's inputs in the model's order with the first maximum kept.
// Those rules are reduced once per search to arcs between domain indices;
// every other terminal keeps the delay model's call.

void KAVU_SEQ_DELAY_ANALYSIS::build_arrival_program() {
  m_arrival_rule.assign(size_t(m_oterm_size), RULE_MODEL);
  m_empty_arrival.assign(size_t(m_oterm_size), 0);
  m_arc_begin.assign(size_t(m_oterm_size) + 1, 0);
  m_arrival_arc.clear();
  for (int i = 0; i < m_oterm_size; ++i) {
    if (!add_arrival_rule(i)) {
      m_arrival_rule[size_t(i)] = RULE_MODEL;
      m_arrival_arc.resize(size_t(m_arc_begin[size_t(i)]));
    }
    m_arc_begin[size_t(i) + 1] = int(m_arrival_arc.size());
  }
  find_cycle_free_arrivals();
}

// A pass resets every arrival, sets the starts and computes the rest in
// order, so a terminal read before its turn is read unset. Such a terminal
// (a later arc source, a loop input after the loop's start) is reset too.
void KAVU_SEQ_DELAY_ANALYSIS::find_cycle_free_arrivals() {
  const size_t n = size_t(m_oterm_size);
  m_cycle_free.clear();
  std::vector<unsigned char> start(n, 0), read_early(n, 0);
  for (CDB_SGATE_OTERM* o : m_input_oterms) {
    const int index = o ? get_oterm_index(o) : -1;
    if (index >= 0) start[size_t(index)] = 1;
  }
  for (size_t i = 0; i < n; ++i)
    if (!start[i] && m_oterm_info[i].m_scc_index < 0 && m_arrival_rule[i] == RULE_MODEL) return;
  for (KAVU_SCC* scc : m_sccs)
    for (CDB_SGATE_OTERM* o : scc->get_input_oterms()) {
      const int index = get_oterm_index(o);
      if (index >= scc->get_start_index()) read_early[size_t(index)] = 1;
    }
  std::vector<unsigned char> free(n, 0);
  for (size_t i = 0; i < n; ++i) {
    const ARRIVAL_ARC* a = m_arrival_arc.data() + m_arc_begin[i];
    const ARRIVAL_ARC* end = m_arrival_arc.data() + m_arc_begin[i + 1];
    bool arcs_free = m_arrival_rule[i] == RULE_ARCS;
    for (; a != end; ++a) {
      if (a->m_from < 0) continue;
      const size_t from = size_t(a->m_from);
      // Starts are set before the pass: one outside the loops reads the same
      // at any time.
      if (start[from] && m_oterm_info[from].m_scc_index < 0) continue;
      if (from >= i) read_early[from] = 1;
      arcs_free = arcs_free && from < i && free[from];
    }
    if (read_early[i] || m_oterm_info[i].m_scc_index >= 0) continue;
    free[i] = start[i] || arcs_free;
  }
  m_cycle_free.swap(free);
}

bool KAVU_SEQ_DELAY_ANALYSIS::add_arrival_rule(int index) {
  auto add_arc = [&](CDB_SGATE_ITERM* i, int delay) {
    CDB_SGATE_OTERM* source = i->get_source();
    auto it = m_oterm_index.find(source);
    int from = ARC_FROM_OUTSIDE;
    if (it != m_oterm_index.end()) from = it->second < 0 ? int(ARC_FROM_UNINDEXED) : it->second;
    m_arrival_arc.push_back(ARRIVAL_ARC{from, delay, source});
  };
  int empty_arrival = 0;
  switch (kavu_seq_fixed_arrival_rule(m_oterms[size_t(index)], m_stimer_model, add_arc, &empty_arrival)) {
    case SEQ_FIXED_ARRIVAL::GENERAL:
    case SEQ_FIXED_ARRIVAL::FIXED_REGISTER: return false;
    case SEQ_FIXED_ARRIVAL::REGISTER: m_arrival_rule[size_t(index)] = RULE_REGISTER; return true;
    case SEQ_FIXED_ARRIVAL::CARRY_START:  // no arcs: starts at 0
    case SEQ_FIXED_ARRIVAL::ARCS:
      m_arrival_rule[size_t(index)] = RULE_ARCS;
      m_empty_arrival[size_t(index)] = empty_arrival;
      return true;
  }
  return false;
}

// The arrival the delay model gives the terminal at index, by its arcs.
int KAVU_SEQ_DELAY_ANALYSIS::program_arrival(int index, CDB_SGATE_OTERM** src) const {
  const bool reg = m_arrival_rule[size_t(index)] == RULE_REGISTER;
  const ARRIVAL_ARC* a = m_arrival_arc.data() + m_arc_begin[size_t(index)];
  const ARRIVAL_ARC* end = m_arrival_arc.data() + m_arc_begin[size_t(index) + 1];
  *src = nullptr;
  if (a == end) return reg ? -m_cycle_time : m_empty_arrival[size_t(index)];
  int best = KAVU_DELAY_MIN;
  for (; a != end; ++a) {
    int arrival = 0;
    if (a->m_from >= 0)
      arrival = m_oterm_info[size_t(a->m_from)].m_arrival;
    else if (a->m_from == ARC_FROM_UNINDEXED)
      continue;
    if (arrival == KAVU_DELAY_MIN) continue;
    const int candidate = arrival + (reg ? -m_cycle_time : a->m_delay);
    if (candidate > best) {
      best = candidate;
      *src = a->m_source;
    }
  }
  return best;
}

bool KAVU_SEQ_DELAY_ANALYSIS::calculate_arrival_time(bool keep) {
  kavu_debug("* Calculate arrival time : keep SCC timing %s", keep ? "Y" : "N");
  // A cycle-free arrival the search computed before is what this pass would
  // compute again (a terminal the last pass did not reach is still open).
  if (m_reuse_cycle_free && m_cycle_free_known && m_cycle_free.size() == m_oterm_info.size()) {
    for (size_t k = 0; k < m_oterm_info.size(); ++k)
      if (!m_cycle_free[k]) m_oterm_info[k].m_arrival = KAVU_DELAY_MIN;
  } else {
    for (KAVU_SEQ_DELAY_OTERM_INFO& info : m_oterm_info) info.m_arrival = KAVU_DELAY_MIN;
    m_cycle_free_known = m_reuse_cycle_free;
  }
  set_start_arrivals();
  std::string dump_file;
  if (keep && cfg_is_on("kavu_seq_dump_scc_longest_arr_path", false)) {
    dump_file = "kavu_seq_scc_longest_path_" + m_timer->get_dump_name() + get_domain_name() + ".txt";
    std::orlind_ofstream create(dump_file.c_str(), std::ios_base::out);
    create.close();
    // A dump that cannot be made has been warned of, once: no loop tries again.
    if (create.fail()) dump_file.clear();
  }
  clear_stimer_caches();
  // The arrays hold only while the domain keeps the terminals they were
  // built over.
  const bool programmed = m_arc_begin.size() == size_t(m_oterm_size) + 1;
  bool ok = true;
  std::orlind_ofstream dump;  // opened for each loop while the dump file is set
  for (int i = 0; i < m_oterm_size && ok;) {
    KAVU_SEQ_DELAY_OTERM_INFO* info = &m_oterm_info[size_t(i)];
    if (info->m_arrival != KAVU_DELAY_MIN) {
      ++i;
      continue;
    }
    if (info->m_scc_index >= 0) {
      KAVU_SCC* scc = m_sccs[size_t(info->m_scc_index)];
      if (m_verbose > 0) {
        kavu_debug("Handle non-trivial SCC that has oterm of index %d", i);
        kavu_debug("SCC ID = %d, Current SCC size = %d (oterm %d to oterm %d)", scc->get_id(), scc->get_size(),
                   scc->get_start_index(), scc->get_end_index() - 1);
      }
      KAVU_SEQ_OTERM_TABLE input, result;
      scc->read_input_arrival_times(this, input);
      if (!dump_file.empty()) {
        dump.open(dump_file.c_str(), std::ios_base::app);
        scc->set_longest_path_stream(&dump);
      }
      const bool fit = scc->cycle_time_fit(m_cycle_time, &input, &result, false);
      scc->set_longest_path_stream(nullptr);
      if (dump.is_open()) dump.close();
      if (fit) {
        scc->write_exit_arrival_times(this, result);
        if (keep) scc->write_member_delays(this, result, false);
      } else {
        kavu_debug("SCC arrival calculation failed.");
        ok = false;
      }
      i = std::max(i + 1, scc->get_end_index());
      continue;
    }
    CDB_SGATE_OTERM* o = m_oterms[size_t(i)];
    CDB_SGATE_OTERM* src = nullptr;
    const int arrival = programmed && m_arrival_rule[size_t(i)] != RULE_MODEL ? program_arrival(i, &src)
                                                                                : single_oterm_arrival(o, &src);
    if (arrival == KAVU_DELAY_MIN) {
      kavu_debug("Error: max arrival time is invalid for the oterm.");
      m_timer->dump_oterm_clk_info(o);
      KAVU_INTERNAL_ERROR("max_arr != KAVU_DELAY_MIN");
    }
    info->m_arrival = arrival;
    info->m_critical_source = src;
    ++i;
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Register fan-out delays

void KAVU_SEQ_DELAY_ANALYSIS::set_max_fanout_delay(CDB_SGATE_OTERM* oterm, int delay) {
  info_of(oterm)->m_max_fanout_delay = delay;
}

int KAVU_SEQ_DELAY_ANALYSIS::get_max_fanout_delay(int index) {
  if (!((index >= 0) && (index < m_oterm_size))) KAVU_INTERNAL_ERROR("(index>=0) && (index <m_oterm_size)");
  return get_oterm_info(index)->m_max_fanout_delay;
}

int KAVU_SEQ_DELAY_ANALYSIS::get_max_fanout_delay(CDB_SGATE_OTERM* oterm) {
  const int index = get_oterm_index(oterm);
  if (index < 0) return KAVU_DELAY_MIN;
  return get_max_fanout_delay(index);
}

void KAVU_SEQ_DELAY_ANALYSIS::calculate_max_fanout_delay() {
  if (get_best_cycle_time() == KAVU_DELAY_MIN) KAVU_INTERNAL_ERROR("m_best_cycle_time != KAVU_DELAY_MIN");
  for (int i = 0; i < m_oterm_size; ++i) get_oterm_info(i)->m_max_fanout_delay = KAVU_DELAY_MIN;
  for (CDB_SGATE_OTERM* o : m_output_oterms) {
    if (get_oterm_index(o) >= 0) set_max_fanout_delay(o, boundary_port_delay(o->get_my_node()));
  }
  clear_stimer_caches();
  for (int i = m_oterm_size - 1; i >= 0;) {
    KAVU_SEQ_DELAY_OTERM_INFO* info = get_oterm_info(i);
    if (info->m_max_fanout_delay != KAVU_DELAY_MIN) {
      --i;
      continue;
    }
    if (info->m_scc_index >= 0) {
      if (m_verbose > 0) kavu_debug("Fanout delay calculation, oterm %d in loop", i);
      i = calculate_max_fanout_delay_of_scc(i);
      continue;
    }
    CDB_SGATE_OTERM* o = m_oterms[size_t(i)];
    if (!o) KAVU_INTERNAL_ERROR("oterm != NULL");
    CDB_SGATE_NODE* g = o->get_my_node();
    if (kavu_seq_timer_is_register_ram_packed(g) || kavu_seq_timer_is_register_mac_packed(g) ||
        kavu_seq_timer_is_dff_fixed(g))
      KAVU_INTERNAL_ERROR(
          "!kavu_seq_timer_is_register_ram_packed(sgate) && !kavu_seq_timer_is_register_mac_packed(sgate) && "
          "!kavu_seq_timer_is_dff_fixed(sgate)");
    int d = calculate_oterm_max_fanout_delay(o);
    // A terminal whose fan-out leaves the domain (or has none) ends its path.
    if (d == KAVU_DELAY_MIN) d = 0;
    set_max_fanout_delay(o, d);
    --i;
  }
  clear_stimer_caches();
  m_fanout_done = true;
  kavu_debug("SEQ TIMER: max fanout delay calculation is done.");
}

int KAVU_SEQ_DELAY_ANALYSIS::calculate_max_fanout_delay_of_scc(int index) {
  KAVU_SCC* scc = m_sccs[size_t(get_oterm_info(index)->m_scc_index)];
  if (!scc) KAVU_INTERNAL_ERROR("scc != NULL");
  KAVU_SEQ_OTERM_TABLE input, result;
  scc->read_output_fanout_delays(this, input);
  const bool ok = scc->cycle_time_fit(get_best_cycle_time(), &input, &result, true);
  if (!ok) KAVU_INTERNAL_ERROR("ok == true");
  scc->write_fanout_delays(this, result);
  scc->write_member_delays(this, result, true);
  return scc->get_start_index() - 1;
}

int KAVU_SEQ_DELAY_ANALYSIS::calculate_oterm_max_fanout_delay(CDB_SGATE_OTERM* oterm) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  if (!node) KAVU_INTERNAL_ERROR("node != NULL");
  if (kavu_seq_timer_is_dff_fixed(node)) return 0;
  if (!oterm->has_fanout()) return KAVU_DELAY_MIN;
  int best = KAVU_DELAY_MIN;
  for (CDB_SGATE_ITERM* t : oterm->fanouts()) {
    CDB_SGATE_NODE* load = t ? t->get_my_node() : nullptr;
    if (!load) continue;
    int d;
    if (is_ram_atom(load)) {
      d = RAM_PORT_DELAY;
    } else if (is_mac_atom(load)) {
      d = kavu_mac_port_delay;
    } else {
      d = m_stimer_model->compute_fanout_delay_of_iterm(t, nullptr, nullptr, this, this, true, get_best_cycle_time());
    }
    best = std::max(best, d);
  }
  return best;
}

// ---------------------------------------------------------------------------
// Critical paths

void KAVU_SEQ_DELAY_ANALYSIS::build_critical_paths(CDB_SGATE_OTERM* end, int limit,
                                                   std::vector<std::vector<CDB_SGATE_OTERM*>>& paths) {
  // The path follows the critical sources back from the end: a chain, walked
  // in a loop (it can be as deep as the netlist) and cut where it closes.
  if (limit <= 0 || !end) return;
  std::vector<CDB_SGATE_OTERM*> path;
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> on_path;
  for (CDB_SGATE_OTERM* t = end; t && is_in_domain(t) && on_path.insert(t).second;) {
    path.push_back(t);
    CDB_SGATE_NODE* g = t->get_my_node();
    if (is_ram_atom(g) || is_mac_atom(g)) break;
    const int index = get_oterm_index(t);
    t = index >= 0 ? get_oterm_info(index)->m_critical_source : nullptr;
  }
  std::reverse(path.begin(), path.end());
  paths.push_back(std::move(path));
}

void KAVU_SEQ_DELAY_ANALYSIS::analyze_critical_paths(KAVU_BIG_GATE_SET_INFO* big_gates) {
  const int test = get_best_cycle_time() - cfg_get_int_value("kavu_seq_critical_test", 1);
  // Every report appends, so the domains of one run follow each other.
  std::orlind_ofstream paths, failing, points, big;
  if (cfg_is_on("kavu_seq_dump_critical_path", false)) paths.open("kavu_seq_critical_path.txt", std::ios_base::app);
  if (cfg_is_on("kavu_seq_dump_failing_points", false)) failing.open("kavu_seq_failing_ep.txt", std::ios_base::app);
  if (cfg_is_on("kavu_seq_dump_critical_path_points", false))
    points.open("kavu_seq_critical_path_points.txt", std::ios_base::app);
  if (big_gates) big.open("kavu_seq_critical_big_gate.txt", std::ios_base::app);
  CRITICAL_REPORTS reports;
  if (paths.is_open()) reports.paths = &paths;
  if (failing.is_open()) reports.failing = &failing;
  if (points.is_open()) reports.points = &points;
  if (big.is_open()) reports.big_gates = &big;
  analyze_critical_paths(test, big_gates, reports);
}

void KAVU_SEQ_DELAY_ANALYSIS::analyze_critical_paths(int cycle, std::ostream& paths_os, std::ostream& failing_os) {
  CRITICAL_REPORTS reports;
  reports.paths = &paths_os;
  reports.failing = &failing_os;
  analyze_critical_paths(cycle, nullptr, reports);
}

void KAVU_SEQ_DELAY_ANALYSIS::analyze_critical_paths(int cycle, KAVU_BIG_GATE_SET_INFO* big_gates,
                                                     const CRITICAL_REPORTS& reports) {
  if (get_best_cycle_time() <= 1 || cycle < 1) {
    kavu_debug("Skip the critical path analysis for domain %d because the best cycle time is too small.", m_domain_id);
    return;
  }
  kavu_debug("Best cycle is %d, test cycle is %d", get_best_cycle_time(), cycle);
  m_cycle_time = cycle;
  int failing_loops = 0;
  for (KAVU_SCC* scc : m_sccs) {
    scc->m_record_positive_loop = true;
    scc->m_positive_loop_oterms.clear();
    KAVU_SEQ_OTERM_TABLE result;
    if (!scc->cycle_time_fit(cycle, nullptr, &result, false)) ++failing_loops;
    scc->m_record_positive_loop = false;
  }
  kavu_debug("There are %d failing loops.", failing_loops);
  if (failing_loops > 0) return;
  if (!calculate_arrival_time(false)) {
    kavu_debug("It is very strange that arr calculation failed at cycle %d", cycle);
    return;
  }
  std::vector<CDB_SGATE_OTERM*> failing;
  collect_failing_points(cycle, failing);
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> seen;
  for (CDB_SGATE_OTERM* f : failing) seen.insert(f);
  collect_ram_mac_failing_points(cycle, failing, seen);
  kavu_debug("Total number of failing endpoints = %d", int(failing.size()));
  if (reports.failing) dump_oterm_set(*reports.failing, failing);
  std::vector<std::vector<CDB_SGATE_OTERM*>> paths;
  for (CDB_SGATE_OTERM* f : failing) build_critical_paths(f, 1, paths);
  if (reports.paths) {
    std::ostream& paths_os = *reports.paths;
    paths_os << "START CLOCK DOMAIN " << m_domain_id << std::endl;
    for (size_t p = 0; p < paths.size(); ++p) {
      paths_os << "START CRITICAL PATH " << p << " " << paths.size() << std::endl;
      for (size_t k = 0; k < paths[p].size(); ++k) {
        CDB_SGATE_OTERM* o = paths[p][paths[p].size() - 1 - k];
        CDB_SGATE_NODE* g = o->get_my_node();
        paths_os << "[" << k << "] " << node_id(o) << " " << kavu_get_oterm_debug_name(o) << " ";
        const KAVU_BIG_GATE_INFO* big = big_gates ? big_gates->get_big_gate_info(o) : nullptr;
        if (big) paths_os << "* " << big->get_sup_size();
        if (kavu_delay_seq::is_register(g)) {
          paths_os << " R";
        } else if (g->get_sgate_type() == CDB_SGATE_COMB_ENUM) {
          int connected = 0;
          for (CDB_SGATE_ITERM* t : g->get_input_terms()) connected += t && t->get_source() ? 1 : 0;
          paths_os << " INPUT_CNT= " << connected;
        }
        paths_os << std::endl;
      }
      paths_os << "END CRITICAL PATH" << std::endl << std::endl;
    }
    paths_os << "END CLOCK DOMAIN" << std::endl;
  }
  std::vector<CDB_SGATE_OTERM*> points;
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> in_points;
  collect_critical_points(failing, points, in_points);
  if (reports.points) dump_oterm_set(*reports.points, points);
  if (!big_gates) {
    kavu_debug("Warning: BIG gate info doesn't exisit.");
  } else if (reports.big_gates) {
    dump_critical_big_gates(*reports.big_gates, *big_gates, points, in_points);
  }
}

void KAVU_SEQ_DELAY_ANALYSIS::collect_ram_mac_failing_points(int cycle, std::vector<CDB_SGATE_OTERM*>& points,
                                                             ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& seen) {
  // The block records hang off the domain record; once the driver has let
  // go of it there are no block inputs to check.
  if (!m_domain) return;
  std::vector<CDB_SGATE_OTERM*> sources;
  auto add = [&](CDB_SGATE_OTERM* d, int port_delay) {
    const int index = get_oterm_index(d);
    if (index < 0) return;
    const int arrival = get_oterm_info(index)->m_arrival;
    if (arrival != KAVU_DELAY_MIN && arrival + port_delay > cycle && seen.insert(d).second) points.push_back(d);
  };
  for (KAVU_SEQ_MAC_INFO* mac : m_domain->get_macs()) {
    if (!mac) KAVU_INTERNAL_ERROR("mac_info");
    sources.clear();
    mac->collect_input_sources(m_domain_id, sources);
    for (CDB_SGATE_OTERM* d : sources) {
      if (!d) KAVU_INTERNAL_ERROR("drv != NULL");
      if (is_in_domain(d)) add(d, kavu_mac_port_delay);
    }
  }
  for (KAVU_SEQ_RAM_INFO* ram : m_domain->get_rams()) {
    if (!ram) KAVU_INTERNAL_ERROR("ram_info != NULL");
    sources.clear();
    ram->collect_input_sources(m_domain_id, sources);
    for (CDB_SGATE_OTERM* d : sources) {
      if (!d) KAVU_INTERNAL_ERROR("drv != NULL");
      add(d, RAM_PORT_DELAY);
    }
  }
}

void KAVU_SEQ_DELAY_ANALYSIS::collect_critical_points(const std::vector<CDB_SGATE_OTERM*>& failing,
                                                      std::vector<CDB_SGATE_OTERM*>& points,
                                                      ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& in_points) {
  // Each terminal has one critical source, so a visit is a chain, followed
  // in a loop until it leaves the domain, reaches a block or a terminal
  // already collected.
  for (CDB_SGATE_OTERM* f : failing) {
    if (!in_points.insert(f).second) continue;
    points.push_back(f);
    for (CDB_SGATE_OTERM* t = f;;) {
      CDB_SGATE_NODE* g = t->get_my_node();
      if (!is_in_domain(t) || is_ram_atom(g) || is_mac_atom(g)) break;
      const int index = get_oterm_index(t);
      CDB_SGATE_OTERM* src = index >= 0 ? get_oterm_info(index)->m_critical_source : nullptr;
      if (!src || !in_points.insert(src).second) break;
      points.push_back(src);
      t = src;
    }
  }
}

void KAVU_SEQ_DELAY_ANALYSIS::dump_oterm_set(std::ostream& os, const std::vector<CDB_SGATE_OTERM*>& oterms) const {
  os << "START CLOCK DOMAIN " << m_domain_id << std::endl << "Total = " << oterms.size() << std::endl;
  for (size_t k = 0; k < oterms.size(); ++k)
    os << "[" << k << "] " << node_id(oterms[k]) << " " << kavu_get_oterm_debug_name(oterms[k]) << std::endl;
  os << "END CLOCK DOMAIN" << std::endl << std::endl;
}

namespace {

std::string port_name(const CDB_SGATE_OTERM* oterm) {
  return WYS_INFO::get_port_type_debug_string(oterm->get_port_type());
}

// The big gate's distinct supports in support order, each with its depth
// below the gate (-1 when the walk through the plain gates does not reach it).
void collect_big_gate_supports(const KAVU_BIG_GATE_INFO& gate, std::vector<CDB_SGATE_OTERM*>& supports,
                               std::vector<int>& values) {
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> support_set;
  gate.hash_support_set(support_set);
  KAVU_SEQ_OTERM_TABLE depths;
  kavu_seq_find_support_depth(gate.get_oterm(), 0, support_set, depths);
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> seen;
  for (CDB_SGATE_OTERM* s : gate.get_supports()) {
    if (!seen.insert(s).second) continue;
    supports.push_back(s);
    auto it = depths.find(s);
    values.push_back(it != depths.end() ? it->second : -1);
  }
}

}  // namespace

void KAVU_SEQ_DELAY_ANALYSIS::dump_critical_big_gates(std::ostream& os, const KAVU_BIG_GATE_SET_INFO& big_gates,
                                                      const std::vector<CDB_SGATE_OTERM*>& points,
                                                      const ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& in_points) const {
  os << "START CLOCK DOMAIN " << m_domain_id << std::endl;
  std::vector<CDB_SGATE_OTERM*> supports;
  std::vector<int> values;
  for (CDB_SGATE_OTERM* o : points) {
    const KAVU_BIG_GATE_INFO* gate = big_gates.get_big_gate_info(o);
    if (!gate) continue;
    supports.clear();
    values.clear();
    collect_big_gate_supports(*gate, supports, values);
    os << "START BIG GATE" << std::endl
       << node_id(o) << " " << port_name(o) << " PRE_DECOMP_ID= " << big_gates.get_pre_decomp_id(node_id(o)) << std::endl
       << "START BIG GATE SUP " << supports.size() << std::endl;
    for (size_t k = 0; k < supports.size(); ++k) {
      CDB_SGATE_OTERM* s = supports[k];
      os << k << " " << node_id(s) << " " << port_name(s) << " PRE_DECOMP_ID= " << big_gates.get_pre_decomp_id(node_id(s))
         << " DECOMP_DEPTH= " << gate->get_sup_depth(s) << " " << values[k] << " "
         << (in_points.find(s) != in_points.end() ? "*" : "") << std::endl;
    }
    os << "END BIG GATE SUP" << std::endl << "END BIG GATE" << std::endl;
  }
  os << "END CLOCK DOMAIN" << std::endl;
}

void KAVU_SEQ_DELAY_ANALYSIS::dump_big_gates_on_loops(const KAVU_BIG_GATE_SET_INFO* big_gates, std::ostream& os) {
  std::vector<CDB_SGATE_OTERM*> on_loop, supports;
  std::vector<int> values;
  for (KAVU_SCC* scc : m_sccs) {
    if (scc->m_positive_loop_oterms.empty()) continue;
    os << "SCC " << scc->get_id() << " SIZE= " << scc->get_size() << std::endl;
    scc->print_positive_loop(os);
    on_loop.clear();
    scc->collect_big_gates_on_positive_loop(on_loop, big_gates);
    if (on_loop.empty()) {
      os << "NO BIG GATES on the loop" << std::endl;
      continue;
    }
    ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> members, loop;
    scc->collect_member_oterms(members);
    for (CDB_SGATE_OTERM* o : scc->m_positive_loop_oterms) loop.insert(o);
    for (CDB_SGATE_OTERM* o : on_loop) {
      const KAVU_BIG_GATE_INFO* gate = big_gates->get_big_gate_info(o);
      os << "START GATE" << std::endl;
      gate->dump(os);
      supports.clear();
      values.clear();
      collect_big_gate_supports(*gate, supports, values);
      os << "START GATE DRIVERS " << supports.size() << std::endl;
      for (size_t k = 0; k < supports.size(); ++k) {
        CDB_SGATE_OTERM* d = supports[k];
        auto depth = m_non_seq_depth_table.find(d);
        os << (loop.find(d) != loop.end() ? " *" : "  ") << " [" << k << "] " << values[k] << " " << node_id(d) << " "
           << port_name(d) << " PRE_DECOMP_ID= " << big_gates->get_pre_decomp_id(node_id(d))
           << " DECOMP_DEPTH= " << gate->get_sup_depth(d) << " NON_SEQ_DEPTH= " << values[k] << " "
           << (depth != m_non_seq_depth_table.end() ? depth->second : -1)
           << (members.find(d) != members.end() ? " SCC" : "") << std::endl;
      }
      os << "END GATE DRIVER" << std::endl << "END GATE" << std::endl;
    }
  }
}

// ---------------------------------------------------------------------------
// Statistics

void KAVU_SEQ_DELAY_ANALYSIS::write_timing_info(std::ostream& os) {
  // Path delays need the fan-out delays: run the pass when it has not run.
  if (!m_fanout_done) calculate_max_fanout_delay();
  const int best = get_best_cycle_time();
  const bool only_critical = cfg_is_on("kavu_seq_only_dump_critical_timing", false);
  int weird = 0, critical = 0;
  int largest = KAVU_DELAY_MIN, largest_non_fixed = KAVU_DELAY_MIN;
  double average = 0;
  std::vector<CDB_SGATE_OTERM*> critical_nodes;
  for (int i = 0; i < m_oterm_size; ++i) {
    CDB_SGATE_OTERM* o = m_oterms[size_t(i)];
    if (!o) KAVU_INTERNAL_ERROR("oterm != NULL");
    CDB_SGATE_NODE* g = o->get_my_node();
    if (!g) KAVU_INTERNAL_ERROR("sgate != NULL");
    const KAVU_SEQ_DELAY_OTERM_INFO* info = get_oterm_info(i);
    const int path = info->m_arrival + info->m_max_fanout_delay;
    average += double(float(path) / float(m_oterm_size));
    largest = std::max(largest, path);
    if (!kavu_seq_timer_is_dff_fixed(g)) largest_non_fixed = std::max(largest_non_fixed, path);
    if (only_critical && path < best) continue;
    const char* tag = "SGATE ";
    if (path > best) {
      tag = "WEIRD_SGATE ";
      ++weird;
    } else if (path == best) {
      tag = "CRITICAL_SGATE ";
      ++critical;
      critical_nodes.push_back(o);
    }
    os << tag << kavu_get_oterm_debug_name(o) << " (id= " << node_id(o) << " ) " << g->get_string_type_name()
       << " max_fanin= " << info->m_arrival << " max_fanout= " << info->m_max_fanout_delay << std::endl;
  }
  os << "*****************************************************" << std::endl;
  os << "Number of gates whose sequential path delay > best cycle time is " << weird << std::endl;
  os << "Critical nodes ratio = " << (m_oterm_size ? double(critical + weird) / m_oterm_size : 0.0) << std::endl;
  os << "Best cycle time of the domain is " << best << std::endl;
  os << "Max Sequential path delay is " << largest << std::endl;
  os << "Max non-fixed node sequential path delay is " << largest_non_fixed << std::endl;
  os << "Average sequential path length is " << average << std::endl;
  // No path reaches the best cycle time (a domain limited only by its fixed
  // registers' paths): the critical nodes are those of the largest path
  // through non-fixed terminals.
  if (largest < best) {
    os << "The critical path is identified using max sequential path delay of non-fixed nodes." << std::endl
       << "*************************************************************" << std::endl;
    if (!critical_nodes.empty()) KAVU_INTERNAL_ERROR("critical_nodes.size() == 0");
    for (int i = 0; i < m_oterm_size; ++i) {
      const KAVU_SEQ_DELAY_OTERM_INFO* info = get_oterm_info(i);
      if (info->m_arrival + info->m_max_fanout_delay != largest_non_fixed) continue;
      CDB_SGATE_OTERM* o = m_oterms[size_t(i)];
      CDB_SGATE_NODE* g = o->get_my_node();
      critical_nodes.push_back(o);
      os << "CRITICAL_SGATE " << g->get_string_hpath() << " (id= " << node_id(o) << " ) " << g->get_string_type_name()
         << " fanin= " << info->m_arrival << " max_fanout= " << info->m_max_fanout_delay << std::endl;
    }
    os << "Critical Node count (current max seq depth of non fixed nodes) = " << critical_nodes.size() << std::endl;
  }
  // Critical start points have no critical driver, critical end points no
  // fan-out gate with a critical output.
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> in_set;
  for (CDB_SGATE_OTERM* o : critical_nodes) in_set.insert(o);
  std::vector<CDB_SGATE_OTERM*> starts, ends;
  for (CDB_SGATE_OTERM* o : critical_nodes) {
    bool start = true, end = true;
    for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms())
      start &= !(t && t->get_source() && in_set.find(t->get_source()) != in_set.end());
    if (o->has_fanout())
      for (CDB_SGATE_ITERM* t : o->fanouts())
        for (CDB_SGATE_OTERM* n : t->get_my_node()->get_output_terms()) end &= !(n && in_set.find(n) != in_set.end());
    if (start) starts.push_back(o);
    if (end) ends.push_back(o);
  }
  for (int side = 0; side < 2; ++side) {
    const std::vector<CDB_SGATE_OTERM*>& list = side == 0 ? starts : ends;
    os << (side == 0 ? "********************************************************" : "*******************************************************")
       << std::endl;
    os << "Total number of critical " << (side == 0 ? "start" : "end") << " points = " << list.size() << std::endl;
    for (size_t k = 0; k < list.size(); ++k)
      os << (side == 0 ? "START [" : "END [") << k << "] \t" << kavu_get_oterm_debug_name(list[k])
         << " SGATE_ID= " << node_id(list[k]) << " " << list[k]->get_my_node()->get_string_type_name() << " " << std::endl;
  }
  write_critical_paths_list(os, critical_nodes, 5);
  write_scc_summary(os);
}

void KAVU_SEQ_DELAY_ANALYSIS::write_critical_paths_list(std::ostream& os, int limit) {
  // Critical terminals: sequential path delay equal to the best cycle time.
  std::vector<CDB_SGATE_OTERM*> critical_order;
  const int best = get_best_cycle_time();
  for (int i = 0; i < m_oterm_size; ++i) {
    const KAVU_SEQ_DELAY_OTERM_INFO* info = get_oterm_info(i);
    if (info->m_arrival != KAVU_DELAY_MIN && info->m_max_fanout_delay != KAVU_DELAY_MIN &&
        info->m_arrival + info->m_max_fanout_delay == best)
      critical_order.push_back(m_oterms[size_t(i)]);
  }
  write_critical_paths_list(os, critical_order, limit);
}

void KAVU_SEQ_DELAY_ANALYSIS::write_critical_paths_list(std::ostream& os,
                                                        const std::vector<CDB_SGATE_OTERM*>& critical_order, int limit) {
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> critical;
  for (CDB_SGATE_OTERM* o : critical_order) critical.insert(o);
  auto critical_driver = [&](CDB_SGATE_ITERM* t) {
    return t && t->get_source() && critical.find(t->get_source()) != critical.end();
  };
  // End points: no fan-out gate with a critical output.
  std::vector<CDB_SGATE_OTERM*> ends;
  for (CDB_SGATE_OTERM* o : critical_order) {
    bool end = true;
    if (o->has_fanout())
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        CDB_SGATE_NODE* g = t ? t->get_my_node() : nullptr;
        if (!g) continue;
        for (CDB_SGATE_OTERM* n : g->get_output_terms()) end &= !(n && critical.find(n) != critical.end());
      }
    if (end) ends.push_back(o);
  }
  // Depth-first enumeration backward from each end on an explicit stack.
  // Each frame owns the chain step (terminal, load) and the next input to
  // try; a path is recorded when a frame has no critical driver off the
  // chain, and the enumeration stops once `limit` paths exist, so at most
  // `limit` leaves are reached and each frame's inputs are scanned once.
  struct STEP {
    CDB_SGATE_OTERM* oterm;
    CDB_SGATE_ITERM* load;
  };
  struct FRAME {
    CDB_SGATE_OTERM* oterm;
    CDB_SGATE_ITERM* load;
    size_t next_input;
    bool found;
  };
  std::vector<std::vector<STEP>> paths;
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> on_chain;
  std::vector<FRAME> stack;
  for (CDB_SGATE_OTERM* seed : ends) {
    if (int(paths.size()) >= limit) break;
    stack.push_back({seed, nullptr, 0, false});
    on_chain.insert(seed);
    while (!stack.empty()) {
      FRAME& f = stack.back();
      const auto& inputs = f.oterm->get_my_node()->get_input_terms();
      bool pushed = false;
      while (f.next_input < inputs.size() && int(paths.size()) < limit) {
        CDB_SGATE_ITERM* t = inputs[f.next_input++];
        if (!critical_driver(t) || on_chain.find(t->get_source()) != on_chain.end()) continue;
        f.found = true;
        on_chain.insert(t->get_source());
        stack.push_back({t->get_source(), t, 0, false});
        pushed = true;
        break;
      }
      if (pushed) continue;
      if (!f.found && int(paths.size()) < limit) {
        // A path start: the chain from this frame up to the seed.
        std::vector<STEP> path;
        for (size_t k = stack.size(); k-- > 0;) path.push_back({stack[k].oterm, stack[k].load});
        paths.push_back(std::move(path));
      }
      on_chain.erase(f.oterm);
      stack.pop_back();
      if (!stack.empty() && int(paths.size()) >= limit) {
        for (const FRAME& rest : stack) on_chain.erase(rest.oterm);
        stack.clear();
      }
    }
  }
  os << "*******************************************************" << std::endl;
  os << "List of Critical Paths: " << std::endl;
  for (size_t p = 0; p < paths.size(); ++p) {
    os << "*** Critical path " << p + 1 << " ***" << std::endl;
    for (size_t j = 0; j < paths[p].size(); ++j) {
      const STEP& s = paths[p][j];
      CDB_SGATE_NODE* g = s.oterm->get_my_node();
      os << "\t[" << j << "] " << g->get_string_hpath() << " (" << g->get_string_type_name()
         << ", SGATE_ID= " << g->get_id() << ")" << " Oterm" << s.oterm->get_port_index();
      // The load is the input by which the path enters the next step.
      if (s.load)
        os << " => (LOAD SGATE_ID= " << s.load->get_my_node()->get_id() << ") Iterm" << s.load->get_port_index();
      else
        os << " => END";
      os << std::endl;
    }
  }
}

void KAVU_SEQ_DELAY_ANALYSIS::write_scc_summary(std::ostream& os) const {
  const std::string separator(46, '*');
  os << "Total SCC count = " << m_sccs.size() << std::endl;
  os << std::endl << separator << std::endl;
  int sources = 0;
  for (KAVU_SCC* scc : m_sccs) sources += scc->get_input_oterms().empty() ? 1 : 0;
  os << "Source SCC Total = " << sources << std::endl;
  int k = 0;
  for (KAVU_SCC* scc : m_sccs) {
    if (!scc->get_input_oterms().empty()) continue;
    os << " [" << k++ << "] " << scc->get_id() << " (size=" << scc->get_size() << ") ";
    CDB_SGATE_OTERM* anchor = scc->find_anchor_oterm();
    if (anchor)
      os << "ANCHOR:" << anchor->get_my_node()->get_string_hpath() << " (SGATE_ID= " << node_id(anchor) << ")";
    else
      os << "ANCHOR: NULL";
    os << std::endl;
  }
  os << std::endl << separator << std::endl;
  int dests = 0;
  for (KAVU_SCC* scc : m_sccs) dests += scc->get_output_oterms().empty() ? 1 : 0;
  os << "DEST SCC Total = " << dests << std::endl;
  for (KAVU_SCC* scc : m_sccs)
    if (scc->get_output_oterms().empty()) os << scc->get_id() << "  ";
  os << std::endl << std::endl << separator << std::endl;
}
