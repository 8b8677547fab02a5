// Role: netlist I/O, simulation and oracles (tests and tools)
// (docs/platform.md, "Netlist I/O and oracles").
// sim_blocks.h — simulation models of the hard blocks: RAM blocks, MAC
// (multiply-accumulate) blocks and LUT RAMs, on 64-bit pattern words.
//
// The simulator has one clock: at capture() every clocked element takes its
// next state. A block port counts as clocked when its clock input is driven
// by a terminal; a registered group whose clock input is not driven never
// captures, and a memory whose write clock is not driven is never written.
//
// MAC block: DATA_OUT_A = AX * AY and DATA_OUT_B = BX * BY (unsigned, the
//   low 37 bits), CHAINOUT = CHAIN_IN + (A - B when SUB_NADD, else A + B),
//   negated before the addition when NEGATE (64 bits, two's complement).
//   Mode bits 91/92/93 register the data ports (AX, AY, BX, BY, CHAIN_IN),
//   the control ports (SUB_NADD, NEGATE) and the outputs, each on its
//   group's clock (cut/cut_mac.h). AZ, BZ, COEF_SEL_A/B, ACC_NLOAD and
//   LOAD_VALUE_ENA are not modelled: a connected one makes the model refuse.
// LUT RAM: 32 words of 1 bit. At the clock, when the write clock (CLK0, or
//   CLK) is driven and WE is 1, word WADDR takes DATAIN. Data out is word
//   RADDR; with the instance parameter WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK =
//   "clock1" it is registered (captured at the clock when CLK1 is driven,
//   reading before the write). ACLR clears the output register, at the clock
//   when WYS_PIREL_EC_PORT_B_DATA_OUT_CLEAR is "sclear", at once otherwise;
//   a connected ACLR on an unregistered output makes the model refuse.
// RAM block: two ports over one memory of 2^a words of d bits (a and d the
//   widths of the address and data-in ports, at most 8 each). Port A: WE 83,
//   DATAIN 88, ADDR 89, written on CLK0; port B: WE 95, DATAIN 100, ADDR 101,
//   written on CLK1 when port B's mode set holds 45, else on CLK0 (A writes
//   first). Data out 41 (port A) and 42 (port B) read their port's word;
//   mode member 9 registers a port's output, on CLK1 under member 27, else
//   on CLK0. Any other connected input makes the model refuse.
// Values are per pattern: bit l of every word is pattern l, so arithmetic and
// addressing run lane by lane.
// Cost: eval and capture O(64 * port bits) per block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CDB_SGATE_WYSIWYG;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

namespace kavu_platform {

class SIM_BLOCK {
 public:
  // Reads the atom. inputs receives the terminals the model reads (null
  // where absent), in the model's order; outputs the terminals it drives.
  // False, with the reason in *why, for an atom or a use it does not model.
  bool compile(const CDB_SGATE_WYSIWYG* atom, std::vector<const CDB_SGATE_ITERM*>& inputs,
               std::vector<const CDB_SGATE_OTERM*>& outputs, std::string* why);
  // Whether input k reaches an output without a clock.
  bool is_comb_input(unsigned k) const { return k < m_comb.size() && m_comb[k]; }
  void reset();
  // in: one word per input (compile order); out: one word per output.
  void eval(const uint64_t* in, uint64_t* out) const;
  void capture(const uint64_t* in);

 private:
  enum KIND { MAC, LUTRAM, RAM };
  struct PORT {
    unsigned m_first = 0;  // first input word
    unsigned m_width = 0;
  };
  uint64_t lane_value(const uint64_t* in, const PORT& p, unsigned lane) const;
  void mac_outputs(const uint64_t* data, const uint64_t* control, uint64_t* out) const;
  void ram_read(unsigned port, const uint64_t* in, uint64_t* out) const;

  KIND m_kind = MAC;
  std::vector<bool> m_comb;
  // MAC
  PORT m_ax, m_ay, m_bx, m_by, m_chain, m_sub, m_neg;
  unsigned m_data_words = 0, m_control_words = 0;
  bool m_data_reg = false, m_control_reg = false, m_out_reg = false;
  bool m_data_clocked = false, m_control_clocked = false, m_out_clocked = false;
  unsigned m_outs_a = 0, m_outs_b = 0, m_outs_chain = 0;  // outputs per bus
  std::vector<int> m_out_map;                             // output k -> bit of the 138-bit result, per bus
  std::vector<uint64_t> m_data_state, m_control_state, m_out_state;
  // LUT RAM and RAM
  PORT m_we[2], m_din[2], m_addr[2], m_aclr;
  bool m_write_clocked[2] = {false, false};
  bool m_registered[2] = {false, false};
  bool m_read_clocked[2] = {false, false};
  bool m_sync_clear = false;
  unsigned m_words = 0, m_bits = 0;
  std::vector<int> m_out_port, m_out_bit;  // per output: port (0 A, 1 B) and bit
  std::vector<uint64_t> m_mem;             // word w, bit b at w * m_bits + b
  std::vector<uint64_t> m_read_state;      // registered outputs, per port and bit
};

}  // namespace kavu_platform
