// An edit storm on loaded real circuits: edits made while a node-list walk
// is open keep check() clean, and the edits that preserve function leave the
// simulation equal to an untouched copy of the same circuit.
#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

// A gate that passes its input through (an AND of one input).
CDB_SGATE_COMB* buffer_after(CDB_SGATE_NETLIST* n, CDB_SGATE_OTERM* o) {
  auto* buf = new CDB_SGATE_COMB(nullptr, CDB_COMB_AND);
  n->add_node(buf);
  buf->get_single_oterm()->adopt_fanouts(o, false);
  buf->insert_unordered_fanin(o);
  return buf;
}

void expect_clean(const CDB_SGATE_NETLIST* n, const char* step) {
  std::string report;
  ASSERT_TRUE(n->check(&report)) << step << ": " << report;
}

// Function-preserving edits on the gate under a walk; returns a short name
// of what it did.
const char* preserving_edit(CDB_SGATE_NETLIST* n, CDB_SGATE_NETLIST::iterator& it, std::mt19937& rng) {
  CDB_SGATE_NODE* g = *it;
  CDB_SGATE_OTERM* o = g->get_single_oterm();
  switch (rng() % 6) {
    case 0:  // invert a driver and every reader
      if (!o || !o->has_fanout() || g->is_pin()) return "skip";
      o->invert();
      for (CDB_SGATE_ITERM* t : o->fanouts()) t->invert();
      return "invert";
    case 1:  // push the inversion to the readers
      if (o && o->is_inverted()) o->move_invert_to_fanouts();
      return "move inversion";
    case 2:  // a buffer between the gate and its readers (visited later by the walk)
      if (!o || !o->has_fanout() || g->is_pin()) return "skip";
      buffer_after(n, o);
      return "insert buffer";
    case 3:  // unlink the current gate, then link it again at the end
      n->delete_node(it);
      EXPECT_EQ(*it, nullptr) << "the walk's slot reads null after removal";
      n->add_node(g);
      return "unlink and re-add";
    case 4: {  // a copy of the gate takes every other reader
      if (!o || o->get_number_of_fanout() < 2 || g->is_pin()) return "skip";
      CDB_SGATE_NODE* copy = nullptr;
      g->clone_node(nullptr, &copy, 1);
      n->add_node(copy);
      std::vector<CDB_SGATE_ITERM*> readers;
      o->copy_fanouts(readers);
      for (size_t k = 0; k < readers.size(); k += 2) copy->get_single_oterm()->insert_fanout(readers[k]);
      if (o->is_inverted()) copy->get_single_oterm()->set_invert();
      return "split readers onto a clone";
    }
    default:
      if (CDB_SGATE_COMB* c = g->cast_to_comb())
        if (c->get_comb_type() == CDB_COMB_AND || c->get_comb_type() == CDB_COMB_OR) c->demorgan();
      return "demorgan";
  }
}

// Edits that change function: disconnects, ties, rewiring, destruction.
void destructive_edit(CDB_SGATE_NETLIST* n, CDB_SGATE_NETLIST::iterator& it, std::mt19937& rng,
                      std::vector<CDB_SGATE_OTERM*>& sources) {
  CDB_SGATE_NODE* g = *it;
  CDB_SGATE_ITERM* t = g->get_number_of_input_terms() ? g->get_input_term(unsigned(rng() % g->get_number_of_input_terms())) : nullptr;
  CDB_SGATE_OTERM* other = sources[rng() % sources.size()];
  switch (rng() % 7) {
    case 0:
      if (!t) break;
      t->disconnect_from_source(rng() % 2 ? CDB_SGATE_ITERM::CONNECT_STATE_RESET : CDB_SGATE_ITERM::CONNECT_STATE_UNCONNECTED);
      if (CDB_SGATE_LUT* lut = g->cast_to_lut()) {
        // A well-formed LUT never depends on an unconnected input (read as 1).
        unsigned pos = 0;
        while (g->get_input_term(pos) != t) ++pos;
        CDB_LUTMASK m = lut->get_lut_mask();
        if (pos < m.get_num_inputs()) m.make_independent_of_bar(pos);
        lut->set_lut_mask(m);
      }
      break;
    case 1: if (t) (rng() % 2 ? t->set_vcc() : t->set_gnd()); break;
    case 2: if (t) t->invert(); break;
    case 3: if (t) other->insert_fanout(t); break;
    case 4: if (g->get_single_oterm() && g->get_single_oterm() != other && !g->is_output()) g->get_single_oterm()->adopt_fanouts(other, rng() % 2); break;
    case 5: if (g->get_single_oterm()) g->get_single_oterm()->set_all_fanouts_constant(rng() % 2); break;
    default:
      if (!g->is_pin() && !g->get_single_oterm()->has_fanout()) {
        sources.erase(std::find(sources.begin(), sources.end(), g->get_single_oterm()));
        n->delete_node(it);
        delete g;
      }
  }
}

}  // namespace

// Function-preserving edits during a walk on a LUT circuit and on a comb-gate
// circuit: check() stays clean and simulation equals the untouched copy, also
// after sweep and compacting garbage collection.
TEST(NetlistIoEdit, PreservingStormKeepsFunction) {
  BLIF_READ_OPTIONS comb;
  comb.names = BLIF_READ_OPTIONS::ALL_COMB;
  for (auto [name, options] : {std::pair{"mcnc/s298", BLIF_READ_OPTIONS{}}, std::pair{"epfl/i2c", comb}}) {
    SCOPED_TRACE(name);
    LOADED_NETLIST golden = load_blif(name, options), n = load_blif(name, options);
    KAVU_TRACK(n);
    std::mt19937 rng(12345);
    std::map<std::string, int> done;
    int visits = 0;
    const int budget = int(n->size()) * 2;  // the walk also meets gates it appended
    for (auto it = n->begin_node_list(); it != n->end_node_list() && visits < budget; ++it) {
      if (!*it) continue;
      ++visits;
      ++done[preserving_edit(n.get(), it, rng)];
      if (visits % 97 == 0) expect_clean(n.get(), "during the walk");
    }
    EXPECT_GT(done["insert buffer"], 10);
    EXPECT_GT(done["unlink and re-add"], 10);
    EXPECT_GT(done["split readers onto a clone"], 5);
    expect_clean(n.get(), "after the walk");
    std::string why;
    SIM_COMPARE cmp;
    cmp.words = 8;
    ASSERT_TRUE(sim_equivalent(golden.get(), n.get(), cmp, &why)) << why;
    uint32_t before = n->size();
    n->sweep(false);
    n->garbage_collect(true, false);
    expect_clean(n.get(), "after sweep and collection");
    EXPECT_LE(n->size(), before);
    ASSERT_TRUE(sim_equivalent(golden.get(), n.get(), cmp, &why)) << why;
  }
}

// Disconnects, ties, inversions, rewiring, adopted fan-outs, constant
// fan-outs and destroyed gates during walks, then sweep and collection:
// every invariant holds after each step.
TEST(NetlistIoEdit, DestructiveStormKeepsInvariants) {
  LOADED_NETLIST n = load_blif("mcnc/tseng");
  KAVU_TRACK(n);
  std::mt19937 rng(777);
  std::vector<CDB_SGATE_OTERM*> sources;
  for (int round = 0; round < 3; ++round) {
    sources.clear();
    for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it)
      if (*it && !(*it)->is_output()) sources.push_back((*it)->get_single_oterm());
    int step = 0;
    for (auto it = n->begin_node_list(); it != n->end_node_list(); ++it) {
      if (!*it || rng() % 3) continue;
      destructive_edit(n.get(), it, rng, sources);
      if (++step % 50 == 0) expect_clean(n.get(), "storm step");
    }
    expect_clean(n.get(), "after the storm");
    n->sweep(false);
    expect_clean(n.get(), "after sweep");
    n->garbage_collect(true, false);
    expect_clean(n.get(), "after collection");
  }
  NETLIST_SIMULATOR sim(n.get());  // still a netlist the simulator can run
  EXPECT_TRUE(sim.ok()) << sim.error();
}
