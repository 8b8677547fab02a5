// Tests of the RTL clean-up passes: the add/subtract rewrite checked
// exhaustively on 4-bit operands, dead-cone isolation around kept
// registers, observers, mux to AND, carry protection, one-hot groups, wire
// sweeping and default power-up.
#include <string>
#include <vector>

#include "kavu_helper_predicates.h"
#include "kavu_utility_cleanup.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

struct ADDSUB_DESIGN {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* op = nullptr;
  std::vector<CDB_SGATE_NODE*> a, b, o;
  CDB_SGATE_NODE* s = nullptr;
  // B from pins, or the constant `b_const` when it is 0..15.
  explicit ADDSUB_DESIGN(int b_const) {
    auto* addsub = new CDB_SGATE_OPERATOR("addsub", CDB_OPER_ADDSUB);
    auto* pa = addsub->add_port("a", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
    auto* pb = addsub->add_port("b", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
    auto* po = addsub->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
    auto* ps = addsub->add_port("add_sub", CDB_OPER_PORT_ADD_NOT_SUB, CDB_OPER_PORT_DIR_IN);
    nl.add_node(addsub);
    op = addsub;
    for (unsigned i = 0; i < 4; ++i) {
      const std::string n = std::to_string(i);
      a.push_back(make_input_pin(&nl, ("a" + n).c_str()));
      pa->set_iterm(i, addsub->create_input_term(nullptr));
      a.back()->get_single_oterm()->insert_fanout(pa->get_iterm(i));
      pb->set_iterm(i, addsub->create_input_term(nullptr));
      if (b_const < 0) {
        b.push_back(make_input_pin(&nl, ("b" + n).c_str()));
        b.back()->get_single_oterm()->insert_fanout(pb->get_iterm(i));
      } else if (b_const >> i & 1) {
        pb->get_iterm(i)->set_vcc();
      } else {
        pb->get_iterm(i)->set_gnd();
      }
      po->set_oterm(i, addsub->create_output_term(nullptr));
    }
    for (unsigned i = 0; i < 4; ++i) {
      o.push_back(make_output_pin(&nl, ("o" + std::to_string(i)).c_str(), nullptr));
      o.back()->get_single_iterm()->set_source(po->get_oterm(i));
    }
    s = make_input_pin(&nl, "s");
    ps->set_iterm(0, addsub->create_input_term(nullptr));
    s->get_single_oterm()->insert_fanout(ps->get_iterm(0));
  }
};

// Every (a, b, add) of 4-bit operands: the sum or difference modulo 16.
void expect_adds_and_subtracts(ADDSUB_DESIGN& d, int b_const) {
  NETLIST_SIMULATOR sim(&d.nl);
  ASSERT_TRUE(sim.ok()) << sim.error();
  for (unsigned word = 0; word < 8; ++word) {  // 512 patterns, 64 per word
    auto bit_word = [word](unsigned bit) {
      uint64_t w = 0;
      for (unsigned k = 0; k < 64; ++k) w |= uint64_t((word * 64 + k) >> bit & 1) << k;
      return w;
    };
    for (unsigned i = 0; i < 4; ++i) {
      sim.set_input(d.a[i], bit_word(i));
      if (b_const < 0) sim.set_input(d.b[i], bit_word(4 + i));
    }
    sim.set_input(d.s, bit_word(8));
    sim.eval();
    for (unsigned k = 0; k < 64; ++k) {
      const unsigned p = word * 64 + k, av = p & 15, bv = b_const < 0 ? (p >> 4 & 15) : unsigned(b_const);
      const unsigned want = (p >> 8 & 1) ? (av + bv) & 15 : (av - bv) & 15;
      unsigned got = 0;
      for (unsigned i = 0; i < 4; ++i) got |= unsigned(sim.output(d.o[i]) >> k & 1) << i;
      ASSERT_EQ(got, want) << "a " << av << " b " << bv << " add " << (p >> 8 & 1);
    }
  }
}

bool every_input_connected(const CDB_SGATE_NETLIST& nl) {
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it && !kavu_is_a_dff(*it))
      for (CDB_SGATE_ITERM* t : (*it)->get_input_terms())
        if (t && !cdb_is_connected(t)) return false;
  return true;
}

}  // namespace

TEST(KavuUtilityCleanup, AddSubRewriteIsExactOnAllFourBitOperands) {
  for (int b_const : {-1, 3, 2}) {
    ADDSUB_DESIGN d(b_const);
    KAVU_TRACK(d.nl);
    CDB_SGATE_NODE* adder = rtl_replace_addsub_with_opadd(d.op, &d.nl);
    ASSERT_TRUE(kavu_is_a_add_op(adder));
    EXPECT_FALSE(d.op->has_fanout());
    d.nl.delete_node(d.op);
    delete d.op;
    CDB_SGATE_OPERATOR* add = adder->cast_to_operator();
    // B = 0011 has bit 0 at VCC: carry-in GND and B bit 0 VCC in the adder.
    EXPECT_EQ(add->get_iterm(CDB_OPER_PORT_CIN, 0)->is_gnd(), b_const == 3);
    EXPECT_EQ(add->get_iterm(CDB_OPER_PORT_B, 0)->is_vcc(), b_const == 3);
    expect_adds_and_subtracts(d, b_const);
  }
  ADDSUB_DESIGN bad(-1);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_replace_addsub_with_opadd(bad.a[0], &bad.nl), "kavu_is_a_addsub_op(addsub)");
  bad.op->cast_to_operator()->get_port(CDB_OPER_PORT_ADD_NOT_SUB)->get_iterm(0)->disconnect_from_source();
  EXPECT_KAVU_INTERNAL_ERROR(rtl_replace_addsub_with_opadd(bad.op, &bad.nl), "cdb_is_connected (addnsub)");
}

TEST(KavuUtilityCleanup, IsolationTiesInputsAndKeepsPreservedRegisters) {
  // The dead cone used to be left with unconnected inputs and a preserved
  // register cut loose from its data.
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* clk = make_input_pin(&nl, "clk");
  auto* x = make_input_pin(&nl, "x");
  auto* kept = make_dff(&nl, make_and(&nl, x, clk), clk);
  kept->cast_to_dff()->set_preserve(true);
  auto* pruned = make_dff(&nl, make_or(&nl, x, clk), clk);
  auto* top = make_xor(&nl, kept, pruned);
  rtl_isolate_orphaned_gates_non_recurse(top->get_single_oterm());
  EXPECT_TRUE(every_input_connected(nl));
  EXPECT_TRUE(kept->get_input_term(CDB_DFF_DATA)->get_source() != nullptr);    // kept
  EXPECT_TRUE(pruned->get_input_term(CDB_DFF_DATA)->is_vcc());                 // cut and tied
  EXPECT_FALSE(kept->has_fanout() || pruned->has_fanout());
  EXPECT_KAVU_INTERNAL_ERROR(rtl_isolate_orphaned_gates_non_recurse(nullptr), "orphan_oterm != NULL");
}

TEST(KavuUtilityCleanup, ObserversSkipDeviceRegistersWithoutRegisterOutput) {
  auto nl = load_blif("counter8_generic");
  KAVU_TRACK(nl);
  auto* atom = new CDB_SGATE_WYSIWYG(nullptr, 62);  // a flip-flop atom without terminals
  nl->add_node(atom);
  atom->set_preserve(true);
  nl->sweep(false);  // what the observers' removal sweeps anyway
  const unsigned before = nl->size();
  std::vector<CDB_SGATE_OTERM*> observers;
  rtl_add_register_observers(nl.get(), &observers);
  EXPECT_EQ(observers.size(), 8u);  // the plain registers only
  EXPECT_EQ(nl->size(), before + 8);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_add_register_observers(nl.get(), &observers), "prot_oterms->size() == 0");
  rtl_rm_register_observers(nl.get(), &observers);
  EXPECT_EQ(nl->size(), before);
}

TEST(KavuUtilityCleanup, SmallRewritesAndQueries) {
  CDB_SGATE_NETLIST golden, nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* muxes[2];
  for (CDB_SGATE_NETLIST* n : {&golden, &nl}) {
    auto* sel = make_input_pin(n, "sel");
    auto* d0 = make_input_pin(n, "d0");
    CDB_SGATE_NODE* m = make_mux(n, d0, d0, sel);
    m->get_input_term(CDB_MUX_DATA1)->set_gnd();
    m->get_input_term(CDB_MUX_SELECT)->set_invert();
    make_output_pin(n, "y", m);
    muxes[n == &nl] = m;
  }
  ASSERT_TRUE(rtl_turn_21mux_to_2and(muxes[1], &nl));
  EXPECT_FALSE(muxes[1]->has_fanout());
  EXPECT_TRUE(sim_equivalent(&golden, &nl));

  // Majority OR(ab, ac, bc) before a single-carry buffer: three soft buffers.
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* c = make_input_pin(&nl, "c");
  auto* maj = make_or(&nl, make_or(&nl, make_and(&nl, a, b), make_and(&nl, c, a)), make_and(&nl, b, c));
  EXPECT_FALSE(rtl_protect_carrys(&nl, true));  // a two-input OR of an OR is no majority
  auto* or3 = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
  nl.add_node(or3);
  for (auto* pair : {make_and(&nl, a, b), make_and(&nl, c, a), make_and(&nl, b, c)})
    or3->insert_unordered_fanin(pair->get_single_oterm());
  auto* carry = make_buffer(&nl, or3, CDB_BUFFER_SINGLE_CARRY);
  make_output_pin(&nl, "co", carry);
  make_output_pin(&nl, "m", maj);
  EXPECT_TRUE(rtl_protect_carrys(&nl, true));
  int soft = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) soft += (*it && kavu_is_a_soft_buffer(*it));
  EXPECT_EQ(soft, 3);
  auto* reader = make_and(&nl, carry, a);
  EXPECT_TRUE(rtl_iterm_is_fed_by_carry(reader->get_input_term(0)));
  EXPECT_FALSE(rtl_iterm_is_fed_by_carry(reader->get_input_term(1)));

  // A decoder's outputs are one-hot buddies.
  auto* dec = new CDB_SGATE_OPERATOR(nullptr, CDB_OPER_DECODE);
  auto* sel = dec->add_port("a", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
  auto* out = dec->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
  nl.add_node(dec);
  for (unsigned i = 0; i < 2; ++i) sel->set_iterm(i, dec->create_input_term(nullptr));
  for (unsigned i = 0; i < 4; ++i) out->set_oterm(i, dec->create_output_term(nullptr));
  std::vector<CDB_SGATE_OTERM*> buddies;
  EXPECT_TRUE(rtl_has_onehot_buddies(out->get_oterm(1)));
  EXPECT_TRUE(rtl_get_onehot_buddies(out->get_oterm(1), &buddies, false));
  EXPECT_EQ(buddies.size(), 3u);
  buddies.clear();
  EXPECT_TRUE(rtl_get_onehot_buddies(out->get_oterm(1), &buddies, true));
  EXPECT_EQ(buddies.size(), 4u);

  // A chain of two NOT gates sweeps away, its readers seeing the input plainly.
  auto* y = make_output_pin(&nl, "yy", make_not(&nl, make_not(&nl, a)));
  EXPECT_EQ(rtl_sweep_wires(&nl), 2);
  EXPECT_EQ(y->get_single_iterm()->get_source(), a->get_single_oterm());
  EXPECT_FALSE(y->get_single_iterm()->is_inverted());

  EXPECT_EQ(rtl_gimmie_bit(5, 2), 1u);
  EXPECT_EQ(rtl_gimmie_bit(5, 1), 0u);
  EXPECT_KAVU_INTERNAL_ERROR(rtl_gimmie_bit(5, 32), "index < static_cast<unsigned int>(RTL_BITS_IN_UINT)");
}

TEST(KavuUtilityCleanup, DefaultPowerUpFollowsAsynchronousControls) {
  struct ROW { bool pre_vcc, clr_logic; bool flipped; } rows[] = {{true, false, true}, {true, true, false},
                                                                  {false, false, false}};
  for (const ROW& r : rows) {
    CDB_SGATE_NETLIST nl;
    auto* clk = make_input_pin(&nl, "clk");
    auto* dff = make_dff(&nl, clk, clk);
    if (r.pre_vcc) dff->get_input_term(CDB_DFF_PRESET)->set_vcc();
    if (r.clr_logic) dff->get_input_term(CDB_DFF_ACLR)->set_source(clk->get_single_oterm());
    else dff->get_input_term(CDB_DFF_ACLR)->set_gnd();
    rtl_correct_default_pwrup_flags(&nl);
    EXPECT_EQ(dff->cast_to_dff()->powers_up_high(), r.flipped) << r.pre_vcc << r.clr_logic;
    dff->cast_to_dff()->set_has_power_up_setting(true);
    EXPECT_KAVU_INTERNAL_ERROR(rtl_flip_register_to_default_power_up(dff), "has_power_up_setting()");
  }
}
