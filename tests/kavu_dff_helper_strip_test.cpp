// Tests of the inversion push and the control-signal strips on hand-built
// registers, checked structurally and by sequential simulation against an
// untouched copy.
#include <gtest/gtest.h>

#include <memory>

#include "cdb/cdb_sgate.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_dff_helper_sync.h"
#include "cmp/cmp.h"
#include "kavu_family_info.h"
#include "kavu_helper_predicates.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// One register q <- d with pins for every synchronous control; `tie` leaves
// the named controls tied inactive instead.
struct ONE_REG {
  std::unique_ptr<CDB_SGATE_NETLIST> nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NODE* reg = nullptr;
  CDB_SGATE_NODE* en = nullptr;

  ONE_REG(bool use_en, bool use_sclr, bool use_sload, bool priority = false) {
    CDB_SGATE_NETLIST* n = nl.get();
    auto* clk = make_input_pin(n, "clk");
    reg = make_dff(n, make_input_pin(n, "d"), clk);
    for (int pos : {CDB_DFF_ACLR, CDB_DFF_PRESET, CDB_DFF_ALOAD}) reg->get_input_term(unsigned(pos))->set_gnd();
    en = make_input_pin(n, "en");
    connect_or_tie(CDB_DFF_ENA, use_en ? en : nullptr, true);
    connect_or_tie(CDB_DFF_SCLR, use_sclr ? make_input_pin(n, "clr") : nullptr, false);
    connect_or_tie(CDB_DFF_SLOAD, use_sload ? make_input_pin(n, "ld") : nullptr, false);
    connect_or_tie(CDB_DFF_ADATA, use_sload ? make_input_pin(n, "ad") : nullptr, true);
    reg->get_reg_flags()->set_sclr_over_ena_priority(priority);
    make_output_pin(n, "q", reg);
  }
  void connect_or_tie(int pos, CDB_SGATE_NODE* src, bool idle_high) {
    CDB_SGATE_ITERM* t = reg->get_input_term(unsigned(pos));
    if (src) {
      src->get_single_oterm()->insert_fanout(t);
    } else if (idle_high) {
      t->set_vcc();
    } else {
      t->set_gnd();
    }
  }
};

TEST(KavuDffStrip, EachStripKeepsTheRegisterFunction) {
  for (bool priority : {false, true}) {
    SCOPED_TRACE(priority ? "sclr over ena" : "ena over sclr");
    ONE_REG golden(true, true, true, priority);
    ONE_REG r(true, true, true, priority);
    KAVU_TRACK(*r.nl);
    EXPECT_TRUE(kavu_strip_dff_sload(r.reg, r.nl.get()));
    EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_SLOAD)->is_gnd());
    if (priority) {
      // The clear acts while disabled: the enable must go first.
      EXPECT_TRUE(kavu_strip_dff_enable(r.reg, r.nl.get()));
      EXPECT_TRUE(kavu_strip_dff_sclr(r.reg, r.nl.get()));
    } else {
      EXPECT_TRUE(kavu_strip_dff_sclr(r.reg, r.nl.get()));
      EXPECT_TRUE(kavu_strip_dff_enable(r.reg, r.nl.get()));
    }
    EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_SCLR)->is_gnd());
    EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_ENA)->is_vcc());
    ASSERT_KAVU_EQUIVALENT(*golden.nl, *r.nl);
  }
}

TEST(KavuDffStrip, EnableStripFeedsBackTheStoredValue) {
  ONE_REG golden(true, false, false);
  ONE_REG r(true, false, false);
  KAVU_TRACK(*r.nl);
  // An inverted register output: readers see !q, the hold input must not.
  CDB_SGATE_OTERM* q = r.reg->get_single_oterm();
  for (ONE_REG* x : {&golden, &r}) {
    x->reg->get_single_oterm()->invert();
  }
  ASSERT_TRUE(kavu_strip_dff_enable(r.reg, r.nl.get()));
  CDB_SGATE_NODE* mux = r.reg->get_input_term(CDB_DFF_DATA)->get_source()->get_my_node();
  ASSERT_TRUE(kavu_is_a_mux(mux));
  EXPECT_EQ(mux->get_input_term(CDB_MUX_DATA0)->get_source(), q);
  EXPECT_EQ(mux->get_input_term(CDB_MUX_SELECT)->get_source(), r.en->get_single_oterm());
  ASSERT_KAVU_EQUIVALENT(*golden.nl, *r.nl);
}

TEST(KavuDffStrip, TiedLowControlsAreNotStripped) {
  ONE_REG r(false, false, false);
  // A clear tied low through a protect buffer counts as unused.
  auto* protect = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_PROTECT);
  r.nl->add_node(protect, true);
  CDB_SGATE_ITERM* in = protect->create_input_term(nullptr);
  protect->set_input_term(in, 0);
  in->set_gnd();
  CDB_SGATE_ITERM* sclr = r.reg->get_input_term(CDB_DFF_SCLR);
  sclr->disconnect_from_source(0);
  protect->get_single_oterm()->insert_fanout(sclr);
  const uint32_t gates = r.nl->size();
  EXPECT_FALSE(kavu_strip_dff_sclr(r.reg, r.nl.get()));
  EXPECT_FALSE(kavu_strip_dff_sload(r.reg, r.nl.get()));
  EXPECT_EQ(r.nl->size(), gates);
  r.reg->get_input_term(CDB_DFF_ENA)->set_gnd();
  EXPECT_FALSE(kavu_strip_dff_enable(r.reg, r.nl.get()));
  // An unconnected control is a caller error.
  r.reg->get_input_term(CDB_DFF_SLOAD)->disconnect_from_source(0);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_strip_dff_sload(r.reg, r.nl.get()), "cdb_is_connected sld_iterm");
}

TEST(KavuDffStrip, SingleStripRespectsClearPriority) {
  ONE_REG plain(true, true, true, false);
  EXPECT_EQ(kavu_strip_single_sload_sclr(plain.reg, plain.nl.get()), 2);
  ONE_REG prio(true, true, true, true);
  EXPECT_EQ(kavu_strip_single_sload_sclr(prio.reg, prio.nl.get()), 1);
  EXPECT_FALSE(prio.reg->get_input_term(CDB_DFF_SCLR)->is_gnd());
}

TEST(KavuDffStrip, NotGatePushTwiceRestoresTheRegister) {
  ONE_REG golden(true, false, false);
  ONE_REG r(true, false, false);
  KAVU_TRACK(*r.nl);
  r.reg->get_input_term(CDB_DFF_PRESET)->set_vcc();
  golden.reg->get_input_term(CDB_DFF_PRESET)->set_vcc();
  kavu_set_dff_powers_up_high(r.reg, false);
  kavu_set_dff_powers_up_high(golden.reg, false);
  r.reg->set_changed(false);

  kavu_not_gate_push(r.reg, r.nl.get());
  // Preset tied VCC and clear tied GND trade places.
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_PRESET)->is_gnd());
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_ACLR)->is_vcc());
  EXPECT_TRUE(kavu_dff_powers_up_high(r.reg));
  EXPECT_TRUE(r.reg->get_flag().test(CDB_NODE_FLAG_NOT_GATE_PUSHED));
  EXPECT_FALSE(r.reg->get_single_oterm()->is_inverted());
  EXPECT_TRUE(r.reg->get_single_oterm()->get_first_fanout()->is_inverted());

  kavu_not_gate_push(r.reg, r.nl.get());
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_PRESET)->is_vcc());
  EXPECT_TRUE(r.reg->get_input_term(CDB_DFF_ACLR)->is_gnd());
  EXPECT_FALSE(r.reg->get_input_term(CDB_DFF_DATA)->is_inverted());
  EXPECT_FALSE(kavu_dff_powers_up_high(r.reg));
  EXPECT_FALSE(r.reg->get_flag().test(CDB_NODE_FLAG_NOT_GATE_PUSHED));
  EXPECT_TRUE(r.reg->is_changed());
  ASSERT_KAVU_EQUIVALENT(*golden.nl, *r.nl);
}

TEST(KavuDffStrip, InvertAbsorption) {
  CDB_SGATE_NETLIST nl;
  auto* clk = make_input_pin(&nl, "clk");
  auto* a = make_dff(&nl, make_input_pin(&nl, "d"), clk);
  EXPECT_TRUE(kavu_invert_could_be_absorbed(a));  // no fan-out
  make_and(&nl, a, clk);
  EXPECT_TRUE(kavu_invert_could_be_absorbed(a));
  make_dff(&nl, a, clk);  // another register's data, not inverted
  EXPECT_FALSE(kavu_invert_could_be_absorbed(a));
}

TEST(KavuDffStrip, AndOfItermsIsReusedOrBuilt) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* g = make_and(&nl, b, a);  // b first: either order matches
  auto* probe = make_and(&nl, a, b);
  CDB_SGATE_ITERM* ia = probe->get_input_term(0);
  CDB_SGATE_ITERM* ib = probe->get_input_term(1);
  const uint32_t gates = nl.size();
  CDB_SGATE_OTERM* found = kavu_find_or_create_and_of_iterms(&nl, probe, ia, ib);
  EXPECT_TRUE(found == g->get_single_oterm() || found == probe->get_single_oterm());
  EXPECT_EQ(nl.size(), gates);
  // Regression: a constant second input has no source; the search used to
  // read its fan-out count through a null pointer.
  CDB_SGATE_NODE* k = make_and(&nl, a, nullptr);
  CDB_SGATE_OTERM* built = kavu_find_or_create_and_of_iterms(&nl, k, k->get_input_term(0), k->get_input_term(1));
  ASSERT_NE(built, nullptr);
  EXPECT_TRUE(built == k->get_single_oterm() || nl.size() == gates + 2);
}

TEST(KavuDffStrip, PriorityFixNeedsAFlipFlopAtomOnPriorityFamilies) {
  for (int base : {15, 25, 45, 47}) {
    SCOPED_TRACE(base);
    CMP_FACADE facade;
    facade.set_base_family(DEV_FAMILY_ENUM(base));
    facade.set_family(DEV_FAMILY_ENUM(base));
    RTL_FAMILY_INFO family(&facade);
    ONE_REG r(true, true, false);
    if (family.sclr_over_ena_priority()) {
      EXPECT_KAVU_INTERNAL_ERROR(kavu_fix_up_sclr_over_ena_priority_on_ff(r.nl.get(), r.reg, &family),
                                 "kavu_is_a_wys_ff");
    } else {
      // Families without the priority need no fix, whatever the gate.
      const uint32_t gates = r.nl->size();
      kavu_fix_up_sclr_over_ena_priority_on_ff(r.nl.get(), r.reg, &family);
      EXPECT_EQ(r.nl->size(), gates);
    }
  }
}

}  // namespace
