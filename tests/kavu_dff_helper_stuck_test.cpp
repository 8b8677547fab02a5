// Tests of the stuck-register passes (register rings, Q-feedback through AND
// and OR logic, OR latches through cut buffers) with sequential simulation
// against an untouched copy, and of the fan-in cone listing kavu_dfs_cone.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_dff_helper_stuck.h"
#include "kavu_helper_predicates.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_single_oterm(); }
CDB_SGATE_ITERM* data_of(CDB_SGATE_NODE* dff) { return dff->get_input_term(CDB_DFF_DATA); }

// Two registers in a ring through ANDs with outside signals, each read by an
// output: r1 <- AND(r2, a), r2 <- AND(r1, b). `setup` adjusts the registers.
struct RING {
  std::unique_ptr<CDB_SGATE_NETLIST> nl = std::make_unique<CDB_SGATE_NETLIST>();
  CDB_SGATE_NODE* r1 = nullptr;
  CDB_SGATE_NODE* r2 = nullptr;

  explicit RING(const std::function<void(RING&)>& setup = nullptr) {
    CDB_SGATE_NETLIST* n = nl.get();
    auto* a = make_input_pin(n, "a");
    auto* b = make_input_pin(n, "b");
    auto* clk = make_input_pin(n, "clk");
    r1 = make_dff(n, nullptr, clk);
    r2 = make_dff(n, make_and(n, r1, b), clk);
    data_of(r1)->set_source(out(make_and(n, r2, a)));
    make_output_pin(n, "y1", r1);
    make_output_pin(n, "y2", r2);
    if (setup) setup(*this);
  }
};

// The register's data input after a pass: tied to GND?
bool tied_low(CDB_SGATE_NODE* dff) { return data_of(dff)->is_gnd(); }

}  // namespace

// ---------------------------------------------------------------- rings

TEST(KavuDffRings, LowRingIsTiedAndStaysEquivalent) {
  for (const char* slower : {"off", "on"}) {
    CFG_SCOPE key{{"kavu_dff_ring_slower", slower}};
    RING golden, ring;
    KAVU_TRACK(*ring.nl);
    DEBUG_CAPTURE cap("KAVU");
    EXPECT_GE(kavu_find_dff_rings(ring.nl.get()), 1) << slower;
    EXPECT_TRUE(tied_low(ring.r1) || tied_low(ring.r2)) << slower;
    EXPECT_TRUE(cap.contains("Stuck DFF ring includes")) << slower;
    ASSERT_KAVU_EQUIVALENT(*golden.nl, *ring.nl);
  }
}

TEST(KavuDffRings, RingsThatCanRiseAreLeftAlone) {
  // Powers up high; a preset; an asynchronous load.
  const std::vector<std::function<void(RING&)>> setups = {
      [](RING& r) { r.r2->cast_to_dff()->set_power_up_high(true); },
      [](RING& r) { r.r1->get_input_term(CDB_DFF_PRESET)->set_source(out(make_input_pin(r.nl.get(), "p"))); },
      [](RING& r) { r.r1->get_input_term(CDB_DFF_ALOAD)->set_source(out(make_input_pin(r.nl.get(), "l"))); },
      // Regression: a synchronous load of a signal could store a 1, yet the
      // ring was tied to GND.
      [](RING& r) {
        r.r1->get_input_term(CDB_DFF_SLOAD)->set_source(out(make_input_pin(r.nl.get(), "sl")));
        r.r1->get_input_term(CDB_DFF_ADATA)->set_source(out(make_input_pin(r.nl.get(), "ad")));
      },
  };
  for (size_t i = 0; i < setups.size(); ++i) {
    RING golden(setups[i]), ring(setups[i]);
    KAVU_TRACK(*ring.nl);
    EXPECT_EQ(kavu_find_dff_rings(ring.nl.get()), 0) << i;
    EXPECT_FALSE(tied_low(ring.r1) || tied_low(ring.r2)) << i;
    ASSERT_KAVU_EQUIVALENT(*golden.nl, *ring.nl);
  }
  // A load whose data is GND stores only a 0: the ring is stuck again.
  RING grounded([](RING& r) {
    r.r1->get_input_term(CDB_DFF_SLOAD)->set_source(out(make_input_pin(r.nl.get(), "sl")));
    r.r1->get_input_term(CDB_DFF_ADATA)->set_gnd();
  });
  EXPECT_GE(kavu_find_dff_rings(grounded.nl.get()), 1);
}

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

  // r <- mux(sel = a, d0 = GND, d1 = r): r is its own predecessor.
  auto* r = make_dff(&nl, nullptr, clk);
  auto* hold = make_mux(&nl, nullptr, r, a);
  hold->get_input_term(CDB_MUX_DATA0)->set_gnd();
  data_of(r)->set_source(out(hold));
  make_output_pin(&nl, "z", r);
  EXPECT_EQ(kavu_find_dff_rings(&nl), 1);
  EXPECT_TRUE(tied_low(r));
}

// ---------------------------------------------------------------- Q feedback

TEST(KavuQfbk, StuckLowThroughAnd) {
  auto build = [](CDB_SGATE_NETLIST* n, bool direct) {
    auto* a = make_input_pin(n, "a");
    auto* clk = make_input_pin(n, "clk");
    auto* r = make_dff(n, nullptr, clk);
    data_of(r)->set_source(direct ? out(r) : out(make_and(n, a, r)));
    make_output_pin(n, "y", r);
    return r;
  };
  CDB_SGATE_NETLIST golden, nl, direct;
  build(&golden, false);
  CDB_SGATE_NODE* r = build(&nl, false);
  KAVU_TRACK(nl);
  EXPECT_EQ(kavu_find_stuck_low_qfbk(&nl, 0), 0);  // depth 0: direct feedback only
  DEBUG_CAPTURE cap("KAVU");
  EXPECT_EQ(kavu_find_stuck_low_qfbk(&nl, 1), 1);
  EXPECT_TRUE(tied_low(r));
  EXPECT_TRUE(cap.contains("Sticking 1 registers / cuts low due to Qfbk analysis"));
  ASSERT_KAVU_EQUIVALENT(golden, nl);
  CDB_SGATE_NODE* d = build(&direct, true);
  EXPECT_EQ(kavu_find_stuck_low_qfbk(&direct, 0), 1);
  EXPECT_TRUE(tied_low(d));

  // A preset or a synchronous load could raise it: left alone.
  CDB_SGATE_NETLIST preset;
  CDB_SGATE_NODE* p = build(&preset, false);
  p->get_input_term(CDB_DFF_SLOAD)->set_source(out(make_input_pin(&preset, "sl")));
  EXPECT_EQ(kavu_find_stuck_low_qfbk(&preset, 4), 0);
}

TEST(KavuQfbk, StuckHighThroughOrAndSetMux) {
  auto build = [](CDB_SGATE_NETLIST* n, bool via_mux) {
    auto* a = make_input_pin(n, "a");
    auto* clk = make_input_pin(n, "clk");
    auto* r = make_dff(n, nullptr, clk);
    r->cast_to_dff()->set_power_up_dc(true);
    CDB_SGATE_NODE* next = via_mux ? make_mux(n, r, nullptr, a) : make_or(n, r, a);  // mux data1 = VCC
    data_of(r)->set_source(out(next));
    make_output_pin(n, "y", r);
    return r;
  };
  for (bool via_mux : {false, true}) {
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* r = build(&nl, via_mux);
    EXPECT_EQ(kavu_find_stuck_hi_qfbk(&nl, 1), 1) << via_mux;
    EXPECT_TRUE(data_of(r)->is_vcc()) << via_mux;
  }
  CDB_SGATE_NETLIST cleared;
  build(&cleared, false)->get_input_term(CDB_DFF_SCLR)->set_source(out(make_input_pin(&cleared, "c")));
  EXPECT_EQ(kavu_find_stuck_hi_qfbk(&cleared, 1), 0);

  // Regression: the second synchronous clear of a flip-flop atom can lower
  // the register, yet it was tied high.
  CDB_SGATE_NETLIST atom_nl;
  auto* a = make_input_pin(&atom_nl, "a");
  auto* ff = new CDB_SGATE_WYSIWYG(nullptr, 94);
  atom_nl.add_node(ff);
  auto place = [&](uint16_t port, CDB_SGATE_OTERM* src) {
    CDB_SGATE_ITERM* t = ff->create_input_term(nullptr, port);
    ff->set_input_term(t, ff->get_input_port_number(port));
    t->set_source(src);
    return t;
  };
  CDB_SGATE_OTERM* q = ff->create_output_term(nullptr, DB_PORT_REGOUT);
  ff->set_output_term(q, 0);
  ff->set_power_up_high(true);
  auto* orr = make_or(&atom_nl, a, nullptr);
  orr->get_input_term(1)->set_source(q);
  CDB_SGATE_ITERM* d = place(DB_PORT_DATAIN, out(orr));
  CDB_SGATE_ITERM* sclr2 = place(DB_PORT_SCLR2, out(make_input_pin(&atom_nl, "s2")));
  EXPECT_EQ(kavu_find_stuck_hi_qfbk(&atom_nl, 2), 0);
  EXPECT_FALSE(d->is_vcc());
  sclr2->set_gnd();
  {
    CFG_SCOPE plain{{"opt_no_dup_wys_ff", "on"}};
    EXPECT_EQ(kavu_find_stuck_hi_qfbk(&atom_nl, 2), 0);
  }
  EXPECT_EQ(kavu_find_stuck_hi_qfbk(&atom_nl, 2), 1);
  EXPECT_TRUE(d->is_vcc());
}

TEST(KavuQfbk, CutBuffersOrLatchAndWaiver) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  auto* a = make_input_pin(&nl, "a");
  auto* cut = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_CUT);
  nl.add_node(cut);
  auto* orr = make_or(&nl, a, cut);
  cut->insert_unordered_fanin(out(orr));
  make_output_pin(&nl, "y", cut);
  {
    CFG_SCOPE waive{{"kavu_no_qfbk_check", "on"}};
    DEBUG_CAPTURE cap("KAVU");
    EXPECT_EQ(kavu_find_stuck_hi_or_latch(&nl), 0);
    EXPECT_EQ(kavu_find_stuck_low_qfbk(&nl, 3), 0);
    EXPECT_EQ(kavu_find_stuck_hi_qfbk(&nl, 3), 0);
    EXPECT_TRUE(cap.contains("WARNING: Q feedback checking waived by INI"));
  }
  EXPECT_EQ(kavu_find_stuck_hi_or_latch(&nl), 1);
  EXPECT_TRUE(orr->get_input_term(1)->is_vcc());
  EXPECT_EQ(orr->get_input_term(0)->get_source(), out(a));

  // A cut buffer fed back through an AND is stuck low.
  auto* cut2 = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_CUT);
  nl.add_node(cut2);
  auto* andd = make_and(&nl, cut2, a);
  cut2->insert_unordered_fanin(out(andd));
  EXPECT_EQ(kavu_find_stuck_low_qfbk(&nl, 1), 1);
  EXPECT_TRUE(cut2->get_input_term(0)->is_gnd());
  // A broken connection inside the cone is reported.
  auto* cut3 = new CDB_SGATE_BUFFER(nullptr, CDB_BUFFER_CUT);
  nl.add_node(cut3);
  auto* broken = make_and(&nl, cut3, a);
  cut3->insert_unordered_fanin(out(broken));
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
