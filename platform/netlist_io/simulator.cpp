// simulator.cpp — NETLIST_SIMULATOR and sim_equivalent (model in simulator.h).
//
// Compilation (once): every gate of the node list gets a dense index and a
//   SIM_GATE record (operation, its inputs as (value slot, xor mask) pairs,
//   its contiguous output slots, a state slot for registers and latches).
//   Slot 0 of the value array is the constant 0, so a tie or an unconnected
//   input is (0, all ones) or (0, 0) and every read is one load and one XOR.
// Levelisation: Tarjan's strongly connected components over the edges
//   "gate reads a combinational input driven by gate" (register inputs other
//   than ACLR, PRESET, ALOAD and ADATA are not combinational), iteratively
//   with an explicit frame stack. Tarjan emits a component after every
//   component it depends on, which is exactly the evaluation order; a
//   component of several gates, or one gate reading itself, is a loop block
//   iterated until nothing changes (at most 64 rounds).
// Cost: compilation O(gates + terminals) plus two pointer hashes per
//   terminal; eval O(terminals) word operations per round (operators: see
//   sim_oper.h).
#include <algorithm>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "netlist_io/netlist_io_int.h"
#include "netlist_io/sim_eval.h"
#include "netlist_io/sim_lcell.h"
#include "netlist_io/sim_oper.h"
#include "netlist_io/simulator.h"
#include "netlist_io/sim_blocks.h"

namespace kavu_platform {

namespace {

enum SIM_OP : uint8_t { OP_INPUT, OP_PASS, OP_COMB, OP_LUT, OP_MUX, OP_CARRY, OP_TRI, OP_DFF, OP_LATCH, OP_LCELL, OP_OPER,
                        OP_BLOCK /* RAM, MAC and LUT-RAM atoms: sim_blocks.h */ };

// Register input order inside a SIM_GATE (plain registers use positions 0..8
// directly; flip-flop atoms are mapped onto them, SCLR2 last).
enum { R_DATA, R_CLK, R_ACLR, R_PRESET, R_ENA, R_ADATA, R_ALOAD, R_SCLR, R_SLOAD, R_SCLR2, R_COUNT };

struct SIM_IN {
  uint32_t m_src;   // value slot (0: the constant zero)
  uint64_t m_xor;   // inversion, constant or inactive value
};

struct SIM_GATE {
  const CDB_SGATE_NODE* m_node;
  uint64_t m_param = 0;   // LUT or cell mask
  uint32_t m_in = 0;      // first SIM_IN
  uint32_t m_out = 0;     // first value slot
  uint32_t m_state = 0;   // state slot (registers and latches)
  uint32_t m_nin = 0;     // a comb gate may read more than 65,535 inputs
  uint16_t m_nout = 0;
  uint8_t m_op = OP_PASS;
  uint8_t m_comb = 0;     // comb type
  bool m_clocked = false;
  bool m_sclr_over_ena = false;
};

uint64_t splitmix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

}  // namespace

class SIM_ENGINE {
 public:
  explicit SIM_ENGINE(const CDB_SGATE_NETLIST* netlist);
  bool ok() const { return m_error.empty(); }
  const std::string& error() const { return m_error; }
  void set_input(const CDB_SGATE_NODE* pin, uint64_t word);
  // The dense index of a pin, for callers that set or read it many times.
  uint32_t pin_index(const CDB_SGATE_NODE* pin) const { return gate_of(pin); }
  void set_input_at(uint32_t gate, uint64_t word) { m_val[m_gates[gate].m_out] = word ^ m_out_xor[m_gates[gate].m_out]; }
  uint64_t output_at(uint32_t gate) const { return in(m_gates[gate], 0); }
  void randomize_inputs(uint64_t seed);
  void reset_state();
  void eval();
  void capture();
  uint64_t value(const CDB_SGATE_OTERM* oterm) const;
  uint64_t output(const CDB_SGATE_NODE* pin) const;

 private:
  bool compile_gate(const CDB_SGATE_NODE* node, SIM_GATE& g);
  void add_input(const CDB_SGATE_ITERM* t, uint64_t inactive, bool* present_out = nullptr);
  bool compile_dff(const CDB_SGATE_NODE* node, SIM_GATE& g);
  bool compile_atom(const CDB_SGATE_WYSIWYG* atom, SIM_GATE& g);
  bool compile_operator(const CDB_SGATE_OPERATOR* op, SIM_GATE& g);
  bool eval_operator(const SIM_GATE& g);
  // Hard blocks (RAM, MAC, LUT RAM): a SIM_BLOCK model each, by m_param.
  bool compile_block(const CDB_SGATE_WYSIWYG* atom, SIM_GATE& g);
  bool eval_block(const SIM_GATE& g);
  void capture_blocks();
  void levelise();
  bool is_comb_edge(const SIM_GATE& g, unsigned k) const;
  bool eval_gate(const SIM_GATE& g);  // true when an output changed
  bool eval_lcell(const SIM_GATE& g);
  uint64_t in(const SIM_GATE& g, unsigned k) const {
    const SIM_IN& i = m_ins[g.m_in + k];
    return m_val[i.m_src] ^ i.m_xor;
  }
  uint32_t gate_of(const CDB_SGATE_NODE* node) const;

  std::vector<SIM_GATE> m_gates;
  std::vector<SIM_IN> m_ins;
  std::vector<uint8_t> m_present;       // per SIM_IN: connected (comb gates skip others)
  std::vector<uint64_t> m_val;          // value slots, after output inversion
  std::vector<uint64_t> m_out_xor;      // per value slot: the terminal's inversion
  std::vector<uint32_t> m_slot_gate;    // per value slot: owning gate
  std::vector<uint64_t> m_state;
  std::vector<uint64_t> m_power_up;
  std::vector<uint64_t> m_next;         // scratch of capture()
  std::vector<uint64_t> m_scratch;      // input words of wide gates
  std::unordered_map<const CDB_SGATE_OTERM*, uint32_t> m_slot_of;
  std::unordered_map<const CDB_SGATE_NODE*, uint32_t> m_gate_of;
  std::vector<uint32_t> m_schedule;     // gates in evaluation order
  struct BLOCK { uint32_t m_begin, m_end; bool m_loop; };
  std::vector<BLOCK> m_blocks;
  std::vector<uint32_t> m_registers;    // gates with a clocked state
  std::vector<SIM_OPER> m_opers;        // operators, by SIM_GATE::m_param
  std::vector<uint64_t> m_oper_out;     // scratch of eval_operator
  std::vector<SIM_BLOCK> m_block_models;             // hard blocks, by SIM_GATE::m_param
  std::vector<std::vector<uint32_t>> m_block_slots;  // their outputs' value slots
  std::vector<uint32_t> m_block_gates;               // gates of the hard blocks
  std::vector<uint64_t> m_block_out;                 // scratch of eval_block
  std::string m_error;
};

SIM_ENGINE::SIM_ENGINE(const CDB_SGATE_NETLIST* netlist) {
  PLAT_CHECK(netlist != nullptr, "PLATFORM");
  m_val.push_back(0);
  m_out_xor.push_back(0);
  m_slot_gate.push_back(UINT32_MAX);
  // Pass 1: a dense index per gate and a value slot per output terminal.
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    SIM_GATE g;
    g.m_node = node;
    g.m_out = uint32_t(m_val.size());
    g.m_nout = uint16_t(node->get_output_count());
    m_gate_of.emplace(node, uint32_t(m_gates.size()));
    for (unsigned k = 0; k < node->get_output_count(); ++k) {
      const CDB_SGATE_OTERM* o = node->get_output_term(k);
      m_val.push_back(0);
      m_out_xor.push_back(o && o->is_inverted() ? SIM_ALL : 0);
      m_slot_gate.push_back(uint32_t(m_gates.size()));
      if (o) m_slot_of.emplace(o, uint32_t(m_val.size() - 1));
    }
    m_gates.push_back(g);
  }
  // Pass 2: inputs and operations.
  for (SIM_GATE& g : m_gates) {
    g.m_in = uint32_t(m_ins.size());
    if (!compile_gate(g.m_node, g)) return;
    g.m_nin = uint32_t(m_ins.size() - g.m_in);
  }
  m_power_up.resize(m_state.size());
  for (const SIM_GATE& g : m_gates) {
    const CDB_REG_FLAGS* flags = g.m_node->get_reg_flags();
    if (g.m_op == OP_DFF && flags && flags->powers_up_high()) m_power_up[g.m_state] = SIM_ALL;
  }
  levelise();
  reset_state();
}

// Appends the SIM_IN of one input terminal. Unconnected: the inactive value.
void SIM_ENGINE::add_input(const CDB_SGATE_ITERM* t, uint64_t inactive, bool* present_out) {
  SIM_IN in{0, inactive};
  bool present = false;
  if (t && t->is_connected()) {
    present = true;
    uint64_t inv = t->is_inverted() ? SIM_ALL : 0;
    if (const CDB_SGATE_OTERM* src = t->get_source()) {
      auto it = m_slot_of.find(src);
      if (it == m_slot_of.end()) {
        if (m_error.empty())
          m_error = "gate " + t->get_my_node()->get_string_hpath() + " reads a terminal outside the netlist";
      } else {
        in = {it->second, inv};
      }
    } else {
      in = {0, t->is_vcc() ? SIM_ALL : 0};
    }
  }
  if (present_out) *present_out = present;
  m_ins.push_back(in);
  m_present.push_back(present ? 1 : 0);
}

bool SIM_ENGINE::compile_gate(const CDB_SGATE_NODE* node, SIM_GATE& g) {
  auto all_inputs = [&](uint64_t inactive) {
    for (unsigned k = 0; k < node->get_number_of_input_terms(); ++k) add_input(node->get_input_term(k), inactive);
  };
  switch (node->get_sgate_type()) {
    case CDB_SGATE_IO_ENUM:
      if (node->is_output()) {
        g.m_op = OP_PASS;
        add_input(node->get_input_term(0), SIM_ALL);
      } else {
        g.m_op = OP_INPUT;  // input and bidirectional pins take their words from set_input
        if (node->is_bidir()) add_input(node->get_input_term(0), SIM_ALL);
      }
      break;
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_STATE_ENUM:
    case CDB_SGATE_BOUNDARY_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
      g.m_op = OP_PASS;
      add_input(node->get_input_term(0), SIM_ALL);
      break;
    case CDB_SGATE_COMB_ENUM:
      g.m_op = OP_COMB;
      g.m_comb = uint8_t(node->cast_to_comb()->get_comb_type());
      all_inputs(SIM_ALL);
      break;
    case CDB_SGATE_TRI_BUS_ENUM:
      g.m_op = OP_TRI;
      all_inputs(SIM_ALL);
      break;
    case CDB_SGATE_LUT_ENUM: {
      const CDB_LUTMASK& mask = node->cast_to_lut()->get_lut_mask();
      g.m_op = OP_LUT;
      g.m_param = mask.get_value();
      g.m_comb = uint8_t(mask.get_num_inputs());
      for (unsigned k = 0; k < mask.get_num_inputs(); ++k) add_input(node->get_input_term(k), SIM_ALL);
      break;
    }
    case CDB_SGATE_MUX_ENUM:
      g.m_op = OP_MUX;
      for (unsigned k = 0; k < CDB_MUX_NUM_PORTS; ++k) add_input(node->get_input_term(k), SIM_ALL);
      break;
    case CDB_SGATE_CARRY_SUM_ENUM:
      g.m_op = OP_CARRY;
      for (unsigned k = 0; k < 2; ++k) add_input(node->get_input_term(k), SIM_ALL);
      break;
    case CDB_SGATE_DFF_ENUM:
      return compile_dff(node, g);
    case CDB_SGATE_LATCH_ENUM: {
      g.m_op = OP_LATCH;
      g.m_state = uint32_t(m_state.size());
      m_state.push_back(0);
      const uint64_t inactive[CDB_LATCH_NUM_PORTS] = {SIM_ALL, SIM_ALL, SIM_ALL, 0, 0};
      for (unsigned k = 0; k < CDB_LATCH_NUM_PORTS; ++k) add_input(node->get_input_term(k), inactive[k]);
      break;
    }
    case CDB_SGATE_OPERATOR_ENUM:
      return compile_operator(node->cast_to_operator(), g);
    default:
      if (node->is_wysiwyg()) return compile_atom(node->cast_to_wysiwyg(), g);
      m_error = "unsupported gate " + node->get_string_hpath() + " (" + node->get_string_type_name() + ")";
      return false;
  }
  return m_error.empty();
}

bool SIM_ENGINE::compile_dff(const CDB_SGATE_NODE* node, SIM_GATE& g) {
  g.m_op = OP_DFF;
  g.m_state = uint32_t(m_state.size());
  m_state.push_back(0);
  const uint64_t inactive[R_COUNT] = {SIM_ALL, 0, 0, 0, SIM_ALL, SIM_ALL, 0, 0, 0, 0};
  for (unsigned k = 0; k < CDB_DFF_NUM_PORTS; ++k) add_input(node->get_input_term(k), inactive[k]);
  add_input(nullptr, 0);  // no SCLR2 on plain registers
  const CDB_SGATE_ITERM* clk = node->get_input_term(CDB_DFF_CLK);
  g.m_clocked = clk && clk->get_source();
  g.m_sclr_over_ena = node->get_reg_flags()->sclr_over_ena_priority();
  if (g.m_clocked) m_registers.push_back(uint32_t(&g - m_gates.data()));
  return m_error.empty();
}

// Flip-flop atoms map their ports onto the register positions; logic cells
// compute COMBOUT from the cell mask over DATAA..DATAF. Any other atom, and a
// logic cell whose other outputs are read, is unsupported.
bool SIM_ENGINE::compile_atom(const CDB_SGATE_WYSIWYG* atom, SIM_GATE& g) {
  if (atom->is_ff()) {
    g.m_op = OP_DFF;
    g.m_state = uint32_t(m_state.size());
    m_state.push_back(0);
    const uint16_t ports[R_COUNT] = {DB_PORT_DATAIN, DB_PORT_CLK,    DB_PORT_ACLR, DB_PORT_PRESET, DB_PORT_ENA,
                                     DB_PORT_ASDATA, DB_PORT_ALOAD,  DB_PORT_SCLR, DB_PORT_SLOAD,  DB_PORT_SCLR2};
    const uint64_t inactive[R_COUNT] = {SIM_ALL, 0, 0, 0, SIM_ALL, SIM_ALL, 0, 0, 0, 0};
    for (unsigned k = 0; k < R_COUNT; ++k) add_input(atom->get_iterm_by_type(ports[k], 0), inactive[k]);
    const CDB_SGATE_ITERM* clk = atom->get_iterm_by_type(DB_PORT_CLK, 0);
    g.m_clocked = clk && clk->get_source();
    g.m_sclr_over_ena = static_cast<const CDB_SGATE_NODE*>(atom)->get_reg_flags()->sclr_over_ena_priority();
    if (g.m_clocked) m_registers.push_back(uint32_t(&g - m_gates.data()));
    return m_error.empty();
  }
  if (atom->is_lcell_comb() || atom->is_logic_module()) {
    // Every output the cell rule defines is computed; an output it does not
    // define may exist but must not be read.
    const SIM_LCELL rule = sim_lcell_of(atom);
    for (unsigned k = 0; k < atom->get_output_count(); ++k) {
      const CDB_SGATE_OTERM* o = atom->get_output_term(k);
      uint16_t port = 0;
      uint64_t probe[LC_COUNT] = {};
      if (!o || !o->has_fanout()) continue;
      if (!atom->get_catalogue_entry().output_port_of_slot(k, &port, nullptr) ||
          !sim_lcell_output(rule, port, probe, &probe[0])) {
        m_error = "unsupported output " + std::to_string(o->get_port_type()) + " of logic cell " +
                  atom->get_string_hpath();
        return false;
      }
    }
    g.m_op = OP_LCELL;
    g.m_param = rule.m_mask;
    g.m_comb = uint8_t((rule.m_quellin ? 1 : 0) | (rule.m_extended ? 2 : 0) | (rule.m_shared_arith ? 4 : 0));
    for (unsigned k = 0; k < LC_COUNT; ++k) add_input(atom->get_iterm_by_type(sim_lcell_port(k), 0), sim_lcell_inactive(k));
    return m_error.empty();
  }
  if (atom->is_mac() || atom->is_ram() || atom->is_lutram()) return compile_block(atom, g);
  m_error = "unsupported atom " + atom->get_string_hpath() + " (type " + std::to_string(atom->get_wysiwyg_type()) + ")";
  return false;
}

// An operator's inputs are its input ports' bits in SIM_OPER_PORT order; its
// outputs are found by terminal (the port table names them).
bool SIM_ENGINE::compile_operator(const CDB_SGATE_OPERATOR* node, SIM_GATE& g) {
  if (!sim_oper_supported(node->get_type())) {
    m_error = "unsupported operator " + node->get_string_hpath() + " (kind " + std::to_string(node->get_type()) + ")";
    return false;
  }
  SIM_OPER op;
  op.m_type = node->get_type();
  op.m_signed = node->is_signed();
  const CDB_OPER_PORT_TYPE inputs[SOP_COUNT] = {CDB_OPER_PORT_CIN, CDB_OPER_PORT_A, CDB_OPER_PORT_B,
                                                CDB_OPER_PORT_SHIFT, CDB_OPER_PORT_ADD_NOT_SUB};
  for (int k = 0; k < SOP_COUNT; ++k) {
    const CDB_SGATE_OPER_PORT_ENTRY* port = node->get_port(inputs[k]);
    if (!port) continue;
    op.m_has[k] = true;
    op.m_width[k] = port->get_width();
    op.m_first[k] = uint32_t(m_ins.size()) - g.m_in;
    for (unsigned i = 0; i < port->get_width(); ++i) {
      const CDB_SGATE_ITERM* t = port->get_iterm(i);
      add_input(t, t ? SIM_ALL : 0);  // an empty bit reads 0, an unconnected terminal 1
    }
  }
  auto slot = [&](const CDB_SGATE_OTERM* o) {
    auto it = o ? m_slot_of.find(o) : m_slot_of.end();
    return it == m_slot_of.end() ? UINT32_MAX : it->second;
  };
  if (const CDB_SGATE_OPER_PORT_ENTRY* out = node->get_port(CDB_OPER_PORT_O))
    for (unsigned i = 0; i < out->get_width(); ++i) op.m_out.push_back(slot(out->get_oterm(i)));
  if (const CDB_SGATE_OPER_PORT_ENTRY* cout = node->get_port(CDB_OPER_PORT_COUT)) op.m_cout = slot(cout->get_oterm(0));
  g.m_op = OP_OPER;
  g.m_param = m_opers.size();
  m_opers.push_back(std::move(op));
  return m_error.empty();
}

bool SIM_ENGINE::eval_operator(const SIM_GATE& g) {
  const SIM_OPER& op = m_opers[g.m_param];
  if (m_scratch.size() < g.m_nin) m_scratch.resize(g.m_nin);
  for (unsigned k = 0; k < g.m_nin; ++k) m_scratch[k] = in(g, k);
  uint64_t cout = 0;
  sim_oper_eval(op, m_scratch.data(), m_oper_out, &cout);
  bool changed = false;
  auto store = [&](uint32_t slot, uint64_t v) {
    if (slot == UINT32_MAX) return;
    v ^= m_out_xor[slot];
    changed |= m_val[slot] != v;
    m_val[slot] = v;
  };
  for (size_t i = 0; i < op.m_out.size(); ++i) store(op.m_out[i], m_oper_out[i]);
  store(op.m_cout, cout);
  return changed;
}

// Register inputs at the clock are not combinational; everything else is.
bool SIM_ENGINE::is_comb_edge(const SIM_GATE& g, unsigned k) const {
  if (g.m_op == OP_INPUT) return false;
  if (g.m_op == OP_BLOCK) return m_block_models[g.m_param].is_comb_input(k);
  if (g.m_op != OP_DFF) return true;
  return k == R_ACLR || k == R_PRESET || k == R_ADATA || k == R_ALOAD;
}

// Iterative Tarjan over "gate depends on gate" edges; see the file header.
void SIM_ENGINE::levelise() {
  uint32_t n = uint32_t(m_gates.size());
  std::vector<uint32_t> index(n, UINT32_MAX), low(n, 0), comp_stack;
  std::vector<uint8_t> on_stack(n, 0);
  struct FRAME { uint32_t m_gate, m_next; };
  std::vector<FRAME> frames;
  uint32_t counter = 0;
  auto dep = [&](uint32_t v, uint32_t k) -> uint32_t {
    const SIM_GATE& g = m_gates[v];
    if (!is_comb_edge(g, k)) return UINT32_MAX;
    uint32_t src = m_ins[g.m_in + k].m_src;
    return src ? m_slot_gate[src] : UINT32_MAX;
  };
  for (uint32_t root = 0; root < n; ++root) {
    if (index[root] != UINT32_MAX || m_gates[root].m_op == OP_INPUT) continue;
    frames.push_back({root, 0});
    index[root] = low[root] = counter++;
    comp_stack.push_back(root);
    on_stack[root] = 1;
    while (!frames.empty()) {
      FRAME& f = frames.back();
      uint32_t v = f.m_gate;
      if (f.m_next < m_gates[v].m_nin) {
        uint32_t w = dep(v, f.m_next++);
        if (w == UINT32_MAX || m_gates[w].m_op == OP_INPUT) continue;
        if (index[w] == UINT32_MAX) {
          index[w] = low[w] = counter++;
          comp_stack.push_back(w);
          on_stack[w] = 1;
          frames.push_back({w, 0});  // f may dangle from here on
        } else if (on_stack[w]) {
          low[v] = std::min(low[v], index[w]);
        }
        continue;
      }
      frames.pop_back();
      if (!frames.empty()) low[frames.back().m_gate] = std::min(low[frames.back().m_gate], low[v]);
      if (low[v] != index[v]) continue;
      BLOCK b{uint32_t(m_schedule.size()), 0, false};
      uint32_t w;
      do {
        w = comp_stack.back();
        comp_stack.pop_back();
        on_stack[w] = 0;
        m_schedule.push_back(w);
      } while (w != v);
      b.m_end = uint32_t(m_schedule.size());
      // Members come off the stack last-visited first; evaluate in visit order.
      std::reverse(m_schedule.begin() + b.m_begin, m_schedule.end());
      b.m_loop = b.m_end - b.m_begin > 1;
      for (uint32_t k = 0; !b.m_loop && k < m_gates[v].m_nin; ++k) b.m_loop = dep(v, k) == v;
      if (b.m_loop || m_blocks.empty() || m_blocks.back().m_loop) m_blocks.push_back(b);
      else m_blocks.back().m_end = b.m_end;  // merge straight-line runs
    }
  }
}

bool SIM_ENGINE::eval_gate(const SIM_GATE& g) {
  uint64_t out0;
  switch (g.m_op) {
    case OP_INPUT:
      return false;
    case OP_PASS:
      out0 = in(g, 0);
      break;
    case OP_COMB:
    case OP_TRI: {
      if (m_scratch.size() < g.m_nin) m_scratch.resize(g.m_nin);
      for (unsigned k = 0; k < g.m_nin; ++k) m_scratch[k] = in(g, k);
      CDB_COMB_TYPE type = g.m_op == OP_TRI ? CDB_COMB_OR : CDB_COMB_TYPE(g.m_comb);
      out0 = sim_comb_word(type, m_scratch.data(), &m_present[g.m_in], g.m_nin);
      break;
    }
    case OP_LUT: {
      uint64_t words[6] = {};
      for (unsigned k = 0; k < g.m_comb; ++k) words[k] = in(g, k);
      out0 = sim_lut_word(g.m_param, g.m_comb, words);
      break;
    }
    case OP_LCELL:
      return eval_lcell(g);
    case OP_MUX:
      out0 = sim_mux_word(in(g, 0), in(g, 1), in(g, 2));
      break;
    case OP_OPER:
      return eval_operator(g);
    case OP_BLOCK:
      return eval_block(g);
    case OP_CARRY: {
      bool changed = false;
      for (unsigned k = 0; k < 2 && k < g.m_nout; ++k) {
        uint64_t v = in(g, k) ^ m_out_xor[g.m_out + k];
        changed |= m_val[g.m_out + k] != v;
        m_val[g.m_out + k] = v;
      }
      return changed;
    }
    case OP_DFF:
      out0 = m_state[g.m_state] =
          sim_reg_async(m_state[g.m_state], in(g, R_ACLR), in(g, R_PRESET), in(g, R_ALOAD), in(g, R_ADATA));
      break;
    case OP_LATCH:
      out0 = m_state[g.m_state] = sim_latch_word(m_state[g.m_state], in(g, CDB_LATCH_D),
                                                 in(g, CDB_LATCH_EN) & in(g, CDB_LATCH_EN2), in(g, CDB_LATCH_CLR),
                                                 in(g, CDB_LATCH_PRE));
      break;
    default:
      return false;
  }
  if (!g.m_nout) return false;
  uint64_t v = out0 ^ m_out_xor[g.m_out];
  bool changed = m_val[g.m_out] != v;
  m_val[g.m_out] = v;
  return changed;
}

// Every output of a logic cell that the rule defines, by its slot's port type.
bool SIM_ENGINE::eval_lcell(const SIM_GATE& g) {
  const CDB_SGATE_WYSIWYG* atom = static_cast<const CDB_SGATE_NODE*>(g.m_node)->is_wysiwyg()
                                      ? const_cast<CDB_SGATE_NODE*>(g.m_node)->cast_to_wysiwyg()
                                      : nullptr;
  SIM_LCELL rule;
  rule.m_mask = g.m_param;
  rule.m_quellin = g.m_comb & 1;
  rule.m_extended = g.m_comb & 2;
  rule.m_shared_arith = g.m_comb & 4;
  uint64_t x[LC_COUNT];
  for (unsigned k = 0; k < LC_COUNT; ++k) x[k] = in(g, k);
  bool changed = false;
  for (unsigned k = 0; k < g.m_nout; ++k) {
    uint16_t port = 0;
    uint64_t v = 0;
    if (!atom->get_catalogue_entry().output_port_of_slot(k, &port, nullptr) || !sim_lcell_output(rule, port, x, &v))
      continue;
    v ^= m_out_xor[g.m_out + k];
    changed |= m_val[g.m_out + k] != v;
    m_val[g.m_out + k] = v;
  }
  return changed;
}

void SIM_ENGINE::eval() {
  if (!ok()) return;
  for (const BLOCK& b : m_blocks) {
    if (!b.m_loop) {
      for (uint32_t i = b.m_begin; i < b.m_end; ++i) eval_gate(m_gates[m_schedule[i]]);
      continue;
    }
    bool changed = true;
    for (int round = 0; changed && round < 64; ++round) {
      changed = false;
      for (uint32_t i = b.m_begin; i < b.m_end; ++i) changed |= eval_gate(m_gates[m_schedule[i]]);
    }
    if (changed) {
      m_error = "combinational loop through " + m_gates[m_schedule[b.m_begin]].m_node->get_string_hpath() +
                " does not settle within 64 rounds";
      return;
    }
  }
}

// Every clocked register computes its next state from the settled values,
// then all of them take it at once.
void SIM_ENGINE::capture() {
  if (!ok()) return;
  capture_blocks();  // reads settled values only, like the registers below
  m_next.resize(m_registers.size());
  for (size_t r = 0; r < m_registers.size(); ++r) {
    const SIM_GATE& g = m_gates[m_registers[r]];
    SIM_REG_SYNC c;
    c.m_data = in(g, R_DATA);
    c.m_ena = in(g, R_ENA);
    c.m_sclr = in(g, R_SCLR) | in(g, R_SCLR2);
    c.m_sload = in(g, R_SLOAD);
    c.m_adata = in(g, R_ADATA);
    c.m_sclr_over_ena = g.m_sclr_over_ena;
    m_next[r] = sim_reg_next(c, m_state[g.m_state]);
  }
  for (size_t r = 0; r < m_registers.size(); ++r) m_state[m_gates[m_registers[r]].m_state] = m_next[r];
}

void SIM_ENGINE::reset_state() {
  m_state = m_power_up;
  for (SIM_BLOCK& b : m_block_models) b.reset();
}

// ---------------------------------------------------------------------------
// Hard blocks

bool SIM_ENGINE::compile_block(const CDB_SGATE_WYSIWYG* atom, SIM_GATE& g) {
  SIM_BLOCK model;
  std::vector<const CDB_SGATE_ITERM*> inputs;
  std::vector<const CDB_SGATE_OTERM*> outputs;
  if (!model.compile(atom, inputs, outputs, &m_error)) return false;
  for (const CDB_SGATE_ITERM* t : inputs) add_input(t, 0);
  std::vector<uint32_t> slots;
  for (const CDB_SGATE_OTERM* o : outputs) slots.push_back(m_slot_of.at(o));
  g.m_op = OP_BLOCK;
  g.m_param = m_block_models.size();
  m_block_models.push_back(std::move(model));
  m_block_slots.push_back(std::move(slots));
  m_block_gates.push_back(uint32_t(&g - m_gates.data()));
  return m_error.empty();
}

bool SIM_ENGINE::eval_block(const SIM_GATE& g) {
  if (m_scratch.size() < g.m_nin) m_scratch.resize(g.m_nin);
  for (unsigned k = 0; k < g.m_nin; ++k) m_scratch[k] = in(g, k);
  const std::vector<uint32_t>& slots = m_block_slots[g.m_param];
  m_block_out.resize(slots.size());
  m_block_models[g.m_param].eval(m_scratch.data(), m_block_out.data());
  bool changed = false;
  for (size_t k = 0; k < slots.size(); ++k) {
    const uint64_t v = m_block_out[k] ^ m_out_xor[slots[k]];
    changed |= m_val[slots[k]] != v;
    m_val[slots[k]] = v;
  }
  return changed;
}

void SIM_ENGINE::capture_blocks() {
  for (uint32_t gi : m_block_gates) {
    const SIM_GATE& g = m_gates[gi];
    if (m_scratch.size() < g.m_nin) m_scratch.resize(g.m_nin);
    for (unsigned k = 0; k < g.m_nin; ++k) m_scratch[k] = in(g, k);
    m_block_models[g.m_param].capture(m_scratch.data());
  }
}

uint32_t SIM_ENGINE::gate_of(const CDB_SGATE_NODE* node) const {
  auto it = m_gate_of.find(node);
  PLAT_CHECK(it != m_gate_of.end(), "PLATFORM");
  return it->second;
}

void SIM_ENGINE::set_input(const CDB_SGATE_NODE* pin, uint64_t word) {
  PLAT_CHECK(pin && (pin->is_input() || pin->is_bidir()), "PLATFORM");
  const SIM_GATE& g = m_gates[gate_of(pin)];
  m_val[g.m_out] = word ^ m_out_xor[g.m_out];
}

void SIM_ENGINE::randomize_inputs(uint64_t seed) {
  uint64_t k = 0;
  for (const SIM_GATE& g : m_gates)
    if (g.m_op == OP_INPUT) m_val[g.m_out] = splitmix(seed * 0x2545f4914f6cdd1dull + ++k) ^ m_out_xor[g.m_out];
}

uint64_t SIM_ENGINE::value(const CDB_SGATE_OTERM* oterm) const {
  auto it = m_slot_of.find(oterm);
  PLAT_CHECK(it != m_slot_of.end(), "PLATFORM");
  return m_val[it->second];
}

uint64_t SIM_ENGINE::output(const CDB_SGATE_NODE* pin) const {
  PLAT_CHECK(pin && (pin->is_output() || pin->is_bidir()), "PLATFORM");
  return in(m_gates[gate_of(pin)], 0);
}

// ---------------------------------------------------------------------------
NETLIST_SIMULATOR::NETLIST_SIMULATOR(const CDB_SGATE_NETLIST* netlist) : m_engine(new SIM_ENGINE(netlist)) {}
NETLIST_SIMULATOR::~NETLIST_SIMULATOR() = default;
bool NETLIST_SIMULATOR::ok() const { return m_engine->ok(); }
const std::string& NETLIST_SIMULATOR::error() const { return m_engine->error(); }
void NETLIST_SIMULATOR::set_input(const CDB_SGATE_NODE* pin, uint64_t word) { m_engine->set_input(pin, word); }
void NETLIST_SIMULATOR::randomize_inputs(uint64_t seed) { m_engine->randomize_inputs(seed); }
void NETLIST_SIMULATOR::reset_state() { m_engine->reset_state(); }
void NETLIST_SIMULATOR::eval() { m_engine->eval(); }
void NETLIST_SIMULATOR::clock() {
  m_engine->capture();
  m_engine->eval();
}
uint64_t NETLIST_SIMULATOR::value(const CDB_SGATE_OTERM* oterm) const { return m_engine->value(oterm); }
uint64_t NETLIST_SIMULATOR::output(const CDB_SGATE_NODE* out_pin) const { return m_engine->output(out_pin); }

// ---------------------------------------------------------------------------
std::string sim_pin_name(const CDB_SGATE_NODE* pin) {
  if (pin->get_instance_name()) return io_signal_path(pin->get_instance_name());
  const char* s = pin->get_string_name();
  return s ? std::string(s) : std::string();
}

namespace {

struct PIN_PAIR {
  std::string m_name;
  const CDB_SGATE_NODE* m_a;
  const CDB_SGATE_NODE* m_b;
};

// Pairs pins of both netlists by name; false with the reason when a name is
// missing, empty or repeated on either side.
bool pair_pins(const std::vector<CDB_SGATE_IO*>& a, const std::vector<CDB_SGATE_IO*>& b, const char* what,
               std::vector<PIN_PAIR>* pairs, std::string* why) {
  std::unordered_map<std::string, const CDB_SGATE_NODE*> by_name;
  for (const CDB_SGATE_IO* p : b) {
    std::string n = sim_pin_name(p);
    if (n.empty() || !by_name.emplace(n, p).second) {
      *why = std::string("second netlist: ") + what + " pin '" + n + "' is unnamed or repeated";
      return false;
    }
  }
  for (const CDB_SGATE_IO* p : a) {
    std::string n = sim_pin_name(p);
    auto it = by_name.find(n);
    if (it == by_name.end() || !it->second) {
      *why = std::string(what) + " pin '" + n + "' of the first netlist has no partner (or is repeated)";
      return false;
    }
    pairs->push_back({n, p, it->second});
    it->second = nullptr;
  }
  if (pairs->size() != b.size()) {
    for (const auto& [n, p] : by_name)
      if (p) {
        *why = std::string(what) + " pin '" + n + "' of the second netlist has no partner";
        return false;
      }
  }
  return true;
}

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

}  // namespace

namespace {

bool compare_by_simulation(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b, const SIM_COMPARE& cmp,
                           std::string* why) {
  std::string local;
  std::string& reason = why ? *why : local;
  reason.clear();
  std::vector<PIN_PAIR> ins, outs;
  std::vector<CDB_SGATE_IO*> a_in = a->get_input_pins(), b_in = b->get_input_pins();
  std::vector<CDB_SGATE_IO*> a_out = a->get_output_pins(), b_out = b->get_output_pins();
  for (CDB_SGATE_IO* p : a->get_bidir_pins()) a_in.push_back(p), a_out.push_back(p);
  for (CDB_SGATE_IO* p : b->get_bidir_pins()) b_in.push_back(p), b_out.push_back(p);
  if (!pair_pins(a_in, b_in, "input", &ins, &reason) || !pair_pins(a_out, b_out, "output", &outs, &reason))
    return false;
  SIM_ENGINE sa(a), sb(b);
  if (!sa.ok() || !sb.ok()) {
    reason = !sa.ok() ? "first netlist: " + sa.error() : "second netlist: " + sb.error();
    return false;
  }
  // Pins are looked up once; the loops below touch only dense indices.
  std::vector<uint64_t> name_hash;
  std::vector<uint32_t> in_a, in_b, out_a, out_b;
  for (const PIN_PAIR& p : ins) {
    name_hash.push_back(io_hash(p.m_name));
    in_a.push_back(sa.pin_index(p.m_a));
    in_b.push_back(sb.pin_index(p.m_b));
  }
  for (const PIN_PAIR& p : outs) {
    out_a.push_back(sa.pin_index(p.m_a));
    out_b.push_back(sb.pin_index(p.m_b));
  }
  for (int w = 0; w < cmp.words; ++w) {
    sa.reset_state();
    sb.reset_state();
    for (int c = 0; c < cmp.cycles; ++c) {
      if (c) {
        sa.capture();
        sb.capture();
      }
      for (size_t i = 0; i < ins.size(); ++i) {
        uint64_t word = splitmix(cmp.seed ^ splitmix(name_hash[i] + uint64_t(w) * 0x10001ull + uint64_t(c) * 0x3fffull));
        sa.set_input_at(in_a[i], word);
        sb.set_input_at(in_b[i], word);
      }
      sa.eval();
      sb.eval();
      if (!sa.ok() || !sb.ok()) {
        reason = !sa.ok() ? "first netlist: " + sa.error() : "second netlist: " + sb.error();
        return false;
      }
      for (size_t i = 0; i < outs.size(); ++i) {
        uint64_t va = sa.output_at(out_a[i]), vb = sb.output_at(out_b[i]);
        if (va != vb) {
          reason = "output '" + outs[i].m_name + "' differs in word " + std::to_string(w) + ", cycle " + std::to_string(c) +
                   ": " + hex(va) + " vs " + hex(vb);
          return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

bool sim_equivalent(const CDB_SGATE_NETLIST* a, const CDB_SGATE_NETLIST* b, const SIM_COMPARE& cmp,
                    std::string* why) {
  return io_guard_memory(
      false, [&] { return compare_by_simulation(a, b, cmp, why); },
      [&] { io_say_out_of_memory(why, "", "not enough memory to simulate the netlists"); });
}

}  // namespace kavu_platform
