// Tests of the sequential timer's data side: the terminal index on real
// designs, clock domains of a two-clock design against an independent
// reachability, fixed registers, RAM/MAC/LUT-RAM records and packing, the
// faults of shallow copies, stale indices, invalid clocks, deep chains and
// unconditional dumps.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <list>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

#include "cut/cut_mac.h"
#include "hdb/hdb.h"
#include "kavu_delay_model_seq.h"
#include "kavu_depends.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_seq_lutram_util.h"
#include "kavu_seq_mac_utility.h"
#include "kavu_seq_scc.h"
#include "kavu_seq_timer.h"
#include "kavu_setup.h"
#include "kavu_sort.h"
#include "netlist_io/simulator.h"
#include "platform_testkit.h"

using namespace kavu_platform;

namespace {

CDB_SGATE_OTERM* out(CDB_SGATE_NODE* g) { return g->get_output_term(0); }

bool is_reg(const CDB_SGATE_NODE* g) { return kavu_is_a_dff(g, true); }

// Every output terminal of the netlist, in node-list order.
std::vector<CDB_SGATE_OTERM*> all_oterms(const CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_OTERM*> result;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o) result.push_back(o);
  return result;
}

// Terminal -> the ids of the domains that list it.
std::map<const CDB_SGATE_OTERM*, std::set<int>> domains_of(const KAVU_SEQ_TIMER& timer) {
  std::map<const CDB_SGATE_OTERM*, std::set<int>> result;
  for (const KAVU_SEQ_TIMER_CLK_DOMAIN* d : timer.get_clock_domains())
    for (const CDB_SGATE_OTERM* o : d->get_oterms()) result[o].insert(d->get_id());
  return result;
}

bool carries_no_mark(const CDB_SGATE_NETLIST* nl) {
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if ((*it)->get_flag().test(0x39000)) return false;
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o && o->get_flag().test(0x6000)) return false;
  }
  return true;
}

// The node ids of the multi-clock boundary traces.
std::set<int> boundary_trace_ids(const DEBUG_CAPTURE& cap) {
  std::set<int> ids;
  for (const std::string& line : cap.lines()) {
    int id;
    const size_t at = line.find("SGATE ");
    if (at != std::string::npos && line.find("is fixed because it is multi-clock domain boundary") != std::string::npos &&
        std::sscanf(line.c_str() + at, "SGATE %d", &id) == 1)
      ids.insert(id);
  }
  return ids;
}

// ---- atoms ----
CDB_SGATE_ITERM* atom_in(CDB_SGATE_WYSIWYG* atom, uint16_t port, CDB_SGATE_NODE* src, unsigned bit = 0,
                         bool inverted = false) {
  CDB_SGATE_ITERM* t = atom->create_input_term(nullptr, port);
  t->set_port_index(bit);
  atom->set_input_term(t, atom->get_input_port_number(port) + bit);
  if (src) t->set_source(out(src));
  if (inverted) t->invert();
  return t;
}

CDB_SGATE_OTERM* atom_out(CDB_SGATE_WYSIWYG* atom, uint16_t port, unsigned bit = 0) {
  CDB_SGATE_OTERM* o = atom->create_output_term(nullptr, port);
  o->set_port_index(bit);
  atom->set_output_term(o, atom->get_output_port_number(port) + bit);
  return o;
}

// A plain register on clk (inverted clock when asked) reading d.
CDB_SGATE_NODE* reg(CDB_SGATE_NETLIST& nl, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clk, bool inverted = false) {
  CDB_SGATE_NODE* r = make_dff(&nl, d, clk);
  if (inverted) kavu_get_dff_clock(r)->invert();
  return r;
}

// A plain register reading an atom output.
CDB_SGATE_NODE* reg_on(CDB_SGATE_NETLIST& nl, CDB_SGATE_OTERM* d, CDB_SGATE_NODE* clk, bool inverted = false) {
  CDB_SGATE_NODE* r = reg(nl, nullptr, clk, inverted);
  kavu_get_dff_data(r)->set_source(d);
  return r;
}

}  // namespace

// Copies would free the owned records twice.
static_assert(!std::is_copy_constructible_v<KAVU_SEQ_TIMER> && !std::is_copy_assignable_v<KAVU_SEQ_TIMER>);
static_assert(!std::is_copy_constructible_v<KAVU_BIG_GATE_SET_INFO> &&
              !std::is_copy_assignable_v<KAVU_BIG_GATE_SET_INFO>);

// Real designs: every register indexed once and in exactly one domain; the
// index is fan-in first; the marks are gone after clear_cdb_flags and after
// destruction.
TEST(KavuSeqTimer, RealDesignsIndexEveryRegisterOnceInOneDomain) {
  int fixed_seen = 0;
  for (const char* name : {"seq/stereovision3", "seq/diffeq1", "seq/ch_intrinsics", "mcnc/s298"}) {
    auto nl = load_blif(name);
    {
      KAVU_SEQ_TIMER timer("t", nl.get(), nullptr, 2, 200, nullptr);
      timer.calculate_best_cycle_time();
      ASSERT_GE(timer.get_max_clk_id(), 1) << name;
      const auto domains = domains_of(timer);
      std::set<int> indices;
      int regs = 0;
      for (CDB_SGATE_OTERM* o : all_oterms(nl.get())) {
        KAVU_SEQ_TIMER_OTERM_INFO* info = timer.get_oterm_info(o);
        EXPECT_EQ(info != nullptr, o->has_fanout() || is_reg(o->get_my_node())) << name;
        if (info) {
          EXPECT_TRUE(indices.insert(KAVU_SEQ_TIMER::get_oterm_info_index(o)).second) << name;
        }
        if (!is_reg(o->get_my_node())) continue;
        ++regs;
        ASSERT_TRUE(info) << name;
        EXPECT_EQ(domains.count(o) ? domains.at(o).size() : 0u, 1u) << name;
        EXPECT_EQ(*domains.at(o).begin(), info->m_hard_boundary_clk_id) << name;
        fixed_seen += kavu_seq_timer_is_dff_fixed(o->get_my_node());
      }
      EXPECT_EQ(timer.get_reg_count(), regs) << name;
      EXPECT_EQ(int(indices.size()), timer.get_num_oterms()) << name;
      // Fan-in first: an indexed comb terminal comes after its indexed sources.
      for (int i = 0; i < timer.get_num_oterms(); ++i) {
        CDB_SGATE_OTERM* o = timer.get_oterm_info_at(i)->m_oterm;
        if (!timer.get_delay_model()->look_through_sgate(o->get_my_node())) continue;
        for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms())
          if (t && t->get_source() && timer.get_oterm_info(t->get_source())) {
            EXPECT_LT(KAVU_SEQ_TIMER::get_oterm_info_index(t->get_source()), i) << name;
          }
      }
      // The index order is the order of a depth-first recursion (fan-in first).
      std::vector<CDB_SGATE_OTERM*> order;
      std::set<CDB_SGATE_OTERM*> visited;
      std::function<void(CDB_SGATE_OTERM*)> visit = [&](CDB_SGATE_OTERM* o) {
        if (!visited.insert(o).second) return;
        CDB_SGATE_NODE* g = o->get_my_node();
        if (timer.get_delay_model()->look_through_sgate(g))
          for (CDB_SGATE_ITERM* t : g->get_input_terms())
            if (t && t->is_connected() && t->get_source() && kavu_oterm_depends_on_iterm(g, o, t, true, true, true, false))
              visit(t->get_source());
        if (o->has_fanout() || is_reg(g)) order.push_back(o);
      };
      for (CDB_SGATE_OTERM* o : all_oterms(nl.get())) visit(o);
      ASSERT_EQ(int(order.size()), timer.get_num_oterms()) << name;
      for (int i = 0; i < timer.get_num_oterms(); ++i) EXPECT_EQ(order[size_t(i)], timer.get_oterm_info_at(i)->m_oterm);
      timer.clear_cdb_flags();
      EXPECT_TRUE(carries_no_mark(nl.get())) << name;
      timer.calculate_best_cycle_time();  // marks again; the destructor clears them
    }
    EXPECT_TRUE(carries_no_mark(nl.get())) << name;
  }
  EXPECT_GT(fixed_seen, 0);
}

// Each analysed domain orders its terminals and finds its loops as the
// public component sort does on the same domain: the same terminal order,
// begin and end terminals and component map, and every loop is a run of one
// component number (of at least two terminals, or a register feeding itself).
TEST(KavuSeqTimer, DomainComponentsMatchTheSort) {
  int loops_seen = 0;
  for (const char* name : {"seq/stereovision3", "seq/diffeq1", "seq/ch_intrinsics", "mcnc/s298"}) {
    auto nl = load_blif(name);
    KAVU_SEQ_TIMER timer("t", nl.get(), nullptr, 2, 200, nullptr);
    timer.calculate_best_cycle_time();
    for (int id = 1; id <= timer.get_max_clk_id(); ++id) {
      KAVU_SEQ_DELAY_ANALYSIS* analysis = timer.get_analysis(id);
      if (!analysis) continue;
      KAVU_SORT::OTERM_LIST list, begin, end;
      KAVU_SORT::SCC_MAP map;
      KAVU_SORT(nullptr, false, true, false)
          .scc_oterms(nl.get(), list, map, true, &begin, &end, timer.get_clock_domain(id));
      const std::vector<CDB_SGATE_OTERM*>& sorted = analysis->get_sorted_oterms();
      ASSERT_EQ(std::vector<CDB_SGATE_OTERM*>(list.begin(), list.end()), sorted) << name << " domain " << id;
      EXPECT_EQ(analysis->get_input_oterms(), begin) << name << " domain " << id;
      EXPECT_EQ(analysis->get_output_oterms(), end) << name << " domain " << id;
      size_t next_loop = 0;
      for (size_t i = 0; i < sorted.size();) {
        size_t j = i + 1;
        while (j < sorted.size() && map.at(sorted[j]) == map.at(sorted[i])) ++j;
        std::vector<CDB_SGATE_OTERM*> drivers;
        KAVU_SEQ_DELAY_ANALYSIS::get_register_drivers(sorted[i]->get_my_node(), drivers);
        if (j - i >= 2 || std::count(drivers.begin(), drivers.end(), sorted[i])) {
          ASSERT_LT(next_loop, analysis->get_sccs().size()) << name << " domain " << id;
          const KAVU_SCC* scc = analysis->get_sccs()[next_loop++];
          EXPECT_EQ(scc->get_id(), map.at(sorted[i])) << name << " domain " << id;
          EXPECT_EQ(scc->get_start_index(), int(i)) << name << " domain " << id;
          EXPECT_EQ(scc->get_end_index(), int(j)) << name << " domain " << id;
        }
        i = j;
      }
      EXPECT_EQ(next_loop, analysis->get_sccs().size()) << name << " domain " << id;
      // A loop's component map is the sort's, every terminal of the domain.
      if (!analysis->get_sccs().empty()) {
        EXPECT_EQ(*analysis->get_sccs().front()->get_scc_map(), map) << name << " domain " << id;
      }
      loops_seen += int(next_loop);
    }
  }
  EXPECT_GT(loops_seen, 0);
}

// Two bundled circuits with one clock each, joined by registers fed across:
// clock sets and domains against an independent reachability, the boundary registers fixed
// with their trace, the I/O rule count against an independent search.
TEST(KavuSeqTimer, TwoClockDesignMatchesIndependentReachability) {
  auto a = load_blif("mcnc/s298");
  auto b = load_blif("mcnc/dsip");
  std::vector<CDB_SGATE_NODE*> moved;
  for (auto it = b->begin_node_list(); it != b->end_node_list(); ++it) moved.push_back(*it);
  for (CDB_SGATE_NODE* g : moved) {
    b->delete_node(g);
    a->add_node(g);
  }
  CDB_SGATE_NETLIST* nl = a.get();
  // Clock pins: the sources of the registers' clocks, one per half.
  std::vector<CDB_SGATE_NODE*> regs_a, regs_b;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (is_reg(*it)) (std::find(moved.begin(), moved.end(), *it) == moved.end() ? regs_a : regs_b).push_back(*it);
  ASSERT_FALSE(regs_a.empty() || regs_b.empty());
  CDB_SGATE_NODE* clk_a = kavu_get_dff_clock(regs_a[0])->get_source()->get_my_node();
  // Registers of clock A reading comb terminals of half B, joined into half A.
  std::vector<CDB_SGATE_NODE*> across;
  for (size_t k = 0; k < 3; ++k) {
    CDB_SGATE_OTERM* b_comb = kavu_get_dff_data(regs_b[k * 7])->get_source();
    ASSERT_FALSE(is_reg(b_comb->get_my_node()));
    CDB_SGATE_NODE* r = reg_on(*nl, b_comb, clk_a);
    across.push_back(r);
    CDB_SGATE_NODE* join = make_and(nl, r, kavu_get_dff_data(regs_a[k])->get_source()->get_my_node());
    make_output_pin(nl, ("joined" + std::to_string(k)).c_str(), reg(*nl, join, clk_a));
  }
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    const CDB_SGATE_TYPE t = (*it)->get_sgate_type();
    ASSERT_TRUE(t == CDB_SGATE_IO_ENUM || t == CDB_SGATE_LUT_ENUM || t == CDB_SGATE_COMB_ENUM || t == CDB_SGATE_DFF_ENUM);
  }

  DEBUG_CAPTURE cap("KAVU");
  KAVU_SEQ_TIMER timer("two", nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  ASSERT_EQ(timer.get_max_clk_id(), 2);

  // Independent clocks: a register's clock id by its clock source.
  auto clock_of = [&](const CDB_SGATE_NODE* r) {
    const CDB_SGATE_ITERM* c = kavu_get_dff_clock(r);
    for (int id = 1; id <= 2; ++id)
      if (timer.get_clock(id)->m_source == c->get_source()) return id;
    return 0;
  };
  auto logic = [](const CDB_SGATE_NODE* g) { return kavu_is_a_lut(g) || kavu_is_a_comb(g); };
  auto counts = [](CDB_SGATE_NODE* g, unsigned pos) {
    return !kavu_is_a_lut(g) || !static_cast<CDB_SGATE_LUT*>(g)->is_independent_of(pos);
  };
  std::map<const CDB_SGATE_OTERM*, std::set<int>> arr, req;
  std::vector<CDB_SGATE_OTERM*> work;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!is_reg(*it)) continue;
    const int c = clock_of(*it);
    work.assign(1, out(*it));  // forward from the register output
    std::set<const CDB_SGATE_OTERM*> seen;
    while (!work.empty()) {
      CDB_SGATE_OTERM* o = work.back();
      work.pop_back();
      for (CDB_SGATE_ITERM* fi : o->fanouts()) {
        CDB_SGATE_NODE* l = fi->get_my_node();
        unsigned pos = 0;
        while (l->get_input_term(pos) != fi) ++pos;
        if (logic(l) && counts(l, pos) && seen.insert(out(l)).second) {
          arr[out(l)].insert(c);
          work.push_back(out(l));
        }
      }
    }
    seen.clear();
    for (CDB_SGATE_ITERM* t : {kavu_get_dff_data(*it), kavu_get_dff_enable(*it), kavu_get_dff_sclear(*it),
                               kavu_get_dff_sload(*it)})
      if (t && t->get_source() && logic(t->get_source()->get_my_node())) work.push_back(t->get_source());
    while (!work.empty()) {  // backward from the register's synchronous inputs
      CDB_SGATE_OTERM* o = work.back();
      work.pop_back();
      if (!seen.insert(o).second) continue;
      req[o].insert(c);
      CDB_SGATE_NODE* g = o->get_my_node();
      for (unsigned pos = 0; pos < g->get_number_of_input_terms(); ++pos) {
        CDB_SGATE_ITERM* t = g->get_input_term(pos);
        if (t && t->get_source() && counts(g, pos) && logic(t->get_source()->get_my_node()))
          work.push_back(t->get_source());
      }
    }
  }
  const auto domains = domains_of(timer);
  int comb_checked = 0, in_zero = 0;
  for (CDB_SGATE_OTERM* o : all_oterms(nl)) {
    if (!logic(o->get_my_node()) || !o->has_fanout()) continue;
    std::set<int> expected;
    for (int c : arr[o])
      if (req[o].count(c)) expected.insert(c);
    if (expected.empty()) expected.insert(0);
    EXPECT_EQ(domains.count(o) ? domains.at(o) : std::set<int>(), expected) << kavu_get_oterm_debug_name(o);
    EXPECT_EQ(timer.get_oterm_info(o)->m_arr_clk_ids, arr[o]) << kavu_get_oterm_debug_name(o);
    EXPECT_EQ(timer.get_oterm_info(o)->m_req_clk_ids, req[o]) << kavu_get_oterm_debug_name(o);
    ++comb_checked;
    in_zero += expected.count(0) ? 1 : 0;
  }
  EXPECT_GT(comb_checked, 500);
  EXPECT_GT(in_zero, 0);

  // Boundary registers: an independent multi-clock test on every register.
  std::set<int> expected_fixed;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!is_reg(*it)) continue;
    const int c = clock_of(*it);
    std::set<int> seen_arr{c}, seen_req{c};
    bool brought_arr = false, brought_req = false;
    for (CDB_SGATE_ITERM* t : {kavu_get_dff_enable(*it), kavu_get_dff_sload(*it), kavu_get_dff_sclear(*it),
                               kavu_get_dff_data(*it)}) {
      if (!t || !t->get_source()) continue;
      CDB_SGATE_NODE* d = t->get_source()->get_my_node();
      if (is_reg(d)) seen_arr.insert(clock_of(d));
      else if (logic(d)) seen_arr.insert(arr[t->get_source()].begin(), arr[t->get_source()].end());
      brought_arr = brought_arr || is_reg(d) || (logic(d) && !arr[t->get_source()].empty());
    }
    for (CDB_SGATE_ITERM* fi : out(*it)->fanouts()) {
      CDB_SGATE_NODE* l = fi->get_my_node();
      unsigned pos = 0;
      while (l->get_input_term(pos) != fi) ++pos;
      if (is_reg(l)) seen_req.insert(clock_of(l));
      else if (logic(l) && counts(l, pos)) seen_req.insert(req[out(l)].begin(), req[out(l)].end());
      brought_req = brought_req || is_reg(l) || (logic(l) && counts(l, pos) && !req[out(l)].empty());
    }
    if (seen_arr.size() > 1 || seen_req.size() > 1) {
      expected_fixed.insert(int((*it)->get_id()));
      continue;
    }
    // A register inside its domain keeps the clocks its drivers and loads
    // brought (its own, when any brought one).
    const KAVU_SEQ_TIMER_OTERM_INFO* info = timer.get_oterm_info(out(*it));
    EXPECT_EQ(info->m_arr_clk_ids, seen_arr.size() == 1 && !brought_arr ? std::set<int>() : seen_arr);
    EXPECT_EQ(info->m_req_clk_ids, seen_req.size() == 1 && !brought_req ? std::set<int>() : seen_req);
  }
  for (CDB_SGATE_NODE* r : across) EXPECT_TRUE(expected_fixed.count(int(r->get_id())));
  EXPECT_EQ(boundary_trace_ids(cap), expected_fixed);
  for (CDB_SGATE_NODE* r : across) EXPECT_TRUE(kavu_seq_timer_is_dff_fixed(r));

  // The I/O rule: registers behind output pins plus registers whose data an
  // input pin reaches, each search counted on its own.
  std::set<const CDB_SGATE_NODE*> behind_outputs, after_inputs;
  std::set<const CDB_SGATE_OTERM*> seen;
  for (CDB_SGATE_IO* p : nl->get_output_pins()) work.push_back(p->get_input_term(0)->get_source());
  while (!work.empty()) {
    CDB_SGATE_OTERM* o = work.back();
    work.pop_back();
    if (!o || !seen.insert(o).second) continue;
    if (is_reg(o->get_my_node())) behind_outputs.insert(o->get_my_node());
    else
      for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms())
        if (t && t->get_source()) work.push_back(t->get_source());
  }
  seen.clear();
  for (CDB_SGATE_IO* p : nl->get_input_pins()) work.push_back(out(p));
  while (!work.empty()) {
    CDB_SGATE_OTERM* o = work.back();
    work.pop_back();
    if (!seen.insert(o).second) continue;
    for (CDB_SGATE_ITERM* fi : o->fanouts()) {
      CDB_SGATE_NODE* l = fi->get_my_node();
      if (is_reg(l) && fi == kavu_get_dff_data(l)) after_inputs.insert(l);
      else if (!is_reg(l)) work.push_back(out(l));
    }
  }
  EXPECT_GT(after_inputs.size(), 0u);
  // The searches find in the order of a depth-first recursion.
  std::list<CDB_SGATE_OTERM*> found, expected_found;
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> visited_in, visited_out;
  std::set<CDB_SGATE_OTERM*> ref_in, ref_out;
  std::function<void(CDB_SGATE_OTERM*)> fanin = [&](CDB_SGATE_OTERM* o) {
    if (!ref_in.insert(o).second) return;
    if (is_reg(o->get_my_node())) {
      expected_found.push_back(o);
      return;
    }
    for (CDB_SGATE_ITERM* t : o->get_my_node()->get_input_terms())
      if (t && t->is_connected() && t->get_source()) fanin(t->get_source());
  };
  std::function<void(CDB_SGATE_OTERM*)> fanout = [&](CDB_SGATE_OTERM* o) {
    if (!ref_out.insert(o).second) return;
    for (CDB_SGATE_ITERM* fi : o->fanouts()) {
      CDB_SGATE_NODE* l = fi->get_my_node();
      if (is_reg(l)) {
        if (fi == kavu_get_dff_data(l)) expected_found.push_back(out(l));
        continue;
      }
      for (CDB_SGATE_OTERM* f : l->get_output_terms())
        if (f && f->has_fanout()) fanout(f);
    }
  };
  for (CDB_SGATE_IO* p : nl->get_output_pins()) {
    fanin(out(p));
    timer.dfs_fanin_recur(out(p), visited_in, found);
  }
  for (CDB_SGATE_IO* p : nl->get_input_pins()) {
    fanout(out(p));
    timer.dfs_fanout_recur(out(p), visited_out, found);
  }
  EXPECT_TRUE(found == expected_found);
  EXPECT_EQ(timer.fix_registers_connected_to_IO(), int(behind_outputs.size() + after_inputs.size()));
  // Domain 0 holds what no clock reaches both ways; its neighbours are fixed.
  EXPECT_GE(timer.fix_registers_connected_to_unknown_domain(), 0);
}

// Fixed-register rules on a small design: asynchronous controls, preserve,
// the exemptions, the clock-enable exception of the I/O rule, the analysis test.
TEST(KavuSeqTimer, FixedRegisterRules) {
  struct CASE {
    const char* what;
    bool dont_fix_reg;
    bool dont_fix_preserve;
    int expected_fixed;  // of r_async, r_mid, r_ena
  };
  const CASE cases[] = {{"defaults", false, false, 1}, {"dont_fix_reg", true, false, 0}, {"dont_fix_preserve", false, true, 1}};
  for (const CASE& c : cases) {
    CDB_SGATE_NETLIST nl;
    CDB_SGATE_NODE *clk = make_input_pin(&nl, "clk"), *in = make_input_pin(&nl, "in");
    CDB_SGATE_NODE* r0 = reg(nl, nullptr, clk);
    CDB_SGATE_NODE* r_async = reg(nl, make_not(&nl, r0), clk);
    kavu_get_dff_clear(r_async)->set_source(out(in));
    CDB_SGATE_NODE* r_mid = reg(nl, make_not(&nl, r_async), clk);
    CDB_SGATE_NODE* r_ena = reg(nl, make_and(&nl, r_mid, r0), clk);
    kavu_get_dff_enable(r_ena)->set_source(out(make_not(&nl, in)));  // from an input pin, through logic
    kavu_get_dff_data(r0)->set_source(out(make_xor(&nl, r_ena, r_mid)));
    const bool saved_reg = kavu_seq_dont_fix_reg, saved_preserve = kavu_seq_dont_fix_preserve;
    kavu_seq_dont_fix_reg = c.dont_fix_reg;
    kavu_seq_dont_fix_preserve = c.dont_fix_preserve;
    {
      DEBUG_CAPTURE cap("KAVU");
      KAVU_SEQ_TIMER timer("f", &nl, nullptr, 2, 200, nullptr);
      timer.calculate_best_cycle_time();
      EXPECT_EQ(kavu_seq_timer_is_dff_fixed(r_async), c.expected_fixed == 1) << c.what;
      EXPECT_FALSE(kavu_seq_timer_is_dff_fixed(r_ena)) << c.what;  // clock enable only: not an I/O register
      EXPECT_FALSE(kavu_seq_timer_is_dff_fixed(r_mid) || kavu_seq_timer_is_dff_fixed(r0)) << c.what;
      EXPECT_EQ(cap.contains("1 registers fixed because they have secondary signals."), c.expected_fixed == 1)
          << c.what;
      EXPECT_EQ(timer.get_clock_domain(1)->get_fixed_reg_count(), c.expected_fixed) << c.what;
      EXPECT_TRUE(timer.get_clock_domain(1)->need_analysis()) << c.what;
    }
    kavu_seq_dont_fix_reg = saved_reg;
    kavu_seq_dont_fix_preserve = saved_preserve;
  }
  // A domain of register outputs only is not analysed; the fix-FF-D-only
  // switch lets the I/O rule take the clock enable too.
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk = make_input_pin(&nl, "clk"), *in = make_input_pin(&nl, "in");
  CDB_SGATE_NODE* r1 = reg(nl, nullptr, clk);
  CDB_SGATE_NODE* r2 = reg(nl, r1, clk);
  kavu_get_dff_data(r1)->set_source(out(r2));
  kavu_get_dff_enable(r2)->set_source(out(in));
  {
    KAVU_SEQ_TIMER timer("d", &nl, nullptr, 2, 200, nullptr);
    timer.calculate_best_cycle_time();
    EXPECT_FALSE(timer.get_clock_domain(1)->need_analysis());
    EXPECT_EQ(timer.fix_registers_connected_to_IO(), 0);
  }
  CFG_SCOPE cfg{{"kavu_seq_fix_ff_d_only", "off"}};
  KAVU_SEQ_TIMER timer("d", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  EXPECT_TRUE(kavu_seq_timer_is_dff_fixed(r2));
}

// Dual-clock RAM and MAC blocks fed by registers of both domains: packing is
// all or nothing, and the records answer from the atoms' modes.
TEST(KavuSeqTimer, RamMacAndLutRamRecordsAndPacking) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk_a = make_input_pin(&nl, "clk_a"), *clk_b = make_input_pin(&nl, "clk_b"),
                 *d = make_input_pin(&nl, "d");
  CDB_SGATE_NODE *ra = reg(nl, d, clk_a), *rb = reg(nl, d, clk_b);
  // RAM 1: port B on its own clock, output B registered on clock 1.
  auto* ram = new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, 64);
  nl.add_node(ram);
  atom_in(ram, 35, clk_a);
  atom_in(ram, 36, clk_b);
  CDB_SGATE_ITERM* ram_a_in = atom_in(ram, 88, ra);
  atom_in(ram, 100, rb);
  ram->set_ram_mode(45, CDB_RAM_PORT_B);
  ram->set_ram_mode(9, CDB_RAM_PORT_B);
  ram->set_ram_mode(27, CDB_RAM_PORT_B);
  CDB_SGATE_OTERM *ram_qa = atom_out(ram, 41), *ram_qb = atom_out(ram, 42);
  CDB_SGATE_NODE *pa1 = reg_on(nl, ram_qa, clk_b), *pa2 = reg_on(nl, ram_qa, clk_b), *pb = reg_on(nl, ram_qb, clk_a);
  // RAM 2: port A read by registers of different clock inversion.
  auto* ram2 = new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, 64);
  nl.add_node(ram2);
  atom_in(ram2, 35, clk_a);
  CDB_SGATE_OTERM* ram2_qa = atom_out(ram2, 41);
  CDB_SGATE_NODE *qc1 = reg_on(nl, ram2_qa, clk_b), *qc2 = reg_on(nl, ram2_qa, clk_b, true);
  // MAC: data registered on clock 1 (clk_a), output on clock 2 (clk_b);
  // control ports unregistered.
  auto* mac = new CDB_SGATE_WYSIWYG(nullptr, 95);
  nl.add_node(mac);
  atom_in(mac, CUT_MAC_IPORT_CLK1, clk_a);
  atom_in(mac, CUT_MAC_IPORT_CLK2, clk_b);
  mac->set_mode(CUT_MAC_MODE_DATA_REGISTERED);
  mac->set_mode(CUT_MAC_MODE_OUTPUT_REGISTERED);
  mac->set_mode(CUT_MAC_MODE_OUTPUT_CLOCK_LO);
  CDB_SGATE_ITERM* ax = atom_in(mac, CUT_MAC_IPORT_DATA_AX, reg(nl, d, clk_a));
  CDB_SGATE_NODE *rn = reg(nl, d, clk_b), *rs = reg(nl, d, clk_b);
  CDB_SGATE_ITERM* negate = atom_in(mac, CUT_MAC_IPORT_NEGATE, rn);
  atom_in(mac, CUT_MAC_IPORT_SUB_NADD, rs);
  CDB_SGATE_NODE *rc1 = reg(nl, d, clk_b), *rc2 = reg(nl, d, clk_b, true);
  atom_in(mac, CUT_MAC_IPORT_COEF_SEL_A, rc1, 0);
  atom_in(mac, CUT_MAC_IPORT_COEF_SEL_A, rc2, 1);
  CDB_SGATE_OTERM* mac_out = atom_out(mac, CUT_MAC_OPORT_DATA_OUT_A);
  CDB_SGATE_NODE* after_mac = reg_on(nl, mac_out, clk_b);
  // MAC 2: unregistered output read by registers of one clock.
  auto* mac2 = new CDB_SGATE_WYSIWYG(nullptr, 95);
  nl.add_node(mac2);
  atom_in(mac2, CUT_MAC_IPORT_DATA_AX, d);
  CDB_SGATE_OTERM* mac2_out = atom_out(mac2, CUT_MAC_OPORT_DATA_OUT_B);
  CDB_SGATE_NODE *m1 = reg_on(nl, mac2_out, clk_a), *m2 = reg_on(nl, mac2_out, clk_a);
  // LUT RAM: write clock clk_a, output registered on clk_b ("clock1" in any case).
  auto* lutram = new CDB_SGATE_WYSIWYG(nullptr, 97);
  lutram->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "lr", nullptr, nullptr, nullptr));
  nl.add_node(lutram);
  atom_in(lutram, 35, clk_a);
  atom_in(lutram, 36, clk_b);
  CDB_SGATE_ITERM* waddr = atom_in(lutram, 41, ra);
  CDB_SGATE_ITERM* raddr = atom_in(lutram, 42, rb);
  hdb_set_option(lutram->get_instance_name(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK, "CLOCK1");
  CDB_SGATE_OTERM* lutram_out = atom_out(lutram, 364);
  reg_on(nl, lutram_out, clk_b);

  KAVU_SEQ_TIMER timer("blocks", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  const int A = timer.get_or_create_clock_id(out(clk_a), false), B = timer.get_or_create_clock_id(out(clk_b), false);
  ASSERT_TRUE(A >= 1 && B >= 1 && A != B);

  const KAVU_SEQ_RAM_INFO* r1 = timer.find_ram_info(ram);
  ASSERT_TRUE(r1);
  EXPECT_EQ(r1->m_in_port_a_clk, A);
  EXPECT_EQ(r1->m_in_port_b_clk, B);
  EXPECT_FALSE(r1->m_out_port_a_registered);
  EXPECT_TRUE(r1->m_out_port_b_registered);
  EXPECT_EQ(r1->get_output_port_clocks(ram_qa), std::vector<int>({A, B}));
  EXPECT_EQ(r1->get_output_port_clocks(ram_qb), std::vector<int>({B}));
  std::vector<int> ids;
  r1->get_all_clock_ids(ids);
  EXPECT_EQ(ids, std::vector<int>({A, B}));
  std::vector<CDB_SGATE_OTERM*> sources;
  r1->collect_input_sources(A, sources);
  EXPECT_EQ(sources, std::vector<CDB_SGATE_OTERM*>({ram_a_in->get_source()}));
  for (int k : {A, B}) {
    const auto& rams = timer.get_clock_domain(k)->get_rams();
    EXPECT_EQ(std::count(rams.begin(), rams.end(), r1), 1);
  }
  EXPECT_EQ(timer.get_oterm_info(ram_qb)->m_hard_boundary_clk_id, B);
  // Packing: all of port A's readers share clk_b; port B is registered.
  EXPECT_TRUE(kavu_seq_timer_is_register_ram_packed(pa1) && kavu_seq_timer_is_register_ram_packed(pa2));
  EXPECT_FALSE(kavu_seq_timer_is_register_ram_packed(pb));
  EXPECT_FALSE(kavu_seq_timer_is_register_ram_packed(qc1) || kavu_seq_timer_is_register_ram_packed(qc2));

  const KAVU_SEQ_MAC_INFO* m = timer.find_mac_info(mac);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->m_clks[0], A);
  EXPECT_EQ(m->m_clks[1], B);
  EXPECT_EQ(m->m_clks[2], KAVU_SEQ_INVALID_CLOCK_ID);
  EXPECT_EQ(m->get_input_port_clock(ax), A);
  EXPECT_EQ(m->get_input_port_clock(negate), KAVU_SEQ_INVALID_CLOCK_ID);
  EXPECT_EQ(m->get_output_port_clock(mac_out), B);
  EXPECT_TRUE(kavu_is_mac_output_registered(mac_out, nullptr));
  EXPECT_TRUE(kavu_is_mac_input_registered(ax, 363) && !kavu_is_mac_input_registered(negate, 363));
  EXPECT_EQ(timer.get_oterm_info(mac_out)->m_hard_boundary_clk_id, B);
  EXPECT_EQ(std::count(timer.get_clock_domain(B)->get_macs().begin(), timer.get_clock_domain(B)->get_macs().end(), m), 1);
  // Input packing per port: single-clock ports pack, the mixed port none;
  // the registered data port and output pack nothing.
  EXPECT_TRUE(kavu_seq_timer_is_register_mac_packed(rn) && kavu_seq_timer_is_register_mac_packed(rs));
  EXPECT_FALSE(kavu_seq_timer_is_register_mac_packed(rc1) || kavu_seq_timer_is_register_mac_packed(rc2));
  EXPECT_FALSE(kavu_seq_timer_is_register_mac_packed(ax->get_source()->get_my_node()) ||
               kavu_seq_timer_is_register_mac_packed(after_mac));
  EXPECT_TRUE(kavu_seq_timer_is_register_mac_packed(m1) && kavu_seq_timer_is_register_mac_packed(m2));
  // Sources captured by a clock: its registered ports and every unregistered
  // one, port by port in the MAC table's order.
  for (int clock : {A, B}) {
    std::vector<CDB_SGATE_OTERM*> got, want{out(rc1), out(rc2), out(rs), out(rn)};
    if (clock == A) want.insert(want.begin(), ax->get_source());
    m->collect_input_sources(clock, got);
    EXPECT_EQ(got, want) << clock;
  }

  const KAVU_SEQ_LUTRAM_INFO* lr = timer.find_lutram_info(lutram);
  ASSERT_TRUE(lr);
  EXPECT_EQ(lr->m_write_clk, A);
  EXPECT_EQ(lr->get_clock_id(), B);
  EXPECT_EQ(lr->get_input_clock(waddr), A);
  EXPECT_EQ(lr->get_input_clock(raddr), B);
  EXPECT_TRUE(kavu_is_lutram_output_registered(lutram));
  for (const char* setting : {WYS_NONE, "clock0"}) {  // any setting but clock 1: unregistered
    hdb_set_option(lutram->get_instance_name(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK, setting);
    EXPECT_FALSE(kavu_is_lutram_output_registered(lutram)) << setting;
  }
  hdb_set_option(lutram->get_instance_name(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK, "CLOCK1");
  EXPECT_EQ(timer.get_oterm_info(lutram_out)->m_hard_boundary_clk_id, B);
  // The register feeding the write address is required by clock A only.
  EXPECT_EQ(timer.get_oterm_info(out(ra))->m_hard_boundary_clk_id, A);

  // The record dumps, under their keys.
  std::ostringstream mac_text, ram_text;
  m->dump(mac_text);
  r1->dump(ram_text);
  EXPECT_NE(mac_text.str().find("MAC SEQ CLOCKs: [" + std::to_string(A) + " " + std::to_string(B) + " -1 ]"),
            std::string::npos);
  EXPECT_NE(ram_text.str().find(" * Output Port B is registered : Y"), std::string::npos);
  // A second init and analysis start over: same clocks, same marks (the
  // records above are gone).
  const int clocks = timer.get_max_clk_id();  // clk_a, clk_b and clk_b inverted
  timer.init();
  EXPECT_TRUE(timer.get_clock_domains().empty() && timer.find_ram_info(ram) == nullptr);
  timer.calculate_best_cycle_time();
  EXPECT_EQ(timer.get_max_clk_id(), clocks);
  EXPECT_EQ(clocks, 3);
  EXPECT_TRUE(kavu_seq_timer_is_register_ram_packed(pa1) && kavu_seq_timer_is_register_mac_packed(rn));
}

// Each RAM input is clocked by its port's clock, the port-A inputs being
// 83, 88 to 94 and 109 and every other input port B's; both the sources a
// clock captures and the clocks required back through logic follow that
// split. An unregistered output seen by both clocks is no boundary of one.
TEST(KavuSeqTimer, RamInputsTakeTheirPortsClock) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk_a = make_input_pin(&nl, "clk_a"), *clk_b = make_input_pin(&nl, "clk_b");
  auto* ram = new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, 64);
  nl.add_node(ram);
  atom_in(ram, 35, clk_a);
  atom_in(ram, 36, clk_b);
  ram->set_ram_mode(45, CDB_RAM_PORT_B);
  const struct {
    uint16_t port;
    bool port_a;
  } ports[] = {{83, true},  {87, false},  {88, true},  {94, true},   {95, false}, {99, false},
               {100, false}, {106, false}, {107, false}, {109, true}, {110, false}};
  std::vector<CDB_SGATE_NODE*> drivers;
  for (const auto& p : ports) {
    drivers.push_back(make_not(&nl, make_input_pin(&nl, ("d" + std::to_string(p.port)).c_str())));
    atom_in(ram, p.port, drivers.back());
  }
  CDB_SGATE_OTERM* qa = atom_out(ram, 41);
  CDB_SGATE_NODE* reader = make_not(&nl, nullptr);
  reader->get_input_term(0)->set_source(qa);
  make_output_pin(&nl, "q", reader);

  KAVU_SEQ_TIMER timer("ports", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  const int A = timer.get_or_create_clock_id(out(clk_a), false), B = timer.get_or_create_clock_id(out(clk_b), false);
  const KAVU_SEQ_RAM_INFO* info = timer.find_ram_info(ram);
  ASSERT_TRUE(info && A != B);
  std::set<CDB_SGATE_OTERM*> want_a, want_b;
  for (size_t k = 0; k < std::size(ports); ++k) {
    const bool numbered_b = ports[k].port == 95 || (ports[k].port >= 100 && ports[k].port <= 106) || ports[k].port == 110;
    if (ports[k].port_a) want_a.insert(out(drivers[k]));
    if (numbered_b) want_b.insert(out(drivers[k]));
    EXPECT_EQ(timer.get_oterm_info(out(drivers[k]))->m_req_clk_ids, std::set<int>({ports[k].port_a ? A : B}))
        << ports[k].port;
  }
  for (int clock : {A, B}) {
    std::vector<CDB_SGATE_OTERM*> got;
    info->collect_input_sources(clock, got);
    EXPECT_EQ(std::set<CDB_SGATE_OTERM*>(got.begin(), got.end()), clock == A ? want_a : want_b) << clock;
  }
  EXPECT_EQ(info->get_output_port_clocks(qa), std::vector<int>({A, B}));
  EXPECT_EQ(timer.get_oterm_info(qa)->m_hard_boundary_clk_id, 0);
}

// Odd but legal blocks: a read-only RAM port, a RAM mode and a MAC port asking
// for an undriven clock, an unregistered LUT RAM read address. None stops the
// timer; no -1 enters a clock set.
TEST(KavuSeqTimer, BlocksWithUndrivenClocksAreUnclocked) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk = make_input_pin(&nl, "clk"), *d = make_input_pin(&nl, "d");
  auto* ram = new CDB_SGATE_WYSIWYG_RAM_BLOCK(nullptr, 64);  // port A read only, port B own undriven clock
  nl.add_node(ram);
  atom_in(ram, 100, reg(nl, d, clk));
  ram->set_ram_mode(45, CDB_RAM_PORT_B);
  CDB_SGATE_NODE* not_gate = make_not(&nl, nullptr);
  not_gate->get_input_term(0)->set_source(atom_out(ram, 41));
  reg(nl, not_gate, clk);
  auto* mac = new CDB_SGATE_WYSIWYG(nullptr, 95);  // output registered on clock 3, not driven
  nl.add_node(mac);
  atom_in(mac, CUT_MAC_IPORT_DATA_AX, reg(nl, d, clk));
  mac->set_mode(CUT_MAC_MODE_OUTPUT_REGISTERED);
  mac->set_mode(CUT_MAC_MODE_OUTPUT_CLOCK_HI);
  CDB_SGATE_OTERM* mac_out = atom_out(mac, CUT_MAC_OPORT_DATA_OUT_A);
  reg_on(nl, mac_out, clk);
  auto* lutram = new CDB_SGATE_WYSIWYG(nullptr, 97);  // no parameter: output not registered
  nl.add_node(lutram);
  atom_in(lutram, 35, clk);
  atom_in(lutram, 42, make_not(&nl, reg(nl, d, clk)));
  reg_on(nl, atom_out(lutram, 364), clk);
  auto* lutram2 = new CDB_SGATE_WYSIWYG(nullptr, 97);  // registered output, read clock not driven
  lutram2->set_instance_name(HDB_INSTANCE_NAME::create_normal_name(hdb_default_namespace(), "lr2", nullptr, nullptr, nullptr));
  nl.add_node(lutram2);
  hdb_set_option(lutram2->get_instance_name(), WYS_PIREL_EC_PORT_B_DATA_OUT_CLOCK, "clock1");
  reg_on(nl, atom_out(lutram2, 364), clk);
  CDB_SGATE_NODE* unclocked = reg(nl, make_not(&nl, d), nullptr);  // a register without clock
  ASSERT_FALSE(kavu_get_dff_clock(unclocked)->get_source());

  DEBUG_CAPTURE cap("KAVU");
  KAVU_SEQ_TIMER timer("odd", &nl, nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  EXPECT_TRUE(cap.contains("A ports are read only."));
  EXPECT_TRUE(cap.contains("uses clock 1, which is not driven"));
  EXPECT_TRUE(cap.contains("registered on an undriven clock"));
  EXPECT_TRUE(cap.contains("of LUT RAM (sgate id="));
  EXPECT_TRUE(cap.contains("output register has no clock; taken as unclocked."));
  EXPECT_EQ(timer.find_lutram_info(lutram2)->get_clock_id(), KAVU_SEQ_INVALID_CLOCK_ID);
  EXPECT_EQ(timer.get_oterm_info(out(unclocked))->m_hard_boundary_clk_id, 0);
  EXPECT_EQ(timer.find_ram_info(ram)->m_in_port_b_clk, KAVU_SEQ_INVALID_CLOCK_ID);
  EXPECT_EQ(timer.find_mac_info(mac)->get_output_port_clock(mac_out), KAVU_SEQ_INVALID_CLOCK_ID);
  for (int i = 0; i < timer.get_num_oterms(); ++i) {
    const KAVU_SEQ_TIMER_OTERM_INFO* info = timer.get_oterm_info_at(i);
    EXPECT_FALSE(info->m_arr_clk_ids.count(KAVU_SEQ_INVALID_CLOCK_ID) || info->m_req_clk_ids.count(KAVU_SEQ_INVALID_CLOCK_ID));
  }
  EXPECT_EQ(timer.get_oterm_info(out(not_gate))->m_arr_clk_ids, std::set<int>());
}

// The index in the aux value is trusted only for its own terminal; clock ids
// are shared by equal clocks and differ by inversion.
TEST(KavuSeqTimer, StaleIndicesAndClockIds) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk = make_input_pin(&nl, "clk"), *d = make_input_pin(&nl, "d");
  CDB_SGATE_NODE* r = reg(nl, make_not(&nl, d), clk);
  make_output_pin(&nl, "q", r);
  KAVU_SEQ_TIMER timer("s", &nl, nullptr, 2, 200, nullptr);
  CDB_SGATE_NODE* late = make_not(&nl, r);  // made after indexing: aux 0
  make_output_pin(&nl, "late", late);
  ASSERT_EQ(KAVU_SEQ_TIMER::get_oterm_info_index(out(late)), 0);
  EXPECT_EQ(timer.get_oterm_info(out(late)), nullptr);
  const int own = KAVU_SEQ_TIMER::get_oterm_info_index(out(d));
  KAVU_SEQ_TIMER::set_oterm_info_index(out(d), own == 0 ? 1 : 0);  // re-marked by another pass
  EXPECT_EQ(timer.get_oterm_info(out(d)), nullptr);
  EXPECT_KAVU_INTERNAL_ERROR((KAVU_SEQ_TIMER::set_oterm_info_index(out(d), 99), timer.get_oterm_info(out(d))),
                             "index < m_num_oterms");
  KAVU_SEQ_TIMER::set_oterm_info_index(out(d), -1);
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_info(out(d)), "has_fanout");

  const int first = timer.get_or_create_clock_id(out(clk), false);
  EXPECT_EQ(timer.get_or_create_clock_id(out(clk), false), first);
  EXPECT_EQ(timer.get_or_create_clock_id(out(clk), true), first + 1);
  std::ostringstream os;
  timer.dump_clock_id_map(os);
  EXPECT_NE(os.str().find("CLOCK[2] "), std::string::npos);
  EXPECT_NE(os.str().find("Inverted : Y"), std::string::npos);
}

// A chain of gates deeper than any call stack: the topological order and the
// I/O searches run on explicit stacks.
TEST(KavuSeqTimer, MillionGateChainDoesNotOverflow) {
#if defined(__SANITIZE_ADDRESS__)
  const int n = 200000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  const int n = 200000;
#else
  const int n = 1000000;
#endif
#else
  const int n = 1000000;
#endif
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk = make_input_pin(&nl, "clk"), *in = make_input_pin(&nl, "in");
  CDB_SGATE_NODE* last = reg(nl, nullptr, clk);
  CDB_SGATE_NODE* first = last;
  for (int k = 0; k < n; ++k) last = make_not(&nl, last);
  CDB_SGATE_NODE* r = reg(nl, make_and(&nl, last, in), clk);
  kavu_get_dff_data(first)->set_source(out(r));
  make_output_pin(&nl, "q", make_not(&nl, r));
  KAVU_SEQ_TIMER timer("chain", &nl, nullptr, 2, 200, nullptr);
  EXPECT_EQ(timer.get_num_oterms(), n + 6);  // pins, registers, the chain, the and, the output's not
  EXPECT_EQ(KAVU_SEQ_TIMER::get_oterm_info_index(out(last)), n + 2);  // after the pins and the first register
  timer.calculate_best_cycle_time();
  EXPECT_TRUE(kavu_seq_timer_is_dff_fixed(r));      // reaches the output pin; its data from the input pin
  EXPECT_FALSE(kavu_seq_timer_is_dff_fixed(first));  // behind the chain only
}

// Nothing is written to files or standard output unless a key asks for it.
TEST(KavuSeqTimer, DumpsOnlyUnderTheirKeys) {
  auto nl = load_blif("mcnc/s298");
  auto files = [] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(".")) n += e.path().filename().string().rfind("kavu_seq", 0) == 0;
    return n;
  };
  ::testing::internal::CaptureStdout();
  {
    KAVU_SEQ_TIMER timer("quiet", nl.get(), nullptr, 2, 200, nullptr);
    timer.calculate_best_cycle_time();
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(files(), 0);
  CFG_SCOPE cfg{{"kavu_seq_timer_dump_indexed_oterms", "on"}, {"kavu_seq_timer_dump_clock_domain_oterms", "on"},
                {"kavu_seq_timer_dump_clock_domain_info", "on"}, {"kavu_seq_dump_ram_info", "on"},
                {"kavu_seq_dump_mac_info", "on"}};
  KAVU_SEQ_TIMER timer("loud", nl.get(), nullptr, 2, 200, nullptr);
  timer.set_dump_name("x_");
  timer.calculate_best_cycle_time();
  EXPECT_EQ(files(), 5);
  std::ifstream indexed("kavu_seq_timer_x_indexed_oterms.txt");
  std::string line;
  std::getline(indexed, line);
  EXPECT_EQ(line, "Total number of oterms = " + std::to_string(timer.get_num_oterms()));
  std::ifstream info("kavu_seq_timer_x_oterm_clk_domain_id.txt");
  std::stringstream text;
  text << info.rdbuf();
  EXPECT_NE(text.str().find("Hard Boundary CLK ID = 1"), std::string::npos);
  EXPECT_NE(text.str().find("Arr=(1) REQ=(1)"), std::string::npos);
  // The indexed terminals of each analysed domain go to the debug trace
  // under their key only: the count, then each terminal's gate and index in
  // sorted order.
  for (const char* key : {"off", "on"}) {
    CFG_SCOPE list{{"kavu_seq_timer_scc_oterm_list_debug", key}};
    DEBUG_CAPTURE cap("KAVU");
    KAVU_SEQ_TIMER listed("listed", nl.get(), nullptr, 2, 200, nullptr);
    listed.calculate_best_cycle_time();
    std::vector<std::string> expected, got;
    for (int id = 1; id <= listed.get_max_clk_id() && std::string(key) == "on"; ++id) {
      const KAVU_SEQ_DELAY_ANALYSIS* analysis = listed.get_analysis(id);
      if (!analysis) continue;
      const std::vector<CDB_SGATE_OTERM*>& sorted = analysis->get_sorted_oterms();
      expected.push_back("Total number of oterms is " + std::to_string(sorted.size()));
      for (size_t k = 0; k < sorted.size(); ++k)
        expected.push_back("Oterm of gate " + std::to_string(sorted[k]->get_my_node()->get_id()) + " has index " +
                           std::to_string(k));
    }
    for (const std::string& line : cap.lines())
      for (const char* head : {"Total number of oterms is ", "Oterm of gate "})
        if (line.find(head) != std::string::npos) got.push_back(line.substr(line.find(head)));
    EXPECT_EQ(got, expected) << key;
    EXPECT_EQ(got.empty(), std::string(key) == "off");
  }
}

// Big-gate records: supports and depths, the support log, huge-gate moves,
// the id tables and the report.
TEST(KavuSeqTimer, BigGateRecords) {
  CDB_SGATE_NETLIST nl;
  std::vector<CDB_SGATE_NODE*> p;
  for (int k = 0; k < 5; ++k) p.push_back(make_input_pin(&nl, ("p" + std::to_string(k)).c_str()));
  CDB_SGATE_NODE* inner = make_and(&nl, p[0], p[1]);
  CDB_SGATE_NODE* top = make_or(&nl, inner, make_xor(&nl, p[2], p[3]));
  KAVU_BIG_GATE_SET_INFO set;
  auto* gate = new KAVU_BIG_GATE_INFO(out(top));
  for (CDB_SGATE_NODE* s : {p[0], p[1], p[2], p[3], p[1]}) {
    gate->add_support(out(s));
    set.log_support(out(s), gate);
  }
  gate->add_support(nullptr);
  EXPECT_EQ(gate->get_sup_size(), 5);
  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> supports;
  gate->hash_support_set(supports);
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> depths;
  kavu_seq_find_support_depth(out(top), 0, supports, depths);
  EXPECT_EQ(depths.size(), 4u);
  EXPECT_EQ(depths[out(p[0])], 2);
  EXPECT_EQ(depths[out(p[3])], 2);
  gate->add_support_depth(out(p[0]), 2);
  EXPECT_KAVU_INTERNAL_ERROR(gate->add_support_depth(out(p[0]), 3), "m_sup_depth_table.find(sup)");
  set.add_huge_gate_info(gate);
  EXPECT_EQ(set.get_support_log(out(p[1]))->size(), 1u);
  set.support_change(out(p[0]), out(p[4]));
  EXPECT_EQ(gate->change_support(out(p[4]), out(p[0])), 1);
  EXPECT_KAVU_INTERNAL_ERROR(set.support_change(out(p[1]), out(p[4])), "changed == 1");  // p1 is there twice
  set.update_huge_gate_info(out(inner), out(p[4]));  // not a huge gate: nothing
  set.update_huge_gate_info(out(top), out(inner));
  EXPECT_TRUE(set.is_huge_gate(out(inner)) && !set.is_huge_gate(out(top)));
  EXPECT_EQ(gate->get_oterm(), out(inner));
  set.add_stage1_id(100, 7);
  set.add_stage2_id(200, 100);
  set.add_stage1_id(300, 8);
  EXPECT_EQ(set.get_pre_decomp_id(200), 7);
  EXPECT_EQ(set.get_pre_decomp_id(300), 8);
  EXPECT_EQ(set.get_pre_decomp_id(5), 5);
  EXPECT_KAVU_INTERNAL_ERROR(set.add_stage1_id(100, 1), "m_id_table_stage1.find(new_id)");
  std::ostringstream os;
  set.print_big_gates(os);
  const std::string text = os.str();
  EXPECT_EQ(text.rfind("Total huge gate count = 1\n(H1) PRE_DECOMP_ID= ", 0), 0u);
  EXPECT_NE(text.find("Total big gate count = 0"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 7);  // line breaks before supports 2 and 4
}

// Shared functions: clock-set text, the register-input test.
TEST(KavuSeqTimer, SharedFunctions) {
  EXPECT_EQ(kavu_seq_int_set_to_string({7, 1, 3}), "1 3 7");
  EXPECT_EQ(kavu_seq_int_set_to_string({}), "");
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk = make_input_pin(&nl, "clk"), *d = make_input_pin(&nl, "d");
  CDB_SGATE_NODE* r = reg(nl, d, clk);
  for (auto [i, sync] : std::vector<std::pair<CDB_SGATE_ITERM*, bool>>{
           {kavu_get_dff_data(r), true}, {kavu_get_dff_enable(r), true}, {kavu_get_dff_sclear(r), true},
           {kavu_get_dff_sload(r), true}, {kavu_get_dff_clock(r), false}, {kavu_get_dff_clear(r), false},
           {kavu_get_dff_preset(r), false}, {kavu_get_dff_aload(r), false}})
    EXPECT_EQ(kavu_seq_is_sync_input_of_register(i), sync);
  EXPECT_TRUE(kavu_seq_is_plain_register(r));
  kavu_get_dff_enable(r)->set_source(out(d));
  EXPECT_FALSE(kavu_seq_is_plain_register(r));
}

// Register-loop reports: the component dump, the longest path, the positive
// loop, member and big-gate collections, the predecessor map print.
TEST(KavuSeqTimer, SccReports) {
  CDB_SGATE_NETLIST nl;
  CDB_SGATE_NODE *clk = make_input_pin(&nl, "clk"), *in = make_input_pin(&nl, "in");
  CDB_SGATE_NODE* r = reg(nl, nullptr, clk);
  CDB_SGATE_NODE* inv = make_and(&nl, r, in);
  kavu_get_dff_data(r)->set_source(out(inv));
  std::vector<CDB_SGATE_OTERM*> sorted{out(in), out(r), out(inv)};
  KAVU_SCC::SCC_MAP map{{out(in), 0}, {out(r), 1}, {out(inv), 1}};
  EXPECT_KAVU_INTERNAL_ERROR(KAVU_SCC(nullptr, nullptr, nullptr, &nl, &sorted, 0, 3, &map, 1, 0, false),
                             "scc_map[oterm] == id");
  KAVU_SCC scc(nullptr, nullptr, nullptr, &nl, &sorted, 1, 3, &map, 1, 0, false);
  EXPECT_EQ(scc.get_size(), 2);
  const std::string r_id = std::to_string(r->get_id()), inv_id = std::to_string(inv->get_id());
  struct CASE {
    bool with_input;
    std::vector<std::string> has, lacks;
  };
  for (const CASE& c : {CASE{false, {"* SRC *\nSCC: id = 1\nSCC size = 2\nstart_index = 1 end_index = 3\n",
                                     "\n2Number of nodes are dumped.\n"},
                                    {"SCC input oterms"}},
                        CASE{true, {"SCC input oterms (size = 1)\n", "(SGATE id = " + std::to_string(in->get_id()) + ")"},
                             {"* SRC *"}}}) {
    if (c.with_input) scc.get_input_oterms().push_back(out(in));
    std::ostringstream os;
    scc.dump(os);
    for (const std::string& s : c.has) EXPECT_NE(os.str().find(s), std::string::npos) << s << "\n" << os.str();
    for (const std::string& s : c.lacks) EXPECT_EQ(os.str().find(s), std::string::npos) << s;
  }

  KAVU_SCC_PRED_MAP pred;
  pred[out(inv)] = {out(r), 5, true};
  pred[out(r)] = {nullptr, 3, false};
  std::ostringstream longest;
  scc.dump_longest_path(longest, pred);
  EXPECT_NE(longest.str().find("Longest path of SCC (id = 1) = 8 End oterm = "), std::string::npos);
  EXPECT_NE(longest.str().find("\n      8, "), std::string::npos);
  EXPECT_NE(longest.str().find("\n      3, "), std::string::npos);
  EXPECT_NE(longest.str().find("\n\n*************************\n"), std::string::npos);
  std::ostringstream none;
  scc.dump_longest_path(none, KAVU_SCC_PRED_MAP());
  EXPECT_NE(none.str().find("= 0 End oterm = "), std::string::npos);

  ::testing::internal::CaptureStdout();
  kavu_seq_print_pred_map(pred);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("SGATE (id=" + inv_id + ") PRE SGATE (id=" + r_id + ") arc_delay = 5 MINIMAL\n"),
            std::string::npos);
  EXPECT_NE(printed.find("SGATE (id=" + r_id + ") NULL PRE SGATE arc_delay = 3 NOT_MINIMAL\n"), std::string::npos);

  scc.m_positive_loop_oterms = {out(r), out(inv)};
  std::ostringstream loop;
  scc.print_positive_loop(loop);
  EXPECT_EQ(loop.str().rfind("START POS LOOP 2\n" + r_id + " ", 0), 0u);
  EXPECT_NE(loop.str().find(" R\n" + inv_id + " "), std::string::npos);
  EXPECT_NE(loop.str().find("END POS LOOP\n"), std::string::npos);

  ZTL_HASH_SET_LITE<CDB_SGATE_OTERM*> members;
  members.insert(out(in));
  scc.collect_member_oterms(members);
  EXPECT_TRUE(members.size() == 2 && members.exists(out(r)) && members.exists(out(inv)));
  std::vector<CDB_SGATE_OTERM*> twice{out(r), out(r)};
  KAVU_SCC::SCC_MAP twice_map{{out(r), 4}};
  EXPECT_KAVU_INTERNAL_ERROR(
      KAVU_SCC(nullptr, nullptr, nullptr, &nl, &twice, 0, 2, &twice_map, 4, 0, false).collect_member_oterms(members),
      "!result.exists(oterm)");
  KAVU_BIG_GATE_SET_INFO big;
  big.add_big_gate_info(new KAVU_BIG_GATE_INFO(out(inv)));
  std::vector<CDB_SGATE_OTERM*> on_loop;
  scc.collect_big_gates_on_positive_loop(on_loop, &big);
  EXPECT_EQ(on_loop, std::vector<CDB_SGATE_OTERM*>({out(inv)}));
}

// The timer's reports on a real design: clocks, best cycle times (no domain
// has a cycle time yet), clock domains, the arrival-table print.
TEST(KavuSeqTimer, Reports) {
  auto nl = load_blif("mcnc/s298");
  KAVU_SEQ_TIMER timer("s298", nl.get(), nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  auto read = [](const char* file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  };
  timer.print_all_clocks("clocks.txt");
  const KAVU_SEQ_CLOCK* clock = timer.get_clock(1);
  ASSERT_TRUE(clock);
  EXPECT_EQ(read("clocks.txt"), "[1] " + kavu_get_oterm_debug_name(clock->m_source) + " (sgate id = " +
                                    std::to_string(clock->m_source->get_my_node()->get_id()) +
                                    ") Inverted : N PORT_INDEX= 0\n");
  timer.print_best_cycle_time("best.txt");
  const std::string best = read("best.txt");
  // Every register of s298 is fixed: the best is the non-sequential depth.
  EXPECT_EQ(best.rfind("[1] s298/", 0), 0u) << best;
  EXPECT_NE(best.find("\nGEO= 1 SIZE= 1\n"), std::string::npos) << best;
  std::ostringstream domains;
  timer.dump_clock_domain_oterms(domains);
  EXPECT_EQ(domains.str().rfind("Oterms in Clock Domains\nTotal number of clock domains = 1\n" + std::string(25, '*') +
                                    "\nClock domain ID = 0\nBest cycle time = -1000000000\n",
                                0),
            0u);
  ZTL_HASH_LITE<CDB_SGATE_OTERM*, int> table;
  table[clock->m_source] = 7;
  ::testing::internal::CaptureStdout();
  kavu_seq_print_arrival_table(&table);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Total = 1\nSGATE (id=" + std::to_string(clock->m_source->get_my_node()->get_id()) + ") arr=7\n");
  EXPECT_KAVU_INTERNAL_ERROR(kavu_seq_print_arrival_table(nullptr), "table != NULL");
}

// A dual-clock design with a RAM block and a MAC block read from BLIF: it
// simulates, and the timer puts the blocks in both clocks' domains.
TEST(KavuSeqTimer, BlocksFromBlif) {
  const std::string text =
      ".model top\n.inputs clka clkb d0 d1 we\n.outputs qa0 qb0 p0\n"
      ".latch d0 ra0 re clka 0\n.latch d1 ra1 re clka 0\n.latch d0 rb0 re clkb 0\n"
      ".subckt ram_block_quellin CLK0=clka CLK1=clkb WE=we PORTADATAIN[0]=ra0 PORTAADDR[0]=ra1 "
      "PORTBADDR[0]=rb0 PORTADATAOUT[0]=ma0 PORTBDATAOUT[0]=mb0\n.param RAM_MODE_B 45\n"
      ".latch ma0 qa0 re clkb 0\n.latch mb0 qb0 re clkb 0\n"
      ".subckt mac_quellin CLK0=clka CLK1=clkb DATA_AX[0]=ra0 DATA_AY[0]=rb0 DATA_OUT_A[0]=p0\n"
      ".param MODE 93\n.param MODE 98\n.end\n";
  BLIF_RESULT r = blif_read_string(text);
  ASSERT_TRUE(r.netlist) << r.error;
  std::unique_ptr<CDB_SGATE_NETLIST> nl(r.netlist);
  std::unique_ptr<CDB_SGATE_HIERARCHY> h(r.hierarchy);
  NETLIST_SIMULATOR sim(nl.get());
  EXPECT_TRUE(sim.ok()) << sim.error();
  KAVU_SEQ_TIMER timer("blif", nl.get(), nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  ASSERT_EQ(timer.get_max_clk_id(), 2);
  int rams = 0, macs = 0;
  for (int id = 1; id <= 2; ++id) {
    rams += int(timer.get_clock_domain(id)->get_rams().size());
    macs += int(timer.get_clock_domain(id)->get_macs().size());
  }
  EXPECT_EQ(rams, 2);  // one RAM, listed under both clocks
  EXPECT_EQ(macs, 1);  // the MAC's registered output is on clock 2 only
  // The registers reading the unregistered RAM outputs share clkb: packed.
  int packed = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    packed += kavu_seq_timer_is_register_ram_packed(*it) ? 1 : 0;
  EXPECT_EQ(packed, 2);
  // The expert's queries: every block output with fan-out is skewed; it
  // answers in one domain and raises without a clock (the MAC atom, kind 95,
  // answers arrival 0 there) or with several.
  int one = 0, unclocked = 0, multi = 0;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
    if (!kavu_is_ram_node(*it) && !kavu_is_mac_node(*it)) continue;
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms()) {
      if (!o || !o->has_fanout()) continue;
      EXPECT_TRUE(timer.is_skewed_oterm(o));
      const KAVU_SEQ_OTERM_CLK_INFO* clk = timer.get_clock_info(o);
      ASSERT_TRUE(clk);
      if (clk->size() == 1) {
        ++one;
        EXPECT_NE(timer.get_oterm_fanin_delay(o), KAVU_DELAY_MIN);
        EXPECT_NE(timer.get_max_fanout_delay(o), KAVU_DELAY_MIN);
      } else if (clk->empty()) {
        ++unclocked;
        if ((*it)->cast_to_wysiwyg()->get_wysiwyg_type() == 95)
          EXPECT_EQ(timer.get_oterm_fanin_delay(o), 0);
        else
          EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_fanin_delay(o), "clk_info->has_clk() == true");
        EXPECT_KAVU_INTERNAL_ERROR(timer.get_max_fanout_delay(o), "clk_info->has_clk() == true");
      } else {
        ++multi;
        EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_fanin_delay(o), "multi-clock not supported yet");
        EXPECT_KAVU_INTERNAL_ERROR(timer.get_max_fanout_delay(o), "multi-clock not supported yet");
      }
    }
  }
  EXPECT_EQ(one, 1);
  EXPECT_EQ(unclocked, 2);
}

// The delay expert's queries raise where they have no single answer: a
// terminal outside the index, one without a clock, one of two domains.
// Regression: they answered KAVU_DELAY_MIN or -1 silently, and a block
// output was skewed only in exactly one analysed domain.
TEST(KavuSeqTimer, ExpertQueriesRaiseWhereTheyCannotAnswer) {
  const std::string text =
      ".model top\n.inputs c1 c2 a b\n.outputs y z p\n"
      ".latch a r1 re c1 0\n.latch b r2 re c2 0\n"
      ".names r1 r2 x\n11 1\n"                      // reached by and reaching both clocks
      ".latch x s1 re c1 0\n.latch x s2 re c2 0\n"
      ".names s1 s2 y\n11 1\n"
      ".names a z\n1 1\n"                           // no clock reaches it
      ".names a b unused\n11 1\n"                   // no fan-out: not indexed
      ".subckt mac_quellin DATA_AX[0]=a DATA_AY[0]=b DATA_OUT_A[0]=p\n.end\n";
  BLIF_RESULT r = blif_read_string(text);
  ASSERT_TRUE(r.netlist) << r.error;
  std::unique_ptr<CDB_SGATE_NETLIST> nl(r.netlist);
  std::unique_ptr<CDB_SGATE_HIERARCHY> h(r.hierarchy);
  KAVU_SEQ_TIMER timer("q", nl.get(), nullptr, 2, 200, nullptr);
  timer.calculate_best_cycle_time();
  std::map<std::string, CDB_SGATE_OTERM*> by_name;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    for (CDB_SGATE_OTERM* o : (*it)->get_output_terms())
      if (o) by_name[(*it)->get_string_hpath()] = o;
  auto named = [&](const char* name) {
    for (const auto& entry : by_name)
      if (entry.first.size() >= std::strlen(name) &&
          entry.first.compare(entry.first.size() - std::strlen(name), std::string::npos, name) == 0)
        return entry.second;
    ADD_FAILURE() << name;
    return (CDB_SGATE_OTERM*)nullptr;
  };
  CDB_SGATE_OTERM *x = named("|x"), *z = named("|z"), *p = named("|p"), *unused = named("|unused"),
                  *r1 = named("|r1");
  ASSERT_TRUE(x && z && p && unused && r1);
  ASSERT_EQ(timer.get_clock_info(x)->size(), 2u);
  // Two domains: an index in each, none in a third; no single delay.
  EXPECT_FALSE(timer.is_skewed_oterm(x));
  EXPECT_GE(timer.get_oterm_index_in_clk_domain(x, 1), 0);
  EXPECT_GE(timer.get_oterm_index_in_clk_domain(x, 2), 0);
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_index_in_clk_domain(x, 3),
                             "(oterm_clk_info.first>=0) && (oterm_clk_info.second>=0)");
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_fanin_delay(x), "multi-clock not supported yet");
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_max_fanout_delay(x), "multi-clock not supported yet");
  // No clock: no pair, no delay; the MAC atom (kind 95) starts at 0.
  EXPECT_FALSE(timer.is_skewed_oterm(z));
  EXPECT_EQ(timer.get_oterm_index_in_clk_domain(z, 1), -1);
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_fanin_delay(z), "clk_info->has_clk() == true");
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_max_fanout_delay(z), "clk_info->has_clk() == true");
  EXPECT_TRUE(timer.is_skewed_oterm(p));
  EXPECT_TRUE(timer.get_clock_info(p)->empty());
  EXPECT_EQ(timer.get_oterm_fanin_delay(p), 0);
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_max_fanout_delay(p), "clk_info->has_clk() == true");
  // Not indexed.
  EXPECT_FALSE(timer.is_skewed_oterm(unused));
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_fanin_delay(unused), "clk_info != NULL");
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_max_fanout_delay(unused), "clk_info != NULL");
  EXPECT_KAVU_INTERNAL_ERROR(timer.get_oterm_index_in_clk_domain(unused, 1), "clk_info != NULL");
  // A register of one domain: skewed, with an index there and -1 elsewhere.
  EXPECT_TRUE(timer.is_skewed_oterm(r1));
  EXPECT_GE(timer.get_oterm_index_in_clk_domain(r1, 1), 0);
  EXPECT_EQ(timer.get_oterm_index_in_clk_domain(r1, 2), -1);
  EXPECT_NE(timer.get_oterm_fanin_delay(r1), KAVU_DELAY_MIN);
}
