// kavu_helper_walk.h — walks over the partition tree and over the atoms of
// an atom netlist, black boxes included.
//
// KAVU_PARTITION_TREE_ITERATOR: pre-order from a start partition: a
//   partition, then its children (each with its subtree) in order, then its
//   next sibling. It keeps a stack of sibling iterators, one per open level,
//   so the tree's depth costs memory, never call depth. Stepping the end is
//   an internal error.
// KAVU_ATOM_ITERATOR: the atoms of a netlist in list order. A recursive walk
//   enters every black box (atom type 3) whose child netlist has atoms to
//   walk and visits those atoms in place of the black box; black boxes whose
//   child is missing or empty are visited themselves; atoms of type 281 are
//   passed over inside black boxes and visited at the top. In a netlist that
//   is not modifiable, a walk asked to use the black-box list walks that
//   list instead of the raw node list. Levels are kept on an explicit stack.
// Neither walk may run while its tree or netlist changes.
#pragma once

#include <vector>

#include "cdb/cdb_atom.h"
#include "zhd/zhd.h"

class KAVU_PARTITION_TREE_ITERATOR {
 public:
  // The end.
  KAVU_PARTITION_TREE_ITERATOR() = default;
  // Starts at `start` (null: the end).
  explicit KAVU_PARTITION_TREE_ITERATOR(ZHD_PARTITION* start) : m_current_sibling(start) {}

  // The current partition; null at the end.
  ZHD_PARTITION* operator*() const;
  ZHD_PARTITION* operator->() const { return **this; }
  KAVU_PARTITION_TREE_ITERATOR& operator++();
  bool operator==(const KAVU_PARTITION_TREE_ITERATOR& o) const { return **this == *o; }
  bool operator!=(const KAVU_PARTITION_TREE_ITERATOR& o) const { return !(*this == o); }

 private:
  typedef ZHD_SIBLING_ITER<ZHD_PARTITION> LEVEL_IT;
  ZHD_PARTITION* m_current_sibling = nullptr;  // the start, until the first step
  std::vector<LEVEL_IT> m_level_iters;
};

class KAVU_ATOM_ITERATOR {
 public:
  // Starts at the netlist's first stop (see the file comment).
  KAVU_ATOM_ITERATOR(const CDB_ATOM_NETLIST* netlist, bool recursive, bool use_blackbox_list);

  // The current atom; null at the end.
  CDB_ATOM_NODE* operator*() const;
  bool at_end() const { return m_stack.empty() && m_current.it == end_of(m_current.netlist); }
  KAVU_ATOM_ITERATOR& operator++();
  KAVU_ATOM_ITERATOR operator++(int);

 private:
  struct POSITION {
    CDB_ATOM_NETLIST::iterator it;
    const CDB_ATOM_NETLIST* netlist;
  };
  CDB_ATOM_NETLIST::iterator begin_of(const CDB_ATOM_NETLIST* netlist) const;
  CDB_ATOM_NETLIST::iterator end_of(const CDB_ATOM_NETLIST* netlist) const;
  void settle();
  bool is_stop() const;
  void step();

  POSITION m_current;
  std::vector<POSITION> m_stack;
  bool m_recursive;
  bool m_use_blackbox_list;
};
