// kavu_bdd_sgate.cpp — BDDs of gate sub-netlists: the subnet build with its
// node cap, the per-gate rules, and the two reordering heuristics.
//
// Build: support terminal i is variable i; members are built in list order
// from their input terminals (support variable, earlier member, constant),
// each gate by its rule; member BDDs and their complements are kept side by
// side so an inverted input costs nothing. The cap rule runs after each
// member: above the cap, collect; still not below it, sift (when allowed).
// Cost: members x gate operations; the cap bounds the table.
#include "kavu_bdd_sgate.h"

#include <ctime>
#include <unordered_map>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_load_time_int.h"

namespace {

// Input port type of the Brae cell's tenth input.
constexpr DB_INPUT_PORT_TYPE k_brae_extra_input = 3;

long elapsed(const BDD_ZBDD_MGR* mgr) { return long(std::time(nullptr) - mgr->m_start_time); }

void verbose_state(const BDD_ZBDD_MGR* mgr) {
  kavu_debug("    %d nodes in MGR", mgr->size());
  kavu_debug("    %ld seconds have elapsed", elapsed(mgr));
}

struct SUBNET_TABLES {
  std::vector<BDD_ZBDD> support, support_not, member, member_not;
  std::unordered_map<const CDB_SGATE_OTERM*, int> support_pos, member_pos;
};

// The BDD an input terminal sees, or null for an unconnected terminal.
// `member` is the position of the member being built.
const BDD_ZBDD* input_bdd(BDD_ZBDD_MGR* mgr, const CDB_SGATE_ITERM* t, SUBNET_TABLES& tab, int member,
                          int position, const BDD_ZBDD& t_true, const BDD_ZBDD& t_false, bool operator_port) {
  const bool connected = t != nullptr && (t->is_vcc_or_gnd() || cdb_is_connected(t));
  if (!connected) {
    if (operator_port) KAVU_INTERNAL_ERROR("cdb_is_connected(iterm)");
    return nullptr;
  }
  if (t->is_vcc()) return &t_true;
  if (t->is_gnd()) return &t_false;
  const CDB_SGATE_OTERM* src = t->get_source();
  if (src == nullptr && t->get_parent_input() != nullptr) src = t->get_parent_input()->get_source();
  const bool inv = t->is_inverted();
  auto s = tab.support_pos.find(src);
  if (s != tab.support_pos.end()) return inv ? &tab.support_not[s->second] : &tab.support[s->second];
  auto m = tab.member_pos.find(src);
  if (m != tab.member_pos.end()) {
    const int k = m->second;
    if (tab.member[k] == mgr->null_bdd()) {
      if (operator_port) KAVU_INTERNAL_ERROR("member_bdds[bdd_index] != mgr->null_bdd()");
      kavu_debug("iterm %d on member %d", position, member);
      kavu_debug("is fed by member %d", k);
      kavu_debug("which should be computed already but isn't");
      KAVU_INTERNAL_ERROR("Members not in topo order");
    }
    return inv ? &tab.member_not[k] : &tab.member[k];
  }
  KAVU_INTERNAL_ERROR("Support set is not complete");
  return nullptr;
}

BDD_ZBDD calc_operator_bdd(BDD_ZBDD_MGR* mgr, CDB_SGATE_OPERATOR* op, SUBNET_TABLES& tab, int member, bool nto1) {
  const BDD_ZBDD t_true = mgr->true_bdd(), t_false = mgr->false_bdd();
  CDB_SGATE_OPER_PORT_ENTRY* sel = op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* data = op->get_port(CDB_OPER_PORT_B);
  KAVU_CHECK(sel != 0 && data != 0);
  auto port_bdd = [&](CDB_SGATE_OPER_PORT_ENTRY* p, unsigned i) {
    return *input_bdd(mgr, p->get_iterm(i), tab, member, int(i), t_true, t_false, true);
  };
  BDD_ZBDD result = mgr->false_bdd();
  if (nto1) {
    const unsigned s = sel->get_width(), d = data->get_width();
    KAVU_CHECK(s < 32);
    for (unsigned k = 0; k < d; ++k) {
      BDD_ZBDD term = port_bdd(data, k);
      for (unsigned b = 0; b < s; ++b) {
        const BDD_ZBDD sb = port_bdd(sel, b);
        term &= ((k >> b) & 1u) != 0 ? sb : !sb;
      }
      result |= term;
    }
  } else {
    KAVU_CHECK(data->get_width() >= sel->get_width());
    for (unsigned i = 0; i < sel->get_width(); ++i) result |= port_bdd(sel, i) & port_bdd(data, i);
  }
  return result;
}

BDD_ZBDD calc_member_bdd(BDD_ZBDD_MGR* mgr, CDB_SGATE_OTERM* oterm, SUBNET_TABLES& tab, int member) {
  CDB_SGATE_NODE* gate = oterm->get_my_node();
  if (!(kavu_is_a_comb(gate) || kavu_is_a_lut(gate) || kavu_is_wys_comb(gate, true) || kavu_is_a_nto1_mux_op(gate) ||
        kavu_is_a_select_op(gate) || kavu_is_a_mux(gate)))
    KAVU_INTERNAL_ERROR(
        "kavu_is_a_comb(sgate) || kavu_is_a_lut(sgate) || kavu_is_wys_comb(sgate, true) || "
        "kavu_is_a_nto1_mux_op(sgate) || kavu_is_a_select_op(sgate) || kavu_is_a_mux (sgate)");
  if (kavu_is_a_nto1_mux_op(gate) || kavu_is_a_select_op(gate))
    return calc_operator_bdd(mgr, gate->cast_to_operator(), tab, member, kavu_is_a_nto1_mux_op(gate));
  const bool reads_zero = kavu_is_a_lut(gate) || kavu_is_wys_comb(gate, true);
  const BDD_ZBDD t_true = mgr->true_bdd(), t_false = mgr->false_bdd();
  std::vector<BDD_ZBDD*> inputs;
  const unsigned n = gate->get_number_of_input_terms();
  for (unsigned i = 0; i < n; ++i) {
    const CDB_SGATE_ITERM* t = gate->get_input_term(i);
    const BDD_ZBDD* b = input_bdd(mgr, t, tab, member, int(i), t_true, t_false, false);
    if (b == nullptr) {
      if (!reads_zero) KAVU_INTERNAL_ERROR("Unconnected input not expected");
      b = &t_false;
    }
    inputs.push_back(const_cast<BDD_ZBDD*>(b));
  }
  if (mgr->m_verbose) kavu_debug("  Selected support for member %d", member);
  if (kavu_is_a_lut(gate)) return kavu_bdd_calc_lutmask_bdd(mgr, gate->cast_to_lut()->get_lut_mask(), inputs);
  if (kavu_is_wys_comb(gate, true)) {
    if (gate->cast_to_wysiwyg()->get_wysiwyg_type() == 93) return bdd_of_quellin_wys(mgr, oterm, inputs);
    return kavu_bdd_calc_braewys_bdd(mgr, oterm, inputs);
  }
  if (kavu_is_a_comb(gate)) return kavu_bdd_calc_comb_bdd(mgr, gate->cast_to_comb()->get_comb_type(), inputs);
  if (!kavu_is_a_mux(gate)) KAVU_INTERNAL_ERROR("kavu_is_a_mux (sgate)");
  return kavu_bdd_calc_mux_bdd(mgr, inputs);
}

// The cap rule; true when the table is (back) below the cap.
bool enforce_cap(BDD_ZBDD_MGR* mgr, unsigned cap, bool allow_reorder) {
  if (unsigned(mgr->size()) <= cap) return true;
  mgr->garbage_collect();
  if (unsigned(mgr->size()) < cap) {
    kavu_debug("  Garbage collected down to %d to stay under cap (%u)", mgr->size(), cap);
    return true;
  }
  if (!allow_reorder) return false;
  mgr->sifting_reorder(int(cap - 1), 0, -1);
  if (unsigned(mgr->size()) < cap) {
    kavu_debug("  Reordered down to %d to stay under cap (%u)", mgr->size(), cap);
    return true;
  }
  return false;
}

BDD_ZBDD wys_input(const std::vector<BDD_ZBDD*>& inputs, size_t i) {
  KAVU_CHECK(i < inputs.size() && inputs[i] != 0);
  return *inputs[i];
}

BDD_ZBDD majority(const BDD_ZBDD& a, const BDD_ZBDD& b, const BDD_ZBDD& c) { return (a & b) | (a & c) | (b & c); }

// A 4-input LUT of 16 mask bits starting at `first`, over the given inputs.
BDD_ZBDD lut4(BDD_ZBDD_MGR* mgr, uint64_t mask, int first, const std::vector<BDD_ZBDD*>& ins) {
  CDB_LUTMASK m;
  m.set_value(4, (mask >> first) & 0xFFFFu);
  return kavu_bdd_calc_lutmask_bdd(mgr, m, ins);
}

}  // namespace

// ===========================================================================
bool kavu_bdd_make_bdds_from_sgate_subnet(BDD_ZBDD_MGR* mgr, const std::vector<CDB_SGATE_OTERM*>& support,
                                          const std::vector<CDB_SGATE_OTERM*>& members,
                                          const std::vector<CDB_SGATE_OTERM*>& visible,
                                          std::vector<BDD_ZBDD>* heads, unsigned node_cap, bool allow_reorder) {
  KAVU_CHECK(mgr != 0 && heads != 0);
  // The cap rule sifts down to cap - 1; a cap of 0 has no such target.
  KAVU_CHECK(node_cap >= 1);
  if (heads->size() != 0) KAVU_INTERNAL_ERROR("bdd_heads->size() == 0");
  const BDD_ZBDD bdd_empty = mgr->null_bdd();
  if (bdd_empty.index() != mgr->null_bdd().index())
    KAVU_INTERNAL_ERROR("bdd_empty.index() == mgr->null_bdd().index()");
  KAVU_CHECK((int)support.size() <= mgr->support_size());
  const bool verbose = mgr->m_verbose != 0;
  if (verbose) {
    kavu_debug("Starting a BDD build...");
    mgr->m_start_time = std::time(nullptr);
  }
  mgr->reorder(0);
  mgr->disable_reorder();
  SUBNET_TABLES tab;
  for (size_t i = 0; i < members.size(); ++i) tab.member_pos.emplace(members[i], int(i));
  for (size_t v = 0; v < visible.size(); ++v) {
    if (tab.member_pos.count(visible[v]) != 0) continue;
    kavu_debug("Oterm %d of %d not found in the %d members", int(v), int(visible.size()), int(members.size()));
    kavu_debug("Unfound oterm is on gate UID %s", visible[v]->get_my_node()->get_debug_name().c_str());
    KAVU_INTERNAL_ERROR("One of the visible oterms is not a member");
  }
  for (size_t i = 0; i < support.size(); ++i) {
    tab.support.push_back(mgr->ithvar(int(i)));
    tab.support_not.push_back(!tab.support.back());
    tab.support_pos.emplace(support[i], int(i));
  }
  tab.member.assign(members.size(), mgr->null_bdd());
  tab.member_not.assign(members.size(), mgr->null_bdd());
  if (verbose) {
    kavu_debug("  built %d support %d member slots", int(support.size()), int(members.size()));
    verbose_state(mgr);
  }
  bool ok = true;
  for (size_t i = 0; i < members.size() && ok; ++i) {
    BDD_ZBDD f = calc_member_bdd(mgr, members[i], tab, int(i));
    tab.member_not[i] = !f;
    tab.member[i] = std::move(f);
    if (verbose) {
      kavu_debug("  BDD built for Member %d", int(i));
      verbose_state(mgr);
      kavu_debug("    %ld makenodes calls", mgr->work());
    }
    ok = enforce_cap(mgr, node_cap, allow_reorder);
  }
  if (verbose) {
    kavu_debug("  Member build out loop is complete");
    kavu_debug(ok ? "    - SUCCESS" : "    - Failed");
  }
  if (ok)
    for (CDB_SGATE_OTERM* v : visible) heads->push_back(tab.member[tab.member_pos.at(v)]);
  if (verbose) {
    kavu_debug("BDD build is complete");
    verbose_state(mgr);
    kavu_debug("    %ld makenodes calls", mgr->work());
  }
  return ok;
}

// ===========================================================================
BDD_ZBDD kavu_bdd_calc_comb_bdd(BDD_ZBDD_MGR* mgr, CDB_COMB_TYPE type, const std::vector<BDD_ZBDD*>& inputs) {
  KAVU_CHECK(mgr != 0);
  BDD_ZBDD r;
  switch (type) {
    case CDB_COMB_AND:
      r = mgr->true_bdd();
      for (BDD_ZBDD* x : inputs) r &= *x;
      return r;
    case CDB_COMB_OR:
      r = mgr->false_bdd();
      for (BDD_ZBDD* x : inputs) r |= *x;
      return r;
    case CDB_COMB_XOR:
      r = mgr->false_bdd();
      for (BDD_ZBDD* x : inputs) r ^= *x;
      return r;
    default: KAVU_INTERNAL_ERROR("bad comb sgate");
  }
  return r;
}

BDD_ZBDD kavu_bdd_calc_mux_bdd(BDD_ZBDD_MGR* mgr, const std::vector<BDD_ZBDD*>& inputs) {
  KAVU_CHECK(mgr != 0);
  if (inputs.size() != 3) KAVU_INTERNAL_ERROR("num_ins == 3");
  return inputs[2]->Ite(*inputs[1], *inputs[0]);
}

BDD_ZBDD kavu_bdd_calc_lutmask_bdd(BDD_ZBDD_MGR* mgr, CDB_LUTMASK mask, const std::vector<BDD_ZBDD*>& inputs) {
  KAVU_CHECK(mgr != 0);
  const unsigned n = mask.get_num_inputs();
  if (inputs.size() != n) KAVU_INTERNAL_ERROR("support->size() == num_ins");
  if (mgr->m_verbose) {
    kavu_debug("    working on a LUT mask BDD - %ld sec elapsed", elapsed(mgr));
    kavu_debug("      %d bdd nodes", mgr->size());
    kavu_debug("      Mask is %s", mask.get_string_value().c_str());
    for (unsigned i = 0; i < n; ++i) kavu_debug("          input %u is BDD index %d", i, inputs[i]->index());
  }
  // The mask as a LUT over inputs n-1 (top) .. 0: the same function as the
  // OR of its minterm cubes, in n levels of if-then-else.
  const BDD_ZBDD r = n == 0 ? (mask.get_value() & 1u ? mgr->true_bdd() : mgr->false_bdd())
                            : bdd_of_mask_range(mgr, mask.get_value(), int(n) - 1, inputs, 0, (1 << n) - 1);
  if (mgr->m_verbose) {
    kavu_debug("    LUT mask BDD complete - %ld sec elapsed", elapsed(mgr));
    kavu_debug("      %d bdd nodes", mgr->size());
    kavu_debug("      result is BDD index %d", r.index());
  }
  return r;
}

BDD_ZBDD bdd_of_mask_range(BDD_ZBDD_MGR* mgr, uint64_t mask, int var_index, const std::vector<BDD_ZBDD*>& inputs,
                           int lo, int hi) {
  KAVU_CHECK(lo >= 0 && hi < 64);
  if (lo == hi) {
    if (var_index != -1) KAVU_INTERNAL_ERROR("var_index == -1");
    return ((mask >> lo) & 1u) != 0 ? mgr->true_bdd() : mgr->false_bdd();
  }
  if (lo > hi) KAVU_INTERNAL_ERROR("msb > lsb");
  if (var_index < 0) KAVU_INTERNAL_ERROR("var_index >= 0");
  KAVU_CHECK(var_index < (int)inputs.size() && inputs[var_index] != 0);
  const int mid = (lo + hi) / 2;
  const BDD_ZBDD high = bdd_of_mask_range(mgr, mask, var_index - 1, inputs, mid + 1, hi);
  const BDD_ZBDD low = bdd_of_mask_range(mgr, mask, var_index - 1, inputs, lo, mid);
  return inputs[var_index]->Ite(high, low);
}

BDD_ZBDD kavu_bdd_calc_braewys_bdd(BDD_ZBDD_MGR* mgr, CDB_SGATE_OTERM* oterm, const std::vector<BDD_ZBDD*>& inputs) {
  KAVU_CHECK(mgr != 0 && oterm != 0);
  CDB_SGATE_NODE* gate = oterm->get_my_node();
  if (!kavu_is_wys_comb(gate)) KAVU_INTERNAL_ERROR("kavu_is_wys_comb (sgate)");
  CDB_SGATE_WYSIWYG* wys = gate->cast_to_wysiwyg();
  const size_t expected = gate->get_input_port_number(k_brae_extra_input) != CDB_ILLEGAL_PORT ? 10 : 9;
  if (inputs.size() != expected) KAVU_INTERNAL_ERROR("BRAE WYS support is not correct size");
  const uint64_t m = wys->get_lutmask_value();
  const DB_OUTPUT_PORT_TYPE port = oterm->get_port_type();
  if (port == DB_PORT_COMBOUT) {
    if (!wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT)) {
      CDB_LUTMASK lut;
      lut.set_value(6, m);
      std::vector<BDD_ZBDD*> six(inputs.begin(), inputs.begin() + 6);
      return kavu_bdd_calc_lutmask_bdd(mgr, lut, six);
    }
    // Seven inputs: M(x0, x1, x2, x3, 0, x5) when x4 is 0 and
    // M(x0, x1, x6, x3, 1, x5) when x4 is 1.
    BDD_ZBDD r = mgr->false_bdd();
    std::vector<BDD_ZBDD*> seven(inputs.begin(), inputs.begin() + 7);
    for (unsigned bit = 0; bit < 64; ++bit) {
      if (((m >> bit) & 1u) == 0) continue;
      uint64_t n1, n2;
      if ((bit & 16u) == 0) {
        n1 = bit;
        n2 = bit + 64;
      } else {
        n1 = (bit & ~4u) + ((bit & 4u) != 0 ? 64 : 0);
        n2 = n1 + 4;
      }
      if (n1 == n2) KAVU_INTERNAL_ERROR("expanded_n != expanded_n2");
      r |= mgr->build_cube(seven, n1, 7) | mgr->build_cube(seven, n2, 7);
    }
    return r;
  }
  if (port == DB_PORT_SHAREOUT) {
    std::vector<BDD_ZBDD*> four(inputs.begin(), inputs.begin() + 4);
    return lut4(mgr, m, 32, four);
  }
  if (port == DB_PORT_SUMOUT || port == DB_PORT_COUT) {
    std::vector<BDD_ZBDD*> four(inputs.begin(), inputs.begin() + 4);
    const BDD_ZBDD a = lut4(mgr, m, 0, four);
    BDD_ZBDD b;
    if (wys->mode_is_set(CDB_WYSIWYG_SHARED_ARITH)) {
      const unsigned pos = gate->get_input_port_number(DB_PORT_SHAREIN);
      KAVU_CHECK(pos < inputs.size());
      b = !wys_input(inputs, pos);
    } else {
      std::vector<BDD_ZBDD*> bins{inputs[0], inputs[1], inputs[2], inputs[5]};
      b = lut4(mgr, m, 32, bins);
    }
    const BDD_ZBDD x = wys_input(inputs, 7);
    return port == DB_PORT_SUMOUT ? a ^ !b ^ x : majority(a, !b, x);
  }
  KAVU_INTERNAL_ERROR("Unsure about BRAE WYS oterm type");
  return mgr->null_bdd();
}

BDD_ZBDD bdd_of_quellin_wys(BDD_ZBDD_MGR* mgr, CDB_SGATE_OTERM* oterm, const std::vector<BDD_ZBDD*>& inputs) {
  KAVU_CHECK(mgr != 0 && oterm != 0);
  CDB_SGATE_WYSIWYG* wys = oterm->get_my_node()->cast_to_wysiwyg();
  KAVU_CHECK(wys != 0);
  const uint64_t m = wys->get_lutmask_value();
  const DB_OUTPUT_PORT_TYPE port = oterm->get_port_type();
  // Each rule reads a fixed number of inputs; a cell with fewer is refused
  // before any is read.
  const bool extended = wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT);
  const size_t needed = port == DB_PORT_COMBOUT ? (extended ? 8 : 6) : 9;
  for (size_t i = 0; i < std::min(needed, inputs.size()); ++i) KAVU_CHECK(inputs[i] != 0);
  if (inputs.size() < needed) KAVU_INTERNAL_ERROR("Quellin WYS has fewer input BDDs than its output reads");
  if (port == DB_PORT_COMBOUT) {
    if (!extended) return bdd_of_mask_range(mgr, m, 5, inputs, 0, 63);
    const std::vector<BDD_ZBDD*> low{inputs[0], inputs[1], inputs[2], inputs[3], inputs[4]};
    const std::vector<BDD_ZBDD*> high{inputs[0], inputs[1], inputs[5], inputs[6], inputs[4]};
    const BDD_ZBDD l = bdd_of_mask_range(mgr, m, 4, low, 0, 31);
    const BDD_ZBDD h = bdd_of_mask_range(mgr, m, 4, high, 32, 63);
    return inputs[7]->Ite(h, l);
  }
  if (port == DB_PORT_SUMOUT || port == DB_PORT_COUT) {
    const BDD_ZBDD a = bdd_of_mask_range(mgr, m, 3, inputs, 0, 15);
    const BDD_ZBDD b = bdd_of_mask_range(mgr, m, 3, inputs, 16, 31);
    const BDD_ZBDD x = *inputs[8];
    if (kavu_use_quellin_arith_physical_lutmask()) return port == DB_PORT_SUMOUT ? a ^ x : a.Ite(x, b);
    return port == DB_PORT_SUMOUT ? a ^ b ^ x : majority(a, b, x);
  }
  KAVU_INTERNAL_ERROR("Unsure about Quellin WYS oterm type");
  return mgr->null_bdd();
}

namespace {
constinit KAVU_KEY_ONCE g_arith_physical_lutmask{"quellin_arith_physical_lutmask", true};
}  // namespace

bool kavu_use_quellin_arith_physical_lutmask() { return g_arith_physical_lutmask(); }

// ===========================================================================
void kavu_bdd_reorder_for_profit(BDD_ZBDD_MGR* mgr) {
  KAVU_CHECK(mgr != 0);
  if (mgr->support_size() <= 6) mgr->exhaustive_perm();
  else bdd_rotate_for_4cuts(mgr);
}

void bdd_rotate_for_4cuts(BDD_ZBDD_MGR* mgr) {
  KAVU_CHECK(mgr != 0);
  mgr->garbage_collect();
  const int n = mgr->support_size();
  if (n <= 4 || n >= 100) return;
  int order[100], best[100];
  for (int bottom = n - 1; bottom - 3 >= 1; bottom -= 4) {
    const int top = bottom - 3;
    for (int l = 0; l < n; ++l) order[l] = best[l] = mgr->variable_at(l);
    int best_count = mgr->size();
    for (int round = 0; round < 4; ++round) {
      std::vector<int> counts;
      mgr->node_counts_by_level(&counts);
      int pick = top;
      for (int l = bottom; l >= top; --l)
        if (counts[l] > counts[pick]) pick = l;
      kavu_debug("Most nodes are on level %d (%d)", pick, counts[pick]);
      for (int l = pick - 1; l >= 1; --l) {
        mgr->swap_adjacent_variables(mgr->variable_at(l), mgr->variable_at(l + 1));
        std::swap(order[l], order[l + 1]);
        kavu_debug("Swapped levels %d and %d", l, l + 1);
        mgr->dump_variable_order();
        if (mgr->size() < best_count) {
          best_count = mgr->size();
          kavu_debug("Decreased to %d nodes", best_count);
          for (int k = 0; k < n; ++k) best[k] = order[k];
        }
      }
    }
    mgr->order_variables(best, n);
    if (mgr->size() != best_count) {
      KAVU_INTERNAL_ERROR("mgr->size() == best_node_num");
      return;
    }
  }
}
