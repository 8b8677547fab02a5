// kavu_dff_helper_strip.h — moving register control functions into logic: the
// inversion push, stripping of synchronous clears, synchronous loads and
// clock enables, and the clear-over-enable priority fix. The passes that
// unmap controls netlist-wide are in kavu_dff_helper_sync.h.
//
// Register model (plain register gate or flip-flop atom; accessors in
// kavu_dff_helper.h). On a clock edge the stored value becomes, without the
// clear-over-enable mark:  ena ? (sclr ? 0 : (sload ? adata : data)) : q
// and with it:             sclr ? 0 : (ena ? (sload ? adata : data) : q).
// A strip rewrites the data input so that the register computes the same
// next state with the control tied inactive:
//   sload:  data := sload ? adata : data          (a 2:1 mux)
//   sclr:   data := data AND NOT sclr             (an AND gate)
//   ena:    data := ena ? data : q                (a 2:1 mux fed back from q)
// A clear is stripped only while the load is inactive; a clear without
// priority before the enable, a clear with priority only after it; the
// unmapping functions keep that order, the strips check it.
//
// Every function works on the caller's netlist on the caller's thread; a
// broken precondition is an internal error of the component "KAVU". Each
// strip is O(1) plus the fan-out walk of one signal.
#pragma once

class CMP_FACADE;
class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class RTL_FAMILY_INFO;

// ---- inversion push and control-signal stripping ----

// True when the input is tied to GND, or driven by a protect buffer whose
// single input is tied to GND. An unconnected input is an internal error.
bool kavu_iterm_is_gnd_thru_protect_buffer(const CDB_SGATE_ITERM* iterm);

// True when every reader of the plain register's output could take an
// inversion for free (comb, mux, some operators, user LUTs) or already sees
// the output inverted. True also without fan-out.
bool kavu_invert_could_be_absorbed(CDB_SGATE_NODE* dff);
// Makes the plain register store the complement: exchanges clear and preset,
// inverts data (and asynchronous data while the asynchronous load is used),
// pushes an output inversion into every reader, toggles the not-gate-pushed
// flag and the power-up value. The synchronous clear and load must be
// inactive. Doing it twice restores the register. The netlist is not read.
void kavu_not_gate_push(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist);

// Each strip takes a plain register or a flip-flop atom whose control input
// exists and is connected; true when it rewired the register, false when the
// control was already tied inactive. New gates join the netlist.
bool kavu_strip_dff_sclr(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist);
bool kavu_strip_dff_sload(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist);
bool kavu_strip_dff_enable(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist);
// Strips the load of a plain register, then its clear unless the clear has
// priority over the enable; returns how many of the two changed something.
int kavu_strip_single_sload_sclr(CDB_SGATE_NODE* dff, CDB_SGATE_NETLIST* netlist);
// kavu_strip_single_sload_sclr over every plain register; returns the sum.
int kavu_strip_dff_sload_sclr(CDB_SGATE_NETLIST* netlist);

// Whether the register's synchronous clear acts while its enable is off.
bool kavu_ff_has_sclr_over_ena_priority(const CDB_SGATE_NODE* ff);
// On families whose flip-flops give the clear priority, makes a flip-flop
// atom's clear act only while its enable is on (clear := enable AND clear).
void kavu_fix_up_sclr_over_ena_priority_on_ff(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* ff,
                                              RTL_FAMILY_INFO* family);
// The output of a two-input AND of the values a and b deliver: an existing
// one found among the fan-outs of their sources (when reuse is on), else a
// new one named after `gate` with the extension "a".
CDB_SGATE_OTERM* kavu_find_or_create_and_of_iterms(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* gate,
                                                   CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b);

