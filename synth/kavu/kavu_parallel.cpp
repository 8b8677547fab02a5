// kavu_parallel.cpp — partition archives and the parallel driver.
#include "kavu_parallel.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

#include "atcl/atcl.h"
#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "cfg/cfg.h"
#include "cmp/cmp.h"
#include "cmp/ztk_rr_state.h"
#include "fio/fio.h"
#include "gen/gen.h"
#include "hdb/hdb.h"
#include "kavu_check.h"
#include "kavu_fib_manager.h"
#include "kavu_helper_dump.h"
#include "kavu_msg.h"
#include "msg/msg.h"
#include "pdb/pdb.h"
#include "synth_kavu__pdb.h"
#include "thr/thr_ipc.h"

namespace {

std::string format_text(const char* format, const char* type, int a, int b) {
  char buf[512];
  snprintf(buf, sizeof buf, format, type, a, b);
  return buf;
}

std::string archive_path(const std::string& base) {
  std::string dir = gen_get_db_dir_path();
  return (dir.empty() ? std::string(".") : dir) + "/" + base;
}

KAVU_INVALIDATION_SINK& invalidation_sink() {
  static KAVU_INVALIDATION_SINK sink;
  return sink;
}

}  // namespace

// ---------------------------------------------------------------- keys

bool kavu_parallel_key_is_on(const char* type, const char* word, bool dflt) {
  char key[256];
  snprintf(key, sizeof key, "p%s_%s", type, word);
  return cfg_is_on(key, dflt);
}

namespace {
int g_force_pipes = -1;
}

void kavu_parallel_force_named_pipes(int mode) { g_force_pipes = mode; }

bool kavu_use_named_pipes() {
  static const bool on = cfg_is_on("parallel_use_pipes", true);
  return g_force_pipes >= 0 ? g_force_pipes != 0 : on;
}

void kavu_parallel_set_invalidation_sink(KAVU_INVALIDATION_SINK sink) { invalidation_sink() = std::move(sink); }

void kavu_parallel_dump(CDB_SGATE_HIERARCHY* hierarchy, CDB_SGATE_NETLIST* netlist, const char* format,
                        const char* type, int a, int b) {
  if (!kavu_parallel_key_is_on(type, "dump", false) || !MSG_D::debug_messages_enabled("KAVU")) return;
  std::string name = format_text(format, type, a, b);
  if (KAVU_NETLIST_DUMPER dumper = kavu_get_netlist_dumper()) dumper(hierarchy, netlist, name.c_str());
  else kavu_debug("RTL dumper function hasn't been initialized. Call kavu_set_netlist_dumper first");
}

// ---------------------------------------------------------------- driver

std::vector<std::string> kavu_parallel_helper_command(CMP_FACADE* facade, const char* type, const char* step,
                                                      int helper, const std::string& dl_pipe,
                                                      const std::string& ul_pipe) {
  std::vector<std::string> argv = {"velmora_map", "--ipc_mode", "--parallel=1"};
  if (!cfg_is_on("parallel_monitor_memory", false)) argv.push_back("--disable_all_banners");
  if (tst_is_regtest_mode()) argv.push_back("-r");
  if (cfg_user_ini_is_on(12) || cfg_is_on("cmp_lower_priority", false)) argv.push_back("--lower_priority");
  // Directories and configuration the helper shares with this process.
  const std::vector<std::string>* arg_list = zexe_get_args_required_by_subthread();
  KAVU_CHECK(arg_list);
  argv.insert(argv.end(), arg_list->begin(), arg_list->end());
  if (facade && facade->is_recompile()) argv.push_back("--recompile");
  argv.push_back("--helper=" + std::to_string(helper));
  argv.push_back(std::string("--helper_type=") + type);
  argv.push_back(std::string("--helper_step=") + step);
  if (!dl_pipe.empty()) {
    argv.push_back("--dl_named_pipe=" + dl_pipe);
    argv.push_back("--ul_named_pipe=" + ul_pipe);
  }
  argv.push_back(facade ? facade->get_project_name() : std::string());
  argv.push_back("-c");
  argv.push_back(facade ? facade->get_revision_name() : std::string());
  return argv;
}

void kavu_parallel_launcher_thread(void* p) {
  std::unique_ptr<KAVU_PARALLEL_HELPER_ARGS> args(static_cast<KAVU_PARALLEL_HELPER_ARGS*>(p));
  // The flag is shared by every task of the run: read and cleared atomically.
  std::atomic_ref<bool> success(*args->success);
  if (!success.load()) return;
  THR_PROCESS_EXIT_CODE code;
  IPC_COMMAND ipc;
  // Worker threads print nothing: the parent reports the run's outcome.
  std::string cmd;
  for (const std::string& a : args->command) cmd += (cmd.empty() ? "" : " ") + a;
  if (!ipc.run_argv_with_named_pipe(args->command, ".", &code, args->use_pipes, args->dl_pipes, args->ul_pipes,
                                    args->num_processes, args->num_partitions)) {
    if (args->failure) *args->failure = "Failed to run: " + cmd;
    success.store(false);
  } else if (code.m_error != 0) {
    if (args->failure) *args->failure = "Failed with error code " + std::to_string(code.m_error) + ": " + cmd;
    success.store(false);
  }
}

bool kavu_parallel_run_partitions_in_processes(CMP_FACADE* facade, const char* type, const char* step,
                                               int num_partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_run_partitions_in_processes");
  if (num_partitions <= 0) {
    kavu_debug("Partitions %s run successfully", "were not");
    return false;
  }
  bool success = true;
  const bool parallel = kavu_parallel_key_is_on(type, "parallel", true);
  const bool pipes = kavu_use_named_pipes();
  const int threads = parallel ? std::min(num_partitions, PUT_PROCESSOR_MANAGER::get_max_threads(0x7fffffff)) : 1;
  const int processes = pipes ? threads : num_partitions;
  kavu_debug("Will run parallel job with %d processes", processes);

  // The flow package carries the helpers' messages; the run goes on without it.
  Tcl_Interp* interp = atcl_get_interpreter();
  KAVU_CHECK(interp != 0);
  if (atcl_package_require(interp, "flow", nullptr, true, true) != 0)
    kavu_debug("Failed to load flow for Parallel Synthesis");
  else
    kavu_debug("successfully loaded the flow package for Parallel Synthesis");

  std::vector<THR_NAMED_PIPE*> dl, ul;
  auto remove_pipes = [&]() {
    for (std::vector<THR_NAMED_PIPE*>* v : {&dl, &ul})
      for (THR_NAMED_PIPE*& pipe : *v) {
        if (pipe && !pipe->remove())
          kavu_debug("FAILED at removing pipe %s with error code %d", pipe->get_name().c_str(),
                     pipe->get_error_code());
        delete pipe;
        pipe = nullptr;
      }
  };
  if (pipes) {
    dl.assign(size_t(processes), nullptr);
    ul.assign(size_t(processes), nullptr);
    for (int i = 0; i < processes; ++i) {
      // The names are templates: creation fills them and retries atomically.
      dl[size_t(i)] = new THR_NAMED_PIPE(std::string("dl_pipe") + type + std::to_string(i) + "XXXXXX");
      ul[size_t(i)] = new THR_NAMED_PIPE(std::string("ul_pipe") + type + std::to_string(i) + "XXXXXX");
      THR_NAMED_PIPE* bad = !dl[size_t(i)]->create() ? dl[size_t(i)] : !ul[size_t(i)]->create_r() ? ul[size_t(i)] : nullptr;
      if (bad) {
        kavu_debug("FAILED in creating pipe %s with error code %d", bad->get_name().c_str(), bad->get_error_code());
        remove_pipes();
        return false;
      }
    }
  }
  std::vector<std::string> failures(static_cast<size_t>(processes));
  PUT_SPMD_JOB_VOID_PTR* job = PUT_SPMD_JOB_VOID_PTR::create_job(&kavu_parallel_launcher_thread, threads, false,
                                                                 nullptr, nullptr);
  for (int i = 0; i < processes; ++i) {
    auto* args = new KAVU_PARALLEL_HELPER_ARGS;
    args->command = kavu_parallel_helper_command(facade, type, step, i, pipes ? dl[size_t(i)]->get_name() : "",
                                                 pipes ? ul[size_t(i)]->get_name() : "");
    args->success = &success;
    args->use_pipes = pipes;
    args->dl_pipes = pipes ? dl.data() : nullptr;
    args->ul_pipes = pipes ? ul.data() : nullptr;
    args->num_processes = processes;
    args->num_partitions = num_partitions;
    args->failure = &failures[size_t(i)];
    job->add_task(args);
  }
  const bool insert = MSG_D::m_insert;
  MSG_D::m_insert = false;
  job->run();
  MSG_D::m_insert = insert;
  // Reported here, on the parent's thread, once the workers are done.
  for (const std::string& f : failures)
    if (!f.empty()) kavu_debug("%s", f.c_str());
  for (const std::string& line : ipc_take_helper_messages()) kavu_debug("Helper: %s", line.c_str());
  if (pipes) atcl_flush_queue(true, false);
  remove_pipes();
  kavu_debug("Partitions %s run successfully", success ? "were" : "were not");
  PUT_SPMD_JOB_VOID_PTR::destroy_job(job);
  return success;
}

// ---------------------------------------------------------------- archive names

std::string kavu_parallel_archive_name(const std::string& rev, const char* type, int number) {
  return archive_path(rev + "." + type + "_ap_" + std::to_string(number));
}

std::string kavu_parallel_removed_reg_archive_name(const std::string& rev, const char* type, int number) {
  return archive_path(rev + "." + type + "_removed_reg_ap_" + std::to_string(number));
}

// "<partition>_<type>_fibs_ap_<n>.parsynth": helpers of two partitions
// never share an archive. The partition name is escaped into one file-name
// part; without a hierarchy the partition part is empty.
std::string kavu_parallel_fibs_to_invalidate_db_name(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number) {
  const std::string partition =
      hierarchy ? kavu_llis_escape_file_part(KAVU_FIB_MANAGER::get_instance()->get_zhd_partition_name(hierarchy))
                : std::string();
  FIO_PATH path(archive_path(partition + "_" + type + "_fibs_ap_" + std::to_string(number)));
  if (*DBM_TYPE_PARSYNTH) path.extension(DBM_TYPE_PARSYNTH);
  return path.fullpath();
}

void kavu_parallel_remove_output_archives(const std::string& rev, CDB_SGATE_HIERARCHY* hierarchy,
                                          const char* type, int n) {
  for (int k = 0; k < n; ++k) {
    unlink((kavu_parallel_removed_reg_archive_name(rev, type, k) + ".cdb").c_str());
    unlink((kavu_parallel_fibs_to_invalidate_db_name(hierarchy, type, k) + ".cdb").c_str());
  }
}

// ---------------------------------------------------------------- archives

bool kavu_parallel_write_and_delete_partition(const std::string& rev, const char* type, int number,
                                              CDB_SGATE_NETLIST* netlist) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_write_and_delete_partition");
  KAVU_CHECK(netlist);
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_archive_name(rev, type, number), PDB_ARCHIVE::PDB_WRITE);
    void* ptr = netlist;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &ptr, 0, -1, 0);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;  // the netlist stays with the caller
  }
  delete netlist;
  return true;
}

bool kavu_parallel_read_partition(const std::string& rev, const char* type, int number,
                                  CDB_SGATE_NETLIST** partition_ptr, CDB_SGATE_HIERARCHY** hierarchy_ptr) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_read_partition");
  KAVU_CHECK(partition_ptr);
  *partition_ptr = nullptr;
  if (hierarchy_ptr) *hierarchy_ptr = nullptr;
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_archive_name(rev, type, number), PDB_ARCHIVE::PDB_READ);
    void* ptr = nullptr;
    pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_netlist_ptr_field, &ptr, nullptr,
                 "h/pdb_sys");
    archive.close();
    *partition_ptr = static_cast<CDB_SGATE_NETLIST*>(ptr);
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  if (!*partition_ptr) return false;
  (*partition_ptr)->prepare_for_use();
  return true;
}

void kavu_parallel_create_removed_reg_db(const std::string&, const char* type, int number) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_create_removed_reg_db");
  char name[256];
  snprintf(name, sizeof name, "reg_db_%s_%d", type, number);
  CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  KAVU_CHECK(reg_manager != NULL);
  CDB_SGATE_REMOVED_REGISTERS_DB* reg_db = reg_manager->create_removed_reg_db(name, 5000, 5000);
  KAVU_CHECK(reg_db);
  reg_manager->set_current_removed_reg_db(name);
}

bool kavu_parallel_write_and_delete_removed_reg_db(const std::string& rev, const char* type, int number) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_write_and_delete_removed_reg_db");
  CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  KAVU_CHECK(reg_manager != NULL);
  CDB_SGATE_REMOVED_REGISTERS_DB* reg_db = reg_manager->get_current_removed_reg_db();
  KAVU_CHECK(reg_db != NULL);
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_removed_reg_archive_name(rev, type, number), PDB_ARCHIVE::PDB_WRITE);
    void* ptr = reg_db;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_removed_regs_ptr_field, &ptr, 0, -1, 0);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  return true;
}

bool kavu_parallel_read_removed_reg_db(const std::string& rev, const char* type, int number,
                                       CDB_SGATE_REMOVED_REGISTERS_DB** db) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_read_removed_reg_db");
  KAVU_CHECK(db);
  *db = nullptr;
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_removed_reg_archive_name(rev, type, number), PDB_ARCHIVE::PDB_READ);
    void* ptr = nullptr;
    pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &cdb_sgate_removed_regs_ptr_field, &ptr, nullptr,
                 "h/pdb_sys");
    archive.close();
    *db = static_cast<CDB_SGATE_REMOVED_REGISTERS_DB*>(ptr);
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  return *db != nullptr;  // a missing database is a failure, never a null to merge
}

namespace {
void fibs_ptr_field(PDB_SEGMENT& seg, void* ptr_address) {
  seg.set_field(199, "ptr");
  seg.transfer_ptr(*static_cast<void**>(ptr_address), *KAVU_FIBS_TO_INVALIDATE::pdb_thunk());
}
}  // namespace

bool kavu_parallel_read_fibs_ptr(PDB_ARCHIVE& archive, KAVU_FIBS_TO_INVALIDATE*& owned) {
  // The record read replaces (and frees) the one held; nothing is leaked.
  void* ptr = owned;
  pdb_read_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &fibs_ptr_field, &ptr, nullptr, "h/pdb_sys");
  owned = static_cast<KAVU_FIBS_TO_INVALIDATE*>(ptr);
  return owned != nullptr;
}

bool kavu_parallel_read_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number,
                                           KAVU_FIBS_TO_INVALIDATE** fibs) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_read_fibs_to_invalidate");
  KAVU_CHECK(fibs);
  // The out pointer owns what it holds: freed here, never dropped.
  delete *fibs;
  *fibs = nullptr;
  bool ok = false;
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_fibs_to_invalidate_db_name(hierarchy, type, number), PDB_ARCHIVE::PDB_READ);
    ok = kavu_parallel_read_fibs_ptr(archive, *fibs);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    delete *fibs;
    *fibs = nullptr;
    return false;
  }
  return ok;
}

bool kavu_parallel_write_fibs_to_invalidate(CDB_SGATE_HIERARCHY* hierarchy, const char* type, int number,
                                            KAVU_FIBS_TO_INVALIDATE* fibs) {
  KAVU_CHECK(fibs);
  try {
    PDB_ARCHIVE archive;
    archive.open(kavu_parallel_fibs_to_invalidate_db_name(hierarchy, type, number), PDB_ARCHIVE::PDB_WRITE);
    void* ptr = fibs;
    pdb_write_ptr(archive, "", PDB_CDB_SEG_BASE::extension(), &fibs_ptr_field, &ptr, 0, -1, 0);
    archive.close();
  } catch (const PDB_DATABASE_EXCEPTION& e) {
    e.report();
    return false;
  }
  return true;
}

bool kavu_parallel_serialize(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
                             std::vector<CDB_SGATE_NETLIST*>& partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_serialize");
  if (!kavu_parallel_key_is_on(type, "pdb", true)) return true;
  const std::string rev = facade ? facade->get_revision_name() : std::string();
  std::vector<std::pair<size_t, size_t>> order;  // (position, size)
  for (size_t i = 0; i < partitions.size(); ++i) {
    KAVU_CHECK(partitions[i]);
    order.emplace_back(i, partitions[i]->get_node_list().size());
  }
  // Largest first; equal sizes by decreasing position.
  std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first > b.first;
  });
  bool ok = true;
  for (size_t k = 0; k < order.size() && ok; ++k) {
    CDB_SGATE_NETLIST* part = partitions[order[k].first];
    kavu_debug("Writing partition %d of size %d to pdb file %d", int(order[k].first), int(order[k].second), int(k));
    part->set_hierarchy(hierarchy);
    kavu_parallel_dump(hierarchy, part, "%s%d_part%d_before_pdb", type, step, int(k));
    ok = kavu_parallel_write_and_delete_partition(rev, type, int(k), part);
    if (ok) partitions[order[k].first] = nullptr;
    else kavu_debug("Failed to serialize partition %d", int(k));
  }
  if (ok) {
    partitions.clear();
    kavu_parallel_remove_output_archives(rev, hierarchy, type, int(order.size()));
    // The helpers find the design's names and options in the namespace archive.
    HDB_NAMESPACE* ns = facade ? facade->get_namespace() : kavu_platform::hdb_default_namespace();
    ok = HDB_NAMESPACE::write_pdb(ns, gen_get_db_dir_path(), true);
    if (!ok) kavu_debug("Failed to write the namespace archive");
  } else {
    // Keep every partition not written; the written ones live in archives.
    partitions.erase(std::remove(partitions.begin(), partitions.end(), nullptr), partitions.end());
  }
  if (kavu_parallel_key_is_on(type, "die_after_writing_partitions", false)) KAVU_INTERNAL_ERROR("As you wish.");
  return ok;
}

bool kavu_parallel_deserialize(CMP_FACADE* facade, const char* type, int step, CDB_SGATE_HIERARCHY* hierarchy,
                               std::vector<CDB_SGATE_NETLIST*>& partitions, int num_partitions) {
  GEN_PROFILER profiler("KAVU", "kavu_parallel_deserialize");
  CDB_SGATE_REMOVED_REGISTERS_MANAGER* reg_manager = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  KAVU_CHECK(reg_manager != NULL);
  CDB_SGATE_REMOVED_REGISTERS_DB* main_reg_db = reg_manager->get_current_removed_reg_db();
  KAVU_CHECK(main_reg_db != NULL);
  if (!partitions.empty()) {
    KAVU_CHECK((int)partitions.size() == num_partitions);
    return true;
  }
  const std::string rev = facade ? facade->get_revision_name() : std::string();
  const bool fibs_on = kavu_llis_is_generating_databases();
  bool ok = true;
  for (int k = 0; k < num_partitions && ok; ++k) {
    CDB_SGATE_NETLIST* part = nullptr;
    ok = kavu_parallel_read_partition(rev, type, k, &part, nullptr);
    if (!ok) {
      kavu_debug("Failed to deserialize partition %d", k);
      break;
    }
    kavu_parallel_dump(hierarchy, part, "%s%d_part%d_after_pdb", type, step, k);
    part->set_hierarchy(hierarchy);
    partitions.push_back(part);
    CDB_SGATE_REMOVED_REGISTERS_DB* db = nullptr;
    ok = kavu_parallel_read_removed_reg_db(rev, type, k, &db);
    if (!ok) {
      kavu_debug("Failed to deserialize removed register db of partition %d", k);
      break;
    }
    kavu_debug("Printing removed register stats for partition %d", k);
    kavu_debug("fanoutless registers %d, stuck registers %d, merged registers %d", db->get_fanoutless_count(),
               db->get_stuck_count(), db->get_merged_count());
    main_reg_db->merge_with(db);
    delete db;
    if (!fibs_on) continue;  // a skipped step does not stop the loop
    KAVU_FIBS_TO_INVALIDATE* fibs = nullptr;
    ok = kavu_parallel_read_fibs_to_invalidate(hierarchy, type, k, &fibs);
    if (!ok) {
      kavu_debug("Failed to deserialize fibs to invalidate of partition %d", k);
      break;
    }
    // The parent's manager applies what the helper invalidated.
    if (hierarchy && kavu_has_fib_manager()) kavu_use_fib_manager().invalidate_name_set(hierarchy, &fibs->m_fibs);
    if (invalidation_sink()) invalidation_sink()(hierarchy, *fibs);
    delete fibs;
  }
  return ok;
}
