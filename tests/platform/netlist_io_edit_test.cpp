// Function-preserving edits on real circuits during an open walk keep check()
// clean and the simulation equal to an untouched copy.
#include <map>
#include <memory>
#include <random>

#include "netlist_io/simulator.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

void expect_clean(const CDB_SGATE_NETLIST* n, const char* step) {
  std::string report;
  ASSERT_TRUE(n->check(&report)) << step << ": " << report;
}

// Function-preserving edits on the gate under a walk; returns a short name
// of what it did.
const char* preserving_edit(CDB_SGATE_NETLIST* n, CDB_SGATE_NETLIST::iterator& it, std::mt19937& rng) {
  CDB_SGATE_NODE* g = *it;
  CDB_SGATE_OTERM* o = g->get_single_oterm();
  switch (rng() % 7) {
    case 0:  // invert a driver and every reader
      if (!o || !o->has_fanout() || g->is_pin()) return "skip";
      o->invert();
      for (CDB_SGATE_ITERM* t : o->fanouts()) t->invert();
      return "invert";
    case 1:  // push the inversion to the readers
      if (o && o->is_inverted()) o->move_invert_to_fanouts();
      return "move inversion";
    case 2: {  // a buffer between the gate and its readers (visited later by the walk)
      if (!o || !o->has_fanout() || g->is_pin()) return "skip";
      CDB_SGATE_BUFFER* buf = make_buffer(n, nullptr);
      buf->get_single_oterm()->adopt_fanouts(o, false);
      o->insert_fanout(buf->get_input_term(0));
      return "insert buffer";
    }
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
    case 5:  // invert a LUT input and compensate in the mask; folding undoes it
      if (CDB_SGATE_LUT* l = g->cast_to_lut()) {
        CDB_SGATE_ITERM* t = l->get_input_term(0);
        if (!t || !t->get_source() || t->is_inverted() || l->get_lut_mask().get_num_inputs() == 0) return "skip";
        CDB_LUTMASK m = l->get_lut_mask();
        m.invert_input(0);
        l->set_lut_mask(m);
        t->invert();
        EXPECT_TRUE(l->mls_sweep(true));
        return "fold lut input";
      }
      return "skip";
    default:
      if (CDB_SGATE_COMB* c = g->cast_to_comb())
        if (c->get_comb_type() == CDB_COMB_AND || c->get_comb_type() == CDB_COMB_OR) c->demorgan();
      return "demorgan";
  }
}

}  // namespace

// Function-preserving edits during a walk on a LUT circuit and on a comb-gate
// circuit: check() stays clean and simulation equals the untouched copy, also
// after sorting, sweep, compacting collection and a whole-netlist clone.
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
    EXPECT_GT(done["fold lut input"] + done["demorgan"], 10);
    expect_clean(n.get(), "after the walk");
    std::string why;
    SIM_COMPARE cmp;
    cmp.words = 8;
    ASSERT_TRUE(sim_equivalent(golden.get(), n.get(), cmp, &why)) << why;
    n->sort_by_dag_order();
    n->sweep(false);
    n->garbage_collect(true, false);
    expect_clean(n.get(), "after sort, sweep and collection");
    std::unique_ptr<CDB_SGATE_NETLIST> copy(n->clone(nullptr, true, true));
    n->clear_temp_pointers();
    KAVU_TRACK(*copy);
    ASSERT_TRUE(sim_equivalent(golden.get(), copy.get(), cmp, &why)) << why;
  }
}
