// Role: elaboration information (docs/platform.md, "Elaboration information").
// basex.h — the elaboration information a synthesis pass receives from the
// elaboration stage: the current hierarchy and clone record, the netlist
// information record with its boundary pins, and the string-name pool.
//
// Model:
// - BASEX_ELABORATE_INFO holds, for the design unit being elaborated, the
//   current hierarchy (which owns the netlist pointer and the state-machine
//   list), the current clone record, the instance name that new hierarchies
//   are created under and a netlist-installed switch. It does not own them.
//   Its string-name generator pools every text it returns: the text lives as
//   long as the object, and equal texts share one copy.
// - NL_CLONE_INFO is a private copy of elaboration state: a netlist, a map
//   from 8-byte keys (in key order) to objects that copy themselves, and a
//   state-machine list. It owns none of them; copy() yields a record with the
//   same members (the mapped pointers shared).
// - BASEX_SGATE_NETLIST_INFO is the netlist information record of an
//   elaborated netlist: one flag byte and the ordered list of boundary pins
//   (each pin at most once).
// Not thread-safe: callers that share one elaboration information between
// threads serialise the generator themselves (the library's component-name
// mutex).
// Cost: the generator is O(length · log pool size); pin list edits are O(n).
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"

// An object a clone record can copy: copy() yields a new, independent object
// owned by the caller.
class NL_CLONE_COPYABLE {
 public:
  virtual ~NL_CLONE_COPYABLE() = default;
  virtual NL_CLONE_COPYABLE* copy() const = 0;
};

class NL_CLONE_INFO {
 public:
  typedef std::map<uint64_t, NL_CLONE_COPYABLE*> OBJECT_MAP;

  NL_CLONE_INFO() = default;
  virtual ~NL_CLONE_INFO() = default;
  NL_CLONE_INFO(const NL_CLONE_INFO&) = default;
  NL_CLONE_INFO& operator=(const NL_CLONE_INFO&) = default;

  CDB_SGATE_NETLIST* get_netlist() const { return m_netlist; }
  void set_netlist(CDB_SGATE_NETLIST* netlist) { m_netlist = netlist; }
  OBJECT_MAP& get_object_map() { return m_objects; }
  const OBJECT_MAP& get_object_map() const { return m_objects; }
  std::list<CDB_STATE_MACHINE*>* get_machine_list() const { return m_machines; }
  void set_machine_list(std::list<CDB_STATE_MACHINE*>* machines) { m_machines = machines; }

  // A new record with the same netlist, map entries and machine list; the
  // caller owns it.
  virtual NL_CLONE_INFO* copy() const { return new NL_CLONE_INFO(*this); }

 private:
  CDB_SGATE_NETLIST* m_netlist = nullptr;
  OBJECT_MAP m_objects;
  std::list<CDB_STATE_MACHINE*>* m_machines = nullptr;
};

class BASEX_SGATE_NETLIST_INFO : public CDB_SGATE_NETLIST_INFO {
 public:
  typedef std::list<CDB_SGATE_IO*>::const_iterator BOUNDARY_PIN_ITERATOR;

  BASEX_SGATE_NETLIST_INFO* dynamic_cast_to_BASEX_SGATE_NETLIST_INFO() override { return this; }

  uint8_t get_flag_byte() const { return m_flags; }
  void set_flag_byte(uint8_t flags) { m_flags = flags; }

  BOUNDARY_PIN_ITERATOR begin_boundary_pin() const { return m_pins.begin(); }
  BOUNDARY_PIN_ITERATOR end_boundary_pin() const { return m_pins.end(); }
  // Adds the pin at the end (at the front when `at_front`); a pin already
  // listed stays where it is. A null pin is an internal error.
  void insert_boundary_pin(CDB_SGATE_IO* pin, bool at_front);
  // Removes the pin; false when it was not listed.
  bool remove_boundary_pin(CDB_SGATE_IO* pin);

 private:
  uint8_t m_flags = 0;
  std::list<CDB_SGATE_IO*> m_pins;
};

class BASEX_ELABORATE_INFO {
 public:
  BASEX_ELABORATE_INFO() = default;
  virtual ~BASEX_ELABORATE_INFO() = default;
  BASEX_ELABORATE_INFO(const BASEX_ELABORATE_INFO&) = delete;
  BASEX_ELABORATE_INFO& operator=(const BASEX_ELABORATE_INFO&) = delete;

  virtual NL_CLONE_INFO* get_current_clone_info() const { return m_clone_info; }
  virtual void install_clone_info(NL_CLONE_INFO* info) { m_clone_info = info; }
  virtual CDB_SGATE_HIERARCHY* get_current_hierarchy() const { return m_hierarchy; }
  virtual void install_hierarchy(CDB_SGATE_HIERARCHY* hierarchy) { m_hierarchy = hierarchy; }
  virtual HDB_INSTANCE_NAME* get_instance_name_for_new_hierarchy() const { return m_new_hierarchy_name; }
  virtual void set_instance_name_for_new_hierarchy(HDB_INSTANCE_NAME* name) { m_new_hierarchy_name = name; }
  virtual bool is_netlist_installed() const { return m_netlist_installed; }
  virtual void set_netlist_installed(bool installed) { m_netlist_installed = installed; }

  // The pooled text made of `base`, then "_" and `a` and "_" and `b` for each
  // of them that is given and not empty, then "[i,j,k]" unless all three
  // integers are 0 ("dataa", "x_rtl_0_lpm_counter", "q[0,0,3]"). Different
  // arguments give different texts except where a text itself contains "_"
  // or "[". A null base is an internal error. Not thread-safe.
  virtual const char* generate_string_name(const char* base, const char* a, const char* b, int i,
                                           int j, int k);
  // Texts pooled so far.
  size_t get_pool_size() const { return m_pool.size(); }

  // Declares `base` as an array name with these index ranges (kind 1: a
  // bank of registers); a later declaration of the same base replaces the
  // earlier one. Empty ranges or a null base are PLAT_CHECK failures.
  virtual void declare_array_name(const char* base, int kind, const std::vector<std::pair<int, int>>& ranges);
  // The ranges declared for `base`; null when it was never declared.
  const std::vector<std::pair<int, int>>* get_array_ranges(const char* base) const;

 private:
  NL_CLONE_INFO* m_clone_info = nullptr;
  CDB_SGATE_HIERARCHY* m_hierarchy = nullptr;
  HDB_INSTANCE_NAME* m_new_hierarchy_name = nullptr;
  bool m_netlist_installed = false;
  std::set<std::string> m_pool;  // node-based: pooled texts never move
  std::map<std::string, std::vector<std::pair<int, int>>> m_arrays;
};
