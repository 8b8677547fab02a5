// kavu_seq_ram_util.cpp — RAM-block records of the sequential timer.
//
// Model: a RAM block has two ports. Clock 0 (input 35) clocks port A, clock 1
//   (input 36) clocks port B when port B's mode set holds member 45, and
//   port A's clock otherwise; an output is registered under mode member 9,
//   on clock 1 under member 27, else on port A's clock. An undriven clock 0
//   makes port A read only (clock -1); a mode that asks for clock 1 while it
//   is undriven is taken as unclocked, with a debug line.
// Packing: at an unregistered port, the plain registers that all of the
//   port's data outputs feed are marked RAM packed when they share one clock
//   (source and inversion); one register that does not fit leaves the whole
//   port unmarked.
// Cost: O(fan-out of the port's data outputs) per record.
#include <cstdio>
#include <fstream>
#include <set>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_msg.h"
#include "kavu_seq_timer.h"
#include "kavu_seq_timer_int.h"

namespace {

constexpr unsigned RAM_REGISTERED = 9;
constexpr unsigned RAM_OUTPUT_ON_CLOCK1 = 27;
constexpr unsigned RAM_PORT_B_OWN_CLOCK = 45;

bool driven(const CDB_SGATE_ITERM* i) { return i && i->is_connected() && i->get_source(); }

bool is_port_a_input(DB_INPUT_PORT_TYPE t) { return t == 83 || (t >= 88 && t <= 94) || t == 109; }
bool is_port_b_input(DB_INPUT_PORT_TYPE t) { return t == 95 || (t >= 100 && t <= 106) || t == 110; }

// The plain registers every fan-out of the outputs leads to, when they share
// one clock; false when any fan-out fails.
bool registers_on_one_clock(const std::vector<CDB_SGATE_OTERM*>& outputs, std::vector<CDB_SGATE_NODE*>& regs) {
  const CDB_SGATE_OTERM* clock = nullptr;
  bool inverted = false;
  for (CDB_SGATE_OTERM* o : outputs) {
    for (CDB_SGATE_ITERM* fi : o->fanouts()) {
      CDB_SGATE_NODE* r = fi->get_my_node();
      if (!kavu_seq_is_plain_register(r) || fi != kavu_get_dff_data(r)) return false;
      const CDB_SGATE_ITERM* clk = kavu_get_dff_clock(r);
      if (!driven(clk)) return false;
      if (!clock) {
        clock = clk->get_source();
        inverted = clk->is_inverted();
      } else if (clock != clk->get_source() || inverted != clk->is_inverted()) {
        return false;
      }
      regs.push_back(r);
    }
  }
  return true;
}

}  // namespace

int kavu_seq_clock_id_of(KAVU_SEQ_TIMER* timer, const CDB_SGATE_ITERM* clk) {
  if (!driven(clk)) return KAVU_SEQ_INVALID_CLOCK_ID;
  KAVU_SEQ_CLOCK* clock = new KAVU_SEQ_CLOCK(clk->get_source(), clk->is_inverted());
  bool created = false;
  const int id = timer->get_or_create_clock_id(clock, created);
  if (!created) delete clock;
  return id;
}

KAVU_SEQ_RAM_INFO::KAVU_SEQ_RAM_INFO(CDB_SGATE_NODE* ram, KAVU_SEQ_TIMER* timer) {
  const bool pack = cfg_is_on("kavu_seq_timer_pack_to_ram", true);
  KAVU_CHECK(ram != nullptr && timer != nullptr);
  const bool is_ram = kavu_is_ram_node(ram);
  KAVU_CHECK(is_ram == true);
  const CDB_SGATE_TYPE type = ram->get_sgate_type();
  KAVU_CHECK(type == CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM);
  m_ram_node = ram->cast_to_wysiwyg_ram_block();
  KAVU_CHECK(m_ram_node != nullptr);
  const CDB_SGATE_ITERM* clk0 = m_ram_node->get_iterm_by_type(35);
  const CDB_SGATE_ITERM* clk1 = m_ram_node->get_iterm_by_type(36);
  const int id = int(ram->get_id());
  m_in_port_a_clk = kavu_seq_clock_id_of(timer, clk0);
  if (m_in_port_a_clk == KAVU_SEQ_INVALID_CLOCK_ID) kavu_debug("KAVU_SEQ: RAM (sgate ID=%d) A ports are read only.", id);
  // Clock 1 where a mode asks for it; an undriven clock 1 is no clock.
  auto clock1 = [&](const char* what) {
    const int clk1_id = kavu_seq_clock_id_of(timer, clk1);
    if (clk1_id == KAVU_SEQ_INVALID_CLOCK_ID)
      kavu_debug("KAVU_SEQ: RAM (sgate ID=%d) %s uses clock 1, which is not driven; taken as unclocked.", id, what);
    return clk1_id;
  };
  const CDB_SGATE_WYSIWYG_RAM_BLOCK::RAM_MODE_SET& mode_a = m_ram_node->get_ram_mode(CDB_RAM_PORT_A);
  const CDB_SGATE_WYSIWYG_RAM_BLOCK::RAM_MODE_SET& mode_b = m_ram_node->get_ram_mode(CDB_RAM_PORT_B);
  m_in_port_b_clk = mode_b.test(RAM_PORT_B_OWN_CLOCK) ? clock1("input port B") : m_in_port_a_clk;
  auto outputs = [&](const CDB_SGATE_WYSIWYG_RAM_BLOCK::RAM_MODE_SET& mode, bool& registered, std::vector<int>& clks,
                     const char* what) {
    registered = mode.test(RAM_REGISTERED);
    if (registered) {
      clks.push_back(mode.test(RAM_OUTPUT_ON_CLOCK1) ? clock1(what) : m_in_port_a_clk);
      return;
    }
    clks.push_back(m_in_port_a_clk);
    if (m_in_port_b_clk != KAVU_SEQ_INVALID_CLOCK_ID && m_in_port_b_clk != m_in_port_a_clk)
      clks.push_back(m_in_port_b_clk);
  };
  outputs(mode_a, m_out_port_a_registered, m_out_port_a_clks, "output port A");
  outputs(mode_b, m_out_port_b_registered, m_out_port_b_clks, "output port B");
  if (!pack) return;
  if (!m_out_port_a_registered) pack_registers(false, timer);
  if (!m_out_port_b_registered) pack_registers(true, timer);
}

void KAVU_SEQ_RAM_INFO::pack_registers(bool port_b, KAVU_SEQ_TIMER*) {
  std::vector<CDB_SGATE_OTERM*> outputs;
  for (CDB_SGATE_OTERM* o : m_ram_node->get_output_terms()) {
    if (!o || !o->has_fanout()) continue;
    const DB_OUTPUT_PORT_TYPE t = o->get_port_type();
    if (port_b ? (t == 42 || t == 513) : t == 41) outputs.push_back(o);
  }
  std::vector<CDB_SGATE_NODE*> regs;
  if (!registers_on_one_clock(outputs, regs)) return;
  for (CDB_SGATE_NODE* r : regs) r->get_flag().set(KAVU_SEQ_RAM_PACKED);
  if (!cfg_is_on("kavu_seq_timer_reg_ram_mark", false)) return;
  int total = 0;
  for (CDB_SGATE_NODE* r : regs)
    if (!kavu_seq_timer_is_register_ram_packed(r)) ++total;
  if (total) {
    char text[96];
    std::snprintf(text, sizeof text, "RAM packing attributes on registers are wrong (total = %d)", total);
    KAVU_INTERNAL_ERROR(text);
  }
}

namespace {
// Constant-initialised: nothing to make at a first use.
constinit const std::vector<int> g_no_clocks;
}  // namespace

const std::vector<int>& KAVU_SEQ_RAM_INFO::get_output_port_clocks(const CDB_SGATE_OTERM* oterm) const {
  const std::vector<int>& none = g_no_clocks;
  const DB_OUTPUT_PORT_TYPE t = oterm->get_port_type();
  if (t == 41) return m_out_port_a_clks;
  if (t == 42 || t == 513) return m_out_port_b_clks;
  return none;
}

void KAVU_SEQ_RAM_INFO::collect_input_sources(int clock_id, std::vector<CDB_SGATE_OTERM*>& sources) const {
  const bool a = m_in_port_a_clk == clock_id;
  const bool b = m_in_port_b_clk == clock_id && !a;
  const bool both = a && m_in_port_b_clk == m_in_port_a_clk;
  if (!a && !b) return;
  std::set<CDB_SGATE_OTERM*> seen;
  for (CDB_SGATE_ITERM* i : m_ram_node->get_input_terms()) {
    if (!driven(i)) continue;
    const DB_INPUT_PORT_TYPE t = i->get_port_type();
    const bool take = ((a || both) && is_port_a_input(t)) || ((b || both) && is_port_b_input(t));
    if (take && seen.insert(i->get_source()).second) sources.push_back(i->get_source());
  }
}

void KAVU_SEQ_RAM_INFO::get_all_clock_ids(std::vector<int>& ids) const {
  std::set<int> seen;
  auto add = [&](int id) {
    if (id != KAVU_SEQ_INVALID_CLOCK_ID && seen.insert(id).second) ids.push_back(id);
  };
  add(m_in_port_a_clk);
  add(m_in_port_b_clk);
  for (int id : m_out_port_a_clks) add(id);
  for (int id : m_out_port_b_clks) add(id);
}

void KAVU_SEQ_RAM_INFO::dump(std::ostream& os) const {
  if (!m_ram_node) {
    os << "RAM node = NULL" << std::endl << std::endl;
    return;
  }
  os << "RAM node name = " << m_ram_node->get_string_hpath() << ", ID = " << m_ram_node->get_id() << std::endl;
  os << " * Input Port A clock ID = " << m_in_port_a_clk << std::endl;
  os << " * Input Port B clock ID = " << m_in_port_b_clk << std::endl;
  auto port = [&](const char* name, bool registered, const std::vector<int>& clks) {
    os << " * Output Port " << name << " is registered : " << (registered ? "Y" : "N") << std::endl;
    os << " * Output Port " << name << " clock size = " << clks.size() << std::endl;
    for (size_t k = 0; k < clks.size(); ++k) os << "   [" << k << "] " << clks[k] << std::endl;
  };
  port("A", m_out_port_a_registered, m_out_port_a_clks);
  port("B", m_out_port_b_registered, m_out_port_b_clks);
  os << std::endl;
}

void kavu_seq_delete_ram_infos(KAVU_SEQ_RAM_INFO_MAP& infos) {
  for (auto it = infos.begin(); it != infos.end(); ++it) delete it->second;
  infos.clear();
  KAVU_CHECK(infos.empty());
}

void kavu_seq_dump_ram_infos(const KAVU_SEQ_RAM_INFO_MAP& infos, const std::string& file) {
  std::orlind_ofstream os(file.c_str());
  int counter = 0;
  for (auto it = infos.begin(); it != infos.end(); ++it) {
    os << "RAM INFO [" << counter++ << "]" << std::endl;
    it->second->dump(os);
  }
}
