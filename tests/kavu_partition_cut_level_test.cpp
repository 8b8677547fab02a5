// Tests of the cut levels of edges: the rule table on hand-built netlists,
// mux trees, XOR chains, register feedback and the timing rule.
#include <memory>
#include <string>
#include <vector>

#include "gen/gen_dyn_flag.h"
#include "kavu_helper_dump.h"
#include "kavu_helper_predicates.h"
#include "kavu_partition.h"
#include "kavu_partition_int.h"
#include "partition_test_support.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_ITERM* in(CDB_SGATE_NODE* n, unsigned i) { return n->get_input_term(i); }

}  // namespace

TEST(KavuPartitionCutLevel, DefaultRules) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* inner = make_and(&nl, a, b);          // single fan-out into head: inside a cone
  CDB_SGATE_NODE* head = make_or(&nl, inner, b);        // two fan-outs: a cone head
  CDB_SGATE_NODE* r = make_dff(&nl, head, a);           // data input fed by a gate
  CDB_SGATE_NODE* user = make_xor(&nl, head, a);        // cone head to a plain gate
  CDB_SGATE_NODE* m1 = make_mux(&nl, a, b, a);
  CDB_SGATE_NODE* m2 = make_mux(&nl, m1, b, user);      // mux to mux inside a cone
  make_output_pin(&nl, "y", m2);
  make_output_pin(&nl, "q", r);
  CDB_SGATE_BUFFER* silly = make_buffer(&nl, r, CDB_BUFFER_SILLY);
  make_output_pin(&nl, "s", silly);
  // The register also feeds a gate, a register and a RAM of each kind: of
  // its edges only those into RAMs are never cut.
  CDB_SGATE_NODE* reader = make_and(&nl, r, b);
  make_output_pin(&nl, "g", reader);
  CDB_SGATE_NODE* r2 = make_dff(&nl, r, a);
  make_output_pin(&nl, "q2", r2);
  kavu_platform::RAM_GATE* rams[] = {new CDB_SGATE_SYNCHRONOUS_RAM(nullptr), new CDB_SGATE_ASYNCHRONOUS_RAM(nullptr)};
  for (kavu_platform::RAM_GATE* ram : rams) {
    nl.add_node(ram);
    r->get_single_oterm()->insert_fanout(ram->add_iterm(20));
    a->get_single_oterm()->insert_fanout(ram->add_iterm(34));
    CDB_SGATE_ITERM* m = make_output_pin(&nl, ram == rams[0] ? "m0" : "m1", nullptr)->get_input_term(0);
    m->disconnect_from_source();
    ram->add_oterm(3)->insert_fanout(m);
  }
  auto st = partition_cut_levels(&nl);
  const struct {
    const char* what;
    CDB_SGATE_ITERM* edge;
    int level;
  } rows[] = {
      {"register data input fed by a gate", in(r, 0), 1},
      {"edge inside a cone", in(head, 0), 2},
      {"mux to mux inside a cone", in(m2, 0), 3},
      {"cone head to a plain gate", in(user, 0), 0},
      {"into a silly buffer", in(silly, 0), 3},
      {"register clock fed by a pin", in(r, 1), 0},
      {"register to a gate", in(reader, 0), 0},
      {"register data input fed by a register", in(r2, 0), 1},
      {"register to a synchronous RAM", rams[0]->get_iterm_by_type(20), 3},
      {"register to an asynchronous RAM", rams[1]->get_iterm_by_type(20), 3},
      {"pin to a RAM", rams[0]->get_iterm_by_type(34), 0},
  };
  for (const auto& row : rows) EXPECT_EQ(st->cut_level(row.edge), row.level) << row.what;
  KAVU_PARTITIONER_STATE fresh;
  EXPECT_KAVU_INTERNAL_ERROR(fresh.cut_level(in(r, 0)), "Iterm map not intialized");
}

TEST(KavuPartitionCutLevel, MuxTreesXorChainsAndNeverCutComb) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* c = make_input_pin(&nl, "c");
  CDB_SGATE_NODE* dec = make_and(&nl, a, b);             // decoder-like comb gate, two fan-outs
  CDB_SGATE_NODE* leaf = make_mux(&nl, a, b, dec);       // single fan-out into the stick
  CDB_SGATE_NODE* stick = make_mux(&nl, leaf, c, dec);   // data from a mux: a mux stick
  CDB_SGATE_NODE* x1 = make_xor(&nl, a, b);
  CDB_SGATE_NODE* x2 = make_xor(&nl, x1, c);
  make_output_pin(&nl, "x1", x1);
  make_output_pin(&nl, "x2", x2);
  make_output_pin(&nl, "m", stick);
  EXPECT_TRUE(is_mux_stick(stick));
  EXPECT_FALSE(is_mux_stick(leaf));
  {
    auto st = partition_cut_levels(&nl);
    EXPECT_EQ(st->cut_level(in(stick, 2)), 3) << "select of a mux stick fed by comb logic";
    EXPECT_EQ(st->cut_level(in(leaf, 2)), 3) << "select of a mux feeding a mux stick";
    EXPECT_EQ(st->cut_level(in(x2, 0)), 0) << "XOR chains are cut by default";
  }
  {
    CFG_SCOPE cfg{{"kavu_dont_cut_between_xors_and_mux_stuffs", "on"}};
    EXPECT_EQ(partition_cut_levels(&nl)->cut_level(in(x2, 0)), 3);
  }
  {
    CFG_SCOPE cfg{{"kavu_dont_cut_between_selectors_and_logic", "off"},
                  {"kavu_dont_cut_between_dec_and_mux_sticks", "off"}};
    EXPECT_LT(partition_cut_levels(&nl)->cut_level(in(stick, 2)), 3) << "mux rules switched off";
  }
  EXPECT_EQ(partition_cut_levels(&nl, false, true)->cut_level(in(x2, 0)), 3) << "never_cut_combinational_logic";
}

TEST(KavuPartitionCutLevel, FeedbackSearchFindsShortPathsWhateverTheVisitOrder) {
  // r.D <- X(mux) ; X.in0 <- C1 <- M ; X.in1 <- M ; M <- N <- r.Q.
  // With depth 3 the search reaches M first through C1 with one level left
  // (no path), then directly with two (a path r.Q -> N -> M -> X -> r.D).
  // A memo that ignores the depth would miss the second visit.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
  CDB_SGATE_NODE* r = make_dff(&nl, nullptr, clk);
  CDB_SGATE_NODE* n = make_not(&nl, r);
  CDB_SGATE_NODE* m = make_not(&nl, n);
  CDB_SGATE_NODE* c1 = make_not(&nl, m);
  CDB_SGATE_NODE* x = make_mux(&nl, c1, m, nullptr);
  x->get_single_oterm()->insert_fanout(in(r, 0));
  make_output_pin(&nl, "q", r);
  {
    auto st = partition_cut_levels(&nl);
    EXPECT_LT(st->cut_level(in(x, 1)), 3) << "feedback search is off by default";
  }
  CFG_SCOPE cfg{{"kavu_dont_cut_qfbk", "on"}, {"kavu_qfbk_max_depth", "3"}};
  auto st = partition_cut_levels(&nl);
  for (CDB_SGATE_ITERM* t : {in(r, 0), in(x, 1), in(m, 0), in(n, 0)}) EXPECT_EQ(st->cut_level(t), 3);
  EXPECT_NE(st->cut_level(in(c1, 0)), 3) << "C1 lies on no path within the depth";
  CFG_SCOPE shallow{{"kavu_qfbk_max_depth", "2"}};
  EXPECT_LT(partition_cut_levels(&nl)->cut_level(in(x, 1)), 3) << "the loop is longer than the depth";
  KAVU_PARTITIONER_STATE state;
  EXPECT_KAVU_INTERNAL_ERROR(flag_qfbk_path(&state, in(r, 0), r->get_single_oterm(), -1, 1, 3), "depth >= 0");
}

TEST(KavuPartitionCutLevel, TimingKeepsNearCriticalEdgesWhole) {
  // A long path in -> g1 -> g2 -> g3 -> out and a short one in -> h -> out2.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g1 = make_and(&nl, a, b);
  CDB_SGATE_NODE* g2 = make_or(&nl, g1, b);
  CDB_SGATE_NODE* g3 = make_xor(&nl, g2, a);
  CDB_SGATE_NODE* h = make_xor(&nl, a, b);
  make_output_pin(&nl, "y", g3);
  make_output_pin(&nl, "z", h);
  auto st = partition_cut_levels(&nl, true);
  for (CDB_SGATE_ITERM* t : {in(g1, 0), in(g2, 0), in(g3, 0)}) EXPECT_EQ(st->cut_level(t), 3);
  EXPECT_LT(st->cut_level(in(h, 0)), 3);
}

namespace {

// What the run hands its dumper right after cutting around the anchors.
const KAVU_PARTITIONER* g_cutting = nullptr;
bool g_dumped = false;
std::vector<std::string> g_wrong_cuts;

void check_anchor_cuts(CDB_SGATE_HIERARCHY*, CDB_SGATE_NETLIST* nl, const char* stage) {
  if (std::string(stage) != "before_partition") return;
  g_dumped = true;
  auto wrong = [](const char* what, const CDB_SGATE_NODE* s, const CDB_SGATE_NODE* t, int level) {
    g_wrong_cuts.push_back(std::string(what) + " " + s->get_debug_name() + " -> " + t->get_debug_name() +
                           " at level " + std::to_string(level));
  };
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    CDB_SGATE_NODE* n = *it;
    if (!n) continue;
    if (kavu_is_a_silly_buffer(n)) {  // a cut: the edge it sits on had level 0
      const CDB_SGATE_ITERM* k = n->get_single_oterm()->get_first_fanout();
      if (const int level = g_cutting->get_cut_level(k))
        wrong("cut", n->get_input_term(0)->get_source()->get_my_node(), k->get_my_node(), level);
      continue;
    }
    if (!kavu_partition_detail::is_partition_anchor(n)) continue;
    auto left_whole = [&](const CDB_SGATE_ITERM* t, const CDB_SGATE_NODE* s, const CDB_SGATE_NODE* sink) {
      if (g_cutting->get_cut_level(t) == 0) wrong("left whole", s, sink, 0);
    };
    if (n->get_single_oterm()) {
      for (const CDB_SGATE_ITERM* t : n->get_input_terms())
        if (t && t->get_source() && !kavu_is_a_silly_buffer(t->get_source()->get_my_node()))
          left_whole(t, t->get_source()->get_my_node(), n);
    }
    for (const CDB_SGATE_OTERM* o : n->get_output_terms()) {
      if (!o) continue;
      for (const CDB_SGATE_ITERM* t : o->fanouts())
        if (!kavu_is_a_silly_buffer(t->get_my_node()) && t->get_my_node()->get_single_oterm())
          left_whole(t, n, t->get_my_node());
    }
  }
}

void no_dump(CDB_SGATE_HIERARCHY*, CDB_SGATE_NETLIST*, const char*) {}

}  // namespace

// Cutting around the anchors puts a cut buffer on exactly the edges at level
// 0 into and out of anchors (into gates that carry an id, not already cut):
// whatever the level, the run must read it the way get_cut_level answers.
TEST(KavuPartitionCutLevel, AnchorsAreCutExactlyOnTheirLevel0Edges) {
  CFG_SCOPE dump{{"kavu_partitioner_dump_netlists", "on"}};
  kavu_set_netlist_dumper(check_anchor_cuts);
  for (const char* name : {"seq/diffeq1", "mcnc/s298", "mcnc/dsip"}) {
    for (const char* qfbk : {"off", "on"}) {
      SCOPED_TRACE(std::string(name) + " feedback search " + qfbk);
      CFG_SCOPE keys{{"kavu_dont_cut_qfbk", qfbk}};
      PARTITION_TEST_SCOPE scope;
      LOADED_NETLIST golden = load_blif(name);
      ASSERT_TRUE(golden.get());
      golden->sweep(false);
      std::unique_ptr<CDB_SGATE_NETLIST> nl(clone_netlist(golden.get()));
      KAVU_PARTITIONER part;
      g_cutting = &part;
      g_dumped = false;
      g_wrong_cuts.clear();
      part.partition_on_reg_boundary(nl.get(), nullptr, partition_params(8), false);
      if (!g_dumped) {
        kavu_set_netlist_dumper(no_dump);
        GTEST_SKIP() << "the dump switch was read before this test (run it on its own)";
      }
      EXPECT_TRUE(g_wrong_cuts.empty()) << g_wrong_cuts.size() << " wrong, first: " << g_wrong_cuts.front();
    }
  }
  kavu_set_netlist_dumper(no_dump);
}
