// kavu_ssc.cpp — timing analysis during synthesis: whether it may run, the
// timing-netlist set-up, the analysis into the caller's map and what runs
// around it (loops made critical, the post-analysis script, LUT delays,
// high-speed registers, the "running" messages).
//
// Set-up order: with several partitions the flattened timing netlist stored
//   by kavu_write_flattened_tdb_netlist for the gate netlist's compile (the
//   netlist records which) is read back (the partition's own, else the
//   generic one) and the current gate netlist stitched into it; with one
//   partition the timing netlist is built from the gate netlist, but not
//   for a partition of a split that meets other partitions at its
//   boundaries (only a stored netlist of the design's partitions times it
//   as the whole design): that is refused.
//   Every failed set-up releases whatever the engine holds, so a failure
//   never leaves a half-built engine for the next set-up to trip over.
// Caches (reset by kavu_ssc_reset_state): the SYNTH_TIMING_DRIVEN_SYNTHESIS
//   answers (one for "any partition", one for the hierarchy asked last),
//   the once-flags of warning 286029, message 286030, tag 70 and the
//   warnings on a timing netlist of an earlier version, on one that lacks a
//   partition's drivers or the readers of its output boundaries, on none
//   usable stored and on a split partition
//   that meets others built alone, the
//   partitions message 286031 was posted for, and the timing engine's
//   record of the constraint-file warnings it posted and the constraint
//   reads it keeps.
// Cost: the engine's analysis dominates (linear per clock); filling the map
//   is O(n log n); the sanity check O(terminals log n).
#include "kavu_ssc.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_check.h"
#include "kavu_depends.h"
#include "kavu_fib_manager.h"
#include "kavu_msg.h"
#include "kavu_setup.h"
#include "kavu_ssc_int.h"
#include "kavu_utility.h"
#include "msg/msg.h"
#include "ztl/ztl_support.h"
#include "zhd/zhd.h"

namespace {

struct TDS_CACHE {
  bool any_valid = false;
  bool any_value = false;
  bool hier_valid = false;
  int hier_id = 0;
  bool hier_value = false;
};

TDS_CACHE g_tds;
bool g_warn_fast_once = true;     // warning 286029
bool g_tag_allowed_once = true;   // tag 70
bool g_running_once = true;       // message 286030
bool g_warn_earlier_version_once = true;  // a timing netlist of an earlier version
bool g_warn_missing_driver_once = true;   // one lacking a partition's drivers or readers
bool g_warn_no_stored_once = true;        // none usable stored
bool g_warn_split_alone_once = true;      // a split partition that meets others, built alone
int g_quiet_questions = 0;       // > 0: can-run checks post nothing
std::vector<int> g_reported_partitions;
int g_last_reported_partition = -1;

const char* on_off(bool b) { return b ? "ON" : "OFF"; }

SSC_UTIL* engine() { return ssc_get_util(); }

}  // namespace

// ---------------------------------------------------------------- shared helpers

void KAVU_SSC_ENGINE_RELEASE::arm_if_free() {
  SSC_UTIL* e = engine();
  if (e && !e->is_in_use()) m_engine = e;
}

void KAVU_SSC_ENGINE_RELEASE::release_now() {
  if (m_engine && m_engine->is_in_use()) m_engine->delete_netlist();
  m_engine = nullptr;
}

void kavu_ssc_post_out_of_memory() {
  try {
    msg_post_message(MSG_POST_TYPE_ERROR, "Timing analysis: not enough memory to complete the analysis");
    kavu_debug("Timing analysis failed: not enough memory");
  } catch (const std::bad_alloc&) {
  }
}

std::string kavu_ssc_hierarchy_path(const CDB_SGATE_HIERARCHY* hierarchy) {
  const HDB_INSTANCE_NAME* n = hierarchy ? hierarchy->get_instance_name() : nullptr;
  return n ? n->get_short_hpath(0) : std::string();
}

HDB_SECTION* kavu_ssc_default_section(CMP_FACADE* facade) {
  HDB_SECTION* default_section = HDB_SECTION::find_section(12, "", facade ? facade->get_namespace() : nullptr);
  KAVU_CHECK(default_section);
  return default_section;
}

bool kavu_ssc_engine_in_use() {
  SSC_UTIL* timing_manager = engine();
  return timing_manager != nullptr && timing_manager->is_in_use();
}

void kavu_ssc_reset_state() {
  g_tds = TDS_CACHE();
  g_warn_fast_once = true;
  g_tag_allowed_once = true;
  g_running_once = true;
  g_warn_earlier_version_once = true;
  g_warn_missing_driver_once = true;
  g_warn_no_stored_once = true;
  g_warn_split_alone_once = true;
  g_reported_partitions.clear();
  g_last_reported_partition = -1;
  kavu_ssc_switches_reset();
  kavu_ssc_sync_reset();
  ssc_forget_posted_warnings();
  ssc_forget_kept_reads();
}

// ---------------------------------------------------------------- settings

bool kavu_ssc_option_is_on_anywhere(CMP_FACADE* facade, int variable, const char* display_name) {
  HDB_NAMESPACE* ns = facade ? facade->get_namespace() : nullptr;
  std::vector<HDB_DERIVED_OPTION<1, 0>*> list;
  if (ns) ns->get_all_generated_options(variable, &list, false);
  if (!list.empty()) kavu_debug_at_level(3, "Found %d settings for %s", int(list.size()), display_name);
  for (HDB_DERIVED_OPTION<1, 0>* option : list) {
    KAVU_CHECK(option->get_variable() == variable);
    if (option->get_value()) {
      kavu_debug("%s is ON on this assignment", display_name);
      return true;
    }
    kavu_debug_at_level(3, "%s is OFF on this assignment", display_name);
  }
  return false;
}

bool kavu_ssc_get_tds_setting(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy) {
  if (!hierarchy) {
    if (g_tds.any_valid) {
      kavu_debug("Re-using setting %s for SYNTH_TIMING_DRIVEN_SYNTHESIS on any partitions", on_off(g_tds.any_value));
      return g_tds.any_value;
    }
    g_tds.any_value = kavu_ssc_option_is_on_anywhere(facade, KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS,
                                                     "timing-driven-synthesis");
    g_tds.any_valid = true;
    kavu_debug("Found setting %s for SYNTH_TIMING_DRIVEN_SYNTHESIS on any partitions", on_off(g_tds.any_value));
    return g_tds.any_value;
  }
  const HDB_INSTANCE_NAME* iname = hierarchy->get_instance_name();
  const int id = HDB_NAME_MGR::get_iname_id(iname);
  const std::string path = kavu_ssc_hierarchy_path(hierarchy);
  if (g_tds.hier_valid && g_tds.hier_id == id) {
    kavu_debug("Reusing previous setting of %s for SYNTH_TIMING_DRIVEN_SYNTHESIS ACF on hierarchy %s",
               on_off(g_tds.hier_value), path.c_str());
    return g_tds.hier_value;
  }
  bool value = false;
  if (auto* own = HDB_DERIVED_OPTION<1, 0>::get_single_option(iname, KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS, true)) {
    value = own->get_value();
    kavu_debug("SYNTH_TIMING_DRIVEN_SYNTHESIS ACF is %s for hierarchy %s", on_off(value), path.c_str());
  } else if (auto* global = kavu_ssc_default_section(facade)->get_single_option<1>(
                 KAVU_ACF_SYNTH_TIMING_DRIVEN_SYNTHESIS)) {
    value = global->get_value();
    kavu_debug("SYNTH_TIMING_DRIVEN_SYNTHESIS ACF is %s globally (when checking hierarchy %s)", on_off(value),
               path.c_str());
  } else {
    kavu_debug("No setting for SYNTH_TIMING_DRIVEN_SYNTHESIS ACF on hierarchy %s, defaulting to OFF", path.c_str());
  }
  g_tds.hier_valid = true;
  g_tds.hier_id = id;
  g_tds.hier_value = value;
  return value;
}

bool kavu_ssc_is_ssc_allowed(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, bool* flag) {
  KAVU_CHECK(facade);
  const bool disabled = cfg_is_on("kavu_disable_ssc", false);
  const bool forced = cfg_is_on("kavu_force_ssc", false);
  if (flag) *flag = false;
  const DEV_FAMILY_ENUM family = facade->get_family();
  bool allowed = !disabled && DEV_FAMILY_MANAGER::test_trait_of(family, 31);
  if (!allowed && forced) {
    kavu_debug("Forcing timing-driven synthesis ON by INI");
    allowed = true;
  }
  const bool quellin = cfg_is_on("quellin_timing_driven_synthesis", true);
  const bool harrowdale = cfg_is_on("hwd_timing_driven_synthesis", true);
  if (allowed) {
    if (family == 45 && !quellin) {
      kavu_debug("Timing-driven synthesis doesn't work yet for Quellin");
      allowed = false;
    } else if (family == 25 && !harrowdale) {
      kavu_debug("Timing-driven synthesis does not work for Harrowdale");
      allowed = false;
    }
  }
  if (g_tag_allowed_once) {
    g_tag_allowed_once = false;
    tag_it(70, "%s", kavu_ssc_skip_sdc_load && family != 47 ? "not allowed" : "allowed");
  }
  // Timing needs the whole netlist of the hierarchy: a partition that works
  // on an extracted sub-netlist of its new gates, or a partition recompile,
  // has only part of it.
  if (allowed && hierarchy && kavu_has_fib_manager()) {
    KAVU_FIB_MANAGER& manager = kavu_use_fib_manager();
    if (manager.is_hierarchy_using_subnet(hierarchy) || manager.is_in_zhd_recompile_mode()) {
      kavu_debug("Not allowing anything needing the TDB netlist for hierarchy %s due to LLIS",
                 kavu_ssc_hierarchy_path(hierarchy).c_str());
      allowed = false;
    }
  }
  return allowed;
}

// ---------------------------------------------------------------- timing netlist

namespace {

// The gate path of a timing node's name ("<gate path>/<port>#<slot>").
std::string gate_path_of_node(const std::string& node) {
  const size_t slash = node.rfind('/');
  return slash == std::string::npos ? node : node.substr(0, slash);
}

// Several partitions and no stored flattened timing netlist this netlist's
// compile made can be read: told once per compile, with what to do.
void kavu_ssc_warn_no_stored_netlist() {
  if (!g_warn_no_stored_once) return;
  g_warn_no_stored_once = false;
  msg_post_message(MSG_POST_TYPE_WARNING,
                   "Timing analysis can't run: the design has several partitions and the database holds no "
                   "flattened timing netlist stored for this compile (none was stored, or a later store replaced "
                   "it); store it after the design is partitioned, before its partitions are synthesized");
}

// The boundary gates at which a partition netlist of a split meets other
// partitions: a cut input boundary (marked cut, its input left unconnected)
// whose recorded driver is not the output of an output boundary of this
// netlist, and a cut output boundary that no cut input boundary of this
// netlist records as its driver. A timing netlist built from this netlist
// alone joins only the pairs it holds (as SSC_NETLIST_DATA::build does, the
// record compared as a pointer, never followed, or where a partition read
// back from its archive knows it by number alone, by the driver's debug
// number and output slot), so every path through one of these is lost.
// A netlist never split (split labelling 0), or one whose boundaries were
// joined again, has none.
struct SPLIT_CROSSINGS {
  const CDB_SGATE_NODE* first = nullptr;  // in node order
  size_t count = 0;
};

// No input of the gate is connected (neither driven nor tied): the split
// cut an input boundary's input so.
bool inputs_unconnected(const CDB_SGATE_NODE* g) {
  for (unsigned i = 0; i < g->get_number_of_input_terms(); ++i)
    if (const CDB_SGATE_ITERM* t = g->get_input_term(i); t && t->is_connected()) return false;
  return true;
}

SPLIT_CROSSINGS split_crossings(const CDB_SGATE_NETLIST* netlist) {
  SPLIT_CROSSINGS crossings;
  if (!netlist || netlist->get_split_labelling() == 0) return crossings;
  // One walk of the gates finds the cut boundaries (in node order), the
  // outputs of the output boundaries and the drivers the input boundaries
  // record; the boundaries alone are then judged.
  // A terminal is keyed by its pointer where the record holds one, else by
  // (debug number << 32 | output slot) with the top bit set.
  typedef std::pair<uint64_t, const void*> DRIVER_KEY;
  auto key_of_output = [](const CDB_SGATE_BOUNDARY* b, bool by_number) {
    return by_number ? DRIVER_KEY(uint64_t(1) << 63 | uint64_t(b->get_debug_number()) << 32, nullptr)
                     : DRIVER_KEY(0, b->get_output_term(0));
  };
  auto key_of_driver = [](const CDB_SGATE_BOUNDARY* b) {
    unsigned debug = 0, slot = 0;
    if (b->get_fed_by()) return DRIVER_KEY(0, b->get_fed_by());
    if (b->get_fed_by_number(&debug, &slot))
      return DRIVER_KEY(uint64_t(1) << 63 | uint64_t(debug) << 32 | slot, nullptr);
    return DRIVER_KEY(0, nullptr);
  };
  std::vector<const CDB_SGATE_BOUNDARY*> cut;
  std::vector<DRIVER_KEY> outputs;
  std::vector<DRIVER_KEY> joined;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    const CDB_SGATE_BOUNDARY* b = *it ? (*it)->cast_to_boundary() : nullptr;
    if (!b || !b->is_cut()) continue;
    if (b->get_direction() == CDB_BOUNDARY_OUTPUT) {
      cut.push_back(b);
      if (b->get_output_term(0)) {
        outputs.push_back(key_of_output(b, false));
        outputs.push_back(key_of_output(b, true));
      }
    } else if (b->get_direction() == CDB_BOUNDARY_INPUT && inputs_unconnected(b)) {
      cut.push_back(b);
      if (const DRIVER_KEY k = key_of_driver(b); k != DRIVER_KEY(0, nullptr)) joined.push_back(k);
    }
  }
  std::sort(outputs.begin(), outputs.end(), std::less<>());
  std::sort(joined.begin(), joined.end(), std::less<>());
  // Joined where the driver recorded is an output here, and an output is
  // joined where some input's record names it, by pointer or by number.
  auto holds = [](const std::vector<DRIVER_KEY>& v, const DRIVER_KEY& k) {
    return k != DRIVER_KEY(0, nullptr) && std::binary_search(v.begin(), v.end(), k, std::less<>());
  };
  for (const CDB_SGATE_BOUNDARY* b : cut) {
    const bool crosses =
        b->get_direction() == CDB_BOUNDARY_OUTPUT
            ? !b->get_output_term(0) ||
                  !(holds(joined, key_of_output(b, false)) || holds(joined, key_of_output(b, true)))
            : !holds(outputs, key_of_driver(b));
    if (!crosses) continue;
    if (!crossings.first) crossings.first = b;
    ++crossings.count;
  }
  return crossings;
}

}  // namespace

bool kavu_multiple_partitions_present() {
  const bool has_design = ZHD_ROOT::get().has_design();
  if (!has_design) KAVU_INTERNAL_ERROR("ZHD_ROOT::get().has_design()");
  return ZHD_ROOT::get().get_design("")->get_partition_count() > 1;
}

bool kavu_ssc_initialize_tdb_netlist(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                     SSC_DELAY_MODEL model, SSC_OTERM_PAIR_VECTOR* duplicate_oterms,
                                     bool check_partitions) {
  const bool dump = cfg_is_on("kavu_ssc_dump_tdb", false);
  const bool per_partition = cfg_is_on("kavu_ssc_write_netlist_per_partition", true);
  KAVU_CHECK(!check_partitions || (hierarchy != 0));
  SSC_UTIL* timing_manager = engine();
  KAVU_CHECK((timing_manager != 0) && !timing_manager->is_in_use());
  // The flattened netlist is read back only for a gate netlist whose
  // compile stored one (it records which on the netlists it was given), and
  // only that one: a file another compile left, or one whose write failed,
  // is none. With one partition the netlist is built afresh.
  const bool stored = check_partitions && netlist && netlist->get_tdb_origin().stored &&
                      kavu_multiple_partitions_present() && TDB_MANAGER::get()->sgate_sta_netlist_on_disk(nullptr);
  if (stored) {
    const ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
    KAVU_CHECK(design);
    const ZHD_PARTITION* partition = design->get_partition_of(hierarchy->get_instance_name());
    std::string name = partition->get_name();
    const bool is_top = partition->is_top();
    kavu_debug("Partition name is %s", name.c_str());
    bool loaded_generic = false;
    bool ok = timing_manager->read_tdb_from_pdb(&name, netlist);
    if (ok) {
      kavu_debug("Read the partition-specific tdb netlist from disk (partition %s)", name.c_str());
    } else {
      kavu_debug("Failed to get the partition-specific tdb netlist from disk (partition %s). Trying the generic one",
                 name.c_str());
      ok = timing_manager->read_tdb_from_pdb(nullptr, netlist);
      loaded_generic = true;
    }
    if (!ok) kavu_debug("Failed to read tdb netlist from disk");
    if (ok && dump) {
      kavu_debug("Dumping netlist after reading from disk");
      timing_manager->dump_tdb_netlist("");
    }
    if (ok) {
      ok = timing_manager->build_tdb_sub_and_merge(netlist, model, is_top, duplicate_oterms, per_partition,
                                                   loaded_generic, &name);
      if (ok && dump) {
        kavu_debug("Dumping netlist after stitching");
        timing_manager->dump_tdb_netlist("");
      } else if (!ok) {
        kavu_debug("Failed to stitch tdb netlist for current partition into flattened tdb netlist");
        // The stored netlist lacks what drives this netlist from other
        // partitions (stored before the design was partitioned, or from
        // other netlists): every path from there would be lost.
        // So does one that lacks the readers of an output boundary that
        // other partitions read (stored before the labelling, or for
        // another partitioning): every path from here through it would be
        // lost. One warning per compile tells either.
        const std::vector<std::string>& lost = timing_manager->get_unstitched();
        const std::vector<std::string>& unread = timing_manager->get_unread();
        if (!lost.empty() || !unread.empty()) {
          const bool inputs = !lost.empty();
          const std::vector<std::string>& named = inputs ? lost : unread;
          kavu_debug("Timing analysis can't run because the TDB netlist holds no %s of %s (%d in all)",
                     inputs ? "driver" : "reader", named.front().c_str(), int(named.size()));
          if (g_warn_missing_driver_once) {
            g_warn_missing_driver_once = false;
            std::string text = std::string("Timing analysis can't run: the flattened timing netlist in the database "
                                           "holds no ") +
                               (inputs ? "driver" : "reader") + " of \"" +
                               kavu_platform::msg_printable_text(gate_path_of_node(named.front()), 256, true) + "\"";
            if (named.size() > 1)
              text += " and " + std::to_string(named.size() - 1) +
                      (inputs ? " more input(s) of the partition" : " more output(s) of the partition");
            text += inputs ? ", which other partitions drive" : ", which other partitions read";
            if (inputs && !unread.empty())
              text += ", nor a reader of " + std::to_string(unread.size()) + " output(s) of the partition";
            text += "; store it after the design is partitioned";
            msg_post_message(MSG_POST_TYPE_WARNING, text);
          }
        }
      }
    } else {
      // Nothing this netlist's compile stored can be read (another store
      // replaced it, or its last write failed): refused, as with none.
      kavu_ssc_warn_no_stored_netlist();
    }
    if (!ok && timing_manager->is_in_use()) timing_manager->delete_netlist();
    return ok;
  }
  if (check_partitions && kavu_multiple_partitions_present()) {
    // A generic netlist an earlier version of the library stored tells no
    // compile, nor does a partition archived by an earlier version, whatever
    // generic netlist lies beside it: the user is told to compile again
    // (once per compile).
    // Otherwise nothing this compile stored is there (none was stored, or
    // another store replaced it): the user is told that too.
    const int version = TDB_MANAGER::get()->sgate_sta_netlist_version(nullptr);
    const bool archived_before = netlist && !netlist->get_tdb_origin().known;
    if (version > 0 && (version < SSC_TDB_FILE_VERSION || archived_before)) {
      if (g_warn_earlier_version_once)
        msg_post_message(MSG_POST_TYPE_WARNING,
                         "Timing analysis can't run: the flattened timing netlist in the database was stored by an "
                         "earlier version of the library; compile the design again");
      g_warn_earlier_version_once = false;
    } else {
      kavu_ssc_warn_no_stored_netlist();
    }
    kavu_debug("Timing analysis can't run because TDB netlist wasn't written to disk");
    return false;
  }
  // Built from this netlist alone: a partition of a split that meets other
  // partitions at its boundaries would lose every path from and to them,
  // and its figures would be optimistic. Only a flattened timing netlist
  // stored from the design's partitions times it as the whole design, and a
  // design of one partition stores none (nor is one read without the
  // partitions checked): refused, told once per compile.
  if (const SPLIT_CROSSINGS crossings = split_crossings(netlist); crossings.count > 0) {
    const std::string path = crossings.first->get_string_hpath();
    kavu_debug("Timing analysis can't run because the split partition meets other partitions at %s (%d boundary "
               "gates in all) and no timing netlist stored from the design's partitions is read",
               path.c_str(), int(crossings.count));
    if (g_warn_split_alone_once) {
      g_warn_split_alone_once = false;
      const bool one_partition =
          check_partitions || !ZHD_ROOT::get().has_design() || !kavu_multiple_partitions_present();
      std::string text = "Timing analysis can't run: this partition of a design split for parallel synthesis meets "
                         "other partitions at \"" +
                         kavu_platform::msg_printable_text(path, 256, true) + "\"";
      if (crossings.count > 1) text += " and " + std::to_string(crossings.count - 1) + " more boundary gate(s)";
      text += ", and a split partition is timed only against a flattened timing netlist stored from the design's "
              "partitions, which ";
      text += one_partition ? "a design of one partition does not store"
                            : "an analysis that does not check the design's partitions does not read";
      text += "; time the design before it is split";
      msg_post_message(MSG_POST_TYPE_WARNING, text);
    }
    return false;
  }
  const bool ok = timing_manager->initialize_netlist(facade, netlist, model, duplicate_oterms);
  if (!ok) {
    kavu_debug("Failed to initialize tdb netlist for given netlist (no partitions)");
    // A failed build releases whatever the engine holds, as the read and
    // stitch branch does: the next set-up must find the engine free.
    if (timing_manager->is_in_use()) timing_manager->delete_netlist();
  }
  return ok;
}

void kavu_ssc_quiet_questions(bool on) { g_quiet_questions += on ? 1 : -1; }

bool kavu_ssc_can_run_and_initialize(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                     CDB_SGATE_NETLIST* sgate_netlist, bool initialize,
                                     SSC_OTERM_PAIR_VECTOR* duplicate_oterms) {
  GEN_PROFILER profiler("KAVU", "kavu_ssc_can_run_timing_analysis");
  KAVU_CHECK((sgate_netlist == 0) || (hierarchy != 0));
  CDB_SGATE_NETLIST* netlist = sgate_netlist;
  bool result = false;
  // The warning's once-flag is spent by the first check that is not a
  // mere question (see kavu_ssc_quiet_questions).
  const bool quiet = g_quiet_questions > 0;
  if (!kavu_ssc_get_tds_setting(facade, hierarchy)) {
    if (!quiet) g_warn_fast_once = false;
    return false;
  }
  bool flag = false;
  if (!kavu_ssc_is_ssc_allowed(facade, hierarchy, &flag)) {
    kavu_debug("Timing analysis can't run for the current family");
    if (!quiet) g_warn_fast_once = false;
    return false;
  }
  if (auto* effort = kavu_ssc_default_section(facade)->get_single_option<6>(KAVU_ACF_SYNTHESIS_EFFORT)) {
    const int value = effort->get_value();
    if (value == KAVU_SYNTHESIS_EFFORT_FAST) {
      kavu_debug("Use the FAST RTL script by ACF");
      kavu_debug("Timing analysis can't run because synthesis effort is set to fast");
      if (g_warn_fast_once && !quiet) {
        std::unique_ptr<MSG_W> w(kavu_msg_timing_driven_synthesis_skipped_for_fast_synthesis());
        w->post();
      }
      if (!quiet) g_warn_fast_once = false;
      return false;
    }
    if (value != KAVU_SYNTHESIS_EFFORT_AUTO) KAVU_INTERNAL_ERROR("Unexpected value for SYNTHESIS_EFFORT setting");
  }
  if (hierarchy && !((hierarchy->get_parent() == 0) && hierarchy->get_children().empty()))
    KAVU_INTERNAL_ERROR("(hierarchy->get_parent() == 0) && hierarchy->empty_children_list()");
  if (!netlist) result = initialize ? ssc_check_delay_model_validity(facade, SSC_DELAY_MODEL_TABLE) : true;
  else
    result = kavu_ssc_initialize_tdb_netlist(facade, hierarchy, netlist, SSC_DELAY_MODEL_TABLE, duplicate_oterms, true);
  if (!result) kavu_debug("Timing analysis can't run because SSC failed to initialize");
  else kavu_debug_at_level(3, "Timing analysis can run");
  if (!quiet) g_warn_fast_once = false;
  return result;
}

void kavu_ssc_delete_tdb_netlist() {
  SSC_UTIL* timing_manager = engine();
  KAVU_CHECK(timing_manager!=0 && timing_manager->is_in_use());
  timing_manager->delete_netlist();
}

TDB_NETLIST* kavu_ssc_get_tdb_netlist() {
  SSC_UTIL* timing_manager = engine();
  KAVU_CHECK(timing_manager!=0 && timing_manager->is_in_use());
  TDB_NETLIST* tdb_netlist = TDB_MANAGER::get()->get_tdb_netlist();
  KAVU_CHECK(tdb_netlist != 0);
  return tdb_netlist;
}

// ---------------------------------------------------------------- around the analysis

void kavu_ssc_report_timing_driven_synthesis_running(CDB_SGATE_HIERARCHY* hierarchy) {
  if (ZHD_ROOT::get().has_design() && kavu_multiple_partitions_present()) {
    if (!hierarchy) return;
    const int id = kavu_get_partition_id(hierarchy->get_instance_name());
    if (id == g_last_reported_partition ||
        std::find(g_reported_partitions.begin(), g_reported_partitions.end(), id) != g_reported_partitions.end())
      return;
    std::string name = kavu_get_partition_name(hierarchy);
    kavu_debug("Partition name is %s", name.c_str());
    if (const ZHD_PARTITION* p = ZHD_ROOT::get().get_design("")->get_partition_by_name(name)) name = p->get_name();
    std::unique_ptr<MSG_I> m(kavu_msg_timing_driven_synthesis_running_on_partition(name));
    m->post();
    g_reported_partitions.push_back(id);
    g_last_reported_partition = id;
    return;
  }
  if (g_running_once) {
    g_running_once = false;
    std::unique_ptr<MSG_I> m(kavu_msg_timing_driven_synthesis_running());
    m->post();
  }
}

void kavu_ssc_make_loops_critical(CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* timing_info_map) {
  std::vector<CDB_SGATE_ITERM*> iterms;
  std::vector<CDB_SGATE_OTERM*> oterms;
  kavu_find_all_loop_terms(netlist, &iterms, &oterms);
  for (CDB_SGATE_ITERM* t : iterms) {
    auto it = timing_info_map->find(t);
    if (it == timing_info_map->end()) continue;
    it->second.m_ratio = 0.0f;
    it->second.m_slack = 0;
  }
}

void kavu_ssc_timing_sanity_check(CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* timing_info_map) {
  bool all_present = true;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    for (unsigned i = 0; i < node->get_number_of_input_terms(); ++i) {
      CDB_SGATE_ITERM* t = node->get_input_term(i);
      if (!t || !cdb_is_connected(t) || !t->get_source()) continue;
      if (timing_info_map->count(t)) continue;
      kavu_debug("INSANE: There is no timing info for iterm %d on sgate %s %s in the timing info map", int(i),
                 node->get_string_type_name(), node->get_debug_name().c_str());
      all_present = false;
    }
  }
  KAVU_CHECK(all_present);
}

namespace {

bool perform_timing_analysis(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                             SSC_ITERM_TIMING_INFO_MAP* timing_info_map, SSC_OTERM_PAIR_VECTOR* duplicate_oterms,
                             int* default_lut_delay, double* avg_lut_delay, bool delete_tdb_netlist,
                             SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map, bool use_relaxed_slack,
                             KAVU_SSC_ENGINE_RELEASE& release) {
  const bool sanity = cfg_is_on("kavu_timing_analysis_sanity_check", false);
  const bool dump = cfg_is_on("kavu_ssc_dump_tdb", false);
  kavu_debug("kavu_ssc_perform_timing_analysis called with duplicate_oterms 0x%lx default_lut_delay 0x%lx "
             "avg_lut_delay 0x%lx delete_tdb_netlist %s requirement_info_map 0x%lx use_relaxed_slack %s",
             (unsigned long)duplicate_oterms, (unsigned long)default_lut_delay, (unsigned long)avg_lut_delay,
             delete_tdb_netlist ? "on" : "off", (unsigned long)requirement_info_map, use_relaxed_slack ? "on" : "off");
  GEN_PROFILER profiler("KAVU", "kavu_ssc_perform_timing_analysis", 0x7ffffeff);
  ZTL_PROFILER ztl_profiler("KAVU", "kavu_ssc_perform_timing_analysis", -1, true);
  KAVU_CHECK(timing_info_map);
  // An engine free at the start holds only this analysis's netlist once
  // set up: any early exit from here releases it (`release`). One in use by
  // another caller stays so; the set-up refuses it.
  if (cdb_sgate_synthesis_is_running_in_parallel()) {
    kavu_debug("Can't run timing analysis during auto parallel");
    kavu_debug("Timing analysis failed");
    return false;
  }
  if (!kavu_ssc_can_run_and_initialize(facade, hierarchy, netlist, true, duplicate_oterms)) {
    kavu_debug("Timing analysis failed");
    return false;
  }
  SSC_UTIL* timing_manager = engine();
  KAVU_CHECK(timing_manager!=0 && timing_manager->is_in_use());
  bool relaxed_option = false;
  bool identify = kavu_ssc_get_high_speed_reg_options(facade, hierarchy, &relaxed_option);
  if (netlist->get_high_speed_registers() != nullptr) identify = false;
  if (relaxed_option && !use_relaxed_slack) identify = false;
  std::unique_ptr<SSC_ITERM_REQUIREMENT_INFO_MAP> own_requirements;
  SSC_ITERM_REQUIREMENT_INFO_MAP* requirements = requirement_info_map;
  if (!requirements && identify) {
    own_requirements = std::make_unique<SSC_ITERM_REQUIREMENT_INFO_MAP>();
    requirements = own_requirements.get();
  }
  // The engine's answer is checked: a failed analysis (unreadable
  // constraints) is a failure of this call, and nothing stays held.
  if (!timing_manager->perform_timing_analysis(netlist, timing_info_map, requirements, use_relaxed_slack)) {
    kavu_debug("Timing analysis failed");
    return false;
  }
  kavu_debug("Found %d iterms with timing info", int(timing_info_map->size()));
  if (cfg_is_on("kavu_make_loops_critical", false) && cfg_is_on("kavu_tds_make_loops_critical", true))
    kavu_ssc_make_loops_critical(netlist, timing_info_map);
  timing_manager->run_script_if_allowed("post_timing_analysis.tcl");
  if (dump) timing_manager->dump_tdb_netlist("");
  if (default_lut_delay) *default_lut_delay = timing_manager->get_default_lut_delay();
  if (avg_lut_delay) *avg_lut_delay = timing_manager->compute_average_lut_delay(netlist);
  if (sanity) kavu_ssc_timing_sanity_check(netlist, timing_info_map);
  if (delete_tdb_netlist) timing_manager->delete_netlist();
  if (identify) {
    if (delete_tdb_netlist) {
      kavu_ssc_identify_high_speed_registers(netlist, requirements, timing_info_map);
    } else {
      kavu_debug("Not getting high-speed registers yet as it relies on the name mgr to point to the right "
                 "partition, and that doesn't work when the TDB netlist exists");
    }
  }
  kavu_ssc_report_timing_driven_synthesis_running(hierarchy);
  // Kept for the caller (delete_tdb_netlist off) only on success.
  release.disarm();
  return true;
}

}  // namespace

bool kavu_ssc_perform_timing_analysis(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                      SSC_ITERM_TIMING_INFO_MAP* timing_info_map,
                                      SSC_OTERM_PAIR_VECTOR* duplicate_oterms, int* default_lut_delay,
                                      double* avg_lut_delay, bool delete_tdb_netlist,
                                      SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map, bool use_relaxed_slack) {
  // Memory refused anywhere in the analysis fails the call with the
  // failure posted, as the engine's own refusals do; the engine is released
  // whatever way the analysis leaves, so the caller's next analysis finds
  // it free.
  return kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE& release) {
    return perform_timing_analysis(facade, hierarchy, netlist, timing_info_map, duplicate_oterms, default_lut_delay,
                                   avg_lut_delay, delete_tdb_netlist, requirement_info_map, use_relaxed_slack,
                                   release);
  });
}
