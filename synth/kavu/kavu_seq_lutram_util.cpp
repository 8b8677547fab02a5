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
#include "kavu_seq_timer.h"
#include "kavu_seq_timer_int.h"

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

// ---------------------------------------------------------------------------
// LUT-RAM records of the sequential timer
//
// Model: the write clock is input 35, the read clock (the output register's)
//   input 36; an undriven write clock makes the LUT RAM read only, and an
//   output registered on an undriven read clock is taken as unclocked, both
//   with a debug line. Write address (41), write enable (83) and ports 109,
//   173 are captured by the write clock; the read address (42) and, when the
//   output clear is synchronous, the clear (6) by the read clock.

bool kavu_is_lutram_output_clear_synchronous(CDB_SGATE_NODE* lutram) {
  KAVU_CHECK(kavu_is_lutram(lutram));
  const char* setting = kavu_platform::cut_get_atom_parameter(lutram->cast_to_wysiwyg(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLEAR);
  return setting && gen_stricmp(setting, WYS_PIREL_SCLEAR) == 0;
}

bool kavu_is_lutram_registered_input(const CDB_SGATE_ITERM* iterm) {
  KAVU_CHECK(iterm != nullptr);
  switch (iterm->get_port_type()) {
    case 41: case 42: case 83: case 109: case 110: case 173: return true;
    case 6: return kavu_is_lutram_output_clear_synchronous(iterm->get_my_node());
    default: return false;
  }
}

KAVU_SEQ_LUTRAM_INFO::KAVU_SEQ_LUTRAM_INFO(CDB_SGATE_NODE* sgate, KAVU_SEQ_TIMER* timer) {
  KAVU_CHECK(kavu_is_lutram_node(sgate));
  KAVU_CHECK(timer != nullptr);
  m_lutram_node = sgate->cast_to_wysiwyg();
  m_write_clk = kavu_seq_clock_id_of(timer, m_lutram_node->get_iterm_by_type(35));
  if (m_write_clk == KAVU_SEQ_INVALID_CLOCK_ID)
    kavu_debug("KAVU_SEQ: LUTRAM node (SGATE_ID = %d) is in read_only mode", int(sgate->get_id()));
  if (!kavu_is_lutram_output_registered(sgate)) return;
  m_read_clk = kavu_seq_clock_id_of(timer, m_lutram_node->get_iterm_by_type(kOutputClockPort));
  if (m_read_clk == KAVU_SEQ_INVALID_CLOCK_ID)
    kavu_debug("KAVU_SEQ: LUTRAM node (SGATE_ID = %d) output register has no clock; taken as unclocked.",
               int(sgate->get_id()));
}

int KAVU_SEQ_LUTRAM_INFO::get_input_clock(const CDB_SGATE_ITERM* iterm) const {
  if (!kavu_is_lutram_registered_input(iterm)) return KAVU_SEQ_INVALID_CLOCK_ID;
  switch (iterm->get_port_type()) {
    case 110: return KAVU_SEQ_INVALID_CLOCK_ID;
    case 83: case 109: case 173: case 41: return m_write_clk;
    default: return m_read_clk;
  }
}
