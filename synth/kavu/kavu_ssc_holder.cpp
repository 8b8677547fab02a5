// kavu_ssc_holder.cpp — KAVU_SSC, the holder of the timing engine for
// callers that keep a timing netlist for a while, and the developer's debug
// trip.
//
// Life cycle: the constructor sets up the timing netlist as the synthesis
//   road does; m_in_use is true from a successful set-up until the
//   destructor, so a second holder cannot be made while the first exists
//   (even after its destroy_ssc). A missing engine (ssc_get_util() null)
//   is an engine that is not in use: set-up fails, release does nothing.
#include "cdb/cdb_sgate.h"
#include "cfg/cfg.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_msg.h"
#include "kavu_name.h"
#include "kavu_ssc_int.h"

bool KAVU_SSC::m_in_use = false;

namespace {

// Gives every unnamed gate a synthesized name under the instance name of
// the netlist's first output node; without output nodes (or an unnamed
// one) the netlist's hierarchy name is the parent.
void name_unnamed_gates(CDB_SGATE_NETLIST* netlist) {
  netlist->sweep(false);
  HDB_INSTANCE_NAME* parent = nullptr;
  if (!netlist->get_output_pins().empty()) parent = netlist->get_output_pins().front()->get_instance_name();
  if (!parent && netlist->get_hierarchy()) parent = netlist->get_hierarchy()->get_instance_name();
  bool named = false;
  for (auto it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node || node->get_instance_name_id() != 0) continue;
    if (!parent) continue;  // nothing to name from
    // The name database wants an extension; "ssc" stands for the empty one.
    node->set_instance_name(HDB_INSTANCE_NAME::create_synthesized_name(parent, "ssc", true, true, nullptr));
    named = true;
  }
  if (named) kavu_debug("Warning: KAVU_SSC creates names on Sgate!!!");
  kavu_create_real_names_from_syn_ids(netlist);
}

}  // namespace

KAVU_SSC::KAVU_SSC(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                   SSC_DELAY_MODEL delay_model, SSC_OTERM_PAIR_VECTOR* duplicate_oterms, bool check_partitions)
    : m_facade(facade),
      m_hierarchy(hierarchy),
      m_netlist(netlist),
      m_delay_model(delay_model),
      m_duplicate_oterms(duplicate_oterms),
      m_check_partitions(check_partitions) {
  KAVU_CHECK(!m_in_use);
  if (m_netlist && !m_netlist->get_hierarchy()) m_netlist->set_hierarchy(m_hierarchy);
  m_in_use = initialize_ssc();
}

KAVU_SSC::~KAVU_SSC() {
  destroy_ssc();
  m_in_use = false;
}

namespace {

// The set-up of KAVU_SSC::initialize_ssc, for the holder's members.
bool set_up_timing_netlist(CMP_FACADE* facade, CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                           SSC_DELAY_MODEL model, SSC_OTERM_PAIR_VECTOR* duplicate_oterms, bool check_partitions) {
  const bool dump = cfg_is_on("kavu_ssc_dump_tdb", false);
  if (cfg_is_on("kavu_create_real_name", false) && netlist) name_unnamed_gates(netlist);
  SSC_UTIL* timing_manager = ssc_get_util();
  bool ok = false;
  if (!timing_manager) {
    kavu_debug("KAVU_SSC has no timing engine");
  } else {
    ok = kavu_ssc_initialize_tdb_netlist(facade, hierarchy, netlist, model, duplicate_oterms, check_partitions);
  }
  if (ok) {
    if (dump) {
      KAVU_CHECK(timing_manager->is_in_use());
      timing_manager->dump_tdb_netlist("");
    }
    kavu_debug("KAVU_SSC initialized successfully");
  } else {
    kavu_debug("WARNING!!! KAVU_SSC initialization failed");
  }
  return ok;
}

}  // namespace

bool KAVU_SSC::initialize_ssc() {
  // Memory refused in the set-up fails it as the analysis fails: the
  // holder is not in use and the engine holds nothing.
  return kavu_ssc_guard_memory(false, [this](KAVU_SSC_ENGINE_RELEASE& release) {
    const bool ok = set_up_timing_netlist(m_facade, m_hierarchy, m_netlist, m_delay_model, m_duplicate_oterms,
                                          m_check_partitions);
    if (ok) release.disarm();  // the holder keeps it until destroy_ssc
    return ok;
  });
}

void KAVU_SSC::destroy_ssc() {
  SSC_UTIL* timing_manager = ssc_get_util();
  if (!timing_manager) return;  // no engine, nothing held
  timing_manager->delete_netlist();
  KAVU_CHECK(!timing_manager->is_in_use());
  kavu_debug("KAVU_SSC SSC_UTIL destroyed successfully");
}

void KAVU_SSC::ssc_debug_trip(CMP_FACADE* facade, CDB_SGATE_NETLIST* netlist) {
  const bool analysis = cfg_is_on("kavu_run_ssc_debug_timing_analysis", false);
  const bool reports = cfg_is_on("kavu_run_ssc_debug", false);
  const bool naming = cfg_is_on("kavu_create_real_name", false);
  if (!analysis && !reports) return;
  SSC_UTIL* timing_manager = ssc_get_util();
  if (!timing_manager) {
    kavu_debug("ssc_debug_trip: no timing engine");
    return;
  }
  KAVU_CHECK(!timing_manager->is_in_use());
  kavu_debug("Run ssc_debug_trip");
  if (naming) name_unnamed_gates(netlist);
  if (!analysis) {
    timing_manager->initialize_netlist(facade, netlist, SSC_DELAY_MODEL_UNIT, nullptr);
    timing_manager->update_sta();
    timing_manager->tcl_eval("report_path -from * -to * -npath 10");
    timing_manager->tcl_eval("report_timing -npath 10");
    timing_manager->dump_tdb_netlist("");
    timing_manager->convert_tdb_netlist_to_string_based();
    timing_manager->debug_write_tdb_to_pdb("tdb_dump");
    timing_manager->debug_read_tdb_from_pdb("tdb_dump");
    timing_manager->update_sta();
    timing_manager->tcl_eval("report_path -from * -to * -npath 10");
    timing_manager->tcl_eval("report_timing -npath 10");
    timing_manager->dump_tdb_netlist("");
    timing_manager->delete_netlist();
  } else {
    timing_manager->initialize_netlist(facade, netlist, SSC_DELAY_MODEL_UNIT_FANOUT, nullptr);
    SSC_ITERM_TIMING_INFO_MAP map;
    timing_manager->perform_timing_analysis(netlist, &map, nullptr, false);
    kavu_debug("Found %d iterms with timing info", int(map.size()));
    timing_manager->dump_tdb_netlist("");
    timing_manager->delete_netlist();
  }
  kavu_debug("ssc_debug_trip is done!");
}
