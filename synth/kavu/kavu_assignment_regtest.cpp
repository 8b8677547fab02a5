// kavu_assignment_regtest.cpp — assignments dumped as text lines for
// regression tests.
//
// kavu_read_regtest_assignments reads "assignments.rin" once per load: lines
// "global: SECTION VARIABLE", "instance: VARIABLE" and
// "multi_instance: VARIABLE"; lines whose first word starts with '#', '-',
// '/' or ';' are comments. Lines may be of any length and end in LF or
// CR LF. Any bad line is an internal error after a debug line naming the
// file, the line and the problem.
//
// The collectors add lines to a caller's multiset, so the result is sorted
// and independent of the order in which the databases hold assignments:
//   "Name <path>: <variable> = <value>"     options on node and terminal names
//   "Global: <variable> = <value>"          global options
//   "<prefix>S:<section>: <var> = <value> <source> <target> <param> <library>"
// A section line names the source component ("source <name>"), the target
// path ("target <path>"); this database keeps no parameter or library text,
// so those parts are empty. Assignments made by a source component are
// listed under "SC:<component> - ".
//
// Cost: linear in the nodes times the reported variables.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_hierarchy.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_stats.h"
#include "kavu_stats_int.h"

namespace {

const char* const k_list_file = "assignments.rin";

std::vector<std::pair<int, int>> s_global_list;  // (section type, variable)
std::vector<int> s_instance_list;
std::vector<int> s_multi_instance_list;

[[noreturn]] void fail_reading() {
  const std::string text = std::string("Error reading ") + k_list_file + ". See debug messages for more info";
  KAVU_INTERNAL_ERROR(text.c_str());
  __builtin_unreachable();
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Up to three words of a line; the rest is ignored.
int split_words(const std::string& line, std::string words[3]) {
  int n = 0;
  size_t i = 0;
  while (n < 3) {
    while (i < line.size() && is_blank(line[i])) ++i;
    if (i >= line.size()) break;
    const size_t start = i;
    while (i < line.size() && !is_blank(line[i])) ++i;
    words[n++] = line.substr(start, i - start);
  }
  return n;
}

bool is_comment(const std::string& first) {
  const char c = first[0];
  return c == '#' || c == '-' || c == '/' || c == ';';
}

// One whole line (any length) without its line end; false at end of file.
bool read_line(FILE* f, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::fgetc(f)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(char(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

void parse_line(int line_no, const std::string& line) {
  std::string w[3];
  const int n = split_words(line, w);
  if (n == 0 || is_comment(w[0])) return;
  if (w[0] == "global:") {
    if (n != 3) {
      kavu_debug("Error reading %s:%d: Expected 2 arguments after \"global:\" but got %d", k_list_file, line_no, n - 1);
      fail_reading();
    }
    bool failed = false;
    const int section = acf_string_to_section_type(w[1].c_str());
    if (section <= 0) {
      kavu_debug("Error reading %s:%d: Don't understand section type %s", k_list_file, line_no, w[1].c_str());
      failed = true;
    }
    const int variable = acf_string_to_variable_type(w[2].c_str());
    if (variable <= 0) {
      kavu_debug("Error reading %s:%d: Don't understand variable type %s", k_list_file, line_no, w[2].c_str());
      fail_reading();
    }
    if (failed) fail_reading();
    if (!acf_is_variable_allowed_in_section_type(variable, section)) {
      kavu_debug("Error reading %s:%d: Variable %s is not allowed to be in section %s", k_list_file, line_no,
                 w[2].c_str(), w[1].c_str());
      fail_reading();
    }
    s_global_list.emplace_back(section, variable);
    kavu_debug("Added global assignment %s section %s", w[2].c_str(), w[1].c_str());
    return;
  }
  const bool multi = w[0] == "multi_instance:";
  if (w[0] == "instance:" || multi) {
    if (n != 2) {
      kavu_debug("Error reading %s:%d: Expected 1 arguments after \"instance:\" but got %d", k_list_file, line_no,
                 n - 1);
      fail_reading();
    }
    const int variable = acf_string_to_variable_type(w[1].c_str());
    if (variable <= 0) {
      kavu_debug("Error reading %s:%d: Don't understand variable type %s", k_list_file, line_no, w[1].c_str());
      fail_reading();
    }
    if (multi) {
      s_multi_instance_list.push_back(variable);
      kavu_debug("Added multi-valued instance assignment %s", w[1].c_str());
    } else {
      s_instance_list.push_back(variable);
      kavu_debug("Added instance assignment %s", w[1].c_str());
    }
    return;
  }
  kavu_debug("Error reading %s:%d. Expected to start with \"global:\" or \"instance:\" or \"multi_instance:\".",
             k_list_file, line_no);
  fail_reading();
}

bool is_reported(int variable) {
  if (std::find(s_instance_list.begin(), s_instance_list.end(), variable) != s_instance_list.end()) return true;
  if (std::find(s_multi_instance_list.begin(), s_multi_instance_list.end(), variable) != s_multi_instance_list.end())
    return true;
  for (const auto& [section, v] : s_global_list)
    if (v == variable) return true;
  return false;
}

std::string variable_name(int variable) {
  const char* n = acf_variable_type_to_string(variable);
  return n ? n : std::to_string(variable);
}

// Options read with the variable's own kind (the store refuses another).
template <class SOURCE>
HDB_OPTION* single_option(const SOURCE* src, int v) {
  switch (acf_variable_kind(v)) {
    case ACF_KIND_BOOL: return HDB_DERIVED_OPTION<1, 0>::get_single_option(src, v, true);
    case ACF_KIND_INT: return HDB_DERIVED_OPTION<4, 0>::get_single_option(src, v, true);
    case ACF_KIND_ENUM: return HDB_DERIVED_OPTION<6, 0>::get_single_option(src, v, true);
    default: return HDB_DERIVED_OPTION<2, 0>::get_single_option(src, v, true);
  }
}

template <class SOURCE>
std::vector<HDB_OPTION*> all_options(const SOURCE* src, int v) {
  std::vector<HDB_OPTION*> out;
  auto take = [&](auto list) { out.assign(list.begin(), list.end()); };
  switch (acf_variable_kind(v)) {
    case ACF_KIND_BOOL: take(HDB_DERIVED_OPTION<1, 0>::get_all_options(src, v, true)); break;
    case ACF_KIND_INT: take(HDB_DERIVED_OPTION<4, 0>::get_all_options(src, v, true)); break;
    case ACF_KIND_ENUM: take(HDB_DERIVED_OPTION<6, 0>::get_all_options(src, v, true)); break;
    default: take(HDB_DERIVED_OPTION<2, 0>::get_all_options(src, v, true)); break;
  }
  return out;
}

std::string name_line(const HDB_INSTANCE_NAME* name, const HDB_OPTION* opt) {
  return "Name " + name->get_short_hpath(1) + ": " + variable_name(opt->get_variable()) + " = " + opt->get_value_str();
}

void collect_on_name(const HDB_INSTANCE_NAME* name, std::multiset<std::string>& lines,
                     std::unordered_set<std::string>& seen_values) {
  for (int variable : s_instance_list)
    if (HDB_OPTION* opt = single_option(name, variable))
      lines.insert(name_line(name, opt));
  for (int variable : s_multi_instance_list) {
    seen_values.clear();  // the distinct values of one variable
    for (HDB_OPTION* opt : all_options(name, variable))
      if (seen_values.insert(opt->get_value_str()).second) lines.insert(name_line(name, opt));
  }
}

std::string section_line(const std::string& head, const std::string& variable, const std::string& value,
                         const std::string& source, const std::string& target) {
  const std::string source_part = source.empty() ? "" : "source " + source;
  const std::string target_part = target.empty() ? "" : "target " + target;
  // The parameter and library parts are empty: the database keeps neither.
  return head + variable + " = " + value + " " + source_part + " " + target_part + " " + "" + " " + "";
}

void collect_section(const std::string& prefix, const HDB_SECTION* section, const HDB_SOURCE_COMPONENT* component,
                     std::multiset<std::string>& lines) {
  KAVU_CHECK(section);
  const std::string head = prefix + "S:" + acf_get_section_name(section->get_type()) + ": ";
  for (HDB_ASSIGNMENT* a : section->get_assignments()) {
    if (a->get_source_component() != component || !is_reported(a->get_variable())) continue;
    const std::string target = a->get_target() ? a->get_target()->get_short_hpath(1) : a->get_path();
    lines.insert(section_line(head, variable_name(a->get_variable()), a->get_value_str(),
                              component ? component->get_component_name_str() : "", target));
  }
}

}  // namespace

void kavu_assignment_regtest_reset_for_tests() {
  s_global_list.clear();
  s_instance_list.clear();
  s_multi_instance_list.clear();
}

void kavu_read_regtest_assignments() {
  if (!s_global_list.empty() || !s_instance_list.empty() || !s_multi_instance_list.empty()) {
    kavu_debug("Skip reading assignments");
    return;
  }
  FILE* f = FIO_FILE_SYSTEM::fopen(k_list_file, "r");
  if (!f) {
    const std::string text = std::string("Could not open ") + k_list_file;
    KAVU_INTERNAL_ERROR(text.c_str());
    return;
  }
  std::string line;
  int line_no = 0;
  while (read_line(f, line)) {
    ++line_no;
    // A failing line ends the read; close the file before reporting.
    struct CLOSER {
      FILE* m_f;
      bool m_armed = true;
      ~CLOSER() {
        if (m_armed) std::fclose(m_f);
      }
    } closer{f};
    parse_line(line_no, line);
    closer.m_armed = false;
  }
  std::fclose(f);
}

void kavu_collect_assignments_on_nodes(CDB_SGATE_HIERARCHY* hierarchy, std::multiset<std::string>& lines) {
  const bool all_nodes = cfg_is_on("assignment_regtest_check_all_nodes", false);
  CDB_SGATE_NETLIST* netlist = hierarchy ? hierarchy->get_netlist() : nullptr;
  if (!netlist) return;
  std::unordered_set<const HDB_INSTANCE_NAME*> parents_done;
  std::unordered_set<std::string> seen_values;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const int t = g->get_sgate_type();
    if (!(all_nodes || t == CDB_SGATE_DFF_ENUM || t == CDB_SGATE_IO_ENUM || g->is_wysiwyg())) continue;
    HDB_INSTANCE_NAME* name = g->get_instance_name();
    if (!g->has_temporary_name() && name) {
      HDB_INSTANCE_NAME* parent = name->get_parent();
      if (parent && parents_done.insert(parent).second) collect_on_name(parent, lines, seen_values);
      collect_on_name(name, lines, seen_values);
    }
    for (CDB_SGATE_OTERM* o : g->get_output_terms()) {
      if (!o || !o->has_fanout() || o->has_synthesized_name_mark()) continue;
      HDB_INSTANCE_NAME* oname = o->get_instance_name();
      if (oname && oname != name) collect_on_name(oname, lines, seen_values);
    }
  }
}

void kavu_collect_global_assignments(HDB_NAMESPACE* ns, std::multiset<std::string>& lines) {
  for (const auto& [section_type, variable] : s_global_list) {
    // Chips carry their own names: the chip type means the first chip.
    HDB_SECTION* section = section_type == ACF_SECTION_CHIP ? HDB_SECTION::get_chip(ns)
                                                            : HDB_SECTION::find_section(section_type, "", ns);
    if (!section) continue;
    if (section->is_default()) {
      if (HDB_OPTION* opt = single_option(section->get_namespace(), variable))
        lines.insert("Global: " + variable_name(variable) + " = " + opt->get_value_str());
    } else if (HDB_ASSIGNMENT* a = section->find_assignment(variable, nullptr)) {
      lines.insert("Global: " + variable_name(variable) + " = " + a->get_value_str());
    }
  }
}

void kavu_collect_cap_inst_assignments(const std::string& prefix, HDB_NAMESPACE* ns,
                                       std::multiset<std::string>& lines) {
  HDB_SECTION* top = HDB_SECTION::find_section(HDB_SECTION_TYPE_DEFAULT, "", ns);
  KAVU_CHECK(top);
  // The namespace as a section: its global options and section assignments.
  const std::string head = prefix + "S:" + acf_get_section_name(top->get_type()) + ": ";
  std::vector<int> variables;
  for (const auto& [s, v] : s_global_list) variables.push_back(v);
  variables.insert(variables.end(), s_instance_list.begin(), s_instance_list.end());
  variables.insert(variables.end(), s_multi_instance_list.begin(), s_multi_instance_list.end());
  std::sort(variables.begin(), variables.end());
  variables.erase(std::unique(variables.begin(), variables.end()), variables.end());
  for (int v : variables)
    for (HDB_OPTION* opt : all_options(top->get_namespace(), v))
      lines.insert(section_line(head, variable_name(v), opt->get_value_str(), "", ""));
  collect_section(prefix, top, nullptr, lines);

  // Subsections, then the subsections as seen by each source component that
  // made assignments in them (components in primitive-type order).
  std::map<int, const HDB_SOURCE_COMPONENT*> components;
  std::vector<const HDB_SECTION*> subsections;
  for (HDB_SUBSECTION_ITERATOR it(top, 0); !it.at_end(); ++it) {
    const HDB_SECTION* sub = *it;
    KAVU_CHECK(sub);
    subsections.push_back(sub);
    collect_section(prefix, sub, nullptr, lines);
    for (HDB_ASSIGNMENT* a : sub->get_assignments())
      if (const HDB_SOURCE_COMPONENT* c = a->get_source_component()) components.emplace(c->get_primitive_type(), c);
  }
  for (const auto& [type, c] : components) {
    const std::string sc_prefix = prefix + "SC:" + c->get_component_name_str() + " - ";
    for (const HDB_SECTION* sub : subsections) collect_section(sc_prefix, sub, c, lines);
  }
}
