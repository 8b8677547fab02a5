// kavu_utility_cleanup.cpp — RTL clean-up passes (model in
// kavu_utility_cleanup.h).
//
// Departures from the plain reading, for soundness:
// - Dead-cone isolation ties every input it disconnects to VCC (a gate is
//   never left with unconnected inputs for the next pass to stumble over)
//   and stops at gates the sweep keeps, at preserved registers and at
//   registers that may not be pruned, whose inputs stay connected.
// - Register observers skip a device flip-flop that has no register output.
// - Fan-outs moved off an inverted output take the inversion with them.
#include "kavu_utility_cleanup.h"

#include <deque>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_utility_component.h"
#include "kavu_utility_rtl.h"
#include "kavu_utility_smek.h"
#include "kavu_wiring_helper.h"

namespace {

// Connected and not GND.
bool control_active(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_gnd(); }

CDB_SGATE_NODE* driver_of(const CDB_SGATE_ITERM* t) {
  return (t && t->get_source()) ? t->get_source()->get_my_node() : nullptr;
}

// A gate whose inputs isolation must leave alone.
bool isolation_keeps(const CDB_SGATE_NODE* g) {
  if (g->is_sweep_keeper()) return true;
  const CDB_REG_FLAGS* flags = g->get_reg_flags();
  return flags && (flags->preserve() || (flags->prune_allowed_is_set() && !flags->prune_allowed()));
}

// The two-input AND behind one OR input, or null.
CDB_SGATE_NODE* and_behind(CDB_SGATE_ITERM* t) {
  if (!t || !cdb_is_connected(t) || t->is_inverted()) return nullptr;
  CDB_SGATE_NODE* g = driver_of(t);
  return (g && kavu_is_a_two_and(g)) ? g : nullptr;
}

void new_adder_ports(CDB_SGATE_OPERATOR* op) {
  op->add_port("cin", CDB_OPER_PORT_CIN, CDB_OPER_PORT_DIR_IN);
  op->add_port("dataa", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  op->add_port("datab", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
  op->add_port("result", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
}

// A new input terminal at bit i of the operator's port.
CDB_SGATE_ITERM* new_port_iterm(CDB_SGATE_OPERATOR* op, CDB_SGATE_OPER_PORT_ENTRY* port, unsigned i) {
  CDB_SGATE_ITERM* t = op->create_input_term(nullptr);
  port->set_iterm(i, t);
  return t;
}

}  // namespace

bool rtl_flip_register_to_default_power_up(CDB_SGATE_NODE* dff) {
  KAVU_CHECK(kavu_is_a_dff(dff));
  KAVU_CHECK(! dff->cast_to_dff()->has_power_up_setting());
  CDB_SGATE_ITERM* clr = dff->get_input_term(CDB_DFF_ACLR);
  CDB_SGATE_ITERM* pre = dff->get_input_term(CDB_DFF_PRESET);
  CDB_SGATE_ITERM* aload = dff->get_input_term(CDB_DFF_ALOAD);
  CDB_SGATE_ITERM* adata = dff->get_input_term(CDB_DFF_ADATA);
  const bool loads_one = (control_active(pre) && !control_active(aload)) ||
                         (control_active(aload) && cdb_is_connected(adata) && adata->is_vcc());
  if (control_active(clr) || !loads_one) return false;
  kavu_debug_at_level(3, "Flipped register %s to default power up = 1", dff->get_string_hpath().c_str());
  CDB_SGATE_DFF* reg = dff->cast_to_dff();
  if (!reg->powers_up_high()) reg->set_changed(true);
  reg->set_power_up_high(true);
  return true;
}

void rtl_correct_default_pwrup_flags(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int registers = 0, flipped = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !kavu_is_a_dff(g)) continue;
    ++registers;
    if (!g->cast_to_dff()->has_power_up_setting() && rtl_flip_register_to_default_power_up(g)) ++flipped;
  }
  if (flipped >= 1) kavu_debug("DFF sgate = %d  corrected = %d", registers, flipped);
}

unsigned rtl_gimmie_bit(unsigned value, unsigned index) {
  KAVU_CHECK(index < static_cast<unsigned int>(RTL_BITS_IN_UINT));
  return (value >> index) & 1u;
}

void rtl_gnd_port(CDB_SGATE_OPER_PORT_ENTRY* iport) {
  KAVU_CHECK(iport);
  KAVU_CHECK(iport->get_dir() == CDB_OPER_PORT_DIR_IN);
  for (unsigned i = 0; i < iport->get_width(); ++i) {
    CDB_SGATE_ITERM* iterm = iport->get_iterm(i);
    KAVU_CHECK(cdb_is_connected(iterm));
    iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    iterm->set_gnd();
  }
}

CDB_SGATE_ITERM* rtl_insert_comb_fanin(CDB_SGATE_COMB* comb, CDB_SGATE_OTERM* src, bool invert) {
  KAVU_CHECK(comb);
  CDB_SGATE_ITERM* iterm = nullptr;
  if (src) {
    iterm = comb->insert_unordered_fanin(src);
  } else {
    iterm = comb->insert_unordered_fanin(comb->get_single_oterm());
    iterm->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    iterm->set_vcc();
  }
  KAVU_CHECK(!iterm->is_inverted());
  if (invert) iterm->invert();
  return iterm;
}

bool rtl_oper_might_be_subtractor(CDB_SGATE_OPERATOR* op) {
  KAVU_CHECK(op);
  if (op->get_type() != CDB_OPER_ADDITION) return false;
  CDB_SGATE_ITERM* a0 = op->get_iterm(CDB_OPER_PORT_A, 0);
  CDB_SGATE_ITERM* b0 = op->get_iterm(CDB_OPER_PORT_B, 0);
  if (!a0 || !b0 || !cdb_is_connected(a0) || !cdb_is_connected(b0) || !a0->is_vcc() || !b0->is_vcc()) return false;
  CDB_SGATE_OTERM* s0 = op->get_oterm(CDB_OPER_PORT_O, 0);
  return !s0 || !s0->has_fanout();
}

bool rtl_match_majority_or(CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM** a, CDB_SGATE_ITERM** b,
                           CDB_SGATE_ITERM** c) {
  KAVU_CHECK(oterm && a && b && c);
  CDB_SGATE_NODE* g = oterm->get_my_node();
  if (!kavu_is_a_comb(g) || g->cast_to_comb()->get_comb_type() != CDB_COMB_OR ||
      g->get_number_of_input_terms() != 3)
    return false;
  CDB_SGATE_NODE* ands[3];
  for (unsigned i = 0; i < 3; ++i)
    if (!(ands[i] = and_behind(g->get_input_term(i)))) return false;
  CDB_SGATE_ITERM *x, *y;
  kavu_grab_both_iterms(ands[0], &x, &y);
  *a = x;
  *b = y;
  kavu_grab_both_iterms(ands[1], &x, &y);
  CDB_SGATE_ITERM* other = nullptr;  // the member of {a, b} the second AND does not share
  if (kavu_same_source(x, *a)) { *c = y; other = *b; }
  else if (kavu_same_source(y, *a)) { *c = x; other = *b; }
  else if (kavu_same_source(x, *b)) { *c = y; other = *a; }
  else if (kavu_same_source(y, *b)) { *c = x; other = *a; }
  else return false;
  kavu_grab_both_iterms(ands[2], &x, &y);
  return (kavu_same_source(x, *c) && kavu_same_source(y, other)) ||
         (kavu_same_source(y, *c) && kavu_same_source(x, other));
}

bool rtl_recognize_majority_or(CDB_SGATE_OTERM* oterm, CDB_SGATE_NETLIST* netlist, bool verbose) {
  CDB_SGATE_ITERM *a = nullptr, *b = nullptr, *c = nullptr;
  if (!rtl_match_majority_or(oterm, &a, &b, &c)) return false;
  if (verbose) kavu_debug("Recognized UID %s as majority OR", oterm->get_my_node()->get_debug_name().c_str());
  for (CDB_SGATE_ITERM* t : {a, b, c}) rtl_insert_buffer_helper(t, nullptr, netlist, CDB_BUFFER_SOFT);
  return true;
}

bool rtl_protect_carrys(CDB_SGATE_NETLIST* netlist, bool verbose) {
  KAVU_CHECK(netlist);
  int found = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !kavu_is_a_single_carry_buffer(g)) continue;
    CDB_SGATE_ITERM* in = g->get_single_iterm();
    if (in && in->get_source() && rtl_recognize_majority_or(in->get_source(), netlist, verbose)) ++found;
  }
  kavu_debug_at_level(3, "Found and protected carry logic %d times", found);
  return found > 0;
}

bool rtl_iterm_is_fed_by_carry(CDB_SGATE_ITERM* iterm) {
  CDB_SGATE_NODE* g = driver_of(iterm);
  if (!g) return false;
  if (kavu_is_a_single_carry_buffer(g)) return true;
  return kavu_is_a_carry_sum_buffer(g) && g->get_output_term(CARRY_OUT) == iterm->get_source();
}

void rtl_isolate_orphaned_gates_non_recurse(CDB_SGATE_OTERM* orphan_oterm) {
  KAVU_CHECK(orphan_oterm != NULL);
  std::deque<CDB_SGATE_OTERM*> queue{orphan_oterm};
  while (!queue.empty()) {
    CDB_SGATE_OTERM* t = queue.front();
    queue.pop_front();
    CDB_SGATE_NODE* g = t->get_my_node();
    if (g->has_fanout() || isolation_keeps(g)) continue;
    for (CDB_SGATE_ITERM* in : g->get_input_terms()) {
      if (!in || !cdb_is_connected(in) || !in->get_source()) continue;
      CDB_SGATE_OTERM* src = in->get_source();
      in->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      in->set_vcc();
      queue.push_back(src);
    }
  }
}

void rtl_push_invert_to_inputs(CDB_SGATE_ITERM* iterm) {
  if (!iterm || !cdb_is_connected(iterm) || !iterm->is_inverted()) return;
  CDB_SGATE_OTERM* src = iterm->get_source();
  CDB_SGATE_NODE* g = driver_of(iterm);
  if (!g) return;
  auto flip_output = [src]() {
    src->invert();
    src->move_invert_to_fanouts();
  };
  if (CDB_SGATE_COMB* comb = g->cast_to_comb()) {
    if (comb->get_comb_type() == CDB_COMB_AND || comb->get_comb_type() == CDB_COMB_OR) comb->demorgan();
  } else if (kavu_is_a_mux(g)) {
    g->get_input_term(CDB_MUX_DATA0)->invert();
    g->get_input_term(CDB_MUX_DATA1)->invert();
    flip_output();
  } else if (kavu_is_a_nto1_mux_op(g)) {
    CDB_SGATE_OPER_PORT_ENTRY* data = g->cast_to_operator()->get_port(CDB_OPER_PORT_B);
    for (unsigned i = 0; data && i < data->get_width(); ++i)
      if (data->get_iterm(i)) data->get_iterm(i)->invert();
    flip_output();
  } else if (kavu_is_a_add_op(g)) {
    CDB_SGATE_OPERATOR* op = g->cast_to_operator();
    const unsigned width = op->get_width(CDB_OPER_PORT_B);
    if (width == 0 || width != op->get_width(CDB_OPER_PORT_O) || op->get_oterm(CDB_OPER_PORT_O, width - 1) != src) return;
    op->get_iterm(CDB_OPER_PORT_B, width - 1)->invert();
    flip_output();
  }
}

bool rtl_has_onehot_buddies(CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm);
  CDB_SGATE_NODE* g = oterm->get_my_node();
  if (kavu_is_a_decode_op(g)) return true;
  if (!kavu_is_a_protect_buffer(g)) return false;
  CDB_SGATE_ITERM* in = g->get_single_iterm();
  return in && cdb_is_connected(in) && !in->is_inverted() && driver_of(in) && kavu_is_a_state_buffer(driver_of(in));
}

bool rtl_get_onehot_buddies(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>* buddies, bool include_self) {
  KAVU_CHECK(oterm && buddies);
  KAVU_CHECK(buddies->size() == 0);
  KAVU_CHECK(!oterm->is_inverted());
  CDB_SGATE_NODE* g = oterm->get_my_node();
  if (kavu_is_a_decode_op(g)) {
    for (CDB_SGATE_OTERM* o : g->get_output_terms())
      if (o && (include_self || o != oterm)) buddies->push_back(o);
    return !buddies->empty();
  }
  if (!rtl_has_onehot_buddies(oterm)) return false;
  CDB_STATE_MACHINE* machine = driver_of(g->get_single_iterm())->cast_to_state()->get_state_machine();
  KAVU_CHECK(machine);
  const std::vector<CDB_SGATE_STATE*>& states = machine->get_states();
  CDB_SGATE_NODE* last = nullptr;
  for (CDB_SGATE_STATE* s : states) {
    last = s;
    CDB_SGATE_OTERM* so = s->get_single_oterm();
    if (!so || !so->has_fanout_exactly(1)) continue;
    CDB_SGATE_ITERM* fo = so->get_first_fanout();
    last = fo->get_my_node();
    if (fo->is_inverted() || !kavu_is_a_protect_buffer(fo->get_my_node())) continue;
    CDB_SGATE_OTERM* po = fo->get_my_node()->get_single_oterm();
    if (include_self || po != oterm) buddies->push_back(po);
  }
  if (buddies->empty()) return false;
  const size_t covered = buddies->size() + (include_self ? 0 : 1);
  if (covered != states.size()) {
    kavu_debug("WARNING: Skipping RTL odc on state_machine %s, becuase not all (%d/%d) states where included",
               last ? last->get_string_hpath().c_str() : "", static_cast<int>(buddies->size()),
               static_cast<int>(states.size()));
    buddies->clear();
    return false;
  }
  return true;
}

int rtl_sweep_wires(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int removed = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !kavu_is_a_comb(g) || g->get_number_of_input_terms() != 1 || !cdb_is_connected(g->get_input_term(0)))
      continue;
    if (g->cast_to_comb()->get_comb_type() == CDB_COMB_NOT) g->get_single_oterm()->invert();
    kavu_excise_buffer(g);
    netlist->delete_node(it);
    delete g;
    ++removed;
  }
  return removed;
}

CDB_SGATE_NODE* rtl_replace_addsub_with_opadd(CDB_SGATE_NODE* addsub, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  KAVU_CHECK(kavu_is_a_addsub_op(addsub));
  CDB_SGATE_OPERATOR* old_op = addsub->cast_to_operator();
  CDB_SGATE_OPER_PORT_ENTRY* port_a = old_op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* port_b = old_op->get_port(CDB_OPER_PORT_B);
  CDB_SGATE_OPER_PORT_ENTRY* port_o = old_op->get_port(CDB_OPER_PORT_O);
  CDB_SGATE_OPER_PORT_ENTRY* port_ans = old_op->get_port(CDB_OPER_PORT_ADD_NOT_SUB);
  KAVU_CHECK(port_a && port_b && port_o && port_ans);
  const unsigned width = port_a->get_width();
  KAVU_CHECK(width == port_b->get_width());
  KAVU_CHECK(width == port_o->get_width());
  KAVU_CHECK(port_ans->get_width() == 1);
  CDB_SGATE_ITERM* addnsub = port_ans->get_iterm(0);
  KAVU_CHECK(cdb_is_connected (addnsub));
  CDB_SGATE_OPERATOR* adder = new CDB_SGATE_OPERATOR(old_op->get_string_name(), CDB_OPER_ADDITION);
  new_adder_ports(adder);
  rtl_synth_op_name(adder, old_op);
  netlist->add_node(adder, true);
  CDB_SGATE_OPER_PORT_ENTRY* new_port_a = adder->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* new_port_b = adder->get_port(CDB_OPER_PORT_B);
  CDB_SGATE_OPER_PORT_ENTRY* new_port_o = adder->get_port(CDB_OPER_PORT_O);
  KAVU_CHECK(new_port_a && new_port_b && new_port_o);
  // Subtracting adds the complement of B and a carry-in of 1.
  CDB_SGATE_ITERM* cin = new_port_iterm(adder, adder->get_port(CDB_OPER_PORT_CIN), 0);
  kavu_copy_fanin(addnsub, cin);
  cin->invert();
  for (unsigned i = 0; i < width; ++i) {
    CDB_SGATE_ITERM* iterm_a = port_a->get_iterm(i);
    CDB_SGATE_ITERM* iterm_b = port_b->get_iterm(i);
    CDB_SGATE_OTERM* oterm = port_o->get_oterm(i);
    KAVU_CHECK(cdb_is_connected (iterm_a));
    KAVU_CHECK(cdb_is_connected (iterm_b));
    KAVU_CHECK(oterm);
    kavu_copy_fanin(iterm_a, new_port_iterm(adder, new_port_a, i));
    CDB_SGATE_COMB* x = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR, true);
    kavu_create_synthesized_name(x, old_op, "xor");
    netlist->add_node(x, true);
    rtl_insert_comb_fanin(x, iterm_b->get_source(), iterm_b->is_inverted());
    rtl_insert_comb_fanin(x, addnsub->get_source(), !addnsub->is_inverted());
    x->get_single_oterm()->insert_fanout(new_port_iterm(adder, new_port_b, i));
    CDB_SGATE_OTERM* sum = adder->create_output_term(nullptr);
    new_port_o->set_oterm(i, sum);
    sum->adopt_fanouts(oterm, oterm->is_inverted());
  }
  // With B's lowest bit 1, A + B and A + not B + 1 both equal A + B' where
  // B' is B, respectively not B with bit 0 forced to 1: carry-in 0 either way.
  if (width > 0 && port_b->get_iterm(0)->is_vcc()) {
    CDB_SGATE_ITERM* b0 = new_port_b->get_iterm(0);
    b0->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    b0->set_vcc();
    cin->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    cin->set_gnd();
  }
  return adder;
}

bool rtl_is_constant_data_mux(CDB_SGATE_NODE* sgate) {
  if (!sgate || !kavu_is_a_nto1_mux_op(sgate)) return false;
  CDB_SGATE_OPER_PORT_ENTRY* data = sgate->cast_to_operator()->get_port(CDB_OPER_PORT_B);
  for (unsigned i = 0; data && i < data->get_width(); ++i) {
    CDB_SGATE_ITERM* t = data->get_iterm(i);
    CDB_SGATE_NODE* d = driver_of(t);
    if (!t || !cdb_is_connected(t) || !d || !kavu_is_a_dont_care_buffer(d)) return false;
  }
  return true;
}

bool opt_is_io(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  if (kavu_is_a_pin(sgate) || kavu_is_a_tribus(sgate)) return true;
  CDB_SGATE_WYSIWYG* wys = sgate->is_wysiwyg() ? sgate->cast_to_wysiwyg() : nullptr;
  if (!wys) return false;
  return wys->is_ddio_in() || wys->is_ddio_oe() || wys->is_ddio_out() || wys->is_io_ibuf() || wys->is_io_obuf() ||
         wys->is_io_pad() || wys->is_output() || wys->is_bidir();
}

bool rtl_turn_21mux_to_2and(CDB_SGATE_NODE* muxie, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(kavu_is_a_mux (muxie));
  KAVU_CHECK(netlist);
  if (muxie->get_input_term(CDB_MUX_SELECT)->is_inverted()) rtl_flip_mux_sel_polarity(muxie);
  CDB_SGATE_ITERM* iterm_a = muxie->get_input_term(CDB_MUX_DATA0);
  CDB_SGATE_ITERM* iterm_b = muxie->get_input_term(CDB_MUX_DATA1);
  if (!iterm_a->is_gnd() && !iterm_b->is_gnd()) return false;
  if (!iterm_a->is_gnd()) {
    rtl_flip_mux_sel_polarity(muxie);
    iterm_a = muxie->get_input_term(CDB_MUX_DATA0);
    iterm_b = muxie->get_input_term(CDB_MUX_DATA1);
  }
  KAVU_CHECK(iterm_a->is_gnd());
  CDB_SGATE_ITERM* sel = muxie->get_input_term(CDB_MUX_SELECT);
  CDB_SGATE_COMB* and_gate = new CDB_SGATE_COMB(muxie->get_instance_name(), CDB_COMB_AND, true);
  netlist->add_node(and_gate, true);
  rtl_insert_comb_fanin(and_gate, sel->get_source(), sel->is_inverted());
  rtl_insert_comb_fanin(and_gate, iterm_b->get_source(), iterm_b->is_inverted());
  CDB_SGATE_OTERM* out = muxie->get_single_oterm();
  and_gate->get_single_oterm()->adopt_fanouts(out, out->is_inverted());
  for (CDB_SGATE_ITERM* d : {iterm_a, iterm_b}) {
    d->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    d->set_vcc();
  }
  return true;
}

bool rtl_fed_by_common_pair(CDB_SGATE_NODE* comb_a, CDB_SGATE_NODE* comb_b, CDB_SGATE_ITERM** iterm_x,
                            CDB_SGATE_ITERM** iterm_y, bool by_oterm_only) {
  KAVU_CHECK(comb_a && comb_b);
  KAVU_CHECK(iterm_x && iterm_y);
  CDB_SGATE_ITERM *a0, *a1, *b0, *b1;
  kavu_grab_both_iterms(comb_a, &a0, &a1);
  kavu_grab_both_iterms(comb_b, &b0, &b1);
  *iterm_x = nullptr;
  *iterm_y = nullptr;
  bool match;
  if (by_oterm_only)
    match = (a0->get_source() == b0->get_source() && a1->get_source() == b1->get_source()) ||
            (a0->get_source() == b1->get_source() && a1->get_source() == b0->get_source());
  else
    match = (kavu_same_source(a0, b0) && kavu_same_source(a1, b1)) ||
            (kavu_same_source(a0, b1) && kavu_same_source(a1, b0));
  if (!match) return false;
  *iterm_x = a0;
  *iterm_y = a1;
  return true;
}

void rtl_add_register_observers(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* prot_oterms) {
  KAVU_CHECK(netlist);
  KAVU_CHECK(prot_oterms);
  KAVU_CHECK(prot_oterms->size() == 0);
  std::vector<CDB_SGATE_OTERM*> outputs;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    if (kavu_is_a_dff(g)) outputs.push_back(g->get_single_oterm());
    else if (kavu_is_a_wys_ff(g)) {
      // A device flip-flop without a register output has nothing to observe.
      if (CDB_SGATE_OTERM* q = g->cast_to_wysiwyg()->get_oterm_by_type(DB_PORT_REGOUT)) outputs.push_back(q);
    }
  }
  for (CDB_SGATE_OTERM* q : outputs) {
    CDB_SGATE_BUFFER* buffer = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_PROTECT, true);
    kavu_create_synthesized_name(buffer, q->get_my_node(), "buf");
    CDB_SGATE_ITERM* in = buffer->create_input_term(nullptr);
    buffer->set_input_term(in, 0);
    netlist->add_node(buffer, true);
    q->insert_fanout(in);
    prot_oterms->push_back(buffer->get_single_oterm());
  }
}

void rtl_rm_register_observers(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* prot_oterms) {
  KAVU_CHECK(netlist && prot_oterms);
  for (CDB_SGATE_OTERM* oterm : *prot_oterms) {
    CDB_SGATE_NODE* sgate = oterm->get_my_node();
    KAVU_CHECK(kavu_is_a_protect_buffer (sgate));
    KAVU_CHECK(!oterm->has_fanout());
    CDB_SGATE_BUFFER* buffer = sgate->cast_to_buffer();
    if (buffer->get_buffer_type() == CDB_BUFFER_SOFT) continue;
    buffer->set_buffer_type(CDB_BUFFER_SOFT);
    buffer->set_flag_byte(CDB_STATUS_BYTE, static_cast<uint8_t>(buffer->get_flag_byte(CDB_STATUS_BYTE) | 0x02 | 0x04));
  }
  netlist->prepare_for_use();
  netlist->sweep(false);
}
