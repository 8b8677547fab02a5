// kavu_stats_flags.cpp — KAVU_DESIGN_FLAGS: a rough size and content
// estimate of a gate netlist and the design flags it implies.
//
// Amounts are counted in tenths (one LUT equivalent adds 10). Formulas of
// the form (w - 1) * 10 / 3 are evaluated in signed 64-bit arithmetic and
// clamped at zero, so a comb gate without inputs or a decoder of width 0
// adds nothing instead of an unsigned wrap of about 1.4e9 tenths.
//
// Cost: linear in gates plus the data bits of multiplexer operators.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>

#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_ops.h"
#include "kavu_stats.h"

namespace {

const char* const k_flag_names[KAVU_DESIGN_FLAG_COUNT] = {
    "CRC_XORS",     "WANTS_RAM",      "MANY_PINS",     "TOY_DESIGN",      "NOT_TOO_BIG",  "RUNTIME_THREAT",
    "LOTS_OF_MATH", "MODERATE_MATH",  "NO_MATH_OPS",   "HAS_STATE_MEKS",  "HAS_RAM",      "HEAVY_PIPE",
    "DEEP_COMB_LOGIC", "NO_COMB_LOGIC", "NO_OPERATORS", "HEAVY_21MUX",   "BIG_MUXES",    "FULLY_POPULATED_MUXES"};

// Tenths from a possibly negative formula: clamped at zero.
long long tenths(long long v) { return v < 0 ? 0 : v; }

bool prefix_nocase(const char* text, const char* prefix) {
  if (!text) return false;
  const size_t n = std::strlen(prefix);
  return strncasecmp(text, prefix, n) == 0;
}

// The decimal value of a component parameter (ignoring case; the last
// entry of a name wins; missing counts as 0).
long long component_parameter(const CDB_SGATE_COMPONENT* c, const char* name) {
  long long value = 0;
  for (auto it = c->begin_const_parameter_table(); it != c->end_const_parameter_table(); ++it)
    if (it->get_name() && strcasecmp(it->get_name(), name) == 0)
      value = it->get_value() ? std::strtoll(it->get_value(), nullptr, 10) : 0;
  return value;
}

struct ESTIMATE {
  long long io = 0, lut = 0, dff = 0, counter = 0, wys_unrated = 0, other_unrated = 0, arith = 0, mac = 0, ram = 0;
  long long xor_gates = 0, mux_gates = 0, reg_fed_mux_inputs = 0, big_muxes = 0, full_muxes = 0;
  bool seen_state = false, seen_ram = false, seen_comb = false, seen_operator = false;
};

void rate_operator(CDB_SGATE_NODE* node, ESTIMATE& e) {
  CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  e.seen_operator = true;
  auto w = [&](int port) { return (long long)op->get_width(CDB_OPER_PORT_TYPE(port)); };
  switch (int(op->get_type())) {
    case 0:
    case 13:
      e.arith += w(3) * 10;
      break;
    case 1:
      e.arith += w(1) * w(2) * 20;
      break;
    case 2:
    case 3: {
      const long long m = std::max(w(1), w(2));
      e.arith += (m + 3) * m * 10;
      break;
    }
    case 4:
    case 5:
    case 6:
    case 7:
      e.lut += w(1) * w(5) * 10;
      break;
    case 8:
      e.lut += w(1) * 10;
      break;
    case 9: {
      e.lut += tenths(w(2) * 10 - 10);
      CDB_SGATE_OPER_PORT_ENTRY* data = op->get_port(CDB_OPER_PORT_TYPE(2));
      for (unsigned i = 0; data && i < data->get_width(); ++i) {
        CDB_SGATE_ITERM* t = data->get_iterm(i);
        if (t && cdb_is_connected(t) && t->get_source() &&
            t->get_source()->get_my_node()->get_sgate_type() == CDB_SGATE_DFF_ENUM)
          ++e.reg_fed_mux_inputs;
      }
      if (w(2) >= 9) {
        ++e.big_muxes;
        if (kavu_count_real_op_inputs(node, 0) == w(1) + w(2)) ++e.full_muxes;
      }
      break;
    }
    case 10:
    case 12:
      e.lut += tenths(w(1) * 10 / 3) + tenths((w(1) - 1) * 10 / 3);
      break;
    case 11:
      e.lut += tenths(w(3) * (w(1) - 1) * 10 / 3);
      break;
    default:
      if (int(op->get_type()) > 13) e.other_unrated += 10;
      break;
  }
}

void rate_component(CDB_SGATE_NODE* node, ESTIMATE& e) {
  const CDB_SGATE_COMPONENT* c = node->cast_to_component();
  const char* fn = c->get_function_name();
  if (prefix_nocase(fn, "lpm_counter")) {
    const long long width = component_parameter(c, "LPM_WIDTH");
    if (width >= 1) {
      e.counter += width * 10;
      return;
    }
  } else if (prefix_nocase(fn, "orlshift_taps")) {
    const long long product = component_parameter(c, "width") * component_parameter(c, "number_of_taps") *
                              component_parameter(c, "tap_distance");
    if (product >= 1) {
      e.dff += product * 10;
      return;
    }
  }
  e.other_unrated += 10;
}

void rate_gate(CDB_SGATE_NODE* g, ESTIMATE& e) {
  switch (int(g->get_sgate_type())) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM:
      break;
    case CDB_SGATE_COMB_ENUM:
      e.lut += tenths(((long long)g->get_number_of_fanin() - 1) * 10 / 3);
      if (g->cast_to_comb()->get_comb_type() == CDB_COMB_XOR) ++e.xor_gates;
      e.seen_comb = true;
      break;
    case CDB_SGATE_DFF_ENUM:
      e.dff += 10;
      break;
    case CDB_SGATE_IO_ENUM:
      e.io += 10;
      break;
    case CDB_SGATE_LUT_ENUM:
      e.lut += 10;
      break;
    case CDB_SGATE_MUX_ENUM:
      ++e.mux_gates;
      e.seen_comb = true;
      e.lut += 10;
      break;
    case CDB_SGATE_STATE_ENUM:
      e.seen_state = true;
      break;
    case CDB_SGATE_WYSIWYG_ENUM: {
      const CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
      if (g->is_pin()) break;
      if (w && w->is_ram()) {
        e.ram += 10;
        e.seen_ram = true;
      } else if (w && w->is_ff()) {
        e.dff += 10;
      } else {
        e.wys_unrated += 10;
      }
      break;
    }
    case CDB_SGATE_WYSIWYG_MAC_MULT_ENUM:
    case CDB_SGATE_WYSIWYG_MAC_OUT_ENUM:
      e.mac += 10;
      break;
    case CDB_SGATE_COMPONENT_ENUM:
      rate_component(g, e);
      break;
    case CDB_SGATE_OPERATOR_ENUM:
      rate_operator(g, e);
      break;
    default:
      e.other_unrated += 10;
      break;
  }
}

}  // namespace

void KAVU_DESIGN_FLAGS::set_flag(KAVU_DESIGN_FLAG_TYPE flag_to_set) {
  KAVU_CHECK((unsigned)flag_to_set < 32);
  m_flags |= 1u << unsigned(flag_to_set);
}

bool KAVU_DESIGN_FLAGS::get_flag(KAVU_DESIGN_FLAG_TYPE flag_to_get) const {
  KAVU_CHECK((unsigned)flag_to_get < 32);
  return (m_flags >> unsigned(flag_to_get)) & 1u;
}

void KAVU_DESIGN_FLAGS::dump_flags(const char* prefix) const {
  kavu_debug("%sFLAGS -", prefix);
  for (int f = 0; f < KAVU_DESIGN_FLAG_COUNT; ++f)
    if (get_flag(KAVU_DESIGN_FLAG_TYPE(f))) kavu_debug("%s    %s", prefix, k_flag_names[f]);
  kavu_debug("%sEND FLAGS", prefix);
}

void KAVU_DESIGN_FLAGS::analyze_netlist(CDB_SGATE_NETLIST* netlist, const char* prefix) {
  ESTIMATE e;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it) rate_gate(*it, e);
  const int IO = int(e.io / 10), LUT = int(e.lut / 10), DFF = int(e.dff / 10), COUNTER = int(e.counter / 10);
  const int WYSU = int(e.wys_unrated / 10), OTHERU = int(e.other_unrated / 10), ARITH = int(e.arith / 10);
  const int MAC = int(e.mac / 10), RAM = int(e.ram / 10);

  kavu_debug("%sCurrent estimate of netlist complexity  -", prefix);
  kavu_debug("%s    %d IO pins", prefix, IO);
  kavu_debug("%s    %d LUT equivalents", prefix, LUT);
  kavu_debug("%s    %d DFFs", prefix, DFF);
  // This figure is the counter bits (lpm_counter components).
  kavu_debug("%s    %d counter bits", prefix, COUNTER);
  kavu_debug("%s    %d bits of arithmetic", prefix, ARITH);
  kavu_debug("%s    %d MAC related", prefix, MAC);
  kavu_debug("%s    %d RAM related", prefix, RAM);
  kavu_debug("%s    %d WYS sgates not understood", prefix, WYSU);
  kavu_debug("%s    %d non-WYS sgates not understood", prefix, OTHERU);

  m_cost_est_valid = !(WYSU > 0 || OTHERU > 0);
  m_cost_est_a = COUNTER + std::max(DFF, LUT + ARITH);
  m_cost_est_b = MAC + RAM;

  const long long SIZE = (long long)ARITH + COUNTER + DFF + LUT;
  auto P = [&](long long k) { return (SIZE * k) / 100; };
  if (e.xor_gates >= 501 && e.xor_gates <= 1999) set_flag(CRC_XORS);
  if (e.reg_fed_mux_inputs > 1000) set_flag(WANTS_RAM);
  if (IO > 400) set_flag(MANY_PINS);
  if (e.seen_state) set_flag(HAS_STATE_MEKS);
  if (e.seen_ram) set_flag(HAS_RAM);
  if (!e.seen_comb) set_flag(NO_COMB_LOGIC);
  if (!e.seen_operator) set_flag(NO_OPERATORS);
  if (e.big_muxes > 100) set_flag(BIG_MUXES);
  if (SIZE < 500)
    set_flag(TOY_DESIGN);
  else if (SIZE < 10000)
    set_flag(NOT_TOO_BIG);
  else if (double(SIZE) > 35000.0)
    set_flag(RUNTIME_THREAT);
  if (ARITH > P(10))
    set_flag(LOTS_OF_MATH);
  else if (ARITH > P(5))
    set_flag(MODERATE_MATH);
  else if (ARITH == 0)
    set_flag(NO_MATH_OPS);
  if (DFF > P(50)) set_flag(HEAVY_PIPE);
  if (DFF < P(10)) set_flag(DEEP_COMB_LOGIC);
  if (e.mux_gates > 2LL * DFF) set_flag(HEAVY_21MUX);
  if (e.big_muxes > 0) {
    kavu_debug("Percent MUX population approx %d", int(e.full_muxes * 100 / e.big_muxes));
    if (e.full_muxes >= 17 && 2 * e.full_muxes > e.big_muxes) set_flag(FULLY_POPULATED_MUXES);
  }
  dump_flags(prefix);
}
