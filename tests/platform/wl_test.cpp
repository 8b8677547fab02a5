// The word-level netlist: connections and constants, clean-up of merger and
// splitter chains against the evaluator, sweep keepers.
#include <gtest/gtest.h>

#include <random>

#include "testkit/platform_testkit.h"
#include "wl/wl.h"

using namespace kavu_platform;

namespace {

// Output words of every output pin bit over `rounds` random input words.
std::vector<uint64_t> run(const WL_NETLIST* wl, int rounds) {
  std::vector<uint64_t> seen;
  std::string why;
  bool ok = wl_simulate(
      wl, rounds,
      [](const WL_NODE* pin, unsigned bit, int cycle) {
        std::mt19937_64 r(pin->get_id() * 1000003ull + bit * 7919ull + unsigned(cycle));
        return r();
      },
      [&](const WL_NODE*, unsigned, int, uint64_t w) { seen.push_back(w); }, &why);
  EXPECT_TRUE(ok) << why;
  return seen;
}

bool is_wiring(const WL_NODE* n) {
  return n->get_node_type() == WL_NODE_TYPE::MERGER || n->get_node_type() == WL_NODE_TYPE::SPLITTER;
}

// A random netlist of merger and splitter chains over input pins, with
// table inversions, input inversions and constant inputs, read by XOR gates
// and output pins.
WL_NETLIST* random_chains(unsigned seed) {
  std::mt19937 rng(seed);
  WL_NETLIST* wl = wl_create_netlist("chains");
  std::vector<WL_OTERM*> pool;
  for (int i = 0; i < 3; ++i) {
    WL_PIN* p = new WL_PIN(0, 1 + rng() % 6, nullptr);
    wl->add_node(p);
    pool.push_back(p->get_first_oterm());
  }
  for (int step = 0; step < 40; ++step) {
    if (rng() % 3 == 0) {
      WL_OTERM* src = pool[rng() % pool.size()];
      WL_SPLITTER* s = new WL_SPLITTER(src->width(), false);
      wl->add_node(s);
      s->get_iterm(0)->connect(src, rng() % 2);
      for (int k = 0; k < 2; ++k) {
        unsigned lo = rng() % src->width();
        unsigned w = 1 + rng() % (src->width() - lo);
        pool.push_back(s->add_slice(lo, w));
      }
    } else {
      const unsigned w = 1 + rng() % 7, n_in = 1 + rng() % 3;
      WL_MERGER* m = new WL_MERGER(w, n_in);
      wl->add_node(m);
      for (unsigned k = 0; k < n_in; ++k) {
        WL_ITERM* in = m->get_iterm(k);
        if (rng() % 5 == 0) {
          in->set_width(1 + rng() % 3);
          if (rng() % 2)
            in->set_gnd();
          else
            in->set_const(WL_CONST(rng()));
        } else {
          WL_OTERM* src = pool[rng() % pool.size()];
          in->set_width(src->width());
          in->connect(src, rng() % 2);
        }
      }
      for (unsigned b = 0; b < w; ++b) {
        unsigned k = rng() % n_in;
        unsigned width = std::max(1u, m->get_iterm(k)->width());
        m->register_entry(k, rng() % width, rng() % 2, b);
      }
      pool.push_back(m->get_first_oterm());
    }
  }
  // Readers: XOR of two pool terminals of equal width, or a pin directly.
  for (size_t i = pool.size() / 2; i < pool.size(); ++i) {
    WL_OTERM* a = pool[i];
    WL_PIN* out = new WL_PIN(1, a->width(), nullptr);
    wl->add_node(out);
    if (i % 2) {
      WL_COMB* x = new WL_COMB(CDB_COMB_XOR, a->width());
      wl->add_node(x);
      x->create_new_iterm()->connect(a, false);
      x->create_new_iterm()->connect(pool[i / 3]->width() == a->width() ? pool[i / 3] : a, true);
      out->get_iterm(0)->connect(x->get_first_oterm(), false);
    } else {
      out->get_iterm(0)->connect(a, (i % 4) == 0);
    }
  }
  return wl;
}

}  // namespace

TEST(WlTerminals, ConstantsFoldInversionsAndConnectReplaces) {
  std::unique_ptr<WL_NETLIST> wl(wl_create_netlist("t"));
  WL_PIN* a = new WL_PIN(0, 4, nullptr);
  WL_PIN* b = new WL_PIN(0, 4, nullptr);
  WL_COMB* g = new WL_COMB(CDB_COMB_AND, 4);
  wl->add_node(a);
  wl->add_node(b);
  wl->add_node(g);
  WL_ITERM* t = g->create_new_iterm();
  // GND is an inverted VCC: the value folds, no inversion flag remains.
  t->set_gnd();
  EXPECT_TRUE(t->is_const() && t->is_gnd() && !t->is_inverted());
  t->invert();
  EXPECT_TRUE(t->is_vcc() && !t->is_inverted() && t->const_bit_value());
  t->set_const(WL_CONST(5));
  t->invert();
  EXPECT_EQ(t->get_const(), WL_CONST(10));
  // connect replaces the constant and then an earlier source.
  t->connect(a->get_first_oterm(), true);
  EXPECT_FALSE(t->is_const());
  EXPECT_TRUE(t->is_inverted());
  t->connect(b->get_first_oterm(), false);
  EXPECT_TRUE(a->get_first_oterm()->get_fanouts().empty());
  ASSERT_EQ(b->get_first_oterm()->get_fanouts().size(), 1u);
  EXPECT_FALSE(t->is_inverted());
  // Table inversions need the switch.
  WL_MERGER* m = new WL_MERGER(1, 1);
  wl->add_node(m);
  EXPECT_KAVU_INTERNAL_ERROR(m->register_entry(0, 0, true, 0), "inv");
  WL_MERGER::allow_table_inversions();
  m->register_entry(0, 0, true, 0);
  EXPECT_TRUE(m->get_table_entry(0).invert);
}

// Clean-up flattens chains and keeps every output's function.
TEST(WlCleanUp, RandomChainsSimulateTheSameAfterCleanUp) {
  WL_MERGER::allow_table_inversions();
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::unique_ptr<WL_NETLIST> wl(random_chains(seed));
    const std::vector<uint64_t> before = run(wl.get(), 3);
    wutil_clean_up_mergers_and_splitters(wl.get());
    EXPECT_EQ(run(wl.get(), 3), before);
    for (auto it = wl->begin_node_list(); it != wl->end_node_list(); ++it) {
      const WL_NODE* n = *it;
      if (!is_wiring(n)) continue;
      for (unsigned i = 0; i < n->get_input_count(); ++i) {
        const WL_OTERM* s = n->get_iterm(i)->get_source();
        EXPECT_FALSE(s && is_wiring(s->get_my_node())) << "wiring node " << n->get_id() << " reads wiring";
      }
      EXPECT_TRUE(n->has_fanout());
    }
  }
}

TEST(WlSweep, KeepsPinsAndPreservedRegistersAndDropsDeadLogic) {
  std::unique_ptr<WL_NETLIST> wl(wl_create_netlist("s"));
  WL_PIN* in = new WL_PIN(0, 2, nullptr);
  WL_PIN* unused_out = new WL_PIN(1, 2, nullptr);  // an output pin with no driver
  WL_COMB* dead = new WL_COMB(CDB_COMB_NOT, 2);
  WL_DFF* kept = new WL_DFF(2);
  WL_DFF* loop = new WL_DFF(2);
  WL_COMB* loop_gate = new WL_COMB(CDB_COMB_XOR, 2);
  for (WL_NODE* n : std::initializer_list<WL_NODE*>{in, unused_out, dead, kept, loop, loop_gate}) wl->add_node(n);
  dead->create_new_iterm()->connect(in->get_first_oterm(), false);
  kept->set_preserve(true);
  kept->get_iterm(CDB_DFF_DATA)->connect(in->get_first_oterm(), false);
  // loop -> xor -> loop: alive for sweep (fan-out), dead for reachability.
  loop->get_iterm(CDB_DFF_DATA)->connect(loop_gate->get_first_oterm(), false);
  loop_gate->create_new_iterm()->connect(loop->get_first_oterm(), false);
  loop_gate->create_new_iterm()->connect(in->get_first_oterm(), false);
  EXPECT_EQ(wl->sweep(false), 1);  // the NOT
  EXPECT_EQ(wl->size(), 5u);
  EXPECT_EQ(wl_remove_unreachable_nodes(wl.get()), 2);  // the dead loop
  std::vector<WL_NODE*> left(wl->begin_node_list(), wl->end_node_list());
  EXPECT_EQ(left, (std::vector<WL_NODE*>{in, unused_out, kept}));
  EXPECT_EQ(in->get_first_oterm()->get_fanouts().size(), 1u);
  EXPECT_KAVU_INTERNAL_ERROR(wl->sweep(true), "aggressive");
}

// Moving readers to another source keeps each reader's own inversion, or
// flips every one of them when asked.
TEST(WlTerminals, MovingFanoutsKeepsOrFlipsEachReadersInversion) {
  std::unique_ptr<WL_NETLIST> wl(wl_create_netlist("m"));
  WL_PIN* a = new WL_PIN(0, 1, nullptr);
  WL_PIN* b = new WL_PIN(0, 1, nullptr);
  wl->add_node(a);
  wl->add_node(b);
  const bool inverted[3] = {false, true, false};
  std::vector<WL_ITERM*> readers;
  for (bool inv : inverted) {
    WL_PIN* o = new WL_PIN(1, 1, nullptr);
    wl->add_node(o);
    o->get_iterm(0)->connect(a->get_first_oterm(), inv);
    readers.push_back(o->get_iterm(0));
  }
  a->get_first_oterm()->move_fanouts_to(b->get_first_oterm(), false);
  EXPECT_FALSE(a->get_first_oterm()->has_fanout());
  EXPECT_EQ(b->get_first_oterm()->get_fanouts().size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(readers[i]->get_source(), b->get_first_oterm());
    EXPECT_EQ(readers[i]->is_inverted(), inverted[i]) << i;
  }
  b->get_first_oterm()->move_fanouts_to(a->get_first_oterm(), true);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(readers[i]->get_source(), a->get_first_oterm());
    EXPECT_EQ(readers[i]->is_inverted(), !inverted[i]) << i;
  }
}

// A merger reading every bit of one source through a splitter becomes that
// source only when all bits share one inversion; otherwise it stays a merger
// over the source, and the output keeps its function.
TEST(WlCleanUp, OneSourcesBitsWithMixedInversionsStayAMerger) {
  for (unsigned inversions = 0; inversions < 4; ++inversions) {
    const bool inv0 = inversions & 1, inv1 = inversions & 2;
    SCOPED_TRACE(inversions);
    std::unique_ptr<WL_NETLIST> wl(wl_create_netlist("mix"));
    WL_PIN* s = new WL_PIN(0, 2, nullptr);
    WL_SPLITTER* split = new WL_SPLITTER(2, true);
    WL_MERGER* m = new WL_MERGER(2, 2);
    WL_PIN* o = new WL_PIN(1, 2, nullptr);
    for (WL_NODE* n : std::initializer_list<WL_NODE*>{s, split, m, o}) wl->add_node(n);
    split->get_iterm(0)->connect(s->get_first_oterm(), false);
    m->get_iterm(0)->connect(split->get_oterm(0), inv0);
    m->get_iterm(1)->connect(split->get_oterm(1), inv1);
    m->register_entry(0, 0, false, 0);
    m->register_entry(1, 0, false, 1);
    o->get_iterm(0)->connect(m->get_first_oterm(), false);
    const std::vector<uint64_t> before = run(wl.get(), 2);
    wutil_clean_up_mergers_and_splitters(wl.get());
    EXPECT_EQ(run(wl.get(), 2), before);
    const WL_OTERM* read = o->get_iterm(0)->get_source();
    ASSERT_NE(read, nullptr);
    if (inv0 == inv1) {
      EXPECT_EQ(read, s->get_first_oterm());
      EXPECT_EQ(o->get_iterm(0)->is_inverted(), inv0);
    } else {
      EXPECT_EQ(read->get_my_node()->get_node_type(), WL_NODE_TYPE::MERGER);
      EXPECT_EQ(read->get_my_node()->get_iterm(0)->get_source(), s->get_first_oterm());
    }
  }
}

// A register's data and asynchronous-load data have its width, every
// control one bit; held in asynchronous load, every bit of q follows adata.
TEST(WlRegisters, AsyncLoadDataHasTheRegistersWidth) {
  for (unsigned width : {1u, 4u}) {
    std::unique_ptr<WL_NETLIST> wl(wl_create_netlist("r"));
    WL_DFF* r = new WL_DFF(width);
    wl->add_node(r);
    for (unsigned i = 0; i < CDB_DFF_NUM_PORTS; ++i)
      EXPECT_EQ(r->get_iterm(i)->width(), i == CDB_DFF_DATA || i == CDB_DFF_ADATA ? width : 1u) << width << " " << i;
    WL_PIN* adata = new WL_PIN(0, width, nullptr);
    WL_PIN* q = new WL_PIN(1, width, nullptr);
    wl->add_node(adata);
    wl->add_node(q);
    r->get_iterm(CDB_DFF_ADATA)->connect(adata->get_first_oterm(), false);
    r->get_iterm(CDB_DFF_ALOAD)->set_vcc();
    q->get_iterm(0)->connect(r->get_first_oterm(), false);
    WL_SIMULATOR sim(wl.get());
    ASSERT_TRUE(sim.ok()) << sim.error();
    auto word = [](unsigned bit) { return 0x9e3779b97f4a7c15ull * (bit + 1); };
    for (unsigned b = 0; b < width; ++b) sim.set_input(adata, b, word(b));
    sim.eval();
    for (unsigned b = 0; b < width; ++b) EXPECT_EQ(sim.output(q, b), word(b)) << width << " " << b;
  }
}
