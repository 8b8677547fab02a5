// Role: gate-netlist database (docs/platform.md, "Gate database"; see also "Codes and gate kinds").
// cdb_codes.h — every numeric code of the gate-netlist database.
//
// Shared by the database, the library, the BLIF reader and writer, the
// simulator and the archive. Values never change; new codes are added here.
// The enumerations are unscoped so that code may compare with plain numbers.
// Fixed input and output positions of the positional kinds are listed too.
#pragma once

#include <cstdint>

// Gate types (CDB_SGATE_NODE::get_sgate_type). 8, 10, 27..32 and 63..65 are unused.
enum CDB_SGATE_TYPE {
  CDB_SGATE_BUFFER_ENUM = 0,
  CDB_SGATE_COMB_ENUM = 1,
  CDB_SGATE_DFF_ENUM = 2,
  CDB_SGATE_IO_ENUM = 3,
  CDB_SGATE_IO_BUF_ENUM = 4,
  CDB_SGATE_LUT_ENUM = 5,
  CDB_SGATE_RAM_SLICE_ENUM = 6,
  CDB_SGATE_STATE_ENUM = 7,
  CDB_SGATE_WYSIWYG_ENUM = 9,
  // Device-atom kinds 11..22, 33..42, 47..62 (gate types reported by atoms).
  CDB_SGATE_WYSIWYG_LCELL_ENUM = 11,
  CDB_SGATE_WYSIWYG_FF_ENUM = 12,
  CDB_SGATE_WYSIWYG_RAM_BLOCK_ENUM = 13,
  CDB_SGATE_WYSIWYG_IO_ENUM = 14,
  CDB_SGATE_WYSIWYG_MAC_ENUM = 15,
  CDB_SGATE_WYSIWYG_SERDES_ENUM = 16,
  CDB_SGATE_WYSIWYG_DLL_ENUM = 17,
  CDB_SGATE_WYSIWYG_JTAG_ENUM = 18,
  CDB_SGATE_WYSIWYG_CRC_ENUM = 19,
  CDB_SGATE_WYSIWYG_OSC_ENUM = 20,
  CDB_SGATE_WYSIWYG_HSSI_ENUM = 21,
  CDB_SGATE_WYSIWYG_PLL_ENUM = 22,
  CDB_SGATE_MUX_ENUM = 23,
  CDB_SGATE_CARRY_SUM_ENUM = 24,
  CDB_SGATE_TRI_BUS_ENUM = 25,
  CDB_SGATE_LATCH_ENUM = 26,
  CDB_SGATE_WYSIWYG_MAC_MULT_ENUM = 33,
  CDB_SGATE_WYSIWYG_MAC_OUT_ENUM = 34,
  CDB_SGATE_WYSIWYG_KIND_35_ENUM = 35,
  CDB_SGATE_WYSIWYG_KIND_36_ENUM = 36,
  CDB_SGATE_WYSIWYG_KIND_37_ENUM = 37,
  CDB_SGATE_WYSIWYG_KIND_38_ENUM = 38,
  CDB_SGATE_WYSIWYG_KIND_39_ENUM = 39,
  CDB_SGATE_WYSIWYG_CLKBUF_ENUM = 40,
  CDB_SGATE_WYSIWYG_KIND_41_ENUM = 41,
  CDB_SGATE_WYSIWYG_KIND_42_ENUM = 42,
  CDB_SGATE_COMPONENT_ENUM = 43,
  CDB_SGATE_OPERATOR_ENUM = 44,
  CDB_SGATE_ASYNCHRONOUS_RAM_ENUM = 45,
  CDB_SGATE_SYNCHRONOUS_RAM_ENUM = 46,
  CDB_SGATE_WYSIWYG_KIND_47_ENUM = 47,
  CDB_SGATE_WYSIWYG_KIND_48_ENUM = 48,
  CDB_SGATE_WYSIWYG_KIND_49_ENUM = 49,
  CDB_SGATE_WYSIWYG_KIND_50_ENUM = 50,
  CDB_SGATE_WYSIWYG_KIND_51_ENUM = 51,
  CDB_SGATE_WYSIWYG_KIND_52_ENUM = 52,
  CDB_SGATE_WYSIWYG_KIND_53_ENUM = 53,
  CDB_SGATE_WYSIWYG_KIND_54_ENUM = 54,
  CDB_SGATE_WYSIWYG_KIND_55_ENUM = 55,
  CDB_SGATE_WYSIWYG_KIND_56_ENUM = 56,
  CDB_SGATE_WYSIWYG_IO_IBUF_ENUM = 57,
  CDB_SGATE_WYSIWYG_IO_OBUF_ENUM = 58,
  CDB_SGATE_WYSIWYG_LUTRAM_ENUM = 59,
  CDB_SGATE_WYSIWYG_DDIO_IN_ENUM = 60,
  CDB_SGATE_WYSIWYG_DDIO_OUT_ENUM = 61,
  CDB_SGATE_WYSIWYG_DDIO_OE_ENUM = 62,
  CDB_SGATE_WYSIWYG_GENERIC_ENUM = 66,
  CDB_SGATE_BOUNDARY_ENUM = 67
};

// Buffer types; every buffer passes its input through. 2 and 7 are unused.
enum CDB_BUFFER_TYPE {
  CDB_BUFFER_CASCADE = 0,
  CDB_BUFFER_SINGLE_CARRY = 1,
  CDB_BUFFER_CUT = 3,
  CDB_BUFFER_SOFT = 4,
  CDB_BUFFER_LCELL = 5,
  CDB_BUFFER_GLOBAL = 6,
  CDB_BUFFER_ROW_GLOBAL = 8,
  CDB_BUFFER_PROTECT = 9,
  CDB_BUFFER_DONT_CARE = 10,
  CDB_BUFFER_LUT_INPUT = 11,
  CDB_BUFFER_LUT_OUTPUT = 12,
  CDB_BUFFER_DIRECTION = 13,
  CDB_BUFFER_NAME = 14,
  CDB_BUFFER_SOFT_LCELL = 15,
  CDB_BUFFER_OBSERVER = 16,
  CDB_BUFFER_SILLY = 17
};

// Comb types (8 bits). With no connected input AND gives 1, OR and XOR 0.
enum CDB_COMB_TYPE {
  CDB_COMB_AND = 0,
  CDB_COMB_OR = 1,
  CDB_COMB_XOR = 2,
  CDB_COMB_NOT = 3,          // one input, complemented
  CDB_COMB_NAME_KEEPER = 4   // one input, passed through; holds a name
};

enum CDB_IO_TYPE { CDB_IO_INPUT = 0, CDB_IO_OUTPUT = 1, CDB_IO_BIDIR = 2 };
enum CDB_IO_BUF_TYPE { CDB_IO_BUF_TRI = 0, CDB_IO_BUF_OPEN_DRAIN = 1 };
enum CDB_BOUNDARY_TYPE { CDB_BOUNDARY_INPUT = 0, CDB_BOUNDARY_OUTPUT = 1 };

// Operator kinds; 12, 17, 22, 23 are reserved names without behaviour.
enum CDB_OPER_TYPE {
  CDB_OPER_ADDITION = 0,
  CDB_OPER_MULTIPLY = 1,
  CDB_OPER_DIVIDE = 2,
  CDB_OPER_MODULO = 3,
  CDB_OPER_LEFT_SHIFT = 4,
  CDB_OPER_RIGHT_SHIFT = 5,
  CDB_OPER_LEFT_ROTATE = 6,
  CDB_OPER_RIGHT_ROTATE = 7,
  CDB_OPER_COMPARE = 8,
  CDB_OPER_NTO1_MUX = 9,
  CDB_OPER_SELECT = 10,
  CDB_OPER_DECODE = 11,
  CDB_OPER_RESERVED_12 = 12,
  CDB_OPER_ADDSUB = 13,
  CDB_OPER_BUSMUX = 14,
  CDB_OPER_CHOICE = 15,
  CDB_OPER_EQUAL = 16,
  CDB_OPER_RESERVED_17 = 17,
  CDB_OPER_BUS_IN = 18,
  CDB_OPER_BUS_OUT = 19,
  CDB_OPER_REG_SEC_SIG_PROXY = 20,
  CDB_OPER_ENABLED_DECODE = 21,
  CDB_OPER_RESERVED_22 = 22,
  CDB_OPER_RESERVED_23 = 23
};

enum CDB_OPER_PORT_TYPE {
  CDB_OPER_PORT_CIN = 0,
  CDB_OPER_PORT_A = 1,      // also the select of select and n-to-1 mux operators
  CDB_OPER_PORT_B = 2,      // also their data
  CDB_OPER_PORT_O = 3,
  CDB_OPER_PORT_COUT = 4,
  CDB_OPER_PORT_SHIFT = 5,
  CDB_OPER_PORT_ADD_NOT_SUB = 6
};

enum CDB_OPER_PORT_DIR { CDB_OPER_PORT_DIR_IN = 0, CDB_OPER_PORT_DIR_OUT = 1, CDB_OPER_PORT_DIR_BIDIR = 2 };

// Fixed input positions of plain registers.
enum CDB_DFF_PORT {
  CDB_DFF_DATA = 0,
  CDB_DFF_CLK = 1,
  CDB_DFF_ACLR = 2,
  CDB_DFF_PRESET = 3,
  CDB_DFF_ENA = 4,
  CDB_DFF_ADATA = 5,
  CDB_DFF_ALOAD = 6,
  CDB_DFF_SCLR = 7,
  CDB_DFF_SLOAD = 8,
  CDB_DFF_NUM_PORTS = 9
};

// Fixed input positions of latches.
enum CDB_LATCH_PORT {
  CDB_LATCH_D = 0,
  CDB_LATCH_EN = 1,
  CDB_LATCH_EN2 = 2,
  CDB_LATCH_CLR = 3,
  CDB_LATCH_PRE = 4,
  CDB_LATCH_NUM_PORTS = 5
};

// Fixed input positions of muxes: output = select ? data1 : data0.
enum CDB_MUX_PORT { CDB_MUX_DATA0 = 0, CDB_MUX_DATA1 = 1, CDB_MUX_SELECT = 2, CDB_MUX_NUM_PORTS = 3 };

// IO buffer inputs.
enum CDB_IO_BUF_PORT { CDB_IO_BUF_DATA = 0, CDB_IO_BUF_OE = 1 };

// Carry-sum positions: output i passes input i.
enum CDB_CARRY_SUM_PORT { SUM_IN = 0, CARRY_IN = 1 };
enum CDB_CARRY_SUM_OUT_PORT { SUM_OUT = 0, CARRY_OUT = 1 };

// Device input port types; any 16-bit value is legal, these are named.
typedef uint16_t DB_INPUT_PORT_TYPE;
enum : uint16_t {
  DB_PORT_ASDATA = 0,
  DB_PORT_ALOAD = 1,
  DB_PORT_CIN = 2,
  DB_PORT_ACLR = 6,
  DB_PORT_CLK = 7,
  DB_PORT_ENA = 8,
  DB_PORT_DATAA = 12,
  DB_PORT_DATAB = 13,
  DB_PORT_DATAC = 14,
  DB_PORT_DATAD = 15,
  DB_PORT_DATAE = 16,
  DB_PORT_DATAF = 17,
  DB_PORT_DATAG = 18,
  DB_PORT_DATAIN = 20,
  DB_PORT_OE = 22,
  DB_PORT_PRESET = 27,
  DB_PORT_SCLR = 30,
  DB_PORT_SCLR2 = 31,
  DB_PORT_ADATA_ALT = 32,
  DB_PORT_SLOAD = 33,
  DB_PORT_RAM_PORTB_CLK = 36,         // read by retiming code; stored as 96
  DB_PORT_RAM_PORTB_CLK_STORED = 96,
  DB_PORT_SHAREIN = 273,
  DB_MAX_INPUT_PORT_TYPE = 26779      // no port: generic gates' inputs
};

// Device output port types.
typedef uint16_t DB_OUTPUT_PORT_TYPE;
enum : uint16_t {
  DB_PORT_COUT = 0,
  DB_PORT_OUT_1 = 1,
  DB_PORT_SUMOUT = 8,
  DB_PORT_COMBOUT = 9,
  DB_PORT_REGOUT = 10,
  DB_PORT_RAM_PORTA_DATAOUT = 41,
  DB_PORT_RAM_PORTB_DATAOUT = 42,
  DB_PORT_SHAREOUT = 252,
  DB_MAX_OUTPUT_PORT_TYPE = 29200     // untyped
};

enum : uint16_t { CDB_ILLEGAL_PORT = 65535 };

// Atom types (16 bits); their meaning lives in the atom catalogue.
typedef uint16_t CDB_WYSIWYG_TYPE;

// Atom mode bits (0..255).
enum CDB_WYSIWYG_MODE {
  CDB_WYSIWYG_PROTECT_COMBOUT = 14,
  CDB_WYSIWYG_RAM_MAC_MODE_FIRST = 91,
  CDB_WYSIWYG_RAM_MAC_MODE_LAST = 99,
  CDB_WYSIWYG_SHARED_ARITH = 118,
  CDB_WYSIWYG_FROM_USER = 119,
  CDB_WYSIWYG_EXTENDED_LUT = 120,
  CDB_WYSIWYG_DONT_TOUCH = 121,
  CDB_WYSIWYG_NUM_MODES = 256
};

// Mode bits of the split MAC atoms: the multiplier atom (gate type 33) and
// the output atom (gate type 34) of the atom catalogue's MAC_MULT/MAC_OUT
// rows. The output atom's operating mode is one bit of the RAM and MAC range
// (the first set of them in the order accum, 36-bit multiply, out only, one
// level add, two level add, dynamic counts); the register, bypass, rounding
// and saturation facts lie above that range so that they never mix with it.
enum CDB_WYSIWYG_MAC_SPLIT_MODE : unsigned {
  CDB_WYSIWYG_MAC_OUT_MODE_OUT_ONLY = 91,
  CDB_WYSIWYG_MAC_OUT_MODE_ACCUM = 92,
  CDB_WYSIWYG_MAC_OUT_MODE_ONE_LEVEL_ADD = 94,
  CDB_WYSIWYG_MAC_OUT_MODE_TWO_LEVEL_ADD = 96,
  CDB_WYSIWYG_MAC_OUT_MODE_MULT_36_BIT = 98,
  CDB_WYSIWYG_MAC_OUT_MODE_DYNAMIC = 99,
  CDB_WYSIWYG_MAC_INA_REGISTERED = 122,   // multiplier: input port A (DATAA 12) registered
  CDB_WYSIWYG_MAC_INB_REGISTERED = 123,   // multiplier: input port B (DATAB 13) registered
  CDB_WYSIWYG_MAC_OUT_REGISTERED = 124,   // either atom: output port DATAOUT (3) registered
  CDB_WYSIWYG_MAC_BYPASS_MULT = 125,      // multiplier: passes its operands through unmultiplied
  CDB_WYSIWYG_MAC_USE_ROUNDING = 126,     // either atom: rounding enabled (ROUND / ROUND0 / ROUND1)
  CDB_WYSIWYG_MAC_USE_SATURATION = 127    // either atom: saturation enabled (SATURATE)
};

// Reserved bits of the pass-owned flag word, kept across passes.
enum : uint32_t {
  CDB_NODE_FLAG_SEQ_TIMER_FIXED = 0x1000,
  CDB_NODE_FLAG_WORD_LEVEL_MARK = 0x4000,
  CDB_NODE_FLAG_RAM_PACKED = 0x10000,
  CDB_NODE_FLAG_MAC_PACKED = 0x20000,
  CDB_NODE_FLAG_NOT_GATE_PUSHED = 0x400000,
  // A register covered by the netlist's compatible-register record.
  CDB_NODE_FLAG_COMPAT_REG_COVERED = 0x800000,
  CDB_OTERM_FLAG_DELAY_MARK_16 = 16,
  CDB_OTERM_FLAG_DELAY_MARK_32 = 32,
  CDB_OTERM_FLAG_DELAY_MARK_64 = 64,
  CDB_OTERM_FLAG_DELAY_MARK_128 = 128,
  CDB_OTERM_FLAG_TIMER_VALIDATED = 0x8000
};

// Bits of the database-owned flag bytes of a gate (CDB_SGATE_NODE::get_flag_byte).
enum CDB_FLAG_BYTE_INDEX { CDB_KIND_BYTE = 0, CDB_STATUS_BYTE = 1, CDB_KEEP_BYTE = 2, CDB_MISC_BYTE = 3 };
enum : uint8_t {
  // kind byte, LUT
  CDB_LUT_USER = 0x01,
  CDB_LUT_DONT_TOUCH = 0x02,
  CDB_LUT_DONT_UNMAP = 0x04,
  CDB_LUT_MIGRATION_OBSERVABLE = 0x08,
  CDB_LUT_LATCH_SINGLE = 0x20,
  CDB_LUT_LATCH_HEAD = 0x40,
  CDB_LUT_LATCH_TAIL = 0x80,
  // kind byte, latch
  CDB_LATCH_CARRIED = 0x01,
  CDB_LATCH_WRITE_BACK = 0x02,
  // kind byte, plain register
  CDB_DFF_POWER_UP_HIGH = 0x01,
  CDB_DFF_POWER_UP_DC = 0x02,
  CDB_DFF_POWER_UP_SET = 0x04,
  // kind byte, flip-flop atom
  CDB_WYS_FF_POWER_UP_HIGH = 0x02,
  CDB_WYS_FF_POWER_UP_DC = 0x04,
  CDB_WYS_FF_POWER_UP_SET = 0x08,
  // status byte
  CDB_STATUS_TEMPORARY_NAME = 0x01,
  CDB_STATUS_TYPE_CHANGED = 0x02,
  CDB_STATUS_CHANGED = 0x04,
  CDB_STATUS_DELETE = 0x08,
  // keep byte
  CDB_KEEP_USER_PRIMITIVE = 0x01,
  CDB_KEEP_KFF_REQUESTED = 0x20,
  CDB_KEEP_KFF_IN_FORCE = 0x40,
  CDB_KEEP_KFF_READ = 0x80,
  // misc byte
  CDB_MISC_SCLR_OVER_ENA = 0x01,
  CDB_MISC_PACKED = 0x02,
  CDB_MISC_USER_CLOCK_ENABLE = 0x04,
  CDB_MISC_SWEEP_LEVEL_EXAMINED = 0x08,
  CDB_MISC_PIN_FROM_SYNTHESIS = 0x01,
  CDB_MISC_LUT_LATCH_BIT0 = 0x01,
  CDB_MISC_LUT_LATCH_BIT1 = 0x02,
  CDB_MISC_ORPHAN = 0x80,
  // misc byte, plain register: the cached answer of the I/O-register test
  // (known, then the answer); written once, never cleared by the database
  CDB_MISC_DFF_IO_REG_VALUE = 0x10,
  CDB_MISC_DFF_IO_REG_KNOWN = 0x20
};

// Bits of a netlist's waive byte (CDB_SGATE_NETLIST::get_waive_byte).
enum : uint8_t {
  CDB_NETLIST_WAIVE_INDY_DUPE = 0x01  // the independent-duplicate-register pass
};

// Bits of a terminal's own flag byte.
enum : uint8_t {
  CDB_TERM_INVERTED = 0x01,
  CDB_TERM_SYNTHESIZED_NAME = 0x02,  // output terminals
  CDB_TERM_CONNECTED = 0x02          // input terminals
};

// ---- RAM-block mode flags read by retiming (CDB_SGATE_WYSIWYG_RAM_BLOCK::ram_mode_is,
// clear_ram_mode); per port, below 128.
enum CDB_RAM_FLAG_ENUM : unsigned {
  CDB_RAM_DATA_IN_CLOCK = 3,           // the port's inputs are clocked by the second clock
  CDB_RAM_PORT_B_INPUTS_CLOCKED = 8,   // port B's inputs are registered
  CDB_RAM_PORT_B_OUTPUTS_CLOCKED = 9,  // port B's outputs are registered
  CDB_RAM_DATA_OUT_CLOCK = 27          // port B's outputs are clocked by the second clock
};
