// Role: gate-netlist database
// (docs/platform.md, "Gate database"; see also "Netlist members and records").
// cdb_sgate_hierarchy.h — hierarchies, state machines and the records a gate
// netlist carries (compatible registers, high-speed registers, reports,
// atom synthesis data, the optional netlist information record).
//
// Ownership: a hierarchy does not own its netlist; it owns its machine list
// (replaceable) and the machines in it. A state machine refers to gates and
// terminals without owning them; gates it lists drop themselves from it when
// destroyed. The netlist owns its records.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate_node.h"

class HDB_NAMESPACE;
// Original object -> its copy (gates and terminals), for cross-cloning.
typedef std::unordered_map<const void*, void*> CDB_CLONE_MAP;
class BASEX_SGATE_NETLIST_INFO;

// ---------------------------------------------------------------------------
class CDB_HIERARCHY_BASE {
 public:
  CDB_HIERARCHY_BASE() = default;
  virtual ~CDB_HIERARCHY_BASE() = default;
  CDB_HIERARCHY_BASE(const CDB_HIERARCHY_BASE&) = delete;
  CDB_HIERARCHY_BASE& operator=(const CDB_HIERARCHY_BASE&) = delete;

  HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
  void set_instance_name(HDB_INSTANCE_NAME* n) { m_name = n; }
  CDB_HIERARCHY_BASE* get_parent() const { return m_parent; }
  // Also records this hierarchy among the parent's children.
  void set_parent(CDB_HIERARCHY_BASE* p);
  const std::vector<CDB_HIERARCHY_BASE*>& get_children() const { return m_children; }
  CDB_HIERARCHY_BASE* get_root();
  bool uses_namespace() const { return m_namespace != nullptr; }
  HDB_NAMESPACE* get_namespace() const { return m_namespace; }
  void set_namespace(HDB_NAMESPACE* ns) { m_namespace = ns; }

 private:
  HDB_INSTANCE_NAME* m_name = nullptr;
  CDB_HIERARCHY_BASE* m_parent = nullptr;
  std::vector<CDB_HIERARCHY_BASE*> m_children;
  HDB_NAMESPACE* m_namespace = nullptr;
};

class CDB_SGATE_HIERARCHY : public CDB_HIERARCHY_BASE {
 public:
  CDB_SGATE_HIERARCHY() = default;
  ~CDB_SGATE_HIERARCHY() override;  // frees the machine list and its machines

  CDB_SGATE_NETLIST* get_netlist() const { return m_netlist; }
  // Also sets the netlist's back pointer to this hierarchy.
  void set_netlist(CDB_SGATE_NETLIST* n);

  bool has_machines() const { return m_machines && !m_machines->empty(); }
  // The owned machine list (created empty on first request).
  std::list<CDB_STATE_MACHINE*>* get_machine_list();
  // Replaces the list; the old list and its machines are freed unless it is `l`.
  void set_machine_list(std::list<CDB_STATE_MACHINE*>* l);

  // Every pin of the netlist gets this hierarchy.
  void set_hierarchy_pointers();
  static void set_hierarchy_pointers(CDB_SGATE_HIERARCHY* h, CDB_SGATE_NETLIST* n);

 private:
  CDB_SGATE_NETLIST* m_netlist = nullptr;
  std::list<CDB_STATE_MACHINE*>* m_machines = nullptr;
};

// ---------------------------------------------------------------------------
class CDB_STATE_MACHINE {
 public:
  CDB_STATE_MACHINE() = default;
  ~CDB_STATE_MACHINE();  // drops the references its gates hold to it
  CDB_STATE_MACHINE(const CDB_STATE_MACHINE&) = delete;
  CDB_STATE_MACHINE& operator=(const CDB_STATE_MACHINE&) = delete;

  std::vector<CDB_SGATE_STATE*>& get_states() { return m_states; }
  const std::vector<CDB_SGATE_STATE*>& get_states() const { return m_states; }
  std::vector<CDB_SGATE_DFF*>& get_registers() { return m_registers; }
  const std::vector<CDB_SGATE_DFF*>& get_registers() const { return m_registers; }
  void add_state(CDB_SGATE_STATE* s);
  void add_register(CDB_SGATE_DFF* r);
  // Called by a listed gate's destructor.
  void forget_node(const CDB_SGATE_NODE* n);

  CDB_SGATE_OTERM* get_clk() const { return m_clk; }
  // The terminal setters register the machine on the terminal's gate, so a
  // destroyed gate clears the pointer.
  void set_clk(CDB_SGATE_OTERM* t) { set_oterm(m_clk, t); }
  bool clk_is_inverted() const { return m_clk_inverted; }
  void set_clk_is_inverted(bool b) { m_clk_inverted = b; }
  CDB_SGATE_OTERM* get_clk_en() const { return m_clk_en; }
  void set_clk_en(CDB_SGATE_OTERM* t) { set_oterm(m_clk_en, t); }
  CDB_SGATE_OTERM* get_reset() const { return m_reset; }
  void set_reset(CDB_SGATE_OTERM* t) { set_oterm(m_reset, t); }

  HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
  void set_instance_name(HDB_INSTANCE_NAME* n) { m_name = n; }
  const std::string& get_name() const { return m_text; }
  void set_name(const std::string& s) { m_text = s; }
  std::string get_string_hpath() const;

  // A copy; gates and terminals translated through `map` (original -> copy;
  // entries missing from the map become null); with a null map the copy
  // refers to the same gates and terminals.
  CDB_STATE_MACHINE* cross_clone(const CDB_CLONE_MAP* map) const;
  // Moves through archives: every gate and terminal is recorded as a debug
  // number (and output index); with `drop_pointers` the pointers are cleared
  // too. gather_nodes_of_interest adds the machine's gates by debug number;
  // recover_oterms_from_debug_numbers rebuilds the pointers from such a map.
  void store_oterms_as_debug_numbers(bool drop_pointers);
  void gather_nodes_of_interest(std::unordered_map<unsigned, CDB_SGATE_NODE*>* map) const;
  void recover_oterms_from_debug_numbers(std::unordered_map<unsigned, CDB_SGATE_NODE*>* map);

  // --- stored numbers (cdb_sgate_machine_numbers.cpp)
  // Adds every number recorded by the last store_oterms_as_debug_numbers
  // (states, registers, clk, clk_en, reset) with a null gate; numbers the
  // map already holds keep their gate. Works after pointers were dropped.
  void gather_stored_debug_numbers(std::unordered_map<unsigned, CDB_SGATE_NODE*>* map) const;

 private:
  struct STORED_OTERM { unsigned m_node = 0; unsigned m_index = 0; bool m_valid = false; };
  static STORED_OTERM store(const CDB_SGATE_OTERM* t);
  static CDB_SGATE_OTERM* recover(const STORED_OTERM& s, std::unordered_map<unsigned, CDB_SGATE_NODE*>* map);
  void drop_references();
  void set_oterm(CDB_SGATE_OTERM*& field, CDB_SGATE_OTERM* t);

  std::vector<CDB_SGATE_STATE*> m_states;
  std::vector<CDB_SGATE_DFF*> m_registers;
  CDB_SGATE_OTERM* m_clk = nullptr;
  CDB_SGATE_OTERM* m_clk_en = nullptr;
  CDB_SGATE_OTERM* m_reset = nullptr;
  bool m_clk_inverted = false;
  HDB_INSTANCE_NAME* m_name = nullptr;
  std::string m_text;
  STORED_OTERM m_stored[3];           // clk, clk_en, reset
  std::vector<unsigned> m_stored_states;
  std::vector<unsigned> m_stored_registers;
};

// ---------------------------------------------------------------------------
struct CDB_SGATE_COMPATIBLE_REGISTERS_INFO {
  int set_id = 0;
  int chain_id = 0;
};

// Which registers may merge: registers whose output terminals carry the same
// set id, none of them marked as part of a synchronizer chain. Set 0 (also a
// terminal without an entry) is the common set of the unconstrained
// registers. Fresh: in use, not ready.
class CDB_SGATE_COMPATIBLE_REGISTERS {
 public:
  bool is_ready_to_use() const { return m_ready; }
  void set_ready_to_use(bool b) { m_ready = b; }
  bool is_in_use() const { return m_in_use; }
  void set_in_use(bool b) { m_in_use = b; }

  bool oterms_are_compatible(const CDB_SGATE_OTERM* a, const CDB_SGATE_OTERM* b, bool flag = false) const;
  unsigned get_set_id(const CDB_SGATE_OTERM* t) const;  // 0 when absent
  void add_oterm_set_id(const CDB_SGATE_OTERM* t, unsigned set_id);
  void mark_synch_reg(const CDB_SGATE_OTERM* t, unsigned chain);
  unsigned get_synch_chain(const CDB_SGATE_OTERM* t) const;  // 0 when absent
  void clear_all();
  size_t size() const { return m_map.size(); }
  // One line per entry ("N<debug number>:<output> set <id> chain <id>"), in that order.
  std::string dump_compatible_registers_map() const;

 private:
  // Keyed by (gate debug number, output index), so destroyed registers
  // leave no dangling pointer behind.
  static uint64_t key_of(const CDB_SGATE_OTERM* t);
  std::unordered_map<uint64_t, CDB_SGATE_COMPATIBLE_REGISTERS_INFO> m_map;
  bool m_ready = false;
  bool m_in_use = true;
};

// One byte of flags per instance name: bit 0 destination, bit 1 source.
struct CDB_SGATE_HIGH_SPEED_REGISTER {
  uint8_t m_bits = 0;
  bool is_high_speed_destination() const { return (m_bits & 1) != 0; }
  bool is_high_speed_source() const { return (m_bits & 2) != 0; }
  void set_high_speed_destination(bool b) { m_bits = uint8_t(b ? (m_bits | 1) : (m_bits & ~1)); }
  void set_high_speed_source(bool b) { m_bits = uint8_t(b ? (m_bits | 2) : (m_bits & ~2)); }
};
typedef std::map<unsigned, CDB_SGATE_HIGH_SPEED_REGISTER> CDB_SGATE_HIGH_SPEED_MAP;

struct CDB_SGATE_MAST_REPORT {
  std::string m_name;
  std::vector<std::vector<std::string>> m_rows;
};

// Which flattened timing netlist the compile that handed a netlist to its
// partitions stored (the stored netlist's 128-bit digest), or that it
// stored none: the timing engine reads back only that one for it.
struct CDB_SGATE_TDB_ORIGIN {
  bool stored = false;
  uint64_t lo = 0, hi = 0;
  // False for a netlist read from an archive of a format that carries no
  // origin, or none of this form (written by an earlier version of the
  // library): whether and what its compile stored is not known, and it
  // reads as none stored.
  bool known = true;
  // The labelling for parallel synthesis the stored netlist was made for:
  // the CDB_SGATE_LABELLING digest of the netlists it was made from (0 with
  // none stored). A partition netlist split under another labelling
  // (CDB_SGATE_NETLIST::get_split_labelling) is not analysed against it.
  uint64_t labelling = 0;
  bool operator==(const CDB_SGATE_TDB_ORIGIN&) const = default;
};

struct CDB_ATOM_SYNTH_DATA {
  unsigned m_atom_id = 0;
  unsigned m_flags = 0;
  int m_fanin_delay = 0;
  int m_fanout_delay = 0;
};

// Base of the optional information record a netlist owns (subclassed by the
// elaboration layer).
class CDB_SGATE_NETLIST_INFO {
 public:
  virtual ~CDB_SGATE_NETLIST_INFO() = default;
  virtual BASEX_SGATE_NETLIST_INFO* dynamic_cast_to_BASEX_SGATE_NETLIST_INFO() { return nullptr; }
};
