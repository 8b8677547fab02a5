// kavu_netlist_clone.cpp — copies of elaborated netlist state (model in
// kavu_netlist_clone.h).
//
// A netlist copy leaves on every source gate a temporary pointer to its
// copy until clear_temp_pointers runs on the source; the copied machines
// and the copied boundary pins are translated through those pointers first.
#include "kavu_netlist_clone.h"

#include "basex/basex.h"
#include "cdb/cdb_sgate.h"
#include "kavu_check.h"

namespace {

// Source gate or output terminal -> its copy, from the temporary pointers
// that CDB_SGATE_NETLIST::clone leaves on the source.
CDB_CLONE_MAP clone_map_of(const CDB_SGATE_NETLIST* source) {
  CDB_CLONE_MAP map;
  for (auto it = source->begin_node_list(); it != source->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    CDB_SGATE_NODE* copy = g ? static_cast<CDB_SGATE_NODE*>(g->get_temp_pointer()) : nullptr;
    if (!copy) continue;
    map[g] = copy;
    for (unsigned i = 0; i < g->get_output_count() && i < copy->get_output_count(); ++i)
      if (g->get_output_term(i)) map[g->get_output_term(i)] = copy->get_output_term(i);
  }
  return map;
}

void clone_machines_onto(const std::list<CDB_STATE_MACHINE*>& from, std::list<CDB_STATE_MACHINE*>& to,
                         const CDB_CLONE_MAP& map) {
  for (const CDB_STATE_MACHINE* m : from) {
    CDB_STATE_MACHINE* copy = m->cross_clone(&map);
    for (CDB_SGATE_STATE* s : copy->get_states()) s->set_state_machine(copy);
    to.push_back(copy);
  }
}

// A full copy of a netlist with its information record, and of a machine
// list re-pointed at the copied gates. `machines` may be null.
CDB_SGATE_NETLIST* copy_netlist_and_machines(CDB_SGATE_NETLIST* source, const std::list<CDB_STATE_MACHINE*>* machines,
                                             std::list<CDB_STATE_MACHINE*>* machine_copies) {
  CDB_SGATE_NETLIST* copy = source->clone(nullptr, true, true);
  if (machines) clone_machines_onto(*machines, *machine_copies, clone_map_of(source));
  KAVU_NETLIST_CLONE::clone_netlist_info(source, copy);
  source->clear_temp_pointers();
  return copy;
}

}  // namespace

NL_CLONE_INFO* KAVU_NETLIST_CLONE::deep_clone_necessary_data(NL_CLONE_INFO* from_clone_info) {
  KAVU_CHECK(from_clone_info);
  NL_CLONE_INFO* copy = from_clone_info->copy();
  NL_CLONE_INFO::OBJECT_MAP objects;
  for (const auto& [key, object] : from_clone_info->get_object_map())
    objects[key] = object ? object->copy() : nullptr;
  copy->get_object_map() = std::move(objects);
  return copy;
}

bool KAVU_NETLIST_CLONE::clone_machines(const std::list<CDB_STATE_MACHINE*>& from,
                                        std::list<CDB_STATE_MACHINE*>& to) {
  for (const CDB_STATE_MACHINE* m : from) to.push_back(m->cross_clone(nullptr));
  return true;
}

bool KAVU_NETLIST_CLONE::clone_netlist_info(CDB_SGATE_NETLIST* from_netlist, CDB_SGATE_NETLIST* cloned_netlist) {
  KAVU_CHECK(from_netlist && cloned_netlist);
  CDB_SGATE_NETLIST_INFO* info = from_netlist->get_netlist_info();
  BASEX_SGATE_NETLIST_INFO* old_info = info ? info->dynamic_cast_to_BASEX_SGATE_NETLIST_INFO() : nullptr;
  if (!old_info) return true;
  BASEX_SGATE_NETLIST_INFO* new_info = new BASEX_SGATE_NETLIST_INFO;
  new_info->set_flag_byte(old_info->get_flag_byte());
  cloned_netlist->set_netlist_info(new_info);
  for (auto it = old_info->begin_boundary_pin(); it != old_info->end_boundary_pin(); ++it) {
    CDB_SGATE_IO* pin = *it;
    CDB_SGATE_NODE* copy = static_cast<CDB_SGATE_NODE*>(pin->get_temp_pointer());
    KAVU_CHECK(copy && copy->cast_to_io());
    copy->set_string_name(pin->get_string_name());
    new_info->insert_boundary_pin(copy->cast_to_io(), false);
  }
  return true;
}

NL_CLONE_INFO* KAVU_NETLIST_CLONE::clone_from_elab_info(BASEX_ELABORATE_INFO* elab_info) {
  KAVU_CHECK(elab_info && elab_info->get_current_clone_info() && elab_info->get_current_hierarchy());
  NL_CLONE_INFO* record = deep_clone_necessary_data(elab_info->get_current_clone_info());
  CDB_SGATE_HIERARCHY* hierarchy = elab_info->get_current_hierarchy();
  auto* machines = new std::list<CDB_STATE_MACHINE*>;
  CDB_SGATE_NETLIST* source = hierarchy->get_netlist();
  record->set_netlist(source ? copy_netlist_and_machines(source, hierarchy->get_machine_list(), machines) : nullptr);
  record->set_machine_list(machines);
  return record;
}

bool KAVU_NETLIST_CLONE::clone_to_elab_info(NL_CLONE_INFO* from_clone_info, BASEX_ELABORATE_INFO* elab_info) {
  KAVU_CHECK(from_clone_info && elab_info);
  // Checked before anything is made, so a refused record leaves nothing behind.
  if (!from_clone_info->get_machine_list()) KAVU_INTERNAL_ERROR("from_clone_info->machine_list");
  NL_CLONE_INFO* working = deep_clone_necessary_data(from_clone_info);
  CDB_SGATE_HIERARCHY* hierarchy = new CDB_SGATE_HIERARCHY;
  hierarchy->set_instance_name(elab_info->get_instance_name_for_new_hierarchy());
  CDB_SGATE_NETLIST* source = from_clone_info->get_netlist();
  const std::list<CDB_STATE_MACHINE*>* machines = from_clone_info->get_machine_list();
  // The hierarchy and the working record each get their own copy: no
  // netlist or machine list ends up with two owners.
  auto* record_machines = new std::list<CDB_STATE_MACHINE*>;
  CDB_SGATE_NETLIST* hierarchy_copy = nullptr;
  if (source) {
    hierarchy_copy = copy_netlist_and_machines(source, machines, hierarchy->get_machine_list());
    hierarchy->set_netlist(hierarchy_copy);
    working->set_netlist(copy_netlist_and_machines(source, machines, record_machines));
  } else {
    working->set_netlist(nullptr);
  }
  working->set_machine_list(record_machines);
  elab_info->install_hierarchy(hierarchy);
  const bool result = hierarchy_copy != nullptr;
  elab_info->set_netlist_installed(result);
  elab_info->install_clone_info(working);
  return result;
}

bool KAVU_NETLIST_CLONE::set_to_elab_info(NL_CLONE_INFO* from_clone_info, BASEX_ELABORATE_INFO* elab_info) {
  KAVU_CHECK(from_clone_info && elab_info);
  if (!from_clone_info->get_machine_list()) KAVU_INTERNAL_ERROR("from_clone_info->machine_list");
  CDB_SGATE_HIERARCHY* hierarchy = new CDB_SGATE_HIERARCHY;
  hierarchy->set_instance_name(elab_info->get_instance_name_for_new_hierarchy());
  if (from_clone_info->get_netlist()) hierarchy->set_netlist(from_clone_info->get_netlist());
  hierarchy->set_machine_list(from_clone_info->get_machine_list());
  elab_info->install_hierarchy(hierarchy);
  const bool result = from_clone_info->get_netlist() != nullptr;
  elab_info->set_netlist_installed(result);
  elab_info->install_clone_info(from_clone_info);
  return result;
}
