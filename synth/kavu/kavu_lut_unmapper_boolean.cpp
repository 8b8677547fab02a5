// kavu_lut_unmapper_boolean.cpp — result form 2: a LUT's BDD factored into
// two-input AND, OR and XNOR gates and 2:1 muxes.
//
// Entry: duplicate inputs are merged; a constant LUT becomes one AND with a
// constant input; otherwise the LUT's BDD is built over the sources of its
// driven inputs (tied inputs are constants inside the BDD, never
// variables), shrunk to the variables it depends on, and factored. A BDD
// that cannot be built falls back on the factored form, whose inverted flag
// is handed back.
// Factoring: support 0 is a constant gate, support 1 a wire or an inverter,
// more asks the chooser for one step and recurses into each argument (each
// in a manager of its own, deleted right after); gates come out in
// post-order. Every step of the chooser but the mux may keep the support
// size, so the recursion depth is guarded: past k_mux_only_depth only the
// mux, which always shrinks the support, is used.
#include <cinttypes>
#include <cstdio>

#include "cfg/cfg.h"
#include "kavu_bdd_sgate.h"
#include "kavu_check.h"
#include "kavu_helper_summary.h"
#include "kavu_lut_unmapper.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_setup.h"

namespace {

// Depth from which only the mux is tried, and the depth no recursion can
// reach (each mux level removes a variable; at most 64 variables).
constexpr int k_mux_only_depth = 24;
constexpr int k_max_depth = k_mux_only_depth + 64;

CDB_SGATE_COMB* new_comb(CDB_COMB_TYPE type, CDB_SGATE_NODE* name_source, const char* ext,
                         std::list<CDB_SGATE_NODE*>* new_nodes) {
  CDB_SGATE_COMB* gate = new CDB_SGATE_COMB(nullptr, type, true);
  kavu_create_synthesized_name(gate, name_source, ext);
  new_nodes->push_back(gate);
  return gate;
}

std::string gate_name(const CDB_SGATE_OTERM* o) { return o->get_my_node()->get_debug_name(); }

void dump_if_debug(BDD_ZBDD_MGR* bm) {
  if (kavu_debug_lut_unmapper) lut_unmap_dump_bdd_table(bm);
}

// The gate joining the arguments' terminals.
CDB_SGATE_OTERM* join_gate(BDD_DECOMP_TYPE type, CDB_SGATE_OTERM* oa, CDB_SGATE_OTERM* ob, CDB_SGATE_OTERM* oc,
                           CDB_SGATE_NODE* name_source, std::list<CDB_SGATE_NODE*>* new_nodes) {
  if (type == BDD_DECOMP_MUX) {
    if (!(oa != 0 && ob != 0 && oc != 0)) KAVU_INTERNAL_ERROR("oterm_a != 0 && oterm_b != 0 && oterm_c != 0");
    CDB_SGATE_MUX* mux = new CDB_SGATE_MUX(nullptr);
    if (mux->get_sgate_type() != CDB_SGATE_MUX_ENUM) KAVU_INTERNAL_ERROR("new_head->get_sgate_type() == CDB_SGATE_MUX_ENUM");
    kavu_create_synthesized_name(mux, name_source, "decomp");
    new_nodes->push_back(mux);
    for (unsigned p = mux->get_first_iport(); p != mux->get_end_iport(); p = mux->get_next_iport(p))
      mux->set_input_term(new CDB_SGATE_ITERM(mux), p);
    mux->get_input_term(CDB_MUX_SELECT)->insert_fanin(oa);
    mux->get_input_term(CDB_MUX_DATA0)->insert_fanin(ob);
    mux->get_input_term(CDB_MUX_DATA1)->insert_fanin(oc);
    for (unsigned p = 0; p < 3; ++p)
      if (mux->get_input_term(p)->is_inverted()) KAVU_INTERNAL_ERROR("!iterm->is_inverted()");
    return mux->get_output_term(0);
  }
  CDB_COMB_TYPE comb;
  switch (type) {
    case BDD_DECOMP_AND: comb = CDB_COMB_AND; break;
    case BDD_DECOMP_OR: comb = CDB_COMB_OR; break;
    case BDD_DECOMP_XNOR: comb = CDB_COMB_XOR; break;
    default: KAVU_INTERNAL_ERROR("Unexpected decomposition type (2)"); return nullptr;
  }
  CDB_SGATE_COMB* gate = new_comb(comb, name_source, "decomp", new_nodes);
  gate->insert_unordered_fanin(oa);
  CDB_SGATE_ITERM* second = gate->insert_unordered_fanin(ob);
  if (type == BDD_DECOMP_XNOR) second->invert();
  return gate->get_output_term(0);
}

}  // namespace

CDB_SGATE_OTERM* lut_unmap_bdd_factor(BDD_ZBDD_MGR* bm, std::vector<CDB_SGATE_OTERM*>* support, BDD_ZBDD* bdd,
                                      CDB_SGATE_NODE* name_source, std::list<CDB_SGATE_NODE*>* new_nodes,
                                      std::string* equation, int depth) {
  KAVU_CHECK(bm != 0 && support != 0 && bdd != 0 && name_source != 0 && new_nodes != 0 && equation != 0);
  if (bm->use_complement_edges()) KAVU_INTERNAL_ERROR("!bm->use_complement_edges()");
  const int num_support = bdd->support_size();
  if (num_support != (int)support->size()) KAVU_INTERNAL_ERROR("num_support == (int)support->size()");
  if (depth > k_max_depth) KAVU_INTERNAL_ERROR("Boolean factoring of a LUT does not terminate");
  if (kavu_debug_lut_unmapper) {
    kavu_debug("----------------------------------------------------------");
    kavu_debug(" Entering Boolean factoring for BDD %d in manager %p", bdd->id(), static_cast<void*>(bm));
    dump_if_debug(bm);
  }
  CDB_SGATE_OTERM* result = nullptr;
  if (num_support == 0) {
    if (!bdd->is_constant()) KAVU_INTERNAL_ERROR("bdd->is_constant()");
    if (kavu_debug_lut_unmapper) kavu_debug("BDD is constant");
    const bool vcc = *bdd == bm->true_bdd();
    CDB_SGATE_COMB* gate = new_comb(CDB_COMB_AND, name_source, "comb", new_nodes);
    CDB_SGATE_ITERM* t = gate->add_unordered_fanin_from_oterm(nullptr, false, nullptr);
    if (vcc) t->set_vcc();
    else t->set_gnd();
    *equation = vcc ? "VCC" : "GND";
    result = gate->get_output_term(0);
  } else if (num_support == 1) {
    CDB_SGATE_OTERM* wire = (*support)[0];
    KAVU_CHECK(wire != 0);
    if (*bdd == bm->ithvar(0)) {
      if (kavu_debug_lut_unmapper) kavu_debug("BDD is wire");
      *equation = gate_name(wire);
      result = wire;
    } else {
      CDB_SGATE_COMB* gate = new_comb(CDB_COMB_AND, name_source, "comb", new_nodes);
      CDB_SGATE_ITERM* t = gate->insert_unordered_fanin(wire);
      t->invert();
      if (!t->is_inverted()) KAVU_INTERNAL_ERROR("new_iterm->is_inverted()");
      if (kavu_debug_lut_unmapper) kavu_debug("BDD is inverter");
      *equation = gate_name(wire) + "'";
      result = gate->get_output_term(0);
    }
  } else {
    if (kavu_debug_lut_unmapper) kavu_debug("BDD needs decomposition");
    BDD_ARG a, b, c;
    const BDD_DECOMP_TYPE type =
        lut_unmap_find_decomposition(bm, bdd, support, &a, &b, &c, depth >= k_mux_only_depth);
    if (type == BDD_DECOMP_NONE) KAVU_INTERNAL_ERROR("decomp_type != BDD_DECOMP_NONE");
    if (type != BDD_DECOMP_MUX && c.bm != 0) KAVU_INTERNAL_ERROR("bm_c == 0");
    if (kavu_debug_lut_unmapper) {
      kavu_debug("Found decomposition of type %s. Recursively decompose arguments %p, %p and %p",
                 lut_unmap_bdd_decomposition_name(type), static_cast<void*>(a.bm), static_cast<void*>(b.bm),
                 static_cast<void*>(c.bm));
      kavu_debug("Argument a: ");
      dump_if_debug(a.bm);
      kavu_debug("Argument b: ");
      dump_if_debug(b.bm);
      if (c.bm != nullptr) {
        kavu_debug("Argument c: ");
        dump_if_debug(c.bm);
      }
    }
    std::string ea, eb, ec;
    CDB_SGATE_OTERM* oa = lut_unmap_bdd_factor(a.bm, &a.support, &a.bdd, name_source, new_nodes, &ea, depth + 1);
    a.clear();
    CDB_SGATE_OTERM* ob = lut_unmap_bdd_factor(b.bm, &b.support, &b.bdd, name_source, new_nodes, &eb, depth + 1);
    b.clear();
    CDB_SGATE_OTERM* oc = nullptr;
    if (type == BDD_DECOMP_MUX) {
      oc = lut_unmap_bdd_factor(c.bm, &c.support, &c.bdd, name_source, new_nodes, &ec, depth + 1);
      c.clear();
    }
    switch (type) {
      case BDD_DECOMP_AND: *equation = ea + "&" + eb; break;
      case BDD_DECOMP_OR: *equation = "(" + ea + " # " + eb + ")"; break;
      case BDD_DECOMP_XNOR: *equation = "(" + ea + "$" + eb + ")'"; break;
      case BDD_DECOMP_MUX: *equation = "(" + ea + "&" + ec + " + (" + ea + ")'&" + eb + ")"; break;
      default: KAVU_INTERNAL_ERROR("Unexpected decomposition type (1)");
    }
    result = join_gate(type, oa, ob, oc, name_source, new_nodes);
  }
  if (kavu_debug_lut_unmapper) {
    kavu_debug(" Exiting Boolean factoring for BDD %d in manager %p", bdd->id(), static_cast<void*>(bm));
    dump_if_debug(bm);
  }
  return result;
}

// ===========================================================================
CDB_SGATE_OTERM* lut_unmap_boolean(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* new_nodes, bool* inverted) {
  const bool sanity_check = cfg_is_on("kavu_unmap_sanity_check", false);
  if (!(lut != 0 && lut->get_sgate_type() == CDB_SGATE_LUT_ENUM))
    KAVU_INTERNAL_ERROR("node != 0 && node->get_sgate_type() == CDB_SGATE_LUT_ENUM");
  KAVU_CHECK(new_nodes != 0 && inverted != 0);
  *inverted = false;
  const CDB_LUTMASK mask_copy = lut->get_lut_mask();
  CDB_SGATE_OTERM* old_head = lut->get_output_term(0);
  if (kavu_debug_lut_unmapper)
    kavu_debug("Lut mask of node %s %s %s is %s (num_inputs = %u)", lut->get_string_type_name(),
               lut->get_string_hpath().c_str(), lut->get_debug_name().c_str(), mask_copy.get_string_value().c_str(),
               mask_copy.get_num_inputs());
  if (kavu_absorb_duplicate_lut_iterms(lut) > 0 && kavu_debug_lut_unmapper) kavu_debug("Absorbed duplicate inputs on LUT");
  CDB_SGATE_OTERM* result = nullptr;
  if (mask_copy.is_gnd() || mask_copy.is_vcc()) {
    if (kavu_debug_lut_unmapper) kavu_debug("LUT is constant %s", mask_copy.is_gnd() ? "GND" : "VCC");
    CDB_SGATE_COMB* gate = new_comb(CDB_COMB_AND, lut, "comb", new_nodes);
    gate->add_unordered_fanin_from_oterm(nullptr, mask_copy.is_gnd(), nullptr);
    result = gate->get_output_term(0);
  } else {
    // Only driven inputs are variables; tied ones are constants inside the
    // BDD and unconnected ones read 0.
    std::vector<CDB_SGATE_OTERM*> support;
    for (unsigned i = 0; i < lut->get_number_of_input_terms(); ++i) {
      const CDB_SGATE_ITERM* t = lut->get_input_term(i);
      if (t != nullptr && cdb_is_connected(t) && t->get_source() != nullptr) support.push_back(t->get_source());
    }
    std::vector<CDB_SGATE_OTERM*> heads{old_head};
    std::vector<BDD_ZBDD> head_bdds;
    BDD_ZBDD_MGR* bm = new BDD_ZBDD_MGR(int(support.size()), 1000, 50000, false, false);
    const bool built = kavu_bdd_make_bdds_from_sgate_subnet(bm, support, heads, heads, &head_bdds, 1000, true);
    bm->garbage_collect();
    if (!built) {
      kavu_debug("WARNING: BDD for unmapping LUT %s %s has failed. Unmapping to factored form instead.",
                 lut->get_debug_name().c_str(), lut->get_string_hpath().c_str());
      delete bm;
      // The factored form moves the fan-outs itself; its flag goes back to
      // the driver with its head.
      return kavu_convert_lut_to_factored_logic_fast(lut, new_nodes, inverted);
    }
    const int s = head_bdds[0].support_size();
    if (kavu_debug_lut_unmapper) {
      kavu_debug("Successfully created BDD with %d support and %d nodes", s, bm->size());
      lut_unmap_dump_bdd_table(bm);
    }
    std::list<CDB_SGATE_NODE*> local;
    std::string equation;
    if (s == 0) {
      // Constant once the ties are in: nothing to clone, one constant gate.
      std::vector<CDB_SGATE_OTERM*> none;
      result = lut_unmap_bdd_factor(bm, &none, &head_bdds[0], lut, &local, &equation);
    } else if (s < (int)support.size()) {
      BDD_ZBDD_MGR* clone_bm = nullptr;
      std::vector<CDB_SGATE_OTERM*> clone_support;
      BDD_ZBDD clone = lut_unmap_clone_bdd(bm, &head_bdds[0], &support, false, &clone_bm, &clone_support);
      if (kavu_debug_lut_unmapper) {
        kavu_debug("LUT is independent of only %d out of %d inputs. Creating clone.", s, int(support.size()));
        lut_unmap_dump_bdd_table(clone_bm);
      }
      result = lut_unmap_bdd_factor(clone_bm, &clone_support, &clone, lut, &local, &equation);
      clone = BDD_ZBDD();
      delete clone_bm;
    } else {
      result = lut_unmap_bdd_factor(bm, &support, &head_bdds[0], lut, &local, &equation);
    }
    if (kavu_debug_lut_unmapper) kavu_debug("LUT %s has equation %s", lut->get_debug_name().c_str(), equation.c_str());
    if (local.empty()) {
      CDB_SGATE_COMB* gate = new_comb(CDB_COMB_AND, lut, "comb", &local);
      gate->insert_unordered_fanin(result);
      result = gate->get_output_term(0);
    }
    if (sanity_check) {
      std::vector<CDB_SGATE_OTERM*> members;
      lut_unmap_members_in_topo_order(local, &members);
      std::vector<CDB_SGATE_OTERM*> new_heads{result};
      std::vector<BDD_ZBDD> new_bdds;
      bm->garbage_collect();
      if (!kavu_bdd_make_bdds_from_sgate_subnet(bm, support, members, new_heads, &new_bdds, 1000, true)) {
        kavu_debug("WARNING: BDD-ing after unmapping has failed. ");
      } else {
        if (!(new_bdds.size() == 1 && head_bdds.size() == 1))
          KAVU_INTERNAL_ERROR("(new_bdd_heads.size() == 1) && (bdd_heads.size() == 1)");
        if (new_bdds[0] != head_bdds[0]) {
          kavu_debug("PANIC: The BDD %d after unmapping differs from the BDD %d before unmapping", new_bdds[0].id(),
                     head_bdds[0].id());
          lut_unmap_dump_bdd_table(bm);
          KAVU_INTERNAL_ERROR("PANIC: BDD mismatch");
        }
        kavu_debug("Sanity check passed");
      }
    }
    new_nodes->splice(new_nodes->end(), local);
    head_bdds.clear();
    delete bm;
  }
  result->adopt_fanouts(old_head, false);
  if (kavu_debug_lut_unmapper)
    kavu_debug("Old node = %s %s %s, new node = %s %s %s", lut->get_string_type_name(),
               lut->get_string_hpath().c_str(), lut->get_debug_name().c_str(),
               result->get_my_node()->get_string_type_name(), result->get_my_node()->get_string_hpath().c_str(),
               result->get_my_node()->get_debug_name().c_str());
  return result;
}
