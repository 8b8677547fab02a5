// Role: device catalogue (docs/platform.md, "Device catalogue").
// dev.h — the device catalogue: families, devices and parts, their names,
// traits and resource counts.
//
// Model: one table (DEV_CATALOGUE) of families, devices and parts. A family
//   has a code, a name, a base family (the family whose architecture it
//   shares: 15, 25, 45 or 47, or none), a structured-ASIC companion, a LUT
//   size, a new-database flag, trait numbers and an optional default part
//   for AUTO device selection. A device belongs to one family, may be
//   installed or not, and has resource elements (LUTs, registers, RAM
//   blocks, MAC blocks, pins), each with two integer data of which either
//   may be absent. A part belongs to one device and has a package, a pin
//   count, a speed grade and traits. Device 859 is the "none" device: basic
//   information positioned on it has no elements.
// The managers and name functions below read the installed catalogue. The
//   built-in catalogue is installed at load; tests may install another one
//   (kavu_platform::dev_install_catalogue) and the test reset restores the
//   built-in one.
// Invariants of an installed catalogue: codes are unique within families,
//   devices and parts; names are unique within devices and within parts;
//   every device names an existing family and every part an existing
//   device. Installing a catalogue that breaks one is an internal error.
// Name lookups compare without case. Cost: lookups by code are O(log n),
//   by name O(n) over a table of a few dozen rows.
// Not thread-safe to install; reading is safe while nothing installs.
#pragma once

#include <string>
#include <vector>

// Device family codes of the device database. Only the numbers matter to
// the library; the catalogue gives them names. 0 is no (or no legal) family.
enum DEV_FAMILY_ENUM : int {
  DEV_FAMILY_NONE = 0,
  DEV_FAMILY_INVALID = 0,
  DEV_FAMILY_UNKNOWN = 3,
};

enum DEV_DEVICE_ENUM : int {
  DEV_DEVICE_INVALID = 0,
  DEV_DEVICE_NONE = 859,  // "no device selected": no resource elements
};

enum DEV_PART_ENUM : int {
  DEV_PART_INVALID = 0,
  DEV_PART_GENERIC = 1,
};

// Resource element kinds of a device.
enum DEV_ELEMENT_ENUM : int {
  DEV_ELEMENT_LUT = 1,
  DEV_ELEMENT_REGISTER = 2,
  DEV_ELEMENT_RAM_BLOCK = 3,
  DEV_ELEMENT_MAC_BLOCK = 4,
  DEV_ELEMENT_PIN = 5,
};

// One resource element of a device: integer datum 1 (the count) and datum 2
// (a second count, e.g. the count in another mode); each may be absent.
class DEV_ELEMENT_DESC {
 public:
  DEV_ELEMENT_DESC(DEV_ELEMENT_ENUM kind, int datum1, bool valid1, int datum2, bool valid2)
      : m_kind(kind), m_data{datum1, datum2}, m_valid{valid1, valid2} {}
  DEV_ELEMENT_ENUM get_element_enum() const { return m_kind; }
  // which is 1 or 2; any other index is an internal error.
  bool is_int_data_valid(int which) const;
  // The datum (0 when absent).
  int get_int_data(int which) const;

 private:
  DEV_ELEMENT_ENUM m_kind;
  int m_data[2];
  bool m_valid[2];
};

// The device database's view of one family, positioned on a device or a
// part of it (or on the "none" device).
class DEV_BASIC_INFO {
 public:
  explicit DEV_BASIC_INFO(DEV_FAMILY_ENUM family) : m_family(family) {}
  DEV_FAMILY_ENUM get_family() const { return m_family; }
  DEV_DEVICE_ENUM get_device() const { return m_device; }
  DEV_PART_ENUM get_part() const { return m_part; }
  // The element of that kind of the device positioned on, or null (none on
  // the "none" device). The object lives as long as the information or
  // until it is positioned again.
  const DEV_ELEMENT_DESC* get_element_by_enum(DEV_ELEMENT_ENUM kind) const;

 private:
  friend class DMGR_UTILITY;
  DEV_FAMILY_ENUM m_family;
  DEV_DEVICE_ENUM m_device = DEV_DEVICE_NONE;
  DEV_PART_ENUM m_part = DEV_PART_INVALID;
  std::vector<DEV_ELEMENT_DESC> m_elements;
};

class DMGR_UTILITY {
 public:
  // New basic information (the caller deletes it) for the family,
  // positioned on `device`; null when the family is not in the catalogue.
  static DEV_BASIC_INFO* create_basic_info(DEV_FAMILY_ENUM family, DEV_DEVICE_ENUM device);
  // Positions the information on the part (when not DEV_PART_INVALID; its
  // device is then taken from the part) or else on the device. A device or
  // part of another family, or an unknown one, is an internal error.
  static void initialize_basic_info_to(DEV_BASIC_INFO* info, DEV_DEVICE_ENUM device,
                                       DEV_PART_ENUM part = DEV_PART_INVALID);
  // Device timing for the estimators (ssc/tervo.h): selects the part's
  // device (an unknown part is an internal error), loads its timing for the
  // models, and makes the family's typical device. The stand-in records
  // the calls (kavu_platform::dmgr_timing_load_count and
  // dmgr_typical_device_count).
  static void create_device(int part);
  static void load_timing_info_for_model(int dat_timing_models);
  static void create_typical_device(DEV_FAMILY_ENUM family);
};

class DEV_FAMILY_MANAGER {
 public:
  static bool family_exists(DEV_FAMILY_ENUM family);
  // Whether the family has the device database's new-style support.
  static bool has_new_ddb_support(DEV_FAMILY_ENUM family);
  // The part AUTO device selection uses, or DEV_PART_INVALID.
  static DEV_PART_ENUM get_auto_default_part_of(DEV_FAMILY_ENUM family);
  static bool test_trait_of(DEV_FAMILY_ENUM family, int trait);
  // The base family, DEV_FAMILY_NONE for a family without one or unknown.
  static DEV_FAMILY_ENUM get_base_family(DEV_FAMILY_ENUM family);
  // The structured-ASIC companion family, or DEV_FAMILY_NONE.
  static DEV_FAMILY_ENUM get_lumcast_companion_of(DEV_FAMILY_ENUM family);
  // Inputs of the family's LUT (0 for an unknown family).
  static int get_lut_size(DEV_FAMILY_ENUM family);
};

class DEV_PART_MANAGER {
 public:
  // DEV_FAMILY_NONE / DEV_DEVICE_INVALID for an unknown part.
  static DEV_FAMILY_ENUM get_family_of(DEV_PART_ENUM part);
  static DEV_DEVICE_ENUM get_device_of(DEV_PART_ENUM part);
  // Whether the device is installed; with a part, also that the part
  // belongs to the device. Unknown devices are not installed.
  static bool device_is_installed(DEV_DEVICE_ENUM device, DEV_PART_ENUM part);
  static bool exists_part_enum_by_string(const char* name);
  // Appends to *parts the parts of the family (named by its user name) whose
  // package, pin count and speed grade match the filters, in catalogue
  // order. A filter "Any" (or empty) matches everything; otherwise the
  // package and speed grade compare as text without case and the pin count
  // as a number. With installed_only, parts of devices that are not
  // installed are left out. The last argument is accepted and ignored.
  static void filter_part_list(std::vector<DEV_PART_ENUM>* parts, const char* family_user_name,
                               const char* package, const char* pin_count, const char* speed_grade,
                               bool installed_only, bool unused);
  static bool test_part_trait_of(DEV_PART_ENUM part, int trait);
  // "" and 0 for an unknown part.
  static std::string get_package_of(DEV_PART_ENUM part);
  static int get_pin_count_of(DEV_PART_ENUM part);
  static int get_speed_grade_of(DEV_PART_ENUM part);
};

// Names. User strings are the catalogue names ("Brae II"); debug strings are
// upper case with blanks as '_' ("BRAE_II"). Unknown codes give "".
std::string dstr_get_user_string(DEV_FAMILY_ENUM family);
std::string dstr_get_debug_string(DEV_FAMILY_ENUM family);
std::string dstr_get_user_string(DEV_DEVICE_ENUM device);
std::string dstr_get_debug_string(DEV_DEVICE_ENUM device);
std::string dstr_get_user_string(DEV_PART_ENUM part);
std::string dstr_get_debug_string(DEV_PART_ENUM part);
// By-name lookups (user or debug name, without case); the getters give the
// invalid code for an unknown name.
bool dstr_exists_dev_family_enum_by_string(const char* name);
DEV_FAMILY_ENUM dstr_get_dev_family_enum_by_string(const char* name);
bool dstr_exists_dev_device_enum_by_string(const char* name);
DEV_DEVICE_ENUM dstr_get_dev_device_enum_by_string(const char* name);
bool dstr_exists_dev_part_enum_by_string(const char* name);
DEV_PART_ENUM dstr_get_dev_part_enum_by_string(const char* name);
// Whether the code is in the catalogue.
bool dstr_is_valid_family(DEV_FAMILY_ENUM family);
bool dstr_is_valid_device(DEV_DEVICE_ENUM device);
bool dstr_is_valid_part(DEV_PART_ENUM part);

namespace kavu_platform {

struct DEV_FAMILY_ROW {
  int code = 0;
  std::string name;
  int base_family = 0;     // 0: none
  int companion = 0;       // structured-ASIC companion, 0: none
  int lut_size = 6;
  bool new_ddb = false;
  std::vector<int> traits;
  int auto_default_part = 0;  // DEV_PART_INVALID: none
};

struct DEV_ELEMENT_ROW {
  DEV_ELEMENT_ENUM kind = DEV_ELEMENT_LUT;
  int datum1 = 0;
  bool valid1 = true;
  int datum2 = 0;
  bool valid2 = false;
};

struct DEV_DEVICE_ROW {
  int code = 0;
  std::string name;
  int family = 0;
  bool installed = true;
  std::vector<DEV_ELEMENT_ROW> elements;
};

struct DEV_PART_ROW {
  int code = 0;
  std::string name;
  int device = 0;
  std::string package;
  int pin_count = 0;
  int speed_grade = 0;
  std::vector<int> traits;
};

struct DEV_CATALOGUE {
  std::vector<DEV_FAMILY_ROW> families;
  std::vector<DEV_DEVICE_ROW> devices;
  std::vector<DEV_PART_ROW> parts;
};

// The built-in catalogue: families 3, 6, 7, 8, 9, 14, 15, 17, 19, 25, 34,
// 35, 36, 45, 47, 50, 53, 54, 57, 60, 61, 62, 66, 68; three or four devices
// per base family and one per structured-ASIC family, two or three parts
// per device; device 859.
DEV_CATALOGUE dev_builtin_catalogue();
// Replaces the installed catalogue (checked, see the invariants above).
void dev_install_catalogue(const DEV_CATALOGUE& catalogue);
// The installed catalogue.
const DEV_CATALOGUE& dev_installed_catalogue();
// Installs the built-in catalogue (called by plat_test_reset_all).
void dev_test_reset();

}  // namespace kavu_platform
