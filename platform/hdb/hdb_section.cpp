// hdb_section.cpp — the section registry.
//
// Sections are keyed by (namespace id in registration order, type, name) so
// that no lookup depends on addresses. Cost: O(log sections) per lookup.
#include "hdb/hdb_section.h"

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

  void clear() {
    m_sections.clear();
    m_namespaces.clear();
  }

  std::map<const HDB_NAMESPACE*, unsigned> m_namespaces;
  std::map<KEY, std::unique_ptr<HDB_SECTION>> m_sections;
};

HDB_SECTION* HDB_SECTION::find_section(int type, const char* name, const HDB_NAMESPACE* db) {
  const HDB_NAMESPACE* ns = db ? db : kavu_platform::hdb_default_namespace();
  const std::string text = name ? name : "";
  const bool is_default = type == HDB_SECTION_TYPE_DEFAULT && text.empty();
  return HDB_SECTION_REGISTRY::get().find(ns, type, text, is_default);
}

namespace kavu_platform {

HDB_SECTION* hdb_create_section(HDB_NAMESPACE* ns, int type, const char* name) {
  const HDB_NAMESPACE* target = ns ? ns : hdb_default_namespace();
  return HDB_SECTION_REGISTRY::get().find(target, type, name ? name : "", true);
}

void hdb_section_reset() { HDB_SECTION_REGISTRY::get().clear(); }

}  // namespace kavu_platform
