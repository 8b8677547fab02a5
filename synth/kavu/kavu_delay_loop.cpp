// kavu_delay_loop.cpp — loop cuts for delay analysis and decomposition of wide
// comb gates for delay.
//
// Loop cuts: a depth-first walk from every output terminal (node-list order,
//   or a seeded order) marks terminals gray while on the walk and black when
//   finished; a gray source is a back edge, cut by a buffer of type 3 that
//   takes over all of the source's fan-outs (so paths through the source
//   that are not on the loop are cut too, which can only shorten delays).
//   The walk uses an explicit stack and produces the recursive walk's
//   post-order. Clean-up excises the flagged buffers, which restores every
//   connection in its original order.
// Decomposition: a wide comb gate becomes a k-ary Huffman tree of real comb
//   gates of its kind, merging the earliest arrivals first. Tied inputs stay
//   as constant leaves of the tree (dropping them would change an AND with
//   GND, an OR with VCC or an XOR with VCC). The old gate is marked for
//   deletion and destroyed by the next garbage collection.
#include <algorithm>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_delay.h"
#include "kavu_depends.h"
#include "kavu_helper_gate_create.h"
#include "kavu_helper_orphan.h"
#include "kavu_helper_predicates.h"
#include "kavu_load_time_int.h"
#include "kavu_msg.h"
#include "kavu_seq_timer.h"
#include "kavu_setup.h"

namespace {
constexpr int INNER_BUDGET = 300;
constexpr int DEPTH_WARNING = 6000;
constinit KAVU_KEY_ONCE g_track_large_gates{"kavu_track_large_gates", false};
}  // namespace

bool kavu_is_tracking_large_gates() { return g_track_large_gates(); }

// ---------------------------------------------------------------------------
// Prepare and clean up

void KAVU_DELAY_EXPERT::prepare_netlist_for_delay_analysis() {
  KAVU_CHECK(m_netlist != 0);
  if (m_ref_count == 0) {
    m_loopcut_flag = m_netlist->get_flag_manager().create_flag("loopcut_flag");
    insert_and_flag_cut_buffers(nullptr);
    clear_internal_flags();
  } else {
    kavu_debug("NOTE: prepare-for-delay-analysis called for the %dth time without cleaning", m_ref_count + 1);
  }
  ++m_ref_count;
}

void KAVU_DELAY_EXPERT::clean_up_after_delay_analysis() {
  KAVU_CHECK(m_ref_count > 0);
  if (m_ref_count > 1) {
    kavu_debug("NOTE: clean-up called but %d others will call it later", m_ref_count - 1);
    --m_ref_count;
    return;
  }
  remove_flagged_cut_buffers();
  m_netlist->get_flag_manager().destroy_flag(m_loopcut_flag);
  m_loopcut_flag = GEN_DYN_FLAG();
  clear_internal_flags();
  m_ref_count = 0;
}

int KAVU_DELAY_EXPERT::insert_and_flag_cut_buffers(std::vector<CDB_SGATE_OTERM*>* order) {
  KAVU_CHECK(m_netlist != 0);
  const bool allow_reorder = cfg_is_on("kavu_sort_synth_seed_allow_netlist_reorder", false);
  GEN_DYN_FLAG_MANAGER& flags = m_netlist->get_flag_manager();
  const GEN_DYN_FLAG black_flag = flags.create_flag("black_flag");
  const GEN_DYN_FLAG gray_flag = flags.create_flag("gray_flag");
  // Both bits in one pass over the netlist.
  m_netlist->clear_all_node_flags(GEN_DYN_FLAG("black_flag|gray_flag", black_flag.get_mask() | gray_flag.get_mask()));

  std::vector<CDB_SGATE_NODE*> nodes;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it)
    if (*it) nodes.push_back(*it);
  if (allow_reorder && kavu_delay_use_synth_seed && cdb_sgate_get_synth_seed() != 1 && order) {
    kavu_debug("Using synthesis seed to scramble kavu-delay top-order");
    std::vector<CDB_SGATE_NODE*> scrambled(nodes.size());
    for (unsigned i = 0; i < nodes.size(); ++i)
      scrambled[i] = nodes[cdb_sgate_get_seeded_index(i, unsigned(nodes.size()))];
    nodes.swap(scrambled);
  }

  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    unsigned m_next;
    int m_depth;
  };
  std::vector<FRAME> stack;
  static bool warned = false;
  int count = 0;
  auto enter = [&](CDB_SGATE_OTERM* oterm, int depth) {
    KAVU_CHECK(oterm != 0);
    if (oterm->test_dyn_flag(black_flag) || oterm->test_dyn_flag(gray_flag))
      KAVU_INTERNAL_ERROR("!oterm->get_flag().test( black_flag | gray_flag )");
    oterm->set_dyn_flag(gray_flag);
    stack.push_back({oterm, 0, depth});
  };
  for (CDB_SGATE_NODE* node : nodes) {
    for (CDB_SGATE_OTERM* root : node->get_output_terms()) {
      if (!root) continue;
      if (root->test_dyn_flag(gray_flag)) KAVU_INTERNAL_ERROR("!oterm->get_flag().test( gray_flag )");
      if (root->test_dyn_flag(black_flag)) continue;
      enter(root, 1);
      while (!stack.empty()) {
        FRAME& f = stack.back();
        CDB_SGATE_OTERM* t = f.m_oterm;
        CDB_SGATE_NODE* g = t->get_my_node();
        bool pushed = false;
        if (m_delay_model->look_through_sgate(g)) {
          while (f.m_next < g->get_number_of_input_terms()) {
            CDB_SGATE_ITERM* in = g->get_input_term(f.m_next++);
            if (!in || !cdb_is_connected(in) || !in->get_source()) continue;
            if (!kavu_oterm_depends_on_iterm(g, t, in, true, true, false, false)) continue;
            CDB_SGATE_OTERM* s = in->get_source();
            if (s->test_dyn_flag(gray_flag)) {
              CDB_SGATE_NODE* cut = kavu_drive_through_buffer(m_netlist, s, CDB_BUFFER_CUT);
              CDB_SGATE_OTERM* cut_out = cut->get_output_term(0);
              cut_out->set_dyn_flag(m_loopcut_flag);
              cut_out->set_dyn_flag(black_flag);
              ++count;
            } else if (!s->test_dyn_flag(black_flag)) {
              const int depth = f.m_depth;
              if (depth > DEPTH_WARNING && !warned) {
                warned = true;
                g->print_too_long_depth_warning(depth);
              }
              enter(s, depth + 1);  // f is not used after this
              pushed = true;
              break;
            }
          }
        }
        if (pushed) continue;
        stack.pop_back();
        t->reset_dyn_flag(gray_flag);
        t->set_dyn_flag(black_flag);
        if (order) order->push_back(t);
      }
    }
  }
  flags.destroy_flag(black_flag);
  flags.destroy_flag(gray_flag);
  if (count > 0) kavu_debug("Inserted %d loop cuts for delay computation", count);
  return count;
}

void KAVU_DELAY_EXPERT::remove_flagged_cut_buffers() {
  int removed = 0;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || node->get_sgate_type() != CDB_SGATE_BUFFER_ENUM) continue;
    if (node->cast_to_buffer()->get_buffer_type() != CDB_BUFFER_CUT) continue;
    CDB_SGATE_OTERM* out = node->get_output_term(0);
    if (!out || !out->test_dyn_flag(m_loopcut_flag)) continue;
    CDB_SGATE_ITERM* in = node->get_input_term(0);
    if (in && in->get_source() == out) {
      kavu_debug("WARNING: loop cut %s %s is fed by itself", node->get_debug_name().c_str(),
                 node->get_string_hpath().c_str());
      out->reset_dyn_flag(m_loopcut_flag);  // no stale bit once the flag is gone
      continue;
    }
    kavu_excise_buffer(node);
    m_netlist->delete_node(it);
    delete node;
    ++removed;
  }
  if (removed > 0) kavu_debug("Excised %d loop cuts that were inserted for delay computation", removed);
}

// ---------------------------------------------------------------------------
// Decomposition

CDB_SGATE_COMB* KAVU_DELAY_EXPERT::decompose_vector(std::vector<DECOMP_RECORD>& records, int g, CDB_SGATE_COMB* comb,
                                                    CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(m_max_gate_size >= 2);
  if (!comb || !netlist) return comb;
  const int k = m_max_gate_size;
  const int n = int(records.size());
  if (n <= k) return comb;
  const CDB_COMB_TYPE kind = comb->get_comb_type();
  // Min-heap on arrival over record indices; ties keep the lower index first.
  auto later = [&records](int a, int b) {
    if (records[size_t(a)].m_arrival != records[size_t(b)].m_arrival)
      return records[size_t(a)].m_arrival > records[size_t(b)].m_arrival;
    return a > b;
  };
  std::vector<int> heap;
  for (int i = 0; i < n; ++i) heap.push_back(i);
  std::make_heap(heap.begin(), heap.end(), later);
  int num_iterms = (n - 1) % (k - 1) + 1;
  if (num_iterms == 1) num_iterms = k;
  while (int(heap.size()) > k) {
    KAVU_CHECK(num_iterms >= 2 && num_iterms <= m_max_gate_size);
    CDB_SGATE_COMB* part = kavu_create_new_comb(netlist, comb, kind);
    int largest = KAVU_DELAY_MIN;
    for (int j = 0; j < num_iterms; ++j) {
      std::pop_heap(heap.begin(), heap.end(), later);
      const DECOMP_RECORD& r = records[size_t(heap.back())];
      heap.pop_back();
      part->add_unordered_fanin_from_oterm(nullptr, r.m_inverted, r.m_source);
      largest = std::max(largest, r.m_arrival);
    }
    records.push_back({part->get_output_term(0), false, largest + g});
    heap.push_back(int(records.size()) - 1);
    std::push_heap(heap.begin(), heap.end(), later);
    if ((heap.size() - 1) % size_t(m_max_gate_size - 1) != 0)
      KAVU_INTERNAL_ERROR("(delay_vec.size()-1) % (m_max_gate_size-1) == 0");
    num_iterms = k;
  }
  std::sort(heap.begin(), heap.end());  // the last stage takes its inputs in record order
  CDB_SGATE_COMB* head = kavu_create_new_comb(netlist, comb, kind);
  for (int index : heap) {
    const DECOMP_RECORD& r = records[size_t(index)];
    head->add_unordered_fanin_from_oterm(nullptr, r.m_inverted, r.m_source);
  }
  CDB_SGATE_OTERM* old_out = comb->get_output_term(0);
  CDB_SGATE_OTERM* new_out = head->get_output_term(0);
  if (old_out->is_inverted()) new_out->set_invert();  // an inverted output (NAND, NOR, XNOR) stays inverted
  new_out->adopt_fanouts(old_out, false);
  kavu_swap_instance_names(head, comb);
  return head;
}

CDB_SGATE_NODE* KAVU_DELAY_EXPERT::decompose_comb(CDB_SGATE_NETLIST* netlist, CDB_SGATE_COMB* comb,
                                                  KAVU_BIG_GATE_SET_INFO* big_gates) {
  KAVU_CHECK(comb != 0);
  const int old_id = int(comb->get_id());
  recompute_fanin_delays(comb);
  CDB_SGATE_OTERM* old_out = comb->get_output_term(0);
  const int d0 = m_get_fanin(old_out);
  const bool tracking = kavu_is_tracking_large_gates();
  std::vector<DECOMP_RECORD> records;
  std::vector<CDB_SGATE_OTERM*> distinct;
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> seen;
  for (CDB_SGATE_ITERM* t : comb->get_input_terms()) {
    if (!t || !cdb_is_connected(t)) continue;
    CDB_SGATE_OTERM* src = t->get_source();
    if (!src) {
      // A tied input stays as a constant leaf (null source; inverted = GND).
      records.push_back({nullptr, t->is_gnd(), 0});
      continue;
    }
    records.push_back({src, t->is_inverted(), m_get_fanin(src)});
    if (tracking && seen.insert(src).second) distinct.push_back(src);
  }
  const int input_count = int(comb->get_number_of_input_terms());
  CDB_SGATE_COMB* new_comb = decompose_vector(records, m_delay_model->get_delay(comb, nullptr, nullptr), comb, netlist);
  KAVU_CHECK(new_comb != 0);
  if (new_comb != comb) {
    const int new_delay = compute_fanin_delay(new_comb->get_output_term(0), INNER_BUDGET);
    if (new_delay != d0 && m_huge_gate_size != -1)
      kavu_debug_at_level(3, "Note: %s %s with %d inputs has delay %d before decomposing and %d after",
                          comb->get_string_type_name(), comb->get_debug_name().c_str(), input_count, d0, new_delay);
    KAVU_CHECK(!comb->has_fanout());
    kavu_isolate_orphaned_gates(old_out, netlist, false);
    comb->mark_for_deletion();
  }
  if (tracking && big_gates) {
    CDB_SGATE_OTERM* oterm = new_comb->get_output_term(0);
    KAVU_CHECK(oterm);
    if (int(new_comb->get_id()) != old_id) big_gates->add_stage1_id(int(new_comb->get_id()), old_id);
    KAVU_BIG_GATE_INFO* info = new KAVU_BIG_GATE_INFO(oterm);
    big_gates->add_huge_gate_info(info);
    for (CDB_SGATE_OTERM* src : distinct) {
      info->add_support(src);
      info->add_support_depth(src, m_get_fanin(src));
      big_gates->log_support(src, info);
    }
  }
  return new_comb;
}

void KAVU_DELAY_EXPERT::decompose_all_combs(CDB_SGATE_NETLIST* netlist, KAVU_BIG_GATE_SET_INFO* big_gates) {
  KAVU_CHECK(netlist != 0 && netlist == m_netlist);
  prepare_netlist_for_delay_analysis();
  if (m_use_seq_timer && m_seq_timer && m_validation_mode) {
    kavu_debug("pre-compute all delay ...");
    compute_all_delays(true);
    kavu_debug("pre-compute all delay done.");
  }
  // The gates are listed first: decomposition appends to the node list.
  std::vector<CDB_SGATE_COMB*> combs;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (node && kavu_is_a_comb(node) && node->has_fanout()) combs.push_back(node->cast_to_comb());
  }
  for (CDB_SGATE_COMB* comb : combs) decompose_comb(netlist, comb, big_gates);
  netlist->garbage_collect(true, false);
  compute_all_delays(true);
  clean_up_after_delay_analysis();
}

int KAVU_DELAY_EXPERT::compute_fanin_delay(std::vector<std::vector<SGATE_OTERM_INV_PAIR>>* sop_expr, int budget) {
  KAVU_CHECK(sop_expr != 0);
  std::vector<int> products;
  std::vector<int> arrivals;
  for (const auto& product : *sop_expr) {
    arrivals.clear();
    for (const SGATE_OTERM_INV_PAIR& literal : product) {
      CDB_SGATE_OTERM* o = literal.first;
      if (!o)
        arrivals.push_back(0);
      else
        arrivals.push_back(visited(o, m_fanin_visited_flag) ? m_get_fanin(o) : compute_fanin_delay(o, budget));
    }
    products.push_back(compute_fanin_delay_for_vector(arrivals, 1));
  }
  return compute_fanin_delay_for_vector(products, 1);
}
