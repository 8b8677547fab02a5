// sta_oracle.cpp — OpenSTA as an outside timing oracle (see sta_oracle.h).
#include "netlist_io/sta_oracle.h"
#include "netlist_io/oracle_process.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <unordered_map>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "netlist_io/sim_eval.h"
#include "ssc/ssc_int.h"

namespace kavu_platform {

namespace {

// Which inputs of a plain register capture (data, enable, sclr, sload).
bool dff_capture(unsigned slot) { return slot == 0 || slot == 4 || slot == 7 || slot == 8; }

struct CELL_SHAPE {
  bool reg = false;
  bool falling = false;
  int inputs = 0;       // comb: timed inputs; reg: capture inputs
  int other = 0;        // reg: untimed inputs
  int outputs = 0;
  int delay = 0;
  int sense = 0;        // single-input comb: 1 positive, -1 negative, 0 non-unate
  std::string senses;   // comb of more inputs: per input '+', '-', '0', as the engine reads the function, or 'x' (ignored: no arc)
  bool carry = false;   // output i from input i only
  std::string key() const {
    std::ostringstream k;
    k << reg << falling << "_" << inputs << "_" << other << "_" << outputs << "_" << delay << "_" << sense << carry
      << senses;
    return k.str();
  }
};

void scalar(std::ostream& out, const char* table, int v) {
  out << "        " << table << " (scalar) { values (\"" << v << "\"); }\n";
}

void write_cell(std::ostream& out, const std::string& name, const CELL_SHAPE& s) {
  out << "  cell (" << name << ") {\n    area : 1;\n";
  if (s.reg) {
    out << "    ff (IQ, IQN) { next_state : \"D0\"; clocked_on : \"" << (s.falling ? "!CK" : "CK") << "\"; }\n";
    out << "    pin (CK) { direction : input; clock : true; capacitance : 0; }\n";
    for (int i = 0; i < s.inputs; ++i) {
      out << "    pin (D" << i << ") { direction : input; capacitance : 0;\n      timing () { related_pin : \"CK\"; "
          << "timing_type : " << (s.falling ? "setup_falling" : "setup_rising") << ";\n";
      scalar(out, "rise_constraint", 0);
      scalar(out, "fall_constraint", 0);
      out << "      }\n    }\n";
    }
    for (int i = 0; i < s.other; ++i) out << "    pin (A" << i << ") { direction : input; capacitance : 0; }\n";
    for (int j = 0; j < s.outputs; ++j) {
      out << "    pin (Q" << j << ") { direction : output; function : \"IQ\";\n      timing () { related_pin : \"CK\"; "
          << "timing_type : " << (s.falling ? "falling_edge" : "rising_edge") << ";\n";
      scalar(out, "cell_rise", 0);
      scalar(out, "cell_fall", 0);
      scalar(out, "rise_transition", 0);
      scalar(out, "fall_transition", 0);
      out << "      }\n    }\n";
    }
  } else {
    for (int i = 0; i < s.inputs; ++i) out << "    pin (I" << i << ") { direction : input; capacitance : 0; }\n";
    for (int j = 0; j < s.outputs; ++j) {
      out << "    pin (O" << j << ") { direction : output;\n";
      for (int i = 0; i < s.inputs; ++i) {
        if (s.carry && i != j) continue;
        if (!s.senses.empty() && s.senses[i] == 'x') continue;  // an input the function ignores: no arc
        const int in_sense = s.senses.empty() ? s.sense : (s.senses[i] == '+' ? 1 : (s.senses[i] == '-' ? -1 : 0));
        const char* sense = in_sense > 0 ? "positive_unate" : (in_sense < 0 ? "negative_unate" : "non_unate");
        out << "      timing () { related_pin : \"I" << i << "\"; timing_sense : " << sense << ";\n";
        scalar(out, "cell_rise", s.delay);
        scalar(out, "cell_fall", s.delay);
        scalar(out, "rise_transition", 0);
        scalar(out, "fall_transition", 0);
        out << "      }\n";
      }
      out << "    }\n";
    }
  }
  out << "  }\n";
}

// The word of variable p over the 64 minterms of six variables: bit m is
// bit p of m.
uint64_t variable_word(unsigned p) {
  uint64_t w = 0;
  for (unsigned m = 0; m < 64; ++m)
    if ((m >> p) & 1u) w |= uint64_t(1) << m;
  return w;
}

// The truth table of output `out` of gate g over the variables at its input
// slots vars[0..count) (count <= 6, in slot order; variable p is bit p of a
// minterm), under the simulator's value rules (sim_eval.h) with the
// terminals' inversions, other inputs open; false for a kind not tabulated
// here.
bool gate_table(const CDB_SGATE_NODE* g, const unsigned* vars, unsigned count, unsigned out, uint64_t* table) {
  uint64_t word[6] = {}, at_slot[6] = {};
  for (unsigned p = 0; p < count; ++p) {
    word[p] = variable_word(p) ^ (g->get_input_term(vars[p])->is_inverted() ? SIM_ALL : 0);
    if (vars[p] < 6) at_slot[vars[p]] = word[p];
  }
  uint64_t f = 0;
  switch (g->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM: {
      const uint8_t present[6] = {1, 1, 1, 1, 1, 1};
      f = sim_comb_word(g->cast_to_comb()->get_comb_type(), word, present, count);
      break;
    }
    case CDB_SGATE_LUT_ENUM: {
      const CDB_LUTMASK& mask = g->cast_to_lut()->get_lut_mask();
      if (mask.get_num_inputs() > 6) return false;
      f = sim_lut_word(mask.get_value(), mask.get_num_inputs(), at_slot);
      break;
    }
    case CDB_SGATE_MUX_ENUM: f = sim_mux_word(at_slot[CDB_MUX_DATA0], at_slot[CDB_MUX_DATA1], at_slot[CDB_MUX_SELECT]); break;
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM: f = at_slot[out]; break;  // output k passes input k
    default: return false;
  }
  const CDB_SGATE_OTERM* o = g->get_output_term(out);
  *table = o && o->is_inverted() ? ~f : f;
  return true;
}

// How a truth table reads its variable p, minterm pair by minterm pair: 'x'
// when no two minterms differing only in it give different outputs, '+'
// when the output never falls as it rises, '-' when it never rises, '0'
// when both happen.
char table_reading(uint64_t table, unsigned p) {
  bool rises = false, falls = false;
  for (unsigned m = 0; m < 64; ++m) {
    if ((m >> p) & 1u) continue;
    const bool low = (table >> m) & 1u, high = (table >> (m | (1u << p))) & 1u;
    rises |= !low && high;
    falls |= low && !high;
  }
  return !rises && !falls ? 'x' : (!falls ? '+' : (!rises ? '-' : '0'));
}

// How gate g's function reads each of its input slots (table_reading of
// its truth table), worked out here rather than taken from the timing
// engine, so that a wrong reading there shows against sta: 'x' gives the
// cell no arc from the input, the others its timing sense. The gate's
// connected inputs are its variables; a LUT's inputs past its mask are
// ignored, as the netlist reads them. AND, OR and XOR are symmetric in
// their inputs and NOT and name keepers read their first, so a wide one is
// read in six inputs: the slot read and the first others. Kinds not
// tabulated here (operators, tri-state buses, atoms), and the enables of
// IO buffers, read '0': arcs of both senses.
std::string input_readings(const CDB_SGATE_NODE* g) {
  const unsigned n = g->get_number_of_input_terms();
  std::string readings(n, '0');
  auto connected = [&](unsigned k) { return g->get_input_term(k) && cdb_is_connected(g->get_input_term(k)); };
  unsigned vars[6], count = 0;
  uint64_t table = 0;
  switch (g->get_sgate_type()) {
    case CDB_SGATE_COMB_ENUM: {
      unsigned first[6], firsts = 0;
      for (unsigned k = 0; k < n && firsts < 6; ++k)
        if (connected(k)) first[firsts++] = k;
      for (unsigned k = 0; k < n; ++k) {
        if (!connected(k)) continue;
        count = 0;
        for (unsigned q = 0; q < firsts && first[q] < k && count < 5; ++q) vars[count++] = first[q];
        const unsigned place = count;
        vars[count++] = k;
        for (unsigned q = 0; q < firsts && count < 6; ++q)
          if (first[q] > k) vars[count++] = first[q];
        if (gate_table(g, vars, count, 0, &table)) readings[k] = table_reading(table, place);
      }
      return readings;
    }
    case CDB_SGATE_LUT_ENUM: {
      const unsigned used = std::min(n, g->cast_to_lut()->get_lut_mask().get_num_inputs());
      for (unsigned k = used; k < n; ++k) readings[k] = 'x';
      for (unsigned k = 0; k < used && k < 6; ++k)
        if (connected(k)) vars[count++] = k;
      break;
    }
    case CDB_SGATE_MUX_ENUM:
      for (unsigned k = 0; k < n && k < 3; ++k)
        if (connected(k)) vars[count++] = k;
      break;
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
      if (n > 0 && connected(0)) vars[count++] = 0;
      break;
    case CDB_SGATE_CARRY_SUM_ENUM:
      for (unsigned k = 0; k < n && k < g->get_output_count() && k < 6; ++k) {
        vars[0] = k;
        if (connected(k) && gate_table(g, vars, 1, k, &table)) readings[k] = table_reading(table, 0);
      }
      return readings;
    default:
      return readings;
  }
  if (count > 0 && gate_table(g, vars, count, 0, &table))
    for (unsigned p = 0; p < count; ++p) readings[vars[p]] = table_reading(table, p);
  return readings;
}

std::string sdc_for_sta(const STA_CONSTRAINTS& c, const std::unordered_map<std::string, std::string>& port_of,
                        const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  std::ostringstream out;
  auto ports = [&](const std::vector<std::string>& paths, const std::vector<std::string>& all) {
    std::string list;
    for (const std::string& p : paths.empty() ? all : paths) {
      auto it = port_of.find(p);
      if (it != port_of.end()) list += (list.empty() ? "" : " ") + it->second;
    }
    return list;
  };
  for (const STA_CLOCK& k : c.clocks) {
    out << "create_clock -name " << k.name << " -period " << k.period;
    if (!k.source.empty()) out << " [get_ports {" << ports({k.source}, {}) << "}]";
    out << "\n";
  }
  for (const STA_IO_DELAY& d : c.io_delays) {
    const std::string list = ports(d.ports, d.input ? inputs : outputs);
    if (list.empty()) continue;
    out << (d.input ? "set_input_delay " : "set_output_delay ") << d.value << " -clock " << d.clock << " [get_ports {"
        << list << "}]\n";
  }
  for (const auto& [a, b] : c.false_clock_pairs) {
    out << "set_false_path -from [get_clocks " << a << "] -to [get_clocks " << b << "]\n";
    out << "set_false_path -from [get_clocks " << b << "] -to [get_clocks " << a << "]\n";
  }
  return out.str();
}

// The Verilog ports under their own names: "a[3]" is bit 3 of the bus a
// (declared from its lowest to its highest bit), any other name a scalar,
// escaped when it is no plain identifier.
class NAMED_PORTS {
 public:
  // The reference to the port of the pin with gate path `path`.
  std::string add(const std::string& path, bool input) {
    const size_t bar = path.rfind('|');
    const std::string leaf = bar == std::string::npos ? path : path.substr(bar + 1);
    const size_t open = leaf.rfind('[');
    bool bit = open != std::string::npos && open > 0 && leaf.back() == ']' && open + 2 < leaf.size();
    for (size_t i = open + 1; bit && i + 1 < leaf.size(); ++i) bit = leaf[i] >= '0' && leaf[i] <= '9';
    const std::string base = bit ? leaf.substr(0, open) : leaf;
    auto [it, fresh] = m_index.emplace(base, m_ports.size());
    if (fresh) m_ports.push_back({identifier(base), input, bit, 1 << 30, -1});
    PORT& p = m_ports[it->second];
    if (!bit) return p.name;
    const int index = std::atoi(leaf.c_str() + open + 1);
    p.low = std::min(p.low, index);
    p.high = std::max(p.high, index);
    return p.name + "[" + std::to_string(index) + "]";
  }
  void write(std::ostream& v) const {
    v << "module top (";
    for (size_t k = 0; k < m_ports.size(); ++k) v << (k ? ", " : "") << m_ports[k].name;
    v << ");\n";
    for (const PORT& p : m_ports) {
      v << "  " << (p.input ? "input " : "output ");
      if (p.bus) v << "[" << p.high << ":" << p.low << "] ";
      v << p.name << ";\n";
    }
  }

  // A Verilog name: as it is when plain, else escaped.
  static std::string identifier(const std::string& name) {
    bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
    for (char ch : name) plain = plain && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_');
    return plain ? name : "\\" + name + " ";
  }

 private:
  struct PORT {
    std::string name;
    bool input, bus;
    int low, high;
  };
  std::vector<PORT> m_ports;
  std::unordered_map<std::string, size_t> m_index;
};

}  // namespace

// A gate path as a glob pattern that matches only itself.
static std::string literal_pattern(const std::string& path) {
  std::string out;
  for (char ch : path) {
    if (ch == '[' || ch == ']' || ch == '*' || ch == '?' || ch == '\\') out += '\\';
    out += ch;
  }
  return out;
}

std::string sta_engine_sdc(const STA_CONSTRAINTS& c) {
  std::ostringstream out;
  for (const STA_CLOCK& k : c.clocks) {
    out << "create_clock -name " << k.name << " -period " << k.period;
    if (!k.source.empty()) out << " [get_ports {" << literal_pattern(k.source) << "}]";
    out << "\n";
  }
  for (const STA_IO_DELAY& d : c.io_delays) {
    out << (d.input ? "set_input_delay " : "set_output_delay ") << d.value << " -clock " << d.clock << " ";
    if (d.ports.empty()) {
      out << (d.input ? "[all_inputs]" : "[all_outputs]") << "\n";
      continue;
    }
    out << "[get_ports {";
    for (size_t i = 0; i < d.ports.size(); ++i) out << (i ? " " : "") << literal_pattern(d.ports[i]);
    out << "}]\n";
  }
  for (const auto& [a, b] : c.false_clock_pairs) {
    out << "set_false_path -from [get_clocks " << a << "] -to [get_clocks " << b << "]\n";
    out << "set_false_path -from [get_clocks " << b << "] -to [get_clocks " << a << "]\n";
  }
  return out.str();
}

std::string sta_binary_path() { return oracle_find_program("sta_binary", "sta"); }

bool sta_write_inputs(const CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, SSC_DELAY_MODEL model,
                      const STA_CONSTRAINTS& constraints, const std::vector<const CDB_SGATE_ITERM*>& pins,
                      const std::string& dir, std::string* why) {
  const SSC_DELAYS delays = ssc_make_delays(facade, model);
  std::ostringstream lib, ver;
  std::map<std::string, std::string> cells;  // shape key -> cell name
  std::unordered_map<const CDB_SGATE_OTERM*, std::string> net_of;
  std::unordered_map<std::string, std::string> port_of;
  std::unordered_map<const CDB_SGATE_ITERM*, std::string> pin_name;
  std::vector<std::string> inputs, outputs, port_decl;
  std::ostringstream body;
  int nets = 0, gates = 0;
  const bool named = !constraints.sdc.empty();
  NAMED_PORTS named_ports;
  std::set<std::string> instance_names;
  // Nets and ports first.
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    if (g->get_sgate_type() == CDB_SGATE_LATCH_ENUM || (g->is_pin() && g->is_bidir())) {
      if (why) *why = "the netlist holds latches or bidirectional pins";
      return false;
    }
    if (g->is_pin() && g->is_input()) {
      const std::string port =
          named ? named_ports.add(g->get_string_hpath(), true) : "p" + std::to_string(port_decl.size());
      port_decl.push_back("input " + port);
      port_of[g->get_string_hpath()] = port;
      inputs.push_back(g->get_string_hpath());
      for (unsigned j = 0; j < g->get_output_count(); ++j)
        if (g->get_output_term(j)) net_of[g->get_output_term(j)] = port;
      continue;
    }
    for (unsigned j = 0; j < g->get_output_count(); ++j)
      if (const CDB_SGATE_OTERM* t = g->get_output_term(j)) net_of[t] = "n" + std::to_string(nets++);
  }
  auto net = [&](const CDB_SGATE_ITERM* t) -> std::string {
    auto f = net_of.find(t->get_source());
    return f == net_of.end() ? std::string() : f->second;
  };
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    const CDB_SGATE_NODE* g = *it;
    if (!g || (g->is_pin() && g->is_input())) continue;
    // With the caller's SDC, a gate whose own name is a plain identifier
    // keeps it where no other gate has it, so that get_cells meets in sta
    // the cells it meets in the engine (the buffer before an output port is
    // no cell there; other names stay g<k>, as the escaped names sta would
    // read differ).
    std::string inst = "g" + std::to_string(gates++);
    if (named && !g->is_pin()) {
      const std::string path = g->get_string_hpath();
      const std::string own = path.substr(path.rfind('|') + 1);
      if (NAMED_PORTS::identifier(own) == own && own[0] != 'g' && instance_names.insert(own).second) inst = own;
    }
    CELL_SHAPE s;
    std::vector<std::pair<std::string, std::string>> conn;  // (pin, net)
    if (g->is_pin() && g->is_output()) {
      const std::string port =
          named ? named_ports.add(g->get_string_hpath(), false) : "p" + std::to_string(port_decl.size());
      port_decl.push_back("output " + port);
      port_of[g->get_string_hpath()] = port;
      outputs.push_back(g->get_string_hpath());
      const CDB_SGATE_ITERM* t = g->get_input_term(0);
      const std::string n = t ? net(t) : std::string();
      if (n.empty()) continue;
      s.inputs = 1;
      s.outputs = 1;
      s.sense = 1;
      conn = {{"I0", n}, {"O0", port}};
      pin_name[t] = "port:" + port;  // the path end is the port
    } else if (g->get_sgate_type() == CDB_SGATE_DFF_ENUM) {
      s.reg = true;
      const CDB_SGATE_ITERM* ck = g->get_input_term(1);
      s.falling = ck && ck->is_inverted();
      if (ck && !net(ck).empty()) conn.push_back({"CK", net(ck)});
      for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
        const CDB_SGATE_ITERM* t = g->get_input_term(i);
        if (i == 1 || !t || net(t).empty()) continue;
        const std::string p = dff_capture(i) ? "D" + std::to_string(s.inputs++) : "A" + std::to_string(s.other++);
        conn.push_back({p, net(t)});
        pin_name[t] = inst + "/" + p;
      }
      for (unsigned j = 0; j < g->get_output_count(); ++j)
        if (const CDB_SGATE_OTERM* t = g->get_output_term(j)) conn.push_back({"Q" + std::to_string(s.outputs++), net_of[t]});
      if (s.inputs == 0) {  // a register without a timed input still needs its ff's D0
        s.inputs = 1;
      }
    } else if (g->get_reg_flags() || g->cast_to_wysiwyg() || g->get_sgate_type() == CDB_SGATE_SYNCHRONOUS_RAM_ENUM) {
      if (why) *why = "the netlist holds sequential gates other than plain registers";
      return false;
    } else {
      s.carry = g->get_sgate_type() == CDB_SGATE_CARRY_SUM_ENUM;
      const std::string readings = input_readings(g);
      for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i) {
        const CDB_SGATE_ITERM* t = g->get_input_term(i);
        if (!t || net(t).empty()) continue;
        if (s.carry && int(i) != s.inputs) {
          if (why) *why = "a carry-sum gate with a missing input";
          return false;
        }
        const std::string p = "I" + std::to_string(s.inputs++);
        conn.push_back({p, net(t)});
        pin_name[t] = "through:" + inst + "/" + p;  // no path ends here: the paths through it
        s.senses += readings[i];
      }
      int delay = -1;
      for (unsigned j = 0; j < g->get_output_count(); ++j) {
        const CDB_SGATE_OTERM* t = g->get_output_term(j);
        if (!t) continue;
        const int d = ssc_gate_delay(g, t, delays);
        if (delay >= 0 && d != delay) {
          // Outputs of one gate with different delays: one cell per output.
          delay = -2;
        }
        if (delay != -2) delay = d;
        conn.push_back({"O" + std::to_string(s.outputs++), net_of[t]});
      }
      if (delay == -2) {
        if (why) *why = "a gate whose outputs have different delays";
        return false;
      }
      if (s.outputs == 0) continue;
      s.delay = delay < 0 ? 0 : delay;
      // Each input has its sense of the gate's function, so that a clock
      // through it (a gated clock) keeps or inverts its edge as the
      // function does; data timing is the same for every sense.
      s.sense = s.inputs == 1 ? (s.senses == "+" ? 1 : (s.senses == "-" ? -1 : 0)) : 0;
      if (s.inputs == 1 && s.senses != "x") s.senses.clear();
    }
    std::string& cell = cells[s.key()];
    if (cell.empty()) {
      cell = "K" + std::to_string(cells.size());
      write_cell(lib, cell, s);
    }
    body << "  " << cell << " " << inst << " (";
    for (size_t k = 0; k < conn.size(); ++k) body << (k ? ", " : "") << "." << conn[k].first << "(" << conn[k].second << ")";
    body << ");\n";
  }
  {
    std::ofstream l(dir + "/cells.lib");
    l << "library (kavu_cells) {\n  delay_model : table_lookup;\n  time_unit : \"1ns\";\n"
      << "  capacitive_load_unit (1, pf);\n  voltage_unit : \"1V\";\n  current_unit : \"1mA\";\n"
      << "  pulling_resistance_unit : \"1kohm\";\n  leakage_power_unit : \"1nW\";\n"
      << "  nom_process : 1;\n  nom_voltage : 1;\n  nom_temperature : 25;\n"
      << "  input_threshold_pct_rise : 50;\n  input_threshold_pct_fall : 50;\n"
      << "  output_threshold_pct_rise : 50;\n  output_threshold_pct_fall : 50;\n"
      << "  slew_lower_threshold_pct_rise : 20;\n  slew_lower_threshold_pct_fall : 20;\n"
      << "  slew_upper_threshold_pct_rise : 80;\n  slew_upper_threshold_pct_fall : 80;\n"
      << lib.str() << "}\n";
    std::ofstream v(dir + "/top.v");
    if (named) {
      named_ports.write(v);
    } else {
      v << "module top (";
      for (size_t k = 0; k < port_decl.size(); ++k) v << (k ? ", " : "") << port_decl[k].substr(port_decl[k].find(' ') + 1);
      v << ");\n";
      for (const std::string& d : port_decl) v << "  " << d << ";\n";
    }
    for (int k = 0; k < nets; ++k) v << "  wire n" << k << ";\n";
    v << body.str() << "endmodule\n";
    std::ofstream c(dir + "/top.sdc");
    c << (named ? constraints.sdc : sdc_for_sta(constraints, port_of, inputs, outputs));
    std::ofstream t(dir + "/run.tcl");
    t << "read_liberty cells.lib\nread_verilog top.v\nlink_design top\nread_sdc top.sdc\n";
    // Per clock: the worst slack of the clock's path group; none for a
    // clock sta does not know (it reads an unknown path group as every path).
    t << "foreach clk {";
    for (const STA_CLOCK& k : constraints.clocks) t << k.name << " ";
    t << "} {\n  if {[llength [get_clocks -quiet $clk]] == 0} { continue }\n"
      << "  set paths [find_timing_paths -path_group $clk -path_delay max -group_count 1]\n"
      << "  foreach p $paths { puts \"KAVU_CLOCK $clk [sta::format_time [$p slack] 6]\" }\n}\n";
    // The worst slack of all path groups (max-delay paths included).
    t << "set w INF\nforeach p [find_timing_paths -path_delay max -group_count 1] {\n"
      << "  set s [sta::format_time [$p slack] 6]\n  if {$w eq \"INF\" || $s < $w} { set w $s }\n}\n"
      << "puts \"KAVU_WORST $w\"\n";
    for (size_t k = 0; k < pins.size(); ++k) {
      auto f = pin_name.find(pins[k]);
      const std::string p = f == pin_name.end() ? std::string() : f->second;
      // The worst over the pin's paths: a pin may end paths of several
      // path groups (a clock's and a max-delay rule's that ignores clock
      // latency), one path each.
      // An output port's terminal: the paths that end at the port; a gate's
      // input: the paths through it.
      const bool port = p.rfind("port:", 0) == 0, through = p.rfind("through:", 0) == 0;
      t << "set s INF\nforeach x [find_timing_paths " << (through ? "-through" : "-to") << " ["
        << (port ? "get_ports {" : "get_pins {") << (port ? p.substr(5) : through ? p.substr(8) : p)
        << "}] -path_delay max] {\n  set v [sta::format_time [$x slack] 6]\n"
        << "  if {$s eq \"INF\" || $v < $s} { set s $v }\n}\n"
        << "puts \"KAVU_PIN " << k << " $s\"\n";
    }
  }
  return true;
}

namespace {

// A slack as sta_analyze's script prints it: a finite number, the whole
// word ("z", "1.5ns" or "nan" is none).
bool slack_figure(const std::string& word, double* value) {
  const char* end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, *value);
  return error == std::errc() && stop == end && std::isfinite(*value);
}

}  // namespace

STA_RESULT sta_analyze(const CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, SSC_DELAY_MODEL model,
                       const STA_CONSTRAINTS& constraints, const std::vector<const CDB_SGATE_ITERM*>& pins) {
  STA_RESULT result;
  const std::string binary = sta_binary_path();
  if (binary.empty()) {
    result.log = "sta is not installed";
    return result;
  }
  ORACLE_TEMP_DIR dir("kavu_sta");
  if (dir.path().empty()) {
    result.status = STA_ERROR;
    result.log = "no temporary directory";
    return result;
  }
  if (!sta_write_inputs(netlist, facade, model, constraints, pins, dir.path(), &result.log)) return result;

  // The figures are read from the lines as sta prints them (a line of
  // them may stand anywhere in an output of any length); the log keeps a
  // bounded part.
  result.pin_slacks.assign(pins.size(), 2147483647.0);
  size_t pins_read = 0;
  bool worst_read = false;
  std::string not_figure;  // the first figure line that holds no number
  ORACLE_OUTPUT output;
  output.on_line = [&](std::string_view line) {
    if (line.rfind("Error", 0) == 0 && result.first_error.empty()) result.first_error = line;
    const bool pin = line.rfind("KAVU_PIN ", 0) == 0, clock = line.rfind("KAVU_CLOCK ", 0) == 0,
               worst = line.rfind("KAVU_WORST ", 0) == 0;
    if (!pin && !clock && !worst) return;
    std::istringstream w{std::string(line)};
    std::string tag, a, b;
    w >> tag >> a >> b;
    const std::string& text = worst ? a : b;
    double value = 0;
    // INF: no path (the script's word); a slack beyond 1e9 (sta prints
    // "1.0e+30" for none) is no constraint.
    const bool none = text == "INF" && !clock;
    if (!none && !slack_figure(text, &value)) {
      if (not_figure.empty()) not_figure = std::string(line);
      return;
    }
    if (clock) {
      result.worst_per_clock[a] = value;
    } else if (worst) {
      worst_read = true;
      if (!none) result.worst_all = value;
    } else {
      const size_t k = std::strtoul(a.c_str(), nullptr, 10);
      if (k < pins.size() && !none && std::abs(value) < 1e9) result.pin_slacks[k] = value;
      ++pins_read;
    }
  };
  const ORACLE_END end = oracle_run_peer({binary, "-no_splash", "-exit", "run.tcl"}, dir.path(),
                                         cfg_get_int_value("sta_timeout", 600), &output);
  result.exit_status = end.status;
  result.signal = end.signal;
  result.log = output.text();
  if (cfg_is_on("sta_keep_files", false)) {
    // For debugging a disagreement: the inputs stay in the working
    // directory, written there as files of the user's own.
    for (const char* f : {"cells.lib", "top.v", "top.sdc", "run.tcl"})
      FIO_FILE_SYSTEM::copy_own_file(dir.path() + "/" + f, f);
    FIO_FILE_SYSTEM::replace_own_file("sta.log", {result.log}, nullptr);
  }
  if (!end.succeeded()) {
    result.status = STA_ERROR;
    return result;
  }
  // A figure missing or not a number is no answer: sta did not run the
  // script through, or printed something else.
  if (!not_figure.empty()) result.unread = "a figure is not a number: " + not_figure;
  else if (!worst_read) result.unread = "it printed no worst slack";
  else if (pins_read != pins.size())
    result.unread = "it printed the slacks of " + std::to_string(pins_read) + " of " + std::to_string(pins.size()) + " pins";
  result.status = result.unread.empty() ? STA_OK : STA_ERROR;
  return result;
}

}  // namespace kavu_platform
