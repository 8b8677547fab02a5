// cdb_sgate_ram.cpp — RAM gates: fields, terminals by port type, cloning.
//
// Lookups treat 36 and 96 as one port type (the port-B clock), and add_iterm
// stores that port as 96, so a RAM never holds the clock under both numbers.
#include "cdb/cdb_sgate_ram.h"

#include "msg/msg.h"

namespace kavu_platform {
namespace {

uint16_t stored_port_type(DB_INPUT_PORT_TYPE type) {
  return type == DB_PORT_RAM_PORTB_CLK ? uint16_t(DB_PORT_RAM_PORTB_CLK_STORED) : type;
}

}  // namespace

int RAM_GATE::get_size_parameter(unsigned i) const {
  PLAT_CHECK(i < kNumSizeParameters, "CDB");
  return m_size[i];
}

void RAM_GATE::set_size_parameter(unsigned i, int value) {
  PLAT_CHECK(i < kNumSizeParameters, "CDB");
  m_size[i] = value;
}

uint32_t RAM_GATE::get_mode_word(unsigned i) const {
  PLAT_CHECK(i < 2, "CDB");
  return m_mode[i];
}

void RAM_GATE::set_mode_word(unsigned i, uint32_t value) {
  PLAT_CHECK(i < 2, "CDB");
  m_mode[i] = value;
}

CDB_SGATE_ITERM* RAM_GATE::get_iterm_by_type(DB_INPUT_PORT_TYPE type, unsigned i) const {
  const uint16_t want = stored_port_type(type);
  for (unsigned s = 0; s < get_number_of_input_terms(); ++s) {
    CDB_SGATE_ITERM* t = get_input_term(s);
    if (t && stored_port_type(t->get_port_type()) == want && t->get_port_index() == i) return t;
  }
  return nullptr;
}

CDB_SGATE_OTERM* RAM_GATE::get_oterm_by_type(DB_OUTPUT_PORT_TYPE type, unsigned i) const {
  for (unsigned s = 0; s < get_output_count(); ++s) {
    CDB_SGATE_OTERM* t = get_output_term(s);
    if (t && t->get_port_type() == type && t->get_port_index() == i) return t;
  }
  return nullptr;
}

CDB_SGATE_ITERM* RAM_GATE::add_iterm(DB_INPUT_PORT_TYPE type, unsigned i) {
  PLAT_CHECK(get_iterm_by_type(type, i) == nullptr, "CDB");
  CDB_SGATE_ITERM* t = create_input_term(nullptr, stored_port_type(type));
  t->set_port_index(i);
  insert_unordered_fanin_term(t);
  return t;
}

CDB_SGATE_OTERM* RAM_GATE::add_oterm(DB_OUTPUT_PORT_TYPE type, unsigned i) {
  PLAT_CHECK(get_oterm_by_type(type, i) == nullptr, "CDB");
  CDB_SGATE_OTERM* t = create_output_term(nullptr, type);
  t->set_port_index(i);
  insert_unordered_fanout_term(t);
  return t;
}

void RAM_GATE::clone_ram_into(RAM_GATE* copy, int clone_type) const {
  for (unsigned i = 0; i < kNumSizeParameters; ++i) copy->m_size[i] = m_size[i];
  copy->m_mode[0] = m_mode[0];
  copy->m_mode[1] = m_mode[1];
  copy->m_mif_file = m_mif_file;
  copy->m_block_type = m_block_type;
  clone_base_into(copy, clone_type);
}

}  // namespace kavu_platform

void CDB_SGATE_ASYNCHRONOUS_RAM::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_ASYNCHRONOUS_RAM* copy = new CDB_SGATE_ASYNCHRONOUS_RAM(nullptr);
  clone_ram_into(copy, clone_type);
  *result = copy;
}

void CDB_SGATE_SYNCHRONOUS_RAM::clone_node(MEM_SEGMENT*, CDB_SGATE_NODE** result, int clone_type) const {
  PLAT_CHECK(result != nullptr, "CDB");
  CDB_SGATE_SYNCHRONOUS_RAM* copy = new CDB_SGATE_SYNCHRONOUS_RAM(nullptr);
  clone_ram_into(copy, clone_type);
  copy->m_mode_byte = m_mode_byte;
  for (unsigned i = 0; i < kNumPortModes; ++i) copy->m_port_mode[i] = m_port_mode[i];
  copy->m_option_bits = m_option_bits;
  copy->m_last_word = m_last_word;
  *result = copy;
}

uint8_t CDB_SGATE_SYNCHRONOUS_RAM::get_port_mode_byte(unsigned i) const {
  PLAT_CHECK(i < kNumPortModes, "CDB");
  return m_port_mode[i];
}

void CDB_SGATE_SYNCHRONOUS_RAM::set_port_mode_byte(unsigned i, uint8_t v) {
  PLAT_CHECK(i < kNumPortModes, "CDB");
  m_port_mode[i] = v;
}

void CDB_SGATE_SYNCHRONOUS_RAM::set_option_bits(uint8_t v) {
  PLAT_CHECK((v & ~kOptionBitsMask) == 0, "CDB");
  m_option_bits = v;
}
