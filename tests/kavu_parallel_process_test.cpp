// Parallel runs in the caller's process, as a host with threads and
// workers of its own sees them: a worker the caller forks at any stage of a
// run starts with no run of its parent's and synthesizes its own; a run left
// between its split and its merge holds the process only while its design
// lives; a thread the system refuses fails the step that needed it, the
// design whole; a run refused beside another says so when the call returns.
// Each row runs in a process of its own.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kavu_01tbl.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_dump.h"
#include "kavu_seq_timer.h"
#include "mem/mem.h"
#include "parallel_flow_support.h"

using namespace kavu_platform;

#ifdef KAVU_UNDER_ASAN
extern "C" int __lsan_is_turned_off();
#endif

namespace {

namespace fs = std::filesystem;

const std::string kRefusal = "the partitions of another design are out in this process";

bool exists(const std::string& path) { return fs::exists(path); }

void touch(const std::string& path) {
  if (FILE* f = std::fopen(path.c_str(), "w")) std::fclose(f);
}

// The database directory, where helpers held by the fault "wait" have not
// been let go yet.
std::string db_dir_without_held_helpers() {
  const std::string db = gen_get_db_dir_path();
  for (const char* file : {"/helper_waits", "/helper_go"}) unlink((db + file).c_str());
  return db;
}

// The dumper a partitioning run calls while it holds the flow's turn: it
// says so and lets the run go on a little later.
std::atomic<bool> g_in_partitioning{false};
void pause_in_partitioning(CDB_SGATE_HIERARCHY*, CDB_SGATE_NETLIST*, const char* stage) {
  if (std::string(stage) != "after_initial") return;
  g_in_partitioning = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
}
void no_dump(CDB_SGATE_HIERARCHY*, CDB_SGATE_NETLIST*, const char*) {}

// Set in a worker forked mid-run that ends with exit(): it holds its
// parent's memory in flight, which its leak check would take for lost.
std::atomic<bool> g_no_leak_check{false};

// What a host runs in its own process beside a parallel run (the helpers
// map): the timing analysis, the enables unmapped, the resynthesis
// settings. "" when each ran.
std::string run_services_in_process() {
  const LOADED_NETLIST nl = load_blif("seq/ch_intrinsics");
  {
    KAVU_SEQ_TIMER timer("t", nl.get(), nullptr, 2, 200, nullptr);
    timer.calculate_best_cycle_time();
  }
  kavu_unmap_all_enables(nl.get());
  (void)kavu_01tbl_resyn_settings();
  return "";
}

// A forked worker's own flow, of a design it loads, in a database
// directory of its own, with no helper fault, and the services a host runs
// in its process: "" when it synthesized the design whole and each ran.
std::string run_workers_own_flow(CMP_FACADE* facade) {
  char dir[] = "worker_XXXXXX";
  if (!mkdtemp(dir)) return "no directory for the worker";
  gen_set_db_dir_path((fs::current_path() / dir).string());
  cfg_unset_value("helper_fault");
  kavu_set_netlist_dumper(no_dump);
  std::string errors;
  if (!run_flow(facade, &errors)) return "the worker's flow failed: " + errors;
  return run_services_in_process();
}

// A worker forked from this process on this thread, running its own flow:
// "" when that synthesized within 60 s.
std::string fork_worker_and_run_its_flow(CMP_FACADE* facade) {
  return in_child([facade] { return run_workers_own_flow(facade); }, 60);
}

// ---- a fork at each one-time set-up of a fresh process's first flow

// Set in the process that runs KavuParallelProcess.FirstFlowOfAFreshProcess.
const char* const kFreshProcess = "KAVU_TEST_FIRST_FLOW_FORKS";

// The set-ups the first flow met, each held open by the hook until a
// worker was forked from another thread (or a while, where the fork waits
// for the thread that holds it: the flow's turn).
struct HELD_SETUPS {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> met;
  size_t forked = 0;
  bool flow_over = false;
  pid_t process = 0;  // the hook acts in this process only, never in a worker
};
HELD_SETUPS g_held;

void hold_setup_for_a_fork(const char* what) {
  if (getpid() != g_held.process) return;
  std::unique_lock<std::mutex> lock(g_held.mutex);
  g_held.met.push_back(what);
  const size_t k = g_held.met.size();
  g_held.changed.notify_all();
  g_held.changed.wait_for(lock, std::chrono::milliseconds(300), [&] { return g_held.forked >= k; });
}

}  // namespace

// The body of the row below, run in a process of its own (a fresh process's
// first flow): prints "met <set-up>" for each set-up met, "hung <set-up>" or
// "failed <set-up>" for each worker forked there that hung or failed, and
// "flow failed" when the host's flow did.
TEST(KavuParallelProcess, FirstFlowOfAFreshProcess) {
  if (!std::getenv(kFreshProcess)) GTEST_SKIP() << "the body of AWorkerForkedAtEachSetUpOfTheFirstFlowSynthesizes";
  FLOW_SCOPE scope;
  g_held.process = getpid();
  struct WORKER {
    pid_t pid;
    std::string at;
  };
  std::vector<WORKER> workers;
  std::thread forker([&] {
    std::unique_lock<std::mutex> lock(g_held.mutex);
    for (;;) {
      g_held.changed.wait(lock, [&] { return g_held.flow_over || g_held.met.size() > g_held.forked; });
      if (g_held.met.size() <= g_held.forked) return;
      const std::string at = g_held.met[g_held.forked];
      lock.unlock();
      const pid_t pid = fork();
      if (pid == 0) _exit(run_workers_own_flow(&scope.facade).empty() ? 0 : 1);
      lock.lock();
      workers.push_back({pid, at});
      ++g_held.forked;
      g_held.changed.notify_all();
    }
  });
  thr_test_set_setup_hook(hold_setup_for_a_fork);
  const FLOW_OUTCOME host = run_design(&scope.facade, "seq/ch_intrinsics");
  const std::string services = run_services_in_process();
  thr_test_set_setup_hook(nullptr);
  {
    std::lock_guard<std::mutex> lock(g_held.mutex);
    g_held.flow_over = true;
    g_held.changed.notify_all();
  }
  forker.join();
  std::ostringstream out;
  for (const std::string& at : g_held.met) out << "met " << at << "\n";
  if (!host.synthesized || !host.whole || !services.empty()) out << "flow failed " << services << "\n";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (const WORKER& w : workers) {
    int status = 0;
    while (waitpid(w.pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(w.pid, &status, WNOHANG) == 0) {
      kill(w.pid, SIGKILL);
      waitpid(w.pid, &status, 0);
      out << "hung " << w.at << "\n";
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      out << "failed " << w.at << "\n";
    }
  }
  std::printf("%s", out.str().c_str());
  std::fflush(stdout);
}

// A host forks a worker (no exec) from another thread at each moment its
// process's first flow makes a one-time set-up of the library or the layer
// (held open meanwhile); every worker synthesizes its own design, none
// waits, and the host's flow synthesizes. The set-ups were made at their
// first use inside the flow (the flow's turn with its fork handlers, the
// child's handler, the archive tables, record types, the database
// directory, keys read once), so a worker forked while another thread made
// one found it half made: it waited for ever for the static being built, in
// its first flow or inside fork() itself. Now they are made as the
// libraries load; what a flow still reads at first use (a key, the
// resynthesis settings) needs no wait. Host and workers also run what a
// host runs in its own process (the timing analysis, the enables unmapped),
// whose keys were such statics.
TEST(KavuParallelProcess, AWorkerForkedAtEachSetUpOfTheFirstFlowSynthesizes) {
#ifdef KAVU_UNDER_ASAN
  // The sanitizer's allocator is not kept whole across a fork while another
  // thread of the flow allocates: the worker can wait in it for ever.
  GTEST_SKIP() << "ASan's allocator is not fork-safe while other threads allocate";
#endif
  int said[2];
  ASSERT_EQ(pipe(said), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(said[0]);
    dup2(said[1], 1);
    setenv(kFreshProcess, "1", 1);
    execl("/proc/self/exe", "kavu_tests", "--gtest_filter=KavuParallelProcess.FirstFlowOfAFreshProcess",
          "--gtest_brief=1", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(said[1]);
  std::string text;
  std::thread reader([&] { text = read_to_end(said[0]); });
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  reader.join();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the host's process ended with " << status << "\n" << text;
  EXPECT_EQ(text.find("flow failed"), std::string::npos) << text;
  EXPECT_EQ(text.find("hung "), std::string::npos) << text;
  EXPECT_EQ(text.find("failed "), std::string::npos) << text;
}

// A host with a thread of its own forks a worker (no exec) while a run of
// its, on another thread, is at each stage; the worker's own flow
// synthesizes and none hangs, and the parent's run goes on. The worker
// waited for ever for the flow's mutex copied locked (partitioning) or for
// the lock table's (the wait for another process's run), and a worker forked
// while the partitions were out was refused for its life ("the partitions
// of another design are out in this process").
TEST(KavuParallelProcess, AWorkerForkedAtEveryStageOfARunSynthesizesItsOwn) {
  enum STAGE { PARTITIONING, SPLIT, WAITING_FOR_LOCK, WRITTEN, HELPERS };
  const struct {
    const char* what;
    STAGE stage;
  } rows[] = {
      {"while the run partitions", PARTITIONING},
      {"with the partitions out, in memory", SPLIT},
      {"while the run waits for another process's run", WAITING_FOR_LOCK},
      {"with the partitions in their archives", WRITTEN},
      {"while the helpers run", HELPERS},
  };
  FLOW_SCOPE scope;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(in_child([&]() -> std::string {
                CFG_SCOPE cfg{{"kavu_partitioner_dump_netlists", "on"},
                              {"helper_fault", row.stage == HELPERS ? "wait" : nullptr}};
                kavu_set_netlist_dumper(row.stage == PARTITIONING ? pause_in_partitioning : no_dump);
                const std::string db = db_dir_without_held_helpers();
                int other_run = -1;  // another process's run: its lock on the directory
                if (row.stage == WAITING_FOR_LOCK) {
                  other_run = open((db + "/parallel_synthesis.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
                  if (other_run < 0 || flock(other_run, LOCK_EX) != 0) return "cannot hold the lock";
                }
                std::atomic<bool> at_stage{false}, forked{false}, run_ended{false};
                auto stop_at = [&](STAGE s) {
                  if (s != row.stage) return;
                  at_stage = true;
                  wait_for([&] { return forked.load(); });
                };
                FLOW_OUTCOME parent;
                std::thread run([&] {
                  const LOADED_NETLIST golden = load_blif("seq/diffeq1");
                  SPLIT_DESIGN d("seq/diffeq1");
                  d.split(2);
                  stop_at(SPLIT);
                  const int n = d.n;
                  bool ok = kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, d.parts);
                  stop_at(WRITTEN);
                  ok = ok && kavu_parallel_run_partitions_in_processes(&scope.facade, "map", "1", n) &&
                       kavu_parallel_deserialize(&scope.facade, "map", 1, nullptr, d.parts, n);
                  parent.synthesized = ok;
                  if (ok) {
                    d.merge_back(true);
                    parent.whole = same_function(golden.get(), d.loaded.get());
                  }
                  parent.errors = posted_errors();
                  run_ended = true;
                });
                auto waits_for_other_run = [] {
                  for (const MSG_LOG_ENTRY& e : msg_log())
                    if (e.text.find("waits for another run") != std::string::npos) return true;
                  return false;
                };
                auto reached = [&] {
                  switch (row.stage) {
                    case PARTITIONING: return g_in_partitioning.load();
                    case WAITING_FOR_LOCK: return waits_for_other_run();
                    case HELPERS: return exists(db + "/helper_waits");
                    default: return at_stage.load();
                  }
                };
                wait_for([&] { return reached() || run_ended.load(); });
                // Partitioning that read its dump switch before this process
                // (tests run in one process) is never paused: nothing to fork in.
                std::string why = reached() ? fork_worker_and_run_its_flow(&scope.facade)
                                  : row.stage == PARTITIONING ? "" : "the run never reached the stage";
                forked = true;
                if (other_run >= 0) close(other_run);
                touch(db + "/helper_go");
                run.join();
                kavu_set_netlist_dumper(no_dump);
                if (!why.empty()) return why;
                return parent.synthesized && parent.whole ? "" : "the parent's run failed: " + parent.errors;
              }, 120),
              "");
  }
}

// A worker the caller forks while the helpers start, and which leaves by
// exit() (its inherited exit functions run), removes none of its parent's
// named pipes: the run synthesizes.
TEST(KavuParallelProcess, AForkedWorkersExitLeavesTheRunsPipes) {
  FLOW_SCOPE scope;
  EXPECT_EQ(in_child([&]() -> std::string {
              const std::string held = fs::current_path().string() + "/held";
              if (!hold_helpers_in(held)) return "cannot make the held helper";
              CFG_SCOPE helper{{"helper_binary_dir", held.c_str()}};
              std::thread worker([&] {
                wait_for([&] { return exists(held + "/starting"); });
                const pid_t pid = fork();
                if (pid == 0) {
                  g_no_leak_check = true;
                  exit(0);
                }
                waitpid(pid, nullptr, 0);
                touch(held + "/go");
              });
              std::string errors;
              const bool ok = run_flow(&scope.facade, &errors);
              worker.join();
              return ok ? "" : "the run failed: " + errors;
            }, 120),
            "");
}

// A run that never reaches its merge holds the process only while its
// design lives. Left by the caller's exception after the split or after the
// helpers, or by the README's recovery that lost a partition (after which
// the example deletes the design): while the design is kept, another
// design's flow is refused, its design whole, the process reports parallel
// synthesis, and the directory's lock stays held where the partitions are
// in their archives; once the design is destroyed, another design's flow
// synthesizes, nothing reports parallel synthesis, and another process's run
// takes the directory's lock at once. The destroyed design's run held all
// this for the host's life (another process's run waited), and a design
// made later where it lay passed the refusal and ended the host ("Can't
// create new names in parallel").
TEST(KavuParallelProcess, ARunLeftBeforeItsMergeHoldsTheProcessOnlyWhileItsDesignLives) {
  enum LEFT { AFTER_SPLIT, AFTER_HELPERS, LOST_PARTITION };
  const struct {
    const char* what;
    LEFT left;
  } ways[] = {
      {"an exception after the split", AFTER_SPLIT},
      {"an exception after the helpers", AFTER_HELPERS},
      {"recovery that lost a partition", LOST_PARTITION},
  };
  FLOW_SCOPE scope;
  for (const auto& way : ways)
    for (const bool destroyed : {false, true}) {
      SCOPED_TRACE(std::string(way.what) + (destroyed ? ", the design destroyed" : ", the design kept"));
      EXPECT_EQ(in_child([&]() -> std::string {
                  auto* left = new SPLIT_DESIGN("seq/ch_intrinsics", 2);
                  if (way.left != AFTER_SPLIT) {
                    CFG_SCOPE fault{{"helper_fault", way.left == LOST_PARTITION ? "exit3" : nullptr}};
                    const int n = left->n;
                    if (kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, left->parts))
                      kavu_parallel_run_partitions_in_processes(&scope.facade, "map", "1", n);
                    if (way.left == LOST_PARTITION) {
                      // Partition 0 is gone from the directory: its result and its kept copy.
                      const std::string rev = scope.facade.get_revision_name();
                      for (const std::string& name : {kavu_parallel_archive_name(rev, "map", 0),
                                                      kavu_parallel_kept_archive_name(rev, "map", 0)})
                        unlink((name + ".cdb").c_str());
                      if (kavu_parallel_recover_partitions(&scope.facade, "map", left->parts, n))
                        return "partition 0 was recovered";
                    }
                  }
                  if (destroyed) {
                    for (CDB_SGATE_NETLIST* p : left->parts) delete p;
                    delete left;
                  }
                  const bool lock_held = !destroyed && way.left == AFTER_HELPERS;
                  if (cdb_sgate_synthesis_is_running_in_parallel() == destroyed)
                    return destroyed ? "the process still reports parallel synthesis"
                                     : "the process no longer reports parallel synthesis";
                  if (db_lock_is_free() == lock_held)
                    return lock_held ? "the directory's lock is free" : "the directory's lock is still held";
                  const FLOW_OUTCOME other = run_design(&scope.facade, "seq/diffeq1");
                  const bool refused = other.errors.find(kRefusal) != std::string::npos;
                  if (!other.whole) return "the other design did not come back whole: " + other.errors;
                  if (destroyed && !other.synthesized) return "the other design's flow failed: " + other.errors;
                  if (!destroyed && !refused) return "the other design's flow was not refused: " + other.errors;
                  return "";
                }, 120),
                "");
    }
}

// A thread the system refuses, after k threads of a run started, fails the
// step that needed it with an error that says so and ends nothing else: the
// partitions not written stay in memory, those written come back from their
// kept copies, and the design keeps its function. The refusal
// (std::system_error) ended the host: "terminate called ...".
TEST(KavuParallelProcess, AThreadTheSystemRefusesFailsTheStepNotTheHost) {
  FLOW_SCOPE scope;
  CFG_SCOPE threads{{"put_max_threads", "2"}};
  int writes_refused = 0, helpers_refused = 0, synthesized = 0;
  // A run of two partitions on two threads starts its archive writers (2:
  // the first refused, or the second, the first then stopped), the thread that deletes what
  // was written (1; refused, the caller's thread deletes), the helpers'
  // runner (1) and the job's threads (2: the second refused, none runs).
  for (const int k : {0, 1, 2, 4, 6}) {
    SCOPED_TRACE("threads started before the refusal: " + std::to_string(k));
    const std::string outcome = in_child([&]() -> std::string {
      thr_test_refuse_threads_after(k);
      const FLOW_OUTCOME out = run_design(&scope.facade);
      thr_test_refuse_threads_after(-1);
      if (!out.whole) return "the design did not come back whole: " + out.errors;
      if (out.synthesized) return "synthesized";
      if (out.errors.find("cannot start a thread: Resource temporarily unavailable") == std::string::npos)
        return "the failure does not say a thread was refused: " + out.errors;
      if (out.errors.find("cannot write the partitions") != std::string::npos) return "write refused";
      if (out.errors.find("cannot start its helpers") != std::string::npos) return "helpers refused";
      return "another failure: " + out.errors;
    }, 60);
    writes_refused += outcome == "write refused";
    helpers_refused += outcome == "helpers refused";
    synthesized += outcome == "synthesized";
    EXPECT_TRUE(outcome == "write refused" || outcome == "helpers refused" || outcome == "synthesized") << outcome;
  }
  // Each step that starts threads was refused in some row, and a run with
  // enough of them synthesized.
  EXPECT_GT(writes_refused, 0);
  EXPECT_GT(helpers_refused, 0);
  EXPECT_GT(synthesized, 0);
}

// Another design's flow refused while a run's helpers run (messages held
// back meanwhile) has its refusal in the log when the call returns, with
// pipes and without. It came only once the other run's helpers ended, and
// without pipes not at all.
TEST(KavuParallelProcess, ARefusalWhileAnotherRunsHelpersRunIsPostedAtOnce) {
  FLOW_SCOPE scope;
  for (const bool pipes : {true, false}) {
    SCOPED_TRACE(pipes ? "with pipes" : "without pipes");
    EXPECT_EQ(in_child([&]() -> std::string {
                CFG_SCOPE wait{{"helper_fault", "wait"}};
                kavu_parallel_force_named_pipes(pipes ? 1 : 0);
                SPLIT_DESIGN other("seq/ch_intrinsics");  // loaded before the run makes names
                const std::string db = db_dir_without_held_helpers();
                FLOW_OUTCOME first;
                std::thread run([&] { first = run_design(&scope.facade); });
                std::string why = wait_for([&] { return exists(db + "/helper_waits"); }) ? "" : "no helper waits";
                if (why.empty()) {
                  KAVU_PARTITIONER().partition_on_reg_boundary(other.loaded.get(), nullptr, partition_params(2), false);
                  bool posted = false;
                  for (const MSG_LOG_ENTRY& e : msg_log()) posted |= e.text.find(kRefusal) != std::string::npos;
                  if (!posted) why = "the refusal is not in the log when the call returns";
                }
                touch(db + "/helper_go");
                run.join();
                kavu_parallel_force_named_pipes(-1);
                if (!why.empty()) return why;
                return first.synthesized && first.whole ? "" : "the first run failed: " + first.errors;
              }, 120),
              "");
  }
}

namespace {

// The README's flow of `design` (2 partitions) with `extra` bytes of
// address space left above what the process holds once the design is
// loaded: "synthesized", "recovered" (every partition back from its kept
// copy), "refused" (a failure, said, that lost the design), or what went
// wrong. A merge refused memory is made again once the limit is gone, as a
// caller that finds partitions left after it does.
std::string flow_with_address_space_left(CMP_FACADE* facade, const char* design, size_t extra, bool after_a_flow) {
  if (after_a_flow) {  // a host that has run a flow before: its heap is another shape
    SPLIT_DESIGN first(design, 2);
    run_split(facade, first);
    kavu_merge_netlists(first.parts, first.loaded.get(), nullptr, first.boundaries);
    kavu_delete_partition_on_reg_boundary(first.loaded.get());
  }
  const LOADED_NETLIST golden = load_blif(design);
  SPLIT_DESIGN d(design);
  msg_log_clear();
  struct rlimit unlimited {};
  getrlimit(RLIMIT_AS, &unlimited);
  struct rlimit limited = unlimited;
  limited.rlim_cur = mem_info_get_process_current_virtual_used() + extra;
  if (setrlimit(RLIMIT_AS, &limited) != 0) return "cannot set the limit";
  d.split(2);
  const int n = d.n;
  bool recovered = false;
  const bool synthesized = run_split(facade, d, &recovered);
  if (recovered) kavu_merge_netlists(d.parts, d.loaded.get(), nullptr, d.boundaries);
  setrlimit(RLIMIT_AS, &unlimited);
  const bool merged_again = recovered && !d.parts.empty();
  if (merged_again) kavu_merge_netlists(d.parts, d.loaded.get(), nullptr, d.boundaries);
  kavu_delete_partition_on_reg_boundary(d.loaded.get());
  const std::string errors = posted_errors();
  for (size_t at = 0, end; (end = errors.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = errors.substr(at, end - at);
    if (line.find("not enough memory") == std::string::npos && line.find("cannot start a thread") == std::string::npos)
      return "a failure that is not for want of memory: " + line;
  }
  if (!recovered) return errors.empty() ? "a partition was lost without a word" : "refused";
  std::string why;
  if (!same_function(golden.get(), d.loaded.get(), &why)) return "the design's function changed: " + why;
  if (synthesized && n < 2) return "the design was not split";
  return synthesized ? "synthesized" : errors.empty() ? "recovered without a word" : "recovered";
}

}  // namespace

// A host's flow under an address-space limit, swept from no room at all
// above what the process holds to room enough, on two designs: at every
// point the host goes on, every failure says it wanted memory, and the
// design comes back with its function: synthesized, recovered from its
// kept copies, or with its partitions kept in memory for a merge once
// memory is back; a partition that cannot come back is said so. The read-
// ahead of results, the namespace archive's write and the other steps ended
// the host ("terminate called after throwing an instance of
// 'std::bad_alloc'"). KAVU_FULL_MEMORY_SWEEP=1 sweeps every megabyte up to
// 160; each design's outcomes by point are printed (s, r, f).
TEST(KavuParallelProcess, AFlowRefusedMemoryAtAnyPointKeepsTheDesign) {
#ifdef KAVU_UNDER_ASAN
  // The sanitizer's allocator and its own bookkeeping end the process where
  // the limit refuses them, before any std::bad_alloc.
  GTEST_SKIP() << "an address-space limit ends a sanitized process";
#endif
  FLOW_SCOPE scope;
  std::vector<size_t> mb = {0, 1, 4, 8, 12, 16, 20, 32, 64};
  if (std::getenv("KAVU_FULL_MEMORY_SWEEP")) {
    mb.clear();
    for (size_t m = 0; m <= 160; ++m) mb.push_back(m);
  }
  for (const char* design : {"seq/diffeq1", "seq/ch_intrinsics"}) {
    int synthesized = 0, failed = 0;
    std::string seen;  // the outcome at each point, for the log: s(ynthesized), r(ecovered), f (refused), ! (else)
    for (size_t m : mb) {
      SCOPED_TRACE(std::string(design) + ", " + std::to_string(m) + " MB left");
      const std::string outcome =
          in_child([&] { return flow_with_address_space_left(&scope.facade, design, m << 20, false); }, 120);
      synthesized += outcome == "synthesized";
      failed += outcome == "recovered" || outcome == "refused";
      seen += outcome == "synthesized" ? 's' : outcome == "recovered" ? 'r' : outcome == "refused" ? 'f' : '!';
      EXPECT_TRUE(outcome == "synthesized" || outcome == "recovered" || outcome == "refused") << outcome;
    }
    std::printf("%s, by MB left: %s\n", design, seen.c_str());
    std::fflush(stdout);
    // The sweep reaches from where the flow fails to where it synthesizes.
    EXPECT_GT(synthesized, 0) << design;
    EXPECT_GT(failed, 0) << design;
    // The same host after a flow: memory refused on the archive writers'
    // threads ended it, and on a helper's thread failed the run without a word.
    for (size_t m : {0, 1, 2, 4}) {
      SCOPED_TRACE(std::string(design) + ", after a flow, " + std::to_string(m) + " MB left");
      const std::string outcome =
          in_child([&] { return flow_with_address_space_left(&scope.facade, design, size_t(m) << 20, true); }, 120);
      EXPECT_TRUE(outcome == "synthesized" || outcome == "recovered" || outcome == "refused") << outcome;
    }
  }
}

// A flow refused beside another design's run says so once, whether it
// starts at partitioning (the README's) or at the split; each refused call
// (partitioning, split, write) said it again. A flow refused after one of
// the same design that went on is a new flow, told anew: its split said
// nothing when the last refusal told on the thread was of that design.
TEST(KavuParallelProcess, ARefusedFlowSaysSoOnce) {
  enum START { AT_PARTITIONING, AT_THE_SPLIT, AT_THE_SPLIT_AFTER_A_FLOW_THAT_WENT_ON };
  FLOW_SCOPE scope;
  for (const START start : {AT_PARTITIONING, AT_THE_SPLIT, AT_THE_SPLIT_AFTER_A_FLOW_THAT_WENT_ON}) {
    SCOPED_TRACE(start == AT_PARTITIONING ? "from partitioning"
                 : start == AT_THE_SPLIT  ? "from the split"
                                          : "from the split, after a flow that went on");
    EXPECT_EQ(in_child([&]() -> std::string {
                SPLIT_DESIGN refused("seq/diffeq1");
                auto partition = [&] {
                  KAVU_PARTITIONER().partition_on_reg_boundary(refused.loaded.get(), nullptr, partition_params(2), false);
                };
                if (start == AT_THE_SPLIT_AFTER_A_FLOW_THAT_WENT_ON) {
                  {
                    SPLIT_DESIGN earlier("seq/ch_intrinsics", 2);
                    partition();  // refused and told
                    earlier.merge_back(true);
                  }
                  partition();  // goes on
                  kavu_delete_partition_on_reg_boundary(refused.loaded.get());
                }
                SPLIT_DESIGN out("seq/ch_intrinsics", 2);  // its partitions are out
                msg_log_clear();
                if (start == AT_PARTITIONING) partition();
                kavu_get_partition_netlists(refused.parts, refused.loaded.get(), nullptr, nullptr, refused.boundaries,
                                            false);
                const bool written = kavu_parallel_serialize(&scope.facade, "map", 1, nullptr, refused.parts);
                int told = 0;
                for (const MSG_LOG_ENTRY& e : msg_log()) told += e.text.find(kRefusal) != std::string::npos;
                out.merge_back(true);
                if (written || !refused.parts.empty()) return "the refused flow went on";
                return told == 1 ? "" : "the refusal was told " + std::to_string(told) + " times";
              }),
              "");
  }
}

// KAVU_FULL_FORK_SWEEP=<flows>: a host runs that many flows one after the
// other on a thread of its own while its main thread forks a worker every
// few milliseconds (at most 6 alive), at whatever moment of a flow that
// falls, as a fork-based pool does; every worker runs its own flow in a
// directory of its own. None may hang (60 s) or fail, and every flow of the
// host synthesizes. Off by default (minutes); the stage rows above are the
// default run's share.
TEST(KavuParallelProcess, FullSweepWorkersForkedAtRandomMomentsOfRuns) {
  const char* flows_text = std::getenv("KAVU_FULL_FORK_SWEEP");
  if (!flows_text || std::atoi(flows_text) <= 0) GTEST_SKIP() << "set KAVU_FULL_FORK_SWEEP=<flows> to run";
  const int flows = std::atoi(flows_text);
  FLOW_SCOPE scope;
  std::atomic<bool> done{false};
  int host_failures = 0, workers = 0, failed = 0, hung = 0;
  std::thread host([&] {
    for (int k = 0; k < flows; ++k) {
      std::string errors;
      host_failures += !run_flow(&scope.facade, &errors);
    }
    done = true;
  });
  std::vector<std::pair<pid_t, std::chrono::steady_clock::time_point>> alive;
  auto reap = [&](bool all) {
    for (size_t i = 0; i < alive.size();) {
      int status = 0;
      pid_t r = waitpid(alive[i].first, &status, all ? 0 : WNOHANG);
      if (r == 0 && std::chrono::steady_clock::now() - alive[i].second > std::chrono::seconds(60)) {
        kill(alive[i].first, SIGKILL);
        waitpid(alive[i].first, &status, 0);
        ++hung;
        r = -1;
      } else if (r > 0) {
        failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      }
      if (r != 0) alive.erase(alive.begin() + long(i));
      else ++i;
    }
  };
  unsigned seed = 1;
  while (!done) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + (seed = seed * 1103515245u + 12345u) % 37));
    reap(false);
    if (alive.size() >= 6) continue;
    const pid_t pid = fork();
    if (pid == 0) _exit(run_workers_own_flow(&scope.facade).empty() ? 0 : 1);
    alive.emplace_back(pid, std::chrono::steady_clock::now());
    ++workers;
  }
  host.join();
  while (!alive.empty()) {
    reap(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::printf("%d host flows (%d failed), %d workers forked: %d failed, %d hung\n", flows, host_failures, workers,
              failed, hung);
  EXPECT_EQ(host_failures, 0);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(hung, 0);
}

#ifdef KAVU_UNDER_ASAN
extern "C" int __lsan_is_turned_off() { return g_no_leak_check.load() ? 1 : 0; }
#endif

// A host under a per-user process limit (RLIMIT_NPROC), run by an
// unprivileged user, whom the limit binds: the limit leaves `room`
// processes beyond what the user runs when the flow starts, the flow's own
// threads among them. Where room is left for the threads and one helper at
// a time, the helpers take turns and the design is synthesized; where
// less, the flow fails saying the process limit was reached, and the
// design comes back whole either way. Each helper took two processes and
// the failure said "No child processes".
TEST(KavuParallelProcess, AFlowUnderAProcessLimitTakesTurnsOrSaysSo) {
  const TESTKIT_PROCESS_LIMIT_ROWS one_at_a_time;
  FLOW_SCOPE scope;
  SCRATCH_REACHED_BY_ALL reached;
  const std::string dir = std::filesystem::absolute("process_limit_flow").string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  chmod(dir.c_str(), 0777);
  std::string seen;
  for (const int room : {2, 3, 4, 5, 6, 8}) {
    SCOPED_TRACE("room for " + std::to_string(room));
    // The user is one of these rows alone, so only the run's own processes
    // count against its limit; should another process of that id start or
    // end meanwhile all the same, a run that did not synthesize is tried
    // again, a few times.
    std::string outcome = "retry";
    for (int attempt = 0; attempt < 4 && outcome != "synthesized"; ++attempt)
      outcome = in_child([&]() -> std::string {
        if (chdir(dir.c_str()) != 0 || setgroups(0, nullptr) != 0 || setgid(kTestProcessLimitUser) != 0 ||
            setuid(kTestProcessLimitUser) != 0)
          return "cannot become the user";
        gen_set_db_dir_path(dir);
#ifdef KAVU_UNDER_ASAN
        // The sanitizer's leak check at a helper's end starts a thread of
        // its own, which the limit refuses, and aborts the helper for it.
        const char* asan = std::getenv("ASAN_OPTIONS");
        setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
#endif
        struct rlimit was {};
        getrlimit(RLIMIT_NPROC, &was);
        const long before = testkit_tasks_of_user(getuid());
        const struct rlimit nproc = {rlim_t(before + room), was.rlim_max};
        if (setrlimit(RLIMIT_NPROC, &nproc) != 0) return "cannot set the limit";
        const FLOW_OUTCOME out = run_design(&scope.facade);
        if (!out.synthesized && testkit_tasks_of_user(getuid()) != before) return "retry";
        if (!out.whole) return "the design did not come back whole: " + out.errors;
        if (out.synthesized) return "synthesized";
        if (out.errors.find("the process limit was reached (RLIMIT_NPROC ") != std::string::npos) return "limit";
        if (out.errors.find("cannot start a thread") != std::string::npos) return "thread";
        return "another failure: " + out.errors;
      }, 120);
    seen += outcome == "synthesized" ? 's' : outcome == "limit" ? 'l' : outcome == "thread" ? 't' : '!';
    EXPECT_TRUE(outcome == "synthesized" || outcome == "limit" || outcome == "thread") << outcome;
    // Room for the flow's threads and one process more: the two helpers
    // take turns.
    if (room >= 5) {
      EXPECT_EQ(outcome, "synthesized");
    }
  }
  std::printf("by room: %s\n", seen.c_str());
  std::filesystem::remove_all(dir);
}
