// ssc_sdc.cpp — the SDC subset the timing engine reads.
//
// The file is a Tcl script: Tcl ends each command (ATCL_SCRIPT_READER, at a
// newline or ';' outside braces, quotes and brackets, so a list or a
// collection may span lines; '#' starts a comment where a command would
// start, so "cmd ;# note"), and the words are Tcl's, nothing substituted
// (a text that ends in a backslash, or inside a brace, bracket or quote it
// never closes, drops its unfinished last command with a warning, as
// OpenSTA does, and with it every command before it on its lines, as
// OpenSTA evaluates the lines it joins as one text):
//   create_clock -period P [-name N] [-waveform {R F}] [-add] [targets]
//   set_input_delay V -clock C [-clock_fall] [-max|-min] [-add_delay] targets
//   set_output_delay V -clock C [-clock_fall] [-max|-min] [-add_delay] targets
//   set_false_path [-setup [-hold]] [-from X] [-to Y]
//   set_max_delay V [-from X] [-to Y] [-ignore_clock_latency]
//   set_units [-time U] [-capacitance …]
// Targets are collections — [get_ports p…], [get_pins p…], [get_cells p…],
// [get_registers p…], [get_clocks p…], [all_inputs], [all_outputs],
// [all_registers], [all_clocks] — or bare patterns (ports, then cells; the
// points of a path rule as OpenSTA reads them, pattern by pattern: a clock,
// else cells, else ports, and after -through cells, else ports).
// get_cells takes cells (registers and logic) and get_registers registers,
// never a port, as OpenSTA's get_cells (in BLIF a register that drives an
// output has the output's name). Of the options inside a collection,
// all_registers -clock C (the registers of those clocks, on either edge)
// and all_inputs -no_clocks (without the ports that are a clock's source)
// are applied as OpenSTA applies them, so are -regexp and -nocase of the
// get_ commands (see below), and -quiet, -cells and -edge_triggered change
// nothing here; any other (-filter, -of_objects, -hierarchical,
// -rise_clock, …) could narrow the collection, so the command using it is
// skipped with a warning, and a create_clock using it ends the read with
// an error (a clock on other sources than named, or on none, would time
// other paths without a word). An option's value is never a pattern.
// A collection is a script of its own, its value its last command's
// ("[get_ports b; get_ports a]" takes a), and a pattern word that is one
// nested command is evaluated where its value is known here: list and
// concat, as Tcl evaluates them ("[get_ports [list a {d[0]}]]"); any other
// skips the command using it with a warning, as an option that could
// narrow its collection does. A collection word that is itself a list
// ("-from [list r1 [get_cells r2]]") holds names and collections, read
// element by element as OpenSTA reads such a list (collect_list).
// Nesting past kAtclMaxNesting is an error.
// A pattern is matched against each node's own name, its last level
// ("clk" of "top|clk"), as OpenSTA matches the names of the top instance;
// a pattern without wildcards names the node whose path it is as well
// ("top|clk"), but a wildcard never meets the path, so "*sync*" takes no
// node for its model's name uart_sync. A word of patterns is a Tcl list,
// split as OpenSTA's get_ commands split it (atcl_split_list, backslashes
// kept): "{a b}" lists two patterns, "{[ab].*}" one (a bracket in it is an
// ordinary character). In a pattern '*' stands for any run of characters,
// '?' for one, "\x" for x itself, and every other character, brackets
// included, for itself. With
// -regexp a pattern is a regular expression anchored as OpenSTA anchors
// it, "^" + pattern + "$" (so "a|b" takes the names that begin with a and
// those that end with b), read by ZTL_REGEXP (ECMAScript syntax, where
// OpenSTA reads Tcl's: the common forms mean the same; one the engine
// cannot compile ends the read with an error naming it), case folded with
// -nocase; -nocase without -regexp is a warning and changes nothing, as
// in OpenSTA. As in OpenSTA, a -regexp pattern for cells, pins, nets or
// clocks that holds none of ". + * ? [ ]" is looked up as a name, as
// written ("a|b" names nothing there, nor "A" under -nocase an "a"); for
// ports every pattern is an expression. A port "a[3]" is bit 3 of bus
// "a": a pattern that ends in ']' is matched against the bit's whole name,
// any other against the bus name, so "a", "a*" and "a[*]" take every bit
// and "a[3]" one (OpenSTA reads bus ports the same way, -regexp patterns
// too). A pattern that matches nothing is a warning ("line N: ..." in
// SSC_CONSTRAINTS::warnings, which the engine posts); the command still
// applies to the rest. The reader keeps a file's first hundred warnings
// and counts the rest.
// Times are in the engine's unit, the picosecond, unless "set_units -time"
// names another ("ns", "1ns", "100ps", "us", ...): every later time is
// converted to picoseconds. Numbers may be decimal fractions and are rounded
// to whole picoseconds.
// A -waveform whose fall comes before its rise has its fall one period
// later, with a warning, as OpenSTA reads it. A clock port that feeds data
// logic, whether it clocks registers or none, launches that data at its
// clock's edges (clock_data_ports), unless the data reaches a capture
// through a loop: then a warning names it; so does a net inside the logic
// a clock is created on, where data from before it stops, and a register
// whose output it is launches on that clock alone
// (SSC_CONSTRAINTS::clocks_start_at_sources). A
// set_max_delay -ignore_clock_latency whose -from side holds such a port's
// data is a warning naming the port: it does not time that data, which
// OpenSTA times with no delay (all clock latency). Registers whose
// clock pin only a loop through registers' clock pins feeds are a warning
// too (warn_registers_clocked_by_loops). Registers
// behind gates take every clock that reaches them (ssc_register_clocks). A
// clock of period 0 is read as OpenSTA reads it and timed as OpenSTA times
// it (ssc_edge_relation).
// A clock on output ports is a warning naming them: paths to them are not
// timed, as OpenSTA leaves them.
// -clock takes a clock name or a collection of one clock ("[get_clocks c]");
// a name with wildcards that names no clock ("-clock *") is a warning and
// the delay applies without a clock, as OpenSTA applies it. An input port
// that a -min input delay names and no other keeps starts no path, and an
// output port that only -min output delays name ends none, not even under
// set_max_delay (OpenSTA times them for hold only):
// SSC_CONSTRAINTS::min_delay_inputs and min_delay_outputs.
// A delay relative to a clock created on the port itself is skipped for that
// port with a warning, as OpenSTA refuses it.
// A second set_input_delay (set_output_delay) on a port replaces every delay
// the port had, as OpenSTA does, unless it is given -add_delay: then both
// stay and the worse one counts for setup. Ports of the other direction (and
// targets that are no port) are skipped with a warning, as in OpenSTA.
// set_max_delay times the paths it covers by its value in place of the clock
// check (ssc_analysis.cpp); -from names start points (registers, input
// ports) or launch clocks, -to end points (registers, output ports) or
// capture clocks; other points are skipped with a warning. set_false_path is
// applied between clocks, from (to) points alone, removing those start
// (end) points, and between points or points and clocks, removing the paths
// from its -from side to its -to side (over any set_max_delay, as in OpenSTA).
// Whatever is read but not applied is a warning naming its line, and the
// rest of the file applies. Skipped with their command: a -min (-hold)
// delay (no hold analysis; without -add_delay it still removes the port's
// delays of other clock edges, as OpenSTA keeps one set per port) and
// -reference_pin of the I/O delays; -through, -rise_from, -fall_from,
// -rise_to, -fall_to, -rise_through, -fall_through, -rise, -fall, -hold
// (set_false_path -hold with -setup applies, -hold warned), -datapath_only and -reset_path of the path commands (and
// -ignore_clock_latency of set_false_path, which has no such option); a
// collection option that could narrow the collection; either path command
// without -from and -to (OpenSTA applies neither). Skipped alone, the rest
// of the command applying: -rise and -fall of the I/O delays (applied to
// both transitions, so a -rise delay also replaces an earlier -fall one,
// where OpenSTA keeps it), -source_latency_included and
// -network_latency_included (clock latency is not modelled), and -comment.
// A create_clock without -add takes its sources from the clocks that had
// them, as OpenSTA does; a clock left without sources is removed, with the
// I/O delays on it (an output port so left ends no path) and its place in
// path rules, as OpenSTA deletes it, with
// a warning. Also warned: a create_clock -add on a source
// that already has a clock (its registers keep the first clock; OpenSTA
// times them on both), and the SDC commands the
// engine does not model (set_load, set_clock_uncertainty,
// set_multicycle_path, …; sdc_version, "set sdc_version V" and
// current_design change nothing and pass silently). set_units' quantities
// other than time are read and have no bearing on the analysis.
// Every register a command names, applied or skipped, is listed in
// SSC_CONSTRAINTS::named_registers (register merging keeps such registers
// apart): a skipped command's collections, the words after its point
// options and its bare words are read for that, without warnings, and what
// cannot be read there is passed over. An unknown command, an unknown option, an unknown
// clock or collection, a malformed number or text after a closing brace or
// quote is an error naming its line. A clock without targets is virtual, unless it
// re-creates a clock by name: that keeps its sources (OpenSTA).
// Cost: a pattern without wildcards (or a -regexp pattern that stands for
// one name) is looked up in a table of the names (made on the first such
// pattern of a read, O(nodes)), one with wildcards is matched against
// every node of its kind, a -regexp pattern compiled once per collection;
// the collections of a skipped command that can name no register (ports,
// clocks) are not matched.
#include <algorithm>
#include <bit>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string_view>
#include <unordered_set>

#include "atcl/atcl.h"
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "fio/fio.h"
#include "msg/msg.h"
#include "ssc/ssc_int.h"
#include "ztl/ztl_support.h"

namespace kavu_platform {

namespace {

// The patterns of a list word, as OpenSTA's get_ commands read them: the
// word is a Tcl list (atcl_split_list; "[ab].*" is one pattern, "{a b} c"
// two), its backslashes kept (doubled first, as OpenSTA doubles them, so
// that "a\[3\]" stays a pattern for the name a[3]).
bool pattern_list(const std::string& word, std::vector<std::string>* patterns, std::string* why) {
  if (word.find('\\') == std::string::npos) return atcl_split_list(word, patterns, why);
  std::string doubled;
  doubled.reserve(word.size() + 16);
  for (char c : word) {
    doubled += c;
    if (c == '\\') doubled += c;
  }
  return atcl_split_list(doubled, patterns, why);
}

// '*' any run, '?' one character, "\x" the character x, any other character
// itself. Iterative, backtracking only to the last '*': O(|p| |s|) at worst,
// with no recursion however long the name.
bool glob_match(std::string_view p, std::string_view s) {
  size_t pi = 0, si = 0;
  size_t star_p = std::string_view::npos, star_s = 0;
  while (si < s.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star_p = ++pi;
      star_s = si;
      continue;
    }
    if (pi < p.size()) {
      const bool escaped = p[pi] == '\\' && pi + 1 < p.size();
      const char want = escaped ? p[pi + 1] : p[pi];
      if ((!escaped && want == '?') || want == s[si]) {
        pi += escaped ? 2 : 1;
        ++si;
        continue;
      }
    }
    if (star_p == std::string_view::npos) return false;
    pi = star_p;
    si = ++star_s;
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

// The bus of a bit name "base[digits]"; false for any other name.
bool bus_of(std::string_view name, std::string_view* base) {
  if (name.size() < 4 || name.back() != ']') return false;
  const size_t open = name.rfind('[');
  if (open == std::string_view::npos || open == 0 || open + 2 > name.size() - 1) return false;
  for (size_t i = open + 1; i + 1 < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return false;
  *base = name.substr(0, open);
  return true;
}

// A pattern against a name; port names that are bus bits as OpenSTA takes
// them (instance names such as "r[3]" are names like any other there).
bool name_matches(const std::string& pattern, std::string_view name, bool port) {
  std::string_view base;
  if (!port || pattern.empty() || pattern.back() == ']' || !bus_of(name, &base)) return glob_match(pattern, name);
  return glob_match(pattern, base);
}

// The name a pattern without wildcards stands for (a\[3\] stands for
// a[3]), as glob_match reads escapes; false when the pattern holds an
// unescaped '*' or '?'. Such a pattern matches exactly the names equal to
// it (glob_match then compares character by character).
bool literal_of(std::string_view p, std::string* name) {
  name->clear();
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '\\' && i + 1 < p.size()) {
      *name += p[++i];
      continue;
    }
    if (p[i] == '*' || p[i] == '?') return false;
    *name += p[i];
  }
  return true;
}

// The name a -regexp pattern stands for when it holds no operator: letters,
// digits and other characters that stand for themselves, and "\x" for a
// character x that is no letter or digit ("r\[3\]" stands for "r[3]").
// Anchored at both ends, such a pattern matches exactly the names equal to
// it. False for any other pattern.
bool regexp_literal_of(std::string_view p, std::string* name) {
  name->clear();
  for (size_t i = 0; i < p.size(); ++i) {
    const char ch = p[i];
    if (ch == '\\') {
      if (i + 1 == p.size() || std::isalnum(static_cast<unsigned char>(p[i + 1]))) return false;
      *name += p[++i];
      continue;
    }
    if (std::strchr("^$.*+?()[]{}|", ch)) return false;
    *name += ch;
  }
  return true;
}

// How a collection reads its patterns: glob patterns, or with -regexp
// regular expressions anchored as OpenSTA anchors them ("^" before the
// text and "$" after it, so "a|b" takes the names that begin with a and
// those that end with b), case folded with -nocase (which OpenSTA ignores
// without -regexp).
struct PATTERN_MODE {
  bool regexp = false;
  bool nocase = false;
};

// Whether OpenSTA reads a -regexp pattern as an expression when it names
// cells, pins, nets or clocks: one without any of ". + * ? [ ]" is looked
// up there as a name, as written and whatever -nocase says ("a|b" and
// "(a)" name nothing, "A" under -nocase no "a"). Ports are matched against
// every pattern.
bool regexp_has_wildcards(std::string_view p) { return p.find_first_of(".+*?[]") != std::string_view::npos; }

// Compiles the -regexp patterns of `cmd`; false with *why naming the
// pattern the engine cannot compile.
bool compile_regexp(const std::string& cmd, const std::string& pattern, bool nocase, std::vector<ZTL_REGEXP>* out,
                    std::string* why) {
  out->emplace_back("^" + pattern + "$", !nocase);
  if (out->back().is_pattern_valid()) return true;
  *why = cmd + " -regexp: \"" + pattern + "\" is not a regular expression the engine reads";
  return false;
}

// A time in the file's unit (`scale` picoseconds each) as whole picoseconds.
bool parse_number(const std::string& w, int* v, double scale = 1.0) {
  char* end = nullptr;
  const double d = std::strtod(w.c_str(), &end) * scale;
  if (w.empty() || *end != '\0' || !std::isfinite(d) || std::fabs(d) > 1e9) return false;
  *v = int(std::lround(d));
  return true;
}

// Picoseconds per unit of a "set_units -time" value: an optional number
// before the unit ("1ns", "100ps", "0.1ns"); false for anything else.
bool time_unit_scale(const std::string& value, double* scale) {
  size_t u = 0;
  while (u < value.size() && (std::isdigit(static_cast<unsigned char>(value[u])) || value[u] == '.')) ++u;
  double factor = 1.0;
  if (u > 0) {
    char* end = nullptr;
    const std::string number = value.substr(0, u);
    factor = std::strtod(number.c_str(), &end);
    if (*end != '\0' || !(factor > 0) || !std::isfinite(factor)) return false;
  }
  std::string unit = value.substr(u);
  for (char& c : unit) c = char(std::tolower(static_cast<unsigned char>(c)));
  static const std::pair<const char*, double> units[] = {{"fs", 1e-3}, {"ps", 1.0}, {"ns", 1e3},
                                                         {"us", 1e6},  {"ms", 1e9}, {"s", 1e12}};
  for (const auto& [name, ps] : units)
    if (unit == name) {
      *scale = factor * ps;
      return true;
    }
  return false;
}

// Why the clock-latency options are skipped alone.
const char* const kNoClockLatency = "clock latency is not modelled";

// Whether `word` is one of `list`.
template <size_t N>
bool word_in(const std::string& word, const char* const (&list)[N]) {
  return std::find_if(std::begin(list), std::end(list), [&](const char* w) { return word == w; }) != std::end(list);
}

// SDC commands the engine reads without modelling them: skipped with a
// warning (sdc_version and current_design, which change nothing here,
// without one).
bool is_skipped_sdc_command(const std::string& c) {
  static const char* const known[] = {
      "create_generated_clock", "current_design", "current_instance", "group_path", "set_case_analysis",
      "set_clock_gating_check", "set_clock_groups", "set_clock_latency", "set_clock_sense",
      "set_clock_transition", "set_clock_uncertainty", "set_data_check", "set_disable_timing", "set_drive",
      "set_driving_cell", "set_fanout_load", "set_hierarchy_separator", "set_ideal_latency",
      "set_ideal_network", "set_ideal_transition", "set_input_transition", "set_load", "set_logic_dc",
      "set_logic_one", "set_logic_zero", "set_max_area", "set_max_capacitance", "set_max_dynamic_power",
      "set_max_fanout", "set_max_leakage_power", "set_max_time_borrow", "set_max_transition",
      "set_min_capacitance", "set_min_delay", "set_min_pulse_width", "set_multicycle_path",
      "set_operating_conditions", "set_port_fanout_number", "set_propagated_clock", "set_resistance",
      "set_sense", "set_timing_derate", "set_voltage", "set_wire_load_min_block_size", "set_wire_load_mode",
      "set_wire_load_model", "set_wire_load_selection_group", "sdc_version",
      // Power-intent and placement commands of the same files.
      "create_voltage_area", "set_level_shifter_strategy", "set_level_shifter_threshold", "set_min_porosity"};
  return word_in(c, known);
}

// Up to three names in quotes, then how many more ("\"a\", \"b\", \"c\" and 4 more").
std::string quoted_names(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size() && i < 3; ++i) out += (i ? ", \"" : "\"") + names[i] + "\"";
  if (names.size() > 3) out += " and " + std::to_string(names.size() - 3) + " more";
  return out;
}

class SDC_READER {
 public:
  SDC_READER(const SSC_NETLIST_DATA& data, SSC_CONSTRAINTS* out, bool clocks_known)
      : m_data(data),
        m_out(out),
        m_clocks_known(clocks_known),
        m_named(data.nodes.size(), 0),
        m_min_delay(data.nodes.size(), 0) {
    m_paths.reserve(data.nodes.size());
    for (const TDB_NODE& n : data.nodes) {
      std::string p = SSC_NETLIST_DATA::gate_path_of(n.get_string_name());
      const size_t bar = p.rfind('|');
      m_leaf.push_back(bar == std::string::npos ? p : p.substr(bar + 1));
      m_paths.push_back(std::move(p));
    }
  }

  bool command(const std::vector<std::string>& w, std::string* why);
  // The unfinished text at the end of a file (`where`: "in a backslash",
  // "inside a {", ...): its commands, the last one incomplete, the others
  // complete on its lines before it. None is applied; one warning, on the
  // current line (where the text starts); the registers they name count as
  // named.
  void drop_unfinished(const std::vector<std::string>* cmds, size_t count, const std::string& where) {
    if (count == 0 || cmds[0].empty()) return;
    if (count == 1)
      warn(cmds[0].front() + ": the file ends " + where + " before the command is complete; the command is not applied");
    else
      warn(cmds[0].front() + " and " + std::to_string(count - 1) + (count == 2 ? " more command" : " more commands") +
           ": the file ends " + where + " before the last command is complete; none of the commands from this line on "
           "is applied");
    for (size_t k = 0; k < count; ++k) note_skipped_targets(cmds[k]);
  }
  void set_line(int line) { m_line = line; }
  // Drops the delays that later ones replaced; makes the warnings that
  // need every clock (warn_registers_clocked_by_loops).
  void finish();
  void warn_registers_clocked_by_loops();

 private:
  struct TARGETS {
    std::vector<uint32_t> nodes;
    std::vector<int> clocks;
    bool any = false;
    // The least node of the first pattern that matched one, in the
    // collection that gave the first nodes (OpenSTA names a clock without
    // -name after it); -1: none.
    int64_t first = -1;
  };
  // A pattern with wildcards, or a -regexp pattern, against a node's own
  // name (its last level), as OpenSTA matches the names of the top
  // instance: never against the path, whose model name a wildcard would
  // match too ("*sync*" taking every node of a model uart_sync).
  bool matches(uint32_t id, const std::string& pattern) const { return name_matches(pattern, m_leaf[id], is_port(id)); }
  bool matches(uint32_t id, const std::string& pattern, ZTL_REGEXP& re);
  bool is_port(uint32_t id) const {
    const TDB_NODE_KIND k = m_data.nodes[id].get_kind();
    return k == TDB_NODE_IN_PORT || k == TDB_NODE_OUT_PORT;
  }
  bool of_kind(uint32_t id, int kind) const {
    const TDB_NODE_KIND k = m_data.nodes[id].get_kind();
    switch (kind) {
      case 0: return is_port(id);
      case 2: return !is_port(id);
      case 3: return k == TDB_NODE_IN_PORT;
      case 4: return k == TDB_NODE_OUT_PORT;
      case 5: return k == TDB_NODE_REGISTER;
      default: return true;
    }
  }
  // Calls f with each entry of node id in the exact-name index (below).
  template <class F>
  void exact_entries(uint32_t id, F&& f) const {
    f(id * 4 + NAME_PATH);
    if (m_leaf[id] != m_paths[id]) f(id * 4 + NAME_LEAF);
    if (!is_port(id)) return;
    std::string_view path_bus, leaf_bus;
    if (bus_of(m_paths[id], &path_bus)) f(id * 4 + NAME_PATH_BUS);
    if (bus_of(m_leaf[id], &leaf_bus) && leaf_bus != path_bus) f(id * 4 + NAME_LEAF_BUS);
  }
  void index_exact_names();
  void add_exact(const std::string& pattern, const std::string& name, int kind, std::vector<uint32_t>* ids);
  bool add_nodes(const std::string& cmd, const std::vector<std::string>& patterns, int kind, PATTERN_MODE mode,
                 TARGETS* t, std::vector<std::string>* unmatched, std::string* why);
  void add_all(int kind, TARGETS* t) const;
  bool add_clocks(const std::vector<std::string>& patterns, bool all, PATTERN_MODE mode, TARGETS* t,
                  std::vector<std::string>* unmatched, std::string* why) const;
  // How a bare word (no collection) is read: as a command's targets (ports,
  // else cells), as the points of a path rule's -from or -to (clocks, else
  // cells, else ports, pattern by pattern) or of its -through (cells, else
  // ports).
  enum BARE { BARE_TARGETS, BARE_PATH_ENDS, BARE_THROUGH };
  // Collects the targets of a word, and notes the registers among them.
  bool collect(const std::string& word, TARGETS* t, std::string* why, BARE bare = BARE_TARGETS);
  bool collect_targets(const std::string& word, TARGETS* t, std::string* why, BARE bare);
  bool collect_bare(const std::string& word, BARE bare, TARGETS* t, std::string* why);
  static BARE bare_points(const std::string& option);
  // What a collection's words give: its patterns, how they are read, and
  // its applied options.
  struct COLLECTION {
    std::vector<std::string> patterns;
    PATTERN_MODE mode;
    std::vector<int> clocks;     // -clock of all_registers
    bool no_clocks = false;      // -no_clocks of all_inputs
    bool dropped_value = false;  // an option not applied had a value
    bool empty_list = false;     // a pattern word that is an empty list ("{}")
  };
  bool collection_words(const std::vector<std::string>& inner, const std::vector<char>& substituted, COLLECTION* c,
                        std::string* why);
  bool collection_targets(const std::vector<std::string>& inner, const std::vector<char>& substituted, TARGETS* t,
                          std::string* why);
  bool command_targets(const std::vector<std::string>& inner, const std::vector<char>& substituted, BARE bare,
                       TARGETS* t, std::string* why);
  bool collect_list(const std::vector<std::string>& inner, const std::vector<char>& substituted, BARE bare,
                    TARGETS* t, std::string* why);
  bool substituted_value(const std::string& word, std::string* value, bool* evaluated, std::string* why);
  bool collect_clocks(const std::string& word, TARGETS* t, std::string* why);
  const SSC_REGISTER_CLOCKS& register_clocks();
  void keep_registers_of(const std::vector<int>& clocks, std::vector<uint32_t>* nodes);
  void note_skipped_targets(const std::vector<std::string>& w);
  void warn_sources_without_registers(const std::vector<uint32_t>& sources);
  const std::vector<char>& feeds_data();
  void warn_clock_ports_feeding_data(const std::vector<uint32_t>& sources);
  bool times_clock_data(uint32_t v);
  bool skip_widened(const std::string& command);
  void settle_edges(bool has_waveform, SSC_SDC_CLOCK* c);
  void take_sources(const SSC_SDC_CLOCK& c);
  void remove_clock(int k);
  void warn(const std::string& what);
  void warn_option_skipped(const std::string& command, const std::string& option, const char* why);
  bool clock_index(const std::string& name, int* idx) const {
    for (size_t i = 0; i < m_out->clocks.size(); ++i)
      if (m_out->clocks[i].name == name) {
        *idx = int(i);
        return true;
      }
    return false;
  }
  bool clock_of(const std::string& word, int* idx, std::string* why);
  bool io_delay_clock(const std::string& command, const std::string& word, int* idx, std::string* why);
  std::vector<std::string> keep_kinds(std::vector<uint32_t>* nodes, TDB_NODE_KIND a, TDB_NODE_KIND b) const;
  bool create_clock(const std::vector<std::string>& w, std::string* why);
  bool io_delay(const std::vector<std::string>& w, bool input, std::string* why);
  bool path_rule(const std::vector<std::string>& w, bool max_delay, std::string* why);
  void keep_path_ends(const std::string& command, SSC_SDC_PATH_RULE* r);
  void store_rule(const std::string& command, SSC_SDC_PATH_RULE r);
  bool set_units(const std::vector<std::string>& w, std::string* why);
  void replace_io_delays(const std::vector<uint32_t>& nodes, bool input, int keep_clock, bool keep_fall);

  const SSC_NETLIST_DATA& m_data;
  SSC_CONSTRAINTS* m_out;
  bool m_clocks_known;  // every register's clock comes from within m_data (ssc_read_sdc)
  std::vector<std::string> m_paths, m_leaf;
  // Nodes by the names a pattern without wildcards names: every node's
  // path and last level (its own name), and for a port that is a
  // bus bit the bus of each (what a pattern that does not end in ']'
  // meets). Entries are id * 4 + which name (NAME_PATH, NAME_LEAF,
  // NAME_PATH_BUS, NAME_LEAF_BUS), grouped by a hash of the name into
  // buckets (m_bucket_begin[b] .. m_bucket_begin[b + 1] of m_entries): two
  // flat arrays, made on first use in two passes over the names.
  enum { NAME_PATH, NAME_LEAF, NAME_PATH_BUS, NAME_LEAF_BUS };
  std::string_view entry_name(uint32_t entry) const;
  int m_bucket_shift = 64;
  std::vector<uint32_t> m_bucket_begin, m_entries;
  std::string m_bus;  // the bus name of a port a -regexp pattern is matched against
  static constexpr int kExactScans = 4;  // lookups before the index is made
  int m_exact_scans = 0;
  int m_line = 0;
  bool m_quiet = false;  // no warnings (the targets of a skipped command)
  std::vector<char> m_named;           // per node: a register some command names
  std::vector<char> m_reaches_loop;     // per node: ssc_reaches_loop, built when needed
  // Where the first create_clock put its warnings (the count of warnings
  // before them) and its line: warn_registers_clocked_by_loops' place,
  // filled once every clock is known (-1: no create_clock).
  int64_t m_loop_warning_at = -1;
  int m_loop_warning_line = 0;
  std::vector<char> m_feeds_data;       // per node: data from it reaches a capture (empty until needed)
  std::vector<char> m_min_delay;        // per node: a port a -min I/O delay names
  // The first option of this command's collections that is not applied and
  // could narrow its collection ("all_registers -rise_clock"): the
  // collection may take more than it names, so the command is skipped.
  std::string m_widened;
  // Each register's clock under the clocks made so far (register_clocks):
  // made when first asked, again after a create_clock.
  SSC_REGISTER_CLOCKS m_register_clocks;
  bool m_register_clocks_made = false;
  double m_time_scale = 1.0;  // picoseconds per time unit of the file
  std::vector<std::string> m_removed_clocks;  // clocks a create_clock removed, by name
  // Per node and direction (output, input): the node's delays in io_delays
  // entries before this index are replaced (0: none; empty until needed).
  std::vector<uint32_t> m_replaced_before[2];
};

// Keeps the first warnings; the rest are counted, so that a file of
// millions of unmatched patterns holds no more memory than a short one.
// An option whose command applies without it: skipped alone, with a
// warning (`why` in parentheses when given).
void SDC_READER::warn_option_skipped(const std::string& command, const std::string& option, const char* why) {
  warn(command + " " + option + " is not applied" + (*why ? std::string(" (") + why + ")" : std::string()) +
       "; the rest of the command is");
}

void SDC_READER::warn(const std::string& what) {
  if (m_quiet) return;
  if (m_out->warnings.size() < SSC_CONSTRAINTS::kMaxWarnings)
    m_out->warnings.push_back("line " + std::to_string(m_line) + ": " + what);
  else
    ++m_out->more_warnings;
}

// The name an entry of the exact-name index stands for.
std::string_view SDC_READER::entry_name(uint32_t entry) const {
  const uint32_t id = entry >> 2;
  std::string_view name = (entry & 1) ? m_leaf[id] : m_paths[id];
  if (entry & 2) bus_of(name, &name);
  return name;
}

void SDC_READER::index_exact_names() {
  std::vector<uint32_t> entries;
  entries.reserve(2 * m_paths.size());
  for (uint32_t id = 0; id < m_paths.size(); ++id) exact_entries(id, [&](uint32_t e) { entries.push_back(e); });
  int bits = 1;
  while ((size_t(1) << bits) < entries.size()) ++bits;
  m_bucket_shift = 64 - bits;
  std::vector<uint32_t> bucket(entries.size());
  m_bucket_begin.assign((size_t(1) << bits) + 1, 0);
  for (size_t k = 0; k < entries.size(); ++k) {
    bucket[k] = uint32_t(uint64_t(std::hash<std::string_view>()(entry_name(entries[k]))) >> m_bucket_shift);
    ++m_bucket_begin[bucket[k] + 1];
  }
  for (size_t b = 1; b < m_bucket_begin.size(); ++b) m_bucket_begin[b] += m_bucket_begin[b - 1];
  m_entries.resize(entries.size());
  std::vector<uint32_t> fill(m_bucket_begin.begin(), m_bucket_begin.end() - 1);
  for (size_t k = 0; k < entries.size(); ++k) m_entries[fill[bucket[k]]++] = entries[k];
}

// The nodes of the kind that `pattern`, which stands for `name` alone,
// names: those whose own name or path is `name`. A pattern that does not
// end in ']' meets a port that is a bus bit by its bus (and no whole name
// that ends in ']'), any other name whole, as matches() meets them.
// The first few patterns are looked up by comparing every node's names
// (cheaper than hashing them all for a short file), the others in the
// index, made on the first of them.
void SDC_READER::add_exact(const std::string& pattern, const std::string& name, int kind, std::vector<uint32_t>* ids) {
  const bool whole = pattern.empty() || pattern.back() == ']';
  auto named = [&](uint32_t e) { return !(whole && (e & 2)) && entry_name(e) == name; };
  if (m_bucket_begin.empty() && ++m_exact_scans <= kExactScans) {
    for (uint32_t id = 0; id < m_paths.size(); ++id) {
      if (!of_kind(id, kind)) continue;
      bool hit = false;
      exact_entries(id, [&](uint32_t e) { hit = hit || named(e); });
      if (hit) ids->push_back(id);
    }
    return;
  }
  if (m_bucket_begin.empty()) index_exact_names();
  const uint64_t b = uint64_t(std::hash<std::string_view>()(name)) >> m_bucket_shift;
  for (uint32_t k = m_bucket_begin[b]; k < m_bucket_begin[b + 1]; ++k)
    if (named(m_entries[k]) && of_kind(m_entries[k] >> 2, kind)) ids->push_back(m_entries[k] >> 2);
}

// A -regexp pattern against a node's own name; a port that is a bus bit
// by its bus name unless the pattern ends in ']', as glob patterns meet it
// (OpenSTA reads bus ports so under -regexp as well).
bool SDC_READER::matches(uint32_t id, const std::string& pattern, ZTL_REGEXP& re) {
  std::string_view bus;
  if (!is_port(id) || pattern.empty() || pattern.back() == ']' || !bus_of(m_leaf[id], &bus))
    return re.search(m_leaf[id]);
  m_bus.assign(bus);  // into a buffer kept between calls: no allocation per node
  return re.search(m_bus);
}

// Every node of the kind, in id order.
void SDC_READER::add_all(int kind, TARGETS* t) const {
  t->any = true;
  for (uint32_t id = 0; id < m_data.nodes.size(); ++id)
    if (of_kind(id, kind)) t->nodes.push_back(id);
}

// The nodes of the collection `cmd` that the patterns name, by kind: 0
// ports, 1 any node (pins), 2 cells (registers and logic, no
// port: OpenSTA's get_cells returns none), 3 in ports, 4 out ports, 5
// registers only. Patterns that match no node of the kind are
// appended to *unmatched. A pattern that stands for one name (no wildcard,
// or a -regexp pattern without operators and case folding) is looked up by
// name, its own or its path ("top|clk"), the others are compiled once and
// matched against every node of the kind by its own name; the nodes come
// in id order either way. False with *why for a -regexp pattern the engine
// cannot compile.
bool SDC_READER::add_nodes(const std::string& cmd, const std::vector<std::string>& patterns, int kind,
                           PATTERN_MODE mode, TARGETS* t, std::vector<std::string>* unmatched, std::string* why) {
  if (patterns.empty()) {
    add_all(kind, t);
    return true;
  }
  t->any = true;
  std::vector<char> used(patterns.size(), 0);
  std::vector<size_t> scanned;     // patterns matched against every node of the kind
  std::vector<ZTL_REGEXP> regexps;  // with -regexp: scanned[k]'s expression
  std::vector<uint32_t> hits;
  std::string name;
  size_t first_pattern = patterns.size();
  uint32_t first = 0;
  auto note = [&](size_t p, uint32_t id) {
    if (p < first_pattern || (p == first_pattern && id < first)) first_pattern = p, first = id;
  };
  for (size_t p = 0; p < patterns.size(); ++p) {
    bool one_name = false;
    if (!mode.regexp) {
      one_name = literal_of(patterns[p], &name);
    } else if (kind != 0 && !regexp_has_wildcards(patterns[p])) {
      one_name = true;
      name = patterns[p];
    } else {
      // Anchored, a pattern without operators matches its name alone.
      one_name = !mode.nocase && regexp_literal_of(patterns[p], &name);
    }
    if (!one_name) {
      if (mode.regexp && !compile_regexp(cmd, patterns[p], mode.nocase, &regexps, why)) return false;
      scanned.push_back(p);
      continue;
    }
    const size_t before = hits.size();
    add_exact(patterns[p], name, kind, &hits);
    used[p] = hits.size() > before;
    for (size_t k = before; k < hits.size(); ++k) note(p, hits[k]);
  }
  if (!scanned.empty()) {
    for (uint32_t id = 0; id < m_data.nodes.size(); ++id) {
      if (!of_kind(id, kind)) continue;
      bool hit = false;
      for (size_t k = 0; k < scanned.size(); ++k) {
        const std::string& pattern = patterns[scanned[k]];
        if (mode.regexp ? matches(id, pattern, regexps[k]) : matches(id, pattern)) {
          used[scanned[k]] = 1;
          hit = true;
          note(scanned[k], id);
        }
      }
      if (hit) hits.push_back(id);
    }
  }
  std::sort(hits.begin(), hits.end());
  hits.erase(std::unique(hits.begin(), hits.end()), hits.end());
  if (t->nodes.empty() && first_pattern < patterns.size()) t->first = first;
  t->nodes.insert(t->nodes.end(), hits.begin(), hits.end());
  for (size_t p = 0; p < patterns.size(); ++p)
    if (!used[p]) unmatched->push_back(patterns[p]);
  return true;
}

// The options of the collection commands that take a value (OpenSTA's
// get_*, all_registers); any other option is a flag.
bool collection_option_has_value(const std::string& o) {
  static const char* const valued[] = {"-filter", "-of_objects", "-hsc", "-clock", "-rise_clock", "-fall_clock"};
  return word_in(o, valued);
}

// Options of a collection the reader applies or that change nothing here:
// -regexp and -nocase of the get_ commands, -clock of all_registers,
// -no_clocks of all_inputs, -quiet, and all_registers' -cells and
// -edge_triggered (its default; every register here is edge-triggered).
bool collection_option_applied(const std::string& cmd, const std::string& o) {
  if (o == "-quiet") return true;
  if (o == "-regexp" || o == "-nocase") return cmd.rfind("get_", 0) == 0;
  if (cmd == "all_registers") return o == "-clock" || o == "-cells" || o == "-edge_triggered";
  return cmd == "all_inputs" && o == "-no_clocks";
}

// The registers of the given clocks (all_registers -clock): a register
// belongs to the clocks the analysis assigns it (ssc_register_clocks: the
// first clock defined on its clock source, or every clock reaching it
// through gates), on either edge.
const SSC_REGISTER_CLOCKS& SDC_READER::register_clocks() {
  if (!m_register_clocks_made) ssc_register_clocks(m_data, m_out->clocks, &m_register_clocks);
  m_register_clocks_made = true;
  return m_register_clocks;
}

void SDC_READER::keep_registers_of(const std::vector<int>& clocks, std::vector<uint32_t>* nodes) {
  const SSC_REGISTER_CLOCKS& registers = register_clocks();
  auto named = [&](int k) { return k >= 0 && std::find(clocks.begin(), clocks.end(), k) != clocks.end(); };
  std::vector<uint32_t> kept;
  for (uint32_t v : *nodes) {
    bool keep = named(registers.clock[v]);
    // The further clocks of a register that several clocks reach.
    auto it = std::lower_bound(registers.more.begin(), registers.more.end(), v,
                               [](const SSC_REGISTER_CLOCKS::MORE& m, uint32_t r) { return m.reg < r; });
    for (; !keep && it != registers.more.end() && it->reg == v; ++it) keep = named(it->clock);
    if (keep) kept.push_back(v);
  }
  nodes->swap(kept);
}

// A collection "[cmd options patterns]": its patterns and how they are
// read, and the values of -clock; options it does not apply are warned and
// their values dropped.
bool SDC_READER::collection_words(const std::vector<std::string>& inner, const std::vector<char>& substituted,
                                  COLLECTION* c, std::string* why) {
  const std::string& cmd = inner.front();
  std::vector<int>* clocks = &c->clocks;
  for (size_t i = 1; i < inner.size(); ++i) {
    const std::string& o = inner[i];
    if (i < substituted.size() && substituted[i]) {
      // A nested command ("[list a b]"): its value is the list of patterns.
      std::string value;
      bool evaluated = false;
      std::vector<std::string> parts;
      if (!substituted_value(o, &value, &evaluated, why)) return false;
      if (!evaluated) {
        if (m_widened.empty()) m_widened = cmd + " " + o;
        c->dropped_value = true;
        continue;
      }
      if (!atcl_split_list(value, &parts, why)) return false;
      c->empty_list |= parts.empty();
      c->patterns.insert(c->patterns.end(), parts.begin(), parts.end());
      continue;
    }
    if (o.empty() || o[0] != '-') {
      std::vector<std::string> parts;
      if (!pattern_list(o, &parts, why)) return false;
      c->empty_list |= parts.empty();
      c->patterns.insert(c->patterns.end(), parts.begin(), parts.end());
      continue;
    }
    const bool valued = collection_option_has_value(o) && i + 1 < inner.size();
    if (!collection_option_applied(cmd, o)) {
      if (o != "-nocase") {
        // Its collection may take more than it names (no option dropped
        // here makes it take less than OpenSTA's but -nocase).
        if (m_widened.empty()) m_widened = cmd + " " + o;
      } else {
        warn(cmd + " " + o + " is not applied");
      }
      c->dropped_value |= valued;
      i += valued ? 1 : 0;
      continue;
    }
    if (o == "-no_clocks") c->no_clocks = true;
    if (o == "-regexp") c->mode.regexp = true;
    if (o == "-nocase") c->mode.nocase = true;
    if (o != "-clock") continue;
    if (!valued) {
      *why = "missing value for -clock of " + cmd;
      return false;
    }
    TARGETS t;
    if (!collect_clocks(inner[++i], &t, why)) return false;
    clocks->insert(clocks->end(), t.clocks.begin(), t.clocks.end());
    if (clocks->empty()) clocks->push_back(-2);  // no clock (-2 is none's index): no register
  }
  // OpenSTA folds case only in regular expressions.
  if (c->mode.nocase && !c->mode.regexp) {
    warn(cmd + " -nocase is ignored without -regexp");
    c->mode.nocase = false;
  }
  return true;
}

// The value of a word that is one nested command ("[list a b]"), as Tcl
// gives it: that of its last command, where list and concat are
// evaluated as Tcl evaluates them (atcl_merge_list), their own nested
// commands first. Any other command's value is not known here: false
// *evaluated, and the command using it is skipped (m_widened), so that
// no rule applies to part of what it names.
bool SDC_READER::substituted_value(const std::string& word, std::string* value, bool* evaluated, std::string* why) {
  ATCL_SCRIPT_READER commands(std::string_view(word).substr(1, word.size() - 2));
  std::vector<std::string> w;
  std::vector<char> substituted;
  value->clear();
  *evaluated = true;
  while (commands.next(&w, &substituted, why)) {
    if (w[0] != "list" && w[0] != "concat") {
      *evaluated = false;
      return true;
    }
    for (size_t k = 1; k < w.size(); ++k) {
      if (!substituted[k]) continue;
      std::string nested;
      if (!substituted_value(w[k], &nested, evaluated, why) || !*evaluated) return why->empty();
      w[k].swap(nested);
    }
    *value = atcl_merge_list(std::vector<std::string>(w.begin() + 1, w.end()), w[0] == "concat");
  }
  return why->empty();
}

// The clocks of a -clock value inside a collection: a collection of
// clocks, or clock names and patterns.
bool SDC_READER::collect_clocks(const std::string& word, TARGETS* t, std::string* why) {
  if (word.size() >= 2 && word.front() == '[' && word.back() == ']') return collect(word, t, why);
  std::vector<std::string> names;
  if (!pattern_list(word, &names, why)) return false;
  for (const std::string& n : names) {
    const size_t before = t->clocks.size();
    for (size_t c = 0; c < m_out->clocks.size(); ++c)
      if (glob_match(n, m_out->clocks[c].name)) t->clocks.push_back(int(c));
    if (t->clocks.size() == before) warn("-clock: no clock matches \"" + n + "\"");
  }
  return true;
}

// The clocks the patterns match (all_clocks: every clock; no pattern:
// every clock). Patterns that match none are appended to *unmatched. False
// with *why for a -regexp pattern the engine cannot compile.
bool SDC_READER::add_clocks(const std::vector<std::string>& patterns, bool all, PATTERN_MODE mode, TARGETS* t,
                            std::vector<std::string>* unmatched, std::string* why) const {
  std::vector<char> used(patterns.size(), 0);
  // With -regexp: per pattern, its expression, or none for a pattern
  // looked up as a name (regexp_has_wildcards).
  std::vector<ZTL_REGEXP> regexps;
  std::vector<int> regexp_of(patterns.size(), -1);
  for (size_t p = 0; p < patterns.size() && mode.regexp; ++p) {
    if (!regexp_has_wildcards(patterns[p])) continue;
    if (!compile_regexp("get_clocks", patterns[p], mode.nocase, &regexps, why)) return false;
    regexp_of[p] = int(regexps.size()) - 1;
  }
  auto matches = [&](size_t p, const std::string& name) {
    if (!mode.regexp) return glob_match(patterns[p], name);
    return regexp_of[p] < 0 ? patterns[p] == name : regexps[size_t(regexp_of[p])].search(name);
  };
  for (size_t c = 0; c < m_out->clocks.size(); ++c) {
    bool hit = all || patterns.empty();
    for (size_t p = 0; p < patterns.size(); ++p)
      if (matches(p, m_out->clocks[c].name)) {
        used[p] = 1;
        hit = true;
      }
    if (hit) t->clocks.push_back(int(c));
  }
  for (size_t p = 0; p < patterns.size(); ++p)
    if (!used[p] && !all) unmatched->push_back(patterns[p]);
  return true;
}

bool SDC_READER::collect(const std::string& word, TARGETS* t, std::string* why, BARE bare) {
  const size_t first = t->nodes.size();
  const bool ok = collect_targets(word, t, why, bare);
  for (size_t k = first; k < t->nodes.size(); ++k)
    if (m_data.nodes[t->nodes[k]].get_kind() == TDB_NODE_REGISTER) m_named[t->nodes[k]] = 1;
  return ok;
}

bool SDC_READER::collect_targets(const std::string& word, TARGETS* t, std::string* why, BARE bare) {
  if (word.size() < 2 || word.front() != '[' || word.back() != ']') return collect_bare(word, bare, t, why);
  // The collection is a script of its own, its value its last command's
  // (as Tcl takes it): the commands before the last are read for their
  // warnings and errors, as OpenSTA runs them, and name nothing.
  ATCL_SCRIPT_READER commands(std::string_view(word).substr(1, word.size() - 2));
  std::vector<std::string> inner, following;
  std::vector<char> substituted, following_substituted;
  if (!commands.next(&inner, &substituted, why)) {
    if (why->empty()) *why = "empty collection";
    return false;
  }
  while (commands.next(&following, &following_substituted, why)) {
    TARGETS unused;
    if (!command_targets(inner, substituted, bare, &unused, why)) return false;
    inner.swap(following);
    substituted.swap(following_substituted);
  }
  return why->empty() && command_targets(inner, substituted, bare, t, why);
}

// The targets of one command of a collection word: list and concat make a
// list of names and collections (collect_list), any other command is a
// collection.
bool SDC_READER::command_targets(const std::vector<std::string>& inner, const std::vector<char>& substituted, BARE bare,
                                 TARGETS* t, std::string* why) {
  if (inner.front() == "list" || inner.front() == "concat") return collect_list(inner, substituted, bare, t, why);
  return collection_targets(inner, substituted, t, why);
}

// "[list a [get_ports b] {c d}]": a Tcl list whose elements are names or
// collections, read as OpenSTA reads such a list of objects: a collection
// as itself, an element that is a list of more than one as each of its
// elements in turn (so nested lists flatten), an empty one as nothing, and
// any other as a bare word read the way `bare` says (a path rule's points:
// a clock, else cells, else ports). A nested list or concat whose value is
// known (substituted_value) is such an element; one that holds a
// collection is read as a word of its own. concat joins its words, so each
// of its words stands for its elements. An explicit stack: no recursion
// however deeply lists nest in braces.
bool SDC_READER::collect_list(const std::vector<std::string>& inner, const std::vector<char>& substituted, BARE bare,
                              TARGETS* t, std::string* why) {
  struct ELEMENT {
    std::string text;
    bool command;  // a nested command ("[get_ports b]")
    bool split;    // stands for its elements (a word of concat)
  };
  const bool concat = inner.front() == "concat";
  std::vector<ELEMENT> stack;
  for (size_t k = inner.size(); k-- > 1;) stack.push_back({inner[k], k < substituted.size() && substituted[k], concat});
  t->any = true;
  if (stack.empty()) warn(inner.front() + ": the list is empty");
  std::vector<std::string> parts;
  while (!stack.empty()) {
    ELEMENT e = std::move(stack.back());
    stack.pop_back();
    if (e.command) {
      std::string value;
      bool evaluated = false;
      if (!substituted_value(e.text, &value, &evaluated, why)) return false;
      if (evaluated) stack.push_back({std::move(value), false, false});
      else if (!collect_targets(e.text, t, why, bare)) return false;
      continue;
    }
    if (!atcl_split_list(e.text, &parts, why)) return false;
    if (parts.size() > 1 || (e.split && !parts.empty())) {
      for (size_t k = parts.size(); k-- > 0;) stack.push_back({std::move(parts[k]), false, false});
      continue;
    }
    if (!parts.empty() && !collect_bare(e.text, bare, t, why)) return false;
  }
  return true;
}

// The targets of one collection command, its words as Tcl reads them.
bool SDC_READER::collection_targets(const std::vector<std::string>& inner, const std::vector<char>& substituted,
                                    TARGETS* t, std::string* why) {
  std::vector<std::string> unmatched;
  const std::string cmd = inner.front();
  // A skipped command's collections are read for the registers they name
  // alone (m_quiet): those of ports and clocks need no matching.
  if (m_quiet && (cmd == "get_ports" || cmd == "all_inputs" || cmd == "all_outputs" || cmd == "get_clocks" ||
                  cmd == "all_clocks"))
    return true;
  COLLECTION c;
  if (!collection_words(inner, substituted, &c, why)) return false;
  const std::vector<std::string>& patterns = c.patterns;
  // Patterns that were an option's value, or an empty list ("{}", as
  // OpenSTA's get_ commands read it), name nothing (not every node).
  const bool none = patterns.empty() && (c.dropped_value || c.empty_list);
  const size_t before = t->nodes.size() + t->clocks.size();
  const int kind = cmd == "get_ports" ? 0 : cmd == "get_pins" || cmd == "get_nets" ? 1 : cmd == "get_cells" ? 2
                 : cmd == "get_registers" ? 5 : -1;
  if (kind >= 0) {
    if (!none && !add_nodes(cmd, patterns, kind, c.mode, t, &unmatched, why)) return false;
  } else if (cmd == "all_inputs") {
    TARGETS in;
    add_all(3, &in);
    std::vector<char> source;  // -no_clocks: a clock's source
    if (c.no_clocks) {
      source.assign(m_data.nodes.size(), 0);
      for (const SSC_SDC_CLOCK& c : m_out->clocks)
        for (uint32_t s : c.sources) source[s] = 1;
    }
    for (uint32_t v : in.nodes)
      if (source.empty() || !source[v]) t->nodes.push_back(v);
  } else if (cmd == "all_outputs") {
    add_all(4, t);
  } else if (cmd == "all_registers") {
    TARGETS regs;
    add_all(5, &regs);
    if (!c.clocks.empty() && m_clocks_known) keep_registers_of(c.clocks, &regs.nodes);
    t->nodes.insert(t->nodes.end(), regs.nodes.begin(), regs.nodes.end());
  } else if (cmd == "get_clocks" || cmd == "all_clocks") {
    if (!none && !add_clocks(patterns, cmd == "all_clocks", c.mode, t, &unmatched, why)) return false;
  } else {
    *why = "unknown collection " + cmd;
    return false;
  }
  t->any = true;
  for (const std::string& p : unmatched) warn(cmd + ": nothing matches \"" + p + "\"");
  if (unmatched.empty() && !none && t->nodes.size() + t->clocks.size() == before) warn(cmd + ": the list is empty");
  return true;
}

// Bare patterns. As a command's targets: the ports they match, or the
// cells when they match none. As a path rule's points, each pattern as
// OpenSTA reads it: the clocks it matches (-from, -to), else the cells it
// matches, else the ports; so "clk" names clock clk rather than its port,
// and "q" the register q rather than the output port q it drives (BLIF
// gives both one name).
bool SDC_READER::collect_bare(const std::string& word, BARE bare, TARGETS* t, std::string* why) {
  std::vector<std::string> patterns, unmatched;
  if (!pattern_list(word, &patterns, why)) return false;
  t->any = true;
  if (bare == BARE_TARGETS) {
    TARGETS ports;
    add_nodes("", patterns, 0, {}, &ports, &unmatched, why);
    if (ports.nodes.empty()) {
      unmatched.clear();
      add_nodes("", patterns, 2, {}, &ports, &unmatched, why);
    }
    for (const std::string& p : unmatched) warn("no port or cell matches \"" + p + "\"");
    // The first node as written, as a collection keeps it: a clock without
    // -name on "{clk2 clk1}" is clk2, as OpenSTA names it.
    if (t->nodes.empty() && ports.first >= 0) t->first = ports.first;
    t->nodes.insert(t->nodes.end(), ports.nodes.begin(), ports.nodes.end());
    return true;
  }
  TARGETS found;
  std::vector<std::string> one(1), ignored;
  for (const std::string& p : patterns) {
    one[0] = p;
    const size_t before = found.nodes.size() + found.clocks.size();
    if (bare == BARE_PATH_ENDS) add_clocks(one, false, {}, &found, &ignored, why);
    for (int kind : {2, 0})  // cells, then ports
      if (found.nodes.size() + found.clocks.size() == before) add_nodes("", one, kind, {}, &found, &ignored, why);
    if (found.nodes.size() + found.clocks.size() == before) unmatched.push_back(p);
  }
  for (const std::string& p : unmatched) warn("no port or cell matches \"" + p + "\"");
  std::sort(found.nodes.begin(), found.nodes.end());
  found.nodes.erase(std::unique(found.nodes.begin(), found.nodes.end()), found.nodes.end());
  std::sort(found.clocks.begin(), found.clocks.end());
  found.clocks.erase(std::unique(found.clocks.begin(), found.clocks.end()), found.clocks.end());
  t->nodes.insert(t->nodes.end(), found.nodes.begin(), found.nodes.end());
  t->clocks.insert(t->clocks.end(), found.clocks.begin(), found.clocks.end());
  return true;
}

// The clock of a -clock value: a name, or a collection of one clock
// ("[get_clocks c]", as OpenSTA reads it).
bool SDC_READER::clock_of(const std::string& word, int* idx, std::string* why) {
  if (word.size() >= 2 && word.front() == '[' && word.back() == ']') {
    TARGETS t;
    if (!collect(word, &t, why)) return false;
    if (t.clocks.size() == 1 && t.nodes.empty()) {
      *idx = t.clocks.front();
      return true;
    }
    *why = (t.clocks.size() > 1 ? "more than one clock in -clock " : "unknown clock ") + word;
    return false;
  }
  if (clock_index(word, idx)) return true;
  *why = "unknown clock " + word;
  return false;
}

// The clock of an I/O delay's -clock (-1: none). A name with wildcards
// that names no clock ("-clock *", as benchmark files write it), or the
// name of a clock a create_clock removed, is a warning and the delay
// applies without a clock, as OpenSTA applies it; any other unknown clock
// is an error.
bool SDC_READER::io_delay_clock(const std::string& command, const std::string& word, int* idx, std::string* why) {
  const bool collection = word.size() >= 2 && word.front() == '[' && word.back() == ']';
  if (!collection && !clock_index(word, idx) &&
      std::find(m_removed_clocks.begin(), m_removed_clocks.end(), word) != m_removed_clocks.end()) {
    warn(command + " -clock: clock \"" + word + "\" was removed (another clock took its sources); the delay is "
         "applied without a clock");
    *idx = -1;
    return true;
  }
  if (collection || clock_index(word, idx) || word.find_first_of("*?") == std::string::npos)
    return clock_of(word, idx, why);
  warn(command + " -clock: no clock is named \"" + word + "\"; the delay is applied without a clock");
  *idx = -1;
  return true;
}

// Keeps the nodes of kind a or b. Returns the names of the targets none of
// whose nodes is kept (a bidirectional pin has a node of each direction).
std::vector<std::string> SDC_READER::keep_kinds(std::vector<uint32_t>* nodes, TDB_NODE_KIND a, TDB_NODE_KIND b) const {
  std::vector<uint32_t> kept, dropped;
  for (uint32_t v : *nodes) {
    const TDB_NODE_KIND k = m_data.nodes[v].get_kind();
    (k == a || k == b ? kept : dropped).push_back(v);
  }
  std::vector<std::string> names;
  if (!dropped.empty()) {
    std::unordered_set<std::string_view> seen;
    for (uint32_t u : kept) seen.insert(m_paths[u]);
    for (uint32_t v : dropped)
      if (seen.insert(m_paths[v]).second) names.push_back(m_leaf[v]);
  }
  nodes->swap(kept);
  return names;
}

bool SDC_READER::create_clock(const std::vector<std::string>& w, std::string* why) {
  SSC_SDC_CLOCK c;
  bool has_period = false, has_waveform = false, add = false;
  TARGETS t;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "-period" && i + 1 < w.size()) {
      if (!parse_number(w[++i], &c.period, m_time_scale) || c.period < 0) {
        *why = "bad period";
        return false;
      }
      has_period = true;
    } else if (w[i] == "-name" && i + 1 < w.size()) {
      c.name = w[++i];
    } else if (w[i] == "-waveform" && i + 1 < w.size()) {
      std::vector<std::string> e;
      if (!atcl_split_list(w[++i], &e, why)) return false;
      if (e.size() != 2 || !parse_number(e[0], &c.rise, m_time_scale) || !parse_number(e[1], &c.fall, m_time_scale)) {
        *why = "bad waveform";
        return false;
      }
      has_waveform = true;
    } else if (w[i] == "-add") {
      add = true;
    } else if (w[i] == "-comment" && i + 1 < w.size()) {
      ++i;
      warn_option_skipped(w[0], "-comment", "");
    } else if (!w[i].empty() && w[i][0] == '-') {
      *why = "unknown option " + w[i];
      return false;
    } else if (!collect(w[i], &t, why)) {
      return false;
    }
  }
  if (!has_period) {
    *why = "create_clock without -period";
    return false;
  }
  // Sources the engine cannot select as named end the read: a clock made
  // on fewer or more sources, or on none, would time other paths without
  // a word.
  if (!m_widened.empty()) {
    *why = "create_clock: " + m_widened + " is not applied, so the clock's sources cannot be read";
    return false;
  }
  settle_edges(has_waveform, &c);
  c.sources = t.nodes;
  warn_sources_without_registers(c.sources);
  warn_clock_ports_feeding_data(c.sources);
  if (m_loop_warning_at < 0) {
    m_loop_warning_at = int64_t(m_out->warnings.size() + m_out->more_warnings);
    m_loop_warning_line = m_line;
  }
  // Without -name, the clock is named after its first source as written
  // (the first port of the first pattern that names one, "b" for
  // [get_ports {b a}] and for a bare list {b a}), as OpenSTA names it.
  if (c.name.empty())
    c.name = c.sources.empty() ? "virtual" : m_leaf[t.first >= 0 ? uint32_t(t.first) : c.sources.front()];
  // A clock made again by name on no source ("create_clock -name c -period
  // 800", or targets that name nothing) keeps the sources it had, with its
  // new edges, as OpenSTA keeps them: it stays the clock of its registers,
  // and takes no source from another clock.
  int existing = -1;
  const bool kept = c.sources.empty() && clock_index(c.name, &existing);
  if (kept) {
    c.sources = m_out->clocks[size_t(existing)].sources;
  } else if (add) {
    // A second clock on a source reaches none of its registers: they keep
    // the first (OpenSTA times them on both).
    for (const SSC_SDC_CLOCK& k : m_out->clocks)
      if (k.name != c.name && std::find_first_of(k.sources.begin(), k.sources.end(), c.sources.begin(),
                                                 c.sources.end()) != k.sources.end()) {
        warn("create_clock -add is not applied to registers: they keep the first clock of their source");
        break;
      }
  } else {
    take_sources(c);
  }
  if (clock_index(c.name, &existing)) m_out->clocks[size_t(existing)] = c;
  else m_out->clocks.push_back(c);
  m_register_clocks_made = false;
  return true;
}

// A clock made without -add takes its sources from the other clocks that
// had them, as OpenSTA moves them. A clock left without sources is
// removed, with the I/O delays on it and its place in path rules (a rule
// left without a point on a side it named goes too), as OpenSTA deletes
// it; a warning names it.
void SDC_READER::take_sources(const SSC_SDC_CLOCK& c) {
  if (c.sources.empty()) return;
  std::vector<uint32_t> taken = c.sources;
  std::sort(taken.begin(), taken.end());
  for (size_t i = m_out->clocks.size(); i-- > 0;) {
    SSC_SDC_CLOCK& k = m_out->clocks[i];
    if (k.name == c.name || k.sources.empty()) continue;
    k.sources.erase(std::remove_if(k.sources.begin(), k.sources.end(),
                                   [&](uint32_t v) { return std::binary_search(taken.begin(), taken.end(), v); }),
                    k.sources.end());
    if (!k.sources.empty()) continue;
    warn("create_clock: clock \"" + k.name + "\" has no source left; it is removed, with the I/O delays and path "
         "rules that name it");
    m_removed_clocks.push_back(k.name);
    remove_clock(int(i));
  }
}

// Removes clock k: its I/O delays name no port any more (the entries stay,
// so that the indices replace_io_delays marks hold), later clocks move down
// one index, and the path rules forget it. An output port that loses its
// delays so ends no path unless a delay is left to it (OpenSTA no longer
// ends a set_max_delay path there), as one that only -min delays name;
// an input port so left launches as one never delayed, as in OpenSTA.
void SDC_READER::remove_clock(int k) {
  m_out->clocks.erase(m_out->clocks.begin() + k);
  for (SSC_SDC_IO_DELAY& d : m_out->io_delays) {
    if (d.clock == k) {
      if (!d.input)
        for (uint32_t v : d.nodes) m_min_delay[v] = 1;
      d.nodes.clear();
      d.clock = -1;
    } else if (d.clock > k) {
      --d.clock;
    }
  }
  auto forget = [k](std::vector<int>* clocks) {
    const size_t before = clocks->size();
    clocks->erase(std::remove(clocks->begin(), clocks->end(), k), clocks->end());
    for (int& x : *clocks) x -= x > k ? 1 : 0;
    return clocks->size() != before;
  };
  std::vector<SSC_SDC_PATH_RULE>& rules = m_out->rules;
  rules.erase(std::remove_if(rules.begin(), rules.end(),
                             [&](SSC_SDC_PATH_RULE& r) {
                               const bool from = forget(&r.from_clocks), to = forget(&r.to_clocks);
                               return (from && r.from_clocks.empty() && r.from_nodes.empty()) ||
                                      (to && r.to_clocks.empty() && r.to_nodes.empty());
                             }),
              rules.end());
}

// The fall edge of a clock without -waveform is half a period after the
// rise; a fall before the rise is the fall of the next period (OpenSTA
// moves it so, with a warning).
void SDC_READER::settle_edges(bool has_waveform, SSC_SDC_CLOCK* c) {
  if (!has_waveform) c->fall = c->period / 2;
  if (has_waveform && c->fall < c->rise) {
    c->fall += c->period;
    warn("create_clock -waveform: the fall edge comes before the rise edge; taken one period later, at " +
         std::to_string(c->fall));
  }
}

// An output port a clock is created on ends no path (OpenSTA leaves it
// unconstrained): a warning naming it. (An input port that clocks no
// register launches its data at the clock's edges, as one that does:
// warn_clock_ports_feeding_data.)
void SDC_READER::warn_sources_without_registers(const std::vector<uint32_t>& sources) {
  std::vector<std::string> outputs;
  for (uint32_t v : sources)
    if (m_data.nodes[v].get_kind() == TDB_NODE_OUT_PORT) outputs.push_back(m_leaf[v]);
  if (!outputs.empty())
    warn("create_clock: " + std::string(outputs.size() == 1 ? "output port " : "output ports ") +
         quoted_names(outputs) + (outputs.size() == 1 ? " clocks" : " clock") + " no register; paths to " +
         (outputs.size() == 1 ? "it" : "them") + " are not timed");
}

// Per node: whether data from it reaches a capture (a register's data,
// enable or synchronous input, an output port) through logic. Found once,
// backwards from every capture arc, with an explicit stack.
const std::vector<char>& SDC_READER::feeds_data() {
  if (!m_feeds_data.empty()) return m_feeds_data;
  m_feeds_data.assign(m_data.nodes.size(), 0);
  std::vector<uint32_t> stack;
  auto reach = [&](uint32_t u) {
    if (!m_feeds_data[u]) {
      m_feeds_data[u] = 1;
      stack.push_back(u);
    }
  };
  for (const TDB_ARC& arc : m_data.arcs)
    if (arc.m_kind == TDB_ARC_CAPTURE) reach(arc.m_src);
  while (!stack.empty()) {
    const TDB_NODE& v = m_data.nodes[stack.back()];
    stack.pop_back();
    if (v.get_kind() != TDB_NODE_COMB) continue;
    for (uint32_t a = SSC_NETLIST_DATA::arc_begin(v); a < SSC_NETLIST_DATA::arc_end(v); ++a)
      if (m_data.arcs[a].m_kind == TDB_ARC_DATA) reach(m_data.arcs[a].m_src);
  }
  return m_feeds_data;
}

// Clock sources that drive data logic, whether they clock registers or
// none: input ports ("create_clock -period 10000 *" on data ports) and nets
// inside the logic (a gate's output, a register's, where data from before
// them stops: SSC_CONSTRAINTS::clocks_start_at_sources): their data paths
// are timed from the clock's edges, as OpenSTA launches them
// (clock_data_ports), unless their data reaches a capture
// through a loop (ssc_reaches_loop with feeds_data): the engine may cut it
// elsewhere than OpenSTA's levelizer, so such a source starts no data path,
// with a warning naming it. A loop the data meets that reaches no capture
// changes none of its paths.
bool SDC_READER::times_clock_data(uint32_t v) {
  if (!feeds_data()[v]) return false;
  if (m_reaches_loop.empty()) m_reaches_loop = ssc_reaches_loop(m_data, &feeds_data());
  if (m_reaches_loop[v]) return false;
  std::vector<uint32_t>& timed = m_out->clock_data_ports;
  auto at = std::lower_bound(timed.begin(), timed.end(), v);
  if (at == timed.end() || *at != v) timed.insert(at, v);
  return true;
}

void SDC_READER::warn_clock_ports_feeding_data(const std::vector<uint32_t>& sources) {
  std::vector<std::string> ports, nets;
  for (uint32_t v : sources) {
    if (m_data.nodes[v].get_kind() == TDB_NODE_OUT_PORT || !feeds_data()[v]) continue;
    if (!times_clock_data(v)) (is_port(v) ? ports : nets).push_back(m_leaf[v]);
  }
  for (const bool of_ports : {true, false}) {
    const std::vector<std::string>& names = of_ports ? ports : nets;
    if (names.empty()) continue;
    const bool one = names.size() == 1;
    warn("create_clock: " + std::string(of_ports ? (one ? "port " : "ports ") : (one ? "net " : "nets ")) +
         quoted_names(names) +
         (one ? " also feeds data logic that reaches a logic loop; its data paths are not timed"
              : " also feed data logic that reaches a logic loop; their data paths are not timed"));
  }
}

// Registers whose clock pin only a loop through registers' clock pins
// feeds: the logic before it, followed back through the clock pins of the
// registers it meets, reaches no port. OpenSTA's levelizer cuts such a loop
// and launches the registers' paths without a clock; the engine starts none
// there, so the first create_clock warns, naming them. A register that a
// clock created on the loop clocks (a net of its clock path) is timed and
// not named, whichever create_clock made that clock: the warning is made
// once every clock is known, in the first create_clock's place. One walk
// (an explicit stack) per distinct clock source.
void SDC_READER::warn_registers_clocked_by_loops() {
  if (m_loop_warning_at < 0) return;
  const uint32_t n = uint32_t(m_data.nodes.size());
  std::vector<char> state(n, 0);  // per clock source: 1 fed by a port, 2 by a loop alone, 3 neither
  std::vector<char> seen;
  std::vector<uint32_t> stack, visited;
  std::vector<std::string> regs;
  for (uint32_t r = 0; r < n; ++r) {
    const TDB_NODE& reg = m_data.nodes[r];
    const int s = reg.get_clock_source();
    if (reg.get_kind() != TDB_NODE_REGISTER || s < 0 || uint32_t(s) >= n) continue;
    if (!state[s]) {
      if (seen.empty()) seen.assign(n, 0);
      bool port = false, loop = false;
      stack.assign(1, uint32_t(s));
      visited.assign(1, uint32_t(s));
      seen[s] = 1;
      while (!stack.empty() && !port) {
        const uint32_t u = stack.back();
        stack.pop_back();
        const TDB_NODE& x = m_data.nodes[u];
        auto enter = [&](uint32_t w) {
          if (w >= n) return;
          if (seen[w]) {
            loop |= x.get_kind() == TDB_NODE_REGISTER;
            return;
          }
          const TDB_NODE& y = m_data.nodes[w];
          if (y.get_kind() != TDB_NODE_COMB && (y.get_kind() != TDB_NODE_REGISTER || y.get_clock_source() < 0)) {
            port = true;  // found without a step more (a gate's clock input)
            return;
          }
          seen[w] = 1;
          visited.push_back(w);
          stack.push_back(w);
        };
        if (x.get_kind() == TDB_NODE_COMB) {
          for (uint32_t k = SSC_NETLIST_DATA::arc_begin(x); k < SSC_NETLIST_DATA::arc_end(x); ++k)
            if (m_data.arcs[k].m_kind == TDB_ARC_DATA) enter(m_data.arcs[k].m_src);
        } else if (x.get_kind() == TDB_NODE_REGISTER && x.get_clock_source() >= 0) {
          enter(uint32_t(x.get_clock_source()));
        } else {
          port = true;  // a port (or a register without a clock pin)
        }
      }
      for (uint32_t u : visited) seen[u] = 0;
      state[s] = port ? 1 : (loop ? 2 : 3);
    }
    // A clock on a net of its clock path may clock it all the same (asked
    // only of the registers a loop alone feeds: most files have none).
    if (state[s] == 2 && register_clocks().clock[r] < 0) regs.push_back(m_leaf[r]);
  }
  if (regs.empty() || m_quiet) return;
  const bool one = regs.size() == 1;
  const std::string what = std::string(one ? "register " : "registers ") + quoted_names(regs) +
                           (one ? ": its clock pin is" : ": their clock pins are") +
                           " fed only by a loop through registers' clock pins that no port reaches; " +
                           (one ? "its" : "their") + " paths are not timed (OpenSTA cuts the loop and launches "
                           "them without a clock)";
  // In its place among the warnings kept, as warn() would have kept it then.
  std::vector<std::string>& kept = m_out->warnings;
  const size_t at = size_t(m_loop_warning_at);
  if (at >= SSC_CONSTRAINTS::kMaxWarnings) {
    ++m_out->more_warnings;
    return;
  }
  kept.insert(kept.begin() + long(at), "line " + std::to_string(m_loop_warning_line) + ": " + what);
  if (kept.size() > SSC_CONSTRAINTS::kMaxWarnings) {
    kept.pop_back();
    ++m_out->more_warnings;
  }
}

// A command one of whose collections may take more than it names (see
// m_widened) is skipped with a warning; true when it is.
bool SDC_READER::skip_widened(const std::string& command) {
  if (m_widened.empty()) return false;
  warn(command + ": " + m_widened + " is not applied; ignored");
  return true;
}

bool SDC_READER::io_delay(const std::vector<std::string>& w, bool input, std::string* why) {
  SSC_SDC_IO_DELAY d;
  d.input = input;
  bool has_value = false, has_clock = false, add = false, min_only = false;
  std::string skipped;  // an option without which the command means another thing
  TARGETS t;
  for (size_t i = 1; i < w.size(); ++i) {
    if (w[i] == "-clock" && i + 1 < w.size()) {
      if (!io_delay_clock(w[0], w[++i], &d.clock, why)) return false;
      has_clock = true;
    } else if (w[i] == "-clock_fall") {
      d.clock_fall = true;
    } else if (w[i] == "-min" || w[i] == "-hold") {
      if (!min_only) warn(w[0] + " " + w[i] + " is not applied (hold is not analysed)");
      min_only = true;
    } else if (w[i] == "-add_delay") {
      add = true;
    } else if (w[i] == "-rise" || w[i] == "-fall") {
      warn(w[0] + " " + w[i] + " is applied to both transitions");
    } else if (w[i] == "-source_latency_included" || w[i] == "-network_latency_included") {
      warn_option_skipped(w[0], w[i], kNoClockLatency);
    } else if (w[i] == "-reference_pin" && i + 1 < w.size()) {
      TARGETS ignored;
      if (!collect(w[++i], &ignored, why)) return false;
      skipped = w[i - 1];
    } else if (w[i] == "-max") {
    } else if (!w[i].empty() && w[i][0] == '-' && !(w[i].size() > 1 && isdigit(w[i][1]))) {
      *why = "unknown option " + w[i];
      return false;
    } else if (!has_value) {
      if (!parse_number(w[i], &d.value, m_time_scale)) {
        *why = "bad delay " + w[i];
        return false;
      }
      has_value = true;
    } else if (!collect(w[i], &t, why)) {
      return false;
    }
  }
  if (!has_value || !has_clock) {
    *why = "delay and -clock are required";
    return false;
  }
  if (skip_widened(w[0])) return true;
  if (!skipped.empty()) {
    warn(w[0] + " " + skipped + " is not applied; ignored");
    return true;
  }
  // OpenSTA too skips the ports of the other direction, with a warning.
  const TDB_NODE_KIND port = input ? TDB_NODE_IN_PORT : TDB_NODE_OUT_PORT;
  const std::vector<std::string> others = keep_kinds(&t.nodes, port, port);
  if (!others.empty())
    warn(w[0] + ": " + quoted_names(others) + (others.size() == 1 ? " is not an " : " are not ") +
         (input ? "input port" : "output port") + (others.size() == 1 ? "" : "s") + "; skipped");
  // OpenSTA refuses a delay relative to a clock on the port itself, port by
  // port, with a warning, and so does the engine.
  if (d.clock >= 0) {
    const std::vector<uint32_t>& sources = m_out->clocks[size_t(d.clock)].sources;
    std::vector<std::string> own;
    t.nodes.erase(std::remove_if(t.nodes.begin(), t.nodes.end(),
                                 [&](uint32_t v) {
                                   if (std::find(sources.begin(), sources.end(), v) == sources.end()) return false;
                                   own.push_back(m_leaf[v]);
                                   return true;
                                 }),
                  t.nodes.end());
    if (!own.empty())
      warn(w[0] + ": " + quoted_names(own) + (own.size() == 1 ? " is a source" : " are sources") + " of clock \"" +
           m_out->clocks[size_t(d.clock)].name + "\"; a delay relative to a clock on the same port is not applied");
  }
  if (min_only) {
    if (!add) replace_io_delays(t.nodes, input, d.clock, d.clock_fall);
    for (uint32_t v : t.nodes) m_min_delay[v] = 1;
    return true;
  }
  if (!add) replace_io_delays(t.nodes, input, -1, false);
  d.nodes = t.nodes;
  m_out->io_delays.push_back(d);
  return true;
}

// Marks every delay the ports had so far in that direction as replaced.
// With keep_clock >= 0 the ports' delays of that clock edge stay: they are
// copied into new entries after the mark.
void SDC_READER::replace_io_delays(const std::vector<uint32_t>& nodes, bool input, int keep_clock, bool keep_fall) {
  std::vector<uint32_t>& before = m_replaced_before[input ? 1 : 0];
  if (before.empty()) before.assign(m_data.nodes.size(), 0);
  const uint32_t now = uint32_t(m_out->io_delays.size());
  std::vector<SSC_SDC_IO_DELAY> copies;
  if (keep_clock >= 0) {
    std::vector<char> target(m_data.nodes.size(), 0);
    for (uint32_t v : nodes) target[v] = 1;
    for (uint32_t k = 0; k < now; ++k) {
      const SSC_SDC_IO_DELAY& e = m_out->io_delays[k];
      if (e.input != input || e.clock != keep_clock || e.clock_fall != keep_fall) continue;
      SSC_SDC_IO_DELAY copy = e;
      copy.nodes.clear();
      for (uint32_t v : e.nodes)
        if (target[v] && before[v] <= k) copy.nodes.push_back(v);
      if (!copy.nodes.empty()) copies.push_back(std::move(copy));
    }
  }
  for (uint32_t v : nodes) before[v] = now;
  for (SSC_SDC_IO_DELAY& c : copies) m_out->io_delays.push_back(std::move(c));
}

void SDC_READER::finish() {
  warn_registers_clocked_by_loops();
  for (uint32_t v = 0; v < m_named.size(); ++v) {
    if (m_named[v]) m_out->named_registers.push_back(v);
    if (m_min_delay[v])
      (m_data.nodes[v].get_kind() == TDB_NODE_IN_PORT ? m_out->min_delay_inputs : m_out->min_delay_outputs).push_back(v);
  }
  for (uint32_t k = 0; k < m_out->io_delays.size(); ++k) {
    SSC_SDC_IO_DELAY& d = m_out->io_delays[k];
    const std::vector<uint32_t>& before = m_replaced_before[d.input ? 1 : 0];
    if (before.empty()) continue;
    d.nodes.erase(std::remove_if(d.nodes.begin(), d.nodes.end(), [&](uint32_t v) { return before[v] > k; }),
                  d.nodes.end());
  }
}

// The options of the path commands that name points: -from and -to, which
// the engine applies, and the ones it does not.
bool is_path_point_option(const std::string& o) {
  static const char* const options[] = {"-from",       "-to",      "-through", "-rise_from",   "-fall_from",
                                        "-rise_to",    "-fall_to", "-rise_through", "-fall_through"};
  return word_in(o, options);
}

// How a bare word after a point option is read: a clock's name first after
// the -from and -to options, never after the -through ones (OpenSTA).
SDC_READER::BARE SDC_READER::bare_points(const std::string& option) {
  return option.find("through") == std::string::npos ? BARE_PATH_ENDS : BARE_THROUGH;
}

bool SDC_READER::path_rule(const std::vector<std::string>& w, bool max_delay, std::string* why) {
  SSC_SDC_PATH_RULE r;
  r.max_delay = max_delay;
  bool has_value = !max_delay;
  std::string skipped;                          // an option the engine does not apply
  bool comment = false;
  // set_false_path -setup -hold is a false path for both analyses: its
  // setup part applies (OpenSTA reads the two flags as neither), -hold
  // alone is a hold-only rule, skipped.
  bool setup = false, hold = false;
  size_t hold_at = 0, skipped_at = 0;  // where -hold and the first other skipped option stand
  auto skip = [&](size_t i) {
    if (skipped.empty()) skipped = w[i], skipped_at = i;
  };
  for (size_t i = 1; i < w.size(); ++i) {
    if (is_path_point_option(w[i]) && i + 1 < w.size()) {
      TARGETS t;
      const BARE reading = bare_points(w[i]);
      if (!collect(w[++i], &t, why, reading)) return false;
      if (w[i - 1] != "-from" && w[i - 1] != "-to") {  // -through, -rise_from, …
        skip(i - 1);
        continue;
      }
      const bool from = w[i - 1] == "-from";
      (from ? r.has_from : r.has_to) = true;
      auto& nodes = from ? r.from_nodes : r.to_nodes;
      auto& clocks = from ? r.from_clocks : r.to_clocks;
      nodes.insert(nodes.end(), t.nodes.begin(), t.nodes.end());
      clocks.insert(clocks.end(), t.clocks.begin(), t.clocks.end());
    } else if (w[i] == "-hold" && !max_delay) {
      if (!hold) hold_at = i;
      hold = true;
    } else if (w[i] == "-hold" || w[i] == "-rise" || w[i] == "-fall" || w[i] == "-datapath_only" ||
               w[i] == "-reset_path") {
      skip(i);
    } else if (w[i] == "-ignore_clock_latency") {
      // set_max_delay: an input port's launch edge time then counts in its
      // arrival (ssc_analysis.cpp); set_false_path has no such option.
      if (max_delay) r.ignore_clock_latency = true;
      else skip(i);
    } else if (w[i] == "-comment" && i + 1 < w.size()) {
      ++i;
      comment = true;
    } else if (w[i] == "-setup") {
      setup = true;
    } else if (!w[i].empty() && w[i][0] == '-' && !(w[i].size() > 1 && isdigit(w[i][1]))) {
      *why = "unknown option " + w[i];
      return false;
    } else if (max_delay && !has_value) {
      if (!parse_number(w[i], &r.value, m_time_scale)) {
        *why = "bad delay " + w[i];
        return false;
      }
      has_value = true;
    } else {
      *why = "unexpected word " + w[i];
      return false;
    }
  }
  if (!has_value) {
    *why = "set_max_delay without a value";
    return false;
  }
  if (hold && !setup && (skipped.empty() || hold_at < skipped_at)) skipped = "-hold";
  if (!skipped.empty()) {
    warn(w[0] + " " + skipped + " is not applied; ignored");
  } else if (!skip_widened(w[0])) {
    if (comment) warn_option_skipped(w[0], "-comment", "");
    if (hold) warn_option_skipped(w[0], "-hold", "there is no hold analysis");
    store_rule(w[0], std::move(r));
  }
  return true;
}

// Stores a path rule the engine applies, or warns why it does not.
void SDC_READER::store_rule(const std::string& command, SSC_SDC_PATH_RULE r) {
  // OpenSTA applies neither command without -from or -to.
  if (!r.has_from && !r.has_to) {
    warn(command + " without -from or -to names no path; ignored");
    return;
  }
  // A side that names clocks and points (bare names, each read as what it
  // names) makes two rules, one for the clocks and one for the points, as
  // OpenSTA splits it: each covers its own paths and ranks as it would alone.
  for (int side = 0; side < 2; ++side) {
    std::vector<int>& clocks = side ? r.to_clocks : r.from_clocks;
    std::vector<uint32_t>& nodes = side ? r.to_nodes : r.from_nodes;
    if (clocks.empty() || nodes.empty()) continue;
    SSC_SDC_PATH_RULE of_clocks = r;
    (side ? of_clocks.to_nodes : of_clocks.from_nodes).clear();
    clocks.clear();
    store_rule(command, std::move(of_clocks));
  }
  keep_path_ends(command, &r);
  // OpenSTA counts the whole path of a clock used as data as clock latency,
  // so under -ignore_clock_latency such a path has no delay there; the
  // engine does not time it under the rule: a word naming the ports.
  if (r.max_delay && r.ignore_clock_latency) {
    std::vector<std::string> ports, nets;
    for (uint32_t v : m_out->clock_data_ports) {
      bool from = !r.has_from || std::count(r.from_nodes.begin(), r.from_nodes.end(), v);
      for (int k : r.from_clocks) from = from || std::count(m_out->clocks[size_t(k)].sources.begin(),
                                                            m_out->clocks[size_t(k)].sources.end(), v);
      if (from) (is_port(v) ? ports : nets).push_back(m_leaf[v]);
    }
    for (const bool of_ports : {true, false}) {
      const std::vector<std::string>& names = of_ports ? ports : nets;
      if (names.empty()) continue;
      warn(command + " -ignore_clock_latency: the clock data of " +
           (of_ports ? (names.size() == 1 ? "port " : "ports ") : (names.size() == 1 ? "net " : "nets ")) +
           quoted_names(names) + " is not timed by it (OpenSTA counts the whole path as clock latency: its slack "
           "is the value less any output delay, whatever the logic)");
    }
  }
  m_out->rules.push_back(std::move(r));
}

// Paths start at registers and input ports and end at registers and output
// ports: other points are dropped. A point inside the logic acts as
// -through in OpenSTA: a warning; a port of the other direction names no
// path there either.
void SDC_READER::keep_path_ends(const std::string& command, SSC_SDC_PATH_RULE* r) {
  for (int side = 0; side < 2; ++side) {
    std::vector<uint32_t>& nodes = side ? r->to_nodes : r->from_nodes;
    std::vector<std::string> inside;
    std::unordered_set<std::string_view> seen;
    for (uint32_t v : nodes)
      if (m_data.nodes[v].get_kind() == TDB_NODE_COMB && seen.insert(m_paths[v]).second) inside.push_back(m_leaf[v]);
    keep_kinds(&nodes, TDB_NODE_REGISTER, side ? TDB_NODE_OUT_PORT : TDB_NODE_IN_PORT);
    if (!inside.empty())
      warn(command + (side ? " -to " : " -from ") + quoted_names(inside) + ": not " +
           (side ? "an end point (a register or an output port)" : "a start point (a register or an input port)") +
           "; skipped");
  }
}

// set_units: -time sets the unit of every later time; the other quantities
// are not timed here and are skipped.
bool SDC_READER::set_units(const std::vector<std::string>& w, std::string* why) {
  static const char* const others[] = {"-capacitance", "-resistance", "-voltage", "-current", "-power", "-distance"};
  for (size_t i = 1; i < w.size(); i += 2) {  // an option and its value
    if (w[i] != "-time" && !word_in(w[i], others)) {
      *why = "unknown option " + w[i];
      return false;
    }
    if (i + 1 == w.size()) {
      *why = "missing value for " + w[i];
      return false;
    }
    if (w[i] == "-time" && !time_unit_scale(w[i + 1], &m_time_scale)) {
      *why = "unknown time unit " + w[i + 1];
      return false;
    }
  }
  return true;
}

bool SDC_READER::command(const std::vector<std::string>& w, std::string* why) {
  const std::string& c = w.front();
  m_widened.clear();
  if (c == "create_clock") return create_clock(w, why);
  if (c == "set_input_delay") return io_delay(w, true, why);
  if (c == "set_output_delay") return io_delay(w, false, why);
  if (c == "set_false_path") return path_rule(w, false, why);
  if (c == "set_max_delay") return path_rule(w, true, why);
  if (c == "set_units") return set_units(w, why);
  // "set sdc_version 2.1", the first line of the SDC tools write, sets the
  // variable their readers take the version from: read as sdc_version is
  // (no other variable is read).
  if (c == "set" && w.size() == 3 && w[1] == "sdc_version") {
    note_skipped_targets({w[1], w[2]});
    return true;
  }
  if (!is_skipped_sdc_command(c)) {
    *why = "unknown command " + c;
    return false;
  }
  if (c != "sdc_version" && c != "current_design") warn(c + " is not applied; ignored");
  note_skipped_targets(w);
  return true;
}

// The registers a skipped command names count as named (registers with
// constraints of their own are kept apart by register merging). Its
// collections, the words after its point options and its bare words
// ("set_disable_timing r": words no option precedes, numbers aside) are
// read without warnings; what cannot be read is passed over, as the
// command is.
void SDC_READER::note_skipped_targets(const std::vector<std::string>& w) {
  m_quiet = true;
  std::string ignored;
  int number = 0;
  for (size_t i = 1; i < w.size(); ++i) {
    const bool collection = w[i].size() >= 2 && w[i].front() == '[' && w[i].back() == ']';
    const bool word = !w[i].empty() && w[i][0] != '-';
    const bool bare = word && (i == 1 || w[i - 1].empty() || w[i - 1][0] != '-') && !parse_number(w[i], &number);
    const bool point = is_path_point_option(w[i - 1]) && word;
    if (collection || bare || point) {
      TARGETS t;
      collect(w[i], &t, &ignored, point ? bare_points(w[i - 1]) : BARE_TARGETS);
    }
  }
  m_quiet = false;
}

}  // namespace

// The text is read as Tcl reads a script (ATCL_SCRIPT_READER), each
// command with the line it starts on; a file with Windows line ends as
// Tcl's "source" reads it, "\r\n" a newline (a backslash before it
// continues the line). A command is copied once, into its words, so a read
// takes a few times the size of the text at most.
bool ssc_read_sdc(const std::string& text, const SSC_NETLIST_DATA& data, SSC_CONSTRAINTS* out,
                  std::string* error, bool clocks_known) {
  SDC_READER reader(data, out, clocks_known);
  std::string unix_text;
  std::string_view script(text);
  if (text.find("\r\n") != std::string::npos) {
    unix_text.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') unix_text += text[i];
    script = unix_text;
  }
  // A NUL byte would cut a name or a number wherever it is read as C text:
  // no command that reaches its line is applied.
  const size_t nul = script.find('\0');
  const size_t nul_line_start = nul == std::string_view::npos ? script.size() + 1 : script.rfind('\n', nul) + 1;
  // A text that ends in a backslash (an odd run of them, no newline after)
  // leaves its last command unfinished: OpenSTA reads every command before
  // it and drops that one ("incomplete command at end of file"); so does
  // the reader, with a warning naming its line. The command is the one
  // whose reading reaches the end of the text.
  size_t backslashes = 0;
  while (backslashes < script.size() && script[script.size() - 1 - backslashes] == '\\') ++backslashes;
  const bool unfinished = backslashes % 2 == 1;
  // OpenSTA reads the file line by line, joining lines until the text is a
  // complete script, and evaluates that text whole, so an unfinished last
  // command takes with it every command of its text: those before it on
  // the line it starts on, and on the lines joined to that one
  // ("set_false_path -to r5; set_false_path -from {r1" drops both). A
  // command is therefore applied only once a line end at which the text is
  // complete follows it: `pending` holds the commands since the last such
  // line end (mostly one), with their lines.
  ATCL_SCRIPT_READER commands(script);
  std::vector<std::vector<std::string>> pending;  // the first `count` hold commands
  std::vector<size_t> pending_lines;
  size_t count = 0;
  std::vector<std::string> words;
  std::vector<char> substituted;
  std::string why;
  auto keep = [&](size_t line) {
    if (count == pending.size()) pending.emplace_back();
    pending[count++].swap(words);  // words takes back the vector of a command applied earlier
    pending_lines.resize(count);
    pending_lines[count - 1] = line;
  };
  // Applies the pending commands; false at the first that ends the read,
  // with its line, and why in `why` (so only then is `why` changed).
  auto apply_pending = [&](size_t* line) {
    std::string refused;
    for (size_t k = 0; k < count; ++k) {
      reader.set_line(int(std::min<size_t>(pending_lines[k], INT_MAX)));
      if (!reader.command(pending[k], &refused)) {
        *line = pending_lines[k];
        why.swap(refused);
        return false;
      }
    }
    count = 0;
    return true;
  };
  auto fail = [&](size_t line) {
    reader.warn_registers_clocked_by_loops();  // the warnings of the commands read before
    // The commands are freed before the message, which may quote all of one.
    std::vector<std::vector<std::string>>().swap(pending);
    std::vector<std::string>().swap(words);
    if (error) *error = "line " + std::to_string(line) + ": " + why;
    return false;
  };
  for (;;) {
    const size_t from = commands.position();  // where the last command given ended
    const bool more = commands.next(&words, &substituted, &why);
    size_t failed = 0;
    if (nul != std::string_view::npos && (!more || commands.position() > nul_line_start)) {
      if (!apply_pending(&failed)) return fail(failed);
      why = "NUL byte in the file";
      return fail(1 + size_t(std::count(script.begin(), script.begin() + long(nul), '\n')));
    }
    if (!more && why.empty()) break;
    const size_t line = commands.line_of_command();
    // A line end between the last command and this one at which the text
    // is complete (a newline no backslash escapes; white space, comments
    // and empty commands lie between the two) ends the pending commands'
    // text: they apply.
    for (size_t i = from ? from - 1 : 0; count > 0 && i < commands.command_start(); ++i) {
      if (script[i] != '\n') continue;
      size_t escapes = 0;
      while (escapes < i && script[i - 1 - escapes] == '\\') ++escapes;
      if (escapes % 2 == 0 && !apply_pending(&failed)) return fail(failed);
    }
    // The text at the end is unfinished when it ends in a backslash or
    // inside a brace, bracket or quote it never closes (the command that
    // opens it running on to the end; OpenSTA drops such a text as
    // "incomplete command at end of file"): the reader drops it with a
    // warning on the line it starts on, reading the last command's words
    // as they would be were each opener closed at the end, for the
    // registers it names. Where they cannot be read so, the read ends with
    // the error, as before.
    const char open = more ? 0 : commands.open_at_end();
    std::string unread;
    if ((more && unfinished && commands.position() >= script.size()) ||
        (open && atcl_unfinished_command_words(script.substr(commands.command_start()), &words, &substituted, &unread))) {
      keep(line);
      reader.set_line(int(std::min<size_t>(pending_lines[0], INT_MAX)));
      reader.drop_unfinished(pending.data(), count,
                             !open ? "in a backslash" : open == '"' ? "inside a quote" : std::string("inside a ") + open);
      count = 0;
      break;
    }
    if (!more) return fail(apply_pending(&failed) ? line : failed);
    keep(line);
  }
  size_t failed = 0;
  if (!apply_pending(&failed)) return fail(failed);
  reader.finish();
  out->clocks_start_at_sources = true;
  ssc_index_path_rules(out);
  return true;
}

namespace {

// Gives the stream ssc_sdc_netlist_digest digests to `flush` in pieces of
// up to 8 KiB (some 14 bytes a node besides its name and 6 an arc). Per node:
// its kind, clock source and edge, its arcs (source, kind, and the sense of
// the gate in the arc's input, ssc_input_sense, which decides whether and
// how a clock passes it: gated clocks) and its name. That is everything the
// reader reads of the netlist: the sense holds the gate's function, the
// input's place (a multiplexer's data or select), its inversion and the
// gate's tied inputs. The reader reads senses only where clocks pass gates
// (ssc_register_clocks), in the logic before registers' clock sources: an
// arc into logic outside that cone, which the other fields decide, gives a
// fixed value in place of its sense, so that most netlists, whose registers
// take their clocks from ports, read no gate's function here.
template <class FLUSH>
void write_netlist_key(const SSC_NETLIST_DATA& data, FLUSH&& flush) {
  // The comb nodes before registers' clock sources, through comb nodes
  // (a superset of what ssc_register_clocks walks).
  const size_t count = data.nodes.size();
  std::vector<char> gating;
  std::vector<uint32_t> stack;
  for (const TDB_NODE& r : data.nodes) {
    const int s = r.get_clock_source();
    if (r.get_kind() != TDB_NODE_REGISTER || s < 0 || size_t(s) >= count || data.nodes[s].get_kind() != TDB_NODE_COMB)
      continue;
    if (gating.empty()) gating.assign(count, 0);
    if (gating[s]) continue;
    gating[s] = 1;
    stack.assign(1, uint32_t(s));
    while (!stack.empty()) {
      const TDB_NODE& v = data.nodes[stack.back()];
      stack.pop_back();
      const uint32_t e = std::min<uint32_t>(SSC_NETLIST_DATA::arc_end(v), uint32_t(data.arcs.size()));
      for (uint32_t k = SSC_NETLIST_DATA::arc_begin(v); k < e; ++k) {
        const uint32_t u = data.arcs[k].m_src;
        if (data.arcs[k].m_kind != TDB_ARC_DATA || u >= count || gating[u] || data.nodes[u].get_kind() != TDB_NODE_COMB)
          continue;
        gating[u] = 1;
        stack.push_back(u);
      }
    }
  }
  // Fields go into a buffer on the stack, flushed when the next record may
  // not fit: no append call per field.
  constexpr size_t kCap = 8192, kNodeFields = 16;
  char buf[kCap];
  size_t at = 0;
  bool going = true;
  auto room = [&](size_t need) {
    if (at + need > kCap) {
      going = going && flush(std::string_view(buf, at));
      at = 0;
    }
    return going;
  };
  auto put = [&](const auto& v) {
    std::memcpy(buf + at, &v, sizeof v);
    at += sizeof v;
  };
  put(data.nodes.size());
  for (const TDB_NODE& n : data.nodes) {
    if (!room(kNodeFields)) return;
    put(uint8_t(n.get_kind()));
    put(int32_t(n.get_clock_source()));
    put(uint8_t(n.clock_is_inverted()));
    const uint32_t b = SSC_NETLIST_DATA::arc_begin(n);
    const uint32_t e = std::min<uint32_t>(SSC_NETLIST_DATA::arc_end(n), uint32_t(data.arcs.size()));
    put(e - b);
    SSC_SENSE_READER senses;
    const bool gates_clocks = !gating.empty() && gating[size_t(&n - data.nodes.data())];
    for (uint32_t k = b; k < e; ++k) {
      const TDB_ARC& arc = data.arcs[k];
      if (!room(sizeof arc.m_src + sizeof arc.m_kind + 1)) return;
      put(arc.m_src);
      put(arc.m_kind);
      put(int8_t(gates_clocks ? senses.sense(arc) : 2));
    }
    const std::string& name = n.get_string_name();
    if (!room(sizeof(uint32_t))) return;
    put(uint32_t(name.size()));
    if (name.size() > kCap - at) {  // a long name goes as a piece of its own
      if (!room(kCap) || !(going = flush(std::string_view(name)))) return;
      continue;
    }
    std::memcpy(buf + at, name.data(), name.size());
    at += name.size();
  }
  if (going) flush(std::string_view(buf, at));
}

}  // namespace

namespace {

// A 128-bit digest of a byte stream given in pieces of any length
// (MurmurHash3's x64 128-bit mixing over 16-byte blocks, a partial block
// carried to the next piece; the length closes it). Not a cryptographic
// hash: the streams it tells apart are netlists rebuilt by the program, not
// chosen to collide, and two different ones share a digest with a
// probability near 2^-128.
class DIGEST_128 {
 public:
  void add(std::string_view piece) {
    m_length += piece.size();
    const char* p = piece.data();
    size_t left = piece.size();
    if (m_carried > 0) {
      const size_t take = std::min(left, sizeof m_carry - m_carried);
      std::memcpy(m_carry + m_carried, p, take);
      m_carried += take;
      p += take;
      left -= take;
      if (m_carried < sizeof m_carry) return;
      block(m_carry);
      m_carried = 0;
    }
    for (; left >= 16; p += 16, left -= 16) block(p);
    std::memcpy(m_carry, p, left);
    m_carried = left;
  }
  SSC_NETLIST_DIGEST finish() {
    uint64_t k1 = 0, k2 = 0;
    for (size_t i = m_carried; i-- > 8;) k2 = k2 << 8 | uint8_t(m_carry[i]);
    for (size_t i = std::min<size_t>(m_carried, 8); i-- > 0;) k1 = k1 << 8 | uint8_t(m_carry[i]);
    m_h2 ^= std::rotl(k2 * kC2, 33) * kC1;
    m_h1 ^= std::rotl(k1 * kC1, 31) * kC2;
    m_h1 ^= m_length;
    m_h2 ^= m_length;
    m_h1 += m_h2;
    m_h2 += m_h1;
    m_h1 = mix(m_h1);
    m_h2 = mix(m_h2);
    m_h1 += m_h2;
    m_h2 += m_h1;
    return SSC_NETLIST_DIGEST{m_h1, m_h2};
  }

 private:
  static constexpr uint64_t kC1 = 0x87c37b91114253d5ull, kC2 = 0x4cf5ad432745937full;
  static uint64_t mix(uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdull;
    k ^= k >> 33;
    k *= 0xc4ceb9fe1a85ec53ull;
    return k ^ (k >> 33);
  }
  void block(const char* p) {
    uint64_t k1, k2;
    std::memcpy(&k1, p, 8);
    std::memcpy(&k2, p + 8, 8);
    m_h1 ^= std::rotl(k1 * kC1, 31) * kC2;
    m_h1 = (std::rotl(m_h1, 27) + m_h2) * 5 + 0x52dce729;
    m_h2 ^= std::rotl(k2 * kC2, 33) * kC1;
    m_h2 = (std::rotl(m_h2, 31) + m_h1) * 5 + 0x38495ab5;
  }
  uint64_t m_h1 = 0x6b79ab5bd5cc2d1full, m_h2 = 0x9e3779b97f4a7c15ull, m_length = 0;
  char m_carry[16];
  size_t m_carried = 0;
};

}  // namespace

SSC_NETLIST_DIGEST ssc_sdc_netlist_digest(const SSC_NETLIST_DATA& data) {
  DIGEST_128 digest;
  write_netlist_key(data, [&digest](std::string_view piece) {
    digest.add(piece);
    return true;
  });
  return digest.finish();
}

SSC_NETLIST_DIGEST ssc_netlist_file_digest(const SSC_NETLIST_DATA& data) {
  // Fields go into a buffer on the stack, as in write_netlist_key.
  constexpr size_t kCap = 8192;
  char buf[kCap];
  size_t at = 0;
  DIGEST_128 digest;
  auto room = [&](size_t need) {
    if (at + need > kCap) {
      digest.add(std::string_view(buf, at));
      at = 0;
    }
  };
  auto put = [&](const auto& v) {
    std::memcpy(buf + at, &v, sizeof v);
    at += sizeof v;
  };
  put(uint64_t(data.nodes.size()));
  for (const TDB_NODE& n : data.nodes) {
    const uint32_t b = SSC_NETLIST_DATA::arc_begin(n);
    const uint32_t e = std::min<uint32_t>(SSC_NETLIST_DATA::arc_end(n), uint32_t(data.arcs.size()));
    room(16);
    put(uint8_t(n.get_kind()));
    put(int32_t(n.get_clock_source()));
    put(uint8_t(n.clock_is_inverted()));
    put(uint32_t(e > b ? e - b : 0));
    for (uint32_t k = b; k < e; ++k) {
      const TDB_ARC& arc = data.arcs[k];
      room(sizeof arc.m_src + sizeof arc.m_delay + sizeof arc.m_kind);
      put(arc.m_src);
      put(arc.m_delay);
      put(arc.m_kind);
    }
    const std::string& name = n.get_string_name();
    room(sizeof(uint32_t));
    put(uint32_t(name.size()));
    if (name.size() > kCap - at) {  // a long name goes as a piece of its own
      digest.add(std::string_view(buf, at));
      at = 0;
      digest.add(name);
      continue;
    }
    std::memcpy(buf + at, name.data(), name.size());
    at += name.size();
  }
  digest.add(std::string_view(buf, at));
  return digest.finish();
}

void ssc_default_clocks(const SSC_NETLIST_DATA& data, int period, SSC_CONSTRAINTS* out) {
  std::vector<char> seen(data.nodes.size(), 0);
  for (const TDB_NODE& n : data.nodes) {
    const int s = n.get_clock_source();
    if (n.get_kind() != TDB_NODE_REGISTER || s < 0 || seen[s]) continue;
    seen[s] = 1;
    SSC_SDC_CLOCK c;
    c.name = SSC_NETLIST_DATA::gate_path_of(data.nodes[s].get_string_name());
    c.period = period;
    c.fall = period / 2;
    c.sources.push_back(uint32_t(s));
    out->clocks.push_back(std::move(c));
  }
  ssc_index_path_rules(out);
}

}  // namespace kavu_platform

// The registers a constraint file names, read against a timing netlist of
// the gate netlist alone (made here, whatever the engine holds): the points
// of its path rules and I/O delays and every register a command names,
// applied or skipped, as the engine's constraint queries count them
// (build_query_index). A netlist fed from outside (a split's part, whose
// inputs are cut from their drivers: stitch_nodes) may have its registers
// clocked from elsewhere, so all_registers -clock takes every register.
bool ssc_sdc_named_register_oterms(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* oterms,
                                   std::string* why) {
  return ssc_sdc_netlist_registers(netlist, oterms, nullptr, why);
}

// The same read, and from it the synchronizer chains under the file's
// clocks (kavu_platform::ssc_synchronizer_list, with what comes from
// outside the netlist a domain of its own).
bool ssc_sdc_netlist_registers(CDB_SGATE_NETLIST* netlist, std::vector<CDB_SGATE_OTERM*>* oterms,
                               std::vector<std::pair<CDB_SGATE_OTERM*, bool>>* synchronizers, std::string* why) {
  using namespace kavu_platform;
  PLAT_CHECK(netlist != nullptr && oterms != nullptr && why != nullptr, "SSC");
  oterms->clear();
  if (synchronizers) synchronizers->clear();
  try {
    const std::string sdc = cfg_get_value("ssc_sdc_file");
    if (sdc.empty()) {
      *why = "no constraint file is named";
      return false;
    }
    std::string text;
    if (!FIO_FILE_SYSTEM::read_regular_file(sdc, SSC_MAX_SDC_FILE_BYTES, &text, why)) return false;
    SSC_NETLIST_DATA data;
    data.build({netlist}, ssc_make_delays(nullptr, SSC_DELAY_MODEL_UNIT));
    SSC_CONSTRAINTS c;
    if (!ssc_read_sdc(text, data, &c, why, data.stitch_nodes.empty())) return false;
    std::vector<char> named(data.nodes.size(), 0);
    for (const SSC_SDC_PATH_RULE& r : c.rules) {
      for (uint32_t v : r.from_nodes) named[v] = 1;
      for (uint32_t v : r.to_nodes) named[v] = 1;
    }
    for (const SSC_SDC_IO_DELAY& d : c.io_delays)
      for (uint32_t v : d.nodes) named[v] = 1;
    for (uint32_t v : c.named_registers) named[v] = 1;
    for (uint32_t v = 0; v < data.nodes.size(); ++v)
      if (named[v] && data.nodes[v].get_kind() == TDB_NODE_REGISTER && data.nodes[v].get_oterm())
        oterms->push_back(data.nodes[v].get_oterm());
    if (synchronizers) {
      std::vector<TDC_SYNCHRONIZER_ENTRY> list;
      ssc_synchronizer_list(data, &c, true, &list);
      for (const TDC_SYNCHRONIZER_ENTRY& e : list)
        if (CDB_SGATE_OTERM* t = data.nodes[e.m_node_id].get_oterm()) synchronizers->push_back({t, e.m_chain_start});
    }
    return true;
  } catch (const std::bad_alloc&) {
    oterms->clear();
    if (synchronizers) synchronizers->clear();
    *why = "not enough memory";
    return false;
  }
}
