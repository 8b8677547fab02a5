// Load and unload. Load-time keys are also read in a second CTest run that
// sets every key through KAVU_INI_SET before the process starts.
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kavu_setup.h"
#include "testkit/platform_testkit.h"

namespace {

// Every load-time global, in this order: twelve on/off keys, then the
// confidence, wt_sr, partition fan-out threshold, minimum netlist size and
// MAC port delay.
std::vector<int> current_values() {
  return {kavu_depends_seq_for_dkf, kavu_cut_debug,        kavu_delay_use_synth_seed, kavu_debug_lut_unmapper,
          kavu_ssc_skip_sdc_load,   kavu_use_tervo_estimator_map, g_partitioner_dump_msg, kavu_bus_ops_verbose,
          wl_to_sgate_verbose,      wl_use_ff_bit_names,   kavu_seq_dont_fix_preserve, kavu_seq_dont_fix_reg,
          kavu_confidence,          kavu_wt_sr,            g_partition_min_fanout_threshold, kavu_min_netlist_size,
          kavu_mac_port_delay};
}

TEST(KavuSetupLoadTimeKeys, HoldTheirDefaultsWithoutConfiguration) {
  if (std::getenv("KAVU_INI_SET") || std::getenv("KAVU_INI_FILE")) GTEST_SKIP() << "configuration in the environment";
  EXPECT_EQ(current_values(), (std::vector<int>{0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 90, 0, 5, 20000, 0}));
}

TEST(KavuSetupLoadTimeKeys, AreReadOnceAndOnlyAgainOnRequest) {
  const std::vector<int> at_load = current_values();
  {
    kavu_platform::CFG_SCOPE scope{{"kavu_confidence", "12"},      {"kavu_ssc_skip_sdc_load", "off"},
                                   {"wl_use_ff_bit_names", "off"}, {"kavu_partitioner_dump_msg", "on"},
                                   {"kavu_min_netlist_size", "0x100"}};
    // A setting changed after load leaves the globals as the load read them.
    EXPECT_EQ(current_values(), at_load);
    kavu_setup_read_load_time_keys();
    std::vector<int> expected = at_load;  // an untouched key keeps its value
    for (auto [i, v] : {std::pair{4, 0}, {6, 1}, {9, 0}, {12, 12}, {15, 256}}) expected[size_t(i)] = v;
    EXPECT_EQ(current_values(), expected);
  }
  kavu_setup_read_load_time_keys();
  EXPECT_EQ(current_values(), at_load);
}

// Runs only in the registration that sets KAVU_INI_SET: every flag flipped,
// every integer changed.
TEST(KavuSetupLoadTimeKeysFromEnvironment, LoadReadsEveryKey) {
  if (std::getenv("KAVU_INI_SET") == nullptr) GTEST_SKIP() << "KAVU_INI_SET not set";
  EXPECT_EQ(current_values(), (std::vector<int>{1, 1, 1, 1, 0, 0, 1, 1, 1, 0, 1, 1, 75, 3, 9, 1234, 17}));
}

// The unload sequence runs when the process ends: a child process exits
// normally, and the estimator hash reports itself on the way out.
TEST(KavuSetupUnload, ReleasesTheEstimatorHashWithItsTrace) {
  EXPECT_EXIT((kavu_platform::cfg_set_value("debug_msg_kavu", "on"), std::exit(0)), [](int) { return true; },
              "Cleaning up the Tervo estimator hash, size=0 ");
}

}  // namespace

// The load builds the shared containers and fixed names other areas use:
// empty sets, distinct non-empty file and port names.
TEST(KavuSetupGlobals, ContainersAndNamesAreBuiltAtLoad) {
  EXPECT_TRUE(kavu_loop_oterms().empty() && kavu_loop_nodes().empty());
  EXPECT_EQ(kavu_tervo_estimator_hash().size(), 0u);
  EXPECT_TRUE(kavu_project_db_path().empty());
  EXPECT_GT(kavu_parallel_skip_reasons().size(), 0u);
  EXPECT_FALSE(kavu_retimer_name_marker().empty());
  auto distinct = [](const auto& names) {
    std::set<std::string> seen(names.begin(), names.end());
    return seen.size() == names.size() && !seen.count("");
  };
  EXPECT_TRUE(distinct(kavu_seq_report_file_names()));
  EXPECT_TRUE(distinct(kavu_mac_input_port_names()));
  EXPECT_TRUE(distinct(kavu_mac_output_port_names()));
}
