// kavu_depends.h — terminal dependency queries and loop terminals.
//
// Passes that walk the netlist backwards (ordering, delays, loop search,
// the sequential timer) ask which inputs of a gate an output really
// depends on, and which source terminals feed an output. A register breaks
// the combinational path, a LUT may ignore an input, a carry-sum gate has two
// independent halves, a choice operator works bit by bit, and device atoms
// (logic cells, flip-flops, MAC blocks, LUT RAMs) have port-level rules.
//
// Inputs count only when they are real sources: connected and not tied to a
// constant. All functions only read the netlist. Misuse (null arguments, a
// gate kind without a rule) is an internal error.
// Cost: kavu_oterm_depends_on_iterm O(1) for most kinds (a LUT's inputs, a
// choice operator's bits at most); kavu_get_oterm_feeders linear in the
// gate's inputs, without allocation beyond the caller's vector;
// kavu_find_all_loop_terms linear in the netlist's input terminals.
#pragma once

#include <vector>

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_WYSIWYG;

// True when oterm depends on iterm, both terminals of node.
//   registers_cut        the combinational view: a registered path (register,
//                        registered MAC or LUT-RAM port, state buffer) is no
//                        dependency
//   data_only            registers and hard blocks count their data ports only
//   with_mac             MAC atoms are admitted (else they have no rule)
//   ignore_lut_function  every LUT input counts, whatever the LUT's mask
// Rules by kind: logic cells (atom types 61, 93) by port, flip-flops (62, 94,
// 115) and plain registers as registers, MAC atoms (95; 60 only with the
// load-time key kavu_depends_seq_for_dkf) and LUT RAMs (97; 63 only with that
// key) by port and registering, clock buffers, buffers, comb gates, IO
// buffers, muxes, tri-state buses, latches and boundaries always, LUTs by
// their mask, state buffers unless registers_cut, carry-sum gates by half,
// choice operators bit by bit, other operators always. Any other kind writes
// "oterm depends on iterm is not implemented for %s %s" and is the internal
// error "Found unsupported sgate in oterm_depends_on_iterm.".
bool kavu_oterm_depends_on_iterm(CDB_SGATE_NODE* node, CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM* iterm,
                                 bool registers_cut, bool data_only, bool with_mac,
                                 bool ignore_lut_function);

// Clears feeders and fills it with the source terminals of the real-source
// inputs of oterm's gate that lead to oterm, in input order:
//   register_inputs and a register (plain or flip-flop atom): the sources of
//     data, enable, sload, sclear and — while sload is connected and not
//     GND — adata, each source once;
//   carry-sum gate: the source of the half that oterm belongs to;
//   logic-cell atom (61, 93): the sources of the inputs that count for oterm
//     (kavu_consider_oterm_for_iterm), repeats kept;
//   large gate (a component, or a non-operator with 16384 inputs or outputs,
//     128 of each, or 16384 as the product of the two): every distinct source
//     for the gate's first output, nothing for its other outputs;
//   any other gate: every distinct source.
// spare is accepted and not used.
void kavu_get_oterm_feeders(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>& feeders,
                            bool consider_function, bool register_inputs, bool spare);

// Whether input iterm of a logic-cell or flip-flop atom counts for its output
// oterm: always without consider_function, else by the atom's dependency rule
// (atom types 61, 62, 93, 94, 115; every other type counts). The atom must be
// a logic cell or a flip-flop and iterm a real source (internal errors).
bool kavu_consider_oterm_for_iterm(CDB_SGATE_WYSIWYG* wys, CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm,
                                   bool consider_function, bool registers_cut);

// Empties both vectors, then lists every real-source input terminal that lies
// on a loop of the netlist's connections, together with its source output
// terminal (entry i of oterms drives entry i of iterms). The search is
// Tarjan's depth-first numbering over input terminals with an explicit
// stack; a terminal is reported when its low number ends below the sentinel,
// which reports the loop terminals and, as a documented superset, every
// terminal the search reaches downstream of one. With the key
// kavu_make_one_ff_loops_critical (read on each call) the search starts at
// register inputs only and does not pass through registers: loops through at
// most one register and combinational loops are found, longer register loops
// are not. Writes one summary line to the debug trace.
void kavu_find_all_loop_terms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_ITERM*>* iterms,
                              std::vector<CDB_SGATE_OTERM*>* oterms);
