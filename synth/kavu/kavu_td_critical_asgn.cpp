// kavu_td_critical_asgn.cpp — the critical-clock assignments turned into the
// registers of each named clock, and the grouped warnings for assignments
// that matched nothing.
//
// Clock tree walk: from the clock's terminal through every gate that passes
// a clock (buffers, comb gates, IO buffers, LUTs, state nodes, muxes,
// carry-sum buffers, tri-state buses, latches, operators, logic-cell and
// clock-buffer atoms), with an explicit stack and a visited set; a gate
// whose clock input is reached gives its output terminals, each once.
#include <memory>
#include <unordered_set>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_check.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_td_critical.h"
#include "kavu_td_critical_int.h"

namespace {

typedef std::vector<HDB_INSTANCE_NAME*> INAMES;

bool oterm_is_named_clock_candidate(const CDB_SGATE_OTERM* t) {
  return t && t->has_fanout() && !t->get_my_node()->has_temporary_name() && t->get_instance_name();
}

void find_critical_clock_assignments(CDB_SGATE_NETLIST* netlist, INAMES* from, INAMES* to, INAMES* tsu,
                                     INAMES* tco) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_OTERM* t : (*it)->get_output_terms()) {
      if (!oterm_is_named_clock_candidate(t)) continue;
      HDB_INSTANCE_NAME* name = t->get_instance_name();
      for (auto* option : HDB_DERIVED_OPTION<1, 0>::get_all_options(name, KAVU_ACF_SYNTH_CRITICAL_CLOCK, true)) {
        HDB_ASSIGNMENT* asgn = option->get_assignment();
        asgn->set_flag(1, nullptr);
        HDB_INSTANCE_NAME* from_clock = asgn->get_source_iname() ? asgn->get_source_iname() : name;
        bool seen = false;
        for (size_t i = 0; i < from->size() && !seen; ++i) seen = (*from)[i] == from_clock && (*to)[i] == name;
        const std::string f = from_clock->get_short_hpath(0), g = name->get_short_hpath(0);
        if (seen) {
          kavu_debug_at_level(3, "Found from clock %s and to clock %s for the second time -- ignore", f.c_str(),
                              g.c_str());
        } else {
          kavu_debug_at_level(3, "Found assignment from clock %s to clock %s", f.c_str(), g.c_str());
          from->push_back(from_clock);
          to->push_back(name);
        }
      }
      const std::pair<int, INAMES*> singles[] = {{KAVU_ACF_SYNTH_CRITICAL_INPUT_TO_CLOCK, tsu},
                                                 {KAVU_ACF_SYNTH_CRITICAL_CLOCK_TO_OUTPUT, tco}};
      for (const auto& [variable, list] : singles) {
        auto* option = HDB_DERIVED_OPTION<1, 0>::get_single_option(name, variable, true);
        if (option && option->get_value()) {
          option->get_assignment()->set_flag(1, nullptr);
          list->push_back(name);
        }
      }
    }
  }
}

bool gate_passes_clock(CDB_SGATE_NODE* gate) {
  if (gate->is_wysiwyg()) {
    CDB_SGATE_WYSIWYG* w = gate->cast_to_wysiwyg();
    return w && (w->is_lcell_comb() || w->is_clkbuf());
  }
  switch (int(gate->get_sgate_type())) {
    case 0: case 1: case 4: case 5: case 7: case 23: case 24: case 25: case 26: case 44:
      return true;
    default:
      return false;
  }
}

void add_clocked_gate(CDB_SGATE_NODE* gate, std::unordered_set<CDB_SGATE_OTERM*>* added,
                      std::vector<KAVU_CRITICAL_REG>* regs) {
  const bool all = kavu_is_a_dff(gate, true) || (gate->is_wysiwyg() && !gate->is_pin());
  const bool q_only = gate->is_wysiwyg() && gate->is_pin();
  if (!all && !q_only) return;
  for (CDB_SGATE_OTERM* t : gate->get_output_terms()) {
    if (!t || (q_only && int(t->get_port_type()) != 10)) continue;
    if (added->insert(t).second) regs->emplace_back(t, true);
  }
}

void find_registers_of_clock(CDB_SGATE_NETLIST* netlist, HDB_INSTANCE_NAME* clock,
                             std::vector<KAVU_CRITICAL_REG>* regs) {
  CDB_SGATE_OTERM* root = nullptr;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list() && !root; ++it) {
    if (!*it) continue;
    for (CDB_SGATE_OTERM* t : (*it)->get_output_terms())
      if (oterm_is_named_clock_candidate(t) && t->get_instance_name() == clock) {
        root = t;
        break;
      }
  }
  if (!root) return;
  std::unordered_set<CDB_SGATE_OTERM*> visited, added;
  std::vector<CDB_SGATE_OTERM*> stack{root};
  while (!stack.empty()) {
    CDB_SGATE_OTERM* t = stack.back();
    stack.pop_back();
    if (!visited.insert(t).second) continue;
    // Later fan-outs are pushed first so that the walk meets them in order.
    std::vector<CDB_SGATE_OTERM*> next;
    for (CDB_SGATE_ITERM* iterm : t->fanouts()) {
      CDB_SGATE_NODE* gate = iterm->get_my_node();
      if (kavu_iterm_is_clock(iterm, gate)) add_clocked_gate(gate, &added, regs);
      if (!gate_passes_clock(gate)) continue;
      for (CDB_SGATE_OTERM* out : gate->get_output_terms())
        if (out && !visited.count(out) && kavu_oterm_depends_on_iterm(gate, out, iterm, true, false, false, false))
          next.push_back(out);
    }
    stack.insert(stack.end(), next.rbegin(), next.rend());
  }
  KAVU_CHECK(added.size() == regs->size());
}

std::string hierarchy_name(CDB_SGATE_HIERARCHY* hierarchy) {
  return hierarchy && hierarchy->get_instance_name() ? hierarchy->get_instance_name()->get_short_hpath(0)
                                                      : std::string();
}

// The header of a group: with the hierarchy's name when it has one.
MSG_W* group_header(CDB_SGATE_HIERARCHY* hierarchy, bool give_warnings, MSG_W* (*plain)(),
                    MSG_W* (*named)(const std::string&)) {
  if (hierarchy) {
    if (hierarchy->get_instance_name()) return named(hierarchy_name(hierarchy));
    return plain();
  }
  if (give_warnings) kavu_debug("WARNING: Giving official warnings but I don't have the hierarchy info");
  return plain();
}

void post_group(MSG_W* header) {
  std::unique_ptr<MSG_W> owned(header);
  if (owned->begin_submsg() != owned->end_submsg()) owned->post();
}

void report_ignored_critical_clock(HDB_NAMESPACE* ns, const INAMES& from, const INAMES& to,
                                   const KAVU_CRITICAL_REGS_PER_CLOCK& from_regs,
                                   const KAVU_CRITICAL_REGS_PER_CLOCK& to_regs, bool give_warnings,
                                   CDB_SGATE_HIERARCHY* hierarchy) {
  std::vector<HDB_DERIVED_OPTION<1, 0>*> options;
  const int count = ns->get_all_generated_options(KAVU_ACF_SYNTH_CRITICAL_CLOCK, &options, false);
  MSG_W* header = group_header(hierarchy, give_warnings, kavu_msg_ignored_critical_clock_hdr,
                               kavu_msg_ignored_critical_clock_hdr_for_hierarchy);
  if (give_warnings) {
    if (count > int(from.size())) {
      for (auto* option : options) {
        HDB_ASSIGNMENT* asgn = option->get_assignment();
        if (asgn->test_flag(1, nullptr)) continue;
        const std::string s = asgn->get_source_str(), t = asgn->get_target_str();
        if (asgn->get_source_iname()) {
          kavu_debug("Didn't recognize SYNTH_CRITICAL_CLOCK assignment from %s to %s", s.c_str(), t.c_str());
          header->add_msg(kavu_msg_ignored_critical_clock_sub(s, t, t));
        } else {
          kavu_debug("Didn't recognize SYNTH_CRITICAL_CLOCK assignment for %s", t.c_str());
          header->add_msg(kavu_msg_ignored_critical_clock2_sub(t));
        }
      }
    }
    for (size_t i = 0; i < from.size(); ++i) {
      const std::string f = from[i]->get_short_hpath(0), g = to[i]->get_short_hpath(0);
      const bool same = from[i] == to[i];
      if (from_regs[i].empty()) {
        kavu_debug("No registers found for clock %s in SYNTH_CRITICAL_CLOCK assignment from clock %s to clock %s.",
                   f.c_str(), f.c_str(), g.c_str());
        header->add_msg(same ? kavu_msg_ignored_critical_clock2_sub(f) : kavu_msg_ignored_critical_clock_sub(f, g, f));
      } else if (to_regs[i].empty()) {
        kavu_debug("No registers found for clock %s in SYNTH_CRITICAL_CLOCK assignment from clock %s to clock %s.",
                   g.c_str(), f.c_str(), g.c_str());
        header->add_msg(same ? kavu_msg_ignored_critical_clock2_sub(g) : kavu_msg_ignored_critical_clock_sub(f, g, g));
      }
    }
  }
  post_group(header);
}

void report_ignored_single(HDB_NAMESPACE* ns, int variable, const char* display, MSG_W* header,
                           MSG_W* (*sub)(const std::string&)) {
  std::vector<HDB_DERIVED_OPTION<1, 0>*> options;
  ns->get_all_generated_options(variable, &options, false);
  for (auto* option : options) {
    HDB_ASSIGNMENT* asgn = option->get_assignment();
    if (asgn->test_flag(1, nullptr)) continue;
    const std::string t = asgn->get_target_str();
    kavu_debug("Didn't recognize %s assignment for %s", display, t.c_str());
    header->add_msg(sub(t));
  }
  post_group(header);
}

void fill_names(const INAMES& names, std::vector<std::string>* out) {
  out->resize(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    if (!names[i]) KAVU_INTERNAL_ERROR("iname");
    (*out)[i] = names[i]->get_short_hpath(0);
  }
}

}  // namespace

void kavu_collect_acf_assignments(HDB_NAMESPACE* cap_inst, int variable) {
  KAVU_CHECK(cap_inst != 0);
  std::vector<HDB_DERIVED_OPTION<1, 0>*> options;
  const int count = cap_inst->get_all_generated_options(variable, &options, false);
  if (count == 0) return;
  kavu_debug("Found %d assignments for acf variable %d", count, variable);
  for (auto* option : options) option->get_assignment()->clear_flag(1, nullptr);
}

void kavu_report_ignored_assignments(HDB_NAMESPACE* ns, int variable, CDB_SGATE_HIERARCHY* hierarchy,
                                     bool give_warnings) {
  switch (variable) {
    case KAVU_ACF_SYNTH_CRITICAL_INPUT_TO_CLOCK:
      report_ignored_single(ns, variable, "SYNTH_CRITICAL_INPUT_TO_CLOCK",
                            group_header(hierarchy, give_warnings, kavu_msg_ignored_critical_input_to_clock_hdr,
                                         kavu_msg_ignored_critical_input_to_clock_hdr_for_hierarchy),
                            kavu_msg_ignored_critical_input_to_clock_sub);
      break;
    case KAVU_ACF_SYNTH_CRITICAL_CLOCK_TO_OUTPUT:
      report_ignored_single(ns, variable, "SYNTH_CRITICAL_CLOCK_TO_OUTPUT",
                            group_header(hierarchy, give_warnings, kavu_msg_ignored_critical_clock_to_output_hdr,
                                         kavu_msg_ignored_critical_clock_to_output_hdr_for_hierarchy),
                            kavu_msg_ignored_critical_clock_to_output_sub);
      break;
    case KAVU_ACF_SYNTH_CRITICAL_ENABLE:
      report_ignored_single(ns, variable, "SYNTH_CRITICAL_ENABLE", kavu_msg_ignored_critical_enable_hdr(),
                            kavu_msg_ignored_critical_enable_sub);
      break;
    case KAVU_ACF_SYNTH_CRITICAL_PIN:
      report_ignored_single(ns, variable, "SYNTH_CRITICAL_PIN", kavu_msg_ignored_critical_pin_hdr(),
                            kavu_msg_ignored_critical_pin_sub);
      break;
    default:
      KAVU_INTERNAL_ERROR("variable");
  }
}

bool kavu_family_okay_for_critical_asgns(CMP_FACADE* facade) {
  KAVU_CHECK(facade);
  switch (int(facade->get_family())) {
    case 6: case 14: case 17: case 34: case 35: case 36: case 50: case 53: case 54: case 60: case 61: case 62:
    case 66:
      return true;
    default:
      return false;
  }
}

bool kavu_iterm_is_clock(CDB_SGATE_ITERM* iterm, CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != 0 && iterm != 0);
  if (kavu_is_a_dff(sgate, true)) return iterm == kavu_get_dff_clock(sgate);
  if (!sgate->is_wysiwyg()) return false;
  switch (int(iterm->get_port_type())) {
    case 7: case 35: case 36: case 404: case 405: case 406: case 407: case 552:
      return true;
    default:
      return false;
  }
}

int kavu_compute_regs_for_critical_clock_domains(
    HDB_NAMESPACE* ns, CDB_SGATE_NETLIST* netlist, KAVU_CRITICAL_REGS_PER_CLOCK* from_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK* to_regs_per_clock_vec, KAVU_CRITICAL_REGS_PER_CLOCK* tsu_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK* tco_regs_per_clock_vec, std::vector<std::string>* from_crit_clock_names,
    std::vector<std::string>* to_crit_clock_names, std::vector<std::string>* tsu_crit_clock_names,
    std::vector<std::string>* tco_crit_clock_names, bool give_warnings, CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(netlist && from_regs_per_clock_vec && to_regs_per_clock_vec && tsu_regs_per_clock_vec &&
             tco_regs_per_clock_vec && from_crit_clock_names && to_crit_clock_names && tsu_crit_clock_names &&
             tco_crit_clock_names);
  for (size_t i = 0; i < from_regs_per_clock_vec->size(); ++i) KAVU_CHECK((*from_regs_per_clock_vec)[i].empty());
  for (size_t i = 0; i < to_regs_per_clock_vec->size(); ++i) KAVU_CHECK((*to_regs_per_clock_vec)[i].empty());
  for (size_t i = 0; i < tsu_regs_per_clock_vec->size(); ++i) KAVU_CHECK((*tsu_regs_per_clock_vec)[i].empty());
  for (size_t i = 0; i < tco_regs_per_clock_vec->size(); ++i) KAVU_CHECK((*tco_regs_per_clock_vec)[i].empty());
  KAVU_CHECK(from_crit_clock_names->empty());
  KAVU_CHECK(to_crit_clock_names->empty());
  KAVU_CHECK(tsu_crit_clock_names->empty());
  KAVU_CHECK(tco_crit_clock_names->empty());
  const bool scan_options_file = cfg_is_on("kavu_td_scan_options_file", false);
  const bool warnings = give_warnings && !scan_options_file;
  kavu_collect_acf_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_CLOCK);
  kavu_collect_acf_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_INPUT_TO_CLOCK);
  kavu_collect_acf_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_CLOCK_TO_OUTPUT);
  INAMES from, to, tsu, tco;
  find_critical_clock_assignments(netlist, &from, &to, &tsu, &tco);
  kavu_debug_at_level(3, "Found %d critical from-to clock pairs from ACFs or settings file", int(from.size()));
  if (!from.empty()) {
    from_regs_per_clock_vec->resize(from.size());
    to_regs_per_clock_vec->resize(from.size());
    for (size_t i = 0; i < from.size(); ++i) {
      find_registers_of_clock(netlist, from[i], &(*from_regs_per_clock_vec)[i]);
      if (to[i] == from[i]) (*to_regs_per_clock_vec)[i] = (*from_regs_per_clock_vec)[i];
      else find_registers_of_clock(netlist, to[i], &(*to_regs_per_clock_vec)[i]);
    }
    fill_names(from, from_crit_clock_names);
    fill_names(to, to_crit_clock_names);
    for (size_t i = 0; i < from.size(); ++i)
      kavu_debug(" --- Clock %s to clock %s: %d from-registers and %d to-registers", (*from_crit_clock_names)[i].c_str(),
                 (*to_crit_clock_names)[i].c_str(), int((*from_regs_per_clock_vec)[i].size()),
                 int((*to_regs_per_clock_vec)[i].size()));
  }
  kavu_debug_at_level(3, "Found %d critical clocks for pin-to-clock", int(tsu.size()));
  tsu_regs_per_clock_vec->resize(tsu.size());
  for (size_t i = 0; i < tsu.size(); ++i) find_registers_of_clock(netlist, tsu[i], &(*tsu_regs_per_clock_vec)[i]);
  report_ignored_critical_clock(ns, from, to, *from_regs_per_clock_vec, *to_regs_per_clock_vec, warnings, hierarchy);
  fill_names(tsu, tsu_crit_clock_names);
  for (size_t i = 0; i < tsu.size(); ++i)
    kavu_debug(" --- Pins to clock %s: %d registers", (*tsu_crit_clock_names)[i].c_str(),
               int((*tsu_regs_per_clock_vec)[i].size()));
  kavu_debug_at_level(3, "Found %d critical clocks for clock-to-pin", int(tco.size()));
  tco_regs_per_clock_vec->resize(tco.size());
  for (size_t i = 0; i < tco.size(); ++i) find_registers_of_clock(netlist, tco[i], &(*tco_regs_per_clock_vec)[i]);
  fill_names(tco, tco_crit_clock_names);
  for (size_t i = 0; i < tco.size(); ++i)
    kavu_debug(" --- Clock %s to pins: %d registers", (*tco_crit_clock_names)[i].c_str(),
               int((*tco_regs_per_clock_vec)[i].size()));
  if (warnings) {
    kavu_report_ignored_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_INPUT_TO_CLOCK, hierarchy, warnings);
    kavu_report_ignored_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_CLOCK_TO_OUTPUT, hierarchy, warnings);
  }
  return (!from.empty() || !tsu.empty() || !tco.empty()) ? 1 : 0;
}
