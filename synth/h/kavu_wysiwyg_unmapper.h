// kavu_wysiwyg_unmapper.h — turns device atoms (logic cells and flip-flops)
// back into generic gates: LUTs, 2:1 muxes, AND/OR/XOR gates, carry-sum
// buffers and plain registers, then (unless preserved) the LUTs and muxes
// into AND/OR/XOR logic.
//
// Atom kinds with an unmap routine: 61 (logic cell: LUT, extended mode,
// shared output and arithmetic), 62 (flip-flop), 94 and 115 (flip-flops with
// a second synchronous clear and a clear-over-enable priority, rewired
// first), and 93 (logic cell, combinational output only; when the key
// "kavu_allow_quellin_lcell_comb_unmap" is on, the cell is not in extended
// mode, its sum output is unused and its combinational output is used).
//
// Missing connections: a required atom input (a flip-flop's clock, the
// synchronous-load data ports, the select inputs of an extended cell) that
// is unconnected posts the error 286001 naming the atom and the port. The
// atom is then left exactly as it was and the unmap reports failure to its
// caller; the process goes on. Every other bad input is an internal error.
//
// Ownership: new gates go to the caller's list in creation order and are
// not added to any netlist; the unmapped atom is left without fan-out for
// the caller to delete (unmap_netlist does both). Not thread-safe: the LUT
// size limits of the gate library may be raised for one unmap.
#pragma once

#include <list>

#include "cdb/cdb_sgate.h"
#include "dev/dev.h"
#include "kavu_helper.h"
#include "kavu_lut_unmapper.h"

class KAVU_WYSIWYG_UNMAPPER {
 public:
  KAVU_WYSIWYG_UNMAPPER(bool insert_carry_sum_buffer, bool insert_cascade_buffer, bool preserve_lut,
                        bool preserve_mux, KAVU_LUT_UNMAPPER::RESULT_FORM form, bool caching, bool sanity_check,
                        DEV_FAMILY_ENUM family);
  ~KAVU_WYSIWYG_UNMAPPER() = default;
  KAVU_WYSIWYG_UNMAPPER(const KAVU_WYSIWYG_UNMAPPER&) = delete;
  KAVU_WYSIWYG_UNMAPPER& operator=(const KAVU_WYSIWYG_UNMAPPER&) = delete;
  // Takes the five switches and the family; the embedded LUT unmapper takes
  // the other's settings with a cache and BDD manager of its own, so no two
  // unmappers ever own one.
  KAVU_WYSIWYG_UNMAPPER& operator=(KAVU_WYSIWYG_UNMAPPER&& other);

  // Sets the five switches in this order.
  void configure(bool insert_carry_sum_buffer, bool insert_cascade_buffer, bool preserve_lut, bool preserve_mux,
                 bool create_adder);
  bool get_insert_carry_sum_buffer() const { return m_insert_carry_sum_buffer; }
  bool get_insert_cascade_buffer() const { return m_insert_cascade_buffer; }
  bool get_preserve_lut() const { return m_preserve_lut; }
  bool get_preserve_mux() const { return m_preserve_mux; }
  bool get_create_adder() const { return m_create_adder; }
  KAVU_LUT_UNMAPPER* get_lut_unmap_util() { return &m_lut_unmapper; }
  DEV_FAMILY_ENUM get_family() const { return m_family; }

  // Whether an unmap routine exists for the atom (null: internal error).
  bool unmapper_available(CDB_SGATE_WYSIWYG* wys) const;
  // Replaces one atom: the new gates go to *nlist, the atom is left without
  // fan-out. With a report stream, flip-flop unmaps write one line each.
  // False (286001 posted, nothing changed) when a required input is
  // unconnected. An atom without a routine is an internal error.
  bool unmap_wysiwyg(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist, std::orlind_ofstream* report);
  // With mode 14 set, puts a logic-cell buffer "lc_buf" behind the
  // combinational output, taking over its fan-outs.
  void protect_bidir_combout_to_pin(CDB_SGATE_WYSIWYG* wys, std::list<CDB_SGATE_NODE*>* nlist);
  // Unmaps every atom (logic cells and flip-flops, or every kind with a
  // routine when all_atom_kinds is set), mux and LUT the switches select,
  // adds the new gates to the netlist and destroys the replaced nodes.
  // keep_arithmetic keeps adder bits, flip-flops and extended cells without
  // arithmetic or shared fan-out; skip_flagged_luts keeps LUTs marked user,
  // don't-touch or don't-unmap. Returns true when a node was replaced; false
  // with 286001 posted, and the netlist unchanged, when some selected atom
  // lacks a required connection.
  bool unmap_netlist(CDB_SGATE_NETLIST* netlist, bool unmap_atoms, bool unmap_luts, bool unmap_muxes,
                     bool all_atom_kinds, bool keep_arithmetic, bool create_adder, bool skip_flagged_luts);

 private:
  bool m_insert_carry_sum_buffer;
  bool m_insert_cascade_buffer;
  bool m_preserve_lut;
  bool m_preserve_mux;
  bool m_create_adder = false;
  KAVU_LUT_UNMAPPER m_lut_unmapper;
  DEV_FAMILY_ENUM m_family;
};

// A temporary unmapper (no buffers, nothing preserved, factored LUT form
// with caching, family 68) running unmap_netlist.
bool kavu_unmap_netlist(CDB_SGATE_NETLIST* netlist, bool unmap_atoms, bool unmap_luts, bool unmap_muxes,
                        bool all_atom_kinds, bool keep_arithmetic, bool create_adder, bool skip_flagged_luts);

// Rewrites a 2:1 mux as OR(AND(select, data1), AND(!select, data0)): the
// three new comb gates (OR first, then the data0 and data1 ANDs) carry the
// mux's instance name, are appended to *new_nodes (not added to a netlist)
// and the OR's output takes over the mux output's fan-outs, inverted when
// that output is inverted. Each AND input is a copy of a mux input
// (kavu_copy_fanin): inversions and tied inputs carry over as fan-in flags
// and constants. Returns the OR's output; the mux is left
// without fan-out for the caller to delete. Memory the system refuses
// (std::bad_alloc, passed on) deletes the gates made first: the mux keeps
// its readers and the list is as it was. Internal errors: a null mux or
// list, an unconnected select, data0 or data1.
CDB_SGATE_OTERM* kavu_convert_mux_to_logic(CDB_SGATE_MUX* node, std::list<CDB_SGATE_NODE*>* new_nodes);

// Whether a logic cell is one bit of an adder of two signals: no extended or
// shared-arithmetic mode, no combinational or shared fan-out, only d, f and
// the carry in used, each addend a constant or d (f) plain or inverted.
// With normalize the addends move to inputs a and b (mask 0xAAAA/0xCCCC or
// their complements), and node flag 4 is set when the mask changed.
bool kavu_wys_is_an_adder_bit(CDB_SGATE_WYSIWYG* wys, bool normalize);
