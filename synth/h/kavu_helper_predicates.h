// kavu_helper_predicates.h — node-type predicates: what kind of gate a node is.
//
// Model: every predicate reads the gate-netlist database only and changes
// nothing. Most compare the gate type (CDB_SGATE_NODE::get_sgate_type) and at
// most one kind field (buffer, comb, pin, IO-buffer, boundary or operator
// kind); they are inline here because they sit in every inner loop of the
// library. A gate type implies its kind class, so the kind field is read
// through a static cast after the type test. Device atoms (WYSIWYG) are
// recognised by the virtual is_wysiwyg() alone, whatever gate type they
// report, and that test comes before any atom accessor.
// The predicates that walk one gate's inputs or fan-outs (cascade family,
// logic-cell and wire-LUT tests, register data ports) are in kavu_helper.cpp.
//
// Every predicate expects a valid gate unless its comment names the
// internal error that a null argument raises, and answers false for every
// kind it does not name.
// Cost: O(1), no allocation; the walking ones are linear in one gate's
// inputs or one terminal's fan-outs.
#pragma once

#include <set>

#include "cdb/cdb_sgate.h"

class CDB_ATOM_NODE;
class HDB_INSTANCE_NAME;

// ---- Gate types ----
inline bool kavu_is_a_buffer(const CDB_SGATE_NODE* node, bool also_carry_sum = false) {
  const CDB_SGATE_TYPE type = node->get_sgate_type();
  return type == CDB_SGATE_BUFFER_ENUM || (also_carry_sum && type == CDB_SGATE_CARRY_SUM_ENUM);
}
inline bool kavu_is_a_comb(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_COMB_ENUM;
}
// A plain register (gate type 2).
inline bool kavu_is_a_dff(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_DFF_ENUM;
}
// A plain register or, with also_wys_ff, a flip-flop atom.
bool kavu_is_a_dff(const CDB_SGATE_NODE* node, bool also_wys_ff);
inline bool kavu_is_a_pin(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_IO_ENUM;
}
inline bool kavu_is_a_io_buffer(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_IO_BUF_ENUM;
}
inline bool kavu_is_a_lut(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_LUT_ENUM;
}
inline bool kavu_is_a_state_buffer(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_STATE_ENUM;
}
// The 2:1 mux gate.
inline bool kavu_is_a_mux(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_MUX_ENUM;
}
inline bool kavu_is_a_carry_sum_buffer(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM;
}
inline bool kavu_is_a_tribus(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_TRI_BUS_ENUM;
}
inline bool kavu_is_a_latch(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_LATCH_ENUM;
}
inline bool kavu_is_a_component(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_COMPONENT_ENUM;
}
inline bool kavu_is_a_op(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM;
}
inline bool kavu_is_a_boundary(const CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_BOUNDARY_ENUM;
}

// ---- Pins, IO buffers and boundaries by direction or kind ----
namespace kavu_predicates_detail {
inline bool is_pin_of(const CDB_SGATE_NODE* node, CDB_IO_TYPE io) {
  return kavu_is_a_pin(node) && static_cast<const CDB_SGATE_IO*>(node)->get_io_type() == io;
}
inline bool is_io_buf_of(const CDB_SGATE_NODE* node, CDB_IO_BUF_TYPE kind) {
  return kavu_is_a_io_buffer(node) &&
         static_cast<const CDB_SGATE_IO_BUF*>(node)->get_io_buf_type() == kind;
}
inline bool is_boundary_of(const CDB_SGATE_NODE* node, CDB_BOUNDARY_TYPE direction) {
  return kavu_is_a_boundary(node) &&
         static_cast<const CDB_SGATE_BOUNDARY*>(node)->get_direction() == direction;
}
inline bool is_buffer_of(const CDB_SGATE_NODE* node, CDB_BUFFER_TYPE kind) {
  return kavu_is_a_buffer(node) && static_cast<const CDB_SGATE_BUFFER*>(node)->get_buffer_type() == kind;
}
inline bool is_comb_of(const CDB_SGATE_NODE* node, CDB_COMB_TYPE kind) {
  return kavu_is_a_comb(node) && static_cast<const CDB_SGATE_COMB*>(node)->get_comb_type() == kind;
}
inline bool is_op_of(const CDB_SGATE_NODE* node, CDB_OPER_TYPE kind) {
  return kavu_is_a_op(node) && static_cast<const CDB_SGATE_OPERATOR*>(node)->get_type() == kind;
}
}  // namespace kavu_predicates_detail

inline bool kavu_is_a_input_pin(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_pin_of(node, CDB_IO_INPUT);
}
inline bool kavu_is_a_output_pin(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_pin_of(node, CDB_IO_OUTPUT);
}
inline bool kavu_is_a_bidir_pin(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_pin_of(node, CDB_IO_BIDIR);
}
inline bool kavu_is_a_tristate_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_io_buf_of(node, CDB_IO_BUF_TRI);
}
inline bool kavu_is_a_open_drain(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_io_buf_of(node, CDB_IO_BUF_OPEN_DRAIN);
}
inline bool kavu_is_a_boundary_input(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_boundary_of(node, CDB_BOUNDARY_INPUT);
}
inline bool kavu_is_a_boundary_output(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_boundary_of(node, CDB_BOUNDARY_OUTPUT);
}

// ---- Buffers by buffer type ----
inline bool kavu_is_a_cascade_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_CASCADE);
}
inline bool kavu_is_a_single_carry_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_SINGLE_CARRY);
}
inline bool kavu_is_a_cut_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_CUT);
}
inline bool kavu_is_a_soft_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_SOFT);
}
inline bool kavu_is_a_lcell_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_LCELL);
}
// A node of the atom netlist is never a logic-cell buffer.
bool kavu_is_a_lcell_buffer(const CDB_ATOM_NODE* node);
inline bool kavu_is_a_global_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_GLOBAL);
}
inline bool kavu_is_a_row_global_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_ROW_GLOBAL);
}
inline bool kavu_is_a_protect_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_PROTECT);
}
inline bool kavu_is_a_dont_care_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_DONT_CARE);
}
inline bool kavu_is_a_direction_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_DIRECTION);
}
inline bool kavu_is_a_name_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_NAME);
}
inline bool kavu_is_a_soft_lcell_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_SOFT_LCELL);
}
inline bool kavu_is_a_observer_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_OBSERVER);
}
inline bool kavu_is_a_silly_buffer(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_buffer_of(node, CDB_BUFFER_SILLY);
}

// ---- Comb gates by comb type (any number of inputs) ----
inline bool kavu_is_a_and(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_comb_of(node, CDB_COMB_AND);
}
inline bool kavu_is_a_or(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_comb_of(node, CDB_COMB_OR);
}
inline bool kavu_is_a_xor(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_comb_of(node, CDB_COMB_XOR);
}
// The same with exactly two inputs; a null gate is an internal error.
bool kavu_is_a_two_and(const CDB_SGATE_NODE* node);
bool kavu_is_a_two_or(const CDB_SGATE_NODE* node);
bool kavu_is_a_two_xor(const CDB_SGATE_NODE* node);

// ---- Device atoms ----
bool kavu_is_a_wys_ff(const CDB_SGATE_NODE* node);
bool kavu_is_wys_logic_module(const CDB_SGATE_NODE* node);
// A logic-cell combinational atom (atom type 61; with also_93 also type 93).
bool kavu_is_wys_comb(const CDB_SGATE_NODE* node, bool also_93 = false);
// A logic-cell combinational atom used as a plain combinational function:
// none of its outputs of port types COUT, SUMOUT and SHAREOUT drives a gate;
// with no_mode_120 the extended-LUT mode is clear; with no_driven_inputs its
// carry and share inputs are not driven by a signal (ties and unconnected
// inputs are allowed). A null gate is an internal error ("sgate").
bool kavu_is_wys_comb_normal(const CDB_SGATE_NODE* node, bool no_mode_120, bool no_driven_inputs,
                             bool also_93);

// ---- Operators by operator kind ----
inline bool kavu_is_any_shift_op(const CDB_SGATE_NODE* node) {
  if (!kavu_is_a_op(node)) return false;
  const CDB_OPER_TYPE kind = static_cast<const CDB_SGATE_OPERATOR*>(node)->get_type();
  return kind >= CDB_OPER_LEFT_SHIFT && kind <= CDB_OPER_RIGHT_ROTATE;
}
inline bool kavu_is_a_add_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_ADDITION);
}
inline bool kavu_is_a_mult_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_MULTIPLY);
}
inline bool kavu_is_a_divide_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_DIVIDE);
}
inline bool kavu_is_a_mod_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_MODULO);
}
inline bool kavu_is_a_compare_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_COMPARE);
}
inline bool kavu_is_a_nto1_mux_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_NTO1_MUX);
}
inline bool kavu_is_a_select_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_SELECT);
}
inline bool kavu_is_a_decode_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_DECODE);
}
inline bool kavu_is_a_addsub_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_ADDSUB);
}
inline bool kavu_is_a_busmux_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_BUSMUX);
}
inline bool kavu_is_a_choice_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_CHOICE);
}
inline bool kavu_is_a_equal_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_EQUAL);
}
inline bool kavu_is_a_bus_in_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_BUS_IN);
}
inline bool kavu_is_a_bus_out_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_BUS_OUT);
}
inline bool kavu_is_a_reg_sec_sig_proxy_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_REG_SEC_SIG_PROXY);
}
inline bool kavu_is_a_enabled_decode_op(const CDB_SGATE_NODE* node) {
  return kavu_predicates_detail::is_op_of(node, CDB_OPER_ENABLED_DECODE);
}

// ---- Terminals ----
// The data input of a plain register (its first input terminal).
bool kavu_is_a_dff_din_port(const CDB_SGATE_ITERM* iterm);
// As above; with also_wys_ff also the DATAIN input (port type 20, index 0)
// of a flip-flop atom.
bool kavu_is_a_dff_din_port(const CDB_SGATE_ITERM* iterm, bool also_wys_ff);
// Some fan-out of the terminal belongs to a cascade buffer; a null terminal
// is an internal error ("oterm").
bool kavu_has_cascade_fanout(const CDB_SGATE_OTERM* oterm);

// ---- Cascade chains ----
// A LUT with a real source (connected, not tied) driven by a cascade buffer.
bool kavu_is_a_cascade_lut(const CDB_SGATE_NODE* node);
// A two-input AND with a real source driven by a cascade buffer.
bool kavu_is_a_cascade_and(const CDB_SGATE_NODE* node);
// A soft buffer whose first output drives a cascade AND or a cascade LUT.
bool kavu_is_a_soft_to_cascade_and(const CDB_SGATE_NODE* node);

// ---- Wire LUTs ----
// True when the LUT passes exactly one connected, untied, uninverted input
// through (or its complement, with inverted); *source is then that input's
// source terminal, else null. A gate that is not a LUT ("kavu_is_a_lut(lut)")
// and a null source pointer ("source") are internal errors.
bool kavu_is_a_wire_lut(const CDB_SGATE_NODE* lut, CDB_SGATE_OTERM** source, bool inverted = false);

// ---- Instance names ----
bool kavu_is_iname_id_in_set(const std::set<unsigned int>* ids, unsigned int id);
// True when the instance name or one of its parents carries the formal
// verification black-box setting; *carrier is then that name, else null.
// A null instance name is an internal error ("*iname != NULL").
bool kavu_is_hier_formal_verification_blackbox(HDB_INSTANCE_NAME* iname,
                                               HDB_INSTANCE_NAME** carrier);
