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
//   fan-ins' cut sets; the order, the pools and the sets live in the
//   manager's scratch and are reused across terminals and calls.
#include <algorithm>
#include <limits>
#include <string>

#include "kavu_check.h"
#include "kavu_cut.h"
#include "kavu_cut_int.h"
#include "kavu_msg.h"
#include "kavu_popcount_int.h"
#include "kavu_setup.h"

namespace {

// Bit (position % 64) of a cut's signature stands for a leaf.
constexpr int SIGNATURE_BITS = 64;
// The deepest walk an unsigned depth asks for that an int can hold.
constexpr int MAX_WALK_DEPTH = std::numeric_limits<int>::max();
// Placeholder of a terminal on the order's stack (positions are >= 0).
constexpr int ON_STACK = -1;
// Members of a cone with undesired fan-out at or below this many: the big
// fan-out-free search gives up instead of stripping further.
constexpr size_t FFC_STRIP_MIN_MEMBERS = 10;


uint64_t signature_of(int index) { return uint64_t(1) << (index % SIGNATURE_BITS); }

}  // namespace

// ---------------------------------------------------------------------------
// CUT_ENUMERATOR

void CUT_ENUMERATOR::run(const CUT_CONE_ORDER& cone, int k) {
  const int num_terms = cone.size();
  m_k = k;
  m_store.clear();
  m_first.assign(num_terms, 0);
  m_count.assign(num_terms, 0);
  m_union.resize(size_t(k) + 1);
  m_stats = CUT_RUN_STATS();
  if (kavu_cpu_has_popcnt()) run_popcnt(cone);
  else run_generic(cone);
}

template <bool HW>
inline void CUT_ENUMERATOR::run_body(const CUT_CONE_ORDER& cone) {
  for (int i = 0; i < cone.size(); ++i) {
    m_first[i] = m_store.size();
    m_store.append(&i, 1, signature_of(i));  // the trivial cut comes first
    const int begin = cone.m_fanin_begin[i], end = cone.m_fanin_begin[i + 1];
    if (end - begin == 1) {
      // One fan-in: its cuts as they are (by index: the appends may move the pool).
      const int j = cone.m_fanins[begin];
      for (int c = 0; c < m_count[j]; ++c) m_store.append_own(m_first[j] + c);
    } else if (begin < end) {
      // The first fan-in's cuts are merged from the store where they lie.
      const int j = cone.m_fanins[begin];
      merge_into_result<HW>(m_store, m_first[j], m_count[j], cone.m_fanins[begin + 1]);
      for (int p = begin + 2; p < end; ++p) {
        std::swap(m_working, m_result);
        merge_into_result<HW>(m_working, 0, m_working.size(), cone.m_fanins[p]);
      }
      for (int c = 0; c < m_result.size(); ++c) {
        const CUT_REF& ref = m_result.cut(c);
        m_store.append(m_result.leaves(ref), ref.m_size, ref.m_sig);
      }
    }
    m_count[i] = m_store.size() - m_first[i];
  }
}

// m_result becomes the irredundant feasible unions of the cuts first ..
// first + count of `outer` with the cuts of position j (outer cuts outer,
// j's cuts inner).
template <bool HW>
inline void CUT_ENUMERATOR::merge_into_result(const CUT_POOL& outer, int first, int count, int j) {
  m_result.clear();
  // Counted in locals (the calls below could change members), added at the end.
  long refused_by_signature = 0, too_large = 0;
  const int first_j = m_first[j], count_j = m_count[j];
  for (int x = first; x < first + count; ++x) {
    const CUT_REF& a = outer.cut(x);
    for (int y = 0; y < count_j; ++y) {
      const CUT_REF& b = m_store.cut(first_j + y);
      const uint64_t sig = a.m_sig | b.m_sig;
      if (kavu_popcount(sig) > m_k) {
        ++refused_by_signature;
        continue;
      }
      const int size = cut_merge_leaves(outer.leaves(a), a.m_size, m_store.leaves(b), b.m_size, m_k, m_union.data());
      if (size < 0) {
        ++too_large;
        continue;
      }
      add_if_irredundant(m_union.data(), size, sig);
    }
  }
  m_stats.m_pairs_tried += long(count) * count_j;
  m_stats.m_refused_by_signature += refused_by_signature;
  m_stats.m_too_large += too_large;
  m_result.compact();
}

KAVU_TARGET_POPCNT void CUT_ENUMERATOR::run_popcnt(const CUT_CONE_ORDER& cone) { run_body<true>(cone); }

void CUT_ENUMERATOR::run_generic(const CUT_CONE_ORDER& cone) { run_body<false>(cone); }


// Offers a cut to m_result: dropped when a cut there is a subset of it
// (equal cuts included); cuts it is a proper subset of are marked for
// removal, which keeps the order of the rest without shifting them. A
// dropped cut never removes any: a set without inclusions cannot hold both
// a subset and a proper superset of it.
void CUT_ENUMERATOR::add_if_irredundant(const int* leaves, int size, uint64_t sig) {
  for (int c = 0; c < m_result.size(); ++c) {
    const CUT_REF& old = m_result.cut(c);
    if (CUT_POOL::is_dead(old)) continue;
    if ((old.m_sig & ~sig) == 0 && old.m_size <= size &&
        cut_leaves_subset(m_result.leaves(old), old.m_size, leaves, size)) {
      ++m_stats.m_dominated;
      return;
    }
    if ((sig & ~old.m_sig) == 0 && size < old.m_size &&
        cut_leaves_subset(leaves, size, m_result.leaves(old), old.m_size)) {
      ++m_stats.m_dominated;
      m_result.kill(c);
    }
  }
  m_result.append(leaves, size, sig);
}

// ---------------------------------------------------------------------------
// CUT_CONE_ORDER

int CUT_CONE_ORDER::position_of(const CDB_SGATE_OTERM* oterm) const {
  const int position = m_state.value_or(oterm, ON_STACK);
  return position >= 0 ? position : -1;
}

// The depth-first walk places a terminal once all its drivers are placed;
// their positions, gathered on the way (a driver placed earlier at once, a
// driver the walk enters when it is placed), become its fan-in list then.
bool CUT_CONE_ORDER::build(CDB_SGATE_OTERM* head, CUT_OTERM_SPAN leaves) {
  m_order.clear();
  m_fanins.clear();
  m_is_leaf.clear();
  m_pending.clear();
  m_fanin_begin.assign(1, 0);
  m_leaf.clear(leaves.size());
  for (CDB_SGATE_OTERM* leaf : leaves) m_leaf.insert(leaf, 0);
  m_state.clear(leaves.size() * 2);
  m_state.insert(head, ON_STACK);
  const auto frame_of = [this](CDB_SGATE_OTERM* oterm) {
    const unsigned inputs = m_leaf.contains(oterm) ? 0 : unsigned(oterm->get_my_node()->get_number_of_input_terms());
    return FRAME{oterm, 0, inputs, unsigned(m_pending.size())};
  };
  m_stack.assign(1, frame_of(head));
  while (!m_stack.empty()) {
    FRAME& frame = m_stack.back();
    CDB_SGATE_OTERM* oterm = frame.m_oterm;
    if (frame.m_next < frame.m_inputs) {
      CDB_SGATE_OTERM* driver = cut_driver_of(oterm->get_my_node()->get_input_term(frame.m_next++));
      if (!driver) continue;
      int* state = nullptr;
      if (!m_state.insert(driver, ON_STACK, &state)) {
        if (*state == ON_STACK) return false;  // a combinational loop
        m_pending.push_back(*state);           // already placed
        continue;
      }
      m_stack.push_back(frame_of(driver));  // `frame` may dangle from here on
      continue;
    }
    const int position = int(m_order.size());
    *m_state.find(oterm) = position;
    m_order.push_back(oterm);
    m_is_leaf.push_back(frame.m_inputs == 0 && m_leaf.contains(oterm) ? 1 : 0);
    m_fanins.insert(m_fanins.end(), m_pending.begin() + frame.m_first_fanin, m_pending.end());
    m_fanin_begin.push_back(int(m_fanins.size()));
    m_pending.resize(frame.m_first_fanin);
    m_stack.pop_back();
    if (!m_stack.empty()) m_pending.push_back(position);
  }
  return true;
}

// ---------------------------------------------------------------------------
// Traces

namespace {

std::string cut_text(const int* leaves, int size) {
  std::string text = "[ ";
  for (int i = 0; i < size; ++i) text += std::to_string(leaves[i]) + " ";
  return text + "]";
}

void trace_enumeration(const CUT_CONE_ORDER& cone, const CUT_ENUMERATOR& cuts) {
  kavu_debug("Found the following oterms in the cone (top order inputs first):");
  for (int i = 0; i < cone.size(); ++i) {
    const CDB_SGATE_NODE* gate = cone.m_order[i]->get_my_node();
    kavu_debug("  - %d: %s %s%s", i, gate->get_string_type_name(), gate->get_debug_name().c_str(),
               cone.m_is_leaf[i] ? " (source)" : "");
  }
  kavu_debug("The enumerated cuts are: ");
  for (int i = 0; i < cone.size(); ++i) {
    std::string line;
    for (int c = 0; c < cuts.num_cuts(i); ++c) {
      const CUT_REF& ref = cuts.cut(i, c);
      line += cut_text(cuts.leaves(ref), ref.m_size);
    }
    kavu_debug(" - %d (%d): %s", i, cuts.num_cuts(i), line.c_str());
  }
  const CUT_RUN_STATS& stats = cuts.stats();
  kavu_debug("Pairs tried %ld, refused by signature %ld, too large %ld, dominated %ld", stats.m_pairs_tried,
             stats.m_refused_by_signature, stats.m_too_large, stats.m_dominated);
}

void trace_entry(const CDB_SGATE_OTERM* head, bool mandatory, unsigned depth, unsigned k) {
  const CDB_SGATE_NODE* gate = head->get_my_node();
  kavu_debug("Entering get_all_cuts for oterm %s %s (%s). Max depth = %d, max cut size = %d",
             gate->get_string_type_name(), gate->get_debug_name().c_str(),
             mandatory ? "with mandatory cut oterm" : "no mandatory cut oterm", int(depth), int(k));
}

void trace_result(const CDB_SGATE_OTERM* head, const std::string& mandatory_text,
                  const KAVU_WVNET_MANAGER::CUT_SET& cuts, const CUT_CONE_ORDER& cone) {
  std::string text;
  for (const KAVU_WVNET_MANAGER::CUT& cut : cuts) {
    text += "[ ";
    for (const CDB_SGATE_OTERM* leaf : cut) text += std::to_string(cone.position_of(leaf)) + " ";
    text += "]";
  }
  const CDB_SGATE_NODE* gate = head->get_my_node();
  kavu_debug("Final cutset for head oterm %s %s (%s): %s", gate->get_string_type_name(),
             gate->get_debug_name().c_str(), mandatory_text.c_str(), text.c_str());
}

int walk_depth(unsigned depth) { return depth > unsigned(MAX_WALK_DEPTH) ? MAX_WALK_DEPTH : int(depth); }

// True when some output of the gate with fan-out is in the cone and none
// with fan-out lies outside it.
bool kavu_node_outputs_in_cone(const CDB_SGATE_NODE* gate, const PTR_STAMP_TABLE& cone) {
  bool inside = false;
  for (const CDB_SGATE_OTERM* oterm : gate->get_output_terms()) {
    if (!oterm || !oterm->has_fanout()) continue;
    if (!cone.contains(oterm)) return false;
    inside = true;
  }
  return inside;
}

}  // namespace

// ---------------------------------------------------------------------------

bool KAVU_WVNET_MANAGER::enumerate_head_cuts(CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                                             bool through_normal_lcells, CDB_SGATE_OTERM* stop) {
  CUT_SCRATCH& s = scratch();
  CUT_WALK_FLAGS flags;
  flags.m_normal_lcells = through_normal_lcells;
  flags.m_wide_gates = true;
  flags.m_quellin = m_allow_through_quellin;
  CDB_SGATE_OTERM* heads[] = {head};
  bounded_walk(heads, walk_depth(depth), flags, stop, s.m_cone);
  if (!s.m_order.build(head, s.m_cone.m_sources)) {
    if (kavu_cut_debug) kavu_debug("Combinational loop in the cone: no cuts");
    return false;
  }
  KAVU_CHECK(s.m_order.m_order.size() == s.m_cone.m_oterms.size());
  // No cut has more leaves than the cone has terminals, so that bounds the
  // leaf stride of the enumeration whatever the caller's K.
  s.m_enumerator.run(s.m_order, int(std::min<size_t>(max_cut_size, s.m_order.m_order.size())));
  if (kavu_cut_debug) trace_enumeration(s.m_order, s.m_enumerator);
  KAVU_CHECK(s.m_order.m_order.back() == head);
  return true;
}

bool KAVU_WVNET_MANAGER::get_all_cuts(CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                                      CDB_SGATE_OTERM* mandatory, CUT_SET* cuts) {
  KAVU_CHECK(head && cuts);
  if (kavu_cut_debug) trace_entry(head, mandatory != nullptr, depth, max_cut_size);
  if (!mandatory && !kavu_cut_debug && m_scratch && m_scratch->m_pass.serves(max_cut_size, m_allow_through_quellin)) {
    bool found = false;
    if (m_scratch->m_pass.answer(head, depth, cuts, &found)) return found;
  }
  cuts->clear();
  if (max_cut_size == 0) return false;  // no cut has fewer than one leaf
  if (!enumerate_head_cuts(head, depth, max_cut_size, false, mandatory)) return false;
  const CUT_SCRATCH& s = scratch();
  const CUT_CONE_ORDER& cone = s.m_order;
  const CUT_ENUMERATOR& enumerator = s.m_enumerator;
  const int head_index = cone.size() - 1;
  const int mandatory_index = mandatory ? cone.position_of(mandatory) : -1;
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
    std::string text = "no mandatory oterm";
    if (mandatory) {
      const CDB_SGATE_NODE* gate = mandatory->get_my_node();
      text = std::string("mandatory oterm is ") + gate->get_string_type_name() + " " + gate->get_debug_name() +
             " with index " + std::to_string(mandatory_index);
    }
    trace_result(head, text, *cuts, cone);
  }
  return !cuts->empty();
}

void KAVU_WVNET_MANAGER::begin_cut_pass(CDB_SGATE_NETLIST* netlist, unsigned max_cut_size) {
  KAVU_CHECK(netlist != nullptr);
  CUT_PASS& pass = scratch().m_pass;
  if (max_cut_size == 0 || max_cut_size > unsigned(CUT_PASS::MAX_K)) {
    pass.release();  // every call enumerates on its own
    return;
  }
  pass.build(netlist, int(max_cut_size), m_allow_through_quellin);
}

void KAVU_WVNET_MANAGER::end_cut_pass() {
  if (m_scratch) m_scratch->m_pass.release();
}

size_t KAVU_WVNET_MANAGER::cut_pass_size() const { return m_scratch ? m_scratch->m_pass.num_cuts() : 0; }

bool KAVU_WVNET_MANAGER::get_all_ff_cuts(CDB_SGATE_OTERM* head, unsigned depth, unsigned max_cut_size,
                                         CUT_SET* cuts, std::vector<int>* cone_sizes) {
  KAVU_CHECK(head && cuts && cone_sizes);
  if (kavu_cut_debug) trace_entry(head, false, depth, max_cut_size);
  cuts->clear();
  if (max_cut_size == 0) return false;
  if (!enumerate_head_cuts(head, depth, max_cut_size, true, nullptr)) return false;
  CUT_SCRATCH& s = scratch();
  const CUT_CONE_ORDER& cone = s.m_order;
  const CUT_ENUMERATOR& enumerator = s.m_enumerator;
  const int head_index = cone.size() - 1;
  CUT_WALK_FLAGS flags;
  flags.m_normal_lcells = true;
  flags.m_wide_gates = true;
  flags.m_quellin = m_allow_through_quellin;
  for (int c = 1; c < enumerator.num_cuts(head_index); ++c) {
    const CUT_REF& ref = enumerator.cut(head_index, c);
    s.m_cut.clear();
    for (int i = 0; i < ref.m_size; ++i) s.m_cut.push_back(cone.m_order[enumerator.leaves(ref)[i]]);
    unbounded_walk(head, flags, s.m_cut, s.m_members);
    s.m_member_set.clear(s.m_members.size());
    for (const CDB_SGATE_OTERM* member : s.m_members) s.m_member_set.insert(member, 0);
    bool fanout_free = true;
    for (const CDB_SGATE_OTERM* member : s.m_members) {
      KAVU_CHECK(member != 0);
      if (member == head) continue;
      for (const CDB_SGATE_ITERM* fanout : member->fanouts()) {
        if (!kavu_node_outputs_in_cone(fanout->get_my_node(), s.m_member_set)) {
          fanout_free = false;
          break;
        }
      }
      if (!fanout_free) break;
    }
    if (!fanout_free) continue;
    KAVU_CHECK(s.m_cut.size() <= max_cut_size);
    cuts->push_back(s.m_cut);
    cone_sizes->push_back(int(s.m_members.size()));
  }
  if (kavu_cut_debug) trace_result(head, "no mandatory oterm", *cuts, cone);
  return !cuts->empty();
}

// ---------------------------------------------------------------------------
// One large fan-out-free cone: grow breadth-first, then shrink by excluding
// members (they become leaves) until the cone is fan-out free and has at
// most K leaves. The exclusion list only grows, so the passes end.

namespace {

bool leads_into_cone(const CDB_SGATE_ITERM* fanout, const CDB_SGATE_OTERM* head, const PTR_STAMP_TABLE& members) {
  const CDB_SGATE_OTERM* first = fanout->get_my_node()->get_output_term(0);
  return first == head || members.contains(first);
}

// Exactly one fan-out of the source leads into the cone.
bool single_use(const CDB_SGATE_OTERM* source, const CDB_SGATE_OTERM* head, const PTR_STAMP_TABLE& members) {
  int uses = 0;
  for (const CDB_SGATE_ITERM* fanout : source->fanouts()) {
    if (leads_into_cone(fanout, head, members) && ++uses == 2) break;
  }
  return uses == 1;
}

}  // namespace

bool KAVU_WVNET_MANAGER::big_fanout_free_cut(CDB_SGATE_OTERM* head, int max_depth, unsigned max_cut_size,
                                             std::vector<CDB_SGATE_OTERM*>* sources,
                                             std::vector<CDB_SGATE_OTERM*>* members) {
  KAVU_CHECK(head && sources && members);
  CUT_WALK_FLAGS flags;
  flags.m_moded_lcells = flags.m_lcells = flags.m_normal_lcells = true;
  flags.m_operators = flags.m_wide_gates = true;
  flags.m_quellin = false;
  CDB_SGATE_OTERM* heads[] = {head};
  const size_t k = max_cut_size;
  CUT_SCRATCH& s = scratch();
  PTR_STAMP_TABLE& position = s.m_listed;  // terminal -> work-list position
  PTR_STAMP_TABLE& member_set = s.m_member_set;
  PTR_STAMP_TABLE& source_set = s.m_ffc_sources;
  PTR_STAMP_TABLE& excluded = s.m_ffc_excluded;
  excluded.clear();
  while (true) {
    KAVU_CHECK(sources->size() == 0);
    KAVU_CHECK(members->size() == 0);
    s.m_work.assign(1, head);
    s.m_levels.assign(1, 1);
    position.clear();
    position.insert(head, 0);
    source_set.clear();
    member_set.clear();
    for (size_t i = 0; i < s.m_work.size(); ++i) {
      if (s.m_levels.size() != s.m_work.size()) KAVU_INTERNAL_ERROR("depths.size() == oterm_stack.size()");
      CDB_SGATE_OTERM* oterm = s.m_work[i];
      const int depth = s.m_levels[i];
      const CDB_SGATE_NODE* gate = oterm->get_my_node();
      if (depth >= max_depth || excluded.contains(oterm) || !cut_bounded_walk_passes(gate, heads, flags)) {
        if (source_set.insert(oterm, 0)) sources->push_back(oterm);
        continue;
      }
      members->push_back(oterm);
      member_set.insert(oterm, 0);
      for (const CDB_SGATE_ITERM* iterm : gate->get_input_terms()) {
        CDB_SGATE_OTERM* driver = cut_driver_of(iterm);
        if (!driver) continue;
        int* found = nullptr;
        if (position.insert(driver, int(s.m_work.size()), &found)) {
          s.m_work.push_back(driver);
          s.m_levels.push_back(depth + 1);
        } else if (depth + 1 < s.m_levels[*found]) {
          s.m_levels[*found] = depth + 1;
          kavu_debug("Hey the depth thing does happen");
          if (*found > int(i)) kavu_debug("it will be re encounterd");
        }
      }
    }
    if (sources->size() > 2 * k) return false;

    // Members that also feed gates outside the cone become leaves.
    int undesired = 0;
    for (CDB_SGATE_OTERM* member : *members) {
      if (member == head) continue;
      for (const CDB_SGATE_ITERM* fanout : member->fanouts()) {
        if (leads_into_cone(fanout, head, member_set)) continue;
        if (excluded.insert(member, 0)) ++undesired;
        break;
      }
    }
    if (undesired > 0) {
      kavu_debug("  Identified %d oterms with undesired fanout", undesired);
      if (members->size() <= FFC_STRIP_MIN_MEMBERS || sources->size() > 2 * k) return false;
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
        if (!source_set.contains(driver)) {
          all_from_sources = false;
          break;
        }
        any_single_use = any_single_use || single_use(driver, head, member_set);
      }
      if (all_from_sources && any_single_use && excluded.insert(member, 0)) ++joined;
    }
    if (joined == 0) return false;
    sources->clear();
    members->clear();
  }
}
