// The LUT unmapper: small LUTs in both forms (gates and function), the
// factoring against a naive model with don't cares, the driver's inverted
// outputs, fan-out-free LUTs and sweep, every LUT of MCNC circuits unmapped
// by each form, and the mux-to-logic conversion.
#include <list>
#include <map>
#include <random>
#include <tuple>

#include "kavu_helper_predicates.h"
#include "kavu_lut_unmapper.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_setup.h"
#include "kavu_wysiwyg_unmapper.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef std::list<CDB_SGATE_NODE*> NODE_LIST;

// Input pins x0.., a LUT over them, an output pin "y"; `edit` changes the
// LUT's inputs the same way in the circuit and its golden copy.
struct LUT_CIRCUIT {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  CDB_SGATE_LUT* lut = nullptr;

  LUT_CIRCUIT(unsigned n, uint64_t mask, void (*edit)(LUT_CIRCUIT&) = nullptr, bool output_inverted = false) {
    for (unsigned i = 0; i < n; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
    lut = make_lut(&nl, pins, mask)->cast_to_lut();
    if (output_inverted) lut->get_output_term(0)->set_invert();
    make_output_pin(&nl, "y", lut);
    if (edit) edit(*this);
  }
  // Adds the new gates to the netlist and deletes the LUT.
  void finish(const NODE_LIST& nodes) {
    for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
    nl.delete_node(lut);
    delete lut;
  }
};

int count_comb(const NODE_LIST& nodes, CDB_COMB_TYPE type) {
  int k = 0;
  for (const CDB_SGATE_NODE* n : nodes)
    if (n->get_sgate_type() == CDB_SGATE_COMB_ENUM && static_cast<const CDB_SGATE_COMB*>(n)->get_comb_type() == type) ++k;
  return k;
}

// Value of a factored node when terminal t has value values[t], evaluating
// the new comb gates in creation order (children come first).
bool eval_factored(const FACTORED_NODE& r, const NODE_LIST& nodes, std::map<const CDB_SGATE_OTERM*, bool> values) {
  for (const CDB_SGATE_NODE* n : nodes) {
    const CDB_COMB_TYPE type = static_cast<const CDB_SGATE_COMB*>(n)->get_comb_type();
    bool acc = type == CDB_COMB_AND;
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      const CDB_SGATE_ITERM* t = n->get_input_term(i);
      const bool v = (t->get_source() ? values.at(t->get_source()) : true) != t->is_inverted();
      acc = type == CDB_COMB_AND ? acc && v : type == CDB_COMB_OR ? acc || v : acc != v;
    }
    values[n->get_output_term(0)] = acc;
  }
  return (r.oterm ? values.at(r.oterm) : true) != r.inverted;
}

CDB_LUTMASK mask_of(unsigned n, uint64_t v) {
  CDB_LUTMASK m;
  return m.set_value(n, v), m;
}

void invert_and_tie(LUT_CIRCUIT& c) { c.lut->get_input_term(0)->invert(), c.lut->get_input_term(2)->set_gnd(); }
void open_input(LUT_CIRCUIT& c) { c.lut->get_input_term(1)->disconnect_from_source(); }

}  // namespace

// Small LUTs by both forms: the gates each needs and the function kept.
// Sum of minterms: one AND per minterm and the OR, whatever the inputs (an
// unconnected input reads 1: dropping its literal once turned x0 & !x1 into
// x0 instead of the constant 0). Factored: the gates of the disjoint
// decomposition and never a Shannon split, none for a single input (an
// inverter's inversion moves onto the fan-outs), one AND for a constant.
TEST(KavuLutUnmapperForms, GatesAndFunctionOfSmallLuts) {
  const struct {
    bool factored;
    unsigned n;
    uint64_t mask;
    void (*edit)(LUT_CIRCUIT&);
    int ands, ors, xors;
  } cases[] = {
      {false, 2, 0x0, nullptr, 0, 1, 0},     {false, 2, 0xF, nullptr, 0, 1, 0},
      {false, 2, 0x6, nullptr, 2, 1, 0},     {false, 3, 0xB4, invert_and_tie, 4, 1, 0},
      {false, 2, 0x2, open_input, 1, 1, 0},  {true, 1, 0x2, nullptr, 0, 0, 0},
      {true, 1, 0x1, nullptr, 0, 0, 0},      {true, 0, 0x0, nullptr, 1, 0, 0},
      {true, 2, 0xF, nullptr, 1, 0, 0},      {true, 4, 0x8000, nullptr, 3, 0, 0},  // nested 2-input ANDs
      {true, 3, 0x96, nullptr, 0, 0, 2},     {true, 6, 0x6996966996696996ull, nullptr, 0, 0, 5},
      {true, 4, 0xFFF8, nullptr, 1, 2, 0},   // x0 x1 | x2 | x3
      {true, 3, 0xE8, nullptr, 2, 2, 0},     // majority; tripwire: a change needs a reason
  };
  for (const auto& k : cases) {
    LUT_CIRCUIT c(k.n, k.mask, k.edit), golden(k.n, k.mask, k.edit);
    KAVU_TRACK(c.nl);
    NODE_LIST nodes;
    bool inverted = false;
    if (k.factored) kavu_convert_lut_to_factored_logic_fast(c.lut, &nodes, &inverted);
    else lut_unmap_two_level(c.lut, &nodes);
    EXPECT_EQ(count_comb(nodes, CDB_COMB_AND), k.ands) << k.factored << std::hex << " " << k.mask;
    EXPECT_EQ(count_comb(nodes, CDB_COMB_OR), k.ors) << k.factored << std::hex << " " << k.mask;
    EXPECT_EQ(count_comb(nodes, CDB_COMB_XOR), k.xors) << k.factored << std::hex << " " << k.mask;
    EXPECT_EQ(int(nodes.size()), k.ands + k.ors + k.xors);
    c.finish(nodes);
    ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
  }
}

// For random masks and don't-care sets over 1 to 6 inputs, the factored
// cone agrees with the mask on every care minterm.
TEST(KavuLutUnmapperFactored, DontCaresAgainstANaiveModel) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_OTERM*> terms;
  FACTORED_INPUTS lits;
  for (int i = 0; i < 6; ++i) {
    terms.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str())->get_output_term(0));
    lits.push_back(FACTORED_NODE{terms.back(), i == 3});  // one input arrives inverted
  }
  CDB_SGATE_LUT* namer = make_lut(&nl, {}, 0)->cast_to_lut();
  std::mt19937_64 rng(7);
  size_t gates[2] = {0, 0};  // without and with don't-cares
  for (unsigned n = 1; n <= 6; ++n) {
    for (int trial = 0; trial < 40; ++trial) {
      const CDB_LUTMASK f = mask_of(n, rng());
      const CDB_LUTMASK d = mask_of(n, trial % 4 == 0 ? 0 : rng() & rng());
      NODE_LIST nodes;
      const FACTORED_NODE r = lut_unmap_factor_mask(&nodes, namer, f, d, FACTORED_INPUTS(lits.begin(), lits.begin() + n));
      gates[trial % 4 != 0] += nodes.size();
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
  // Quality tripwire: the gates of all these factorings. Don't-cares that
  // drop a variable and the split cost of a constant cofactor both show
  // here; a worse factoring computes the same function with more gates.
  EXPECT_EQ(gates[0], 696u);
  EXPECT_EQ(gates[1], 1688u);
}

// Split costs and dropped variables worked out by hand (x0 is bit 0 of a
// minterm): a constant cofactor costs its other cofactor's literals plus
// one, also when it is constant only on its care set; an XOR the
// cofactor's plus one. Don't-cares that hide a variable's effect let it go.
TEST(KavuLutUnmapperFactored, SplitCostsAndDroppedVariablesByHand) {
  const struct {
    unsigned n;
    uint64_t mask, dc;
    unsigned v;
    int cost, dropped;
  } cases[] = {
      {2, 0x8, 0x0, 0, 2, 0},   // x0 & x1 on x0: x1, plus one
      {2, 0xE, 0x0, 1, 2, 0},   // x0 | x1 on x1
      {2, 0x6, 0x0, 0, 2, 0},   // x0 ^ x1
      {2, 0x8, 0x2, 0, 1, 1},   // x0 & x1, x0 & !x1 free: x0 = 1 reads 1 where it cares
      {2, 0x8, 0x5, 1, 1, 1},   // x0 & x1 cared for only where x0 = 1: x1 alone
      {2, 0xC, 0x2, 0, 2, 1},   // x1, free at minterm 1: x0 = 1 reads 1 where it cares
      {2, 0xC, 0x1, 0, 2, 1},   // x1, free at 0: x0 = 0 reads 1 where it cares
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lut_unmap_split_cost(mask_of(c.n, c.mask), mask_of(c.n, c.dc), c.v), c.cost) << std::hex << c.mask << " " << c.dc;
    CDB_LUTMASK mask = mask_of(c.n, c.mask), dc = mask_of(c.n, c.dc);
    EXPECT_EQ(lut_unmap_drop_free_inputs(mask, &dc, nullptr), c.dropped) << std::hex << c.mask << " " << c.dc;
  }
}

// A LUT that only passes on its own output keeps its loop through one gate.
TEST(KavuLutUnmapperFactored, LoopLutKeepsItsLoopThroughOneGate) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_LUT* lut = make_lut(&nl, {nullptr}, 0x2)->cast_to_lut();
  lut->get_input_term(0)->set_source(lut->get_output_term(0));
  make_output_pin(&nl, "y", lut);
  NODE_LIST nodes;
  bool inverted = false;
  CDB_SGATE_OTERM* head = kavu_convert_lut_to_factored_logic_fast(lut, &nodes, &inverted);
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_TRUE(head == nodes.front()->get_output_term(0) && nodes.front()->get_input_term(0)->get_source() == head);
  nl.add_node(nodes.front(), true);
}

TEST(KavuLutUnmapperDriver, LutWithoutFanoutIsLeftAlone) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
  CDB_SGATE_LUT* lut = make_lut(&nl, {x, x}, 0x6)->cast_to_lut();
  lut->get_output_term(0)->set_invert();
  NODE_LIST nodes;
  EXPECT_EQ(KAVU_LUT_UNMAPPER().convert_lut_to_logic(lut, &nodes), nullptr);
  EXPECT_TRUE(nodes.empty() && lut->get_lut_mask().get_value() == 0x6u && lut->get_output_term(0)->is_inverted());
}

// Inverted output, an inverted input, a duplicate source and a tied input:
// the sweep (caching on) folds them, the plain path does not.
TEST(KavuLutUnmapperDriver, EveryFormKeepsInvertedOutputsSweptInputsAndFunction) {
  auto edit = [](LUT_CIRCUIT& c) {
    c.lut->get_input_term(1)->invert();
    c.lut->get_input_term(2)->set_source(c.pins[0]->get_output_term(0));
    c.lut->get_input_term(3)->set_vcc();
  };
  for (int form = 0; form < 3; ++form) {
    for (bool caching : {false, true}) {
      LUT_CIRCUIT c(4, 0x6CA5, edit, true), golden(4, 0x6CA5, edit, true);
      KAVU_TRACK(c.nl);
      KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::RESULT_FORM(form), caching, false);
      NODE_LIST nodes;
      // The netlist form adds the new gates itself.
      if (caching) ASSERT_NE(unmapper.convert_lut_to_logic(c.lut, &c.nl), nullptr);
      else ASSERT_NE(unmapper.convert_lut_to_logic(c.lut, &nodes), nullptr);
      EXPECT_FALSE(c.lut->has_fanout());
      c.finish(nodes);
      ASSERT_KAVU_EQUIVALENT(golden.nl, c.nl);
    }
  }
}

TEST(KavuLutUnmapperDriver, RefusesBadArguments) {
  LUT_CIRCUIT c(2, 0x8);
  NODE_LIST nodes;
  KAVU_LUT_UNMAPPER bad(KAVU_LUT_UNMAPPER::RESULT_FORM(7), false, false), good;
  EXPECT_KAVU_INTERNAL_ERROR(bad.convert_lut_to_logic(c.lut, &nodes), "Unknown type of LUT unmapper");
  EXPECT_KAVU_INTERNAL_ERROR(good.convert_lut_to_logic(nullptr, &nodes), "lut");
  EXPECT_KAVU_INTERNAL_ERROR(good.convert_lut_to_logic(c.lut, static_cast<NODE_LIST*>(nullptr)), "new_nodes");
  // The factored form refuses a mask that needs an unconnected input.
  c.lut->get_input_term(1)->disconnect_from_source();
  bool inverted = false;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_lut_to_factored_logic_fast(c.lut, &nodes, &inverted), "is_independent_of");
}

// Every LUT of the 4-LUT-mapped MCNC circuits, unmapped by each form (one
// case per form and circuit, so that the equivalence checks run in parallel).
// Circuit names are strings so that the printed parameter holds no address.
class KavuLutUnmapperCircuits : public ::testing::TestWithParam<std::tuple<int, std::string>> {};

TEST_P(KavuLutUnmapperCircuits, EveryLutUnmappedKeepsTheCircuit) {
  const std::string name = std::string("mcnc/") + std::get<1>(GetParam());
  auto golden = load_blif(name);
  auto nl = load_blif(name);
  KAVU_TRACK(nl);
  std::vector<CDB_SGATE_LUT*> work;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_lut(*it)) work.push_back((*it)->cast_to_lut());
  ASSERT_FALSE(work.empty());
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::RESULT_FORM(std::get<0>(GetParam())), true, false);
  for (CDB_SGATE_LUT* lut : work) {
    NODE_LIST nodes;
    unmapper.convert_lut_to_logic(lut, &nodes);
    const LUT_UNMAP_GATE_COUNTS counts = lut_unmap_count_gates(nodes);
    EXPECT_EQ(counts.others + counts.muxes, 0);
    for (CDB_SGATE_NODE* g : nodes) nl->add_node(g, true);
    nl->delete_node(lut);
    delete lut;
  }
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) ASSERT_FALSE(*it && kavu_is_a_lut(*it));
  ASSERT_KAVU_EQUIVALENT(golden, nl);
}

INSTANTIATE_TEST_SUITE_P(Mcnc, KavuLutUnmapperCircuits,
                         ::testing::Combine(::testing::Values(0, 1),
                                            ::testing::Values(std::string("alu4"), std::string("bigkey"),
                                                              std::string("diffeq"), std::string("dsip"),
                                                              std::string("s298"), std::string("tseng"))),
                         [](const auto& info) {  // readable, address-free test names
                           return std::string(std::get<0>(info.param) == 0 ? "minterms_" : "factored_") +
                                  std::get<1>(info.param);
                         });

// ---------------------------------------------------------------------------
// A mux becomes AND/OR logic with its inverted output and inputs kept; an
// unconnected select is refused.
TEST(KavuMuxToLogic, KeepsTheFunctionWithInvertedOutputAndInputs) {
  auto build = [](CDB_SGATE_NETLIST& nl, int variant) {
    CDB_SGATE_NODE* mux = make_mux(&nl, make_input_pin(&nl, "d0"), make_input_pin(&nl, "d1"), make_input_pin(&nl, "s"));
    if (variant >= 1) mux->get_output_term(0)->set_invert();
    if (variant >= 2) mux->get_input_term(CDB_MUX_SELECT)->invert(), mux->get_input_term(CDB_MUX_DATA1)->set_gnd();
    make_output_pin(&nl, "y", mux);
    make_output_pin(&nl, "z", mux, true);
    return mux->cast_to_mux();
  };
  for (int variant = 0; variant < 4; ++variant) {
    CDB_SGATE_NETLIST golden, nl;
    build(golden, variant);
    CDB_SGATE_MUX* mux = build(nl, variant);
    NODE_LIST nodes;
    if (variant == 3) {
      mux->get_input_term(CDB_MUX_SELECT)->disconnect_from_source();
      EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_mux_to_logic(mux, &nodes), "select");
      EXPECT_KAVU_INTERNAL_ERROR(kavu_convert_mux_to_logic(nullptr, &nodes), "node");
      EXPECT_TRUE(nodes.empty());
      break;
    }
    KAVU_TRACK(nl);
    CDB_SGATE_OTERM* head = kavu_convert_mux_to_logic(mux, &nodes);
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_TRUE(head == nodes.front()->get_output_term(0) && !mux->has_fanout());
    for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
    nl.delete_node(mux);
    delete mux;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}
