// kavu_seq_mac_utility.h — register queries of MAC (multiply-accumulate)
// blocks: whether a block port is registered.
//
// A registered port breaks a combinational path through the block: the
// dependency queries (kavu_depends.h) and the sequential timer ask these.
// The facts come from the atom's register groups (CUT_MAC_UNIFIED_UTIL,
// cut/cut_mac.h). Both only read the netlist. Cost: O(1).
#pragma once

class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;

// True when the MAC input port of iterm is registered. output_port_type is
// the port type of the output its caller asks about; it takes no part in the
// answer. A null terminal, or one whose gate is no MAC atom, is an internal
// error.
bool kavu_is_mac_input_registered(CDB_SGATE_ITERM* iterm, int output_port_type);

// True when the MAC output port of oterm is registered. When clock_iterm is
// not null it receives the block's clock input that clocks that output (the
// input of port type 35, 36 or 778 for clock number 1, 2 or 3; null when the
// block has no such terminal); a clock number outside 1 to 3 is an internal
// error. A null terminal, or one whose gate is no MAC atom, is an internal
// error.
bool kavu_is_mac_output_registered(CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM** clock_iterm);
