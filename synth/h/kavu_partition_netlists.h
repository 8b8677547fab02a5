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
#pragma once
#include <vector>

class CDB_SGATE_HIERARCHY;
class CDB_SGATE_ITERM;
class CDB_SGATE_NETLIST;
class CDB_SGATE_OTERM;
class CDB_STATE_MACHINE;
class CMP_FACADE;

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
  // Refreshes pointers when cleared and restores every recorded edge.
  void reconnect_partitions(CDB_SGATE_NETLIST* netlist);
  const std::vector<KAVU_PARTITION_CONNECTION>& get_connections() const { return m_connections; }
  bool pointers_cleared() const { return m_pointers_cleared; }
  // State machines moved out of the hierarchy by the split, as debug numbers.
  std::vector<CDB_STATE_MACHINE*>& get_machines() { return m_machines; }

 private:
  void clear_pointers();
  void refresh_pointers(CDB_SGATE_NETLIST* netlist);
  std::vector<KAVU_PARTITION_CONNECTION> m_connections;
  bool m_pointers_cleared = false;
  std::vector<CDB_STATE_MACHINE*> m_machines;
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
