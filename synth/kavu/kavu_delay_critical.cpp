// kavu_delay_critical.cpp — slack ranking of LUTs, critical graphs and their
// boundaries, and the report comparing multiplexer delays recorded in
// "KZR_MUX" instance names with recomputed ones.
//
// Slack of an output terminal: (M - fo - fi) * 100 / M with M the longest
//   path; 0 for every terminal when M is not positive.
// Critical graph: the terminals reached from a start terminal through
//   terminals whose fi + fo is at least the threshold, walked depth-first with
//   an explicit stack in the order of the recursive description; its input
//   boundaries are hard-boundary output terminals, its output boundaries
//   hard-boundary input terminals.
// Cost: O(N + E) per analysis plus the sort of the ranking.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>

#include "cdb/cdb_atom_catalogue.h"
#include "cut/cut.h"
#include "kavu_check.h"
#include "kavu_delay.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"

namespace {
constexpr int INNER_BUDGET = 300;
// Above this highest id the mux report lists only the ids it found instead of
// one row per id (an id taken from a user's name may be huge).
constexpr int MUX_REPORT_GAP_ROWS_LIMIT = 65536;

bool is_register_gate(CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_DFF_ENUM || (node->is_wysiwyg() && node->cast_to_wysiwyg()->is_ff());
}

std::string input_port_name(DB_INPUT_PORT_TYPE t) {
  const char* name = kavu_platform::atom_input_port_name(t);
  return name ? std::string(name) : "PORT_" + std::to_string(int(t));
}

std::string atom_name(CDB_SGATE_NODE* node) {
  const char* name = node->cast_to_wysiwyg()->get_catalogue_entry().m_name;
  return name ? name : "";
}

// The clock of a register as a text: its source's path, "CONST" for a tied
// clock, "UNCONNECTED" for a clock input without connection.
std::string clock_text(CDB_SGATE_NODE* reg) {
  CDB_SGATE_ITERM* clock_iterm = kavu_get_dff_clock(reg);
  if (!clock_iterm || !cdb_is_connected(clock_iterm)) return "UNCONNECTED";
  if (clock_iterm->is_vcc() || clock_iterm->is_gnd() || !clock_iterm->get_source()) return "CONST";
  return clock_iterm->get_source()->get_my_node()->get_string_hpath();
}

// A constant in this database is a tie: a gate whose every input is tied to
// VCC or GND (and that has one) drives a constant.
bool drives_constant(const CDB_SGATE_NODE* node) {
  if (node->get_number_of_input_terms() == 0) return false;
  for (const CDB_SGATE_ITERM* i : node->get_input_terms())
    if (!i || !(i->is_vcc() || i->is_gnd())) return false;
  return true;
}

std::string describe_input_boundary(CDB_SGATE_OTERM* o) {
  CDB_SGATE_NODE* node = o->get_my_node();
  if (is_register_gate(node)) return "DFF: CLOCK = " + clock_text(node);
  if (node->is_wysiwyg())
    return "WYS: " + atom_name(node) + " " + WYS_INFO::get_port_type_debug_string(o->get_port_type());
  if (drives_constant(node)) return "CONST";
  return node->get_string_type_name();
}

std::string describe_output_boundary(CDB_SGATE_ITERM* i) {
  CDB_SGATE_NODE* node = i->get_my_node();
  if (is_register_gate(node)) {
    static const char* const names[9] = {"DIN", "CLK", "CLR", "PRE", "ENA", "SCLR", "SLD", "ALD", "ADAT"};
    CDB_SGATE_ITERM* const ports[9] = {kavu_get_dff_data(node),   kavu_get_dff_clock(node),  kavu_get_dff_clear(node),
                                       kavu_get_dff_preset(node), kavu_get_dff_enable(node), kavu_get_dff_sclear(node),
                                       kavu_get_dff_sload(node),  kavu_get_dff_aload(node),  kavu_get_dff_adata(node)};
    std::string port;
    for (int p = 0; p < 9 && port.empty(); ++p)
      if (ports[p] == i) port = names[p];
    return "DFF PORT " + port + " : CLOCK = " + clock_text(node);
  }
  if (node->is_wysiwyg()) return "WYS: " + atom_name(node) + " " + input_port_name(i->get_port_type());
  return node->get_string_hpath();
}
}  // namespace

// ---------------------------------------------------------------------------
// Slack ranking

void kavu_slack_ranked_luts(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* ranked_luts) {
  KAVU_CHECK(ranked_luts != 0 && netlist != 0);
  KAVU_CHECK(ranked_luts->size() == 0);
  KAVU_DELAY_EXPERT* expert = kavu_get_default_delay_expert(netlist);
  expert->prepare_netlist_for_delay_analysis();
  const int64_t M = expert->compute_all_delays(true);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || !kavu_is_a_lut(node)) continue;
    for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o || !o->has_fanout()) continue;
      const int64_t fi = expert->compute_fanin_delay(o, INNER_BUDGET);
      const int64_t fo = expert->compute_fanout_delay(o, INNER_BUDGET);
      o->set_aux(M > 0 ? int((M - fo - fi) * 100 / M) : 0);
      ranked_luts->push_back(o);
    }
  }
  std::stable_sort(ranked_luts->begin(), ranked_luts->end(),
                   [](CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b) { return a->get_aux() > b->get_aux(); });
  for (CDB_SGATE_OTERM* o : *ranked_luts) kavu_debug("LUT %s", o->get_my_node()->get_debug_name().c_str());
  expert->clean_up_after_delay_analysis();
  delete expert;
}

// ---------------------------------------------------------------------------
// Critical graphs

void KAVU_DELAY_EXPERT::analyze_critical_graph_from_here(CDB_SGATE_NETLIST*, CDB_SGATE_OTERM* start,
                                                         const GEN_DYN_FLAG& visited_flag, int threshold,
                                                         std::vector<CDB_SGATE_OTERM*>& ins,
                                                         std::vector<CDB_SGATE_ITERM*>& outs) {
  KAVU_CHECK(start != 0);
  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    int m_stage;                 // 0: inputs, 1: fan-outs
    unsigned m_next;             // next input (stage 0) or next output of the fan-out gate (stage 1)
    CDB_SGATE_ITERM* m_fanout;   // current fan-out input terminal (stage 1)
  };
  std::vector<FRAME> stack;
  auto path = [this](CDB_SGATE_OTERM* o) {
    return compute_fanin_delay(o, INNER_BUDGET) + compute_fanout_delay(o, INNER_BUDGET);
  };
  auto enter = [&](CDB_SGATE_OTERM* o) {
    o->set_dyn_flag(visited_flag);
    if (m_delay_model->oterm_is_hard_boundary(o)) ins.push_back(o);
    stack.push_back({o, 0, 0, nullptr});
  };
  enter(start);
  while (!stack.empty()) {
    const size_t top = stack.size() - 1;
    CDB_SGATE_OTERM* o = stack[top].m_oterm;
    CDB_SGATE_NODE* g = o->get_my_node();
    CDB_SGATE_OTERM* next = nullptr;
    if (stack[top].m_stage == 0) {
      if (m_delay_model->look_through_sgate(g)) {
        while (!next && stack[top].m_next < g->get_number_of_input_terms()) {
          CDB_SGATE_ITERM* t = g->get_input_term(stack[top].m_next++);
          if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
          CDB_SGATE_OTERM* s = t->get_source();
          if (s->test_dyn_flag(visited_flag)) continue;
          if (!kavu_oterm_depends_on_iterm(g, o, t, true, false, false, false)) continue;
          if (path(s) >= threshold) next = s;
        }
      }
      if (!next) {
        stack[top].m_stage = 1;
        stack[top].m_fanout = o->get_first_fanout();
        stack[top].m_next = 0;
        if (stack[top].m_fanout) stack[top].m_next = ~0u;  // boundary test of the first fan-out pending
      }
    } else {
      while (!next && stack[top].m_fanout) {
        CDB_SGATE_ITERM* i = stack[top].m_fanout;
        KAVU_CHECK(i != 0);
        CDB_SGATE_NODE* h = i->get_my_node();
        if (stack[top].m_next == ~0u) {
          if (m_delay_model->iterm_is_hard_boundary(i) &&
              compute_fanin_delay(o, INNER_BUDGET) + compute_fanout_delay(i, INNER_BUDGET) >= threshold)
            outs.push_back(i);
          stack[top].m_next = 0;
        }
        if (m_delay_model->look_through_sgate(h)) {
          while (!next && stack[top].m_next < h->get_output_count()) {
            CDB_SGATE_OTERM* p = h->get_output_term(stack[top].m_next++);
            if (p && !p->test_dyn_flag(visited_flag) && path(p) >= threshold) next = p;
          }
        }
        if (!next) {
          stack[top].m_fanout = i->get_next_fanout();
          stack[top].m_next = stack[top].m_fanout ? ~0u : 0;
        }
      }
      if (!next) {
        stack.pop_back();
        continue;
      }
    }
    if (next) enter(next);
  }
}

void KAVU_DELAY_EXPERT::analyze_critical_paths(CDB_SGATE_NETLIST* netlist, int margin, std::string prefix) {
  KAVU_CHECK(netlist != 0);
  const GEN_DYN_FLAG visited_flag = netlist->get_flag_manager().create_flag("visited");
  netlist->clear_all_node_flags(visited_flag);
  const int M = compute_all_delays(true);
  const int T = margin > M ? 0 : M - margin;
  int k = 0;
  std::vector<CDB_SGATE_OTERM*> ins;
  std::vector<CDB_SGATE_ITERM*> outs;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o) continue;
      const int fi = compute_fanin_delay(o, INNER_BUDGET);
      const int fo = compute_fanout_delay(o, INNER_BUDGET);
      if (int64_t(margin) + fi + fo < M || o->test_dyn_flag(visited_flag)) continue;
      ++k;
      kavu_debug("%sCritical graph %d", prefix.c_str(), k);
      ins.clear();
      outs.clear();
      analyze_critical_graph_from_here(netlist, o, visited_flag, T, ins, outs);
      char label[64];
      std::snprintf(label, sizeof label, " GRAPH %d : ", k);
      kavu_dump_critical_graph_boundaries(prefix + label, ins, outs);
    }
  }
  netlist->get_flag_manager().destroy_flag(visited_flag);
}

void kavu_dump_critical_graph_boundaries(const std::string& label, const std::vector<CDB_SGATE_OTERM*>& ins,
                                         const std::vector<CDB_SGATE_ITERM*>& outs) {
  std::map<std::string, int> in_count, out_count;
  std::map<std::string, std::string> in_text, out_text;
  for (CDB_SGATE_OTERM* o : ins) {
    const std::string d = describe_input_boundary(o);
    ++in_count[d];
    in_text[d] = o->get_string_hpath() + " ";
  }
  for (CDB_SGATE_ITERM* i : outs) {
    const std::string d = describe_output_boundary(i);
    ++out_count[d];
    out_text[d] = i->get_my_node()->get_string_hpath() + " ";
  }
  const char* l = label.c_str();
  kavu_debug("%s--- Input boundaries (%d): ", l, int(ins.size()));
  for (const auto& [d, n] : in_count) kavu_debug("%s------ %s : %d   %s", l, d.c_str(), n, in_text[d].c_str());
  kavu_debug("%s--- Output boundaries (%d): ", l, int(outs.size()));
  for (const auto& [d, n] : out_count) kavu_debug("%s------ %s : %d %s", l, d.c_str(), n, out_text[d].c_str());
}

// ---------------------------------------------------------------------------
// Multiplexer report

namespace {
struct MUX_RECORD {
  int m_width = 0;
  int m_old_slack = 0, m_new_slack = 0;
  int m_old_fanin = 0, m_new_fanin = 0;
  int m_old_fanout = 0, m_new_fanout = 0;
  int m_hits = 0;
  std::string m_name;
};

// Parses a gate's name: the whole hierarchical path, else its last level.
bool parse_gate_mux_name(CDB_SGATE_NODE* node, int v[5], std::string* name) {
  *name = node->get_string_hpath();
  if (kavu_parse_kzr_mux_name(name->c_str(), &v[0], &v[1], &v[2], &v[3], &v[4])) return true;
  const size_t bar = name->find_last_of('|');
  if (bar == std::string::npos) return false;
  *name = name->substr(bar + 1);
  return kavu_parse_kzr_mux_name(name->c_str(), &v[0], &v[1], &v[2], &v[3], &v[4]);
}
}  // namespace

void kavu_dump_mux_delay_info(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != 0);
  KAVU_DELAY_EXPERT* expert = kavu_get_default_delay_expert(netlist);
  expert->prepare_netlist_for_delay_analysis();
  const int M = expert->compute_all_delays(true);
  kavu_debug("Maximum circuit delay = %d", M);
  std::map<int, MUX_RECORD> records;  // by id: an id from a name may be huge
  int highest = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    int v[5];
    std::string name;
    if (!node || !parse_gate_mux_name(node, v, &name)) continue;
    bool inner = false;
    for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o) continue;
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        int w[5];
        std::string other;
        if (parse_gate_mux_name(t->get_my_node(), w, &other) && w[0] == v[0]) inner = true;
      }
    }
    if (inner) continue;
    CDB_SGATE_OTERM* out = node->get_output_term(0);
    if (!out) continue;
    const int fi = expert->compute_fanin_delay(out, INNER_BUDGET);
    const int fo = expert->compute_fanout_delay(out, INNER_BUDGET);
    const int slack = M - fo - fi;
    MUX_RECORD& r = records[v[0]];
    highest = std::max(highest, v[0]);
    if (r.m_hits == 0) {
      r.m_width = v[1];
      r.m_old_slack = v[2];
      r.m_old_fanin = v[3];
      r.m_old_fanout = v[4];
      r.m_name = name;
      r.m_new_slack = slack;
      r.m_new_fanin = fi;
      r.m_new_fanout = fo;
    } else if (slack < r.m_new_slack || (slack == r.m_new_slack && fo < r.m_new_fanout)) {
      r.m_new_slack = slack;
      r.m_new_fanin = fi;
      r.m_new_fanout = fo;
    }
    ++r.m_hits;
  }
  kavu_debug("================================ MUX DELAYS =================================");
  kavu_debug("  mux | width |   slack   | critical  | fanin del |fanout del | num   | name ");
  kavu_debug("  id  |       | ori | new | ori | new | ori | new | ori | new | found |      ");
  kavu_debug("-----------------------------------------------------------------------------");
  int found = 0, were = 0, are = 0, cc = 0, nn = 0, cn = 0, nc = 0;
  auto row = [&](int id, const MUX_RECORD& r) {
    const bool old_crit = r.m_old_slack < 7, new_crit = r.m_new_slack < 7;
    kavu_debug(" %4d | %5d | %3d | %3d | %s | %s | %3d | %3d | %3d | %3d |  %3d  | %s ", id, r.m_width,
               r.m_old_slack, r.m_new_slack, old_crit ? "yes" : "no ", new_crit ? "yes" : "no ", r.m_old_fanin,
               r.m_new_fanin, r.m_old_fanout, r.m_new_fanout, r.m_hits, r.m_name.c_str());
    ++found;
    were += old_crit;
    are += new_crit;
    cc += old_crit && new_crit;
    nn += !old_crit && !new_crit;
    cn += old_crit && !new_crit;
    nc += !old_crit && new_crit;
  };
  if (highest <= MUX_REPORT_GAP_ROWS_LIMIT) {
    for (int id = 1; id <= highest; ++id) {
      auto r = records.find(id);
      if (r == records.end())
        kavu_debug(" %4d |       |     |     |     |     |     |     |     |     |  %3d  |  ", id, 0);
      else
        row(id, r->second);
    }
  } else {
    for (const auto& [id, r] : records) row(id, r);
  }
  kavu_debug("============================ END MUX DELAYS ===================================");
  kavu_debug(
      "Found %d out of at least %d muxes: %d were critical, %d are critical, crit->crit: %d, non-crit->non-crit: %d, "
      "crit->non-crit: %d, non-crit->crit: %d",
      found, highest, were, are, cc, nn, cn, nc);
  expert->clean_up_after_delay_analysis();
  delete expert;
}
