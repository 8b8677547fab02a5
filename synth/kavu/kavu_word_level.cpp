// kavu_word_level.cpp — bus operators (see kavu_word_level.h).
// Cost: O(width) terminals per operator.
#include "kavu_word_level.h"

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"

namespace {

// Port A gets `in_width` new inputs and port O `out_width` new outputs.
CDB_SGATE_NODE* create_bus_operator(CDB_SGATE_NETLIST* netlist, CDB_OPER_TYPE kind, unsigned in_width,
                                    unsigned out_width) {
  KAVU_CHECK(netlist);
  CDB_SGATE_OPERATOR* bus_gate = new CDB_SGATE_OPERATOR(nullptr, kind);
  CDB_SGATE_OPER_PORT_ENTRY* port_a = bus_gate->add_port("A", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  CDB_SGATE_OPER_PORT_ENTRY* port_o = bus_gate->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  KAVU_CHECK(port_a->get_width() == 0);
  KAVU_CHECK(bus_gate->get_output_count() == 0);
  for (unsigned i = 0; i < in_width; ++i) port_a->set_iterm(i, bus_gate->create_input_term(nullptr));
  for (unsigned i = 0; i < out_width; ++i) port_o->set_oterm(i, bus_gate->create_output_term(nullptr));
  netlist->add_node(bus_gate, true);
  return bus_gate;
}

}  // namespace

CDB_SGATE_NODE* kavu_create_bus_in_operator(CDB_SGATE_NETLIST* netlist, unsigned int width) {
  const unsigned bus_width = width;
  KAVU_CHECK(bus_width > 0);
  return create_bus_operator(netlist, CDB_OPER_BUS_IN, bus_width, 1);
}

CDB_SGATE_NODE* kavu_create_bus_out_operator(CDB_SGATE_NETLIST* netlist, unsigned int width) {
  const unsigned bus_width = width;
  KAVU_CHECK(bus_width > 0);
  return create_bus_operator(netlist, CDB_OPER_BUS_OUT, 1, bus_width);
}
