// Jobs, named pipes, helper processes and the netlist archives.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>

#include "cdb/cdb_sgate.h"
#include "cdb/cdb_sgate_netlist_pdb.h"
#include "cdb/cdb_sgate_removed_regs.h"
#include "netlist_io/blif.h"
#include "netlist_io/simulator.h"
#include "pdb/pdb.h"
#include "platform_testkit.h"
#include "thr/thr_ipc.h"

using namespace kavu_platform;

TEST(ThrJob, TasksRunOnceEachOnAtMostTheThreadsAsked) {
  struct CASE {
    int threads, tasks;
  } cases[] = {{0, 3}, {1, 5}, {2, 5}, {4, 2}, {8, 64}};
  for (const CASE& c : cases) {
    static std::atomic<int> running, peak, done[64];
    running = 0;
    peak = 0;
    for (auto& d : done) d = 0;
    auto fn = [](void* arg) {
      int now = ++running;
      for (int p = peak; now > p && !peak.compare_exchange_weak(p, now);) {
      }
      usleep(1000);
      ++done[reinterpret_cast<intptr_t>(arg)];
      --running;
    };
    PUT_SPMD_JOB_VOID_PTR* job = PUT_SPMD_JOB_VOID_PTR::create_job(fn, c.threads, false, nullptr, nullptr);
    for (intptr_t i = 0; i < c.tasks; ++i) job->add_task(reinterpret_cast<void*>(i));
    job->run();
    PUT_SPMD_JOB_VOID_PTR::destroy_job(job);
    for (int i = 0; i < c.tasks; ++i) EXPECT_EQ(done[i], 1) << c.threads << " threads, task " << i;
    EXPECT_LE(peak, std::max(1, c.threads));
  }
}

TEST(ThrJob, ProcessorManagerHonoursLimitAndKey) {
  EXPECT_EQ(PUT_PROCESSOR_MANAGER::get_max_threads(1), 1);
  CFG_SCOPE cfg{{"put_max_threads", "2"}};
  EXPECT_LE(PUT_PROCESSOR_MANAGER::get_max_threads(0x7fffffff), 2);
  EXPECT_GE(PUT_PROCESSOR_MANAGER::get_max_threads(0x7fffffff), 1);
}

TEST(ThrNamedPipe, TemplatesGetDistinctFifosInAPrivateDirectory) {
  const std::string dir = thr_get_pipe_dir();
  ASSERT_FALSE(dir.empty());
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::set<std::string> names;
  std::vector<std::unique_ptr<THR_NAMED_PIPE>> pipes;
  for (int i = 0; i < 20; ++i) {
    pipes.emplace_back(new THR_NAMED_PIPE("dl_pipeTEST0XXXXXX"));
    ASSERT_TRUE(i % 2 ? pipes.back()->create_r() : pipes.back()->create());
    names.insert(pipes.back()->get_name());
    ASSERT_EQ(stat(pipes.back()->get_path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
  }
  EXPECT_EQ(names.size(), 20u);
  // A fixed name that exists cannot be made twice; the error code says why.
  THR_NAMED_PIPE same(pipes[0]->get_name());
  EXPECT_FALSE(same.create());
  EXPECT_EQ(same.get_error_code(), EEXIST);
  for (auto& p : pipes) EXPECT_TRUE(p->remove());
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  thr_remove_pipe_dir();
  EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(IpcCommand, ExitStatusArgumentsAndMissingPrograms) {
  // "test" succeeds only when each quoted word arrives as one argument.
  struct CASE {
    std::vector<std::string> argv;
    bool started;
    int error;
  } cases[] = {
      {{"true"}, true, 0},
      {{"false"}, true, 1},
      {{"test", "a project", "=", "a project"}, true, 0},
      {{"test", "dir/part 1", "=", "dir/part 1"}, true, 0},
      {{"no_such_helper_program_kavu"}, false, 0},
  };
  for (const CASE& c : cases) {
    IPC_COMMAND ipc;
    THR_PROCESS_EXIT_CODE code;
    EXPECT_EQ(ipc.run_argv_with_named_pipe(c.argv, ".", &code, false, nullptr, nullptr, 1, 1), c.started)
        << c.argv[0];
    if (c.started) {
      EXPECT_EQ(code.m_error, c.error) << c.argv[0];
    }
  }
  // The text form splits on blanks, without a shell: no expansion happens.
  IPC_COMMAND ipc;
  THR_PROCESS_EXIT_CODE code;
  EXPECT_TRUE(ipc.run_with_named_pipe("test $HOME = $HOME", ".", false, &code, "", false, false, nullptr, nullptr,
                                      1, 1));
  EXPECT_EQ(code.m_error, 0);
  EXPECT_EQ(ipc_live_helper_count(), 0);
}

TEST(IpcCommand, PipeHelperThatNeverOpensTimesOutAndIsKilled) {
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "1"}};
  THR_NAMED_PIPE dl("dl_pipeT0XXXXXX"), ul("ul_pipeT0XXXXXX");
  ASSERT_TRUE(dl.create());
  ASSERT_TRUE(ul.create_r());
  THR_NAMED_PIPE* dls[] = {&dl};
  THR_NAMED_PIPE* uls[] = {&ul};
  IPC_COMMAND ipc;
  THR_PROCESS_EXIT_CODE code;
  EXPECT_TRUE(ipc.run_argv_with_named_pipe({"sleep", "30"}, ".", &code, true, dls, uls, 1, 1));
  EXPECT_NE(code.m_error, 0);
  EXPECT_EQ(code.m_reason, "timeout");
  EXPECT_EQ(ipc_live_helper_count(), 0);
  EXPECT_TRUE(dl.remove());
  EXPECT_TRUE(ul.remove());
}

TEST(NetlistArchive, RoundTripKeepsFunctionNumbersAndNames) {
  for (const std::string& name : bundled_circuits({"seq", "small"})) {
    SCOPED_TRACE(name);
    LOADED_NETLIST nl = load_blif(name);
    std::set<unsigned> numbers;
    for (CDB_SGATE_NODE* n : nl->get_node_list()) numbers.insert(n->get_debug_number());
    bool archived = true;
    {
      PDB_ARCHIVE a;
      a.open("net", PDB_ARCHIVE::PDB_WRITE);
      void* p = nl.get();
      try {
        pdb_write_ptr(a, "", "cdb", &cdb_sgate_netlist_ptr_field, &p, 0, -1, 0);
        a.close();
      } catch (const PDB_DATABASE_EXCEPTION& e) {
        // Every gate kind of the database is carried: a refusal is a fault.
        ADD_FAILURE() << e.what();
        archived = false;
      }
    }
    if (!archived) continue;
    PDB_ARCHIVE r;
    r.open("net", PDB_ARCHIVE::PDB_READ);
    void* q = nullptr;
    pdb_read_ptr(r, "", "cdb", &cdb_sgate_netlist_ptr_field, &q, nullptr, "");
    std::unique_ptr<CDB_SGATE_NETLIST> back(static_cast<CDB_SGATE_NETLIST*>(q));
    ASSERT_TRUE(back);
    back->prepare_for_use();
    std::set<unsigned> numbers_back;
    for (CDB_SGATE_NODE* n : back->get_node_list()) numbers_back.insert(n->get_debug_number());
    EXPECT_EQ(numbers, numbers_back);
    EXPECT_GT(CDB_SGATE_NODE::s_debug_counter.load(), *numbers.rbegin());
    std::string report;
    EXPECT_TRUE(back->check(&report)) << report;
    ASSERT_KAVU_EQUIVALENT(nl.get(), back.get());
  }
}

TEST(NetlistArchive, DamagedRecordsAreRefusedWithoutCrash) {
  LOADED_NETLIST nl = load_blif("seq/diffeq1");
  PDB_ARCHIVE a;
  a.open("net", PDB_ARCHIVE::PDB_WRITE);
  void* p = nl.get();
  pdb_write_ptr(a, "", "cdb", &cdb_sgate_netlist_ptr_field, &p, 0, -1, 0);
  std::vector<uint8_t> payload = *a.find_record("", "cdb");
  a.close();
  for (size_t cut : {payload.size() / 2, payload.size() - 3, size_t(10)}) {
    PDB_ARCHIVE w;
    w.open("bad", PDB_ARCHIVE::PDB_WRITE);
    w.put_record("", "cdb", std::vector<uint8_t>(payload.begin(), payload.begin() + long(cut)));
    w.close();
    PDB_ARCHIVE r;
    r.open("bad", PDB_ARCHIVE::PDB_READ);
    void* q = nullptr;
    EXPECT_THROW(pdb_read_ptr(r, "", "cdb", &cdb_sgate_netlist_ptr_field, &q, nullptr, ""), PDB_DATABASE_EXCEPTION);
    EXPECT_EQ(q, nullptr);
  }
}

TEST(RemovedRegisters, ArchiveRoundTripAndMerge) {
  auto* m = CDB_SGATE_REMOVED_REGISTERS_MANAGER::get_instance();
  CDB_SGATE_REMOVED_REGISTERS_DB* db = m->create_removed_reg_db("reg_db_x_0", 5000, 5000);
  ASSERT_TRUE(m->set_current_removed_reg_db("reg_db_x_0"));
  db->add_fanoutless("top|a");
  db->add_stuck("top|b");
  db->add_merged("top|c");
  PDB_ARCHIVE a;
  a.open("regs", PDB_ARCHIVE::PDB_WRITE);
  void* p = db;
  pdb_write_ptr(a, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &p, 0, -1, 0);
  a.close();
  PDB_ARCHIVE r;
  r.open("regs", PDB_ARCHIVE::PDB_READ);
  void* q = nullptr;
  pdb_read_ptr(r, "", "cdb", &cdb_sgate_removed_regs_ptr_field, &q, nullptr, "");
  std::unique_ptr<CDB_SGATE_REMOVED_REGISTERS_DB> back(static_cast<CDB_SGATE_REMOVED_REGISTERS_DB*>(q));
  CDB_SGATE_REMOVED_REGISTERS_DB total("main");
  total.merge_with(back.get());
  total.merge_with(back.get());
  EXPECT_EQ(total.get_fanoutless_count(), 2);
  EXPECT_EQ(total.get_stuck_count(), 2);
  EXPECT_EQ(total.get_merged_count(), 2);
  EXPECT_EQ(total.get_names().size(), 6u);
  EXPECT_EQ(m->get_current_removed_reg_db(), db);
}
