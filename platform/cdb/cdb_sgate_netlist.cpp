// cdb_sgate_netlist.cpp — the netlist's node list, topological ordering,
// pins, dynamic flags, records and the database's free functions (the
// dead-logic sweep, the graveyard and collection: cdb_sgate_sweep.cpp).
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
#include <new>
#include <numeric>

#include "cdb/cdb_sgate_kinds.h"
#include "cfg/cfg.h"
#include "msg/msg.h"

namespace {
std::atomic<uint64_t> g_last_serial{0};
constexpr int kMaxDeleteListeners = 8;
std::atomic<CDB_SGATE_NETLIST_DELETE_LISTENER> g_delete_listeners[kMaxDeleteListeners];
}  // namespace

CDB_SGATE_NETLIST::CDB_SGATE_NETLIST() : m_serial(++g_last_serial) {
  m_flag_manager.set_clear_function(&clear_dyn_bits, this);
}

CDB_SGATE_NETLIST::CDB_SGATE_NETLIST(bool is_partition, int number, int first_debug_number)
    : CDB_SGATE_NETLIST() {
  m_is_partition = is_partition;
  m_number = number;
  m_first_debug_number = first_debug_number;
  if (first_debug_number > 0 && unsigned(first_debug_number) > CDB_SGATE_NODE::s_debug_counter)
    CDB_SGATE_NODE::s_debug_counter = unsigned(first_debug_number);
}

CDB_SGATE_NETLIST::~CDB_SGATE_NETLIST() {
  for (const auto& slot : g_delete_listeners)
    if (const CDB_SGATE_NETLIST_DELETE_LISTENER listener = slot.load(std::memory_order_acquire)) listener(this);
  reset_info_functions_and_delete();
  if (m_machines) {  // owned machines drop their references to the gates first
    for (CDB_STATE_MACHINE* m : *m_machines) delete m;
    delete m_machines;
  }
  // Each gate unlinks itself as it goes. The gates are listed first; when
  // memory for the list is refused (a destructor must not let std::bad_alloc
  // out), each is taken from the node list as the walk passes it, the walk
  // a slot ahead of the gate deleted.
  std::vector<CDB_SGATE_NODE*> nodes;
  try {
    nodes.reserve(m_nodes.size());
  } catch (const std::bad_alloc&) {
  }
  if (nodes.capacity() >= m_nodes.size()) {
    for (iterator it = begin_node_list(); it != end_node_list(); ++it)
      if (CDB_SGATE_NODE* n = *it) nodes.push_back(n);
    for (CDB_SGATE_NODE* n : nodes) delete n;
  } else {
    for (iterator it = begin_node_list(); it != end_node_list();) {
      CDB_SGATE_NODE* n = *it;
      ++it;
      delete n;
    }
  }
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
  unlinked(node);
}

void CDB_SGATE_NETLIST::unlinked(CDB_SGATE_NODE* node) {
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
// Ordering of the node list (collection and the sweep: cdb_sgate_sweep.cpp)

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
  other->m_tdb_origin = m_tdb_origin;
  other->m_split_labelling = m_split_labelling;
  if (m_high_speed) *other->create_high_speed_map() = *m_high_speed;
}

namespace {
// splitmix64's finalizer.
uint64_t mix64(uint64_t k) {
  k = (k ^ (k >> 30)) * 0xbf58476d1ce4e5b9ull;
  k = (k ^ (k >> 27)) * 0x94d049bb133111ebull;
  return k ^ (k >> 31);
}
}  // namespace

void CDB_SGATE_LABELLING::add(const CDB_SGATE_NODE* gate) {
  if (gate && gate->cast_to_boundary()) add(gate, gate->get_string_hpath());
}

void CDB_SGATE_LABELLING::add(const CDB_SGATE_NODE* gate, std::string_view path) {
  const CDB_SGATE_BOUNDARY* b = gate ? gate->cast_to_boundary() : nullptr;
  if (!b) return;
  // FNV-1a over the path, the direction after it; a sum of the mixed terms
  // does not depend on the order the gates come in.
  uint64_t h = 0xcbf29ce484222325ull;
  for (const char c : path) h = (h ^ uint8_t(c)) * 0x100000001b3ull;
  h = (h ^ uint64_t(b->get_direction() + 1)) * 0x100000001b3ull;
  m_sum += mix64(h);
  ++m_count;
}

uint64_t CDB_SGATE_LABELLING::digest() const { return mix64(m_sum ^ mix64(m_count + 0x9e3779b97f4a7c15ull)) | 1u; }

uint64_t cdb_sgate_labelling(const std::vector<CDB_SGATE_NETLIST*>& netlists) {
  CDB_SGATE_LABELLING labelling;
  for (const CDB_SGATE_NETLIST* nl : netlists)
    if (nl)
      for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
        if (*it && (*it)->get_sgate_type() == CDB_SGATE_BOUNDARY_ENUM) labelling.add(*it);
  return labelling.digest();
}

// ---------------------------------------------------------------------------
// Free functions

namespace {
std::atomic<bool> g_parallel{false};
}

bool cdb_sgate_synthesis_is_running_in_parallel() { return g_parallel.load(std::memory_order_relaxed); }
void cdb_sgate_set_synthesis_running_in_parallel(bool on) { g_parallel.store(on, std::memory_order_relaxed); }

void cdb_sgate_add_netlist_delete_listener(CDB_SGATE_NETLIST_DELETE_LISTENER listener) {
  PLAT_CHECK(listener != nullptr, "CDB");
  for (auto& slot : g_delete_listeners) {
    CDB_SGATE_NETLIST_DELETE_LISTENER expected = nullptr;
    if (slot.compare_exchange_strong(expected, listener) || expected == listener) return;
  }
  PLAT_CHECK(false && "too many netlist delete listeners", "CDB");
}

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
// Topological ordering (the dead-logic sweep and collection are in
// cdb_sgate_sweep.cpp).
//
// Ordering: a depth-first post-order over driven inputs, started from the
//   gates in list order, with an explicit stack of (gate, next input) frames.
//   Registers, latches, input and bidirectional pins and input boundaries
//   start the order and their inputs are not followed (the sequential cut);
//   an input whose source is still on the stack closes a loop and is skipped.
//   A list that is already topological keeps its order.
// Visit marks are stamps: a fresh pair per walk, no clearing pass.
// Cost: O(gates + terminals), no recursion, one scratch vector per call.

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
