// kavu_sort_dmig.cpp — wide-gate decomposition by depth (KAVU_SORT::dmig),
// the combinational depth measure (KAVU_SORT::comb_depth) and the seeded
// reordering of a netlist's node list (kavu_sort_netlist_random).
//
// Level: an output terminal's aux value. Non-comb gates are level 0; a comb
//   gate with one input passes its input's level through; any other comb gate
//   is 1 + the largest level among its inputs' sources.
// Decomposition: an AND, OR or XOR gate with n > k inputs keeps its identity
//   and output; its inputs go into a min-heap keyed by
//   level(source) - kavu_wt_sr * p, p the input's signal probability (x100)
//   when its record's confidence reaches kavu_confidence, else 100. Groups of
//   the smallest keys are split off into new gates of the same type: first
//   r + 1 inputs with r = (n - 1) mod (k - 1) (k inputs when r is 0), then k
//   at a time, each new gate's input going back into the heap, until k
//   inputs are left. This is the k-ary tree with the fewest gates, and the
//   latest-arriving inputs end on the original gate, nearest the output.
//   Only associative types are split: other comb types (NOT, name keepers)
//   are levelled as they are, since a tree of inverters would change the
//   function.
// Preconditions (checked before the first change): k >= 2; every input of a
//   comb gate connected and not tied to a constant.
// Cost: O(n log n) per wide gate; one topological node list per call.
#include <algorithm>
#include <ctime>
#include <list>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_gate_create.h"
#include "kavu_msg.h"
#include "kavu_predicates.h"
#include "kavu_setup_export.h"
#include "kavu_sort.h"

namespace {
bool is_associative(const CDB_SGATE_COMB* comb) {
  const CDB_COMB_TYPE type = comb->get_comb_type();
  return type == CDB_COMB_AND || type == CDB_COMB_OR || type == CDB_COMB_XOR;
}

void check_levelled_iterm(const CDB_SGATE_ITERM* iterm) {
  if (!cdb_is_connected(iterm) || iterm->is_vcc_or_gnd())
    KAVU_INTERNAL_ERROR("cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd()");
}

int source_level(const CDB_SGATE_ITERM* iterm) {
  check_levelled_iterm(iterm);
  const CDB_SGATE_OTERM* source = iterm->get_source();
  return source ? source->get_aux() : 0;
}

int heap_key(const CDB_SGATE_ITERM* iterm) {
  int p = 100;
  const CDB_SGATE_ITERM_INFO* info = iterm->get_info();
  if (info && info->get_confidence() >= kavu_confidence) p = int(info->get_probability() * 100.0);
  // Signed 32-bit arithmetic that wraps instead of overflowing.
  const int64_t key = int64_t(source_level(iterm)) - int64_t(kavu_wt_sr) * p;
  return int(uint32_t(uint64_t(key)));
}

bool heap_less(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b) { return heap_key(a) > heap_key(b); }

// Level of a comb gate by the rules above; `inputs` are its non-null inputs.
int comb_level(const std::vector<CDB_SGATE_ITERM*>& inputs) {
  if (inputs.size() == 1) return source_level(inputs[0]);
  int level = 0;
  for (const CDB_SGATE_ITERM* iterm : inputs) level = std::max(level, source_level(iterm));
  return level + 1;
}

void collect_inputs(const CDB_SGATE_NODE* node, std::vector<CDB_SGATE_ITERM*>& inputs) {
  inputs.clear();
  for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
    if (CDB_SGATE_ITERM* iterm = node->get_input_term(i)) inputs.push_back(iterm);
  }
}

// Topological node list with every output's level reset to 0.
void collect_and_reset(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_NODE*>& nodes) {
  {
    GEN_PROFILER profiler("KAVU", "SORTING", 0x7ffffeff);
    netlist->garbage_collect_and_sort(true, nodes);
  }
  for (CDB_SGATE_NODE* node : nodes) {
    for (unsigned i = 0; i < node->get_output_count(); ++i) {
      if (CDB_SGATE_OTERM* oterm = node->get_output_term(i)) oterm->set_aux(0);
    }
  }
}
}  // namespace

void KAVU_SORT::make_iterm_heap(std::vector<CDB_SGATE_ITERM*>& heap) {
  std::make_heap(heap.begin(), heap.end(), heap_less);
}

void KAVU_SORT::push_iterm_into_heap(std::vector<CDB_SGATE_ITERM*>& heap, CDB_SGATE_ITERM* iterm) {
  heap.push_back(iterm);
  std::push_heap(heap.begin(), heap.end(), heap_less);
}

CDB_SGATE_ITERM* KAVU_SORT::pop_iterm_from_heap(std::vector<CDB_SGATE_ITERM*>& heap) {
  std::pop_heap(heap.begin(), heap.end(), heap_less);
  CDB_SGATE_ITERM* top = heap.back();
  heap.pop_back();
  return top;
}

CDB_SGATE_COMB* KAVU_SORT::decompose_comb_sgate(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb,
                                                std::list<CDB_SGATE_ITERM*>& iterms) {
  CDB_SGATE_COMB* part = kavu_create_new_comb(netlist, comb, comb->get_comb_type());
  for (CDB_SGATE_ITERM* old : iterms) {
    CDB_SGATE_ITERM* moved = part->insert_unordered_fanin(old->get_source());
    if (old->is_inverted()) moved->set_invert();
    if (old->get_info()) moved->set_info(old->release_info());
  }
  for (CDB_SGATE_ITERM* old : iterms) comb->delete_input_term(old);
  CDB_SGATE_ITERM* link = comb->insert_unordered_fanin(part->get_output_term(0));
  CDB_SGATE_ITERM_INFO* info = link->create_info();
  info->set_value(2147483647);
  info->set_probability(1.0);
  info->set_confidence(0);
  iterms.clear();
  iterms.push_back(link);
  return part;
}

int KAVU_SORT::dmig_sgate(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb, unsigned int k) {
  std::vector<CDB_SGATE_ITERM*> heap;
  collect_inputs(comb, heap);
  CDB_SGATE_OTERM* out = comb->get_output_term(0);
  if (heap.size() <= k || !is_associative(comb)) {
    if (out) out->set_aux(comb_level(heap));
    return 0;
  }
  make_iterm_heap(heap);
  int created = 0;
  std::list<CDB_SGATE_ITERM*> group;
  while (heap.size() > k) {
    // The first group takes what makes every later group exactly k.
    const size_t r = (heap.size() - 1) % (k - 1);
    const size_t m = r != 0 ? r + 1 : k;
    group.clear();
    int deepest = 0;
    for (size_t i = 0; i < m; ++i) {
      CDB_SGATE_ITERM* iterm = pop_iterm_from_heap(heap);
      deepest = std::max(deepest, source_level(iterm));
      group.push_back(iterm);
    }
    CDB_SGATE_COMB* part = decompose_comb_sgate(netlist, comb, group);
    part->get_output_term(0)->set_aux(deepest + 1);
    ++created;
    push_iterm_into_heap(heap, group.front());
  }
  if (heap.size() != k) KAVU_INTERNAL_ERROR("vec_siterms.size() == size");
  collect_inputs(comb, heap);
  if (out) out->set_aux(comb_level(heap));
  return created;
}

int KAVU_SORT::dmig(CDB_SGATE_NETLIST* netlist, int k, bool verbose) {
  KAVU_CHECK(netlist != nullptr);
  if (k < 2) KAVU_INTERNAL_ERROR("k >= 2");  // the group size divides by k - 1
  const time_t start = time(nullptr);
  std::vector<CDB_SGATE_NODE*> nodes;
  collect_and_reset(netlist, nodes);
  if (cfg_is_on("kavu_dmig_sort_netlist", false)) {
    kavu_debug("Sort netlist by dag order in dmig");
    netlist->sort_by_dag_order(0);
  }
  // Validate every comb gate before the first edit, so that a refused
  // netlist is left as it was.
  std::vector<CDB_SGATE_ITERM*> inputs;
  for (CDB_SGATE_NODE* node : nodes) {
    if (!kavu_is_a_comb(node)) continue;
    collect_inputs(node, inputs);
    for (const CDB_SGATE_ITERM* iterm : inputs) check_levelled_iterm(iterm);
    if (inputs.size() > unsigned(k) && is_associative(node->cast_to_comb())) {
      for (const CDB_SGATE_ITERM* iterm : inputs) KAVU_CHECK(iterm->get_source() != nullptr);
    }
  }
  int created = 0, decomposed = 0, depth = 0;
  for (CDB_SGATE_NODE* node : nodes) {
    if (!kavu_is_a_comb(node)) continue;
    const int n = dmig_sgate(netlist, node->cast_to_comb(), unsigned(k));
    created += n;
    if (n > 0) ++decomposed;
    if (const CDB_SGATE_OTERM* out = node->get_output_term(0)) depth = std::max(depth, out->get_aux());
  }
  netlist->dfs(1, false, true, false);
  const time_t end = time(nullptr);
  if (verbose) {
    kavu_debug("Result dmig: decomposes %d nodes, generates %d nodes", decomposed, created);
    kavu_debug("Spent %d seconds in DMIG", int(end - start));
  }
  if (m_debug_level >= 1) {
    const int d = comb_depth(netlist);
    if (d != depth) KAVU_INTERNAL_ERROR("d == network_depth");
  }
  return depth;
}

int KAVU_SORT::comb_depth(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != nullptr);
  std::vector<CDB_SGATE_NODE*> nodes;
  collect_and_reset(netlist, nodes);
  std::vector<CDB_SGATE_ITERM*> inputs;
  int depth = 0;
  for (CDB_SGATE_NODE* node : nodes) {
    if (!kavu_is_a_comb(node)) continue;
    collect_inputs(node, inputs);
    const int level = comb_level(inputs);
    if (CDB_SGATE_OTERM* out = node->get_output_term(0)) out->set_aux(level);
    if (inputs.size() != 1) depth = std::max(depth, level);
  }
  return depth;
}

// ---------------------------------------------------------------------------
// Seeded node-list order

void kavu_sort_netlist_random(CDB_SGATE_NETLIST* netlist, int seed) {
  KAVU_CHECK(netlist != nullptr);
  kavu_debug("Scrambling netlist order.  First seed %d", seed);
  GEN_RAND a{uint32_t(seed)};
  const uint32_t x = uint32_t(a.get_rand());
  const uint32_t y = uint32_t(a.get_rand());
  a.set_seed(x);
  GEN_RAND b(y);
  uint32_t table[300];
  for (uint32_t& entry : table) entry = uint32_t(b.get_rand());
  std::vector<CDB_SGATE_NODE*> nodes;
  nodes.reserve(netlist->size());
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (*it) nodes.push_back(*it);
  }
  const size_t n = nodes.size();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t j = uint32_t(a.get_rand()) % 300;
    const uint32_t v = table[j];
    table[j] = uint32_t(b.get_rand());
    const size_t pick = v % n;
    if (pick != i) std::swap(nodes[i], nodes[pick]);
  }
  // Unlink every gate, then add them back in the new order.
  for (CDB_SGATE_NODE* node : nodes) netlist->delete_node(node);
  for (CDB_SGATE_NODE* node : nodes) netlist->add_node(node, true);
}
