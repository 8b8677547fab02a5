// cut_mac_split.cpp — split MAC atom facts read from mode bits.
#include "cut/cut_mac_split.h"

#include "cdb/cdb_sgate.h"
#include "msg/msg.h"

namespace {

bool is_split_mac(const CDB_SGATE_WYSIWYG* atom) {
  PLAT_CHECK(atom != nullptr, "PLATFORM");
  return atom->is_mac_mult() || atom->is_mac_out();
}

}  // namespace

bool CUT_MAC_SPLIT_UTIL::is_input_port_registered(const CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port) {
  if (!is_split_mac(atom) || !atom->is_mac_mult()) return false;
  if (port == 12) return atom->mode_is_set(CDB_WYSIWYG_MAC_INA_REGISTERED);
  if (port == 13) return atom->mode_is_set(CDB_WYSIWYG_MAC_INB_REGISTERED);
  return false;
}

bool CUT_MAC_SPLIT_UTIL::is_output_port_registered(const CDB_SGATE_WYSIWYG* atom, DB_OUTPUT_PORT_TYPE port) {
  return is_split_mac(atom) && port == 3 && atom->mode_is_set(CDB_WYSIWYG_MAC_OUT_REGISTERED);
}

bool CUT_MAC_SPLIT_UTIL::is_bypass_multiplier(const CDB_SGATE_WYSIWYG* atom) {
  return is_split_mac(atom) && atom->is_mac_mult() && atom->mode_is_set(CDB_WYSIWYG_MAC_BYPASS_MULT);
}

bool CUT_MAC_SPLIT_UTIL::is_using_rounding(const CDB_SGATE_WYSIWYG* atom) {
  return is_split_mac(atom) && atom->mode_is_set(CDB_WYSIWYG_MAC_USE_ROUNDING);
}

bool CUT_MAC_SPLIT_UTIL::is_using_saturation(const CDB_SGATE_WYSIWYG* atom) {
  return is_split_mac(atom) && atom->mode_is_set(CDB_WYSIWYG_MAC_USE_SATURATION);
}
