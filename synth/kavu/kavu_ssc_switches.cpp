// kavu_ssc_switches.cpp — whether each timing-driven step may run, whether
// any option needs timing analysis, and the flattened timing netlist of all
// partitions written before they are synthesized apart.
//
// Per-step table (enable key wins over disable key; "analysis" is
// kavu_ssc_can_run_timing_analysis; a gated step's true answer must also
// pass kavu_ssc_can_run_timing_driven_optimization and then the analysis):
//   step      SPEED                    BALANCED                 area   gate
//   MAST      analysis (fam 14,17,53)  false                    false  no
//   SR        true                     false for 14,17,53       false  yes
//   ROM       true                     false                    false  yes
//   mapper    analysis                 analysis                 false  no
//   opt-fsyn  analysis                 analysis                 false  no
// Each step tags its answer once per library load (or kavu_ssc_reset_state).
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_ssc_int.h"
#include "zhd/zhd.h"

namespace {

enum STEP { STEP_MAST, STEP_SR, STEP_ROM, STEP_MAPPER, STEP_OPT_FSYN, STEP_COUNT };

struct STEP_ROW {
  const char* enable_key;
  const char* disable_key;
  const char* debug_line;
  int tag;
};

const STEP_ROW k_steps[STEP_COUNT] = {
    {"timing_driven_synthesis_enable_mast", "timing_driven_synthesis_disable_mast",
     "Timing-driven MAST is %sallowed", 10},
    {"timing_driven_synthesis_enable_sr_inference", "timing_driven_synthesis_disable_sr_inference",
     "Timing-driven shift-register inference is %sallowed. Absolute threshold is %s", 17},
    {"timing_driven_synthesis_enable_rom_inference", "timing_driven_synthesis_disable_rom_inference",
     "Timing-driven ROM inference is %sallowed", 28},
    {"timing_driven_synthesis_enable_mapper", "timing_driven_synthesis_disable_mapper",
     "Timing-driven mapping is %sallowed", 50},
    {"timing_driven_synthesis_enable_opt_fsyn", "timing_driven_synthesis_disable_opt_fsyn",
     "Timing-driven opt-fsyn is %sallowed", 57},
};

bool options_need_timing_analysis(CMP_FACADE* facade, bool check_delay_model);

bool g_step_tag_once[STEP_COUNT] = {true, true, true, true, true};
int g_tds_opt_j10 = -1;  // enable_tds_opt_j10_or_newer, read once: -1 unread

bool family_is_14_17_53(CMP_FACADE* f) {
  const int fam = f->get_family();
  return fam == 14 || fam == 17 || fam == 53;
}

bool run_step(STEP step, CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  const STEP_ROW& row = k_steps[step];
  const bool enable = cfg_is_on(row.enable_key, false);
  const bool disable = cfg_is_on(row.disable_key, false);
  KAVU_CHECK(facade != 0 && hierarchy != 0);
  const int opt_tech = facade->get_optimization_technique(hierarchy->get_instance_name());
  const bool speed = opt_tech == CMP_OPTIMIZATION_SPEED;
  const bool balanced = opt_tech == CMP_OPTIMIZATION_BALANCED;
  const bool area = opt_tech == CMP_OPTIMIZATION_AREA;
  const bool gated = step == STEP_SR || step == STEP_ROM;
  bool answer = false;
  bool analysis = false;  // the answer is the analysis itself
  if (enable) {
    answer = true;
    analysis = !gated;
  } else if (disable) {
    answer = false;
  } else if (step == STEP_MAPPER || step == STEP_OPT_FSYN) {
    if (!speed && !balanced && !area) KAVU_INTERNAL_ERROR("opt_tech == ACF_ENUM_VALUE_SPEED || opt_tech == ACF_ENUM_VALUE_BALANCED");
    answer = speed || balanced;
    analysis = answer;
  } else {
    if (!speed && !balanced && !area) KAVU_INTERNAL_ERROR("opt_tech == ACF_ENUM_VALUE_SPEED");
    if (step == STEP_MAST) {
      answer = speed && family_is_14_17_53(facade);
      analysis = answer;
    } else if (step == STEP_SR) {
      answer = speed || (balanced && !family_is_14_17_53(facade));
    } else {
      answer = speed;
    }
  }
  if (analysis) answer = kavu_ssc_can_run_timing_analysis(facade, hierarchy);
  if (gated && answer) {
    answer = kavu_ssc_can_run_timing_driven_optimization(facade) && kavu_ssc_can_run_timing_analysis(facade, hierarchy);
  }
  if (step == STEP_SR) kavu_debug(row.debug_line, answer ? "" : "NOT ", "OFF");
  else kavu_debug(row.debug_line, answer ? "" : "NOT ");
  if (g_step_tag_once[step]) {
    tag_it(row.tag, "%s", answer ? "allowed" : "not allowed");
    g_step_tag_once[step] = false;
  }
  return answer;
}

}  // namespace

void kavu_ssc_switches_reset() {
  for (bool& b : g_step_tag_once) b = true;
  g_tds_opt_j10 = -1;
}

bool kavu_ssc_can_run_timing_analysis(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  GEN_PROFILER profiler("KAVU", "kavu_ssc_can_run_timing_analysis");
  KAVU_CHECK(hierarchy != 0);
  return kavu_ssc_can_run_and_initialize(facade, hierarchy, nullptr, true, nullptr);
}

bool kavu_ssc_can_run_timing_driven_optimization(CMP_FACADE* facade) {
  GEN_PROFILER profiler("KAVU", "kavu_ssc_can_run_timing_driven_optimization");
  if (g_tds_opt_j10 < 0) g_tds_opt_j10 = cfg_is_on("enable_tds_opt_j10_or_newer", false) ? 1 : 0;
  KAVU_CHECK(facade);
  const int fam = facade->get_family();
  return !(g_tds_opt_j10 == 0 && (fam == 45 || fam == 25));
}

bool kavu_ssc_can_run_timing_analysis_in_mast(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  return run_step(STEP_MAST, facade, hierarchy);
}

bool kavu_ssc_can_run_timing_analysis_in_sr_inference(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                                      bool* use_absolute_threshold) {
  if (use_absolute_threshold) *use_absolute_threshold = false;
  return run_step(STEP_SR, facade, hierarchy);
}

bool kavu_ssc_can_run_timing_analysis_in_rom_inference(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  return run_step(STEP_ROM, facade, hierarchy);
}

bool kavu_ssc_can_run_timing_analysis_in_mapper(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  return run_step(STEP_MAPPER, facade, hierarchy);
}

bool kavu_ssc_can_run_timing_analysis_in_opt_fsyn(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  return run_step(STEP_OPT_FSYN, facade, hierarchy);
}

bool kavu_ssc_check_register_merge(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, bool check_delay_model) {
  const bool check_key = cfg_is_on("kavu_ssc_check_reg_merge", false);
  const bool dont_check_tds = cfg_is_on("kavu_ssc_dont_check_tds", false);
  auto* option = kavu_ssc_default_section(facade)->get_single_option<1>(KAVU_ACF_PROTECT_SDC_CONSTRAINTS);
  const bool protect = option ? option->get_value() : false;
  bool answer = false;
  if (check_key && !protect) {
    kavu_debug("SSC checking in register merging is enabled by INI");
    answer = true;
  } else if (dont_check_tds) {
    answer = protect;
  } else if (!protect) {
    if (!kavu_ssc_can_run_and_initialize(facade, hierarchy, nullptr, check_delay_model, nullptr)) return false;
    kavu_debug("SSC checking in register merging is enabled because timing-driven synthesis is on");
    answer = true;
  } else {
    // Protection of SDC constraints is on by assignment: merging respects
    // them when the engine may run.
    answer = true;
  }
  if (answer && !kavu_ssc_is_ssc_allowed(facade, hierarchy, nullptr)) {
    kavu_debug("Can't do compatible register check because SSC is not allowed");
    return false;
  }
  return answer;
}

bool kavu_ssc_any_partition_has_gated_clock_conversion() {
  const ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
  if (!design) return false;
  for (const ZHD_PARTITION* p : design->partitions_in_tree_order()) {
    HDB_NAMESPACE* ns = p->get_hdb();
    std::vector<HDB_DERIVED_OPTION<1, 0>*> list;
    if (!ns || ns->get_all_generated_options(KAVU_ACF_GATED_CLOCK_CONVERSION, &list, false) == 0) continue;
    const HDB_INSTANCE_NAME* n = p->get_instance_name();
    kavu_debug("Partition %s has a gated-clock-conversion assignment", n ? n->get_short_hpath(0).c_str() : "");
    return true;
  }
  return false;
}

bool kavu_ssc_options_need_timing_analysis(CMP_FACADE* facade, bool check_delay_model) {
  // A question: its can-run checks post no warning.
  kavu_ssc_quiet_questions(true);
  const bool answer = options_need_timing_analysis(facade, check_delay_model);
  kavu_ssc_quiet_questions(false);
  return answer;
}

namespace {
bool options_need_timing_analysis(CMP_FACADE* facade, bool check_delay_model) {
  if (!kavu_ssc_is_ssc_allowed(facade, nullptr, nullptr)) {
    kavu_debug("Timing-analysis is not allowed due to family or timing analysis engine");
    return false;
  }
  if (kavu_ssc_option_is_on_anywhere(facade, KAVU_ACF_GATE_LEVEL_RETIMING, "retiming")) {
    kavu_debug("Gate-level register retiming is on");
    return true;
  }
  if (kavu_ssc_can_run_and_initialize(facade, nullptr, nullptr, check_delay_model, nullptr)) {
    kavu_debug("Timing-driven synthesis is on");
    return true;
  }
  if (kavu_ssc_check_register_merge(facade, nullptr, check_delay_model)) {
    kavu_debug("Protect-SDC-constraints is on");
    return true;
  }
  if (kavu_ssc_option_is_on_anywhere(facade, KAVU_ACF_GATED_CLOCK_CONVERSION, "gated clock conversion")) {
    kavu_debug("Gated clock conversion is on");
    return true;
  }
  if (kavu_ssc_should_protect_synchronizers(facade, nullptr)) {
    kavu_debug("Synthesis is protecting synchronizers.");
    return true;
  }
  kavu_debug("None of the options that require timing analysis are on");
  return false;
}
}  // namespace

bool kavu_should_write_flattened_tdb_netlist() {
  CMP_FACADE* facade = ZCU_FACADE_UTIL::get_instance()->get_facade();
  if (!kavu_ssc_is_ssc_allowed(facade, nullptr, nullptr)) {
    kavu_debug("No need write flattened netlist because family doesn't allow it or STA is off");
    return false;
  }
  if (!kavu_multiple_partitions_present()) {
    kavu_debug("No need to write flattened netlist because we only have one partition or ZIC is off");
    return false;
  }
  if (kavu_ssc_can_run_timing_driven_optimization(facade)) {
    if (kavu_ssc_options_need_timing_analysis(facade, true)) {
      kavu_debug("Need to write flattened netlist because one or more options requiring timing analysis are on");
      return true;
    }
    kavu_debug("No need to write flattened netlist because SYN-FSYN, TDS, retiming and protect-SDC are not on");
    return false;
  }
  if (kavu_ssc_any_partition_has_gated_clock_conversion()) {
    kavu_debug("Need to write flattened netlist because gated-clock-conversion is on");
    return true;
  }
  kavu_debug("No need to write flattened netlist because nothing needs it");
  return false;
}

namespace {

bool write_flattened_tdb_netlist(CMP_FACADE* facade, std::vector<CDB_SGATE_NETLIST*>& netlists) {
  const bool dump = cfg_is_on("kavu_ssc_dump_tdb", false);
  // Each netlist given records which flattened netlist this compile stored,
  // or that it stored none (one partition, no engine, a failed write): a
  // partition's analysis reads back only that one (kavu_ssc_initialize_tdb_netlist),
  // in this process or in any that reads the netlist from its archive.
  CDB_SGATE_TDB_ORIGIN origin;
  auto record = [&netlists, &origin] {
    for (CDB_SGATE_NETLIST* nl : netlists)
      if (nl) nl->set_tdb_origin(origin);
  };
  if (!kavu_multiple_partitions_present()) {
    kavu_debug("TDB netlist writing to PDB skipped because there is only one partition or ZIC is off");
    record();
    return false;
  }
  if (netlists.empty()) {
    kavu_debug("TDB netlist writing to PDB skipped because we have no netlists that will be synthesized");
    return false;
  }
  if (netlists.size() == 1)
    kavu_debug("Found only one synthesizable partition but writing the flattened TDB netlist anyway");
  SSC_UTIL* timing_manager = ssc_get_util();
  if (!timing_manager) {
    // No engine: nothing can be written (the engine may be absent, as the
    // road allows).
    kavu_debug("TDB netlist writing to PDB failed for some reason");
    record();
    return false;
  }
  KAVU_CHECK(!timing_manager->is_in_use());
  // Nothing is recorded as stored until the write has succeeded.
  record();
  bool ok = timing_manager->initialize_netlist(facade, netlists, SSC_DELAY_MODEL_TABLE);
  if (!ok) {
    kavu_debug("Failed to initialize tdb netlist");
  } else {
    if (dump) timing_manager->dump_tdb_netlist("");
    ok = timing_manager->convert_tdb_netlist_to_string_based();
    if (!ok) {
      kavu_debug("Failed to convert tdb netlist to string-based netlist");
    } else {
      if (dump) timing_manager->dump_tdb_netlist("");
      ok = timing_manager->write_tdb_to_pdb(nullptr);
      if (!ok) kavu_debug("Failed to write tdb netlist to disk");
    }
  }
  if (ok) {
    origin = timing_manager->get_stored_origin();
    record();
  }
  kavu_debug(ok ? "Successfully wrote the TDB netlist to PDB" : "TDB netlist writing to PDB failed for some reason");
  timing_manager->delete_netlist();
  return ok;
}

}  // namespace

bool kavu_write_flattened_tdb_netlist(CMP_FACADE* facade, std::vector<CDB_SGATE_NETLIST*>& netlists) {
  // Memory refused anywhere in the write fails it as the analysis fails;
  // then no netlist records a stored netlist, whatever the refusal
  // interrupted (an earlier compile's record, or this one's half made), so
  // no analysis reads a netlist this compile did not store whole.
  bool finished = false;
  const bool ok = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    const bool written = write_flattened_tdb_netlist(facade, netlists);
    finished = true;
    return written;
  });
  if (!finished) {
    for (CDB_SGATE_NETLIST* nl : netlists)
      if (nl) nl->set_tdb_origin(CDB_SGATE_TDB_ORIGIN());
  }
  return ok;
}

bool kavu_wants_to_run_timing_analysis_but_device_fails(CMP_FACADE* facade) {
  if (!kavu_ssc_options_need_timing_analysis(facade, false)) return false;
  if (ssc_check_delay_model_validity(facade, SSC_DELAY_MODEL_TABLE)) return false;
  kavu_debug("Some options require timing analysis but the delay model failed due to missing device");
  return true;
}
