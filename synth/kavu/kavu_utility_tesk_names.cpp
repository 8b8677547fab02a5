// kavu_utility_tesk_names.cpp — RTL names to netlist names for the retimer.
//
// Candidates of a name N, in order: N, N + "~reg0", then what each rewrite
//   rule adds when its pattern matches N (every rule reads N, never an
//   earlier result). The rules know how synthesis names what it infers: RAM
//   cells and their output bits, shift-register taps, LUT-RAM cells, PLL
//   clocks, "~" suffixes, generated sub-blocks, two-dimensional bits written
//   with underscores and state bits. "replace" below is the leftmost match
//   of the rule's pattern replaced by a text.
// The patterns are compiled once per process (they never change); each rule
//   keeps its own compiled expression, whose last match it reads at once.
// Cost: one search per rule, linear in the name's length and without
//   recursion (ZTL_REGEXP's machine), so names of any length are safe; a
//   generated-block name yields 2,051 candidates and each costs one hash
//   probe in the finders.
#include <algorithm>
#include <cstdio>
#include <utility>

#include "kavu_check.h"
#include "kavu_load_time_int.h"
#include "kavu_utility_tesk.h"
#include "kavu_utility_tesk_int.h"

using namespace kavu_tesk_detail;

namespace {

enum RULE_ID {
  RULE_RAM_Q_A,
  RULE_RAM_Q_B,
  RULE_SHIFT_TAPS,
  RULE_TILDE,
  RULE_LUTRAM,
  RULE_PLL_CLK,
  RULE_PLL_WIRE,
  RULE_GENERATED,
  RULE_SYNCRAM,
  RULE_SYNCRAM_NESTED,
  RULE_BYPASS,
  RULE_GENERATED_BLOCK,
  RULE_FITTER_CELL,
  RULE_TWO_DIM,
  RULE_STATE_BIT,
  RULE_COUNT
};

struct RULE {
  const char* m_pattern;
  unsigned m_groups;
  bool m_validated;
};

const RULE kRules[RULE_COUNT] = {
    {R"(:auto_generated\|q_a\[(\d+)\]~FITTER_CREATED_TAVREL_CELL\d+reg\d+$)", 1, false},
    {R"(:auto_generated\|q_b\[(\d+)\]~FITTER_CREATED_TAVREL_CELL\d+reg\d+$)", 1, false},
    {R"(orlshift_taps:(\w+)_rtl_\d+.*$)", 1, false},
    {R"(~.+$)", 0, true},
    {R"(\|lutrama(\d+).*$)", 1, false},
    {R"(:auto_generated\|clk\[(\d+)\]$)", 1, false},
    {R"(outclk_wire\[(\d+)\]$)", 1, false},
    {R"(\|\w+:auto_generated.*$)", 0, true},
    {R"(orlsyncram:(\w+)_rtl_\d+.*$)", 1, true},
    {R"(orlsyncram:(\w+).(\w+)_rtl_\d+.*$)", 2, true},
    {R"((\w+)_rtl_\d+_bypass.*$)", 1, false},
    {R"((\w+)_rtl_\d+\|auto_generated.*$)", 1, false},
    {R"((\w+)_rtl_\d+\|auto_generated.*FITTER_CREATED_TAVREL_CELL0$)", 1, false},
    {R"((\w+)_(\d+)_(\d+)$)", 3, false},
    {R"((\w+).ST_.*$)", 1, false},
};

const char kWildcardPattern[] = R"(\|auto_generated.*(?:\|(.*?))(?:\[|\d).*$)";
// One "|"-separated part with exactly one colon, not starting with a
// backslash.
const char kEntityPattern[] = R"(^[^\\][^:]*:[^:]*$)";

void check_groups(ZTL_REGEXP& re, unsigned n) {
  if (n == 1) KAVU_CHECK(re.groups() == 1);
  if (n == 2) KAVU_CHECK(re.groups() == 2);
  if (n == 3) KAVU_CHECK(re.groups() == 3);
}

// The compiled rules, built and checked on first use.
struct COMPILED_RULES {
  std::vector<ZTL_REGEXP> m_rules;
  ZTL_REGEXP m_wildcard{kWildcardPattern, true};
  ZTL_REGEXP m_entity{kEntityPattern, true};

  COMPILED_RULES() {
    m_rules.reserve(RULE_COUNT);
    for (const RULE& r : kRules) {
      m_rules.emplace_back(r.m_pattern, true);
      ZTL_REGEXP& re = m_rules.back();
      if (r.m_validated) KAVU_CHECK(re.is_pattern_valid());
      check_groups(re, r.m_groups);
    }
    check_groups(m_wildcard, 1);
    KAVU_CHECK(m_entity.is_pattern_valid());
  }
};

COMPILED_RULES compile_rules() { return COMPILED_RULES(); }
// Compiled at their first use (a few milliseconds, which a process that
// never retimes should not pay as it loads) with no caller waiting for
// another: a process that forks while another thread compiles them leaves
// its child none, never half.
constinit KAVU_READ_ONCE<COMPILED_RULES> rules{"the retiming name rules", compile_rules};

// B[i] and B[i][i] for i in [0, n).
void add_indexed(const std::string& base, int n, std::vector<std::string>& out) {
  char idx[32];
  for (int i = 0; i < n; ++i) {
    int len = std::snprintf(idx, sizeof idx, "[%d]", i);
    std::string one = base;
    one.append(idx, size_t(len));
    std::string two = one;
    two.append(idx, size_t(len));
    out.push_back(std::move(one));
    out.push_back(std::move(two));
  }
}

void apply_rule(int id, ZTL_REGEXP& re, const std::string& n, std::vector<std::string>& out) {
  if (!re.search(n)) return;
  switch (id) {
    case RULE_RAM_Q_A:
    case RULE_RAM_Q_B:
      out.push_back(re.replace(n, ":auto_generated|ram_block1a" + re.group(1), false));
      break;
    case RULE_SHIFT_TAPS:
      add_indexed(re.replace(n, re.group(1), false), 64, out);
      break;
    case RULE_TILDE: {
      std::string b = re.replace(n, "", false);
      out.push_back(b);
      out.push_back(b + "~reg0");
      break;
    }
    case RULE_LUTRAM:
      out.push_back(re.replace(n, "|dataout_reg[" + re.group(1) + "]", false));
      break;
    case RULE_PLL_CLK: {
      std::string g = re.group(1);
      std::string b = re.replace(n, ":auto_generated", false);
      out.push_back(b);
      out.push_back(b + "|generic_pll" + g);
      break;
    }
    case RULE_PLL_WIRE:
      out.push_back(re.replace(n, "general[" + re.group(1) + "].gpll", false));
      break;
    case RULE_GENERATED:
      out.push_back(re.replace(n, "", false));
      break;
    case RULE_SYNCRAM:
    case RULE_BYPASS:
      out.push_back(re.replace(n, re.group(1), false));
      break;
    case RULE_SYNCRAM_NESTED: {
      std::string g2 = re.group(2);
      out.push_back(re.replace(n, re.group(1), false) + "." + g2);
      break;
    }
    case RULE_GENERATED_BLOCK: {
      std::string b = re.replace(n, re.group(1), false);
      out.push_back(b);
      add_indexed(b, 1024, out);
      break;
    }
    case RULE_FITTER_CELL:
      add_indexed(re.replace(n, re.group(1), false), 64, out);
      break;
    case RULE_TWO_DIM: {
      std::string g2 = re.group(2), g3 = re.group(3);
      out.push_back(re.replace(n, re.group(1), false) + "[" + g2 + "][" + g3 + "]");
      break;
    }
    case RULE_STATE_BIT:
      out.push_back(re.replace(n, re.group(1), false) + "[0]");
      break;
    default:
      break;
  }
}

// Prepends `found` to `nodes` (the finders' order before sorting).
void prepend(const std::vector<CDB_SGATE_NODE*>& found, std::vector<CDB_SGATE_NODE*>& nodes) {
  nodes.insert(nodes.begin(), found.begin(), found.end());
}

}  // namespace

void kavu_generate_tesk_node_candidates(const std::string& name, std::vector<std::string>& candidates) {
  candidates.clear();
  candidates.push_back(name);
  candidates.push_back(name + "~reg0");
  COMPILED_RULES& r = rules();
  for (int id = 0; id < RULE_COUNT; ++id) apply_rule(id, r.m_rules[size_t(id)], name, candidates);
}

void kavu_generate_tesk_node_candidates_with_wildcard(const std::string& name,
                                                      std::vector<std::string>& candidates) {
  candidates.clear();
  ZTL_REGEXP& re = rules().m_wildcard;
  if (!re.search(name)) return;
  std::string w = re.group(1);
  if (w == "counter_reg_bit") w = "count";
  if (w == "portadatain_reg") {
    candidates.push_back(re.replace(name, "|auto_generated|*|" + w, false));
    w = "lutrama";
  }
  candidates.push_back(re.replace(name, "|auto_generated|*|" + w, false));
}

bool kavu_find_sgate_node_for_tesk(const std::string& name,
                                   ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>& exact,
                                   ZTL_HASH<std::string, std::vector<CDB_SGATE_NODE*>>& wildcard,
                                   std::vector<CDB_SGATE_NODE*>& nodes) {
  bool found = false;
  std::vector<std::string> candidates;
  kavu_generate_tesk_node_candidates(name, candidates);
  for (const std::string& c : candidates) {
    auto it = exact.find(c);
    if (it == exact.end()) continue;
    prepend(it->second, nodes);
    found = true;
  }
  kavu_generate_tesk_node_candidates_with_wildcard(name, candidates);
  for (const std::string& c : candidates) {
    if (c.empty()) continue;
    auto it = wildcard.find(c);
    if (it == wildcard.end()) continue;
    prepend(it->second, nodes);
    found = true;
  }
  std::sort(nodes.begin(), nodes.end());
  nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
  return found;
}

bool kavu_find_sgate_node_for_tesk_legacy(std::string& name, ZTL_HASH<std::string, CDB_SGATE_NODE*>& exact,
                                          ZTL_HASH<std::string, CDB_SGATE_NODE*>& wildcard,
                                          ZTL_HASH<std::string, CDB_SGATE_NETLIST*>& netlists,
                                          CDB_SGATE_NODE** node, CDB_SGATE_NETLIST** netlist) {
  KAVU_CHECK(node != nullptr && netlist != nullptr);
  *node = nullptr;
  *netlist = nullptr;
  std::vector<std::string> candidates;
  kavu_generate_tesk_node_candidates(name, candidates);
  for (auto iter = candidates.begin(); iter != candidates.end(); ++iter) {
    auto it = exact.find(*iter);
    if (it == exact.end()) continue;
    *node = it->second;
    KAVU_CHECK(netlists.exists(*iter));
    *netlist = netlists.find(*iter)->second;
    break;
  }
  if (!*node || !*netlist) {
    kavu_generate_tesk_node_candidates_with_wildcard(name, candidates);
    for (const std::string& try_to_find_me : candidates) {
      if (try_to_find_me.empty()) continue;
      auto it = wildcard.find(try_to_find_me);
      if (it == wildcard.end()) continue;
      *node = it->second;
      KAVU_CHECK(netlists.exists(try_to_find_me));
      *netlist = netlists.find(try_to_find_me)->second;
      break;
    }
  }
  // Found: true. (Read literally, the rule answered false here and true for
  // a missing name with the key on, the opposite of what callers test.)
  if (*node && *netlist) return true;
  if (tesk_ignore_internal_error()) return false;
  char text[4096];
  std::snprintf(text, sizeof text, "TESK: %s doesn't exist in netlist!", name.c_str());
  KAVU_INTERNAL_ERROR(text);
}

bool kavu_name_shows_entity(std::string name) {
  ZTL_REGEXP& re = rules().m_entity;
  ZTL_TOKENIZER parts(name, "|");
  std::string part;
  while (parts.next(part))
    if (re.search(part)) return true;
  return false;
}
