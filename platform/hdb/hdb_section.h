// hdb_section.h — assignment sections of an assignment database.
//
// Model: a section groups the assignments of one kind of the user's
//   settings: (type, name) within one namespace. The default section (type
//   12, empty name) holds the compile's global assignments: its options are
//   the namespace's global options (kavu_platform::hdb_set_option on the
//   namespace, or set_global_assignment lines). The default section exists
//   for every namespace and is made on first request; other sections exist
//   once created with kavu_platform::hdb_create_section and hold no options
//   of their own.
// Sections are process-wide objects, owned by the section registry and kept
//   until the test reset; the namespace is not owned and must outlive them.
// Not thread-safe, like the rest of the name and assignment database.
#pragma once

#include <string>

#include "hdb/hdb.h"

enum HDB_SECTION_TYPE : int {
  HDB_SECTION_TYPE_DEFAULT = 12,  // the compile's global assignments
};

class HDB_SECTION {
 public:
  HDB_SECTION(const HDB_SECTION&) = delete;
  HDB_SECTION& operator=(const HDB_SECTION&) = delete;

  // The section of that type and name in `db` (the default namespace when
  // null); null when there is none. A null name is the empty name.
  static HDB_SECTION* find_section(int type, const char* name, const HDB_NAMESPACE* db = nullptr);

  int get_type() const { return m_type; }
  const std::string& get_name() const { return m_name; }
  HDB_NAMESPACE* get_namespace() const { return m_namespace; }
  bool is_default() const { return m_type == HDB_SECTION_TYPE_DEFAULT && m_name.empty(); }

  // The section's option of that variable read as kind KIND (null when
  // absent); the objects belong to the option store.
  template <int KIND>
  HDB_DERIVED_OPTION<KIND, 0>* get_single_option(int variable) const {
    if (!is_default()) return nullptr;
    return HDB_DERIVED_OPTION<KIND, 0>::get_single_option(m_namespace, variable, true);
  }

 private:
  friend struct HDB_SECTION_REGISTRY;
  HDB_SECTION(HDB_NAMESPACE* ns, int type, std::string name)
      : m_namespace(ns), m_type(type), m_name(std::move(name)) {}

  HDB_NAMESPACE* m_namespace;
  int m_type;
  std::string m_name;
};

namespace kavu_platform {
// Creates (or returns) the section of that type and name in `ns` (the
// default namespace when null).
HDB_SECTION* hdb_create_section(HDB_NAMESPACE* ns, int type, const char* name);
// Forgets every section (called by plat_test_reset_all).
void hdb_section_reset();
}  // namespace kavu_platform
