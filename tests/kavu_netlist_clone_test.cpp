// Tests of the netlist clone: copies to and from the elaboration record are
// complete and independent (netlist, machines re-pointed at the copy, map
// objects, boundary pins with their names), and handing a record over
// shares its contents.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "basex/basex.h"
#include "kavu_helper_predicates.h"
#include "kavu_netlist_clone.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

struct VALUE_OBJECT : NL_CLONE_COPYABLE {
  explicit VALUE_OBJECT(int v) : m_value(v) {}
  NL_CLONE_COPYABLE* copy() const override { return new VALUE_OBJECT(m_value); }
  int m_value;
};

// Frees what a record holds: map objects, netlist, machines and list.
void free_record(NL_CLONE_INFO* r, bool contents) {
  if (contents) {
    for (auto& [key, object] : r->get_object_map()) delete object;
    if (auto* machines = r->get_machine_list()) {
      for (CDB_STATE_MACHINE* m : *machines) delete m;
      delete machines;
    }
    delete r->get_netlist();
  }
  delete r;
}

bool machines_inside(const std::list<CDB_STATE_MACHINE*>& machines, const CDB_SGATE_NETLIST* nl) {
  for (const CDB_STATE_MACHINE* m : machines) {
    for (const CDB_SGATE_DFF* r : m->get_registers())
      if (r->get_netlist() != nl) return false;
    for (const CDB_SGATE_STATE* s : m->get_states())
      if (s->get_netlist() != nl || s->get_state_machine() != m) return false;
  }
  return !machines.empty();
}

std::vector<std::string> boundary_pin_names(const CDB_SGATE_NETLIST* nl) {
  std::vector<std::string> names;
  auto* info = nl->get_netlist_info() ? nl->get_netlist_info()->dynamic_cast_to_BASEX_SGATE_NETLIST_INFO() : nullptr;
  if (!info) return names;
  for (auto it = info->begin_boundary_pin(); it != info->end_boundary_pin(); ++it) {
    EXPECT_EQ((*it)->get_netlist(), nl);
    names.push_back((*it)->get_string_name());
  }
  return names;
}

}  // namespace

TEST(KavuNetlistClone, CopiesAreCompleteAndIndependent) {
  auto nl = load_blif("fsm_seq_generic");
  CDB_SGATE_HIERARCHY* h = nl->get_hierarchy();
  auto* machine = new CDB_STATE_MACHINE;
  auto* state = new CDB_SGATE_STATE(nullptr, machine);
  nl->add_node(state);
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it)) machine->add_register((*it)->cast_to_dff());
  machine->add_state(state);
  h->get_machine_list()->push_back(machine);
  auto* info = new BASEX_SGATE_NETLIST_INFO;
  info->set_flag_byte(5);
  const std::vector<CDB_SGATE_IO*> pins = nl->get_input_pins();
  for (size_t i = pins.size(); i-- > 0;) {  // reverse order, so list order is not node order
    pins[i]->set_string_name(("pin" + std::to_string(i)).c_str());
    info->insert_boundary_pin(pins[i], false);
  }
  nl->set_netlist_info(info);
  const std::vector<std::string> pin_names = boundary_pin_names(nl.get());

  BASEX_ELABORATE_INFO elab;
  NL_CLONE_INFO current;
  current.get_object_map()[7] = new VALUE_OBJECT(42);
  elab.install_clone_info(&current);
  elab.install_hierarchy(h);

  NL_CLONE_INFO* record = KAVU_NETLIST_CLONE::clone_from_elab_info(&elab);
  ASSERT_NE(record->get_netlist(), nl.get());
  EXPECT_TRUE(sim_equivalent(nl.get(), record->get_netlist()));
  EXPECT_TRUE(machines_inside(*record->get_machine_list(), record->get_netlist()));
  EXPECT_EQ(boundary_pin_names(record->get_netlist()), pin_names);
  auto* copied = dynamic_cast<VALUE_OBJECT*>(record->get_object_map().at(7));
  ASSERT_TRUE(copied && copied != current.get_object_map().at(7) && copied->m_value == 42);

  // Two copies back: every netlist and machine list has one owner.
  std::vector<CDB_SGATE_HIERARCHY*> hierarchies;
  std::vector<NL_CLONE_INFO*> working;
  for (int k = 0; k < 2; ++k) {
    ASSERT_TRUE(KAVU_NETLIST_CLONE::clone_to_elab_info(record, &elab));
    EXPECT_TRUE(elab.is_netlist_installed());
    hierarchies.push_back(elab.get_current_hierarchy());
    working.push_back(elab.get_current_clone_info());
    CDB_SGATE_NETLIST* copy = hierarchies.back()->get_netlist();
    EXPECT_TRUE(machines_inside(*hierarchies.back()->get_machine_list(), copy));
    EXPECT_EQ(boundary_pin_names(copy), pin_names);
    // The working record holds its own copy, not the given record's netlist.
    EXPECT_NE(working.back()->get_netlist(), record->get_netlist());
    EXPECT_NE(working.back()->get_netlist(), copy);
    EXPECT_NE(working.back()->get_machine_list(), record->get_machine_list());
    EXPECT_TRUE(machines_inside(*working.back()->get_machine_list(), working.back()->get_netlist()));
  }
  const unsigned size = record->get_netlist()->size();
  CDB_SGATE_NETLIST* first = hierarchies[0]->get_netlist();
  CDB_SGATE_NODE* victim = *first->begin_node_list();
  first->delete_node(victim);
  delete victim;
  EXPECT_EQ(record->get_netlist()->size(), size);
  EXPECT_EQ(hierarchies[1]->get_netlist()->size(), size);

  // Handing the record over shares its netlist and machines.
  ASSERT_TRUE(KAVU_NETLIST_CLONE::set_to_elab_info(record, &elab));
  CDB_SGATE_HIERARCHY* shared = elab.get_current_hierarchy();
  EXPECT_EQ(shared->get_netlist(), record->get_netlist());
  EXPECT_EQ(shared->get_machine_list(), record->get_machine_list());
  EXPECT_EQ(elab.get_current_clone_info(), record);

  NL_CLONE_INFO bare;
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_NETLIST_CLONE::clone_to_elab_info(&bare, &elab), "from_clone_info->machine_list");

  for (size_t k = 0; k < hierarchies.size(); ++k) {
    delete hierarchies[k]->get_netlist();
    delete hierarchies[k];
    free_record(working[k], true);
  }
  CDB_SGATE_NETLIST* record_netlist = record->get_netlist();
  delete shared;  // frees the record's machines, which it now owns
  delete record_netlist;
  record->set_machine_list(nullptr);
  record->set_netlist(nullptr);
  free_record(record, true);
  for (auto& [key, object] : current.get_object_map()) delete object;
}
