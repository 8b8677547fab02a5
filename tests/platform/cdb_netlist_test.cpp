// The netlist's lists and passes: walks that delete and append, sweep,
// graveyard, collection, ordering, clone, dynamic flags and records.
#include <algorithm>
#include <set>
#include <vector>

#include "testkit/platform_testkit.h"

namespace {

CDB_SGATE_COMB* comb(CDB_SGATE_NETLIST& nl, std::initializer_list<CDB_SGATE_NODE*> srcs,
                     CDB_COMB_TYPE type = CDB_COMB_AND) {
  CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, type);
  for (CDB_SGATE_NODE* s : srcs) g->insert_unordered_fanin(s->get_single_oterm());
  nl.add_node(g);
  return g;
}

CDB_SGATE_IO* pin(CDB_SGATE_NETLIST& nl, CDB_IO_TYPE type, CDB_SGATE_NODE* src = nullptr) {
  CDB_SGATE_IO* p = new CDB_SGATE_IO(nullptr, type);
  if (src) src->get_single_oterm()->insert_fanout(p->get_input_term(0));
  nl.add_node(p);
  return p;
}

std::vector<CDB_SGATE_NODE*> list_of(const CDB_SGATE_NETLIST& nl) {
  std::vector<CDB_SGATE_NODE*> v;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it) v.push_back(*it);
  return v;
}

TEST(CdbNetlistWalk, DeletingCurrentGateAndAppendingDuringWalk) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_IO* in = pin(nl, CDB_IO_INPUT);
  for (int i = 0; i < 250; ++i) comb(nl, {in});
  int visited = 0, appended = 0, removed = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    ++visited;
    if (n->get_id() % 3 == 0 && n != in) {
      nl.delete_node(it);  // by position: unlinks only, the iterator stays and reads null
      EXPECT_TRUE(*it == nullptr && n->get_netlist() == nullptr);
      delete n;
      ++removed;
    }
    if (appended++ < 120) comb(nl, {in});  // appends lie ahead and are visited
  }
  EXPECT_EQ(visited, 371);
  EXPECT_EQ(nl.size(), 371u - removed);
  EXPECT_EQ(in->get_single_oterm()->get_number_of_fanout(), nl.size() - 1);
}

TEST(CdbNetlistWalk, AddNodeRulesAndFlaggedDeletion) {
  CDB_SGATE_NETLIST a, b;
  KAVU_TRACK(a);
  KAVU_TRACK(b);
  CDB_SGATE_COMB* g = comb(a, {});
  a.add_node(g);  // again: nothing
  EXPECT_EQ(a.size(), 1u);
  EXPECT_KAVU_INTERNAL_ERROR(b.add_node(g), "m_netlist");
  EXPECT_KAVU_INTERNAL_ERROR(b.delete_node(g), "m_netlist");
  a.delete_node(g);  // move between netlists
  b.add_node(g);
  CDB_SGATE_COMB* h = comb(b, {g});
  h->mark_for_deletion();
  EXPECT_TRUE(h->is_changed());
  EXPECT_EQ(b.delete_flagged_nodes(), 1);
  EXPECT_EQ(h->get_netlist(), nullptr);
  delete h;
  EXPECT_FALSE(g->has_fanout());
}

TEST(CdbNetlistSweep, KeepersSurviveDeadLogicAndLoopsGo) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_IO* in = pin(nl, CDB_IO_INPUT);
  CDB_SGATE_COMB* used = comb(nl, {in});
  CDB_SGATE_COMB* unused = comb(nl, {used});
  pin(nl, CDB_IO_OUTPUT, used);
  // A loop that reaches no keeper, and one that feeds an output.
  CDB_SGATE_COMB* l1 = comb(nl, {in});
  CDB_SGATE_COMB* l2 = comb(nl, {l1});
  l1->insert_unordered_fanin(l2->get_single_oterm());
  CDB_SGATE_COMB* k1 = comb(nl, {in});
  CDB_SGATE_COMB* k2 = comb(nl, {k1});
  k1->insert_unordered_fanin(k2->get_single_oterm());
  pin(nl, CDB_IO_OUTPUT, k2);
  // Keeper kinds without fan-out, and their look-alikes that are not kept.
  kavu_platform::make_buffer(&nl, in, CDB_BUFFER_PROTECT);
  CDB_SGATE_BUFFER* soft = kavu_platform::make_buffer(&nl, in, CDB_BUFFER_SOFT);
  CDB_SGATE_DFF* kept_reg = new CDB_SGATE_DFF(nullptr);
  kept_reg->set_preserve(true);
  CDB_SGATE_DFF* plain_reg = new CDB_SGATE_DFF(nullptr);
  for (CDB_SGATE_NODE* g : std::initializer_list<CDB_SGATE_NODE*>{
           kept_reg, plain_reg, new CDB_SGATE_TRI_BUS(nullptr), new CDB_SGATE_BOUNDARY(nullptr, CDB_BOUNDARY_OUTPUT)})
    nl.add_node(g);
  comb(nl, {in})->set_kff(true, true, false);
  CDB_SGATE_COMB* kff_not_in_force = comb(nl, {in});
  kff_not_in_force->set_kff(true, false, false);

  std::vector<CDB_SGATE_NODE*> expected = list_of(nl);
  std::set<CDB_SGATE_NODE*> dead = {unused, l1, l2, soft, plain_reg, kff_not_in_force};
  EXPECT_EQ(nl.sweep(false), int(dead.size()));
  expected.erase(std::remove_if(expected.begin(), expected.end(), [&](auto* n) { return dead.count(n) > 0; }),
                 expected.end());
  EXPECT_EQ(list_of(nl), expected);  // survivors keep their order
  // Graveyard gates stay readable until collection, cut loose from live logic.
  for (CDB_SGATE_NODE* n : dead) EXPECT_TRUE(n->get_netlist() == nullptr && !n->has_fanin());
  EXPECT_TRUE(nl.get_graveyard_size() == dead.size() && in->get_single_oterm()->get_number_of_fanout() == 4u);
  EXPECT_EQ(nl.sweep_if_dirty(), 0);  // nothing removed since
  nl.prepare_for_use();
  EXPECT_EQ(nl.get_graveyard_size(), 0u);
  EXPECT_KAVU_INTERNAL_ERROR(nl.sweep(true), "aggressive");
}

TEST(CdbNetlistSweep, DirtyTrackingAndHandDestroyedGraveyardGate) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_IO* in = pin(nl, CDB_IO_INPUT);
  CDB_SGATE_COMB* b = comb(nl, {comb(nl, {in})});
  CDB_SGATE_IO* out = pin(nl, CDB_IO_OUTPUT, b);
  EXPECT_EQ(nl.sweep_if_dirty(), 0);
  out->get_input_term(0)->set_vcc();  // a tie over a driven input leaves b dead
  EXPECT_TRUE(nl.is_dirty());
  EXPECT_EQ(nl.sweep_if_dirty(), 2);
  delete b;  // destroying a swept gate by hand must not leave a dangling graveyard entry
  EXPECT_EQ(nl.get_graveyard_size(), 1u);
  nl.prepare_for_use();
  CDB_SGATE_COMB* c = comb(nl, {in});
  nl.sweep(false);
  nl.add_node(c);  // re-adding a swept gate takes it out of the graveyard
  EXPECT_EQ(nl.get_graveyard_size(), 0u);
  pin(nl, CDB_IO_OUTPUT, c);
}

// A chain of 200000 gates listed sinks first: sorting and sweeping walk it
// without recursion; a sorted list keeps its order, with independent gates
// appended later kept last.
TEST(CdbNetlistSort, DeepReversedChainSortsAndSweeps) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  const int depth = 200000;
  std::vector<CDB_SGATE_NODE*> g;
  for (int i = 0; i < depth; ++i) g.push_back(new CDB_SGATE_COMB(nullptr, CDB_COMB_AND));
  for (int i = depth - 1; i >= 0; --i) nl.add_node(g[size_t(i)]);
  for (int i = 1; i < depth; ++i) g[size_t(i)]->insert_unordered_fanin(g[size_t(i - 1)]->get_single_oterm());
  nl.sort_by_dag_order();
  ASSERT_EQ(list_of(nl), g);
  g.push_back(comb(nl, {}, CDB_COMB_OR));
  std::vector<CDB_SGATE_NODE*> again;
  nl.garbage_collect_and_sort(true, again);
  EXPECT_EQ(again, g);
  CDB_SGATE_IO* out = pin(nl, CDB_IO_OUTPUT, g[depth - 1]);
  EXPECT_EQ(nl.sweep(false), 1);  // only the appended gate is dead
  out->get_input_term(0)->disconnect_from_source();
  EXPECT_EQ(nl.sweep(false), depth);
  nl.prepare_for_use();
  EXPECT_EQ(nl.size(), 1u);
}

TEST(CdbNetlistCollect, MarkedGatesDestroyedAndListCompacted) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_IO* in = pin(nl, CDB_IO_INPUT);
  std::vector<CDB_SGATE_NODE*> g = {in};
  for (int i = 0; i < 300; ++i) g.push_back(comb(nl, {in}));
  for (int i = 1; i <= 300; i += 2) g[size_t(i)]->mark_for_deletion();
  const uint32_t epoch = nl.get_node_list().get_epoch();
  EXPECT_EQ(nl.garbage_collect(true, false), 150);
  EXPECT_TRUE(nl.get_node_list().get_epoch() != epoch && in->get_single_oterm()->get_number_of_fanout() == 150u);
  std::vector<CDB_SGATE_NODE*> kept;
  for (size_t i = 0; i < g.size(); i += 2) kept.push_back(g[i]);
  EXPECT_EQ(list_of(nl), kept);
  nl.delete_node(g[4]);  // slots recorded by the compaction are right
  delete g[4];
  CDB_SGATE_WYSIWYG* atom = new CDB_SGATE_WYSIWYG(nullptr, 62);
  nl.add_node(atom);
  atom->mark_for_deletion();
  nl.garbage_collect(false, false);
  EXPECT_EQ(atom->get_netlist(), &nl);  // atoms only while the switch is on
  nl.set_collection_switch(true);
  nl.garbage_collect(false, false);
  EXPECT_EQ(nl.size(), 150u);
}

TEST(CdbNetlistSort, SourcesFirstLoopsCutAndOutputsFirstReverses) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  // Listed sinks first, so the list is far from topological.
  CDB_SGATE_IO* out = pin(nl, CDB_IO_OUTPUT);
  CDB_SGATE_COMB* top = comb(nl, {}, CDB_COMB_OR);
  CDB_SGATE_COMB* loop_b = comb(nl, {}, CDB_COMB_XOR);
  CDB_SGATE_COMB* left = comb(nl, {});
  CDB_SGATE_COMB* right = comb(nl, {});
  CDB_SGATE_COMB* loop_a = comb(nl, {loop_b}, CDB_COMB_XOR);  // a combinational loop with loop_b
  CDB_SGATE_DFF* reg = new CDB_SGATE_DFF(nullptr);
  reg->create_all_inputs();
  nl.add_node(reg);
  CDB_SGATE_IO* in = pin(nl, CDB_IO_INPUT);
  top->get_single_oterm()->insert_fanout(out->get_input_term(0));
  const std::pair<CDB_SGATE_COMB*, CDB_SGATE_NODE*> edges[] = {
      {left, in}, {left, reg}, {right, reg}, {right, loop_b}, {top, left}, {top, right}, {loop_b, loop_a}, {loop_b, in}};
  for (auto [sink, src] : edges) sink->insert_unordered_fanin(src->get_single_oterm());
  reg->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_DATA));  // through the register: no loop
  top->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_ENA));

  std::vector<CDB_SGATE_NODE*> order;
  nl.garbage_collect_and_sort(true, order);
  ASSERT_TRUE(order == list_of(nl) && order.size() == 8u);
  EXPECT_TRUE(order[0] == reg && order[1] == in);  // registers and input pins first, in list order
  // The loop makes a strict order impossible; the acyclic part is ordered.
  auto at = [&](CDB_SGATE_NODE* n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
  const std::pair<CDB_SGATE_NODE*, CDB_SGATE_NODE*> before[] = {{left, top}, {right, top}, {loop_b, right}, {top, out}};
  for (auto [a, b] : before) EXPECT_LT(at(a), at(b)) << a->get_debug_name() << " " << b->get_debug_name();
  nl.sort_by_dag_order(CDB_SGATE_NETLIST::OUTPUTS_FIRST);  // the reverse order
  order = list_of(nl);
  EXPECT_EQ(order.back(), reg);
  for (auto [a, b] : before) EXPECT_GT(at(a), at(b)) << a->get_debug_name() << " " << b->get_debug_name();
  EXPECT_KAVU_INTERNAL_ERROR(nl.sort_by_dag_order(2), "rank_order");
}

// The function of clones is checked on committed circuits; here what
// simulation cannot see: names, flag words, pins and the twin pointers.
TEST(CdbNetlistClone, CopiesNamesFlagsPinsAndLeavesTwinPointers) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_IO* in = pin(nl, CDB_IO_INPUT);
  CDB_SGATE_COMB* g = comb(nl, {in}, CDB_COMB_XOR);
  g->set_string_name("named");
  g->get_flag().set(0x4000);
  std::unique_ptr<CDB_SGATE_NETLIST> copy(nl.clone(nullptr, true, true));
  KAVU_TRACK(*copy);
  CDB_SGATE_NODE* cg = g->get_temp_node();
  ASSERT_TRUE(cg && cg->get_netlist() == copy.get() && cg->get_id() != g->get_id());
  EXPECT_EQ(std::string(cg->get_string_name()) + " " + std::to_string(cg->get_flag().value()), "named 16384");
  EXPECT_EQ(cg->get_fanin_term(0), in->get_temp_node()->get_single_oterm());
  EXPECT_EQ(copy->get_input_pins(), std::vector<CDB_SGATE_IO*>{static_cast<CDB_SGATE_IO*>(in->get_temp_node())});
  nl.clear_temp_pointers();
  EXPECT_EQ(g->get_temp_pointer(), nullptr);
}

TEST(CdbNetlistFlags, DynamicFlagsAreAllocatedAndClearedEverywhere) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_COMB* a = comb(nl, {});
  CDB_SGATE_COMB* b = comb(nl, {a});
  GEN_DYN_FLAG_MANAGER& m = nl.get_flag_manager();
  GEN_DYN_FLAG f = m.create_flag("visited"), f2 = m.create_flag("other");
  a->set_dyn_flag(f2);
  a->set_dyn_flag(f);
  b->get_single_oterm()->set_dyn_flag(f);
  b->get_input_term(0)->set_dyn_flag(f);
  m.destroy_flag(f);  // cleared on gates and both kinds of terminal, other flags stay
  EXPECT_FALSE(a->test_dyn_flag(f) || b->get_single_oterm()->test_dyn_flag(f) || b->get_input_term(0)->test_dyn_flag(f));
  EXPECT_TRUE(a->test_dyn_flag(f2));
  EXPECT_EQ(m.create_flag("reuse").get_mask(), f.get_mask());  // lowest free bit
  nl.clear_all_node_flags();
  EXPECT_FALSE(a->test_dyn_flag(f2));
  CDB_SGATE_COMB* stranger = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
  stranger->set_dyn_flag_word(0xffffffffu);
  nl.add_node(stranger);  // a gate brought from elsewhere arrives without bits not live here
  EXPECT_EQ(stranger->get_dyn_flag_word(), m.get_live_mask());
  std::vector<GEN_DYN_FLAG> all;
  while (m.get_num_live_flags() < 32) all.push_back(m.create_flag("x"));
  EXPECT_KAVU_INTERNAL_ERROR(m.create_flag("33rd"), "m_live");
  m.destroy_flag(all.back());
  EXPECT_KAVU_INTERNAL_ERROR(m.destroy_flag(all.back()), "m_live");
}

TEST(CdbNetlistRecords, InfoRecordCallbacksAndMaxFanout) {
  static int freed = 0;
  struct INFO : CDB_SGATE_NETLIST_INFO {};
  freed = 0;
  {
    CDB_SGATE_NETLIST nl;
    nl.set_info_functions_and_allocate([](CDB_SGATE_NETLIST*) -> CDB_SGATE_NETLIST_INFO* { return new INFO; },
                                       [](CDB_SGATE_NETLIST*, CDB_SGATE_NETLIST_INFO* i) { ++freed; delete i; });
    EXPECT_NE(nl.get_netlist_info(), nullptr);
    nl.set_netlist_info(new INFO);
    EXPECT_EQ(freed, 1);
    CDB_SGATE_COMB* g = comb(nl, {});
    nl.set_max_fanout_constraint(g, 4);
    nl.set_max_fanout_constraint(g, 5);  // a new limit is not a second constraint
    EXPECT_EQ(nl.get_num_max_fanout_constraints(), 1);
    nl.delete_node(g);  // unlinking hides the constraint, re-adding restores it
    EXPECT_FALSE(nl.has_max_fanout_constraint(g));
    EXPECT_EQ(nl.get_num_max_fanout_constraints(), 0);
    nl.add_node(g);
    EXPECT_EQ(nl.get_max_fanout_constraint(g), 5);
    EXPECT_EQ(nl.get_num_max_fanout_constraints(), 1);
    nl.set_max_fanout_constraint(g, 0);
    EXPECT_EQ(nl.get_num_max_fanout_constraints(), 0);
  }
  EXPECT_EQ(freed, 2);  // the destructor frees through the callback
}

TEST(CdbNetlistFunctions, SeededIndexAndBusIndexStrings) {
  for (unsigned n : {1u, 2u, 7u, 100u}) {
    std::set<unsigned> seen;
    for (unsigned i = 0; i < n; ++i) EXPECT_EQ(cdb_sgate_get_seeded_index(i, n), i);  // seed 0: identity
    kavu_platform::CFG_SCOPE cfg{{"synth_seed", "12345"}};
    for (unsigned i = 0; i < n; ++i) seen.insert(cdb_sgate_get_seeded_index(i, n));
    EXPECT_EQ(seen.size(), n);  // a permutation
  }
  for (auto [name, index] : {std::pair{"a|b[3]", "[3]"}, {"mem[2][15]", "[2][15]"}, {"plain", ""}, {"x[a]", ""}})
    EXPECT_EQ(cdb_sgate_get_bus_index_string(name), index) << name;
  EXPECT_EQ(cdb_sgate_get_bus_index_string(std::vector<int>{7, 6, 5, 4}), "7..4");
  EXPECT_EQ(cdb_sgate_get_bus_index_string(std::vector<int>{0, 2, 3, 9}), "0,2..3,9");
}

}  // namespace
