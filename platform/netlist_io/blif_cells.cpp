// blif_cells.cpp — the built-in .subckt cells (see blif_cells.h).
//
// A cell is decoded completely (name, polarity letters, pins, parameters)
// before its first gate is made, so a malformed cell builds nothing.
// Register cells map onto the plain register's fixed inputs:
//   C → CLK, D → DATA, E → ENA, asynchronous R → ACLR (reset to 0) or PRESET
//   (reset to 1), $_DFFSR_ S → PRESET and R → ACLR (clear dominates, as in
//   yosys), synchronous R → SCLR (to 0) or SLOAD with ADATA tied to VCC (to 1).
// Cost: O(pins) per cell.
#include <cstring>

#include "cdb/cdb_sgate.h"
#include "hdb/hdb.h"
#include "netlist_io/blif_cells.h"

namespace kavu_platform {

const char* const BLIF_DFF_FULL_PINS[CDB_DFF_NUM_PORTS] = {"DATA", "CLK",   "ACLR", "PRESET", "ENA",
                                                           "ADATA", "ALOAD", "SCLR", "SLOAD"};

namespace {

using PAIRS = std::vector<std::pair<std::string_view, std::string_view>>;

// Up to eight named pins of a cell, bound from the formal=actual list.
struct PIN_BINDING {
  static constexpr int MAX = 10;
  const char* m_names[MAX] = {};
  std::string_view m_actual[MAX];
  bool m_bound[MAX] = {};
  int m_count = 0;

  int add(const char* name) {
    m_names[m_count] = name;
    return m_count++;
  }
  bool bind(const PAIRS& pins, std::string_view model, std::string* problem) {
    for (const auto& [formal, actual] : pins) {
      int k = 0;
      while (k < m_count && formal != m_names[k]) ++k;
      if (k == m_count) {
        *problem = "cell " + std::string(model) + " has no pin " + std::string(formal);
        return false;
      }
      if (m_bound[k]) {
        *problem = "pin " + std::string(formal) + " of " + std::string(model) + " bound twice";
        return false;
      }
      m_bound[k] = true;
      m_actual[k] = actual;
    }
    return true;
  }
  bool require(int k, std::string_view model, std::string* problem) const {
    if (m_bound[k]) return true;
    *problem = "cell " + std::string(model) + " lacks pin " + m_names[k];
    return false;
  }
};

struct COMB_CELL {
  const char* m_name;
  CDB_COMB_TYPE m_type;
  int m_inputs;  // 1 or 2
  bool m_inv_a, m_inv_b;
};

// NAND and NOR are written by De Morgan with inverted inputs, so the reader
// never sets an output inversion.
const COMB_CELL k_comb_cells[] = {
    {"$_BUF_", CDB_COMB_AND, 1, false, false},   {"$_NOT_", CDB_COMB_NOT, 1, false, false},
    {"$_AND_", CDB_COMB_AND, 2, false, false},   {"$_NAND_", CDB_COMB_OR, 2, true, true},
    {"$_OR_", CDB_COMB_OR, 2, false, false},     {"$_NOR_", CDB_COMB_AND, 2, true, true},
    {"$_XOR_", CDB_COMB_XOR, 2, false, false},   {"$_XNOR_", CDB_COMB_XOR, 2, false, true},
    {"$_ANDNOT_", CDB_COMB_AND, 2, false, true}, {"$_ORNOT_", CDB_COMB_OR, 2, false, true},
};

BLIF_CELL_STATUS build_comb(const COMB_CELL& c, BLIF_SUBCKT_BUILDER& cell, std::string* problem) {
  PIN_BINDING b;
  int a = b.add("A"), bb = c.m_inputs > 1 ? b.add("B") : -1, y = b.add("Y");
  if (!b.bind(cell.pins(), c.m_name, problem) || !b.require(a, c.m_name, problem) ||
      (bb >= 0 && !b.require(bb, c.m_name, problem)) || !b.require(y, c.m_name, problem))
    return BLIF_CELL_MALFORMED;
  auto* g = new CDB_SGATE_COMB(nullptr, c.m_type);
  cell.add_gate(g);
  CDB_SGATE_ITERM* ta = g->create_input_term(nullptr);
  g->insert_unordered_fanin_term(ta);
  if (c.m_inv_a) ta->set_invert();
  cell.read_signal(ta, b.m_actual[a]);
  if (bb >= 0) {
    CDB_SGATE_ITERM* tb = g->create_input_term(nullptr);
    g->insert_unordered_fanin_term(tb);
    if (c.m_inv_b) tb->set_invert();
    cell.read_signal(tb, b.m_actual[bb]);
  }
  cell.drive_signal(g->get_single_oterm(), b.m_actual[y]);
  return BLIF_CELL_BUILT;
}

// Y = S ? B : A
BLIF_CELL_STATUS build_mux(std::string_view model, BLIF_SUBCKT_BUILDER& cell, std::string* problem) {
  PIN_BINDING b;
  int a = b.add("A"), bb = b.add("B"), s = b.add("S"), y = b.add("Y");
  if (!b.bind(cell.pins(), model, problem)) return BLIF_CELL_MALFORMED;
  for (int k : {a, bb, s, y})
    if (!b.require(k, model, problem)) return BLIF_CELL_MALFORMED;
  auto* g = new CDB_SGATE_MUX(nullptr);
  cell.add_gate(g);
  cell.read_signal(blif_cell_input(g, CDB_MUX_DATA0, DB_MAX_INPUT_PORT_TYPE), b.m_actual[a]);
  cell.read_signal(blif_cell_input(g, CDB_MUX_DATA1, DB_MAX_INPUT_PORT_TYPE), b.m_actual[bb]);
  cell.read_signal(blif_cell_input(g, CDB_MUX_SELECT, DB_MAX_INPUT_PORT_TYPE), b.m_actual[s]);
  cell.drive_signal(g->get_single_oterm(), b.m_actual[y]);
  return BLIF_CELL_BUILT;
}

// The register and latch family, decoded from the name's polarity letters.
struct REG_CELL {
  bool m_latch = false;
  char m_clk = 0;        // 'P' / 'N'; 0 for latches
  char m_en = 0;         // enable polarity, 0 without enable
  char m_arst = 0;       // asynchronous reset polarity (pin R)
  int m_arst_value = 0;
  char m_srst = 0;       // synchronous reset polarity (pin R)
  int m_srst_value = 0;
  bool m_srst_over_en = false;
  char m_set = 0;        // $_DFFSR_: set (pin S) and clear (pin R) polarities
  char m_clr = 0;
};

bool pol(char c) { return c == 'P' || c == 'N'; }
bool val(char c) { return c == '0' || c == '1'; }

// "$_<FAMILY>_<CODE>_" → the cell's controls; false when not a register cell.
bool decode_reg(std::string_view model, REG_CELL* r) {
  if (model.size() < 5 || model.substr(0, 2) != "$_" || model.back() != '_') return false;
  std::string_view inner = model.substr(2, model.size() - 3);
  size_t us = inner.find('_');
  if (us == std::string_view::npos) return false;
  std::string_view fam = inner.substr(0, us), code = inner.substr(us + 1);
  size_t n = code.size();
  for (size_t i = 0; i < n; ++i)
    if (!pol(code[i]) && !val(code[i])) return false;
  auto p = [&](size_t i) { return i < n && pol(code[i]); };
  auto v = [&](size_t i) { return i < n && val(code[i]); };
  if (fam == "DFF" && n == 1 && p(0)) {
    r->m_clk = code[0];
  } else if (fam == "DFF" && n == 3 && p(0) && p(1) && v(2)) {
    r->m_clk = code[0], r->m_arst = code[1], r->m_arst_value = code[2] - '0';
  } else if (fam == "DFFE" && n == 2 && p(0) && p(1)) {
    r->m_clk = code[0], r->m_en = code[1];
  } else if (fam == "DFFE" && n == 4 && p(0) && p(1) && v(2) && p(3)) {
    r->m_clk = code[0], r->m_arst = code[1], r->m_arst_value = code[2] - '0', r->m_en = code[3];
  } else if (fam == "SDFF" && n == 3 && p(0) && p(1) && v(2)) {
    r->m_clk = code[0], r->m_srst = code[1], r->m_srst_value = code[2] - '0';
  } else if ((fam == "SDFFE" || fam == "SDFFCE") && n == 4 && p(0) && p(1) && v(2) && p(3)) {
    r->m_clk = code[0], r->m_srst = code[1], r->m_srst_value = code[2] - '0', r->m_en = code[3];
    r->m_srst_over_en = fam == "SDFFE";
  } else if (fam == "DFFSR" && n == 3 && p(0) && p(1) && p(2)) {
    r->m_clk = code[0], r->m_set = code[1], r->m_clr = code[2];
  } else if (fam == "DFFSRE" && n == 4 && p(0) && p(1) && p(2) && p(3)) {
    r->m_clk = code[0], r->m_set = code[1], r->m_clr = code[2], r->m_en = code[3];
  } else if (fam == "DLATCH" && n == 1 && p(0)) {
    r->m_latch = true, r->m_en = code[0];
  } else if (fam == "DLATCH" && n == 3 && p(0) && p(1) && v(2)) {
    r->m_latch = true, r->m_en = code[0], r->m_arst = code[1], r->m_arst_value = code[2] - '0';
  } else {
    return false;
  }
  return true;
}

void read_pin(BLIF_SUBCKT_BUILDER& cell, CDB_SGATE_ITERM* t, std::string_view actual, char polarity) {
  if (polarity == 'N') t->set_invert();
  cell.read_signal(t, actual);
}

BLIF_CELL_STATUS build_reg(std::string_view model, const REG_CELL& r, BLIF_SUBCKT_BUILDER& cell,
                           std::string* problem) {
  PIN_BINDING b;
  int c = r.m_latch ? -1 : b.add("C");
  int d = b.add("D"), q = b.add("Q");
  int e = r.m_en ? b.add("E") : -1;
  int rr = (r.m_arst || r.m_srst || r.m_clr) ? b.add("R") : -1;
  int s = r.m_set ? b.add("S") : -1;
  if (!b.bind(cell.pins(), model, problem)) return BLIF_CELL_MALFORMED;
  for (int k : {c, d, q, e, rr, s})
    if (k >= 0 && !b.require(k, model, problem)) return BLIF_CELL_MALFORMED;
  if (r.m_latch) {
    auto* latch = new CDB_SGATE_LATCH(nullptr);
    cell.add_gate(latch);
    read_pin(cell, blif_cell_input(latch, CDB_LATCH_D, DB_MAX_INPUT_PORT_TYPE), b.m_actual[d], 'P');
    read_pin(cell, blif_cell_input(latch, CDB_LATCH_EN, DB_MAX_INPUT_PORT_TYPE), b.m_actual[e], r.m_en);
    if (r.m_arst)
      read_pin(cell, blif_cell_input(latch, r.m_arst_value ? CDB_LATCH_PRE : CDB_LATCH_CLR, DB_MAX_INPUT_PORT_TYPE),
               b.m_actual[rr], r.m_arst);
    cell.drive_signal(latch->get_single_oterm(), b.m_actual[q]);
    return BLIF_CELL_BUILT;
  }
  auto* reg = new CDB_SGATE_DFF(nullptr);
  cell.add_gate(reg);
  reg->create_all_inputs();
  read_pin(cell, reg->get_input_term(CDB_DFF_DATA), b.m_actual[d], 'P');
  read_pin(cell, reg->get_input_term(CDB_DFF_CLK), b.m_actual[c], r.m_clk);
  if (r.m_arst)
    read_pin(cell, reg->get_input_term(r.m_arst_value ? CDB_DFF_PRESET : CDB_DFF_ACLR), b.m_actual[rr], r.m_arst);
  if (r.m_set) {
    read_pin(cell, reg->get_input_term(CDB_DFF_PRESET), b.m_actual[s], r.m_set);
    read_pin(cell, reg->get_input_term(CDB_DFF_ACLR), b.m_actual[rr], r.m_clr);
  }
  if (r.m_srst) {
    if (r.m_srst_value == 0) {
      read_pin(cell, reg->get_input_term(CDB_DFF_SCLR), b.m_actual[rr], r.m_srst);
    } else {
      read_pin(cell, reg->get_input_term(CDB_DFF_SLOAD), b.m_actual[rr], r.m_srst);
      reg->get_input_term(CDB_DFF_ADATA)->set_vcc();
    }
    reg->set_sclr_over_ena_priority(r.m_srst_over_en);
  }
  if (r.m_en && r.m_srst_over_en && r.m_srst_value == 1) {
    // The register's load acts only while enabled; enable = E or R keeps
    // "reset over enable" for a reset to 1.
    auto* either = new CDB_SGATE_COMB(nullptr, CDB_COMB_OR);
    cell.add_gate(either);
    CDB_SGATE_ITERM* te = either->create_input_term(nullptr);
    either->insert_unordered_fanin_term(te);
    read_pin(cell, te, b.m_actual[e], r.m_en);
    CDB_SGATE_ITERM* tr = either->create_input_term(nullptr);
    either->insert_unordered_fanin_term(tr);
    read_pin(cell, tr, b.m_actual[rr], r.m_srst);
    either->get_single_oterm()->insert_fanout(reg->get_input_term(CDB_DFF_ENA));
  } else if (r.m_en) {
    read_pin(cell, reg->get_input_term(CDB_DFF_ENA), b.m_actual[e], r.m_en);
  }
  cell.drive_signal(reg->get_single_oterm(), b.m_actual[q]);
  return BLIF_CELL_BUILT;
}

// $dff_full: the nine register inputs by name, Q, and the parameters INIT
// (0, 1, 2, 3 as on .latch) and SCLR_OVER_ENA (0 or 1).
BLIF_CELL_STATUS build_dff_full(BLIF_SUBCKT_BUILDER& cell, std::string* problem) {
  PIN_BINDING b;
  for (const char* name : BLIF_DFF_FULL_PINS) b.add(name);
  int q = b.add("Q");
  if (!b.bind(cell.pins(), "$dff_full", problem) || !b.require(q, "$dff_full", problem))
    return BLIF_CELL_MALFORMED;
  int init = 3;
  bool sclr_over_ena = false;
  for (const auto& [name, value] : cell.params()) {
    bool digit = value.size() == 1 && value[0] >= '0' && value[0] <= '3';
    if (name == "INIT" && digit) {
      init = value[0] - '0';
    } else if (name == "SCLR_OVER_ENA" && digit && value[0] <= '1') {
      sclr_over_ena = value[0] == '1';
    } else {
      *problem = "bad parameter " + std::string(name) + " " + std::string(value) + " of $dff_full";
      return BLIF_CELL_MALFORMED;
    }
  }
  auto* reg = new CDB_SGATE_DFF(nullptr);
  cell.add_gate(reg);
  reg->create_all_inputs();
  for (int k = 0; k < CDB_DFF_NUM_PORTS; ++k)
    if (b.m_bound[k]) cell.read_signal(reg->get_input_term(unsigned(k)), b.m_actual[k]);
  blif_set_power_up(reg, init);
  if (sclr_over_ena) reg->set_sclr_over_ena_priority(true);
  cell.drive_signal(reg->get_single_oterm(), b.m_actual[q]);
  return BLIF_CELL_BUILT;
}

}  // namespace

CDB_SGATE_ITERM* blif_cell_input(CDB_SGATE_NODE* gate, unsigned pos, DB_INPUT_PORT_TYPE type) {
  CDB_SGATE_ITERM* t = gate->get_input_term(pos);
  if (!t) {
    t = gate->create_input_term(nullptr, type);
    gate->set_input_term(t, pos);
  }
  return t;
}

void blif_set_power_up(CDB_REG_FLAGS* reg, int init) {
  if (init > 2) return;
  reg->set_has_power_up_setting(true);
  reg->set_power_up_high(init == 1);
  reg->set_power_up_dc(init == 2);
}

int blif_get_power_up(const CDB_REG_FLAGS* reg) {
  if (reg->powers_up_high()) return 1;
  if (reg->is_power_up_dc()) return 2;
  return reg->has_power_up_setting() ? 0 : 3;
}

namespace {

const char* cell_gate_text(CDB_SGATE_NODE* g) {
  if (CDB_SGATE_COMB* c = g->cast_to_comb()) {
    switch (c->get_comb_type()) {
      case CDB_COMB_AND: return "and";
      case CDB_COMB_OR: return "or";
      case CDB_COMB_XOR: return "xor";
      case CDB_COMB_NOT: return "not";
      default: break;
    }
  }
  return "gate";
}

// The named gate that a gate without a signal feeds inside its cell. Such a
// gate's output reaches no signal, so its readers are gates of its own cell,
// and the cell's chain (cube, sum, inverter, driver) ends at a named gate.
HDB_INSTANCE_NAME* cell_name(CDB_SGATE_NODE* g) {
  for (int step = 0; step < 8 && g; ++step) {
    if (g->get_instance_name()) return g->get_instance_name();
    CDB_SGATE_OTERM* o = g->get_single_oterm();
    CDB_SGATE_ITERM* reader = o ? o->get_first_fanout() : nullptr;
    g = reader ? reader->get_my_node() : nullptr;
  }
  return nullptr;
}

}  // namespace

void blif_name_cell_gates(CDB_SGATE_NETLIST* netlist, HDB_INSTANCE_NAME* top) {
  for (CDB_SGATE_NODE* g : netlist->get_node_list()) {
    if (!g || g->get_instance_name()) continue;
    HDB_INSTANCE_NAME* base = cell_name(g);
    HDB_INSTANCE_NAME* name = HDB_INSTANCE_NAME::create_synthesized_name(base ? base : top, cell_gate_text(g), true);
    g->set_instance_name(name);
    if (CDB_SGATE_OTERM* o = g->get_single_oterm(); o && !o->get_instance_name()) o->set_instance_name(name);
  }
}

BLIF_CELL_STATUS blif_build_generic_cell(std::string_view model, BLIF_SUBCKT_BUILDER& cell,
                                         std::string* problem) {
  if (model.size() < 2 || model[0] != '$') return BLIF_CELL_UNKNOWN;
  for (const COMB_CELL& c : k_comb_cells)
    if (model == c.m_name) return build_comb(c, cell, problem);
  if (model == "$_MUX_" || model == "$mux2") return build_mux(model, cell, problem);
  if (model == "$dff_full") return build_dff_full(cell, problem);
  REG_CELL r;
  if (decode_reg(model, &r)) return build_reg(model, r, cell, problem);
  return BLIF_CELL_UNKNOWN;
}

}  // namespace kavu_platform
