// kavu_delay_util_profile.cpp — path-delay profiles: where the paths through
// each output terminal start and end, counted per profile, with the longest
// path delay of each profile when a delay expert is given.
//
// Model: a clock is (driving terminal, inverted, tied); a register output is
//   listed under its clock. A profile holds the source flags (pins, other,
//   registers with their clock numbers) and the sink flags (pins,
//   secondaries, other, registers with their clock numbers); a register flag
//   is set exactly when its clock list is not empty (full profiles).
// Walks cross only buffers, comb gates, IO buffers, LUTs, muxes, carry sums,
//   tri-state buses, logic-cell comb atoms and n-to-1 mux operators. Each
//   step is one multi-source walk (marks are idempotent, so the result equals
//   one walk per start), with an explicit stack: O(C (N + E)) for C clocks.
// Sound departures: a register whose clock input is unconnected gets the
//   clock (none, not inverted) and prints "NONE"; an empty netlist prints
//   percentages of 0.0.
#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "cfg/cfg.h"
#include "kavu_check.h"
#include "kavu_delay.h"
#include "kavu_delay_util.h"
#include "kavu_depends.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"

namespace {
constexpr int INNER_BUDGET = 300;

enum PROFILE_TYPE {
  PIN_TO_PIN, PIN_TO_CLK, CLK_TO_PIN, CLK_TO_CLK, PIN_TO_REGS, REGS_TO_PIN, REGS_TO_REGS, REGS_PLUS_TO_REGS_PLUS,
  OTHER, PROFILE_TYPE_END
};
const char* const k_type_names[PROFILE_TYPE_END] = {"pin to pin      ", "pin to clk      ", "clk to pin      ",
                                                     "clk to clk      ", "pin to regs     ", "regs to pin     ",
                                                     "regs to regs    ", "regs++ to regs++", "other           "};

struct PROFILE {
  bool m_from_pins = false;
  bool m_from_other = false;
  bool m_to_pins = false;
  bool m_to_other = false;
  bool m_feeding_regs = false;
  bool m_fed_by_regs = false;
  bool m_to_secondaries = false;
  std::vector<int> m_fed_by_clocks;
  std::vector<int> m_feeding_clocks;

  static void add(std::vector<int>& v, int c) {
    auto it = std::lower_bound(v.begin(), v.end(), c);
    if (it == v.end() || *it != c) v.insert(it, c);
  }
  void add_fed_by_clock(int c) {
    add(m_fed_by_clocks, c);
    m_fed_by_regs = true;
  }
  void add_feeding_clock(int c) {
    add(m_feeding_clocks, c);
    m_feeding_regs = true;
  }
  auto key() const {
    return std::tie(m_from_pins, m_to_pins, m_from_other, m_to_other, m_to_secondaries, m_feeding_regs, m_fed_by_regs,
                    m_fed_by_clocks, m_feeding_clocks);
  }
  bool operator<(const PROFILE& o) const { return key() < o.key(); }

  static std::string clocks_text(const std::vector<int>& v) {
    std::string s = "[";
    for (int c : v) s += std::to_string(c) + " ";
    return s + "]";
  }
  std::string name() const {
    auto yn = [](bool b) { return b ? "Y" : "N"; };
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  "{From pins: %s, regs: %s %s, other: %s. To pins: %s, regs: %s %s, secondaries: %s, other: %s, }",
                  yn(m_from_pins), yn(m_fed_by_regs), clocks_text(m_fed_by_clocks).c_str(), yn(m_from_other),
                  yn(m_to_pins), yn(m_feeding_regs), clocks_text(m_feeding_clocks).c_str(), yn(m_to_secondaries),
                  yn(m_to_other));
    return buf;
  }
  PROFILE_TYPE type() const {
    KAVU_CHECK((m_fed_by_regs && !m_fed_by_clocks.empty()) || (!m_fed_by_regs && m_fed_by_clocks.empty()));
    KAVU_CHECK((m_feeding_regs && !m_feeding_clocks.empty()) || (!m_feeding_regs && m_feeding_clocks.empty()));
    const bool src_pins = m_from_pins && !m_from_other && !m_fed_by_regs;
    const bool src_regs = m_fed_by_regs && !m_from_pins && !m_from_other;
    const bool snk_pins = m_to_pins && !m_to_secondaries && !m_to_other;
    const bool snk_regs = !snk_pins && m_feeding_regs && !m_to_pins && !m_to_other;
    const size_t nsrc = m_fed_by_clocks.size(), nsnk = m_feeding_clocks.size();
    if (src_pins && snk_pins) return PIN_TO_PIN;
    if (src_pins && snk_regs) return nsnk == 1 ? PIN_TO_CLK : PIN_TO_REGS;
    if (src_regs && snk_pins) return nsrc == 1 ? CLK_TO_PIN : REGS_TO_PIN;
    if (src_regs && snk_regs) {
      if (nsrc == 1 && nsnk == 1) {
        const int fed_by_clk = m_fed_by_clocks[0], feeding_clk = m_feeding_clocks[0];
        KAVU_CHECK(fed_by_clk != -1 && feeding_clk != -1);
        return fed_by_clk == feeding_clk ? CLK_TO_CLK : REGS_TO_REGS;
      }
      return REGS_TO_REGS;
    }
    if (m_fed_by_regs && (m_from_pins || m_from_other) && m_feeding_regs) return REGS_PLUS_TO_REGS_PLUS;
    if (src_regs && m_feeding_regs) return REGS_PLUS_TO_REGS_PLUS;
    return OTHER;
  }
};

struct CLOCK {
  CDB_SGATE_OTERM* m_driver = nullptr;
  bool m_inverted = false;
  bool m_tied = false;
  bool operator==(const CLOCK& o) const {
    return m_driver == o.m_driver && m_inverted == o.m_inverted && m_tied == o.m_tied;
  }
};

bool crossable(CDB_SGATE_NODE* g) {
  switch (g->get_sgate_type()) {
    case CDB_SGATE_BUFFER_ENUM:
    case CDB_SGATE_COMB_ENUM:
    case CDB_SGATE_IO_BUF_ENUM:
    case CDB_SGATE_LUT_ENUM:
    case CDB_SGATE_MUX_ENUM:
    case CDB_SGATE_CARRY_SUM_ENUM:
    case CDB_SGATE_TRI_BUS_ENUM: return true;
    default: break;
  }
  return kavu_is_lcell_comb(g) || kavu_is_a_nto1_mux_op(g);
}

bool is_register_gate(CDB_SGATE_NODE* node) {
  return node->get_sgate_type() == CDB_SGATE_DFF_ENUM || (node->is_wysiwyg() && node->cast_to_wysiwyg()->is_ff());
}

bool driven(CDB_SGATE_ITERM* t) { return t && cdb_is_connected(t) && t->get_source(); }

class PROFILE_COLLECTION {
 public:
  PROFILE_COLLECTION(CDB_SGATE_NETLIST* netlist, KAVU_DELAY_EXPERT* expert) : m_netlist(netlist), m_delay_expert(expert) {}
  void build(bool with_delays);
  void print(bool nodes, bool delays) const;
  // Largest maximum delay of the base or final parts of a terminal's profile.
  int split_max_delay(CDB_SGATE_OTERM* o, bool base) const;
  const std::vector<CDB_SGATE_OTERM*>& terminals() const { return m_order; }
  const PROFILE& profile_of(CDB_SGATE_OTERM* o) const { return m_profiles[m_index.at(o)]; }
  bool has_profile(CDB_SGATE_OTERM* o) const { return m_index.count(o) != 0; }

 private:
  PROFILE& record(CDB_SGATE_OTERM* o);
  void find_clocks();
  template <class MARK>
  void walk(const std::vector<CDB_SGATE_OTERM*>& starts, bool forward, MARK mark);
  void split_base(const PROFILE& p, std::vector<PROFILE>& parts) const;
  void split_final(const PROFILE& p, std::vector<PROFILE>& parts) const;

  CDB_SGATE_NETLIST* m_netlist;
  KAVU_DELAY_EXPERT* m_delay_expert;
  std::vector<CLOCK> m_clocks;
  std::vector<std::vector<CDB_SGATE_OTERM*>> m_regs_per_clock;
  std::vector<CDB_SGATE_OTERM*> m_order;  // terminals in order of first record
  std::unordered_map<CDB_SGATE_OTERM*, size_t> m_index;
  std::vector<PROFILE> m_profiles;
  std::vector<int> m_delays;  // per terminal, with delays
  std::map<PROFILE, int> m_num_nodes_for_profile_map, m_max_delay_for_profile_map;
  std::map<PROFILE, int> m_num_nodes_for_base_profile_map, m_max_delay_for_base_profile_map;
  std::map<PROFILE, int> m_num_nodes_for_final_profile_map, m_max_delay_for_final_profile_map;
  int m_num_oterms = 0;
};

PROFILE& PROFILE_COLLECTION::record(CDB_SGATE_OTERM* o) {
  auto [it, added] = m_index.emplace(o, m_profiles.size());
  if (added) {
    m_profiles.emplace_back();
    m_order.push_back(o);
  }
  return m_profiles[it->second];
}

template <class MARK>
void PROFILE_COLLECTION::walk(const std::vector<CDB_SGATE_OTERM*>& starts, bool forward, MARK mark) {
  const GEN_DYN_FLAG seen = m_netlist->get_flag_manager().create_flag("profile_walk");
  m_netlist->clear_all_node_flags(seen);
  std::vector<CDB_SGATE_OTERM*> stack;
  auto visit = [&](CDB_SGATE_OTERM* o) {
    KAVU_CHECK(o != 0);
    if (o->test_dyn_flag(seen)) return;
    o->set_dyn_flag(seen);
    if (o->has_fanout()) mark(record(o));
    stack.push_back(o);
  };
  for (CDB_SGATE_OTERM* s : starts) visit(s);
  while (!stack.empty()) {
    CDB_SGATE_OTERM* o = stack.back();
    stack.pop_back();
    if (forward) {
      for (CDB_SGATE_ITERM* i : o->fanouts()) {
        CDB_SGATE_NODE* h = i->get_my_node();
        if (!crossable(h)) continue;
        for (CDB_SGATE_OTERM* next_oterm : h->get_output_terms()) {
          if (!next_oterm) continue;
          KAVU_CHECK(next_oterm != 0);
          if (kavu_oterm_depends_on_iterm(h, next_oterm, i, true, false, false, false)) visit(next_oterm);
        }
      }
    } else {
      CDB_SGATE_NODE* g = o->get_my_node();
      if (!crossable(g)) continue;
      for (CDB_SGATE_ITERM* i : g->get_input_terms()) {
        if (!driven(i) || !kavu_oterm_depends_on_iterm(g, o, i, true, false, false, false)) continue;
        CDB_SGATE_OTERM* feeder = i->get_source();
        KAVU_CHECK(feeder != 0);
        visit(feeder);
      }
    }
  }
  m_netlist->get_flag_manager().destroy_flag(seen);
}

void PROFILE_COLLECTION::find_clocks() {
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || !is_register_gate(node)) continue;
    for (CDB_SGATE_OTERM* oterm : node->get_output_terms()) {
      if (!oterm) continue;
      KAVU_CHECK(kavu_consider_as_register( oterm ));
      CDB_SGATE_ITERM* clk_iterm = node->get_sgate_type() == CDB_SGATE_DFF_ENUM
                                       ? node->get_input_term(1)
                                       : node->cast_to_wysiwyg()->get_iterm_by_type(7);
      CLOCK clk;
      if (clk_iterm && cdb_is_connected(clk_iterm)) {
        clk.m_driver = clk_iterm->get_source();
        clk.m_inverted = clk_iterm->is_inverted();
        clk.m_tied = clk.m_driver == nullptr;
      }
      if (!clk.m_driver)
        kavu_debug_at_level(3, "Clock of gate %s %s %s is NULL", node->get_string_type_name(),
                            oterm->get_string_hpath().c_str(), node->get_debug_name().c_str());
      size_t c = std::find(m_clocks.begin(), m_clocks.end(), clk) - m_clocks.begin();
      if (c == m_clocks.size()) {
        m_clocks.push_back(clk);
        m_regs_per_clock.emplace_back();
      }
      KAVU_CHECK(c < m_regs_per_clock.size());
      m_regs_per_clock[c].push_back(oterm);
    }
  }
}

void PROFILE_COLLECTION::build(bool with_delays) {
  kavu_debug("Getting max path delay for each oterm");
  find_clocks();
  std::vector<CDB_SGATE_OTERM*> starts;
  // From pins, to pins.
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || node->get_sgate_type() != CDB_SGATE_IO_ENUM) continue;
    for (CDB_SGATE_OTERM* o : node->get_output_terms())
      if (o && o->has_fanout()) starts.push_back(o);
  }
  walk(starts, true, [](PROFILE& p) { p.m_from_pins = true; });
  starts.clear();
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || node->get_sgate_type() != CDB_SGATE_IO_ENUM) continue;
    CDB_SGATE_ITERM* in = node->get_single_iterm();
    if (driven(in)) starts.push_back(in->get_source());
  }
  walk(starts, false, [](PROFILE& p) { p.m_to_pins = true; });
  // To secondaries.
  starts.clear();
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || !is_register_gate(node)) continue;
    for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o) continue;
      for (CDB_SGATE_ITERM* i : node->get_input_terms()) {
        if (!driven(i)) continue;
        if (kavu_oterm_depends_on_iterm(node, o, i, false, false, false, false) &&
            !kavu_oterm_depends_on_iterm(node, o, i, false, true, false, false))
          starts.push_back(i->get_source());
      }
    }
  }
  walk(starts, false, [](PROFILE& p) { p.m_to_secondaries = true; });
  // Per clock.
  for (size_t c = 0; c < m_clocks.size(); ++c) {
    const int clk = int(c);
    KAVU_CHECK(c < m_clocks.size());
    walk(m_regs_per_clock[c], true, [clk](PROFILE& p) { p.add_fed_by_clock(clk); });
    starts.clear();
    for (CDB_SGATE_OTERM* q : m_regs_per_clock[c]) {
      CDB_SGATE_NODE* reg = q->get_my_node();
      for (CDB_SGATE_ITERM* i : reg->get_input_terms())
        if (driven(i) && kavu_oterm_depends_on_iterm(reg, q, i, false, true, false, false))
          starts.push_back(i->get_source());
    }
    walk(starts, false, [clk](PROFILE& p) { p.add_feeding_clock(clk); });
  }
  // Other.
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o || !o->has_fanout()) continue;
      PROFILE& p = record(o);
      p.m_from_other = !p.m_from_pins && !p.m_fed_by_regs && p.m_fed_by_clocks.empty();
      p.m_to_other = !p.m_to_pins && !p.m_feeding_regs && !p.m_to_secondaries && p.m_feeding_clocks.empty();
    }
  }
  // Counts and delays.
  m_num_oterms = int(m_order.size());
  if (with_delays) {
    KAVU_CHECK(m_delay_expert != 0);
    if (!m_delay_expert->get_netlist()) m_delay_expert->set_netlist(m_netlist);
    KAVU_CHECK(m_delay_expert->get_netlist() == m_netlist);
    m_delay_expert->prepare_netlist_for_delay_analysis();
    kavu_debug("Maximum circuit delay is %d", m_delay_expert->compute_all_delays(true));
  }
  std::vector<PROFILE> parts;
  for (size_t t = 0; t < m_order.size(); ++t) {
    const PROFILE& p = m_profiles[t];
    int delay = 0;
    if (with_delays)
      delay = m_delay_expert->compute_fanin_delay(m_order[t], INNER_BUDGET) +
              m_delay_expert->compute_fanout_delay(m_order[t], INNER_BUDGET);
    m_delays.push_back(delay);
    auto count = [&](std::map<PROFILE, int>& num, std::map<PROFILE, int>& max, const PROFILE& q) {
      ++num[q];
      if (!with_delays) return;
      auto [it, added] = max.emplace(q, delay);
      if (!added) it->second = std::max(it->second, delay);
    };
    count(m_num_nodes_for_profile_map, m_max_delay_for_profile_map, p);
    split_base(p, parts);
    for (const PROFILE& q : parts) count(m_num_nodes_for_base_profile_map, m_max_delay_for_base_profile_map, q);
    split_final(p, parts);
    for (const PROFILE& q : parts) count(m_num_nodes_for_final_profile_map, m_max_delay_for_final_profile_map, q);
  }
  if (with_delays) m_delay_expert->clean_up_after_delay_analysis();
}

void PROFILE_COLLECTION::split_base(const PROFILE& p, std::vector<PROFILE>& parts) const {
  parts.clear();
  std::vector<PROFILE> sources, sinks;
  if (p.m_from_pins) sources.emplace_back().m_from_pins = true;
  if (p.m_from_other) sources.emplace_back().m_from_other = true;
  for (int c : p.m_fed_by_clocks) sources.emplace_back().add_fed_by_clock(c);
  if (p.m_to_pins) sinks.emplace_back().m_to_pins = true;
  if (p.m_to_secondaries) sinks.emplace_back().m_to_secondaries = true;
  if (p.m_to_other) sinks.emplace_back().m_to_other = true;
  for (int c : p.m_feeding_clocks) sinks.emplace_back().add_feeding_clock(c);
  for (const PROFILE& s : sources)
    for (const PROFILE& k : sinks) {
      PROFILE q = s;
      q.m_to_pins = k.m_to_pins;
      q.m_to_secondaries = k.m_to_secondaries;
      q.m_to_other = k.m_to_other;
      q.m_feeding_regs = k.m_feeding_regs;
      q.m_feeding_clocks = k.m_feeding_clocks;
      parts.push_back(q);
    }
}

void PROFILE_COLLECTION::split_final(const PROFILE& p, std::vector<PROFILE>& parts) const {
  parts.clear();
  const bool from_regs = !p.m_fed_by_clocks.empty();
  auto make = [&parts]() -> PROFILE& { return parts.emplace_back(); };
  if (p.m_from_pins && p.m_to_pins) {
    PROFILE& q = make();
    q.m_from_pins = q.m_to_pins = true;
  }
  if (p.m_from_pins && p.m_feeding_regs) {
    PROFILE& q = make();
    q.m_from_pins = q.m_feeding_regs = true;
  }
  if (from_regs && p.m_to_pins) {
    PROFILE& q = make();
    q.m_fed_by_regs = q.m_to_pins = true;
  }
  if (p.m_to_secondaries && (p.m_from_pins || from_regs)) {
    PROFILE& q = make();
    q.m_from_other = q.m_to_secondaries = true;
  }
  if (p.m_from_other || (p.m_to_other && (p.m_from_pins || from_regs))) {
    PROFILE& q = make();
    q.m_from_other = q.m_to_other = true;
  }
  bool differ = false;
  for (int a : p.m_feeding_clocks)
    for (int b : p.m_fed_by_clocks) differ |= a != b;
  if (differ) {
    PROFILE& q = make();
    q.m_fed_by_regs = q.m_feeding_regs = true;
  }
  for (int c : p.m_fed_by_clocks)
    if (std::binary_search(p.m_feeding_clocks.begin(), p.m_feeding_clocks.end(), c)) {
      PROFILE& q = make();
      q.add_fed_by_clock(c);
      q.add_feeding_clock(c);
    }
}

int PROFILE_COLLECTION::split_max_delay(CDB_SGATE_OTERM* o, bool base) const {
  std::vector<PROFILE> parts;
  const PROFILE& p = profile_of(o);
  if (base)
    split_base(p, parts);
  else
    split_final(p, parts);
  const auto& max = base ? m_max_delay_for_base_profile_map : m_max_delay_for_final_profile_map;
  int best = 0;
  bool any = false;
  for (const PROFILE& q : parts) {
    auto it = max.find(q);
    if (it == max.end()) continue;
    best = any ? std::max(best, it->second) : it->second;
    any = true;
  }
  return best;
}

void PROFILE_COLLECTION::print(bool nodes, bool delays) const {
  const char* pre = "PROFILE: ";
  const char* dashes = "-------------------------------------------------------";
  kavu_debug("%s=========== Path Profile Collection ===================", pre);
  kavu_debug("%sClocks (%d): ", pre, int(m_clocks.size()));
  for (size_t c = 0; c < m_clocks.size(); ++c) {
    const CLOCK& k = m_clocks[c];
    const int n = int(m_regs_per_clock[c].size());
    if (k.m_driver)
      kavu_debug("%s - %s%s %s: %d registers", pre, k.m_inverted ? "!" : "",
                 k.m_driver->get_my_node()->get_debug_name().c_str(), k.m_driver->get_string_hpath().c_str(), n);
    else
      kavu_debug("%s - %s: %d registers", pre, !k.m_tied ? "NONE" : (k.m_inverted ? "GND" : "VCC"), n);
  }
  kavu_debug("%s%s", pre, dashes);
  auto section = [&](const char* title, const char* item, const std::map<PROFILE, int>& num,
                     const std::map<PROFILE, int>& max, const char* names) {
    if (!max.empty() && max.size() != num.size()) KAVU_INTERNAL_ERROR(names);
    kavu_debug("%s%s (%d): ", pre, title, int(num.size()));
    for (const auto& [p, n] : num) {
      auto it = max.find(p);
      kavu_debug("%s - %s %s: num nodes %d, max delay %d", pre, item, p.name().c_str(), n,
                 it == max.end() ? -1 : it->second);
    }
  };
  section("Profiles", "Profile", m_num_nodes_for_profile_map, m_max_delay_for_profile_map,
          "m_num_nodes_for_profile_map.size() == m_max_delay_for_profile_map.size()");
  section("Base profiles", "Base profile", m_num_nodes_for_base_profile_map, m_max_delay_for_base_profile_map,
          "m_num_nodes_for_base_profile_map.size() == m_max_delay_for_base_profile_map.size()");
  section("Final profiles", "Final profile", m_num_nodes_for_final_profile_map, m_max_delay_for_final_profile_map,
          "m_num_nodes_for_final_profile_map.size() == m_max_delay_for_final_profile_map.size()");
  kavu_debug("%s%s", pre, dashes);
  kavu_debug("%sOterm counts per profile type:", pre);
  kavu_debug("%s%s", pre, dashes);
  int per_type[PROFILE_TYPE_END] = {};
  for (const PROFILE& p : m_profiles) {
    const PROFILE_TYPE type = p.type();
    KAVU_CHECK(type != PROFILE_TYPE_END);
    ++per_type[type];
  }
  for (int t = 0; t < PROFILE_TYPE_END; ++t)
    kavu_debug("%sNumber of oterms of type %s: %5d, percentage %5.1f", pre, k_type_names[t], per_type[t],
               m_num_oterms ? 100.0 * per_type[t] / m_num_oterms : 0.0);
  if (nodes) {
    kavu_debug("%sNodes (%d):", pre, int(m_order.size()));
    for (size_t t = 0; t < m_order.size(); ++t)
      kavu_debug("%s - Node %s %s: profile %s", pre, m_order[t]->get_my_node()->get_debug_name().c_str(),
                 m_order[t]->get_string_hpath().c_str(), m_profiles[t].name().c_str());
  }
  if (delays) {
    kavu_debug("%sOterm delays (%d):", pre, int(m_order.size()));
    for (size_t t = 0; t < m_order.size(); ++t)
      kavu_debug("%s - Oterm %s %s: max path delay %d", pre, m_order[t]->get_my_node()->get_debug_name().c_str(),
                 m_order[t]->get_string_hpath().c_str(), t < m_delays.size() ? m_delays[t] : -1);
  }
  kavu_debug("%s================= End Collection ======================", pre);
}
}  // namespace

bool kavu_consider_as_register(CDB_SGATE_OTERM* oterm) {
  return oterm && is_register_gate(oterm->get_my_node());
}

void kavu_dump_max_path_delay_profiles(CDB_SGATE_NETLIST* netlist, KAVU_DELAY_EXPERT* expert) {
  KAVU_CHECK(netlist != 0);
  PROFILE_COLLECTION collection(netlist, expert);
  collection.build(true);
  collection.print(cfg_is_on("kavu_delay_dump_path_collection_all_nodes", false),
                   cfg_is_on("kavu_delay_dump_path_collection_all_delays", false));
}

void kavu_get_max_path_delay_for_nodes(CDB_SGATE_NETLIST* netlist, KAVU_DELAY_EXPERT* expert,
                                       std::map<CDB_SGATE_OTERM*, int>& delays, bool base) {
  KAVU_CHECK(netlist != 0);
  delays.clear();
  PROFILE_COLLECTION collection(netlist, expert);
  collection.build(true);
  for (CDB_SGATE_OTERM* o : collection.terminals()) delays[o] = collection.split_max_delay(o, base);
  if (cfg_is_on("kavu_delay_dump_path_collection", false))
    collection.print(cfg_is_on("kavu_delay_dump_path_collection_all_nodes", false),
                     cfg_is_on("kavu_delay_dump_path_collection_all_delays", false));
}

void kavu_get_oterms_per_profile(CDB_SGATE_NETLIST* netlist,
                                 std::vector<std::vector<CDB_SGATE_OTERM*>>* oterms_per_profile_vec,
                                 std::vector<std::string>* profile_names) {
  KAVU_CHECK(netlist != 0 && oterms_per_profile_vec != 0 && profile_names != 0);
  oterms_per_profile_vec->clear();
  profile_names->clear();
  PROFILE_COLLECTION collection(netlist, nullptr);
  collection.build(false);
  std::map<PROFILE, int> number;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    for (CDB_SGATE_OTERM* o : node->get_output_terms()) {
      if (!o || !o->has_fanout() || !collection.has_profile(o)) continue;
      const PROFILE& p = collection.profile_of(o);
      auto [entry, added] = number.emplace(p, int(oterms_per_profile_vec->size()));
      if (added) {
        oterms_per_profile_vec->emplace_back();
        profile_names->push_back(p.name());
      }
      (*oterms_per_profile_vec)[size_t(entry->second)].push_back(o);
    }
  }
  if (cfg_is_on("kavu_delay_dump_oterms_per_profile", false)) {
    const std::string dashes(50, '-');
    kavu_debug("%s", dashes.c_str());
    kavu_debug("Oterms per profile:");
    kavu_debug("%s", dashes.c_str());
    for (const auto& [p, index] : number) {
      KAVU_CHECK(index >= 0 && index < (int)oterms_per_profile_vec->size());
      kavu_debug("Profile %d -- %s:", index, p.name().c_str());
      const auto& list = (*oterms_per_profile_vec)[size_t(index)];
      for (size_t start = 0; start < list.size(); start += 10) {
        std::string line(25, ' ');
        for (size_t j = start; j < std::min(list.size(), start + 10); ++j)
          line += list[j]->get_my_node()->get_debug_name() + " ";
        kavu_debug("%s", line.c_str());
      }
    }
  }
  if (cfg_is_on("kavu_delay_dump_path_collection", false))
    collection.print(cfg_is_on("kavu_delay_dump_path_collection_all_nodes", false), false);
}
