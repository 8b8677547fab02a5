// Tests of the register lists built from the timing engine (constrained
// registers, base clocks, compatible-register sets, requirements) and of the
// estimator registry with its table timing model.
#include <algorithm>
#include <fstream>
#include <list>
#include <new>

#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_setup.h"
#include "kavu_ssc.h"
#include "kavu_ssc_int.h"
#include "kavu_ssc_test_support.h"
#include "kavu_tervo.h"
#include "kavu_utility_indy_dupe.h"
#include "kavu_wiring_helper.h"
#include "msg/msg.h"
#include "platform_testkit.h"
#include "ssc/tervo.h"
#include "zhd/zhd.h"

using namespace kavu_platform;

namespace {

HDB_INSTANCE_NAME* child(const char* text) {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr,
                                               HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr));
}

CDB_SGATE_NODE* named(CDB_SGATE_NODE* g, const std::string& name) {
  g->set_instance_name(child(name.c_str()));
  return g;
}

// The fixture's hierarchy holds a loaded netlist for a scope; the loaded
// one takes it back before the netlist goes, however the test ends.
struct LENT {
  LENT(CDB_SGATE_HIERARCHY* fixture, LOADED_NETLIST& nl)
      : m_fixture(fixture), m_netlist(nl.get()), m_own(nl.get_deleter().hierarchy) {
    fixture->set_netlist(m_netlist);
  }
  ~LENT() {
    m_fixture->set_netlist(nullptr);
    m_netlist->set_hierarchy(m_own);
  }
  CDB_SGATE_HIERARCHY* m_fixture;
  CDB_SGATE_NETLIST* m_netlist;
  CDB_SGATE_HIERARCHY* m_own;
};

// Errors posted so far.
long posted_errors() {
  msg_flush_pending();
  const std::vector<MSG_LOG_ENTRY> log = msg_log();
  return std::count_if(log.begin(), log.end(), [](const MSG_LOG_ENTRY& e) { return e.kind == MSG_LOG_ERROR; });
}

class KavuSscCompat : public ::testing::Test {
 protected:
  void SetUp() override {
    kavu_ssc_reset_state();
    m_facade.set_family(DEV_FAMILY_ENUM(47));
    ZCU_FACADE_UTIL::get_instance()->set_facade(&m_facade);
    m_hierarchy.set_instance_name(child("top"));
    zhd_build("", {{"top", HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr), -1, 0}});
  }
  void TearDown() override { kavu_ssc_reset_state(); }
  // clka, clkb; registers r0..r4 on clka, s0..s1 on clkb; a flip-flop atom
  // ff on clkb.
  void build(CDB_SGATE_NETLIST* nl) {
    clka = make_input_pin(nl, "clka");
    clkb = make_input_pin(nl, "clkb");
    CDB_SGATE_NODE* prev = make_input_pin(nl, "a");
    for (int i = 0; i < 5; ++i) regs.push_back(prev = named(make_dff(nl, make_not(nl, prev), clka), "r" + std::to_string(i)));
    for (int i = 0; i < 2; ++i) regs.push_back(prev = named(make_dff(nl, prev, clkb), "s" + std::to_string(i)));
    ff = new CDB_SGATE_WYSIWYG(nullptr, 94);
    nl->add_node(ff, true);
    named(ff, "ff");
    kavu_set_iterm_source(kavu_fetch_create_wys_iterm(DB_PORT_DATAIN, ff), prev->get_output_term(0), false);
    kavu_set_iterm_source(kavu_fetch_create_wys_iterm(DB_PORT_CLK, ff), clkb->get_output_term(0), false);
    ff_q = kavu_fetch_create_wys_oterm(DB_PORT_REGOUT, ff, false);
    make_output_pin(nl, "q", clka)->get_input_term(0)->set_source(ff_q);
    m_hierarchy.set_netlist(nl);
  }
  // Three registers on clka, each toggling through its own NOT: twins t0
  // and t1, and n.
  std::vector<CDB_SGATE_NODE*> toggles(CDB_SGATE_NETLIST* nl) { return toggles(nl, make_input_pin(nl, "clka")); }
  // Registers on clk, each toggling through its own NOT, or with a
  // partner, through the XOR of its own output and the partner's.
  std::vector<CDB_SGATE_NODE*> toggles(CDB_SGATE_NETLIST* nl, CDB_SGATE_NODE* clk,
                                       std::initializer_list<const char*> names = {"t0", "t1", "n"},
                                       CDB_SGATE_NODE* partner = nullptr) {
    std::vector<CDB_SGATE_NODE*> r;
    for (const char* name : names) {
      CDB_SGATE_NODE* reg = named(make_dff(nl, nullptr, clk), name);
      CDB_SGATE_NODE* next = partner ? make_xor(nl, reg, partner) : make_not(nl, reg);
      next->get_output_term(0)->insert_fanout(reg->get_input_term(CDB_DFF_DATA));
      make_output_pin(nl, (std::string("q_") + name).c_str(), reg);
      r.push_back(reg);
    }
    return r;
  }
  // The independent-duplicate pass over the netlist: registers rewired.
  int merge_twins(CDB_SGATE_NETLIST* nl) {
    GEN_DYN_FLAG keep = nl->get_flag_manager().create_flag("keep");
    GEN_DYN_FLAG exclude = nl->get_flag_manager().create_flag("exclude");
    const int rewired = kavu_remove_indy_dupe_ffs(&m_hierarchy, nl, keep, exclude);
    nl->get_flag_manager().destroy_flag(keep);
    nl->get_flag_manager().destroy_flag(exclude);
    return rewired;
  }
  void sdc(const std::string& extra) {
    std::ofstream("c.sdc") << "create_clock -name A -period 10 [get_ports clka]\n"
                              "create_clock -name B -period 7 [get_ports clkb]\n"
                           << extra;
  }
  CMP_FACADE m_facade;
  CDB_SGATE_HIERARCHY m_hierarchy;
  CDB_SGATE_NODE *clka = nullptr, *clkb = nullptr;
  CDB_SGATE_WYSIWYG* ff = nullptr;
  CDB_SGATE_OTERM* ff_q = nullptr;
  std::vector<CDB_SGATE_NODE*> regs;
  CFG_SCOPE m_cfg{{"ssc_sdc_file", "c.sdc"}};
};

}  // namespace

TEST_F(KavuSscCompat, FalsePathRegistersGetTheirOwnSetsAndClocksAreListed) {
  CDB_SGATE_NETLIST nl;
  build(&nl);
  sdc("set_false_path -from [get_registers {r1 r3 ff}]\nset_false_path -to [get_registers s1]\n");
  {
    KAVU_SSC holder(&m_facade, &m_hierarchy, &nl, SSC_DELAY_MODEL_UNIT, nullptr, true);
    ASSERT_TRUE(KAVU_SSC::is_in_use());
    std::list<CDB_SGATE_OTERM*> constrained, clocks;
    EXPECT_TRUE(holder.create_constraint_register_oterm_list(&constrained));
    // The flip-flop atom is listed by its Q.
    const std::list<CDB_SGATE_OTERM*> expected{regs[1]->get_output_term(0), regs[3]->get_output_term(0),
                                               regs[6]->get_output_term(0), ff_q};
    EXPECT_EQ(constrained, expected);
    EXPECT_TRUE(holder.create_base_clock_oterm_list(&clocks));
    EXPECT_EQ(clocks, (std::list<CDB_SGATE_OTERM*>{clka->get_output_term(0), clkb->get_output_term(0)}));
    EXPECT_KAVU_INTERNAL_ERROR(holder.create_base_clock_oterm_list(&clocks), "oterm_list->empty()");
    // The timing-ranked request builds the constraint sets: ids 1..n.
    EXPECT_TRUE(holder.create_compatible_reg_sets(false));
    CDB_SGATE_COMPATIBLE_REGISTERS* rec = nl.get_compatible_registers();
    EXPECT_TRUE(rec->is_ready_to_use() && rec->is_in_use());
    unsigned id = 0;
    for (CDB_SGATE_OTERM* t : expected) EXPECT_EQ(rec->get_set_id(t), ++id);
    EXPECT_EQ(rec->size(), 4u);
    EXPECT_EQ(rec->get_set_id(regs[0]->get_output_term(0)), 0u);
    EXPECT_TRUE(kavu_ssc_register_is_covered(regs[0]) && kavu_ssc_register_is_covered(ff));
  }
  // The DFF list keeps plain DFF gates only.
  std::list<CDB_SGATE_NODE*> dffs;
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  ASSERT_TRUE(kavu_ssc_build_constr_dff_list(&m_facade, &m_hierarchy, &nl, &dffs));
  EXPECT_EQ(dffs, (std::list<CDB_SGATE_NODE*>{regs[1], regs[3], regs[6]}));
  EXPECT_FALSE(ssc_get_util()->is_in_use());
}

#ifndef KAVU_UNDER_ASAN
// Memory refused while the engine indexes the constraints fails the
// base-clock list as a whole, with the error posted: the list once took
// every terminal as a clock source. In a child process whose free memory
// is small blocks only (no block of 512 bytes or more to be had), the
// index's tables are refused while a list's nodes would still fit.
TEST_F(KavuSscCompat, BaseClockListFailsWholeWhereTheIndexIsRefused) {
  CDB_SGATE_NETLIST nl;
  build(&nl);
  CDB_SGATE_NODE* prev = regs.back();
  for (int i = 0; i < 200; ++i) prev = named(make_dff(&nl, make_not(&nl, prev), clka), "t" + std::to_string(i));
  sdc("set_false_path -from [get_registers t*]\n");
  KAVU_SSC holder(&m_facade, &m_hierarchy, &nl, SSC_DELAY_MODEL_UNIT, nullptr, true);
  ASSERT_TRUE(holder.constraints_are_readable());  // the analysis runs here, with memory enough
  const bool told = run_within_address_space(uint64_t(64) << 20, [&] {
    SMALL_FREE_BLOCKS memory;
    leave_only_small_free_blocks(&memory);
    std::list<CDB_SGATE_OTERM*> clocks;
    bool built = false;
    try {
      built = holder.create_base_clock_oterm_list(&clocks);
    } catch (const std::bad_alloc&) {
      return false;
    }
    give_back_large_blocks(&memory);
    const std::vector<MSG_LOG_ENTRY> log = msg_log();
    const bool posted = std::any_of(log.begin(), log.end(), [](const MSG_LOG_ENTRY& e) {
      return e.kind == MSG_LOG_ERROR && e.text == "Timing analysis: not enough memory to index the constraints of the analysis";
    });
    return !built && clocks.empty() && posted;
  });
  EXPECT_TRUE(told);
  // With memory back the list names the clock ports, and only them.
  std::list<CDB_SGATE_OTERM*> clocks;
  EXPECT_TRUE(holder.create_base_clock_oterm_list(&clocks));
  EXPECT_EQ(clocks, (std::list<CDB_SGATE_OTERM*>{clka->get_output_term(0), clkb->get_output_term(0)}));
}
#endif

// Registers that carry constraints of their own are kept from merging,
// whatever the engine makes of the command that names them: applied,
// skipped with a warning (a false path between a clock and points, which
// once dropped s298's register from the list, multicycle paths, unknown
// options of a path command), or read only for its targets. A skipped
// command whose words are no collections the reader knows still passes.
TEST_F(KavuSscCompat, EveryRegisterACommandNamesIsConstrained) {
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  LOADED_NETLIST nl = load_blif("mcnc/s298");
  LENT lent(&m_hierarchy, nl);
  const std::pair<const char*, std::vector<std::string>> rows[] = {
      {"set_false_path -to [get_cells n_n852]\n", {"n_n852"}},
      {"set_false_path -from [get_clocks c] -to [get_cells n_n852]\n", {"n_n852"}},
      {"set_false_path -from [get_cells n_n853] -to [get_clocks c]\n", {"n_n853"}},
      {"set_multicycle_path 2 -setup -from [get_cells n_n854] -to n_n855\n", {"n_n854", "n_n855"}},
      {"set_max_delay 5 -rise_from [get_registers n_n856]\nset_disable_timing [get_cells n_n857]\n", {"n_n856", "n_n857"}},
      {"set_min_delay 1 -from {n_n858 n_n859} -to [get_things x] ;set_clock_uncertainty 1 [get_clocks c]\n",
       {"n_n858", "n_n859"}},
      {"set_input_delay 1 -clock c [all_inputs]\n", {}},
      // Bare register names of a skipped command, as its collections.
      {"set_disable_timing -from A -to Z n_n852\nset_load 3 n_n853\n", {"n_n852", "n_n853"}},
      // Lists of points, in applied and skipped commands alike.
      {"set_false_path -from [list n_n852 [get_registers n_n853]] -to [list [list n_n854]]\n",
       {"n_n852", "n_n853", "n_n854"}},
      {"set_multicycle_path 2 -from [list {n_n855 n_n856}] -through [list n_n857]\n", {"n_n855", "n_n856", "n_n857"}},
      // A last command that a brace, bracket or quote leaves open is not
      // applied, but the registers it names count (the file was refused, so
      // every register did).
      {"set_false_path -to [get_cells n_n852]\nset_false_path -from [get_cells {n_n853", {"n_n852", "n_n853"}},
      {"set_false_path -to [get_cells n_n852]\nset_max_delay 5 -from [get_registers n_n853\n", {"n_n852", "n_n853"}},
      {"set_false_path -to [get_cells n_n852]\nset_false_path -to \"n_n853 n_n854\n", {"n_n852", "n_n853", "n_n854"}},
      // A line the engine refuses ends the read: nothing is known of any
      // register, so each may carry a constraint ("*": every register), and
      // the refusal is posted once, not once per register.
      {"set_false_path -to [get_cells n_n852]\nset_input_delay 10 -clock nope [all_inputs]\n", {"*"}},
      {"set_false_path -to [get_cells n_n852]\nnot_an_sdc_command n_n853\n", {"*"}},
  };
  std::vector<std::string> every;
  for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it)
    if (*it && kavu_is_a_dff(*it)) {
      const std::string path = (*it)->get_string_hpath();
      every.push_back(path.substr(path.rfind('|') + 1));
    }
  std::sort(every.begin(), every.end());
  ASSERT_GT(every.size(), 2u);
  for (const auto& [row, expected] : rows) {
    std::ofstream("c.sdc") << "create_clock -name c -period 10 [get_ports clock]\n" << row;
    const auto errors_before = posted_errors();
    std::list<CDB_SGATE_NODE*> dffs;
    ASSERT_TRUE(kavu_ssc_build_constr_dff_list(&m_facade, &m_hierarchy, nl.get(), &dffs)) << row;
    std::vector<std::string> got;
    for (CDB_SGATE_NODE* d : dffs) {
      const std::string path = d->get_string_hpath();
      got.push_back(path.substr(path.rfind('|') + 1));
    }
    std::sort(got.begin(), got.end());
    const bool refused = expected == std::vector<std::string>{"*"};
    EXPECT_EQ(got, refused ? every : expected) << row;
    EXPECT_EQ(posted_errors() - errors_before, refused ? 1 : 0) << row;
  }
}

// Two unconstrained twins and a third twin set apart: by an SDC false path
// when the record comes from the engine, by a forced synchronizer head in
// netlist-only mode (no SDC is read there). The twins merge, through the
// merge test and through the independent-duplicate pass; the third does
// neither. Once broke: the common set 0 counted as no set, so nothing merged.
// A file the engine refuses (a line after the false path names an unknown
// clock) says nothing of any register: none merges, and the refusal is
// posted once. Once broke: every register read "no constraint" and the
// register the file names merged with its twins.
TEST_F(KavuSscCompat, UnconstrainedTwinsMergeAndARegisterSetApartDoesNot) {
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  CFG_SCOPE cfg{{"kavu_indy_dupe_ignore_merge_across_hierarchies", "on"},
                {"kavu_ssc_protect_synchronizers_all_families", "on"}};
  struct SKIP_SDC {  // the load-time switch of the netlist-only path
    bool saved = kavu_ssc_skip_sdc_load;
    ~SKIP_SDC() { kavu_ssc_skip_sdc_load = saved; }
  } skip;
  for (const std::string mode : {"sdc", "refused", "netlist-only"}) {
    SCOPED_TRACE(mode);
    const bool netlist_only = mode == "netlist-only", refused = mode == "refused";
    sdc(std::string("set_false_path -from [get_registers n]\n") +
        (refused ? "set_input_delay 10 -clock nope [all_inputs]\n" : ""));
    kavu_ssc_reset_state();
    kavu_ssc_skip_sdc_load = netlist_only;
    m_facade.set_family(DEV_FAMILY_ENUM(netlist_only ? 25 : 47));
    CDB_SGATE_NETLIST nl;
    const std::vector<CDB_SGATE_NODE*> r = toggles(&nl);
    if (netlist_only) hdb_set_option(r[2]->get_instance_name(), KAVU_ACF_SYNCHRONIZER_IDENTIFICATION, "286");
    m_hierarchy.set_netlist(&nl);
    const auto errors_before = posted_errors();
    kavu_ssc_build_comp_reg_info(&m_facade, &m_hierarchy, &nl, false, false);
    EXPECT_EQ(posted_errors() - errors_before, refused ? 1 : 0);
    m_hierarchy.set_netlist(nullptr);
    CDB_SGATE_COMPATIBLE_REGISTERS* rec = nl.get_compatible_registers();
    ASSERT_TRUE(rec->is_ready_to_use() && rec->is_in_use());
    EXPECT_FALSE(ssc_get_util()->is_in_use());
    CDB_SGATE_OTERM* q[3];
    for (int i = 0; i < 3; ++i) q[i] = r[i]->get_output_term(0);
    EXPECT_EQ(rec->get_set_id(q[2]) != 0, !netlist_only);
    EXPECT_EQ(rec->get_synch_chain(q[2]) != 0, netlist_only);
    EXPECT_EQ(kavu_can_merge_dffs(q[0], q[1], rec, false, 0, 0, false), !refused);
    for (int i : {0, 1}) {
      EXPECT_FALSE(kavu_can_merge_dffs(q[i], q[2], rec, false, 0, 0, false)) << i;
      EXPECT_FALSE(kavu_can_merge_dffs(q[2], q[i], rec, false, 0, 0, false)) << i;
    }
    std::unique_ptr<CDB_SGATE_NETLIST> before(nl.clone(nullptr, true, true));
    nl.clear_temp_pointers();
    EXPECT_EQ(merge_twins(&nl), refused ? 0 : 1);
    auto source_of = [](CDB_SGATE_NODE* reg) { return reg->get_input_term(CDB_DFF_DATA)->get_source(); };
    EXPECT_EQ(source_of(r[0]) == source_of(r[1]), !refused);
    EXPECT_EQ(source_of(r[2])->get_my_node()->get_input_term(0)->get_source(), q[2]) << "n reads its own ring";
    ASSERT_KAVU_EQUIVALENT(before, nl);
  }
}

// A record whose timing netlist cannot be set up (two partitions, no
// flattened timing netlist stored for the design) takes the registers the
// constraint file names from the file itself, read against the netlist: n,
// which a false path names, is kept apart, its twins t0 and t1 merge, and a
// warning says so; the record is not rebuilt. A file whose text the engine
// refuses says nothing of any register: the record fails, and the pass
// merges none, with a warning that says why. With no file the record is off
// and all three merge. A failed record once merged nothing whatever the
// file named (the twins stayed apart).
TEST_F(KavuSscCompat, ARecordThatCannotBeBuiltKeepsTheRegistersTheFileNamesApart) {
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  CFG_SCOPE cfg{{"kavu_indy_dupe_ignore_merge_across_hierarchies", "on"}};
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  zhd_build("", {{"top", top, -1, 0}, {"p1", child("p1"), 0, 1}});
  struct ROW {
    const char* file;  // after the clocks; null: no constraint file
    int merged;
    bool failed;
    const char* warning;  // posted by the record's build or the pass
  };
  const ROW rows[] = {
      {"set_false_path -from [get_registers n]\n", 1, false,
       "could not be built from the timing netlist: the 1 register the constraint file names is kept apart"},
      {"set_false_path -from [get_registers n]\nset_input_delay 10 -clock nope [all_inputs]\n", 0, true,
       "Independent duplicate registers are not merged"},
      {nullptr, 2, false, nullptr},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.file ? row.file : "no constraint file");
    if (row.file) sdc(row.file);
    CFG_SCOPE file{{"ssc_sdc_file", row.file ? "c.sdc" : ""}};
    kavu_ssc_reset_state();
    CDB_SGATE_NETLIST nl;
    const std::vector<CDB_SGATE_NODE*> r = toggles(&nl);
    m_hierarchy.set_netlist(&nl);
    CDB_SGATE_COMPATIBLE_REGISTERS* rec = nl.get_compatible_registers();
    msg_log_clear();
    for (const bool again : {false, true}) {
      DEBUG_CAPTURE cap("KAVU");
      kavu_ssc_build_comp_reg_info(&m_facade, &m_hierarchy, &nl, false, false);
      EXPECT_EQ(cap.contains("ERROR!!! Abort creating compatible registers info!"), !again);
      EXPECT_EQ(rec->is_in_use(), row.file && !row.failed);
      EXPECT_EQ(kavu_ssc_compatible_registers_failed(rec), row.failed);
      EXPECT_EQ(rec->size(), row.file && !row.failed ? 1u : 0u);
    }
    EXPECT_FALSE(ssc_get_util()->is_in_use());
    m_hierarchy.set_netlist(nullptr);
    std::unique_ptr<CDB_SGATE_NETLIST> before(nl.clone(nullptr, true, true));
    nl.clear_temp_pointers();
    EXPECT_EQ(merge_twins(&nl), row.merged);
    msg_flush_pending();
    const std::vector<MSG_LOG_ENTRY> log = msg_log();
    // Besides the row's own, the analysis says once that no flattened
    // timing netlist was stored for the design's two partitions.
    auto posted = [&log](const char* text) {
      return std::any_of(log.begin(), log.end(),
                         [&](const MSG_LOG_ENTRY& e) { return e.text.find(text) != std::string::npos; });
    };
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const MSG_LOG_ENTRY& e) { return e.kind == MSG_LOG_WARNING; }),
              (row.warning ? 1 : 0) + 1);
    EXPECT_TRUE(posted("the database holds no flattened timing netlist stored for this compile"));
    EXPECT_TRUE(!row.warning || posted(row.warning));
    auto source_of = [](CDB_SGATE_NODE* reg) { return reg->get_input_term(CDB_DFF_DATA)->get_source(); };
    EXPECT_EQ(source_of(r[0]) == source_of(r[1]), row.merged > 0) << "the twins merge";
    EXPECT_EQ(source_of(r[2])->get_my_node()->get_input_term(0)->get_source() == r[2]->get_output_term(0),
              row.merged < 2)
        << "n reads its own ring";
    ASSERT_KAVU_EQUIVALENT(before, nl);
  }
  zhd_build("", {{"top", top, -1, 0}});
}

// Bundled designs with twins added on a clock of theirs: three registers
// each toggling through its own NOT (t0, t1, and n, which a false path
// names), and two whose XOR with a register of the design feeds back (u0,
// u1). Where the record cannot be built from the engine (two partitions, no
// flattened netlist stored), the duplicate-register pass merges what it
// merges without a constraint file but for n, which stays apart. A failed
// record once merged none of them.
TEST_F(KavuSscCompat, DesignsWithTwinsMergeAllButTheNamedRegisterWhereTheRecordFails) {
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  CFG_SCOPE cfg{{"kavu_indy_dupe_ignore_merge_across_hierarchies", "on"}};
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  zhd_build("", {{"top", top, -1, 0}, {"p1", child("p1"), 0, 1}});
  auto source_of = [](CDB_SGATE_NODE* reg) { return reg->get_input_term(CDB_DFF_DATA)->get_source(); };
  for (const char* name : {"small/lfsr16_generic", "small/updown16_lut6", "mcnc/s298", "mcnc/tseng", "seq/stereovision3",
                           "seq/ch_intrinsics"}) {
    SCOPED_TRACE(name);
    int merged[2] = {0, 0};
    for (const bool named_in_file : {false, true}) {
      LOADED_NETLIST nl = load_blif(name);
      CDB_SGATE_NODE* first = nullptr;
      for (auto it = nl->begin_node_list(); !first && it != nl->end_node_list(); ++it)
        if (*it && kavu_is_a_dff(*it)) first = *it;
      ASSERT_NE(first, nullptr);
      CDB_SGATE_NODE* clk = kavu_get_dff_clock(first)->get_source()->get_my_node();
      const std::vector<CDB_SGATE_NODE*> t = toggles(nl.get(), clk);
      const std::vector<CDB_SGATE_NODE*> u = toggles(nl.get(), clk, {"u0", "u1"}, first);
      const std::string port = clk->get_string_hpath();
      std::ofstream("c.sdc") << "create_clock -name c -period 1000 [get_ports {" << port.substr(port.rfind('|') + 1)
                             << "}]\nset_false_path -from [get_registers n]\n";
      CFG_SCOPE file{{"ssc_sdc_file", named_in_file ? "c.sdc" : ""}};
      kavu_ssc_reset_state();
      LENT lent(&m_hierarchy, nl);
      kavu_ssc_build_comp_reg_info(&m_facade, &m_hierarchy, nl.get(), false, false);
      EXPECT_FALSE(kavu_ssc_compatible_registers_failed(nl->get_compatible_registers()));
      EXPECT_EQ(nl->get_compatible_registers()->is_in_use(), named_in_file);
      merged[named_in_file] = merge_twins(nl.get());
      EXPECT_EQ(source_of(u[0]), source_of(u[1])) << "the design's twins merge";
      if (named_in_file) {
        EXPECT_EQ(source_of(t[0]), source_of(t[1])) << "the twins merge";
        EXPECT_EQ(source_of(t[2])->get_my_node()->get_input_term(0)->get_source(), t[2]->get_output_term(0))
            << "n reads its own ring";
      }
    }
    EXPECT_EQ(merged[0], 3);
    EXPECT_EQ(merged[1], merged[0] - 1);
  }
  zhd_build("", {{"top", top, -1, 0}});
}

// Bundled designs with twin registers added as ordinary duplicates are: a
// pair per design input, reading it, on the design's clock (of which the
// first pair, tw0a and tw0b, is named by a false path); a pair on a second
// clock reading a register of the design (synchronizers); a pair whose
// clock comes through a gate with an enable (a gated clock of the design's
// clock); and a pair whose clock pin is fed a LUT that ignores the clock
// (no clock of the file reaches them). Input ports carry input delays on
// the design's clock. Where the record cannot be built from the engine (two
// partitions, nothing stored), the same registers get a set of their own,
// the same synchronizer chains are protected and so the same pairs may
// merge as where it is built from the engine: every pair but the named,
// the synchronizer and the unclocked ones. The fallback once searched the
// chains without the file's clocks, took every register reading an input
// for a synchronizer and merged no pair.
TEST_F(KavuSscCompat, TheFallbackProtectsWhatTheEngineRecordProtects) {
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  // What a record says of the added registers, and which pairs may merge.
  struct SEEN {
    std::vector<unsigned> chain;  // by added register
    std::vector<bool> apart;      // a set of its own
    std::vector<bool> may_merge;  // by pair
    bool operator==(const SEEN&) const = default;
  };
  for (const char* name : {"small/lfsr16_generic", "mcnc/s298", "mcnc/tseng", "seq/stereovision3", "seq/ch_intrinsics"}) {
    SCOPED_TRACE(name);
    SEEN seen[2];
    for (const bool engine : {true, false}) {
      if (engine) zhd_build("", {{"top", top, -1, 0}});
      else zhd_build("", {{"top", top, -1, 0}, {"p1", child("p1"), 0, 1}});
      LOADED_NETLIST nl = load_blif(name);
      CDB_SGATE_NODE* first = nullptr;
      std::vector<CDB_SGATE_NODE*> inputs;
      for (auto it = nl->begin_node_list(); it != nl->end_node_list(); ++it) {
        if (*it && !first && kavu_is_a_dff(*it)) first = *it;
        if (*it && kavu_is_a_input_pin(*it)) inputs.push_back(*it);
      }
      ASSERT_NE(first, nullptr);
      CDB_SGATE_NODE* clk = kavu_get_dff_clock(first)->get_source()->get_my_node();
      std::vector<std::pair<CDB_SGATE_NODE*, CDB_SGATE_NODE*>> pairs;
      auto twins = [&](const std::string& stem, CDB_SGATE_NODE* d, CDB_SGATE_NODE* clock) {
        CDB_SGATE_NODE* a = named(make_dff(nl.get(), d, clock), stem + "a");
        CDB_SGATE_NODE* b = named(make_dff(nl.get(), d, clock), stem + "b");
        for (CDB_SGATE_NODE* r : {a, b}) make_output_pin(nl.get(), ("q_" + r->get_instance_name()->get_short_hpath(0)).c_str(), r);
        make_output_pin(nl.get(), ("x_" + stem).c_str(), make_xor(nl.get(), a, b));
        pairs.push_back({a, b});
      };
      for (CDB_SGATE_NODE* in : inputs)
        if (in != clk && pairs.size() < 12) twins("tw" + std::to_string(pairs.size()), in, clk);
      const size_t input_pairs = pairs.size();
      twins("sy", first, make_input_pin(nl.get(), "clk2"));
      twins("gc", inputs.front() == clk ? inputs.back() : inputs.front(), make_and(nl.get(), clk, make_input_pin(nl.get(), "en")));
      twins("uc", first, make_lut(nl.get(), {clk}, 0x0));
      const std::string port = clk->get_string_hpath();
      std::ofstream("c.sdc") << "create_clock -name c -period 1000 [get_ports {" << port.substr(port.rfind('|') + 1)
                             << "}]\ncreate_clock -name c2 -period 300 [get_ports clk2]\n"
                                "set_input_delay 1 -clock c [all_inputs]\n"
                                "set_false_path -from [get_registers {tw0a tw0b}]\n";
      kavu_ssc_reset_state();
      LENT lent(&m_hierarchy, nl);
      msg_log_clear();
      kavu_ssc_build_comp_reg_info(&m_facade, &m_hierarchy, nl.get(), false, false);
      CDB_SGATE_COMPATIBLE_REGISTERS* rec = nl->get_compatible_registers();
      ASSERT_TRUE(rec->is_in_use());
      SEEN& s = seen[engine];
      for (const auto& [a, b] : pairs) {
        for (CDB_SGATE_NODE* r : {a, b}) {
          s.chain.push_back(rec->get_synch_chain(r->get_output_term(0)));
          s.apart.push_back(rec->get_set_id(r->get_output_term(0)) != 0);
        }
        s.may_merge.push_back(kavu_can_merge_dffs(a->get_output_term(0), b->get_output_term(0), rec, false, 0, 0, false));
      }
      // Every pair of the design's inputs but the named one, and the gated
      // pair, may merge; the synchronizers and the unclocked pair head
      // chains of their own.
      std::vector<bool> expected(input_pairs, true);
      expected[0] = false;
      for (bool v : {false, true, false}) expected.push_back(v);
      EXPECT_EQ(s.may_merge, expected) << (engine ? "from the engine" : "fallback");
      EXPECT_TRUE(s.apart[0] && s.apart[1]) << "the named pair";
      for (size_t k : {input_pairs, input_pairs + 2}) EXPECT_TRUE(s.chain[2 * k] && s.chain[2 * k + 1]) << k;
      if (!engine) {
        msg_flush_pending();
        const std::vector<MSG_LOG_ENTRY> log = msg_log();
        EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const MSG_LOG_ENTRY& e) {
          return e.text.find("the 2 registers the constraint file names are kept apart from merging, as are the ") !=
                     std::string::npos &&
                 e.text.find(" registers of synchronizer chains found under the file's clocks, and the other registers may merge") !=
                     std::string::npos;
        }));
      }
    }
    EXPECT_EQ(seen[0].chain, seen[1].chain);
    EXPECT_EQ(seen[0].apart, seen[1].apart);
    EXPECT_EQ(seen[0].may_merge, seen[1].may_merge);
  }
  zhd_build("", {{"top", top, -1, 0}});
}

TEST_F(KavuSscCompat, RequirementIsTheTightestOfCapturesAndFanouts) {
  CDB_SGATE_NETLIST nl;
  build(&nl);
  SSC_ITERM_REQUIREMENT_INFO_MAP req;
  CDB_SGATE_NODE* r = regs[2];
  EXPECT_EQ(kavu_get_requirement(r, nullptr), SSC_UNCONSTRAINED_SLACK);
  EXPECT_EQ(kavu_get_requirement(r, &req), SSC_UNCONSTRAINED_SLACK);
  req[kavu_get_dff_data(r)].m_requirement = 50;
  req[r->get_output_term(0)->get_first_fanout()].m_requirement = 40;
  req[kavu_get_dff_adata(r)].m_requirement = 5;  // counts only with a real sload
  EXPECT_EQ(kavu_get_requirement(r, &req), 40);
  clka->get_output_term(0)->insert_fanout(kavu_get_dff_sload(r));
  EXPECT_EQ(kavu_get_requirement(r, &req), 5);
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_requirement(clka, &req), "kavu_is_a_dff(sgate,true)");
  std::map<int, unsigned> rank{{1, 5}, {2, 3}};
  rank_by_map_less<int> less{&rank};
  EXPECT_TRUE(less(2, 1));
  EXPECT_FALSE(less(1, 2));
  EXPECT_FALSE(less(9, 7)) << "nothing ranks below a missing key";
  EXPECT_TRUE(less(9, 2));
}

// One partition and no stored flattened timing netlist: the estimator works
// on the partition's own netlist, not a flattened one.
TEST_F(KavuSscCompat, EstimatorOfTheOnlyPartitionIsNotFlattened) {
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  sdc("");
  CDB_SGATE_NETLIST nl;
  build(&nl);
  ASSERT_EQ(ZHD_ROOT::get().get_design("")->get_partition_count(), 1);
  ASSERT_TRUE(kavu_initialize_tervo_estimator(&m_facade, &m_hierarchy, &nl, nullptr, nullptr, nullptr, false, nullptr,
                                              nullptr));
  ASSERT_NE(kavu_get_tervo_estimator(), nullptr);
  EXPECT_FALSE(kavu_get_tervo_estimator()->is_flattened());
  kavu_cleanup_tervo_estimator(&m_hierarchy);
}

TEST_F(KavuSscCompat, EstimatorsArePerPartitionAndReused) {
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTHESIS_EFFORT, "52");
  sdc("");
  HDB_INSTANCE_NAME* top = HDB_INSTANCE_NAME::create_normal_name(nullptr, "top", nullptr, nullptr, nullptr);
  HDB_INSTANCE_NAME* pa = child("pa");
  HDB_INSTANCE_NAME* pb = child("pb");
  zhd_build("", {{"top", top, -1, 0}, {"pa", pa, 0, 1}, {"pb", pb, 0, 2}});
  CDB_SGATE_NETLIST na, nb;
  CDB_SGATE_HIERARCHY ha, hb;
  ha.set_instance_name(pa);
  hb.set_instance_name(pb);
  build(&na);
  ha.set_netlist(&na);
  CDB_SGATE_NODE* reg_a = regs[1];
  regs.clear();
  build(&nb);
  hb.set_netlist(&nb);
  std::vector<CDB_SGATE_NETLIST*> both{&na, &nb};
  ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, both));  // several partitions need it
  EXPECT_EQ(kavu_get_partition_name_of_hierarchy(&ha), "top|pa");
  EXPECT_EQ(kavu_get_partition_name_of_hierarchy(nullptr), "");
  auto init = [&](CDB_SGATE_HIERARCHY* h, CDB_SGATE_NETLIST* n, bool reuse) {
    return reuse ? kavu_initialize_or_reuse_tervo_estimator(&m_facade, h, n, nullptr, nullptr, nullptr, false, nullptr, nullptr)
                 : kavu_initialize_tervo_estimator(&m_facade, h, n, nullptr, nullptr, nullptr, false, nullptr, nullptr);
  };
  const int live = TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count();
  {
    DEBUG_CAPTURE cap("KAVU");
    const bool ok = init(&ha, &na, true);
    std::string all;
    for (const auto& l : cap.lines()) all += l + "\n";
    ASSERT_TRUE(ok) << all;
  }
  TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>* a = kavu_get_tervo_estimator();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->get_partition_name(), "top|pa");
  EXPECT_TRUE(a->is_flattened()) << "two partitions";
  EXPECT_NE(a->estimate_slack(kavu_get_dff_data(reg_a)), SSC_UNCONSTRAINED_SLACK);
  ASSERT_TRUE(init(&hb, &nb, true));
  EXPECT_EQ(kavu_get_tervo_estimator()->get_partition_name(), "top|pb");
  EXPECT_FALSE(ssc_get_util()->is_in_use()) << "the timing netlist is not left behind";
  const int analyses = ssc_analysis_count();
  ASSERT_TRUE(init(&ha, &na, true));
  EXPECT_EQ(ssc_analysis_count(), analyses) << "reused without a new analysis";
  EXPECT_EQ(kavu_get_tervo_estimator(), a);
  {
    DEBUG_CAPTURE cap("KAVU");
    ASSERT_TRUE(init(&ha, &na, false));
    EXPECT_TRUE(cap.contains("Tervo estimator delete old entry for partition top|pa"));
  }
  EXPECT_GT(ssc_analysis_count(), analyses);
  EXPECT_EQ(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count(), live + 2) << "the old one was replaced";
  EXPECT_EQ(kavu_get_tervo_estimator()->get_partition_name(), "top|pa");
  // Clean-up of the current estimator leaves no dangling current pointer.
  kavu_cleanup_tervo_estimator(&ha);
  EXPECT_EQ(kavu_get_tervo_estimator(), nullptr);
  EXPECT_FALSE(kavu_is_tervo_estimator_initialized("top|pa"));
  EXPECT_TRUE(kavu_is_tervo_estimator_initialized("top|pb"));
  kavu_cleanup_tervo_estimator(nullptr);  // nothing
  kavu_cleanup_tervo_estimator(&hb);
  EXPECT_EQ(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count(), live);
  EXPECT_EQ(kavu_get_tervo_estimator(), nullptr);

  // Single mode: asking about another partition destroys the estimator.
  kavu_use_tervo_estimator_map = false;
  ASSERT_TRUE(init(&ha, &na, true));
  EXPECT_KAVU_INTERNAL_ERROR(init(&ha, &na, false), "Tervo is already initialized!");
  EXPECT_TRUE(kavu_is_tervo_estimator_initialized("top|pa"));
  EXPECT_FALSE(kavu_is_tervo_estimator_initialized("top|pb"));
  EXPECT_EQ(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count(), live);
  kavu_use_tervo_estimator_map = true;

  // The table model is created once, loaded with device timing only for a
  // concrete part.
  m_facade.set_family(DEV_FAMILY_ENUM(6));  // no concrete part: no device timing
  {
    DEBUG_CAPTURE cap("KAVU");
    auto* m = kavu_get_or_create_tervo_timing_model(KAVU_TERVO_TABLE_TIMING_MODEL, &m_facade, &ha, &na);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(kavu_get_or_create_tervo_timing_model(KAVU_TERVO_TABLE_TIMING_MODEL, &m_facade, &ha, &na), m);
    EXPECT_EQ(CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>::live_count(), 1);
    EXPECT_EQ(static_cast<CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>*>(m)->get_device(), DEV_DEVICE_ENUM(859));
    EXPECT_TRUE(cap.contains("Device timing info loaded: no"));
    EXPECT_EQ(dmgr_typical_device_count(), 0);
  }
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_or_create_tervo_timing_model(KAVU_TERVO_TIMING_MODEL_TYPE(1), &m_facade, &ha, &na),
                             "Unknown timing model type");
  kavu_cleanup_tervo_timing_models();
  EXPECT_EQ(CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>::live_count(), 0);
  m_facade.set_family(DEV_FAMILY_ENUM(47));  // a family with trait 28
  EXPECT_KAVU_INTERNAL_ERROR(kavu_get_or_create_tervo_timing_model(KAVU_TERVO_TABLE_TIMING_MODEL, &m_facade, &ha, &na),
                             "DEV_FAMILY_TRAIT_IS_LUMCAST_FAMILY");
  EXPECT_EQ(csu_get_default_family(), DEV_FAMILY_ENUM(47));
}
