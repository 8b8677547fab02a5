// kavu_seq_timer_domain.cpp — clock domains of the sequential timer: hard
// boundaries and their clocks, forward and backward propagation of clock ids,
// the domain records, and the registers that may not move.
//
// Model: a hard boundary (register output, clocked RAM, MAC or LUT-RAM
//   output) carries one clock id. Forward propagation, over the index (fan-in
//   first), gives every crossed terminal the clocks of the boundaries that
//   reach it; backward propagation, in reverse, the clocks of the boundaries
//   it reaches. A terminal belongs to every domain whose clock both reaches
//   it and is reached by it, a boundary to its own clock's domain, anything
//   else to domain 0. A register whose synchronous inputs or loads see
//   another clock is fixed.
// Invalid clock ids (-1: a read-only RAM port, an unregistered LUT-RAM read
//   address, a register without clock) never enter a clock set.
// Fixed registers: the I/O rule (registers reached from output pins through
//   logic, and registers whose data input an input pin reaches), the rule at
//   domain 0, and per domain preserved and asynchronously controlled
//   registers. "kavu_seq_dont_fix_reg" and the retimer's name marker exempt a
//   register from every rule. The I/O searches keep explicit stacks and visit
//   in the order of a depth-first recursion.
// Cost: O(terminals + connections) per pass, times the (few) clock ids.
#include <iostream>
#include <sstream>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_delay_model_seq.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_seq_mac_utility.h"
#include "kavu_seq_timer.h"
#include "kavu_setup.h"

namespace {

bool fix_exempt(const CDB_SGATE_NODE* g) { return kavu_seq_dont_fix_reg || kavu_seq_has_retimer_marker(g); }

bool driven(const CDB_SGATE_ITERM* i) { return i && i->is_connected() && i->get_source(); }

bool is_ram_port_a_input(DB_INPUT_PORT_TYPE t) { return t == 83 || (t >= 88 && t <= 94) || t == 109; }

bool is_ram_unclocked_input(DB_INPUT_PORT_TYPE t) { return t == 35 || t == 36 || t == 39 || t == 40; }

bool is_mac_clocked_input(DB_INPUT_PORT_TYPE t) {
  switch (t) {
    case 6: case 179: case 408: case 409: case 410: case 411: case 543: case 3045: case 3047: case 3048:
    case 3196: case 3197: case 3198: return true;
    default: return false;
  }
}

// The clock slot of a MAC output port type, -1 for other outputs.
int mac_output_slot(DB_OUTPUT_PORT_TYPE t) { return t == 363 ? 0 : t == 364 ? 1 : t == 800 ? 2 : -1; }

// What the walks need to know of a gate, read with one look at the node.
enum NODE_KIND { KIND_OTHER, KIND_REGISTER, KIND_RAM, KIND_MAC, KIND_LUTRAM };

NODE_KIND kind_of(CDB_SGATE_NODE* g) {
  if (g->get_sgate_type() == CDB_SGATE_DFF_ENUM) return KIND_REGISTER;
  if (!g->is_wysiwyg()) return KIND_OTHER;
  const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
  if (w->is_ff()) return KIND_REGISTER;
  if (w->is_ram()) return KIND_RAM;
  if (w->is_mac()) return KIND_MAC;
  if (w->is_lutram()) return KIND_LUTRAM;
  return KIND_OTHER;
}

void add_valid(std::set<int>& ids, int id) {
  if (id != KAVU_SEQ_INVALID_CLOCK_ID) ids.insert(id);
}

bool is_sync_or_data_input(const CDB_SGATE_NODE* reg, const CDB_SGATE_ITERM* i) {
  return i == kavu_get_dff_enable(reg) || i == kavu_get_dff_sclear(reg) || i == kavu_get_dff_sload(reg) ||
         i == kavu_get_dff_data(reg);
}

}  // namespace

// ---------------------------------------------------------------------------
// Hard boundaries

void KAVU_SEQ_TIMER::mark_hard_boundary_oterm_with_clock(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM* clock,
                                                         bool inverted) {
  const int clock_id = get_or_create_clock_id(clock, inverted);
  KAVU_CHECK(clock_id > 0);
  mark_hard_boundary_oterm_with_clock_id(oterm, clock_id);
}

void KAVU_SEQ_TIMER::mark_hard_boundary_oterm_with_clock_id(CDB_SGATE_OTERM* oterm, int clock_id) {
  KAVU_SEQ_TIMER_OTERM_INFO* info = get_oterm_info(oterm);
  KAVU_CHECK(info != NULL);
  info->m_hard_boundary_clk_id = clock_id;
}

void KAVU_SEQ_TIMER::mark_boundary_clock_domain() {
  for (int index = 0; index < m_num_oterms; ++index) {
    CDB_SGATE_OTERM* o = m_oterm_infos[size_t(index)]->m_oterm;
    if (!m_delay_model->oterm_is_hard_boundary(o)) continue;
    CDB_SGATE_NODE* g = o->get_my_node();
    if (kavu_seq_is_register(g)) {
      CDB_SGATE_ITERM* clk = kavu_get_dff_clock(g);
      if (driven(clk)) mark_hard_boundary_oterm_with_clock(o, clk->get_source(), clk->is_inverted());
    } else if (kavu_is_mac_node(g)) {
      KAVU_SEQ_MAC_INFO* mac = find_or_create_mac_info(g);
      if (mac_output_slot(o->get_port_type()) < 0) continue;
      const int id = mac->get_output_port_clock(o);
      if (id != KAVU_SEQ_INVALID_CLOCK_ID) mark_hard_boundary_oterm_with_clock_id(o, id);
    } else if (kavu_is_ram_node(g)) {
      const std::vector<int>& ids = find_or_create_ram_info(g)->get_output_port_clocks(o);
      // A read-only port A gives the one id -1: no boundary clock.
      if (ids.size() == 1 && ids[0] >= 1) mark_hard_boundary_oterm_with_clock_id(o, ids[0]);
    } else if (kavu_is_lutram(g)) {
      const int id = find_or_create_lutram_info(g)->get_clock_id();
      if (id != KAVU_SEQ_INVALID_CLOCK_ID) mark_hard_boundary_oterm_with_clock_id(o, id);
    }
  }
}

// ---------------------------------------------------------------------------
// Propagation

bool KAVU_SEQ_TIMER::crosses_forward(CDB_SGATE_NODE* g, CDB_SGATE_OTERM* oterm) {
  if (kavu_is_mac_node(g)) {
    if (!is_look_through(g) && !m_walk_through_mac) return false;
    find_or_create_mac_info(g);
    return !kavu_is_mac_output_registered(oterm, nullptr);
  }
  if (kavu_is_lutram(g)) return find_or_create_lutram_info(g)->get_clock_id() == KAVU_SEQ_INVALID_CLOCK_ID;
  return is_look_through(g);
}

bool KAVU_SEQ_TIMER::crosses_backward(CDB_SGATE_NODE* g, CDB_SGATE_OTERM* oterm) {
  if (kavu_is_lutram(g)) return false;
  return crosses_forward(g, oterm);
}

void KAVU_SEQ_TIMER::forward_propagate() {
  const bool debug = cfg_is_on("kavu_seq_timer_clk_domain_forward_debug", false);
  for (int index = 0; index < m_num_oterms; ++index) {
    KAVU_SEQ_TIMER_OTERM_INFO* info = m_oterm_infos[size_t(index)];
    CDB_SGATE_OTERM* o = info->m_oterm;
    KAVU_CHECK(o != NULL);
    CDB_SGATE_NODE* g = o->get_my_node();
    KAVU_CHECK(g != NULL);
    if (debug) kavu_debug("SEQ TIMER Forward: oterm %s", kavu_get_oterm_debug_name(o).c_str());
    if (!crosses_forward(g, o)) continue;
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
      if (!driven(i)) continue;
      if (!kavu_oterm_depends_on_iterm(g, o, i, true, true, m_walk_through_mac, false)) {
        if (debug)
          kavu_debug("SEQ TIMER Forward: skip iterm %s because oterm doesn't depend on it.",
                     kavu_get_iterm_debug_name(i).c_str());
        continue;
      }
      CDB_SGATE_OTERM* s = i->get_source();
      CDB_SGATE_NODE* sg = s->get_my_node();
      const NODE_KIND kind = kind_of(sg);
      if (kind == KIND_RAM) {
        for (int id : find_or_create_ram_info(sg)->get_output_port_clocks(s)) add_valid(info->m_arr_clk_ids, id);
        continue;
      }
      if (kind == KIND_MAC) {
        const int id = find_or_create_mac_info(sg)->get_output_port_clock(s);
        if (id != KAVU_SEQ_INVALID_CLOCK_ID) {
          info->m_arr_clk_ids.insert(id);
          continue;
        }
      }
      const KAVU_SEQ_TIMER_OTERM_INFO* sinfo = get_oterm_info(s);
      if (!sinfo) continue;
      if (sinfo->is_hard_boundary())
        info->m_arr_clk_ids.insert(sinfo->m_hard_boundary_clk_id);
      else
        info->m_arr_clk_ids.insert(sinfo->m_arr_clk_ids.begin(), sinfo->m_arr_clk_ids.end());
    }
  }
}

void KAVU_SEQ_TIMER::backward_propagate() {
  const bool debug = cfg_is_on("kavu_seq_timer_clk_domain_backward_debug", false);
  for (int index = m_num_oterms - 1; index >= 0; --index) {
    KAVU_SEQ_TIMER_OTERM_INFO* info = m_oterm_infos[size_t(index)];
    CDB_SGATE_OTERM* o = info->m_oterm;
    CDB_SGATE_NODE* g = o->get_my_node();
    if (debug)
      kavu_debug("SEQ TIMER Backward: index = %d oterm %s SGATE_ID = %d", index, kavu_get_oterm_debug_name(o).c_str(),
                 int(g->get_id()));
    if (!crosses_backward(g, o)) continue;
    std::set<int>& req = info->m_req_clk_ids;
    for (CDB_SGATE_ITERM* fi : o->fanouts()) {
      CDB_SGATE_NODE* l = fi->get_my_node();
      const DB_INPUT_PORT_TYPE port = fi->get_port_type();
      const NODE_KIND kind = kind_of(l);
      if (kind == KIND_LUTRAM && port != 110) {
        if (!kavu_is_lutram_registered_input(fi)) continue;
        const int id = find_or_create_lutram_info(l)->get_input_clock(fi);
        // An unregistered output's read address has no clock.
        if (id == KAVU_SEQ_INVALID_CLOCK_ID)
          kavu_debug("SEQ TIMER Backward: iterm %s of LUT RAM (sgate id=%d) has no clock.",
                     kavu_get_iterm_debug_name(fi).c_str(), int(l->get_id()));
        add_valid(req, id);
        continue;
      }
      if (kind == KIND_RAM) {
        if (is_ram_unclocked_input(port)) continue;
        KAVU_SEQ_RAM_INFO* ram = find_or_create_ram_info(l);
        KAVU_CHECK(ram != NULL);
        add_valid(req, is_ram_port_a_input(port) ? ram->m_in_port_a_clk : ram->m_in_port_b_clk);
        continue;
      }
      if (kind == KIND_MAC && is_mac_clocked_input(port)) {
        const int id = find_or_create_mac_info(l)->get_input_port_clock(fi);
        if (id != KAVU_SEQ_INVALID_CLOCK_ID) {
          req.insert(id);
          continue;
        }
      }
      if (kind == KIND_REGISTER) {
        if (!is_sync_or_data_input(l, fi)) continue;
        CDB_SGATE_OTERM* lo = kavu_get_dff_oterm(l);
        const KAVU_SEQ_TIMER_OTERM_INFO* load_info = lo ? get_oterm_info(lo) : nullptr;
        if (!load_info) {
          kavu_debug("Oterm of node (sgate id=%d) of DFF type has no OTERM info.", int(l->get_id()));
          KAVU_INTERNAL_ERROR("load_info != NULL");
        }
        // A register without clock belongs to no domain.
        if (load_info->m_hard_boundary_clk_id > 0) req.insert(load_info->m_hard_boundary_clk_id);
        continue;
      }
      if (!(is_look_through(l) || (m_walk_through_mac && kind == KIND_MAC) || kind == KIND_LUTRAM)) continue;
      for (CDB_SGATE_OTERM* f : l->get_output_terms()) {
        if (!f || !f->has_fanout()) continue;  // atoms keep empty port slots
        if (!kavu_oterm_depends_on_iterm(l, f, fi, true, true, m_walk_through_mac, false)) {
          if (debug)
            kavu_debug("SEQ TIMER Backward: fanout oterm %s is skipped because it doesn't depend on iterm %s",
                       kavu_get_oterm_debug_name(f).c_str(), kavu_get_iterm_debug_name(fi).c_str());
          continue;
        }
        const KAVU_SEQ_TIMER_OTERM_INFO* finfo = get_oterm_info(f);
        if (!finfo) continue;
        if (finfo->is_hard_boundary())
          req.insert(finfo->m_hard_boundary_clk_id);
        else
          req.insert(finfo->m_req_clk_ids.begin(), finfo->m_req_clk_ids.end());
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Domain boundary of a register

void KAVU_SEQ_TIMER::get_relevant_sync_iterm_drivers(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& drivers) {
  CDB_SGATE_NODE* g = oterm->get_my_node();
  if (!kavu_seq_is_register(g)) return;
  for (CDB_SGATE_ITERM* i : {kavu_get_dff_enable(g), kavu_get_dff_sload(g), kavu_get_dff_sclear(g), kavu_get_dff_data(g)})
    if (driven(i)) drivers.push_back(i->get_source());
}

bool KAVU_SEQ_TIMER::hard_boundary_oterm_in_multi_clock_domain(CDB_SGATE_OTERM* t) {
  KAVU_SEQ_TIMER_OTERM_INFO* info = get_oterm_info(t);
  if (!info || info->m_hard_boundary_clk_id < 1) return false;
  const int c = info->m_hard_boundary_clk_id;
  std::set<int>& arr = info->m_arr_clk_ids;
  std::set<int>& req = info->m_req_clk_ids;
  std::vector<CDB_SGATE_OTERM*>& drivers = m_driver_scratch;
  drivers.clear();
  get_relevant_sync_iterm_drivers(t, drivers);
  for (CDB_SGATE_OTERM* d : drivers) {
    const KAVU_SEQ_TIMER_OTERM_INFO* dinfo = get_oterm_info(d);
    if (!dinfo) continue;
    if (dinfo->is_hard_boundary())
      arr.insert(dinfo->m_hard_boundary_clk_id);
    else if (is_look_through(d->get_my_node()))
      arr.insert(dinfo->m_arr_clk_ids.begin(), dinfo->m_arr_clk_ids.end());
    if (arr.size() > 1) return true;
  }
  if (!arr.empty()) {
    KAVU_CHECK(arr.size() == 1);
    if (*arr.begin() != c) return true;
  }
  for (CDB_SGATE_ITERM* fi : t->fanouts()) {
    CDB_SGATE_NODE* l = fi->get_my_node();
    const bool look = is_look_through(l);
    for (CDB_SGATE_OTERM* f : l->get_output_terms()) {
      if (!f) continue;  // atoms keep empty port slots
      if (look && !kavu_oterm_depends_on_iterm(l, f, fi, false, true, m_walk_through_mac, false)) continue;
      const KAVU_SEQ_TIMER_OTERM_INFO* finfo = get_oterm_info(f);
      if (!finfo) continue;
      if (finfo->is_hard_boundary())
        req.insert(finfo->m_hard_boundary_clk_id);
      else if (look)
        req.insert(finfo->m_req_clk_ids.begin(), finfo->m_req_clk_ids.end());
      if (req.size() > 1) return true;
    }
  }
  if (!req.empty()) {
    KAVU_CHECK(req.size() == 1);
    if (*req.begin() != c) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Discovery

void KAVU_SEQ_TIMER::find_clock_domain_oterms() {
  mark_boundary_clock_domain();
  if (m_max_clk_id < 1) {
    kavu_debug("KAVU_SEQ_TIMER: no clock domains are found.");
    return;
  }
  kavu_debug("KAVU_SEQ_TIMER: %d clock domains are found.", m_max_clk_id);
  {
    // The clock map goes to the debug channel: a library writes no stdout.
    std::ostringstream clocks;
    dump_clock_id_map(clocks);
    std::istringstream lines(clocks.str());
    for (std::string line; std::getline(lines, line);) kavu_debug("%s", line.c_str());
  }
  forward_propagate();
  backward_propagate();
  if (cfg_is_on("kavu_seq_timer_dump_clock_domain_info", false))
    dump_oterm_clock_domain_info("kavu_seq_timer_" + m_dump_name + "oterm_clk_domain_id.txt");

  for (KAVU_SEQ_TIMER_CLK_DOMAIN* domain : m_clk_domains) delete domain;
  m_clk_domains.clear();
  for (int id = 0; id <= m_max_clk_id; ++id) m_clk_domains.push_back(new KAVU_SEQ_TIMER_CLK_DOMAIN(id));

  ZTL_HASH_SET_LITE<CDB_SGATE_NODE*> rams_seen, macs_seen;
  for (int index = 0; index < m_num_oterms; ++index) {
    KAVU_SEQ_TIMER_OTERM_INFO* info = m_oterm_infos[size_t(index)];
    KAVU_CHECK(info != NULL);
    CDB_SGATE_OTERM* t = info->m_oterm;
    CDB_SGATE_NODE* g = t->get_my_node();
    if (kavu_is_ram_node(g) && rams_seen.insert(g).second) {
      KAVU_SEQ_RAM_INFO* ram = find_or_create_ram_info(g);
      KAVU_CHECK(ram != NULL);
      std::vector<int> ids;
      ram->get_all_clock_ids(ids);
      for (int id : ids) {
        KAVU_CHECK(id != KAVU_SEQ_INVALID_CLOCK_ID);
        m_clk_domains[size_t(id)]->get_rams().push_back(ram);
      }
    }
    if (kavu_is_mac_node(g)) {
      KAVU_SEQ_MAC_INFO* mac = find_or_create_mac_info(g);
      const int k = mac_output_slot(t->get_port_type()) < 0 ? KAVU_SEQ_INVALID_CLOCK_ID : mac->get_output_port_clock(t);
      if (k != KAVU_SEQ_INVALID_CLOCK_ID) {
        if (macs_seen.insert(g).second) m_clk_domains[size_t(k)]->get_macs().push_back(mac);
        m_clk_domains[size_t(k)]->get_oterms().push_back(t);
        continue;
      }
    }
    const int c = info->m_hard_boundary_clk_id;
    KAVU_CHECK(c <= m_max_clk_id);
    if (c < 1) {
      bool placed = false;
      for (int a : info->m_arr_clk_ids) {
        if (!info->m_req_clk_ids.count(a)) continue;
        KAVU_CHECK(a != KAVU_SEQ_INVALID_CLOCK_ID);
        m_clk_domains[size_t(a)]->get_oterms().push_back(t);
        placed = true;
        if (kavu_is_mac_node(g) && macs_seen.insert(g).second)
          m_clk_domains[size_t(a)]->get_macs().push_back(find_or_create_mac_info(g));
      }
      if (!placed) m_clk_domains[0]->get_oterms().push_back(t);
      continue;
    }
    m_clk_domains[size_t(c)]->get_oterms().push_back(t);
    if (kavu_seq_is_register(g) && hard_boundary_oterm_in_multi_clock_domain(t) && !fix_exempt(g)) {
      mark_fixed(g);
      kavu_debug("SGATE %d is fixed because it is multi-clock domain boundary", int(g->get_id()));
    }
  }

  m_reg_count = 0;
  for (const KAVU_SEQ_TIMER_OTERM_INFO* info : m_oterm_infos)
    if (kavu_seq_is_register(info->m_oterm->get_my_node())) ++m_reg_count;
  for (KAVU_SEQ_TIMER_CLK_DOMAIN* domain : m_clk_domains) {
    int n = 0;
    for (CDB_SGATE_OTERM* o : domain->get_oterms())
      if (kavu_seq_is_register(o->get_my_node())) ++n;
    domain->set_reg_count(n);
  }

  if (cfg_is_on("kavu_seq_dump_mac_info", false)) {
    if (m_mac_infos) kavu_seq_dump_mac_infos(*m_mac_infos, "kavu_seq_mac_info.txt");
    else kavu_debug("No MACs.");
  }
  if (cfg_is_on("kavu_seq_dump_ram_info", false)) {
    if (m_ram_infos) kavu_seq_dump_ram_infos(*m_ram_infos, "kavu_seq_ram_info.txt");
    else kavu_debug("No RAMs");
  }
}

void KAVU_SEQ_TIMER::get_all_oterms_of_single_clock_domain_design(KAVU_SEQ_TIMER_CLK_DOMAIN& domain) {
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o) domain.get_oterms().push_back(o);
  }
}

// ---------------------------------------------------------------------------
// Block records

KAVU_SEQ_RAM_INFO* KAVU_SEQ_TIMER::find_ram_info(CDB_SGATE_NODE* ram) const {
  if (!m_ram_infos) return nullptr;
  auto it = m_ram_infos->find(ram);
  return it == m_ram_infos->end() ? nullptr : it->second;
}

KAVU_SEQ_MAC_INFO* KAVU_SEQ_TIMER::find_mac_info(CDB_SGATE_NODE* mac) const {
  if (!m_mac_infos) return nullptr;
  auto it = m_mac_infos->find(mac);
  return it == m_mac_infos->end() ? nullptr : it->second;
}

KAVU_SEQ_LUTRAM_INFO* KAVU_SEQ_TIMER::find_lutram_info(CDB_SGATE_NODE* lutram) const {
  if (!m_lutram_infos) return nullptr;
  auto it = m_lutram_infos->find(lutram);
  return it == m_lutram_infos->end() ? nullptr : it->second;
}

KAVU_SEQ_RAM_INFO* KAVU_SEQ_TIMER::find_or_create_ram_info(CDB_SGATE_NODE* ram) {
  if (KAVU_SEQ_RAM_INFO* info = find_ram_info(ram)) return info;
  if (!m_ram_infos) m_ram_infos = new KAVU_SEQ_RAM_INFO_MAP();
  KAVU_SEQ_RAM_INFO* info = new KAVU_SEQ_RAM_INFO(ram, this);
  m_ram_infos->insert(ram, info);
  return info;
}

KAVU_SEQ_MAC_INFO* KAVU_SEQ_TIMER::find_or_create_mac_info(CDB_SGATE_NODE* mac) {
  if (KAVU_SEQ_MAC_INFO* info = find_mac_info(mac)) return info;
  if (!m_mac_infos) m_mac_infos = new KAVU_SEQ_MAC_INFO_MAP();
  KAVU_SEQ_MAC_INFO* info = new KAVU_SEQ_MAC_INFO(mac, this);
  m_mac_infos->insert(mac, info);
  return info;
}

KAVU_SEQ_LUTRAM_INFO* KAVU_SEQ_TIMER::find_or_create_lutram_info(CDB_SGATE_NODE* lutram) {
  if (KAVU_SEQ_LUTRAM_INFO* info = find_lutram_info(lutram)) return info;
  if (!m_lutram_infos) m_lutram_infos = new KAVU_SEQ_LUTRAM_INFO_MAP();
  KAVU_SEQ_LUTRAM_INFO* info = new KAVU_SEQ_LUTRAM_INFO(lutram, this);
  m_lutram_infos->insert(lutram, info);
  return info;
}

// ---------------------------------------------------------------------------
// Fixed registers: the I/O rule

void KAVU_SEQ_TIMER::mark_fixed(CDB_SGATE_NODE* g) { g->get_flag().set(KAVU_SEQ_DFF_FIXED); }

int KAVU_SEQ_TIMER::fix_registers_connected_to_IO() {
  std::list<CDB_SGATE_OTERM*> found;
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> fanin_visited, fanout_visited;
  for (CDB_SGATE_IO* outport : m_netlist->get_output_pins()) {
    if (!outport) KAVU_INTERNAL_ERROR("outport");
    if (CDB_SGATE_OTERM* o = outport->get_output_term(0)) dfs_fanin_recur(o, fanin_visited, found);
  }
  for (CDB_SGATE_IO* input_port : m_netlist->get_input_pins()) {
    if (!input_port) KAVU_INTERNAL_ERROR("input_port");
    CDB_SGATE_OTERM* my_oterm = input_port->get_output_term(0);
    KAVU_CHECK(my_oterm);
    if (my_oterm->has_fanout()) dfs_fanout_recur(my_oterm, fanout_visited, found);
  }
  const bool debug = cfg_is_on("kavu_seq_timer_debug_fix_reg_io", false);
  int count = 0;
  for (CDB_SGATE_OTERM* o : found) {
    CDB_SGATE_NODE* g = o ? o->get_my_node() : nullptr;
    if (!g || fix_exempt(g)) continue;
    mark_fixed(g);
    ++count;
    if (debug) {
      kavu_debug("SGATE %d (oterm %s) is maked fixed because it is connected to I/O", int(g->get_id()),
                 kavu_get_oterm_debug_name(o).c_str());
      KAVU_CHECK(kavu_seq_timer_is_dff_fixed(g) == true);
    }
  }
  return count;
}

void KAVU_SEQ_TIMER::dfs_fanin_recur(CDB_SGATE_OTERM* start, ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& visited,
                                     std::list<CDB_SGATE_OTERM*>& found) {
  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    unsigned m_next;
  };
  std::vector<FRAME> stack;
  // Entering a terminal: registers are found, RAMs and LUT RAMs end the
  // search, every other gate is searched through its inputs.
  auto enter = [&](CDB_SGATE_OTERM* t) {
    if (!visited.insert(t).second) return;
    const NODE_KIND kind = kind_of(t->get_my_node());
    if (kind == KIND_REGISTER) {
      found.push_back(t);
      return;
    }
    if (kind == KIND_RAM || kind == KIND_LUTRAM) return;
    stack.push_back({t, 0});
  };
  enter(start);
  while (!stack.empty()) {
    FRAME& f = stack.back();
    CDB_SGATE_NODE* g = f.m_oterm->get_my_node();
    CDB_SGATE_OTERM* next = nullptr;
    while (!next && f.m_next < g->get_number_of_input_terms()) {
      CDB_SGATE_ITERM* i = g->get_input_term(f.m_next++);
      if (driven(i)) next = i->get_source();
    }
    if (next)
      enter(next);
    else
      stack.pop_back();
  }
}

void KAVU_SEQ_TIMER::dfs_fanout_recur(CDB_SGATE_OTERM* start, ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*>& visited,
                                      std::list<CDB_SGATE_OTERM*>& found) {
  struct FRAME {
    CDB_SGATE_ITERM* m_fanout;  // the fan-out being searched, null when done
    unsigned m_next_output;     // next output of the fan-out's gate
    bool m_started;             // the fan-out's gate was looked at
  };
  std::vector<FRAME> stack;
  auto enter = [&](CDB_SGATE_OTERM* t) {
    if (visited.insert(t).second) stack.push_back({t->get_first_fanout(), 0, false});
  };
  auto qualifies = [&](CDB_SGATE_NODE* l, CDB_SGATE_ITERM* i) {
    return m_fix_ff_d_only ? i == kavu_get_dff_data(l) : i != kavu_get_dff_clock(l);
  };
  enter(start);
  while (!stack.empty()) {
    FRAME& f = stack.back();
    if (!f.m_fanout) {
      stack.pop_back();
      continue;
    }
    CDB_SGATE_NODE* l = f.m_fanout->get_my_node();
    if (!f.m_started) {
      f.m_started = true;
      const NODE_KIND kind = kind_of(l);
      if (kind == KIND_REGISTER && qualifies(l, f.m_fanout)) found.push_back(kavu_get_dff_oterm(l));
      if (kind != KIND_OTHER && kind != KIND_MAC) f.m_next_output = l->get_output_count();
    }
    CDB_SGATE_OTERM* next = nullptr;
    while (!next && f.m_next_output < l->get_output_count()) {
      CDB_SGATE_OTERM* o = l->get_output_term(f.m_next_output++);
      if (o && o->has_fanout() && !visited.exists(o)) next = o;
    }
    if (next) {
      enter(next);  // may reallocate: f is not used after this
    } else {
      f.m_fanout = f.m_fanout->get_next_fanout();
      f.m_next_output = 0;
      f.m_started = false;
    }
  }
}

// ---------------------------------------------------------------------------
// Fixed registers: domain rules

int KAVU_SEQ_TIMER::fix_registers_connected_to_unknown_domain() {
  if (m_clk_domains.empty()) return 0;
  return m_clk_domains[0]->fix_registers_connected_to_domain();
}

KAVU_SEQ_TIMER_CLK_DOMAIN::KAVU_SEQ_TIMER_CLK_DOMAIN(int id)
    : m_id(id), m_fix_ff_d_only(cfg_is_on("kavu_seq_fix_ff_d_only", true)) {}

int KAVU_SEQ_TIMER_CLK_DOMAIN::fix_registers_connected_to_domain() {
  const bool verbose = cfg_is_on("kavu_fix_registers_connected_to_domain_verbose", false);
  int count = 0;
  for (CDB_SGATE_OTERM* o : m_oterms) {
    if (!o) KAVU_INTERNAL_ERROR("oterm");
    CDB_SGATE_NODE* g = o->get_my_node();
    for (CDB_SGATE_ITERM* i : o->fanouts()) {
      CDB_SGATE_NODE* r = i->get_my_node();
      if (!kavu_seq_is_register(r) || i != kavu_get_dff_data(r)) continue;
      if (kavu_seq_timer_is_dff_fixed(r) || fix_exempt(r)) continue;
      r->get_flag().set(KAVU_SEQ_DFF_FIXED);
      ++count;
      if (verbose)
        kavu_debug("Register %s (sgate id=%d) is fixed because its input is connected to domain %d (driver sgate id = %d)",
                   r->get_string_hpath().c_str(), int(r->get_id()), m_id, int(g->get_id()));
    }
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
      if (!driven(i)) continue;
      CDB_SGATE_NODE* r = i->get_source()->get_my_node();
      if (!kavu_seq_is_register(r) || kavu_seq_timer_is_dff_fixed(r) || fix_exempt(r)) continue;
      r->get_flag().set(KAVU_SEQ_DFF_FIXED);
      ++count;
      if (verbose)
        kavu_debug("Register %s (sgate id=%d) is fixed because its output is connected to domain %d (load sgate id=%d)",
                   r->get_string_hpath().c_str(), int(r->get_id()), m_id, int(g->get_id()));
    }
  }
  return count;
}

void KAVU_SEQ_TIMER_CLK_DOMAIN::find_fixed_registers() {
  const bool verbose = cfg_is_on("kavu_seq_timer_find_fixed_registers_verbose", false);
  const bool dump = cfg_is_on("kavu_seq_timer_dump_fixed_registered", false);
  int async_count = 0;
  for (CDB_SGATE_OTERM* o : m_oterms) {
    KAVU_CHECK(o != NULL);
    CDB_SGATE_NODE* g = o->get_my_node();
    KAVU_CHECK(g != NULL);
    if (!kavu_seq_is_register(g) || kavu_seq_timer_is_dff_fixed(g)) continue;
    const bool preserved = !kavu_seq_dont_fix_preserve && kavu_preserve_register(g);
    const bool to_fix = preserved || driven(kavu_get_dff_clear(g)) || driven(kavu_get_dff_preset(g)) ||
                        driven(kavu_get_dff_aload(g));
    if (!to_fix || fix_exempt(g)) continue;
    g->get_flag().set(KAVU_SEQ_DFF_FIXED);
    if (!preserved) ++async_count;
    if (verbose)
      kavu_debug(preserved ? "SEQ TIMER FIX REG: %d because it is preserved"
                           : "SEQ TIMER FIX REG: %d because it has async connections",
                 int(g->get_id()));
  }
  int total = 0, preserved_count = 0;
  for (CDB_SGATE_OTERM* o : m_oterms) {
    KAVU_CHECK(o != NULL);
    CDB_SGATE_NODE* g = o->get_my_node();
    KAVU_CHECK(g != NULL);
    if (!kavu_seq_is_register(g) || !kavu_seq_timer_is_dff_fixed(g)) continue;
    ++total;
    if (kavu_preserve_register(g)) ++preserved_count;
    if (dump) kavu_debug("Fixed reg %d %s (sgate ID=%d)", total, kavu_get_oterm_debug_name(o).c_str(), int(g->get_id()));
  }
  if (total >= 1)
    kavu_debug("Total number of fixed registers: %d, preserved: %d (.2%f)", total, preserved_count,
               double(preserved_count) / double(total));
  kavu_debug("%d registers fixed because they have secondary signals.", async_count);
  m_fixed_reg_count = total;
}

bool KAVU_SEQ_TIMER_CLK_DOMAIN::need_analysis() {
  int regs = 0, fixed = 0;
  for (CDB_SGATE_OTERM* o : m_oterms) {
    if (!o) KAVU_INTERNAL_ERROR("oterm");
    CDB_SGATE_NODE* g = o->get_my_node();
    if (!kavu_seq_is_register(g)) continue;
    ++regs;
    if (kavu_seq_timer_is_dff_fixed(g)) ++fixed;
  }
  if (regs >= 1)
    kavu_debug("Total register count of the domain (id=%d) is %d, %.2f of them are fixed.", m_id, regs,
               double(fixed) / double(regs));
  else
    kavu_debug("Total register count of the domain (id=%d) is 0", m_id);
  return int(m_oterms.size()) != regs;
}

void KAVU_SEQ_TIMER_CLK_DOMAIN::dump(std::ostream& os) const {
  os << "Clock domain ID = " << m_id << std::endl;
  os << "Best cycle time = " << m_best_cycle_time << std::endl;
  os << "Total number of oterms in domain = " << m_oterms.size() << std::endl;
  for (size_t k = 0; k < m_oterms.size(); ++k) {
    os << "[" << k << "] ";
    const CDB_SGATE_OTERM* o = m_oterms[k];
    if (!o) {
      os << "NULL" << std::endl;
      continue;
    }
    const CDB_SGATE_NODE* g = o->get_my_node();
    os << kavu_get_oterm_debug_name(o) << " SGATE ID = " << (g ? int(g->get_id()) : -1)
       << " TYPE = " << (g ? g->get_string_type_name() : "") << std::endl;
  }
}
