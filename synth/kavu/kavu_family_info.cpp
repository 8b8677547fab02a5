// kavu_family_info.cpp — RTL_FAMILY_INFO: construction by family group,
// the tag record of its settings, and the computed capability queries.
//
// Construction order matters and is kept as one recipe: defaults, the
// group's flags (Brae for base families 15 and 47, Quellin for 25 and 45),
// the register-masher key, the structured-ASIC RAM flag, then the
// read-during-write switches, which may clear two RAM flags that the group
// set. A family outside the four is refused before any flag is set.
// The size rules multiply their arguments in 64 bits: a shift register of
// 2^16 taps of 2^16 bits must not wrap into a small (or negative) size.
// Cost: construction reads about a dozen keys; every query is O(1).
#include "kavu_family_info.h"
#include "kavu_family_info_int.h"

#include <cstdio>
#include <string>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_device.h"
#include "kavu_helper_predicates.h"
#include "kavu_load_time_int.h"

// The labels tag_message prints for set flags, in record order. Flags that
// are never printed have no row.
struct RTL_FAMILY_INFO_TABLES {
  struct ROW {
    const char* m_label;
    bool RTL_FAMILY_INFO::*m_flag;
  };
  static const ROW kBeforeLimit[];
  static const ROW kAfterLimit[];
};

const RTL_FAMILY_INFO_TABLES::ROW RTL_FAMILY_INFO_TABLES::kBeforeLimit[] = {
    {"Has RAM", &RTL_FAMILY_INFO::m_has_ram},
    {"Use orlsyncram", &RTL_FAMILY_INFO::m_use_orlsyncram},
    {"Use orlind_syncram", &RTL_FAMILY_INFO::m_use_orlind_syncram},
    {"Has small RAMs", &RTL_FAMILY_INFO::m_has_small_rams},
    {"Has TOLVA RAM", &RTL_FAMILY_INFO::m_has_tolvaram},
    {"Has LUTRAM", &RTL_FAMILY_INFO::m_has_lutram},
    {"Has old style TOLVA RAM", &RTL_FAMILY_INFO::m_has_old_style_tolvaram},
    {"Has MAC blocks", &RTL_FAMILY_INFO::m_has_mac_blocks},
    {"Infer DFF signals", &RTL_FAMILY_INFO::m_dff_sec_sigs_help},
    {"Use pterm RTL", &RTL_FAMILY_INFO::m_use_pterm_rtl},
    {"Use faster script", &RTL_FAMILY_INFO::m_use_faster_script},
    {"Use KOLDER-style carry", &RTL_FAMILY_INFO::m_use_kolder_carry},
    {"Use J7-style carry", &RTL_FAMILY_INFO::m_use_j7_carry},
    {"Use BRAEHOLT-style carry", &RTL_FAMILY_INFO::m_use_brae_carry},
    {"Use QUELLIN-style carry", &RTL_FAMILY_INFO::m_use_quellin_carry},
};

const RTL_FAMILY_INFO_TABLES::ROW RTL_FAMILY_INFO_TABLES::kAfterLimit[] = {
    {"Has QUELLIN-style extended LUT", &RTL_FAMILY_INFO::m_has_quellin_style_extended_lut},
    {"Support Viterbi mode", &RTL_FAMILY_INFO::m_has_viterbi_mode},
    {"Allow preset", &RTL_FAMILY_INFO::m_allow_preset},
    {"Allow aload", &RTL_FAMILY_INFO::m_allow_aload},
    {"Allow sload", &RTL_FAMILY_INFO::m_allow_sload},
    {"Has SCLR over ENA priority", &RTL_FAMILY_INFO::m_sclr_over_ena_priority},
    {"Has second SCLR", &RTL_FAMILY_INFO::m_has_second_sclr},
    {"Has CASCADE", &RTL_FAMILY_INFO::m_has_cascade},
    {"Has clock ENA", &RTL_FAMILY_INFO::m_has_clock_ena},
    {"Has vandry-style invert A hardware", &RTL_FAMILY_INFO::m_has_inva},
    {"Recognize counters", &RTL_FAMILY_INFO::m_recognize_counters},
    {"Recognize addsubs", &RTL_FAMILY_INFO::m_recognize_addsubs},
    {"Use Z9K-style mux", &RTL_FAMILY_INFO::m_use_z9k_style_mux},
    {"Use VANDRY-style mux", &RTL_FAMILY_INFO::m_use_vdr_style_mux},
    {"Use BRAEHOLT-style mux", &RTL_FAMILY_INFO::m_use_brae_style_mux},
    {"Allow non-chain sload", &RTL_FAMILY_INFO::m_allow_non_chain_sload},
    {"Uses split WYSIWYG", &RTL_FAMILY_INFO::m_uses_split_wys},
    {"MAC has dynamic addsub", &RTL_FAMILY_INFO::m_mac_has_dynamic_addsub},
    {"MAC has multiplier pipeline registers", &RTL_FAMILY_INFO::m_mac_has_multiplier_pipeline_registers},
    {"MAC has level one oper pipeline registers",
     &RTL_FAMILY_INFO::m_mac_has_level_one_oper_pipeline_registers},
    {"RAM can do single port old data", &RTL_FAMILY_INFO::m_ram_can_do_single_port_old_data},
    {"RAM can do new data with nbe read", &RTL_FAMILY_INFO::m_ram_new_data_with_nbe_read},
    {"MAC has loopback mode", &RTL_FAMILY_INFO::m_mac_has_loopback_mode},
    {"MAC has adder chain", &RTL_FAMILY_INFO::m_mac_has_adder_chain},
    {"Shift reg power-up is don't care", &RTL_FAMILY_INFO::m_shift_reg_power_up_is_dont_care},
    {"MAC no unsigned accumulator subtract", &RTL_FAMILY_INFO::m_no_unsigned_accumulator_subtract},
    {"RAM has address stall", &RTL_FAMILY_INFO::m_ram_has_address_stall},
    {"Correct default power-up", &RTL_FAMILY_INFO::m_correct_default_pwrup},
    {"Allow register masher", &RTL_FAMILY_INFO::m_allow_register_masher},
    {"Shift reg supports aclr", &RTL_FAMILY_INFO::m_shift_reg_supports_aclr},
    {"TOLVA RAM can do mixed port old data", &RTL_FAMILY_INFO::m_tolvaram_can_do_mixed_port_old_data},
    {"RAM enable rdw old for QV", &RTL_FAMILY_INFO::m_enable_all_rdw_old},
    {"RAM enable sp rdw old for QV", &RTL_FAMILY_INFO::m_enable_sp_rdw_old},
    {"RAM enable tdp rdw old for QV", &RTL_FAMILY_INFO::m_enable_tdp_rdw_old},
    {"RAM can initialize block RAM", &RTL_FAMILY_INFO::m_can_init_block_ram},
};

namespace {

bool is_brae_group(DEV_FAMILY_ENUM base) { return base == 15 || base == 47; }
bool is_quellin_group(DEV_FAMILY_ENUM base) { return base == 25 || base == 45; }

// The "qv" switch first; the "dkf" one is read only when it is off.
bool rdw_switch(const char* qv_key, const char* dkf_key) {
  return cfg_is_on(qv_key, false) || cfg_is_on(dkf_key, false);
}

// True once per process, and only outside parallel synthesis, so that each
// size rule records its threshold once.
bool take_first_tag(bool& pending) {
  if (!pending || cdb_sgate_synthesis_is_running_in_parallel()) return false;
  pending = false;
  return true;
}

}  // namespace

// ---------------------------------------------------------------- construction

RTL_FAMILY_INFO::RTL_FAMILY_INFO(CMP_FACADE* facade) {
  if (!facade) facade = ZCU_FACADE_UTIL::get_instance()->get_facade();
  KAVU_CHECK(facade != nullptr);
  const int lut_max_inputs = cfg_get_int_value("smt_lut_max_inputs", int(CDB_LUTMASK::max_num_inputs));
  m_base_family = facade->get_base_family();
  m_user_family = facade->get_family();

  if (is_quellin_group(m_base_family)) {
    set_quellin_group();
  } else if (is_brae_group(m_base_family)) {
    set_brae_group(lut_max_inputs);
  } else {
    KAVU_INTERNAL_ERROR("RTL doesn't recognize the current family");
  }
  m_allow_register_masher = cfg_is_on("opt_force_register_masher", false);
  set_lumcast_ram(facade);
  set_read_during_write_modes();
  if (cfg_is_on("use_braeholt", false)) {
    // Only a Vandry base family may use Braeholt, and no accepted family is one.
    KAVU_INTERNAL_ERROR("Family must be set to VDR to use Braeholt");
  }
}

// Flags both groups set beyond the defaults.
void RTL_FAMILY_INFO::set_common_group_flags() {
  m_has_ram = true;
  m_has_small_rams = true;
  m_has_lutram = true;
  m_has_mac_blocks = true;
  m_recognize_counters = false;
  m_recognize_addsubs = true;
  m_use_brae_style_mux = true;
  m_allow_non_chain_sload = true;
  m_uses_split_wys = true;
  m_mac_has_level_one_oper_pipeline_registers = true;
  m_ram_can_do_single_port_old_data = true;
  m_ram_new_data_with_nbe_read = true;
  m_mac_has_loopback_mode = true;
  m_mac_pipeline_registers_have_same_signals = true;
  m_mac_has_adder_chain = true;
  m_shift_reg_power_up_is_dont_care = true;
  m_no_unsigned_accumulator_subtract = true;
  m_ram_has_address_stall = true;
  m_correct_default_pwrup = true;
}

void RTL_FAMILY_INFO::set_quellin_group() {
  const bool is_25 = m_base_family == 25;
  m_uses_split_wys = true;
  m_use_orlind_syncram = true;
  m_use_quellin_carry = true;
  m_has_quellin_style_extended_lut = true;
  m_max_carry_chain_length = cfg_get_int_value("synth_max_carry_chain_length", is_25 ? 820 : 720);
  m_max_inputs_per_carry_chain_lab = cfg_get_int_value("synth_max_inputs_per_carry_chain_lab", is_25 ? -1 : 48);
  m_allow_sload = false;
  m_sclr_over_ena_priority = cfg_is_on("quellin_has_sclr_over_ena_priority", false);
  set_common_group_flags();
  m_has_second_sclr = true;
  m_use_vdr_style_mux = false;
  m_ram_can_do_single_port_new_data = false;
  m_ram_can_do_tdp_mixed_ports_old_data = false;
  m_ram_can_do_tdp_mixed_width = false;
  m_ram_can_do_tdp_dual_clock = false;
  m_ram_can_do_quad_port = true;
  m_ram_can_do_force_to_zero = true;
}

void RTL_FAMILY_INFO::set_brae_group(int lut_max_inputs) {
  m_uses_split_wys = true;
  m_allow_aload = cfg_is_on("opt_fake_ormond_as_brae", false);
  m_use_orlsyncram = true;
  m_use_brae_carry = true;
  set_common_group_flags();
  // Four-input LUT architectures build Vandry multiplexers instead.
  m_use_vdr_style_mux = lut_max_inputs == 4;
  m_use_brae_style_mux = lut_max_inputs != 4;
  if (cfg_is_on("pelii_macs_for_ormond", false)) {
    m_has_mac_blocks = false;
    m_mac_has_loopback_mode = false;
    m_mac_pipeline_registers_have_same_signals = false;
    m_mac_has_level_one_oper_pipeline_registers = false;
    m_mac_has_adder_chain = false;
  }
}

void RTL_FAMILY_INFO::set_lumcast_ram(CMP_FACADE* facade) {
  switch (static_cast<int>(m_user_family)) {
    case 34:
    case 35:
    case 36:
      m_has_lumcast_ram = true;
      break;
    case 61:
      m_has_lumcast_ram = kavu_lumcast_migration_enabled(facade, DEV_FAMILY_ENUM(35));
      break;
    case 7:
    case 60:
      m_has_lumcast_ram = kavu_lumcast_migration_enabled(facade, DEV_FAMILY_ENUM(36));
      break;
    case 6:
      m_has_lumcast_ram = kavu_lumcast_migration_enabled(facade, DEV_FAMILY_ENUM(34));
      break;
    default:
      break;
  }
}

void RTL_FAMILY_INFO::set_read_during_write_modes() {
  m_enable_all_rdw_old = rdw_switch("qv_enable_all_read_before_write_modes",
                                    "dkf_enable_all_read_before_write_modes");
  m_enable_sp_rdw_old = rdw_switch("qv_enable_sp_read_before_write_modes",
                                   "dkf_enable_sp_read_before_write_modes");
  m_enable_tdp_rdw_old = rdw_switch("qv_enable_tdp_read_before_write_modes",
                                    "dkf_enable_tdp_read_before_write_modes");
  const bool single_port_switch = m_enable_all_rdw_old || m_enable_sp_rdw_old;
  if ((is_brae_group(m_base_family) || is_28nm()) && !single_port_switch) {
    m_ram_can_do_single_port_old_data = false;
  }
  if ((is_28nm() || is_newer_than_28nm()) && !single_port_switch) m_ram_new_data_with_nbe_read = false;
}

// ---------------------------------------------------------------- family groups

bool RTL_FAMILY_INFO::is_28nm() const {
  const int f = m_user_family;
  return f == 8 || f == 9 || f == 19 || f == 57;
}
bool RTL_FAMILY_INFO::is_20nm() const { return is_brae_group(m_base_family); }
bool RTL_FAMILY_INFO::is_14nm() const { return m_base_family == 45; }
bool RTL_FAMILY_INFO::is_10nm() const { return m_base_family == 25; }
bool RTL_FAMILY_INFO::is_newer_than_28nm() const {
  return is_brae_group(m_base_family) || is_quellin_group(m_base_family);
}
bool RTL_FAMILY_INFO::is_28nm_or_newer() const { return is_28nm() || is_newer_than_28nm(); }

// ---------------------------------------------------------------- computed queries

bool RTL_FAMILY_INFO::force_true_wys_flow() const { return m_user_family == 54; }

void RTL_FAMILY_INFO::tag_message() const {
  if (cdb_sgate_synthesis_is_running_in_parallel()) return;
  tag_it(73, "User family = %s, base family = %s", dstr_get_debug_string(m_user_family).c_str(),
         dstr_get_debug_string(m_base_family).c_str());
  const char* process = is_28nm()   ? "28nm"
                        : is_20nm() ? "20nm"
                        : is_14nm() ? "14nm"
                        : is_10nm() ? "10nm"
                                    : "unknown";
  tag_it(73, "Family process is: %s", process);
  for (const RTL_FAMILY_INFO_TABLES::ROW& row : RTL_FAMILY_INFO_TABLES::kBeforeLimit) {
    if (this->*row.m_flag) tag_it(73, "%s", row.m_label);
  }
  tag_it(73, "Max carry chain length %d", m_max_carry_chain_length);
  for (const RTL_FAMILY_INFO_TABLES::ROW& row : RTL_FAMILY_INFO_TABLES::kAfterLimit) {
    if (this->*row.m_flag) tag_it(73, "%s", row.m_label);
  }
}

bool RTL_FAMILY_INFO::must_connect_sdp_ram_addressstall_to_rden() const {
  return m_user_family == 25 || m_user_family == 45;
}

bool RTL_FAMILY_INFO::can_use_read_enable() const {
  switch (static_cast<int>(m_user_family)) {
    case 7:
    case 35:
    case 36:
    case 50:
    case 60:
    case 61:
      return true;
    default:
      return is_28nm_or_newer();
  }
}

bool RTL_FAMILY_INFO::ram_can_do_tdp_same_port_old_data() const {
  if (is_28nm() || is_newer_than_28nm()) return m_enable_all_rdw_old || m_enable_tdp_rdw_old;
  return m_ram_can_do_single_port_old_data;
}

bool RTL_FAMILY_INFO::ram_can_do_new_data_with_nbe_read(bool with_nbe) const {
  if (with_nbe && (is_28nm() || is_20nm())) return m_enable_all_rdw_old || m_enable_tdp_rdw_old;
  return m_ram_new_data_with_nbe_read;
}

char RTL_FAMILY_INFO::ram_r20k_addr_reg_default_power_up_value() const {
  return is_quellin_group(m_base_family) ? 'x' : '0';
}

bool RTL_FAMILY_INFO::can_use_orlshift_taps(bool allow, int number_of_taps, int tap_distance,
                                            int width) const {
  KAVU_CHECK(number_of_taps > 0);
  KAVU_CHECK(tap_distance > 0);
  KAVU_CHECK(width > 0);
  if (!m_has_ram) return false;
  const int64_t threshold = width == 1 ? 64 : 32;
  static bool s_tag_pending = true;
  if (take_first_tag(s_tag_pending)) tag_it(18, "Shift register size threshold %d", int(threshold));
  if (allow) return true;
  return int64_t(number_of_taps) * tap_distance * width >= threshold;
}

bool RTL_FAMILY_INFO::can_infer_ram(int depth, int width) const {
  const int64_t size = int64_t(depth) * width;
  int64_t threshold;
  bool ok;
  if (m_has_small_rams) {
    threshold = depth < 16 ? 64 : 32;
    ok = size >= threshold;
  } else {
    threshold = 128;
    ok = depth >= 64 || (depth >= 16 && size >= threshold);
  }
  static bool s_tag_pending = true;
  if (take_first_tag(s_tag_pending)) tag_it(35, "RAM size threshold %d", int(threshold));
  return ok;
}

KAVU_ROM_RULE kavu_family_rom_rule(DEV_FAMILY_ENUM family, bool has_small_rams) {
  const int six_lut_depth = cfg_get_int_value("opt_min_rom_depth_for_6_lut_families", 256);
  const bool pikel = cfg_is_on("opt_smt_fake_pikel_ram_to_be_ormond", false);
  KAVU_ROM_RULE rule;
  switch (static_cast<int>(family)) {
    case 2:
    case 4:
    case 5:
    case 31:
      rule.m_min_depth = 64;
      rule.m_min_size = 1024;
      break;
    case 6:
    case 7:
    case 8:
    case 15:
    case 25:
    case 34:
    case 35:
    case 36:
    case 45:
    case 47:
    case 50:
    case 57:
    case 60:
    case 61:
      rule.m_min_depth = six_lut_depth;
      rule.m_min_size = has_small_rams ? 256 : 1024;
      break;
    case 14:
    case 17:
    case 53:
      rule.m_min_depth = 32;
      rule.m_min_size = pikel && has_small_rams ? 256 : 1024;
      break;
    case 66:
      rule.m_min_depth = 32;
      rule.m_min_size = has_small_rams ? 256 : 1024;
      break;
    case 32:
    case 41:
      rule.m_never = true;
      break;
    default:
      KAVU_INTERNAL_ERROR("can_infer_rom doesn't recognize the current family");
  }
  return rule;
}

// The rule of the base family, as every family-dependent answer of the
// record (a record exists only for the base families 15, 25, 45 and 47).
bool RTL_FAMILY_INFO::can_infer_rom(int depth, int width) const {
  const KAVU_ROM_RULE rule = kavu_family_rom_rule(m_base_family, m_has_small_rams);
  if (rule.m_never) return false;
  static bool s_tag_pending = true;
  if (take_first_tag(s_tag_pending)) {
    tag_it(29, "ROM minimum depth %d, minimum size %d", rule.m_min_depth, int(rule.m_min_size));
  }
  return depth >= rule.m_min_depth && int64_t(depth) * width >= rule.m_min_size;
}

bool RTL_FAMILY_INFO::can_infer_counter() const { return cfg_is_on("rtl_force_counter_recognition", false); }

// ---------------------------------------------------------------- atoms and registers

CDB_SGATE_NODE* RTL_FAMILY_INFO::make_family_wys_lc(HDB_INSTANCE_NAME*) const { return nullptr; }

CDB_SGATE_NODE* RTL_FAMILY_INFO::make_family_wys_lc_ff(HDB_INSTANCE_NAME* name) const {
  return kavu_create_new_lc_ff(name, m_base_family);
}

CDB_SGATE_NODE* RTL_FAMILY_INFO::make_family_wys_logic_module(HDB_INSTANCE_NAME* name) const {
  return kavu_create_new_logic_module(name, m_base_family);
}

CDB_SGATE_NODE* RTL_FAMILY_INFO::make_family_wys_lc_comb(HDB_INSTANCE_NAME* name) const {
  return kavu_create_new_lc_comb(name, m_base_family);
}

namespace {

// The register input at `position` is a constant of that value. The input
// must exist and be connected: reading a position the gate does not have
// would otherwise read past its input list.
bool dff_input_is_constant(const CDB_SGATE_NODE* dff, unsigned position, bool vcc) {
  const CDB_SGATE_ITERM* iterm = dff->get_input_term(position);
  KAVU_CHECK(cdb_is_connected(iterm));
  return vcc ? iterm->is_vcc() : iterm->is_gnd();
}

}  // namespace

bool RTL_FAMILY_INFO::dff_ok_for_family(CDB_SGATE_NODE* dff) const {
  KAVU_CHECK(dff != nullptr);
  KAVU_CHECK(kavu_is_a_dff (dff));
  KAVU_CHECK(this->use_kolder_carry() || this->use_j7_carry() || this->use_quellin_carry() ||
             this->use_brae_carry());
  // Positions of a plain register: 3 preset, 4 clock enable, 6 asynchronous
  // load, 8 synchronous load.
  // Every tested input is checked, also after the answer is known.
  bool ok = true;
  if (!m_has_clock_ena) ok = dff_input_is_constant(dff, 4, true) && ok;
  if (!m_allow_preset) ok = dff_input_is_constant(dff, 3, false) && ok;
  if (!m_allow_aload) ok = dff_input_is_constant(dff, 6, false) && ok;
  if (!m_allow_sload) ok = dff_input_is_constant(dff, 8, false) && ok;
  return ok;
}

void RTL_FAMILY_INFO::flag_as_arith(CDB_SGATE_NODE* wys) const {
  KAVU_CHECK(wys);
  CDB_SGATE_WYSIWYG* atom = wys->cast_to_wysiwyg();
  KAVU_CHECK(atom != nullptr);
  atom->set_mode(1);
}

namespace {
constinit KAVU_KEY_ONCE g_quellin_sclr_priority{"quellin_has_sclr_over_ena_priority", false};
}  // namespace

bool RTL_FAMILY_INFO::ff_has_sclr_over_ena_priority(CDB_WYSIWYG_TYPE type) {
  const bool s_quellin_priority = g_quellin_sclr_priority();
  switch (type) {
    case 62:
    case 10006:
    case 10107:
    case 10329:
    case 10364:
    case 10442:
    case 10449:
    case 10479:
    case 10499:
      return false;
    case 94:
    case 115:
      return s_quellin_priority;
    default:
      KAVU_INTERNAL_ERROR("Unknown WYS FF type");
      return false;
  }
}
