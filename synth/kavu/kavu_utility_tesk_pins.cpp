// kavu_utility_tesk_pins.cpp — the input-pin report "tesk_verify_pins.txt":
// which primary inputs reach logic before any register, in which clock
// domain such logic should be registered, and which primary outputs are
// driven by registers that also feed other logic.
//
// Collection walks the I/O nodes once. An input pin's direct fan-outs other
//   than clock and clear ports are listed; a register reached on its data
//   port, or clocked by the pin itself, is "registered" in its clock's
//   domain; any other destination is not, and gets recommended domains (the
//   register's clock, or the clocks kavu_tesk_find_clock_domain finds behind
//   a gate). An output pin lists its drivers; a driving register with more
//   than one fan-out is reported with its fan-out count.
// Names are short hierarchy paths; a clock name is the name of the node that
//   drives a register's clock input. The file lists pins in name order; the
//   two summary tables in the order of their hash containers.
// Cost: O(I/O fan-out + the clock-domain walks behind unregistered gates).
#include <map>
#include <set>

#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_helper_summary.h"
#include "kavu_utility_tesk.h"
#include "kavu_utility_tesk_int.h"

using namespace kavu_tesk_detail;

namespace {

typedef std::multimap<std::string, std::string> EDGES;

bool is_report_register(CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_DFF_ENUM || kavu_is_a_registered_lcell(node);
}

std::string pair_key(const std::string& pin, const std::string& node) { return pin + " -> " + node; }

struct PIN_TABLES {
  EDGES m_inputs;
  EDGES m_outputs;
  ZTL_HASH<std::string, std::string> m_registered;
  ZTL_HASH<std::string, std::set<std::string>> m_recommended;
  ZTL_HASH<std::string, int> m_multi_fanout;
  ZTL_HASH<std::string, int> m_unregistered;
  std::set<std::string> m_combinational_drivers;  // pair keys (output pin, gate)
};

std::string clock_name(CDB_SGATE_NODE* reg) {
  CDB_SGATE_ITERM* clk_iterm = kavu_get_dff_clock(reg);
  KAVU_CHECK(clk_iterm);
  return tesk_driver_name(clk_iterm);
}

void collect_input_pin(CDB_SGATE_NODE* sgate, PIN_TABLES& t) {
  const std::string pin = tesk_node_name(sgate);
  for (unsigned k = 0; k < sgate->get_output_count(); ++k) {
    CDB_SGATE_OTERM* o = sgate->get_output_term(k);
    if (!o) continue;
    for (CDB_SGATE_ITERM* it : o->fanouts()) {
      CDB_SGATE_NODE* next_node = it->get_my_node();
      KAVU_CHECK(next_node);
      const unsigned port = it->get_port_type();
      const std::string dest = tesk_node_name(next_node);
      if (port != 7 && port != 35 && port != 36 && port != 6) t.m_inputs.emplace(pin, dest);
      const std::string key = pair_key(pin, dest);
      if (is_report_register(next_node)) {
        const std::string k_name = clock_name(next_node);
        if (port == 20 || k_name == pin) {
          t.m_registered[key] = k_name;
        } else {
          t.m_recommended[key].insert(k_name);
        }
      } else {
        std::set<std::string> visited, clocks;
        if (kavu_tesk_find_clock_domain(next_node, visited, clocks)) t.m_recommended[key] = clocks;
      }
    }
  }
}

void collect_output_pin(CDB_SGATE_NODE* sgate, PIN_TABLES& t) {
  KAVU_CHECK(sgate->is_output());
  const std::string pin = tesk_node_name(sgate);
  for (unsigned i = 0; i < sgate->get_number_of_input_terms(); ++i) {
    CDB_SGATE_OTERM* src = sgate->get_fanin_term(i);
    if (!src) continue;
    CDB_SGATE_NODE* next_node = src->get_my_node();
    KAVU_CHECK(next_node);
    const std::string driver = tesk_node_name(next_node);
    t.m_outputs.emplace(pin, driver);
    if (!is_report_register(next_node)) {
      t.m_combinational_drivers.insert(pair_key(pin, driver));
      continue;
    }
    const std::string k_name = clock_name(next_node);
    CDB_SGATE_OTERM* reg_out = kavu_get_dff_oterm(next_node);
    const unsigned fanout = reg_out ? reg_out->get_number_of_fanout() : 0;
    if (fanout > 1) {
      t.m_registered[pair_key(pin, driver)] = k_name;
      t.m_multi_fanout[pair_key(pin, driver)] = int(fanout);
    }
  }
}

void write_report(std::ostream& out, PIN_TABLES& t) {
  // Input pins, grouped by pin.
  unsigned input_pins = 0;
  std::string previous;
  int unregistered = 0;
  bool open = false;
  auto close_pin = [&]() {
    if (open && unregistered > 0) t.m_unregistered[previous] = unregistered;
  };
  for (auto it = t.m_inputs.begin(); it != t.m_inputs.end(); ++it) {
    const std::string& pin = it->first;
    if (!open || pin != previous) {
      close_pin();
      previous = pin;
      unregistered = 0;
      open = true;
      ++input_pins;
      out << "Input Pin: " << pin << " has " << t.m_inputs.count(pin) << " direct fanouts\n";
    }
    const std::string key = pair_key(pin, it->second);
    auto reg = t.m_registered.find(key);
    if (reg != t.m_registered.end()) {
      out << "    Registered: " << it->second << " belongs to " << reg->second << " clock domain\n";
      continue;
    }
    out << "    Node: " << it->second << " is not registered\n";
    ++unregistered;
    auto rec = t.m_recommended.find(key);
    if (rec != t.m_recommended.end())
      for (const std::string& clock : rec->second) out << "        recommended clock domain: " << clock << "\n";
  }
  close_pin();
  // Output pins.
  unsigned output_pins = 0;
  open = false;
  for (auto it = t.m_outputs.begin(); it != t.m_outputs.end(); ++it) {
    if (!open || it->first != previous) {
      previous = it->first;
      open = true;
      ++output_pins;
      out << "Output Pin: " << it->first << "\n";
    }
    const std::string key = pair_key(it->first, it->second);
    auto reg = t.m_registered.find(key);
    if (reg != t.m_registered.end()) {
      out << "    Registered: " << it->second << " belongs to " << reg->second << " clock domain\n";
    } else if (t.m_combinational_drivers.count(key)) {
      // A gate that is no register is not reported as registered.
      out << "    Node: " << it->second << " is not registered\n";
    } else {
      out << "    Registered: " << it->second << " with 1 direct path\n";
    }
  }
  out << "\n\n\n\n\n" << "Summary:\n";
  out << "Design has " << input_pins << " primary input pin(s).\n";
  out << "Design has following input pins that are unregistered:\n";
  unsigned high_inputs = 0;
  for (const auto& e : t.m_unregistered) {
    out << "Input Pin: " << e.first << " has " << e.second << " path(s) unregistered\n";
    if (e.second >= 21) ++high_inputs;
  }
  out << "Design has " << output_pins << " primary output pin(s).\n";
  out << "Design has following output pin register(s) that have multi-fanouts:\n";
  unsigned high_outputs = 0;
  for (const auto& e : t.m_multi_fanout) {
    out << "Output Pin: " << e.first << " has " << e.second << " path(s)\n";
    if (e.second >= 2) ++high_outputs;
  }
  out << "Design has " << high_inputs << " unregistered primary input pin(s) that have potential high-fanouts.\n";
  out << "Design has " << high_outputs
      << " primary output pin(s) that have potential high-fanouts register source.\n";
}

}  // namespace

bool kavu_tesk_verify_input_pin(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist != nullptr);
  PIN_TABLES t;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* sgate = *it;
    KAVU_CHECK(sgate != NULL);
    if (sgate->get_sgate_type() != CDB_SGATE_IO_ENUM) continue;
    if (sgate->is_input() || sgate->is_bidir()) {
      collect_input_pin(sgate, t);
    } else {
      collect_output_pin(sgate, t);
    }
  }
  std::orlind_ofstream out;
  out.open("tesk_verify_pins.txt");
  if (!out) return false;
  write_report(out, t);
  out.close();
  return !out.fail();
}
