// kavu_subnet.h — sub-netlist extraction and stitch-back for incremental
// synthesis.
//
// Between two compiles only the gates that are new against the previous
// compile need synthesis. KAVU_SUBNET moves those gates out of a partition's
// full netlist into a sub-netlist of their own, surrounded by pins that stand
// for every connection to the rest of the design; the caller synthesizes the
// sub-netlist in place of the full one and then stitches the result back.
//
// Model:
//   - A fan-in terminal is an output terminal outside the new gates that
//     drives at least one of them; each gets one input pin (IO type 0),
//     however many internal inputs it drives. Its internal sinks move to the
//     pin's output terminal, keeping their inversion.
//   - A fan-out terminal is an output terminal of a new gate with at least
//     one sink outside; each gets one output pin (IO type 1) whose input
//     terminal it drives, and one temporary input pin, never linked in a
//     netlist, whose output terminal parks the outside sinks meanwhile.
//     Internal sinks stay on the fan-out terminal.
//   - Pins are named "_subnet_pin_<n>" under the parent of the first new
//     gate's name: input pins first in fan-in order, then per fan-out
//     terminal its output pin and its temporary pin.
//   - Stitch-back: the outside sinks parked on a temporary pin go to what
//     now drives the output pin, the pin input's inversion composed; when
//     the output pin is tied, they become tied to the value the tie delivers
//     (a tie with its inversion set delivers GND). The internal sinks of an
//     input pin go back to its fan-in terminal. Every other gate of the
//     sub-netlist moves to the full netlist.
//   - Pins that synthesis made itself (in no map, and not among the gates
//     moved in) are reported in the debug trace and never reach the full
//     netlist, where they would become ports the design does not have: they
//     are destroyed with the sub-netlist at stitch-back, which cuts their
//     connections to the moved logic.
// Lifecycle: create → (synthesis of get_subnetlist()) → stitch back. A
//   builder whose sub-netlist was never stitched back destroys it when it is
//   cleared or destroyed; the outside sinks parked on temporary pins are then
//   left unconnected.
// Debug: the key "kavu_subnet_debug" (read at construction) traces each step.
// Cost: create O(G log G + T + B log B) for G new gates, T terminals on
//   them and B boundary terminals (a dynamic flag marks the new gates, so
//   each sink costs one bit test), plus two passes over the full netlist
//   (delete marks, flag release); stitch-back O(G + T + B log B).
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "cdb/cdb_sgate.h"

class CMP_FACADE;
class HDB_INSTANCE_NAME;

class KAVU_SUBNET {
 public:
  // The two node-information callbacks (the FIB manager's) are installed on
  // the sub-netlist (CDB_SGATE_NETLIST::set_info_functions_and_allocate):
  // every gate linked in it gets `set_info`, and every gate still linked at
  // stitch-back or destruction gets `reset_info`. Either may be null. Null
  // full netlist or facade is an internal error.
  KAVU_SUBNET(CDB_SGATE_NETLIST* full_netlist, CMP_FACADE* facade, CDB_SGATE_NETLIST::NODE_INFO_FN set_info,
              CDB_SGATE_NETLIST::NODE_INFO_FN reset_info);
  // Clears (destroying a sub-netlist still held) and releases the containers.
  ~KAVU_SUBNET();
  KAVU_SUBNET(const KAVU_SUBNET&) = delete;
  KAVU_SUBNET& operator=(const KAVU_SUBNET&) = delete;

  // Builds the sub-netlist of `new_nodes` (gates linked in the full netlist,
  // each once; any order): collects the boundary, then moves the gates.
  // The vector is read during the call only. A builder holds one sub-netlist
  // at a time (internal error otherwise).
  void kavu_subnet_create(std::vector<CDB_SGATE_NODE*>& new_nodes);
  // The boundary of the new gates: internal set, fan-in and fan-out
  // terminals. Changes nothing in the netlist.
  void kavu_subnet_collect_boundary();
  // Makes the pins, unlinks the new gates from the full netlist into the
  // sub-netlist and rewires the boundary onto the pins.
  void kavu_subnet_move_into();
  // Names the pin and its first output terminal "_subnet_pin_<number>"
  // under `parent` (null: the root of the facade's namespace), reusing the
  // name when it exists.
  void kavu_subnet_make_pin_name(CDB_SGATE_NODE* pin, int number, HDB_INSTANCE_NAME* parent);
  // Puts the (possibly synthesized) sub-netlist back into the full netlist
  // and destroys the pins and the sub-netlist. Internal error without a
  // sub-netlist.
  void kavu_subnet_stitch_back();
  // Empties the sets, vectors and maps; destroys a sub-netlist still held
  // and the temporary pins.
  void kavu_subnet_clear();

  // The sub-netlist while one is held (owned by the builder), else null.
  CDB_SGATE_NETLIST* get_subnetlist() const { return m_subnetlist; }
  CDB_SGATE_NETLIST* get_full_netlist() const { return m_full_netlist; }
  // The boundary in the order found.
  const std::vector<CDB_SGATE_OTERM*>& get_fanin_oterms() const { return m_fanin_oterms; }
  const std::vector<CDB_SGATE_OTERM*>& get_fanout_oterms() const { return m_fanout_oterms; }
  // The output pin standing for a fan-out terminal, the input pin standing
  // for a fan-in terminal; null when none.
  CDB_SGATE_IO* get_output_pin_of(CDB_SGATE_OTERM* fanout_oterm) const;
  CDB_SGATE_IO* get_input_pin_of(CDB_SGATE_OTERM* fanin_oterm) const;

 private:
  // Membership in the new gates: during kavu_subnet_create a dynamic flag
  // of the full netlist marks them (one bit test per sink instead of a tree
  // lookup); otherwise the set answers.
  bool is_internal(const CDB_SGATE_NODE* node) const {
    if (!m_internal_flag.is_null()) return node->test_dyn_flag(m_internal_flag);
    return std::binary_search(m_internal_nodes.begin(), m_internal_nodes.end(), node);
  }
  // Clears the mark on the new gates and gives the flag back.
  void release_internal_flag();
  // A pin that was moved in from the full netlist (and goes back), as
  // opposed to one that synthesis made.
  bool is_moved_pin(CDB_SGATE_IO* pin) const;
  // Each appends the pins it is done with (still linked) to `pins`.
  void stitch_output_pins(std::vector<CDB_SGATE_NODE*>& pins, std::vector<CDB_SGATE_NODE*>& temporaries);
  void stitch_input_pins(std::vector<CDB_SGATE_NODE*>& pins);
  void move_remaining_nodes_back();
  // Moves every sink of `from` that is internal (or outside) onto `to`,
  // keeping each sink's inversion. Walks a copy of the chain.
  void move_sinks(CDB_SGATE_OTERM* from, CDB_SGATE_OTERM* to, bool internal_sinks);

  CDB_SGATE_NETLIST* m_full_netlist;
  CDB_SGATE_NETLIST* m_subnetlist = nullptr;
  CMP_FACADE* m_facade;
  std::vector<CDB_SGATE_NODE*> m_internal_nodes;  // ordered set: sorted, each once
  std::set<CDB_SGATE_OTERM*> m_fanin_oterm_set;
  std::set<CDB_SGATE_OTERM*> m_fanout_oterm_set;
  std::vector<CDB_SGATE_NODE*>* m_new_nodes = nullptr;
  std::vector<CDB_SGATE_OTERM*> m_fanin_oterms;
  std::vector<CDB_SGATE_OTERM*> m_fanout_oterms;
  std::map<CDB_SGATE_IO*, CDB_SGATE_OTERM*> m_input_pin_to_oterm;
  std::map<CDB_SGATE_IO*, CDB_SGATE_OTERM*> m_output_pin_to_oterm;
  std::map<CDB_SGATE_IO*, CDB_SGATE_OTERM*> m_output_pin_to_temporary_oterm;
  std::map<CDB_SGATE_OTERM*, CDB_SGATE_IO*> m_oterm_to_input_pin;
  std::map<CDB_SGATE_OTERM*, CDB_SGATE_IO*> m_oterm_to_output_pin;
  bool m_debug = false;
  CDB_SGATE_NETLIST::NODE_INFO_FN m_set_info;
  CDB_SGATE_NETLIST::NODE_INFO_FN m_reset_info;
  std::vector<CDB_SGATE_ITERM*> m_scratch_fanouts;  // chain copies, reused
  GEN_DYN_FLAG m_internal_flag;                     // live during kavu_subnet_create only
};

// Repairs tri-state chains after stitch-back: an IO buffer of buffer kind 0
// whose output-enable input is tied to VCC, whose data input is driven by
// another IO buffer of kind 0 and whose first output terminal feeds a
// tri-state bus is taken out. The bus's output terminal takes over the sinks
// of the driving buffer, the driving buffer drives what the removed buffer
// drove (the bus among them), and the removed buffers are destroyed.
// Returns the number of buffers removed.
int kavu_subnet_repair_tristate_chains(CDB_SGATE_NETLIST* netlist);
