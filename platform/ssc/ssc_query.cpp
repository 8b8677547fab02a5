// ssc_query.cpp — the engine's constraint queries on terminals, its count of
// analyses, the slack estimator and the table timing model (tervo.h), and
// the device-timing calls they use.
#include <algorithm>
#include <atomic>
#include <new>
#include <unordered_map>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "dev/dev.h"
#include "hdb/hdb.h"
#include "msg/msg.h"
#include "ssc/ssc.h"
#include "ssc/ssc_int.h"
#include "ssc/tervo.h"
#include "testkit/platform_test_hooks.h"
#include "zhd/zhd.h"

namespace {

int g_analysis_count = 0;
// ssc_test_counts, per SSC_TEST_EVENT: reads may run on several threads.
std::atomic<unsigned long long> g_test_events[3];
int g_estimators_alive = 0;
int g_models_alive = 0;
DEV_FAMILY_ENUM g_default_family = DEV_FAMILY_NONE;
int g_timing_loads = 0;
int g_typical_devices = 0;
bool g_device_selected = false;

// The nodes of one gate terminal, indexed once per analysis. The index is
// made aside and kept only whole: memory the system refuses on the way is
// an error of the query (false here), never an exception, and the next
// query tries again.
bool build_query_index(const kavu_platform::SSC_NETLIST_DATA& data, kavu_platform::SSC_ANALYSIS* a) {
  if (a->query_index_built) return true;
  try {
    std::unordered_map<const CDB_SGATE_OTERM*, bool> constrained;
    std::unordered_map<const CDB_SGATE_OTERM*, std::vector<int>> sources;
    auto mark = [&](uint32_t id) {
      if (id < data.nodes.size() && data.nodes[id].get_oterm()) constrained[data.nodes[id].get_oterm()] = true;
    };
    for (const auto& r : a->constraints().rules) {
      for (uint32_t id : r.from_nodes) mark(id);
      for (uint32_t id : r.to_nodes) mark(id);
    }
    for (const auto& d : a->constraints().io_delays)
      for (uint32_t id : d.nodes) mark(id);
    // Registers a command names, though the engine skipped the command.
    for (uint32_t id : a->constraints().named_registers) mark(id);
    for (size_t c = 0; c < a->constraints().clocks.size(); ++c)
      for (uint32_t id : a->constraints().clocks[c].sources)
        if (id < data.nodes.size() && data.nodes[id].get_oterm()) sources[data.nodes[id].get_oterm()].push_back(int(c));
    a->constrained_oterms.swap(constrained);
    a->clock_source_oterms.swap(sources);
    a->query_index_built = true;
    return true;
  } catch (const std::bad_alloc&) {
    try {
      msg_post_message(MSG_POST_TYPE_ERROR, "Timing analysis: not enough memory to index the constraints of the analysis");
    } catch (const std::bad_alloc&) {
    }
    return false;
  }
}

}  // namespace

bool SSC_UTIL::oterm_has_sdc_constraint(CDB_SGATE_OTERM* oterm) {
  PLAT_CHECK(oterm != nullptr, "SSC");
  if (!is_in_use()) return false;
  // Where the analysis or its index is refused (an error says why), the
  // terminal may carry a constraint: true, as a register is taken where the
  // constraints cannot be read, so that no constrained register is merged.
  if (!m_analysis && !run_analysis()) return true;
  if (!build_query_index(*m_netlist->m_data, m_analysis.get())) return true;
  return m_analysis->constrained_oterms.count(oterm) != 0;
}

bool SSC_UTIL::oterm_is_base_clock(CDB_SGATE_OTERM* oterm, std::vector<int>* clock_ids) {
  PLAT_CHECK(oterm != nullptr, "SSC");
  if (!is_in_use()) return false;
  if (!m_analysis && !run_analysis()) return false;
  if (!build_query_index(*m_netlist->m_data, m_analysis.get())) return false;
  auto it = m_analysis->clock_source_oterms.find(oterm);
  if (it == m_analysis->clock_source_oterms.end()) return false;
  if (clock_ids) clock_ids->insert(clock_ids->end(), it->second.begin(), it->second.end());
  return true;
}

bool SSC_UTIL::index_constraint_queries() {
  if (!is_in_use()) return false;
  if (!m_analysis && !run_analysis()) return false;
  return build_query_index(*m_netlist->m_data, m_analysis.get());
}

// ---------------------------------------------------------------- estimator

TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::TERVO_ESTIMATOR() { ++g_estimators_alive; }
TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::~TERVO_ESTIMATOR() { --g_estimators_alive; }
int TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::live_count() { return g_estimators_alive; }

bool TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::initialize(CDB_SGATE_NETLIST* netlist, TDB_NETLIST* tdb_netlist,
                                                          bool flattened) {
  PLAT_CHECK(netlist != nullptr && tdb_netlist != nullptr, "SSC");
  m_partition.clear();
  const CDB_SGATE_HIERARCHY* h = netlist->get_hierarchy();
  const ZHD_DESIGN* design = ZHD_ROOT::get().get_design("");
  if (h && design) {
    const ZHD_PARTITION* p = design->get_partition_of(h->get_instance_name());
    if (p && p->get_instance_name()) m_partition = p->get_instance_name()->get_short_hpath(0);
  }
  m_flattened = flattened;
  m_slack.clear();
  SSC_UTIL* util = ssc_get_util();
  if (!util || util->get_tdb_netlist() != tdb_netlist) return false;
  SSC_ITERM_TIMING_INFO_MAP map;
  if (!util->perform_timing_analysis(netlist, &map, nullptr, false)) return false;
  for (const auto& [t, info] : map)
    if (info.m_slack != SSC_UNCONSTRAINED_SLACK) m_slack[t] = info.m_slack;
  m_initialized = true;
  return true;
}

int TERVO_ESTIMATOR<CSU_SGATE_NETLIST_TYPES>::estimate_slack(const CDB_SGATE_ITERM* iterm) const {
  auto it = m_slack.find(iterm);
  return it == m_slack.end() ? SSC_UNCONSTRAINED_SLACK : it->second;
}

// ---------------------------------------------------------------- table model

CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>::CSU_TABLE_TIMING_MODEL() { ++g_models_alive; }
CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>::~CSU_TABLE_TIMING_MODEL() { --g_models_alive; }
int CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>::live_count() { return g_models_alive; }

void CSU_TABLE_TIMING_MODEL<CSU_SGATE_NETLIST_TYPES>::initialize(DEV_FAMILY_ENUM family, DEV_DEVICE_ENUM device,
                                                                 bool, bool timing_loaded, bool) {
  m_family = family;
  m_device = device;
  m_timing_loaded = timing_loaded;
  m_lut_delay = DEV_FAMILY_MANAGER::get_lut_size(family) == 4 ? 250 : 300;
}

void csu_set_default_family(DEV_FAMILY_ENUM family) { g_default_family = family; }

void DMGR_UTILITY::create_device(int part) {
  PLAT_CHECK(DEV_PART_MANAGER::get_family_of(DEV_PART_ENUM(part)) != DEV_FAMILY_NONE, "SSC");
  g_device_selected = true;
}

void DMGR_UTILITY::load_timing_info_for_model(int) {
  PLAT_CHECK(g_device_selected, "SSC");
  ++g_timing_loads;
}

void DMGR_UTILITY::create_typical_device(DEV_FAMILY_ENUM) { ++g_typical_devices; }

namespace kavu_platform {

void ssc_note_analysis_run() { ++g_analysis_count; }
int ssc_analysis_count() { return g_analysis_count; }
void ssc_note_test_event(SSC_TEST_EVENT event) { ++g_test_events[event]; }
SSC_TEST_COUNTS ssc_test_counts() {
  SSC_TEST_COUNTS c;
  c.rule_indexes = g_test_events[SSC_TEST_RULE_INDEX];
  c.reads_kept = g_test_events[SSC_TEST_READ_KEPT];
  c.reads_reused = g_test_events[SSC_TEST_READ_REUSED];
  return c;
}
DEV_FAMILY_ENUM csu_get_default_family() { return g_default_family; }
int dmgr_timing_load_count() { return g_timing_loads; }
int dmgr_typical_device_count() { return g_typical_devices; }

void ssc_query_test_reset() {
  g_analysis_count = 0;
  for (std::atomic<unsigned long long>& n : g_test_events) n = 0;
  g_default_family = DEV_FAMILY_NONE;
  g_timing_loads = 0;
  g_typical_devices = 0;
  g_device_selected = false;
}

}  // namespace kavu_platform
