// blif_cells.h — the built-in .subckt cells of the BLIF reader and writer
// (internal to netlist_io).
//
// Cells: the yosys generic gates ($_BUF_, $_NOT_, $_AND_, $_NAND_, $_OR_,
//   $_NOR_, $_XOR_, $_XNOR_, $_ANDNOT_, $_ORNOT_, $_MUX_), the register family
//   ($_DFF_*, $_DFFE_*, $_SDFF_*, $_SDFFE_*, $_SDFFCE_*, $_DFFSR_*, $_DFFSRE_*)
//   and latches ($_DLATCH_[NP]_, $_DLATCH_[NP][NP][01]_), plus our $mux2 and
//   $dff_full. Polarity letters become input inversions; a synchronous reset
//   to 1 becomes a synchronous load of VCC. $_SDFFE_ (reset over enable) sets
//   the register's sclr-over-enable mark; with a reset to 1 its enable input
//   reads (enable OR reset) so the load also wins over a low enable.
#pragma once

#include <string>
#include <string_view>

#include "cdb/cdb_codes.h"
#include "netlist_io/blif.h"

class CDB_REG_FLAGS;
class CDB_SGATE_NETLIST;
class HDB_INSTANCE_NAME;

namespace kavu_platform {

enum BLIF_CELL_STATUS { BLIF_CELL_UNKNOWN, BLIF_CELL_BUILT, BLIF_CELL_MALFORMED };

// Builds the cell when `model` is a built-in cell; MALFORMED with the reason
// in *problem when its pins or parameters are wrong (nothing is built then).
BLIF_CELL_STATUS blif_build_generic_cell(std::string_view model, BLIF_SUBCKT_BUILDER& cell,
                                         std::string* problem);

// The input at `pos`, created unconnected with `type` when the slot is empty.
CDB_SGATE_ITERM* blif_cell_input(CDB_SGATE_NODE* gate, unsigned pos, DB_INPUT_PORT_TYPE type);

// Names every gate the reader made without a signal of its own (the cubes,
// sum and inverter of a cover, the enable OR of a register cell): a new
// synthesized child, unique, of the name of the gate its cell drives its
// signal with, "<signal>~and", "<signal>~or~1", ...; its output takes the
// same name. Call once every signal is named. Cost: O(gates).
void blif_name_cell_gates(CDB_SGATE_NETLIST* netlist, HDB_INSTANCE_NAME* top);

// BLIF initial value: 0 low, 1 high, 2 don't care, 3 no setting.
void blif_set_power_up(CDB_REG_FLAGS* reg, int init);
int blif_get_power_up(const CDB_REG_FLAGS* reg);

// Pin names of $dff_full, by register input position (CDB_DFF_PORT); Q is
// the output.
extern const char* const BLIF_DFF_FULL_PINS[CDB_DFF_NUM_PORTS];

}  // namespace kavu_platform
