// Split and merge around the cut: state machines and their routed control
// signals, boundary delays, labelling after a sync point, the multiplexer
// restructuring tables and the boundary-pin cache.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

#include "basex/basex.h"
#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_delay.h"
#include "kavu_helper_predicates.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "netlist_io/generators.h"
#include "partition_test_support.h"
#include "platform_testkit.h"
#include "rdb/rdb.h"

using namespace kavu_platform;

namespace {

CDB_STATE_MACHINE* make_machine(const char* name) {
  auto* m = new CDB_STATE_MACHINE;
  m->set_name(name);
  m->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, name, nullptr, nullptr, nullptr));
  return m;
}

// Follows sources back through boundaries and protect buffers.
CDB_SGATE_OTERM* origin(CDB_SGATE_OTERM* t) {
  while (t && (kavu_is_a_boundary(t->get_my_node()) || kavu_is_a_protect_buffer(t->get_my_node()))) {
    CDB_SGATE_ITERM* in = t->get_my_node()->get_single_iterm();
    t = in ? in->get_source() : nullptr;
  }
  return t;
}

void rewire(CDB_SGATE_ITERM* in, CDB_SGATE_OTERM* src) {
  in->remove_fanin();
  src->insert_fanout(in);
}

// A machine of two state gates on a design: clocked by the design's clock
// pin, enabled and reset by two registers far apart in the list. Each state
// gate and each control signal is observed by an output pin.
struct DESIGN_MACHINE {
  CDB_STATE_MACHINE* machine = nullptr;
  CDB_SGATE_STATE* states[2] = {nullptr, nullptr};
  CDB_SGATE_OTERM* signals[3] = {nullptr, nullptr, nullptr};  // clk, clk_en, reset
  CDB_SGATE_NODE* observers[2] = {nullptr, nullptr};          // clk_en, reset
};

DESIGN_MACHINE add_machine(CDB_SGATE_NETLIST* nl, CDB_SGATE_HIERARCHY* hierarchy) {
  DESIGN_MACHINE d;
  std::vector<CDB_SGATE_NODE*> regs;
  for (CDB_SGATE_NODE* n : nl->get_node_list())
    if (n->cast_to_dff()) regs.push_back(n);
  EXPECT_GE(regs.size(), 2u);
  CDB_SGATE_ITERM* clk_in = regs[0]->get_input_term(CDB_DFF_CLK);
  d.machine = make_machine("fsm");
  for (int i = 0; i < 2; ++i) {
    d.states[i] = new CDB_SGATE_STATE(nullptr, d.machine);
    nl->add_node(d.states[i], true);
    d.machine->add_state(d.states[i]);
    make_output_pin(nl, ("state" + std::to_string(i)).c_str(), d.states[i]);
  }
  d.signals[0] = clk_in->get_source();
  d.signals[1] = regs[regs.size() / 2]->get_single_oterm();
  d.signals[2] = regs.back()->get_single_oterm();
  d.machine->set_clk(d.signals[0]);
  d.machine->set_clk_en(d.signals[1]);
  d.machine->set_reset(d.signals[2]);
  d.observers[0] = make_output_pin(nl, "obs_clk_en", d.signals[1]->get_my_node());
  d.observers[1] = make_output_pin(nl, "obs_reset", d.signals[2]->get_my_node());
  hierarchy->get_machine_list()->push_back(d.machine);
  return d;
}

// Replaces a state gate in its netlist by a new one of the same number and
// readers that knows no machine, as a helper's archive brings it back.
CDB_SGATE_STATE* rebuild(CDB_SGATE_STATE* old) {
  CDB_SGATE_NETLIST* home = old->get_netlist();
  auto* fresh = new CDB_SGATE_STATE(nullptr, nullptr);
  home->add_node(fresh, true);
  std::vector<CDB_SGATE_ITERM*> readers;
  old->get_single_oterm()->copy_fanouts(readers);
  for (CDB_SGATE_ITERM* t : readers) rewire(t, fresh->get_single_oterm());
  const unsigned number = old->get_debug_number();
  home->delete_node(old);
  delete old;
  fresh->set_debug_number(number);
  return fresh;
}

struct ROUTED_SCOPE : PARTITION_TEST_SCOPE {
  CFG_SCOPE cfg{{"parallel_mls_flow", "on"}};
};

}  // namespace

// On the sequential designs, with routing on: the machine keeps its states
// (one rebuilt by a "helper" with its number only, as archives do) and its
// control signals, which arrive through boundary pairs when they lie in
// another partition and stay equivalent. The pin cache is empty while split
// and holds exactly the pins with a clear cache byte after the merge.
TEST(KavuPartitionNetlistsAroundTheCut, StateMachinesAndPinCacheOnSequentialDesigns) {
  int routed = 0;
  for (const std::string& name : bundled_circuits({"seq"})) {
    for (int k : {2, 4, 8}) {
      SCOPED_TRACE(name + " into " + std::to_string(k));
      ROUTED_SCOPE scope;
      LOADED_NETLIST nl = load_blif(name);
      CDB_SGATE_HIERARCHY hierarchy;
      DESIGN_MACHINE d = add_machine(nl.get(), &hierarchy);
      auto* info = new BASEX_SGATE_NETLIST_INFO;
      nl->set_netlist_info(info);
      std::set<CDB_SGATE_IO*> pins;
      for (CDB_SGATE_NODE* n : nl->get_node_list())
        if (kavu_is_a_pin(n)) pins.insert(n->cast_to_io());
      for (CDB_SGATE_IO* p : pins) info->insert_boundary_pin(p, false);
      (*pins.begin())->set_pin_cache_byte(1);
      pins.erase(pins.begin());
      std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(nl.get()));
      KAVU_PARTITIONER partitioner;
      partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(k), false);
      KAVU_PARTITION_BOUNDARIES b;
      std::vector<CDB_SGATE_NETLIST*> parts;
      kavu_get_partition_netlists(parts, nl.get(), &hierarchy, nullptr, b, false);
      EXPECT_FALSE(hierarchy.has_machines());
      EXPECT_TRUE(info->begin_boundary_pin() == info->end_boundary_pin());
      EXPECT_EQ(d.states[1]->get_netlist(), d.states[0]->get_netlist());
      // The machine travels in the machine list of its states' partition.
      int lists = 0;
      for (CDB_SGATE_NETLIST* p : parts) lists += p->has_machines();
      EXPECT_EQ(lists, 1);
      ASSERT_TRUE(d.states[0]->get_netlist()->has_machines());
      EXPECT_EQ(d.states[0]->get_netlist()->get_machine_list()->front(), d.machine);
      CDB_SGATE_STATE* rebuilt = rebuild(d.states[0]);
      // The merge rebuilds the hierarchy's list from the partitions alone.
      hierarchy.get_machine_list()->push_back(make_machine("stale"));
      kavu_merge_netlists(parts, nl.get(), &hierarchy, b);
      ASSERT_EQ(hierarchy.get_machine_list()->size(), 1u);
      CDB_STATE_MACHINE* m = hierarchy.get_machine_list()->front();
      EXPECT_EQ(m->get_states(), (std::vector<CDB_SGATE_STATE*>{rebuilt, d.states[1]}));
      EXPECT_EQ(rebuilt->get_state_machine(), m);
      CDB_SGATE_OTERM* now[3] = {m->get_clk(), m->get_clk_en(), m->get_reset()};
      for (int i = 0; i < 3; ++i) {
        ASSERT_NE(now[i], nullptr);
        EXPECT_EQ(origin(now[i]), d.signals[i]) << "signal " << i;
        if (now[i] == d.signals[i]) continue;
        ++routed;
        EXPECT_TRUE(kavu_is_a_boundary_input(now[i]->get_my_node()));
      }
      EXPECT_EQ(std::set<CDB_SGATE_IO*>(info->begin_boundary_pin(), info->end_boundary_pin()), pins);
      rewire(d.observers[0]->get_single_iterm(), now[1]);
      rewire(d.observers[1]->get_single_iterm(), now[2]);
      std::string report;
      EXPECT_TRUE(nl->check(&report)) << report;
      ASSERT_KAVU_EQUIVALENT(golden.get(), nl.get());
    }
  }
  EXPECT_GT(routed, 0);
}

// Routing one signal on a hand-built netlist: partition 1 holds the
// machine, partition 2 the signals.
TEST(KavuPartitionNetlistsAroundTheCut, RouteOneSignal) {
  PARTITION_TEST_SCOPE scope;
  // An inverting protect buffer carries another signal and is passed by.
  enum SHAPE { SAME_PARTITION, BARE, BEHIND_INVERTING_PROTECT, BEHIND_PROTECT, BEHIND_PROTECT_AND_BOUNDARY };
  for (SHAPE shape : {SAME_PARTITION, BARE, BEHIND_INVERTING_PROTECT, BEHIND_PROTECT, BEHIND_PROTECT_AND_BOUNDARY}) {
    SCOPED_TRACE(int(shape));
    CDB_SGATE_NETLIST nl;
    CDB_STATE_MACHINE* machine = make_machine("fsm");
    std::unique_ptr<CDB_STATE_MACHINE> owner(machine);
    auto* state = new CDB_SGATE_STATE(nullptr, machine);
    nl.add_node(state, true);
    machine->add_state(state);
    state->get_single_oterm()->set_aux(1);
    CDB_SGATE_NODE* src = make_input_pin(&nl, "en");
    src->get_single_oterm()->set_aux(shape == SAME_PARTITION ? 1 : 2);
    CDB_SGATE_NODE* protect = nullptr;
    CDB_SGATE_NODE* existing = nullptr;
    if (shape >= BEHIND_INVERTING_PROTECT) {
      protect = make_buffer(&nl, src, CDB_BUFFER_PROTECT);
      protect->get_single_oterm()->set_aux(2);
      if (shape == BEHIND_INVERTING_PROTECT) protect->get_single_iterm()->set_invert();
    }
    if (shape == BEHIND_PROTECT_AND_BOUNDARY) {
      existing = create_boundary_node(1, protect->get_single_oterm(), nullptr, &nl);
      existing->get_single_oterm()->set_aux(2);
    }
    const size_t before = nl.size();
    CDB_SGATE_OTERM* routed = kavu_route_state_machine_signal(machine, &nl, src->get_single_oterm());
    if (shape == SAME_PARTITION) {
      EXPECT_EQ(routed, src->get_single_oterm());
      EXPECT_EQ(nl.size(), before);
      continue;
    }
    // An input boundary in the machine's partition, followed by a protect
    // buffer there, fed by an output boundary in the signal's partition.
    CDB_SGATE_NODE* in = routed->get_my_node();
    ASSERT_TRUE(kavu_is_a_boundary_input(in));
    EXPECT_EQ(routed->get_aux(), 1);
    EXPECT_EQ(in->cast_to_boundary()->get_partition_number(), 1);
    ASSERT_EQ(routed->get_number_of_fanout(), 1u);
    CDB_SGATE_NODE* buffer = (*routed->fanouts().begin())->get_my_node();
    EXPECT_TRUE(kavu_is_a_protect_buffer(buffer));
    EXPECT_EQ(buffer->get_single_oterm()->get_aux(), 1);
    CDB_SGATE_NODE* out = in->get_single_iterm()->get_source()->get_my_node();
    ASSERT_TRUE(kavu_is_a_boundary_output(out));
    EXPECT_EQ(out->get_single_oterm()->get_aux(), 2);
    if (existing) {
      EXPECT_EQ(out, existing);
    }
    CDB_SGATE_NODE* feeder = out->get_single_iterm()->get_source()->get_my_node();
    EXPECT_EQ(feeder, shape >= BEHIND_PROTECT ? protect : src);
    EXPECT_EQ(nl.size(), before + (existing ? 2u : 3u));
  }
}

// The default expert's delays over the whole design reach the boundary
// terminals of the partition netlists, marked valid.
TEST(KavuPartitionNetlistsAroundTheCut, BoundaryDelaysReachThePartitions) {
  for (const std::string& name : bundled_circuits({"seq"})) {
    SCOPED_TRACE(name);
    PARTITION_TEST_SCOPE scope;
    LOADED_NETLIST nl = load_blif(name);
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
    KAVU_BOUNDARY_DELAY_MAP expected;
    kavu_annotate_boundary_delays(nl.get(), expected);
    ASSERT_FALSE(expected.empty());
    std::map<CDB_SGATE_BOUNDARY*, CDB_SGATE_OTERM*> feeders;  // cut edges, by receiving boundary
    for (CDB_SGATE_NODE* n : nl->get_node_list())
      if (kavu_is_a_boundary_input(n) && kavu_is_a_boundary(n->get_single_iterm()->get_source()->get_my_node()))
        feeders[n->cast_to_boundary()] = n->get_single_iterm()->get_source();
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts;
    kavu_get_partition_netlists(parts, nl.get(), nullptr, nullptr, b, false);
    EXPECT_EQ(feeders.size(), b.get_connections().size());
    for (auto [boundary, feeder] : feeders) EXPECT_EQ(boundary->get_fed_by(), feeder);
    CDB_SGATE_NETLIST empty;  // an expert clears the flags of its netlist
    KAVU_DELAY_EXPERT* expert = kavu_get_default_delay_expert(&empty);
    const unsigned fanin_valid = expert->get_fanin_visited_flag(), fanout_valid = expert->get_fanout_visited_flag();
    delete expert;
    int nonzero = 0, seen = 0;
    for (CDB_SGATE_NETLIST* p : parts) {
      for (CDB_SGATE_NODE* n : p->get_node_list()) {
        if (!kavu_is_a_boundary(n)) continue;
        CDB_SGATE_OTERM* o = n->get_single_oterm();
        ASSERT_TRUE(expected.count(o));
        const bool input = kavu_is_a_boundary_input(n);
        const int got = input ? kavu_get_fanin_delay(o) : kavu_get_fanout_delay(o);
        EXPECT_EQ(got, expected[o]);
        EXPECT_TRUE(o->get_flag().test(input ? fanin_valid : fanout_valid));
        nonzero += got != 0;
        ++seen;
      }
    }
    EXPECT_EQ(seen, int(expected.size()));
    EXPECT_GT(nonzero, 0);
    kavu_merge_netlists(parts, nl.get(), nullptr, b);
  }
}

// a -> g1 -> B1 (partition 2) => B2 (partition 5) -> g2 -> y, plus an
// island c -> B3 -> z that no numbered boundary reaches (B3 has no
// partition number), relabelled after a sync point.
TEST(KavuPartitionNetlistsAroundTheCut, LabelAfterSyncPoint) {
  PARTITION_TEST_SCOPE scope;
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g1 = make_not(&nl, a);
  CDB_SGATE_BOUNDARY* b1 = create_boundary_node(1, g1->get_single_oterm(), nullptr, &nl);
  CDB_SGATE_BOUNDARY* b2 = create_boundary_node(0, b1->get_single_oterm(), nullptr, &nl);
  CDB_SGATE_NODE* g2 = make_not(&nl, b2);
  CDB_SGATE_NODE* y = make_output_pin(&nl, "y", g2);
  CDB_SGATE_NODE* c = make_input_pin(&nl, "c");
  CDB_SGATE_BOUNDARY* b3 = create_boundary_node(0, c->get_single_oterm(), nullptr, &nl);
  CDB_SGATE_NODE* z = make_output_pin(&nl, "z", b3);
  b1->set_partition_number(2);
  b2->set_partition_number(5);
  // Stale labels from an earlier run are forgotten.
  for (CDB_SGATE_NODE* n : nl.get_node_list()) n->get_single_oterm()->set_aux(7);
  std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(&nl));
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, &nl, nullptr, nullptr, b, true);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(g_partition_id, 6);
  const struct {
    CDB_SGATE_NODE* node;
    int id;
  } expected[] = {{a, 2}, {g1, 2}, {b1, 2}, {b2, 5}, {g2, 5}, {y, 5}, {c, 6}, {b3, 6}, {z, 6}};
  for (const auto& e : expected) EXPECT_EQ(e.node->get_single_oterm()->get_aux(), e.id) << e.node->get_debug_name();
  // One netlist per label, boundaries stamped with their netlist's number.
  std::set<CDB_SGATE_NETLIST*> by_id[3];
  for (const auto& e : expected) by_id[e.id == 2 ? 0 : e.id == 5 ? 1 : 2].insert(e.node->get_netlist());
  for (auto& s : by_id) EXPECT_EQ(s.size(), 1u);
  EXPECT_EQ(b1->get_partition_number(), b1->get_netlist()->get_number());
  EXPECT_EQ(b2->get_partition_number(), b2->get_netlist()->get_number());
  ASSERT_EQ(b.get_connections().size(), 1u);
  kavu_merge_netlists(parts, &nl, nullptr, b);
  ASSERT_KAVU_EQUIVALENT(golden.get(), &nl);
  // An information record of another kind has no pin cache.
  nl.set_netlist_info(new CDB_SGATE_NETLIST_INFO);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_clear_boundary_port_cache(&nl), "info");
}

// The tables of several partitions become one report table, rows in
// partition order; the parent's own table is not copied into partitions.
TEST(KavuPartitionNetlistsAroundTheCut, MultiplexerTablesMergeIntoOneReportTable) {
  PARTITION_TEST_SCOPE scope;
  RDB_REPORT report;
  report.set_current_folder(report.get_root_folder()->add_folder("Synthesis"));
  CMP_FACADE facade;
  facade.set_report(&report);
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  LOADED_NETLIST nl = load_blif("seq/stereovision3");
  nl->get_mast_report()->m_name = "parent";
  nl->get_mast_report()->m_rows = {{"p", "p", "p", "p", "p", "p", "p"}};
  KAVU_PARTITIONER partitioner;
  partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, nl.get(), nullptr, nullptr, b, false);
  ASSERT_GE(parts.size(), 3u);
  for (CDB_SGATE_NETLIST* p : parts) EXPECT_TRUE(p->get_mast_report()->m_rows.empty());
  auto row = [](int part, int i) {
    std::vector<std::string> r(7, std::to_string(part));
    r[6] = "out" + std::to_string(part) + "_" + std::to_string(i);
    return r;
  };
  // Partitions 0 and 2 carry tables, partition 1 none.
  for (int p : {0, 2}) {
    parts[p]->get_mast_report()->m_name = "Multiplexer Restructuring";
    for (int i = 0; i < 2 + p; ++i) parts[p]->get_mast_report()->m_rows.push_back(row(p, i));
  }
  kavu_merge_netlists(parts, nl.get(), nullptr, b);
  RDB_FOLDER* top = report.get_root_folder()->find_folder("Synthesis Optimization Results");
  ASSERT_NE(top, nullptr);
  RDB_FOLDER* folder = top->find_folder(RDB_SYNTH_MAST_MUX_STATS);
  ASSERT_NE(folder, nullptr);
  ASSERT_EQ(folder->table_count(), 1u);
  RDB_TABLE* table = folder->find_table("Multiplexer Restructuring");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->get_columns().front(), "Multiplexer Inputs");
  EXPECT_EQ(table->get_columns().back(), "Example Multiplexer Output");
  std::vector<std::vector<std::string>> expected = {row(0, 0), row(0, 1), row(2, 0), row(2, 1), row(2, 2), row(2, 3)};
  EXPECT_EQ(table->get_rows(), expected);
  EXPECT_EQ(nl->get_mast_report()->m_name, "parent");
  // Without a report there is nowhere to put the rows.
  facade.set_report(nullptr);
  KAVU_MAST_MUX_TABLE orphan{"t", {}};
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_mast_mux_table(&orphan), "report");
  ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr);
}

// Machines the split cannot move: one without any state gate is dropped;
// one without a name id, or sharing its name with another, is an internal
// error.
TEST(KavuPartitionNetlistsAroundTheCut, MachinesTheSplitCannotMove) {
  enum CASE { NO_STATE_LEFT, NO_NAME_ID, SAME_NAME };
  for (CASE c : {NO_STATE_LEFT, NO_NAME_ID, SAME_NAME}) {
    SCOPED_TRACE(int(c));
    ROUTED_SCOPE scope;
    LOADED_NETLIST nl = load_blif("seq/diffeq1");
    CDB_SGATE_HIERARCHY hierarchy;
    DESIGN_MACHINE d = add_machine(nl.get(), &hierarchy);
    CDB_STATE_MACHINE* odd = c == NO_NAME_ID ? new CDB_STATE_MACHINE : make_machine(c == SAME_NAME ? "fsm" : "odd");
    hierarchy.get_machine_list()->push_back(odd);
    odd->set_clk(d.signals[0]);
    if (c != NO_STATE_LEFT) {
      auto* s = new CDB_SGATE_STATE(nullptr, odd);
      nl->add_node(s, true);
      odd->add_state(s);
      make_output_pin(nl.get(), "odd", s);
    }
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
    KAVU_PARTITION_BOUNDARIES b;
    std::vector<CDB_SGATE_NETLIST*> parts;
    if (c == NO_STATE_LEFT) {
      kavu_get_partition_netlists(parts, nl.get(), &hierarchy, nullptr, b, false);
      EXPECT_FALSE(hierarchy.has_machines());
      kavu_merge_netlists(parts, nl.get(), &hierarchy, b);
      ASSERT_EQ(hierarchy.get_machine_list()->size(), 1u);
      EXPECT_EQ(hierarchy.get_machine_list()->front(), d.machine);
      continue;
    }
    EXPECT_KAVU_INTERNAL_ERROR(kavu_get_partition_netlists(parts, nl.get(), &hierarchy, nullptr, b, false),
                               c == NO_NAME_ID ? "machine_name_id" : "Should have moved all state machine");
    // The hierarchy still owns every machine; no partition holds one.
    for (CDB_SGATE_NETLIST* p : parts) {
      EXPECT_FALSE(p->has_machines());
      delete p;
    }
  }
}

// Runs only in the registration that switches both dump keys on: the cut
// connections and the renumbered gates are written out.
TEST(KavuPartitionNetlistsDebugFiles, ConnectionsAndNumberMappings) {
  const char* env = std::getenv("KAVU_INI_SET");
  if (!env || !std::strstr(env, "kavu_dump_debug_number_mappings")) GTEST_SKIP() << "dump keys not set";
  PARTITION_TEST_SCOPE scope;
  LOADED_NETLIST nl = load_blif("seq/diffeq1");
  KAVU_PARTITIONER partitioner;
  partitioner.partition_on_reg_boundary(nl.get(), nullptr, partition_params(4), false);
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, nl.get(), nullptr, nullptr, b, false);
  ASSERT_FALSE(b.get_connections().empty());
  std::ifstream connections("boundary_connections.log");
  for (const KAVU_PARTITION_CONNECTION& c : b.get_connections()) {
    unsigned src = 0, dst = 0;
    ASSERT_TRUE(connections >> src >> dst);
    EXPECT_EQ(src, c.src_debug_number);
    EXPECT_EQ(dst, c.dst_debug_number);
  }
  unsigned extra;
  EXPECT_FALSE(connections >> extra);
  // Two "helpers" make a gate each, with the same number.
  const int first = parts[0]->get_first_debug_number();
  CDB_SGATE_NODE* made[2];
  int numbers[2];
  for (int i = 0; i < 2; ++i) {
    made[i] = make_buffer(parts[size_t(i)], nullptr);
    made[i]->set_debug_number(unsigned(first + 3));
    numbers[i] = parts[size_t(i)]->get_number();
  }
  kavu_merge_netlists(parts, nl.get(), nullptr, b);
  std::ifstream mappings("kavu_debug_number_mappings.log");
  std::string line;
  ASSERT_TRUE(std::getline(mappings, line));
  EXPECT_EQ(line, "Debug ID > " + std::to_string(first) + " are new gates");
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(std::getline(mappings, line));
    EXPECT_EQ(line, "Partition " + std::to_string(numbers[i]) + " Node " + std::to_string(first + 3) +
                        " -> Main netlist Node " + std::to_string(made[i]->get_debug_number()));
  }
  EXPECT_FALSE(std::getline(mappings, line));
}

// ---- the readers each output boundary records, and the split's labelling

namespace {

// A gate past which a timed path ends: a register, a RAM, an output or
// bidirectional pin.
bool ends_timed_paths(CDB_SGATE_NODE* g) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LATCH_ENUM:
    case CDB_SGATE_SYNCHRONOUS_RAM_ENUM: return true;
    case CDB_SGATE_IO_ENUM: return !g->is_input();
    default: break;
  }
  const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
  return w && (w->is_ff() || w->is_ram() || w->is_lutram());
}

// What each output boundary must record, worked out on the labelled design
// before the split: the paths of the gates of other partitions reading it
// from which such a gate is reached, the latter found by a walk back from
// those gates over every input of the whole design.
std::map<const CDB_SGATE_BOUNDARY*, std::set<std::string>> expected_readers(CDB_SGATE_NETLIST* nl) {
  std::set<const CDB_SGATE_NODE*> live;
  std::vector<CDB_SGATE_NODE*> work;
  for (CDB_SGATE_NODE* g : nl->get_node_list())
    if (ends_timed_paths(g) && live.insert(g).second) work.push_back(g);
  while (!work.empty()) {
    CDB_SGATE_NODE* g = work.back();
    work.pop_back();
    for (CDB_SGATE_ITERM* t : g->get_input_terms())
      if (t && t->get_source() && live.insert(t->get_source()->get_my_node()).second)
        work.push_back(t->get_source()->get_my_node());
  }
  std::map<const CDB_SGATE_BOUNDARY*, std::set<std::string>> expected;
  for (CDB_SGATE_NODE* g : nl->get_node_list()) {
    const CDB_SGATE_BOUNDARY* b = g->cast_to_boundary();
    if (!b || b->get_direction() != CDB_BOUNDARY_OUTPUT) continue;
    std::set<std::string>& paths = expected[b];
    const int own = b->get_single_oterm()->get_aux();
    for (CDB_SGATE_ITERM* t : b->get_single_oterm()->fanouts()) {
      CDB_SGATE_NODE* r = t->get_my_node();
      if (r->get_output_term(0) && r->get_output_term(0)->get_aux() == own) continue;
      if (live.count(r)) paths.insert(r->get_string_hpath());
    }
  }
  return expected;
}

// Splits, checks every output boundary's record against `expected` and
// every partition's labelling against the partitions' own, and merges back.
void split_and_check(CDB_SGATE_NETLIST* nl, const std::map<const CDB_SGATE_BOUNDARY*, std::set<std::string>>& expected,
                     bool label) {
  KAVU_PARTITION_BOUNDARIES b;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, nl, nullptr, nullptr, b, label);
  ASSERT_GE(parts.size(), 2u);
  size_t outputs = 0;
  for (CDB_SGATE_NETLIST* part : parts) {
    EXPECT_EQ(part->get_split_labelling(), cdb_sgate_labelling(parts));
    for (CDB_SGATE_NODE* g : part->get_node_list()) {
      const CDB_SGATE_BOUNDARY* bd = g->cast_to_boundary();
      if (!bd || bd->get_direction() != CDB_BOUNDARY_OUTPUT) continue;
      ++outputs;
      const std::vector<std::string>* readers = bd->get_readers();
      ASSERT_NE(readers, nullptr) << g->get_string_hpath();
      auto it = expected.find(bd);
      ASSERT_NE(it, expected.end()) << g->get_string_hpath();
      EXPECT_EQ(*readers, std::vector<std::string>(it->second.begin(), it->second.end())) << g->get_string_hpath();
    }
  }
  EXPECT_EQ(outputs, expected.size());
  kavu_merge_netlists(parts, nl, nullptr, b);
}

}  // namespace

// Sequential circuits and a register pipeline split into 2 to 8
// partitions: each output boundary records exactly the live readers of
// other partitions, and the labelling every partition carries is that of
// the partitions.
TEST(KavuPartitionNetlistsReaders, EachOutputBoundaryRecordsTheLiveReadersOfOtherPartitions) {
  std::vector<std::string> designs = bundled_circuits({"seq"});
  designs.push_back("pipeline");
  for (const std::string& name : designs)
    for (int k : {2, 8}) {
      SCOPED_TRACE(name + " into " + std::to_string(k));
      PARTITION_TEST_SCOPE scope;
      std::unique_ptr<CDB_SGATE_NETLIST> made;
      LOADED_NETLIST loaded;
      CDB_SGATE_NETLIST* nl = nullptr;
      if (name == "pipeline") {
        made.reset(make_pipeline(12, 16));
        nl = made.get();
      } else {
        loaded = load_blif(name);
        nl = loaded.get();
      }
      KAVU_PARTITIONER partitioner;
      partitioner.partition_on_reg_boundary(nl, nullptr, partition_params(k), false);
      split_and_check(nl, expected_readers(nl), false);
    }
}

// A hand-labelled design whose readers run into a loop of gates that reaches
// no register before they reach one, each reader meeting the whole loop
// again (with 40 readers the loop is met more often than the design has
// gates), and a reader in a loop through a gate that reaches a register:
// the readers reaching a register or a pin are recorded once each, a gate
// reading the boundary twice once, the reader that only feeds the dead loop
// and the register of the boundary's own partition not at all.
TEST(KavuPartitionNetlistsReaders, ReadersPastALoopThatReachesNothing) {
  for (int count : {1, 40}) {
    SCOPED_TRACE(std::to_string(count) + " readers");
    PARTITION_TEST_SCOPE scope;
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_BOUNDARY* out = create_boundary_node(1, a->get_single_oterm(), nullptr, &nl);
    std::vector<CDB_SGATE_NODE*> first_partition = {a, out, make_dff(&nl, out, nullptr)};
    std::set<std::string> live;
    std::vector<CDB_SGATE_NODE*> into_loop;
    for (int i = 0; i <= count; ++i) {
      CDB_SGATE_BOUNDARY* in = create_boundary_node(0, out->get_single_oterm(), nullptr, &nl);
      into_loop.push_back(make_not(&nl, in));  // read first: the search meets the loop first
      if (i == count) continue;                // the last reaches nothing else
      make_dff(&nl, in, nullptr);
      live.insert(in->get_string_hpath());
    }
    CDB_SGATE_NODE* twice = make_and(&nl, out, out);
    make_output_pin(&nl, "y", twice);
    live.insert(twice->get_string_hpath());
    // A reader in a loop with a gate that reaches a register: the search
    // from the boundary before it meets it still being searched.
    CDB_SGATE_BOUNDARY* before = create_boundary_node(0, out->get_single_oterm(), nullptr, &nl);
    CDB_SGATE_NODE* looped = make_or(&nl, before, nullptr);
    CDB_SGATE_NODE* behind = make_and(&nl, out, looped);
    make_dff(&nl, looped, nullptr);
    rewire(looped->get_input_term(1), behind->get_single_oterm());
    live.insert(before->get_string_hpath());
    live.insert(behind->get_string_hpath());
    // The loop: a buffer, then a gate per entry, the last driving the buffer.
    CDB_SGATE_BUFFER* head = make_buffer(&nl, nullptr);
    CDB_SGATE_NODE* tail = head;
    for (CDB_SGATE_NODE* entry : into_loop) tail = make_or(&nl, tail, entry);
    tail->get_single_oterm()->insert_fanout(head->get_input_term(0));
    for (CDB_SGATE_NODE* n : nl.get_node_list()) n->get_single_oterm()->set_aux(2);
    for (CDB_SGATE_NODE* n : first_partition) n->get_single_oterm()->set_aux(1);
    std::map<const CDB_SGATE_BOUNDARY*, std::set<std::string>> expected = expected_readers(&nl);
    ASSERT_EQ(expected.size(), 1u);
    EXPECT_EQ(expected.begin()->second, live);
    split_and_check(&nl, expected, false);
  }
}
