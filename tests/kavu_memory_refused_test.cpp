// Memory the system refuses, in the public calls the README's programs make
// and in the programs themselves.
//
// The calls, with their n-th allocation refused for every n in turn
// (kavu_ssc_test.cpp's operator new): each returns its own error, never
// std::bad_alloc, and leaves no damaged file and no broken netlist. Once
// the BLIF writer, the simulator, berkeley-abc's comparison, the netlist's
// check and the enable unmapping let std::bad_alloc out (the writer, refused
// while it named its temporary, removed the file it was to replace), and
// the programs ended with "terminate called after throwing an instance of
// 'std::bad_alloc'".
//
// The programs (the parallel example and the demonstration), run under an
// address-space limit at every megabyte from the least they load with to
// the least they finish with: each ends with status 0, or 1 after saying
// why, never by a signal, and leaves no damaged file. A full sweep
// (KAVU_FULL_MEMORY_SWEEP=1) takes the larger design too.
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>

#include "kavu_dff_helper.h"
#include "kavu_dff_helper_sync.h"
#include "kavu_helper_predicates.h"
#include "kavu_ssc_test_support.h"
#include "msg/msg.h"
#include "netlist_io/abc_oracle.h"
#include "netlist_io/blif.h"
#include "netlist_io/oracle_process.h"
#include "netlist_io/simulator.h"
#include "thr/thr_ipc.h"
#include "platform_testkit.h"

extern char** environ;

using namespace kavu_platform;
namespace fs = std::filesystem;

namespace {

bool full_sweep() {
  const char* full = std::getenv("KAVU_FULL_MEMORY_SWEEP");
  return full && std::string(full) == "1";
}

std::string text_of(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The names in the working directory.
std::vector<std::string> files_here() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::current_path())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool posted_out_of_memory() {
  msg_flush_pending();
  const std::vector<MSG_LOG_ENTRY> log = msg_log();
  return std::any_of(log.begin(), log.end(), [](const MSG_LOG_ENTRY& e) {
    return e.kind == MSG_LOG_ERROR && e.text.find("not enough memory") != std::string::npos;
  });
}

// Runs call() with its at-th allocation refused for at = 0, stride, ...
// until a call makes fewer; check(at, ok, refused) after each, and
// prepare(), when given, before each with nothing refused. A
// std::bad_alloc out of the call fails the row. Returns the number of calls
// a refusal reached.
long refuse_each_allocation(long stride, const std::function<bool()>& call,
                            const std::function<void(long at, bool ok, bool refused)>& check,
                            const std::function<void()>& prepare = {}) {
  long reached_calls = 0;
  for (long at = 0;; at += stride) {
    if (prepare) prepare();
    msg_log_clear();
    bool ok = false;
    g_refuse_countdown = at;
    try {
      ok = call();
    } catch (const std::bad_alloc&) {
      g_refuse_countdown = -1;
      ADD_FAILURE() << "std::bad_alloc out of the call at allocation " << at;
      continue;
    }
    const bool reached = g_refuse_countdown.exchange(-1) < 0;
    check(at, ok, reached);
    if (!reached) break;
    ++reached_calls;
    if (at > 400000) {
      ADD_FAILURE() << "the call never ran without a refusal";
      break;
    }
  }
  return reached_calls;
}

}  // namespace

// Each public call over a real design, memory refused at each allocation:
// its answer and its error as the row says, or its full result when no
// refusal was reached.
TEST(MemoryRefused, EachPublicCallFailsWithItsOwnError) {
  LOADED_NETLIST design = load_blif("seq/ch_intrinsics");
  LOADED_NETLIST small = load_blif("small/counter8_generic");
  ASSERT_TRUE(design && small);

  // The writer over a good file: refused, the file and the directory are as
  // they were (no temporary left beside it).
  {
    SCOPED_TRACE("blif_write_file");
    ASSERT_TRUE(blif_write_file(design.get(), "design.blif"));
    const std::string before = text_of("design.blif");
    const std::vector<std::string> names = files_here();
    std::string error;
    const long refused = refuse_each_allocation(
        1, [&] { return blif_write_file(small.get(), "design.blif", {}, &error); },
        [&](long at, bool ok, bool reached) {
          EXPECT_EQ(ok, !reached) << at;
          if (reached) {
            EXPECT_NE(error.find("design.blif: cannot write the file: not enough memory"), std::string::npos)
                << "allocation " << at << ": \"" << error << "\"";
            EXPECT_EQ(text_of("design.blif"), before) << "allocation " << at;
            EXPECT_EQ(files_here(), names) << "allocation " << at;
          }
        });
    EXPECT_GT(refused, 20);
    BLIF_RESULT back = blif_read_file("design.blif");
    ASSERT_TRUE(back.netlist) << back.error;
    EXPECT_TRUE(sim_equivalent(back.netlist, small.get()));
    delete back.netlist;
    delete back.hierarchy;
  }

  // The simulator: refused, false and why.
  {
    SCOPED_TRACE("sim_equivalent");
    LOADED_NETLIST other = load_blif("small/counter8_generic");
    std::string why;
    const long refused = refuse_each_allocation(
        1, [&] { return sim_equivalent(small.get(), other.get(), {}, &why); },
        [&](long at, bool ok, bool reached) {
          EXPECT_EQ(ok, !reached) << at;
          if (reached) {
            EXPECT_EQ(why, "not enough memory to simulate the netlists") << "allocation " << at;
          }
        });
    EXPECT_GT(refused, 20);
  }

  // The netlist's check: refused, false and why (not a broken invariant).
  {
    SCOPED_TRACE("CDB_SGATE_NETLIST::check");
    std::string why;
    const long refused = refuse_each_allocation(
        1, [&] { return small->check(&why); },
        [&](long at, bool ok, bool reached) {
          EXPECT_EQ(ok, !reached) << at;
          if (reached) {
            EXPECT_EQ(why, "not enough memory to check the netlist") << "allocation " << at;
          }
        });
    EXPECT_GT(refused, 20);
  }

  // The enable unmapping (registers with enables and synchronous clears;
  // the README's design with a full sweep): refused, it says so and leaves
  // a netlist whole and of the same function, each register's enable
  // moved or not.
  std::vector<std::string> unmapped{"small/shift_en_sclr_generic", "small/async_regs_generic"};
  if (full_sweep()) unmapped.push_back("seq/ch_intrinsics");
  for (const std::string& name : unmapped) {
    SCOPED_TRACE("kavu_unmap_all_enables on " + name);
    LOADED_NETLIST golden = load_blif(name);
    LOADED_NETLIST copy;
    const long refused = refuse_each_allocation(
        1,
        [&] {
          kavu_unmap_all_enables(copy.get());
          return true;
        },
        [&](long at, bool, bool reached) {
          if (reached) {
            EXPECT_TRUE(posted_out_of_memory()) << "allocation " << at << " refused without a word";
          }
          std::string why;
          EXPECT_TRUE(copy->check(&why)) << "allocation " << at << ": " << why;
          EXPECT_TRUE(sim_equivalent(golden.get(), copy.get(), {}, &why)) << "allocation " << at << ": " << why;
        },
        [&] { copy = load_blif(name); });
    EXPECT_GT(refused, 5);
  }
}

// berkeley-abc's comparison: refused, an error saying so (a refusal a
// lower layer takes in its stride may still give the verdict), abc ended
// and its directory gone. Every seventh allocation: each point that abc
// is reached starts it.
TEST(MemoryRefused, AbcComparisonIsAnError) {
  if (abc_binary_path().empty()) GTEST_SKIP() << "berkeley-abc is not installed";
  LOADED_NETLIST a = load_blif("small/counter8_generic");
  LOADED_NETLIST b = load_blif("small/counter8_generic");
  ASSERT_TRUE(a && b);
  const fs::path tmp = fs::current_path() / "tmp";
  fs::create_directory(tmp);
  const char* was = std::getenv("TMPDIR");
  const std::string tmpdir = was ? was : "";
  setenv("TMPDIR", tmp.c_str(), 1);
  std::string log;
  ABC_RESULT result = ERROR;
  const long refused = refuse_each_allocation(
      full_sweep() ? 1 : 7,
      [&] {
        result = abc_equivalent(a.get(), b.get(), &log);
        return result == EQUIVALENT;
      },
      [&](long at, bool ok, bool reached) {
        EXPECT_TRUE(ok || reached) << at << ": " << abc_result_name(result) << " " << log;
        if (!ok) {
          EXPECT_EQ(result, ERROR) << "allocation " << at << ": " << log;
          EXPECT_NE(log.find("not enough memory"), std::string::npos) << "allocation " << at << ": " << log;
        }
        EXPECT_TRUE(fs::is_empty(tmp)) << "allocation " << at << ": abc's directory is left";
      });
  if (was) setenv("TMPDIR", tmpdir.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_GT(refused, 5);
}

// Under AddressSanitizer the programs are not run under a limit (below).
#ifndef KAVU_UNDER_ASAN
namespace {

// A program run under an address-space limit, in a directory of its own.
struct LIMITED_RUN {
  int status = 0;  // as waitpid gives it
  std::string out, err;
};

// Runs argv (with `env`) in a child process in `dir`, its address space
// limited to `mib` MiB, standard output and error to files there.
LIMITED_RUN run_limited(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& dir,
                        long mib) {
  // Everything the child uses is made before the fork: it allocates nothing.
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const std::string out = (dir / "stdout.log").string(), err = (dir / "stderr.log").string();
  const rlimit limit{rlim_t(mib) << 20, rlim_t(mib) << 20};
  const pid_t child = fork();
  if (child == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || chdir(dir.c_str()) != 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
        setrlimit(RLIMIT_AS, &limit) != 0)
      _exit(120);
    execve(args[0], args.data(), envp.data());
    _exit(121);
  }
  LIMITED_RUN run;
  waitpid(child, &run.status, 0);
  run.out = text_of(out);
  run.err = text_of(err);
  return run;
}

std::string describe(const LIMITED_RUN& run) {
  std::string how = WIFSIGNALED(run.status) ? "killed by signal " + std::to_string(WTERMSIG(run.status))
                                            : "status " + std::to_string(WEXITSTATUS(run.status));
  return how + "; standard output:\n" + run.out + "standard error:\n" + run.err;
}

// Below the least the program runs with: the loader could not map a
// library, or Tcl, set up as the platform library loads (before main()),
// was refused memory and ended the process itself ("unable to alloc N
// bytes", Tcl's own end, which no caller can answer; a debug build meets it
// at the lowest limits its libraries map under).
bool not_loaded(const LIMITED_RUN& run) {
  if (WIFEXITED(run.status) && WEXITSTATUS(run.status) == 127)
    return run.err.find("error while loading shared libraries") != std::string::npos;
  return WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGABRT && run.out.empty() &&
         run.err.rfind("unable to alloc ", 0) == 0;
}

}  // namespace
#endif

// The README's programs on real designs, under every address-space limit
// from the least they load with up to the least they finish with (one
// megabyte apart): each ends with status 0, or 1 after saying why; never by
// a signal ("terminate called after throwing an instance of
// 'std::bad_alloc'" ended them at some limits, the BLIF writer, the enable
// unmapping or the simulator refused memory), and the file they write is
// whole or absent, no temporary left beside it.
TEST(MemoryRefused, ReadmeProgramsUnderAnAddressSpaceLimit) {
#ifdef KAVU_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit here";
#else
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "PATH=", 5) != 0 && std::strncmp(*e, "KAVU_INI_SET=", 13) != 0) env.push_back(*e);
  // The parallel example finds its helpers on PATH, the build's first.
  env.push_back(std::string("PATH=" KAVU_HELPER_DIR ":") + (getenv("PATH") ? getenv("PATH") : ""));
  struct ROW {
    const char* program;
    const char* design;
  };
  std::vector<ROW> rows{{KAVU_DEMO_PROGRAM, "seq/ch_intrinsics"}, {KAVU_PARALLEL_MAP_EXAMPLE_BUILT, "seq/ch_intrinsics"}};
  if (full_sweep()) rows.push_back({KAVU_PARALLEL_MAP_EXAMPLE_BUILT, "seq/diffeq1"});
  for (const ROW& row : rows) {
    const std::string name = fs::path(row.program).filename().string() + " on " + row.design;
    SCOPED_TRACE(name);
    const std::string design = blif_data_path(row.design);
    long limits = 0;
    bool finished = false;
    for (long mib = 4; mib <= 512 && !finished; ++mib) {
      const fs::path dir = fs::current_path() / (name + " " + std::to_string(mib));
      fs::create_directories(dir / "db");
      const LIMITED_RUN run = run_limited({row.program, design, "out.blif"}, env, dir, mib);
      if (not_loaded(run)) {
        fs::remove_all(dir);
        continue;
      }
      ++limits;
      SCOPED_TRACE(std::to_string(mib) + " MiB: " + describe(run));
      EXPECT_EQ(run.err.find("terminate called"), std::string::npos);
      if (!WIFEXITED(run.status) || WEXITSTATUS(run.status) > 1) {
        ADD_FAILURE() << "ended by a signal or with a status past 1";
        fs::remove_all(dir);
        continue;
      }
      finished = WEXITSTATUS(run.status) == 0;
      // Status 1 after a reason: the program's own line on standard error,
      // or the library's error ("Error (0): …", on standard output).
      if (!finished) {
        EXPECT_TRUE(!run.err.empty() || run.out.find("Error (") != std::string::npos) << "status 1 without a word";
      }
      // The written file, whole or absent; nothing beside it.
      if (fs::exists(dir / "out.blif")) {
        BLIF_RESULT back = blif_read_file((dir / "out.blif").string());
        EXPECT_TRUE(back.netlist) << back.error;
        delete back.netlist;
        delete back.hierarchy;
      } else {
        EXPECT_FALSE(finished) << "status 0 without the file";
      }
      for (const auto& entry : fs::directory_iterator(dir))  // a write's temporary: "<target>.tmp<pid>_<k>"
        EXPECT_EQ(entry.path().filename().string().find("out.blif.tmp"), std::string::npos) << entry.path();
      fs::remove_all(dir);
    }
    EXPECT_TRUE(finished) << "never finished within 512 MiB";
    EXPECT_GT(limits, 3) << "too few limits in the band";
  }
#endif
}


namespace {

// What a call must leave as it found it, refused or not: the process's
// descriptors, the thread's signal mask (its end signals held back would
// never end it at Ctrl-C) and children (none left running or unreaped).
struct PROCESS_STATE {
  int descriptors = 0;
  sigset_t mask;
  std::string children;

  static PROCESS_STATE now() {
    PROCESS_STATE s;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) s.descriptors += entry.path() != "" ? 1 : 0;
    pthread_sigmask(SIG_SETMASK, nullptr, &s.mask);
    for (const auto& task : fs::directory_iterator("/proc/self/task")) s.children += text_of(task.path() / "children");
    return s;
  }
  // What differs from `was`, "" when nothing does; the mask is put back.
  std::string changed_from(const PROCESS_STATE& was) const {
    std::string what;
    if (descriptors != was.descriptors) what += "descriptors " + std::to_string(was.descriptors) + " -> " + std::to_string(descriptors) + "; ";
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGPIPE})
      if (sigismember(&mask, sig) != sigismember(&was.mask, sig)) {
        what += std::string("signal mask of ") + strsignal(sig) + " changed; ";
        pthread_sigmask(SIG_SETMASK, &was.mask, nullptr);
      }
    if (children != was.children) what += "children left: " + children + "; ";
    return what;
  }
};

}  // namespace

// The BLIF writer, refused at each allocation, over each kind of target it
// writes (renamed over, through a link, created beside, in place): the old
// text or its absence as it was, nothing new beside it, and no descriptor
// left open nor end signal left held back. Once a refusal between an open
// and its hand-over left the descriptor open (and, through a dangling
// link, the file it made), and one while the temporary was named left the
// thread's end signals blocked.
TEST(MemoryRefused, WriterLeavesTheProcessAsItWas) {
  LOADED_NETLIST design = load_blif("seq/stereovision3");
  LOADED_NETLIST small = load_blif("small/counter8_generic");
  ASSERT_TRUE(design && small);
  // Under /tmp, which `nobody` may reach.
  const fs::path base = fs::path("/tmp") / ("kavu_refused_writes_" + std::to_string(getpid()));
  fs::remove_all(base);
  fs::create_directories(base);
  fs::permissions(base, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
  // Each row's directory, the name written and the file that name holds.
  struct ROW {
    const char* name;
    const char* target;
    const char* watched;
    bool as_nobody;
  };
  const ROW rows[] = {
      {"renamed over", "f.blif", "f.blif", false},
      {"through a link", "link.blif", "real.blif", false},
      {"through a dangling link", "dangling.blif", "none.blif", false},
      {"a new file", "new.blif", "new.blif", false},
      {"one of two names, in place", "a.blif", "a.blif", false},
      {"own file in a directory not writable, in place", "f.blif", "f.blif", true},
  };
  for (const ROW& row : rows) {
    SCOPED_TRACE(row.name);
    const fs::path dir = base / row.name;
    fs::create_directories(dir);
    const std::string target = (dir / row.target).string();
    const fs::path watched = dir / row.watched;
    if (std::string(row.target) == "link.blif") fs::create_symlink("real.blif", dir / "link.blif");
    if (std::string(row.target) == "dangling.blif") fs::create_symlink("none.blif", dir / "dangling.blif");
    if (std::string(row.target) != "new.blif" && std::string(row.target) != "dangling.blif") {
      ASSERT_TRUE(blif_write_file(design.get(), watched.string()));
    }
    if (std::string(row.target) == "a.blif") fs::create_hard_link(dir / "a.blif", dir / "b.blif");
    if (row.as_nobody) {
      ASSERT_EQ(chown(watched.c_str(), 65534, 65534), 0);
      fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
    }
    // Counts the refused writes that left something changed; the first
    // one's account goes to standard error.
    auto sweep = [&]() -> int {
      const bool existed = fs::exists(watched);
      const std::string before = existed ? text_of(watched) : "";
      const std::vector<std::string> names = [&] {
        std::vector<std::string> v;
        for (const auto& e : fs::directory_iterator(dir)) v.push_back(e.path().filename().string());
        std::sort(v.begin(), v.end());
        return v;
      }();
      int bad = 0;
      for (long at = 0;; ++at) {
        const PROCESS_STATE was = PROCESS_STATE::now();
        std::string error;
        g_refuse_countdown = at;
        bool ok = false;
        try {
          ok = blif_write_file(small.get(), target, {}, &error);
        } catch (const std::bad_alloc&) {
          error = "std::bad_alloc out of the call";
        }
        if (g_refuse_countdown.exchange(-1) >= 0) return ok ? bad : bad + 1000;  // ran whole: the last
        std::vector<std::string> now;
        for (const auto& e : fs::directory_iterator(dir)) now.push_back(e.path().filename().string());
        std::sort(now.begin(), now.end());
        std::string what = PROCESS_STATE::now().changed_from(was);
        if (ok || error.find("cannot write the file: not enough memory") == std::string::npos) what += "error \"" + error + "\"; ";
        if (fs::exists(watched) != existed || (existed && text_of(watched) != before)) what += "the file changed; ";
        if (now != names) what += "the directory's names changed; ";
        if (!what.empty() && bad++ == 0) fprintf(stderr, "allocation %ld: %s\n", at, what.c_str());
        if (at > 100000) return bad + 1000;
      }
    };
    if (!row.as_nobody) {
      EXPECT_EQ(sweep(), 0);
      continue;
    }
    const pid_t child = fork();
    if (child == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(120);
      int bad = 121;
      try {
        bad = std::min(sweep(), 119);
      } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", e.what());
      }
      _exit(bad);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  }
  fs::remove_all(base);
}

// A peer program's start, refused at each allocation: memory refused goes
// on to the caller (std::bad_alloc) with no pipe left open, the end signals
// as they were and no child left running or unreaped; unrefused, the peer
// runs. Once the group's entry, made after the end signals were held back
// and the child had started, left them held back, the pipe open and the
// child unrecorded.
TEST(MemoryRefused, PeerStartLeavesTheProcessAsItWas) {
  for (long at = 0;; ++at) {
    const PROCESS_STATE was = PROCESS_STATE::now();
    ORACLE_OUTPUT output;
    ORACLE_END end;
    g_refuse_countdown = at;
    bool refused = false;
    try {
      end = oracle_run_peer({"/bin/sh", "-c", "echo peer"}, "", 60, &output);
    } catch (const std::bad_alloc&) {
      refused = true;
    }
    const bool reached = g_refuse_countdown.exchange(-1) < 0;
    EXPECT_EQ(PROCESS_STATE::now().changed_from(was), "") << "allocation " << at;
    if (!reached) {
      EXPECT_EQ(end.status, 0);
      EXPECT_EQ(output.text(), "peer\n");
      EXPECT_GT(at, 3);
      break;
    }
    EXPECT_TRUE(refused || end.status != 0 || output.text() == "peer\n") << "allocation " << at;
    ASSERT_LT(at, 10000);
  }
}

// A helper that closed its download pipe after its first answer, so that
// the next request's write meets a broken pipe, refused memory at each
// allocation of the run: whatever the run says, the thread's signal mask
// is given back as it was. Once the reason's text was made while SIGPIPE
// was blocked around the write: a refusal there left it blocked, with the
// broken pipe's SIGPIPE pending, which ended the process as soon as the
// mask was put back.
TEST(MemoryRefused, AHelperRunGivesTheSignalMaskBack) {
  CFG_SCOPE cfg{{"parallel_pipe_timeout_s", "5"}};
  const std::string script = (fs::current_path() / "closes_its_download_pipe.sh").string();
  std::ofstream(script) << "exec 3<\"$2\"; exec 4>\"$3\"; read cmd k <&3\n"
                           "exec 3<&-; echo \"DONE 0 0\" >&4; exec sleep 30\n";
  long reached_calls = 0;
  for (long at = 0;; ++at) {
    THR_NAMED_PIPE dl{"dl_pipeT0XXXXXX"}, ul{"ul_pipeT0XXXXXX"};
    THR_NAMED_PIPE* dls[1] = {&dl};
    THR_NAMED_PIPE* uls[1] = {&ul};
    ASSERT_TRUE(dl.create());
    ASSERT_TRUE(ul.create_r());
    const PROCESS_STATE was = PROCESS_STATE::now();
    THR_PROCESS_EXIT_CODE code;
    g_refuse_countdown = at;
    try {
      IPC_COMMAND ipc;
      ipc.run_argv_with_named_pipe({"/bin/sh", script, "--helper=0", dl.get_path(), ul.get_path()}, ".", &code, true,
                                   dls, uls, 1, 2);
    } catch (const std::bad_alloc&) {
    }
    const bool reached = g_refuse_countdown.exchange(-1) < 0;
    const std::string changed = PROCESS_STATE::now().changed_from(was);
    EXPECT_EQ(changed.find("signal mask"), std::string::npos) << "allocation " << at << ": " << changed;
    ipc_end_run(dls);
    dl.remove();
    ul.remove();
    if (!reached) {
      EXPECT_NE(code.m_reason.find("the helper closed its download pipe"), std::string::npos) << code.m_reason;
      break;
    }
    ++reached_calls;
    ASSERT_LT(at, 20000);
  }
  EXPECT_GT(reached_calls, 3);
  fs::remove(script);
}
