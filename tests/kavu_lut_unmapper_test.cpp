// Tests of the LUT unmapper: hand-computed small LUTs in the sum-of-minterms
// and factored forms, the factoring against a naive model (don't cares
// included), the driver's handling of inverted outputs, fan-out-free LUTs and
// the sweep, every LUT of the MCNC circuits unmapped by each form, and the
// mux-to-logic conversion.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <list>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_lut_unmapper.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_helper_predicates.h"
#include "kavu_setup.h"
#include "kavu_wysiwyg_unmapper.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef std::list<CDB_SGATE_NODE*> NODE_LIST;

// One small circuit: input pins x0.., a LUT over them, an output pin "y".
struct LUT_CIRCUIT {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  CDB_SGATE_LUT* lut = nullptr;
  CDB_SGATE_NODE* out = nullptr;

  LUT_CIRCUIT(unsigned n, uint64_t mask, bool output_inverted = false) {
    for (unsigned i = 0; i < n; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
    lut = make_lut(&nl, pins, mask)->cast_to_lut();
    if (output_inverted) lut->get_output_term(0)->set_invert();
    out = make_output_pin(&nl, "y", lut);
  }
  // Adds the new gates to the netlist and deletes the LUT.
  void finish(const NODE_LIST& nodes) {
    for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
    nl.delete_node(lut);
    delete lut;
    lut = nullptr;
  }
  CDB_SGATE_ITERM* out_iterm() const { return out->get_input_term(0); }
};

const CDB_SGATE_COMB* as_comb(const CDB_SGATE_NODE* n) {
  return n->get_sgate_type() == CDB_SGATE_COMB_ENUM ? static_cast<const CDB_SGATE_COMB*>(n) : nullptr;
}

int count_comb(const NODE_LIST& nodes, CDB_COMB_TYPE type) {
  int k = 0;
  for (const CDB_SGATE_NODE* n : nodes)
    if (as_comb(n) && as_comb(n)->get_comb_type() == type) ++k;
  return k;
}

// Value of a factored node when input terminal t has value values[t],
// evaluating the new gates in creation order (children come first).
bool eval_factored(const FACTORED_NODE& r, const NODE_LIST& nodes, std::map<const CDB_SGATE_OTERM*, bool> values) {
  auto read = [&values](const CDB_SGATE_ITERM* t) {
    const bool v = t->get_source() ? values.at(t->get_source()) : true;
    return v != t->is_inverted();
  };
  for (const CDB_SGATE_NODE* n : nodes) {
    const CDB_SGATE_COMB* c = as_comb(n);
    EXPECT_NE(c, nullptr);
    bool acc = c->get_comb_type() == CDB_COMB_AND;
    for (unsigned i = 0; i < c->get_number_of_input_terms(); ++i) {
      const bool v = read(c->get_input_term(i));
      if (c->get_comb_type() == CDB_COMB_AND) acc = acc && v;
      else if (c->get_comb_type() == CDB_COMB_OR) acc = acc || v;
      else acc = acc != v;
    }
    values[c->get_output_term(0)] = acc;
  }
  const bool v = r.oterm ? values.at(r.oterm) : true;
  return v != r.inverted;
}

CDB_LUTMASK mask_of(unsigned n, uint64_t v) {
  CDB_LUTMASK m;
  m.set_value(n, v);
  return m;
}

}  // namespace

// ---------------------------------------------------------------------------
TEST(KavuLutUnmapperSumOfMinterms, ConstantMasksGiveOneOrWithAConstant) {
  for (uint64_t mask : {uint64_t(0), uint64_t(0xF)}) {
    LUT_CIRCUIT c(2, mask);
    KAVU_TRACK(c.nl);
    NODE_LIST nodes;
    CDB_SGATE_OTERM* head = lut_unmap_two_level(c.lut, &nodes);
    ASSERT_EQ(nodes.size(), 1u);
    const CDB_SGATE_COMB* sum = as_comb(nodes.front());
    ASSERT_TRUE(sum && sum->get_comb_type() == CDB_COMB_OR);
    EXPECT_EQ(head, sum->get_output_term(0));
    ASSERT_EQ(sum->get_number_of_input_terms(), 1u);
    EXPECT_EQ(sum->get_input_term(0)->is_vcc(), mask != 0);
    EXPECT_EQ(sum->get_input_term(0)->is_gnd(), mask == 0);
    EXPECT_EQ(c.out_iterm()->get_source(), head);
    c.finish(nodes);
  }
}

TEST(KavuLutUnmapperSumOfMinterms, XorIsTwoProductsWithOppositeLiterals) {
  LUT_CIRCUIT c(2, 0x6);
  LUT_CIRCUIT golden(2, 0x6);
  KAVU_TRACK(c.nl);
  NODE_LIST nodes;
  lut_unmap_two_level(c.lut, &nodes);
  ASSERT_EQ(nodes.size(), 3u);  // OR, then the ANDs of minterms 1 and 2
  auto it = std::next(nodes.begin());
  const CDB_SGATE_NODE* m1 = *it++;
  const CDB_SGATE_NODE* m2 = *it;
  EXPECT_FALSE(m1->get_input_term(0)->is_inverted());
  EXPECT_TRUE(m1->get_input_term(1)->is_inverted());
  EXPECT_TRUE(m2->get_input_term(0)->is_inverted());
  EXPECT_FALSE(m2->get_input_term(1)->is_inverted());
  c.finish(nodes);
  ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
}

TEST(KavuLutUnmapperSumOfMinterms, InvertedAndTiedInputsKeepTheFunction) {
  auto build = [](LUT_CIRCUIT& c) {
    c.lut->get_input_term(0)->invert();      // reads !x0
    c.lut->get_input_term(2)->set_gnd();     // x2 tied to 0
  };
  LUT_CIRCUIT c(3, 0xB4), golden(3, 0xB4);
  build(c);
  build(golden);
  KAVU_TRACK(c.nl);
  NODE_LIST nodes;
  lut_unmap_two_level(c.lut, &nodes);
  EXPECT_EQ(nodes.size(), 5u);  // four minterms and the OR, whatever the inputs
  c.finish(nodes);
  ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
}

// Regression: an unconnected input reads 1; dropping its literal turned
// x0 & !x1 into x0 instead of the constant 0 the LUT computes.
TEST(KavuLutUnmapperSumOfMinterms, UnconnectedInputKeepsItsLiteral) {
  LUT_CIRCUIT c(2, 0x2), golden(2, 0x2);
  c.lut->get_input_term(1)->disconnect_from_source();
  golden.lut->get_input_term(1)->disconnect_from_source();
  NODE_LIST nodes;
  lut_unmap_two_level(c.lut, &nodes);
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_TRUE(nodes.back()->get_input_term(1)->is_gnd());
  c.finish(nodes);
  ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
}

// ---------------------------------------------------------------------------
TEST(KavuLutUnmapperFactored, SingleInputWireAndInverterMakeNoGate) {
  for (uint64_t mask : {uint64_t(0x2), uint64_t(0x1)}) {
    LUT_CIRCUIT c(1, mask);
    KAVU_TRACK(c.nl);
    NODE_LIST nodes;
    bool inverted = true;
    CDB_SGATE_OTERM* head = kavu_convert_lut_to_factored_logic_fast(c.lut, &nodes, &inverted);
    EXPECT_TRUE(nodes.empty());
    EXPECT_EQ(head, c.pins[0]->get_output_term(0));
    EXPECT_EQ(inverted, mask == 0x1);
    EXPECT_EQ(c.out_iterm()->get_source(), head);
    EXPECT_EQ(c.out_iterm()->is_inverted(), mask == 0x1);
    c.finish(nodes);
  }
}

TEST(KavuLutUnmapperFactored, ConstantLutsBecomeOneInputAndOfTheConstant) {
  for (unsigned n : {0u, 2u}) {
    for (bool one : {false, true}) {
      LUT_CIRCUIT c(n, one ? ~uint64_t(0) : 0), golden(n, one ? ~uint64_t(0) : 0);
      KAVU_TRACK(c.nl);
      NODE_LIST nodes;
      bool inverted = true;
      kavu_convert_lut_to_factored_logic_fast(c.lut, &nodes, &inverted);
      ASSERT_EQ(nodes.size(), 1u) << n;
      const CDB_SGATE_COMB* g = as_comb(nodes.front());
      ASSERT_TRUE(g && g->get_comb_type() == CDB_COMB_AND && g->get_number_of_input_terms() == 1);
      EXPECT_EQ(g->get_input_term(0)->is_vcc(), one);
      EXPECT_FALSE(inverted);
      c.finish(nodes);
      ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
    }
  }
}

TEST(KavuLutUnmapperFactored, DisjointDecompositionsNeedNoShannonSplit) {
  struct CASE {
    unsigned n;
    uint64_t mask;
    int ands, ors, xors;
  };
  const CASE cases[] = {
      {4, 0x8000, 3, 0, 0},              // x0 x1 x2 x3: nested 2-input ANDs
      {3, 0x96, 0, 0, 2},                // x0 ^ x1 ^ x2
      {6, 0x6996966996696996ull, 0, 0, 5},  // parity of six, across the word halves
      {4, 0xFFF8, 1, 2, 0},              // x0 x1 | x2 | x3
  };
  for (const CASE& k : cases) {
    LUT_CIRCUIT c(k.n, k.mask), golden(k.n, k.mask);
    KAVU_TRACK(c.nl);
    NODE_LIST nodes;
    bool inverted = false;
    kavu_convert_lut_to_factored_logic_fast(c.lut, &nodes, &inverted);
    EXPECT_EQ(count_comb(nodes, CDB_COMB_AND), k.ands) << std::hex << k.mask;
    EXPECT_EQ(count_comb(nodes, CDB_COMB_OR), k.ors) << std::hex << k.mask;
    EXPECT_EQ(count_comb(nodes, CDB_COMB_XOR), k.xors) << std::hex << k.mask;
    c.finish(nodes);
    ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
  }
}

TEST(KavuLutUnmapperFactored, MajorityKeepsItsFunctionInFewGates) {
  LUT_CIRCUIT c(3, 0xE8), golden(3, 0xE8);
  KAVU_TRACK(c.nl);
  NODE_LIST nodes;
  bool inverted = false;
  kavu_convert_lut_to_factored_logic_fast(c.lut, &nodes, &inverted);
  // Tripwire: x0 x1 | x2 (x0 | x1) takes four 2-input gates; a change needs a reason.
  EXPECT_EQ(lut_unmap_count_gates(nodes).two_input_equivalents(), 4);
  EXPECT_EQ(count_comb(nodes, CDB_COMB_XOR), 0);
  c.finish(nodes);
  ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
}

TEST(KavuLutUnmapperFactored, DontCaresDropAnInputAndAreOnlyUsedWhereAllowed) {
  // x0 & x1 with minterm (x0 = 0, x1 = 1) free: x1 alone fits the care set.
  CDB_LUTMASK mask = mask_of(2, 0x8), dc = mask_of(2, 0x2);
  FACTORED_INPUTS inputs(2);
  EXPECT_EQ(lut_unmap_drop_free_inputs(mask, &dc, &inputs), 1);
  EXPECT_EQ(mask, CDB_LUTMASK::imask(1, 0));
  EXPECT_TRUE(dc.is_gnd());
  // Without don't cares nothing goes.
  CDB_LUTMASK exact = mask_of(2, 0x8);
  EXPECT_EQ(lut_unmap_drop_free_inputs(exact, nullptr, nullptr), 0);

  // Against a naive model: for random masks and don't-care sets over 1 to 6
  // inputs, the factored cone agrees with the mask on every care minterm.
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_OTERM*> terms;
  FACTORED_INPUTS lits;
  for (int i = 0; i < 6; ++i) {
    terms.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str())->get_output_term(0));
    lits.push_back(FACTORED_NODE{terms.back(), i == 3});  // one input arrives inverted
  }
  CDB_SGATE_LUT* namer = make_lut(&nl, {}, 0)->cast_to_lut();
  std::mt19937_64 rng(7);
  for (unsigned n = 1; n <= 6; ++n) {
    for (int trial = 0; trial < 40; ++trial) {
      const CDB_LUTMASK f = mask_of(n, rng());
      const CDB_LUTMASK d = mask_of(n, trial % 4 == 0 ? 0 : rng() & rng());
      NODE_LIST nodes;
      const FACTORED_INPUTS in(lits.begin(), lits.begin() + n);
      const FACTORED_NODE r = lut_unmap_factor_mask(&nodes, namer, f, d, in);
      for (unsigned m = 0; m < (1u << n); ++m) {
        if ((d.get_value() >> m) & 1) continue;
        std::map<const CDB_SGATE_OTERM*, bool> values;
        for (unsigned i = 0; i < 6; ++i) values[terms[i]] = (((m >> i) & 1) != 0) != (i == 3);
        ASSERT_EQ(eval_factored(r, nodes, values), ((f.get_value() >> m) & 1) != 0)
            << "n " << n << " mask " << f.get_string_value() << " dc " << d.get_string_value() << " m " << m;
      }
      for (CDB_SGATE_NODE* g : nodes) delete g;
    }
  }
}

TEST(KavuLutUnmapperFactored, LoopLutKeepsItsLoopThroughOneGate) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_LUT* lut = make_lut(&nl, {nullptr}, 0x2)->cast_to_lut();
  lut->get_input_term(0)->set_source(lut->get_output_term(0));
  make_output_pin(&nl, "y", lut);
  NODE_LIST nodes;
  bool inverted = false;
  CDB_SGATE_OTERM* head = kavu_convert_lut_to_factored_logic_fast(lut, &nodes, &inverted);
  ASSERT_EQ(nodes.size(), 1u);
  const CDB_SGATE_NODE* g = nodes.front();
  EXPECT_EQ(head, g->get_output_term(0));
  EXPECT_EQ(g->get_input_term(0)->get_source(), head);  // reads itself, as the LUT did
  for (CDB_SGATE_NODE* n : nodes) nl.add_node(n, true);
}

TEST(KavuLutUnmapperFactored, RefusesMaskThatNeedsAnUnconnectedInput) {
  LUT_CIRCUIT c(2, 0x8);
  c.lut->get_input_term(1)->disconnect_from_source();
  NODE_LIST nodes;
  bool inverted = false;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_lut_to_factored_logic_fast(c.lut, &nodes, &inverted),
                             "is_independent_of");
}

// ---------------------------------------------------------------------------
TEST(KavuLutUnmapperDriver, LutWithoutFanoutIsLeftAlone) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_LUT* lut = make_lut(&nl, {x, x}, 0x6)->cast_to_lut();
  lut->get_output_term(0)->set_invert();
  KAVU_LUT_UNMAPPER unmapper;
  NODE_LIST nodes;
  EXPECT_EQ(unmapper.convert_lut_to_logic(lut, &nodes), nullptr);
  EXPECT_TRUE(nodes.empty());
  EXPECT_EQ(lut->get_lut_mask().get_value(), 0x6u);
  EXPECT_TRUE(lut->get_output_term(0)->is_inverted());
}

TEST(KavuLutUnmapperDriver, EveryFormKeepsInvertedOutputsSweptInputsAndFunction) {
  // Inverted output, an inverted input, a duplicate source and a tied input:
  // the sweep (caching on) folds them, the plain path does not.
  auto build = [](LUT_CIRCUIT& c) {
    c.lut->get_input_term(1)->invert();
    c.lut->get_input_term(2)->set_source(c.pins[0]->get_output_term(0));
    c.lut->get_input_term(3)->set_vcc();
  };
  for (int form = 0; form < 3; ++form) {
    for (bool caching : {false, true}) {
      LUT_CIRCUIT c(4, 0x6CA5, true), golden(4, 0x6CA5, true);
      build(c);
      build(golden);
      KAVU_TRACK(c.nl);
      KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::RESULT_FORM(form), caching, false);
      NODE_LIST nodes;
      CDB_SGATE_OTERM* head = unmapper.convert_lut_to_logic(c.lut, &nodes);
      ASSERT_NE(head, nullptr);
      EXPECT_FALSE(c.lut->has_fanout());
      c.finish(nodes);
      ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
    }
  }
}

TEST(KavuLutUnmapperDriver, BooleanFormFallsBackOnTheFactoredForm) {
  CFG_SCOPE cfg{{"kavu_use_boolean_unmap", "on"}};
  DEBUG_CAPTURE cap("KAVU");
  LUT_CIRCUIT c(3, 0x96), golden(3, 0x96);
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::SUM_OF_MINTERMS, false, false);
  EXPECT_TRUE(cap.contains("Using Boolean unmapping"));
  EXPECT_TRUE(cap.contains("not available"));
  NODE_LIST nodes;
  unmapper.convert_lut_to_logic(c.lut, &nodes);
  EXPECT_EQ(count_comb(nodes, CDB_COMB_XOR), 2);  // factored, not minterms
  c.finish(nodes);
  ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
}

TEST(KavuLutUnmapperDriver, DebugLinesCountTheGatesOfEachUnmappedLut) {
  const bool saved = kavu_debug_lut_unmapper;
  kavu_debug_lut_unmapper = true;
  DEBUG_CAPTURE cap("KAVU");
  LUT_CIRCUIT c(3, 0x96);
  KAVU_LUT_UNMAPPER unmapper;
  NODE_LIST nodes;
  unmapper.convert_lut_to_logic(c.lut, &nodes);
  c.finish(nodes);
  CDB_SGATE_NETLIST idle;
  CDB_SGATE_LUT* orphan = make_lut(&idle, {}, 1)->cast_to_lut();
  EXPECT_EQ(unmapper.convert_lut_to_logic(orphan, &nodes), nullptr);
  kavu_debug_lut_unmapper = saved;
  EXPECT_TRUE(cap.contains("after unmapping has 2 2-input equivalents: 0 2:1 muxes, 0 2-input ANDs (0 ANDs), "
                           "0 2-input ORs (0 ORs), 2 2-input XORs (2 XORs) and 0 others"));
  EXPECT_TRUE(cap.contains("Found decomposition of type XOR"));
  EXPECT_TRUE(cap.contains("because it has no fanout"));
}

TEST(KavuLutUnmapperDriver, RefusesBadArguments) {
  LUT_CIRCUIT c(2, 0x8);
  NODE_LIST nodes;
  KAVU_LUT_UNMAPPER bad(KAVU_LUT_UNMAPPER::RESULT_FORM(7), false, false);
  EXPECT_KAVU_INTERNAL_ERROR(bad.convert_lut_to_logic(c.lut, &nodes), "Unknown type of LUT unmapper");
  KAVU_LUT_UNMAPPER good;
  EXPECT_KAVU_INTERNAL_ERROR(good.convert_lut_to_logic(nullptr, &nodes), "lut");
  EXPECT_KAVU_INTERNAL_ERROR(good.convert_lut_to_logic(c.lut, static_cast<NODE_LIST*>(nullptr)), "new_nodes");
}

// ---------------------------------------------------------------------------
// Every LUT of the 4-LUT-mapped MCNC circuits, unmapped by each form (one
// case per form and circuit, so that the equivalence checks run in parallel).
class KavuLutUnmapperCircuits : public ::testing::TestWithParam<std::tuple<int, const char*>> {};

TEST_P(KavuLutUnmapperCircuits, EveryLutUnmappedKeepsTheCircuit) {
  const int form = std::get<0>(GetParam());
  const std::string name = std::string("mcnc/") + std::get<1>(GetParam());
  auto golden = load_blif(name);
  auto nl = load_blif(name);
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_LUT*> work;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_lut(*it)) work.push_back((*it)->cast_to_lut());
  ASSERT_FALSE(work.empty());
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::RESULT_FORM(form), true, false);
  long gates = 0, two_input = 0;
  for (CDB_SGATE_LUT* lut : work) {
    NODE_LIST nodes;
    unmapper.convert_lut_to_logic(lut, &nodes);
    const LUT_UNMAP_GATE_COUNTS counts = lut_unmap_count_gates(nodes);
    EXPECT_EQ(counts.others + counts.muxes, 0);
    gates += long(nodes.size());
    two_input += counts.two_input_equivalents();
    for (CDB_SGATE_NODE* g : nodes) nl->add_node(g, true);
    nl->delete_node(lut);
    delete lut;
  }
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) ASSERT_FALSE(*it && kavu_is_a_lut(*it));
  ASSERT_KAVU_EQUIVALENT(golden, nl);
  std::printf("[ lut unmap ] %s, %s: %zu LUTs, %.2f gates and %.2f 2-input equivalents per LUT\n",
              form == 0 ? "sum of minterms" : "factored", name.c_str(), work.size(),
              double(gates) / double(work.size()), double(two_input) / double(work.size()));
}

INSTANTIATE_TEST_SUITE_P(Mcnc, KavuLutUnmapperCircuits,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values("alu4", "bigkey", "diffeq", "dsip", "s298",
                                                              "tseng")),
                         [](const auto& info) {  // readable, address-free test names
                           return std::string(std::get<0>(info.param) == 0 ? "minterms_" : "factored_") +
                                  std::get<1>(info.param);
                         });

// ---------------------------------------------------------------------------
TEST(KavuMuxToLogic, KeepsTheFunctionWithInvertedOutputAndInputs) {
  auto build = [](CDB_SGATE_NETLIST& nl, int variant) {
    CDB_SGATE_NODE* d0 = make_input_pin(&nl, "d0");
    CDB_SGATE_NODE* d1 = make_input_pin(&nl, "d1");
    CDB_SGATE_NODE* s = make_input_pin(&nl, "s");
    CDB_SGATE_NODE* mux = make_mux(&nl, d0, d1, s);
    if (variant >= 1) mux->get_output_term(0)->set_invert();
    if (variant >= 2) {
      mux->get_input_term(CDB_MUX_SELECT)->invert();
      mux->get_input_term(CDB_MUX_DATA1)->set_gnd();
    }
    make_output_pin(&nl, "y", mux);
    make_output_pin(&nl, "z", mux, true);
    return mux->cast_to_mux();
  };
  for (int variant = 0; variant < 3; ++variant) {
    CDB_SGATE_NETLIST golden, nl;
    build(golden, variant);
    CDB_SGATE_MUX* mux = build(nl, variant);
    KAVU_TRACK(nl);
    NODE_LIST nodes;
    CDB_SGATE_OTERM* head = kavu_convert_mux_to_logic(mux, &nodes);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_EQ(head, nodes.front()->get_output_term(0));
    EXPECT_FALSE(mux->has_fanout());
    for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
    nl.delete_node(mux);
    delete mux;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

TEST(KavuMuxToLogic, RefusesUnconnectedInputs) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* d = make_input_pin(&nl, "d");
  CDB_SGATE_MUX* mux = make_mux(&nl, d, d, d)->cast_to_mux();
  mux->get_input_term(CDB_MUX_SELECT)->disconnect_from_source();
  NODE_LIST nodes;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_mux_to_logic(mux, &nodes), "select");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_mux_to_logic(nullptr, &nodes), "node");
  EXPECT_TRUE(nodes.empty());
}
