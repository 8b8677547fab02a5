// The family capability record: flags per base family, answers that keys,
// user families and sizes change, refusals, the tag record and helpers.
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_device.h"
#include "kavu_family_info.h"
#include "kavu_family_info_int.h"
#include "testkit/platform_testkit.h"

namespace {

class KavuFamilyInfo : public ::testing::Test {
 protected:
  void SetUp() override { kavu_reset_lumcast_migration_cache(); }
  void TearDown() override { kavu_reset_lumcast_migration_cache(); }

  CMP_FACADE* facade(int base, int user = 0) {
    m_facade.set_base_family(DEV_FAMILY_ENUM(base));
    m_facade.set_family(DEV_FAMILY_ENUM(user ? user : base));
    return &m_facade;
  }

  CMP_FACADE m_facade;
};

struct FLAG_ROW {
  const char* m_name;
  bool (RTL_FAMILY_INFO::*m_getter)() const;
  bool m_brae;     // families 15 and 47, every key at its default
  bool m_quellin;  // families 25 and 45
};

#define FLAG(name, brae, quellin) {#name, &RTL_FAMILY_INFO::name, brae, quellin}

const FLAG_ROW kFlagTable[] = {
    FLAG(has_ram, 1, 1), FLAG(use_orlsyncram, 1, 0), FLAG(use_orlind_syncram, 0, 1), FLAG(has_tolvaram, 0, 0),
    FLAG(has_lumcast_ram, 0, 0), FLAG(has_lutram, 1, 1), FLAG(has_old_style_tolvaram, 0, 0),
    FLAG(has_mac_blocks, 1, 1), FLAG(dff_sec_sigs_help, 1, 1), FLAG(use_pterm_rtl, 0, 0),
    FLAG(use_faster_script, 0, 0), FLAG(use_kolder_carry, 0, 0), FLAG(use_j7_carry, 0, 0), FLAG(use_brae_carry, 1, 0),
    FLAG(use_quellin_carry, 0, 1), FLAG(has_quellin_style_extended_lut, 0, 1), FLAG(has_viterbi_mode, 0, 0),
    FLAG(allow_preset, 0, 0), FLAG(allow_aload, 0, 0), FLAG(allow_sload, 1, 0), FLAG(sclr_over_ena_priority, 0, 0),
    FLAG(has_second_sclr, 0, 1), FLAG(has_cascade, 0, 0), FLAG(has_clock_ena, 1, 1), FLAG(has_inva, 0, 0),
    FLAG(recognize_counters, 0, 0), FLAG(recognize_addsubs, 1, 1), FLAG(use_z9k_style_mux, 0, 0),
    FLAG(use_vdr_style_mux, 0, 0), FLAG(use_brae_style_mux, 1, 1), FLAG(allow_non_chain_sload, 1, 1),
    FLAG(uses_split_wys, 1, 1), FLAG(mac_has_dynamic_addsub, 0, 0), FLAG(mac_has_multiplier_pipeline_registers, 0, 0),
    FLAG(mac_has_level_one_oper_pipeline_registers, 1, 1), FLAG(ram_can_do_single_port_old_data, 0, 1),
    FLAG(ram_can_do_single_port_new_data, 1, 0), FLAG(ram_can_do_tdp_mixed_ports_old_data, 1, 0),
    FLAG(ram_can_do_tdp_mixed_width, 1, 0), FLAG(ram_can_do_tdp_dual_clock, 1, 0), FLAG(mac_has_loopback_mode, 1, 1),
    FLAG(mac_pipeline_registers_have_same_signals, 1, 1), FLAG(mac_has_adder_chain, 1, 1),
    FLAG(shift_reg_power_up_is_dont_care, 1, 1), FLAG(no_unsigned_accumulator_subtract, 1, 1),
    FLAG(ram_has_address_stall, 1, 1), FLAG(correct_default_pwrup, 1, 1), FLAG(allow_register_masher, 0, 0),
    FLAG(shift_reg_supports_aclr, 1, 1), FLAG(tolvaram_can_do_mixed_port_old_data, 0, 0),
    FLAG(can_init_block_ram, 1, 1), FLAG(ram_can_do_quad_port, 0, 1), FLAG(ram_can_do_force_to_zero, 0, 1),
};

#undef FLAG

TEST_F(KavuFamilyInfo, EveryFlagOfEachBaseFamilyMatchesTheTable) {
  struct LIMITS {
    int m_family, m_max_chain, m_max_inputs_per_lab;
    char m_addr_power_up;
  };
  for (const LIMITS& l : {LIMITS{15, -1, -1, '0'}, {25, 820, -1, 'x'}, {45, 720, 48, 'x'}, {47, -1, -1, '0'}}) {
    SCOPED_TRACE(l.m_family);
    const RTL_FAMILY_INFO info(facade(l.m_family));
    const bool brae = l.m_family == 15 || l.m_family == 47;
    for (const FLAG_ROW& row : kFlagTable)
      EXPECT_EQ((info.*row.m_getter)(), brae ? row.m_brae : row.m_quellin) << row.m_name;
    EXPECT_EQ(info.max_carry_chain_length(), l.m_max_chain);
    EXPECT_EQ(info.max_inputs_per_carry_chain_lab(), l.m_max_inputs_per_lab);
    EXPECT_EQ(info.ram_r20k_addr_reg_default_power_up_value(), l.m_addr_power_up);
    EXPECT_FALSE(info.ram_can_do_new_data_with_nbe_read(false));
    EXPECT_FALSE(info.ram_can_do_tdp_same_port_old_data());
    EXPECT_TRUE(info.is_28nm_or_newer() && info.can_use_read_enable());
    EXPECT_EQ(info.must_connect_sdp_ram_addressstall_to_rden(), !brae);
    EXPECT_EQ(info.get_base_family(), l.m_family);
  }
}

// One answer with a key set (others at their defaults) for a base and a
// user family (0: the base family).
struct ANSWER {
  const char *m_key, *m_value;
  int m_base, m_user;
  const char* m_query_text;
  std::function<bool(const RTL_FAMILY_INFO&)> m_query;
  bool m_expected;
};

#define Q(expr) #expr, [](const RTL_FAMILY_INFO& i) { return i.expr; }

TEST_F(KavuFamilyInfo, KeysUserFamiliesAndSizesChangeTheAnswers) {
  const ANSWER answers[] = {
      {"synth_max_carry_chain_length", "100", 25, 0, Q(max_carry_chain_length() == 100), true},
      {"synth_max_inputs_per_carry_chain_lab", "20", 25, 0, Q(max_inputs_per_carry_chain_lab() == 20), true},
      {"synth_max_carry_chain_length", "100", 15, 0, Q(max_carry_chain_length() == -1), true},  // Brae: no limits
      {"smt_lut_max_inputs", "4", 47, 0, Q(use_vdr_style_mux() && !i.use_brae_style_mux()), true},
      {"smt_lut_max_inputs", "4", 45, 0, Q(use_brae_style_mux()), true},
      {"pelii_macs_for_ormond", "on", 15, 0,
       Q(has_mac_blocks() || i.mac_has_loopback_mode() || i.mac_pipeline_registers_have_same_signals() ||
         i.mac_has_level_one_oper_pipeline_registers() || i.mac_has_adder_chain()),
       false},
      {"pelii_macs_for_ormond", "on", 45, 0, Q(has_mac_blocks()), true},
      {"opt_fake_ormond_as_brae", "on", 15, 0, Q(allow_aload()), true},
      {"opt_fake_ormond_as_brae", "on", 45, 0, Q(allow_aload()), false},
      {"quellin_has_sclr_over_ena_priority", "on", 15, 0, Q(sclr_over_ena_priority()), false},
      {"quellin_has_sclr_over_ena_priority", "on", 45, 0, Q(sclr_over_ena_priority()), true},
      {"opt_force_register_masher", "on", 15, 0, Q(allow_register_masher()), true},
      // Read-during-write switches; the "dkf" one counts when the "qv" one is off.
      {"dkf_enable_sp_read_before_write_modes", "on", 15, 0,
       Q(ram_can_do_single_port_old_data() && i.ram_can_do_new_data_with_nbe_read(false)), true},
      {"dkf_enable_sp_read_before_write_modes", "on", 15, 0,
       Q(ram_can_do_new_data_with_nbe_read(true) || i.ram_can_do_tdp_same_port_old_data()), false},
      {"qv_enable_tdp_read_before_write_modes", "on", 47, 0, Q(ram_can_do_single_port_old_data()), false},
      {"qv_enable_tdp_read_before_write_modes", "on", 47, 0,
       Q(ram_can_do_tdp_same_port_old_data() && i.ram_can_do_new_data_with_nbe_read(true)), true},
      // Family 45 is no 20-nm family: the nbe-read answer stays the flag.
      {"qv_enable_tdp_read_before_write_modes", "on", 45, 0, Q(ram_can_do_new_data_with_nbe_read(true)), false},
      {"qv_enable_tdp_read_before_write_modes", "on", 45, 0, Q(ram_can_do_tdp_same_port_old_data()), true},
      {"qv_enable_all_read_before_write_modes", "on", 25, 0,
       Q(ram_can_do_single_port_old_data() && i.ram_can_do_new_data_with_nbe_read(false) &&
         i.ram_can_do_tdp_same_port_old_data()),
       true},
      // User families: a 28-nm family on a Brae base, structured-ASIC companions.
      {"", "", 15, 8, Q(ram_can_do_single_port_old_data() || i.has_lumcast_ram()), false},
      {"", "", 15, 8, Q(can_use_read_enable()), true},
      {"", "", 45, 35, Q(has_lumcast_ram()), true},
      {"", "", 25, 34, Q(has_lumcast_ram()), true},
      {"", "", 45, 54, Q(force_true_wys_flow()), true},
      // Size rules: shift registers need 32 bits (64 for width 1), RAMs 32
      // (64 below depth 16), ROMs a depth and 256 bits; products never wrap.
      {"", "", 25, 0,
       Q(can_use_orlshift_taps(false, 4, 2, 4) && i.can_use_orlshift_taps(false, 8, 8, 1) &&
         i.can_use_orlshift_taps(true, 1, 1, 1) && i.can_use_orlshift_taps(false, 65536, 65536, 2)),
       true},
      {"", "", 25, 0, Q(can_use_orlshift_taps(false, 4, 2, 3) || i.can_use_orlshift_taps(false, 4, 8, 1)), false},
      {"", "", 25, 0, Q(can_infer_ram(8, 8) && i.can_infer_ram(16, 2) && i.can_infer_ram(65536, 65536)), true},
      {"", "", 25, 0, Q(can_infer_ram(8, 7) || i.can_infer_ram(16, 1)), false},
      {"", "", 25, 0, Q(can_infer_rom(256, 1) && !i.can_infer_rom(255, 8)), true},
      {"opt_min_rom_depth_for_6_lut_families", "64", 25, 0, Q(can_infer_rom(64, 4) && !i.can_infer_rom(64, 3)), true},
      {"", "", 25, 0, Q(can_infer_counter()), false},
      {"rtl_force_counter_recognition", "on", 25, 0, Q(can_infer_counter()), true},
  };
  for (const ANSWER& a : answers) {
    kavu_platform::CFG_SCOPE cfg{{*a.m_key ? a.m_key : "no_key_set", a.m_value}};
    EXPECT_EQ(a.m_query(RTL_FAMILY_INFO(facade(a.m_base, a.m_user))), a.m_expected)
        << a.m_query_text << " for " << a.m_base << "/" << a.m_user << " with " << a.m_key << "=" << a.m_value;
  }
}

#undef Q

// The ROM rule of every family of the table: with and without small RAMs,
// under each key (the minimum-depth key counts for the 6-LUT families only,
// the Pikel key for 14, 17 and 53 with small RAMs only); a family outside
// the table is an internal error. The record applies its base family's row.
TEST_F(KavuFamilyInfo, RomRuleOfEachFamily) {
  struct ROW {
    std::vector<int> m_families;
    const char *m_key, *m_value;
    bool m_small_rams;
    int m_depth;   // 0: no ROM
    int m_size;
  } const rows[] = {
      {{2, 4, 5, 31}, "", "", true, 64, 1024},
      {{2, 31}, "opt_min_rom_depth_for_6_lut_families", "16", false, 64, 1024},
      {{6, 7, 8, 15, 25, 34, 35, 36, 45, 47, 50, 57, 60, 61}, "", "", true, 256, 256},
      {{6, 61}, "", "", false, 256, 1024},
      {{8, 47}, "opt_min_rom_depth_for_6_lut_families", "64", true, 64, 256},
      {{45}, "opt_smt_fake_pikel_ram_to_be_ormond", "on", true, 256, 256},
      {{14, 17, 53}, "", "", true, 32, 1024},
      {{14, 17, 53}, "opt_smt_fake_pikel_ram_to_be_ormond", "on", true, 32, 256},
      {{53}, "opt_smt_fake_pikel_ram_to_be_ormond", "on", false, 32, 1024},
      {{17}, "opt_min_rom_depth_for_6_lut_families", "64", true, 32, 1024},
      {{66}, "", "", true, 32, 256},
      {{66}, "", "", false, 32, 1024},
      {{32, 41}, "", "", true, 0, 0},
  };
  for (const ROW& row : rows) {
    kavu_platform::CFG_SCOPE cfg{{*row.m_key ? row.m_key : "no_key_set", row.m_value}};
    for (int family : row.m_families) {
      const KAVU_ROM_RULE rule = kavu_family_rom_rule(DEV_FAMILY_ENUM(family), row.m_small_rams);
      EXPECT_EQ(rule.m_never, row.m_depth == 0) << family << " " << row.m_key;
      if (row.m_depth == 0) continue;
      EXPECT_EQ(rule.m_min_depth, row.m_depth) << family << " " << row.m_key;
      EXPECT_EQ(rule.m_min_size, row.m_size) << family << " " << row.m_key;
    }
  }
  for (int family : {0, 1, 3, 9, 19, 54, 62, 68})
    EXPECT_KAVU_INTERNAL_ERROR(kavu_family_rom_rule(DEV_FAMILY_ENUM(family), true),
                               "can_infer_rom doesn't recognize the current family");
}

TEST_F(KavuFamilyInfo, RefusedFamiliesAndArguments) {
  for (int family : {0, 3, 6, 8, 34, 54, 66})
    EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(facade(family)), "RTL doesn't recognize the current family");
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(nullptr), "facade");  // a null facade means the current compile
  ZCU_FACADE_UTIL::get_instance()->set_facade(facade(45, 54));
  EXPECT_TRUE(RTL_FAMILY_INFO().get_base_family() == 45 && RTL_FAMILY_INFO().get_user_family() == 54);
  ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr);
  const RTL_FAMILY_INFO info(facade(25));
  for (auto [taps, distance, width, words] : {std::tuple{0, 1, 1, "number_of_taps > 0"}, {1, 0, 1, "tap_distance > 0"},
                                              {1, 1, 0, "width > 0"}})
    EXPECT_KAVU_INTERNAL_ERROR(info.can_use_orlshift_taps(true, taps, distance, width), words);
  EXPECT_KAVU_INTERNAL_ERROR(info.flag_as_arith(nullptr), "wys");
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO::ff_has_sclr_over_ena_priority(61), "Unknown WYS FF type");
  kavu_platform::CFG_SCOPE cfg{{"use_braeholt", "on"}};
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(facade(15)), "Family must be set to VDR to use Braeholt");
}

// The tag record: families, process, then the set flags in record order
// around the carry-chain limit; nothing during parallel synthesis.
TEST_F(KavuFamilyInfo, TagMessageRecordsFamiliesProcessAndSetFlagsInOrder) {
  cdb_sgate_set_synthesis_running_in_parallel(true);
  RTL_FAMILY_INFO(facade(15)).tag_message();
  cdb_sgate_set_synthesis_running_in_parallel(false);
  EXPECT_FALSE(kavu_platform::tag_is_set(73));
  RTL_FAMILY_INFO(facade(45)).tag_message();
  const std::vector<std::string> texts = kavu_platform::tag_texts(73);
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 2),
            (std::vector<std::string>{"User family = HARROWDALE, base family = HARROWDALE", "Family process is: 14nm"}));
  auto at = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) - texts.begin(); };
  EXPECT_LT(at("Use QUELLIN-style carry"), at("Max carry chain length 720"));
  EXPECT_LT(at("Max carry chain length 720"), at("Has QUELLIN-style extended LUT"));
  EXPECT_EQ(at("Allow sload"), long(texts.size()));  // not set: not recorded
}

TEST_F(KavuFamilyInfo, DffOkForFamilyChecksControlsByPosition) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* d = kavu_platform::make_input_pin(&nl, "d");
  CDB_SGATE_NODE* reg = kavu_platform::make_dff(&nl, d, kavu_platform::make_input_pin(&nl, "clk"));
  const RTL_FAMILY_INFO brae(facade(15));
  const RTL_FAMILY_INFO quellin(facade(25));
  // Unconnected controls are refused rather than read as constants.
  EXPECT_KAVU_INTERNAL_ERROR(brae.dff_ok_for_family(reg), "cdb_is_connected(iterm)");
  for (unsigned position : {3u, 6u, 8u}) reg->get_input_term(position)->set_gnd();  // preset, aload, sload
  EXPECT_TRUE(brae.dff_ok_for_family(reg) && quellin.dff_ok_for_family(reg));
  reg->get_input_term(8)->set_source(d->get_output_term(0));
  EXPECT_TRUE(brae.dff_ok_for_family(reg) && !quellin.dff_ok_for_family(reg));  // Brae registers have sload
  reg->get_input_term(8)->set_gnd();
  reg->get_input_term(3)->set_vcc();
  EXPECT_FALSE(brae.dff_ok_for_family(reg));

  // A register with fewer inputs than the positions read is refused, not
  // read past its input list.
  std::unique_ptr<CDB_SGATE_DFF> small(new CDB_SGATE_DFF(nullptr));
  small->set_ordered_input_term(small->create_input_term(nullptr, 20), 0);
  small->get_input_term(0)->set_source(d->get_output_term(0));
  EXPECT_KAVU_INTERNAL_ERROR(quellin.dff_ok_for_family(small.get()), "cdb_is_connected(iterm)");
  EXPECT_KAVU_INTERNAL_ERROR(quellin.dff_ok_for_family(d), "kavu_is_a_dff (dff)");
}

TEST_F(KavuFamilyInfo, AtomHelpersFollowTheBaseFamily) {
  HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  const RTL_FAMILY_INFO quellin(facade(45, 54));
  std::unique_ptr<CDB_SGATE_NODE> ff(quellin.make_family_wys_lc_ff(name)), lm(quellin.make_family_wys_logic_module(name)),
      comb(quellin.make_family_wys_lc_comb(name));
  EXPECT_EQ((std::vector<int>{ff->cast_to_wysiwyg()->get_wysiwyg_type(), lm->cast_to_wysiwyg()->get_wysiwyg_type(),
                              comb->cast_to_wysiwyg()->get_wysiwyg_type()}),
            (std::vector<int>{94, 122, 93}));
  EXPECT_EQ(quellin.make_family_wys_lc(name), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(facade(47)).make_family_wys_logic_module(name), "unsupported family");
  quellin.flag_as_arith(comb.get());
  EXPECT_TRUE(comb->cast_to_wysiwyg()->mode_is_set(1));
  // The priority key is read once per process; at its default every type answers false.
  for (CDB_WYSIWYG_TYPE type : {62, 94, 115, 10006, 10499})
    EXPECT_FALSE(RTL_FAMILY_INFO::ff_has_sclr_over_ena_priority(type)) << type;
}

}  // namespace
