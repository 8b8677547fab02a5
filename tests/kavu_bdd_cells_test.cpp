// BDDs back to gates and cells: gates from BDD tables by both paths and
// every mode, LUTs and muxes of LUTs, 7- and 8-input logic cells; each result
// simulated over all inputs against the head's truth table.
#include <random>

#include "kavu_bdd_cells.h"
#include "kavu_bdd_gates.h"
#include "kavu_bdd_sgate.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// Input pins v0.. drive the manager's variables; heads are checked by
// simulating terminals of the netlist over all 2^n inputs.
struct BDD_BENCH {
  BDD_ZBDD_MGR mgr;
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> pins;
  std::vector<CDB_SGATE_OTERM*> support;
  int outputs = 0;
  CDB_SGATE_NODE* last_hold = nullptr;  // the output pin head_terminal feeds

  BDD_BENCH(int n, bool complement_edges, int support_count = -1) : mgr(n, 1000, 1000, complement_edges) {
    for (int v = 0; v < (support_count < 0 ? n : support_count); ++v) {
      pins.push_back(make_input_pin(&nl, ("v" + std::to_string(v)).c_str()));
      support.push_back(pins.back()->get_output_term(0));
    }
  }

  // A random function over the listed variables.
  BDD_ZBDD random_function(std::mt19937_64& rng, const std::vector<int>& vars) {
    std::vector<BDD_ZBDD> in;
    for (int v : vars) in.push_back(mgr.ithvar(v));
    BDD_ZBDD f = mgr.false_bdd();
    for (uint64_t m = 0; m < (1ull << vars.size()); ++m)
      if (rng() & 1) f |= mgr.build_cube(in, m, int(vars.size()));
    return f;
  }

  // A terminal with a fan-out, standing for a head's current output.
  CDB_SGATE_OTERM* head_terminal() {
    CDB_SGATE_NODE* pin = make_input_pin(&nl, ("h" + std::to_string(outputs)).c_str());
    last_hold = make_output_pin(&nl, ("hold" + std::to_string(outputs++)).c_str(), pin);
    return pin->get_output_term(0);
  }

  // True when o computes f under the manager's current order.
  ::testing::AssertionResult computes(CDB_SGATE_OTERM* o, const BDD_ZBDD& f) {
    CDB_SGATE_NODE* out = make_output_pin(&nl, ("o" + std::to_string(outputs++)).c_str(), nullptr);
    o->insert_fanout(out->get_input_term(0));
    std::vector<uint64_t> table;
    f.make_truth_table(&table);
    NETLIST_SIMULATOR sim(&nl);
    if (!sim.ok()) return ::testing::AssertionFailure() << sim.error();
    const int n = mgr.support_size();
    for (size_t w = 0; w < table.size(); ++w) {
      for (size_t v = 0; v < pins.size(); ++v) {
        const int l = mgr.level_of_var(int(v));
        sim.set_input(pins[v], l < 6 ? CDB_LUTMASK::imask(6, unsigned(l)).get_value() : ((w >> (l - 6)) & 1 ? ~0ull : 0));
      }
      sim.eval();
      const uint64_t valid = n >= 6 ? ~0ull : (1ull << (1u << n)) - 1;
      if ((sim.output(out) ^ table[w]) & valid)
        return ::testing::AssertionFailure() << "word " << w << ": " << std::hex << sim.output(out) << " vs " << table[w];
    }
    return ::testing::AssertionSuccess();
  }
};

// The BDDs of the new terminals, built back from the gates in the bench's
// manager (support terminal v is variable v again).
std::vector<BDD_ZBDD> bdds_of(BDD_BENCH& b, const std::vector<CDB_SGATE_OTERM*>& visible) {
  b.nl.sort_by_dag_order();
  std::vector<CDB_SGATE_OTERM*> members;
  for (auto it = b.nl.begin_node_list(); it != b.nl.end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g || g->get_sgate_type() == CDB_SGATE_IO_ENUM) continue;
    if (g->is_wysiwyg()) members.push_back(g->cast_to_wysiwyg()->get_oterm_by_type(DB_PORT_COMBOUT));
    else members.push_back(g->get_output_term(0));
  }
  std::vector<BDD_ZBDD> heads;
  EXPECT_TRUE(kavu_bdd_make_bdds_from_sgate_subnet(&b.mgr, b.support, members, visible, &heads, 100000, false));
  return heads;
}

int count(const CDB_SGATE_NETLIST& nl, CDB_SGATE_TYPE type) {
  int k = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) k += *it && (*it)->get_sgate_type() == type;
  return k;
}

std::vector<int> range(int from, int to) {
  std::vector<int> v;
  for (int i = from; i < to; ++i) v.push_back(i);
  return v;
}

}  // namespace

// Gates from BDD tables: three heads (one complemented, one constant, all
// sharing nodes) by the recursive path and by the per-node path in every
// mode, with and without complement edges. The manager holds a dead node over
// a variable no support terminal drives; only the heads' nodes are built.
TEST(KavuBddGates, EveryPathAndModeComputesTheHeads) {
  std::mt19937_64 rng(102);
  for (bool ce : {true, false}) {
    for (int mode = -1; mode <= 5; ++mode) {
      SCOPED_TRACE(std::string(ce ? "complement edges, " : "") + "mode " + std::to_string(mode));
      CFG_SCOPE cfg{{"kavu_bdd_build_luts_experimental", mode < 0 ? "on" : "off"}};
      BDD_BENCH b(8, ce, 7);
      KAVU_TRACK(b.nl);
      const BDD_ZBDD dead = b.mgr.ithvar(7) & b.mgr.ithvar(0);
      const BDD_ZBDD f = b.random_function(rng, {0, 1, 2, 3, 4});
      const std::vector<BDD_ZBDD> heads = {f, (!(f ^ b.mgr.ithvar(5))) | b.mgr.ithvar(6), b.mgr.false_bdd()};
      std::vector<CDB_SGATE_OTERM*> outs;
      kavu_bdd_make_sgates_for_bdd_table(&b.mgr, &b.support, &heads, &b.nl, &outs, b.pins[0], std::max(mode, 0),
                                         DEV_FAMILY_ENUM(15));
      ASSERT_EQ(outs.size(), heads.size());
      const std::vector<BDD_ZBDD> back = bdds_of(b, outs);
      ASSERT_EQ(back.size(), heads.size());
      for (size_t h = 0; h < heads.size(); ++h) {
        EXPECT_TRUE(back[h] == heads[h]) << "head " << h;
        EXPECT_TRUE(b.computes(outs[h], heads[h])) << "head " << h;
      }
      EXPECT_TRUE(b.nl.check(nullptr));
      if (mode < 0) {
        EXPECT_EQ(count(b.nl, CDB_SGATE_LUT_ENUM) * 3, count(b.nl, CDB_SGATE_COMB_ENUM) - 3);
      }
    }
  }
}

// Merging: two mux LUTs over the same select whose data inputs are tied to
// opposite constants are one the complement of the other (ties count as
// connected); an 8:1 tree of one select per level packs into three cells,
// unless a mux inside the tree also drives another head.
TEST(KavuBddGates, MergeOfTiedMuxesAndEightToOnePacking) {
  {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* s = make_input_pin(&nl, "s");
    CDB_SGATE_LUT* a = kavu_create_mux_lut(&nl);
    CDB_SGATE_LUT* b = kavu_create_mux_lut(&nl);
    for (CDB_SGATE_LUT* m : {a, b}) s->get_output_term(0)->insert_fanout(m->get_input_term(3));
    a->get_input_term(0)->set_vcc(), a->get_input_term(1)->set_gnd();
    b->get_input_term(0)->set_gnd(), b->get_input_term(1)->set_vcc();
    bool inverted = false;
    EXPECT_TRUE(mux_luts_same_data(a, b, &inverted));
    EXPECT_TRUE(inverted);
    EXPECT_TRUE(mux_luts_same_data(a, a, &inverted));
    EXPECT_FALSE(inverted);
  }
  // The second head, when there is one, is the cofactor of the tree at
  // x0 = 0 (a mux of level 1) or at x0 = x1 = 0 (a mux of level 2).
  for (int shared_level : {0, 1, 2}) {
    for (bool ce : {true, false}) {
      SCOPED_TRACE(std::to_string(shared_level) + (ce ? " complement edges" : ""));
      CFG_SCOPE cfg{{"kavu_bdd_build_luts_experimental", "off"}};
      BDD_BENCH b(11, ce);
      KAVU_TRACK(b.nl);
      BDD_ZBDD f = b.mgr.false_bdd();
      for (int k = 0; k < 8; ++k) {
        std::vector<BDD_ZBDD> sel = {b.mgr.ithvar(0), b.mgr.ithvar(1), b.mgr.ithvar(2), b.mgr.ithvar(3 + k)};
        f |= b.mgr.build_cube(sel, uint64_t((k >> 2) & 1) | uint64_t((k >> 1) & 1) << 1 | uint64_t(k & 1) << 2 | 8ull, 4);
      }
      std::vector<BDD_ZBDD> heads = {f};
      if (shared_level == 1) heads.push_back(f.Constrain(!b.mgr.ithvar(0)));
      if (shared_level == 2) heads.push_back(f.Constrain((!b.mgr.ithvar(0)) & (!b.mgr.ithvar(1))));
      std::vector<CDB_SGATE_OTERM*> outs;
      kavu_bdd_make_sgates_for_bdd_table(&b.mgr, &b.support, &heads, &b.nl, &outs, b.pins[0], 5, DEV_FAMILY_ENUM(47));
      EXPECT_EQ(count(b.nl, CDB_SGATE_WYSIWYG_ENUM), shared_level == 0 ? 3 : 0);
      for (size_t h = 0; h < heads.size(); ++h) EXPECT_TRUE(b.computes(outs[h], heads[h])) << "head " << h;
    }
  }
}

// LUTs and muxes of LUTs: a 3-variable head repeats its pattern in a 6-LUT;
// complemented heads through the 2:1 and 4:1 muxes of 6-LUTs.
TEST(KavuBddCells, LutsAndMuxesOfLutsComputeTheHead) {
  std::mt19937_64 rng(103);
  for (bool ce : {true, false}) {
    SCOPED_TRACE(ce);
    BDD_BENCH b(8, ce);
    KAVU_TRACK(b.nl);
    const BDD_ZBDD small = b.random_function(rng, {2, 5, 6});
    CDB_SGATE_OTERM* six = kavu_bdd_make_braeholt_6lut(small, &b.support, &b.nl, b.pins[0], nullptr);
    const uint64_t mask = six->get_my_node()->cast_to_lut()->get_lut_mask().get_value();
    EXPECT_EQ(mask & 0xFF, (mask >> 8) & 0xFF);
    EXPECT_EQ(mask >> 32, mask & 0xFFFFFFFF);
    EXPECT_FALSE(cdb_is_connected(six->get_my_node()->get_input_term(3)));
    EXPECT_TRUE(b.computes(six, small));
    const BDD_ZBDD four = b.random_function(rng, {0, 3, 4, 7});
    EXPECT_TRUE(b.computes(kavu_bdd_make_gorven_4lut(four, &b.support, &b.nl, b.pins[0], nullptr), four));

    // The muxes take over the head terminals' fan-outs (the "hold" pins).
    const BDD_ZBDD seven = !b.random_function(rng, range(0, 7));
    CDB_SGATE_OTERM* h = b.head_terminal();
    CDB_SGATE_NODE* hold7 = b.last_hold;
    kavu_bdd_use_braeholt_66mux(seven, h, &b.support, &b.nl, nullptr);
    EXPECT_FALSE(h->has_fanout());
    const BDD_ZBDD eight = !b.random_function(rng, range(0, 8));
    CDB_SGATE_OTERM* h8 = b.head_terminal();
    CDB_SGATE_NODE* hold8 = b.last_hold;
    kavu_bdd_use_braeholt_6666mux(eight, h8, &b.support, &b.nl, nullptr);
    EXPECT_TRUE(b.computes(hold7->get_input_term(0)->get_source(), seven));
    EXPECT_TRUE(b.computes(hold8->get_input_term(0)->get_source(), eight));
  }
}

namespace {

// f = split ? H(shared, high-only) : L(shared, low-only) over shuffled variables.
BDD_ZBDD decomposable(BDD_BENCH& b, std::mt19937_64& rng, int n, int shared, int low_only) {
  std::vector<int> vars = range(0, n);
  std::shuffle(vars.begin(), vars.end(), rng);
  const int split = vars[0];
  std::vector<int> lo(vars.begin() + 1, vars.begin() + 1 + shared), hi = lo;
  lo.insert(lo.end(), vars.begin() + 1 + shared, vars.begin() + 1 + shared + low_only);
  hi.insert(hi.end(), vars.begin() + 1 + shared + low_only, vars.end());
  while (true) {
    const BDD_ZBDD f = b.mgr.ithvar(split).Ite(b.random_function(rng, hi), b.random_function(rng, lo));
    if (f.support_size() == n) return f;
  }
}

}  // namespace

// Seven- and eight-input cells on random decomposable heads, evaluated by
// the cell rule; undecomposable heads give null, and an 8-variable head that
// ignores one variable gives null too (once an internal error).
TEST(KavuBddCells, SevenAndEightInputCellsComputeTheHead) {
  std::mt19937_64 rng(104);
  const struct {
    int n, shared, low_only;
    DEV_FAMILY_ENUM family;
  } cases[] = {{7, 4, 1, DEV_FAMILY_ENUM(15)}, {7, 3, 2, DEV_FAMILY_ENUM(47)}, {7, 3, 1, DEV_FAMILY_ENUM(25)},
               {8, 3, 2, DEV_FAMILY_ENUM(25)}, {8, 3, 2, DEV_FAMILY_ENUM(45)},
               // split ? f(three variables) : g(three others), nothing shared
               {7, 0, 3, DEV_FAMILY_ENUM(15)}, {7, 0, 3, DEV_FAMILY_ENUM(25)}};
  for (const auto& c : cases) {
    for (int trial = 0; trial < 4; ++trial) {
      SCOPED_TRACE(std::to_string(c.n) + " inputs, family " + std::to_string(int(c.family)));
      BDD_BENCH b(c.n, trial % 2 == 0);
      KAVU_TRACK(b.nl);
      const BDD_ZBDD f = decomposable(b, rng, c.n, c.shared, c.low_only);
      CDB_SGATE_OTERM* h = b.head_terminal();
      CDB_SGATE_OTERM* out = c.n == 7 ? kavu_bdd_try_braeholt7_cell(f, h, &b.support, &b.nl, c.family, nullptr)
                                      : kavu_bdd_try_quellin_lut8(f, h, &b.support, &b.nl, c.family);
      ASSERT_NE(out, nullptr);
      EXPECT_TRUE(out->get_my_node()->cast_to_wysiwyg()->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT));
      EXPECT_TRUE(b.computes(out, f));
    }
  }
  BDD_BENCH b(8, true);
  CDB_SGATE_OTERM* h = b.head_terminal();
  const BDD_ZBDD same_halves = b.mgr.ithvar(0).Ite(b.random_function(rng, range(1, 7)), b.random_function(rng, range(1, 7)));
  BDD_BENCH b7(7, true);
  const BDD_ZBDD seven_same = b7.mgr.ithvar(0).Ite(b7.random_function(rng, range(1, 7)), b7.random_function(rng, range(1, 7)));
  EXPECT_EQ(kavu_bdd_try_braeholt7_cell(seven_same, b7.head_terminal(), &b7.support, &b7.nl, DEV_FAMILY_ENUM(15), nullptr),
            nullptr);
  EXPECT_EQ(kavu_bdd_try_quellin_lut8(same_halves, h, &b.support, &b.nl, DEV_FAMILY_ENUM(25)), nullptr);
  // Seven variables used, one of the eight ignored.
  BDD_BENCH r(8, true);
  const BDD_ZBDD ignores = decomposable(r, rng, 7, 3, 2);
  EXPECT_EQ(kavu_bdd_try_quellin_lut8(ignores, r.head_terminal(), &r.support, &r.nl, DEV_FAMILY_ENUM(25)), nullptr);
}
