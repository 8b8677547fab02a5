// kavu_llis_fib_manager_subnet.cpp — the FIB manager's entry points around
// the new logic of a partition: artificial FIBs, new-node statistics, and
// the sub-netlist of new gates that synthesis works on in place of the full
// netlist.
#include <memory>
#include <vector>

#include "cdb/cdb_sgate_hierarchy.h"
#include "cfg/cfg.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_fib_manager.h"
#include "kavu_llis_artificial.h"
#include "kavu_msg.h"
#include "kavu_subnet.h"

void KAVU_FIB_MANAGER::insert_artificial_fibs(CDB_SGATE_NETLIST* netlist) {
  kavu_llis_insert_artificial_fibs(netlist);
}

void KAVU_FIB_MANAGER::remove_artificial_fibs(CDB_SGATE_NETLIST* netlist) {
  kavu_llis_remove_artificial_fibs(netlist);
}

void KAVU_FIB_MANAGER::dump_new_node_statistics(CDB_SGATE_HIERARCHY* hier, CDB_SGATE_NETLIST* netlist) {
  if (!kavu_llis_is_generating_databases()) return;
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  const int id = get_part_id_of_hierarchy(hier);
  if (id >= 0) check_id(id);
  kavu_llis_dump_new_node_statistics(id < 0 ? nullptr : m_per_partition_data[size_t(id)].fib_info, hier, netlist);
}

// The entry of the hierarchy's partition; null without databases or for a
// hierarchy of no partition.
KAVU_FIB_MANAGER::PARTITION_ENTRY* KAVU_FIB_MANAGER::subnet_entry(CDB_SGATE_HIERARCHY* hier) {
  if (!kavu_llis_is_generating_databases()) return nullptr;
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  const int id = get_part_id_of_hierarchy(hier);
  if (id < 0) return nullptr;
  check_id(id);
  return &m_per_partition_data[size_t(id)];
}

bool KAVU_FIB_MANAGER::construct_and_return_subnetlist(CDB_SGATE_HIERARCHY* hier) {
  GEN_PROFILER profiler("KAVU", "construct_and_return_subnetlist");
  PARTITION_ENTRY* found = subnet_entry(hier);
  if (!found) return false;
  PARTITION_ENTRY& entry = *found;
  CDB_SGATE_NETLIST* full = hier->get_netlist();
  // A missing record has not been merged.
  if (!entry.fib_info || !entry.fib_info->m_merge_is_successful) {
    delete entry.subnetlist;
    entry.subnetlist = nullptr;
    entry.full_netlist = full;
    return false;
  }
  if (!m_facade) KAVU_INTERNAL_ERROR("m_facade");
  // A builder still holding a sub-netlist means the last one was never
  // stitched back; building a second would lose its gates.
  if (entry.subnetlist) KAVU_INTERNAL_ERROR("!subnetlist");
  KAVU_CHECK(full);
  auto subnet = std::make_unique<KAVU_SUBNET>(full, m_facade, m_set_node_info, m_reset_node_info);
  std::unique_ptr<std::vector<CDB_SGATE_NODE*>> new_nodes(entry.fib_info->get_new_nodes(full));
  kavu_debug("construct_and_return_subnetlist, new_node size = %d", int(new_nodes->size()));
  subnet->kavu_subnet_create(*new_nodes);
  CDB_SGATE_NETLIST* sub = subnet->get_subnetlist();
  entry.subnetlist = subnet.release();
  entry.full_netlist = full;
  hier->set_netlist(sub);
  sub->set_is_subnetlist(true);
  return true;
}

bool KAVU_FIB_MANAGER::stitch_back_and_return_full_netlist(CDB_SGATE_HIERARCHY* hier) {
  GEN_PROFILER profiler("KAVU", "stitch_back_and_return_full_netlist");
  PARTITION_ENTRY* found = subnet_entry(hier);
  if (!found) return false;
  PARTITION_ENTRY& entry = *found;
  if (!entry.fib_info || !entry.fib_info->m_merge_is_successful) return false;
  kavu_debug("stitch_back_and_return_full_netlist....");
  CDB_SGATE_NETLIST* current = hier->get_netlist();
  kavu_debug("stitch_back_and_return_full_netlist....subnetlist size = %d",
             current ? int(current->size()) : 0);
  if (!entry.subnetlist) KAVU_INTERNAL_ERROR("subnet");
  std::unique_ptr<KAVU_SUBNET> subnet(entry.subnetlist);
  entry.subnetlist = nullptr;
  CDB_SGATE_NETLIST* full = subnet->get_full_netlist();
  subnet->kavu_subnet_stitch_back();
  hier->set_netlist(full);
  subnet.reset();
  entry.full_netlist = full;
  if (cfg_is_on("llis_exclude_tristate_buffer_from_relevant_src_nodes", true))
    kavu_subnet_repair_tristate_chains(full);
  return true;
}

bool KAVU_FIB_MANAGER::is_hierarchy_using_subnet(CDB_SGATE_HIERARCHY* hier) {
  if (!kavu_llis_is_generating_databases()) return false;
  if (!hier) KAVU_INTERNAL_ERROR("hier");
  const int id = get_part_id_of_hierarchy(hier);
  if (id < 0 || id >= int(m_per_partition_data.size())) return false;
  const PARTITION_ENTRY& entry = m_per_partition_data[size_t(id)];
  return entry.fib_info && entry.fib_info->m_merge_is_successful && entry.subnetlist;
}
