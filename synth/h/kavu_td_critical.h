// kavu_td_critical.h — the user's critical-signal assignments turned into
// critical registers, output terminals and pins.
//
// Assignments (ACF variables, Boolean): SYNTH_CRITICAL_CLOCK (510, on a
// clock; optional source = the from-clock), SYNTH_CRITICAL_PIN (511, on an
// input or bidirectional pin), SYNTH_CRITICAL_ENABLE (512, on a register),
// SYNTH_CRITICAL_INPUT_TO_CLOCK (513) and SYNTH_CRITICAL_CLOCK_TO_OUTPUT
// (514, on a clock); 826 is the enumerated per-pin speed option (2 = fast).
// A pass clears flag 1 of every generated assignment of a variable, sets it
// on each assignment it matches, and reports the rest in one grouped
// warning per variable.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

class CMP_FACADE;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_NETLIST;
class CDB_SGATE_NODE;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class HDB_NAMESPACE;
class HDB_INSTANCE_NAME;
struct CDB_SGATE_HIGH_SPEED_REGISTER;

constexpr int KAVU_ACF_SYNTH_CRITICAL_CLOCK = 510;
constexpr int KAVU_ACF_SYNTH_CRITICAL_PIN = 511;
constexpr int KAVU_ACF_SYNTH_CRITICAL_ENABLE = 512;
constexpr int KAVU_ACF_SYNTH_CRITICAL_INPUT_TO_CLOCK = 513;
constexpr int KAVU_ACF_SYNTH_CRITICAL_CLOCK_TO_OUTPUT = 514;
constexpr int KAVU_ACF_SYNTH_CRITICAL_PIN_SPEED = 826;  // enumeration: 2 fast
constexpr int KAVU_CRITICAL_PIN_SPEED_FAST = 2;

// (register output terminal, is a register output): true for every entry
// the assignment reader makes; false entries are plain cone roots.
typedef std::pair<CDB_SGATE_OTERM*, bool> KAVU_CRITICAL_REG;
typedef std::vector<std::vector<KAVU_CRITICAL_REG>> KAVU_CRITICAL_REGS_PER_CLOCK;

// Reads the clock assignments: fills the four register lists and the four
// clock-name lists (from, to, input-to-clock, clock-to-output; all empty on
// entry); 1 when any from-to pair, input-to-clock or clock-to-output clock
// exists, else 0. Warnings when asked and "kavu_td_scan_options_file" is off.
int kavu_compute_regs_for_critical_clock_domains(
    HDB_NAMESPACE* ns, CDB_SGATE_NETLIST* netlist, KAVU_CRITICAL_REGS_PER_CLOCK* from_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK* to_regs_per_clock_vec, KAVU_CRITICAL_REGS_PER_CLOCK* tsu_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK* tco_regs_per_clock_vec, std::vector<std::string>* from_crit_clock_names,
    std::vector<std::string>* to_crit_clock_names, std::vector<std::string>* tsu_crit_clock_names,
    std::vector<std::string>* tco_crit_clock_names, bool give_warnings, CDB_SGATE_HIERARCHY* hierarchy);
bool kavu_family_okay_for_critical_asgns(CMP_FACADE* facade);
// Whether the input is a clock input of the gate.
bool kavu_iterm_is_clock(CDB_SGATE_ITERM* iterm, CDB_SGATE_NODE* sgate);

// The output terminals both in the fan-out cone of a from-register (or input
// pin) and the fan-in cone of a to-register (or output pin), through
// combinational gates only; appended to *critical_oterms, each once.
void kavu_find_critical_oterms_for_regs(
    CDB_SGATE_NETLIST* netlist, KAVU_CRITICAL_REGS_PER_CLOCK& from_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK& to_regs_per_clock_vec, KAVU_CRITICAL_REGS_PER_CLOCK& tsu_regs_per_clock_vec,
    KAVU_CRITICAL_REGS_PER_CLOCK& tco_regs_per_clock_vec, std::vector<std::string>& from_crit_clock_names,
    std::vector<std::string>& to_crit_clock_names, std::vector<std::string>& tsu_crit_clock_names,
    std::vector<std::string>& tco_crit_clock_names, std::vector<CDB_SGATE_OTERM*>* critical_oterms);
// The whole chain for a compile: family test, assignments, cone search.
void kavu_find_critical_oterms_for_crit_clock_assignment(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                                         std::vector<CDB_SGATE_OTERM*>* critical_oterms,
                                                         bool give_warnings);
void kavu_find_critical_oterms_for_crit_clock_assignment(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                                         std::set<CDB_SGATE_OTERM*>* critical_oterms,
                                                         bool give_warnings);

// Top-level name groups of the registers named by SYNTH_CRITICAL_ENABLE
// (added to *names; not cleared).
void kavu_find_critical_register_names_for_enable(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                                  std::set<HDB_INSTANCE_NAME*>* names, bool give_warnings);
// Whether a register is critical: found in the netlist's high-speed table
// (its name or a group of it; the record is copied to *out) or its top-level
// group is in *names.
bool kavu_dff_is_critical(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* dff, std::set<HDB_INSTANCE_NAME*>* names,
                          CDB_SGATE_HIGH_SPEED_REGISTER* out);
// The super-critical pins (SYNTH_CRITICAL_PIN, or with the key
// "opt_read_critical_signals_from_ini" the keys "opt_critical_signal_%d").
void kavu_find_super_critical_pins(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist,
                                   std::vector<CDB_SGATE_OTERM*>& pins, std::set<CDB_SGATE_OTERM*>* fast_pins,
                                   std::vector<bool>* fast_flags, bool give_warnings);
// The terminal a critical pin stands for: an input pin's output; a
// bidirectional pin's tri-state bus output when its output feeds exactly one
// tri-state bus, else its own output.
CDB_SGATE_OTERM* get_super_critical_pin_oterm(CDB_SGATE_NODE* sgate);
