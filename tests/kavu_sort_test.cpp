// Tests of KAVU_SORT: orders against the netlist's own connections,
// components against Boost's strong_components, cones, paths, dmig, shuffle.
#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/strong_components.hpp>
#include <boost/graph/topological_sort.hpp>

#include <algorithm>
#include <iterator>
#include <list>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>
#include <tuple>
#include <utility>

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
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    std::copy_if((*it)->get_output_terms().begin(), (*it)->get_output_terms().end(), std::back_inserter(result),
                 [](CDB_SGATE_OTERM* o) { return o != nullptr; });
  return result;
}

// A gate whose output a sort may emit after its readers: begin terminals
// that are no input pins (registers, latches, atoms and the like).
bool is_boundary(const CDB_SGATE_NODE* node) {
  const CDB_SGATE_TYPE t = node->get_sgate_type();
  return t != CDB_SGATE_COMB_ENUM && t != CDB_SGATE_LUT_ENUM && t != CDB_SGATE_MUX_ENUM &&
         t != CDB_SGATE_BUFFER_ENUM && t != CDB_SGATE_IO_BUF_ENUM && t != CDB_SGATE_CARRY_SUM_ENUM &&
         t != CDB_SGATE_IO_ENUM;
}

// Each terminal once, and the source (no boundary) of every driven input of
// a single-output gate comes first; in sequential mode a register follows
// only its data and synchronous inputs, so edges into boundaries are skipped.
void expect_order_respects_edges(const OTERM_LIST& sorted, const std::string& name, bool sequential = false) {
  std::unordered_map<const CDB_SGATE_OTERM*, size_t> position;
  for (CDB_SGATE_OTERM* o : sorted) EXPECT_TRUE(position.emplace(o, position.size()).second) << name << ": twice";
  int edges = 0;
  for (CDB_SGATE_OTERM* o : sorted) {
    for (const CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms()) {
      const CDB_SGATE_OTERM* f = t && cdb_is_connected(t) ? t->get_source() : nullptr;
      if (!f || o->get_my_node()->get_output_count() != 1 || is_boundary(f->get_my_node()) || !position.count(f) ||
          (sequential && is_boundary(o->get_my_node())))
        continue;
      ++edges;
      EXPECT_LT(position[f], position[o]) << name << ": " << f->get_string_hpath() << " -> " << o->get_string_hpath();
    }
  }
  EXPECT_GT(edges, 0) << name;
}

// Our components equal Boost's over the same feeder graph, numbers ascend
// along the list and no feeder's number is above its sink's.
void expect_boost_partition(const std::vector<CDB_SGATE_OTERM*>& oterms, const OTERM_LIST& scc_list,
                            const KAVU_SORT::SCC_MAP& scc_map, bool sequential, const std::string& name) {
  std::unordered_map<const CDB_SGATE_OTERM*, int> index;
  for (size_t i = 0; i < oterms.size(); ++i) index.emplace(oterms[i], int(i));
  boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS> graph(oterms.size());
  std::vector<CDB_SGATE_OTERM*> feeders;
  for (size_t i = 0; i < oterms.size(); ++i) {
    kavu_get_oterm_feeders(oterms[i], feeders, false, sequential, false);
    for (CDB_SGATE_OTERM* f : feeders) {
      if (!index.count(f)) continue;
      boost::add_edge(size_t(index[f]), i, graph);
      EXPECT_LE(scc_map.at(f), scc_map.at(oterms[i])) << name;
    }
  }
  std::vector<int> boost_comp(oterms.size());
  boost::strong_components(graph, boost::make_iterator_property_map(boost_comp.begin(),
                                                                    boost::get(boost::vertex_index, graph)));
  ASSERT_EQ(scc_list.size(), oterms.size()) << name;
  std::map<int, int> ours_to_boost, boost_to_ours;
  for (size_t i = 0; i < oterms.size(); ++i) {
    const int ours = scc_map.at(oterms[i]);
    EXPECT_EQ(ours_to_boost.emplace(ours, boost_comp[i]).first->second, boost_comp[i]) << name;
    EXPECT_EQ(boost_to_ours.emplace(boost_comp[i], ours).first->second, ours) << name;
  }
  int previous = 0;
  for (CDB_SGATE_OTERM* o : scc_list) EXPECT_LE(std::exchange(previous, scc_map.at(o)), scc_map.at(o)) << name;
}

int largest_component(const KAVU_SORT::SCC_MAP& scc_map) {
  std::map<int, int> sizes;
  int largest = 0;
  for (const auto& entry : scc_map) largest = std::max(largest, ++sizes[entry.second]);
  return largest;
}

// Components of a whole netlist (sequential: one domain of every terminal).
KAVU_SORT::SCC_MAP components(CDB_SGATE_NETLIST* nl, bool sequential, OTERM_LIST* scc_list = nullptr) {
  KAVU_SEQ_TIMER_CLK_DOMAIN domain;
  domain.get_oterms() = all_oterms(nl);
  OTERM_LIST list;
  KAVU_SORT::SCC_MAP map;
  KAVU_SORT(nullptr, false, sequential, false)
      .scc_oterms(nl, scc_list ? *scc_list : list, map, false, nullptr, nullptr, sequential ? &domain : nullptr);
  return map;
}

}  // namespace


// Every committed circuit, both walks of kavu_sort_use_non_recur, internal
// verification on: sorts respect every edge, sequential components equal
// Boost's; the pre-order walk lists every terminal once.
TEST(KavuSortOrder, EveryBundledCircuitMatchesEdgesAndBoost) {
  int loops_seen = 0;
  for (const std::string& name : bundled_circuits({"small", "mcnc", "seq", "epfl"})) {
    auto nl = load_blif(name);
    for (const char* key : {"on", "off"}) {
      CFG_SCOPE cfg{{"kavu_sort_debug", "1"}, {"kavu_sort_use_non_recur", key}};
      OTERM_LIST sorted, scc_list, begin, end, seq_sorted;
      KAVU_SORT(nullptr, false, false, false).sort_oterms(nl.get(), sorted, false);
      EXPECT_EQ(sorted.size(), size_t(nl->size())) << name;  // one terminal per single-output gate
      expect_order_respects_edges(sorted, name);
      KAVU_SEQ_TIMER_CLK_DOMAIN domain;
      domain.get_oterms() = all_oterms(nl.get());
      KAVU_SORT sorter(nullptr, false, true, false);
      KAVU_SORT::SCC_MAP scc_map;
      sorter.scc_oterms(nl.get(), scc_list, scc_map, false, &begin, &end, &domain);
      expect_boost_partition(domain.get_oterms(), scc_list, scc_map, true, name);
      EXPECT_EQ(begin.size(), nl->get_input_pins().size()) << name;
      loops_seen += largest_component(scc_map) > 1 ? 1 : 0;
      sorter.sort_oterms(nl.get(), seq_sorted, false);  // verified by the object itself (no domain)
      expect_order_respects_edges(seq_sorted, name, true);
    }
  }
  EXPECT_GE(loops_seen, 16);  // register loops really were found
  CFG_SCOPE preorder{{"kavu_sort_dont_dfs", "on"}};
  for (const char* name : {"mcnc/tseng", "small/alu8_generic"}) {
    auto nl = load_blif(name);
    OTERM_LIST sorted;
    KAVU_SORT(nullptr, false, false, false).sort_oterms(nl.get(), sorted, false);
    EXPECT_EQ(std::set<CDB_SGATE_OTERM*>(sorted.begin(), sorted.end()).size(), size_t(nl->size())) << name;
  }
}

// a, b -> p = !a, q = !b -> x = p & q -> o, sorted under several settings.
TEST(KavuSortOrder, HandComputedOrders) {
  CDB_SGATE_NETLIST nl, other;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* p = make_not(&nl, a);
  CDB_SGATE_NODE* q = make_not(&nl, b);
  CDB_SGATE_NODE* x = make_and(&nl, p, q);
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", x);
  CDB_SGATE_NODE* earlier = make_input_pin(&other, "e");
  OTERM_LIST user_end{out_of(p), out_of(x)}, user_begin{out_of(x)};
  auto terms = [](const std::vector<CDB_SGATE_NODE*>& nodes) {
    OTERM_LIST list;
    for (CDB_SGATE_NODE* n : nodes) list.push_back(out_of(n));
    return list;
  };
  struct CASE { const char* what; bool sequential; const char* non_recur; OTERM_LIST *begin, *end;
                std::vector<CDB_SGATE_NODE*> before, expected; };
  const std::vector<CASE> cases{
      {"recursive", false, "on", nullptr, nullptr, {}, {a, b, p, q, x, o}},
      {"stack walk: last feeder first", true, "on", nullptr, nullptr, {}, {a, b, q, p, x, o}},
      {"key off: recursive", true, "off", nullptr, nullptr, {}, {a, b, p, q, x, o}},
      // x's walk appends p before p's own turn, which must not append it again.
      {"end terminal appended once", false, "on", nullptr, &user_end, {}, {a, b, p, q, x, o}},
      {"inputs before earlier contents", false, "on", nullptr, nullptr, {earlier}, {a, b, earlier, p, q, x, o}},
      // o's walk stops at x; p, q are reached by no end terminal; x is left out
      {"unreached begin", false, "on", &user_begin, nullptr, {}, {a, b, o, p, q}}};
  for (const CASE& c : cases) {
    CFG_SCOPE cfg{{"kavu_sort_use_non_recur", c.non_recur}};
    KAVU_SORT sorter(nullptr, false, c.sequential, false);
    sorter.set_user_begin_end_oterms(c.begin, c.end);
    OTERM_LIST sorted = terms(c.before);
    sorter.sort_oterms(&nl, sorted, false);
    EXPECT_EQ(sorted, terms(c.expected)) << c.what;
  }
}

TEST(KavuSortOrder, DeepChainNeedsNoCallStack) {
  CFG_SCOPE cfg{{"kavu_sort_debug", "1"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* last = make_input_pin(&nl, "a");
  const int depth = 100000;
  for (int i = 0; i < depth; ++i) last = make_not(&nl, last);
  make_output_pin(&nl, "o", last);
  OTERM_LIST sorted, stack_sorted, cone;
  KAVU_SORT(nullptr, false, false, false).sort_oterms(&nl, sorted, false);
  ASSERT_EQ(sorted.size(), size_t(depth) + 2);
  KAVU_SORT(nullptr, false, true, false).sort_oterms(&nl, stack_sorted, false);
  EXPECT_EQ(stack_sorted, sorted);
  KAVU_SORT::VISIT_MAP map;
  for (CDB_SGATE_OTERM* o : sorted) map[o] = 0;
  OTERM_LIST from{sorted.front()};
  KAVU_SORT(nullptr, false, false, false).fanout_cone_oterms(from, map, cone);
  EXPECT_EQ(cone, sorted);
}

// x = p & q with q = !p: a stack walk that skips a feeder already pushed
// emits q before p, and the components built on that order join p and q.
// A register loop is a component in sequential mode only, and only through
// the register's data input.
TEST(KavuSortScc, FalseLoopAndRegisterLoops) {
  for (bool sequential : {false, true}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* p = make_and(&nl, make_input_pin(&nl, "a"), make_input_pin(&nl, "b"));
    CDB_SGATE_NODE* q = make_not(&nl, p);
    CDB_SGATE_NODE* x = make_and(&nl, p, q);
    make_output_pin(&nl, "o", x);
    KAVU_SORT::SCC_MAP scc_map = components(&nl, sequential);
    EXPECT_EQ(largest_component(scc_map), 1) << "sequential " << sequential;
    EXPECT_TRUE(scc_map[out_of(p)] < scc_map[out_of(q)] && scc_map[out_of(q)] < scc_map[out_of(x)]);
  }
  for (bool through_clock : {false, true}) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
    CDB_SGATE_NODE* reg = make_dff(&nl, a, make_input_pin(&nl, "clk"));
    CDB_SGATE_NODE* g = make_and(&nl, reg, a);
    reg->get_input_term(through_clock ? 1 : 0)->set_source(out_of(g));
    make_output_pin(&nl, "o", g);
    EXPECT_EQ(largest_component(components(&nl, true)), through_clock ? 1 : 2);
    EXPECT_EQ(largest_component(components(&nl, false)), 1);  // the register output is a boundary
  }
  CDB_SGATE_NETLIST nl;
  OTERM_LIST list;
  KAVU_SORT::SCC_MAP map;
  EXPECT_KAVU_INTERNAL_ERROR(
      KAVU_SORT(nullptr, false, true, false).scc_oterms(&nl, list, map, false, nullptr, nullptr, nullptr),
      "p_clk_domain != NULL");
  // A domain outside sequential mode still takes its boundaries from the
  // netlist: without one the call used to read through a null pointer.
  KAVU_SEQ_TIMER_CLK_DOMAIN domain;
  domain.get_oterms() = {out_of(make_input_pin(&nl, "a"))};
  EXPECT_KAVU_INTERNAL_ERROR(
      KAVU_SORT(nullptr, false, false, false).scc_oterms(nullptr, list, map, false, nullptr, nullptr, &domain),
      "netlist != nullptr");
}

TEST(KavuSortScc, CombinationalLoopIsOneComponentAndSortAcceptsIt) {
  CFG_SCOPE cfg{{"kavu_sort_debug", "1"}};
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g1 = make_and(&nl, a, a);
  CDB_SGATE_NODE* g2 = make_not(&nl, g1);
  g1->get_input_term(1)->set_source(out_of(g2));  // g1 = a & !g1
  make_output_pin(&nl, "o", g2);
  OTERM_LIST sorted, scc_list;
  KAVU_SORT sorter(nullptr, false, false, false);
  sorter.sort_oterms(&nl, sorted, false);
  EXPECT_EQ(sorted.size(), 4u);
  KAVU_SORT::SCC_MAP scc_map = components(&nl, false, &scc_list);
  const int loop = scc_map[out_of(g1)];
  EXPECT_EQ(scc_map[out_of(g2)], loop);
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

// g1 = a & !g1 again, with g2 outside the clock domain but among the
// caller's end terminals: it enters the graph after the domain's terminals,
// and the edge from it into g1 must still count, closing the loop.
TEST(KavuSortScc, LoopThroughCallersEndTerminalOutsideTheDomain) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  CDB_SGATE_NODE* g1 = make_and(&nl, a, a);
  CDB_SGATE_NODE* g2 = make_not(&nl, g1);
  g1->get_input_term(1)->set_source(out_of(g2));
  CDB_SGATE_NODE* o = make_output_pin(&nl, "o", g1);
  KAVU_SEQ_TIMER_CLK_DOMAIN domain;
  domain.get_oterms() = {out_of(a), out_of(g1), out_of(o)};
  OTERM_LIST user_end{out_of(g2)}, scc_list;
  KAVU_SORT::SCC_MAP scc_map;
  KAVU_SORT sorter(nullptr, false, true, false);
  sorter.set_user_begin_end_oterms(nullptr, &user_end);
  sorter.scc_oterms(&nl, scc_list, scc_map, false, nullptr, nullptr, &domain);
  EXPECT_EQ(scc_list.size(), 4u);
  EXPECT_EQ(scc_map[out_of(g2)], scc_map[out_of(g1)]);
  EXPECT_EQ(largest_component(scc_map), 2);
}

// The component map holds every terminal of the run, also those a caller
// adds from below or above the address range of the domain's terminals and
// those of a domain too sparse for a direct table, and the component list
// numbers them 1, 2, ... in steps of at most one. Gates 0..59 form a chain
// from one input, with a loop through gates 20..24.
TEST(KavuSortScc, MapHoldsTerminalsOutsideTheDomainsAddressRange) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* a = make_input_pin(&nl, "a");
  std::vector<CDB_SGATE_NODE*> g;
  for (int i = 0; i < 60; ++i) g.push_back(i == 20 ? make_and(&nl, g.back(), g.back()) : make_not(&nl, i ? g.back() : a));
  g[20]->get_input_term(1)->set_source(out_of(g[24]));
  auto range = [](int lo, int hi) {
    std::vector<int> r;
    for (int i = lo; i < hi; ++i) r.push_back(i);
    return r;
  };
  struct CASE {
    const char* what;
    std::vector<int> domain, extra;
    int largest;
  };
  const CASE cases[] = {{"domain alone", range(10, 50), {}, 5},
                        {"extra below", range(10, 50), {2, 5}, 5},
                        {"extra above", range(10, 50), {55, 58}, 5},
                        {"extra on both sides", range(10, 50), {0, 3, 52, 59}, 5},
                        {"sparse domain", {0, 59}, {30}, 1}};
  for (const CASE& c : cases) {
    KAVU_SEQ_TIMER_CLK_DOMAIN domain;
    for (int i : c.domain) domain.get_oterms().push_back(out_of(g[size_t(i)]));
    OTERM_LIST extra, scc_list;
    for (int i : c.extra) extra.push_back(out_of(g[size_t(i)]));
    KAVU_SORT::SCC_MAP scc_map;
    KAVU_SORT sorter(nullptr, false, true, false);
    sorter.set_user_begin_end_oterms(nullptr, &extra);
    sorter.scc_oterms(&nl, scc_list, scc_map, false, nullptr, nullptr, &domain);
    EXPECT_EQ(scc_list.size(), c.domain.size() + c.extra.size()) << c.what;
    EXPECT_EQ(scc_map.size(), scc_list.size()) << c.what;
    int previous = 1;
    for (CDB_SGATE_OTERM* o : scc_list) {
      const auto it = scc_map.find(o);
      ASSERT_NE(it, scc_map.end()) << c.what;
      EXPECT_TRUE(it->second == previous || it->second == previous + 1) << c.what;
      previous = it->second;
    }
    EXPECT_EQ(largest_component(scc_map), c.largest) << c.what;
  }
}

TEST(KavuSortScc, ConesAndPathsOfADiamond) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *a = make_input_pin(&nl, "a"), *b = make_input_pin(&nl, "b");
  CDB_SGATE_NODE* g1 = make_and(&nl, a, b);
  CDB_SGATE_NODE* g2 = make_not(&nl, g1);
  CDB_SGATE_NODE* g3 = make_or(&nl, g1, b);
  CDB_SGATE_NODE *g4 = make_and(&nl, g2, g3), *side = make_not(&nl, b);
  make_output_pin(&nl, "o", g4);
  make_output_pin(&nl, "p", side);
  KAVU_SORT sorter(nullptr, false, false, false);
  OTERM_LIST from{out_of(g1)}, to{out_of(g4)}, path, self{out_of(side)}, alone, nothing, fanin;
  sorter.path_oterms(&nl, from, to, path);
  EXPECT_EQ(path, (OTERM_LIST{out_of(g1), out_of(g2), out_of(g3), out_of(g4)}));
  sorter.path_oterms(&nl, self, self, alone);
  EXPECT_EQ(alone, self);
  sorter.path_oterms(&nl, self, to, nothing);
  EXPECT_TRUE(nothing.empty());
  KAVU_SORT::VISIT_MAP map;
  for (CDB_SGATE_OTERM* o : all_oterms(&nl)) map[o] = 0;
  OTERM_LIST sinks{out_of(g3), out_of(g4)};
  sorter.fanin_cone_oterms(sinks, map, fanin);
  EXPECT_EQ(fanin, (OTERM_LIST{out_of(a), out_of(b), out_of(g1), out_of(g3), out_of(g2), out_of(g4)}));
}


namespace {
int count_wide(const CDB_SGATE_NETLIST* nl, unsigned k) {
  int wide = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    wide += *it && (*it)->get_sgate_type() == CDB_SGATE_COMB_ENUM && (*it)->get_number_of_fanin() > k;
  return wide;
}

// A wide gate over n input pins (pin i inverted when i is odd).
CDB_SGATE_NODE* build_wide(CDB_SGATE_NETLIST* nl, CDB_COMB_TYPE type, int n) {
  CDB_SGATE_COMB* comb = new CDB_SGATE_COMB(nullptr, type);
  nl->add_node(comb);
  for (int i = 0; i < n; ++i) {
    CDB_SGATE_ITERM* t = comb->insert_unordered_fanin(out_of(make_input_pin(nl, ("i" + std::to_string(i)).c_str())));
    if (i % 2) t->set_invert();
  }
  make_output_pin(nl, "o", comb);
  return comb;
}
}  // namespace

// Nine inputs at k = 4: the fewest gates (two new); an inverter is never split.
TEST(KavuSortDmig, WideGatesBecomeMinimalTrees) {
  for (CDB_COMB_TYPE type : {CDB_COMB_AND, CDB_COMB_OR, CDB_COMB_XOR, CDB_COMB_NOT}) {
    const bool splits = type != CDB_COMB_NOT;
    CDB_SGATE_NETLIST golden, nl;
    build_wide(&golden, type, 9);
    CDB_SGATE_NODE* wide = build_wide(&nl, type, 9);
    KAVU_TRACK(nl);
    const unsigned before = nl.size();
    EXPECT_EQ(KAVU_SORT(nullptr, false, false, false).dmig(&nl, 4, false), splits ? 2 : 1) << type;
    EXPECT_EQ(nl.size(), before + (splits ? 2 : 0)) << type;
    EXPECT_EQ(wide->get_number_of_fanin(), splits ? 4u : 9u) << type;
    if (splits) {
      ASSERT_KAVU_EQUIVALENT(golden, nl);
    }
  }
}

TEST(KavuSortDmig, RealCircuitsKeepTheirFunction) {
  BLIF_READ_OPTIONS options;
  options.names = BLIF_READ_OPTIONS::ALL_COMB;
  // Each case costs an outside equivalence check, so one k per circuit. The
  // depths are a quality tripwire (the latest inputs stay nearest the
  // output; combining them first gives 21 and 90): a change needs a reason.
  for (const auto& [name, k, expected] : {std::tuple{"mcnc/alu4", 2, 14}, std::tuple{"small/alu8_lut6", 3, 21}}) {
    auto golden = load_blif(name, options);
    auto nl = load_blif(name, options);
    KAVU_TRACK(nl);
    ASSERT_GT(count_wide(nl.get(), unsigned(k)), 0) << name;
    KAVU_SORT sorter(nullptr, false, false, false);
    const int depth = sorter.dmig(nl.get(), k, true);
    EXPECT_EQ(depth, expected) << name;
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


// The shuffle permutes the node list, fixed by the seed (KAVU_TRACK checks the netlist).
TEST(KavuSortRandom, PermutationFixedBySeed) {
  auto order = [](int seed) {
    auto nl = load_blif("small/counter8_generic");
    KAVU_TRACK(nl);
    if (seed) kavu_sort_netlist_random(nl.get(), seed);
    std::vector<std::string> names;
    for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) names.push_back((*it)->get_string_hpath());
    return names;
  };
  std::vector<std::string> a = order(7), unshuffled = order(0);
  EXPECT_EQ(order(7), a);
  EXPECT_NE(order(8), a);
  std::sort(a.begin(), a.end());
  std::sort(unshuffled.begin(), unshuffled.end());
  EXPECT_EQ(a, unshuffled);
}


// ---------------------------------------------------------------------------
// Orders and components of random netlists with loops against a naive model
// of the ordering (visit values in a std::map, recursive walks, successors
// found by scanning fan-outs), against a brute-force closure and against
// Boost.

namespace {

// Random netlists: pins, AND/OR/NOT/LUT gates and registers whose inputs
// are rewired to any gate, themselves included, so combinational loops,
// self-loops and register loops all occur; some gates stay dangling.
// A small linear congruential generator: next(n) is in [0, n).
struct LCG {
  uint32_t m_state;
  uint32_t operator()(uint32_t n) {
    m_state = m_state * 1664525u + 1013904223u;
    return (m_state >> 8) % n;
  }
};

// A netlist with inputs "a" and "b" and a clock "clk"; `nodes` gets a and b.
std::unique_ptr<CDB_SGATE_NETLIST> start_random_netlist(std::vector<CDB_SGATE_NODE*>& nodes, CDB_SGATE_NODE*& clk) {
  auto nl = std::make_unique<CDB_SGATE_NETLIST>();
  nodes = {make_input_pin(nl.get(), "a"), make_input_pin(nl.get(), "b")};
  clk = make_input_pin(nl.get(), "clk");
  return nl;
}

std::unique_ptr<CDB_SGATE_NETLIST> random_looped_netlist(uint32_t seed, int gates, int loop_percent) {
  LCG next{seed * 2654435761u + 12345u};
  std::vector<CDB_SGATE_NODE*> nodes;
  CDB_SGATE_NODE* clk = nullptr;
  auto nl = start_random_netlist(nodes, clk);
  for (int i = 0; i < gates; ++i) {
    CDB_SGATE_NODE* x = nodes[next(uint32_t(nodes.size()))];
    CDB_SGATE_NODE* y = nodes[next(uint32_t(nodes.size()))];
    switch (next(5)) {
      case 0: nodes.push_back(make_and(nl.get(), x, y)); break;
      case 1: nodes.push_back(make_or(nl.get(), x, y)); break;
      case 2: nodes.push_back(make_not(nl.get(), x)); break;
      case 3: nodes.push_back(make_lut(nl.get(), {x, y, nodes[next(uint32_t(nodes.size()))]}, 0x96)); break;
      default: nodes.push_back(make_dff(nl.get(), x, clk));
    }
  }
  for (size_t i = 2; i < nodes.size(); ++i) {  // back edges and self-loops
    if (int(next(100)) >= loop_percent) continue;
    const unsigned input = nodes[i]->get_sgate_type() == CDB_SGATE_DFF_ENUM ? unsigned(CDB_DFF_DATA) : 0u;
    nodes[i]->get_input_term(input)->set_source(out_of(nodes[2 + next(uint32_t(nodes.size() - 2))]));
  }
  for (int o = 0; o < 2; ++o) make_output_pin(nl.get(), ("o" + std::to_string(o)).c_str(), nodes[next(uint32_t(nodes.size()))]);
  return nl;
}

typedef std::map<CDB_SGATE_OTERM*, int> NAIVE_VISIT;

std::vector<CDB_SGATE_OTERM*> feeders_of(CDB_SGATE_OTERM* o, bool sequential) {
  std::vector<CDB_SGATE_OTERM*> f;
  kavu_get_oterm_feeders(o, f, false, sequential, false);
  return f;
}

// The recursive fan-in walk over the keys of `visit`: feeders first, each
// finished terminal appended.
void naive_fanin(CDB_SGATE_OTERM* o, NAIVE_VISIT& visit, bool sequential, OTERM_LIST& out) {
  if (!visit.count(o) || visit[o] >= 1) return;
  visit[o] = 1;
  for (CDB_SGATE_OTERM* f : feeders_of(o, sequential)) naive_fanin(f, visit, sequential, out);
  visit[o] = 2;
  out.push_back(o);
}

// The recursive fan-out walk: successors in fan-out order (every output of
// a driven gate that o feeds), each finished terminal put in front.
void naive_fanout(CDB_SGATE_OTERM* o, NAIVE_VISIT& visit, bool sequential, OTERM_LIST& out) {
  if (!visit.count(o) || visit[o] >= 1) return;
  visit[o] = 1;
  std::vector<CDB_SGATE_OTERM*> successors;
  for (CDB_SGATE_ITERM* t : o->fanouts()) {
    for (CDB_SGATE_OTERM* s : t->get_my_node()->get_output_terms()) {
      const std::vector<CDB_SGATE_OTERM*> f = feeders_of(s, sequential);
      if (std::find(f.begin(), f.end(), o) != f.end() &&
          std::find(successors.begin(), successors.end(), s) == successors.end())
        successors.push_back(s);
    }
  }
  for (CDB_SGATE_OTERM* s : successors) naive_fanout(s, visit, sequential, out);
  visit[o] = 2;
  out.push_front(o);
}

// The ordering and the components as the rules state them, for netlists
// of pins, comb gates, LUTs and plain registers.
class REFERENCE_SORT {
 public:
  REFERENCE_SORT(CDB_SGATE_NETLIST* nl, bool sequential) : m_seq(sequential), m_terms(all_oterms(nl)) {
    for (CDB_SGATE_OTERM* o : m_terms) m_visit[o] = 0;
    for (CDB_SGATE_OTERM* o : m_terms) {
      CDB_SGATE_NODE* node = o->get_my_node();
      if (node->get_sgate_type() == CDB_SGATE_IO_ENUM) {
        if (static_cast<CDB_SGATE_IO*>(node)->get_io_type() == CDB_IO_INPUT) m_begin.push_front(o);
        else m_end.push_back(o);
      } else if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM && !m_seq) {
        m_begin.push_back(o);
        m_end.push_front(o);
      }
    }
    for (CDB_SGATE_OTERM* o : m_terms) {  // dangling outputs end a walk
      if (!o->has_fanout() && o->get_my_node()->get_sgate_type() != CDB_SGATE_IO_ENUM &&
          std::find(m_end.begin(), m_end.end(), o) == m_end.end())
        m_end.push_back(o);
    }
  }

  OTERM_LIST sort() {
    OTERM_LIST sorted;
    for (auto& entry : m_visit) entry.second = 0;
    for (CDB_SGATE_OTERM* o : m_begin) m_visit[o] = 1;
    for (CDB_SGATE_OTERM* o : m_end) {
      if (m_visit[o] == 2) continue;
      m_visit[o] = 0;
      dfs_fanin(o, sorted);
    }
    for (CDB_SGATE_OTERM* o : m_terms) dfs_fanin(o, sorted);  // invisible terminals
    for (CDB_SGATE_OTERM* o : m_begin) {
      const bool input = o->get_my_node()->get_sgate_type() == CDB_SGATE_IO_ENUM;
      if (m_visit[o] != 2 && (m_seq || input)) sorted.push_front(o);
    }
    return sorted;
  }

  // Kosaraju's second pass over the sort, as scc_oterms numbers it.
  void components(OTERM_LIST& scc_list, KAVU_SORT::SCC_MAP& scc_map) {
    const OTERM_LIST sorted = sort();
    for (auto& entry : m_visit) entry.second = 0;
    for (CDB_SGATE_OTERM* o : m_terms) scc_map[o] = 0;
    for (CDB_SGATE_OTERM* o : m_begin) m_visit[o] = 1;
    int c = 1;
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
      if (m_visit[*it] == 2) continue;
      OTERM_LIST found;
      if (m_visit[*it] == 1) {
        m_visit[*it] = 2;
        found.push_back(*it);
      } else {
        dfs_fanout(*it, found);
      }
      for (auto f = found.rbegin(); f != found.rend(); ++f) {
        scc_map[*f] = c;
        scc_list.push_front(*f);
      }
      ++c;
    }
    for (auto& entry : scc_map) entry.second = c - entry.second;
  }

  std::vector<CDB_SGATE_OTERM*> feeders(CDB_SGATE_OTERM* o) const { return feeders_of(o, m_seq); }
  const OTERM_LIST& begin() const { return m_begin; }
  const std::vector<CDB_SGATE_OTERM*>& terms() const { return m_terms; }

 private:
  void dfs_fanin(CDB_SGATE_OTERM* o, OTERM_LIST& sorted) { naive_fanin(o, m_visit, m_seq, sorted); }
  void dfs_fanout(CDB_SGATE_OTERM* o, OTERM_LIST& found) { naive_fanout(o, m_visit, m_seq, found); }

  bool m_seq;
  std::vector<CDB_SGATE_OTERM*> m_terms;
  NAIVE_VISIT m_visit;
  OTERM_LIST m_begin, m_end;
};

// Components by closure: two terminals share one when each reaches the
// other along feeder edges that avoid begin terminals.
std::vector<std::vector<bool>> same_component(const REFERENCE_SORT& ref) {
  const std::vector<CDB_SGATE_OTERM*>& terms = ref.terms();
  const size_t n = terms.size();
  std::map<CDB_SGATE_OTERM*, size_t> index;
  for (size_t i = 0; i < n; ++i) index[terms[i]] = i;
  std::set<CDB_SGATE_OTERM*> begin(ref.begin().begin(), ref.begin().end());
  std::vector<std::vector<bool>> reach(n, std::vector<bool>(n, false));
  for (size_t i = 0; i < n; ++i) {
    reach[i][i] = true;
    if (begin.count(terms[i])) continue;
    for (CDB_SGATE_OTERM* f : ref.feeders(terms[i]))
      if (index.count(f) && !begin.count(f)) reach[index[f]][i] = true;
  }
  for (size_t k = 0; k < n; ++k)
    for (size_t i = 0; i < n; ++i)
      if (reach[i][k])
        for (size_t j = 0; j < n; ++j) reach[i][j] = reach[i][j] || reach[k][j];
  std::vector<std::vector<bool>> same(n, std::vector<bool>(n));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) same[i][j] = reach[i][j] && reach[j][i];
  return same;
}

// Sorts (the order is compared outside sequential mode, where the reference
// defines one) and splits nl into components in the given mode, expects
// both to equal the reference's, and returns the component map.
KAVU_SORT::SCC_MAP expect_reference_order(CDB_SGATE_NETLIST* nl, REFERENCE_SORT& ref, bool sequential,
                                          const std::string& what) {
  KAVU_SORT sorter(nullptr, false, sequential, false);
  OTERM_LIST sorted, scc_list, ref_list;
  KAVU_SORT::SCC_MAP scc_map, ref_map;
  sorter.sort_oterms(nl, sorted, false);
  if (!sequential) {
    EXPECT_EQ(sorted, ref.sort()) << what;
  }
  KAVU_SEQ_TIMER_CLK_DOMAIN domain;
  domain.get_oterms() = ref.terms();
  sorter.scc_oterms(nl, scc_list, scc_map, false, nullptr, nullptr, sequential ? &domain : nullptr);
  ref.components(ref_list, ref_map);
  EXPECT_EQ(scc_list, ref_list) << what;
  EXPECT_EQ(scc_map, ref_map) << what;
  return scc_map;
}

}  // namespace

// Recursive walks: the exact order and component list of the naive model,
// in both modes; the components also by closure.
TEST(KavuSortReference, RandomLoopedNetlistsMatchNaiveModel) {
  CFG_SCOPE cfg{{"kavu_sort_use_non_recur", "off"}};
  int loops = 0, self_loops = 0;
  for (uint32_t seed = 1; seed <= 150; ++seed) {
    auto nl = random_looped_netlist(seed, 4 + int(seed % 30), int(seed % 4) * 15);
    for (bool sequential : {false, true}) {
      const std::string what = "seed " + std::to_string(seed) + (sequential ? " sequential" : "");
      REFERENCE_SORT ref(nl.get(), sequential);
      KAVU_SORT::SCC_MAP scc_map = expect_reference_order(nl.get(), ref, sequential, what);
      const std::vector<std::vector<bool>> same = same_component(ref);
      for (size_t i = 0; i < ref.terms().size(); ++i) {
        for (size_t j = 0; j < ref.terms().size(); ++j)
          EXPECT_EQ(scc_map[ref.terms()[i]] == scc_map[ref.terms()[j]], bool(same[i][j])) << what;
        const std::vector<CDB_SGATE_OTERM*> f = ref.feeders(ref.terms()[i]);
        self_loops += std::count(f.begin(), f.end(), ref.terms()[i]) > 0 ? 1 : 0;
      }
      loops += largest_component(scc_map) > 1 ? 1 : 0;
    }
  }
  EXPECT_GE(loops, 60);  // the generator really made loops
  EXPECT_GE(self_loops, 20);
}

// The stack walks (the default in sequential mode) order differently, but
// give the same components as the closure and Boost on larger netlists and
// list feeders before their sinks across components.
TEST(KavuSortReference, StackWalksAgreeWithClosureAndBoost) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const int gates = seed % 2 ? 30 : 400;
    auto nl = random_looped_netlist(seed, gates, 10);
    for (bool sequential : {false, true}) {
      const std::string what = "seed " + std::to_string(seed) + (sequential ? " sequential" : "");
      CFG_SCOPE cfg{{"kavu_sort_debug", "1"}, {"kavu_sort_use_non_recur", "on"}};
      REFERENCE_SORT ref(nl.get(), sequential);
      OTERM_LIST scc_list, sorted;
      KAVU_SORT::SCC_MAP scc_map = components(nl.get(), sequential, &scc_list);
      KAVU_SORT(nullptr, false, sequential, false).sort_oterms(nl.get(), sorted, false);
      std::map<CDB_SGATE_OTERM*, size_t> position;
      for (CDB_SGATE_OTERM* o : sorted) position.emplace(o, position.size());
      EXPECT_EQ(position.size(), ref.terms().size()) << what;
      // The public sort stops at registers in both modes.
      auto boundary = [](CDB_SGATE_OTERM* o) { return is_boundary(o->get_my_node()) || !o->get_my_node()->get_number_of_input_terms(); };
      for (CDB_SGATE_OTERM* o : ref.terms()) {
        for (CDB_SGATE_OTERM* f : ref.feeders(o)) {
          if (boundary(f) || boundary(o) || scc_map[f] == scc_map[o]) continue;
          EXPECT_LT(position[f], position[o]) << what;
        }
      }
      if (gates > 100) {  // Boost sees register loops, so only where registers are no boundary
        if (sequential) expect_boost_partition(ref.terms(), scc_list, scc_map, true, what);
        continue;
      }
      const std::vector<std::vector<bool>> same = same_component(ref);
      for (size_t i = 0; i < ref.terms().size(); ++i)
        for (size_t j = 0; j < ref.terms().size(); ++j)
          EXPECT_EQ(scc_map[ref.terms()[i]] == scc_map[ref.terms()[j]], bool(same[i][j])) << what;
    }
  }
}

// Loop-free netlists: the order is a topological order of the whole feeder
// graph (edges from registers aside), as Boost's topological_sort finds one.
TEST(KavuSortReference, LoopFreeOrderIsTopologicalLikeBoost) {
  for (uint32_t seed = 1; seed <= 30; ++seed) {
    auto nl = random_looped_netlist(seed, 300, 0);
    REFERENCE_SORT ref(nl.get(), false);
    std::map<CDB_SGATE_OTERM*, size_t> index;
    for (CDB_SGATE_OTERM* o : ref.terms()) index.emplace(o, index.size());
    boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS> graph(index.size());
    for (CDB_SGATE_OTERM* o : ref.terms())
      for (CDB_SGATE_OTERM* f : ref.feeders(o))
        if (f->get_my_node()->get_sgate_type() != CDB_SGATE_DFF_ENUM) boost::add_edge(index[f], index[o], graph);
    std::vector<size_t> boost_order;
    boost::topological_sort(graph, std::back_inserter(boost_order));  // throws on a loop
    ASSERT_EQ(boost_order.size(), index.size());
    OTERM_LIST sorted;
    KAVU_SORT(nullptr, false, false, false).sort_oterms(nl.get(), sorted, false);
    ASSERT_EQ(sorted.size(), index.size()) << seed;
    std::vector<size_t> position(index.size());
    size_t p = 0;
    for (CDB_SGATE_OTERM* o : sorted) position[index[o]] = p++;
    for (size_t v = 0; v < index.size(); ++v) {
      for (auto [e, end] = boost::out_edges(v, graph); e != end; ++e)
        EXPECT_LT(position[v], position[boost::target(*e, graph)]) << seed;
    }
  }
}

// A cone as the cone calls build it: every end preset to 1, then each end
// in order reset and walked, so one end's walk stops at ends still waiting.
OTERM_LIST naive_cone(const OTERM_LIST& ends, NAIVE_VISIT& visit, bool fanin) {
  OTERM_LIST cone;
  for (auto& entry : visit) entry.second = 0;
  for (CDB_SGATE_OTERM* o : ends) visit[o] = 1;
  for (CDB_SGATE_OTERM* o : ends) {
    if (visit[o] != 1) continue;
    visit[o] = 0;
    if (fanin) naive_fanin(o, visit, false, cone);
    else naive_fanout(o, visit, false, cone);
  }
  return cone;
}

// Cones over every terminal and over a sparse set of map keys (sinks and
// sources outside the keys are entered by the call), and paths, against the
// naive walks; the map values must match too.
TEST(KavuSortReference, ConesAndPathsMatchNaiveWalks) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    auto nl = random_looped_netlist(seed, 10 + int(seed % 40), int(seed % 3) * 10);
    const std::vector<CDB_SGATE_OTERM*> terms = all_oterms(nl.get());
    const size_t n = terms.size();
    OTERM_LIST ends{terms[(seed * 7) % n], terms[(seed * 13 + 5) % n], terms[n - 1]};
    for (size_t stride : {size_t(1), size_t(9)}) {
      const std::string what = "seed " + std::to_string(seed) + " stride " + std::to_string(stride);
      KAVU_SORT::VISIT_MAP keys;
      for (size_t i = 0; i < n; i += stride) keys[terms[i]] = 7;
      KAVU_SORT sorter(nullptr, false, false, false);
      for (bool fanin : {true, false}) {
        NAIVE_VISIT naive = keys;
        const OTERM_LIST expected = naive_cone(ends, naive, fanin);
        KAVU_SORT::VISIT_MAP map = keys;
        OTERM_LIST cone;
        if (fanin) sorter.fanin_cone_oterms(ends, map, cone);
        else sorter.fanout_cone_oterms(ends, map, cone);
        EXPECT_EQ(cone, expected) << what << (fanin ? " fan-in" : " fan-out");
        EXPECT_EQ(map, naive) << what << (fanin ? " fan-in" : " fan-out");
      }
    }
    // Path: the fan-in cone of `to` (in its order) met with the fan-out cone of `from`.
    OTERM_LIST from{terms[seed % n]}, to{terms[n - 1], terms[(seed * 3) % n]}, path;
    NAIVE_VISIT visit;
    for (CDB_SGATE_OTERM* o : terms) visit[o] = 0;
    const OTERM_LIST fanin = naive_cone(to, visit, true), fanout = naive_cone(from, visit, false);
    OTERM_LIST expected;
    for (CDB_SGATE_OTERM* o : fanin)
      if (std::find(fanout.begin(), fanout.end(), o) != fanout.end()) expected.push_back(o);
    KAVU_SORT(nullptr, false, false, false).path_oterms(nl.get(), from, to, path);
    EXPECT_EQ(path, expected) << "seed " << seed;
  }
}

namespace {

// Random netlists of the gate kinds whose feeders the ordering reads from
// the inputs itself (AND, OR, 2:1 mux, LUT, buffer), with inputs tied to a
// constant, left unconnected or driven twice by one source, AND gates wider
// than that direct reading takes (from 32 to 41 inputs, repeats included),
// registers (some clocked from logic), and back edges that make loops and
// self-loops.
struct MIXED_COUNTS {
  int ties = 0, unconnected = 0, repeats = 0, wide = 0, narrow_wide = 0;
};

std::unique_ptr<CDB_SGATE_NETLIST> random_mixed_netlist(uint32_t seed, int gates, MIXED_COUNTS& counts) {
  LCG next{seed * 2246822519u + 77u};
  std::vector<CDB_SGATE_NODE*> nodes;
  CDB_SGATE_NODE* clk = nullptr;
  auto nl = start_random_netlist(nodes, clk);
  auto any = [&]() { return nodes[next(uint32_t(nodes.size()))]; };
  for (int i = 0; i < gates; ++i) {
    CDB_SGATE_NODE* x = any();
    switch (next(7)) {
      case 0: {  // the null source ties the second input to VCC
        const bool tie = next(3) == 0;
        counts.ties += tie ? 1 : 0;
        nodes.push_back(make_and(nl.get(), x, tie ? nullptr : any()));
        break;
      }
      case 1:
        ++counts.repeats;
        nodes.push_back(make_or(nl.get(), x, x));
        break;
      case 2: nodes.push_back(make_mux(nl.get(), x, any(), any())); break;
      case 3: {
        const bool open = next(3) == 0;
        counts.unconnected += open ? 1 : 0;
        nodes.push_back(make_buffer(nl.get(), open ? nullptr : x));
        break;
      }
      case 4: nodes.push_back(make_lut(nl.get(), {x, any(), any()}, 0xe8)); break;
      case 5: {
        CDB_SGATE_NODE* wide = make_and(nl.get(), x, any());
        const unsigned more = 30 + next(10);
        for (unsigned k = 0; k < more; ++k) wide->insert_unordered_fanin(out_of(k % 5 ? any() : x));
        wide->get_input_term(1 + next(more))->set_gnd();
        (wide->get_number_of_input_terms() > 32 ? counts.wide : counts.narrow_wide)++;
        nodes.push_back(wide);
        break;
      }
      default:  // now and then a clock from logic, which feeds no register in sequential mode
        nodes.push_back(make_dff(nl.get(), x, next(4) == 0 ? any() : clk));
    }
  }
  for (size_t i = 3; i < nodes.size(); ++i) {  // back edges and self-loops
    if (next(100) >= 12) continue;
    const unsigned input = nodes[i]->get_sgate_type() == CDB_SGATE_DFF_ENUM ? unsigned(CDB_DFF_DATA) : 0u;
    nodes[i]->get_input_term(input)->set_source(out_of(nodes[3 + next(uint32_t(nodes.size() - 3))]));
  }
  for (int o = 0; o < 2; ++o) make_output_pin(nl.get(), ("o" + std::to_string(o)).c_str(), any());
  return nl;
}

}  // namespace

// Gates whose inputs the ordering reads directly (ties, unconnected and
// repeated inputs, gates just below and above the width it reads that way)
// give exactly the order, components and cones of the naive model, which
// asks the feeder rule for every terminal; in both modes, the sequential
// one over a clock domain, whose feeders are asked during the walks.
TEST(KavuSortReference, GatesReadDirectlyMatchTheFeederRule) {
  CFG_SCOPE cfg{{"kavu_sort_use_non_recur", "off"}};
  MIXED_COUNTS counts;
  int loops = 0, cut = 0;
  for (uint32_t seed = 1; seed <= 60; ++seed) {
    auto nl = random_mixed_netlist(seed, 10 + int(seed % 50), counts);
    for (bool sequential : {false, true}) {
      const std::string what = "seed " + std::to_string(seed) + (sequential ? " sequential" : "");
      REFERENCE_SORT ref(nl.get(), sequential);
      const KAVU_SORT::SCC_MAP scc_map = expect_reference_order(nl.get(), ref, sequential, what);
      loops += largest_component(scc_map) > 1 ? 1 : 0;
    }
    KAVU_SORT::VISIT_MAP keys;
    for (CDB_SGATE_OTERM* o : all_oterms(nl.get())) keys[o] = 0;
    OTERM_LIST ends{all_oterms(nl.get()).back()}, cone;
    NAIVE_VISIT naive = keys;
    const OTERM_LIST expected = naive_cone(ends, naive, true);
    KAVU_SORT(nullptr, false, false, false).fanin_cone_oterms(ends, keys, cone);
    EXPECT_EQ(cone, expected) << "seed " << seed << " cone";
    // A gate's feeders are its distinct sources: cutting every input that
    // repeats an earlier input's source leaves the components of the stack
    // walks (which push every feeder at once and so would see a repeat)
    // exactly as they were.
    CFG_SCOPE stack_walks{{"kavu_sort_use_non_recur", "on"}};
    const KAVU_SORT::SCC_MAP with_repeats = components(nl.get(), true);
    for (CDB_SGATE_OTERM* o : all_oterms(nl.get())) {
      CDB_SGATE_NODE* node = o->get_my_node();
      const CDB_SGATE_TYPE type = node->get_sgate_type();
      if (o != node->get_output_term(0) || (type != CDB_SGATE_COMB_ENUM && type != CDB_SGATE_LUT_ENUM)) continue;
      std::set<CDB_SGATE_OTERM*> sources;
      for (CDB_SGATE_ITERM* t : node->get_input_terms()) {
        if (!t || !t->get_source() || !t->is_connected() || sources.insert(t->get_source()).second) continue;
        t->disconnect_from_source();
        ++cut;
      }
    }
    EXPECT_EQ(components(nl.get(), true), with_repeats) << "seed " << seed << " repeats cut";
  }
  // The generator really made every case.
  EXPECT_GE(loops, 20);
  EXPECT_GE(cut, 20);
  EXPECT_GE(counts.ties, 10);
  EXPECT_GE(counts.unconnected, 10);
  EXPECT_GE(counts.repeats, 20);
  EXPECT_GE(counts.wide, 10);
  EXPECT_GE(counts.narrow_wide, 5);
}
