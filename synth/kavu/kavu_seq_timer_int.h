// kavu_seq_timer_int.h — what the sequential timer's sources share inside
// the area.
#pragma once

class CDB_SGATE_ITERM;
class KAVU_SEQ_TIMER;

// The clock id of a driven clock input (its source and inversion), -1 for an
// undriven one; a new clock gets the timer's next id.
int kavu_seq_clock_id_of(KAVU_SEQ_TIMER* timer, const CDB_SGATE_ITERM* clk);

#include "cdb/cdb_sgate.h"
#include "kavu_delay_model_seq.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_seq_timer.h"

// A map from terminals to positions (>= 0) for one set-up pass of a domain.
// A terminal the timer indexed keeps its position in the timer's slot array
// (its aux value, checked against the timer's record: aux is shared
// scratch); any other terminal goes to a hash table. Only the slots used are
// reset at the end, so a pass costs the size of what it maps, not of the
// netlist. One map at a time per timer.
class KAVU_SEQ_OTERM_POSITIONS {
 public:
  explicit KAVU_SEQ_OTERM_POSITIONS(KAVU_SEQ_TIMER* timer) : m_timer(timer) {
    if (!m_timer) return;
    KAVU_CHECK(!m_timer->m_position_slots_busy);
    m_timer->m_position_slots_busy = true;
    m_timer->m_position_slots.resize(size_t(m_timer->get_num_oterms()), -1);
  }
  ~KAVU_SEQ_OTERM_POSITIONS() {
    if (!m_timer) return;
    for (int k : m_used) m_timer->m_position_slots[size_t(k)] = -1;
    m_timer->m_position_slots_busy = false;
  }
  KAVU_SEQ_OTERM_POSITIONS(const KAVU_SEQ_OTERM_POSITIONS&) = delete;
  KAVU_SEQ_OTERM_POSITIONS& operator=(const KAVU_SEQ_OTERM_POSITIONS&) = delete;

  // The position, -1 for a terminal not in the map.
  int find(const CDB_SGATE_OTERM* oterm) const {
    const int k = slot_of(oterm);
    if (k >= 0) return m_timer->m_position_slots[size_t(k)];
    if (m_others.empty()) return -1;
    auto it = m_others.find(const_cast<CDB_SGATE_OTERM*>(oterm));
    return it == m_others.end() ? -1 : it->second;
  }
  bool exists(const CDB_SGATE_OTERM* oterm) const { return find(oterm) >= 0; }
  // False (and nothing changes) when the terminal is already in the map.
  bool insert(CDB_SGATE_OTERM* oterm, int position) {
    const int k = slot_of(oterm);
    if (k >= 0) {
      int& slot = m_timer->m_position_slots[size_t(k)];
      if (slot >= 0) return false;
      slot = position;
      m_used.push_back(k);
      return true;
    }
    return m_others.insert(oterm, position).second;
  }

 private:
  int slot_of(const CDB_SGATE_OTERM* oterm) const {
    if (!m_timer) return -1;
    const int k = KAVU_SEQ_TIMER::get_oterm_info_index(oterm);
    if (k < 0 || k >= int(m_timer->m_position_slots.size())) return -1;
    return m_timer->get_oterm_info_at(k)->m_oterm == oterm ? k : -1;
  }

  KAVU_SEQ_TIMER* m_timer;
  std::vector<int> m_used;
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> m_others;
};

// How the sequential arrival model times the terminal o, reduced to fixed
// arcs where the model's rule allows it (the fit tests' and the search's
// indexed forms both take it from here):
// - GENERAL: the gate's arcs depend on the arrivals (a wide comb gate's tree,
//   atoms) or its kind has no fixed rule; nothing was added.
// - FIXED_REGISTER: a fixed or block-packed register; no arcs.
// - REGISTER: a movable register; one arc per driven data, enable,
//   synchronous-load and synchronous-clear input, each worth minus the
//   cycle time.
// - CARRY_START: a carry buffer the model does not look through; starts at 0.
// - ARCS: one arc per driven input the output depends on, with its fixed
//   delay; *empty_arrival is the terminal's arrival when no arc has one
//   (a huge gate's level cost, else 0).
// add_arc(iterm, delay) is called for each arc in the model's input order.
enum class SEQ_FIXED_ARRIVAL { GENERAL, FIXED_REGISTER, REGISTER, CARRY_START, ARCS };

template <class MODEL, class ADD_ARC>
SEQ_FIXED_ARRIVAL kavu_seq_fixed_arrival_rule(CDB_SGATE_OTERM* o, MODEL* model, ADD_ARC&& add_arc,
                                              int* empty_arrival) {
  *empty_arrival = 0;
  CDB_SGATE_NODE* g = o ? o->get_my_node() : nullptr;
  if (!g) return SEQ_FIXED_ARRIVAL::GENERAL;
  if (kavu_delay_seq::is_register(g)) {
    if (kavu_seq_timer_is_register_ram_packed(g) || kavu_seq_timer_is_register_mac_packed(g) ||
        kavu_seq_timer_is_dff_fixed(g))
      return SEQ_FIXED_ARRIVAL::FIXED_REGISTER;
    CDB_SGATE_ITERM* inputs[4] = {kavu_get_dff_data(g), kavu_get_dff_enable(g), kavu_get_dff_sload(g),
                                  kavu_get_dff_sclear(g)};
    for (CDB_SGATE_ITERM* i : inputs)
      if (kavu_delay_seq::driven(i)) add_arc(i, 0);
    return SEQ_FIXED_ARRIVAL::REGISTER;
  }
  if (g->is_wysiwyg()) return SEQ_FIXED_ARRIVAL::GENERAL;
  switch (g->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
    case CDB_SGATE_OPERATOR_ENUM:
      if (o != g->get_single_oterm()) return SEQ_FIXED_ARRIVAL::GENERAL;
      if (g->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM && !kavu_is_a_op(g)) return SEQ_FIXED_ARRIVAL::GENERAL;
      if (!model->look_through_carry_buffers() && g->get_sgate_type() == CDB_SGATE_BUFFER_ENUM &&
          g->cast_to_buffer()->get_buffer_type() == CDB_BUFFER_SINGLE_CARRY)
        return SEQ_FIXED_ARRIVAL::CARRY_START;
      for (CDB_SGATE_ITERM* i : g->get_input_terms())
        if (kavu_delay_seq::driven(i) && kavu_oterm_depends_on_iterm(g, o, i, true, true, false, false))
          add_arc(i, model->get_delay(g, i, o));
      return SEQ_FIXED_ARRIVAL::ARCS;
    case CDB_SGATE_COMB_ENUM: {
      // A huge gate costs its level count on every input; a gate of at most
      // the decomposition fan-in driven inputs is one tree node (one gate
      // delay per input, none with a single input). Wider gates build a
      // tree by arrival.
      const int n = int(g->get_number_of_input_terms());
      const int u = model->get_delay(g, nullptr, nullptr);
      const int huge = model->get_huge_gate_limit();
      int delay = 0;
      if (huge != -1 && n >= huge) {
        delay = kavu_delay_seq::level_count(n, model->get_max_gate_size()) * u;
        *empty_arrival = delay;
      } else {
        int leaves = 0;
        for (CDB_SGATE_ITERM* i : g->get_input_terms()) leaves += kavu_delay_seq::driven(i) ? 1 : 0;
        if (leaves > model->get_max_gate_size()) return SEQ_FIXED_ARRIVAL::GENERAL;
        delay = leaves == 1 ? 0 : u;
      }
      for (CDB_SGATE_ITERM* i : g->get_input_terms())
        if (kavu_delay_seq::driven(i)) add_arc(i, delay);
      return SEQ_FIXED_ARRIVAL::ARCS;
    }
    default: return SEQ_FIXED_ARRIVAL::GENERAL;
  }
}
