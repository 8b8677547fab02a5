// Role: atom and port utilities (docs/platform.md, "Atom and port utilities").
// cut_mac.h — MAC (multiply-accumulate) and LUT-RAM atom utilities: which
// ports of a MAC block are registered and on which of its clocks, and the
// instance parameters of LUT-RAM atoms.
//
// MAC model: a MAC atom (is_mac) has 13 input ports and 3 output ports, in
//   three register groups:
//     data    DATA_AX 408, DATA_AY 409, DATA_AZ 3043, DATA_BX 410, DATA_BY 411,
//             DATA_BZ 3364 and CHAIN_IN 543
//     control COEF_SEL_A 3045, COEF_SEL_B 3048, SUB_NADD 3198, NEGATE 3047,
//             ACC_NLOAD 3197, LOAD_VALUE_ENA 3196
//     output  DATA_OUT_A 363, DATA_OUT_B 364, CHAINOUT 800
//   Each group is registered or not as a whole, on one of the block's three
//   clocks (numbers 1 to 3: clock inputs 35, 36 and 778). The facts are the
//   atom's mode bits in the RAM and MAC range 91..99 (RAM atoms give the
//   same bits their own meaning; the classes never mix):
//     91 data registered, 92 control registered, 93 output registered,
//     94-95 data clock, 96-97 control clock, 98-99 output clock, each clock
//     field (low bit first) holding the clock number minus one.
//   A clock field of 3 names no clock: the number read back is 4, which the
//   library's callers refuse. A port type outside the groups is never
//   registered and has clock number 0.
// LUT-RAM parameters: an instance parameter of an atom is the last option of
//   the parameter's code on the atom's own instance name (hdb options, set
//   with kavu_platform::hdb_set_option); an atom without instance name has
//   no parameters. Texts compare without regard to case.
// State: none. Thread-safe as far as the atoms are not changed meanwhile.
// Cost: O(1) per query (mode-bit reads); a parameter read is one option
//   lookup on the instance name.
#pragma once

#include "cdb/cdb_codes.h"

class CDB_SGATE_WYSIWYG;

// Mode bits of MAC atoms (see the file comment).
enum CUT_MAC_MODE : unsigned {
  CUT_MAC_MODE_DATA_REGISTERED = 91,
  CUT_MAC_MODE_CONTROL_REGISTERED = 92,
  CUT_MAC_MODE_OUTPUT_REGISTERED = 93,
  CUT_MAC_MODE_DATA_CLOCK_LO = 94,
  CUT_MAC_MODE_DATA_CLOCK_HI = 95,
  CUT_MAC_MODE_CONTROL_CLOCK_LO = 96,
  CUT_MAC_MODE_CONTROL_CLOCK_HI = 97,
  CUT_MAC_MODE_OUTPUT_CLOCK_LO = 98,
  CUT_MAC_MODE_OUTPUT_CLOCK_HI = 99
};

// MAC port types.
enum : uint16_t {
  CUT_MAC_IPORT_DATA_AX = 408,
  CUT_MAC_IPORT_DATA_AY = 409,
  CUT_MAC_IPORT_DATA_AZ = 3043,
  CUT_MAC_IPORT_DATA_BX = 410,
  CUT_MAC_IPORT_DATA_BY = 411,
  CUT_MAC_IPORT_DATA_BZ = 3364,
  CUT_MAC_IPORT_COEF_SEL_A = 3045,
  CUT_MAC_IPORT_COEF_SEL_B = 3048,
  CUT_MAC_IPORT_SUB_NADD = 3198,
  CUT_MAC_IPORT_NEGATE = 3047,
  CUT_MAC_IPORT_ACC_NLOAD = 3197,
  CUT_MAC_IPORT_LOAD_VALUE_ENA = 3196,
  CUT_MAC_IPORT_CHAIN_IN = 543,
  CUT_MAC_IPORT_CLK1 = 35,
  CUT_MAC_IPORT_CLK2 = 36,
  CUT_MAC_IPORT_CLK3 = 778,
  CUT_MAC_OPORT_DATA_OUT_A = 363,
  CUT_MAC_OPORT_DATA_OUT_B = 364,
  CUT_MAC_OPORT_CHAINOUT = 800
};

class CUT_MAC_UNIFIED_UTIL {
 public:
  // Register groups of the MAC ports.
  enum GROUP { GROUP_NONE, GROUP_DATA, GROUP_CONTROL, GROUP_OUTPUT };

  // Whether the input (output) port of that type is registered. A null atom
  // or one that is no MAC is an internal error.
  bool is_input_port_registered(const CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port) const;
  bool is_output_port_registered(const CDB_SGATE_WYSIWYG* atom, DB_OUTPUT_PORT_TYPE port) const;
  // The clock number (1 to 3; 4 for the clock field that names no clock) of
  // a port's register group; 0 for a port type outside the groups. The
  // number is read whether or not the group is registered.
  int get_input_port_clock(const CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port) const;
  int get_output_port_clock(const CDB_SGATE_WYSIWYG* atom, DB_OUTPUT_PORT_TYPE port) const;
  // The clock input port type of a clock number 1 to 3; CDB_ILLEGAL_PORT
  // for any other number.
  static DB_INPUT_PORT_TYPE clock_port_of_number(int number);

  static GROUP input_group(DB_INPUT_PORT_TYPE port);
  static GROUP output_group(DB_OUTPUT_PORT_TYPE port);

 private:
  static bool group_registered(const CDB_SGATE_WYSIWYG* atom, GROUP group);
  static int group_clock(const CDB_SGATE_WYSIWYG* atom, GROUP group);
};

// LUT-RAM instance parameters (codes of the options on the instance name)
// and the texts of their values.
enum CUT_WYS_PARAMETER : int {
  WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK = 900001,  // the output register's clock: WYS_DV_CLOCK1 or WYS_NONE
  WYS_PIREL_EC_PORT_B_DATA_OUT_CLEAR = 900002   // the output register's clear: WYS_PIREL_SCLEAR or another
};
extern const char* const WYS_DV_CLOCK1;    // "clock1"
extern const char* const WYS_NONE;         // "none"
extern const char* const WYS_PIREL_SCLEAR;  // "sclear"

namespace kavu_platform {

// The text of the atom's instance parameter, or null when the atom has no
// instance name or the parameter is not set. A null atom is an internal error.
const char* cut_get_atom_parameter(const CDB_SGATE_WYSIWYG* atom, int parameter);

}  // namespace kavu_platform
