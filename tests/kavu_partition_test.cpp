// Tests of a whole partitioning run on real and generated sequential designs:
// the labelling, boundary and cut-level invariants, and the undo.
#include <map>
#include <memory>
#include <set>

#include "hdb/hdb.h"
#include "kavu_partition.h"
#include "kavu_partition_int.h"
#include "kavu_setup.h"
#include "netlist_io/simulator.h"
#include "partition_test_support.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;
using kavu_partition_detail::labellable;
using kavu_partition_detail::GROW_KEYS;
using kavu_partition_detail::grow_partition_with;
using kavu_partition_detail::pid;

namespace {

// Every labellable gate has an id; an edge between ids runs from an output
// boundary to an input boundary; one output boundary per cut signal and one
// input boundary per sink partition; bus registers share an id; no cut edge
// had cut level 3. Returns the first violation, empty when none.
std::string partition_violation(CDB_SGATE_NETLIST* nl, const KAVU_PARTITIONER& part) {
  KAVU_NAME_TO_NODES_MAP buses;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    if (kavu_is_a_silly_buffer(n)) return "cut buffer left: " + n->get_debug_name();
    if (!labellable(n)) continue;
    if (pid(n) < 1 || pid(n) > g_partition_id) return "no id: " + n->get_debug_name();
    if (kavu_is_a_dff(n, true)) buses[kavu_get_bus_name(n)].push_back(n);
    int output_boundaries = 0;
    for (CDB_SGATE_OTERM* o : n->get_output_terms()) {
      if (!o) continue;
      std::set<int> sink_partitions;
      for (CDB_SGATE_ITERM* t : o->fanouts()) {
        CDB_SGATE_NODE* s = t->get_my_node();
        output_boundaries += kavu_is_a_boundary_output(s);
        if (kavu_is_a_boundary_input(n) && part.get_cut_level(t) >= 3) return "level-3 edge cut";
        if (!labellable(s) || pid(s) == pid(n)) continue;
        if (!kavu_is_a_boundary_output(n) || !kavu_is_a_boundary_input(s))
          return "edge between partitions without boundaries: " + n->get_debug_name() + " -> " + s->get_debug_name();
        if (!sink_partitions.insert(pid(s)).second) return "two input boundaries for one partition";
      }
    }
    if (output_boundaries > 1) return "two output boundaries for one signal: " + n->get_debug_name();
  }
  for (const auto& bus : buses)
    for (CDB_SGATE_NODE* r : bus.second)
      if (pid(r) != pid(bus.second.front())) return "bus split: " + r->get_debug_name();
  return "";
}

int partition_count(CDB_SGATE_NETLIST* nl) {
  std::set<int> ids;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && labellable(*it)) ids.insert(pid(*it));
  return int(ids.size());
}

// Partitions a copy of the golden design into n parts, checks the invariants
// and the function, undoes and checks again; the oracle runs when `oracle`.
void partition_and_undo(const CDB_SGATE_NETLIST* golden, const std::string& name, int n, bool oracle) {
  std::unique_ptr<CDB_SGATE_NETLIST> nl(clone_netlist(golden));
  KAVU_TRACK(nl.get());
  nl->prepare_for_use();
  nl->sweep(false);
  const uint32_t before = nl->size();
  KAVU_PARTITIONER part;
  part.partition_on_reg_boundary(nl.get(), nullptr, partition_params(n), false);
  EXPECT_EQ(partition_violation(nl.get(), part), "") << name << " into " << n;
  std::string why;
  EXPECT_TRUE(sim_equivalent(golden, nl.get(), SIM_COMPARE{4, 8, 3}, &why)) << name << " into " << n << ": " << why;
  kavu_delete_partition_on_reg_boundary(nl.get());
  EXPECT_FALSE(kavu_netlist_has_boundary_sgates(nl.get())) << name;
  EXPECT_EQ(nl->size(), before) << name << " into " << n;
  if (oracle) {
    ASSERT_KAVU_EQUIVALENT(golden, nl.get());
  } else {
    EXPECT_TRUE(sim_equivalent(golden, nl.get(), SIM_COMPARE{4, 8, 5}, &why)) << name << ": " << why;
  }
}

bool has_registers(const CDB_SGATE_NETLIST* nl) {
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it, true)) return true;
  return false;
}

}  // namespace

TEST(KavuPartitionRun, BundledSequentialDesignsKeepInvariantsAndUndo) {
  PARTITION_TEST_SCOPE scope;
  int designs = 0;
  for (const std::string& name : bundled_circuits({"seq", "mcnc", "small"})) {
    if (name.find("_lut6") != std::string::npos) continue;  // the 4-LUT and generic forms cover the kinds
    LOADED_NETLIST golden = load_blif(name);
    if (!has_registers(golden.get())) continue;
    ++designs;
    for (int n : {2, 8, 32}) partition_and_undo(golden.get(), name, n, n == 8);
  }
  EXPECT_GE(designs, 10);
}

TEST(KavuPartitionRun, GeneratedDesignSplitsAndKeepsBusesTogether) {
  PARTITION_TEST_SCOPE scope;
  std::unique_ptr<CDB_SGATE_NETLIST> golden(make_bus_design(100000, 1));
  golden->sweep(false);
  ASSERT_GE(golden->size(), 100000u);
  for (int n : {2, 8, 32}) {
    std::unique_ptr<CDB_SGATE_NETLIST> nl(clone_netlist(golden.get()));
    KAVU_PARTITIONER part;
    g_partition_id = 0;
    part.partition_on_reg_boundary(nl.get(), nullptr, partition_params(n), false);
    EXPECT_EQ(partition_violation(nl.get(), part), "") << n;
    EXPECT_GE(partition_count(nl.get()), n) << "a design of independent buses splits at least n ways";
    const uint32_t with_boundaries = nl->size();
    kavu_delete_partition_on_reg_boundary(nl.get());
    EXPECT_LT(nl->size(), with_boundaries);
    EXPECT_EQ(nl->size(), golden->size());
    if (n == 8) {
      ASSERT_KAVU_EQUIVALENT(golden.get(), nl.get());
    }
  }
}

TEST(KavuPartitionRun, SmallNetlistStaysWholeAndRedoGivesTheSameLabels) {
  PARTITION_TEST_SCOPE scope;
  LOADED_NETLIST nl = load_blif("small/counter8_lut4");
  KAVU_TRACK(nl);
  kavu_min_netlist_size = int(nl->size());  // exactly the limit: one partition
  KAVU_PARTITIONER part;
  part.partition_on_reg_boundary(nl.get(), nullptr, SYNTH::KAVU::PARTITIONING_PARAMS(), false);
  EXPECT_EQ(partition_count(nl.get()), 1);
  EXPECT_FALSE(kavu_netlist_has_boundary_sgates(nl.get()));
  kavu_min_netlist_size = 0;
  part.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
  const uint32_t size_first = nl->size();
  const int count_first = partition_count(nl.get());
  part.redo_partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
  EXPECT_EQ(nl->size(), size_first);
  EXPECT_EQ(partition_count(nl.get()), count_first);
  EXPECT_EQ(partition_violation(nl.get(), part), "");
}

TEST(KavuPartitionRun, GatesWithoutOutputTerminalsAreNeverLabelled) {
  // A sink-only device atom has no output terminal to carry an id: the run
  // neither seeds nor labels it and never cuts the edges into it.
  PARTITION_TEST_SCOPE scope;
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(&nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r = make_dff(&nl, make_not(&nl, a), clk);
  r->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "r", nullptr, nullptr, nullptr));
  make_output_pin(&nl, "q", r);
  CDB_SGATE_WYSIWYG* sink = new CDB_SGATE_WYSIWYG(nullptr, CDB_WYSIWYG_TYPE(5000));
  sink->insert_unordered_fanin(r->get_single_oterm());
  sink->insert_unordered_fanin(make_not(&nl, a)->get_single_oterm());
  nl.add_node(sink);
  ASSERT_EQ(sink->get_single_oterm(), nullptr);
  KAVU_PARTITIONER part;
  part.partition_on_reg_boundary(&nl, nullptr, partition_params(2), false);
  EXPECT_EQ(partition_violation(&nl, part), "");
  for (CDB_SGATE_ITERM* t : sink->get_input_terms())
    EXPECT_FALSE(kavu_is_a_boundary(t->get_source()->get_my_node())) << "edge into the atom was cut";
}

TEST(KavuPartitionRun, ParametersAreAFixedSet) {
  CFG_SCOPE cfg{{"parallel_num_partitions", "12"}};
  SYNTH::KAVU::PARTITIONING_PARAMS p;
  EXPECT_EQ(p.get_int_param("num_partitions"), 12);
  EXPECT_EQ(p.get_int_param("max_num_partitions"), 32);
  EXPECT_FALSE(p.get_bool_param("never_cut_combinational_logic"));
  SYNTH::KAVU::PARTITIONING_PARAMS copy = p;
  copy.set_param("num_partitions", 3);
  EXPECT_EQ(p.get_int_param("num_partitions"), 12);
  EXPECT_EQ(copy.get_int_param("num_partitions"), 3);
  EXPECT_KAVU_INTERNAL_ERROR(p.get_int_param("num_parts"), "find_iter != m_int_params_by_name.end()");
  EXPECT_KAVU_INTERNAL_ERROR(p.set_param("never_cut", true), "find_iter != m_bool_params_by_name.end()");
}

TEST(KavuPartitionRun, BusAndFractalMaps) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(&nl);
  HDB_NAMESPACE* ns = hdb_default_namespace();
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  std::vector<CDB_SGATE_NODE*> regs;
  for (int i = 0; i < 3; ++i) {
    regs.push_back(make_dff(&nl, clk, clk));
    regs.back()->set_instance_name(ns->create_group_instance_name(top, "q", i));
  }
  KAVU_NAME_TO_NODES_MAP map;
  kavu_map_bus_to_regs(&nl, &map);
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.begin()->second, regs);
  EXPECT_EQ(map.begin()->first->get_partial_name(), std::string("q"));
  EXPECT_EQ(kavu_get_bus_name(regs[1]), map.begin()->first);
  // A register named by a name whose representative is a bus element joins that bus.
  CDB_SGATE_NODE* alias = make_dff(&nl, clk, clk);
  HDB_INSTANCE_NAME* alias_name = HDB_INSTANCE_NAME::create_normal_name(nullptr, "alias", nullptr, nullptr, top);
  alias_name->set_representative_name(regs[0]->get_instance_name());
  alias->set_instance_name(alias_name);
  EXPECT_EQ(kavu_get_bus_name(alias), map.begin()->first);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_bus_name(clk), "kavu_is_a_dff(node, true)");
  regs[2]->set_instance_name(nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_map_bus_to_regs(&nl, &map), "iname != 0");

  // Fractal: the topmost instance carrying the assignment below the root.
  HDB_INSTANCE_NAME* u = HDB_INSTANCE_NAME::create_normal_name(nullptr, "u", nullptr, nullptr, top);
  HDB_INSTANCE_NAME* v = HDB_INSTANCE_NAME::create_normal_name(nullptr, "v", nullptr, nullptr, u);
  CDB_SGATE_NODE* g = make_not(&nl, clk);
  g->set_instance_name(v);
  EXPECT_EQ(kavu_get_fractal_name(g), nullptr);
  hdb_set_option(v, ACF_FRACTAL_SYNTHESIS, "on");
  EXPECT_EQ(kavu_get_fractal_name(g), v);
  hdb_set_option(u, ACF_FRACTAL_SYNTHESIS, "on");
  hdb_set_option(top, ACF_FRACTAL_SYNTHESIS, "on");
  EXPECT_EQ(kavu_get_fractal_name(g), u) << "the root itself is never the fractal name";
  kavu_map_fractal_to_nodes(&nl, &map);
  ASSERT_EQ(map.count(u), 1u);
  EXPECT_EQ(map[u], std::vector<CDB_SGATE_NODE*>{g});
}

TEST(KavuPartitionRun, StateMachineAndFractalBuddiesShareTheirPartition) {
  // Four unconnected islands pin -> gate -> pin; the islands' gates are two
  // states of one machine and two gates of one fractal instance.
  PARTITION_TEST_SCOPE scope;
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(&nl);
  CDB_STATE_MACHINE machine;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* frac = HDB_INSTANCE_NAME::create_normal_name(nullptr, "f", nullptr, nullptr, top);
  hdb_set_option(frac, ACF_FRACTAL_SYNTHESIS, "on");
  std::vector<CDB_SGATE_NODE*> gates;
  for (int i = 0; i < 4; ++i) {
    CDB_SGATE_NODE* pin = make_input_pin(&nl, ("i" + std::to_string(i)).c_str());
    CDB_SGATE_NODE* g = nullptr;
    if (i < 2) {
      CDB_SGATE_STATE* s = new CDB_SGATE_STATE(nullptr, &machine);
      s->insert_unordered_fanin(pin->get_single_oterm());
      nl.add_node(s);
      machine.add_state(s);
      g = s;
    } else {
      g = make_not(&nl, pin);
      g->set_instance_name(frac);
    }
    gates.push_back(make_not(&nl, g));
    gates.push_back(g);
    make_output_pin(&nl, ("o" + std::to_string(i)).c_str(), gates.back());
  }
  KAVU_PARTITIONER part;
  part.partition_on_reg_boundary(&nl, nullptr, partition_params(4), false);
  EXPECT_EQ(partition_violation(&nl, part), "");
  EXPECT_EQ(pid(gates[1]), pid(gates[3])) << "states of one machine";
  EXPECT_EQ(pid(gates[5]), pid(gates[7])) << "gates of one fractal instance";
  {
    CFG_SCOPE cfg{{"kavu_dont_merge_sms", "on"}, {"kavu_skip_merging_irrelevant", "on"},
                  {"kavu_skip_merging_adjacent", "on"}};
    kavu_partition_reset_process_state();
    part.redo_partition_on_reg_boundary(&nl, nullptr, partition_params(4), false);
    EXPECT_NE(pid(gates[1]), pid(gates[3])) << "without state-machine buddies the islands stay apart";
  }
  kavu_partition_reset_process_state();
}

// Growth with virtual cuts treats a signal whose fan-out reaches the
// threshold as cut, from its driver (fan-out side) and from a reader (fan-in
// side); one fan-out fewer is crossed both ways.
TEST(KavuPartitionRun, VirtualGrowthStopsAtFanoutsReachingTheThreshold) {
  PARTITION_TEST_SCOPE scope;
  for (int fanouts : {g_partition_min_fanout_threshold - 1, int(g_partition_min_fanout_threshold)}) {
    SCOPED_TRACE(fanouts);
    const bool crossed = fanouts < g_partition_min_fanout_threshold;
    HUB_DESIGN d(fanouts);
    std::unique_ptr<KAVU_PARTITIONER_STATE> st = partition_cut_levels(&d.nl);
    for (CDB_SGATE_NODE* seed : {d.hub, d.readers[0]}) {
      kavu_reset_aux_and_aux2_values(&d.nl);
      g_partition_id = 1;
      grow_partition_with(GROW_KEYS::read(), seed, st.get(), true);
      const bool joined = seed == d.hub ? pid(d.readers.back()) == 1 : pid(d.hub) == 1;
      EXPECT_EQ(joined, crossed) << (seed == d.hub ? "fan-out side" : "fan-in side");
    }
  }
}
