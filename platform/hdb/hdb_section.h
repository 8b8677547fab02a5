// Role: names and assignments
// (docs/platform.md, "Name layer"; see also "Options, sections and types").
// hdb_section.h — assignment sections of an assignment database and the
// assignments kept in them.
//
// Model: a section groups the assignments of one kind of the user's
//   settings: (type, name) within one namespace. The default section (type
//   12, empty name) holds the compile's global assignments: its options are
//   the namespace's global options (kavu_platform::hdb_set_option on the
//   namespace, or set_global_assignment lines). The default section exists
//   for every namespace and is made on first request; other sections exist
//   once created with kavu_platform::hdb_create_section (chips with
//   kavu_platform::hdb_create_chip) or when an assignment is created in
//   them.
// An assignment (HDB_ASSIGNMENT) is a variable with a value text, kept in
//   one section, either on an instance name (its target) or on the section
//   itself (no target). A source component creates assignments on names
//   from an HDB_CREATE_ASGN_INFO; an assignment can then make the matching
//   option on its target, which the option lookups of hdb.h read.
// A chip section stands for one device of the compile: it carries the
//   device (HDB_DEVICE, whose name is a part name or "AUTO") and its device
//   settings as section assignments.
// Sections and assignments are process-wide objects, owned by the section
//   registry and kept until the test reset; the namespace and target names
//   are not owned and must outlive them.
// Cost: section lookup O(log sections); assignment lookup linear in the
//   section's assignments (a handful per section in practice).
// Not thread-safe, like the rest of the name and assignment database.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hdb/hdb.h"

enum HDB_SECTION_TYPE : int {
  HDB_SECTION_TYPE_DEFAULT = 12,  // the compile's global assignments
};

class HDB_ASSIGNMENT;
class HDB_SECTION;

// What a source component needs to create an assignment on an instance name.
struct HDB_CREATE_ASGN_INFO {
  HDB_CREATE_ASGN_INFO(ACF_SECTION_TYPE_ENUM section, ACF_VARIABLE_TYPE_ENUM variable,
                       std::string path, HDB_INSTANCE_NAME* target, std::string value,
                       bool path_below_top = false)
      : m_section_type(section), m_variable(variable), m_path(std::move(path)),
        m_target(target), m_value(std::move(value)), m_path_below_top(path_below_top) {}

  ACF_SECTION_TYPE_ENUM m_section_type;
  ACF_VARIABLE_TYPE_ENUM m_variable;
  std::string m_path;              // the target's path as the assignment names it
  HDB_INSTANCE_NAME* m_target;
  std::string m_value;
  bool m_path_below_top;           // m_path leaves out the top name
};

class HDB_ASSIGNMENT {
 public:
  // Flag numbers; the others of 0..31 are free.
  enum FLAG_ENUM : int {
    FLAG_CREATED_BY_SYNTHESIS = 5,  // made by synthesis, not by the user
  };

  HDB_ASSIGNMENT(const HDB_ASSIGNMENT&) = delete;
  HDB_ASSIGNMENT& operator=(const HDB_ASSIGNMENT&) = delete;

  // The component's assignment on info.m_target, kept in the section of
  // info.m_section_type of the target's namespace (the first chip for the
  // chip section type, else the section of that type with the empty name,
  // made when missing). Null when the component or the target is null, or
  // when the chip section type is asked for and the namespace has no chip.
  static HDB_ASSIGNMENT* create(HDB_SOURCE_COMPONENT* component, const HDB_CREATE_ASGN_INFO& info);

  HDB_SECTION* get_section() const { return m_section; }
  int get_variable() const { return m_variable; }
  const char* get_value_str() const { return m_value.c_str(); }
  const std::string& get_path() const { return m_path; }
  bool path_is_below_top() const { return m_path_below_top; }
  // Null for an assignment on the section itself.
  HDB_INSTANCE_NAME* get_target() const { return m_target; }
  HDB_SOURCE_COMPONENT* get_source_component() const { return m_component; }

  // Flags are bits 0..31; another flag is an internal error. The namespace
  // argument is accepted and unused.
  void set_flag(FLAG_ENUM flag, HDB_NAMESPACE* ns = nullptr);
  bool test_flag(FLAG_ENUM flag) const;

  // Adds the option (variable, value) to the target, so that the option
  // lookups of hdb.h see it, and returns it seen with the variable's kind
  // (text for a variable outside the vocabulary). Null for an assignment
  // without target.
  HDB_OPTION* create_option();

  // --- the assignment an option was generated from (HDB_OPTION::get_assignment)
  // Flag numbers 0..31 (another is an internal error); the namespace
  // argument is accepted and unused.
  void set_flag(int flag, HDB_NAMESPACE* ns);
  void clear_flag(int flag, HDB_NAMESPACE* ns);
  bool test_flag(int flag, HDB_NAMESPACE* ns) const;
  // The "-from" name of a point-to-point assignment; null when none.
  HDB_INSTANCE_NAME* get_source_iname() const { return m_source; }
  // Short paths (format 0) of the source and the target; "" when none.
  std::string get_source_str() const;
  std::string get_target_str() const;

 private:
  friend struct HDB_NAMESPACE_ACCESS;
  friend struct HDB_SECTION_REGISTRY;
  friend class HDB_SECTION;
  HDB_ASSIGNMENT() = default;

  HDB_SECTION* m_section = nullptr;
  int m_variable = 0;
  std::string m_value;
  std::string m_path;
  bool m_path_below_top = false;
  HDB_INSTANCE_NAME* m_target = nullptr;
  HDB_SOURCE_COMPONENT* m_component = nullptr;
  unsigned m_flags = 0;
  HDB_INSTANCE_NAME* m_source = nullptr;
};

// The device of a chip section: a part name, or "AUTO".
class HDB_DEVICE {
 public:
  const char* get_name() const { return m_name.c_str(); }
  void set_name(const char* name) { m_name = name ? name : ""; }

 private:
  std::string m_name;
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
  bool is_chip() const { return m_type == ACF_SECTION_CHIP; }

  // The first chip section of `db` (the default namespace when null) by
  // name, or null when it has none.
  static HDB_SECTION* get_chip(const HDB_NAMESPACE* db = nullptr);
  // The chip's device; null for a section that is no chip.
  HDB_DEVICE* get_device() { return is_chip() ? &m_device : nullptr; }

  // The last assignment of that variable on `target` (null: on the section
  // itself), or null.
  HDB_ASSIGNMENT* find_assignment(int variable, const HDB_INSTANCE_NAME* target = nullptr) const;
  // Every assignment of the section in creation order.
  std::vector<HDB_ASSIGNMENT*> get_assignments() const;

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
  HDB_DEVICE m_device;
  std::vector<std::unique_ptr<HDB_ASSIGNMENT>> m_assignments;
};

namespace kavu_platform {
// Creates (or returns) the section of that type and name in `ns` (the
// default namespace when null).
HDB_SECTION* hdb_create_section(HDB_NAMESPACE* ns, int type, const char* name);
// Creates (or returns) the chip section `chip_name` of `ns` (the default
// namespace when null) and sets its device name.
HDB_SECTION* hdb_create_chip(HDB_NAMESPACE* ns, const char* chip_name, const char* device_name);
// Adds an assignment on the section itself (a device setting of a chip).
HDB_ASSIGNMENT* hdb_add_section_assignment(HDB_SECTION* section, int variable, const char* value);
// Forgets every section (called by plat_test_reset_all).
void hdb_section_reset();
}  // namespace kavu_platform

// ---- Subsections (assignment regression dump) ----
// Iterates the subsections of a section. The default section of a namespace
// stands for the namespace: its subsections are every other existing section
// of that namespace, in (type, name) order. Any other section has none. The
// int argument is accepted and unused. A null section is an internal error.
class HDB_SUBSECTION_ITERATOR {
 public:
  HDB_SUBSECTION_ITERATOR(const HDB_SECTION* section, int unused);
  bool at_end() const { return m_pos >= m_list.size(); }
  HDB_SECTION* operator*() const { return at_end() ? nullptr : m_list[m_pos]; }
  HDB_SUBSECTION_ITERATOR& operator++() {
    ++m_pos;
    return *this;
  }

 private:
  std::vector<HDB_SECTION*> m_list;
  size_t m_pos = 0;
};
