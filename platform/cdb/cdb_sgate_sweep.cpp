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
// Cost: O(gates + terminals), no recursion, scratch vectors per call (the
//   list of passed gates keeps its storage per thread).
#include <algorithm>

#include "cdb/cdb_sgate_kinds.h"
#include "cdb/cdb_sgate_netlist.h"
#include "cdb/cdb_sgate_pool.h"
#include "msg/msg.h"

// ---------------------------------------------------------------------------
// Collection: the marked gates (device atoms only with the collection
// switch on) are unlinked, then they and the graveyard are destroyed. A
// compacting collection finds the marked gates in the same pass that moves
// the survivors down, so each survivor is read once and written only when
// it moves; gates before the first hole are not written at all.

namespace {

inline void fetch(const void* p) { __builtin_prefetch(p); }
inline void fetch_for_write(const void* p) { __builtin_prefetch(p, 1); }

// Fetches the cells of the first four entries of a terminal list without a
// loop whose length the processor would have to guess (input counts vary
// from gate to gate): a shorter list fetches its first entry again, and
// null entries fetch nothing.
template <class LIST>
inline void fetch_first_four(const LIST& list, bool for_write = false) {
  const size_t n = list.size();
  if (n == 0) return;
  const auto* b = list.begin();
  const void* cells[4] = {b[0], b[n > 1 ? 1 : 0], b[n > 2 ? 2 : 0], b[n > 3 ? 3 : 0]};
  for (const void* c : cells) {
    if (for_write) __builtin_prefetch(c, 1);
    else __builtin_prefetch(c);
  }
}

}  // namespace

bool CDB_SGATE_NETLIST::is_collected(const CDB_SGATE_NODE* n) const {
  return n->is_marked_for_deletion() && (m_collect_atoms || !n->is_wysiwyg());
}

// Gives back the cells of those terminals of a gate whose destructors would
// do nothing else: an input with no source and no side record, an output
// with no reader and no side record (what the sweep leaves behind). Other
// terminals are destroyed as usual. Cells go back in the order the gate's
// destructor would release them (inputs, outputs, then the gate), so the
// pool ends in the same state, and the destructor then finds empty lists.
// Only kinds whose own destructors never look at their terminals qualify,
// and gates listed by state machines keep the usual order (machines first).
void CDB_SGATE_NETLIST::release_plain_terms(CDB_SGATE_NODE* n) {
  switch (n->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_LATCH_ENUM:
      break;
    default:
      return;
  }
  if (n->m_extra && n->m_extra->m_machines) return;
  for (CDB_SGATE_ITERM* t : n->m_iterms) {
    if (!t) continue;
    if (t->m_source || t->m_extra) delete t;
    else kavu_platform::cdb_pool_release(t, sizeof(CDB_SGATE_ITERM));
  }
  n->m_iterms.clear();
  for (CDB_SGATE_OTERM* o : n->m_oterms) {
    if (!o) continue;
    if (o->m_count || o->m_extra) {
      delete o;
      continue;
    }
    if (o->m_cap_log) kavu_platform::cdb_pool_release(o->m_block, CDB_SGATE_OTERM::block_bytes(o->capacity()));
    kavu_platform::cdb_pool_release(o, sizeof(CDB_SGATE_OTERM));
  }
  n->m_oterms.clear();
}

// Destroys the gates, fetching each gate, then its terminals and then their
// chain blocks a few places ahead of its turn: a graveyard is read in the
// order its gates died, which is mostly the order they were made.
void CDB_SGATE_NETLIST::destroy_gates(std::vector<CDB_SGATE_NODE*>& gates) {
  constexpr size_t kAheadGate = 24, kAheadTerms = 12, kAheadBlocks = 6;
  const size_t count = gates.size();
  for (size_t k = 0; k < count; ++k) {
    if (k + kAheadGate < count) {
      const CDB_SGATE_NODE* g = gates[k + kAheadGate];
      fetch_for_write(&g->m_iterms);
      fetch_for_write(&g->m_extra);
    }
    if (k + kAheadTerms < count) {
      const CDB_SGATE_NODE* g = gates[k + kAheadTerms];
      fetch_first_four(g->m_iterms, true);
      fetch_first_four(g->m_oterms, true);
    }
    if (k + kAheadBlocks < count) {
      const CDB_SGATE_NODE* g = gates[k + kAheadBlocks];
      if (!g->m_oterms.empty())
        if (const CDB_SGATE_OTERM* o = g->m_oterms.begin()[0]; o && o->m_cap_log) fetch_for_write(o->m_block);
    }
    CDB_SGATE_NODE* n = gates[k];
    n->set_graveyard(nullptr);  // out of any graveyard vector already
    release_plain_terms(n);
    delete n;
  }
}

void CDB_SGATE_NETLIST::destroy_graveyard() {
  std::vector<CDB_SGATE_NODE*> dead;
  dead.swap(m_graveyard);
  destroy_gates(dead);
}

void CDB_SGATE_NETLIST::prepare_for_use() { destroy_graveyard(); }

int CDB_SGATE_NETLIST::sweep_if_dirty() { return m_dirty ? sweep(false) : 0; }

int CDB_SGATE_NETLIST::garbage_collect(bool compact_list, bool sweep_first) {
  if (sweep_first) sweep(false);
  std::vector<CDB_SGATE_NODE*> marked;
  if (compact_list) {
    m_nodes.compact_in_place(
        [&](CDB_SGATE_NODE* n, CDB_SGATE_NODE** slot, bool moved) {
          if (is_collected(n)) {
            unlinked(n);
            marked.push_back(n);
            return false;
          }
          if (moved) n->m_slot = slot;
          return true;
        },
        [](const CDB_SGATE_NODE* n, bool moves) {
          fetch(&n->m_bytes);
          if (moves) fetch_for_write(&n->m_slot);
        });
  } else {
    for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
      CDB_SGATE_NODE* n = *it;
      if (n && is_collected(n)) marked.push_back(n);
    }
    for (CDB_SGATE_NODE* n : marked) unlink(n);
  }
  const int count = int(marked.size() + m_graveyard.size());
  destroy_gates(marked);
  destroy_graveyard();
  return count;
}

// ---------------------------------------------------------------------------
// Sweep

namespace {

// Kinds every sweep keeps, whatever reads them.
bool is_always_kept(CDB_SGATE_TYPE type) {
  switch (type) {
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

}  // namespace

bool CDB_SGATE_NODE::is_sweep_keeper() const { return is_always_kept(get_sgate_type()); }

namespace {

// The keeper rule without a virtual call for the kinds whose rule is fixed
// by their type; the other kinds (buffers, registers, atoms) answer themselves.
bool is_keeper(const CDB_SGATE_NODE* n) {
  if (n->kff_in_force()) return true;
  const CDB_SGATE_TYPE type = n->get_sgate_type();
  if (is_always_kept(type)) return true;
  switch (type) {
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_LATCH_ENUM:
      return false;
    default:
      return n->is_sweep_keeper();
  }
}

// The node list's slots (live or emptied) as one index range: only the last
// bunch of a bunched list is partly used.
class SLOT_INDEX {
 public:
  explicit SLOT_INDEX(const CDB_SGATE_NODE_LIST& list) {
    for (const CDB_SGATE_NODE_LIST::BUNCH* b = list.first_bunch(); b; b = b->m_next) {
      m_bunches.push_back(b);
      m_size += b->m_used;
    }
  }
  size_t size() const { return m_size; }
  // The gate in slot i; null for an emptied slot.
  CDB_SGATE_NODE* operator[](size_t i) const {
    CDB_SGATE_NODE* p = m_bunches[i / kBunch]->m_slots[i % kBunch];
    return CDB_SGATE_NODE_LIST::is_empty_value(p) ? nullptr : p;
  }

 private:
  static constexpr size_t kBunch = sizeof(CDB_SGATE_NODE_LIST::BUNCH::m_slots) / sizeof(CDB_SGATE_NODE*);
  std::vector<const CDB_SGATE_NODE_LIST::BUNCH*> m_bunches;
  size_t m_size = 0;
};

}  // namespace

// Marking runs over the node list backwards, so that on a list in
// topological order every gate is decided after all of its readers and the
// walk moves through memory in order. Three stamps: `passed` (the walk went
// by, not live so far), `pending` (live, its sources not marked yet; the walk
// has not reached it) and `live` (its sources marked). A source found live
// after the walk passed it (a list out of order, a loop, or a mark that
// arrived late, below) is finished at once with an explicit stack.
//
// Each input of a live gate reaches its source gate through the source's
// output terminal. Those edges go through two short queues: an output
// terminal is fetched when it enters the first and read when it leaves it,
// the source gate it names is fetched then and decided when it leaves the
// second, so the walk never waits for one cell after another. A source the
// walk passes before its edge leaves the queues is finished from the stack.
int CDB_SGATE_NETLIST::sweep(bool aggressive) {
  PLAT_CHECK(!aggressive, "CDB");
  const uint32_t passed = next_stamp();
  const uint32_t pending = passed + 1;
  const uint32_t live = next_stamp();
  const SLOT_INDEX slots(m_nodes);
  std::vector<CDB_SGATE_NODE*> stack;
  auto reach = [&](CDB_SGATE_NODE* src) {
    // A gate of another netlist never carries this walk's stamps, so the
    // stamp is read first and most edges end there.
    const uint32_t s = src->m_stamp;
    if (s == live || s == pending || src->m_netlist != this) return;
    if (s == passed) {
      src->m_stamp = live;
      stack.push_back(src);
    } else {
      src->m_stamp = pending;
    }
  };
  auto finish_stack = [&]() {
    while (!stack.empty()) {
      CDB_SGATE_NODE* g = stack.back();
      stack.pop_back();
      g->m_stamp = live;
      for (CDB_SGATE_ITERM* t : g->m_iterms)
        if (t && t->m_source) reach(t->m_source->m_node);
    }
  };
  constexpr size_t kQueue = 32, kDelay = 12;
  CDB_SGATE_OTERM* oterms[kQueue];
  CDB_SGATE_NODE* sources[kQueue];
  size_t o_in = 0, o_out = 0, s_in = 0, s_out = 0;
  auto decide_one = [&]() {
    reach(sources[s_out++ % kQueue]);
    finish_stack();
  };
  auto read_one = [&]() {
    CDB_SGATE_NODE* src = oterms[o_out++ % kQueue]->m_node;
    fetch(&src->m_netlist);
    fetch(&src->m_stamp);
    sources[s_in++ % kQueue] = src;
    if (s_in - s_out > kDelay) decide_one();
  };
  // Gates the walk passed without finding them live, latest first; most of
  // them stay dead, so the dead are picked from here rather than from a
  // second pass over every gate. The list keeps its storage per thread from
  // one sweep to the next: on a large netlist the first writes to freshly
  // mapped pages cost a tenth of the walk.
  static thread_local std::vector<CDB_SGATE_NODE*> t_passed;
  std::vector<CDB_SGATE_NODE*> maybe_dead;
  maybe_dead.swap(t_passed);
  maybe_dead.clear();
  maybe_dead.reserve(slots.size());
  // Ahead of the walk: every gate's stamp; for a gate already found live
  // (most readers of a gate come before it in the walk), its input list and
  // then its input terminals.
  constexpr size_t kStamp = 256, kInputs = 32, kTerms = 16;
  auto wanted = [&](const CDB_SGATE_NODE* g) { return g && g->m_stamp == pending; };
  for (size_t i = slots.size(); i-- > 0;) {
    if (i >= kStamp)
      if (const CDB_SGATE_NODE* g = slots[i - kStamp]) fetch(&g->m_stamp);
    if (i >= kInputs)
      if (const CDB_SGATE_NODE* g = slots[i - kInputs]; wanted(g)) fetch(&g->m_iterms);
    if (i >= kTerms)
      if (const CDB_SGATE_NODE* g = slots[i - kTerms]; wanted(g)) fetch_first_four(g->m_iterms);
    CDB_SGATE_NODE* n = slots[i];
    if (!n || n->m_stamp == live) continue;  // emptied, or finished from the stack
    if (n->m_stamp != pending && !is_keeper(n)) {
      n->m_stamp = passed;
      maybe_dead.push_back(n);
      continue;
    }
    n->m_stamp = live;
    for (CDB_SGATE_ITERM* t : n->m_iterms) {
      if (!t || !t->m_source) continue;
      fetch(t->m_source);
      oterms[o_in++ % kQueue] = t->m_source;
      if (o_in - o_out > kDelay) read_one();
    }
  }
  while (o_out != o_in) read_one();
  while (s_out != s_in) decide_one();
  const size_t first_dead = m_graveyard.size();
  detach_dead(maybe_dead, passed);
  t_passed.swap(maybe_dead);
  m_dirty = false;
  return int(m_graveyard.size() - first_dead);
}

// Cuts the dead gates loose and lays them in the graveyard in list order:
// `maybe_dead` holds the gates the walk passed, latest first, and those
// still stamped `dead_stamp` are dead (the others were found live later).
// Each input is disconnected as disconnect_from_source(state 2) would: this
// netlist ends clean, so only a source in another netlist needs telling that
// it changed. The walk fetches each gate and then its terminals a little
// ahead of its turn; a dead gate's sources are mostly dead gates met a
// little earlier, so the output terminals those inputs leave are still in
// cache.
void CDB_SGATE_NETLIST::detach_dead(const std::vector<CDB_SGATE_NODE*>& maybe_dead, uint32_t dead_stamp) {
  constexpr size_t kAheadGate = 48, kAheadTerms = 32, kAheadBlocks = 16;
  const size_t count = maybe_dead.size();
  m_graveyard.reserve(m_graveyard.size() + count);
  for (size_t k = count; k-- > 0;) {
    if (k >= kAheadGate) {
      const CDB_SGATE_NODE* g = maybe_dead[k - kAheadGate];
      fetch(&g->m_iterms);
      fetch(&g->m_stamp);
    }
    if (k >= kAheadTerms) {
      const CDB_SGATE_NODE* g = maybe_dead[k - kAheadTerms];
      fetch_first_four(g->m_iterms);
      fetch_first_four(g->m_oterms);
    }
    if (k >= kAheadBlocks) {  // the readers of a dead gate's output come after it
      const CDB_SGATE_NODE* g = maybe_dead[k - kAheadBlocks];
      if (!g->m_oterms.empty())
        if (const CDB_SGATE_OTERM* o = g->m_oterms.begin()[0]; o && o->m_count) fetch(o->slots() + o->m_head);
    }
    CDB_SGATE_NODE* n = maybe_dead[k];
    if (n->m_stamp != dead_stamp) continue;
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
    m_graveyard.push_back(n);
  }
}
