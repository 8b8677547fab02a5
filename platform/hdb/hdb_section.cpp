// hdb_section.cpp — the section registry and the assignments in sections.
//
// Sections are keyed by (namespace id in registration order, type, name) so
// that no lookup depends on addresses, and "the first chip" is the chip of
// the smallest name. Cost: O(log sections) per section lookup.
#include "hdb/hdb_section.h"

#include "msg/msg.h"

#include <map>
#include <memory>
#include <tuple>

struct HDB_SECTION_REGISTRY {
  typedef std::tuple<unsigned, int, std::string> KEY;

  static HDB_SECTION_REGISTRY& get() {
    static HDB_SECTION_REGISTRY s_registry;
    return s_registry;
  }

  // A stable number per namespace, in order of first use.
  unsigned namespace_number(const HDB_NAMESPACE* ns) {
    auto it = m_namespaces.find(ns);
    if (it != m_namespaces.end()) return it->second;
    const unsigned n = static_cast<unsigned>(m_namespaces.size());
    m_namespaces.emplace(ns, n);
    return n;
  }

  HDB_SECTION* find(const HDB_NAMESPACE* ns, int type, const std::string& name, bool create) {
    const KEY key(namespace_number(ns), type, name);
    auto it = m_sections.find(key);
    if (it != m_sections.end()) return it->second.get();
    if (!create) return nullptr;
    HDB_SECTION* s = new HDB_SECTION(const_cast<HDB_NAMESPACE*>(ns), type, name);
    m_sections.emplace(key, std::unique_ptr<HDB_SECTION>(s));
    return s;
  }

  // The chip of the smallest name in `ns`, or null.
  HDB_SECTION* first_chip(const HDB_NAMESPACE* ns) {
    const KEY from(namespace_number(ns), ACF_SECTION_CHIP, std::string());
    auto it = m_sections.lower_bound(from);
    if (it == m_sections.end()) return nullptr;
    if (std::get<0>(it->first) != std::get<0>(from) || std::get<1>(it->first) != ACF_SECTION_CHIP) {
      return nullptr;
    }
    return it->second.get();
  }

  static HDB_ASSIGNMENT* add(HDB_SECTION* section, int variable, const std::string& value,
                             HDB_INSTANCE_NAME* target) {
    HDB_ASSIGNMENT* a = new HDB_ASSIGNMENT;
    a->m_section = section;
    a->m_variable = variable;
    a->m_value = value;
    a->m_target = target;
    section->m_assignments.emplace_back(a);
    return a;
  }

  void clear() {
    m_sections.clear();
    m_namespaces.clear();
  }

  std::map<const HDB_NAMESPACE*, unsigned> m_namespaces;
  std::map<KEY, std::unique_ptr<HDB_SECTION>> m_sections;
};

namespace {
// Made as the layer loads, not at first use: a process that forks while
// another thread makes it would leave its child waiting for it for ever.
[[maybe_unused]] const bool g_section_registry_at_load = (HDB_SECTION_REGISTRY::get(), true);
}  // namespace

HDB_SECTION* HDB_SECTION::find_section(int type, const char* name, const HDB_NAMESPACE* db) {
  const HDB_NAMESPACE* ns = db ? db : kavu_platform::hdb_default_namespace();
  const std::string text = name ? name : "";
  const bool is_default = type == HDB_SECTION_TYPE_DEFAULT && text.empty();
  return HDB_SECTION_REGISTRY::get().find(ns, type, text, is_default);
}

HDB_SECTION* HDB_SECTION::get_chip(const HDB_NAMESPACE* db) {
  const HDB_NAMESPACE* ns = db ? db : kavu_platform::hdb_default_namespace();
  return HDB_SECTION_REGISTRY::get().first_chip(ns);
}

HDB_ASSIGNMENT* HDB_SECTION::find_assignment(int variable, const HDB_INSTANCE_NAME* target) const {
  for (auto it = m_assignments.rbegin(); it != m_assignments.rend(); ++it) {
    if ((*it)->m_variable == variable && (*it)->m_target == target) return it->get();
  }
  return nullptr;
}

std::vector<HDB_ASSIGNMENT*> HDB_SECTION::get_assignments() const {
  std::vector<HDB_ASSIGNMENT*> out;
  out.reserve(m_assignments.size());
  for (const auto& a : m_assignments) out.push_back(a.get());
  return out;
}

// ---------------------------------------------------------------- assignments

HDB_ASSIGNMENT* HDB_ASSIGNMENT::create(HDB_SOURCE_COMPONENT* component, const HDB_CREATE_ASGN_INFO& info) {
  if (!component || !info.m_target) return nullptr;
  HDB_NAMESPACE* ns = info.m_target->get_namespace();
  HDB_SECTION_REGISTRY& registry = HDB_SECTION_REGISTRY::get();
  HDB_SECTION* section = info.m_section_type == ACF_SECTION_CHIP
                             ? registry.first_chip(ns)
                             : registry.find(ns, info.m_section_type, std::string(), true);
  if (!section) return nullptr;
  HDB_ASSIGNMENT* a = HDB_SECTION_REGISTRY::add(section, info.m_variable, info.m_value, info.m_target);
  a->m_path = info.m_path;
  a->m_path_below_top = info.m_path_below_top;
  a->m_component = component;
  return a;
}

void HDB_ASSIGNMENT::set_flag(FLAG_ENUM flag, HDB_NAMESPACE*) {
  PLAT_CHECK(flag >= 0 && flag < 32, "HDB");
  m_flags |= 1u << flag;
}

bool HDB_ASSIGNMENT::test_flag(FLAG_ENUM flag) const {
  PLAT_CHECK(flag >= 0 && flag < 32, "HDB");
  return (m_flags >> flag) & 1u;
}

HDB_OPTION* HDB_ASSIGNMENT::create_option() {
  if (!m_target) return nullptr;
  kavu_platform::hdb_set_option(m_target, m_variable, m_value.c_str());
  // Seen with the variable's own kind: the option store refuses any other.
  switch (acf_variable_kind(m_variable)) {
    case ACF_KIND_BOOL:
      return HDB_DERIVED_OPTION<1, 0>::get_single_option(m_target, m_variable, true);
    case ACF_KIND_INT:
      return HDB_DERIVED_OPTION<4, 0>::get_single_option(m_target, m_variable, true);
    case ACF_KIND_ENUM:
      return HDB_DERIVED_OPTION<6, 0>::get_single_option(m_target, m_variable, true);
    default:
      return HDB_DERIVED_OPTION<2, 0>::get_single_option(m_target, m_variable, true);
  }
}

namespace kavu_platform {

HDB_SECTION* hdb_create_section(HDB_NAMESPACE* ns, int type, const char* name) {
  const HDB_NAMESPACE* target = ns ? ns : hdb_default_namespace();
  return HDB_SECTION_REGISTRY::get().find(target, type, name ? name : "", true);
}

HDB_SECTION* hdb_create_chip(HDB_NAMESPACE* ns, const char* chip_name, const char* device_name) {
  HDB_SECTION* chip = hdb_create_section(ns, ACF_SECTION_CHIP, chip_name);
  chip->get_device()->set_name(device_name);
  return chip;
}

HDB_ASSIGNMENT* hdb_add_section_assignment(HDB_SECTION* section, int variable, const char* value) {
  PLAT_CHECK(section != nullptr, "HDB");
  return HDB_SECTION_REGISTRY::add(section, variable, value ? value : "", nullptr);
}

void hdb_section_reset() { HDB_SECTION_REGISTRY::get().clear(); }

}  // namespace kavu_platform

// ---------------------------------------------------------------- subsections

HDB_SUBSECTION_ITERATOR::HDB_SUBSECTION_ITERATOR(const HDB_SECTION* section, int /*unused*/) {
  PLAT_CHECK(section != nullptr, "HDB");
  if (!section->is_default()) return;
  HDB_SECTION_REGISTRY& reg = HDB_SECTION_REGISTRY::get();
  const unsigned ns = reg.namespace_number(section->get_namespace());
  for (auto& [key, s] : reg.m_sections)
    if (std::get<0>(key) == ns && s.get() != section) m_list.push_back(s.get());
}
