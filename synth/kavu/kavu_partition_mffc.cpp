// kavu_partition_mffc.cpp — maximal fan-out-free cones (MFFCs) for the
// partitioner: which output terminals lie on a cone boundary.
//
// Cone rule for a look-through gate N, applied sinks first: when every
// fan-out of N ends in look-through gates that all carry the same cone id, N
// joins that cone; otherwise (no fan-out, a sink that is no look-through
// gate, sinks of different cones, or a sink not yet labelled because of a
// combinational loop) N heads a new cone and its output terminals carry the
// caller's boundary flag. Gates that are not look-through gates belong to no
// cone and always carry the flag.
// Two orders give the same cones: the old one from KAVU_SORT (all output
// terminals, fan-in first, reversed), the new one from a depth-first search
// over fan-in on an explicit stack (post-order, reversed), so that chains of
// any depth run in constant call-stack space.
// A sink whose id is still 0 is never taken as "cone 0": 0 means unlabelled,
// and N becomes a head, in both algorithms.
// Cost: O(V + E) each (plus the sort for the old one).
#include <algorithm>

#include "gen/gen.h"
#include "gen/gen_dyn_flag.h"
#include "kavu_helper_summary.h"
#include "kavu_msg.h"
#include "kavu_partition_int.h"
#include "kavu_sort.h"
#include "cmp/cmp.h"

using namespace kavu_partition_detail;

bool kavu_look_through_gate_for_mffc(const CDB_SGATE_NODE* node) {
  switch (node->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_OPERATOR_ENUM:
      return true;
    default:
      break;
  }
  if (!node->is_wysiwyg()) return false;
  const CDB_SGATE_WYSIWYG* w = const_cast<CDB_SGATE_NODE*>(node)->cast_to_wysiwyg();
  return w->is_lcell_comb() || w->is_logic_module();
}

namespace {

constexpr uint32_t VISIT_MASK = 0x3;

std::string three_names(const CDB_SGATE_NODE* n) {
  return std::string(n->get_string_type_name()) + " " + n->get_string_hpath() + " " + n->get_debug_name();
}

class MFFC_LABELLER {
 public:
  MFFC_LABELLER(const GEN_DYN_FLAG& flag, bool report_loops) : m_flag(flag), m_report_loops(report_loops) {}

  void label(CDB_SGATE_NODE* n) {
    if (!kavu_look_through_gate_for_mffc(n)) {
      for (unsigned i = 0; i < n->get_output_count(); ++i)
        if (CDB_SGATE_OTERM* o = n->get_output_term(i)) o->set_dyn_flag(m_flag);
      return;
    }
    int candidate = 0;
    bool head = true;
    bool conflict = false;
    for (unsigned i = 0; i < n->get_output_count() && !conflict; ++i) {
      const CDB_SGATE_OTERM* o = n->get_output_term(i);
      if (!o) continue;
      for (const CDB_SGATE_ITERM* t : o->fanouts()) {
        const CDB_SGATE_NODE* s = t->get_my_node();
        if (!kavu_look_through_gate_for_mffc(s)) {
          conflict = true;
          break;
        }
        const int a = first_oterm(s) ? first_oterm(s)->get_aux() : 0;
        if (a == 0) {
          if (m_report_loops)
            kavu_debug(
                "Fanout node %s of oterm on node %s has aux 0 even though it should have been visited already. "
                "Comb loop? Make it head of the cone",
                three_names(s).c_str(), three_names(n).c_str());
          conflict = true;
          break;
        }
        if (head) {
          candidate = a;
          head = false;
        } else if (a != candidate) {
          conflict = true;
          break;
        }
      }
    }
    const bool is_head = conflict || head;
    const int id = is_head ? ++m_count : candidate;
    for (unsigned i = 0; i < n->get_output_count(); ++i) {
      CDB_SGATE_OTERM* o = n->get_output_term(i);
      if (!o) continue;
      o->set_aux(id);
      if (is_head) o->set_dyn_flag(m_flag);
    }
  }
  int count() const { return m_count; }

 private:
  const GEN_DYN_FLAG& m_flag;
  bool m_report_loops;
  int m_count = 0;
};

void reset_cones(CDB_SGATE_NETLIST* netlist, const GEN_DYN_FLAG& flag) {
  kavu_reset_aux_values(netlist);
  CDB_SGATE_NETLIST::clear_all_node_flags(netlist, flag);
}

uint32_t visit_state(const CDB_SGATE_NODE* n) { return n->get_flag().value() & VISIT_MASK; }
void set_visit_state(CDB_SGATE_NODE* n, uint32_t s) {
  n->get_flag().reset(VISIT_MASK);
  n->get_flag().set(s);
}

struct DFS_FRAME {
  CDB_SGATE_NODE* m_node;
  unsigned m_next;
};

// Post-order over fan-in from a look-through gate of state 0; appends to order.
void dfs_fanin(CDB_SGATE_NODE* sgate, std::vector<DFS_FRAME>& stack, std::vector<CDB_SGATE_NODE*>& order) {
  if (visit_state(sgate) != 0) KAVU_INTERNAL_ERROR("sgate->get_visited_val() == 0");
  KAVU_CHECK(kavu_look_through_gate_for_mffc(sgate));
  stack.clear();
  set_visit_state(sgate, 1);
  stack.push_back({sgate, 0});
  while (!stack.empty()) {
    DFS_FRAME& f = stack.back();
    CDB_SGATE_NODE* n = f.m_node;
    if (f.m_next < n->get_number_of_input_terms()) {
      const CDB_SGATE_ITERM* t = n->get_input_term(f.m_next++);
      if (!t || !t->get_source()) continue;
      CDB_SGATE_NODE* s = t->get_source()->get_my_node();
      const uint32_t st = visit_state(s);
      if (st == 0) {
        set_visit_state(s, 1);
        stack.push_back({s, 0});  // f may dangle from here on
      } else if (st == 1) {
        kavu_debug_at_level(MSG_D_LEVEL(3), "Found combinational loop containing %s and %s", three_names(n).c_str(),
                            three_names(s).c_str());
      }
      continue;
    }
    set_visit_state(n, 2);
    order.push_back(n);
    stack.pop_back();
  }
}

}  // namespace

int kavu_partition_into_mffcs_new(CDB_SGATE_NETLIST* netlist, const GEN_DYN_FLAG& flag) {
  KAVU_CHECK(netlist);
  return kavu_partition_detail::label_mffcs(netlist, node_snapshot(netlist), flag, false);
}

int kavu_partition_detail::label_mffcs(CDB_SGATE_NETLIST* netlist, const std::vector<CDB_SGATE_NODE*>& nodes,
                                       const GEN_DYN_FLAG& flag, bool fresh_flag) {
  GEN_PROFILER profiler("KAVU", "kavu_partition_into_mffcs_new");
  KAVU_CHECK(netlist);
  std::vector<CDB_SGATE_NODE*> order;
  order.reserve(nodes.size());
  // The search below reads only the visit states, so the cone ids (aux) are
  // cleared on the same walk.
  for (CDB_SGATE_NODE* n : nodes) {
    for (CDB_SGATE_OTERM* o : n->get_output_terms())
      if (o) o->set_aux(0);
    if (kavu_look_through_gate_for_mffc(n)) {
      set_visit_state(n, 0);
    } else {
      set_visit_state(n, 2);
      order.push_back(n);
    }
  }
  std::vector<DFS_FRAME> stack;
  for (CDB_SGATE_NODE* n : nodes)
    if (visit_state(n) == 0) dfs_fanin(n, stack, order);
  std::reverse(order.begin(), order.end());
  // A flag just made is clear everywhere already.
  if (!fresh_flag) CDB_SGATE_NETLIST::clear_all_node_flags(netlist, flag);
  MFFC_LABELLER labeller(flag, true);
  for (CDB_SGATE_NODE* n : order) labeller.label(n);
  for (CDB_SGATE_NODE* n : nodes) n->get_flag().reset(VISIT_MASK);
  kavu_debug("Identified %d mffcs.", labeller.count());
  return labeller.count();
}

int kavu_partition_into_mffcs(CDB_SGATE_NETLIST* netlist, const GEN_DYN_FLAG& flag) {
  GEN_PROFILER profiler("KAVU", "kavu_partition_into_mffcs");
  KAVU_CHECK(netlist);
  ZCU_FACADE_UTIL* util = ZCU_FACADE_UTIL::get_instance();
  KAVU_SORT sorter(util ? util->get_facade() : nullptr, false, false, false);
  KAVU_SORT::OTERM_LIST list;
  sorter.sort_oterms(netlist, list, true);
  list.reverse();
  reset_cones(netlist, flag);
  MFFC_LABELLER labeller(flag, false);
  // Gates the sort does not list (none on well-formed netlists) are labelled
  // after the listed ones, so every terminal ends with an id or the flag.
  std::vector<CDB_SGATE_NODE*> nodes = node_snapshot(netlist);
  for (CDB_SGATE_NODE* n : nodes) n->get_flag().reset(VISIT_MASK);
  for (CDB_SGATE_OTERM* o : list) {
    CDB_SGATE_NODE* n = o->get_my_node();
    n->get_flag().set(1);
    labeller.label(n);
  }
  for (CDB_SGATE_NODE* n : nodes) {
    if (!n->get_flag().test(1)) labeller.label(n);
    n->get_flag().reset(VISIT_MASK);
  }
  kavu_debug("Identified %d mffcs.", labeller.count());
  return labeller.count();
}
