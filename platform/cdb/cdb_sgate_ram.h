// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_sgate_ram.h — inferred RAMs before mapping: CDB_SGATE_ASYNCHRONOUS_RAM
// and CDB_SGATE_SYNCHRONOUS_RAM.
//
// Model: a RAM gate holds ten size parameters (widths, depths and the like,
//   in the order its builder gives them), two 32-bit mode words, the name of
//   its memory-initialisation file and terminals identified by port type and
//   bit index (the terminal's port index). Terminals are found by port type,
//   not by position.
// The port-B clock is stored as port type 96; a lookup of port type 36 on a
//   RAM gate also finds it, because retiming code asks by either number.
// Cost: terminal lookups scan the gate's list.
#pragma once

#include <string>

#include "cdb/cdb_sgate_node.h"

namespace kavu_platform {

// What both RAM kinds share; the kinds differ only in their gate type.
class RAM_GATE : public CDB_SGATE_NODE {
 public:
  static constexpr unsigned kNumSizeParameters = 10;

  int get_size_parameter(unsigned i) const;
  void set_size_parameter(unsigned i, int value);
  uint32_t get_mode_word(unsigned i) const;
  void set_mode_word(unsigned i, uint32_t value);
  const char* get_mif_file() const { return m_mif_file.empty() ? nullptr : m_mif_file.c_str(); }
  void set_mif_file(const char* text) { m_mif_file = text ? text : ""; }
  // The RAM block type the user asked for (signed 8-bit code; 0 none).
  int8_t get_ram_block_type() const { return m_block_type; }
  void set_ram_block_type(int8_t code) { m_block_type = code; }

  // The input terminal of that port type and bit, or null; 36 and 96 both
  // name the port-B clock.
  CDB_SGATE_ITERM* get_iterm_by_type(DB_INPUT_PORT_TYPE type, unsigned i = 0) const;
  CDB_SGATE_OTERM* get_oterm_by_type(DB_OUTPUT_PORT_TYPE type, unsigned i = 0) const;
  // Appends a new unconnected input terminal of that port type and bit
  // (port type 36 is stored as 96); a port type and bit already present is
  // an internal error.
  CDB_SGATE_ITERM* add_iterm(DB_INPUT_PORT_TYPE type, unsigned i = 0);
  CDB_SGATE_OTERM* add_oterm(DB_OUTPUT_PORT_TYPE type, unsigned i = 0);

 protected:
  RAM_GATE(CDB_SGATE_TYPE type, HDB_INSTANCE_NAME* name) : CDB_SGATE_NODE(type, name) {}
  // Copies the RAM fields, then the base fields and terminals.
  void clone_ram_into(RAM_GATE* copy, int clone_type) const;

 private:
  int m_size[kNumSizeParameters] = {};
  uint32_t m_mode[2] = {};
  std::string m_mif_file;
  int8_t m_block_type = 0;
};

}  // namespace kavu_platform

class CDB_SGATE_ASYNCHRONOUS_RAM : public kavu_platform::RAM_GATE {
 public:
  explicit CDB_SGATE_ASYNCHRONOUS_RAM(HDB_INSTANCE_NAME* name)
      : RAM_GATE(CDB_SGATE_ASYNCHRONOUS_RAM_ENUM, name) {}
  CDB_SGATE_ASYNCHRONOUS_RAM* cast_to_asynchronous_ram() override { return this; }
  const char* get_string_type_name() const override { return "ASYNC_RAM"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
};

// Besides the shared RAM fields, a synchronous RAM holds a mode byte, four
// port-mode bytes (ports A and B, read and write), seven option bits and a
// trailing 32-bit word. The database does not interpret them; they travel
// with the gate (clone copies them).
class CDB_SGATE_SYNCHRONOUS_RAM : public kavu_platform::RAM_GATE {
 public:
  static constexpr unsigned kNumPortModes = 4;
  static constexpr uint8_t kOptionBitsMask = 0x7f;

  explicit CDB_SGATE_SYNCHRONOUS_RAM(HDB_INSTANCE_NAME* name)
      : RAM_GATE(CDB_SGATE_SYNCHRONOUS_RAM_ENUM, name) {}
  CDB_SGATE_SYNCHRONOUS_RAM* cast_to_synchronous_ram() override { return this; }
  const char* get_string_type_name() const override { return "SYNC_RAM"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;

  uint8_t get_mode_byte() const { return m_mode_byte; }
  void set_mode_byte(uint8_t v) { m_mode_byte = v; }
  // i < kNumPortModes.
  uint8_t get_port_mode_byte(unsigned i) const;
  void set_port_mode_byte(unsigned i, uint8_t v);
  // Seven bits (bit 7 is always clear; setting it is an internal error).
  uint8_t get_option_bits() const { return m_option_bits; }
  void set_option_bits(uint8_t v);
  uint32_t get_last_word() const { return m_last_word; }
  void set_last_word(uint32_t v) { m_last_word = v; }

 private:
  uint8_t m_mode_byte = 0;
  uint8_t m_port_mode[kNumPortModes] = {};
  uint8_t m_option_bits = 0;
  uint32_t m_last_word = 0;
};
