// kavu_01tbl_cone.cpp — simulation of a netlist cone into a truth table, the
// tables of word-level operators, and tables from written covers.
//
// Entry points: kavu_cone_01tbl (the table of a terminal over a cut),
// kavu_cube_cover_01tbl and kavu_sop_01tbl.
// Model: every fan-in terminal and every terminal of the cone gets one table
//   of n variables (n = fan-in count) in a slot of one flat word array; the
//   fan-ins hold their literals, the cone's terminals are simulated in
//   topological order, each by the builder of its gate's kind (named after
//   it: kavu_comb_01tbl, kavu_lut_01tbl, kavu_wys_comb_01tbl, kavu_mux_01tbl,
//   and kavu_<kind>_op_01tbl for the operators). Comb gates follow the one
//   evaluation rule of kavu_comb_eval_int.h. A terminal's table is its value
//   after its own inversion flag. Below five variables only the low 2^n
//   bits of a table's one word are used and they stay the only bits set, so
//   raw words go into the result unchanged.
// Operators: each output bit is computed alone from the operand bits, by a
//   ripple adder, a ripple comparison, an array multiplier or a restoring
//   divider built from table operations; the shifter selects the data bit by
//   the minterms of the distance bits, enumerating only the distances that
//   reach a data bit (every larger distance gives the fill), and rotations
//   wrap with a true modulo of the data width.
// Invariants: a driven input whose source has no slot is an internal error,
//   never a read of a missing table; n is at most KAVU_CONE_MAX_VARS.
// Cost: O((fan-ins + cone) * 2^n / 32) words; a gate costs O(inputs) table
//   operations (a LUT 2^k - 1 multiplexer steps); slot lookups are binary
//   searches over the sorted terminals. Scratch tables are taken once per
//   builder from one reused array: no allocation per terminal once grown.
#include "kavu_01tbl_cone.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_check.h"
#include "kavu_comb_eval_int.h"
#include "kavu_dff_helper_stuck.h"
#include "kavu_msg.h"
#include "kavu_ops.h"
#include "kavu_helper_predicates.h"

namespace {

typedef uint32_t WORD;

// Valid bits of a word of an n-variable table.
WORD word_mask_of(unsigned n) { return n >= 5 ? 0xFFFFFFFFu : WORD((uint64_t(1) << (1u << n)) - 1); }

// Bits of a word whose minterm has variable v = 1 (v < 5).
constexpr WORD VAR_MASKS[5] = {0xAAAAAAAAu, 0xCCCCCCCCu, 0xF0F0F0F0u, 0xFF00FF00u, 0xFFFF0000u};

// The simulation of one cone: the slots of its tables and the builders.
class CONE_SIM {
 public:
  explicit CONE_SIM(unsigned n)
      : m_n(n), m_len(n <= 5 ? 1u : 1u << (n - 5)), m_wmask(word_mask_of(n)) {}

  // Gives every fan-in and every terminal of the order a slot; fan-ins hold
  // their literals. A terminal in both keeps the fan-in's slot, which the
  // simulation then overwrites.
  void assign_slots(const std::vector<CDB_SGATE_OTERM*>& fanins, const std::vector<CDB_SGATE_OTERM*>& order);
  void simulate(const std::vector<CDB_SGATE_OTERM*>& order);
  KAVU_01TBL result(CDB_SGATE_OTERM* oterm) const;
  // The table of a fan-in or cone terminal; null when it has no slot.
  const WORD* find(const CDB_SGATE_OTERM* oterm) const;

  // ---- table operations on m_len words ----
  void t_const(WORD* d, bool one) const { std::fill(d, d + m_len, one ? m_wmask : 0u); }
  void t_copy(WORD* d, const WORD* a) const { std::copy(a, a + m_len, d); }
  void t_not(WORD* d) const { for (unsigned i = 0; i < m_len; ++i) d[i] ^= m_wmask; }
  void t_and(WORD* d, const WORD* a) const { for (unsigned i = 0; i < m_len; ++i) d[i] &= a[i]; }
  void t_or(WORD* d, const WORD* a) const { for (unsigned i = 0; i < m_len; ++i) d[i] |= a[i]; }
  void t_xor(WORD* d, const WORD* a) const { for (unsigned i = 0; i < m_len; ++i) d[i] ^= a[i]; }
  // d = s ? one : zero (d may alias zero or one).
  void t_mux(WORD* d, const WORD* s, const WORD* zero, const WORD* one) const {
    for (unsigned i = 0; i < m_len; ++i) d[i] = (s[i] & one[i]) | (~s[i] & zero[i]);
  }
  // d = majority(a, b, c): the carry of a full adder (d may alias any).
  void t_maj(WORD* d, const WORD* a, const WORD* b, const WORD* c) const {
    for (unsigned i = 0; i < m_len; ++i) d[i] = (a[i] & b[i]) | (a[i] & c[i]) | (b[i] & c[i]);
  }
  void t_literal(WORD* d, unsigned var, bool positive) const;

  // ---- operands ----
  // d = the value an input delivers (the input rule); the input must be
  // connected.
  void read_input(const CDB_SGATE_ITERM* iterm, WORD* d) const;
  // As read_input, with the caller's condition text when not connected.
  void read_connected(const CDB_SGATE_ITERM* iterm, WORD* d, const char* text) const {
    if (!cdb_is_connected(iterm)) KAVU_INTERNAL_ERROR(text);
    read_input(iterm, d);
  }
  // Missing and unconnected inputs read as 1 (LUTs, atoms, 2:1 muxes).
  void read_or_one(const CDB_SGATE_ITERM* iterm, WORD* d) const {
    if (!cdb_is_connected(iterm)) t_const(d, true);
    else read_input(iterm, d);
  }
  // count scratch tables, valid until the next call.
  WORD* scratch(size_t count);
  // d = the minterm m of the bits (AND of each bit or its complement).
  void minterm_of(WORD* d, const WORD* bits, unsigned num_bits, uint64_t m, WORD* tmp) const;
  // Evaluates a k-input function given by its 2^k mask bits on the operand
  // tables ops[0..k-1] as a multiplexer tree into d; uses 2^k tables at work.
  void eval_mask(WORD* d, uint64_t mask, const WORD* ops, unsigned k, WORD* work) const;

  unsigned len() const { return m_len; }

 private:
  void build(CDB_SGATE_OTERM* oterm, WORD* dst);
  void kavu_comb_01tbl(CDB_SGATE_NODE* sgate, WORD* r);
  void kavu_lut_01tbl(CDB_SGATE_NODE* sgate, WORD* r);
  void kavu_wys_comb_01tbl(CDB_SGATE_NODE* sgate, WORD* r);
  void kavu_mux_01tbl(CDB_SGATE_NODE* sgate, WORD* r);
  void build_pass(const CDB_SGATE_ITERM* iterm, WORD* r);
  void build_operator(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* node, WORD* r);
  void kavu_nto1_mux_op_01tbl(CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_select_op_01tbl(CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_decode_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_equal_op_01tbl(CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_add_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_compare_op_01tbl(CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_shift_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_mult_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* op, WORD* r);
  void kavu_divide_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* op, WORD* r);

  unsigned m_n;
  unsigned m_len;
  WORD m_wmask;
  // (terminal, slot), sorted by terminal for binary search.
  std::vector<std::pair<const CDB_SGATE_OTERM*, unsigned>> m_index;
  std::vector<WORD> m_words;
  std::vector<WORD> m_scratch;
  std::vector<WORD> m_result;  // the terminal being built, before it is stored
};

void CONE_SIM::t_literal(WORD* d, unsigned var, bool positive) const {
  if (var < 5) {
    const WORD w = (positive ? VAR_MASKS[var] : ~VAR_MASKS[var]) & m_wmask;
    std::fill(d, d + m_len, w);
    return;
  }
  const unsigned shift = var - 5;
  for (unsigned i = 0; i < m_len; ++i) d[i] = (((i >> shift) & 1u) != 0) == positive ? 0xFFFFFFFFu : 0u;
}

void CONE_SIM::assign_slots(const std::vector<CDB_SGATE_OTERM*>& fanins, const std::vector<CDB_SGATE_OTERM*>& order) {
  // Keys in the order of their slots; a stable sort keeps, for each terminal,
  // its first position (a fan-in before any place in the order).
  std::vector<std::pair<const CDB_SGATE_OTERM*, unsigned>> keys;
  keys.reserve(fanins.size() + order.size());
  for (unsigned i = 0; i < fanins.size(); ++i) keys.push_back({fanins[i], i});
  for (unsigned j = 0; j < order.size(); ++j) keys.push_back({order[j], unsigned(fanins.size()) + j});
  std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) {
    return std::less<const CDB_SGATE_OTERM*>()(a.first, b.first);
  });
  m_index.clear();
  for (const auto& key : keys) {
    if (key.first == nullptr) continue;
    if (!m_index.empty() && m_index.back().first == key.first) continue;
    m_index.push_back(key);
  }
  m_words.assign(size_t(keys.size()) * m_len, 0u);
  for (const auto& entry : m_index) {
    if (entry.second < fanins.size()) t_literal(&m_words[size_t(entry.second) * m_len], entry.second, true);
  }
}

const WORD* CONE_SIM::find(const CDB_SGATE_OTERM* oterm) const {
  auto it = std::lower_bound(m_index.begin(), m_index.end(), oterm, [](const auto& entry, const CDB_SGATE_OTERM* key) {
    return std::less<const CDB_SGATE_OTERM*>()(entry.first, key);
  });
  if (it == m_index.end() || it->first != oterm) return nullptr;
  return &m_words[size_t(it->second) * m_len];
}

WORD* CONE_SIM::scratch(size_t count) {
  if (m_scratch.size() < count * m_len) m_scratch.resize(count * m_len);
  return m_scratch.data();
}

void CONE_SIM::read_input(const CDB_SGATE_ITERM* iterm, WORD* d) const {
  if (iterm->is_vcc()) return t_const(d, true);
  if (iterm->is_gnd()) return t_const(d, false);
  const WORD* src = find(iterm->get_source());
  // A source outside the cut and the order would be read as garbage.
  if (src == nullptr) KAVU_INTERNAL_ERROR("cone input without a table: its source is no fan-in and not in the cone order");
  t_copy(d, src);
  if (iterm->is_inverted()) t_not(d);
}

void CONE_SIM::minterm_of(WORD* d, const WORD* bits, unsigned num_bits, uint64_t m, WORD* tmp) const {
  t_const(d, true);
  for (unsigned j = 0; j < num_bits; ++j) {
    t_copy(tmp, bits + size_t(j) * m_len);
    if (((m >> j) & 1u) == 0) t_not(tmp);
    t_and(d, tmp);
  }
}

void CONE_SIM::eval_mask(WORD* d, uint64_t mask, const WORD* ops, unsigned k, WORD* work) const {
  // Level j joins the pairs of minterms that differ in bit j, selected by
  // operand j; what is left is the function.
  const unsigned count = 1u << k;
  for (unsigned m = 0; m < count; ++m) t_const(work + size_t(m) * m_len, ((mask >> m) & 1u) != 0);
  for (unsigned j = 0; j < k; ++j) {
    const unsigned half = count >> (j + 1);
    for (unsigned m = 0; m < half; ++m) {
      t_mux(work + size_t(m) * m_len, ops + size_t(j) * m_len, work + size_t(2 * m) * m_len,
            work + size_t(2 * m + 1) * m_len);
    }
  }
  t_copy(d, work);
}

void CONE_SIM::simulate(const std::vector<CDB_SGATE_OTERM*>& order) {
  m_result.resize(m_len);
  for (CDB_SGATE_OTERM* oterm : order) {
    KAVU_CHECK(oterm != 0);
    // Built aside and stored afterwards: a builder never reads the table it
    // is writing.
    build(oterm, m_result.data());
    if (oterm->is_inverted()) t_not(m_result.data());
    t_copy(const_cast<WORD*>(find(oterm)), m_result.data());
  }
}

KAVU_01TBL CONE_SIM::result(CDB_SGATE_OTERM* oterm) const {
  const WORD* words = find(oterm);
  if (words == nullptr) KAVU_INTERNAL_ERROR("tbl_map[oterm]");
  KAVU_01TBL tbl(m_n);
  for (unsigned i = 0; i < m_len; ++i) tbl.set_word(i, words[i]);
  return tbl;
}

// ---------------------------------------------------------------------------
void CONE_SIM::build(CDB_SGATE_OTERM* oterm, WORD* r) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  const CDB_SGATE_TYPE type = node->get_sgate_type();
  if (type == CDB_SGATE_COMB_ENUM) return kavu_comb_01tbl(node, r);
  if (type == CDB_SGATE_LUT_ENUM) return kavu_lut_01tbl(node, r);
  if (type == CDB_SGATE_MUX_ENUM) return kavu_mux_01tbl(node, r);
  if (kavu_is_wys_comb_normal(node, false, true, false)) return kavu_wys_comb_01tbl(node, r);
  if (type == CDB_SGATE_BUFFER_ENUM) return build_pass(node->get_single_iterm(), r);
  if (type == CDB_SGATE_CARRY_SUM_ENUM) {
    // Output j passes input j through.
    const bool second = node->get_output_term(1) == oterm;
    return build_pass(node->get_input_term(second ? 1 : 0), r);
  }
  if (type == CDB_SGATE_OPERATOR_ENUM) return build_operator(oterm, node, r);
  kavu_debug("%s", node->get_string_type_name());
  KAVU_INTERNAL_ERROR("un-handled sgate");
}

void CONE_SIM::build_pass(const CDB_SGATE_ITERM* iterm, WORD* r) {
  KAVU_CHECK(cdb_is_connected(iterm));
  read_input(iterm, r);
}

void CONE_SIM::kavu_comb_01tbl(CDB_SGATE_NODE* sgate, WORD* r) {
  KAVU_COMB_RULE rule;
  if (!kavu_comb_rule(static_cast<CDB_SGATE_COMB*>(sgate)->get_comb_type(), true, &rule))
    KAVU_INTERNAL_ERROR("bad comb sgate");
  WORD* x = scratch(1);
  t_const(r, rule.m_start_one);
  for (const CDB_SGATE_ITERM* iterm : sgate->get_input_terms()) {
    // Unconnected inputs leave the accumulator as it is.
    if (!cdb_is_connected(iterm)) continue;
    read_input(iterm, x);
    for (unsigned i = 0; i < m_len; ++i) r[i] = kavu_comb_step(rule.m_step, r[i], x[i], m_wmask);
  }
}

void CONE_SIM::kavu_lut_01tbl(CDB_SGATE_NODE* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_lut(sgate));
  const CDB_LUTMASK& mask = static_cast<CDB_SGATE_LUT*>(sgate)->get_lut_mask();
  const unsigned num_inputs = mask.get_num_inputs();
  KAVU_CHECK(num_inputs <= CDB_LUTMASK_MAX_INPUTS);
  KAVU_CHECK(CDB_LUTMASK_MAX_INPUTS <= 6);
  // A LUT grown into its positions (kavu_suck_gates_into_lut) may have more
  // positions than mask inputs; the positions past the mask must then be
  // free, so that the function is the mask's alone.
  const unsigned i = sgate->get_number_of_input_terms();
  KAVU_CHECK(num_inputs <= i);
  for (unsigned j = num_inputs; j < i; ++j) {
    const CDB_SGATE_ITERM* extra = sgate->get_input_term(j);
    if (extra && cdb_is_connected(extra)) KAVU_INTERNAL_ERROR("num_inputs == i");
  }
  WORD* ops = scratch(num_inputs + (size_t(1) << num_inputs));
  for (unsigned j = 0; j < num_inputs; ++j) read_or_one(sgate->get_input_term(j), ops + size_t(j) * m_len);
  eval_mask(r, mask.get_value(), ops, num_inputs, ops + size_t(num_inputs) * m_len);
}

void CONE_SIM::kavu_wys_comb_01tbl(CDB_SGATE_NODE* sgate, WORD* r) {
  const CDB_SGATE_WYSIWYG* wys = static_cast<const CDB_SGATE_WYSIWYG*>(sgate);
  KAVU_CHECK(CDB_LUTMASK_MAX_INPUTS <= 6);
  CDB_LUTMASK mask;
  mask.set_value(6, wys->get_lutmask_value());
  const bool extended = wys->mode_is_set(CDB_WYSIWYG_EXTENDED_LUT);
  // Operands 0..6 (the seventh only matters in extended mode); a missing
  // position reads as 1, like an unconnected input.
  WORD* ops = scratch(7 + 64 + 2);
  for (unsigned j = 0; j < 7; ++j) read_or_one(sgate->get_input_term(j), ops + size_t(j) * m_len);
  WORD* work = ops + size_t(7) * m_len;
  WORD* low = work + size_t(64) * m_len;
  eval_mask(r, mask.get_value(), ops, 6, work);
  if (!extended) return;
  // Where input 4 is 1, position 2 reads the seventh input: evaluate the mask
  // once more with operand 6 in position 2 and choose by input 4.
  t_copy(low, r);
  std::swap_ranges(ops + size_t(2) * m_len, ops + size_t(3) * m_len, ops + size_t(6) * m_len);
  WORD* high = low + m_len;
  eval_mask(high, mask.get_value(), ops, 6, work);
  std::swap_ranges(ops + size_t(2) * m_len, ops + size_t(3) * m_len, ops + size_t(6) * m_len);
  t_mux(r, ops + size_t(4) * m_len, low, high);
}

void CONE_SIM::kavu_mux_01tbl(CDB_SGATE_NODE* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_mux(sgate));
  WORD* ops = scratch(3);
  for (unsigned j = 0; j < 3; ++j) read_or_one(sgate->get_input_term(j), ops + size_t(j) * m_len);
  t_mux(r, ops + size_t(2) * m_len, ops, ops + m_len);
}

// ---------------------------------------------------------------------------
// Operators. Operand bits must be connected; a constant bit is a constant.

// The position of oterm among the first `limit` bits of the result port.
unsigned output_bit_index(const CDB_SGATE_OPERATOR* op, const CDB_SGATE_OTERM* oterm, unsigned limit,
                          const char* text) {
  const CDB_SGATE_OPER_PORT_ENTRY* out = op->get_port(CDB_OPER_PORT_O);
  const unsigned width = out ? std::min(limit, out->get_width()) : 0;
  for (unsigned i = 0; i < width; ++i) {
    if (out->get_oterm(i) == oterm) return i;
  }
  KAVU_INTERNAL_ERROR(text);
  return 0;
}

void CONE_SIM::build_operator(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* node, WORD* r) {
  CDB_SGATE_OPERATOR* op = static_cast<CDB_SGATE_OPERATOR*>(node);
  switch (op->get_type()) {
    case CDB_OPER_ADDITION: return kavu_add_op_01tbl(oterm, op, r);
    case CDB_OPER_MULTIPLY: return kavu_mult_op_01tbl(oterm, op, r);
    case CDB_OPER_DIVIDE: return kavu_divide_op_01tbl(oterm, op, r);
    case CDB_OPER_LEFT_SHIFT:
    case CDB_OPER_RIGHT_SHIFT:
    case CDB_OPER_LEFT_ROTATE:
    case CDB_OPER_RIGHT_ROTATE: return kavu_shift_op_01tbl(oterm, op, r);
    case CDB_OPER_COMPARE: return kavu_compare_op_01tbl(op, r);
    case CDB_OPER_NTO1_MUX: return kavu_nto1_mux_op_01tbl(op, r);
    case CDB_OPER_SELECT: return kavu_select_op_01tbl(op, r);
    case CDB_OPER_DECODE: return kavu_decode_op_01tbl(oterm, op, r);
    case CDB_OPER_EQUAL: return kavu_equal_op_01tbl(op, r);
    default: break;
  }
  kavu_debug("%s", node->get_string_type_name());
  KAVU_INTERNAL_ERROR("un-handled sgate");
}

void CONE_SIM::kavu_nto1_mux_op_01tbl(CDB_SGATE_OPERATOR* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_nto1_mux_op(sgate));
  const unsigned sel_width = sgate->get_width(CDB_OPER_PORT_A);
  const unsigned dat_width = sgate->get_width(CDB_OPER_PORT_B);
  KAVU_CHECK(sel_width < 32);
  KAVU_CHECK(((unsigned)1<<sel_width) == dat_width);
  const CDB_SGATE_OPER_PORT_ENTRY* sel = sgate->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* data = sgate->get_port(CDB_OPER_PORT_B);
  // A multiplexer tree over the select bits, least significant first, gives
  // the OR over d of (data bit d AND the minterm d of the select word).
  WORD* sels = scratch(size_t(sel_width) + dat_width);
  WORD* work = sels + size_t(sel_width) * m_len;
  for (unsigned j = 0; j < sel_width; ++j) {
    read_connected(sel->get_iterm(j), sels + size_t(j) * m_len, "cdb_is_connected(iterm)");
  }
  for (unsigned d = 0; d < dat_width; ++d) {
    read_connected(data->get_iterm(d), work + size_t(d) * m_len, "cdb_is_connected(iterm)");
  }
  for (unsigned j = 0; j < sel_width; ++j) {
    const unsigned half = dat_width >> (j + 1);
    for (unsigned m = 0; m < half; ++m) {
      t_mux(work + size_t(m) * m_len, sels + size_t(j) * m_len, work + size_t(2 * m) * m_len,
            work + size_t(2 * m + 1) * m_len);
    }
  }
  t_copy(r, work);
}

void CONE_SIM::kavu_select_op_01tbl(CDB_SGATE_OPERATOR* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_select_op(sgate));
  const unsigned sel_width = sgate->get_width(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_a = sgate->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_b = sgate->get_port(CDB_OPER_PORT_B);
  KAVU_CHECK(sel_width == 0 || port_b != 0);
  KAVU_CHECK(port_b == 0 || port_b->get_width() == sel_width);
  WORD* a = scratch(2);
  WORD* b = a + m_len;
  t_const(r, false);
  for (unsigned i = 0; i < sel_width; ++i) {
    read_connected(port_a->get_iterm(i), a, "cdb_is_connected(iterm_a)");
    read_connected(port_b->get_iterm(i), b, "cdb_is_connected(iterm_b)");
    t_and(a, b);
    t_or(r, a);
  }
}

void CONE_SIM::kavu_decode_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_decode_op(sgate));
  const unsigned sel_width = sgate->get_width(CDB_OPER_PORT_A);
  const unsigned out_width = sgate->get_width(CDB_OPER_PORT_O);
  KAVU_CHECK(sel_width < 32);
  KAVU_CHECK(((unsigned)1<<sel_width) == out_width);
  const unsigned k = output_bit_index(sgate, oterm, out_width, "Unable to index oterm on decoder output");
  const CDB_SGATE_OPER_PORT_ENTRY* sel = sgate->get_port(CDB_OPER_PORT_A);
  WORD* bits = scratch(size_t(sel_width) + 1);
  for (unsigned j = 0; j < sel_width; ++j) {
    read_connected(sel->get_iterm(j), bits + size_t(j) * m_len, "cdb_is_connected(iterm)");
  }
  minterm_of(r, bits, sel_width, k, bits + size_t(sel_width) * m_len);
}

void CONE_SIM::kavu_equal_op_01tbl(CDB_SGATE_OPERATOR* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_equal_op(sgate));
  const unsigned eq_width = sgate->get_width(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_a = sgate->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_b = sgate->get_port(CDB_OPER_PORT_B);
  KAVU_CHECK(eq_width == 0 || port_b != 0);
  KAVU_CHECK(port_b == 0 || port_b->get_width() == eq_width);
  WORD* a = scratch(2);
  WORD* b = a + m_len;
  t_const(r, true);
  for (unsigned i = 0; i < eq_width; ++i) {
    read_connected(port_a->get_iterm(i), a, "cdb_is_connected(iterm_a)");
    read_connected(port_b->get_iterm(i), b, "cdb_is_connected(iterm_b)");
    t_xor(a, b);
    t_not(a);
    t_and(r, a);
  }
}

void CONE_SIM::kavu_add_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_add_op(sgate));
  const unsigned width = sgate->get_width(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_a = sgate->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_b = sgate->get_port(CDB_OPER_PORT_B);
  KAVU_CHECK(width == 0 || port_b != 0);
  KAVU_CHECK(port_b == 0 || port_b->get_width() == width);
  // Only the sum bits: the carry-out is not a bit of the result word.
  const unsigned k = output_bit_index(sgate, oterm, width, "Which bit of the add output is this?");
  WORD* c = scratch(3);
  WORD* a = c + m_len;
  WORD* b = a + m_len;
  const CDB_SGATE_ITERM* cin = kavu_fetch_cin_iterm(sgate);
  if (cin == nullptr || !cdb_is_connected(cin) || cin->is_gnd()) t_const(c, false);
  else read_input(cin, c);
  for (unsigned i = 0; i <= k; ++i) {
    read_connected(port_a->get_iterm(i), a, "cdb_is_connected(iterm_a)");
    read_connected(port_b->get_iterm(i), b, "cdb_is_connected(iterm_b)");
    if (i == k) {
      t_copy(r, c);
      t_xor(r, a);
      t_xor(r, b);
      return;
    }
    t_maj(c, a, b, c);
  }
}

void CONE_SIM::kavu_compare_op_01tbl(CDB_SGATE_OPERATOR* sgate, WORD* r) {
  KAVU_CHECK(kavu_is_a_compare_op(sgate));
  const CDB_SGATE_ITERM* cin_iterm = kavu_fetch_cin_iterm(sgate);
  KAVU_CHECK(cdb_is_connected (cin_iterm));
  read_input(cin_iterm, r);
  const unsigned wrd_width = sgate->get_width(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_a = sgate->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* port_b = sgate->get_port(CDB_OPER_PORT_B);
  KAVU_CHECK(wrd_width == 0 || port_b != 0);
  KAVU_CHECK(port_b == 0 || port_b->get_width() == wrd_width);
  WORD* a = scratch(3);
  WORD* b = a + m_len;
  WORD* lt = b + m_len;
  // From the least significant bit up: a higher bit that differs decides,
  // equal bits keep the verdict of the bits below (the carry-in at the bottom).
  for (unsigned i = 0; i < wrd_width; ++i) {
    read_connected(port_a->get_iterm(i), a, "cdb_is_connected(iterm_a)");
    read_connected(port_b->get_iterm(i), b, "cdb_is_connected(iterm_b)");
    t_copy(lt, a);
    t_not(lt);
    t_and(lt, b);   // NOT a AND b
    t_xor(a, b);    // a XOR b: the bits differ
    t_mux(r, a, r, lt);
  }
}

// The largest distance width of a rotation by a width that is not a power
// of two: every distance value is enumerated there.
constexpr unsigned MAX_ENUMERATED_SHIFT_WIDTH = 16;

void CONE_SIM::kavu_shift_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* shifter, WORD* r) {
  KAVU_CHECK(kavu_is_any_shift_op(shifter));
  const CDB_OPER_TYPE kind = shifter->get_type();
  const unsigned dw = shifter->get_width(CDB_OPER_PORT_A);
  const unsigned sw = shifter->get_width(CDB_OPER_PORT_SHIFT);
  const CDB_SGATE_OPER_PORT_ENTRY* data = shifter->get_port(CDB_OPER_PORT_A);
  const CDB_SGATE_OPER_PORT_ENTRY* dist = shifter->get_port(CDB_OPER_PORT_SHIFT);
  const unsigned k = output_bit_index(shifter, oterm, shifter->get_width(CDB_OPER_PORT_O), "Unable to index oterm on Shifter output");
  if (sw > 31) KAVU_INTERNAL_ERROR("Unable to build table for shifter this wide");
  const bool rotate = kind == CDB_OPER_LEFT_ROTATE || kind == CDB_OPER_RIGHT_ROTATE;
  const bool towards_msb = kind == CDB_OPER_LEFT_SHIFT || kind == CDB_OPER_LEFT_ROTATE;
  KAVU_CHECK(!rotate || dw > 0);
  // Distances that matter: a shift reads a data bit only below dw - k (right)
  // or up to k (left), and every larger distance gives the fill; a rotation
  // by a power-of-two width depends on the low log2(dw) distance bits only.
  unsigned bits = sw;
  uint64_t enumerated = uint64_t(1) << sw;
  if (rotate && (dw & (dw - 1)) == 0) {
    unsigned log2_dw = 0;
    while ((1u << log2_dw) < dw) ++log2_dw;
    bits = std::min(sw, log2_dw);
    enumerated = uint64_t(1) << bits;
  } else if (rotate) {
    if (sw > MAX_ENUMERATED_SHIFT_WIDTH) KAVU_INTERNAL_ERROR("Unable to build table for shifter this wide");
  } else {
    const uint64_t reach = towards_msb ? uint64_t(k) + 1 : (k < dw ? uint64_t(dw - k) : 0);
    enumerated = std::min(enumerated, reach);
  }
  const bool needs_fill = !rotate && enumerated < (uint64_t(1) << sw);
  WORD* dbits = scratch(size_t(bits) + 4);
  WORD* term = dbits + size_t(bits) * m_len;
  WORD* used = term + m_len;
  WORD* value = used + m_len;
  WORD* tmp = value + m_len;
  for (unsigned j = 0; j < bits; ++j) read_connected(dist->get_iterm(j), dbits + size_t(j) * m_len, "cdb_is_connected(iterm)");
  t_const(r, false);
  t_const(used, false);
  for (uint64_t d = 0; d < enumerated; ++d) {
    uint64_t s;
    if (rotate) {
      // A true modulo: (k - d) must not go negative.
      const uint64_t step = d % dw;
      s = towards_msb ? (k % dw + dw - step) % dw : (k + step) % dw;
    } else {
      s = towards_msb ? k - d : k + d;
    }
    minterm_of(term, dbits, bits, d, tmp);
    t_or(used, term);
    read_connected(data->get_iterm(unsigned(s)), value, "cdb_is_connected(iterm)");
    t_and(term, value);
    t_or(r, term);
  }
  if (!needs_fill) return;
  // Kinds 4 and 5 shift the carry-in in.
  const CDB_SGATE_ITERM* fill = kind == CDB_OPER_LEFT_SHIFT || kind == CDB_OPER_RIGHT_SHIFT ? kavu_fetch_cin_iterm(shifter) : nullptr;
  read_connected(fill, value, "cdb_is_connected(iterm)");
  t_not(used);
  t_and(used, value);
  t_or(r, used);
}

void CONE_SIM::kavu_mult_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* mult, WORD* r) {
  KAVU_CHECK(kavu_is_a_mult_op(mult));
  const unsigned k = output_bit_index(mult, oterm, mult->get_width(CDB_OPER_PORT_O), "Unable to index oterm on MULT output");
  const unsigned n = k + 1;
  WORD* a = scratch(3 * size_t(n) + 3);
  WORD* b = a + size_t(n) * m_len;
  WORD* p = b + size_t(n) * m_len;
  WORD* c = p + size_t(n) * m_len;
  WORD* q = c + m_len;
  WORD* t = q + m_len;
  // Operands over k + 1 bits: sign-extended when signed, else zero-extended.
  const bool is_signed = mult->is_signed();
  for (int side = 0; side < 2; ++side) {
    const CDB_OPER_PORT_TYPE type = side == 0 ? CDB_OPER_PORT_A : CDB_OPER_PORT_B;
    const CDB_SGATE_OPER_PORT_ENTRY* port = mult->get_port(type);
    const unsigned width = mult->get_width(type);
    WORD* x = side == 0 ? a : b;
    for (unsigned i = 0; i < n; ++i) {
      WORD* dst = x + size_t(i) * m_len;
      if (i < width) read_connected(port->get_iterm(i), dst, "cdb_is_connected(iterm)");
      else if (is_signed && width > 0) t_copy(dst, x + size_t(width - 1) * m_len);
      else t_const(dst, false);
    }
  }
  std::fill(p, p + size_t(n) * m_len, 0u);
  // Row i adds a_i * B shifted by i into the partial sums, rippling a carry.
  for (unsigned i = 0; i < n; ++i) {
    t_const(c, false);
    for (unsigned j = i; j < n; ++j) {
      WORD* pj = p + size_t(j) * m_len;
      t_copy(q, b + size_t(j - i) * m_len);
      t_and(q, a + size_t(i) * m_len);
      t_maj(t, pj, q, c);
      t_xor(pj, q);
      t_xor(pj, c);
      t_copy(c, t);
    }
  }
  t_copy(r, p + size_t(k) * m_len);
}

// Replaces the w bits by their two's complement where s is 1 (x XOR s XOR
// carry, carry starting at s).
void conditional_negate(const CONE_SIM& sim, WORD* bits, unsigned w, const WORD* s, WORD* carry, WORD* tmp) {
  const unsigned len = sim.len();
  sim.t_copy(carry, s);
  for (unsigned i = 0; i < w; ++i) {
    WORD* x = bits + size_t(i) * len;
    sim.t_copy(tmp, x);
    sim.t_xor(tmp, s);    // x XOR s
    sim.t_copy(x, tmp);
    sim.t_xor(x, carry);  // x XOR s XOR carry
    sim.t_and(carry, tmp);
  }
}

void CONE_SIM::kavu_divide_op_01tbl(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPERATOR* div, WORD* r) {
  KAVU_CHECK(kavu_is_a_divide_op(div));
  const unsigned wo = div->get_width(CDB_OPER_PORT_O);
  const unsigned k = output_bit_index(div, oterm, wo, "Unable to index oterm on DIV output");
  const unsigned wa = div->get_width(CDB_OPER_PORT_A);
  const unsigned wb = div->get_width(CDB_OPER_PORT_B);
  const unsigned width = 1 + std::max(wa, std::max(wb, wo));
  const bool is_signed = div->is_signed();
  WORD* n_tbls = scratch(5 * size_t(width) + 4);
  WORD* d_tbls = n_tbls + size_t(width) * m_len;
  WORD* working = d_tbls + size_t(width) * m_len;
  WORD* sub = working + size_t(width) * m_len;
  WORD* quot = sub + size_t(width) * m_len;  // quotient bit j at position j
  WORD* sign = quot + size_t(width) * m_len;
  WORD* borrow = sign + m_len;
  WORD* t1 = borrow + m_len;
  WORD* t2 = t1 + m_len;
  std::fill(n_tbls, t2 + m_len, 0u);
  // The numerator bits below k do not reach quotient bit k when unsigned.
  for (unsigned i = is_signed ? 0 : k; i < wa; ++i) {
    read_connected(div->get_port(CDB_OPER_PORT_A)->get_iterm(i), n_tbls + size_t(i) * m_len, "cdb_is_connected(iterm)");
  }
  for (unsigned i = 0; i < wb; ++i) {
    read_connected(div->get_port(CDB_OPER_PORT_B)->get_iterm(i), d_tbls + size_t(i) * m_len, "cdb_is_connected(iterm)");
  }
  if (is_signed) {
    // Magnitudes over each port's own width; the most negative value keeps
    // its pattern and reads as its magnitude.
    if (wa > 0) t_copy(sign, n_tbls + size_t(wa - 1) * m_len);
    if (wb > 0) t_xor(sign, d_tbls + size_t(wb - 1) * m_len);
    // The top bit is copied aside: the negation rewrites it.
    if (wa > 0) {
      t_copy(t2, n_tbls + size_t(wa - 1) * m_len);
      conditional_negate(*this, n_tbls, wa, t2, borrow, t1);
    }
    if (wb > 0) {
      t_copy(t2, d_tbls + size_t(wb - 1) * m_len);
      conditional_negate(*this, d_tbls, wb, t2, borrow, t1);
    }
  }
  // Restoring division, one step per numerator bit from the top down.
  const unsigned last = is_signed ? 0 : k;
  for (unsigned step = width; step-- > last;) {
    std::copy_backward(working, working + size_t(width - 1) * m_len, working + size_t(width) * m_len);
    t_copy(working, n_tbls + size_t(step) * m_len);
    // sub = working - denominator, rippling a borrow.
    t_const(borrow, false);
    for (unsigned i = 0; i < width; ++i) {
      const WORD* w = working + size_t(i) * m_len;
      const WORD* d = d_tbls + size_t(i) * m_len;
      WORD* si = sub + size_t(i) * m_len;
      t_copy(si, w);
      t_xor(si, d);              // w XOR d
      t_copy(t1, w);
      t_not(t1);
      t_and(t1, d);              // NOT w AND d
      t_mux(t2, si, borrow, t1); // the new borrow
      t_xor(si, borrow);
      t_copy(borrow, t2);
    }
    WORD* q = quot + size_t(step) * m_len;
    t_copy(q, sub + size_t(width - 1) * m_len);
    t_not(q);
    for (unsigned i = 0; i < width; ++i) {
      t_mux(working + size_t(i) * m_len, q, working + size_t(i) * m_len, sub + size_t(i) * m_len);
    }
  }
  if (is_signed) conditional_negate(*this, quot, width, sign, borrow, t1);
  t_copy(r, quot + size_t(k) * m_len);
}

}  // namespace

// ---------------------------------------------------------------------------
KAVU_01TBL kavu_cone_01tbl(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& fanins,
                           std::vector<CDB_SGATE_OTERM*>* order) {
  KAVU_CHECK(oterm);
  KAVU_CHECK(fanins.size() <= KAVU_CONE_MAX_VARS);
  std::vector<CDB_SGATE_OTERM*> local_order;
  if (order == nullptr) {
    kavu_dfs_cone(oterm, fanins, local_order);
    order = &local_order;
  }
  CONE_SIM sim(static_cast<unsigned>(fanins.size()));
  sim.assign_slots(fanins, *order);
  sim.simulate(*order);
  return sim.result(oterm);
}

KAVU_01TBL kavu_cube_cover_01tbl(unsigned int cube_length, std::string cube_cover) {
  if (cdb_sgate_synthesis_is_running_in_parallel()) {
    KAVU_INTERNAL_ERROR("Can't have statics that change during multithreading");
  }
  KAVU_CHECK(static_cast<int>(cube_length) > 1);
  KAVU_CHECK(cube_cover.length() % cube_length == 0);
  const unsigned n = cube_length - 1;
  KAVU_CHECK(n <= KAVU_01TBL::MAX_NUM_VARS);
  KAVU_01TBL result(n);
  KAVU_01TBL product(n);
  KAVU_01TBL literal(n);
  for (size_t start = 0; start < cube_cover.length(); start += cube_length) {
    if (cube_cover[start + n] != '1') continue;
    product.set_vcc();
    for (unsigned p = 0; p < n; ++p) {
      const size_t en = start + p;
      const char ch = cube_cover[en];
      if (ch == '2' || ch == '-' || ch == 'x') continue;
      KAVU_CHECK(cube_cover[en]=='0' || cube_cover[en]=='1');
      literal.variable(p, ch == '1');
      product.and_with(literal);
    }
    result.or_with(product);
  }
  return result;
}

KAVU_01TBL kavu_sop_01tbl(std::vector<std::vector<SGATE_OTERM_INV_PAIR>>& sop,
                          std::vector<CDB_SGATE_OTERM*>& fanins) {
  const unsigned n = static_cast<unsigned>(fanins.size());
  KAVU_CHECK(fanins.size() <= KAVU_CONE_MAX_VARS);
  KAVU_01TBL result(n);
  KAVU_01TBL product(n);
  KAVU_01TBL literal(n);
  for (const std::vector<SGATE_OTERM_INV_PAIR>& cube : sop) {
    product.set_vcc();
    for (const SGATE_OTERM_INV_PAIR& pair : cube) {
      // The first position of the terminal among the fan-ins is its variable.
      auto it = std::find(fanins.begin(), fanins.end(), pair.first);
      if (it == fanins.end()) KAVU_INTERNAL_ERROR("sop terminal is not one of the fan-ins");
      literal.variable(static_cast<unsigned>(it - fanins.begin()), !pair.second);
      product.and_with(literal);
    }
    result.or_with(product);
  }
  return result;
}
