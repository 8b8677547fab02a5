// cdb_sgate_sweep.cpp — dead-logic sweep and topological ordering of a netlist.
//
// Sweep (mark and collect): every keeper is live; a gate that drives an input
//   of a live gate is live. Marking runs from the keepers backwards over
//   driven inputs with an explicit stack, so loops that reach no keeper stay
//   unmarked and go as well; on acyclic logic this equals "no fan-out".
//   Dead gates have their inputs disconnected, are unlinked and wait in the
//   graveyard until the next collection; survivors keep their order.
// Ordering: a depth-first post-order over driven inputs, started from the
//   gates in list order, with an explicit stack of (gate, next input) frames.
//   Registers, latches, input and bidirectional pins and input boundaries
//   start the order and their inputs are not followed (the sequential cut);
//   an input whose source is still on the stack closes a loop and is skipped.
//   A list that is already topological keeps its order.
// Visit marks are stamps: a fresh pair per walk, no clearing pass.
// Cost: O(gates + terminals) each, no recursion, one scratch vector per call.
#include <algorithm>

#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_netlist.h"
#include "msg/msg.h"

namespace {

uint32_t g_stamp = 0;

bool starts_order(const CDB_SGATE_NODE* n) {
  switch (n->get_sgate_type()) {
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LATCH_ENUM:
      return true;
    case CDB_SGATE_IO_ENUM:
      return !n->is_output();
    case CDB_SGATE_BOUNDARY_ENUM:
      return n->cast_to_boundary()->get_direction() == CDB_BOUNDARY_INPUT;
    default:
      return n->get_reg_flags() != nullptr;  // flip-flop atoms
  }
}

struct SORT_FRAME {
  CDB_SGATE_NODE* m_node;
  unsigned m_next;
};

}  // namespace

uint32_t CDB_SGATE_NETLIST::next_stamp() {
  g_stamp += 2;
  if (g_stamp < 2) g_stamp = 2;  // 0 is the value of never-visited gates
  return g_stamp;
}

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

int CDB_SGATE_NETLIST::sweep(bool aggressive) {
  PLAT_CHECK(!aggressive, "CDB");
  const uint32_t live = next_stamp();
  std::vector<CDB_SGATE_NODE*> stack;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (n && (n->kff_in_force() || n->is_sweep_keeper())) {
      n->m_stamp = live;
      stack.push_back(n);
    }
  }
  while (!stack.empty()) {
    CDB_SGATE_NODE* n = stack.back();
    stack.pop_back();
    for (CDB_SGATE_ITERM* t : n->m_iterms) {
      if (!t || !t->get_source()) continue;
      CDB_SGATE_NODE* src = t->get_source()->get_my_node();
      if (src->m_netlist == this && src->m_stamp != live) {
        src->m_stamp = live;
        stack.push_back(src);
      }
    }
  }
  // Collect the dead in list order, then cut them loose.
  std::vector<CDB_SGATE_NODE*>& dead = stack;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (n && n->m_stamp != live) dead.push_back(n);
  }
  for (CDB_SGATE_NODE* n : dead) {
    for (CDB_SGATE_ITERM* t : n->m_iterms)
      if (t) t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    unlink(n);
    n->m_graveyard = this;
    m_graveyard.push_back(n);
  }
  m_dirty = false;
  return int(dead.size());
}

void CDB_SGATE_NETLIST::order_topologically(std::vector<CDB_SGATE_NODE*>& order) {
  const uint32_t on_stack = next_stamp();
  const uint32_t done = on_stack + 1;
  order.clear();
  order.reserve(m_nodes.size());
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (n && starts_order(n)) {
      n->m_stamp = done;
      order.push_back(n);
    }
  }
  std::vector<SORT_FRAME> stack;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* root = *it;
    if (!root || root->m_stamp == done) continue;
    root->m_stamp = on_stack;
    stack.push_back({root, 0});
    while (!stack.empty()) {
      SORT_FRAME& f = stack.back();
      CDB_SGATE_NODE* g = f.m_node;
      if (f.m_next < g->m_iterms.size()) {
        CDB_SGATE_ITERM* t = g->m_iterms[f.m_next++];
        if (!t || !t->get_source()) continue;
        CDB_SGATE_NODE* src = t->get_source()->get_my_node();
        // Sources outside this netlist, finished gates and loop edges end here.
        if (src->m_netlist != this || src->m_stamp == done || src->m_stamp == on_stack) continue;
        src->m_stamp = on_stack;
        stack.push_back({src, 0});  // f may dangle from here on
        continue;
      }
      g->m_stamp = done;
      order.push_back(g);
      stack.pop_back();
    }
  }
}

void CDB_SGATE_NETLIST::garbage_collect_and_sort(bool, std::vector<CDB_SGATE_NODE*>& nodes) {
  garbage_collect(false, false);
  order_topologically(nodes);
  relink_in_order(nodes);
}

void CDB_SGATE_NETLIST::sort_by_dag_order(int rank_order) {
  PLAT_CHECK(rank_order == INPUTS_FIRST || rank_order == OUTPUTS_FIRST, "CDB");
  std::vector<CDB_SGATE_NODE*> order;
  order_topologically(order);
  if (rank_order == OUTPUTS_FIRST) std::reverse(order.begin(), order.end());
  relink_in_order(order);
}

void CDB_SGATE_NETLIST::dfs(int, bool, bool, bool) { sort_by_dag_order(INPUTS_FIRST); }
