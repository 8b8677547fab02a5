// kavu_utility_rtl.h — questions about input terminals of the RTL netlist
// (word-level operators, 2:1 multiplexers, plain registers, device atoms)
// and the repairs that make every such gate fully connected.
//
// Queries: where an input terminal gets its value, whether two terminals see
// the same or the complementary value, whether a gate acts as a two-input
// AND or OR (a 2:1 multiplexer with a constant data input does, after its
// select polarity is flipped where needed), and whether an operator port is
// tied to a constant.
// Repairs (the rtl_fix_unused_* family): every missing or unconnected input
// of registers, multiplexers and operators is tied to a constant (GND unless
// the input's neutral value is VCC), creating the terminal where the gate
// has none; rtl_add_missing_oterms gives every operator output port all its
// output terminals. Each tie writes a level-3 debug line ("WARNING: RTL
// grounded ..."); these are diagnostics, not user messages.
//
// Limits: a decoder's output count and an N-to-1 multiplexer's data width are
// powers of two of a select width; a select wider than RTL_MAX_SELECT_WIDTH
// would ask for more than 65536 terminals on one gate and is refused with an
// internal error rather than built.
// State: none; no configuration keys. Failures are internal errors of the
// component "KAVU".
// Cost: the queries are O(1) or linear in one port; every fixer walks the
// node list once and is linear in the terminals it creates.
#pragma once

#include <vector>

#include "cdb/cdb_codes.h"

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_OPERATOR;
class CDB_SGATE_OPER_PORT_ENTRY;

// The widest select the decoder and N-to-1 multiplexer repairs accept: 2^16
// outputs or data bits on one gate.
constexpr unsigned RTL_MAX_SELECT_WIDTH = 16;

// ---- source queries ----

// For a connected, non-constant terminal: its source output terminal and
// that terminal's gate; otherwise null for both. Null out-pointers are
// skipped.
void rtl_get_iterm_source(CDB_SGATE_ITERM* iterm, CDB_SGATE_NODE** gate, CDB_SGATE_OTERM** oterm);
// Exchanges *iterm_a with *iterm_b, *gate_a with *gate_b and *oterm_a with
// *oterm_b; a pair whose A pointer is null is skipped.
void rtl_flip_inputs(CDB_SGATE_ITERM** iterm_a, CDB_SGATE_NODE** gate_a, CDB_SGATE_OTERM** oterm_a,
                     CDB_SGATE_ITERM** iterm_b, CDB_SGATE_NODE** gate_b, CDB_SGATE_OTERM** oterm_b);
// The two input terminals of a two-input gate into iterms[0..1] (required),
// and their source gates and source output terminals where those arrays are
// given. Other than exactly two inputs is an internal error ("i < 2",
// "i == 2").
void rtl_get_2_input_node_sources(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterms,
                                  CDB_SGATE_NODE** gates, CDB_SGATE_OTERM** oterms);

// True for a two-input AND, or a 2:1 multiplexer with a GND data input
// (iterms gets data 1 and the select). A multiplexer with GND on data 1 is
// first rewritten by rtl_flip_mux_sel_polarity, even when iterms is null.
bool rtl_node_is_2_input_and_equivalent(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterms);
// True for a two-input OR, or a 2:1 multiplexer with a VCC data input
// (iterms gets data 0 and the select). A multiplexer with VCC on data 0 is
// first rewritten by rtl_flip_mux_sel_polarity, even when iterms is null.
bool rtl_node_is_2_input_or_equivalent(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterms);
// Inverts the select of a 2:1 multiplexer and exchanges its data sources;
// the function is unchanged. Not a multiplexer, or an unconnected select or
// data input, is an internal error.
void rtl_flip_mux_sel_polarity(CDB_SGATE_NODE* sgate);

// True when every bit of the port is tied to a constant; *value gets the bits
// (bit i tied to VCC adds 1 << i), as far as they were read. The value holds
// 32 bits: a VCC bit at position 32 or above answers false. A port of width 0
// (or no such port) is an internal error ("port_width > 0").
bool rtl_oper_port_has_constant_value(CDB_SGATE_OPERATOR* op, CDB_OPER_PORT_TYPE type, int* value);
// Same value: both null or unconnected; both VCC; both GND; or the same
// source with equal inversion flags.
bool rtl_iterms_have_same_source(CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b);
// Complementary value: both connected, inversion flags differ, and the same
// source, or VCC against GND.
bool rtl_iterms_have_inverted_source(CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b);
// Pairwise rtl_iterms_have_same_source; different sizes are an internal
// error.
bool rtl_iterm_vectors_have_same_source(const std::vector<CDB_SGATE_ITERM*>* iterm_vec1,
                                        const std::vector<CDB_SGATE_ITERM*>* iterm_vec2);

// ---- debug traces (level 2) ----

void rtl_vdebug_iterm(CDB_SGATE_ITERM* iterm, bool name_gate);
// Counts registers with a missing or unconnected enable and registers that
// power up don't-care.
void rtl_sanity_check_ce_iterms(CDB_SGATE_NETLIST* netlist);
// Lists the ports of every gate whose string name is `name`.
void rtl_debug_describe_gate(CDB_SGATE_NETLIST* netlist, const char* name);

// ---- repairs ----

// Ties bit i of an operator input port to GND (VCC with tie_vcc) when it is
// missing (a terminal is created) or unconnected; true when it tied. A null
// port or owner, or an output port, is an internal error.
bool rtl_check_create_iterm(CDB_SGATE_OPER_PORT_ENTRY* port, CDB_SGATE_NODE* port_owner, int i,
                            bool tie_vcc);
// Registers: data, presets, clears and loads to GND, enable and asynchronous
// data to VCC (the clock is left alone); flip-flop atoms: clock and data to
// GND.
void rtl_fix_unused_dff_terms(CDB_SGATE_NETLIST* netlist);
void rtl_fix_unused_selector_terms(CDB_SGATE_NETLIST* netlist);
void rtl_fix_unused_compare_terms(CDB_SGATE_NETLIST* netlist);
void rtl_fix_unused_add_terms(CDB_SGATE_NETLIST* netlist);
// N-to-1 multiplexer operators get a data width of exactly 2^(select width)
// (the narrower of the two grows) and GND on every missing bit; 2:1
// multiplexers get GND on missing data and select inputs.
void rtl_fix_unused_mux_terms(CDB_SGATE_NETLIST* netlist);
// Decoders get a select wide enough for their outputs, missing bits GND.
void rtl_fix_unused_decoder_terms(CDB_SGATE_NETLIST* netlist);
// Widens decoder outputs to 2^(select width) and adder sums to the wider
// operand, then gives every output-port bit an output terminal; returns the
// number created.
int rtl_add_missing_oterms(CDB_SGATE_NETLIST* netlist);
