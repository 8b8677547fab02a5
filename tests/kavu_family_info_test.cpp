// Tests of the family capability record: every flag of the four accepted
// base families against the capability table, the configuration keys that
// change answers, the refused families, the computed RAM and size rules,
// the tag record, and the register and atom helpers.
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
#include "testkit/platform_testkit.h"

using kavu_platform::CFG_SCOPE;

namespace {

class KavuFamilyInfo : public ::testing::Test {
 protected:
  void SetUp() override { kavu_reset_lumcast_migration_cache(); }
  void TearDown() override { kavu_reset_lumcast_migration_cache(); }

  CMP_FACADE& facade(int base, int user = 0) {
    m_facade.set_base_family(DEV_FAMILY_ENUM(base));
    m_facade.set_family(DEV_FAMILY_ENUM(user ? user : base));
    return m_facade;
  }

  CMP_FACADE m_facade;
};

typedef bool (RTL_FAMILY_INFO::*FLAG_GETTER)() const;

struct FLAG_ROW {
  const char* m_name;
  FLAG_GETTER m_getter;
  bool m_brae;     // families 15 and 47, every key at its default
  bool m_quellin;  // families 25 and 45
};

#define FLAG(name, brae, quellin) {#name, &RTL_FAMILY_INFO::name, brae, quellin}

const FLAG_ROW kFlagTable[] = {
    FLAG(has_ram, true, true),
    FLAG(use_orlsyncram, true, false),
    FLAG(use_orlind_syncram, false, true),
    FLAG(has_tolvaram, false, false),
    FLAG(has_lumcast_ram, false, false),
    FLAG(has_lutram, true, true),
    FLAG(has_old_style_tolvaram, false, false),
    FLAG(has_mac_blocks, true, true),
    FLAG(dff_sec_sigs_help, true, true),
    FLAG(use_pterm_rtl, false, false),
    FLAG(use_faster_script, false, false),
    FLAG(use_kolder_carry, false, false),
    FLAG(use_j7_carry, false, false),
    FLAG(use_brae_carry, true, false),
    FLAG(use_quellin_carry, false, true),
    FLAG(has_quellin_style_extended_lut, false, true),
    FLAG(has_viterbi_mode, false, false),
    FLAG(allow_preset, false, false),
    FLAG(allow_aload, false, false),
    FLAG(allow_sload, true, false),
    FLAG(sclr_over_ena_priority, false, false),
    FLAG(has_second_sclr, false, true),
    FLAG(has_cascade, false, false),
    FLAG(has_clock_ena, true, true),
    FLAG(has_inva, false, false),
    FLAG(recognize_counters, false, false),
    FLAG(recognize_addsubs, true, true),
    FLAG(use_z9k_style_mux, false, false),
    FLAG(use_vdr_style_mux, false, false),
    FLAG(use_brae_style_mux, true, true),
    FLAG(allow_non_chain_sload, true, true),
    FLAG(uses_split_wys, true, true),
    FLAG(mac_has_dynamic_addsub, false, false),
    FLAG(mac_has_multiplier_pipeline_registers, false, false),
    FLAG(mac_has_level_one_oper_pipeline_registers, true, true),
    FLAG(ram_can_do_single_port_old_data, false, true),
    FLAG(ram_can_do_single_port_new_data, true, false),
    FLAG(ram_can_do_tdp_mixed_ports_old_data, true, false),
    FLAG(ram_can_do_tdp_mixed_width, true, false),
    FLAG(ram_can_do_tdp_dual_clock, true, false),
    FLAG(mac_has_loopback_mode, true, true),
    FLAG(mac_pipeline_registers_have_same_signals, true, true),
    FLAG(mac_has_adder_chain, true, true),
    FLAG(shift_reg_power_up_is_dont_care, true, true),
    FLAG(no_unsigned_accumulator_subtract, true, true),
    FLAG(ram_has_address_stall, true, true),
    FLAG(correct_default_pwrup, true, true),
    FLAG(allow_register_masher, false, false),
    FLAG(shift_reg_supports_aclr, true, true),
    FLAG(tolvaram_can_do_mixed_port_old_data, false, false),
    FLAG(can_init_block_ram, true, true),
    FLAG(ram_can_do_quad_port, false, true),
    FLAG(ram_can_do_force_to_zero, false, true),
};

#undef FLAG

struct LIMITS_ROW {
  int m_family;
  int m_max_chain;
  int m_max_inputs_per_lab;
  char m_addr_power_up;
};

const LIMITS_ROW kLimitsTable[] = {
    {15, -1, -1, '0'},
    {25, 820, -1, 'x'},
    {45, 720, 48, 'x'},
    {47, -1, -1, '0'},
};

TEST_F(KavuFamilyInfo, EveryFlagOfEachBaseFamilyMatchesTheTable) {
  for (const LIMITS_ROW& limits : kLimitsTable) {
    const RTL_FAMILY_INFO info(&facade(limits.m_family));
    const bool brae = limits.m_family == 15 || limits.m_family == 47;
    for (const FLAG_ROW& row : kFlagTable) {
      EXPECT_EQ((info.*row.m_getter)(), brae ? row.m_brae : row.m_quellin)
          << "family " << limits.m_family << " flag " << row.m_name;
    }
    EXPECT_EQ(info.max_carry_chain_length(), limits.m_max_chain) << limits.m_family;
    EXPECT_EQ(info.max_inputs_per_carry_chain_lab(), limits.m_max_inputs_per_lab) << limits.m_family;
    EXPECT_EQ(info.ram_r20k_addr_reg_default_power_up_value(), limits.m_addr_power_up) << limits.m_family;
    EXPECT_FALSE(info.ram_can_do_new_data_with_nbe_read(false)) << limits.m_family;
    EXPECT_FALSE(info.ram_can_do_tdp_same_port_old_data()) << limits.m_family;
    EXPECT_TRUE(info.is_28nm_or_newer()) << limits.m_family;
    EXPECT_TRUE(info.can_use_read_enable()) << limits.m_family;
    EXPECT_EQ(info.must_connect_sdp_ram_addressstall_to_rden(), !brae) << limits.m_family;
    EXPECT_EQ(info.get_base_family(), limits.m_family);
  }
}

TEST_F(KavuFamilyInfo, NullFacadeMeansTheCurrentCompile) {
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade(45, 54));
  const RTL_FAMILY_INFO info;
  EXPECT_EQ(info.get_base_family(), 45);
  EXPECT_EQ(info.get_user_family(), 54);
  EXPECT_TRUE(info.force_true_wys_flow());
  EXPECT_FALSE(RTL_FAMILY_INFO(&facade(45)).force_true_wys_flow());
  ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(nullptr), "facade");
}

TEST_F(KavuFamilyInfo, FamiliesOutsideTheFourAreRefused) {
  for (int family : {0, 3, 6, 8, 34, 54, 66}) {
    SCOPED_TRACE(family);
    EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(&facade(family)), "RTL doesn't recognize the current family");
  }
  CFG_SCOPE cfg{{"use_braeholt", "on"}};
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(&facade(15)), "Family must be set to VDR to use Braeholt");
}

TEST_F(KavuFamilyInfo, ConfigurationKeysChangeTheGroupFlags) {
  {
    CFG_SCOPE cfg{{"synth_max_carry_chain_length", "100"}, {"synth_max_inputs_per_carry_chain_lab", "20"}};
    const RTL_FAMILY_INFO quellin(&facade(25));
    EXPECT_EQ(quellin.max_carry_chain_length(), 100);
    EXPECT_EQ(quellin.max_inputs_per_carry_chain_lab(), 20);
    // The Brae group has no limits, whatever the keys say.
    EXPECT_EQ(RTL_FAMILY_INFO(&facade(15)).max_carry_chain_length(), -1);
  }
  {
    CFG_SCOPE cfg{{"smt_lut_max_inputs", "4"}};
    const RTL_FAMILY_INFO brae(&facade(47));
    EXPECT_TRUE(brae.use_vdr_style_mux());
    EXPECT_FALSE(brae.use_brae_style_mux());
    EXPECT_TRUE(RTL_FAMILY_INFO(&facade(45)).use_brae_style_mux());
  }
  {
    CFG_SCOPE cfg{{"pelii_macs_for_ormond", "on"}, {"opt_fake_ormond_as_brae", "on"},
                  {"quellin_has_sclr_over_ena_priority", "on"}, {"opt_force_register_masher", "on"}};
    const RTL_FAMILY_INFO brae(&facade(15));
    EXPECT_FALSE(brae.has_mac_blocks());
    EXPECT_FALSE(brae.mac_has_loopback_mode());
    EXPECT_FALSE(brae.mac_pipeline_registers_have_same_signals());
    EXPECT_FALSE(brae.mac_has_level_one_oper_pipeline_registers());
    EXPECT_FALSE(brae.mac_has_adder_chain());
    EXPECT_TRUE(brae.allow_aload());
    EXPECT_FALSE(brae.sclr_over_ena_priority());
    EXPECT_TRUE(brae.allow_register_masher());
    const RTL_FAMILY_INFO quellin(&facade(45));
    EXPECT_TRUE(quellin.has_mac_blocks());
    EXPECT_FALSE(quellin.allow_aload());
    EXPECT_TRUE(quellin.sclr_over_ena_priority());
    EXPECT_TRUE(quellin.allow_register_masher());
  }
}

TEST_F(KavuFamilyInfo, ReadDuringWriteSwitchesEnableOldDataModes) {
  {
    // The "dkf" switch counts when the "qv" one is off.
    CFG_SCOPE cfg{{"dkf_enable_sp_read_before_write_modes", "on"}};
    const RTL_FAMILY_INFO brae(&facade(15));
    EXPECT_TRUE(brae.ram_can_do_single_port_old_data());
    EXPECT_TRUE(brae.ram_can_do_new_data_with_nbe_read(false));
    EXPECT_FALSE(brae.ram_can_do_tdp_same_port_old_data());
    EXPECT_FALSE(brae.ram_can_do_new_data_with_nbe_read(true));
  }
  {
    CFG_SCOPE cfg{{"qv_enable_tdp_read_before_write_modes", "on"}};
    const RTL_FAMILY_INFO brae(&facade(47));
    EXPECT_FALSE(brae.ram_can_do_single_port_old_data());
    EXPECT_TRUE(brae.ram_can_do_tdp_same_port_old_data());
    EXPECT_TRUE(brae.ram_can_do_new_data_with_nbe_read(true));
    // Family 45 is no 20-nm family: the nbe-read answer stays the flag.
    const RTL_FAMILY_INFO quellin(&facade(45));
    EXPECT_FALSE(quellin.ram_can_do_new_data_with_nbe_read(true));
    EXPECT_TRUE(quellin.ram_can_do_tdp_same_port_old_data());
  }
  {
    CFG_SCOPE cfg{{"qv_enable_all_read_before_write_modes", "on"}};
    const RTL_FAMILY_INFO quellin(&facade(25));
    EXPECT_TRUE(quellin.ram_can_do_single_port_old_data());
    EXPECT_TRUE(quellin.ram_can_do_new_data_with_nbe_read(false));
    EXPECT_TRUE(quellin.ram_can_do_tdp_same_port_old_data());
  }
}

TEST_F(KavuFamilyInfo, SizeRulesForShiftRegistersRamsRomsAndCounters) {
  const RTL_FAMILY_INFO info(&facade(25));
  EXPECT_TRUE(info.can_use_orlshift_taps(false, 4, 2, 4));   // 32 bits, width > 1
  EXPECT_FALSE(info.can_use_orlshift_taps(false, 4, 2, 3));  // 24 bits
  EXPECT_FALSE(info.can_use_orlshift_taps(false, 4, 8, 1));  // 32 bits, width 1 needs 64
  EXPECT_TRUE(info.can_use_orlshift_taps(false, 8, 8, 1));
  EXPECT_TRUE(info.can_use_orlshift_taps(true, 1, 1, 1));
  // A product beyond 32 bits stays large instead of wrapping.
  EXPECT_TRUE(info.can_use_orlshift_taps(false, 65536, 65536, 2));
  EXPECT_KAVU_INTERNAL_ERROR(info.can_use_orlshift_taps(true, 0, 1, 1), "number_of_taps > 0");
  EXPECT_KAVU_INTERNAL_ERROR(info.can_use_orlshift_taps(true, 1, 0, 1), "tap_distance > 0");
  EXPECT_KAVU_INTERNAL_ERROR(info.can_use_orlshift_taps(true, 1, 1, 0), "width > 0");

  EXPECT_TRUE(info.can_infer_ram(8, 8));    // depth below 16: 64 bits needed
  EXPECT_FALSE(info.can_infer_ram(8, 7));
  EXPECT_TRUE(info.can_infer_ram(16, 2));   // else 32 bits
  EXPECT_FALSE(info.can_infer_ram(16, 1));
  EXPECT_TRUE(info.can_infer_ram(65536, 65536));

  EXPECT_TRUE(info.can_infer_rom(256, 1));
  EXPECT_FALSE(info.can_infer_rom(255, 8));
  {
    CFG_SCOPE cfg{{"opt_min_rom_depth_for_6_lut_families", "64"}};
    EXPECT_TRUE(info.can_infer_rom(64, 4));
    EXPECT_FALSE(info.can_infer_rom(64, 3));
  }

  EXPECT_FALSE(info.can_infer_counter());
  CFG_SCOPE cfg{{"rtl_force_counter_recognition", "on"}};
  EXPECT_TRUE(info.can_infer_counter());
}

TEST_F(KavuFamilyInfo, UserFamilyGroupsAffectReadEnableAndLumcastRam) {
  // A 28-nm user family on a Brae base: single-port old data needs a switch.
  const RTL_FAMILY_INFO info(&facade(15, 8));
  EXPECT_FALSE(info.ram_can_do_single_port_old_data());
  EXPECT_TRUE(info.can_use_read_enable());
  EXPECT_FALSE(info.has_lumcast_ram());
  EXPECT_TRUE(RTL_FAMILY_INFO(&facade(45, 35)).has_lumcast_ram());
  EXPECT_TRUE(RTL_FAMILY_INFO(&facade(25, 34)).has_lumcast_ram());
}

TEST_F(KavuFamilyInfo, TagMessageRecordsFamiliesProcessAndSetFlagsInOrder) {
  kavu_platform::tag_reset();
  RTL_FAMILY_INFO(&facade(45)).tag_message();
  const std::vector<std::string> texts = kavu_platform::tag_texts(73);
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[0], "User family = HARROWDALE, base family = HARROWDALE");
  EXPECT_EQ(texts[1], "Family process is: 14nm");
  auto index_of = [&](const std::string& t) {
    for (size_t i = 0; i < texts.size(); ++i) {
      if (texts[i] == t) return int(i);
    }
    return -1;
  };
  EXPECT_LT(index_of("Use QUELLIN-style carry"), index_of("Max carry chain length 720"));
  EXPECT_LT(index_of("Max carry chain length 720"), index_of("Has QUELLIN-style extended LUT"));
  EXPECT_GE(index_of("Has RAM"), 0);
  EXPECT_EQ(index_of("Use BRAEHOLT-style carry"), -1);  // not set
  EXPECT_EQ(index_of("Allow sload"), -1);

  kavu_platform::tag_reset();
  cdb_sgate_set_synthesis_running_in_parallel(true);
  RTL_FAMILY_INFO(&facade(15)).tag_message();
  cdb_sgate_set_synthesis_running_in_parallel(false);
  EXPECT_FALSE(kavu_platform::tag_is_set(73));
  RTL_FAMILY_INFO(&facade(15)).tag_message();
  EXPECT_EQ(kavu_platform::tag_texts(73)[1], "Family process is: 20nm");
}

TEST_F(KavuFamilyInfo, DffOkForFamilyChecksControlsByPosition) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* d = kavu_platform::make_input_pin(&nl, "d");
  CDB_SGATE_NODE* clk = kavu_platform::make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* reg = kavu_platform::make_dff(&nl, d, clk);
  const RTL_FAMILY_INFO brae(&facade(15));
  const RTL_FAMILY_INFO quellin(&facade(25));
  // Unconnected controls are refused rather than read as constants.
  EXPECT_KAVU_INTERNAL_ERROR(brae.dff_ok_for_family(reg), "cdb_is_connected(iterm)");

  reg->get_input_term(3)->set_gnd();  // preset
  reg->get_input_term(6)->set_gnd();  // aload
  reg->get_input_term(8)->set_gnd();  // sload
  EXPECT_TRUE(brae.dff_ok_for_family(reg));
  EXPECT_TRUE(quellin.dff_ok_for_family(reg));
  reg->get_input_term(8)->set_source(d->get_output_term(0));
  EXPECT_TRUE(brae.dff_ok_for_family(reg));  // Brae registers have sload
  EXPECT_FALSE(quellin.dff_ok_for_family(reg));
  reg->get_input_term(8)->set_gnd();
  reg->get_input_term(3)->set_vcc();
  EXPECT_FALSE(brae.dff_ok_for_family(reg));

  // A register with fewer inputs than the positions read is refused, not
  // read past its input list.
  CDB_SGATE_DFF* small = new CDB_SGATE_DFF(nullptr);
  nl.add_node(small, true);
  small->set_ordered_input_term(small->create_input_term(nullptr, 20), 0);
  small->get_input_term(0)->set_source(d->get_output_term(0));
  EXPECT_KAVU_INTERNAL_ERROR(quellin.dff_ok_for_family(small), "cdb_is_connected(iterm)");
  delete small;
  EXPECT_KAVU_INTERNAL_ERROR(quellin.dff_ok_for_family(d), "kavu_is_a_dff (dff)");
}

TEST_F(KavuFamilyInfo, AtomHelpersFollowTheBaseFamily) {
  HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  const RTL_FAMILY_INFO quellin(&facade(45, 54));
  std::unique_ptr<CDB_SGATE_NODE> ff(quellin.make_family_wys_lc_ff(name));
  std::unique_ptr<CDB_SGATE_NODE> lm(quellin.make_family_wys_logic_module(name));
  std::unique_ptr<CDB_SGATE_NODE> comb(quellin.make_family_wys_lc_comb(name));
  EXPECT_EQ(ff->cast_to_wysiwyg()->get_wysiwyg_type(), 94);
  EXPECT_EQ(lm->cast_to_wysiwyg()->get_wysiwyg_type(), 122);
  EXPECT_EQ(comb->cast_to_wysiwyg()->get_wysiwyg_type(), 93);
  EXPECT_EQ(quellin.make_family_wys_lc(name), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO(&facade(47)).make_family_wys_logic_module(name),
                             "unsupported family");

  quellin.flag_as_arith(comb.get());
  EXPECT_TRUE(comb->cast_to_wysiwyg()->mode_is_set(1));
  EXPECT_KAVU_INTERNAL_ERROR(quellin.flag_as_arith(nullptr), "wys");
}

TEST_F(KavuFamilyInfo, SclrOverEnaPriorityByFlipFlopType) {
  // The key is read once per process; at its default every type answers false.
  for (CDB_WYSIWYG_TYPE type : {62, 94, 115, 10006, 10499}) {
    EXPECT_FALSE(RTL_FAMILY_INFO::ff_has_sclr_over_ena_priority(type)) << type;
  }
  EXPECT_KAVU_INTERNAL_ERROR(RTL_FAMILY_INFO::ff_has_sclr_over_ena_priority(61), "Unknown WYS FF type");
}

}  // namespace
