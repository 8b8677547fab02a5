// kavu_lut_unmapper_decomp.cpp — one decomposition step of the BDD form:
// f is cut between two levels of its variable order; the nodes below the
// cut that edges from above reach (the cut nodes) tell which gate joins a
// function of the variables above (the top) with functions below.
//
// Order of trial: a simple AND/OR (two cut nodes, one constant) and a
// simple XNOR (one cut node, on a complement-edge copy) with at most n/2
// variables above the cut, the first found wins; else the cheapest by node
// count of a 2:1 mux (every top of 1..n-1 variables, each side sifted on
// its own), a generalized AND/OR (cut nodes set to 1 or 0, the rest by
// generalized cofactor) and a generalized XNOR (a node reached by regular
// and complemented edges). Ties go to the generalized candidates, AND/OR
// before XNOR.
// Every argument comes back in a manager of its own over its own support,
// without complement edges. The searches reorder f's manager; f's function
// never changes.
// Cost: the mux search evaluates up to 2^n - 2 cuts with two range
// siftings each (n <= 6 for LUT functions).
#include <algorithm>
#include <set>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_msg.h"
#include "kavu_setup.h"

namespace {

std::vector<int> current_order(BDD_ZBDD_MGR* bm) {
  std::vector<int> order(bm->support_size());
  bm->get_variable_order(order.data());
  return order;
}

void dump(BDD_ZBDD_MGR* bm) {
  if (kavu_debug_lut_unmapper) lut_unmap_dump_bdd_table(bm);
}

// Brings `var` up to `level` by adjacent swaps.
void bring_to_level(BDD_ZBDD_MGR* bm, int var, int level) {
  for (int lvl = bm->level_of_var(var); lvl > level; --lvl) {
    if (bm->variable_at(lvl) != var) KAVU_INTERNAL_ERROR("bm->variable_at(lvl) == var");
    bm->swap_adjacent_variables(bm->variable_at(lvl - 1), var);
  }
}

// Position of the one constant among two cut nodes, or -1; both constant
// is an internal error (f depends on every variable, so some cut node does).
int constant_position(const std::vector<BDD_ZBDD>& cut) {
  if (cut[0].is_constant() && cut[1].is_constant()) KAVU_INTERNAL_ERROR("!cut_nodes[1].is_constant()");
  if (cut[0].is_constant()) return 0;
  if (cut[1].is_constant()) return 1;
  return -1;
}

struct SIMPLE_FOUND {
  std::vector<int> order;
  int level = -1;
};

// Every subset of at most n/2 variables above the cut, in the order of
// vars; the first cut of the wanted shape wins.
BDD_DECOMP_TYPE search_simple(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, const std::vector<int>& vars, int start, int level,
                              bool xnor, SIMPLE_FOUND* found) {
  const int n = int(vars.size());
  if (!(level < n)) KAVU_INTERNAL_ERROR("cur_level < (int)vars_to_try.size()");
  KAVU_CHECK(bm->use_complement_edges() == xnor);
  if (level >= 1) {
    std::vector<BDD_ZBDD> cut;
    f->get_cut_nodes(level, &cut);
    if (!xnor) {
      if (!(cut.size() > 1)) KAVU_INTERNAL_ERROR("cut_nodes.size() > 1");
      if (cut.size() == 2) {
        const int k = constant_position(cut);
        if (k >= 0) {
          found->level = level;
          found->order = current_order(bm);
          if (cut[k] == bm->true_bdd()) return BDD_DECOMP_OR;
          if (!(cut[k] == bm->false_bdd())) KAVU_INTERNAL_ERROR("cut_nodes[constant_node] == bm->false_bdd()");
          return BDD_DECOMP_AND;
        }
      }
    } else {
      if (!(cut.size() >= 1)) KAVU_INTERNAL_ERROR("cut_nodes.size() >= 1");
      if (cut.size() == 1) {
        if (cut[0].is_constant()) KAVU_INTERNAL_ERROR("!cut_nodes[0].is_constant()");
        found->level = level;
        found->order = current_order(bm);
        return BDD_DECOMP_XNOR;
      }
    }
  }
  if (level < n / 2) {
    for (int i = start; i < n; ++i) {
      bring_to_level(bm, vars[i], level);
      const BDD_DECOMP_TYPE r = search_simple(bm, f, vars, i + 1, level + 1, xnor, found);
      if (r != BDD_DECOMP_NONE) return r;
    }
  }
  return BDD_DECOMP_NONE;
}

struct MUX_BEST {
  std::vector<int> order;
  int level = -1, cost = -1, largest = -1;
};

BDD_DECOMP_TYPE search_mux_cut(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, const std::vector<int>& vars, bool allow_single,
                               int start, int level, MUX_BEST* best) {
  const int n = int(vars.size());
  if (!(level < n) || bm->use_complement_edges()) KAVU_INTERNAL_ERROR("cur_level < (int)vars_to_try.size()");
  BDD_DECOMP_TYPE result = BDD_DECOMP_NONE;
  if (level >= 2 || (level >= 1 && allow_single)) {
    const std::vector<int> saved = current_order(bm);
    std::vector<BDD_ZBDD> cut;
    f->get_cut_nodes(level, &cut);
    if (!(cut.size() > 1)) KAVU_INTERNAL_ERROR("cut_nodes.size() > 1");
    if (cut.size() == 2) {
      // Each side is sifted on its own, so no variable crosses the cut.
      bm->sifting_reorder(0, 0, level);
      bm->sifting_reorder(0, level, n);
      const int top = f->size_upto_level(level - 1);
      const int left = cut[0].size(), right = cut[1].size();
      const int cost = top + left + right;
      const int largest = std::max(top, std::max(left, right));
      if (kavu_debug_lut_unmapper)
        kavu_debug("Found 2:1 mux decomposition at level %d with cost %d = %d (top) + %d (left) + %d (right)", level,
                   cost, top, left, right);
      const bool equal_better = cost == best->cost && largest <= best->largest;
      if (best->cost < 0 || cost < best->cost || equal_better) {
        if (equal_better && kavu_debug_lut_unmapper) kavu_debug("Found better 2:1 mux decomp on second criterium");
        best->cost = cost;
        best->level = level;
        best->largest = largest;
        best->order = current_order(bm);
        if (kavu_debug_lut_unmapper)
          kavu_debug("This cost is better than previous best %d (max size %d)", cost, largest);
      }
      result = BDD_DECOMP_MUX;
      bm->order_variables(saved.data(), n);
    }
  }
  if (level < n - 1) {
    for (int i = start; i < n; ++i) {
      bring_to_level(bm, vars[i], level);
      if (search_mux_cut(bm, f, vars, allow_single, i + 1, level + 1, best) == BDD_DECOMP_MUX)
        result = BDD_DECOMP_MUX;
    }
  }
  return result;
}

int arg_size(const BDD_ARG& a) { return a.bdd.size(); }

}  // namespace

// ===========================================================================
BDD_DECOMP_TYPE lut_unmap_simple_and_or(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                        BDD_ARG* a, BDD_ARG* b) {
  KAVU_CHECK(!bm->use_complement_edges());
  SIMPLE_FOUND found;
  const BDD_DECOMP_TYPE type = search_simple(bm, f, current_order(bm), 0, 0, false, &found);
  if (type == BDD_DECOMP_NONE) return type;
  if (!(type == BDD_DECOMP_AND || type == BDD_DECOMP_OR))
    KAVU_INTERNAL_ERROR("decomp_type == BDD_DECOMP_AND || decomp_type == BDD_DECOMP_OR");
  bm->order_variables(found.order.data(), bm->support_size());
  std::vector<BDD_ZBDD> cut;
  f->get_cut_nodes(found.level, &cut);
  if (cut.size() != 2) KAVU_INTERNAL_ERROR("cut_nodes.size() == 2");
  if (kavu_debug_lut_unmapper) {
    kavu_debug("Found AND or OR at level %d. Order = ", found.level);
    bm->dump_variable_order();
    dump(bm);
    kavu_debug("The cut nodes are %d and %d", cut[0].id(), cut[1].id());
  }
  const int k = constant_position(cut);
  if (k < 0) KAVU_INTERNAL_ERROR("!cut_nodes[0].is_constant() || !cut_nodes[1].is_constant()");
  const BDD_ZBDD bottom = cut[1 - k];
  std::vector<int> values(2);
  values[k] = type == BDD_DECOMP_AND ? 0 : 1;
  values[1 - k] = type == BDD_DECOMP_AND ? 1 : 0;
  const BDD_ZBDD top = bm->assign_cut_node_values(*f, found.level, cut, values);
  if (kavu_debug_lut_unmapper)
    kavu_debug("BDD manager after assigning cut values %d and %d (BDD %d)", values[0], values[1], top.id());
  a->take_clone(bm, bottom, support);
  b->take_clone(bm, top, support);
  bm->garbage_collect();
  return type;
}

BDD_DECOMP_TYPE lut_unmap_simple_xnor(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                      BDD_ARG* a, BDD_ARG* b) {
  KAVU_CHECK(bm->use_complement_edges());
  if (kavu_debug_lut_unmapper)
    kavu_debug("Entering decomp xnor with BDD with %d levels and %d nodes", bm->support_size(), f->size());
  SIMPLE_FOUND found;
  const BDD_DECOMP_TYPE type = search_simple(bm, f, current_order(bm), 0, 0, true, &found);
  if (type == BDD_DECOMP_NONE) return type;
  if (type != BDD_DECOMP_XNOR) KAVU_INTERNAL_ERROR("decomp_type == BDD_DECOMP_XNOR");
  bm->order_variables(found.order.data(), bm->support_size());
  std::vector<BDD_ZBDD> cut;
  f->get_cut_nodes(found.level, &cut);
  if (cut.size() != 1) KAVU_INTERNAL_ERROR("cut_nodes.size() == 1");
  const BDD_ZBDD top = bm->assign_cut_node_values(*f, found.level, cut, std::vector<int>{1});
  a->take_clone(bm, cut[0], support);
  b->take_clone(bm, top, support);
  bm->garbage_collect();
  return type;
}

BDD_DECOMP_TYPE lut_unmap_mux_decomposition(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                            BDD_ARG* a, BDD_ARG* b, BDD_ARG* c) {
  KAVU_CHECK(!bm->use_complement_edges());
  if (kavu_debug_lut_unmapper) {
    kavu_debug("Entering 2:1 mux decomposition with BDD with %d nodes and %d levels", f->size(), bm->support_size());
    dump(bm);
  }
  MUX_BEST best;
  const BDD_DECOMP_TYPE type = search_mux_cut(bm, f, current_order(bm), true, 0, 0, &best);
  if (type == BDD_DECOMP_NONE) return type;
  if (type != BDD_DECOMP_MUX) KAVU_INTERNAL_ERROR("decomp_type == BDD_DECOMP_MUX");
  bm->order_variables(best.order.data(), bm->support_size());
  std::vector<BDD_ZBDD> cut;
  f->get_cut_nodes(best.level, &cut);
  if (cut.size() != 2) KAVU_INTERNAL_ERROR("cut_nodes.size() == 2");
  const BDD_ZBDD top = bm->assign_cut_node_values(*f, best.level, cut, std::vector<int>{0, 1});
  a->take_clone(bm, top, support);
  b->take_clone(bm, cut[0], support);
  c->take_clone(bm, cut[1], support);
  bm->garbage_collect();
  return type;
}

BDD_DECOMP_TYPE lut_unmap_generalized_and_or(BDD_ZBDD_MGR* bm, BDD_ZBDD* f,
                                             std::vector<CDB_SGATE_OTERM*>* support, BDD_ARG* a, BDD_ARG* b) {
  KAVU_CHECK(!bm->use_complement_edges());
  if (kavu_debug_lut_unmapper) {
    kavu_debug("Trying generalized AND or OR on %p", static_cast<void*>(bm));
    dump(bm);
  }
  bm->garbage_collect();
  bm->sifting_reorder(0, 0, -1);
  bm->garbage_collect();
  std::vector<BDD_ZBDD> top_order;
  f->get_top_order(&top_order, true);
  std::reverse(top_order.begin(), top_order.end());
  const int start_size = f->size();
  if (kavu_debug_lut_unmapper) kavu_debug("Start size = %d", start_size);
  const int n = bm->support_size();
  int best_cost = -1, best_largest = -1;
  BDD_DECOMP_TYPE type = BDD_DECOMP_NONE;
  BDD_ZBDD best_top, best_div;
  std::vector<BDD_ZBDD> cut;
  int zeros = 0, ones = 0;
  size_t next = 0;
  for (int lvl = 0; lvl <= n - 2; ++lvl) {
    cut.erase(std::remove_if(cut.begin(), cut.end(), [lvl](const BDD_ZBDD& x) { return x.level() <= lvl; }),
              cut.end());
    bool zero_here = false, one_here = false;
    for (; next < top_order.size() && top_order[next].level() == lvl; ++next) {
      const BDD_ZBDD lo = top_order[next].low_child(), hi = top_order[next].high_child();
      if (lo == bm->true_bdd() || hi == bm->true_bdd()) {
        one_here = true;
        ++ones;
      } else if (lo == bm->false_bdd() || hi == bm->false_bdd()) {
        zero_here = true;
        ++zeros;
      }
      for (const BDD_ZBDD& child : {lo, hi})
        if (!child.is_constant() && std::find(cut.begin(), cut.end(), child) == cut.end()) cut.push_back(child);
    }
    if (kavu_debug_lut_unmapper)
      kavu_debug("Level %d: found %d nodes connected to zero, %d nodes connected to one and %d cut nodes at level",
                 lvl, zeros, ones, int(cut.size()));
    if (!(next == top_order.size() || top_order[next].level() > lvl))
      KAVU_INTERNAL_ERROR("next == (int)top_order.size() || top_order[next].level() > lvl");
    if (cut.empty()) continue;
    if (zero_here) {
      const BDD_ZBDD g = bm->assign_cut_node_values(*f, lvl, cut, std::vector<int>(cut.size(), 1));
      const BDD_ZBDD div = f->Constrain(g);
      const int sg = g.size(), sd = div.size(), cost = sg + sd, largest = std::max(sg, sd);
      if (kavu_debug_lut_unmapper)
        kavu_debug(
            "Generalized AND of BDD %d at level %d decomposes BDD of size %d into BDD-and %d of size %d and BDD-div "
            "%d of size %d, sum size %d",
            f->id(), lvl, start_size, g.id(), sg, div.id(), sd, cost);
      if (sg < start_size && sd < start_size &&
          (best_cost < 0 || cost < best_cost || (cost == best_cost && largest < best_largest))) {
        best_cost = cost;
        best_largest = largest;
        best_top = g;
        best_div = div;
        type = BDD_DECOMP_AND;
        if (kavu_debug_lut_unmapper) kavu_debug("Generalized AND at level %d is best until now", lvl);
      }
    }
    if (one_here) {
      const BDD_ZBDD h = bm->assign_cut_node_values(*f, lvl, cut, std::vector<int>(cut.size(), 0));
      const BDD_ZBDD div = f->Constrain(!h);
      const int sh = h.size(), sd = div.size(), cost = sh + sd;
      if (kavu_debug_lut_unmapper)
        kavu_debug(
            "Generalized OR of BDD %d at level %d decomposes BDD of size %d into BDD-and %d of size %d and BDD-div "
            "%d of size %d, sum size %d",
            f->id(), lvl, start_size, h.id(), sh, div.id(), sd, cost);
      if (sh < start_size && sd < start_size && (best_cost < 0 || cost < best_cost)) {
        best_cost = cost;
        best_top = h;
        best_div = div;
        type = BDD_DECOMP_OR;
        if (kavu_debug_lut_unmapper) kavu_debug("Generalized OR at level %d is best until now", lvl);
      }
    }
  }
  if (type == BDD_DECOMP_NONE) {
    if (kavu_debug_lut_unmapper) kavu_debug("No generalized AND or OR found for BDD manager %p", static_cast<void*>(bm));
    return type;
  }
  a->take_clone(bm, best_top, support);
  b->take_clone(bm, best_div, support);
  if (kavu_debug_lut_unmapper)
    kavu_debug("Found generalized %s for BDD 0x%0x: new size = %d + %d = %d, old size = %d",
               type == BDD_DECOMP_AND ? "AND" : "OR", unsigned(f->id()), arg_size(*a), arg_size(*b),
               arg_size(*a) + arg_size(*b), start_size);
  best_top = BDD_ZBDD();
  best_div = BDD_ZBDD();
  bm->garbage_collect();
  return type;
}

BDD_DECOMP_TYPE lut_unmap_generalized_xnor(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                           BDD_ARG* a, BDD_ARG* b) {
  if (!bm->use_complement_edges()) KAVU_INTERNAL_ERROR("bm->use_complement_edges()");
  bm->sifting_reorder(0, 0, -1);
  if (kavu_debug_lut_unmapper) {
    kavu_debug("Entering generalized XNOR decomposition for BDD %d in manager %p", f->id(), static_cast<void*>(bm));
    dump(bm);
  }
  std::vector<BDD_ZBDD> order;
  f->get_top_order(&order, true);
  std::set<int> positive, negative;
  for (const BDD_ZBDD& node : order) {
    const BDD_ZBDD lo = node.low_child(), hi = node.high_child();
    if (!lo.is_constant()) (lo.is_complement() ? negative : positive).insert(lo.index());
    if (!hi.is_constant()) positive.insert(hi.index());
  }
  const int fsize = f->size();
  int best_cost = -1, best_largest = -1;
  BDD_ZBDD best_g, best_h;
  for (int idx : positive) {
    if (negative.count(idx) == 0) continue;
    if (kavu_debug_lut_unmapper) kavu_debug("Node %d has positive and negative edges", idx);
    const BDD_ZBDD g(bm, idx);
    const BDD_ZBDD h = !(*f ^ g);
    const int sg = g.size(), sh = h.size(), cost = sg + sh, largest = std::max(sg, sh);
    if (kavu_debug_lut_unmapper)
      kavu_debug("Found XNOR decomposition of size %d = %d + %d (BDD %d = %d xnor %d). Original size %d", cost, sg, sh,
                 f->id(), g.id(), h.id(), fsize);
    if (sg < fsize && sh < fsize &&
        (best_cost < 0 || cost < best_cost || (cost == best_cost && largest < best_largest))) {
      best_cost = cost;
      best_largest = largest;
      best_g = g;
      best_h = h;
      if (kavu_debug_lut_unmapper) kavu_debug("XNOR decomposition is best until now");
    }
  }
  if (best_cost < 0) {
    if (kavu_debug_lut_unmapper) kavu_debug("No valid XNOR decomposition found");
    return BDD_DECOMP_NONE;
  }
  a->take_clone(bm, best_g, support);
  b->take_clone(bm, best_h, support);
  if (kavu_debug_lut_unmapper) {
    kavu_debug("Best XNOR decomposition has size = %d = %d + %d, original size %d.", best_cost, best_g.size(),
               best_h.size(), fsize);
    kavu_debug("In non-complement edge form the new size = %d = %d + %d", arg_size(*a) + arg_size(*b), arg_size(*a),
               arg_size(*b));
  }
  return BDD_DECOMP_XNOR;
}

BDD_DECOMP_TYPE lut_unmap_choose_decomposition(BDD_ZBDD_MGR* bm, BDD_ZBDD* f,
                                               std::vector<CDB_SGATE_OTERM*>* support, BDD_ARG* a, BDD_ARG* b,
                                               BDD_ARG* c) {
  const bool no_xnor = cfg_is_on("kavu_lut_unmapper_no_generalized_xnor", false);
  const bool no_and_or = cfg_is_on("kavu_lut_unmapper_no_generalized_and_or", false);
  if (!(a->bm == 0 && b->bm == 0 && c->bm == 0)) KAVU_INTERNAL_ERROR("*bm_a == 0 && *bm_b == 0 && *bm_c == 0");
  if (kavu_debug_lut_unmapper)
    kavu_debug("Try to find the best of 2:1, generalized and/or and generalized xnor decomposition");
  BDD_ARG ma, mb, mc;
  const BDD_DECOMP_TYPE mux = lut_unmap_mux_decomposition(bm, f, support, &ma, &mb, &mc);
  if (mux != BDD_DECOMP_MUX) KAVU_INTERNAL_ERROR("mux_decomp_type == BDD_DECOMP_MUX");
  const int mux_total = arg_size(ma) + arg_size(mb) + arg_size(mc) + 1;
  const int mux_largest = std::max(arg_size(ma), std::max(arg_size(mb), arg_size(mc)));
  if (kavu_debug_lut_unmapper)
    kavu_debug("Result 2:1 MUX: size = %d + %d + %d + 1 = %d. ", arg_size(ma), arg_size(mb), arg_size(mc), mux_total);

  BDD_ARG ga, gb;
  BDD_DECOMP_TYPE and_or = BDD_DECOMP_NONE;
  if (!no_and_or) and_or = lut_unmap_generalized_and_or(bm, f, support, &ga, &gb);
  if (!(and_or == BDD_DECOMP_NONE || and_or == BDD_DECOMP_AND || and_or == BDD_DECOMP_OR))
    KAVU_INTERNAL_ERROR(
        "and_or_decomp_type == BDD_DECOMP_NONE || and_or_decomp_type == BDD_DECOMP_AND || and_or_decomp_type == "
        "BDD_DECOMP_OR");
  int ao_total = mux_total + 1, ao_largest = mux_largest + 1;
  if (and_or != BDD_DECOMP_NONE) {
    ao_total = arg_size(ga) + arg_size(gb);
    ao_largest = std::max(arg_size(ga), arg_size(gb));
    if (kavu_debug_lut_unmapper)
      kavu_debug("Result generalized AND/OR: size = %d + %d = %d. ", arg_size(ga), arg_size(gb), ao_total);
  } else if (kavu_debug_lut_unmapper) {
    kavu_debug("Result generalized AND/OR: No decomposition found");
  }

  BDD_ARG xa, xb;
  BDD_DECOMP_TYPE xnor = BDD_DECOMP_NONE;
  if (!no_xnor) {
    BDD_ZBDD_MGR* ce_bm = nullptr;
    std::vector<CDB_SGATE_OTERM*> ce_support;
    BDD_ZBDD ce_f = lut_unmap_clone_bdd(bm, f, support, true, &ce_bm, &ce_support);
    xnor = lut_unmap_generalized_xnor(ce_bm, &ce_f, &ce_support, &xa, &xb);
    ce_f.remove_from_manager();
    delete ce_bm;
  }
  if (!(xnor == BDD_DECOMP_NONE || xnor == BDD_DECOMP_XNOR))
    KAVU_INTERNAL_ERROR("xnor_decomp_type == BDD_DECOMP_NONE || xnor_decomp_type == BDD_DECOMP_XNOR");
  int x_total = mux_total + 1, x_largest = mux_largest + 1;
  if (xnor != BDD_DECOMP_NONE) {
    x_total = arg_size(xa) + arg_size(xb);
    x_largest = std::max(arg_size(xa), arg_size(xb));
    if (kavu_debug_lut_unmapper)
      kavu_debug("Result generalized XNOR: size = %d + %d = %d. ", arg_size(xa), arg_size(xb), x_total);
  } else if (kavu_debug_lut_unmapper) {
    kavu_debug("Result generalized XNOR: No decomposition found");
  }

  // AND/OR beats XNOR on a smaller total or an equal one with a largest
  // part no larger; the mux wins only on a strictly smaller total.
  const bool ao_better = ao_total < x_total || (ao_total == x_total && ao_largest <= x_largest);
  BDD_DECOMP_TYPE type;
  const char* winner;
  if (ao_better && and_or != BDD_DECOMP_NONE && !(mux_total < ao_total)) {
    type = and_or;
    winner = "Generalized AND/OR";
    a->move_from(ga);
    b->move_from(gb);
  } else if (!ao_better && xnor != BDD_DECOMP_NONE && !(mux_total < x_total)) {
    type = xnor;
    winner = "Generalized XNOR";
    a->move_from(xa);
    b->move_from(xb);
  } else {
    type = BDD_DECOMP_MUX;
    winner = "2:1 MUX";
    a->move_from(ma);
    b->move_from(mb);
    c->move_from(mc);
  }
  if (kavu_debug_lut_unmapper)
    kavu_debug("And the winner is... %s: size_a = %d, size_b = %d, size_c = %d ", winner, arg_size(*a), arg_size(*b),
               c->bm != nullptr ? arg_size(*c) : 0);
  if (type == BDD_DECOMP_NONE) KAVU_INTERNAL_ERROR("decomp_type != BDD_DECOMP_NONE");
  return type;  // the losers' managers go with ma.., ga.., xa..
}

BDD_DECOMP_TYPE lut_unmap_find_decomposition(BDD_ZBDD_MGR* bm, BDD_ZBDD* f, std::vector<CDB_SGATE_OTERM*>* support,
                                             BDD_ARG* a, BDD_ARG* b, BDD_ARG* c, bool mux_only) {
  KAVU_CHECK(bm != 0 && f != 0 && support != 0 && a != 0 && b != 0 && c != 0);
  if (!(bm->support_size() >= 2)) KAVU_INTERNAL_ERROR("num_levels >= 2");
  a->clear();
  b->clear();
  c->clear();
  KAVU_CHECK(!bm->use_complement_edges());
  if (mux_only) {
    const BDD_DECOMP_TYPE t = lut_unmap_mux_decomposition(bm, f, support, a, b, c);
    if (t == BDD_DECOMP_NONE) KAVU_INTERNAL_ERROR("decomp_type != BDD_DECOMP_NONE");
    return t;
  }
  BDD_DECOMP_TYPE t = lut_unmap_simple_and_or(bm, f, support, a, b);
  if (t == BDD_DECOMP_AND || t == BDD_DECOMP_OR) return t;
  {
    BDD_ZBDD_MGR* ce_bm = nullptr;
    std::vector<CDB_SGATE_OTERM*> ce_support;
    BDD_ZBDD ce_f = lut_unmap_clone_bdd(bm, f, support, true, &ce_bm, &ce_support);
    t = lut_unmap_simple_xnor(ce_bm, &ce_f, &ce_support, a, b);
    ce_f.remove_from_manager();
    delete ce_bm;
  }
  if (t == BDD_DECOMP_XNOR) return t;
  t = lut_unmap_choose_decomposition(bm, f, support, a, b, c);
  if (t == BDD_DECOMP_NONE) KAVU_INTERNAL_ERROR("decomp_type != BDD_DECOMP_NONE");
  return t;
}
