// kavu_stamp.h — hierarchy stamps: identical partitions of one netlist, a
// master and its duplicates, labelled, checked and folded.
//
// Model: the caller has cut the netlist so that every instance of a
// hierarchy is a partition enclosed by boundary gates (type 67) carrying the
// partition number; 1000000 is the top partition. It registers which stamp
// duplicates which master, the pins (facing boundaries) of each duplicate
// boundary and each duplicate boundary's master boundary. Labelling floods
// from every boundary, breadth-first, and writes the stamp id into the aux
// value of each gate's first output (bus operators and boundaries stop the
// flood). Constants that reach a master and all its duplicates through
// facing boundaries are pushed inside; emptying destroys every gate of the
// registered duplicates and connects the outside to the master through bus
// operators, one bit per copy.
//
// Tables: six library-wide tables, created at load; entries that name a
// boundary or pin are erased when this area destroys that gate, so no table
// keeps a pointer to a destroyed gate.
// Keys: kavu_stamp_very_verbose (off) traces the flood; tvq_deep_check (on)
// runs the gate-by-gate check on a mismatch; stamp_always_ie_on_mismatch
// (off) makes a mismatch an internal error.
// Cost: labelling O(N); statistics O(N log stamps); emptying O(N).
#pragma once

#include <map>
#include <set>
#include <vector>

class CDB_SGATE_NODE;
class CDB_SGATE_NETLIST;

// The top partition's number and stamp id.
constexpr int KAVU_STAMP_TOP_ID = 1000000;

struct KAVU_STAMP_TABLES {
  std::map<int, std::set<int>> m_master_id_to_dup_ids;
  std::map<int, int> m_dup_id_to_master_id;
  std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>> m_dup_bound_to_pins;
  std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>> m_master_bound_to_dup_bounds;
  std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>> m_outside_gate_to_dup_pins;
  std::map<CDB_SGATE_NODE*, CDB_SGATE_NODE*> m_dup_pin_to_outside_gate;
  // Drops every entry that names the gate, as key or as value.
  void forget_gate(CDB_SGATE_NODE* gate);
};

// The tables built at load (kavu_setup).
KAVU_STAMP_TABLES& kavu_stamp_tables();

// The six tables by their library-wide names (members of the tables above).
extern std::map<int, std::set<int>>& g_master_id_to_dup_ids;
extern std::map<int, int>& g_dup_id_to_master_id;
extern std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>>& g_dup_bound_to_pins;
extern std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>>& g_master_bound_to_dup_bounds;
extern std::map<CDB_SGATE_NODE*, std::vector<CDB_SGATE_NODE*>>& g_outside_gate_to_dup_pins;
extern std::map<CDB_SGATE_NODE*, CDB_SGATE_NODE*>& g_dup_pin_to_outside_gate;

void kavu_add_to_stamp_map(int master, int duplicate);
void kavu_add_pin_to_duplicate_boundary(CDB_SGATE_NODE* duplicate_boundary, CDB_SGATE_NODE* pin);
void kavu_update_dup_bound_to_master_bound(CDB_SGATE_NODE* duplicate_boundary, CDB_SGATE_NODE* master_boundary,
                                           CDB_SGATE_NODE* outside_gate);
// Labels the netlist and reports per-stamp statistics; checks duplicates
// against their masters (level 1: a mismatch is an internal error).
void kavu_print_stamp_info(CDB_SGATE_NETLIST* netlist, int level);
void kavu_stamp_propagate_common_constants(CDB_SGATE_NETLIST* netlist);
void kavu_stamp_delete_inside_duplicates(CDB_SGATE_NETLIST* netlist);
void kavu_stamp_label_nodes(CDB_SGATE_NETLIST* netlist);
void kavu_stamp_flood_partition(CDB_SGATE_NODE* seed, int stamp_id);
void kavu_stamp_print_partitions(CDB_SGATE_NETLIST* netlist, bool strict);
void kavu_stamp_deep_check(CDB_SGATE_NETLIST* netlist, int stamp_a, int stamp_b);
void kavu_stamp_create_bus_operators(CDB_SGATE_NETLIST* netlist);
