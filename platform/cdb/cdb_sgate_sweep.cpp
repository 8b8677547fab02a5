// cdb_sgate_sweep.cpp — the dead-logic sweep, the graveyard and collection
// of the gate netlist (model in cdb_sgate_netlist.h).
//
// Sweep (mark and collect): every keeper is live; a gate that drives an input
//   of a live gate is live. Marking runs from the keepers backwards over
//   driven inputs with an explicit stack, so loops that reach no keeper stay
//   unmarked and go as well; on acyclic logic this equals "no fan-out".
//   Dead gates have their inputs disconnected, are unlinked and wait in the
//   graveyard until the next collection; survivors keep their order.
// Graveyard: a gate in it keeps the netlist's address as a tag (no record),
//   so destroying it by hand cannot leave a dangling entry.
// Visit marks are stamps: a fresh pair per walk, no clearing pass.
// Cost: O(gates + terminals), no recursion, scratch vectors per call.
#include <algorithm>

#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_netlist.h"
#include "msg/msg.h"

// ---------------------------------------------------------------------------
// Collection

void CDB_SGATE_NETLIST::destroy_graveyard() {
  std::vector<CDB_SGATE_NODE*> dead;
  dead.swap(m_graveyard);
  for (CDB_SGATE_NODE* n : dead) {
    n->set_graveyard(nullptr);  // already out of the vector
    delete n;
  }
}

void CDB_SGATE_NETLIST::prepare_for_use() { destroy_graveyard(); }

int CDB_SGATE_NETLIST::sweep_if_dirty() { return m_dirty ? sweep(false) : 0; }

int CDB_SGATE_NETLIST::garbage_collect(bool compact_list, bool sweep_first) {
  if (sweep_first) sweep(false);
  std::vector<CDB_SGATE_NODE*> marked;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (n && n->is_marked_for_deletion() && (m_collect_atoms || !n->is_wysiwyg())) marked.push_back(n);
  }
  int count = int(marked.size() + m_graveyard.size());
  for (CDB_SGATE_NODE* n : marked) unlink(n);
  for (CDB_SGATE_NODE* n : marked) delete n;
  destroy_graveyard();
  if (compact_list) compact();
  return count;
}

void CDB_SGATE_NETLIST::compact() {
  std::vector<CDB_SGATE_NODE*> order;
  order.reserve(m_nodes.size());
  for (iterator it = begin_node_list(); it != end_node_list(); ++it)
    if (CDB_SGATE_NODE* n = *it) order.push_back(n);
  relink_in_order(order);
}

// ---------------------------------------------------------------------------
// Sweep

bool CDB_SGATE_NODE::is_sweep_keeper() const {
  switch (get_sgate_type()) {
    case CDB_SGATE_IO_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_COMPONENT_ENUM:
      return true;
    default:
      return false;
  }
}

namespace {

// The keeper rule without a virtual call for the kinds whose rule is fixed
// by their type; the other kinds (buffers, registers, atoms) answer themselves.
bool is_keeper(const CDB_SGATE_NODE* n) {
  if (n->kff_in_force()) return true;
  switch (n->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_LATCH_ENUM:
      return false;
    case CDB_SGATE_IO_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_COMPONENT_ENUM:
      return true;
    default:
      return n->is_sweep_keeper();
  }
}

}  // namespace

// Marking runs over the node list backwards, so that on a list in
// topological order every gate is decided after all of its readers and the
// walk moves through memory in order. Three stamps: `passed` (the walk went
// by, not live so far), `pending` (live, its sources not marked yet; the walk
// has not reached it) and `live` (its sources marked). A source found live
// after the walk passed it (a list out of order, or a loop) is finished at
// once with an explicit stack.
int CDB_SGATE_NETLIST::sweep(bool aggressive) {
  PLAT_CHECK(!aggressive, "CDB");
  const uint32_t passed = next_stamp();
  const uint32_t pending = passed + 1;
  const uint32_t live = next_stamp();
  std::vector<CDB_SGATE_NODE*> stack;
  auto mark_sources = [&](CDB_SGATE_NODE* n) {
    n->m_stamp = live;
    for (CDB_SGATE_ITERM* t : n->m_iterms) {
      if (!t || !t->m_source) continue;
      CDB_SGATE_NODE* src = t->m_source->m_node;
      if (src->m_netlist != this) continue;
      const uint32_t s = src->m_stamp;
      if (s == live || s == pending) continue;
      if (s == passed) {
        src->m_stamp = live;
        stack.push_back(src);
      } else {
        src->m_stamp = pending;
      }
    }
  };
  std::vector<CDB_SGATE_NODE*> gates;
  gates.reserve(m_nodes.size());
  for (iterator it = begin_node_list(); it != end_node_list(); ++it)
    if (CDB_SGATE_NODE* n = *it) gates.push_back(n);
  // A gate's sources sit mostly in the gates the walk reaches soon after it,
  // and a source is first touched at random when a reader marks it. Fetching
  // the gates (and their first output terminal) a fixed distance ahead of
  // the walk turns those first touches into cache hits; the walk reaches
  // every prefetched gate anyway.
  constexpr size_t kAhead = 1024, kAheadGate = kAhead + 32;
  for (size_t i = gates.size(); i-- > 0;) {
    if (i >= kAheadGate) {
      const CDB_SGATE_NODE* far = gates[i - kAheadGate];
      __builtin_prefetch(&far->m_oterms);
      __builtin_prefetch(&far->m_stamp);
    }
    if (i >= kAhead) {
      const CDB_SGATE_NODE* near = gates[i - kAhead];
      if (!near->m_oterms.empty()) __builtin_prefetch(near->m_oterms.begin()[0]);
    }
    CDB_SGATE_NODE* n = gates[i];
    if (n->m_stamp == live) continue;  // finished from the stack
    if (n->m_stamp != pending && !is_keeper(n)) {
      n->m_stamp = passed;
      continue;
    }
    mark_sources(n);
    while (!stack.empty()) {
      CDB_SGATE_NODE* g = stack.back();
      stack.pop_back();
      mark_sources(g);
    }
  }
  // Collect the dead in list order, then cut them loose.
  std::vector<CDB_SGATE_NODE*>& dead = stack;
  for (CDB_SGATE_NODE* n : gates)
    if (n->m_stamp != live) dead.push_back(n);
  // Each input is disconnected as disconnect_from_source(state 2) would:
  // this netlist ends clean below, so only a source in another netlist needs
  // telling that it changed.
  for (CDB_SGATE_NODE* n : dead) {
    for (CDB_SGATE_ITERM* t : n->m_iterms) {
      if (!t) continue;
      if (CDB_SGATE_OTERM* src = t->m_source) {
        CDB_SGATE_NETLIST* owner = src->m_node->m_netlist;
        if (owner && owner != this) owner->set_dirty();
        t->unlink_from_chain();
      }
      t->m_bits &= uint8_t(~CDB_TERM_CONNECTED);
    }
    unlink(n);
    n->set_graveyard(this);
  }
  m_graveyard.insert(m_graveyard.end(), dead.begin(), dead.end());
  m_dirty = false;
  return int(dead.size());
}

