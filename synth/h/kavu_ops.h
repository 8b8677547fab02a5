// kavu_ops.h — queries and small edits on word-level operators.
//
// Word-level operators (CDB_SGATE_OPERATOR, gate type 44) stay in the gate
// netlist as single gates with multi-bit ports until they are expanded. The
// passes that merge duplicate operators, recognise constant or one-hot
// ports, find carry terminals and rewrite ports use these functions.
//
// Model: an operator has a kind, three mode values and a table of port
//   entries; each port has a direction, an operator port type (0 carry in,
//   1 first data word or select, 2 second data word or data, 3 result,
//   4 carry out, 5 shift distance) and one terminal per bit, bit 0 the least
//   significant; a bit may hold no terminal. An input bit is unconnected,
//   tied to a constant or driven by a source output terminal.
// None of these functions keeps state; they read or edit only the operators
// they are given. Broken preconditions are internal errors of "KAVU".
// Cost: linear in the ports' widths; kavu_count_real_op_inputs is
//   O(w log w) in the operator's input count.
#pragma once

#include <string>

#include "cdb/cdb_sgate.h"

// ---- comparing two operators ----
// Same operator kind. Either gate not an operator: internal error.
bool kavu_same_type_of_op(CDB_SGATE_NODE* op_a, CDB_SGATE_NODE* op_b);
// Same kind, and every pair of input ports (walked in table order, which
// must agree in direction and port type) has equal widths and bits with the
// same source (two unconnected bits match; connected against unconnected
// does not); both tables have the same number of ports.
bool kavu_ops_use_same_inputs(CDB_SGATE_NODE* op_a, CDB_SGATE_NODE* op_b);
// The three mode values are equal; the kinds must be equal.
bool kavu_ops_use_same_modes(CDB_SGATE_NODE* op_a, CDB_SGATE_NODE* op_b);

// ---- ports ----
// Debug listing (level 2) of an input port: its name and width, then one
// line per bit ("NULL", "Unconnected", "VCC", "GND" or the source).
void kavu_vdebug_op_iport(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type);
void kavu_vdebug_op_iport(CDB_SGATE_OPER_PORT_ENTRY* port);
// Every bit of the input port holds a terminal tied to a constant; a port of
// width 0 is constant. A missing port is an internal error ("port").
bool kavu_op_iport_is_constant(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type);
bool kavu_op_iport_is_constant(CDB_SGATE_OPER_PORT_ENTRY* port);
// Bits of the input port that are connected and not tied.
unsigned int kavu_count_real_port_iterms(CDB_SGATE_OPER_PORT_ENTRY* port);
// Every bit is tied to GND; a port of width 0 is an internal error.
bool kavu_port_is_all_gnds(CDB_SGATE_OPER_PORT_ENTRY* port);
// Exactly one bit is VCC and every other bit GND; *index (when not null) is
// then the VCC bit, else width + 1. A port of width 0 is an internal error.
bool kavu_port_is_one_hot(CDB_SGATE_OPER_PORT_ENTRY* port, unsigned int* index);

// ---- carry terminals ----
// Bit 0 of the carry-in port when it has width 1; null when width 0; a
// wider port is an internal error ("Found a bus CIN port?").
CDB_SGATE_ITERM* kavu_fetch_cin_iterm(CDB_SGATE_NODE* op);
// Bit 0 of the carry-out port, likewise ("Found a bus COUT port?").
CDB_SGATE_OTERM* kavu_fetch_cout_oterm(CDB_SGATE_NODE* op);

// ---- terminals and owners ----
// The operator owning the port: the gate of its first bit terminal.
CDB_SGATE_NODE* kavu_get_port_owner(CDB_SGATE_OPER_PORT_ENTRY* port);
// *port = null and *index = 0; then, when oterm's gate is an operator, the
// first output port (table order) and bit holding oterm.
void kavu_get_oterm_port_and_index(CDB_SGATE_OTERM* oterm, CDB_SGATE_OPER_PORT_ENTRY** port,
                                   int* index);
// The number of distinct source terminals among the operator's connected,
// untied inputs (inversion ignored), at most limit when limit > 0.
int kavu_count_real_op_inputs(CDB_SGATE_NODE* op, int limit);
// One line describing the data port of an n-to-1 mux operator: distinct
// sources, VCC, GND and unconnected counts, and the profile of
// (larger, smaller) polarity counts per source with how many sources share it.
std::string kavu_get_mux_op_input_stats(CDB_SGATE_NODE* op);
// Some output terminal of the operator has a fan-out.
bool kavu_op_has_some_fanout(CDB_SGATE_NODE* op);

// ---- edits ----
// Moves every bit i of the port to bit i + amount and empties bits
// 0..amount-1; the port grows by amount. Bidirectional ports are refused.
void kavu_shift_port(CDB_SGATE_OPER_PORT_ENTRY* port, unsigned int amount);
// Exchanges the connections of two distinct input ports of equal width bit
// by bit. The flag is accepted and not read.
void kavu_swap_ports(CDB_SGATE_OPER_PORT_ENTRY* a, CDB_SGATE_OPER_PORT_ENTRY* b, bool spare);
// orphan duplicates piggy: every orphan output bit with fan-out hands its
// fan-outs to piggy's terminal of the same port type and bit, which is
// created (with the empty bits below it) when missing. piggy must have each
// port orphan uses ("port_piggy").
void kavu_op_annex_outputs(CDB_SGATE_NODE* piggy, CDB_SGATE_NODE* orphan);
// As above for an orphan computing the complement: the fan-outs move
// inverted, and piggy must already have every terminal needed.
void kavu_op_annex_outputs_inverted(CDB_SGATE_NODE* piggy, CDB_SGATE_NODE* orphan);

// ---- names and select operators ----
// Names the component after the operator's instance name (nothing when the
// operator has none). lpm_name must not be null; it is not used otherwise.
void kavu_name_component_from_op(const char* lpm_name, CDB_SGATE_COMPONENT* component,
                                 CDB_SGATE_OPERATOR* op);
// The terminal is a bit of port 1 (the select word) of a select operator.
bool kavu_iterm_is_select_on_selector(CDB_SGATE_ITERM* iterm);
// For bit i of port 1 of a select operator, bit i of port 2; else null.
CDB_SGATE_ITERM* kavu_fetch_sel_data_buddy(CDB_SGATE_ITERM* iterm);
