// Tests of the independent-duplicate-register pass: the bundled sequential
// designs as they are and with every register duplicated together with the
// part of its data cone that reads it (so that each copy feeds back on
// itself), proved by berkeley-abc dsec and counted beside yosys; and the
// pass's rules on small hand-built registers.

#include <map>
#include <memory>
#include <set>
#include <tuple>

#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_ssc.h"
#include "kavu_utility_indy_dupe.h"
#include "kavu_wiring_helper.h"
#include "cmp/cmp.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "netlist_io/yosys_oracle.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

// Runs the pass with fresh keep and exclude flags.
int run_pass(CDB_SGATE_NETLIST* nl, CDB_SGATE_HIERARCHY* hier = nullptr, CDB_SGATE_NODE* kept = nullptr,
             CDB_SGATE_NODE* excluded = nullptr) {
  GEN_DYN_FLAG keep = nl->get_flag_manager().create_flag("keep");
  GEN_DYN_FLAG exclude = nl->get_flag_manager().create_flag("exclude");
  if (kept) kept->get_output_term(0)->set_dyn_flag(keep);
  if (excluded) excluded->get_output_term(0)->set_dyn_flag(exclude);
  const int n = kavu_remove_indy_dupe_ffs(hier, nl, keep, exclude);
  nl->get_flag_manager().destroy_flag(keep);
  nl->get_flag_manager().destroy_flag(exclude);
  return n;
}

std::vector<CDB_SGATE_NODE*> registers_of(const CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> out;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it)) out.push_back(*it);
  return out;
}

// Registers left after merging plain duplicates: same inputs, same power-up.
int distinct_registers(const CDB_SGATE_NETLIST* nl) {
  std::set<std::vector<std::tuple<const void*, bool, bool>>> seen;
  for (CDB_SGATE_NODE* r : registers_of(nl)) {
    std::vector<std::tuple<const void*, bool, bool>> key;
    for (const CDB_SGATE_ITERM* t : r->get_input_terms())
      key.emplace_back(t ? t->get_source() : nullptr, t && cdb_is_connected(t), t && t->is_inverted());
    key.emplace_back(nullptr, kavu_dff_powers_up_high(r), false);
    seen.insert(key);
  }
  return int(seen.size());
}

// Duplicates every register r: the comb and mux gates within 20 levels of
// its data input that reach r's output are copied, the copies reading the
// new register where the originals read r; the new register (a clone with
// every control) reads the copied cone and takes every second fan-out of r
// outside the cone. Returns the (original, copy) pairs.
std::vector<std::pair<CDB_SGATE_NODE*, CDB_SGATE_NODE*>> duplicate_every_register(CDB_SGATE_NETLIST* nl) {
  std::vector<std::pair<CDB_SGATE_NODE*, CDB_SGATE_NODE*>> pairs;
  for (CDB_SGATE_NODE* r : registers_of(nl)) {
    CDB_SGATE_OTERM* q = r->get_output_term(0);
    // The cone, level by level.
    std::vector<CDB_SGATE_NODE*> cone;
    std::set<CDB_SGATE_NODE*> in_cone;
    std::vector<CDB_SGATE_NODE*> frontier;
    auto consider = [&](const CDB_SGATE_ITERM* t, std::vector<CDB_SGATE_NODE*>& next) {
      if (!t || !t->get_source()) return;
      CDB_SGATE_NODE* g = t->get_source()->get_my_node();
      if ((kavu_is_a_comb(g) || kavu_is_a_mux(g)) && in_cone.insert(g).second) {
        cone.push_back(g);
        next.push_back(g);
      }
    };
    consider(r->get_input_term(CDB_DFF_DATA), frontier);
    for (int level = 1; level < 20 && !frontier.empty(); ++level) {
      std::vector<CDB_SGATE_NODE*> next;
      for (CDB_SGATE_NODE* g : frontier)
        for (CDB_SGATE_ITERM* t : g->get_input_terms()) consider(t, next);
      frontier.swap(next);
    }
    // The gates of the cone that reach q.
    std::set<CDB_SGATE_NODE*> reach;
    for (bool grew = true; grew;) {
      grew = false;
      for (CDB_SGATE_NODE* g : cone) {
        if (reach.count(g)) continue;
        for (CDB_SGATE_ITERM* t : g->get_input_terms()) {
          if (t && t->get_source() && (t->get_source() == q || reach.count(t->get_source()->get_my_node()))) {
            reach.insert(g);
            grew = true;
            break;
          }
        }
      }
    }
    CDB_SGATE_NODE* copy = nullptr;
    r->clone_node(nullptr, &copy, 1);
    nl->add_node(copy);
    std::map<CDB_SGATE_NODE*, CDB_SGATE_NODE*> copies;
    for (CDB_SGATE_NODE* g : cone) {
      if (!reach.count(g)) continue;
      CDB_SGATE_NODE* c = nullptr;
      g->clone_node(nullptr, &c, 1);
      nl->add_node(c);
      copies[g] = c;
    }
    auto redirect = [&](CDB_SGATE_ITERM* t) {
      if (!t || !t->get_source()) return;
      CDB_SGATE_OTERM* src = t->get_source();
      CDB_SGATE_OTERM* to = nullptr;
      if (src == q) to = copy->get_output_term(0);
      else if (copies.count(src->get_my_node())) to = copies[src->get_my_node()]->get_output_term(0);
      if (to) to->insert_fanout(t);  // keeps the inversion flag
    };
    for (auto& gc : copies)
      for (CDB_SGATE_ITERM* t : gc.second->get_input_terms()) redirect(t);
    redirect(copy->get_input_term(CDB_DFF_DATA));
    std::vector<CDB_SGATE_ITERM*> fanouts;
    q->copy_fanouts(fanouts);
    int k = 0;
    for (CDB_SGATE_ITERM* t : fanouts) {
      // Only output pins move: a register reading the copy would differ
      // from its own copy by more than a feedback ring.
      if (!t->get_my_node()->is_output()) continue;
      if (k++ % 2) copy->get_output_term(0)->insert_fanout(t);
    }
    pairs.emplace_back(r, copy);
  }
  return pairs;
}

void report_counts(const std::string& name, const CDB_SGATE_NETLIST* before, int ours) {
  const std::string path = name + ".blif";
  std::string error;
  ASSERT_TRUE(blif_write_file(before, path, {}, &error)) << error;
  std::string log;
  const int peer = yosys_merged_register_count(path, &log);
  if (peer < 0) {
    std::cout << "[ note     ] yosys register count skipped: " << log.substr(0, 200) << "\n";
    return;
  }
  std::cout << "[ count    ] " << name << ": " << registers_of(before).size() << " registers; after the pass "
            << ours << " distinct; yosys opt_merge keeps " << peer << "\n";
  ::testing::Test::RecordProperty(name + "_ours", ours);
  ::testing::Test::RecordProperty(name + "_yosys", peer);
}

}  // namespace

TEST(KavuUtilityIndyDupe, BundledDesignsAndEveryRegisterDuplicated) {
  // Registers of one clock and enable share a fingerprint, so a run holds
  // most of a design; without a cap every pair in it is tried.
  CFG_SCOPE cfg{{"kavu_indy_dupe_ignore_merge_across_hierarchies", "on"},
                {"mls_dupe_dff_enhance_inner_loop_cap", "1000000"}};
  for (const std::string name : {"seq/stereovision3", "seq/diffeq1", "seq/ch_intrinsics"}) {
    SCOPED_TRACE(name);
    for (bool duplicate : {false, true}) {
      LOADED_NETLIST nl = load_blif(name);
      nl->get_compatible_registers()->set_in_use(false);
      std::vector<std::pair<CDB_SGATE_NODE*, CDB_SGATE_NODE*>> pairs;
      if (duplicate) {
        std::unique_ptr<CDB_SGATE_NETLIST> original(nl->clone(nullptr, true, true));
        nl->clear_temp_pointers();
        pairs = duplicate_every_register(nl.get());
        ASSERT_KAVU_EQUIVALENT(original, nl);
      }
      std::unique_ptr<CDB_SGATE_NETLIST> before(nl->clone(nullptr, true, true));
      nl->clear_temp_pointers();
      int differing = 0;
      for (auto& p : pairs)
        differing += !kavu_same_source(p.first->get_input_term(CDB_DFF_DATA), p.second->get_input_term(CDB_DFF_DATA));
      std::vector<std::pair<unsigned, unsigned>> ids;
      for (auto& p : pairs) ids.emplace_back(p.first->get_debug_number(), p.second->get_debug_number());
      const int distinct_before = distinct_registers(nl.get());
      const int rewired = run_pass(nl.get());
      // The sweep may remove either register of a pair (the one whose ring
      // died); a pair that survives reads one data source.
      std::map<unsigned, CDB_SGATE_NODE*> live;
      for (CDB_SGATE_NODE* r : registers_of(nl.get())) live[r->get_debug_number()] = r;
      for (auto& id : ids) {
        if (!live.count(id.first) || !live.count(id.second)) continue;
        EXPECT_TRUE(kavu_same_source(live[id.first]->get_input_term(CDB_DFF_DATA),
                                     live[id.second]->get_input_term(CDB_DFF_DATA)))
            << live[id.first]->get_string_hpath();
      }
      if (duplicate) {
        EXPECT_GE(rewired, differing);
        EXPECT_GT(differing, 0);
        EXPECT_LE(distinct_registers(nl.get()), distinct_before - differing);
      }
      std::string report;
      EXPECT_TRUE(nl->check(&report)) << report;
      ASSERT_KAVU_EQUIVALENT(before, nl);
      report_counts(name.substr(4) + (duplicate ? "_dup" : ""), before.get(), distinct_registers(nl.get()));
    }
  }
}

namespace {

// Registers each fed by XOR(own output, x) or by a longer ring, on one clock.
struct RING_REGS {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE* clk;
  CDB_SGATE_NODE* x;
  RING_REGS() : clk(make_input_pin(&nl, "clk")), x(make_input_pin(&nl, "x")) {
    nl.get_compatible_registers()->set_in_use(false);
  }
  CDB_SGATE_NODE* toggle(HDB_INSTANCE_NAME* name = nullptr) {
    CDB_SGATE_NODE* r = make_dff(&nl, nullptr, clk);
    r->set_instance_name(name);
    CDB_SGATE_NODE* g = make_xor(&nl, r, x);
    g->get_output_term(0)->insert_fanout(r->get_input_term(CDB_DFF_DATA));
    make_output_pin(&nl, ("q" + std::to_string(nl.size())).c_str(), r);
    return r;
  }
  static bool shared(CDB_SGATE_NODE* a, CDB_SGATE_NODE* b) {
    return a->get_input_term(CDB_DFF_DATA)->get_source() == b->get_input_term(CDB_DFF_DATA)->get_source();
  }
};

}  // namespace

TEST(KavuUtilityIndyDupe, PairingRules) {
  struct ROW {
    const char* name;
    int rewired;
  } const rows[] = {{"plain", 1}, {"kept second", 1}, {"excluded", 0}, {"other clock", 0}, {"no fanout", 0},
                    {"waived", 0}, {"waive byte", 0}, {"no feedback", 0}, {"set ids", 1}, {"other set", 0},
                    {"common set", 1}, {"netlist-only", 1}, {"own set", 0}, {"synchronizer", 0}};
  for (const ROW& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string row = r.name;
    std::unique_ptr<CFG_SCOPE> cfg(new CFG_SCOPE{{"kavu_indy_dupe_ignore_merge_across_hierarchies", "on"},
                                                 {"kavu_waive_indy_dupe", row == "waived" ? "on" : nullptr}});
    RING_REGS g;
    CDB_SGATE_NODE* a = g.toggle();
    CDB_SGATE_NODE* b = g.toggle();
    CDB_SGATE_NODE* kept = nullptr;
    CDB_SGATE_NODE* excluded = nullptr;
    if (row == "kept second") kept = b;
    if (row == "excluded") excluded = b;
    if (row == "other clock") g.x->get_output_term(0)->insert_fanout(b->get_input_term(CDB_DFF_CLK));
    if (row == "no fanout") b->get_output_term(0)->disconnect_all_fanouts();
    if (row == "waive byte") g.nl.set_waive_byte(CDB_NETLIST_WAIVE_INDY_DUPE);
    if (row == "no feedback") {
      g.x->get_output_term(0)->insert_fanout(a->get_input_term(CDB_DFF_DATA));
      g.clk->get_output_term(0)->insert_fanout(b->get_input_term(CDB_DFF_DATA));
    }
    if (row == "set ids" || row == "other set") {
      CDB_SGATE_COMPATIBLE_REGISTERS* c = g.nl.get_compatible_registers();
      c->set_in_use(true);
      c->add_oterm_set_id(a->get_output_term(0), 3);
      c->add_oterm_set_id(b->get_output_term(0), row == "set ids" ? 3 : 4);
    }
    // A ready record: the two unconstrained registers share the common set;
    // one with a set, or a synchronizer mark, of its own is paired with none.
    CDB_SGATE_COMPATIBLE_REGISTERS* c = g.nl.get_compatible_registers();
    if (row == "netlist-only") kavu_ssc_mark_all_registers_compatible(&g.nl);
    if (row == "common set" || row == "own set" || row == "synchronizer") {
      c->set_in_use(true);
      c->set_ready_to_use(true);
    }
    if (row == "own set") c->add_oterm_set_id(b->get_output_term(0), 1);
    if (row == "synchronizer") c->mark_synch_reg(b->get_output_term(0), 1);
    std::unique_ptr<CDB_SGATE_NETLIST> before(g.nl.clone(nullptr, true, true));
    g.nl.clear_temp_pointers();
    DEBUG_CAPTURE cap("KAVU");
    EXPECT_EQ(run_pass(&g.nl, nullptr, kept, excluded), r.rewired);
    if (r.rewired) {
      // A kept register sorts first and is never the one rewired.
      EXPECT_TRUE(RING_REGS::shared(a, b));
      EXPECT_TRUE(cap.contains("are independent functional equivalents"));
      EXPECT_TRUE(cap.contains("Sweep removed 1 gates"));
      // The kept register still reads its own ring.
      const CDB_SGATE_NODE* xor_gate = b->get_input_term(CDB_DFF_DATA)->get_source()->get_my_node();
      if (kept) {
        EXPECT_EQ(xor_gate->get_input_term(0)->get_source(), b->get_output_term(0));
      }
    }
    ASSERT_KAVU_EQUIVALENT(before, g.nl);
  }
}

TEST(KavuUtilityIndyDupe, LongRingsAndTheCap) {
  CFG_SCOPE cfg{{"kavu_indy_dupe_ignore_merge_across_hierarchies", "on"}};
  // Rings through 19 gates are found, through 21 not.
  for (int length : {19, 21}) {
    RING_REGS g;
    std::vector<CDB_SGATE_NODE*> regs;
    for (int k = 0; k < 2; ++k) {
      CDB_SGATE_NODE* r = make_dff(&g.nl, nullptr, g.clk);
      CDB_SGATE_NODE* prev = r;
      for (int i = 0; i < length; ++i) prev = i % 2 ? make_not(&g.nl, prev) : make_xor(&g.nl, prev, g.x);
      prev->get_output_term(0)->insert_fanout(r->get_input_term(CDB_DFF_DATA));
      make_output_pin(&g.nl, ("q" + std::to_string(k)).c_str(), r);
      regs.push_back(r);
    }
    EXPECT_EQ(run_pass(&g.nl), length < 20 ? 1 : 0) << length;
  }
  // With the cap at 1 each register meets only its successor: of three equal
  // registers the second is rewired, and then no longer equals the third
  // (its ring now runs through the first); an empty value keeps 100.
  for (const char* cap : {"1", ""}) {
    CFG_SCOPE c{{"mls_dupe_dff_enhance_inner_loop_cap", cap}, {"mls_dupe_dff_enhance_debug_print", "on"}};
    RING_REGS g;
    for (int i = 0; i < 3; ++i) g.toggle();
    DEBUG_CAPTURE lines("KAVU");
    EXPECT_EQ(run_pass(&g.nl), *cap ? 1 : 2);
    EXPECT_EQ(lines.contains("Reached cap of 1"), *cap != 0);
    EXPECT_TRUE(lines.contains("==== begin candidates ===="));
  }
}

// With merging across hierarchies not allowed, registers under different
// parents are never paired, and unnamed registers (no parent) sort first
// (never an internal error in the sort).
TEST(KavuUtilityIndyDupe, HierarchiesAndUnnamedRegisters) {
  CMP_FACADE facade;
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  hdb_set_option(hdb_default_namespace(), ACF_REG_MERGE_ACROSS_HIERARCHIES, "OFF");
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* u1 = HDB_INSTANCE_NAME::create_child(top, "u1");
  HDB_INSTANCE_NAME* u2 = HDB_INSTANCE_NAME::create_child(top, "u2");
  CDB_SGATE_HIERARCHY hier;
  hier.set_instance_name(top);
  RING_REGS g;
  CDB_SGATE_NODE* a1 = g.toggle(HDB_INSTANCE_NAME::create_child(u1, "a"));
  CDB_SGATE_NODE* b2 = g.toggle(HDB_INSTANCE_NAME::create_child(u2, "b"));
  CDB_SGATE_NODE* n1 = g.toggle();
  CDB_SGATE_NODE* c1 = g.toggle(HDB_INSTANCE_NAME::create_child(u1, "c"));
  CDB_SGATE_NODE* n2 = g.toggle();
  std::unique_ptr<CDB_SGATE_NETLIST> before(g.nl.clone(nullptr, true, true));
  g.nl.clear_temp_pointers();
  EXPECT_EQ(run_pass(&g.nl, &hier), 2);
  EXPECT_TRUE(RING_REGS::shared(a1, c1));
  EXPECT_TRUE(RING_REGS::shared(n1, n2));
  EXPECT_FALSE(RING_REGS::shared(a1, b2));
  EXPECT_FALSE(RING_REGS::shared(a1, n1));
  ASSERT_KAVU_EQUIVALENT(before, g.nl);
  ZCU_FACADE_UTIL::get_instance()->set_facade(nullptr);
  // The order itself: no parent first, then by path, then kept first.
  KAVU_INDY_DUPE_FINGERPRINT p, q;
  p.m_secondaries = q.m_secondaries = {{nullptr, 1}};
  q.m_hier_name = u1;
  q.m_hier_path = "top|u1";
  EXPECT_TRUE(kavu_indy_dupe_fingerprint_less(p, q));
  EXPECT_FALSE(kavu_indy_dupe_fingerprint_less(q, p));
  p = q;
  p.m_preserve = true;
  EXPECT_TRUE(kavu_indy_dupe_fingerprint_less(p, q));
  EXPECT_FALSE(kavu_indy_dupe_fingerprint_less(q, p));
}
