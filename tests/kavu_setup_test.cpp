// Tests of what the library sets up when it loads and tears down when it
// unloads.
//
// The load-time keys are tested two ways: with no configuration (the
// defaults), and in a second CTest registration of this executable that sets
// every key to a non-default value through KAVU_INI_SET before the process
// starts (tests/CMakeLists.txt), so the real load sequence reads them.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "kavu_setup.h"
#include "testkit/platform_testkit.h"

namespace {

bool configuration_from_environment() {
  return std::getenv("KAVU_INI_SET") != nullptr || std::getenv("KAVU_INI_FILE") != nullptr;
}

// Every load-time global, as one comparable record.
struct LOAD_TIME_VALUES {
  bool depends_seq_for_dkf, cut_debug, delay_use_synth_seed, debug_lut_unmapper;
  bool ssc_skip_sdc_load, use_tervo_estimator_map, partitioner_dump_msg;
  bool bus_ops_verbose, wl_to_sgate_verbose, wl_use_ff_bit_names;
  bool seq_dont_fix_preserve, seq_dont_fix_reg;
  int confidence, wt_sr, partition_min_fanout_threshold, min_netlist_size, mac_port_delay;

  bool operator==(const LOAD_TIME_VALUES&) const = default;
};

LOAD_TIME_VALUES current_values() {
  return {kavu_depends_seq_for_dkf, kavu_cut_debug,          kavu_delay_use_synth_seed,
          kavu_debug_lut_unmapper,  kavu_ssc_skip_sdc_load,  kavu_use_tervo_estimator_map,
          g_partitioner_dump_msg,   kavu_bus_ops_verbose,    wl_to_sgate_verbose,
          wl_use_ff_bit_names,      kavu_seq_dont_fix_preserve, kavu_seq_dont_fix_reg,
          kavu_confidence,          kavu_wt_sr,              g_partition_min_fanout_threshold,
          kavu_min_netlist_size,    kavu_mac_port_delay};
}

// Defaults: three on/off keys on, every other off; 90, 0, 5, 20000, 0.
const LOAD_TIME_VALUES k_defaults = {false, false, false, false, true, true, false,
                                     false, false, true,  false, false,
                                     90,    0,     5,     20000, 0};

// What the environment registration sets: every flag flipped, every integer
// changed (tests/CMakeLists.txt).
const LOAD_TIME_VALUES k_environment = {true, true, true, true, false, false, true,
                                        true, true, false, true,  true,
                                        75,   3,    9,    1234,  17};

std::string describe(const LOAD_TIME_VALUES& v) {
  return ::testing::PrintToString(std::vector<int>{
      v.depends_seq_for_dkf, v.cut_debug, v.delay_use_synth_seed, v.debug_lut_unmapper,
      v.ssc_skip_sdc_load, v.use_tervo_estimator_map, v.partitioner_dump_msg, v.bus_ops_verbose,
      v.wl_to_sgate_verbose, v.wl_use_ff_bit_names, v.seq_dont_fix_preserve, v.seq_dont_fix_reg,
      v.confidence, v.wt_sr, v.partition_min_fanout_threshold, v.min_netlist_size,
      v.mac_port_delay});
}

TEST(KavuSetupLoadTimeKeys, HoldTheirDefaultsWithoutConfiguration) {
  if (configuration_from_environment()) GTEST_SKIP() << "configuration set in the environment";
  EXPECT_EQ(current_values(), k_defaults) << describe(current_values());
}

TEST(KavuSetupLoadTimeKeys, AreReadOnceAndOnlyAgainOnRequest) {
  const LOAD_TIME_VALUES at_load = current_values();
  {
    kavu_platform::CFG_SCOPE scope{{"kavu_confidence", "12"},
                                   {"kavu_ssc_skip_sdc_load", "off"},
                                   {"wl_use_ff_bit_names", "off"},
                                   {"kavu_partitioner_dump_msg", "on"},
                                   {"kavu_min_netlist_size", "0x100"}};
    // A setting changed after load leaves the globals as the load read them.
    EXPECT_EQ(current_values(), at_load) << describe(current_values());

    kavu_setup_read_load_time_keys();
    EXPECT_EQ(kavu_confidence, 12);
    EXPECT_FALSE(kavu_ssc_skip_sdc_load);
    EXPECT_FALSE(wl_use_ff_bit_names);
    EXPECT_TRUE(g_partitioner_dump_msg);
    EXPECT_EQ(kavu_min_netlist_size, 256);
    EXPECT_EQ(kavu_wt_sr, at_load.wt_sr);  // an untouched key keeps its value
  }
  kavu_setup_read_load_time_keys();
  EXPECT_EQ(current_values(), at_load) << describe(current_values());
}

// Runs only in the registration that sets KAVU_INI_SET.
TEST(KavuSetupLoadTimeKeysFromEnvironment, LoadReadsEveryKey) {
  if (std::getenv("KAVU_INI_SET") == nullptr) GTEST_SKIP() << "KAVU_INI_SET not set";
  EXPECT_EQ(current_values(), k_environment) << describe(current_values());
}

TEST(KavuSetupGlobals, ContainersStartEmpty) {
  const boost::dynamic_bitset<uint32_t>& skip = kavu_parallel_skip_reasons();
  EXPECT_EQ(skip.size(), 8u);
  EXPECT_EQ(skip.num_blocks(), 1u);
  EXPECT_TRUE(skip.none());

  const KAVU_TERVO_ESTIMATOR_HASH& tervo = kavu_tervo_estimator_hash();
  EXPECT_EQ(tervo.size(), 0u);
  EXPECT_EQ(tervo.bucket_count(), 61u);
  EXPECT_EQ(tervo.fill_limit(), 48u);
  EXPECT_FALSE(tervo.has_storage());

  EXPECT_TRUE(kavu_loop_oterms().empty());
  EXPECT_TRUE(kavu_loop_nodes().empty());
  EXPECT_TRUE(kavu_project_db_path().empty());
}

// The unload sequence runs when the process ends: a child process exits
// normally, and the estimator hash reports itself on the way out.
TEST(KavuSetupUnload, ReleasesTheEstimatorHashWithItsTrace) {
  EXPECT_EXIT(
      {
        kavu_platform::cfg_set_value("debug_msg_kavu", "on");
        std::exit(0);
      },
      [](int) { return true; }, "Cleaning up the Tervo estimator hash, size=0 ");
}

}  // namespace
