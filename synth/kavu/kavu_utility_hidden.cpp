// kavu_utility_hidden.cpp — hidden operators and bad clock enables.
//
// Dependence search: R(t, d), "input t is driven by the target within d
// levels", is d >= 1 and t has a real source s and (s is the target, or s's
// gate passes values and some input u of it has R(u, d - 1)). The answer for
// s depends only on (s, d), and a source that fails at d fails at every
// smaller d, so the search keeps per source the largest depth at which it
// failed and never explores it again at that depth or below. Without the
// memo the walk is fan-in^depth on wide select and N-to-1 mux operators. The
// walk uses an explicit stack; stack and memo are per-thread scratch reused
// across calls, so a query allocates only while its cone outgrows them.
// Fixed fault against the literal rewrite: the feedback input of the new
// multiplexer takes the register output's own inversion flag, so that the
// register reloads Q and not its complement when that output is inverted.
#include "kavu_utility_hidden.h"

#include <cstdint>
#include <string>
#include <vector>

#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "mem/mem.h"

namespace {

constexpr int UGLY_ENABLE_DEPTH = 5;

bool is_real_source(const CDB_SGATE_ITERM* t) {
  return t && cdb_is_connected(t) && !t->is_vcc_or_gnd() && t->get_source();
}

// Gates through which the dependence search walks.
bool passes_values(const CDB_SGATE_NODE* g) {
  return kavu_is_a_comb(g) || kavu_is_a_mux(g) || kavu_is_a_nto1_mux_op(g) || kavu_is_a_select_op(g);
}

// Open-addressing map from a source terminal to the largest depth at which
// it was found not to reach the target; cleared per query through the list
// of slots in use.
class FAILED_DEPTH_MEMO {
 public:
  void clear() {
    for (uint32_t s : m_used) m_slots[s].m_key = nullptr;
    m_used.clear();
  }
  // -1 when the terminal was never explored.
  int get(const CDB_SGATE_OTERM* t) const {
    if (m_slots.empty()) return -1;
    for (size_t s = slot_of(t);; s = (s + 1) & (m_slots.size() - 1)) {
      if (m_slots[s].m_key == t) return m_slots[s].m_depth;
      if (!m_slots[s].m_key) return -1;
    }
  }
  void raise(const CDB_SGATE_OTERM* t, int depth) {
    if ((m_used.size() + 1) * 2 > m_slots.size()) grow();
    size_t s = slot_of(t);
    while (m_slots[s].m_key && m_slots[s].m_key != t) s = (s + 1) & (m_slots.size() - 1);
    if (!m_slots[s].m_key) {
      m_slots[s] = {t, depth};
      m_used.push_back(uint32_t(s));
    } else if (m_slots[s].m_depth < depth) {
      m_slots[s].m_depth = depth;
    }
  }

 private:
  struct SLOT {
    const CDB_SGATE_OTERM* m_key = nullptr;
    int m_depth = 0;
  };
  size_t slot_of(const CDB_SGATE_OTERM* t) const {
    uint64_t h = reinterpret_cast<uintptr_t>(t);
    h ^= h >> 29;
    h *= 0xbf58476d1ce4e5b9ull;
    h ^= h >> 32;
    return size_t(h) & (m_slots.size() - 1);
  }
  void grow() {
    std::vector<SLOT> old;
    old.swap(m_slots);
    m_slots.assign(old.empty() ? 64 : old.size() * 2, SLOT());
    m_used.clear();
    for (const SLOT& e : old)
      if (e.m_key) raise(e.m_key, e.m_depth);
  }
  std::vector<SLOT> m_slots;
  std::vector<uint32_t> m_used;
};

struct DEPENDS_FRAME {
  const CDB_SGATE_OTERM* m_oterm;  // the source being explored
  const CDB_SGATE_NODE* m_gate;
  unsigned m_next;                 // next input of m_gate to try
  int m_depth;                     // levels left for m_oterm
};

struct DEPENDS_SCRATCH {
  FAILED_DEPTH_MEMO m_memo;
  std::vector<DEPENDS_FRAME> m_stack;
};

// The gating input and raw phase of one fan-out; false when it is not
// screened.
bool gate_of_fanout(CDB_SGATE_ITERM* fanout, CDB_SGATE_ITERM** gating, bool* raw_phase) {
  CDB_SGATE_NODE* g = fanout->get_my_node();
  if (kavu_is_a_two_and(g) || kavu_is_a_two_or(g)) {
    CDB_SGATE_ITERM* other = nullptr;
    for (CDB_SGATE_ITERM* t : g->get_input_terms())
      if (t && t != fanout) other = t;
    if (!other) return false;
    *gating = other;
    *raw_phase = kavu_is_a_two_and(g);
    return true;
  }
  if (kavu_is_a_mux(g)) {
    if (fanout == g->get_input_term(CDB_MUX_SELECT)) return false;
    *gating = g->get_input_term(CDB_MUX_SELECT);
    *raw_phase = fanout == g->get_input_term(CDB_MUX_DATA1);
    return *gating != nullptr;
  }
  if (kavu_is_a_select_op(g)) {
    *gating = opt_select_op_screener(fanout);
    *raw_phase = true;
    return *gating != nullptr;
  }
  if (kavu_is_a_nto1_mux_op(g)) kavu_debug("Feeding Nto1 MUX - maybe hidden");
  return false;
}

bool sync_inputs_unused(const CDB_SGATE_NODE* dff) {
  for (unsigned pos : {unsigned(CDB_DFF_SLOAD), unsigned(CDB_DFF_SCLR)}) {
    const CDB_SGATE_ITERM* t = dff->get_input_term(pos);
    if (t && cdb_is_connected(t) && !t->is_gnd()) return false;
  }
  return true;
}

}  // namespace

bool opt_check_nto1_mux_hidden(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM** screener, bool* hidden_by_phase) {
  KAVU_CHECK(screener && hidden_by_phase);
  KAVU_CHECK(oterm);
  *screener = nullptr;
  bool first = true;
  for (CDB_SGATE_ITERM* fanout : oterm->fanouts()) {
    CDB_SGATE_ITERM* gating = nullptr;
    bool raw = false;
    if (!gate_of_fanout(fanout, &gating, &raw)) return false;
    if (gating->is_inverted()) raw = !raw;
    const bool phase = !raw;
    CDB_SGATE_OTERM* src = gating->get_source();
    if (first) {
      *screener = src;
      *hidden_by_phase = phase;
      first = false;
    } else if (src != *screener || phase != *hidden_by_phase) {
      return false;
    }
  }
  return true;
}

CDB_SGATE_ITERM* opt_select_op_screener(CDB_SGATE_ITERM* data_iterm) {
  KAVU_CHECK(data_iterm);
  CDB_SGATE_NODE* sgate = data_iterm->get_my_node();
  KAVU_CHECK(kavu_is_a_select_op (sgate));
  const CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
  const CDB_SGATE_OPER_PORT_ENTRY* data = op->get_port(CDB_OPER_PORT_B);
  const unsigned width = data ? data->get_width() : 0;
  for (unsigned i = 0; i < width; ++i) {
    if (data->get_iterm(i) == data_iterm) return op->get_iterm(CDB_OPER_PORT_A, i);
  }
  return nullptr;
}

void opt_find_screened_ops(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  kavu_debug_at_level(MSG_D_LEVEL(3), "Looking for hidden operators...");
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* op = *it;
    if (!op || !kavu_is_a_op(op) || !op->has_fanout()) continue;
    int count = 0;
    bool all_hidden = true;
    bool remembered = false;
    CDB_SGATE_OTERM* first_screener = nullptr;
    bool first_phase = false;
    for (CDB_SGATE_OTERM* t : op->get_output_terms()) {
      if (!all_hidden) break;
      if (!t) continue;
      CDB_SGATE_OTERM* screener = nullptr;
      bool phase = false;
      if (!opt_check_nto1_mux_hidden(t, &screener, &phase)) {
        all_hidden = false;
        continue;
      }
      ++count;
      if (!remembered) {
        remembered = true;
        first_screener = screener;
        first_phase = phase;
      } else if (screener != first_screener || phase != first_phase) {
        all_hidden = false;
      }
    }
    const std::string name = op->get_debug_name();
    if (count > 0) kavu_debug("  the first %d oterms of OP %s are hidden", count, name.c_str());
    if (!all_hidden) continue;
    kavu_debug("op %s %s is hidden when", op->get_string_type_name(), name.c_str());
    if (first_screener) {
      kavu_debug("  oterm %s.%d", first_screener->get_my_node()->get_debug_name().c_str(),
                 int(first_screener->get_port_index()));
    } else {
      kavu_debug("  oterm NULL");
    }
    kavu_debug("  is %s", first_phase ? "VCC" : "GND");
  }
}

bool opt_iterm_depends_on_oterm(CDB_SGATE_OTERM* target, CDB_SGATE_ITERM* iterm, int depth) {
  if (depth < 1 || !is_real_source(iterm)) return false;
  const CDB_SGATE_OTERM* src = iterm->get_source();
  if (src == target) return true;
  const CDB_SGATE_NODE* gate = src->get_my_node();
  if (!passes_values(gate) || gate->get_number_of_input_terms() == 0) return false;
  thread_local DEPENDS_SCRATCH scratch;
  FAILED_DEPTH_MEMO& memo = scratch.m_memo;
  std::vector<DEPENDS_FRAME>& stack = scratch.m_stack;
  memo.clear();
  stack.clear();
  stack.push_back({src, gate, 0, depth});
  while (!stack.empty()) {
    DEPENDS_FRAME& f = stack.back();
    if (f.m_next >= f.m_gate->get_number_of_input_terms() || f.m_depth - 1 < 1) {
      memo.raise(f.m_oterm, f.m_depth);
      stack.pop_back();
      continue;
    }
    const CDB_SGATE_ITERM* in = f.m_gate->get_input_term(f.m_next++);
    if (!is_real_source(in)) continue;
    const CDB_SGATE_OTERM* s = in->get_source();
    if (s == target) {
      stack.clear();
      return true;
    }
    const int left = f.m_depth - 1;
    if (memo.get(s) >= left) continue;
    const CDB_SGATE_NODE* g = s->get_my_node();
    if (!passes_values(g) || g->get_number_of_input_terms() == 0) {
      memo.raise(s, left);
      continue;
    }
    stack.push_back({s, g, 0, left});
  }
  return false;
}

bool opt_dff_has_ugly_clock_enable(CDB_SGATE_NODE* dff) {
  KAVU_CHECK(kavu_is_a_dff (dff));
  CDB_SGATE_OTERM* q = dff->get_output_term(0);
  CDB_SGATE_ITERM* ena = dff->get_input_term(CDB_DFF_ENA);
  CDB_SGATE_ITERM* data = dff->get_input_term(CDB_DFF_DATA);
  if (!q || !is_real_source(ena) || !opt_iterm_depends_on_oterm(q, ena, UGLY_ENABLE_DEPTH)) return false;
  return is_real_source(data) && opt_iterm_depends_on_oterm(q, data, UGLY_ENABLE_DEPTH);
}

void opt_convert_clock_enable_to_mux(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist) {
  CDB_SGATE_NODE* sgate = dff;
  KAVU_CHECK(kavu_is_a_dff (sgate));
  KAVU_CHECK(netlist);
  for (unsigned pos : {unsigned(CDB_DFF_SLOAD), unsigned(CDB_DFF_SCLR)}) {
    const CDB_SGATE_ITERM* iterm = dff->get_input_term(pos);
    KAVU_CHECK(!cdb_is_connected (iterm) || iterm->is_gnd());
  }
  CDB_SGATE_ITERM* iterm = dff->get_input_term(CDB_DFF_ENA);
  KAVU_CHECK(cdb_is_connected (iterm) && !iterm->is_vcc());
  CDB_SGATE_ITERM* data = dff->get_input_term(CDB_DFF_DATA);
  CDB_SGATE_OTERM* q = dff->get_output_term(0);
  KAVU_CHECK(data && q);

  CDB_SGATE_MUX* mux = new CDB_SGATE_MUX(nullptr);
  kavu_create_synthesized_name(mux, dff->get_instance_name(), "mux");
  MEM_SEGMENT* seg = MEM_MANAGER::get_default_segment();
  for (unsigned p = mux->get_first_iport(); p < 3; p = mux->get_next_iport(p)) {
    if (!mux->get_input_term(p)) mux->set_input_term(mux->create_input_term(seg), p);
  }
  netlist->add_node(mux, true);
  CDB_SGATE_ITERM* hold = mux->get_input_term(CDB_MUX_DATA0);
  q->insert_fanout(hold);
  // Fan-outs read Q through the output's inversion; the same flag on the
  // feedback input cancels it, so the register holds its value.
  kavu_set_invert_flag(hold, q->is_inverted());
  kavu_copy_fanin(data, mux->get_input_term(CDB_MUX_DATA1));
  kavu_copy_fanin(iterm, mux->get_input_term(CDB_MUX_SELECT));
  data->disconnect_from_source(2);
  mux->get_output_term(0)->insert_fanout(data);
  data->clear_invert();
  iterm->disconnect_from_source(2);
  iterm->set_vcc();
}

void opt_look_for_bad_enas(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  std::vector<CDB_SGATE_NODE*> bad;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (g && kavu_is_a_dff(g) && sync_inputs_unused(g) && opt_dff_has_ugly_clock_enable(g)) bad.push_back(g);
  }
  // Rewritten after the walk: the new multiplexers join the node list.
  for (CDB_SGATE_NODE* dff : bad) opt_convert_clock_enable_to_mux(dff, netlist);
  if (!bad.empty()) kavu_debug("Converted %d very ugly clock enables to logic", int(bad.size()));
}
