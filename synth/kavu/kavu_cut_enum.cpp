// kavu_cut_enum.cpp — k-feasible cut enumeration over one head's fan-in
// cone: all irredundant cuts (get_all_cuts), the fan-out-free ones
// (get_all_ff_cuts), and one large fan-out-free cone (big_fanout_free_cut).
//
// Model: the cone comes from the bounded walk; its sources are the leaves.
//   The cone is put in topological order (fan-ins first, head last) by a
//   depth-first post-order on an explicit stack; a terminal's position in
//   that order is its index, kept in the enumerator's own arrays (terminals'
//   aux values are not touched). Cut sets are built bottom-up: a leaf has
//   only its trivial cut; any other terminal has its trivial cut followed
//   by the irredundant unions of its fan-ins' cut sets, merged fan-in by
//   fan-in in input order.
// Cuts: sorted leaf indices in a pool with one fixed stride (K) per run, a
//   size and a 64-bit signature (bit index % 64). A pair whose signatures
//   together hold more than K bits cannot merge into K leaves; a cut c
//   cannot be a subset of n when c's signature has a bit n's lacks. Only
//   pairs that pass these tests compare leaves.
// Invariants: every cut of a set is sorted and duplicate-free, and no cut of
//   a set contains another. A combinational loop inside the cone has no
//   topological order; the enumeration then returns no cut.
// Cost: linear in the cone plus, per terminal with fan-ins, the pairs of the
//   fan-ins' cut sets; scratch pools are reused across terminals.
#include <algorithm>
#include <bit>
#include <climits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "kavu_check.h"
#include "kavu_cut.h"
#include "kavu_cut_int.h"
#include "kavu_msg.h"
#include "kavu_setup.h"

namespace {

typedef std::vector<CDB_SGATE_OTERM*> OTERM_VECTOR;

struct CUT_REF {
  int m_offset;  // first leaf in the pool
  int m_size;
  uint64_t m_sig;
};

// An ordered set of cuts whose leaves live in one pool.
class CUT_POOL {
 public:
  void clear() {
    m_cuts.clear();
    m_leaves.clear();
  }
  int size() const { return int(m_cuts.size()); }
  const CUT_REF& cut(int i) const { return m_cuts[i]; }
  const int* leaves(const CUT_REF& c) const { return m_leaves.data() + c.m_offset; }
  void append(const int* leaves, int size, uint64_t sig) {
    m_cuts.push_back({int(m_leaves.size()), size, sig});
    m_leaves.insert(m_leaves.end(), leaves, leaves + size);
  }
  // Keeps the order of the cuts behind it; the leaves stay in the pool.
  void erase(int i) { m_cuts.erase(m_cuts.begin() + i); }

 private:
  std::vector<CUT_REF> m_cuts;
  std::vector<int> m_leaves;
};

// Whether sorted a[0..na) is a subset of sorted b[0..nb).
bool is_subset(const int* a, int na, const int* b, int nb) {
  int j = 0;
  for (int i = 0; i < na; ++i) {
    while (j < nb && b[j] < a[i]) ++j;
    if (j == nb || b[j] != a[i]) return false;
    ++j;
  }
  return true;
}

struct CUT_RUN_STATS {
  long m_pairs_tried = 0;
  long m_refused_by_signature = 0;
  long m_too_large = 0;
  long m_dominated = 0;
};

class CUT_ENUMERATOR {
 public:
  // `fanin_begin`/`fanins`: per order position, the positions of the
  // drivers of its driven inputs in input order (empty for leaves).
  CUT_ENUMERATOR(int num_terms, const std::vector<int>& fanin_begin, const std::vector<int>& fanins,
                 int k)
      : m_num_terms(num_terms), m_fanin_begin(fanin_begin), m_fanins(fanins), m_k(k) {
    m_first.assign(num_terms, 0);
    m_count.assign(num_terms, 0);
    m_union.resize(k + 1);
  }

  void run() {
    for (int i = 0; i < m_num_terms; ++i) {
      m_first[i] = m_store.size();
      m_store.append(&i, 1, signature_of(i));  // the trivial cut comes first
      const int begin = m_fanin_begin[i], end = m_fanin_begin[i + 1];
      if (begin < end) {
        copy_cuts(m_fanins[begin], &m_working);
        for (int p = begin + 1; p < end; ++p) merge_into_working(m_fanins[p]);
        for (int c = 0; c < m_working.size(); ++c) {
          const CUT_REF& ref = m_working.cut(c);
          m_store.append(m_working.leaves(ref), ref.m_size, ref.m_sig);
        }
      }
      m_count[i] = m_store.size() - m_first[i];
    }
  }

  int num_cuts(int i) const { return m_count[i]; }
  const CUT_REF& cut(int i, int c) const { return m_store.cut(m_first[i] + c); }
  const int* leaves(const CUT_REF& ref) const { return m_store.leaves(ref); }
  const CUT_RUN_STATS& stats() const { return m_stats; }

 private:
  static uint64_t signature_of(int index) { return uint64_t(1) << (index % 64); }

  void copy_cuts(int j, CUT_POOL* to) {
    to->clear();
    for (int c = 0; c < m_count[j]; ++c) {
      const CUT_REF& ref = m_store.cut(m_first[j] + c);
      to->append(m_store.leaves(ref), ref.m_size, ref.m_sig);
    }
  }

  // Replaces the working set by the irredundant feasible unions of its cuts
  // with the cuts of position j (working cuts outer, j's cuts inner).
  void merge_into_working(int j) {
    m_result.clear();
    for (int x = 0; x < m_working.size(); ++x) {
      const CUT_REF& a = m_working.cut(x);
      for (int y = 0; y < m_count[j]; ++y) {
        const CUT_REF& b = m_store.cut(m_first[j] + y);
        ++m_stats.m_pairs_tried;
        const uint64_t sig = a.m_sig | b.m_sig;
        if (std::popcount(sig) > m_k) {
          ++m_stats.m_refused_by_signature;
          continue;
        }
        const int size = merge_leaves(m_working.leaves(a), a.m_size, m_store.leaves(b), b.m_size);
        if (size < 0) {
          ++m_stats.m_too_large;
          continue;
        }
        add_if_irredundant(m_union.data(), size, sig);
      }
    }
    std::swap(m_working, m_result);
  }

  // Sorted union into m_union; -1 as soon as it would exceed K leaves.
  int merge_leaves(const int* a, int na, const int* b, int nb) {
    int i = 0, j = 0, n = 0;
    while (i < na || j < nb) {
      int next;
      if (j == nb || (i < na && a[i] < b[j])) next = a[i++];
      else if (i == na || b[j] < a[i]) next = b[j++];
      else { next = a[i++]; ++j; }
      if (n == m_k) return -1;
      m_union[n++] = next;
    }
    return n;
  }

  // Offers a cut to m_result: dropped when a cut there is a subset of it
  // (equal cuts included); cuts it is a proper subset of are erased.
  void add_if_irredundant(const int* leaves, int size, uint64_t sig) {
    for (int c = 0; c < m_result.size();) {
      const CUT_REF& old = m_result.cut(c);
      if ((old.m_sig & ~sig) == 0 && old.m_size <= size &&
          is_subset(m_result.leaves(old), old.m_size, leaves, size)) {
        ++m_stats.m_dominated;
        return;
      }
      if ((sig & ~old.m_sig) == 0 && size < old.m_size &&
          is_subset(leaves, size, m_result.leaves(old), old.m_size)) {
        ++m_stats.m_dominated;
        m_result.erase(c);
        continue;
      }
      ++c;
    }
    m_result.append(leaves, size, sig);
  }

  int m_num_terms;
  const std::vector<int>& m_fanin_begin;
  const std::vector<int>& m_fanins;
  int m_k;
  CUT_POOL m_store;  // every position's cuts, position by position
  std::vector<int> m_first, m_count;
  CUT_POOL m_working, m_result;  // scratch, reused per position
  std::vector<int> m_union;
  CUT_RUN_STATS m_stats;
};

// The topological order of a cone and the positions of each terminal's
// drivers. False when the cone holds a combinational loop.
class CONE_ORDER {
 public:
  bool build(CDB_SGATE_OTERM* head, const KAVU_WVNET_MANAGER::OTERM_LIST& leaves);
  OTERM_VECTOR m_order;
  std::vector<int> m_fanin_begin, m_fanins;
  std::vector<uint8_t> m_is_leaf;

 private:
  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    unsigned m_next;
  };
  std::unordered_map<const CDB_SGATE_OTERM*, int> m_position;
};

bool CONE_ORDER::build(CDB_SGATE_OTERM* head, const KAVU_WVNET_MANAGER::OTERM_LIST& leaves) {
  const std::unordered_set<const CDB_SGATE_OTERM*> leaf_set(leaves.begin(), leaves.end());
  std::unordered_set<const CDB_SGATE_OTERM*> on_stack{head};
  std::vector<FRAME> stack{{head, 0}};
  while (!stack.empty()) {
    FRAME& frame = stack.back();
    CDB_SGATE_OTERM* oterm = frame.m_oterm;
    const CDB_SGATE_NODE* gate = oterm->get_my_node();
    if (!leaf_set.count(oterm) && frame.m_next < gate->get_number_of_input_terms()) {
      CDB_SGATE_OTERM* driver = cut_driver_of(gate->get_input_term(frame.m_next++));
      if (!driver || m_position.count(driver)) continue;
      if (!on_stack.insert(driver).second) return false;  // a combinational loop
      stack.push_back({driver, 0});  // `frame` may dangle from here on
      continue;
    }
    on_stack.erase(oterm);
    m_position.emplace(oterm, int(m_order.size()));
    m_order.push_back(oterm);
    m_is_leaf.push_back(leaf_set.count(oterm) ? 1 : 0);
    stack.pop_back();
  }
  m_fanin_begin.assign(1, 0);
  for (size_t i = 0; i < m_order.size(); ++i) {
    if (!m_is_leaf[i]) {
      for (const CDB_SGATE_ITERM* iterm : m_order[i]->get_my_node()->get_input_terms()) {
        const CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
        if (!driver) continue;
        const int j = m_position.at(driver);
        KAVU_CHECK((j < int(i)) && (m_order[j] == driver));
        m_fanins.push_back(j);
      }
    }
    m_fanin_begin.push_back(int(m_fanins.size()));
  }
  return true;
}

std::string cut_text(const int* leaves, int size) {
  std::string text = "[ ";
  for (int i = 0; i < size; ++i) text += std::to_string(leaves[i]) + " ";
  return text + "]";
}

void trace_enumeration(const CONE_ORDER& cone, const CUT_ENUMERATOR& cuts) {
  kavu_debug("Found the following oterms in the cone (top order inputs first):");
  for (size_t i = 0; i < cone.m_order.size(); ++i) {
    const CDB_SGATE_NODE* gate = cone.m_order[i]->get_my_node();
    kavu_debug("  - %d: %s %s%s", int(i), gate->get_string_type_name(),
               gate->get_debug_name().c_str(), cone.m_is_leaf[i] ? " (source)" : "");
  }
  kavu_debug("The enumerated cuts are: ");
  for (size_t i = 0; i < cone.m_order.size(); ++i) {
    std::string line;
    for (int c = 0; c < cuts.num_cuts(int(i)); ++c) {
      const CUT_REF& ref = cuts.cut(int(i), c);
      line += cut_text(cuts.leaves(ref), ref.m_size);
    }
    kavu_debug(" - %d (%d): %s", int(i), cuts.num_cuts(int(i)), line.c_str());
  }
  const CUT_RUN_STATS& stats = cuts.stats();
  kavu_debug("Pairs tried %ld, refused by signature %ld, too large %ld, dominated %ld",
             stats.m_pairs_tried, stats.m_refused_by_signature, stats.m_too_large,
             stats.m_dominated);
}

void trace_entry(const CDB_SGATE_OTERM* head, bool mandatory, unsigned depth, unsigned k) {
  const CDB_SGATE_NODE* gate = head->get_my_node();
  kavu_debug("Entering get_all_cuts for oterm %s %s (%s). Max depth = %d, max cut size = %d",
             gate->get_string_type_name(), gate->get_debug_name().c_str(),
             mandatory ? "with mandatory cut oterm" : "no mandatory cut oterm", int(depth), int(k));
}

void trace_result(const CDB_SGATE_OTERM* head, const std::string& mandatory_text,
                  const KAVU_WVNET_MANAGER::CUT_SET& cuts,
                  const std::unordered_map<const CDB_SGATE_OTERM*, int>& index) {
  std::string text;
  for (const KAVU_WVNET_MANAGER::CUT& cut : cuts) {
    text += "[ ";
    for (const CDB_SGATE_OTERM* leaf : cut) text += std::to_string(index.at(leaf)) + " ";
    text += "]";
  }
  const CDB_SGATE_NODE* gate = head->get_my_node();
  kavu_debug("Final cutset for head oterm %s %s (%s): %s", gate->get_string_type_name(),
             gate->get_debug_name().c_str(), mandatory_text.c_str(), text.c_str());
}

// No cut has more leaves than the cone has terminals, so that bounds the
// leaf stride of the enumeration whatever the caller's K.
int enumeration_bound(unsigned max_cut_size, size_t cone_size) {
  return int(std::min<size_t>(max_cut_size, cone_size));
}

int walk_depth(unsigned depth) { return depth > unsigned(INT_MAX) ? INT_MAX : int(depth); }

// The bounded cone of one head, in order, with the cuts of every terminal
// enumerated. Built in place: the enumerator reads the cone's fan-in arrays.
struct HEAD_CONE_CUTS {
  CONE_ORDER m_cone;
  std::optional<CUT_ENUMERATOR> m_enumerator;

  // Walks the cone (through normal lcells when asked, stopping at `stop`)
  // and enumerates cuts of at most max_cut_size leaves; false when the cone
  // holds a combinational loop. The head is the last terminal of the order.
  bool enumerate(KAVU_WVNET_MANAGER& manager, CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                 bool through_normal_lcells, CDB_SGATE_OTERM* stop) {
    KAVU_WVNET_MANAGER::OTERM_LIST oterm_list, sources, sinks;
    manager.get_cone(head, walk_depth(depth), false, false, through_normal_lcells, false, true, &oterm_list,
                     &sources, &sinks, stop);
    if (!m_cone.build(head, sources)) {
      if (kavu_cut_debug) kavu_debug("Combinational loop in the cone: no cuts");
      return false;
    }
    KAVU_CHECK(m_cone.m_order.size() == oterm_list.size());
    m_enumerator.emplace(int(m_cone.m_order.size()), m_cone.m_fanin_begin, m_cone.m_fanins,
                         enumeration_bound(max_cut_size, m_cone.m_order.size()));
    m_enumerator->run();
    if (kavu_cut_debug) trace_enumeration(m_cone, *m_enumerator);
    KAVU_CHECK(m_cone.m_order.back() == head);
    return true;
  }
};

// True when some output of the gate with fan-out is in the cone and none
// with fan-out lies outside it.
bool kavu_node_outputs_in_cone(const CDB_SGATE_NODE* gate,
                               const std::unordered_set<const CDB_SGATE_OTERM*>& cone) {
  bool inside = false;
  for (const CDB_SGATE_OTERM* oterm : gate->get_output_terms()) {
    if (!oterm || !oterm->has_fanout()) continue;
    if (!cone.count(oterm)) return false;
    inside = true;
  }
  return inside;
}

}  // namespace

// ---------------------------------------------------------------------------

bool KAVU_WVNET_MANAGER::get_all_cuts(CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                                      CDB_SGATE_OTERM* mandatory, CUT_SET* cuts) {
  KAVU_CHECK(head && cuts);
  if (kavu_cut_debug) trace_entry(head, mandatory != nullptr, depth, max_cut_size);
  cuts->clear();
  if (max_cut_size == 0) return false;  // no cut has fewer than one leaf
  HEAD_CONE_CUTS head_cuts;
  if (!head_cuts.enumerate(*this, head, depth, max_cut_size, false, mandatory)) return false;
  const CONE_ORDER& cone = head_cuts.m_cone;
  const CUT_ENUMERATOR& enumerator = *head_cuts.m_enumerator;
  const int head_index = int(cone.m_order.size()) - 1;
  int mandatory_index = -1;
  for (size_t i = 0; mandatory && i < cone.m_order.size(); ++i) {
    if (cone.m_order[i] == mandatory) mandatory_index = int(i);
  }
  for (int c = 1; c < enumerator.num_cuts(head_index); ++c) {
    const CUT_REF& ref = enumerator.cut(head_index, c);
    const int* leaves = enumerator.leaves(ref);
    const bool has_mandatory =
        !mandatory || std::find(leaves, leaves + ref.m_size, mandatory_index) != leaves + ref.m_size;
    if (!has_mandatory && unsigned(ref.m_size) >= max_cut_size) continue;  // no room for it
    CUT cut;
    cut.reserve(ref.m_size + 1);
    for (int i = 0; i < ref.m_size; ++i) cut.push_back(cone.m_order[leaves[i]]);
    if (!has_mandatory) {
      if (kavu_cut_debug)
        kavu_debug("Adding mandatory oterm to non-full cut: %s", cut_text(leaves, ref.m_size).c_str());
      cut.push_back(mandatory);
    }
    KAVU_CHECK(cut.size() <= max_cut_size);
    cuts->push_back(std::move(cut));
  }
  if (kavu_cut_debug) {
    std::unordered_map<const CDB_SGATE_OTERM*, int> index;
    for (size_t i = 0; i < cone.m_order.size(); ++i) index.emplace(cone.m_order[i], int(i));
    if (mandatory && !index.count(mandatory)) index.emplace(mandatory, -1);
    std::string text = "no mandatory oterm";
    if (mandatory) {
      const CDB_SGATE_NODE* gate = mandatory->get_my_node();
      text = std::string("mandatory oterm is ") + gate->get_string_type_name() + " " +
             gate->get_debug_name() + " with index " + std::to_string(mandatory_index);
    }
    trace_result(head, text, *cuts, index);
  }
  return !cuts->empty();
}

bool KAVU_WVNET_MANAGER::get_all_ff_cuts(CDB_SGATE_OTERM* head, unsigned depth,
                                         unsigned max_cut_size, CUT_SET* cuts,
                                         std::vector<int>* cone_sizes) {
  KAVU_CHECK(head && cuts && cone_sizes);
  if (kavu_cut_debug) trace_entry(head, false, depth, max_cut_size);
  cuts->clear();
  if (max_cut_size == 0) return false;
  HEAD_CONE_CUTS head_cuts;
  if (!head_cuts.enumerate(*this, head, depth, max_cut_size, true, nullptr)) return false;
  const CONE_ORDER& cone = head_cuts.m_cone;
  const CUT_ENUMERATOR& enumerator = *head_cuts.m_enumerator;
  const int head_index = int(cone.m_order.size()) - 1;
  CUT cut;
  OTERM_LIST members;
  std::unordered_set<const CDB_SGATE_OTERM*> member_set;
  for (int c = 1; c < enumerator.num_cuts(head_index); ++c) {
    const CUT_REF& ref = enumerator.cut(head_index, c);
    cut.clear();
    for (int i = 0; i < ref.m_size; ++i) cut.push_back(cone.m_order[enumerator.leaves(ref)[i]]);
    members.clear();
    get_cone(head, false, false, true, false, true, &members, &cut);
    member_set.clear();
    member_set.insert(members.begin(), members.end());
    bool fanout_free = true;
    for (const CDB_SGATE_OTERM* member : members) {
      KAVU_CHECK(member != 0);
      if (member == head) continue;
      for (const CDB_SGATE_ITERM* fanout : member->fanouts()) {
        if (!kavu_node_outputs_in_cone(fanout->get_my_node(), member_set)) {
          fanout_free = false;
          break;
        }
      }
      if (!fanout_free) break;
    }
    if (!fanout_free) continue;
    KAVU_CHECK(cut.size() <= max_cut_size);
    cuts->push_back(cut);
    cone_sizes->push_back(int(members.size()));
  }
  if (kavu_cut_debug) {
    std::unordered_map<const CDB_SGATE_OTERM*, int> index;
    for (size_t i = 0; i < cone.m_order.size(); ++i) index.emplace(cone.m_order[i], int(i));
    trace_result(head, "no mandatory oterm", *cuts, index);
  }
  return !cuts->empty();
}

// ---------------------------------------------------------------------------
// One large fan-out-free cone: grow breadth-first, then shrink by excluding
// members (they become leaves) until the cone is fan-out free and has at
// most K leaves. The exclusion list only grows, so the passes end.

namespace {

struct FFC_PASS {
  OTERM_VECTOR m_work;
  std::vector<int> m_depths;
  std::unordered_map<const CDB_SGATE_OTERM*, int> m_position;
  std::unordered_set<const CDB_SGATE_OTERM*> m_sources, m_members;
};

bool leads_into_cone(const CDB_SGATE_ITERM* fanout, const CDB_SGATE_OTERM* head,
                     const std::unordered_set<const CDB_SGATE_OTERM*>& members) {
  const CDB_SGATE_OTERM* first = fanout->get_my_node()->get_output_term(0);
  return first == head || members.count(first);
}

// Exactly one fan-out of the source leads into the cone.
bool single_use(const CDB_SGATE_OTERM* source, const CDB_SGATE_OTERM* head,
                const std::unordered_set<const CDB_SGATE_OTERM*>& members) {
  int uses = 0;
  for (const CDB_SGATE_ITERM* fanout : source->fanouts()) {
    if (leads_into_cone(fanout, head, members) && ++uses == 2) break;
  }
  return uses == 1;
}

}  // namespace

bool KAVU_WVNET_MANAGER::big_fanout_free_cut(CDB_SGATE_OTERM* head, int max_depth,
                                             unsigned max_cut_size,
                                             std::vector<CDB_SGATE_OTERM*>* sources,
                                             std::vector<CDB_SGATE_OTERM*>* members) {
  KAVU_CHECK(head && sources && members);
  CUT_WALK_FLAGS flags;
  flags.m_moded_lcells = flags.m_lcells = flags.m_normal_lcells = true;
  flags.m_operators = flags.m_wide_gates = true;
  flags.m_quellin = false;
  const OTERM_VECTOR heads(1, head);
  const size_t k = max_cut_size;
  std::unordered_set<const CDB_SGATE_OTERM*> excluded;
  FFC_PASS pass;
  while (true) {
    KAVU_CHECK(sources->size() == 0);
    KAVU_CHECK(members->size() == 0);
    pass.m_work.assign(1, head);
    pass.m_depths.assign(1, 1);
    pass.m_position.clear();
    pass.m_position.emplace(head, 0);
    pass.m_sources.clear();
    pass.m_members.clear();
    for (size_t i = 0; i < pass.m_work.size(); ++i) {
      KAVU_CHECK(pass.m_depths.size() == pass.m_work.size());
      CDB_SGATE_OTERM* oterm = pass.m_work[i];
      const int depth = pass.m_depths[i];
      const CDB_SGATE_NODE* gate = oterm->get_my_node();
      if (depth >= max_depth || excluded.count(oterm) ||
          !cut_bounded_walk_passes(gate, heads, flags)) {
        if (pass.m_sources.insert(oterm).second) sources->push_back(oterm);
        continue;
      }
      members->push_back(oterm);
      pass.m_members.insert(oterm);
      for (const CDB_SGATE_ITERM* iterm : gate->get_input_terms()) {
        CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
        if (!driver) continue;
        auto found = pass.m_position.find(driver);
        if (found == pass.m_position.end()) {
          pass.m_position.emplace(driver, int(pass.m_work.size()));
          pass.m_work.push_back(driver);
          pass.m_depths.push_back(depth + 1);
        } else if (depth + 1 < pass.m_depths[found->second]) {
          pass.m_depths[found->second] = depth + 1;
          kavu_debug("Hey the depth thing does happen");
          if (found->second > int(i)) kavu_debug("it will be re encounterd");
        }
      }
    }
    if (sources->size() > 2 * k) return false;

    // Members that also feed gates outside the cone become leaves.
    int undesired = 0;
    for (CDB_SGATE_OTERM* member : *members) {
      if (member == head) continue;
      for (const CDB_SGATE_ITERM* fanout : member->fanouts()) {
        if (leads_into_cone(fanout, head, pass.m_members)) continue;
        if (excluded.insert(member).second) ++undesired;
        break;
      }
    }
    if (undesired > 0) {
      kavu_debug("  Identified %d oterms with undesired fanout", undesired);
      if (members->size() <= 10 || sources->size() > 2 * k) return false;
      kavu_debug("  Try to strip it down more for fanouts");
      sources->clear();
      members->clear();
      continue;
    }
    if (sources->size() <= k) return true;

    // Too many leaves: a member fed only by leaves, one of them used by it
    // alone, replaces those leaves.
    int joined = 0;
    for (CDB_SGATE_OTERM* member : *members) {
      bool all_from_sources = true, any_single_use = false;
      for (const CDB_SGATE_ITERM* iterm : member->get_my_node()->get_input_terms()) {
        const CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
        if (!driver) continue;
        if (!pass.m_sources.count(driver)) {
          all_from_sources = false;
          break;
        }
        any_single_use = any_single_use || single_use(driver, head, pass.m_members);
      }
      if (all_from_sources && any_single_use && excluded.insert(member).second) ++joined;
    }
    if (joined == 0) return false;
    sources->clear();
    members->clear();
  }
}
