// kavu_utility_lut.h — rebuilding logic marked by LUT buffers as single LUTs.
//
// A pass before this one marks a piece of logic that should become one LUT
// with a LUT output buffer (type 12) behind it and LUT input buffers (type
// 11) in front of its inputs. opt_process_lut_io_buffers collects, for each
// output buffer, the cone of comb gates, 2:1 muxes and LUTs between it and
// the input buffers, builds one LUT with the cone's function over the input
// buffers and moves the cone's fan-outs to it; then it bypasses every LUT
// buffer and sweeps. A cone that crosses anything else, or that needs more
// inputs than a LUT has, keeps its logic (debug line only).
// Cost: O(cone) per output buffer (hash sets for the visited terminals and
// the inputs), at most 10000 pushes per cone; one sweep per phase that
// changed something.
#pragma once

#include <vector>

class CDB_LUTMASK;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;

// Builds the LUTs (unless skip_lut_building) and bypasses the buffers; true
// when a LUT was built or a buffer bypassed.
bool opt_process_lut_io_buffers(CDB_SGATE_NETLIST* netlist, bool skip_lut_building);
// A new LUT named "lut" after name_gate with a copy of the mask, input i
// driven by sources[i] (not inverted), added to the netlist; returns its
// output terminal (no fan-outs yet). More sources than LUT inputs, a null
// source or a null name gate are internal errors.
CDB_SGATE_OTERM* opt_lut_up(const CDB_LUTMASK* mask, const std::vector<CDB_SGATE_OTERM*>& sources,
                            CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* name_gate);
// One LUT per LUT output buffer whose cone can be collected and fits; swept
// afterwards when any was built. Returns the number built.
int opt_process_lut_out_io_buffers(CDB_SGATE_NETLIST* netlist);
// Every LUT buffer's source drives its fan-outs; swept afterwards when any
// was bypassed. Returns the number bypassed.
int opt_bypass_lut_io_buffers(CDB_SGATE_NETLIST* netlist);
// The LUT input buffers of the cone behind the output buffer, in the order
// the walk meets them; `lut_ins` must be empty. False when the cone reaches
// a gate that is not comb, 2:1 mux or LUT, or grows past 10000 pushes.
bool opt_collect_lut_in_buffers(CDB_SGATE_NODE* lut_out_buffer, std::vector<CDB_SGATE_OTERM*>* lut_ins);
// A new single-input AND (a wire) in front of the terminal, carrying exactly
// the value the terminal saw; the terminal then reads the wire plainly.
// Returns the wire's output.
CDB_SGATE_OTERM* opt_insert_wire_before_iterm(CDB_SGATE_ITERM* iterm, CDB_SGATE_NETLIST* netlist);
bool opt_is_lut_in_buffer(CDB_SGATE_NODE* sgate);
