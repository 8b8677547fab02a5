// Tests of two-input gate creation with its cache and of the multiplexer
// update, checked by simulation.

#include "kavu_helper.h"
#include "kavu_utility_comb2.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

TEST(KavuUtilityComb2, GatesAreSharedPerOrderedInputPair) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_OTERM* a = make_input_pin(&nl, "a")->get_output_term(0);
  CDB_SGATE_OTERM* b = make_input_pin(&nl, "b")->get_output_term(0);
  CDB_SGATE_NODE* from = make_and(&nl, nullptr, nullptr);
  std::unordered_map<std::string, CDB_SGATE_OTERM*> cache;
  struct ROW {
    CDB_SGATE_OTERM *x, *y;
    bool ix, iy;
    CDB_COMB_TYPE kind;
    int same_as;  // earlier row whose gate this one returns, -1 for a new one
  } const rows[] = {{a, b, false, false, CDB_COMB_AND, -1}, {a, b, false, false, CDB_COMB_AND, 0},
                    {b, a, false, false, CDB_COMB_AND, -1}, {a, b, true, false, CDB_COMB_AND, -1},
                    {a, b, false, true, CDB_COMB_AND, -1},  {a, b, false, false, CDB_COMB_XOR, -1},
                    {a, b, true, false, CDB_COMB_AND, 3},   {a, nullptr, false, true, CDB_COMB_OR, -1}};
  std::vector<CDB_SGATE_OTERM*> made;
  for (const ROW& r : rows) {
    const unsigned before = kavu_node_container_size(&nl);
    CDB_SGATE_OTERM* t = kavu_create_comb2(&nl, from, r.x, r.ix, r.y, r.iy, r.kind, &cache);
    made.push_back(t);
    if (r.same_as >= 0) {
      EXPECT_EQ(t, made[size_t(r.same_as)]) << &r - rows;
      EXPECT_EQ(kavu_node_container_size(&nl), before);
    } else {
      EXPECT_EQ(kavu_node_container_size(&nl), before + 1) << &r - rows;
    }
    CDB_SGATE_NODE* g = t->get_my_node();
    EXPECT_EQ(g->cast_to_comb()->get_comb_type(), r.kind);
    EXPECT_EQ(g->get_input_term(0)->is_inverted(), r.ix);
  }
  EXPECT_EQ(cache.size(), 6u);
  EXPECT_EQ(cache.count("!UID" + std::to_string(a->get_my_node()->get_id()) + ".Oterm0,UID" +
                        std::to_string(b->get_my_node()->get_id()) + ".Oterm0,0"),
            1u);
  // Without a cache every call makes a gate; a missing name source is refused.
  EXPECT_NE(kavu_create_comb2(&nl, from, a, false, b, false, CDB_COMB_AND, nullptr),
            kavu_create_comb2(&nl, from, a, false, b, false, CDB_COMB_AND, nullptr));
  const unsigned before = kavu_node_container_size(&nl);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_create_comb2(&nl, nullptr, b, false, b, false, CDB_COMB_AND, &cache), "from_sgate");
  EXPECT_EQ(kavu_node_container_size(&nl), before);
  // The last row's null input is GND (inverted VCC).
  EXPECT_TRUE(made.back()->get_my_node()->get_input_term(1)->is_gnd());
  std::string report;
  EXPECT_TRUE(nl.check(&report)) << report;
}

TEST(KavuUtilityComb2, MuxUpdate) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* pa = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* pb = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* ps = make_input_pin(&nl, "s");
  CDB_SGATE_OTERM* a = pa->get_output_term(0);
  CDB_SGATE_OTERM* b = pb->get_output_term(0);
  CDB_SGATE_OTERM* s = ps->get_output_term(0);
  struct ROW {
    CDB_SGATE_OTERM *d0, *d1;
    bool i0, i1;
    uint64_t (*expect)(uint64_t a, uint64_t b, uint64_t s);
  } const rows[] = {
      {a, b, false, false, [](uint64_t x, uint64_t y, uint64_t sel) { return (sel & y) | (~sel & x); }},
      {a, b, true, false, [](uint64_t x, uint64_t y, uint64_t sel) { return (sel & y) | (~sel & ~x); }},
      {b, a, false, true, [](uint64_t x, uint64_t y, uint64_t sel) { return (sel & ~x) | (~sel & y); }},
      // Null signals are constants (never dereferenced).
      {nullptr, b, true, false, [](uint64_t, uint64_t y, uint64_t sel) { return sel & y; }},
      {a, nullptr, false, false, [](uint64_t x, uint64_t, uint64_t sel) { return sel | x; }}};
  CDB_SGATE_MUX* mux = new CDB_SGATE_MUX(nullptr);
  nl.add_node(mux);
  mux->get_output_term(0)->set_invert();
  for (const ROW& r : rows) {
    CDB_SGATE_OTERM* out = kavu_update_mux(mux, s, r.d0, r.i0, r.d1, r.i1);
    EXPECT_EQ(out, mux->get_output_term(0));
    EXPECT_FALSE(out->is_inverted());
    EXPECT_FALSE(mux->get_input_term(CDB_MUX_SELECT)->is_inverted());
    std::string report;
    ASSERT_TRUE(nl.check(&report)) << report;
    NETLIST_SIMULATOR sim(&nl);
    ASSERT_TRUE(sim.ok()) << sim.error();
    sim.randomize_inputs(uint64_t(&r - rows) + 1);
    sim.eval();
    const uint64_t va = sim.value(a), vb = sim.value(b), vs = sim.value(s);
    EXPECT_EQ(sim.value(out), r.expect(va, vb, vs)) << &r - rows;
  }
  make_output_pin(&nl, "y", mux);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_update_mux(mux, s, a, false, b, false), "get_number_of_fanout() == 0");
}
