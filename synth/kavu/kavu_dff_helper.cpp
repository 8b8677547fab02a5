// kavu_dff_helper.cpp — register accessors, power-up settings, register
// comparison and merge tests.
//
// Model: a register is a plain register gate (gate type 2; inputs at the
//   fixed positions of CDB_DFF_PORT, output its first output terminal) or a
//   flip-flop atom (terminals by port type, index 0). Each signal is one row
//   of the table below, so the plain and atom branches can never disagree
//   about which terminal a signal is. A plain register with a short input
//   list answers null for the missing positions (bounds-checked lookup).
// Power-up: the database's register flags keep the three bits at the
//   kind's positions; the changed mark is raised only by a real change.
//   Readers and writers refuse a gate that is no register, so a writer can
//   never scribble over another kind's flag byte.
// Comparison: sources are compared with kavu_same_source and
//   kavu_opposite_source; a terminal is "active" when connected and not
//   tied to GND. The facade is looked up only where an answer needs it.
// State: one process-wide flag, true at load, marks that the merge-across-
//   hierarchies tag is still to be recorded; it is written only outside
//   parallel synthesis.
// Cost: accessors O(1) with no allocation; the single-output test is linear
//   in the register's fan-out.
#include "kavu_dff_helper.h"

#include <cstdint>

#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_helper_predicates.h"
#include "kavu_ssc.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "gen/gen.h"
#include "hdb/hdb_section.h"

namespace {

// One register signal: its plain-register position and its atom port type.
struct SIGNAL_ROW {
  int m_position;  // -1: plain registers have no such input
  DB_INPUT_PORT_TYPE m_port_type;
};

constexpr SIGNAL_ROW DATA{CDB_DFF_DATA, DB_PORT_DATAIN};
constexpr SIGNAL_ROW CLOCK{CDB_DFF_CLK, DB_PORT_CLK};
constexpr SIGNAL_ROW CLEAR{CDB_DFF_ACLR, DB_PORT_ACLR};
constexpr SIGNAL_ROW PRESET{CDB_DFF_PRESET, DB_PORT_PRESET};
constexpr SIGNAL_ROW ENABLE{CDB_DFF_ENA, DB_PORT_ENA};
constexpr SIGNAL_ROW ALOAD{CDB_DFF_ALOAD, DB_PORT_ALOAD};
constexpr SIGNAL_ROW SCLEAR{CDB_DFF_SCLR, DB_PORT_SCLR};
constexpr SIGNAL_ROW SLOAD{CDB_DFF_SLOAD, DB_PORT_SLOAD};
constexpr SIGNAL_ROW SCLEAR2{-1, DB_PORT_SCLR2};

// Device-database family codes this file compares against (the database
// gives them no names).
constexpr int OE_REGISTER_FORBIDDEN_FAMILIES[] = {39, 40, 41, 42};
constexpr int BASE_FAMILIES[] = {15, 25, 45, 47};  // none has an asynchronous load
// Under the automatic merge setting, area-optimised hierarchies of these
// families keep their registers apart.
constexpr int NO_AREA_MERGE_FAMILIES[] = {57, 47, 45, 25};
// Usage tag recording whether registers may merge across hierarchies.
constexpr int TAG_REG_MERGE_ACROSS_HIERARCHIES = 67;

template <size_t N>
bool family_is_one_of(int family, const int (&families)[N]) {
  for (int f : families) {
    if (f == family) return true;
  }
  return false;
}

// Families whose IO buffers may not take a register on their output enable
// when the register also drives an output.
bool family_forbids_oe_register(DEV_FAMILY_ENUM family) {
  return family_is_one_of(family, OE_REGISTER_FORBIDDEN_FAMILIES);
}

const CDB_SGATE_WYSIWYG* as_wys_ff(const CDB_SGATE_NODE* node) {
  if (!node->is_wysiwyg()) return nullptr;
  const CDB_SGATE_WYSIWYG* wys = node->cast_to_wysiwyg();
  return wys->is_ff() ? wys : nullptr;
}

bool is_register(const CDB_SGATE_NODE* node) {
  return node && (kavu_is_a_dff(node) || as_wys_ff(node) != nullptr);
}

CDB_SGATE_ITERM* signal_iterm(const CDB_SGATE_NODE* dff, const SIGNAL_ROW& row) {
  if (!dff) return nullptr;
  if (kavu_is_a_dff(dff)) {
    return row.m_position < 0 ? nullptr : dff->get_input_term(unsigned(row.m_position));
  }
  if (const CDB_SGATE_WYSIWYG* wys = as_wys_ff(dff)) return wys->get_iterm_by_type(row.m_port_type, 0);
  return nullptr;
}

// The register flags of a register; any other gate is an internal error
// with the text callers know.
const CDB_REG_FLAGS* require_reg_flags(const CDB_SGATE_NODE* sgate) {
  if (!is_register(sgate)) {
    KAVU_INTERNAL_ERROR("sgate->is_wysiwyg() && (sgate->cast_to_wysiwyg()->is_ff())");
  }
  return sgate->get_reg_flags();
}

CDB_REG_FLAGS* require_reg_flags(CDB_SGATE_NODE* sgate) {
  return const_cast<CDB_REG_FLAGS*>(require_reg_flags(static_cast<const CDB_SGATE_NODE*>(sgate)));
}

bool is_from_user(const CDB_SGATE_NODE* sgate) {
  return sgate->is_wysiwyg() && sgate->cast_to_wysiwyg()->mode_is_set(CDB_WYSIWYG_FROM_USER);
}

bool is_active(const CDB_SGATE_ITERM* iterm) {
  return iterm && cdb_is_connected(iterm) && !iterm->is_gnd();
}

bool same(const CDB_SGATE_NODE* a, const CDB_SGATE_NODE* b, const SIGNAL_ROW& row) {
  return kavu_same_source(signal_iterm(a, row), signal_iterm(b, row));
}

// Unmergeable: no register, merging not allowed, or driving a single output.
bool is_unmergeable(const CDB_SGATE_NODE* sgate) {
  if (!is_register(sgate)) return true;
  return !sgate->get_reg_flags()->merge_allowed() || kavu_dff_drives_a_single_output(sgate);
}

bool has_bool_assignment(const CDB_SGATE_NODE* dff, int variable) {
  const HDB_INSTANCE_NAME* names[2] = {dff->get_instance_name(), nullptr};
  if (const CDB_SGATE_OTERM* out = dff->get_output_term(0)) names[1] = out->get_instance_name();
  for (const HDB_INSTANCE_NAME* name : names) {
    if (!name) continue;
    const auto* option = HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>::get_single_option(name, variable, true);
    if (option && option->get_value()) return true;
  }
  return false;
}

// Marks that the merge-across-hierarchies tag is still to be recorded.
bool s_merge_tag_pending = true;

}  // namespace

// ---------------------------------------------------------------- accessors

CDB_SGATE_ITERM* kavu_get_dff_data(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, DATA); }
CDB_SGATE_ITERM* kavu_get_dff_clock(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, CLOCK); }
CDB_SGATE_ITERM* kavu_get_dff_clear(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, CLEAR); }
CDB_SGATE_ITERM* kavu_get_dff_preset(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, PRESET); }
CDB_SGATE_ITERM* kavu_get_dff_enable(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, ENABLE); }
CDB_SGATE_ITERM* kavu_get_dff_sload(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, SLOAD); }
CDB_SGATE_ITERM* kavu_get_dff_aload(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, ALOAD); }
CDB_SGATE_ITERM* kavu_get_dff_sclear(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, SCLEAR); }
CDB_SGATE_ITERM* kavu_get_dff_sclear2(const CDB_SGATE_NODE* dff) { return signal_iterm(dff, SCLEAR2); }

CDB_SGATE_ITERM* kavu_get_dff_adata(const CDB_SGATE_NODE* dff) {
  if (!dff) return nullptr;
  if (kavu_is_a_dff(dff)) return dff->get_input_term(CDB_DFF_ADATA);
  const CDB_SGATE_WYSIWYG* wys = as_wys_ff(dff);
  if (!wys) return nullptr;
  // Two ports may carry the asynchronous data; the primary one wins when it
  // is connected, and two connected ports must agree.
  CDB_SGATE_ITERM* iterm = wys->get_iterm_by_type(DB_PORT_ASDATA, 0);
  CDB_SGATE_ITERM* other_iterm = wys->get_iterm_by_type(DB_PORT_ADATA_ALT, 0);
  if (!iterm) return other_iterm;
  const bool connected = cdb_is_connected(iterm);
  if (connected && other_iterm && cdb_is_connected(other_iterm) &&
      !kavu_same_source(iterm, other_iterm)) {
    KAVU_INTERNAL_ERROR(
        "!cdb_is_connected( iterm ) || !cdb_is_connected(other_iterm) || kavu_same_source(iterm,other_iterm)");
  }
  return connected ? iterm : other_iterm;
}

CDB_SGATE_OTERM* kavu_get_dff_oterm(const CDB_SGATE_NODE* dff) {
  if (!dff) return nullptr;
  if (kavu_is_a_dff(dff)) return dff->get_output_term(0);
  if (const CDB_SGATE_WYSIWYG* wys = as_wys_ff(dff)) return wys->get_oterm_by_type(DB_PORT_REGOUT, 0);
  return nullptr;
}

void kavu_get_dff_signals(const CDB_SGATE_NODE* dff, KAVU_DFF_SIGNALS* dff_signals) {
  KAVU_CHECK(dff_signals != 0);
  dff_signals->m_data = kavu_get_dff_data(dff);
  dff_signals->m_clk = kavu_get_dff_clock(dff);
  dff_signals->m_aclr = kavu_get_dff_clear(dff);
  dff_signals->m_preset = kavu_get_dff_preset(dff);
  dff_signals->m_ena = kavu_get_dff_enable(dff);
  dff_signals->m_sclr = kavu_get_dff_sclear(dff);
  dff_signals->m_sload = kavu_get_dff_sload(dff);
  dff_signals->m_aload = kavu_get_dff_aload(dff);
  dff_signals->m_adata = kavu_get_dff_adata(dff);
  dff_signals->m_oterm = kavu_get_dff_oterm(dff);
}

void kavu_vdebug_dff(const CDB_SGATE_NODE* dff) {
  KAVU_CHECK(dff && kavu_is_a_dff (dff));
  static const char* const DEBUG_LABELS[] = {"D_IN:", "CLOCK:", "CLEAR:", "PRESET:",
                                             "CLOCK_EN:", "DATA:", "ALOAD:"};
  kavu_debug("Connections of DFF %s follow -", dff->get_string_hpath().c_str());
  kavu_vdebug_oterm(dff->get_output_term(0));
  for (unsigned pos = 0; pos < sizeof(DEBUG_LABELS) / sizeof(DEBUG_LABELS[0]); ++pos) {
    kavu_debug("%s", DEBUG_LABELS[pos]);
    kavu_vdebug_iterm(dff->get_input_term(pos));
  }
}

// ---------------------------------------------------------------- power-up

bool kavu_dff_powers_up_high(const CDB_SGATE_NODE* dff) {
  const bool high = require_reg_flags(dff)->powers_up_high();
  if (high && !kavu_is_a_dff(dff)) {
    kavu_debug("WYS register %s wants to power up = 1", dff->get_string_hpath().c_str());
  }
  return high;
}

bool kavu_dff_has_power_up_setting(const CDB_SGATE_NODE* dff) {
  return require_reg_flags(dff)->has_power_up_setting();
}

bool kavu_dff_power_up_dc(const CDB_SGATE_NODE* dff) {
  const bool dc = require_reg_flags(dff)->is_power_up_dc();
  if (dc && is_from_user(dff)) {
    KAVU_INTERNAL_ERROR("! sgate->cast_to_wysiwyg()->mode_is_set(CDB_WYSIWYG_FROM_USER)");
  }
  return dc;
}

void kavu_set_dff_powers_up_high(CDB_SGATE_NODE* dff, bool value) {
  CDB_REG_FLAGS* flags = require_reg_flags(dff);
  if (value && !kavu_is_a_dff(dff)) {
    kavu_debug("WYS register %s being set to power up = 1", dff->get_string_hpath().c_str());
  }
  // The database raises the changed mark only when the bit really changes.
  flags->set_power_up_high(value);
}

void kavu_set_dff_power_up_dc(CDB_SGATE_NODE* dff, bool value) {
  require_reg_flags(dff)->set_power_up_dc(value);
  if (value && is_from_user(dff)) {
    KAVU_INTERNAL_ERROR("! sgate->cast_to_wysiwyg()->mode_is_set(CDB_WYSIWYG_FROM_USER)");
  }
}

void kavu_set_has_power_up_setting(CDB_SGATE_NODE* dff, bool value) {
  require_reg_flags(dff)->set_has_power_up_setting(value);
}

// ---------------------------------------------------------------- comparison

bool kavu_similar_dffs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b, bool ignore_data) {
  KAVU_CHECK(kavu_is_a_dff (a) || (a->is_wysiwyg() && (a->cast_to_wysiwyg()->is_ff())));
  KAVU_CHECK(kavu_is_a_dff (b) || (b->is_wysiwyg() && (b->cast_to_wysiwyg()->is_ff())));
  if (kavu_dff_powers_up_high(a) != kavu_dff_powers_up_high(b) && !kavu_dff_power_up_dc(a) &&
      !kavu_dff_power_up_dc(b)) {
    return false;
  }
  if (!ignore_data && !same(a, b, DATA)) return false;
  if (!same(a, b, CLOCK)) return false;
  if (!same(a, b, CLEAR) || !same(a, b, PRESET) || !same(a, b, ENABLE) || !same(a, b, ALOAD)) {
    return false;
  }
  if (!same(a, b, SLOAD) || !same(a, b, SCLEAR)) return false;
  if (is_active(kavu_get_dff_aload(a)) || is_active(kavu_get_dff_sload(a))) {
    return kavu_same_source(kavu_get_dff_adata(a), kavu_get_dff_adata(b));
  }
  return true;
}

bool kavu_opposite_dffs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  KAVU_CHECK(kavu_is_a_dff (a) || (a->is_wysiwyg() && (a->cast_to_wysiwyg()->is_ff())));
  KAVU_CHECK(kavu_is_a_dff (b) || (b->is_wysiwyg() && (b->cast_to_wysiwyg()->is_ff())));
  if (kavu_dff_powers_up_high(a) == kavu_dff_powers_up_high(b) && !kavu_dff_power_up_dc(a) &&
      !kavu_dff_power_up_dc(b)) {
    return false;
  }
  for (const CDB_SGATE_NODE* reg : {a, b}) {
    const CDB_SGATE_ITERM* sload = kavu_get_dff_sload(reg);
    if (sload && cdb_is_connected(sload) && !sload->is_gnd()) return false;
    // A missing or unconnected synchronous clear is not known to be GND.
    const CDB_SGATE_ITERM* sclear = kavu_get_dff_sclear(reg);
    if (!sclear || !sclear->is_gnd()) return false;
  }
  if (!kavu_opposite_source(kavu_get_dff_data(a), kavu_get_dff_data(b))) return false;
  if (!same(a, b, CLOCK) || !same(a, b, ENABLE)) return false;
  if (!kavu_same_source(kavu_get_dff_preset(a), kavu_get_dff_clear(b))) return false;
  if (!kavu_same_source(kavu_get_dff_clear(a), kavu_get_dff_preset(b))) return false;
  if (!same(a, b, ALOAD)) return false;
  if (is_active(kavu_get_dff_aload(a))) {
    return kavu_opposite_source(kavu_get_dff_adata(a), kavu_get_dff_adata(b));
  }
  return true;
}

namespace {

bool same_plain_sec_sigs(const CDB_SGATE_NODE* a, const CDB_SGATE_NODE* b, bool ignore_enable,
                         bool ignore_synchronous, bool ignore_asynchronous) {
  if (!same(a, b, CLOCK)) return false;
  if (!ignore_asynchronous && !same(a, b, CLEAR)) return false;
  if (!ignore_enable && !same(a, b, ENABLE)) return false;
  if (!ignore_asynchronous && (!same(a, b, PRESET) || !same(a, b, ALOAD))) return false;
  if (!ignore_synchronous && (!same(a, b, SLOAD) || !same(a, b, SCLEAR))) return false;
  return a->get_reg_flags()->powers_up_high() == b->get_reg_flags()->powers_up_high();
}

bool same_atom_port(CDB_SGATE_WYSIWYG* a, CDB_SGATE_WYSIWYG* b, DB_INPUT_PORT_TYPE port) {
  return kavu_same_source(kavu_fetch_create_wys_iterm(port, a), kavu_fetch_create_wys_iterm(port, b));
}

bool same_atom_sec_sigs(CDB_SGATE_WYSIWYG* a, CDB_SGATE_WYSIWYG* b, bool ignore_enable,
                        bool ignore_synchronous, bool ignore_asynchronous) {
  if (!same_atom_port(a, b, DB_PORT_CLK)) return false;
  if (!ignore_asynchronous && !same_atom_port(a, b, DB_PORT_ACLR)) return false;
  if (!ignore_enable && !same_atom_port(a, b, DB_PORT_ENA)) return false;
  if (!ignore_synchronous && !same_atom_port(a, b, DB_PORT_SLOAD)) return false;
  // The synchronous clears are fetched (and made) whatever the flag says,
  // so both atoms leave this test with the same set of terminals.
  const bool same_sclr = same_atom_port(a, b, DB_PORT_SCLR);
  return ignore_synchronous || same_sclr;
}

}  // namespace

bool kavu_same_dff_sec_sigs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b, bool ignore_enable,
                            bool ignore_synchronous, bool ignore_asynchronous) {
  KAVU_CHECK(a && b);
  if (kavu_is_a_dff(a) && kavu_is_a_dff(b)) {
    return same_plain_sec_sigs(a, b, ignore_enable, ignore_synchronous, ignore_asynchronous);
  }
  if (as_wys_ff(a) && as_wys_ff(b)) {
    return same_atom_sec_sigs(a->cast_to_wysiwyg(), b->cast_to_wysiwyg(), ignore_enable,
                              ignore_synchronous, ignore_asynchronous);
  }
  return false;
}

bool kavu_can_merge_dffs(CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b,
                         CDB_SGATE_COMPATIBLE_REGISTERS* compatible, bool check_fanout,
                         unsigned fanout_limit, unsigned second_limit, bool compatible_flag) {
  KAVU_CHECK(a && b);
  const CDB_SGATE_NODE* gate_a = a->get_my_node();
  const CDB_SGATE_NODE* gate_b = b->get_my_node();
  if ((as_wys_ff(gate_a) && is_from_user(gate_a)) || (as_wys_ff(gate_b) && is_from_user(gate_b))) {
    return false;
  }
  if (is_unmergeable(gate_a) || is_unmergeable(gate_b) || gate_a == gate_b) return false;
  if (!gate_a->has_fanout() || !gate_b->has_fanout()) return false;
  if (gate_b->get_reg_flags()->preserve()) return false;
  if (check_fanout) {
    if (second_limit < fanout_limit) return false;
    // Summed in 64 bits: two 32-bit counts cannot wrap past the limit.
    const uint64_t total = uint64_t(a->get_number_of_fanout()) + b->get_number_of_fanout();
    if (total > fanout_limit) return false;
  }
  if (kavu_dff_powers_up_high(gate_a) != kavu_dff_powers_up_high(gate_b)) return false;
  if (!compatible || !compatible->is_ready_to_use()) return true;
  // A record that failed to be built cannot tell which registers carry a
  // constraint: any may, so none merges.
  if (kavu_ssc_compatible_registers_failed(compatible)) return false;
  return compatible->oterms_are_compatible(a, b, compatible_flag);
}

bool kavu_preserve_register(CDB_SGATE_NODE* dff) {
  if (!is_register(dff)) return false;
  const CDB_REG_FLAGS* flags = dff->get_reg_flags();
  return flags->preserve() || !flags->merge_allowed() || kavu_dff_drives_a_single_output(dff);
}

bool kavu_dff_drives_a_single_output(const CDB_SGATE_NODE* dff) {
  KAVU_CHECK(dff);
  const CDB_SGATE_OTERM* oterm = dff->get_output_term(0);
  if (!oterm || !oterm->has_fanout()) return false;
  int outputs = 0;
  for (const CDB_SGATE_ITERM* fanout : oterm->fanouts()) {
    const CDB_SGATE_NODE* sink = fanout->get_my_node();
    if (kavu_is_a_protect_buffer(sink) || kavu_is_a_observer_buffer(sink)) continue;
    const bool is_output = kavu_is_a_output_pin(sink) || kavu_is_a_bidir_pin(sink) ||
                           kavu_is_a_tribus(sink) || kavu_is_a_io_buffer(sink);
    if (!is_output || ++outputs > 1) return false;
    if (kavu_is_a_io_buffer(sink) && sink->get_input_term(CDB_IO_BUF_OE) == fanout) {
      ZCU_FACADE_UTIL* zcu_facade = ZCU_FACADE_UTIL::get_instance();
      KAVU_CHECK(zcu_facade != 0);
      CMP_FACADE* facade = zcu_facade->get_facade();
      KAVU_CHECK(facade != 0);
      if (family_forbids_oe_register(facade->get_family())) return false;
    }
  }
  return true;
}

bool kavu_allow_reg_merge_across_hierarchies(CDB_SGATE_HIERARCHY* hierarchy) {
  KAVU_CHECK(hierarchy);
  ZCU_FACADE_UTIL* zcu_facade = ZCU_FACADE_UTIL::get_instance();
  KAVU_CHECK(zcu_facade != 0);
  CMP_FACADE* facade = zcu_facade->get_facade();
  KAVU_CHECK(facade != 0);
  const HDB_SECTION* default_section =
      HDB_SECTION::find_section(HDB_SECTION_TYPE_DEFAULT, "", facade->get_namespace());
  KAVU_CHECK(default_section);
  const auto* option = default_section->get_single_option<ACF_KIND_ENUM>(ACF_REG_MERGE_ACROSS_HIERARCHIES);
  const int code = facade->get_optimization_technique(hierarchy->get_instance_name());

  bool allowed = true;
  if (option) {
    const int value = option->get_value();
    if (value == ACF_ENUM_OFF) {
      allowed = false;
    } else if (value == ACF_ENUM_AUTO) {
      if (code == CMP_OPTIMIZATION_SPEED) {
        allowed = CDB_LUTMASK::max_num_inputs != 6;
      } else if (code == CMP_OPTIMIZATION_AREA) {
        allowed = !family_is_one_of(facade->get_family(), NO_AREA_MERGE_FAMILIES);
      }
    }
  }
  if (s_merge_tag_pending && !cdb_sgate_synthesis_is_running_in_parallel()) {
    s_merge_tag_pending = false;
    tag_it(TAG_REG_MERGE_ACROSS_HIERARCHIES, "%s", allowed ? "allowed" : "not allowed");
  }
  return allowed;
}

bool kavu_registers_in_same_hierarchy(const CDB_SGATE_NODE* a, const CDB_SGATE_NODE* b) {
  KAVU_CHECK(a && b);
  const HDB_INSTANCE_NAME* name_a = a->get_instance_name();
  const HDB_INSTANCE_NAME* name_b = b->get_instance_name();
  KAVU_CHECK(name_a != 0 && name_b != 0);
  return name_a->get_parent() == name_b->get_parent();
}

bool kavu_family_supports_aload(DEV_FAMILY_ENUM family) {
  if (family_is_one_of(family, BASE_FAMILIES)) return false;
  KAVU_INTERNAL_ERROR("Strange chip family selected");
}

bool kavu_dff_has_force_clock_enable_assignment(const CDB_SGATE_NODE* dff) {
  KAVU_CHECK(dff);
  return has_bool_assignment(dff, ACF_FORCE_CLOCK_ENABLE);
}

bool kavu_dff_has_force_synch_clear_assignment(const CDB_SGATE_NODE* dff) {
  KAVU_CHECK(dff);
  return has_bool_assignment(dff, ACF_FORCE_SYNCH_CLEAR);
}
