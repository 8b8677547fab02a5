// kavu_dff_helper_strip.cpp — inversion push through a register and the
// strips that move a synchronous clear, a synchronous load or a clock enable
// out of a register into logic in front of its data input.
//
// Entry points: kavu_not_gate_push, kavu_invert_could_be_absorbed,
// kavu_strip_dff_sclr / _sload / _enable, kavu_strip_single_sload_sclr,
// kavu_strip_dff_sload_sclr, the clear-over-enable priority query and fix,
// kavu_find_or_create_and_of_iterms.
// Model: see kavu_dff_helper_strip.h for the register's next-state rule. A strip
//   keeps that rule exact: the load is folded first (mux of adata and data),
//   a clear only while the load is inactive (AND with the inverted clear),
//   the enable as a feedback mux. The feedback input reads the register's
//   stored value: when the register's output terminal carries an inversion,
//   the mux input takes the same inversion so that the two cancel.
// Invariant: every strip validates its register before its first edit and
//   leaves the control input tied inactive (GND for clear and load, VCC for
//   the enable); new gates join the netlist at once.
// Cost: O(1) per strip; the AND search of the priority fix is linear in the
//   fan-out of one source.
#include <cstdio>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_family_info.h"
#include "kavu_helper_gate_create.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"
#include "kavu_load_time_int.h"
#include "mem/mem.h"

namespace {

// Every disconnection leaves the terminal in the unconnected state.
constexpr CDB_SGATE_ITERM::CONNECT_STATE DISCONNECTED = CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED;

// A new AND gate without inputs, named `ext` after the register's instance
// name; the caller adds it to the netlist once its inputs are in place.
CDB_SGATE_COMB* new_and_named_after(CDB_SGATE_NODE* dff, const char* ext) {
  auto* gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  kavu_create_synthesized_name(gate, dff->get_instance_name(), ext);
  return gate;
}

// Drives `iterm` from `src` without inversion, whatever it read before.
void drive_from(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* src) {
  iterm->disconnect_from_source(DISCONNECTED);
  iterm->clear_invert();
  src->insert_fanout(iterm);
}

void tie_gnd(CDB_SGATE_ITERM* iterm) {
  iterm->disconnect_from_source(DISCONNECTED);
  iterm->set_gnd();
}

void tie_vcc(CDB_SGATE_ITERM* iterm) {
  iterm->disconnect_from_source(DISCONNECTED);
  iterm->set_vcc();
}

// data := data AND NOT clear, then the clear is tied to GND.
void fold_clear_into_data(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist, CDB_SGATE_ITERM* data,
                          CDB_SGATE_ITERM* clear) {
  CDB_SGATE_COMB* gate = new_and_named_after(dff, "sclr");
  kavu_insert_comb_fanin(gate, data->get_source(), data->is_inverted());
  kavu_insert_comb_fanin(gate, clear->get_source(), !clear->is_inverted());
  drive_from(data, gate->get_single_oterm());
  tie_gnd(clear);
  netlist->add_node(gate, true);
}

// The two-input AND among the fan-outs of `scan` whose inputs read a and b
// (in either order), or null.
CDB_SGATE_OTERM* find_and_of(CDB_SGATE_OTERM* scan, CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b) {
  for (CDB_SGATE_ITERM* reader : scan->fanouts()) {
    CDB_SGATE_NODE* gate = reader->get_my_node();
    if (!kavu_is_a_two_and(gate)) continue;
    CDB_SGATE_ITERM* first = nullptr;
    CDB_SGATE_ITERM* second = nullptr;
    kavu_grab_both_iterms(gate, &first, &second);
    if ((kavu_same_source(first, a) && kavu_same_source(second, b)) ||
        (kavu_same_source(first, b) && kavu_same_source(second, a))) {
      return gate->get_output_term(0);
    }
  }
  return nullptr;
}

}  // namespace

bool kavu_iterm_is_gnd_thru_protect_buffer(const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(cdb_is_connected (iterm));
  if (iterm->is_vcc_or_gnd()) return iterm->is_gnd();
  const CDB_SGATE_OTERM* src = iterm->get_source();
  if (!src) return false;  // connected only through a parent input
  const CDB_SGATE_NODE* buffer = src->get_my_node();
  if (!kavu_is_a_protect_buffer(buffer)) return false;
  const CDB_SGATE_ITERM* in = buffer->get_single_iterm();
  return in && cdb_is_connected(in) && in->is_gnd();
}

// ---- inversion push ----

bool kavu_invert_could_be_absorbed(CDB_SGATE_NODE* dff) {
  KAVU_CHECK(dff && kavu_is_a_dff (dff));
  CDB_SGATE_OTERM* oterm = dff->get_output_term(0);
  if (!oterm) return true;
  for (CDB_SGATE_ITERM* reader : oterm->fanouts()) {
    if (reader->is_inverted() != oterm->is_inverted()) continue;
    CDB_SGATE_NODE* gate = reader->get_my_node();
    if (kavu_is_a_comb(gate) || kavu_is_a_mux(gate)) continue;
    if (kavu_is_a_op(gate)) {
      switch (gate->cast_to_operator()->get_type()) {
        case CDB_OPER_COMPARE:
        case CDB_OPER_NTO1_MUX:
        case CDB_OPER_SELECT:
        case CDB_OPER_DECODE:
        case CDB_OPER_EQUAL:
          continue;
        default:
          return false;
      }
    }
    if (kavu_is_a_lut(gate)) {
      const uint8_t kind = gate->get_flag_byte(CDB_KIND_BYTE);
      if ((kind & CDB_LUT_USER) && !(kind & CDB_LUT_DONT_TOUCH)) continue;
    }
    return false;
  }
  return true;
}

void kavu_not_gate_push(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* /*netlist*/) {
  KAVU_CHECK(dff && kavu_is_a_dff (dff));
  for (CDB_SGATE_ITERM* iterm : {kavu_get_dff_sclear(dff), kavu_get_dff_sload(dff)}) {
    KAVU_CHECK(!cdb_is_connected (iterm) || iterm->is_gnd());
  }
  CDB_SGATE_ITERM* pre_iterm = kavu_get_dff_preset(dff);
  CDB_SGATE_ITERM* clr_iterm = kavu_get_dff_clear(dff);
  CDB_SGATE_ITERM* iterm = kavu_get_dff_data(dff);
  CDB_SGATE_OTERM* oterm = kavu_get_dff_oterm(dff);
  KAVU_CHECK(cdb_is_connected(pre_iterm));
  KAVU_CHECK(cdb_is_connected(clr_iterm));
  KAVU_CHECK(cdb_is_connected(iterm));
  KAVU_CHECK(oterm);

  // Storing the complement turns a clear into a preset and back.
  CDB_SGATE_OTERM* pre_src = pre_iterm->get_source();
  const bool pre_inverted = pre_iterm->is_inverted();
  pre_iterm->disconnect_from_source(DISCONNECTED);
  kavu_move_fanin(clr_iterm, pre_iterm);
  clr_iterm->disconnect_from_source(DISCONNECTED);
  kavu_set_iterm_source(clr_iterm, pre_src, pre_inverted);

  CDB_SGATE_ITERM* aload = kavu_get_dff_aload(dff);
  if (cdb_is_connected(aload) && !aload->is_gnd()) {
    CDB_SGATE_ITERM* adata = kavu_get_dff_adata(dff);
    KAVU_CHECK(adata);
    adata->invert();
  }
  iterm->invert();
  oterm->invert();
  oterm->move_invert_to_fanouts();
  CDB_FLAG32& flags = dff->get_flag();
  if (flags.test(CDB_NODE_FLAG_NOT_GATE_PUSHED)) {
    flags.reset(CDB_NODE_FLAG_NOT_GATE_PUSHED);
  } else {
    flags.set(CDB_NODE_FLAG_NOT_GATE_PUSHED);
  }
  kavu_set_dff_powers_up_high(dff, !kavu_dff_powers_up_high(dff));
  dff->set_changed(true);
}

// ---- strips ----

bool kavu_strip_dff_sclr(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(dff && kavu_is_a_dff (dff,true));
  KAVU_CHECK(netlist);
  CDB_SGATE_ITERM* iterm = kavu_get_dff_sclear(dff);
  KAVU_CHECK(cdb_is_connected (iterm));
  CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
  CDB_SGATE_ITERM* sld_iterm = kavu_get_dff_sload(dff);
  bool stripped = false;
  if (!kavu_iterm_is_gnd_thru_protect_buffer(iterm)) {
    KAVU_CHECK(!cdb_is_connected (sld_iterm) || sld_iterm->is_gnd());
    KAVU_CHECK(cdb_is_connected(data));
    fold_clear_into_data(dff, netlist, data, iterm);
    stripped = true;
  }
  if (dff->is_wysiwyg()) {
    CDB_SGATE_ITERM* sclr2 = kavu_get_dff_sclear2(dff);
    if (cdb_is_connected(sclr2) && !kavu_iterm_is_gnd_thru_protect_buffer(sclr2)) {
      KAVU_CHECK(!cdb_is_connected(sld_iterm) || sld_iterm->is_gnd());
      KAVU_CHECK(cdb_is_connected(data));
      fold_clear_into_data(dff, netlist, data, sclr2);
      stripped = true;
    }
  }
  return stripped;
}

bool kavu_strip_dff_sload(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(dff && kavu_is_a_dff (dff,true));
  KAVU_CHECK(netlist);
  CDB_SGATE_ITERM* sld_iterm = kavu_get_dff_sload(dff);
  KAVU_CHECK(cdb_is_connected (sld_iterm));
  if (kavu_iterm_is_gnd_thru_protect_buffer(sld_iterm)) return false;
  CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
  CDB_SGATE_ITERM* adata = kavu_get_dff_adata(dff);
  KAVU_CHECK(cdb_is_connected(data));
  KAVU_CHECK(cdb_is_connected(adata));
  CDB_SGATE_NODE* mux = kavu_synth_mux_sgate(dff, netlist, MEM_MANAGER::get_default_segment(), false);
  kavu_copy_fanin(data, mux->get_input_term(CDB_MUX_DATA0));
  kavu_copy_fanin(adata, mux->get_input_term(CDB_MUX_DATA1));
  kavu_copy_fanin(sld_iterm, mux->get_input_term(CDB_MUX_SELECT));
  drive_from(data, mux->get_output_term(0));
  tie_gnd(sld_iterm);
  return true;
}

bool kavu_strip_dff_enable(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(dff && kavu_is_a_dff (dff,true));
  KAVU_CHECK(netlist);
  CDB_SGATE_ITERM* ena_iterm = kavu_get_dff_enable(dff);
  KAVU_CHECK(cdb_is_connected (ena_iterm));
  if (kavu_iterm_is_gnd_thru_protect_buffer(ena_iterm)) return false;
  CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
  CDB_SGATE_OTERM* q = kavu_get_dff_oterm(dff);
  KAVU_CHECK(cdb_is_connected(data));
  KAVU_CHECK(q);
  CDB_SGATE_NODE* mux = kavu_synth_mux_sgate(dff, netlist, MEM_MANAGER::get_default_segment(), false);
  CDB_SGATE_ITERM* hold = mux->get_input_term(CDB_MUX_DATA0);
  drive_from(hold, q);
  // The hold input must see the stored value: an inverted register output
  // is cancelled by the same inversion on the mux input.
  kavu_set_invert_flag(hold, q->is_inverted());
  kavu_copy_fanin(data, mux->get_input_term(CDB_MUX_DATA1));
  kavu_copy_fanin(ena_iterm, mux->get_input_term(CDB_MUX_SELECT));
  drive_from(data, mux->get_output_term(0));
  tie_vcc(ena_iterm);
  return true;
}

int kavu_strip_single_sload_sclr(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(dff && kavu_is_a_dff (dff));
  int count = kavu_strip_dff_sload(dff, netlist) ? 1 : 0;
  if (!kavu_ff_has_sclr_over_ena_priority(dff) && kavu_strip_dff_sclr(dff, netlist)) ++count;
  return count;
}

int kavu_strip_dff_sload_sclr(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int total = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (gate && gate->get_sgate_type() == CDB_SGATE_DFF_ENUM) total += kavu_strip_single_sload_sclr(gate, netlist);
  }
  if (total >= 1) kavu_debug("  Pulled %d SLOADs and SCLRs off DFF sgates.", total);
  return total;
}

// ---- clear-over-enable priority ----

bool kavu_ff_has_sclr_over_ena_priority(const CDB_SGATE_NODE* ff) {
  KAVU_CHECK(ff && kavu_is_a_dff(ff, true));
  if (ff->is_wysiwyg()) {
    return RTL_FAMILY_INFO::ff_has_sclr_over_ena_priority(ff->cast_to_wysiwyg()->get_wysiwyg_type());
  }
  return ff->get_reg_flags()->sclr_over_ena_priority();
}

void kavu_fix_up_sclr_over_ena_priority_on_ff(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* ff,
                                              RTL_FAMILY_INFO* family) {
  KAVU_CHECK(family);
  if (!family->sclr_over_ena_priority()) return;
  KAVU_CHECK(ff && kavu_is_a_wys_ff(ff));
  CDB_SGATE_ITERM* sclr = kavu_get_dff_sclear(ff);
  CDB_SGATE_ITERM* ena = kavu_get_dff_enable(ff);
  if (!cdb_is_connected(sclr) || sclr->is_gnd()) return;
  if (!cdb_is_connected(ena) || ena->is_vcc()) return;
  CDB_SGATE_OTERM* and_oterm = kavu_find_or_create_and_of_iterms(netlist, ff, ena, sclr);
  drive_from(sclr, and_oterm);
  kavu_debug("Fixed sclr-ena priority on %s %s %s", ff->get_string_type_name(),
             ff->get_debug_name().c_str(), ff->get_string_hpath().c_str());
}

namespace {
constinit KAVU_KEY_ONCE g_reuse_existing_and{"kavu_try_to_reuse_and_for_sec_sig_fix", true};
}  // namespace

CDB_SGATE_OTERM* kavu_find_or_create_and_of_iterms(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* gate,
                                                   CDB_SGATE_ITERM* iterm_a, CDB_SGATE_ITERM* iterm_b) {
  const bool REUSE_EXISTING_AND = g_reuse_existing_and();
  KAVU_CHECK(netlist);
  KAVU_CHECK(cdb_is_connected(iterm_a) && cdb_is_connected(iterm_b));
  if (REUSE_EXISTING_AND) {
    // Scan the source with the shorter fan-out list. A constant input has no
    // source to scan; with both constant the search is skipped.
    CDB_SGATE_OTERM* src_a = iterm_a->get_source();
    CDB_SGATE_OTERM* src_b = iterm_b->get_source();
    CDB_SGATE_OTERM* scan = src_a;
    if (!scan || (src_b && src_b->get_number_of_fanout() < src_a->get_number_of_fanout())) scan = src_b;
    if (scan) {
      if (CDB_SGATE_OTERM* found = find_and_of(scan, iterm_a, iterm_b)) return found;
    }
  }
  CDB_SGATE_NODE* from_sgate = gate;
  KAVU_CHECK(from_sgate);
  auto* and_gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  kavu_create_synthesized_name(and_gate, from_sgate->get_instance_name(), "a");
  netlist->add_node(and_gate, true);
  kavu_insert_comb_fanin(and_gate, iterm_a->get_source(), iterm_a->is_inverted());
  kavu_insert_comb_fanin(and_gate, iterm_b->get_source(), iterm_b->is_inverted());
  CDB_SGATE_OTERM* and_oterm = and_gate->get_output_term(0);
  KAVU_CHECK(and_oterm);
  return and_oterm;
}
