// kavu_utility_rtl.cpp — RTL terminal queries and unused-term repairs.
//
// A tie to GND is a VCC tie with the inversion flag set (set_vcc then invert,
// or set_gnd). Operator bits are created on the operator and placed in their
// port; register and multiplexer inputs are created in their fixed slot with
// the slot's port type. Every fixer walks the node list in its own order and
// ties bit by bit, port 1 before port 2 for each bit.
// Cases handled on purpose: a constant port value keeps 32
// bits and refuses VCC bits beyond them (rather than wrapping onto low bits);
// an N-to-1 multiplexer whose select had to grow also pads its data to
// 2^select (rather than stopping on an internal error); select widths that would
// ask for more than 2^RTL_MAX_SELECT_WIDTH terminals are internal errors.
#include "kavu_utility_rtl.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_ops.h"
#include "kavu_utility.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "mem/mem.h"

namespace {

constexpr MSG_D_LEVEL RTL_WARNING_LEVEL = MSG_D_LEVEL(3);
constexpr unsigned RTL_BITS_IN_UINT = 32;

bool is_real_source(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && !t->is_vcc_or_gnd(); }

void tie(CDB_SGATE_ITERM* t, bool vcc) {
  t->set_vcc();
  if (!vcc) t->invert();
}

// The terminal in slot `pos` of a plain register or 2:1 multiplexer, created
// with the slot's port type when the slot is empty.
CDB_SGATE_ITERM* fetch_create_slot(CDB_SGATE_NODE* sgate, unsigned pos) {
  if (CDB_SGATE_ITERM* t = sgate->get_input_term(pos)) return t;
  DB_INPUT_PORT_TYPE type = DB_MAX_INPUT_PORT_TYPE;
  if (kavu_is_a_dff(sgate)) type = CDB_SGATE_DFF::get_port_type_of_position(pos);
  CDB_SGATE_ITERM* t = sgate->create_input_term(MEM_MANAGER::get_default_segment(), type);
  sgate->set_input_term(t, pos);
  return t;
}

// Ties slot `pos` when it is missing or unconnected; true when it tied.
bool fix_slot(CDB_SGATE_NODE* sgate, unsigned pos, bool vcc) {
  CDB_SGATE_ITERM* t = sgate->get_input_term(pos);
  if (t && cdb_is_connected(t)) return false;
  tie(fetch_create_slot(sgate, pos), vcc);
  return true;
}

// Ties bits 0..w-1 of ports 1 and 2, w the larger width (at least min_width),
// with one warning line per tie.
void fix_two_operand_ports(CDB_SGATE_OPERATOR* op, unsigned min_width, const char* warn_a,
                           const char* warn_b) {
  CDB_SGATE_OPER_PORT_ENTRY* a = op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* b = op->get_port(CDB_OPER_PORT_B);
  KAVU_CHECK(a && b);
  const unsigned w = std::max({a->get_width(), b->get_width(), min_width});
  for (unsigned i = 0; i < w; ++i) {
    if (rtl_check_create_iterm(a, op, int(i), false)) kavu_debug_at_level(RTL_WARNING_LEVEL, "%s", warn_a);
    if (rtl_check_create_iterm(b, op, int(i), false)) kavu_debug_at_level(RTL_WARNING_LEVEL, "%s", warn_b);
  }
}

template <class F>
void for_each_operator(CDB_SGATE_NETLIST* netlist, CDB_OPER_TYPE kind, F&& f) {
  KAVU_CHECK(netlist);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    CDB_SGATE_OPERATOR* op = sgate ? sgate->cast_to_operator() : nullptr;
    if (op && op->get_type() == kind) f(op);
  }
}

void fix_nto1_mux(CDB_SGATE_OPERATOR* op) {
  CDB_SGATE_OPER_PORT_ENTRY* sel = op->get_port(CDB_OPER_PORT_A);
  CDB_SGATE_OPER_PORT_ENTRY* dat = op->get_port(CDB_OPER_PORT_B);
  KAVU_CHECK(sel && dat);
  unsigned sel_width = sel->get_width();
  unsigned dat_width = dat->get_width();
  KAVU_CHECK(sel_width < static_cast<unsigned int>(RTL_BITS_IN_UINT));
  KAVU_CHECK(sel_width <= RTL_MAX_SELECT_WIDTH);
  const std::string name = op->get_debug_name();
  const unsigned entry_span = 1u << sel_width;
  while ((1u << sel_width) > dat_width) {
    ++dat_width;
    kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL increased MUX data width on UID %s", name.c_str());
  }
  if (entry_span < dat_width) {
    while ((1u << sel_width) < dat_width) {
      ++sel_width;
      KAVU_CHECK(sel_width <= RTL_MAX_SELECT_WIDTH);
      kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL increased MUX sel width on UID %s", name.c_str());
    }
    // A data width that is no power of two is padded up to the new span.
    while ((1u << sel_width) > dat_width) {
      ++dat_width;
      kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL increased MUX data width on UID %s", name.c_str());
    }
  }
  KAVU_CHECK(((unsigned)1 << sel_width) == dat_width);
  for (unsigned i = 0; i < sel_width; ++i) {
    if (rtl_check_create_iterm(sel, op, int(i), false))
      kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected MUX select line on UID %s",
                          name.c_str());
  }
  for (unsigned i = 0; i < dat_width; ++i) {
    if (rtl_check_create_iterm(dat, op, int(i), false))
      kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected MUX data line on UID %s",
                          name.c_str());
  }
}

void fix_mux21(CDB_SGATE_NODE* mux) {
  for (unsigned pos : {unsigned(CDB_MUX_DATA0), unsigned(CDB_MUX_DATA1)}) {
    if (fix_slot(mux, pos, false))
      kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected 21MUX data line");
  }
  if (fix_slot(mux, CDB_MUX_SELECT, false))
    kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected 21MUX select line");
}

// Creates the missing output terminals of one port; returns how many.
int fill_output_port(CDB_SGATE_OPERATOR* op, CDB_SGATE_OPER_PORT_ENTRY* port) {
  int created = 0;
  for (unsigned i = 0; i < port->get_width(); ++i) {
    if (port->get_oterm(i)) continue;
    CDB_SGATE_OTERM* t = new CDB_SGATE_OTERM(op);
    op->insert_unordered_fanout_term(t);
    port->set_oterm(i, t);
    ++created;
  }
  return created;
}

void widen_output_port(CDB_SGATE_OPERATOR* op, unsigned q, bool decoder) {
  CDB_SGATE_OPER_PORT_ENTRY* port = op->get_port(CDB_OPER_PORT_O);
  if (!port || port->get_width() >= q) return;
  port->set_oterm(q - 1, nullptr);
  if (decoder) {
    KAVU_CHECK(port->get_width() == q);
  } else {
    const unsigned w = q;
    KAVU_CHECK(port->get_width() == w);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Source queries

void rtl_get_iterm_source(CDB_SGATE_ITERM* iterm, CDB_SGATE_NODE** gate, CDB_SGATE_OTERM** oterm) {
  CDB_SGATE_OTERM* src = is_real_source(iterm) ? iterm->get_source() : nullptr;
  if (oterm) *oterm = src;
  if (gate) *gate = src ? src->get_my_node() : nullptr;
}

void rtl_flip_inputs(CDB_SGATE_ITERM** iterm_a, CDB_SGATE_NODE** gate_a, CDB_SGATE_OTERM** oterm_a,
                     CDB_SGATE_ITERM** iterm_b, CDB_SGATE_NODE** gate_b, CDB_SGATE_OTERM** oterm_b) {
  if (iterm_a) std::swap(*iterm_a, *iterm_b);
  if (gate_a) std::swap(*gate_a, *gate_b);
  if (oterm_a) std::swap(*oterm_a, *oterm_b);
}

void rtl_get_2_input_node_sources(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterms,
                                  CDB_SGATE_NODE** gates, CDB_SGATE_OTERM** oterms) {
  KAVU_CHECK(sgate && iterms);
  int i = 0;
  for (CDB_SGATE_ITERM* t : sgate->get_input_terms()) {
    if (!t) continue;
    KAVU_CHECK(i < 2);
    iterms[i] = t;
    if (gates && oterms) {
      rtl_get_iterm_source(t, &gates[i], &oterms[i]);
    } else if (oterms) {
      rtl_get_iterm_source(t, nullptr, &oterms[i]);
    } else if (gates) {
      rtl_get_iterm_source(t, &gates[i], nullptr);
    }
    ++i;
  }
  KAVU_CHECK(i == 2);
}

namespace {
// A two-input gate of the kind asked (`is_gate`), or a 2:1 multiplexer with
// a data input tied to GND (an AND of the select and the other data input)
// or, with `vcc`, to Vcc (an OR). The select is flipped where needed so the
// constant sits on data0 for an AND and on data1 for an OR; `iterms`, when
// given, receives the other data input and the select.
bool two_input_equivalent(CDB_SGATE_NODE* sgate, bool is_gate, bool vcc, CDB_SGATE_ITERM** iterms) {
  if (is_gate) {
    CDB_SGATE_ITERM* pair[2];
    rtl_get_2_input_node_sources(sgate, iterms ? iterms : pair, nullptr, nullptr);
    return true;
  }
  if (!kavu_is_a_mux(sgate)) return false;
  auto tied = [vcc](const CDB_SGATE_ITERM* d) { return d && cdb_is_connected(d) && (vcc ? d->is_vcc() : d->is_gnd()); };
  const bool d0_tied = tied(sgate->get_input_term(CDB_MUX_DATA0));
  const bool d1_tied = tied(sgate->get_input_term(CDB_MUX_DATA1));
  if (!d0_tied && !d1_tied) return false;
  if (d0_tied == vcc) rtl_flip_mux_sel_polarity(sgate);
  if (iterms) {
    iterms[0] = sgate->get_input_term(vcc ? CDB_MUX_DATA0 : CDB_MUX_DATA1);
    iterms[1] = sgate->get_input_term(CDB_MUX_SELECT);
  }
  return true;
}
}  // namespace

bool rtl_node_is_2_input_and_equivalent(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterms) {
  KAVU_CHECK(sgate);
  return two_input_equivalent(sgate, kavu_is_a_two_and(sgate), false, iterms);
}

bool rtl_node_is_2_input_or_equivalent(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterms) {
  KAVU_CHECK(sgate);
  return two_input_equivalent(sgate, kavu_is_a_two_or(sgate), true, iterms);
}

void rtl_flip_mux_sel_polarity(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(kavu_is_a_mux (sgate));
  CDB_SGATE_ITERM* sel = sgate->get_input_term(CDB_MUX_SELECT);
  CDB_SGATE_ITERM* d0 = sgate->get_input_term(CDB_MUX_DATA0);
  CDB_SGATE_ITERM* d1 = sgate->get_input_term(CDB_MUX_DATA1);
  KAVU_CHECK(cdb_is_connected (sel));
  KAVU_CHECK(cdb_is_connected (d0));
  KAVU_CHECK(cdb_is_connected (d1));
  sel->invert();
  kavu_swap_iterm_connections(d0, d1);
}

// ---------------------------------------------------------------------------
// Constant and same-source tests

bool rtl_oper_port_has_constant_value(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, int* value) {
  KAVU_CHECK(op && value);
  const CDB_SGATE_OPER_PORT_ENTRY* port = op->get_port(type);
  const unsigned port_width = port ? port->get_width() : 0;
  KAVU_CHECK(port_width > 0);
  uint32_t bits = 0;
  *value = 0;
  for (unsigned i = 0; i < port_width; ++i) {
    const CDB_SGATE_ITERM* t = port->get_iterm(i);
    if (!t || !cdb_is_connected(t) || !t->is_vcc_or_gnd()) return false;
    if (t->is_vcc()) {
      // Bits beyond the 32 the value holds cannot be represented.
      if (i >= RTL_BITS_IN_UINT) return false;
      bits |= uint32_t(1) << i;
      *value = static_cast<int>(bits);
    }
  }
  return true;
}

bool rtl_iterms_have_same_source(CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b) {
  const bool a_nc = !a || !cdb_is_connected(a);
  const bool b_nc = !b || !cdb_is_connected(b);
  if (a_nc || b_nc) return a_nc && b_nc;
  if (a->is_inverted() != b->is_inverted()) return false;
  if (!a->is_vcc_or_gnd() && !b->is_vcc_or_gnd()) return a->get_source() == b->get_source();
  return (a->is_gnd() && b->is_gnd()) || (a->is_vcc() && b->is_vcc());
}

bool rtl_iterms_have_inverted_source(CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b) {
  if (!a || !b || !cdb_is_connected(a) || !cdb_is_connected(b)) return false;
  if (a->is_inverted() == b->is_inverted()) return false;
  if (!a->is_vcc_or_gnd() && !b->is_vcc_or_gnd()) return a->get_source() == b->get_source();
  return (a->is_gnd() && b->is_vcc()) || (a->is_vcc() && b->is_gnd());
}

bool rtl_iterm_vectors_have_same_source(const std::vector<CDB_SGATE_ITERM*>* iterm_vec1,
                                        const std::vector<CDB_SGATE_ITERM*>* iterm_vec2) {
  KAVU_CHECK(iterm_vec1 && iterm_vec2);
  KAVU_CHECK(iterm_vec1->size() == iterm_vec2->size());
  for (size_t i = 0; i < iterm_vec1->size(); ++i) {
    if (!rtl_iterms_have_same_source((*iterm_vec1)[i], (*iterm_vec2)[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Debug traces

void rtl_vdebug_iterm(CDB_SGATE_ITERM* iterm, bool name_gate) {
  if (!iterm) {
    kavu_debug("  NULL");
    return;
  }
  if (name_gate) {
    if (const CDB_SGATE_NODE* gate = iterm->get_my_node()) {
      kavu_debug("  Iterm on gate %s %s", gate->get_string_type_name(), gate->get_debug_name().c_str());
    } else {
      kavu_debug("  Iterm on NULL gate");
    }
  }
  if (!cdb_is_connected(iterm)) {
    kavu_debug("  NC");
  } else if (iterm->is_vcc()) {
    kavu_debug("  fed by Vcc");
  } else if (iterm->is_gnd()) {
    kavu_debug("  fed by GND");
  } else if (const CDB_SGATE_OTERM* src = iterm->get_source()) {
    const CDB_SGATE_NODE* gate = src->get_my_node();
    kavu_debug("  fed by %s %s %s fo=%d", gate->get_string_type_name(), gate->get_debug_name().c_str(),
               iterm->is_inverted() ? "INV" : "POS", int(src->get_number_of_fanout()));
  } else {
    // Connected through a parent input only.
    kavu_debug("  NC");
  }
}

void rtl_sanity_check_ce_iterms(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int dffs = 0, no_ce = 0, dont_care = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    if (!sgate || !kavu_is_a_dff(sgate)) continue;
    ++dffs;
    const CDB_SGATE_ITERM* ena = sgate->get_input_term(CDB_DFF_ENA);
    if (!ena || !cdb_is_connected(ena)) ++no_ce;
    if (kavu_dff_power_up_dc(sgate)) ++dont_care;
  }
  if (dont_care >= 1) kavu_debug("There are %d DFF's %d are powerup don't care", dffs, dont_care);
  if (no_ce >= 1) kavu_debug("%d DFF's have disconnected CE's", no_ce);
}

void rtl_debug_describe_gate(CDB_SGATE_NETLIST* netlist, const char* name) {
  KAVU_CHECK(netlist && name);
  kavu_debug("In RTL debug describe gate");
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    const char* text = sgate ? sgate->get_string_name() : nullptr;
    if (!text || strcmp(text, name) != 0) continue;
    kavu_debug("Gate %s", text);
    CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
    if (!op) continue;
    for (auto p = op->begin_const_port_entry_table(); p != op->end_const_port_entry_table(); ++p) {
      kavu_debug("port_width = %d", int((*p)->get_width()));
      if ((*p)->get_dir() == CDB_OPER_PORT_DIR_IN) kavu_vdebug_op_iport(*p);
    }
  }
  kavu_debug("Leaving RTL debug describe gate");
}

// ---------------------------------------------------------------------------
// Repairs

bool rtl_check_create_iterm(CDB_SGATE_OPER_PORT_ENTRY* port, CDB_SGATE_NODE* port_owner, int i,
                            bool tie_vcc) {
  KAVU_CHECK(port && port_owner);
  KAVU_CHECK(port->get_dir() == CDB_OPER_PORT_DIR_IN);
  KAVU_CHECK(i >= 0);
  CDB_SGATE_ITERM* t = port->get_iterm(unsigned(i));
  if (t && cdb_is_connected(t)) return false;
  if (!t) {
    t = new CDB_SGATE_ITERM(port_owner);
    port_owner->insert_unordered_fanin_term(t);
    port->set_iterm(unsigned(i), t);
  }
  tie(t, tie_vcc);
  return true;
}

void rtl_fix_unused_dff_terms(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  // Slot order and neutral values; the clock is left alone.
  static const struct {
    unsigned m_pos;
    bool m_vcc;
  } DFF_SLOTS[] = {{CDB_DFF_DATA, false},  {CDB_DFF_ENA, true},   {CDB_DFF_PRESET, false},
                   {CDB_DFF_ACLR, false},  {CDB_DFF_ALOAD, false}, {CDB_DFF_ADATA, true},
                   {CDB_DFF_SLOAD, false}, {CDB_DFF_SCLR, false}};
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    if (!sgate) continue;
    if (kavu_is_a_dff(sgate)) {
      for (const auto& slot : DFF_SLOTS) {
        if (fix_slot(sgate, slot.m_pos, slot.m_vcc) && slot.m_pos == CDB_DFF_DATA)
          kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected DIN");
      }
    } else if (kavu_is_a_wys_ff(sgate)) {
      CDB_SGATE_ITERM* clk = rtl_fetch_create_wys_iterm(DB_PORT_CLK, sgate);
      if (!cdb_is_connected(clk)) {
        clk->set_gnd();
        kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected LCELL_FF/FF WYS CLK");
      }
      CDB_SGATE_ITERM* din = rtl_fetch_create_wys_iterm(DB_PORT_DATAIN, sgate);
      if (!cdb_is_connected(din)) {
        din->set_gnd();
        kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected LCELL_FF/FF WYS Din");
      }
    }
  }
}

void rtl_fix_unused_selector_terms(CDB_SGATE_NETLIST* netlist) {
  for_each_operator(netlist, CDB_OPER_SELECT, [](CDB_SGATE_OPERATOR* op) {
    fix_two_operand_ports(op, 0, "WARNING: RTL grounded an unconnected selector select line",
                          "WARNING: RTL grounded an unconnected selector data line");
  });
}

void rtl_fix_unused_compare_terms(CDB_SGATE_NETLIST* netlist) {
  for_each_operator(netlist, CDB_OPER_COMPARE, [](CDB_SGATE_OPERATOR* op) {
    fix_two_operand_ports(op, 0, "WARNING: RTL grounded an unconnected compare A line",
                          "WARNING: RTL grounded an unconnected compare B line");
  });
}

void rtl_fix_unused_add_terms(CDB_SGATE_NETLIST* netlist) {
  for_each_operator(netlist, CDB_OPER_ADDITION, [](CDB_SGATE_OPERATOR* op) {
    fix_two_operand_ports(op, 1, "WARNING: RTL grounded an unconnected adder A line",
                          "WARNING: RTL grounded an unconnected adder B line");
  });
}

void rtl_fix_unused_mux_terms(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    if (!sgate) continue;
    if (kavu_is_a_nto1_mux_op(sgate)) {
      fix_nto1_mux(sgate->cast_to_operator());
    } else if (kavu_is_a_mux(sgate)) {
      fix_mux21(sgate);
    }
  }
}

void rtl_fix_unused_decoder_terms(CDB_SGATE_NETLIST* netlist) {
  for_each_operator(netlist, CDB_OPER_DECODE, [](CDB_SGATE_OPERATOR* op) {
    CDB_SGATE_OPER_PORT_ENTRY* sel = op->get_port(CDB_OPER_PORT_A);
    KAVU_CHECK(sel);
    unsigned sel_width = sel->get_width();
    const uint64_t q = op->get_width(CDB_OPER_PORT_O);
    while ((uint64_t(1) << sel_width) < q) {
      ++sel_width;
      kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING : Increasing decoder %s sel width to cover outputs",
                          op->get_string_name() ? op->get_string_name() : "");
    }
    for (unsigned i = 0; i < sel_width; ++i) {
      if (rtl_check_create_iterm(sel, op, int(i), false))
        kavu_debug_at_level(RTL_WARNING_LEVEL, "WARNING: RTL grounded an unconnected decoder input line");
    }
  });
}

int rtl_add_missing_oterms(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int created = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_OPERATOR* op = *it ? (*it)->cast_to_operator() : nullptr;
    if (!op) continue;
    if (op->get_type() == CDB_OPER_DECODE) {
      const unsigned sel_width = op->get_width(CDB_OPER_PORT_A);
      // 2^sel_width outputs: refused before the shift can overflow or the
      // port asks for millions of terminals.
      KAVU_CHECK(sel_width <= RTL_MAX_SELECT_WIDTH);
      widen_output_port(op, 1u << sel_width, true);
    } else if (op->get_type() == CDB_OPER_ADDITION) {
      const unsigned w = std::max(op->get_width(CDB_OPER_PORT_A), op->get_width(CDB_OPER_PORT_B));
      KAVU_CHECK(w>0);
      widen_output_port(op, w, false);
    }
    for (auto p = op->begin_const_port_entry_table(); p != op->end_const_port_entry_table(); ++p) {
      if ((*p)->get_dir() == CDB_OPER_PORT_DIR_OUT) created += fill_output_port(op, *p);
    }
  }
  kavu_debug_at_level(RTL_WARNING_LEVEL, "Created %d oterms to fully populate OPORTs", created);
  return created;
}
