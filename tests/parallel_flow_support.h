// parallel_flow_support.h — whole parallel runs on small bundled designs for
// the rows that run them in a process of their own: the run's scope, a
// design split into its partitions, the README's flow with its recovery,
// and a forked process watched for a hang.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cmp/cmp.h"
#include "gen/gen.h"
#include "kavu_parallel.h"
#include "kavu_partition.h"
#include "kavu_partition_netlists.h"
#include "msg/msg.h"
#include "netlist_io/simulator.h"
#include "partition_test_support.h"
#include "platform_testkit.h"
#include "signal_test_support.h"

// The helper from the build tree, archives in the working directory, and
// the current removed-register database the read-back needs.
struct FLOW_SCOPE : PARTITION_TEST_SCOPE {
  CMP_FACADE facade;
  kavu_platform::CFG_SCOPE cfg{{"helper_binary_dir", KAVU_HELPER_DIR}, {"parallel_pipe_timeout_s", "20"}};
  FLOW_SCOPE() {
    kavu_platform::gen_set_db_dir_path(std::filesystem::current_path().string());
    facade.set_project_name("signals");
    facade.set_revision_name("rev 1");
    auto* m = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
    m->create_removed_reg_db("main", 5000, 5000);
    m->set_current_removed_reg_db("main");
  }
};

// A bundled design, partitioned and split into its partition netlists.
struct SPLIT_DESIGN {
  kavu_platform::LOADED_NETLIST loaded;
  std::vector<CDB_SGATE_NETLIST*> parts;
  KAVU_PARTITION_BOUNDARIES boundaries;
  int n = 0;  // partitions made by the split
  explicit SPLIT_DESIGN(const char* name) : loaded(kavu_platform::load_blif(name)) {}
  SPLIT_DESIGN(const char* name, int partitions) : SPLIT_DESIGN(name) { split(partitions); }
  void split(int partitions) {
    KAVU_PARTITIONER partitioner;
    partitioner.partition_on_reg_boundary(loaded.get(), nullptr, partition_params(partitions), false);
    kavu_get_partition_netlists(parts, loaded.get(), nullptr, nullptr, boundaries, false);
    n = int(parts.size());
  }
  // Merges the partitions in `parts` back and, when asked, takes the
  // boundary gates out.
  void merge_back(bool remove_boundaries) {
    kavu_merge_netlists(parts, loaded.get(), nullptr, boundaries);
    if (remove_boundaries) kavu_delete_partition_on_reg_boundary(loaded.get());
  }
};

// Whether another open file of the database directory's lock file takes its
// lock at once, as another process's run would.
inline bool db_lock_is_free() {
  const int fd = open((gen_get_db_dir_path() + "/parallel_synthesis.lock").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);
  return free;
}

// The errors posted since the log was last cleared, one a line.
inline std::string posted_errors() {
  std::string errors;
  for (const kavu_platform::MSG_LOG_ENTRY& e : kavu_platform::msg_log())
    if (e.kind == kavu_platform::MSG_LOG_ERROR) errors += e.text + "\n";
  return errors;
}

// The README's run of a split design: write, helpers, read back and, when
// that fails, every written partition from its helper's result or its kept
// copy. True when every partition came back synthesized; *recovered tells
// whether every partition came back at all.
inline bool run_split(CMP_FACADE* facade, SPLIT_DESIGN& d, bool* recovered = nullptr) {
  const int n = d.n;
  bool ok = kavu_parallel_serialize(facade, "map", 1, nullptr, d.parts);
  const int written = n - int(d.parts.size());
  ok = ok && kavu_parallel_run_partitions_in_processes(facade, "map", "1", n) &&
       kavu_parallel_deserialize(facade, "map", 1, nullptr, d.parts, n);
  bool all = true;
  if (!ok) {
    if (written == n) {
      for (CDB_SGATE_NETLIST* p : d.parts) delete p;
      d.parts.clear();
    }
    all = kavu_parallel_recover_partitions(facade, "map", d.parts, written);
  }
  if (recovered) *recovered = all;
  return ok;
}

// Function kept: a short random simulation, enough to see a partition lost,
// doubled or joined at the wrong boundaries (the full one costs a run's time
// twice over).
inline bool same_function(const CDB_SGATE_NETLIST* golden, const CDB_SGATE_NETLIST* design, std::string* why = nullptr) {
  return kavu_platform::sim_equivalent(golden, design, kavu_platform::SIM_COMPARE{8, 8, 1}, why);
}

// How one whole run of a design went.
struct FLOW_OUTCOME {
  bool synthesized = false;  // every partition came back synthesized
  bool whole = false;        // every partition came back and the design kept its function
  std::string errors;        // the errors posted, one a line
};

// One whole run on two partitions of `design`, merged back.
inline FLOW_OUTCOME run_design(CMP_FACADE* facade, const char* design = "seq/diffeq1") {
  const kavu_platform::LOADED_NETLIST golden = kavu_platform::load_blif(design);
  SPLIT_DESIGN d(design);
  kavu_platform::msg_log_clear();  // what the flow says, from its partitioning on
  d.split(2);
  FLOW_OUTCOME out;
  bool recovered = false;
  out.synthesized = run_split(facade, d, &recovered);
  if (recovered) d.merge_back(true);
  out.errors = posted_errors();
  std::string differs;
  out.whole = recovered && same_function(golden.get(), d.loaded.get(), &differs);
  if (recovered && !out.whole) out.errors += "the design's function changed: " + differs + "\n";
  return out;
}

// run_design as one answer: true when the run synthesized the design whole;
// the errors posted go into *errors.
inline bool run_flow(CMP_FACADE* facade, std::string* errors, const char* design = "seq/diffeq1") {
  const FLOW_OUTCOME out = run_design(facade, design);
  *errors += out.errors;
  return out.synthesized && out.whole;
}

// Waits up to 20 s for `ready`, polling: false when it never came.
inline bool wait_for(const std::function<bool()>& ready) {
  for (int k = 0; k < 2000; ++k) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ready();
}

// Makes `dir` a directory for the key "helper_binary_dir" whose helper
// stands in front of the built one: it sends the signal named in the
// environment variable KAVU_TEST_SIGNAL_PARENT (when set: "INT", "HUP") to
// the process that started it (the parent of its keeper, see
// thr_start_own_child), makes the file "<dir>/starting", and runs the
// built helper only once "<dir>/go" is there. A row so acts after the run
// made its named pipes and before any helper opened them. False when the
// directory cannot be made.
inline bool hold_helpers_in(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string program = dir + "/velmora_map";
  FILE* f = std::fopen(program.c_str(), "w");
  if (!f) return false;
  std::fprintf(f,
               "#!/bin/sh\n"
               "here=\"$(dirname \"$0\")\"\n"
               "host=$(sed 's/.*) //' /proc/$PPID/stat | cut -d' ' -f2)\n"  // the keeper's parent
               "[ -n \"$KAVU_TEST_SIGNAL_PARENT\" ] && kill -s \"$KAVU_TEST_SIGNAL_PARENT\" \"$host\"\n"
               ": > \"$here/starting\"\n"
               "while [ ! -e \"$here/go\" ]; do sleep 0.01; done\n"
               "exec \"%s/velmora_map\" \"$@\"\n",
               KAVU_HELPER_DIR);
  std::fclose(f);
  return chmod(program.c_str(), 0755) == 0;
}
