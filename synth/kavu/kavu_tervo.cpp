// kavu_tervo.cpp — the estimator registry and the table timing model.
#include <memory>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_device_select.h"
#include "kavu_msg.h"
#include "kavu_setup.h"
#include "kavu_ssc_int.h"
#include "kavu_tervo.h"
#include "zhd/zhd.h"

namespace {

typedef TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES> ESTIMATOR;

ESTIMATOR* g_current = nullptr;  // registry mode: a view into the hash
ESTIMATOR* g_single = nullptr;   // single mode: owned here
CSU_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>* g_model = nullptr;

// Removes the entry of that name and destroys its estimator; the current
// pointer never outlives the estimator it names.
void erase_entry(const std::string& name) {
  KAVU_TERVO_ESTIMATOR_HASH& hash = kavu_tervo_estimator_hash();
  auto it = hash.find(name);
  if (it == hash.end()) return;
  ESTIMATOR* old = it->second;
  if (g_current == old) g_current = nullptr;
  it->second = nullptr;
  hash.erase(name);
  delete old;
}

void destroy_single() {
  delete g_single;
  g_single = nullptr;
}

}  // namespace

std::string kavu_get_partition_name_of_hierarchy(CDB_SGATE_HIERARCHY* hierarchy) {
  if (!hierarchy) return std::string();
  const ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
  KAVU_CHECK(design);
  const ZHD_PARTITION* partition = design->get_partition_of(hierarchy->get_instance_name());
  KAVU_CHECK(partition && partition->get_instance_name());
  return partition->get_instance_name()->get_short_hpath(0);
}

namespace {

// Everything that can fail comes before the estimator is registered: a
// registered estimator is a whole one, and the call that made it succeeds.
bool initialize_tervo_estimator(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                SSC_ITERM_TIMING_INFO_MAP* timing_info_map, int* default_lut_delay,
                                SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map, bool use_relaxed_slack) {
  if (g_single) KAVU_INTERNAL_ERROR("Tervo is already initialized!");
  if (kavu_use_tervo_estimator_map) kavu_debug(" Use Tervo estimator map");
  SSC_ITERM_TIMING_INFO_MAP local;
  SSC_ITERM_TIMING_INFO_MAP* map = timing_info_map ? timing_info_map : &local;
  if (!kavu_ssc_perform_timing_analysis(facade, hierarchy, netlist, map, nullptr, default_lut_delay, nullptr, false,
                                        requirement_info_map, use_relaxed_slack)) {
    kavu_debug("Real timing analysis unsuccessful - not initializing Tervo estimator");
    return false;
  }
  kavu_debug("Real timing analysis successful - initializing Tervo estimator");
  TDB_NETLIST* tdb_netlist = kavu_ssc_get_tdb_netlist();
  KAVU_CHECK(tdb_netlist != NULL);
  const ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
  const bool flattened = TDB_MANAGER::get()->sgate_sta_netlist_on_disk(nullptr) ||
                         (design && design->get_partition_count() > 1);
  csu_set_default_family(facade->get_family());
  auto estimator = std::make_unique<ESTIMATOR>();
  if (!estimator->initialize(netlist, tdb_netlist, flattened)) {
    // The estimator's own reading of the analysis failed (memory refused
    // to it, for one; the engine posts why): an estimator without its
    // slacks would call every terminal unconstrained. Nothing is
    // registered, and an estimator made before for the partition stays.
    kavu_debug("Tervo estimator could not take the timing analysis - not initializing Tervo estimator");
    kavu_ssc_delete_tdb_netlist();
    return false;
  }
  const std::string name = estimator->get_partition_name();
  if (!kavu_use_tervo_estimator_map) {
    kavu_debug("Tervo estimator for partition %s is created.", name.c_str());
    g_single = estimator.release();
  } else {
    KAVU_TERVO_ESTIMATOR_HASH& hash = kavu_tervo_estimator_hash();
    if (hash.find(name) != hash.end()) {
      kavu_debug("Tervo estimator delete old entry for partition %s", name.c_str());
      erase_entry(name);
    }
    kavu_debug("Tervo estimator insert new entry for partion %s", name.c_str());
    kavu_debug("Tervo estimator pointer is set for partition %s ", name.c_str());
    ESTIMATOR*& entry = hash[name];  // the estimator is still owned here
    entry = estimator.release();
    g_current = entry;
  }
  kavu_ssc_delete_tdb_netlist();
  return true;
}

}  // namespace

bool kavu_initialize_tervo_estimator(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                     SSC_ITERM_TIMING_INFO_MAP* timing_info_map, int* default_lut_delay,
                                     SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map, bool use_relaxed_slack,
                                     SSC_OTERM_PAIR_VECTOR*, double*) {
  // Memory refused anywhere fails the call as it fails the analysis: no
  // estimator is made and the timing netlist is released.
  return kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    return initialize_tervo_estimator(facade, hierarchy, netlist, timing_info_map, default_lut_delay,
                                      requirement_info_map, use_relaxed_slack);
  });
}

bool kavu_initialize_or_reuse_tervo_estimator(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                              CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* timing_info_map,
                                              int* default_lut_delay,
                                              SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map,
                                              bool use_relaxed_slack, SSC_OTERM_PAIR_VECTOR* duplicate_oterms,
                                              double* avg_lut_delay) {
  // Memory refused while the partition is named fails the call as the
  // set-up fails.
  bool reused = false;
  const bool asked = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    const std::string name = kavu_get_partition_name_of_hierarchy(hierarchy);
    kavu_debug("Check if Tervo estimator for partition %s exists.", name.c_str());
    reused = kavu_is_tervo_estimator_initialized(name);
    if (reused)
      kavu_debug("Tervo estimator for partition %s is already initialized and ready - reusing estimator", name.c_str());
    else
      kavu_debug("Tervo estimator has not been initialized for partition %s yet - initializing a new Tervo estimator",
                 name.c_str());
    return true;
  });
  if (!asked) return false;
  if (reused) return true;
  return kavu_initialize_tervo_estimator(facade, hierarchy, netlist, timing_info_map, default_lut_delay,
                                         requirement_info_map, use_relaxed_slack, duplicate_oterms, avg_lut_delay);
}

bool kavu_is_tervo_estimator_initialized(std::string partition_name) {
  if (kavu_use_tervo_estimator_map) {
    auto it = kavu_tervo_estimator_hash().find(partition_name);
    ESTIMATOR* e = it == kavu_tervo_estimator_hash().end() ? nullptr : it->second;
    if (e) kavu_debug("Get TERVO estimator for partition %s", partition_name.c_str());
    else kavu_debug("Get TERVO estimator for partition %s - doesn't exist", partition_name.c_str());
    g_current = e;
    if (e) kavu_debug("Tervo estimator is set for partition %s", partition_name.c_str());
    else kavu_debug("Tervo estimator is set NULL for partition %s", partition_name.c_str());
    return e != nullptr;
  }
  if (g_single && !g_single->initialized_for_partition(partition_name)) destroy_single();
  return g_single != nullptr;
}

TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>* kavu_get_tervo_estimator() {
  return kavu_use_tervo_estimator_map ? g_current : g_single;
}

namespace {

void cleanup_tervo_estimator(CDB_SGATE_HIERARCHY* hierarchy) {
  if (!kavu_use_tervo_estimator_map) {
    if (g_single) {
      const std::string name = g_single->get_partition_name();
      kavu_debug("Cleaning up the Tervo estimator for partition %s", name.c_str());
      destroy_single();
    }
    return;
  }
  if (!hierarchy) return;
  const std::string name = kavu_get_partition_name_of_hierarchy(hierarchy);
  if (kavu_tervo_estimator_hash().find(name) == kavu_tervo_estimator_hash().end()) return;
  kavu_debug("Cleaning up the Tervo estimator for partition %s", name.c_str());
  erase_entry(name);
}

// Destroys every estimator of the registry, allocating nothing.
void drop_registry() {
  KAVU_TERVO_ESTIMATOR_HASH& hash = kavu_tervo_estimator_hash();
  for (auto it = hash.begin(); it != hash.end(); ++it) {
    delete it->second;
    it->second = nullptr;
  }
  hash.clear();
  g_current = nullptr;
}

}  // namespace

void kavu_cleanup_tervo_estimator(CDB_SGATE_HIERARCHY* hierarchy) {
  // Memory refused while the partition is named fails the clean-up with
  // the failure posted. The estimator it was to destroy cannot be told from
  // the others then: every estimator goes, so that none made for an earlier
  // netlist is reused; a later set-up makes them again.
  const bool cleaned = kavu_ssc_guard_memory(false, [&](KAVU_SSC_ENGINE_RELEASE&) {
    cleanup_tervo_estimator(hierarchy);
    return true;
  });
  if (cleaned) return;
  if (kavu_use_tervo_estimator_map) drop_registry();
  else destroy_single();
}

void kavu_release_tervo_estimator_hash() {
  KAVU_TERVO_ESTIMATOR_HASH& hash = kavu_tervo_estimator_hash();
  for (auto it = hash.begin(); it != hash.end(); ++it)
    kavu_debug("Cleaning up the Tervo estimator for partition %s", it->first.c_str());
  drop_registry();
}

CSU_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>* kavu_get_or_create_tervo_timing_model(KAVU_TERVO_TIMING_MODEL_TYPE type,
                                                                               CMP_FACADE* facade,
                                                                               CDB_SGATE_HIERARCHY*,
                                                                               CDB_SGATE_NETLIST*) {
  if (type != KAVU_TERVO_TABLE_TIMING_MODEL) KAVU_INTERNAL_ERROR("Unknown timing model type");
  if (g_model) return g_model;
  auto device = std::make_unique<KAVU_DEVICE>(facade);
  const DEV_FAMILY_ENUM family = device->get_family();
  if (DEV_FAMILY_MANAGER::test_trait_of(family, 28))
    KAVU_INTERNAL_ERROR("!family_manager.test_trait_of( family, DEV_FAMILY_TRAIT_IS_LUMCAST_FAMILY )");
  const DEV_PART_ENUM part = device->get_part();
  bool loaded = false;
  if (part != DEV_PART_INVALID && part != DEV_PART_GENERIC) {
    DMGR_UTILITY::create_device(part);
    DMGR_UTILITY::load_timing_info_for_model(0);
    loaded = true;
  }
  kavu_debug("Device timing info loaded: %s", loaded ? "yes" : "no");
  auto* model = new CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>();
  model->initialize(family, DEV_DEVICE_ENUM(859), false, loaded, false);
  if (loaded) DMGR_UTILITY::create_typical_device(family);
  g_model = model;
  return g_model;
}

void kavu_cleanup_tervo_timing_models() {
  delete g_model;
  g_model = nullptr;
}
