// kavu_helper_summary.cpp — netlist summaries and local rewrites.
//
// Entry points: the scratch resets (kavu_reset_aux_values and friends), the
// cone estimates kavu_more_likely_to_slm and kavu_estimate_signal_duty, the
// change signature kavu_netlist_changed, the rewrites
// kavu_remove_tri_fed_by_wys, kavu_eq_to_xnor_tree and kavu_convert_eq_ops,
// kavu_is_a_registered_lcell, and the LUT-input merge
// kavu_absorb_duplicate_lut_iterms with kavu_fold_lut_input_inversion.
// Model: walks go over the node list in order (skipping slots emptied during
//   the walk) and over a gate's terminals in list order. Rewrites that make
//   gates dead leave them to prepare_for_use and sweep(false) at their end.
// Invariants: a rewrite validates its operands before its first change; the
//   LUT merge keeps the LUT's function (every mask edit is matched by an
//   input edit).
// Cost: linear in the netlist for the walks; the estimates simulate one cone
//   of at most six inputs; the LUT merge is O(k^2) in the LUT's inputs.
#include "kavu_helper_summary.h"

#include <bit>
#include <cstdint>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl_cone.h"
#include "kavu_check.h"
#include "kavu_name.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"

namespace {

// The output port type of a bidirectional atom that drives its pad.
constexpr DB_OUTPUT_PORT_TYPE BIDIR_PAD_OUTPUT_PORT = 7;
// kavu_more_likely_to_slm: the cone's input count, the fan-out that makes an
// input wide, and the wide inputs needed.
constexpr size_t SLM_CONE_INPUTS = 6;
constexpr unsigned SLM_WIDE_FANOUT = 5;
constexpr int SLM_WIDE_INPUTS = 4;

// Calls f(gate) for every live gate of the netlist, in list order.
template <class F>
void for_each_gate(CDB_SGATE_NETLIST* netlist, F f) {
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* gate = *it;
    if (gate != nullptr) f(gate);
  }
}

template <class F>
void for_each_oterm(CDB_SGATE_NETLIST* netlist, F f) {
  for_each_gate(netlist, [&](CDB_SGATE_NODE* gate) {
    const CDB_SGATE_NODE::OTERM_VECTOR& oterms = gate->get_output_terms();
    for (unsigned i = 0; i < oterms.size(); ++i) {
      if (oterms[i] != nullptr) f(oterms[i]);
    }
  });
}

// The cone's function over its inputs as a LUT mask (at most
// CDB_LUTMASK_MAX_INPUTS inputs).
CDB_LUTMASK cone_lutmask(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& inputs) {
  const KAVU_01TBL tbl = kavu_cone_01tbl(oterm, inputs, nullptr);
  return tbl.make_lutmask();
}

// The two summary values gathered over the input terminals.
void input_signatures(const CDB_SGATE_NODE* gate, uint32_t* connections, uint32_t* sources) {
  const CDB_SGATE_NODE::ITERM_VECTOR& iterms = gate->get_input_terms();
  for (unsigned i = 0; i < iterms.size(); ++i) {
    const CDB_SGATE_ITERM* iterm = iterms[i];
    if (iterm == nullptr || !cdb_is_connected(iterm)) continue;
    ++*connections;
    if (iterm->is_vcc()) {
      *sources += 1;
    } else if (iterm->is_gnd()) {
      *sources += 2;
    } else if (const CDB_SGATE_OTERM* src = iterm->get_source()) {
      if (iterm->is_inverted()) *sources = ~*sources;
      *sources += src->get_port_index();
      *sources += src->get_my_node()->get_id();
    }
  }
}

uint32_t gate_signature_step(uint32_t signature, CDB_SGATE_NODE* gate) {
  signature += static_cast<uint32_t>(gate->get_sgate_type());
  if (kavu_is_a_comb(gate)) {
    signature += static_cast<uint32_t>(static_cast<int8_t>(static_cast<CDB_SGATE_COMB*>(gate)->get_comb_type()));
  } else if (gate->is_wysiwyg()) {
    signature += static_cast<uint32_t>(
        static_cast<int16_t>(static_cast<CDB_SGATE_WYSIWYG*>(gate)->get_wysiwyg_type()));
  } else if (kavu_is_a_pin(gate)) {
    signature = ~signature;
  } else if (kavu_is_a_op(gate)) {
    signature ^= static_cast<uint32_t>(static_cast<int8_t>(static_cast<CDB_SGATE_OPERATOR*>(gate)->get_type()));
  }
  return signature;
}

// Whether the buffer's data comes from an output atom, or from the port-7
// output of a bidirectional atom.
bool data_comes_from_output_atom(const CDB_SGATE_ITERM* data) {
  const CDB_SGATE_OTERM* src = data->get_source();
  if (src == nullptr || !src->get_my_node()->is_wysiwyg()) return false;
  const CDB_SGATE_WYSIWYG* atom = static_cast<const CDB_SGATE_WYSIWYG*>(src->get_my_node());
  return atom->is_output() || (atom->is_bidir() && src->get_port_type() == BIDIR_PAD_OUTPUT_PORT);
}

// Names a gate made by the equality expansion after the operator; an
// operator without an instance name leaves the gate unnamed.
void name_from(CDB_SGATE_NODE* gate, CDB_SGATE_NODE* eq, const char* ext) {
  if (eq->get_instance_name() != nullptr) kavu_create_synthesized_name(gate, eq, ext);
}

// One live LUT input: connected and driven by a source.
bool is_live_lut_input(const CDB_SGATE_ITERM* iterm) {
  return iterm != nullptr && cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd() && iterm->get_source() != nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
void kavu_reset_aux_values(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  for_each_oterm(netlist, [](CDB_SGATE_OTERM* oterm) { oterm->set_aux(0); });
}

void kavu_reset_aux2_values(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  for_each_oterm(netlist, [](CDB_SGATE_OTERM* oterm) { oterm->set_aux2(0); });
}

void kavu_reset_aux_and_aux2_values(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  for_each_oterm(netlist, [](CDB_SGATE_OTERM* oterm) {
    oterm->set_aux(0);
    oterm->set_aux2(0);
  });
}

// ---------------------------------------------------------------------------
bool kavu_more_likely_to_slm(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& inputs) {
  if (inputs.size() != SLM_CONE_INPUTS) return false;
  const CDB_LUTMASK mask = cone_lutmask(oterm, inputs);
  const int ones = std::popcount(mask.get_value());
  if (ones != 1 && ones != 32 && ones != 63) return false;
  int wide_fanout = 0;
  for (const CDB_SGATE_OTERM* input : inputs) {
    if (input->get_number_of_fanout() >= SLM_WIDE_FANOUT) ++wide_fanout;
  }
  return wide_fanout >= SLM_WIDE_INPUTS;
}

int kavu_estimate_signal_duty(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& inputs) {
  if (CDB_LUTMASK_MAX_INPUTS != 4 && CDB_LUTMASK_MAX_INPUTS != 6) KAVU_INTERNAL_ERROR("CDB_LUTMASK_MAX_INPUTS == 6");
  const CDB_LUTMASK mask = cone_lutmask(oterm, inputs);
  // The mask is exact over its 2^n bits, so the share is taken over 2^n
  // minterms: a fixed 16 or 64 would understate every cone of fewer inputs.
  const int ones = std::popcount(mask.get_value());
  const int minterms = 1 << mask.get_num_inputs();
  return ones * 100 / minterms;
}

// ---------------------------------------------------------------------------
bool kavu_netlist_changed(CDB_SGATE_NETLIST* netlist, unsigned int* p1, unsigned int* p2, unsigned int* p3,
                          unsigned int* p4, unsigned int* p5) {
  KAVU_CHECK(netlist && p1 && p2 && p3 && p4 && p5);
  uint32_t gates = 0;
  uint64_t masks = 0;
  uint32_t connections = 0;
  uint32_t sources = 0;
  for_each_gate(netlist, [&](CDB_SGATE_NODE* gate) {
    gates = gate_signature_step(gates, gate);
    if (kavu_is_a_lut(gate)) masks += static_cast<CDB_SGATE_LUT*>(gate)->get_lut_mask().get_value();
    input_signatures(gate, &connections, &sources);
  });
  const unsigned int values[5] = {netlist->size(), gates,
                                  static_cast<uint32_t>(masks >> 32) + static_cast<uint32_t>(masks), connections,
                                  sources};
  unsigned int* stored[5] = {p1, p2, p3, p4, p5};
  bool changed = false;
  for (int k = 0; k < 5; ++k) {
    if (*stored[k] != values[k]) changed = true;
    *stored[k] = values[k];
  }
  return changed;
}

// ---------------------------------------------------------------------------
void kavu_remove_tri_fed_by_wys(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int bypassed = 0;
  for_each_gate(netlist, [&](CDB_SGATE_NODE* gate) {
    if (!kavu_is_a_tristate_buffer(gate)) return;
    CDB_SGATE_ITERM* oe = gate->get_input_term(1);
    KAVU_CHECK(oe != 0);
    if (!oe->is_vcc()) return;
    CDB_SGATE_ITERM* data = gate->get_input_term(0);
    KAVU_CHECK(data != 0);
    if (!data_comes_from_output_atom(data)) return;
    CDB_SGATE_OTERM* out = gate->get_output_term(0);
    if (out != nullptr) data->get_source()->adopt_fanouts(out, data->is_inverted());
    data->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    ++bypassed;
  });
  if (bypassed == 0) return;
  // Gates an earlier pass left dead are destroyed first; the sweep then
  // removes the bypassed buffers.
  netlist->prepare_for_use();
  netlist->sweep(false);
}

CDB_SGATE_OTERM* kavu_eq_to_xnor_tree(CDB_SGATE_NODE* eq, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(eq);
  KAVU_CHECK(kavu_is_a_equal_op(eq));
  KAVU_CHECK(netlist);
  CDB_SGATE_OPERATOR* op = static_cast<CDB_SGATE_OPERATOR*>(eq);
  const unsigned width_a = op->get_width(CDB_OPER_PORT_A);
  const unsigned width_b = op->get_width(CDB_OPER_PORT_B);
  const unsigned width_o = op->get_width(CDB_OPER_PORT_O);
  KAVU_CHECK(width_a == width_b);
  KAVU_CHECK(width_o == 1);
  KAVU_CHECK(width_a > 0);
  CDB_SGATE_OTERM* eq_out = op->get_oterm(CDB_OPER_PORT_O, 0);
  KAVU_CHECK(eq_out);
  std::vector<CDB_SGATE_OTERM*> xor_outs;
  xor_outs.reserve(width_a);
  for (unsigned i = 0; i < width_a; ++i) {
    CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR, true);
    name_from(gate, eq, "xor");
    netlist->add_node(gate, true);
    for (CDB_OPER_PORT_TYPE type : {CDB_OPER_PORT_A, CDB_OPER_PORT_B}) {
      // A bit without a source (tied, unconnected or missing) becomes a VCC
      // input, inverted when its terminal is: a tied bit keeps its constant.
      const CDB_SGATE_ITERM* bit = op->get_iterm(type, i);
      kavu_insert_comb_fanin(gate, bit ? bit->get_source() : nullptr, bit && bit->is_inverted());
    }
    xor_outs.push_back(gate->get_single_oterm());
  }
  CDB_SGATE_COMB* and_gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  name_from(and_gate, eq, "and");
  netlist->add_node(and_gate, true);
  for (CDB_SGATE_OTERM* xor_out : xor_outs) kavu_insert_comb_fanin(and_gate, xor_out, true);
  CDB_SGATE_OTERM* and_out = and_gate->get_single_oterm();
  // adopt_fanouts does not look at the terminals' own inversion flags: an
  // inverted equality output is carried over onto the moved fan-outs.
  and_out->adopt_fanouts(eq_out, eq_out->is_inverted());
  return and_out;
}

void kavu_convert_eq_ops(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  // Collected first: the expansion appends gates to the list being walked.
  std::vector<CDB_SGATE_NODE*> eq_ops;
  for_each_gate(netlist, [&](CDB_SGATE_NODE* gate) {
    if (kavu_is_a_equal_op(gate)) eq_ops.push_back(gate);
  });
  for (CDB_SGATE_NODE* eq : eq_ops) kavu_eq_to_xnor_tree(eq, netlist);
  if (eq_ops.empty()) return;
  netlist->prepare_for_use();
  netlist->sweep(false);
}

bool kavu_is_a_registered_lcell(CDB_SGATE_NODE* gate) {
  KAVU_CHECK(gate);
  return gate->is_wysiwyg() && static_cast<CDB_SGATE_WYSIWYG*>(gate)->is_ff();
}

// ---------------------------------------------------------------------------
int kavu_absorb_duplicate_lut_iterms(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  KAVU_CHECK(kavu_is_a_lut (sgate));
  CDB_SGATE_LUT* lut = static_cast<CDB_SGATE_LUT*>(sgate);
  CDB_LUTMASK mask = lut->get_lut_mask();
  const unsigned n = mask.get_num_inputs();
  const unsigned count_in = lut->get_number_of_input_terms();
  int removed = 0;
  for (unsigned i = 0; i < count_in; ++i) {
    CDB_SGATE_ITERM* iterm_i = lut->get_input_term(i);
    if (!is_live_lut_input(iterm_i)) continue;
    for (unsigned j = i + 1; j < count_in; ++j) {
      CDB_SGATE_ITERM* iterm_j = lut->get_input_term(j);
      if (!is_live_lut_input(iterm_j) || iterm_j->get_source() != iterm_i->get_source()) continue;
      KAVU_CHECK(j < n);
      if (iterm_i->is_inverted()) {
        kavu_fold_lut_input_inversion(iterm_i);
        mask = lut->get_lut_mask();
      }
      if (iterm_j->is_inverted()) {
        kavu_fold_lut_input_inversion(iterm_j);
        mask = lut->get_lut_mask();
      }
      // T keeps the rows where inputs i and j agree; T with input j flipped
      // gives every other row the value of its partner row, so the result no
      // longer depends on input j.
      const CDB_LUTMASK agree = mask & ~(CDB_LUTMASK::imask(n, i) ^ CDB_LUTMASK::imask(n, j));
      CDB_LUTMASK flipped = agree;
      flipped.invert_input(j);
      mask = flipped | agree;
      iterm_j->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      iterm_j->set_port_type(DB_MAX_INPUT_PORT_TYPE);
      lut->set_lut_mask(mask);
      ++removed;
    }
  }
  lut->set_lut_mask(mask);
  return removed;
}

void kavu_fold_lut_input_inversion(CDB_SGATE_ITERM* lut_iterm) {
  KAVU_CHECK(cdb_is_connected (lut_iterm));
  CDB_SGATE_NODE* lut = lut_iterm->get_my_node();
  KAVU_CHECK(kavu_is_a_lut (lut));
  KAVU_CHECK(!kavu_is_a_cascade_lut (lut));
  bool found = false;
  unsigned position = 0;
  for (unsigned i = 0; i < lut->get_number_of_input_terms() && !found; ++i) {
    if (lut->get_input_term(i) != lut_iterm) continue;
    found = true;
    position = i;
  }
  KAVU_CHECK(found);
  CDB_SGATE_LUT* lut_gate = static_cast<CDB_SGATE_LUT*>(lut);
  CDB_LUTMASK mask = lut_gate->get_lut_mask();
  mask.invert_input(position);
  lut_gate->set_lut_mask(mask);
  lut_iterm->invert();
}
