// kavu_utility_regclass.h — register classification: I/O registers,
// registers whose assignments forbid synchronous secondary signals, registers
// that may be absorbed into an inferred tolvafunction, combinational logic a
// LUT may take, shared secondary signals of registers, and the re-typing of
// Brae-style logic-cell atoms as Tessel-style ones.
//
// A register is a plain register gate or a flip-flop atom. Assignments are
// Boolean options on instance names: input register (202), output register
// (203), output-enable register (204) on the register or on the pin it is
// bound to, PCI pin (862) on that pin, synchronous secondaries allowed (471)
// on the register's output terminal. An option counts only when it exists
// and is true.
// State: opt_dff_is_io_register caches its answer in the misc byte of a plain
// register gate (known, value) and never recomputes it; it also gives a
// register's unnamed output terminal the register's instance name. The key
// infer_allow_preserve_absorb is read once into a function-local static.
// Everything else reads only (the converter re-types atoms).
// Failures are internal errors of the component "KAVU".
// Cost: the I/O test is linear in the register's fan-out and its pins'
// fan-outs; the rest O(1), the converter linear in the netlist.
#pragma once

class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
struct OPT_SECONDARY_SIGNALS;

// Re-types atoms 10498 as 10401 and 10499 as 10403; returns how many.
int opt_convert_brae_wys_lcell(CDB_SGATE_NETLIST* netlist);
// True when the user binds the register to a pin: by an I/O-register option
// on its own name, or by one on a pin it drives (directly, or through an IO
// buffer feeding a tri-state bus) or is fed by, or when that pin is a PCI
// pin. A register without any name and without pin neighbours is simply not
// an I/O register. Not a register: internal error.
bool opt_dff_is_io_register(CDB_SGATE_NODE* dff);
// True when option 471 is set to false on the register's output terminal.
bool opt_dff_has_sync_sec_disallowed(CDB_SGATE_NODE* dff);
bool opt_dff_is_io_register_or_has_sync_sec_disallowed(CDB_SGATE_NODE* dff);
// True for a gate without an instance name; else (a plain register) unless
// it is preserved (and infer_allow_preserve_absorb is off) or an I/O register.
bool opt_dff_can_be_used_to_infer(CDB_SGATE_NODE* dff);
// Comb gates, muxes, select/decode/compare/equal/N-to-1 mux operators, and
// LUTs with kind-byte bit 0 set and bit 1 clear.
bool opt_is_lutable_comb_logic(CDB_SGATE_NODE* gate);
// For a plain register with GND preset and asynchronous load that does not
// power up high: fills an empty record with its clock, enable, clear and
// synchronous clear and answers true, or answers whether each has the same
// source as the record's. Otherwise false; the record is kept.
bool opt_check_reg_secondary(CDB_SGATE_NODE* dff, OPT_SECONDARY_SIGNALS& shared);
// Same clock, enable and clear sources (the synchronous clear is ignored).
bool opt_compare_secondary_signals(const OPT_SECONDARY_SIGNALS& a, const OPT_SECONDARY_SIGNALS& b);
