// A sweep over whole designs as users load them: every bundled circuit and
// generated files whose names straddle the reader's page edges go through
// the library's whole-netlist passes and analyses. No step may raise an
// internal error or leave a broken netlist; the result of each design is
// written, read back and compared by simulation with the netlist in memory,
// and the passes meant to keep behaviour are compared with the design as
// loaded.
#include <algorithm>
#include <fstream>
#include <list>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "basex/basex.h"
#include "cmp/cmp.h"
#include "hdb/hdb.h"
#include "kavu_cut.h"
#include "kavu_delay.h"
#include "kavu_depends.h"
#include "kavu_dff_helper_strip.h"
#include "kavu_dff_helper_stuck.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper.h"
#include "kavu_helper_predicates.h"
#include "kavu_llis_artificial.h"
#include "kavu_netlist_clone.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_seq_timer.h"
#include "kavu_sort.h"
#include "kavu_ssc.h"
#include "kavu_stamp.h"
#include "kavu_stats.h"
#include "kavu_subnet.h"
#include "kavu_utility_opt.h"
#include "kavu_utility_tesk.h"
#include "kavu_wysiwyg_unmapper.h"
#include "netlist_io/simulator.h"
#include "partition_test_support.h"
#include "platform_testkit.h"
#include "zhd/zhd.h"

using namespace kavu_platform;

namespace {

// What a step may do to the design.
enum SWEEP_KIND {
  SWEEP_ANALYSIS,  // reads the netlist; runs on the working netlist
  SWEEP_KEEPS,     // edits it and keeps its behaviour; runs on the working netlist
  SWEEP_CHANGES,   // edits it on purpose; runs on a copy of its own
  };

struct SWEEP_DESIGN {
  CDB_SGATE_NETLIST* netlist = nullptr;
  CDB_SGATE_HIERARCHY* hierarchy = nullptr;
  CMP_FACADE* facade = nullptr;
};

struct SWEEP_STEP {
  const char* name;
  SWEEP_KIND kind;
  std::function<void(SWEEP_DESIGN&)> run;
};

// True when every input of every combinational gate is connected and not
// tied to a constant, as depth levelling requires.
bool comb_inputs_are_driven(const CDB_SGATE_NETLIST* netlist) {
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node || node->get_sgate_type() != CDB_SGATE_COMB_ENUM) continue;
    for (CDB_SGATE_ITERM* iterm : node->get_input_terms())
      if (!cdb_is_connected(iterm) || iterm->is_vcc_or_gnd()) return false;
  }
  return true;
}

// The name of the first register (in node order) that a constraint can
// name as written: the last level of its path, letters, digits and
// underscores; empty when the design has none.
std::string first_plain_register_name(const CDB_SGATE_NETLIST* netlist) {
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node || node->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    const std::string path = node->get_string_hpath();
    const std::string name = path.substr(path.rfind('|') + 1);
    if (!name.empty() && !isdigit(static_cast<unsigned char>(name[0])) &&
        std::all_of(name.begin(), name.end(), [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
      return name;
  }
  return "";
}

// Analyses `netlist`, a partition of the design, through the entry points
// with their checks on, and builds its compatible-register record: the
// register named `apart` (none when empty) is in a set of its own. The
// record is left as a new netlist's, so the next build starts afresh.
void expect_analysed_and_kept_apart(SWEEP_DESIGN& d, CDB_SGATE_NETLIST* netlist, const std::string& apart,
                                    const char* what) {
  SSC_ITERM_TIMING_INFO_MAP slack;
  EXPECT_TRUE(kavu_ssc_perform_timing_analysis(d.facade, d.hierarchy, netlist, &slack, nullptr, nullptr, nullptr,
                                               true, nullptr, false))
      << what;
  kavu_ssc_build_comp_reg_info(d.facade, d.hierarchy, netlist, false, false);
  CDB_SGATE_COMPATIBLE_REGISTERS* record = netlist->get_compatible_registers();
  EXPECT_TRUE(record->is_ready_to_use() && record->is_in_use()) << what;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (apart.empty() || !node || node->get_sgate_type() != CDB_SGATE_DFF_ENUM) continue;
    const std::string path = node->get_string_hpath();
    if (path.substr(path.rfind('|') + 1) == apart) {
      EXPECT_NE(record->get_set_id(node->get_output_term(0)), 0u) << what << ": " << apart;
    }
  }
  record->clear_all();
  record->set_ready_to_use(false);
  record->set_in_use(true);
}

// Frees a clone record made by the library and what it holds.
void free_clone_record(NL_CLONE_INFO* record) {
  if (std::list<CDB_STATE_MACHINE*>* machines = record->get_machine_list()) {
    for (CDB_STATE_MACHINE* m : *machines) delete m;
    delete machines;
  }
  for (auto& [key, object] : record->get_object_map()) delete object;
  delete record->get_netlist();
  delete record;
}

// Every whole-netlist entry point the sweep runs, in the order a compile
// would meet them: analyses first, then the passes that keep behaviour
// (chained on one netlist), then those that change it.
const std::vector<SWEEP_STEP>& sweep_steps() {
  static const std::vector<SWEEP_STEP> steps = {
      {"topological order", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         KAVU_SORT sort(nullptr, false, false, false);
         KAVU_SORT::OTERM_LIST sorted;
         sort.sort_oterms(d.netlist, sorted, false);
       }},
      {"strong components", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         KAVU_SORT sort(nullptr, false, false, false);
         KAVU_SORT::OTERM_LIST list;
         KAVU_SORT::SCC_MAP map;
         sort.scc_oterms(d.netlist, list, map, false, nullptr, nullptr, nullptr);
       }},
      {"combinational depth", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         if (comb_inputs_are_driven(d.netlist)) KAVU_SORT(nullptr, false, false, false).comb_depth(d.netlist);
       }},
      {"cut pass", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         KAVU_WVNET_MANAGER cuts;
         cuts.begin_cut_pass(d.netlist, 4);
         cuts.end_cut_pass();
       }},
      {"loop terminals", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         std::vector<CDB_SGATE_ITERM*> iterms;
         std::vector<CDB_SGATE_OTERM*> oterms;
         kavu_find_all_loop_terms(d.netlist, &iterms, &oterms);
       }},
      {"delay expert", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         std::unique_ptr<KAVU_DELAY_EXPERT> expert(kavu_get_default_delay_expert(d.netlist));
         expert->compute_all_delays(true);
       }},
      {"slack-ranked LUTs", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         std::vector<CDB_SGATE_OTERM*> ranked;
         kavu_slack_ranked_luts(d.netlist, &ranked);
       }},
      {"sequential timer", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         KAVU_SEQ_TIMER timer("sweep", d.netlist, d.facade, 2, 200, nullptr);
         timer.calculate_best_cycle_time();
       }},
      {"timing analysis", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         // With the library's own checks: every connected input terminal
         // has its entry (the sanity check, then the slack each optimisation
         // pass reads); an unconstrained one reads ratio 1.0.
         SSC_ITERM_TIMING_INFO_MAP slack;
         CFG_SCOPE sanity{{"kavu_timing_analysis_sanity_check", "on"}};
         EXPECT_TRUE(kavu_ssc_perform_timing_analysis(d.facade, d.hierarchy, d.netlist, &slack, nullptr, nullptr,
                                                      nullptr, true, nullptr, false));
         for (CDB_SGATE_NODE* node : d.netlist->get_node_list())
           for (unsigned i = 0; node && i < node->get_number_of_input_terms(); ++i) {
             double ratio = 0;
             if (opt_get_slack(node->get_input_term(i), slack, 0, &ratio) == SSC_UNCONSTRAINED_SLACK) {
               EXPECT_EQ(ratio, 1.0) << node->get_debug_name() << " input " << i;
             }
           }
         kavu_ssc_find_synchronizer_chains(d.netlist, false);
         kavu_ssc_identify_high_speed_registers(d.netlist, nullptr, &slack);
       }},
      {"statistics", SWEEP_ANALYSIS,
       [](SWEEP_DESIGN& d) {
         KAVU_STATS().report_on_netlist(d.netlist, "sweep");
         kavu_stat_oterm_fanout(d.netlist);
         kavu_sgate_comb_depth_stat(d.netlist, "sweep");
         double max_luts = 0, avg = 0;
         kavu_dump_delay_info(d.netlist, "sweep ", true, false, false, &max_luts, &avg);
       }},
      {"input-pin check", SWEEP_ANALYSIS, [](SWEEP_DESIGN& d) { kavu_tesk_verify_input_pin(d.netlist); }},

      {"strip synchronous loads and clears", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) { kavu_strip_dff_sload_sclr(d.netlist); }},
      {"unmap enables", SWEEP_KEEPS, [](SWEEP_DESIGN& d) { kavu_unmap_all_enables(d.netlist); }},
      {"unmap atoms, LUTs and multiplexers", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) { kavu_unmap_netlist(d.netlist, true, true, true, false, false, false, false); }},
      {"decompose wide gates", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) {
         // The decomposition levels every combinational input; a gate with a
         // constant or open input is refused by design, so only netlists
         // without one are decomposed.
         if (comb_inputs_are_driven(d.netlist)) KAVU_SORT(nullptr, false, false, false).dmig(d.netlist, 4, false);
       }},
      {"name buffers in and out", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) {
         kavu_llis_insert_artificial_fibs(d.netlist);
         kavu_llis_remove_artificial_fibs(d.netlist);
       }},
      {"stamps", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) {
         kavu_stamp_label_nodes(d.netlist);
         kavu_stamp_propagate_common_constants(d.netlist);
         kavu_stamp_delete_inside_duplicates(d.netlist);
       }},
      {"sub-netlist extraction and stitch-back", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) {
         std::vector<CDB_SGATE_NODE*> half;
         for (CDB_SGATE_NODE* node : d.netlist->get_node_list())
           if (node && !kavu_is_a_pin(node) && half.size() * 2 < d.netlist->size()) half.push_back(node);
         KAVU_SUBNET subnet(d.netlist, d.facade, nullptr, nullptr);
         subnet.kavu_subnet_create(half);
         subnet.kavu_subnet_stitch_back();
       }},
      {"partition, split and merge", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) {
         KAVU_PARTITIONER().partition_on_reg_boundary(d.netlist, nullptr, partition_params(4), false);
         KAVU_PARTITION_BOUNDARIES boundaries;
         std::vector<CDB_SGATE_NETLIST*> parts;
         kavu_get_partition_netlists(parts, d.netlist, nullptr, nullptr, boundaries, false);
         kavu_merge_netlists(parts, d.netlist, nullptr, boundaries);
         kavu_delete_partition_on_reg_boundary(d.netlist);
       }},

      {"timing analysis of labelled, split and copied partitions with a stored netlist", SWEEP_KEEPS,
       [](SWEEP_DESIGN& d) {
         // With two partitions the analysis reads back the flattened netlist
         // stored for the design and stitches the partition into it: after
         // the partitioner's labelling (boundary gates added), after the
         // split and the merge back (each partition alone is analysed through
         // the partition's netlist the labelled design's analysis stored, which
         // holds the drivers of its cut boundaries), and in each copy made
         // after the write
         // (a clone, the clone record, a copy put back), with the library's
         // own checks on. A register a false path names keeps a set of its
         // own in each; in a copy it once lost the stored netlist, its
         // analysis failed with a debug line only, and the register merged.
         zhd_build("", {{"top", d.hierarchy->get_instance_name(), -1, 0}, {"p1", nullptr, 0, 1}});
         const std::string apart = first_plain_register_name(d.netlist);
         std::ofstream("sweep.sdc") << (apart.empty() ? "" : "set_false_path -from [get_registers " + apart + "]\n");
         CFG_SCOPE checks{{"kavu_timing_analysis_sanity_check", "on"}, {"ssc_sdc_file", "sweep.sdc"}};
         std::vector<CDB_SGATE_NETLIST*> netlists{d.netlist};
         EXPECT_TRUE(kavu_write_flattened_tdb_netlist(d.facade, netlists));
         KAVU_PARTITIONER().partition_on_reg_boundary(d.netlist, nullptr, partition_params(2), false);
         expect_analysed_and_kept_apart(d, d.netlist, apart, "labelled");
         KAVU_PARTITION_BOUNDARIES boundaries;
         std::vector<CDB_SGATE_NETLIST*> parts;
         kavu_get_partition_netlists(parts, d.netlist, nullptr, nullptr, boundaries, false);
         // A partition alone is analysed: the generic netlist was stored
         // before the labelling, but the labelled design's analysis above
         // stored the partition's netlist, its boundaries and their drivers
         // included, so no path from another partition is lost.
         cdb_sgate_set_synthesis_running_in_parallel(false);
         for (CDB_SGATE_NETLIST* part : parts) {
           SSC_ITERM_TIMING_INFO_MAP slack;
           EXPECT_TRUE(kavu_ssc_perform_timing_analysis(d.facade, d.hierarchy, part, &slack, nullptr, nullptr, nullptr,
                                                        true, nullptr, false))
               << "partition " << part->get_number();
         }
         cdb_sgate_set_synthesis_running_in_parallel(true);
         kavu_merge_netlists(parts, d.netlist, nullptr, boundaries);
         expect_analysed_and_kept_apart(d, d.netlist, apart, "split and merged back");
         {
           std::unique_ptr<CDB_SGATE_NETLIST> copy(clone_netlist(d.netlist));
           expect_analysed_and_kept_apart(d, copy.get(), apart, "cloned");
         }
         EXPECT_EQ(d.hierarchy->get_netlist(), d.netlist);
         BASEX_ELABORATE_INFO elab;
         NL_CLONE_INFO current;
         elab.install_clone_info(&current);
         elab.install_hierarchy(d.hierarchy);
         NL_CLONE_INFO* record = KAVU_NETLIST_CLONE::clone_from_elab_info(&elab);
         expect_analysed_and_kept_apart(d, record->get_netlist(), apart, "clone record");
         EXPECT_TRUE(KAVU_NETLIST_CLONE::clone_to_elab_info(record, &elab));
         CDB_SGATE_HIERARCHY* put_back = elab.get_current_hierarchy();
         expect_analysed_and_kept_apart(d, put_back->get_netlist(), apart, "copy put back");
         delete put_back->get_netlist();
         delete put_back;
         free_clone_record(elab.get_current_clone_info());
         free_clone_record(record);
         kavu_delete_partition_on_reg_boundary(d.netlist);
         zhd_build("", {{"top", d.hierarchy->get_instance_name(), -1, 0}});
       }},

      {"stuck and ringed registers", SWEEP_CHANGES,
       [](SWEEP_DESIGN& d) {
         kavu_find_dff_rings(d.netlist);
         kavu_find_stuck_hi_or_latch(d.netlist);
         kavu_find_stuck_low_qfbk(d.netlist, 2);
         kavu_find_stuck_hi_qfbk(d.netlist, 2);
       }},
      {"pipeline registers around every register", SWEEP_CHANGES,
       [](SWEEP_DESIGN& d) {
         std::vector<CDB_SGATE_NODE*> registers;
         for (CDB_SGATE_NODE* node : d.netlist->get_node_list())
           if (node && node->get_sgate_type() == CDB_SGATE_DFF_ENUM) registers.push_back(node);
         for (CDB_SGATE_NODE* reg : registers) {
           kavu_add_pipeline_registers_before_node(d.netlist, reg, 1);
           kavu_add_pipeline_registers_after_node(d.netlist, reg, 1);
         }
       }},
      {"asynchronous clears removed", SWEEP_CHANGES,
       [](SWEEP_DESIGN& d) { kavu_disconnect_aclrs_on_everything(d.netlist, true); }},
  };
  return steps;
}

// Runs one step and reports an internal error or a broken netlist as a
// failure naming the step; false when the step failed.
bool run_step(const SWEEP_STEP& step, SWEEP_DESIGN& d) {
  try {
    step.run(d);
  } catch (const test_internal_error& e) {
    ADD_FAILURE() << step.name << ": internal error \"" << e.what() << "\" (" << e.file << ":" << e.line << ")";
    return false;
  }
  std::string report;
  if (!d.netlist->check(&report)) {
    ADD_FAILURE() << step.name << ": the netlist is broken: " << report;
    return false;
  }
  return true;
}

// Writes the netlist, reads the file back and compares the two by
// simulation.
void expect_round_trip(const CDB_SGATE_NETLIST* netlist, const std::string& what) {
  const std::string path = "sweep_round_trip.blif";
  std::string error;
  BLIF_WRITE_OPTIONS options;
  options.full_registers = true;  // asynchronous controls, read back by our reader
  if (!blif_write_file(netlist, path, options, &error)) {
    ADD_FAILURE() << what << ": not written: " << error;
    return;
  }
  BLIF_RESULT back = blif_read_file(path);
  if (!back.netlist) {
    ADD_FAILURE() << what << ": the written file does not read back: " << back.error;
    return;
  }
  std::string why;
  EXPECT_TRUE(sim_equivalent(netlist, back.netlist, {}, &why)) << what << ": read back differs: " << why;
  delete back.netlist;
  delete back.hierarchy;
}

// The compile every step sees: a family with timing-driven synthesis, one
// partition, the design's hierarchy at the top.
class KavuCircuitSweep : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    kavu_ssc_reset_state();
    m_facade.set_base_family(DEV_FAMILY_ENUM(47));
    m_facade.set_family(DEV_FAMILY_ENUM(47));
    ZCU_FACADE_UTIL::get_instance()->set_facade(&m_facade);
    hdb_set_option(hdb_default_namespace(), KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, "on");
  }
  void TearDown() override { kavu_ssc_reset_state(); }

  void sweep(const std::string& path);

  CMP_FACADE m_facade;
  PARTITION_TEST_SCOPE m_partition_scope;
};

void KavuCircuitSweep::sweep(const std::string& path) {
  BLIF_RESULT loaded = blif_read_file(path);
  ASSERT_NE(loaded.netlist, nullptr) << loaded.error;
  LOADED_NETLIST work(loaded.netlist, LOADED_NETLIST_DELETER{loaded.hierarchy});
  zhd_build("", {{"top", loaded.hierarchy->get_instance_name(), -1, 0}});
  std::unique_ptr<CDB_SGATE_NETLIST> golden(clone_netlist(work.get()));
  SWEEP_DESIGN design{work.get(), loaded.hierarchy, &m_facade};

  for (const SWEEP_STEP& step : sweep_steps()) {
    if (step.kind != SWEEP_CHANGES) {
      if (!run_step(step, design)) return;
      if (step.kind == SWEEP_KEEPS) {
        std::string why;
        EXPECT_TRUE(sim_equivalent(golden.get(), work.get(), {4, 8, 1}, &why)) << step.name << ": " << why;
      }
      continue;
    }
    std::unique_ptr<CDB_SGATE_NETLIST> copy(clone_netlist(golden.get()));
    SWEEP_DESIGN changed{copy.get(), nullptr, &m_facade};
    if (run_step(step, changed)) expect_round_trip(copy.get(), step.name);
  }
  std::string why;
  EXPECT_TRUE(sim_equivalent(golden.get(), work.get(), {}, &why)) << "after every pass: " << why;
  expect_round_trip(work.get(), "after every pass");
}

TEST_P(KavuCircuitSweep, NoStepRaisesAnInternalErrorAndBehaviourIsKept) {
  const std::string path = blif_data_path(GetParam());
  ASSERT_FALSE(path.empty()) << GetParam();
  sweep(path);
}

INSTANTIATE_TEST_SUITE_P(Bundled, KavuCircuitSweep, ::testing::ValuesIn(bundled_circuits()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// Files the way generators write them: long chains of buffers whose names
// all have one length, so that names fall across the reader's page edges,
// with every 97th link a register when asked.
std::string generated_chain(int name_length, int gates, bool registers) {
  std::ostringstream out;
  auto name = [&](int i) {
    std::string s = "n" + std::to_string(i);
    return s + std::string(name_length - int(s.size()), 'x');
  };
  out << ".model chain\n.inputs " << (registers ? "clk " : "") << name(0) << "\n.outputs " << name(gates) << "\n";
  for (int i = 1; i <= gates; ++i) {
    if (registers && i % 97 == 0)
      out << ".latch " << name(i - 1) << " " << name(i) << " re clk 0\n";
    else
      out << ".names " << name(i - 1) << " " << name(i) << "\n1 1\n";
  }
  out << ".end\n";
  return out.str();
}

TEST_F(KavuCircuitSweep, GeneratedChainsWithNamesAcrossPageEdges) {
  const struct {
    int length;
    bool registers;
  } chains[] = {{8, false}, {13, false}, {32, false}, {16, true}};
  for (const auto& c : chains) {
    const std::string path = "chain_" + std::to_string(c.length) + (c.registers ? "_regs" : "") + ".blif";
    SCOPED_TRACE(path);
    std::ofstream(path) << generated_chain(c.length, 5000, c.registers);
    sweep(path);
  }
}

}  // namespace
