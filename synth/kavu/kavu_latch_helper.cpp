// kavu_latch_helper.cpp — latches turned into comb gates or LUTs (model in
// kavu_latch_helper.h).
//
// The latch's own sweep (mls_sweep) leaves an enable tied to 1 unconnected,
// which reads as 1 as well; both conversions therefore treat an unconnected
// enable as stuck at 1, and the LUT form ties such an enable to VCC before
// it assigns positions, so no enable ever folds in as 0.
// Every loop a conversion builds goes through a cut buffer.
#include "kavu_latch_helper.h"

#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper_mux.h"
#include "kavu_helper_predicates.h"
#include "kavu_helper_summary.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"

namespace {

bool is_live(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_vcc_or_gnd(); }

// The value a non-driven latch input delivers: its tie, or `dflt` when unconnected.
bool constant_value(const CDB_SGATE_ITERM* t, bool dflt) {
  return (t && cdb_is_connected(t)) ? t->is_vcc() : dflt;
}

// Appends to the comb gate an input that reads the latch input, complemented
// when `complement` is set; an unconnected input reads `dflt`.
void add_input_like(CDB_SGATE_COMB* comb, const CDB_SGATE_ITERM* t, bool complement, bool dflt) {
  if (t && t->get_source()) {
    kavu_insert_comb_fanin(comb, t->get_source(), t->is_inverted() != complement);
    return;
  }
  const bool value = constant_value(t, dflt) != complement;
  kavu_insert_comb_fanin(comb, nullptr, !value);
}

void debug_gate3(const char* format, CDB_SGATE_NODE* latch, CDB_SGATE_NODE* head, bool latch_path) {
  if (latch_path)
    kavu_debug(format, latch->get_debug_name().c_str(), latch->get_string_hpath().c_str(),
               head->get_string_hpath().c_str(), head->get_string_type_name(), head->get_debug_name().c_str());
  else
    kavu_debug(format, latch->get_debug_name().c_str(), head->get_string_hpath().c_str(),
               head->get_string_type_name(), head->get_debug_name().c_str());
}

// NOT CLR AND (PRE OR (EN AND D) OR (NOT EN AND fed back)), the loop cut by B.
void convert_feedback_latch(CDB_SGATE_NODE* latch, CDB_SGATE_NETLIST* netlist) {
  CDB_SGATE_ITERM* d = latch->get_input_term(CDB_LATCH_D);
  CDB_SGATE_ITERM* en = latch->get_input_term(CDB_LATCH_EN);
  CDB_SGATE_ITERM* clr = latch->get_input_term(CDB_LATCH_CLR);
  CDB_SGATE_ITERM* pre = latch->get_input_term(CDB_LATCH_PRE);
  CDB_SGATE_COMB* a = kavu_create_new_comb(netlist, latch, CDB_COMB_AND);
  CDB_SGATE_COMB* o = kavu_create_new_comb(netlist, latch, CDB_COMB_OR);
  CDB_SGATE_COMB* p = kavu_create_new_comb(netlist, latch, CDB_COMB_AND);
  CDB_SGATE_COMB* n = kavu_create_new_comb(netlist, latch, CDB_COMB_AND);
  CDB_SGATE_BUFFER* b = kavu_create_new_buffer(netlist, latch, CDB_BUFFER_CUT);
  CDB_SGATE_OTERM* q = latch->get_single_oterm();
  CDB_SGATE_OTERM* b_out = b->get_single_oterm();
  b_out->swap_instance_name(q);
  a->get_single_oterm()->insert_fanout(b->get_single_iterm());
  if (cdb_is_connected(clr)) add_input_like(a, clr, true, false);
  kavu_insert_comb_fanin(a, o->get_single_oterm(), false);
  if (cdb_is_connected(pre)) add_input_like(o, pre, false, false);
  kavu_insert_comb_fanin(o, p->get_single_oterm(), false);
  kavu_insert_comb_fanin(o, n->get_single_oterm(), false);
  add_input_like(p, en, false, true);
  add_input_like(p, d, false, false);
  add_input_like(n, en, true, true);
  kavu_insert_comb_fanin(n, b_out, false);
  KAVU_CHECK(!latch->get_single_oterm()->is_inverted());
  b_out->adopt_fanouts(q, false);
  kavu_debug("Converted latch %s with self-feedback into gates headed by %s %s %s",
             latch->get_debug_name().c_str(), b->get_string_hpath().c_str(), b->get_string_type_name(),
             b->get_debug_name().c_str());
}

// NOT CLR AND (PRE OR D).
void convert_stuck_enable_latch(CDB_SGATE_NODE* latch, CDB_SGATE_NETLIST* netlist) {
  CDB_SGATE_ITERM* d = latch->get_input_term(CDB_LATCH_D);
  CDB_SGATE_ITERM* clr = latch->get_input_term(CDB_LATCH_CLR);
  CDB_SGATE_ITERM* pre = latch->get_input_term(CDB_LATCH_PRE);
  CDB_SGATE_COMB* a = kavu_create_new_comb(netlist, latch, CDB_COMB_AND);
  CDB_SGATE_COMB* o = kavu_create_new_comb(netlist, latch, CDB_COMB_OR);
  CDB_SGATE_OTERM* q = latch->get_single_oterm();
  CDB_SGATE_OTERM* a_out = a->get_single_oterm();
  a_out->swap_instance_name(q);
  a_out->adopt_fanouts(q, false);
  kavu_insert_comb_fanin(a, o->get_single_oterm(), false);
  if (cdb_is_connected(clr)) add_input_like(a, clr, true, false);
  if (cdb_is_connected(pre)) add_input_like(o, pre, false, false);
  add_input_like(o, d, false, false);
  debug_gate3("Converted latch %s %s with enable stuck to VCC into gates headed by %s %s", latch, a, false);
}

CDB_SGATE_LUT* new_latch_lut(CDB_SGATE_NODE* latch, const CDB_LUTMASK& mask, CDB_SGATE_NETLIST* netlist) {
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(latch->get_instance_name(), mask);
  netlist->add_node(lut, true);
  return lut;
}

void set_kind_bits(CDB_SGATE_NODE* g, uint8_t bits) {
  g->set_flag_byte(CDB_KIND_BYTE, static_cast<uint8_t>(g->get_flag_byte(CDB_KIND_BYTE) | bits));
}

// Soft buffers shield the LUT's other inputs while it grows over D's cone.
void absorb_data_cone(CDB_SGATE_NODE* lut, unsigned d_pos, CDB_SGATE_NETLIST* netlist) {
  std::vector<CDB_SGATE_NODE*> soft;
  for (unsigned i = 0; i < lut->get_number_of_input_terms(); ++i) {
    CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (i == d_pos || !is_live(t) || !t->get_source()) continue;
    soft.push_back(kavu_drive_through_buffer(netlist, t->get_source(), CDB_BUFFER_SOFT));
  }
  const uint8_t old_kind = lut->get_flag_byte(CDB_KIND_BYTE);
  lut->set_flag_byte(CDB_KIND_BYTE, static_cast<uint8_t>(old_kind & ~CDB_LUT_DONT_TOUCH));
  const int merged = kavu_absorb_duplicate_lut_iterms(lut);
  if (merged > 0)
    kavu_debug("Removed %d duplicate iterms on Latch LUT %s %s", merged, lut->get_debug_name().c_str(),
               lut->get_string_hpath().c_str());
  if (kavu_suck_gates_into_lut(lut))
    kavu_debug("Sucked data gates into Latch LUT %s %s", lut->get_debug_name().c_str(),
               lut->get_string_hpath().c_str());
  const uint8_t now = lut->get_flag_byte(CDB_KIND_BYTE);
  lut->set_flag_byte(CDB_KIND_BYTE,
                     static_cast<uint8_t>((now & ~CDB_LUT_DONT_TOUCH) | (old_kind & CDB_LUT_DONT_TOUCH)));
  for (CDB_SGATE_NODE* b : soft) {
    kavu_excise_buffer(b);
    netlist->delete_node(b);
    delete b;
  }
}

struct LATCH_PORTS {
  CDB_SGATE_ITERM* d;
  CDB_SGATE_ITERM* en;
  CDB_SGATE_ITERM* en2;
  CDB_SGATE_ITERM* clr;
  CDB_SGATE_ITERM* pre;
};

LATCH_PORTS latch_ports(CDB_SGATE_NODE* latch) {
  return {latch->get_input_term(CDB_LATCH_D), latch->get_input_term(CDB_LATCH_EN),
          latch->get_input_term(CDB_LATCH_EN2), latch->get_input_term(CDB_LATCH_CLR),
          latch->get_input_term(CDB_LATCH_PRE)};
}

void next_free_position(unsigned* pos, unsigned* max_used_input) {
  KAVU_CHECK(*max_used_input > 0 && *max_used_input <= CDB_LUTMASK::max_num_inputs);
  *pos = --*max_used_input;
}

const char* feedback_suffix(bool no_feedback) { return no_feedback ? "" : " flag not set due to self-feedback"; }

// Head NOT CLR AND (PRE OR tail), tail EN ? D : head; returns the tail (it holds D).
CDB_SGATE_NODE* build_two_luts(CDB_SGATE_NODE* latch, const LATCH_PORTS& p, CDB_SGATE_NETLIST* netlist,
                               bool no_feedback, unsigned* d_pos) {
  const unsigned m = CDB_LUTMASK::max_num_inputs;
  unsigned free = m, clr_pos, pre_pos, en_pos, h, t;
  CDB_LUTMASK clr, pre, en, d;
  kavu_get_latch_lut_input_mask(p.clr, &clr_pos, &clr, &free);
  kavu_get_latch_lut_input_mask(p.pre, &pre_pos, &pre, &free);
  next_free_position(&h, &free);
  const CDB_LUTMASK head_mask = ~clr & (pre | CDB_LUTMASK::imask(m, h));
  free = m;
  kavu_get_latch_lut_input_mask(p.en, &en_pos, &en, &free);
  next_free_position(&t, &free);
  kavu_get_latch_lut_input_mask(p.d, d_pos, &d, &free);
  const CDB_LUTMASK tail_mask = (en & d) | (~en & CDB_LUTMASK::imask(m, t));
  CDB_SGATE_LUT* head = new_latch_lut(latch, head_mask, netlist);
  if (no_feedback) set_kind_bits(head, CDB_LUT_LATCH_HEAD | CDB_LUT_DONT_TOUCH);
  CDB_SGATE_LUT* tail = new CDB_SGATE_LUT(nullptr, tail_mask);
  kavu_create_synthesized_name(tail, head, "lut");
  netlist->add_node(tail, true);
  if (no_feedback) set_kind_bits(tail, CDB_LUT_LATCH_TAIL | CDB_LUT_DONT_TOUCH);
  CDB_SGATE_OTERM* q = latch->get_single_oterm();
  head->get_single_oterm()->adopt_fanouts(q, q->is_inverted());
  kavu_copy_latch_input_to_lut(p.clr, head, clr_pos);
  kavu_copy_latch_input_to_lut(p.pre, head, pre_pos);
  kavu_connect_oterm_to_latch_lut(tail->get_single_oterm(), head, h);
  kavu_copy_latch_input_to_lut(p.en, tail, en_pos);
  kavu_connect_oterm_to_latch_lut(head->get_single_oterm(), tail, t);
  kavu_copy_latch_input_to_lut(p.d, tail, *d_pos);
  kavu_drive_through_buffer(netlist, head->get_single_oterm(), CDB_BUFFER_CUT);
  kavu_debug("Created two LUTs for latch %s %s: head %s %s and tail %s %s%s", latch->get_debug_name().c_str(),
             latch->get_string_hpath().c_str(), head->get_debug_name().c_str(), head->get_string_hpath().c_str(),
             tail->get_debug_name().c_str(), tail->get_string_hpath().c_str(), feedback_suffix(no_feedback));
  return tail;
}

CDB_SGATE_NODE* build_one_lut(CDB_SGATE_NODE* latch, const LATCH_PORTS& p, CDB_SGATE_NETLIST* netlist,
                              bool no_feedback, bool second, unsigned* d_pos) {
  const unsigned m = CDB_LUTMASK::max_num_inputs;
  unsigned free = m, clr_pos, pre_pos, en_pos, en2_pos, q_pos;
  CDB_LUTMASK clr, pre, en, en2, d;
  kavu_get_latch_lut_input_mask(p.clr, &clr_pos, &clr, &free);
  kavu_get_latch_lut_input_mask(p.pre, &pre_pos, &pre, &free);
  if (second) {
    kavu_get_latch_lut_input_mask(p.en, &en_pos, &en, &free);
    kavu_get_latch_lut_input_mask(p.en2, &en2_pos, &en2, &free);
  } else {
    kavu_get_latch_lut_input_mask(p.en2, &en2_pos, &en2, &free);
    kavu_get_latch_lut_input_mask(p.en, &en_pos, &en, &free);
  }
  next_free_position(&q_pos, &free);
  kavu_get_latch_lut_input_mask(p.d, d_pos, &d, &free);
  const CDB_LUTMASK fb = CDB_LUTMASK::imask(m, q_pos);
  const CDB_LUTMASK mask = ~clr & (pre | (en & en2 & d) | ((~en | ~en2) & fb));
  CDB_SGATE_LUT* lut = new_latch_lut(latch, mask, netlist);
  if (no_feedback) set_kind_bits(lut, CDB_LUT_LATCH_SINGLE | CDB_LUT_DONT_TOUCH);
  const uint8_t latch_bits = latch->get_flag_byte(CDB_KIND_BYTE) & (CDB_LATCH_CARRIED | CDB_LATCH_WRITE_BACK);
  lut->set_flag_byte(CDB_MISC_BYTE, static_cast<uint8_t>(lut->get_flag_byte(CDB_MISC_BYTE) | latch_bits));
  CDB_SGATE_OTERM* q = latch->get_single_oterm();
  lut->get_single_oterm()->adopt_fanouts(q, q->is_inverted());
  kavu_copy_latch_input_to_lut(p.clr, lut, clr_pos);
  kavu_copy_latch_input_to_lut(p.pre, lut, pre_pos);
  kavu_copy_latch_input_to_lut(p.en, lut, en_pos);
  kavu_copy_latch_input_to_lut(p.en2, lut, en2_pos);
  kavu_copy_latch_input_to_lut(p.d, lut, *d_pos);
  kavu_connect_oterm_to_latch_lut(lut->get_single_oterm(), lut, q_pos);
  kavu_drive_through_buffer(netlist, lut->get_single_oterm(), CDB_BUFFER_CUT);
  kavu_debug("Created one LUTs for latch %s %s: %s %s%s", latch->get_debug_name().c_str(),
             latch->get_string_hpath().c_str(), lut->get_debug_name().c_str(), lut->get_string_hpath().c_str(),
             feedback_suffix(no_feedback));
  return lut;
}

}  // namespace

bool kavu_latch_feeds_itself(CDB_SGATE_NODE* latch) {
  KAVU_CHECK(kavu_is_a_latch(latch));
  for (CDB_SGATE_ITERM* t : latch->get_input_terms()) {
    if (!is_live(t) || !t->get_source() || t->get_source()->get_my_node() != latch) continue;
    kavu_debug("Latch %s %s feeds itself.", latch->get_debug_name().c_str(), latch->get_string_hpath().c_str());
    return true;
  }
  return false;
}

int kavu_convert_silly_latches(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  const bool dont_convert_feedback = cfg_is_on("kavu_dont_convert_feedback_latches", false);
  int count = 0, feedback_count = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* latch = *it;
    if (!latch || !kavu_is_a_latch(latch)) continue;
    CDB_SGATE_ITERM* en_iterm = latch->get_input_term(CDB_LATCH_EN);
    CDB_SGATE_ITERM* d_iterm = latch->get_input_term(CDB_LATCH_D);
    const bool en_was_vcc = en_iterm && en_iterm->is_vcc();
    const bool swept = latch->cast_to_latch()->mls_sweep(false);
    CDB_SGATE_ITERM* en2 = latch->get_input_term(CDB_LATCH_EN2);
    if (!latch->has_fanout() || (cdb_is_connected(en2) && !en2->is_vcc())) {
      count += swept ? 1 : 0;
      continue;
    }
    if (!((en_was_vcc || cdb_is_connected(en_iterm)) && cdb_is_connected(d_iterm)))
      KAVU_INTERNAL_ERROR("cdb_is_connected( en_iterm ) && cdb_is_connected( d_iterm )");
    const bool en_is_vcc = en_was_vcc || !cdb_is_connected(en_iterm) || en_iterm->is_vcc();
    const bool feeds_itself = kavu_latch_feeds_itself(latch);
    if (!dont_convert_feedback && feeds_itself) {
      ++feedback_count;
      convert_feedback_latch(latch, netlist);
      ++count;
    } else if (en_is_vcc && !feeds_itself) {
      // A latch that feeds itself is never given the stuck-enable form: its
      // data would read the new gates' own output, a loop without a cut.
      convert_stuck_enable_latch(latch, netlist);
      ++count;
    } else if (swept) {
      ++count;
    }
  }
  if (count >= 1) netlist->sweep(false);
  if (feedback_count >= 1) kavu_debug("Converted %d latches with feedback into logic", feedback_count);
  return count;
}

void kavu_get_latch_lut_input_mask(CDB_SGATE_ITERM* iterm, unsigned* pos, CDB_LUTMASK* mask,
                                   unsigned* max_used_input) {
  KAVU_CHECK(pos && mask && max_used_input);
  const unsigned m = CDB_LUTMASK::max_num_inputs;
  if (is_live(iterm)) {
    next_free_position(pos, max_used_input);
    *mask = CDB_LUTMASK::imask(m, *pos);
    return;
  }
  *pos = m;
  *mask = (iterm && cdb_is_connected(iterm) && iterm->is_vcc()) ? CDB_LUTMASK::get_vcc_mask(m)
                                                                : CDB_LUTMASK::get_gnd_mask(m);
}

void kavu_copy_latch_input_to_lut(CDB_SGATE_ITERM* iterm, CDB_SGATE_NODE* latch_lut, unsigned pos) {
  if (pos >= CDB_LUTMASK::max_num_inputs) return;
  KAVU_CHECK(kavu_is_a_lut( latch_lut ));
  KAVU_CHECK(latch_lut->get_input_term(pos) == 0);
  KAVU_CHECK(cdb_is_connected( iterm ));
  CDB_SGATE_ITERM* t = latch_lut->create_input_term(nullptr, static_cast<DB_INPUT_PORT_TYPE>(12 + pos));
  latch_lut->set_input_term(t, pos);
  kavu_copy_fanin(iterm, t);
}

void kavu_connect_oterm_to_latch_lut(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* latch_lut, unsigned pos) {
  if (pos >= CDB_LUTMASK::max_num_inputs) return;
  KAVU_CHECK(kavu_is_a_lut( latch_lut ));
  KAVU_CHECK(latch_lut->get_input_term(pos) == 0);
  KAVU_CHECK(oterm != 0);
  CDB_SGATE_ITERM* t = latch_lut->create_input_term(nullptr, static_cast<DB_INPUT_PORT_TYPE>(12 + pos));
  latch_lut->set_input_term(t, pos);
  oterm->insert_fanout(t);
}

void kavu_synthesize_luts_for_latch(CDB_SGATE_NODE* latch, CDB_SGATE_NETLIST* netlist, bool first, bool second) {
  KAVU_CHECK(kavu_is_a_latch( latch ));
  KAVU_CHECK(netlist);
  latch->cast_to_latch()->mls_sweep(false);
  const bool no_feedback = !kavu_latch_feeds_itself(latch);
  if (!first && !latch->has_fanout()) return;
  const LATCH_PORTS p = latch_ports(latch);
  const unsigned m = CDB_LUTMASK::max_num_inputs;
  bool two_luts = false;
  if (m == 4) {
    if (cdb_is_connected(p.en2) && !p.en2->is_vcc()) KAVU_INTERNAL_ERROR("dlatchen's not supported in 4-input LUT mode");
    if (latch->get_flag_byte(CDB_KIND_BYTE) & CDB_LATCH_WRITE_BACK)
      KAVU_INTERNAL_ERROR("dlatch does not support writeback in 4-input LUT mode");
    // D, EN, PRE and CLR live need five positions in one LUT: two LUTs then.
    two_luts = is_live(p.d) && is_live(p.en) && is_live(p.pre) && is_live(p.clr);
  } else {
    KAVU_CHECK(CDB_LUTMASK::max_num_inputs == 6);
  }
  // Unconnected enables read 1; tie them so that they fold in as 1.
  for (CDB_SGATE_ITERM* e : {p.en, p.en2})
    if (e && !cdb_is_connected(e)) e->set_vcc();
  unsigned d_pos = m;
  CDB_SGATE_NODE* data_lut = two_luts ? build_two_luts(latch, p, netlist, no_feedback, &d_pos)
                                      : build_one_lut(latch, p, netlist, no_feedback, second, &d_pos);
  if (!first && d_pos < m) absorb_data_cone(data_lut, d_pos, netlist);
}

void kavu_vdebug_latch(CDB_SGATE_NODE* latch) {
  KAVU_CHECK(kavu_is_a_latch (latch));
  kavu_debug("Connections of LATCH %s follow -", latch->get_string_hpath().c_str());
  kavu_vdebug_oterm(latch->get_single_oterm());
  static const struct { const char* label; unsigned pos; } rows[] = {
      {"D_IN:", CDB_LATCH_D}, {"ENABLE:", CDB_LATCH_EN}, {"CLEAR:", CDB_LATCH_CLR},
      {"PRESET:", CDB_LATCH_PRE}, {"ENABLEENABLE:", CDB_LATCH_EN2}};
  for (const auto& r : rows) {
    kavu_debug("%s", r.label);
    kavu_vdebug_iterm(latch->get_input_term(r.pos));
  }
}
