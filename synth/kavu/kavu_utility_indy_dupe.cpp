// kavu_utility_indy_dupe.cpp — independent duplicate registers.
//
// Numbering: every output terminal gets its node-list position as its aux
// value, so that control sources sort by a value that does not depend on
// addresses, and a visit stamp in aux2 (0 at the start, a fresh stamp per
// fingerprint), so that the feedback search meets each terminal once.
// Cone comparison: a pair of input terminals matches when they read their
// own registers' outputs with equal inversion, or the same source; else
// their source gates must be alike (same comb type and input count, or both
// muxes) and their inputs match pairwise one level down. The answer for a
// pair of source terminals depends only on the pair and the levels left, so
// matches are remembered per pair at the smallest depth that matched and
// failures at the largest depth that failed; reconvergent cones (adders,
// XOR trees) are then compared in time linear in their size.
// Compatible registers: with the netlist's record in use a fingerprint
// carries the register's set id (0, the common set, when the record names
// none), so only registers of one set pair up; a register of a
// synchronizer chain gets no fingerprint. A record that failed to be built
// (kavu_ssc_compatible_registers_failed: not even the registers the
// constraint file names could be read) pairs no register at all.
// A case handled on purpose: with merging across hierarchies not
// allowed, a register without a parent name (unnamed registers, made by the
// library) sorts before every named one instead of stopping the sort with an
// internal error.
#include "kavu_utility_indy_dupe.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "kavu_check.h"
#include "kavu_dff_helper.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_ssc.h"
#include "kavu_wiring_helper.h"
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "gen/gen_dyn_flag.h"
#include "hdb/hdb.h"
#include "msg/msg.h"

namespace {

constexpr int FEEDBACK_DEPTH = 20;
constexpr int CONE_DEPTH = 20;
constexpr MSG_D_LEVEL DIAGNOSTIC = MSG_D_LEVEL(3);

bool is_real_source(const CDB_SGATE_ITERM* t) {
  return t && cdb_is_connected(t) && !t->is_vcc_or_gnd() && t->get_source();
}

int32_t gate_code(const CDB_SGATE_NODE* g) {
  if (const CDB_SGATE_COMB* c = g->cast_to_comb()) {
    const int type = int(c->get_comb_type());
    return type <= 3 ? type : 6;
  }
  if (kavu_is_a_mux(g)) return 4;
  if (kavu_is_a_dff(g)) return 5;
  return 6;
}

std::pair<CDB_SGATE_OTERM*, uint8_t> secondary_entry(const CDB_SGATE_ITERM* t, bool inactive_is_vcc) {
  if (!t || !cdb_is_connected(t)) return {nullptr, uint8_t(inactive_is_vcc ? 0 : 1)};
  if (t->is_vcc_or_gnd()) return {nullptr, uint8_t(t->is_inverted() ? 1 : 0)};
  return {t->get_source(), uint8_t(t->is_inverted() ? 1 : 0)};
}

struct INDY_DUPE_SETTINGS {
  bool m_no_dup_wys_ff = false;
  bool m_debug = false;
  int m_cap = 100;
  bool m_merge_across = true;
};

INDY_DUPE_SETTINGS read_settings(CDB_SGATE_HIERARCHY* hierarchy) {
  INDY_DUPE_SETTINGS s;
  s.m_no_dup_wys_ff = cfg_is_on("opt_no_dup_wys_ff", false);
  s.m_debug = cfg_is_on("mls_dupe_dff_enhance_debug_print", false);
  s.m_cap = cfg_get_int_value("mls_dupe_dff_enhance_inner_loop_cap", s.m_cap);
  s.m_merge_across = cfg_is_on("kavu_indy_dupe_ignore_merge_across_hierarchies", false) ||
                     kavu_allow_reg_merge_across_hierarchies(hierarchy);
  return s;
}

bool kavu_trace_dff_feedback_path(CDB_SGATE_ITERM* t, CDB_SGATE_OTERM* target, std::vector<CDB_SGATE_OTERM*>& visited,
                                  std::vector<std::pair<int32_t, uint8_t>>& gate_vector, int depth, int stamp) {
  KAVU_CHECK(depth >= 0);
  KAVU_CHECK(gate_vector.empty());
  if (!is_real_source(t)) return false;
  CDB_SGATE_OTERM* src = t->get_source();
  bool path_found = src == target;
  if (!path_found) {
    if (depth < 1 || src->get_aux2() == stamp) return false;
    visited.push_back(src);
    src->set_aux2(stamp);
    CDB_SGATE_NODE* g = src->get_my_node();
    if (!kavu_is_a_comb(g) && !kavu_is_a_mux(g)) return false;
    for (CDB_SGATE_ITERM* in : g->get_input_terms()) {
      KAVU_CHECK(gate_vector.empty());
      path_found = kavu_trace_dff_feedback_path(in, target, visited, gate_vector, depth - 1, stamp);
      KAVU_CHECK(!path_found || !gate_vector.empty());
      if (path_found) break;
    }
    if (!path_found) return false;
  }
  gate_vector.emplace_back(gate_code(src->get_my_node()), uint8_t(t->is_inverted() ? 1 : 0));
  return true;
}

bool kavu_indy_dupe_secondaries_less(const std::vector<std::pair<CDB_SGATE_OTERM*, uint8_t>>& oterm_inv_vec_a,
                                     const std::vector<std::pair<CDB_SGATE_OTERM*, uint8_t>>& oterm_inv_vec_b) {
  const size_t n = oterm_inv_vec_a.size();
  KAVU_CHECK(n == oterm_inv_vec_b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto& a = oterm_inv_vec_a[i];
    const auto& b = oterm_inv_vec_b[i];
    if (a.second != b.second) return a.second < b.second;
    if (a.first == b.first) continue;
    if (!a.first || !b.first) return !a.first;
    return a.first->get_aux() < b.first->get_aux();
  }
  return false;
}

bool kavu_indy_dupe_gate_types_less(const std::vector<std::pair<int32_t, uint8_t>>& a,
                                    const std::vector<std::pair<int32_t, uint8_t>>& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    if (a[i].second != b[i].second) return a[i].second < b[i].second;
    if (a[i].first != b[i].first) return a[i].first < b[i].first;
  }
  return a.size() < b.size();
}

bool kavu_indy_dupe_fingerprints_equal(const KAVU_INDY_DUPE_FINGERPRINT& a, const KAVU_INDY_DUPE_FINGERPRINT& b) {
  return a.m_set_id == b.m_set_id && a.m_hier_name == b.m_hier_name && a.m_secondaries == b.m_secondaries &&
         a.m_gate_types == b.m_gate_types;
}

// The pass's state: settings, scratch lists and the cone-pair memo.
class INDY_DUPE_PASS {
 public:
  INDY_DUPE_PASS(CDB_SGATE_NETLIST* netlist, GEN_DYN_FLAG& keep, GEN_DYN_FLAG& exclude, const INDY_DUPE_SETTINGS& s)
      : m_netlist(netlist), m_keep(keep), m_exclude(exclude), m_settings(s) {}

  void number_terminals();
  bool make_fingerprint(CDB_SGATE_NODE* dff, KAVU_INDY_DUPE_FINGERPRINT& print, int stamp);
  int pair_runs(std::vector<KAVU_INDY_DUPE_FINGERPRINT>& prints);
  void debug_candidates(const std::vector<KAVU_INDY_DUPE_FINGERPRINT>& prints) const;

 private:
  bool share_din(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b);
  // Whether the data cones a_iterm and b_iterm compute the same function,
  // a_oterm on one side standing for b_oterm on the other.
  bool kavu_dff_cones_match(CDB_SGATE_ITERM* a_iterm, CDB_SGATE_ITERM* b_iterm, CDB_SGATE_OTERM* a_oterm,
                            CDB_SGATE_OTERM* b_oterm, int depth);
  bool cones_match(CDB_SGATE_ITERM* a_iterm, CDB_SGATE_ITERM* b_iterm, int depth);
  bool sources_match(CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b, int depth);

  // Per pair of source terminals: the smallest depth that matched, the
  // largest that failed. Open addressing over a power-of-two table, cleared
  // through the list of slots in use, so that the many small comparisons of
  // a run cost no allocation and no full-table clear.
  struct PAIR_MEMO {
    const CDB_SGATE_OTERM* m_a = nullptr;
    const CDB_SGATE_OTERM* m_b = nullptr;
    int m_matched = CONE_DEPTH + 1;
    int m_failed = -1;
  };
  class PAIR_MEMO_TABLE {
   public:
    void clear() {
      for (uint32_t s : m_used) m_slots[s] = PAIR_MEMO();
      m_used.clear();
    }
    // The entry of the pair, made when absent; valid until the next find.
    PAIR_MEMO& find(const CDB_SGATE_OTERM* a, const CDB_SGATE_OTERM* b) {
      if ((m_used.size() + 1) * 2 > m_slots.size()) grow();
      const size_t mask = m_slots.size() - 1;
      size_t s = hash(a, b) & mask;
      while (m_slots[s].m_a && (m_slots[s].m_a != a || m_slots[s].m_b != b)) s = (s + 1) & mask;
      if (!m_slots[s].m_a) {
        m_slots[s].m_a = a;
        m_slots[s].m_b = b;
        m_used.push_back(uint32_t(s));
      }
      return m_slots[s];
    }

   private:
    static size_t hash(const void* a, const void* b) {
      uint64_t h = reinterpret_cast<uintptr_t>(a) * 0x9e3779b97f4a7c15ull;
      h ^= reinterpret_cast<uintptr_t>(b) + (h >> 29);
      h *= 0xbf58476d1ce4e5b9ull;
      return size_t(h ^ (h >> 32));
    }
    void grow() {
      std::vector<PAIR_MEMO> old;
      old.swap(m_slots);
      m_slots.assign(old.empty() ? 64 : old.size() * 2, PAIR_MEMO());
      m_used.clear();
      for (const PAIR_MEMO& e : old) {
        if (!e.m_a) continue;
        PAIR_MEMO& n = find(e.m_a, e.m_b);
        n.m_matched = e.m_matched;
        n.m_failed = e.m_failed;
      }
    }
    std::vector<PAIR_MEMO> m_slots;
    std::vector<uint32_t> m_used;
  };

  CDB_SGATE_NETLIST* m_netlist;
  GEN_DYN_FLAG& m_keep;
  GEN_DYN_FLAG& m_exclude;
  const INDY_DUPE_SETTINGS& m_settings;
  std::vector<CDB_SGATE_OTERM*> m_visited;
  CDB_SGATE_OTERM* m_a_oterm = nullptr;
  CDB_SGATE_OTERM* m_b_oterm = nullptr;
  PAIR_MEMO_TABLE m_memo;
};

void INDY_DUPE_PASS::number_terminals() {
  int k = 0;
  for (auto it = m_netlist->begin_node_list(); it != m_netlist->end_node_list(); ++it) {
    if (!*it) continue;
    for (CDB_SGATE_OTERM* t : (*it)->get_output_terms()) {
      if (!t) continue;
      t->set_aux(k++);
      t->set_aux2(0);
    }
  }
}

bool INDY_DUPE_PASS::make_fingerprint(CDB_SGATE_NODE* dff, KAVU_INDY_DUPE_FINGERPRINT& print, int stamp) {
  KAVU_CHECK(kavu_is_a_dff(dff) || (dff->is_wysiwyg() && (dff->cast_to_wysiwyg()->is_ff())));
  CDB_SGATE_ITERM* data = kavu_get_dff_data(dff);
  CDB_SGATE_OTERM* out = kavu_get_dff_oterm(dff);
  if (!out || out->test_dyn_flag(m_exclude)) return false;
  CDB_SGATE_COMPATIBLE_REGISTERS* compatible = m_netlist->get_compatible_registers();
  // Equal fingerprints need equal set ids, so only registers of one set
  // (the common set 0 included) are paired; a synchronizer-chain register
  // is paired with none.
  const bool use_sets = compatible->is_in_use();
  const uint32_t set_id = use_sets ? compatible->get_set_id(out) : 0;
  if (use_sets && compatible->get_synch_chain(out) != 0) return false;
  print.m_gate_types.clear();
  m_visited.clear();
  if (!kavu_trace_dff_feedback_path(data, out, m_visited, print.m_gate_types, FEEDBACK_DEPTH, stamp)) return false;
  print.m_dff = dff;
  print.m_set_id = set_id;
  print.m_preserve = out->test_dyn_flag(m_keep);
  print.m_hier_name = nullptr;
  print.m_hier_path.clear();
  if (!m_settings.m_merge_across) {
    const HDB_INSTANCE_NAME* name = dff->get_instance_name();
    print.m_hier_name = name ? name->get_parent() : nullptr;
    if (print.m_hier_name) print.m_hier_path = print.m_hier_name->get_short_hpath(0);
  }
  print.m_secondaries = {secondary_entry(kavu_get_dff_clear(dff), false),
                         secondary_entry(kavu_get_dff_preset(dff), false),
                         secondary_entry(kavu_get_dff_clock(dff), false),
                         secondary_entry(kavu_get_dff_enable(dff), true),
                         secondary_entry(kavu_get_dff_aload(dff), false),
                         secondary_entry(kavu_get_dff_sload(dff), false),
                         secondary_entry(kavu_get_dff_adata(dff), false),
                         secondary_entry(kavu_get_dff_sclear(dff), false)};
  return true;
}

void INDY_DUPE_PASS::debug_candidates(const std::vector<KAVU_INDY_DUPE_FINGERPRINT>& prints) const {
  kavu_debug("==== begin candidates ====");
  for (const KAVU_INDY_DUPE_FINGERPRINT& p : prints) {
    std::string line = std::string(p.m_dff->get_string_type_name()) + " " + p.m_dff->get_debug_name();
    if (p.m_preserve) line += " preserve ";
    line += " secondaries ";
    for (const auto& s : p.m_secondaries) {
      if (s.second) line += "!";
      line += s.first ? s.first->get_my_node()->get_debug_name() : std::string("gnd");
      line += " ";
    }
    line += " gate types ";
    for (const auto& g : p.m_gate_types) {
      if (g.second) line += "!";
      line += std::to_string(g.first) + " ";
    }
    kavu_debug("%s", line.c_str());
  }
  kavu_debug("=== end candidates === ");
}

bool INDY_DUPE_PASS::sources_match(CDB_SGATE_OTERM* a, CDB_SGATE_OTERM* b, int depth) {
  {
    const PAIR_MEMO& memo = m_memo.find(a, b);
    if (depth >= memo.m_matched) return true;
    if (depth <= memo.m_failed) return false;
  }
  const CDB_SGATE_NODE* ga = a->get_my_node();
  const CDB_SGATE_NODE* gb = b->get_my_node();
  bool alike = false;
  if (kavu_is_a_comb(ga) && kavu_is_a_comb(gb)) {
    alike = ga->cast_to_comb()->get_comb_type() == gb->cast_to_comb()->get_comb_type() &&
            ga->get_number_of_input_terms() == gb->get_number_of_input_terms();
  } else {
    alike = kavu_is_a_mux(ga) && kavu_is_a_mux(gb) && ga->get_number_of_input_terms() == gb->get_number_of_input_terms();
  }
  bool match = alike;
  for (unsigned i = 0; match && i < ga->get_number_of_input_terms(); ++i)
    match = cones_match(ga->get_input_term(i), gb->get_input_term(i), depth - 1);
  // The table may have grown meanwhile: look the pair up again.
  PAIR_MEMO& after = m_memo.find(a, b);
  if (match) after.m_matched = std::min(after.m_matched, depth);
  else after.m_failed = std::max(after.m_failed, depth);
  return match;
}

bool INDY_DUPE_PASS::cones_match(CDB_SGATE_ITERM* a_iterm, CDB_SGATE_ITERM* b_iterm, int depth) {
  const bool a_nc = !a_iterm || !cdb_is_connected(a_iterm);
  const bool b_nc = !b_iterm || !cdb_is_connected(b_iterm);
  if (a_nc || b_nc) return a_nc && b_nc;  // inputs of gates: both unused
  if (a_iterm->get_source() == m_a_oterm && b_iterm->get_source() == m_b_oterm &&
      a_iterm->is_inverted() == b_iterm->is_inverted())
    return true;
  if (kavu_same_source(a_iterm, b_iterm)) return true;
  if (depth < 1 || a_iterm->is_vcc_or_gnd() || b_iterm->is_vcc_or_gnd()) return false;
  if (a_iterm->is_inverted() != b_iterm->is_inverted()) return false;
  return sources_match(a_iterm->get_source(), b_iterm->get_source(), depth);
}

bool INDY_DUPE_PASS::kavu_dff_cones_match(CDB_SGATE_ITERM* a_iterm, CDB_SGATE_ITERM* b_iterm,
                                          CDB_SGATE_OTERM* a_oterm, CDB_SGATE_OTERM* b_oterm, int depth) {
  KAVU_CHECK(a_oterm && b_oterm);
  KAVU_CHECK(cdb_is_connected (a_iterm));
  KAVU_CHECK(cdb_is_connected (b_iterm));
  m_a_oterm = a_oterm;
  m_b_oterm = b_oterm;
  m_memo.clear();
  return cones_match(a_iterm, b_iterm, depth);
}

bool INDY_DUPE_PASS::share_din(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
  if (!kavu_similar_dffs(a, b, true)) return false;
  CDB_SGATE_ITERM* a_data = kavu_get_dff_data(a);
  CDB_SGATE_ITERM* b_data = kavu_get_dff_data(b);
  if (kavu_same_source(a_data, b_data)) return false;
  if (!kavu_dff_cones_match(a_data, b_data, kavu_get_dff_oterm(a), kavu_get_dff_oterm(b), CONE_DEPTH)) return false;
  kavu_debug_at_level(DIAGNOSTIC, "DFFs UID %s and %s are independent functional equivalents",
                      a->get_debug_name().c_str(), b->get_debug_name().c_str());
  b_data->disconnect_from_source(2);
  kavu_copy_fanin(a_data, b_data);
  kavu_debug_at_level(DIAGNOSTIC, "Feeding B from A's din");
  return true;
}

int INDY_DUPE_PASS::pair_runs(std::vector<KAVU_INDY_DUPE_FINGERPRINT>& prints) {
  int rewired = 0;
  for (size_t i = 0; i < prints.size(); ++i) {
    CDB_SGATE_NODE* a = prints[i].m_dff;
    if (!kavu_get_dff_oterm(a)->has_fanout()) continue;
    int step = 0;
    for (size_t j = i + 1; j < prints.size(); ++j) {
      ++step;
      if (!kavu_indy_dupe_fingerprints_equal(prints[i], prints[j])) break;
      CDB_SGATE_NODE* b = prints[j].m_dff;
      if (kavu_get_dff_oterm(b)->has_fanout() && !prints[j].m_preserve && share_din(a, b)) {
        ++rewired;
        kavu_debug_at_level(DIAGNOSTIC, "Found dup in %d step of inner loop", step);
      }
      if (step >= m_settings.m_cap) {
        if (m_settings.m_debug)
          kavu_debug_at_level(DIAGNOSTIC, "Reached cap of %d on inner loop count for register %s. Stop.",
                              m_settings.m_cap, a->get_debug_name().c_str());
        break;
      }
    }
    if (m_settings.m_debug) kavu_debug("Did %d steps in inner loop", step);
  }
  return rewired;
}

}  // namespace

bool kavu_indy_dupe_fingerprint_less(const KAVU_INDY_DUPE_FINGERPRINT& print_a,
                                     const KAVU_INDY_DUPE_FINGERPRINT& print_b) {
  if (print_a.m_set_id != print_b.m_set_id) return print_a.m_set_id < print_b.m_set_id;
  if (print_a.m_hier_name != print_b.m_hier_name) {
    // Registers without a parent name come first.
    if (!print_a.m_hier_name || !print_b.m_hier_name) return !print_a.m_hier_name;
    if (print_a.m_hier_path != print_b.m_hier_path) return print_a.m_hier_path < print_b.m_hier_path;
  }
  if (print_a.m_gate_types.size() != print_b.m_gate_types.size())
    return print_a.m_gate_types.size() < print_b.m_gate_types.size();
  KAVU_CHECK(print_a.m_secondaries.size() == print_b.m_secondaries.size());
  if (kavu_indy_dupe_secondaries_less(print_a.m_secondaries, print_b.m_secondaries)) return true;
  if (kavu_indy_dupe_secondaries_less(print_b.m_secondaries, print_a.m_secondaries)) return false;
  if (kavu_indy_dupe_gate_types_less(print_a.m_gate_types, print_b.m_gate_types)) return true;
  if (kavu_indy_dupe_gate_types_less(print_b.m_gate_types, print_a.m_gate_types)) return false;
  return print_a.m_preserve && !print_b.m_preserve;
}

int kavu_remove_indy_dupe_ffs(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist, GEN_DYN_FLAG& keep,
                              GEN_DYN_FLAG& exclude) {
  KAVU_CHECK(netlist);
  const INDY_DUPE_SETTINGS settings = read_settings(hierarchy);
  if (cfg_is_on("kavu_waive_indy_dupe", false) || (netlist->get_waive_byte() & CDB_NETLIST_WAIVE_INDY_DUPE)) return 0;
  if (kavu_ssc_compatible_registers_failed(netlist->get_compatible_registers())) {
    // The record that was to keep constrained registers apart could not be
    // built: any register may be one, so none is merged.
    msg_post_message(MSG_POST_TYPE_WARNING,
                     "Independent duplicate registers are not merged: the compatible-register information could "
                     "not be built, so any register may carry a timing constraint");
    return 0;
  }
  const time_t start = time(nullptr);
  INDY_DUPE_PASS pass(netlist, keep, exclude, settings);
  pass.number_terminals();
  std::vector<KAVU_INDY_DUPE_FINGERPRINT> prints;
  KAVU_INDY_DUPE_FINGERPRINT print;
  int stamp = 0;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* g = *it;
    if (!g) continue;
    const bool wys_ff = !settings.m_no_dup_wys_ff && kavu_is_a_wys_ff(g) &&
                        !g->cast_to_wysiwyg()->mode_is_set(CDB_WYSIWYG_FROM_USER);
    if (!kavu_is_a_dff(g) && !wys_ff) continue;
    if (pass.make_fingerprint(g, print, ++stamp)) prints.push_back(print);
  }
  const time_t built = time(nullptr);
  std::sort(prints.begin(), prints.end(), kavu_indy_dupe_fingerprint_less);
  const time_t sorted = time(nullptr);
  if (!prints.empty())
    kavu_debug_at_level(DIAGNOSTIC,
                        "Found %d candidates for indy dupes in %d seconds. Spent %d seconds in building finger "
                        "prints and %d seconds in sorting",
                        int(prints.size()), int(sorted - start), int(built - start), int(sorted - built));
  if (settings.m_debug) pass.debug_candidates(prints);
  const int rewired = pass.pair_runs(prints);
  if (rewired > 0) {
    const unsigned before = kavu_node_container_size(netlist);
    netlist->prepare_for_use();
    netlist->sweep(false);
    kavu_debug_at_level(DIAGNOSTIC, "Indy dupes shorted %d  FF in %d seconds.  Sweep removed %d gates", rewired,
                        int(time(nullptr) - start), int(before) - int(kavu_node_container_size(netlist)));
  }
  return rewired;
}
