// kavu_partition_netlists_records.cpp — what a split and merge do besides
// moving gates: labelling after a synchronisation point, the multiplexer
// restructuring tables of the partitions, and the elaboration record's
// boundary-pin cache.
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "kavu_check.h"
#include "kavu_helper_predicates.h"
#include "kavu_msg.h"
#include "kavu_partition.h"
#include "kavu_partition_int.h"
#include "kavu_partition_netlists.h"
#include "basex/basex.h"
#include "rdb/rdb.h"

void kavu_label_partitions_after_sync_point(CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "Label partitions after sync point");
  KAVU_CHECK(netlist);
  kavu_debug("Going through the netlist, labeling each node with its partition id using the aux value");
  netlist->sweep(0);
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node) continue;
    if (CDB_SGATE_OTERM* o = node->get_single_oterm()) {
      o->set_aux(0);
      o->set_aux2(0);
    }
  }
  KAVU_NAME_TO_NODES_MAP bus_to_regs, fractal_map;
  kavu_map_bus_to_regs(netlist, &bus_to_regs);
  kavu_map_fractal_to_nodes(netlist, &fractal_map);
  g_partition_id = 0;
  int max_partition_id = 0;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node || !kavu_is_a_boundary(node)) continue;
    CDB_SGATE_OTERM* o = node->get_single_oterm();
    if (!o || o->get_aux() != 0) continue;
    // A boundary without a partition number cannot name a partition; it is
    // reached from another boundary or lands with the unreached gates.
    const int id = node->cast_to_boundary()->get_partition_number();
    if (id <= 0) continue;
    g_partition_id = id;
    if (id > max_partition_id) max_partition_id = id;
    grow_partition(node, bus_to_regs, fractal_map, nullptr, false);
  }
  g_partition_id = max_partition_id + 1;
  int unreached = 0;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node) continue;
    CDB_SGATE_OTERM* o = node->get_single_oterm();
    if (!o || o->get_aux() != 0) continue;
    o->set_aux(g_partition_id);
    ++unreached;
  }
  if (unreached)
    kavu_debug("This partition (id %d, %d gates) cannot be reached from a boundary node.", g_partition_id,
               unreached);
  kavu_print_partitions(netlist);
}

RDB_TABLE* kavu_get_mast_mux_table(KAVU_MAST_MUX_TABLE* table) {
  KAVU_CHECK(table);
  CMP_FACADE* facade = ZCU_FACADE_UTIL::get_instance()->get_facade();
  RDB_REPORT* report = facade ? facade->get_report() : nullptr;
  KAVU_CHECK(report);
  RDB_FOLDER* current = report->get_current_folder();
  const std::string base = current ? current->get_name() : std::string();
  RDB_FOLDER* mast_mux_folder =
      zcu_get_folder(report, base + " " + RDB_SYNTH_OPTIMIZATION_RESULTS, RDB_SYNTH_MAST_MUX_STATS);
  KAVU_CHECK(mast_mux_folder);
  std::vector<std::string> header;
  for (const char* column : {"Multiplexer Inputs", "Bus Width", "Baseline Area", "Area if Restructured",
                             "Saving if Restructured", "Registered", "Example Multiplexer Output"})
    zcu_add_elem_to_report_table_data_row(header, column);
  return zcu_get_table_object(mast_mux_folder, table->m_name, header);
}

void kavu_merge_mast_mux_tables(std::vector<CDB_SGATE_NETLIST*>& partitions) {
  RDB_TABLE* merged = nullptr;
  for (CDB_SGATE_NETLIST* part : partitions) {
    KAVU_CHECK(part);
    KAVU_MAST_MUX_TABLE* table = part->get_mast_report();
    if (table->m_name.empty() && table->m_rows.empty()) continue;
    if (!merged) merged = kavu_get_mast_mux_table(table);
    kavu_debug("Merging mast table from partition %d with %d rows", part->get_number(), int(table->m_rows.size()));
    for (const std::vector<std::string>& row : table->m_rows) zcu_add_data_row_to_report_table(merged, row);
    *table = KAVU_MAST_MUX_TABLE();
  }
}

namespace {
// The netlist's elaboration record; null when the netlist has none.
BASEX_SGATE_NETLIST_INFO* pin_cache_info(CDB_SGATE_NETLIST* netlist) {
  KAVU_CHECK(netlist);
  CDB_SGATE_NETLIST_INFO* holder = netlist->get_netlist_info();
  if (!holder) return nullptr;
  BASEX_SGATE_NETLIST_INFO* info = holder->dynamic_cast_to_BASEX_SGATE_NETLIST_INFO();
  KAVU_CHECK(info);
  return info;
}
}  // namespace

void kavu_clear_boundary_port_cache(CDB_SGATE_NETLIST* netlist) {
  BASEX_SGATE_NETLIST_INFO* info = pin_cache_info(netlist);
  if (!info) return;
  const std::vector<CDB_SGATE_IO*> pins(info->begin_boundary_pin(), info->end_boundary_pin());
  for (CDB_SGATE_IO* pin : pins) info->remove_boundary_pin(pin);
  KAVU_CHECK(info->begin_boundary_pin() == info->end_boundary_pin());
}

void kavu_refresh_boundary_port_cache(CDB_SGATE_NETLIST* netlist) {
  BASEX_SGATE_NETLIST_INFO* info = pin_cache_info(netlist);
  if (!info) return;
  for (CDB_SGATE_NODE* node : netlist->get_node_list()) {
    if (!node || !kavu_is_a_pin(node)) continue;
    CDB_SGATE_IO* pin = node->cast_to_io();
    if (pin->get_pin_cache_byte() == 0) info->insert_boundary_pin(pin, false);
  }
}
