// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_sgate_wysiwyg.h — device atoms kept as they are (CDB_SGATE_WYSIWYG)
// and the RAM-block atom (CDB_SGATE_WYSIWYG_RAM_BLOCK).
//
// Model: an atom is its atom type plus per-instance data: 256 mode bits, a
//   64-bit cell mask (input j of the cell is bit j), the register flags of
//   CDB_REG_FLAGS (meaningful on flip-flop atoms, which alone expose them
//   through get_reg_flags) and a sweep level. Everything else — the gate type
//   it reports, its classification, which slot holds which port, its
//   preferred output — comes from its row of the atom catalogue, so no atom
//   type is treated apart in code.
// Slots: the constructor sizes the input and output lists to the row's slot
//   counts, all null; callers place terminals in the slot that
//   get_input_port_number / get_output_port_number give and set the port
//   type on the terminal. Rows that make ports on demand (generic atoms,
//   RAM blocks) give a new port type the next free slot on first request and
//   keep that slot for the atom's lifetime.
// Invariants (check_kind_invariants): every placed terminal carries the port
//   type of its slot.
// Cost: port lookups walk the row's port list (at most a few dozen ports)
//   and the atom's on-demand list.
#pragma once

#include <bitset>
#include <utility>
#include <vector>

#include "cdb/cdb_atom_catalogue.h"
#include "cdb/cdb_sgate_node.h"

class CDB_SGATE_WYSIWYG : public CDB_SGATE_NODE, public CDB_REG_FLAGS {
 public:
  // Creates no terminal; the lists hold the row's slot counts of nulls.
  CDB_SGATE_WYSIWYG(HDB_INSTANCE_NAME* name, CDB_WYSIWYG_TYPE type);

  CDB_WYSIWYG_TYPE get_wysiwyg_type() const { return m_wysiwyg_type; }
  // Re-reads the catalogue (gate type, classification, ports); existing
  // terminals keep their slots, the lists grow to the new row's slot counts.
  // Raises the changed and type-changed marks.
  void set_wysiwyg_type(CDB_WYSIWYG_TYPE type);
  const kavu_platform::ATOM_CATALOGUE_ENTRY& get_catalogue_entry() const { return *m_entry; }

  // --- classification, from the catalogue row
  bool is_ff() const { return has_class(kavu_platform::ATOM_CLASS_FF); }
  bool is_lcell_comb() const { return has_class(kavu_platform::ATOM_CLASS_LCELL_COMB); }
  bool is_logic_module() const { return has_class(kavu_platform::ATOM_CLASS_LOGIC_MODULE); }
  bool is_mac() const { return has_class(kavu_platform::ATOM_CLASS_MAC); }
  bool is_mac_mult() const { return has_class(kavu_platform::ATOM_CLASS_MAC_MULT); }
  bool is_mac_out() const { return has_class(kavu_platform::ATOM_CLASS_MAC_OUT); }
  bool is_ram() const { return has_class(kavu_platform::ATOM_CLASS_RAM); }
  bool is_lutram() const { return has_class(kavu_platform::ATOM_CLASS_LUTRAM); }
  bool is_clkbuf() const { return has_class(kavu_platform::ATOM_CLASS_CLKBUF); }
  bool is_pll() const { return has_class(kavu_platform::ATOM_CLASS_PLL); }
  bool is_iopll() const { return has_class(kavu_platform::ATOM_CLASS_IOPLL); }
  bool is_output() const { return has_class(kavu_platform::ATOM_CLASS_OUTPUT); }
  bool is_bidir() const { return has_class(kavu_platform::ATOM_CLASS_BIDIR); }
  bool is_io_ibuf() const { return has_class(kavu_platform::ATOM_CLASS_IO_IBUF); }
  bool is_io_obuf() const { return has_class(kavu_platform::ATOM_CLASS_IO_OBUF); }
  bool is_io_pad() const { return has_class(kavu_platform::ATOM_CLASS_IO_PAD); }
  bool is_ddio_in() const { return has_class(kavu_platform::ATOM_CLASS_DDIO_IN); }
  bool is_ddio_out() const { return has_class(kavu_platform::ATOM_CLASS_DDIO_OUT); }
  bool is_ddio_oe() const { return has_class(kavu_platform::ATOM_CLASS_DDIO_OE); }

  // --- ports
  // First slot of the port type, or 65535 when the atom has no such port. On
  // rows that make ports on demand an unknown port type gets the next free
  // slot (recorded at once, so a second call gives the same slot).
  unsigned get_input_port_number(DB_INPUT_PORT_TYPE type) const override;
  unsigned get_output_port_number(DB_OUTPUT_PORT_TYPE type) const override;
  // The terminal in slot first + i of the port, or null (no port, bit beyond
  // the port's width, or an empty slot). Never creates a slot.
  CDB_SGATE_ITERM* get_iterm_by_type(DB_INPUT_PORT_TYPE type, unsigned i = 0) const;
  CDB_SGATE_OTERM* get_oterm_by_type(DB_OUTPUT_PORT_TYPE type, unsigned i = 0) const;
  // On-demand ports as (port type, slot), in order of first request; the
  // archive restores them with restore_on_demand_port (a row without
  // on-demand ports, a type the row or the atom already has, or a slot
  // below the row's slots is an internal error).
  std::vector<std::pair<uint16_t, uint16_t>> get_on_demand_ports(bool outputs) const;
  void restore_on_demand_port(bool outputs, uint16_t type, uint16_t slot);
  // Output slots the catalogue row gives; on-demand outputs lie above it.
  uint16_t get_port_bound() const { return uint16_t(m_entry->num_output_slots()); }
  unsigned get_ordered_output_count() const override;
  // The terminal in the row's preferred output slot, else the first output.
  CDB_SGATE_OTERM* get_preferred_oterm() const override;

  // --- modes and cell mask
  bool mode_is_set(unsigned mode) const;
  // Every mode bit at once (the archive reads them word by word).
  const std::bitset<CDB_WYSIWYG_NUM_MODES>& get_mode_set() const { return m_modes; }
  void set_mode(unsigned mode);
  void clear_mode(unsigned mode);
  uint64_t get_lutmask_value() const { return m_lutmask; }
  // Sets the cell mask; a different value raises the changed mark and lutmask_changed().
  void set_lutmask_value(uint64_t v);
  bool lutmask_changed() const { return m_lutmask_changed; }
  void clear_lutmask_changed() { m_lutmask_changed = false; }

  // --- logical (user) name of a LUT-RAM atom's memory, null when none was
  // given (and for every other atom). Only a LUT-RAM atom takes one
  // (PLAT_CHECK); the name is not owned, and clones share it.
  HDB_INSTANCE_NAME* get_lutram_logical_name() const { return m_lutram_logical_name; }
  void set_lutram_logical_name(HDB_INSTANCE_NAME* name);

  // --- sweep level of flip-flop atoms; "examined" once a level was set
  int get_sweep_level() const { return m_sweep_level; }
  void set_sweep_level(int level);
  bool sweep_level_examined() const;

  // --- node hooks
  bool is_wysiwyg() const override { return true; }
  CDB_SGATE_WYSIWYG* cast_to_wysiwyg() override { return this; }
  CDB_REG_FLAGS* get_reg_flags() override { return is_ff() ? this : nullptr; }
  const char* get_string_type_name() const override { return "WYSIWYG"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
  bool check_kind_invariants(std::string* report) const override;
  // Kept unless it is a logic cell, logic module, flip-flop, MAC, RAM or
  // LUT-RAM atom with neither preserve nor the don't-touch mode.
  bool is_sweep_keeper() const override;

 protected:
  CDB_SGATE_NODE* reg_flags_node() override { return this; }
  // Copies every atom field (type, on-demand ports, modes, mask, sweep level,
  // LUT-RAM logical name, register state) into a fresh atom, then the base
  // fields and terminals.
  void clone_wysiwyg_into(CDB_SGATE_WYSIWYG* copy, int clone_type) const;

 private:
  struct EXTRA_PORT {
    uint16_t m_port_type;
    uint16_t m_slot;
  };

  bool has_class(uint32_t c) const { return m_entry->has_class(c); }
  void size_lists_to_row();
  unsigned extra_slot(std::vector<EXTRA_PORT>& extras, uint16_t type, unsigned list_size) const;
  // The port type a slot must carry; false when the slot has no port.
  bool input_type_of_slot(unsigned slot, uint16_t* type) const;
  bool output_type_of_slot(unsigned slot, uint16_t* type) const;

  const kavu_platform::ATOM_CATALOGUE_ENTRY* m_entry;
  // On-demand ports, in order of first request (mutable: lookups record them).
  mutable std::vector<EXTRA_PORT> m_extra_inputs;
  mutable std::vector<EXTRA_PORT> m_extra_outputs;
  std::bitset<CDB_WYSIWYG_NUM_MODES> m_modes;
  uint64_t m_lutmask = 0;
  HDB_INSTANCE_NAME* m_lutram_logical_name = nullptr;
  int m_sweep_level = 0;
  CDB_WYSIWYG_TYPE m_wysiwyg_type;
  bool m_lutmask_changed = false;
};

// Port selector of the RAM mode sets.
enum CDB_RAM_PORT { CDB_RAM_PORT_A = 0, CDB_RAM_PORT_B = 1 };

// A RAM-block atom: an atom whose row reports gate type 13, with one mode set
// per RAM port (flag numbers below 128).
class CDB_SGATE_WYSIWYG_RAM_BLOCK : public CDB_SGATE_WYSIWYG {
 public:
  typedef std::bitset<128> RAM_MODE_SET;

  CDB_SGATE_WYSIWYG_RAM_BLOCK(HDB_INSTANCE_NAME* name, CDB_WYSIWYG_TYPE type);

  const RAM_MODE_SET& get_ram_mode(unsigned port) const;
  bool ram_mode_is(unsigned flag, unsigned port) const;
  void set_ram_mode(unsigned flag, unsigned port);
  void clear_ram_mode(unsigned flag, unsigned port);

  CDB_SGATE_WYSIWYG_RAM_BLOCK* cast_to_wysiwyg_ram_block() override { return this; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;

  // The logical (user) name of a port's memory, null when none was given;
  // port 0 or 1 (PLAT_CHECK). Names are not owned; clones share them.
  HDB_INSTANCE_NAME* get_logical_name(unsigned port) const;
  void set_logical_name(unsigned port, HDB_INSTANCE_NAME* name);

 private:
  RAM_MODE_SET m_ram_modes[2];
  HDB_INSTANCE_NAME* m_logical_names[2] = {nullptr, nullptr};
};
