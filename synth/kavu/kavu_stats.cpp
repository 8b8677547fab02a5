// kavu_stats.cpp — KAVU_STATS: the netlist statistics tally and report.
//
// Every gate contributes a few description strings: its type name, then the
// same name with one more " | "-separated field per level of detail
// (inputs, control signals, widths, what feeds an operand bit). The tally
// counts each distinct string; the dump appends " : <count>", sorts the
// strings as bytes (':' sorts before '|', so a description precedes its
// finer ones) and prints them as an indented tree or, with
// "rtl_net_stats_parsable", one per line.
//
// An input terminal counts as connected by the database's cdb_is_connected
// (driven, tied, or connected through its parent input). Debug describers
// never stop the report: an unconnected operand bit is described as "NC"
// and a MAC output atom with no known mode as "unknown".
//
// Cost: linear in terminals; descriptions are found through a hash index.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <strings.h>
#include <map>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "cut/cut_mac_split.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_mux.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_ops.h"
#include "kavu_stats.h"
#include "kavu_stats_int.h"

namespace {

// -1 unknown, 0 reports print, 1 quiet.
int s_quiet_gate = -1;
thread_local int s_report_counter = 0;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n >= 0 && size_t(n) < sizeof buf) return std::string(buf, size_t(n));
  std::string big(size_t(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(big.data(), big.size(), fmt, ap);
  va_end(ap);
  big.resize(size_t(n));
  return big;
}

bool connected(const CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t); }

// Characters A-Z folded to a-z, compared as unsigned bytes.
bool nocase_string_less(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
    if (x >= 'A' && x <= 'Z') x = (unsigned char)(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = (unsigned char)(y - 'A' + 'a');
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

typedef std::map<std::string, int, bool (*)(const std::string&, const std::string&)> PROFILE;

// Input of a plain register by position or of a flip-flop atom by port.
CDB_SGATE_ITERM* reg_input(CDB_SGATE_NODE* g, int dff_pos, int wys_port) {
  if (g->get_sgate_type() == CDB_SGATE_DFF_ENUM)
    return dff_pos >= 0 && unsigned(dff_pos) < g->get_number_of_input_terms() ? g->get_input_term(dff_pos) : nullptr;
  CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
  return w ? w->get_iterm_by_type(DB_INPUT_PORT_TYPE(wys_port), 0) : nullptr;
}

CDB_SGATE_OTERM* reg_output(CDB_SGATE_NODE* g) {
  if (g->get_sgate_type() == CDB_SGATE_DFF_ENUM) return g->get_output_count() ? g->get_output_term(0) : nullptr;
  CDB_SGATE_WYSIWYG* w = g->cast_to_wysiwyg();
  return w ? w->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(10), 0) : nullptr;
}

bool oterm_has_fanout(const CDB_SGATE_OTERM* o) { return o && o->has_fanout(); }

const char* type_of(const CDB_SGATE_NODE* g) { return g->get_string_type_name(); }

}  // namespace

// ---- quiet gate ----

bool kavu_less_debug_messages() {
  if (s_quiet_gate < 0) {
    const bool dflt = !tst_is_regtest_mode();
    const bool quiet = cfg_is_on("synth_less_debug_messages", dflt) || !cfg_is_on("debug_msg", false);
    s_quiet_gate = quiet ? 1 : 0;
  }
  return s_quiet_gate == 1;
}

void kavu_stats_reset_for_tests() {
  s_quiet_gate = -1;
  s_report_counter = 0;
}

// ---- chains ----

int shift_register_chain_length(CDB_SGATE_NODE* node, bool single_fanout) {
  int length = 1;
  CDB_SGATE_NODE* g = node;
  while (g && length < 100) {
    CDB_SGATE_ITERM* d = kavu_get_dff_data(g);
    if (!connected(d) || !d->get_source()) break;
    CDB_SGATE_OTERM* src = d->get_source();
    CDB_SGATE_NODE* drv = src->get_my_node();
    if (!kavu_stats_is_register(drv)) break;
    if (single_fanout && src->get_number_of_fanout() != 1) break;
    ++length;
    g = drv;
  }
  return length;
}

bool drives_dff_data_input(CDB_SGATE_NODE* node) {
  CDB_SGATE_OTERM* o = reg_output(node);
  if (!o) return false;
  for (CDB_SGATE_ITERM* t : o->fanouts()) {
    CDB_SGATE_NODE* h = t->get_my_node();
    if (h->get_sgate_type() == CDB_SGATE_DFF_ENUM && h->get_number_of_input_terms() > 0 && h->get_input_term(0) == t)
      return true;
  }
  return false;
}

// ---- KAVU_STATS ----

KAVU_STATS::KAVU_STATS() {
  m_dump_fanout = cfg_is_on("kavu_stats_dump_fanout", false);
  m_reg_connex_stats = cfg_is_on("smt_reg_connex_stats", false) || cfg_is_on("kavu_reg_connex_stats", false);
  m_fanout_stats = cfg_is_on("smt_fanout_stats", false);
}

KAVU_STATS::~KAVU_STATS() = default;

unsigned KAVU_STATS::index_of_string(const std::string& s) const {
  auto it = m_index.find(s);
  return it == m_index.end() ? m_last_description : it->second;
}

void KAVU_STATS::tally_string(const std::string& s) {
  KAVU_CHECK(m_last_description == m_string.size() && m_last_description == m_tally.size());
  unsigned idx = index_of_string(s);
  if (idx == m_last_description) {
    m_string.push_back(s);
    m_tally.push_back(0);
    m_index.emplace(s, m_last_description);
    ++m_last_description;
    KAVU_CHECK(m_last_description == m_string.size() && m_last_description == m_tally.size());
  }
  ++m_tally[idx];
}

int KAVU_STATS::count_tabs(const char* s) {
  int n = 0;
  for (; *s; ++s) n += *s == '|';
  return n;
}

void KAVU_STATS::clear_tally() {
  m_tally.clear();
  m_string.clear();
  m_index.clear();
  m_last_description = 0;
  m_last_tally.clear();
}

void KAVU_STATS::tally_node(CDB_SGATE_NODE* node) {
  switch (int(node->get_sgate_type())) {
    case CDB_SGATE_COMB_ENUM: tally_comb(node); break;
    case CDB_SGATE_DFF_ENUM: tally_dff(node); break;
    case CDB_SGATE_LUT_ENUM: tally_lut(node); break;
    case CDB_SGATE_WYSIWYG_ENUM: tally_wys(node); break;
    case CDB_SGATE_WYSIWYG_MAC_MULT_ENUM:
    case CDB_SGATE_WYSIWYG_MAC_OUT_ENUM: tally_macs(node); break;
    case CDB_SGATE_COMPONENT_ENUM: tally_component(node); break;
    case CDB_SGATE_OPERATOR_ENUM: tally_operator(node); break;
    default: tally_unknown_sgate(node); break;
  }
  tally_fanout(node);
}

void KAVU_STATS::tally_unknown_sgate(CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate);
  tally_string(type_of(sgate));
}

void KAVU_STATS::tally_pin(CDB_SGATE_NODE* node) { tally_unknown_sgate(node); }

void KAVU_STATS::tally_comb(CDB_SGATE_NODE* node) {
  tally_unknown_sgate(node);
  tally_string(format("%s | %3d input", type_of(node), int(node->get_number_of_fanin())));
}

void KAVU_STATS::tally_component(CDB_SGATE_NODE* node) {
  tally_unknown_sgate(node);
  const char* fn = node->cast_to_component()->get_function_name();
  tally_string(format("%s | %s", type_of(node), fn ? fn : ""));
}

void KAVU_STATS::tally_lut(CDB_SGATE_NODE* node) {
  tally_unknown_sgate(node);
  const char* T = type_of(node);
  if (kavu_lut_is_tail_of_41_mux(node))
    tally_string(format("%s | 4:1 MUX tail", T));
  else if (kavu_lut_is_head_of_41_mux(node))
    tally_string(format("%s | 4:1 MUX head", T));
  const unsigned bits = node->get_flag_byte(0);
  std::string flags;
  if (bits & 0x01) flags += "USER ";
  if (bits & 0x02) flags += "DONT_TOUCH ";
  if (bits & 0x04) flags += "DONT_UNMAP ";
  if (!flags.empty()) tally_string(format("%s | %s", T, flags.c_str()));
  tally_string(format("%s | %3d input", T, int(node->get_number_of_fanin())));
}

void KAVU_STATS::tally_fanout(CDB_SGATE_NODE* node) {
  if (!m_dump_fanout) return;
  int oterms = 0, inv_o = 0, max_fo = 0;
  long long sum_fo = 0;
  for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
    if (!o) continue;
    ++oterms;
    inv_o += o->is_inverted();
    max_fo = std::max(max_fo, int(o->get_number_of_fanout()));
    sum_fo += o->get_number_of_fanout();
  }
  int iterms = int(node->get_number_of_input_terms()), inv_i = 0;
  for (CDB_SGATE_ITERM* t : node->get_input_terms()) inv_i += t && t->is_inverted();
  const int avg = oterms ? int(sum_fo / oterms) : 0;
  tally_string(format("%s | iterms %3d, inv %3d, oterms %3d, inv %3d, max fo %3d, avg fo %3d", type_of(node), iterms,
                      inv_i, oterms ? oterms : 1, inv_o, max_fo, avg));
}

void KAVU_STATS::tally_dff(CDB_SGATE_NODE* node) {
  tally_unknown_sgate(node);
  struct SIGNAL {
    const char* label;
    int pos, port;
    bool inactive_vcc;
  };
  static const SIGNAL signals[] = {{"ENA ", 4, 8, true},    {"CLR ", 2, 6, false},  {"PRE ", 3, 27, false},
                                   {"ALD ", 6, 1, false},   {"SCLR ", 7, 30, false}, {"SCLR2 ", -1, 31, false},
                                   {"SLD ", 8, 33, false}};
  const char* present[7];
  bool any = false, ald = false;
  for (int i = 0; i < 7; ++i) {
    CDB_SGATE_ITERM* t = reg_input(node, signals[i].pos, signals[i].port);
    const bool on = connected(t) && !(signals[i].inactive_vcc ? t->is_vcc() : t->is_gnd());
    present[i] = on ? signals[i].label : "";
    any |= on;
    if (i == 3) ald = on;
  }
  const char* adata = "";
  if (ald) {
    CDB_SGATE_ITERM* a = kavu_get_dff_adata(node);
    adata = connected(a) && a->is_gnd() ? "ADATA_GND " : connected(a) && a->is_vcc() ? "ADATA_VCC " : "ADATA_NORM ";
  }
  tally_string(format("%s | %s%s%s%s%s%s%s%s%s%s%s", type_of(node), present[0], present[1], present[2], present[3],
                      present[4], present[5], present[6], adata, "", "", any ? "" : "plain"));
  tally_register_string(node);
}

void KAVU_STATS::tally_register_string(CDB_SGATE_NODE* node) {
  if (!m_reg_connex_stats) return;
  CDB_SGATE_ITERM* data = kavu_get_dff_data(node);
  if (!connected(data) || !data->get_source()) return;
  CDB_SGATE_OTERM* src = data->get_source();
  if (!kavu_stats_is_register(src->get_my_node())) return;
  const char* T = type_of(node);
  tally_string(format("%s | fed by DFF", T));
  tally_string(format("%s | fed by DFF | %s", T, src->get_number_of_fanout() == 1 ? "fo=1" : "fo!=1"));
  const bool drives = drives_dff_data_input(node);
  if (!drives) {
    const int n = shift_register_chain_length(node, false);
    tally_string(format("%s | fed by DFF | sr anytaps %d", T, n));
    kavu_debug("sr anytaps %d begin", n);
    dump_shift_register_chains(node, false);
    kavu_debug("sr anytaps %d end", n);
  }
  CDB_SGATE_OTERM* out = reg_output(node);
  if (!(drives && out && out->get_number_of_fanout() == 1)) {
    const int n = shift_register_chain_length(node, true);
    if (n > 1) {
      tally_string(format("%s | fed by DFF | sr notaps %d", T, n));
      kavu_debug("sr notaps %d begin", n);
      dump_shift_register_chains(node, true);
      kavu_debug("sr notaps %d end", n);
    }
  }
}

void KAVU_STATS::tally_wys(CDB_SGATE_NODE* node) {
  CDB_SGATE_WYSIWYG* w = node->cast_to_wysiwyg();
  if (node->get_sgate_type() == CDB_SGATE_DFF_ENUM || (node->is_wysiwyg() && w && w->is_ff())) {
    tally_dff(node);
    return;
  }
  tally_unknown_sgate(node);
  const char* T = type_of(node);
  const char* owner = w && w->mode_is_set(119) ? "owned by user" : "owned by synthesis";
  tally_string(format("%s | %s", T, owner));
  if (!w || !kavu_is_wys_comb(node, true)) return;
  auto used = [&](int port) { return oterm_has_fanout(w->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(port), 0)); };
  const bool comb = used(9), sum = used(8), cout = used(0), share = used(252);
  const char* mode = w->mode_is_set(120)                      ? "extend "
                     : (sum || cout || share) && comb         ? "mixed  "
                     : (sum || cout || share)                 ? "arith  "
                                                              : "normal ";
  const std::string outs =
      format("->%s%s%s%s", comb ? "comb " : "", cout ? "cout " : "", sum ? "sum " : "", share ? "share " : "");
  tally_string(format("%s | %s | %s%s", T, owner, mode, outs.c_str()));
}

void KAVU_STATS::tally_operator(CDB_SGATE_NODE* node) {
  const bool mult_stats = cfg_is_on("kavu_give_connectivity_stats_on_mults", false);
  const bool mux_profile = cfg_is_on("kavu_stats_mux_input_profile", false);
  tally_unknown_sgate(node);
  CDB_SGATE_OPERATOR* op = node->cast_to_operator();
  const char* T = type_of(node);
  auto w = [&](int port) { return int(op->get_width(CDB_OPER_PORT_TYPE(port))); };
  const int kind = int(op->get_type());
  switch (kind) {
    case 0:
    case 8:
    case 10:
    case 15:
      tally_string(format("%s | %dx%d", T, w(1), w(2)));
      break;
    case 1:
      tally_string(format("%s | %dx%d => %d %s", T, w(1), w(2), w(3), op->is_signed() ? "signed" : "unsign"));
      break;
    case 4:
    case 5:
    case 6:
    case 7:
      tally_string(format("%s | %dx%d", T, w(1), w(5)));
      break;
    case 9:
      tally_string(format("%s | %d->1 (%d of %d real) %s", T, w(2), kavu_count_real_op_inputs(node, 0), w(2) + w(1),
                          mux_profile ? kavu_get_mux_op_input_stats(node).c_str() : ""));
      break;
    case 11:
    case 18:
    case 20:
      tally_string(format("%s | %3d input", T, w(1)));
      break;
    case 19:
      tally_string(format("%s | %3d output", T, w(3)));
      break;
    default:
      break;
  }
  if (kind == 0) tally_adder_neighbors(node);
  if (kind == 1 && mult_stats) tally_multiply_neighbors(node);
}

// ---- operand sources and result destinations ----

void KAVU_STATS::tally_source(const char* T, CDB_SGATE_ITERM* iterm) {
  tally_string(format("%s | iterm", T));
  if (!iterm) {
    tally_string(format("%s | iterm | NULL", T));
  } else if (!cdb_is_connected(iterm)) {
    // A debug report describes what it finds and goes on.
    kavu_debug("Unconnected operand bit on %s", iterm->get_my_node()->get_string_hpath().c_str());
    tally_string(format("%s | iterm | NC", T));
  } else if (iterm->is_vcc()) {
    tally_string(format("%s | iterm | fed by VCC", T));
  } else if (iterm->is_gnd()) {
    tally_string(format("%s | iterm | fed by GND", T));
  } else if (iterm->get_source()) {
    tally_string(format("%s | iterm | fed by %s", T, type_of(iterm->get_source()->get_my_node())));
  }
}

void KAVU_STATS::tally_destination(const char* T, CDB_SGATE_OTERM* o) {
  tally_string(format("%s | oterm", T));
  if (!o)
    tally_string(format("%s | oterm | NULL", T));
  else if (!o->has_fanout())
    tally_string(format("%s | oterm | no fanout", T));
  else if (o->get_number_of_fanout() < 2)
    tally_string(format("%s | oterm | fo=1 to %s", T, type_of(o->get_first_fanout()->get_my_node())));
  else
    tally_string(format("%s | oterm | multiple fanout", T));
}

void KAVU_STATS::tally_adder_sources(CDB_SGATE_NODE* op, int port) {
  const CDB_SGATE_OPER_PORT_ENTRY* e = op->cast_to_operator()->get_port(CDB_OPER_PORT_TYPE(port));
  for (unsigned i = 0; e && i < e->get_width(); ++i) tally_source(type_of(op), e->get_iterm(i));
}

void KAVU_STATS::tally_multiply_sources(CDB_SGATE_NODE* op, int port) {
  const CDB_SGATE_OPER_PORT_ENTRY* e = op->cast_to_operator()->get_port(CDB_OPER_PORT_TYPE(port));
  for (unsigned i = 0; e && i < e->get_width(); ++i) tally_source(type_of(op), e->get_iterm(i));
  for (unsigned i = 0; e && i < e->get_width(); ++i) {
    CDB_SGATE_ITERM* t = e->get_iterm(i);
    if (connected(t) && t->get_source())
      tally_string(format("%s | iterm | fed by oterm with Fanout of %d", type_of(op),
                          int(t->get_source()->get_number_of_fanout())));
  }
}

void KAVU_STATS::tally_adder_destinations(CDB_SGATE_NODE* op) {
  KAVU_CHECK(kavu_is_a_op(op) && op->cast_to_operator()->get_type() == 0);
  const CDB_SGATE_OPER_PORT_ENTRY* e = op->cast_to_operator()->get_port(CDB_OPER_PORT_TYPE(3));
  for (unsigned i = 0; e && i < e->get_width(); ++i) tally_destination(type_of(op), e->get_oterm(i));
}

void KAVU_STATS::tally_multiply_destinations(CDB_SGATE_NODE* op) {
  KAVU_CHECK(kavu_is_a_op(op) && op->cast_to_operator()->get_type() == 1);
  const CDB_SGATE_OPER_PORT_ENTRY* e = op->cast_to_operator()->get_port(CDB_OPER_PORT_TYPE(3));
  for (unsigned i = 0; e && i < e->get_width(); ++i) tally_destination(type_of(op), e->get_oterm(i));
}

void KAVU_STATS::describe_iterm_source(std::string& out, CDB_SGATE_ITERM* iterm) {
  if (!iterm)
    out = "NULL";
  else if (!cdb_is_connected(iterm))
    out = "NC";
  else if (iterm->is_vcc())
    out = "VCC";
  else if (iterm->is_gnd())
    out = "GND";
  else
    out = iterm->get_source() ? type_of(iterm->get_source()->get_my_node()) : "NC";
}

void KAVU_STATS::tally_adder_neighbors(CDB_SGATE_NODE* op) {
  KAVU_CHECK(kavu_is_a_op(op) && op->cast_to_operator()->get_type() == 0);
  tally_adder_sources(op, 1);
  tally_adder_sources(op, 2);
  tally_adder_destinations(op);
  CDB_SGATE_OPERATOR* o = op->cast_to_operator();
  const unsigned w1 = o->get_width(CDB_OPER_PORT_TYPE(1));
  if (w1 != o->get_width(CDB_OPER_PORT_TYPE(2)) || w1 != o->get_width(CDB_OPER_PORT_TYPE(3))) return;
  const char* T = type_of(op);
  std::string a, b;
  for (unsigned i = 0; i < w1; ++i) {
    tally_string(format("%s | slice", T));
    describe_iterm_source(a, o->get_iterm(CDB_OPER_PORT_TYPE(1), i));
    describe_iterm_source(b, o->get_iterm(CDB_OPER_PORT_TYPE(2), i));
    CDB_SGATE_OTERM* r = o->get_port(CDB_OPER_PORT_TYPE(3))->get_oterm(i);
    if (!r)
      tally_string(format("%s | slice | %s+%s=NULL", T, a.c_str(), b.c_str()));
    else if (!r->has_fanout())
      tally_string(format("%s | slice | %s+%s=no fanout", T, a.c_str(), b.c_str()));
    else if (r->get_number_of_fanout() < 2)
      tally_string(format("%s | slice | %s+%s=%s (fo=1)", T, a.c_str(), b.c_str(),
                          type_of(r->get_first_fanout()->get_my_node())));
    else
      tally_string(format("%s | slice | %s+%s=multiple fanout", T, a.c_str(), b.c_str()));
  }
}

void KAVU_STATS::tally_profile(const std::string& head, PROFILE& profile) {
  std::string s = head;
  for (const auto& [text, count] : profile) s += text + " " + format("%d , ", count);
  tally_string(s);
  profile.clear();
}

void KAVU_STATS::tally_multiply_neighbors(CDB_SGATE_NODE* op) {
  KAVU_CHECK(kavu_is_a_op(op) && op->cast_to_operator()->get_type() == 1);
  tally_multiply_sources(op, 1);
  tally_multiply_sources(op, 2);
  tally_multiply_destinations(op);
  CDB_SGATE_OPERATOR* o = op->cast_to_operator();
  const char* T = type_of(op);
  PROFILE profile(nocase_string_less);
  std::string text;
  for (int port : {1, 2}) {
    const CDB_SGATE_OPER_PORT_ENTRY* e = o->get_port(CDB_OPER_PORT_TYPE(port));
    for (unsigned i = 0; e && i < e->get_width(); ++i) {
      describe_iterm_source(text, e->get_iterm(i));
      ++profile[text];
    }
    tally_profile(format(port == 1 ? "%s | port_a_fanin: " : "%s | port_b_fanin: ", T), profile);
  }
  const CDB_SGATE_OPER_PORT_ENTRY* e = o->get_port(CDB_OPER_PORT_TYPE(3));
  for (unsigned i = 0; e && i < e->get_width(); ++i) {
    CDB_SGATE_OTERM* r = e->get_oterm(i);
    text = !r                                ? "NULL"
           : !r->has_fanout()                ? "no_fanout"
           : r->get_number_of_fanout() < 2   ? type_of(r->get_first_fanout()->get_my_node())
                                             : "multiple_fanout";
    ++profile[text];
  }
  tally_profile(format("%s | port_out_fanout: ", T), profile);
}

// ---- MAC atoms ----
// Multiplier and output atoms of a split MAC block: the register, bypass,
// rounding and saturation facts come from the atom (cut/cut_mac_split.h);
// a feature counts as used only when its port is also fed by something but
// GND. Widths are the placed terminals of a port.

namespace {

const unsigned k_mac_out_modes[] = {CDB_WYSIWYG_MAC_OUT_MODE_ACCUM,         CDB_WYSIWYG_MAC_OUT_MODE_MULT_36_BIT,
                                    CDB_WYSIWYG_MAC_OUT_MODE_OUT_ONLY,      CDB_WYSIWYG_MAC_OUT_MODE_ONE_LEVEL_ADD,
                                    CDB_WYSIWYG_MAC_OUT_MODE_TWO_LEVEL_ADD, CDB_WYSIWYG_MAC_OUT_MODE_DYNAMIC};
const char* const k_mac_out_mode_names[] = {"accum", "36_bit_mult", "out_only", "one_level_add", "two_level_add",
                                            "dynamic"};

unsigned port_width(const CDB_SGATE_WYSIWYG* w, bool input, unsigned port) {
  unsigned n = 0;
  while (input ? w->get_iterm_by_type(DB_INPUT_PORT_TYPE(port), n) != nullptr
               : w->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(port), n) != nullptr)
    ++n;
  return n;
}

bool used_not_gnd(const CDB_SGATE_WYSIWYG* w, unsigned port) {
  CDB_SGATE_ITERM* t = w->get_iterm_by_type(DB_INPUT_PORT_TYPE(port), 0);
  return connected(t) && !t->is_gnd();
}

}  // namespace

void KAVU_STATS::tally_macs(CDB_SGATE_NODE* mac) {
  KAVU_CHECK(mac->is_wysiwyg());
  const bool stats = cfg_is_on("kavu_give_stats_on_macs", false);
  const bool connectivity = cfg_is_on("kavu_give_connectivity_stats_on_macs", false);
  tally_unknown_sgate(mac);
  if (!stats) return;
  const CDB_SGATE_WYSIWYG* w = mac->cast_to_wysiwyg();
  const char* T = type_of(mac);
  if (mac->get_sgate_type() == CDB_SGATE_WYSIWYG_MAC_MULT_ENUM) {
    if (CUT_MAC_SPLIT_UTIL::is_bypass_multiplier(w)) {
      tally_string("bypass_mult");
    } else {
      CDB_SGATE_OTERM* scan_out = w->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(223), 0);
      tally_string(format("%s | %ux%u => %u , ina_reg %d , inb_reg %d , out_reg %d , scan_in_a %d , scan_in_b %d , "
                          "scan_out %d , rounding %d , sat %d ",
                          T, port_width(w, true, 12), port_width(w, true, 13), port_width(w, false, 3),
                          int(CUT_MAC_SPLIT_UTIL::is_input_port_registered(w, 12)),
                          int(CUT_MAC_SPLIT_UTIL::is_input_port_registered(w, 13)),
                          int(CUT_MAC_SPLIT_UTIL::is_output_port_registered(w, 3)),
                          int(connected(w->get_iterm_by_type(DB_INPUT_PORT_TYPE(275), 0))),
                          int(connected(w->get_iterm_by_type(DB_INPUT_PORT_TYPE(276), 0))),
                          int(oterm_has_fanout(scan_out)),
                          int(CUT_MAC_SPLIT_UTIL::is_using_rounding(w) && used_not_gnd(w, 285)),
                          int(CUT_MAC_SPLIT_UTIL::is_using_saturation(w) && used_not_gnd(w, 291))));
    }
  } else {
    int mode = -1;
    for (int i = 0; i < 6 && mode < 0; ++i)
      if (w->mode_is_set(k_mac_out_modes[i])) mode = i;
    if (mode < 0) {
      // Print and go on: a debug report does not stop on an unknown mode.
      kavu_debug("Node %s has an unknown mode and is supposed to be a MAC_OUT", mac->get_string_hpath().c_str());
    }
    const bool adder = mode == 0 || mode == 3 || mode == 4;
    const bool rounding = adder && CUT_MAC_SPLIT_UTIL::is_using_rounding(w);
    const bool saturation = adder && CUT_MAC_SPLIT_UTIL::is_using_saturation(w);
    CDB_SGATE_ITERM* zero = w->get_iterm_by_type(DB_INPUT_PORT_TYPE(279), 0);
    tally_string(format("%s | mode %s , out_reg %d , out_port_width %u , zero_acc %d , round0 %d , round1 %d , sat %d",
                        T, mode < 0 ? "unknown" : k_mac_out_mode_names[mode],
                        int(CUT_MAC_SPLIT_UTIL::is_output_port_registered(w, 3)), port_width(w, false, 3),
                        int(mode == 0 && connected(zero) && zero->is_vcc()), int(rounding && used_not_gnd(w, 286)),
                        int(rounding && used_not_gnd(w, 287)), int(saturation && used_not_gnd(w, 291))));
  }
  if (connectivity) tally_mac_neighbors(mac);
}

void KAVU_STATS::tally_mac_neighbors(CDB_SGATE_NODE* mac) {
  KAVU_CHECK(mac && mac->is_wysiwyg());
  if (mac->get_sgate_type() == CDB_SGATE_WYSIWYG_MAC_MULT_ENUM) {
    tally_mac_mult_sources(mac, 12);
    tally_mac_mult_sources(mac, 13);
  } else {
    tally_mac_out_destinations(mac);
  }
}

void KAVU_STATS::tally_mac_mult_sources(CDB_SGATE_NODE* mac_mult, int port) {
  KAVU_CHECK(mac_mult);
  const CDB_SGATE_WYSIWYG* w = mac_mult->cast_to_wysiwyg();
  const char* T = type_of(mac_mult);
  const unsigned width = port_width(w, true, unsigned(port));
  PROFILE profile(nocase_string_less);
  std::string text;
  for (unsigned i = 0; i < width; ++i) {
    CDB_SGATE_ITERM* t = w->get_iterm_by_type(DB_INPUT_PORT_TYPE(port), i);
    tally_source(T, t);
    CDB_SGATE_OTERM* src = connected(t) ? t->get_source() : nullptr;
    if (src && src->get_number_of_fanout() > 1) {
      int other = 0, same = 0;
      for (CDB_SGATE_ITERM* r : src->fanouts()) {
        if (r == t || r->get_my_node()->get_sgate_type() != CDB_SGATE_WYSIWYG_MAC_MULT_ENUM) continue;
        (r->get_my_node() == mac_mult ? same : other) += 1;
      }
      if (other > 0) tally_string(format("%s | iterm shares source with %d _other_ mac_mult iterm(s)", T, other));
      if (same > 0) tally_string(format("%s | iterm shares source with %d iterm(s) from the _same_ mac_mult", T, same));
    }
    describe_iterm_source(text, t);
    ++profile[text];
  }
  tally_profile(format(port == 12 ? "%s | port_a_fanin: " : "%s | port_b_fanin: ", T), profile);
}

void KAVU_STATS::tally_mac_out_destinations(CDB_SGATE_NODE* mac_out) {
  KAVU_CHECK(mac_out);
  const CDB_SGATE_WYSIWYG* w = mac_out->cast_to_wysiwyg();
  const char* T = type_of(mac_out);
  PROFILE profile(nocase_string_less);
  const unsigned width = port_width(w, false, 3);
  for (unsigned i = 0; i < width; ++i) {
    CDB_SGATE_OTERM* o = w->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(3), i);
    tally_destination(T, o);
    std::string text = !o                             ? "NULL"
                       : !o->has_fanout()             ? "no_fanout"
                       : o->get_number_of_fanout() > 1 ? "multiple_fanout"
                                                      : type_of(o->get_first_fanout()->get_my_node());
    CDB_SGATE_NODE* f = o && o->get_number_of_fanout() == 1 ? o->get_first_fanout()->get_my_node() : nullptr;
    const CDB_SGATE_WYSIWYG* fw = f && f->is_wysiwyg() ? f->cast_to_wysiwyg() : nullptr;
    if (fw && w->mode_is_set(CDB_WYSIWYG_MAC_OUT_MODE_OUT_ONLY) &&
        (fw->get_wysiwyg_type() == 61 || fw->get_wysiwyg_type() == 93)) {
      auto used = [&](int port) { return oterm_has_fanout(fw->get_oterm_by_type(DB_OUTPUT_PORT_TYPE(port), 0)); };
      text = format("%s with : ->%s%s%s%s", type_of(f), used(9) ? "COMB " : "", used(0) ? "COUT " : "",
                    used(8) ? "SUM " : "", used(252) ? "SHARE " : "");
    }
    ++profile[text];
  }
  tally_profile(format("%s | port_out_fanout: ", T), profile);
}

// ---- dumps ----

void KAVU_STATS::dump_tally(unsigned long long node_count, const char* prefix, int depth) {
  kavu_debug("%s**************************************", prefix);
  kavu_debug("%sThere are %llu sgates on the netlist.", prefix, node_count);
  m_last_tally.clear();
  for (unsigned i = 0; i < m_last_description; ++i) m_last_tally.emplace_back(m_string[i], m_tally[i]);
  for (unsigned i = 0; i < m_last_description; ++i) m_string[i] += format(" : %u", m_tally[i]);
  std::sort(m_string.begin(), m_string.end());
  if (cfg_is_on("rtl_net_stats_parsable", false) || cfg_is_on("kavu_net_stats_parsable", false))
    dump_parsable_tally(prefix);
  else
    dump_readable_tally(prefix, depth);
  kavu_debug("%s**************************************", prefix);
}

void KAVU_STATS::dump_readable_tally(const char* prefix, int depth) {
  for (const std::string& s : m_string) {
    const int level = count_tabs(s.c_str()) + 1;
    if (depth != -1 && level > depth) continue;
    const size_t bar = s.rfind('|');
    const std::string tail = bar == std::string::npos ? s : s.substr(bar + 1);
    kavu_debug("%s%s%s", prefix, std::string(size_t(4 * level), ' ').c_str(), tail.c_str());
  }
}

void KAVU_STATS::dump_parsable_tally(const char* prefix) {
  for (const std::string& s : m_string) kavu_debug("%s %s", prefix, s.c_str());
}

void KAVU_STATS::report_on_netlist(CDB_SGATE_NETLIST* netlist, int depth, const std::string& title, bool many) {
  clear_tally();
  if (kavu_less_debug_messages()) return;
  const std::time_t start = std::time(nullptr);
  const int partition = netlist->is_partition_netlist() ? netlist->get_number() : -1;
  const std::string prefix = partition == -1
                                 ? format("STATS_%d_%s :", s_report_counter, title.c_str())
                                 : format("STATS_%d_%d_%s :", partition, s_report_counter, title.c_str());
  ++s_report_counter;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it) tally_node(*it);
  dump_tally(netlist->size(), prefix.c_str(), depth);
  if (cfg_is_on("kavu_netlist_estimate", false)) {
    KAVU_DESIGN_FLAGS flags;
    flags.analyze_netlist(netlist, prefix.c_str());
  }
  if (depth == -1 && !cfg_is_on("kavu_stats_no_delay", false))
    kavu_dump_delay_info(netlist, prefix, many, false, false, nullptr, nullptr);
  if (!cfg_is_on("kavu_stats_no_wire", false)) dump_wire_stats(netlist, prefix);
  if (m_reg_connex_stats && cfg_is_on("smt_dump_netlist_for_connex_stats", false))
    dump_netlist_for_connex_stats(netlist);
  if (m_fanout_stats && strcasecmp(title.c_str(), "STD_ENTRY") == 0)
    kavu_stat_each_type_sgate_oterm_fanout(netlist, "txt");
  if (many && cfg_is_on("kavu_stats_many", false)) dump_many_stats(netlist, prefix);
  if (cfg_is_on("kavu_dump_reg_secondaries", false)) dump_register_secondaries(netlist, prefix);
  if (cfg_is_on("kavu_dump_secondary_stats", false)) dump_secondary_signal_widths(netlist, prefix);
  const long long spent = (long long)(std::time(nullptr) - start);
  if (spent > 0) kavu_debug("%s Time spent is %lld seconds", prefix.c_str(), spent);
}

void KAVU_STATS::report_on_node_vec(std::vector<CDB_SGATE_NODE*>* nodes, const std::string& title) {
  clear_tally();
  if (kavu_less_debug_messages()) return;
  const std::string prefix = format("STATS_NODE_VEC_%s :", title.c_str());
  for (CDB_SGATE_NODE* g : *nodes) tally_node(g);
  dump_tally(nodes->size(), prefix.c_str(), 2);
}
