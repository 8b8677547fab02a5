// kavu_partition_netlists.h — one netlist per partition and back.
//
// kavu_get_partition_netlists moves every gate of a labelled netlist (the
// partition id is the aux value of its first output) into the partition
// netlist of its id, after cutting every boundary-to-boundary edge and
// recording it in a KAVU_PARTITION_BOUNDARIES as debug numbers (the gates
// travel through archives, only their numbers survive). kavu_merge_netlists
// moves the gates back, renumbers the gates the helpers made (numbers at or
// above the split's first number) partition by partition, so that no two
// gates share a number, then recovers the state machines and restores the
// recorded edges.
//
// Around the cut: state-machine clock, clock enable and reset driven from
// another partition are routed through a new output/input boundary pair;
// every boundary's fan-in or fan-out delay over the whole design is written
// onto its output terminal; the elaboration record's boundary-pin cache is
// emptied before the split and rebuilt after the merge; the multiplexer
// restructuring tables the partitions carry come back as one report table.
#pragma once
#include <map>
#include <vector>

#include "cdb/cdb_sgate_hierarchy.h"

class CDB_SGATE_HIERARCHY;
class CDB_SGATE_ITERM;
class CDB_SGATE_LABELLING;
class CDB_SGATE_NETLIST;
class CDB_SGATE_OTERM;
class CDB_STATE_MACHINE;
class CMP_FACADE;
class RDB_TABLE;

// The multiplexer restructuring table a synthesized partition carries.
typedef CDB_SGATE_MAST_REPORT KAVU_MAST_MUX_TABLE;
// Boundary output terminal -> its fan-in (input boundary) or fan-out
// (output boundary) delay over the whole design.
typedef std::map<CDB_SGATE_OTERM*, int> KAVU_BOUNDARY_DELAY_MAP;

struct KAVU_PARTITION_CONNECTION {
  CDB_SGATE_OTERM* oterm = nullptr;  // output of the output boundary (driving side)
  CDB_SGATE_ITERM* iterm = nullptr;  // input of the input boundary (receiving side)
  unsigned src_debug_number = 0;
  unsigned dst_debug_number = 0;
};

class KAVU_PARTITION_BOUNDARIES {
 public:
  KAVU_PARTITION_BOUNDARIES() = default;
  // Records and cuts every boundary-to-boundary edge, then clears pointers.
  void disconnect_partitions(CDB_SGATE_NETLIST* netlist);
  // The same, adding every boundary gate to `labelling` (null: none) with
  // the path it makes for the boundaries' readers anyway: the labelling of
  // the partitions the split then makes (cdb_sgate_labelling), each path
  // made once.
  void disconnect_partitions(CDB_SGATE_NETLIST* netlist, CDB_SGATE_LABELLING* labelling);
  // Refreshes pointers when cleared and restores every recorded edge.
  void reconnect_partitions(CDB_SGATE_NETLIST* netlist);
  const std::vector<KAVU_PARTITION_CONNECTION>& get_connections() const { return m_connections; }
  bool pointers_cleared() const { return m_pointers_cleared; }

 private:
  void clear_pointers();
  void refresh_pointers(CDB_SGATE_NETLIST* netlist);
  std::vector<KAVU_PARTITION_CONNECTION> m_connections;
  bool m_pointers_cleared = false;
};

// The process-wide partition-netlist counter (partition number, not id).
int kavu_partition_netlist_counter();

void kavu_get_partition_netlists(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                                 CDB_SGATE_HIERARCHY* hierarchy, CMP_FACADE* facade,
                                 KAVU_PARTITION_BOUNDARIES& boundaries, bool label_partitions);
// An empty vector leaves everything as it is.
void kavu_merge_netlists(std::vector<CDB_SGATE_NETLIST*>& partitions, CDB_SGATE_NETLIST* netlist,
                         CDB_SGATE_HIERARCHY* hierarchy, KAVU_PARTITION_BOUNDARIES& boundaries);
void kavu_stamp_boundary_partition_ids(CDB_SGATE_NETLIST* partition);

// Relabels every gate from the boundaries: each unlabelled boundary (in
// netlist order) grows the partition of its own partition number; gates no
// boundary reaches share one partition above the largest.
void kavu_label_partitions_after_sync_point(CDB_SGATE_NETLIST* netlist);

// State machines (kavu_partition_netlists_sm.cpp).
// Routes each machine's clk, clk_en and reset into the machine's partition.
void kavu_route_state_machine_signals(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist);
// The signal itself when it lies in the machine's partition; otherwise the
// output of a new input boundary in the machine's partition, fed by an
// output boundary in the signal's partition (the existing one behind the
// signal's protect buffer, or a new one).
CDB_SGATE_OTERM* kavu_route_state_machine_signal(CDB_STATE_MACHINE* machine, CDB_SGATE_NETLIST* netlist,
                                                 CDB_SGATE_OTERM* machine_oterm);
// Empties the hierarchy's machine list (freeing what it held), moves every
// partition netlist's machines into it and points them at the merged
// netlist's gates by debug number; a machine with no state gate left is
// dropped. A machine rebuilt from an archive refers to its gates directly
// and records their numbers first.
void kavu_recover_state_machines(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist,
                                 std::vector<CDB_SGATE_NETLIST*>& partitions);

// Boundary delays (kavu_partition_netlists_delay.cpp).
void kavu_annotate_boundary_delays(CDB_SGATE_NETLIST* netlist, KAVU_BOUNDARY_DELAY_MAP& delays);
// Writes each delay with the default expert's setter and marks it valid.
void kavu_apply_boundary_delays(CDB_SGATE_NETLIST* netlist, const KAVU_BOUNDARY_DELAY_MAP& delays);

// Report tables and the pin cache (kavu_partition_netlists_records.cpp).
// The report table for the record's name in the synthesis report's
// multiplexer-restructuring folder.
RDB_TABLE* kavu_get_mast_mux_table(KAVU_MAST_MUX_TABLE* table);
// Adds the rows of every partition's table, in partition order, to one
// report table and empties the partitions' tables.
void kavu_merge_mast_mux_tables(std::vector<CDB_SGATE_NETLIST*>& partitions);
void kavu_clear_boundary_port_cache(CDB_SGATE_NETLIST* netlist);
// Lists every IO pin whose pin-cache byte is clear.
void kavu_refresh_boundary_port_cache(CDB_SGATE_NETLIST* netlist);
