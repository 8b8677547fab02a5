// Tests of refinement thresholds, the merge rules, the gate comparisons and
// the boundary gates that replace cut buffers.
#include <algorithm>
#include <memory>

#include "kavu_partition.h"
#include "kavu_partition_int.h"
#include "kavu_setup.h"
#include "kavu_stats.h"
#include "kavu_stats_int.h"
#include "netlist_io/simulator.h"
#include "partition_test_support.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;
using namespace kavu_partition_detail;

TEST(KavuPartitionRefine, SplitThresholdTable) {
  const struct {
    std::vector<int> fanouts;
    int percentile, min, expected;
  } rows[] = {
      {{10, 6, 5, 2}, 20, 5, 10},   // cut_sum 4: the largest value reaches it
      {{2, 5, 10, 6}, 20, 5, 10},   // any order
      {{10, 6, 5, 2}, 100, 5, 5},   // all four needed: 2, raised to the minimum
      {{10, 6, 5, 2}, 50, 5, 6},    // cut_sum 11: 10 + 6
      {{10, 5, 5}, 50, 5, 10},      // cut_sum 10: reached exactly by the largest value
      {{10, 6, 5, 2}, 0, 5, 10},    // cut_sum 0: index 0
      {{4, 3, 2}, 50, 5, -1},       // even the largest is below the minimum
      {{}, 20, 5, -1},              // nothing to cut
  };
  for (const auto& row : rows)
    EXPECT_EQ(split_threshold_of(row.fanouts, row.percentile, row.min), row.expected)
        << "percentile " << row.percentile << " of " << row.fanouts.size() << " values";
}

TEST(KavuPartitionRefine, SmallPartitionsMergeIntoTheSmallerId) {
  const int saved_max = g_partition_size_max, saved_min = g_partition_size_min;
  g_partition_size_max = 10;
  g_partition_size_min = 8;
  const struct {
    std::vector<int> size;
    std::vector<int> expected_size;
    std::vector<int> expected_parent;
    int merges;
  } rows[] = {
      {{0, 3, 2}, {0, 0, 5}, {0, 2, 2}, 1},            // the merged partition keeps the smaller one's id
      {{0, 5, 5, 5}, {0, 5, 10, 0}, {0, 1, 2, 2}, 1},  // equal sizes: the larger id joins the smaller
      {{0, 9, 1}, {0, 9, 1}, {0, 1, 2}, 0},            // 9 is not small
      {{0, 7, 4, 2}, {0, 0, 4, 9}, {0, 3, 2, 3}, 1},   // 7 takes the largest partner that fits (2)
  };
  for (const auto& row : rows) {
    std::vector<int> size = row.size, parent(size.size());
    for (size_t i = 0; i < parent.size(); ++i) parent[i] = int(i);
    EXPECT_EQ(merge_small_partitions(parent, size), row.merges);
    EXPECT_EQ(size, row.expected_size);
    EXPECT_EQ(parent, row.expected_parent);
  }
  std::vector<int> parent{0, 0, 1, 2};
  EXPECT_EQ(find_root(parent, 3), 0);
  EXPECT_EQ(parent, (std::vector<int>{0, 0, 0, 0})) << "path compression";
  g_partition_size_max = saved_max;
  g_partition_size_min = saved_min;
}

TEST(KavuPartitionRefine, SameKindAndSameInputs) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* and1 = make_and(&nl, a, b);
  CDB_SGATE_NODE* and2 = make_and(&nl, a, b);
  CDB_SGATE_NODE* and3 = make_and(&nl, b, a);
  CDB_SGATE_NODE* or1 = make_or(&nl, a, b);
  CDB_SGATE_NODE* lut1 = make_lut(&nl, {a, b}, 0x8);
  CDB_SGATE_NODE* lut2 = make_lut(&nl, {a, b}, 0x6);
  CDB_SGATE_NODE* and4 = make_and(&nl, a, b);
  insert_cut_buffer(a->get_single_oterm(), and4->get_input_term(0), &nl);
  const struct {
    CDB_SGATE_NODE *x, *y;
    bool kind, inputs;
  } rows[] = {
      {and1, and2, true, true},   {and1, and3, true, false}, {and1, or1, false, false},
      {lut1, lut2, false, false}, {lut1, lut1, true, true},  {and1, and4, true, true},  // through the cut buffer
  };
  for (const auto& row : rows) {
    EXPECT_EQ(kavu_same_kind_of_gate(row.x, row.y), row.kind) << row.x->get_debug_name() << row.y->get_debug_name();
    EXPECT_EQ(kavu_same_inputs(row.x, row.y), row.inputs) << row.x->get_debug_name() << row.y->get_debug_name();
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_same_kind_of_gate(and1, nullptr), "sgate_a && sgate_b");
}

namespace {

struct FANOUT_NETLIST {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* src;
  std::vector<CDB_SGATE_NODE*> sinks;
};

// A source gate of partition 1 whose sinks lie in the given partitions,
// sink i with an inverted input when bit i of inv_k is set; each sink drives
// an output pin. cut_and_label then puts every sink behind a cut buffer and
// moves sink i's inversion onto the buffer's input when bit i of inv_j is set.
void build_fanout(FANOUT_NETLIST& f, const std::vector<int>& partitions, unsigned inv_k) {
  CDB_SGATE_NODE* a = make_input_pin(&f.nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&f.nl, "b");
  f.src = make_and(&f.nl, a, b);
  for (size_t i = 0; i < partitions.size(); ++i) {
    CDB_SGATE_NODE* k = make_xor(&f.nl, f.src, b);
    if (inv_k >> i & 1) k->get_input_term(0)->invert();
    f.sinks.push_back(k);
    make_output_pin(&f.nl, ("y" + std::to_string(i)).c_str(), k);
  }
}

void cut_and_label(FANOUT_NETLIST& f, const std::vector<int>& partitions, unsigned inv_j) {
  for (auto it = f.nl.begin_node_list(); it != f.nl.end_node_list(); ++it)
    if (*it) (*it)->get_single_oterm()->set_aux(1);
  for (size_t i = 0; i < f.sinks.size(); ++i) {
    CDB_SGATE_ITERM* k = f.sinks[i]->get_input_term(0);
    insert_cut_buffer(f.src->get_single_oterm(), k, &f.nl);
    CDB_SGATE_NODE* buffer = k->get_source()->get_my_node();
    if (inv_j >> i & 1) {  // move the sink's inversion onto the cut buffer's input
      buffer->get_input_term(0)->invert();
      k->invert();
    }
    f.sinks[i]->get_single_oterm()->set_aux(partitions[i]);
  }
  for (CDB_SGATE_IO* pin : f.nl.get_output_pins())
    pin->get_single_oterm()->set_aux(pin->get_input_term(0)->get_source()->get_aux());
}

}  // namespace

TEST(KavuPartitionRefine, OneOutputBoundaryPerSignalOneInputBoundaryPerPartition) {
  PARTITION_TEST_SCOPE scope;
  g_partition_id = 3;
  const std::vector<int> partitions{2, 3, 3};
  for (unsigned inv_j = 0; inv_j < 8; ++inv_j) {
    for (unsigned inv_k : {0u, 5u}) {
      FANOUT_NETLIST golden, f;
      build_fanout(golden, partitions, inv_k);
      build_fanout(f, partitions, inv_k);
      KAVU_TRACK(&f.nl);
      cut_and_label(f, partitions, inv_j);
      kavu_postprocess_partitions(&f.nl);
      std::string why;
      EXPECT_TRUE(sim_equivalent(&golden.nl, &f.nl, SIM_COMPARE{1, 1, 7}, &why))
          << "inversions J " << inv_j << " K " << inv_k << ": " << why;
      int outputs = 0, inputs = 0;
      for (auto it = f.nl.begin_node_list(); it != f.nl.end_node_list(); ++it) {
        if (!*it) continue;
        EXPECT_FALSE(kavu_is_a_silly_buffer(*it));
        outputs += kavu_is_a_boundary_output(*it);
        inputs += kavu_is_a_boundary_input(*it);
      }
      EXPECT_EQ(outputs, 1);
      EXPECT_EQ(inputs, 2);
      CDB_SGATE_NODE* in2 = f.sinks[1]->get_input_term(0)->get_source()->get_my_node();
      EXPECT_TRUE(kavu_is_a_boundary_input(in2));
      EXPECT_EQ(in2, f.sinks[2]->get_input_term(0)->get_source()->get_my_node()) << "one input boundary for partition 3";
      EXPECT_EQ(pid(in2), 3);
      EXPECT_EQ(pid(f.sinks[0]->get_input_term(0)->get_source()->get_my_node()), 2);
    }
  }
}

TEST(KavuPartitionRefine, CutsInsideOnePartitionGoAndLeaveNoCutBuffer) {
  // Every cut buffer joins one partition: only the first step changes
  // anything, and the report must still find no cut buffer afterwards.
  PARTITION_TEST_SCOPE scope;
  g_partition_id = 1;
  FANOUT_NETLIST golden, f;
  build_fanout(golden, {1, 1}, 0);
  build_fanout(f, {1, 1}, 0);
  KAVU_TRACK(&f.nl);
  cut_and_label(f, {1, 1}, 1);
  kavu_postprocess_partitions(&f.nl);
  f.nl.prepare_for_use();
  for (auto it = f.nl.begin_node_list(); it != f.nl.end_node_list(); ++it) {
    if (!*it) continue;
    EXPECT_FALSE(kavu_is_a_silly_buffer(*it) || kavu_is_a_boundary(*it));
  }
  kavu_print_partitions(&f.nl);
  EXPECT_TRUE(sim_equivalent(&golden.nl, &f.nl));
}

TEST(KavuPartitionRefine, RefinementSplitsAHighFanoutPartition) {
  // One input pin fans out to 64 independent gate chains, all in one
  // component behind the pin's cut: refinement cuts the wide signals.
  PARTITION_TEST_SCOPE scope;
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(&nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* hub = make_and(&nl, a, b);
  CDB_SGATE_NODE* hub2 = make_or(&nl, a, b);
  for (int i = 0; i < 64; ++i) {
    CDB_SGATE_NODE* g = make_xor(&nl, hub, hub2);
    for (int k = 0; k < 4; ++k) g = make_and(&nl, g, hub2);
    make_output_pin(&nl, ("y" + std::to_string(i)).c_str(), g);
  }
  DEBUG_CAPTURE cap("KAVU");
  KAVU_PARTITIONER part;
  part.partition_on_reg_boundary(&nl, nullptr, partition_params(8), false);
  EXPECT_TRUE(cap.contains("Split partition")) << "the component of the hubs is split";
  EXPECT_TRUE(cap.contains("Total number of partitions:"));
}

// A partition too big to keep whose hub has exactly as many fan-outs as the
// computed threshold: every one of them is cut.
TEST(KavuPartitionRefine, FanoutEqualToTheThresholdIsCut) {
  PARTITION_TEST_SCOPE scope;
  const int saved_max = g_partition_size_max, saved_advance = g_partition_size_advance;
  HUB_DESIGN d(g_partition_min_fanout_threshold);
  KAVU_TRACK(&d.nl);
  std::unique_ptr<KAVU_PARTITIONER_STATE> st = partition_cut_levels(&d.nl);
  kavu_reset_aux_and_aux2_values(&d.nl);
  g_partition_id = 1;
  grow_partition_with(GROW_KEYS::read(), d.hub, st.get(), false);
  create_partition_to_info_map(st.get(), &d.nl);
  EXPECT_EQ(compute_split_fanout_threshold(st.get(), 1, 2), g_partition_min_fanout_threshold);
  g_partition_size_max = 2;
  g_partition_size_advance = 1000;
  refine_partitions(st.get(), &d.nl);
  g_partition_size_max = saved_max;
  g_partition_size_advance = saved_advance;
  int cuts = 0;
  for (CDB_SGATE_ITERM* t : d.hub->get_single_oterm()->fanouts()) cuts += kavu_is_a_silly_buffer(t->get_my_node());
  EXPECT_EQ(cuts, g_partition_min_fanout_threshold);
  for (CDB_SGATE_NODE* r : d.readers) EXPECT_NE(pid(r), pid(d.hub));
}

TEST(KavuPartitionRefine, ReportsOfPartitions) {
  PARTITION_TEST_SCOPE scope;
  CDB_SGATE_NETLIST empty;
  {
    DEBUG_CAPTURE cap("KAVU");
    kavu_print_partitions(&empty);  // no gates: shares are 0, not NaN
    EXPECT_TRUE(cap.contains("Largest partition has 0 sgates (0.000)"));
  }
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  std::vector<CDB_SGATE_NODE*> nodes{a, make_not(&nl, a), make_not(&nl, a), make_and(&nl, a, a)};
  // Statistics print only with debug messages on; the gate is read afresh.
  CFG_SCOPE cfg{{"synth_less_debug_messages", "off"}, {"debug_msg", "on"}, {"debug_msg_file", "/dev/null"}};
  kavu_stats_reset_for_tests();
  KAVU_STATS stats;
  DEBUG_CAPTURE cap("KAVU");
  stats.report_on_node_vec(&nodes, "PART_7");
  kavu_stats_reset_for_tests();
  const auto tally = stats.get_tally();
  for (const auto& kind : {std::pair<std::string, uint32_t>{"IO", 1}, {"COMB", 3}})
    EXPECT_NE(std::find(tally.begin(), tally.end(), kind), tally.end()) << kind.first;
  EXPECT_TRUE(cap.contains("STATS_NODE_VEC_PART_7 :There are 4 sgates on the netlist."));
}
