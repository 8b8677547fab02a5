// kavu_helper_orphan.cpp — removal of orphaned gates and gate renaming.
//
// Kill (delete) model: the candidates are the removable gates of the
//   orphan's fan-in cone, reached through real-source inputs. A candidate
//   is live when one of its fan-outs leads out of the candidate set or into
//   a live candidate; the rest — the orphan, its private cone and any loop
//   inside the cone that only feeds itself and the dead gates — is dead.
//   That is the greatest set a gate-by-gate "drives nothing" deletion could
//   reach, and more: such a deletion never frees a loop, since each loop gate
//   still drives the next. The walk keeps every gate alive until it ends
//   (the in-progress candidate table), disconnects the dead gates' inputs,
//   then deletes them, so no freed gate is ever touched, whatever the shape
//   of the cone.
// Isolate model: an explicit stack of terminals; a gate that drives nothing
//   has its driven inputs tied to VCC, and each source left without fan-out
//   is pushed. Gates stay in the netlist.
// All walks use explicit stacks: a chain of any length is safe.
// Cost: kill O(terminals of the cone) with one pointer table; isolate
//   O(terminals visited); renaming O(output terminals) name creations.
#include "kavu_helper_orphan.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_oterm_stamp_int.h"
#include "kavu_msg.h"
#include "kavu_helper_predicates.h"
#include "kavu_utility.h"

namespace {

bool is_real_source(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_vcc_or_gnd(); }

// The kinds the kill and isolate walks may remove.
bool is_removable_kind(const CDB_SGATE_NODE* g, bool keep_carry_sum) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_OPERATOR_ENUM:
      return !g->is_wysiwyg();
    case CDB_SGATE_CARRY_SUM_ENUM:
      return !keep_carry_sum;
    case CDB_SGATE_BUFFER_ENUM:
      return !g->is_wysiwyg() && !kavu_is_a_protect_buffer(g);
    default:
      return false;
  }
}

struct KILL_STATS {
  long m_candidates = 0;
  long m_deleted = 0;
};

class ORPHAN_KILLER {
 public:
  ORPHAN_KILLER(bool luts_only, bool keep_carry_sum) : m_luts_only(luts_only), m_keep_carry_sum(keep_carry_sum) {}

  void run(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist) {
    CDB_SGATE_NODE* root = orphan_oterm->get_my_node();
    if (root->has_fanout() || !removable(root)) return;
    collect_candidates(root);
    mark_live();
    remove_dead(netlist);
  }

  const KILL_STATS& stats() const { return m_stats; }

 private:
  bool removable(const CDB_SGATE_NODE* g) const {
    return m_luts_only ? kavu_is_a_lut(g) && !g->is_wysiwyg() : is_removable_kind(g, m_keep_carry_sum);
  }

  // Candidates in order of discovery (depth first, inputs in order); the
  // table maps each to its position.
  void collect_candidates(CDB_SGATE_NODE* root) {
    m_index.clear(64);
    add_candidate(root);
    std::vector<CDB_SGATE_NODE*> stack{root};
    while (!stack.empty()) {
      CDB_SGATE_NODE* g = stack.back();
      stack.pop_back();
      for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
        if (!is_real_source(t) || !t->get_source()) continue;
        CDB_SGATE_NODE* src = t->get_source()->get_my_node();
        if (m_index.find(src) || !removable(src)) continue;
        add_candidate(src);
        stack.push_back(src);
      }
    }
    m_stats.m_candidates = long(m_cone.size());
  }

  void add_candidate(CDB_SGATE_NODE* g) {
    m_index.insert(g, int(m_cone.size()));
    m_cone.push_back(g);
    m_live.push_back(false);
  }

  // A candidate with a fan-out outside the candidates is live, and so is
  // every candidate that drives a live one.
  void mark_live() {
    std::vector<int> stack;
    for (size_t i = 0; i < m_cone.size(); ++i) {
      if (drives_outside(m_cone[i])) {
        m_live[i] = true;
        stack.push_back(int(i));
      }
    }
    while (!stack.empty()) {
      CDB_SGATE_NODE* g = m_cone[size_t(stack.back())];
      stack.pop_back();
      for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
        if (!t || !t->get_source()) continue;
        const int* j = m_index.find(t->get_source()->get_my_node());
        if (!j || m_live[size_t(*j)]) continue;
        m_live[size_t(*j)] = true;
        stack.push_back(*j);
      }
    }
  }

  bool drives_outside(CDB_SGATE_NODE* g) {
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o) continue;
      for (CDB_SGATE_ITERM* f : o->fanouts())
        if (!m_index.find(f->get_my_node())) return true;
    }
    return false;
  }

  // Every dead gate loses its inputs before any is destroyed, so the
  // destructors meet no connection to another dead gate.
  void remove_dead(CDB_SGATE_NETLIST* netlist) {
    for (size_t i = 0; i < m_cone.size(); ++i) {
      if (m_live[i]) continue;
      for (CDB_SGATE_ITERM* t : m_cone[i]->get_input_terms())
        if (is_real_source(t)) t->disconnect_from_source(2);
    }
    for (size_t i = 0; i < m_cone.size(); ++i) {
      if (m_live[i]) continue;
      netlist->delete_node(m_cone[i]);
      delete m_cone[i];
      ++m_stats.m_deleted;
    }
  }

  bool m_luts_only;
  bool m_keep_carry_sum;
  PTR_STAMP_TABLE m_index;
  std::vector<CDB_SGATE_NODE*> m_cone;
  std::vector<bool> m_live;
  KILL_STATS m_stats;
};

void kill_orphans(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist, bool luts_only, bool keep_carry_sum) {
  KAVU_CHECK(orphan_oterm && netlist);
  ORPHAN_KILLER killer(luts_only, keep_carry_sum);
  killer.run(orphan_oterm, netlist);
  if (killer.stats().m_deleted > 0)
    kavu_debug_at_level(3, "Killed %ld orphaned gates of %ld candidates", killer.stats().m_deleted,
                        killer.stats().m_candidates);
}

// An instance name for a terminal: a child of the name tree's root, or a
// top name when the tree has none yet.
HDB_INSTANCE_NAME* create_terminal_name(CMP_FACADE* facade, const char* text) {
  HDB_NAMESPACE* ns = facade->get_namespace();
  HDB_INSTANCE_NAME* root = ns->get_root();
  if (!root) return HDB_INSTANCE_NAME::create_normal_name(ns, text, nullptr, nullptr, nullptr);
  return HDB_INSTANCE_NAME::create_child(root, text, {}, 0, false, ns->get_source_components());
}

}  // namespace

void kavu_kill_orphaned_gates(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist, bool keep_carry_sum) {
  kill_orphans(orphan_oterm, netlist, false, keep_carry_sum);
}

void kavu_kill_orphaned_luts(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist) {
  kill_orphans(orphan_oterm, netlist, true, false);
}

void kavu_isolate_orphaned_gates(CDB_SGATE_OTERM* orphan_oterm, CDB_SGATE_NETLIST* netlist, bool keep_carry_sum) {
  (void)netlist;
  std::vector<CDB_SGATE_OTERM*> stack{orphan_oterm};
  while (!stack.empty()) {
    orphan_oterm = stack.back();
    stack.pop_back();
    KAVU_CHECK(orphan_oterm);
    CDB_SGATE_NODE* g = orphan_oterm->get_my_node();
    if (g->has_fanout() || !is_removable_kind(g, keep_carry_sum)) continue;
    if (kavu_is_a_dff(g) && !g->cast_to_dff()->prune_allowed()) continue;
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      if (!is_real_source(t)) continue;
      CDB_SGATE_OTERM* src = t->get_source();
      t->disconnect_from_source(2);
      t->set_vcc();
      if (src && !src->has_fanout()) stack.push_back(src);
    }
  }
}

void kavu_rename_all_gates(CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, const char* prefix) {
  KAVU_CHECK(netlist && facade && prefix);
  int counter = 0;
  std::string text;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    kavu_debug("RENAME %s %s", g->get_string_type_name(), g->get_string_hpath().c_str());
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o) continue;
      text = std::string(prefix) + "_" + std::to_string(counter++);
      o->set_instance_name(create_terminal_name(facade, text.c_str()));
    }
    kavu_debug("  now %s %s", g->get_string_type_name(), g->get_string_hpath().c_str());
  }
}

bool kavu_rename_gate(CDB_SGATE_NETLIST* netlist, char* name, bool exact, char* new_name, CMP_FACADE* facade) {
  KAVU_CHECK(netlist && name && new_name && facade);
  CDB_SGATE_NODE* g = kavu_find_gate_by_name(netlist, name, exact);
  if (!g) return false;
  kavu_debug("RENAME %s %s", g->get_string_type_name(), g->get_string_hpath().c_str());
  CDB_SGATE_OTERM* first = g->get_single_oterm();
  if (first) first->set_instance_name(create_terminal_name(facade, new_name));
  kavu_debug("  now %s %s", g->get_string_type_name(), g->get_string_hpath().c_str());
  return true;
}
