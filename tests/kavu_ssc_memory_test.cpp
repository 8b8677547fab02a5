// Memory refused at each allocation, in turn, of the timing-driven entry
// points beside the analysis: the flattened timing netlist's write, the
// estimator's set-up and clean-up, the compatible-register record (and the
// duplicate-register pass after it), the register lists, the synchronizer
// search and the high-speed registers; and of the BLIF reader that loads
// the circuits. Each call returns (no std::bad_alloc out of it, no end of
// the process), says "not enough memory" when it fails, leaves no
// half-built record and the engine free, and the caller's next call equals
// a fresh one. Once std::bad_alloc left these entry points with the engine
// still held, and every later analysis was an internal error.
//
// The rows sweep every allocation point of small bundled circuits (every
// third under sanitizers); KAVU_FULL_MEMORY_SWEEP=1 sweeps every point and
// adds the larger circuits (tseng, s298, stereovision3), minutes of work.
#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <fstream>
#include <functional>
#include <list>
#include <map>
#include <sstream>
#include <new>

#include "cmp/cmp.h"
#include "gen/gen_dyn_flag.h"
#include "hdb/hdb.h"
#include "kavu_dff_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_setup.h"
#include "kavu_ssc.h"
#include "kavu_ssc_test_support.h"
#include "kavu_tervo.h"
#include "kavu_utility_indy_dupe.h"
#include "msg/msg.h"
#include "netlist_io/blif.h"
#include "platform_testkit.h"
#include "ssc/ssc.h"
#include "ssc/tervo.h"
#include "zhd/zhd.h"

using namespace kavu_platform;

namespace {

HDB_INSTANCE_NAME* child_name(const char* text) {
  return HDB_INSTANCE_NAME::create_normal_name(nullptr, text, nullptr, nullptr, top_name());
}

bool full_sweep() {
  const char* full = std::getenv("KAVU_FULL_MEMORY_SWEEP");
  return full && std::string(full) == "1";
}

long sweep_stride() {
#ifdef KAVU_UNDER_ASAN
  if (!full_sweep()) return 3;
#endif
  return 1;
}

// A bundled circuit and its constraints ("": every clock at the default
// period).
struct CIRCUIT {
  const char* name;
  const char* sdc;
};

// The small circuits, and with a full sweep the large ones too.
std::vector<CIRCUIT> circuits(std::initializer_list<CIRCUIT> small, std::initializer_list<CIRCUIT> large) {
  std::vector<CIRCUIT> all(small);
  if (full_sweep()) all.insert(all.end(), large);
  return all;
}

// lfsr16 with register r[3] set apart by a false path.
const CIRCUIT kLfsr{"small/lfsr16_generic",
                    "create_clock -name c -period 10 [get_ports clk]\nset_false_path -to [get_registers {r[3]}]\n"};
const CIRCUIT kS298{"mcnc/s298",
                    "create_clock -name c -period 10 [get_ports clock]\nset_false_path -to [get_cells n_n852]\n"};

// Whether an error saying "not enough memory" was posted since the log was
// last cleared.
bool told_out_of_memory() {
  msg_flush_pending();
  const std::vector<MSG_LOG_ENTRY> log = msg_log();
  return std::any_of(log.begin(), log.end(), [](const MSG_LOG_ENTRY& e) {
    return e.kind == MSG_LOG_ERROR && e.text.find("not enough memory") != std::string::npos;
  });
}

// Calls `call` with its n-th allocation refused, for n = 0, stride,
// 2 stride, ... until a call makes fewer than n allocations, and hands
// `check` the point, the call's answer and whether the refusal was reached;
// `prepare`, when given, runs before each call with nothing refused.
// std::bad_alloc out of the call fails the row (the engine is freed so the
// sweep goes on). Returns the number of calls a refusal reached.
long refuse_each_allocation(const std::function<bool()>& call,
                            const std::function<void(long at, bool ok, bool refused)>& check,
                            const std::function<void()>& prepare = {}) {
  const long stride = sweep_stride();
  long refused_calls = 0;
  for (long at = 0;; at += stride) {
    if (prepare) prepare();
    msg_log_clear();
    bool ok = false;
    bool escaped = false;
    g_refuse_countdown = at;
    try {
      ok = call();
    } catch (const std::bad_alloc&) {
      escaped = true;
    }
    const bool reached = g_refuse_countdown.exchange(-1) < 0;
    if (escaped) {
      ADD_FAILURE() << "std::bad_alloc out of the call at allocation " << at;
      if (ssc_get_util()->is_in_use()) ssc_get_util()->delete_netlist();
      continue;
    }
    check(at, ok, reached);
    if (!reached) break;
    ++refused_calls;
    if (at > 200000) {
      ADD_FAILURE() << "the call never ran without a refusal";
      break;
    }
  }
  return refused_calls;
}

// Whether every element of `part` is in `all`.
template <class T>
bool includes_all_of(const std::list<T>& all, const std::list<T>& part) {
  return std::all_of(part.begin(), part.end(), [&](const T& x) { return std::find(all.begin(), all.end(), x) != all.end(); });
}

// Whether the compatible-register record dumped as `got` keeps apart every
// register `whole` keeps apart: a set of its own, and a synchronizer chain,
// wherever `whole` has one (dump lines "N<number>:<output> set <id> chain
// <id>").
bool keeps_apart_all_of(const std::string& got, const std::string& whole) {
  auto parse = [](const std::string& dump) {
    std::map<std::string, std::pair<unsigned, unsigned>> entries;
    std::istringstream in(dump);
    std::string key, set_word, chain_word;
    unsigned set = 0, chain = 0;
    while (in >> key >> set_word >> set >> chain_word >> chain) entries[key] = {set, chain};
    return entries;
  };
  const auto g = parse(got);
  for (const auto& [key, ids] : parse(whole)) {
    auto it = g.find(key);
    const std::pair<unsigned, unsigned> have = it == g.end() ? std::make_pair(0u, 0u) : it->second;
    if ((ids.first && !have.first) || (ids.second && !have.second)) return false;
  }
  return true;
}

// The registers (DFF gates and flip-flop atoms), in node-list order.
std::vector<CDB_SGATE_NODE*> registers_of(CDB_SGATE_NETLIST* nl) {
  std::vector<CDB_SGATE_NODE*> regs;
  for (CDB_SGATE_NODE* g : nl->get_node_list())
    if (g && kavu_is_a_dff(g, true)) regs.push_back(g);
  return regs;
}

// Whether a warning holding `text` was posted since the log was last
// cleared.
bool warned(const std::string& text) {
  msg_flush_pending();
  const std::vector<MSG_LOG_ENTRY> log = msg_log();
  return std::any_of(log.begin(), log.end(), [&](const MSG_LOG_ENTRY& e) {
    return e.kind == MSG_LOG_WARNING && e.text.find(text) != std::string::npos;
  });
}

// The slack and ratio of every timed terminal, comparable across analyses.
std::vector<std::tuple<const void*, int, float>> timing_of(const SSC_ITERM_TIMING_INFO_MAP& map) {
  std::vector<std::tuple<const void*, int, float>> rows;
  for (const auto& [t, info] : map) rows.emplace_back(t, info.m_slack, info.m_ratio);
  return rows;
}

// Family 47, timing-driven synthesis on, one partition "top" of a bundled
// circuit; the hierarchy is the fixture's.
class KavuSscMemory : public ::testing::Test {
 protected:
  void SetUp() override { set_up_timing_driven_compile(&m_facade, &m_hierarchy); }
  void TearDown() override {
    g_refuse_countdown = -1;
    unload();
    kavu_ssc_reset_state();
  }
  // Loads the circuit into the fixture's hierarchy, with its constraints.
  CDB_SGATE_NETLIST* load(const CIRCUIT& circuit) {
    unload();
    m_netlist = load_blif(circuit.name);
    m_netlist->set_hierarchy(nullptr);
    m_hierarchy.set_netlist(m_netlist.get());
    use_constraints(circuit.sdc);
    return m_netlist.get();
  }
  // `sdc` as the constraints ("": none).
  void use_constraints(const std::string& sdc) {
    std::ofstream("m.sdc") << sdc;
    m_cfg.reset();
    m_cfg = std::make_unique<CFG_SCOPE>(
        std::initializer_list<std::pair<const char*, const char*>>{{"ssc_sdc_file", sdc.empty() ? "" : "m.sdc"}});
  }
  // The loaded netlist goes back to its own hierarchy, and is deleted.
  void unload() {
    if (!m_netlist) return;
    m_hierarchy.set_netlist(nullptr);
    m_netlist->set_hierarchy(m_netlist.get_deleter().hierarchy);
    m_netlist.reset();
  }
  // The design under three partitions, the flattened timing netlist of
  // `netlists` stored, and the slacks of the first analysis that reads it.
  void store_under_three_partitions(std::vector<CDB_SGATE_NETLIST*>& netlists,
                                    std::vector<std::tuple<const void*, int, float>>* fresh) {
    zhd_build("", {{"top", top_name(), -1, 0}, {"pa", child_name("pa"), 0, 1}, {"pb", child_name("pb"), 0, 2}});
    ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
    SSC_ITERM_TIMING_INFO_MAP map;
    ASSERT_TRUE(analyze(&map));
    *fresh = timing_of(map);
    ASSERT_FALSE(fresh->empty());
  }
  bool analyze(SSC_ITERM_TIMING_INFO_MAP* map) {
    return kavu_ssc_perform_timing_analysis(&m_facade, &m_hierarchy, m_netlist.get(), map, nullptr, nullptr, nullptr,
                                            true, nullptr, false);
  }
  // What a refused call left: the engine and its holder free, the failure
  // told, and the next analysis as `fresh` (false: none runs, as when the
  // call had not been made).
  void expect_left_clean(long at, bool ok, bool refused, bool analysis_runs,
                         const std::vector<std::tuple<const void*, int, float>>& fresh) {
    EXPECT_FALSE(ssc_get_util()->is_in_use()) << at;
    EXPECT_FALSE(KAVU_SSC::is_in_use()) << at;
    if (refused && !ok) {
      EXPECT_TRUE(told_out_of_memory()) << "allocation " << at << " refused without a word";
    }
    SSC_ITERM_TIMING_INFO_MAP next;
    EXPECT_EQ(analyze(&next), analysis_runs) << at;
    if (analysis_runs) {
      EXPECT_EQ(timing_of(next), fresh) << at;
    }
    EXPECT_FALSE(ssc_get_util()->is_in_use()) << at;
  }
  // The current estimator's slack at every input terminal of the loaded
  // netlist, in node-list order.
  std::vector<int> estimated_slacks() const {
    std::vector<int> slacks;
    const TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>* e = kavu_get_tervo_estimator();
    if (!e) return slacks;
    for (CDB_SGATE_NODE* g : m_netlist->get_node_list())
      if (g)
        for (CDB_SGATE_ITERM* t : g->get_input_terms())
          if (t) slacks.push_back(e->estimate_slack(t));
    return slacks;
  }
  // Every output terminal's aux and aux2 values, in node-list order.
  std::vector<std::pair<int, int>> aux_values() const {
    std::vector<std::pair<int, int>> values;
    for (CDB_SGATE_NODE* g : m_netlist->get_node_list())
      if (g)
        for (unsigned j = 0; j < g->get_output_count(); ++j)
          if (CDB_SGATE_OTERM* t = g->get_output_term(j)) values.emplace_back(t->get_aux(), t->get_aux2());
    return values;
  }
  CMP_FACADE m_facade;
  CDB_SGATE_HIERARCHY m_hierarchy;
  LOADED_NETLIST m_netlist;
  std::unique_ptr<CFG_SCOPE> m_cfg;
  CFG_SCOPE m_quiet{{"debug_msg_level", "0"}};
};

}  // namespace

// The flattened timing netlist under three partitions: written, or the
// write fails with the failure told and nothing recorded as stored (the
// next analysis then finds no netlist to read, and no internal error);
// written again, the analysis equals a fresh one. A refusal in the walk
// that drops the partitions' stored netlists once ended the process.
TEST_F(KavuSscMemory, FlattenedWriteRefusedAnywhereLeavesNothingHeld) {
  for (const CIRCUIT& circuit : circuits({{"small/counter8_generic", ""}}, {{"mcnc/tseng", ""}})) {
    SCOPED_TRACE(circuit.name);
    CDB_SGATE_NETLIST* nl = load(circuit);
    std::vector<CDB_SGATE_NETLIST*> netlists{nl};
    std::vector<std::tuple<const void*, int, float>> fresh;
    ASSERT_NO_FATAL_FAILURE(store_under_three_partitions(netlists, &fresh));
    const long refused = refuse_each_allocation(
        [&] { return kavu_write_flattened_tdb_netlist(&m_facade, netlists); },
        [&](long at, bool ok, bool reached) {
          EXPECT_EQ(nl->get_tdb_origin().stored, ok) << at;
          expect_left_clean(at, ok, reached, ok, fresh);
          if (!ok) {
            ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists)) << at;
            expect_left_clean(at, true, false, true, fresh);
          }
        });
    EXPECT_GT(refused, 50);
    zhd_build("", {{"top", top_name(), -1, 0}});
  }
}

// The analysis of a partition whose compile stored the flattened netlist
// (read back, the partition stitched in): the slacks of a fresh analysis,
// or false with the failure told. A refusal while the stored file's head
// was read was once taken for "no stored netlist": false, and no word.
TEST_F(KavuSscMemory, AnalysisOfAStoredNetlistRefusedAnywhereTellsTheFailure) {
  for (const CIRCUIT& circuit : circuits({{"small/counter8_generic", ""}}, {{"mcnc/tseng", ""}})) {
    SCOPED_TRACE(circuit.name);
    std::vector<CDB_SGATE_NETLIST*> netlists{load(circuit)};
    std::vector<std::tuple<const void*, int, float>> fresh;
    ASSERT_NO_FATAL_FAILURE(store_under_three_partitions(netlists, &fresh));
    SSC_ITERM_TIMING_INFO_MAP map;
    const long refused = refuse_each_allocation(
        [&] {
          map.clear();
          return analyze(&map);
        },
        [&](long at, bool ok, bool reached) {
          if (ok) {
            EXPECT_EQ(timing_of(map), fresh) << at;
          }
          expect_left_clean(at, ok, reached, true, fresh);
        });
    EXPECT_GT(refused, 50);
    zhd_build("", {{"top", top_name(), -1, 0}});
  }
}

#ifndef KAVU_UNDER_ASAN
// Memory refused while the stored netlist's head is read (its file cannot
// be opened for want of memory) fails the analysis with the failure told:
// it was taken for "no stored netlist", false and no word. In a child
// process whose free memory is small blocks only, the file's stream is
// refused while the analysis's smaller allocations before it are given.
TEST_F(KavuSscMemory, StoredNetlistHeadRefusedIsToldNotTakenForNone) {
  CDB_SGATE_NETLIST* nl = load({"small/counter8_generic", ""});
  zhd_build("", {{"top", top_name(), -1, 0}, {"pa", child_name("pa"), 0, 1}});
  std::vector<CDB_SGATE_NETLIST*> netlists{nl};
  ASSERT_TRUE(kavu_write_flattened_tdb_netlist(&m_facade, netlists));
  SSC_ITERM_TIMING_INFO_MAP map;
  ASSERT_TRUE(analyze(&map));
  const bool told = run_within_address_space(uint64_t(64) << 20, [&] {
    SMALL_FREE_BLOCKS memory;
    leave_only_small_free_blocks(&memory);
    // Streams of the size the file's would take, opened until none can be:
    // one freed earlier would be handed out again.
    std::vector<FILE*> streams;
    while (FILE* f = streams.size() < 64 ? std::fopen("/dev/null", "r") : nullptr) streams.push_back(f);
    SSC_ITERM_TIMING_INFO_MAP refused;
    const bool ok = analyze(&refused);
    for (FILE* f : streams) std::fclose(f);
    give_back_large_blocks(&memory);
    return !ok && told_out_of_memory() && !ssc_get_util()->is_in_use();
  });
  EXPECT_TRUE(told);
  map.clear();
  EXPECT_TRUE(analyze(&map));
  zhd_build("", {{"top", top_name(), -1, 0}});
}
#endif

// The estimator is made with the slacks a set-up without a refusal gives
// it, or the call fails with the failure told and no estimator; the next
// set-up makes the whole one and the next analysis equals a fresh one; the
// design alone, and read back through the stored netlist under three
// partitions. Memory refused in the estimator's own reading of the analysis
// once gave true and an estimator that called every terminal unconstrained.
TEST_F(KavuSscMemory, EstimatorSetUpRefusedAnywhereLeavesNothingHeld) {
  for (const bool stored : {false, true}) {
    for (const CIRCUIT& circuit : circuits({kLfsr}, {kS298, {"mcnc/tseng", ""}})) {
      SCOPED_TRACE(std::string(circuit.name) + (stored ? " through the stored netlist" : ""));
      std::vector<CDB_SGATE_NETLIST*> netlists{load(circuit)};
      std::vector<std::tuple<const void*, int, float>> fresh;
      if (stored) {
        ASSERT_NO_FATAL_FAILURE(store_under_three_partitions(netlists, &fresh));
      } else {
        SSC_ITERM_TIMING_INFO_MAP map;
        ASSERT_TRUE(analyze(&map));
        fresh = timing_of(map);
      }
      const int live = TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count();
      const std::string partition = kavu_get_partition_name_of_hierarchy(&m_hierarchy);
      auto set_up = [&] {
        return kavu_initialize_tervo_estimator(&m_facade, &m_hierarchy, m_netlist.get(), nullptr, nullptr, nullptr,
                                               false, nullptr, nullptr);
      };
      ASSERT_TRUE(set_up());
      const std::vector<int> whole = estimated_slacks();
      kavu_cleanup_tervo_estimator(&m_hierarchy);
      ASSERT_TRUE(std::count(whole.begin(), whole.end(), SSC_UNCONSTRAINED_SLACK) < long(whole.size()));
      const long refused = refuse_each_allocation(set_up, [&](long at, bool ok, bool reached) {
        EXPECT_EQ(kavu_get_tervo_estimator() != nullptr, ok) << at;
        EXPECT_EQ(kavu_is_tervo_estimator_initialized(partition), ok) << at;
        if (ok) {
          EXPECT_EQ(estimated_slacks(), whole) << at;
        }
        EXPECT_EQ(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count(), live + (ok ? 1 : 0)) << at;
        kavu_cleanup_tervo_estimator(&m_hierarchy);
        expect_left_clean(at, ok, reached, true, fresh);
        EXPECT_TRUE(set_up()) << at;
        EXPECT_EQ(estimated_slacks(), whole) << at;
        kavu_cleanup_tervo_estimator(&m_hierarchy);
        EXPECT_EQ(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count(), live) << at;
      });
      EXPECT_GT(refused, 50);
      zhd_build("", {{"top", top_name(), -1, 0}});
    }
  }
}

// The clean-up, memory refused at each allocation in turn (naming a
// partition whose name is longer than a short string allocates), with one
// estimator per partition and with the single one: the partition's
// estimator is gone either way, none is leaked, a refusal is told, and the
// next set-up makes the estimator a fresh set-up makes. The refusal once
// left the clean-up as std::bad_alloc, the estimator still there.
TEST_F(KavuSscMemory, EstimatorCleanUpRefusedAnywhereLeavesNoEstimator) {
  struct MODE {  // the load-time switch of the registry
    bool saved = kavu_use_tervo_estimator_map;
    ~MODE() { kavu_use_tervo_estimator_map = saved; }
  } mode;
  HDB_INSTANCE_NAME* long_name = HDB_INSTANCE_NAME::create_normal_name(
      nullptr, "partition_with_a_name_past_the_short_string_size", nullptr, nullptr, nullptr);
  m_hierarchy.set_instance_name(long_name);
  zhd_build("", {{"top", long_name, -1, 0}});
  load(kLfsr);
  const std::string partition = kavu_get_partition_name_of_hierarchy(&m_hierarchy);
  ASSERT_GT(partition.size(), sizeof(std::string));
  for (const bool registry : {true, false}) {
    SCOPED_TRACE(registry ? "registry" : "single estimator");
    kavu_use_tervo_estimator_map = registry;
    const int live = TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count();
    auto set_up = [&] {
      return kavu_initialize_tervo_estimator(&m_facade, &m_hierarchy, m_netlist.get(), nullptr, nullptr, nullptr,
                                             false, nullptr, nullptr);
    };
    ASSERT_TRUE(set_up());
    const std::vector<int> whole = estimated_slacks();
    const long refused = refuse_each_allocation(
        [&] {
          kavu_cleanup_tervo_estimator(&m_hierarchy);
          return true;
        },
        [&](long at, bool, bool reached) {
          EXPECT_FALSE(kavu_is_tervo_estimator_initialized(partition)) << at;
          EXPECT_EQ(TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count(), live) << at;
          if (reached) {
            EXPECT_TRUE(told_out_of_memory()) << "allocation " << at << " refused without a word";
          }
          EXPECT_FALSE(ssc_get_util()->is_in_use()) << at;
          EXPECT_TRUE(set_up()) << at;  // for the next clean-up
          EXPECT_EQ(estimated_slacks(), whole) << at;
        });
    EXPECT_GT(refused, 0);
    kavu_cleanup_tervo_estimator(&m_hierarchy);
  }
  m_hierarchy.set_instance_name(top_name());
  zhd_build("", {{"top", top_name(), -1, 0}});
}

// The compatible-register record, from the engine (a register a false path
// names in a set of its own; without constraints, synchronizers from the
// engine) and in netlist-only mode (synchronizer chains from the
// structural search): built whole as without a refusal; or, memory refused
// while the constraints are read or indexed, more registers kept apart (as
// for a file the engine refuses), none fewer; or "FAILED", nothing in it:
// failed (ready, not in use) where a constraint file was to set registers
// apart, else switched off (neither). Each but the first tells the failure;
// the terminals' aux values are as before. Once std::bad_alloc left the
// entry point with the record half built.
TEST_F(KavuSscMemory, CompatibleRegisterRecordRefusedAnywhereIsWholeConservativeOrOff) {
  CFG_SCOPE protect{{"kavu_ssc_protect_synchronizers_all_families", "on"}};
  struct SKIP_SDC {  // the load-time switch of the netlist-only path
    bool saved = kavu_ssc_skip_sdc_load;
    ~SKIP_SDC() { kavu_ssc_skip_sdc_load = saved; }
  } skip;
  const std::vector<CIRCUIT> all = circuits({kLfsr, {"small/fsm_seq_generic", ""}},
                                            {kS298, {"seq/stereovision3", ""}, {"mcnc/tseng", ""}});
  for (const bool netlist_only : {false, true}) {
    for (const CIRCUIT& circuit : all) {
      SCOPED_TRACE(std::string(circuit.name) + (netlist_only ? " netlist-only" : ""));
      kavu_ssc_skip_sdc_load = netlist_only;
      m_facade.set_family(DEV_FAMILY_ENUM(netlist_only ? 25 : 47));
      CDB_SGATE_NETLIST* nl = load(circuit);
      CDB_SGATE_COMPATIBLE_REGISTERS* rec = nl->get_compatible_registers();
      auto build = [&] {
        rec->clear_all();
        rec->set_ready_to_use(false);
        rec->set_in_use(true);
        kavu_ssc_build_comp_reg_info(&m_facade, &m_hierarchy, nl, false, false);
        return rec->is_in_use();
      };
      SSC_ITERM_TIMING_INFO_MAP map;
      ASSERT_TRUE(analyze(&map));
      const auto fresh = timing_of(map);
      ASSERT_TRUE(build());
      const std::string whole = rec->dump_compatible_registers_map();
      ASSERT_FALSE(whole.empty());
      const std::vector<std::pair<int, int>> aux = aux_values();
      // A build that was to keep constrained registers apart fails where a
      // constraint file is named; elsewhere it is switched off.
      const bool fails = !netlist_only && *circuit.sdc;
      const long refused = refuse_each_allocation(build, [&](long at, bool ok, bool reached) {
        const std::string got = rec->dump_compatible_registers_map();
        EXPECT_EQ(rec->is_ready_to_use(), ok || fails) << at;
        EXPECT_EQ(kavu_ssc_compatible_registers_failed(rec), !ok && fails) << at;
        if (ok && got != whole) {
          EXPECT_TRUE(keeps_apart_all_of(got, whole)) << at << ":\n" << got;
          EXPECT_TRUE(told_out_of_memory()) << at;
        }
        if (!ok) {
          EXPECT_EQ(got, "") << at;
        }
        EXPECT_EQ(aux_values(), aux) << at;
        expect_left_clean(at, ok, reached, true, fresh);
      });
      EXPECT_GT(refused, 10);
    }
  }
}

// The holder's set-up with its base-clock and constrained lists, and the
// constrained-DFF list: each whole; or, memory refused while the
// constraints are read or indexed, more registers listed as constrained
// (as for a file the engine refuses), none fewer; or failed with the list
// empty. Each but the first tells the failure.
TEST_F(KavuSscMemory, RegisterListsRefusedAnywhereAreWholeConservativeOrEmpty) {
  for (const CIRCUIT& circuit : circuits({kLfsr}, {kS298})) {
    SCOPED_TRACE(circuit.name);
    CDB_SGATE_NETLIST* nl = load(circuit);
    SSC_ITERM_TIMING_INFO_MAP map;
    ASSERT_TRUE(analyze(&map));
    const auto fresh = timing_of(map);
    std::list<CDB_SGATE_OTERM*> whole_clocks, whole_constrained;
    std::list<CDB_SGATE_NODE*> whole_dffs;
    {
      KAVU_SSC holder(&m_facade, &m_hierarchy, nl, SSC_DELAY_MODEL_UNIT, nullptr, true);
      ASSERT_TRUE(KAVU_SSC::is_in_use());
      ASSERT_TRUE(holder.create_base_clock_oterm_list(&whole_clocks));
      ASSERT_TRUE(holder.create_constraint_register_oterm_list(&whole_constrained));
    }
    ASSERT_TRUE(kavu_ssc_build_constr_dff_list(&m_facade, &m_hierarchy, nl, &whole_dffs));
    ASSERT_EQ(whole_clocks.size(), 1u);
    ASSERT_EQ(whole_dffs.size(), 1u);
    for (const bool constrained : {false, true}) {
      SCOPED_TRACE(constrained ? "constrained list" : "base-clock list");
      std::list<CDB_SGATE_OTERM*> got;
      const long refused = refuse_each_allocation(
          [&] {
            got.clear();
            KAVU_SSC holder(&m_facade, &m_hierarchy, nl, SSC_DELAY_MODEL_UNIT, nullptr, true);
            if (!KAVU_SSC::is_in_use()) return false;
            return constrained ? holder.create_constraint_register_oterm_list(&got)
                               : holder.create_base_clock_oterm_list(&got);
          },
          [&](long at, bool ok, bool reached) {
            const auto& whole = constrained ? whole_constrained : whole_clocks;
            if (!ok) {
              EXPECT_TRUE(got.empty()) << at;
            }
            if (ok && got != whole) {
              EXPECT_TRUE(constrained && includes_all_of(got, whole)) << at;
              EXPECT_TRUE(told_out_of_memory()) << at;
            }
            expect_left_clean(at, ok, reached, true, fresh);
          });
      EXPECT_GT(refused, 10);
    }
    std::list<CDB_SGATE_NODE*> dffs;
    const long refused = refuse_each_allocation(
        [&] {
          dffs.clear();
          return kavu_ssc_build_constr_dff_list(&m_facade, &m_hierarchy, nl, &dffs);
        },
        [&](long at, bool ok, bool reached) {
          if (!ok) {
            EXPECT_TRUE(dffs.empty()) << at;
          }
          if (ok && dffs != whole_dffs) {
            EXPECT_TRUE(includes_all_of(dffs, whole_dffs)) << at;
            EXPECT_TRUE(told_out_of_memory()) << at;
          }
          expect_left_clean(at, ok, reached, true, fresh);
        });
    EXPECT_GT(refused, 10);
  }
}

// The compatible-register record, memory refused at each allocation of its
// build in turn, and then the duplicate-register pass, on lfsr16 with three
// registers added on its clock, each toggling through its own NOT: twins t0
// and t1, and n, which a false path names. The record is whole,
// conservative or failed, and n never merges; a failed record merges
// nothing, with a warning that says so. Without constraints a record
// refused memory is switched off, and the pass merges what it merges after
// a whole one. A refused record was once switched off, and the pass merged
// n into its twin, telling only the refusal.
TEST_F(KavuSscMemory, RecordRefusedAnywhereThenDuplicatePassKeepsAFalsePathRegisterApart) {
  CFG_SCOPE across{{"kavu_indy_dupe_ignore_merge_across_hierarchies", "on"}};
  const CIRCUIT rows[] = {{"small/lfsr16_generic",
                           "create_clock -name c -period 10 [get_ports clk]\nset_false_path -from [get_registers n]\n"},
                          {"small/lfsr16_generic", ""}};
  for (const CIRCUIT& circuit : rows) {
    const bool constrained = *circuit.sdc;
    SCOPED_TRACE(constrained ? "a false path names n" : "no constraints");
    CDB_SGATE_NETLIST* original = load(circuit);
    CDB_SGATE_NODE* clk = kavu_get_dff_clock(registers_of(original).front())->get_source()->get_my_node();
    std::vector<CDB_SGATE_NODE*> toggles;  // t0, t1, n
    for (const char* name : {"t0", "t1", "n"}) {
      CDB_SGATE_NODE* reg = make_dff(original, nullptr, clk);
      reg->set_instance_name(child_name(name));
      make_not(original, reg)->get_output_term(0)->insert_fanout(reg->get_input_term(CDB_DFF_DATA));
      make_output_pin(original, (std::string("q_") + name).c_str(), reg);
      toggles.push_back(reg);
    }
    SSC_ITERM_TIMING_INFO_MAP map;
    ASSERT_TRUE(analyze(&map));
    const auto fresh = timing_of(map);
    // Each call works on a copy of the design, its toggles found through
    // the copy's temporary pointers.
    std::unique_ptr<CDB_SGATE_NETLIST> copy;
    std::vector<CDB_SGATE_NODE*> t;
    auto make_copy = [&] {
      copy.reset(original->clone(nullptr, true, true));
      t.clear();
      for (CDB_SGATE_NODE* reg : toggles) t.push_back(static_cast<CDB_SGATE_NODE*>(reg->get_temp_pointer()));
      original->clear_temp_pointers();
      m_hierarchy.set_netlist(copy.get());
    };
    auto build = [&] {
      kavu_ssc_build_comp_reg_info(&m_facade, &m_hierarchy, copy.get(), false, false);
      return copy->get_compatible_registers()->is_in_use();
    };
    auto merge = [&] {
      m_hierarchy.set_netlist(original);
      GEN_DYN_FLAG keep = copy->get_flag_manager().create_flag("keep");
      GEN_DYN_FLAG exclude = copy->get_flag_manager().create_flag("exclude");
      const int rewired = kavu_remove_indy_dupe_ffs(&m_hierarchy, copy.get(), keep, exclude);
      copy->get_flag_manager().destroy_flag(keep);
      copy->get_flag_manager().destroy_flag(exclude);
      return rewired;
    };
    auto source_of = [](CDB_SGATE_NODE* reg) { return reg->get_input_term(CDB_DFF_DATA)->get_source(); };
    auto apart = [&](CDB_SGATE_NODE* reg) {  // still reads its own ring
      return source_of(reg)->get_my_node()->get_input_term(0)->get_source() == reg->get_output_term(0);
    };
    make_copy();
    ASSERT_TRUE(build());
    const int whole = merge();
    ASSERT_EQ(whole, constrained ? 1 : 2);
    const long refused = refuse_each_allocation(
        build,
        [&](long at, bool ok, bool reached) {
          const bool failed = kavu_ssc_compatible_registers_failed(copy->get_compatible_registers());
          EXPECT_EQ(failed, !ok && constrained) << at;
          const int rewired = merge();
          // A record refused memory while the constraints were indexed
          // keeps every register apart: fewer merge, never more.
          EXPECT_LE(rewired, whole) << at;
          if (constrained) {
            EXPECT_TRUE(apart(t[2])) << "n merged with memory refused at allocation " << at;
          } else if (!ok) {
            EXPECT_EQ(rewired, whole) << at;
          }
          if (failed) {
            EXPECT_EQ(rewired, 0) << at;
            EXPECT_TRUE(warned("Independent duplicate registers are not merged")) << at;
          }
          expect_left_clean(at, ok, reached, true, fresh);
        },
        make_copy);
    EXPECT_GT(refused, 10);
    m_hierarchy.set_netlist(original);
    copy.reset();
  }
}

// The structural synchronizer search, memory refused at each allocation in
// turn: the chains all marked, as without a refusal, or none (what the
// call had marked taken back), a refusal told, every aux value as before;
// the next search marks them all. Once std::bad_alloc left the search.
TEST_F(KavuSscMemory, SynchronizerSearchRefusedAnywhereMarksAllOrNone) {
  for (const CIRCUIT& circuit : circuits({kLfsr}, {kS298, {"seq/stereovision3", ""}, {"mcnc/tseng", ""}})) {
    SCOPED_TRACE(circuit.name);
    CDB_SGATE_NETLIST* nl = load(circuit);
    CDB_SGATE_COMPATIBLE_REGISTERS* rec = nl->get_compatible_registers();
    auto chains = [&] {  // each register's chain (0: none), in node-list order
      std::vector<unsigned> ids;
      for (CDB_SGATE_NODE* r : registers_of(nl)) ids.push_back(rec->get_synch_chain(kavu_get_dff_oterm(r)));
      return ids;
    };
    rec->clear_all();
    const std::vector<unsigned> none = chains();
    kavu_ssc_find_synchronizer_chains(nl, false);
    const std::vector<unsigned> whole = chains();
    ASSERT_NE(whole, none);
    const std::vector<std::pair<int, int>> aux = aux_values();
    const long refused = refuse_each_allocation(
        [&] {
          kavu_ssc_find_synchronizer_chains(nl, false);
          return true;
        },
        [&](long at, bool, bool reached) {
          const std::vector<unsigned> got = chains();
          EXPECT_TRUE(got == whole || got == none) << at;
          if (reached) {
            EXPECT_TRUE(told_out_of_memory()) << "allocation " << at << " refused without a word";
          }
          EXPECT_EQ(aux_values(), aux) << at;
          rec->clear_all();
          kavu_ssc_find_synchronizer_chains(nl, false);
          EXPECT_EQ(chains(), whole) << at;
        },
        [&] { rec->clear_all(); });
    EXPECT_GT(refused, 10);
  }
}

// High-speed registers, memory refused at each allocation of
// kavu_compute_high_speed_regs in turn (its analysis included), each call
// on a fresh copy of the design: the copy's map whole, as without a
// refusal, or none, a refusal told, the engine free; a call then computes
// the whole map. Once std::bad_alloc left the call.
TEST_F(KavuSscMemory, HighSpeedRegistersRefusedAnywhereAreWholeOrNone) {
  CFG_SCOPE use{{"tds_use_high_speed_regs", "on"}};
  for (const CIRCUIT& circuit : circuits({kLfsr}, {kS298, {"mcnc/tseng", ""}})) {
    SCOPED_TRACE(circuit.name);
    CDB_SGATE_NETLIST* original = load(circuit);
    std::unique_ptr<CDB_SGATE_NETLIST> copy;
    auto make_copy = [&] {
      copy.reset(original->clone(nullptr, true, true));
      original->clear_temp_pointers();
      m_hierarchy.set_netlist(copy.get());
    };
    auto flags = [&] {  // the copy's map (empty: none)
      std::map<unsigned, uint8_t> bits;
      if (const CDB_SGATE_HIGH_SPEED_MAP* hs = copy->get_high_speed_registers())
        for (const auto& [id, reg] : *hs) bits[id] = reg.m_bits;
      return bits;
    };
    auto compute = [&] { return kavu_compute_high_speed_regs(&m_facade, &m_hierarchy, copy.get()); };
    make_copy();
    ASSERT_TRUE(compute());
    const std::map<unsigned, uint8_t> whole = flags();
    ASSERT_FALSE(whole.empty());
    const long refused = refuse_each_allocation(
        compute,
        [&](long at, bool ok, bool reached) {
          const bool has_map = copy->get_high_speed_registers() != nullptr;
          EXPECT_TRUE(!has_map || flags() == whole) << at;
          if (ok) {
            EXPECT_TRUE(has_map) << at;
          }
          if (reached && !ok) {
            EXPECT_TRUE(told_out_of_memory()) << "allocation " << at << " refused without a word";
          }
          EXPECT_FALSE(ssc_get_util()->is_in_use()) << at;
          if (!has_map) {
            EXPECT_TRUE(compute()) << at;
          }
          EXPECT_EQ(flags(), whole) << at;
        },
        make_copy);
    EXPECT_GT(refused, 50);
    m_hierarchy.set_netlist(original);
    copy.reset();
  }
}

// The BLIF reader, memory refused at each allocation in turn: the netlist
// (or, for a path that is no file, the reason without a refusal), or no
// netlist and an error saying "not enough memory"; never std::bad_alloc,
// never a failure without its reason. A refusal while the names' child
// index grew once left it broken, and a later read of s298 ended the
// process.
TEST(BlifReadMemory, RefusedAnywhereGivesTheNetlistOrSaysWhy) {
  std::vector<std::pair<std::string, std::string>> rows{{blif_data_path("small/counter8_generic"), ""},
                                                        {blif_data_path("small/fsm_seq_generic"), ""},
                                                        {KAVU_TEST_DATA_DIR, "not a regular file"},
                                                        {blif_data_path("mcnc/s298"), ""}};
  if (full_sweep())
    for (const char* name : {"mcnc/tseng", "seq/stereovision3"}) rows.emplace_back(blif_data_path(name), "");
  for (const auto& row : rows) {
    // References, not structured bindings: the lambdas below capture them.
    const std::string& path = row.first;
    const std::string& reason = row.second;
    SCOPED_TRACE(path);
    BLIF_RESULT read;
    const long refused = refuse_each_allocation(
        [&] {
          read = blif_read_file(path);
          return read.netlist != nullptr;
        },
        [&](long at, bool ok, bool reached) {
          EXPECT_EQ(ok, !reached && reason.empty()) << at;
          if (!ok) {
            const std::string said = reached ? "not enough memory" : reason;
            EXPECT_NE(read.error.find(said), std::string::npos) << "allocation " << at << ": \"" << read.error << "\"";
          }
          LOADED_NETLIST held(read.netlist, LOADED_NETLIST_DELETER{read.hierarchy});
          read = BLIF_RESULT();
        });
    EXPECT_GT(refused, reason.empty() ? 20 : 0);
  }
}
