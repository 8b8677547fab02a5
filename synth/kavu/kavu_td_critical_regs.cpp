// kavu_td_critical_regs.cpp — critical registers (SYNTH_CRITICAL_ENABLE and
// the netlist's high-speed register table) and super-critical pins
// (SYNTH_CRITICAL_PIN, or configuration keys).
#include <set>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_td_critical.h"
#include "kavu_td_critical_int.h"

namespace {

HDB_INSTANCE_NAME* top_group(HDB_INSTANCE_NAME* name) {
  while (name && name->get_group()) name = name->get_group();
  return name;
}

bool is_input_side_pin(const CDB_SGATE_NODE* g) {
  return g && (kavu_is_a_input_pin(g) || kavu_is_a_bidir_pin(g));
}

void take_pin(CDB_SGATE_NODE* pin, bool fast, std::vector<CDB_SGATE_OTERM*>& pins,
              std::set<CDB_SGATE_OTERM*>* fast_pins, std::vector<bool>* fast_flags) {
  CDB_SGATE_OTERM* t = get_super_critical_pin_oterm(pin);
  pins.push_back(t);
  if (fast_flags) fast_flags->push_back(fast);
  if (fast && fast_pins) fast_pins->insert(t);
}

}  // namespace

void kavu_find_critical_register_names_for_enable(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                                  std::set<HDB_INSTANCE_NAME*>* names, bool give_warnings) {
  KAVU_CHECK(facade && netlist && names);
  if (kavu_family_okay_for_critical_asgns(facade)) {
    HDB_NAMESPACE* ns = facade->get_namespace();
    if (give_warnings) kavu_collect_acf_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_ENABLE);
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || !kavu_is_a_dff(g, true) || !g->get_instance_name()) continue;
      HDB_INSTANCE_NAME* name = g->get_instance_name();
      auto* option = HDB_DERIVED_OPTION<1, 0>::get_single_option(name, KAVU_ACF_SYNTH_CRITICAL_ENABLE, true);
      if (!option) continue;
      option->get_assignment()->set_flag(1, nullptr);
      if (!option->get_value()) continue;
      HDB_INSTANCE_NAME* top = name;
      while (top->get_group()) {
        const std::string a = top->get_short_hpath(0), b = top->get_group()->get_short_hpath(0);
        kavu_debug("Critical reg %s is in group %s", a.c_str(), b.c_str());
        top = top->get_group();
      }
      const std::string t = top->get_short_hpath(0);
      kavu_debug("Group name for critical reg %s is NULL", t.c_str());
      names->insert(top);
    }
    if (give_warnings) kavu_report_ignored_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_ENABLE, nullptr, true);
  }
  if (!names->empty()) kavu_debug_at_level(3, "Found %d critical names", int(names->size()));
}

bool kavu_dff_is_critical(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff, std::set<HDB_INSTANCE_NAME*>* names,
                          CDB_SGATE_HIGH_SPEED_REGISTER* out) {
  if (!kavu_is_a_dff(dff, true)) KAVU_INTERNAL_ERROR("kavu_is_a_dff(dff,true)");
  if (out) out->m_bits = 0;
  HDB_INSTANCE_NAME* name = dff->get_instance_name();
  if (!name) return false;
  if (const CDB_SGATE_HIGH_SPEED_MAP* table = netlist ? netlist->get_high_speed_registers() : nullptr) {
    for (HDB_INSTANCE_NAME* n = name; n; n = n->get_group()) {
      auto it = table->find(unsigned(HDB_NAME_MGR::get_iname_id(n)));
      if (it != table->end()) {
        if (out) *out = it->second;
        return true;
      }
    }
  }
  if (names && !names->empty()) return names->count(top_group(name)) != 0;
  return false;
}

CDB_SGATE_OTERM* get_super_critical_pin_oterm(CDB_SGATE_NODE* sgate) {
  if (!is_input_side_pin(sgate)) KAVU_INTERNAL_ERROR("kavu_is_a_input_pin( sgate ) || kavu_is_a_bidir_pin( sgate )");
  CDB_SGATE_OTERM* oterm = sgate->get_output_term(0);
  if (kavu_is_a_input_pin(sgate) || !oterm) return oterm;
  const std::string path = sgate->get_string_hpath();
  kavu_debug_at_level(3, "Found bidir %s. Put oterm of tri-bus on stack.", path.c_str());
  // A bidirectional pin whose input side feeds no gate or several has no
  // single tri-state bus to stand for it: the pin's own terminal does.
  if (oterm->has_fanout_exactly(1)) {
    CDB_SGATE_NODE* gate = oterm->get_first_fanout()->get_my_node();
    if (gate->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM && gate->get_output_term(0)) return gate->get_output_term(0);
  }
  kavu_debug("WARNING: Bidir %s is not feeding a tri-bus", path.c_str());
  return oterm;
}

namespace {

// SYNTH_CRITICAL_PIN assignments on input and bidirectional pins, in node
// order; the per-pin speed option marks fast pins.
void critical_pins_from_assignments(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                    std::vector<CDB_SGATE_OTERM*>& pins, std::set<CDB_SGATE_OTERM*>* fast_pins,
                                    std::vector<bool>* fast_flags, bool give_warnings) {
  HDB_NAMESPACE* ns = facade->get_namespace();
  if (give_warnings) kavu_collect_acf_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_PIN);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!is_input_side_pin(g) || !g->get_instance_name()) continue;
    auto* option = HDB_DERIVED_OPTION<1, 0>::get_single_option(g->get_instance_name(), KAVU_ACF_SYNTH_CRITICAL_PIN, true);
    if (!option) continue;
    option->get_assignment()->set_flag(1, nullptr);
    if (!option->get_value()) continue;
    auto* speed =
        HDB_DERIVED_OPTION<6, 0>::get_single_option(g->get_instance_name(), KAVU_ACF_SYNTH_CRITICAL_PIN_SPEED, true);
    take_pin(g, speed && speed->get_value() == KAVU_CRITICAL_PIN_SPEED_FAST, pins, fast_pins, fast_flags);
  }
  if (give_warnings) kavu_report_ignored_assignments(ns, KAVU_ACF_SYNTH_CRITICAL_PIN, nullptr, true);
}

// Pins named by the keys "opt_critical_signal_1", "_2", ... (up to the first
// empty one), matched against the path of each pin's first output terminal;
// "opt_critical_signal_is_fast_<name>" marks a fast one. The count of names
// that matched no pin is traced even when there are no names at all.
void critical_pins_from_keys(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>& pins,
                             std::set<CDB_SGATE_OTERM*>* fast_pins, std::vector<bool>* fast_flags) {
  std::vector<std::string> wanted;
  for (int k = 1;; ++k) {
    const std::string key = "opt_critical_signal_" + std::to_string(k);
    const char* value = cfg_get_value(key.c_str());
    if (!value || !*value) break;
    wanted.emplace_back(value);
  }
  kavu_debug_at_level(3, "Found %d INIs for critical signals", int(wanted.size()));
  std::vector<bool> found(wanted.size(), false);
  if (!wanted.empty()) {
    for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!is_input_side_pin(g) || !g->get_output_term(0)) continue;
      const std::string path = g->get_output_term(0)->get_string_hpath();
      for (size_t k = 0; k < wanted.size(); ++k) {
        if (wanted[k] != path) continue;
        found[k] = true;
        const std::string key = "opt_critical_signal_is_fast_" + wanted[k];
        take_pin(g, cfg_is_on(key.c_str(), false), pins, fast_pins, fast_flags);
        break;
      }
    }
  }
  int missing = 0;
  for (size_t k = 0; k < wanted.size(); ++k)
    if (!found[k]) {
      kavu_debug("Could not find pin with name %s", wanted[k].c_str());
      ++missing;
    }
  kavu_debug("%d critical signals were not found in the netlist", missing);
}

}  // namespace

void kavu_find_super_critical_pins(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                   std::vector<CDB_SGATE_OTERM*>& pins, std::set<CDB_SGATE_OTERM*>* fast_pins,
                                   std::vector<bool>* fast_flags, bool give_warnings) {
  KAVU_CHECK(facade && netlist);
  const bool from_ini = cfg_is_on("opt_read_critical_signals_from_ini", false);
  if (!kavu_family_okay_for_critical_asgns(facade)) return;
  pins.clear();
  if (fast_pins) fast_pins->clear();
  if (from_ini) critical_pins_from_keys(netlist, pins, fast_pins, fast_flags);
  else critical_pins_from_assignments(facade, netlist, pins, fast_pins, fast_flags, give_warnings);
  kavu_debug_at_level(3, "Found %d critical signals: ", int(pins.size()));
  if (pins.empty()) return;
  kavu_debug_at_level(3, "-------------------------------------");
  for (size_t i = 0; i < pins.size(); ++i) {
    CDB_SGATE_OTERM* t = pins[i];
    bool fast = false;
    if (fast_pins) fast = fast_pins->count(t) != 0;
    else if (fast_flags && i < fast_flags->size()) fast = (*fast_flags)[i];
    const std::string path = t->get_string_hpath(), debug = t->get_my_node()->get_debug_name();
    kavu_debug_at_level(3, "    %s %s %s%s", t->get_my_node()->get_string_type_name(), path.c_str(), debug.c_str(),
                        fast ? " (fast)" : "");
  }
  kavu_debug_at_level(3, "-------------------------------------");
}
