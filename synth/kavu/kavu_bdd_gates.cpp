// kavu_bdd_gates.cpp — gates from BDD tables: Shannon expansion of every
// node reachable from the heads into 2:1 muxes, then the chosen clean-up.
//
// The per-node path keeps a table of (mux terminal, BDD node index) in the
// order the walk from the heads meets the nodes, indexed by a hash map so a
// child's terminal is found in constant time. Walking from the heads (not
// over every node the manager holds) keeps dead nodes, whose variables may
// have no support terminal, out of the netlist.
#include "kavu_bdd_gates.h"

#include <algorithm>
#include <unordered_map>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_device.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"

namespace {

constexpr unsigned MUX_LUT_D0 = 0, MUX_LUT_D1 = 1, MUX_LUT_SEL = 3;
constexpr DEV_FAMILY_ENUM DEV_FAMILY_QUELLIN = DEV_FAMILY_ENUM(25);
constexpr DEV_FAMILY_ENUM DEV_FAMILY_HARROWDALE = DEV_FAMILY_ENUM(45);

CDB_SGATE_OTERM* support_of(const std::vector<CDB_SGATE_OTERM*>* support, const BDD_ZBDD& b) {
  const int v = b.variable();
  KAVU_CHECK(v >= 0 && size_t(v) < support->size());
  return (*support)[size_t(v)];
}

void connect_select(CDB_SGATE_LUT* lut, CDB_SGATE_OTERM* src) {
  CDB_SGATE_ITERM* iterm = lut->get_input_term(MUX_LUT_SEL);
  KAVU_CHECK(iterm);
  src->insert_fanout(iterm);
  iterm->clear_invert();
}

// A data input of a mux LUT from a child: a constant tie, or the child's
// regular node's terminal, inverted for a complemented child.
template <class LOOKUP>
void wire_child(BDD_ZBDD_MGR* mgr, CDB_SGATE_ITERM* iterm, const BDD_ZBDD& child, LOOKUP lookup) {
  iterm->clear_invert();
  if (child == mgr->false_bdd()) {
    iterm->set_gnd();
  } else if (child == mgr->true_bdd()) {
    iterm->set_vcc();
  } else {
    lookup(child.regularize())->insert_fanout(iterm);
    if (child.is_complement()) iterm->set_invert();
  }
}

// The head buffer's input from a head.
template <class LOOKUP>
void wire_head(BDD_ZBDD_MGR* mgr, CDB_SGATE_COMB* buffer, const BDD_ZBDD& head, LOOKUP lookup) {
  CDB_SGATE_ITERM* iterm = buffer->get_single_iterm();
  wire_child(mgr, iterm, head, lookup);
}

// The checks of this file write a space before the argument list: their
// texts are the ones the internal-error reports have always carried.
void check_mux_lut(const CDB_SGATE_NODE* target) {
  KAVU_CHECK(kavu_is_a_lut (target));
  const CDB_LUTMASK& mask = static_cast<const CDB_SGATE_LUT*>(target)->get_lut_mask();
  if (mask.get_num_inputs() == 4) KAVU_CHECK(mask.get_value() == 0xccaa);
  else KAVU_CHECK(mask.get_value() == 0xccaaccaaccaaccaaULL);
}

// Every regular non-constant node reachable from the heads, parents first.
std::vector<BDD_ZBDD> reachable_nodes(const std::vector<BDD_ZBDD>& heads) {
  std::vector<BDD_ZBDD> order, stack;
  std::unordered_map<int, bool> seen;
  for (const BDD_ZBDD& h : heads) {
    if (h.is_constant()) continue;
    stack.push_back(h.regularize());
    while (!stack.empty()) {
      BDD_ZBDD b = stack.back();
      stack.pop_back();
      if (!seen.emplace(b.index(), true).second) continue;
      order.push_back(b);
      for (const BDD_ZBDD& c : {b.high_child(), b.low_child()})
        if (!c.is_constant()) stack.push_back(c.regularize());
    }
  }
  return order;
}

struct NODE_TABLE {
  std::vector<CDB_SGATE_OTERM*> m_oterms;
  std::vector<int> m_indices;
  std::unordered_map<int, size_t> m_position;

  CDB_SGATE_OTERM* find(const BDD_ZBDD& regular) const {
    auto it = m_position.find(regular.index());
    if (it == m_position.end()) {
      kavu_debug("Looking for an oterm for index %d", regular.index());
      kavu_debug("Not on the table");
      KAVU_INTERNAL_ERROR("Source not found");
    }
    return m_oterms[it->second];
  }
};

bool mux_lut_select_less(const CDB_SGATE_OTERM* l, const CDB_SGATE_OTERM* r) {
  const CDB_SGATE_NODE* l_sgate = l->get_my_node();
  const CDB_SGATE_NODE* r_sgate = r->get_my_node();
  KAVU_CHECK(kavu_is_a_lut (l_sgate));
  KAVU_CHECK(kavu_is_a_lut (r_sgate));
  const CDB_SGATE_ITERM* l_iterm = l_sgate->get_input_term(MUX_LUT_SEL);
  const CDB_SGATE_ITERM* r_iterm = r_sgate->get_input_term(MUX_LUT_SEL);
  KAVU_CHECK(cdb_is_connected (l_iterm));
  KAVU_CHECK(cdb_is_connected (r_iterm));
  const CDB_SGATE_OTERM* l_oterm = l_iterm->get_source();
  const CDB_SGATE_OTERM* r_oterm = r_iterm->get_source();
  KAVU_CHECK(l_oterm && r_oterm);
  const unsigned ld = l_oterm->get_my_node()->get_debug_number(), rd = r_oterm->get_my_node()->get_debug_number();
  if (ld != rd) return ld < rd;
  return l_oterm->get_port_index() < r_oterm->get_port_index();
}

// Merges duplicate mux LUTs and bypasses muxes whose data inputs agree,
// until a pass changes nothing.
void merge_and_sweep(NODE_TABLE& table) {
  std::vector<CDB_SGATE_OTERM*>& t = table.m_oterms;
  std::stable_sort(t.begin(), t.end(), mux_lut_select_less);
  bool changed = true;
  while (changed) {
    changed = false;
    for (size_t i = 0; i < t.size(); ++i) {
      for (size_t j = i + 1; j < t.size(); ++j) {
        CDB_SGATE_NODE* sgate = t[i]->get_my_node();
        CDB_SGATE_NODE* sgate_b = t[j]->get_my_node();
        KAVU_CHECK(kavu_is_a_lut (sgate));
        KAVU_CHECK(kavu_is_a_lut (sgate_b));
        KAVU_CHECK(sgate != sgate_b);
        bool inverted = false;
        if (t[i]->has_fanout() && t[j]->has_fanout() &&
            kavu_same_source(sgate->get_input_term(MUX_LUT_SEL), sgate_b->get_input_term(MUX_LUT_SEL)) &&
            mux_luts_same_data(sgate, sgate_b, &inverted)) {
          t[j]->adopt_fanouts(t[i], inverted);
          changed = true;
        }
      }
    }
    for (CDB_SGATE_OTERM* o : t) {
      if (!o->has_fanout()) continue;
      CDB_SGATE_NODE* sgate = o->get_my_node();
      CDB_SGATE_ITERM* d0 = sgate->get_input_term(MUX_LUT_D0);
      if (!kavu_same_source(d0, sgate->get_input_term(MUX_LUT_D1))) continue;
      if (d0->is_vcc_or_gnd()) o->set_all_fanouts_constant(d0->is_vcc());
      else d0->get_source()->adopt_fanouts(o, d0->is_inverted());
      changed = true;
    }
  }
}

}  // namespace

CDB_SGATE_LUT* kavu_create_mux_lut(CDB_SGATE_NETLIST* netlist) {
  const CDB_LUTMASK mask = (~CDB_LUTMASK::imask(4, 3) & CDB_LUTMASK::imask(4, 0)) |
                           (CDB_LUTMASK::imask(4, 3) & CDB_LUTMASK::imask(4, 1));
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, mask);
  netlist->add_node(lut, true);
  const unsigned positions[3] = {MUX_LUT_D0, MUX_LUT_D1, MUX_LUT_SEL};
  for (unsigned pos : positions) lut->set_input_term(lut->create_input_term(nullptr, DB_INPUT_PORT_TYPE(12 + pos)), pos);
  KAVU_CHECK(lut->get_single_oterm());
  return lut;
}

CDB_SGATE_COMB* kavu_create_one_input_comb(CDB_SGATE_NETLIST* netlist) {
  CDB_SGATE_COMB* comb = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  KAVU_CHECK(comb);
  netlist->add_node(comb, true);
  CDB_SGATE_ITERM* iterm = comb->add_unordered_fanin_from_oterm(nullptr, false, nullptr);
  iterm->disconnect_from_source();
  iterm->set_vcc();
  KAVU_CHECK(!iterm->is_inverted());
  iterm->invert();
  return comb;
}

CDB_SGATE_COMB* mux_lut_to_and_or(CDB_SGATE_LUT* target, CDB_SGATE_NETLIST* netlist) {
  check_mux_lut(target);
  HDB_INSTANCE_NAME* name = target->get_instance_name();
  CDB_SGATE_COMB* and1 = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  CDB_SGATE_COMB* and2 = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true);
  CDB_SGATE_COMB* or_gate = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR, true);
  kavu_create_synthesized_name(and1, name, "and");
  kavu_create_synthesized_name(and2, name, "and");
  kavu_create_synthesized_name(or_gate, name, "or");
  for (CDB_SGATE_NODE* g : {static_cast<CDB_SGATE_NODE*>(and1), static_cast<CDB_SGATE_NODE*>(and2),
                            static_cast<CDB_SGATE_NODE*>(or_gate)})
    netlist->add_node(g, true);
  kavu_insert_comb_fanin(or_gate, and1->get_output_term(0), false);
  kavu_insert_comb_fanin(or_gate, and2->get_output_term(0), false);
  const CDB_SGATE_ITERM* d0 = target->get_input_term(MUX_LUT_D0);
  const CDB_SGATE_ITERM* d1 = target->get_input_term(MUX_LUT_D1);
  const CDB_SGATE_ITERM* sel = target->get_input_term(MUX_LUT_SEL);
  kavu_insert_comb_fanin(and1, d0->get_source(), d0->is_inverted());
  kavu_insert_comb_fanin(and1, sel->get_source(), !sel->is_inverted());
  kavu_insert_comb_fanin(and2, d1->get_source(), d1->is_inverted());
  kavu_insert_comb_fanin(and2, sel->get_source(), sel->is_inverted());
  or_gate->get_output_term(0)->adopt_fanouts(target->get_output_term(0), false);
  return or_gate;
}

CDB_SGATE_MUX* mux_lut_to_mux(CDB_SGATE_LUT* target, CDB_SGATE_NETLIST* netlist) {
  check_mux_lut(target);
  CDB_SGATE_MUX* mux = kavu_synth_mux_sgate(target, netlist, nullptr, false)->cast_to_mux();
  kavu_copy_fanin(target->get_input_term(MUX_LUT_D1), mux->get_input_term(CDB_MUX_DATA1));
  kavu_copy_fanin(target->get_input_term(MUX_LUT_D0), mux->get_input_term(CDB_MUX_DATA0));
  kavu_copy_fanin(target->get_input_term(MUX_LUT_SEL), mux->get_input_term(CDB_MUX_SELECT));
  mux->get_output_term(0)->adopt_fanouts(target->get_output_term(0), false);
  for (unsigned pos : {MUX_LUT_SEL, MUX_LUT_D0, MUX_LUT_D1}) {
    CDB_SGATE_ITERM* t = target->get_input_term(pos);
    t->disconnect_from_source();
    t->set_vcc();
  }
  return mux;
}

bool mux_luts_same_data(CDB_SGATE_NODE* mux_a, CDB_SGATE_NODE* mux_b, bool* inverted) {
  KAVU_CHECK(kavu_is_a_lut (mux_a));
  KAVU_CHECK(kavu_is_a_lut (mux_b));
  const CDB_SGATE_ITERM* d0a = mux_a->get_input_term(MUX_LUT_D0);
  const CDB_SGATE_ITERM* d1a = mux_a->get_input_term(MUX_LUT_D1);
  const CDB_SGATE_ITERM* d0b = mux_b->get_input_term(MUX_LUT_D0);
  const CDB_SGATE_ITERM* d1b = mux_b->get_input_term(MUX_LUT_D1);
  // A tie is connected (to no source): VCC and GND then differ in polarity only.
  KAVU_CHECK(cdb_is_connected (d0a) && cdb_is_connected (d1a));
  KAVU_CHECK(cdb_is_connected (d0b) && cdb_is_connected (d1b));
  if (d0a->get_source() != d0b->get_source() || d1a->get_source() != d1b->get_source()) return false;
  const bool same0 = d0a->is_inverted() == d0b->is_inverted();
  const bool same1 = d1a->is_inverted() == d1b->is_inverted();
  if (same0 != same1) return false;
  *inverted = !same0;
  return true;
}

CDB_SGATE_OTERM* bdd_node_to_mux_gates(const BDD_ZBDD& b, BDD_ZBDD_MGR* mgr, std::map<int, CDB_SGATE_OTERM*>* node_map,
                                       const std::vector<CDB_SGATE_OTERM*>* support, CDB_SGATE_NETLIST* netlist,
                                       CDB_SGATE_NODE* name_node) {
  auto found = node_map->find(b.index());
  if (found != node_map->end()) return found->second;
  // Recursion depth is bounded by the manager's variable count (at most 13).
  CDB_SGATE_LUT* lut = kavu_create_mux_lut(netlist);
  if (name_node) kavu_create_synthesized_name(lut, name_node, "bdd");
  connect_select(lut, support_of(support, b));
  auto lookup = [&](const BDD_ZBDD& child) {
    return bdd_node_to_mux_gates(child, mgr, node_map, support, netlist, name_node);
  };
  wire_child(mgr, lut->get_input_term(MUX_LUT_D0), b.low_child(), lookup);
  wire_child(mgr, lut->get_input_term(MUX_LUT_D1), b.high_child(), lookup);
  CDB_SGATE_NODE* sgate = lut;
  KAVU_CHECK(kavu_is_a_lut (sgate));
  CDB_SGATE_COMB* new_sgate = mux_lut_to_and_or(lut, netlist);
  KAVU_CHECK(new_sgate);
  // The mux LUT has done its part; its inputs stay until the caller's sweep.
  CDB_SGATE_OTERM* result = new_sgate->get_output_term(0);
  (*node_map)[b.index()] = result;
  return result;
}

void make_mux_tree_from_table(CDB_SGATE_MUX* root, CDB_SGATE_NETLIST* netlist, DEV_FAMILY_ENUM family) {
  struct MEMBER {
    CDB_SGATE_OTERM* m_oterm;
    bool m_polarity;
  };
  std::vector<MEMBER> members = {{root->get_output_term(0), false}};
  const CDB_SGATE_OTERM* select[3] = {};
  size_t begin = 0;
  for (unsigned level = 0; level < 3; ++level) {
    const size_t end = members.size();
    for (size_t i = begin; i < end; ++i) {
      const MEMBER m = members[i];
      CDB_SGATE_NODE* node = m.m_oterm->get_my_node();
      if (!kavu_is_a_mux(node) || (level > 0 && m.m_oterm->is_inverted())) return;
      const CDB_SGATE_ITERM* d0 = node->get_input_term(CDB_MUX_DATA0);
      const CDB_SGATE_ITERM* d1 = node->get_input_term(CDB_MUX_DATA1);
      const CDB_SGATE_ITERM* s = node->get_input_term(CDB_MUX_SELECT);
      if (!d0 || !d1 || !s || !d0->get_source() || !d1->get_source() || !s->get_source()) return;
      if (i == begin) select[level] = s->get_source();
      else if (s->get_source() != select[level]) return;
      if (level < 2 && (!d0->get_source()->has_fanout_exactly(1) || !d1->get_source()->has_fanout_exactly(1))) return;
      const CDB_SGATE_ITERM* first = s->is_inverted() ? d1 : d0;
      const CDB_SGATE_ITERM* second = s->is_inverted() ? d0 : d1;
      members.push_back({first->get_source(), m.m_polarity != first->is_inverted()});
      members.push_back({second->get_source(), m.m_polarity != second->is_inverted()});
    }
    begin = end;
  }
  KAVU_CHECK(members.size() == 15);
  kavu_debug("There is a nice 8:1");
  const DEV_FAMILY_ENUM base_family = family;
  KAVU_CHECK(base_family != DEV_FAMILY_QUELLIN && base_family != DEV_FAMILY_HARROWDALE);
  CDB_SGATE_WYSIWYG* cells[3];
  const uint64_t masks[3] = {0x7654321076543210ULL, 0x7654321076543210ULL, 0xF7F7F7808080F780ULL};
  for (unsigned k = 0; k < 3; ++k) {
    cells[k] = kavu_create_new_lc_comb(nullptr, family)->cast_to_wysiwyg();
    cells[k]->set_lutmask_value(masks[k]);
  }
  CDB_SGATE_WYSIWYG *p = cells[0], *q = cells[1], *t = cells[2];
  t->set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  auto connect = [](CDB_SGATE_WYSIWYG* cell, unsigned pin, const CDB_SGATE_OTERM* src, bool inverted) {
    CDB_SGATE_ITERM* iterm = kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE(12 + pin), cell);
    const_cast<CDB_SGATE_OTERM*>(src)->insert_fanout(iterm);
    if (inverted) iterm->set_invert();
  };
  auto leaf = [&](CDB_SGATE_WYSIWYG* cell, unsigned pin, unsigned m) {
    connect(cell, pin, members[m].m_oterm, members[m].m_polarity);
  };
  for (CDB_SGATE_WYSIWYG* cell : cells) connect(cell, 0, select[2], false), connect(cell, 1, select[1], false);
  leaf(p, 2, 7), leaf(p, 3, 8), leaf(p, 4, 9);
  leaf(q, 2, 11), leaf(q, 3, 12), leaf(q, 4, 13);
  leaf(t, 2, 10), leaf(t, 6, 14);
  connect(t, 3, kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, p, false), false);
  connect(t, 4, select[0], false);
  connect(t, 5, kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, q, false), false);
  CDB_SGATE_OTERM* root_out = root->get_output_term(0);
  kavu_fetch_create_wys_oterm(DB_PORT_COMBOUT, t, false)->adopt_fanouts(root_out, root_out->is_inverted());
  for (CDB_SGATE_WYSIWYG* cell : cells) {
    for (DB_OUTPUT_PORT_TYPE port : {DB_PORT_SUMOUT, DB_PORT_COUT, DB_PORT_SHAREOUT})
      kavu_fetch_create_wys_oterm(port, cell, false);
    netlist->add_node(cell, true);
    kavu_create_synthesized_name(cell, static_cast<CDB_SGATE_NODE*>(root), "eight");
  }
}

void kavu_bdd_make_sgates_for_bdd_table(BDD_ZBDD_MGR* mgr, const std::vector<CDB_SGATE_OTERM*>* combined_support,
                                        const std::vector<BDD_ZBDD>* bdd_heads, CDB_SGATE_NETLIST* netlist,
                                        std::vector<CDB_SGATE_OTERM*>* new_visibles, CDB_SGATE_NODE* name_node,
                                        int mode, DEV_FAMILY_ENUM family) {
  KAVU_CHECK(mgr && combined_support && bdd_heads && netlist && new_visibles);
  KAVU_CHECK(new_visibles->size() == 0);
  KAVU_CHECK(bdd_heads->size() != 0);
  KAVU_CHECK(combined_support->size() != 0);
  if (cfg_is_on("kavu_bdd_build_luts_experimental", true)) {
    std::map<int, CDB_SGATE_OTERM*> node_map;
    for (const BDD_ZBDD& head : *bdd_heads) {
      CDB_SGATE_COMB* buffer = kavu_create_one_input_comb(netlist);
      new_visibles->push_back(buffer->get_output_term(0));
      wire_head(mgr, buffer, head, [&](const BDD_ZBDD& regular) {
        CDB_SGATE_OTERM* oterm = bdd_node_to_mux_gates(regular, mgr, &node_map, combined_support, netlist, name_node);
        KAVU_CHECK(oterm);
        return oterm;
      });
    }
    return;
  }

  NODE_TABLE table;
  const std::vector<BDD_ZBDD> nodes = reachable_nodes(*bdd_heads);
  for (const BDD_ZBDD& b : nodes) {
    CDB_SGATE_LUT* lut = kavu_create_mux_lut(netlist);
    if (name_node) kavu_create_synthesized_name(lut, name_node, "bdd");
    connect_select(lut, support_of(combined_support, b));
    table.m_position.emplace(b.index(), table.m_oterms.size());
    table.m_oterms.push_back(lut->get_output_term(0));
    table.m_indices.push_back(b.index());
  }
  auto lookup = [&](const BDD_ZBDD& regular) { return table.find(regular); };
  for (size_t i = 0; i < nodes.size(); ++i) {
    CDB_SGATE_NODE* lut = table.m_oterms[i]->get_my_node();
    wire_child(mgr, lut->get_input_term(MUX_LUT_D0), nodes[i].low_child(), lookup);
    wire_child(mgr, lut->get_input_term(MUX_LUT_D1), nodes[i].high_child(), lookup);
  }
  for (const BDD_ZBDD& head : *bdd_heads) {
    CDB_SGATE_COMB* buffer = kavu_create_one_input_comb(netlist);
    wire_head(mgr, buffer, head, lookup);
    new_visibles->push_back(buffer->get_output_term(0));
  }
  if (mode < 0 || mode > 5) return;
  if (mode >= 2) merge_and_sweep(table);
  if (mode == 1 || mode == 3) {
    for (CDB_SGATE_OTERM* o : table.m_oterms) {
      CDB_SGATE_NODE* sgate = o->get_my_node();
      KAVU_CHECK(kavu_is_a_lut (sgate));
      mux_lut_to_and_or(sgate->cast_to_lut(), netlist);
    }
  } else if (mode >= 4) {
    for (CDB_SGATE_OTERM*& o : table.m_oterms) {
      CDB_SGATE_NODE* sgate = o->get_my_node();
      KAVU_CHECK(kavu_is_a_lut (sgate));
      o = mux_lut_to_mux(sgate->cast_to_lut(), netlist)->get_output_term(0);
    }
  }
  if (mode != 5) return;
  for (CDB_SGATE_OTERM* o : table.m_oterms) {
    CDB_SGATE_NODE* sgate = o->get_my_node();
    KAVU_CHECK(kavu_is_a_mux (sgate));
    if (o->has_fanout()) make_mux_tree_from_table(sgate->cast_to_mux(), netlist, family);
  }
}
