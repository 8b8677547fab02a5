// kavu_word_level.h — the word-level bridge: bus operators, bus widths and
// bit names, gate netlist to word-level netlist and back, register
// conversion around it and subnet boundary buffers.
//
// Bus form of a gate netlist. A bus-in operator (kind 18) gathers `width`
// single-bit signals on port A (bits 0..width-1) into one output on port O; a
// bus-out operator (kind 19) spreads one input on port A over `width` outputs
// on port O. Every gate between them stands for the whole bus; its output's
// width is recorded by kavu_record_bus_oterm_widths. Both creators make
// unnamed operators and add them to the netlist; a width of 0 is an internal
// error.
//
// Road of a word-level pass: kavu_fill_subnet_vec chooses the gates;
// kavu_make_wl_netlist builds the word-level netlist (whole netlist, or a
// subset with one protect buffer and one word-level pin per crossing
// signal); the caller's passes run; kavu_convert_wl_to_sgate_netlist rebuilds
// gates. The process-wide pin map (word-level pin -> gate pin or boundary
// buffer) carries pins between the two directions: it must be empty when a
// build starts, and the conversion back empties it.
//
// Subset mode: the subset's old gates stay in the gate netlist; on the way
// back the new gates take over the pins' and boundary buffers' connections,
// and the caller's sweep removes the old ones.
//
// Whole-netlist mode: the gate netlist object is destroyed, but its pins and
// the device atoms the word-level netlist wraps are detached first and kept
// alive; the conversion back adds them to the target netlist.
//
// Inversions compose by XOR everywhere: a merger table entry's inversion, the
// inversion of the merger input it reads and the inversion of the reader.
//
// Cost: building and converting back are O(total bits) hash lookups; bus
// removal is O(width * region * fan-in).
#pragma once

#include <map>
#include <set>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_codes.h"

class CDB_SGATE_NODE;
class CDB_SGATE_NETLIST;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_DFF;
class CDB_SGATE_WYSIWYG;
class CMP_FACADE;
class GEN_DYN_FLAG;
class HDB_INSTANCE_NAME;
class MSG_I;
class RTL_FAMILY_INFO;
class WL_NETLIST;
class WL_NODE;
class WL_DFF;
class WL_ITERM;
class WL_OTERM;

// ---- bus operators ----
CDB_SGATE_NODE* kavu_create_bus_in_operator(CDB_SGATE_NETLIST* netlist, unsigned int width);
CDB_SGATE_NODE* kavu_create_bus_out_operator(CDB_SGATE_NETLIST* netlist, unsigned int width);

typedef std::map<CDB_SGATE_OTERM*, unsigned> KAVU_OTERM_WIDTHS;

// Clears and fills `widths`: every output reached forward from a bus-in (and,
// with `backward`, every non-control input's source reached backward from a
// bus gate or from a bus-out) gets the bus width; the first bus to reach a
// gate wins; bus-outs get no entry. Output aux values are overwritten.
void kavu_record_bus_oterm_widths(CDB_SGATE_NETLIST* netlist, KAVU_OTERM_WIDTHS* widths, bool backward);
unsigned kavu_get_oterm_width(CDB_SGATE_OTERM* oterm, const KAVU_OTERM_WIDTHS& widths);
// 1 for a null, unconnected or constant input, else its source's width.
unsigned kavu_get_iterm_width(CDB_SGATE_ITERM* iterm, const KAVU_OTERM_WIDTHS& widths);
// Register and flip-flop inputs other than data and asynchronous data; the
// select bits of n-to-1 mux and select operators; a mux gate's select; every
// latch input but D.
bool kavu_is_control_input(CDB_SGATE_ITERM* iterm);
// Clones every gate of each bus region once per bit and removes the bus
// operators; returns the number of regions. Empties the bit-name records.
// A clone takes its recorded bit name, else a name synthesized from its
// original; atom and register clones are then named again, with a final
// name outside parallel synthesis. A RAM clone's logical names are replaced
// per bit, clones of one bit sharing the new name where their originals
// shared the old one.
int kavu_remove_bus_ops(CDB_SGATE_NETLIST* netlist);

// ---- per-bit names of register buses ----
struct KAVU_NAME_RECORD {
  HDB_INSTANCE_NAME* name = nullptr;
  bool is_temporary = false;
};
void kavu_record_bus_names(unsigned name_id, std::vector<KAVU_NAME_RECORD>& names);
bool kavu_bus_name_already_used(CDB_SGATE_NODE* sgate);
bool kavu_should_record_real_name(CDB_SGATE_NODE* sgate);
// The recorded name of bit `index` of the bus named by `name_id` (null when
// none is recorded) and its temporary flag.
HDB_INSTANCE_NAME* kavu_get_bus_bit_name(unsigned name_id, unsigned index);
bool kavu_get_bus_bit_name_is_temporary(unsigned name_id, unsigned index);

// ---- gate netlist to word-level netlist ----
typedef std::unordered_map<CDB_SGATE_NODE*, WL_NODE*> KAVU_SGATE_WL_HASH;
typedef std::unordered_map<CDB_SGATE_OTERM*, unsigned> KAVU_OTERM_INDEX_CACHE;

// Appends the gates that may enter a word-level netlist (node-list order)
// and marks them (node flag 0x8000). Operators of kinds 12, 14, 15, 17
// and 20 to 23 are internal errors.
void kavu_fill_subnet_vec(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_NODE*>& subnet,
                          CDB_SGATE_HIERARCHY* hierarchy);
bool kavu_is_state_machine_node(CDB_SGATE_NODE* sgate);
// Builds a word-level netlist; see the file comment for the two modes.
WL_NETLIST* kavu_make_wl_netlist(CDB_SGATE_NETLIST* netlist, CMP_FACADE* facade, std::set<CDB_SGATE_NODE*>* subset,
                                 GEN_DYN_FLAG* flag);
WL_NODE* kavu_create_wl_node(CDB_SGATE_NODE* sgate, const KAVU_OTERM_WIDTHS& widths, WL_NETLIST* wl_netlist,
                             KAVU_OTERM_INDEX_CACHE* cache);
void kavu_copy_names_to_wl_node(CDB_SGATE_NODE* sgate, WL_NODE* wl_node);
void kavu_name_sgate_from_wl_node(WL_NODE* wl_node, CDB_SGATE_NODE* sgate, unsigned bit);
CDB_SGATE_NODE* kavu_get_io_sgate_of_wl_node(WL_NODE* wl_node);
int kavu_get_wl_buffer_type(CDB_BUFFER_TYPE type);
CDB_BUFFER_TYPE kavu_get_sgate_buffer_type(int wl_buffer_type);
DB_INPUT_PORT_TYPE kavu_get_ram_iport_type(int unused, unsigned index);
DB_OUTPUT_PORT_TYPE kavu_get_ram_oport_type(int unused, unsigned index);
bool kavu_is_wl_lut_of_type_0(WL_NODE* wl_node);
bool kavu_is_wl_lut_of_type_1(WL_NODE* wl_node);

// ---- word-level terminal connection ----
void kavu_connect_wl_node(CDB_SGATE_NODE* sgate, KAVU_SGATE_WL_HASH& sgate_wl_hash, KAVU_OTERM_INDEX_CACHE* cache);
void kavu_connect_wl_iterm(WL_ITERM* wl_iterm, CDB_SGATE_ITERM* iterm, KAVU_SGATE_WL_HASH& sgate_wl_hash,
                           KAVU_OTERM_INDEX_CACHE* cache);
void kavu_connect_wl_iterm_to_source(WL_ITERM* wl_iterm, CDB_SGATE_OTERM* src, bool inverted,
                                     KAVU_SGATE_WL_HASH& sgate_wl_hash, KAVU_OTERM_INDEX_CACHE* cache);
WL_OTERM* kavu_get_wl_source_oterm(CDB_SGATE_OTERM* oterm, KAVU_SGATE_WL_HASH& sgate_wl_hash,
                                   KAVU_OTERM_INDEX_CACHE* cache);
unsigned kavu_get_oterm_index(KAVU_OTERM_INDEX_CACHE* cache, CDB_SGATE_OTERM* oterm);
class CDB_SGATE_OPER_PORT_ENTRY;
bool kavu_port_is_whole_source_port(CDB_SGATE_OPER_PORT_ENTRY* port);
CDB_OPER_PORT_TYPE kavu_get_operator_port_for_wl_input(WL_NODE* wl_node, unsigned input);

// ---- word-level netlist to gate netlist ----
// Takes ownership of `wl` and deletes it; returns `target`, or a new netlist
// when it is null. The pins and atoms kept by a whole-netlist build are
// added to the returned netlist.
CDB_SGATE_NETLIST* kavu_convert_wl_to_sgate_netlist(WL_NETLIST* wl, CMP_FACADE* facade, RTL_FAMILY_INFO* fam,
                                                    CDB_SGATE_NETLIST* target);
class WL_COMPONENT;
// One message 286033 per parameter with a name and a value, as sub-messages
// of `group`; nothing when "opt_dont_display_inference_parameter_messages"
// is on.
void kavu_add_parameter_messages(MSG_I* group, WL_COMPONENT* comp);
// Error 286034 for a ROM whose initialisation file is missing; a ROM without
// an instance name is named by the hierarchy's path and its own text.
void kavu_issue_missing_mif_error(WL_NODE* rom, const char* mif_file, CMP_FACADE* facade,
                                  CDB_SGATE_HIERARCHY* hier);

// ---- register conversion ----
typedef std::unordered_map<WL_NODE*, std::vector<CDB_SGATE_NODE*>> KAVU_WL_SGATES_HASH;

// Replaces every flip-flop atom (of the subnet, when one is given) by a DFF
// gate; "user_wys" and "dont_touch" go onto the DFF outputs.
void kavu_convert_wys_ffs_to_dffs(CDB_SGATE_NETLIST* netlist, GEN_DYN_FLAG* user_wys, GEN_DYN_FLAG* dont_touch,
                                  std::set<CDB_SGATE_NODE*>* subnet);
void kavu_fill_dff_inputs_from_wys_ff(CDB_SGATE_WYSIWYG* wys, CDB_SGATE_DFF* dff);
// 0:20, 1:7, 2:6, 3:27, 4:8, 5:0, 6:1, 7:30, 8:33.
DB_INPUT_PORT_TYPE kavu_dff_input_to_wys_port(unsigned index);
bool kavu_wl_ff_should_become_wys(WL_DFF* ff);
// Consumes `wl_sgates_hash` (a copy the caller made; its vectors are this
// call's own).
void kavu_convert_wl_dffs_to_wys_ffs(WL_NETLIST* wl, KAVU_WL_SGATES_HASH* wl_sgates_hash, CDB_SGATE_NETLIST* netlist,
                                     RTL_FAMILY_INFO* fam);
void kavu_copy_dff_inputs_to_wys_ff(CDB_SGATE_DFF* dff, CDB_SGATE_WYSIWYG* wys);

// ---- subnet boundary buffers ----
bool kavu_is_wl_subnet_node(std::set<CDB_SGATE_NODE*>* subnet, CDB_SGATE_NODE* sgate);
void kavu_insert_wl_boundary_buffers(CDB_SGATE_NETLIST* netlist, WL_NETLIST* wl_netlist,
                                     std::set<CDB_SGATE_NODE*>* subnet, KAVU_SGATE_WL_HASH& sgate_wl_hash,
                                     KAVU_OTERM_WIDTHS* widths, GEN_DYN_FLAG* boundary_flag);
// Registers of the subnet may be pruned; keep-fan-out-free requests of the
// subnet's gates are read and lifted.
void kavu_update_wl_subnet_flags(CDB_SGATE_NETLIST* netlist, std::set<CDB_SGATE_NODE*>* subnet);
