// kavu_partition_gates.cpp — whether and how far synthesis runs in parallel:
// the target partition count, the flow switches and skip reasons, family
// support, the repair of names the helper processes made, and the undo of a
// partitioning run.
//
// Skip reasons: a process-wide set of 8 bits; the flow gates refuse while any
//   bit is set. The flow switches are decided on the first call of
//   kavu_parallel_flow_allowed and never re-read.
// Names: a helper process must not create names (their ids would collide
//   across processes). kavu_check_name_ids gives every gate or terminal whose
//   name id is above the pre-run maximum the name it was synthesized from
//   (or the nearest ancestor name below the maximum) and marks it for the
//   deferred naming pass. That holds in either naming mode and creates no
//   name, so the check after the repair cannot fail.
#include <algorithm>

#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "hdb/acf.h"
#include "hdb/hdb.h"
#include "hdb/hdb_section.h"
#include "kavu_helper_gate_create.h"
#include "kavu_memory_guard_int.h"
#include "kavu_msg.h"
#include "kavu_partition_int.h"
#include "kavu_setup.h"

using namespace kavu_partition_detail;

namespace {

struct FLOW_STATE {
  bool m_decided = false;
  bool m_rtl_allowed = false;
  bool m_mls_allowed = false;
  int m_repartition = -1;  // -1: key not read yet
  bool m_one_process_no_pdb = false;
};
constinit FLOW_STATE g_flow_state;
FLOW_STATE& flow_state() { return g_flow_state; }

bool any_skip_bit() { return kavu_parallel_skip_reasons().any(); }

}  // namespace

namespace kavu_partition_detail {
void reset_merge_switches();
}

void kavu_partition_reset_process_state() {
  flow_state() = FLOW_STATE();
  {
    const KAVU_FLOW_TURN turn;
    kavu_set_flow_design_locked(nullptr);
  }
  reset_merge_switches();
}

void kavu_disable_parallel_synthesis(SKIP_REASONS reason) { kavu_parallel_skip_reasons().set(size_t(reason)); }
void kavu_clear_disable_flag(SKIP_REASONS reason) { kavu_parallel_skip_reasons().reset(size_t(reason)); }

void kavu_print_disable_reasons() {
  const boost::dynamic_bitset<uint32_t>& bits = kavu_parallel_skip_reasons();
  const size_t first = bits.find_first();
  if (first == boost::dynamic_bitset<uint32_t>::npos) return;  // nothing disabled: nothing to say
  switch (first) {
    case SKIP_RTL_FLOW_OFF: kavu_debug("Parallel synthesis disabled as RTL parallel flow is OFF by acf/ini"); break;
    case SKIP_MLS_FLOW_OFF: kavu_debug("Parallel synthesis disabled as MLS parallel flow is OFF by acf/ini"); break;
    case SKIP_USER_PARTITIONS_PARALLEL:
      kavu_debug("Parallel synthesis disabled as user partitions are running in parallel");
      break;
    case SKIP_RAPID_RECOMPILE_SECOND:
      kavu_debug("Parallel synthesis disabled as rapid recompile is at its second compile");
      break;
    case SKIP_ONE_PARTITION: kavu_debug("Parallel synthesis disabled as one partition is enforced"); break;
    case SKIP_CIRCUIT_TOO_SMALL:
      kavu_debug("Parallel synthesis disabled as the circuit is smaller than %d", int(kavu_min_netlist_size));
      break;
    case SKIP_SYNTHESIS_ONLY_EXECUTABLE:
      kavu_debug("Parallel synthesis is disabled as you are using the velmora_syn executable");
      break;
    case SKIP_MEMORY_TOO_HIGH: kavu_debug("Parallel synthesis is disabled because the memory usage is too high"); break;
    default: KAVU_INTERNAL_ERROR("Parallel synthesis disabled due to unknown reason");
  }
}

int kavu_get_num_partitions(CDB_SGATE_NETLIST* netlist, const SYNTH::KAVU::PARTITIONING_PARAMS& params) {
  KAVU_CHECK(netlist);
  const int n = params.get_int_param("num_partitions");
  const int m = params.get_int_param("max_num_partitions");
  kavu_clear_disable_flag(SKIP_CIRCUIT_TOO_SMALL);
  if (n == 1) kavu_disable_parallel_synthesis(SKIP_ONE_PARTITION);
  if (int64_t(netlist->size()) > int64_t(kavu_min_netlist_size)) return std::max(1, std::min(n, m));
  kavu_disable_parallel_synthesis(SKIP_CIRCUIT_TOO_SMALL);
  return 1;
}

namespace {

bool family_uses_assignment(int family) {
  return family == 8 || family == 25 || family == 45 || family == 47 || family == 57;
}

bool parallel_assignment_on() {
  HDB_SECTION* section = HDB_SECTION::find_section(ACF_SECTION_DEFAULT, "");
  if (!section) return false;
  HDB_DERIVED_OPTION<1, 0>* opt = section->get_single_option<1>(ACF_PARALLEL_SYNTHESIS);
  return opt && opt->get_bool_value();
}

void decide_flow_switches(FLOW_STATE& s) {
  ZCU_FACADE_UTIL* util = ZCU_FACADE_UTIL::get_instance();
  CMP_FACADE* facade = util ? util->get_facade() : nullptr;
  const int family = facade ? int(facade->get_family()) : -1;
  if (family_uses_assignment(family) && parallel_assignment_on()) {
    s.m_rtl_allowed = !cfg_is_on("parallel_rtl_flow_disabled", false);
    s.m_mls_allowed = !cfg_is_on("parallel_mls_flow_disabled", false);
  } else {
    s.m_rtl_allowed = cfg_is_on("parallel_rtl_flow", false);
    s.m_mls_allowed = cfg_is_on("parallel_mls_flow", false);
  }
}

}  // namespace

bool kavu_parallel_flow_allowed(KAVU_PARALLEL_FLOW_TYPE flow_type) {
  FLOW_STATE& s = flow_state();
  const bool first = !s.m_decided;
  if (first) {
    decide_flow_switches(s);
    s.m_decided = true;
  }
  if (flow_type == PARALLEL_RTL) {
    if (!s.m_rtl_allowed) {
      if (first) kavu_disable_parallel_synthesis(SKIP_RTL_FLOW_OFF);
      return false;
    }
  } else {
    KAVU_CHECK(flow_type == PARALLEL_MLS);
    if (!s.m_mls_allowed) {
      if (first) kavu_disable_parallel_synthesis(SKIP_MLS_FLOW_OFF);
      return false;
    }
  }
  return !any_skip_bit();
}

bool kavu_repartition_before_mls() {
  FLOW_STATE& s = flow_state();
  if (s.m_repartition < 0) s.m_repartition = cfg_is_on("kavu_mls_repartition", false) ? 1 : 0;
  return s.m_repartition == 1;
}

bool kavu_is_family_parallel_synthesis_supported(CMP_FACADE* facade) {
  KAVU_CHECK(facade);
  const int first = int(facade->get_base_family());
  const int second = int(facade->get_family());
  return second == 8 || second == 9 || second == 19 || second == 57 || first == 15 || first == 25 || first == 45 ||
         first == 47;
}

bool kavu_synthesis_is_running_with_one_process_no_pdb() { return flow_state().m_one_process_no_pdb; }
void kavu_set_synthesis_running_with_one_process_no_pdb(bool value) { flow_state().m_one_process_no_pdb = value; }

void kavu_set_project_db_path(const std::string& path) {
  if (&path != &kavu_project_db_path()) kavu_project_db_path() = path;
}

// ---------------------------------------------------------------- names

unsigned kavu_get_max_name_id(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  unsigned max_id = 0;
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    if (!node) continue;
    max_id = std::max(max_id, unsigned(node->get_instance_name_id()));
    for (unsigned i = 0; i < node->get_output_count(); ++i) {
      const CDB_SGATE_OTERM* oterm = node->get_output_term(i);
      if (oterm) max_id = std::max(max_id, unsigned(oterm->get_instance_name_id()));
    }
  }
  return max_id;
}

namespace {

unsigned id_of(const HDB_INSTANCE_NAME* name) { return name ? unsigned(name->get_id()) : 0u; }

// The synthesized-from name when it is old enough, else the nearest ancestor
// of the current name that is; null when there is none.
HDB_INSTANCE_NAME* old_base(HDB_INSTANCE_NAME* synfrom, HDB_INSTANCE_NAME* current, unsigned max_id) {
  if (synfrom && id_of(synfrom) <= max_id) return synfrom;
  for (HDB_INSTANCE_NAME* n = current; n; n = n->get_parent())
    if (id_of(n) <= max_id) return n;
  return nullptr;
}

}  // namespace

void kavu_check_name_ids(CDB_SGATE_NETLIST* netlist, unsigned max_id) {
  KAVU_CHECK(netlist);
  bool too_large = false;
  const int number = netlist->get_number();
  for (CDB_SGATE_NODE* node : node_snapshot(netlist)) {
    KAVU_CHECK(node);
    if (unsigned(node->get_instance_name_id()) > max_id) {
      too_large = true;
      kavu_debug(
          "Node with hdb name id %d (debug_name %s and name %s) in partition %d has a hdb name id greater than the "
          "old max.",
          int(node->get_instance_name_id()), node->get_debug_name().c_str(), node->get_string_hpath().c_str(),
          number);
      HDB_INSTANCE_NAME* base = old_base(node->get_synfrom_name(), node->get_instance_name(), max_id);
      node->set_instance_name(base);
      node->set_synthesized_name(base);
      KAVU_CHECK(unsigned(node->get_instance_name_id()) <= max_id);
    }
    for (unsigned i = 0; i < node->get_output_count(); ++i) {
      CDB_SGATE_OTERM* oterm = node->get_output_term(i);
      if (!oterm || unsigned(oterm->get_instance_name_id()) <= max_id) continue;
      too_large = true;
      kavu_debug("Oterm with hdb name id %d,in partition %d has a hdb name id greater than the old max.",
                 int(oterm->get_instance_name_id()), number);
      HDB_INSTANCE_NAME* base = old_base(oterm->get_synfrom_name(), oterm->get_instance_name(), max_id);
      oterm->set_instance_name(base);
      oterm->set_synthesized_name(base);
      if (!node->get_instance_name()) node->set_instance_name(base);
      KAVU_CHECK(unsigned(oterm->get_instance_name_id()) <= max_id);
    }
  }
  if (!too_large) return;
  kavu_debug("Some new real names were created in partition %d", number);
  if (cfg_is_on("parallel_names_paranoid", false))
    KAVU_INTERNAL_ERROR(
        "New names were created during parallel synthesis, this is not allowed. You should really look into this! "
        "(Or set parallel_names_paranoid=off to ignore the issue.)");
}

void kavu_fix_new_dff_and_latch_names(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    KAVU_CHECK(node);
    const bool reg = kavu_is_a_dff(node, true);
    if (!reg && !kavu_is_a_latch(node)) continue;
    CDB_SGATE_OTERM* node_oterm = node->get_single_oterm();
    KAVU_CHECK(node_oterm != 0);
    HDB_INSTANCE_NAME* name = node_oterm->get_instance_name();
    if (!name) {
      name = node->get_instance_name();
      if (!name) continue;
      node_oterm->set_instance_name(name);
    }
    if (!node_oterm->has_synthesized_name_mark()) continue;
    HDB_INSTANCE_NAME* fresh = HDB_INSTANCE_NAME::create_synthesized_name(name, reg ? "dff" : "latch", true, true, nullptr);
    node->set_instance_name(fresh);
    node->reset_has_temporary_name();
    node_oterm->set_instance_name(fresh);
    node_oterm->clear_synthesized_name_mark();
  }
}

// ---------------------------------------------------------------- undo

bool kavu_netlist_has_boundary_sgates(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it)
    if (*it && kavu_is_a_boundary(*it)) return true;
  return false;
}

namespace {
void delete_boundaries(CDB_SGATE_NETLIST* netlist) {
  std::vector<CDB_SGATE_NODE*> boundaries;
  for (CDB_SGATE_NETLIST::iterator it = netlist->begin_node_list(); it != netlist->end_node_list(); ++it) {
    CDB_SGATE_NODE* node = *it;
    KAVU_CHECK(node);
    if (kavu_is_a_boundary(node)) boundaries.push_back(node);
  }
  // Validate before the first change: every boundary must be connected, or
  // know the terminal that fed it before a split.
  for (CDB_SGATE_NODE* node : boundaries) {
    const CDB_SGATE_ITERM* iterm = node->get_single_iterm();
    if (!iterm || (!cdb_is_connected(iterm) && !node->cast_to_boundary()->get_fed_by()))
      KAVU_INTERNAL_ERROR("cdb_is_connected (iterm)");
  }
  // About what taking them out allocates is asked for before the first
  // change: a boundary gate taken out part way is still a buffer, but a
  // boundary reconnected and then left would drive its reader twice.
  kavu_grant_memory(256 * boundaries.size() + (size_t(64) << 10));
  // Reconnect all first: a recorded feeder may be another boundary's output.
  for (CDB_SGATE_NODE* node : boundaries) {
    CDB_SGATE_ITERM* iterm = node->get_single_iterm();
    if (!cdb_is_connected(iterm)) node->cast_to_boundary()->get_fed_by()->insert_fanout(iterm);
  }
  for (CDB_SGATE_NODE* node : boundaries) kavu_excise_buffer(node);
  for (CDB_SGATE_NODE* node : boundaries) {
    netlist->delete_node(node);
    delete node;
  }
  netlist->sweep(false);
}
}  // namespace

void kavu_delete_partition_on_reg_boundary(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  kavu_debug("Now deleting the partitions on reg boundaries (kavu_delete_partition_on_reg_boundary)");
  kavu_guard_memory_void([&] { delete_boundaries(netlist); }, [] {
    kavu_post_out_of_memory("Parallel synthesis cannot take the boundary gates out of the design: not enough "
                            "memory. The design keeps them");
  });
}

bool kavu_leave_revisit_pass_for_parallel_mls(CDB_SGATE_NETLIST* netlist) {
  (void)netlist;
  KAVU_CHECK(!cdb_sgate_synthesis_is_running_in_parallel());
  return true;
}

bool kavu_is_logic_gate_for_partitioning(const CDB_SGATE_NODE* node) { return kavu_look_through_gate_for_mffc(node); }
