// sim_blocks.cpp — simulation models of RAM blocks, MAC blocks and LUT RAMs
// (model in sim_blocks.h).
#include "netlist_io/sim_blocks.h"

#include <algorithm>

#include "cdb/cdb_sgate.h"
#include "cut/cut_mac.h"
#include "gen/gen.h"

namespace kavu_platform {

namespace {

constexpr unsigned MAC_OUT_BITS = 37;
constexpr uint64_t MAC_OUT_MASK = (1ull << MAC_OUT_BITS) - 1;
constexpr unsigned RAM_MAX_BITS = 8;

bool driven(const CDB_SGATE_ITERM* t) { return t && t->is_connected() && t->get_source(); }

bool in_list(uint16_t type, std::initializer_list<uint16_t> list) {
  return std::find(list.begin(), list.end(), type) != list.end();
}

// A connected input whose port the model does not read: the model refuses.
bool refuse_others(const CDB_SGATE_WYSIWYG* atom, std::initializer_list<uint16_t> read, std::string* why) {
  for (const CDB_SGATE_ITERM* t : atom->get_input_terms()) {
    if (!t || !t->is_connected() || in_list(t->get_port_type(), read)) continue;
    *why = "port " + std::to_string(t->get_port_type()) + " of " + atom->get_string_hpath() + " is not simulated";
    return false;
  }
  return true;
}

}  // namespace

uint64_t SIM_BLOCK::lane_value(const uint64_t* in, const PORT& p, unsigned lane) const {
  uint64_t v = 0;
  for (unsigned b = 0; b < p.m_width; ++b) v |= ((in[p.m_first + b] >> lane) & 1) << b;
  return v;
}

bool SIM_BLOCK::compile(const CDB_SGATE_WYSIWYG* atom, std::vector<const CDB_SGATE_ITERM*>& inputs,
                        std::vector<const CDB_SGATE_OTERM*>& outputs, std::string* why) {
  inputs.clear();
  outputs.clear();
  auto port = [&](uint16_t type, unsigned width) {
    PORT p{unsigned(inputs.size()), width};
    for (unsigned b = 0; b < width; ++b) inputs.push_back(atom->get_iterm_by_type(type, b));
    return p;
  };
  auto clocked = [&](uint16_t type) { return driven(atom->get_iterm_by_type(type)); };
  if (atom->is_mac()) {
    m_kind = MAC;
    if (!refuse_others(atom, {408, 409, 410, 411, 543, 3198, 3047, 35, 36, 778}, why)) return false;
    m_ax = port(408, 27);
    m_ay = port(409, 19);
    m_bx = port(410, 18);
    m_by = port(411, 19);
    m_chain = port(543, 64);
    m_data_words = unsigned(inputs.size());
    m_sub = port(3198, 1);
    m_neg = port(3047, 1);
    m_control_words = unsigned(inputs.size()) - m_data_words;
    CUT_MAC_UNIFIED_UTIL util;
    m_data_reg = util.is_input_port_registered(atom, 408);
    m_control_reg = util.is_input_port_registered(atom, 3047);
    m_out_reg = util.is_output_port_registered(atom, 363);
    m_data_clocked = clocked(CUT_MAC_UNIFIED_UTIL::clock_port_of_number(util.get_input_port_clock(atom, 408)));
    m_control_clocked = clocked(CUT_MAC_UNIFIED_UTIL::clock_port_of_number(util.get_input_port_clock(atom, 3047)));
    m_out_clocked = clocked(CUT_MAC_UNIFIED_UTIL::clock_port_of_number(util.get_output_port_clock(atom, 363)));
    m_comb.assign(inputs.size(), false);
    for (unsigned k = 0; k < inputs.size(); ++k)
      m_comb[k] = !m_out_reg && (k < m_data_words ? !m_data_reg : !m_control_reg);
    for (unsigned k = 0; k < atom->get_output_count(); ++k) {
      const CDB_SGATE_OTERM* o = atom->get_output_term(k);
      if (!o) continue;
      const uint16_t t = o->get_port_type();
      const int base = t == 363 ? 0 : t == 364 ? 64 : 128;
      outputs.push_back(o);
      m_out_map.push_back(base + int(o->get_port_index()));
    }
  } else if (atom->is_lutram()) {
    m_kind = LUTRAM;
    if (!refuse_others(atom, {410, 41, 42, 83, 6, 7, 35, 36}, why)) return false;
    m_din[0] = port(410, 1);
    m_addr[0] = port(41, 5);  // write address
    m_addr[1] = port(42, 5);  // read address
    m_we[0] = port(83, 1);
    m_aclr = port(6, 1);
    m_words = 32;
    m_bits = 1;
    m_write_clocked[0] = clocked(35) || clocked(7);
    const char* out_clock = cut_get_atom_parameter(atom, WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK);
    const char* out_clear = cut_get_atom_parameter(atom, WYS_PIREL_EC_PORT_B_DATA_OUT_CLEAR);
    m_registered[1] = out_clock && gen_stricmp(out_clock, WYS_DV_CLOCK1) == 0;
    m_read_clocked[1] = clocked(36);
    m_sync_clear = out_clear && gen_stricmp(out_clear, WYS_PIREL_SCLEAR) == 0;
    const bool clear_used = atom->get_iterm_by_type(6) && atom->get_iterm_by_type(6)->is_connected();
    if (clear_used && !m_registered[1]) {
      *why = "the clear of unregistered LUT RAM " + atom->get_string_hpath() + " is not simulated";
      return false;
    }
    m_comb.assign(inputs.size(), false);
    for (unsigned b = 0; b < m_addr[1].m_width; ++b) m_comb[m_addr[1].m_first + b] = !m_registered[1];
    m_comb[m_aclr.m_first] = m_registered[1] && !m_sync_clear;
    for (unsigned k = 0; k < atom->get_output_count(); ++k) {
      const CDB_SGATE_OTERM* o = atom->get_output_term(k);
      if (!o) continue;
      outputs.push_back(o);
      m_out_port.push_back(1);
      m_out_bit.push_back(0);
    }
  } else if (atom->is_ram()) {
    m_kind = RAM;
    if (!refuse_others(atom, {35, 36, 83, 88, 89, 95, 100, 101}, why)) return false;
    const kavu_platform::ATOM_CATALOGUE_ENTRY& row = atom->get_catalogue_entry();
    auto width = [&](uint16_t type) {
      unsigned w = row.input_width(type) ? std::min<unsigned>(row.input_width(type), RAM_MAX_BITS) : 1;
      unsigned used = 0;
      for (unsigned b = 0; b < w; ++b)
        if (atom->get_iterm_by_type(type, b)) used = b + 1;
      return used;
    };
    const uint16_t we[2] = {83, 95}, din[2] = {88, 100}, addr[2] = {89, 101};
    unsigned abits = 0;
    m_bits = 1;
    for (int p = 0; p < 2; ++p) {
      m_we[p] = port(we[p], 1);
      m_din[p] = port(din[p], width(din[p]));
      m_addr[p] = port(addr[p], width(addr[p]));
      abits = std::max(abits, m_addr[p].m_width);
      m_bits = std::max(m_bits, m_din[p].m_width);
    }
    m_words = 1u << abits;
    const CDB_SGATE_WYSIWYG_RAM_BLOCK* ram = atom->cast_to_wysiwyg_ram_block();
    auto mode = [&](unsigned flag, unsigned p) { return ram && ram->ram_mode_is(flag, p); };
    m_write_clocked[0] = clocked(35);
    m_write_clocked[1] = mode(45, CDB_RAM_PORT_B) ? clocked(36) : clocked(35);
    for (unsigned p = 0; p < 2; ++p) {
      m_registered[p] = mode(9, p);
      m_read_clocked[p] = mode(27, p) ? clocked(36) : clocked(35);
    }
    m_comb.assign(inputs.size(), false);
    for (int p = 0; p < 2; ++p)
      for (unsigned b = 0; b < m_addr[p].m_width; ++b) m_comb[m_addr[p].m_first + b] = !m_registered[p];
    for (unsigned k = 0; k < atom->get_output_count(); ++k) {
      const CDB_SGATE_OTERM* o = atom->get_output_term(k);
      if (!o) continue;
      const uint16_t t = o->get_port_type();
      if (t != 41 && t != 42) {
        *why = "output " + std::to_string(t) + " of RAM " + atom->get_string_hpath() + " is not simulated";
        return false;
      }
      outputs.push_back(o);
      m_out_port.push_back(t == 41 ? 0 : 1);
      m_out_bit.push_back(int(o->get_port_index()));
    }
  } else {
    *why = "atom " + atom->get_string_hpath() + " is no RAM, MAC or LUT RAM";
    return false;
  }
  reset();
  return true;
}

void SIM_BLOCK::reset() {
  m_data_state.assign(m_data_words, 0);
  m_control_state.assign(m_control_words, 0);
  m_out_state.assign(192, 0);
  m_mem.assign(size_t(m_words) * m_bits, 0);
  m_read_state.assign(2 * RAM_MAX_BITS, 0);
}

// The 192 result words (A at 0, B at 64, chain at 128) of the given data and
// control words.
void SIM_BLOCK::mac_outputs(const uint64_t* data, const uint64_t* control, uint64_t* res) const {
  std::fill(res, res + 192, 0);
  const PORT sub{0, 1}, neg{1, 1};
  for (unsigned lane = 0; lane < 64; ++lane) {
    const uint64_t a = (lane_value(data, m_ax, lane) * lane_value(data, m_ay, lane)) & MAC_OUT_MASK;
    const uint64_t b = (lane_value(data, m_bx, lane) * lane_value(data, m_by, lane)) & MAC_OUT_MASK;
    uint64_t s = lane_value(control, sub, lane) ? a - b : a + b;
    if (lane_value(control, neg, lane)) s = ~s + 1;
    const uint64_t c = lane_value(data, m_chain, lane) + s;
    for (unsigned bit = 0; bit < MAC_OUT_BITS; ++bit) {
      res[bit] |= ((a >> bit) & 1) << lane;
      res[64 + bit] |= ((b >> bit) & 1) << lane;
    }
    for (unsigned bit = 0; bit < 64; ++bit) res[128 + bit] |= ((c >> bit) & 1) << lane;
  }
}

void SIM_BLOCK::ram_read(unsigned p, const uint64_t* in, uint64_t* bits) const {
  std::fill(bits, bits + RAM_MAX_BITS, 0);
  for (unsigned lane = 0; lane < 64; ++lane) {
    const uint64_t word = lane_value(in, m_addr[p], lane) & (m_words - 1);
    for (unsigned b = 0; b < m_bits; ++b) bits[b] |= ((m_mem[word * m_bits + b] >> lane) & 1) << lane;
  }
}

void SIM_BLOCK::eval(const uint64_t* in, uint64_t* out) const {
  if (m_kind == MAC) {
    uint64_t res[192];
    const uint64_t* res_words = res;
    if (m_out_reg) {
      res_words = m_out_state.data();
    } else {
      const uint64_t* data = m_data_reg ? m_data_state.data() : in;
      const uint64_t* control = m_control_reg ? m_control_state.data() : in + m_data_words;
      mac_outputs(data, control, res);
    }
    for (size_t k = 0; k < m_out_map.size(); ++k) {
      const int bit = m_out_map[k];
      out[k] = (bit % 64) < int(bit < 128 ? MAC_OUT_BITS : 64) ? res_words[bit] : 0;
    }
    return;
  }
  uint64_t bits[2][RAM_MAX_BITS];
  for (unsigned p = 0; p < 2; ++p) {
    if (m_registered[p]) {
      std::copy(m_read_state.begin() + p * RAM_MAX_BITS, m_read_state.begin() + (p + 1) * RAM_MAX_BITS, bits[p]);
      if (m_kind == LUTRAM && !m_sync_clear) bits[p][0] &= ~in[m_aclr.m_first];
    } else if (m_addr[p].m_width || m_kind == RAM) {
      ram_read(p, in, bits[p]);
    } else {
      std::fill(bits[p], bits[p] + RAM_MAX_BITS, 0);
    }
  }
  for (size_t k = 0; k < m_out_port.size(); ++k)
    out[k] = unsigned(m_out_bit[k]) < m_bits ? bits[m_out_port[k]][m_out_bit[k]] : 0;
}

void SIM_BLOCK::capture(const uint64_t* in) {
  if (m_kind == MAC) {
    if (m_out_reg && m_out_clocked) {
      uint64_t res[192];
      mac_outputs(m_data_reg ? m_data_state.data() : in, m_control_reg ? m_control_state.data() : in + m_data_words,
                  res);
      std::copy(res, res + 192, m_out_state.begin());
    }
    if (m_data_reg && m_data_clocked) std::copy(in, in + m_data_words, m_data_state.begin());
    if (m_control_reg && m_control_clocked)
      std::copy(in + m_data_words, in + m_data_words + m_control_words, m_control_state.begin());
    return;
  }
  // Registered reads see the memory before this clock's writes.
  for (unsigned p = 0; p < 2; ++p) {
    if (!m_registered[p] || !m_read_clocked[p]) continue;
    uint64_t bits[RAM_MAX_BITS];
    ram_read(p, in, bits);
    if (m_kind == LUTRAM && m_sync_clear) bits[0] &= ~in[m_aclr.m_first];
    std::copy(bits, bits + RAM_MAX_BITS, m_read_state.begin() + p * RAM_MAX_BITS);
  }
  const unsigned ports = m_kind == LUTRAM ? 1 : 2;
  for (unsigned p = 0; p < ports; ++p) {
    if (!m_write_clocked[p]) continue;
    const PORT& waddr = m_kind == LUTRAM ? m_addr[0] : m_addr[p];
    for (unsigned lane = 0; lane < 64; ++lane) {
      if (!((in[m_we[p].m_first] >> lane) & 1)) continue;
      const uint64_t word = lane_value(in, waddr, lane) & (m_words - 1);
      for (unsigned b = 0; b < m_bits; ++b) {
        const uint64_t bit = b < m_din[p].m_width ? (in[m_din[p].m_first + b] >> lane) & 1 : 0;
        uint64_t& cell = m_mem[word * m_bits + b];
        cell = (cell & ~(1ull << lane)) | (bit << lane);
      }
    }
  }
}

}  // namespace kavu_platform
