// kavu_delay_model_seq.h — sequential delay models: fan-in and fan-out delays
// of one terminal from its neighbours' delays, without recursion.
//
// Model: KAVU_DELAY_MODEL_SEQ<A, B, C> derives from KAVU_DELAY_MODEL_KZR and
//   takes its arc delays, look-through and boundary rules unchanged. The
//   neighbours' delays come from three lookups with opaque contexts: arrival
//   (A), fan-out delay (B), and the arrival that shapes the decomposition tree
//   of a wide comb gate (C). With the sequential flag a register adds minus
//   the cycle time under test. KAVU_DELAY_MIN marks an invalid neighbour
//   delay and propagates through the rules.
// Rules: "best" is the strictly greatest candidate, so the first input
//   reaching it wins ties. A comb gate of n inputs with n at or above the
//   huge-gate limit (fan-in side; above it on the fan-out side) costs
//   ceil(ln n / ln k) levels (double precision, as the timer expects); a
//   smaller one is merged as a k-ary Huffman tree by arrival, and each
//   input's arc is its level times the gate delay. A gate with one connected
//   input has arc 0 (no tree gate is needed).
// Caches: an installed arc table and comb-gate set keep each gate's per-input
//   arcs until invalidate_gate_delays; without them a temporary table serves
//   one call.
// Sound departures: a non-dependent arc of a simple gate gives
//   KAVU_DELAY_MIN (not a near-minimum sum that overflows when the cycle time
//   is subtracted again); a RAM-packed register costs 0 from either side; the
//   logic-cell rule accepts the same atoms on both sides.
// Cost: O(fan-in) per call, O(n log n) per tree build.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_delay.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_seq_timer.h"
#include "kavu_setup.h"
#include "kavu_sort.h"
#include "ztl_hash_lite_sys.h"
#include "ztl_hash_set_lite_sys.h"

// One node of the decomposition tree of a wide gate.
struct KAVU_NODE_FOR_DECOMP_SEQ {
  int m_delay = 0;
  int m_parent = -1;
};

// Shared pieces of every instantiation (kavu_delay_model_seq.cpp).
namespace kavu_delay_seq {
// An input that is connected and has a driving source.
inline bool driven(const CDB_SGATE_ITERM* i) { return i && cdb_is_connected(i) && i->get_source(); }
// ceil(ln n / ln k) in double precision; k below 2 is an internal error.
int level_count(int n, int k);
// True for a plain register or a WYSIWYG flip-flop.
bool is_register(CDB_SGATE_NODE* node);
// The default lookups of KAVU_DELAY_MODEL_SIMPLE.
int simple_fanin_lookup(CDB_SGATE_OTERM* oterm, void*);
int simple_fanout_lookup(CDB_SGATE_OTERM* oterm, void*);
}  // namespace kavu_delay_seq

// What every sequential model offers the delay expert, whatever its context
// types: the two operations with null contexts, the sequential flag off and
// cycle time 0. A model whose lookups need a context (the timer's analysis,
// a table) reports its own internal error on the null one when asked.
class KAVU_DELAY_MODEL_SEQ_BASE : public KAVU_DELAY_MODEL_KZR {
 public:
  using KAVU_DELAY_MODEL_KZR::KAVU_DELAY_MODEL_KZR;
  virtual int expert_fanin_delay(CDB_SGATE_OTERM* oterm) = 0;
  virtual int expert_fanout_delay(CDB_SGATE_ITERM* iterm) = 0;
};

template <class A, class B, class C>
class KAVU_DELAY_MODEL_SEQ : public KAVU_DELAY_MODEL_SEQ_BASE {
 public:
  typedef int (*FANIN_LOOKUP)(CDB_SGATE_OTERM*, A);
  typedef int (*FANOUT_LOOKUP)(CDB_SGATE_OTERM*, B);
  typedef int (*DECOMP_LOOKUP)(CDB_SGATE_OTERM*, C);
  typedef ZTL_HASH_SET_LITE<CDB_SGATE_NODE*> COMB_GATE_SET;
  typedef ZTL_HASH_LITE<CDB_SGATE_ITERM*, int> ARC_TABLE;

  // Base flags (flag, false): the flag switches the detailed mode on. The
  // added members start as none, 2 and 200.
  KAVU_DELAY_MODEL_SEQ(KAVU_DELAY_GETTER const& getter, bool flag) : KAVU_DELAY_MODEL_SEQ_BASE(getter, flag, false) {}
  // Base flags (false, flag): the flag is the zero-carry-in flag.
  KAVU_DELAY_MODEL_SEQ(KAVU_DELAY_GETTER const& getter, FANIN_LOOKUP fanin, FANOUT_LOOKUP fanout,
                       DECOMP_LOOKUP decomp, bool flag, int max_gate_size, int huge_gate_limit)
      : KAVU_DELAY_MODEL_SEQ_BASE(getter, false, flag),
        m_fanin_lookup(fanin),
        m_fanout_lookup(fanout),
        m_decomp_lookup(decomp),
        m_huge_gate_limit(huge_gate_limit),
        m_max_gate_size(max_gate_size) {
    KAVU_CHECK(max_gate_size >= 1);
  }
  KAVU_DELAY_MODEL_SEQ(const KAVU_DELAY_MODEL_SEQ&) = default;
  ~KAVU_DELAY_MODEL_SEQ() override {}

  bool is_seq_model() override { return true; }
  int expert_fanin_delay(CDB_SGATE_OTERM* oterm) override {
    return compute_fanin_delay_of_oterm(oterm, nullptr, nullptr, A{}, C{}, false, 0, nullptr);
  }
  int expert_fanout_delay(CDB_SGATE_ITERM* iterm) override {
    return compute_fanout_delay_of_iterm(iterm, nullptr, nullptr, B{}, C{}, false, 0);
  }
  int get_max_gate_size() const { return m_max_gate_size; }
  int get_huge_gate_limit() const { return m_huge_gate_limit; }

  // --- caches
  void set_comb_gate_data(COMB_GATE_SET* set, ARC_TABLE* table) {
    mp_comb_gate_set = set;
    mp_iterm_arc_delay_table = table;
  }
  void reset_comb_gate_data() { set_comb_gate_data(nullptr, nullptr); }
  bool cache_arc_delay() const { return mp_iterm_arc_delay_table != nullptr; }
  // Empties the installed containers back to their initial size; nothing
  // happens for a container that is not installed.
  void invalidate_gate_delays() {
    if (mp_comb_gate_set) mp_comb_gate_set->clear();
    if (mp_iterm_arc_delay_table) mp_iterm_arc_delay_table->clear();
  }
  void invalidate_comb_gate_delays() { invalidate_gate_delays(); }

  // --- the two operations
  int compute_fanin_delay_of_oterm(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM** crit_source, int* crit_arc, A a,
                                   C c, bool sequential, int cycle_time, bool* crit_is_fastest) {
    KAVU_CHECK(oterm != 0);
    CDB_SGATE_OTERM* src = nullptr;
    int arc = KAVU_DELAY_MIN;
    bool fastest = true;
    CDB_SGATE_NODE* g = oterm->get_my_node();
    int d;
    if (sequential && kavu_delay_seq::is_register(g)) {
      d = compute_ff_fanin_delay_helper(a, cycle_time, oterm, &src, &arc);
    } else if (g->is_wysiwyg()) {
      d = compute_wys_lcell_fanin_delay_helper(a, oterm, &src, &arc);
    } else {
      switch (g->get_sgate_type()) {
        case CDB_SGATE_BUFFER_ENUM:
        case CDB_SGATE_LUT_ENUM:
        case CDB_SGATE_MUX_ENUM:
        case CDB_SGATE_BOUNDARY_ENUM: d = compute_simple_fanin_delay_helper(a, oterm, &src, &arc); break;
        case CDB_SGATE_COMB_ENUM:
          d = compute_fanin_delay_of_decomposed_gate_helper(a, c, oterm, &src, &arc, &fastest);
          break;
        case CDB_SGATE_IO_ENUM:
          KAVU_CHECK(!oterm->has_fanout() || (oterm->get_number_of_fanout() == 0));
          d = compute_oport_fanin_delay_helper(a, oterm, &src, &arc);
          break;
        case CDB_SGATE_CARRY_SUM_ENUM: d = compute_cs_fanin_delay_helper(a, oterm, &src, &arc); break;
        case CDB_SGATE_OPERATOR_ENUM: d = compute_oper_fanin_delay_helper(a, oterm, &src, &arc); break;
        default:
          kavu_debug("Unknown sgate type %d Hard-Boundary: %s", int(g->get_sgate_type()),
                     this->oterm_is_hard_boundary(oterm) ? "Y" : "N");
          KAVU_INTERNAL_ERROR("Unexpected sgate type to compute delay through");
          return KAVU_DELAY_MIN;
      }
    }
    if (crit_source) *crit_source = src;
    if (crit_arc) *crit_arc = arc;
    if (crit_is_fastest) *crit_is_fastest = fastest;
    return d;
  }

  int compute_fanout_delay_of_iterm(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM** crit_sink, int* crit_arc, B b, C c,
                                    bool sequential, int cycle_time) {
    CDB_SGATE_OTERM* sink = nullptr;
    int arc = 0;
    int d = 0;
    if (iterm && cdb_is_connected(iterm)) {
      CDB_SGATE_NODE* g = iterm->get_my_node();
      if (sequential && kavu_delay_seq::is_register(g)) {
        d = compute_ff_fanout_delay_helper(b, cycle_time, iterm, &sink, &arc);
      } else if (!this->look_through_sgate(g)) {
        d = 0;
      } else if (g->is_wysiwyg()) {
        d = compute_wys_lcell_fanout_delay_helper(b, iterm, &sink, &arc);
      } else {
        switch (g->get_sgate_type()) {
          case CDB_SGATE_BUFFER_ENUM:
          case CDB_SGATE_LUT_ENUM:
          case CDB_SGATE_MUX_ENUM:
          case CDB_SGATE_BOUNDARY_ENUM: d = compute_simple_fanout_delay_helper(b, iterm, &sink, &arc); break;
          case CDB_SGATE_COMB_ENUM: d = compute_fanout_delay_of_decomposed_gate_helper(b, c, iterm, &sink, &arc); break;
          case CDB_SGATE_CARRY_SUM_ENUM: d = compute_cs_fanout_delay_helper(b, iterm, &sink, &arc); break;
          case CDB_SGATE_OPERATOR_ENUM: d = compute_oper_fanout_delay_helper(b, iterm, &sink, &arc); break;
          default:
            kavu_debug("Not expected to compute fanout delay through %s %s %s", g->get_string_type_name(),
                       g->get_string_hpath().c_str(), g->get_debug_name().c_str());
            KAVU_INTERNAL_ERROR("Unexpected sgate to compute fanout delay through. See debug messages. ");
            return KAVU_DELAY_MIN;
        }
      }
    }
    if (crit_sink) *crit_sink = sink;
    if (crit_arc) *crit_arc = arc;
    return d;
  }

  // --- fan-in rules
  int compute_simple_fanin_delay_helper(A a, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc) {
    CDB_SGATE_NODE* g = o->get_my_node();
    if (!this->look_through_carry_buffers() && g->get_sgate_type() == CDB_SGATE_BUFFER_ENUM &&
        g->cast_to_buffer()->get_buffer_type() == CDB_BUFFER_SINGLE_CARRY) {
      *src = nullptr;
      *arc = KAVU_DELAY_MIN;
      return 0;
    }
    KAVU_CHECK(o == g->get_single_oterm());
    return best_over_inputs(a, g, o, src, arc);
  }
  int compute_oper_fanin_delay_helper(A a, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc) {
    CDB_SGATE_NODE* g = o->get_my_node();
    KAVU_CHECK(kavu_is_a_op(g));
    KAVU_CHECK(o == g->get_single_oterm());
    return best_over_inputs(a, g, o, src, arc);
  }
  int compute_wys_lcell_fanin_delay_helper(A a, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc) {
    CDB_SGATE_NODE* g = o->get_my_node();
    KAVU_CHECK(kavu_is_lcell_comb(g));
    bool qualified = false;
    int best = scan_dependent_inputs(a, g, o, src, arc, &qualified);
    if (!qualified) {
      for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
        if (!i || i->get_source() || !kavu_oterm_depends_on_iterm(g, o, i, true, true, false, false)) continue;
        int a_d = this->get_delay(g, i, o);
        if (a_d > best) {
          best = a_d;
          *arc = a_d;
        }
      }
    }
    return best == KAVU_DELAY_MIN ? 0 : best;
  }
  int compute_oport_fanin_delay_helper(A a, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc) {
    CDB_SGATE_NODE* g = o->get_my_node();
    int best = KAVU_DELAY_MIN;
    bool any_driver = false;
    *src = nullptr;
    *arc = KAVU_DELAY_MIN;
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
      if (!kavu_delay_seq::driven(i)) continue;
      any_driver = true;
      int src_arr = m_fanin_lookup(i->get_source(), a);
      KAVU_CHECK(src_arr != KAVU_DELAY_MIN);
      int a_d = this->get_delay(g, i, o);
      if (src_arr + a_d > best) {
        best = src_arr + a_d;
        *src = i->get_source();
        *arc = a_d;
      }
    }
    if (any_driver) return best;
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
      if (!i) continue;
      int a_d = this->get_delay(g, i, o);
      if (a_d > best) best = *arc = a_d;
    }
    return best;
  }
  int compute_cs_fanin_delay_helper(A a, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc) {
    CDB_SGATE_NODE* g = o->get_my_node();
    *src = nullptr;
    unsigned input = 0;
    if (o != g->get_output_term(SUM_OUT)) {
      KAVU_CHECK(o == g->get_output_term(CARRY_OUT));
      if (!this->look_through_carry_of_carry_sums()) {
        *arc = KAVU_DELAY_MIN;
        return 0;
      }
      input = CARRY_IN;
    }
    int a_d = this->get_delay(g, nullptr, nullptr);
    *arc = a_d;
    CDB_SGATE_ITERM* i = g->get_input_term(input);
    int arrival = 0;
    if (kavu_delay_seq::driven(i)) {
      *src = i->get_source();
      arrival = m_fanin_lookup(i->get_source(), a);
    }
    return arrival == KAVU_DELAY_MIN ? KAVU_DELAY_MIN : a_d + arrival;
  }
  int compute_ff_fanin_delay_helper(A a, int cycle_time, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc) {
    CDB_SGATE_NODE* g = o->get_my_node();
    *src = nullptr;
    if (kavu_seq_timer_is_register_ram_packed(g)) {
      *arc = 0;
      return 0;
    }
    if (kavu_seq_timer_is_register_mac_packed(g)) {
      *arc = kavu_mac_port_delay;
      return kavu_mac_port_delay;
    }
    if (kavu_seq_timer_is_dff_fixed(g)) {
      *arc = 0;
      return 0;
    }
    CDB_SGATE_ITERM* inputs[4] = {kavu_get_dff_data(g), kavu_get_dff_enable(g), kavu_get_dff_sload(g),
                                  kavu_get_dff_sclear(g)};
    int best = KAVU_DELAY_MIN;
    bool any_driver = false;
    for (CDB_SGATE_ITERM* i : inputs) {
      if (!kavu_delay_seq::driven(i)) continue;
      any_driver = true;
      int arrival = m_fanin_lookup(i->get_source(), a);
      if (arrival == KAVU_DELAY_MIN) continue;
      if (arrival - cycle_time > best) {
        best = arrival - cycle_time;
        *src = i->get_source();
      }
    }
    *arc = best == KAVU_DELAY_MIN ? KAVU_DELAY_MIN : -cycle_time;
    return any_driver ? best : -cycle_time;
  }
  int compute_fanin_delay_of_decomposed_gate_helper(A a, C c, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src,
                                                    int* arc, bool* crit_is_fastest) {
    CDB_SGATE_NODE* g = o->get_my_node();
    const int n = int(g->get_number_of_input_terms());
    const int u = this->get_delay(g, nullptr, nullptr);
    *src = nullptr;
    *arc = KAVU_DELAY_MIN;
    if (m_huge_gate_limit != -1 && n >= m_huge_gate_limit) {
      const int level_term = kavu_delay_seq::level_count(n, m_max_gate_size) * u;
      int best = KAVU_DELAY_MIN;
      bool any_driver = false;
      for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
        if (!kavu_delay_seq::driven(i)) continue;
        any_driver = true;
        int arrival = m_fanin_lookup(i->get_source(), a);
        if (arrival > best) {
          best = arrival;
          *src = i->get_source();
        }
      }
      *arc = level_term;
      if (!any_driver) return level_term;
      return best == KAVU_DELAY_MIN ? KAVU_DELAY_MIN : best + level_term;
    }
    if (crit_is_fastest) *crit_is_fastest = false;
    ARC_TABLE temporary;
    const bool use_temporary = mp_iterm_arc_delay_table == nullptr;
    ARC_TABLE* saved_table = mp_iterm_arc_delay_table;
    COMB_GATE_SET* saved_set = mp_comb_gate_set;
    if (use_temporary) {
      mp_iterm_arc_delay_table = &temporary;
      mp_comb_gate_set = nullptr;
    }
    int connected = 0;
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) connected += kavu_delay_seq::driven(i) ? 1 : 0;
    if (connected > 0 && !arc_delay_of_comb_gate_is_compued(g))
      compute_iterm_oterm_delay_of_non_huge_comb_gate(g, u, c, nullptr);
    int best = KAVU_DELAY_MIN;
    int smallest_arc = KAVU_DELAY_MIN;
    bool smallest_set = false;
    bool any_valid = false;
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
      if (!kavu_delay_seq::driven(i)) continue;
      int arrival = m_fanin_lookup(i->get_source(), a);
      if (arrival == KAVU_DELAY_MIN) continue;
      any_valid = true;
      int a_d = get_iterm_to_oterm_delay_of_non_huge_comb_gate(i);
      KAVU_CHECK(a_d != KAVU_DELAY_MIN);
      if (!smallest_set || a_d < smallest_arc) {
        smallest_arc = a_d;
        smallest_set = true;
      }
      if (a_d + arrival > best) {
        best = a_d + arrival;
        *src = i->get_source();
        *arc = a_d;
      }
    }
    if (use_temporary) {
      mp_iterm_arc_delay_table = saved_table;
      mp_comb_gate_set = saved_set;
    }
    if (crit_is_fastest && any_valid) *crit_is_fastest = (*arc == smallest_arc);
    if (connected == 0) return 0;
    return best;
  }

  // --- fan-out rules
  int compute_simple_fanout_delay_helper(B b, CDB_SGATE_ITERM* i, CDB_SGATE_OTERM** sink, int* arc) {
    CDB_SGATE_NODE* g = i->get_my_node();
    CDB_SGATE_OTERM* o = g->get_single_oterm();
    int a_d = this->get_delay(g, i, o);
    *sink = o;
    *arc = a_d;
    if (!this->look_through_carry_buffers() && g->get_sgate_type() == CDB_SGATE_BUFFER_ENUM &&
        g->cast_to_buffer()->get_buffer_type() == CDB_BUFFER_SINGLE_CARRY)
      return a_d;
    if (!o || !kavu_oterm_depends_on_iterm(g, o, i, true, true, false, false)) return KAVU_DELAY_MIN;
    int f = m_fanout_lookup(o, b);
    return f == KAVU_DELAY_MIN ? KAVU_DELAY_MIN : a_d + f;
  }
  int compute_oper_fanout_delay_helper(B b, CDB_SGATE_ITERM* i, CDB_SGATE_OTERM** sink, int* arc) {
    CDB_SGATE_NODE* g = i->get_my_node();
    KAVU_CHECK(kavu_is_a_choice_op(g) == false);
    return best_over_outputs(b, g, i, false, sink, arc);
  }
  int compute_wys_lcell_fanout_delay_helper(B b, CDB_SGATE_ITERM* i, CDB_SGATE_OTERM** sink, int* arc) {
    CDB_SGATE_NODE* g = i->get_my_node();
    KAVU_CHECK(kavu_is_lcell_comb(g));
    return best_over_outputs(b, g, i, true, sink, arc);
  }
  int compute_cs_fanout_delay_helper(B b, CDB_SGATE_ITERM* i, CDB_SGATE_OTERM** sink, int* arc) {
    CDB_SGATE_NODE* g = i->get_my_node();
    unsigned out = SUM_OUT;
    if (i != g->get_input_term(SUM_IN)) {
      KAVU_CHECK(i == g->get_input_term(CARRY_IN));
      out = CARRY_OUT;
      if (!this->look_through_carry_of_carry_sums()) {
        *sink = g->get_output_term(CARRY_OUT);
        *arc = 0;
        return 0;
      }
    }
    CDB_SGATE_OTERM* o = g->get_output_term(out);
    int a_d = this->get_delay(g, nullptr, nullptr);
    *sink = o;
    *arc = a_d;
    int f = o ? m_fanout_lookup(o, b) : KAVU_DELAY_MIN;
    return f == KAVU_DELAY_MIN ? KAVU_DELAY_MIN : a_d + f;
  }
  int compute_fanout_delay_of_decomposed_gate_helper(B b, C c, CDB_SGATE_ITERM* i, CDB_SGATE_OTERM** sink,
                                                     int* arc) {
    CDB_SGATE_NODE* g = i->get_my_node();
    CDB_SGATE_OTERM* o = g->get_output_term(0);
    int f = o ? m_fanout_lookup(o, b) : KAVU_DELAY_MIN;
    *sink = nullptr;
    *arc = KAVU_DELAY_MIN;
    if (f == KAVU_DELAY_MIN) return KAVU_DELAY_MIN;
    const int n = int(g->get_number_of_input_terms());
    const int u = this->get_delay(g, nullptr, nullptr);
    int a_d;
    if (m_huge_gate_limit != -1 && n > m_huge_gate_limit) {
      a_d = kavu_delay_seq::level_count(n, m_max_gate_size) * u;
    } else if (!mp_iterm_arc_delay_table) {
      a_d = compute_iterm_oterm_delay_of_non_huge_comb_gate(g, u, c, i);
    } else {
      if (!arc_delay_of_comb_gate_is_compued(g)) compute_iterm_oterm_delay_of_non_huge_comb_gate(g, u, c, nullptr);
      a_d = get_iterm_to_oterm_delay_of_non_huge_comb_gate(i);
    }
    if (a_d == KAVU_DELAY_MIN) return KAVU_DELAY_MIN;  // an input that is tied, not driven
    *sink = o;
    *arc = a_d;
    return a_d + f;
  }
  int compute_ff_fanout_delay_helper(B b, int cycle_time, CDB_SGATE_ITERM* i, CDB_SGATE_OTERM** sink, int* arc) {
    CDB_SGATE_NODE* g = i->get_my_node();
    *sink = nullptr;
    *arc = 0;
    if (kavu_seq_timer_is_register_ram_packed(g)) return 0;
    if (kavu_seq_timer_is_register_mac_packed(g)) {
      *arc = kavu_mac_port_delay;
      return kavu_mac_port_delay;
    }
    if (kavu_seq_timer_is_dff_fixed(g)) return 0;
    if (!i->get_source()) return KAVU_DELAY_MIN;  // connected only through its parent input
    if (i == kavu_get_dff_clear(g) || i == kavu_get_dff_preset(g) || i == kavu_get_dff_aload(g) ||
        i == kavu_get_dff_adata(g))
      return 0;
    CDB_SGATE_OTERM* q = g->get_output_term(0);
    KAVU_CHECK(i->get_source() != NULL);
    KAVU_CHECK(q != NULL);
    int a_d = KAVU_DELAY_MIN;
    for (CDB_SGATE_ITERM* other : g->get_input_terms()) {
      if (!other || other->get_source() != i->get_source()) continue;
      int reg_arc = kavu_delay_seq::is_register(g) ? -cycle_time : this->get_delay(g, other, q);
      a_d = std::max(a_d, reg_arc);
    }
    *sink = q;
    *arc = a_d;
    int f = m_fanout_lookup(q, b);
    return f == KAVU_DELAY_MIN ? KAVU_DELAY_MIN : f + a_d;
  }

 private:
  bool arc_delay_of_comb_gate_is_compued(CDB_SGATE_NODE* g) const {
    if (!mp_comb_gate_set || mp_comb_gate_set->size() == 0) return false;
    return mp_comb_gate_set->find(g) != mp_comb_gate_set->end();
  }
  void set_comb_gate_seen(CDB_SGATE_NODE* g) {
    if (mp_comb_gate_set) mp_comb_gate_set->insert(g);
  }
  int get_iterm_to_oterm_delay_of_non_huge_comb_gate(CDB_SGATE_ITERM* i) {
    KAVU_CHECK(mp_iterm_arc_delay_table != NULL);
    if (mp_iterm_arc_delay_table->size() == 0) return KAVU_DELAY_MIN;
    auto it = mp_iterm_arc_delay_table->find(i);
    return it == mp_iterm_arc_delay_table->end() ? KAVU_DELAY_MIN : it->second;
  }
  static int get_iterm_to_oterm_level_of_comb_gate(int leaf, const std::vector<KAVU_NODE_FOR_DECOMP_SEQ>& nodes) {
    int level = 1;
    for (int p = nodes[leaf].m_parent; p != -1; p = nodes[p].m_parent) ++level;
    return level;
  }
  // The k-ary Huffman merge by arrival. With an input of interest, returns
  // its arc (KAVU_DELAY_MIN when it is not a driven input); otherwise fills
  // the arc table for every driven input and returns KAVU_DELAY_MIN.
  int compute_iterm_oterm_delay_of_non_huge_comb_gate(CDB_SGATE_NODE* g, int u, C c, CDB_SGATE_ITERM* interest) {
    m_leaf_iterms.clear();
    m_nodes.clear();
    int interest_leaf = -1;
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
      if (!i || !cdb_is_connected(i) || !i->get_source()) continue;
      CDB_SGATE_OTERM* source = i->get_source();
      KAVU_CHECK(source != NULL);
      if (i == interest) interest_leaf = int(m_leaf_iterms.size());
      m_leaf_iterms.push_back(i);
      m_nodes.push_back({m_decomp_lookup(source, c), -1});
    }
    if (interest && interest_leaf < 0) return KAVU_DELAY_MIN;
    const int n = int(m_leaf_iterms.size());
    const int k = m_max_gate_size;
    KAVU_CHECK(n >= 1 && m_max_gate_size >= 1);
    set_comb_gate_seen(g);
    if (n == 1) {
      // One connected input passes straight through: no tree gate, arc 0.
      if (mp_iterm_arc_delay_table) (*mp_iterm_arc_delay_table)[m_leaf_iterms[0]] = 0;
      return interest ? 0 : KAVU_DELAY_MIN;
    }
    KAVU_CHECK(k >= 2);
    const int size = n + (n - 2) / (k - 1);
    m_nodes.resize(size);
    auto later = [this](int x, int y) { return m_nodes[x].m_delay > m_nodes[y].m_delay; };
    m_heap.clear();
    for (int leaf = 0; leaf < n; ++leaf) m_heap.push_back(leaf);
    std::make_heap(m_heap.begin(), m_heap.end(), later);
    int group = (n - 1) % (k - 1) + 1;
    if (group == 1) group = k;
    int cur = n;
    while (int(m_heap.size()) > k) {
      KAVU_CHECK(cur < size);
      int largest = KAVU_DELAY_MIN;
      for (int j = 0; j < group; ++j) {
        std::pop_heap(m_heap.begin(), m_heap.end(), later);
        int x = m_heap.back();
        m_heap.pop_back();
        largest = std::max(largest, m_nodes[x].m_delay);
        m_nodes[x].m_parent = cur;
      }
      m_nodes[cur].m_delay = largest == KAVU_DELAY_MIN ? KAVU_DELAY_MIN : u + largest;
      m_nodes[cur].m_parent = -1;
      m_heap.push_back(cur);
      std::push_heap(m_heap.begin(), m_heap.end(), later);
      ++cur;
      KAVU_CHECK((m_heap.size() - 1) % (m_max_gate_size - 1) == 0);
      group = k;
    }
    if (interest) return get_iterm_to_oterm_level_of_comb_gate(interest_leaf, m_nodes) * u;
    KAVU_CHECK(mp_iterm_arc_delay_table != NULL);
    for (int leaf = 0; leaf < n; ++leaf)
      (*mp_iterm_arc_delay_table)[m_leaf_iterms[leaf]] = get_iterm_to_oterm_level_of_comb_gate(leaf, m_nodes) * u;
    return KAVU_DELAY_MIN;
  }
  int best_over_inputs(A a, CDB_SGATE_NODE* g, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc) {
    bool qualified = false;
    const int best = scan_dependent_inputs(a, g, o, src, arc, &qualified);
    return qualified ? best : 0;
  }
  // The greatest arrival plus arc over the driven inputs that o depends on,
  // KAVU_DELAY_MIN when none has a valid arrival; *qualified tells whether
  // there is any such input.
  int scan_dependent_inputs(A a, CDB_SGATE_NODE* g, CDB_SGATE_OTERM* o, CDB_SGATE_OTERM** src, int* arc,
                            bool* qualified) {
    int best = KAVU_DELAY_MIN;
    bool any = false;
    *src = nullptr;
    *arc = KAVU_DELAY_MIN;
    for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
      if (!kavu_delay_seq::driven(i) || !kavu_oterm_depends_on_iterm(g, o, i, true, true, false, false)) continue;
      any = true;
      int arrival = m_fanin_lookup(i->get_source(), a);
      if (arrival == KAVU_DELAY_MIN) continue;
      int a_d = this->get_delay(g, i, o);
      if (a_d + arrival > best) {
        best = a_d + arrival;
        *src = i->get_source();
        *arc = a_d;
      }
    }
    *qualified = any;
    return best;
  }
  int best_over_outputs(B b, CDB_SGATE_NODE* g, CDB_SGATE_ITERM* i, bool need_fanout, CDB_SGATE_OTERM** sink,
                        int* arc) {
    int best = KAVU_DELAY_MIN;
    bool any = false;
    *sink = nullptr;
    *arc = 0;
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o || (need_fanout && !o->has_fanout())) continue;
      if (!kavu_oterm_depends_on_iterm(g, o, i, true, true, false, false)) continue;
      any = true;
      int f = m_fanout_lookup(o, b);
      if (f == KAVU_DELAY_MIN) continue;
      int a_d = this->get_delay(g, i, o);
      if (a_d + f > best) {
        best = a_d + f;
        *sink = o;
        *arc = a_d;
      }
    }
    return any ? best : 0;
  }

  FANIN_LOOKUP m_fanin_lookup = nullptr;
  FANOUT_LOOKUP m_fanout_lookup = nullptr;
  DECOMP_LOOKUP m_decomp_lookup = nullptr;
  int m_huge_gate_limit = 200;
  int m_max_gate_size = 2;
  COMB_GATE_SET* mp_comb_gate_set = nullptr;
  ARC_TABLE* mp_iterm_arc_delay_table = nullptr;
  std::vector<CDB_SGATE_ITERM*> m_leaf_iterms;
  std::vector<KAVU_NODE_FOR_DECOMP_SEQ> m_nodes;
  std::vector<int> m_heap;
};

// Delays kept in the terminals themselves (the delay expert's own).
class KAVU_DELAY_MODEL_SIMPLE : public KAVU_DELAY_MODEL_SEQ<void*, void*, void*> {
 public:
  explicit KAVU_DELAY_MODEL_SIMPLE(bool zero_carry_in) : KAVU_DELAY_MODEL_SIMPLE(zero_carry_in, 2, 200) {}
  KAVU_DELAY_MODEL_SIMPLE(bool zero_carry_in, int max_gate_size, int huge_gate_limit);
  KAVU_DELAY_MODEL_SIMPLE(const KAVU_DELAY_MODEL_SIMPLE&) = default;
  ~KAVU_DELAY_MODEL_SIMPLE() override;
};

// One clock domain's analysis of the sequential timer.
class KAVU_DELAY_MODEL_STIMER
    : public KAVU_DELAY_MODEL_SEQ<KAVU_SEQ_DELAY_ANALYSIS*, KAVU_SEQ_DELAY_ANALYSIS*, KAVU_SEQ_DELAY_ANALYSIS*> {
 public:
  explicit KAVU_DELAY_MODEL_STIMER(bool zero_carry_in) : KAVU_DELAY_MODEL_STIMER(zero_carry_in, 2, 200) {}
  KAVU_DELAY_MODEL_STIMER(bool zero_carry_in, int max_gate_size, int huge_gate_limit);
  KAVU_DELAY_MODEL_STIMER(const KAVU_DELAY_MODEL_STIMER&) = default;
  ~KAVU_DELAY_MODEL_STIMER() override;
};

typedef ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> KAVU_SEQ_OTERM_TABLE;

// Component passes with local tables, tree shaped by the domain analysis.
class KAVU_DELAY_MODEL_SCC
    : public KAVU_DELAY_MODEL_SEQ<KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_DELAY_ANALYSIS*> {
 public:
  explicit KAVU_DELAY_MODEL_SCC(bool zero_carry_in) : KAVU_DELAY_MODEL_SCC(zero_carry_in, 2, 200) {}
  KAVU_DELAY_MODEL_SCC(bool zero_carry_in, int max_gate_size, int huge_gate_limit);
  KAVU_DELAY_MODEL_SCC(const KAVU_DELAY_MODEL_SCC&) = default;
  ~KAVU_DELAY_MODEL_SCC() override;
};

// Component passes with arrival tables only.
class KAVU_DELAY_MODEL_SCC_ARR
    : public KAVU_DELAY_MODEL_SEQ<KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*> {
 public:
  explicit KAVU_DELAY_MODEL_SCC_ARR(bool zero_carry_in) : KAVU_DELAY_MODEL_SCC_ARR(zero_carry_in, 2, 200) {}
  KAVU_DELAY_MODEL_SCC_ARR(bool zero_carry_in, int max_gate_size, int huge_gate_limit);
  KAVU_DELAY_MODEL_SCC_ARR(const KAVU_DELAY_MODEL_SCC_ARR&) = default;
  ~KAVU_DELAY_MODEL_SCC_ARR() override;
};

// Non-sequential use of the same tables.
class KAVU_DELAY_MODEL_NSEQ
    : public KAVU_DELAY_MODEL_SEQ<KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*, KAVU_SEQ_OTERM_TABLE*> {
 public:
  explicit KAVU_DELAY_MODEL_NSEQ(bool zero_carry_in);
  KAVU_DELAY_MODEL_NSEQ(const KAVU_DELAY_MODEL_NSEQ&) = default;
  ~KAVU_DELAY_MODEL_NSEQ() override;
};
