// kavu_wysiwyg_unmapper_lcell.cpp — logic-cell atoms back to LUTs, muxes and
// AND/OR/XOR gates (or LUTs and a fresh adder atom), and the adder-bit test.
//
// The cell (netlist_io/sim_lcell.h states its rule) splits its mask into four
// 16-bit cofactors over a..d, cofactor k taken at f = k / 2, e = k % 2:
//   COMBOUT  the whole mask over a..f; in extended mode a mux tree on f and e
//            over four cofactor LUTs, g replacing c where e = 1;
//   SHAREOUT cofactor 2 over a..d;
//   SUMOUT   A ^ B ^ cin and COUT majority(A, B, cin), with A cofactor 0 over
//            a..d and B the complement of cofactor 2 over (a, b, c, f), or
//            SHAREIN in shared-arithmetic mode; an absent carry in is 0.
// Each cofactor LUT is widened to the library's LUT size by repetition, so it
// ignores the inputs above d.
#include <array>

#include "kavu_check.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"
#include "kavu_wysiwyg_unmapper_int.h"

namespace {

constexpr CDB_WYSIWYG_TYPE WYS_KIND_LCELL = 61;
constexpr uint64_t ADDER_ATOM_MASK = 0xff000000ff00ull;

std::array<uint64_t, 4> split_lut_mask(uint64_t mask) {
  return {mask & 0xFFFF, (mask >> 16) & 0xFFFF, (mask >> 32) & 0xFFFF, (mask >> 48) & 0xFFFF};
}

// A 16-bit function widened to n inputs, independent of inputs 4 and up.
uint64_t replicate_lut_mask(uint64_t mask, unsigned n) {
  for (unsigned k = 4; k < n; ++k) mask |= mask << (1u << k);
  return mask;
}

unsigned lut_size() { return CDB_LUTMASK::max_num_inputs; }

CDB_SGATE_LUT* wys_unmap_new_lut(uint64_t value, std::list<CDB_SGATE_NODE*>* nlist, HDB_INSTANCE_NAME* base,
                                 const char* ext) {
  CDB_LUTMASK mask;
  mask.set_value(lut_size(), value);
  CDB_SGATE_LUT* lut = new CDB_SGATE_LUT(nullptr, mask);
  KAVU_CHECK(lut != 0);
  for (unsigned i = 0; i < lut_size(); ++i) wys_unmap_default_source(lut, i, WYS_DEFAULT_NONE);
  kavu_create_synthesized_name(lut, base, ext);
  nlist->push_back(lut);
  return lut;
}

template <class GATE>
GATE* new_gate(GATE* gate, std::list<CDB_SGATE_NODE*>* nlist, HDB_INSTANCE_NAME* base, const char* ext) {
  kavu_create_synthesized_name(gate, base, ext);
  nlist->push_back(gate);
  return gate;
}

void wys_unmap_copy_lut_input(const CDB_SGATE_ITERM* my_iterm, CDB_SGATE_LUT* my_lut, unsigned j) {
  KAVU_CHECK(::cdb_is_connected(my_iterm));
  KAVU_CHECK(my_lut != 0);
  if (j >= lut_size()) KAVU_INTERNAL_ERROR("j == 0xffffffff");
  CDB_SGATE_ITERM* iterm = my_lut->get_input_term(j);
  KAVU_CHECK(iterm != 0);
  if (my_iterm->is_gnd()) {
    iterm->set_gnd();
  } else if (my_iterm->is_vcc()) {
    iterm->set_vcc();
  } else {
    my_iterm->get_source()->insert_fanout(iterm);
    if (my_iterm->is_inverted()) iterm->set_invert();
    else iterm->clear_invert();
  }
}

const CDB_SGATE_ITERM* connected_port(const CDB_SGATE_WYSIWYG* wys, DB_INPUT_PORT_TYPE port) {
  const CDB_SGATE_ITERM* t = wys->get_iterm_by_type(port);
  return t && ::cdb_is_connected(t) ? t : nullptr;
}

CDB_SGATE_OTERM* used_oterm(const CDB_SGATE_WYSIWYG* wys, DB_OUTPUT_PORT_TYPE port) {
  CDB_SGATE_OTERM* o = wys->get_oterm_by_type(port);
  return o && o->has_fanout() ? o : nullptr;
}

// The LUT's output takes the fan-outs and the instance name of `from`.
void adopt(CDB_SGATE_NODE* gate, CDB_SGATE_OTERM* from, HDB_INSTANCE_NAME* gate_name) {
  CDB_SGATE_OTERM* out = gate->get_output_term(0);
  out->adopt_fanouts(from, false);
  out->set_instance_name(from->get_instance_name());
  gate->set_instance_name(gate_name);
  gate->reset_has_temporary_name();
}

// A data input of a mux driven by a gate output.
void drive_mux_input(CDB_SGATE_MUX* mux, unsigned pos, CDB_SGATE_NODE* from) {
  CDB_SGATE_ITERM* t = wys_unmap_default_source(mux, pos, WYS_DEFAULT_NONE);
  t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
  from->get_output_term(0)->insert_fanout(t);
}

// Gates of one full unmap, in creation order.
struct LCELL_PARTS {
  CDB_SGATE_LUT* m_combout_lut = nullptr;
  CDB_SGATE_MUX* m_muxf = nullptr;
  CDB_SGATE_MUX* m_muxe0 = nullptr;
  CDB_SGATE_MUX* m_muxe1 = nullptr;
  CDB_SGATE_LUT* m_ext_lut[4] = {};
  CDB_SGATE_LUT* m_shareout_lut = nullptr;
  CDB_SGATE_LUT* m_adder_in_lut1 = nullptr;
  CDB_SGATE_LUT* m_adder_in_lut2 = nullptr;
  CDB_SGATE_COMB* m_sumout_xor = nullptr;
  CDB_SGATE_COMB* m_carryout_or = nullptr;
  CDB_SGATE_COMB* m_carryout_and1 = nullptr;
  CDB_SGATE_COMB* m_carryout_and2 = nullptr;
  CDB_SGATE_COMB* m_carrout_xor = nullptr;
  CDB_SGATE_CARRY_SUM* m_carry_sum = nullptr;
  CDB_SGATE_WYSIWYG* m_adder = nullptr;
};

void create_adder_atom(CDB_SGATE_WYSIWYG* wys, LCELL_PARTS& p, std::list<CDB_SGATE_NODE*>* nlist,
                       HDB_INSTANCE_NAME* wys_iname) {
  p.m_adder = new CDB_SGATE_WYSIWYG(nullptr, wys_unmap_adder_type(wys->get_wysiwyg_type()));
  p.m_adder->set_lutmask_value(ADDER_ATOM_MASK);
  p.m_adder->clear_mode(CDB_WYSIWYG_EXTENDED_LUT);
  p.m_adder->clear_mode(CDB_WYSIWYG_SHARED_ARITH);
  for (DB_INPUT_PORT_TYPE port : {DB_PORT_DATAD, DB_PORT_DATAF, DB_PORT_CIN}) kavu_fetch_create_wys_iterm(port, p.m_adder);
  for (DB_OUTPUT_PORT_TYPE port : {DB_PORT_SUMOUT, DB_PORT_COUT, DB_PORT_SHAREOUT, DB_PORT_COMBOUT})
    kavu_fetch_create_wys_oterm(port, p.m_adder, false);
  kavu_create_synthesized_name(p.m_adder, wys_iname, "adder");
  nlist->push_back(p.m_adder);
}

void create_parts(CDB_SGATE_WYSIWYG* wys, LCELL_PARTS& p, std::list<CDB_SGATE_NODE*>* nlist,
                  const KAVU_WYSIWYG_UNMAPPER* unmapper, HDB_INSTANCE_NAME* n) {
  const uint64_t mask = wys->get_lutmask_value();
  std::array<uint64_t, 4> cof = split_lut_mask(mask);
  for (uint64_t& c : cof) c = replicate_lut_mask(c, lut_size());
  const bool extended = wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT);
  if (used_oterm(wys, DB_PORT_COMBOUT)) {
    if (!extended) {
      p.m_combout_lut = wys_unmap_new_lut(mask, nlist, n, "combout_lut");
    } else {
      p.m_muxf = new_gate(new CDB_SGATE_MUX(nullptr), nlist, n, "combout_muxf");
      p.m_muxe0 = new_gate(new CDB_SGATE_MUX(nullptr), nlist, n, "combout_muxe0");
      p.m_muxe1 = new_gate(new CDB_SGATE_MUX(nullptr), nlist, n, "combout_muxe1");
      for (unsigned i = 0; i < 4; ++i) {
        p.m_ext_lut[i] = wys_unmap_new_lut(cof[i], nlist, n, "ext_lut");
        KAVU_CHECK(p.m_ext_lut[i] != 0);
      }
    }
  }
  if (used_oterm(wys, DB_PORT_SHAREOUT)) p.m_shareout_lut = wys_unmap_new_lut(cof[2], nlist, n, "shareout_lut");
  const bool sum = used_oterm(wys, DB_PORT_SUMOUT) != nullptr;
  const bool carry = used_oterm(wys, DB_PORT_COUT) != nullptr;
  if (!sum && !carry) return;
  p.m_adder_in_lut1 = wys_unmap_new_lut(cof[0], nlist, n, "adder_in_lut1");
  if (!wys->mode_is_set(CDB_WYSIWYG_SHARED_ARITH))
    p.m_adder_in_lut2 = wys_unmap_new_lut(cof[2], nlist, n, "adder_in_lut2");
  if (unmapper->get_create_adder()) {
    create_adder_atom(wys, p, nlist, n);
    return;
  }
  if (sum) p.m_sumout_xor = new_gate(new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR, true), nlist, n, "sumout_xor");
  if (carry) {
    p.m_carryout_or = new_gate(new CDB_SGATE_COMB(nullptr, CDB_COMB_OR, true), nlist, n, "carryout_or");
    p.m_carryout_and1 = new_gate(new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true), nlist, n, "carryout_and1");
    p.m_carryout_and2 = new_gate(new CDB_SGATE_COMB(nullptr, CDB_COMB_AND, true), nlist, n, "carryout_and2");
    p.m_carrout_xor = new_gate(new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR, true), nlist, n, "carrout_xor");
  }
  if (unmapper->get_insert_carry_sum_buffer()) {
    p.m_carry_sum = new_gate(new CDB_SGATE_CARRY_SUM(nullptr), nlist, n, "carry_sum_buffer");
    wys_unmap_default_source(p.m_carry_sum, SUM_IN, WYS_DEFAULT_NONE);
    wys_unmap_default_source(p.m_carry_sum, CARRY_IN, WYS_DEFAULT_NONE);
  }
}

// One arithmetic output in the gate form: its gate, or the carry-sum
// buffer's output behind it, takes the fan-outs.
void hook_arith_output(CDB_SGATE_OTERM* atom_out, CDB_SGATE_COMB* gate, CDB_SGATE_CARRY_SUM* buffer, unsigned pos,
                       const char* ext) {
  if (buffer) {
    CDB_SGATE_ITERM* iterm_tmp = buffer->get_input_term(pos);
    KAVU_CHECK(iterm_tmp != 0);
    if (gate) gate->get_output_term(0)->insert_fanout(iterm_tmp);
    else iterm_tmp->set_gnd();
  }
  if (!gate) return;
  if (buffer) {
    CDB_SGATE_OTERM* oterm_tmp = buffer->get_output_term(pos);
    KAVU_CHECK(oterm_tmp != 0);
    oterm_tmp->adopt_fanouts(atom_out, false);
    kavu_create_synthesized_name(oterm_tmp, atom_out, ext);
  } else {
    gate->get_output_term(0)->adopt_fanouts(atom_out, false);
  }
  gate->get_output_term(0)->set_instance_name(atom_out->get_instance_name());
  gate->set_instance_name(atom_out->get_instance_name());
  gate->reset_has_temporary_name();
}

void hook_outputs(CDB_SGATE_WYSIWYG* wys, LCELL_PARTS& p, HDB_INSTANCE_NAME* wys_iname) {
  if (CDB_SGATE_OTERM* combout = used_oterm(wys, DB_PORT_COMBOUT)) {
    if (p.m_combout_lut) adopt(p.m_combout_lut, combout, wys_iname);
    else adopt(p.m_muxf, combout, combout->get_instance_name());
  }
  if (CDB_SGATE_OTERM* share = used_oterm(wys, DB_PORT_SHAREOUT))
    adopt(p.m_shareout_lut, share, share->get_instance_name());
  CDB_SGATE_OTERM* sum = used_oterm(wys, DB_PORT_SUMOUT);
  CDB_SGATE_OTERM* carry = used_oterm(wys, DB_PORT_COUT);
  if (!p.m_adder) {
    if (sum || p.m_carry_sum) hook_arith_output(sum, p.m_sumout_xor, p.m_carry_sum, SUM_OUT, "sum_out");
    if (carry || p.m_carry_sum) hook_arith_output(carry, p.m_carryout_or, p.m_carry_sum, CARRY_OUT, "carry_out");
    return;
  }
  for (CDB_SGATE_OTERM* out : {sum, carry}) {
    if (!out) continue;
    KAVU_CHECK(!out->is_inverted());
    CDB_SGATE_OTERM* oterm_tmp = p.m_adder->get_oterm_by_type(out == sum ? DB_PORT_SUMOUT : DB_PORT_COUT);
    KAVU_CHECK(oterm_tmp != 0);
    oterm_tmp->adopt_fanouts(out, false);
    oterm_tmp->set_instance_name(out->get_instance_name());
  }
  const CDB_SGATE_OTERM* adder_sum = p.m_adder->get_oterm_by_type(DB_PORT_SUMOUT);
  p.m_adder->set_instance_name(adder_sum->has_fanout() ? sum->get_instance_name() : carry->get_instance_name());
  p.m_adder->reset_has_temporary_name();
}

void copy_data_inputs(CDB_SGATE_WYSIWYG* wys, const LCELL_PARTS& p) {
  const std::array<CDB_SGATE_LUT*, 4> common = {p.m_combout_lut, p.m_shareout_lut, p.m_adder_in_lut1,
                                                p.m_adder_in_lut2};
  auto copy = [&](DB_INPUT_PORT_TYPE port, std::initializer_list<CDB_SGATE_LUT*> luts, unsigned pos) {
    const CDB_SGATE_ITERM* t = connected_port(wys, port);
    if (!t) return;
    for (CDB_SGATE_LUT* lut : luts)
      if (lut) wys_unmap_copy_lut_input(t, lut, pos);
  };
  const auto& e = p.m_ext_lut;
  for (unsigned k = 0; k < 2; ++k)
    copy(DB_INPUT_PORT_TYPE(DB_PORT_DATAA + k), {common[0], common[1], common[2], common[3], e[0], e[1], e[2], e[3]}, k);
  copy(DB_PORT_DATAC, {common[0], common[1], common[2], common[3], e[0], e[2]}, 2);
  copy(DB_PORT_DATAD, {common[0], common[1], common[2], e[0], e[1], e[2], e[3]}, 3);
  copy(DB_PORT_DATAE, {common[0]}, 4);
  copy(DB_PORT_DATAF, {common[0]}, 5);
  copy(DB_PORT_DATAF, {common[3]}, 3);
  copy(DB_PORT_DATAG, {e[1], e[3]}, 2);
}

void wire_extended(CDB_SGATE_WYSIWYG* wys, const LCELL_PARTS& p) {
  if (!p.m_muxf) return;
  KAVU_CHECK(p.m_muxe0 != 0);
  KAVU_CHECK(p.m_muxe1 != 0);
  for (unsigned i = 0; i < 4; ++i) KAVU_CHECK(p.m_ext_lut[i] != 0);
  wys_unmap_connect_port(wys, DB_PORT_DATAF, wys_unmap_default_source(p.m_muxf, CDB_MUX_SELECT, WYS_DEFAULT_NONE),
                         WYS_DEFAULT_NONE);
  drive_mux_input(p.m_muxf, CDB_MUX_DATA0, p.m_muxe0);
  drive_mux_input(p.m_muxf, CDB_MUX_DATA1, p.m_muxe1);
  const CDB_SGATE_MUX* halves[2] = {p.m_muxe0, p.m_muxe1};
  for (unsigned h = 0; h < 2; ++h) {
    CDB_SGATE_MUX* mux = const_cast<CDB_SGATE_MUX*>(halves[h]);
    wys_unmap_connect_port(wys, DB_PORT_DATAE, wys_unmap_default_source(mux, CDB_MUX_SELECT, WYS_DEFAULT_NONE),
                           WYS_DEFAULT_NONE);
    drive_mux_input(mux, CDB_MUX_DATA0, p.m_ext_lut[2 * h]);
    drive_mux_input(mux, CDB_MUX_DATA1, p.m_ext_lut[2 * h + 1]);
  }
}

// An adder input of the adder form driven from a port's source: the port's
// constant (flipped when asked), its source with its (flipped) inversion, or
// `absent` when unconnected.
void drive_adder_input(CDB_SGATE_ITERM* to, const CDB_SGATE_ITERM* from, bool flip, bool absent_vcc) {
  to->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
  if (!from) {
    if (absent_vcc) to->set_vcc();
    else to->set_gnd();
  } else if (from->is_vcc_or_gnd()) {
    if (from->is_vcc() != flip) to->set_vcc();
    else to->set_gnd();
  } else {
    from->get_source()->insert_fanout(to);
    if (from->is_inverted() != flip) to->set_invert();
  }
}

void remove_if_unused(CDB_SGATE_LUT* lut, std::list<CDB_SGATE_NODE*>* nlist) {
  if (!lut) return;
  lut->mls_sweep(false);
  if (lut->get_output_term(0)->has_fanout()) return;
  nlist->remove(lut);
  delete lut;
}

void wire_adder_form(CDB_SGATE_WYSIWYG* wys, const LCELL_PARTS& p, std::list<CDB_SGATE_NODE*>* nlist) {
  CDB_SGATE_WYSIWYG* adder = p.m_adder;
  CDB_SGATE_ITERM* in_d = adder->get_iterm_by_type(DB_PORT_DATAD);
  in_d->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
  p.m_adder_in_lut1->get_output_term(0)->insert_fanout(in_d);
  CDB_SGATE_ITERM* in_f = adder->get_iterm_by_type(DB_PORT_DATAF);
  if (wys->mode_is_set(CDB_WYSIWYG_SHARED_ARITH)) {
    drive_adder_input(in_f, connected_port(wys, DB_PORT_SHAREIN), true, true);
  } else {
    if (!p.m_adder_in_lut2) KAVU_INTERNAL_ERROR("adder_in_lut2");
    in_f->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    p.m_adder_in_lut2->get_output_term(0)->insert_fanout(in_f);
  }
  drive_adder_input(adder->get_iterm_by_type(DB_PORT_CIN), connected_port(wys, DB_PORT_CIN), false, false);
  if (p.m_combout_lut) {
    CDB_SGATE_LUT* lut = p.m_combout_lut;
    lut->set_flag_byte(CDB_KIND_BYTE, uint8_t(lut->get_flag_byte(CDB_KIND_BYTE) | CDB_LUT_MIGRATION_OBSERVABLE));
  }
  remove_if_unused(p.m_adder_in_lut1, nlist);
  remove_if_unused(p.m_adder_in_lut2, nlist);
  remove_if_unused(p.m_shareout_lut, nlist);
}

// A comb input from a port's source with its inversion (flipped when asked);
// absent or unconnected: a tie to `absent`.
void add_port_operand(CDB_SGATE_COMB* gate, const CDB_SGATE_ITERM* t, bool absent) {
  if (!t) gate->add_unordered_fanin_from_oterm(nullptr, !absent, nullptr);
  else gate->add_unordered_fanin_from_oterm(nullptr, t->is_inverted(), t->get_source());
}

void wire_gate_form(CDB_SGATE_WYSIWYG* wys, const LCELL_PARTS& p) {
  if (!p.m_adder_in_lut1) return;
  CDB_SGATE_OTERM* a = p.m_adder_in_lut1->get_output_term(0);
  const bool shared = wys->mode_is_set(CDB_WYSIWYG_SHARED_ARITH);
  const CDB_SGATE_ITERM* sharein = connected_port(wys, DB_PORT_SHAREIN);
  const CDB_SGATE_ITERM* cin = connected_port(wys, DB_PORT_CIN);
  auto add_a = [&](CDB_SGATE_COMB* g) { g->add_unordered_fanin_from_oterm(nullptr, false, a); };
  auto add_b = [&](CDB_SGATE_COMB* g) {
    if (shared) add_port_operand(g, sharein, false);
    else g->add_unordered_fanin_from_oterm(nullptr, true, p.m_adder_in_lut2->get_output_term(0));
  };
  if (p.m_sumout_xor) {
    add_a(p.m_sumout_xor);
    add_b(p.m_sumout_xor);
    if (cin) add_port_operand(p.m_sumout_xor, cin, false);
  }
  if (p.m_carryout_or) {
    add_a(p.m_carrout_xor);
    add_b(p.m_carrout_xor);
    p.m_carryout_and1->add_unordered_fanin_from_oterm(nullptr, false, p.m_carrout_xor->get_output_term(0));
    add_port_operand(p.m_carryout_and1, cin, false);
    add_a(p.m_carryout_and2);
    add_b(p.m_carryout_and2);
    p.m_carryout_or->add_unordered_fanin_from_oterm(nullptr, false, p.m_carryout_and1->get_output_term(0));
    p.m_carryout_or->add_unordered_fanin_from_oterm(nullptr, false, p.m_carryout_and2->get_output_term(0));
  }
}

}  // namespace

CDB_WYSIWYG_TYPE wys_unmap_adder_type(CDB_WYSIWYG_TYPE cell_type) {
  return cell_type == 10363 || cell_type == 10328 || cell_type == 10011 ? 10011 : 10498;
}

void wys_unmap_lcell_comb(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist, std::orlind_ofstream*,
                          KAVU_WYSIWYG_UNMAPPER* unmapper, DEV_FAMILY_ENUM) {
  KAVU_CHECK(wys != 0 && nlist != 0);
  KAVU_CHECK(wys->get_wysiwyg_type() == WYS_KIND_LCELL);
  HDB_INSTANCE_NAME* wys_iname = wys->get_instance_name();
  KAVU_CHECK(wys_iname != 0);
  LCELL_PARTS p;
  create_parts(wys, p, nlist, unmapper, wys_iname);
  hook_outputs(wys, p, wys_iname);
  copy_data_inputs(wys, p);
  wire_extended(wys, p);
  if (p.m_adder) wire_adder_form(wys, p, nlist);
  else wire_gate_form(wys, p);
}

void wys_unmap_lcell_comb_simple(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist, std::orlind_ofstream*,
                                 KAVU_WYSIWYG_UNMAPPER*, DEV_FAMILY_ENUM) {
  KAVU_CHECK(wys != 0 && nlist != 0);
  KAVU_CHECK(wys->is_lcell_comb());
  KAVU_CHECK(!wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT));
  const CDB_SGATE_OTERM* sum = wys->get_oterm_by_type(DB_PORT_SUMOUT);
  KAVU_CHECK(!sum || !sum->has_fanout());
  HDB_INSTANCE_NAME* wys_iname = wys->get_instance_name();
  KAVU_CHECK(wys_iname != 0);
  CDB_SGATE_OTERM* combout = wys->get_oterm_by_type(DB_PORT_COMBOUT);
  KAVU_CHECK(combout && combout->has_fanout());
  CDB_SGATE_LUT* combout_lut = wys_unmap_new_lut(wys->get_lutmask_value(), nlist, wys_iname, "combout_lut");
  KAVU_CHECK(combout_lut != 0);
  adopt(combout_lut, combout, wys_iname);
  for (unsigned k = 0; k < 6; ++k)
    if (const CDB_SGATE_ITERM* t = connected_port(wys, DB_INPUT_PORT_TYPE(DB_PORT_DATAA + k)))
      wys_unmap_copy_lut_input(t, combout_lut, k);
}

// ---------------------------------------------------------------- adder bits

namespace {

// Whether a cofactor is an addend the test accepts: a constant, or the input
// plain or inverted when it is connected.
bool addend_ok(uint64_t cof, bool connected) {
  return cof == 0 || cof == 0xFFFF || (connected && (cof == 0xFF00 || cof == 0x00FF));
}

// Moves the addend onto `to` and returns its 16-bit half of the new mask.
uint64_t normalize_addend(CDB_SGATE_WYSIWYG* wys, uint64_t cof, DB_INPUT_PORT_TYPE from_port,
                          DB_INPUT_PORT_TYPE to_port, uint64_t plain) {
  CDB_SGATE_ITERM* to = kavu_fetch_create_wys_iterm(to_port, wys);
  CDB_SGATE_ITERM* from = wys->get_iterm_by_type(from_port);
  if (cof == 0 || cof == 0xFFFF) {
    if (cof == 0) to->set_gnd();
    else to->set_vcc();
    if (from && (::cdb_is_connected(from) || from->is_vcc_or_gnd()))
      from->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    return plain;
  }
  KAVU_CHECK(from && ::cdb_is_connected(from));
  to->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
  kavu_move_fanin(from, to);
  if (::cdb_is_connected(from)) from->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
  return cof == 0x00FF ? ~plain & 0xFFFF : plain;
}

}  // namespace

bool kavu_wys_is_an_adder_bit(CDB_SGATE_WYSIWYG* wys, bool normalize) {
  KAVU_CHECK(wys != 0);
  if (!wys->is_lcell_comb() || wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT) ||
      wys->mode_is_set(CDB_WYSIWYG_SHARED_ARITH))
    return false;
  const std::array<uint64_t, 4> cof = split_lut_mask(wys->get_lutmask_value());
  if (cof[1] != 0 || cof[3] != 0) return false;
  if (used_oterm(wys, DB_PORT_COMBOUT) || used_oterm(wys, DB_PORT_SHAREOUT)) return false;
  for (DB_INPUT_PORT_TYPE port : {DB_PORT_DATAA, DB_PORT_DATAB, DB_PORT_DATAC, DB_PORT_DATAE, DB_PORT_DATAG,
                                  DB_PORT_SHAREIN})
    if (connected_port(wys, port)) return false;
  if (!addend_ok(cof[0], connected_port(wys, DB_PORT_DATAD) != nullptr)) return false;
  if (!addend_ok(cof[2], connected_port(wys, DB_PORT_DATAF) != nullptr)) return false;
  if (!connected_port(wys, DB_PORT_CIN)) return false;
  if (!normalize) return true;

  // With a constant addend its "plain" half is that of the new input, now tied.
  const uint64_t lo = normalize_addend(wys, cof[0], DB_PORT_DATAD, DB_PORT_DATAA, 0xAAAA);
  const uint64_t hi = normalize_addend(wys, cof[2], DB_PORT_DATAF, DB_PORT_DATAB, 0xCCCC);
  const uint64_t mask = (hi << 32) | lo;
  if (mask != wys->get_lutmask_value()) wys->get_flag().set(4);
  wys->set_lutmask_value(mask);
  return true;
}
