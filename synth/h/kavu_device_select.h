// kavu_device_select.h — the device a compile targets: family, device and
// part, whether they are legal, and the resources the device offers.
//
// KAVU_DEVICE works from the facade's family, the device name of the
// project's first chip (a part name, "AUTO" or a family name), the device
// catalogue and three configuration keys:
//   dmgr_use_dev_for_all (off)   treat a family without new-style device
//                                database support as legal
//   kavu_set_device (text)       force this part, overriding the chip
//   kavu_device_debug_dump (off) write the candidate list to
//                                "kavu_device_list.txt"
// For an AUTO device (no default AUTO part for the family, no part forced)
// it keeps the candidate devices with their parts, filtered by the chip's
// package, pin-count and speed-grade settings (assignment variables 339,
// 340, 341), which a caller steps through with the select_* members.
// Nothing is read at construction: the family set-up runs on the first
// family query, the device set-up on the first other query, each once.
// The device set-up writes the part it chose into the chip's device: the
// family's default AUTO part for an "AUTO" or family name, and a part forced
// by kavu_set_device; an explicit part name stays as it is. A chosen part on a device that is not installed, or a name that
// is no part, is not an error: the record reports no legal family and a
// debug line says why. Consistency failures are internal errors.
#pragma once

#include "cmp/cmp.h"
#include "dev/dev.h"

class KAVU_DEVICE_STATE;

class KAVU_DEVICE {
 public:
  // A record of the compile's device; nothing is read yet.
  explicit KAVU_DEVICE(CMP_FACADE* facade);
  // A complete record of one part: its family, its device selected, the
  // part selected, no facade.
  explicit KAVU_DEVICE(int part);
  ~KAVU_DEVICE();
  KAVU_DEVICE(const KAVU_DEVICE&) = delete;
  KAVU_DEVICE& operator=(const KAVU_DEVICE&) = delete;

  bool is_legal_family();
  bool is_legal_device();
  bool is_legal_part();
  bool is_device_info_legal();
  DEV_FAMILY_ENUM get_family();
  // The selected device, 0 when none.
  DEV_DEVICE_ENUM get_device();
  // The selected part, DEV_PART_INVALID when no device or part is selected.
  DEV_PART_ENUM get_part();
  bool is_auto_device();
  int get_num_devices();
  // Internal error without a selected device.
  int get_num_parts_for_current_device();
  // Internal error without a legal family.
  const DEV_BASIC_INFO* get_basic_info();
  // The count of that resource on the selected device: datum 1 when valid
  // and positive, else datum 2 when valid, else datum 1 when valid, else -1
  // (also -1 when the device has no element of that kind). Internal error
  // without a selected device or legal family.
  int get_resource_count(DEV_ELEMENT_ENUM element);
  bool has_resource(DEV_ELEMENT_ENUM element);
  // No element kind (0); internal error without a selected device.
  DEV_ELEMENT_ENUM get_primitive_building_block_type(DEV_ELEMENT_ENUM element);
  std::string get_family_user_name();
  std::string get_family_debug_name();
  std::string get_device_user_name();
  std::string get_device_debug_name();
  std::string get_part_user_name();
  std::string get_part_debug_name();
  // AUTO records only (internal error otherwise). First and last select an
  // entry without a part; next the entry after the selected one (internal
  // error without one). A position outside the list clears the selection
  // and gives false.
  bool select_first_auto_device();
  bool select_last_auto_device();
  bool select_next_auto_device();

 private:
  KAVU_DEVICE_STATE* m_state;
};

// Whether resource-aware synthesis needs a legal device: true when the
// compile's device set-up finds a device, else the negation of the default
// section's Boolean option 575 (true when absent). The base family must be
// 15, 25, 45 or 47 (internal error otherwise).
bool kavu_requires_legal_device(CMP_FACADE* facade);
// The structured-ASIC companion device when the chip's assignment 872 is
// the enumeration value 2: the first part of the chip's migration list
// (assignment 667, comma-separated, items trimmed of blanks) whose device
// is installed, as a new record the caller owns; null otherwise.
KAVU_DEVICE* kavu_get_companion_device_for_lumcast(CMP_FACADE* facade);
// True for the families 15, 25, 45 and 47; any other is an internal error.
bool kavu_device_resources_can_be_used(DEV_FAMILY_ENUM family);
