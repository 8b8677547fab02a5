// kavu_td_critical_oterms.cpp — the output terminals on the critical paths
// the user named: in the fan-out cone of a from-register (or input pin) and
// in the fan-in cone of a to-register (or output pin), through
// combinational gates only.
//
// Marks: each pass takes two fresh aux values, M (fan-in cone) and M + 1
// (walked from the sources), starting at 1 and advancing by 2, after one
// reset of all aux values; the dynamic flag "critical_oterms" keeps each
// terminal once in the result. Both cone walks use explicit stacks, so the
// depth of a netlist never reaches the call stack.
#include <algorithm>
#include <ctime>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "gen/gen_dyn_flag.h"
#include "kavu_check.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_helper_summary.h"
#include "kavu_msg.h"
#include "kavu_td_critical.h"
#include "kavu_td_helper.h"

namespace {

struct SEARCH {
  std::vector<CDB_SGATE_OTERM*>* result;
  GEN_DYN_FLAG collected;
  std::vector<CDB_SGATE_OTERM*> stack;  // reused by every walk
};

CDB_SGATE_OTERM* source_of(CDB_SGATE_ITERM* t) {
  return t && cdb_is_connected(t) ? t->get_source_oterm() : nullptr;
}

void mark_critical_by_fanin_cone(SEARCH& s, CDB_SGATE_OTERM* oterm, int fanin_mark) {
  KAVU_CHECK(oterm != 0);
  s.stack.assign(1, oterm);
  while (!s.stack.empty()) {
    CDB_SGATE_OTERM* t = s.stack.back();
    s.stack.pop_back();
    KAVU_CHECK(t->get_aux() <= fanin_mark);
    if (t->get_aux() == fanin_mark) continue;
    t->set_aux(fanin_mark);
    CDB_SGATE_NODE* gate = t->get_my_node();
    if (!kavu_sgate_is_comb(gate)) continue;
    for (CDB_SGATE_ITERM* in : gate->get_input_terms()) {
      CDB_SGATE_OTERM* src = source_of(in);
      if (src && src->get_aux() != fanin_mark && kavu_oterm_depends_on_iterm(gate, t, in, true, true, false, false))
        s.stack.push_back(src);
    }
  }
}

void mark_source(SEARCH& s, CDB_SGATE_ITERM* t, int mark) {
  if (CDB_SGATE_OTERM* src = source_of(t)) mark_critical_by_fanin_cone(s, src, mark);
}

void mark_fanin_cone_of_register(SEARCH& s, const KAVU_CRITICAL_REG& reg, int mark) {
  CDB_SGATE_OTERM* t = reg.first;
  if (!reg.second) {
    mark_critical_by_fanin_cone(s, t, mark);
    return;
  }
  CDB_SGATE_NODE* gate = t->get_my_node();
  if (kavu_is_a_dff(gate, true)) {
    mark_source(s, kavu_get_dff_data(gate), mark);
    mark_source(s, kavu_get_dff_enable(gate), mark);
    mark_source(s, kavu_get_dff_sclear(gate), mark);
    CDB_SGATE_ITERM* sload = kavu_get_dff_sload(gate);
    mark_source(s, sload, mark);
    if (sload && cdb_is_connected(sload) && !sload->is_gnd()) mark_source(s, kavu_get_dff_adata(gate), mark);
    return;
  }
  for (CDB_SGATE_ITERM* in : gate->get_input_terms()) {
    if (!in) continue;
    switch (int(in->get_port_type())) {
      case 6: case 39: case 40: case 7: case 35: case 36:
        continue;
      default:
        mark_source(s, in, mark);
    }
  }
}

int mark_critical_by_fanout_cone(SEARCH& s, CDB_SGATE_OTERM* root, int fanin_mark) {
  const int fanout_mark = fanin_mark + 1;
  int count = 0;
  s.stack.assign(1, root);
  while (!s.stack.empty()) {
    CDB_SGATE_OTERM* t = s.stack.back();
    s.stack.pop_back();
    KAVU_CHECK(t->get_aux() <= fanout_mark);
    if (t->get_aux() == fanout_mark) continue;
    if (t->get_aux() == fanin_mark) {
      ++count;
      if (!t->test_dyn_flag(s.collected)) {
        t->set_dyn_flag(s.collected);
        s.result->push_back(t);
      }
    }
    t->set_aux(fanout_mark);
    const size_t first = s.stack.size();
    for (CDB_SGATE_ITERM* in : t->fanouts()) {
      CDB_SGATE_NODE* gate = in->get_my_node();
      if (!kavu_sgate_is_comb(gate)) continue;
      for (CDB_SGATE_OTERM* out : gate->get_output_terms())
        if (out && out->get_aux() != fanout_mark && kavu_oterm_depends_on_iterm(gate, out, in, true, true, false, false))
          s.stack.push_back(out);
    }
    std::reverse(s.stack.begin() + first, s.stack.end());  // visit in fan-out order
  }
  return count;
}

void report_critical_oterm_percentage(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_OTERM*>& result) {
  int all = 0, all_comb = 0, crit = 0, crit_comb = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    const bool comb = kavu_sgate_is_comb(*it);
    for (CDB_SGATE_OTERM* t : (*it)->get_output_terms())
      if (t && t->has_fanout()) {
        ++all;
        all_comb += comb;
      }
  }
  for (CDB_SGATE_OTERM* t : result)
    if (t->has_fanout()) {
      ++crit;
      crit_comb += kavu_sgate_is_comb(t->get_my_node());
    }
  kavu_debug_at_level(3, "Found %d critical oterms out of %d (%.2f percent), comb %d critical oterms out of %d (%.2f percent)",
                      crit, all, all ? 100.0 * crit / all : 0.0, crit_comb, all_comb,
                      all_comb ? 100.0 * crit_comb / all_comb : 0.0);
}

// Reads the assignments and searches; false when the family is not supported.
bool run_search(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* result,
                bool give_warnings) {
  if (!kavu_family_okay_for_critical_asgns(facade)) {
    kavu_debug("Skip finding critical oterms due to family");
    return false;
  }
  KAVU_CRITICAL_REGS_PER_CLOCK from, to, tsu, tco;
  std::vector<std::string> from_names, to_names, tsu_names, tco_names;
  kavu_compute_regs_for_critical_clock_domains(facade->get_namespace(), netlist, &from, &to, &tsu, &tco, &from_names,
                                               &to_names, &tsu_names, &tco_names, give_warnings, nullptr);
  kavu_find_critical_oterms_for_regs(netlist, from, to, tsu, tco, from_names, to_names, tsu_names, tco_names, result);
  return true;
}

}  // namespace

void kavu_find_critical_oterms_for_regs(
    CDB_SGATE_NETLIST* netlist, KAVU_CRITICAL_REGS_PER_CLOCK& from_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK& to_regs_per_clock_vec, KAVU_CRITICAL_REGS_PER_CLOCK& tsu_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK& tco_regs_per_clock_vec, std::vector<std::string>& from_crit_clock_names,
    std::vector<std::string>& to_crit_clock_names, std::vector<std::string>& tsu_crit_clock_names,
    std::vector<std::string>& tco_crit_clock_names, std::vector<CDB_SGATE_OTERM*>* critical_oterms) {
  KAVU_CHECK(netlist && critical_oterms);
  const bool dump = cfg_is_on("ftm_td_dump_critical_oterms", false);
  const bool pin_to_reg = cfg_is_on("ftm_td_include_pin_to_reg_paths", false);
  const bool reg_to_pin = cfg_is_on("ftm_td_include_reg_to_pin_paths", false);
  SEARCH s{critical_oterms, netlist->get_flag_manager().create_flag("critical_oterms"), {}};
  kavu_reset_aux_values(netlist);
  std::vector<CDB_SGATE_OTERM*> inputs;
  std::vector<CDB_SGATE_ITERM*> outputs;
  const bool pairs = !from_regs_per_clock_vec.empty() && (pin_to_reg || reg_to_pin);
  if (pairs || !tsu_regs_per_clock_vec.empty() || !tco_regs_per_clock_vec.empty()) {
    const bool want_in = pin_to_reg || !tsu_regs_per_clock_vec.empty();
    const bool want_out = reg_to_pin || !tco_regs_per_clock_vec.empty();
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || !g->is_pin()) continue;
      const bool bidir = kavu_is_a_bidir_pin(g);
      if (want_in && (kavu_is_a_input_pin(g) || bidir) && g->get_output_term(0)) inputs.push_back(g->get_output_term(0));
      if (want_out && (kavu_is_a_output_pin(g) || bidir)) {
        if (CDB_SGATE_ITERM* in = g->get_input_term(0)) {
          outputs.push_back(in);
        } else {
          const std::string path = g->get_string_hpath();
          kavu_debug("Sgate %s %s has NULL iterm", g->get_string_type_name(), path.c_str());
        }
      }
    }
  }
  kavu_debug("Using %d inputs in input-to-reg paths and %d outputs in reg-to-output paths", int(inputs.size()),
             int(outputs.size()));
  int mark = 1;
  for (size_t i = 0; i < from_regs_per_clock_vec.size(); ++i, mark += 2) {
    for (const auto& reg : to_regs_per_clock_vec[i]) mark_fanin_cone_of_register(s, reg, mark);
    if (reg_to_pin)
      for (CDB_SGATE_ITERM* out : outputs) mark_source(s, out, mark);
    int sum = 0;
    for (const auto& reg : from_regs_per_clock_vec[i]) sum += mark_critical_by_fanout_cone(s, reg.first, mark);
    if (pin_to_reg)
      for (CDB_SGATE_OTERM* in : inputs) sum += mark_critical_by_fanout_cone(s, in, mark);
    kavu_debug_at_level(3, "Found %d from-registers, %d to-registers and %d critical oterms from clock %s to clock %s",
                        int(from_regs_per_clock_vec[i].size()), int(to_regs_per_clock_vec[i].size()), sum,
                        from_crit_clock_names[i].c_str(), to_crit_clock_names[i].c_str());
  }
  for (size_t j = 0; j < tsu_regs_per_clock_vec.size(); ++j, mark += 2) {
    for (const auto& reg : tsu_regs_per_clock_vec[j]) mark_fanin_cone_of_register(s, reg, mark);
    int sum = 0;
    for (CDB_SGATE_OTERM* in : inputs) sum += mark_critical_by_fanout_cone(s, in, mark);
    kavu_debug_at_level(3, "Found %d to-registers and %d critical oterms from input pins to clock %s",
                        int(tsu_regs_per_clock_vec[j].size()), sum, tsu_crit_clock_names[j].c_str());
  }
  for (size_t k = 0; k < tco_regs_per_clock_vec.size(); ++k, mark += 2) {
    for (CDB_SGATE_ITERM* out : outputs) mark_source(s, out, mark);
    int sum = 0;
    for (const auto& reg : tco_regs_per_clock_vec[k]) sum += mark_critical_by_fanout_cone(s, reg.first, mark);
    kavu_debug_at_level(3, "Found %d from-registers and %d critical oterms from clock %s to output pins",
                        int(tco_regs_per_clock_vec[k].size()), sum, tco_crit_clock_names[k].c_str());
  }
  netlist->get_flag_manager().destroy_flag(s.collected);
  if (dump) {
    kavu_debug("-------------------------------");
    kavu_debug("   All critical oterms (%d)    ", int(critical_oterms->size()));
    kavu_debug("-------------------------------");
    for (CDB_SGATE_OTERM* t : *critical_oterms) {
      const std::string debug = t->get_my_node()->get_debug_name(), path = t->get_string_hpath();
      kavu_debug("   Oterm on %s %s with name %s", t->get_my_node()->get_string_type_name(), debug.c_str(),
                 path.c_str());
    }
    kavu_debug("-------------------------------");
  }
}

void kavu_find_critical_oterms_for_crit_clock_assignment(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                                         std::vector<CDB_SGATE_OTERM*>* critical_oterms,
                                                         bool give_warnings) {
  KAVU_CHECK(critical_oterms != 0 && netlist != 0 && facade != 0);
  critical_oterms->clear();
  run_search(facade, netlist, critical_oterms, give_warnings);
  if (!critical_oterms->empty()) report_critical_oterm_percentage(netlist, *critical_oterms);
  kavu_debug_at_level(3, "Found %d critical oterms", int(critical_oterms->size()));
}

void kavu_find_critical_oterms_for_crit_clock_assignment(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                                         std::set<CDB_SGATE_OTERM*>* critical_oterms,
                                                         bool give_warnings) {
  KAVU_CHECK(critical_oterms != 0 && netlist != 0 && facade != 0);
  const std::time_t start = std::time(nullptr);
  std::vector<CDB_SGATE_OTERM*> found;
  if (run_search(facade, netlist, &found, give_warnings)) {
    critical_oterms->clear();
    critical_oterms->insert(found.begin(), found.end());
  }
  if (!critical_oterms->empty()) report_critical_oterm_percentage(netlist, found);
  kavu_debug_at_level(3, "Found %d critical oterms in %d seconds", int(critical_oterms->size()),
                      int(std::time(nullptr) - start));
}
