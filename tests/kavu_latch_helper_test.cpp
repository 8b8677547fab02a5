// Tests of latch conversion: one or two LUTs per latch against the latch
// itself under the simulator, cycle by cycle, for every mix of live and
// constant inputs at four and six LUT inputs; the comb-gate forms of
// feeding-back and stuck-enable latches; and the refused inputs.
#include <string>
#include <utility>
#include <vector>

#include "cfg/cfg.h"
#include "kavu_helper_predicates.h"
#include "kavu_latch_helper.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

enum DRIVE { LIVE, VCC, GND, OPEN };
const char* const kDriveName[] = {"live", "vcc", "gnd", "open"};

struct LATCH_CASE {
  DRIVE d, en, en2, clr, pre;
  std::string text() const {
    return std::string("d=") + kDriveName[d] + " en=" + kDriveName[en] + " en2=" + kDriveName[en2] +
           " clr=" + kDriveName[clr] + " pre=" + kDriveName[pre];
  }
};

void drive(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* latch, unsigned pos, DRIVE how, const char* pin) {
  CDB_SGATE_ITERM* t = latch->create_input_term(nullptr);
  latch->set_input_term(t, pos);
  if (how == LIVE) make_input_pin(nl, pin)->get_single_oterm()->insert_fanout(t);
  if (how == VCC) t->set_vcc();
  if (how == GND) t->set_gnd();
}

// Pins for the live inputs, one latch, one output pin "q".
CDB_SGATE_NODE* build_latch(CDB_SGATE_NETLIST* nl, const LATCH_CASE& c) {
  auto* latch = new CDB_SGATE_LATCH(nullptr);
  nl->add_node(latch);
  drive(nl, latch, CDB_LATCH_D, c.d, "d");
  drive(nl, latch, CDB_LATCH_EN, c.en, "en");
  drive(nl, latch, CDB_LATCH_EN2, c.en2, "en2");
  drive(nl, latch, CDB_LATCH_CLR, c.clr, "clr");
  drive(nl, latch, CDB_LATCH_PRE, c.pre, "pre");
  make_output_pin(nl, "q", latch);
  return latch;
}

int count_kind(const CDB_SGATE_NETLIST& nl, bool (*kind)(const CDB_SGATE_NODE*)) {
  int n = 0;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it) n += (*it && kind(*it));
  return n;
}

// Drives both netlists with the same random words, one input pin at a time
// (a latch, and a LUT loop, must not see two inputs change at once, or the
// loop races), and compares the output "q" after every change.
bool same_behaviour(const CDB_SGATE_NETLIST& a, const CDB_SGATE_NETLIST& b, std::string* why) {
  NETLIST_SIMULATOR sa(&a), sb(&b);
  if (!sa.ok() || !sb.ok()) {
    *why = sa.ok() ? sb.error() : sa.error();
    return false;
  }
  std::vector<std::pair<CDB_SGATE_NODE*, CDB_SGATE_NODE*>> pins;
  CDB_SGATE_NODE *qa = nullptr, *qb = nullptr;
  for (CDB_SGATE_IO* p : a.get_input_pins())
    for (CDB_SGATE_IO* r : b.get_input_pins())
      if (sim_pin_name(p) == sim_pin_name(r)) pins.emplace_back(p, r);
  for (CDB_SGATE_IO* p : a.get_output_pins()) qa = p;
  for (CDB_SGATE_IO* p : b.get_output_pins()) qb = p;
  sa.eval();
  sb.eval();
  uint64_t state = 0x9e3779b97f4a7c15ull;
  for (int step = 0; step < 64; ++step)
    for (auto& [pa, pb] : pins) {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      sa.set_input(pa, state);
      sb.set_input(pb, state);
      sa.eval();
      sb.eval();
      if (sa.output(qa) != sb.output(qb)) {
        *why = "step " + std::to_string(step) + " after " + sim_pin_name(pa);
        return false;
      }
    }
  return true;
}

}  // namespace

TEST(KavuLatchHelper, LutFormsBehaveLikeTheLatchCycleByCycle) {
  const DRIVE drives[] = {LIVE, VCC, GND};
  for (unsigned lut_size : {4u, 6u}) {
    CDB_LUTMASK::max_num_inputs = lut_size;
    int cases = 0, two_lut_cases = 0;
    for (DRIVE d : drives)
      for (DRIVE en : drives)
        for (DRIVE clr : drives)
          for (DRIVE pre : drives)
            for (DRIVE en2 : {VCC, OPEN, LIVE}) {
              if (en2 == LIVE && lut_size == 4) continue;  // refused below
              const LATCH_CASE c{d, en, en2, clr, pre};
              CDB_SGATE_NETLIST golden, nl;
              build_latch(&golden, c);
              CDB_SGATE_NODE* latch = build_latch(&nl, c);
              kavu_synthesize_luts_for_latch(latch, &nl, true, false);
              nl.delete_node(latch);
              delete latch;
              nl.sweep(false);
              const int luts = count_kind(nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_lut(g); });
              // Four-input LUTs take two LUTs exactly when D, EN, PRE and CLR are all live.
              const bool all_live = d == LIVE && en == LIVE && clr == LIVE && pre == LIVE;
              EXPECT_EQ(luts, lut_size == 4 && all_live ? 2 : 1) << c.text();
              two_lut_cases += luts == 2;
              EXPECT_EQ(count_kind(nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_cut_buffer(g); }), 1) << c.text();
              std::string why;
              EXPECT_TRUE(same_behaviour(golden, nl, &why)) << lut_size << "-input LUTs, " << c.text() << ": " << why;
              ++cases;
            }
    EXPECT_EQ(cases, lut_size == 4 ? 162 : 243);
    EXPECT_EQ(two_lut_cases, lut_size == 4 ? 2 : 0);  // en2 at VCC and unconnected
  }
  CDB_LUTMASK::max_num_inputs = 6;
}

TEST(KavuLatchHelper, SixInputPositionsAndRefusedFourInputLatches) {
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* latch = build_latch(&nl, {LIVE, LIVE, VCC, LIVE, LIVE});
  kavu_synthesize_luts_for_latch(latch, &nl, true, false);
  CDB_SGATE_NODE* lut = nullptr;
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it && kavu_is_a_lut(*it)) lut = *it;
  ASSERT_NE(lut, nullptr);
  // CLR 5, PRE 4, EN 3, feedback 2, D 1; the feedback comes through the cut buffer.
  EXPECT_EQ(lut->get_input_term(5)->get_source()->get_my_node()->get_string_hpath(), "top|clr");
  EXPECT_EQ(lut->get_input_term(1)->get_source()->get_my_node()->get_string_hpath(), "top|d");
  EXPECT_TRUE(kavu_is_a_cut_buffer(lut->get_input_term(2)->get_source()->get_my_node()));
  EXPECT_EQ(lut->get_flag_byte(CDB_KIND_BYTE) & 0x22, 0x22);
  const uint64_t mask = lut->cast_to_lut()->get_lut_mask().get_value();
  for (unsigned m = 0; m < 64; ++m) {
    const bool clr = m >> 5 & 1, pre = m >> 4 & 1, en = m >> 3 & 1, fb = m >> 2 & 1, d = m >> 1 & 1;
    EXPECT_EQ((mask >> m & 1) != 0, !clr && (pre || (en && d) || (!en && fb))) << m;
  }

  CDB_LUTMASK::max_num_inputs = 4;
  CDB_SGATE_NETLIST nl4;
  CDB_SGATE_NODE* en2_latch = build_latch(&nl4, {LIVE, LIVE, LIVE, GND, GND});
  EXPECT_KAVU_INTERNAL_ERROR(kavu_synthesize_luts_for_latch(en2_latch, &nl4, true, false),
                             "dlatchen's not supported in 4-input LUT mode");
  CDB_LUTMASK::max_num_inputs = 5;
  EXPECT_KAVU_INTERNAL_ERROR(kavu_synthesize_luts_for_latch(en2_latch, &nl4, true, false),
                             "CDB_LUTMASK::max_num_inputs == 6");
  CDB_LUTMASK::max_num_inputs = 6;
}

TEST(KavuLatchHelper, DataConeIsAbsorbedIntoTheLut) {
  CDB_SGATE_NETLIST golden, nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* latches[2];
  for (CDB_SGATE_NETLIST* n : {&golden, &nl}) {
    CDB_SGATE_NODE* latch = build_latch(n, {OPEN, LIVE, VCC, GND, GND});
    auto* x = make_input_pin(n, "x");
    auto* y = make_input_pin(n, "y");
    make_xor(n, make_and(n, x, y), x)->get_single_oterm()->insert_fanout(latch->get_input_term(CDB_LATCH_D));
    latches[n == &nl] = latch;
  }
  DEBUG_CAPTURE cap("KAVU");
  kavu_synthesize_luts_for_latch(latches[1], &nl, false, false);
  nl.delete_node(latches[1]);
  delete latches[1];
  nl.sweep(false);
  EXPECT_TRUE(cap.contains("Sucked data gates into Latch LUT"));
  EXPECT_EQ(count_kind(nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_soft_buffer(g); }), 0);
  std::string why;
  EXPECT_TRUE(same_behaviour(golden, nl, &why)) << why;
}

TEST(KavuLatchHelper, SillyLatchesBecomeGates) {
  // Feeding back (D = Q, EN from a pin) and stuck enable (EN at VCC).
  for (bool feedback : {true, false}) {
    CDB_SGATE_NETLIST golden, nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* latches[2];
    CDB_SGATE_NETLIST* nets[2] = {&golden, &nl};
    for (int k = 0; k < 2; ++k) {
      CDB_SGATE_NETLIST* n = nets[k];
      latches[k] = build_latch(n, {OPEN, feedback ? LIVE : VCC, OPEN, LIVE, LIVE});
      CDB_SGATE_NODE* data = feedback ? latches[k] : make_input_pin(n, "x");
      data->get_single_oterm()->insert_fanout(latches[k]->get_input_term(CDB_LATCH_D));
    }
    DEBUG_CAPTURE cap("KAVU");
    EXPECT_EQ(kavu_convert_silly_latches(&nl), 1);
    EXPECT_EQ(count_kind(nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_latch(g); }), 0);
    EXPECT_EQ(cap.contains("Converted 1 latches with feedback into logic"), feedback);
    std::string why;
    EXPECT_TRUE(same_behaviour(golden, nl, &why)) << feedback << ": " << why;
  }
  CDB_SGATE_NETLIST empty;
  EXPECT_EQ(kavu_convert_silly_latches(&empty), 0);
}

TEST(KavuLatchHelper, FeedbackLatchWithStuckEnableIsNotTurnedIntoALoop) {
  // With feedback conversion off, a latch whose data is its own output and
  // whose enable is stuck at 1 used to become gates reading their own output.
  CFG_SCOPE cfg{{"kavu_dont_convert_feedback_latches", "on"}};
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* latch = build_latch(&nl, {OPEN, VCC, OPEN, LIVE, GND});
  latch->get_single_oterm()->insert_fanout(latch->get_input_term(CDB_LATCH_D));
  kavu_convert_silly_latches(&nl);
  EXPECT_EQ(count_kind(nl, [](const CDB_SGATE_NODE* g) { return kavu_is_a_latch(g); }), 1);
  NETLIST_SIMULATOR sim(&nl);
  EXPECT_TRUE(sim.ok()) << sim.error();
  EXPECT_TRUE(kavu_latch_feeds_itself(latch));
  EXPECT_KAVU_INTERNAL_ERROR(kavu_latch_feeds_itself(make_input_pin(&nl, "p")), "kavu_is_a_latch(latch)");
}
