// dev.cpp — the installed device catalogue, its indexes, the managers and
// the name functions.
//
// The catalogue is kept with three code → row maps built at install time,
// so that lookups never depend on table order beyond the documented
// catalogue order of filter_part_list. The built-in table is small and
// fixed: its names and counts are what tests pin.
#include "dev/dev.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

#include "msg/msg.h"

using kavu_platform::DEV_CATALOGUE;
using kavu_platform::DEV_DEVICE_ROW;
using kavu_platform::DEV_FAMILY_ROW;
using kavu_platform::DEV_PART_ROW;

namespace {

struct INSTALLED {
  DEV_CATALOGUE catalogue;
  std::map<int, size_t> families;
  std::map<int, size_t> devices;
  std::map<int, size_t> parts;
};

INSTALLED& installed();

template <class ROW>
const ROW* find_row(const std::vector<ROW>& rows, const std::map<int, size_t>& index, int code) {
  auto it = index.find(code);
  return it == index.end() ? nullptr : &rows[it->second];
}

const DEV_FAMILY_ROW* family_row(int code) {
  const INSTALLED& in = installed();
  return find_row(in.catalogue.families, in.families, code);
}
const DEV_DEVICE_ROW* device_row(int code) {
  const INSTALLED& in = installed();
  return find_row(in.catalogue.devices, in.devices, code);
}
const DEV_PART_ROW* part_row(int code) {
  const INSTALLED& in = installed();
  return find_row(in.catalogue.parts, in.parts, code);
}

std::string debug_form(const std::string& name) {
  std::string s = name;
  for (char& c : s) c = c == ' ' ? '_' : char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool same_name(const std::string& row_name, const char* name) {
  return strcasecmp(row_name.c_str(), name) == 0 || strcasecmp(debug_form(row_name).c_str(), name) == 0;
}

template <class ROW>
const ROW* find_by_name(const std::vector<ROW>& rows, const char* name) {
  if (!name || !*name) return nullptr;
  for (const ROW& r : rows) {
    if (same_name(r.name, name)) return &r;
  }
  return nullptr;
}

bool filter_is_any(const char* f) { return !f || !*f || strcasecmp(f, "Any") == 0; }

// ---------------------------------------------------------------- built-in table

void add_family(DEV_CATALOGUE& c, int code, const char* name, int base, int companion, int lut,
                std::vector<int> traits) {
  DEV_FAMILY_ROW f;
  f.code = code;
  f.name = name ? name : "Family" + std::to_string(code);
  f.base_family = base;
  f.companion = companion;
  f.lut_size = lut;
  f.new_ddb = base != 0;
  f.traits = std::move(traits);
  c.families.push_back(std::move(f));
}

// A device with its resources and parts: one part per (package, speed).
void add_device(DEV_CATALOGUE& c, int code, const char* name, int family, bool installed_flag,
                int luts, int rams, int macs, int pins, std::vector<std::pair<const char*, int>> parts) {
  DEV_DEVICE_ROW d;
  d.code = code;
  d.name = name;
  d.family = family;
  d.installed = installed_flag;
  d.elements = {{DEV_ELEMENT_LUT, luts, true, 0, false},
                {DEV_ELEMENT_REGISTER, 2 * luts, true, 0, false},
                {DEV_ELEMENT_RAM_BLOCK, rams, true, rams / 2, rams > 0},
                {DEV_ELEMENT_MAC_BLOCK, macs, true, 0, false},
                {DEV_ELEMENT_PIN, pins, true, 0, false}};
  c.devices.push_back(std::move(d));
  int n = 1;
  for (const auto& [package, speed] : parts) {
    DEV_PART_ROW p;
    p.code = code * 10 + n++;
    p.device = code;
    p.package = package;
    p.pin_count = std::atoi(package + 1);
    p.speed_grade = speed;
    p.name = std::string(name) + package + "C" + std::to_string(speed);
    p.traits = {speed == 6 ? 200 : 201};
    c.parts.push_back(std::move(p));
  }
}

void set_auto_default(DEV_CATALOGUE& c, int family, int part) {
  for (DEV_FAMILY_ROW& f : c.families) {
    if (f.code == family) f.auto_default_part = part;
  }
}

void check_catalogue(const DEV_CATALOGUE& c, INSTALLED& out) {
  for (size_t i = 0; i < c.families.size(); ++i) {
    PLAT_CHECK(out.families.emplace(c.families[i].code, i).second, "PLATFORM");
  }
  for (size_t i = 0; i < c.devices.size(); ++i) {
    const DEV_DEVICE_ROW& d = c.devices[i];
    PLAT_CHECK(d.code != DEV_DEVICE_INVALID, "PLATFORM");
    PLAT_CHECK(out.devices.emplace(d.code, i).second, "PLATFORM");
    PLAT_CHECK(d.family == 0 || out.families.count(d.family) == 1, "PLATFORM");
  }
  for (size_t i = 0; i < c.parts.size(); ++i) {
    const DEV_PART_ROW& p = c.parts[i];
    PLAT_CHECK(p.code != DEV_PART_INVALID, "PLATFORM");
    PLAT_CHECK(out.parts.emplace(p.code, i).second, "PLATFORM");
    PLAT_CHECK(out.devices.count(p.device) == 1, "PLATFORM");
  }
  std::vector<std::string> names;
  for (const DEV_DEVICE_ROW& d : c.devices) names.push_back(debug_form(d.name));
  std::sort(names.begin(), names.end());
  PLAT_CHECK(std::adjacent_find(names.begin(), names.end()) == names.end(), "PLATFORM");
  names.clear();
  for (const DEV_PART_ROW& p : c.parts) names.push_back(debug_form(p.name));
  std::sort(names.begin(), names.end());
  PLAT_CHECK(std::adjacent_find(names.begin(), names.end()) == names.end(), "PLATFORM");
}

INSTALLED& installed() {
  static INSTALLED* s_installed = [] {
    INSTALLED* in = new INSTALLED;
    in->catalogue = kavu_platform::dev_builtin_catalogue();
    check_catalogue(in->catalogue, *in);
    return in;
  }();
  return *s_installed;
}
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_catalogue_at_load = (installed(), true);

}  // namespace

// ---------------------------------------------------------------- elements and basic information

bool DEV_ELEMENT_DESC::is_int_data_valid(int which) const {
  PLAT_CHECK(which == 1 || which == 2, "PLATFORM");
  return m_valid[which - 1];
}

int DEV_ELEMENT_DESC::get_int_data(int which) const {
  PLAT_CHECK(which == 1 || which == 2, "PLATFORM");
  return m_valid[which - 1] ? m_data[which - 1] : 0;
}

const DEV_ELEMENT_DESC* DEV_BASIC_INFO::get_element_by_enum(DEV_ELEMENT_ENUM kind) const {
  for (const DEV_ELEMENT_DESC& e : m_elements) {
    if (e.get_element_enum() == kind) return &e;
  }
  return nullptr;
}

DEV_BASIC_INFO* DMGR_UTILITY::create_basic_info(DEV_FAMILY_ENUM family, DEV_DEVICE_ENUM device) {
  if (!family_row(family)) return nullptr;
  DEV_BASIC_INFO* info = new DEV_BASIC_INFO(family);
  initialize_basic_info_to(info, device);
  return info;
}

void DMGR_UTILITY::initialize_basic_info_to(DEV_BASIC_INFO* info, DEV_DEVICE_ENUM device,
                                            DEV_PART_ENUM part) {
  PLAT_CHECK(info != nullptr, "PLATFORM");
  if (part != DEV_PART_INVALID) {
    const DEV_PART_ROW* p = part_row(part);
    PLAT_CHECK(p != nullptr, "PLATFORM");
    device = DEV_DEVICE_ENUM(p->device);
  }
  info->m_elements.clear();
  info->m_device = device;
  info->m_part = part;
  if (device == DEV_DEVICE_NONE) return;
  const DEV_DEVICE_ROW* d = device_row(device);
  PLAT_CHECK(d != nullptr, "PLATFORM");
  PLAT_CHECK(d->family == info->m_family, "PLATFORM");
  for (const kavu_platform::DEV_ELEMENT_ROW& e : d->elements) {
    info->m_elements.emplace_back(e.kind, e.datum1, e.valid1, e.datum2, e.valid2);
  }
}

// ---------------------------------------------------------------- managers

bool DEV_FAMILY_MANAGER::family_exists(DEV_FAMILY_ENUM family) { return family_row(family) != nullptr; }

bool DEV_FAMILY_MANAGER::has_new_ddb_support(DEV_FAMILY_ENUM family) {
  const DEV_FAMILY_ROW* f = family_row(family);
  return f && f->new_ddb;
}

DEV_PART_ENUM DEV_FAMILY_MANAGER::get_auto_default_part_of(DEV_FAMILY_ENUM family) {
  const DEV_FAMILY_ROW* f = family_row(family);
  return f ? DEV_PART_ENUM(f->auto_default_part) : DEV_PART_INVALID;
}

bool DEV_FAMILY_MANAGER::test_trait_of(DEV_FAMILY_ENUM family, int trait) {
  const DEV_FAMILY_ROW* f = family_row(family);
  return f && std::find(f->traits.begin(), f->traits.end(), trait) != f->traits.end();
}

DEV_FAMILY_ENUM DEV_FAMILY_MANAGER::get_base_family(DEV_FAMILY_ENUM family) {
  const DEV_FAMILY_ROW* f = family_row(family);
  return f ? DEV_FAMILY_ENUM(f->base_family) : DEV_FAMILY_NONE;
}

DEV_FAMILY_ENUM DEV_FAMILY_MANAGER::get_lumcast_companion_of(DEV_FAMILY_ENUM family) {
  const DEV_FAMILY_ROW* f = family_row(family);
  return f ? DEV_FAMILY_ENUM(f->companion) : DEV_FAMILY_NONE;
}

int DEV_FAMILY_MANAGER::get_lut_size(DEV_FAMILY_ENUM family) {
  const DEV_FAMILY_ROW* f = family_row(family);
  return f ? f->lut_size : 0;
}

DEV_FAMILY_ENUM DEV_PART_MANAGER::get_family_of(DEV_PART_ENUM part) {
  const DEV_PART_ROW* p = part_row(part);
  const DEV_DEVICE_ROW* d = p ? device_row(p->device) : nullptr;
  return d ? DEV_FAMILY_ENUM(d->family) : DEV_FAMILY_NONE;
}

DEV_DEVICE_ENUM DEV_PART_MANAGER::get_device_of(DEV_PART_ENUM part) {
  const DEV_PART_ROW* p = part_row(part);
  return p ? DEV_DEVICE_ENUM(p->device) : DEV_DEVICE_INVALID;
}

bool DEV_PART_MANAGER::device_is_installed(DEV_DEVICE_ENUM device, DEV_PART_ENUM part) {
  const DEV_DEVICE_ROW* d = device_row(device);
  if (!d || !d->installed) return false;
  if (part == DEV_PART_INVALID) return true;
  const DEV_PART_ROW* p = part_row(part);
  return p && p->device == device;
}

bool DEV_PART_MANAGER::exists_part_enum_by_string(const char* name) {
  return dstr_exists_dev_part_enum_by_string(name);
}

void DEV_PART_MANAGER::filter_part_list(std::vector<DEV_PART_ENUM>* parts, const char* family_user_name,
                                        const char* package, const char* pin_count,
                                        const char* speed_grade, bool installed_only, bool) {
  PLAT_CHECK(parts != nullptr, "PLATFORM");
  const DEV_FAMILY_ROW* f = find_by_name(installed().catalogue.families, family_user_name);
  if (!f) return;
  for (const DEV_PART_ROW& p : installed().catalogue.parts) {
    const DEV_DEVICE_ROW* d = device_row(p.device);
    if (d->family != f->code || (installed_only && !d->installed)) continue;
    if (!filter_is_any(package) && strcasecmp(package, p.package.c_str()) != 0) continue;
    if (!filter_is_any(pin_count) && std::atoi(pin_count) != p.pin_count) continue;
    if (!filter_is_any(speed_grade) && std::atoi(speed_grade) != p.speed_grade) continue;
    parts->push_back(DEV_PART_ENUM(p.code));
  }
}

bool DEV_PART_MANAGER::test_part_trait_of(DEV_PART_ENUM part, int trait) {
  const DEV_PART_ROW* p = part_row(part);
  return p && std::find(p->traits.begin(), p->traits.end(), trait) != p->traits.end();
}

std::string DEV_PART_MANAGER::get_package_of(DEV_PART_ENUM part) {
  const DEV_PART_ROW* p = part_row(part);
  return p ? p->package : std::string();
}

int DEV_PART_MANAGER::get_pin_count_of(DEV_PART_ENUM part) {
  const DEV_PART_ROW* p = part_row(part);
  return p ? p->pin_count : 0;
}

int DEV_PART_MANAGER::get_speed_grade_of(DEV_PART_ENUM part) {
  const DEV_PART_ROW* p = part_row(part);
  return p ? p->speed_grade : 0;
}

// ---------------------------------------------------------------- names

std::string dstr_get_user_string(DEV_FAMILY_ENUM family) {
  const DEV_FAMILY_ROW* f = family_row(family);
  return f ? f->name : std::string();
}
std::string dstr_get_debug_string(DEV_FAMILY_ENUM family) { return debug_form(dstr_get_user_string(family)); }
std::string dstr_get_user_string(DEV_DEVICE_ENUM device) {
  const DEV_DEVICE_ROW* d = device_row(device);
  return d ? d->name : std::string();
}
std::string dstr_get_debug_string(DEV_DEVICE_ENUM device) { return debug_form(dstr_get_user_string(device)); }
std::string dstr_get_user_string(DEV_PART_ENUM part) {
  const DEV_PART_ROW* p = part_row(part);
  return p ? p->name : std::string();
}
std::string dstr_get_debug_string(DEV_PART_ENUM part) { return debug_form(dstr_get_user_string(part)); }

bool dstr_exists_dev_family_enum_by_string(const char* name) {
  return find_by_name(installed().catalogue.families, name) != nullptr;
}
DEV_FAMILY_ENUM dstr_get_dev_family_enum_by_string(const char* name) {
  const DEV_FAMILY_ROW* f = find_by_name(installed().catalogue.families, name);
  return f ? DEV_FAMILY_ENUM(f->code) : DEV_FAMILY_INVALID;
}
bool dstr_exists_dev_device_enum_by_string(const char* name) {
  return find_by_name(installed().catalogue.devices, name) != nullptr;
}
DEV_DEVICE_ENUM dstr_get_dev_device_enum_by_string(const char* name) {
  const DEV_DEVICE_ROW* d = find_by_name(installed().catalogue.devices, name);
  return d ? DEV_DEVICE_ENUM(d->code) : DEV_DEVICE_INVALID;
}
bool dstr_exists_dev_part_enum_by_string(const char* name) {
  return find_by_name(installed().catalogue.parts, name) != nullptr;
}
DEV_PART_ENUM dstr_get_dev_part_enum_by_string(const char* name) {
  const DEV_PART_ROW* p = find_by_name(installed().catalogue.parts, name);
  return p ? DEV_PART_ENUM(p->code) : DEV_PART_INVALID;
}

bool dstr_is_valid_family(DEV_FAMILY_ENUM family) { return family_row(family) != nullptr; }
bool dstr_is_valid_device(DEV_DEVICE_ENUM device) { return device_row(device) != nullptr; }
bool dstr_is_valid_part(DEV_PART_ENUM part) { return part_row(part) != nullptr; }

// ---------------------------------------------------------------- catalogue install

namespace kavu_platform {

DEV_CATALOGUE dev_builtin_catalogue() {
  DEV_CATALOGUE c;
  // Families by code; the four base families name themselves as base.
  add_family(c, 3, "Unknown", 0, 0, 0, {});
  const int plain[] = {6, 7, 14, 17, 50, 53, 60, 61, 66, 68};
  for (int code : plain) {
    const int companion = code == 6 ? 34 : (code == 7 || code == 60) ? 36 : code == 61 ? 35 : 0;
    add_family(c, code, nullptr, 0, companion, 6, {});
  }
  add_family(c, 8, nullptr, 15, 0, 6, {28});
  add_family(c, 9, nullptr, 15, 0, 6, {28});
  add_family(c, 15, "Brae", 15, 0, 6, {28, 135});
  add_family(c, 19, nullptr, 47, 0, 6, {28});
  add_family(c, 25, "Quellin", 25, 0, 6, {28, 31});
  for (int code : {34, 35, 36}) add_family(c, code, nullptr, 0, 0, 4, {31});
  add_family(c, 45, "Harrowdale", 45, 0, 6, {31, 135});
  add_family(c, 47, "Brae II", 47, 0, 6, {28, 31, 135});
  add_family(c, 54, nullptr, 45, 0, 6, {135});
  add_family(c, 57, nullptr, 25, 0, 6, {28});
  add_family(c, 62, nullptr, 25, 0, 6, {});
  std::sort(c.families.begin(), c.families.end(),
            [](const DEV_FAMILY_ROW& a, const DEV_FAMILY_ROW& b) { return a.code < b.code; });

  DEV_DEVICE_ROW none;
  none.code = DEV_DEVICE_NONE;
  none.name = "NONE";
  c.devices.push_back(none);
  add_device(c, 1501, "BRA10", 15, true, 10000, 40, 20, 256, {{"F256", 6}, {"F484", 6}, {"F484", 7}});
  add_device(c, 1502, "BRA25", 15, true, 25000, 100, 50, 484, {{"F484", 6}, {"F672", 7}});
  add_device(c, 1503, "BRA50", 15, true, 50000, 200, 100, 672, {{"F672", 6}, {"F896", 6}});
  add_device(c, 2501, "QLN30", 25, true, 30000, 120, 60, 484, {{"F484", 6}, {"F484", 7}});
  add_device(c, 2502, "QLN60", 25, true, 60000, 240, 120, 672, {{"F672", 6}, {"F896", 7}});
  add_device(c, 2503, "QLN90", 25, true, 90000, 360, 180, 896, {{"F896", 6}, {"F1152", 6}});
  add_device(c, 4501, "HRD12", 45, true, 12000, 0, 24, 256, {{"F256", 6}, {"F484", 7}});
  add_device(c, 4502, "HRD24", 45, true, 24000, 96, 48, 484, {{"F484", 6}, {"F672", 6}});
  add_device(c, 4503, "HRD48", 45, true, 48000, 192, 96, 672, {{"F672", 6}, {"F896", 7}});
  add_device(c, 4504, "HRD96", 45, false, 96000, 384, 192, 896, {{"F896", 6}, {"F1152", 7}});
  add_device(c, 4701, "BRB20", 47, true, 20000, 80, 40, 484, {{"F484", 6}, {"F672", 7}});
  add_device(c, 4702, "BRB40", 47, true, 40000, 160, 80, 672, {{"F672", 6}, {"F896", 6}});
  add_device(c, 4703, "BRB80", 47, true, 80000, 320, 160, 896, {{"F896", 6}, {"F1152", 7}});
  add_device(c, 3401, "LMC34A", 34, true, 20000, 40, 10, 484, {{"F484", 6}, {"F672", 6}});
  add_device(c, 3501, "LMC35A", 35, true, 30000, 60, 20, 672, {{"F672", 6}, {"F896", 6}});
  add_device(c, 3601, "LMC36A", 36, true, 40000, 80, 30, 896, {{"F896", 6}, {"F1152", 6}});
  add_device(c, 3602, "LMC36B", 36, false, 80000, 160, 60, 1152, {{"F1152", 6}, {"F1517", 6}});
  set_auto_default(c, 15, 15011);
  set_auto_default(c, 45, 45021);
  set_auto_default(c, 47, 47011);
  return c;
}

void dev_install_catalogue(const DEV_CATALOGUE& catalogue) {
  // Check into a fresh index first, so a rejected catalogue leaves the
  // installed one untouched.
  INSTALLED fresh;
  check_catalogue(catalogue, fresh);
  fresh.catalogue = catalogue;
  installed() = std::move(fresh);
}

const DEV_CATALOGUE& dev_installed_catalogue() { return installed().catalogue; }

void dev_test_reset() { dev_install_catalogue(dev_builtin_catalogue()); }

}  // namespace kavu_platform
