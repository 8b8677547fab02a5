// Sub-netlist extraction and stitch-back: round trips on committed designs
// (structure and function unchanged), outputs tied by a simulated synthesis
// step, pins synthesis adds, the boundary edge cases, refused input and the
// tri-state chain repair.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_subnet.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

std::vector<CDB_SGATE_NODE*> nodes_of(const CDB_SGATE_NETLIST& nl) {
  std::vector<CDB_SGATE_NODE*> out;
  for (CDB_SGATE_NODE* n : nl.get_node_list())
    if (n) out.push_back(n);
  return out;
}

int oterm_index(const CDB_SGATE_OTERM* t) {
  const CDB_SGATE_NODE* n = t->get_my_node();
  for (unsigned i = 0; i < n->get_output_count(); ++i)
    if (n->get_output_term(i) == t) return int(i);
  return -1;
}

int iterm_index(const CDB_SGATE_ITERM* t) {
  const CDB_SGATE_NODE* n = t->get_my_node();
  for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i)
    if (n->get_input_term(i) == t) return int(i);
  return -1;
}

// Everything a caller relies on about a netlist, independent of node-list
// and fan-out chain order: per gate (by id) its kind, names, each input's
// state (unconnected, tie value, or source gate and output) with its
// inversion, each output's name and inversion; and the pins by id.
std::vector<std::string> signature(const CDB_SGATE_NETLIST& nl) {
  std::vector<std::string> lines;
  for (CDB_SGATE_NODE* n : nodes_of(nl)) {
    std::string s = std::to_string(n->get_id()) + " t" + std::to_string(n->get_sgate_type()) + " n" +
                    std::to_string(n->get_instance_name_id()) + " c" + std::to_string(n->is_changed()) + " |";
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      const CDB_SGATE_ITERM* t = n->get_input_term(i);
      if (!t) s += " -";
      else if (t->get_source())
        s += " " + std::to_string(t->get_source()->get_my_node()->get_id()) + "." +
             std::to_string(oterm_index(t->get_source())) + (t->is_inverted() ? "i" : "");
      else if (t->is_vcc_or_gnd()) s += t->is_vcc() ? " VCC" : " GND";
      else s += std::string(" U") + (t->is_inverted() ? "i" : "");
    }
    s += " |";
    for (unsigned o = 0; o < n->get_output_count(); ++o) {
      const CDB_SGATE_OTERM* t = n->get_output_term(o);
      s += t ? " " + std::to_string(t->get_instance_name_id()) + (t->is_inverted() ? "i" : "") : " -";
    }
    lines.push_back(s);
  }
  auto pins = [&](const char* tag, const std::vector<CDB_SGATE_IO*>& list) {
    std::vector<int> ids;
    for (CDB_SGATE_IO* p : list) ids.push_back(p->get_id());
    std::sort(ids.begin(), ids.end());
    std::string s = tag;
    for (int id : ids) s += " " + std::to_string(id);
    lines.push_back(s);
  };
  pins("~in", nl.get_input_pins());
  pins("~out", nl.get_output_pins());
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Every connection of the sub-netlist stays inside it.
bool self_contained(const CDB_SGATE_NETLIST& sub) {
  for (CDB_SGATE_NODE* n : nodes_of(sub)) {
    for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
      const CDB_SGATE_ITERM* t = n->get_input_term(i);
      if (t && t->get_source() && t->get_source()->get_my_node()->get_netlist() != &sub) return false;
    }
    for (unsigned o = 0; o < n->get_output_count(); ++o)
      if (const CDB_SGATE_OTERM* t = n->get_output_term(o))
        for (CDB_SGATE_ITERM* sink : t->fanouts())
          if (sink->get_my_node()->get_netlist() != &sub) return false;
  }
  return true;
}

// ---- choosers of new gates (by node-list position, so that two loads of
// one design choose the same gates)

typedef std::function<std::vector<size_t>(const std::vector<CDB_SGATE_NODE*>&)> CHOOSER;

// Gates whose id is in the upper part of the id range above `fraction`.
CHOOSER ids_above(double fraction) {
  return [fraction](const std::vector<CDB_SGATE_NODE*>& nodes) {
    std::vector<size_t> out;
    if (nodes.empty()) return out;
    unsigned lo = nodes[0]->get_id(), hi = lo;
    for (CDB_SGATE_NODE* n : nodes) lo = std::min(lo, unsigned(n->get_id())), hi = std::max(hi, unsigned(n->get_id()));
    const double threshold = lo + fraction * (hi - lo);
    for (size_t i = 0; i < nodes.size(); ++i)
      if (nodes[i]->get_id() > threshold || fraction < 0) out.push_back(i);
    return out;
  };
}

// The fan-in cone (up to `limit` gates, pins excluded) of the last output pin.
CHOOSER cone_of_last_output(size_t limit) {
  return [limit](const std::vector<CDB_SGATE_NODE*>& nodes) {
    std::vector<size_t> out;
    std::set<CDB_SGATE_NODE*> seen;
    std::vector<CDB_SGATE_NODE*> stack;
    for (auto it = nodes.rbegin(); it != nodes.rend(); ++it)
      if ((*it)->is_output()) {
        stack.push_back(*it);
        break;
      }
    while (!stack.empty() && seen.size() < limit) {
      CDB_SGATE_NODE* n = stack.back();
      stack.pop_back();
      for (unsigned i = 0; i < n->get_number_of_input_terms(); ++i) {
        CDB_SGATE_OTERM* s = n->get_fanin_term(i);
        if (s && !s->get_my_node()->is_pin() && seen.insert(s->get_my_node()).second) stack.push_back(s->get_my_node());
      }
    }
    for (size_t i = 0; i < nodes.size(); ++i)
      if (seen.count(nodes[i])) out.push_back(i);
    return out;
  };
}

std::vector<CDB_SGATE_NODE*> pick(const std::vector<CDB_SGATE_NODE*>& nodes, const std::vector<size_t>& idx) {
  std::vector<CDB_SGATE_NODE*> out;
  for (size_t i : idx) out.push_back(nodes[i]);
  return out;
}

struct ROUND_TRIP_CASE {
  const char* circuit;
  const char* chooser_name;
  CHOOSER chooser;
};

// ---------------------------------------------------------------- round trips

TEST(KavuSubnetRoundTrip, ExtractAndStitchBackChangesNothing) {
  const std::vector<ROUND_TRIP_CASE> cases = {
      {"seq/ch_intrinsics", "upper half", ids_above(0.5)},
      {"seq/stereovision3", "upper third", ids_above(0.66)},
      {"seq/stereovision3", "everything, pins included", ids_above(-1)},
      {"seq/diffeq1", "upper tenth", ids_above(0.9)},
      {"mcnc/s298", "cone", cone_of_last_output(150)},
      {"epfl/cavlc", "upper half", ids_above(0.5)},
      {"small/counter8_generic", "nothing", ids_above(2.0)},
  };
  CMP_FACADE facade;
  for (const ROUND_TRIP_CASE& c : cases) {
    SCOPED_TRACE(std::string(c.circuit) + ", " + c.chooser_name);
    auto golden = load_blif(c.circuit);
    auto nl = load_blif(c.circuit);
    KAVU_TRACK(nl);
    const std::vector<std::string> before = signature(*nl);
    const size_t gates_before = nl->size();
    std::vector<CDB_SGATE_NODE*> fresh = pick(nodes_of(*nl), c.chooser(nodes_of(*nl)));

    KAVU_SUBNET builder(nl.get(), &facade, nullptr, nullptr);
    builder.kavu_subnet_create(fresh);
    CDB_SGATE_NETLIST* sub = builder.get_subnetlist();
    ASSERT_TRUE(sub);
    EXPECT_TRUE(self_contained(*sub));
    EXPECT_TRUE(sub->check());
    EXPECT_EQ(nl->size(), gates_before - fresh.size());
    EXPECT_EQ(sub->size(), fresh.size() + builder.get_fanin_oterms().size() + builder.get_fanout_oterms().size());
    for (CDB_SGATE_OTERM* out : builder.get_fanout_oterms()) {
      CDB_SGATE_IO* pin = builder.get_output_pin_of(out);
      ASSERT_TRUE(pin);
      EXPECT_EQ(pin->get_input_term(0)->get_source(), out);
    }

    builder.kavu_subnet_stitch_back();
    EXPECT_EQ(builder.get_subnetlist(), nullptr);
    EXPECT_EQ(signature(*nl), before);
    ASSERT_KAVU_EQUIVALENT(*golden, *nl);
  }
}

// A synthesis step that rewires logic inside the sub-netlist: each output
// pin is driven through a new NOT gate with the pin's input inverted, so the
// outside sinks must get the pin input's inversion composed into theirs.
TEST(KavuSubnetRoundTrip, RewiredSubnetlistStitchesBackEquivalent) {
  for (const char* circuit : {"seq/ch_intrinsics", "mcnc/s298"}) {
    SCOPED_TRACE(circuit);
    CMP_FACADE facade;
    auto golden = load_blif(circuit);
    auto nl = load_blif(circuit);
    KAVU_TRACK(nl);
    std::vector<CDB_SGATE_NODE*> fresh = pick(nodes_of(*nl), ids_above(0.5)(nodes_of(*nl)));
    KAVU_SUBNET builder(nl.get(), &facade, nullptr, nullptr);
    builder.kavu_subnet_create(fresh);
    CDB_SGATE_NETLIST* sub = builder.get_subnetlist();
    int rewired = 0;
    for (CDB_SGATE_OTERM* out : builder.get_fanout_oterms()) {
      CDB_SGATE_ITERM* pin_in = builder.get_output_pin_of(out)->get_input_term(0);
      CDB_SGATE_NODE* inverter = make_not(sub, out->get_my_node());
      inverter->get_input_term(0)->set_source(out);
      inverter->get_output_term(0)->insert_fanout(pin_in);
      pin_in->set_invert();
      ++rewired;
    }
    ASSERT_GT(rewired, 0);
    builder.kavu_subnet_stitch_back();
    ASSERT_KAVU_EQUIVALENT(*golden, *nl);
    EXPECT_EQ(nl->get_output_pins().size(), golden->get_output_pins().size());
  }
}

// ---------------------------------------------------------------- constant outputs

struct TIE_CASE {
  const char* what;
  std::function<void(CDB_SGATE_ITERM*)> tie;
  bool value;  // what the outside sinks must see
};

// Synthesis ties output pins to constants; the outside sinks of each fan-out
// terminal become ties of the value the pin's tie delivers, with their own
// inversion kept. An inverted VCC is GND and an inverted GND is VCC.
TEST(KavuSubnetConstants, TiedOutputPinsGiveTheirSinksTheFoldedValue) {
  const std::vector<TIE_CASE> ties = {
      {"GND", [](CDB_SGATE_ITERM* t) { t->set_gnd(); }, false},
      {"inverted VCC", [](CDB_SGATE_ITERM* t) { t->set_vcc(); t->invert(); }, false},
      {"VCC", [](CDB_SGATE_ITERM* t) { t->set_vcc(); }, true},
      {"inverted GND", [](CDB_SGATE_ITERM* t) { t->set_gnd(); t->invert(); }, true},
  };
  for (const char* circuit : {"seq/stereovision3", "epfl/cavlc"}) {
    SCOPED_TRACE(circuit);
    CMP_FACADE facade;
    auto golden = load_blif(circuit);
    auto nl = load_blif(circuit);
    KAVU_TRACK(nl);
    const std::vector<CDB_SGATE_NODE*> nodes = nodes_of(*nl), golden_nodes = nodes_of(*golden);
    const std::vector<size_t> chosen = ids_above(0.5)(nodes);
    std::vector<CDB_SGATE_NODE*> fresh = pick(nodes, chosen);
    const std::set<size_t> chosen_set(chosen.begin(), chosen.end());
    KAVU_SUBNET builder(nl.get(), &facade, nullptr, nullptr);
    builder.kavu_subnet_create(fresh);
    const std::vector<CDB_SGATE_OTERM*> outs = builder.get_fanout_oterms();
    ASSERT_GE(outs.size(), ties.size());

    // Outside sinks of each tied terminal, and the golden design tied by hand.
    std::vector<std::vector<CDB_SGATE_ITERM*>> outside(ties.size());
    for (size_t k = 0; k < ties.size(); ++k) {
      const size_t node_pos = std::find(nodes.begin(), nodes.end(), outs[k]->get_my_node()) - nodes.begin();
      CDB_SGATE_OTERM* g = golden_nodes[node_pos]->get_output_term(oterm_index(outs[k]));
      std::vector<CDB_SGATE_ITERM*> sinks;
      g->copy_fanouts(sinks);
      for (CDB_SGATE_ITERM* s : sinks) {
        const size_t pos = std::find(golden_nodes.begin(), golden_nodes.end(), s->get_my_node()) - golden_nodes.begin();
        if (chosen_set.count(pos)) continue;
        // A tie delivers 1 unless inverted; the sink's own inversion applies.
        if (ties[k].value != s->is_inverted()) s->set_vcc();
        else s->set_gnd();
        outside[k].push_back(nodes[pos]->get_input_term(iterm_index(s)));
      }
      ASSERT_FALSE(outside[k].empty());
      ties[k].tie(builder.get_output_pin_of(outs[k])->get_input_term(0));
    }
    std::vector<bool> sink_inverted;
    for (auto& v : outside)
      for (CDB_SGATE_ITERM* s : v) sink_inverted.push_back(s->is_inverted());

    builder.kavu_subnet_stitch_back();
    size_t j = 0;
    for (size_t k = 0; k < ties.size(); ++k) {
      for (CDB_SGATE_ITERM* s : outside[k]) {
        SCOPED_TRACE(ties[k].what);
        EXPECT_TRUE(s->is_vcc_or_gnd());
        EXPECT_EQ(s->is_vcc(), ties[k].value != sink_inverted[j]);
        ++j;
      }
    }
    ASSERT_KAVU_EQUIVALENT(*golden, *nl);
  }
}

// ---------------------------------------------------------------- pins synthesis adds

TEST(KavuSubnetPins, PinsMadeBySynthesisAreReportedAndNeverBecomePorts) {
  CFG_SCOPE cfg{{"kavu_subnet_debug", "on"}};
  DEBUG_CAPTURE cap("KAVU");
  CMP_FACADE facade;
  auto golden = load_blif("seq/ch_intrinsics");
  auto nl = load_blif("seq/ch_intrinsics");
  KAVU_TRACK(nl);
  const std::vector<std::string> before = signature(*nl);
  std::vector<CDB_SGATE_NODE*> fresh = pick(nodes_of(*nl), ids_above(0.5)(nodes_of(*nl)));
  KAVU_SUBNET builder(nl.get(), &facade, nullptr, nullptr);
  builder.kavu_subnet_create(fresh);
  CDB_SGATE_NETLIST* sub = builder.get_subnetlist();
  // Synthesis adds an observation port on an internal gate and a spare input
  // pin that drives nothing.
  make_output_pin(sub, "spy", fresh.front());
  make_input_pin(sub, "spare");
  builder.kavu_subnet_stitch_back();

  EXPECT_EQ(signature(*nl), before);
  EXPECT_TRUE(cap.contains("stitch_back in subnet: found output pin"));
  EXPECT_TRUE(cap.contains("stitch_back in subnet: found input pin"));
  ASSERT_KAVU_EQUIVALENT(*golden, *nl);
}

// ---------------------------------------------------------------- boundary edge cases

struct SMALL_DESIGN {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *a, *b, *x, *y, *z, *o1, *o2;
  // a, b → x = a & a → y = !x ; z = x | b ; outputs y and z
  SMALL_DESIGN() {
    a = make_input_pin(&nl, "a");
    b = make_input_pin(&nl, "b");
    x = make_and(&nl, a, a);
    y = make_not(&nl, x);
    z = make_or(&nl, x, b);
    o1 = make_output_pin(&nl, "y", y);
    o2 = make_output_pin(&nl, "z", z);
  }
};

TEST(KavuSubnetBoundary, EdgeCasesOfTheBoundary) {
  CMP_FACADE facade;
  {  // no new gates: an empty sub-netlist, and nothing moves back
    SMALL_DESIGN d;
    KAVU_TRACK(d.nl);
    const std::vector<std::string> before = signature(d.nl);
    std::vector<CDB_SGATE_NODE*> none;
    KAVU_SUBNET builder(&d.nl, &facade, nullptr, nullptr);
    builder.kavu_subnet_create(none);
    EXPECT_EQ(builder.get_subnetlist()->size(), 0u);
    EXPECT_TRUE(builder.get_subnetlist()->get_input_pins().empty());
    EXPECT_TRUE(builder.get_subnetlist()->get_output_pins().empty());
    builder.kavu_subnet_stitch_back();
    EXPECT_EQ(signature(d.nl), before);
  }
  {  // one outside terminal feeding an internal gate twice: one input pin;
     // a terminal feeding inside and outside: an output pin, the internal
     // sink staying on it
    SMALL_DESIGN d;
    KAVU_TRACK(d.nl);
    std::vector<CDB_SGATE_NODE*> fresh = {d.x, d.y};
    KAVU_SUBNET builder(&d.nl, &facade, nullptr, nullptr);
    builder.kavu_subnet_create(fresh);
    CDB_SGATE_NETLIST* sub = builder.get_subnetlist();
    ASSERT_EQ(sub->get_input_pins().size(), 1u);
    CDB_SGATE_OTERM* pin_out = sub->get_input_pins()[0]->get_output_term(0);
    EXPECT_EQ(d.x->get_fanin_term(0), pin_out);
    EXPECT_EQ(d.x->get_fanin_term(1), pin_out);
    EXPECT_EQ(builder.get_fanin_oterms(), std::vector<CDB_SGATE_OTERM*>{d.a->get_output_term(0)});
    // x feeds y (inside) and z (outside); y feeds the output pin y (outside).
    EXPECT_EQ(builder.get_fanout_oterms(),
              (std::vector<CDB_SGATE_OTERM*>{d.x->get_output_term(0), d.y->get_output_term(0)}));
    EXPECT_EQ(sub->get_output_pins().size(), 2u);
    EXPECT_EQ(d.y->get_fanin_term(0), d.x->get_output_term(0));
    EXPECT_NE(d.z->get_fanin_term(0), d.x->get_output_term(0));
    EXPECT_EQ(d.z->get_fanin_term(0)->get_my_node()->get_netlist(), nullptr);  // parked on a temporary pin
    builder.kavu_subnet_stitch_back();
    EXPECT_EQ(d.z->get_fanin_term(0), d.x->get_output_term(0));
    EXPECT_EQ(d.x->get_fanin_term(1), d.a->get_output_term(0));
  }
}

// The walk over a fan-out chain must not skip sinks it rewires: sinks that
// alternate between inside and outside all end on the right terminal.
TEST(KavuSubnetBoundary, InterleavedSinksAreAllRewired) {
  CMP_FACADE facade;
  CDB_SGATE_NETLIST nl;
  KAVU_TRACK(nl);
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* src = make_not(&nl, a);
  std::vector<CDB_SGATE_NODE*> inside, outside;
  for (int i = 0; i < 6; ++i) {
    CDB_SGATE_NODE* g = make_not(&nl, src);
    if (i % 3 == 1) g->get_input_term(0)->set_invert();
    (i % 2 ? outside : inside).push_back(g);
    make_output_pin(&nl, ("o" + std::to_string(i)).c_str(), g);
  }
  // Case 1: the sinks are new, the source is outside (fan-in walk).
  {
    std::vector<CDB_SGATE_NODE*> fresh = inside;
    KAVU_SUBNET builder(&nl, &facade, nullptr, nullptr);
    builder.kavu_subnet_create(fresh);
    CDB_SGATE_OTERM* pin_out = builder.get_input_pin_of(src->get_output_term(0))->get_output_term(0);
    for (CDB_SGATE_NODE* g : inside) EXPECT_EQ(g->get_fanin_term(0), pin_out);
    for (CDB_SGATE_NODE* g : outside) EXPECT_EQ(g->get_fanin_term(0), src->get_output_term(0));
    EXPECT_TRUE(inside[2]->get_input_term(0)->is_inverted());  // the pin's sink keeps its inversion
    builder.kavu_subnet_stitch_back();
  }
  // Case 2: the source is new, half its sinks are outside (fan-out walk).
  {
    std::vector<CDB_SGATE_NODE*> fresh = {src};
    fresh.insert(fresh.end(), inside.begin(), inside.end());
    KAVU_SUBNET builder(&nl, &facade, nullptr, nullptr);
    builder.kavu_subnet_create(fresh);
    for (CDB_SGATE_NODE* g : inside) EXPECT_EQ(g->get_fanin_term(0), src->get_output_term(0));
    for (CDB_SGATE_NODE* g : outside) EXPECT_EQ(g->get_fanin_term(0)->get_my_node()->get_netlist(), nullptr);
    builder.kavu_subnet_stitch_back();
  }
  for (CDB_SGATE_NODE* g : inside) EXPECT_EQ(g->get_fanin_term(0), src->get_output_term(0));
  for (CDB_SGATE_NODE* g : outside) EXPECT_EQ(g->get_fanin_term(0), src->get_output_term(0));
  // Gates 1 and 4 had their inputs inverted, the others not.
  EXPECT_TRUE(outside[0]->get_input_term(0)->is_inverted());
  EXPECT_TRUE(inside[2]->get_input_term(0)->is_inverted());
  EXPECT_FALSE(outside[1]->get_input_term(0)->is_inverted());
  EXPECT_FALSE(inside[0]->get_input_term(0)->is_inverted());
}

// ---------------------------------------------------------------- names, records, lifecycle

// Node-information callbacks: the gates that hold information.
std::set<CDB_SGATE_NODE*> g_with_info;
int g_resets = 0;
void set_info(CDB_SGATE_NODE* n) { g_with_info.insert(n); }
void reset_info(CDB_SGATE_NODE* n) {
  ++g_resets;
  g_with_info.erase(n);
}

TEST(KavuSubnetLifecycle, PinNamesNodeInformationAndClearWithoutStitchBack) {
  CMP_FACADE facade;
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* block = HDB_INSTANCE_NAME::create_normal_name(nullptr, "blk", nullptr, nullptr, top);
  g_with_info.clear();
  g_resets = 0;
  SMALL_DESIGN d;
  KAVU_TRACK(d.nl);
  d.y->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(nullptr, "inv", nullptr, nullptr, block));
  {
    std::vector<CDB_SGATE_NODE*> fresh = {d.x, d.y};
    KAVU_SUBNET builder(&d.nl, &facade, set_info, reset_info);
    builder.kavu_subnet_create(fresh);
    CDB_SGATE_NETLIST* sub = builder.get_subnetlist();
    // Every gate of the sub-netlist, and only those, holds information.
    const std::vector<CDB_SGATE_NODE*> linked = nodes_of(*sub);
    EXPECT_EQ(g_with_info, std::set<CDB_SGATE_NODE*>(linked.begin(), linked.end()));
    EXPECT_EQ(g_with_info.size(), 5u);  // x, y, one input pin, two output pins
    // Input pins first, then per fan-out terminal its output pin and its
    // temporary pin: a → 0; x → 1 (2 temporary); y → 3 (4 temporary).
    EXPECT_EQ(sub->get_input_pins()[0]->get_string_hpath(), "top|blk|_subnet_pin_0");
    EXPECT_EQ(sub->get_output_pins()[0]->get_string_hpath(), "top|blk|_subnet_pin_1");
    EXPECT_EQ(sub->get_output_pins()[1]->get_string_hpath(), "top|blk|_subnet_pin_3");
    EXPECT_EQ(sub->get_output_pins()[1]->get_output_term(0)->get_instance_name(),
              sub->get_output_pins()[1]->get_instance_name());
    EXPECT_EQ(block->find_in_children("_subnet_pin_4", 1)->get_source_component()->get_primitive_type(), 88);
    builder.kavu_subnet_stitch_back();
    EXPECT_TRUE(g_with_info.empty());
    EXPECT_EQ(g_resets, 5);
  }
  {  // names are reused; a builder cleared before stitch-back destroys the
     // sub-netlist and leaves the full netlist consistent
    std::vector<CDB_SGATE_NODE*> fresh = {d.y};
    KAVU_SUBNET builder(&d.nl, &facade, set_info, reset_info);
    builder.kavu_subnet_create(fresh);
    EXPECT_EQ(builder.get_subnetlist()->get_input_pins()[0]->get_instance_name(),
              block->find_in_children("_subnet_pin_0", 1));
    builder.kavu_subnet_clear();
    EXPECT_EQ(builder.get_subnetlist(), nullptr);
    EXPECT_TRUE(g_with_info.empty());  // reset before the gates were destroyed
    EXPECT_FALSE(d.o1->get_input_term(0)->is_connected());  // its driver went with the sub-netlist
    EXPECT_EQ(d.nl.size(), 6u);
  }
}

TEST(KavuSubnetLifecycle, RefusedInput) {
  CMP_FACADE facade;
  SMALL_DESIGN d;
  CDB_SGATE_NETLIST other;
  CDB_SGATE_NODE* stranger = make_input_pin(&other, "s");
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_SUBNET(nullptr, &facade, nullptr, nullptr), "full_netlist");
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_SUBNET(&d.nl, nullptr, nullptr, nullptr), "facade");
  struct BAD {
    const char* what;
    std::vector<CDB_SGATE_NODE*> nodes;
    const char* words;
  };
  const std::vector<BAD> bad = {
      {"gate of another netlist", {d.x, stranger}, "get_netlist"},
      {"null gate", {nullptr}, "node"},
      {"gate twice", {d.x, d.y, d.x}, "each_gate_once"},
  };
  const std::vector<std::string> before = signature(d.nl);
  for (const BAD& c : bad) {
    SCOPED_TRACE(c.what);
    std::vector<CDB_SGATE_NODE*> nodes = c.nodes;
    KAVU_SUBNET builder(&d.nl, &facade, nullptr, nullptr);
    EXPECT_KAVU_INTERNAL_ERROR(builder.kavu_subnet_create(nodes), c.words);
    EXPECT_EQ(signature(d.nl), before);  // refused before any edit
  }
  KAVU_SUBNET builder(&d.nl, &facade, nullptr, nullptr);
  EXPECT_KAVU_INTERNAL_ERROR(builder.kavu_subnet_stitch_back(), "m_subnetlist");
  std::vector<CDB_SGATE_NODE*> fresh = {d.y};
  builder.kavu_subnet_create(fresh);
  EXPECT_KAVU_INTERNAL_ERROR(builder.kavu_subnet_create(fresh), "m_subnetlist");
  builder.kavu_subnet_stitch_back();
  EXPECT_EQ(signature(d.nl), before);
}

// ---------------------------------------------------------------- tri-state chains

CDB_SGATE_IO_BUF* make_io_buf(CDB_SGATE_NETLIST* nl, CDB_SGATE_OTERM* data, CDB_IO_BUF_TYPE kind, bool oe_vcc) {
  auto* b = new CDB_SGATE_IO_BUF(nullptr, kind);
  nl->add_node(b, true);
  CDB_SGATE_ITERM* d = b->create_input_term(nullptr);
  b->set_input_term(d, 0);
  if (data) data->insert_fanout(d);
  CDB_SGATE_ITERM* oe = b->create_input_term(nullptr);
  b->set_input_term(oe, 1);
  if (oe_vcc) oe->set_vcc();
  else oe->set_gnd();
  return b;
}

struct TRISTATE_CASE {
  const char* what;
  CDB_IO_BUF_TYPE driver_kind, buffer_kind;
  bool oe_vcc;
  bool into_bus;
  int removed;
};

TEST(KavuSubnetTristate, RedundantBufferBetweenTwoTristateBuffersAndABusIsRemoved) {
  const std::vector<TRISTATE_CASE> cases = {
      {"chain", CDB_IO_BUF_TRI, CDB_IO_BUF_TRI, true, true, 1},
      {"enable not VCC", CDB_IO_BUF_TRI, CDB_IO_BUF_TRI, false, true, 0},
      {"open-drain driver", CDB_IO_BUF_OPEN_DRAIN, CDB_IO_BUF_TRI, true, true, 0},
      {"open-drain buffer", CDB_IO_BUF_TRI, CDB_IO_BUF_OPEN_DRAIN, true, true, 0},
      {"no bus", CDB_IO_BUF_TRI, CDB_IO_BUF_TRI, true, false, 0},
  };
  for (const TRISTATE_CASE& c : cases) {
    SCOPED_TRACE(c.what);
    CDB_SGATE_NETLIST nl;
    KAVU_TRACK(nl);
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_IO_BUF* drv = make_io_buf(&nl, a->get_output_term(0), c.driver_kind, true);
    CDB_SGATE_NODE* other_sink = make_output_pin(&nl, "side", drv);
    CDB_SGATE_IO_BUF* buf = make_io_buf(&nl, drv->get_output_term(0), c.buffer_kind, c.oe_vcc);
    CDB_SGATE_NODE* reader = nullptr;
    if (c.into_bus) {
      auto* bus = new CDB_SGATE_TRI_BUS(nullptr);
      nl.add_node(bus, true);
      bus->insert_unordered_fanin(buf->get_output_term(0));
      reader = make_output_pin(&nl, "bus", bus);
    } else {
      reader = make_output_pin(&nl, "bus", buf);
    }
    const uint32_t size = nl.size();
    EXPECT_EQ(kavu_subnet_repair_tristate_chains(&nl), c.removed);
    EXPECT_EQ(nl.size(), size - c.removed);
    if (c.removed) {
      CDB_SGATE_NODE* bus = reader->get_fanin_term(0)->get_my_node();
      EXPECT_EQ(bus->get_fanin_term(0), drv->get_output_term(0));  // the driver feeds the bus directly
      EXPECT_EQ(other_sink->get_fanin_term(0), bus->get_output_term(0));  // its other sinks read the bus
    } else {
      EXPECT_EQ(buf->get_fanin_term(0), drv->get_output_term(0));
    }
  }
}

}  // namespace
