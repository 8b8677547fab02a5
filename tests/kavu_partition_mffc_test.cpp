// Tests of the fan-out-free cones: both algorithms against an independent
// computation, deep chains, loops and the hand-checked cases.
#include <deque>
#include <map>
#include <memory>
#include <unordered_map>

#include "gen/gen_dyn_flag.h"
#include "kavu_partition.h"
#include "netlist_io/generators.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef int (*MFFC_FN)(CDB_SGATE_NETLIST*, const GEN_DYN_FLAG&);
const std::pair<const char*, MFFC_FN> k_algorithms[] = {{"old", kavu_partition_into_mffcs},
                                                        {"new", kavu_partition_into_mffcs_new}};

// Cone heads by the definition, sinks first by Kahn's algorithm over fan-out
// counts: a look-through gate heads a cone unless all its fan-outs end in
// look-through gates of one cone. Acyclic netlists only.
std::unordered_map<const CDB_SGATE_NODE*, const CDB_SGATE_NODE*> reference_heads(CDB_SGATE_NETLIST* nl) {
  std::unordered_map<const CDB_SGATE_NODE*, int> pending;
  std::deque<const CDB_SGATE_NODE*> ready;
  std::unordered_map<const CDB_SGATE_NODE*, const CDB_SGATE_NODE*> head;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_NODE* n = *it;
    if (!n || !kavu_look_through_gate_for_mffc(n)) continue;
    int sinks = 0;
    for (const CDB_SGATE_OTERM* o : n->get_output_terms())
      if (o)
        for (const CDB_SGATE_ITERM* t : o->fanouts()) sinks += kavu_look_through_gate_for_mffc(t->get_my_node());
    pending[n] = sinks;
    if (sinks == 0) ready.push_back(n);
  }
  while (!ready.empty()) {
    const CDB_SGATE_NODE* n = ready.front();
    ready.pop_front();
    const CDB_SGATE_NODE* common = nullptr;
    bool is_head = false, any = false;
    for (const CDB_SGATE_OTERM* o : n->get_output_terms()) {
      if (!o) continue;
      for (const CDB_SGATE_ITERM* t : o->fanouts()) {
        const CDB_SGATE_NODE* s = t->get_my_node();
        if (!kavu_look_through_gate_for_mffc(s)) {
          is_head = true;
          continue;
        }
        if (any && head.at(s) != common) is_head = true;
        common = head.at(s);
        any = true;
      }
    }
    head[n] = (is_head || !any) ? n : common;
    for (const CDB_SGATE_ITERM* t : n->get_input_terms()) {
      if (!t || !t->get_source()) continue;
      const CDB_SGATE_NODE* f = t->get_source()->get_my_node();
      if (kavu_look_through_gate_for_mffc(f) && --pending[f] == 0) ready.push_back(f);
    }
  }
  return head;
}

// Empty when the cone ids and the flags agree with the reference.
std::string compare_with_reference(CDB_SGATE_NETLIST* nl, const GEN_DYN_FLAG& flag) {
  const auto head = reference_heads(nl);
  std::map<int, const CDB_SGATE_NODE*> head_of_id;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    for (const CDB_SGATE_OTERM* o : n->get_output_terms()) {
      if (!o) continue;
      if (!kavu_look_through_gate_for_mffc(n)) {
        if (o->get_aux() != 0 || !o->test_dyn_flag(flag)) return "non-cone gate " + n->get_debug_name();
        continue;
      }
      const CDB_SGATE_NODE* h = head.at(n);
      if (o->get_aux() <= 0) return "no cone id on " + n->get_debug_name();
      auto ins = head_of_id.emplace(o->get_aux(), h);
      if (ins.first->second != h) return "cone mismatch at " + n->get_debug_name();
      if (o->test_dyn_flag(flag) != (h == n)) return "flag mismatch at " + n->get_debug_name();
    }
  }
  std::map<const CDB_SGATE_NODE*, int> ids_of_head;
  for (const auto& e : head_of_id)
    if (++ids_of_head[e.second] > 1) return "one cone split into two ids";
  return "";
}

}  // namespace

TEST(KavuPartitionMffc, BothAlgorithmsMatchTheDefinitionOnRealCircuits) {
  for (const char* name : {"epfl/sin", "mcnc/tseng", "small/alu8_generic", "small/mult6_lut4"}) {
    LOADED_NETLIST nl = load_blif(name);
    GEN_DYN_FLAG flag = nl->get_flag_manager().create_flag("mffc_boundary_flag");
    for (const auto& alg : k_algorithms) {
      const int cones = alg.second(nl.get(), flag);
      EXPECT_GT(cones, 0) << name;
      EXPECT_EQ(compare_with_reference(nl.get(), flag), "") << name << " " << alg.first;
    }
    nl->get_flag_manager().destroy_flag(flag);
  }
}

TEST(KavuPartitionMffc, MillionGateChainIsOneConeWithoutDeepRecursion) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* g = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* first = nullptr;
  for (int i = 0; i < 1000000; ++i) {
    g = make_not(&nl, g);
    if (!first) first = g;
  }
  make_output_pin(&nl, "y", g);
  GEN_DYN_FLAG flag = nl.get_flag_manager().create_flag("mffc_boundary_flag");
  for (const auto& alg : k_algorithms) {
    EXPECT_EQ(alg.second(&nl, flag), 1) << alg.first;
    EXPECT_EQ(first->get_single_oterm()->get_aux(), 1) << alg.first;
    EXPECT_FALSE(first->get_single_oterm()->test_dyn_flag(flag)) << alg.first;
    EXPECT_TRUE(g->get_single_oterm()->test_dyn_flag(flag)) << alg.first << ": the head carries the flag";
  }
}

TEST(KavuPartitionMffc, HandCheckedCones) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* shared = make_and(&nl, a, b);       // feeds two cones: head
  CDB_SGATE_NODE* x = make_or(&nl, shared, a);        // single fan-out into y: joins y
  CDB_SGATE_NODE* y = make_xor(&nl, x, b);            // drives a pin: head
  CDB_SGATE_NODE* z = make_and(&nl, shared, b);       // drives a register: head
  CDB_SGATE_NODE* dangling = make_or(&nl, a, b);      // no fan-out: head
  make_output_pin(&nl, "y", y);
  CDB_SGATE_NODE* r = make_dff(&nl, z, a);
  GEN_DYN_FLAG flag = nl.get_flag_manager().create_flag("f");
  for (const auto& alg : k_algorithms) {
    EXPECT_EQ(alg.second(&nl, flag), 4) << alg.first;
    EXPECT_EQ(x->get_single_oterm()->get_aux(), y->get_single_oterm()->get_aux()) << alg.first;
    EXPECT_FALSE(x->get_single_oterm()->test_dyn_flag(flag)) << alg.first;
    for (CDB_SGATE_NODE* h : {shared, y, z, dangling, r, a})
      EXPECT_TRUE(h->get_single_oterm()->test_dyn_flag(flag)) << alg.first << " " << h->get_debug_name();
    EXPECT_EQ(r->get_single_oterm()->get_aux(), 0) << alg.first;
  }
  // Without look-through gates there are no cones and every output is flagged.
  CDB_SGATE_NETLIST plain;
  CDB_SGATE_NODE* p = make_input_pin(&plain, "p");
  make_output_pin(&plain, "q", make_dff(&plain, p, p));
  GEN_DYN_FLAG f2 = plain.get_flag_manager().create_flag("f");
  for (const auto& alg : k_algorithms) {
    EXPECT_EQ(alg.second(&plain, f2), 0) << alg.first;
    EXPECT_TRUE(p->get_single_oterm()->test_dyn_flag(f2));
  }
}

TEST(KavuPartitionMffc, CombinationalLoopGatesBecomeHeadsNotConeZero) {
  // A loop of three gates with one exit, rotated so that each member in turn
  // drives the pin, or with no exit at all. The first member an algorithm
  // labels may see its loop successor unlabelled; it must then become a head
  // with its own id, never join "cone 0" (no id, no flag).
  for (int exit = -1; exit < 3; ++exit) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* g[3];
    g[0] = make_and(&nl, a, a);
    g[1] = make_not(&nl, g[0]);
    g[2] = make_not(&nl, g[1]);
    g[0]->get_input_term(1)->disconnect_from_source();
    g[2]->get_single_oterm()->insert_fanout(g[0]->get_input_term(1));
    if (exit >= 0) make_output_pin(&nl, "y", g[exit]);
    GEN_DYN_FLAG flag = nl.get_flag_manager().create_flag("f");
    for (const auto& alg : k_algorithms) {
      DEBUG_CAPTURE cap("KAVU");
      alg.second(&nl, flag);
      for (CDB_SGATE_NODE* n : g)
        EXPECT_GT(n->get_single_oterm()->get_aux(), 0) << alg.first << " exit " << exit << " " << n->get_debug_name();
      if (std::string(alg.first) == "new") {
        EXPECT_TRUE(cap.contains("Comb loop? Make it head of the cone"));
      }
    }
  }
}
