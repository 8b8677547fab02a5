// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_atom_catalogue.h — the table that says what each device atom type is.
//
// Model: one row per atom type: its catalogue name (the .subckt model name of
//   the BLIF reader), the gate type the atom reports, its classification (a
//   set of class bits), its input and output ports as (port type, width)
//   lists in slot order, its preferred output and, for flip-flops, the output
//   port its register drives. A port of width w takes w consecutive slots;
//   bit i of a port sits in the port's first slot + i.
// Types without a row are generic atoms: gate type 66, no ports until a user
//   asks for one (the atom then appends a slot, see CDB_SGATE_WYSIWYG). Rows
//   whose ports vary by instance (RAM blocks) make their ports the same way.
// Invariants: rows are sorted by atom type, types and names are unique, port
//   types are unique within a row's input list and within its output list.
//   The table is constant; nothing in it changes at run time, so no reset is
//   needed between tests.
// The database never treats an atom type apart in code: every fact about an
//   atom comes from its row. New atom types are new rows.
// Cost: lookup by type is a binary search over the rows, by name a linear
//   scan (used by readers only); slot queries walk one row's port list.
#pragma once

#include <cstdint>
#include <span>

#include "cdb/cdb_codes.h"

namespace kavu_platform {

// Classification bits of a row; an atom may carry several (an output IO pad).
enum ATOM_CLASS : uint32_t {
  ATOM_CLASS_FF = 1u << 0,
  ATOM_CLASS_LCELL_COMB = 1u << 1,
  ATOM_CLASS_LOGIC_MODULE = 1u << 2,
  ATOM_CLASS_MAC = 1u << 3,
  ATOM_CLASS_RAM = 1u << 4,
  ATOM_CLASS_LUTRAM = 1u << 5,
  ATOM_CLASS_CLKBUF = 1u << 6,
  ATOM_CLASS_PLL = 1u << 7,
  ATOM_CLASS_IOPLL = 1u << 8,
  ATOM_CLASS_OUTPUT = 1u << 9,
  ATOM_CLASS_BIDIR = 1u << 10,
  ATOM_CLASS_IO_IBUF = 1u << 11,
  ATOM_CLASS_IO_OBUF = 1u << 12,
  ATOM_CLASS_IO_PAD = 1u << 13,
  ATOM_CLASS_DDIO_IN = 1u << 14,
  ATOM_CLASS_DDIO_OUT = 1u << 15,
  ATOM_CLASS_DDIO_OE = 1u << 16,
  ATOM_CLASS_PHYSICAL = 1u << 17,      // a physical (placed) implementation
  ATOM_CLASS_ATOM_NETLIST = 1u << 18,  // a type of the atom netlist, never a gate
  ATOM_CLASS_GENERIC = 1u << 19,       // no row of its own (the shared generic row)
  ATOM_CLASS_PORTS_ON_DEMAND = 1u << 20,  // a new port type gets a slot when first asked for
  ATOM_CLASS_QUELLIN_CELL = 1u << 21,     // a logic cell evaluated by the Quellin rule (netlist_io/sim_lcell.h)
  ATOM_CLASS_MAC_MULT = 1u << 22,         // split MAC multiplier atom (facts: cut/cut_mac_split.h)
  ATOM_CLASS_MAC_OUT = 1u << 23           // split MAC output atom (facts: cut/cut_mac_split.h)
};

struct ATOM_PORT {
  uint16_t m_port_type;
  uint16_t m_width;
};

struct ATOM_CATALOGUE_ENTRY {
  CDB_WYSIWYG_TYPE m_atom_type;
  const char* m_name;
  CDB_SGATE_TYPE m_gate_type;
  uint32_t m_classes;
  std::span<const ATOM_PORT> m_inputs;   // slot order
  std::span<const ATOM_PORT> m_outputs;  // slot order
  uint16_t m_preferred_output;  // output port type, or CDB_ILLEGAL_PORT for slot 0
  uint16_t m_register_port;     // flip-flops: the output port of the register, else CDB_ILLEGAL_PORT

  bool has_class(uint32_t classes) const { return (m_classes & classes) != 0; }
  bool is_generic() const { return has_class(ATOM_CLASS_GENERIC); }
  bool ports_on_demand() const { return has_class(ATOM_CLASS_PORTS_ON_DEMAND); }

  // Slots the row gives (the sum of the port widths).
  unsigned num_input_slots() const;
  unsigned num_output_slots() const;
  // First slot of the port type, or CDB_ILLEGAL_PORT when the row has no such port.
  uint16_t input_slot(uint16_t port_type) const;
  uint16_t output_slot(uint16_t port_type) const;
  // Width of the port type, 0 when absent.
  uint16_t input_width(uint16_t port_type) const;
  uint16_t output_width(uint16_t port_type) const;
  // The port type and bit that own a slot; false when the slot is beyond the row.
  bool input_port_of_slot(unsigned slot, uint16_t* port_type, unsigned* bit) const;
  bool output_port_of_slot(unsigned slot, uint16_t* port_type, unsigned* bit) const;
  // Slot of the preferred output (0 when the row names none).
  unsigned preferred_output_slot() const;
};

// The row of an atom type; the shared generic row (gate type 66, no ports,
// ATOM_CLASS_GENERIC, m_atom_type 0) for a type without one.
const ATOM_CATALOGUE_ENTRY& atom_catalogue_lookup(CDB_WYSIWYG_TYPE type);
// The row of a catalogue name ("lcell_comb_brae"), or null.
const ATOM_CATALOGUE_ENTRY* atom_catalogue_find(const char* name);
// Every row, sorted by atom type.
std::span<const ATOM_CATALOGUE_ENTRY> atom_catalogue_entries();

// Names of device port types ("DATAA", "COMBOUT"), null when unnamed; and the
// port type of a name, CDB_ILLEGAL_PORT when unknown. Names are upper case and
// compared exactly.
const char* atom_input_port_name(uint16_t port_type);
const char* atom_output_port_name(uint16_t port_type);
uint16_t atom_input_port_by_name(const char* name);
uint16_t atom_output_port_by_name(const char* name);

}  // namespace kavu_platform
