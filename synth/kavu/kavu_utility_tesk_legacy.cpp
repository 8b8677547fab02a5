// kavu_utility_tesk_legacy.cpp — the older retimer interface's pipeline
// registers: on a register, on the ports of one RAM clock, around a DSP
// operator and on a LUT-RAM. Unlike the current forms they pipeline every
// chosen terminal, crossing or not, and take the clock from the node itself.
//
// RAM clocks: a RAM block's port-B inputs and outputs follow clock 35 or 36
//   by its port-B modes (data-in clock, modes 8, 9 and 27); a synchronous RAM
//   behaves as a RAM block whose port-B inputs and outputs are on the second
//   clock, which it stores as port type 96 (looked up as such, so the clock
//   is found whichever number the caller names it by).
// Cost: O(terminals of the node x count).
#include <map>
#include <vector>

#include "kavu_check.h"
#include "kavu_load_time_int.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_utility_tesk.h"
#include "kavu_utility_tesk_int.h"
#include "kavu_wiring_helper.h"

using namespace kavu_tesk_detail;

namespace {

// The input that carries the register's data connection: its own data
// input, or the parent input that stands for it; null when neither is
// connected.
CDB_SGATE_ITERM* connected_data(CDB_SGATE_NODE* node) {
  CDB_SGATE_ITERM* data = kavu_get_dff_data(node);
  if (!data) return nullptr;
  if (data->is_connected()) return data;
  CDB_SGATE_ITERM* parent = data->get_parent_input();
  return parent && parent->is_connected() ? parent : nullptr;
}

// The register's secondary signals on the new register: each connected one
// replaces the tie-off the new register was given.
void copy_secondaries(CDB_SGATE_NODE* from, CDB_SGATE_DFF* to) {
  for (const KAVU_TESK_TIE_OFF& row : kavu_tesk_secondary_tie_offs) {
    CDB_SGATE_ITERM* src = row.m_accessor(from);
    if (src && src->is_connected()) kavu_copy_fanin(src, to->get_input_term(row.m_position));
  }
}

// One legacy register on an input (before) or after an output.
CDB_SGATE_DFF* pipeline_input(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm,
                              CDB_SGATE_OTERM* clock, bool inverted, KAVU_UNIQUE_SYNTH_NAMES_UTIL& names) {
  CDB_SGATE_DFF* dff = tesk_new_register(netlist, node, clock, inverted, names);
  tesk_trace_new(node, dff, 3);
  if (iterm) tesk_insert_before(iterm, dff);
  return dff;
}

CDB_SGATE_DFF* pipeline_output(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm,
                               CDB_SGATE_OTERM* clock, bool inverted, KAVU_UNIQUE_SYNTH_NAMES_UTIL& names) {
  CDB_SGATE_DFF* dff = tesk_new_register(netlist, node, clock, inverted, names);
  tesk_trace_new(node, dff, 3);
  tesk_insert_after(oterm, dff);
  tesk_name_output(dff->get_single_oterm(), oterm, names);
  return dff;
}

bool in_list(unsigned p, std::initializer_list<unsigned> list) {
  for (unsigned v : list)
    if (v == p) return true;
  return false;
}

// Which port-B terminals follow the requested clock.
struct RAM_CLOCKING {
  bool m_b_in_35 = false;
  bool m_b_in_36 = false;
  bool m_b_out_35 = false;
  bool m_b_out_36 = false;
};

RAM_CLOCKING ram_clocking(CDB_SGATE_NODE* node) {
  RAM_CLOCKING c;
  CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = node->cast_to_wysiwyg_ram_block();
  if (!ram) {  // synchronous RAM: port B on the second clock
    c.m_b_in_36 = true;
    c.m_b_out_36 = true;
    return c;
  }
  const bool data_in_clock = ram->ram_mode_is(CDB_RAM_DATA_IN_CLOCK, CDB_RAM_PORT_B);
  const bool inputs = ram->ram_mode_is(CDB_RAM_PORT_B_INPUTS_CLOCKED, CDB_RAM_PORT_B);
  const bool outputs = ram->ram_mode_is(CDB_RAM_PORT_B_OUTPUTS_CLOCKED, CDB_RAM_PORT_B);
  const bool out_clock = ram->ram_mode_is(CDB_RAM_DATA_OUT_CLOCK, CDB_RAM_PORT_B);
  c.m_b_in_35 = !data_in_clock && inputs;
  c.m_b_in_36 = data_in_clock && inputs;
  c.m_b_out_35 = !out_clock && outputs;
  c.m_b_out_36 = out_clock && outputs;
  return c;
}

CDB_SGATE_ITERM* ram_clock_input(CDB_SGATE_NODE* node, unsigned clock_port) {
  if (CDB_SGATE_SYNCHRONOUS_RAM* ram = node->cast_to_synchronous_ram())
    return ram->get_iterm_by_type(clock_port == TESK_PORT_CLOCK1 ? TESK_PORT_SYNC_RAM_CLOCK_B : TESK_PORT_CLOCK0, 0);
  return node->cast_to_wysiwyg_ram_block()->get_iterm_by_type(DB_INPUT_PORT_TYPE(clock_port), 0);
}

}  // namespace

bool kavu_add_pipeline_registers_to_dff_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, unsigned count,
                                               bool before, bool copy_secondary) {
  KAVU_CHECK(node != nullptr);
  if (!tesk_is_register(node)) return false;
  CDB_SGATE_ITERM* clk = kavu_get_dff_clock(node);
  CDB_SGATE_OTERM* clock = clk ? clk->get_source() : nullptr;
  const bool inverted = clock != nullptr && clk->is_inverted();
  CDB_SGATE_OTERM* out = kavu_get_dff_oterm(node);
  KAVU_UNIQUE_SYNTH_NAMES_UTIL names;
  for (unsigned k = 0; k < count; ++k) {
    CDB_SGATE_DFF* dff;
    if (before) {
      dff = pipeline_input(netlist, node, connected_data(node), clock, inverted, names);
      if (out) tesk_name_output(dff->get_single_oterm(), out, names);
    } else {
      KAVU_CHECK(out != nullptr);
      dff = pipeline_output(netlist, node, out, clock, inverted, names);
    }
    if (copy_secondary) copy_secondaries(node, dff);
    kavu_tesk_mark_new_dff(dff);
  }
  return true;
}

bool kavu_add_pipeline_registers_to_ram_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, unsigned count,
                                               bool before, DB_INPUT_PORT_TYPE clock_port) {
  KAVU_CHECK(node != nullptr);
  const int kind = node->get_sgate_type();
  if (kind != CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM && kind != CDB_SGATE_SYNCHRONOUS_RAM_ENUM) return false;
  if (clock_port != TESK_PORT_CLOCK0 && clock_port != TESK_PORT_CLOCK1) return false;
  CDB_SGATE_ITERM* clk = ram_clock_input(node, clock_port);
  CDB_SGATE_OTERM* clock = clk ? clk->get_source() : nullptr;
  if (!clock) return true;
  const bool on_35 = clock_port == TESK_PORT_CLOCK0;
  const RAM_CLOCKING c = ram_clocking(node);
  const bool b_in = on_35 ? c.m_b_in_35 : c.m_b_in_36;
  const bool b_out = on_35 ? c.m_b_out_35 : c.m_b_out_36;
  KAVU_UNIQUE_SYNTH_NAMES_UTIL names;
  if (before) {
    std::vector<CDB_SGATE_ITERM*> chosen;
    for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* t = node->get_input_term(i);
      if (!t || !t->is_connected()) continue;
      unsigned p = t->get_port_type();
      if ((on_35 && in_list(p, {20, 37, 38, 83, 90, 91, 109})) || (b_in && in_list(p, {95, 102, 103, 104, 105, 110})))
        chosen.push_back(t);
    }
    for (CDB_SGATE_ITERM* t : chosen) {
      kavu_debug_at_level(3, "Terminal %u", t->get_port_index());
      for (unsigned k = 0; k < count; ++k)
        kavu_tesk_mark_new_dff(pipeline_input(netlist, node, t, clock, false, names));
    }
    return true;
  }
  std::vector<CDB_SGATE_OTERM*> chosen;
  for (unsigned i = 0; i < node->get_output_count(); ++i) {
    CDB_SGATE_OTERM* o = node->get_output_term(i);
    if (!o || !o->has_fanout()) continue;
    unsigned p = o->get_port_type();
    if ((on_35 && (p == 3 || p == 41)) || (b_out && p == 42)) chosen.push_back(o);
  }
  for (CDB_SGATE_OTERM* o : chosen) {
    kavu_debug_at_level(3, "Terminal %u", o->get_port_index());
    for (unsigned k = 0; k < count; ++k)
      kavu_tesk_mark_new_dff(pipeline_output(netlist, node, o, clock, false, names));
  }
  return true;
}

bool kavu_add_pipeline_registers_to_dsp_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, unsigned count,
                                               bool before) {
  KAVU_CHECK(node != nullptr);
  CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  if (!op || (op->get_type() != CDB_OPER_MULTIPLY && op->get_type() != CDB_OPER_ADDITION)) return false;
  std::map<std::string, CDB_SGATE_NODE*> regs;
  if (before) {
    if (!tesk_dsp_registers_before(node, regs, true)) return false;
  } else {
    tesk_dsp_registers_after(node, regs);
  }
  for (const auto& [name, ff] : regs) {
    KAVU_CHECK(kavu_is_a_dff(ff));
    const bool ret = kavu_add_pipeline_registers_to_dff_legacy(netlist, ff, count, before, true);
    KAVU_CHECK(ret);
  }
  return true;
}

namespace {
ZTL_REGEXP compile_lutram_name() { return ZTL_REGEXP("lutram\\w*$", true); }
// Compiled at its first use with no caller waiting for another (see
// KAVU_READ_ONCE): a process that forks while another thread compiles it
// leaves its child none, never half.
constinit KAVU_READ_ONCE<ZTL_REGEXP> lutram_name{"the LUT-RAM name rule", compile_lutram_name};
}  // namespace

bool kavu_add_pipeline_registers_to_lutram_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, unsigned count,
                                                  bool before) {
  KAVU_CHECK(node != nullptr);
  CDB_SGATE_WYSIWYG* atom = node->cast_to_wysiwyg();
  if (tesk_kind(node) != TESK_GENERIC_ATOM_KIND || !atom) return false;
  ZTL_REGEXP& re = lutram_name();
  KAVU_CHECK(re.is_pattern_valid());
  if (!re.search(tesk_node_name(node))) return false;
  CDB_SGATE_ITERM* old_clock = atom->get_iterm_by_type(TESK_PORT_CLOCK0, 0);
  if (old_clock && !old_clock->is_connected()) old_clock = nullptr;
  std::vector<CDB_SGATE_ITERM*> lutram_inputs;
  std::vector<CDB_SGATE_OTERM*> lutram_outputs;
  for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
    CDB_SGATE_ITERM* t = node->get_input_term(i);
    if (t && t->is_connected() && in_list(t->get_port_type(), {83, 95, 109, 110})) lutram_inputs.push_back(t);
  }
  for (unsigned i = 0; i < node->get_output_count(); ++i) {
    CDB_SGATE_OTERM* o = node->get_output_term(i);
    if (o && o->has_fanout() && in_list(o->get_port_type(), {41, 42})) lutram_outputs.push_back(o);
  }
  KAVU_CHECK(old_clock);
  KAVU_CHECK(lutram_inputs.size() > 0);
  KAVU_CHECK(lutram_outputs.size() > 0);
  KAVU_UNIQUE_SYNTH_NAMES_UTIL names;
  CDB_SGATE_OTERM* clock = old_clock->get_source();
  if (before) {
    for (CDB_SGATE_ITERM* t : lutram_inputs)
      for (unsigned k = 0; k < count; ++k)
        kavu_tesk_mark_new_dff(pipeline_input(netlist, node, t, clock, false, names));
  } else {
    for (CDB_SGATE_OTERM* o : lutram_outputs)
      for (unsigned k = 0; k < count; ++k)
        kavu_tesk_mark_new_dff(pipeline_output(netlist, node, o, clock, false, names));
  }
  return true;
}
