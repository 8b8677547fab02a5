// kavu_stats_regs.cpp — register secondary-signal statistics, shift-register
// chain dumps and the netlist dump of the register-connection statistics.
//
// A register is a plain DFF gate or a flip-flop atom; its controls are read
// by position (DFF) or port type (atom). A secondary signal is the pair
// (driving output terminal, inversion of the reading input); signals are
// ordered by the driving gate's id and the terminal's place in it, never by
// address, so reports are the same from run to run.
//
// Cost: linear in registers plus a sort of the signal maps.
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "cfg/cfg.h"
#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_msg.h"
#include "kavu_stats.h"
#include "kavu_stats_int.h"

namespace {

enum ROLE { ROLE_ENA, ROLE_CLR, ROLE_PRE, ROLE_ALD, ROLE_SLD, ROLE_SCLR };
const int k_dff_pos[] = {4, 2, 3, 6, 8, 7};
const int k_wys_port[] = {8, 6, 27, 1, 33, 30};

CDB_SGATE_ITERM* role_iterm(CDB_SGATE_NODE* g, ROLE r) {
  if (g->get_sgate_type() == CDB_SGATE_DFF_ENUM)
    return unsigned(k_dff_pos[r]) < g->get_number_of_input_terms() ? g->get_input_term(k_dff_pos[r]) : nullptr;
  CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
  return w ? w->get_iterm_by_type(DB_INPUT_PORT_TYPE(k_wys_port[r]), 0) : nullptr;
}

bool live(const CDB_SGATE_ITERM* t) {
  if (!t) return false;
  if (t->is_connected()) return true;
  return t->get_parent_input() && cdb_is_parent_connected(t);
}

// Identity of a signal independent of addresses: driving gate id, the
// terminal's index on its gate, the reading input's inversion.
struct SIGNAL_KEY {
  unsigned m_gate_id;
  unsigned m_oterm_index;
  bool m_inverted;
  bool operator<(const SIGNAL_KEY& o) const {
    return std::tie(m_gate_id, m_oterm_index, m_inverted) < std::tie(o.m_gate_id, o.m_oterm_index, o.m_inverted);
  }
};

struct SIGNAL_RECORD {
  int m_width = 0;
  int m_user = 0;
  CDB_SGATE_NODE* m_driver = nullptr;
};

SIGNAL_KEY key_of(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_OTERM* o = t->get_source();
  const CDB_SGATE_NODE* g = o->get_my_node();
  unsigned idx = 0;
  for (unsigned i = 0; i < g->get_output_count(); ++i)
    if (g->get_output_term(i) == o) idx = i;
  return SIGNAL_KEY{g->get_id(), idx, t->is_inverted()};
}

void print_stars(const char* p) { kavu_debug("%s********************************", p); }

// A gate description: path, debug name, class name, type name.
struct DESCRIPTION {
  std::string m_path, m_name, m_class, m_type;
  explicit DESCRIPTION(const CDB_SGATE_NODE* g)
      : m_path(g->get_string_hpath()), m_name(g->get_debug_name()), m_class(kavu_sgate_class_name(kavu_sgate_class_index(g))) {
    kavu_convert_sgate_type_enum_2_string(g->get_sgate_type(), m_type);
  }
};

}  // namespace

void dump_register_secondaries(CDB_SGATE_NETLIST* netlist, const std::string& prefix) {
  std::set<std::string> lines;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !kavu_stats_is_register(g) || !g->get_instance_name()) continue;
    auto on = [&](ROLE r, bool inactive_vcc) {
      CDB_SGATE_ITERM* t = role_iterm(g, r);
      return live(t) && !(inactive_vcc ? t->is_vcc() : t->is_gnd());
    };
    const bool ena = on(ROLE_ENA, true), clr = on(ROLE_CLR, false), pre = on(ROLE_PRE, false);
    const bool ald = on(ROLE_ALD, false), sld = on(ROLE_SLD, false), sclr = on(ROLE_SCLR, false);
    CDB_SGATE_ITERM* a = kavu_get_dff_adata(g);
    const bool a_gnd = live(a) && a->is_gnd(), a_vcc = !a_gnd && live(a) && a->is_vcc();
    char buf[2048];
    std::snprintf(buf, sizeof buf, "%s REG %s | %s%s%s%s%s%s%s%s%s%s", prefix.c_str(), g->get_string_hpath().c_str(),
                  ena ? "ENA " : "", clr ? "CLR " : "", pre ? "PRE " : "", ald ? "ALD " : "", sclr ? "SCLR " : "",
                  sld ? "SLD " : "", ald && a_gnd ? "ADATA_GND " : "", ald && a_vcc ? "ADATA_VCC " : "",
                  ald && !a_gnd && !a_vcc ? "ADATA_NORM " : "", !(ena || clr || pre || ald) ? "plain" : "");
    lines.insert(buf);
  }
  for (const std::string& l : lines) kavu_debug("%s", l.c_str());
}

void dump_secondary_signal_widths(CDB_SGATE_NETLIST* netlist, const std::string& prefix) {
  const ROLE roles[3] = {ROLE_ENA, ROLE_SCLR, ROLE_SLD};
  std::map<SIGNAL_KEY, SIGNAL_RECORD> maps[3];
  int registers[3] = {0, 0, 0};
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !kavu_stats_is_register(g)) continue;
    for (int r = 0; r < 3; ++r) {
      CDB_SGATE_ITERM* t = role_iterm(g, roles[r]);
      if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
      SIGNAL_RECORD& rec = maps[r][key_of(t)];
      rec.m_driver = t->get_source()->get_my_node();
      ++rec.m_width;
      if (r == 0 && g->get_sgate_type() == CDB_SGATE_DFF_ENUM && g->cast_to_dff()->is_user_clock_enable()) ++rec.m_user;
      ++registers[r];
    }
  }
  const char* p = prefix.c_str();
  const char* heads[3] = {"%s  Enable stats (total %d enables, %d registers)",
                          "%s  Sclear stats (total %d sclear signals, %d registers)",
                          "%s  Sload stats (total %d sload signals, %d registers)"};
  const char* rows[3] = {"%s Enable width %d: %d", "%s Sclear width %d: %d", "%s Sload width %d: %d"};
  for (int r = 0; r < 3; ++r) {
    std::map<int, int> widths;
    for (const auto& [k, rec] : maps[r]) ++widths[rec.m_width];
    print_stars(p);
    kavu_debug(heads[r], p, int(maps[r].size()), registers[r]);
    print_stars(p);
    for (const auto& [w, n] : widths) kavu_debug(rows[r], p, w, n);
  }
  print_stars(p);
  if (!cfg_is_on("kavu_dump_more_secondary_stats", false)) return;
  const char* all_heads[3] = {"%s  All Enables (total %d enables, %d registers)",
                              "%s  All Sclears (total %d sclears, %d registers)",
                              "%s  All Sloads (total %d sloads, %d registers)"};
  for (int r = 0; r < 3; ++r) {
    print_stars(p);
    kavu_debug(all_heads[r], p, int(maps[r].size()), registers[r]);
    print_stars(p);
    for (const auto& [k, rec] : maps[r]) {
      const std::string path = rec.m_driver->get_string_hpath();
      if (r == 0)
        kavu_debug("%s CE width %d user CE %d %s %s", p, rec.m_width, rec.m_user, rec.m_driver->get_string_type_name(),
                   path.c_str());
      else
        kavu_debug(r == 1 ? "%s SCLR width %d %s %s" : "%s SLD width %d %s %s", p, rec.m_width,
                   rec.m_driver->get_string_type_name(), path.c_str());
    }
  }
}

// ---- shift-register chains ----

namespace {

void dump_chain_register(CDB_SGATE_NODE* r, bool is_chain_end) {
  if (!is_chain_end) {
    kavu_debug("   SR DFF %s:", r->get_string_hpath().c_str());
    CDB_SGATE_OTERM* o = r->get_single_oterm();
    if (o && o->get_number_of_fanout() >= 2)
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        DESCRIPTION d(t->get_my_node());
        kavu_debug("    fanout to (taps): \t %s \t %s \t type: \t %s \t %s \t port: \t %s", d.m_path.c_str(),
                   d.m_name.c_str(), d.m_class.c_str(), d.m_type.c_str(),
                   kavu_stats_input_port_name(t->get_port_type()).c_str());
      }
  }
  for (CDB_SGATE_ITERM* t : r->get_input_terms()) {
    if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
    DESCRIPTION d(t->get_source()->get_my_node());
    kavu_debug("    driven by       : \t %s \t %s \t type: \t %s \t %s \t on port: \t %s", d.m_path.c_str(),
               d.m_name.c_str(), d.m_class.c_str(), d.m_type.c_str(),
               kavu_stats_input_port_name(t->get_port_type()).c_str());
  }
}

}  // namespace

void dump_shift_register_chains(CDB_SGATE_NODE* chain_end, bool single_fanout) {
  kavu_debug("   SR head DFF %s:", chain_end->get_string_hpath().c_str());
  if (CDB_SGATE_OTERM* o = chain_end->get_single_oterm())
    for (CDB_SGATE_ITERM* iterm : o->fanouts()) {
      KAVU_CHECK(iterm != NULL);
      CDB_SGATE_NODE* sgate = iterm->get_my_node();
      KAVU_CHECK(sgate != NULL);
      DESCRIPTION d(sgate);
      kavu_debug("   SR has fanout to: \t %s \t %s \t type: \t %s \t %s \t on port: \t %s", d.m_path.c_str(),
                 d.m_name.c_str(), d.m_class.c_str(), d.m_type.c_str(),
                 kavu_stats_input_port_name(iterm->get_port_type()).c_str());
    }
  dump_chain_register(chain_end, true);
  CDB_SGATE_NODE* cur = chain_end;
  CDB_SGATE_NODE* stopped_at = nullptr;  // the driving gate that ended the walk
  CDB_SGATE_ITERM* stopped_input = nullptr;
  bool at_limit = true;
  for (int steps = 0; steps < 999; ++steps) {
    CDB_SGATE_ITERM* data = kavu_get_dff_data(cur);
    if (!data || !cdb_is_connected(data) || !data->get_source()) {
      stopped_input = data;
      at_limit = false;
      break;
    }
    CDB_SGATE_OTERM* d = data->get_source();
    CDB_SGATE_NODE* g = d->get_my_node();
    if ((single_fanout && d->get_number_of_fanout() != 1) || g->get_sgate_type() != CDB_SGATE_DFF_ENUM) {
      stopped_at = g;
      stopped_input = data;
      at_limit = false;
      break;
    }
    dump_chain_register(g, false);
    cur = g;
  }
  if (at_limit) {
    CDB_SGATE_ITERM* data = kavu_get_dff_data(cur);
    if (data && cdb_is_connected(data) && data->get_source()) {
      stopped_at = data->get_source()->get_my_node();
      stopped_input = data;
    }
  }
  if (stopped_at) {
    DESCRIPTION d(stopped_at);
    kavu_debug("   SR has fanin from: \t %s \t %s \t type: \t %s \t %s \t on port: \t %s", d.m_path.c_str(),
               d.m_name.c_str(), d.m_class.c_str(), d.m_type.c_str(),
               kavu_stats_input_port_name(stopped_input->get_port_type()).c_str());
  } else {
    // The earliest register's data input is missing or unconnected.
    kavu_debug("   SR has fanin from: \t none");
  }
}

void dump_netlist_for_connex_stats(CDB_SGATE_NETLIST* netlist) {
  if (cdb_sgate_synthesis_is_running_in_parallel())
    KAVU_INTERNAL_ERROR("This function has statics and is not safe to run in parallel");
  int n = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    DESCRIPTION d(*it);
    kavu_debug("SMT_NETLIST_DUMP: sgate_%d: \t %s \t %s \t type: \t %s \t %s \t", n++, d.m_path.c_str(),
               d.m_name.c_str(), d.m_class.c_str(), d.m_type.c_str());
  }
}
