// kavu_utility_tesk_int.h — what the retiming-support sources share: the
// kind a node counts as, node names, the keys, and the making of one new
// pipeline register.
#pragma once

#include <map>
#include <string>

#include "cdb/cdb_sgate.h"
#include "kavu_name.h"

namespace kavu_tesk_detail {

// The generic device-atom kind of the retiming rules.
constexpr int TESK_GENERIC_ATOM_KIND = 66;

// Port types the rules name.
enum : uint16_t {
  TESK_PORT_CLK = 7,
  TESK_PORT_CLOCK0 = 35,
  TESK_PORT_CLOCK1 = 36,
  TESK_PORT_SYNC_RAM_CLOCK_B = 96,
  TESK_PORT_IOPLL_OUTCLK = 4352,
};

// The gate type the retiming rules see: LUT-RAM, I/O PLL and flip-flop atoms
// count as kind 66 whatever gate type their catalogue row reports.
int tesk_kind(CDB_SGATE_NODE* node);
// A plain register or a flip-flop atom.
bool tesk_is_register(CDB_SGATE_NODE* node);
// The node's name as the rules compare it: its instance name's short path
// (format 0), else its string path.
std::string tesk_node_name(CDB_SGATE_NODE* node, int format = 0);
// The name of the node that drives the input (empty when none).
std::string tesk_driver_name(CDB_SGATE_ITERM* iterm);

bool tesk_restrict_regs();
bool tesk_ignore_internal_error();

// Makes a new plain register beside `node` (same hierarchy), adds it to the
// netlist with its nine inputs, a clock input fed by `clock` (inverted when
// asked; left unconnected when `clock` is null) and its secondary inputs tied
// off. Internal error "new_dff->get_instance_name()" when the node has no
// name to derive one from.
CDB_SGATE_DFF* tesk_new_register(CDB_SGATE_NETLIST* netlist, CDB_SGATE_NODE* node, CDB_SGATE_OTERM* clock,
                                 bool clock_inverted, KAVU_UNIQUE_SYNTH_NAMES_UTIL& names);
// Names the register's output after `from` (its instance name, or its
// node's): internal errors "oterm != 0", "from_oterm != 0".
void tesk_name_output(CDB_SGATE_OTERM* oterm, CDB_SGATE_OTERM* from, KAVU_UNIQUE_SYNTH_NAMES_UTIL& names);
// Puts `dff` between the input and what drives it.
void tesk_insert_before(CDB_SGATE_ITERM* iterm, CDB_SGATE_DFF* dff);
// Puts `dff` between the output and its whole fan-out.
void tesk_insert_after(CDB_SGATE_OTERM* oterm, CDB_SGATE_DFF* dff);
// Traces "Old node: %s" and "New node: %s" at the level.
void tesk_trace_new(CDB_SGATE_NODE* old_node, CDB_SGATE_NODE* new_node, int level);

// The registers that feed ports 1 and 2 of a DSP operator through name
// keepers, by name (format 1); false when another gate lies on such a path
// (with `legacy`, the legacy rules: operators refused, anything else but a
// name keeper an internal error).
bool tesk_dsp_registers_before(CDB_SGATE_NODE* dsp, std::map<std::string, CDB_SGATE_NODE*>& regs, bool legacy);
// The registers the operator's result reaches through comb gates,
// operators and muxes; other gates end their branch.
void tesk_dsp_registers_after(CDB_SGATE_NODE* dsp, std::map<std::string, CDB_SGATE_NODE*>& regs);

}  // namespace kavu_tesk_detail
