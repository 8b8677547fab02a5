// kavu_bdd_cells.cpp — BDD heads as LUTs, muxes of LUTs and extended logic
// cells.
//
// Truth tables come from BDD_ZBDD::make_truth_table: bit m holds the value
// where the variable at level j takes bit j of m, so the table's index bits
// follow the manager's current order. The 7-input search rotates that order
// to find a split variable on top whose cofactors each use a variable the
// other does not; the 8-input search splits by constraint on each variable.
#include "kavu_bdd_cells.h"

#include <algorithm>

#include "kavu_bdd_gates.h"
#include "kavu_check.h"
#include "kavu_device.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"

namespace {

constexpr unsigned MAX_TABLE_VARS = 13;  // 2^13 bits: 256 32-bit words
enum BDD_PIN { BDD_PIN_A, BDD_PIN_B, BDD_PIN_C, BDD_PIN_D, BDD_PIN_E, BDD_PIN_F, BDD_PIN_G, BDD_PIN_H };

bool is_quellin_or_harrowdale(DEV_FAMILY_ENUM family) { return family == 25 || family == 45; }

void log_text(FILE* log, const std::string& text) {
  if (log) std::fputs(text.c_str(), log);
}

bool table_bit(const std::vector<uint64_t>& table, unsigned i) { return (table[i / 64] >> (i % 64)) & 1; }

// A LUT of `inputs` (6 or 4) over the head's support.
CDB_SGATE_OTERM* make_lut_for_head(const BDD_ZBDD& head, const std::vector<CDB_SGATE_OTERM*>* support,
                                   CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_node, FILE* log, unsigned inputs,
                                   const char* ext) {
  KAVU_CHECK(support && netlist);
  BDD_ZBDD_MGR* mgr = head.get_manager();
  const unsigned n = unsigned(mgr->support_size());
  const unsigned table_words = n <= 5 ? 1 : 1u << (n - 5);
  KAVU_CHECK(n <= MAX_TABLE_VARS && table_words <= 256);  // "table_words <= max_table"
  const int dependent = head.support_size();
  if (dependent > int(inputs)) {
    kavu_debug("There are %d dependent variables in the requested BDD", dependent);
    KAVU_INTERNAL_ERROR(inputs == 6 ? "6 LUT cone using more than 6 inputs" : "4 LUT cone using more than 4 inputs");
  }
  std::vector<uint64_t> table;
  head.make_truth_table(&table);
  std::vector<int> vars;
  head.build_support(&vars);
  std::vector<int> used(n, 0);
  for (int v : vars) used[size_t(mgr->level_of_var(v))] = 1;
  std::string text = "    using table levels [";
  for (int u : used) text += std::to_string(u) + " ";
  log_text(log, text + "]\n");

  CDB_LUTMASK mask;
  mask.set_value(6, lut6_mask_from_table(table, 1u << n, used));
  if (inputs == 4) mask.set_value(4, mask.get_value());
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, mask);
  netlist->add_node(lut, true);
  for (unsigned j = 0; j < inputs; ++j) lut->set_input_term(lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + j)), j);
  for (size_t j = 0; j < vars.size(); ++j) {
    KAVU_CHECK(size_t(vars[j]) < support->size());
    (*support)[size_t(vars[j])]->insert_fanout(lut->get_input_term(unsigned(j)));
  }
  KAVU_CHECK(name_node != 0);  // "from_sgate"
  kavu_create_synthesized_name(lut, name_node, ext);
  text = "  LUT " + lut->get_debug_name() + " created - \n    mask is " + mask.get_string_value() +
         "\n    support vars (in iterm order) - ";
  for (int v : vars) text += std::to_string(v) + " ";
  log_text(log, text + "\n");
  for (unsigned j = 0; j < inputs; ++j) {
    if (!lut->is_independent_of(j) && !cdb_is_connected(lut->get_input_term(j))) {
      if (log) std::fflush(log);
      KAVU_INTERNAL_ERROR("Depends on unconnected input");
    }
  }
  KAVU_CHECK(lut->get_single_oterm());
  return lut->get_single_oterm();
}

void connect_plain(CDB_SGATE_OTERM* src, CDB_SGATE_NODE* gate, unsigned pos) {
  CDB_SGATE_ITERM* t = gate->get_input_term(pos);
  KAVU_CHECK(t != 0);
  src->insert_fanout(t);
  t->clear_invert();
}

}  // namespace

uint64_t lut6_mask_from_table(const std::vector<uint64_t>& table, unsigned table_size, const std::vector<int>& used) {
  std::vector<unsigned> levels;
  for (size_t l = 0; l < used.size(); ++l)
    if (used[l]) levels.push_back(unsigned(l));
  const unsigned q = unsigned(levels.size());
  KAVU_CHECK(q <= 6);
  uint64_t mask = 0;
  for (int k = 63; k >= 0; --k) {
    unsigned tbl_index = 0;
    for (unsigned j = 0; j < q; ++j)
      if ((unsigned(k) >> j) & 1) tbl_index |= 1u << levels[j];
    KAVU_CHECK(tbl_index < table_size);
    if (table_bit(table, tbl_index)) mask |= 1ull << k;
  }
  return mask;
}

CDB_SGATE_OTERM* kavu_bdd_make_braeholt_6lut(const BDD_ZBDD& head, const std::vector<CDB_SGATE_OTERM*>* support,
                                             CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_node, FILE* log) {
  return make_lut_for_head(head, support, netlist, name_node, log, 6, "six");
}

CDB_SGATE_OTERM* kavu_bdd_make_gorven_4lut(const BDD_ZBDD& head, const std::vector<CDB_SGATE_OTERM*>* support,
                                           CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_node, FILE* log) {
  return make_lut_for_head(head, support, netlist, name_node, log, 4, "four");
}

CDB_SGATE_LUT* kavu_create_41mux_6lut(CDB_SGATE_NETLIST* netlist) {
  auto in = [](unsigned i) { return CDB_LUTMASK::imask(6, i); };
  const CDB_LUTMASK mask = (~in(5) & ~in(4) & in(0)) | (~in(5) & in(4) & in(1)) | (in(5) & ~in(4) & in(2)) |
                           (in(5) & in(4) & in(3));
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, mask);
  netlist->add_node(lut, true);
  for (unsigned j = 0; j < 6; ++j) lut->set_input_term(lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + j)), j);
  KAVU_CHECK(lut->get_single_oterm());
  return lut;
}

void kavu_bdd_use_braeholt_66mux(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                 const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist, FILE* log) {
  KAVU_CHECK(head_oterm && head_oterm->has_fanout());
  KAVU_CHECK(!head.is_constant());
  BDD_ZBDD lo = head.low_child(), hi = head.high_child();
  if (head.is_complement()) lo = !lo, hi = !hi;
  CDB_SGATE_NODE* name_node = head_oterm->get_my_node();
  CDB_SGATE_OTERM* lo_lut = kavu_bdd_make_braeholt_6lut(lo, support, netlist, name_node, log);
  CDB_SGATE_OTERM* hi_lut = kavu_bdd_make_braeholt_6lut(hi, support, netlist, name_node, log);
  CDB_SGATE_LUT* mux = kavu_create_mux_lut(netlist);
  kavu_create_synthesized_name(mux, name_node, "six");
  connect_plain(lo_lut, mux, 0);
  connect_plain(hi_lut, mux, 1);
  connect_plain((*support)[size_t(head.variable())], mux, 3);
  mux->get_output_term(0)->adopt_fanouts(head_oterm, false);
  log_text(log, "  2:1 MUX " + mux->get_debug_name() + " is the new replacement head\n");
}

void kavu_bdd_use_braeholt_6666mux(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                   const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                   FILE* log) {
  KAVU_CHECK(head_oterm && head_oterm->has_fanout());
  KAVU_CHECK(support->size() == 8);  // "combined_support->size() == 8"
  KAVU_CHECK(head.get_manager()->support_size() == 8);  // "num_vars == 8"
  KAVU_CHECK(!head.is_constant());
  const BDD_ZBDD lo = head.low_child(), hi = head.high_child();
  const int var = lo.support_size(), hivar = hi.support_size();
  kavu_debug("8 cut sides use %d and %d vars", var, hivar);
  KAVU_CHECK(var > 0 || hivar > 0);
  const BDD_ZBDD& wider = var >= hivar ? lo : hi;
  const int second = wider.is_constant() ? -1 : wider.variable();
  BDD_ZBDD quarters[4] = {lo, lo, hi, hi};
  if (!lo.is_constant()) {
    kavu_debug("Low child var is %d", lo.variable());
    if (lo.variable() == second) {
      quarters[0] = lo.is_complement() ? !lo.regularize().low_child() : lo.low_child();
      quarters[1] = lo.is_complement() ? !lo.regularize().high_child() : lo.high_child();
    }
  }
  if (!hi.is_constant()) {
    kavu_debug("High child var is %d", hi.variable());
    KAVU_CHECK(!hi.is_complement());  // "!hiside.is_complement()"
    if (hi.variable() == second) quarters[2] = hi.low_child(), quarters[3] = hi.high_child();
  }
  if (head.is_complement())
    for (BDD_ZBDD& q : quarters) q = !q;
  CDB_SGATE_NODE* name_node = head_oterm->get_my_node();
  CDB_SGATE_OTERM* luts[4];
  for (unsigned i = 0; i < 4; ++i) luts[i] = kavu_bdd_make_braeholt_6lut(quarters[i], support, netlist, name_node, log);
  CDB_SGATE_LUT* mux = kavu_create_41mux_6lut(netlist);
  kavu_create_synthesized_name(mux, name_node, "six");
  for (unsigned i = 0; i < 4; ++i) connect_plain(luts[i], mux, i);
  connect_plain((*support)[size_t(head.variable())], mux, 5);
  if (second < 0) KAVU_INTERNAL_ERROR("8 input table can't have an indy variable?");
  connect_plain((*support)[size_t(second)], mux, 4);
  mux->get_output_term(0)->adopt_fanouts(head_oterm, false);
  log_text(log, "  4:1 MUX " + mux->get_debug_name() + " is the new replacement head\n");
}

// ---------------------------------------------------------------- 7 and 8 inputs

uint32_t bdd_support_mask(const BDD_ZBDD& b, int size) {
  KAVU_CHECK(size < 32);
  std::vector<int> vars;
  b.build_support(&vars);
  uint32_t mask = 0;
  for (int v : vars) {
    KAVU_CHECK(v >= 0 && v < 32);
    mask |= 1u << v;
  }
  return mask;
}

bool bdd_pin_map_for_lut78(int the_var, int n, const BDD_ZBDD& low, const BDD_ZBDD& high, std::vector<int>* pin_map) {
  const bool is_lut7 = n == 7, is_lut8 = n == 8;
  KAVU_CHECK(is_lut7 || is_lut8);
  pin_map->assign(8, -1);
  const int lo_size = low.support_size(), hi_size = high.support_size();
  const uint32_t lo_mask = bdd_support_mask(low, lo_size), hi_mask = bdd_support_mask(high, hi_size);
  const bool feasible = is_lut7 ? lo_size > 0 && hi_size > 0 && lo_size + hi_size >= 6
                                : lo_size >= 2 && hi_size >= 2 && lo_size + hi_size >= 7;
  if (!feasible) return false;
  std::vector<int>& pins = *pin_map;
  const std::vector<int> shared_pins = is_lut8 ? std::vector<int>{BDD_PIN_A, BDD_PIN_B}
                                               : std::vector<int>{BDD_PIN_A, BDD_PIN_B, BDD_PIN_C};
  size_t next_shared = 0;
  auto place_shared = [&](int v) {
    while (next_shared < shared_pins.size() && pins[size_t(shared_pins[next_shared])] != -1) ++next_shared;
    if (next_shared < shared_pins.size()) return pins[size_t(shared_pins[next_shared++])] = v, true;
    if (pins[BDD_PIN_E] == -1) return pins[BDD_PIN_E] = v, true;
    return false;
  };
  for (int v = 0; v < n; ++v) {
    const bool in_lo = (lo_mask >> v) & 1, in_hi = (hi_mask >> v) & 1;
    bool placed;
    if (!in_lo && !in_hi) {
      // Only the split variable may be missing from both halves: a head that
      // ignores a variable has no cell of this shape.
      if (v != the_var || pins[BDD_PIN_H] != -1) return false;
      pins[BDD_PIN_H] = v;
      placed = true;
    } else if (in_lo && !in_hi) {
      if (is_lut8 && pins[BDD_PIN_C] == -1) placed = (pins[BDD_PIN_C] = v, true);
      else if (pins[BDD_PIN_D] == -1) placed = (pins[BDD_PIN_D] = v, true);
      else placed = place_shared(v);
    } else if (!in_lo && in_hi) {
      if (is_lut8 && pins[BDD_PIN_F] == -1) placed = (pins[BDD_PIN_F] = v, true);
      else if (pins[BDD_PIN_G] == -1) placed = (pins[BDD_PIN_G] = v, true);
      else placed = place_shared(v);
    } else {
      placed = place_shared(v);
    }
    if (!placed) return false;
  }
  if (is_lut7) {
    KAVU_CHECK(pins[BDD_PIN_F] == -1);
    pins[BDD_PIN_F] = pins[BDD_PIN_C];
  }
  for (int p : pins)
    if (p == -1) return false;
  return true;
}

bool truth_table_for_lut78(const BDD_ZBDD& head, const std::vector<int>& pin_map, uint64_t* mask) {
  BDD_ZBDD_MGR* mgr = head.get_manager();
  const int num_vars = mgr->support_size();
  KAVU_CHECK(num_vars == 7 || num_vars == 8);
  KAVU_CHECK(pin_map.size() == 8);
  std::vector<uint64_t> table;
  head.make_truth_table(&table);
  std::vector<int> level(static_cast<size_t>(num_vars), 0);
  for (int v = 0; v < num_vars; ++v) level[size_t(v)] = mgr->level_of_var(v);
  auto pin = [&](unsigned m, int p) { return (m >> level[size_t(pin_map[size_t(p)])]) & 1; };
  uint64_t lo = 0, hi = 0;
  for (unsigned m = 0; m < (1u << num_vars); ++m) {
    if (!table_bit(table, m)) continue;
    const unsigned a = pin(m, BDD_PIN_A), b = pin(m, BDD_PIN_B), e = pin(m, BDD_PIN_E);
    if (!pin(m, BDD_PIN_H) && pin(m, BDD_PIN_G) && (num_vars == 7 || pin(m, BDD_PIN_F)))
      lo |= 1ull << (a + 2 * b + 4 * pin(m, BDD_PIN_C) + 8 * pin(m, BDD_PIN_D) + 16 * e);
    if (pin(m, BDD_PIN_H) && pin(m, BDD_PIN_D) && (num_vars == 7 || pin(m, BDD_PIN_C)))
      hi |= 1ull << (a + 2 * b + 4 * pin(m, BDD_PIN_F) + 8 * pin(m, BDD_PIN_G) + 16 * e);
  }
  *mask = (hi << 32) | lo;
  return true;
}

namespace {

// The Brae placement of one split: pin 2 a variable only the low half uses,
// pin 4 the split variable, pin 6 one only the high half uses.
bool brae_split_pins(int split, std::vector<int> lo_vars, std::vector<int> hi_vars, std::vector<int>* pins) {
  if (lo_vars.size() > 5 || hi_vars.size() > 5) return false;
  for (size_t i = 0; i < hi_vars.size();) {
    auto it = std::find(lo_vars.begin(), lo_vars.end(), hi_vars[i]);
    if (it == lo_vars.end()) {
      ++i;
      continue;
    }
    *it = lo_vars.back();
    lo_vars.pop_back();
    hi_vars[i] = hi_vars.back();
    hi_vars.pop_back();
  }
  if (lo_vars.empty() || hi_vars.empty()) return false;
  pins->assign(7, -1);
  (*pins)[2] = lo_vars[0];
  (*pins)[4] = split;
  (*pins)[6] = hi_vars[0];
  return true;
}

}  // namespace

bool kavu_bdd_reorder_for_brae7_decomp(const BDD_ZBDD& head, uint64_t* mask, std::vector<int>* solution_inputs,
                                       DEV_FAMILY_ENUM family) {
  if (head.support_size() != 7) return false;
  BDD_ZBDD_MGR* mgr = head.get_manager();
  const int n = mgr->support_size();
  const bool quellin = is_quellin_or_harrowdale(family);
  std::vector<int> pins;
  bool found = false;
  for (int attempt = 0; attempt < 7 && !found; ++attempt) {
    const int split = mgr->variable_at(0);
    const BDD_ZBDD lo = head.low_child(), hi = head.high_child();
    std::vector<int> lo_vars, hi_vars;
    lo.build_support(&lo_vars);
    hi.build_support(&hi_vars);
    if (quellin) {
      found = bdd_pin_map_for_lut78(split, 7, lo, hi, &pins) && truth_table_for_lut78(head, pins, mask);
    } else {
      found = head.variable() == split && brae_split_pins(split, lo_vars, hi_vars, &pins);
    }
    if (found || attempt == 6) break;
    for (int l = 0; l + 1 < 7 && l + 1 < n; ++l) mgr->swap_adjacent_variables(mgr->variable_at(l), mgr->variable_at(l + 1));
  }
  if (!found) return false;
  KAVU_CHECK(solution_inputs->size() == 0);
  if (quellin) {
    *solution_inputs = pins;
    return true;
  }
  std::vector<int> free_vars;
  for (int v = 0; v < 7; ++v)
    if (std::find(pins.begin(), pins.end(), v) == pins.end()) free_vars.push_back(v);
  size_t next = 0;
  for (int p : {0, 1, 3, 5}) {
    if (next >= free_vars.size()) KAVU_INTERNAL_ERROR("found");
    pins[size_t(p)] = free_vars[next++];
  }
  std::vector<int> order(pins);
  for (int v = 0; v < n; ++v)
    if (std::find(order.begin(), order.end(), v) == order.end()) order.push_back(v);
  mgr->order_variables(order.data(), n);
  std::vector<uint64_t> table;
  head.make_truth_table(&table);
  uint64_t m = 0;
  for (unsigned k = 0; k < 64; ++k) {
    const unsigned index = (k & 16) ? ((k & ~4u) + ((k & 4) ? 64 : 0)) : k;
    if (table_bit(table, index)) m |= 1ull << k;
  }
  *mask = m;
  *solution_inputs = pins;
  return true;
}

void kavu_name_oterm_from_node(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* node) {
  KAVU_CHECK(oterm != 0);
  if (!node) return;
  HDB_INSTANCE_NAME* base = node->get_instance_name();
  if (!base && node->get_preferred_oterm()) base = node->get_preferred_oterm()->get_instance_name();
  if (!base) return;
  kavu_create_synthesized_name(oterm, base, "oterm");
  CDB_SGATE_NODE* cell = oterm->get_my_node();
  if (!cell->get_instance_name()) cell->set_instance_name(oterm->get_instance_name());
}

CDB_SGATE_OTERM* make_lut78_cell(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_OTERM*>& data_ins,
                                 uint64_t mask, CDB_SGATE_NODE* name_node, DEV_FAMILY_ENUM family) {
  KAVU_CHECK(!is_quellin_or_harrowdale(family) || data_ins.size() == 8);
  CDB_SGATE_WYSIWYG* cell = kavu_create_new_lc_comb(nullptr, family)->cast_to_wysiwyg();
  cell->set_lutmask_value(mask);
  cell->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  netlist->add_node(cell, true);
  for (unsigned i = 0; i < data_ins.size(); ++i) {
    KAVU_CHECK(data_ins[i] != 0);  // "oterm"
    uint16_t port = 0;
    KAVU_CHECK(cell->get_catalogue_entry().input_port_of_slot(i, &port, nullptr));
    data_ins[i]->insert_fanout(kavu_fetch_create_wys_iterm(port, cell));
  }
  CDB_SGATE_OTERM* combout = kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, cell, false);
  KAVU_CHECK(name_node != 0);  // "from_sgate"
  kavu_create_synthesized_name(cell, name_node, "seven");
  for (DB_OUTPUT_PORT_TYPE port : {DB_PORT_SUMOUT, DB_PORT_COUT, DB_PORT_SHAREOUT})
    kavu_name_oterm_from_node(kavu_fetch_create_wys_oterm(port, cell, false), name_node);
  return combout;
}

CDB_SGATE_OTERM* kavu_bdd_try_braeholt7_cell(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                             const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                             DEV_FAMILY_ENUM family, FILE* log) {
  KAVU_CHECK(head_oterm && head_oterm->has_fanout());
  if (support->size() != 7) {
    kavu_debug("Combined support size is %d", int(support->size()));
    KAVU_INTERNAL_ERROR("Support size should be 7");
  }
  uint64_t mask = 0;
  std::vector<int> pins;
  if (!kavu_bdd_reorder_for_brae7_decomp(head, &mask, &pins, family)) return nullptr;
  CDB_LUTMASK text_mask;
  text_mask.set_value(6, mask);
  std::string text = "  Reordered for 7 input BRAE\n    Mask is " + text_mask.get_string_value() + "\n    Input perm...";
  for (size_t i = 0; i < 7; ++i) text += std::to_string(pins[i]) + " ";
  log_text(log, text + "\n");
  std::vector<CDB_SGATE_OTERM*> data;
  for (int v : pins) data.push_back((*support)[size_t(v)]);
  CDB_SGATE_OTERM* out = make_lut78_cell(netlist, data, mask, head_oterm->get_my_node(), family);
  log_text(log, "  WYS UID " + out->get_my_node()->get_debug_name() + " is the new replacement\n");
  return out;
}

CDB_SGATE_OTERM* kavu_bdd_try_quellin_lut8(const BDD_ZBDD& head, CDB_SGATE_OTERM* head_oterm,
                                           const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                           DEV_FAMILY_ENUM family) {
  KAVU_CHECK(head_oterm && head_oterm->has_fanout());
  BDD_ZBDD_MGR* mgr = head.get_manager();
  const int num_vars = mgr->support_size();
  KAVU_CHECK(is_quellin_or_harrowdale(family) && num_vars == 8);
  KAVU_CHECK(int(support->size()) == num_vars);  // "combined_support->size() == num_vars"
  std::vector<int> pin_map;
  uint64_t mask = 0;
  bool found = false;
  for (int v = 0; v < 8 && !found; ++v) {
    const BDD_ZBDD var = mgr->ithvar(v);
    found = bdd_pin_map_for_lut78(v, 8, head.Constrain(!var), head.Constrain(var), &pin_map) &&
            truth_table_for_lut78(head, pin_map, &mask);
  }
  if (!found) return nullptr;
  KAVU_CHECK(pin_map.size() == 8);
  std::vector<CDB_SGATE_OTERM*> data;
  for (int v : pin_map) data.push_back((*support)[size_t(v)]);
  return make_lut78_cell(netlist, data, mask, head_oterm->get_my_node(), family);
}
