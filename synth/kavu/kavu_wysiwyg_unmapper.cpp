// kavu_wysiwyg_unmapper.cpp — device-level cells back to generic gates. For
// now only the 2:1 mux conversion: a sum of two products,
//   out = (!select & data0) | (select & data1),
// with every input's inversion (or constant tie) carried over as a fan-in
// flag, so no inverter is ever made. Cost: three gates, six fan-ins, and the
// mux's fan-outs moved once.
#include "kavu_wysiwyg_unmapper.h"

#include "kavu_check.h"

namespace {

// A comb gate carrying the mux's name, appended to the list.
CDB_SGATE_COMB* new_mux_gate(CDB_SGATE_MUX* mux, CDB_COMB_TYPE type, std::list<CDB_SGATE_NODE*>* new_nodes) {
  CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(mux->get_instance_name(), type, true);
  new_nodes->push_back(gate);
  gate->get_output_term(0)->set_synthesized_name(static_cast<CDB_SGATE_NODE*>(mux));
  return gate;
}

// A fan-in reading the input's source (or its constant) with its inversion,
// flipped when `flip`.
void add_input_literal(CDB_SGATE_COMB* gate, const CDB_SGATE_ITERM* input, bool flip) {
  gate->add_unordered_fanin_from_oterm(nullptr, input->is_inverted() != flip, input->get_source());
}

}  // namespace

CDB_SGATE_OTERM* kavu_convert_mux_to_logic(CDB_SGATE_MUX* node, std::list<CDB_SGATE_NODE*>* new_nodes) {
  KAVU_CHECK(node != 0);
  KAVU_CHECK(new_nodes != 0);
  const CDB_SGATE_ITERM* select = node->get_input_term(CDB_MUX_SELECT);
  const CDB_SGATE_ITERM* data0 = node->get_input_term(CDB_MUX_DATA0);
  const CDB_SGATE_ITERM* data1 = node->get_input_term(CDB_MUX_DATA1);
  KAVU_CHECK(::cdb_is_connected(select));
  KAVU_CHECK(::cdb_is_connected(data0));
  KAVU_CHECK(::cdb_is_connected(data1));
  CDB_SGATE_OTERM* node_oterm = node->get_output_term(0);
  KAVU_CHECK(node_oterm != 0);

  CDB_SGATE_COMB* sop_node = new_mux_gate(node, CDB_COMB_OR, new_nodes);
  CDB_SGATE_COMB* data0_node = new_mux_gate(node, CDB_COMB_AND, new_nodes);
  CDB_SGATE_COMB* data1_node = new_mux_gate(node, CDB_COMB_AND, new_nodes);
  CDB_SGATE_OTERM* sop_oterm = sop_node->get_output_term(0);
  sop_oterm->adopt_fanouts(node_oterm, node_oterm->is_inverted());
  sop_node->add_unordered_fanin_from_oterm(nullptr, false, data0_node->get_output_term(0));
  sop_node->add_unordered_fanin_from_oterm(nullptr, false, data1_node->get_output_term(0));
  add_input_literal(data0_node, select, true);
  add_input_literal(data0_node, data0, false);
  add_input_literal(data1_node, select, false);
  add_input_literal(data1_node, data1, false);
  return sop_oterm;
}
