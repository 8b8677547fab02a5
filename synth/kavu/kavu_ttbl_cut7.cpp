// kavu_ttbl_cut7.cpp — the function of an output terminal over a cut of
// seven leaves, as a TTBL<7> (kavu_7cut_fn).
//
// Model: leaf i is the literal x_i. Every other terminal of the cone is the
//   output of a comb gate, evaluated by the one comb-gate rule of
//   kavu_comb_eval_int.h (AND folds from all ones, OR, XOR, NOT and the name
//   keeper from 0). An input tied to GND or VCC reads 0 or 1 (its inversion
//   flag is the constant's polarity, not applied again); a driven input
//   reads its source's table, complemented when the input is inverted; an
//   unconnected input contributes nothing, as if it were absent. An
//   inverted output terminal delivers the complement of its gate's function.
// Walk: a post-order over the cone with an explicit stack of frames (gate
//   output, next input, accumulator), so cone depth never touches the call
//   stack. A terminal gets its memo slot when first entered, marked in
//   progress until its table is stored; meeting a terminal in progress means
//   a combinational loop between root and leaves, an internal error rather
//   than endless recursion.
// Cost: each cone terminal is evaluated once (memo: a ZTL_HASH from terminal
//   to slot, 61 buckets to start); each input costs a hash lookup and a few
//   word operations. Scratch vectors live for one call.
#include <cstdint>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_comb_eval_int.h"
#include "kavu_helper_predicates.h"
#include "kavu_ttbl.h"
#include "ztl_hash_sys.h"

namespace {

typedef TTBL<7> TABLE7;

class CUT7_EVALUATOR {
 public:
  explicit CUT7_EVALUATOR(const std::vector<CDB_SGATE_OTERM*>& leaves) : m_slot_of(61) {
    m_tables.reserve(64);
    m_done.reserve(64);
    m_stack.reserve(32);
    for (unsigned int i = 0; i < leaves.size(); ++i) {
      KAVU_CHECK(leaves[i] != nullptr);
      const uint32_t slot = slot_for(leaves[i]);
      m_tables[slot] = TABLE7::variable(i);
      m_done[slot] = 1;
    }
  }

  TABLE7 evaluate(CDB_SGATE_OTERM* root);

 private:
  struct FRAME {
    CDB_SGATE_OTERM* m_oterm;
    uint32_t m_slot;
    unsigned int m_next;  // next input position of the gate
    KAVU_COMB_STEP m_step;
    TABLE7 m_acc;
  };

  // The memo slot of t, created (in progress) when t has none. Slots are
  // stored as slot + 1 so that the hash's default value 0 means none.
  uint32_t slot_for(CDB_SGATE_OTERM* t) {
    uint32_t& entry = m_slot_of[t];
    if (entry == 0) {
      m_tables.push_back(TABLE7());
      m_done.push_back(0);
      entry = static_cast<uint32_t>(m_tables.size());
    }
    return entry - 1;
  }
  void push(CDB_SGATE_OTERM* t);
  static void fold(FRAME& f, const TABLE7& value) {
    f.m_acc = kavu_comb_step(f.m_step, f.m_acc, value, TABLE7::ones());
  }
  void finish_top();

  ZTL_HASH<CDB_SGATE_OTERM*, uint32_t> m_slot_of;  // slot + 1; 0: none
  std::vector<TABLE7> m_tables;
  std::vector<uint8_t> m_done;
  std::vector<FRAME> m_stack;
};

void CUT7_EVALUATOR::push(CDB_SGATE_OTERM* t) {
  CDB_SGATE_NODE* node = t->get_my_node();
  KAVU_CHECK(node && kavu_is_a_comb (node));
  KAVU_COMB_RULE rule;
  if (!kavu_comb_rule(static_cast<const CDB_SGATE_COMB*>(node)->get_comb_type(), true, &rule))
    KAVU_INTERNAL_ERROR("unknown comb type!");
  const TABLE7 start = rule.m_start_one ? TABLE7::ones() : TABLE7::zeros();
  m_stack.push_back(FRAME{t, slot_for(t), 0, rule.m_step, start});
}

void CUT7_EVALUATOR::finish_top() {
  FRAME& f = m_stack.back();
  TABLE7 result = f.m_acc;
  if (f.m_oterm->is_inverted()) result = ~result;
  m_tables[f.m_slot] = result;
  m_done[f.m_slot] = 1;
  m_stack.pop_back();
}

TABLE7 CUT7_EVALUATOR::evaluate(CDB_SGATE_OTERM* root) {
  KAVU_CHECK(root);
  const auto entry = m_slot_of.find(root);
  if (entry != m_slot_of.end()) return m_tables[entry->second - 1];  // a leaf
  push(root);
  while (!m_stack.empty()) {
    FRAME& f = m_stack.back();
    CDB_SGATE_NODE* node = f.m_oterm->get_my_node();
    if (f.m_next >= node->get_number_of_input_terms()) {
      finish_top();
      continue;
    }
    CDB_SGATE_ITERM* it = node->get_input_term(f.m_next);
    if (it == nullptr) {
      ++f.m_next;
    } else if (it->is_gnd()) {
      fold(f, TABLE7::zeros());
      ++f.m_next;
    } else if (it->is_vcc()) {
      fold(f, TABLE7::ones());
      ++f.m_next;
    } else if (it->get_source() == nullptr) {
      ++f.m_next;  // unconnected: contributes nothing
    } else {
      CDB_SGATE_OTERM* src = it->get_source();
      const auto entry = m_slot_of.find(src);
      if (entry == m_slot_of.end()) {
        push(src);  // f may dangle from here on
      } else {
        const uint32_t slot = entry->second - 1;
        // Entered but not finished: the source lies on a path back to itself.
        if (!m_done[slot]) KAVU_INTERNAL_ERROR("combinational loop in the cone of a cut");
        fold(f, it->is_inverted() ? ~m_tables[slot] : m_tables[slot]);
        ++f.m_next;
      }
    }
  }
  return m_tables[slot_for(root)];
}

}  // namespace

const TTBL<7> kavu_7cut_fn(CDB_SGATE_OTERM* root, const std::vector<CDB_SGATE_OTERM*>& fanins) {
  KAVU_CHECK(fanins.size () == 7);
  CUT7_EVALUATOR evaluator(fanins);
  return evaluator.evaluate(root);
}
