// Tests of the canonical form, the dumps and the self-check of KAVU_01TBL,
// and of the seven-input cut tables (kavu_7cut_fn).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_01tbl.h"
#include "kavu_ttbl.h"
#include "mem/mem.h"
#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using kavu_platform::DEBUG_CAPTURE;

namespace {

// ---- helpers: functions of at most six variables as 64-bit minterm sets ----

uint64_t full_mask(unsigned n) { return n == 6 ? ~uint64_t(0) : (uint64_t(1) << (1u << n)) - 1; }

KAVU_01TBL table_of(unsigned n, uint64_t bits) {
  KAVU_01TBL t(n);
  bits &= full_mask(n);
  t.set_word(0, static_cast<unsigned>(bits));
  if (n == 6) t.set_word(1, static_cast<unsigned>(bits >> 32));
  return t;
}

uint64_t bits_of(const KAVU_01TBL& t) {
  uint64_t bits = t.word(0);
  if (t.num_vars() == 6) bits |= uint64_t(t.word(1)) << 32;
  return bits & full_mask(t.num_vars());
}

// An input permutation with phases and an output phase: g(x) = out ^ f(y)
// with y[perm[i]] = x[i] ^ flip bit i.
struct NPN {
  std::array<unsigned, 6> perm;
  unsigned flips;
  bool out;
};

uint64_t apply_npn(unsigned n, uint64_t f, const NPN& t) {
  uint64_t g = 0;
  for (unsigned x = 0; x < (1u << n); ++x) {
    unsigned y = 0;
    for (unsigned i = 0; i < n; ++i)
      if ((((x >> i) ^ (t.flips >> i)) & 1u) != 0) y |= 1u << t.perm[i];
    if ((((f >> y) & 1u) != 0) != t.out) g |= uint64_t(1) << x;
  }
  return g;
}

NPN random_npn(unsigned n, std::mt19937& rng) {
  NPN t{{0, 1, 2, 3, 4, 5}, static_cast<unsigned>(rng()) & ((1u << n) - 1), (rng() & 1u) != 0};
  std::shuffle(t.perm.begin(), t.perm.begin() + n, rng);
  return t;
}

// What canonical promises: f(x) = g(y) with y_p = x[var_map[p]],
// complemented where phase[var_map[p]] is false, the output complemented
// when the output phase is false.
bool rebuilds(unsigned n, uint64_t f, uint64_t g, bool out, const std::vector<unsigned>& var_map,
              const std::vector<bool>& phase) {
  for (unsigned x = 0; x < (1u << n); ++x) {
    unsigned y = 0;
    for (unsigned p = 0; p < n; ++p) {
      const bool bit = ((x >> var_map[p]) & 1u) != 0;
      if (bit == phase[var_map[p]]) y |= 1u << p;
    }
    const bool gy = ((g >> y) & 1u) != 0;
    if ((gy == out) != (((f >> x) & 1u) != 0)) return false;
  }
  return true;
}

struct CANON {
  uint64_t bits;
  bool out;
  std::vector<unsigned> var_map;
  std::vector<bool> phase;
};

CANON canon_of(unsigned n, uint64_t f) {
  KAVU_01TBL t = table_of(n, f);
  CANON c;
  c.out = t.canonical(c.var_map, c.phase);
  c.bits = bits_of(t);
  EXPECT_TRUE(t.is_canonical()) << "n " << n << " f " << std::hex << f;
  return c;
}

// The promise under which the form is unique in its class: the on-set is not
// half the minterms and the shear volumes are non-zero and pairwise distinct
// in magnitude.
bool unambiguous(unsigned n, uint64_t f) {
  KAVU_01TBL t = table_of(n, f);
  if (2 * t.onset_volume() == (1u << n)) return false;
  std::set<int> seen;
  for (unsigned v = 0; v < n; ++v) {
    const int s = std::abs(t.shear_vol_on(v));
    if (s == 0 || !seen.insert(s).second) return false;
  }
  return true;
}

// ---- canonical form: hand-computed cases ---------------------------------------------

TEST(Kavu01tblCanonical, SmallCasesFollowTheTieBreaks) {
  std::vector<unsigned> var_map;
  std::vector<bool> phase;
  // x0 AND NOT x1 becomes x0 OR x1 with the output and x0 complemented.
  KAVU_01TBL t = table_of(2, 0x2);
  EXPECT_FALSE(t.canonical(var_map, phase));
  EXPECT_EQ(t.word(0), 0xEu);
  EXPECT_EQ(var_map, (std::vector<unsigned>{0, 1}));
  EXPECT_EQ(phase, (std::vector<bool>{false, true}));

  // Constants of no variables: 1 stays, 0 becomes 1 with the output flipped.
  KAVU_01TBL one(0);
  one.set_vcc();
  EXPECT_TRUE(one.canonical(var_map, phase));
  EXPECT_TRUE(one.is_vcc());
  EXPECT_TRUE(var_map.empty() && phase.empty());
  KAVU_01TBL zero(0);
  EXPECT_FALSE(zero.canonical(var_map, phase));
  EXPECT_TRUE(zero.is_vcc());

  // Balanced on-set keeps the output; NOT x0 becomes x0 by its input phase.
  KAVU_01TBL lit = table_of(1, 0x1);
  EXPECT_TRUE(lit.canonical(var_map, phase));
  EXPECT_EQ(lit.word(0), 0x2u);
  EXPECT_EQ(phase, (std::vector<bool>{false}));

  // A variable the function ignores has volume 0 and sorts first:
  // x0 OR x2 over three variables puts x1 at position 0.
  KAVU_01TBL ign = table_of(3, 0xFA);
  EXPECT_TRUE(ign.canonical(var_map, phase));
  EXPECT_EQ(var_map[0], 1u);
  EXPECT_FALSE(ign.is_dependent(0));
}

TEST(Kavu01tblCanonical, EqualVolumesAreOrderedByTheExchangeSort) {
  // Shear volumes share the parity of the on-set, so the tie is shown on
  // four inputs: volumes a, a, b, c with b < a < c order as 2, 1, 0, 3 (the
  // exchange sort is not stable).
  bool found = false;
  for (uint64_t f = 0; f < (1u << 16) && !found; ++f) {
    KAVU_01TBL t = table_of(4, f);
    const int a = t.shear_vol_on(0);
    if (2 * t.onset_volume() < 16 || t.shear_vol_on(1) != a || t.shear_vol_on(2) >= a ||
        t.shear_vol_on(2) <= 0 || t.shear_vol_on(3) <= a)
      continue;
    found = true;
    std::vector<unsigned> var_map;
    std::vector<bool> phase;
    EXPECT_TRUE(t.canonical(var_map, phase));
    EXPECT_EQ(var_map, (std::vector<unsigned>{2, 1, 0, 3}));
    EXPECT_TRUE(rebuilds(4, f, bits_of(t), true, var_map, phase));
  }
  EXPECT_TRUE(found);
}

// ---- canonical form: all four-input functions against brute force ---------------------

TEST(Kavu01tblCanonical, AllFourInputFunctionsAgainstTheirNpnClasses) {
  constexpr unsigned n = 4;
  constexpr unsigned num_funcs = 1u << 16;
  // Every permutation with every input and output phase: 24 x 16 x 2.
  std::vector<NPN> all;
  std::array<unsigned, 6> perm = {0, 1, 2, 3, 4, 5};
  do {
    for (unsigned flips = 0; flips < 16; ++flips)
      for (bool out : {false, true}) all.push_back(NPN{perm, flips, out});
  } while (std::next_permutation(perm.begin(), perm.begin() + n));

  std::vector<int> class_of(num_funcs, -1);
  std::vector<uint64_t> canon(num_funcs);
  int num_classes = 0;
  for (uint64_t f = 0; f < num_funcs; ++f) {
    const CANON c = canon_of(n, f);
    canon[f] = c.bits;
    ASSERT_TRUE(rebuilds(n, f, c.bits, c.out, c.var_map, c.phase)) << std::hex << f;
    if (class_of[f] >= 0) continue;
    for (const NPN& t : all) class_of[apply_npn(n, f, t)] = num_classes;
    ++num_classes;
  }
  ASSERT_EQ(num_classes, 222);

  std::vector<std::set<uint64_t>> reps(num_classes);
  std::map<uint64_t, int> class_of_rep;
  for (uint64_t f = 0; f < num_funcs; ++f) {
    reps[class_of[f]].insert(canon[f]);
    // A representative belongs to one class only.
    auto [it, added] = class_of_rep.emplace(canon[f], class_of[f]);
    EXPECT_EQ(it->second, class_of[f]) << std::hex << f;
  }
  // Where the form promises uniqueness, the class has one representative.
  for (uint64_t f = 0; f < num_funcs; ++f) {
    if (unambiguous(n, f)) {
      EXPECT_EQ(reps[class_of[f]].size(), 1u) << std::hex << f;
    }
  }
  int exact = 0;
  for (const auto& r : reps) exact += r.size() == 1 ? 1 : 0;
  // Tripwire: how many classes the heuristic separates exactly. A change of
  // the sort or the tie-breaks needs a reason.
  EXPECT_EQ(exact, 36);
}

// ---- canonical form: random five- and six-input functions ------------------------------

TEST(Kavu01tblCanonical, RandomFiveAndSixInputFunctionsReachOneForm) {
  std::mt19937 rng(2024);
  for (unsigned n : {5u, 6u}) {
    int unique_cases = 0;
    for (int trial = 0; trial < 5000; ++trial) {
      // Half the cases are uniform; the others are threshold functions of
      // random weights, whose shear volumes differ more often.
      uint64_t f = ((uint64_t(rng()) << 32) | rng()) & full_mask(n);
      if (trial % 2 == 1) {
        std::array<unsigned, 6> w;
        unsigned total = 0;
        for (unsigned i = 0; i < n; ++i) total += w[i] = 1 + rng() % 40;
        const unsigned threshold = 1 + rng() % total;
        f = 0;
        for (unsigned m = 0; m < (1u << n); ++m) {
          unsigned sum = 0;
          for (unsigned i = 0; i < n; ++i) sum += ((m >> i) & 1u) ? w[i] : 0;
          if (sum >= threshold) f |= uint64_t(1) << m;
        }
      }
      const NPN t = random_npn(n, rng);
      const uint64_t g = apply_npn(n, f, t);
      const CANON cf = canon_of(n, f);
      const CANON cg = canon_of(n, g);
      ASSERT_TRUE(rebuilds(n, f, cf.bits, cf.out, cf.var_map, cf.phase)) << n << " " << std::hex << f;
      ASSERT_TRUE(rebuilds(n, g, cg.bits, cg.out, cg.var_map, cg.phase)) << n << " " << std::hex << g;
      if (!unambiguous(n, f)) continue;
      ++unique_cases;
      EXPECT_EQ(cf.bits, cg.bits) << n << " " << std::hex << f << " " << g;
    }
    EXPECT_GT(unique_cases, 10) << n;
  }
}

TEST(Kavu01tblCanonical, WideTablesAndDebugChecks) {
  // Across the word boundary and with the debug checks of canonical on.
  set_01tbl_debug(2);
  std::mt19937 rng(7);
  for (unsigned n : {7u, 9u}) {
    KAVU_01TBL t(n);
    for (unsigned i = 0; i < t.length(); ++i) t.set_word(i, rng());
    const KAVU_01TBL orig(t);
    std::vector<unsigned> var_map;
    std::vector<bool> phase;
    const bool out = t.canonical(var_map, phase);
    EXPECT_TRUE(t.is_canonical());
    // Undo: complement the output, restore the order, then the phases.
    if (!out) t.inv();
    // Position p holds old variable var_map[p]: put each back in turn.
    std::vector<unsigned> at(var_map);
    for (unsigned v = 0; v < n; ++v) {
      const unsigned pos = static_cast<unsigned>(std::find(at.begin(), at.end(), v) - at.begin());
      t.move_var(pos, v);
      at.erase(at.begin() + pos);
      at.insert(at.begin() + v, v);
    }
    for (unsigned v = 0; v < n; ++v)
      if (!phase[v]) t.inv(v);
    EXPECT_EQ(t, orig) << n;
  }
  set_01tbl_debug(0);
}

// ---- dumps and self-check ----------------------------------------------------------------

TEST(Kavu01tblDump, LinesCarryCountWordsAndMinterms) {
  kavu_platform::CFG_SCOPE scope{{"debug_msg_level", "2"}};
  DEBUG_CAPTURE cap("KAVU");
  KAVU_01TBL six(6);
  six.set_word(0, 0x12345678u);
  six.set_word(1, 0x9ABCDEF0u);
  six.dump();
  KAVU_01TBL big(12);
  big.dump();
  KAVU_01TBL two = table_of(2, 0x6);
  set_01tbl_debug(2);
  two.dump();
  set_01tbl_debug(0);
  two.dump_binary();
  EXPECT_TRUE(cap.contains("6 9abcdef0 12345678 "));
  EXPECT_TRUE(cap.contains("c too big"));
  EXPECT_TRUE(cap.contains("2 00000006 0110"));
  EXPECT_TRUE(cap.contains("001 : 1"));
  EXPECT_TRUE(cap.contains("003 : 0"));

  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  six.dump_to_file(file);
  std::rewind(file);
  char line[128] = {};
  ASSERT_NE(std::fgets(line, sizeof line, file), nullptr);
  EXPECT_STREQ(line, "6 9abcdef0 12345678 \n");
  std::fclose(file);
}

TEST(Kavu01tblRegTest, PassesOnTablesOfEverySizeAndRefusesParallelSynthesis) {
  std::mt19937 rng(11);
  for (unsigned n : {0u, 1u, 3u, 5u, 6u, 8u}) {
    KAVU_01TBL t(n);
    for (unsigned i = 0; i < t.length(); ++i) t.set_word(i, rng());
    t.set_word(0, t.word(0) & static_cast<unsigned>(full_mask(std::min(n, 5u))));
    t.reg_test();
  }
  cdb_sgate_set_synthesis_running_in_parallel(true);
  KAVU_01TBL t(3);
  EXPECT_KAVU_INTERNAL_ERROR(t.reg_test(), "not thread-safe");
  cdb_sgate_set_synthesis_running_in_parallel(false);
}

// ---- seven-input cut tables ------------------------------------------------------------

typedef TTBL<7> T7;

// Seven input pins and their terminals, in a netlist the fixture owns.
class Kavu7Cut : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 7; ++i) {
      const std::string name = "x" + std::to_string(i);
      m_pins.push_back(kavu_platform::make_input_pin(&m_nl, name.c_str()));
      m_leaves.push_back(m_pins.back()->get_output_term(0));
    }
  }
  // A comb gate of the given type, inputs added by the caller.
  CDB_SGATE_COMB* comb(CDB_COMB_TYPE type) {
    CDB_SGATE_COMB* g = new CDB_SGATE_COMB(nullptr, type);
    m_nl.add_node(g);
    return g;
  }
  static CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_output_term(0); }
  void add_input(CDB_SGATE_COMB* g, CDB_SGATE_OTERM* src, bool inv = false) {
    g->add_unordered_fanin_from_oterm(MEM_MANAGER::get_default_segment(), inv, src);
  }
  void add_unconnected_input(CDB_SGATE_COMB* g) {
    g->insert_unordered_fanin_term(g->create_input_term(MEM_MANAGER::get_default_segment()));
  }
  T7 x(unsigned i) const { return T7::variable(i); }

  CDB_SGATE_NETLIST m_nl;
  std::vector<CDB_SGATE_NODE*> m_pins;
  std::vector<CDB_SGATE_OTERM*> m_leaves;
};

TEST_F(Kavu7Cut, GatesConstantsAndInversions) {
  EXPECT_EQ(kavu_7cut_fn(m_leaves[3], m_leaves), x(3));
  CDB_SGATE_COMB* a = comb(CDB_COMB_AND);
  add_input(a, m_leaves[0]);
  add_input(a, m_leaves[1], true);
  EXPECT_EQ(kavu_7cut_fn(out(a), m_leaves), x(0) & ~x(1));
  CDB_SGATE_COMB* o = comb(CDB_COMB_OR);
  add_input(o, out(a));
  add_input(o, nullptr, true);  // GND
  add_input(o, m_leaves[6]);
  EXPECT_EQ(kavu_7cut_fn(out(o), m_leaves), (x(0) & ~x(1)) | x(6));
  CDB_SGATE_COMB* v = comb(CDB_COMB_AND);
  add_input(v, nullptr, false);  // VCC
  add_input(v, m_leaves[2]);
  EXPECT_EQ(kavu_7cut_fn(out(v), m_leaves), x(2));
  // Gates without inputs: AND is 1, OR and XOR 0.
  EXPECT_EQ(kavu_7cut_fn(out(comb(CDB_COMB_AND)), m_leaves), T7::ones());
  EXPECT_EQ(kavu_7cut_fn(out(comb(CDB_COMB_OR)), m_leaves), T7::zeros());
  EXPECT_EQ(kavu_7cut_fn(out(comb(CDB_COMB_XOR)), m_leaves), T7::zeros());
  // An inverted output terminal delivers the complement.
  CDB_SGATE_COMB* x5 = comb(CDB_COMB_XOR);
  add_input(x5, m_leaves[4]);
  add_input(x5, m_leaves[5]);
  out(x5)->set_invert();
  EXPECT_EQ(kavu_7cut_fn(out(x5), m_leaves), ~(x(4) ^ x(5)));
}

TEST_F(Kavu7Cut, NotGatesAndUnconnectedInputs) {
  // A NOT gate complements its input.
  CDB_SGATE_COMB* n = comb(CDB_COMB_NOT);
  add_input(n, m_leaves[2]);
  EXPECT_EQ(kavu_7cut_fn(out(n), m_leaves), ~x(2));
  // An unconnected input contributes nothing: it once repeated the value of
  // the previous input, so XOR(x0, open) read x0 ^ x0 = 0.
  CDB_SGATE_COMB* x = comb(CDB_COMB_XOR);
  add_input(x, m_leaves[0]);
  add_unconnected_input(x);
  EXPECT_EQ(kavu_7cut_fn(out(x), m_leaves), T7::variable(0));
  CDB_SGATE_COMB* a = comb(CDB_COMB_AND);
  add_unconnected_input(a);
  add_input(a, m_leaves[1]);
  EXPECT_EQ(kavu_7cut_fn(out(a), m_leaves), T7::variable(1));
  CDB_SGATE_COMB* o = comb(CDB_COMB_OR);
  add_unconnected_input(o);
  add_input(o, m_leaves[3], true);
  EXPECT_EQ(kavu_7cut_fn(out(o), m_leaves), ~T7::variable(3));
}

TEST_F(Kavu7Cut, SharedGatesDeepChainsAndFits) {
  // A gate reached along two paths: (x0 & x1) ^ ((x0 & x1) | x2).
  CDB_SGATE_COMB* a = comb(CDB_COMB_AND);
  add_input(a, m_leaves[0]);
  add_input(a, m_leaves[1]);
  CDB_SGATE_COMB* o = comb(CDB_COMB_OR);
  add_input(o, out(a));
  add_input(o, m_leaves[2]);
  CDB_SGATE_COMB* r = comb(CDB_COMB_XOR);
  add_input(r, out(a));
  add_input(r, out(o));
  EXPECT_EQ(kavu_7cut_fn(out(r), m_leaves), (x(0) & x(1)) ^ ((x(0) & x(1)) | x(2)));

  // A chain far deeper than any call stack would take: the XOR of every
  // leaf, each taken a number of times whose parity is known.
  const unsigned depth = 70001;
  CDB_SGATE_OTERM* prev = m_leaves[0];
  T7 expect = x(0);
  for (unsigned k = 1; k <= depth; ++k) {
    CDB_SGATE_COMB* g = comb(CDB_COMB_XOR);
    add_input(g, prev);
    add_input(g, m_leaves[k % 7]);
    expect ^= x(k % 7);
    prev = out(g);
  }
  const T7 chain = kavu_7cut_fn(prev, m_leaves);
  EXPECT_EQ(chain, expect);

  // Seven-input parity does not fit one ALE; x6 ? g : h with g, h over
  // x0..x4 does.
  T7 parity = x(0);
  for (unsigned i = 1; i < 7; ++i) parity ^= x(i);
  EXPECT_FALSE(kavu_7cut_fn_fits_ale(parity));
  const T7 g = (x(0) & x(1)) | (x(2) ^ x(3) ^ x(4));
  const T7 h = x(0) ^ (x(1) | (x(2) & x(3) & x(4)));
  EXPECT_TRUE(kavu_7cut_fn_fits_ale((x(6) & g) | (~x(6) & h)));
}

TEST_F(Kavu7Cut, RefusesBadCutsForeignGatesAndLoops) {
  std::vector<CDB_SGATE_OTERM*> six(m_leaves.begin(), m_leaves.begin() + 6);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(m_leaves[0], six), "fanins.size () == 7");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(nullptr, m_leaves), "root");

  CDB_SGATE_NODE* lut = kavu_platform::make_lut(&m_nl, {m_pins[0], m_pins[1]}, 0x8);
  CDB_SGATE_COMB* a = comb(CDB_COMB_AND);
  add_input(a, out(lut));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(out(a), m_leaves), "kavu_is_a_comb");
  CDB_SGATE_COMB* keeper = comb(CDB_COMB_NAME_KEEPER);
  add_input(keeper, m_leaves[0]);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(out(keeper), m_leaves), "unknown comb type!");

  // g1 = x0 & g2, g2 = x1 & g1: a loop must be reported, not recursed into.
  CDB_SGATE_COMB* g1 = comb(CDB_COMB_AND);
  CDB_SGATE_COMB* g2 = comb(CDB_COMB_AND);
  add_input(g1, m_leaves[0]);
  add_input(g2, m_leaves[1]);
  add_input(g2, out(g1));
  add_input(g1, out(g2));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_7cut_fn(out(g2), m_leaves), "combinational loop");
}

// Cuts of exactly seven leaves grown by expanding comb-gate leaves at random.
std::vector<std::vector<CDB_SGATE_OTERM*>> grow_cut(CDB_SGATE_OTERM* root, std::mt19937& rng) {
  std::vector<CDB_SGATE_OTERM*> cut = {root};
  std::vector<std::vector<CDB_SGATE_OTERM*>> found;
  for (int step = 0; step < 20; ++step) {
    std::vector<size_t> order(cut.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    bool grew = false;
    for (size_t i : order) {
      CDB_SGATE_NODE* g = cut[i]->get_my_node();
      if (g->get_sgate_type() != CDB_SGATE_COMB_ENUM) continue;
      std::vector<CDB_SGATE_OTERM*> next(cut);
      next.erase(next.begin() + i);
      for (unsigned k = 0; k < g->get_number_of_input_terms(); ++k) {
        CDB_SGATE_OTERM* src = g->get_fanin_term(k);
        if (src && std::find(next.begin(), next.end(), src) == next.end()) next.push_back(src);
      }
      if (next.size() > 7 || next.empty()) continue;
      cut = next;
      grew = true;
      break;
    }
    if (cut.size() == 7) found.push_back(cut);
    if (!grew) break;
  }
  return found;
}

TEST(Kavu7CutCircuits, TablesAgreeWithTheSimulatorOnRealCones) {
  for (const char* name : {"alu4", "cavlc", "router"}) {
    kavu_platform::BLIF_READ_OPTIONS options;
    options.names = kavu_platform::BLIF_READ_OPTIONS::ALL_COMB;
    auto nl = kavu_platform::load_blif(name, options);
    kavu_platform::NETLIST_SIMULATOR sim(nl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::mt19937 rng(99);
    int cuts = 0;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list() && cuts < 150; ++it) {
      CDB_SGATE_NODE* g = *it;
      if (g == nullptr || g->get_sgate_type() != CDB_SGATE_COMB_ENUM) continue;
      for (const auto& cut : grow_cut(g->get_output_term(0), rng)) {
        const T7 fn = kavu_7cut_fn(g->get_output_term(0), cut);
        ++cuts;
        for (uint64_t seed = 1; seed <= 3; ++seed) {
          sim.randomize_inputs(seed * 7919 + cuts);
          sim.eval();
          const uint64_t root = sim.value(g->get_output_term(0));
          for (unsigned b = 0; b < 64; ++b) {
            unsigned m = 0;
            for (unsigned i = 0; i < 7; ++i) m |= unsigned((sim.value(cut[i]) >> b) & 1u) << i;
            ASSERT_EQ(fn.minterm(m), ((root >> b) & 1u) != 0) << name << " cut " << cuts << " bit " << b;
          }
        }
      }
    }
    EXPECT_GT(cuts, 50) << name;
  }
}

}  // namespace
