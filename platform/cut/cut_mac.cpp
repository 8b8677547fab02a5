// cut_mac.cpp — MAC register groups read from mode bits, LUT-RAM instance
// parameters read from the options of the atom's instance name.
//
// Every answer is read from the atom on each call; the utility object holds
// nothing, so callers may make one per query.
#include "cut/cut_mac.h"

#include "cdb/cdb_sgate.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

const char* const WYS_DV_CLOCK1 = "clock1";
const char* const WYS_NONE = "none";
const char* const WYS_PIREL_SCLEAR = "sclear";

namespace {

void check_mac(const CDB_SGATE_WYSIWYG* atom) {
  PLAT_CHECK(atom != nullptr && atom->is_mac(), "PLATFORM");
}

}  // namespace

CUT_MAC_UNIFIED_UTIL::GROUP CUT_MAC_UNIFIED_UTIL::input_group(DB_INPUT_PORT_TYPE port) {
  switch (port) {
    case CUT_MAC_IPORT_DATA_AX:
    case CUT_MAC_IPORT_DATA_AY:
    case CUT_MAC_IPORT_DATA_AZ:
    case CUT_MAC_IPORT_DATA_BX:
    case CUT_MAC_IPORT_DATA_BY:
    case CUT_MAC_IPORT_DATA_BZ:
    case CUT_MAC_IPORT_CHAIN_IN:
      return GROUP_DATA;
    case CUT_MAC_IPORT_COEF_SEL_A:
    case CUT_MAC_IPORT_COEF_SEL_B:
    case CUT_MAC_IPORT_SUB_NADD:
    case CUT_MAC_IPORT_NEGATE:
    case CUT_MAC_IPORT_ACC_NLOAD:
    case CUT_MAC_IPORT_LOAD_VALUE_ENA:
      return GROUP_CONTROL;
    default:
      return GROUP_NONE;
  }
}

CUT_MAC_UNIFIED_UTIL::GROUP CUT_MAC_UNIFIED_UTIL::output_group(DB_OUTPUT_PORT_TYPE port) {
  switch (port) {
    case CUT_MAC_OPORT_DATA_OUT_A:
    case CUT_MAC_OPORT_DATA_OUT_B:
    case CUT_MAC_OPORT_CHAINOUT:
      return GROUP_OUTPUT;
    default:
      return GROUP_NONE;
  }
}

bool CUT_MAC_UNIFIED_UTIL::group_registered(const CDB_SGATE_WYSIWYG* atom, GROUP group) {
  switch (group) {
    case GROUP_DATA:
      return atom->mode_is_set(CUT_MAC_MODE_DATA_REGISTERED);
    case GROUP_CONTROL:
      return atom->mode_is_set(CUT_MAC_MODE_CONTROL_REGISTERED);
    case GROUP_OUTPUT:
      return atom->mode_is_set(CUT_MAC_MODE_OUTPUT_REGISTERED);
    default:
      return false;
  }
}

int CUT_MAC_UNIFIED_UTIL::group_clock(const CDB_SGATE_WYSIWYG* atom, GROUP group) {
  unsigned lo = 0;
  switch (group) {
    case GROUP_DATA:
      lo = CUT_MAC_MODE_DATA_CLOCK_LO;
      break;
    case GROUP_CONTROL:
      lo = CUT_MAC_MODE_CONTROL_CLOCK_LO;
      break;
    case GROUP_OUTPUT:
      lo = CUT_MAC_MODE_OUTPUT_CLOCK_LO;
      break;
    default:
      return 0;
  }
  // A clock field holds the clock number minus one, low bit first.
  int field = (atom->mode_is_set(lo) ? 1 : 0) | (atom->mode_is_set(lo + 1) ? 2 : 0);
  return field + 1;
}

bool CUT_MAC_UNIFIED_UTIL::is_input_port_registered(const CDB_SGATE_WYSIWYG* atom,
                                                    DB_INPUT_PORT_TYPE port) const {
  check_mac(atom);
  return group_registered(atom, input_group(port));
}

bool CUT_MAC_UNIFIED_UTIL::is_output_port_registered(const CDB_SGATE_WYSIWYG* atom,
                                                     DB_OUTPUT_PORT_TYPE port) const {
  check_mac(atom);
  return group_registered(atom, output_group(port));
}

int CUT_MAC_UNIFIED_UTIL::get_input_port_clock(const CDB_SGATE_WYSIWYG* atom, DB_INPUT_PORT_TYPE port) const {
  check_mac(atom);
  return group_clock(atom, input_group(port));
}

int CUT_MAC_UNIFIED_UTIL::get_output_port_clock(const CDB_SGATE_WYSIWYG* atom,
                                                DB_OUTPUT_PORT_TYPE port) const {
  check_mac(atom);
  return group_clock(atom, output_group(port));
}

DB_INPUT_PORT_TYPE CUT_MAC_UNIFIED_UTIL::clock_port_of_number(int number) {
  switch (number) {
    case 1:
      return CUT_MAC_IPORT_CLK1;
    case 2:
      return CUT_MAC_IPORT_CLK2;
    case 3:
      return CUT_MAC_IPORT_CLK3;
    default:
      return CDB_ILLEGAL_PORT;
  }
}

namespace kavu_platform {

const char* cut_get_atom_parameter(const CDB_SGATE_WYSIWYG* atom, int parameter) {
  PLAT_CHECK(atom != nullptr, "PLATFORM");
  const HDB_INSTANCE_NAME* name = atom->get_instance_name();
  if (!name) return nullptr;
  auto* option = HDB_DERIVED_OPTION<ACF_KIND_TEXT, 0>::get_single_option(name, parameter, true);
  return option ? option->get_value_str() : nullptr;
}

}  // namespace kavu_platform
