// hdb_options.cpp — the option store of a namespace and the assignment
// reader for tests and tools.
//
// Model: options are records (variable, text, target) kept per namespace
//   under (target name id or 0, variable) in the order set. A lookup returns
//   a typed view of a record, made once per (record, kind) and owned by it.
// Invariant: a variable of the vocabulary is only read with its own kind
//   (the two text kinds are interchangeable); anything else is an internal
//   error, because the value would be misread silently.
// Cost: a lookup is O(depth · log options) when it climbs, O(log options)
//   otherwise.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "hdb/hdb.h"
#include "hdb/hdb_int.h"
#include "msg/msg.h"

using kavu_platform::HDB_OPTION_RECORD;

namespace {

bool text_kind(int kind) { return kind == ACF_KIND_TEXT0 || kind == ACF_KIND_TEXT; }

void check_kind(int variable, int kind) {
  int own = acf_variable_kind(variable);
  bool ok = own < 0 || own == kind || (text_kind(own) && text_kind(kind));
  if (!ok) MSG_INTERNAL_ERROR::report("option read with a kind other than its variable's", "HDB",
                                      __FILE__, __LINE__);
}

}  // namespace

struct HDB_NAMESPACE_ACCESS {
  typedef std::vector<std::unique_ptr<HDB_OPTION_RECORD>> LIST;

  static const LIST* list(const HDB_NAMESPACE* ns, int target, int variable) {
    auto it = ns->m_options.find({target, variable});
    return it == ns->m_options.end() || it->second.empty() ? nullptr : &it->second;
  }

  static void add(HDB_NAMESPACE* ns, HDB_INSTANCE_NAME* target, int variable, const char* value) {
    auto record = std::make_unique<HDB_OPTION_RECORD>();
    record->variable = variable;
    record->value = value;
    record->target = target;
    ns->m_options[{target ? target->get_id() : 0, variable}].push_back(std::move(record));
  }

  // The assignment of a record, made on first request with the record's
  // variable, value and target.
  static HDB_ASSIGNMENT* assignment_of(HDB_OPTION_RECORD* record) {
    if (!record->assignment) {
      record->assignment.reset(new HDB_ASSIGNMENT());
      record->assignment->m_variable = record->variable;
      record->assignment->m_value = record->value;
      record->assignment->m_target = record->target;
    }
    return record->assignment.get();
  }

  static void set_source(HDB_ASSIGNMENT* a, HDB_INSTANCE_NAME* source) { a->m_source = source; }

  // The record added last to (target, variable).
  static HDB_OPTION_RECORD* last(HDB_NAMESPACE* ns, HDB_INSTANCE_NAME* target, int variable) {
    return ns->m_options[{target ? target->get_id() : 0, variable}].back().get();
  }

  static HDB_OPTION* view(HDB_OPTION_RECORD* record, int kind, HDB_OPTION* (*make)(HDB_OPTION_RECORD*)) {
    std::unique_ptr<HDB_OPTION>& slot = record->views[kind];
    if (!slot) slot.reset(make(record));
    return slot.get();
  }
};

// ---------------------------------------------------------------- HDB_OPTION

int HDB_OPTION::get_variable() const { return m_record->variable; }

const char* HDB_OPTION::get_value_str() const { return m_record->value.c_str(); }

bool HDB_OPTION::get_bool_value() const {
  const char* v = m_record->value.c_str();
  return strcasecmp(v, "on") == 0 || strcasecmp(v, "true") == 0 || strcasecmp(v, "yes") == 0 ||
         std::strcmp(v, "1") == 0;
}

int HDB_OPTION::get_int_value() const {
  const char* v = m_record->value.c_str();
  char* end = nullptr;
  long n = std::strtol(v, &end, 10);
  return (end != v && *end == '\0') ? static_cast<int>(n) : 0;
}

int HDB_OPTION::get_enum_value() const {
  const char* v = m_record->value.c_str();
  if (*v && std::isdigit(static_cast<unsigned char>(*v))) {
    char* end = nullptr;
    long n = std::strtol(v, &end, 10);
    if (*end == '\0') return static_cast<int>(n);
  }
  return acf_string_to_enum_type_enum(v);
}

HDB_INSTANCE_NAME* HDB_OPTION::cast_source_to_iname() const { return m_record->target; }

HDB_OPTION* HDB_OPTION::find_single(const HDB_INSTANCE_NAME* name, int variable, bool this_name_only,
                                    int kind, MAKE_VIEW make) {
  check_kind(variable, kind);
  if (!name) return nullptr;
  const HDB_NAMESPACE* ns = name->get_namespace();
  for (const HDB_INSTANCE_NAME* n = name; n; n = n->get_parent()) {
    if (auto* l = HDB_NAMESPACE_ACCESS::list(ns, n->get_id(), variable))
      return HDB_NAMESPACE_ACCESS::view(l->back().get(), kind, make);
    if (this_name_only) return nullptr;
  }
  return find_single(ns, variable, kind, make);
}

HDB_OPTION* HDB_OPTION::find_single(const HDB_NAMESPACE* ns, int variable, int kind, MAKE_VIEW make) {
  check_kind(variable, kind);
  if (!ns) return nullptr;
  auto* l = HDB_NAMESPACE_ACCESS::list(ns, 0, variable);
  return l ? HDB_NAMESPACE_ACCESS::view(l->back().get(), kind, make) : nullptr;
}

std::vector<HDB_OPTION*> HDB_OPTION::find_all(const HDB_INSTANCE_NAME* name, int variable,
                                              bool this_name_only, int kind, MAKE_VIEW make) {
  check_kind(variable, kind);
  std::vector<HDB_OPTION*> out;
  if (!name) return out;
  const HDB_NAMESPACE* ns = name->get_namespace();
  for (const HDB_INSTANCE_NAME* n = name; n; n = this_name_only ? nullptr : n->get_parent()) {
    if (auto* l = HDB_NAMESPACE_ACCESS::list(ns, n->get_id(), variable)) {
      for (const auto& r : *l) out.push_back(HDB_NAMESPACE_ACCESS::view(r.get(), kind, make));
    }
  }
  if (!this_name_only) {
    std::vector<HDB_OPTION*> global = find_all(ns, variable, kind, make);
    out.insert(out.end(), global.begin(), global.end());
  }
  return out;
}

std::vector<HDB_OPTION*> HDB_OPTION::find_all(const HDB_NAMESPACE* ns, int variable, int kind,
                                              MAKE_VIEW make) {
  check_kind(variable, kind);
  std::vector<HDB_OPTION*> out;
  if (!ns) return out;
  if (auto* l = HDB_NAMESPACE_ACCESS::list(ns, 0, variable)) {
    for (const auto& r : *l) out.push_back(HDB_NAMESPACE_ACCESS::view(r.get(), kind, make));
  }
  return out;
}

// ---------------------------------------------------------------- assignment reader

namespace {

struct ASSIGNMENT_LINE {
  int number = 0;
  bool global = true;
  int variable = 0;
  std::string value;
  std::vector<std::string> path;
};

// Splits a line into words; "…" (with \" and \\) and {…} (nested) quote.
bool split_words(const std::string& line, std::vector<std::string>* words, std::string* why) {
  size_t i = 0;
  while (true) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i >= line.size()) return true;
    std::string w;
    if (line[i] == '"') {
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) ++i;
        w += line[i];
      }
      if (i >= line.size()) return *why = "unterminated \"", false;
      ++i;
    } else if (line[i] == '{') {
      int depth = 1;
      for (++i; i < line.size(); ++i) {
        if (line[i] == '{') ++depth;
        if (line[i] == '}' && --depth == 0) break;
        w += line[i];
      }
      if (i >= line.size()) return *why = "unterminated {", false;
      ++i;
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) w += line[i++];
    }
    words->push_back(w);
  }
}

bool parse_variable(const std::string& word, int* variable) {
  int code = acf_string_to_variable_type(word.c_str());
  if (code < 0 && !word.empty() && word.find_first_not_of("0123456789") == std::string::npos)
    code = std::atoi(word.c_str());
  *variable = code;
  return code > 0;
}

bool parse_line(const std::vector<std::string>& w, ASSIGNMENT_LINE* a, std::string* why) {
  if (w[0] == "set_global_assignment") {
    a->global = true;
  } else if (w[0] == "set_instance_assignment") {
    a->global = false;
  } else {
    return *why = "unknown command \"" + w[0] + "\"", false;
  }
  bool have_name = false, have_value = false, have_to = false;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "-name" || w[i] == "-to") {
      if (i + 1 >= w.size()) return *why = w[i] + " without a value", false;
      const std::string& arg = w[++i];
      if (w[i - 1] == "-name") {
        if (!parse_variable(arg, &a->variable)) return *why = "unknown variable \"" + arg + "\"", false;
        have_name = true;
      } else {
        size_t pos = 0;
        while (true) {
          size_t bar = arg.find('|', pos);
          std::string part = arg.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
          if (part.empty()) return *why = "empty level in path \"" + arg + "\"", false;
          a->path.push_back(part);
          if (bar == std::string::npos) break;
          pos = bar + 1;
        }
        have_to = true;
      }
    } else if (!w[i].empty() && w[i][0] == '-' && w[i].size() > 1 && !std::isdigit(static_cast<unsigned char>(w[i][1]))) {
      return *why = "unknown option \"" + w[i] + "\"", false;
    } else {
      if (have_value) return *why = "more than one value", false;
      a->value = w[i];
      have_value = true;
    }
  }
  if (!have_name) return *why = "no -name", false;
  if (!have_value) return *why = "no value", false;
  if (a->global && have_to) return *why = "-to on a global assignment", false;
  if (!a->global && !have_to) return *why = "no -to on an instance assignment", false;
  return true;
}

// The name at `path`, created (as entered by the user) where missing.
HDB_INSTANCE_NAME* make_path(HDB_NAMESPACE* ns, const std::vector<std::string>& path) {
  HDB_INSTANCE_NAME* n = nullptr;
  size_t first = 0;
  for (HDB_INSTANCE_NAME* top : ns->get_top_names()) {
    if (path[0] == top->get_partial_name()) {
      n = top;
      first = 1;
      break;
    }
  }
  if (!n) n = ns->get_root();
  const HDB_INSTANCE_NAME_FLAG user(HDB_INSTANCE_NAME_FLAG::USER_ENTERED);
  for (size_t i = first; i < path.size(); ++i)
    n = HDB_INSTANCE_NAME::create_normal_name(n ? nullptr : ns, path[i].c_str(), nullptr, nullptr, n, user);
  return n;
}

}  // namespace

namespace kavu_platform {

void hdb_set_option(HDB_INSTANCE_NAME* name, int variable, const char* value) {
  PLAT_CHECK(name != nullptr && value != nullptr, "HDB");
  HDB_NAMESPACE_ACCESS::add(name->get_namespace(), name, variable, value);
}

void hdb_set_option(HDB_NAMESPACE* ns, int variable, const char* value) {
  PLAT_CHECK(ns != nullptr && value != nullptr, "HDB");
  HDB_NAMESPACE_ACCESS::add(ns, nullptr, variable, value);
}

bool hdb_load_assignments(HDB_NAMESPACE* ns, const std::string& text, std::string* error) {
  if (!ns) ns = hdb_default_namespace();
  std::vector<ASSIGNMENT_LINE> lines;
  size_t pos = 0;
  int number = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(pos, nl - pos);
    pos = nl + 1;
    ++number;
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;  // blank or comment
    std::vector<std::string> words;
    std::string why;
    bool ok = split_words(line, &words, &why);
    ASSIGNMENT_LINE a;
    a.number = number;
    if (ok) ok = parse_line(words, &a, &why);
    if (!ok) {
      if (error) *error = "line " + std::to_string(number) + ": " + why;
      return false;
    }
    lines.push_back(std::move(a));
  }
  for (const ASSIGNMENT_LINE& a : lines) {
    if (a.global) {
      hdb_set_option(ns, a.variable, a.value.c_str());
    } else {
      hdb_set_option(make_path(ns, a.path), a.variable, a.value.c_str());
    }
  }
  if (error) error->clear();
  return true;
}

}  // namespace kavu_platform

// ---------------------------------------------------------------- every option of a variable

int HDB_NAMESPACE::get_all_generated_options(int variable, std::vector<HDB_DERIVED_OPTION<1, 0>*>* list,
                                             bool) const {
  PLAT_CHECK(list != nullptr, "HDB");
  list->clear();
  for (const auto& [key, records] : m_options) {
    if (key.second != variable || records.empty()) continue;
    std::vector<HDB_DERIVED_OPTION<1, 0>*> some =
        key.first == 0 ? HDB_DERIVED_OPTION<1, 0>::get_all_options(this, variable)
                       : HDB_DERIVED_OPTION<1, 0>::get_all_options(get_instance_name(key.first), variable, true);
    list->insert(list->end(), some.begin(), some.end());
  }
  return int(list->size());
}

// ---------------------------------------------------------------- assignments

HDB_ASSIGNMENT* HDB_OPTION::get_assignment() const { return HDB_NAMESPACE_ACCESS::assignment_of(m_record); }

void HDB_ASSIGNMENT::set_flag(int flag, HDB_NAMESPACE*) {
  PLAT_CHECK(flag >= 0 && flag < 32, "HDB");
  m_flags |= 1u << flag;
}

void HDB_ASSIGNMENT::clear_flag(int flag, HDB_NAMESPACE*) {
  PLAT_CHECK(flag >= 0 && flag < 32, "HDB");
  m_flags &= ~(1u << flag);
}

bool HDB_ASSIGNMENT::test_flag(int flag, HDB_NAMESPACE*) const {
  PLAT_CHECK(flag >= 0 && flag < 32, "HDB");
  return (m_flags >> flag) & 1u;
}

std::string HDB_ASSIGNMENT::get_source_str() const { return m_source ? m_source->get_short_hpath(0) : std::string(); }

std::string HDB_ASSIGNMENT::get_target_str() const { return m_target ? m_target->get_short_hpath(0) : std::string(); }

namespace kavu_platform {

void hdb_set_assignment(HDB_INSTANCE_NAME* target, int variable, const char* value, HDB_INSTANCE_NAME* source) {
  PLAT_CHECK(target != nullptr && value != nullptr, "HDB");
  hdb_set_option(target, variable, value);
  HDB_OPTION_RECORD* record = HDB_NAMESPACE_ACCESS::last(target->get_namespace(), target, variable);
  HDB_NAMESPACE_ACCESS::set_source(HDB_NAMESPACE_ACCESS::assignment_of(record), source);
}

}  // namespace kavu_platform
