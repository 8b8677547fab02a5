// Builds a register with a clock enable, lets the installed library move the
// enable into logic, and prints what changed. Exit status 0 when the enable
// is gone and the register kept.
#include <cstdio>

#include "cdb/cdb_sgate.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_predicates.h"

namespace {

CDB_SGATE_NODE* add_pin(CDB_SGATE_NETLIST* netlist, CDB_IO_TYPE type) {
  CDB_SGATE_IO* pin = new CDB_SGATE_IO(nullptr, type);
  netlist->add_node(pin);
  return pin;
}

void count(const CDB_SGATE_NETLIST& netlist, int* registers, int* enables) {
  *registers = *enables = 0;
  for (auto it = netlist.begin_node_list(); it != netlist.end_node_list(); ++it) {
    if (!*it || !kavu_is_a_dff(*it, true)) continue;
    ++*registers;
    const CDB_SGATE_ITERM* ena = kavu_get_dff_enable(*it);
    *enables += ena && cdb_is_connected(ena) && ena->get_source();
  }
}

}  // namespace

int main() {
  CDB_SGATE_NETLIST netlist;
  CDB_SGATE_NODE* d = add_pin(&netlist, CDB_IO_INPUT);
  CDB_SGATE_NODE* en = add_pin(&netlist, CDB_IO_INPUT);
  CDB_SGATE_NODE* clk = add_pin(&netlist, CDB_IO_INPUT);
  CDB_SGATE_DFF* reg = new CDB_SGATE_DFF(nullptr);
  reg->create_all_inputs();
  reg->get_input_term(CDB_DFF_DATA)->set_source(d->get_single_oterm());
  reg->get_input_term(CDB_DFF_CLK)->set_source(clk->get_single_oterm());
  reg->get_input_term(CDB_DFF_ENA)->set_source(en->get_single_oterm());
  for (int pos : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD, CDB_DFF_SCLR, CDB_DFF_SLOAD})
    reg->get_input_term(unsigned(pos))->set_gnd();
  reg->get_input_term(CDB_DFF_ADATA)->set_vcc();
  netlist.add_node(reg);
  add_pin(&netlist, CDB_IO_OUTPUT)->get_input_term(0)->set_source(reg->get_single_oterm());

  int registers = 0, enables = 0, gates = int(netlist.size());
  count(netlist, &registers, &enables);
  std::printf("before: %d gates, %d registers, %d with an enable\n", gates, registers, enables);
  kavu_unmap_all_enables(&netlist);
  int registers_after = 0, enables_after = 0;
  count(netlist, &registers_after, &enables_after);
  std::printf("after kavu_unmap_all_enables: %d gates, %d registers, %d with an enable\n",
              int(netlist.size()), registers_after, enables_after);
  return registers_after == registers && enables == 1 && enables_after == 0 ? 0 : 1;
}
