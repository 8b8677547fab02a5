// Role: word-level netlist (docs/platform.md, "Word-level netlist").
// wl.h — the word-level netlist: buses instead of bits.
//
// A WL_NETLIST owns WL_NODEs; a node owns its input terminals (WL_ITERM) and
// output terminals (WL_OTERM). Every terminal has a width; bit 0 is the least
// significant. Node classes: combinational gates, pins, buffers, splitters,
// mergers, 2:1 muxes, adders, add-subtractors, multipliers, less-than
// comparators, LUTs, registers, latches and wrapped device atoms.
//
// Connections. An input terminal is unconnected, driven by one output terminal
// (with its own inversion flag), or constant. connect(src, inv) replaces any
// earlier connection. A constant holds a cpp_int value over the terminal's
// width and the one-bit value flag (bit 0); set_vcc() gives all ones and
// set_gnd() is an inverted VCC: invert() on a constant never sets the
// inversion flag, it flips the value. An inverted, sourceless constant
// therefore never exists.
//
// Mergers gather bits: a table with one entry per output bit (input, bit
// within that input, invert). Splitters spread bits: output i carries a slice
// [lo_i, lo_i + width_i) of the input. Table inversions may be registered by
// callers only while WL_MERGER::allow_table_inversions() is in force; the
// clean-up passes compose inversions themselves at any time.
//
// wutil_clean_up_mergers_and_splitters: afterwards no splitter is fed by a
// merger or splitter and no merger input by a merger (or splitter); chains
// are flattened by composing tables, inversions XOR-ed along the way; a
// merger or splitter output that is one whole source, uninverted, is replaced
// by that source. Functions are kept.
//
// WL_NETLIST::sweep(false) removes nodes without fan-out, repeatedly;
// wl_remove_unreachable_nodes also removes logic (loops included) from which
// no keeper is reached. Keepers: pins, wrapped atoms, registers that are
// preserved or don't-touch. The destructor never frees the gate-level atom a
// WL_WYSIWYG wraps.
//
// kavu_platform::WL_SIMULATOR / wl_simulate evaluate a netlist bit by bit
// (64 patterns a word) for tests; registers and latches as the gate
// simulator does.
//
// Cost: connect and disconnect O(fan-out of the old source); clean-up
// O(total bits); sweep O(nodes + terminals).
#pragma once

#include <boost/multiprecision/cpp_int.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cdb/cdb_codes.h"
#include "cdb/cdb_lutmask.h"

class HDB_INSTANCE_NAME;
class CDB_SGATE_WYSIWYG;
class WL_NETLIST;
class WL_NODE;
class WL_OTERM;

typedef boost::multiprecision::cpp_int WL_CONST;

enum class WL_NODE_TYPE : int {
  COMB = 0,
  PIN = 1,
  BUFFER = 2,
  SPLITTER = 3,
  MERGER = 4,
  MUX21 = 5,
  MUX = 6,
  SELECTOR = 7,
  SHIFTER = 8,
  ROTATOR = 9,
  ADDER = 10,
  ADDSUB = 11,
  MULT = 12,
  LESS_THAN = 13,
  LUT = 14,
  DFF = 15,
  LATCH = 16,
  WYSIWYG = 17,
  DECODER = 18,
  SYNCHRONOUS_RAM = 19,
  COMPONENT = 20,
  EQUAL = 21
};

enum class WL_ARITH_EXT_TYPE : int { NONE = 0, ZERO = 1, SIGN = 2 };

// Input terminal status flags (get_flags()).
enum WL_ITERM_FLAG : unsigned {
  WL_ITERM_IN_USE = 1u << 0,
  WL_ITERM_INVERTED = 1u << 1,
  WL_ITERM_CONST = 1u << 2,
  WL_ITERM_CONST_ONE = 1u << 3,
  WL_ITERM_OPAQUE = 1u << 4
};

// All ones over `width` bits.
WL_CONST wl_all_ones(unsigned width);

class WL_ITERM {
 public:
  WL_ITERM(WL_NODE* owner, unsigned index, unsigned width);
  WL_ITERM(const WL_ITERM&) = delete;
  WL_ITERM& operator=(const WL_ITERM&) = delete;

  WL_NODE* get_my_node() const { return m_node; }
  unsigned get_index() const { return m_index; }
  unsigned width() const { return m_width; }
  void set_width(unsigned w) { m_width = w; }
  WL_OTERM* get_source() const { return m_source; }

  // Drives this input from `src` (replacing any earlier source or constant).
  void connect(WL_OTERM* src, bool inverted);
  // Back to unconnected; the inversion flag is cleared too.
  void disconnect();
  void set_vcc();
  void set_gnd();
  // A constant of the terminal's width (bits above the width ignored).
  void set_const(const WL_CONST& value);
  // Driven: toggles the inversion flag; constant: flips the value.
  void invert();

  unsigned get_flags() const { return m_flags; }
  bool is_in_use() const { return (m_flags & WL_ITERM_IN_USE) != 0; }
  bool is_inverted() const { return (m_flags & WL_ITERM_INVERTED) != 0; }
  void set_inverted(bool v);
  bool is_const() const { return (m_flags & WL_ITERM_CONST) != 0; }
  bool const_bit_value() const { return (m_flags & WL_ITERM_CONST_ONE) != 0; }
  bool is_vcc() const;
  bool is_gnd() const;
  bool is_opaque() const { return (m_flags & WL_ITERM_OPAQUE) != 0; }
  void set_opaque(bool v);
  const WL_CONST& get_const() const { return m_const; }
  // Bit i of the constant (0 beyond the width).
  bool const_bit(unsigned i) const;

  WL_ARITH_EXT_TYPE get_arith_ext() const { return m_ext; }
  void set_arith_ext(WL_ARITH_EXT_TYPE e) { m_ext = e; }

 private:
  friend class WL_OTERM;
  void unhook();

  WL_NODE* m_node;
  WL_OTERM* m_source = nullptr;
  unsigned m_index;
  unsigned m_width;
  unsigned m_flags = 0;
  WL_ARITH_EXT_TYPE m_ext = WL_ARITH_EXT_TYPE::NONE;
  WL_CONST m_const;
};

class WL_OTERM {
 public:
  WL_OTERM(WL_NODE* owner, unsigned index, unsigned width) : m_node(owner), m_index(index), m_width(width) {}
  WL_OTERM(const WL_OTERM&) = delete;
  WL_OTERM& operator=(const WL_OTERM&) = delete;

  WL_NODE* get_my_node() const { return m_node; }
  unsigned get_index() const { return m_index; }
  unsigned width() const { return m_width; }
  void set_width(unsigned w) { m_width = w; }
  const std::vector<WL_ITERM*>& get_fanouts() const { return m_fanouts; }
  bool has_fanout() const { return !m_fanouts.empty(); }
  // Moves every fan-out to `to`, toggling each one's inversion when `invert`.
  void move_fanouts_to(WL_OTERM* to, bool invert);
  bool has_temporary_name() const { return m_temp_name; }
  void set_has_temporary_name(bool v) { m_temp_name = v; }

 private:
  friend class WL_ITERM;
  WL_NODE* m_node;
  unsigned m_index;
  unsigned m_width;
  bool m_temp_name = false;
  std::vector<WL_ITERM*> m_fanouts;
};

class WL_COMB;
class WL_PIN;
class WL_BUFFER;
class WL_SPLITTER;
class WL_MERGER;
class WL_MUX21;
class WL_ADDER;
class WL_ADDSUB;
class WL_MULTIPLIER;
class WL_LESS_THAN;
class WL_LUT;
class WL_DFF;
class WL_LATCH;
class WL_WYSIWYG;
class WL_MUX_BASE;
class WL_DECODER;
class WL_COMPONENT;
class WL_SHIFTER;
class WL_ROTATOR;
class WL_SYNCHRONOUS_RAM;

class WL_NODE {
 public:
  static unsigned s_id_counter;

  WL_NODE(WL_NODE_TYPE type, HDB_INSTANCE_NAME* name);
  virtual ~WL_NODE();
  WL_NODE(const WL_NODE&) = delete;
  WL_NODE& operator=(const WL_NODE&) = delete;

  WL_NODE_TYPE get_node_type() const { return m_type; }
  unsigned get_id() const { return m_id; }
  void set_id(unsigned id) { m_id = id; }
  HDB_INSTANCE_NAME* get_instance_name() const { return m_name; }
  void set_instance_name(HDB_INSTANCE_NAME* n) { m_name = n; }
  WL_NETLIST* get_netlist() const { return m_netlist; }

  uint32_t get_flags() const { return m_flags; }
  void set_flags(uint32_t f) { m_flags = f; }
  // Operators: non-zero for two's-complement operands (compare, multiply,
  // and operand bits read beyond an input's width repeat its top bit).
  uint8_t get_signed_byte() const { return m_signed; }
  void set_signed_byte(uint8_t v) { m_signed = v; }
  // Keep-fan-out-free byte: bit 0 requested, bit 1 in force.
  uint8_t get_kff_byte() const { return m_kff; }
  void set_kff_byte(uint8_t b) { m_kff = b; }

  unsigned get_input_count() const { return unsigned(m_iterms.size()); }
  unsigned get_output_count() const { return unsigned(m_oterms.size()); }
  WL_ITERM* get_iterm(unsigned i) const { return i < m_iterms.size() ? m_iterms[i].get() : nullptr; }
  WL_OTERM* get_oterm(unsigned i) const { return i < m_oterms.size() ? m_oterms[i].get() : nullptr; }
  WL_OTERM* get_first_oterm() const { return get_oterm(0); }
  bool has_fanout() const;

  virtual WL_COMB* cast_to_comb() { return nullptr; }
  virtual WL_PIN* cast_to_pin() { return nullptr; }
  virtual WL_BUFFER* cast_to_buffer() { return nullptr; }
  virtual WL_SPLITTER* cast_to_splitter() { return nullptr; }
  virtual WL_MERGER* cast_to_merger() { return nullptr; }
  virtual WL_MUX21* cast_to_mux21() { return nullptr; }
  virtual WL_ADDER* cast_to_adder() { return nullptr; }
  virtual WL_ADDSUB* cast_to_addsub() { return nullptr; }
  virtual WL_MULTIPLIER* cast_to_multiplier() { return nullptr; }
  virtual WL_LESS_THAN* cast_to_less_than() { return nullptr; }
  virtual WL_LUT* cast_to_lut() { return nullptr; }
  virtual WL_DFF* cast_to_dff() { return nullptr; }
  virtual WL_LATCH* cast_to_latch() { return nullptr; }
  virtual WL_WYSIWYG* cast_to_wysiwyg() { return nullptr; }
  virtual WL_MUX_BASE* cast_to_mux_base() { return nullptr; }
  virtual WL_DECODER* cast_to_decoder() { return nullptr; }
  virtual WL_COMPONENT* cast_to_component() { return nullptr; }
  virtual WL_SHIFTER* cast_to_shifter() { return nullptr; }
  virtual WL_ROTATOR* cast_to_rotator() { return nullptr; }
  virtual WL_SYNCHRONOUS_RAM* cast_to_synchronous_ram() { return nullptr; }

 protected:
  WL_ITERM* add_iterm(unsigned width);
  WL_OTERM* add_oterm(unsigned width);

 private:
  friend class WL_NETLIST;
  WL_NODE_TYPE m_type;
  unsigned m_id;
  HDB_INSTANCE_NAME* m_name;
  WL_NETLIST* m_netlist = nullptr;
  uint32_t m_flags = 0;
  uint8_t m_kff = 0;
  uint8_t m_signed = 0;
  std::vector<std::unique_ptr<WL_ITERM>> m_iterms;
  std::vector<std::unique_ptr<WL_OTERM>> m_oterms;
};

// A combinational gate of a CDB_COMB_TYPE applied bitwise over its inputs.
class WL_COMB : public WL_NODE {
 public:
  WL_COMB(CDB_COMB_TYPE type, unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  CDB_COMB_TYPE get_comb_type() const { return m_comb_type; }
  WL_ITERM* create_new_iterm() { return add_iterm(get_first_oterm()->width()); }
  WL_COMB* cast_to_comb() override { return this; }

 private:
  CDB_COMB_TYPE m_comb_type;
};

// Pin type 0: an input of the netlist (read through the output); 1: an
// output (reads its input 0). One input and one output of the same width.
class WL_PIN : public WL_NODE {
 public:
  WL_PIN(int pin_type, unsigned width, HDB_INSTANCE_NAME* name);
  int get_pin_type() const { return m_pin_type; }
  WL_PIN* cast_to_pin() override { return this; }

 private:
  int m_pin_type;
};

// Passes input 0 through; the buffer type is the gate's minus 3.
class WL_BUFFER : public WL_NODE {
 public:
  WL_BUFFER(int buffer_type, unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  int get_buffer_type() const { return m_buffer_type; }
  WL_BUFFER* cast_to_buffer() override { return this; }

 private:
  int m_buffer_type;
};

class WL_SPLITTER : public WL_NODE {
 public:
  // An input of `in_width` bits and, when `one_bit_outputs`, one 1-bit output
  // per input bit.
  explicit WL_SPLITTER(unsigned in_width, bool one_bit_outputs = true);
  // A new output carrying input bits [lo, lo + width).
  WL_OTERM* add_slice(unsigned lo, unsigned width);
  unsigned get_slice_lo(unsigned out) const { return m_lo[out]; }
  // An inverted input becomes inverted fan-outs.
  void push_iterm_inversions_to_fanout();
  WL_SPLITTER* cast_to_splitter() override { return this; }

 private:
  std::vector<unsigned> m_lo;
};

struct WL_MERGER_ENTRY {
  unsigned input = 0;
  unsigned bit = 0;
  bool invert = false;
};

class WL_MERGER : public WL_NODE {
 public:
  WL_MERGER(unsigned width, unsigned num_inputs, HDB_INSTANCE_NAME* name = nullptr);
  // Output bit `out_bit` is bit `bit` of input `input`, inverted when `inv`.
  void register_entry(unsigned input, unsigned bit, bool inv, unsigned out_bit);
  const WL_MERGER_ENTRY& get_table_entry(unsigned out_bit) const { return m_table[out_bit]; }
  void set_invert_in_table(unsigned out_bit) { m_table[out_bit].invert = !m_table[out_bit].invert; }
  // Moves each driven input's inversion into the table entries that read it.
  void absorb_iterm_inversions_in_table();
  // Appends an input of that width.
  WL_ITERM* add_input(unsigned width) { return add_iterm(width); }

  static void allow_table_inversions() { s_table_inversions = true; }
  static void disable_table_inversions() { s_table_inversions = false; }
  static bool table_inversions_allowed() { return s_table_inversions; }

  WL_MERGER* cast_to_merger() override { return this; }
  // Clean-up passes write entries whatever the inversion switch says.
  void set_entry_internal(unsigned out_bit, const WL_MERGER_ENTRY& e) { m_table[out_bit] = e; }

 private:
  static bool s_table_inversions;
  std::vector<WL_MERGER_ENTRY> m_table;
};

// Inputs 0 data0, 1 data1 (node width), 2 select (1 bit).
class WL_MUX21 : public WL_NODE {
 public:
  explicit WL_MUX21(unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  WL_MUX21* cast_to_mux21() override { return this; }
};

// An n-to-1 mux (MUX: out = data[value of the select bits], 0 beyond the
// data) or a one-hot selector (SELECTOR: out = OR of select[i] & data[i]).
// Inputs: the data inputs (node width each), then the one-bit selects.
class WL_MUX_BASE : public WL_NODE {
 public:
  WL_MUX_BASE(WL_NODE_TYPE type, unsigned num_data, unsigned num_select, unsigned width, HDB_INSTANCE_NAME* name);
  unsigned get_num_data() const { return m_num_data; }
  unsigned get_num_select() const { return m_num_select; }
  WL_ITERM* get_data(unsigned i) const { return get_iterm(i); }
  WL_ITERM* get_select(unsigned i) const { return get_iterm(m_num_data + i); }
  WL_MUX_BASE* cast_to_mux_base() override { return this; }

 private:
  unsigned m_num_data;
  unsigned m_num_select;
};

class WL_MUX : public WL_MUX_BASE {
 public:
  WL_MUX(unsigned num_data, unsigned num_select, unsigned width, HDB_INSTANCE_NAME* name = nullptr)
      : WL_MUX_BASE(WL_NODE_TYPE::MUX, num_data, num_select, width, name) {}
};

class WL_SELECTOR : public WL_MUX_BASE {
 public:
  WL_SELECTOR(unsigned num_data, unsigned width, HDB_INSTANCE_NAME* name = nullptr)
      : WL_MUX_BASE(WL_NODE_TYPE::SELECTOR, num_data, num_data, width, name) {}
};

// A shifter (type 0 left, 1 right) of `num_data` one-bit data inputs by the
// value of `num_amount` one-bit amount inputs; the carry-in fills the bits
// shifted in. Inputs: data, amount, carry-in; outputs: one per data bit.
class WL_SHIFTER : public WL_NODE {
 public:
  WL_SHIFTER(int type, unsigned num_data, unsigned num_amount, unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  int get_type() const { return m_type; }
  unsigned get_num_data() const { return m_num_data; }
  unsigned get_num_amount() const { return m_num_amount; }
  WL_ITERM* get_data(unsigned i) const { return get_iterm(i); }
  WL_ITERM* get_amount(unsigned i) const { return get_iterm(m_num_data + i); }
  WL_ITERM* get_cin() const { return get_iterm(m_num_data + m_num_amount); }
  WL_SHIFTER* cast_to_shifter() override { return this; }

 private:
  int m_type;
  unsigned m_num_data, m_num_amount;
};

// A rotator (type 0 left, 1 right): data inputs and outputs of the node
// width each (one rotator per bit of the width), one-bit amount inputs.
class WL_ROTATOR : public WL_NODE {
 public:
  WL_ROTATOR(int type, unsigned num_data, unsigned num_amount, unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  int get_type() const { return m_type; }
  unsigned get_num_data() const { return m_num_data; }
  unsigned get_num_amount() const { return m_num_amount; }
  WL_ITERM* get_data(unsigned i) const { return get_iterm(i); }
  WL_ITERM* get_amount(unsigned i) const { return get_iterm(m_num_data + i); }
  WL_ROTATOR* cast_to_rotator() override { return this; }

 private:
  int m_type;
  unsigned m_num_data, m_num_amount;
};

// A synchronous RAM: 20 inputs and 2 outputs of the given widths (a width
// may be 0), its ten size parameters, two mode words and the name of its
// memory-initialisation file. A keeper of sweep; the evaluator does not run
// it.
class WL_SYNCHRONOUS_RAM : public WL_NODE {
 public:
  static constexpr unsigned kNumInputs = 20, kNumOutputs = 2, kNumSizeParameters = 10;
  WL_SYNCHRONOUS_RAM(const int* size_parameters, const unsigned* input_widths, const unsigned* output_widths,
                     HDB_INSTANCE_NAME* name = nullptr);
  int get_size_parameter(unsigned i) const { return m_size[i]; }
  uint32_t get_mode_word(unsigned i) const { return m_mode[i]; }
  void set_mode_word(unsigned i, uint32_t v) { m_mode[i] = v; }
  const std::string& get_mif_file() const { return m_mif; }
  void set_mif_file(const std::string& f) { m_mif = f; }
  // The gate's further fields, carried unchanged: mode byte, four port-mode
  // bytes, seven option bits and the trailing word.
  static constexpr unsigned kNumPortModes = 4;
  uint8_t get_mode_byte() const { return m_mode_byte; }
  void set_mode_byte(uint8_t v) { m_mode_byte = v; }
  // i < kNumPortModes; option bits above bit 6 are an internal error.
  uint8_t get_port_mode_byte(unsigned i) const;
  void set_port_mode_byte(unsigned i, uint8_t v);
  uint8_t get_option_bits() const { return m_option_bits; }
  void set_option_bits(uint8_t v);
  uint32_t get_last_word() const { return m_last_word; }
  void set_last_word(uint32_t v) { m_last_word = v; }
  WL_SYNCHRONOUS_RAM* cast_to_synchronous_ram() override { return this; }

 private:
  int m_size[kNumSizeParameters];
  uint32_t m_mode[2] = {0, 0};
  std::string m_mif;
  uint8_t m_mode_byte = 0;
  uint8_t m_port_mode[kNumPortModes] = {0, 0, 0, 0};
  uint8_t m_option_bits = 0;
  uint32_t m_last_word = 0;
};

// A decoder of `address_width` one-bit address inputs with `decode_width`
// one-bit outputs: output j is 1 when the address equals j.
class WL_DECODER : public WL_NODE {
 public:
  WL_DECODER(unsigned address_width, unsigned decode_width, HDB_INSTANCE_NAME* name = nullptr);
  unsigned get_address_width() const { return get_input_count(); }
  unsigned get_decode_width() const { return get_output_count(); }
  WL_DECODER* cast_to_decoder() override { return this; }
};

// Inputs 0 A, 1 B (width each unless extended), 2 carry-in (1 bit); outputs
// 0 sum (width), 1 carry-out (1 bit). A narrower input with an extension is
// widened to the adder's width.
class WL_ADDER : public WL_NODE {
 public:
  WL_ADDER(bool mode, unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  uint8_t get_mode_byte() const { return m_mode; }
  void set_mode_byte(uint8_t m) { m_mode = m; }
  unsigned get_width() const { return m_width; }
  WL_ADDER* cast_to_adder() override { return this; }

 private:
  unsigned m_width;
  uint8_t m_mode;
};

// Inputs 0 A (wa), 1 B (wb), 2 add-not-sub (1 bit); output max(wa, wb):
// A + B when add-not-sub is 1, else A - B.
class WL_ADDSUB : public WL_NODE {
 public:
  WL_ADDSUB(bool mode, unsigned wa, unsigned wb, HDB_INSTANCE_NAME* name = nullptr);
  uint8_t get_mode_byte() const { return m_mode; }
  unsigned get_stored_width(unsigned input) const { return m_widths[input]; }
  WL_ADDSUB* cast_to_addsub() override { return this; }

 private:
  unsigned m_widths[2];
  uint8_t m_mode;
};

// Inputs 0 A (wa), 1 B (wb); output wa + wb bits, the unsigned product.
class WL_MULTIPLIER : public WL_NODE {
 public:
  WL_MULTIPLIER(bool mode, unsigned wa, unsigned wb, HDB_INSTANCE_NAME* name = nullptr);
  uint8_t get_mode_byte() const { return m_mode; }
  uint8_t get_mode_byte2() const { return m_mode2; }
  void set_mode_byte2(uint8_t m) { m_mode2 = m; }
  unsigned get_stored_width(unsigned input) const { return m_widths[input]; }
  WL_MULTIPLIER* cast_to_multiplier() override { return this; }

 private:
  unsigned m_widths[2];
  uint8_t m_mode;
  uint8_t m_mode2 = 0;
};

// Inputs 0 A, 1 B (width), 2 carry-in (1 bit, unused by the evaluator);
// output 1 bit: A < B unsigned.
class WL_LESS_THAN : public WL_NODE {
 public:
  explicit WL_LESS_THAN(unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  WL_LESS_THAN* cast_to_less_than() override { return this; }
};

// Inputs 0 A, 1 B (width); output 1 bit: A == B. Word-level passes make
// these; no gate enters the word-level netlist as one.
class WL_EQUAL : public WL_NODE {
 public:
  explicit WL_EQUAL(unsigned width, HDB_INSTANCE_NAME* name = nullptr);
};

// LUT type 0: six inputs, a CDB_LUTMASK; type 1: seven inputs, the mask is a
// 64-bit logic-cell mask over inputs 0..5 with input 6 unused by the
// evaluator. Every bit of the width is its own LUT over the inputs' bits.
class WL_LUT : public WL_NODE {
 public:
  WL_LUT(int lut_type, const CDB_LUTMASK& mask, unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  int get_lut_type() const { return m_lut_type; }
  const CDB_LUTMASK& get_mask() const { return m_mask; }
  uint64_t get_mask64() const { return m_mask64; }
  void set_mask64(uint64_t m) { m_mask64 = m; }
  uint8_t get_option_byte(int i) const { return m_options[i]; }
  void set_option_byte(int i, uint8_t v) { m_options[i] = v; }
  WL_LUT* cast_to_lut() override { return this; }

 private:
  int m_lut_type;
  CDB_LUTMASK m_mask;
  uint64_t m_mask64 = 0;
  uint8_t m_options[2] = {0, 0};
};

// Status byte bits of WL_DFF (r0, r1, r2).
enum WL_DFF_STATUS : unsigned {
  WL_DFF_R0_POWER_UP_DC = 0x01,
  WL_DFF_R0_EXPLICIT_POWER_UP = 0x02,
  WL_DFF_R0_PRESERVE = 0x04,
  WL_DFF_R0_PRESERVE_SET = 0x08,
  WL_DFF_R0_MERGE = 0x40,
  WL_DFF_R0_MERGE_SET = 0x80,
  WL_DFF_R1_PRUNE = 0x01,
  WL_DFF_R1_PRUNE_SET = 0x02,
  WL_DFF_R1_NOT_GATE_PUSH = 0x10,
  WL_DFF_R1_NOT_GATE_PUSH_SET = 0x20,
  WL_DFF_R2_DONT_TOUCH = 0x01,
  WL_DFF_R2_FROM_USER = 0x02,
  WL_DFF_R2_NOT_GATE_PUSHED = 0x04,
  WL_DFF_R2_SCLR_OVER_ENA = 0x08,
  WL_DFF_R2_USER_CLOCK_ENA = 0x10
};

// Inputs in the gate register's order: 0 data, 1 clk, 2 aclr, 3 preset,
// 4 ena, 5 adata, 6 aload, 7 sclr, 8 sload; data and adata have the width,
// the controls one bit.
class WL_DFF : public WL_NODE {
 public:
  explicit WL_DFF(unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  void set_power_up(const WL_CONST& v) { m_power_up = v; }
  const WL_CONST& get_power_up() const { return m_power_up; }
  bool power_up_high(unsigned bit) const { return bit_test(m_power_up, bit); }
  uint8_t get_status(int i) const { return m_status[i]; }
  void set_status(int i, uint8_t v) { m_status[i] = v; }
  void set_status_bits(int i, uint8_t mask, bool v) { m_status[i] = v ? (m_status[i] | mask) : (m_status[i] & ~mask); }

  bool is_preserved() const { return (m_status[0] & WL_DFF_R0_PRESERVE) != 0; }
  void set_preserve(bool v) { set_status_bits(0, WL_DFF_R0_PRESERVE, v); set_status_bits(0, WL_DFF_R0_PRESERVE_SET, true); }
  void set_merge_allowed(bool v) { set_status_bits(0, WL_DFF_R0_MERGE, v); set_status_bits(0, WL_DFF_R0_MERGE_SET, true); }
  void set_prune_allowed(bool v) { set_status_bits(1, WL_DFF_R1_PRUNE, v); set_status_bits(1, WL_DFF_R1_PRUNE_SET, true); }
  void set_not_gate_push_allowed(bool v) {
    set_status_bits(1, WL_DFF_R1_NOT_GATE_PUSH, v);
    set_status_bits(1, WL_DFF_R1_NOT_GATE_PUSH_SET, true);
  }
  bool is_dont_touch() const { return (m_status[2] & WL_DFF_R2_DONT_TOUCH) != 0; }
  void set_dont_touch(bool v) { set_status_bits(2, WL_DFF_R2_DONT_TOUCH, v); }
  bool is_from_user() const { return (m_status[2] & WL_DFF_R2_FROM_USER) != 0; }
  void set_from_user(bool v) { set_status_bits(2, WL_DFF_R2_FROM_USER, v); }
  bool is_not_gate_pushed() const { return (m_status[2] & WL_DFF_R2_NOT_GATE_PUSHED) != 0; }
  void set_not_gate_pushed(bool v) { set_status_bits(2, WL_DFF_R2_NOT_GATE_PUSHED, v); }

  // Per-bit names of a register bus (empty until set).
  void set_bit_instance_name(unsigned bit, HDB_INSTANCE_NAME* n);
  HDB_INSTANCE_NAME* get_bit_instance_name(unsigned bit) const;
  void set_bit_has_temporary_name(unsigned bit, bool v);
  bool bit_has_temporary_name(unsigned bit) const;

  WL_DFF* cast_to_dff() override { return this; }

 private:
  static bool bit_test(const WL_CONST& v, unsigned bit) { return boost::multiprecision::bit_test(v, bit); }
  WL_CONST m_power_up;
  uint8_t m_status[3] = {0, 0, 0};
  std::vector<HDB_INSTANCE_NAME*> m_bit_names;
  std::vector<bool> m_bit_temp;
};

// Inputs 0 D (width), 1 EN, 2 EN2, 3 CLR, 4 PRE (1 bit each).
class WL_LATCH : public WL_NODE {
 public:
  explicit WL_LATCH(unsigned width, HDB_INSTANCE_NAME* name = nullptr);
  uint8_t get_options() const { return m_options; }
  void set_options(uint8_t v) { m_options = v; }
  WL_LATCH* cast_to_latch() override { return this; }

 private:
  uint8_t m_options = 0;
};

// Wraps a gate-level device atom (never freed here). One input per input
// port type of the atom and one output per output port type, in slot order
// of first occurrence; each as wide as the atom's slots of that type.
class WL_WYSIWYG : public WL_NODE {
 public:
  WL_WYSIWYG(CDB_SGATE_WYSIWYG* atom, WL_NETLIST* netlist, HDB_INSTANCE_NAME* name);
  CDB_SGATE_WYSIWYG* get_cdb_sgate_wys() const { return m_atom; }
  CDB_WYSIWYG_TYPE get_wysiwyg_type() const;
  // The input (output) index of a port type; 65535 when the atom has none.
  unsigned get_iterm_index(DB_INPUT_PORT_TYPE port) const;
  unsigned get_oterm_index(DB_OUTPUT_PORT_TYPE port) const;
  WL_WYSIWYG* cast_to_wysiwyg() override { return this; }

 private:
  CDB_SGATE_WYSIWYG* m_atom;
  std::vector<DB_INPUT_PORT_TYPE> m_in_ports;
  std::vector<DB_OUTPUT_PORT_TYPE> m_out_ports;
};

// A component: named input and output ports (a port is a bus or a single
// bit), parameters (name, value, type), library and architecture names. A
// keeper of sweep; the evaluator does not run it.
struct WL_COMPONENT_PORT_ENTRY {
  std::string name;
  bool is_bus = false;
  WL_ITERM* iterm = nullptr;  // inputs
  WL_OTERM* oterm = nullptr;  // outputs
};

struct WL_COMPONENT_PARAMETER {
  std::string name, value;
  int type = 0;
};

class WL_COMPONENT : public WL_NODE {
 public:
  typedef std::vector<WL_COMPONENT_PORT_ENTRY>::const_iterator CONST_PORT_ENTRY_ITERATOR;
  typedef std::vector<WL_COMPONENT_PARAMETER>::const_iterator CONST_PARAMETER_ITERATOR;

  WL_COMPONENT(unsigned num_inputs, unsigned num_outputs, bool is_port_prototype_known,
               HDB_INSTANCE_NAME* name = nullptr);
  bool is_port_prototype_known() const { return m_prototype_known; }
  const std::string& get_component_type_name() const { return m_type_name; }
  void set_component_type_name(const std::string& t) { m_type_name = t; }
  WL_ITERM* create_iterm(const std::string& name, unsigned width, bool is_bus);
  WL_OTERM* create_oterm(const std::string& name, unsigned width, bool is_bus);
  WL_ITERM* get_iterm_by_name(const std::string& name) const;
  WL_OTERM* get_oterm_by_name(const std::string& name) const;
  // The entry of an input or output (null when none).
  const WL_COMPONENT_PORT_ENTRY* get_iterm_entry(const WL_ITERM* t) const;
  const WL_COMPONENT_PORT_ENTRY* get_oterm_entry(const WL_OTERM* t) const;
  CONST_PORT_ENTRY_ITERATOR begin_const_port_entry_table() const { return m_ports.begin(); }
  CONST_PORT_ENTRY_ITERATOR end_const_port_entry_table() const { return m_ports.end(); }
  void set_parameter(const std::string& name, const std::string& value, int type);
  CONST_PARAMETER_ITERATOR begin_const_parameter_table() const { return m_parameters.begin(); }
  CONST_PARAMETER_ITERATOR end_const_parameter_table() const { return m_parameters.end(); }
  const std::string& get_library_name() const { return m_library; }
  void set_library_name(const std::string& n) { m_library = n; }
  const std::string& get_architecture_name() const { return m_architecture; }
  void set_architecture_name(const std::string& n) { m_architecture = n; }
  uint8_t get_option_byte() const { return m_options; }
  void set_option_byte(uint8_t b) { m_options = b; }
  WL_COMPONENT* cast_to_component() override { return this; }

 private:
  bool m_prototype_known;
  std::string m_type_name, m_library, m_architecture;
  uint8_t m_options = 0;
  std::vector<WL_COMPONENT_PORT_ENTRY> m_ports;
  std::vector<WL_COMPONENT_PARAMETER> m_parameters;
};

class WL_NETLIST {
 public:
  typedef std::vector<WL_NODE*>::const_iterator NODE_ITERATOR;

  explicit WL_NETLIST(const std::string& name);
  ~WL_NETLIST();
  WL_NETLIST(const WL_NETLIST&) = delete;
  WL_NETLIST& operator=(const WL_NETLIST&) = delete;

  const std::string& get_name() const { return m_name; }
  // Appends a node not yet in a netlist; the netlist owns it from now on.
  void add_node(WL_NODE* node);
  // Disconnects and destroys a node of this netlist.
  void delete_node(WL_NODE* node);
  NODE_ITERATOR begin_node_list() const { return m_nodes.begin(); }
  NODE_ITERATOR end_node_list() const { return m_nodes.end(); }
  size_t size() const { return m_nodes.size(); }

  uint32_t get_marker_mask() const { return m_marker_mask; }
  void set_marker_mask(uint32_t m) { m_marker_mask = m; }

  // `aggressive` true is an internal error. Returns the nodes removed.
  int sweep(bool aggressive);

 private:
  friend int wl_remove_unreachable_nodes(WL_NETLIST*);
  friend void wutil_clean_up_mergers_and_splitters(WL_NETLIST*);
  void remove_nodes(const std::vector<char>& dead);

  std::string m_name;
  std::vector<WL_NODE*> m_nodes;
  uint32_t m_marker_mask = 0x1;
};

WL_NETLIST* wl_create_netlist(const char* name);
int wl_remove_unreachable_nodes(WL_NETLIST* netlist);
void wutil_clean_up_mergers_and_splitters(WL_NETLIST* netlist);
// Nothing to do: extension mergers are never created here.
void wutil_clean_up_arithmetic_extension_mergers(WL_NETLIST* netlist);
// Debug lines (component "WL", level 2): one per node with its inputs;
// nothing, and no cost, while the component's debug output is off.
void wl_dump_netlist(const WL_NETLIST* netlist, const char* label);
std::string wl_get_string_hpath(const WL_NODE* node);
bool wl_is_arithmetic(const WL_NODE* node);
bool wl_is_dff(const WL_NODE* node);

namespace kavu_platform {

// Bit-level evaluation of a word-level netlist, 64 patterns a word. Values
// are per output terminal and bit. Unconnected inputs read 0 for data and
// are inactive for register and latch controls (enable reads 1).
class WL_SIMULATOR {
 public:
  explicit WL_SIMULATOR(const WL_NETLIST* netlist);
  ~WL_SIMULATOR();
  WL_SIMULATOR(const WL_SIMULATOR&) = delete;
  WL_SIMULATOR& operator=(const WL_SIMULATOR&) = delete;

  bool ok() const { return m_error.empty(); }
  const std::string& error() const { return m_error; }
  void set_input(const WL_NODE* pin, unsigned bit, uint64_t word);
  void reset_state();
  void eval();
  void clock();
  uint64_t value(const WL_OTERM* oterm, unsigned bit) const;
  // The word an output pin reads at `bit`.
  uint64_t output(const WL_NODE* pin, unsigned bit) const;

 private:
  struct IMPL;
  std::unique_ptr<IMPL> m_impl;
  std::string m_error;
};

// Runs `cycles` cycles from power-up: each sets the inputs, settles, and
// from the second cycle on clocks once (capturing the settled values):
// inputs(pin, bit, cycle) gives each input pin bit's word, outputs(pin, bit,
// cycle, word) receives every output pin bit's word. False (with *why) when
// the netlist cannot be evaluated.
bool wl_simulate(const WL_NETLIST* netlist, int cycles,
                 const std::function<uint64_t(const WL_NODE*, unsigned, int)>& inputs,
                 const std::function<void(const WL_NODE*, unsigned, int, uint64_t)>& outputs,
                 std::string* why = nullptr);

void wl_test_reset();

}  // namespace kavu_platform
