// kavu_seq_timer.cpp — the sequential timer's lifecycle: construction, init
// and cleanup, the terminal index, clock ids, the topological order, the
// driver calculate_best_cycle_time and the timer's reports; the per-domain
// analysis record and its lookups.
//
// The topological visit runs on an explicit stack of (terminal, next input)
// frames, so it emits exactly the order of a depth-first recursion over the
// inputs in input order without being bounded by the stack's size.
#include "kavu_seq_timer.h"

#include <cmath>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>

#include "gen/gen.h"
#include "cfg/cfg.h"
#include "cut/cut.h"
#include "kavu_check.h"
#include "kavu_delay_model_seq.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_sort.h"
#include "kavu_seq_timer_int.h"
#include "kavu_load_time_int.h"

// ---------------------------------------------------------------------------
// Per-domain analysis

KAVU_SEQ_DELAY_ANALYSIS::KAVU_SEQ_DELAY_ANALYSIS(KAVU_SEQ_TIMER_CLK_DOMAIN* domain) : m_domain(domain) {
  KAVU_CHECK(domain != nullptr);
  m_domain_id = domain->get_id();
  m_fixed_reg_count = domain->get_fixed_reg_count();
  m_reg_count = domain->get_reg_count();
}

// One probe: a terminal already present leaves the table unchanged and
// fails the check.
int KAVU_SEQ_DELAY_ANALYSIS::add_domain_oterm(CDB_SGATE_OTERM* oterm, bool indexed) {
  KAVU_CHECK(oterm != 0);
  const int index = indexed ? m_oterm_size : -1;
  if (!m_oterm_index.insert(oterm, index).second) KAVU_CHECK(m_oterm_index.find(oterm) == m_oterm_index.end());
  if (indexed) {
    ++m_oterm_size;
    m_oterm_info.emplace_back();
  }
  return index;
}

bool KAVU_SEQ_DELAY_ANALYSIS::is_in_domain(CDB_SGATE_OTERM* oterm) const {
  return m_oterm_index.find(oterm) != m_oterm_index.end();
}

int KAVU_SEQ_DELAY_ANALYSIS::get_oterm_index(CDB_SGATE_OTERM* oterm) const {
  auto it = m_oterm_index.find(oterm);
  return it == m_oterm_index.end() ? -1 : it->second;
}

KAVU_SEQ_DELAY_OTERM_INFO* KAVU_SEQ_DELAY_ANALYSIS::get_oterm_info(int index) {
  KAVU_CHECK((index >= 0) && (index < m_oterm_size));
  return &m_oterm_info[size_t(index)];
}

int kavu_seq_table_delay(CDB_SGATE_OTERM* oterm, ZTL_HASH_LITE<CDB_SGATE_OTERM*, int>* table) {
  KAVU_CHECK(table != NULL);
  auto it = table->find(oterm);
  return it == table->end() ? KAVU_DELAY_MIN : it->second;
}

int kavu_seq_analysis_arrival(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* seq_timer) {
  KAVU_CHECK(seq_timer != NULL);
  if (!seq_timer->is_in_domain(oterm)) return 0;
  int index = seq_timer->get_oterm_index(oterm);
  if (index < 0) return KAVU_DELAY_MIN;
  return seq_timer->get_oterm_info(index)->m_arrival;
}

int kavu_seq_analysis_fanout_delay(CDB_SGATE_OTERM* oterm, KAVU_SEQ_DELAY_ANALYSIS* seq_timer) {
  KAVU_CHECK(seq_timer != NULL);
  int index = seq_timer->get_oterm_index(oterm);
  if (index < 0) return KAVU_DELAY_MIN;
  KAVU_SEQ_DELAY_OTERM_INFO* info = seq_timer->get_oterm_info(index);
  KAVU_CHECK(info != NULL);
  return info->m_max_fanout_delay;
}

// ---------------------------------------------------------------------------
// Construction and lifecycle

namespace {

constinit KAVU_KEY_ONCE minimize_carry_delay{"kavu_seq_minimize_carry_delay", false};
constinit KAVU_KEY_ONCE identify_critical_nodes{"kavu_identify_critical_nodes", false};

constexpr uint32_t NODE_MARKS = 0x39000;   // fixed, RAM and MAC packed, 0x8000
constexpr uint32_t OTERM_MARKS = 0x6000;

// Opens a report file for writing (truncating it).
void open_report(std::orlind_ofstream& os, const std::string& file) { os.open(file.c_str(), std::ios_base::out); }

int node_id_of(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* g = oterm ? oterm->get_my_node() : nullptr;
  return g ? int(g->get_id()) : -1;
}

}  // namespace

KAVU_SEQ_TIMER::KAVU_SEQ_TIMER(std::string name, CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, int decomp_fanin,
                               int huge_gate_limit, KAVU_BIG_GATE_SET_INFO* big_gates)
    : m_netlist(netlist),
      m_facade(facade),
      m_decomp_fanin(decomp_fanin),
      m_huge_gate_limit(huge_gate_limit),
      m_verbose(cfg_get_int_value("kavu_seq_timer_verbose", 0)),
      m_validation(cfg_is_on("seq_timer_validation", false)),
      m_pack_ram(cfg_is_on("kavu_seq_timer_pack_ram", false)),
      m_walk_through_mac(cfg_is_on("kavu_seq_scc_walk_through_mac", true)),
      m_fix_ff_d_only(cfg_is_on("kavu_seq_fix_ff_d_only", true)),
      m_changing_arc(cfg_is_on("kavu_seq_scc_changing_arc", true)),
      m_big_gates(big_gates),
      m_name(std::move(name)) {
  KAVU_CHECK(netlist != nullptr);
  init();
}

KAVU_SEQ_TIMER::~KAVU_SEQ_TIMER() { cleanup(); }

void KAVU_SEQ_TIMER::init() {
  clear_cdb_flags();
  // A second init starts over: the records of the first go first (domain
  // records and analyses point into the block maps replaced below).
  delete m_delay_model;
  m_oterm_infos.clear();
  m_oterm_info_pool.clear();
  for (KAVU_SEQ_DELAY_ANALYSIS* analysis : m_seq_clk_analysis) delete analysis;
  m_seq_clk_analysis.clear();
  for (KAVU_SEQ_TIMER_CLK_DOMAIN* domain : m_clk_domains) delete domain;
  m_clk_domains.clear();
  m_delay_model = new KAVU_DELAY_MODEL_STIMER(minimize_carry_delay(), m_decomp_fanin, m_huge_gate_limit);
  init_oterm_info();
  delete_lutram_map();
  m_lutram_infos = new KAVU_SEQ_LUTRAM_INFO_MAP();
  if (m_mac_infos) kavu_seq_delete_mac_infos(*m_mac_infos);
  delete m_mac_infos;
  m_mac_infos = new KAVU_SEQ_MAC_INFO_MAP();
  if (m_ram_infos) kavu_seq_delete_ram_infos(*m_ram_infos);
  delete m_ram_infos;
  m_ram_infos = new KAVU_SEQ_RAM_INFO_MAP();
  delete_clock_map();
  m_clock_map = new ZTL_HASH_LITE<KAVU_SEQ_CLOCK*, int>();
  m_max_clk_id = 0;
}

void KAVU_SEQ_TIMER::cleanup() {
  clear_cdb_flags();
  for (KAVU_SEQ_DELAY_ANALYSIS* analysis : m_seq_clk_analysis) delete analysis;
  m_seq_clk_analysis.clear();
  m_oterm_infos.clear();
  m_oterm_info_pool.clear();
  m_num_oterms = 0;
  if (m_ram_infos) kavu_seq_delete_ram_infos(*m_ram_infos);
  delete m_ram_infos;
  m_ram_infos = nullptr;
  delete m_delay_model;
  m_delay_model = nullptr;
  delete_clock_map();
  m_max_clk_id = 0;
  if (m_mac_infos) kavu_seq_delete_mac_infos(*m_mac_infos);
  delete m_mac_infos;
  m_mac_infos = nullptr;
  delete_lutram_map();
  for (KAVU_SEQ_TIMER_CLK_DOMAIN* domain : m_clk_domains) delete domain;
  m_clk_domains.clear();
}

void KAVU_SEQ_TIMER::delete_clock_map() {
  if (!m_clock_map) return;
  for (auto it = m_clock_map->begin(); it != m_clock_map->end(); ++it) delete it->first;
  delete m_clock_map;
  m_clock_map = nullptr;
}

void KAVU_SEQ_TIMER::delete_lutram_map() {
  if (!m_lutram_infos) return;
  for (auto it = m_lutram_infos->begin(); it != m_lutram_infos->end(); ++it) delete it->second;
  delete m_lutram_infos;
  m_lutram_infos = nullptr;
}

void KAVU_SEQ_TIMER::clear_cdb_flags() {
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    g->get_flag().reset(NODE_MARKS);
    for (CDB_SGATE_OTERM* o : g->get_output_terms())
      if (o) o->get_flag().reset(OTERM_MARKS);
  }
}

void KAVU_SEQ_TIMER::reset_clock_infos() {
  for (KAVU_SEQ_TIMER_OTERM_INFO* info : m_oterm_infos) info->m_clk_info.clear();
}

// ---------------------------------------------------------------------------
// Terminal index

void KAVU_SEQ_TIMER::init_oterm_info() {
  std::vector<CDB_SGATE_OTERM*> order;
  topological_sort_oterms(order);
  m_oterm_infos.reserve(order.size());
  for (CDB_SGATE_OTERM* oterm : order) {
    if (!oterm) KAVU_INTERNAL_ERROR("oterm != NULL");
    const CDB_SGATE_NODE* g = oterm->get_my_node();
    if (oterm->has_fanout() || kavu_seq_is_register(g)) {
      set_oterm_info_index(oterm, int(m_oterm_infos.size()));
      m_oterm_info_pool.emplace_back(oterm);
      m_oterm_infos.push_back(&m_oterm_info_pool.back());
    } else {
      set_oterm_info_index(oterm, -1);
    }
  }
  m_num_oterms = int(m_oterm_infos.size());
}

KAVU_SEQ_TIMER_OTERM_INFO* KAVU_SEQ_TIMER::get_oterm_info(const CDB_SGATE_OTERM* oterm) const {
  KAVU_CHECK(oterm != nullptr);
  const int index = get_oterm_info_index(oterm);
  if (index == -1) {
    if (oterm->has_fanout()) KAVU_INTERNAL_ERROR("oterm->has_fanout() ==false");
    return nullptr;
  }
  if (!((index >= 0) && (index < m_num_oterms))) KAVU_INTERNAL_ERROR("(index>=0) && (index < m_num_oterms)");
  KAVU_SEQ_TIMER_OTERM_INFO* info = m_oterm_infos[size_t(index)];
  // The aux value is shared scratch: a terminal made after indexing, or one
  // another pass re-marked, points at a record that is not its own.
  return info->m_oterm == oterm ? info : nullptr;
}

KAVU_SEQ_OTERM_CLK_INFO* KAVU_SEQ_TIMER::get_clock_info(const CDB_SGATE_OTERM* oterm) const {
  KAVU_SEQ_TIMER_OTERM_INFO* info = get_oterm_info(oterm);
  return info ? &info->m_clk_info : nullptr;
}

// ---------------------------------------------------------------------------
// Clock ids

// A known clock is found by a key on the stack: a record is made only for a
// new one.
int KAVU_SEQ_TIMER::get_or_create_clock_id(CDB_SGATE_OTERM* source, bool inverted) {
  if (m_clock_map) {
    KAVU_SEQ_CLOCK key(source, inverted);
    auto it = m_clock_map->find(&key);
    if (it != m_clock_map->end()) {
      const int id = it->second;
      if (!((id > 0) && (id <= m_max_clk_id))) KAVU_INTERNAL_ERROR("(id >0) && (id <= m_max_clk_id)");
      return id;
    }
  }
  KAVU_SEQ_CLOCK* clock = new KAVU_SEQ_CLOCK(source, inverted);
  bool created = false;
  const int id = get_or_create_clock_id(clock, created);
  if (!created) delete clock;
  return id;
}

int KAVU_SEQ_TIMER::get_or_create_clock_id(KAVU_SEQ_CLOCK* clock, bool& created) {
  KAVU_CHECK(clock != nullptr && m_clock_map != nullptr);
  auto it = m_clock_map->find(clock);
  int id;
  if (it != m_clock_map->end()) {
    created = false;
    id = it->second;
  } else {
    id = ++m_max_clk_id;
    m_clock_map->insert(clock, id);
    created = true;
  }
  if (!((id > 0) && (id <= m_max_clk_id))) KAVU_INTERNAL_ERROR("(id >0) && (id <= m_max_clk_id)");
  return id;
}

const KAVU_SEQ_CLOCK* KAVU_SEQ_TIMER::get_clock(int clock_id) const {
  if (!m_clock_map) return nullptr;
  for (auto it = m_clock_map->begin(); it != m_clock_map->end(); ++it)
    if (it->second == clock_id) return it->first;
  return nullptr;
}

KAVU_SEQ_TIMER_CLK_DOMAIN* KAVU_SEQ_TIMER::get_clock_domain(int clock_id) const {
  if (clock_id < 0 || size_t(clock_id) >= m_clk_domains.size()) return nullptr;
  return m_clk_domains[size_t(clock_id)];
}

std::string KAVU_SEQ_CLOCK::get_short_name() const {
  std::string name = m_source ? kavu_get_oterm_debug_name(m_source) : std::string("NULL");
  if (m_inverted) name += "_INV";
  return name;
}

void KAVU_SEQ_CLOCK::dump(std::ostream& os) const {
  os << (m_source ? kavu_get_oterm_debug_name(m_source) : std::string("NULL")) << " (sgate id = " << node_id_of(m_source)
     << ")" << " Inverted : " << (m_inverted ? "Y" : "N") << " PORT_INDEX= " << (m_source ? m_source->get_port_index() : 0);
}

// ---------------------------------------------------------------------------
// Topological order

bool KAVU_SEQ_TIMER::is_look_through(CDB_SGATE_NODE* g) const { return m_delay_model->look_through_sgate(g); }

namespace {

struct TOPO_FRAME {
  CDB_SGATE_OTERM* m_oterm;
  unsigned m_next;    // next input to look at
  bool m_look;        // whether the gate is looked through
};

// The visited set of the netlist-wide sort (before the index exists), and
// the walk's stack, kept from start to start.
struct HASH_VISITED {
  std::vector<TOPO_FRAME> m_stack;
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> m_set;
  bool insert(CDB_SGATE_OTERM* o) { return m_set.insert(o).second; }
  bool exists(CDB_SGATE_OTERM* o) const { return m_set.exists(o); }
};

// The visited set of a domain's sort: the terminals' index slots.
struct SLOT_VISITED {
  std::vector<TOPO_FRAME> m_stack;
  KAVU_SEQ_OTERM_POSITIONS m_positions;
  explicit SLOT_VISITED(KAVU_SEQ_TIMER* timer) : m_positions(timer) {}
  bool insert(CDB_SGATE_OTERM* o) { return m_positions.insert(o, 0); }
  bool exists(CDB_SGATE_OTERM* o) const { return m_positions.exists(o); }
};

}  // namespace

void KAVU_SEQ_TIMER::topological_sort_oterms(std::vector<CDB_SGATE_OTERM*>& out) {
  HASH_VISITED visited;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    for (CDB_SGATE_OTERM* o : g->get_output_terms())
      if (o) topological_sort_oterm_recur(o, out, visited, m_walk_through_mac);
  }
}

void KAVU_SEQ_TIMER::topological_sort_oterms(const std::vector<CDB_SGATE_OTERM*>& from,
                                             std::vector<CDB_SGATE_OTERM*>& out) {
  SLOT_VISITED visited(this);
  for (CDB_SGATE_OTERM* o : from)
    if (o) topological_sort_oterm_recur(o, out, visited, false);
}

namespace {

// Whether the visit follows input i of gate g towards its source.
bool followed_input(CDB_SGATE_NODE* g, CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM* i, bool walk_through_mac) {
  if (!i) return false;
  const bool reaches = i->is_connected() ? i->get_source() != nullptr
                                         : (i->get_parent_input() != nullptr && cdb_is_parent_connected(i));
  if (!reaches) return false;
  if (!kavu_oterm_depends_on_iterm(g, oterm, i, true, true, walk_through_mac, false)) return false;
  if (!i->get_source()) KAVU_INTERNAL_ERROR("feeder");
  return true;
}

}  // namespace

template <class VISITED>
void KAVU_SEQ_TIMER::topological_sort_oterm_recur(CDB_SGATE_OTERM* start, std::vector<CDB_SGATE_OTERM*>& out,
                                                  VISITED& visited, bool walk_through_mac) {
  auto enter = [&](CDB_SGATE_OTERM* o, std::vector<TOPO_FRAME>& stack) {
    if (!visited.insert(o)) return;
    CDB_SGATE_NODE* g = o->get_my_node();
    const bool look = is_look_through(g) || (walk_through_mac && kavu_is_mac_node(g));
    stack.push_back({o, 0, look});
  };
  std::vector<TOPO_FRAME>& stack = visited.m_stack;
  stack.clear();
  enter(start, stack);
  while (!stack.empty()) {
    TOPO_FRAME& f = stack.back();
    CDB_SGATE_NODE* g = f.m_oterm->get_my_node();
    CDB_SGATE_OTERM* next = nullptr;
    if (f.m_look) {
      const unsigned n = g->get_number_of_input_terms();
      while (f.m_next < n && !next) {
        CDB_SGATE_ITERM* i = g->get_input_term(f.m_next++);
        if (followed_input(g, f.m_oterm, i, walk_through_mac) && !visited.exists(i->get_source()))
          next = i->get_source();
      }
    }
    if (next) {
      enter(next, stack);  // may reallocate: f is not used after this
    } else {
      out.push_back(f.m_oterm);
      stack.pop_back();
    }
  }
}

// ---------------------------------------------------------------------------
// The driver

void KAVU_SEQ_TIMER::calculate_best_cycle_time() {
  GEN_PROFILER profiler("KAVU", "seq_timing_update", 0x7fffffff);
  const bool dump_all_timing = cfg_is_on("kavu_seq_timer_dump_all_timing", false);
  const bool cal_fanout_delay = cfg_is_on("kavu_seq_cal_fanout_delay", false);
  const bool recalculate_comb_gate_delay = cfg_is_on("kavu_seq_timer_always_recalculate_comb_gate_delay", true);
  const bool dump_sccs_after_search = cfg_is_on("kavu_seq_timer_dump_all_scc_after_best_cycle_cal", false);
  reset_clock_infos();
  if (cfg_is_on("kavu_seq_timer_dump_indexed_oterms", false))
    dump_indexed_oterms("kavu_seq_timer_" + m_dump_name + "indexed_oterms.txt");
  find_clock_domain_oterms();
  if (cfg_is_on("kavu_seq_timer_dump_clock_domain_oterms", false))
    dump_clock_domain_oterms("kavu_seq_timer_" + m_dump_name + "clk_domain_oterm_list.txt");
  const int io_fixed = fix_registers_connected_to_IO();
  kavu_debug("Fix %d registers because they are connected to IO", io_fixed);
  const int unknown_fixed = fix_registers_connected_to_unknown_domain();
  kavu_debug("Fix %d registers because they are connected to non-clocked domain.", unknown_fixed);
  for (KAVU_SEQ_DELAY_ANALYSIS* analysis : m_seq_clk_analysis) delete analysis;
  m_seq_clk_analysis.clear();
  const bool keep_domain_links = identify_critical_nodes() && m_big_gates;
  for (KAVU_SEQ_TIMER_CLK_DOMAIN* domain : m_clk_domains) {
    const int id = domain->get_id();
    if (id < 1) {
      add_clock_domain_for_analysis(nullptr);
      continue;
    }
    kavu_debug("SEQ_TIMER is processing clock domain %d", id);
    domain->find_fixed_registers();
    if (!domain->need_analysis()) {
      kavu_debug("Clock domain (ID=%d) is skipped to analyze.", id);
      add_clock_domain_for_analysis(nullptr);
      continue;
    }
    KAVU_SEQ_DELAY_ANALYSIS* analysis = new KAVU_SEQ_DELAY_ANALYSIS(
        m_netlist, m_facade, this, domain, m_verbose, recalculate_comb_gate_delay, m_decomp_fanin, m_huge_gate_limit);
    add_clock_domain_for_analysis(analysis);
    analysis->find_best_cycle_time();
    domain->set_best_cycle_time(analysis->get_best_cycle_time());
    kavu_debug("Best cycle time of clock domain %d is %d", id, domain->get_best_cycle_time());
    // The loops as the search left them, before the final arrival pass; the
    // domain name begins with the dump name, which so stands here twice.
    if (dump_sccs_after_search)
      analysis->dump_all_sccs("kavu_seq_timer_domain_" + m_dump_name + analysis->get_domain_name() +
                              "_all_scc_a4_best_cycle.txt");
    const bool success = analysis->calculate_arrival_time(true);
    if (!success) KAVU_INTERNAL_ERROR("success");
    kavu_debug("Arrival time is updated.");
    if (cal_fanout_delay) analysis->calculate_max_fanout_delay();
    if (dump_all_timing) {
      std::orlind_ofstream timing;
      open_report(timing, "kavu_seq_timing_info_of_domain_" + m_dump_name + std::to_string(id) + ".txt");
      analysis->write_timing_info(timing);
    }
    if (!keep_domain_links) analysis->clear_clk_domain();
  }
  if (!identify_critical_nodes() || !m_big_gates || m_big_gates->get_num_big_gates() == 0) return;

  print_all_clocks("kavu_seq_clocks.txt");
  kavu_debug("Checking critical path for all clock domains");
  for (const std::string& file : {std::string("kavu_seq_critical_big_gate.txt"), std::string("kavu_seq_failing_ep.txt"),
                                  std::string("kavu_seq_critical_path_points.txt"),
                                  std::string("kavu_seq_critical_path.txt")}) {
    std::orlind_ofstream truncate;
    open_report(truncate, file);
    truncate.close();
  }
  // The big gates on failing loops are written only while large gates are
  // tracked.
  const bool track_large_gates = kavu_is_tracking_large_gates();
  std::orlind_ofstream loops;
  if (track_large_gates) open_report(loops, "kavu_seq_big_gate_on_loop.txt");
  for (KAVU_SEQ_DELAY_ANALYSIS* analysis : m_seq_clk_analysis) {
    if (!analysis || analysis->get_domain_id() < 1) continue;
    kavu_debug("Checking critical path for clock domain %d", analysis->get_domain_id());
    analysis->analyze_critical_paths(m_big_gates);
    if (track_large_gates) {
      loops << "START DOMAIN " << analysis->get_domain_id() << " " << analysis->get_domain_name() << std::endl;
      analysis->dump_big_gates_on_loops(m_big_gates, loops);
      loops << "END DOMAIN" << std::endl << std::endl;
    }
    analysis->clear_clk_domain();
  }
  loops.close();
  kavu_debug("Done checking critical path for all clock domains");
}

// ---------------------------------------------------------------------------
// Reports

void KAVU_SEQ_TIMER::print_best_cycle_time(const std::string& file) {
  std::vector<const KAVU_SEQ_CLOCK*> by_id(size_t(m_max_clk_id) + 1, nullptr);
  if (m_clock_map) {
    for (auto it = m_clock_map->begin(); it != m_clock_map->end(); ++it) {
      if (it->second < 0 || it->second > m_max_clk_id)
        kavu_debug("WARNING: clock has invalid ID (ID=%d, total = %d)", it->second, m_max_clk_id);
      else
        by_id[size_t(it->second)] = it->first;
    }
  }
  std::orlind_ofstream os;
  open_report(os, file);
  std::vector<double> ratios;
  for (KAVU_SEQ_DELAY_ANALYSIS* analysis : m_seq_clk_analysis) {
    if (!analysis || analysis->get_best_cycle_time() == KAVU_DELAY_MIN) continue;
    const int id = analysis->get_domain_id();
    const KAVU_SEQ_CLOCK* clock = id >= 0 && id <= m_max_clk_id ? by_id[size_t(id)] : nullptr;
    const int best = analysis->get_best_cycle_time();
    const int depth = analysis->get_max_nonseq_depth();
    os << "[" << id << "] " << m_name << "/" << (clock ? clock->get_short_name() : std::string()) << " " << best << " "
       << depth << " ";
    if (depth < 1) {
      os << "-";
    } else {
      const float ratio = float(best) / float(depth);
      ratios.push_back(ratio);
      os << ratio;
    }
    const int f = analysis->m_fixed_reg_count, r = analysis->m_reg_count;
    os << " " << f << " " << r << " ";
    if (r < 1) os << "-"; else os << float(f) / float(r);
    os << " " << m_reg_count << " ";
    if (m_reg_count < 1) os << "-"; else os << float(r) / float(m_reg_count);
    os << std::endl;
  }
  double log_sum = 0;
  for (double r : ratios) log_sum += std::log(r);
  const double geo = ratios.size() == 1 ? ratios[0] : std::exp(log_sum / double(ratios.size()));
  os << "GEO= " << geo << " SIZE= " << ratios.size() << std::endl;
}

void KAVU_SEQ_TIMER::print_all_clocks(const std::string& file) {
  if (!m_clock_map) {
    kavu_debug("There are no clocks!!");
    return;
  }
  std::vector<const KAVU_SEQ_CLOCK*> by_id(size_t(m_max_clk_id) + 1, nullptr);
  for (auto it = m_clock_map->begin(); it != m_clock_map->end(); ++it) {
    if (!(it->second <= m_max_clk_id)) KAVU_INTERNAL_ERROR("clk_id <= m_max_clk_id");
    if (!(it->second >= 0)) KAVU_INTERNAL_ERROR("clk_id >= 0");
    by_id[size_t(it->second)] = it->first;
  }
  std::orlind_ofstream os;
  open_report(os, file);
  for (size_t id = 0; id < by_id.size(); ++id) {
    if (!by_id[id]) continue;
    os << "[" << id << "] ";
    by_id[id]->dump(os);
    os << std::endl;
  }
}

void KAVU_SEQ_TIMER::dump_clock_id_map(std::ostream& os) const {
  if (m_max_clk_id < 1 || !m_clock_map) {
    os << "No clocks." << std::endl;
    return;
  }
  std::vector<const KAVU_SEQ_CLOCK*> by_id(size_t(m_max_clk_id) + 1, nullptr);
  for (auto it = m_clock_map->begin(); it != m_clock_map->end(); ++it) {
    if (!((it->second > 0) && (it->second <= m_max_clk_id))) KAVU_INTERNAL_ERROR("(id >0) && (id <= m_max_clk_id)");
    by_id[size_t(it->second)] = it->first;
  }
  for (int id = 1; id <= m_max_clk_id; ++id) {
    if (!by_id[size_t(id)]) continue;
    os << "CLOCK[" << id << "] ";
    by_id[size_t(id)]->dump(os);
    os << std::endl;
  }
}

void KAVU_SEQ_TIMER::dump_clock_id_map() const { dump_clock_id_map(std::cout); }

void KAVU_SEQ_TIMER::dump_indexed_oterms(std::ostream& os) const {
  os << "Total number of oterms = " << m_num_oterms << std::endl;
  for (int i = 0; i < m_num_oterms; ++i) {
    const CDB_SGATE_OTERM* o = m_oterm_infos[size_t(i)]->m_oterm;
    os << "[" << i << "] " << kavu_get_oterm_debug_name(o) << " ID=" << node_id_of(o) << std::endl;
  }
}

void KAVU_SEQ_TIMER::dump_indexed_oterms(const std::string& file) const {
  std::orlind_ofstream os;
  open_report(os, file);
  dump_indexed_oterms(os);
}

void KAVU_SEQ_TIMER::dump_indexed_oterms() const { dump_indexed_oterms(std::cout); }

void KAVU_SEQ_TIMER::dump_clock_domain_oterms(std::ostream& os) const {
  const std::string stars(25, '*');
  os << "Oterms in Clock Domains" << std::endl;
  os << "Total number of clock domains = " << m_max_clk_id << std::endl;
  for (const KAVU_SEQ_TIMER_CLK_DOMAIN* domain : m_clk_domains) {
    os << stars << std::endl;
    domain->dump(os);
    os << stars << std::endl;
  }
}

void KAVU_SEQ_TIMER::dump_clock_domain_oterms(const std::string& file) const {
  std::orlind_ofstream os;
  open_report(os, file);
  dump_clock_domain_oterms(os);
}

void KAVU_SEQ_TIMER::dump_clock_domain_oterms() const { dump_clock_domain_oterms(std::cout); }

void KAVU_SEQ_TIMER::dump_oterm_clock_domain_info(std::ostream& os) const {
  os << "Clock domain information of oterms" << std::endl;
  os << "Total oterm count = " << m_num_oterms << std::endl;
  os << "Total clock domains = " << m_max_clk_id << std::endl;
  for (int i = 0; i < m_num_oterms; ++i) {
    const KAVU_SEQ_TIMER_OTERM_INFO* info = m_oterm_infos[size_t(i)];
    const CDB_SGATE_NODE* g = info->m_oterm->get_my_node();
    os << "Oterm [" << i << "] " << "(SGATE-ID=" << node_id_of(info->m_oterm) << ") "
       << kavu_get_oterm_debug_name(info->m_oterm) << " " << (g ? g->get_string_type_name() : "") << " ";
    if (info->is_hard_boundary())
      os << "Hard Boundary CLK ID = " << info->m_hard_boundary_clk_id;
    else
      os << "Arr=(" << kavu_seq_int_set_to_string(info->m_arr_clk_ids) << ") " << "REQ=("
         << kavu_seq_int_set_to_string(info->m_req_clk_ids) << ")";
    os << std::endl;
  }
}

void KAVU_SEQ_TIMER::dump_oterm_clock_domain_info(const std::string& file) const {
  kavu_debug("Dump oterm clock domain information to file %s", file.c_str());
  std::orlind_ofstream os;
  open_report(os, file);
  dump_oterm_clock_domain_info(os);
}

void KAVU_SEQ_TIMER::dump_oterm_clock_domain_info() const { dump_oterm_clock_domain_info(std::cout); }

// ---------------------------------------------------------------------------
// Timer answers for the delay expert

bool KAVU_SEQ_TIMER::is_skewed_oterm(CDB_SGATE_OTERM* oterm) const {
  if (!oterm) return false;
  CDB_SGATE_NODE* g = oterm->get_my_node();
  if (oterm->has_fanout() && g && g->is_wysiwyg() &&
      (g->cast_to_wysiwyg()->is_ram() || g->cast_to_wysiwyg()->is_mac()))
    return true;
  if (get_oterm_info_index(oterm) == -1) return false;
  if (!kavu_seq_is_register(g)) return false;
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  return clk && !clk->empty();
}

KAVU_SEQ_DELAY_ANALYSIS* KAVU_SEQ_TIMER::get_analysis(int clock_id) const {
  if (clock_id < 0 || size_t(clock_id) >= m_seq_clk_analysis.size()) return nullptr;
  return m_seq_clk_analysis[size_t(clock_id)];
}

namespace {

// "Node id = ..., name = ..., type = ..., oterm index = ..., name = ...".
void trace_oterm_node(const CDB_SGATE_OTERM* oterm) {
  const CDB_SGATE_NODE* g = oterm->get_my_node();
  kavu_debug("Node id = %d, name = %s, type = %s, oterm index = %d, name = %s", node_id_of(oterm),
             g ? g->get_string_hpath().c_str() : "", g ? g->get_string_type_name() : "", int(oterm->get_port_index()),
             DBS_TRANSLATOR::get_debug_string_name(oterm->get_port_type()).c_str());
}

// A fixed register answers 0 both ways unless it is packed into a block.
bool fixed_and_unpacked(const CDB_SGATE_NODE* g) {
  return g && kavu_seq_timer_is_dff_fixed(g) && !kavu_seq_timer_is_register_ram_packed(g) &&
         !kavu_seq_timer_is_register_mac_packed(g);
}

// The atom kind whose terminals answer arrival 0 without a clock.
constexpr CDB_WYSIWYG_TYPE ATOM_KIND_WITHOUT_CLOCK = 95;

}  // namespace

int KAVU_SEQ_TIMER::checked_clk_domain(int clock_id) const {
  if (!((clock_id >= 0) && (size_t(clock_id) < m_seq_clk_analysis.size())))
    KAVU_INTERNAL_ERROR("(clk_id>=0) && (clk_id<m_seq_clk_analysis.size())");
  return clock_id;
}

int KAVU_SEQ_TIMER::get_oterm_fanin_delay(CDB_SGATE_OTERM* oterm) const {
  KAVU_CHECK(oterm != nullptr);
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
  const CDB_SGATE_NODE* g = oterm->get_my_node();
  if (clk->empty()) {
    trace_oterm_node(oterm);
    if (g && g->is_wysiwyg() && g->cast_to_wysiwyg()->get_wysiwyg_type() == ATOM_KIND_WITHOUT_CLOCK) return 0;
    KAVU_INTERNAL_ERROR("clk_info->has_clk() == true");
  }
  if (clk->size() > 1) {
    kavu_debug("Oterm of sgate %d , clk_info_index = %d has multi clock (count=%d)", node_id_of(oterm),
               get_oterm_info_index(oterm), int(clk->size()));
    KAVU_INTERNAL_ERROR("multi-clock not supported yet");
  }
  const std::pair<int, int> pair = clk->front();
  if (!((pair.first >= 0) && (size_t(pair.first) < m_seq_clk_analysis.size()))) {
    trace_oterm_node(oterm);
    kavu_debug("clk_id = %d, m_seq_clk_analysis.size() = %d", pair.first, int(m_seq_clk_analysis.size()));
  }
  KAVU_SEQ_DELAY_ANALYSIS* analysis = m_seq_clk_analysis[size_t(checked_clk_domain(pair.first))];
  if (!analysis) KAVU_INTERNAL_ERROR("seq_analysis");
  const int d = analysis->get_arrival_time(pair.second);
  if (fixed_and_unpacked(g) && d != 0) {
    kavu_debug(
        "Fixed register has a non zero fanin delay (%d). SGATE ID = %d, name = %s, type = %s, oterm index = %d, "
        "oterm port_index = %d, oterm name = %s.",
        d, node_id_of(oterm), g->get_string_hpath().c_str(), g->get_string_type_name(), pair.second,
        int(oterm->get_port_index()), DBS_TRANSLATOR::get_debug_string_name(oterm->get_port_type()).c_str());
    KAVU_INTERNAL_ERROR("fanin_delay == 0");
  }
  return d;
}

int KAVU_SEQ_TIMER::get_max_fanout_delay(CDB_SGATE_OTERM* oterm) const {
  KAVU_CHECK(oterm != nullptr);
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk || clk->empty()) {
    kavu_debug("Get max fanout delay of oterm (sgate id = %d) has no clock.", node_id_of(oterm));
    if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
    KAVU_INTERNAL_ERROR("clk_info->has_clk() == true");
  }
  if (clk->size() > 1) KAVU_INTERNAL_ERROR("multi-clock not supported yet");
  const std::pair<int, int> pair = clk->front();
  KAVU_SEQ_DELAY_ANALYSIS* analysis = m_seq_clk_analysis[size_t(checked_clk_domain(pair.first))];
  if (!analysis) KAVU_INTERNAL_ERROR("seq_analysis");
  // The expert substitutes this value at register boundaries: the domain's
  // backward pass runs on the first request instead of answering the
  // "not computed" sentinel.
  if (!analysis->has_fanout_delays()) analysis->calculate_max_fanout_delay();
  const int d = analysis->get_max_fanout_delay(pair.second);
  if (fixed_and_unpacked(oterm->get_my_node()) && d != 0) KAVU_INTERNAL_ERROR("fanout_delay == 0");
  return d;
}

void KAVU_SEQ_TIMER::set_oterm_clk_info(CDB_SGATE_OTERM* oterm, int index, int clock_id) {
  KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
  clk->emplace_back(clock_id, index);
}

bool KAVU_SEQ_TIMER::oterm_in_one_clk_domain(CDB_SGATE_OTERM* oterm) const {
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
  return clk->size() == 1;
}

bool KAVU_SEQ_TIMER::oterm_in_any_clk_domain(CDB_SGATE_OTERM* oterm) const {
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
  return !clk->empty();
}

bool KAVU_SEQ_TIMER::oterm_in_clock_domain(CDB_SGATE_OTERM* oterm, int clock_id) const {
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) return false;
  for (const auto& p : *clk)
    if (p.first == clock_id) return true;
  return false;
}

int KAVU_SEQ_TIMER::get_oterm_index_in_clk_domain(CDB_SGATE_OTERM* oterm, int clock_id) const {
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
  if (clk->empty()) return -1;
  if (clk->size() == 1) return clk->front().first == clock_id ? clk->front().second : -1;
  // A terminal of several domains must be asked about one of them.
  for (const auto& p : *clk) {
    if (p.first != clock_id) continue;
    if (p.second < 0) KAVU_INTERNAL_ERROR("(oterm_clk_info.first>=0) && (oterm_clk_info.second>=0)");
    return p.second;
  }
  kavu_debug("oterm of sgate (%d), oterm_clk_info.first=%d, oterm_clk_info.second=%d is wrong. clk_id=%d",
             node_id_of(oterm), -1, -1, clock_id);
  KAVU_INTERNAL_ERROR("(oterm_clk_info.first>=0) && (oterm_clk_info.second>=0)");
  return -1;
}

bool KAVU_SEQ_TIMER::is_oterm_on_seq_loop(CDB_SGATE_OTERM* oterm) const {
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
  for (const auto& p : *clk) {
    KAVU_SEQ_DELAY_ANALYSIS* analysis = get_analysis(p.first);
    if (!analysis) KAVU_INTERNAL_ERROR("seq_analysis");
    if (!((p.second >= 0) && (p.second < analysis->get_oterm_size())))
      KAVU_INTERNAL_ERROR("(index >=0) && (index < m_oterm_size)");
    if (analysis->get_oterm_info(p.second)->m_scc_index != -1) return true;
  }
  return false;
}

int KAVU_SEQ_TIMER::get_best_cycle_time(CDB_SGATE_OTERM* oterm) const {
  const KAVU_SEQ_OTERM_CLK_INFO* clk = get_clock_info(oterm);
  if (!clk) KAVU_INTERNAL_ERROR("clk_info != NULL");
  if (clk->empty()) return KAVU_DELAY_MIN;
  if (clk->size() > 1) {
    kavu_debug("Oterm of node (sgate id = %d) has multi-clock", node_id_of(oterm));
    KAVU_INTERNAL_ERROR("oterm has multi-clock");
  }
  KAVU_SEQ_DELAY_ANALYSIS* analysis = get_analysis(clk->front().first);
  return analysis ? analysis->get_best_cycle_time() : KAVU_DELAY_MIN;
}

void KAVU_SEQ_TIMER::dump_oterm_clk_info(CDB_SGATE_OTERM* oterm) const {
  if (const KAVU_SEQ_OTERM_CLK_INFO* clk = oterm ? get_clock_info(oterm) : nullptr) {
    kavu_debug("Clock info of oterm %s (sgate id = %d)", kavu_get_oterm_debug_name(oterm).c_str(), node_id_of(oterm));
    for (const auto& p : *clk)
      kavu_debug("\t [ clk_id = %d, oterm_index_in_clk_domain = %d ]", p.first, p.second);
  }
}

