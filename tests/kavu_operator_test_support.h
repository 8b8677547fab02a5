// Shared builder of the tests that need a plain two-operand operator.
#pragma once

#include "testkit/platform_testkit.h"

namespace kavu_operator_test {

// An operator of the given type named `name` with input ports A and B of wa
// and wb bits, every bit driven by the first output of `src`, and an output
// port O of wo bits.
inline CDB_SGATE_OPERATOR* make_two_operand_op(CDB_SGATE_NETLIST* nl, CDB_OPER_TYPE type, CDB_SGATE_NODE* src,
                                               unsigned wa, unsigned wb, unsigned wo, const char* name = "op") {
  auto* op = new CDB_SGATE_OPERATOR(name, type);
  nl->add_node(op);
  auto* pa = op->add_port("A", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  auto* pb = op->add_port("B", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
  auto* po = op->add_port("O", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  for (unsigned i = 0; i < wa; ++i) pa->set_iterm(i, op->insert_unordered_fanin(src->get_output_term(0)));
  for (unsigned i = 0; i < wb; ++i) pb->set_iterm(i, op->insert_unordered_fanin(src->get_output_term(0)));
  for (unsigned i = 0; i < wo; ++i) po->set_oterm(i, op->create_output_term(nullptr));
  return op;
}

}  // namespace kavu_operator_test
