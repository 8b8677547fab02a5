// kavu_device_select.cpp — KAVU_DEVICE: lazy family and device set-up, the
// AUTO candidate list, selection, resource counts and the list dump; the
// legality, companion-device and resource-family queries.
//
// Model: the state record holds the candidate list (one entry per device,
//   its parts in the order added), the family (0: no legal family), the
//   basic information of the device database and the selected entry and
//   part (-1: none). Every selection change repositions the basic
//   information: on the part when one is selected, else on the selected
//   device, else on the "none" device 859.
// Set-up reads the facade, the first chip and the keys; it writes nothing
//   outside the record. A part chosen by the user is checked for an
//   installed device before it is added, so an uninstalled device ends in
//   the "not available" debug line and no legal family rather than in the
//   internal error adding reserves for inconsistent catalogue data.
// Cost: set-up is linear in the catalogue's parts; queries are O(1) apart
//   from element lookups over a handful of elements.
#include "kavu_device_select.h"

#include <memory>
#include <string>
#include <vector>

#include "cfg/cfg.h"
#include "gen/gen.h"
#include "hdb/hdb_section.h"
#include "kavu_check.h"
#include "kavu_helper.h"
#include "kavu_msg.h"

namespace {

// Assignment variables of the chip and the default section.
constexpr int kPackageFilter = 339;
constexpr int kPinCountFilter = 340;
constexpr int kSpeedGradeFilter = 341;
constexpr int kResourceAwareOff = 575;
constexpr int kMigrationList = 667;
constexpr int kMigrationMode = 872;
constexpr int kMigrationModeCompanion = 2;
constexpr int kDefaultSection = 12;

struct DEVICE_PARTS {
  DEV_DEVICE_ENUM m_device;
  std::vector<int> m_parts;
};

bool is_resource_family(int family) {
  return family == 15 || family == 25 || family == 45 || family == 47;
}

// The text of a chip assignment, or null.
const char* chip_setting(HDB_SECTION* chip, int variable) {
  HDB_ASSIGNMENT* asgn = chip ? chip->find_assignment(variable) : nullptr;
  return asgn ? asgn->get_value_str() : nullptr;
}

}  // namespace

class KAVU_DEVICE_STATE {
 public:
  bool m_family_initialized = false;
  bool m_device_initialized = false;
  CMP_FACADE* m_facade = nullptr;
  bool m_auto_device = false;
  std::vector<std::unique_ptr<DEVICE_PARTS>> m_device_parts_list;
  DEV_FAMILY_ENUM m_user_family = DEV_FAMILY_INVALID;
  std::unique_ptr<DEV_BASIC_INFO> m_basic_info;
  int m_selected_device = -1;
  int m_selected_part = -1;

  void initialize_family();
  void initialize_device();
  void add_part(int part);
  void build_auto_part_list(HDB_SECTION* chip);
  void reset_basic_info();
  bool select(int device_index);
  void dump_device_list() const;
  DEVICE_PARTS* selected_entry() const {
    return m_selected_device < 0 ? nullptr : m_device_parts_list[m_selected_device].get();
  }
};

void KAVU_DEVICE_STATE::initialize_family() {
  if (m_family_initialized) return;
  m_family_initialized = true;
  KAVU_CHECK(m_facade != 0);
  KAVU_CHECK(m_device_parts_list.size() == 0);
  KAVU_CHECK(m_basic_info == 0);
  m_user_family = m_facade->get_family();
  m_basic_info.reset(DMGR_UTILITY::create_basic_info(m_user_family, DEV_DEVICE_NONE));
  KAVU_CHECK(m_basic_info != 0);
  reset_basic_info();
}

void KAVU_DEVICE_STATE::initialize_device() {
  if (m_device_initialized) return;
  m_device_initialized = true;
  initialize_family();
  KAVU_CHECK(m_facade != 0);
  KAVU_CHECK(m_device_parts_list.size() == 0);
  KAVU_CHECK(m_basic_info != 0);
  KAVU_CHECK(m_user_family != DEV_FAMILY_INVALID);

  if (!DEV_FAMILY_MANAGER::has_new_ddb_support(m_facade->get_base_family()) &&
      !cfg_is_on("dmgr_use_dev_for_all", false)) {
    kavu_debug("selected family does not support DEV: assuming illegal family");
    m_user_family = DEV_FAMILY_INVALID;
  } else {
    HDB_SECTION* hdb_chip = HDB_SECTION::get_chip(m_facade->get_namespace());
    KAVU_CHECK(hdb_chip != 0);
    // The family's default AUTO part and a forced part are written into the
    // chip's device, so that later readers of the chip see the chosen part.
    std::string device_name = hdb_chip->get_device()->get_name();
    m_auto_device = false;
    if (gen_stricmp(device_name.c_str(), "AUTO") == 0 ||
        dstr_exists_dev_family_enum_by_string(device_name.c_str())) {
      const DEV_PART_ENUM part = DEV_FAMILY_MANAGER::get_auto_default_part_of(m_user_family);
      if (part != DEV_PART_INVALID) {
        device_name = dstr_get_user_string(part);
        hdb_chip->get_device()->set_name(device_name.c_str());
      } else {
        m_auto_device = true;
      }
    }
    const std::string forced = cfg_get_value("kavu_set_device");
    if (!forced.empty()) {
      if (!DEV_PART_MANAGER::exists_part_enum_by_string(forced.c_str())) {
        KAVU_INTERNAL_ERROR("Velmora INI kavu_set_device's value is not a valid device.");
      }
      kavu_debug("Velmora ini: util_set_device forced device to be %s", forced.c_str());
      device_name = forced;
      hdb_chip->get_device()->set_name(device_name.c_str());
      m_auto_device = false;
    }

    if (m_auto_device) {
      build_auto_part_list(hdb_chip);
      reset_basic_info();
    } else if (DEV_PART_MANAGER::exists_part_enum_by_string(device_name.c_str())) {
      const DEV_PART_ENUM part = dstr_get_dev_part_enum_by_string(device_name.c_str());
      if (DEV_PART_MANAGER::device_is_installed(DEV_PART_MANAGER::get_device_of(part), part)) {
        add_part(part);
      }
      if (!m_device_parts_list.empty()) {
        m_selected_device = 0;
        m_selected_part = 0;
        reset_basic_info();
      } else {
        kavu_debug("Error: user selected device \"%s\" is not available", device_name.c_str());
        m_user_family = DEV_FAMILY_INVALID;
      }
    } else {
      kavu_debug("Error: Illegal user selected device name \"%s\"", device_name.c_str());
      m_user_family = DEV_FAMILY_INVALID;
    }
  }
  if (cfg_is_on("kavu_device_debug_dump", false)) dump_device_list();
}

void KAVU_DEVICE_STATE::add_part(int part) {
  KAVU_CHECK(part != DEV_PART_INVALID);
  const DEV_DEVICE_ENUM device = DEV_PART_MANAGER::get_device_of(DEV_PART_ENUM(part));
  KAVU_CHECK(device != DEV_DEVICE_INVALID);
  for (const std::unique_ptr<DEVICE_PARTS>& cur_device_parts : m_device_parts_list) {
    KAVU_CHECK(cur_device_parts != 0);
    if (cur_device_parts->m_device == device) {
      cur_device_parts->m_parts.push_back(part);
      return;
    }
  }
  if (!DEV_PART_MANAGER::device_is_installed(device, DEV_PART_ENUM(part))) {
    KAVU_INTERNAL_ERROR("selected device is not installed");
  }
  m_device_parts_list.push_back(std::make_unique<DEVICE_PARTS>(DEVICE_PARTS{device, {part}}));
}

void KAVU_DEVICE_STATE::build_auto_part_list(HDB_SECTION* chip) {
  const char* filters[4] = {"Any", "Any", "Any", "Any"};
  const int codes[3] = {kPackageFilter, kPinCountFilter, kSpeedGradeFilter};
  for (int i = 0; i < 3; ++i) {
    if (const char* value = chip_setting(chip, codes[i])) filters[i] = value;
  }
  std::vector<DEV_PART_ENUM> parts;
  DEV_PART_MANAGER::filter_part_list(&parts, dstr_get_user_string(m_user_family).c_str(), filters[0],
                                     filters[1], filters[2], true, true);
  for (DEV_PART_ENUM part : parts) add_part(part);
}

void KAVU_DEVICE_STATE::reset_basic_info() {
  KAVU_CHECK(m_basic_info != 0);
  KAVU_CHECK(m_user_family != DEV_FAMILY_INVALID);  // is_legal_family()
  const DEVICE_PARTS* entry = m_device_initialized ? selected_entry() : nullptr;
  if (!entry) {
    DMGR_UTILITY::initialize_basic_info_to(m_basic_info.get(), DEV_DEVICE_NONE);
  } else if (m_selected_part >= 0) {
    DMGR_UTILITY::initialize_basic_info_to(m_basic_info.get(), entry->m_device,
                                           DEV_PART_ENUM(entry->m_parts[m_selected_part]));
  } else {
    DMGR_UTILITY::initialize_basic_info_to(m_basic_info.get(), entry->m_device);
  }
}

bool KAVU_DEVICE_STATE::select(int device_index) {
  const bool inside = device_index >= 0 && device_index < static_cast<int>(m_device_parts_list.size());
  m_selected_device = inside ? device_index : -1;
  m_selected_part = -1;
  reset_basic_info();
  return inside;
}

void KAVU_DEVICE_STATE::dump_device_list() const {
  std::orlind_ofstream out("kavu_device_list.txt");
  out << "# Device & Parts List\n\n";
  for (size_t i = 0; i < m_device_parts_list.size(); ++i) {
    out << "# Device " << i << ":\n";
    const DEVICE_PARTS* entry = m_device_parts_list[i].get();
    if (!entry) {
      out << "DEVICE_PARTS is NULL!";
    } else {
      out << "Name: " << dstr_get_debug_string(entry->m_device) << "\n";
      for (size_t j = 0; j < entry->m_parts.size(); ++j) {
        out << "  Part[" << j << "]: " << dstr_get_debug_string(DEV_PART_ENUM(entry->m_parts[j])) << "\n";
      }
    }
    out << "\n";
  }
}

// ---------------------------------------------------------------- KAVU_DEVICE

KAVU_DEVICE::KAVU_DEVICE(CMP_FACADE* facade) : m_state(new KAVU_DEVICE_STATE) {
  m_state->m_facade = facade;
}

KAVU_DEVICE::KAVU_DEVICE(int part) : m_state(new KAVU_DEVICE_STATE) {
  KAVU_DEVICE_STATE& s = *m_state;
  s.m_family_initialized = true;
  s.m_device_initialized = true;
  s.m_user_family = DEV_PART_MANAGER::get_family_of(DEV_PART_ENUM(part));
  s.m_basic_info.reset(DMGR_UTILITY::create_basic_info(s.m_user_family, DEV_DEVICE_NONE));
  KAVU_CHECK(s.m_basic_info != 0);
  DMGR_UTILITY::initialize_basic_info_to(s.m_basic_info.get(), DEV_DEVICE_NONE, DEV_PART_ENUM(part));
  s.add_part(part);
  s.m_selected_device = 0;
  s.m_selected_part = 0;
  s.m_auto_device = false;
}

KAVU_DEVICE::~KAVU_DEVICE() { delete m_state; }

bool KAVU_DEVICE::is_legal_family() {
  m_state->initialize_family();
  return m_state->m_user_family != DEV_FAMILY_INVALID;
}

bool KAVU_DEVICE::is_legal_device() {
  m_state->initialize_device();
  return m_state->m_selected_device != -1;
}

bool KAVU_DEVICE::is_legal_part() {
  m_state->initialize_device();
  return m_state->m_selected_part != -1;
}

bool KAVU_DEVICE::is_device_info_legal() {
  m_state->initialize_device();
  return m_state->m_user_family != DEV_FAMILY_INVALID;
}

DEV_FAMILY_ENUM KAVU_DEVICE::get_family() {
  m_state->initialize_family();
  return m_state->m_user_family;
}

DEV_DEVICE_ENUM KAVU_DEVICE::get_device() {
  m_state->initialize_device();
  const DEVICE_PARTS* entry = m_state->selected_entry();
  return entry ? entry->m_device : DEV_DEVICE_INVALID;
}

DEV_PART_ENUM KAVU_DEVICE::get_part() {
  m_state->initialize_device();
  const DEVICE_PARTS* entry = m_state->selected_entry();
  if (!entry || m_state->m_selected_part < 0) return DEV_PART_INVALID;
  return DEV_PART_ENUM(entry->m_parts[m_state->m_selected_part]);
}

bool KAVU_DEVICE::is_auto_device() {
  m_state->initialize_device();
  return m_state->m_auto_device;
}

int KAVU_DEVICE::get_num_devices() {
  m_state->initialize_device();
  return static_cast<int>(m_state->m_device_parts_list.size());
}

int KAVU_DEVICE::get_num_parts_for_current_device() {
  KAVU_CHECK(is_legal_device());
  return static_cast<int>(m_state->selected_entry()->m_parts.size());
}

const DEV_BASIC_INFO* KAVU_DEVICE::get_basic_info() {
  m_state->initialize_device();
  KAVU_CHECK(is_legal_family());
  return m_state->m_basic_info.get();
}

int KAVU_DEVICE::get_resource_count(DEV_ELEMENT_ENUM element) {
  KAVU_CHECK(is_legal_device());
  KAVU_CHECK(is_legal_family());
  const DEV_BASIC_INFO* basic_info = m_state->m_basic_info.get();
  KAVU_CHECK(basic_info != 0);
  const DEV_ELEMENT_DESC* desc = basic_info->get_element_by_enum(element);
  if (!desc) return -1;
  if (desc->is_int_data_valid(1) && desc->get_int_data(1) > 0) return desc->get_int_data(1);
  if (desc->is_int_data_valid(2)) return desc->get_int_data(2);
  if (desc->is_int_data_valid(1)) return desc->get_int_data(1);
  return -1;
}

bool KAVU_DEVICE::has_resource(DEV_ELEMENT_ENUM element) {
  m_state->initialize_device();
  KAVU_CHECK(is_legal_family());
  const DEV_BASIC_INFO* basic_info = m_state->m_basic_info.get();
  KAVU_CHECK(basic_info != 0);
  return basic_info->get_element_by_enum(element) != nullptr;
}

DEV_ELEMENT_ENUM KAVU_DEVICE::get_primitive_building_block_type(DEV_ELEMENT_ENUM) {
  KAVU_CHECK(is_legal_device());
  return DEV_ELEMENT_ENUM(0);
}

std::string KAVU_DEVICE::get_family_user_name() {
  KAVU_CHECK(is_legal_family());
  return dstr_get_user_string(m_state->m_user_family);
}

std::string KAVU_DEVICE::get_family_debug_name() {
  KAVU_CHECK(is_legal_family());
  return dstr_get_debug_string(m_state->m_user_family);
}

std::string KAVU_DEVICE::get_device_user_name() {
  KAVU_CHECK(is_legal_device());
  return dstr_get_user_string(get_device());
}

std::string KAVU_DEVICE::get_device_debug_name() {
  KAVU_CHECK(is_legal_device());
  return dstr_get_debug_string(get_device());
}

std::string KAVU_DEVICE::get_part_user_name() {
  KAVU_CHECK(is_legal_part());
  return dstr_get_user_string(get_part());
}

std::string KAVU_DEVICE::get_part_debug_name() {
  KAVU_CHECK(is_legal_part());
  return dstr_get_debug_string(get_part());
}

bool KAVU_DEVICE::select_first_auto_device() {
  KAVU_CHECK(is_auto_device());
  return m_state->select(m_state->m_device_parts_list.empty() ? -1 : 0);
}

bool KAVU_DEVICE::select_last_auto_device() {
  KAVU_CHECK(is_auto_device());
  return m_state->select(static_cast<int>(m_state->m_device_parts_list.size()) - 1);
}

bool KAVU_DEVICE::select_next_auto_device() {
  KAVU_CHECK(is_auto_device());
  KAVU_CHECK(is_legal_device());
  return m_state->select(m_state->m_selected_device + 1);
}

// ---------------------------------------------------------------- free functions

bool kavu_requires_legal_device(CMP_FACADE* facade) {
  KAVU_CHECK(facade != 0);
  if (!is_resource_family(facade->get_base_family())) {
    KAVU_INTERNAL_ERROR("Unknown family for resource-aware synthesis.");
  }
  KAVU_DEVICE device(facade);
  if (device.get_num_devices() > 0) return true;
  HDB_SECTION* default_section = HDB_SECTION::find_section(kDefaultSection, "", facade->get_namespace());
  KAVU_CHECK(default_section);
  HDB_DERIVED_OPTION<ACF_KIND_BOOL, 0>* option =
      default_section->get_single_option<ACF_KIND_BOOL>(kResourceAwareOff);
  return !option || !option->get_value();
}

KAVU_DEVICE* kavu_get_companion_device_for_lumcast(CMP_FACADE* facade) {
  KAVU_CHECK(facade != 0);
  HDB_NAMESPACE* cap = facade->get_namespace();
  KAVU_CHECK(cap != 0);
  HDB_SECTION* chip = HDB_SECTION::get_chip(cap);
  const char* mode = chip_setting(chip, kMigrationMode);
  if (!mode || acf_string_to_enum_type_enum(mode) != kMigrationModeCompanion) return nullptr;
  const char* list = chip_setting(chip, kMigrationList);
  if (!list || std::string(list) == "<None>") return nullptr;

  kavu_debug("DEVICE_TECHNOLOGY_MIGRATION_LIST found. Scanning through the list");
  const std::string text = list;
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t comma = text.find(',', begin);
    if (comma == std::string::npos) comma = text.size();
    // Lists are typed by users as "A, B": the blanks are not part of a name.
    const std::string item = gen_remove_leading_and_trailing_spaces(text.substr(begin, comma - begin));
    begin = comma + 1;
    kavu_debug("  --> selected %s", item.c_str());
    const DEV_PART_ENUM part = dstr_get_dev_part_enum_by_string(item.c_str());
    if (!item.empty() && dstr_exists_dev_part_enum_by_string(item.c_str()) &&
        DEV_PART_MANAGER::device_is_installed(DEV_PART_MANAGER::get_device_of(part), DEV_PART_INVALID)) {
      kavu_debug("  This is the companion device");
      return new KAVU_DEVICE(part);
    }
    kavu_debug("  Skipping %s because it is an illegal/uninstalled part", item.c_str());
  }
  kavu_debug("No companion device found!");
  return nullptr;
}

bool kavu_device_resources_can_be_used(DEV_FAMILY_ENUM family) {
  if (!is_resource_family(family)) KAVU_INTERNAL_ERROR("Unknown family for resource-aware synthesis.");
  return true;
}
