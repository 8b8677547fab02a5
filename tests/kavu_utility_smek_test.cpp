// Tests of state-machine protection: armouring state machines built on a
// bundled sequential circuit and excising the protection again, plus the
// single-gate cases of the buffer helper and the sanity check.
#include <string>
#include <vector>

#include "kavu_helper_predicates.h"
#include "kavu_utility_smek.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// Every gate with, per input, its source (gate id and output index) or tie,
// and its inversion: equal texts mean the same gates and connections.
std::string structure(const CDB_SGATE_NETLIST& nl) {
  std::string s;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    s += std::to_string(g->get_id()) + ":" + std::to_string(g->get_sgate_type()) + "(";
    for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
      if (!t) { s += "_,"; continue; }
      if (t->get_source()) {
        CDB_SGATE_NODE* src = t->get_source()->get_my_node();
        unsigned k = 0;
        while (src->get_output_term(k) != t->get_source()) ++k;
        s += std::to_string(src->get_id()) + "." + std::to_string(k);
      } else {
        s += cdb_is_connected(t) ? (t->is_vcc() ? "1" : "0") : "x";
      }
      s += t->is_inverted() ? "!," : ",";
    }
    s += ")";
  }
  return s;
}

int count_protect(const CDB_SGATE_NETLIST& nl) {
  int n = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) n += (*it && kavu_is_a_protect_buffer(*it));
  return n;
}

// Machines over the circuit's registers: each machine takes every k-th
// register from an offset, puts a state gate behind the first of them and
// names the clock pin's output as its clock.
void add_machines(CDB_SGATE_NETLIST* nl, CDB_SGATE_HIERARCHY* h, int machines) {
  std::vector<CDB_SGATE_NODE*> regs;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it)) regs.push_back(*it);
  ASSERT_GE(regs.size(), static_cast<size_t>(machines));
  for (int m = 0; m < machines; ++m) {
    auto* machine = new CDB_STATE_MACHINE;
    machine->set_name("machine" + std::to_string(m));
    for (size_t i = m; i < regs.size(); i += machines) machine->add_register(regs[i]->cast_to_dff());
    auto* state = new CDB_SGATE_STATE(nullptr, machine);
    nl->add_node(state);
    state->set_input_term(state->create_input_term(nullptr), 0);
    regs[m]->get_single_oterm()->insert_fanout(state->get_input_term(0));
    machine->add_state(state);
    machine->set_clk(regs[m]->get_input_term(CDB_DFF_CLK)->get_source());
    h->get_machine_list()->push_back(machine);
  }
}

}  // namespace

TEST(KavuUtilitySmek, ProtectAndReleaseMachinesOnSequentialCircuit) {
  for (const char* name : {"fsm_seq_generic", "counter8_generic", "lfsr16_generic"}) {
    auto golden = load_blif(name);
    auto nl = load_blif(name);
    KAVU_TRACK(nl);
    CDB_SGATE_HIERARCHY* h = nl->get_hierarchy();
    ASSERT_NE(h, nullptr);
    add_machines(nl.get(), h, 2);
    const std::string before = structure(*nl);

    DEBUG_CAPTURE cap("KAVU");
    rtl_armor_smeks(h, nl.get());
    const int inserted = count_protect(*nl);
    EXPECT_GT(inserted, 0) << name;
    EXPECT_TRUE(cap.contains("Inserted " + std::to_string(inserted) + " HARD_PROTECT buffers")) << name;
    for (CDB_SGATE_DFF* r : h->get_machine_list()->front()->get_registers())
      EXPECT_TRUE(r->has_power_up_setting() && !r->is_power_up_dc()) << name;
    ASSERT_KAVU_EQUIVALENT(golden, nl);

    // A second protection finds every gate armoured already.
    std::vector<CDB_SGATE_NODE*> gates;
    rtl_collect_state_machine_gates(h, &gates);
    int again = 0;
    for (CDB_SGATE_NODE* g : gates) again += rtl_armor_gate(g, nl.get());
    EXPECT_EQ(again, 0) << name;

    EXPECT_EQ(rtl_excise_protect_buffers(nl.get()), inserted) << name;
    EXPECT_EQ(structure(*nl), before) << name;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

TEST(KavuUtilitySmek, BufferHelperAndArmourEdgeCases) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* g = make_and(&nl, a, nullptr);  // second input VCC
  for (const char* o : {"y0", "y1", "y2"}) make_output_pin(&nl, o, g);
  rtl_insert_soft_buffer(nullptr, g->get_single_oterm(), &nl);
  ASSERT_TRUE(g->get_single_oterm()->has_fanout_exactly(1));
  CDB_SGATE_NODE* soft = g->get_single_oterm()->get_first_fanout()->get_my_node();
  EXPECT_TRUE(kavu_is_a_soft_buffer(soft));
  EXPECT_TRUE(soft->get_single_oterm()->has_fanout_exactly(3));
  EXPECT_KAVU_INTERNAL_ERROR(rtl_insert_buffer_helper(nullptr, nullptr, &nl, CDB_BUFFER_SOFT), "after_oterm");
  EXPECT_KAVU_INTERNAL_ERROR(rtl_insert_buffer_helper(g->get_input_term(0), g->get_single_oterm(), &nl,
                                                      CDB_BUFFER_SOFT), "!after_oterm");

  // AND of a gate output and VCC: two input buffers (one fed by VCC) and one
  // output buffer; armouring twice adds nothing.
  EXPECT_EQ(rtl_armor_gate(g, &nl), 3);
  EXPECT_TRUE(g->get_input_term(1)->get_source()->get_my_node()->get_single_iterm()->is_vcc());
  EXPECT_EQ(rtl_armor_gate(g, &nl), 0);

  // A single-input XOR becomes a two-input OR of the same signal.
  auto* x = new CDB_SGATE_COMB(nullptr, CDB_COMB_XOR);
  nl.add_node(x);
  x->insert_unordered_fanin(b->get_single_oterm())->set_invert();
  make_output_pin(&nl, "z", x);
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_EQ(rtl_armor_gate(x, &nl), 3);
  EXPECT_TRUE(cap.contains("Turned single-input XOR into an OR"));
  EXPECT_EQ(x->get_comb_type(), CDB_COMB_OR);
  // Excision of inverted inputs leaves the readers inverted.
  EXPECT_EQ(rtl_excise_protect_buffers(&nl), 6);
  EXPECT_EQ(x->get_input_term(0)->get_source(), b->get_single_oterm());
  EXPECT_TRUE(x->get_input_term(0)->is_inverted() && x->get_input_term(1)->is_inverted());
  EXPECT_TRUE(g->get_input_term(1)->is_vcc());
}

TEST(KavuUtilitySmek, SanityCheckCountsSharedAndLostGates) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_HIERARCHY h;
  auto* clk = make_input_pin(&nl, "clk");
  auto* r = make_dff(&nl, make_input_pin(&nl, "d"), clk);
  make_output_pin(&nl, "q", r);
  for (int m = 0; m < 2; ++m) {
    auto* machine = new CDB_STATE_MACHINE;
    machine->add_register(r->cast_to_dff());
    h.get_machine_list()->push_back(machine);
  }
  DEBUG_CAPTURE cap("KAVU");
  rtl_sanity_check_smeks(&h, &nl);
  EXPECT_TRUE(cap.contains("Multiple state machines are sharing the same gate(s) (1 gate(s) shared)."));
  nl.delete_node(r);  // the register leaves the netlist but stays listed
  EXPECT_KAVU_INTERNAL_ERROR(rtl_sanity_check_smeks(&h, &nl), "Lost one or more state machine gates");
  EXPECT_TRUE(cap.contains("Couldn't find 1 gate(s) supposed to be in SMEK"));
  nl.add_node(r);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_armor_smeks(nullptr, &nl), "hierarchy");
}
