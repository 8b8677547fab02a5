// Tests of KAVU_SORT: topological order, components, cones and paths,
// wide-gate decomposition by depth, and the seeded node-list order.
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/strong_components.hpp>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>

#include "cmp/cmp.h"
#include "kavu_depends.h"
#include "kavu_sort.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef KAVU_SORT::OTERM_LIST OTERM_LIST;

CDB_SGATE_OTERM* out_of(CDB_SGATE_NODE* node) { return node->get_output_term(0); }

// Every output terminal of every gate, in node-list order.
std::vector<CDB_SGATE_OTERM*> all_oterms(const CDB_SGATE_NETLIST* netlist) {
  std::vector<CDB_SGATE_OTERM*> result;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (unsigned i = 0; i < (*it)->get_output_count(); ++i) {
      if (CDB_SGATE_OTERM* o = (*it)->get_output_term(i)) result.push_back(o);
    }
  }
  return result;
}

// A gate whose output a sort may emit after its readers: begin terminals
// that are no input pins (registers, latches, atoms and the like).
bool is_boundary(const CDB_SGATE_NODE* node) {
  switch (node->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_IO_ENUM:
      return false;
    default:
      return true;
  }
}

// Each terminal once, and every connection of the netlist from a gate that
// is no boundary goes forward: the source of every driven input of a
// single-output gate comes before that gate's output.
void expect_order_respects_edges(const OTERM_LIST& sorted, const std::string& name) {
  std::unordered_map<const CDB_SGATE_OTERM*, size_t> position;
  size_t i = 0;
  for (CDB_SGATE_OTERM* o : sorted) EXPECT_TRUE(position.emplace(o, i++).second) << name << ": listed twice";
  int edges = 0;
  for (CDB_SGATE_OTERM* o : sorted) {
    const CDB_SGATE_NODE* gate = o->get_my_node();
    if (gate->get_output_count() != 1) continue;
    for (const CDB_SGATE_ITERM* t : gate->get_input_terms()) {
      const CDB_SGATE_OTERM* f = t && cdb_is_connected(t) ? t->get_source() : nullptr;
      if (!f || is_boundary(f->get_my_node()) || !position.count(f)) continue;
      ++edges;
      EXPECT_LT(position[f], position[o]) << name << ": " << f->get_string_hpath() << " -> " << o->get_string_hpath();
    }
  }
  EXPECT_GT(edges, 0) << name;
}

// Components by Boost's strong_components over the same feeder graph.
std::vector<int> boost_components(const std::vector<CDB_SGATE_OTERM*>& oterms, bool sequential) {
  std::unordered_map<const CDB_SGATE_OTERM*, int> index;
  for (size_t i = 0; i < oterms.size(); ++i) index.emplace(oterms[i], int(i));
  boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS> graph(oterms.size());
  std::vector<CDB_SGATE_OTERM*> feeders;
  for (size_t i = 0; i < oterms.size(); ++i) {
    kavu_get_oterm_feeders(oterms[i], feeders, false, sequential, false);
    for (CDB_SGATE_OTERM* f : feeders) {
      auto it = index.find(f);
      if (it != index.end()) boost::add_edge(size_t(it->second), i, graph);
    }
  }
  std::vector<int> component(oterms.size());
  boost::strong_components(graph, boost::make_iterator_property_map(component.begin(),
                                                                    boost::get(boost::vertex_index, graph)));
  return component;
}

// The two partitions are equal, numbers ascend along the list and no
// feeder's number is above its sink's.
void expect_same_partition(const std::vector<CDB_SGATE_OTERM*>& oterms, const std::vector<int>& boost_comp,
                           const OTERM_LIST& scc_list, KAVU_SORT::SCC_MAP& scc_map, bool sequential,
                           const std::string& name) {
  ASSERT_EQ(scc_list.size(), oterms.size()) << name;
  std::map<int, int> ours_to_boost, boost_to_ours;
  for (size_t i = 0; i < oterms.size(); ++i) {
    const int ours = scc_map.at(oterms[i]);
    EXPECT_EQ(ours_to_boost.emplace(ours, boost_comp[i]).first->second, boost_comp[i]) << name;
    EXPECT_EQ(boost_to_ours.emplace(boost_comp[i], ours).first->second, ours) << name;
  }
  int previous = 0;
  for (CDB_SGATE_OTERM* o : scc_list) {
    EXPECT_LE(previous, scc_map.at(o)) << name;
    previous = scc_map.at(o);
  }
  std::vector<CDB_SGATE_OTERM*> feeders;
  for (CDB_SGATE_OTERM* o : oterms) {
    kavu_get_oterm_feeders(o, feeders, false, sequential, false);
    for (CDB_SGATE_OTERM* f : feeders) {
      if (scc_map.count(f)) {
        EXPECT_LE(scc_map.at(f), scc_map.at(o)) << name;
      }
    }
  }
}

int largest_component(const KAVU_SORT::SCC_MAP& scc_map) {
  std::map<int, int> sizes;
  int largest = 0;
  for (const auto& entry : scc_map) largest = std::max(largest, ++sizes[entry.second]);
  return largest;
}

// X has feeders [P, Q] and Q has feeder [P]: the shape where a stack walk
// that marks feeders when pushed emits Q before P and invents a loop.
struct FALSE_LOOP_CASE {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* p;
  CDB_SGATE_NODE* q;
  CDB_SGATE_NODE* x;
  FALSE_LOOP_CASE() {
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
    p = make_and(&nl, a, b);
    q = make_not(&nl, p);
    x = make_and(&nl, p, q);
    make_output_pin(&nl, "o", x);
  }
};

}  // namespace

// ---------------------------------------------------------------------------

TEST(KavuSortOrder, EveryBundledCircuitRespectsEveryEdge) {
  CFG_SCOPE cfg{{"kavu_sort_debug", "1"}};  // adds the internal SCC verification
  for (const std::string& name : bundled_circuits({"small", "mcnc", "seq", "epfl"})) {
    auto nl = load_blif(name);
    KAVU_SORT sorter(nullptr, false, false, false);
    OTERM_LIST sorted;
    sorter.sort_oterms(nl.get(), sorted, false);
    size_t expected = 0;  // one terminal per single-output gate
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) expected += *it ? 1 : 0;
    EXPECT_EQ(sorted.size(), expected) << name;
    expect_order_respects_edges(sorted, name);
  }
}

TEST(KavuSortOrder, PreorderWalkListsEveryTerminalOnce) {
  CFG_SCOPE cfg{{"kavu_sort_dont_dfs", "on"}};
  for (const char* name : {"mcnc/tseng", "small/alu8_generic"}) {
    auto nl = load_blif(name);
    OTERM_LIST sorted;
    KAVU_SORT(nullptr, false, false, false).sort_oterms(nl.get(), sorted, false);
    EXPECT_EQ(sorted.size(), size_t(nl->size())) << name;
    EXPECT_EQ(std::set<CDB_SGATE_OTERM*>(sorted.begin(), sorted.end()).size(), sorted.size()) << name;
  }
}

TEST(KavuSortOrder, InputsFirstAndAppendsAfterEarlierContents) {
  CFG_SCOPE cfg{{"kavu_sort_debug", "1"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g = make_and(&nl, a, b);
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", g);
  CDB_SGATE_NETLIST other;
  CDB_SGATE_NODE* earlier = make_input_pin(&other, "x");
  // The debug checks count what this call appended, not the list's length.
  OTERM_LIST sorted{out_of(earlier)};
  KAVU_SORT(nullptr, false, false, false).sort_oterms(&nl, sorted, false);
  EXPECT_EQ(sorted, (OTERM_LIST{out_of(a), out_of(b), out_of(earlier), out_of(g), out_of(o)}));
}

TEST(KavuSortOrder, RepeatedEndTerminalIsListedOnce) {
  // User end terminals go in front in reverse: g2's walk appends g1 before
  // g1's own turn, which must not walk and append it again.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g1 = make_not(&nl, a);
  CDB_SGATE_NODE* g2 = make_not(&nl, g1);
  make_output_pin(&nl, "o", g2);
  OTERM_LIST user_end{out_of(g1), out_of(g2)};
  KAVU_SORT sorter(nullptr, false, false, false);
  sorter.set_user_begin_end_oterms(nullptr, &user_end);
  OTERM_LIST sorted;
  sorter.sort_oterms(&nl, sorted, false);
  EXPECT_EQ(sorted.size(), 4u);
  expect_order_respects_edges(sorted, "chain");
}

TEST(KavuSortOrder, InvisibleTerminalIsReportedAndUnreachedBeginIsLeftOut) {
  // u is an extra begin terminal, so the output's walk stops there and its
  // feeder g is reached by no end terminal; no walk appends u itself.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g = make_not(&nl, a);
  CDB_SGATE_NODE* u = make_not(&nl, g);
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", u);
  OTERM_LIST user_begin{out_of(u)};
  KAVU_SORT sorter(nullptr, false, false, false);
  sorter.set_user_begin_end_oterms(&user_begin, nullptr);
  DEBUG_CAPTURE cap("KAVU");
  OTERM_LIST sorted;
  sorter.sort_oterms(&nl, sorted, false);
  EXPECT_TRUE(cap.contains("is invisible!"));
  EXPECT_TRUE(cap.contains("Found 1 invisible oterms"));
  EXPECT_TRUE(cap.contains("WARNING: non-io begin oterm not sorted"));
  EXPECT_EQ(sorted, (OTERM_LIST{out_of(a), out_of(o), out_of(g)}));
}

// In sequential mode kavu_sort_use_non_recur (default on) selects the stack
// walk, which expands the last feeder first; off, the recursive order.
TEST(KavuSortOrder, StackWalkIsChosenByTheKey) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* p = make_not(&nl, a);
  CDB_SGATE_NODE* q = make_not(&nl, b);
  CDB_SGATE_NODE* x = make_and(&nl, p, q);
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", x);
  for (const char* key : {"on", "off"}) {
    CFG_SCOPE cfg{{"kavu_sort_use_non_recur", key}, {"kavu_sort_debug", "1"}};
    OTERM_LIST sorted;
    KAVU_SORT(nullptr, false, true, false).sort_oterms(&nl, sorted, false);
    const bool stack = std::string(key) == "on";
    EXPECT_EQ(sorted, (OTERM_LIST{out_of(a), out_of(b), out_of(stack ? q : p), out_of(stack ? p : q), out_of(x),
                                  out_of(o)}))
        << key;
  }
}

TEST(KavuSortOrder, DeepChainNeedsNoCallStack) {
  CFG_SCOPE cfg{{"kavu_sort_debug", "1"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* last = make_input_pin(&nl, "a");
  const int depth = 100000;
  for (int i = 0; i < depth; ++i) last = make_not(&nl, last);
  make_output_pin(&nl, "o", last);
  OTERM_LIST sorted, stack_sorted;
  KAVU_SORT(nullptr, false, false, false).sort_oterms(&nl, sorted, false);
  ASSERT_EQ(sorted.size(), size_t(depth) + 2);
  EXPECT_EQ(sorted.back()->get_my_node()->get_sgate_type(), CDB_SGATE_IO_ENUM);
  expect_order_respects_edges(sorted, "deep chain");
  KAVU_SORT(nullptr, false, true, false).sort_oterms(&nl, stack_sorted, false);
  EXPECT_EQ(stack_sorted, sorted);
  KAVU_SORT::VISIT_MAP map;
  for (CDB_SGATE_OTERM* o : sorted) map[o] = 0;
  OTERM_LIST from{sorted.front()}, cone;
  KAVU_SORT(nullptr, false, false, false).fanout_cone_oterms(from, map, cone);
  EXPECT_EQ(cone, sorted);
}

TEST(KavuSortOrder, RefusesUnknownFamily) {
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(3));
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_SORT(&facade, false, false, false), "Unsupported family");
  facade.set_family(DEV_FAMILY_ENUM(15));
  KAVU_SORT accepted(&facade, false, false, false);
  OTERM_LIST sorted;
  CDB_SGATE_NETLIST empty;
  accepted.sort_oterms(&empty, sorted, false);
  EXPECT_TRUE(sorted.empty());
}

// ---------------------------------------------------------------------------

// Both walks of sequential mode (the stack walk of kavu_sort_use_non_recur
// and the recursive form) give Boost's components and a fan-in-first order.
TEST(KavuSortScc, SequentialCircuitsMatchBoost) {
  int loops_seen = 0;
  for (const char* key : {"on", "off"})
  for (const char* name :
       {"mcnc/s298", "mcnc/tseng", "mcnc/diffeq", "mcnc/bigkey", "mcnc/dsip", "seq/stereovision3",
        "seq/ch_intrinsics", "small/lfsr16_generic", "small/fsm_seq_lut4", "small/latch_bank_generic"}) {
    CFG_SCOPE cfg{{"kavu_sort_debug", "1"}, {"kavu_sort_use_non_recur", key}};
    auto nl = load_blif(name);
    KAVU_SEQ_TIMER_CLK_DOMAIN domain;
    domain.get_oterms() = all_oterms(nl.get());
    KAVU_SORT sorter(nullptr, false, true, false);
    OTERM_LIST scc_list, begin, end;
    KAVU_SORT::SCC_MAP scc_map;
    sorter.scc_oterms(nl.get(), scc_list, scc_map, false, &begin, &end, &domain);
    expect_same_partition(domain.get_oterms(), boost_components(domain.get_oterms(), true), scc_list, scc_map,
                          true, name);
    EXPECT_EQ(begin.size(), nl->get_input_pins().size()) << name;
    loops_seen += largest_component(scc_map) > 1 ? 1 : 0;
    // A sequential object verifies its own public sort (it has no domain).
    OTERM_LIST sorted;
    sorter.sort_oterms(nl.get(), sorted, false);
    expect_order_respects_edges(sorted, name);
  }
  EXPECT_GE(loops_seen, 16);  // register loops really were found
}

TEST(KavuSortScc, FalseLoopShapeStaysAcyclic) {
  for (bool sequential : {false, true}) {
    FALSE_LOOP_CASE c;
    KAVU_SEQ_TIMER_CLK_DOMAIN domain;
    domain.get_oterms() = all_oterms(&c.nl);
    KAVU_SORT sorter(nullptr, false, sequential, false);
    OTERM_LIST scc_list;
    KAVU_SORT::SCC_MAP scc_map;
    sorter.scc_oterms(&c.nl, scc_list, scc_map, false, nullptr, nullptr, &domain);
    EXPECT_EQ(largest_component(scc_map), 1) << "sequential " << sequential;
    EXPECT_LT(scc_map[out_of(c.p)], scc_map[out_of(c.q)]);
    EXPECT_LT(scc_map[out_of(c.q)], scc_map[out_of(c.x)]);
  }
}

TEST(KavuSortScc, CombinationalLoopIsOneComponentAndSortAcceptsIt) {
  CFG_SCOPE cfg{{"kavu_sort_debug", "1"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g1 = make_and(&nl, a, a);
  CDB_SGATE_NODE* g2 = make_not(&nl, g1);
  g1->get_input_term(1)->set_source(out_of(g2));  // g1 = a & !g1
  make_output_pin(&nl, "o", g2);
  DEBUG_CAPTURE cap("KAVU");
  OTERM_LIST sorted, scc_list;
  KAVU_SORT sorter(nullptr, false, false, false);
  sorter.sort_oterms(&nl, sorted, false);
  EXPECT_EQ(sorted.size(), 4u);
  KAVU_SORT::SCC_MAP scc_map;
  sorter.scc_oterms(&nl, scc_list, scc_map, false, nullptr, nullptr, nullptr);
  EXPECT_EQ(scc_map[out_of(g1)], scc_map[out_of(g2)]);
  EXPECT_TRUE(cap.contains("2-sgate SCCs: 1"));
  EXPECT_TRUE(cap.contains("num_cycles: 1"));
  const int loop = scc_map[out_of(g1)];
  auto in_loop = [&scc_map, loop](CDB_SGATE_OTERM* o) { return scc_map[o] == loop; };
  auto first = std::find_if(scc_list.begin(), scc_list.end(), in_loop);
  auto last = std::find_if_not(first, scc_list.end(), in_loop);
  ASSERT_EQ(std::distance(first, last), 2);
  OTERM_LIST inputs, outputs;
  sorter.get_scc_inputs(scc_list, first, last, scc_map, inputs);
  sorter.get_scc_outputs(scc_list, first, last, scc_map, outputs);
  EXPECT_EQ(inputs, OTERM_LIST{out_of(a)});
  EXPECT_EQ(outputs, OTERM_LIST{out_of(g2)});
}

TEST(KavuSortScc, RegisterLoopOnlyThroughDataInSequentialMode) {
  for (bool through_clock : {false, true}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* clk = make_input_pin(&nl, "clk");
    CDB_SGATE_NODE* reg = make_dff(&nl, a, clk);
    CDB_SGATE_NODE* g = make_and(&nl, reg, a);
    reg->get_input_term(through_clock ? 1 : 0)->set_source(out_of(g));
    make_output_pin(&nl, "o", g);
    KAVU_SEQ_TIMER_CLK_DOMAIN domain;
    domain.get_oterms() = all_oterms(&nl);
    OTERM_LIST scc_list;
    KAVU_SORT::SCC_MAP scc_map;
    KAVU_SORT(nullptr, false, true, false).scc_oterms(&nl, scc_list, scc_map, false, nullptr, nullptr, &domain);
    EXPECT_EQ(largest_component(scc_map), through_clock ? 1 : 2);
    // Outside sequential mode the register output is a boundary.
    KAVU_SORT(nullptr, false, false, false).scc_oterms(&nl, scc_list, scc_map, false, nullptr, nullptr, nullptr);
    EXPECT_EQ(largest_component(scc_map), 1);
  }
  auto without_domain = [] {
    CDB_SGATE_NETLIST nl;
    OTERM_LIST list;
    KAVU_SORT::SCC_MAP map;
    KAVU_SORT(nullptr, false, true, false).scc_oterms(&nl, list, map, false, nullptr, nullptr, nullptr);
  };
  EXPECT_KAVU_INTERNAL_ERROR(without_domain(), "p_clk_domain != NULL");
}

TEST(KavuSortScc, ConesAndPathsOfADiamond) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g1 = make_and(&nl, a, b);
  CDB_SGATE_NODE* g2 = make_not(&nl, g1);
  CDB_SGATE_NODE* g3 = make_or(&nl, g1, b);
  CDB_SGATE_NODE* g4 = make_and(&nl, g2, g3);
  CDB_SGATE_NODE* side = make_not(&nl, b);
  make_output_pin(&nl, "o", g4);
  make_output_pin(&nl, "p", side);
  KAVU_SORT sorter(nullptr, false, false, false);
  OTERM_LIST from{out_of(g1)}, to{out_of(g4)}, path;
  sorter.path_oterms(&nl, from, to, path);
  EXPECT_EQ(path, (OTERM_LIST{out_of(g1), out_of(g2), out_of(g3), out_of(g4)}));
  OTERM_LIST self{out_of(side)}, alone;
  sorter.path_oterms(&nl, self, self, alone);
  EXPECT_EQ(alone, self);
  OTERM_LIST nothing;
  sorter.path_oterms(&nl, self, to, nothing);
  EXPECT_TRUE(nothing.empty());
  KAVU_SORT::VISIT_MAP map;
  for (CDB_SGATE_OTERM* o : all_oterms(&nl)) map[o] = 0;
  OTERM_LIST sinks{out_of(g3), out_of(g4)}, fanin;
  sorter.fanin_cone_oterms(sinks, map, fanin);
  EXPECT_EQ(fanin, (OTERM_LIST{out_of(a), out_of(b), out_of(g1), out_of(g3), out_of(g2), out_of(g4)}));
}

// ---------------------------------------------------------------------------

namespace {
int count_wide(const CDB_SGATE_NETLIST* nl, unsigned k) {
  int wide = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (*it && (*it)->get_sgate_type() == CDB_SGATE_COMB_ENUM && (*it)->get_number_of_fanin() > k) ++wide;
  }
  return wide;
}

// A wide gate over n input pins (pin i inverted when i is odd).
CDB_SGATE_NODE* build_wide(CDB_SGATE_NETLIST* nl, CDB_COMB_TYPE type, int n) {
  CDB_SGATE_COMB* comb = new CDB_SGATE_COMB(nullptr, type);
  nl->add_node(comb);
  for (int i = 0; i < n; ++i) {
    CDB_SGATE_NODE* pin = make_input_pin(nl, ("i" + std::to_string(i)).c_str());
    CDB_SGATE_ITERM* t = comb->insert_unordered_fanin(out_of(pin));
    if (i % 2) t->set_invert();
  }
  make_output_pin(nl, "o", comb);
  return comb;
}
}  // namespace

TEST(KavuSortDmig, NineInputGateBecomesMinimalTree) {
  for (CDB_COMB_TYPE type : {CDB_COMB_AND, CDB_COMB_OR, CDB_COMB_XOR}) {
    CDB_SGATE_NETLIST golden, nl;
    build_wide(&golden, type, 9);
    CDB_SGATE_NODE* wide = build_wide(&nl, type, 9);
    KAVU_TRACK(nl);
    const unsigned before = nl.size();
    EXPECT_EQ(KAVU_SORT(nullptr, false, false, false).dmig(&nl, 4, false), 2);
    EXPECT_EQ(nl.size(), before + 2);  // ceil((9 - 1) / (4 - 1)) - 1 new gates
    EXPECT_EQ(wide->get_number_of_fanin(), 4u);
    EXPECT_EQ(out_of(wide)->get_aux(), 2);
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

TEST(KavuSortDmig, LatestInputsStayOnTheOriginalGate) {
  // Input i of the wide OR arrives at level i (a chain of i two-input ANDs).
  CDB_SGATE_NETLIST golden, nl;
  std::vector<CDB_SGATE_OTERM*> sources;
  CDB_SGATE_COMB* wide = nullptr;
  for (CDB_SGATE_NETLIST* target : {&golden, &nl}) {
    CDB_SGATE_NODE* x = make_input_pin(target, "x");
    wide = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    target->add_node(wide);
    sources.clear();
    for (int i = 0; i < 8; ++i) {
      CDB_SGATE_NODE* s = make_input_pin(target, ("i" + std::to_string(i)).c_str());
      for (int d = 0; d < i; ++d) s = make_and(target, s, x);
      sources.push_back(out_of(s));
    }
    for (int i : {3, 7, 0, 5, 1, 6, 2, 4}) wide->insert_unordered_fanin(sources[i]);
    make_output_pin(target, "o", wide);
  }
  KAVU_TRACK(nl);
  const int depth = KAVU_SORT(nullptr, false, false, false).dmig(&nl, 2, false);
  ASSERT_EQ(wide->get_number_of_fanin(), 2u);
  // The deepest input (level 7) is one of the two left on the wide gate.
  EXPECT_TRUE(wide->get_fanin_term(0) == sources[7] || wide->get_fanin_term(1) == sources[7]);
  EXPECT_EQ(depth, 8);  // a balanced merge of levels 0..7 ends one above the deepest
  EXPECT_EQ(KAVU_SORT(nullptr, false, false, false).comb_depth(&nl), depth);
  ASSERT_KAVU_EQUIVALENT(golden, nl);
}

TEST(KavuSortDmig, RealCircuitsKeepTheirFunction) {
  BLIF_READ_OPTIONS options;
  options.names = BLIF_READ_OPTIONS::ALL_COMB;
  // Each case costs an outside equivalence check, so one k per circuit.
  for (const auto& [name, k] : {std::pair{"mcnc/alu4", 2}, std::pair{"small/alu8_lut6", 3}}) {
    auto golden = load_blif(name, options);
    auto nl = load_blif(name, options);
    KAVU_TRACK(nl);
    ASSERT_GT(count_wide(nl.get(), unsigned(k)), 0) << name;
    KAVU_SORT sorter(nullptr, false, false, false);
    const int depth = sorter.dmig(nl.get(), k, true);
    EXPECT_EQ(count_wide(nl.get(), unsigned(k)), 0) << name;
    EXPECT_EQ(sorter.comb_depth(nl.get()), depth) << name;
    ASSERT_KAVU_EQUIVALENT(golden, nl);
  }
}

TEST(KavuSortDmig, RefusedInputLeavesNetlistUnchanged) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* wide = build_wide(&nl, CDB_COMB_AND, 6);
  KAVU_SORT sorter(nullptr, false, false, false);
  for (int k : {1, 0, -3}) EXPECT_KAVU_INTERNAL_ERROR(sorter.dmig(&nl, k, false), "k >= 2");
  // A gate after the wide AND in topological order with a constant input.
  CDB_SGATE_COMB* tied = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
  nl.add_node(tied);
  tied->insert_unordered_fanin(out_of(wide));
  tied->add_unordered_fanin_from_oterm(nullptr, false, nullptr);  // tied to VCC
  const unsigned before = nl.size();
  EXPECT_KAVU_INTERNAL_ERROR(sorter.dmig(&nl, 2, false), "cdb_is_connected");
  EXPECT_EQ(nl.size(), before);  // nothing was split before the refusal
  EXPECT_EQ(wide->get_number_of_fanin(), 6u);
}

TEST(KavuSortDmig, InvertingGateIsNotSplit) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* inv = build_wide(&nl, CDB_COMB_NOT, 3);
  const unsigned before = nl.size();
  EXPECT_EQ(KAVU_SORT(nullptr, false, false, false).dmig(&nl, 2, false), 1);
  EXPECT_EQ(nl.size(), before);
  EXPECT_EQ(inv->get_number_of_fanin(), 3u);
}

// ---------------------------------------------------------------------------

namespace {
// The node list as positions in the list before the shuffle.
std::vector<int> permutation_after_shuffle(const std::string& name, int seed) {
  auto nl = load_blif(name);
  std::map<const CDB_SGATE_NODE*, int> position;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (*it) position.emplace(*it, int(position.size()));
  }
  kavu_sort_netlist_random(nl.get(), seed);
  std::vector<int> result;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (*it) result.push_back(position.at(*it));
  }
  return result;
}
}  // namespace

TEST(KavuSortRandom, PermutationFixedBySeed) {
  const std::vector<int> a = permutation_after_shuffle("small/counter8_generic", 7);
  std::vector<int> sorted = a;
  std::sort(sorted.begin(), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], int(i));
  EXPECT_EQ(permutation_after_shuffle("small/counter8_generic", 7), a);
  EXPECT_NE(permutation_after_shuffle("small/counter8_generic", 8), a);
  auto golden = load_blif("small/crc8_lut4");
  auto nl = load_blif("small/crc8_lut4");
  KAVU_TRACK(nl);
  kavu_sort_netlist_random(nl.get(), 12345);
  ASSERT_KAVU_EQUIVALENT(golden, nl);
}
