// kavu_utility_tesk.h — retiming support: the register retimer's questions
// about clocks and RTL names, and the netlist edits it asks for.
//
// Clocks. kavu_tesk_get_driving_clock answers which clock governs a terminal:
//   a register by its clock input, a RAM port by its port clock, a state
//   machine by the clock its record names; I/O nodes (and I/O PLL output
//   clocks) by the dummy clock, a terminal pair standing for a clock from
//   outside the netlist. The crossing tests search breadth-first through
//   non-clocked logic (kavu_tesk_is_clocked_type) until the first clocked
//   nodes and compare their clocks with the terminal's own; inversion is not
//   compared. kavu_tesk_find_clock_domain collects the clock names of the
//   registers a node's fan-out reaches (see its comment for which paths it
//   follows).
// Kinds. Device atoms are sorted by what they are, not by the gate type
//   their catalogue row reports: a LUT-RAM, I/O PLL or flip-flop atom counts
//   as the generic device-atom kind 66 here; a RAM-block atom as 13.
// Edits. Pipeline registers are plain registers clocked by the clock of the
//   terminal they serve, with every secondary input tied off
//   (kavu_tesk_secondary_tie_offs), named "<node>~tesk…" and marked for the
//   retimer (kavu_tesk_mark_new_dff). The current forms place them only on
//   terminals that cross clock domains; the legacy forms on every chosen
//   terminal, with the clock of the node itself.
// Names. kavu_generate_tesk_node_candidates turns an RTL name into the
//   netlist names it may carry after synthesis, by a fixed table of
//   rewrites compiled once per process.
// Keys: "rtm_tesk_restrict_regs" and "rtm_ignore_tesk_internal_error"
//   (default off), read once on first use (kavu_tesk_reread_keys for tests).
// Cost: a driving-clock query O(1) (state machines: the fan-in of the clock
//   gate); a crossing query O(cone up to the first clocked nodes), with
//   scratch kept between queries; nothing is cached between queries, because
//   the callers edit the netlist between them.
// None of this is thread-safe: callers run it on one thread.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "kavu_helper.h"
#include "ztl_hash_sys.h"

// ---- driving clocks and clock domains ----

// A clock: its source terminal (null: no clock) and whether the clock input
// that was used inverts it.
struct KAVU_TESK_CLOCK {
  CDB_SGATE_OTERM* m_clock = nullptr;
  bool m_inverted = false;
};

// The terminals that stand for a clock from outside the netlist: an output
// terminal and an input terminal it drives, made on first request and kept
// for the life of the process. They belong to two private gates that are in
// no netlist. Compare clock sources with get_oterm() by identity.
class DUMMY_CLOCK_TERM_FACTORY {
 public:
  static CDB_SGATE_OTERM* get_oterm();
  // Internal error "dummy_clock_iterm->get_source() == dummy_clock_oterm"
  // when someone rewired it.
  static CDB_SGATE_ITERM* get_iterm();
};

// The clock that governs the terminal's node as seen from this input. A
// register's clock input itself has no clock; an I/O node's inputs have the
// dummy clock. Internal error for a node kind without a rule ("Node %s of
// type CDB_SGATE_TYPE[%i] not recognized.").
KAVU_TESK_CLOCK kavu_tesk_get_driving_clock(CDB_SGATE_ITERM* iterm);
// The clock that produces the output.
KAVU_TESK_CLOCK kavu_tesk_get_driving_clock(CDB_SGATE_OTERM* oterm);
// Whether a gate type is one of the clocked kinds {3, 2, 13, 46, 66, 7}.
bool kavu_tesk_is_clocked_type(int sgate_type);
// True when a clocked node of another clock, or of the dummy clock, reaches
// this input through non-clocked logic. False for clock inputs and for
// inputs without a source.
bool kavu_tesk_iterm_crosses_clock_domain(CDB_SGATE_ITERM* iterm);
// True when this output reaches, through non-clocked logic, a clocked node
// of another clock or of the dummy clock.
bool kavu_tesk_oterm_crosses_clock_domain(CDB_SGATE_OTERM* oterm);
// Adds to `clocks` the names (short paths of the clock-driving nodes) of the
// registers reached through the node's fan-out. Paths followed: every
// register destination counts; a node enters only its first non-register
// destination, and only when its own name is not yet in `visited` (the name
// is recorded then). The result is that of the last destination handled
// (true for a register, the entered node's result otherwise), false without
// fan-out. Walks with an explicit stack, so path length costs no recursion.
bool kavu_tesk_find_clock_domain(CDB_SGATE_NODE* node, std::set<std::string>& visited,
                                 std::set<std::string>& clocks);
// Not implemented: always returns false and writes nothing. The legacy form
// below is the one that reports transfers.
bool kavu_tesk_find_cross_clock_domain_transfer(
    const std::string& source, const std::string& destination,
    ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>& exact,
    ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>& wildcard, std::orlind_ofstream& report);
// True, with a report paragraph, when the registers of the two RTL names are
// clocked by differently named clocks and not directly connected. False when
// either node is no register or the source feeds the destination directly.
bool kavu_tesk_find_cross_clock_domain_transfer_legacy(
    std::string& source, std::string& destination, ZTL_HASH<std::string, CDB_SGATE_NODE*>& exact,
    ZTL_HASH<std::string, CDB_SGATE_NODE*>& wildcard,
    ZTL_HASH<std::string, CDB_SGATE_NETLIST*>& netlists, std::orlind_ofstream& report);

// ---- RTL-name matching ----

// Clears `candidates` and fills it: the name, the name with "~reg0", then
// what each rewrite rule adds (duplicates kept).
void kavu_generate_tesk_node_candidates(const std::string& name, std::vector<std::string>& candidates);
// Clears `candidates` and fills it with zero, one or two wildcard names
// ("…|auto_generated|*|<cell>").
void kavu_generate_tesk_node_candidates_with_wildcard(const std::string& name,
                                                      std::vector<std::string>& candidates);
// Adds to `nodes` every node stored under a candidate in `exact` or a
// wildcard candidate in `wildcard`; `nodes` comes out sorted by address
// without repeats. True when anything was found.
bool kavu_find_sgate_node_for_tesk(const std::string& name,
                                   ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>& exact,
                                   ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>& wildcard,
                                   std::vector<CDB_SGATE_NODE*>& nodes);
// The first exact candidate (else the first wildcard candidate) present in
// its table gives *node, and the netlist table (which must hold it) gives
// *netlist. True when found. Not found: false when the key
// "rtm_ignore_tesk_internal_error" is on, else the internal error "TESK: %s
// doesn't exist in netlist!".
bool kavu_find_sgate_node_for_tesk_legacy(std::string& name, ZTL_HASH<std::string, CDB_SGATE_NODE*>& exact,
                                          ZTL_HASH<std::string, CDB_SGATE_NODE*>& wildcard,
                                          ZTL_HASH<std::string, CDB_SGATE_NETLIST*>& netlists,
                                          CDB_SGATE_NODE** node, CDB_SGATE_NETLIST** netlist);
// True when one "|"-separated part of the name has exactly one colon and
// does not start with a backslash (an entity:instance part).
bool kavu_name_shows_entity(std::string name);

// ---- pipeline registers ----

// One secondary input of a plain register: its position, the constant it is
// tied to on a new register, and the accessor that reads the same signal on
// an existing register.
struct KAVU_TESK_TIE_OFF {
  unsigned m_position;
  bool m_vcc;
  CDB_SGATE_ITERM* (*m_accessor)(const CDB_SGATE_NODE*);
};
// Clear, preset, enable (VCC), synchronous load, asynchronous load,
// synchronous clear, asynchronous data; all but the enable at GND.
extern const KAVU_TESK_TIE_OFF kavu_tesk_secondary_tie_offs[7];

// Sets the retimer permissions of a new register by the key
// "rtm_tesk_restrict_regs": on — not-gate-push, allow-anything, merge and
// prune not allowed unless already set, preserve on; off — not-gate-push
// allowed, allow-anything not, merge and prune allowed, preserve off.
void kavu_tesk_mark_new_dff(CDB_SGATE_DFF* dff);

// Before every connected input of the node that crosses clock domains,
// `count` registers clocked by the input's driving clock; the first made
// ends farthest from the node. Inputs whose clock is the dummy clock (an
// I/O node's) get none. Returns the new registers in the order made.
std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_before_node(CDB_SGATE_NETLIST* netlist,
                                                                    CDB_SGATE_NODE* node, unsigned count);
// After every output with fan-out that crosses clock domains, `count`
// registers clocked by the output's driving clock; each new one takes over
// the output's whole fan-out, so the last made sits next to the node.
std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_after_node(CDB_SGATE_NETLIST* netlist,
                                                                   CDB_SGATE_NODE* node, unsigned count);
// The before or after form on every state node of the node's state machine.
// A node that is no state node is an internal error.
std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_to_state(CDB_SGATE_NETLIST* netlist,
                                                                 CDB_SGATE_NODE* node, unsigned count,
                                                                 bool before);
// The before form on the registers feeding ports 1 and 2 of a multiply or add
// operator (through name keepers), or the after form on the registers its
// result reaches through comb gates, operators and muxes; registers in name
// order. Other gates end a branch of the forward walk; backwards, any gate
// but a register or name keeper makes the result empty.
std::vector<CDB_SGATE_DFF*> kavu_add_pipeline_registers_to_dsp(CDB_SGATE_NETLIST* netlist,
                                                               CDB_SGATE_NODE* node, unsigned count,
                                                               bool before);

// ---- legacy pipeline registers ----

// `count` registers on the register's data input (before) or output (after),
// clocked like the register; with `copy_secondary` each new register takes
// the register's own secondary signals, else they are tied off. False when
// the node is no register.
bool kavu_add_pipeline_registers_to_dff_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node,
                                               unsigned count, bool before, bool copy_secondary);
// `count` registers on every input (before) or output with fan-out (after) of
// a RAM block or synchronous RAM that the clock port 35 or 36 governs. False
// for other nodes and clock ports; a clock without a source adds nothing.
bool kavu_add_pipeline_registers_to_ram_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node,
                                               unsigned count, bool before, DB_INPUT_PORT_TYPE clock_port);
// The legacy register form on the registers around a multiply or add
// operator.
bool kavu_add_pipeline_registers_to_dsp_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node,
                                               unsigned count, bool before);
// `count` registers on the data inputs or outputs of a LUT-RAM atom whose
// instance name (full short path) ends in "lutram" and word characters.
bool kavu_add_pipeline_registers_to_lutram_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node,
                                                  unsigned count, bool before);

// ---- asynchronous-clear removal ----

// Takes the asynchronous controls that have a source off a plain register
// (clear, preset, asynchronous load), a synchronous RAM or a RAM block (ports
// 6, 39, 40; the RAM block's clear flags too), unless the node's assignments
// keep them (PRESERVE). With `make_synchronous` a register's controls move to
// their synchronous counterparts as well: clear to the synchronous clear,
// preset to a synchronous load of VCC, asynchronous load to the synchronous
// load. When that is impossible for one of them (a counterpart already in
// use, a preset beside an asynchronous load, a load the clock enable would
// gate), none moves: the controls are only taken off, the register is traced
// and 1 is added to *not_made_synchronous. Returns the number of controls
// taken off.
unsigned kavu_disconnect_aclrs_on_dffs_and_rams(CDB_SGATE_NODE* node, bool make_synchronous, bool emulate,
                                                unsigned* not_made_synchronous = nullptr);
// The sum over the netlist's registers and RAMs; the emulate flag is the
// device's. *not_made_synchronous receives the number of registers whose
// controls were taken off without a synchronous form.
unsigned kavu_disconnect_aclrs_on_everything(CDB_SGATE_NETLIST* netlist, bool make_synchronous,
                                             unsigned* not_made_synchronous = nullptr);
bool kavu_disconnect_aclrs_on_dffs_and_rams_legacy(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node,
                                                   bool make_synchronous, bool emulate);
bool kavu_disconnect_aclrs_on_everything_legacy(CDB_SGATE_NETLIST* netlist, bool make_synchronous);

// ---- input-pin verification ----

// Writes "tesk_verify_pins.txt" in the working directory: each input pin's
// direct fan-outs, registered or not (with recommended clock domains), each
// output pin's drivers and a summary. True when the file was written; false
// when it could not be opened, written or closed. Reads the netlist only.
bool kavu_tesk_verify_input_pin(CDB_SGATE_NETLIST* netlist);

// ---- test support ----
// Rereads the two keys above.
void kavu_tesk_reread_keys();
