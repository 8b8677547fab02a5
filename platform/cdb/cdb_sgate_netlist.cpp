// cdb_sgate_netlist.cpp — the netlist's node list, collection, dead-logic
// sweep, topological ordering, pins, dynamic flags, records and the
// database's free functions.
//
// Lifetime: linked gates and graveyard gates are owned by the netlist. A gate
// knows its slot (O(1) unlink) and, while in a graveyard, which netlist's
// graveyard holds it, so that destroying it by hand cannot leave a dangling
// graveyard entry. Compaction (garbage_collect(true, …), sorting) rebuilds
// the node list and tells each gate its new slot.
// Cost: add and unlink O(1) (pins O(pins of that kind)); collection O(gates).
#include "cdb/cdb_sgate_netlist.h"

#include <algorithm>
#include <atomic>
#include <numeric>

#include "cdb/cdb_sgate_kinds.h"
#include "cfg/cfg.h"
#include "msg/msg.h"

CDB_SGATE_NETLIST::CDB_SGATE_NETLIST() { m_flag_manager.set_clear_function(&clear_dyn_bits, this); }

CDB_SGATE_NETLIST::CDB_SGATE_NETLIST(bool is_partition, int number, int first_debug_number)
    : CDB_SGATE_NETLIST() {
  m_is_partition = is_partition;
  m_number = number;
  m_first_debug_number = first_debug_number;
  if (first_debug_number > 0 && unsigned(first_debug_number) > CDB_SGATE_NODE::s_debug_counter)
    CDB_SGATE_NODE::s_debug_counter = unsigned(first_debug_number);
}

CDB_SGATE_NETLIST::~CDB_SGATE_NETLIST() {
  reset_info_functions_and_delete();
  if (m_machines) {  // owned machines drop their references to the gates first
    for (CDB_STATE_MACHINE* m : *m_machines) delete m;
    delete m_machines;
  }
  std::vector<CDB_SGATE_NODE*> nodes;
  nodes.reserve(m_nodes.size());
  for (iterator it = begin_node_list(); it != end_node_list(); ++it)
    if (CDB_SGATE_NODE* n = *it) nodes.push_back(n);
  for (CDB_SGATE_NODE* n : nodes) delete n;  // each unlinks itself
  destroy_graveyard();
  delete m_high_speed;
  if (m_hierarchy && m_hierarchy->get_netlist() == this) m_hierarchy->set_netlist(nullptr);
}

// ---------------------------------------------------------------------------
// Linking

void CDB_SGATE_NETLIST::add_node(CDB_SGATE_NODE* node, bool) {
  PLAT_CHECK(node != nullptr, "CDB");
  if (node->m_netlist == this) return;
  // One gate in two lists would corrupt both.
  PLAT_CHECK(node->m_netlist == nullptr, "CDB");
  if (CDB_SGATE_NETLIST* grave = node->graveyard()) {
    std::vector<CDB_SGATE_NODE*>& g = grave->m_graveyard;
    g.erase(std::find(g.begin(), g.end(), node));
    node->set_graveyard(nullptr);
  }
  node->m_slot = m_nodes.append(node);
  node->m_netlist = this;
  if (node->ex().m_max_fanout_limit > 0) ++m_num_max_fanout;
  // Bits that are not live here must read clear (they may come from elsewhere).
  uint32_t live = m_flag_manager.get_live_mask();
  node->m_dyn &= live;
  for (CDB_SGATE_OTERM* o : node->m_oterms)
    if (o) o->m_dyn &= live;
  for (CDB_SGATE_ITERM* t : node->m_iterms)
    if (t) t->m_dyn &= live;
  register_pin(node);
  if (m_node_info_set) m_node_info_set(node);
}

void CDB_SGATE_NETLIST::unlink(CDB_SGATE_NODE* node) {
  m_nodes.erase(node->m_slot);
  node->m_slot = nullptr;
  node->m_netlist = nullptr;
  if (node->ex().m_max_fanout_limit > 0) --m_num_max_fanout;
  unregister_pin(node);
  m_dirty = true;
}

void CDB_SGATE_NETLIST::delete_node(CDB_SGATE_NODE* node) {
  PLAT_CHECK(node != nullptr && node->m_netlist == this, "CDB");
  unlink(node);
}

void CDB_SGATE_NETLIST::delete_node(iterator& it) {
  CDB_SGATE_NODE* node = *it;
  PLAT_CHECK(node != nullptr, "CDB");
  delete_node(node);
}

int CDB_SGATE_NETLIST::delete_flagged_nodes() {
  int count = 0;
  for (iterator it = begin_node_list(); it != end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (n && n->is_marked_for_deletion()) {
      unlink(n);
      ++count;
    }
  }
  return count;
}

void CDB_SGATE_NETLIST::register_pin(CDB_SGATE_NODE* node) {
  if (!node->is_pin()) return;  // only pins are listed; spares a virtual call per gate
  CDB_SGATE_IO* io = node->cast_to_io();
  if (!io) return;
  switch (io->get_io_type()) {
    case CDB_IO_INPUT: m_input_pins.push_back(io); break;
    case CDB_IO_OUTPUT: m_output_pins.push_back(io); break;
    default: m_bidir_pins.push_back(io); break;
  }
}

void CDB_SGATE_NETLIST::unregister_pin(CDB_SGATE_NODE* node) {
  if (!node->is_pin()) return;
  CDB_SGATE_IO* io = node->cast_to_io();
  if (!io) return;
  std::vector<CDB_SGATE_IO*>& v = io->get_io_type() == CDB_IO_INPUT    ? m_input_pins
                                  : io->get_io_type() == CDB_IO_OUTPUT ? m_output_pins
                                                                       : m_bidir_pins;
  auto it = std::find(v.begin(), v.end(), io);
  if (it != v.end()) v.erase(it);
}

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

void CDB_SGATE_NETLIST::relink_in_order(const std::vector<CDB_SGATE_NODE*>& order) {
  PLAT_CHECK(order.size() == m_nodes.size(), "CDB");
  m_nodes.rebuild(order.data(), order.size(),
                  [](CDB_SGATE_NODE* n, CDB_SGATE_NODE** slot) { n->m_slot = slot; });
}

// ---------------------------------------------------------------------------
// Dynamic flags

void CDB_SGATE_NETLIST::clear_dyn_bits(void* netlist, uint32_t mask) {
  CDB_SGATE_NETLIST* self = static_cast<CDB_SGATE_NETLIST*>(netlist);
  uint32_t keep = ~mask;
  for (iterator it = self->begin_node_list(); it != self->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    n->m_dyn &= keep;
    for (CDB_SGATE_OTERM* o : n->m_oterms)
      if (o) o->m_dyn &= keep;
    for (CDB_SGATE_ITERM* t : n->m_iterms)
      if (t) t->m_dyn &= keep;
  }
}

void CDB_SGATE_NETLIST::clear_all_node_flags(const GEN_DYN_FLAG& flag) { clear_dyn_bits(this, flag.get_mask()); }

void CDB_SGATE_NETLIST::clear_all_node_flags() { clear_dyn_bits(this, 0xffffffffu); }

// ---------------------------------------------------------------------------
// Information record and records

void CDB_SGATE_NETLIST::set_netlist_info(CDB_SGATE_NETLIST_INFO* info) {
  if (info == m_info) return;
  CDB_SGATE_NETLIST_INFO* old = m_info;
  m_info = info;
  if (!old) return;
  if (m_info_delete) m_info_delete(this, old);
  else delete old;
}

void CDB_SGATE_NETLIST::set_info_functions_and_allocate(INFO_ALLOCATE_FN alloc, INFO_DELETE_FN del) {
  set_netlist_info(nullptr);
  m_info_alloc = alloc;
  m_info_delete = del;
  if (alloc) m_info = alloc(this);
}

void CDB_SGATE_NETLIST::reset_info_functions_and_delete() {
  set_netlist_info(nullptr);
  m_info_alloc = nullptr;
  m_info_delete = nullptr;
  reset_node_info();
}

CDB_SGATE_HIGH_SPEED_MAP* CDB_SGATE_NETLIST::create_high_speed_map() {
  if (!m_high_speed) m_high_speed = new CDB_SGATE_HIGH_SPEED_MAP;
  return m_high_speed;
}

bool CDB_SGATE_NETLIST::has_max_fanout_constraint(const CDB_SGATE_NODE* node) const {
  return node && node->m_netlist == this && node->ex().m_max_fanout_limit > 0;
}

int CDB_SGATE_NETLIST::get_max_fanout_constraint(const CDB_SGATE_NODE* node) const {
  return has_max_fanout_constraint(node) ? node->m_extra->m_max_fanout_limit : 0;
}

void CDB_SGATE_NETLIST::set_max_fanout_constraint(CDB_SGATE_NODE* node, int limit) {
  PLAT_CHECK(node != nullptr && node->m_netlist == this && limit >= 0, "CDB");
  m_num_max_fanout += (limit > 0) - (node->ex().m_max_fanout_limit > 0);
  if (limit != 0 || node->m_extra) node->extra().m_max_fanout_limit = limit;
}

void CDB_SGATE_NETLIST::copy_members_to_partitioned_netlist(CDB_SGATE_NETLIST* other) const {
  PLAT_CHECK(other != nullptr && other != this, "CDB");
  other->m_hierarchy = m_hierarchy;
  other->m_is_subnetlist = m_is_subnetlist;
  other->m_collect_atoms = m_collect_atoms;
  other->m_compatible = m_compatible;
  other->m_mast_report = m_mast_report;
  if (m_high_speed) *other->create_high_speed_map() = *m_high_speed;
}

// ---------------------------------------------------------------------------
// Free functions

namespace {
std::atomic<bool> g_parallel{false};
}

bool cdb_sgate_synthesis_is_running_in_parallel() { return g_parallel.load(std::memory_order_relaxed); }
void cdb_sgate_set_synthesis_running_in_parallel(bool on) { g_parallel.store(on, std::memory_order_relaxed); }

void cdb_add_msg_location(MSG_POST* post, const CDB_SGATE_NODE* node) {
  PLAT_CHECK(post != nullptr && node != nullptr, "CDB");
  post->add_location(node->get_string_hpath());
}

int cdb_sgate_get_synth_seed() { return cfg_get_int_value("synth_seed", 0); }

unsigned cdb_sgate_get_seeded_index(unsigned i, unsigned n) {
  PLAT_CHECK(i < n, "CDB");
  int seed = cdb_sgate_get_synth_seed();
  if (seed == 0 || n < 2) return i;
  // i -> (a*i + b) mod n is a permutation when gcd(a, n) = 1; a and b come
  // from a fixed mix of the seed, so the order is the same on every machine.
  uint64_t h = uint64_t(uint32_t(seed)) * 0x9e3779b97f4a7c15ull;
  h ^= h >> 29;
  uint64_t a = 1 + (h % (n - 1));
  while (std::gcd(a, uint64_t(n)) != 1) a = a % (n - 1) + 1;
  uint64_t b = (h >> 32) % n;
  return unsigned((a * i + b) % n);
}

std::string cdb_sgate_get_bus_index_string(const char* name) {
  if (!name) return "";
  std::string s(name);
  // Take up to two trailing "[digits]" groups.
  size_t end = s.size();
  size_t start = end;
  for (int groups = 0; groups < 2; ++groups) {
    if (start == 0 || s[start - 1] != ']') break;
    size_t open = s.rfind('[', start - 1);
    if (open == std::string::npos || open + 2 > start - 1) break;
    bool digits = true;
    for (size_t k = open + 1; k + 1 < start; ++k) digits = digits && s[k] >= '0' && s[k] <= '9';
    if (!digits) break;
    start = open;
  }
  return s.substr(start, end - start);
}

std::string cdb_sgate_get_bus_index_string(const std::vector<int>& indices) {
  std::string out;
  size_t i = 0;
  while (i < indices.size()) {
    size_t j = i;
    int step = 0;
    if (i + 1 < indices.size() && (indices[i + 1] == indices[i] + 1 || indices[i + 1] == indices[i] - 1)) {
      step = indices[i + 1] - indices[i];
      while (j + 1 < indices.size() && indices[j + 1] == indices[j] + step) ++j;
    }
    if (!out.empty()) out += ",";
    out += std::to_string(indices[i]);
    if (j > i) out += ".." + std::to_string(indices[j]);
    i = j + 1;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Dead-logic sweep and topological ordering.
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
