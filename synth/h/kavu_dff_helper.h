// kavu_dff_helper.h — register accessors, power-up settings and register
// comparison and merge tests.
//
// Registers are of two kinds: a plain register gate (gate type 2), whose
// inputs stand at fixed positions (data 0, clock 1, asynchronous clear 2,
// preset 3, clock enable 4, asynchronous data 5, asynchronous load 6,
// synchronous clear 7, synchronous load 8) and whose output is its first
// output terminal; and a flip-flop atom (a device atom whose is_ff holds),
// whose terminals are found by port type (data 20, clock 7, clear 6, preset
// 27, enable 8, asynchronous data 0 or 32, asynchronous load 1, synchronous
// clear 30, second synchronous clear 31, synchronous load 33; output 10).
// The accessors answer for both kinds and give null for any other gate, and
// for a register that lacks the terminal; they return the terminal object
// whether or not it is connected.
//
// Power-up settings (powers up high, don't-care, explicit setting) live in
// the register's kind byte at positions that differ by kind; these functions
// read and write them for both kinds. A flip-flop atom made from the user's
// own primitive may never be don't-care at power-up.
//
// The comparison tests answer false for gates that are no registers unless
// their comment names an internal error. Only kavu_same_dff_sec_sigs edits
// the netlist: it creates missing terminals on flip-flop atoms.
// Cost: accessors O(1) (one type test and one index or port lookup, no
// allocation); the tests read a fixed number of terminals, except the
// single-output test, linear in the register's fan-out.
#pragma once

#include "cmp/cmp.h"

class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_COMPATIBLE_REGISTERS;

// ---- register ports and signals ----

// All the terminals of one register, filled by kavu_get_dff_signals; a field
// is null where the register has no such terminal. There is no field for the
// second synchronous clear.
struct KAVU_DFF_SIGNALS {
  CDB_SGATE_ITERM* m_data = nullptr;
  CDB_SGATE_ITERM* m_clk = nullptr;
  CDB_SGATE_ITERM* m_aclr = nullptr;
  CDB_SGATE_ITERM* m_preset = nullptr;
  CDB_SGATE_ITERM* m_ena = nullptr;
  CDB_SGATE_ITERM* m_sclr = nullptr;
  CDB_SGATE_ITERM* m_sload = nullptr;
  CDB_SGATE_ITERM* m_aload = nullptr;
  CDB_SGATE_ITERM* m_adata = nullptr;
  CDB_SGATE_OTERM* m_oterm = nullptr;
};

CDB_SGATE_ITERM* kavu_get_dff_data(const CDB_SGATE_NODE* dff);
CDB_SGATE_ITERM* kavu_get_dff_clock(const CDB_SGATE_NODE* dff);
CDB_SGATE_ITERM* kavu_get_dff_clear(const CDB_SGATE_NODE* dff);
CDB_SGATE_ITERM* kavu_get_dff_preset(const CDB_SGATE_NODE* dff);
CDB_SGATE_ITERM* kavu_get_dff_enable(const CDB_SGATE_NODE* dff);
CDB_SGATE_ITERM* kavu_get_dff_sload(const CDB_SGATE_NODE* dff);
CDB_SGATE_ITERM* kavu_get_dff_aload(const CDB_SGATE_NODE* dff);
CDB_SGATE_ITERM* kavu_get_dff_sclear(const CDB_SGATE_NODE* dff);
// Flip-flop atoms only; null for a plain register.
CDB_SGATE_ITERM* kavu_get_dff_sclear2(const CDB_SGATE_NODE* dff);
// On a flip-flop atom: port 0 when it exists and is connected, else port 32.
// Both connected to different sources is an internal error.
CDB_SGATE_ITERM* kavu_get_dff_adata(const CDB_SGATE_NODE* dff);
CDB_SGATE_OTERM* kavu_get_dff_oterm(const CDB_SGATE_NODE* dff);
// Fills every field of *signals (all null for a gate that is no register).
// A null record is an internal error ("dff_signals != 0").
void kavu_get_dff_signals(const CDB_SGATE_NODE* dff, KAVU_DFF_SIGNALS* signals);
// Debug listing (level 2) of a plain register's output and first seven
// inputs; any other gate is an internal error ("kavu_is_a_dff (dff)").
void kavu_vdebug_dff(const CDB_SGATE_NODE* dff);

// ---- power-up settings ----
// Readers and writers take a plain register or a flip-flop atom; any other
// gate is an internal error.

bool kavu_dff_powers_up_high(const CDB_SGATE_NODE* dff);
bool kavu_dff_has_power_up_setting(const CDB_SGATE_NODE* dff);
// Don't-care set on a flip-flop atom from the user's primitive is an
// internal error.
bool kavu_dff_power_up_dc(const CDB_SGATE_NODE* dff);
// A change raises the gate's changed mark; setting the value it has does not.
void kavu_set_dff_powers_up_high(CDB_SGATE_NODE* dff, bool value);
// Setting don't-care on a flip-flop atom from the user's primitive is an
// internal error (reported after the setting is applied).
void kavu_set_dff_power_up_dc(CDB_SGATE_NODE* dff, bool value);
// Writes the explicit-setting bit only.
void kavu_set_has_power_up_setting(CDB_SGATE_NODE* dff, bool value);

// ---- register comparison and merge tests ----

// True when the two registers store the same value (data compared unless
// ignore_data). Either argument that is no register is an internal error.
bool kavu_similar_dffs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b, bool ignore_data);
// True when b always holds the complement of a. Either argument that is no
// register is an internal error.
bool kavu_opposite_dffs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
// True when the two registers (both plain or both flip-flop atoms) share
// their secondary signals, each group compared unless ignored.
bool kavu_same_dff_sec_sigs(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b, bool ignore_enable,
                            bool ignore_synchronous, bool ignore_asynchronous);
// Whether the registers driving a and b may be merged.
bool kavu_can_merge_dffs(CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b,
                         CDB_SGATE_COMPATIBLE_REGISTERS* compatible, bool check_fanout,
                         unsigned fanout_limit, unsigned second_limit, bool compatible_flag);
// A register that must be kept as it is: preserved, not mergeable, or
// driving a single output. False for a gate that is no register.
bool kavu_preserve_register(CDB_SGATE_NODE* dff);
// True when the register's output drives exactly one output (pin, tri-state
// bus or IO buffer) besides protect and observer buffers, and nothing else.
bool kavu_dff_drives_a_single_output(const CDB_SGATE_NODE* dff);
// Whether the user allows registers of this hierarchy to merge with
// registers of other hierarchies (ACF_REG_MERGE_ACROSS_HIERARCHIES of the
// default section).
bool kavu_allow_reg_merge_across_hierarchies(CDB_SGATE_HIERARCHY* hierarchy);
// True when the two registers' instance names have the same parent. A
// register without an instance name is an internal error.
bool kavu_registers_in_same_hierarchy(const CDB_SGATE_NODE* a, const CDB_SGATE_NODE* b);
// False for the base families 15, 25, 45 and 47 (none of them has an
// asynchronous load); any other family is an internal error.
bool kavu_family_supports_aload(DEV_FAMILY_ENUM family);
// True when the user forces the register's clock enable (ACF_FORCE_CLOCK_ENABLE) or
// synchronous clear (ACF_FORCE_SYNCH_CLEAR) to stay, on the gate's instance name or
// on its first output terminal's.
bool kavu_dff_has_force_clock_enable_assignment(const CDB_SGATE_NODE* dff);
bool kavu_dff_has_force_synch_clear_assignment(const CDB_SGATE_NODE* dff);
