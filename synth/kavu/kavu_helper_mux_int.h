// kavu_helper_mux_int.h — the gate-level form of a 2:1 mux, written once for
// both mux rewrites: kavu_change_mux_to_comb (kavu_helper_mux.cpp) and
// kavu_convert_mux_to_logic (kavu_wysiwyg_unmapper.cpp).
//
// Model: out = (sel AND d1) OR (NOT sel AND d0), mux inputs d0, d1, sel at
// positions 0, 1, 2. A product reads copies of the mux inputs: a new input
// connected like the mux input (the same source and inversion, or the same
// constant, through kavu_copy_fanin), the select complemented in the d0
// product, so no inverter gate is made. The callers create and name the
// gates in their own order and move the mux's readers themselves; this
// header only wires.
#pragma once

#include <list>

#include "cdb/cdb_sgate.h"
#include "kavu_wiring_helper.h"

// The three inputs of a 2:1 mux.
struct MUX_INPUTS {
  CDB_SGATE_ITERM* m_d0;
  CDB_SGATE_ITERM* m_d1;
  CDB_SGATE_ITERM* m_sel;
};

inline MUX_INPUTS kavu_mux_inputs(CDB_SGATE_NODE* mux) {
  return {mux->get_input_term(CDB_MUX_DATA0), mux->get_input_term(CDB_MUX_DATA1),
          mux->get_input_term(CDB_MUX_SELECT)};
}

// A new input of `gate` connected like `from` (which must be connected), its
// inversion toggled once more when `flip`.
inline CDB_SGATE_ITERM* kavu_mux_add_input_copy(CDB_SGATE_COMB* gate, CDB_SGATE_ITERM* from, bool flip) {
  CDB_SGATE_ITERM* t = gate->create_input_term(nullptr);
  gate->insert_unordered_fanin_term(t);
  kavu_copy_fanin(from, t);
  if (flip) t->invert();
  return t;
}

// Wires three fresh comb gates (two ANDs and an OR, without inputs) into
// the mux's function: sel_and = AND(sel, d1), nsel_and = AND(NOT sel, d0),
// or_gate = OR(sel_and, nsel_and), the OR's inputs not inverted.
inline void kavu_mux_wire_sum_of_products(const MUX_INPUTS& in, CDB_SGATE_COMB* sel_and,
                                          CDB_SGATE_COMB* nsel_and, CDB_SGATE_COMB* or_gate) {
  kavu_mux_add_input_copy(sel_and, in.m_sel, false);
  kavu_mux_add_input_copy(sel_and, in.m_d1, false);
  kavu_mux_add_input_copy(nsel_and, in.m_sel, true);
  kavu_mux_add_input_copy(nsel_and, in.m_d0, false);
  or_gate->insert_unordered_fanin(sel_and->get_output_term(0));
  or_gate->insert_unordered_fanin(nsel_and->get_output_term(0));
}

// kavu_convert_mux_to_logic (kavu_wysiwyg_unmapper.cpp) with the gates
// added to `netlist` (when not null) as they are made, so that no gate of
// the netlist ever reads one outside it. Whole or not at all: memory
// refused (std::bad_alloc, which goes on to the caller) takes out the gates
// made, and the mux keeps its readers.
CDB_SGATE_OTERM* kavu_mux_to_logic_in(CDB_SGATE_MUX* node, CDB_SGATE_NETLIST* netlist,
                                      std::list<CDB_SGATE_NODE*>* new_nodes);
