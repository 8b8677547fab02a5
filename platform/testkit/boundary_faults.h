// Role: test kit (docs/platform.md, "Test kit").
// boundary_faults.h — the faults a helper's result can carry on the
// partition's boundary gates, under their debug numbers and names. The
// helper program makes them on request (key "helper_fault") and the
// parallel tests by hand; both check that the parent refuses such a result
// and recovers the partition. BOUNDARY_FAULTS lists them with the words the
// parent's refusal holds, so a fault added here is covered by every table
// that runs the list.
#pragma once

#include <string>
#include <vector>

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

// A fault of the list: its name (the helper's "helper_fault" value) and the
// words the parent's refusal of the result holds.
struct BOUNDARY_FAULT {
  const char* name;
  const char* refusal;
};

// "turn_output_boundary": the first output boundary made an input boundary,
// its input cut; "turn_input_boundary": the first input boundary whose edge
// the split cut made an output boundary; "swap_boundaries": the first two
// such input boundaries exchange their debug numbers; "cut_output_boundary":
// the first output boundary left undriven (its number, name and direction
// kept, its input cut).
inline const std::vector<BOUNDARY_FAULT>& boundary_faults() {
  static const std::vector<BOUNDARY_FAULT> faults = {
      {"turn_output_boundary", "boundaries 0 are missing, 0 are extra, 0 are renamed and 1 changed direction)"},
      {"turn_input_boundary", "boundaries 0 are missing, 0 are extra, 0 are renamed and 1 changed direction)"},
      {"swap_boundaries", "boundaries 0 are missing, 0 are extra and 2 are renamed)"},
      {"cut_output_boundary", "boundaries 0 are missing, 0 are extra, 0 are renamed and 1 are left undriven)"},
  };
  return faults;
}

// Makes the fault named (one of boundary_faults()) in `netlist`; false when
// the name is none of them or the netlist has no boundary of the kind.
inline bool make_boundary_fault(CDB_SGATE_NETLIST* netlist, const std::string& name) {
  std::vector<CDB_SGATE_BOUNDARY*> cut, outputs;  // in node order
  for (CDB_SGATE_NODE* n : netlist->get_node_list()) {
    CDB_SGATE_BOUNDARY* b = n ? n->cast_to_boundary() : nullptr;
    if (!b) continue;
    if (b->get_direction() == CDB_BOUNDARY_OUTPUT) outputs.push_back(b);
    else if (b->get_direction() == CDB_BOUNDARY_INPUT && !b->get_single_iterm()->get_source()) cut.push_back(b);
  }
  if (name == "swap_boundaries") {
    if (cut.size() < 2) return false;
    const unsigned first = cut[0]->get_debug_number();
    cut[0]->set_debug_number(cut[1]->get_debug_number());
    cut[1]->set_debug_number(first);
    return true;
  }
  if (name == "turn_input_boundary" || name == "turn_output_boundary") {
    const std::vector<CDB_SGATE_BOUNDARY*>& from = name == "turn_input_boundary" ? cut : outputs;
    if (from.empty()) return false;
    turn_boundary(netlist, from.front());
    return true;
  }
  if (name == "cut_output_boundary") {
    if (outputs.empty()) return false;
    outputs.front()->get_single_iterm()->remove_fanin();
    netlist->prepare_for_use();
    return true;
  }
  return false;
}

}  // namespace kavu_platform
