// Tests of k-feasible cut enumeration against a plain reference written
// here: the bounded walk's cone, a depth-first post-order, cut sets merged
// fan-in by fan-in with a vector-erasing dominance filter. Every head of
// real circuits, several K and depths; results must match cut for cut, leaf
// for leaf, in order.
#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

#include "kavu_cut.h"
#include "testkit/platform_testkit.h"

using namespace kavu_platform;

namespace {

typedef KAVU_WVNET_MANAGER::OTERM_LIST OTERM_LIST;
typedef KAVU_WVNET_MANAGER::CUT_SET CUT_SET;
typedef std::vector<int> ICUT;

const CDB_SGATE_OTERM* driver(const CDB_SGATE_ITERM* t) {
  return t && cdb_is_connected(t) ? t->get_source() : nullptr;
}

// Sorted union of two sorted cuts; empty when it has more than k leaves.
ICUT unite(const ICUT& a, const ICUT& b, unsigned k) {
  ICUT u;
  std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(u));
  return u.size() <= k ? u : ICUT();
}

void add_irredundant(std::vector<ICUT>& set, const ICUT& cut) {
  for (size_t c = 0; c < set.size();) {
    if (std::includes(cut.begin(), cut.end(), set[c].begin(), set[c].end())) return;
    if (cut.size() < set[c].size() && std::includes(set[c].begin(), set[c].end(), cut.begin(), cut.end())) {
      set.erase(set.begin() + long(c));
      continue;
    }
    ++c;
  }
  set.push_back(cut);
}

// get_all_cuts as a caller expects it, computed the plain way.
bool reference_cuts(KAVU_WVNET_MANAGER& m, CDB_SGATE_OTERM* head, unsigned depth, unsigned k,
                    CDB_SGATE_OTERM* mandatory, CUT_SET* out) {
  out->clear();
  if (k == 0) return false;
  OTERM_LIST o, s, t;
  m.get_cone(head, depth > unsigned(INT_MAX) ? INT_MAX : int(depth), false, false, false, false, true, &o, &s, &t,
             mandatory);
  const std::set<const CDB_SGATE_OTERM*> leaves(s.begin(), s.end());
  std::unordered_map<const CDB_SGATE_OTERM*, int> index;  // -1 while on the stack
  std::vector<CDB_SGATE_OTERM*> order;
  std::vector<std::pair<CDB_SGATE_OTERM*, int>> stack{{head, 0}};
  index[head] = -1;
  while (!stack.empty()) {
    CDB_SGATE_OTERM* x = stack.back().first;
    const int next = stack.back().second;
    const CDB_SGATE_NODE* gate = x->get_my_node();
    if (!leaves.count(x) && next < int(gate->get_number_of_input_terms())) {
      ++stack.back().second;
      CDB_SGATE_OTERM* d = const_cast<CDB_SGATE_OTERM*>(driver(gate->get_input_term(unsigned(next))));
      if (!d) continue;
      auto found = index.find(d);
      if (found != index.end()) {
        if (found->second < 0) return false;  // a loop
        continue;
      }
      index[d] = -1;
      stack.push_back({d, 0});
      continue;
    }
    index[x] = int(order.size());
    order.push_back(x);
    stack.pop_back();
  }
  std::vector<std::vector<ICUT>> sets(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    sets[i].push_back({int(i)});
    if (leaves.count(order[i])) continue;
    std::vector<ICUT> working;
    bool first = true;
    for (const CDB_SGATE_ITERM* it : order[i]->get_my_node()->get_input_terms()) {
      if (!driver(it)) continue;
      const std::vector<ICUT>& fanin = sets[size_t(index.at(driver(it)))];
      if (first) {
        working = fanin;
        first = false;
        continue;
      }
      std::vector<ICUT> result;
      for (const ICUT& a : working)
        for (const ICUT& b : fanin) {
          const ICUT u = unite(a, b, k);
          if (!u.empty()) add_irredundant(result, u);
        }
      working.swap(result);
    }
    sets[i].insert(sets[i].end(), working.begin(), working.end());
  }
  const int mandatory_index = mandatory && index.count(mandatory) ? index.at(mandatory) : -1;
  for (size_t c = 1; c < sets.back().size(); ++c) {
    const ICUT& cut = sets.back()[c];
    const bool has = !mandatory || std::count(cut.begin(), cut.end(), mandatory_index);
    if (!has && cut.size() >= k) continue;
    KAVU_WVNET_MANAGER::CUT leaves_out;
    for (int i : cut) leaves_out.push_back(order[size_t(i)]);
    if (!has) leaves_out.push_back(mandatory);
    out->push_back(leaves_out);
  }
  return !out->empty();
}

// Every output terminal of every gate with inputs.
std::vector<CDB_SGATE_OTERM*> all_heads(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_OTERM*> heads;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!*it || (*it)->get_number_of_input_terms() == 0) continue;
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o) heads.push_back(o);
  }
  return heads;
}

struct ENUM_CASE {
  const char* circuit;
  unsigned k;
  std::vector<unsigned> depths;
};

// The driver of a head's first connected input, or null.
CDB_SGATE_OTERM* first_driver(const CDB_SGATE_OTERM* head) {
  for (const CDB_SGATE_ITERM* it : head->get_my_node()->get_input_terms())
    if (driver(it)) return const_cast<CDB_SGATE_OTERM*>(driver(it));
  return nullptr;
}

// Heads whose results differ from the reference, with the first one named;
// every third head also with its first driver as the mandatory terminal.
void expect_matches_reference(KAVU_WVNET_MANAGER& m, CDB_SGATE_NETLIST* nl, const ENUM_CASE& c) {
  CUT_SET got, want;
  for (unsigned depth : c.depths) {
    int differ = 0, total = 0, n = 0;
    std::string first;
    for (CDB_SGATE_OTERM* head : all_heads(nl)) {
      for (CDB_SGATE_OTERM* mandatory : {(CDB_SGATE_OTERM*)nullptr, first_driver(head)}) {
        if (mandatory && n % 3) continue;
        const bool want_ok = reference_cuts(m, head, depth, c.k, mandatory, &want);
        const bool got_ok = m.get_all_cuts(head, depth, c.k, mandatory, &got);
        total += int(want.size());
        if (got_ok != want_ok || got != want) {
          if (differ++ == 0) first = head->get_my_node()->get_debug_name() + (mandatory ? " (mandatory)" : "");
        }
      }
      ++n;
    }
    EXPECT_EQ(differ, 0) << c.circuit << " K=" << c.k << " depth " << depth << ": first at " << first;
    if (depth >= 2) {
      EXPECT_GT(total, 0) << c.circuit << " K=" << c.k << " depth " << depth;
    }
  }
}

const unsigned UNBOUNDED = UINT_MAX;

const ENUM_CASE CASES[] = {
    {"epfl/ctrl", 4, {0, 1, 2, 3, 5, 8, UNBOUNDED}},
    {"epfl/router", 3, {2, 4, 7, UNBOUNDED}},
    {"epfl/int2float", 6, {3, 10, UNBOUNDED}},
    {"lut6/ctrl", 6, {2, 3, 4, UNBOUNDED}},
    {"mcnc/s298", 4, {3, 12}},
    {"small/crc8_generic", 5, {2, 4, UNBOUNDED}},
    {"small/mult6_lut4", 4, {3, 5, UNBOUNDED}},
};

TEST(KavuCutEnumeration, EveryHeadMatchesThePlainEnumeration) {
  for (const ENUM_CASE& c : CASES) {
    LOADED_NETLIST nl = load_blif(c.circuit);
    KAVU_WVNET_MANAGER m;
    expect_matches_reference(m, nl.get(), c);
    // Within a pass the kept sets answer; the results may not change.
    m.begin_cut_pass(nl.get(), c.k);
    EXPECT_GT(m.cut_pass_size(), 0u) << c.circuit;
    expect_matches_reference(m, nl.get(), c);
    m.end_cut_pass();
    EXPECT_EQ(m.cut_pass_size(), 0u);
  }
}

// Depths 0 to last, then unbounded.
std::vector<unsigned> every_depth(unsigned last) {
  std::vector<unsigned> depths;
  for (unsigned d = 0; d <= last; ++d) depths.push_back(d);
  depths.push_back(UNBOUNDED);
  return depths;
}

// Inside a pass every head must get what it gets on its own, cut for cut,
// leaf for leaf, in order: on deep circuits, where the walk that orders the
// leaves prunes with every labelling and the terminals' heights (and on
// sin, whose walks hit many dead ends, with the hub sets too; every 64th
// head is checked there and every 16th on max, as a head enumerated on its
// own walks its whole cone), and at every depth up to one
// past the logic depth on shallow ones (heads at or beyond the depth are
// enumerated on their own, the others answered from the pass).
TEST(KavuCutEnumeration, PassAnswersEqualPerHeadEnumeration) {
  struct PASS_CASE {
    ENUM_CASE c;
    size_t stride;
  };
  const PASS_CASE cases[] = {
      {{"epfl/ctrl", 4, every_depth(11)}, 1},
      {{"epfl/int2float", 5, every_depth(17)}, 1},
      {{"epfl/priority", 4, {UNBOUNDED}}, 1},
      {{"epfl/priority", 6, {UNBOUNDED}}, 1},
      {{"epfl/adder", 3, {2, 100, UNBOUNDED}}, 1},
      {{"epfl/sin", 4, {UNBOUNDED}}, 64},
      {{"epfl/max", 4, {UNBOUNDED}}, 16},
  };
  for (const PASS_CASE& p : cases) {
    const ENUM_CASE& c = p.c;
    LOADED_NETLIST nl = load_blif(c.circuit);
    const std::vector<CDB_SGATE_OTERM*> all = all_heads(nl.get());
    KAVU_WVNET_MANAGER m;
    std::vector<std::pair<bool, CUT_SET>> alone;
    for (unsigned depth : c.depths) {
      for (size_t h = 0; h < all.size(); h += p.stride) {
        alone.emplace_back();
        alone.back().first = m.get_all_cuts(all[h], depth, c.k, nullptr, &alone.back().second);
      }
    }
    m.begin_cut_pass(nl.get(), c.k);
    ASSERT_GT(m.cut_pass_size(), 0u) << c.circuit;
    size_t i = 0;
    CUT_SET got;
    for (unsigned depth : c.depths) {
      int differ = 0;
      std::string first;
      for (size_t h = 0; h < all.size(); ++h) {
        // Every head is answered, in order, so the pass sees the walks it
        // would see; those enumerated on their own above are compared.
        const bool ok = m.get_all_cuts(all[h], depth, c.k, nullptr, &got);
        if (h % p.stride) continue;
        if ((ok != alone[i].first || got != alone[i].second) && differ++ == 0)
          first = all[h]->get_my_node()->get_debug_name();
        ++i;
      }
      EXPECT_EQ(differ, 0) << c.circuit << " K=" << c.k << " depth " << depth << ": first at " << first;
    }
    m.end_cut_pass();
  }
}

// Netlists a pass must not get wrong: a don't-unmap LUT (it passes only as
// the head), a combinational loop with logic behind it, a pass of another K,
// and an edit between two passes. Every head of each is checked against the
// reference at several depths, inside the pass.
TEST(KavuCutEnumeration, PassOnLoopsDontUnmapLutsOtherKAndEdits) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> in;
  for (int i = 0; i < 6; ++i) in.push_back(make_input_pin(&nl, ("i" + std::to_string(i)).c_str()));
  CDB_SGATE_NODE* a = make_and(&nl, in[0], in[1]);
  CDB_SGATE_NODE* b = make_xor(&nl, a, in[2]);
  CDB_SGATE_NODE* lut = make_lut(&nl, {a, b, in[3]}, 0x96);
  lut->set_flag_byte(CDB_KIND_BYTE, CDB_LUT_DONT_UNMAP);
  CDB_SGATE_NODE* c = make_or(&nl, lut, b);
  CDB_SGATE_NODE* d = make_and(&nl, c, make_not(&nl, lut));
  // A loop p <-> q fed by i4, and logic behind it.
  CDB_SGATE_NODE* p = make_and(&nl, in[4], nullptr);
  CDB_SGATE_NODE* q = make_or(&nl, p, in[5]);
  p->get_input_term(1)->set_source(q->get_output_term(0));
  CDB_SGATE_NODE* behind = make_xor(&nl, q, d);
  make_output_pin(&nl, "o", behind);
  make_output_pin(&nl, "o2", d);

  KAVU_WVNET_MANAGER m;
  const ENUM_CASE all{"hand-built", 3, {1, 2, 3, 4, 6, UNBOUNDED}};
  m.begin_cut_pass(&nl, 3);
  expect_matches_reference(m, &nl, all);
  // A pass of another K leaves these calls to the per-head enumeration.
  m.begin_cut_pass(&nl, 2);
  expect_matches_reference(m, &nl, all);
  // K beyond what a pass keeps: no pass at all.
  m.begin_cut_pass(&nl, 40);
  EXPECT_EQ(m.cut_pass_size(), 0u);
  expect_matches_reference(m, &nl, ENUM_CASE{"hand-built", 40, {3, UNBOUNDED}});
  // An edit between passes: the next pass sees the new netlist.
  m.begin_cut_pass(&nl, 3);
  CDB_SGATE_NODE* e = make_and(&nl, in[2], in[3]);
  d->get_input_term(0)->set_source(e->get_output_term(0));
  m.end_cut_pass();
  m.begin_cut_pass(&nl, 3);
  expect_matches_reference(m, &nl, all);
  CUT_SET cuts;
  ASSERT_TRUE(m.get_all_cuts(d->get_output_term(0), UNBOUNDED, 3, nullptr, &cuts));
  EXPECT_NE(std::find(cuts.begin(), cuts.end(), KAVU_WVNET_MANAGER::CUT{e->get_output_term(0),
                                                                          lut->get_output_term(0)}),
            cuts.end());
  EXPECT_FALSE(m.get_all_cuts(behind->get_output_term(0), UNBOUNDED, 3, nullptr, &cuts));  // loop behind
  m.end_cut_pass();
}

}  // namespace
