// kavu_utility_tesk_aclr.cpp — taking asynchronous controls off registers
// and RAMs so that the retimer may move them.
//
// Register model (platform simulator and database): asynchronous clear
//   forces 0 and dominates preset (forces 1), which dominates asynchronous
//   load (Q = ADATA). At the clock, with the sclr-over-enable mark the
//   synchronous clear acts whatever the enable; otherwise, when the enable is
//   1, synchronous clear gives 0, else synchronous load gives ADATA, else D.
// Removal acts only on controls driven by a signal (an unconnected or tied
//   control is left alone). Without make-synchronous each such control is
//   simply disconnected. With it, the register's controls move to
//   synchronous counterparts that reproduce them from the first clock edge
//   on — all of them, or none when that is impossible:
//     clear  -> synchronous clear (the sclr-over-enable mark is set when an
//               enable is in use, so the clear still wins over the enable);
//     preset -> synchronous load of VCC (ADATA tied to VCC); needs the
//               asynchronous load and the enable unused;
//     asynchronous load -> synchronous load of ADATA; needs the enable
//               unused.
//   Either needs the register's synchronous clear and load unused, so an
//   existing synchronous signal is never overwritten and the priorities
//   (clear over preset over load) stay. A preset never becomes a clear.
//   A register whose controls cannot all move still loses them (the retimer
//   needs them gone, and the count is of controls taken off), without a
//   synchronous form: it is traced and counted apart for the caller.
// RAMs: their clear inputs (port types 6, 39, 40) are disconnected, and a
//   RAM block's clear-related mode flags cleared on both ports.
// Cost: O(1) per node; the netlist forms walk a copy of the node list.
#include <vector>

#include "cut/cut_dev_svpi.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_utility_tesk.h"
#include "kavu_utility_tesk_int.h"
#include "kavu_wiring_helper.h"

using namespace kavu_tesk_detail;

namespace {

const unsigned kRamClearPorts[] = {6, 39, 40};
const unsigned kRamClearFlags[] = {5, 6, 7, 19, 20, 21, 24, 26, 28, 46, 48, 51, 52, 54, 62, 64, 65};

bool is_preserve(HDB_INSTANCE_NAME* name, int variable) {
  const auto* option = HDB_DERIVED_OPTION<ACF_KIND_ENUM, 0>::get_single_option(name, variable, true);
  return option != nullptr && option->get_value() == ACF_ENUM_PRESERVE;
}

// True when the node's assignments keep its clears (with the trace).
bool clears_preserved(CDB_SGATE_NODE* node, bool emulate) {
  HDB_INSTANCE_NAME* name = node->get_instance_name();
  if (!name) return false;
  if (emulate && is_preserve(name, ACF_SARVEL_RETIMER_FAST_FORWARD_EMULATE_ASYNCH_CLEAR)) {
    kavu_debug_at_level(3, "Skipped removing ACLR due to SARVEL_RETIMER_FAST_FORWARD_EMULATE_ASYNCH_CLEAR PRESERVE: %s",
                        name->get_short_hpath(0).c_str());
    return true;
  }
  if (is_preserve(name, ACF_SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR)) {
    kavu_debug_at_level(3, "Skipped removing ACLR due to SARVEL_RETIMER_FAST_FORWARD_ASYNCH_CLEAR PRESERVE: %s",
                        name->get_short_hpath(0).c_str());
    return true;
  }
  return false;
}

bool driven(const CDB_SGATE_ITERM* t) { return t && t->is_connected() && t->get_source(); }
// A control that never acts: missing, unconnected or tied inactive (GND).
bool unused(const CDB_SGATE_ITERM* t) { return !t || !t->is_connected() || t->is_gnd(); }

// Takes every asynchronous control that has a source off the register;
// returns how many.
unsigned disconnect_controls(CDB_SGATE_DFF* dff) {
  unsigned count = 0;
  for (unsigned position : {CDB_DFF_PRESET, CDB_DFF_ACLR, CDB_DFF_ALOAD}) {
    CDB_SGATE_ITERM* t = dff->get_input_term(position);
    if (!driven(t)) continue;
    t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    ++count;
  }
  return count;
}

// Why the register's asynchronous controls cannot all become synchronous,
// or null when they can. All or nothing: a control left asynchronous would
// act, during reset, over one made synchronous that dominated it, and the
// register would leave reset with another value.
const char* why_not_synchronous(CDB_SGATE_DFF* dff) {
  CDB_SGATE_ITERM* ena = dff->get_input_term(CDB_DFF_ENA);
  CDB_SGATE_ITERM* sclr = dff->get_input_term(CDB_DFF_SCLR);
  CDB_SGATE_ITERM* sload = dff->get_input_term(CDB_DFF_SLOAD);
  CDB_SGATE_ITERM* adata = dff->get_input_term(CDB_DFF_ADATA);
  CDB_SGATE_ITERM* aload = dff->get_input_term(CDB_DFF_ALOAD);
  const bool enable_in_use = ena && ena->is_connected() && !ena->is_vcc();
  const bool has_clear = driven(dff->get_input_term(CDB_DFF_ACLR));
  const bool has_preset = driven(dff->get_input_term(CDB_DFF_PRESET)), has_aload = driven(aload);
  if (!unused(sclr)) return "its synchronous clear is in use";
  if (!unused(sload)) return "its synchronous load is in use";
  if ((has_clear && !sclr) || ((has_preset || has_aload) && !sload) || (has_preset && !adata))
    return "it has no synchronous counterpart";
  if (has_preset && (has_aload || !unused(aload))) return "its preset and asynchronous load need the same load";
  if ((has_preset || has_aload) && enable_in_use) return "its clock enable would gate the load";
  return nullptr;
}

// Moves the asynchronous controls of a plain register; returns how many it
// took off. Adds 1 to *not_synchronous for a register asked to go
// synchronous whose controls could only be taken off.
unsigned register_controls(CDB_SGATE_DFF* dff, bool make_synchronous, unsigned* not_synchronous) {
  if (!make_synchronous) return disconnect_controls(dff);
  CDB_SGATE_ITERM* aclr = dff->get_input_term(CDB_DFF_ACLR);
  CDB_SGATE_ITERM* preset = dff->get_input_term(CDB_DFF_PRESET);
  CDB_SGATE_ITERM* aload = dff->get_input_term(CDB_DFF_ALOAD);
  const bool has_clear = driven(aclr), has_preset = driven(preset), has_aload = driven(aload);
  if (!has_clear && !has_preset && !has_aload) return 0;
  if (const char* why = why_not_synchronous(dff)) {
    kavu_debug("Removed the asynchronous controls of %s %s %s without a synchronous form: %s",
               dff->get_string_type_name(), dff->get_debug_name().c_str(), dff->get_string_hpath().c_str(), why);
    if (not_synchronous) ++*not_synchronous;
    return disconnect_controls(dff);
  }
  CDB_SGATE_ITERM* ena = dff->get_input_term(CDB_DFF_ENA);
  CDB_SGATE_ITERM* sclr = dff->get_input_term(CDB_DFF_SCLR);
  CDB_SGATE_ITERM* sload = dff->get_input_term(CDB_DFF_SLOAD);
  CDB_SGATE_ITERM* adata = dff->get_input_term(CDB_DFF_ADATA);
  const bool enable_in_use = ena && ena->is_connected() && !ena->is_vcc();
  unsigned count = 0;
  if (has_clear) {
    kavu_copy_fanin(aclr, sclr);
    // The clear acted whatever the enable; so must its synchronous form.
    if (enable_in_use) dff->set_sclr_over_ena_priority(true);
    aclr->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    ++count;
  }
  if (has_preset) {
    kavu_copy_fanin(preset, sload);
    adata->set_vcc();
    preset->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    ++count;
  }
  if (has_aload) {
    kavu_copy_fanin(aload, sload);
    aload->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_RESET);
    ++count;
  }
  return count;
}

unsigned ram_controls(CDB_SGATE_NODE* node) {
  unsigned count = 0;
  CDB_SGATE_SYNCHRONOUS_RAM* sync_ram = node->cast_to_synchronous_ram();
  CDB_SGATE_WYSIWYG_RAM_BLOCK* block = node->cast_to_wysiwyg_ram_block();
  for (unsigned port : kRamClearPorts) {
    CDB_SGATE_ITERM* t = sync_ram ? sync_ram->get_iterm_by_type(DB_INPUT_PORT_TYPE(port), 0)
                                  : block->get_iterm_by_type(DB_INPUT_PORT_TYPE(port), 0);
    if (!driven(t)) continue;
    t->disconnect_from_source(CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
    ++count;
  }
  if (block) {
    for (unsigned flag : kRamClearFlags) {
      block->clear_ram_mode(flag, CDB_RAM_PORT_A);
      block->clear_ram_mode(flag, CDB_RAM_PORT_B);
    }
  }
  return count;
}

bool handled_kind(CDB_SGATE_NODE* node) {
  const int kind = node->get_sgate_type();
  return kind == CDB_SGATE_DFF_ENUM || kind == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM ||
         kind == CDB_SGATE_SYNCHRONOUS_RAM_ENUM;
}

}  // namespace

unsigned kavu_disconnect_aclrs_on_dffs_and_rams(CDB_SGATE_NODE* node, bool make_synchronous, bool emulate,
                                                unsigned* not_made_synchronous) {
  KAVU_CHECK(node != nullptr);
  if (!handled_kind(node) || clears_preserved(node, emulate)) return 0;
  if (CDB_SGATE_DFF* dff = node->cast_to_dff()) return register_controls(dff, make_synchronous, not_made_synchronous);
  return ram_controls(node);
}

unsigned kavu_disconnect_aclrs_on_everything(CDB_SGATE_NETLIST* netlist, bool make_synchronous,
                                             unsigned* not_made_synchronous) {
  KAVU_CHECK(netlist != nullptr);
  const bool emulate = CUT_DEV_SVPI_UTIL::is_sarvel_retimer_fast_forward_emulate_enabled();
  std::vector<CDB_SGATE_NODE*> nodes;
  nodes.reserve(netlist->size());
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it) nodes.push_back(*it);
  unsigned total = 0, not_synchronous = 0;
  for (CDB_SGATE_NODE* node : nodes)
    if (handled_kind(node))
      total += kavu_disconnect_aclrs_on_dffs_and_rams(node, make_synchronous, emulate, &not_synchronous);
  if (not_synchronous > 0)
    kavu_debug("%u registers lost their asynchronous controls without a synchronous form", not_synchronous);
  if (not_made_synchronous) *not_made_synchronous = not_synchronous;
  return total;
}

bool kavu_disconnect_aclrs_on_dffs_and_rams_legacy(CDB_SGATE_NETLIST*, CDB_SGATE_NODE* node, bool make_synchronous,
                                                   bool emulate) {
  kavu_disconnect_aclrs_on_dffs_and_rams(node, make_synchronous, emulate);
  return true;
}

bool kavu_disconnect_aclrs_on_everything_legacy(CDB_SGATE_NETLIST* netlist, bool make_synchronous) {
  kavu_disconnect_aclrs_on_everything(netlist, make_synchronous);
  return true;
}
