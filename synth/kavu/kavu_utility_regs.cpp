// kavu_utility_regs.cpp — register flags, the packed-register report and
// orphaned registers (model in kavu_utility_regs.h).
//
// Departures from the plain reading, for soundness: the bus grouping drops
// repeated name IDs before it folds (two entries for one bit used to stop
// the fold), and orphan isolation leaves preserved registers and registers
// that may not be pruned connected.
#include "kavu_utility_regs.h"

#include <algorithm>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_reg_flags.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility_hidden.h"
#include "kavu_msg.h"
#include "rdb/rdb.h"

namespace {

int s_dump_counter = 0;

struct BUS_NAME {
  int m_group;
  unsigned m_base;
  int m_depth;
  int m_idx1;
  int m_idx2;
};

struct GROUPED_BUS_NAME {
  int m_group;
  unsigned m_base;
  int m_depth;
  std::vector<int> m_idx1;
  int m_idx2;
};

struct DBL_GROUPED_BUS_NAME {
  int m_group;
  unsigned m_base;
  int m_depth;
  std::vector<int> m_idx1;
  std::vector<int> m_idx2;
};

bool is_register(const CDB_SGATE_NODE* g) { return kavu_is_a_dff(g) || kavu_is_a_wys_ff(g); }

bool removable(const CDB_SGATE_NODE* g) {
  if (kavu_is_a_buffer(g)) return !kavu_is_a_protect_buffer(g);
  if (kavu_is_a_dff(g)) {
    const CDB_REG_FLAGS* f = g->get_reg_flags();
    return !f->preserve() && !(f->prune_allowed_is_set() && !f->prune_allowed());
  }
  return kavu_is_a_comb(g) || kavu_is_a_lut(g) || kavu_is_a_mux(g) || kavu_is_a_carry_sum_buffer(g) ||
         kavu_is_a_op(g) || g->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM;
}

std::string path_below_root(const HDB_INSTANCE_NAME* name, CMP_FACADE* facade) {
  HDB_NAMESPACE* ns = facade ? facade->get_namespace() : nullptr;
  std::string path;
  if (name) name->get_hierarchy_path(ns ? ns->get_rooted_at() : nullptr, &path, false, 0);
  return path;
}

std::string index_text(const std::vector<int>& indices) {
  std::string text(1, '[');
  text += cdb_sgate_get_bus_index_string(indices);
  text += ']';
  return text;
}

std::string flag_line(const CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* g) {
  const CDB_REG_FLAGS* f = g->get_reg_flags();
  const HDB_INSTANCE_NAME* oname = g->get_single_oterm() ? g->get_single_oterm()->get_instance_name() : nullptr;
  char head[512];
  std::snprintf(head, sizeof(head), " -%d- DFF flags %s name %s oterm name %s: ", s_dump_counter,
                g->get_string_type_name(), g->get_instance_name() ? g->get_instance_name()->get_short_hpath().c_str() : "",
                oname ? oname->get_short_hpath().c_str() : "");
  std::string line = head;
  const bool all_set = f->allow_anything_is_set() && f->merge_allowed_is_set() && f->preserve_is_set() &&
                       f->prune_allowed_is_set() && f->max_fanout_is_set();
  if (all_set) line += "Everything is set - ";
  else {
    if (!f->allow_anything_is_set()) line += "Allow anything not set - ";
    if (!f->merge_allowed_is_set()) line += "Merge not set - ";
    if (!f->preserve_is_set()) line += "Preserve not set - ";
    if (!f->prune_allowed_is_set()) line += "Prune not set - ";
    if (!f->max_fanout_is_set()) line += "Max fanout not set - ";
  }
  if (f->allow_anything()) line += "Allow anything - ";
  if (f->preserve()) line += "Preserve - ";
  if (!f->merge_allowed()) line += "Don't merge - ";
  if (!f->prune_allowed()) line += "Don't prune - ";
  if (!f->not_gate_push_allowed()) line += "No not-gate-push - ";
  if (f->has_power_up_setting()) line += "Has power-up setting - ";
  if (f->powers_up_high()) line += "Power-up high - ";
  if (kavu_is_a_dff(g)) {
    if (!f->is_power_up_dc()) line += "Power-up not DC - ";
    if (f->is_packed()) line += "Packed into WYS - ";
    if (f->is_user_clock_enable()) line += "User CE - ";
  } else {
    if (f->is_power_up_dc()) line += "Power-up DC - ";
    const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
    if (w->sweep_level_examined()) {
      line += "Sweep level ";
      line += std::to_string(w->get_sweep_level());
      line += " - ";
    }
    else line += "Sweep level unchecked - ";
  }
  if (netlist->has_max_fanout_constraint(g)) {
    line += "Max fanout ";
    line += std::to_string(f->get_max_fanout());
    line += " - ";
  }
  return line + g->get_string_hpath();
}

}  // namespace

void opt_set_dff_flags(CDB_SGATE_NETLIST* netlist, HDB_NAMESPACE*) {
  KAVU_CHECK(netlist);
  const bool verbose = cfg_is_on("opt_dff_flags_verbose", false);
  const std::time_t start = std::time(nullptr);
  int total = 0, anything = 0, preserve = 0, no_prune = 0, no_merge = 0, no_push = 0;
  int user_wys = 0, user_wys_no_prune = 0, user_prim = 0, user_prim_no_prune = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    if (is_register(g)) {
      cdb_sgate_set_dff_flags_from_assignments(g);
      cdb_sgate_set_max_fanout(netlist, g);
      const CDB_REG_FLAGS* f = g->get_reg_flags();
      ++total;
      anything += f->allow_anything();
      preserve += f->preserve();
      no_merge += !f->merge_allowed();
      no_prune += !f->prune_allowed();
      no_push += !f->not_gate_push_allowed();
    }
    if (!g->is_user_primitive()) continue;
    const bool wys = g->is_wysiwyg();
    (wys ? user_wys : user_prim)++;
    if (!g->kff_read()) cdb_sgate_set_keep_fanout_free_flags_from_assignments(g);
    if (g->kff_requested() || !g->kff_read()) (wys ? user_wys_no_prune : user_prim_no_prune)++;
  }
  kavu_debug("Done setting DFF flags in %d seconds.", static_cast<int>(std::time(nullptr) - start));
  kavu_debug(" ** Total registers %d", total);
  kavu_debug(" ** Anything allowed %d", anything);
  kavu_debug(" ** Preserve ON %d", preserve);
  kavu_debug(" ** Prune disallowed %d", no_prune);
  kavu_debug(" ** Merge disallowed %d", no_merge);
  kavu_debug(" ** Not-gate-push disallowed %d", no_push);
  kavu_debug(" ** Max fanout %d", netlist->get_num_max_fanout_constraints());
  kavu_debug(" ** Total user wysiwygs %d", user_wys);
  kavu_debug(" ** User wysiwyg prune disallowed %d", user_wys_no_prune);
  kavu_debug(" ** Total user primitives %d", user_prim);
  kavu_debug(" ** User primitives prune disallowed %d", user_prim_no_prune);
  if (verbose) opt_dump_all_dff_flags(netlist);
}

void opt_dump_all_dff_flags(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  ++s_dump_counter;
  kavu_debug("Dumping all DFF flags %d...", s_dump_counter);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && is_register(*it)) kavu_debug("%s", flag_line(netlist, *it).c_str());
  kavu_debug("Done");
}

bool opt_lex_less_int_vectors(const std::vector<int>& a, const std::vector<int>& b, bool* equal) {
  KAVU_CHECK(equal);
  const size_t size1 = a.size(), size2 = b.size();
  size_t i = 0, j = 0;
  while (i < size1 && j < size2) {
    if (a[i] != b[j]) {
      *equal = false;
      return a[i] < b[j];
    }
    ++i;
    ++j;
  }
  KAVU_CHECK(i==size1 || j==size2);
  *equal = size1 == size2;
  return size1 < size2;
}

void opt_group_packed_register_bus_names(const std::vector<int>& name_ids, HDB_NAMESPACE* names,
                                         std::vector<OPT_PACKED_REGISTER_NAME>* result) {
  KAVU_CHECK(names && result);
  // Repeated IDs would fold one bit twice: keep the first of each.
  std::vector<int> ids;
  std::set<int> seen;
  for (int id : name_ids)
    if (seen.insert(id).second) ids.push_back(id);
  std::vector<BUS_NAME> bus_names;
  std::vector<unsigned> bases;  // base IDs in order of first appearance
  for (int id : ids) {
    HDB_INSTANCE_NAME* cur = names->get_instance_name(id);
    KAVU_CHECK(cur);
    BUS_NAME b{0, 0, 0, 0, 0};
    if (HDB_INSTANCE_NAME* group = cur->get_group()) {
      b.m_depth = 1;
      b.m_idx1 = cur->get_index_in_group();
      cur = group;
      if (HDB_INSTANCE_NAME* outer = cur->get_group()) {
        b.m_depth = 2;
        b.m_idx2 = cur->get_index_in_group();
        cur = outer;
      }
    }
    b.m_base = static_cast<unsigned>(cur->get_id());
    auto pos = std::find(bases.begin(), bases.end(), b.m_base);
    b.m_group = static_cast<int>(pos - bases.begin());
    if (pos == bases.end()) bases.push_back(b.m_base);
    bus_names.push_back(b);
  }
  std::stable_sort(bus_names.begin(), bus_names.end(), [](const BUS_NAME& x, const BUS_NAME& y) {
    if (x.m_group != y.m_group) return x.m_group < y.m_group;
    if (x.m_idx2 != y.m_idx2) return x.m_idx2 < y.m_idx2;
    return x.m_idx1 < y.m_idx1;
  });
  std::vector<GROUPED_BUS_NAME> grouped;
  const BUS_NAME* prev_bus_name = nullptr;
  for (const BUS_NAME& bus_name : bus_names) {
    if (prev_bus_name && prev_bus_name->m_base == bus_name.m_base && prev_bus_name->m_idx2 == bus_name.m_idx2) {
      GROUPED_BUS_NAME* prev_grouped_bus_name = grouped.empty() ? nullptr : &grouped.back();
      KAVU_CHECK(prev_grouped_bus_name != 0);
      KAVU_CHECK(prev_bus_name->m_idx1 != bus_name.m_idx1);
      prev_grouped_bus_name->m_idx1.push_back(bus_name.m_idx1);
    } else {
      grouped.push_back({bus_name.m_group, bus_name.m_base, bus_name.m_depth, {bus_name.m_idx1}, bus_name.m_idx2});
    }
    prev_bus_name = &bus_name;
  }
  std::stable_sort(grouped.begin(), grouped.end(), [](const GROUPED_BUS_NAME& x, const GROUPED_BUS_NAME& y) {
    if (x.m_group != y.m_group) return x.m_group < y.m_group;
    bool equal = false;
    const bool less = opt_lex_less_int_vectors(x.m_idx1, y.m_idx1, &equal);
    if (!equal) return less;
    return x.m_idx2 < y.m_idx2;
  });
  std::vector<DBL_GROUPED_BUS_NAME> dbl;
  const GROUPED_BUS_NAME* prev_grouped_bus_name = nullptr;
  for (const GROUPED_BUS_NAME& grouped_bus_name : grouped) {
    bool equal = false;
    if (prev_grouped_bus_name && prev_grouped_bus_name->m_base == grouped_bus_name.m_base &&
        (opt_lex_less_int_vectors(prev_grouped_bus_name->m_idx1, grouped_bus_name.m_idx1, &equal), equal)) {
      DBL_GROUPED_BUS_NAME* prev_dbl_grouped_bus_name = dbl.empty() ? nullptr : &dbl.back();
      KAVU_CHECK(prev_dbl_grouped_bus_name != 0);
      KAVU_CHECK(prev_grouped_bus_name->m_idx2 != grouped_bus_name.m_idx2);
      prev_dbl_grouped_bus_name->m_idx2.push_back(grouped_bus_name.m_idx2);
    } else {
      dbl.push_back({grouped_bus_name.m_group, grouped_bus_name.m_base, grouped_bus_name.m_depth,
                     grouped_bus_name.m_idx1, {grouped_bus_name.m_idx2}});
    }
    prev_grouped_bus_name = &grouped_bus_name;
  }
  for (const DBL_GROUPED_BUS_NAME& d : dbl) {
    OPT_PACKED_REGISTER_NAME r;
    r.m_base_name_id = d.m_base;
    if (d.m_depth == 2) r.m_idx2_text = index_text(d.m_idx2);
    if (d.m_depth >= 1) r.m_idx1_text = index_text(d.m_idx1);
    result->push_back(r);
  }
}

void opt_update_packed_registers_report(CDB_SGATE_NODE* packer, const std::vector<CDB_SGATE_NODE*>& registers,
                                        const char* type_name, CMP_FACADE* facade) {
  if (cdb_sgate_synthesis_is_running_in_parallel()) return;
  const bool group_names = cfg_is_on("opt_packed_register_report_group_names", true);
  KAVU_CHECK(packer);
  HDB_INSTANCE_NAME* packer_name = packer->get_instance_name();
  if (!packer_name || !facade) return;
  const std::string packer_path = path_below_root(packer_name, facade);
  HDB_NAMESPACE* names = packer_name->get_namespace();
  RDB_REPORT* report = facade->get_report();
  if (!report) return;
  RDB_FOLDER* current_folder = report->get_current_folder();
  KAVU_CHECK(current_folder != NULL);
  RDB_FOLDER* results_folder = rdb_get_folder_by_name(
      current_folder, current_folder->get_name() + " " + RDB_SYNTH_OPTIMIZATION_RESULTS, true);
  KAVU_CHECK(results_folder != NULL);
  RDB_TABLE* dff_table =
      zcu_get_table_object(results_folder, RDB_SYNTH_REGISTERS_PACKED_INTO_INFERRED_TOLVAFUNCTIONS,
                           {RDB_SYNTH_REGISTER_NAME, RDB_SYNTH_TOLVAFUNCTION, RDB_SYNTH_TOLVAFUNCTION_TYPE});
  KAVU_CHECK(dff_table != NULL);
  const std::string type = type_name ? type_name : "";
  std::vector<int> ids;
  for (CDB_SGATE_NODE* r : registers) {
    if (!r || r->has_fanout() || !r->get_instance_name()) continue;
    if (group_names) ids.push_back(r->get_instance_name()->get_id());
    else zcu_add_data_row_to_report_table(dff_table, {path_below_root(r->get_instance_name(), facade), packer_path, type});
  }
  if (group_names && !ids.empty()) {
    KAVU_CHECK(names);
    std::vector<OPT_PACKED_REGISTER_NAME> rows;
    opt_group_packed_register_bus_names(ids, names, &rows);
    for (const OPT_PACKED_REGISTER_NAME& row : rows) {
      const std::string base = path_below_root(names->get_instance_name(static_cast<int>(row.m_base_name_id)), facade);
      zcu_add_data_row_to_report_table(dff_table, {base + row.m_idx2_text + row.m_idx1_text, packer_path, type});
    }
  }
  zcu_check_and_remove_empty_table(results_folder, dff_table);
}

void opt_isolate_orphaned_gates_and_record_dffs(CDB_SGATE_OTERM* orphan, std::vector<CDB_SGATE_NODE*>* dffs) {
  CDB_SGATE_OTERM* orphan_oterm = orphan;
  std::vector<CDB_SGATE_NODE*>* dff_vec = dffs;
  KAVU_CHECK(orphan_oterm != NULL);
  KAVU_CHECK(dff_vec != NULL);
  std::vector<CDB_SGATE_OTERM*> stack{orphan};
  while (!stack.empty()) {
    CDB_SGATE_NODE* g = stack.back()->get_my_node();
    stack.pop_back();
    if (g->has_fanout() || !removable(g)) continue;
    if (kavu_is_a_dff(g)) dffs->push_back(g);
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      if (!t || !cdb_is_connected(t) || t->is_vcc_or_gnd() || !t->get_source()) continue;
      CDB_SGATE_OTERM* src = t->get_source();
      t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      t->set_vcc();
      if (!src->has_fanout()) stack.push_back(src);
    }
  }
}

void opt_mark_orphaned_dffs(const std::vector<CDB_SGATE_NODE*>& dffs) {
  for (CDB_SGATE_NODE* g : dffs)
    if (CDB_REG_FLAGS* f = g ? g->get_reg_flags() : nullptr) f->set_packed(true);
}

bool opt_oterm_feeds_d_input(CDB_SGATE_OTERM* source, CDB_SGATE_NODE* dff) {
  CDB_SGATE_OTERM* source_oterm = source;
  KAVU_CHECK(source_oterm != NULL);
  KAVU_CHECK(kavu_is_a_dff(dff));
  CDB_SGATE_ITERM* d = dff->get_input_term(CDB_DFF_DATA);
  return d && cdb_is_connected(d) && !d->is_vcc_or_gnd() && d->get_source() == source;
}

void opt_undo_all_clock_ena(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  kavu_debug("Undoing all Clock ENA...");
  auto inactive = [](const CDB_SGATE_ITERM* t, bool inactive_is_vcc) {
    return !t || !cdb_is_connected(t) || (inactive_is_vcc ? t->is_vcc() : t->is_gnd());
  };
  std::vector<CDB_SGATE_NODE*> registers;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it)) registers.push_back(*it);
  int converted = 0;
  for (CDB_SGATE_NODE* dff : registers) {
    if (!inactive(kavu_get_dff_sload(dff), false) || !inactive(kavu_get_dff_sclear(dff), false)) continue;
    if (inactive(kavu_get_dff_enable(dff), true)) continue;
    opt_convert_clock_enable_to_mux(dff, netlist);
    ++converted;
  }
  if (converted >= 1) kavu_debug("Converted %d ENAs to MUX", converted);
}
