// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_sgate_kinds.h — the simple gate kinds: buffers, comb gates, plain
// registers, pins, IO buffers, LUTs, state buffers, muxes, carry-sum gates,
// tri-state buses, latches and partition boundaries.
//
// Every constructor creates the kind's fixed output terminals (not inverted,
// port type 29200) and no input terminal, except output and bidirectional
// pins, which get their input at position 0. `name` may be null; the
// `synthesized` argument only records that synthesis made the gate.
// Positional kinds keep their inputs at the fixed positions of cdb_codes.h.
// Setters that change a gate's function (comb type, buffer type, LUT mask,
// power-up) raise the gate's changed mark.
#pragma once

#include <string>
#include <vector>

#include "cdb/cdb_lutmask.h"
#include "cdb/cdb_sgate_node.h"

class CDB_SGATE_BUFFER : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_BUFFER(HDB_INSTANCE_NAME* name, CDB_BUFFER_TYPE type, bool synthesized = false);
  CDB_BUFFER_TYPE get_buffer_type() const { return m_buffer_type; }
  void set_buffer_type(CDB_BUFFER_TYPE t);
  CDB_SGATE_BUFFER* cast_to_buffer() override { return this; }
  const char* get_string_type_name() const override { return "BUFFER"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
  bool is_sweep_keeper() const override;

 private:
  CDB_BUFFER_TYPE m_buffer_type;
};

class CDB_SGATE_COMB : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_COMB(HDB_INSTANCE_NAME* name, CDB_COMB_TYPE type, bool synthesized = false);
  CDB_COMB_TYPE get_comb_type() const { return m_comb_type; }
  void set_comb_type(CDB_COMB_TYPE t);
  // Appends an input driven by src with inversion `inv`; with a null src the
  // input is tied to VCC (GND when `inv`). Returns the new terminal.
  CDB_SGATE_ITERM* add_unordered_fanin_from_oterm(MEM_SEGMENT* seg, bool inv, CDB_SGATE_OTERM* src);
  // AND <-> OR by complementing every input and the output; the output's
  // inversion is then moved to the fan-outs. Other comb types: internal error.
  void demorgan();
  // Compacts the input list storage.
  void widen(MEM_SEGMENT* seg);
  CDB_SGATE_COMB* cast_to_comb() override { return this; }
  const char* get_string_type_name() const override { return "COMB"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;

 private:
  CDB_COMB_TYPE m_comb_type;
};

class CDB_SGATE_DFF : public CDB_SGATE_NODE, public CDB_REG_FLAGS {
 public:
  CDB_SGATE_DFF(HDB_INSTANCE_NAME* name, bool synthesized = false);
  // Makes the nine inputs that are missing, unconnected, with port types
  // 20, 7, 6, 27, 8, 0, 1, 30, 33 in positions 0..8.
  void create_all_inputs();
  // Makes the missing inputs and ties each control input (positions 2..8,
  // asynchronous clear to synchronous load) that is unconnected to the
  // constant at which it does nothing: the clock enable and the asynchronous
  // data to VCC, the others to GND. The data input and the clock are left
  // as they are. A plain register read from a file is built this way, since
  // the edits that walk register inputs expect every control connected.
  void tie_unconnected_controls();
  static DB_INPUT_PORT_TYPE get_port_type_of_position(unsigned pos);
  unsigned get_first_iport() const { return 0; }
  unsigned get_next_iport(unsigned p) const { return p + 1; }
  unsigned get_end_iport() const { return CDB_DFF_NUM_PORTS; }
  CDB_SGATE_DFF* cast_to_dff() override { return this; }
  CDB_REG_FLAGS* get_reg_flags() override { return this; }
  const char* get_string_type_name() const override { return "DFF"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
  bool is_sweep_keeper() const override { return preserve(); }

 protected:
  CDB_SGATE_NODE* reg_flags_node() override { return this; }
};

class CDB_SGATE_IO : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_IO(HDB_INSTANCE_NAME* name, CDB_IO_TYPE type);
  CDB_IO_TYPE get_io_type() const { return m_io_type; }
  uint8_t get_pin_cache_byte() const { return m_pin_cache; }
  void set_pin_cache_byte(uint8_t b) { m_pin_cache = b; }
  bool is_made_by_synthesis() const { return (get_flag_byte(CDB_MISC_BYTE) & CDB_MISC_PIN_FROM_SYNTHESIS) != 0; }
  void set_made_by_synthesis(bool b) { set_byte_bits(CDB_MISC_BYTE, CDB_MISC_PIN_FROM_SYNTHESIS, b); }
  CDB_SGATE_IO* cast_to_io() override { return this; }
  const char* get_string_type_name() const override { return "IO"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;

 private:
  CDB_IO_TYPE m_io_type;
  uint8_t m_pin_cache = 0;
};

class CDB_SGATE_IO_BUF : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_IO_BUF(HDB_INSTANCE_NAME* name, CDB_IO_BUF_TYPE type);
  CDB_IO_BUF_TYPE get_io_buf_type() const { return m_io_buf_type; }
  CDB_SGATE_IO_BUF* cast_to_io_buf() override { return this; }
  const char* get_string_type_name() const override { return "IO_BUF"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;

 private:
  CDB_IO_BUF_TYPE m_io_buf_type;
};

class CDB_SGATE_LUT : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_LUT(HDB_INSTANCE_NAME* name, const CDB_LUTMASK& mask);
  const CDB_LUTMASK& get_lut_mask() const { return m_mask; }
  void set_lut_mask(const CDB_LUTMASK& m);
  bool is_independent_of(unsigned i) const { return m_mask.is_independent_of(i); }
  // Input positions of LUT gates (6 at load).
  static unsigned m_num_inputs;
  // Folds into the mask every input that is tied, inverted, a duplicate of
  // an earlier input's source, or ignored by the mask; folded positions are
  // left unconnected (inversion cleared). Returns whether anything changed.
  bool mls_sweep(bool keep_positions = true);
  CDB_SGATE_LUT* cast_to_lut() override { return this; }
  const char* get_string_type_name() const override { return "LUT"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
  // The mask may not depend on an unconnected input.
  bool check_kind_invariants(std::string* report) const override;

 private:
  bool fold_inputs_once();
  CDB_LUTMASK m_mask;
};

class CDB_SGATE_STATE : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_STATE(HDB_INSTANCE_NAME* name, CDB_STATE_MACHINE* machine);
  CDB_STATE_MACHINE* get_state_machine() const { return m_machine; }
  void set_state_machine(CDB_STATE_MACHINE* m) { m_machine = m; }
  CDB_SGATE_STATE* cast_to_state() override { return this; }
  const char* get_string_type_name() const override { return "STATE"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;

 private:
  CDB_STATE_MACHINE* m_machine;
};

class CDB_SGATE_MUX : public CDB_SGATE_NODE {
 public:
  explicit CDB_SGATE_MUX(HDB_INSTANCE_NAME* name);
  unsigned get_first_iport() const { return 0; }
  unsigned get_next_iport(unsigned p) const { return p + 1; }
  unsigned get_end_iport() const { return CDB_MUX_NUM_PORTS; }
  CDB_SGATE_MUX* cast_to_mux() override { return this; }
  const char* get_string_type_name() const override { return "MUX"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
};

class CDB_SGATE_CARRY_SUM : public CDB_SGATE_NODE {
 public:
  explicit CDB_SGATE_CARRY_SUM(HDB_INSTANCE_NAME* name);
  CDB_SGATE_CARRY_SUM* cast_to_carry_sum() override { return this; }
  const char* get_string_type_name() const override { return "CARRY_SUM"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
};

class CDB_SGATE_TRI_BUS : public CDB_SGATE_NODE {
 public:
  explicit CDB_SGATE_TRI_BUS(HDB_INSTANCE_NAME* name);
  CDB_SGATE_TRI_BUS* cast_to_tri_bus() override { return this; }
  const char* get_string_type_name() const override { return "TRI_BUS"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
};

class CDB_SGATE_LATCH : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_LATCH(HDB_INSTANCE_NAME* name, bool synthesized = false);
  // Normalises tied enables: an enable tied active (VCC) becomes
  // unconnected (inactive controls read as enabled); returns whether
  // anything changed.
  bool mls_sweep(bool keep_positions = true);
  CDB_SGATE_LATCH* cast_to_latch() override { return this; }
  const char* get_string_type_name() const override { return "LATCH"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;
};

class CDB_SGATE_BOUNDARY : public CDB_SGATE_NODE {
 public:
  CDB_SGATE_BOUNDARY(HDB_INSTANCE_NAME* name, CDB_BOUNDARY_TYPE direction);
  CDB_BOUNDARY_TYPE get_direction() const { return m_direction; }
  int get_partition_number() const { return m_partition; }
  void set_partition_number(int p) { m_partition = p; }
  int get_boundary_id() const { return m_boundary_id; }
  void set_boundary_id(int id) { m_boundary_id = id; }
  bool is_cut() const { return m_cut; }
  void set_cut(bool c) { m_cut = c; }
  // Records the terminal that drives this boundary across a split (null:
  // none), and with it that terminal's gate debug number and output slot,
  // which the netlist archive carries where the terminal, a pointer into
  // another partition's netlist, cannot travel: a partition read back knows
  // its driver by number alone (get_fed_by is null there).
  void set_fed_by(CDB_SGATE_OTERM* t);
  CDB_SGATE_OTERM* get_fed_by() const { return m_fed_by; }
  // The driver's (debug number, output slot) recorded; false when none is.
  bool get_fed_by_number(unsigned* debug, unsigned* slot) const {
    if (!m_fed_by_known) return false;
    *debug = m_fed_by_debug;
    *slot = m_fed_by_slot;
    return true;
  }
  // An output boundary: the paths of the gates of other partitions its
  // output fed when a split cut it (sorted, one per gate; null: not
  // recorded), so that its readers, which other partitions hold, can be
  // told from another partitioning's.
  const std::vector<std::string>* get_readers() const { return m_readers_known ? &m_readers : nullptr; }
  void set_readers(std::vector<std::string> paths) {
    m_readers = std::move(paths);
    m_readers_known = true;
  }
  // Records the driver by number alone (the archive's reader); the
  // terminal is left as it was.
  void set_fed_by_number(unsigned debug, unsigned slot) {
    m_fed_by_known = true;
    m_fed_by_debug = debug;
    m_fed_by_slot = slot;
  }
  CDB_SGATE_BOUNDARY* cast_to_boundary() override { return this; }
  const char* get_string_type_name() const override { return "BOUNDARY"; }
  void clone_node(MEM_SEGMENT* seg, CDB_SGATE_NODE** result, int clone_type) const override;

 private:
  CDB_BOUNDARY_TYPE m_direction;
  int m_partition = -1;
  int m_boundary_id = -1;
  bool m_cut = false;
  bool m_fed_by_known = false;
  unsigned m_fed_by_debug = 0;
  unsigned m_fed_by_slot = 0;
  bool m_readers_known = false;
  std::vector<std::string> m_readers;
  CDB_SGATE_OTERM* m_fed_by = nullptr;
};
