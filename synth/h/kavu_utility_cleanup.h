// kavu_utility_cleanup.h — the small RTL clean-up passes and structural
// tests run between larger optimisations: default power-up correction,
// carry protection (majority-OR recognition), isolation of dead cones,
// inversion push into a driver, one-hot groups, wire sweeping, add/subtract
// to adder, 2:1 mux with a GND input to AND, common input pairs, and
// observer buffers on registers.
//
// Model: terminals are unconnected, tied (GND = inverted VCC) or driven;
// comb type 3 is a complemented single-input gate. None of the passes keeps
// state; failures are internal errors of the component "KAVU".
// Cost: every pass is linear in what it walks (the netlist, a gate's
// terminals or a cone, with an explicit queue).
#pragma once

#include <vector>

class CDB_SGATE_NODE;
class CDB_SGATE_COMB;
class CDB_SGATE_DFF;
class CDB_SGATE_ITERM;
class CDB_SGATE_OTERM;
class CDB_SGATE_NETLIST;
class CDB_SGATE_OPERATOR;
class CDB_SGATE_OPER_PORT_ENTRY;

constexpr int RTL_BITS_IN_UINT = 32;

// Registers without an explicit power-up that an asynchronous preset or load
// of 1 (and no clear) would set power up high.
void rtl_correct_default_pwrup_flags(CDB_SGATE_NETLIST* netlist);
bool rtl_flip_register_to_default_power_up(CDB_SGATE_NODE* dff);
unsigned rtl_gimmie_bit(unsigned value, unsigned index);
// Ties every bit of an input port to GND.
void rtl_gnd_port(CDB_SGATE_OPER_PORT_ENTRY* iport);
// A new input of the comb gate driven by src (VCC when null), inverted when
// `invert` is set.
CDB_SGATE_ITERM* rtl_insert_comb_fanin(CDB_SGATE_COMB* comb, CDB_SGATE_OTERM* src, bool invert);
bool rtl_oper_might_be_subtractor(CDB_SGATE_OPERATOR* op);
// Soft buffers in front of the three inputs of every majority OR(ab, ac, bc)
// that feeds a single-carry buffer; true when any was protected.
bool rtl_protect_carrys(CDB_SGATE_NETLIST* netlist, bool verbose);
bool rtl_recognize_majority_or(CDB_SGATE_OTERM* oterm, CDB_SGATE_NETLIST* netlist, bool verbose);
bool rtl_match_majority_or(CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM** a, CDB_SGATE_ITERM** b,
                           CDB_SGATE_ITERM** c);
bool rtl_iterm_is_fed_by_carry(CDB_SGATE_ITERM* iterm);
// Cuts loose the cone that only the given terminal's gate uses: each gate
// without fan-out has its driven inputs tied to VCC and its sources are
// examined in turn. Gates the sweep must keep (pins, protect buffers,
// preserved registers and registers that may not be pruned) keep their
// inputs. Nothing is deleted.
void rtl_isolate_orphaned_gates_non_recurse(CDB_SGATE_OTERM* orphan_oterm);
// Moves the terminal's inversion into its driver (AND/OR by De Morgan, muxes
// and the top bit of an adder by their data).
void rtl_push_invert_to_inputs(CDB_SGATE_ITERM* iterm);
bool rtl_has_onehot_buddies(CDB_SGATE_OTERM* oterm);
bool rtl_get_onehot_buddies(CDB_SGATE_OTERM* oterm, std::vector<CDB_SGATE_OTERM*>* buddies, bool include_self);
// Removes every single-input comb gate; returns the number removed.
int rtl_sweep_wires(CDB_SGATE_NETLIST* netlist);
// An adder computing the add/subtract operator's function; the old operator
// stays without fan-out.
CDB_SGATE_NODE* rtl_replace_addsub_with_opadd(CDB_SGATE_NODE* addsub, CDB_SGATE_NETLIST* netlist);
bool rtl_is_constant_data_mux(CDB_SGATE_NODE* sgate);
bool opt_is_io(CDB_SGATE_NODE* sgate);
bool rtl_turn_21mux_to_2and(CDB_SGATE_NODE* muxie, CDB_SGATE_NETLIST* netlist);
bool rtl_fed_by_common_pair(CDB_SGATE_NODE* comb_a, CDB_SGATE_NODE* comb_b, CDB_SGATE_ITERM** iterm_x,
                            CDB_SGATE_ITERM** iterm_y, bool by_oterm_only);
// A protect buffer without fan-out on every register output (device
// flip-flops without a register output are skipped); the buffers' outputs
// are appended to the empty vector.
void rtl_add_register_observers(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* prot_oterms);
// The observers become soft buffers and the netlist is swept.
void rtl_rm_register_observers(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* prot_oterms);
