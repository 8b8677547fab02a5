// kavu_latch_helper.h — latches turned into logic.
//
// Latch model (CDB_SGATE_LATCH, inputs 0 D, 1 EN, 2 EN2, 3 CLR, 4 PRE): CLR
// forces 0 and dominates PRE, which forces 1; otherwise Q follows D while
// EN and EN2 are both 1 and holds otherwise. An unconnected enable is 1, an
// unconnected clear or preset 0.
//
// kavu_convert_silly_latches replaces, over a netlist, each latch that feeds
// itself by NOT CLR AND (PRE OR (EN AND D) OR (NOT EN AND Q')), Q' the new
// output through a cut buffer (type 3), and each latch whose enable is stuck
// at 1 by NOT CLR AND (PRE OR D). kavu_synthesize_luts_for_latch builds one
// latch as one LUT over (CLR, PRE, EN, EN2, feedback, D), or with four-input
// LUTs and D, EN, PRE and CLR all live as two LUTs (head NOT CLR AND (PRE OR
// tail), tail EN ? D : head), the feedback always through a cut buffer.
// Live inputs take LUT positions from the top down; constant ones fold into
// the mask. The latch stays without fan-out for the caller to remove.
//
// Key kavu_dont_convert_feedback_latches (off): latches that feed themselves
// are left alone by kavu_convert_silly_latches, whatever their enable.
// Failures are internal errors of the component "KAVU".
// Cost: O(1) gates per latch; the data-cone absorption runs one min cut.
#pragma once

class CDB_LUTMASK;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;

// Converts the latches that feed themselves or have their enable at 1;
// returns the number converted plus the latches whose own sweep changed
// them. Sweeps the netlist when that number is at least 1.
int kavu_convert_silly_latches(CDB_SGATE_NETLIST* netlist);
// One or two LUTs for the latch. With `first` clear a latch without fan-out
// is skipped and the LUT holding D grows over D's cone; `second` puts EN
// above EN2 in the LUT.
void kavu_synthesize_luts_for_latch(CDB_SGATE_NODE* latch, CDB_SGATE_NETLIST* netlist, bool first,
                                    bool second);
// True when a live input of the latch is driven by the latch's own output.
bool kavu_latch_feeds_itself(CDB_SGATE_NODE* latch);
// The LUT position and mask of one latch input: a live input takes the next
// free position from the top (*max_used_input counts down) and its identity
// mask; a constant input gets no position (max_num_inputs) and its constant
// mask (an unconnected input reads 0).
void kavu_get_latch_lut_input_mask(CDB_SGATE_ITERM* iterm, unsigned* pos, CDB_LUTMASK* mask,
                                   unsigned* max_used_input);
// A new input of the LUT at `pos` connected like the latch input, or driven
// by `oterm`; nothing for pos >= max_num_inputs.
void kavu_copy_latch_input_to_lut(CDB_SGATE_ITERM* iterm, CDB_SGATE_NODE* latch_lut, unsigned pos);
void kavu_connect_oterm_to_latch_lut(CDB_SGATE_OTERM* oterm, CDB_SGATE_NODE* latch_lut, unsigned pos);
// Debug listing of the latch's connections.
void kavu_vdebug_latch(CDB_SGATE_NODE* latch);
