// kavu_seq_lutram_util.h — register query of LUT RAMs: whether the data
// output is registered, read from the output-clock parameter. A registered
// output breaks a combinational path through the RAM for the dependency
// queries and the sequential timer. Only reads the netlist. Cost: O(1).
#pragma once

class CDB_SGATE_NODE;

// True when the LUT RAM's port-B data output is registered: its instance
// parameter WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK equals WYS_DV_CLOCK1 (any
// letter case). WYS_NONE, another value or no parameter: false. When the
// setting disagrees with the connection of the output-register clock input
// (port type 36) the debug line "LUT RAM has illegal output register mode
// setting." is written and the parameter still decides. A gate that is no
// LUT-RAM atom is an internal error.
bool kavu_is_lutram_output_registered(CDB_SGATE_NODE* lutram);
