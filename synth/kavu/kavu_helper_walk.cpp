// kavu_helper_walk.cpp — the pre-order partition walk and the atom walk.
//
// Partition walk: the current partition is the start partition until the
//   first step, then the one under the top sibling iterator. A step from p
//   first moves p's level on to p's next sibling (dropping the level when
//   there is none) and then opens p's children as a new level, so children
//   come before the next sibling.
// Atom walk: one step moves to the next list element and settles: it
//   descends into black boxes with atoms to walk (saving the position) and,
//   at the end of a child netlist, returns to the saved black box; steps
//   repeat until the position is a stop. A black box the walk returned to is
//   no stop, so the next step moves past it.
// Cost: each step is amortised O(1) per visited partition or atom plus the
//   black boxes passed; memory is one stack entry per open level.
#include "kavu_helper_walk.h"

#include "kavu_check.h"

namespace {

// Atoms of this type are the atom database's own inside black boxes.
constexpr CDB_WYSIWYG_TYPE kHiddenInBlackbox = 281;

const CDB_ATOM_NETLIST* child_of(CDB_ATOM_NODE* blackbox) {
  const auto* box = dynamic_cast<const CDB_ATOM_BLACKBOX*>(blackbox);
  return box ? box->get_child_netlist() : nullptr;
}

}  // namespace

// ---------------------------------------------------------------- partitions

ZHD_PARTITION* KAVU_PARTITION_TREE_ITERATOR::operator*() const {
  if (m_current_sibling) return m_current_sibling;
  return m_level_iters.empty() ? nullptr : m_level_iters.back().get();
}

KAVU_PARTITION_TREE_ITERATOR& KAVU_PARTITION_TREE_ITERATOR::operator++() {
  if (m_current_sibling) {
    if (!m_current_sibling->is_leaf()) m_level_iters.push_back(m_current_sibling->begin_child());
    m_current_sibling = nullptr;
    return *this;
  }
  if (m_level_iters.empty()) KAVU_INTERNAL_ERROR("Increment operator called on past-the-end iterator!");
  LEVEL_IT& level_iter = m_level_iters.back();
  KAVU_CHECK(level_iter != LEVEL_IT{});
  ZHD_PARTITION* p = level_iter.get();
  ++level_iter;
  if (level_iter == LEVEL_IT{}) m_level_iters.pop_back();
  if (!p->is_leaf()) m_level_iters.push_back(p->begin_child());
  return *this;
}

// ---------------------------------------------------------------- atoms

KAVU_ATOM_ITERATOR::KAVU_ATOM_ITERATOR(const CDB_ATOM_NETLIST* netlist, bool recursive,
                                       bool use_blackbox_list)
    : m_recursive(recursive), m_use_blackbox_list(use_blackbox_list) {
  KAVU_CHECK(netlist);
  m_current = {begin_of(netlist), netlist};
  settle();
  while (!is_stop()) step();
}

CDB_ATOM_NETLIST::iterator KAVU_ATOM_ITERATOR::begin_of(const CDB_ATOM_NETLIST* netlist) const {
  return m_use_blackbox_list && !netlist->is_modifiable() ? netlist->begin_blackboxes()
                                                           : netlist->begin_raw_node_list();
}

CDB_ATOM_NETLIST::iterator KAVU_ATOM_ITERATOR::end_of(const CDB_ATOM_NETLIST* netlist) const {
  return m_use_blackbox_list && !netlist->is_modifiable() ? netlist->end_blackboxes()
                                                           : netlist->end_raw_node_list();
}

CDB_ATOM_NODE* KAVU_ATOM_ITERATOR::operator*() const {
  return m_current.it == end_of(m_current.netlist) ? nullptr : *m_current.it;
}

void KAVU_ATOM_ITERATOR::settle() {
  if (m_recursive) {
    while (m_current.it != end_of(m_current.netlist)) {
      CDB_ATOM_NODE* atom = *m_current.it;
      KAVU_CHECK(atom);
      if (cdb_get_atom_type(atom) != CDB_ATOM_TYPE_BLACKBOX) break;
      const CDB_ATOM_NETLIST* child = child_of(atom);
      if (!child || child->empty() || begin_of(child) == end_of(child)) break;
      m_stack.push_back(m_current);
      m_current = {begin_of(child), child};
    }
  }
  if (m_current.it == end_of(m_current.netlist) && !m_stack.empty()) {
    KAVU_CHECK(m_current.it == end_of(m_current.netlist));
    KAVU_CHECK(!m_stack.empty());
    m_current = m_stack.back();
    m_stack.pop_back();
    KAVU_CHECK(m_current.it != end_of(m_current.netlist));
  }
}

bool KAVU_ATOM_ITERATOR::is_stop() const {
  if (!m_recursive || at_end()) return true;
  if (m_current.it == end_of(m_current.netlist)) return false;
  CDB_ATOM_NODE* atom = *m_current.it;
  const CDB_WYSIWYG_TYPE type = cdb_get_atom_type(atom);
  if (type == CDB_ATOM_TYPE_BLACKBOX) {
    const CDB_ATOM_NETLIST* child = child_of(atom);
    return !child || child->empty();
  }
  if (type == kHiddenInBlackbox) return m_stack.empty();
  return true;
}

void KAVU_ATOM_ITERATOR::step() {
  ++m_current.it;
  settle();
}

KAVU_ATOM_ITERATOR& KAVU_ATOM_ITERATOR::operator++() {
  KAVU_CHECK(!at_end());
  do {
    step();
  } while (!is_stop());
  return *this;
}

KAVU_ATOM_ITERATOR KAVU_ATOM_ITERATOR::operator++(int) {
  KAVU_ATOM_ITERATOR old = *this;
  ++*this;
  return old;
}
