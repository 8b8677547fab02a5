// cfg_keys.cpp — the configuration keys this library and its platform layer
// read, for the check of KAVU_INI_SET and the ini file: a key set there that
// nothing reads (a misspelt one) is warned about instead of being ignored in
// silence; and the range of every key read as an integer, so that a value
// outside it (a negative delay, a timeout of -5) is refused with a warning
// instead of being taken.
//
// Model: the names read literally, sorted, plus the few families whose names
//   are made at run time ("*" stands for one or more characters). A key read
//   only by tests or benchmarks does not belong here: the list says what the
//   library reads, and the configuration tests check it against the library's
//   sources both ways.
// Ranges: delays lie in 0..MAX_KEY_DELAY, so that the sum over a path of
//   20,000 gates each at the bound, 2,000,000,000, still fits an int;
//   counts, sizes, timeouts and the thread cap are at least 1 (a timeout
//   or a cap of 0 is refused like any value outside the range: the caller's
//   default applies; an unset thread cap is no cap), except where 0 or -1
//   has a meaning of its own (a debug level of 0, a carry-chain limit of -1
//   none); a key whose every value means
//   something (a seed, the pipe timeout the parallel flow checks itself)
//   takes any int.
// Cost: a binary search, then one comparison per family.
#include "cfg/cfg_keys_int.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

namespace {

const char* const k_keys_read[] = {
    "abc_binary", "abc_timeout", "assignment_regtest_check_all_nodes", "blif_max_flat_gates",
    "cmp_lower_priority", "db_dir", "debug_msg", "debug_msg_file", "debug_msg_level", "disable_clock_enable",
    "dkf_enable_all_read_before_write_modes", "dkf_enable_sp_read_before_write_modes",
    "dkf_enable_tdp_read_before_write_modes", "dmgr_use_dev_for_all", "enable_tds_opt_j10_or_newer",
    "ftm_give_smt_lutmasks", "ftm_resyn_cascin_cascout_delay", "ftm_resyn_cascin_combout_delay",
    "ftm_resyn_check_delay", "ftm_resyn_cin_cascout_delay", "ftm_resyn_cin_combout_delay",
    "ftm_resyn_cin_cout_delay", "ftm_resyn_for_balanced", "ftm_resyn_for_speed",
    "ftm_resyn_lutin_cascout_delay", "ftm_resyn_lutin_combout_delay", "ftm_resyn_lutin_cout_delay",
    "ftm_resyn_lutin_regout_delay", "ftm_resyn_wire_carry_delay", "ftm_resyn_wire_casc_delay",
    "ftm_resyn_wire_data_delay", "ftm_resyn_wire_dff_delay", "ftm_resyn_wire_gh_delay",
    "ftm_resyn_wire_local_delay", "ftm_resyn_wire_sum_delay", "ftm_td_dump_critical_oterms",
    "ftm_td_include_pin_to_reg_paths", "ftm_td_include_reg_to_pin_paths", "gen_profile", "helper_binary_dir",
    "helper_fault", "high_speed_regs_requirement", "high_speed_regs_verbose", "hwd_timing_driven_synthesis",
    "infer_allow_preserve_absorb", "kavu_01tbl_debug", "kavu_01tbl_quick_fd", "kavu_01tbl_quick_multiplicity",
    "kavu_01tbl_use_delay_tie_break", "kavu_allow_quellin_lcell_comb_unmap", "kavu_analyze_critical_paths",
    "kavu_bdd_build_luts_experimental", "kavu_bdd_dump_tables", "kavu_bus_ops_verbose", "kavu_confidence",
    "kavu_conservative_splitting", "kavu_create_port_names_for_lcell_combs",
    "kavu_create_port_names_for_wysiwygs", "kavu_create_real_name",
    "kavu_create_unique_synthesized_name_verbose", "kavu_cut_debug", "kavu_cut_percentile",
    "kavu_cuts_in_mffcs_are_undesirable", "kavu_debug_lut_unmapper", "kavu_debug_print_all_preserve_nodes",
    "kavu_delay_buffer_gate", "kavu_delay_comb_gate", "kavu_delay_compute_small_mux_delays_directly",
    "kavu_delay_dump_oterms_per_profile", "kavu_delay_dump_path_collection",
    "kavu_delay_dump_path_collection_all_delays", "kavu_delay_dump_path_collection_all_nodes",
    "kavu_delay_hard_buffers", "kavu_delay_hard_operators", "kavu_delay_hard_wys_comb_arith",
    "kavu_delay_hard_wys_combs", "kavu_delay_huge_gate_size", "kavu_delay_lcell_carry_in",
    "kavu_delay_lcell_casc_in", "kavu_delay_lcell_control_in", "kavu_delay_lcell_data_in",
    "kavu_delay_lcell_reg_casc_in", "kavu_delay_lcell_reg_out", "kavu_delay_lcell_reg_to_comb_out",
    "kavu_delay_look_through_carry_buffers", "kavu_delay_look_through_carry_of_carry_sums",
    "kavu_delay_look_through_wys_lcells", "kavu_delay_lut_gate", "kavu_delay_mux_gate",
    "kavu_delay_stats_dump_slack_profile", "kavu_delay_stats_use_neighbors_penalty",
    "kavu_delay_use_neighbors_penalty", "kavu_delay_use_synth_seed", "kavu_depends_seq_for_dkf",
    "kavu_device_debug_dump", "kavu_dff_ring_slower", "kavu_disable_partition_refine_on_fanout",
    "kavu_disable_ssc", "kavu_dmig_sort_netlist", "kavu_dont_convert_feedback_latches",
    "kavu_dont_cut_between_dec_and_mux_sticks", "kavu_dont_cut_between_selectors_and_logic",
    "kavu_dont_cut_between_xors_and_mux_stuffs", "kavu_dont_cut_qfbk",
    "kavu_dont_look_through_soft_lcell_buffer", "kavu_dont_merge_on_bus", "kavu_dont_merge_sms",
    "kavu_dump_boundary_connections", "kavu_dump_debug_number_mappings", "kavu_dump_more_secondary_stats",
    "kavu_dump_no_seq_depth", "kavu_dump_post_wl_netlist", "kavu_dump_reg_secondaries",
    "kavu_dump_secondary_stats", "kavu_factor_accel", "kavu_fix_registers_connected_to_domain_verbose",
    "kavu_force_ssc", "kavu_give_connectivity_stats_on_macs", "kavu_give_connectivity_stats_on_mults",
    "kavu_give_stats_on_macs", "kavu_identify_critical_nodes",
    "kavu_indy_dupe_ignore_merge_across_hierarchies", "kavu_keep_non_seq_depth",
    "kavu_lut_unmapper_dump_cache_cones", "kavu_lut_unmapper_no_caching",
    "kavu_lut_unmapper_no_generalized_and_or", "kavu_lut_unmapper_no_generalized_xnor",
    "kavu_lut_unmapper_sanity_check", "kavu_mac_port_delay", "kavu_make_loops_critical",
    "kavu_make_one_ff_loops_critical", "kavu_max_num_partitions", "kavu_min_netlist_size",
    "kavu_min_width_ce_for_unmap", "kavu_min_width_sld_sclr_for_unmap", "kavu_mls_repartition",
    "kavu_net_stats_parsable", "kavu_netlist_estimate", "kavu_no_mffc_muxcut", "kavu_no_qfbk_check",
    "kavu_partition_allow_limited_cut_cutting", "kavu_partition_min_fanout_threshold",
    "kavu_partition_new_mffc_algo", "kavu_partition_very_verbose", "kavu_partitioner_dump_msg",
    "kavu_partitioner_dump_netlists", "kavu_qfbk_max_depth", "kavu_reg_connex_stats", "kavu_run_ssc_debug",
    "kavu_run_ssc_debug_timing_analysis", "kavu_sanity_check_duplicate_names", "kavu_seq_cal_fanout_delay",
    "kavu_seq_critical_test", "kavu_seq_dont_fix_preserve", "kavu_seq_dont_fix_reg",
    "kavu_seq_dump_critical_path", "kavu_seq_dump_critical_path_points", "kavu_seq_dump_failing_points",
    "kavu_seq_dump_mac_info", "kavu_seq_dump_ram_info", "kavu_seq_dump_scc_longest_arr_path",
    "kavu_seq_fix_ff_d_only", "kavu_seq_minimize_carry_delay", "kavu_seq_only_dump_critical_timing",
    "kavu_seq_pack_reg_to_mac", "kavu_seq_scc_changing_arc", "kavu_seq_scc_dump_iteration",
    "kavu_seq_scc_dump_longest_path", "kavu_seq_scc_walk_through_mac", "kavu_seq_skew_boundary_node_depth",
    "kavu_seq_timer_always_recalculate_comb_gate_delay", "kavu_seq_timer_clk_domain_backward_debug",
    "kavu_seq_timer_clk_domain_forward_debug", "kavu_seq_timer_clk_domain_sorted_oterm_dump",
    "kavu_seq_timer_debug_fix_reg_io", "kavu_seq_timer_dump_all_scc",
    "kavu_seq_timer_dump_all_scc_after_best_cycle_cal", "kavu_seq_timer_dump_all_timing",
    "kavu_seq_timer_dump_clock_domain_info", "kavu_seq_timer_dump_clock_domain_oterms",
    "kavu_seq_timer_dump_fixed_registered", "kavu_seq_timer_dump_indexed_oterms",
    "kavu_seq_timer_find_fixed_registers_verbose", "kavu_seq_timer_pack_ram", "kavu_seq_timer_pack_to_ram",
    "kavu_seq_timer_reg_ram_mark", "kavu_seq_timer_scc_debug", "kavu_seq_timer_scc_oterm_list_debug",
    "kavu_seq_timer_verbose", "kavu_seq_use_non_seq_max_depth", "kavu_set_device", "kavu_skip_merging_adjacent",
    "kavu_skip_merging_irrelevant", "kavu_skip_merging_reconverge", "kavu_skip_merging_share_input",
    "kavu_sort_debug", "kavu_sort_dont_dfs", "kavu_sort_dump_begin_end_oterms",
    "kavu_sort_synth_seed_allow_netlist_reorder", "kavu_sort_use_non_recur", "kavu_ssc_check_reg_merge",
    "kavu_ssc_dont_check_tds", "kavu_ssc_dump_compatible_registers", "kavu_ssc_dump_tdb",
    "kavu_ssc_high_speed_slack_threshold", "kavu_ssc_metastability_verbose",
    "kavu_ssc_print_synchronizer_chains", "kavu_ssc_protect_synchronizers",
    "kavu_ssc_protect_synchronizers_all_families", "kavu_ssc_skip_sdc_load",
    "kavu_ssc_write_netlist_per_partition", "kavu_stamp_very_verbose", "kavu_stats_dump_fanout",
    "kavu_stats_many", "kavu_stats_mux_input_profile", "kavu_stats_no_delay", "kavu_stats_no_wire",
    "kavu_subnet_debug", "kavu_tarrow_delay", "kavu_td_scan_options_file", "kavu_tds_make_loops_critical",
    "kavu_timing_analysis_sanity_check", "kavu_track_large_gates", "kavu_try_to_reuse_and_for_sec_sig_fix",
    "kavu_unmap_ena_skip_sclr", "kavu_unmap_sanity_check", "kavu_use_annotated_boundary_delays",
    "kavu_use_boolean_unmap", "kavu_use_tervo_estimator_map", "kavu_waive_indy_dupe", "kavu_wt_sr",
    "kavu_wv_num_bound_sizes", "kavu_wysiwyg_unmapper_unmap_41_mux_luts", "llis_always_write_db",
    "llis_debug_msg", "llis_dump_dot", "llis_exclude_tristate_buffer_from_relevant_src_nodes",
    "llis_hack_dont_remove_dont_touch_before_atom_builder", "llis_ie_on_name_lookup_failure",
    "llis_insert_artificial_fibs", "llis_soft_lcell_artificial_fib", "llis_write_out_fanout_free_fibs",
    "mem_chunk_alloc", "mls_dupe_dff_enhance_debug_print", "mls_dupe_dff_enhance_inner_loop_cap", "msg_print",
    "msg_suppress", "opt_dff_flags_verbose", "opt_dont_display_inference_parameter_messages",
    "opt_fake_ormond_as_brae", "opt_force_register_masher", "opt_ignore_ram_style_for_size_check",
    "opt_min_rom_depth_for_6_lut_families", "opt_no_dup_wys_ff", "opt_packed_register_report_group_names",
    "opt_read_critical_signals_from_ini", "opt_smt_fake_pikel_ram_to_be_ormond", "opt_sync_unmap_verbose",
    "parallel_mls_flow",
    "parallel_mls_flow_disabled", "parallel_monitor_memory", "parallel_names_paranoid",
    "parallel_num_partitions", "parallel_pipe_timeout_s", "parallel_rtl_flow", "parallel_rtl_flow_disabled",
    "parallel_use_pipes", "pdb_check_names", "pelii_macs_for_ormond", "put_max_threads",
    "quellin_arith_physical_lutmask", "quellin_has_sclr_over_ena_priority", "quellin_timing_driven_synthesis",
    "qv_enable_all_read_before_write_modes", "qv_enable_sp_read_before_write_modes",
    "qv_enable_tdp_read_before_write_modes", "rapid_recompile_supported", "regtest_mode",
    "rtl_force_counter_recognition", "rtl_net_stats", "rtl_net_stats_parsable",
    "rtm_ignore_tesk_internal_error", "rtm_tesk_restrict_regs", "sarvel_retimer_fast_forward_emulate",
    "seq_timer_validation", "sim_verify_debug", "smek_protect_verbose", "smt_dump_netlist_for_connex_stats",
    "smt_fanout_stats", "smt_lut_max_inputs", "smt_reg_connex_stats", "ssc_allow_scripts",
    "ssc_default_period", "ssc_fanout_delay", "ssc_sdc_file", "ssc_table_carry_delay", "ssc_table_comb_delay",
    "ssc_table_lcell_delay", "ssc_table_lut_delay", "ssc_table_mux_delay", "ssc_table_operator_delay",
    "sta_binary", "sta_keep_files", "sta_timeout", "stamp_always_ie_on_mismatch", "synth_less_debug_messages",
    "synth_max_carry_chain_length", "synth_max_inputs_per_carry_chain_lab", "synth_seed",
    "tds_disable_high_speed_regs", "tds_high_speed_regs_use_relaxed_slack", "tds_use_high_speed_regs",
    "timing_driven_synthesis_disable_mapper", "timing_driven_synthesis_disable_mast",
    "timing_driven_synthesis_disable_opt_fsyn", "timing_driven_synthesis_disable_rom_inference",
    "timing_driven_synthesis_disable_sr_inference", "timing_driven_synthesis_enable_mapper",
    "timing_driven_synthesis_enable_mast", "timing_driven_synthesis_enable_opt_fsyn",
    "timing_driven_synthesis_enable_rom_inference", "timing_driven_synthesis_enable_sr_inference",
    "tvq_deep_check", "use_braeholt", "use_new_atom_based_llis", "wl_enable_arithmetic_operators",
    "wl_enable_components", "wl_enable_dffs", "wl_enable_rams", "wl_enable_wysiwygs", "wl_to_sgate_verbose",
    "wl_use_ff_bit_names", "yosys_binary", "yosys_timeout",
};

// Names made at run time: the debug switch of a message component, the
// user switches, the critical signals and their speed marks, and the
// switches of a parallel-synthesis partition type ("p<type>_<word>").
const char* const k_key_families[] = {
    "debug_msg_*", "user_ini_switch_*", "opt_critical_signal_*", "p*_dump", "p*_parallel", "p*_pdb",
    "p*_die_after_writing_partitions",
};

// The largest delay a key may set (see the file comment).
constexpr int MAX_KEY_DELAY = 100000;
// The largest time of the timing engine's constraints: a clock period.
constexpr int MAX_KEY_PERIOD = 1000000000;

constexpr kavu_platform::CFG_INT_RANGE delay(const char* key) { return {key, 0, MAX_KEY_DELAY}; }
constexpr kavu_platform::CFG_INT_RANGE at_least(const char* key, int lo) { return {key, lo, INT_MAX}; }

const kavu_platform::CFG_INT_RANGE k_int_ranges[] = {
    at_least("abc_timeout", 1),
    at_least("blif_max_flat_gates", 1),
    at_least("debug_msg_level", 0),
    delay("ftm_resyn_cascin_cascout_delay"),
    delay("ftm_resyn_cascin_combout_delay"),
    delay("ftm_resyn_cin_cascout_delay"),
    delay("ftm_resyn_cin_combout_delay"),
    delay("ftm_resyn_cin_cout_delay"),
    delay("ftm_resyn_lutin_cascout_delay"),
    delay("ftm_resyn_lutin_combout_delay"),
    delay("ftm_resyn_lutin_cout_delay"),
    delay("ftm_resyn_lutin_regout_delay"),
    delay("ftm_resyn_wire_carry_delay"),
    delay("ftm_resyn_wire_casc_delay"),
    delay("ftm_resyn_wire_data_delay"),
    delay("ftm_resyn_wire_dff_delay"),
    delay("ftm_resyn_wire_gh_delay"),
    delay("ftm_resyn_wire_local_delay"),
    delay("ftm_resyn_wire_sum_delay"),
    {"high_speed_regs_requirement", 0, MAX_KEY_PERIOD},  // compared with requirements
    at_least("kavu_01tbl_debug", 0),
    {"kavu_confidence", 0, 100},  // a percentage
    {"kavu_cut_percentile", 0, 100},
    delay("kavu_delay_buffer_gate"),
    delay("kavu_delay_comb_gate"),
    at_least("kavu_delay_huge_gate_size", -1),  // -1: no gate is huge
    delay("kavu_delay_lcell_carry_in"),
    delay("kavu_delay_lcell_casc_in"),
    delay("kavu_delay_lcell_control_in"),
    delay("kavu_delay_lcell_data_in"),
    delay("kavu_delay_lcell_reg_casc_in"),
    delay("kavu_delay_lcell_reg_out"),
    delay("kavu_delay_lcell_reg_to_comb_out"),
    delay("kavu_delay_lut_gate"),
    delay("kavu_delay_mux_gate"),
    delay("kavu_mac_port_delay"),
    at_least("kavu_max_num_partitions", 1),
    at_least("kavu_min_netlist_size", 0),
    at_least("kavu_min_width_ce_for_unmap", 0),
    at_least("kavu_min_width_sld_sclr_for_unmap", 0),
    at_least("kavu_partition_min_fanout_threshold", 1),
    {"kavu_qfbk_max_depth", 0, 1000},  // the depth the feedback search is built for
    delay("kavu_seq_critical_test"),   // a step below the best cycle time
    at_least("kavu_seq_timer_verbose", 0),
    at_least("kavu_sort_debug", 0),
    {"kavu_ssc_high_speed_slack_threshold", -MAX_KEY_PERIOD, MAX_KEY_PERIOD},  // compared with slacks
    at_least("kavu_wt_sr", 0),
    {"kavu_wv_num_bound_sizes", 1, 5},  // bound sets below a LUT of at most 6 inputs
    at_least("mls_dupe_dff_enhance_inner_loop_cap", 1),
    at_least("opt_min_rom_depth_for_6_lut_families", 0),
    at_least("parallel_num_partitions", 1),
    {"parallel_pipe_timeout_s", INT_MIN, INT_MAX},  // 0 or below: the parallel flow refuses to run, saying why
    at_least("put_max_threads", 1),                 // unset: no cap
    {"smt_lut_max_inputs", 1, 6},
    {"ssc_default_period", 1, MAX_KEY_PERIOD},
    // The delay of a gate is 1 plus this per fan-out: a gate of a million
    // fan-outs at the bound stays at 10^9.
    {"ssc_fanout_delay", 0, 1000},
    delay("ssc_table_carry_delay"),
    delay("ssc_table_comb_delay"),
    delay("ssc_table_lcell_delay"),
    delay("ssc_table_lut_delay"),
    delay("ssc_table_mux_delay"),
    delay("ssc_table_operator_delay"),
    at_least("sta_timeout", 1),
    at_least("synth_max_carry_chain_length", -1),   // -1: no limit
    at_least("synth_max_inputs_per_carry_chain_lab", -1),
    {"synth_seed", INT_MIN, INT_MAX},
    at_least("yosys_timeout", 1),
};

bool matches_family(std::string_view key, std::string_view family) {
  const size_t star = family.find('*');
  const std::string_view head = family.substr(0, star), tail = family.substr(star + 1);
  return key.size() > head.size() + tail.size() && key.substr(0, head.size()) == head &&
         key.substr(key.size() - tail.size()) == tail;
}

}  // namespace

namespace kavu_platform {

bool cfg_key_is_read(std::string_view lower_key) {
  const auto less = [](const char* a, std::string_view b) { return std::string_view(a) < b; };
  const auto it = std::lower_bound(std::begin(k_keys_read), std::end(k_keys_read), lower_key, less);
  if (it != std::end(k_keys_read) && lower_key == *it) return true;
  return std::any_of(std::begin(k_key_families), std::end(k_key_families),
                     [lower_key](const char* f) { return matches_family(lower_key, f); });
}

std::span<const char* const> cfg_keys_read() { return k_keys_read; }

std::span<const char* const> cfg_key_families() { return k_key_families; }

std::span<const CFG_INT_RANGE> cfg_int_key_ranges() { return k_int_ranges; }

bool cfg_int_key_range(std::string_view lower_key, int* lo, int* hi) {
  const auto less = [](const CFG_INT_RANGE& a, std::string_view b) { return std::string_view(a.key) < b; };
  const auto it = std::lower_bound(std::begin(k_int_ranges), std::end(k_int_ranges), lower_key, less);
  if (it == std::end(k_int_ranges) || lower_key != it->key) return false;
  *lo = it->lo;
  *hi = it->hi;
  return true;
}

}  // namespace kavu_platform
