// kavu_seq_mac_utility.cpp — register queries of MAC blocks.
//
// Model: a MAC atom's ports fall into register groups whose registering and
//   clock number (1 to 3) are atom settings; CUT_MAC_UNIFIED_UTIL decodes
//   them, and this file turns the answers into the library's terminal-level
//   queries. The clock number picks the block's clock input of port type
//   35, 36 or 778.
// Cost: O(1) per query; one utility object per call, as cheap as a pointer.
#include "kavu_seq_lutram_util.h"
#include "kavu_seq_mac_utility.h"

#include "cdb/cdb_sgate.h"
#include "cut/cut_mac.h"
#include "cfg/cfg.h"
#include "kavu_check.h"
#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "kavu_seq_timer.h"
#include "kavu_seq_timer_int.h"
#include "kavu_setup.h"

namespace {

const CDB_SGATE_WYSIWYG* mac_of(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr && sgate->is_wysiwyg() && sgate->cast_to_wysiwyg()->is_mac());
  return sgate->cast_to_wysiwyg();
}

}  // namespace

bool kavu_is_mac_input_registered(CDB_SGATE_ITERM* iterm, int output_port_type) {
  (void)output_port_type;  // part of the caller's question, not of the answer
  KAVU_CHECK(iterm != nullptr);
  const CDB_SGATE_WYSIWYG* mac = mac_of(iterm->get_my_node());
  CUT_MAC_UNIFIED_UTIL util;
  return util.is_input_port_registered(mac, iterm->get_port_type());
}

bool kavu_is_mac_output_registered(CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM** clock_iterm) {
  KAVU_CHECK(oterm != nullptr);
  const CDB_SGATE_WYSIWYG* mac = mac_of(oterm->get_my_node());
  CUT_MAC_UNIFIED_UTIL util;
  const bool registered = util.is_output_port_registered(mac, oterm->get_port_type());
  if (clock_iterm) {
    const int output_port_clock = util.get_output_port_clock(mac, oterm->get_port_type()) - 1;
    KAVU_CHECK((output_port_clock >= 0) && (output_port_clock < 3));
    *clock_iterm = mac->get_iterm_by_type(CUT_MAC_UNIFIED_UTIL::clock_port_of_number(output_port_clock + 1));
  }
  return registered;
}

// ---------------------------------------------------------------------------
// MAC records of the sequential timer
//
// Model: the three clocks are the clock inputs of clock numbers 1 to 3; a
//   registered port takes the clock of its group's clock number. A
//   registered port whose clock input is not driven is taken as unclocked,
//   with a debug line. Packing: the plain registers behind the unregistered
//   data outputs (when DATA_OUT_A is unregistered), and per unregistered
//   input port the plain single-fan-out registers driving it, all on one
//   clock; a port where one terminal fails packs nothing.

namespace {

constexpr DB_INPUT_PORT_TYPE MAC_INPUT_PORTS[KAVU_SEQ_MAC_NUM_INPUT_PORTS] = {
    408, 409, 3043, 410, 411, 3364, 3045, 3048, 3198, 3047, 3197, 3196, 543};
constexpr DB_OUTPUT_PORT_TYPE MAC_OUTPUT_PORTS[KAVU_SEQ_MAC_NUM_OUTPUT_PORTS] = {363, 364, 800};

bool source_driven(const CDB_SGATE_ITERM* i) { return i && i->is_connected() && i->get_source(); }

// The clock (source, inversion) of a register, when driven.
bool register_clock(const CDB_SGATE_NODE* r, const CDB_SGATE_OTERM** source, bool* inverted) {
  const CDB_SGATE_ITERM* clk = kavu_get_dff_clock(r);
  if (!source_driven(clk)) return false;
  *source = clk->get_source();
  *inverted = clk->is_inverted();
  return true;
}

}  // namespace

KAVU_SEQ_MAC_INFO::KAVU_SEQ_MAC_INFO(CDB_SGATE_NODE* mac, KAVU_SEQ_TIMER* timer) : m_timer(timer) {
  KAVU_CHECK(mac != nullptr && timer != nullptr && kavu_is_mac_node(mac));
  m_mac_node = mac->cast_to_wysiwyg();
  for (int k = 0; k < KAVU_SEQ_MAC_NUM_CLOCKS; ++k)
    m_clks[k] = kavu_seq_clock_id_of(timer, m_mac_node->get_iterm_by_type(CUT_MAC_UNIFIED_UTIL::clock_port_of_number(k + 1)));
  CUT_MAC_UNIFIED_UTIL util;
  const int id = int(mac->get_id());
  for (int i = 0; i < KAVU_SEQ_MAC_NUM_OUTPUT_PORTS; ++i) {
    m_outport_clks[i] = KAVU_SEQ_INVALID_CLOCK_ID;
    if (!util.is_output_port_registered(m_mac_node, MAC_OUTPUT_PORTS[i])) continue;
    const int output_port_clock = util.get_output_port_clock(m_mac_node, MAC_OUTPUT_PORTS[i]) - 1;
    KAVU_CHECK((output_port_clock >= 0) && (output_port_clock < 3));
    m_outport_clks[i] = m_clks[output_port_clock];
    if (m_outport_clks[i] == KAVU_SEQ_INVALID_CLOCK_ID)
      kavu_debug("KAVU_SEQ: MAC (sgate ID=%d) output port %s is registered on an undriven clock; taken as unclocked.",
                 id, kavu_mac_output_port_names()[size_t(i)].c_str());
  }
  for (int i = 0; i < KAVU_SEQ_MAC_NUM_INPUT_PORTS; ++i) {
    m_inport_clks[i] = KAVU_SEQ_INVALID_CLOCK_ID;
    if (!util.is_input_port_registered(m_mac_node, MAC_INPUT_PORTS[i])) continue;
    const int input_port_clock = util.get_input_port_clock(m_mac_node, MAC_INPUT_PORTS[i]) - 1;
    KAVU_CHECK((input_port_clock >= 0) && (input_port_clock < 3));
    m_inport_clks[i] = m_clks[input_port_clock];
    if (m_inport_clks[i] == KAVU_SEQ_INVALID_CLOCK_ID)
      kavu_debug("KAVU_SEQ: MAC (sgate ID=%d) input port %s is registered on an undriven clock; taken as unclocked.",
                 id, kavu_mac_input_port_names()[size_t(i)].c_str());
  }
  if (!cfg_is_on("kavu_seq_pack_reg_to_mac", true)) return;
  if (m_outport_clks[0] == KAVU_SEQ_INVALID_CLOCK_ID) pack_output_registers();
  pack_input_registers();
}

int KAVU_SEQ_MAC_INFO::get_input_port_clock(const CDB_SGATE_ITERM* iterm) const {
  for (int i = 0; i < KAVU_SEQ_MAC_NUM_INPUT_PORTS - 1; ++i)
    if (MAC_INPUT_PORTS[i] == iterm->get_port_type()) return m_inport_clks[i];
  return KAVU_SEQ_INVALID_CLOCK_ID;
}

int KAVU_SEQ_MAC_INFO::get_output_port_clock(const CDB_SGATE_OTERM* oterm) const {
  for (int i = 0; i < KAVU_SEQ_MAC_NUM_OUTPUT_PORTS; ++i)
    if (MAC_OUTPUT_PORTS[i] == oterm->get_port_type()) return m_outport_clks[i];
  return KAVU_SEQ_INVALID_CLOCK_ID;
}

void KAVU_SEQ_MAC_INFO::pack_output_registers() {
  CUT_MAC_UNIFIED_UTIL util;
  std::vector<CDB_SGATE_NODE*> regs;
  const CDB_SGATE_OTERM* clock = nullptr;
  bool inverted = false;
  for (CDB_SGATE_OTERM* o : m_mac_node->get_output_terms()) {
    if (!o || !o->has_fanout()) continue;
    const DB_OUTPUT_PORT_TYPE t = o->get_port_type();
    if ((t != 363 && t != 364) || util.is_output_port_registered(m_mac_node, t)) continue;
    for (CDB_SGATE_ITERM* fi : o->fanouts()) {
      CDB_SGATE_NODE* r = fi->get_my_node();
      const CDB_SGATE_OTERM* src;
      bool inv;
      if (!kavu_seq_is_plain_register(r) || fi != kavu_get_dff_data(r) || !register_clock(r, &src, &inv)) return;
      if (!clock) {
        clock = src;
        inverted = inv;
      } else if (clock != src || inverted != inv) {
        return;
      }
      regs.push_back(r);
    }
  }
  for (CDB_SGATE_NODE* r : regs) r->get_flag().set(KAVU_SEQ_MAC_PACKED);
}

void KAVU_SEQ_MAC_INFO::pack_input_registers() {
  CUT_MAC_UNIFIED_UTIL util;
  // Port types in order of first sight, with their terminals in input order.
  std::vector<std::pair<DB_INPUT_PORT_TYPE, std::vector<const CDB_SGATE_ITERM*>>> groups;
  for (const CDB_SGATE_ITERM* i : m_mac_node->get_input_terms()) {
    if (!i) continue;
    const bool connected = i->get_source() || (!i->is_connected() && i->get_parent_input() && cdb_is_parent_connected(i));
    if (!connected || util.is_input_port_registered(m_mac_node, i->get_port_type())) continue;
    auto g = std::find_if(groups.begin(), groups.end(), [&](const auto& e) { return e.first == i->get_port_type(); });
    if (g == groups.end()) {
      groups.push_back({i->get_port_type(), {}});
      g = groups.end() - 1;
    }
    g->second.push_back(i);
  }
  std::vector<CDB_SGATE_NODE*> collected;
  for (const auto& group : groups) {
    std::vector<CDB_SGATE_NODE*> regs;
    const CDB_SGATE_OTERM* clock = nullptr;
    bool inverted = false;
    bool ok = true;
    for (const CDB_SGATE_ITERM* i : group.second) {
      const CDB_SGATE_OTERM* d = i->get_source();
      CDB_SGATE_NODE* r = d ? d->get_my_node() : nullptr;
      const CDB_SGATE_OTERM* src;
      bool inv;
      if (!r || !kavu_seq_is_plain_register(r) || d != kavu_get_dff_oterm(r) || !d->has_fanout_exactly(1) ||
          !register_clock(r, &src, &inv) || (clock && (clock != src || inverted != inv))) {
        ok = false;
        break;
      }
      clock = src;
      inverted = inv;
      regs.push_back(r);
    }
    if (ok) collected.insert(collected.end(), regs.begin(), regs.end());
  }
  for (CDB_SGATE_NODE* r : collected) r->get_flag().set(KAVU_SEQ_MAC_PACKED);
}

void KAVU_SEQ_MAC_INFO::collect_input_sources(int clock_id, std::vector<CDB_SGATE_OTERM*>& sources) const {
  for (int k = 0; k < KAVU_SEQ_MAC_NUM_INPUT_PORTS; ++k) {
    if (m_inport_clks[k] != clock_id && m_inport_clks[k] != KAVU_SEQ_INVALID_CLOCK_ID) continue;
    std::set<CDB_SGATE_OTERM*> seen;
    for (CDB_SGATE_ITERM* i : m_mac_node->get_input_terms())
      if (i && i->get_port_type() == MAC_INPUT_PORTS[k] && source_driven(i) && seen.insert(i->get_source()).second)
        sources.push_back(i->get_source());
  }
}

void KAVU_SEQ_MAC_INFO::dump(std::ostream& os) const {
  KAVU_CHECK(m_mac_node != NULL);
  os << "Node :" << m_mac_node->get_string_hpath() << ", ID = " << m_mac_node->get_id() << std::endl;
  os << "MAC SEQ CLOCKs: [";
  for (int c : m_clks) os << c << " ";
  os << "]" << std::endl;
  auto line = [&](const std::string& name, int clk) {
    os << name << " \t" << clk;
    if (clk == KAVU_SEQ_INVALID_CLOCK_ID) os << " \tNotRegistered";
    os << std::endl;
  };
  os << "MAC Input Port Clocks: " << std::endl;
  for (int k = 0; k < KAVU_SEQ_MAC_NUM_INPUT_PORTS; ++k) line(kavu_mac_input_port_names()[size_t(k)], m_inport_clks[k]);
  os << "MAC Output Port Clocks: " << std::endl;
  for (int k = 0; k < KAVU_SEQ_MAC_NUM_OUTPUT_PORTS; ++k) line(kavu_mac_output_port_names()[size_t(k)], m_outport_clks[k]);
}

void kavu_seq_delete_mac_infos(KAVU_SEQ_MAC_INFO_MAP& infos) {
  for (auto it = infos.begin(); it != infos.end(); ++it) delete it->second;
  infos.clear();
  KAVU_CHECK(infos.empty());
}

void kavu_seq_dump_mac_infos(const KAVU_SEQ_MAC_INFO_MAP& infos, const std::string& file) {
  kavu_debug("Write to file %s", file.c_str());
  std::orlind_ofstream os(file.c_str());
  os << "MAC INFO Table for seq timer" << std::endl << std::endl;
  int counter = 0;
  for (auto it = infos.begin(); it != infos.end(); ++it) {
    os << "[" << counter++ << "] ";
    it->second->dump(os);
  }
}
