// kavu_partition_netlists_sm.cpp — state machines across a split: routing of
// their control signals into their own partition, and their recovery by
// debug number after the merge.
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_utility_smek.h"

namespace {

// The partition of a gate: the aux value of its first output.
int partition_of(CDB_SGATE_NODE* node) {
  CDB_SGATE_OTERM* o = node->get_single_oterm();
  return o ? o->get_aux() : 0;
}

void label(CDB_SGATE_NODE* node, int partition) {
  node->get_single_oterm()->set_aux(partition);
  if (CDB_SGATE_BOUNDARY* b = node->cast_to_boundary()) b->set_partition_number(partition);
}

bool names_gate(const CDB_STATE_MACHINE* m, const CDB_SGATE_NODE* gate) {
  for (const CDB_SGATE_STATE* s : m->get_states())
    if (s == gate) return true;
  for (const CDB_SGATE_DFF* r : m->get_registers())
    if (r == gate) return true;
  for (const CDB_SGATE_OTERM* t : {m->get_clk(), m->get_clk_en(), m->get_reset()})
    if (t && t->get_my_node() == gate) return true;
  return false;
}

// Points one control of the machine at its routed terminal. The gate of the
// old terminal stops listing the machine when the machine no longer names
// it: a listing left behind would outlive the machine.
void replace_signal(CDB_STATE_MACHINE* m, CDB_SGATE_OTERM* old, CDB_SGATE_OTERM* now,
                    void (CDB_STATE_MACHINE::*set)(CDB_SGATE_OTERM*)) {
  (m->*set)(now);
  if (old != now && !names_gate(m, old->get_my_node())) old->get_my_node()->remove_state_machine_reference(m);
}

}  // namespace

CDB_SGATE_OTERM* kavu_route_state_machine_signal(CDB_STATE_MACHINE* machine, CDB_SGATE_NETLIST* netlist,
                                                 CDB_SGATE_OTERM* machine_oterm) {
  KAVU_CHECK(machine && netlist && machine_oterm);
  KAVU_CHECK(!machine->get_states().empty());
  const int machine_oterm_aux = machine_oterm->get_aux();
  const int machine_aux = partition_of(machine->get_states()[0]);
  if (machine_oterm_aux == machine_aux) return machine_oterm;

  // The signal usually reaches the machine through a protect buffer; only
  // an uninverted one carries the signal as it is.
  CDB_SGATE_OTERM* machine_protect_oterm = nullptr;
  for (CDB_SGATE_ITERM* t : machine_oterm->fanouts()) {
    if (!t->is_inverted() && kavu_is_a_protect_buffer(t->get_my_node())) {
      machine_protect_oterm = t->get_my_node()->get_single_oterm();
      break;
    }
  }
  if (!machine_protect_oterm) {
    CDB_SGATE_NODE* n = machine_oterm->get_my_node();
    kavu_debug("Machine oterm %s %s %s with fanout %d is not feeding a protect buffer. Weird.",
               n->get_string_type_name(), n->get_debug_name().c_str(), n->get_string_hpath().c_str(),
               int(machine_oterm->get_number_of_fanout()));
    // The signal's own terminal, not the gate's first one: a gate with
    // several outputs would otherwise route another signal.
    machine_protect_oterm = machine_oterm;
  }
  KAVU_CHECK(machine_protect_oterm != 0);
  KAVU_CHECK(machine_protect_oterm->get_aux() == machine_oterm_aux);

  CDB_SGATE_NODE* out_bound = nullptr;
  for (CDB_SGATE_ITERM* t : machine_protect_oterm->fanouts()) {
    if (!t->is_inverted() && kavu_is_a_boundary_output(t->get_my_node())) {
      out_bound = t->get_my_node();
      break;
    }
  }
  if (out_bound) {
    KAVU_CHECK(out_bound->get_single_oterm()->get_aux() == machine_oterm_aux);
  } else {
    out_bound = create_boundary_node(1, machine_protect_oterm, nullptr, netlist);
    label(out_bound, machine_oterm_aux);
  }
  CDB_SGATE_BOUNDARY* in_bound = create_boundary_node(0, out_bound->get_single_oterm(), nullptr, netlist);
  label(in_bound, machine_aux);
  CDB_SGATE_OTERM* in_oterm = in_bound->get_single_oterm();
  rtl_insert_buffer_helper(nullptr, in_oterm, netlist, CDB_BUFFER_PROTECT);
  KAVU_CHECK(in_oterm->get_number_of_fanout() == 1);
  label((*in_oterm->fanouts().begin())->get_my_node(), machine_aux);
  return in_oterm;
}

void kavu_route_state_machine_signals(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  if (!hierarchy || !hierarchy->has_machines()) return;
  for (CDB_STATE_MACHINE* machine : *hierarchy->get_machine_list()) {
    KAVU_CHECK(machine);
    // Without a state gate the machine has no partition to route into.
    if (machine->get_states().empty()) continue;
    if (CDB_SGATE_OTERM* clk = machine->get_clk()) {
      CDB_SGATE_OTERM* new_clk = kavu_route_state_machine_signal(machine, netlist, clk);
      KAVU_CHECK(new_clk);
      replace_signal(machine, clk, new_clk, &CDB_STATE_MACHINE::set_clk);
    }
    if (CDB_SGATE_OTERM* clk_en = machine->get_clk_en()) {
      CDB_SGATE_OTERM* new_clk_en = kavu_route_state_machine_signal(machine, netlist, clk_en);
      KAVU_CHECK(new_clk_en);
      replace_signal(machine, clk_en, new_clk_en, &CDB_STATE_MACHINE::set_clk_en);
    }
    if (CDB_SGATE_OTERM* reset = machine->get_reset()) {
      CDB_SGATE_OTERM* new_reset = kavu_route_state_machine_signal(machine, netlist, reset);
      KAVU_CHECK(new_reset);
      replace_signal(machine, reset, new_reset, &CDB_STATE_MACHINE::set_reset);
    }
  }
}

void kavu_recover_state_machines(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                 std::vector<CDB_SGATE_NETLIST*>& partitions) {
  KAVU_CHECK(netlist);
  // The hierarchy's list is rebuilt from the partitions alone.
  std::list<CDB_STATE_MACHINE*>* list = hierarchy ? hierarchy->get_machine_list() : nullptr;
  if (list) {
    for (CDB_STATE_MACHINE* m : *list) delete m;
    list->clear();
  }
  std::vector<CDB_STATE_MACHINE*> machines;
  std::unordered_map<unsigned, CDB_SGATE_NODE*> wanted;
  for (CDB_SGATE_NETLIST* curr_net : partitions) {
    KAVU_CHECK(curr_net);
    if (!curr_net->has_machines()) continue;
    for (CDB_STATE_MACHINE* machine : *curr_net->get_machine_list()) {
      KAVU_CHECK(machine);
      std::unordered_map<unsigned, CDB_SGATE_NODE*> stored;
      machine->gather_stored_debug_numbers(&stored);
      // A machine read from an archive knows its gates, not their numbers.
      if (stored.empty()) machine->store_oterms_as_debug_numbers(false);
      machine->gather_nodes_of_interest(&wanted);
      machine->gather_stored_debug_numbers(&wanted);
      machines.push_back(machine);
    }
    curr_net->get_machine_list()->clear();
  }
  if (machines.empty()) return;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node) continue;
    auto it = wanted.find(node->get_debug_number());
    if (it == wanted.end() || it->second == node) continue;
    if (it->second) {
      char text[512];
      snprintf(text, sizeof text, "Two nodes have the same debug number %d: %s and %s",
               int(node->get_debug_number()), node->get_string_hpath().c_str(),
               it->second->get_string_hpath().c_str());
      KAVU_INTERNAL_ERROR(text);
    }
    it->second = node;
  }
  for (CDB_STATE_MACHINE* machine : machines) {
    machine->recover_oterms_from_debug_numbers(&wanted);
    // A state gate rebuilt from an archive knows no machine yet.
    for (CDB_SGATE_STATE* state : machine->get_states())
      if (state->get_state_machine() != machine) state->set_state_machine(machine);
    // Synthesis may have removed every state gate of a machine: nothing is
    // left to describe, so the machine goes instead of stopping the flow.
    if (machine->get_states().empty() || !list) {
      if (list) kavu_debug("State machine %s has no state buffer left and is dropped", machine->get_name().c_str());
      delete machine;
    } else {
      list->push_back(machine);
    }
  }
}
