// kavu_utility_regclass.cpp — register classification.
//
// The I/O-register test gathers three candidate lists of pin-side output
// terminals (input, output, output enable), resolves each candidate through
// tri-state buses to the pin it reaches, and reads the assignments on the
// pins. Candidates are kept in small vectors without repeats, in the order
// met. Fixed faults against the literal rules: a register with no instance
// name anywhere is classified by its pin neighbours only (it used to be an
// internal error, yet registers made by the library are unnamed), and an IO
// buffer without fan-out is skipped (its first fan-out used to be read
// unchecked).
#include "kavu_utility_regclass.h"

#include <vector>

#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_utility_rtl.h"
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"

namespace {

bool option_on(const HDB_INSTANCE_NAME* name, int variable) {
  if (!name) return false;
  const auto* option = HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(name, variable, true);
  return option && option->get_value();
}

void push_unique(std::vector<CDB_SGATE_OTERM*>& vec, CDB_SGATE_OTERM* t) {
  if (!t) return;
  for (CDB_SGATE_OTERM* x : vec)
    if (x == t) return;
  vec.push_back(t);
}

bool pin_out_or_bidir(const CDB_SGATE_NODE* g) { return kavu_is_a_output_pin(g) || kavu_is_a_bidir_pin(g); }
bool pin_in_or_bidir(const CDB_SGATE_NODE* g) { return kavu_is_a_input_pin(g) || kavu_is_a_bidir_pin(g); }

// The first output terminal of the first fan-out gate that `accept` takes;
// the candidate itself when there is none.
template <class F>
CDB_SGATE_OTERM* resolve(CDB_SGATE_OTERM* cand, F&& accept) {
  for (CDB_SGATE_ITERM* t : cand->fanouts()) {
    CDB_SGATE_NODE* g = t->get_my_node();
    if (accept(g) && g->get_output_term(0)) return g->get_output_term(0);
  }
  return cand;
}

struct IO_CANDIDATES {
  std::vector<CDB_SGATE_OTERM*> m_in, m_out, m_oe;
};

void gather_candidates(CDB_SGATE_NODE* dff, CDB_SGATE_OTERM* out, IO_CANDIDATES& c) {
  CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
  if (data && cdb_is_connected(data) && !data->is_vcc_or_gnd() && data->get_source()) {
    CDB_SGATE_NODE* src = data->get_source()->get_my_node();
    if (kavu_is_a_tribus(src) || kavu_is_a_input_pin(src)) push_unique(c.m_in, src->get_output_term(0));
  }
  if (!out) return;
  for (CDB_SGATE_ITERM* t : out->fanouts()) {
    CDB_SGATE_NODE* g = t->get_my_node();
    if (kavu_is_a_output_pin(g)) {
      push_unique(c.m_out, g->get_output_term(0));
    } else if (kavu_is_a_io_buffer(g)) {
      const CDB_SGATE_OTERM* buf_out = g->get_output_term(0);
      const CDB_SGATE_ITERM* first = buf_out ? buf_out->get_first_fanout() : nullptr;
      if (!first || !kavu_is_a_tribus(first->get_my_node())) continue;
      CDB_SGATE_OTERM* bus_out = first->get_my_node()->get_output_term(0);
      if (t == g->get_input_term(CDB_IO_BUF_OE)) push_unique(c.m_oe, bus_out);
      else push_unique(c.m_out, bus_out);
    }
  }
}

bool test_candidates(const CDB_SGATE_NODE* dff, const IO_CANDIDATES& c) {
  bool result = false;
  const std::string reg = dff->get_debug_name();
  auto line = [&](const char* format, const CDB_SGATE_OTERM* t) {
    kavu_debug(format, reg.c_str(), t->get_my_node()->get_debug_name().c_str());
  };
  for (const CDB_SGATE_OTERM* t : c.m_oe) {
    if (!pin_out_or_bidir(t->get_my_node())) continue;
    if (option_on(t->get_instance_name(), ACF_OUTPUT_ENABLE_REGISTER)) {
      result = true;
      line("  DFF UID %s is OE reg for bidir %s", t);
    }
  }
  for (const CDB_SGATE_OTERM* t : c.m_out) {
    if (!pin_out_or_bidir(t->get_my_node())) continue;
    if (option_on(t->get_instance_name(), ACF_OUTPUT_REGISTER)) {
      result = true;
      line("  DFF UID %s is OUTPUT reg for bidir %s", t);
    }
    if (option_on(t->get_instance_name(), ACF_PCI_PIN)) {
      result = true;
      line("  DFF UID %s assoc with PCI pin %s", t);
    }
  }
  for (const CDB_SGATE_OTERM* t : c.m_in) {
    if (!pin_in_or_bidir(t->get_my_node())) continue;
    if (option_on(t->get_instance_name(), ACF_INPUT_REGISTER)) {
      result = true;
      line("  DFF UID %s is INPUT reg for bidir %s", t);
    }
    if (option_on(t->get_instance_name(), ACF_PCI_PIN)) {
      result = true;
      line("  DFF UID %s assoc with PCI pin %s", t);
    }
  }
  return result;
}

bool pin_search(CDB_SGATE_NODE* dff, CDB_SGATE_OTERM* out) {
  IO_CANDIDATES c;
  gather_candidates(dff, out, c);
  for (CDB_SGATE_OTERM*& t : c.m_oe)
    if (kavu_is_a_tribus(t->get_my_node())) t = resolve(t, pin_out_or_bidir);
  for (CDB_SGATE_OTERM*& t : c.m_out) t = resolve(t, pin_out_or_bidir);
  for (CDB_SGATE_OTERM*& t : c.m_in) t = resolve(t, kavu_is_a_bidir_pin);
  return test_candidates(dff, c);
}

}  // namespace

int opt_convert_brae_wys_lcell(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  int count = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_WYSIWYG* wys = *it ? (*it)->cast_to_wysiwyg() : nullptr;
    if (!wys) continue;
    if (wys->get_wysiwyg_type() == 10498) {
      wys->set_wysiwyg_type(10401);
      ++count;
    } else if (wys->get_wysiwyg_type() == 10499) {
      wys->set_wysiwyg_type(10403);
      ++count;
    }
  }
  kavu_debug("Converted %d Brae wys lcells to Tessel wys lcells", count);
  return count;
}

bool opt_dff_is_io_register(CDB_SGATE_NODE* dff) {
  KAVU_CHECK(kavu_is_a_dff(dff,true));
  const bool plain = kavu_is_a_dff(dff);
  const uint8_t misc = dff->get_flag_byte(CDB_MISC_BYTE);
  if (plain && (misc & CDB_MISC_DFF_IO_REG_KNOWN)) return (misc & CDB_MISC_DFF_IO_REG_VALUE) != 0;
  CDB_SGATE_OTERM* out = kavu_get_dff_oterm(dff);
  HDB_INSTANCE_NAME* iname = out ? out->get_instance_name() : nullptr;
  if (!iname && out) {
    iname = dff->get_instance_name();
    out->set_instance_name(iname);
  }
  bool result = option_on(iname, ACF_OUTPUT_REGISTER) || option_on(iname, ACF_INPUT_REGISTER);
  if (option_on(iname, ACF_OUTPUT_ENABLE_REGISTER)) result = true;
  if (!result) result = pin_search(dff, out);
  if (plain) {
    uint8_t bits = uint8_t(dff->get_flag_byte(CDB_MISC_BYTE) | CDB_MISC_DFF_IO_REG_KNOWN);
    if (result) bits |= CDB_MISC_DFF_IO_REG_VALUE;
    else bits &= uint8_t(~CDB_MISC_DFF_IO_REG_VALUE);
    dff->set_flag_byte(CDB_MISC_BYTE, bits);
  }
  return result;
}

bool opt_dff_has_sync_sec_disallowed(CDB_SGATE_NODE* dff) {
  KAVU_CHECK(kavu_is_a_dff(dff,true));
  const CDB_SGATE_OTERM* out = kavu_get_dff_oterm(dff);
  const HDB_INSTANCE_NAME* name = out ? out->get_instance_name() : nullptr;
  if (!name) return false;
  const auto* option =
      HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(name, ACF_SYNCH_SECONDARY_ALLOWED, true);
  return option && !option->get_value();
}

bool opt_dff_is_io_register_or_has_sync_sec_disallowed(CDB_SGATE_NODE* dff) {
  return opt_dff_is_io_register(dff) || opt_dff_has_sync_sec_disallowed(dff);
}

bool opt_dff_can_be_used_to_infer(CDB_SGATE_NODE* dff) {
  KAVU_CHECK(dff);
  if (!dff->get_instance_name()) return true;
  KAVU_CHECK(kavu_is_a_dff(dff));
  static bool s_read = false;
  static bool s_allow_preserve_absorb = false;
  if (!s_read) {
    s_allow_preserve_absorb = cfg_is_on("infer_allow_preserve_absorb", false);
    s_read = true;
  }
  if (!s_allow_preserve_absorb && dff->cast_to_dff()->preserve()) return false;
  return !opt_dff_is_io_register(dff);
}

bool opt_is_lutable_comb_logic(CDB_SGATE_NODE* gate) {
  KAVU_CHECK(gate);
  switch (gate->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_MUX_ENUM:
      return true;
    case CDB_SGATE_OPERATOR_ENUM:
      switch (gate->cast_to_operator()->get_type()) {
        case CDB_OPER_SELECT: case CDB_OPER_DECODE: case CDB_OPER_COMPARE: case CDB_OPER_EQUAL:
        case CDB_OPER_NTO1_MUX:
          return true;
        default:
          return false;
      }
    case CDB_SGATE_LUT_ENUM: {
      const uint8_t kind = gate->get_flag_byte(CDB_KIND_BYTE);
      return (kind & 0x01) != 0 && (kind & 0x02) == 0;
    }
    default:
      return false;
  }
}

bool opt_check_reg_secondary(CDB_SGATE_NODE* dff, OPT_SECONDARY_SIGNALS& shared) {
  KAVU_CHECK(kavu_is_a_dff(dff));
  CDB_SGATE_ITERM* clock_iterm = dff->get_input_term(CDB_DFF_CLK);
  CDB_SGATE_ITERM* ena = dff->get_input_term(CDB_DFF_ENA);
  CDB_SGATE_ITERM* aclr = dff->get_input_term(CDB_DFF_ACLR);
  CDB_SGATE_ITERM* sclr = dff->get_input_term(CDB_DFF_SCLR);
  const CDB_SGATE_ITERM* preset = dff->get_input_term(CDB_DFF_PRESET);
  const CDB_SGATE_ITERM* aload = dff->get_input_term(CDB_DFF_ALOAD);
  KAVU_CHECK(clock_iterm != NULL);
  if (!preset || !preset->is_gnd() || !aload || !aload->is_gnd() || kavu_dff_powers_up_high(dff)) return false;
  if (!shared.m_clk) {
    shared.m_clk = clock_iterm;
    shared.m_ena = ena;
    shared.m_aclr = aclr;
    shared.m_sclr = sclr;
    return true;
  }
  return rtl_iterms_have_same_source(clock_iterm, shared.m_clk) && rtl_iterms_have_same_source(ena, shared.m_ena) &&
         rtl_iterms_have_same_source(aclr, shared.m_aclr) && rtl_iterms_have_same_source(sclr, shared.m_sclr);
}

bool opt_compare_secondary_signals(const OPT_SECONDARY_SIGNALS& a, const OPT_SECONDARY_SIGNALS& b) {
  return rtl_iterms_have_same_source(a.m_clk, b.m_clk) && rtl_iterms_have_same_source(a.m_ena, b.m_ena) &&
         rtl_iterms_have_same_source(a.m_aclr, b.m_aclr);
}
