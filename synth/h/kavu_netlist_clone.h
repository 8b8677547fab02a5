// kavu_netlist_clone.h — copies of elaborated netlist state between the
// elaboration information and a private clone record.
//
// A clone record (NL_CLONE_INFO) holds a netlist, a key-ordered map of
// objects that copy themselves and a state-machine list, and owns none of
// them. Every copy made here is complete: the netlist is cloned with names
// and flags, the machines are re-pointed at the copied gates, and the
// netlist information record (flag byte, boundary pins in order, the pins'
// string names) follows the copy. clone_to_elab_info gives the installed
// hierarchy and the installed working record one copy each, so no netlist
// or machine list ever has two owners; set_to_elab_info hands the record's
// own contents over without copying.
// Failure: a record without a machine list is an internal error where a list
// is needed ("from_clone_info->machine_list").
// Cost: O(netlist) per copy.
#pragma once

#include <list>

class NL_CLONE_INFO;
class BASEX_ELABORATE_INFO;
class CDB_SGATE_NETLIST;
class CDB_STATE_MACHINE;

class KAVU_NETLIST_CLONE {
 public:
  KAVU_NETLIST_CLONE() = delete;

  // A new record (the caller owns it and its contents) with a copy of the
  // current hierarchy's netlist and machines.
  static NL_CLONE_INFO* clone_from_elab_info(BASEX_ELABORATE_INFO* elab_info);
  // Installs a new hierarchy holding a copy of the record's netlist and
  // machines, and a working record holding a second copy of both. The given
  // record is unchanged. True when the netlist was copied.
  static bool clone_to_elab_info(NL_CLONE_INFO* from_clone_info, BASEX_ELABORATE_INFO* elab_info);
  // Installs a new hierarchy with the record's own netlist and machine list,
  // and the record itself. True when the record has a netlist.
  static bool set_to_elab_info(NL_CLONE_INFO* from_clone_info, BASEX_ELABORATE_INFO* elab_info);
  // A copy of the record whose map holds copies of the mapped objects; its
  // netlist and machine list are still the given record's.
  static NL_CLONE_INFO* deep_clone_necessary_data(NL_CLONE_INFO* from_clone_info);
  // Appends a copy of every machine (referring to the same gates).
  static bool clone_machines(const std::list<CDB_STATE_MACHINE*>& from, std::list<CDB_STATE_MACHINE*>& to);
  // Copies the netlist information record, when it is the elaboration kind,
  // onto the clone; must run while the source's temporary pointers still
  // lead to the copies.
  static bool clone_netlist_info(CDB_SGATE_NETLIST* from_netlist, CDB_SGATE_NETLIST* cloned_netlist);
};
