// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Object model").
// cdb_port_table_int.h — what the kinds with a port table (components and
// operators) share: the membership test of a terminal in a gate's list and
// the copying of port bits into a clone.
//
// Model: a port entry exposes get_width(), get_iterm(i) and get_oterm(i);
//   its bits live in two vectors sized to the width, which the owning kind
//   (a friend of the entry) passes in. A clone made by clone_base_into holds
//   its terminals in the same list slots as the original, so a bit's copy is
//   the clone's terminal in the slot the original's terminal holds.
// Invariants: a bit whose terminal is in neither of the original's lists
//   stays empty in the copy; no terminal of the original leaks into it.
// Cost: building the slot map is O(terminals) with one hash entry each;
//   copying a port is O(width) lookups. Results do not depend on hash order
//   (the maps are only looked up, never walked).
#pragma once

#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate_node.h"

namespace kavu_platform {

// True when t is one of the list's entries (a linear scan: gate lists are short).
template <typename LIST, typename TERM>
bool cdb_list_contains(const LIST& list, const TERM* t) {
  for (unsigned i = 0; i < list.size(); ++i)
    if (list[i] == t) return true;
  return false;
}

// The slot of every terminal of an original gate, to find the clone's
// terminal that stands in for it.
class CDB_CLONE_TERM_SLOTS {
 public:
  CDB_CLONE_TERM_SLOTS(const CDB_SGATE_NODE* original, const CDB_SGATE_NODE* copy) : m_copy(copy) {
    for (unsigned s = 0; s < original->get_number_of_input_terms(); ++s)
      if (original->get_input_term(s)) m_in_slot[original->get_input_term(s)] = s;
    for (unsigned s = 0; s < original->get_output_count(); ++s)
      if (original->get_output_term(s)) m_out_slot[original->get_output_term(s)] = s;
  }

  // Sizes iterms and oterms to the width of the original port p and fills
  // each bit with the clone's terminal from the slot p's terminal holds.
  template <typename PORT>
  void copy_bits(const PORT& p, std::vector<CDB_SGATE_ITERM*>& iterms, std::vector<CDB_SGATE_OTERM*>& oterms) const {
    iterms.assign(p.get_width(), nullptr);
    oterms.assign(p.get_width(), nullptr);
    for (unsigned i = 0; i < p.get_width(); ++i) {
      auto in = m_in_slot.find(p.get_iterm(i));
      if (in != m_in_slot.end()) iterms[i] = m_copy->get_input_term(in->second);
      auto out = m_out_slot.find(p.get_oterm(i));
      if (out != m_out_slot.end()) oterms[i] = m_copy->get_output_term(out->second);
    }
  }

 private:
  const CDB_SGATE_NODE* m_copy;
  std::unordered_map<const CDB_SGATE_ITERM*, unsigned> m_in_slot;
  std::unordered_map<const CDB_SGATE_OTERM*, unsigned> m_out_slot;
};

}  // namespace kavu_platform
