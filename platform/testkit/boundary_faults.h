// Role: test kit (docs/platform.md, "Test kit").
// boundary_faults.h — a partition's boundary turned to the other direction,
// the fault a helper's result can carry. The helper program makes it on
// request and the parallel tests make it by hand; both check that the
// parent refuses such a result.
#pragma once

#include "cdb/cdb_sgate.h"

namespace kavu_platform {

// Replaces boundary `old` of `netlist` (which deletes it) by a boundary of
// the other direction under the same name, debug number, partition and ids,
// driving what `old` drove. An output boundary made an input boundary has
// its input cut, as the split leaves an input boundary fed from another
// partition; an input boundary made an output boundary reads what it read.
inline void turn_boundary(CDB_SGATE_NETLIST* netlist, CDB_SGATE_BOUNDARY* old) {
  auto* turned = new CDB_SGATE_BOUNDARY(
      old->get_instance_name(), old->get_direction() == CDB_BOUNDARY_INPUT ? CDB_BOUNDARY_OUTPUT : CDB_BOUNDARY_INPUT);
  turned->set_debug_number(old->get_debug_number());
  turned->set_partition_number(old->get_partition_number());
  turned->set_boundary_id(old->get_boundary_id());
  turned->set_cut(old->is_cut());
  auto* in = new CDB_SGATE_ITERM(turned);
  in->clear_invert();
  turned->set_input_term(in, 0);
  if (!turned->get_output_term(0)) turned->set_output_term(new CDB_SGATE_OTERM(turned), 0);
  turned->get_output_term(0)->set_instance_name(old->get_output_term(0)->get_instance_name());
  CDB_SGATE_OTERM* source = old->get_single_iterm()->get_source();
  if (source && turned->get_direction() == CDB_BOUNDARY_OUTPUT) source->insert_fanout(in);
  turned->get_output_term(0)->adopt_fanouts(old->get_output_term(0), false);
  netlist->delete_node(old);
  delete old;
  netlist->add_node(turned);
  netlist->prepare_for_use();
}

}  // namespace kavu_platform
