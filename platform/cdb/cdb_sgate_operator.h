// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_sgate_operator.h — word-level operators (CDB_SGATE_OPERATOR) and their
// port entries (CDB_SGATE_OPER_PORT_ENTRY).
//
// Model: an operator has a kind (CDB_OPER_TYPE), two 8-bit mode values, one
//   32-bit mode value, an attribute byte, a signedness byte, a 32-bit tag and
//   a table of ports in order of add_port. A port has a name, a direction, an
//   operator port type (at most one port per type) and a width; bit i of a
//   port may hold an input terminal and an output terminal (bit 0 is the
//   least significant). Setting a bit at or beyond the width widens the port
//   with empty bits.
// Invariants: every terminal held by a port bit belongs to the operator, is
//   in the operator's input or output list, and carries the port's type and
//   its bit as port type and port index; a terminal serves one bit at most.
//   A terminal the operator destroys leaves its bit empty.
// Cost: set_iterm/set_oterm search the gate's list once (O(terminals)); bit
//   reads are O(1); get_port scans the table (a handful of ports).
#pragma once

#include <string>
#include <vector>

#include "cdb/cdb_sgate_node.h"

class CDB_SGATE_OPERATOR;

class CDB_SGATE_OPER_PORT_ENTRY {
 public:
  const char* get_name() const { return m_name.c_str(); }
  CDB_OPER_PORT_DIR get_dir() const { return m_dir; }
  CDB_OPER_PORT_TYPE get_type() const { return m_type; }
  unsigned get_width() const { return unsigned(m_iterms.size()); }

  // The terminal of bit i, or null (empty bit or i beyond the width).
  CDB_SGATE_ITERM* get_iterm(unsigned i) const { return i < m_iterms.size() ? m_iterms[i] : nullptr; }
  CDB_SGATE_OTERM* get_oterm(unsigned i) const { return i < m_oterms.size() ? m_oterms[i] : nullptr; }
  // Puts t (a terminal of this operator, or null to empty the bit) in bit i,
  // widening the port when needed; appends t to the operator's list when it
  // is not there yet and records the port type and bit on it. A terminal
  // already serving another bit is an internal error.
  void set_iterm(unsigned i, CDB_SGATE_ITERM* t);
  void set_oterm(unsigned i, CDB_SGATE_OTERM* t);

 private:
  friend class CDB_SGATE_OPERATOR;
  CDB_SGATE_OPER_PORT_ENTRY(CDB_SGATE_OPERATOR* op, const char* name, CDB_OPER_PORT_TYPE type,
                            CDB_OPER_PORT_DIR dir);
  void widen_to(unsigned width);

  CDB_SGATE_OPERATOR* m_op;
  std::string m_name;
  CDB_OPER_PORT_TYPE m_type;
  CDB_OPER_PORT_DIR m_dir;
  std::vector<CDB_SGATE_ITERM*> m_iterms;  // both sized to the width
  std::vector<CDB_SGATE_OTERM*> m_oterms;
};

class CDB_SGATE_OPERATOR : public CDB_SGATE_NODE {
 public:
  typedef std::vector<CDB_SGATE_OPER_PORT_ENTRY*>::const_iterator CONST_PORT_ENTRY_ITERATOR;

  // `text` becomes the gate's string name (may be null). No terminals.
  CDB_SGATE_OPERATOR(const char* text, CDB_OPER_TYPE type);
  ~CDB_SGATE_OPERATOR() override;

  CDB_OPER_TYPE get_type() const { return m_oper_type; }
  uint8_t get_mode1() const { return m_mode1; }
  void set_mode1(uint8_t v) { m_mode1 = v; }
  uint8_t get_mode2() const { return m_mode2; }
  void set_mode2(uint8_t v) { m_mode2 = v; }
  uint32_t get_mode3() const { return m_mode3; }
  void set_mode3(uint32_t v) { m_mode3 = v; }
  uint8_t get_attribute() const { return m_attribute; }
  void set_attribute(uint8_t v) { m_attribute = v; }
  bool is_signed() const { return m_signed != 0; }
  uint8_t get_signed_byte() const { return m_signed; }
  void set_signed(uint8_t v) { m_signed = v; }
  uint32_t get_tag() const { return m_tag; }
  void set_tag(uint32_t v) { m_tag = v; }
  // The partition a bus operator between partition boundaries belongs to
  // (the boundaries' numbering; 0 until set).
  int get_partition_number() const { return m_partition; }
  void set_partition_number(int p) { m_partition = p; }

  // The port of that type, or null.
  CDB_SGATE_OPER_PORT_ENTRY* get_port(CDB_OPER_PORT_TYPE type) const;
  // Width of the port of that type, 0 when absent.
  unsigned get_width(CDB_OPER_PORT_TYPE type) const;
  // Appends an empty port; a second port of one type is an internal error.
  CDB_SGATE_OPER_PORT_ENTRY* add_port(const char* name, CDB_OPER_PORT_TYPE type, CDB_OPER_PORT_DIR dir);
  CONST_PORT_ENTRY_ITERATOR begin_const_port_entry_table() const { return m_ports.begin(); }
  CONST_PORT_ENTRY_ITERATOR end_const_port_entry_table() const { return m_ports.end(); }
  // Bit i of the port of that type; null when the port or the bit is absent.
  CDB_SGATE_ITERM* get_iterm(CDB_OPER_PORT_TYPE type, unsigned i) const;
  CDB_SGATE_OTERM* get_oterm(CDB_OPER_PORT_TYPE type, unsigned i) const;

  CDB_SGATE_OPERATOR* cast_to_operator() override { return this; }
  const char* get_string_type_name() const override { return "OPERATOR"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
  bool check_kind_invariants(std::string* report) const override;
  void on_iterm_removed(CDB_SGATE_ITERM* t) override;
  void on_oterm_removed(CDB_SGATE_OTERM* t) override;

 private:
  std::vector<CDB_SGATE_OPER_PORT_ENTRY*> m_ports;  // owned, order of add_port
  uint32_t m_mode3 = 0;
  uint32_t m_tag = 0;
  int m_partition = 0;
  CDB_OPER_TYPE m_oper_type;
  uint8_t m_mode1 = 0;
  uint8_t m_mode2 = 0;
  uint8_t m_attribute = 0;
  uint8_t m_signed = 0;
};
