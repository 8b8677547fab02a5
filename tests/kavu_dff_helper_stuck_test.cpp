// Tests of the stuck-register passes (register rings, Q-feedback through AND
// and OR logic, OR latches through cut buffers) with sequential simulation
// against an untouched copy, and of the fan-in cone listing kavu_dfs_cone.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_stuck.h"
#include "kavu_helper_predicates.h"
#include "kavu_wiring_helper.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_single_oterm(); }
CDB_SGATE_ITERM* data_of(CDB_SGATE_NODE* dff) { return dff->get_input_term(CDB_DFF_DATA); }

// ---------------------------------------------------------------- exact counts

// Registers of every stuck kind and some that are not, all reading pins a,
// b and clk, each read by an output pin. Counted by hand:
//   ring of two: r1 <- r2 & a, r2 <- r1 & b        one ring closed (each search)
//   the same rings where r1 could rise: it powers up high, has a preset, an
//   asynchronous load, or a synchronous load of a signal   nothing
//   (regression: the last was tied to GND); a load of GND   one ring
//   figure eight: s0 <- s1 & s2, s1 <- s0 & a, s2 <- s0 & b
//                 numbered search: two closings (s1, s2); link search: three
//                 (s1->s0 twice and s2->s0)
//   hold mux: m <- a ? m : 0                        ring of one; AND cone
//   self AND: n <- a & n                            ring of one; AND cone
//   keeps: k <- k                                   ring of one; direct feedback
//   self OR, powers up high: o <- a | o             OR cone
//   set mux, powers up high: h <- a ? 1 : h         set mux
//   toggles: t <- t ^ a, u <- a & !u                nothing
void build_register_zoo(CDB_SGATE_NETLIST* n) {
  auto* a = make_input_pin(n, "a");
  auto* b = make_input_pin(n, "b");
  auto* clk = make_input_pin(n, "clk");
  auto reg = [&](const char* name, bool high = false) {
    CDB_SGATE_NODE* r = make_dff(n, nullptr, clk);
    r->cast_to_dff()->set_power_up_high(high);
    make_output_pin(n, name, r);
    return r;
  };
  auto feed = [](CDB_SGATE_NODE* r, CDB_SGATE_NODE* next) { data_of(r)->set_source(out(next)); };
  enum RING_TWEAK { PLAIN, HIGH, PRESET, ALOAD, LOAD_OF_SIGNAL, LOAD_OF_GND };
  for (RING_TWEAK tweak : {PLAIN, HIGH, PRESET, ALOAD, LOAD_OF_SIGNAL, LOAD_OF_GND}) {
    const std::string y = "r" + std::to_string(tweak);
    CDB_SGATE_NODE* r1 = reg((y + "_1").c_str(), tweak == HIGH);
    CDB_SGATE_NODE* r2 = reg((y + "_2").c_str());
    feed(r1, make_and(n, r2, a));
    feed(r2, make_and(n, r1, b));
    if (tweak == PRESET || tweak == ALOAD) r1->get_input_term(tweak == PRESET ? CDB_DFF_PRESET : CDB_DFF_ALOAD)->set_source(out(b));
    if (tweak == LOAD_OF_SIGNAL || tweak == LOAD_OF_GND) {
      r1->get_input_term(CDB_DFF_SLOAD)->set_source(out(b));
      if (tweak == LOAD_OF_GND) r1->get_input_term(CDB_DFF_ADATA)->set_gnd();
      else r1->get_input_term(CDB_DFF_ADATA)->set_source(out(a));
    }
  }
  CDB_SGATE_NODE* s0 = reg("s0");
  CDB_SGATE_NODE* s1 = reg("s1");
  CDB_SGATE_NODE* s2 = reg("s2");
  feed(s0, make_and(n, s1, s2));
  feed(s1, make_and(n, s0, a));
  feed(s2, make_and(n, s0, b));
  CDB_SGATE_NODE* m = reg("m");
  CDB_SGATE_NODE* hold = make_mux(n, nullptr, m, a);
  hold->get_input_term(CDB_MUX_DATA0)->set_gnd();
  feed(m, hold);
  CDB_SGATE_NODE* self_and = reg("n");
  feed(self_and, make_and(n, a, self_and));
  CDB_SGATE_NODE* o = reg("o", true);
  feed(o, make_or(n, a, o));
  CDB_SGATE_NODE* h = reg("h", true);
  feed(h, make_mux(n, h, nullptr, a));  // data 1 tied to VCC
  CDB_SGATE_NODE* k = reg("k");
  feed(k, k);
  CDB_SGATE_NODE* t = reg("t");
  feed(t, make_xor(n, t, a));
  CDB_SGATE_NODE* u = reg("u");
  CDB_SGATE_NODE* clear_on_a = make_and(n, a, u);
  clear_on_a->get_input_term(1)->invert();
  feed(u, clear_on_a);
}

}  // namespace

TEST(KavuStuckRegisters, ExactCountsOnARegisterZooAndTheFunctionKept) {
  struct PASS {
    const char* name;
    const char* ring_search_slower;
    int (*run)(CDB_SGATE_NETLIST*);
    int expected;
  };
  const PASS passes[] = {
      {"numbered rings", "off", [](CDB_SGATE_NETLIST* n) { return kavu_find_dff_rings(n); }, 7},
      {"link rings", "on", [](CDB_SGATE_NETLIST* n) { return kavu_find_dff_rings(n); }, 8},
      {"low, depth 0", "off", [](CDB_SGATE_NETLIST* n) { return kavu_find_stuck_low_qfbk(n, 0); }, 1},
      {"low, depth 2", "off", [](CDB_SGATE_NETLIST* n) { return kavu_find_stuck_low_qfbk(n, 2); }, 3},
      {"high, depth 2", "off", [](CDB_SGATE_NETLIST* n) { return kavu_find_stuck_hi_qfbk(n, 2); }, 2},
      {"OR latches", "off", [](CDB_SGATE_NETLIST* n) { return kavu_find_stuck_hi_or_latch(n); }, 0},
  };
  for (const PASS& pass : passes) {
    SCOPED_TRACE(pass.name);
    CFG_SCOPE key{{"kavu_dff_ring_slower", pass.ring_search_slower}};
    CDB_SGATE_NETLIST golden, nl;
    build_register_zoo(&golden);
    build_register_zoo(&nl);
    KAVU_TRACK(nl);
    EXPECT_EQ(pass.run(&nl), pass.expected);
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

// ---------------------------------------------------------------- rings

TEST(KavuDffRings, MuxWithGndInputIsNormalisedAndJoinsRing) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* a = make_input_pin(&nl, "a");
  auto* clk = make_input_pin(&nl, "clk");
  auto* lone = make_dff(&nl, nullptr, clk);
  auto* mux = make_mux(&nl, a, nullptr, a);  // data1 tied, made GND below
  mux->get_input_term(CDB_MUX_DATA1)->set_gnd();
  data_of(lone)->set_source(out(mux));
  make_output_pin(&nl, "y", lone);
  EXPECT_EQ(kavu_find_dff_rings(&nl), 0);
  // Normalised even without a ring: GND on data 0, select inverted.
  EXPECT_TRUE(mux->get_input_term(CDB_MUX_DATA0)->is_gnd());
  EXPECT_EQ(mux->get_input_term(CDB_MUX_DATA1)->get_source(), out(a));
  EXPECT_TRUE(mux->get_input_term(CDB_MUX_SELECT)->is_inverted());
}

// ---------------------------------------------------------------- Q feedback

TEST(KavuQfbk, RegistersAControlCouldMoveAreLeftAlone) {
  // r <- a & r (low) or r <- a | r (high, powering up high), then one change
  // that lets the register leave its value.
  struct ROW {
    bool high;
    CDB_DFF_PORT control;  // driven by a pin, or CDB_DFF_DATA for none
    bool powers_up_high;
  };
  const ROW rows[] = {
      {false, CDB_DFF_PRESET, false}, {false, CDB_DFF_ALOAD, false}, {false, CDB_DFF_SLOAD, false},
      {false, CDB_DFF_DATA, true},    {true, CDB_DFF_ACLR, true},    {true, CDB_DFF_SCLR, true},
      {true, CDB_DFF_SLOAD, true},    {true, CDB_DFF_DATA, false},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(std::to_string(row.high) + " " + std::to_string(row.control));
    CDB_SGATE_NETLIST nl;
    auto* a = make_input_pin(&nl, "a");
    auto* r = make_dff(&nl, nullptr, make_input_pin(&nl, "clk"));
    r->cast_to_dff()->set_power_up_high(row.powers_up_high);
    data_of(r)->set_source(out(row.high ? make_or(&nl, a, r) : make_and(&nl, a, r)));
    if (row.control != CDB_DFF_DATA) r->get_input_term(row.control)->set_source(out(make_input_pin(&nl, "c")));
    EXPECT_EQ(row.high ? kavu_find_stuck_hi_qfbk(&nl, 2) : kavu_find_stuck_low_qfbk(&nl, 2), 0);
    EXPECT_FALSE(data_of(r)->is_vcc_or_gnd());
  }

  // Regression: the second synchronous clear of a flip-flop atom can lower
  // the register, yet it was tied high.
  CDB_SGATE_NETLIST nl;
  auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 94);
  nl.add_node(ff);
  CDB_SGATE_OTERM* q = kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false);
  ff->set_power_up_high(true);
  auto* orr = make_or(&nl, make_input_pin(&nl, "a"), nullptr);
  orr->get_input_term(1)->set_source(q);
  CDB_SGATE_ITERM* d = kavu_fetch_create_wys_iterm(DB_PORT_DATAIN, ff);
  CDB_SGATE_ITERM* sclr2 = kavu_fetch_create_wys_iterm(DB_PORT_SCLR2, ff);
  d->set_source(out(orr));
  sclr2->set_source(out(make_input_pin(&nl, "s2")));
  EXPECT_EQ(kavu_find_stuck_hi_qfbk(&nl, 2), 0);
  sclr2->disconnect_from_source();
  sclr2->set_gnd();
  {
    CFG_SCOPE plain{{"opt_no_dup_wys_ff", "on"}};  // plain registers only
    EXPECT_EQ(kavu_find_stuck_hi_qfbk(&nl, 2), 0);
  }
  EXPECT_EQ(kavu_find_stuck_hi_qfbk(&nl, 2), 1);
  EXPECT_TRUE(d->is_vcc());
}

TEST(KavuQfbk, CutBuffersOrLatchAndWaiver) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* a = make_input_pin(&nl, "a");
  // cut <- a | cut, cut2 <- cut2 & a: a latch stuck high and one stuck low.
  CDB_SGATE_BUFFER* cut = make_buffer(&nl, nullptr, CDB_BUFFER_CUT);
  auto* orr = make_or(&nl, a, cut);
  out(orr)->insert_fanout(cut->get_single_iterm());
  CDB_SGATE_BUFFER* cut2 = make_buffer(&nl, nullptr, CDB_BUFFER_CUT);
  out(make_and(&nl, cut2, a))->insert_fanout(cut2->get_single_iterm());
  {
    CFG_SCOPE waive{{"kavu_no_qfbk_check", "on"}};
    EXPECT_EQ(kavu_find_stuck_hi_or_latch(&nl) + kavu_find_stuck_low_qfbk(&nl, 3) + kavu_find_stuck_hi_qfbk(&nl, 3), 0);
  }
  EXPECT_EQ(kavu_find_stuck_hi_or_latch(&nl), 1);
  EXPECT_TRUE(orr->get_input_term(1)->is_vcc());
  EXPECT_EQ(orr->get_input_term(0)->get_source(), out(a));
  EXPECT_EQ(kavu_find_stuck_low_qfbk(&nl, 1), 1);
  EXPECT_TRUE(cut2->get_single_iterm()->is_gnd());
  // A broken connection inside the cone is reported.
  CDB_SGATE_BUFFER* cut3 = make_buffer(&nl, nullptr, CDB_BUFFER_CUT);
  auto* broken = make_and(&nl, cut3, a);
  out(broken)->insert_fanout(cut3->get_single_iterm());
  broken->get_input_term(1)->disconnect_from_source();
  EXPECT_KAVU_INTERNAL_ERROR(kavu_find_stuck_low_qfbk(&nl, 1), "Bad connections while traversing AND cone");
  broken->get_input_term(1)->set_source(out(a));
}

// ---------------------------------------------------------------- kavu_dfs_cone

TEST(KavuDfsCone, PostOrderLeavesAndDeepChains) {
  CDB_SGATE_NETLIST nl;
  auto* a = make_input_pin(&nl, "a");
  auto* b = make_input_pin(&nl, "b");
  auto* x = make_and(&nl, a, b);
  auto* y = make_or(&nl, x, b);
  auto* z = make_xor(&nl, y, x);
  std::vector<CDB_SGATE_OTERM*> leaves{out(b)};
  std::vector<CDB_SGATE_OTERM*> cone{out(b)};  // appended to, not cleared
  kavu_dfs_cone(out(z), leaves, cone);
  EXPECT_EQ(cone, (std::vector<CDB_SGATE_OTERM*>{out(b), out(a), out(x), out(y), out(z)}));
  std::vector<CDB_SGATE_OTERM*> none;
  std::vector<CDB_SGATE_OTERM*> root_leaf{out(z)};
  kavu_dfs_cone(out(z), root_leaf, none);
  EXPECT_TRUE(none.empty());

  // A chain far deeper than any call stack allows.
  CDB_SGATE_NODE* prev = a;
  for (int i = 0; i < 300000; ++i) prev = make_not(&nl, prev);
  std::vector<CDB_SGATE_OTERM*> chain;
  kavu_dfs_cone(out(prev), none, chain);
  ASSERT_EQ(chain.size(), 300001u);
  EXPECT_EQ(chain.front(), out(a));
  EXPECT_EQ(chain.back(), out(prev));
}

// On real circuits the iterative walk gives exactly the recursive post-order.
TEST(KavuDfsCone, MatchesRecursiveWalkOnRealCircuits) {
  for (const char* name : {"epfl/cavlc", "mcnc/alu4", "seq/stereovision3"}) {
    auto nl = load_blif(name);
    std::vector<CDB_SGATE_OTERM*> leaves;
    for (CDB_SGATE_NODE* pin : nl->get_input_pins()) leaves.push_back(out(pin));
    for (CDB_SGATE_NODE* pin : nl->get_output_pins()) {
      CDB_SGATE_OTERM* root = pin->get_input_term(0)->get_source();
      if (!root) continue;
      std::set<CDB_SGATE_OTERM*> seen(leaves.begin(), leaves.end());
      std::vector<CDB_SGATE_OTERM*> expected;
      std::function<void(CDB_SGATE_OTERM*)> walk = [&](CDB_SGATE_OTERM* o) {
        if (!seen.insert(o).second) return;
        std::vector<CDB_SGATE_OTERM*> f;
        kavu_get_oterm_feeders(o, f, false, false, false);
        for (CDB_SGATE_OTERM* s : f) walk(s);
        expected.push_back(o);
      };
      walk(root);
      std::vector<CDB_SGATE_OTERM*> cone;
      kavu_dfs_cone(root, leaves, cone);
      ASSERT_EQ(cone, expected) << name << " " << pin->get_string_hpath();
    }
  }
}
