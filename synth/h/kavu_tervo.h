// kavu_tervo.h — the slack estimators of timing-driven synthesis, one per
// partition (or a single one with "kavu_use_tervo_estimator_map" off), and
// the lazily made table timing model.
//
// Registry mode: estimators by partition name in the library's hash, which
// owns them; the current estimator is the last one looked up or created
// and is cleared whenever the estimator it names is destroyed. Single mode:
// at most one estimator; asking about another partition destroys it.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ssc/ssc.h"
#include "ssc/tervo.h"

class CMP_FACADE;
class CDB_SGATE_HIERARCHY;
class CDB_SGATE_NETLIST;

// Only the table model (0) exists; other values are refused.
enum KAVU_TERVO_TIMING_MODEL_TYPE : int { KAVU_TERVO_TABLE_TIMING_MODEL = 0 };

// Runs the timing analysis and builds the estimator of the netlist's
// partition (the last two arguments are accepted and unused). False, with
// nothing registered (an estimator made before for the partition stays),
// when the analysis or the estimator's reading of it fails; memory refused
// anywhere fails it so, with the failure posted.
bool kavu_initialize_tervo_estimator(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                     SSC_ITERM_TIMING_INFO_MAP* timing_info_map, int* default_lut_delay,
                                     SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map, bool use_relaxed_slack,
                                     SSC_OTERM_PAIR_VECTOR* duplicate_oterms, double* avg_lut_delay);
// Reuses the partition's estimator when there is one (no analysis runs).
bool kavu_initialize_or_reuse_tervo_estimator(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy,
                                              CDB_SGATE_NETLIST* netlist, SSC_ITERM_TIMING_INFO_MAP* timing_info_map,
                                              int* default_lut_delay,
                                              SSC_ITERM_REQUIREMENT_INFO_MAP* requirement_info_map,
                                              bool use_relaxed_slack, SSC_OTERM_PAIR_VECTOR* duplicate_oterms,
                                              double* avg_lut_delay);
// The short path of the partition's instance name; "" for a null hierarchy.
std::string kavu_get_partition_name_of_hierarchy(CDB_SGATE_HIERARCHY* hierarchy);
// Selects the partition's estimator as the current one; whether it exists.
bool kavu_is_tervo_estimator_initialized(std::string partition_name);
TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>* kavu_get_tervo_estimator();
// Destroys the partition's estimator. Memory refused while the partition is
// named (the failure posted) destroys every estimator instead, so that none
// made for an earlier netlist is reused.
void kavu_cleanup_tervo_estimator(CDB_SGATE_HIERARCHY* hierarchy);
CSU_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>* kavu_get_or_create_tervo_timing_model(KAVU_TERVO_TIMING_MODEL_TYPE type,
                                                                               CMP_FACADE* facade,
                                                                               CDB_SGATE_HIERARCHY* hierarchy,
                                                                               CDB_SGATE_NETLIST* netlist);
void kavu_cleanup_tervo_timing_models();
// Destroys every estimator of the registry (library unload).
void kavu_release_tervo_estimator_hash();
