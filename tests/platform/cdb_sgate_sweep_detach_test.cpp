// What the dead-logic sweep leaves on the inputs of the gates it removes,
// for every kind of source they can have, and fan-out chains across the
// change from inline slots to a pool block.
#include <algorithm>
#include <vector>

#include "cdb/cdb_sgate_pool.h"
#include "testkit/platform_testkit.h"

namespace {

using namespace kavu_platform;

std::vector<CDB_SGATE_ITERM*> chain_of(const CDB_SGATE_OTERM* o) {
  std::vector<CDB_SGATE_ITERM*> v;
  for (CDB_SGATE_ITERM* t : o->fanouts()) v.push_back(t);
  return v;
}

bool listed(const CDB_SGATE_NETLIST& nl, const CDB_SGATE_NODE* g) {
  for (auto it = nl.begin_node_list(); it != nl.end_node_list(); ++it)
    if (*it == g) return true;
  return false;
}

// A dead gate reads a source of each kind, plain or inverted: after the
// sweep its input is unconnected with its inversion flag kept, it has left
// the source's chain (the other readers keep their order), a source in
// another netlist has that netlist marked changed, and this netlist is clean.
TEST(CdbSgateSweepDetach, DeadInputsLeaveEveryKindOfSource) {
  enum SOURCE { LIVE, DEAD, OTHER_NETLIST, TIED_VCC, TIED_GND };
  const struct {
    const char* name;
    SOURCE source;
  } cases[] = {{"live source", LIVE}, {"dead source", DEAD}, {"source in another netlist", OTHER_NETLIST},
               {"tied to vcc", TIED_VCC}, {"tied to gnd", TIED_GND}};
  for (const auto& c : cases) {
    for (bool inverted : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (inverted ? ", inverted" : ""));
      CDB_SGATE_NETLIST nl, other;
      CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
      CDB_SGATE_NODE* before = make_not(&nl, a);  // live readers around the dead one
      CDB_SGATE_NODE* dead_src = make_not(&nl, a);
      CDB_SGATE_NODE* foreign = make_input_pin(&other, "f");
      CDB_SGATE_NODE* dead = make_not(&nl, nullptr);
      CDB_SGATE_NODE* after = make_not(&nl, a);
      make_output_pin(&nl, "o1", before);
      make_output_pin(&nl, "o2", after);
      if (c.source != DEAD) make_output_pin(&nl, "o3", dead_src);
      CDB_SGATE_ITERM* t = dead->get_input_term(0);
      CDB_SGATE_OTERM* src = c.source == LIVE ? a->get_single_oterm()
                             : c.source == DEAD ? dead_src->get_single_oterm()
                             : c.source == OTHER_NETLIST ? foreign->get_single_oterm()
                                                         : nullptr;
      if (src) src->insert_fanout(t);
      else if (c.source == TIED_VCC) t->set_vcc();
      else t->set_gnd();
      if (inverted != t->is_inverted()) t->invert();
      if (c.source == LIVE) {  // put the dead reader between two live ones
        a->get_single_oterm()->insert_fanout(after->get_input_term(0));
      }
      other.sweep(false);
      ASSERT_FALSE(other.is_dirty());
      const std::vector<CDB_SGATE_ITERM*> chain = src ? chain_of(src) : std::vector<CDB_SGATE_ITERM*>{};

      EXPECT_EQ(nl.sweep(false), c.source == DEAD ? 2 : 1);
      EXPECT_FALSE(listed(nl, dead));
      EXPECT_EQ(listed(nl, dead_src), c.source != DEAD);
      EXPECT_FALSE(t->is_connected());
      EXPECT_EQ(t->get_source(), nullptr);
      EXPECT_EQ(t->is_inverted(), inverted);
      if (src) {
        std::vector<CDB_SGATE_ITERM*> expect = chain;
        expect.erase(std::find(expect.begin(), expect.end(), t));
        EXPECT_EQ(chain_of(src), expect);
        EXPECT_EQ(src->get_number_of_fanout(), expect.size());
      }
      EXPECT_FALSE(nl.is_dirty());
      EXPECT_EQ(other.is_dirty(), c.source == OTHER_NETLIST);
      std::string why;
      EXPECT_TRUE(nl.check(&why)) << why;
      EXPECT_TRUE(other.check(&why)) << why;
      EXPECT_EQ(nl.garbage_collect(true, false), c.source == DEAD ? 2 : 1);
      EXPECT_EQ(foreign->get_single_oterm()->get_number_of_fanout(), 0u);
    }
  }
}

// Chains of zero to six readers (inline up to two, then a block) with any one
// reader dropped and reconnected: the chain always equals a plain model, the
// fitter record of the output terminal is kept through the growth, and
// destroying the source leaves every reader unconnected with its own flag.
TEST(CdbSgateSweepDetach, ChainsAcrossInlineSlotsAndBlocks) {
  int fitter_record = 0;
  FTM_INFO* const record = reinterpret_cast<FTM_INFO*>(&fitter_record);
  for (int readers = 0; readers <= 6; ++readers) {
    for (int drop = 0; drop <= readers; ++drop) {  // drop == readers: none dropped
      SCOPED_TRACE(std::to_string(readers) + " readers, drop " + std::to_string(drop));
      CDB_SGATE_NETLIST nl;
      CDB_SGATE_NODE* s = make_input_pin(&nl, "s");
      CDB_SGATE_OTERM* o = s->get_single_oterm();
      EXPECT_EQ(o->get_ftm_info(), nullptr);
      o->set_ftm_info(record);
      std::vector<CDB_SGATE_ITERM*> model;
      for (int i = 0; i < readers; ++i) {
        model.push_back(make_not(&nl, s)->get_input_term(0));
        if (i % 2) model.back()->invert();
      }
      EXPECT_EQ(chain_of(o), model);
      if (drop < readers) {
        CDB_SGATE_ITERM* t = model[size_t(drop)];
        t->disconnect_from_source();
        model.erase(model.begin() + drop);
        EXPECT_EQ(chain_of(o), model);
        EXPECT_EQ(o->get_first_fanout(), model.empty() ? nullptr : model.front());
        EXPECT_EQ(o->get_last_fanout(), model.empty() ? nullptr : model.back());
        o->insert_fanout(t);
        model.push_back(t);
      }
      EXPECT_EQ(chain_of(o), model);
      std::vector<CDB_SGATE_ITERM*> by_links;
      for (CDB_SGATE_ITERM* t = o->get_first_fanout(); t; t = t->get_next_fanout()) by_links.push_back(t);
      EXPECT_EQ(by_links, model);
      EXPECT_EQ(o->get_ftm_info(), record);
      std::vector<bool> flags;
      for (CDB_SGATE_ITERM* t : model) flags.push_back(t->is_inverted());
      nl.delete_node(s);
      delete s;
      for (size_t i = 0; i < model.size(); ++i) {
        EXPECT_FALSE(model[i]->is_connected());
        EXPECT_EQ(model[i]->is_inverted(), flags[i]);
      }
    }
  }
}

// Gates the sweep laid in the graveyard, changed or not before the
// collection: collection destroys each one, its inputs leave whatever they
// were reconnected to, readers in another netlist are left unconnected with
// their own flags and that netlist is marked changed, side records go, and
// every cell made goes back to the pool.
TEST(CdbSgateSweepDetach, CollectionOfGraveyardGatesChangedOrNot) {
  enum CHANGE { NONE, INPUT_RECONNECTED, INPUT_RECORD, OUTPUT_RECORD, NAME, OUTSIDE_READER, BLOCK_OF_READERS, REGISTER };
  const struct {
    const char* name;
    CHANGE change;
  } cases[] = {{"left as swept", NONE},
               {"input reconnected after the sweep", INPUT_RECONNECTED},
               {"input with a side record", INPUT_RECORD},
               {"output with a side record", OUTPUT_RECORD},
               {"named gate", NAME},
               {"read from another netlist", OUTSIDE_READER},
               {"readers had a pool block", BLOCK_OF_READERS},
               {"register", REGISTER}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const int64_t balance = cdb_pool_thread_balance();
    {
      CDB_SGATE_NETLIST nl, other;
      CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
      CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
      CDB_SGATE_NODE* dead = c.change == REGISTER ? make_dff(&nl, a, b) : make_and(&nl, a, b);
      CDB_SGATE_NODE* last = dead;  // dead readers of the dead gate
      for (int i = 0; i < (c.change == BLOCK_OF_READERS ? 5 : 1); ++i) last = make_and(&nl, dead, last);
      CDB_SGATE_ITERM* outside = nullptr;
      if (c.change == OUTSIDE_READER) {
        CDB_SGATE_NODE* reader = make_not(&other, dead);
        reader->set_kff(false, true, false);
        outside = reader->get_input_term(0);
        outside->invert();
      }
      other.sweep(false);
      ASSERT_EQ(nl.sweep(false), c.change == BLOCK_OF_READERS ? 6 : 2);
      ASSERT_EQ(a->get_single_oterm()->get_number_of_fanout(), 0u);
      CDB_SGATE_ITERM* in = dead->get_input_term(0);
      switch (c.change) {
        case INPUT_RECONNECTED: a->get_single_oterm()->insert_fanout(in); break;
        case INPUT_RECORD: in->create_info()->set_value(7); break;
        case OUTPUT_RECORD: dead->get_single_oterm()->set_fanout_delay(3); break;
        case NAME: dead->set_string_name("kept_name"); break;
        default: break;
      }
      EXPECT_EQ(nl.garbage_collect(true, false), c.change == BLOCK_OF_READERS ? 6 : 2);
      EXPECT_EQ(nl.get_graveyard_size(), 0u);
      EXPECT_EQ(a->get_single_oterm()->get_number_of_fanout(), 0u);
      if (outside) {
        EXPECT_FALSE(outside->is_connected());
        EXPECT_EQ(outside->get_source(), nullptr);
        EXPECT_TRUE(outside->is_inverted());
        EXPECT_TRUE(other.is_dirty());
      }
      std::string why;
      EXPECT_TRUE(nl.check(&why)) << why;
      EXPECT_TRUE(other.check(&why)) << why;
    }
    EXPECT_EQ(cdb_pool_thread_balance(), balance);
  }
}

}  // namespace
