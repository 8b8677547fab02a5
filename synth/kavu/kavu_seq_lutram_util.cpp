// kavu_seq_lutram_util.cpp — register queries of LUT RAMs.
//
// Model: a LUT RAM's port-B data output is registered when the atom's
//   output-clock parameter selects clock 1; the output register's clock is
//   the input of port type 36. The parameter decides; a clock input that
//   contradicts it is only traced, because the netlist may be mid-edit.
//   "Connected" for that input is a source, or a connected parent input.
// Cost: one parameter lookup on the instance name per query.
#include "cdb/cdb_sgate.h"
#include "cut/cut_mac.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_seq_lutram_util.h"
#include "kavu_seq_mac_utility.h"

namespace {

constexpr DB_INPUT_PORT_TYPE kOutputClockPort = 36;

bool clock_input_connected(const CDB_SGATE_ITERM* clk) {
  if (!clk) return false;
  if (clk->get_source()) return true;
  return clk->get_parent_input() != nullptr && cdb_is_parent_connected(clk);
}

}  // namespace

bool kavu_is_lutram_output_registered(CDB_SGATE_NODE* lutram) {
  KAVU_CHECK(lutram != nullptr && lutram->is_wysiwyg() && lutram->cast_to_wysiwyg()->is_lutram());
  const CDB_SGATE_WYSIWYG* wys = lutram->cast_to_wysiwyg();
  const char* setting = kavu_platform::cut_get_atom_parameter(wys, WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK);
  if (!setting) return false;
  const bool clocked = clock_input_connected(wys->get_iterm_by_type(kOutputClockPort));
  if (gen_stricmp(setting, WYS_DV_CLOCK1) == 0) {
    if (!clocked) kavu_debug("LUT RAM has illegal output register mode setting.");
    return true;
  }
  if (gen_stricmp(setting, WYS_NONE) == 0 && clocked)
    kavu_debug("LUT RAM has illegal output register mode setting.");
  return false;
}
