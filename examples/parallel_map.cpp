// Splits a BLIF design into four partitions, synthesizes them in four helper
// processes (velmora_map), merges the results back and writes the design.
// Usage: parallel_map IN.blif OUT.blif
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "dev/dev.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "kavu_setup.h"       // kavu_min_netlist_size
#include "netlist_io/blif.h"  // blif_read_file, blif_write_file
using namespace kavu_platform;

int main(int argc, char** argv) {
  if (argc != 3) return std::fprintf(stderr, "usage: %s IN.blif OUT.blif\n", argv[0]), 2;
  std::signal(SIGXFSZ, SIG_IGN);  // past a file-size limit a write fails; the program goes on
  BLIF_RESULT in = blif_read_file(argv[1]);
  for (const std::string& warning : in.warnings) std::fprintf(stderr, "warning: %s\n", warning.c_str());
  if (!in.netlist) return std::fprintf(stderr, "%s\n", in.error.c_str()), 1;
  CDB_SGATE_NETLIST* netlist = in.netlist;
  CDB_SGATE_HIERARCHY* hierarchy = in.hierarchy;

  // The compile: family, base family, and the project and revision that
  // name the archives (written under gen_get_db_dir_path(), "./db").
  CMP_FACADE facade;
  facade.set_family(DEV_FAMILY_ENUM(47));
  facade.set_base_family(DEV_FAMILY_MANAGER::get_base_family(facade.get_family()));
  facade.set_project_name("example");
  facade.set_revision_name("example");
  ZCU_FACADE_UTIL::get_instance()->set_facade(&facade);
  // The helpers record the registers they remove; their records are merged
  // into the current removed-register database.
  auto* removed = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  removed->create_removed_reg_db("main", 1024, 1024);
  removed->set_current_removed_reg_db("main");
  cfg_set_value("put_max_threads", "4");  // four helpers at once
  kavu_min_netlist_size = 0;              // split even a design below 20000 gates

  SYNTH::KAVU::PARTITIONING_PARAMS params;
  params.set_param("num_partitions", 4);
  KAVU_PARTITIONER().partition_on_reg_boundary(netlist, hierarchy, params, false);
  KAVU_PARTITION_BOUNDARIES boundaries;
  std::vector<CDB_SGATE_NETLIST*> parts;
  kavu_get_partition_netlists(parts, netlist, hierarchy, &facade, boundaries, false);
  const int n = int(parts.size());
  bool ok = kavu_parallel_serialize(&facade, "map", 1, hierarchy, parts);  // the archives
  // A failed write leaves in `parts` the partitions not written; archives
  // 0..written-1 (each with its kept copy) hold the others.
  const int written = n - int(parts.size());
  ok = ok && kavu_parallel_run_partitions_in_processes(&facade, "map", "1", n)  // the helpers
       && kavu_parallel_deserialize(&facade, "map", 1, hierarchy, parts, n);   // read back
  if (!ok) {  // every written partition back, from its helper's result or its kept copy
    if (written == n) {  // the read-back's partitions are taken again by the recovery
      for (CDB_SGATE_NETLIST* part : parts) delete part;
      parts.clear();
    }
    if (!kavu_parallel_recover_partitions(&facade, "map", parts, written)) {
      std::fprintf(stderr, "parallel_map: a partition is lost; the design is not written\n");
      for (CDB_SGATE_NETLIST* part : parts) delete part;
      delete netlist;
      delete hierarchy;
      return 1;
    }
  }
  kavu_merge_netlists(parts, netlist, hierarchy, boundaries);
  if (!parts.empty()) {  // the merge was refused memory: the design is not whole
    std::fprintf(stderr, "parallel_map: the partitions cannot be merged; the design is not written\n");
    for (CDB_SGATE_NETLIST* part : parts) delete part;
    delete netlist;
    delete hierarchy;
    return 1;
  }
  kavu_delete_partition_on_reg_boundary(netlist);
  std::printf("%d partitions, %s; %d registers removed\n", n, ok ? "synthesized" : "recovered after a failure",
              removed->get_current_removed_reg_db()->get_fanoutless_count());

  std::string error;
  ok = blif_write_file(netlist, argv[2], {}, &error) && ok;
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  delete netlist;
  delete hierarchy;
  return ok ? 0 : 1;
}
