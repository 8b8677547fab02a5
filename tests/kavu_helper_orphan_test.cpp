// Tests of orphan removal (kill, LUT-only kill, isolate) by hand and on real
// circuits with one output cut, and of gate renaming.

#include <set>

#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_helper_orphan.h"
#include "kavu_helper_predicates.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_single_oterm(); }

std::set<unsigned> gate_ids(const CDB_SGATE_NETLIST& nl) {
  std::set<unsigned> ids;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it) ids.insert((*it)->get_id());
  return ids;
}

// Removes an output pin: the logic behind it is left without that fan-out.
void cut_output(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* pin) {
  pin->get_input_term(0)->disconnect_from_source();
  nl->delete_node(pin);
  delete pin;
}

// Gates reachable backwards from `from` (all inputs, registers included).
void fanin_closure(CDB_SGATE_NODE* from, std::set<CDB_SGATE_NODE*>& seen) {
  std::vector<CDB_SGATE_NODE*> stack{from};
  while (!stack.empty()) {
    CDB_SGATE_NODE* g = stack.back();
    stack.pop_back();
    if (!seen.insert(g).second) continue;
    for (CDB_SGATE_ITERM* t : g->get_input_terms())
      if (t && t->get_source()) stack.push_back(t->get_source()->get_my_node());
  }
}

}  // namespace

TEST(KavuOrphanKill, HandBuiltConesAreKilledOrIsolated) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* shared = make_or(&nl, a, b);
  auto* inner = make_and(&nl, shared, b);
  auto* top = make_and(&nl, inner, shared);
  make_output_pin(&nl, "y", shared);
  const size_t before = nl.size();

  kavu_kill_orphaned_gates(out(shared), &nl, false);  // still drives something: kept
  ASSERT_EQ(nl.size(), before);

  kavu_kill_orphaned_gates(out(top), &nl, false);
  EXPECT_EQ(nl.size(), before - 2);  // top and inner; shared keeps its output pin
  EXPECT_TRUE(out(shared)->has_fanout_exactly(1) && out(b)->has_fanout_exactly(1));

  // Protect buffers, device atoms and pins are never removed; the walk stops.
  auto* protect = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_PROTECT);
  nl.add_node(protect);
  protect->insert_unordered_fanin(out(make_and(&nl, a, b)));
  auto* atom = new CDB_SGATE_WYSIWYG(nullptr, 61);
  nl.add_node(atom);
  const size_t with_stoppers = nl.size();
  kavu_kill_orphaned_gates(out(protect), &nl, false);
  kavu_kill_orphaned_gates(out(a), &nl, false);
  EXPECT_EQ(nl.size(), with_stoppers);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_kill_orphaned_gates(nullptr, &nl, false), "orphan_oterm && netlist");
  // Isolation ties every real input to VCC and walks back; nothing is deleted.
  auto* inner2 = make_or(&nl, a, b);
  auto* top2 = make_and(&nl, inner2, b);
  const size_t size = nl.size();
  kavu_isolate_orphaned_gates(out(top2), &nl, false);
  EXPECT_EQ(nl.size(), size);
  for (auto* g : {top2, inner2})
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) EXPECT_TRUE(t->is_vcc());
}

TEST(KavuOrphanKill, CarrySumLutsAndPruneForbiddenRegisters) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* a = make_input_pin(&nl, "a");
  auto* feed = make_not(&nl, a);
  auto* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(cs);
  cs->insert_unordered_fanin(out(feed));
  const size_t before = nl.size();
  kavu_kill_orphaned_gates(out(cs), &nl, true);
  EXPECT_EQ(nl.size(), before);  // kept, and so is what feeds it
  kavu_kill_orphaned_gates(out(cs), &nl, false);
  EXPECT_EQ(nl.size(), before - 2);

  // LUT-only: deletes the LUTs that feed only it, stops at a comb gate.
  auto* comb = make_xor(&nl, a, a);
  auto* l1 = make_lut(&nl, {comb}, 0x1);
  auto* l2 = make_lut(&nl, {l1, a}, 0x6);
  const size_t luts = nl.size();
  kavu_kill_orphaned_luts(out(l2), &nl);
  EXPECT_TRUE(nl.size() == luts - 2 && !out(comb)->has_fanout());

  // A register whose pruning is forbidden: kill deletes it, isolate keeps it.
  auto* clk = make_input_pin(&nl, "clk");
  auto* r1 = make_dff(&nl, a, clk);
  r1->cast_to_dff()->set_prune_allowed(false);
  kavu_isolate_orphaned_gates(out(r1), &nl, false);
  EXPECT_EQ(r1->get_input_term(CDB_DFF_DATA)->get_source(), out(a));
  const size_t regs = nl.size();
  kavu_kill_orphaned_gates(out(r1), &nl, false);
  EXPECT_EQ(nl.size(), regs - 1);
}

// Cutting one output of a real circuit removes exactly the gates only that
// output used, orphaned register and comb loops spliced into its cone
// included, and the other outputs keep their function. Regression: such a
// loop was walked gate by gate and could reach gates already destroyed.
TEST(KavuOrphanKill, RealCircuitLosesExactlyThePrivateCone) {
  for (const char* name : {"mcnc/s298", "mcnc/alu4", "seq/stereovision3", "small/counter8_generic"}) {
    auto golden = load_blif(name);
    auto nl = load_blif(name);
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* pin = nl->get_output_pins().front();
    CDB_SGATE_NODE* driver = pin->get_input_term(0)->get_source()->get_my_node();
    // pin <- AND(AND(driver, loop), comb), loop = OR(first input, register
    // of loop), comb = AND(first input, comb).
    CDB_SGATE_NODE* in0 = nl->get_input_pins().front();
    auto* loop_or = make_or(nl.get(), in0, nullptr);
    loop_or->get_input_term(1)->set_source(out(make_dff(nl.get(), loop_or, nullptr)));
    auto* comb_loop = make_and(nl.get(), in0, nullptr);
    comb_loop->get_input_term(1)->set_source(out(comb_loop));
    auto* root = make_and(nl.get(), make_and(nl.get(), driver, loop_or), comb_loop);
    pin->get_input_term(0)->disconnect_from_source();
    pin->get_input_term(0)->set_source(out(root));

    std::set<CDB_SGATE_NODE*> kept, cone;
    for (CDB_SGATE_NODE* other : nl->get_output_pins())
      if (other != pin) fanin_closure(other, kept);
    fanin_closure(pin, cone);
    std::set<unsigned> expected = gate_ids(*nl);
    size_t private_gates = 0;
    for (CDB_SGATE_NODE* g : cone) {
      if (kept.count(g) || kavu_is_a_pin(g)) continue;
      expected.erase(g->get_id());
      ++private_gates;
    }
    expected.erase(pin->get_id());

    cut_output(nl.get(), pin);
    cut_output(golden.get(), golden->get_output_pins().front());
    kavu_kill_orphaned_gates(out(root), nl.get(), false);
    EXPECT_GE(private_gates, 5u) << name;
    EXPECT_EQ(gate_ids(*nl), expected) << name;
    ASSERT_KAVU_EQUIVALENT(*golden, *nl);
  }
}

TEST(KavuRename, AllGatesAndOneByName) {
  CMP_FACADE facade;
  HDB_INSTANCE_NAME::create_normal_name(facade.get_namespace(), "top", nullptr, nullptr, nullptr);
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* cs = new CDB_SGATE_CARRY_SUM(nullptr);
  nl.add_node(cs);
  cs->insert_unordered_fanin(out(a));
  kavu_rename_all_gates(&nl, &facade, "n");
  // Terminals in node order, one counter for the call; gate names stay.
  EXPECT_EQ(out(a)->get_string_hpath() + " " + cs->get_output_term(0)->get_string_hpath() + " " +
                cs->get_output_term(1)->get_string_hpath() + " " + a->get_string_hpath(),
            "top|n_0 top|n_1 top|n_2 top|a");

  char exact[] = "top|a", missing[] = "nowhere", fresh[] = "renamed";
  EXPECT_FALSE(kavu_rename_gate(&nl, missing, false, fresh, &facade));
  EXPECT_TRUE(kavu_rename_gate(&nl, exact, true, fresh, &facade));
  EXPECT_EQ(out(a)->get_string_hpath(), "top|renamed");
}
