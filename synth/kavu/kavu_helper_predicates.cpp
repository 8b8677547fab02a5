// kavu_helper_predicates.cpp — the node-type predicates that walk one gate.
//
// The one-comparison predicates are inline in kavu_helper_predicates.h;
// here are those that read an atom's ports and modes, a register's data
// port, or one gate's inputs and fan-outs (the cascade family, wire LUTs),
// and the instance-name queries. None changes the netlist or keeps state.
// "Real source": an input terminal that is connected and not tied to a
// constant.
// Cost: O(inputs) or O(fan-outs) of one gate; the black-box query walks the
// instance name's parents, one option lookup each.
#include "kavu_helper_predicates.h"

#include "kavu_check.h"
#include "kavu_helper.h"

namespace {

// Logic-cell combinational atoms: 61 in the Brae families, 93 in the Quellin
// and Harrowdale families.
constexpr CDB_WYSIWYG_TYPE LCELL_COMB_ATOM_TYPE = 61;
constexpr CDB_WYSIWYG_TYPE LCELL_COMB_ATOM_TYPE_ALT = 93;

const CDB_SGATE_WYSIWYG* as_wysiwyg(const CDB_SGATE_NODE* node) {
  return node->is_wysiwyg() ? static_cast<const CDB_SGATE_WYSIWYG*>(node) : nullptr;
}

bool is_real_source(const CDB_SGATE_ITERM* iterm) {
  return iterm && cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd();
}

// Some real-source input of the gate is driven by a cascade buffer.
bool has_cascade_buffer_fanin(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_NODE::ITERM_VECTOR& iterms = node->get_input_terms();
  for (unsigned i = 0; i < iterms.size(); ++i) {
    const CDB_SGATE_ITERM* iterm = iterms[i];
    if (!is_real_source(iterm) || !iterm->get_source()) continue;
    if (kavu_is_a_cascade_buffer(iterm->get_source()->get_my_node())) return true;
  }
  return false;
}

bool is_comb_with_two_inputs(const CDB_SGATE_NODE* sgate, CDB_COMB_TYPE kind) {
  return kavu_predicates_detail::is_comb_of(sgate, kind) && sgate->get_number_of_fanin() == 2;
}

}  // namespace

bool kavu_is_a_dff(const CDB_SGATE_NODE* node, bool also_wys_ff) {
  return kavu_is_a_dff(node) || (also_wys_ff && kavu_is_a_wys_ff(node));
}

bool kavu_is_a_lcell_buffer(const CDB_ATOM_NODE*) { return false; }

bool kavu_is_a_two_and(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  return is_comb_with_two_inputs(sgate, CDB_COMB_AND);
}

bool kavu_is_a_two_or(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  return is_comb_with_two_inputs(sgate, CDB_COMB_OR);
}

bool kavu_is_a_two_xor(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  return is_comb_with_two_inputs(sgate, CDB_COMB_XOR);
}

bool kavu_is_a_wys_ff(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(node);
  return wys && wys->is_ff();
}

bool kavu_is_wys_logic_module(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(node);
  return wys && wys->is_logic_module();
}

bool kavu_is_wys_comb(const CDB_SGATE_NODE* node, bool also_93) {
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(node);
  if (!wys) return false;
  const CDB_WYSIWYG_TYPE type = wys->get_wysiwyg_type();
  return type == LCELL_COMB_ATOM_TYPE || (also_93 && type == LCELL_COMB_ATOM_TYPE_ALT);
}

bool kavu_is_wys_comb_normal(const CDB_SGATE_NODE* sgate, bool no_mode_120, bool no_driven_inputs,
                             bool also_93) {
  KAVU_CHECK(sgate);
  if (!kavu_is_wys_comb(sgate, also_93)) return false;
  const CDB_SGATE_WYSIWYG* wys = static_cast<const CDB_SGATE_WYSIWYG*>(sgate);
  // Carry, sum and share outputs in use make the cell part of an arithmetic
  // or shared chain, not a plain function.
  for (DB_OUTPUT_PORT_TYPE port : {DB_PORT_COUT, DB_PORT_SUMOUT, DB_PORT_SHAREOUT}) {
    const CDB_SGATE_OTERM* oterm = wys->get_oterm_by_type(port, 0);
    if (oterm && oterm->has_fanout()) return false;
  }
  if (no_mode_120 && wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT)) return false;
  if (no_driven_inputs) {
    for (DB_INPUT_PORT_TYPE port : {DB_PORT_CIN, DB_PORT_SHAREIN}) {
      if (is_real_source(wys->get_iterm_by_type(port, 0))) return false;
    }
  }
  return true;
}

bool kavu_is_a_dff_din_port(const CDB_SGATE_ITERM* iterm) {
  const CDB_SGATE_NODE* node = iterm->get_my_node();
  return kavu_is_a_dff(node) && node->get_input_term(CDB_DFF_DATA) == iterm;
}

bool kavu_is_a_dff_din_port(const CDB_SGATE_ITERM* iterm, bool also_wys_ff) {
  if (kavu_is_a_dff_din_port(iterm)) return true;
  if (!also_wys_ff) return false;
  const CDB_SGATE_WYSIWYG* wys = as_wysiwyg(iterm->get_my_node());
  return wys && wys->is_ff() && wys->get_iterm_by_type(DB_PORT_DATAIN, 0) == iterm;
}

bool kavu_has_cascade_fanout(const CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(oterm);
  for (const CDB_SGATE_ITERM* fanout : oterm->fanouts()) {
    if (kavu_is_a_cascade_buffer(fanout->get_my_node())) return true;
  }
  return false;
}

bool kavu_is_a_cascade_lut(const CDB_SGATE_NODE* node) {
  return kavu_is_a_lut(node) && has_cascade_buffer_fanin(node);
}

bool kavu_is_a_cascade_and(const CDB_SGATE_NODE* node) {
  return kavu_is_a_two_and(node) && has_cascade_buffer_fanin(node);
}

bool kavu_is_a_soft_to_cascade_and(const CDB_SGATE_NODE* node) {
  if (!kavu_is_a_soft_buffer(node)) return false;
  const CDB_SGATE_OTERM* oterm = node->get_single_oterm();
  if (!oterm || !oterm->has_fanout()) return false;
  for (const CDB_SGATE_ITERM* fanout : oterm->fanouts()) {
    const CDB_SGATE_NODE* sink = fanout->get_my_node();
    if (kavu_is_a_cascade_and(sink) || kavu_is_a_cascade_lut(sink)) return true;
  }
  return false;
}

bool kavu_is_a_wire_lut(const CDB_SGATE_NODE* lut, CDB_SGATE_OTERM** source, bool inverted) {
  if (!lut || !kavu_is_a_lut(lut)) KAVU_INTERNAL_ERROR("kavu_is_a_lut(lut)");
  KAVU_CHECK(source);
  *source = nullptr;

  const CDB_SGATE_NODE::ITERM_VECTOR& iterms = lut->get_input_terms();
  const CDB_SGATE_ITERM* wire = nullptr;
  unsigned position = 0;
  unsigned connected = 0;
  for (unsigned i = 0; i < iterms.size(); ++i) {
    if (!cdb_is_connected(iterms[i])) continue;
    if (++connected > 1) return false;
    wire = iterms[i];
    position = i;
  }
  if (connected != 1 || wire->is_vcc_or_gnd() || wire->is_inverted()) return false;

  // The mask must be the identity (or its complement) of that input. A mask
  // over fewer inputs than the position ignores the input: a constant.
  const CDB_LUTMASK& mask = static_cast<const CDB_SGATE_LUT*>(lut)->get_lut_mask();
  if (position >= mask.get_num_inputs()) return false;
  CDB_LUTMASK expected = CDB_LUTMASK::imask(mask.get_num_inputs(), position);
  if (inverted) expected = ~expected;
  if (mask != expected) return false;

  *source = wire->get_source();
  return true;
}

bool kavu_is_iname_id_in_set(const std::set<unsigned int>* ids, unsigned int id) {
  KAVU_CHECK(ids);
  return ids->count(id) != 0;
}

bool kavu_is_hier_formal_verification_blackbox(HDB_INSTANCE_NAME* iname,
                                               HDB_INSTANCE_NAME** carrier) {
  KAVU_CHECK(carrier);
  if (iname == nullptr) KAVU_INTERNAL_ERROR("*iname != NULL");
  *carrier = iname;
  while (*carrier != nullptr) {
    const auto* option = HDB_DERIVED_OPTION<ACF_KIND_ENUM, 0>::get_single_option(
        *carrier, ACF_FORMAL_VERIFICATION_MODE, true);
    if (option && option->get_value() == ACF_ENUM_BLACK_BOX) return true;
    *carrier = (*carrier)->get_parent_data_member();
  }
  return false;
}
