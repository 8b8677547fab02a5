// kavu_utility_tesk_pipeline.cpp — pipeline registers on clock-domain
// crossings: before or after a node, on a state machine's state nodes and
// around the registers of a DSP operator.
//
// A new register is a plain register with all nine inputs: data from what
//   the served terminal read, clock from the terminal's driving clock (with
//   its inversion), every secondary input tied off (enable to VCC, the rest
//   to GND), so it only delays. A chain of `count` registers before an input
//   is built by inserting each new register right in front of the node (the
//   first made ends farthest from it); after an output each new register
//   takes the whole fan-out (the first made ends farthest from the node).
// Terminals whose clock is the dummy clock (an I/O node's) get no register:
//   the netlist holds no clock to drive one with.
// Cost: per terminal one crossing search plus O(count); the DSP walks are
//   linear in the gates they pass.
#include <algorithm>
#include <deque>
#include <map>
#include <set>

#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_utility_tesk.h"
#include "kavu_utility_tesk_int.h"
#include "kavu_wiring_helper.h"

using namespace kavu_tesk_detail;

const KAVU_TESK_TIE_OFF kavu_tesk_secondary_tie_offs[7] = {
    {CDB_DFF_ACLR, false, &kavu_get_dff_clear},   {CDB_DFF_PRESET, false, &kavu_get_dff_preset},
    {CDB_DFF_ENA, true, &kavu_get_dff_enable},    {CDB_DFF_SLOAD, false, &kavu_get_dff_sload},
    {CDB_DFF_ALOAD, false, &kavu_get_dff_aload},  {CDB_DFF_SCLR, false, &kavu_get_dff_sclear},
    {CDB_DFF_ADATA, false, &kavu_get_dff_adata},
};

void kavu_tesk_mark_new_dff(CDB_SGATE_DFF* dff) {
  KAVU_CHECK(dff != nullptr);
  if (tesk_restrict_regs()) {
    // The not-gate-push permission has no "set" marker of its own; it is
    // taken as set together with the allow-anything permission.
    if (!dff->allow_anything_is_set()) {
      dff->set_not_gate_push_allowed(false);
      dff->set_allow_anything(false);
    }
    if (!dff->merge_allowed_is_set()) dff->set_merge_allowed(false);
    if (!dff->prune_allowed_is_set()) dff->set_prune_allowed(false);
    dff->set_preserve(true);
  } else {
    dff->set_not_gate_push_allowed(true);
    dff->set_allow_anything(false);
    dff->set_merge_allowed(true);
    dff->set_prune_allowed(true);
    dff->set_preserve(false);
  }
}

// ---------------------------------------------------------------- shared
namespace kavu_tesk_detail {

CDB_SGATE_DFF* tesk_new_register(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, CDB_SGATE_OTERM* clock,
                                 bool clock_inverted, KAVU_UNIQUE_SYNTH_NAMES_UTIL& names) {
  KAVU_CHECK(netlist != nullptr);
  // Checked before anything is made, so a refusal leaves the netlist as it was.
  if (!node->get_instance_name()) KAVU_INTERNAL_ERROR("new_dff->get_instance_name()");
  auto* new_dff = new CDB_SGATE_DFF(names.create_unique_synthesized_name(node->get_instance_name(), "tesk"), true);
  netlist->add_node(new_dff, true);
  new_dff->create_all_inputs();
  CDB_SGATE_ITERM* clk = new_dff->get_input_term(CDB_DFF_CLK);
  if (clock) {
    clock->insert_fanout(clk);
    if (clock_inverted) clk->set_invert();
  }
  for (const KAVU_TESK_TIE_OFF& row : kavu_tesk_secondary_tie_offs) {
    CDB_SGATE_ITERM* t = new_dff->get_input_term(row.m_position);
    if (row.m_vcc) {
      t->set_vcc();
    } else {
      t->set_gnd();
    }
  }
  return new_dff;
}

void tesk_name_output(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM* from_oterm, KAVU_UNIQUE_SYNTH_NAMES_UTIL& names) {
  KAVU_CHECK(oterm != 0);
  KAVU_CHECK(from_oterm != 0);
  HDB_INSTANCE_NAME* base = from_oterm->get_instance_name();
  if (!base) base = from_oterm->get_my_node()->get_instance_name();
  // An unnamed source leaves the new output unnamed, as for every gate made
  // from an unnamed gate.
  if (base) oterm->set_instance_name(names.create_unique_synthesized_name(base, "tesk"));
}

void tesk_insert_before(CDB_SGATE_ITERM* iterm, CDB_SGATE_DFF* dff) {
  kavu_move_fanin(iterm, dff->get_input_term(CDB_DFF_DATA));
  // The inversion moved with the connection; the terminal now reads the
  // register as it is.
  iterm->clear_invert();
  dff->get_single_oterm()->insert_fanout(iterm);
}

void tesk_insert_after(CDB_SGATE_OTERM* oterm, CDB_SGATE_DFF* dff) {
  CDB_SGATE_OTERM* out = dff->get_single_oterm();
  out->adopt_fanouts(oterm, false);
  oterm->insert_fanout(dff->get_input_term(CDB_DFF_DATA));
}

void tesk_trace_new(CDB_SGATE_NODE* old_node, CDB_SGATE_NODE* new_node, int level) {
  kavu_debug_at_level(level, "Old node: %s", tesk_node_name(old_node).c_str());
  kavu_debug_at_level(level, "New node: %s", tesk_node_name(new_node).c_str());
}

}  // namespace kavu_tesk_detail

// ---------------------------------------------------------------- before and after
namespace {

// The clock a new register on the terminal gets; false when the terminal
// gets none (no clock, or the dummy clock of an I/O node).
bool usable_clock(const KAVU_TESK_CLOCK& clock) {
  if (!clock.m_clock) return false;
  if (clock.m_clock == DUMMY_CLOCK_TERM_FACTORY::get_oterm()) {
    kavu_debug_at_level(4, "TESK: no pipeline on a terminal of the dummy clock");
    return false;
  }
  return true;
}

}  // namespace

std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_before_node(CDB_SGATE_NETLIST* netlist,
                                                                    CDB_SGATE_NODE* node, unsigned count) {
  KAVU_CHECK(node != nullptr);
  std::vector<CDB_SGATE_DFF*> result;
  kavu_debug("Adding pipeline registers before %s", tesk_node_name(node).c_str());
  KAVU_UNIQUE_SYNTH_NAMES_UTIL names;
  unsigned nonstandard = 0;
  for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
    CDB_SGATE_ITERM* iterm = node->get_input_term(i);
    if (!iterm || !iterm->is_connected() || !iterm->get_source()) continue;
    kavu_debug_at_level(4, "TESK: Evaluating input port of type DB_INPUT_PORT_TYPE[%u]", unsigned(iterm->get_port_type()));
    if (!kavu_tesk_iterm_crosses_clock_domain(iterm)) continue;
    KAVU_TESK_CLOCK clock = kavu_tesk_get_driving_clock(iterm);
    if (!usable_clock(clock) || count == 0) continue;
    kavu_debug_at_level(4, "TESK: Pipelining %s on port %u with %u", tesk_node_name(node).c_str(),
                        unsigned(iterm->get_port_type()), count);
    for (unsigned k = 0; k < count; ++k) {
      CDB_SGATE_OTERM* previous = iterm->get_source();
      CDB_SGATE_DFF* dff = tesk_new_register(netlist, node, clock.m_clock, clock.m_inverted, names);
      tesk_trace_new(node, dff, 4);
      tesk_insert_before(iterm, dff);
      tesk_name_output(dff->get_single_oterm(), previous, names);
      kavu_tesk_mark_new_dff(dff);
      result.push_back(dff);
      if (iterm->get_port_type() != 20) ++nonstandard;
    }
    kavu_debug_at_level(4, "Added %u registers (%zu cumulative) here.", count, result.size());
  }
  if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM) {
    kavu_debug_at_level(4, "This is a DFF.");
    if (nonstandard) kavu_debug_at_level(4, "Added %u pipelines to nonstandard iterms.", nonstandard);
  }
  return result;
}

std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_after_node(CDB_SGATE_NETLIST* netlist,
                                                                   CDB_SGATE_NODE* node, unsigned count) {
  KAVU_CHECK(node != nullptr);
  std::vector<CDB_SGATE_DFF*> result;
  kavu_debug("Adding pipeline registers after %s", tesk_node_name(node).c_str());
  KAVU_UNIQUE_SYNTH_NAMES_UTIL names;
  for (unsigned i = 0; i < node->get_output_count(); ++i) {
    CDB_SGATE_OTERM* oterm = node->get_output_term(i);
    if (!oterm || !oterm->has_fanout()) continue;
    kavu_debug_at_level(4, "TESK: Evaluating output port of type DB_OUTPUT_PORT_TYPE[%u]", unsigned(oterm->get_port_type()));
    if (!kavu_tesk_oterm_crosses_clock_domain(oterm)) continue;
    KAVU_TESK_CLOCK clock = kavu_tesk_get_driving_clock(oterm);
    if (!usable_clock(clock) || count == 0) continue;
    kavu_debug_at_level(4, "TESK: Pipelining %s on port %u with %u", tesk_node_name(node).c_str(),
                        unsigned(oterm->get_port_type()), count);
    for (unsigned k = 0; k < count; ++k) {
      CDB_SGATE_DFF* dff = tesk_new_register(netlist, node, clock.m_clock, clock.m_inverted, names);
      tesk_trace_new(node, dff, 4);
      tesk_insert_after(oterm, dff);
      tesk_name_output(dff->get_single_oterm(), oterm, names);
      kavu_tesk_mark_new_dff(dff);
      result.push_back(dff);
    }
    kavu_debug_at_level(4, "Added %u registers (%zu cumulative) here.", count, result.size());
  }
  return result;
}

std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_to_state(CDB_SGATE_NETLIST* netlist,
                                                                 CDB_SGATE_NODE* node, unsigned count,
                                                                 bool before) {
  kavu_debug("TESK: Pipelining STATE");
  KAVU_CHECK(node != nullptr);
  const int sgate_type = node->get_sgate_type();
  KAVU_CHECK(sgate_type == CDB_SGATE_STATE_ENUM);
  CDB_STATE_MACHINE* machine = node->cast_to_state()->get_state_machine();
  KAVU_CHECK(machine != nullptr);
  std::vector<CDB_SGATE_DFF*> result;
  // A copy: the machine's list is not changed here, but the walk must not
  // depend on that.
  std::vector<CDB_SGATE_STATE*> states = machine->get_states();
  for (CDB_SGATE_STATE* s : states) {
    std::vector<CDB_SGATE_DFF*> made = before ? kavu_add_pipeline_registers_before_node(netlist, s, count)
                                              : kavu_add_pipeline_registers_after_node(netlist, s, count);
    result.insert(result.end(), made.begin(), made.end());
  }
  return result;
}

// ---------------------------------------------------------------- DSP
namespace {

unsigned g_dsp_unknown_gates = 0;  // for the life of the library

void check_dsp(CDB_SGATE_NODE* dsp) {
  KAVU_CHECK(dsp);
  const int sgate_type = dsp->get_sgate_type();
  KAVU_CHECK(sgate_type == CDB_SGATE_OPERATOR_ENUM);
  const int oper_type = dsp->cast_to_operator()->get_type();
  KAVU_CHECK(oper_type == CDB_OPER_MULTIPLY || oper_type == CDB_OPER_ADDITION);
}

}  // namespace

namespace kavu_tesk_detail {

// The registers that feed ports 1 and 2 of the operator through name
// keepers, by name (format 1). False when another gate lies on such a path;
// `legacy` applies the legacy form's rules to what lies there.
bool tesk_dsp_registers_before(CDB_SGATE_NODE* dsp, std::map<std::string, CDB_SGATE_NODE*>& regs, bool legacy) {
  CDB_SGATE_OPERATOR* op = dsp->cast_to_operator();
  for (CDB_OPER_PORT_TYPE p : {CDB_OPER_PORT_A, CDB_OPER_PORT_B}) {
    CDB_SGATE_OPER_PORT_ENTRY* port_group = op->get_port(p);
    KAVU_CHECK(port_group);
    for (unsigned bit = 0; bit < port_group->get_width(); ++bit) {
      CDB_SGATE_ITERM* t = port_group->get_iterm(bit);
      while (t && t->is_connected() && t->get_source()) {
        CDB_SGATE_NODE* node = t->get_source()->get_my_node();
        KAVU_CHECK(node);
        if (tesk_is_register(node)) {
          regs[tesk_node_name(node, 1)] = node;
          break;
        }
        if (legacy) {
          kavu_debug_at_level(3, "TESK: Following DSP back through %d", int(node->get_sgate_type()));
          if (node->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM && tesk_ignore_internal_error()) return false;
          KAVU_CHECK(node->get_sgate_type() == CDB_SGATE_COMB_ENUM);
          KAVU_CHECK(node->cast_to_comb()->get_comb_type() == CDB_COMB_NAME_KEEPER);
        } else if (node->get_sgate_type() != CDB_SGATE_COMB_ENUM ||
                   node->cast_to_comb()->get_comb_type() != CDB_COMB_NAME_KEEPER) {
          kavu_debug_at_level(3, "Encountered unknown sgate type in dsp tracing. Skipping... (%u)",
                              ++g_dsp_unknown_gates);
          return false;
        }
        KAVU_CHECK(node->get_number_of_fanin() == 1);
        t = node->get_single_iterm();
      }
    }
  }
  return true;
}

// The registers the operator's result reaches through comb gates, operators
// and muxes (breadth-first, nodes visited once by name). Any other gate — a
// LUT, a pin, a RAM — ends its branch.
void tesk_dsp_registers_after(CDB_SGATE_NODE* dsp, std::map<std::string, CDB_SGATE_NODE*>& regs) {
  std::deque<CDB_SGATE_NODE*> queue;
  std::set<std::string> visited;
  visited.insert(tesk_node_name(dsp, 1));
  queue.push_back(dsp);
  auto enqueue_fanout = [&](CDB_SGATE_OTERM* o) {
    if (!o) return;
    for (CDB_SGATE_ITERM* t : o->fanouts()) {
      CDB_SGATE_NODE* next_node = t->get_my_node();
      KAVU_CHECK(next_node);
      if (visited.insert(tesk_node_name(next_node, 1)).second) queue.push_back(next_node);
    }
  };
  while (!queue.empty()) {
    CDB_SGATE_NODE* node = queue.front();
    queue.pop_front();
    const int kind = node->get_sgate_type();
    if (kind == CDB_SGATE_OPERATOR_ENUM) {
      CDB_SGATE_OPER_PORT_ENTRY* port_group = node->cast_to_operator()->get_port(CDB_OPER_PORT_O);
      KAVU_CHECK(port_group);
      for (unsigned bit = 0; bit < port_group->get_width(); ++bit) enqueue_fanout(port_group->get_oterm(bit));
    } else if (kind == CDB_SGATE_COMB_ENUM) {
      KAVU_CHECK(node->get_ordered_output_count() == 1);
      enqueue_fanout(node->get_output_term(0));
    } else if (kind == CDB_SGATE_MUX_ENUM) {
      enqueue_fanout(node->get_output_term(0));
    } else if (tesk_is_register(node)) {
      regs[tesk_node_name(node, 1)] = node;
    } else {
      kavu_debug_at_level(3, "TESK: DSP walk ends at %s", tesk_node_name(node).c_str());
    }
  }
}

}  // namespace kavu_tesk_detail

std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_to_dsp(CDB_SGATE_NETLIST* netlist,
                                                               CDB_SGATE_NODE* node, unsigned count,
                                                               bool before) {
  kavu_debug("TESK: Pipelining DSP");
  check_dsp(node);
  std::map<std::string, CDB_SGATE_NODE*> regs;
  std::vector<CDB_SGATE_DFF*> result;
  if (before) {
    if (!tesk_dsp_registers_before(node, regs, false)) return result;
  } else {
    tesk_dsp_registers_after(node, regs);
  }
  for (const auto& [name, ff] : regs) {
    KAVU_CHECK(kavu_is_a_dff(ff));
    std::vector<CDB_SGATE_DFF*> made = before ? kavu_add_pipeline_registers_before_node(netlist, ff, count)
                                              : kavu_add_pipeline_registers_after_node(netlist, ff, count);
    result.insert(result.end(), made.begin(), made.end());
  }
  return result;
}
