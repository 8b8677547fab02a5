// kavu_utility_smek.cpp — buffer insertion and state-machine protection
// (model and entry points in kavu_utility_smek.h).
//
// Armour and excision are inverse edits: a protect buffer in front of an
// input carries the input's source and inversion and the input then reads
// the buffer plainly; excision gives the buffer's fan-outs its source back,
// folding any inversion into them, and a constant input becomes constant
// fan-outs (set_all_fanouts_constant keeps each reader's own inversion).
// Cost: O(1) per buffer apart from fan-out moves.
#include "kavu_utility_smek.h"

#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"
#include "ztl_hash_set_lite_sys.h"

namespace {

bool is_protect_output(const CDB_SGATE_OTERM* oterm) {
  return oterm && kavu_is_a_protect_buffer(oterm->get_my_node());
}

// A single-input comb gate becomes a two-input AND or OR of the same signal,
// so that it keeps its function with a buffer on each input.
void widen_single_input_comb(CDB_SGATE_COMB* comb) {
  if (comb->get_number_of_fanin() != 1) return;
  CDB_SGATE_ITERM* first = comb->get_single_iterm();
  if (comb->get_comb_type() == CDB_COMB_NOT) {
    comb->set_comb_type(CDB_COMB_OR);
    first->invert();
  } else if (comb->get_comb_type() == CDB_COMB_XOR) {
    comb->set_comb_type(CDB_COMB_OR);
    kavu_debug("Turned single-input XOR into an OR. This used to be a bug!");
  }
  KAVU_CHECK(comb->get_comb_type() == CDB_COMB_OR || comb->get_comb_type() == CDB_COMB_AND);
  kavu_insert_comb_fanin(comb, first->get_source(), first->get_source() ? first->is_inverted() : first->is_gnd());
}

void debug_gate(const char* format, int index, CDB_SGATE_NODE* g) {
  kavu_debug(format, index, g->get_string_type_name(), g->get_debug_name().c_str(),
             g->get_string_hpath().c_str());
}

}  // namespace

void rtl_insert_buffer_helper(CDB_SGATE_ITERM* before_iterm, CDB_SGATE_OTERM* after_oterm,
                              CDB_SGATE_NETLIST* netlist, CDB_BUFFER_TYPE type) {
  if (before_iterm) KAVU_CHECK(!after_oterm);
  else KAVU_CHECK(after_oterm);
  KAVU_CHECK(netlist);
  CDB_SGATE_NODE* ref = before_iterm ? before_iterm->get_my_node() : after_oterm->get_my_node();
  CDB_SGATE_BUFFER* buffer = new CDB_SGATE_BUFFER(nullptr, type, true);
  if (ref->get_instance_name()) kavu_create_synthesized_name(buffer, ref, "buf");
  CDB_SGATE_ITERM* in = buffer->create_input_term(nullptr);
  buffer->set_input_term(in, 0);
  netlist->add_node(buffer, true);
  CDB_SGATE_OTERM* out = buffer->get_single_oterm();
  if (before_iterm) {
    kavu_copy_fanin(before_iterm, in);
    before_iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    out->insert_fanout(before_iterm);
    before_iterm->clear_invert();
  } else {
    out->adopt_fanouts(after_oterm, false);
    after_oterm->insert_fanout(in);
    in->clear_invert();
  }
}

void rtl_insert_hard_protect_buffer(CDB_SGATE_ITERM* before_iterm, CDB_SGATE_OTERM* after_oterm,
                                    CDB_SGATE_NETLIST* netlist) {
  rtl_insert_buffer_helper(before_iterm, after_oterm, netlist, CDB_BUFFER_PROTECT);
}

void rtl_insert_soft_buffer(CDB_SGATE_ITERM* before_iterm, CDB_SGATE_OTERM* after_oterm,
                            CDB_SGATE_NETLIST* netlist) {
  rtl_insert_buffer_helper(before_iterm, after_oterm, netlist, CDB_BUFFER_SOFT);
}

int rtl_armor_gate(CDB_SGATE_NODE* sgate, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(sgate);
  if (CDB_SGATE_COMB* comb = sgate->cast_to_comb()) widen_single_input_comb(comb);
  int inserted = 0;
  // Input buffers; the input list does not change while buffers go in.
  for (unsigned i = 0; i < sgate->get_number_of_input_terms(); ++i) {
    CDB_SGATE_ITERM* t = sgate->get_input_term(i);
    if (!t || !cdb_is_connected(t) || is_protect_output(t->get_source())) continue;
    rtl_insert_hard_protect_buffer(t, nullptr, netlist);
    ++inserted;
  }
  for (unsigned i = 0; i < sgate->get_output_count(); ++i) {
    CDB_SGATE_OTERM* o = sgate->get_output_term(i);
    if (!o) continue;
    if (o->has_fanout_exactly(1) && kavu_is_a_protect_buffer(o->get_first_fanout()->get_my_node())) continue;
    rtl_insert_hard_protect_buffer(nullptr, o, netlist);
    ++inserted;
  }
  return inserted;
}

void rtl_collect_state_machine_gates(CDB_SGATE_HIERARCHY* hierarchy, std::vector<CDB_SGATE_NODE*>* gates) {
  KAVU_CHECK(hierarchy && gates);
  if (!hierarchy->has_machines()) return;
  const bool verbose = cfg_is_on("smek_protect_verbose", false);
  auto add = [&](CDB_SGATE_NODE* g, const char* role, const std::string& machine) {
    if (verbose) kavu_debug("Gate #%d: %s in machine %s", static_cast<int>(gates->size()), role, machine.c_str());
    gates->push_back(g);
  };
  for (CDB_STATE_MACHINE* m : *hierarchy->get_machine_list()) {
    const std::string name = m->get_instance_name() ? m->get_string_hpath() : m->get_name();
    if (verbose) kavu_debug("Doing machine %s", name.c_str());
    for (CDB_SGATE_STATE* s : m->get_states()) add(s, "state", name);
    for (CDB_SGATE_DFF* r : m->get_registers()) add(r, "register", name);
    if (m->get_clk()) add(m->get_clk()->get_my_node(), "clock", name);
    if (m->get_clk_en()) add(m->get_clk_en()->get_my_node(), "clock enable", name);
    if (m->get_reset()) add(m->get_reset()->get_my_node(), "reset", name);
  }
}

void rtl_mark_smek_register_power_up(CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(hierarchy);
  if (!hierarchy->has_machines()) return;
  for (CDB_STATE_MACHINE* m : *hierarchy->get_machine_list())
    for (CDB_SGATE_DFF* r : m->get_registers()) {
      r->set_power_up_dc(false);
      r->set_has_power_up_setting(true);
    }
}

void rtl_armor_smeks(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  const bool verbose = cfg_is_on("smek_protect_verbose", false);
  KAVU_CHECK(hierarchy);
  std::vector<CDB_SGATE_NODE*> gates;
  rtl_collect_state_machine_gates(hierarchy, &gates);
  int inserted = 0;
  for (size_t i = 0; i < gates.size(); ++i) {
    if (verbose) debug_gate("Gate #%d in the smek list is %s %s %s", static_cast<int>(i), gates[i]);
    inserted += rtl_armor_gate(gates[i], netlist);
  }
  if (inserted >= 1) kavu_debug("Inserted %d HARD_PROTECT buffers", inserted);
  rtl_mark_smek_register_power_up(hierarchy);
  rtl_sanity_check_smeks(hierarchy, netlist);
}

void rtl_sanity_check_smeks(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(hierarchy);
  KAVU_CHECK(netlist);
  std::vector<CDB_SGATE_NODE*> gates;
  rtl_collect_state_machine_gates(hierarchy, &gates);
  if (gates.empty()) return;
  ZTL_HASH_SET_LITE<CDB_SGATE_NODE*> set;
  for (CDB_SGATE_NODE* g : gates) set.insert(g);
  const int distinct = static_cast<int>(set.size());
  if (distinct < static_cast<int>(gates.size()))
    kavu_debug("Multiple state machines are sharing the same gate(s) (%d gate(s) shared).",
               static_cast<int>(gates.size()) - distinct);
  int found = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && set.find(*it) != set.end()) ++found;
  if (found < distinct) {
    kavu_debug("Couldn't find %d gate(s) supposed to be in SMEK", distinct - found);
    KAVU_INTERNAL_ERROR("Lost one or more state machine gates");
  }
}

int rtl_excise_protect_buffers(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  std::vector<CDB_SGATE_NODE*> removed;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !kavu_is_a_protect_buffer(g)) continue;
    const char* text = g->get_string_name();
    if (text && *text) continue;
    CDB_SGATE_ITERM* iterm = g->get_single_iterm();
    KAVU_CHECK(cdb_is_connected (iterm));
    CDB_SGATE_OTERM* oterm = g->get_single_oterm();
    KAVU_CHECK(iterm->get_source() != oterm);
    if (iterm->is_inverted()) {
      iterm->invert();
      oterm->invert();
    }
    if (oterm->is_inverted()) oterm->move_invert_to_fanouts();
    KAVU_CHECK(!iterm->is_inverted());
    KAVU_CHECK(!oterm->is_inverted());
    if (CDB_SGATE_OTERM* src = iterm->get_source()) src->adopt_fanouts(oterm, false);
    else oterm->set_all_fanouts_constant(iterm->is_vcc());
    removed.push_back(g);
  }
  for (auto r = removed.rbegin(); r != removed.rend(); ++r) {
    netlist->delete_node(*r);
    delete *r;
  }
  const int count = static_cast<int>(removed.size());
  if (count >= 1) kavu_debug("Removed %d HARD_PROTECT buffers", count);
  return count;
}
