// kavu_partition_cut_level.cpp — which edges the partitioner may cut, and
// from which cut level on.
//
// Every edge (input terminal I of gate T, driven by output terminal O of gate
// S) gets a level 0..3 in one pass, the first matching rule deciding:
//   3  a silly buffer on either side; protect buffer to a protect-wrapped
//      protect buffer; register to RAM; I/O to I/O; PLL to logic-cell buffer;
//      port type 2 of a logic module; comb to comb when the parameter
//      "never_cut_combinational_logic" is set;
//   1  a register data input fed by a non-anchor or by a register;
//   3  (timing) fan-in plus fan-out delay above 0.9 of the largest;
//   3  an adder or multiplier fed (through registers) by an adder or
//      multiplier; mux sticks fed by comb or decode logic; XOR to XOR;
//      selects fed by decoders or comb logic (by keys);
//   2  inside a fan-out-free cone (3 between two muxes), when the level is
//      still below 2.
// With "kavu_dont_cut_qfbk" every edge on a short path from a register's
// output back to its own data input becomes level 3. The search is memoised
// per gate and remaining depth: a gate first met deep in the search and found
// without a path is searched again when a later path reaches it with more
// depth left, so the result does not depend on the visiting order.
// Cost: O(E) for the rules; the feedback search O(D · cone) per register for
// the depth bound D.
#include <climits>
#include <memory>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "gen/gen_dyn_flag.h"
#include "kavu_delay.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_summary.h"
#include "kavu_msg.h"
#include "kavu_ops.h"
#include "kavu_partition_int.h"

using namespace kavu_partition_detail;

bool is_mux_stick(const CDB_SGATE_NODE* node) {
  if (!kavu_is_a_mux(node)) return false;
  for (unsigned i = 0; i < 2; ++i) {
    const CDB_SGATE_ITERM* t = node->get_input_term(i);
    if (!t || t->is_inverted() || !t->get_source()) continue;
    const CDB_SGATE_OTERM* o = t->get_source();
    if (o->has_fanout_exactly(1) && kavu_is_a_mux(o->get_my_node())) return true;
  }
  return false;
}

namespace {

struct CUT_KEYS {
  bool xor_mux = cfg_is_on("kavu_dont_cut_between_xors_and_mux_stuffs", false);
  bool sel_logic = cfg_is_on("kavu_dont_cut_between_selectors_and_logic", true);
  bool dec_mux = cfg_is_on("kavu_dont_cut_between_dec_and_mux_sticks", true);
  bool mffc_undesirable = cfg_is_on("kavu_cuts_in_mffcs_are_undesirable", true);
  bool dont_cut_qfbk = cfg_is_on("kavu_dont_cut_qfbk", false);
  int qfbk_depth = cfg_get_int_value("kavu_qfbk_max_depth", 30);
  bool no_mffc_muxcut = cfg_is_on("kavu_no_mffc_muxcut", true);
};

bool is_ram_gate(const CDB_SGATE_NODE* n) {
  return n->get_sgate_type() == CDB_SGATE_ASYNCHRONOUS_RAM_ENUM ||
         n->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM;
}

bool wys_is(const CDB_SGATE_NODE* n, bool (CDB_SGATE_WYSIWYG::*q)() const) {
  return n->is_wysiwyg() && (const_cast<CDB_SGATE_NODE*>(n)->cast_to_wysiwyg()->*q)();
}

bool never_cut(const CDB_SGATE_NODE* s, const CDB_SGATE_NODE* t, const CDB_SGATE_ITERM* i, bool never_comb) {
  if (kavu_is_a_silly_buffer(s) || kavu_is_a_silly_buffer(t)) return true;
  if (kavu_is_a_protect_buffer(s) && kavu_is_a_protect_buffer(t) && is_wrapped_in_protect_buffers(t)) return true;
  if (is_register(s) && is_ram_gate(t)) return true;
  if (is_io_like_node(s) && is_io_like_node(t)) return true;
  if (wys_is(s, &CDB_SGATE_WYSIWYG::is_pll) && kavu_is_a_lcell_buffer(t)) return true;
  if (wys_is(t, &CDB_SGATE_WYSIWYG::is_logic_module) && i->get_port_type() == 2) return true;
  return never_comb && kavu_look_through_gate_for_mffc(s) && kavu_look_through_gate_for_mffc(t);
}

bool is_decode_or_equal(const CDB_SGATE_NODE* n) { return kavu_is_a_decode_op(n) || kavu_is_a_equal_op(n); }

// An adder or multiplier behind at most 100 registers.
bool arith_behind_registers(const CDB_SGATE_NODE* x) {
  const CDB_SGATE_NODE* prev = nullptr;
  for (int steps = 0; is_register(x) && x != prev && steps < 100; ++steps) {
    const CDB_SGATE_ITERM* t = x->get_input_term(0);
    if (!t || !cdb_is_connected(t) || !t->get_source()) return false;
    prev = x;
    x = t->get_source()->get_my_node();
  }
  return kavu_is_a_add_op(x) || kavu_is_a_mult_op(x);
}

int mux_rules(const CUT_KEYS& k, const CDB_SGATE_NODE* s, const CDB_SGATE_NODE* t, CDB_SGATE_ITERM* i, int c) {
  if (!(k.xor_mux || k.sel_logic || k.dec_mux)) return c;
  const bool feeder = kavu_is_a_comb(s) || is_decode_or_equal(s);
  if (is_mux_stick(t)) {
    if (i == t->get_input_term(2) && feeder) c = 3;
  } else if (kavu_is_a_mux(t) && first_oterm(t) && first_oterm(t)->has_fanout_exactly(1) &&
             is_mux_stick(first_oterm(t)->get_first_fanout()->get_my_node())) {
    if (feeder) c = 3;
  }
  if (k.xor_mux && kavu_is_a_xor(t) && kavu_is_a_xor(s)) c = 3;
  if (k.sel_logic && kavu_is_a_select_op(t) && kavu_iterm_is_select_on_selector(i) &&
      (kavu_is_a_decode_op(s) || kavu_is_a_comb(s)))
    c = 3;
  return c;
}

void put_level(KAVU_PARTITIONER_STATE* state, CDB_SGATE_ITERM* i, int level) {
  state->set_cut_level(i, level >= 3 ? 3 : (level == 1 || level == 2 ? level : 0));
}

// Feedback memo on a gate's first output terminal for the current visit:
// aux the visit number, aux2 the largest depth searched, aux3 the smallest
// depth found true (high half, 0x7FFF none) and the largest depth found
// false plus one (low half).
constexpr int QFBK_DEPTH_LIMIT = 1000;
constexpr int NO_TRUE = 0x7FFF;
int memo_true(const CDB_SGATE_OTERM* f) { return (f->get_aux3() >> 16) & 0x7FFF; }
int memo_false(const CDB_SGATE_OTERM* f) { return (f->get_aux3() & 0xFFFF) - 1; }
void set_memo(CDB_SGATE_OTERM* f, int dt, int df) { f->set_aux3((dt << 16) | (df + 1)); }

}  // namespace

bool flag_qfbk_path(KAVU_PARTITIONER_STATE* state, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* target, int depth,
                    int visit, int level) {
  KAVU_CHECK(depth >= 0);
  if (!iterm || !cdb_is_connected(iterm) || !iterm->get_source()) return false;
  // The edge out of the register is on the loop too; left cuttable, the
  // anchor cut of preprocessing would open every feedback loop right there.
  if (iterm->get_source() == target) {
    put_level(state, iterm, level);
    return true;
  }
  CDB_SGATE_NODE* s = iterm->get_source()->get_my_node();
  CDB_SGATE_OTERM* f = first_oterm(s);
  if (f->get_aux() == visit) {
    if (depth <= memo_false(f)) return false;
    if (depth >= memo_true(f) && depth <= f->get_aux2()) {
      put_level(state, iterm, level);
      return true;
    }
  } else {
    f->set_aux(visit);
    f->set_aux2(-1);
    set_memo(f, NO_TRUE, -1);
  }
  if (depth < 1) return false;
  if (!(kavu_is_a_mux(s) || kavu_is_a_comb(s) || kavu_is_a_nto1_mux_op(s) || kavu_is_a_select_op(s))) return false;
  if (depth > f->get_aux2()) f->set_aux2(depth);
  bool answer = false;
  for (unsigned j = 0; j < s->get_number_of_input_terms(); ++j) {
    if (flag_qfbk_path(state, s->get_input_term(j), target, depth - 1, visit, level)) {
      answer = true;
      put_level(state, iterm, level);
    }
  }
  if (answer) {
    if (depth < memo_true(f)) set_memo(f, depth, memo_false(f));
  } else if (depth > memo_false(f)) {
    set_memo(f, memo_true(f), depth);
  }
  return answer;
}

void flag_dont_touch_on_iterms(KAVU_PARTITIONER_STATE* state, CDB_SGATE_NETLIST* netlist, bool timing_driven,
                               const GEN_DYN_FLAG& mffc_flag, const SYNTH::KAVU::PARTITIONING_PARAMS& params) {
  GEN_PROFILER profiler("KAVU", "flag_dont_touch_on_iterms");
  KAVU_CHECK(netlist);
  const CUT_KEYS keys;
  const bool never_comb = params.get_bool_param("never_cut_combinational_logic");
  // The default expert is a new object the caller owns.
  std::unique_ptr<KAVU_DELAY_EXPERT> partition_delay_expert;
  double largest = 0.0;
  if (timing_driven) {
    partition_delay_expert.reset(kavu_get_default_delay_expert(netlist));
    KAVU_CHECK(partition_delay_expert);
    largest = partition_delay_expert->compute_all_delays(true);
  }
  state->clear_levels();
  int limited = 0;
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* t = *it;
    KAVU_CHECK(t);
    for (unsigned ii = 0; ii < t->get_number_of_input_terms(); ++ii) {
      CDB_SGATE_ITERM* i = t->get_input_term(ii);
      if (!i || !cdb_is_connected(i) || !i->get_source()) continue;
      const CDB_SGATE_OTERM* o = i->get_source();
      const CDB_SGATE_NODE* src_node = o->get_my_node();
      KAVU_CHECK(src_node);
      int c = 0;
      if (never_cut(src_node, t, i, never_comb)) {
        c = 3;
      } else if (kavu_is_a_dff_din_port(i, true) && (!is_partition_anchor(src_node) || is_register(src_node))) {
        c = 1;
      }
      if (timing_driven) {
        const double sum = double(partition_delay_expert->compute_fanin_delay(i, 300)) +
                           double(partition_delay_expert->compute_fanout_delay(i, 300));
        if (sum > 0.9 * largest) c = 3;
      }
      if ((kavu_is_a_add_op(t) || kavu_is_a_mult_op(t)) && arith_behind_registers(src_node)) c = 3;
      c = mux_rules(keys, src_node, t, i, c);
      if (keys.mffc_undesirable && c < 2 && !o->test_dyn_flag(mffc_flag)) {
        c = (keys.no_mffc_muxcut && kavu_is_a_mux(t) && kavu_is_a_mux(src_node)) ? 3 : 2;
        ++limited;
      }
      if (c >= 1 && c <= 3) state->set_cut_level(i, uint8_t(c));
    }
  }
  state->m_initialized = true;
  if (keys.dont_cut_qfbk) {
    const int depth = keys.qfbk_depth < 0 ? 0 : (keys.qfbk_depth > QFBK_DEPTH_LIMIT ? QFBK_DEPTH_LIMIT : keys.qfbk_depth);
    kavu_reset_aux_and_aux2_values(netlist);
    int visit = 0;
    for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* r = *it;
      if (!r || !is_register(r)) continue;
      ++visit;
      flag_qfbk_path(state, kavu_get_dff_data(r), kavu_get_dff_oterm(r), depth, visit, 3);
    }
  }
  kavu_debug("There are %d iterms with limited cut level setting", limited);
}
