// kavu_family_info.h — RTL_FAMILY_INFO, the capability record of the
// compile's device family.
//
// Model: one constructor call reads the facade's base and user family and a
//   handful of configuration keys and fixes every answer; the record is
//   read only afterwards and copied freely. Most answers are one-byte flags
//   behind inline getters; a few are computed per call from the family
//   codes, the flags and (for the size rules) configuration keys.
// The record knows the base families 15 and 47 (the Brae group: Brae carry
//   chains, aload allowed only when faked, sload allowed) and 25 and 45 (the
//   Quellin group: Quellin carry chains with length limits, a second
//   synchronous clear, no sload); any other base family is an internal
//   error. Process nodes: user families 8, 9, 19, 57 are 28 nm; base
//   families 15 and 47 are 20 nm, 45 is 14 nm, 25 is 10 nm.
// Keys read by the constructor: smt_lut_max_inputs, opt_fake_ormond_as_brae,
//   quellin_has_sclr_over_ena_priority, pelii_macs_for_ormond,
//   synth_max_carry_chain_length, synth_max_inputs_per_carry_chain_lab,
//   opt_force_register_masher, the qv_/dkf_enable_*_read_before_write_modes
//   switches and use_braeholt.
#pragma once

#include <cstdint>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"

class HDB_INSTANCE_NAME;

class RTL_FAMILY_INFO {
 public:
  // Builds the record for the facade (null: the current compile's facade).
  explicit RTL_FAMILY_INFO(CMP_FACADE* facade = nullptr);
  ~RTL_FAMILY_INFO() = default;

  DEV_FAMILY_ENUM get_base_family() const { return m_base_family; }
  DEV_FAMILY_ENUM get_user_family() const { return m_user_family; }

  bool has_ram() const { return m_has_ram; }
  bool use_orlsyncram() const { return m_use_orlsyncram; }
  bool use_orlind_syncram() const { return m_use_orlind_syncram; }
  bool has_tolvaram() const { return m_has_tolvaram; }
  bool has_lumcast_ram() const { return m_has_lumcast_ram; }
  bool has_lutram() const { return m_has_lutram; }
  bool has_old_style_tolvaram() const { return m_has_old_style_tolvaram; }
  bool has_mac_blocks() const { return m_has_mac_blocks; }
  bool dff_sec_sigs_help() const { return m_dff_sec_sigs_help; }
  bool use_pterm_rtl() const { return m_use_pterm_rtl; }
  bool use_faster_script() const { return m_use_faster_script; }
  bool use_kolder_carry() const { return m_use_kolder_carry; }
  bool use_j7_carry() const { return m_use_j7_carry; }
  bool use_brae_carry() const { return m_use_brae_carry; }
  bool use_quellin_carry() const { return m_use_quellin_carry; }
  bool has_quellin_style_extended_lut() const { return m_has_quellin_style_extended_lut; }
  // -1: no limit.
  int max_carry_chain_length() const { return m_max_carry_chain_length; }
  int max_inputs_per_carry_chain_lab() const { return m_max_inputs_per_carry_chain_lab; }
  bool has_viterbi_mode() const { return m_has_viterbi_mode; }
  bool allow_preset() const { return m_allow_preset; }
  bool allow_aload() const { return m_allow_aload; }
  bool allow_sload() const { return m_allow_sload; }
  bool sclr_over_ena_priority() const { return m_sclr_over_ena_priority; }
  bool has_second_sclr() const { return m_has_second_sclr; }
  bool has_cascade() const { return m_has_cascade; }
  bool has_clock_ena() const { return m_has_clock_ena; }
  bool has_inva() const { return m_has_inva; }
  bool recognize_counters() const { return m_recognize_counters; }
  bool recognize_addsubs() const { return m_recognize_addsubs; }
  bool use_z9k_style_mux() const { return m_use_z9k_style_mux; }
  bool use_vdr_style_mux() const { return m_use_vdr_style_mux; }
  bool use_brae_style_mux() const { return m_use_brae_style_mux; }
  bool allow_non_chain_sload() const { return m_allow_non_chain_sload; }
  bool uses_split_wys() const { return m_uses_split_wys; }
  bool mac_has_dynamic_addsub() const { return m_mac_has_dynamic_addsub; }
  bool mac_has_multiplier_pipeline_registers() const { return m_mac_has_multiplier_pipeline_registers; }
  bool mac_has_level_one_oper_pipeline_registers() const {
    return m_mac_has_level_one_oper_pipeline_registers;
  }
  bool ram_can_do_single_port_old_data() const { return m_ram_can_do_single_port_old_data; }
  bool ram_can_do_single_port_new_data() const { return m_ram_can_do_single_port_new_data; }
  bool ram_can_do_tdp_mixed_ports_old_data() const { return m_ram_can_do_tdp_mixed_ports_old_data; }
  bool ram_can_do_tdp_mixed_width() const { return m_ram_can_do_tdp_mixed_width; }
  bool ram_can_do_tdp_dual_clock() const { return m_ram_can_do_tdp_dual_clock; }
  bool mac_has_loopback_mode() const { return m_mac_has_loopback_mode; }
  bool mac_pipeline_registers_have_same_signals() const {
    return m_mac_pipeline_registers_have_same_signals;
  }
  bool mac_has_adder_chain() const { return m_mac_has_adder_chain; }
  bool shift_reg_power_up_is_dont_care() const { return m_shift_reg_power_up_is_dont_care; }
  bool no_unsigned_accumulator_subtract() const { return m_no_unsigned_accumulator_subtract; }
  bool ram_has_address_stall() const { return m_ram_has_address_stall; }
  bool correct_default_pwrup() const { return m_correct_default_pwrup; }
  bool allow_register_masher() const { return m_allow_register_masher; }
  bool shift_reg_supports_aclr() const { return m_shift_reg_supports_aclr; }
  bool tolvaram_can_do_mixed_port_old_data() const { return m_tolvaram_can_do_mixed_port_old_data; }
  bool can_init_block_ram() const { return m_can_init_block_ram; }
  bool ram_can_do_quad_port() const { return m_ram_can_do_quad_port; }
  bool ram_can_do_force_to_zero() const { return m_ram_can_do_force_to_zero; }

  // Families whose flow must keep every atom as the user wrote it (user
  // family 54).
  bool force_true_wys_flow() const;
  // Records the user and base family, the process node and the label of
  // every set flag as tag 73 (outside parallel synthesis only).
  void tag_message() const;
  bool is_28nm_or_newer() const;
  bool must_connect_sdp_ram_addressstall_to_rden() const;
  bool can_use_read_enable() const;
  bool ram_can_do_tdp_same_port_old_data() const;
  bool ram_can_do_new_data_with_nbe_read(bool with_nbe) const;
  // The power-up value of a RAM's address register: 'x' or '0'.
  char ram_r20k_addr_reg_default_power_up_value() const;

  // Size rules for inference. Each records its threshold as a tag on its
  // first call of the process outside parallel synthesis.
  // Shift register of taps x distance x width bits: allowed, or at least 64
  // bits for width 1 and 32 otherwise; never without RAM. Arguments below 1
  // are internal errors.
  bool can_use_orlshift_taps(bool allow, int number_of_taps, int tap_distance, int width) const;
  bool can_infer_ram(int depth, int width) const;
  // The base family's ROM rule (kavu_family_info_int.h): a minimum depth and
  // size; reads opt_min_rom_depth_for_6_lut_families (default 256) and
  // opt_smt_fake_pikel_ram_to_be_ormond (default off) on each call.
  bool can_infer_rom(int depth, int width) const;
  // Reads rtl_force_counter_recognition (default off) on each call.
  bool can_infer_counter() const;

  // New device atoms for the base family (kavu_device.h); the caller owns
  // them. The plain logic-cell form makes nothing and returns null.
  CDB_SGATE_NODE* make_family_wys_lc(HDB_INSTANCE_NAME* name) const;
  CDB_SGATE_NODE* make_family_wys_lc_ff(HDB_INSTANCE_NAME* name) const;
  CDB_SGATE_NODE* make_family_wys_logic_module(HDB_INSTANCE_NAME* name) const;
  CDB_SGATE_NODE* make_family_wys_lc_comb(HDB_INSTANCE_NAME* name) const;

  // Whether a plain register gate fits the family's flip-flops: its clock
  // enable is VCC unless the family has one, and its preset, asynchronous
  // load and synchronous load are GND unless the family allows them. A gate
  // that is no plain register, or a tested input that is missing or not
  // connected, is an internal error.
  bool dff_ok_for_family(CDB_SGATE_NODE* dff) const;
  // Marks a device atom as arithmetic (mode 1). Null or a gate that is no
  // device atom is an internal error.
  void flag_as_arith(CDB_SGATE_NODE* wys) const;
  // Whether a flip-flop atom type gives its synchronous clear priority over
  // its clock enable; reads quellin_has_sclr_over_ena_priority once per
  // process. Types that are no flip-flop are internal errors.
  static bool ff_has_sclr_over_ena_priority(CDB_WYSIWYG_TYPE type);

 private:
  friend struct RTL_FAMILY_INFO_TABLES;

  void set_common_group_flags();
  void set_brae_group(int lut_max_inputs);
  void set_quellin_group();
  void set_lumcast_ram(CMP_FACADE* facade);
  void set_read_during_write_modes();
  bool is_28nm() const;
  bool is_20nm() const;
  bool is_14nm() const;
  bool is_10nm() const;
  bool is_newer_than_28nm() const;

  DEV_FAMILY_ENUM m_base_family;
  DEV_FAMILY_ENUM m_user_family;

  bool m_has_ram = true;
  bool m_use_orlsyncram = false;
  bool m_use_orlind_syncram = false;
  bool m_has_small_rams = false;
  bool m_has_tolvaram = false;
  bool m_has_lumcast_ram = false;
  bool m_has_lutram = false;
  bool m_has_old_style_tolvaram = false;
  bool m_has_mac_blocks = false;
  bool m_dff_sec_sigs_help = true;
  bool m_use_pterm_rtl = false;
  bool m_use_faster_script = false;
  bool m_use_kolder_carry = false;
  bool m_use_j7_carry = false;
  bool m_use_brae_carry = false;
  bool m_use_quellin_carry = false;
  bool m_has_quellin_style_extended_lut = false;
  int32_t m_max_carry_chain_length = -1;
  int32_t m_max_inputs_per_carry_chain_lab = -1;
  bool m_has_viterbi_mode = false;
  bool m_allow_preset = false;
  bool m_allow_aload = false;
  bool m_allow_sload = true;
  bool m_sclr_over_ena_priority = false;
  bool m_has_second_sclr = false;
  bool m_has_cascade = false;
  bool m_has_clock_ena = true;
  bool m_has_inva = false;
  bool m_recognize_counters = true;
  bool m_recognize_addsubs = true;
  bool m_use_z9k_style_mux = false;
  bool m_use_vdr_style_mux = true;
  bool m_use_brae_style_mux = false;
  bool m_allow_non_chain_sload = false;
  bool m_uses_split_wys = false;
  bool m_mac_has_dynamic_addsub = false;
  bool m_mac_has_multiplier_pipeline_registers = false;
  bool m_mac_has_level_one_oper_pipeline_registers = false;
  bool m_ram_can_do_single_port_old_data = false;
  bool m_ram_can_do_single_port_new_data = true;
  bool m_ram_can_do_tdp_mixed_ports_old_data = true;
  bool m_ram_can_do_tdp_mixed_width = true;
  bool m_ram_can_do_tdp_dual_clock = true;
  bool m_ram_new_data_with_nbe_read = false;
  bool m_mac_has_loopback_mode = false;
  bool m_mac_pipeline_registers_have_same_signals = false;
  bool m_mac_has_adder_chain = false;
  bool m_shift_reg_power_up_is_dont_care = false;
  bool m_no_unsigned_accumulator_subtract = false;
  bool m_ram_has_address_stall = false;
  bool m_correct_default_pwrup = false;
  bool m_allow_register_masher = false;
  bool m_shift_reg_supports_aclr = true;
  bool m_tolvaram_can_do_mixed_port_old_data = false;
  bool m_enable_all_rdw_old = false;
  bool m_enable_sp_rdw_old = false;
  bool m_enable_tdp_rdw_old = false;
  bool m_can_init_block_ram = true;
  bool m_ram_can_do_quad_port = false;
  bool m_ram_can_do_force_to_zero = false;
};
