// The LUT unmapper's BDD side: every 4-input mask and random 6-input masks
// through every form with the sanity check on (inverted, tied and duplicate
// inputs, caching on and off), the BDD form's gates, cloning, the cache
// (re-instantiation, keys of different input counts, statistics), the table
// dump, the subnet build's refusals and every LUT of real circuits unmapped
// by the BDD form.
#include <cstdio>
#include <filesystem>
#include <list>
#include <map>
#include <random>

#include "bdd/bdd_zbdd.h"
#include "kavu_bdd_sgate.h"
#include "kavu_helper_predicates.h"
#include "kavu_lut_unmapper.h"
#include "kavu_lut_unmapper_int.h"
#include "kavu_setup.h"
#include "platform_test_hooks.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef std::list<CDB_SGATE_NODE*> NODE_LIST;

// Minterm words of up to 6 variables: bit b of word i is bit i of b.
const uint64_t k_proj[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                            0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};

// How a LUT's inputs are driven: each input i reads pin src[i] (inverted
// when inv[i]), or the constant tie[i] when src[i] < 0.
struct INPUT_SHAPE {
  int src[6];
  bool inv[6];
  bool tie[6];
};

INPUT_SHAPE shape_for(unsigned n, unsigned variant) {
  INPUT_SHAPE s;
  for (unsigned i = 0; i < 6; ++i) s.src[i] = int(i), s.inv[i] = false, s.tie[i] = false;
  switch (variant % 5) {
    case 1: s.inv[1] = true; break;                        // an inverted input
    case 2: s.src[n - 1] = -1, s.tie[n - 1] = true; break;   // tied to VCC
    case 3: s.src[2] = -1, s.tie[2] = false; break;         // tied to GND
    case 4: s.src[n - 1] = 0, s.inv[n - 1] = variant % 2 == 0; break;  // a duplicate source
    default: break;
  }
  return s;
}

// The function the LUT computes over its pins, as a 64-bit minterm word.
uint64_t expected_word(unsigned n, uint64_t mask, const INPUT_SHAPE& s) {
  uint64_t w = 0;
  for (unsigned b = 0; b < 64; ++b) {
    unsigned m = 0;
    for (unsigned i = 0; i < n; ++i) {
      const bool v = s.src[i] < 0 ? s.tie[i] : (((b >> s.src[i]) & 1u) != 0) != s.inv[i];
      m |= unsigned(v) << i;
    }
    if ((mask >> m) & 1u) w |= uint64_t(1) << b;
  }
  return w;
}

// Evaluates the terminal over the pins (minterm words) through the new
// gates; anything else is a test failure.
uint64_t eval_word(const CDB_SGATE_OTERM* head, const NODE_LIST& nodes, const std::vector<CDB_SGATE_NODE*>& pins) {
  std::map<const CDB_SGATE_OTERM*, uint64_t> val;
  for (size_t i = 0; i < pins.size(); ++i) val[pins[i]->get_output_term(0)] = k_proj[i];
  std::vector<CDB_SGATE_OTERM*> order;
  lut_unmap_members_in_topo_order(nodes, &order);
  auto in = [&](const CDB_SGATE_ITERM* t) -> uint64_t {
    const uint64_t v = t->get_source() ? val.at(t->get_source()) : ~uint64_t(0);
    return t->is_inverted() ? ~v : v;
  };
  for (const CDB_SGATE_OTERM* o : order) {
    const CDB_SGATE_NODE* g = o->get_my_node();
    uint64_t r;
    if (kavu_is_a_mux(g)) {
      const uint64_t s = in(g->get_input_term(2));
      r = (s & in(g->get_input_term(1))) | (~s & in(g->get_input_term(0)));
    } else {
      const CDB_COMB_TYPE type = g->cast_to_comb()->get_comb_type();
      r = type == CDB_COMB_AND ? ~uint64_t(0) : 0;
      for (const CDB_SGATE_ITERM* t : g->get_input_terms()) {
        if (type == CDB_COMB_AND) r &= in(t);
        else if (type == CDB_COMB_OR) r |= in(t);
        else r ^= in(t);
      }
    }
    val[o] = r;
  }
  return val.at(head);
}

// One LUT between pins and an output pin, unmapped; returns the output
// pin's value word (or fails).
struct SWEEP_RESULT {
  uint64_t got = 0;
  int gates = 0;
};

SWEEP_RESULT unmap_one(KAVU_LUT_UNMAPPER& unmapper, unsigned n, uint64_t mask, const INPUT_SHAPE& s) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (unsigned i = 0; i < n; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
  CDB_SGATE_LUT* lut = make_lut(&nl, pins, mask)->cast_to_lut();
  for (unsigned i = 0; i < n; ++i) {
    CDB_SGATE_ITERM* t = lut->get_input_term(i);
    if (s.src[i] < 0) s.tie[i] ? t->set_vcc() : t->set_gnd();
    else if (s.src[i] != int(i)) t->set_source(pins[s.src[i]]->get_output_term(0));
    if (s.src[i] >= 0 && s.inv[i]) t->invert();
  }
  CDB_SGATE_NODE* out = make_output_pin(&nl, "y", lut);
  NODE_LIST nodes;
  SWEEP_RESULT r;
  if (unmapper.convert_lut_to_logic(lut, &nodes) == nullptr) {
    // The sweep found the LUT constant or a wire onto nothing: the output
    // now reads a constant or a pin directly.
  }
  const CDB_SGATE_ITERM* t = out->get_input_term(0);
  const uint64_t v = t->get_source() ? eval_word(t->get_source(), nodes, pins) : ~uint64_t(0);
  r.got = t->is_inverted() ? ~v : v;
  r.gates = int(nodes.size());
  for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
  return r;
}

// A typed output of a logic cell, in the cell's slot for that port.
CDB_SGATE_OTERM* cell_output(CDB_SGATE_WYSIWYG& cell, DB_OUTPUT_PORT_TYPE type) {
  CDB_SGATE_OTERM* t = cell.create_output_term(nullptr, type);
  cell.set_output_term(t, cell.get_output_port_number(type));
  return t;
}

uint64_t word_mask(unsigned n) { return n >= 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1; }

// ---------------------------------------------------------------------------
// 4-input masks (every fourth, every sixteenth for the BDD form, each form
// starting at another offset; every mask, and 10^5 random 6-input masks per
// form, run in bench/kavu_bdd_bench) and random 6-input masks, through all
// three
// forms with the sanity check on. Inputs cycle through inverted, tied and
// duplicate shapes; caching alternates, so swept masks of fewer inputs meet
// cached masks with the same 64-bit value. The check itself stops on a
// mismatch; the simulation confirms the function once more.
struct SWEEP_CASE {
  unsigned n;
  int form;
  unsigned count;   // masks tried
  unsigned stride;  // 4-input: every stride-th mask
};

// Stable names and printed values (the default prints the struct's bytes).
void PrintTo(const SWEEP_CASE& c, std::ostream* os) {
  *os << c.n << " inputs, form " << c.form << ", " << c.count << " masks, stride " << c.stride;
}

class KavuLutUnmapSanitySweep : public ::testing::TestWithParam<SWEEP_CASE> {};

TEST_P(KavuLutUnmapSanitySweep, EveryMaskUnmapsToItsFunction) {
  const SWEEP_CASE c = GetParam();
  KAVU_LUT_UNMAPPER cached(KAVU_LUT_UNMAPPER::RESULT_FORM(c.form), true, true);
  KAVU_LUT_UNMAPPER plain(KAVU_LUT_UNMAPPER::RESULT_FORM(c.form), false, true);
  CFG_SCOPE keys({{"kavu_unmap_sanity_check", "on"}});
  std::mt19937_64 rng(1234 + c.form);
  for (unsigned k = 0; k < c.count; ++k) {
    const uint64_t mask = c.n == 4 ? uint64_t(k * c.stride + c.form) & 0xFFFF : rng();
    const INPUT_SHAPE s = shape_for(c.n, k);
    const SWEEP_RESULT r = unmap_one(k % 2 ? cached : plain, c.n, mask, s);
    ASSERT_EQ(r.got & word_mask(c.n), expected_word(c.n, mask, s) & word_mask(c.n))
        << "mask " << std::hex << mask << " shape " << std::dec << k % 5;
  }
  if (c.n == 4) {
    EXPECT_GT(cached.get_cache()->size(), 10u);
  }
}

INSTANTIATE_TEST_SUITE_P(Forms, KavuLutUnmapSanitySweep,
                         ::testing::Values(SWEEP_CASE{4, 0, 16384, 4}, SWEEP_CASE{4, 1, 16384, 4},
                                           SWEEP_CASE{4, 2, 4096, 16}, SWEEP_CASE{6, 0, 1000, 0},
                                           SWEEP_CASE{6, 1, 1000, 0}, SWEEP_CASE{6, 2, 300, 0}),
                         [](const ::testing::TestParamInfo<SWEEP_CASE>& info) {
                           return std::to_string(info.param.n) + "InputsForm" + std::to_string(info.param.form);
                         });

// ---------------------------------------------------------------------------
// The BDD form's gates for the shapes it is made for.
TEST(KavuLutUnmapBoolean, GatesOfSmallLuts) {
  struct CASE {
    unsigned n;
    uint64_t mask;
    bool mux_only;  // both generalized candidates switched off
    int ands, ors, xors, muxes;
  };
  const CASE cases[] = {
      {4, 0x8000, false, 3, 0, 0, 0},  // AND of four: three 2-input ANDs
      {4, 0xFFFE, false, 0, 3, 0, 0},  // OR of four
      {2, 0x6, false, 1, 0, 1, 0},     // XOR: x1 XNOR (NOT x0), the NOT a 1-input AND
      {1, 0x1, false, 1, 0, 0, 0},     // inverter: one AND with its input inverted
      {1, 0x2, false, 1, 0, 0, 0},     // wire: one AND fed by the input
      {3, 0xCA, true, 0, 0, 0, 1},     // x2 ? x1 : x0
      {3, 0x00, false, 1, 0, 0, 0},    // constant
  };
  for (const CASE& c : cases) {
    KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::BDD_DECOMPOSITION, false, true);
    const INPUT_SHAPE plain = shape_for(c.n, 0);
    const char* off = c.mux_only ? "on" : "off";
    CFG_SCOPE keys({{"kavu_unmap_sanity_check", "on"},
                    {"kavu_lut_unmapper_no_generalized_xnor", off},
                    {"kavu_lut_unmapper_no_generalized_and_or", off}});
    CDB_SGATE_NETLIST nl;
    std::vector<CDB_SGATE_NODE*> pins;
    for (unsigned i = 0; i < c.n; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
    CDB_SGATE_LUT* lut = make_lut(&nl, pins, c.mask)->cast_to_lut();
    make_output_pin(&nl, "y", lut);
    NODE_LIST nodes;
    CDB_SGATE_OTERM* head = unmapper.convert_lut_to_logic(lut, &nodes);
    ASSERT_NE(head, nullptr);
    const LUT_UNMAP_GATE_COUNTS counts = lut_unmap_count_gates(nodes);
    EXPECT_EQ(counts.ands, c.ands) << std::hex << c.mask;
    EXPECT_EQ(counts.ors, c.ors) << std::hex << c.mask;
    EXPECT_EQ(counts.xors, c.xors) << std::hex << c.mask;
    EXPECT_EQ(counts.muxes, c.muxes) << std::hex << c.mask;
    EXPECT_EQ(eval_word(head, nodes, pins) & word_mask(c.n), expected_word(c.n, c.mask, plain) & word_mask(c.n));
    EXPECT_FALSE(lut->has_fanout());
    for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
  }
}

// A LUT whose every input is tied but whose mask is not constant: the ties
// are constants inside the BDD (never variables), and the constant result
// needs no cloning.
TEST(KavuLutUnmapBoolean, AllInputsTiedGiveOneConstantGate) {
  for (bool vcc : {false, true}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* x = make_input_pin(&nl, "x");
    CDB_SGATE_LUT* lut = make_lut(&nl, {x, x}, 0x8)->cast_to_lut();  // AND
    for (unsigned i = 0; i < 2; ++i) vcc ? lut->get_input_term(i)->set_vcc() : lut->get_input_term(i)->set_gnd();
    CDB_SGATE_NODE* out = make_output_pin(&nl, "y", lut);
    NODE_LIST nodes;
    bool inverted = true;
    CDB_SGATE_OTERM* head = lut_unmap_boolean(lut, &nodes, &inverted);
    EXPECT_FALSE(inverted);
    ASSERT_EQ(nodes.size(), 1u);
    EXPECT_EQ(out->get_input_term(0)->get_source(), head);
    EXPECT_EQ(eval_word(head, nodes, {x}), vcc ? ~uint64_t(0) : 0);
    for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
  }
}

// Past the depth guard only the mux is used: x0 & x1 & x2 becomes muxes
// instead of ANDs; far past it the factoring refuses.
TEST(KavuLutUnmapBoolean, DepthGuardForcesTheMuxAndThenStops) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 3; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
  std::vector<CDB_SGATE_OTERM*> support;
  for (CDB_SGATE_NODE* p : pins) support.push_back(p->get_output_term(0));
  BDD_ZBDD_MGR bm(3, 1000, 50000, false, false);
  BDD_ZBDD f = bm.ithvar(0) & bm.ithvar(1) & bm.ithvar(2);
  NODE_LIST nodes;
  std::string eq;
  CDB_SGATE_OTERM* head = lut_unmap_bdd_factor(&bm, &support, &f, pins[0], &nodes, &eq, 24);
  const LUT_UNMAP_GATE_COUNTS counts = lut_unmap_count_gates(nodes);
  EXPECT_EQ(counts.and2, 0);  // only 1-input constant ANDs besides the muxes
  EXPECT_EQ(counts.muxes, 2);
  EXPECT_EQ(eval_word(head, nodes, pins) & 0xFF, 0x80u);
  for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
  NODE_LIST more;
  EXPECT_KAVU_INTERNAL_ERROR(lut_unmap_bdd_factor(&bm, &support, &f, pins[0], &more, &eq, 1000), "terminate");
}

// ---------------------------------------------------------------------------
// Cloning maps variables by their old index: two variables driven by one
// terminal stay two variables.
TEST(KavuLutUnmapClone, VariablesMapByIndexAndFunctionsSurvive) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* p = make_input_pin(&nl, "p");
  CDB_SGATE_NODE* q = make_input_pin(&nl, "q");
  CDB_SGATE_OTERM *tp = p->get_output_term(0), *tq = q->get_output_term(0);
  for (bool from_ce : {false, true}) {
    for (bool to_ce : {false, true}) {
      BDD_ZBDD_MGR bm(4, 1000, 50000, from_ce, false);
      // Variables 0 and 1 share terminal p; variable 2 is unused.
      std::vector<CDB_SGATE_OTERM*> support{tp, tp, tq, tq};
      BDD_ZBDD f = (bm.ithvar(0) & !bm.ithvar(1)) ^ bm.ithvar(3);
      if (from_ce) f = !f;
      BDD_ZBDD_MGR* nbm = nullptr;
      std::vector<CDB_SGATE_OTERM*> nsupport;
      BDD_ZBDD g = lut_unmap_clone_bdd(&bm, &f, &support, to_ce, &nbm, &nsupport);
      ASSERT_NE(nbm, nullptr);
      EXPECT_EQ(nbm->support_size(), 3);
      EXPECT_EQ(nsupport, (std::vector<CDB_SGATE_OTERM*>{tp, tp, tq}));
      EXPECT_EQ(nbm->use_complement_edges(), to_ce);
      BDD_ZBDD expect = (nbm->ithvar(0) & !nbm->ithvar(1)) ^ nbm->ithvar(2);
      if (from_ce) expect = !expect;
      EXPECT_EQ(g, expect);
      if (from_ce == to_ce) {
        EXPECT_EQ(g.size(), f.size());
      }
      g = BDD_ZBDD();
      expect = BDD_ZBDD();
      delete nbm;
    }
  }
  // Every variable used: the support is copied; a constant clones into a
  // manager without variables.
  BDD_ZBDD_MGR bm(2, 1000, 50000, false, false);
  std::vector<CDB_SGATE_OTERM*> support{tp, tq};
  BDD_ZBDD f = bm.ithvar(0) | bm.ithvar(1);
  BDD_ZBDD_MGR* nbm = nullptr;
  std::vector<CDB_SGATE_OTERM*> nsupport;
  BDD_ZBDD g = lut_unmap_clone_bdd(&bm, &f, &support, false, &nbm, &nsupport);
  EXPECT_EQ(nsupport, support);
  EXPECT_EQ(g, nbm->ithvar(0) | nbm->ithvar(1));
  g = BDD_ZBDD();
  delete nbm;
  BDD_ZBDD t = bm.true_bdd();
  g = lut_unmap_clone_bdd(&bm, &t, &support, true, &nbm, &nsupport);
  EXPECT_TRUE(nsupport.empty());
  EXPECT_EQ(g, nbm->true_bdd());
  g = BDD_ZBDD();
  delete nbm;
}

// ---------------------------------------------------------------------------
// The same mask in two places: unmapped once, the second a fresh copy on its
// own sources. A 2-input AND (0x8) and a 3-input x0 x1 !x2 (0x08) share a
// 64-bit value and must not share an entry.
TEST(KavuLutUnmapCache, SameMaskReusedDifferentCountsApart) {
  for (int form = 0; form < 3; ++form) {
    CDB_SGATE_NETLIST nl;
    std::vector<CDB_SGATE_NODE*> pins;
    for (int i = 0; i < 6; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
    CDB_SGATE_LUT* a = make_lut(&nl, {pins[0], pins[1]}, 0x8)->cast_to_lut();
    CDB_SGATE_LUT* b = make_lut(&nl, {pins[2], pins[3]}, 0x8)->cast_to_lut();
    CDB_SGATE_LUT* c = make_lut(&nl, {pins[3], pins[4], pins[5]}, 0x08)->cast_to_lut();
    CDB_SGATE_NODE* oa = make_output_pin(&nl, "ya", a);
    CDB_SGATE_NODE* ob = make_output_pin(&nl, "yb", b);
    CDB_SGATE_NODE* oc = make_output_pin(&nl, "yc", c);
    KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::RESULT_FORM(form), true, true);
    NODE_LIST na, nb, nc;
    unmapper.convert_lut_to_logic(a, &na);
    DEBUG_CAPTURE cap("KAVU");
    unmapper.convert_lut_to_logic(b, &nb);
    unmapper.convert_lut_to_logic(c, &nc);
    LUT_UNMAP_CACHE* cache = unmapper.get_cache();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache->size(), 2u) << "form " << form;
    CDB_LUTMASK two, three;
    two.set_value(2, 0x8);
    three.set_value(3, 0x08);
    ASSERT_NE(cache->lookup(two, uint32_t(form)), nullptr);
    EXPECT_EQ(cache->lookup(two, uint32_t(form))->hits, 2u);
    EXPECT_EQ(cache->lookup(three, uint32_t(form))->hits, 1u);
    EXPECT_EQ(cache->lookup(two, uint32_t((form + 1) % 3)), nullptr);
    // Fresh gates for b, named as cached copies, wired to b's own inputs.
    ASSERT_EQ(nb.size(), na.size());
    for (const CDB_SGATE_NODE* g : nb) EXPECT_EQ(std::find(na.begin(), na.end(), g), na.end());
    auto value = [&](CDB_SGATE_NODE* out, const NODE_LIST& nodes) {
      const CDB_SGATE_ITERM* t = out->get_input_term(0);
      const uint64_t v = eval_word(t->get_source(), nodes, pins);
      return t->is_inverted() ? ~v : v;
    };
    EXPECT_EQ(value(oa, na), k_proj[0] & k_proj[1]);
    EXPECT_EQ(value(ob, nb), k_proj[2] & k_proj[3]);
    EXPECT_EQ(value(oc, nc), k_proj[3] & k_proj[4] & ~k_proj[5]);
    for (NODE_LIST* l : {&na, &nb, &nc})
      for (CDB_SGATE_NODE* g : *l) nl.add_node(g, true);
  }
}

// Statistics over entries with 1, 1 and 4 hits: each line's share is c x h
// of all hits.
TEST(KavuLutUnmapCache, StatisticsShareOfAllHits) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  for (int i = 0; i < 2; ++i) pins.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str()));
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::FACTORED, true, false);
  const uint64_t masks[] = {0x8, 0xE, 0x6, 0x6, 0x6, 0x6};
  int k = 0;
  for (uint64_t m : masks) {
    CDB_SGATE_LUT* lut = make_lut(&nl, pins, m)->cast_to_lut();
    make_output_pin(&nl, ("y" + std::to_string(k++)).c_str(), lut);
    unmapper.convert_lut_to_logic(lut, &nl);
  }
  DEBUG_CAPTURE cap("KAVU");
  unmapper.run_cache_stats();
  EXPECT_TRUE(cap.contains(" -- size of cache is 3, total number of hits is 6, so on average 2.0 hits per LUT"));
  EXPECT_TRUE(cap.contains(" -- there are 1 LUT masks with 4 hits (66.67 percent, 66.67 cumulative)"));
  EXPECT_TRUE(cap.contains(" -- there are 2 LUT masks with 1 hits (33.33 percent, 100.00 cumulative)"));
}

// ---------------------------------------------------------------------------
// Dumps: numbered files in the working directory, skipped (a debug line, no
// internal error) during parallel synthesis.
TEST(KavuLutUnmapDump, NumberedFilesAndNoneInParallel) {
  namespace fs = std::filesystem;
  const fs::path old = fs::current_path();
  const fs::path dir = fs::temp_directory_path() / ("kavu_bdd_dump_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);
  BDD_ZBDD_MGR bm(2, 100, 100, true, false);
  BDD_ZBDD f = bm.ithvar(0) ^ bm.ithvar(1);
  lut_unmap_dump_bdd_table(&bm);  // key off: nothing
  {
    CFG_SCOPE keys({{"kavu_bdd_dump_tables", "on"}});
    cdb_sgate_set_synthesis_running_in_parallel(true);
    DEBUG_CAPTURE cap("KAVU");
    lut_unmap_dump_bdd_table(&bm);
    EXPECT_TRUE(cap.contains("Skipping BDD table dump during parallel synthesis"));
    cdb_sgate_set_synthesis_running_in_parallel(false);
    lut_unmap_dump_bdd_table(&bm);
    lut_unmap_dump_bdd_table(&bm);
  }
  size_t files = 0;
  std::string first;
  for (const auto& e : fs::directory_iterator(dir)) {
    ++files;
    if (first.empty() || e.path().filename().string() < first) first = e.path().filename().string();
  }
  EXPECT_EQ(files, 2u);
  EXPECT_EQ(first.substr(0, 6), "table_");
  fs::current_path(old);
  fs::remove_all(dir);
}

// ---------------------------------------------------------------------------
// The subnet build: inputs in fan-in order, members in order, the cap.
TEST(KavuBddSubnet, BuildRulesAndRefusals) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* s = make_input_pin(&nl, "s");
  CDB_SGATE_NODE* g_and = make_and(&nl, a, b);
  CDB_SGATE_NODE* g_mux = make_mux(&nl, g_and, b, s);
  g_mux->get_input_term(0)->invert();
  std::vector<CDB_SGATE_OTERM*> support{a->get_output_term(0), b->get_output_term(0), s->get_output_term(0)};
  std::vector<CDB_SGATE_OTERM*> members{g_and->get_output_term(0), g_mux->get_output_term(0)};
  std::vector<CDB_SGATE_OTERM*> visible{g_mux->get_output_term(0), g_and->get_output_term(0)};
  BDD_ZBDD_MGR bm(3, 1000, 50000, true, false);
  std::vector<BDD_ZBDD> heads;
  ASSERT_TRUE(kavu_bdd_make_bdds_from_sgate_subnet(&bm, support, members, visible, &heads, 1000, true));
  ASSERT_EQ(heads.size(), 2u);
  const BDD_ZBDD x0 = bm.ithvar(0), x1 = bm.ithvar(1), x2 = bm.ithvar(2);
  EXPECT_EQ(heads[1], x0 & x1);
  EXPECT_EQ(heads[0], x2.Ite(x1, !(x0 & x1)));
  // Members out of order, a cap of 0, a missing support terminal.
  std::vector<CDB_SGATE_OTERM*> reversed{members[1], members[0]};
  std::vector<BDD_ZBDD> none;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_bdd_make_bdds_from_sgate_subnet(&bm, support, reversed, visible, &none, 1000, true),
                             "Members not in topo order");
  none.clear();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_bdd_make_bdds_from_sgate_subnet(&bm, support, members, visible, &none, 0, true),
                             "node_cap >= 1");
  none.clear();
  std::vector<CDB_SGATE_OTERM*> short_support{support[0], support[1]};
  EXPECT_KAVU_INTERNAL_ERROR(
      kavu_bdd_make_bdds_from_sgate_subnet(&bm, short_support, members, visible, &none, 1000, true),
      "Support set is not complete");
  // A cap the build cannot meet fails and leaves the heads empty.
  none.clear();
  EXPECT_FALSE(kavu_bdd_make_bdds_from_sgate_subnet(&bm, support, members, visible, &none, 2, true));
  EXPECT_TRUE(none.empty());
}

// A logic cell of kind 93 whose rule reads more inputs than the cell
// provides is refused before any is read.
TEST(KavuBddSubnet, QuellinCellWithTooFewInputsIsRefused) {
  CDB_SGATE_WYSIWYG cell(nullptr, 93);
  CDB_SGATE_OTERM* comb = cell_output(cell, DB_PORT_COMBOUT);
  CDB_SGATE_OTERM* sum = cell_output(cell, DB_PORT_SUMOUT);
  cell.set_lutmask_value(0x6996);
  BDD_ZBDD_MGR bm(9, 1000, 50000, true, false);
  std::vector<BDD_ZBDD> vars;
  for (int i = 0; i < 9; ++i) vars.push_back(bm.ithvar(i));
  std::vector<BDD_ZBDD*> six, nine;
  for (int i = 0; i < 6; ++i) six.push_back(&vars[i]);
  for (int i = 0; i < 9; ++i) nine.push_back(&vars[i]);
  // Plain combinational output over six inputs: the 6-input LUT.
  CDB_LUTMASK m;
  m.set_value(6, 0x6996);
  EXPECT_EQ(bdd_of_quellin_wys(&bm, comb, six), kavu_bdd_calc_lutmask_bdd(&bm, m, six));
  EXPECT_FALSE(bdd_of_quellin_wys(&bm, sum, nine).is_null());
  EXPECT_KAVU_INTERNAL_ERROR(bdd_of_quellin_wys(&bm, sum, six), "fewer input BDDs");
  cell.set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  EXPECT_KAVU_INTERNAL_ERROR(bdd_of_quellin_wys(&bm, comb, six), "fewer input BDDs");
}

// ---------------------------------------------------------------------------
// Every LUT of real circuits unmapped by the BDD form, with the gates per
// LUT of each form reported.
class KavuLutUnmapBooleanCircuits : public ::testing::TestWithParam<const char*> {};

TEST_P(KavuLutUnmapBooleanCircuits, EveryLutKeepsTheCircuit) {
  const std::string name = GetParam();
  auto golden = load_blif(name);
  double per_lut[3] = {0, 0, 0};
  LOADED_NETLIST result;
  for (int form = 0; form < 3; ++form) {
    auto nl = load_blif(name);
    std::vector<CDB_SGATE_LUT*> work;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
      if (*it && kavu_is_a_lut(*it)) work.push_back((*it)->cast_to_lut());
    ASSERT_FALSE(work.empty());
    KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::RESULT_FORM(form), true, false);
    long two_input = 0;
    for (CDB_SGATE_LUT* lut : work) {
      NODE_LIST nodes;
      unmapper.convert_lut_to_logic(lut, &nodes);
      const LUT_UNMAP_GATE_COUNTS counts = lut_unmap_count_gates(nodes);
      EXPECT_EQ(counts.others, 0);
      if (form != 2) {
        EXPECT_EQ(counts.muxes, 0);
      }
      two_input += counts.two_input_equivalents();
      for (CDB_SGATE_NODE* g : nodes) nl->add_node(g, true);
      nl->delete_node(lut);
      delete lut;
    }
    per_lut[form] = double(two_input) / double(work.size());
    if (form == 2) result = std::move(nl);
  }
  std::printf("[ gates    ] %s: 2-input gates per LUT: sum of minterms %.2f, factored %.2f, BDD %.2f\n",
              name.c_str(), per_lut[0], per_lut[1], per_lut[2]);
  KAVU_TRACK(result);
  ASSERT_KAVU_EQUIVALENT(golden, result);
}

INSTANTIATE_TEST_SUITE_P(Circuits, KavuLutUnmapBooleanCircuits,
                         ::testing::Values("mcnc/alu4", "mcnc/bigkey", "mcnc/diffeq", "mcnc/dsip", "mcnc/s298",
                                           "mcnc/tseng", "mcnc/des", "lut6/sin"),
                         [](const auto& info) {
                           std::string s = info.param;
                           return s.substr(s.find('/') + 1);
                         });

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// The reordering heuristics keep every function, never grow the table and,
// with 8 variables, never move the variable on level 0.
TEST(KavuBddReorder, ProfitAndRotationKeepFunctions) {
  for (int n : {5, 6, 8, 11}) {
    BDD_ZBDD_MGR bm(n, 1000, 50000, true, false);
    // Pairs far apart in the order: x_i & x_{i+n/2}, ORed.
    BDD_ZBDD f = bm.false_bdd();
    for (int i = 0; i < n / 2; ++i) f |= bm.ithvar(i) & bm.ithvar(i + n / 2);
    std::vector<uint64_t> before_tt;
    const int top = bm.variable_at(0);
    std::vector<int> order(n);
    bm.get_variable_order(order.data());
    bm.garbage_collect();
    const int before = bm.size();
    // Truth table by variable index, so it is independent of the order.
    auto tt = [&](const BDD_ZBDD& g) {
      std::vector<bool> t(size_t(1) << n);
      for (size_t m = 0; m < t.size(); ++m) {
        BDD_ZBDD e = g;
        bool flip = false;
        while (!e.is_constant()) {
          if (e.is_complement()) flip = !flip;
          e = ((m >> e.variable()) & 1u) ? e.high_child() : e.low_child();
        }
        t[m] = (e.regularize() == bm.true_bdd()) != (flip != e.is_complement());
      }
      return t;
    };
    const std::vector<bool> want = tt(f);
    kavu_bdd_reorder_for_profit(&bm);
    EXPECT_EQ(tt(f), want) << n;
    EXPECT_LE(bm.size(), before) << n;
    if (n == 8) {
      EXPECT_EQ(bm.variable_at(0), top);
      bdd_rotate_for_4cuts(&bm);
      EXPECT_EQ(bm.variable_at(0), top);
      EXPECT_EQ(tt(f), want);
    }
    if (n <= 6) {
      EXPECT_EQ(f.size(), 2 * (n / 2) + 1) << n;  // the exhaustive search pairs the variables
    }
  }
}

// Brae-family cell (kind 61): the combinational output is the 6-input LUT,
// or in the extended mode M(x0,x1,x2,x3,0,x5) / M(x0,x1,x6,x3,1,x5) by x4;
// the sum and carry outputs add the two 4-input halves and x7.
TEST(KavuBddSubnet, BraeCellRules) {
  CDB_SGATE_WYSIWYG cell(nullptr, 61);
  CDB_SGATE_OTERM* comb = cell_output(cell, DB_PORT_COMBOUT);
  CDB_SGATE_OTERM* sum = cell_output(cell, DB_PORT_SUMOUT);
  CDB_SGATE_OTERM* cout = cell_output(cell, DB_PORT_COUT);
  const uint64_t mask = 0x0123456789ABCDEFull;
  cell.set_lutmask_value(mask);
  const size_t count = cell.get_input_port_number(3) != CDB_ILLEGAL_PORT ? 10 : 9;
  BDD_ZBDD_MGR bm(int(count), 1000, 50000, true, false);
  std::vector<BDD_ZBDD> vars;
  for (size_t i = 0; i < count; ++i) vars.push_back(bm.ithvar(int(i)));
  std::vector<BDD_ZBDD*> in;
  for (BDD_ZBDD& v : vars) in.push_back(&v);
  auto value = [&](const BDD_ZBDD& f, unsigned m) {  // m: bit i is variable i
    std::vector<uint64_t> words;
    f.make_truth_table(&words);  // identity order: level j is variable j
    return ((words[m / 64] >> (m % 64)) & 1u) != 0;
  };
  const BDD_ZBDD c0 = kavu_bdd_calc_braewys_bdd(&bm, comb, in);
  cell.set_mode(CDB_WYSIWYG_EXTENDED_LUT);
  const BDD_ZBDD c1 = kavu_bdd_calc_braewys_bdd(&bm, comb, in);
  const BDD_ZBDD s = kavu_bdd_calc_braewys_bdd(&bm, sum, in);
  const BDD_ZBDD co = kavu_bdd_calc_braewys_bdd(&bm, cout, in);
  for (unsigned m = 0; m < (1u << count); m += 7) {
    auto x = [m](int i) { return (m >> i) & 1u; };
    EXPECT_EQ(value(c0, m), ((mask >> (m & 63)) & 1u) != 0);
    const unsigned sel = x(4) ? (x(0) | x(1) << 1 | x(6) << 2 | x(3) << 3 | 1u << 4 | x(5) << 5)
                              : (x(0) | x(1) << 1 | x(2) << 2 | x(3) << 3 | x(5) << 5);
    EXPECT_EQ(value(c1, m), ((mask >> sel) & 1u) != 0) << m;
    const unsigned a = (mask >> (m & 15)) & 1u;
    const unsigned b = (mask >> (32 + (x(0) | x(1) << 1 | x(2) << 2 | x(5) << 3))) & 1u;
    const unsigned nb = 1u - b, cx = x(7);
    EXPECT_EQ(value(s, m), ((a ^ nb ^ cx) & 1u) != 0) << m;
    EXPECT_EQ(value(co, m), (a + nb + cx) >= 2) << m;
  }
  std::vector<BDD_ZBDD*> short_in(in.begin(), in.begin() + 6);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_bdd_calc_braewys_bdd(&bm, comb, short_in), "BRAE WYS support is not correct size");
}

// Decomposition steps on known shapes: x0 & (x1 | x2) is a simple AND with
// the bottom (x1 | x2) as a and the top x0 as b; x0 ^ x1 a simple XNOR.
TEST(KavuLutUnmapChooser, SimpleAndAndXnor) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_OTERM*> support;
  for (int i = 0; i < 3; ++i) support.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str())->get_output_term(0));
  {
    BDD_ZBDD_MGR bm(3, 1000, 50000, false, false);
    BDD_ZBDD f = bm.ithvar(0) & (bm.ithvar(1) | bm.ithvar(2));
    BDD_ARG a, b, c;
    EXPECT_EQ(lut_unmap_find_decomposition(&bm, &f, &support, &a, &b, &c), BDD_DECOMP_AND);
    EXPECT_EQ(a.support, (std::vector<CDB_SGATE_OTERM*>{support[1], support[2]}));
    EXPECT_EQ(a.bdd, a.bm->ithvar(0) | a.bm->ithvar(1));
    EXPECT_EQ(b.support, (std::vector<CDB_SGATE_OTERM*>{support[0]}));
    EXPECT_EQ(b.bdd, b.bm->ithvar(0));
    EXPECT_EQ(c.bm, nullptr);
  }
  {
    std::vector<CDB_SGATE_OTERM*> two(support.begin(), support.begin() + 2);
    BDD_ZBDD_MGR bm(2, 1000, 50000, false, false);
    BDD_ZBDD f = bm.ithvar(0) ^ bm.ithvar(1);
    BDD_ARG a, b, c;
    EXPECT_EQ(lut_unmap_find_decomposition(&bm, &f, &two, &a, &b, &c), BDD_DECOMP_XNOR);
    // f = a XNOR b with a one variable and b the other (complemented).
    EXPECT_EQ(a.support.size(), 1u);
    EXPECT_EQ(b.support.size(), 1u);
    EXPECT_NE(a.support[0], b.support[0]);
    EXPECT_EQ(b.bdd, !b.bm->ithvar(0));
  }
  {
    // With both generalized candidates off, a mux is the answer for a mux.
    CFG_SCOPE keys({{"kavu_lut_unmapper_no_generalized_xnor", "on"}, {"kavu_lut_unmapper_no_generalized_and_or", "on"}});
    BDD_ZBDD_MGR bm(3, 1000, 50000, false, false);
    BDD_ZBDD f = bm.ithvar(2).Ite(bm.ithvar(1), bm.ithvar(0));
    BDD_ARG a, b, c;
    EXPECT_EQ(lut_unmap_choose_decomposition(&bm, &f, &support, &a, &b, &c), BDD_DECOMP_MUX);
    EXPECT_NE(c.bm, nullptr);
    EXPECT_EQ(lut_unmap_bdd_decomposition_name(BDD_DECOMP_MUX), std::string("2:1 MUX"));
  }
}

// The generalized AND/OR search tells which kind it found and for which BDD,
// by the BDD's id in hexadecimal; the trace is read only with the unmapper's
// debug switch on. Every 4-input function is tried until both kinds are seen.
TEST(KavuLutUnmapChooser, GeneralizedAndOrTraceNamesKindAndBdd) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_OTERM*> support;
  for (int i = 0; i < 4; ++i) support.push_back(make_input_pin(&nl, ("x" + std::to_string(i)).c_str())->get_output_term(0));
  const bool saved = kavu_debug_lut_unmapper;
  kavu_debug_lut_unmapper = true;
  std::set<BDD_DECOMP_TYPE> seen;
  for (unsigned mask = 1; mask < 0xffff && seen.size() < 2; mask += 7) {
    BDD_ZBDD_MGR bm(4, 1000, 50000, false, false);
    BDD_ZBDD f = bm.false_bdd();
    for (unsigned m = 0; m < 16; ++m) {
      if (!((mask >> m) & 1u)) continue;
      BDD_ZBDD term = bm.true_bdd();
      for (int v = 0; v < 4; ++v) term = term & (((m >> v) & 1u) ? bm.ithvar(v) : !bm.ithvar(v));
      f = f | term;
    }
    char want[64];
    std::snprintf(want, sizeof(want), " for BDD 0x%x: new size = ", unsigned(f.id()));
    BDD_ARG a, b;
    DEBUG_CAPTURE cap("KAVU");
    const BDD_DECOMP_TYPE type = lut_unmap_generalized_and_or(&bm, &f, &support, &a, &b);
    if (type == BDD_DECOMP_NONE) continue;
    const std::string kind = type == BDD_DECOMP_AND ? "AND" : "OR";
    EXPECT_TRUE(cap.contains("Found generalized " + kind + want)) << "mask " << mask;
    seen.insert(type);
  }
  kavu_debug_lut_unmapper = saved;
  EXPECT_EQ(seen.size(), 2u);
}

// The sanity check has teeth: a head that is not the LUT's function is a
// mismatch; a LUT unmapped onto its own input gets a "dummy" gate to check.
TEST(KavuLutUnmapSanity, MismatchStopsAndWiresGetADummy) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x0 = make_input_pin(&nl, "x0");
  CDB_SGATE_NODE* x1 = make_input_pin(&nl, "x1");
  CDB_SGATE_LUT* lut = make_lut(&nl, {x0, x1}, 0x8)->cast_to_lut();
  make_output_pin(&nl, "y", lut);
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::FACTORED, false, true);
  {
    LUT_UNMAP_SANITY_CHECK check(&unmapper);
    check.record_before(lut);
    NODE_LIST none;
    EXPECT_KAVU_INTERNAL_ERROR(check.compare_after(x0->get_output_term(0), &none, false), "PANIC: BDD mismatch");
    for (CDB_SGATE_NODE* g : none) nl.add_node(g, true);
  }
  ASSERT_NE(unmapper.get_bdd_manager(), nullptr);
  EXPECT_EQ(unmapper.get_bdd_manager()->support_size(), int(CDB_LUTMASK::max_num_inputs) + 1);
  EXPECT_KAVU_INTERNAL_ERROR(unmapper.initialize_bdd_manager(3, 10, 10, true), "m_bm == 0");
  // A buffer LUT: the factored form makes no gate, the check one "dummy".
  CDB_SGATE_LUT* buf = make_lut(&nl, {x1}, 0x2)->cast_to_lut();
  make_output_pin(&nl, "z", buf);
  NODE_LIST nodes;
  DEBUG_CAPTURE cap("KAVU");
  CDB_SGATE_OTERM* head = unmapper.convert_lut_to_logic(buf, &nodes);
  EXPECT_EQ(head, x1->get_output_term(0));
  ASSERT_EQ(nodes.size(), 1u);
  ASSERT_TRUE(kavu_is_a_comb(nodes.front()));
  EXPECT_EQ(nodes.front()->get_number_of_input_terms(), 1u);
  EXPECT_EQ(nodes.front()->get_input_term(0)->get_source(), x1->get_output_term(0));
  for (CDB_SGATE_NODE* g : nodes) nl.add_node(g, true);
  // Copies share neither cache nor manager.
  KAVU_LUT_UNMAPPER copy(unmapper);
  EXPECT_EQ(copy.get_bdd_manager(), nullptr);
  copy = unmapper;
  EXPECT_EQ(copy.get_bdd_manager(), nullptr);
}

// The cone dump names every record and its fan-ins.
TEST(KavuLutUnmapCache, EntryDumpListsTheCone) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* x0 = make_input_pin(&nl, "x0");
  CDB_SGATE_NODE* x1 = make_input_pin(&nl, "x1");
  CDB_SGATE_LUT* lut = make_lut(&nl, {x0, x1}, 0x2)->cast_to_lut();  // x0 & !x1
  make_output_pin(&nl, "y", lut);
  KAVU_LUT_UNMAPPER unmapper(KAVU_LUT_UNMAPPER::SUM_OF_MINTERMS, true, false);
  unmapper.convert_lut_to_logic(lut, &nl);
  CFG_SCOPE keys({{"kavu_lut_unmapper_dump_cache_cones", "on"}});
  DEBUG_CAPTURE cap("KAVU");
  unmapper.dump_cache();
  EXPECT_TRUE(cap.contains("        Unmap cache "));
  EXPECT_TRUE(cap.contains("and 5 nodes in the cone (2 support, 2 internal)"));
  EXPECT_TRUE(cap.contains("Head node = 3: 0 IN: () 1 IN: () 2 IN: () 3 OR: (4) 4 AND: (1,!2)"));
}

}  // namespace

namespace {

// The operator rules: an n-to-1 mux picks data k where the select bits
// spell k; a select operator ORs the ANDs of its port pairs.
TEST(KavuBddSubnet, MuxAndSelectOperators) {
  for (bool nto1 : {true, false}) {
    CDB_SGATE_NETLIST nl;
    std::vector<CDB_SGATE_NODE*> pins;
    for (int i = 0; i < 6; ++i) pins.push_back(make_input_pin(&nl, ("p" + std::to_string(i)).c_str()));
    CDB_SGATE_OPERATOR* op = new CDB_SGATE_OPERATOR("op", nto1 ? CDB_OPER_NTO1_MUX : CDB_OPER_SELECT);
    nl.add_node(op);
    CDB_SGATE_OPER_PORT_ENTRY* sel = op->add_port("s", CDB_OPER_PORT_A, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* data = op->add_port("d", CDB_OPER_PORT_B, CDB_OPER_PORT_DIR_IN);
    CDB_SGATE_OPER_PORT_ENTRY* out = op->add_port("o", CDB_OPER_PORT_O, CDB_OPER_PORT_DIR_OUT);
    // Select bits p0, p1; data p2..p5 (the select operator uses p2, p3).
    for (unsigned i = 0; i < 2; ++i) sel->set_iterm(i, op->insert_unordered_fanin(pins[i]->get_single_oterm()));
    for (unsigned i = 0; i < (nto1 ? 4u : 2u); ++i)
      data->set_iterm(i, op->insert_unordered_fanin(pins[2 + i]->get_single_oterm()));
    out->set_oterm(0, op->create_output_term(nullptr));
    std::vector<CDB_SGATE_OTERM*> support;
    for (CDB_SGATE_NODE* p : pins) support.push_back(p->get_output_term(0));
    std::vector<CDB_SGATE_OTERM*> members{out->get_oterm(0)};
    BDD_ZBDD_MGR bm(6, 1000, 50000, true, false);
    std::vector<BDD_ZBDD> heads;
    ASSERT_TRUE(kavu_bdd_make_bdds_from_sgate_subnet(&bm, support, members, members, &heads, 1000, true));
    std::vector<uint64_t> words;
    heads[0].make_truth_table(&words);
    for (unsigned m = 0; m < 64; ++m) {
      const unsigned s = m & 3u;
      const bool want = nto1 ? ((m >> (2 + s)) & 1u) != 0
                             : (((m >> 0) & (m >> 2)) & 1u) != 0 || (((m >> 1) & (m >> 3)) & 1u) != 0;
      EXPECT_EQ(((words[0] >> m) & 1u) != 0, want) << (nto1 ? "nto1 " : "select ") << m;
    }
  }
}

}  // namespace
