// kavu_helper_gate_create.h — the small, frequent netlist edits: new comb gates,
// buffers and 2:1 muxes named after an existing gate, gate copies, name
// exchange, buffers put in front of an input or behind an output, and
// buffers taken out again.
//
// Every gate made here is allocated by the library, named through
// kavu_name.h (extensions "cln", "comb", "buf", "sld_mux", "soft", "clk"),
// added to the caller's netlist with add_node(gate, true) and owned by the
// netlist from then on. The MEM_SEGMENT arguments are accepted and unused.
// Preconditions are internal errors of the component "KAVU"; no function
// reports failure through its result. Each edit is O(1) apart from the
// fan-out moves, which are linear in the fan-outs moved.
#pragma once

#include "cdb/cdb_sgate.h"

class MEM_SEGMENT;

// A copy of the gate with each input connected as the original's (clone
// type 1), named "cln" after the original and added to the netlist.
CDB_SGATE_NODE* kavu_duplicate_gate(CDB_SGATE_NODE* sgate, CDB_SGATE_NETLIST* netlist,
                                    MEM_SEGMENT* segment);
// A new comb gate of that type without inputs, named "comb" after from_sgate.
CDB_SGATE_COMB* kavu_create_new_comb(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* from_sgate,
                                     CDB_COMB_TYPE type);
// A new buffer of that type with one unconnected input at position 0, named
// "buf" after from_sgate.
CDB_SGATE_BUFFER* kavu_create_new_buffer(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* from_sgate,
                                         CDB_BUFFER_TYPE type);
// Exchanges the names of the two gates' preferred outputs, then the gates'.
void kavu_swap_instance_names(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
// A new 2:1 mux with its three inputs tied to GND and no fan-out, named
// "sld_mux" after name_node unless no_name.
CDB_SGATE_NODE* kavu_synth_mux_sgate(CDB_SGATE_NODE* name_node, CDB_SGATE_NETLIST* netlist,
                                     MEM_SEGMENT* segment, bool no_name);

// Takes a buffer out of the signal path: its source (or constant) drives its
// former fan-outs, inversions preserved. The buffer stays in its netlist
// without fan-out and with its input disconnected.
void kavu_excise_buffer(CDB_SGATE_NODE* buffer);
// The one fan-out of an output terminal, which must be a real connection.
CDB_SGATE_ITERM* kavu_get_single_fanout(CDB_SGATE_OTERM* oterm);

// A new soft buffer (type 4), respectively name buffer (type 14), between a
// driven input terminal and its source; returns the buffer.
CDB_SGATE_NODE* kavu_insert_soft_before(CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist,
                                        MEM_SEGMENT* segment);
CDB_SGATE_NODE* kavu_insert_name_before(CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist,
                                        MEM_SEGMENT* segment);
// A name buffer behind the output terminal: it takes over the terminal's
// fan-outs and its name, and the terminal gets a new name ("clk") made from
// the buffer's. During parallel synthesis no name is created: the terminal
// is left for the deferred naming pass instead.
CDB_SGATE_NODE* kavu_insert_name_buffer(CDB_SGATE_OTERM* oterm, CDB_SGATE_NETLIST* netlist,
                                        MEM_SEGMENT* segment);
// A new buffer of the given type behind the output terminal, taking over its
// fan-outs; returns the buffer.
CDB_SGATE_NODE* kavu_drive_through_buffer(CDB_SGATE_NETLIST* netlist, CDB_SGATE_OTERM* oterm,
                                          CDB_BUFFER_TYPE type);

// Excise, unlink and destroy every cut buffer (type 3), respectively every
// logic-cell buffer (type 5); return how many were removed.
int kavu_excise_cut_buffers(CDB_SGATE_NETLIST* netlist);
int kavu_excise_lcell_buffers(CDB_SGATE_NETLIST* netlist);
