// kavu_wysiwyg_unmapper.cpp — device-level cells back to generic gates. For
// now only the 2:1 mux conversion: a sum of two products,
//   out = (select & data1) | (!select & data0),
// wired by the mux model of kavu_helper_mux_int.h, which carries every
// input's inversion (or constant tie) over as a fan-in flag, so no inverter
// is ever made. Cost: three gates, six fan-ins, and the mux's fan-outs
// moved once.
#include "kavu_wysiwyg_unmapper.h"

#include "kavu_check.h"
#include "kavu_helper_mux_int.h"

namespace {

// A comb gate carrying the mux's name, appended to the list.
CDB_SGATE_COMB* new_mux_gate(CDB_SGATE_MUX* mux, CDB_COMB_TYPE type, std::list<CDB_SGATE_NODE*>* new_nodes) {
  CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(mux->get_instance_name(), type, true);
  new_nodes->push_back(gate);
  gate->get_output_term(0)->set_synthesized_name(static_cast<CDB_SGATE_NODE*>(mux));
  return gate;
}

}  // namespace

CDB_SGATE_OTERM* kavu_convert_mux_to_logic(CDB_SGATE_MUX* node, std::list<CDB_SGATE_NODE*>* new_nodes) {
  KAVU_CHECK(node != 0);
  KAVU_CHECK(new_nodes != 0);
  const MUX_INPUTS in = kavu_mux_inputs(node);
  const CDB_SGATE_ITERM* select = in.m_sel;
  const CDB_SGATE_ITERM* data0 = in.m_d0;
  const CDB_SGATE_ITERM* data1 = in.m_d1;
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
  kavu_mux_wire_sum_of_products(in, data1_node, data0_node, sop_node);
  return sop_oterm;
}
