// kavu_helper_mux.cpp — mux and LUT rewriting: a 2:1 mux or a LUT turned
// into comb gates, a LUT grown over its fan-in cone up to a min cut, the
// mask tests of the 4:1-mux LUT halves, used-input counts, input matching
// between two LUTs and input permutation with the mask.
//
// Mux model: sel ? d1 : d0 (inputs 0, 1, 2). The replacement is the first
//   of: XOR when d0 and d1 read one source with opposite inversions; AND
//   when d0 or d1 is GND; AND-OR in general; OR when d0 or d1 is VCC. The
//   readers of the mux move to the new top output with the mux output's
//   own inversion, so an inverted mux output stays inverted for them.
// LUT growth: the cut comes from KAVU_WVNET_MANAGER (depth 8, at most k
//   terminals, k never above the LUT's input positions), the new mask from
//   the cone's truth table over the cut, one mask input per cut terminal;
//   the LUT is wired only after the cut is known to fit its positions, so a
//   refused growth changes nothing.
// LUT masks (CDB_LUTMASK::rotate_inputs): result input k is old input
//   perm[k], the same convention as the input permutation of
//   kavu_rotate_lut_sgate, so the permutation is passed on unchanged.
// Cost: rewrites O(gate inputs + readers moved); growth bounded by the cone
//   of depth 8; the 4-shared test O(6 x 6).
#include <algorithm>
#include <bit>
#include <list>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_01tbl_cone.h"
#include "kavu_check.h"
#include "kavu_cut.h"
#include "kavu_lut_unmapper.h"
#include "kavu_msg.h"
#include "kavu_helper_mux.h"
#include "kavu_helper_mux_int.h"
#include "kavu_name.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"

namespace {

// Input positions of the LUTs that kavu_rotate_lut_sgate permutes.
constexpr int ROTATABLE_LUT_SIZE = 6;
// Levels of the fan-in cone that kavu_suck_gates_into_lut looks into.
constexpr int SUCK_CONE_DEPTH = 8;

bool is_real(const CDB_SGATE_ITERM* t) { return cdb_is_connected(t) && !t->is_vcc_or_gnd(); }

// A new comb gate of that type, named "mux" after the mux unless no_name.
CDB_SGATE_COMB* new_comb(CDB_COMB_TYPE type, CDB_SGATE_NODE* mux, bool no_name) {
  auto* gate = new CDB_SGATE_COMB(nullptr, type, true);
  if (!no_name) {
    CDB_SGATE_OTERM* mux_oterm = mux->get_output_term(0);
    KAVU_CHECK(mux_oterm);
    kavu_create_synthesized_name(gate, mux_oterm->get_my_node(), "mux");
  }
  return gate;
}

// A two-input gate over copies of a and b (a's copy inverted when asked).
CDB_SGATE_COMB* two_input(CDB_COMB_TYPE type, CDB_SGATE_NODE* mux, bool no_name, CDB_SGATE_ITERM* a,
                          bool invert_a, CDB_SGATE_ITERM* b) {
  CDB_SGATE_COMB* gate = new_comb(type, mux, no_name);
  kavu_mux_add_input_copy(gate, a, invert_a);
  kavu_mux_add_input_copy(gate, b, false);
  return gate;
}

// Builds the replacement gates into `made` (top gate last).
void build_mux_replacement(CDB_SGATE_NODE* mux, const MUX_INPUTS& in, bool no_name,
                           std::vector<CDB_SGATE_COMB*>& made) {
  const bool opposite = in.m_d0->get_source() && in.m_d0->get_source() == in.m_d1->get_source() &&
                        in.m_d0->is_inverted() != in.m_d1->is_inverted();
  if (opposite) {
    // sel ? !s : s when d0 reads s, and sel ? s : !s when d0 reads !s.
    made.push_back(two_input(CDB_COMB_XOR, mux, no_name, in.m_sel, false, in.m_d0));
  } else if (in.m_d0->is_gnd()) {
    made.push_back(two_input(CDB_COMB_AND, mux, no_name, in.m_sel, false, in.m_d1));
  } else if (in.m_d1->is_gnd()) {
    made.push_back(two_input(CDB_COMB_AND, mux, no_name, in.m_sel, true, in.m_d0));
  } else if (!in.m_d0->is_vcc() && !in.m_d1->is_vcc()) {
    CDB_SGATE_COMB* and1 = new_comb(CDB_COMB_AND, mux, no_name);
    CDB_SGATE_COMB* and2 = new_comb(CDB_COMB_AND, mux, no_name);
    CDB_SGATE_COMB* top = new_comb(CDB_COMB_OR, mux, no_name);
    kavu_mux_wire_sum_of_products(in, and1, and2, top);
    made.insert(made.end(), {and1, and2, top});
  } else if (in.m_d0->is_vcc()) {
    made.push_back(two_input(CDB_COMB_OR, mux, no_name, in.m_sel, true, in.m_d1));
  } else {
    made.push_back(two_input(CDB_COMB_OR, mux, no_name, in.m_sel, false, in.m_d0));
  }
}

}  // namespace

CDB_SGATE_OTERM* kavu_change_mux_to_comb(CDB_SGATE_NODE* mux, CDB_SGATE_NETLIST* netlist,
                                         MEM_SEGMENT* /*segment*/, bool no_name, bool keep_mux) {
  KAVU_CHECK(mux && kavu_is_a_mux (mux));
  KAVU_CHECK(netlist);
  const MUX_INPUTS in = kavu_mux_inputs(mux);
  CDB_SGATE_ITERM* mux_sel_iterm = in.m_sel;
  CDB_SGATE_ITERM* mux_d0_iterm = in.m_d0;
  CDB_SGATE_ITERM* mux_d1_iterm = in.m_d1;
  KAVU_CHECK(cdb_is_connected (mux_sel_iterm));
  KAVU_CHECK(cdb_is_connected (mux_d0_iterm));
  KAVU_CHECK(cdb_is_connected (mux_d1_iterm));
  std::vector<CDB_SGATE_COMB*> made;
  build_mux_replacement(mux, in, no_name, made);
  CDB_SGATE_OTERM* mux_oterm = mux->get_output_term(0);
  CDB_SGATE_OTERM* top_oterm = made.back()->get_output_term(0);
  if (mux_oterm) {
    // The readers keep seeing what they saw: an inverted mux output passes
    // its inversion on to them.
    top_oterm->adopt_fanouts(mux_oterm, mux_oterm->is_inverted());
    KAVU_CHECK(!mux_oterm->has_fanout());
  }
  for (CDB_SGATE_COMB* gate : made) netlist->add_node(gate, true);
  KAVU_CHECK(top_oterm != 0);
  if (!keep_mux) {
    if (mux->get_netlist()) mux->get_netlist()->delete_node(mux);
    delete mux;
  }
  return top_oterm;
}

CDB_SGATE_OTERM* kavu_change_lut_to_comb(CDB_SGATE_NODE* lut, CDB_SGATE_NETLIST* netlist, bool keep_lut) {
  KAVU_CHECK(netlist != 0);
  KAVU_CHECK(lut && kavu_is_a_lut(lut));
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::FACTORED, false, false);
  std::list<CDB_SGATE_NODE*> made;
  CDB_SGATE_OTERM* top_oterm = unmapper.convert_lut_to_logic(lut->cast_to_lut(), &made);
  for (CDB_SGATE_NODE* gate : made) netlist->add_node(gate, true);
  KAVU_CHECK(top_oterm != 0);
  if (!keep_lut) {
    if (lut->get_netlist()) lut->get_netlist()->delete_node(lut);
    delete lut;
  }
  return top_oterm;
}

bool kavu_suck_gates_into_lut(CDB_SGATE_NODE* lut) {
  KAVU_CHECK(lut && kavu_is_a_lut (lut));
  const int positions = int(lut->get_number_of_input_terms());
  int k = int(CDB_LUTMASK::max_num_inputs);
  if (CDB_LUTMASK::max_num_inputs == 6) k = std::max(4, kavu_count_used_lut_inputs(lut));
  // A cut wider than the LUT's positions could not be wired: its mask would
  // name inputs the LUT does not have.
  k = std::min(k, positions);
  if (k <= 0) return false;
  CDB_SGATE_OTERM* head = lut->get_output_term(0);
  KAVU_CHECK(head);
  KAVU_WVNET_MANAGER manager;
  std::list<CDB_SGATE_OTERM*> cut;
  int volume = 0;
  const bool cut_found = manager.kavu_get_largest_volume_mincut_of_size(head, SUCK_CONE_DEPTH, k, &cut, &volume,
                                                                        false, false, false, true);
  KAVU_CHECK(cut_found);
  if (volume <= k) return false;
  std::vector<CDB_SGATE_OTERM*> fanins(cut.rbegin(), cut.rend());
  if (int(fanins.size()) > positions) return false;
  for (CDB_SGATE_OTERM* oterm : fanins) KAVU_CHECK(oterm);
  // One mask input per cut terminal; the positions beyond the cut stay
  // unconnected and outside the mask.
  const KAVU_01TBL table = kavu_cone_01tbl(head, fanins, nullptr);
  lut->cast_to_lut()->set_lut_mask(table.make_lutmask());
  for (int i = 0; i < positions; ++i) {
    CDB_SGATE_ITERM* it = lut->get_input_term(unsigned(i));
    if (!it) {
      it = new CDB_SGATE_ITERM(lut);
      lut->set_input_term(it, unsigned(i));
    } else if (cdb_is_connected(it)) {
      it->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    }
    it->clear_invert();
  }
  for (size_t i = 0; i < fanins.size(); ++i) fanins[i]->insert_fanout(lut->get_input_term(unsigned(i)));
  return true;
}

// ---- mask tests and LUT input queries ----

namespace {

constexpr uint16_t HEAD_41_MASKS[24] = {0xACF0, 0xAFC0, 0xB8CC, 0xBBC0, 0xBC8C, 0xBCB0, 0xCAF0, 0xCFA0,
                                        0xD8AA, 0xDA8A, 0xDAD0, 0xDDA0, 0xE2CC, 0xE4AA, 0xE6A2, 0xE6C4,
                                        0xEA4A, 0xEA62, 0xEC2C, 0xEC64, 0xF388, 0xF588, 0xF838, 0xF858};
constexpr uint16_t TAIL_41_MASKS[24] = {0xAAD8, 0xAAE4, 0xADA8, 0xAEA4, 0xB9A8, 0xBA98, 0xCBC8, 0xCCB8,
                                        0xCCE2, 0xCEC2, 0xD9C8, 0xDC98, 0xE3E0, 0xE5E0, 0xEE30, 0xEE50,
                                        0xF0AC, 0xF0CA, 0xF2C2, 0xF4A4, 0xFA0C, 0xFA44, 0xFC0A, 0xFC22};

bool mask_in(const CDB_SGATE_NODE* lut, const uint16_t (&table)[24]) {
  KAVU_CHECK(lut && kavu_is_a_lut(lut));
  const CDB_LUTMASK& mask = lut->cast_to_lut()->get_lut_mask();
  if (mask.get_num_inputs() != 4) return false;
  return std::find(std::begin(table), std::end(table), mask.get_value()) != std::end(table);
}

}  // namespace

bool kavu_lut_is_head_of_41_mux(CDB_SGATE_NODE* lut) { return mask_in(lut, HEAD_41_MASKS); }
bool kavu_lut_is_tail_of_41_mux(CDB_SGATE_NODE* lut) { return mask_in(lut, TAIL_41_MASKS); }

int kavu_count_used_lut_inputs(CDB_SGATE_NODE* lut) {
  KAVU_CHECK(lut);
  const bool is_lut_or_lcell = kavu_is_a_lut(lut) || (lut->is_wysiwyg() && lut->cast_to_wysiwyg()->is_lcell_comb());
  KAVU_CHECK(is_lut_or_lcell);
  int used = 0;
  for (CDB_SGATE_ITERM* t : lut->get_input_terms()) {
    if (t && is_real(t)) ++used;
  }
  return used;
}

bool kavu_lut_first_4_match(CDB_SGATE_NODE* lut_a, CDB_SGATE_NODE* lut_b) {
  KAVU_CHECK(lut_a && kavu_is_a_lut (lut_a));
  KAVU_CHECK(lut_b && kavu_is_a_lut (lut_b));
  const unsigned n = std::min(lut_a->get_number_of_input_terms(), lut_b->get_number_of_input_terms());
  int matches = 0;
  for (unsigned i = 0; i < n && i < 4; ++i) {
    CDB_SGATE_ITERM* iterm_a = lut_a->get_input_term(i);
    CDB_SGATE_ITERM* iterm_b = lut_b->get_input_term(i);
    KAVU_CHECK(cdb_is_connected(iterm_a) && !iterm_a->is_vcc_or_gnd());
    KAVU_CHECK(cdb_is_connected (iterm_b) && !iterm_b->is_vcc_or_gnd());
    if (kavu_same_source(iterm_a, iterm_b)) ++matches;
  }
  return matches == 4;
}

bool kavu_permutation_is_valid(int* perm, int size) {
  KAVU_CHECK(size < 32);
  uint32_t seen = 0;
  for (int i = 0; i < size; ++i) {
    if (perm[i] < 0 || perm[i] >= size || (seen >> perm[i]) & 1u) return false;
    seen |= 1u << perm[i];
  }
  return true;
}

void kavu_rotate_lut_sgate(CDB_SGATE_NODE* lut, int* in_perm) {
  KAVU_CHECK(lut && kavu_is_a_lut (lut));
  KAVU_CHECK(lut->get_number_of_input_terms() == ROTATABLE_LUT_SIZE);
  KAVU_CHECK(kavu_permutation_is_valid( in_perm, 6 ));
  CDB_SGATE_LUT* gate = lut->cast_to_lut();
  CDB_SGATE_ITERM* old_terms[ROTATABLE_LUT_SIZE];
  for (int i = 0; i < ROTATABLE_LUT_SIZE; ++i) old_terms[i] = lut->get_input_term(unsigned(i));
  // Empty every slot first: set_input_term needs an empty slot or the same
  // terminal.
  CDB_SGATE_NODE::ITERM_VECTOR& slots = lut->get_input_terms();
  for (int k = 0; k < ROTATABLE_LUT_SIZE; ++k) slots[unsigned(k)] = nullptr;
  for (int k = 0; k < ROTATABLE_LUT_SIZE; ++k) {
    if (old_terms[in_perm[k]]) lut->set_ordered_input_term(old_terms[in_perm[k]], unsigned(k));
  }
  CDB_LUTMASK mask = gate->get_lut_mask();
  // A mask over fewer inputs than the positions is rotated as it is when the
  // permutation keeps its inputs among themselves, else first widened to
  // the six positions (the same function).
  if (!kavu_permutation_is_valid(in_perm, int(mask.get_num_inputs()))) mask = mask.widened(ROTATABLE_LUT_SIZE);
  mask.rotate_inputs(in_perm);
  gate->set_lut_mask(mask);
}

int kavu_count_hi_lut_bits(CDB_LUTMASK* mask) {
  KAVU_CHECK(mask);
  return std::popcount(mask->get_value());
}

bool kavu_luts_have_4_shared(CDB_SGATE_NODE* lut_a, CDB_SGATE_NODE* lut_b, int* perm_a, int* perm_b) {
  KAVU_CHECK(lut_a && kavu_is_a_lut(lut_a));
  KAVU_CHECK(lut_b && kavu_is_a_lut(lut_b));
  KAVU_CHECK(perm_a && perm_b);
  const int n_a = int(lut_a->get_number_of_input_terms());
  const int n_b = int(lut_b->get_number_of_input_terms());
  KAVU_CHECK(n_a <= ROTATABLE_LUT_SIZE && n_b <= ROTATABLE_LUT_SIZE);
  int front = 0, back = ROTATABLE_LUT_SIZE - 1, shared = 0, misses = 0;
  for (int i = 0; i < n_a && misses <= 2; ++i) {
    CDB_SGATE_ITERM* iterm_a = lut_a->get_input_term(unsigned(i));
    KAVU_CHECK(cdb_is_connected(iterm_a) && !iterm_a->is_vcc_or_gnd());
    int found = -1;
    for (int j = 0; j < n_b && found < 0; ++j) {
      CDB_SGATE_ITERM* iterm_b = lut_b->get_input_term(unsigned(j));
      KAVU_CHECK(cdb_is_connected (iterm_b) && !iterm_b->is_vcc_or_gnd());
      if (kavu_same_source(iterm_a, iterm_b)) found = j;
    }
    if (found >= 0) {
      perm_a[front] = i, perm_b[front] = found, ++front, ++shared;
    } else {
      perm_a[back] = i, perm_b[back] = n_b, --back, ++misses;
    }
  }
  if (shared < 4) return false;
  // Complete perm_b with the unmatched positions of lut_b, ascending, from
  // index 5 downwards over the entries that name none.
  bool named[ROTATABLE_LUT_SIZE + 1] = {};
  for (int k = 0; k < front; ++k) named[perm_b[k]] = true;
  int slot = ROTATABLE_LUT_SIZE - 1;
  for (int pos = 0; pos < ROTATABLE_LUT_SIZE && slot >= front; ++pos) {
    if (!named[pos]) perm_b[slot--] = pos;
  }
  return true;
}
