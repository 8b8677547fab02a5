// kavu_seq_mac_utility.cpp — register queries of MAC blocks.
//
// Model: a MAC atom's ports fall into register groups whose registering and
//   clock number (1 to 3) are atom settings; CUT_MAC_UNIFIED_UTIL decodes
//   them, and this file turns the answers into the library's terminal-level
//   queries. The clock number picks the block's clock input of port type
//   35, 36 or 778.
// Cost: O(1) per query; one utility object per call, as cheap as a pointer.
#include "kavu_seq_lutram_util.h"
#include "kavu_seq_mac_utility.h"

#include "cdb/cdb_sgate.h"
#include "cut/cut_mac.h"
#include "kavu_check.h"

namespace {

const CDB_SGATE_WYSIWYG* mac_of(const CDB_SGATE_NODE* sgate) {
  KAVU_CHECK(sgate != nullptr && sgate->is_wysiwyg() && sgate->cast_to_wysiwyg()->is_mac());
  return sgate->cast_to_wysiwyg();
}

}  // namespace

bool kavu_is_mac_input_registered(CDB_SGATE_ITERM* iterm, int output_port_type) {
  (void)output_port_type;  // part of the caller's question, not of the answer
  KAVU_CHECK(iterm != nullptr);
  const CDB_SGATE_WYSIWYG* mac = mac_of(iterm->get_my_node());
  CUT_MAC_UNIFIED_UTIL util;
  return util.is_input_port_registered(mac, iterm->get_port_type());
}

bool kavu_is_mac_output_registered(CDB_SGATE_OTERM* oterm, CDB_SGATE_ITERM** clock_iterm) {
  KAVU_CHECK(oterm != nullptr);
  const CDB_SGATE_WYSIWYG* mac = mac_of(oterm->get_my_node());
  CUT_MAC_UNIFIED_UTIL util;
  const bool registered = util.is_output_port_registered(mac, oterm->get_port_type());
  if (clock_iterm) {
    const int output_port_clock = util.get_output_port_clock(mac, oterm->get_port_type()) - 1;
    KAVU_CHECK((output_port_clock >= 0) && (output_port_clock < 3));
    *clock_iterm = mac->get_iterm_by_type(CUT_MAC_UNIFIED_UTIL::clock_port_of_number(output_port_clock + 1));
  }
  return registered;
}
