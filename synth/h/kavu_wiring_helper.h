// kavu_wiring_helper.h — elementary edits and tests on single connections.
//
// Every editing pass of the library is built from these: finding the two
// inputs of a two-input gate, comparing the sources of two input terminals,
// copying, moving, swapping and setting the source of an input terminal,
// adding an input to a comb gate, fetching or creating a device-atom
// terminal by port type, bypassing a gate, and debug listings of terminals.
//
// Model: an input terminal is unconnected, tied to a constant (connected
// with no source; GND is a VCC tie with the inversion flag set) or driven by
// one output terminal. "Connected" is cdb_is_connected: the terminal's own
// connected flag, or a parent input that is connected. The value an input
// sees is its source's value complemented by its inversion flag.
// Every disconnection keeps the terminal's inversion flag.
//
// None of these functions creates names, reads configuration keys or keeps
// state. A violated precondition is an internal error of the component
// "KAVU"; no function reports failure through its result.
// Cost: O(1) per terminal edit, linear in one gate's terminal lists or one
// output's fan-outs for the walks; no allocation except new terminals.
#pragma once

#include "cdb/cdb_codes.h"

class CDB_SGATE_NODE;
class CDB_SGATE_COMB;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_WYSIWYG;

// Stores the first and second connected input of a two-input gate in *a and
// *b. Null arguments, or a gate without exactly two connected inputs, are
// internal errors ("sgate && iterm_a && iterm_b", "bad number of iterms").
void kavu_grab_both_iterms(CDB_SGATE_NODE* sgate, CDB_SGATE_ITERM** iterm_a,
                           CDB_SGATE_ITERM** iterm_b);

// The other connected input of the two-input gate that owns iterm.
CDB_SGATE_ITERM* kavu_get_other_gate_iterm(CDB_SGATE_ITERM* iterm);

// True when a and b deliver the same value: both unconnected (or null), the
// same constant, or the same source with equal inversion flags.
bool kavu_same_source(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b);
// True when a and b deliver complementary values: VCC against GND, or the
// same source with different inversion flags. Two unconnected terminals
// count as opposite too.
bool kavu_opposite_source(const CDB_SGATE_ITERM* a, const CDB_SGATE_ITERM* b);

// new_iterm gets old_iterm's source (and, for a driven old terminal, its
// inversion flag; a constant is copied as the value it delivers); old_iterm
// keeps its connection. A terminal-information record is copied along.
void kavu_copy_fanin(CDB_SGATE_ITERM* old_iterm, CDB_SGATE_ITERM* new_iterm);
// new_iterm takes over old_iterm's source and inversion; a driven old
// terminal is left unconnected, a constant one stays tied.
void kavu_move_fanin(CDB_SGATE_ITERM* old_iterm, CDB_SGATE_ITERM* new_iterm);
// a and b exchange sources and inversion flags. Both must be connected.
void kavu_swap_iterm_connections(CDB_SGATE_ITERM* a, CDB_SGATE_ITERM* b);
// Connects an unconnected or tied terminal to src with the given inversion;
// a null src ties it to VCC (GND when invert is set).
void kavu_set_iterm_source(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* src, bool invert);
// Sets (true) or clears (false) the inversion flag.
void kavu_set_invert_flag(CDB_SGATE_ITERM* iterm, bool flag);

// Adds one input to a comb gate, driven by src (or tied to VCC when src is
// null), inverted when invert is set; returns the new terminal.
CDB_SGATE_ITERM* kavu_insert_comb_fanin(CDB_SGATE_COMB* comb, CDB_SGATE_OTERM* src, bool invert);

// The atom's input terminal of the port type, created (unconnected) in the
// port's slot when missing. An atom without that port is an internal error.
CDB_SGATE_ITERM* kavu_fetch_create_wys_iterm(DB_INPUT_PORT_TYPE port_type, CDB_SGATE_WYSIWYG* wys);
// The atom's output terminal of the port type, created when missing. An atom
// without that port gives null when allow_missing is set, else an internal
// error.
CDB_SGATE_OTERM* kavu_fetch_create_wys_oterm(DB_OUTPUT_PORT_TYPE port_type, CDB_SGATE_WYSIWYG* wys,
                                             bool allow_missing);

// The sum of the fan-out counts of all the gate's output terminals.
int kavu_count_total_fanout(const CDB_SGATE_NODE* sgate);
// True when some input of gate is driven by oterm. Every input visited must
// be connected.
bool kavu_oterm_feeds_gate(const CDB_SGATE_OTERM* oterm, const CDB_SGATE_NODE* sgate);

// Moves every fan-out of oterm to iterm's source (folding in iterm's
// inversion), or makes them constant when iterm is tied. The bypassed gate is
// left in place for the caller to remove.
void kavu_short_thru(CDB_SGATE_ITERM* iterm, CDB_SGATE_OTERM* oterm);

// Debug listings (level 2) of one input terminal, or of one output terminal
// and its fan-outs; null is allowed.
void kavu_vdebug_iterm(const CDB_SGATE_ITERM* iterm);
void kavu_vdebug_oterm(const CDB_SGATE_OTERM* oterm);
