// kavu_delay.cpp — the arc-delay model KAVU_DELAY_MODEL_KZR, the
// multiplexer delay table, the loop-critical sets and the stand-alone feeder
// model KAVU_DELAY_MODEL.
//
// Model: every arc costs a per-kind unit delay (set by keys at construction),
//   or, in detailed mode, the measured delay of kavu_delay_util. Operators
//   are costed by kind and port widths, n-to-1 mux operators optionally per
//   arc (4:1 by the critical-pair rule, wider from the mux table). With
//   neighbour penalties on, all unit delays are scaled by 10 and each arc
//   pays (L k + 4) / 10 for the crowding k of its logic block.
// Sound departures: a port of width 0 or 1 gives 0 logarithmic levels
//   (log of 0 would be -inf); the six-input mux cost is (L w) / 2 so odd
//   widths round once; a copied model keeps its small-mux and LUT-size flags.
#include "kavu_delay.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cdb/cdb_lutmask.h"
#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_delay_util.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_mux.h"
#include "kavu_helper_predicates.h"
#include "kavu_load_time_int.h"
#include "kavu_msg.h"

// ---------------------------------------------------------------------------
// Default storage

int kavu_get_fanin_delay(CDB_SGATE_OTERM* oterm) { return oterm ? oterm->get_fanin_delay() : 0; }
int kavu_get_fanout_delay(CDB_SGATE_OTERM* oterm) { return oterm ? oterm->get_fanout_delay() : 0; }
void kavu_set_fanin_delay(CDB_SGATE_OTERM* oterm, const int& delay) {
  if (oterm) oterm->set_fanin_delay(delay);
}
void kavu_set_fanout_delay(CDB_SGATE_OTERM* oterm, const int& delay) {
  if (oterm) oterm->set_fanout_delay(delay);
}

bool kavu_is_lcell_comb(CDB_SGATE_NODE* node) {
  return node && node->is_wysiwyg() && node->cast_to_wysiwyg()->is_lcell_comb();
}

// ---------------------------------------------------------------------------
// Multiplexer delay table

KAVU_MUX_DELAY_INFO::ITERM_DELAY_MAP* KAVU_MUX_DELAY_INFO::lookup(CDB_SGATE_NODE* mux) {
  if (mux != m_cached_node) {
    auto it = m_table.find(mux);
    m_cached_node = mux;
    m_cached_map = it == m_table.end() ? nullptr : it->second;
  }
  return m_cached_map;
}

void KAVU_MUX_DELAY_INFO::insert_iterm_oterm_delay(CDB_SGATE_NODE* mux, CDB_SGATE_ITERM* iterm, int delay) {
  ITERM_DELAY_MAP* iterm_delay_map = lookup(mux);
  if (!iterm_delay_map) {
    iterm_delay_map = new ITERM_DELAY_MAP;
    m_table[mux] = iterm_delay_map;
    m_cached_map = iterm_delay_map;
  }
  KAVU_CHECK(iterm_delay_map != 0);
  (*iterm_delay_map)[iterm] = delay;
}

namespace {
unsigned data_width(CDB_SGATE_NODE* mux) {
  return kavu_is_a_op(mux) ? mux->cast_to_operator()->get_width(CDB_OPER_PORT_B) : 0;
}
}  // namespace

int KAVU_MUX_DELAY_INFO::get_iterm_oterm_delay(CDB_SGATE_NODE* mux, CDB_SGATE_ITERM* iterm) {
  ITERM_DELAY_MAP* m = lookup(mux);
  if (!m) {
    kavu_debug("Bad: %d:1 mux %s could not be found in the mux delay info", int(data_width(mux)),
               mux->get_debug_name().c_str());
    KAVU_INTERNAL_ERROR("Mux is not found in the mux delay info. Is it new?");
    return 0;
  }
  auto it = m->find(iterm);
  if (it == m->end()) {
    kavu_debug("Bad: iterm of %d:1 mux %s could not be found in the mux delay info", int(data_width(mux)),
               mux->get_debug_name().c_str());
    KAVU_INTERNAL_ERROR("Iterm of mux not found in mux delay info. Did the select order change?");
    return 0;
  }
  return it->second;
}

void KAVU_MUX_DELAY_INFO::clear() {
  for (auto& entry : m_table) delete entry.second;
  m_table.clear();
  m_cached_node = nullptr;
  m_cached_map = nullptr;
}

void KAVU_MUX_DELAY_INFO::dump() const {
  kavu_debug("%s", std::string(31, '=').c_str());
  kavu_debug("  Mux delay info: %d muxes", int(m_table.size()));
  for (const auto& entry : m_table) {
    CDB_SGATE_NODE* mux = entry.first;
    const ITERM_DELAY_MAP& m = *entry.second;
    char buf[64];
    std::snprintf(buf, sizeof buf, "   %d:1 %s: ", int(data_width(mux)), mux->get_debug_name().c_str());
    std::string line = buf;
    const CDB_SGATE_OPERATOR* op = kavu_is_a_op(mux) ? mux->cast_to_operator() : nullptr;
    for (int pass = 0; op && pass < 2; ++pass) {
      const CDB_OPER_PORT_TYPE port = pass == 0 ? CDB_OPER_PORT_B : CDB_OPER_PORT_A;
      const char letter = pass == 0 ? 'D' : 'S';
      for (unsigned b = 0; b < op->get_width(port); ++b) {
        CDB_SGATE_ITERM* t = op->get_iterm(port, b);
        auto it = (t && cdb_is_connected(t)) ? m.find(t) : m.end();
        if (it == m.end())
          std::snprintf(buf, sizeof buf, "%c%u:- ", letter, b);
        else
          std::snprintf(buf, sizeof buf, "%c%u:%d ", letter, b, it->second);
        line += buf;
      }
    }
    kavu_debug("%s", line.c_str());
  }
  kavu_debug("%s", std::string(31, '=').c_str());
}

namespace {
// Reads a decimal number at p into *value; false on no digits or overflow.
bool read_number(const char*& p, int* value) {
  if (*p != '-' && *p != '+' && (*p < '0' || *p > '9')) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(p, &end, 10);
  if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
  *value = int(v);
  p = end;
  return true;
}
bool read_literal(const char*& p, const char* text) {
  size_t n = std::strlen(text);
  if (std::strncmp(p, text, n) != 0) return false;
  p += n;
  return true;
}
}  // namespace

bool kavu_parse_kzr_mux_name(const char* name, int* mux_id, int* width, int* slack, int* fanin_delay,
                             int* fanout_delay) {
  *mux_id = *width = *slack = *fanin_delay = *fanout_delay = -1;
  if (!name || std::strncmp(name, "KZR_MUX", 7) != 0) return false;
  const char* p = name;
  int v[5];
  if (!read_literal(p, "KZR_MUX_") || !read_number(p, &v[0]) || !read_literal(p, "_width_") ||
      !read_number(p, &v[1]) || !read_literal(p, "_slack_") || !read_number(p, &v[2]) ||
      !read_literal(p, "_fi_del_") || !read_number(p, &v[3]) || !read_literal(p, "_fo_del_") ||
      !read_number(p, &v[4]) || !read_literal(p, "_"))
    return false;
  // A user's name that only looks like the format is not a multiplexer record.
  if (v[0] < 1 || v[1] < 1 || v[2] < 0 || v[3] < 0 || v[4] < 0) return false;
  *mux_id = v[0];
  *width = v[1];
  *slack = v[2];
  *fanin_delay = v[3];
  *fanout_delay = v[4];
  return true;
}

// ---------------------------------------------------------------------------
// KZR construction

namespace {
const char* const k_delay_keys[11] = {
    "kavu_delay_comb_gate",        "kavu_delay_lut_gate",         "kavu_delay_mux_gate",
    "kavu_delay_buffer_gate",      "kavu_delay_lcell_carry_in",   "kavu_delay_lcell_casc_in",
    "kavu_delay_lcell_data_in",    "kavu_delay_lcell_control_in", "kavu_delay_lcell_reg_casc_in",
    "kavu_delay_lcell_reg_out",    "kavu_delay_lcell_reg_to_comb_out"};
const char* const k_delay_labels[11] = {
    " comb delay                  = %d", " lut delay                   = %d", " mux delay                   = %d",
    " buffer delay                = %d", " lcell carry-in delay        = %d", " lcell casc-in delay         = %d",
    " lcell data-in delay         = %d", " lcell control-in delay      = %d", " lcell reg-casc-in delay     = %d",
    " lcell reg-out delay         = %d", " lcell reg to comb-out delay = %d"};
bool key_on(const char* key) { return cfg_is_on(key, false); }
}  // namespace

KAVU_DELAY_MODEL_KZR::KAVU_DELAY_MODEL_KZR(KAVU_DELAY_GETTER const& fanin_getter, bool detailed,
                                           bool zero_carry_in)
    : m_fanin_getter(fanin_getter), m_mux_delay_info(new KAVU_MUX_DELAY_INFO) {
  const int defaults[NUM_DELAYS] = {10, 30, 20, 0, 3, 0, 30, 30, 0, 0, 0};
  for (int i = 0; i < NUM_DELAYS; ++i) m_delays[i] = defaults[i];
  m_dont_look_through_soft_lcell_buffers = key_on("kavu_dont_look_through_soft_lcell_buffer");
  m_detailed = detailed;
  m_zero_carry_in = zero_carry_in;
  const int lut_size = int(CDB_LUTMASK::max_num_inputs);
  if (lut_size == 4) {
    m_delays[D_LUT] = 30;
    m_four_input_lut = true;
  } else if (lut_size == 6) {
    m_delays[D_LUT] = 40;
    m_four_input_lut = false;
  } else {
    kavu_debug("Expected lut size 4 or 6, got %d", lut_size);
    KAVU_INTERNAL_ERROR("Unexpected LUT size, see debug messages");
  }
  m_delays[D_DATA_IN] = m_delays[D_LUT];
  m_delays[D_CONTROL_IN] = m_delays[D_LUT];
  m_delays[D_CARRY_IN] = m_delays[D_LUT] / 10;
  if (key_on("kavu_tarrow_delay")) m_detailed = true;
  if (m_detailed) {
    const int four[] = {340, 340, 0, 200, 450, 340, 168};
    const int six[] = {330, 250, 0, 150, 300, 330, 70};
    const int* v = m_four_input_lut ? four : six;
    m_delays[D_LUT] = v[0];
    m_delays[D_MUX] = v[1];
    m_delays[D_BUF] = v[2];
    m_delays[D_COMB] = v[3];
    m_delays[D_DATA_IN] = v[4];
    m_delays[D_CONTROL_IN] = v[5];
    m_delays[D_CARRY_IN] = v[6];
  }
  for (int i = 0; i < NUM_DELAYS; ++i) m_delays[i] = cfg_get_int_value(k_delay_keys[i], m_delays[i]);
  m_look_through_buffers = !key_on("kavu_delay_hard_buffers");
  m_look_through_carry_buffers = m_look_through_buffers && key_on("kavu_delay_look_through_carry_buffers");
  m_look_through_carry_of_carry_sums =
      m_look_through_buffers && key_on("kavu_delay_look_through_carry_of_carry_sums");
  m_look_through_wys_lcells = key_on("kavu_delay_look_through_wys_lcells");
  m_look_through_wys_combs = !key_on("kavu_delay_hard_wys_combs");
  m_look_through_wys_comb_arith = m_look_through_wys_combs && !key_on("kavu_delay_hard_wys_comb_arith");
  m_look_through_operators = !key_on("kavu_delay_hard_operators");
  m_compute_small_mux_delays_directly = key_on("kavu_delay_compute_small_mux_delays_directly");
  m_use_neighbors_penalty = key_on("kavu_delay_use_neighbors_penalty");
}

KAVU_DELAY_MODEL_KZR::KAVU_DELAY_MODEL_KZR(const KAVU_DELAY_MODEL_KZR& o)
    : KAVU_DELAY_MODEL_FOR_EXPERT(o),
      m_fanin_getter(o.m_fanin_getter),
      m_look_through_buffers(o.m_look_through_buffers),
      m_look_through_carry_buffers(o.m_look_through_carry_buffers),
      m_look_through_carry_of_carry_sums(o.m_look_through_carry_of_carry_sums),
      m_look_through_wys_lcells(o.m_look_through_wys_lcells),
      m_look_through_wys_combs(o.m_look_through_wys_combs),
      m_look_through_wys_comb_arith(o.m_look_through_wys_comb_arith),
      m_look_through_operators(o.m_look_through_operators),
      m_use_special_mux_op_delays(o.m_use_special_mux_op_delays),
      m_look_through_soft_lcell_buffers(o.m_look_through_soft_lcell_buffers),
      m_dont_look_through_soft_lcell_buffers(o.m_dont_look_through_soft_lcell_buffers),
      m_use_neighbors_penalty(o.m_use_neighbors_penalty),
      m_multiplication_applied(o.m_multiplication_applied),
      m_compute_small_mux_delays_directly(o.m_compute_small_mux_delays_directly),
      m_detailed(o.m_detailed),
      m_four_input_lut(o.m_four_input_lut),
      m_zero_carry_in(o.m_zero_carry_in),
      m_mux_delay_info(new KAVU_MUX_DELAY_INFO) {
  for (int i = 0; i < NUM_DELAYS; ++i) m_delays[i] = o.m_delays[i];
}

KAVU_DELAY_MODEL_KZR::~KAVU_DELAY_MODEL_KZR() {
  m_mux_delay_info->clear();
  delete m_mux_delay_info;
}

// ---------------------------------------------------------------------------
// Transparency and boundaries

bool KAVU_DELAY_MODEL_KZR::look_through_sgate(CDB_SGATE_NODE* node) const {
  const bool soft_blocked = m_dont_look_through_soft_lcell_buffers && !m_look_through_soft_lcell_buffers;
  switch (node->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM: {
      if (!look_through_buffers()) return false;
      const CDB_BUFFER_TYPE t = node->cast_to_buffer()->get_buffer_type();
      if (t == CDB_BUFFER_SINGLE_CARRY) return look_through_carry_buffers();
      if (t == CDB_BUFFER_CUT) return false;
      if (t == CDB_BUFFER_SOFT_LCELL) return !soft_blocked;
      return true;
    }
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM: return true;
    case CDB_SGATE_CARRY_SUM_ENUM: return look_through_buffers();
    case CDB_SGATE_OPERATOR_ENUM:
      if (look_through_operators() && look_through_this_operator(node)) return true;
      return kavu_is_a_nto1_mux_op(node) && look_through_mux_ops();
    case CDB_SGATE_BOUNDARY_ENUM: return !soft_blocked;
    default: break;
  }
  if (node->is_wysiwyg())
    return (look_through_wys_lcells() || look_through_wys_combs()) && look_through_wysiwyg(node);
  return false;
}

bool KAVU_DELAY_MODEL_KZR::look_through_wysiwyg(CDB_SGATE_NODE* sgate) const {
  KAVU_CHECK(sgate->is_wysiwyg());
  if (!kavu_is_lcell_comb(sgate)) return false;
  if (!look_through_wys_combs() && !look_through_wys_lcells()) return false;
  if (look_through_wys_comb_arith()) return true;
  const CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
  for (DB_OUTPUT_PORT_TYPE t : {DB_OUTPUT_PORT_TYPE(0), DB_OUTPUT_PORT_TYPE(8), DB_OUTPUT_PORT_TYPE(252)}) {
    CDB_SGATE_OTERM* o = wys->get_oterm_by_type(t);
    if (o && o->has_fanout()) return false;
  }
  return true;
}

bool KAVU_DELAY_MODEL_KZR::look_through_this_operator(CDB_SGATE_NODE* sgate) const {
  KAVU_CHECK(kavu_is_a_op( sgate ) && this->look_through_operators());
  const int kind = int(sgate->cast_to_operator()->get_type());
  if ((kind >= 0 && kind <= 11) || (kind >= 13 && kind <= 16) || (kind >= 18 && kind <= 23)) return true;
  kavu_debug("Unexpected operator type %s in delay computation", sgate->get_string_type_name());
  KAVU_INTERNAL_ERROR("Unexpected operator type in delay computation");
  return false;
}

bool KAVU_DELAY_MODEL_KZR::oterm_is_hard_boundary(CDB_SGATE_OTERM* oterm) const {
  KAVU_CHECK(oterm != 0);
  CDB_SGATE_NODE* node = oterm->get_my_node();
  if (!look_through_sgate(node)) return true;
  return node->is_wysiwyg() && oterm->get_port_type() == 10;
}

bool KAVU_DELAY_MODEL_KZR::iterm_is_hard_boundary(CDB_SGATE_ITERM* iterm) const {
  KAVU_CHECK(iterm != 0);
  return !look_through_sgate(iterm->get_my_node());
}

// ---------------------------------------------------------------------------
// Delays

int KAVU_DELAY_MODEL_KZR::get_delay(const CDB_SGATE_TYPE& kind) {
  switch (kind) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM: return m_delays[D_BUF];
    case CDB_SGATE_COMB_ENUM: return m_delays[D_COMB];
    case CDB_SGATE_LUT_ENUM: return m_delays[D_LUT];
    case CDB_SGATE_MUX_ENUM: return m_delays[D_MUX];
    default: KAVU_INTERNAL_ERROR("Delay for unsupported gate type"); return 0;
  }
}

int KAVU_DELAY_MODEL_KZR::get_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  if (m_detailed) {
    if (!node) return 0;
    if (!iterm) {
      iterm = node->get_single_iterm();
      if (!iterm)
        kavu_debug("HUH? My sgate %s %s %s has no iterms -- using tarrow delay 0", node->get_string_type_name(),
                   node->get_debug_name().c_str(), node->get_string_hpath().c_str());
    }
    if (!oterm) {
      oterm = node->get_single_oterm();
      if (!oterm)
        kavu_debug("HUH? My sgate %s %s %s has no oterms -- using tarrow delay 0", node->get_string_type_name(),
                   node->get_debug_name().c_str(), node->get_string_hpath().c_str());
    }
    if (!iterm || !oterm) return 0;
    return m_four_input_lut ? kavu_detailed_gate_delay_4lut(iterm, oterm) : kavu_detailed_gate_delay_6lut(iterm, oterm);
  }
  if (node && look_through_sgate(node)) {
    if (kavu_is_a_choice_op(node)) return 0;
    if (node->is_wysiwyg()) return get_wys_delay(node, iterm, oterm);
    if (node->get_sgate_type() == CDB_SGATE_OPERATOR_ENUM) {
      if (special_mux_op_delays() && kavu_is_a_nto1_mux_op(node)) return get_special_mux_op_delay(node, iterm, oterm);
      return get_oper_delay(node, iterm, oterm);
    }
    int d = get_delay(node->get_sgate_type());
    if (m_use_neighbors_penalty) {
      if (node->get_sgate_type() != CDB_SGATE_CARRY_SUM_ENUM) d += compute_fanin_penalty(node, iterm);
      d += compute_fanout_penalty(node, oterm);
    }
    return d;
  }
  if (node && m_use_neighbors_penalty) {
    KAVU_CHECK(iterm != 0 || oterm != 0);
    if (iterm && !oterm) return compute_fanin_penalty(node, iterm);
    if (oterm && !iterm) return compute_fanout_penalty(node, oterm);
    return 0;
  }
  return kavu_loop_arc_delay(node, iterm, oterm, 10 * m_delays[D_LUT]);
}

int KAVU_DELAY_MODEL_KZR::get_wys_delay(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm) {
  KAVU_CHECK(sgate->is_wysiwyg());
  KAVU_CHECK(kavu_is_lcell_comb(sgate));
  KAVU_CHECK(iterm != 0 || oterm != 0);
  if (!iterm || !oterm) return 0;
  int d;
  const DB_INPUT_PORT_TYPE t = iterm->get_port_type();
  if (t == 2 || t == 273)
    d = m_zero_carry_in ? 0 : m_delays[D_CARRY_IN];
  else
    d = m_delays[D_DATA_IN];
  if (m_use_neighbors_penalty) d += compute_fanin_penalty(sgate, iterm) + compute_fanout_penalty(sgate, oterm);
  return d;
}

namespace {
// ceil(log2-like level count) of a port width; widths 0 and 1 need no level.
int log_levels(unsigned w, double base) {
  if (w <= 1) return 0;
  return int(std::ceil(std::log(double(w)) / std::log(base)));
}
}  // namespace

int KAVU_DELAY_MODEL_KZR::get_oper_delay(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM*, CDB_SGATE_OTERM*) {
  KAVU_CHECK(kavu_is_a_op( sgate ));
  const CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
  const int L = m_delays[D_LUT];
  const int M = m_delays[D_MUX];
  auto w = [op](CDB_OPER_PORT_TYPE p) { return op->get_width(p); };
  switch (op->get_type()) {
    case CDB_OPER_ADDITION:
    case CDB_OPER_COMPARE:
    case CDB_OPER_ADDSUB: return L;
    case CDB_OPER_MULTIPLY:
      return log_levels(std::min(w(CDB_OPER_PORT_A), w(CDB_OPER_PORT_B)), 2.0) * L;
    case CDB_OPER_DIVIDE:
    case CDB_OPER_MODULO:
    case CDB_OPER_RESERVED_22:
    case CDB_OPER_RESERVED_23: return L * int(std::max(w(CDB_OPER_PORT_A), w(CDB_OPER_PORT_B)));
    case CDB_OPER_LEFT_SHIFT:
    case CDB_OPER_RIGHT_SHIFT:
    case CDB_OPER_LEFT_ROTATE:
    case CDB_OPER_RIGHT_ROTATE: return M * int(w(CDB_OPER_PORT_SHIFT));
    case CDB_OPER_NTO1_MUX:
      if (m_four_input_lut) return L * int(w(CDB_OPER_PORT_A));
      KAVU_CHECK(CDB_LUTMASK::max_num_inputs == 6);
      return (L * int(w(CDB_OPER_PORT_A))) / 2;
    case CDB_OPER_SELECT: return log_levels(w(CDB_OPER_PORT_B), 2.0) * L;
    case CDB_OPER_DECODE: return log_levels(w(CDB_OPER_PORT_A), 4.0) * L;
    case CDB_OPER_ENABLED_DECODE: return log_levels(w(CDB_OPER_PORT_A) + 1, 4.0) * L;
    case CDB_OPER_BUSMUX: return M;
    case CDB_OPER_CHOICE:
    case CDB_OPER_BUS_IN:
    case CDB_OPER_BUS_OUT:
    case CDB_OPER_REG_SEC_SIG_PROXY: return 0;
    case CDB_OPER_EQUAL: {
      const int ww = int(w(CDB_OPER_PORT_A));
      if (m_four_input_lut)
        return L + (ww > 2 ? L : 0) + (ww / 2 > 4 ? L : 0) + (ww / 2 >= 20 ? L : 0);
      KAVU_CHECK(CDB_LUTMASK::max_num_inputs == 6);
      return L + (ww > 3 ? L : 0) + (ww / 3 > 6 ? L : 0) + (ww / 3 >= 42 ? L : 0);
    }
    default:
      kavu_debug("Unexpected operator type %s on gate %s to compute delay through", sgate->get_string_type_name(),
                 sgate->get_debug_name().c_str());
      KAVU_INTERNAL_ERROR("Unexpected operator type to compute delay through");
      return 0;
  }
}

int KAVU_DELAY_MODEL_KZR::get_special_mux_op_delay(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM* iterm,
                                                   CDB_SGATE_OTERM* oterm) {
  if (m_use_neighbors_penalty) kavu_debug("Warning: neighbors penalty not implemented for special mux delays");
  KAVU_CHECK(kavu_is_a_nto1_mux_op(sgate));
  const CDB_SGATE_OPERATOR* op = sgate->cast_to_operator();
  const unsigned data_width = op->get_width(CDB_OPER_PORT_B);
  const int L = m_delays[D_LUT];
  if (m_compute_small_mux_delays_directly && data_width == 2) return m_delays[D_MUX];
  if (m_compute_small_mux_delays_directly && data_width == 4) {
    for (unsigned b = 0; b < op->get_width(CDB_OPER_PORT_A); ++b)
      if (op->get_iterm(CDB_OPER_PORT_A, b) == iterm) return 2 * L;
    int arrival[4];
    unsigned dat_index = data_width;
    for (unsigned b = 0; b < 4; ++b) {
      CDB_SGATE_ITERM* t = op->get_iterm(CDB_OPER_PORT_B, b);
      arrival[b] = (t && cdb_is_connected(t) && t->get_source()) ? m_fanin_getter(t->get_source()) : 0;
      if (t == iterm) dat_index = b;
    }
    KAVU_CHECK(dat_index < data_width);
    static const int pairs[4][2] = {{2, 3}, {1, 3}, {0, 1}, {0, 2}};
    unsigned most_critical_index = 4;
    long best_max = 0, best_sum = 0;
    for (unsigned p = 0; p < 4; ++p) {
      const long mx = std::max(arrival[pairs[p][0]], arrival[pairs[p][1]]);
      const long sum = long(arrival[pairs[p][0]]) + arrival[pairs[p][1]];
      if (most_critical_index == 4 || mx > best_max || (mx == best_max && sum > best_sum)) {
        most_critical_index = p;
        best_max = mx;
        best_sum = sum;
      }
    }
    KAVU_CHECK(most_critical_index < 4);
    const bool in_pair = int(dat_index) == pairs[most_critical_index][0] || int(dat_index) == pairs[most_critical_index][1];
    return in_pair ? L : 2 * L;
  }
  (void)oterm;
  return m_mux_delay_info->get_iterm_oterm_delay(sgate, iterm);
}

// ---------------------------------------------------------------------------
// Neighbour penalties

bool KAVU_DELAY_MODEL_KZR::gate_goes_in_lab(CDB_SGATE_NODE* sgate) {
  if (sgate->is_wysiwyg()) {
    const CDB_SGATE_WYSIWYG* w = sgate->cast_to_wysiwyg();
    return w->is_lcell_comb() || w->is_ff();
  }
  switch (sgate->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_LATCH_ENUM:
    case CDB_SGATE_OPERATOR_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM: return true;
    default: return false;
  }
}

namespace {
int fanout_neighbours(unsigned n) {
  if (n < 2) return 0;
  if (n <= 7) return int(n);
  if (n <= 10) return 8;
  if (n <= 15) return 9;
  return 10;
}
int fanin_neighbours(int u) {
  if (u < 2) return 0;
  if (u <= 5) return u;
  return 6;
}
// Distinct sink gates of one output terminal.
unsigned fanout_node_count(const CDB_SGATE_OTERM* oterm) {
  std::vector<const CDB_SGATE_NODE*> seen;
  for (CDB_SGATE_ITERM* t : oterm->fanouts()) {
    const CDB_SGATE_NODE* n = t->get_my_node();
    if (std::find(seen.begin(), seen.end(), n) == seen.end()) seen.push_back(n);
  }
  return unsigned(seen.size());
}
}  // namespace

int KAVU_DELAY_MODEL_KZR::compute_fanout_penalty(CDB_SGATE_NODE* sgate, CDB_SGATE_OTERM* oterm) const {
  int k;
  if (oterm ? !oterm->has_fanout() : !sgate->has_fanout())
    k = 0;
  else if (!gate_goes_in_lab(sgate))
    k = 10;
  else
    k = fanout_neighbours(oterm ? fanout_node_count(oterm) : sgate->get_fanout_node_count());
  return penalty(k);
}

int KAVU_DELAY_MODEL_KZR::compute_fanin_penalty(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM* iterm) const {
  int k;
  if (iterm ? !cdb_is_connected(iterm) : sgate->get_fanin_node_count() == 0)
    k = 0;
  else if (!gate_goes_in_lab(sgate))
    k = 10;
  else if (kavu_is_a_dff(sgate, true))
    k = iterm == kavu_get_dff_data(sgate) ? 0 : 10;
  else if (kavu_is_a_lut(sgate) || kavu_is_lcell_comb(sgate))
    k = fanin_neighbours(kavu_count_used_lut_inputs(sgate));
  else
    k = fanin_neighbours(int(sgate->get_fanin_node_count()));
  return penalty(k);
}

void KAVU_DELAY_MODEL_KZR::apply_multiplication_if_necessary() {
  if (m_multiplication_applied) return;
  for (int& d : m_delays) d *= 10;
  m_multiplication_applied = true;
}

void KAVU_DELAY_MODEL_KZR::undo_multiplication_if_necessary() {
  if (!m_multiplication_applied) return;
  for (int& d : m_delays) d /= 10;
  m_multiplication_applied = false;
}

void KAVU_DELAY_MODEL_KZR::set_use_neighbors_penalty(bool on) {
  if (on == m_use_neighbors_penalty) return;
  m_use_neighbors_penalty = on;
  if (on)
    apply_multiplication_if_necessary();
  else
    undo_multiplication_if_necessary();
}

void KAVU_DELAY_MODEL_KZR::dump() const {
  const MSG_D_LEVEL level = 3;
  const std::string rule(34, '=');
  auto yn = [](bool b) { return b ? "Y" : "N"; };
  kavu_debug_at_level(level, "%s", rule.c_str());
  kavu_debug_at_level(level, " KzR Delay Model ");
  kavu_debug_at_level(level, "%s", rule.c_str());
  for (int i = 0; i < NUM_DELAYS; ++i) kavu_debug_at_level(level, k_delay_labels[i], m_delays[i]);
  kavu_debug_at_level(level, "%s", rule.c_str());
  kavu_debug_at_level(level, " look through buffers        = %s", yn(m_look_through_buffers));
  kavu_debug_at_level(level, " look through carry buffers  = %s", yn(m_look_through_carry_buffers));
  kavu_debug_at_level(level, " look through carry of csums = %s", yn(m_look_through_carry_of_carry_sums));
  kavu_debug_at_level(level, " look through wys lcells     = %s", yn(m_look_through_wys_lcells));
  kavu_debug_at_level(level, " look through wys combs      = %s", yn(m_look_through_wys_combs));
  kavu_debug_at_level(level, " look through wys comb arith = %s", yn(m_look_through_wys_comb_arith));
  kavu_debug_at_level(level, " look through operators      = %s", yn(m_look_through_operators));
  kavu_debug_at_level(level, " special mux op delays       = %s", yn(m_use_special_mux_op_delays));
  kavu_debug_at_level(level, " compute small mux delays    = %s", yn(m_compute_small_mux_delays_directly));
  kavu_debug_at_level(level, "%s", rule.c_str());
}

// ---------------------------------------------------------------------------
// Loop-critical sets, per netlist

namespace {
struct LOOP_SETS {
  std::set<CDB_SGATE_ITERM*> m_iterms;
  std::set<CDB_SGATE_OTERM*> m_oterms;
};
// Made as the library loads: the split reaches it, and a process forked
// meanwhile must not find it half made.
KAVU_LOAD_TIME<std::map<CDB_SGATE_NETLIST*, LOOP_SETS>> g_loop_sets("the loop-critical sets");
std::map<CDB_SGATE_NETLIST*, LOOP_SETS>& loop_sets() { return *g_loop_sets; }
}  // namespace

void kavu_rebuild_loop_sets(CDB_SGATE_NETLIST* netlist) {
  auto& all = loop_sets();
  all.erase(netlist);
  if (!netlist || !cfg_is_on("kavu_make_loops_critical", false)) return;
  std::vector<CDB_SGATE_ITERM*> iterms;
  std::vector<CDB_SGATE_OTERM*> oterms;
  kavu_find_all_loop_terms(netlist, &iterms, &oterms);
  LOOP_SETS& s = all[netlist];
  s.m_iterms.insert(iterms.begin(), iterms.end());
  s.m_oterms.insert(oterms.begin(), oterms.end());
}

void kavu_forget_loop_sets(CDB_SGATE_NETLIST* netlist) { loop_sets().erase(netlist); }

int kavu_loop_arc_delay(CDB_SGATE_NODE* node, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm, int d) {
  auto& all = loop_sets();
  if (all.empty() || !node) return 0;
  auto it = all.find(node->get_netlist());
  if (it == all.end()) return 0;
  if (!iterm && !oterm) {
    iterm = node->get_single_iterm();
    if (!iterm) oterm = node->get_single_oterm();
  }
  if (iterm) return it->second.m_iterms.count(iterm) ? d : 0;
  if (oterm) return it->second.m_oterms.count(oterm) ? d : 0;
  return 0;
}

// ---------------------------------------------------------------------------
// Stand-alone feeder model

KAVU_DELAY_MODEL::KAVU_DELAY_MODEL() {
  static const int defaults[NUM_SETTINGS] = {1, 1,  1, 1, 10, 1, 10, 10, 10, 10, 10, 10, 15, 15, 10,
                                             0, 10, 20, 0, 0, 10, 0, 0, 20, 10, 0, 0, 0, 0, 0};
  for (int i = 0; i < NUM_SETTINGS; ++i) m_settings[i] = defaults[i];
}

void KAVU_DELAY_MODEL::fill_in_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                                             std::vector<KAVU_OTERM_DELAY_INFO>* infos, int delta, bool is_cut,
                                             bool) {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  for (CDB_SGATE_ITERM* t : node->get_input_terms()) {
    if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
    CDB_SGATE_OTERM* src = t->get_source();
    if (std::find(feeders.begin(), feeders.end(), src) != feeders.end()) continue;
    feeders.push_back(src);
    if (infos) infos->emplace_back(delta, is_cut, false);
  }
}

void KAVU_DELAY_MODEL::get_combinatorial_oterm_feeders(CDB_SGATE_OTERM* oterm,
                                                       std::vector<CDB_SGATE_OTERM*>& feeders,
                                                       std::vector<KAVU_OTERM_DELAY_INFO>* infos) {
  fill_in_oterm_feeders(oterm, feeders, infos, 0, false, false);
}

void KAVU_DELAY_MODEL::get_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                                         std::vector<KAVU_OTERM_DELAY_INFO>* infos, bool flag) {
  feeders.clear();
  if (infos) infos->clear();
  CDB_SGATE_NODE* node = oterm->get_my_node();
  const unsigned ni = node->get_number_of_input_terms(), no = node->get_output_count();
  const bool large = ni >= 16384 || no >= 16384 || (ni >= 128 && no >= 128) || uint64_t(ni) * no >= 16384;
  if (large && oterm != node->get_output_term(0)) return;
  const int kind = int(node->get_sgate_type());
  switch (kind) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM: get_combinatorial_oterm_feeders(oterm, feeders, infos); return;
    case CDB_SGATE_DFF_ENUM: fill_in_oterm_feeders(oterm, feeders, infos, 0, true, flag); return;
    case CDB_SGATE_IO_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM: fill_in_oterm_feeders(oterm, feeders, infos, m_settings[11], true, flag); return;
    case CDB_SGATE_LUT_ENUM: fill_in_oterm_feeders(oterm, feeders, infos, m_settings[9], false, flag); return;
    case CDB_SGATE_LATCH_ENUM: fill_in_oterm_feeders(oterm, feeders, infos, 0, false, flag); return;
    case CDB_SGATE_CARRY_SUM_ENUM: {
      const bool second = oterm == node->get_output_term(CARRY_OUT);
      CDB_SGATE_ITERM* t = node->get_input_term(second ? CARRY_IN : SUM_IN);
      if (t && cdb_is_connected(t) && t->get_source()) {
        feeders.push_back(t->get_source());
        if (infos) infos->emplace_back(m_settings[second ? 0 : 2], false, false);
      }
      return;
    }
    default: break;
  }
  if (node->is_wysiwyg()) {
    if (node->cast_to_wysiwyg()->is_lcell_comb())
      wys_lcell_comb_oterm_feeders(oterm, feeders, infos, flag);
    else
      fill_in_oterm_feeders(oterm, feeders, infos, 0, true, flag);
    return;
  }
  if (kind == 6 || kind == 7 || (kind >= 11 && kind <= 22) || (kind >= 36 && kind <= 38) || kind == 40 ||
      kind == CDB_SGATE_OPERATOR_ENUM)
    fill_in_oterm_feeders(oterm, feeders, infos, 0, true, flag);
}

void KAVU_DELAY_MODEL::wys_lcell_comb_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                                                    std::vector<KAVU_OTERM_DELAY_INFO>* infos, bool flag) {
  CDB_SGATE_NODE* sgate = oterm->get_my_node();
  KAVU_CHECK(sgate->is_wysiwyg() && sgate->cast_to_wysiwyg()->is_lcell_comb());
  const DB_OUTPUT_PORT_TYPE ot = oterm->get_port_type();
  KAVU_CHECK(ot == 9 || ot == 8 || ot == 0 || ot == 252 || ot == 1);
  const bool sum_like = ot == 0 || ot == 252;
  CDB_SGATE_WYSIWYG* wys = sgate->cast_to_wysiwyg();
  for (CDB_SGATE_ITERM* t : sgate->get_input_terms()) {
    if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
    if (!kavu_consider_oterm_for_iterm(wys, t, oterm, flag, false)) continue;
    const DB_INPUT_PORT_TYPE it = t->get_port_type();
    int delta;
    if (it == 2 || it == 273) {
      delta = sum_like ? m_settings[0] : m_settings[2];
    } else if (it >= 12 && it <= 19) {
      delta = sum_like ? m_settings[4] : m_settings[9];
    } else {
      kavu_debug("Unexpected port type on WYS comb %s %s", sgate->get_string_type_name(),
                 sgate->get_debug_name().c_str());
      KAVU_INTERNAL_ERROR("Unexpected port type on WYS comb");
      return;
    }
    feeders.push_back(t->get_source());
    if (infos) infos->emplace_back(delta, false, false);
  }
}

int KAVU_DELAY_MODEL::wire_delay(CDB_SGATE_OTERM* oterm) const {
  CDB_SGATE_NODE* node = oterm->get_my_node();
  const int kind = int(node->get_sgate_type());
  switch (kind) {
    case CDB_SGATE_DFF_ENUM:
    case CDB_SGATE_LATCH_ENUM: return m_settings[20];
    case CDB_SGATE_IO_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM: return m_settings[16];
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_COMPONENT_ENUM:
    case CDB_SGATE_OPERATOR_ENUM: KAVU_INTERNAL_ERROR("Unexpected SGATE"); return 0;
    default: break;
  }
  if (kind == 6 || kind == 9 || (kind >= 11 && kind <= 22) || kind == 33 || kind == 34 ||
      (kind >= 36 && kind <= 38) || kind == 40)
    return m_settings[23];
  return 0;
}
