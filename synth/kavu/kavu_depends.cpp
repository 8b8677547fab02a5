// kavu_depends.cpp — terminal dependency queries (which inputs of a gate an
// output depends on, which sources feed an output) and the loop-terminal
// search.
//
// Model: one rule per gate kind, chosen once per query by atom type (device
//   atoms) or gate type (everything else); the rules are the table of
//   kavu_depends.h. Registers of both kinds are read through the kavu_get_dff_*
//   accessors; MAC and LUT-RAM registering through kavu_seq_mac_utility.h and kavu_seq_lutram_util.h.
// Feeders keep input order. Repeats are dropped for every kind except logic
//   cells (each counted input gives an entry); gates with many inputs check
//   repeats in a stamped pointer table instead of the vector, so the cost
//   stays linear and the order is the same. Very large gates (components
//   and gates with thousands of terminals) list their feeders on the first
//   output only, so a walk over all outputs does not multiply the work by
//   the output count; that is a documented approximation of such gates.
// Loop terminals: Tarjan's numbering over input terminals with an explicit
//   stack; visit and low numbers live in arrays indexed by a dense terminal
//   index (gate base + position), the gate bases in a pointer table, so
//   only lookups are made and the result follows the node-list order alone.
//   The reported set is a superset of the loop terminals: a low number also
//   flows to terminals downstream of a loop (kept as the callers rely on).
// Invariant: nothing here changes the netlist.
// Cost: a dependency query O(1) for most kinds, O(inputs) for LUTs, O(width)
//   for choice operators up to 50 bits; feeders O(inputs); loop terminals
//   O(terminals + edges) with two arrays of the terminal count.
#include "kavu_depends.h"

#include <algorithm>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_oterm_stamp_int.h"
#include "kavu_seq_lutram_util.h"
#include "kavu_seq_mac_utility.h"
#include "kavu_setup.h"

namespace {

// Atom types with rules of their own.
enum : CDB_WYSIWYG_TYPE {
  ATOM_LCELL_BRAE = 61,
  ATOM_LCELL_QUELLIN = 93,
  ATOM_FF_BRAE = 62,
  ATOM_FF_HARROWDALE = 94,
  ATOM_FF_QUELLIN = 115,
  ATOM_MAC_BRAE = 60,
  ATOM_MAC_QUELLIN = 95,
  ATOM_LUTRAM_BRAE = 63,
  ATOM_LUTRAM_QUELLIN = 97
};
constexpr CDB_WYSIWYG_TYPE CDB_DUSKFEN_FF_ENUM = ATOM_FF_BRAE;
constexpr CDB_WYSIWYG_TYPE CDB_QUELLIN_FF_ENUM = ATOM_FF_HARROWDALE;
constexpr CDB_WYSIWYG_TYPE CDB_HARROWDALE_FF_ENUM = ATOM_FF_QUELLIN;

// Port types the atom rules read.
constexpr DB_OUTPUT_PORT_TYPE SHARE_OUT_PORT = 252;
constexpr DB_INPUT_PORT_TYPE FF_DATA_IN_PORT = 20;
// DATAA..DATAF of a logic cell, the inputs of its shared arithmetic term.
constexpr DB_INPUT_PORT_TYPE LCELL_FIRST_DATA_PORT = 12;
constexpr DB_INPUT_PORT_TYPE LCELL_LAST_DATA_PORT = 17;
constexpr DB_INPUT_PORT_TYPE LUTRAM_DATA_IN_PORT = 410;
constexpr DB_OUTPUT_PORT_TYPE LUTRAM_DATA_OUT_PORT = 364;
constexpr DB_INPUT_PORT_TYPE MAC_DATA_IN_PORTS[] = {408,  409,  410,  411,  543,  3043, 3045,
                                                   3047, 3048, 3196, 3197, 3198, 3364};
constexpr DB_OUTPUT_PORT_TYPE MAC_DATA_OUT_PORTS[] = {363, 364, 800};

// Widest choice operator that is scanned bit by bit; wider ones depend on
// everything (a bounded answer for buses that are never bit-sliced).
constexpr unsigned CHOICE_SCAN_LIMIT = 50;

// Gates at least this large list feeders on their first output only.
constexpr unsigned HUGE_GATE_TERMS = 16384;
constexpr unsigned HUGE_GATE_BOTH = 128;
// Up to this many inputs the repeat check scans the vector.
constexpr unsigned LINEAR_REPEAT_LIMIT = 32;

// The terminal's own flag answers most calls without the out-of-line walk
// up the parent inputs.
bool is_real_source(const CDB_SGATE_ITERM* t) {
  return t && (t->is_connected() || cdb_is_connected(t)) && !t->is_vcc_or_gnd();
}

// ---- dependency rules

void check_atom_terms(const CDB_SGATE_NODE* sgate, const CDB_SGATE_OTERM* oterm, const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(sgate->is_wysiwyg());
  KAVU_CHECK(iterm != 0);
  KAVU_CHECK(oterm != 0);
  KAVU_CHECK(iterm->get_my_node() == sgate);
}

bool lcell_rule(const CDB_SGATE_NODE* sgate, const CDB_SGATE_OTERM* oterm, const CDB_SGATE_ITERM* iterm) {
  check_atom_terms(sgate, oterm, iterm);
  KAVU_CHECK(kavu_is_wys_comb(sgate,true));
  if (oterm->get_port_type() != SHARE_OUT_PORT) return true;
  // The share output carries the cell's shared arithmetic term, built from
  // DATAA..DATAF only.
  const DB_INPUT_PORT_TYPE port = iterm->get_port_type();
  return port >= LCELL_FIRST_DATA_PORT && port <= LCELL_LAST_DATA_PORT;
}

bool register_rule(const CDB_SGATE_NODE* sgate, const CDB_SGATE_OTERM* oterm, const CDB_SGATE_ITERM* iterm,
                   bool registers_cut, bool data_only) {
  if (sgate->is_wysiwyg()) {
    check_atom_terms(sgate, oterm, iterm);
    const CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
    KAVU_CHECK(wys->get_wysiwyg_type() == CDB_DUSKFEN_FF_ENUM || wys->get_wysiwyg_type() == CDB_QUELLIN_FF_ENUM || wys->get_wysiwyg_type() == CDB_HARROWDALE_FF_ENUM);
    if (registers_cut) return false;
    if (!data_only) return true;
    return iterm->get_port_type() == FF_DATA_IN_PORT;
  }
  if (registers_cut) return false;
  if (!data_only) return true;
  return iterm == sgate->get_input_term(CDB_DFF_DATA);
}

bool lut_rule(const CDB_SGATE_NODE* sgate, const CDB_SGATE_OTERM* oterm, const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(oterm == sgate->get_single_oterm());
  const CDB_SGATE_NODE::ITERM_VECTOR& inputs = sgate->get_input_terms();
  bool found = false;
  unsigned position = 0;
  for (unsigned i = 0; i < inputs.size() && !found; ++i) {
    if (inputs[i] == iterm) {
      found = true;
      position = i;
    }
  }
  KAVU_CHECK(found);
  return !sgate->cast_to_lut()->is_independent_of(position);
}

bool carry_sum_rule(const CDB_SGATE_NODE* cs, const CDB_SGATE_OTERM* oterm, const CDB_SGATE_ITERM* iterm) {
  if (oterm == cs->get_output_term(SUM_OUT)) return iterm == cs->get_input_term(SUM_IN);
  if (oterm != cs->get_output_term(CARRY_OUT))
    KAVU_INTERNAL_ERROR("oterm == cs->get_output_term( CDB_SGATE_CARRY_SUM::CARRY_OUT )");
  return iterm == cs->get_input_term(CARRY_IN);
}

// Bit i of the output depends on bit i of either data port only. Each port
// is read within its own width: the three ports need not be equally wide.
bool choice_rule(const CDB_SGATE_NODE* sgate, const CDB_SGATE_OTERM* oterm, const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(kavu_is_a_choice_op(sgate));
  const CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
  const CDB_SGATE_OPER_PORT_ENTRY* a = op->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* b = op->get_port(CDB_OPER_PORT_B);
  const CDB_SGATE_OPER_PORT_ENTRY* o = op->get_port(CDB_OPER_PORT_O);
  const unsigned wa = a ? a->get_width() : 0;
  const unsigned wb = b ? b->get_width() : 0;
  const unsigned wo = o ? o->get_width() : 0;
  if (wa > CHOICE_SCAN_LIMIT) return true;
  if (wa == 0) return false;
  const unsigned end = std::max({wa, wb, wo});
  for (unsigned i = 0; i < end; ++i) {
    const bool found_oterm = i < wo && o->get_oterm(i) == oterm;
    const bool found_iterm = (i < wa && a->get_iterm(i) == iterm) || (i < wb && b->get_iterm(i) == iterm);
    if (found_oterm || found_iterm) return found_oterm && found_iterm;
  }
  return false;
}

bool mac_rule(const CDB_SGATE_NODE* sgate, CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM* iterm, bool registers_cut,
              bool data_only) {
  KAVU_CHECK(sgate->is_wysiwyg());
  const CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
  KAVU_CHECK(wys->is_mac());
  KAVU_CHECK(iterm != 0 && oterm != 0);
  if (data_only) {
    const auto* in_end = std::end(MAC_DATA_IN_PORTS);
    const auto* out_end = std::end(MAC_DATA_OUT_PORTS);
    if (std::find(std::begin(MAC_DATA_IN_PORTS), in_end, iterm->get_port_type()) == in_end) return false;
    if (std::find(std::begin(MAC_DATA_OUT_PORTS), out_end, oterm->get_port_type()) == out_end) return false;
  }
  if (!registers_cut) return true;
  return !kavu_is_mac_input_registered(iterm, oterm->get_port_type()) &&
         !kavu_is_mac_output_registered(oterm, nullptr);
}

bool lutram_rule(CDB_SGATE_NODE* sgate, const CDB_SGATE_OTERM* oterm, const CDB_SGATE_ITERM* iterm,
                 bool registers_cut, bool data_only) {
  KAVU_CHECK(sgate->is_wysiwyg());
  const CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
  KAVU_CHECK(wys->is_lutram());
  KAVU_CHECK(iterm != 0 && oterm != 0);
  if (data_only && (iterm->get_port_type() != LUTRAM_DATA_IN_PORT || oterm->get_port_type() != LUTRAM_DATA_OUT_PORT))
    return false;
  if (!registers_cut) return true;
  return !kavu_is_lutram_output_registered(sgate);
}

[[noreturn]] void unsupported(const CDB_SGATE_NODE* sgate) {
  kavu_debug("oterm depends on iterm is not implemented for %s %s", sgate->get_string_type_name(),
             sgate->get_string_hpath().c_str());
  KAVU_INTERNAL_ERROR("Found unsupported sgate in oterm_depends_on_iterm.");
  __builtin_unreachable();
}

// Rule of a device atom, by atom type.
bool atom_depends(CDB_SGATE_NODE* sgate, CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM* iterm, bool registers_cut,
                  bool data_only, bool with_mac) {
  const CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
  switch (wys->get_wysiwyg_type()) {
    case ATOM_LCELL_BRAE:
    case ATOM_LCELL_QUELLIN:
      return lcell_rule(sgate, oterm, iterm);
    case ATOM_FF_BRAE:
    case ATOM_FF_HARROWDALE:
    case ATOM_FF_QUELLIN:
      return register_rule(sgate, oterm, iterm, registers_cut, data_only);
    case ATOM_MAC_BRAE:
      if (kavu_depends_seq_for_dkf && with_mac) return mac_rule(sgate, oterm, iterm, registers_cut, data_only);
      break;
    case ATOM_MAC_QUELLIN:
      if (with_mac) return mac_rule(sgate, oterm, iterm, registers_cut, data_only);
      break;
    case ATOM_LUTRAM_BRAE:
      if (kavu_depends_seq_for_dkf) return lutram_rule(sgate, oterm, iterm, registers_cut, data_only);
      break;
    case ATOM_LUTRAM_QUELLIN:
      return lutram_rule(sgate, oterm, iterm, registers_cut, data_only);
    default:
      if (wys->is_clkbuf()) return true;
      break;
  }
  unsupported(sgate);
}

// ---- feeders

// Appends the source of every real-source input once, in input order. Small
// gates check repeats in the vector; larger ones in a stamped table kept per
// thread, so no query allocates once the table has grown.
void append_distinct_sources(const CDB_SGATE_NODE* gate, std::vector<CDB_SGATE_OTERM*>& feeders) {
  const CDB_SGATE_NODE::ITERM_VECTOR& inputs = gate->get_input_terms();
  if (inputs.size() <= LINEAR_REPEAT_LIMIT) {
    for (CDB_SGATE_ITERM* t : inputs) {
      if (!is_real_source(t) || !t->get_source()) continue;
      CDB_SGATE_OTERM* src = t->get_source();
      if (std::find(feeders.begin(), feeders.end(), src) == feeders.end()) feeders.push_back(src);
    }
    return;
  }
  thread_local PTR_STAMP_TABLE seen;
  seen.clear(inputs.size());
  for (CDB_SGATE_OTERM* f : feeders) seen.insert(f, 0);
  for (CDB_SGATE_ITERM* t : inputs) {
    if (!is_real_source(t) || !t->get_source()) continue;
    if (seen.insert(t->get_source(), 0)) feeders.push_back(t->get_source());
  }
}

void register_feeders(const CDB_SGATE_NODE* gate, std::vector<CDB_SGATE_OTERM*>& feeders) {
  CDB_SGATE_ITERM* sload = kavu_get_dff_sload(gate);
  const bool load_in_use = sload && cdb_is_connected(sload) && !sload->is_gnd();
  CDB_SGATE_ITERM* inputs[] = {kavu_get_dff_data(gate), kavu_get_dff_enable(gate), sload,
                               kavu_get_dff_sclear(gate), load_in_use ? kavu_get_dff_adata(gate) : nullptr};
  for (CDB_SGATE_ITERM* t : inputs) {
    if (!is_real_source(t) || !t->get_source()) continue;
    CDB_SGATE_OTERM* src = t->get_source();
    if (std::find(feeders.begin(), feeders.end(), src) == feeders.end()) feeders.push_back(src);
  }
}

void lcell_feeders(CDB_SGATE_NODE* sgate, CDB_SGATE_OTERM* oterm, bool consider_function,
                   std::vector<CDB_SGATE_OTERM*>& feeders) {
  KAVU_CHECK(sgate->is_wysiwyg());
  CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
  KAVU_CHECK(wys->is_lcell_comb());
  for (CDB_SGATE_ITERM* iterm : sgate->get_input_terms()) {
    if (!is_real_source(iterm)) continue;
    if (!kavu_consider_oterm_for_iterm(wys, iterm, oterm, consider_function, false)) continue;
    CDB_SGATE_OTERM* src_oterm = iterm->get_source();
    KAVU_CHECK(src_oterm != 0);
    feeders.push_back(src_oterm);
  }
}

bool is_huge_gate(const CDB_SGATE_NODE* gate) {
  if (kavu_is_a_component(gate)) return true;
  if (kavu_is_a_op(gate)) return false;
  const uint64_t in = gate->get_number_of_input_terms();
  const uint64_t out = gate->get_output_count();
  return in >= HUGE_GATE_TERMS || out >= HUGE_GATE_TERMS || (in >= HUGE_GATE_BOTH && out >= HUGE_GATE_BOTH) || in * out >= HUGE_GATE_TERMS;
}

// ---- loop terminals

// Visit numbers: LOOP_UNSEEN, LOOP_WAITING (on the stack), 1 and up in order
// of first visit, LOOP_SENTINEL once finished. Low numbers start at the
// sentinel; a terminal whose low number ends below it is reported.
constexpr int LOOP_SENTINEL = 1234567890;
constexpr int LOOP_UNSEEN = -1;
constexpr int LOOP_WAITING = 0;

struct LOOP_STATS {
  long m_total = 0;  // every input-list entry, live or not
  long m_found = 0;
};

// Tarjan's numbering over live input terminals (see the file comment).
class LOOP_TERM_SEARCH {
 public:
  LOOP_TERM_SEARCH(CDB_SGATE_NETLIST* netlist, bool one_ff_loops) : m_netlist(netlist), m_one_ff(one_ff_loops) {}

  void run(std::vector<CDB_SGATE_ITERM*>* iterms, std::vector<CDB_SGATE_OTERM*>* oterms) {
    index_terminals();
    for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g || (m_one_ff && !kavu_is_a_dff(g, true))) continue;
      search_from(g);
    }
    collect(iterms, oterms);
  }

  const LOOP_STATS& stats() const { return m_stats; }

 private:
  struct ENTRY {
    CDB_SGATE_ITERM* m_iterm;
    int m_index;
  };

  static bool is_live(const CDB_SGATE_ITERM* t) {
    return t && cdb_is_connected(t) && !t->is_vcc_or_gnd();
  }

  // Dense index of input i of a gate: the gate's base plus i.
  void index_terminals() {
    size_t total = 0;
    m_base.clear(m_netlist->size());
    for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
      if (!*it) continue;
      m_base.insert(*it, int(total));
      total += (*it)->get_number_of_input_terms();
    }
    KAVU_CHECK(total < size_t(LOOP_SENTINEL));
    m_visit.assign(total, LOOP_UNSEEN);
    m_low.assign(total, LOOP_SENTINEL);
  }

  // The gate that drives t, with its input base; null for none.
  CDB_SGATE_NODE* driver_of(const CDB_SGATE_ITERM* t, int* base) {
    CDB_SGATE_OTERM* src = t->get_source();
    CDB_SGATE_NODE* d = src ? src->get_my_node() : nullptr;
    if (!d) return nullptr;
    const int* b = m_base.find(d);
    if (!b) return nullptr;  // a driver outside the netlist has no edges
    *base = *b;
    return d;
  }

  void search_from(CDB_SGATE_NODE* g) {
    const int base = *m_base.find(g);
    const CDB_SGATE_NODE::ITERM_VECTOR& inputs = g->get_input_terms();
    for (unsigned i = 0; i < inputs.size(); ++i) {
      if (!is_live(inputs[i]) || m_visit[base + i] != LOOP_UNSEEN) continue;
      m_visit[base + i] = LOOP_WAITING;
      m_stack.push_back({inputs[i], int(base + i)});
    }
    while (!m_stack.empty()) {
      const ENTRY e = m_stack.back();
      m_stack.pop_back();
      if (m_visit[e.m_index] == LOOP_WAITING) first_visit(e);
      else if (m_visit[e.m_index] > 0 && m_visit[e.m_index] != LOOP_SENTINEL) second_visit(e);
    }
  }

  void first_visit(const ENTRY& e) {
    m_visit[e.m_index] = ++m_counter;
    m_stack.push_back(e);
    int base = 0;
    CDB_SGATE_NODE* d = driver_of(e.m_iterm, &base);
    if (!d) return;
    const bool may_enter = !m_one_ff || !kavu_is_a_dff(d, true);
    int& low = m_low[e.m_index];
    const CDB_SGATE_NODE::ITERM_VECTOR& inputs = d->get_input_terms();
    for (unsigned i = 0; i < inputs.size(); ++i) {
      if (!is_live(inputs[i])) continue;
      int& visit = m_visit[base + i];
      if (visit == LOOP_UNSEEN && may_enter) {
        visit = LOOP_WAITING;
        m_stack.push_back({inputs[i], int(base + i)});
      } else if (visit >= 1 && visit < low) {
        low = visit;  // a back edge closes a loop
      }
    }
  }

  void second_visit(const ENTRY& e) {
    m_visit[e.m_index] = LOOP_SENTINEL;
    int base = 0;
    CDB_SGATE_NODE* d = driver_of(e.m_iterm, &base);
    if (!d) return;
    int& low = m_low[e.m_index];
    const CDB_SGATE_NODE::ITERM_VECTOR& inputs = d->get_input_terms();
    for (unsigned i = 0; i < inputs.size(); ++i)
      if (is_live(inputs[i]) && m_low[base + i] < low) low = m_low[base + i];
  }

  void collect(std::vector<CDB_SGATE_ITERM*>* iterms, std::vector<CDB_SGATE_OTERM*>* oterms) {
    for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
      CDB_SGATE_NODE* g = *it;
      if (!g) continue;
      const int base = *m_base.find(g);
      const CDB_SGATE_NODE::ITERM_VECTOR& inputs = g->get_input_terms();
      for (unsigned i = 0; i < inputs.size(); ++i) {
        ++m_stats.m_total;
        if (!is_live(inputs[i]) || m_low[base + i] >= LOOP_SENTINEL) continue;
        iterms->push_back(inputs[i]);
        oterms->push_back(inputs[i]->get_source());
        ++m_stats.m_found;
      }
    }
  }

  CDB_SGATE_NETLIST* m_netlist;
  bool m_one_ff;
  int m_counter = 0;
  PTR_STAMP_TABLE m_base;
  std::vector<int> m_visit;
  std::vector<int> m_low;
  std::vector<ENTRY> m_stack;
  LOOP_STATS m_stats;
};

}  // namespace

bool kavu_oterm_depends_on_iterm(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM* iterm,
                                 bool registers_cut, bool data_only, bool with_mac, bool ignore_lut_function) {
  CDB_SGATE_NODE* sgate = node;
  KAVU_CHECK(sgate != 0);
  KAVU_CHECK(oterm != 0);
  KAVU_CHECK(iterm != 0);
  if (sgate->is_wysiwyg()) return atom_depends(sgate, oterm, iterm, registers_cut, data_only, with_mac);
  switch (sgate->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
    case CDB_SGATE_LATCH_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
      return true;
    case CDB_SGATE_DFF_ENUM:
      return register_rule(sgate, oterm, iterm, registers_cut, data_only);
    case CDB_SGATE_LUT_ENUM:
      return ignore_lut_function || lut_rule(sgate, oterm, iterm);
    case CDB_SGATE_STATE_ENUM:
      return !registers_cut;
    case CDB_SGATE_CARRY_SUM_ENUM:
      return carry_sum_rule(sgate, oterm, iterm);
    case CDB_SGATE_OPERATOR_ENUM:
      return kavu_is_a_choice_op(sgate) ? choice_rule(sgate, oterm, iterm) : true;
    default:
      unsupported(sgate);
  }
}

bool kavu_consider_oterm_for_iterm(CDB_SGATE_WYSIWYG* wys, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm,
                                   bool consider_function, bool registers_cut) {
  KAVU_CHECK(wys != 0);
  KAVU_CHECK(wys->is_lcell_comb() || wys->is_ff());
  if (!iterm || !(cdb_is_connected(iterm) && !iterm->is_vcc_or_gnd()))
    KAVU_INTERNAL_ERROR("cdb_is_connected( iterm ) && !iterm->is_vcc_or_gnd()");
  if (!consider_function) return true;
  switch (wys->get_wysiwyg_type()) {
    case ATOM_LCELL_BRAE:
    case ATOM_LCELL_QUELLIN:
    case ATOM_FF_BRAE:
    case ATOM_FF_HARROWDALE:
    case ATOM_FF_QUELLIN:
      return kavu_oterm_depends_on_iterm(wys, oterm, iterm, registers_cut, false, false, false);
    default:
      return true;
  }
}

void kavu_get_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders, bool consider_function,
                            bool register_inputs, bool spare) {
  (void)spare;
  KAVU_CHECK(oterm != 0);
  feeders.clear();
  CDB_SGATE_NODE* gate = oterm->get_my_node();
  if (register_inputs && kavu_is_a_dff(gate, true)) {
    register_feeders(gate, feeders);
  } else if (kavu_is_a_carry_sum_buffer(gate)) {
    CDB_SGATE_ITERM* half =
        gate->get_input_term(oterm == gate->get_output_term(CARRY_OUT) ? CARRY_IN : SUM_IN);
    if (half && cdb_is_connected(half) && half->get_source()) feeders.push_back(half->get_source());
  } else if (kavu_is_wys_comb(gate, true)) {
    lcell_feeders(gate, oterm, consider_function, feeders);
  } else if (is_huge_gate(gate)) {
    if (oterm == gate->get_single_oterm()) append_distinct_sources(gate, feeders);
  } else {
    append_distinct_sources(gate, feeders);
  }
}

void kavu_find_all_loop_terms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>* iterms,
                              std::vector<CDB_SGATE_OTERM*>* oterms) {
  KAVU_CHECK(netlist && iterms && oterms);
  const bool one_ff_loops = cfg_is_on("kavu_make_one_ff_loops_critical", false);
  iterms->clear();
  oterms->clear();
  LOOP_TERM_SEARCH search(netlist, one_ff_loops);
  search.run(iterms, oterms);
  const LOOP_STATS& s = search.stats();
  if (s.m_total > 0) {
    kavu_debug("find_all_loop_terms: %d of %d iterms (%.3f) in loops", int(s.m_found), int(s.m_total),
               double(float(s.m_found) / float(s.m_total)));
  } else {
    kavu_debug("find_all_loop_terms: don't see any iterms!");
  }
}
