// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_sgate_component.h — instances of parameterized library functions
// (CDB_SGATE_COMPONENT): a black box with named ports and parameters.
//
// Model: a component has a component type, a function name, a library and
//   an architecture name, an option byte, a port table and a parameter
//   table, both in order of first addition. A port has a unique name, a
//   direction (0 in, 1 out) and a width; bit i holds an input terminal (in)
//   or an output terminal (out) of the component, made when the port or the
//   bit is first asked for and appended to the gate's list, its port index
//   set to the bit. Parameters are (name, value, type) records; setting a
//   name again replaces its value. A component is a sweep keeper and has no
//   child netlist.
// Invariants: every port bit's terminal belongs to the component and is in
//   its input or output list; a destroyed terminal leaves its bit empty.
// Cost: port and parameter lookups scan their tables (names compared as text).
#pragma once

#include <string>
#include <vector>

#include "cdb/cdb_sgate_node.h"

// Component types 0..7 (multiply-accumulate, multiply-add, RAMs, ROM, shift
// register with taps, counter, …); the numbers are the library's.
typedef unsigned CDB_SGATE_COMPONENT_TYPE;

enum CDB_COMPONENT_PORT_DIR { CDB_COMPONENT_PORT_INPUT = 0, CDB_COMPONENT_PORT_OUTPUT = 1 };

class CDB_SGATE_COMPONENT_PORT_ENTRY {
 public:
  const char* get_name() const { return m_name.c_str(); }
  int get_dir() const { return m_dir; }
  unsigned get_width() const { return unsigned(m_iterms.size()); }
  CDB_SGATE_ITERM* get_iterm(unsigned i) const { return i < m_iterms.size() ? m_iterms[i] : nullptr; }
  CDB_SGATE_OTERM* get_oterm(unsigned i) const { return i < m_oterms.size() ? m_oterms[i] : nullptr; }

 private:
  friend class CDB_SGATE_COMPONENT;
  std::string m_name;
  int m_dir = CDB_COMPONENT_PORT_INPUT;
  std::vector<CDB_SGATE_ITERM*> m_iterms;  // both sized to the width
  std::vector<CDB_SGATE_OTERM*> m_oterms;
};

class CDB_SGATE_COMPONENT_PARAMETER {
 public:
  // Either text may be null.
  const char* get_name() const { return m_has_name ? m_name.c_str() : nullptr; }
  const char* get_value() const { return m_has_value ? m_value.c_str() : nullptr; }
  int get_type() const { return m_type; }

 private:
  friend class CDB_SGATE_COMPONENT;
  std::string m_name, m_value;
  bool m_has_name = false, m_has_value = false;
  int m_type = 0;
};

class CDB_SGATE_COMPONENT : public CDB_SGATE_NODE {
 public:
  typedef std::vector<CDB_SGATE_COMPONENT_PORT_ENTRY*>::const_iterator CONST_PORT_ENTRY_ITERATOR;
  typedef std::vector<CDB_SGATE_COMPONENT_PARAMETER>::const_iterator CONST_PARAMETER_ITERATOR;

  // `text` becomes the gate's string name (may be null or empty).
  CDB_SGATE_COMPONENT(const char* text, bool is_port_prototype_known);
  ~CDB_SGATE_COMPONENT() override;

  CDB_SGATE_COMPONENT_TYPE get_component_type() const { return m_component_type; }
  void set_component_type(CDB_SGATE_COMPONENT_TYPE t) { m_component_type = t; }
  bool is_port_prototype_known() const { return m_port_prototype_known; }
  const char* get_function_name() const { return m_function_name.c_str(); }
  void set_function_name(const char* text) { m_function_name = text ? text : ""; }
  const char* get_library_name() const { return m_library_name.c_str(); }
  void set_library_name(const char* text) { m_library_name = text ? text : ""; }
  const char* get_architecture_name() const { return m_architecture_name.c_str(); }
  void set_architecture_name(const char* text) { m_architecture_name = text ? text : ""; }
  uint8_t get_option_byte() const { return m_option_byte; }
  void set_option_byte(uint8_t b) { m_option_byte = b; }
  CDB_SGATE_NETLIST* get_child_netlist() const { return nullptr; }

  // --- ports
  // The port of that name, or null.
  CDB_SGATE_COMPONENT_PORT_ENTRY* find_port(const char* name) const;
  // Adds the port with `width` bits and their terminals unless a port of
  // that name exists; an existing port must have the same direction and is
  // widened to `width`. Returns the port.
  CDB_SGATE_COMPONENT_PORT_ENTRY* add_unique_known_port(const char* name, int dir, unsigned width = 1);
  // Finds bit 0 of the port `name`: *iterm (inputs) or *oterm (outputs)
  // receives its terminal; the other pointer receives null. With `create` a
  // missing port (one bit) or a missing terminal is made first. Returns
  // false when the port does not exist and `create` is false. A port of the
  // other direction is an internal error. Either out pointer may be null.
  bool retrieve_known_port(const char* name, int dir, CDB_SGATE_ITERM** iterm, CDB_SGATE_OTERM** oterm,
                           bool create);
  CONST_PORT_ENTRY_ITERATOR begin_const_port_entry_table() const { return m_ports.begin(); }
  CONST_PORT_ENTRY_ITERATOR end_const_port_entry_table() const { return m_ports.end(); }
  // Archive reading: a new port `width` bits wide whose bits are empty (a
  // name already present is an internal error), and the binding of bit
  // `bit` to a terminal already in this gate's lists (input ports take
  // input terminals, output ports output terminals; the terminal's port
  // index becomes the bit).
  CDB_SGATE_COMPONENT_PORT_ENTRY* add_empty_port(const char* name, int dir, unsigned width);
  void bind_port_bit(CDB_SGATE_COMPONENT_PORT_ENTRY* port, unsigned bit, CDB_SGATE_ITERM* iterm,
                     CDB_SGATE_OTERM* oterm);

  // --- parameters
  void set_parameter(const char* name, const char* value, int type = 0);
  // The value of the parameter `name`, or null.
  const char* get_parameter(const char* name) const;
  CONST_PARAMETER_ITERATOR begin_const_parameter_table() const { return m_parameters.begin(); }
  CONST_PARAMETER_ITERATOR end_const_parameter_table() const { return m_parameters.end(); }

  CDB_SGATE_COMPONENT* cast_to_component() override { return this; }
  const char* get_string_type_name() const override { return "COMPONENT"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
  bool check_kind_invariants(std::string* report) const override;
  bool is_sweep_keeper() const override { return true; }
  void on_iterm_removed(CDB_SGATE_ITERM* t) override;
  void on_oterm_removed(CDB_SGATE_OTERM* t) override;

 private:
  void make_bit_terminal(CDB_SGATE_COMPONENT_PORT_ENTRY* port, unsigned bit);

  std::vector<CDB_SGATE_COMPONENT_PORT_ENTRY*> m_ports;  // owned
  std::vector<CDB_SGATE_COMPONENT_PARAMETER> m_parameters;
  std::string m_function_name, m_library_name, m_architecture_name;
  CDB_SGATE_COMPONENT_TYPE m_component_type = 0;
  uint8_t m_option_byte = 0;
  bool m_port_prototype_known;
};
