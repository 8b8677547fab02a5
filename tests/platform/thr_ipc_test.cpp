// Jobs, named pipes, helper processes and the netlist archives.
#include <gtest/gtest.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

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

// A helper's log another user's run left in a shared directory does not
// keep this user's helper from starting: it is replaced where the
// directory allows, else the helper runs without a log (it was "cannot
// start …: Permission denied").
TEST(IpcCommand, AnotherUsersHelperLogDoesNotStopAHelper) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  char scratch[] = "/tmp/kavu_ipc_log_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  for (const mode_t mode : {mode_t(0777), mode_t(01777)}) {  // shared; shared and sticky
    SCOPED_TRACE(mode);
    ASSERT_EQ(chmod(scratch, mode), 0);
    const std::string log = std::string(scratch) + "/helper_0.log";
    std::filesystem::remove(log);
    std::ofstream(log) << "root's run\n";
    chmod(log.c_str(), 0644);
    const pid_t pid = fork();
    if (pid == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
      IPC_COMMAND ipc;
      THR_PROCESS_EXIT_CODE code;
      const bool started = ipc.run_argv_with_named_pipe({"true", "--helper=0"}, scratch, &code, false, nullptr,
                                                        nullptr, 1, 1);
      _exit(started && code.m_error == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << (WEXITSTATUS(status) == 3 ? "cannot become nobody" : "refused");
    struct stat st = {};
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, mode & S_ISVTX ? 0u : 65534u);  // the sticky directory keeps root's log
  }
  std::filesystem::remove_all(scratch);
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
  EXPECT_EQ(code.m_reason.rfind("the helper timed out after 1 s", 0), 0u) << code.m_reason;
  EXPECT_EQ(ipc_live_helper_count(), 0);
  EXPECT_TRUE(dl.remove());
  EXPECT_TRUE(ul.remove());
  ipc_end_run(dls);
}

namespace {

// A helper script in the scratch directory, run by /bin/sh with its helper option
// and the paths of its download and upload pipes as $1, $2 and $3.
std::string write_script(const std::string& name, const std::string& body) {
  std::ofstream(name) << body;
  return (std::filesystem::current_path() / name).string();
}

// The script of a well-behaved helper: answers every "RUN k" until "EXIT".
const char* const kGoodHelper =
    "exec 3<\"$2\"; exec 4>\"$3\"\n"
    "while read cmd k <&3; do\n"
    "  [ \"$cmd\" = EXIT ] && exit 0\n"
    "  echo \"MSG info 0 ran $k\" >&4; echo \"DONE $k 0\" >&4\n"
    "done\n";

struct PIPE_PAIR {
  THR_NAMED_PIPE dl{"dl_pipeT0XXXXXX"}, ul{"ul_pipeT0XXXXXX"};
  THR_NAMED_PIPE* dls[1] = {&dl};
  THR_NAMED_PIPE* uls[1] = {&ul};
  PIPE_PAIR() {
    EXPECT_TRUE(dl.create());
    EXPECT_TRUE(ul.create_r());
  }
  ~PIPE_PAIR() {
    dl.remove();
    ul.remove();
  }
};

bool run_script(const std::string& script, PIPE_PAIR* pipes, int partitions, THR_PROCESS_EXIT_CODE* code) {
  IPC_COMMAND ipc;
  std::vector<std::string> argv = {"/bin/sh", script, "--helper=0"};
  if (pipes) {
    argv.push_back(pipes->dl.get_path());
    argv.push_back(pipes->ul.get_path());
  }
  return ipc.run_argv_with_named_pipe(argv, ".", code, pipes != nullptr, pipes ? pipes->dls : nullptr,
                                      pipes ? pipes->uls : nullptr, 1, partitions);
}

// Runs fn in a child process whose memory is limited (address space, where
// no sanitizer reserves its shadow) and which a watchdog alarm ends: a hang
// or unbounded growth shows as a child that did not finish. Returns fn's
// text, or why the child did not finish.
bool in_bounded_child(const std::function<std::string()>& fn, std::string* out) {
  int report[2];
  if (pipe(report) != 0) return false;
  // The pipes' directory is made here, so the child uses the parent's and
  // the parent removes it at its exit (the child ends with _exit).
  thr_get_pipe_dir();
  pid_t pid = fork();
  if (pid == 0) {
    close(report[0]);
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KAVU_TEST_SANITIZED 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) && !defined(KAVU_TEST_SANITIZED)
    struct rlimit lim = {size_t(3) << 30, size_t(3) << 30};
    setrlimit(RLIMIT_AS, &lim);
#endif
    alarm(15);  // far beyond the 1 s timeout of every case
    std::string text = fn();
    ssize_t ignored = write(report[1], text.data(), text.size());
    (void)ignored;
    _exit(0);
  }
  close(report[1]);
  char buf[512];
  ssize_t n;
  out->clear();
  while ((n = read(report[0], buf, sizeof buf)) > 0) out->append(buf, size_t(n));
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *out = WIFSIGNALED(status) ? "child ended by signal " + std::to_string(WTERMSIG(status)) : "child failed";
  return false;
}

}  // namespace

TEST(IpcCommand, HostileHelpersFailWithinTheTimeoutAndBoundedMemory) {
  // Each helper takes "RUN 0" and then misbehaves; every case must end as
  // that helper's failure, with its reason and exit code, no helper left
  // and the parent alive (SIGPIPE included). Two partitions are offered:
  // a helper that fails is given no further one.
  constexpr int kAny = -1000;  // any non-zero code
  struct CASE {
    const char* name;
    bool pipes;
    const char* body;    // after the pipes are opened and the request read
    const char* reason;  // the reason starts with this
    int code;            // the helper's exit code as reported (128 + signal for a signal)
    int answered;        // partitions answered "DONE k 0"
    int partition;       // the partition reported failed
    int runs;            // times the case is run (a race shows in some runs only)
  } cases[] = {
      // Endless messages used to restart the deadline with every line.
      {"spam", true, "while :; do echo \"MSG info 0 spam\" >&4; done\n", "the helper timed out after 1 s", kAny, 0, 0, 1},
      // Bytes without a newline used to grow the buffer without bound.
      {"long", true, "tr '\\000' a </dev/zero >&4\n", "the helper gave a bad answer: a line longer", kAny, 0, 0, 1},
      // End of file on the upload pipe with a live helper used to loop forever.
      {"close_ul", true, "echo \"MSG info 0 hi\" >&4; exec 4>&-; exec sleep 30\n",
       "the helper closed its upload pipe without answering", kAny, 0, 0, 1},
      {"silent", true, "exec 4>&-; exec sleep 30\n", "the helper timed out after 1 s", kAny, 0, 0, 1},
      // Writing the next request to a helper that closed its download pipe
      // raised SIGPIPE.
      {"close_dl", true, "exec 3<&-; echo \"DONE 0 0\" >&4; exec sleep 30\n", "the helper closed its download pipe",
       kAny, 1, 1, 1},
      {"bad", true, "echo \"DONE 7 0\" >&4; exec sleep 30\n", "the helper gave a bad answer: \"DONE 7 0\"", kAny, 0, 0,
       1},
      // A garbage answer is shown escaped: no terminal escape reaches the user.
      {"garbage", true, "printf 'x\\033[2J\\033]0;t\\007\"\\\\y\\n' >&4; exec sleep 30\n",
       "the helper gave a bad answer: \"x\\x1b[2J\\x1b]0;t\\x07\\\"\\\\y\"", kAny, 0, 0, 1},
      // A positive code used to count as success.
      {"code5", true, "echo \"DONE 0 5\" >&4; exec sleep 30\n", "the helper reported code 5", kAny, 0, 0, 1},
      {"code_said", true, "echo \"MSG error 0 the disk is full\" >&4; echo \"DONE 0 11\" >&4; exec sleep 30\n",
       "the helper reported code 11: the disk is full", kAny, 0, 0, 1},
      // A helper that answers and then exits 3 on its next partition used to
      // be judged at the end of file, before it was reaped, in most runs.
      {"exit3_later", true, "echo \"DONE 0 0\" >&4; read cmd k <&3; exit 3\n",
       "the helper exited with status 3 without answering", 3, 1, 1, 8},
      {"abort_pipes", true, "kill -ABRT $$\n", "the helper was killed by signal 6 (SIGABRT) without answering", 134, 0,
       0, 1},
      // A non-zero exit after "EXIT" used to be ignored.
      {"exit_after", true, "echo \"DONE 0 0\" >&4; read cmd k <&3; echo \"DONE 1 0\" >&4; read cmd k <&3; exit 4\n",
       "the helper exited with status 4 after its last answer", 4, 2, -1, 1},
      // Without pipes the same timeout bounds the helper's whole run.
      {"hang", false, "exec sleep 30\n", "the helper timed out after 1 s", 137, 0, 0, 1},
      {"abort", false, "kill -ABRT $$\n", "the helper was killed by signal 6 (SIGABRT)", 134, 0, 0, 1},
      {"exit3", false, "exit 3\n", "the helper exited with status 3", 3, 0, 0, 1},
  };
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "1"}};
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string prologue = c.pipes ? "exec 3<\"$2\"; exec 4>\"$3\"; read cmd k <&3\n" : "";
    const std::string script = write_script(std::string(c.name) + ".sh", prologue + c.body);
    for (int run = 0; run < c.runs; ++run) {
      std::string out;
      ASSERT_TRUE(in_bounded_child(
          [&]() {
            PIPE_PAIR pipes;
            THR_PROCESS_EXIT_CODE code;
            const bool started = run_script(script, c.pipes ? &pipes : nullptr, 2, &code);
            const int answered = c.pipes ? ipc_end_run(pipes.dls) : 0;
            const int shown = c.code == kAny && code.m_error != 0 ? kAny : code.m_error;
            return std::string(started ? "started" : "not started") + "|" + std::to_string(shown) + "|" +
                   std::to_string(code.m_partition) + "|" + std::to_string(ipc_live_helper_count()) + "|" +
                   std::to_string(answered) + "|" + code.m_reason;
          },
          &out))
          << out;
      EXPECT_EQ(out.substr(0, out.rfind('|') + 1), "started|" + std::to_string(c.code) + "|" +
                                                       std::to_string(c.partition) + "|0|" +
                                                       std::to_string(c.answered) + "|")
          << out;
      EXPECT_NE(out.find(std::string("|") + c.reason), std::string::npos) << out;
    }
  }
  // The queue of helper messages is bounded too.
  EXPECT_LE(ipc_take_helper_messages().size(), 10001u);
}

// A helper that writes many message lines and its answer in one write: the
// parent's line buffer drops the lines it has read in bulk and must go on
// scanning where it stopped.
TEST(IpcCommand, MessagesAndAnswerInOneLargeWriteAllArrive) {
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "5"}};
  for (const int lines : {60, 300, 1500}) {  // about 4, 20 and 100 KiB
    SCOPED_TRACE(std::to_string(lines) + " lines");
    thr_ipc_test_reset();
    {
      std::ofstream batch("batch.txt");
      for (int i = 0; i < lines; ++i) batch << "MSG info 0 line " << i << " of a long report from the helper\n";
      batch << "DONE 0 0\n";
    }
    // cat writes the file in one write (up to its buffer), the answer last.
    const std::string script = write_script(
        "batch.sh", "exec 3<\"$2\"; exec 4>\"$3\"; read cmd k <&3; cat batch.txt >&4; read cmd k <&3; exit 0\n");
    PIPE_PAIR pipes;
    THR_PROCESS_EXIT_CODE code;
    ASSERT_TRUE(run_script(script, &pipes, 1, &code));
    EXPECT_EQ(code.m_error, 0) << code.m_reason;
    EXPECT_EQ(ipc_end_run(pipes.dls), 1);
    const std::vector<std::string> got = ipc_take_helper_messages();
    ASSERT_EQ(got.size(), size_t(lines));
    for (int i = 0; i < lines; ++i)
      EXPECT_EQ(got[size_t(i)], "info 0 line " + std::to_string(i) + " of a long report from the helper");
  }
}

// Once a helper of a run has failed, no helper of that run is given another
// partition: the run ends instead of synthesizing what will be thrown away.
TEST(IpcCommand, AfterOneHelperFailsTheOthersAreServedNoMore) {
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "5"}};
  const std::string good = write_script("good.sh", kGoodHelper);
  const std::string failing = write_script(
      "fails_first.sh", "exec 3<\"$2\"; exec 4>\"$3\"; read cmd k <&3; echo \"DONE $k 2\" >&4; exec sleep 30\n");
  THR_NAMED_PIPE* dls[2];
  THR_NAMED_PIPE* uls[2];
  for (int i = 0; i < 2; ++i) {
    dls[i] = new THR_NAMED_PIPE("dl_pipeT" + std::to_string(i) + "XXXXXX");
    uls[i] = new THR_NAMED_PIPE("ul_pipeT" + std::to_string(i) + "XXXXXX");
    ASSERT_TRUE(dls[i]->create() && uls[i]->create_r());
  }
  thr_ipc_test_reset();
  IPC_COMMAND ipc;
  THR_PROCESS_EXIT_CODE first, second;
  ASSERT_TRUE(ipc.run_argv_with_named_pipe({"/bin/sh", failing, "--helper=0", dls[0]->get_path(), uls[0]->get_path()},
                                           ".", &first, true, dls, uls, 2, 4));
  EXPECT_EQ(first.m_reason, "the helper reported code 2");
  EXPECT_EQ(first.m_partition, 0);
  // The second helper of the same run starts after the failure: it is told
  // to leave at once and runs nothing.
  ASSERT_TRUE(ipc.run_argv_with_named_pipe({"/bin/sh", good, "--helper=1", dls[1]->get_path(), uls[1]->get_path()},
                                           ".", &second, true, dls, uls, 2, 4));
  EXPECT_EQ(second.m_error, 0) << second.m_reason;
  EXPECT_EQ(ipc_end_run(dls), 0);
  EXPECT_TRUE(ipc_take_helper_messages().empty());
  EXPECT_EQ(ipc_live_helper_count(), 0);
  for (int i = 0; i < 2; ++i) {
    dls[i]->remove();
    uls[i]->remove();
    delete dls[i];
    delete uls[i];
  }
}

// Memory refused on one helper's serving thread (the flow's memory guard
// takes the std::bad_alloc) while another helper of the run is served: the
// refused helper ends, reaped with its keeper; the other is given no
// further partition and ends as asked; nothing is left to the host.
TEST(IpcCommand, MemoryRefusedForOneHelperEndsItAndTheOthersAsAsked) {
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "10"}};
  // Each answer takes a moment, so that the refusal is told before the
  // other helper could answer the run's last partition.
  const std::string good = write_script("good_slow.sh",
                                        "exec 3<\"$2\"; exec 4>\"$3\"\n"
                                        "while read cmd k <&3; do\n"
                                        "  [ \"$cmd\" = EXIT ] && exit 0\n"
                                        "  sleep 0.1; echo \"DONE $k 0\" >&4\n"
                                        "done\n");
  thr_get_pipe_dir();
  const std::string result = run_in_child_as(0, "", [&]() -> std::string {
    THR_NAMED_PIPE* dls[2];
    THR_NAMED_PIPE* uls[2];
    for (int i = 0; i < 2; ++i) {
      dls[i] = new THR_NAMED_PIPE("dl_pipeM" + std::to_string(i) + "XXXXXX");
      uls[i] = new THR_NAMED_PIPE("ul_pipeM" + std::to_string(i) + "XXXXXX");
      if (!dls[i]->create() || !uls[i]->create_r()) return "no pipes";
    }
    thr_ipc_test_reset();
    std::atomic<bool> thrown{false};
    ipc_set_answer_listener(dls, [&](int) {
      if (!thrown.exchange(true)) throw std::bad_alloc();
    });
    THR_PROCESS_EXIT_CODE codes[2];
    bool started[2] = {false, false};
    std::atomic<int> refused{-1};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i)
      threads.emplace_back([&, i] {
        IPC_COMMAND ipc;
        try {
          started[i] = ipc.run_argv_with_named_pipe(
              {"/bin/sh", good, "--helper=" + std::to_string(i), dls[i]->get_path(), uls[i]->get_path()}, ".",
              &codes[i], true, dls, uls, 2, 6);
        } catch (const std::bad_alloc&) {
          refused = i;
        }
      });
    for (std::thread& t : threads) t.join();
    const int answered = ipc_end_run(dls);
    for (int i = 0; i < 2; ++i) {
      dls[i]->remove();
      uls[i]->remove();
    }
    if (refused < 0) return "no helper was refused memory";
    const int other = 1 - refused;
    std::string text = "the other ";
    text += started[other] && codes[other].m_error == 0 ? "ended as asked" : "failed: " + codes[other].m_reason;
    // Each helper's partition in hand when the refusal came, and one the
    // other may take while it is told.
    text += answered <= 3 ? ", no partition after" : ", " + std::to_string(answered) + " partitions answered";
    text += ipc_live_helper_count() == 0 ? ", none live" : ", some live";
    int status;
    text += waitpid(-1, &status, WNOHANG | __WALL) < 0 && errno == ECHILD ? ", no child" : ", a child left";
    return text;
  });
  EXPECT_EQ(result, "the other ended as asked, no partition after, none live, no child");
}

namespace {

// True while the process runs (a zombie counts as gone).
bool process_alive(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  size_t close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

}  // namespace

// A helper started through a script has children of its own; when the
// helper fails, they end with it instead of outliving the run.
TEST(IpcCommand, AFailedHelperTakesItsChildrenAlong) {
  struct CASE {
    const char* name;
    bool pipes;
    const char* body;  // after the helper started a child that writes its pid to child.pid
  } cases[] = {
      {"timeout", false, "exec sleep 30\n"},
      {"timeout_pipes", true, "exec sleep 30\n"},
      {"exit3", false, "exit 3\n"},
      {"exit3_pipes", true, "exit 3\n"},
  };
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "1"}};
  for (const CASE& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove("child.pid");
    const std::string prologue = c.pipes ? "exec 3<\"$2\"; exec 4>\"$3\"; read cmd k <&3\n" : "";
    const std::string script =
        write_script(std::string("family_") + c.name + ".sh",
                     prologue + "sleep 30 </dev/null >/dev/null 2>&1 3>&- 4>&- & echo $! > child.pid\n" + c.body);
    PIPE_PAIR pipes;
    THR_PROCESS_EXIT_CODE code;
    ASSERT_TRUE(run_script(script, c.pipes ? &pipes : nullptr, 1, &code));
    if (c.pipes) ipc_end_run(pipes.dls);
    EXPECT_NE(code.m_error, 0);
    int child = 0;
    std::ifstream("child.pid") >> child;
    ASSERT_GT(child, 0);
    for (int i = 0; i < 200 && process_alive(child); ++i) usleep(10000);
    EXPECT_FALSE(process_alive(child));
    if (process_alive(child)) kill(child, SIGKILL);
  }
}

// The timeout must be a positive number of seconds: no helper is started
// under a timeout of 0 or below.
TEST(IpcCommand, ATimeoutThatIsNotPositiveIsRefused) {
  for (const char* value : {"0", "-5"}) {
    SCOPED_TRACE(value);
    CFG_SCOPE cfg{{"parallel_pipe_timeout_s", value}};
    std::filesystem::remove("ran.txt");
    const std::string script = write_script("ran.sh", "echo ran > ran.txt\n");
    THR_PROCESS_EXIT_CODE code;
    EXPECT_FALSE(run_script(script, nullptr, 1, &code));
    EXPECT_EQ(code.m_reason, std::string("the key \"parallel_pipe_timeout_s\" is ") + value +
                                 "; it must be a positive number of seconds");
    EXPECT_FALSE(std::filesystem::exists("ran.txt"));
  }
}

TEST(IpcCommand, AnUnservedRunLeavesNoDispatcherForTheNextRun) {
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "2"}};
  const std::string good = write_script("good.sh", kGoodHelper);
  const std::string failing = write_script("failing.sh", "exit 3\n");
  THR_NAMED_PIPE* dls[2];
  THR_NAMED_PIPE* uls[2];
  auto make = [&]() {
    for (int i = 0; i < 2; ++i) {
      dls[i] = new THR_NAMED_PIPE("dl_pipeT" + std::to_string(i) + "XXXXXX");
      uls[i] = new THR_NAMED_PIPE("ul_pipeT" + std::to_string(i) + "XXXXXX");
      ASSERT_TRUE(dls[i]->create() && uls[i]->create_r());
    }
  };
  auto drop = [&]() {
    for (int i = 0; i < 2; ++i) {
      dls[i]->remove();
      uls[i]->remove();
      delete dls[i];
      delete uls[i];
    }
  };
  // A run of two helpers whose first fails; the second is never started.
  make();
  IPC_COMMAND ipc;
  THR_PROCESS_EXIT_CODE code;
  ASSERT_TRUE(ipc.run_argv_with_named_pipe({"/bin/sh", failing, "--helper=0"}, ".", &code, true, dls, uls, 2, 3));
  EXPECT_NE(code.m_error, 0);
  EXPECT_EQ(ipc_end_run(dls), 0);
  EXPECT_EQ(ipc_dispatch_count(), 0);
  drop();
  // The next run, with its pipes in the same array, is served in full.
  make();
  std::thread other([&]() {
    IPC_COMMAND ipc1;
    THR_PROCESS_EXIT_CODE code1;
    EXPECT_TRUE(ipc1.run_argv_with_named_pipe({"/bin/sh", good, "--helper=1", dls[1]->get_path(), uls[1]->get_path()},
                                              ".", &code1, true, dls, uls, 2, 3));
    EXPECT_EQ(code1.m_error, 0) << code1.m_reason;
  });
  ASSERT_TRUE(ipc.run_argv_with_named_pipe({"/bin/sh", good, "--helper=0", dls[0]->get_path(), uls[0]->get_path()},
                                           ".", &code, true, dls, uls, 2, 3));
  other.join();
  EXPECT_EQ(code.m_error, 0) << code.m_reason;
  EXPECT_EQ(ipc_end_run(dls), 3);
  EXPECT_EQ(ipc_take_helper_messages().size(), 3u);
  drop();
}

extern "C" void exit_42(int) { _exit(42); }

TEST(IpcCommand, NoHelperOutlivesItsParent) {
  // The parent killed (SIGKILL: the kernel ends its helper) or told to end
  // (SIGINT, SIGTERM, SIGHUP: it dies of the signal and leaves no pipe
  // directory in TMPDIR, which it left); a handler of its own (exit 42)
  // still runs after the directory is removed.
  const std::string script = write_script("stay.sh", "echo $$ > stay.pid; exec sleep 30\n");
  const std::string tmp = std::filesystem::absolute("parent_tmp").string();
  thr_remove_pipe_dir();  // the child makes a directory of its own
  for (int sig : {SIGKILL, SIGINT, SIGTERM, SIGHUP, -SIGTERM}) {
    const bool own_handler = sig < 0;
    sig = std::abs(sig);
    std::filesystem::remove("stay.pid");
    std::filesystem::create_directory(tmp);
    pid_t parent = fork();
    if (parent == 0) {
      signal(sig, own_handler ? exit_42 : SIG_DFL);
      setenv("TMPDIR", tmp.c_str(), 1);
      thr_get_pipe_dir();
      IPC_COMMAND ipc;
      THR_PROCESS_EXIT_CODE code;
      ipc.run_argv_with_named_pipe({"/bin/sh", script}, ".", &code, false, nullptr, nullptr, 1, 1);
      _exit(0);
    }
    int helper = 0;
    for (int i = 0; i < 1000 && !helper; ++i) {
      std::ifstream("stay.pid") >> helper;
      if (!helper) usleep(10000);
    }
    kill(parent, sig);
    int status = 0;
    waitpid(parent, &status, 0);
    ASSERT_GT(helper, 0);
    if (own_handler) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42) << "the caller's handler of " << sig;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    }
    if (sig != SIGKILL) {
      EXPECT_TRUE(std::filesystem::is_empty(tmp)) << "the pipe directory was left; signal " << sig;
    }
    // Gone (or a zombie waiting for its new parent to reap it) soon after.
    auto alive = [&]() {
      std::ifstream stat("/proc/" + std::to_string(helper) + "/stat");
      std::string line;
      if (!std::getline(stat, line)) return false;
      size_t close = line.rfind(')');
      return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
    };
    for (int i = 0; i < 500 && alive(); ++i) usleep(10000);
    EXPECT_FALSE(alive()) << sig;
    if (alive()) kill(helper, SIGKILL);
    std::filesystem::remove_all(tmp);
  }
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
