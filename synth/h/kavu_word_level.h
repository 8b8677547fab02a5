// kavu_word_level.h — bus operators between the gate netlist and word-level
// structures.
//
// A bus-in operator (kind 18) gathers `width` single-bit signals on port A
// (bits 0..width-1) into one output on port O; a bus-out operator (kind 19)
// spreads one input on port A over `width` outputs on port O. Both are made
// unnamed and added to the netlist; a width of 0 is an internal error.
#pragma once

class CDB_SGATE_NODE;
class CDB_SGATE_NETLIST;

CDB_SGATE_NODE* kavu_create_bus_in_operator(CDB_SGATE_NETLIST* netlist, unsigned int width);
CDB_SGATE_NODE* kavu_create_bus_out_operator(CDB_SGATE_NETLIST* netlist, unsigned int width);
