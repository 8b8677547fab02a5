// Tests of the loop fit test's arc rules: loops closed through register
// inputs other than data, and domains that mix loops whose gates have fixed
// arcs with loops through a wide decomposed gate, whose arcs depend on the
// arrivals.
#include <algorithm>
#include <vector>

#include "kavu_dff_helper.h"
#include "kavu_seq_timer.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_output_term(0); }

// A chain of n two-input unit gates from `from`, both inputs on the previous
// stage; returns the last gate.
CDB_SGATE_NODE* chain(CDB_SGATE_NETLIST& nl, CDB_SGATE_NODE* from, int n) {
  for (int k = 0; k < n; ++k) from = make_and(&nl, from, from);
  return from;
}

int best_cycle_time(CDB_SGATE_NETLIST& nl) {
  KAVU_SEQ_TIMER timer("fit", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  KAVU_SEQ_DELAY_ANALYSIS* analysis = timer.get_analysis(1);
  return analysis ? analysis->get_best_cycle_time() : -1;
}

// r0 -> a gates -> r1 -> b gates -> r0 through the given input of r0 (data
// from r1 directly when the loop closes elsewhere).
void add_ring(CDB_SGATE_NETLIST& nl, CDB_SGATE_NODE* clk, int a, int b, CDB_SGATE_ITERM* (*input)(const CDB_SGATE_NODE*)) {
  CDB_SGATE_NODE* r0 = make_dff(&nl, nullptr, clk);
  CDB_SGATE_NODE* r1 = make_dff(&nl, chain(nl, r0, a), clk);
  CDB_SGATE_NODE* last = chain(nl, r1, b);
  input(r0)->set_source(out(last));
  if (input(r0) != kavu_get_dff_data(r0)) kavu_get_dff_data(r0)->set_source(out(r1));
}

}  // namespace

TEST(KavuSeqSccFit, LoopsThroughEveryTimedRegisterInput) {
  CFG_SCOPE unit{{"kavu_delay_comb_gate", "1"}};
  // Six gates over two registers, whichever timed input closes the loop; the
  // short data path r1 -> r0 alone would allow 2.
  CDB_SGATE_ITERM* (*inputs[])(const CDB_SGATE_NODE*) = {kavu_get_dff_data, kavu_get_dff_enable, kavu_get_dff_sload,
                                                   kavu_get_dff_sclear};
  for (auto input : inputs) {
    CDB_SGATE_NETLIST nl;
    add_ring(nl, make_input_pin(&nl, "clk"), 3, 3, input);
    EXPECT_EQ(best_cycle_time(nl), 3);
  }
}

TEST(KavuSeqSccFit, DomainBoundIsTheWorstLoopWhateverItsGates) {
  CFG_SCOPE unit{{"kavu_delay_comb_gate", "1"}};
  // A loop through a three-input gate (its tree depends on the arrivals) and
  // loops of two-input gates: the domain's bound is the largest of the
  // bounds each loop has alone, whichever kind of loop sets it.
  auto wide_ring = [](CDB_SGATE_NETLIST& nl, CDB_SGATE_NODE* clk, int n) {
    CDB_SGATE_NODE* r0 = make_dff(&nl, nullptr, clk);
    CDB_SGATE_NODE* r1 = make_dff(&nl, chain(nl, r0, n), clk);
    CDB_SGATE_NODE* side = chain(nl, r1, 2);
    CDB_SGATE_NODE* wide = make_and(&nl, r1, side);
    static_cast<CDB_SGATE_COMB*>(wide)->add_unordered_fanin_from_oterm(nullptr, false, out(chain(nl, r1, 1)));
    kavu_get_dff_data(r0)->set_source(out(chain(nl, wide, n)));
  };
  struct CASE {
    int wide_n, ring_a, ring_b;
  } cases[] = {{1, 6, 6}, {6, 1, 1}, {3, 4, 2}};
  for (const CASE& c : cases) {
    int alone[2];
    for (int part = 0; part < 2; ++part) {
      CDB_SGATE_NETLIST nl;
      CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
      if (part == 0) wide_ring(nl, clk, c.wide_n);
      else add_ring(nl, clk, c.ring_a, c.ring_b, kavu_get_dff_data);
      alone[part] = best_cycle_time(nl);
      EXPECT_GT(alone[part], 0);
    }
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    wide_ring(nl, clk, c.wide_n);
    add_ring(nl, clk, c.ring_a, c.ring_b, kavu_get_dff_data);
    EXPECT_EQ(best_cycle_time(nl), std::max(alone[0], alone[1])) << c.wide_n << " " << c.ring_a;
  }
}

TEST(KavuSeqSccFit, WideGateLoopFedByAnotherLoopSettlesInItsLastRound) {
  CFG_SCOPE unit{{"kavu_delay_comb_gate", "1"}};
  // Two one-gate loops: r0 -> g0 -> r0, and r2 -> wide -> r2 where the wide
  // gate also reads g0 directly and through r1 and a gate. The wide gate's
  // tree is ordered by the arrivals, which the loop itself changes: the
  // values settle only in the last round the test allows (size + 1), and
  // the best is the loops' own bound, 1.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r0 = make_dff(&nl, nullptr, clk);
  CDB_SGATE_NODE* r1 = make_dff(&nl, nullptr, clk);
  CDB_SGATE_NODE* r2 = make_dff(&nl, nullptr, clk);
  CDB_SGATE_NODE* g0 = make_and(&nl, r0, r0);
  kavu_get_dff_data(r0)->set_source(out(g0));
  kavu_get_dff_data(r1)->set_source(out(g0));
  CDB_SGATE_NODE* g1 = make_and(&nl, g0, r1);
  CDB_SGATE_NODE* wide = make_and(&nl, g0, g1);
  static_cast<CDB_SGATE_COMB*>(wide)->add_unordered_fanin_from_oterm(nullptr, false, out(r2));
  kavu_get_dff_data(r2)->set_source(out(wide));
  EXPECT_EQ(best_cycle_time(nl), 1);
}
