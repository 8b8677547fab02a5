// kavu_utility_lutability.cpp — early LUT analysis (model in
// kavu_utility_lutability.h).
//
// Cone growth recurses at most 8 levels (its depth bound); gathering the
// interior gates uses an explicit stack. Leaves and gates are small vectors
// searched linearly: a cone has fewer than 16 leaves when it is simulated.
#include "kavu_utility_lutability.h"

#include <algorithm>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_cone.h"
#include "kavu_check.h"
#include "kavu_helper_orphan.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_utility_lut.h"
#include "kavu_utility_regclass.h"
#include "mem/mem.h"

namespace {

constexpr int CONE_DEPTH = 8;
constexpr size_t MAX_SIMULATED_LEAVES = 16;

bool is_marked(const CDB_SGATE_OTERM* t) { return t->get_aux() == 1; }

bool contains(const std::vector<CDB_SGATE_OTERM*>& v, const CDB_SGATE_OTERM* t) {
  return std::find(v.begin(), v.end(), t) != v.end();
}

void add_unique(std::vector<CDB_SGATE_OTERM*>* v, CDB_SGATE_OTERM* t) {
  if (!contains(*v, t)) v->push_back(t);
}

// The source of a driven, untied input, or null.
CDB_SGATE_OTERM* real_source(const CDB_SGATE_ITERM* t) {
  return (t && cdb_is_connected(t) && !t->is_vcc_or_gnd()) ? t->get_source() : nullptr;
}

int connected_inputs(const CDB_SGATE_NODE* g) {
  int n = 0;
  for (CDB_SGATE_ITERM* t : g->get_input_terms()) n += real_source(t) ? 1 : 0;
  return n;
}

struct LEAF_GRADES {
  int soft = 0, firm = 0, hard = 0, single_fo_hard = 0;
  int total() const { return soft + firm + hard; }
};

LEAF_GRADES grade(const std::vector<CDB_SGATE_OTERM*>& leaves) {
  LEAF_GRADES g;
  for (CDB_SGATE_OTERM* leaf : leaves) {
    if (!is_marked(leaf)) ++g.soft;
    else if (opt_is_lutable_comb_logic(leaf->get_my_node())) ++g.firm;
    else {
      ++g.hard;
      if (leaf->get_number_of_fanout() == 1) ++g.single_fo_hard;
    }
  }
  return g;
}

void debug_root(const char* format, CDB_SGATE_OTERM* root, const LEAF_GRADES& g) {
  CDB_SGATE_NODE* n = root->get_my_node();
  kavu_debug(format, n->get_string_type_name(), n->get_debug_name().c_str(), static_cast<int>(root->get_port_index()),
             g.hard, g.firm, g.soft, g.single_fo_hard);
}

bool accept_solid(int t, int firm, int volume) {
  return (t == 4 && firm < 3 && volume > 6) || (t == 5 && firm < 3 && volume > 7) ||
         (t == 6 && firm <= 3 && volume > 10);
}

bool accept_marginal(int t, int soft, int v) {
  switch (t) {
    case 6: return (soft < 2 && v > 11) || (soft < 3 && v > 13) || v > 16;
    case 5: return (soft < 2 && v > 10) || (soft < 3 && v > 12) || (soft < 4 && v > 14) || v > 16;
    case 4: return (soft < 2 && v > 9) || v > 11;
    default: return false;
  }
}

unsigned gate_base_bytes(const CDB_SGATE_NODE* g) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM: return 128;
    case CDB_SGATE_DFF_ENUM: return 128;
    case CDB_SGATE_LUT_ENUM: return 144;
    case CDB_SGATE_WYSIWYG_ENUM: return 176;
    case CDB_SGATE_OPERATOR_ENUM: return 152;
    default: return 120;
  }
}

int count_luts(const CDB_SGATE_NETLIST* netlist) {
  int n = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) n += (*it && kavu_is_a_lut(*it));
  return n;
}

// The three growth attempts; the grades of the last one made decide.
LEAF_GRADES grow_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>* leaves) {
  leaves->clear();
  opt_gather_cone_inputs(root, leaves, CONE_DEPTH, false, false);
  LEAF_GRADES g = grade(*leaves);
  if (g.firm + g.hard > 3 || g.soft < 1) return g;
  leaves->clear();
  opt_gather_cone_inputs(root, leaves, CONE_DEPTH, true, false);
  g = grade(*leaves);
  if (g.soft < 1 || g.total() > 3) return g;
  leaves->clear();
  opt_gather_cone_inputs(root, leaves, CONE_DEPTH, true, true);
  return grade(*leaves);
}

bool select_as_output(CDB_SGATE_OTERM* root, const std::vector<CDB_SGATE_OTERM*>& leaves, const LEAF_GRADES& g) {
  debug_root("%s UID %s.%d selected as output - %d hard ins %d firm ins %d soft ins %d single fo hards", root, g);
  kavu_debug("  volume is %d", opt_cone_volume(root, leaves));
  kavu_debug("   check me");
  return false;
}

}  // namespace

bool opt_all_fanins_marked(CDB_SGATE_NODE* gate) {
  KAVU_CHECK(gate);
  for (CDB_SGATE_ITERM* t : gate->get_input_terms()) {
    CDB_SGATE_OTERM* s = real_source(t);
    if (s && !is_marked(s)) return false;
  }
  return true;
}

void opt_gather_cone_inputs(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>* leaves, int depth,
                            bool expand_marked, bool expand_once) {
  KAVU_CHECK(root && leaves);
  CDB_SGATE_NODE* sgate = root->get_my_node();
  KAVU_CHECK(opt_is_lutable_comb_logic (sgate ));
  for (CDB_SGATE_ITERM* t : sgate->get_input_terms()) {
    CDB_SGATE_OTERM* s = real_source(t);
    if (!s) continue;
    if (is_marked(s)) {
      add_unique(leaves, s);
    } else if (depth > 0 && !contains(*leaves, s) &&
               (s->get_number_of_fanout() == 1 || (expand_marked && opt_all_fanins_marked(s->get_my_node())))) {
      opt_gather_cone_inputs(s, leaves, depth - 1, expand_marked, expand_once);
    } else if (expand_once && depth > 0 && !contains(*leaves, s)) {
      opt_gather_cone_inputs(s, leaves, depth - 1, expand_marked, false);
    } else {
      add_unique(leaves, s);
    }
  }
}

void opt_gather_cone_gates(CDB_SGATE_OTERM* oterm, const std::vector<CDB_SGATE_OTERM*>& leaves,
                           std::vector<CDB_SGATE_OTERM*>* gates) {
  KAVU_CHECK(oterm && gates);
  std::vector<CDB_SGATE_OTERM*> stack{oterm};
  while (!stack.empty()) {
    CDB_SGATE_OTERM* t = stack.back();
    stack.pop_back();
    if (contains(leaves, t)) continue;
    CDB_SGATE_NODE* sgate = t->get_my_node();
    KAVU_CHECK(opt_is_lutable_comb_logic (sgate ));
    CDB_SGATE_OTERM* first = sgate->get_single_oterm();
    if (contains(*gates, first)) continue;
    gates->push_back(first);
    const auto& inputs = sgate->get_input_terms();
    for (size_t i = inputs.size(); i-- > 0;)  // reversed: sources are visited in input order
      if (CDB_SGATE_OTERM* s = real_source(inputs[i])) stack.push_back(s);
  }
}

int opt_cone_volume(CDB_SGATE_OTERM* root, const std::vector<CDB_SGATE_OTERM*>& leaves) {
  std::vector<CDB_SGATE_OTERM*> gates;
  opt_gather_cone_gates(root, leaves, &gates);
  int volume = 0;
  for (CDB_SGATE_OTERM* g : gates) volume += connected_inputs(g->get_my_node());
  return volume;
}

bool opt_build_lut_from_cone(CDB_SGATE_OTERM* root, std::vector<CDB_SGATE_OTERM*>* leaves,
                             CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(root && leaves && netlist);
  if (leaves->size() >= MAX_SIMULATED_LEAVES) return false;
  KAVU_01TBL tbl = kavu_cone_01tbl(root, *leaves, nullptr);
  while (tbl.num_dependent() < leaves->size()) {
    for (unsigned pos = 0; pos < leaves->size(); ++pos) {
      if (tbl.is_dependent(pos)) continue;
      leaves->erase(leaves->begin() + pos);
      if (pos < tbl.num_vars()) {
        const unsigned count = tbl.num_vars();
        tbl.cofactor_on(pos, false);
        tbl.move_var(pos, count - 1);
        tbl.reduce(count - 1);
      }
    }
  }
  if (leaves->size() > CDB_LUTMASK::max_num_inputs) {
    kavu_debug("  Too large for a single LUT (%d)", static_cast<int>(leaves->size()));
    return false;
  }
  const CDB_LUTMASK mask = tbl.make_lutmask();
  CDB_SGATE_OTERM* out = opt_lut_up(&mask, *leaves, netlist, root->get_my_node());
  out->adopt_fanouts(root, false);
  out->set_aux(1);
  kavu_isolate_orphaned_gates(root, netlist, false);
  kavu_debug("  new LUT uid %s", out->get_my_node()->get_debug_name().c_str());
  return true;
}

bool opt_select_lutable_cone(CDB_SGATE_OTERM* root, CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(root && netlist);
  std::vector<CDB_SGATE_OTERM*> leaves;
  const LEAF_GRADES g = grow_cone(root, &leaves);
  const int t = g.total();
  if (g.firm == 0 && g.soft == 0) {
    if (g.hard > 6 && g.hard - g.single_fo_hard >= 3) return true;
    if (g.hard > 6) kavu_debug("This is a nice standalone cone.  MAP it");
    opt_build_lut_from_cone(root, &leaves, netlist);
    return true;
  }
  if (t < 3) {
    if (g.soft >= 1) {
      debug_root("Change rules to expand ? %s UID %s.%d - %d hard ins %d firm ins %d soft ins %d single fo hards",
                 root, g);
      kavu_debug("  volume is %d", opt_cone_volume(root, leaves));
    }
    return true;
  }
  if (g.soft == 0) {
    if (t < 4 || t > 6) return select_as_output(root, leaves, g);
    const int v = opt_cone_volume(root, leaves);
    const bool accept = accept_solid(t, g.firm, v);
    kavu_debug("Pretty solid %d - %d hard %d firm volume %d - %s", t, g.hard, g.firm, v, accept ? "accept" : "reject");
    if (accept) opt_build_lut_from_cone(root, &leaves, netlist);
    return true;
  }
  if (g.hard > 6 && g.hard - g.single_fo_hard >= 3) return true;
  if (t > 6) return select_as_output(root, leaves, g);
  const int v = opt_cone_volume(root, leaves);
  const bool accept = accept_marginal(t, g.soft, v);
  CDB_SGATE_NODE* n = root->get_my_node();
  kavu_debug("Marginal %d LUT from %s UID %s.%d - %d hard ins %d firm ins %d soft ins %d single fo hards, vol %d - %s",
             t, n->get_string_type_name(), n->get_debug_name().c_str(), static_cast<int>(root->get_port_index()),
             g.hard, g.firm, g.soft, g.single_fo_hard, v, accept ? "accept" : "reject");
  if (accept) opt_build_lut_from_cone(root, &leaves, netlist);
  for (CDB_SGATE_OTERM* leaf : leaves)
    if (!is_marked(leaf)) leaf->set_aux(1);
  return true;
}

bool opt_sgate_lutability(CDB_SGATE_NETLIST* netlist, CMP_FACADE*) {
  KAVU_CHECK(netlist);
  kavu_debug("Starting early LUT analysis...");
  const int luts_before = count_luts(netlist);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it)
      for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
        if (o) o->set_aux(0);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || opt_is_lutable_comb_logic(g)) continue;
    for (CDB_SGATE_OTERM* o : g->get_output_terms())
      if (o) o->set_aux(1);
    if (kavu_is_a_add_op(g)) continue;
    for (CDB_SGATE_ITERM* t : g->get_input_terms())
      if (CDB_SGATE_OTERM* s = real_source(t)) s->set_aux(1);
  }
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || !opt_is_lutable_comb_logic(g)) continue;
    for (unsigned i = 0; i < g->get_output_count(); ++i) {
      CDB_SGATE_OTERM* o = g->get_output_term(i);
      // The gate may lose its outputs' fan-outs to a LUT built from an
      // earlier output: such an output no longer roots anything.
      if (o && is_marked(o) && o->has_fanout()) opt_select_lutable_cone(o, netlist);
    }
  }
  netlist->prepare_for_use();
  netlist->sweep(false);
  kavu_debug("  Started with %d LUTs, ended with %d", luts_before, count_luts(netlist));
  return false;
}

unsigned int opt_estimate_netlist_bytes(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  unsigned bytes = 360;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    bytes += gate_base_bytes(g) + 64 * g->get_number_of_input_terms() + 96 * g->get_output_count();
  }
  return bytes;
}

unsigned int opt_lose_netlist_memory(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  netlist->prepare_for_use();
  netlist->sweep_if_dirty();
  kavu_debug("Netlist using about %d bytes on entry", static_cast<int>(opt_estimate_netlist_bytes(netlist)));
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_a_comb(*it)) (*it)->cast_to_comb()->widen(MEM_MANAGER::get_default_segment());
  netlist->prepare_for_use();
  netlist->sweep_if_dirty();
  kavu_debug("Netlist using about %d bytes on exit", static_cast<int>(opt_estimate_netlist_bytes(netlist)));
  return 0;
}
