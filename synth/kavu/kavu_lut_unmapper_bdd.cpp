// kavu_lut_unmapper_bdd.cpp — what the LUT unmapper does with BDDs besides
// factoring: the sanity check around each unmapping, the table dump, the
// names of the decomposition kinds and the cloning of a BDD into a manager
// of its own support.
//
// Sanity check: the support is the distinct sources of the LUT's inputs;
//   both BDDs are built over it in the unmapper's manager (complement edges
//   on, one variable more than the largest LUT). The new gates are built in
//   topological order whatever order their list has (the sum-of-minterms
//   form lists its OR before the ANDs it reads).
// Cloning: nodes are copied bottom-up as ithvar(new var).Ite(hi, lo); a
//   variable's new position comes from its old variable index, so two
//   variables stay two even when they are driven by one terminal.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "kavu_bdd_sgate.h"
#include "kavu_check.h"
#include "kavu_helper_dump.h"
#include "kavu_helper_predicates.h"
#include "kavu_lut_unmapper.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_setup.h"

namespace {

double seconds_since(uint64_t from_ms) { return double(gen_get_tick_count() - from_ms) / 1000.0; }

// The distinct sources of the LUT's connected inputs, in input order.
void lut_source_support(const CDB_SGATE_LUT* lut, std::vector<CDB_SGATE_OTERM*>* support) {
  support->clear();
  for (unsigned i = 0; i < lut->get_number_of_input_terms(); ++i) {
    const CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (t == nullptr || !cdb_is_connected(t) || t->get_source() == nullptr) continue;
    if (std::find(support->begin(), support->end(), t->get_source()) == support->end())
      support->push_back(t->get_source());
  }
}

}  // namespace

// Output terminals of the nodes, each after the terminals of the listed
// nodes that feed it (list order among independent nodes). Gates outside
// the list count as sources. Iterative; a loop among the nodes is an
// internal error.
void lut_unmap_members_in_topo_order(const std::list<CDB_SGATE_NODE*>& nodes,
                                     std::vector<CDB_SGATE_OTERM*>* members) {
  members->clear();
  std::unordered_map<const CDB_SGATE_NODE*, int> state;  // 0 new, 1 open, 2 done
  for (const CDB_SGATE_NODE* n : nodes) state.emplace(n, 0);
  std::vector<std::pair<CDB_SGATE_NODE*, unsigned>> stack;
  for (CDB_SGATE_NODE* root : nodes) {
    if (state[root] != 0) continue;
    stack.emplace_back(root, 0u);
    state[root] = 1;
    while (!stack.empty()) {
      CDB_SGATE_NODE* n = stack.back().first;
      const unsigned i = stack.back().second++;
      if (i < n->get_number_of_input_terms()) {
        const CDB_SGATE_ITERM* t = n->get_input_term(i);
        const CDB_SGATE_OTERM* src = t != nullptr ? t->get_source() : nullptr;
        if (src == nullptr) continue;
        auto it = state.find(src->get_my_node());
        if (it == state.end() || it->second == 2) continue;
        if (it->second == 1) KAVU_INTERNAL_ERROR("Unmapped gates form a loop");
        it->second = 1;
        stack.emplace_back(src->get_my_node(), 0u);
        continue;
      }
      state[n] = 2;
      for (CDB_SGATE_OTERM* o : n->get_output_terms())
        if (o != nullptr) members->push_back(o);
      stack.pop_back();
    }
  }
}

// ===========================================================================
const char* lut_unmap_bdd_decomposition_name(BDD_DECOMP_TYPE type) {
  switch (type) {
    case BDD_DECOMP_AND: return "AND";
    case BDD_DECOMP_OR: return "OR";
    case BDD_DECOMP_XNOR: return "XNOR";
    case BDD_DECOMP_MUX: return "2:1 MUX";
    case BDD_DECOMP_NONE: return "NONE";
  }
  KAVU_INTERNAL_ERROR("Unexpected decomp type");
  return "";
}

void lut_unmap_dump_bdd_table(BDD_ZBDD_MGR* bm) {
  if (!cfg_is_on("kavu_bdd_dump_tables", false)) return;
  // The file counter is one per process; helpers of parallel synthesis
  // would write the same names, so they write none.
  if (cdb_sgate_synthesis_is_running_in_parallel()) {
    kavu_debug("Skipping BDD table dump during parallel synthesis");
    return;
  }
  KAVU_CHECK(bm != 0);
  static int dump_seq = 0;
  bm->garbage_collect();
  char name[32];
  std::snprintf(name, sizeof(name), "table_%04d.dot", dump_seq++);
  std::string problem;
  if (bm->fprint_table_as_dot(name, &problem)) kavu_debug("Dumping table to %s", name);
  else kavu_warn_file_not_written(name, problem);
}

// ===========================================================================
LUT_UNMAP_SANITY_CHECK::~LUT_UNMAP_SANITY_CHECK() {
  BDD_ZBDD_MGR* bm = m_unmapper->get_bdd_manager();
  if (bm == nullptr) return;
  if (m_bdd_head.get_manager() == bm) m_bdd_head.remove_from_manager();
  if (bm->size() > 1000) bm->garbage_collect();
}

void LUT_UNMAP_SANITY_CHECK::record_before(CDB_SGATE_LUT* lut) {
  if (!kavu_is_a_lut(lut)) KAVU_INTERNAL_ERROR("kavu_is_a_lut( node )");
  const uint64_t start = gen_get_tick_count();
  lut_source_support(lut, &m_support);
  if (m_unmapper->get_bdd_manager() == nullptr)
    m_unmapper->initialize_bdd_manager(int(CDB_LUTMASK::max_num_inputs) + 1, 1000, 50000, true);
  BDD_ZBDD_MGR* bm = m_unmapper->get_bdd_manager();
  m_have_bdd = false;
  if (!m_support.empty()) {
    std::vector<CDB_SGATE_OTERM*> members{lut->get_output_term(0)};
    std::vector<BDD_ZBDD> result;
    m_have_bdd = kavu_bdd_make_bdds_from_sgate_subnet(bm, m_support, members, members, &result, 1000, true);
    if (m_have_bdd) m_bdd_head = result[0];
  }
  if (!m_have_bdd)
    kavu_debug("Unmap sanity check: Failed to create BDD for LUT %s with mask %s", lut->get_debug_name().c_str(),
               lut->get_lut_mask().get_string_value().c_str());
  m_initialized = true;
  if (seconds_since(start) > 0.1)
    kavu_debug("Spent %.3f seconds in BDD-ing LUT %s with lut mask %s", seconds_since(start),
               lut->get_debug_name().c_str(), lut->get_lut_mask().get_string_value().c_str());
}

void LUT_UNMAP_SANITY_CHECK::compare_after(CDB_SGATE_OTERM* head, std::list<CDB_SGATE_NODE*>* new_nodes,
                                           bool inverted) {
  if (!m_initialized) KAVU_INTERNAL_ERROR("m_initialized");
  KAVU_CHECK(new_nodes != 0);
  const uint64_t start = gen_get_tick_count();
  if (m_have_bdd) {
    BDD_ZBDD_MGR* bm = m_unmapper->get_bdd_manager();
    if (!(bm != 0 && m_bdd_head != bm->null_bdd())) KAVU_INTERNAL_ERROR("bm != 0 && m_bdd_head != bm->null_bdd()");
    KAVU_CHECK(head != 0);
    if (new_nodes->empty()) {
      // The LUT became a wire: a one-input AND makes it a gate to build.
      CDB_SGATE_COMB* dummy = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
      dummy->insert_unordered_fanin(head);
      kavu_create_synthesized_name(dummy, head->get_my_node(), "dummy");
      new_nodes->push_back(dummy);
      if (new_nodes->empty()) KAVU_INTERNAL_ERROR("!tmp_nlist->empty()");
      head = dummy->get_output_term(0);
    }
    std::vector<CDB_SGATE_OTERM*> members;
    lut_unmap_members_in_topo_order(*new_nodes, &members);
    std::vector<CDB_SGATE_OTERM*> heads{head};
    std::vector<BDD_ZBDD> result;
    if (!kavu_bdd_make_bdds_from_sgate_subnet(bm, m_support, members, heads, &result, 1000, true)) {
      kavu_debug("Unmap sanity check: Failed to create BDD for %d unmapped gates", int(new_nodes->size()));
    } else {
      if (result.size() != 1) KAVU_INTERNAL_ERROR("(new_bdd_heads.size() == 1)");
      const BDD_ZBDD after = inverted ? result[0].Not() : result[0];
      if (after != m_bdd_head) {
        kavu_debug("PANIC: The %s BDD %d after unmapping differs from the BDD %d before unmapping",
                   inverted ? "inverted" : "", result[0].index(), m_bdd_head.index());
        lut_unmap_dump_bdd_table(bm);
        m_unmapper->dump_cache();
        KAVU_INTERNAL_ERROR("PANIC: BDD mismatch");
      }
      if (kavu_debug_lut_unmapper) kavu_debug("Sanity check passed");
    }
  }
  if (seconds_since(start) > 0.1)
    kavu_debug("Spent %.3f seconds in BDD-ing netlist with %d gates", seconds_since(start), int(new_nodes->size()));
}

// ===========================================================================
int lut_unmap_index_of_bdd(BDD_ZBDD* bdd, std::vector<BDD_ZBDD>* nodes) {
  KAVU_CHECK(bdd != 0 && nodes != 0);
  for (size_t i = 0; i < nodes->size(); ++i)
    if ((*nodes)[i] == *bdd) return int(i);
  return int(nodes->size());
}

BDD_ZBDD lut_unmap_clone_child(BDD_ZBDD_MGR* bm, BDD_ZBDD* child, std::vector<BDD_ZBDD>* nodes,
                               BDD_ZBDD_MGR* new_bm, std::vector<BDD_ZBDD>* clones) {
  KAVU_CHECK(bm != 0 && child != 0 && nodes != 0 && new_bm != 0 && clones != 0);
  if (nodes->size() != clones->size()) KAVU_INTERNAL_ERROR("bdd_vec.size() == clone_bdd_vec.size()");
  if (*child == bm->true_bdd()) return new_bm->true_bdd();
  if (*child == bm->false_bdd()) return new_bm->false_bdd();
  BDD_ZBDD regular = child->regularize();
  const int idx = lut_unmap_index_of_bdd(&regular, nodes);
  if (!(idx < (int)nodes->size())) KAVU_INTERNAL_ERROR("idx < (int)bdd_vec.size()");
  return child->is_complement() ? (*clones)[idx].Not() : (*clones)[idx];
}

BDD_ZBDD lut_unmap_clone_bdd(BDD_ZBDD_MGR* bm, BDD_ZBDD* bdd, std::vector<CDB_SGATE_OTERM*>* support,
                             bool complement_edges, BDD_ZBDD_MGR** new_bm,
                             std::vector<CDB_SGATE_OTERM*>* new_support) {
  KAVU_CHECK(bm != 0 && bdd != 0 && support != 0 && new_bm != 0 && new_support != 0);
  KAVU_CHECK(bdd->get_manager() == bm);
  std::vector<int> vars;
  bdd->build_support(&vars);
  if (kavu_debug_lut_unmapper) {
    kavu_debug("Cloning BDD %d into new BDD manager", bdd->id());
    lut_unmap_dump_bdd_table(bm);
  }
  // Old variable index -> new variable index.
  std::vector<int> new_var(bm->support_size(), -1);
  new_support->clear();
  if (vars.size() < support->size()) {
    for (size_t j = 0; j < vars.size(); ++j) {
      KAVU_CHECK(vars[j] < (int)support->size());
      new_var[vars[j]] = int(j);
      new_support->push_back((*support)[vars[j]]);
      if (kavu_debug_lut_unmapper) {
        const CDB_SGATE_OTERM* o = (*support)[vars[j]];
        kavu_debug("Var %d in original BDD corresponds to oterm %s %s and var %d in new BDD", vars[j],
                   o != nullptr ? o->get_my_node()->get_string_type_name() : "(none)",
                   o != nullptr ? o->get_my_node()->get_debug_name().c_str() : "", int(j));
      }
    }
  } else {
    *new_support = *support;
    for (int v = 0; v < (int)new_var.size() && v < (int)support->size(); ++v) new_var[v] = v;
    if (kavu_debug_lut_unmapper) kavu_debug("Variables in BDDs match");
  }
  *new_bm = new BDD_ZBDD_MGR(int(new_support->size()), 1000, 50000, complement_edges, false);
  // A constant needs no node: it is the new manager's constant.
  if (bdd->is_constant()) return *bdd == bm->true_bdd() ? (*new_bm)->true_bdd() : (*new_bm)->false_bdd();
  std::vector<BDD_ZBDD> nodes, done, clones;
  bdd->get_top_order(&nodes, true);
  // Children come before their parents, so they are in `done` already.
  for (const BDD_ZBDD& node : nodes) {
    if (node.is_constant()) KAVU_INTERNAL_ERROR("!bdd_node->is_constant()");
    BDD_ZBDD lo = node.low_child(), hi = node.high_child();
    const BDD_ZBDD clone_lo = lut_unmap_clone_child(bm, &lo, &done, *new_bm, &clones);
    const BDD_ZBDD clone_hi = lut_unmap_clone_child(bm, &hi, &done, *new_bm, &clones);
    const int v = new_var[node.variable()];
    if (!(v >= 0 && v < (int)new_support->size())) KAVU_INTERNAL_ERROR("clone_i >= 0 && clone_i < (int)new_support->size()");
    clones.push_back((*new_bm)->ithvar(v).Ite(clone_hi, clone_lo));
    done.push_back(node);
  }
  const BDD_ZBDD& last = nodes.back();
  BDD_ZBDD result;
  if (*bdd == last) result = clones.back();
  else {
    if (!(*bdd == last.Not())) KAVU_INTERNAL_ERROR("*bdd == last_bdd.Not()");
    result = clones.back().Not();
  }
  if (kavu_debug_lut_unmapper) {
    kavu_debug("Internal nodes after cloning BDD %d into BDD %d", bdd->id(), result.id());
    for (size_t k = 0; k < nodes.size(); ++k)
      kavu_debug("Node %d in original should correspond to %d in new manager", nodes[k].id(), clones[k].id());
    kavu_debug("Original");
    lut_unmap_dump_bdd_table(bm);
    kavu_debug("New");
    lut_unmap_dump_bdd_table(*new_bm);
  }
  return result;
}

void BDD_ARG::take_clone(BDD_ZBDD_MGR* from, BDD_ZBDD f, std::vector<CDB_SGATE_OTERM*>* from_support) {
  clear();
  bdd = lut_unmap_clone_bdd(from, &f, from_support, false, &bm, &support);
}

void BDD_ARG::move_from(BDD_ARG& other) {
  clear();
  bm = other.bm;
  bdd = other.bdd;
  support = other.support;
  other.bdd = BDD_ZBDD();
  other.bm = nullptr;
  other.support.clear();
}
