// Tests of mux and LUT rewriting: function kept by every mux case and LUT
// growth, and the mask and permutation helpers against hand-worked answers.

#include "kavu_01tbl_cone.h"
#include "kavu_helper_mux.h"
#include "kavu_helper_predicates.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

enum DATA_KIND { SIGNAL_A, SIGNAL_A_INV, SIGNAL_B, GND, VCC };

// out = mux(d0, d1, sel) over pins a, b, s; `inverted_out` inverts the mux
// output terminal itself.
std::unique_ptr<CDB_SGATE_NETLIST> mux_design(DATA_KIND k0, DATA_KIND k1, bool inverted_out,
                                              CDB_SGATE_NODE** mux_out) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NETLIST* n = nl.get();
  auto* a = make_input_pin(n, "a");
  auto* b = make_input_pin(n, "b");
  auto* s = make_input_pin(n, "s");
  auto* mux = make_mux(n, a, b, s);
  for (auto [pos, k] : {std::pair{CDB_MUX_DATA0, k0}, std::pair{CDB_MUX_DATA1, k1}}) {
    CDB_SGATE_ITERM* t = mux->get_input_term(pos);
    t->disconnect_from_source(0);
    if (k == GND || k == VCC) {
      k == GND ? t->set_gnd() : t->set_vcc();
    } else {
      (k == SIGNAL_B ? b : a)->get_single_oterm()->insert_fanout(t);
    }
    if (k == SIGNAL_A_INV) t->set_invert();
  }
  if (inverted_out) mux->get_single_oterm()->invert();
  make_output_pin(n, "y", mux);
  make_output_pin(n, "y2", mux, true);
  if (mux_out) *mux_out = mux;
  return nl;
}

int count_kind(const CDB_SGATE_NETLIST* nl, bool (*is)(const CDB_SGATE_NODE*)) {
  int c = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) c += *it && is(*it);
  return c;
}

TEST(KavuMuxToComb, EveryCaseKeepsTheFunction) {
  const DATA_KIND kinds[] = {SIGNAL_A, SIGNAL_A_INV, SIGNAL_B, GND, VCC};
  for (DATA_KIND k0 : kinds) {
    for (DATA_KIND k1 : kinds) {
      // Regression: an inverted mux output used to be dropped, so every
      // reader saw the complement.
      for (bool inverted_out : {false, true}) {
        SCOPED_TRACE(std::to_string(k0) + "/" + std::to_string(k1) + (inverted_out ? " inverted" : ""));
        auto golden = mux_design(k0, k1, inverted_out, nullptr);
        CDB_SGATE_NODE* mux = nullptr;
        auto nl = mux_design(k0, k1, inverted_out, &mux);
        KAVU_TRACK(*nl);
        // Half of the calls keep the mux, which is then left without readers.
        CDB_SGATE_OTERM* top = kavu_change_mux_to_comb(mux, nl.get(), nullptr, inverted_out, inverted_out);
        EXPECT_EQ(count_kind(nl.get(), kavu_is_a_mux), inverted_out ? 1 : 0);
        // The first case that applies: XOR for opposite data, AND when a
        // data input is GND (before the VCC cases), else an OR on top.
        const bool opposite = (k0 == SIGNAL_A && k1 == SIGNAL_A_INV) || (k0 == SIGNAL_A_INV && k1 == SIGNAL_A);
        const CDB_COMB_TYPE want = opposite ? CDB_COMB_XOR : k0 == GND || k1 == GND ? CDB_COMB_AND : CDB_COMB_OR;
        EXPECT_EQ(top->get_my_node()->cast_to_comb()->get_comb_type(), want);
        ASSERT_KAVU_EQUIVALENT(*golden, *nl);
      }
    }
  }
  CDB_SGATE_NETLIST nl;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_change_mux_to_comb(make_and(&nl, nullptr, nullptr), &nl, nullptr, false, false),
                             "kavu_is_a_mux");
}

TEST(KavuLutToComb, KeepsTheFunctionOfEveryLutOfARealDesign) {
  LOADED_NETLIST golden = load_blif("small/alu8_lut4");
  LOADED_NETLIST nl = load_blif("small/alu8_lut4");
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_NODE*> luts;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (kavu_is_a_lut(*it) && (*it)->has_fanout()) luts.push_back(*it);
  for (CDB_SGATE_NODE* lut : luts) kavu_change_lut_to_comb(lut, nl.get(), false);
  EXPECT_EQ(count_kind(nl.get(), kavu_is_a_lut), 0);
  ASSERT_KAVU_EQUIVALENT(golden, nl);
}

// Gives the LUT `positions` input slots (the new ones empty) and widens its
// mask over them.
void open_positions(CDB_SGATE_NODE* lut, unsigned positions) {
  for (unsigned i = lut->get_number_of_input_terms(); i < positions; ++i)
    lut->set_input_term(new CDB_SGATE_ITERM(lut), i);
  CDB_SGATE_LUT* l = lut->cast_to_lut();
  l->set_lut_mask(l->get_lut_mask().widened(positions));
}

// y = LUT(x, a) with x = (a AND b) XOR (c OR (d AND NOT b)), or with
// `mux_head` y = LUT(h), h = s1 ? (s0 ? b : a) : s0 in AND/OR gates (the head
// half of a 4:1 mux); `positions` input slots.
std::unique_ptr<CDB_SGATE_NETLIST> lut_over_cone(unsigned positions, bool mux_head, CDB_SGATE_NODE** lut_out) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NETLIST* n = nl.get();
  auto* a = make_input_pin(n, "a");
  auto* b = make_input_pin(n, "b");
  auto* c = make_input_pin(n, "c");
  auto* d = make_input_pin(n, "d");
  if (mux_head) {
    auto* inner = make_or(n, make_and(n, c, b), make_and(n, make_not(n, c), a));
    *lut_out = make_lut(n, {make_or(n, make_and(n, d, inner), make_and(n, make_not(n, d), c))}, 0x2);
  } else {
    auto* x = make_xor(n, make_and(n, a, b), make_or(n, c, make_and(n, d, make_not(n, b))));
    *lut_out = make_lut(n, {x, a}, 0x6);  // x XOR a
  }
  open_positions(*lut_out, positions);
  make_output_pin(n, "y", *lut_out);
  return nl;
}

TEST(KavuSuckGatesIntoLut, GrowsOverItsConeWithOneMaskInputPerCutTerminal) {
  for (unsigned positions : {6u, 2u}) {
    for (bool mux_head : {false, true}) {
      CDB_SGATE_NODE* lut = nullptr;
      auto golden = lut_over_cone(positions, mux_head, &lut);
      auto nl = lut_over_cone(positions, mux_head, &lut);
      KAVU_TRACK(*nl);
      // Regression: the cut size came from the architecture alone, so a LUT
      // with two positions got a mask over inputs it could not wire.
      const bool grown = kavu_suck_gates_into_lut(lut);
      const CDB_LUTMASK& mask = lut->cast_to_lut()->get_lut_mask();
      EXPECT_LE(mask.get_num_inputs(), positions);
      if (positions == 6) {
        EXPECT_TRUE(grown);
        EXPECT_EQ(mask.get_num_inputs(), 4u);
        EXPECT_EQ(kavu_count_used_lut_inputs(lut), 4);
        // Regression: the mask was widened to all six positions, so a true
        // 4:1 head was no longer recognised.
        EXPECT_EQ(kavu_lut_is_head_of_41_mux(lut), mux_head);
      }
      ASSERT_KAVU_EQUIVALENT(*golden, *nl);
    }
  }
  // A LUT whose cone holds no more gates than k is left as it was.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* small = make_lut(&nl, {make_input_pin(&nl, "a"), make_input_pin(&nl, "b")}, 0x8);
  make_output_pin(&nl, "y", small);
  EXPECT_FALSE(kavu_suck_gates_into_lut(small));
  EXPECT_EQ(small->cast_to_lut()->get_lut_mask().get_value(), 0x8u);
}

TEST(KavuSuckGatesIntoLut, EveryLutOfMappedCircuitsKeepsTheFunction) {
  int total_grown = 0;
  for (const char* name : {"mcnc/alu4", "small/alu8_lut4", "small/crc8_lut4"}) {
    SCOPED_TRACE(name);
    LOADED_NETLIST golden = load_blif(name);
    LOADED_NETLIST nl = load_blif(name);
    KAVU_TRACK(nl);
    // The reader gives each LUT exactly its used inputs; every LUT is opened
    // to the device's six positions so that growth has room.
    std::vector<CDB_SGATE_NODE*> luts;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
      if (!kavu_is_a_lut(*it)) continue;
      open_positions(*it, unsigned(CDB_LUTMASK::max_num_inputs));
      luts.push_back(*it);
    }
    for (CDB_SGATE_NODE* lut : luts) total_grown += kavu_suck_gates_into_lut(lut);
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
  EXPECT_GT(total_grown, 0);  // some circuit must give the rewrite room to act
}

// A LUT with six input positions over pins a..f: a six-input mask, or a
// four-input one over a..d with two empty positions (as growth leaves it).
std::unique_ptr<CDB_SGATE_NETLIST> six_position_lut(bool narrow, CDB_SGATE_NODE** lut_out) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  std::vector<CDB_SGATE_NODE*> ins;
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) ins.push_back(make_input_pin(nl.get(), name));
  if (narrow) ins.resize(4);
  *lut_out = make_lut(nl.get(), ins, narrow ? 0xCAF0 : 0x0123456789ABCDEFull);
  for (unsigned i = unsigned(ins.size()); i < 6; ++i) (*lut_out)->set_input_term(new CDB_SGATE_ITERM(*lut_out), i);
  make_output_pin(nl.get(), "y", *lut_out);
  return nl;
}

TEST(KavuLutMasks, RotationKeepsTheFunction) {
  int identity[] = {0, 1, 2, 3, 4, 5}, swap01[] = {1, 0, 2, 3, 4, 5}, cycle[] = {3, 5, 0, 4, 1, 2};
  for (bool narrow : {false, true}) {
    for (int* perm : {identity, swap01, cycle}) {
      CDB_SGATE_NODE* lut = nullptr;
      auto golden = six_position_lut(narrow, &lut);
      auto nl = six_position_lut(narrow, &lut);
      KAVU_TRACK(*nl);
      const CDB_LUTMASK before = lut->cast_to_lut()->get_lut_mask();
      CDB_SGATE_ITERM* old0 = lut->get_input_term(0);
      CDB_SGATE_ITERM* old1 = lut->get_input_term(1);
      kavu_rotate_lut_sgate(lut, perm);
      EXPECT_TRUE(perm != identity || lut->cast_to_lut()->get_lut_mask() == before);
      EXPECT_TRUE(perm != swap01 || (lut->get_input_term(0) == old1 && lut->get_input_term(1) == old0));
      ASSERT_KAVU_EQUIVALENT(*golden, *nl);
    }
  }
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* one_input = make_lut(&nl, {make_input_pin(&nl, "a")}, 0x2);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_rotate_lut_sgate(one_input, identity), "ROTATABLE_LUT_SIZE");
}

TEST(KavuLutMasks, FourToOneHalvesBitCountsPermutationsAndSharedInputs) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> p;
  for (int i = 0; i < 9; ++i) p.push_back(make_input_pin(&nl, ("p" + std::to_string(i)).c_str()));
  auto* a = make_lut(&nl, {p[0], p[1], p[2], p[3], p[4], p[5]}, 0x1);
  auto* b = make_lut(&nl, {p[6], p[3], p[0], p[2], p[1], p[7]}, 0x1);
  auto* c = make_lut(&nl, {p[0], p[1], p[2], p[6], p[7], p[8]}, 0x1);
  int perm_a[6], perm_b[6];
  ASSERT_TRUE(kavu_luts_have_4_shared(a, b, perm_a, perm_b));
  EXPECT_EQ(std::vector<int>(perm_a, perm_a + 6), (std::vector<int>{0, 1, 2, 3, 5, 4}));
  EXPECT_EQ(std::vector<int>(perm_b, perm_b + 6), (std::vector<int>{2, 4, 3, 1, 5, 0}));
  EXPECT_FALSE(kavu_luts_have_4_shared(a, c, perm_a, perm_b));  // exactly three shared
  EXPECT_FALSE(kavu_lut_first_4_match(a, b) || kavu_lut_first_4_match(a, c));
  EXPECT_TRUE(kavu_lut_first_4_match(a, make_lut(&nl, {p[0], p[1], p[2], p[3], p[8], p[7]}, 0x1)));
  int good[] = {2, 0, 1}, dup[] = {0, 0, 1}, out_of_range[] = {1, 2, 3}, negative[] = {-1, 0, 1};
  EXPECT_TRUE(kavu_permutation_is_valid(good, 3));
  EXPECT_FALSE(kavu_permutation_is_valid(dup, 3));
  EXPECT_FALSE(kavu_permutation_is_valid(out_of_range, 3));
  EXPECT_FALSE(kavu_permutation_is_valid(negative, 3));
  EXPECT_TRUE(kavu_permutation_is_valid(nullptr, 0));
  // 4:1-mux halves and bit counts.
  std::vector<CDB_SGATE_NODE*> ins;
  for (const char* name : {"a", "b", "c", "d", "e"}) ins.push_back(make_input_pin(&nl, name));
  auto* head = make_lut(&nl, {ins[0], ins[1], ins[2], ins[3]}, 0xACF0);
  auto* tail = make_lut(&nl, {ins[0], ins[1], ins[2], ins[3]}, 0xFC22);
  EXPECT_TRUE(kavu_lut_is_head_of_41_mux(head) && !kavu_lut_is_tail_of_41_mux(head));
  EXPECT_TRUE(kavu_lut_is_tail_of_41_mux(tail) && !kavu_lut_is_head_of_41_mux(tail));
  EXPECT_FALSE(kavu_lut_is_head_of_41_mux(make_lut(&nl, ins, 0xACF0)));  // five inputs
  CDB_LUTMASK and6, or6;
  and6.set_value(6, 1ull << 63);
  or6.set_value(6, ~1ull);
  EXPECT_EQ(kavu_count_hi_lut_bits(&and6), 1);
  EXPECT_EQ(kavu_count_hi_lut_bits(&or6), 63);
}

}  // namespace

// A grown LUT keeps a mask narrower than its six positions; simulating it in
// a cone reads the mask's inputs (this stopped with an internal error).
TEST(KavuLutMasks, NarrowMaskOnSixPositionsSimulates) {
  CDB_SGATE_NODE* lut = nullptr;
  auto nl = six_position_lut(true, &lut);
  std::vector<CDB_SGATE_OTERM*> fanins;
  for (unsigned j = 0; j < 4; ++j) fanins.push_back(lut->get_input_term(j)->get_source());
  EXPECT_EQ(kavu_cone_01tbl(lut->get_single_oterm(), fanins, nullptr).word(0), 0xCAF0u);
}
